#include "playback/entry_resolver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <algorithm>

#include <sys/stat.h>

namespace wl {

namespace {

// The folder's modification time in ns; -1 when it cannot be read.
int64_t ModifiedNs(const QString& folder) {
    struct stat info {};
    if (::stat(QFile::encodeName(folder).constData(), &info) != 0) return -1;
    return static_cast<int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

QString Join(const QString& base, const QString& name) {
    return base.isEmpty() || base.endsWith(QLatin1Char('/')) ? base + name : base + QLatin1Char('/') + name;
}

}  // namespace

TEntryResolver& TEntryResolver::Shared() {
    static TEntryResolver resolver;
    return resolver;
}

int64_t TEntryResolver::Listings() const {
    std::lock_guard lock(mutex_);
    return listings_;
}

void TEntryResolver::Clear() {
    std::lock_guard lock(mutex_);
    folders_.clear();
    names_ = 0;
}

QString TEntryResolver::Resolve(const QString& path) {
    if (path.isEmpty() || QFileInfo::exists(path)) return path;
    const bool absolute = path.startsWith(QLatin1Char('/'));
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString resolved = absolute ? QStringLiteral("/") : QString();
    for (const QString& part : parts) {
        const QString exact = Join(resolved, part);
        if (part == QLatin1String(".") || part == QLatin1String("..") || QFileInfo::exists(exact)) {
            resolved = exact;
            continue;
        }
        const QString match = Match(resolved.isEmpty() ? QStringLiteral(".") : resolved, part);
        if (match.isEmpty()) return path;
        resolved = Join(resolved, match);
    }
    return QFileInfo::exists(resolved) ? resolved : path;
}

QString TEntryResolver::Match(const QString& folder, const QString& name) {
    const QString key = QDir(folder).absolutePath();
    const QString folded = name.toCaseFolded();
    const int64_t modified = ModifiedNs(key);
    if (modified < 0) return {};
    std::unique_lock lock(mutex_);
    // Another thread lists this folder: its listing serves here too.
    listed_.wait(lock, [&] { return !listing_.contains(key); });
    if (const auto known = folders_.find(key); known != folders_.end()) {
        if (known->Modified == modified) {
            known->Used = ++clock_;
            return known->ByFolded.value(folded);
        }
        names_ -= known->ByFolded.size();  // changed since: listed anew
        folders_.erase(known);
    }
    listing_.insert(key);
    lock.unlock();
    QStringList names =
        QDir(key).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    std::sort(names.begin(), names.end());  // by the names' code points: a fixed first match
    TFolder listing;
    listing.Modified = modified;
    listing.ByFolded.reserve(names.size());
    for (const QString& n : names) {
        const QString f = n.toCaseFolded();
        if (!listing.ByFolded.contains(f)) listing.ByFolded.insert(f, n);
    }
    const QString found = listing.ByFolded.value(folded);
    lock.lock();
    listing_.remove(key);
    ++listings_;
    listing.Used = ++clock_;
    names_ += listing.ByFolded.size();
    folders_.insert(key, std::move(listing));
    Evict();
    listed_.notify_all();
    return found;
}

// The least recently used folders go until the names kept fit (the one just
// listed stays, however large).
void TEntryResolver::Evict() {
    while (names_ > kMaxNames && folders_.size() > 1) {
        auto oldest = folders_.begin();
        for (auto it = folders_.begin(); it != folders_.end(); ++it) {
            if (it->Used < oldest->Used) oldest = it;
        }
        names_ -= oldest->ByFolded.size();
        folders_.erase(oldest);
    }
}

}  // namespace wl
