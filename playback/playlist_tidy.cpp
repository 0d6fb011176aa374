// The playlist's sorting and tidying (PlaylistModel, playlist_model.h):
// orders and removals worked out on row numbers, then applied in one go.
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <climits>
#include <numeric>
#include <string>
#include <string_view>

#include "playback/m3u.h"
#include "playback/playlist_model.h"
#include "playback/playlist_names.h"
#include "playback/playlist_search.h"

namespace wl {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Folded texts in code point order, except that runs of digits compare by
// their value ("track 2" before "track 10").
int NaturalCompare(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t aEnd = i, bEnd = j;
            while (aEnd < a.size() && IsDigit(a[aEnd])) ++aEnd;
            while (bEnd < b.size() && IsDigit(b[bEnd])) ++bEnd;
            while (i + 1 < aEnd && a[i] == '0') ++i;
            while (j + 1 < bEnd && b[j] == '0') ++j;
            if (aEnd - i != bEnd - j) return aEnd - i < bEnd - j ? -1 : 1;
            if (const int c = a.substr(i, aEnd - i).compare(b.substr(j, bEnd - j)); c != 0) return c;
            i = aEnd;
            j = bEnd;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i;
        ++j;
    }
    const size_t aLeft = a.size() - i, bLeft = b.size() - j;
    return aLeft < bLeft ? -1 : aLeft > bLeft ? 1 : 0;
}

const QString& TextKey(const TPlaylistEntry& entry, PlaylistModel::TSortKey key) {
    using K = PlaylistModel::TSortKey;
    const QString* tag = nullptr;
    const QString* listed = nullptr;
    switch (key) {
    case K::Title: tag = &entry.Tags.Title, listed = &entry.Meta.Title; break;
    case K::Artist: tag = &entry.Tags.Artist, listed = &entry.Meta.Artist; break;
    case K::Album: tag = &entry.Tags.Album, listed = &entry.Meta.Album; break;
    default: return entry.Path;
    }
    return !tag->isEmpty() ? *tag : !listed->isEmpty() ? *listed : entry.Name;
}

int TrackKey(const TPlaylistEntry& entry) {
    const int track = entry.Tags.Track > 0 ? entry.Tags.Track : entry.Meta.Track;
    return track > 0 ? track : INT_MAX;  // none: last
}

}  // namespace

int PlaylistModel::Sort(TSortKey key) {
    if (Empty() || Rows() < 2) return 0;
    const int rows = Rows();
    std::vector<int> order(static_cast<size_t>(rows));
    std::iota(order.begin(), order.end(), 0);
    if (key == TSortKey::Track) {
        std::vector<int> tracks(static_cast<size_t>(rows));
        for (int r = 0; r < rows; ++r) tracks[r] = TrackKey(entries_[r]);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return tracks[a] < tracks[b]; });
    } else {
        std::vector<std::string> keys(static_cast<size_t>(rows));
        for (int r = 0; r < rows; ++r) {
            const TPlaylistEntry& entry = entries_[r];
            keys[r] = FoldForSearch(key == TSortKey::FileName ? FileNamePart(entry.Path) : TextKey(entry, key));
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return NaturalCompare(keys[a], keys[b]) < 0; });
    }
    int moved = 0;
    int current = CurrentEntry;
    for (int r = 0; r < rows; ++r) {
        if (order[r] != r) ++moved;
        if (order[r] == CurrentEntry - 1) current = r + 1;
    }
    if (moved > 0) Rearrange(order, current);
    return moved;
}

int PlaylistModel::RemoveDuplicates() {
    if (Empty() || Rows() < 2) return 0;
    const int rows = Rows();
    // Rows by path and range, each group in row order: its first is kept.
    std::vector<int> byKey(static_cast<size_t>(rows));
    std::iota(byKey.begin(), byKey.end(), 0);
    auto less = [&](int a, int b) {
        const TPlaylistEntry& x = entries_[a];
        const TPlaylistEntry& y = entries_[b];
        if (const int c = x.Path.compare(y.Path); c != 0) return c < 0;
        if (x.Range.First != y.Range.First) return x.Range.First < y.Range.First;
        return x.Range.Count < y.Range.Count;
    };
    std::stable_sort(byKey.begin(), byKey.end(), less);
    std::vector<int> keptAs(static_cast<size_t>(rows));  // the row kept for each row
    for (size_t i = 0; i < byKey.size(); ++i) {
        const bool same = i > 0 && !less(byKey[i - 1], byKey[i]);
        keptAs[byKey[i]] = same ? keptAs[byKey[i - 1]] : byKey[i];
    }
    std::vector<int> from;
    std::vector<int> newRow(static_cast<size_t>(rows), -1);
    for (int r = 0; r < rows; ++r) {
        if (keptAs[r] != r) continue;
        newRow[r] = static_cast<int>(from.size());
        from.push_back(r);
    }
    const int removed = rows - static_cast<int>(from.size());
    if (removed == 0) return 0;
    int current = CurrentEntry;
    if (CurrentEntry >= 1 && CurrentEntry <= rows) current = newRow[keptAs[CurrentEntry - 1]] + 1;
    Rearrange(from, current);
    return removed;
}

int PlaylistModel::RemoveRowsAt(const std::vector<int>& rowsToGo) {
    if (Empty()) return 0;
    const int rows = Rows();
    std::vector<char> goes(static_cast<size_t>(rows), 0);
    for (const int r : rowsToGo) {
        if (r >= 0 && r < rows) goes[r] = 1;
    }
    std::vector<int> from;
    from.reserve(static_cast<size_t>(rows));
    int current = CurrentEntry > rows ? CurrentEntry : 0;
    for (int r = 0; r < rows; ++r) {
        if (goes[r]) continue;
        from.push_back(r);
        // The current entry's place: its own, else the last kept before it.
        if (r < CurrentEntry) current = static_cast<int>(from.size());
    }
    const int removed = rows - static_cast<int>(from.size());
    if (removed == 0) return 0;
    Rearrange(from, std::min(current, static_cast<int>(from.size())));
    return removed;
}

void PlaylistModel::Rearrange(const std::vector<int>& from, int current) {
    const int rows = Rows();
    const int kept = static_cast<int>(from.size());
    std::vector<char> picked(from.size());  // the entries' not-played marks, by their new row
    for (int r = 0; r < kept; ++r) picked[r] = NotPlayed[from[r] + 1] == 0;
    std::vector<TPlaylistEntry> moved;
    moved.reserve(from.size());
    for (const int r : from) moved.push_back(std::move(entries_[r]));
    entries_ = std::move(moved);
    for (int r = 0; r < kept; ++r) NotPlayed[r + 1] = picked[r] ? 0 : r + 1;
    // Entries added later at the freed numbers start as not played.
    for (int n = kept + 1; n <= rows; ++n) NotPlayed[n] = n;
    EntryCount = kept;
    CurrentEntry = kept == 0 ? 0 : current;
    emit Reordered(from);
}

std::vector<int> PlaylistModel::MissingRows(const QStringList& paths, const std::function<bool(const QString&)>& exists,
                                            const std::function<bool()>& stop) {
    // Each folder's names, case folded, listed the first time a file in it is
    // missing; an empty set for a folder that is not there in any case.
    QHash<QString, QSet<QString>> folders;
    auto found = [&](const QString& path) {
        if (exists) return exists(path);
        if (QFileInfo::exists(path)) return true;
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QString folder = slash < 0 ? QStringLiteral(".") : slash == 0 ? QStringLiteral("/") : path.first(slash);
        auto it = folders.constFind(folder);
        if (it == folders.constEnd()) {
            QSet<QString> names;
            const QString real = QFileInfo(folder).isDir() ? folder : ResolveEntryPath(folder);
            if (QFileInfo(real).isDir()) {
                for (const QString& name :
                     QDir(real).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted))
                    names.insert(name.toCaseFolded());
            }
            it = folders.insert(folder, std::move(names));
        }
        return it->contains(path.sliced(slash + 1).toCaseFolded());
    };
    std::vector<int> missing;
    for (qsizetype r = 0; r < paths.size(); ++r) {
        if ((r & 255) == 0 && stop && stop()) break;
        const QString& path = paths[r];
        if (path.isEmpty() || IsStreamUrl(path)) continue;
        if (!found(path)) missing.push_back(static_cast<int>(r));
    }
    return missing;
}

}  // namespace wl
