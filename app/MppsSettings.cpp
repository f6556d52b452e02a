#include "app/MppsSettings.h"

#include <QDir>

#include "platform/his/OdbcConnectionString.h"

namespace {

// Stands for "not in the store": no setting can hold it.
const QString kUnset = QStringLiteral("\x01unset");

QString Read(const SettingsStore& store, const char* key, const QString& fallback) {
    return store.Read(QStringLiteral("PACS"), QStringLiteral("MPPS"), QLatin1String(key), fallback);
}

std::optional<QString> Statement(const SettingsStore& store, StepState state) {
    const QString text = store.Read(QStringLiteral("PACS"), QStringLiteral("MPPS"),
                                    StepSettings::StatementKey(state), kUnset);
    if (text == kUnset) return std::nullopt;
    return text.trimmed();
}

}  // namespace

QString MppsSettings::DefaultJournal(const QString& homeFolder) {
    return QStringLiteral("Driver=SQLite3;Database=") +
           QDir(homeFolder).filePath(QStringLiteral("mpps-journal.db"));
}

void MppsSettings::Load(const SettingsStore& store, const QString& homeFolder) {
    steps = StepSettings();
    problems.clear();
    steps.journal = Read(store, "Journal", QString()).trimmed();
    if (steps.journal.isEmpty()) steps.journal = DefaultJournal(homeFolder);
    steps.inProgressStatement = Statement(store, StepState::InProgress);
    steps.completedStatement = Statement(store, StepState::Completed);
    steps.discontinuedStatement = Statement(store, StepState::Discontinued);
    const QString done = Read(store, "OrderFilesDoneFolder", QString()).trimmed();
    if (!done.isEmpty()) steps.orderFilesDoneFolder = done;
    const QString retry = Read(store, "RetryIntervalSeconds", QString()).trimmed();
    steps.retryInterval = std::chrono::seconds(kDefaultRetrySeconds);
    if (retry.isEmpty()) return;
    bool ok = false;
    const int seconds = retry.toInt(&ok);
    if (ok && seconds >= 1 && seconds <= 86400) {
        steps.retryInterval = std::chrono::seconds(seconds);
        return;
    }
    problems << QStringLiteral("MPPS setting RetryIntervalSeconds=\"%1\" is not a number from 1 "
                               "to 86400; using %2.")
                    .arg(retry)
                    .arg(kDefaultRetrySeconds);
}

QString MppsSettings::Description() const {
    const OdbcConnectionString journal(steps.journal);
    const QString where = journal.IsSqlite() && !journal.SqliteFile().isEmpty()
                              ? QStringLiteral("the SQLite file %1").arg(journal.SqliteFile())
                              : QStringLiteral("a database of the driver %1").arg(journal.DriverName());
    QStringList statements;
    for (StepState state : {StepState::InProgress, StepState::Completed, StepState::Discontinued})
        if (steps.Statement(state))
            statements << StepSettings::StatementKey(state) +
                              (steps.Statement(state)->isEmpty() ? QStringLiteral(" none")
                                                                 : QStringLiteral(" set"));
    return QStringLiteral("MPPS: journal in %1; HIS write-back by %2; finished order files to "
                          "\"%3\"; a failed write-back is tried again every %4 s")
        .arg(where,
             statements.isEmpty() ? QStringLiteral("the mode's defaults")
                                  : statements.join(QStringLiteral(", ")) +
                                        QStringLiteral(", the rest by the mode's defaults"),
             steps.orderFilesDoneFolder)
        .arg(steps.retryInterval.count());
}
