// The equalizer panel: ten band sliders with their lamps, five level keys,
// four presets, the on/off switch and the balance bar.
#include <QEvent>
#include <QLabel>
#include <QToolButton>

#include <algorithm>

#include "app/form1.h"
#include "app/skin.h"
#include "controls/ex_track_bar.h"

namespace wl {

namespace {

constexpr int kBands = 10;
constexpr TColor kSwitchOn = 0x0000E0;
constexpr TColor kSwitchOff = clBlack;

// Gains of the presets, bands 0..9, in 0.2 dB steps.
constexpr std::array<int8_t, 10> kTechno{5, 3, -10, -20, -30, -35, -20, -5, 10, 35};
constexpr std::array<int8_t, 10> kTreble{-20, -17, -12, -6, 0, 3, 10, 20, 35, 60};
constexpr std::array<int8_t, 10> kClassical{15, 10, 5, 3, 0, 0, -2, -3, -5, -8};
constexpr std::array<int8_t, 10> kVoice{-60, -40, -20, -10, 4, 10, 5, -5, -10, -35};

constexpr int kSliderLeft = 26;
constexpr int kSliderStep = 20;

// The sliders keep their hint text but never show it; the switch shows its
// state in whatever text colour it is given.
class TEqPanelFilter : public QObject {
public:
    using QObject::QObject;
    QToolButton* Switch = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ToolTip && qobject_cast<TExTrackBar*>(watched)) return true;
        if (event->type() == QEvent::PaletteChange && watched == Switch) {
            // Off (black) reads as a key at rest on the dark skin; on shows red.
            QPalette pal = Switch->palette();
            const QColor state = pal.color(QPalette::WindowText);
            const QColor text = state == QColor(Qt::black) ? SkinKeyText() : state;
            if (pal.color(QPalette::ButtonText) != text) {
                pal.setColor(QPalette::ButtonText, text);
                Switch->setPalette(pal);
            }
        }
        return false;
    }
};

QString FrequencyCaption(int hz) {
    if (hz < 1000) return QString::number(hz);
    if (hz % 1000 == 0) return QStringLiteral("%1k").arg(hz / 1000);
    return QStringLiteral("%1.%2k").arg(hz / 1000).arg(hz % 1000 / 100);
}

}  // namespace

void TForm1::BuildEqualizerPanel() {
    if (!Panel2) return;
    auto* filter = new TEqPanelFilter(Panel2);

    // The panel's own body and band window; the skin paints it.
    auto* background = new QLabel(Panel2);
    background->setObjectName(QString::fromLatin1(kEqualizerSkinName));
    background->setGeometry(Panel2->rect());
    background->lower();

    QFont tiny(QStringLiteral("DejaVu Sans"));
    tiny.setStyleHint(QFont::SansSerif);
    tiny.setPixelSize(8);
    for (int b = 0; b < kBands; ++b) {
        const int x = kSliderLeft + kSliderStep * b;
        auto* lamp = new QLabel(Panel2);
        lamp->setObjectName(QStringLiteral("Label%1").arg(b + 16));
        lamp->setGeometry(x + 1, 18, 10, 5);
        lamp->setAutoFillBackground(true);
        BandLamps[static_cast<size_t>(b)] = lamp;

        auto* slider = new TExTrackBar(Panel2);
        slider->setObjectName(QStringLiteral("eqx%1").arg(b));
        slider->setProperty("Tag", b);
        slider->SetOrientation(TTrackBarOrientation::trVertical);
        slider->SetMin(-60);
        slider->SetMax(60);
        slider->SetPosition(0);
        slider->SetShowSelRange(false);
        slider->SetThumbLength(12);
        slider->SetTickStyle(TTickStyle::tsNone);
        slider->SetPageSize(10);
        slider->setGeometry(x, 27, 12, 124);
        slider->setFocusPolicy(Qt::NoFocus);
        slider->setCursor(Qt::PointingHandCursor);
        QPalette pal = slider->palette();
        pal.setColor(QPalette::Window, Qt::black);
        // One groove colour: the lamps show the gains.
        pal.setColor(QPalette::Button, QColor(0xb8, 0xc4, 0xd6));
        pal.setColor(QPalette::Highlight, QColor(0x5a, 0x66, 0x7c));
        slider->setPalette(pal);
        const int hz = RoundFreq(Controller->EqualizerFrequency(b));
        slider->setToolTip(QStringLiteral("%1Hz, 0db").arg(hz));
        slider->installEventFilter(filter);
        slider->OnChange = [this, b](TExTrackBar*) { EqSliderChange(b); };
        eqx[static_cast<size_t>(b)] = slider;

        auto* caption = new QLabel(FrequencyCaption(hz), Panel2);
        caption->setFont(tiny);
        caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        caption->setGeometry(x - 4, 154, 20, 10);
        SetTextColor(caption, LitTextColor());
        freqLabels_[static_cast<size_t>(b)] = caption;
        SetBandLamp(b, BandColor(0));
    }

    auto key = [this](const QString& caption, const QString& hint, QRect where) {
        auto* button = new QToolButton(Panel2);
        button->setText(caption);
        button->setToolTip(hint);
        button->setGeometry(where);
        button->setFocusPolicy(Qt::NoFocus);
        StyleSkinButton(button);
        return button;
    };
    SpeedButton16 = key(QStringLiteral("Eq ON"), QString(), QRect(240, 12, 116, 22));
    filter->Switch = SpeedButton16;
    SpeedButton16->installEventFilter(filter);
    SetTextColor(SpeedButton16, kSwitchOff);
    connect(SpeedButton16, &QToolButton::clicked, this, [this] { SpeedButton16Click(); });

    const int gainLeft = 240, presetLeft = 300, top = 40, row = 22;
    SpeedButton19 = key(QStringLiteral("+12db"), QString(), QRect(gainLeft, top, 56, 20));
    SpeedButton17 = key(QStringLiteral("+6db"), QString(), QRect(gainLeft, top + row, 56, 20));
    SpeedButton11 = key(QStringLiteral("+0db"), QString(), QRect(gainLeft, top + 2 * row, 56, 20));
    SpeedButton20 = key(QStringLiteral("- 6db"), QString(), QRect(gainLeft, top + 3 * row, 56, 20));
    SpeedButton21 = key(QStringLiteral("- 12db"), QString(), QRect(gainLeft, top + 4 * row, 56, 20));
    SpeedButton12 = key(QStringLiteral("Techno"), QStringLiteral("Full bass and treble"), QRect(presetLeft, top, 56, 20));
    SpeedButton13 = key(QStringLiteral("Treble"), QStringLiteral("Full treble"), QRect(presetLeft, top + row, 56, 20));
    SpeedButton14 = key(QStringLiteral("Classical"), QStringLiteral("Classical"), QRect(presetLeft, top + 2 * row, 56, 20));
    SpeedButton15 = key(QStringLiteral("Voice"), QStringLiteral("Voice"), QRect(presetLeft, top + 3 * row, 56, 20));
    const std::pair<QToolButton*, int> levels[] = {
        {SpeedButton19, 60}, {SpeedButton17, 30}, {SpeedButton11, 0}, {SpeedButton20, -30}, {SpeedButton21, -60}};
    // Boosts cannot clip: the output stage's limiter holds what would below full scale.
    const QString limiterHint =
        QStringLiteral("No setting clips: a boost is held below full scale by a look-ahead limiter; at 0 dB the sound is unchanged.");
    Panel2->setToolTip(limiterHint);
    for (const auto& [button, gain] : levels) {
        button->setToolTip(limiterHint);
        connect(button, &QToolButton::clicked, this, [this, gain = gain] { SetAllGains(gain); });
    }
    const std::pair<QToolButton*, const std::array<int8_t, 10>*> presets[] = {
        {SpeedButton12, &kTechno}, {SpeedButton13, &kTreble}, {SpeedButton14, &kClassical}, {SpeedButton15, &kVoice}};
    for (const auto& [button, gains] : presets) {
        connect(button, &QToolButton::clicked, this, [this, gains = gains] { ChoosePreset(*gains); });
    }

    auto* balanceCaption = new QLabel(QStringLiteral("BALANCE"), Panel2);
    tiny.setBold(true);
    tiny.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    balanceCaption->setFont(tiny);
    balanceCaption->setGeometry(300, 134, 56, 10);
    balanceCaption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    SetTextColor(balanceCaption, LitTextColor());
    ExTrackBar2 = new TExTrackBar(Panel2);
    ExTrackBar2->SetMin(-50);
    ExTrackBar2->SetMax(50);
    ExTrackBar2->SetPosition(0);
    ExTrackBar2->SetShowSelRange(false);
    ExTrackBar2->SetThumbLength(12);
    ExTrackBar2->SetTickStyle(TTickStyle::tsNone);
    ExTrackBar2->SetPageSize(10);
    ExTrackBar2->setToolTip(QStringLiteral("Balance = 0"));
    ExTrackBar2->setGeometry(240, 146, 116, 20);
    ExTrackBar2->setFocusPolicy(Qt::NoFocus);
    ExTrackBar2->setCursor(Qt::PointingHandCursor);
    QPalette pal = ExTrackBar2->palette();
    pal.setColor(QPalette::Button, QColor(0xb8, 0xc4, 0xd6));
    pal.setColor(QPalette::Highlight, QColor(0x2a, 0x4a, 0x7a));
    ExTrackBar2->setPalette(pal);
    ExTrackBar2->OnChange = [this](TExTrackBar*) { ExTrackBar2Change(); };
}

int TForm1::RoundFreq(int f) {
    const int64_t v = f;
    if (v <= 19) return f;
    if (v <= 49) return static_cast<int>((v + 1) / 2 * 2);
    if (v <= 199) return static_cast<int>((v + 5) / 10 * 10);
    if (v <= 499) return static_cast<int>((v + 10) / 20 * 20);
    if (v <= 1999) return static_cast<int>((v + 50) / 100 * 100);
    if (v <= 4999) return static_cast<int>((v + 100) / 200 * 200);
    return static_cast<int>(std::min<int64_t>((v + 500) / 1000 * 1000, 2147483000));
}

TColor TForm1::BandColor(int gain) {
    // Gains outside the sliders' range (a damaged settings file) get the end colours.
    const int g = std::clamp(gain, -60, 60);
    if (g >= 0) return static_cast<TColor>((60 - g) * 1024 + 0xF0);
    return static_cast<TColor>(0xF0F0 + 4 * g + 512 * g);
}

void TForm1::SetBandLamp(int band, TColor color) {
    QLabel* lamp = BandLamps[static_cast<size_t>(band)];
    bandLampColors_[static_cast<size_t>(band)] = color;
    if (!lamp) return;
    QPalette pal = lamp->palette();
    pal.setColor(QPalette::Window, ColorToQColor(color));
    lamp->setPalette(pal);
}

TColor TForm1::BandLampColor(int band) const {
    if (band < 0 || band >= kBands) return 0;
    return bandLampColors_[static_cast<size_t>(band)];
}

void TForm1::ApplyEqualizer() {
    if (Settings.EqualizerOn != 0) {
        for (int b = 0; b < kBands; ++b) Controller->SetEqualizerValue(b, Settings.EqualizerGains[static_cast<size_t>(b)]);
    }
    for (int b = 0; b < kBands; ++b) {
        const int gain = Settings.EqualizerGains[static_cast<size_t>(b)];
        if (TExTrackBar* slider = eqx[static_cast<size_t>(b)]) slider->SetPosition(-gain);
        SetBandLamp(b, BandColor(gain));
    }
}

void TForm1::EqSliderChange(int band) {
    if (band < 0 || band >= kBands) return;
    TExTrackBar* slider = eqx[static_cast<size_t>(band)];
    if (!slider) return;
    const int gain = -slider->Position();
    // The player keeps the gain even while the equalizer is off.
    Controller->SetEqualizerValue(band, gain);
    Settings.EqualizerGains[static_cast<size_t>(band)] = static_cast<int8_t>(gain);
    const int hz = RoundFreq(Controller->EqualizerFrequency(band));
    SetStatus(QStringLiteral("%1Hz, %2db").arg(hz).arg(gain / 5));
    SetBandLamp(band, BandColor(gain));
}

void TForm1::SetAllGains(int gain) {
    std::array<int8_t, 10> gains;
    gains.fill(static_cast<int8_t>(std::clamp(gain, -60, 60)));
    ChoosePreset(gains);
}

void TForm1::ChoosePreset(const std::array<int8_t, 10>& gains) {
    Settings.EqualizerGains = gains;
    ApplyEqualizer();
}

void TForm1::SpeedButton16Click() {
    if (!SpeedButton16) return;
    const bool on = SpeedButton16->palette().color(QPalette::WindowText) != ColorToQColor(kSwitchOff);
    if (on) {
        SetTextColor(SpeedButton16, kSwitchOff);
        Controller->SetEqualizerEnabled(false);
        Settings.EqualizerOn = 0;
    } else {
        SetTextColor(SpeedButton16, kSwitchOn);
        Settings.EqualizerOn = 100;
        Controller->SetEqualizerEnabled(true);
        ApplyEqualizer();
    }
    ShowIndicators();
}

}  // namespace wl
