#include "playback/playlist_model.h"

#include <QRandomGenerator>

#include <algorithm>

#include "playback/m3u.h"
#include "playback/playlist_names.h"

namespace wl {

bool PlaylistModel::Empty() const { return entries_.empty() || entries_.front().Path.isEmpty(); }

QString PlaylistModel::Path(int row) const { return row >= 0 && row < Rows() ? entries_[row].Path : QString(); }

TPlaylistEntry PlaylistModel::Entry(int row) const { return row >= 0 && row < Rows() ? entries_[row] : TPlaylistEntry{}; }

QString PlaylistModel::Label(int row) const {
    if (row < 0 || row >= Rows() || entries_[row].Path.isEmpty()) return {};
    const TPlaylistEntry& entry = entries_[row];
    return EntryLabel(row + 1, entry.Played, entry.Name);
}

QStringList PlaylistModel::Paths() const {
    QStringList paths;
    if (Empty()) return paths;
    paths.reserve(Rows());
    for (const TPlaylistEntry& entry : entries_) paths.append(entry.Path);
    return paths;
}

QString PlaylistModel::NameFor(const QString& path) const { return NameOf ? NameOf(path) : DisplayName(path); }

void PlaylistModel::RowsChanged(int first, int last) {
    if (first <= last) emit Changed(first, last);
}

// ------------------------------------------------------------------ entries

bool PlaylistModel::AddEntry(const QString& path) { return AddEntry(TPlaylistEntry{path, {}, {}, {}, false}); }

bool PlaylistModel::AddEntry(const TPlaylistEntry& added) {
    const QString& path = added.Path;
    if (path.isEmpty() || !IsMp3Path(path)) return false;
    int row = 0;
    if (Empty()) {
        entries_.clear();
        EntryCount = 1;
    } else {
        if (EntryCount >= kMaxEntries || EntryCount < 0) return false;
        row = EntryCount;
        EntryCount = static_cast<int16_t>(EntryCount + 1);
    }
    // The new entry takes row EntryCount (the count before it was added).
    entries_.resize(static_cast<size_t>(row));
    entries_.push_back({path, added.Range, added.Meta, NameFor(path), false});
    emit Added(row);
    return true;
}

int PlaylistModel::ReadM3U(const QString& path) {
    int skipped = 0;
    for (const QString& entry : ReadPlaylistFile(path, true, &skipped)) AddEntry(entry);
    if (skipped > 0) emit LinesSkipped(path, skipped);
    return skipped;
}

int PlaylistModel::Load(const QString& path) {
    Clear();
    int skipped = 0;
    for (const QString& entry : ReadPlaylistFile(path, false, &skipped)) AddEntry(entry);
    if (skipped > 0) emit LinesSkipped(path, skipped);
    return skipped;
}

bool PlaylistModel::Save(const QString& path, QString* reason) const { return WritePlaylistFile(path, Paths(), reason); }

void PlaylistModel::Clear() {
    entries_.clear();
    EntryCount = 0;
    CurrentEntry = 0;
    emit Cleared();
}

void PlaylistModel::RemoveEntries(int first, int last) {
    const int rows = Rows();
    if (rows > 1 && (first < 0 || last < first || last >= rows)) return;
    const int removed = last - first + 1;
    if (rows <= 1 || removed >= rows) {
        entries_.clear();
        EntryCount = 0;
        emit Cleared();
        return;
    }
    EntryCount = static_cast<int16_t>(std::max(0, EntryCount - removed));
    RemoveRows(first, last - first);
    RenumberEntries();
}

void PlaylistModel::RemoveRows(int first, int count) {
    const int rows = Rows();
    const int removed = count + 1;
    if (first < 0 || count < 0 || first + removed > rows || removed >= rows) return;
    for (int r = first; r + removed < rows; ++r) {
        if (r + removed + 1 <= kMaxEntries) NotPlayed[r + 1] = NotPlayed[r + removed + 1];
    }
    // Entries added later at the freed numbers start as not played.
    for (int n = rows - removed + 1; n <= std::min(rows, kMaxEntries); ++n) NotPlayed[n] = static_cast<int16_t>(n);
    entries_.erase(entries_.begin() + first, entries_.begin() + first + removed);
    emit Removed(first, removed);
}

void PlaylistModel::RenumberEntries() {
    const int rows = std::min(Rows(), kMaxEntries);
    for (int r = 0; r < rows; ++r) {
        TPlaylistEntry& entry = entries_[r];
        entry.Played = NotPlayed[r + 1] == 0;
        entry.Name = NameFor(entry.Path);
    }
    RowsChanged(0, rows - 1);
}

void PlaylistModel::MarkPlayed(int row) {
    if (row < 0 || row >= Rows() || entries_[row].Played) return;
    entries_[row].Played = true;
    RowsChanged(row, row);
}

void PlaylistModel::SetName(int row, const QString& name) {
    if (row < 0 || row >= Rows()) return;
    TPlaylistEntry& entry = entries_[row];
    if (entry.Path.isEmpty() || entry.Name == name) return;
    entry.Name = name;
    RowsChanged(row, row);
}

// ------------------------------------------------------------- random order

void PlaylistModel::ResetNotPlayed() {
    for (int n = 1; n <= kMaxEntries; ++n) NotPlayed[n] = static_cast<int16_t>(n);
}

int16_t PlaylistModel::PickRandom() {
    const int n = std::clamp<int>(EntryCount, 0, kMaxEntries);
    if (n == 0) return 0;
    if (n == 1) return NotPlayed[1] != 0 ? 1 : 0;
    QRandomGenerator* rng = QRandomGenerator::global();
    const int r = static_cast<int>(rng->bounded(n)) + 1;
    if (NotPlayed[r] != 0) {
        NotPlayed[r] = 0;
        return static_cast<int16_t>(r);
    }
    const int s = static_cast<int>(rng->bounded(n)) + 1;
    for (int i = s; i <= n; ++i) {
        if (NotPlayed[i] != 0) {
            NotPlayed[i] = 0;
            return static_cast<int16_t>(i);
        }
    }
    for (int i = 1; i <= s; ++i) {
        if (NotPlayed[i] != 0) {
            NotPlayed[i] = 0;
            return static_cast<int16_t>(i);
        }
    }
    return 0;
}

}  // namespace wl
