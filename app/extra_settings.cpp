#include "app/extra_settings.h"

#include <QFileInfo>
#include <QSettings>

#include <cmath>

#include "app/atomic_file.h"

namespace wl {

namespace {

constexpr int64_t kMaxPositionMs = int64_t{1} << 40;  // far beyond any file

// Booleans as QSettings writes them ("true", "false"), or 1 and 0.
bool ReadBool(const QSettings& s, const char* key, bool fallback) {
    const QString text = s.value(QLatin1String(key)).toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1")) return true;
    if (text == QLatin1String("false") || text == QLatin1String("0")) return false;
    return fallback;
}

int64_t ReadInt(const QSettings& s, const char* key, int64_t low, int64_t high, int64_t fallback) {
    bool ok = false;
    const qlonglong v = s.value(QLatin1String(key)).toString().trimmed().toLongLong(&ok);
    return ok && v >= low && v <= high ? v : fallback;
}

double ReadDouble(const QSettings& s, const char* key, double low, double high, double fallback) {
    bool ok = false;
    const double v = s.value(QLatin1String(key)).toString().trimmed().toDouble(&ok);
    return ok && std::isfinite(v) && v >= low && v <= high ? v : fallback;
}

QByteArray Bool(bool v) { return v ? QByteArrayLiteral("true") : QByteArrayLiteral("false"); }

}  // namespace

void TExtraSettings::Load(const QString& path) {
    *this = TExtraSettings{};
    if (!QFileInfo(path).isFile()) return;
    const QSettings s(path, QSettings::IniFormat);
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
