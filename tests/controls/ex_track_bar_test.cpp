// Track bar: the position and change rule, user moves, thumb length, ticks and
// the selection band.
#include "controls/ex_track_bar.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <gtest/gtest.h>

namespace wl {
namespace {

TEST(ExTrackBar, PositionClampsAndChangesOnlyOnNewValues) {
    TExTrackBar bar;
    bar.SetMin(0);
    bar.SetMax(100);
    int changes = 0;
    bar.OnChange = [&](TExTrackBar* sender) {
        EXPECT_EQ(&bar, sender);
        ++changes;
    };
    bar.SetPosition(40);
    EXPECT_EQ(1, changes);
    bar.SetPosition(40);
    EXPECT_EQ(1, changes);
    bar.SetPosition(150);
    EXPECT_EQ(100, bar.Position());
    EXPECT_EQ(2, changes);
    bar.SetPosition(150);  // clamps to the value it already has
    EXPECT_EQ(2, changes);
    bar.SetPosition(-50);
    EXPECT_EQ(0, bar.Position());
    EXPECT_EQ(3, changes);

    TExTrackBar balance;
    balance.SetMin(-50);
    balance.SetMax(50);
    balance.SetPosition(0);
    int balanceChanges = 0;
    balance.OnChange = [&](TExTrackBar*) { ++balanceChanges; };
    balance.SetPosition(0);
    EXPECT_EQ(0, balanceChanges);
    balance.SetPosition(-60);
    EXPECT_EQ(-50, balance.Position());
    EXPECT_EQ(1, balanceChanges);
}

TEST(ExTrackBar, UserMovesRaiseOnChange) {
    TExTrackBar bar;
    bar.resize(200, 30);
    bar.SetMax(100);
    bar.SetLineSize(5);
    bar.SetPageSize(20);
    int changes = 0;
    bar.OnChange = [&](TExTrackBar*) { ++changes; };

    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QApplication::sendEvent(&bar, &right);
    EXPECT_EQ(5, bar.Position());
    QKeyEvent pageUp(QEvent::KeyPress, Qt::Key_PageUp, Qt::NoModifier);
    QApplication::sendEvent(&bar, &pageUp);
    EXPECT_EQ(25, bar.Position());
    EXPECT_EQ(2, changes);

    // Drag the thumb to the far end.
    QStyleOptionSlider opt;
    opt.initFrom(&bar);
    opt.orientation = Qt::Horizontal;
    opt.minimum = bar.Min();
    opt.maximum = bar.Max();
    opt.sliderPosition = bar.Position();
    opt.sliderValue = bar.Position();
    const QRect handle = bar.style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, &bar);
    const QPointF from = handle.center();
    const QPointF to(bar.width() + 50, from.y());
    QMouseEvent press(QEvent::MouseButtonPress, from, bar.mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&bar, &press);
    QMouseEvent move(QEvent::MouseMove, to, bar.mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&bar, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, to, bar.mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(&bar, &release);
    EXPECT_EQ(100, bar.Position());
    EXPECT_GE(changes, 3);
}

TEST(ExTrackBar, VerticalBarHasMinAtTheTop) {
    TExTrackBar bar;
    bar.SetOrientation(TTrackBarOrientation::trVertical);
    bar.SetMax(100);
    EXPECT_EQ(TTrackBarOrientation::trVertical, bar.Orientation());
    EXPECT_EQ(Qt::Vertical, bar.orientation());
    bar.resize(30, 200);
    bar.SetPosition(50);
    // Up moves the thumb up, towards Min.
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(&bar, &up);
    EXPECT_EQ(49, bar.Position());
    // A button that sets the value where it is pressed: near the top is
    // near Min, near the bottom near Max.
    const int absolute = bar.style()->styleHint(QStyle::SH_Slider_AbsoluteSetButtons);
    if (absolute == 0) GTEST_SKIP() << "the style has no absolute-set button";
    const Qt::MouseButton button = (absolute & Qt::LeftButton)     ? Qt::LeftButton
                                   : (absolute & Qt::MiddleButton) ? Qt::MiddleButton
                                                                   : Qt::RightButton;
    auto clickAt = [&](int y) {
        const QPointF pt(15, y);
        QMouseEvent press(QEvent::MouseButtonPress, pt, bar.mapToGlobal(pt), button, button, Qt::NoModifier);
        QApplication::sendEvent(&bar, &press);
        QMouseEvent release(QEvent::MouseButtonRelease, pt, bar.mapToGlobal(pt), button, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(&bar, &release);
        return bar.Position();
    };
    EXPECT_LT(clickAt(15), 15);
    EXPECT_GT(clickAt(185), 85);
}

TEST(ExTrackBar, ThumbLengthAndTicks) {
    TExTrackBar bar;
    EXPECT_EQ(20, bar.ThumbLength());
    EXPECT_TRUE(bar.ShowSelRange());
    bar.SetThumbLength(12);
    EXPECT_EQ(12, bar.style()->pixelMetric(QStyle::PM_SliderLength, nullptr, &bar));
    EXPECT_EQ(QSlider::TicksBelow, bar.tickPosition());
    bar.SetTickMarks(TTickMark::tmBoth);
    EXPECT_EQ(QSlider::TicksBothSides, bar.tickPosition());
    bar.SetTickStyle(TTickStyle::tsNone);
    EXPECT_EQ(QSlider::NoTicks, bar.tickPosition());
    bar.SetTickStyle(TTickStyle::tsAuto);
    bar.SetTickMarks(TTickMark::tmTopLeft);
    EXPECT_EQ(QSlider::TicksAbove, bar.tickPosition());
    bar.SetFrequency(5);
    EXPECT_EQ(5, bar.Frequency());
}

TEST(ExTrackBar, SelectionBandOnlyWhenShown) {
    TExTrackBar bar;
    bar.resize(200, 30);
    bar.SetMax(10);
    bar.SetTickStyle(TTickStyle::tsNone);
    const QImage none = bar.grab().toImage();
    bar.SetSelStart(2);
    bar.SetSelEnd(8);
    const QImage band = bar.grab().toImage();
    EXPECT_NE(none, band);
    bar.SetShowSelRange(false);
    EXPECT_EQ(none, bar.grab().toImage());
}

}  // namespace
}  // namespace wl
