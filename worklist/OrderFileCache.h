#pragma once

#include <QHash>
#include <QString>
#include <memory>

#include "platform/FileStamp.h"
#include "worklist/OrderFile.h"

// The parsed first lines of the order files, kept between queries. An entry
// is used only while its file's identity, size and modification time are
// unchanged, so a file that is added, rewritten or replaced is read afresh at
// the very next query, exactly as without the cache.
class OrderFileCache {
public:
    // The file `name` of the open folder at `folderPath`. Throws MwlError
    // naming the file when it cannot be read.
    std::shared_ptr<const OrderFields> Fields(const FolderStamps& folder,
                                              const QString& folderPath, const QString& name);
    // Drops entries of files that no listing has returned since the last call.
    void Prune();

private:
    struct Entry {
        FileStamp stamp;
        std::shared_ptr<const OrderFields> fields;
        bool seen = true;
    };
    QHash<QString, Entry> m_entries;
};
