#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The program's options: --headless, --home DIR, --delay SECONDS, --help.
struct CommandLine {
    bool headless = false;
    bool help = false;
    QString homeFolder;  // empty: the executable's folder
    std::optional<int> delaySeconds;
    QString error;       // set when the arguments are not understood

    static CommandLine Parse(const QStringList& arguments);
    static QString Usage();
};
