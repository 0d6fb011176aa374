#include "playback/m3u.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>

namespace wl {

namespace {

QString DecodeLine(QByteArrayView bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError()) return text;
    return QString::fromLatin1(bytes.data(), bytes.size());
}

bool IsDriveLetter(QChar c) { return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z')); }

}  // namespace

QStringList DecodePlaylistText(const QByteArray& bytes) {
    QByteArrayView rest(bytes);
    if (rest.startsWith("\xEF\xBB\xBF")) rest = rest.sliced(3);
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = rest.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = rest[i];
        if (c != '\n' && c != '\r') continue;
        lines.append(DecodeLine(rest.sliced(start, i - start)));
        if (c == '\r' && i + 1 < n && rest[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < n) lines.append(DecodeLine(rest.sliced(start)));
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

QString ResolveEntryPath(const QString& path) {
    if (path.isEmpty() || QFileInfo::exists(path)) return path;
    const bool absolute = path.startsWith(QLatin1Char('/'));
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString resolved = absolute ? QStringLiteral("/") : QString();
    auto join = [](const QString& base, const QString& name) {
        return base.isEmpty() || base.endsWith(QLatin1Char('/')) ? base + name : base + QLatin1Char('/') + name;
    };
    for (const QString& part : parts) {
        const QString exact = join(resolved, part);
        if (part == QLatin1String(".") || part == QLatin1String("..") || QFileInfo::exists(exact)) {
            resolved = exact;
            continue;
        }
        QStringList names = QDir(resolved.isEmpty() ? QStringLiteral(".") : resolved)
                                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                           QDir::Unsorted);
        std::sort(names.begin(), names.end());  // by the names' code points: a fixed first match
        const auto match = std::find_if(names.cbegin(), names.cend(), [&](const QString& name) {
            return name.compare(part, Qt::CaseInsensitive) == 0;
        });
        if (match == names.cend()) return path;
        resolved = join(resolved, *match);
    }
    return QFileInfo::exists(resolved) ? resolved : path;
}

QStringList ReadPlaylistFile(const QString& path, bool skipComments) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    QStringList entries;
    for (const QString& line : DecodePlaylistText(bytes)) {
        if (line.isEmpty()) continue;
        if (skipComments && line.startsWith(QLatin1Char('#'))) continue;
        entries.append(NormalizeEntry(line));
    }
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

bool WritePlaylistFile(const QString& path, const QStringList& entries, QString* reason) {
    QSaveFile file(path);
    const QByteArray bytes = EncodePlaylistText(entries);
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
