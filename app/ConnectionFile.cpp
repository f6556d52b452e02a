#include "app/ConnectionFile.h"

#include <QDir>
#include <QFile>

#include "platform/MwlError.h"
#include "worklist/SourceFor.h"

std::optional<QString> ReadINI(ConnectionMode mode, const QString& homeFolder) {
    const QString stored = SourceFor(mode).ConnectionFile();
    if (stored.isEmpty()) return std::nullopt;
    // The stored names begin with a backslash; the folder separator here is "/".
    QFile file(QDir(homeFolder).filePath(stored.mid(1)));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        throw MwlError(QStringLiteral("%1: %2").arg(file.fileName(), file.errorString()));
    QString line = QString::fromUtf8(file.readLine());
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) line.chop(1);
    return line;
}
