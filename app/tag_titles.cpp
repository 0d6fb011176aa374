#include "app/tag_titles.h"

#include <exception>
#include <string>

#include "playback/m3u.h"
#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "info/mp3_info.h"

namespace wl {

namespace {

constexpr int32_t kReaderCapacity = 65536;

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
}

}  // namespace

QString ReadTagTitle(const QString& path) {
    if (path.isEmpty()) return {};
    try {
        TFileStream stream(ResolveEntryPath(path).toUtf8().toStdString());
        TMPStreamReader reader(kReaderCapacity);
        reader.Open(&stream);
        TMP3Info info;
        info.SetNeedInfoType(TMP3InfoType{mitID3V1, mitID3V2});  // as the window's player
        info.Attach(&reader);
        if (info.AnalyzeHead()) info.AnalyzeTail();
        const QString title = Utf8(info.Title());
        if (title.isEmpty()) return {};
        const QString artist = Utf8(info.Artist());
        return artist.isEmpty() ? title : artist + QStringLiteral(" - ") + title;
    } catch (const std::exception&) {
        return {};  // missing or unreadable: shown by its file name
    }
}

std::optional<QString> TTagTitles::Cached(const QString& path) const {
    const auto it = titles_.constFind(path);
    if (it == titles_.cend()) return std::nullopt;
    return *it;
}

QString TTagTitles::Get(const QString& path) {
    if (const auto cached = Cached(path)) return *cached;
    const QString title = ReadTagTitle(path);
    titles_.insert(path, title);
    return title;
}

}  // namespace wl
