// The station list reader over arbitrary bytes: the first byte picks what the
// body is said to be (a file name, a URL or a content type of each kind, or
// nothing) and the base (a folder, a list's URL, none); ParseStationList then
// reads the rest as a body of any kind (.pls, .m3u, .xspf, or none of them).
// Every answer is either entries or an error; every entry names a file or a
// stream, made absolute against a folder and a stream against a list's URL;
// titles hold no control characters and a stream always has one; and a
// stream's URL is written to a playlist and read back as it was.
#include <QDir>
#include <QStringList>

#include "fuzz/harness.h"
#include "playback/m3u.h"
#include "playback/playlist_names.h"
#include "playback/station_list.h"

namespace wl::fuzz {

void StationListInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 16) return;
    static const char* const said[] = {
        "",          "radio.pls",           "list.M3U8",     "http://host/x.xspf?id=3",
        "audio/x-scpls", "audio/mpegurl; charset=utf-8", "application/xspf+xml", "text/html",
    };
    static const char* const bases[] = {"/base/folder", "http://host/dir/list.pls", "", "/"};
    const uint8_t config = data[0];
    const QString nameOrType = QString::fromLatin1(said[config & 7]);
    const QString base = QString::fromLatin1(bases[(config >> 3) & 3]);
    const QByteArray body(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    const TStationList list = ParseStationList(body, nameOrType, base);
    if (list.Entries.empty() == list.Error.isEmpty()) __builtin_trap();
    if (!list.Entries.empty() && list.Kind == TStationListKind::Unknown) __builtin_trap();
    if (list.Entries.size() > static_cast<size_t>(body.size())) __builtin_trap();
    const bool remote = IsStreamUrl(base);
    for (const TPlaylistEntry& entry : list.Entries) {
        const QString& path = entry.Path;
        const bool stream = IsStreamUrl(path);
        if (path.isEmpty() || (remote && !stream)) __builtin_trap();
        if (!base.isEmpty() && !stream && !QDir::isAbsolutePath(path)) __builtin_trap();
        if (HasControlChar(entry.Meta.Title) || HasControlChar(entry.Meta.Artist) || HasControlChar(entry.Meta.Album)) __builtin_trap();
        if (entry.Meta.LengthMs < 0 || !entry.Range.Whole()) __builtin_trap();
        if (!stream) continue;
        if (entry.Meta.Title.isEmpty()) __builtin_trap();
        (void)StreamUrlProblem(path);
        // Saved as it stands and read back the same (a line the reader takes).
        const QByteArray saved = EncodePlaylistText({path});
        if (saved.size() > kMaxPlaylistLineBytes + 1) continue;
        const QStringList lines = DecodePlaylistText(saved);
        if (lines.size() != 1 || NormalizeEntry(lines.front()) != path) __builtin_trap();
    }
}

}  // namespace wl::fuzz
