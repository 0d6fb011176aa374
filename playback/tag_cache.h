// The tag cache: what the tags of a file said, keyed by its path, size and
// modification time, so that a file read once needs only a stat at the next
// start. One file ($XDG_CACHE_HOME/wavelantern/tags.bin) holds it; it is read
// whole and written whole (QSaveFile), and a damaged or truncated one is
// ignored (the cache starts empty and the file is written anew). It keeps at
// most `capacity` files; those used longest ago go first.
//
// Not thread-safe: the tag reader's thread alone uses it.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "playback/playlist_model.h"

namespace wl {

// What a stat tells of a file: a change of either means it is read again.
struct TFileStamp {
    int64_t Size = 0;
    int64_t MTimeNs = 0;
    bool operator==(const TFileStamp&) const = default;
};

// The stamp of the regular file `path`; nothing when there is none (missing,
// a folder, a device).
std::optional<TFileStamp> StatRegularFile(const QString& path);

class TTagCache {
public:
    // About 300 bytes of memory per file kept.
    static constexpr size_t kDefaultCapacity = 250'000;

    explicit TTagCache(size_t capacity = kDefaultCapacity);

    // $XDG_CACHE_HOME/wavelantern/tags.bin (~/.cache when the variable is
    // unset or not an absolute path).
    static QString DefaultPath();

    // Replaces the cache by the file's. A missing file leaves it empty; a
    // damaged one too, and Dirty (so the next Save writes a sound one).
    // False only for a damaged file.
    bool Load(const QString& file);
    // Writes the cache whole (the folder made when missing); Dirty is
    // cleared when it was written. False (with `reason`) when it could not be.
    bool Save(const QString& file, QString* reason = nullptr);

    // The tags kept for `path` when its stamp is still `stamp` (counts as a use).
    std::optional<TEntryTags> Find(const QString& path, const TFileStamp& stamp);
    void Put(const QString& path, const TFileStamp& stamp, const TEntryTags& tags);

    size_t Size() const { return records_.size(); }
    size_t Capacity() const { return capacity_; }
    // Changed since it was loaded or saved.
    bool Dirty() const { return dirty_; }

private:
    struct TRecord {
        TFileStamp Stamp;
        uint64_t Used = 0;  // higher: used more recently
        int32_t Track = 0;
        std::string Texts;  // title, artist and album in UTF-8, each ended by a NUL
    };
    // Drops the records used longest ago until `keep` remain.
    void Trim(size_t keep);

    size_t capacity_;
    uint64_t clock_ = 0;
    bool dirty_ = false;
    std::unordered_map<std::string, TRecord> records_;  // by UTF-8 path
};

}  // namespace wl
