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

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace wl {

// The 16-bit count and the flag table end here.
inline constexpr int kMaxEntries = 32767;

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
    bool operator==(const TEntryMeta&) const = default;
};

struct TPlaylistEntry {
    QString Path;  // the source: a file path as added (relative entries of a playlist stay relative)
    TSampleRange Range;
    TEntryMeta Meta;
    QString Name;  // the name shown
    bool Played = false;
};

class PlaylistModel : public QObject {
    Q_OBJECT
public:
    explicit PlaylistModel(QObject* parent = nullptr) : QObject(parent) {}

    int16_t EntryCount = 0;
    int16_t CurrentEntry = 0;  // 0: none
    // Random order: NotPlayed[n] is n until entry n is picked, then 0.
    std::array<int16_t, kMaxEntries + 1> NotPlayed{};  // index 1..32767

    int Rows() const { return static_cast<int>(entries_.size()); }
    bool Empty() const;                // no entry in the first row
    QString Path(int row) const;       // empty outside the list
    // The whole entry; an empty one outside the list.
    TPlaylistEntry Entry(int row) const;
    QString Label(int row) const;      // "12. Name", "12> Name" once played; empty outside the list
    QStringList Paths() const;         // one per row; none when Empty()

    // Appends an ".mp3" path (other paths and a full list are ignored); true
    // when it was added.
    bool AddEntry(const QString& path);
    // The same with a range and what is known of it (its name and played mark
    // are the list's).
    bool AddEntry(const TPlaylistEntry& entry);
    // Appends the entries of a playlist file (comment lines left out).
    // Returns the lines left out as too long or not text (LinesSkipped).
    int ReadM3U(const QString& path);
    // The list's own file (the default playlist): cleared, then every line
    // of `path` added. Returns the lines left out as ReadM3U does.
    int Load(const QString& path);
    // Every row's path into `path`; false when it could not be written, and
    // `reason` (when given) says why.
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

    void ResetNotPlayed();
    // A not-played entry at random, marked played; 0 when every entry was
    // played. A list of one entry gives it while its flag is set, without
    // clearing the flag.
    int16_t PickRandom();

    // The name shown for a path; DisplayName when unset.
    std::function<QString(const QString& path)> NameOf;

signals:
    void Added(int row);
    void Changed(int first, int last);  // texts of these rows
    void Removed(int first, int count);  // `count` rows from `first`
    void Cleared();
    // A playlist file's lines that were left out as it was read (longer
    // than kMaxPlaylistLineBytes or holding a NUL byte); only when there were.
    void LinesSkipped(const QString& path, int count);

private:
    QString NameFor(const QString& path) const;
    void RowsChanged(int first, int last);
    std::vector<TPlaylistEntry> entries_;
};

}  // namespace wl
