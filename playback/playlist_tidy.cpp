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
#include <unordered_map>

#include "playback/m3u.h"
#include "playback/playlist_model.h"
#include "playback/playlist_names.h"
#include "playback/playlist_search.h"

namespace wl {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A folded text made such that byte order is the order wanted: runs of
// digits by their value ("track 2" before "track 10"). A run becomes "0", its
// length (two bytes) and its digits without leading zeros; "0" sorts against
// other characters as any digit would.
std::string NaturalKey(std::string folded) {
    std::string key;
    key.reserve(folded.size() + 8);
    for (size_t i = 0; i < folded.size();) {
        if (!IsDigit(folded[i])) {
            key += folded[i++];
            continue;
        }
        size_t end = i;
        while (end < folded.size() && IsDigit(folded[end])) ++end;
        while (i + 1 < end && folded[i] == '0') ++i;
        const size_t length = std::min<size_t>(end - i, 0xFFFF);
        key += '0';
        key += static_cast<char>(length >> 8);
        key += static_cast<char>(length & 0xFF);
        key.append(folded, i, length);
        i = end;
    }
    return key;
}

// Rows ordered by their keys' bytes, stably. The sort moves small items: the
// eight bytes after the prefix all keys share, and the row; only items alike
// there look at the rest of their keys.
std::vector<int> OrderByKeys(const std::vector<std::string>& keys) {
    size_t shared = keys.empty() ? 0 : keys.front().size();
    for (const std::string& key : keys) {
        size_t n = 0;
        while (n < shared && n < key.size() && key[n] == keys.front()[n]) ++n;
        shared = n;
    }
    struct TItem {
        uint64_t head;
        int row;
    };
    std::vector<TItem> items(keys.size());
    for (size_t r = 0; r < keys.size(); ++r) {
        uint64_t head = 0;
        for (size_t b = 0; b < 8; ++b) {
            const size_t at = shared + b;
            head = head << 8 | (at < keys[r].size() ? static_cast<unsigned char>(keys[r][at]) : 0);
        }
        items[r] = {head, static_cast<int>(r)};
    }
    const size_t restAt = shared + 8;
    auto rest = [&](int row) {
        const std::string& key = keys[static_cast<size_t>(row)];
        return key.size() > restAt ? std::string_view(key).substr(restAt) : std::string_view();
    };
    std::stable_sort(items.begin(), items.end(), [&](const TItem& a, const TItem& b) {
        if (a.head != b.head) return a.head < b.head;
        return rest(a.row) < rest(b.row);
    });
    std::vector<int> order(keys.size());
    for (size_t i = 0; i < items.size(); ++i) order[i] = items[i].row;
    return order;
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

// Where an entry's sound comes from: its path and range.
struct TEntryKey {
    QString path;
    TSampleRange range;
    bool operator==(const TEntryKey&) const = default;
};

struct TEntryKeyHash {
    size_t operator()(const TEntryKey& key) const { return qHashMulti(0, key.path, key.range.First, key.range.Count); }
};

int TrackKey(const TPlaylistEntry& entry) {
    const int track = entry.Tags.Track > 0 ? entry.Tags.Track : entry.Meta.Track;
    return track > 0 ? track : INT_MAX;  // none: last
}

}  // namespace

int PlaylistModel::Sort(TSortKey key) {
    if (Empty() || Rows() < 2) return 0;
    const int rows = Rows();
    std::vector<int> order(static_cast<size_t>(rows));
    if (key == TSortKey::Track) {
        std::iota(order.begin(), order.end(), 0);
        std::vector<int> tracks(static_cast<size_t>(rows));
        for (int r = 0; r < rows; ++r) tracks[r] = TrackKey(entries_[r]);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return tracks[a] < tracks[b]; });
    } else {
        std::vector<std::string> keys(static_cast<size_t>(rows));
        for (int r = 0; r < rows; ++r) {
            const TPlaylistEntry& entry = entries_[r];
            const QStringView text = key == TSortKey::FileName
                                         ? QStringView(entry.Path).sliced(entry.Path.lastIndexOf(QLatin1Char('/')) + 1)
                                         : QStringView(TextKey(entry, key));
            keys[r] = NaturalKey(FoldForSearch(text));
        }
        order = OrderByKeys(keys);
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
    // The first row of each path and range is kept; the others name it.
    std::unordered_map<TEntryKey, int, TEntryKeyHash> first;
    first.reserve(static_cast<size_t>(rows));
    std::vector<int> keptAs(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r) {
        const TPlaylistEntry& entry = entries_[r];
        keptAs[r] = first.try_emplace(TEntryKey{entry.Path, entry.Range}, r).first->second;
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
    // In place: rows kept in their order move up; a new order of every row
    // (a sort) is followed cycle by cycle.
    if (std::is_sorted(from.begin(), from.end())) {
        for (int r = 0; r < kept; ++r) {
            if (from[r] != r) entries_[r] = std::move(entries_[from[r]]);
        }
        entries_.resize(from.size());
    } else {
        std::vector<char> placed(from.size(), 0);
        for (int start = 0; start < kept; ++start) {
            if (placed[start]) continue;
            TPlaylistEntry first = std::move(entries_[start]);
            int r = start;
            for (; from[r] != start; r = from[r]) {
                entries_[r] = std::move(entries_[from[r]]);
                placed[r] = 1;
            }
            entries_[r] = std::move(first);
            placed[r] = 1;
        }
    }
    for (int r = 0; r < kept; ++r) NotPlayed[r + 1] = picked[r] ? 0 : r + 1;
    // Entries added later at the freed numbers start as not played.
    for (int n = kept + 1; n <= rows; ++n) NotPlayed[n] = n;
    EntryCount = kept;
    CurrentEntry = kept == 0 ? 0 : current;
    emit Reordered(from);
}

std::vector<int> PlaylistModel::MissingRows(const QStringList& paths, const std::function<bool(const QString&)>& exists,
                                            const std::function<bool(int looked)>& progress) {
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
                const QDir::Filters filters = QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
                for (const QString& name : QDir(real).entryList(filters, QDir::Unsorted))
                    names.insert(name.toCaseFolded());
            }
            it = folders.insert(folder, std::move(names));
        }
        return it->contains(path.sliced(slash + 1).toCaseFolded());
    };
    std::vector<int> missing;
    for (qsizetype r = 0; r < paths.size(); ++r) {
        if ((r & 255) == 0 && progress && progress(static_cast<int>(r))) break;
        const QString& path = paths[r];
        if (path.isEmpty() || IsStreamUrl(path)) continue;
        if (!found(path)) missing.push_back(static_cast<int>(r));
    }
    return missing;
}

}  // namespace wl
