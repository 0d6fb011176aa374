#include "playback/playlist_model.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <iterator>

#include "playback/cue_sheet.h"
#include "playback/list_loader.h"
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

const std::vector<TPlaylistEntry>& PlaylistModel::Entries() const {
    static const std::vector<TPlaylistEntry> none;
    return Empty() ? none : entries_;
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

void PlaylistModel::AddBatch(std::vector<TPlaylistEntry>::const_iterator begin,
                             std::vector<TPlaylistEntry>::const_iterator end, TListAppend* count) {
    // One signal for the rows the batch appended.
    batchFirst_ = kNoRow;
    for (auto it = begin; it != end; ++it) {
        if (!Playable(it->Path)) {
            ++count->NotPlayable;
        } else if (AddEntry(*it)) {
            ++count->Added;
        } else {
            ++count->Full;
        }
    }
    const int first = batchFirst_;
    batchFirst_ = -1;
    if (first >= 0) emit Added(first, Rows() - 1);
}

int PlaylistModel::AddEntries(const std::vector<TPlaylistEntry>& entries, int* notPlayable) {
    TListAppend count;
    AddBatch(entries.begin(), entries.end(), &count);
    if (notPlayable) *notPlayable += count.NotPlayable;
    TellFull(count.Full);
    return count.Added;
}

namespace {

// A playlist's entries: relative paths against its folder, an album sheet
// named in it as the sheet's tracks.
void ReadM3uFile(TListRead& read, bool skipComments, const QString& cueCodePage) {
    const QString folder = QFileInfo(read.Path).absolutePath();
    QStringList told;
    for (TPlaylistItem& item : ReadPlaylistItems(read.Path, skipComments, &read.Skipped)) {
        QString path = EntryInFolder(item.Path, folder);
        if (skipComments && IsCueSheetPath(path)) {
            // The sheet's tracks in its place.
            const QString sheetPath = ResolveEntryPath(path);
            TCueSheet sheet = ReadCueSheetFile(sheetPath, cueCodePage);
            const QString problem = sheet.Entries.empty() ? sheet.Error : sheet.Warning;
            if (!problem.isEmpty()) told.append(FileNamePart(sheetPath) + QStringLiteral(": ") + problem);
            read.Entries.insert(read.Entries.end(), std::make_move_iterator(sheet.Entries.begin()),
                                std::make_move_iterator(sheet.Entries.end()));
            continue;
        }
        TPlaylistEntry entry;
        entry.Path = std::move(path);
        entry.Range = item.Range;
        if (item.HasMeta) {
            entry.Meta = std::move(item.Meta);
        } else {
            entry.Meta.Title = std::move(item.Title);
            entry.Meta.LengthMs = item.LengthMs;
            SplitListTitle(entry.Meta);
        }
        read.Entries.push_back(std::move(entry));
    }
    read.Warning = told.join(QStringLiteral("; "));
}

}  // namespace

TListRead PlaylistModel::ReadListFile(const QString& path, TListKind kind, const QString& cueCodePage) {
    TListRead read;
    read.Path = path;
    read.Kind = kind;
    if (kind == TListKind::Own) {
        // Plain lines, every one an entry, unless written in the extended form.
        ReadM3uFile(read, IsExtendedPlaylistFile(path), cueCodePage);
        return read;
    }
    if (kind == TListKind::M3u || IsPlaylistPath(path)) {
        ReadM3uFile(read, true, cueCodePage);
        return read;
    }
    const QString name = FileNamePart(path);
    if (IsCueSheetPath(path)) {
        TCueSheet sheet = ReadCueSheetFile(path, cueCodePage);
        if (sheet.Entries.empty()) {
            read.Error = name + QStringLiteral(": ") + sheet.Error;
            return read;
        }
        read.Entries = std::move(sheet.Entries);
        if (!sheet.Warning.isEmpty()) read.Warning = name + QStringLiteral(": ") + sheet.Warning;
        return read;
    }
    TStationList list = ReadStationListFile(path);
    if (list.Entries.empty()) {
        read.Error = name + QStringLiteral(": ") + list.Error;
        return read;
    }
    read.Entries = std::move(list.Entries);
    read.Warning = list.Warning;
    read.CountNotPlayable = true;
    return read;
}

void PlaylistModel::Append(const TListRead& read, size_t first, size_t last, TListAppend* count) {
    last = std::min(last, read.Entries.size());
    if (first >= last) return;
    AddBatch(read.Entries.begin() + static_cast<ptrdiff_t>(first), read.Entries.begin() + static_cast<ptrdiff_t>(last),
             count);
}

void PlaylistModel::Tell(const TListRead& read, const TListAppend& count) {
    if (!read.Error.isEmpty()) {
        emit Notice(read.Error);
        return;
    }
    TellFull(count.Full);
    if (read.CountNotPlayable) {
        // A station list: its warning and the entries that are no MP3 files, as one.
        QStringList told;
        if (!read.Warning.isEmpty()) told.append(read.Warning);
        if (count.NotPlayable > 0)
            told.append(QStringLiteral("%1 left out: not MP3 files").arg(EntryCountText(count.NotPlayable)));
        if (!told.isEmpty()) emit Notice(FileNamePart(read.Path) + QStringLiteral(": ") + told.join(QStringLiteral("; ")));
    } else if (!read.Warning.isEmpty()) {
        emit Notice(read.Warning);
    }
    if (read.Skipped > 0) emit LinesSkipped(read.Path, read.Skipped);
}

// A list file read now and appended whole, with what it left out told.
PlaylistModel::TReadAll PlaylistModel::ReadAll(const QString& path, TListKind kind) {
    const TListRead read = ReadListFile(path, kind, CueCodePage);
    TListAppend count;
    Append(read, 0, read.Entries.size(), &count);
    Tell(read, count);
    return {count.Added, read.Skipped};
}

int PlaylistModel::ReadM3U(const QString& path) { return ReadAll(path, TListKind::M3u).Skipped; }

int PlaylistModel::ReadList(const QString& path) { return ReadAll(path, TListKind::Any).Added; }

int PlaylistModel::Load(const QString& path) {
    Clear();
    return ReadAll(path, TListKind::Own).Skipped;
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

TListLoader& PlaylistModel::Loader() {
    if (!loader_) loader_ = new TListLoader(*this, this);
    return *loader_;
}

bool PlaylistModel::Save(const QString& path, QString* reason) const {
    return WritePlaylistBytes(path, EncodePlaylistFor(Entries(), QFileInfo(path).absolutePath()), reason);
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
