#include "playback/m3u.h"

#include "playback/entry_resolver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <cstring>
#include <utility>

namespace wl {

namespace {

QString DecodeLine(QByteArrayView bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(bytes.data(), bytes.size());
}

// Splits bytes fed a piece at a time into lines (CR LF, LF and a lone CR end
// one; a byte-order mark at the very start is dropped). Of a line only its
// first bytes are kept, enough to tell that it is too long and what its first
// character is; `line(bytes, usable)` gets each line, `usable` false for one
// that is too long or holds a NUL (then `bytes` is only its start).
template <class LineFn>
class TLineSplitter {
public:
    explicit TLineSplitter(LineFn line) : line_(std::move(line)) {}

    void Feed(QByteArrayView chunk) {
        const char* p = chunk.data();
        const char* const end = p + chunk.size();
        if (afterCr_ && p != end) {
            afterCr_ = false;
            if (*p == '\n') ++p;  // the LF of a CR LF split between pieces
        }
        while (p != end) {
            const char* stop = std::find_if(p, end, [](char c) { return c == '\n' || c == '\r'; });
            Append(p, stop);
            if (stop == end) break;
            EndLine();
            p = stop + 1;
            if (*stop == '\r') {
                if (p == end) {
                    afterCr_ = true;
                } else if (*p == '\n') {
                    ++p;
                }
            }
        }
    }

    // After the last piece: a last line without a line end.
    void Finish() {
        if (lineBytes_ == 0) return;
        if (first_ && lineBytes_ == kBom && QByteArrayView(kept_) == "\xEF\xBB\xBF") return;  // the mark alone
        EndLine();
    }

private:
    static constexpr qsizetype kBom = 3;

    void Append(const char* from, const char* to) {
        const qsizetype n = to - from;
        if (n == 0) return;
        lineBytes_ += n;
        // Room for the longest usable line and a byte-order mark before it.
        const qsizetype room = kMaxPlaylistLineBytes + kBom - kept_.size();
        if (room <= 0) return;
        const qsizetype take = std::min(room, n);
        if (std::memchr(from, 0, static_cast<size_t>(take)) != nullptr) nul_ = true;
        kept_.append(from, take);
    }

    void EndLine() {
        QByteArrayView bytes(kept_);
        qsizetype length = lineBytes_;
        if (first_ && bytes.startsWith("\xEF\xBB\xBF")) {
            bytes = bytes.sliced(kBom);
            length -= kBom;
        }
        first_ = false;
        line_(bytes, length <= kMaxPlaylistLineBytes && !nul_);
        kept_.clear();
        lineBytes_ = 0;
        nul_ = false;
    }

    LineFn line_;
    QByteArray kept_;
    qsizetype lineBytes_ = 0;  // the whole line's, kept or not
    bool nul_ = false;
    bool afterCr_ = false;
    bool first_ = true;
};

bool IsDriveLetter(QChar c) { return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z')); }

}  // namespace

QStringList DecodePlaylistText(const QByteArray& bytes, int* skipped) {
    QStringList lines;
    int left = 0;
    TLineSplitter split([&](QByteArrayView line, bool usable) {
        if (usable) {
            lines.append(DecodeLine(line));
        } else {
            ++left;
        }
    });
    split.Feed(bytes);
    split.Finish();
    if (skipped) *skipped += left;
    return lines;
}

QString NormalizeEntry(const QString& line) {
    if (line.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl url(line, QUrl::TolerantMode);
        if (url.isValid() && url.isLocalFile()) {
            QString path = url.path(QUrl::FullyDecoded);
            const QString host = url.host();
            if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
                path = QLatin1String("//") + host + path;  // a share: best guess
            // "file:///C:/x/a.mp3" is a Windows path.
            if (path.size() >= 3 && path[0] == QLatin1Char('/') && IsDriveLetter(path[1]) && path[2] == QLatin1Char(':'))
                path.remove(0, 1);
            // "%00" names no file: the URL stays as it was (a missing entry).
            if (path.contains(QChar(0))) return line;
            return path;
        }
        return line;
    }
    if (line.contains(QLatin1Char('/')) || !line.contains(QLatin1Char('\\'))) {
        // Still drop a drive of a drive-relative name ("C:a.mp3").
        if (line.size() > 2 && IsDriveLetter(line[0]) && line[1] == QLatin1Char(':') && !line.contains(QLatin1Char('/')))
            return line.mid(2);
        return line;
    }
    QString path = line;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == QLatin1Char(':') &&
        (path.size() == 2 || path[2] != QLatin1Char('/')))
        path.remove(0, 2);  // drive-relative: relative to the playlist's folder
    return path;
}

QString ResolveEntryPath(const QString& path) { return TEntryResolver::Shared().Resolve(path); }

QString EntryInFolder(const QString& entry, const QString& folder) {
    if (entry.isEmpty() || IsStreamUrl(entry) || folder.isEmpty()) return entry;
    return QDir::cleanPath(QDir::isRelativePath(entry) ? QDir(folder).filePath(entry) : entry);
}

bool ParseExtInf(const QString& line, QString* title, int64_t* lengthMs) {
    static const QLatin1String kTag("#EXTINF:");
    if (!line.startsWith(kTag, Qt::CaseInsensitive)) return false;
    const QStringView rest = QStringView(line).sliced(kTag.size());
    // The length: a number of seconds (a fraction allowed), -1 for a stream.
    qsizetype end = 0;
    while (end < rest.size() && (rest[end].isDigit() || rest[end] == QLatin1Char('.') ||
                                 (end == 0 && (rest[end] == QLatin1Char('-') || rest[end] == QLatin1Char('+')))))
        ++end;
    bool ok = false;
    const double seconds = rest.first(end).toDouble(&ok);
    // Ten years at most: a wrong number is no reason to overflow.
    if (lengthMs) *lengthMs = ok && seconds > 0 && seconds < 315'360'000 ? static_cast<int64_t>(seconds * 1000) : 0;
    // The title follows the first comma outside double quotes.
    bool quoted = false;
    for (qsizetype i = end; i < rest.size(); ++i) {
        if (rest[i] == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (rest[i] == QLatin1Char(',') && !quoted) {
            if (title) *title = rest.sliced(i + 1).trimmed().toString();
            return true;
        }
    }
    if (title) title->clear();
    return true;
}

std::vector<TPlaylistItem> ReadPlaylistItems(const QString& path, bool skipComments, int* skipped) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    std::vector<TPlaylistItem> items;
    TPlaylistItem next;  // what an "#EXTINF:" line said of the next entry
    int left = 0;
    TLineSplitter split([&](QByteArrayView line, bool usable) {
        if (line.isEmpty()) return;
        if (!usable) {
            // A comment is left out anyway (a byte-order mark may come first
            // where files were joined).
            const QByteArrayView text = line.startsWith("\xEF\xBB\xBF") ? line.sliced(3) : line;
            if (!(skipComments && !text.isEmpty() && text.front() == '#')) ++left;
            return;
        }
        const QString text = DecodeLine(line);
        if (text.isEmpty()) return;
        if (skipComments && text.startsWith(QLatin1Char('#'))) {
            if (!ParseExtInf(text, &next.Title, &next.LengthMs) && !ParseRangeLine(text, &next.Range) &&
                ParseMetaLine(text, &next.Meta))
                next.HasMeta = true;
            return;
        }
        next.Path = NormalizeEntry(text);
        items.push_back(std::move(next));
        next = TPlaylistItem{};
    });
    constexpr qint64 kPiece = 64 * 1024;
    QByteArray piece(kPiece, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(piece.data(), kPiece);
        if (n <= 0) break;
        split.Feed(QByteArrayView(piece.constData(), n));
    }
    split.Finish();
    if (skipped) *skipped += left;
    return items;
}

QStringList ReadPlaylistFile(const QString& path, bool skipComments, int* skipped) {
    QStringList entries;
    for (TPlaylistItem& item : ReadPlaylistItems(path, skipComments, skipped)) entries.append(std::move(item.Path));
    return entries;
}

QByteArray EncodePlaylistText(const QStringList& entries) {
    QByteArray bytes;
    for (const QString& entry : entries) {
        // A name holding a line break (a "file:" URL with %0A) fits on one
        // line only as a URL again: every byte but letters, digits and "-._~"
        // percent-encoded, "/" included, so that a relative path stays
        // relative and no "//" reads as a host.
        if (entry.contains(QLatin1Char('\n')) || entry.contains(QLatin1Char('\r')))
            bytes += "file:" + QUrl::toPercentEncoding(entry);
        else
            bytes += entry.toUtf8();
        bytes += '\n';
    }
    return bytes;
}

bool ParseRangeLine(const QString& line, TSampleRange* range) {
    static const QLatin1String kTag("#EXTWL-RANGE:");
    if (!line.startsWith(kTag, Qt::CaseInsensitive)) return false;
    const QStringList parts = line.sliced(kTag.size()).split(QLatin1Char(','));
    if (parts.size() != 2) return false;
    bool okFirst = false, okCount = false;
    const qlonglong first = parts[0].trimmed().toLongLong(&okFirst);
    const qlonglong count = parts[1].trimmed().toLongLong(&okCount);
    if (!okFirst || !okCount || first < 0 || count < -1) return false;
    *range = {first, count};
    return true;
}

bool ParseMetaLine(const QString& line, TEntryMeta* meta) {
    static const QLatin1String kTag("#EXTWL-META:");
    if (!line.startsWith(kTag, Qt::CaseInsensitive)) return false;
    TEntryMeta m;
    const QUrlQuery query(line.sliced(kTag.size()));
    for (const auto& [key, encoded] : query.queryItems(QUrl::FullyDecoded)) {
        const QString& value = encoded;
        bool ok = false;
        if (key == QLatin1String("title")) {
            m.Title = value;
        } else if (key == QLatin1String("artist")) {
            m.Artist = value;
        } else if (key == QLatin1String("album")) {
            m.Album = value;
        } else if (key == QLatin1String("albumartist")) {
            m.AlbumArtist = value;
        } else if (key == QLatin1String("track")) {
            const int n = value.toInt(&ok);
            m.Track = ok && n > 0 ? n : 0;
        } else if (key == QLatin1String("ms")) {
            const qlonglong ms = value.toLongLong(&ok);
            m.LengthMs = ok && ms > 0 ? ms : 0;
        } else {
            std::optional<double>* gain = key == QLatin1String("tg")   ? &m.TrackGainDb
                                          : key == QLatin1String("tp") ? &m.TrackPeak
                                          : key == QLatin1String("ag") ? &m.AlbumGainDb
                                          : key == QLatin1String("ap") ? &m.AlbumPeak
                                                                       : nullptr;
            const double v = value.toDouble(&ok);
            if (gain && ok && v == v) *gain = v;
        }
    }
    *meta = std::move(m);
    return true;
}

namespace {

// A file entry with a range or something known of it; a stream's URL is
// written as it stands (its title comes from its list or its server).
bool Extended(const TPlaylistEntry& entry) {
    return !IsStreamUrl(entry.Path) && (!entry.Range.Whole() || entry.Meta != TEntryMeta{});
}

}  // namespace

namespace {

// A file entry's line in a list in `folder` (absolute, cleaned, ending in
// "/"): relative when the file lies below the folder, else absolute. A
// relative line the reader would take for something else (a comment, a
// Windows path, a drive or a URL) starts with "./".
QString LineFor(const QString& path, const QDir& current, const QString& folder) {
    if (IsStreamUrl(path)) return path;
    const QString absolute = QDir::cleanPath(current.absoluteFilePath(path));
    if (!absolute.startsWith(folder) || absolute.size() == folder.size()) return absolute;
    QString line = absolute.sliced(folder.size());
    const bool misread =
        line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1String("file:"), Qt::CaseInsensitive) ||
        IsStreamUrl(line) ||
        (!line.contains(QLatin1Char('/')) && (line.contains(QLatin1Char('\\')) || (line.size() > 1 && line[1] == QLatin1Char(':'))));
    return misread ? QStringLiteral("./") + line : line;
}

QByteArray Encode(const std::vector<TPlaylistEntry>& entries, const QStringList& paths);

}  // namespace

QByteArray EncodePlaylistEntries(const std::vector<TPlaylistEntry>& entries) {
    QStringList paths;
    paths.reserve(static_cast<qsizetype>(entries.size()));
    for (const TPlaylistEntry& entry : entries) paths.append(entry.Path);
    return Encode(entries, paths);
}

QByteArray EncodePlaylistFor(const std::vector<TPlaylistEntry>& entries, const QString& folder) {
    QStringList paths;
    paths.reserve(static_cast<qsizetype>(entries.size()));
    const QDir current = QDir::current();
    QString base = QDir::cleanPath(current.absoluteFilePath(folder));
    if (!base.endsWith(QLatin1Char('/'))) base += QLatin1Char('/');
    for (const TPlaylistEntry& entry : entries) paths.append(LineFor(entry.Path, current, base));
    return Encode(entries, paths);
}

namespace {

QByteArray Encode(const std::vector<TPlaylistEntry>& entries, const QStringList& paths) {
    const bool extended = std::any_of(entries.begin(), entries.end(), Extended);
    if (!extended) return EncodePlaylistText(paths);
    QByteArray bytes = "#EXTM3U\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        const TPlaylistEntry& entry = entries[i];
        QString path = paths[static_cast<qsizetype>(i)];
        if (path.startsWith(QLatin1Char('#'))) path.prepend(QLatin1String("./"));
        const TEntryMeta& m = entry.Meta;
        if (!Extended(entry)) {
            bytes += EncodePlaylistText({path});
            continue;
        }
        if (m != TEntryMeta{}) {
            const QString shown = m.Artist.isEmpty() || m.Title.isEmpty() ? m.Title : m.Artist + QStringLiteral(" - ") + m.Title;
            QString title = shown;
            title.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
            bytes += "#EXTINF:" + QByteArray::number((m.LengthMs + 999) / 1000) + ',' + title.toUtf8() + '\n';
        }
        if (!entry.Range.Whole())
            bytes += "#EXTWL-RANGE:" + QByteArray::number(entry.Range.First) + ',' + QByteArray::number(entry.Range.Count) + '\n';
        if (m != TEntryMeta{}) {
            QByteArray meta;
            const auto add = [&meta](const char* key, const QString& value) {
                if (value.isEmpty()) return;
                if (!meta.isEmpty()) meta += '&';
                meta += key;
                meta += '=';
                meta += QUrl::toPercentEncoding(value);
            };
            const auto number = [](const std::optional<double>& v) { return v ? QString::number(*v, 'g', 17) : QString(); };
            add("title", m.Title);
            add("artist", m.Artist);
            add("album", m.Album);
            add("albumartist", m.AlbumArtist);
            add("track", m.Track > 0 ? QString::number(m.Track) : QString());
            add("ms", m.LengthMs > 0 ? QString::number(m.LengthMs) : QString());
            add("tg", number(m.TrackGainDb));
            add("tp", number(m.TrackPeak));
            add("ag", number(m.AlbumGainDb));
            add("ap", number(m.AlbumPeak));
            bytes += "#EXTWL-META:" + meta + '\n';
        }
        bytes += EncodePlaylistText({path});
    }
    return bytes;
}

}  // namespace

bool IsExtendedPlaylistFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    QByteArray head = file.read(10);
    if (head.startsWith("\xEF\xBB\xBF")) head.remove(0, 3);
    return head.startsWith("#EXTM3U");
}

bool WritePlaylistFile(const QString& path, const QStringList& entries, QString* reason) {
    return WritePlaylistBytes(path, EncodePlaylistText(entries), reason);
}

bool WritePlaylistBytes(const QString& path, const QByteArray& bytes, QString* reason) {
    QSaveFile file(path);
    const bool written = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    if (written && file.commit()) return true;
    if (reason) *reason = file.errorString();
    if (written) return false;  // the failed commit has removed the temporary file
    file.cancelWriting();
    return false;
}

bool CopyFileSafely(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = in.readAll();
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly)) return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

}  // namespace wl
