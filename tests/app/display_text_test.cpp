// The display's texts: times, the position event, brightness colours, the
// clock, the idle status text and the hover texts.
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QTime>
#include <QTimer>

#include "app/canvas_image.h"
#include "app/scramble.h"
#include "controls/al_progress_bar.h"
#include "controls/ex_track_bar.h"
#include "tests/app/app_fixture.h"

namespace wl::test {

namespace {

TColor TextColor(const QWidget* w) { return QColorToColor(w->palette().color(QPalette::WindowText)); }

QString Formatted(TForm1& f, int64_t ms) {
    f.FormatTime(ms);
    return f.TimeText;
}

void Hover(QWidget* w) {
    auto* image = qobject_cast<TImage*>(w);
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(image->OnEnter);
    image->OnEnter();
}

}  // namespace

TEST_F(AppFixture, DisplayFormatTimeShowsHoursOnlyFromOneToNine) {
    Create();
    TForm1& f = *form1;
    EXPECT_EQ(Formatted(f, 0), "00:00");
    EXPECT_EQ(Formatted(f, 83000), "01:23");
    EXPECT_EQ(Formatted(f, 83999), "01:23");
    EXPECT_EQ(Formatted(f, 3723000), "1:02:03");
    EXPECT_EQ(Formatted(f, -5000), "-00:05");
    EXPECT_EQ(Formatted(f, 36000000), "00:00");
    EXPECT_EQ(Formatted(f, 35999000), "9:59:59");
    EXPECT_EQ(Formatted(f, 3599999), "59:59");
    EXPECT_EQ(Formatted(f, -3723000), "-1:02:03");
    // No overflow on the most negative value.
    EXPECT_TRUE(Formatted(f, std::numeric_limits<int64_t>::min()).startsWith("-"));
}

TEST_F(AppFixture, DisplayPositionShowsElapsedOrRemainingTimeAndMovesTheSeekBar) {
    Create();
    TForm1& f = *form1;
    f.ShowPosition(30000, 200000);
    EXPECT_EQ(f.Label7->text(), "00:30");
    EXPECT_EQ(f.ALProgressBar1->Position(), 30);
    f.Settings.TimeRemaining = 1;
    f.ShowPosition(30000, 200000);
    EXPECT_EQ(f.Label7->text(), "-02:50");
    EXPECT_EQ(f.TimeText, "-02:50");
    // Round half to even: 1/400 of the length is half a step.
    f.ShowPosition(500, 200000);
    EXPECT_EQ(f.ALProgressBar1->Position(), 0);
    f.ShowPosition(1500, 200000);
    EXPECT_EQ(f.ALProgressBar1->Position(), 2);
    // Unknown length: the time is shown, the bar stays.
    f.Settings.TimeRemaining = 0;
    f.ShowPosition(61000, 0);
    EXPECT_EQ(f.Label7->text(), "01:01");
    EXPECT_EQ(f.ALProgressBar1->Position(), 2);
}

TEST_F(AppFixture, DisplayRoundDivRoundsHalfToEven) {
    EXPECT_EQ(TForm1::RoundDiv(1, 2), 0);
    EXPECT_EQ(TForm1::RoundDiv(3, 2), 2);
    EXPECT_EQ(TForm1::RoundDiv(5, 2), 2);
    EXPECT_EQ(TForm1::RoundDiv(7, 3), 2);
    EXPECT_EQ(TForm1::RoundDiv(8, 3), 3);
    EXPECT_EQ(TForm1::RoundDiv(-3, 2), -2);
    EXPECT_EQ(TForm1::RoundDiv(-5, 2), -2);
    EXPECT_EQ(TForm1::RoundDiv(5, 0), 0);
}

TEST_F(AppFixture, DisplayBrightnessColoursEveryLitText) {
    Create();
    TForm1& f = *form1;
    // The options panel's brightness bar, wired by the window.
    ASSERT_NE(f.ExTrackBar3, nullptr);
    ASSERT_EQ(f.ExTrackBar3->Position(), 50);
    const QWidget* lit[] = {f.Label10, f.LabelL, f.LabelR, f.Label2, f.Label5, f.Label6, f.Label7, f.Label8};
    f.ExTrackBar3->SetPosition(0);
    for (const QWidget* w : lit) EXPECT_EQ(TextColor(w), 0x785810u) << w->objectName().toStdString();
    EXPECT_EQ(f.ALProgressBar1->BarColor1(), 0x785810u);
    EXPECT_EQ(f.StatusText, "Brightness -50");
    EXPECT_EQ(f.Settings.Brightness, 0);
    f.ExTrackBar3->SetPosition(100);
    for (const QWidget* w : lit) EXPECT_EQ(TextColor(w), 0xDCBC74u);
    EXPECT_EQ(f.ALProgressBar1->BarColor1(), 0xDCBC74u);
    EXPECT_EQ(f.StatusText, "Brightness 50");
    EXPECT_EQ(f.Label10->text(), "Brightness 50");
    // Colour values reach the screen in blue-green-red order.
    EXPECT_EQ(f.Label7->palette().color(QPalette::WindowText), QColor(0x74, 0xBC, 0xDC));

    f.SetDisplayLit(false);
    EXPECT_EQ(TextColor(f.Label7), kUnlitColor);
    EXPECT_EQ(TextColor(f.LabelR), kUnlitColor);
    EXPECT_EQ(TextColor(f.Label5), 0xDCBC74u);  // the clock stays lit
    f.SetDisplayLit(true);
    EXPECT_EQ(TextColor(f.Label6), 0xDCBC74u);
}

TEST_F(AppFixture, DisplayClockAndIdleStatusText) {
    Create();
    TForm1& f = *form1;
    int h = 7, m = 5, s = 9;
    f.ClockSource = [&](int& hour, int& minute, int& second) {
        hour = h;
        minute = m;
        second = s;
    };
    f.Timer3Timer();
    EXPECT_EQ(f.Label5->text(), "07:05:09");
    f.Label5->setText("x");
    f.Timer3Timer();  // same second: not rewritten
    EXPECT_EQ(f.Label5->text(), "x");
    h = 23;
    f.Timer3Timer();
    EXPECT_EQ(f.Label5->text(), "23:05:09");

    f.SetStatus("Volume 80");
    f.StatusIdle = 49;
    f.Timer3Timer();
    EXPECT_EQ(f.StatusIdle, 50);
    EXPECT_EQ(f.StatusText, "Volume 80");
    f.Timer1->stop();
    int before = QTime::currentTime().msec();
    f.Timer3Timer();
    const QString idle = StoredText(TStoredText::DefaultStatus);
    EXPECT_FALSE(idle.isEmpty());
    EXPECT_EQ(f.StatusText, idle);
    EXPECT_EQ(f.Label10->text(), idle);
    EXPECT_EQ(f.StatusIdle, 50);  // the idle count is not reset by it
    // At rest the next tick comes just after the clock's next second (within
    // 100 ms of a stall); while the meter tick runs (and shows the second), a
    // little later than that.
    int lands = (before + f.Timer3->interval()) % 1000;
    EXPECT_TRUE(lands <= 5 || lands >= 905) << lands;
    EXPECT_LE(f.Timer3->interval(), 1005);
    f.Timer1->start();
    before = QTime::currentTime().msec();
    f.Timer3Timer();
    lands = (before + f.Timer3->interval()) % 1000;
    EXPECT_TRUE(lands <= TForm1::kClockBehindMeterMs && lands > 5) << lands;

    // At rest the clock's tick carries the housekeeping tick, whose own timer
    // falls back; not while it is held off.
    f.Timer4->start(TForm1::kHousekeepingMs);
    f.IdleSeconds = 0;
    f.ClockTick();
    f.ClockTick();
    EXPECT_EQ(f.IdleSeconds, 1);  // a tick that ran just now is not repeated
    EXPECT_EQ(f.Timer4->interval(), TForm1::kHousekeepingFallbackMs);
    f.ClockTick();
    EXPECT_EQ(f.IdleSeconds, 2);
    f.Timer4->stop();
    f.ClockTick();
    EXPECT_EQ(f.IdleSeconds, 2);
    f.Timer4->start();

    // A new status text brings the short tick back, so that the idle time is
    // counted again, and the housekeeping timer's own second.
    f.SetStatus("Volume 70");
    EXPECT_EQ(f.Timer3->interval(), TForm1::kClockTickMs);
    EXPECT_EQ(f.Timer4->interval(), TForm1::kHousekeepingMs);
    f.ClockTick();
    EXPECT_EQ(f.IdleSeconds, 2);

    // Before rest the clock tick rides on every fifth meter tick, and its own
    // timer falls behind.
    f.SetStatus("Volume 60");
    ASSERT_TRUE(f.Timer3->isActive());
    for (int tick = 0; tick < 10; ++tick) f.Timer1Timer();
    EXPECT_EQ(f.StatusIdle, 2);
    EXPECT_EQ(f.Timer3->interval(), TForm1::kClockTickMs + TForm1::kClockBehindMeterMs);
}

TEST_F(AppFixture, DisplayHoverTexts) {
    Create();
    TForm1& f = *form1;
    const std::pair<QWidget*, const char*> hovers[] = {
        {f.Image1, "Filename"},    {f.Label5, "Computer time"}, {f.Label8, "Song time"},
        {f.Label7, "Current time"}, {f.Image3, "Left VUmeter"},  {f.Image4, "Right VUmeter"},
        {f.Label2, "Song #-all"},   {f.Label6, "Rate, sampling"}};
    for (const auto& [widget, text] : hovers) {
        f.StatusIdle = 7;
        Hover(widget);
        EXPECT_EQ(f.StatusText, text);
        EXPECT_EQ(f.StatusIdle, 0);
    }
    // The lamps: mono while the lower lamp is unlit.
    TImage* lamps = nullptr;
    for (auto* image : f.Panel1->findChildren<TImage*>()) {
        if (image->geometry().contains(QPoint(259, 115))) lamps = image;
    }
    ASSERT_NE(lamps, nullptr);
    lamps->OnEnter();
    EXPECT_EQ(f.StatusText, "Mono song");
    EXPECT_EQ(f.Label4->grab().toImage().pixelColor(2, 2), ColorToQColor(kUnlitColor));
    TForm1::SetTextColor(f.Label4, kLampLitColor);  // as playfile lights it
    lamps->OnEnter();
    EXPECT_EQ(f.StatusText, "Stereo song");
    EXPECT_EQ(f.Label4->grab().toImage().pixelColor(2, 2), ColorToQColor(kLampLitColor));
    // Seek bar hover: Round(position / 2).
    f.ALProgressBar1->SetPosition(101);
    ASSERT_TRUE(f.ALProgressBar1->OnMouseMove);
    f.ALProgressBar1->OnMouseMove(f.ALProgressBar1, Qt::NoModifier, 5, 5);
    EXPECT_EQ(f.StatusText, "Position 50%");
    f.ALProgressBar1->SetPosition(103);
    f.ALProgressBar1->OnMouseMove(f.ALProgressBar1, Qt::NoModifier, 5, 5);
    EXPECT_EQ(f.StatusText, "Position 52%");
}

TEST_F(AppFixture, DisplayElementsSitWhereTheLayoutPutsThem) {
    Create();
    TForm1& f = *form1;
    EXPECT_EQ(f.Panel1->geometry(), QRect(20, 20, 330, 125));
    EXPECT_EQ(f.Image1->geometry(), QRect(8, 6, 298, 17));
    EXPECT_EQ(f.Label7->pos(), QPoint(127, 30));
    EXPECT_EQ(f.Label8->pos(), QPoint(130, 51));
    EXPECT_EQ(f.Label5->pos(), QPoint(8, 31));
    EXPECT_EQ(f.Label2->pos(), QPoint(8, 51));
    EXPECT_EQ(f.Label6->pos(), QPoint(8, 71));
    EXPECT_EQ(f.Label10->pos(), QPoint(8, 91));
    EXPECT_EQ(f.ALProgressBar1->geometry(), QRect(8, 108, 201, 11));
    EXPECT_EQ(f.ALProgressBar1->Max(), 200);
    EXPECT_EQ(f.Image3->geometry(), QRect(215, 41, 41, 81));
    EXPECT_EQ(f.Image4->geometry(), QRect(268, 41, 41, 81));
    EXPECT_EQ(f.Label9->geometry(), QRect(259, 106, 6, 5));
    EXPECT_EQ(f.Label4->geometry(), QRect(259, 114, 6, 5));
    EXPECT_EQ(f.Image20->geometry(), QRect(168, 94, 40, 9));
    EXPECT_EQ(f.Image29->geometry(), QRect(168, 74, 12, 9));
    EXPECT_EQ(f.Image32->geometry(), QRect(183, 74, 12, 9));
    EXPECT_EQ(f.Image35->geometry(), QRect(198, 74, 12, 9));
    EXPECT_EQ(f.Label7->text(), "00:00");
    EXPECT_EQ(f.Label5->text(), "00:00:00");
    EXPECT_EQ(f.Label2->text(), "0 - 0");
    EXPECT_EQ(f.Label6->text(), "000kbps, 00khz");
    EXPECT_TRUE(f.Label7->font().fixedPitch());
    EXPECT_TRUE(f.Label7->font().bold());
    EXPECT_EQ(f.ExTrackBar1->Orientation(), TTrackBarOrientation::trVertical);
    EXPECT_EQ(f.ExTrackBar1->Min(), 0);
    EXPECT_EQ(f.ExTrackBar1->Max(), 100);
    EXPECT_GE(f.ExTrackBar1->geometry().left(), 309);  // right of the meters
    EXPECT_EQ(f.Timer1->interval(), 40);
    EXPECT_EQ(f.Timer3->interval(), 200);
}

TEST_F(AppFixture, DisplayStatePictureAndIndicatorsFollowTheSettings) {
    Create();
    TForm1& f = *form1;
    f.ApplySkin();
    f.SetStatePicture(TStatePicture::Pause);
    EXPECT_EQ(f.ShownState, TStatePicture::Pause);
    const QImage pause = f.Image20->pixmap().toImage();
    f.SetStatePicture(TStatePicture::Play);
    EXPECT_NE(f.Image20->pixmap().toImage(), pause);
    const QImage offEq = f.Image29->pixmap().toImage();
    f.Settings.EqualizerOn = 100;
    f.Settings.RepeatPlay = 1;
    f.ShowIndicators();
    EXPECT_EQ(f.IndicatorsOn, (std::array<bool, 3>{true, false, true}));
    EXPECT_NE(f.Image29->pixmap().toImage(), offEq);
    f.Settings.EqualizerOn = 0;
    f.ShowIndicators();
    EXPECT_EQ(f.Image29->pixmap().toImage(), offEq);

    // Moving to another screen paints the pictures again.
    const qint64 logo = f.Image5->pixmap().cacheKey();
    QEvent screenChange(QEvent::ScreenChangeInternal);
    QCoreApplication::sendEvent(&f, &screenChange);
    QCoreApplication::processEvents();
    EXPECT_NE(f.Image5->pixmap().cacheKey(), logo);
}

}  // namespace wl::test
