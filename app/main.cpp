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
// space, and keeps what its thread freed. The service's threads mostly wait
// on the network and take turns with each other's queries: with one arena
// the memory one query freed serves the next, whichever thread runs it, and
// the process stays small under an address-space limit (measured: the peak
// after a bench's worth of 5,000-match answers is about a tenth lower than
// with four arenas, and 16 modalities at once are answered as fast).
constexpr int kAllocatorArenas = 1;

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
