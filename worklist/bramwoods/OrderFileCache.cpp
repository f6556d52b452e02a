#include "worklist/bramwoods/OrderFileCache.h"

#include <QDir>
#include <algorithm>

QStringList OrderFileCache::OrderFiles(const QString& folder) {
    QStringList files =
        QDir(folder).entryList({QStringLiteral("*.HL7")}, QDir::Files, QDir::Unsorted);
    std::sort(files.begin(), files.end());
    return files;
}

OrderFileCache::Listing OrderFileCache::List(const QString& folder) {
    std::lock_guard lock(m_mutex);
    if (folder != m_folder) {
        m_folder = folder;
        m_entries.clear();
        m_reported.clear();
        m_listed = false;
    }
    const FolderWatch::Changes changes = m_watch.Look(folder);
    m_watched = m_watch.Watching();
    if (changes.known) {
        m_reported.unite(changes.names);
    } else {
        ++m_epoch;
        m_reported.clear();
    }
    if (!changes.known || changes.namesChanged || !m_listed) {
        m_names = OrderFiles(folder);
        m_listed = true;
        // Reports of files that are gone or are no order files (a temporary
        // file renamed into place) would otherwise pile up; what is kept of
        // a file that is gone is dropped with its report.
        const QSet<QString> listed(m_names.cbegin(), m_names.cend());
        for (auto it = m_reported.begin(); it != m_reported.end();) {
            if (listed.contains(*it)) {
                ++it;
            } else {
                m_entries.remove(*it);
                it = m_reported.erase(it);
            }
        }
    }
    Listing listing{folder, m_names, std::make_shared<const FolderStamps>(folder),
                    m_watch.Description()};
    listing.revalidationChanged = listing.revalidation != m_revalidation;
    m_revalidation = listing.revalidation;
    return listing;
}

std::shared_ptr<const OrderItem> OrderFileCache::Item(const Listing& listing, const QString& name) {
    std::lock_guard lock(m_mutex);
    return ItemLocked(listing, name);
}

std::shared_ptr<const OrderItem> OrderFileCache::ItemLocked(const Listing& listing,
                                                            const QString& name) {
    // A query whose folder is no longer the cache's (the folder was changed
    // while it ran) reads its files as they are, without the cache.
    if (listing.folder != m_folder)
        return std::make_shared<const OrderItem>(
            OrderFields(DecodeOrderLine(ReadFirstLine(listing.folder + name))));
    const auto found = m_entries.find(name);
    const bool reported = m_reported.remove(name);
    const bool known = found != m_entries.end() && found->checkedIn == m_epoch;
    if (known && found->watchable && !reported) {
        found->seen = true;
        return found->item;
    }
    const std::optional<FileStamp> stamp = listing.stamps->Stamp(name);
    if (stamp && found != m_entries.end() && found->stamp == *stamp) {
        found->seen = true;
        found->checkedIn = m_epoch;
        // Whether its changes are reported is settled when the file is first
        // examined under the watch, and again when it is reported (a new
        // link to it elsewhere is reported too).
        if (!known || reported)
            found->watchable = m_watched && listing.stamps->SingleLinkRegularFile(name);
        return found->item;
    }
    auto item = std::make_shared<const OrderItem>(
        OrderFields(DecodeOrderLine(ReadFirstLine(listing.folder + name))));
    // Only a stamp taken before the read is safe to trust later: a write
    // during the read changes the stamp and forces another read next time.
    if (stamp)
        m_entries.insert(name,
                         Entry{*stamp, item, m_epoch,
                               m_watched && listing.stamps->SingleLinkRegularFile(name), true});
    return item;
}

void OrderFileCache::Prune() {
    std::lock_guard lock(m_mutex);
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (!it->seen) {
            it = m_entries.erase(it);
        } else {
            it->seen = false;
            ++it;
        }
    }
}
