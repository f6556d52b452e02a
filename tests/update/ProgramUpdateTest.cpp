#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <map>

#include "LocalHttpServer.h"
#include "platform/Clock.h"
#include "platform/TextActivityLog.h"
#include "update/ProgramUpdate.h"
#include "update/UpdateSettings.h"

namespace {

const QByteArray kOldProgram = QByteArray(
                                   "\x7F"
                                   "ELF old build ") +
                               QByteArray(200, 'o');
const QByteArray kNewProgram = QByteArray(
                                   "\x7F"
                                   "ELF new build ") +
                               QByteArray(5000, 'n');
const QFile::Permissions kProgramPermissions =
    QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser | QFile::WriteUser |
    QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup;

class MapSettings : public SettingsStore {
public:
    QString Read(const QString& application, const QString& section, const QString& key,
                 const QString& fallback) const override {
        const auto found = values.find(application + '/' + section + '/' + key);
        return found == values.end() ? fallback : found->second;
    }
    void Write(const QString& application, const QString& section, const QString& key,
               const QString& value) override {
        values[application + '/' + section + '/' + key] = value;
    }
    std::map<QString, QString> values;
};

// Answers the question at once and records what the window would show.
class RecordingView : public UpdateView {
public:
    void ShowWaiting(bool waiting) override { waits << waiting; }
    void ShowMessage(const QString& text) override { messages << text; }
    void AskYesNo(const QString& question, std::function<void(bool)> answer) override {
        questions << question;
        answer(yes);
    }
    void EndProgram() override { ++ends; }

    bool yes = false;
    QList<bool> waits;
    QStringList messages;
    QStringList questions;
    int ends = 0;
};

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class ProgramUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(server.Start());
        WriteFile(program, kOldProgram);
        ASSERT_TRUE(QFile::setPermissions(program, kProgramPermissions));
        Set("Port", QString::number(server.Port()));
        server.Respond(CannedResponse{.body = kNewProgram});
    }
    // The password travels in the query string and the credentials; no line
    // of the log may carry it, whatever happened.
    void TearDown() override {
        EXPECT_FALSE(log.Text().contains("quimbo")) << log.Text().toStdString();
    }

    void Set(const QString& key, const QString& value) {
        settings.Write("PACS", "Update", key, value);
    }
    QString Path(const QString& name) const { return folder.filePath(name); }
    QStringList Files() const { return QDir(folder.path()).entryList(QDir::Files, QDir::Name); }

    void RunUpdate() {
        ProgramUpdate update(settings, log, view, ProgramFile{program, arguments});
        update.SetTransferTimeout(transferTimeoutMs);
        if (rename) update.SetRename(rename);
        QSignalSpy ended(&update, &ProgramUpdate::Ended);
        update.Run();
        ASSERT_TRUE(ended.count() == 1 || ended.wait(30000)) << "the update never ended";
        EXPECT_FALSE(update.Running());
        EXPECT_EQ(view.waits.value(0), true);
        EXPECT_EQ(view.waits.value(view.waits.size() - 1), false);
    }

    QTemporaryDir folder;
    QString program = folder.filePath("talvek-mwl");
    QStringList arguments;
    MapSettings settings;
    SystemClock clock;
    TextActivityLog log{clock};
    RecordingView view;
    LocalHttpServer server;
    int transferTimeoutMs = 30000;
    ProgramUpdate::Rename rename;
};

}  // namespace

TEST(UpdateSettings, DefaultsAndPorts) {
    MapSettings store;
    UpdateSettings loaded = UpdateSettings::Load(store, "talvek-mwl");
    EXPECT_EQ(loaded.server, "127.0.0.1");
    EXPECT_EQ(loaded.Port(), 88);
    EXPECT_EQ(loaded.remoteFile, "talvek-mwl");
    EXPECT_EQ(loaded.user, "talvek");
    EXPECT_EQ(loaded.password, "quimbo");
    for (const QString& bad : {"", "abc", "0", "65536", "-88"}) {
        loaded.portText = bad;
        EXPECT_EQ(loaded.Port(), -1) << bad.toStdString();
    }
    loaded.portText = " 8080 ";
    EXPECT_EQ(loaded.Port(), 8080);
}

TEST(ProgramUpdate, BackupNames) {
    EXPECT_EQ(ProgramUpdate::BackupName("talvek-mwl", 1), "talvek-mwl1");
    EXPECT_EQ(ProgramUpdate::BackupName("TALVEK PACS Modality Worklist Server.exe", 2),
              "TALVEK PACS Modality Worklist Server2.exe");
    EXPECT_EQ(ProgramUpdate::BackupName("a.b.exe", 3), "a3.b3.exe");
    EXPECT_EQ(ProgramUpdate::SideName("talvek-mwl"), "talvek-mwl - new");
}

TEST_F(ProgramUpdateTest, InstallsTheDownloadBehindTheNextFreeBackup) {
    WriteFile(Path("talvek-mwl1"), "older backup");
    WriteFile(Path("talvek-mwl - new"), QByteArray(20000, 'x'));
    RunUpdate();

    ASSERT_EQ(server.requests.size(), 1);
    const ReceivedRequest& request = server.requests.first();
    EXPECT_EQ(request.target, "/apps/pacs/server/talvek-mwl?Username=talvek&Password=quimbo");
    EXPECT_EQ(request.Header("authorization"), "Basic " + QByteArray("talvek:quimbo").toBase64());
    EXPECT_EQ(request.Header("cache-control"), "no-cache");

    EXPECT_EQ(Files(), (QStringList{"talvek-mwl", "talvek-mwl1", "talvek-mwl2"}));
    EXPECT_EQ(ReadFile(program), kNewProgram);
    EXPECT_EQ(ReadFile(Path("talvek-mwl2")), kOldProgram);
    EXPECT_EQ(ReadFile(Path("talvek-mwl1")), "older backup");
    EXPECT_EQ(QFile::permissions(program), kProgramPermissions);
    EXPECT_EQ(view.questions, QStringList{"Done. Run Program?"});
    EXPECT_TRUE(view.messages.isEmpty());
    EXPECT_EQ(view.ends, 0);
    EXPECT_TRUE(log.Text().contains("Program updated: " + program)) << log.Text().toStdString();
}

TEST_F(ProgramUpdateTest, RemoteFileAndCredentialsComeFromTheSettings) {
    program = Path("TALVEK PACS Modality Worklist Server.exe");
    WriteFile(program, kOldProgram);
    WriteFile(Path("TALVEK PACS Modality Worklist Server1.exe"), "backup 1");
    Set("RemoteFile", "talvek mwl.bin");
    Set("User", "ward-7");
    Set("Password", "s3cret&x");
    RunUpdate();
    ASSERT_EQ(server.requests.size(), 1);
    // The request line writes "-", "_", "." and "~" plainly, as URLs do
    // everywhere (RFC 3986 makes "%2D" and "-" the same); the rest stays encoded.
    EXPECT_EQ(server.requests.first().target,
              "/apps/pacs/server/talvek%20mwl.bin?Username=ward-7&Password=s3cret%26x");
    EXPECT_EQ(server.requests.first().Header("authorization"),
              "Basic " + QByteArray("ward-7:s3cret&x").toBase64());
    EXPECT_EQ(ReadFile(program), kNewProgram);
    EXPECT_EQ(ReadFile(Path("TALVEK PACS Modality Worklist Server2.exe")), kOldProgram);
    EXPECT_FALSE(log.Text().contains("s3cret"));
}

TEST_F(ProgramUpdateTest, RefusesAnythingButACompleteProgram) {
    const struct {
        CannedResponse response;
        QString logged;
    } cases[] = {
        {{.status = 404, .body = kNewProgram}, "update refused: HTTP 404"},
        {{.status = 200, .body = ""}, "update refused: empty body"},
        {{.status = 200, .body = "<html>maintenance</html>"}, "update refused: not a program"},
        {{.status = 200, .body = kNewProgram.left(100), .declaredLength = kNewProgram.size()},
         QString("update refused: incomplete body, 100 of %1 bytes").arg(kNewProgram.size())},
    };
    for (const auto& refused : cases) {
        SCOPED_TRACE(refused.logged.toStdString());
        WriteFile(Path("talvek-mwl - new"), "left over");
        server.Respond(refused.response);
        log.Replace("");
        view = RecordingView{};
        RunUpdate();
        EXPECT_EQ(Files(), QStringList{"talvek-mwl"});
        EXPECT_EQ(ReadFile(program), kOldProgram);
        EXPECT_TRUE(log.Text().contains(refused.logged)) << log.Text().toStdString();
        EXPECT_EQ(view.messages, QStringList{refused.logged});
        EXPECT_TRUE(view.questions.isEmpty());
    }
}

// Each message names the update server. One that took the request and
// never answered is told apart from one that cannot be reached, within the
// transfer time-out; none of them touches a file.
TEST_F(ProgramUpdateTest, CannotConnectOrNoAnswerTouchesNoFile) {
    WriteFile(Path("talvek-mwl - new"), "left over");
    const QStringList before = Files();
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    const QString closed = QString("Cannot connect to the update server 127.0.0.1 port %1").arg(closedPort);
    Set("Port", QString::number(closedPort));
    RunUpdate();
    EXPECT_EQ(view.messages, QStringList{closed + "."});
    // A line of its own, with its date and time.
    const QStringList lines = log.Text().split("\r\n").filter(closed + ": ");
    ASSERT_EQ(lines.size(), 1) << log.Text().toStdString();
    EXPECT_TRUE(QRegularExpression("^.+ \\d\\d:\\d\\d:\\d\\d Cannot connect").match(lines[0]).hasMatch())
        << lines[0].toStdString();

    Set("Port", "eighty-eight");
    RunUpdate();
    EXPECT_EQ(view.messages.last(), "Cannot connect to the update server 127.0.0.1 port eighty-eight.");

    Set("Port", QString::number(server.Port()));
    server.Respond(CannedResponse{.silent = true});
    transferTimeoutMs = 300;
    QElapsedTimer took;
    took.start();
    RunUpdate();
    EXPECT_LT(took.elapsed(), 10000);
    const QString silent = QString("No answer from the update server 127.0.0.1 port %1").arg(server.Port());
    EXPECT_EQ(view.messages.last(), silent + ".");
    EXPECT_TRUE(log.Text().contains(silent + ": no data for 0.3 seconds")) << log.Text().toStdString();

    EXPECT_EQ(view.messages.size(), 3);
    EXPECT_TRUE(view.questions.isEmpty());
    EXPECT_EQ(Files(), before);
    EXPECT_EQ(ReadFile(program), kOldProgram);
    EXPECT_EQ(ReadFile(Path("talvek-mwl - new")), "left over");
}

TEST_F(ProgramUpdateTest, FailingFinalRenamePutsTheBackupBack) {
    rename = [](const QString& from, const QString& to, QString& error) {
        QFile file(from);
        if (!from.endsWith(" - new") && file.rename(to)) return true;
        error = "refused by the test";
        return false;
    };
    RunUpdate();
    EXPECT_EQ(Files(), QStringList{"talvek-mwl"});
    EXPECT_EQ(ReadFile(program), kOldProgram);
    EXPECT_TRUE(log.Text().contains("update failed: cannot rename " + Path("talvek-mwl - new") +
                                    " to " + program +
                                    ": refused by the test; the previous program is back in place"))
        << log.Text().toStdString();
    EXPECT_EQ(view.messages.size(), 1);
    EXPECT_TRUE(view.questions.isEmpty());
}

TEST_F(ProgramUpdateTest, YesStartsTheNewProgramBeforeThisOneEnds) {
    // The stand-in for the new build: a real program that leaves a mark.
    const QString touch = QStandardPaths::findExecutable("touch");
    ASSERT_FALSE(touch.isEmpty());
    server.Respond(CannedResponse{.body = ReadFile(touch)});
    const QString marker = Path("started");
    arguments = {marker};
    view.yes = true;
    RunUpdate();
    EXPECT_EQ(view.ends, 1);
    EXPECT_TRUE(log.Text().contains("New program started; this one ends."));
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker); }, 20000));
    EXPECT_EQ(ReadFile(program), ReadFile(touch));
}

TEST_F(ProgramUpdateTest, NewProgramThatCannotStartLeavesThisOneRunning) {
    view.yes = true;  // the download looks like a program but is none
    RunUpdate();
    EXPECT_EQ(ReadFile(program), kNewProgram);
    EXPECT_EQ(view.ends, 0);
    ASSERT_EQ(view.messages.size(), 1);
    EXPECT_TRUE(view.messages.first().startsWith("Cannot start the new program: "));
    EXPECT_TRUE(log.Text().contains(view.messages.first()));
}

TEST_F(ProgramUpdateTest, HttpsServerIsUsedOnlyWithATrustedCertificate) {
    QTemporaryDir keys;
    const QString certificatePath = keys.filePath("certificate.pem");
    const QString keyPath = keys.filePath("key.pem");
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", keyPath,
                              "-out", certificatePath, "-days", "2", "-subj", "/CN=127.0.0.1",
                              "-addext", "subjectAltName=IP:127.0.0.1"});
    ASSERT_TRUE(openssl.waitForFinished(60000) && openssl.exitCode() == 0)
        << "openssl: " << openssl.readAllStandardError().toStdString();
    const QSslCertificate certificate = QSslCertificate::fromPath(certificatePath).value(0);
    QFile keyFile(keyPath);
    ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
    LocalHttpServer tls(certificate, QSslKey(&keyFile, QSsl::Rsa));
    ASSERT_TRUE(tls.Start());
    tls.Respond(CannedResponse{.body = kNewProgram});
    Set("Server", "https://127.0.0.1");
    Set("Port", QString::number(tls.Port()));

    RunUpdate();
    EXPECT_EQ(view.messages,
              QStringList{QString("Cannot connect to the update server https://127.0.0.1 port %1.")
                              .arg(tls.Port())});
    EXPECT_TRUE(log.Text().contains("certificate")) << log.Text().toStdString();
    EXPECT_EQ(Files(), QStringList{"talvek-mwl"});
    EXPECT_EQ(ReadFile(program), kOldProgram);

    const QSslConfiguration saved = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = saved;
    trusting.addCaCertificate(certificate);
    QSslConfiguration::setDefaultConfiguration(trusting);
    view = RecordingView{};
    RunUpdate();
    QSslConfiguration::setDefaultConfiguration(saved);
    EXPECT_EQ(view.questions, QStringList{"Done. Run Program?"});
    EXPECT_EQ(ReadFile(program), kNewProgram);
    ASSERT_EQ(tls.requests.size(), 1);
    EXPECT_EQ(tls.requests.first().target,
              "/apps/pacs/server/talvek-mwl?Username=talvek&Password=quimbo");
}
