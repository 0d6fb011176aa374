// The level meters: bar pixels, the peak marker's fall, averaging over the
// reading history; title scrolling; seeking from the seek bar.
#include <QImage>
#include <QScreen>
#include <QWindow>
#include <QTimer>

#include <fstream>

#include "app/canvas_image.h"
#include "app/vu_bar.h"
#include "controls/al_progress_bar.h"
#include "tests/app/app_fixture.h"
#include "tests/app/display_support.h"
#include "tests/app/run_events.h"
#include "tests/stream_builder.h"

namespace wl::test {

namespace {

constexpr uint32_t kVu = 0x004040CC;

uint32_t Pixel(const uint32_t* bitmap, int row, int column) {  // row 1 at the bottom, columns 1..41
    return bitmap[static_cast<size_t>(kVuHeight - row) * kVuWidth + (column - 1)];
}

uint32_t Lit(uint32_t c, int column) {
    return c + static_cast<uint32_t>((15 - std::abs(20 - column)) * 2) * 0x010101u;
}

}  // namespace

TEST(DisplayVuBar, RowsAndPeakDecay) {
    EXPECT_EQ(VuRows(0), 1);
    EXPECT_EQ(VuRows(182), 41);  // Round(40.18) + 1
    EXPECT_EQ(VuRows(2), 1);     // Round(0.44)
    EXPECT_EQ(VuRows(3), 2);
    EXPECT_EQ(VuRows(1000), 81);
    const int expected[] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 2, 2, 2, 4, 4};
    for (int age = 0; age < 14; ++age) EXPECT_EQ(PeakDecay(age), expected[age]) << age;
    EXPECT_EQ(PeakDecay(81), 4);
}

TEST(DisplayVuBar, LevelZeroShowsOnlyTheGrille) {
    std::array<uint32_t, kVuPixels> bitmap{};
    bitmap.fill(0xDEADBEEF);
    TPeakState peak;
    DrawVuBar(bitmap.data(), 0, peak, kVu, true, true);
    for (int row = 1; row <= kVuHeight; ++row) {
        EXPECT_EQ(Pixel(bitmap.data(), row, 1), kVu >> 2);
        EXPECT_EQ(Pixel(bitmap.data(), row, 41), kVu >> 2);
        for (int x = 2; x <= 40; ++x) ASSERT_EQ(Pixel(bitmap.data(), row, x), row % 2 == 1 ? kVu >> 2 : 0u) << row;
    }
    EXPECT_EQ(peak.Row, 1);
}

TEST(DisplayVuBar, FullReadingLightsFortyOneRowsStripedOrPlain) {
    std::array<uint32_t, kVuPixels> bitmap{};
    TPeakState peak;
    DrawVuBar(bitmap.data(), 182, peak, kVu, true, true);
    EXPECT_EQ(peak.Row, 41);
    EXPECT_EQ(peak.Age, 0);
    EXPECT_EQ(Pixel(bitmap.data(), 1, 20), kVu + 30 * 0x010101u);   // brightest column
    EXPECT_EQ(Pixel(bitmap.data(), 1, 2), Lit(kVu, 2));             // darker towards the edge
    EXPECT_EQ(Pixel(bitmap.data(), 2, 20), (kVu >> 1) + 30 * 0x010101u);
    EXPECT_EQ(Pixel(bitmap.data(), 41, 25), Lit(kVu, 25));
    EXPECT_EQ(Pixel(bitmap.data(), 42, 25), 0u);  // even row above the bar
    EXPECT_EQ(Pixel(bitmap.data(), 43, 25), kVu >> 2);
    EXPECT_EQ(Pixel(bitmap.data(), 1, 1), kVu >> 2);
    EXPECT_EQ(Pixel(bitmap.data(), 41, 41), kVu >> 2);

    TPeakState plain;
    DrawVuBar(bitmap.data(), 182, plain, kVu, false, true);
    EXPECT_EQ(Pixel(bitmap.data(), 2, 20), kVu + 30 * 0x010101u);
    // Above row 60 the bar gets lighter.
    TPeakState high;
    DrawVuBar(bitmap.data(), 300, high, kVu, false, true);
    EXPECT_EQ(Pixel(bitmap.data(), 60, 20), kVu + 30 * 0x010101u);
    EXPECT_EQ(Pixel(bitmap.data(), 61, 20), kVu + 0x141414u + 30 * 0x010101u);
}

TEST(DisplayVuBar, PeakMarkerRestsThenFallsFaster) {
    std::array<uint32_t, kVuPixels> bitmap{};
    TPeakState peak;
    DrawVuBar(bitmap.data(), 182, peak, kVu, true, true);
    std::vector<int> rows;
    while (rows.empty() || rows.back() > 1) {
        DrawVuBar(bitmap.data(), 0, peak, kVu, true, true);
        rows.push_back(peak.Row);
        ASSERT_LT(rows.size(), 40u);
        if (peak.Row > 1) {
            for (int x = 2; x <= 40; ++x) ASSERT_EQ(Pixel(bitmap.data(), peak.Row, x), kVu + 0x141414u);
            EXPECT_EQ(Pixel(bitmap.data(), peak.Row, 1), kVu >> 2);
        }
    }
    const std::vector<int> expected{41, 41, 41, 41, 41, 41, 40, 39, 38, 36, 34, 32, 28, 24, 20, 16, 12, 8, 4, 1};
    EXPECT_EQ(rows, expected);

    // Without the peak option no marker is drawn.
    TPeakState hidden;
    DrawVuBar(bitmap.data(), 182, hidden, kVu, true, false);
    DrawVuBar(bitmap.data(), 0, hidden, kVu, true, false);
    EXPECT_EQ(hidden.Row, 41);
    EXPECT_EQ(Pixel(bitmap.data(), 41, 20), kVu >> 2);
}

TEST_F(AppFixture, DisplayMeterTickAveragesTheNewestReadings) {
    Create();
    TForm1& f = *form1;
    TFixedLevels* levels = UseFixedLevels(f);
    levels->Left = 18000;   // reading 100
    levels->Right = -9000;  // reading 50
    f.Timer1Timer();
    EXPECT_EQ(f.HistoryL.back(), 100);
    EXPECT_EQ(f.HistoryR.back(), 50);
    EXPECT_EQ(f.LevelL, 10);  // ten readings averaged
    EXPECT_EQ(f.LevelR, 5);
    f.Settings.FastVuMeters = 1;
    f.Timer1Timer();
    EXPECT_EQ(f.LevelL, 50);  // four readings: 0, 0, 100, 100
    f.Timer1Timer();
    f.Timer1Timer();
    EXPECT_EQ(f.LevelL, 100);
    EXPECT_EQ(f.LevelR, 50);
    EXPECT_EQ(f.HistoryL[5], 0);
    // The bitmaps reach the meter images.
    const QImage right = static_cast<TCanvasImage*>(f.Image4)->Canvas;
    EXPECT_EQ(right.pixel(19, kVuHeight - 1) & 0xFFFFFFu, f.BitmapR[static_cast<size_t>(kVuHeight - 1) * kVuWidth + 19]);
    EXPECT_EQ(f.PeakRowL, VuRows(100));

    f.ClearMeterHistory();
    EXPECT_EQ(f.HistoryL, (std::array<int, 10>{}));
    f.ResetPeaks();
    EXPECT_EQ(f.PeakRowL + f.PeakAgeL + f.PeakRowR + f.PeakAgeR, 0);

    // A click on either meter toggles the striped style.
    EXPECT_TRUE(f.StripedVu);
    static_cast<TImage*>(f.Image3)->OnClick();
    EXPECT_FALSE(f.StripedVu);
    static_cast<TImage*>(f.Image4)->OnClick();
    EXPECT_TRUE(f.StripedVu);

    f.MeterTicks = 65535;
    f.Timer1Timer();
    EXPECT_EQ(f.MeterTicks, 0);
}

// Each meter frame reaches the shown window at once (only the changed rows
// are handed over), as the bars rise and as they fall.
TEST_F(AppFixture, DisplayMeterFramesReachTheShownWindowAtOnce) {
    Create();
    TForm1& f = *form1;
    f.show();
    ASSERT_TRUE(RunEventsUntil([&] { return f.windowHandle() && f.windowHandle()->isExposed(); }));
    RunEvents(50);
    f.Timer1->stop();
    TFixedLevels* levels = UseFixedLevels(f);
    const auto expectShown = [&](const char* when) {
        // In device pixels: a scaled screen shows each pixel as a block.
        const QImage shown = f.screen()->grabWindow(f.winId(), 0, 0, f.width(), f.height()).toImage();
        const int scale = qRound(shown.devicePixelRatio());
        for (TImage* meter : {f.Image3, f.Image4}) {
            const QImage& canvas = static_cast<TCanvasImage*>(meter)->Canvas;
            const QRect area(meter->mapTo(&f, QPoint(0, 0)) * scale, canvas.size() * scale);
            QImage expected = canvas.scaled(area.size()).convertToFormat(QImage::Format_RGB32);
            expected.setDevicePixelRatio(shown.devicePixelRatio());
            EXPECT_EQ(shown.copy(area).convertToFormat(QImage::Format_RGB32), expected) << when << " at " << area.x();
        }
    };
    levels->Left = 18000;
    levels->Right = -4500;
    for (int k = 0; k < 6; ++k) f.Timer1Timer();
    expectShown("rising");
    levels->Left = levels->Right = 0;
    for (int k = 0; k < 3; ++k) f.Timer1Timer();
    expectShown("falling");
}

TEST_F(AppFixture, DisplayTitleOf298PixelsStaysAnd299Swings) {
    Create();
    TForm1& f = *form1;
    f.MeterTicks = 0;
    f.SetTitleScroll(298);
    EXPECT_FALSE(f.ScrollOn);
    for (int k = 0; k < 200; ++k) f.Timer1Timer();
    EXPECT_EQ(f.ScrollOffset, 0);

    f.MeterTicks = 0;
    f.SetTitleScroll(299);
    EXPECT_TRUE(f.ScrollOn);
    EXPECT_EQ(f.ScrollPause, 40);
    std::vector<int> offsets;
    for (int k = 1; k <= 170; ++k) {
        f.Timer1Timer();
        offsets.push_back(f.ScrollOffset);
    }
    // Rests 40 ticks, one pixel on an even tick, turns with another 40-tick rest, back.
    EXPECT_EQ(offsets[38], 0);   // tick 39
    EXPECT_EQ(offsets[39], 1);   // tick 40
    EXPECT_EQ(offsets[80], 1);   // tick 81
    EXPECT_EQ(offsets[81], 0);   // tick 82
    EXPECT_EQ(offsets[122], 0);  // tick 123: turned forward at tick 84, resting
    EXPECT_EQ(offsets[123], 1);  // tick 124: 40 ticks later, forward again
    EXPECT_EQ(offsets[164], 1);  // tick 165: turned at 126, resting
    EXPECT_EQ(offsets[165], 0);  // tick 166
    EXPECT_EQ(static_cast<TCanvasImage*>(f.Image1)->OffsetX, f.ScrollOffset);
}

TEST_F(AppFixture, DisplayDrawTitleDecidesScrollingByTheTextWidth) {
    Create();
    TForm1& f = *form1;
    QString longTitle = QStringLiteral("A");
    while (f.TitleTextWidth(longTitle, false) <= 298) longTitle += QStringLiteral(" long title");
    f.DrawTitle(longTitle, false, 0xFFFF00);
    EXPECT_TRUE(f.ScrollOn);
    EXPECT_EQ(f.TitleWidth, f.TitleTextWidth(longTitle, false));
    EXPECT_EQ(f.ScrollPause, 40);
    EXPECT_TRUE(f.ScrollForward);
    f.DrawTitle(QStringLiteral("Short"), false, 0xFFFF00);
    EXPECT_FALSE(f.ScrollOn);
    // The strip shows the title in 0xFFFF00 (cyan on screen) on black.
    const QImage canvas = static_cast<TCanvasImage*>(f.Image1)->Canvas;
    bool cyan = false;
    for (int y = 0; y < canvas.height() && !cyan; ++y)
        for (int x = 0; x < canvas.width(); ++x) cyan |= (canvas.pixel(x, y) & 0xFFFFFFu) == 0x00FFFFu;
    EXPECT_TRUE(cyan);

    // The banner: bold, four pixels to the left, never scrolling, even when long.
    f.DrawBanner();
    EXPECT_FALSE(f.TitleText.isEmpty());
    EXPECT_FALSE(f.ScrollOn);
    EXPECT_EQ(static_cast<TCanvasImage*>(f.Image1)->OffsetX, 4);
    f.DrawTitle(longTitle, true, 0xFFFF00);
    EXPECT_FALSE(f.ScrollOn);
}

TEST_F(AppFixture, DisplaySeekBarReleaseSeeksToTheShareOfTheLength) {
    Create();
    TForm1& f = *form1;
    // Nothing open: no length, nothing happens.
    f.SeekBarRelease(Qt::LeftButton, 100);
    EXPECT_EQ(f.ALProgressBar1->Position(), 0);

    const std::string path = (Home() + "silence.mp3").toStdString();
    {
        std::ofstream out(path, std::ios::binary);
        const std::vector<uint8_t> frame = SilentFrameMpeg1(0, 0, 0);
        for (int k = 0; k < 2000; ++k) out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
    f.AddEntry(QString::fromStdString(path));
    Ctl().SetHoldMs(0);
    f.CurrentEntry = 1;
    f.playfile();
    ASSERT_TRUE(Settle());
    const int64_t length = Ctl().LengthMs();
    ASSERT_GT(length, 50000);
    ASSERT_EQ(PlayerStatus(), mpsPlaying);
    f.HistoryL.fill(7);
    f.SeekBarRelease(Qt::RightButton, 100);  // only the left button seeks
    EXPECT_EQ(f.HistoryL[0], 7);

    f.SeekBarRelease(Qt::LeftButton, 100);
    const int64_t target = length * 100 / 201;
    EXPECT_EQ(f.HistoryL, (std::array<int, 10>{}));
    EXPECT_EQ(f.ALProgressBar1->Position(), TForm1::RoundDiv(target * 200, length));
    EXPECT_EQ(f.StatusText, QStringLiteral("Position %1%").arg(TForm1::RoundDiv(f.ALProgressBar1->Position(), 2)));
    const int64_t position = OnPlayer([](TMP3Player& p) { return p.Position(); });
    EXPECT_GE(position, target);
    EXPECT_LT(position, target + 30);  // the next frame start
}

}  // namespace wl::test

namespace wl::test {

// The meter tick stops once it has nothing to change and comes back for
// readings, scrolling titles and the about panel.
TEST_F(AppFixture, DisplayMeterTickParksAtRestAndWakesForWork) {
    Create();
    TForm1& f = *form1;
    TFixedLevels* levels = UseFixedLevels(f);
    // Started at creation; it may have parked already while the saver window
    // was made (its creation lets events run).
    ASSERT_TRUE(f.Timer1->isActive() || f.MeterTickParked());
    f.Timer1Timer();
    EXPECT_FALSE(f.Timer1->isActive());  // dark meters, short title, nothing plays
    EXPECT_TRUE(f.MeterTickParked());

    // A scrolling title needs the tick; a short one lets it park again.
    f.DrawTitle(QString(80, QLatin1Char('W')), false, 0xFFFF00);
    EXPECT_TRUE(f.Timer1->isActive());
    f.DrawTitle(QStringLiteral("short"), false, 0xFFFF00);
    f.Timer1Timer();
    EXPECT_FALSE(f.Timer1->isActive());

    // A position event (something plays) wakes it; a burst keeps it until
    // the bars and the peak marker have fallen back.
    f.MP3PlayerChangePosition(0, 0);
    ASSERT_TRUE(f.Timer1->isActive());
    levels->Left = 30000;
    f.Timer1Timer();
    levels->Left = 0;
    int ticks = 1;
    while (f.Timer1->isActive() && ticks < 200) {
        f.Timer1Timer();
        ++ticks;
    }
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_GT(ticks, 15);  // ten readings of history, then the marker's fall
    EXPECT_EQ(0, f.LevelL);
    EXPECT_LE(f.PeakRowL, 1);

    // A pause holds its last level: once the bars stand still it parks too.
    f.MP3PlayerChangePosition(0, 0);
    ASSERT_TRUE(f.Timer1->isActive());
    levels->Left = 20000;
    for (ticks = 0; f.Timer1->isActive() && ticks < 200; ++ticks) f.Timer1Timer();
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_GT(f.LevelL, 0);
    levels->Left = 0;
    f.MP3PlayerChangePosition(0, 0);  // playing on
    for (ticks = 0; f.Timer1->isActive() && ticks < 200; ++ticks) f.Timer1Timer();
    EXPECT_EQ(0, f.LevelL);

    // The about panel's animation runs on it; a changed meter colour is
    // drawn by the housekeeping tick's wake-up.
    f.Image16Click();
    EXPECT_TRUE(f.Timer1->isActive());
    f.Image16Click();
    f.Timer1Timer();
    EXPECT_FALSE(f.Timer1->isActive());
    f.Settings.VuColor = 0x00FF00;
    f.Timer4Timer();
    EXPECT_TRUE(f.Timer1->isActive());
    f.Timer1Timer();
    EXPECT_FALSE(f.Timer1->isActive());
}

}  // namespace wl::test
