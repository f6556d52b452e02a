#include <malloc.h>

#include <QApplication>
#include <QDir>
#include <cstdio>

#include "app/CommandLine.h"
#include "app/DesktopProgram.h"
#include "app/HeadlessServer.h"
#include "app/SignalWatcher.h"
#include "platform/settings/QtSettingsStore.h"

namespace {

constexpr int kDefaultDelaySeconds = 60;
// glibc gives each thread that allocates while the others do an allocator
// arena of its own, up to eight per core, each reserving 64 MiB of address
// space. The service's threads mostly wait on the network; a few arenas
// serve them and keep the process small under an address-space limit.
constexpr int kAllocatorArenas = 4;

QString HomeFolder(const CommandLine& line) {
    const QString home =
        line.homeFolder.isEmpty() ? QCoreApplication::applicationDirPath() : line.homeFolder;
    return QDir(home).absolutePath();
}

}  // namespace

int main(int argc, char* argv[]) {
    SignalWatcher::CatchSignals();
    mallopt(M_ARENA_MAX, kAllocatorArenas);
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = CommandLine::Parse(arguments);
    if (!line.error.isEmpty() || line.help) {
        if (!line.error.isEmpty()) std::fprintf(stderr, "talvek-mwl: %s\n", qPrintable(line.error));
        std::fputs(qPrintable(CommandLine::Usage()), line.help ? stdout : stderr);
        return line.help ? 0 : 2;
    }
    if (line.headless) {
        QCoreApplication app(argc, argv);
        QtSettingsStore store;
        HeadlessServer server(store, HomeFolder(line));
        return server.Run();
    }
    QApplication app(argc, argv);
    QtSettingsStore store;
    DesktopProgram program(store, HomeFolder(line),
                           line.delaySeconds.value_or(kDefaultDelaySeconds));
    return program.Run();
}
