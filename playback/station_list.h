// Station lists: the ".pls", ".m3u"/".m3u8" and ".xspf" files that radio
// stations publish, read from disk or fetched over HTTP, turned into playlist
// entries (a URL or a path, and the title the list gives).
//
//   .pls   "[playlist]", then "FileN=", "TitleN=", "LengthN=" (seconds, -1 for
//          a stream) in any order, keys in any case; NumberOfEntries and
//          Version are not needed. Entries come in number order (gaps
//          allowed); a key given twice keeps its last value.
//   .m3u   one entry per line; "#EXTINF:length,title" gives the next entry's
//          title, "#PLAYLIST:title" the list's own.
//   .xspf  XML: <playlist><title/><trackList><track><location/><title/>
//          <creator/><album/><duration/> (ms); the first location of a track.
//
// Text is UTF-8 where it is valid UTF-8, else Latin-1 (as the playlist reader
// takes it); a byte-order mark is dropped; CR LF, LF and CR end lines.
// An entry's location is a stream URL ("http://", "https://") kept as it is,
// or a file: a "file:" URL becomes its path, Windows paths are made usable as
// the playlist reader makes them (m3u.h), and relative ones are resolved
// against the base (a folder, or the URL of a list fetched over HTTP, against
// which they become URLs). Locations of other kinds (another scheme, a
// control character in a URL, a file named by a list fetched over HTTP) are
// left out and counted in the Warning.
// A stream entry without a title of its own takes the list's title, else its
// URL.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

#include "playback/playlist_model.h"

namespace wl {

// A list body larger than this is not read.
inline constexpr qsizetype kMaxStationListBytes = qsizetype{1} << 20;

enum class TStationListKind { Unknown, Pls, M3u, Xspf };

struct TStationList {
    TStationListKind Kind = TStationListKind::Unknown;
    std::vector<TPlaylistEntry> Entries;
    QString Error;    // why there are no entries; empty when there are
    QString Warning;  // what a list with entries left out; empty when nothing
};

// The kind a content type ("audio/x-scpls", "audio/x-mpegurl",
// "application/xspf+xml"; parameters after ";" ignored) or a file name or URL
// (".pls", ".m3u", ".m3u8", ".xspf" in any case; a URL's query ignored) names.
TStationListKind StationListKindOf(const QString& nameOrType);
// A path or URL naming a list by its extension (any kind above).
bool IsStationListPath(const QString& pathOrUrl);

// The entries of a list body. The kind is known by the body itself
// ("[playlist]", "<playlist", "#EXTM3U") or else by `nameOrType`; a body of
// lines that are all stream URLs is an M3U list too. `base` resolves relative
// locations: a folder, or the list's own http(s) URL (empty: they stay
// relative). A body larger than kMaxStationListBytes, of another kind, or
// without any usable entry gives no entries and the Error.
TStationList ParseStationList(const QByteArray& body, const QString& nameOrType, const QString& base);
// A list file's entries, relative ones resolved against its folder.
TStationList ReadStationListFile(const QString& path);

// Why `text` is not a stream URL the player takes (an http or https URL with
// a host); empty when it is one.
QString StreamUrlProblem(const QString& text);

}  // namespace wl
