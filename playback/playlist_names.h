// Small text rules of the playlist: extensions, display names, the entry
// texts of the grid and the stream facts shown when an entry starts.
#pragma once

#include <QString>

namespace wl {

// The extension of the file name (from its last "."), "" when it has none.
// Both "/" and "\" end a folder part, so Windows paths show their names too.
QString FileExtension(const QString& path);
// The file name without its folder part.
QString FileNamePart(const QString& path);
// ".mp3" in any case.
bool IsMp3Path(const QString& path);
// ".m3u" or ".m3u8" in any case.
bool IsPlaylistPath(const QString& path);

// The name shown in the grid: the file name without its last 4 characters.
QString DisplayName(const QString& path);
// The title: the file name without its extension (the whole name without ".").
QString TitleFromPath(const QString& path);
// "12. Song" while not yet played, "12> Song" once played.
QString EntryText(int number, bool played, const QString& path);
// The same with the name given ("12. Artist - Title").
QString EntryLabel(int number, bool played, const QString& name);
// An entry text with its name replaced, number and mark kept.
QString RenameEntryText(const QString& text, const QString& name);
// The first "." or ">" that is not the last character becomes ">".
QString MarkPlayed(const QString& text);

// "128Kbps, 44Khz"; "V B R, 44Khz" for a variable rate (bitrate 0).
QString RateText(int bitrate, int sampleRate);
// "MPEG 1, Layer 3, Stereo".
QString FormatText(int version, int layer, int channels);

// A control character (C0 or DEL): no name shown or kept holds one.
inline bool IsControlChar(QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; }
bool HasControlChar(const QString& text);
// Text shown as a title: control characters become blanks; trimmed.
QString CleanTitle(QString text);

// folder + "/" + name, with a single "/" at the root.
QString JoinPath(const QString& folder, const QString& name);

}  // namespace wl
