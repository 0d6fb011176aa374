// Reading and writing playlists (".m3u", ".m3u8" and the default playlist).
//
// Reading: a UTF-8 byte-order mark is dropped; each line is taken as UTF-8
// when it is valid UTF-8, else as Latin-1 (older 8-bit playlists); CR LF, LF
// and a lone CR end a line. Entries are made usable here:
//   - "file://" URLs become local paths (percent-decoded);
//   - a line without any "/" is a Windows path: "\" becomes "/", so
//     "Music\a.mp3" finds Music/a.mp3 beside the playlist; a drive-relative
//     "C:Music\a.mp3" loses its drive ("Music/a.mp3"); an absolute
//     "C:\x\a.mp3" becomes "C:/x/a.mp3", which names no file here and so shows
//     as a missing entry. Lines that contain a "/" are kept as they are (a
//     Linux name may hold a "\").
// URL lines ("http://host/stream") are entries as they stand: they contain
// a "/", so no rule above changes them, and nothing resolves them as paths.
// An "#EXTINF:length,title" comment gives the title and length of the entry
// that follows it (when comments are skipped).
// Lines longer than kMaxPlaylistLineBytes (the line end not counted, nor a
// leading byte-order mark) or holding a NUL byte name no file: they are left
// out and counted. A file is read a piece at a time and such a line is never
// held whole, so that a damaged file costs little time and memory.
// Entries that are files are kept as absolute paths: a relative line names
// a file below the list's own folder (EntryInFolder). Written, a file below
// the list's folder is written relative to it, any other as an absolute
// path (EncodePlaylistFor), so that the list stays valid wherever it is read
// from.
// Writing: UTF-8, one path per LF-ended line (a path holding a line break as
// a "file:" URL), through a temporary file that replaces the target only when
// everything was written.
//
// File entries that play part of a file (a track of an album sheet) or carry
// what is known of them are written in the extended form, which reads back as the
// same entries: the file then starts with "#EXTM3U" and such an entry's path
// line follows
//   #EXTINF:<seconds>,<Artist - Title>    (for other players)
//   #EXTWL-RANGE:<first>,<count>          samples per channel; count -1: to the end
//   #EXTWL-META:<key=value&...>           percent-encoded: title, artist, album,
//                                         albumartist, track, ms, tg, tp, ag, ap
// A path line that would start with "#" there is written as "./#...".
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "playback/playlist_model.h"

namespace wl {

inline constexpr qsizetype kMaxPlaylistLineBytes = 4096;

// The lines of `bytes` as text (see above), line ends removed. An empty last
// line (text ending in a line end) is not returned. Lines left out (too long,
// a NUL) are added to `*skipped` when given.
QStringList DecodePlaylistText(const QByteArray& bytes, int* skipped = nullptr);
// One line turned into the path it stands for (see above).
QString NormalizeEntry(const QString& line);
// The file an entry names: `path` itself when it exists; else, for entries
// written on a system that ignores case ("Sub/B.MP3" for sub/b.mp3), the path
// found by matching each component regardless of case (the first match in
// name order) from the longest existing start on; `path` unchanged when no
// such file exists. Relative paths stay relative (to the current directory).
// TEntryResolver::Shared().Resolve (entry_resolver.h): it may list folders,
// so never on the window's thread.
QString ResolveEntryPath(const QString& path);
// An entry read from a list in `folder`: a relative file path made absolute
// against the folder (and cleaned), an absolute one cleaned; a stream URL,
// an empty entry or an empty folder: the entry as it stands.
QString EntryInFolder(const QString& entry, const QString& folder);
// The entries of a playlist file: non-empty lines, normalized; lines whose
// first character is "#" are left out when `skipComments` is set. Empty when
// the file cannot be read. Lines left out for being too long or holding a NUL
// (comment lines that are left out anyway aside) are added to `*skipped`
// when given.
QStringList ReadPlaylistFile(const QString& path, bool skipComments, int* skipped = nullptr);
// An entry of a playlist file with what its "#EXTINF:" line said.
struct TPlaylistItem {
    QString Path;
    QString Title;         // empty: none given
    int64_t LengthMs = 0;  // 0: unknown
    // From "#EXTWL-RANGE:" and "#EXTWL-META:" lines (HasMeta: one was given).
    TSampleRange Range;
    TEntryMeta Meta;
    bool HasMeta = false;
    bool operator==(const TPlaylistItem&) const = default;
};
// "#EXTWL-RANGE:first,count" -> the range; false for another line or bad numbers.
bool ParseRangeLine(const QString& line, TSampleRange* range);
// "#EXTWL-META:..." -> the meta; false for another line.
bool ParseMetaLine(const QString& line, TEntryMeta* meta);
// The file's bytes for these entries: the plain form where every file entry
// is a whole file with nothing known, else the extended one (see above;
// stream URLs stand alone either way).
// Paths are written as the entries hold them.
QByteArray EncodePlaylistEntries(const std::vector<TPlaylistEntry>& entries);
// The same for a list file in `folder`: each file entry relative to the
// folder when it lies below it, else absolute (relative entries taken
// against the current folder first); stream URLs as they are.
QByteArray EncodePlaylistFor(const std::vector<TPlaylistEntry>& entries, const QString& folder);
// True when the file starts (after a byte-order mark) with "#EXTM3U".
bool IsExtendedPlaylistFile(const QString& path);
// "#EXTINF:123,Artist - Title" (any case; attributes such as tvg-name="a,b"
// before the comma allowed): the title (trimmed; empty without a comma) and
// the length (0 when not a positive number of seconds). False for any other
// line.
bool ParseExtInf(const QString& line, QString* title, int64_t* lengthMs);
// ReadPlaylistFile with each entry's "#EXTINF:" title and length (only when
// `skipComments`: otherwise such lines are entries themselves).
std::vector<TPlaylistItem> ReadPlaylistItems(const QString& path, bool skipComments, int* skipped = nullptr);
// The file's bytes for these paths, one per line (see above).
QByteArray EncodePlaylistText(const QStringList& entries);
// Writes the paths, one per line; false when the file could not be written
// (the old file is then untouched), and `reason` (when given) says why.
bool WritePlaylistFile(const QString& path, const QStringList& entries, QString* reason = nullptr);
// Writes a list file's bytes the same way.
bool WritePlaylistBytes(const QString& path, const QByteArray& bytes, QString* reason = nullptr);
// Replaces `target` by the bytes of `source` the same safe way.
bool CopyFileSafely(const QString& source, const QString& target);

}  // namespace wl
