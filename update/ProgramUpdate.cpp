#include "update/ProgramUpdate.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QSaveFile>

#include "platform/MakePath.h"
#include "platform/MwlError.h"
#include "update/UpdateSettings.h"

namespace {

const QString kServerFolder = QStringLiteral("/apps/pacs/server/");

bool RenameFile(const QString& from, const QString& to, QString& error) {
    QFile file(from);
    if (file.rename(to)) return true;
    error = file.errorString();
    return false;
}

// An error page or a half-sent file must never replace the program: the
// download has to start like an executable of this platform.
bool LooksLikeProgram(const QByteArray& body) {
#ifdef Q_OS_WIN
    return body.startsWith("MZ");
#else
    return body.startsWith(
        "\x7F"
        "ELF");
#endif
}

}  // namespace

ProgramFile ProgramFile::Running() {
    return {QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1)};
}

ProgramUpdate::ProgramUpdate(const SettingsStore& store, ActivityLog& log, UpdateView& view,
                             ProgramFile program, QObject* parent)
    : QObject(parent),
      m_store(store),
      m_log(log),
      m_view(view),
      m_program(std::move(program)),
      m_rename(RenameFile) {}

ProgramUpdate::~ProgramUpdate() = default;

QString ProgramUpdate::SideName(const QString& programName) {
    return programName + QStringLiteral(" - new");
}

QString ProgramUpdate::BackupName(const QString& programName, int n) {
    const QString number = QString::number(n);
    if (!programName.contains(QLatin1Char('.'))) return programName + number;
    QString backup = programName;
    return backup.replace(QLatin1Char('.'), number + QLatin1Char('.'));
}

void ProgramUpdate::Run() {
    if (m_running) return;
    m_running = true;
    m_view.ShowWaiting(true);
    const UpdateSettings settings =
        UpdateSettings::Load(m_store, QFileInfo(m_program.path).fileName());
    m_server = QStringLiteral("%1 port %2").arg(settings.server, settings.portText);
    m_http = std::make_unique<HTTPClass>();
    m_http->SetTransferTimeout(m_transferTimeoutMs);
    m_http->Fields(QStringLiteral("Username"), settings.user);
    m_http->Fields(QStringLiteral("Password"), settings.password);
    const int port = settings.Port();
    if (port < 0 || !m_http->OpenHTTP(settings.server, port, settings.user, settings.password)) {
        m_http.reset();
        ServerFailed(QStringLiteral("Cannot connect to the update server %1"),
                     QStringLiteral("not a usable server or port"));
        return;
    }
    m_http->SendRequest(kServerFolder + settings.remoteFile, QStringLiteral("GET"), true,
                        [this](const HttpResponse& response) { Downloaded(response); });
}

void ProgramUpdate::Downloaded(const HttpResponse& response) {
    // The callback runs inside the client's own event; it goes once that is over.
    m_http.release()->deleteLater();
    // A server that took the request and said nothing within the transfer
    // time-out is not one that cannot be reached.
    if (response.status == 0) {
        ServerFailed(response.requestSent ? QStringLiteral("No answer from the update server %1")
                                          : QStringLiteral("Cannot connect to the update server %1"),
                     response.error);
        return;
    }
    const QFileInfo target(m_program.path);
    const QString refusal = Refusal(response);
    if (!refusal.isEmpty()) {
        QFile::remove(target.absolutePath() + QLatin1Char('/') + SideName(target.fileName()));
        const QString text = QStringLiteral("update refused: ") + refusal;
        m_log.Log(text);
        End(text);
        return;
    }
    try {
        const QString backup = Install(response.body);
        const QString kept = backup.isEmpty()
                                 ? QString()
                                 : QStringLiteral("; the previous one is kept as ") + backup;
        m_log.Log(
            QStringLiteral("Program updated: %1 (%2 bytes)%3")
                .arg(target.absoluteFilePath(), QString::number(response.body.size()), kept));
    } catch (const MwlError& error) {
        m_log.Log(error.Description());
        End(error.Description());
        return;
    }
    m_view.ShowWaiting(false);
    // The window may be closing (and this command with it) before the answer comes.
    m_view.AskYesNo(QStringLiteral("Done. Run Program?"),
                    [self = QPointer<ProgramUpdate>(this)](bool yes) {
                        if (self) self->Answered(yes);
                    });
}

QString ProgramUpdate::Refusal(const HttpResponse& response) {
    if (response.status < 200 || response.status > 299)
        return QStringLiteral("HTTP %1").arg(response.status);
    const qint64 received = response.body.size();
    if (response.contentLength >= 0 && received != response.contentLength)
        return QStringLiteral("incomplete body, %1 of %2 bytes")
            .arg(received)
            .arg(response.contentLength);
    if (!response.error.isEmpty()) return QStringLiteral("transfer failed: ") + response.error;
    if (response.body.isEmpty()) return QStringLiteral("empty body");
    if (!LooksLikeProgram(response.body)) return QStringLiteral("not a program");
    return QString();
}

// Returns the backup's name, empty when there was no program file to keep.
QString ProgramUpdate::Install(const QByteArray& program) {
    const QFileInfo target(m_program.path);
    MakePath(target.absoluteFilePath());
    const QString side = target.absolutePath() + QLatin1Char('/') + SideName(target.fileName());
    WriteSideFile(side, program);
    QString backup;
    if (target.exists()) {
        try {
            backup = KeepBackup();
        } catch (const MwlError&) {
            QFile::remove(side);
            throw;
        }
    }
    PutInPlace(side, backup);
    return backup.isEmpty() ? QString() : QFileInfo(backup).fileName();
}

// The new file carries the running program's permissions (the executable bit
// above all) before it takes the program's name.
void ProgramUpdate::WriteSideFile(const QString& side, const QByteArray& program) const {
    QSaveFile file(side);
    if (!file.open(QIODevice::WriteOnly) || file.write(program) != program.size() || !file.commit())
        throw MwlError(
            QStringLiteral("update failed: cannot write %1: %2").arg(side, file.errorString()));
    const QFileInfo running(m_program.path);
    const QFile::Permissions permissions =
        running.exists()
            ? running.permissions()
            : QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                  QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    if (!QFile::setPermissions(side, permissions)) {
        QFile::remove(side);
        throw MwlError(QStringLiteral("update failed: cannot set the permissions of %1").arg(side));
    }
}

QString ProgramUpdate::KeepBackup() const {
    const QFileInfo target(m_program.path);
    QString backup;
    for (int n = 1;; ++n) {
        backup = target.absolutePath() + QLatin1Char('/') + BackupName(target.fileName(), n);
        if (!QFileInfo::exists(backup)) break;
    }
    QString error;
    if (!m_rename(target.absoluteFilePath(), backup, error))
        throw MwlError(QStringLiteral("update failed: cannot rename %1 to %2: %3")
                           .arg(target.absoluteFilePath(), backup, error));
    return backup;
}

// A failed rename puts the backup back, so the program file always exists.
void ProgramUpdate::PutInPlace(const QString& side, const QString& backup) const {
    const QString program = QFileInfo(m_program.path).absoluteFilePath();
    QString error;
    if (m_rename(side, program, error)) return;
    QString outcome;
    QString restoreError;
    if (backup.isEmpty()) {
        outcome = QStringLiteral("the new program stays in %1").arg(side);
    } else if (m_rename(backup, program, restoreError)) {
        outcome = QStringLiteral("the previous program is back in place");
        QFile::remove(side);
    } else {
        outcome = QStringLiteral("restoring the previous program from %1 failed too: %2")
                      .arg(backup, restoreError);
    }
    throw MwlError(QStringLiteral("update failed: cannot rename %1 to %2: %3; %4")
                       .arg(side, program, error, outcome));
}

void ProgramUpdate::Answered(bool yes) {
    if (yes) {
        // The working folder stays this process's own, so relative paths among
        // the arguments mean the same to the new program.
        QProcess process;
        process.setProgram(m_program.path);
        process.setArguments(m_program.arguments);
        if (process.startDetached()) {
            m_log.Log(QStringLiteral("New program started; this one ends."));
            m_running = false;
            m_view.EndProgram();
            emit Ended();
            return;
        }
        const QString text =
            QStringLiteral("Cannot start the new program: ") + process.errorString();
        m_log.Log(text);
        m_view.ShowMessage(text);
    }
    m_running = false;
    emit Ended();
}

// what names the server ("%1"); the log adds why.
void ProgramUpdate::ServerFailed(const QString& what, const QString& reason) {
    const QString text = what.arg(m_server);
    m_log.Log(text + QStringLiteral(": ") + reason);
    End(text + QLatin1Char('.'));
}

void ProgramUpdate::End(const QString& message) {
    m_view.ShowWaiting(false);
    m_view.ShowMessage(message);
    m_running = false;
    emit Ended();
}
