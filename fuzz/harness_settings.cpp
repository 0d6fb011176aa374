// The two settings readers over arbitrary bytes.
//   wl.ini: every field the bytes hold whole is read back exactly as it was
//   written (re-encoding gives the same bytes), every later field keeps its
//   default, and what follows the fixed record is the folder.
//   wavelantern.conf: the bytes as the file; every value comes out in range
//   (the default where the file does not give one), the file is left as it
//   was, and saving and loading again gives the same values with no
//   temporary file left beside it.
#include <QDir>
#include <QFile>

#include <cmath>
#include <cstdint>

#include "app/extra_settings.h"
#include "app/settings.h"
#include "fuzz/harness.h"
#include "fuzz/qt_scratch.h"
#include "playback/playlist_model.h"

namespace wl::fuzz {

namespace {

// The byte sizes of the fixed record's fields, in file order.
constexpr int kFieldBytes[] = {1, 1, 1, 1, 1, 10, 4, 1, 1, 1, 1, 2, 2, 1, 1, 1};

void CheckFixedRecord(const QByteArray& bytes) {
    const TSettings decoded = DecodeSettings(bytes);
    const QByteArray again = EncodeSettings(decoded);
    qsizetype whole = 0;  // bytes of the fields read whole
    for (int n : kFieldBytes) {
        if (whole + n > bytes.size()) break;
        whole += n;
    }
    if (again.left(whole) != bytes.left(whole)) __builtin_trap();
    TSettings defaults;
    defaults.CurrentFolder = decoded.CurrentFolder;
    if (again.mid(whole) != EncodeSettings(defaults).mid(whole)) __builtin_trap();
    const qsizetype folder = bytes.size() > static_cast<qsizetype>(kSettingsFixedSize)
                                 ? bytes.size() - static_cast<qsizetype>(kSettingsFixedSize)
                                 : 0;
    if (decoded.CurrentFolder.size() != static_cast<size_t>(folder)) __builtin_trap();
}

void CheckRanges(const TExtraSettings& s) {
    const int mode = static_cast<int>(s.ReplayGainMode);
    if (mode < 0 || mode > 2 || !std::isfinite(s.ReplayGainPreampDb) ||
        s.ReplayGainPreampDb < TExtraSettings::kPreampMinDb || s.ReplayGainPreampDb > TExtraSettings::kPreampMaxDb ||
        s.ResumeEntry < 0 || s.ResumeEntry > kMaxEntries || s.ResumePositionMs < 0 || s.ResumeVolume < -1 ||
        s.ResumeVolume > 100) {
        __builtin_trap();
    }
}

bool Same(const TExtraSettings& a, const TExtraSettings& b) {
    // The pre-amp is written with 12 significant digits.
    return a.ResumePlayback == b.ResumePlayback && a.TitlesFromTags == b.TitlesFromTags &&
           a.SheetsInFolders == b.SheetsInFolders &&
           a.ReplayGainMode == b.ReplayGainMode &&
           std::fabs(a.ReplayGainPreampDb - b.ReplayGainPreampDb) <= 1e-9 &&
           a.ReplayGainPreventClipping == b.ReplayGainPreventClipping && a.ResumeEntry == b.ResumeEntry &&
           a.ResumePositionMs == b.ResumePositionMs && a.ResumeVolume == b.ResumeVolume &&
           a.ResumeWasPlaying == b.ResumeWasPlaying && a.TitleCodePage == b.TitleCodePage;
}

void CheckConfFile(const QByteArray& bytes) {
    // A new name for every input: QSettings keeps what it read of a file
    // while the file's size and time look unchanged.
    static int serial = 0;
    const QString folder = ScratchFolder() + QStringLiteral("/conf");
    static const bool made = QDir().mkpath(folder);
    if (!made) return;
    const QString input = folder + QStringLiteral("/in%1.conf").arg(++serial);
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return;
    }
    TExtraSettings loaded;
    loaded.Load(input);
    CheckRanges(loaded);
    QFile file(input);
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes) __builtin_trap();
    file.close();
    QFile::remove(input);

    const QString saved = folder + QStringLiteral("/out%1.conf").arg(serial);
    if (!loaded.Save(saved)) return;
    TExtraSettings reloaded;
    reloaded.Load(saved);
    if (!Same(loaded, reloaded)) __builtin_trap();
    QFile::remove(saved);
    // Nothing else is left in the folder: no temporary file of the save.
    if (!QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty()) __builtin_trap();
}

}  // namespace

void SettingsInput(const uint8_t* data, size_t size) {
    if (size > 1 << 14) return;
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    CheckFixedRecord(bytes);
    CheckConfFile(bytes);
}

}  // namespace wl::fuzz
