// The cover art of an entry as a picture file: the picture in its tags,
// written once into the art cache, else the cover image of its folder (used
// where it lies). Reads and writes the disk: never called on the window's
// thread.
//
// The art cache is $XDG_CACHE_HOME/wavelantern/art (~/.cache when unset):
// one file per picture, named by a hash of its bytes, each written atomically.
// It holds at most kMaxFiles files and kMaxBytes bytes; past either limit the
// files used longest ago go first (a picture found in the cache again counts
// as used now).
#pragma once

#include <QString>

#include <cstdint>

#include "info/picture.h"

namespace wl {

class TArtCache {
public:
    static constexpr int kMaxFiles = 1000;
    static constexpr int64_t kMaxBytes = 50ll << 20;

    // The cache in `folder` (created when first written).
    explicit TArtCache(QString folder = DefaultFolder());
    static QString DefaultFolder();
    const QString& Folder() const { return folder_; }

    // The file that holds `picture`: found, or written now (and the cache
    // brought back under its limits). Empty when it cannot be written.
    QString Store(const TPicture& picture) const;

private:
    void Prune(const QString& keep) const;
    QString folder_;
};

// The picture file for the audio file `source`; empty when it has none (and
// for a station).
QString FindCoverArt(const QString& source, const TArtCache& cache = TArtCache());

}  // namespace wl
