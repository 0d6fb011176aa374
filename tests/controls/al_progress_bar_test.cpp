// The gradient progress bar drawn into an image: fill length, directions,
// gradients, tiles, border and the position rule.
#include "controls/al_progress_bar.h"

#include <QFontMetrics>
#include <QPainter>

#include <gtest/gtest.h>

#include <stdexcept>

namespace wl {
namespace {

constexpr TColor kBar = 0x0000FF;         // red
constexpr TColor kBack = 0xFFFFFF;        // white
constexpr TColor kBorder1 = 0x00FF00;     // green
constexpr TColor kBorder2 = 0xFF0000;     // blue

QRgb Rgb(TColor c) { return ColorToQColor(c).rgb(); }

void Solid(TALProgressBar& bar, int w, int h) {
    bar.resize(w, h);
    bar.SetBarColorStyle(TBarColorStyle::cs1Color);
    bar.SetBarColor1(kBar);
    bar.SetBackgroundColor(kBack);
    bar.SetBorderColor1(kBorder1);
    bar.SetBorderColor2(kBorder2);
    bar.SetShowPosText(false);
}

int CountRow(const QImage& img, int y, QRgb c) {
    int n = 0;
    for (int x = 0; x < img.width(); ++x) n += img.pixel(x, y) == c;
    return n;
}

TEST(ALProgressBar, Defaults) {
    TALProgressBar bar;
    EXPECT_EQ(QSize(200, 20), bar.size());
    EXPECT_EQ(100, bar.Max());
    EXPECT_EQ(0, bar.Min());
    EXPECT_EQ(0, bar.Position());
    EXPECT_EQ(TBarColorStyle::cs3Colors, bar.BarColorStyle());
    EXPECT_EQ(0x008000u, bar.BarColor1());
    EXPECT_EQ(0x00FFFFu, bar.BarColor2());
    EXPECT_EQ(0x0000FFu, bar.BarColor3());
    EXPECT_EQ(QStringLiteral("%"), bar.PosTextSuffix());
    EXPECT_TRUE(bar.ShowBorder());
    EXPECT_TRUE(bar.ShowPosText());
    EXPECT_EQ(TProgressDirection::pdLeftToRight, bar.Direction());
}

TEST(ALProgressBar, HalfPositionFillsNinetyNinePixelsInsideTheBorder) {
    TALProgressBar bar;
    Solid(bar, 200, 20);
    bar.SetPosition(50);
    const QImage img = bar.Render();
    ASSERT_EQ(QSize(200, 20), img.size());
    const int y = 10;
    EXPECT_EQ(99, CountRow(img, y, Rgb(kBar)));
    EXPECT_EQ(99, CountRow(img, y, Rgb(kBack)));
    EXPECT_EQ(Rgb(kBorder1), img.pixel(0, y));
    EXPECT_EQ(Rgb(kBar), img.pixel(1, y));
    EXPECT_EQ(Rgb(kBar), img.pixel(99, y));
    EXPECT_EQ(Rgb(kBack), img.pixel(100, y));
    EXPECT_EQ(Rgb(kBack), img.pixel(198, y));
    EXPECT_EQ(Rgb(kBorder2), img.pixel(199, y));
    // Top and left in the first border colour, bottom and right in the
    // second; the top-right and bottom-left corners belong to the first.
    EXPECT_EQ(200, CountRow(img, 0, Rgb(kBorder1)));
    EXPECT_EQ(199, CountRow(img, 19, Rgb(kBorder2)));
    EXPECT_EQ(Rgb(kBorder1), img.pixel(0, 19));
    EXPECT_EQ(Rgb(kBorder1), img.pixel(199, 0));
}

TEST(ALProgressBar, EachDirectionUncoversFromItsStart) {
    TALProgressBar bar;
    Solid(bar, 200, 20);
    bar.SetPosition(50);
    bar.SetDirection(TProgressDirection::pdRightToLeft);
    QImage img = bar.Render();
    EXPECT_EQ(Rgb(kBack), img.pixel(1, 10));
    EXPECT_EQ(Rgb(kBack), img.pixel(99, 10));
    EXPECT_EQ(Rgb(kBar), img.pixel(100, 10));
    EXPECT_EQ(Rgb(kBar), img.pixel(198, 10));

    Solid(bar, 20, 200);
    bar.SetDirection(TProgressDirection::pdBottomToTop);
    img = bar.Render();
    EXPECT_EQ(Rgb(kBack), img.pixel(10, 1));
    EXPECT_EQ(Rgb(kBack), img.pixel(10, 99));
    EXPECT_EQ(Rgb(kBar), img.pixel(10, 100));
    EXPECT_EQ(Rgb(kBar), img.pixel(10, 198));

    bar.SetDirection(TProgressDirection::pdTopToBottom);
    img = bar.Render();
    EXPECT_EQ(Rgb(kBar), img.pixel(10, 1));
    EXPECT_EQ(Rgb(kBar), img.pixel(10, 99));
    EXPECT_EQ(Rgb(kBack), img.pixel(10, 100));
    EXPECT_EQ(Rgb(kBack), img.pixel(10, 198));
}

TEST(ALProgressBar, FillWithoutBorderAndAtTheEnds) {
    TALProgressBar bar;
    Solid(bar, 201, 11);  // the seek bar's size
    bar.SetShowBorder(false);
    bar.SetMax(200);
    bar.SetPosition(1);
    // Round(1 / 200 * 201) = 1
    EXPECT_EQ(1, CountRow(bar.Render(), 5, Rgb(kBar)));
    bar.SetPosition(200);
    EXPECT_EQ(201, CountRow(bar.Render(), 0, Rgb(kBar)));
    bar.SetPosition(0);
    EXPECT_EQ(201, CountRow(bar.Render(), 10, Rgb(kBack)));
    // Round half to even: 25 / 200 * 4 = 0.5 -> 0, 75 / 200 * 4 = 1.5 -> 2.
    bar.resize(4, 3);
    bar.SetPosition(25);
    EXPECT_EQ(0, CountRow(bar.Render(), 1, Rgb(kBar)));
    bar.SetPosition(75);
    EXPECT_EQ(2, CountRow(bar.Render(), 1, Rgb(kBar)));
}

TEST(ALProgressBar, PositionOutsideTheRangeOrEqualIsIgnored) {
    TALProgressBar bar;
    bar.SetPosition(40);
    bar.SetPosition(150);
    EXPECT_EQ(40, bar.Position());
    bar.SetPosition(-1);
    EXPECT_EQ(40, bar.Position());
    bar.SetMin(10);
    bar.SetPosition(5);
    EXPECT_EQ(40, bar.Position());
    bar.SetPosition(100);
    EXPECT_EQ(100, bar.Position());
    // A position left beyond a lowered Max draws a full bar, no more.
    Solid(bar, 50, 10);
    bar.SetMax(20);
    EXPECT_EQ(48, CountRow(bar.Render(), 5, Rgb(kBar)));
}

TEST(ALProgressBar, ColoursAreBlueGreenRedValues) {
    TALProgressBar bar;
    Solid(bar, 10, 4);
    bar.SetShowBorder(false);
    bar.SetBarColor1(0x00FF8040);
    bar.SetPosition(100);
    EXPECT_EQ(qRgb(0x40, 0x80, 0xFF), bar.Render().pixel(3, 1));
}

TEST(ALProgressBar, GradientInterpolationRoundsAndChecksItsIndex) {
    EXPECT_EQ(0x000080u, TALProgressBar::GetGradientColor(0x000000, 0x0000FF, 2, 3));  // 127.5 -> 128
    EXPECT_EQ(0x00007Fu, TALProgressBar::GetGradientColor(0x0000FF, 0x000000, 2, 3));  // 255 - 128
    EXPECT_EQ(0x123456u, TALProgressBar::GetGradientColor(0x123456, 0xABCDEF, 1, 7));
    EXPECT_EQ(0xABCDEFu, TALProgressBar::GetGradientColor(0x123456, 0xABCDEF, 7, 7));
    EXPECT_EQ(0x400040u, TALProgressBar::GetGradientColor(0x000080, 0x800000, 2, 3));
    try {
        TALProgressBar::GetGradientColor(0, 0xFFFFFF, 0, 5);
        FAIL() << "no error";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ("ColorIndex can't be less than 1 or greater than 5", e.what());
    }
    EXPECT_THROW(TALProgressBar::GetGradientColor(0, 0xFFFFFF, 6, 5), std::out_of_range);
}

TEST(ALProgressBar, ThreeColourGradientEndsInEveryDirection) {
    TALProgressBar bar;
    bar.resize(200, 10);
    bar.SetShowBorder(false);
    bar.SetShowPosText(false);
    bar.SetPosition(100);
    const TColor c1 = 0x102030, c2 = 0x405060, c3 = 0x708090;
    bar.SetBarColor1(c1);
    bar.SetBarColor2(c2);
    bar.SetBarColor3(c3);
    QImage img = bar.Render();
    EXPECT_EQ(Rgb(c1), img.pixel(0, 5));
    EXPECT_EQ(Rgb(c2), img.pixel(99, 5));   // end of the first run (length div 2)
    EXPECT_EQ(Rgb(c2), img.pixel(100, 5));  // start of the second
    EXPECT_EQ(Rgb(c3), img.pixel(199, 5));
    EXPECT_NE(Rgb(c1), img.pixel(50, 5));
    EXPECT_NE(Rgb(c2), img.pixel(50, 5));

    bar.SetDirection(TProgressDirection::pdRightToLeft);
    img = bar.Render();
    EXPECT_EQ(Rgb(c1), img.pixel(199, 5));
    EXPECT_EQ(Rgb(c3), img.pixel(0, 5));

    bar.resize(10, 200);
    bar.SetDirection(TProgressDirection::pdBottomToTop);
    img = bar.Render();
    EXPECT_EQ(Rgb(c1), img.pixel(5, 199));
    EXPECT_EQ(Rgb(c3), img.pixel(5, 0));
    bar.SetDirection(TProgressDirection::pdTopToBottom);
    img = bar.Render();
    EXPECT_EQ(Rgb(c1), img.pixel(5, 0));
    EXPECT_EQ(Rgb(c3), img.pixel(5, 199));

    // Two colours: one run over the whole length.
    bar.SetBarColorStyle(TBarColorStyle::cs2Colors);
    img = bar.Render();
    EXPECT_EQ(Rgb(c1), img.pixel(5, 0));
    EXPECT_EQ(Rgb(c2), img.pixel(5, 199));
    EXPECT_EQ(Rgb(TALProgressBar::GetGradientColor(c1, c2, 101, 200)), img.pixel(5, 100));
}

TEST(ALProgressBar, BarImageIsRebuiltOnlyWhenItChanges) {
    TALProgressBar bar;
    bar.SetPosition(10);
    bar.Render();
    const int built = bar.BarImageBuilds();
    EXPECT_GE(built, 1);
    bar.SetPosition(60);
    bar.Render();
    bar.SetBackgroundColor(0x123456);
    bar.Render();
    EXPECT_EQ(built, bar.BarImageBuilds());
    bar.SetBarColor2(0x654321);
    bar.Render();
    EXPECT_EQ(built + 1, bar.BarImageBuilds());
    bar.resize(300, 20);
    bar.Render();
    EXPECT_EQ(built + 2, bar.BarImageBuilds());
}

TEST(ALProgressBar, BitmapIsTiledFromTheTopLeft) {
    QImage tile(3, 2, QImage::Format_RGB32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) tile.setPixel(x, y, qRgb(40 * x, 100 * y, 7));
    TALProgressBar bar;
    bar.resize(20, 7);
    bar.SetShowBorder(false);
    bar.SetShowPosText(false);
    bar.SetBarColorStyle(TBarColorStyle::cs1Color);  // a bitmap wins over colours
    bar.SetBarBitmap(QPixmap::fromImage(tile));
    bar.SetPosition(100);
    const QImage img = bar.Render();
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(tile.pixel(x % 3, y % 2), img.pixel(x, y)) << x << "," << y;
}

TEST(ALProgressBar, PositionTextIsCentred) {
    TALProgressBar bar;
    Solid(bar, 200, 30);
    bar.SetShowBorder(false);
    bar.SetPosition(50);
    const QImage plain = bar.Render();
    bar.SetShowPosText(true);
    bar.SetPosTextPrefix(QStringLiteral("at "));
    const QFontMetrics fm(bar.font());
    if (fm.horizontalAdvance(QStringLiteral("at 50%")) <= 0) GTEST_SKIP() << "no font to draw with";
    const QImage text = bar.Render();
    int minX = 200, maxX = -1;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 200; ++x)
            if (plain.pixel(x, y) != text.pixel(x, y)) {
                minX = std::min(minX, x);
                maxX = std::max(maxX, x);
            }
    ASSERT_GE(maxX, minX) << "no text drawn";
    // The drawn text lies within its advance box centred on the middle.
    const int w = fm.horizontalAdvance(QStringLiteral("at 50%"));
    EXPECT_GE(minX, 100 - w / 2 - 2);
    EXPECT_LE(maxX, 100 - w / 2 + w + 2);
}

}  // namespace
}  // namespace wl
