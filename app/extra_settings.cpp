#include "app/extra_settings.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <cmath>

#include "app/atomic_file.h"
#include "playback/playlist_model.h"
#include "playback/playlist_names.h"

namespace wl {

namespace {

constexpr int64_t kMaxPositionMs = int64_t{1} << 40;  // far beyond any file
constexpr qint64 kMaxFileBytes = 1 << 16;  // the file is a few hundred bytes

// The file's values as text, "Section/Key" -> value: "[Section]" lines, then
// "Key=Value" lines, spaces around both trimmed, one pair of double quotes
// around a value dropped, ";" starting a comment, lines beginning with "#"
// ignored, the last of repeated keys kept. Values are only ever text: the
// "@Variant(...)" forms QSettings would turn into arbitrary types (a few bytes
// could ask it for gigabytes) are plain text here, and no value of them is
// valid. A line that is not UTF-8, holds a NUL, or is neither a section, a
// pair, a comment nor blank is not used and counted in `badLines`; so is a
// file larger than kMaxFileBytes (once; only its start is read).
using TIni = QHash<QString, QString>;

TIni ReadIni(const QString& path, int& badLines) {
    TIni values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return values;
    QByteArray bytes = file.read(kMaxFileBytes + 1);
    if (bytes.size() > kMaxFileBytes) {
        ++badLines;
        bytes.truncate(kMaxFileBytes);
        // The cut line is incomplete: left out.
        const qsizetype end = std::max(bytes.lastIndexOf('\n'), bytes.lastIndexOf('\r'));
        bytes.truncate(std::max<qsizetype>(end, 0));
    }
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    bytes.replace("\r\n", "\n");
    bytes.replace('\r', '\n');
    QString section;
    for (const QByteArray& raw : bytes.split('\n')) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(raw);
        if (utf8.hasError() || raw.contains('\0')) {
            ++badLines;
            continue;
        }
        QStringView line = QStringView(text).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#'))) continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            if (close > 0) {
                section = line.sliced(1, close - 1).trimmed().toString();
            } else {
                ++badLines;
            }
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) {
            ++badLines;
            continue;
        }
        QStringView value = line.sliced(equals + 1);
        const qsizetype comment = value.indexOf(QLatin1Char(';'));
        if (comment >= 0) value = value.first(comment);
        value = value.trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.sliced(1, value.size() - 2);
        values.insert(section + QLatin1Char('/') + line.first(equals).trimmed().toString(), value.toString());
    }
    return values;
}

// Reads the file's values; a value present but unusable gives the default and
// is counted in `bad`. A missing key gives the default silently.
class TValues {
public:
    TValues(const TIni& ini, int& bad) : ini_(ini), bad_(bad) {}

    // Booleans as QSettings writes them ("true", "false"), or 1 and 0.
    bool Bool(const char* key, bool fallback) {
        const auto found = ini_.constFind(QLatin1String(key));
        if (found == ini_.cend()) return fallback;
        const QString text = found->trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("1")) return true;
        if (text == QLatin1String("false") || text == QLatin1String("0")) return false;
        ++bad_;
        return fallback;
    }

    int64_t Int(const char* key, int64_t low, int64_t high, int64_t fallback) {
        const auto found = ini_.constFind(QLatin1String(key));
        if (found == ini_.cend()) return fallback;
        bool ok = false;
        const qlonglong v = found->trimmed().toLongLong(&ok);
        if (ok && v >= low && v <= high) return v;
        ++bad_;
        return fallback;
    }

    double Double(const char* key, double low, double high, double fallback) {
        const auto found = ini_.constFind(QLatin1String(key));
        if (found == ini_.cend()) return fallback;
        bool ok = false;
        const double v = found->trimmed().toDouble(&ok);
        if (ok && std::isfinite(v) && v >= low && v <= high) return v;
        ++bad_;
        return fallback;
    }

    // A sound server's sink name: printable ASCII without quotes, ';' or
    // '=' (so that it is written back as it stands).
    QString Name(const char* key, const QString& fallback) {
        const auto found = ini_.constFind(QLatin1String(key));
        if (found == ini_.cend()) return fallback;
        const QString text = found->trimmed();
        bool ok = text.size() <= 256;
        for (QChar c : text)
            ok = ok && c.unicode() > 0x20 && c.unicode() < 0x7F && c != QLatin1Char('"') && c != QLatin1Char(';') &&
                 c != QLatin1Char('=');
        if (ok) return text;
        ++bad_;
        return fallback;
    }

    // A code page for 8-bit text: a name of letters, digits and "-_.:" that
    // the converter knows and that reads ASCII as ASCII (so no UTF-16 or
    // EBCDIC). Empty gives the default silently.
    QString CodePage(const char* key, const QString& fallback) {
        const auto found = ini_.constFind(QLatin1String(key));
        if (found == ini_.cend()) return fallback;
        const QString name = found->trimmed();
        if (name.isEmpty()) return fallback;
        bool ok = name.size() <= 40;
        for (QChar c : name) {
            ok = ok && c.unicode() < 0x80 &&
                 (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_') || c == QLatin1Char('.') ||
                  c == QLatin1Char(':'));
        }
        if (ok) {
            QStringDecoder decoder(name.toLatin1().constData(), QStringDecoder::Flag::Stateless);
            static const QByteArray kAscii = QByteArrayLiteral("Radio 1-2_x.Y:z");
            ok = decoder.isValid() && QString(decoder(kAscii)) == QLatin1String(kAscii) && !decoder.hasError();
        }
        if (ok) return name;
        ++bad_;
        return fallback;
    }

    // An absolute path, percent-encoded UTF-8 (so that any name survives the
    // INI syntax), without control characters.
    QString Folder(const char* key, const QString& fallback) {
        const auto found = ini_.constFind(QLatin1String(key));
        if (found == ini_.cend() || found->trimmed().isEmpty()) return fallback;
        const QByteArray encoded = found->trimmed().toUtf8();
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString path = utf8(QByteArray::fromPercentEncoding(encoded));
        bool ok = !utf8.hasError() && path.startsWith(QLatin1Char('/')) && path.size() <= 4096;
        ok = ok && !HasControlChar(path);
        if (ok) return path;
        ++bad_;
        return fallback;
    }

private:
    const TIni& ini_;
    int& bad_;
};

QByteArray Bool(bool v) { return v ? QByteArrayLiteral("true") : QByteArrayLiteral("false"); }

}  // namespace

TExtraSettingsDamage TExtraSettings::Load(const QString& path) {
    *this = TExtraSettings{};
    TExtraSettingsDamage damage;
    if (!QFileInfo(path).isFile()) return damage;
    const TIni ini = ReadIni(path, damage.Lines);
    TValues s(ini, damage.Values);
    ResumePlayback = s.Bool("Playback/ResumePlayback", ResumePlayback);
    TitlesFromTags = s.Bool("Playback/TitlesFromTags", TitlesFromTags);
    SheetsInFolders = s.Bool("Playback/SheetsInFolders", SheetsInFolders);
    ReplayGainMode = static_cast<TReplayGainMode>(s.Int("ReplayGain/Mode", 0, 2, static_cast<int>(ReplayGainMode)));
    ReplayGainPreampDb = s.Double("ReplayGain/PreampDb", kPreampMinDb, kPreampMaxDb, ReplayGainPreampDb);
    ReplayGainPreventClipping = s.Bool("ReplayGain/PreventClipping", ReplayGainPreventClipping);
    ResumeEntry = static_cast<int>(s.Int("Resume/Entry", 0, kMaxEntries, ResumeEntry));
    ResumePositionMs = s.Int("Resume/PositionMs", 0, kMaxPositionMs, ResumePositionMs);
    ResumeVolume = static_cast<int>(s.Int("Resume/Volume", -1, 100, ResumeVolume));
    ResumeWasPlaying = s.Bool("Resume/WasPlaying", ResumeWasPlaying);
    OutputDevice = s.Name("Output/Device", OutputDevice);
    TitleCodePage = s.CodePage("Radio/TitleCodePage", TitleCodePage);
    PlaylistRows = static_cast<int>(s.Int("Playlist/Rows", kMinPlaylistRows, kMaxPlaylistRows, PlaylistRows));
    LastFolder = s.Folder("Playlist/LastFolder", LastFolder);
    return damage;
}

// Plain values only (booleans, integers, a decimal, names of plain ASCII, a
// percent-encoded path), so nothing needs quoting.
QByteArray TExtraSettings::Encode() const {
    QByteArray out;
    out += "[Playback]\n";
    out += "ResumePlayback=" + Bool(ResumePlayback) + "\n";
    out += "TitlesFromTags=" + Bool(TitlesFromTags) + "\n";
    out += "SheetsInFolders=" + Bool(SheetsInFolders) + "\n";
    out += "\n[ReplayGain]\n";
    out += "Mode=" + QByteArray::number(static_cast<int>(ReplayGainMode)) + "\n";
    out += "PreampDb=" + QByteArray::number(ReplayGainPreampDb, 'g', 12) + "\n";
    out += "PreventClipping=" + Bool(ReplayGainPreventClipping) + "\n";
    out += "\n[Resume]\n";
    out += "Entry=" + QByteArray::number(ResumeEntry) + "\n";
    out += "PositionMs=" + QByteArray::number(static_cast<qlonglong>(ResumePositionMs)) + "\n";
    out += "Volume=" + QByteArray::number(ResumeVolume) + "\n";
    out += "WasPlaying=" + Bool(ResumeWasPlaying) + "\n";
    out += "\n[Output]\n";
    out += "Device=" + OutputDevice.toLatin1() + "\n";
    out += "\n[Radio]\n";
    out += "TitleCodePage=" + TitleCodePage.toLatin1() + "\n";
    out += "\n[Playlist]\n";
    out += "Rows=" + QByteArray::number(PlaylistRows) + "\n";
    out += "LastFolder=" + LastFolder.toUtf8().toPercentEncoding("/") + "\n";
    return out;
}

bool TExtraSettings::Save(const QString& path) const { return WriteFileAtomically(path, Encode()); }

}  // namespace wl
