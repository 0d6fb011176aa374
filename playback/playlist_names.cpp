#include "playback/playlist_names.h"

#include <algorithm>

namespace wl {

namespace {

qsizetype NameStart(const QString& path) {
    const qsizetype slash = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return slash + 1;
}

}  // namespace

QString FileNamePart(const QString& path) { return path.mid(NameStart(path)); }

QString FileExtension(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < NameStart(path)) return {};
    return path.mid(dot);
}

bool IsMp3Path(const QString& path) {
    return FileExtension(path).compare(QLatin1String(".mp3"), Qt::CaseInsensitive) == 0;
}

bool IsPlaylistPath(const QString& path) {
    const QString ext = FileExtension(path);
    return ext.compare(QLatin1String(".m3u"), Qt::CaseInsensitive) == 0 ||
           ext.compare(QLatin1String(".m3u8"), Qt::CaseInsensitive) == 0;
}

QString DisplayName(const QString& path) {
    const QString name = FileNamePart(path);
    return name.left(std::max<qsizetype>(0, name.size() - 4));
}

QString TitleFromPath(const QString& path) {
    const QString name = FileNamePart(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QString EntryText(int number, bool played, const QString& path) { return EntryLabel(number, played, DisplayName(path)); }

QString EntryLabel(int number, bool played, const QString& name) {
    return QString::number(number) + (played ? QLatin1String("> ") : QLatin1String(". ")) + name;
}

QString RenameEntryText(const QString& text, const QString& name) {
    qsizetype digits = 0;
    while (digits < text.size() && text[digits].isDigit()) ++digits;
    return text.left(std::min(text.size(), digits + 2)) + name;
}

QString MarkPlayed(const QString& text) {
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == QLatin1Char('.') || text[i] == QLatin1Char('>')) {
            QString marked = text;
            marked[i] = QLatin1Char('>');
            return marked;
        }
    }
    return text;
}

QString RateText(int bitrate, int sampleRate) {
    const QString rate = bitrate != 0 ? QString::number(bitrate / 1000) + QLatin1String("Kbps, ") : QStringLiteral("V B R, ");
    return rate + QString::number(sampleRate / 1000) + QLatin1String("Khz");
}

QString FormatText(int version, int layer, int channels) {
    QString text = QStringLiteral("MPEG ");
    if (version == 1) text += QLatin1Char('1');
    else if (version == 2) text += QLatin1Char('2');
    else if (version == 3) text += QLatin1String("2.5");
    text += QLatin1String(", Layer ") + QString::number(layer);
    text += channels == 1 ? QLatin1String(", Mono") : QLatin1String(", Stereo");
    return text;
}

QString JoinPath(const QString& folder, const QString& name) {
    if (folder.endsWith(QLatin1Char('/'))) return folder + name;
    return folder + QLatin1Char('/') + name;
}

bool HasControlChar(const QString& text) {
    return std::any_of(text.begin(), text.end(), IsControlChar);
}

QString CleanTitle(QString text) {
    for (QChar& c : text) {
        if (IsControlChar(c)) c = QLatin1Char(' ');
    }
    return text.trimmed();
}

}  // namespace wl
