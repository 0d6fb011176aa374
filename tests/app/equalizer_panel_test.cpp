// The equalizer panel: frequencies, lamp colours, presets, the sliders'
// status texts and the on/off switch, all as the player sees them.
#include <QLabel>
#include <QToolButton>

#include "controls/ex_track_bar.h"
#include "tests/app/app_fixture.h"

namespace wl::test {

TEST(EqualizerFunctions, RoundFreqSteps) {
    const std::pair<int, int> cases[] = {
        {-5, -5},     {0, 0},       {19, 19},     {20, 20},     {21, 22},     {49, 50},     {50, 50},
        {54, 50},     {55, 60},     {199, 200},   {200, 200},   {209, 200},   {210, 220},   {499, 500},
        {500, 500},   {549, 500},   {550, 600},   {1999, 2000}, {2000, 2000}, {2099, 2000}, {2100, 2200},
        {4999, 5000}, {5000, 5000}, {5499, 5000}, {5500, 6000}, {15990, 16000}};
    for (const auto& [f, rounded] : cases) EXPECT_EQ(TForm1::RoundFreq(f), rounded) << f;
}

TEST(EqualizerFunctions, BandColourRunsFromDarkGreenOverYellowToRed) {
    EXPECT_EQ(TForm1::BandColor(0), 0x00F0F0u);   // yellow
    EXPECT_EQ(TForm1::BandColor(60), 0x0000F0u);  // red
    EXPECT_EQ(TForm1::BandColor(-60), 0x007800u);
    EXPECT_EQ(TForm1::BandColor(30), 30u * 1024 + 0xF0);
    EXPECT_EQ(TForm1::BandColor(-1), 0x00EEECu);  // red 236, green 238
    // Out-of-range gains keep the end colours instead of wrapping.
    EXPECT_EQ(TForm1::BandColor(100), 0x0000F0u);
    EXPECT_EQ(TForm1::BandColor(-100), 0x007800u);
}

TEST_F(AppFixture, EqualizerBandsShowThePlayersFrequencies) {
    Create();
    TForm1& f = *form1;
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.EqualizerMode(); }), memFreq);
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.EqualizerCount(); }), 10);
    const int expected[] = {60, 110, 200, 380, 700, 1300, 2400, 4600, 9000, 16000};
    for (int b = 0; b < 10; ++b) {
        EXPECT_EQ(TForm1::RoundFreq(OnPlayer([&](TMP3Player& p) { return p.EqualizerFrequency(b); })), expected[b]);
        TExTrackBar* slider = f.eqx[static_cast<size_t>(b)];
        ASSERT_NE(slider, nullptr);
        EXPECT_EQ(slider->Min(), -60);
        EXPECT_EQ(slider->Max(), 60);
        EXPECT_EQ(slider->Orientation(), TTrackBarOrientation::trVertical);
        EXPECT_EQ(slider->property("Tag").toInt(), b);
        EXPECT_EQ(slider->toolTip(), QStringLiteral("%1Hz, 0db").arg(expected[b]));
        EXPECT_EQ(f.BandLamps[static_cast<size_t>(b)]->objectName(), QStringLiteral("Label%1").arg(b + 16));
        if (b > 0) {
            EXPECT_EQ(slider->x() - f.eqx[static_cast<size_t>(b - 1)]->x(), 20);
        }
    }
    EXPECT_EQ(f.SpeedButton12->toolTip(), "Full bass and treble");
    EXPECT_EQ(f.SpeedButton13->toolTip(), "Full treble");
    EXPECT_EQ(f.SpeedButton14->toolTip(), "Classical");
    EXPECT_EQ(f.SpeedButton15->toolTip(), "Voice");
    EXPECT_EQ(f.SpeedButton16->text(), "Eq ON");
    EXPECT_EQ(f.SpeedButton21->text(), "- 12db");
    EXPECT_EQ(f.ExTrackBar2->Min(), -50);
    EXPECT_EQ(f.ExTrackBar2->Max(), 50);
    EXPECT_EQ(f.ExTrackBar2->toolTip(), "Balance = 0");
}

TEST_F(AppFixture, EqualizerTreblePresetAndTouchingItsTopBand) {
    Create();
    TForm1& f = *form1;
    f.SpeedButton13->click();
    EXPECT_EQ(f.Settings.EqualizerGains, (std::array<int8_t, 10>{-20, -17, -12, -6, 0, 3, 10, 20, 35, 60}));
    EXPECT_EQ(f.eqx[9]->Position(), -60);  // at the top
    EXPECT_EQ(f.eqx[0]->Position(), 20);
    EXPECT_EQ(f.BandLampColor(9), 0x0000F0u);
    EXPECT_EQ(f.BandLamps[9]->palette().color(QPalette::Window), QColor(0xF0, 0, 0));
    f.EqSliderChange(9);
    EXPECT_EQ(f.StatusText, "16000Hz, 12db");
    // The player has every gain (the slider changes hand them over).
    for (int b = 0; b < 10; ++b) EXPECT_EQ(OnPlayer([&](TMP3Player& p) { return p.EqualizerValue(b); }), f.Settings.EqualizerGains[static_cast<size_t>(b)]);
}

TEST_F(AppFixture, EqualizerLevelKeysSetEveryBand) {
    Create();
    TForm1& f = *form1;
    f.SpeedButton21->click();
    for (int b = 0; b < 10; ++b) {
        EXPECT_EQ(f.BandLampColor(b), 0x007800u);
        EXPECT_EQ(f.eqx[static_cast<size_t>(b)]->Position(), 60);
        EXPECT_EQ(f.Settings.EqualizerGains[static_cast<size_t>(b)], -60);
    }
    f.SpeedButton19->click();
    EXPECT_EQ(f.Settings.EqualizerGains[4], 60);
    f.SpeedButton17->click();
    EXPECT_EQ(f.Settings.EqualizerGains[4], 30);
    f.SpeedButton20->click();
    EXPECT_EQ(f.Settings.EqualizerGains[4], -30);
    f.SpeedButton11->click();
    EXPECT_EQ(f.Settings.EqualizerGains[4], 0);
    EXPECT_EQ(f.BandLampColor(4), 0x00F0F0u);
}

TEST_F(AppFixture, EqualizerSliderStatusTruncatesTowardZero) {
    Create();
    TForm1& f = *form1;
    f.eqx[5]->SetPosition(7);  // gain -7
    EXPECT_EQ(f.StatusText, "1300Hz, -1db");
    EXPECT_EQ(f.BandLampColor(5), TForm1::BandColor(-7));
    f.eqx[5]->SetPosition(-7);
    EXPECT_EQ(f.StatusText, "1300Hz, 1db");
    f.eqx[5]->SetPosition(-4);
    EXPECT_EQ(f.StatusText, "1300Hz, 0db");
    f.eqx[0]->SetPosition(-25);
    EXPECT_EQ(f.StatusText, "60Hz, 5db");
    EXPECT_EQ(f.Settings.EqualizerGains[0], 25);
}

TEST_F(AppFixture, EqualizerPresetEqualToTheGainsChangesNothing) {
    Create();
    TForm1& f = *form1;
    f.SpeedButton12->click();
    f.SetStatus("Volume 50");
    f.SpeedButton12->click();
    EXPECT_EQ(f.StatusText, "Volume 50");
    f.SpeedButton15->click();  // Voice differs from Techno in all bands but band 7
    EXPECT_NE(f.StatusText, "Volume 50");
}

TEST_F(AppFixture, EqualizerSlidersReachThePlayerWhileOffAndTheSwitchHandsAllGains) {
    Create();
    TForm1& f = *form1;
    ASSERT_EQ(f.Settings.EqualizerOn, 0);
    EXPECT_FALSE(OnPlayer([](TMP3Player& p) { return p.EqualizerEnabled(); }));
    f.eqx[3]->SetPosition(-40);
    EXPECT_EQ(OnPlayer([&](TMP3Player& p) { return p.EqualizerValue(3); }), 40);
    EXPECT_EQ(f.Settings.EqualizerGains[3], 40);
    EXPECT_FALSE(OnPlayer([](TMP3Player& p) { return p.EqualizerEnabled(); }));

    // Gains set behind the panel's back reach the player when it is switched on.
    f.Settings.EqualizerGains[7] = -15;
    f.SpeedButton16->click();
    EXPECT_TRUE(OnPlayer([](TMP3Player& p) { return p.EqualizerEnabled(); }));
    EXPECT_EQ(f.Settings.EqualizerOn, 100);
    EXPECT_EQ(OnPlayer([&](TMP3Player& p) { return p.EqualizerValue(7); }), -15);
    EXPECT_EQ(f.eqx[7]->Position(), 15);
    EXPECT_EQ(QColorToColor(f.SpeedButton16->palette().color(QPalette::WindowText)), 0x0000E0u);
    EXPECT_EQ(f.SpeedButton16->palette().color(QPalette::ButtonText), QColor(0xE0, 0, 0));
    EXPECT_TRUE(f.IndicatorsOn[0]);

    f.SpeedButton16->click();
    EXPECT_FALSE(OnPlayer([](TMP3Player& p) { return p.EqualizerEnabled(); }));
    EXPECT_EQ(f.Settings.EqualizerOn, 0);
    EXPECT_EQ(QColorToColor(f.SpeedButton16->palette().color(QPalette::WindowText)), 0u);
    EXPECT_FALSE(f.IndicatorsOn[0]);

    // The switch reads its state from its text colour, whoever set it.
    TForm1::SetTextColor(f.SpeedButton16, 0x0000E0);
    EXPECT_EQ(f.SpeedButton16->palette().color(QPalette::ButtonText), QColor(0xE0, 0, 0));
    f.SpeedButton16->click();
    EXPECT_EQ(f.Settings.EqualizerOn, 0);
}

TEST_F(AppFixture, EqualizerApplySendsGainsOnlyWhenOn) {
    Create();
    TForm1& f = *form1;
    f.Settings.EqualizerGains = {60, 0, 0, 0, 0, 0, 0, 0, 0, -60};
    f.Settings.EqualizerOn = 0;
    f.ApplyEqualizer();
    // The slider changes still hand the moved bands over.
    EXPECT_EQ(OnPlayer([&](TMP3Player& p) { return p.EqualizerValue(0); }), 60);
    EXPECT_EQ(f.eqx[9]->Position(), 60);
    EXPECT_EQ(f.BandLampColor(0), 0x0000F0u);
    EXPECT_EQ(f.BandLampColor(9), 0x007800u);
}

}  // namespace wl::test

namespace wl::test {

TEST_F(AppFixture, EqualizerLevelKeysExplainTheLimiter) {
    Create();
    TForm1& f = *form1;
    const QString hint =
        "No setting clips: a boost is held below full scale by a look-ahead limiter; at 0 dB the sound is unchanged.";
    for (QToolButton* key : {f.SpeedButton19, f.SpeedButton17, f.SpeedButton11, f.SpeedButton20, f.SpeedButton21}) {
        EXPECT_EQ(hint, key->toolTip()) << key->text().toStdString();
    }
    EXPECT_EQ(hint, f.Panel2->toolTip());
    EXPECT_EQ("Full treble", f.SpeedButton13->toolTip());  // presets keep their own
}

}  // namespace wl::test
