#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/FileStamp.h"
#include "platform/FolderWatch.h"
#include "worklist/bramwoods/OrderItem.h"

// The order files of the folder, parsed and made ready to answer, kept
// between queries. An entry is used only while its file's identity, size and
// modification time are unchanged, so a file that is added, rewritten or
// replaced is read afresh at the very next query, exactly as without the
// cache.
//
// Where the file system reports changes (see FolderWatch), the folder is
// listed again only when a file came, went or was renamed, and a file is
// examined again only when it was reported changed; files with other hard
// links and symbolic links are examined at every query, as is every file of
// a folder whose changes are not reported.
//
// The query workers share one cache: every call is made whole under its lock.
class OrderFileCache {
public:
    // The order files of a folder at the start of one query. Each query keeps
    // its own: one that starts meanwhile does not disturb it.
    // Without kernel reports every file is examined at every query.
    explicit OrderFileCache(bool useKernelReports = true) : m_watch(useKernelReports) {}

    struct Listing {
        QString folder;     // with its trailing separator
        QStringList names;  // "*.HL7", sorted
        std::shared_ptr<const FolderStamps> stamps;
        // How the folder is kept up to date, for the log, and whether that
        // changed since the last listing said.
        QString revalidation;
        bool revalidationChanged = false;
        // Why the folder cannot be read (it is gone, cannot be opened or
        // listed, or the file system mounted there is gone); the names are
        // then empty, and the query must not pass for an empty worklist.
        std::optional<QString> problem;
    };

    Listing List(const QString& folder);
    // The "*.HL7" entries of the folder, sorted, as it holds them now.
    // Throws MwlError naming the folder when it cannot be read.
    static QStringList OrderFiles(const QString& folder);
    // The order file `name` of the listing. Throws MwlError naming the file
    // when it cannot be read (or may be torn); nothing of it is kept then, so
    // the next query reads it again.
    std::shared_ptr<const OrderItem> Item(const Listing& listing, const QString& name);
    // Drops entries of files that no query has used since the last call.
    void Prune();

private:
    std::shared_ptr<const OrderItem> ItemLocked(const Listing& listing, const QString& name);
    std::optional<QString> FolderProblem(const FolderStamps& folder);
    static QString FolderError(const QString& folder, const QString& why);

    struct Entry {
        FileStamp stamp;
        std::shared_ptr<const OrderItem> item;
        quint64 checkedIn = 0;   // the epoch in which the file was last examined
        bool watchable = false;  // a single-link regular file: its changes are reported
        bool seen = true;
    };

    QString m_folder;
    QHash<QString, Entry> m_entries;  // by file name
    FolderWatch m_watch;
    QStringList m_names;
    bool m_listed = false;
    bool m_watched = false;  // the folder is watched: what is examined now stays known
    bool m_wasMountPoint = false;  // a file system was mounted on the folder
    // A new epoch begins whenever changes may have gone unreported: what was
    // examined before must be examined again.
    quint64 m_epoch = 1;
    QSet<QString> m_reported;  // reported changed, not yet examined again
    QString m_revalidation;    // as the last listing told it
    std::mutex m_mutex;
};
