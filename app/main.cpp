#include <QCoreApplication>
#include <QDir>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/HeadlessServer.h"
#include "platform/settings/QtSettingsStore.h"

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = CommandLine::Parse(arguments);
    if (!line.error.isEmpty() || line.help) {
        if (!line.error.isEmpty()) std::fprintf(stderr, "talvek-mwl: %s\n", qPrintable(line.error));
        std::fputs(qPrintable(CommandLine::Usage()), line.help ? stdout : stderr);
        return line.help ? 0 : 2;
    }
    QCoreApplication app(argc, argv);
    const QString home =
        line.homeFolder.isEmpty() ? QCoreApplication::applicationDirPath() : line.homeFolder;
    if (!line.headless)
        std::fputs("talvek-mwl: this build has no desktop window yet; serving headless.\n", stderr);
    QtSettingsStore store;
    HeadlessServer server(store, QDir(home).absolutePath());
    return server.Run();
}
