#include "e2e/HisDatabase.h"

#include <QFile>
#include <QProcess>

namespace {

QString Quoted(const std::optional<QString>& text) {
    if (!text) return QStringLiteral("NULL");
    QString doubled = *text;
    doubled.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}

// The demo's table definition, so the tests and the demo cannot drift apart.
const char* const kSchemaFile = MWL_SOURCE_DIR "/examples/xray-worklist.sql";

}  // namespace

testing::AssertionResult HisDatabase::Create(const QString& file, const QList<HisOrder>& orders) {
    QFile schema(QString::fromLatin1(kSchemaFile));
    if (!schema.open(QIODevice::ReadOnly))
        return testing::AssertionFailure() << kSchemaFile << ": " << schema.errorString().toStdString();
    QString sql = QString::fromUtf8(schema.readAll());
    if (!orders.isEmpty()) sql += InsertStatement(orders);
    return Run(file, sql);
}

testing::AssertionResult HisDatabase::Run(const QString& file, const QString& sql) {
    QProcess shell;
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), file});
    if (!shell.waitForStarted(10000))
        return testing::AssertionFailure()
               << "sqlite3 did not start: " << shell.errorString().toStdString();
    shell.write((QStringLiteral("BEGIN;\n") + sql + QStringLiteral("\nCOMMIT;\n")).toUtf8());
    shell.closeWriteChannel();
    if (!shell.waitForFinished(30000)) {
        shell.kill();
        shell.waitForFinished(2000);
        return testing::AssertionFailure() << "sqlite3 did not finish";
    }
    const QString output = QString::fromUtf8(shell.readAll());
    if (shell.exitStatus() != QProcess::NormalExit || shell.exitCode() != 0)
        return testing::AssertionFailure() << "sqlite3 failed: " << output.toStdString();
    return testing::AssertionSuccess();
}

QString HisDatabase::Query(const QString& file, const QString& sql) {
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {file, sql});
    if (!shell.waitForFinished(30000)) {
        shell.kill();
        shell.waitForFinished(2000);
    }
    return QString::fromUtf8(shell.readAllStandardOutput() + shell.readAllStandardError()).trimmed();
}

QList<HisOrder> HisDatabase::OpenOrders(int count, int firstId) {
    QList<HisOrder> orders;
    for (int id = firstId; id < firstId + count; ++id) {
        HisOrder order;
        order.worklistId = id;
        order.created = QStringLiteral("2024-05-%1 08:%2:00")
                            .arg(1 + id % 28, 2, 10, QLatin1Char('0'))
                            .arg(id % 60, 2, 10, QLatin1Char('0'));
        order.patientId = QStringLiteral("P%1").arg(id);
        order.lastName = QStringLiteral("LAST%1").arg(id);
        order.firstName = QStringLiteral("FIRST%1").arg(id);
        order.middleName = QStringLiteral("MIDDLE");
        order.birthDate = QStringLiteral("1970-01-01");
        order.gender = id % 2 ? QStringLiteral("M") : QStringLiteral("F");
        orders << order;
    }
    return orders;
}

QString HisDatabase::InsertStatement(const QList<HisOrder>& orders) {
    QString sql = QStringLiteral(
        "INSERT INTO xray_worklist (worklistid, created, patientid, last_name, first_name, "
        "middle_name, birthdate, gender, is_done, is_valid) VALUES\n");
    for (qsizetype i = 0; i < orders.size(); ++i) {
        const HisOrder& order = orders[i];
        sql += QStringLiteral("(%1, %2, %3, %4, %5, %6, %7, %8, %9, %10)")
                   .arg(order.worklistId)
                   .arg(Quoted(order.created), Quoted(order.patientId), Quoted(order.lastName),
                        Quoted(order.firstName), Quoted(order.middleName), Quoted(order.birthDate),
                        Quoted(order.gender))
                   .arg(order.done ? 1 : 0)
                   .arg(order.valid ? 1 : 0);
        sql += i + 1 < orders.size() ? QStringLiteral(",\n") : QStringLiteral(";\n");
    }
    return sql;
}

SqliteLock::SqliteLock(const QString& file) {
    m_shell.setProcessChannelMode(QProcess::MergedChannels);
    m_shell.start(QStringLiteral("sqlite3"), {file});
    m_shell.write("BEGIN EXCLUSIVE;\nSELECT 'locked';\n");
    while (!m_output.contains("locked") && m_shell.waitForReadyRead(10000))
        m_output += m_shell.readAll();
}

void SqliteLock::Release() {
    if (m_shell.state() == QProcess::NotRunning) return;
    m_shell.write("COMMIT;\n.quit\n");
    m_shell.closeWriteChannel();
    if (!m_shell.waitForFinished(10000)) m_shell.kill();
}
