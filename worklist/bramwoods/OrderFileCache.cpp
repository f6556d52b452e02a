#include "worklist/bramwoods/OrderFileCache.h"

#include <algorithm>

#include "platform/MwlError.h"

namespace {

FolderStamps::Names SortedOrderFiles(const FolderStamps& folder) {
    FolderStamps::Names found = folder.NamesEndingIn(QStringLiteral(".HL7"));
    std::sort(found.names.begin(), found.names.end());
    return found;
}

}  // namespace

QString OrderFileCache::FolderError(const QString& folder, const QString& why) {
    return QStringLiteral("Order folder %1 cannot be read: %2").arg(folder, why);
}

QStringList OrderFileCache::OrderFiles(const QString& folder) {
    const FolderStamps::Names found = SortedOrderFiles(FolderStamps(folder));
    if (found.problem)
        throw MwlError(FolderError(folder, *found.problem), FailureKind::OrderFolderNotAvailable);
    return found.names;
}

// A folder that was a mount point and is one no more is the empty folder
// under a share that went away, not an empty worklist.
std::optional<QString> OrderFileCache::FolderProblem(const FolderStamps& folder) {
    if (folder.Problem()) return folder.Problem();
    if (folder.MountPoint())
        m_wasMountPoint = true;
    else if (m_wasMountPoint)
        return QStringLiteral("the file system mounted on it is gone");
    return std::nullopt;
}

OrderFileCache::Listing OrderFileCache::List(const QString& folder) {
    std::lock_guard lock(m_mutex);
    if (folder != m_folder) {
        m_folder = folder;
        m_entries.clear();
        m_reported.clear();
        m_listed = false;
        m_wasMountPoint = false;
    }
    const FolderWatch::Changes changes = m_watch.Look(folder);
    m_watched = m_watch.Watching();
    if (changes.known) {
        m_reported.unite(changes.names);
    } else {
        ++m_epoch;
        m_reported.clear();
    }
    auto stamps = std::make_shared<const FolderStamps>(folder);
    std::optional<QString> problem = FolderProblem(*stamps);
    if (!problem && (!changes.known || changes.namesChanged || !m_listed)) {
        const FolderStamps::Names found = SortedOrderFiles(*stamps);
        problem = found.problem;
        m_names = found.names;
        m_listed = !problem;
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
    Listing listing{folder, m_names, stamps, m_watch.Description()};
    listing.revalidationChanged = listing.revalidation != m_revalidation;
    m_revalidation = listing.revalidation;
    if (problem) {
        // Listed afresh once it can be read again.
        m_listed = false;
        listing.names.clear();
        listing.problem = FolderError(folder, *problem);
    }
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
            OrderFields(DecodeOrderLine(ReadFirstLine(listing.folder + name).bytes)));
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
    OrderLine line;
    try {
        line = ReadFirstLine(listing.folder + name);
    } catch (const MwlError&) {
        // Whatever was kept of an earlier version is no longer the file.
        m_entries.remove(name);
        throw;
    }
    auto item = std::make_shared<const OrderItem>(OrderFields(DecodeOrderLine(line.bytes)));
    // The stamp of the version read, unchanged from before the read to after
    // it: a write since changes it and forces another read next time.
    m_entries.insert(name, Entry{line.stamp, item, m_epoch,
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
