// The album sheet reader over arbitrary bytes: the first byte picks the code
// page for text that is not UTF-8 and what the (imagined) audio files are:
// their rate, whether their length is known, and whether files named with a
// "b" are missing. Every answer is either entries or an error; entries lie in
// the sheet's folder, each file's tracks follow one another without a gap or
// an overlap and start inside the file; titles hold no control characters;
// and the entries written in the extended playlist form read back the same.
#include <QDir>
#include <QStringList>

#include "fuzz/harness.h"
#include "playback/cue_sheet.h"
#include "playback/m3u.h"
#include "playback/playlist_names.h"

namespace wl::fuzz {

void CueInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 16) return;
    static const char* const pages[] = {"WINDOWS-1252", "WINDOWS-1251", "ISO-8859-2", "no such page"};
    static const int32_t rates[] = {44100, 48000, 32000, 22050, 8000, 11025, 24000, 16000};
    const uint8_t config = data[0];
    const QString page = QString::fromLatin1(pages[config & 3]);
    const int32_t rate = rates[(config >> 2) & 7];
    const int64_t samples = (config & 0x20) ? int64_t{rate} * 3600 : -1;
    const bool someMissing = (config & 0x40) != 0;
    const QString base = QStringLiteral("/nonexistent-sheet-folder");
    const QByteArray body(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    const TCueSheet sheet = ParseCueSheet(body, base, page, [&](const QString& path) {
        if (someMissing && FileNamePart(path).contains(QLatin1Char('b'))) return TCueAudioFacts{QStringLiteral("no such file"), 0, -1};
        return TCueAudioFacts{{}, rate, samples};
    });
    if (sheet.Entries.empty() == sheet.Error.isEmpty()) __builtin_trap();
    if (sheet.Entries.size() > static_cast<size_t>(kMaxCueTracks)) __builtin_trap();
    for (size_t i = 0; i < sheet.Entries.size(); ++i) {
        const TPlaylistEntry& e = sheet.Entries[i];
        if (e.Path.isEmpty() || !QDir::isAbsolutePath(e.Path)) __builtin_trap();
        if (e.Range.First < 0 || e.Range.Count == 0 || e.Range.Count < -1) __builtin_trap();
        if (samples >= 0 && e.Range.First >= samples) __builtin_trap();
        if (e.Meta.LengthMs < 0 || e.Meta.Track <= 0) __builtin_trap();
        if (HasControlChar(e.Meta.Title) || HasControlChar(e.Meta.Artist) || HasControlChar(e.Meta.Album)) __builtin_trap();
        // A track that ends before the file's end ends where the next one starts.
        if (e.Range.Count > 0) {
            if (i + 1 >= sheet.Entries.size()) __builtin_trap();
            const TPlaylistEntry& next = sheet.Entries[i + 1];
            if (next.Path != e.Path || next.Range.First != e.Range.First + e.Range.Count) __builtin_trap();
        }
    }

    // Written in the extended form and read back: the same paths, ranges and meta.
    const QStringList lines = DecodePlaylistText(EncodePlaylistEntries(sheet.Entries));
    size_t at = 0;
    TSampleRange range;
    TEntryMeta meta;
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1Char('#'))) {
            if (!ParseRangeLine(line, &range)) ParseMetaLine(line, &meta);
            continue;
        }
        if (at >= sheet.Entries.size()) __builtin_trap();
        const TPlaylistEntry& e = sheet.Entries[at++];
        if (NormalizeEntry(line) != e.Path || range != e.Range || meta != e.Meta) __builtin_trap();
        range = {};
        meta = {};
    }
    if (at != sheet.Entries.size()) __builtin_trap();
}

}  // namespace wl::fuzz
