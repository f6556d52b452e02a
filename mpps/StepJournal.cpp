#include "mpps/StepJournal.h"

#include <QFile>

#include "platform/MwlError.h"
#include "platform/his/OdbcConnectionString.h"

namespace {

// Text columns shown in the window and the listings are cut to their size;
// the write-back reads the attributes themselves.
constexpr int kShortText = 255;

QString Columns(const QString& text, const QString& longText) {
    return QStringLiteral(
               "sop_instance_uid %1(64) not null primary key, state %1(16) not null, "
               "calling_ae %1(16) not null, accession_numbers %1(255), patient_name %1(255), "
               "patient_id %1(64), station_ae %1(16), created_at %1(23) not null, "
               "updated_at %1(23) not null, version integer not null, written_state %1(16), "
               "written_items integer not null, pending integer not null, note %1(255), "
               "claim_owner %1(40), claim_until %1(23), attributes %2 not null")
        .arg(text, longText);
}

QStringList CreateStatements(std::optional<SqlDialect> dialect) {
    const QString table = QStringLiteral("mpps_journal");
    switch (dialect.value_or(SqlDialect::Sqlite)) {
        case SqlDialect::MySql:
            return {QStringLiteral("create table if not exists %1 (%2, index mpps_journal_pending "
                                   "(pending))")
                        .arg(table, Columns(QStringLiteral("varchar"), QStringLiteral("mediumtext")))};
        case SqlDialect::SqlServer:
            return {QStringLiteral("if object_id(N'%1', N'U') is null create table %1 (%2)")
                        .arg(table, Columns(QStringLiteral("nvarchar"), QStringLiteral("nvarchar(max)"))),
                    QStringLiteral("if not exists (select 1 from sys.indexes where name = "
                                   "N'mpps_journal_pending') create index mpps_journal_pending on "
                                   "%1 (pending)")
                        .arg(table)};
        case SqlDialect::Sqlite:
            break;
    }
    return {QStringLiteral("create table if not exists %1 (%2)")
                .arg(table, Columns(QStringLiteral("varchar"), QStringLiteral("text"))),
            QStringLiteral("create index if not exists mpps_journal_pending on %1 (pending)")
                .arg(table)};
}

QVariant TextOrNull(const QString& text) {
    if (text.isNull()) return QVariant(QMetaType::fromType<QString>());
    return text;
}

QVariant StateOrNull(const std::optional<StepState>& state) {
    return state ? QVariant(StepStateText(*state)) : TextOrNull(QString());
}

QString Text(const Recordset& row, const char* column) {
    return row.Field(QLatin1String(column)).toString();
}

QDateTime TimeOf(const QString& text) {
    return QDateTime(QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd")),
                     QTime::fromString(text.mid(11), QStringLiteral("HH:mm:ss.zzz")), Qt::UTC);
}

// The values every row of a step shows: its state and what identifies it.
SqlParameters Shown(const PerformedStep& step) {
    return {{QStringLiteral("Uid"), step.instanceUid},
            {QStringLiteral("State"), StepStateText(step.state)},
            {QStringLiteral("Accessions"), step.Accessions().join(QLatin1Char('\\')).left(kShortText)},
            {QStringLiteral("PatientName"), step.PatientName().left(kShortText)},
            {QStringLiteral("PatientId"), step.PatientId().left(64)},
            {QStringLiteral("Station"), step.Station().left(16)},
            {QStringLiteral("Updated"), StepJournal::TimeText(step.updated)},
            {QStringLiteral("Attributes"), QString::fromLatin1(step.attributes.ToBytes().toBase64())}};
}

}  // namespace

QString StepJournal::TimeText(const QDateTime& when) {
    return when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

void StepJournal::CreateFileFor(const QString& connectionString) {
    const QString file = OdbcConnectionString(connectionString).SqliteFile();
    if (file.isEmpty() || QFile::exists(file)) return;
    QFile created(file);
    if (!created.open(QIODevice::WriteOnly))
        throw MwlError(QStringLiteral("The MPPS journal %1 cannot be created: %2")
                           .arg(file, created.errorString()));
}

std::unique_ptr<Recordset> StepJournal::Run(const QString& sql, const SqlParameters& parameters) {
    return m_db.Execute(sql, parameters);
}

void StepJournal::Ready() {
    m_db.EnsureCurrent();
    if (!m_db.IsOpen())
        throw MwlError(QStringLiteral("The MPPS journal cannot be opened."),
                       FailureKind::HisNotAvailable);
    Prepare();
}

void StepJournal::Prepare() {
    for (const QString& statement : CreateStatements(m_db.Dialect())) Run(statement, {});
}

std::optional<PerformedStep> StepJournal::Find(const QString& instanceUid) {
    const auto row = Run(QStringLiteral("select * from mpps_journal where sop_instance_uid = :Uid"),
                         {{QStringLiteral("Uid"), instanceUid}});
    if (row->Eof()) return std::nullopt;
    return StepOf(*row);
}

bool StepJournal::Insert(const PerformedStep& step) {
    SqlParameters values = Shown(step);
    values << qMakePair(QStringLiteral("CallingAe"), QVariant(step.callingAeTitle.left(16)))
           << qMakePair(QStringLiteral("Created"), QVariant(TimeText(step.created)))
           << qMakePair(QStringLiteral("Version"), QVariant(step.version));
    try {
        Run(QStringLiteral(
                "insert into mpps_journal (sop_instance_uid, state, calling_ae, accession_numbers, "
                "patient_name, patient_id, station_ae, created_at, updated_at, version, "
                "written_state, written_items, pending, note, claim_owner, claim_until, "
                "attributes) values (:Uid, :State, :CallingAe, :Accessions, :PatientName, "
                ":PatientId, :Station, :Created, :Updated, :Version, null, 0, 1, null, null, "
                "null, :Attributes)"),
            values);
    } catch (const MwlError&) {
        // The key was taken (by another server, perhaps): a duplicate, not a failure.
        if (Find(step.instanceUid)) return false;
        throw;
    }
    return true;
}

bool StepJournal::Update(const PerformedStep& step, qint64 versionRead) {
    SqlParameters values = Shown(step);
    values << qMakePair(QStringLiteral("Version"), QVariant(step.version))
           << qMakePair(QStringLiteral("VersionRead"), QVariant(versionRead));
    const auto changed = Run(
        QStringLiteral("update mpps_journal set state = :State, accession_numbers = :Accessions, "
                       "patient_name = :PatientName, patient_id = :PatientId, station_ae = "
                       ":Station, updated_at = :Updated, attributes = :Attributes, version = "
                       ":Version, pending = case when written_state = :State then 0 else 1 end "
                       "where sop_instance_uid = :Uid and version = :VersionRead"),
        values);
    return changed->RowsChanged() == 1;
}

bool StepJournal::Claim(const QString& instanceUid, const QString& owner, const QDateTime& now,
                        std::chrono::seconds hold) {
    const auto claimed = Run(
        QStringLiteral("update mpps_journal set claim_owner = :Owner, claim_until = :Until where "
                       "sop_instance_uid = :Uid and pending = 1 and (claim_owner is null or "
                       "claim_until < :Now)"),
        {{QStringLiteral("Owner"), owner},
         {QStringLiteral("Until"), TimeText(now.addSecs(hold.count()))},
         {QStringLiteral("Uid"), instanceUid},
         {QStringLiteral("Now"), TimeText(now)}});
    return claimed->RowsChanged() == 1;
}

void StepJournal::Progress(const PerformedStep& step, const QString& owner) {
    Run(QStringLiteral("update mpps_journal set written_state = :Written, written_items = :Items, "
                       "note = :Note, pending = case when state = :Written then 0 else 1 end "
                       "where sop_instance_uid = :Uid and claim_owner = :Owner"),
        {{QStringLiteral("Written"), StateOrNull(step.written)},
         {QStringLiteral("Items"), step.writtenItems},
         {QStringLiteral("Note"), TextOrNull(step.note.left(kShortText))},
         {QStringLiteral("Uid"), step.instanceUid},
         {QStringLiteral("Owner"), owner}});
}

void StepJournal::Release(const QString& instanceUid, const QString& owner) {
    Run(QStringLiteral("update mpps_journal set claim_owner = null, claim_until = null where "
                       "sop_instance_uid = :Uid and claim_owner = :Owner"),
        {{QStringLiteral("Uid"), instanceUid}, {QStringLiteral("Owner"), owner}});
}

QStringList StepJournal::Due(const QDateTime& now) {
    const auto rows = Run(QStringLiteral("select sop_instance_uid from mpps_journal where pending = "
                                         "1 and (claim_owner is null or claim_until < :Now) "
                                         "order by updated_at"),
                          {{QStringLiteral("Now"), TimeText(now)}});
    QStringList due;
    for (; !rows->Eof(); rows->MoveNext()) due << Text(*rows, "sop_instance_uid");
    return due;
}

std::vector<PerformedStep> StepJournal::Latest(int count) {
    const auto rows = Run(QStringLiteral("select * from mpps_journal order by updated_at desc"), {});
    rows->LimitRemaining(count);
    std::vector<PerformedStep> latest;
    for (; !rows->Eof() && static_cast<int>(latest.size()) < count; rows->MoveNext())
        latest.push_back(StepOf(*rows));
    return latest;
}

PerformedStep StepJournal::StepOf(const Recordset& row) {
    PerformedStep step;
    step.instanceUid = Text(row, "sop_instance_uid");
    step.state = StepStateFrom(Text(row, "state")).value_or(StepState::InProgress);
    step.callingAeTitle = Text(row, "calling_ae");
    const QByteArray bytes = QByteArray::fromBase64(Text(row, "attributes").toLatin1());
    const std::optional<DicomDataset> attributes = DicomDataset::FromBytes(bytes);
    if (!attributes)
        throw MwlError(QStringLiteral("The journal's attributes of step %1 cannot be read.")
                           .arg(step.instanceUid));
    step.attributes = *attributes;
    step.created = TimeOf(Text(row, "created_at"));
    step.updated = TimeOf(Text(row, "updated_at"));
    step.version = row.Field(QStringLiteral("version")).toLongLong();
    step.written = StepStateFrom(Text(row, "written_state"));
    step.writtenItems = row.Field(QStringLiteral("written_items")).toInt();
    step.note = Text(row, "note");
    return step;
}
