#include "worklist/OrderFileCache.h"

std::shared_ptr<const OrderFields> OrderFileCache::Fields(const FolderStamps& folder,
                                                          const QString& folderPath,
                                                          const QString& name) {
    const QString path = folderPath + name;
    const std::optional<FileStamp> stamp = folder.Stamp(name);
    if (stamp) {
        const auto found = m_entries.find(path);
        if (found != m_entries.end() && found->stamp == *stamp) {
            found->seen = true;
            return found->fields;
        }
    }
    auto fields = std::make_shared<const OrderFields>(DecodeOrderLine(ReadFirstLine(path)));
    // Only a stamp taken before the read is safe to trust later: a write
    // during the read changes the stamp and forces another read next time.
    if (stamp) m_entries.insert(path, Entry{*stamp, fields, true});
    return fields;
}

void OrderFileCache::Prune() {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (!it->seen) {
            it = m_entries.erase(it);
        } else {
            it->seen = false;
            ++it;
        }
    }
}
