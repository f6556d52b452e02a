#include "e2e/MariaDbServer.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

namespace {

// Generous: the install writes the system tables with many small syncs, which
// takes several seconds on a busy machine.
constexpr int kInstallTimeoutMs = 120000;
constexpr int kReadyTimeoutMs = 90000;
constexpr int kStopTimeoutMs = 60000;
constexpr int kClientTimeoutMs = 60000;

// A Unix socket path must stay under about 107 bytes; a long TMPDIR would
// break that, so /tmp stands in for it then.
QString FolderTemplate() {
    const QString name = QStringLiteral("/mwl-mariadb-XXXXXX");
    const QString temp = QDir::tempPath();
    return (temp + name).size() + 8 <= 100 ? temp + name : QStringLiteral("/tmp") + name;
}

// mariadbd refuses to run as root unless told so; CI runs as root.
QStringList UserArguments() {
    if (::geteuid() == 0) return {QStringLiteral("--user=root")};
    return {};
}

QString ReadText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(file.readAll());
}

testing::AssertionResult RunTool(const QString& program, const QStringList& arguments,
                                 const QByteArray& input, int timeoutMs) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(program, arguments);
    if (!tool.waitForStarted(timeoutMs))
        return testing::AssertionFailure()
               << program.toStdString() << " did not start: " << tool.errorString().toStdString();
    tool.write(input);
    tool.closeWriteChannel();
    if (!tool.waitForFinished(timeoutMs)) {
        tool.kill();
        tool.waitForFinished(5000);
        return testing::AssertionFailure()
               << program.toStdString()
               << " did not finish: " << QString::fromUtf8(tool.readAll()).toStdString();
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return testing::AssertionFailure()
               << program.toStdString()
               << " failed: " << QString::fromUtf8(tool.readAll()).toStdString();
    return testing::AssertionSuccess();
}

}  // namespace

MariaDbServer::MariaDbServer() : m_folder(FolderTemplate()) {}

MariaDbServer::~MariaDbServer() {
    if (m_server.state() != QProcess::NotRunning) Stop();
}

QString MariaDbServer::ConnectionString() const {
    return QStringLiteral("Driver=MariaDB Unicode;Socket=%1;Database=%2;User=root")
        .arg(Socket(), Database());
}

QString MariaDbServer::ServerOutput() const {
    return ReadText(m_folder.filePath(QStringLiteral("mariadbd.log")));
}

testing::AssertionResult MariaDbServer::Start() {
    if (!m_folder.isValid())
        return testing::AssertionFailure()
               << "no temporary folder: " << m_folder.errorString().toStdString();
    if (auto created = CreateDataFolder(); !created) return created;
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.setStandardOutputFile(m_folder.filePath(QStringLiteral("mariadbd.log")));
    // The server ends with the test program even if that crashes.
    m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_server.start(QStringLiteral("mariadbd"),
                   QStringList{QStringLiteral("--no-defaults"),
                               QStringLiteral("--datadir=") + m_folder.filePath("data"),
                               QStringLiteral("--socket=") + Socket(),
                               QStringLiteral("--pid-file=") + m_folder.filePath("mariadbd.pid"),
                               QStringLiteral("--skip-networking"),
                               // Log and buffers sized for a test database.
                               QStringLiteral("--innodb-log-file-size=8M"),
                               QStringLiteral("--innodb-buffer-pool-size=32M")} +
                       UserArguments());
    if (!m_server.waitForStarted(kReadyTimeoutMs))
        return testing::AssertionFailure()
               << "mariadbd did not start: " << m_server.errorString().toStdString();
    if (auto ready = WaitUntilReady(); !ready) return ready;
    // The database is created by the client so that a broken client shows here.
    return RunTool(QStringLiteral("mariadb"),
                   ClientArguments() << QStringLiteral("--execute=CREATE DATABASE ") + Database(),
                   QByteArray(), kClientTimeoutMs);
}

testing::AssertionResult MariaDbServer::CreateDataFolder() const {
    // "normal" authentication lets the user root in without a password
    // whoever runs the tests; the server is reachable only by its socket.
    return RunTool(
        QStringLiteral("mariadb-install-db"),
        QStringList{QStringLiteral("--no-defaults"),
                    QStringLiteral("--datadir=") + m_folder.filePath("data"),
                    QStringLiteral("--auth-root-authentication-method=normal"),
                    QStringLiteral("--skip-test-db"), QStringLiteral("--innodb-log-file-size=8M")} +
            UserArguments(),
        QByteArray(), kInstallTimeoutMs);
}

testing::AssertionResult MariaDbServer::WaitUntilReady() {
    QDeadlineTimer deadline(kReadyTimeoutMs);
    for (;;) {
        if (ServerOutput().contains(QStringLiteral("ready for connections")))
            return testing::AssertionSuccess();
        if (m_server.state() == QProcess::NotRunning)
            return testing::AssertionFailure()
                   << "mariadbd ended with status " << m_server.exitCode() << ":\n"
                   << ServerOutput().toStdString();
        if (deadline.hasExpired()) {
            m_server.kill();
            m_server.waitForFinished(5000);
            return testing::AssertionFailure()
                   << "mariadbd was not ready within " << kReadyTimeoutMs << " ms:\n"
                   << ServerOutput().toStdString();
        }
        m_server.waitForFinished(100);
    }
}

QStringList MariaDbServer::ClientArguments() const {
    return {QStringLiteral("--no-defaults"), QStringLiteral("--socket=") + Socket(),
            QStringLiteral("--user=root"), QStringLiteral("--default-character-set=utf8mb4"),
            QStringLiteral("--batch")};
}

testing::AssertionResult MariaDbServer::Run(const QString& sql) const {
    return RunTool(QStringLiteral("mariadb"), ClientArguments() << Database(), sql.toUtf8(),
                   kClientTimeoutMs);
}

std::unique_ptr<QProcess> MariaDbServer::Session(const QString& sql) const {
    auto session = std::make_unique<QProcess>();
    session->setProcessChannelMode(QProcess::MergedChannels);
    session->start(QStringLiteral("mariadb"),
                   ClientArguments() << QStringLiteral("--execute=") + sql << Database());
    session->waitForStarted(kClientTimeoutMs);
    return session;
}

QString MariaDbServer::Query(const QString& sql) const {
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(QStringLiteral("mariadb"),
                 ClientArguments() << QStringLiteral("--skip-column-names")
                                   << QStringLiteral("--execute=") + sql << Database());
    if (!client.waitForFinished(kClientTimeoutMs)) {
        client.kill();
        client.waitForFinished(5000);
    }
    return QString::fromUtf8(client.readAll()).trimmed();
}

testing::AssertionResult MariaDbServer::Stop() {
    if (m_server.state() == QProcess::NotRunning)
        return testing::AssertionFailure() << "mariadbd had already ended:\n"
                                           << ServerOutput().toStdString();
    m_server.terminate();  // SIGTERM: a clean shutdown
    if (!m_server.waitForFinished(kStopTimeoutMs)) {
        m_server.kill();
        m_server.waitForFinished(5000);
        return testing::AssertionFailure()
               << "mariadbd did not end within " << kStopTimeoutMs << " ms of SIGTERM";
    }
    if (m_server.exitStatus() != QProcess::NormalExit || m_server.exitCode() != 0)
        return testing::AssertionFailure()
               << "mariadbd ended with status " << m_server.exitCode() << ":\n"
               << ServerOutput().toStdString();
    return testing::AssertionSuccess();
}
