// CUE sheets: one audio file (or several) cut into tracks. Each AUDIO track
// becomes a playlist entry over its file's part: from its INDEX 01 to the
// next track's INDEX 01 in the same FILE, or to the file's end. The gap
// before a track (INDEX 00) stays with the track before it; PREGAP and
// POSTGAP name silence that is not in the file and play nothing.
//
//   TITLE / PERFORMER before the first TRACK: album and album artist (and the
//   artist of tracks without a PERFORMER); inside a TRACK: its own.
//   REM REPLAYGAIN_ALBUM_GAIN/PEAK (before the first TRACK) and
//   REM REPLAYGAIN_TRACK_GAIN/PEAK (inside one) are passed on in the meta.
//   Times are mm:ss:ff with 75 frames a second, turned into samples at the
//   audio file's own rate (read from its first frame).
//
// Text: a UTF-8 byte-order mark or valid UTF-8 is read as UTF-8, anything
// else in the 8-bit code page given (the one of station titles); CR LF, LF
// and CR end lines. FILE names are resolved against the sheet's folder
// (Windows separators as the playlist reader takes them, case ignored where
// the exact name is missing); a missing file named ".wav", ".flac" and the
// like is looked for as ".mp3" beside it, as a sheet often outlives the
// conversion of its audio.
//
// A missing audio file, a track without INDEX 01, an index out of order or
// beyond the file's end: that track is left out and the Warning says why;
// the others are kept. No usable track at all: no entries and the Error.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

#include "playback/playlist_model.h"

namespace wl {

// A sheet larger than this is not read.
inline constexpr qsizetype kMaxCueSheetBytes = qsizetype{1} << 20;
// Tracks a sheet may hold (the format's own limit).
inline constexpr int kMaxCueTracks = 99;

// What a sheet needs of an audio file.
struct TCueAudioFacts {
    QString Error;            // why it cannot be played; empty when it can
    int32_t SampleRate = 0;
    int64_t Samples = -1;     // music samples per channel; -1 unknown
};
using TCueProbe = std::function<TCueAudioFacts(const QString& path)>;

// Opens an MPEG audio file and reads its first frame (and a VBR header):
// its rate and length. Raises nothing.
TCueAudioFacts ProbeAudioFile(const QString& path);

struct TCueSheet {
    std::vector<TPlaylistEntry> Entries;
    QString Error;    // why there are no entries; empty when there are
    QString Warning;  // what was left out, and why; empty when nothing
};

// ".cue" in any case (not a URL).
bool IsCueSheetPath(const QString& path);
// A file of entries the player reads: a station list or playlist
// (IsStationListPath) or an album sheet.
bool IsListFilePath(const QString& path);

// The sheet's lines as text (see above), line ends removed.
QStringList DecodeCueText(const QByteArray& bytes, const QString& codePage);

// The tracks of a sheet body whose FILEs lie relative to `folder`; `probe`
// tells each file's rate and length.
TCueSheet ParseCueSheet(const QByteArray& body, const QString& folder, const QString& codePage,
                        const TCueProbe& probe = ProbeAudioFile);
// A sheet file's tracks.
TCueSheet ReadCueSheetFile(const QString& path, const QString& codePage, const TCueProbe& probe = ProbeAudioFile);

// The sheet beside an audio file ("album.mp3" -> "album.cue", any case of
// the extension) when it names that file in a FILE line; empty otherwise.
QString CueSheetFor(const QString& audioPath);

}  // namespace wl
