#include "playback/cover_art.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "playback/playlist_model.h"

namespace wl {

namespace {

namespace fs = std::filesystem;

// A cache file's name: 32 hex digits, a dot, an image extension.
bool IsCacheName(const std::string& name) {
    const auto dot = name.find('.');
    if (dot != 32) return false;
    if (!std::all_of(name.begin(), name.begin() + 32, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }))
        return false;
    const std::string extension = name.substr(33);
    return extension == "jpg" || extension == "png" || extension == "gif" || extension == "bmp" || extension == "webp";
}

}  // namespace

TArtCache::TArtCache(QString folder) : folder_(std::move(folder)) {}

QString TArtCache::DefaultFolder() {
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    // The variable must name an absolute path to count.
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/wavelantern/art");
}

QString TArtCache::Store(const TPicture& picture) const {
    const QByteArrayView bytes(picture.Data.data(), static_cast<qsizetype>(picture.Data.size()));
    const QString hash = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().left(32));
    const QString path = folder_ + QLatin1Char('/') + hash + QLatin1Char('.') + QString::fromStdString(picture.Extension);
    const fs::path native = QFile::encodeName(path).toStdString();
    std::error_code ec;
    if (fs::file_size(native, ec) == picture.Data.size() && !ec) {
        fs::last_write_time(native, fs::file_time_type::clock::now(), ec);  // used now
        return path;
    }
    if (!QDir().mkpath(folder_)) return {};
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), bytes.size()) != bytes.size() || !file.commit())
        return {};
    Prune(path);
    return path;
}

void TArtCache::Prune(const QString& keep) const {
    struct TFile {
        fs::path path;
        fs::file_time_type time;
        uintmax_t size;
    };
    std::vector<TFile> files;
    uintmax_t total = 0;
    std::error_code ec;
    for (fs::directory_iterator it(QFile::encodeName(folder_).toStdString(), ec), end; !ec && it != end; it.increment(ec)) {
        if (!IsCacheName(it->path().filename().string()) || !it->is_regular_file(ec)) continue;
        TFile f{it->path(), it->last_write_time(ec), it->file_size(ec)};
        if (ec) continue;  // removed meanwhile by another writer's pruning
        total += f.size;
        files.push_back(std::move(f));
    }
    if (files.size() <= kMaxFiles && total <= static_cast<uintmax_t>(kMaxBytes)) return;
    std::sort(files.begin(), files.end(), [](const TFile& a, const TFile& b) { return a.time < b.time; });
    const fs::path kept = QFile::encodeName(keep).toStdString();
    size_t count = files.size();
    for (const TFile& f : files) {
        if (count <= kMaxFiles && total <= static_cast<uintmax_t>(kMaxBytes)) break;
        if (f.path == kept) continue;
        if (fs::remove(f.path, ec) || !fs::exists(f.path, ec)) {
            --count;
            total -= f.size;
        }
    }
}

QString FindCoverArt(const QString& source, const TArtCache& cache) {
    if (source.isEmpty() || IsStreamUrl(source)) return {};
    const std::string path = QFile::encodeName(source).toStdString();
    if (const auto picture = ReadFilePicture(path)) {
        const QString stored = cache.Store(*picture);
        if (!stored.isEmpty()) return stored;
    }
    if (const auto folder = FindFolderPicture(QFile::encodeName(QFileInfo(source).absolutePath()).toStdString()))
        return QFile::decodeName(QByteArray::fromStdString(*folder));
    return {};
}

}  // namespace wl
