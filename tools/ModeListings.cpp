#include "tools/ModeListings.h"

#include <QApplication>
#include <initializer_list>

#include "app/ErrorTrap.h"
#include "platform/DateTimeText.h"
#include "platform/MwlError.h"
#include "platform/his/FieldText.h"
#include "tools/ScopeExit.h"
#include "tools/TextBoxText.h"
#include "worklist/BaseSql.h"
#include "worklist/TalvekStatement.h"

namespace {

QString Field(const Recordset& record, const char* name) {
    return DisplayText(record.Field(QLatin1String(name)));
}

// The order's day without its time; an order without a readable date ends
// the listing.
QString DatePart(const Recordset& record) {
    const QVariant value = record.Field(QStringLiteral("TranD"));
    const auto when = ReadDateAndTime(value);
    if (!when) throw MwlError(QStringLiteral("TranD '%1' is not a date.").arg(FieldText(value)));
    return DisplayText(when->date);
}

QString NameField(const Recordset& record) {
    const QString last = Field(record, "MLN");
    return last + QLatin1Char('^') + Field(record, "MFN") + QStringLiteral("^^");
}

// Every field, the first included, follows " , ".
QString Joined(std::initializer_list<QString> fields) {
    QString line;
    for (const QString& field : fields) line += QStringLiteral(" , ") + field;
    return line;
}

QString TalvekLine(const Recordset& r) {
    return Joined({Field(r, "RequestNum"), QStringLiteral("TALVEK"), NameField(r), Field(r, "HN"),
                   Field(r, "MASBirthDate"), Field(r, "MASS"), Field(r, "IDN"),
                   Field(r, "RequestNum"), Field(r, "DocName"), Field(r, "ProcCode"),
                   Field(r, "ProcDesc"), Field(r, "DocName"), DatePart(r), Field(r, "IDN")});
}

QString CorvanteLine(const Recordset& r) {
    return Joined({Field(r, "TranD"), Field(r, "RequestNum"), Field(r, "HN"), NameField(r),
                   Field(r, "MASBirthDate"), Field(r, "MASS")});
}

QString OrvellineLine(const Recordset& r) {
    return Joined({Field(r, "RequestNum"), DatePart(r), NameField(r), Field(r, "HN"),
                   Field(r, "MASBirthDate"), Field(r, "MASS"), Field(r, "DocName"),
                   Field(r, "ProcCode"), Field(r, "ProcDesc"), Field(r, "TranD"),
                   Field(r, "branch_code")});
}

}  // namespace

ModeListings::ModeListings(HisConnection& his, ActivityLog& log, StatusView& status,
                           const ServiceState& state, ListingControls controls,
                           FolderListing ListHL7Folder, Sink showMessage, Yield yield)
    : m_his(his),
      m_log(log),
      m_status(status),
      m_state(state),
      m_controls(controls),
      m_listHL7Folder(std::move(ListHL7Folder)),
      m_showMessage(std::move(showMessage)),
      m_yield(std::move(yield)) {}

void ModeListings::cmdTest_Click() {
    m_log.Replace(QString());
    Guarded([this] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const ScopeExit restore([] { QApplication::restoreOverrideCursor(); });
        m_yield();
        const QString& mode = m_state.ConnectionMode;
        if (mode == Modes::Talvek)
            ListTalvekOrders();
        else if (mode == Modes::Pelta)
            ListPeltaOrders();
        else if (mode == Modes::Corvante)
            ListCorvanteOrders();
        else if (mode == Modes::Bramwoods)
            m_listHL7Folder([this](const QString& text) { AppendToBox(m_controls.Text1, text); },
                            m_showMessage);
        else if (mode == Modes::Orvelline)
            ListOrvellineOrders();
    });
}

void ModeListings::cmdDoneExams_Click() {
    m_log.Replace(QString());
    if (m_state.ConnectionMode != Modes::Corvante) return;
    Guarded([this] {
        const QString sql = CorvanteDoneExamsSql();
        m_yield();
        LogRecords(sql, CorvanteLine, false);
    });
}

void ModeListings::ListTalvekOrders() {
    const QString sql =
        MakeSQL(m_controls.txtModality.text(), QString()) + QStringLiteral(" order by trand desc ");
    m_status.ShowSql(sql);
    const std::unique_ptr<Recordset> records = m_his.Execute(sql);
    m_controls.Logger.hide();
    const ScopeExit show([this] { m_controls.Logger.show(); });
    LogLines(*records, TalvekLine, true);
}

void ModeListings::ListPeltaOrders() {
    m_yield();
    LogRecords(m_state.BaseSQL, TalvekLine, false);
}

void ModeListings::ListCorvanteOrders() {
    m_status.ShowSql(m_state.BaseSQL);
    m_yield();
    LogRecords(m_state.BaseSQL, CorvanteLine, false);
}

// The statement built here is the one run: a query answered during the yield
// puts its own statement into the SQL box.
void ModeListings::ListOrvellineOrders() {
    const QString sql = m_state.BaseSQL + QStringLiteral(" LIMIT 50 ");
    m_status.ShowSql(sql);
    m_yield();
    LogRecords(sql, OrvellineLine, true);
}

void ModeListings::LogRecords(const QString& sql, LineOf line, bool yieldPerRecord) {
    const std::unique_ptr<Recordset> records = m_his.Execute(sql);
    LogLines(*records, line, yieldPerRecord);
}

void ModeListings::LogLines(Recordset& records, LineOf line, bool yieldPerRecord) {
    while (!records.Eof()) {
        m_log.Log(line(records));
        records.MoveNext();
        if (yieldPerRecord) m_yield();
    }
}

void ModeListings::Guarded(const std::function<void()>& listing) {
    m_controls.cmdTest.setEnabled(false);
    m_controls.cmdDoneExams.setEnabled(false);
    const ScopeExit enable([this] {
        m_controls.cmdTest.setEnabled(true);
        m_controls.cmdDoneExams.setEnabled(true);
    });
    Trapped(listing, [this](const QString& why) {
        m_log.Log(why);
        m_his.Reopen();
    });
}
