#pragma once

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <optional>
#include <utility>
#include <vector>

// Failure messages show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// How long a test waits for a line of the activity log when a loaded
// machine (or a sanitizer build) may hold the server up.
constexpr int kLogWaitMs = 15000;

// Asks the kernel for a loopback port that nobody uses right now.
int FreeLoopbackPort();

struct ServerSettings {
    // [Settings] ResultQueryNumber as written; unset keeps the default.
    std::optional<QString> resultQueryNumber;
    std::optional<int> port;                             // a free loopback port when unset
    QString modeOption = QStringLiteral("optCorvante");  // the one mode flag stored "True"
    QString hl7Folder;                                   // [Main] txtHL7Folder
    QString institutionName;                             // [Worklist] txtInstName
    // The line written to every connection-string file; unset names HisFile()
    // through the SQLite3 driver. With noConnectionFiles none is written.
    std::optional<QString> connectionString;
    bool noConnectionFiles = false;
    // The desktop program (offscreen, no start-up wait) instead of --headless;
    // what its window shows is read through the test state file.
    bool window = false;
    QString connectionOptions;               // appended to the default connection string
    std::optional<int> queryTimeoutSeconds;  // [Database] QueryTimeoutSeconds
    QString network;   // lines of the [Network] section, e.g. "MaxAssociations=2\n"
    QString security;  // lines of the [Security] section, e.g. "TlsPort=2762\n" or "LogFolder=/x\n"
    QString mpps;      // lines of the [MPPS] section, e.g. "CompletedStatement=...\n"
    // The port the program reports it listens on ("listening on port N");
    // the worklist port when unset.
    std::optional<int> reportedPort;
    // Variables added to the program's environment (a service manager's
    // NOTIFY_SOCKET, for one); those of a manager the test runs under are
    // never passed on.
    std::vector<std::pair<QString, QString>> environment;
    // PACS.conf exactly as given, instead of the one made from the fields
    // above; "%PORT%" in it stands for the worklist port.
    std::optional<QByteArray> pacsConf;
};

// The real talvek-mwl program, headless, in CORVANTE mode, with its settings
// folder and home folder in a temporary folder of its own. The activity log
// (standard output) goes to a file, so a long log never blocks the server on
// a full pipe while a test waits for a DICOM peer.
class ServerProcess {
public:
    explicit ServerProcess(ServerSettings settings = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // The HIS database file that CORVANTE.txt names; fill it before Start().
    QString HisFile() const;
    QString Folder() const { return m_folder.path(); }
    // A file in the program's home folder (where the connection strings are).
    QString HomeFile(const QString& name) const;
    int Port() const { return m_port; }
    long long Pid() const { return m_process.processId(); }

    // Starts the program and waits until it reports that it listens (or, with
    // expectListening false, that it does not).
    testing::AssertionResult Start(bool expectListening = true);
    // Starts the program and returns once it has taken over SIGTERM (its
    // very first step), before it has loaded anything.
    testing::AssertionResult Launch();
    // Standard error so far (the "listening on" line, usage).
    QByteArray StandardError();
    // Everything the program wrote to standard output (its activity log); for
    // the desktop program, the log its window shows.
    QString ActivityLog() const;
    // The desktop program's window: "title", "lblComm", "txtSQLStr", "log".
    QJsonObject WindowState() const;
    // Waits until the window shows the text in the control.
    bool WaitForWindow(const QString& control, const QString& text, int timeoutMs = 5000) const;
    QString Errors();
    // Waits until the activity log holds text.
    bool WaitForLog(const QString& text, int timeoutMs = 5000) const;
    bool Running() const { return m_process.state() != QProcess::NotRunning; }
    // The program's peak resident memory so far (VmHWM), in KiB; 0 if unknown.
    qint64 PeakResidentKiB() const;
    // True when the program is still running after waiting timeoutMs for it to end.
    bool KeepsRunningFor(int timeoutMs);
    // Sends the signal to the running program.
    void Signal(int signal);
    // Sends SIGTERM and expects exit status 0 within five seconds.
    testing::AssertionResult Stop();
    // The two halves of Stop(): SIGTERM, then the wait for exit status 0.
    void SendStop();
    testing::AssertionResult AwaitExit();

private:
    void WriteSettings() const;
    testing::AssertionResult Spawn();
    testing::AssertionResult AwaitListening(bool expectListening);

    ServerSettings m_settings;
    QTemporaryDir m_folder;
    int m_port = 0;
    QProcess m_process;
    QByteArray m_errors;
    QElapsedTimer m_stopSent;
};
