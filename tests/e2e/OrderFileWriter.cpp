#include "e2e/OrderFileWriter.h"

#include <QDateTime>
#include <QFile>

bool WriteFinishedOrderFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        return false;
    return file.setFileTime(QDateTime::currentDateTime().addSecs(-10),
                            QFileDevice::FileModificationTime);
}
