#include "playback/tag_cache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace wl {

namespace {

// The file: the magic (its last digit the layout's version), the record
// count, an FNV-1a hash of the records, then the records. A record: the
// path's length (16 bits) and bytes, size and modification time (64 bits,
// nanoseconds), the track (32 bits), the texts' length (16 bits) and bytes
// (title, artist, album, each ended by a NUL). Little-endian throughout.
constexpr std::string_view kMagic{"WLTAGS1\n"};
constexpr size_t kHeaderBytes = kMagic.size() + 4 + 8;
constexpr size_t kMaxField = 0xFFFF;
// Far above what the capacity can fill; a bigger file is not ours.
constexpr qint64 kMaxFileBytes = 512LL * 1024 * 1024;

uint64_t Fnv1a(std::string_view bytes) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

void PutInt(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// Reads from a byte range, failing (and staying failed) at its end.
class TCursor {
public:
    explicit TCursor(std::string_view bytes) : bytes_(bytes) {}
    uint64_t Int(int bytes) {
        if (!Has(static_cast<size_t>(bytes))) return 0;
        uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(static_cast<uint8_t>(bytes_[pos_ + i])) << (8 * i);
        pos_ += static_cast<size_t>(bytes);
        return value;
    }
    std::string_view Bytes(size_t n) {
        if (!Has(n)) return {};
        const std::string_view part = bytes_.substr(pos_, n);
        pos_ += n;
        return part;
    }
    bool Ok() const { return ok_; }
    bool AtEnd() const { return pos_ == bytes_.size(); }

private:
    bool Has(size_t n) {
        if (!ok_ || bytes_.size() - pos_ < n) ok_ = false;
        return ok_;
    }
    std::string_view bytes_;
    size_t pos_ = 0;
    bool ok_ = true;
};

std::string Utf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Title, artist and album, each ended by a NUL, holding no other NUL.
bool SoundTexts(std::string_view texts) {
    return std::count(texts.begin(), texts.end(), '\0') == 3 && !texts.empty() && texts.back() == '\0';
}

}  // namespace

std::optional<TFileStamp> StatRegularFile(const QString& path) {
    if (path.isEmpty()) return std::nullopt;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return TFileStamp{static_cast<int64_t>(st.st_size),
                      static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

TTagCache::TTagCache(size_t capacity) : capacity_(std::max<size_t>(capacity, 1)) {}

QString TTagCache::DefaultPath() {
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.cache");
    return base + QStringLiteral("/wavelantern/tags.bin");
}

bool TTagCache::Load(const QString& file) {
    records_.clear();
    clock_ = 0;
    dirty_ = false;
    QFile in(file);
    if (!in.exists()) return true;
    QByteArray data;
    if (in.open(QIODevice::ReadOnly) && in.size() <= kMaxFileBytes) data = in.readAll();
    const std::string_view bytes(data.constData(), static_cast<size_t>(data.size()));
    auto damaged = [this] {
        records_.clear();
        clock_ = 0;
        dirty_ = true;
        return false;
    };
    if (bytes.size() < kHeaderBytes || bytes.substr(0, kMagic.size()) != kMagic) return damaged();
    TCursor header(bytes.substr(kMagic.size(), kHeaderBytes - kMagic.size()));
    const uint64_t count = header.Int(4);
    const uint64_t hash = header.Int(8);
    const std::string_view body = bytes.substr(kHeaderBytes);
    if (Fnv1a(body) != hash) return damaged();
    TCursor cursor(body);
    records_.reserve(static_cast<size_t>(std::min<uint64_t>(count, capacity_ * 2)));
    for (uint64_t i = 0; i < count && cursor.Ok(); ++i) {
        const std::string_view path = cursor.Bytes(cursor.Int(2));
        TRecord record;
        record.Stamp.Size = static_cast<int64_t>(cursor.Int(8));
        record.Stamp.MTimeNs = static_cast<int64_t>(cursor.Int(8));
        record.Track = static_cast<int32_t>(cursor.Int(4));
        const std::string_view texts = cursor.Bytes(cursor.Int(2));
        if (!cursor.Ok() || path.empty() || path.find('\0') != std::string_view::npos || !SoundTexts(texts))
            return damaged();
        record.Texts.assign(texts);
        record.Used = ++clock_;  // the file lists them from the longest unused
        records_.insert_or_assign(std::string(path), std::move(record));
    }
    if (!cursor.Ok() || !cursor.AtEnd()) return damaged();
    if (records_.size() > capacity_) Trim(capacity_);
    return true;
}

bool TTagCache::Save(const QString& file, QString* reason) {
    Trim(capacity_);
    std::vector<const std::pair<const std::string, TRecord>*> order;
    order.reserve(records_.size());
    for (const auto& entry : records_) order.push_back(&entry);
    std::sort(order.begin(), order.end(), [](auto* a, auto* b) { return a->second.Used < b->second.Used; });
    std::string body;
    body.reserve(records_.size() * 128);
    for (const auto* entry : order) {
        const TRecord& record = entry->second;
        PutInt(body, entry->first.size(), 2);
        body += entry->first;
        PutInt(body, static_cast<uint64_t>(record.Stamp.Size), 8);
        PutInt(body, static_cast<uint64_t>(record.Stamp.MTimeNs), 8);
        PutInt(body, static_cast<uint32_t>(record.Track), 4);
        PutInt(body, record.Texts.size(), 2);
        body += record.Texts;
    }
    std::string header(kMagic);
    PutInt(header, order.size(), 4);
    PutInt(header, Fnv1a(body), 8);

    const QString folder = QFileInfo(file).absolutePath();
    QSaveFile out(file);
    const bool written = QDir().mkpath(folder) && out.open(QIODevice::WriteOnly) &&
                         out.write(header.data(), static_cast<qint64>(header.size())) == static_cast<qint64>(header.size()) &&
                         out.write(body.data(), static_cast<qint64>(body.size())) == static_cast<qint64>(body.size()) &&
                         out.commit();
    if (!written) {
        if (reason) *reason = out.errorString().isEmpty() ? QStringLiteral("cannot create ") + folder : out.errorString();
        return false;
    }
    dirty_ = false;
    return true;
}

std::optional<TEntryTags> TTagCache::Find(const QString& path, const TFileStamp& stamp) {
    const auto it = records_.find(Utf8(path));
    if (it == records_.end() || it->second.Stamp != stamp) return std::nullopt;
    TRecord& record = it->second;
    record.Used = ++clock_;
    const std::string_view texts = record.Texts;
    const size_t artist = texts.find('\0') + 1;
    const size_t album = texts.find('\0', artist) + 1;
    TEntryTags tags;
    tags.Title = FromUtf8(texts.substr(0, artist - 1));
    tags.Artist = FromUtf8(texts.substr(artist, album - 1 - artist));
    tags.Album = FromUtf8(texts.substr(album, texts.size() - 1 - album));
    tags.Track = record.Track;
    tags.Known = true;
    return tags;
}

void TTagCache::Put(const QString& path, const TFileStamp& stamp, const TEntryTags& tags) {
    std::string key = Utf8(path);
    // A NUL cannot stand in a path or be told apart in the texts; what does
    // not fit a field is read again next time instead.
    std::string texts;
    for (const QString* text : {&tags.Title, &tags.Artist, &tags.Album}) {
        const std::string part = Utf8(*text);
        if (part.find('\0') != std::string::npos) return;
        texts += part;
        texts.push_back('\0');
    }
    if (key.empty() || key.size() > kMaxField || key.find('\0') != std::string::npos || texts.size() > kMaxField) return;
    TRecord& record = records_[std::move(key)];
    record.Used = ++clock_;
    if (record.Stamp == stamp && record.Track == tags.Track && record.Texts == texts) return;  // kept as it is
    record.Stamp = stamp;
    record.Track = tags.Track;
    record.Texts = std::move(texts);
    dirty_ = true;
    if (records_.size() > capacity_ + capacity_ / 8) Trim(capacity_);
}

void TTagCache::Trim(size_t keep) {
    if (records_.size() <= keep) return;
    std::vector<uint64_t> used;
    used.reserve(records_.size());
    for (const auto& entry : records_) used.push_back(entry.second.Used);
    const size_t drop = records_.size() - keep;
    std::nth_element(used.begin(), used.begin() + static_cast<std::ptrdiff_t>(drop - 1), used.end());
    const uint64_t newestDropped = used[drop - 1];
    std::erase_if(records_, [&](const auto& entry) { return entry.second.Used <= newestDropped; });
    dirty_ = true;
}

}  // namespace wl
