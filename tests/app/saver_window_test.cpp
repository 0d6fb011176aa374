// The screensaver: showing it, what closes it and what does not, keys that
// never reach the program, and the strip's drift.
#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

#include "app/image_widget.h"
#include "app/scramble.h"
#include "tests/app/app_fixture.h"

namespace wl::test {

namespace {

// Counts the key presses that reach it.
class TKeyCounter : public QWidget {
public:
    int Presses = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        ++Presses;
        event->accept();
    }
};

// A mouse move at a global position, sent the way the event loop delivers it
// (through the application's filters).
void MoveTo(QWidget* target, QPoint global) {
    QMouseEvent move(QEvent::MouseMove, QPointF(global - target->mapToGlobal(QPoint(0, 0))), QPointF(global),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
}

}  // namespace

class SaverFixture : public AppFixture {
protected:
    void ShowSaver() {
        Create();
        form1->show();  // the first show puts up the banner
        form1->TitleText = QStringLiteral("Some Song");
        form2->SetScreenSize(QSize(1024, 768));
        form2->show();  // as the housekeeping tick does
        QCoreApplication::processEvents();
    }
};

TEST_F(SaverFixture, SaverShowsHidesTheMainWindowAndStartsItsAnimation) {
    ShowSaver();
    EXPECT_TRUE(form2->isVisible());
    EXPECT_FALSE(form1->isVisible());
    EXPECT_TRUE(form2->Filter->SaverMode);
    EXPECT_TRUE(form2->Timer1->isActive());
    EXPECT_EQ(form2->Timer1->interval(), 80);
    EXPECT_EQ(form2->SaverText, "Some Song");
    EXPECT_EQ(form2->X, 0);
    EXPECT_EQ(form2->Y, 0);
    EXPECT_EQ(form2->C, 0u);
    EXPECT_EQ(QGuiApplication::overrideCursor() ? QGuiApplication::overrideCursor()->shape() : Qt::ArrowCursor,
              Qt::BlankCursor);
    EXPECT_EQ(form2->Image1->width(), 1024 - 40);
    EXPECT_EQ(form2->Image1->height(), 69);
}

TEST_F(SaverFixture, SaverIgnoresSmallMovesAndClosesOnLargerOnes) {
    ShowSaver();
    const QPoint at = form2->CursorAtShow;
    MoveTo(form2.get(), at + QPoint(3, -3));
    MoveTo(form2.get(), at + QPoint(5, 5));
    EXPECT_TRUE(form2->isVisible());
    EXPECT_TRUE(form2->Filter->SaverMode);
    form1->IdleSeconds = 100;
    MoveTo(form2.get(), at + QPoint(0, 6));
    EXPECT_FALSE(form2->isVisible());
    EXPECT_FALSE(form2->Filter->SaverMode);
    EXPECT_FALSE(form2->Timer1->isActive());
    EXPECT_EQ(form1->IdleSeconds, 2);
    EXPECT_TRUE(form1->isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(SaverFixture, SaverSwallowsTheKeyThatClosesIt) {
    ShowSaver();
    TKeyCounter receiver;
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QCoreApplication::sendEvent(&receiver, &space);
    EXPECT_EQ(receiver.Presses, 0);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_EQ(form1->IdleSeconds, 2);
    // Once closed, keys go through again.
    QKeyEvent again(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QCoreApplication::sendEvent(&receiver, &again);
    EXPECT_EQ(receiver.Presses, 1);
}

TEST_F(SaverFixture, SaverPutsTheCursorBackWhereItWas) {
    QCursor::setPos(300, 200);
    ShowSaver();
    const QPoint remembered = form2->CursorAtShow;
    QCursor::setPos(remembered + QPoint(2, 2));  // within the tolerance
    QCoreApplication::processEvents();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(form2.get(), &key);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_EQ(QCursor::pos(), remembered);
}

TEST_F(SaverFixture, SaverClosesOnAMouseButton) {
    ShowSaver();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(form2->CursorAtShow), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    EXPECT_TRUE(form2->SaverEvent(&press));
    EXPECT_FALSE(form2->isVisible());
    // A paint or timer event does not close it.
    form2->show();
    QEvent other(QEvent::UpdateRequest);
    EXPECT_FALSE(form2->SaverEvent(&other));
    EXPECT_TRUE(form2->isVisible());
}

TEST_F(SaverFixture, SaverStripDriftsWithinTheScreen) {
    ShowSaver();
    int minY = 1 << 20, maxY = -1, minX = 1 << 20, maxX = -1;
    uint32_t maxC = 0, minCAfterRise = 0xFFFFFFFF;
    bool risen = false;
    for (int k = 0; k < 3000; ++k) {
        form2->Timer1Timer();
        minY = std::min(minY, form2->Y);
        maxY = std::max(maxY, form2->Y);
        minX = std::min(minX, form2->X);
        maxX = std::max(maxX, form2->X);
        EXPECT_EQ(form2->C & 0xFFFFu, 0u);  // blue only
        maxC = std::max(maxC, form2->C);
        if (form2->C == 0xF80000) risen = true;
        if (risen) minCAfterRise = std::min(minCAfterRise, form2->C);
        ASSERT_EQ(form2->Image1->pos(), QPoint(form2->X, form2->Y));
    }
    EXPECT_EQ(minY, 0);
    EXPECT_EQ(maxY, 768 - 69);
    EXPECT_EQ(minX, 0);
    EXPECT_EQ(maxX, 40);
    EXPECT_EQ(maxC, 0xF80000u);
    EXPECT_EQ(minCAfterRise, 0x200000u);
}

TEST_F(SaverFixture, SaverShowsTheTitleOrItsOwnTextInsteadOfTheBanner) {
    ShowSaver();
    form2->Timer1Timer();
    EXPECT_EQ(form2->SaverText, "Some Song");
    form1->DrawBanner();
    form2->Timer1Timer();
    EXPECT_EQ(form1->TitleText, StoredText(TStoredText::SaverBanner));
    EXPECT_EQ(form2->SaverText, StoredText(TStoredText::SaverIdle));
    EXPECT_NE(form2->SaverText, form1->TitleText);
}

}  // namespace wl::test
