#include "playback/playlist_model.h"

#include <QRandomGenerator>
#include <QSaveFile>

#include <algorithm>
#include <iterator>

#include "playback/cue_sheet.h"
#include "playback/m3u.h"
#include "playback/playlist_names.h"
#include "playback/station_list.h"

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

std::vector<TPlaylistEntry> PlaylistModel::Entries() const {
    if (Empty()) return {};
    return entries_;
}

QString PlaylistModel::NameFor(const QString& path) const { return NameOf ? NameOf(path) : DisplayName(path); }

QString PlaylistModel::OwnName(const TPlaylistEntry& entry) {
    const TEntryMeta& m = entry.Meta;
    if (!m.Title.isEmpty()) return m.Artist.isEmpty() ? m.Title : m.Artist + QStringLiteral(" - ") + m.Title;
    if (m.Track > 0 && !entry.Range.Whole()) return DisplayName(entry.Path) + QStringLiteral(" #%1").arg(m.Track);
    return {};
}

// A stream has no file name to show: its title, else its URL.
QString PlaylistModel::NameFor(const TPlaylistEntry& entry) const {
    if (!IsStreamUrl(entry.Path)) {
        const QString own = OwnName(entry);
        return own.isEmpty() ? NameFor(entry.Path) : own;
    }
    return entry.Meta.Title.isEmpty() ? entry.Path : entry.Meta.Title;
}

namespace {

// "Artist - Title" as a list's title gives it, split where it says so.
void SplitListTitle(TEntryMeta& meta) {
    const qsizetype dash = meta.Title.indexOf(QLatin1String(" - "));
    if (dash <= 0 || !meta.Artist.isEmpty()) return;
    const QString title = meta.Title.sliced(dash + 3).trimmed();
    if (title.isEmpty()) return;
    meta.Artist = meta.Title.first(dash).trimmed();
    meta.Title = title;
}

QString EntryCountText(int n) { return n == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(n); }

}  // namespace

void PlaylistModel::TellFull(int notAdded) {
    if (notAdded <= 0) return;
    emit Notice(QStringLiteral("The playlist is full (%1 entries): %2 not added")
                    .arg(Capacity)
                    .arg(notAdded == 1 ? QStringLiteral("1 entry") : QStringLiteral("%1 entries").arg(notAdded)));
}

void PlaylistModel::RowsChanged(int first, int last) {
    if (first <= last) emit Changed(first, last);
}

// ------------------------------------------------------------------ entries

bool PlaylistModel::Playable(const QString& path) { return !path.isEmpty() && (IsMp3Path(path) || IsStreamUrl(path)); }

bool PlaylistModel::AddEntry(const QString& path) { return AddEntry(TPlaylistEntry{path, {}, {}, {}, false, {}, {}}); }

bool PlaylistModel::AddEntry(const TPlaylistEntry& added) {
    if (!Playable(added.Path)) return false;
    int row = 0;
    if (Empty()) {
        entries_.clear();
        EntryCount = 1;
    } else {
        if (EntryCount >= Capacity || EntryCount < 0) return false;
        row = EntryCount;
        EntryCount = EntryCount + 1;
    }
    // The new entry takes row EntryCount (the count before it was added).
    entries_.resize(static_cast<size_t>(row));
    TPlaylistEntry entry{added.Path, added.Range, added.Meta, {}, false, {}, {}};
    entry.Name = NameFor(entry);
    entries_.push_back(std::move(entry));
    if (batchFirst_ == -1) {
        emit Added(row, row);
    } else if (batchFirst_ == kNoRow) {
        batchFirst_ = row;
    }
    return true;
}

int PlaylistModel::AddEntries(const std::vector<TPlaylistEntry>& entries, int* notPlayable) {
    int added = 0, full = 0, rejected = 0;
    // One signal for the rows the batch appended.
    batchFirst_ = kNoRow;
    for (const TPlaylistEntry& entry : entries) {
        if (!Playable(entry.Path)) {
            ++rejected;
        } else if (AddEntry(entry)) {
            ++added;
        } else {
            ++full;
        }
    }
    const int first = batchFirst_;
    batchFirst_ = -1;
    if (first >= 0) emit Added(first, Rows() - 1);
    if (notPlayable) *notPlayable += rejected;
    TellFull(full);
    return added;
}

int PlaylistModel::ReadM3U(const QString& path) {
    int skipped = 0;
    std::vector<TPlaylistEntry> entries;
    QStringList told;
    for (TPlaylistItem& item : ReadPlaylistItems(path, true, &skipped)) {
        if (IsCueSheetPath(item.Path)) {
            // The sheet's tracks in its place.
            const QString sheetPath = ResolveEntryPath(item.Path);
            TCueSheet sheet = ReadCueSheetFile(sheetPath, CueCodePage);
            const QString problem = sheet.Entries.empty() ? sheet.Error : sheet.Warning;
            if (!problem.isEmpty()) told.append(FileNamePart(sheetPath) + QStringLiteral(": ") + problem);
            entries.insert(entries.end(), std::make_move_iterator(sheet.Entries.begin()),
                           std::make_move_iterator(sheet.Entries.end()));
            continue;
        }
        TPlaylistEntry entry;
        entry.Path = std::move(item.Path);
        entry.Range = item.Range;
        if (item.HasMeta) {
            entry.Meta = std::move(item.Meta);
        } else {
            entry.Meta.Title = std::move(item.Title);
            entry.Meta.LengthMs = item.LengthMs;
            SplitListTitle(entry.Meta);
        }
        entries.push_back(std::move(entry));
    }
    AddEntries(entries);
    if (!told.isEmpty()) emit Notice(told.join(QStringLiteral("; ")));
    if (skipped > 0) emit LinesSkipped(path, skipped);
    return skipped;
}

int PlaylistModel::ReadList(const QString& path) {
    const int before = Empty() ? 0 : Rows();
    if (IsPlaylistPath(path)) {
        ReadM3U(path);
        return (Empty() ? 0 : Rows()) - before;
    }
    const QString name = FileNamePart(path);
    if (IsCueSheetPath(path)) {
        const TCueSheet sheet = ReadCueSheetFile(path, CueCodePage);
        if (sheet.Entries.empty()) {
            emit Notice(name + QStringLiteral(": ") + sheet.Error);
            return 0;
        }
        const int added = AddEntries(sheet.Entries);
        if (!sheet.Warning.isEmpty())
            emit Notice(name + QStringLiteral(": ") + sheet.Warning);
        return added;
    }
    const TStationList list = ReadStationListFile(path);
    if (list.Entries.empty()) {
        emit Notice(name + QStringLiteral(": ") + list.Error);
        return 0;
    }
    int notPlayable = 0;
    const int added = AddEntries(list.Entries, &notPlayable);
    QStringList told;
    if (!list.Warning.isEmpty()) told.append(list.Warning);
    if (notPlayable > 0)
        told.append(QStringLiteral("%1 left out: not MP3 files").arg(EntryCountText(notPlayable)));
    if (!told.isEmpty()) emit Notice(name + QStringLiteral(": ") + told.join(QStringLiteral("; ")));
    return added;
}

int PlaylistModel::Load(const QString& path) {
    Clear();
    if (IsExtendedPlaylistFile(path)) return ReadM3U(path);
    int skipped = 0;
    std::vector<TPlaylistEntry> entries;
    for (QString& line : ReadPlaylistFile(path, false, &skipped)) entries.push_back({std::move(line), {}, {}, {}, false, {}, {}});
    AddEntries(entries);
    if (skipped > 0) emit LinesSkipped(path, skipped);
    return skipped;
}

int PlaylistModel::ReplaceEntry(int row, const std::vector<TPlaylistEntry>& entries) {
    const int rows = Rows();
    if (row < 0 || row >= rows || entries_[static_cast<size_t>(row)].Path.isEmpty()) return 0;
    // Room for the rows there are, the replaced one's place included.
    const int room = std::max(0, Capacity - (rows - 1));
    std::vector<TPlaylistEntry> fresh;
    int full = 0;
    for (const TPlaylistEntry& entry : entries) {
        if (!Playable(entry.Path)) continue;
        if (static_cast<int>(fresh.size()) >= room) {
            ++full;
            continue;
        }
        TPlaylistEntry made{entry.Path, entry.Range, entry.Meta, {}, false, {}, {}};
        made.Name = NameFor(made);
        fresh.push_back(std::move(made));
    }
    TellFull(full);
    if (fresh.empty()) return 0;
    const int count = static_cast<int>(fresh.size());
    const int grow = count - 1;
    const TPlaylistEntry& replaced = entries_[static_cast<size_t>(row)];
    fresh.front().Played = replaced.Played;
    // Flags by number (entry n is row n - 1): the replaced number keeps its
    // flag; the numbers below it move down by `grow`, played or not as they
    // were; the new numbers after the first start as not played.
    if (grow > 0) {
        for (int number = rows; number >= row + 2; --number) {
            const int moved = number + grow;
            NotPlayed[moved] = NotPlayed[number] == 0 ? 0 : moved;
        }
        for (int number = row + 2; number <= row + count; ++number) NotPlayed[number] = number;
    }
    entries_.erase(entries_.begin() + row);
    entries_.insert(entries_.begin() + row, std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
    EntryCount = Rows();
    if (CurrentEntry > row + 1) CurrentEntry = CurrentEntry + grow;
    const int last = Rows() - 1;
    if (grow > 0) emit Added(last - grow + 1, last);
    RowsChanged(row, last);
    return count;
}

bool PlaylistModel::Save(const QString& path, QString* reason) const {
    QSaveFile file(path);
    const QByteArray bytes = EncodePlaylistEntries(Entries());
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    if (written && file.commit()) return true;
    if (reason) *reason = file.errorString();
    if (!written) file.cancelWriting();
    return false;
}

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
    EntryCount = std::max(0, EntryCount - removed);
    RemoveRows(first, last - first);
    RenumberEntries();
}

void PlaylistModel::RemoveRows(int first, int count) {
    const int rows = Rows();
    const int removed = count + 1;
    if (first < 0 || count < 0 || first + removed > rows || removed >= rows) return;
    for (int r = first; r + removed < rows; ++r) {
        const int32_t moved = NotPlayed[r + removed + 1];
        NotPlayed[r + 1] = moved == 0 ? 0 : r + 1;
    }
    // Entries added later at the freed numbers start as not played.
    for (int n = rows - removed + 1; n <= rows; ++n) NotPlayed[n] = n;
    entries_.erase(entries_.begin() + first, entries_.begin() + first + removed);
    emit Removed(first, removed);
}

void PlaylistModel::RenumberEntries() {
    const int rows = Rows();
    for (int r = 0; r < rows; ++r) {
        TPlaylistEntry& entry = entries_[r];
        entry.Played = NotPlayed[r + 1] == 0;
        entry.Name = NameFor(entry);
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

void PlaylistModel::SetTags(int row, const TEntryTags& tags) {
    if (row < 0 || row >= Rows() || entries_[row].Tags == tags) return;
    entries_[row].Tags = tags;
    RowsChanged(row, row);
}

void PlaylistModel::SetProblem(int row, const QString& problem) {
    if (row < 0 || row >= Rows() || entries_[row].Problem == problem) return;
    entries_[row].Problem = problem;
    RowsChanged(row, row);
}

// ------------------------------------------------------------- random order

void PlaylistModel::ResetNotPlayed() { NotPlayed.Reset(); }

int PlaylistModel::PickRandom() {
    const int n = std::clamp<int>(EntryCount, 0, Capacity);
    if (n == 0) return 0;
    if (n == 1) return NotPlayed[1] != 0 ? 1 : 0;
    QRandomGenerator* rng = QRandomGenerator::global();
    const int r = static_cast<int>(rng->bounded(n)) + 1;
    if (NotPlayed[r] != 0) {
        NotPlayed[r] = 0;
        return r;
    }
    const int s = static_cast<int>(rng->bounded(n)) + 1;
    for (int i = s; i <= n; ++i) {
        if (NotPlayed[i] != 0) {
            NotPlayed[i] = 0;
            return i;
        }
    }
    for (int i = 1; i <= s; ++i) {
        if (NotPlayed[i] != 0) {
            NotPlayed[i] = 0;
            return i;
        }
    }
    return 0;
}

}  // namespace wl
