#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "platform/ActivityLog.h"
#include "platform/settings/SettingsStore.h"
#include "update/HTTPClass.h"
#include "update/UpdateView.h"

// The running program's file, and the arguments its successor starts with.
struct ProgramFile {
    QString path;
    QStringList arguments;

    // This process: its executable and the arguments it was given.
    static ProgramFile Running();
};

// The "Program Update" command: downloads the build on the update server,
// keeps the program file under a numbered backup name, puts the new file in
// its place and offers to start it. Nothing is installed unless the answer
// is a success, complete, and a program for this platform, and a program file
// is in place whatever fails.
class ProgramUpdate : public QObject {
    Q_OBJECT
public:
    // Renames a file; false with a reason when it cannot.
    using Rename = std::function<bool(const QString& from, const QString& to, QString& error)>;

    ProgramUpdate(const SettingsStore& store, ActivityLog& log, UpdateView& view,
                  ProgramFile program, QObject* parent = nullptr);
    ~ProgramUpdate() override;

    // cmdDLLUpdate_Click: starts the download and returns at once; a click
    // while an update runs does nothing.
    void Run();
    bool Running() const { return m_running; }

    void SetTransferTimeout(int ms) { m_transferTimeoutMs = ms; }
    void SetRename(Rename rename) { m_rename = std::move(rename); }

    // "talvek-mwl - new": where the download is written before it is installed.
    static QString SideName(const QString& programName);
    // The n-th backup name: n before every "." ("Server1.exe"), or at the end
    // of a name without one ("talvek-mwl1").
    static QString BackupName(const QString& programName, int n);

signals:
    // The command is over, whichever way it ended.
    void Ended();

private:
    void Downloaded(const HttpResponse& response);
    static QString Refusal(const HttpResponse& response);
    QString Install(const QByteArray& program);
    void WriteSideFile(const QString& side, const QByteArray& program) const;
    QString KeepBackup() const;
    void PutInPlace(const QString& side, const QString& backup) const;
    void Answered(bool yes);
    void ServerFailed(const QString& what, const QString& reason);
    void End(const QString& message);

    const SettingsStore& m_store;
    ActivityLog& m_log;
    UpdateView& m_view;
    ProgramFile m_program;
    Rename m_rename;
    std::unique_ptr<HTTPClass> m_http;
    int m_transferTimeoutMs = HTTPClass::kDefaultTransferTimeoutMs;
    bool m_running = false;
    QString m_server;
};
