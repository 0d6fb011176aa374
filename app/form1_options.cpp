// The settings file "wl.ini" and the options panel.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

#include "app/atomic_file.h"
#include "app/form1.h"
#include "app/image_widget.h"
#include "controls/ex_track_bar.h"

namespace wl {

namespace {

constexpr TColor kEqOnColor = 0x0000E0;
// The swatches' colours (0x00BBGGRR): blue, red, green, yellow, cyan.
constexpr std::array<TColor, 5> kSwatchColors = {0xCC4040, 0x4040CC, 0x40CC40, 0x40CCCC, 0xCCCC40};
constexpr std::array<TThreadPriority, 7> kPriorities = {
    TThreadPriority::tpTimeCritical, TThreadPriority::tpHighest, TThreadPriority::tpHigher, TThreadPriority::tpNormal,
    TThreadPriority::tpLower,        TThreadPriority::tpLowest,  TThreadPriority::tpIdle,
};

// The process's current directory as the system holds it (raw bytes).
std::string CurrentDirectoryBytes() {
    char* path = ::getcwd(nullptr, 0);
    if (!path) return {};
    std::string result(path);
    std::free(path);
    return result;
}

void SetBackground(QWidget* widget, TColor color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, ColorToQColor(color));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void SetButtonTextColor(QWidget* widget, TColor color) {
    TForm1::SetTextColor(widget, color);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::ButtonText, ColorToQColor(color));
    widget->setPalette(palette);
}

uint8_t Flag(const QCheckBox* box) { return box->isChecked() ? 1 : 0; }

QString Counted(int n, const char* one, const char* many) {
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

// What the status line says of damaged settings files; empty when neither was.
QString SettingsDamageText(int record, const TExtraSettingsDamage& extra) {
    QStringList parts;
    if (record > 0) {
        parts << QStringLiteral("Settings file wl.ini was damaged: defaults used for ") +
                     Counted(record, "option", "options");
    }
    if (extra.Any()) {
        QStringList what;
        if (extra.Values > 0) what << QStringLiteral("defaults used for ") + Counted(extra.Values, "option", "options");
        if (extra.Lines > 0) what << Counted(extra.Lines, "unreadable line", "unreadable lines") + QStringLiteral(" ignored");
        parts << QStringLiteral("Settings file %1 was damaged: ").arg(QLatin1String(TExtraSettings::kFileName)) +
                     what.join(QStringLiteral(", "));
    }
    return parts.join(QStringLiteral(". "));
}

}  // namespace

const std::array<const char*, 7> TForm1::kPriorityItems = {
    "Time critical", "Highest", "Higher", "Normal", "Lower", "Lowest", "Idle",
};

void TForm1::BuildOptionsPanel() {
    QPalette text = Panel4->palette();
    text.setColor(QPalette::WindowText, QColor(200, 200, 200));
    Panel4->setPalette(text);

    auto label = [this](const char* caption, int x, int y) {
        auto* l = new QLabel(QString::fromLatin1(caption), Panel4);
        l->move(x, y);
        l->adjustSize();  // the text at (x, y), not centred in a default-sized box
        return l;
    };
    label("Decoder priority", 16, 10);
    ComboBox1 = new QComboBox(Panel4);
    ComboBox1->setEditable(true);
    for (const char* item : kPriorityItems) ComboBox1->addItem(QString::fromLatin1(item));
    ComboBox1->setCurrentIndex(3);
    ComboBox1->setGeometry(120, 6, 120, 22);

    struct TBox {
        QCheckBox** box;
        const char* caption;
        int x, y;
    };
    const TBox boxes[] = {
        {&CheckBox1, "Always on top", 16, 30},      {&CheckBox2, "Repeat", 16, 46},
        {&CheckBox3, "Time remaining", 16, 62},     {&CheckBox4, "Use cache", 16, 78},
        {&CheckBox5, "Fast VUmeters", 16, 94},      {&CheckBox8, "Peak level", 190, 30},
        {&CheckBox6, "Random play", 190, 46},       {&CheckBox7, "Screensaver", 190, 62},
        {&CheckBox9, "Autoload playlist", 190, 78}, {&CheckBox10, "Resume playback", 190, 94},
        {&CheckBox11, "Titles from tags", 190, 110},
    };
    for (const TBox& b : boxes) {
        *b.box = new QCheckBox(QString::fromLatin1(b.caption), Panel4);
        (*b.box)->setGeometry(b.x, b.y, 160, 18);
        (*b.box)->setPalette(text);
    }

    // ReplayGain: the mode here; the pre-amp and the clipping prevention are
    // kept in wavelantern.conf.
    label("ReplayGain", 16, 133);
    ComboBox2 = new QComboBox(Panel4);
    for (const char* item : {"Off", "Track", "Album"}) ComboBox2->addItem(QString::fromLatin1(item));
    ComboBox2->setGeometry(96, 130, 80, 20);
    ComboBox2->setToolTip(QStringLiteral(
        "Plays each file at the loudness its ReplayGain tags ask for (album falls back to track), never louder "
        "than its stored peak allows"));

    label("Output", 16, 113);
    ComboBox3 = new QComboBox(Panel4);
    ComboBox3->setGeometry(64, 110, 122, 20);
    ComboBox3->setToolTip(QStringLiteral("The sound server's output to play on (from the next start of an entry)"));
    ComboBox3->addItem(QStringLiteral("Default"), QString());

    label("VU color", 16, 157);
    for (size_t i = 0; i < kSwatchColors.size(); ++i) {
        auto* swatch = new TImage(Panel4);
        swatch->setGeometry(96 + static_cast<int>(i) * 18, 157, 14, 14);
        swatch->setCursor(Qt::PointingHandCursor);
        SetBackground(swatch, kSwatchColors[i]);
        swatch->OnClick = [this, i] { ColorSwatchClick(static_cast<int>(i)); };
        ColorSwatches[i] = swatch;
    }
    StaticText2 = new QLabel(Panel4);
    StaticText2->setGeometry(190, 157, 40, 14);
    SetBackground(StaticText2, SwapRedBlue(Settings.VuColor));

    label("Brightness", 190, 133);
    ExTrackBar3 = new TExTrackBar(Panel4);
    ExTrackBar3->SetOrientation(TTrackBarOrientation::trHorizontal);
    ExTrackBar3->SetMin(0);
    ExTrackBar3->SetMax(100);
    ExTrackBar3->SetTickStyle(TTickStyle::tsNone);
    ExTrackBar3->setGeometry(262, 129, 96, 22);
    ExTrackBar3->OnChange = [this](TExTrackBar*) { ExTrackBar3Change(); };

    SpeedButton18 = new QToolButton(Panel4);
    SpeedButton18->setText(QStringLiteral("Save"));
    SpeedButton18->setGeometry(296, 150, 56, 24);
    SpeedButton18->setFocusPolicy(Qt::NoFocus);
    connect(SpeedButton18, &QToolButton::clicked, this, [this] { Button1Click(); });
}

void TForm1::LoadSettings() {
    QFile file(ExeFolder() + "wl.ini");
    int damaged = 0;
    if (file.open(QIODevice::ReadOnly)) {
        // No folder name is longer than this; a damaged file is not read whole.
        Settings = DecodeSettings(file.read(static_cast<qint64>(kSettingsFixedSize) + 65536));
        file.close();
        // Fields a short file lacks kept their defaults; that is no damage.
        damaged = ResetOutOfRange(Settings);
    } else {
        Settings = TSettings{};
    }
    const TExtraSettingsDamage extraDamage = Extra.Load(ExtraSettingsPath());
    if (const QString notice = SettingsDamageText(damaged, extraDamage); !notice.isEmpty()) {
        // After the start's greeting, which follows the load. What the start
        // reported meanwhile (a playlist's skipped lines) stays, after it.
        QTimer::singleShot(0, this, [this, notice] {
            ShowError(errorShown_ && StartupTicks == 0 ? notice + QStringLiteral(". ") + StatusText : notice);
        });
    }
    ApplyReplayGain();
    ApplyPlayOptions();
    ApplyOutputDevice();
    QueryOutputs(true);
    // Written back at once (complete, whatever was missing), with the folder
    // that is current now, before the stored one is entered.
    SaveSettings();
    if (!Settings.CurrentFolder.empty()) {
        [[maybe_unused]] const int ignored = ::chdir(Settings.CurrentFolder.c_str());  // a vanished folder is no error
    }

    ApplyDecoderPriority();
    CheckBox1->setChecked(Settings.AlwaysOnTop == 1);
    ApplyStayOnTop(Settings.AlwaysOnTop == 1);
    ShowOptions();

    const int before = ExTrackBar3->Position();
    ExTrackBar3->SetPosition(Settings.Brightness);
    if (ExTrackBar3->Position() == before) ExTrackBar3Change();  // recolour the display anyway

    if (SpeedButton16) SetButtonTextColor(SpeedButton16, Settings.EqualizerOn != 0 ? kEqOnColor : clBlack);
    Controller->SetEqualizerEnabled(Settings.EqualizerOn != 0);
    ApplyEqualizer();
    SetBackground(StaticText2, SwapRedBlue(Settings.VuColor));
    ShowIndicators();
}

void TForm1::ApplyDecoderPriority() {
    const int n = Settings.DecoderPriority;
    if (n < 1 || n > 7) return;  // neither the combo box nor the player changes
    ComboBox1->setCurrentIndex(n - 1);
    ComboBox1->setEditText(QString::fromLatin1(kPriorityItems[n - 1]));
    Controller->SetDecodePriority(kPriorities[n - 1]);
}

void TForm1::ShowOptions() {
    CheckBox2->setChecked(Settings.RepeatPlay != 0);
    CheckBox3->setChecked(Settings.TimeRemaining == 1);
    CheckBox4->setChecked(Settings.UseCache != 0);
    CheckBox5->setChecked(Settings.FastVuMeters != 0);
    CheckBox6->setChecked(Settings.RandomPlay != 0);
    CheckBox7->setChecked(Settings.Screensaver != 0);
    CheckBox8->setChecked(Settings.PeakLevel != 0);
    CheckBox9->setChecked(Settings.AutoloadPlaylist != 0);
    CheckBox10->setChecked(Extra.ResumePlayback);
    CheckBox11->setChecked(Extra.TitlesFromTags);
    ComboBox2->setCurrentIndex(static_cast<int>(Extra.ReplayGainMode));
}

void TForm1::ApplyReplayGain() {
    Controller->SetReplayGain(static_cast<TMP3ReplayGainMode>(Extra.ReplayGainMode), Extra.ReplayGainPreampDb,
                              Extra.ReplayGainPreventClipping);
}

QList<TWriteFailure> TForm1::SaveSettings() {
    TSettings record = Settings;
    record.CurrentFolder = CurrentDirectoryBytes();
    QList<TWriteFailure> failures;
    QString reason;
    const QString settingsPath = ExeFolder() + "wl.ini";
    if (!WriteFileAtomically(settingsPath, EncodeSettings(record), &reason)) failures.append({settingsPath, reason});
    // What TExtraSettings::Save writes, written here so that the reason of a
    // failure is known.
    const QString extraPath = ExtraSettingsPath();
    if (!WriteFileAtomically(extraPath, Extra.Encode(), &reason)) failures.append({extraPath, reason});
    for (const TWriteFailure& failure : failures) {
        ShowError("Cannot save " + QFileInfo(failure.Path).fileName() + ": " + failure.Reason);
    }
    return failures;
}

QString TForm1::ExtraSettingsPath() const { return ExeFolder() + QLatin1String(TExtraSettings::kFileName); }

void TForm1::Button1Click() {
    Settings.DecoderPriority = 4;
    const QString chosen = ComboBox1->currentText();
    for (size_t i = 0; i < kPriorityItems.size(); ++i) {
        if (chosen == QLatin1String(kPriorityItems[i])) {
            Settings.DecoderPriority = static_cast<uint8_t>(i + 1);
            break;
        }
    }
    Settings.AlwaysOnTop = Flag(CheckBox1);
    Settings.RepeatPlay = Flag(CheckBox2);
    Settings.TimeRemaining = Flag(CheckBox3);
    Settings.UseCache = Flag(CheckBox4);
    Settings.FastVuMeters = Flag(CheckBox5);
    Settings.RandomPlay = Flag(CheckBox6);
    Settings.Screensaver = Flag(CheckBox7);
    Settings.PeakLevel = Flag(CheckBox8);
    Settings.AutoloadPlaylist = Flag(CheckBox9);
    Extra.ResumePlayback = CheckBox10->isChecked();
    const bool titlesChanged = Extra.TitlesFromTags != CheckBox11->isChecked();
    Extra.TitlesFromTags = CheckBox11->isChecked();
    Extra.ReplayGainMode = static_cast<TReplayGainMode>(std::clamp(ComboBox2->currentIndex(), 0, 2));
    ApplyReplayGain();
    if (ComboBox3->currentIndex() >= 0) Extra.OutputDevice = ComboBox3->currentData().toString();
    ApplyOutputDevice();
    SaveSettings();
    ShowIndicators();
    if (Settings.RandomPlay) ResetNotPlayed();
    ApplyPlayOptions();  // after the fresh round: what follows is picked from it
    if (titlesChanged) TitlesOptionChanged();
    ApplyStayOnTop(Settings.AlwaysOnTop == 1);
    Panel4->hide();
    setFixedSize(kWindowWidth, kWindowHeight - kPanelHeight);
    PanelOpen = false;
}

// The controller tells the window back (PlayOrderChanged).
void TForm1::SetPlayOrder(bool repeat, bool random) {
    ApplyPlayOptions();  // the other options as the settings hold them
    Controller->SetPlayOrder(random, repeat);
}

void TForm1::ApplyPlayOptions() {
    TPlayOptions options;
    options.Random = Settings.RandomPlay != 0;
    options.Repeat = Settings.RepeatPlay != 0;
    options.UseCache = Settings.UseCache != 0;
    options.CachePath = CachePath();
    options.TitleCodePage = Extra.TitleCodePage;
    Controller->SetOptions(options);
    Controller->Playlist().CueCodePage = Extra.TitleCodePage;  // shared with album sheets
}

TColor TForm1::SwapRedBlue(TColor value) {
    return (value & 0xFF00) | ((value & 0xFF) << 16) | ((value >> 16) & 0xFF);
}

// Changing the flags recreates the native window and hides it; a window that
// was showing is shown again.
void TForm1::ApplyStayOnTop(bool onTop) {
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (wasVisible) show();
}

void TForm1::ColorSwatchClick(int index) {
    if (index < 0 || index >= static_cast<int>(kSwatchColors.size())) return;
    SetBackground(StaticText2, kSwatchColors[index]);
    Settings.VuColor = SwapRedBlue(kSwatchColors[index]);
}

}  // namespace wl
