#include "playback/station_list.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>
#include <map>
#include <utility>

#include "playback/m3u.h"
#include "playback/playlist_names.h"

namespace wl {

namespace {

// How far into a body its kind is looked for.
constexpr qsizetype kSniffBytes = 4096;
// Ten years: a longer length is a wrong number, taken as unknown.
constexpr int64_t kMaxLengthMs = int64_t{315'360'000} * 1000;

// An entry as a list gives it, before its location is resolved.
struct TRawEntry {
    QString Location;
    QString Title;
    QString Artist;
    QString Album;
    int64_t LengthMs = 0;
};

// The body from its first character: a byte-order mark and blanks skipped.
QByteArrayView Start(QByteArrayView body) {
    if (body.startsWith("\xEF\xBB\xBF")) body = body.sliced(3);
    while (!body.isEmpty() && (body.front() == ' ' || body.front() == '\t' || body.front() == '\r' ||
                               body.front() == '\n'))
        body = body.sliced(1);
    return body;
}

bool StartsWithNoCase(QByteArrayView text, const char* prefix) {
    const QByteArrayView p(prefix);
    return text.size() >= p.size() && text.first(p.size()).toByteArray().toLower() == p;
}

// The kind the body shows by its first characters; `markup` when it is some
// other XML or HTML.
TStationListKind KindOfBody(QByteArrayView body, bool* markup) {
    const QByteArrayView start = Start(body);
    *markup = false;
    if (StartsWithNoCase(start, "[playlist]")) return TStationListKind::Pls;
    if (StartsWithNoCase(start, "#extm3u")) return TStationListKind::M3u;
    if (start.startsWith('<')) {
        if (start.first(std::min(start.size(), kSniffBytes)).contains("playlist")) return TStationListKind::Xspf;
        *markup = true;
    }
    return TStationListKind::Unknown;
}

// Control bytes other than tabs and line ends near the start: not a text list
// (sound data served where a list was expected).
bool LooksBinary(QByteArrayView body) {
    const QByteArrayView head = body.first(std::min(body.size(), kSniffBytes));
    return std::any_of(head.begin(), head.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return (b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F;
    });
}

TStationListKind KindOfContentType(const QString& text) {
    const QString type = text.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    static const char* const pls[] = {"audio/x-scpls", "audio/scpls", "application/pls+xml", "application/pls"};
    static const char* const m3u[] = {"audio/x-mpegurl", "audio/mpegurl", "application/x-mpegurl",
                                      "application/vnd.apple.mpegurl", "audio/m3u", "audio/x-m3u"};
    for (const char* t : pls) {
        if (type == QLatin1String(t)) return TStationListKind::Pls;
    }
    for (const char* t : m3u) {
        if (type == QLatin1String(t)) return TStationListKind::M3u;
    }
    if (type == QLatin1String("application/xspf+xml")) return TStationListKind::Xspf;
    return TStationListKind::Unknown;
}

TStationListKind KindOfName(const QString& name) {
    QString path = name.trimmed();
    if (IsStreamUrl(path)) {
        const QUrl url(path, QUrl::TolerantMode);
        if (url.isValid()) path = url.path();
    }
    const QString ext = FileExtension(path).toLower();
    if (ext == QLatin1String(".pls")) return TStationListKind::Pls;
    if (ext == QLatin1String(".m3u") || ext == QLatin1String(".m3u8")) return TStationListKind::M3u;
    if (ext == QLatin1String(".xspf")) return TStationListKind::Xspf;
    return TStationListKind::Unknown;
}

// "scheme://" with a scheme other than http and https ("file:" is a file).
bool OtherScheme(const QString& text) {
    const qsizetype colon = text.indexOf(QLatin1String("://"));
    if (colon <= 0) return false;
    for (qsizetype i = 0; i < colon; ++i) {
        const QChar c = text[i];
        const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                        (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                        (i > 0 && (c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-') ||
                                   c == QLatin1Char('.')));
        if (!ok) return false;
    }
    return text.first(colon).compare(QLatin1String("file"), Qt::CaseInsensitive) != 0;
}

// A location made into an entry's path against the list's base; empty when
// it cannot stand in the list.
class TResolver {
public:
    explicit TResolver(const QString& base) : base_(base), remote_(IsStreamUrl(base)) {
        if (remote_) baseUrl_ = QUrl(base, QUrl::TolerantMode);
    }
    bool Remote() const { return remote_; }

    QString Resolve(const QString& location, bool uriReference) const {
        const QString text = location.trimmed();
        if (text.isEmpty()) return {};
        if (IsStreamUrl(text)) return text;
        if (OtherScheme(text)) return {};
        if (remote_) {
            // Relative to the list's URL; what is not a stream then (a file)
            // is not for a list from the network to name.
            const QString url =
                QString::fromUtf8(baseUrl_.resolved(QUrl(text, QUrl::TolerantMode)).toEncoded());
            return IsStreamUrl(url) ? url : QString();
        }
        // A relative URI reference is percent-encoded; a "file:" URL is
        // decoded by the playlist reader's rule.
        const bool fileUrl = text.startsWith(QLatin1String("file:"), Qt::CaseInsensitive);
        const QString path = NormalizeEntry(uriReference && !fileUrl ? QUrl::fromPercentEncoding(text.toUtf8()) : text);
        if (path.isEmpty()) return {};
        if (!base_.isEmpty() && QDir::isRelativePath(path)) return QDir::cleanPath(QDir(base_).filePath(path));
        return path;
    }

private:
    QString base_;
    bool remote_;
    QUrl baseUrl_;
};

// "FileN", "TitleN", "LengthN" (any case) -> field and N; false otherwise.
bool PlsKey(QStringView key, int* field, int64_t* number) {
    static const QLatin1String names[] = {QLatin1String("file"), QLatin1String("title"), QLatin1String("length")};
    for (int f = 0; f < 3; ++f) {
        if (!key.startsWith(names[f], Qt::CaseInsensitive)) continue;
        const QStringView digits = key.sliced(names[f].size());
        if (digits.isEmpty() || digits.size() > 9) return false;
        int64_t n = 0;
        for (QChar c : digits) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
            n = n * 10 + (c.unicode() - '0');
        }
        *field = f;
        *number = n;
        return true;
    }
    return false;
}

void ParsePls(const QStringList& lines, std::vector<TRawEntry>& out) {
    std::map<int64_t, TRawEntry> numbered;
    std::map<int64_t, bool> hasFile;
    bool inList = true;  // keys before any section count as the list's
    for (const QString& text : lines) {
        const QStringView line = QStringView(text).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#'))) continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            const QStringView name = close > 0 ? line.sliced(1, close - 1).trimmed() : QStringView();
            inList = name.compare(QLatin1String("playlist"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inList || equals <= 0) continue;
        int field = 0;
        int64_t number = 0;
        if (!PlsKey(line.first(equals).trimmed(), &field, &number)) continue;
        const QString value = line.sliced(equals + 1).trimmed().toString();
        TRawEntry& entry = numbered[number];
        switch (field) {
        case 0:
            entry.Location = value;
            hasFile[number] = true;
            break;
        case 1: entry.Title = value; break;
        default: {
            bool ok = false;
            const qlonglong seconds = value.toLongLong(&ok);
            entry.LengthMs = ok && seconds > 0 && seconds <= kMaxLengthMs / 1000 ? seconds * 1000 : 0;
            break;
        }
        }
    }
    // A title or length without a file names nothing to play.
    for (auto& [number, entry] : numbered) {
        if (hasFile.count(number) != 0) out.push_back(std::move(entry));
    }
}

void ParseM3u(const QStringList& lines, std::vector<TRawEntry>& out, QString* listTitle) {
    TRawEntry next;
    for (const QString& line : lines) {
        const QString text = line.trimmed();
        if (text.startsWith(QLatin1Char('#'))) {
            if (!ParseExtInf(text, &next.Title, &next.LengthMs) &&
                text.startsWith(QLatin1String("#PLAYLIST:"), Qt::CaseInsensitive))
                *listTitle = text.mid(10);
            continue;
        }
        if (text.isEmpty()) continue;
        next.Location = text;
        out.push_back(std::move(next));
        next = TRawEntry{};
    }
}

// The tracks of an XSPF document; the reader's error (with its line) when it
// is not well-formed or not a playlist, the tracks before the error kept.
QString ParseXspf(const QByteArray& body, std::vector<TRawEntry>& out, QString* listTitle) {
    QXmlStreamReader xml(body);
    auto text = [&xml] { return xml.readElementText(QXmlStreamReader::IncludeChildElements); };
    if (!xml.readNextStartElement()) {
        return xml.hasError() ? xml.errorString() : QStringLiteral("no XML element");
    }
    if (xml.name() != QLatin1String("playlist")) return QStringLiteral("the document is no <playlist>");
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("title")) {
            *listTitle = text();
        } else if (xml.name() == QLatin1String("trackList")) {
            while (xml.readNextStartElement()) {
                if (xml.name() != QLatin1String("track")) {
                    xml.skipCurrentElement();
                    continue;
                }
                TRawEntry track;
                bool located = false;
                while (xml.readNextStartElement()) {
                    const QStringView name = xml.name();
                    if (name == QLatin1String("location")) {
                        // Further locations are the same track elsewhere.
                        const QString location = text();
                        if (!located) track.Location = location;
                        located = true;
                    } else if (name == QLatin1String("title")) {
                        track.Title = text();
                    } else if (name == QLatin1String("creator")) {
                        track.Artist = text();
                    } else if (name == QLatin1String("album")) {
                        track.Album = text();
                    } else if (name == QLatin1String("duration")) {
                        bool ok = false;
                        const qlonglong ms = text().trimmed().toLongLong(&ok);
                        track.LengthMs = ok && ms > 0 && ms <= kMaxLengthMs ? ms : 0;
                    } else {
                        xml.skipCurrentElement();
                    }
                }
                if (xml.hasError()) break;
                out.push_back(std::move(track));
            }
        } else {
            xml.skipCurrentElement();
        }
    }
    if (!xml.hasError()) return {};
    return QStringLiteral("%1 (line %2)").arg(xml.errorString()).arg(xml.lineNumber());
}

// Every non-comment line a stream URL, and at least one.
bool AllLinesAreUrls(const QStringList& lines) {
    int urls = 0;
    for (const QString& line : lines) {
        const QString text = line.trimmed();
        if (text.isEmpty() || text.startsWith(QLatin1Char('#'))) continue;
        if (!IsStreamUrl(text)) return false;
        ++urls;
    }
    return urls > 0;
}

QString Count(int n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

}  // namespace

TStationListKind StationListKindOf(const QString& nameOrType) {
    const TStationListKind byType = KindOfContentType(nameOrType);
    return byType != TStationListKind::Unknown ? byType : KindOfName(nameOrType);
}

bool IsStationListPath(const QString& pathOrUrl) { return KindOfName(pathOrUrl) != TStationListKind::Unknown; }

TStationList ParseStationList(const QByteArray& body, const QString& nameOrType, const QString& base) {
    TStationList list;
    if (body.size() > kMaxStationListBytes) {
        list.Error = QStringLiteral("the station list is larger than 1 MB");
        return list;
    }
    bool markup = false;
    TStationListKind kind = KindOfBody(body, &markup);
    QStringList lines;
    int linesLeft = 0;
    if (kind == TStationListKind::Unknown && !markup && !LooksBinary(body)) {
        kind = StationListKindOf(nameOrType);
        if (kind == TStationListKind::Unknown) {
            lines = DecodePlaylistText(body, &linesLeft);
            if (AllLinesAreUrls(lines)) kind = TStationListKind::M3u;
        }
    }
    list.Kind = kind;
    if (kind == TStationListKind::Unknown) {
        list.Error = QStringLiteral("not a station list (.pls, .m3u or .xspf)");
        return list;
    }

    std::vector<TRawEntry> raw;
    QString listTitle;
    QString damage;
    if (kind == TStationListKind::Xspf) {
        damage = ParseXspf(body, raw, &listTitle);
    } else {
        if (lines.isEmpty()) lines = DecodePlaylistText(body, &linesLeft);
        if (kind == TStationListKind::Pls) {
            ParsePls(lines, raw);
        } else {
            ParseM3u(lines, raw, &listTitle);
        }
    }
    listTitle = CleanTitle(listTitle);

    const TResolver resolver(base);
    const bool uriReferences = kind == TStationListKind::Xspf;
    int leftOut = 0;
    for (TRawEntry& e : raw) {
        const QString path = resolver.Resolve(e.Location, uriReferences);
        if (path.isEmpty()) {
            ++leftOut;
            continue;
        }
        TPlaylistEntry entry;
        entry.Path = path;
        entry.Meta.Title = CleanTitle(e.Title);
        entry.Meta.Artist = CleanTitle(e.Artist);
        entry.Meta.Album = CleanTitle(e.Album);
        entry.Meta.LengthMs = e.LengthMs;
        if (entry.Meta.Title.isEmpty() && IsStreamUrl(path)) entry.Meta.Title = listTitle.isEmpty() ? path : listTitle;
        list.Entries.push_back(std::move(entry));
    }

    const QString leftOutWhy = resolver.Remote()
                                   ? QStringLiteral("only http and https streams are taken from a list on the network")
                                   : QStringLiteral("not an http or https stream or a file");
    if (list.Entries.empty()) {
        if (!damage.isEmpty()) {
            list.Error = QStringLiteral("damaged XSPF list: ") + damage;
        } else if (leftOut > 0) {
            list.Error = QStringLiteral("no station in the list can be played (%1: %2)")
                             .arg(Count(leftOut, "entry", "entries"), leftOutWhy);
        } else {
            list.Error = QStringLiteral("no stations in the list");
        }
        return list;
    }
    QStringList warnings;
    if (leftOut > 0) warnings.append(Count(leftOut, "entry", "entries") + QStringLiteral(" left out: ") + leftOutWhy);
    if (linesLeft > 0)
        warnings.append(Count(linesLeft, "line", "lines") + QStringLiteral(" left out: too long or not text"));
    if (!damage.isEmpty())
        warnings.append(QStringLiteral("the list is damaged after %1: %2")
                            .arg(Count(static_cast<int>(raw.size()), "entry", "entries"), damage));
    list.Warning = warnings.join(QStringLiteral("; "));
    return list;
}

TStationList ReadStationListFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        TStationList list;
        list.Kind = KindOfName(path);
        list.Error = QStringLiteral("cannot be read (%1)").arg(file.errorString());
        return list;
    }
    // One byte more than a list may have tells a list that is too large.
    const QByteArray body = file.read(kMaxStationListBytes + 1);
    return ParseStationList(body, path, QFileInfo(path).absolutePath());
}

QString StreamUrlProblem(const QString& text) {
    if (text.trimmed().isEmpty()) return QStringLiteral("No URL given");
    if (!IsStreamUrl(text)) return QStringLiteral("Not an http:// or https:// URL: ") + text;
    const QUrl url(text, QUrl::TolerantMode);
    if (!url.isValid()) return QStringLiteral("Not a valid URL: ") + text;
    if (url.host().isEmpty()) return QStringLiteral("No host in the URL: ") + text;
    return {};
}

}  // namespace wl
