#include "app/ConnectionFile.h"

#include <QDir>
#include <QFile>

#include "platform/MwlError.h"

namespace {

std::optional<ModeOptions::Option> DatabaseOption(const ModeOptions& options) {
    for (const auto option : {ModeOptions::Talvek, ModeOptions::Pelta, ModeOptions::Corvante,
                              ModeOptions::Orvelline})
        if (options.Selected(option)) return option;
    return std::nullopt;
}

}  // namespace

std::optional<QString> ReadINI(const ModeOptions& options, const QString& homeFolder) {
    const auto option = DatabaseOption(options);
    if (!option) return std::nullopt;
    // The stored names begin with a backslash; the folder separator here is "/".
    const QString name = ModeOptions::ConnectionFile(*option).mid(1);
    QFile file(QDir(homeFolder).filePath(name));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw MwlError(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
    QString line = QString::fromUtf8(file.readLine());
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) line.chop(1);
    return line;
}
