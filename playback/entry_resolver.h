// Finding the file a playlist entry names when it is not where the entry
// says: lists written on a system that ignores case name "Sub/B.MP3" for
// sub/b.mp3. Each path component that does not exist as written is matched
// regardless of case against its folder's names (the first match in code
// point order), from the longest existing start of the path on.
//
// Looking up a missing name lists its folder; a list of 100,000 entries with
// thousands missing from one large folder must not list it thousands of
// times. The resolver keeps each folder's names (folded case -> the first
// matching name) and lists a folder again only when its modification time
// has changed; the least recently used listings go once the names kept
// exceed kMaxNames. Listing a folder can take long (a large or slow one):
// Resolve belongs on a worker or the player's thread, never the window's.
//
// Thread-safe: one Shared() instance serves the player's thread, the list
// loader and the tag reader; a folder being listed by one thread is waited
// for, not listed again, by the others.
#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace wl {

class TEntryResolver {
public:
    // Names kept over all folders before the least recently used go.
    static constexpr int64_t kMaxNames = 1'000'000;

    static TEntryResolver& Shared();

    // `path` itself when it exists (or is empty); else the existing file
    // found as above; else `path` unchanged. Relative paths stay relative
    // (to the current folder).
    QString Resolve(const QString& path);

    // Folder listings made so far (each one read of a folder's names).
    int64_t Listings() const;
    // Forgets every listing (tests).
    void Clear();

private:
    struct TFolder {
        int64_t Modified = 0;  // ns since the epoch, as listed
        uint64_t Used = 0;
        QHash<QString, QString> ByFolded;  // case-folded name -> the first name in code point order
    };
    // The name in `folder` (an existing folder's path) that matches `name`
    // regardless of case; empty when none.
    QString Match(const QString& folder, const QString& name);
    void Evict();

    mutable std::mutex mutex_;
    std::condition_variable listed_;
    QHash<QString, TFolder> folders_;
    QSet<QString> listing_;  // folders being listed now
    int64_t names_ = 0;
    int64_t listings_ = 0;
    uint64_t clock_ = 0;
};

}  // namespace wl
