#include "e2e/ServerProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QTcpServer>
#include <QThread>
#include <algorithm>
#include <csignal>

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 5000;

// QProcess and QTcpServer want an application object; the tests have no main
// of their own, so a global environment provides it.
class QtApplication : public testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "e2e_tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance()) m_app = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QCoreApplication> m_app;
};

[[maybe_unused]] testing::Environment* const kQtApplication =
    testing::AddGlobalTestEnvironment(new QtApplication);

bool WriteText(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

}  // namespace

int FreeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    const int port = probe.serverPort();
    probe.close();
    return port;
}

ServerProcess::ServerProcess(ServerSettings settings) : m_settings(settings) {
    m_port = m_settings.port.value_or(0);
    if (m_port == 0) m_port = FreeLoopbackPort();
    QDir(m_folder.path()).mkpath(QStringLiteral("config/TALVEK"));
    QDir(m_folder.path()).mkpath(QStringLiteral("home"));
}

ServerProcess::~ServerProcess() {
    if (Running()) {
        m_process.kill();
        m_process.waitForFinished(kStopTimeoutMs);
    }
}

QString ServerProcess::HisFile() const { return m_folder.filePath(QStringLiteral("home/his.db")); }

QString ServerProcess::HomeFile(const QString& name) const {
    return m_folder.filePath(QStringLiteral("home/") + name);
}

qint64 ServerProcess::PeakResidentKiB() const {
    QFile status(QStringLiteral("/proc/%1/status").arg(m_process.processId()));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

void ServerProcess::WriteSettings() const {
    const QString settings = m_folder.filePath(QStringLiteral("config/TALVEK/"));
    QString pacs = QStringLiteral("[Main]\n");
    if (m_settings.modeOption != QLatin1String("optTALVEK")) pacs += "optTALVEK=False\n";
    pacs += m_settings.modeOption + QStringLiteral("=True\nWorklistPort=%1\n").arg(m_port);
    if (!m_settings.hl7Folder.isEmpty()) pacs += "txtHL7Folder=" + m_settings.hl7Folder + "\n";
    if (!m_settings.institutionName.isEmpty())
        pacs += "[Worklist]\ntxtInstName=" + m_settings.institutionName + "\n";
    if (m_settings.queryTimeoutSeconds)
        pacs += QStringLiteral("[Database]\nQueryTimeoutSeconds=%1\n")
                    .arg(*m_settings.queryTimeoutSeconds);
    if (!m_settings.network.isEmpty()) pacs += "[Network]\n" + m_settings.network;
    if (!m_settings.security.isEmpty()) pacs += "[Security]\n" + m_settings.security;
    if (!m_settings.mpps.isEmpty()) pacs += "[MPPS]\n" + m_settings.mpps;
    QByteArray pacsConf = pacs.toUtf8();
    if (m_settings.pacsConf)
        pacsConf = QByteArray(*m_settings.pacsConf).replace("%PORT%", QByteArray::number(m_port));
    WriteText(settings + QStringLiteral("PACS.conf"), pacsConf);
    if (m_settings.resultQueryNumber)
        WriteText(settings + QStringLiteral("Modality WorkList.conf"),
                  QStringLiteral("[Settings]\nResultQueryNumber=%1\n")
                      .arg(*m_settings.resultQueryNumber)
                      .toUtf8());
    if (m_settings.noConnectionFiles) return;
    // Every database mode reads the same SQLite file.
    const QString connection = m_settings.connectionString.value_or(
        QStringLiteral("Driver=SQLite3;Database=") + HisFile() + m_settings.connectionOptions);
    for (const char* file : {"CORVANTE.txt", "ORVELLINE.txt", "PELTA.txt", "DBServer.txt"})
        WriteText(m_folder.filePath(QStringLiteral("home/") + QLatin1String(file)),
                  (connection + QLatin1Char('\n')).toUtf8());
}

testing::AssertionResult ServerProcess::Launch() {
    if (const auto launched = Spawn(); !launched) return launched;
    const QString status = QStringLiteral("/proc/%1/status").arg(m_process.processId());
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!deadline.hasExpired()) {
        QFile file(status);
        if (!file.open(QIODevice::ReadOnly)) break;
        for (const QByteArray& line : file.readAll().split('\n'))
            if (line.startsWith("SigCgt:") &&
                (line.mid(7).trimmed().toULongLong(nullptr, 16) & (1ULL << (SIGTERM - 1))))
                return testing::AssertionSuccess();
        QThread::msleep(1);
    }
    return testing::AssertionFailure() << "talvek-mwl did not take over SIGTERM";
}

QByteArray ServerProcess::StandardError() {
    m_errors += m_process.readAllStandardError();
    return m_errors;
}

testing::AssertionResult ServerProcess::Start(bool expectListening) {
    if (const auto launched = Spawn(); !launched) return launched;
    return AwaitListening(expectListening);
}

testing::AssertionResult ServerProcess::Spawn() {
    if (!m_folder.isValid() || m_port == 0)
        return testing::AssertionFailure() << "no temporary folder or no free port";
    WriteSettings();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // A test run under a service manager must not have the servers it starts
    // report to that manager.
    for (const char* variable : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
        environment.remove(QLatin1String(variable));
    for (const auto& [name, value] : m_settings.environment) environment.insert(name, value);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                       m_folder.filePath(QStringLiteral("config")));
    QStringList arguments = {QStringLiteral("--headless")};
    if (m_settings.window) {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("TALVEK_MWL_TEST_STATE_FILE"),
                           m_folder.filePath(QStringLiteral("window.json")));
        arguments = QStringList{QStringLiteral("--delay"), QStringLiteral("0")};
    }
    m_process.setProcessEnvironment(environment);
    m_process.setStandardOutputFile(m_folder.filePath(QStringLiteral("activity.log")));
    m_process.setReadChannel(QProcess::StandardError);
    m_process.start(QStringLiteral(MWL_SERVER_BINARY),
                    arguments + QStringList{QStringLiteral("--home"),
                                            m_folder.filePath(QStringLiteral("home"))});
    if (!m_process.waitForStarted(kStartTimeoutMs))
        return testing::AssertionFailure()
               << "talvek-mwl did not start: " << m_process.errorString().toStdString();
    return testing::AssertionSuccess();
}

testing::AssertionResult ServerProcess::AwaitListening(bool expectListening) {
    const QByteArray expected =
        expectListening ? QByteArray("listening on port ") +
                              QByteArray::number(m_settings.reportedPort.value_or(m_port))
                        : QByteArray("not listening");
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!m_errors.contains(expected)) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return testing::AssertionFailure()
                   << "talvek-mwl did not report \"" << expected.toStdString()
                   << "\"; standard error: " << m_errors.toStdString()
                   << "; activity log: " << ActivityLog().toStdString();
        m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        m_errors += m_process.readAllStandardError();
    }
    return testing::AssertionSuccess();
}

QString ServerProcess::ActivityLog() const {
    if (m_settings.window) return WindowState().value(QStringLiteral("log")).toString();
    QFile file(m_folder.filePath(QStringLiteral("activity.log")));
    if (!file.open(QIODevice::ReadOnly)) return QString();
    return QString::fromUtf8(file.readAll());
}

QJsonObject ServerProcess::WindowState() const {
    QFile file(m_folder.filePath(QStringLiteral("window.json")));
    if (!file.open(QIODevice::ReadOnly)) return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool ServerProcess::WaitForWindow(const QString& control, const QString& text,
                                  int timeoutMs) const {
    // The program rewrites the file when the window changes; poll it.
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (WindowState().value(control).toString() == text) return true;
        if (deadline.hasExpired()) return false;
        QThread::msleep(20);
    }
}

QString ServerProcess::Errors() {
    m_errors += m_process.readAllStandardError();
    return QString::fromUtf8(m_errors);
}

bool ServerProcess::WaitForLog(const QString& text, int timeoutMs) const {
    // The log is a file the server appends to; there is no event to wait on.
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (ActivityLog().contains(text)) return true;
        if (deadline.hasExpired()) return false;
        QThread::msleep(20);
    }
}

bool ServerProcess::KeepsRunningFor(int timeoutMs) {
    return !m_process.waitForFinished(timeoutMs) && Running();
}

testing::AssertionResult ServerProcess::Stop() {
    if (!Running()) return testing::AssertionFailure() << "talvek-mwl had already ended";
    SendStop();
    return AwaitExit();
}

void ServerProcess::Signal(int signal) {
    if (Running()) ::kill(static_cast<pid_t>(m_process.processId()), signal);
}

void ServerProcess::SendStop() {
    m_process.terminate();  // SIGTERM
    m_stopSent.start();
}

testing::AssertionResult ServerProcess::AwaitExit() {
    const int left = std::max<int>(0, kStopTimeoutMs - static_cast<int>(m_stopSent.elapsed()));
    if (!m_process.waitForFinished(left)) {
        m_process.kill();
        m_process.waitForFinished(kStopTimeoutMs);
        return testing::AssertionFailure()
               << "talvek-mwl did not end within " << kStopTimeoutMs << " ms of SIGTERM";
    }
    if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)
        return testing::AssertionFailure()
               << "talvek-mwl ended with status " << m_process.exitCode()
               << (m_process.exitStatus() == QProcess::CrashExit ? " (crashed)" : "")
               << "; standard error: " << Errors().toStdString();
    return testing::AssertionSuccess();
}
