#include "app/art_loader.h"

#include <QImageReader>
#include <QMetaObject>

#include <exception>
#include <string>

#include "info/mp3_info.h"
#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "playback/cover_art.h"
#include "playback/m3u.h"

namespace wl {

namespace {

constexpr int32_t kReaderCapacity = 65536;

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
}

// The tags as the player reads them (ID3v1 and ID3v2); empty when the file
// cannot be read.
TPanelTags ReadTags(const QString& path) {
    TPanelTags tags;
    try {
        TFileStream stream(path.toUtf8().toStdString());
        TMPStreamReader reader(kReaderCapacity);
        reader.Open(&stream);
        TMP3Info info;
        info.SetNeedInfoType(TMP3InfoType{mitID3V1, mitID3V2});
        info.Attach(&reader);
        if (info.AnalyzeHead()) info.AnalyzeTail();
        tags.Artist = Utf8(info.Artist());
        tags.Title = Utf8(info.Title());
        tags.Album = Utf8(info.Album());
        tags.Comment = Utf8(info.Comment());
        tags.Year = Utf8(info.Year());
        tags.Genre = Utf8(GenreText(info.Genre()));
        tags.Track = Utf8(info.Track());
    } catch (const std::exception&) {
        // Missing or unreadable: nothing to show.
    }
    return tags;
}

}  // namespace

QImage LoadScaledArt(const QString& path, QSize box, qreal pixelRatio) {
    if (path.isEmpty() || box.isEmpty()) return {};
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize target = (QSizeF(box) * pixelRatio).toSize();
    // A large picture is decoded near its final size, not whole.
    const QSize full = reader.size();
    if (full.isValid() && (full.width() > 2 * target.width() || full.height() > 2 * target.height()) &&
        reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(full.scaled(target * 2, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.isNull()) return {};
    image = image.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    image.setDevicePixelRatio(pixelRatio);
    return image;
}

TArtLoader::TArtLoader(QObject* parent) : QObject(parent) {
    pool_.setMaxThreadCount(1);
}

TArtLoader::~TArtLoader() {
    pool_.clear();
    pool_.waitForDone();
}

uint64_t TArtLoader::Request(const TArtRequest& request) {
    const uint64_t ticket = ++ticket_;
    // Requests not yet begun are outdated by this one.
    pool_.clear();
    pool_.start([this, ticket, request] {
        TArtAnswer answer;
        answer.Ticket = ticket;
        answer.Source = request.Source;
        const QString resolved = ResolveEntryPath(request.Source);
        answer.ArtPath = request.LookUpArt ? FindCoverArt(resolved) : request.ArtPath;
        answer.Image = LoadScaledArt(answer.ArtPath, request.Box, request.PixelRatio);
        if (request.ReadTags) {
            answer.HasTags = true;
            answer.Tags = ReadTags(resolved);
        }
        QMetaObject::invokeMethod(this, [this, answer] { emit Loaded(answer); }, Qt::QueuedConnection);
    });
    return ticket;
}

}  // namespace wl
