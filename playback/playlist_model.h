// The playlist: its entries (where the sound comes from, what is known of it
// before opening, the name shown, the played mark), the current entry and
// the count, the random order's not-played flags, and reading and writing
// playlist files. The playback controller plays it; the main window's grid
// shows it and follows its signals; the media controls and a second start's
// hand-off change it.
//
// Entries are numbered from 1 (entry n is row n - 1). EntryCount equals the
// rows as entries are added and removed; the window's procedures set it (and
// CurrentEntry) directly as well.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace wl {

class TListLoader;

// The most entries a list holds (a PlaylistModel's Capacity by default);
// adding beyond is told, never done silently.
inline constexpr int kMaxEntries = 10'000'000;

// The random order's not-played marks by entry number (1-based): nonzero
// while entry n is not yet played in this cycle (its number, as a reset sets
// it), 0 once picked. Numbers not yet marked read as not played; a number
// outside 1..kMaxEntries reads as played and keeps nothing.
class TNotPlayed {
public:
    int32_t& operator[](int n) {
        if (n < 1 || n > kMaxEntries) {
            spare_ = 0;
            return spare_;
        }
        if (static_cast<size_t>(n) >= flags_.size()) Grow(n);
        return flags_[static_cast<size_t>(n)];
    }
    int32_t operator[](int n) const {
        if (n < 1 || n > kMaxEntries) return 0;
        return static_cast<size_t>(n) < flags_.size() ? flags_[static_cast<size_t>(n)] : n;
    }
    // Every number not played.
    void Reset() {
        for (size_t n = 0; n < flags_.size(); ++n) flags_[n] = static_cast<int32_t>(n);
    }

private:
    void Grow(int n) {
        const size_t from = flags_.size();
        flags_.resize(static_cast<size_t>(n) + 1);
        for (size_t i = from; i < flags_.size(); ++i) flags_[i] = static_cast<int32_t>(i);
    }
    std::vector<int32_t> flags_;
    int32_t spare_ = 0;
};

// An "http://" or "https://" URL (the scheme in any case) with something
// after the scheme and no control character: an entry played over the network.
inline bool IsStreamUrl(const QString& text) {
    const qsizetype scheme = text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)    ? 7
                             : text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ? 8
                                                                                                : 0;
    if (scheme == 0 || text.size() == scheme) return false;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) return false;
    }
    return true;
}

// Part of a source to play, in samples per channel from its start (after
// the encoder's delay); the whole source by default.
struct TSampleRange {
    int64_t First = 0;
    int64_t Count = -1;  // -1: to the end
    bool Whole() const { return First == 0 && Count < 0; }
    bool operator==(const TSampleRange&) const = default;
};

// What is known of an entry before it is opened (all may be empty).
struct TEntryMeta {
    QString Title;
    QString Artist;
    QString Album;
    int64_t LengthMs = 0;  // 0: unknown
    // A track of an album sheet: the album's artist, its number (0: none)
    // and the loudness values the sheet gives (dB, linear peak).
    QString AlbumArtist;
    int Track = 0;
    std::optional<double> TrackGainDb, TrackPeak, AlbumGainDb, AlbumPeak;
    bool operator==(const TEntryMeta&) const = default;
};

// What the file's own tags say (read in the background, kept in the tag
// cache; never written into a saved list).
struct TEntryTags {
    QString Title, Artist, Album;
    int Track = 0;
    bool Known = false;  // read (the file may have no tags)
    bool operator==(const TEntryTags&) const = default;
};

struct TPlaylistEntry {
    // The source: a file path as added (a list file's entries made absolute
    // against its folder as it is read), or a stream URL as it was given.
    QString Path;
    TSampleRange Range;
    TEntryMeta Meta;
    QString Name;  // the name shown
    bool Played = false;
    TEntryTags Tags;
    // Why the entry cannot be played ("File not found"); empty when nothing
    // is known against it. Shown greyed with this as its tooltip.
    QString Problem;
};

// The kinds of list file read into a list, and so how they are read.
enum class TListKind : uint8_t {
    Own,  // the list's own file (the default playlist): plain lines, or the extended form (Load)
    M3u,  // a playlist: comment lines left out, "#EXTINF:" and the extended form's lines taken (ReadM3U)
    Any,  // any list file the player reads: as ReadM3U, a station list or an album sheet (ReadList)
};

// A list file read into entries, before they go into a list: what
// PlaylistModel::ReadListFile gives (on any thread) and Append/Tell take
// (on the list's).
struct TListRead {
    QString Path;
    TListKind Kind = TListKind::Any;
    std::vector<TPlaylistEntry> Entries;
    int Skipped = 0;    // lines left out as too long or not text
    QString Error;      // why nothing could be used (with the file's name); empty otherwise
    QString Warning;    // what else was left out, and why (with the file's name); empty when nothing
    bool CountNotPlayable = false;  // entries that are not MP3 files are told (station lists)
};

// What appending a read's entries came to.
struct TListAppend {
    int Added = 0;
    int NotPlayable = 0;
    int Full = 0;  // found the list full
};

class PlaylistModel : public QObject {
    Q_OBJECT
public:
    explicit PlaylistModel(QObject* parent = nullptr) : QObject(parent) {}

    int EntryCount = 0;
    int CurrentEntry = 0;  // 0: none
    // Random order: NotPlayed[n] is n until entry n is picked, then 0.
    TNotPlayed NotPlayed;
    // The most entries this list takes (tests make it small).
    int Capacity = kMaxEntries;

    int Rows() const { return static_cast<int>(entries_.size()); }
    // Room for `more` rows beyond those there are (a big list read in batches).
    void Reserve(size_t more) { entries_.reserve(entries_.size() + std::min<size_t>(more, static_cast<size_t>(Capacity))); }
    bool Empty() const;                // no entry in the first row
    QString Path(int row) const;       // empty outside the list
    // The whole entry; an empty one outside the list.
    TPlaylistEntry Entry(int row) const;
    QString Label(int row) const;      // "12. Name", "12> Name" once played; empty outside the list
    QStringList Paths() const;         // one per row; none when Empty()
    // Every entry, for writing the list; none when Empty().
    const std::vector<TPlaylistEntry>& Entries() const;
    // The 8-bit code page album sheets that are not UTF-8 are read in.
    QString CueCodePage = QStringLiteral("WINDOWS-1252");

    // True for what can stand in the list: an ".mp3" path or a stream URL
    // (IsStreamUrl; a station list's URL too, expanded when it is played).
    static bool Playable(const QString& path);
    // Appends a Playable path (other paths and a full list are ignored); true
    // when it was added.
    bool AddEntry(const QString& path);
    // The same with a range and what is known of it (its name and played mark
    // are the list's). A stream entry is named by its title, else its URL.
    bool AddEntry(const TPlaylistEntry& entry);
    // Appends entries in their order; returns how many were added. Those that
    // are not Playable are counted in `*notPlayable` (when given); those that
    // find the list full are told (Notice).
    int AddEntries(const std::vector<TPlaylistEntry>& entries, int* notPlayable = nullptr);
    // Appends the entries of a playlist file (comment lines left out; an
    // "#EXTINF:" line gives the next entry's title and length, the extended
    // form's lines its range and meta; m3u.h). An entry naming an album sheet
    // adds the sheet's tracks. Returns the lines left out as too long or not
    // text (LinesSkipped).
    int ReadM3U(const QString& path);
    // Appends the entries of any list file the player reads: ".m3u"/".m3u8"
    // as ReadM3U, ".pls" and ".xspf" as station lists (station_list.h; their
    // relative entries resolved against the file's folder), ".cue" as an
    // album sheet's tracks (cue_sheet.h). What could not be used is told
    // (Notice, LinesSkipped). Returns the entries added.
    int ReadList(const QString& path);
    // Replaces the entry in `row` by `entries` (the stations of a list that
    // entry named): the first takes its place, number, played mark and flag;
    // the rest follow it, not played; the rows below move down with their
    // marks and flags, and CurrentEntry moves with them (it stays on the
    // replaced entry's number when it was that one). Entries that are not
    // Playable are left out, and those beyond the list's capacity are told
    // (Notice). Returns how many entries now stand where the row was; 0 (and
    // nothing changed) when the row holds no entry or none of `entries` can
    // stand in the list. Signals Added(the last row) when the list grew, and
    // Changed(row, the last row).
    int ReplaceEntry(int row, const std::vector<TPlaylistEntry>& entries);
    // The list's own file (the default playlist): cleared, then every line
    // of `path` added (a file in the extended form read as ReadM3U reads it).
    // Returns the lines left out as ReadM3U does.
    int Load(const QString& path);
    // Relative entries of every list file are taken against the file's own
    // folder and kept as absolute paths (m3u.h).
    //
    // The reading part of ReadM3U, ReadList and Load: the file's entries and
    // what is to be told of it, nothing added. Touches no list: any thread
    // (a list loader's worker; list_loader.h). `cueCodePage` as CueCodePage.
    static TListRead ReadListFile(const QString& path, TListKind kind, const QString& cueCodePage);
    // Appends the read's entries [first, last) as AddEntries does (one
    // Added for them), counting into `*count`; a full list is not told here.
    void Append(const TListRead& read, size_t first, size_t last, TListAppend* count);
    // Tells what reading and appending left out, as ReadM3U and ReadList do
    // (Notice, LinesSkipped), once the read's entries are all in.
    void Tell(const TListRead& read, const TListAppend& count);
    // The loader that fills this list from a file in the background
    // (list_loader.h); made at the first call.
    TListLoader& Loader();
    // Every row's entry into `path`, each file below the file's folder
    // relative to it and any other absolute (EncodePlaylistFor); false when
    // it could not be written, and `reason` (when given) says why.
    bool Save(const QString& path, QString* reason = nullptr) const;
    // No entries, EntryCount and CurrentEntry 0; the flags stay.
    void Clear();
    // Removes rows first .. last and renumbers; every row going empties the
    // list (CurrentEntry kept). EntryCount drops by the rows removed.
    void RemoveEntries(int first, int last);
    // Removes rows first .. first + count (`count` is the last row minus the
    // first); the rows below move up with their flags, freed numbers start
    // as not played. Nothing when it would remove every row.
    void RemoveRows(int first, int count);
    // Numbers after the rows, played marks after the flags, names anew.
    void RenumberEntries();
    void MarkPlayed(int row);
    void SetName(int row, const QString& name);  // rows holding an entry only
    // The file's tags / what keeps the entry from playing (Changed when they differ).
    void SetTags(int row, const TEntryTags& tags);
    void SetProblem(int row, const QString& problem);

    void ResetNotPlayed();
    // A not-played entry at random, marked played; 0 when every entry was
    // played. A list of one entry gives it while its flag is set, without
    // clearing the flag.
    int PickRandom();

    // The name an entry gives itself: "Artist - Title" (or the title) of
    // what is known of it; a sheet's track without a title goes by its file
    // and number. Empty for a whole file with no title known.
    static QString OwnName(const TPlaylistEntry& entry);

    // The name shown for a path; DisplayName when unset.
    std::function<QString(const QString& path)> NameOf;

signals:
    // Rows first .. last were appended.
    void Added(int first, int last);
    void Changed(int first, int last);  // texts of these rows
    void Removed(int first, int count);  // `count` rows from `first`
    void Cleared();
    // A playlist file's lines that were left out as it was read (longer
    // than kMaxPlaylistLineBytes or holding a NUL byte); only when there were.
    void LinesSkipped(const QString& path, int count);
    // Something the user should be told: entries that did not fit into the
    // full list, a list file that could not be used or whose entries were
    // partly left out.
    void Notice(const QString& text);

private:
    QString NameFor(const QString& path) const;
    QString NameFor(const TPlaylistEntry& entry) const;
    // Tells (Notice) how many entries found the list full.
    void TellFull(int notAdded);
    struct TReadAll {
        int Added = 0;
        int Skipped = 0;
    };
    TReadAll ReadAll(const QString& path, TListKind kind);
    // Appends entries in their order, one Added for them; counts into `*count`.
    void AddBatch(std::vector<TPlaylistEntry>::const_iterator begin, std::vector<TPlaylistEntry>::const_iterator end,
                  TListAppend* count);
    void RowsChanged(int first, int last);
    std::vector<TPlaylistEntry> entries_;
    TListLoader* loader_ = nullptr;  // a child
    // While AddEntries runs: the first row it appended (kNoRow: none yet); -1 otherwise.
    static constexpr int kNoRow = -2;
    int batchFirst_ = -1;

    // ---------------------------------------------------- sorting and tidying
    // Each of these changes the list in one go and tells it with one
    // Reordered signal (no Added, Removed or Changed): the rows are to be
    // read anew. Every entry keeps its played mark and flag, its not-played
    // mark (moved to its new number), its tags and its problem; CurrentEntry
    // follows its entry. O(n log n) for n rows.
public:
    enum class TSortKey { Title, Artist, Album, Track, FileName, Path };
    // Sorts the rows by `key`, stably (equal keys keep their order). Title,
    // artist and album come from the file's tags, else from what the list
    // said, else the shown name; compared regardless of case and accents,
    // numbers within them by value ("2" before "10"). Track numbers compare
    // as numbers, entries without one last. Returns the rows that moved.
    int Sort(TSortKey key);
    // Keeps the first entry of each path and range; CurrentEntry follows its
    // entry or, when that goes, the copy kept. Returns the entries removed.
    int RemoveDuplicates();
    // Removes `rows` (0-based, any order; rows outside the list are ignored),
    // e.g. MissingRows' answer. When the current entry goes, CurrentEntry
    // points at the nearest kept entry before it (0 when none), so that the
    // next entry is the one after it. Returns the entries removed.
    int RemoveRowsAt(const std::vector<int>& rows);
    // The rows of `paths` (a snapshot of Paths()) whose file does not exist
    // (the stream URLs never). Without `exists` a file is found as the player
    // finds it: by its path, else by matching names regardless of case (each
    // folder listed at most once). Touches no model: meant for a worker.
    // `progress` (when given) is told now and then how many paths were
    // looked at; when it answers true the look stops there (what was found
    // so far is answered).
    static std::vector<int> MissingRows(const QStringList& paths,
                                        const std::function<bool(const QString&)>& exists = {},
                                        const std::function<bool(int looked)>& progress = {});

signals:
    // The rows were sorted or thinned out: row r now holds the entry that
    // was in row from[r] (from.size() rows now; none: the list is empty).
    void Reordered(const std::vector<int>& from);

private:
    // Puts the rows in the order `from` gives (rows kept in their order, or
    // a new order of every row), moving each entry's marks with it; `current`
    // is what CurrentEntry becomes (0 when no row is left).
    void Rearrange(const std::vector<int>& from, int current);
};

}  // namespace wl
