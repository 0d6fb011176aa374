#include "app/extra_settings.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cmath>

#include "app/atomic_file.h"

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
// valid.
using TIni = QHash<QString, QString>;

TIni ReadIni(const QString& path) {
    TIni values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return values;
    QString text = QString::fromUtf8(file.read(kMaxFileBytes));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QString section;
    for (QStringView line : QStringView(text).split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#'))) continue;
        if (line.startsWith(QLatin1Char('['))) {
            const qsizetype close = line.indexOf(QLatin1Char(']'));
            if (close > 0) section = line.sliced(1, close - 1).trimmed().toString();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) continue;
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

// Booleans as QSettings writes them ("true", "false"), or 1 and 0.
bool ReadBool(const TIni& s, const char* key, bool fallback) {
    const QString text = s.value(QLatin1String(key)).trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1")) return true;
    if (text == QLatin1String("false") || text == QLatin1String("0")) return false;
    return fallback;
}

int64_t ReadInt(const TIni& s, const char* key, int64_t low, int64_t high, int64_t fallback) {
    bool ok = false;
    const qlonglong v = s.value(QLatin1String(key)).trimmed().toLongLong(&ok);
    return ok && v >= low && v <= high ? v : fallback;
}

double ReadDouble(const TIni& s, const char* key, double low, double high, double fallback) {
    bool ok = false;
    const double v = s.value(QLatin1String(key)).trimmed().toDouble(&ok);
    return ok && std::isfinite(v) && v >= low && v <= high ? v : fallback;
}

QByteArray Bool(bool v) { return v ? QByteArrayLiteral("true") : QByteArrayLiteral("false"); }

}  // namespace

void TExtraSettings::Load(const QString& path) {
    *this = TExtraSettings{};
    if (!QFileInfo(path).isFile()) return;
    const TIni s = ReadIni(path);
    ResumePlayback = ReadBool(s, "Playback/ResumePlayback", ResumePlayback);
    TitlesFromTags = ReadBool(s, "Playback/TitlesFromTags", TitlesFromTags);
    ReplayGainMode = static_cast<TReplayGainMode>(ReadInt(s, "ReplayGain/Mode", 0, 2, static_cast<int>(ReplayGainMode)));
    ReplayGainPreampDb = ReadDouble(s, "ReplayGain/PreampDb", kPreampMinDb, kPreampMaxDb, ReplayGainPreampDb);
    ReplayGainPreventClipping = ReadBool(s, "ReplayGain/PreventClipping", ReplayGainPreventClipping);
    ResumeEntry = static_cast<int>(ReadInt(s, "Resume/Entry", 0, 32767, ResumeEntry));
    ResumePositionMs = ReadInt(s, "Resume/PositionMs", 0, kMaxPositionMs, ResumePositionMs);
    ResumeVolume = static_cast<int>(ReadInt(s, "Resume/Volume", -1, 100, ResumeVolume));
    ResumeWasPlaying = ReadBool(s, "Resume/WasPlaying", ResumeWasPlaying);
}

// Plain values only (booleans, integers, a decimal), so nothing needs quoting.
QByteArray TExtraSettings::Encode() const {
    QByteArray out;
    out += "[Playback]\n";
    out += "ResumePlayback=" + Bool(ResumePlayback) + "\n";
    out += "TitlesFromTags=" + Bool(TitlesFromTags) + "\n";
    out += "\n[ReplayGain]\n";
    out += "Mode=" + QByteArray::number(static_cast<int>(ReplayGainMode)) + "\n";
    out += "PreampDb=" + QByteArray::number(ReplayGainPreampDb, 'g', 12) + "\n";
    out += "PreventClipping=" + Bool(ReplayGainPreventClipping) + "\n";
    out += "\n[Resume]\n";
    out += "Entry=" + QByteArray::number(ResumeEntry) + "\n";
    out += "PositionMs=" + QByteArray::number(static_cast<qlonglong>(ResumePositionMs)) + "\n";
    out += "Volume=" + QByteArray::number(ResumeVolume) + "\n";
    out += "WasPlaying=" + Bool(ResumeWasPlaying) + "\n";
    return out;
}

bool TExtraSettings::Save(const QString& path) const { return WriteFileAtomically(path, Encode()); }

}  // namespace wl
