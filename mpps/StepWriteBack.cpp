#include "mpps/StepWriteBack.h"

#include <QDir>
#include <QFileInfo>

#include "platform/MoveFile.h"
#include "platform/MwlError.h"
#include "platform/his/HisScope.h"
#include "worklist/SourceFor.h"
#include "worklist/bramwoods/OrderFileCache.h"
#include "worklist/bramwoods/OrderFileSource.h"

namespace {

// A free name in the folder: the file's own, else "name-2.HL7", "name-3.HL7", ...
QString FreeName(const QString& folder, const QString& name) {
    const QFileInfo info(name);
    QString candidate = name;
    for (int n = 2; QFileInfo::exists(folder + candidate); ++n)
        candidate = QStringLiteral("%1-%2.%3").arg(info.completeBaseName()).arg(n).arg(info.suffix());
    return candidate;
}

}  // namespace

QString StepWriteBack::StatementFor(StepState state, const WorklistSource& source) const {
    if (const std::optional<QString>& set = m_settings.Statement(state)) return *set;
    return state == StepState::Completed ? source.DefaultCompletedStatement() : QString();
}

QString StepWriteBack::Run(const PerformedStep& step, StepState state,
                           const QuerySnapshot& snapshot, const QueryBudget& budget,
                           const std::function<void(int)>& itemDone) {
    const WorklistSource& source = SourceFor(snapshot.mode);
    if (source.OrdersAreFiles())
        return state == StepState::Completed ? MoveOrderFiles(step, snapshot)
                                             : QStringLiteral("order files left in place");
    const QString statement = StatementFor(state, source);
    if (statement.trimmed().isEmpty())
        return QStringLiteral("no %1 set").arg(StepSettings::StatementKey(state));
    if (step.ScheduledSteps() == 0) return QStringLiteral("no Scheduled Step Attributes item");
    return RunStatement(step, state, statement, snapshot, budget, itemDone);
}

// As a query does: the mode's connection, current, and one reopen after a
// failure of the HIS.
QString StepWriteBack::RunStatement(const PerformedStep& step, StepState state,
                                    const QString& statement, const QuerySnapshot& snapshot,
                                    const QueryBudget& budget,
                                    const std::function<void(int)>& itemDone) {
    if (snapshot.connectionGeneration != m_followed) {
        m_followed = snapshot.connectionGeneration;
        m_his.UseConnectionString(snapshot.connectionString);
    }
    const HisScope scope(m_his, budget);
    qint64 rows = 0;
    try {
        m_his.EnsureCurrent();
        for (int item = step.writtenItems; item < step.ScheduledSteps(); ++item) {
            const auto changed = m_his.Execute(statement, step.ItemParameters(item));
            rows += std::max<qint64>(0, changed->RowsChanged().value_or(-1));
            itemDone(item + 1);
        }
    } catch (const MwlError& error) {
        if (PolicyFor(error.Kind()).reopensHis) m_his.ReopenAfterFailure();
        throw;
    }
    return QStringLiteral("%1 changed %2 row(s)").arg(StepSettings::StatementKey(state)).arg(rows);
}

QString StepWriteBack::DoneFolder(const QString& orderFolder) const {
    const QString done = m_settings.orderFilesDoneFolder;
    return OrderFileSource::FolderOf(QDir::isAbsolutePath(done) ? done : orderFolder + done);
}

// The order files whose accession number (field 20) is one of the step's.
QString StepWriteBack::MoveOrderFiles(const PerformedStep& step, const QuerySnapshot& snapshot) {
    const QStringList accessions = step.Accessions();
    if (accessions.isEmpty()) return QStringLiteral("no accession number to move an order file by");
    const OrderFileCache::Listing listing =
        m_orderFiles.List(OrderFileSource::FolderOf(snapshot.switches.hl7FolderText));
    const QString done = DoneFolder(listing.folder);
    QStringList moved;
    for (const QString& name : listing.names) {
        std::shared_ptr<const OrderItem> order;
        IgnoringFailures([&] { order = m_orderFiles.Item(listing, name); });
        if (!order || !accessions.contains(order->Fields().Field(20))) continue;
        if (!QDir().mkpath(done))
            throw MwlError(QStringLiteral("The done folder %1 cannot be made.").arg(done));
        const QString target = FreeName(done, name);
        MoveFileAtomically(listing.folder + name, done + target);
        moved << name + (target == name ? QString() : QStringLiteral(" (as %1)").arg(target));
    }
    if (moved.isEmpty())
        return QStringLiteral("no order file with accession number %1").arg(accessions.join(QStringLiteral(", ")));
    return QStringLiteral("order file(s) %1 moved to %2").arg(moved.join(QStringLiteral(", ")), done);
}
