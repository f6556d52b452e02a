#include "platform/MakePath.h"

#include <QDir>

void MakePath(const QString& path) {
    const QDir here;
    for (qsizetype at = path.indexOf(QLatin1Char('/'), 1); at >= 0;
         at = path.indexOf(QLatin1Char('/'), at + 1))
        here.mkdir(path.left(at));
}
