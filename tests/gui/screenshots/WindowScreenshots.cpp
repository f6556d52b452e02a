// Draws the main window of the running service into PNG files for the README:
// the "&Log" tab after a worklist query from findscu, and the "&Options" tab.
//   window_screenshots --home DIR OUTPUT-FOLDER
// The settings come from $XDG_CONFIG_HOME as for talvek-mwl; scripts/screenshots.sh
// sets up the demo and runs this offscreen.

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <cstdio>

#include "app/MainWindow.h"
#include "app/ServerRuntime.h"
#include "platform/settings/QtSettingsStore.h"

namespace {

constexpr int kQueryTimeoutMs = 30000;

bool QueryWorklist(int port) {
    QProcess findscu;
    findscu.setStandardOutputFile(QProcess::nullDevice());
    findscu.setStandardErrorFile(QProcess::nullDevice());
    QEventLoop wait;
    QObject::connect(&findscu, &QProcess::finished, &wait, &QEventLoop::quit);
    QObject::connect(&findscu, &QProcess::errorOccurred, &wait, &QEventLoop::quit);
    QTimer::singleShot(kQueryTimeoutMs, &wait, &QEventLoop::quit);
    findscu.start(QStringLiteral("findscu"),
                  {QStringLiteral("-W"), QStringLiteral("-k"), QStringLiteral("PatientName="),
                   QStringLiteral("-k"), QStringLiteral("PatientID="), QStringLiteral("-k"),
                   QStringLiteral("ScheduledProcedureStepSequence[0].Modality=CR"),
                   QStringLiteral("127.0.0.1"), QString::number(port)});
    wait.exec();
    return findscu.state() == QProcess::NotRunning && findscu.exitCode() == 0;
}

bool Save(QWidget& window, const QString& path) {
    QCoreApplication::processEvents();
    const bool saved = window.grab().save(path);
    std::fprintf(stderr, "%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 4 || arguments[1] != QLatin1String("--home")) {
        std::fputs("usage: window_screenshots --home DIR OUTPUT-FOLDER\n", stderr);
        return 2;
    }
    const QDir output(arguments[3]);
    QtSettingsStore store;
    ServerRuntime runtime(store, QDir(arguments[2]).absolutePath());
    MainWindow window(runtime);
    window.show();
    window.Load();
    if (!runtime.Listening() || !QueryWorklist(runtime.Port())) {
        std::fprintf(stderr, "the query failed; activity log:\n%s\n",
                     qPrintable(runtime.Log().Text()));
        return 1;
    }
    window.Log().Flush();
    bool saved = Save(window, output.filePath(QStringLiteral("main-window-log.png")));
    window.Ui().SSTab1->setCurrentIndex(1);
    saved = Save(window, output.filePath(QStringLiteral("main-window-options.png"))) && saved;
    runtime.Shutdown();
    return saved ? 0 : 1;
}
