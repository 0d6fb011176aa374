// The options beyond the fixed "wl.ini" record, kept in "wavelantern.conf"
// beside it: an INI file (readable through QSettings::IniFormat) replaced
// atomically on every save. A missing, short or damaged file, and any value
// that cannot be read or lies out of range, gives that field's default; Load
// tells what it could not use (a missing key is no damage).
//
//   [Playback]   ResumePlayback, TitlesFromTags, SheetsInFolders
//   [ReplayGain] Mode (0 off, 1 track, 2 album), PreampDb (-12..12), PreventClipping
//   [Resume]     Entry, PositionMs, Volume, WasPlaying
//   [Output]     Device (a sink name; empty: the default sink)
//   [Radio]      TitleCodePage (the 8-bit code page of station titles that
//                are not valid UTF-8; empty or unknown: WINDOWS-1252)
//   [Playlist]   Rows (the list's height, kMinPlaylistRows..kMaxPlaylistRows),
//                LastFolder (where "+Dir" opens; percent-encoded UTF-8)
#pragma once

#include <QString>

#include <cstdint>

namespace wl {

enum class TReplayGainMode : int { Off = 0, Track = 1, Album = 2 };

// What a load of the file could not use.
struct TExtraSettingsDamage {
    int Values = 0;  // options whose value could not be read or lay out of range (each took its default)
    int Lines = 0;   // lines that are not text or not INI, and a file too large to be read whole (one)
    bool Any() const { return Values > 0 || Lines > 0; }
};

class TExtraSettings {
public:
    static constexpr const char* kFileName = "wavelantern.conf";
    static constexpr double kPreampMinDb = -12.0;
    static constexpr double kPreampMaxDb = 12.0;

    // Playback options.
    bool ResumePlayback = true;  // a start without files restores the last session
    bool TitlesFromTags = true;  // "Artist - Title" from the tags where there is a title
    // Adding a folder: an album file with its sheet beside it ("album.mp3",
    // "album.cue") adds the sheet's tracks instead of the file.
    bool SheetsInFolders = true;
    // Loudness correction (not applied by the player yet).
    TReplayGainMode ReplayGainMode = TReplayGainMode::Off;
    double ReplayGainPreampDb = 0.0;  // kPreampMinDb..kPreampMaxDb
    bool ReplayGainPreventClipping = true;
    // Where the last session ended; its playlist is the default playlist.
    int ResumeEntry = 0;          // 1-based entry number, 0: none
    int64_t ResumePositionMs = 0; // position in that entry
    int ResumeVolume = -1;        // 0..100; -1: none stored
    bool ResumeWasPlaying = false;
    // The sound server's sink to play on (its name); empty: the default one.
    QString OutputDevice;
    // Station titles that are not valid UTF-8 are read in this code page (a
    // name QStringDecoder knows, for an ASCII-compatible 8-bit encoding).
    static constexpr const char* kDefaultTitleCodePage = "WINDOWS-1252";
    QString TitleCodePage = QString::fromLatin1(kDefaultTitleCodePage);
    // The playlist panel: how many rows the list shows, and the folder the
    // folder picker opens at (an absolute path; empty: the home folder).
    static constexpr int kMinPlaylistRows = 6;
    static constexpr int kMaxPlaylistRows = 40;
    int PlaylistRows = kMinPlaylistRows;
    QString LastFolder;

    // Replaces every field with what `path` holds (defaults for the rest).
    TExtraSettingsDamage Load(const QString& path);
    // Writes every field; false (and the old file untouched) on failure.
    bool Save(const QString& path) const;
    // The file's content as Save writes it.
    QByteArray Encode() const;
};

}  // namespace wl
