// The main window's frame: creation, panels, placing, the housekeeping tick,
// the transport row, the keyboard through the input filter, moving and the
// close button.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <cstdio>

#include "app/image_widget.h"
#include "app/single_instance.h"
#include "controls/ex_track_bar.h"
#include "tests/app/app_fixture.h"
#include "tests/stream_builder.h"

namespace wl::test {

namespace {

// About ten seconds of silent MPEG-1 Layer III: plays for the whole test on
// the real-time null device.
QString WriteSilentMp3(const QString& folder) {
    QByteArray bytes;
    for (int i = 0; i < 400; ++i) {
        const std::vector<uint8_t> frame = SilentFrameMpeg1(0, 0, 0);
        bytes.append(reinterpret_cast<const char*>(frame.data()), static_cast<qsizetype>(frame.size()));
    }
    const QString path = folder + "/silence.mp3";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) return {};
    return path;
}

void WriteRecord(const QString& path, int16_t left, int16_t top) {
    TSettings s;
    s.WindowLeft = left;
    s.WindowTop = top;
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(EncodeSettings(s));
}

void SendKey(QWidget* receiver, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Space ? QStringLiteral(" ") : QString());
    QApplication::sendEvent(receiver, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(receiver, &release);
}

void SendMouse(QWidget* receiver, QEvent::Type type, QPoint local, QPoint global, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(local), QPointF(global), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(receiver, &event);
}

}  // namespace

class FrameWindow : public AppFixture {
protected:
    // The window's own volume bar (on the display) and balance bar (on the
    // equalizer panel), as the window built them.
    void CreateWithBars() {
        Create();
        ASSERT_NE(form1->ExTrackBar1, nullptr);
        ASSERT_NE(form1->ExTrackBar2, nullptr);
        EXPECT_EQ(form1->ExTrackBar1->parentWidget(), form1->Panel1);
        EXPECT_EQ(form1->ExTrackBar2->parentWidget(), form1->Panel2);
        EXPECT_EQ(form1->ExTrackBar1->Position(), 100 - OnPlayer([](TMP3Player& p) { return p.Volume(); }));
        EXPECT_EQ(form1->ExTrackBar2->Position(), OnPlayer([](TMP3Player& p) { return p.VolBalance(); }));
    }
};

TEST_F(FrameWindow, CreationLeavesTheFoldedBlackWindow) {
    Create();
    EXPECT_EQ(form1->windowTitle(), " Wavelantern 2.1");
    EXPECT_TRUE(form1->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(form1->size(), QSize(370, 183));
    EXPECT_FALSE(form1->PanelOpen);
    EXPECT_EQ(form1->palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(form1->Panel1->geometry(), QRect(20, 20, 330, 125));
    EXPECT_EQ(form1->StatusText, "Welcome!");
    EXPECT_EQ(form1->IdleSeconds, 0);
    EXPECT_EQ(form1->StartupTicks, 0);
    EXPECT_EQ(form1->CurrentEntry, 0);
    EXPECT_EQ(form1->EntryCount, 0);
    EXPECT_EQ(form1->Timer1->interval(), 40);
    EXPECT_EQ(form1->Timer3->interval(), 200);
    EXPECT_EQ(form1->Timer4->interval(), 1000);
    // The meter tick may have run and parked itself already: the saver
    // window's creation lets events run (slow builds take longer than its
    // 40 ms between the two).
    EXPECT_TRUE(form1->Timer1->isActive() || form1->MeterTickParked());
    EXPECT_TRUE(form1->Timer3->isActive() && form1->Timer4->isActive());
    EXPECT_TRUE(form1->acceptDrops());
    EXPECT_EQ(form1->SpeedButton1->text(), "X");
    EXPECT_EQ(form1->SpeedButton1->focusPolicy(), Qt::NoFocus);
    for (QWidget* panel : {form1->Panel2, form1->Panel3, form1->Panel4, form1->Panel17, form1->Panel19}) {
        EXPECT_TRUE(panel->isHidden());
        EXPECT_EQ(panel->geometry(), QRect(0, 183, 370, 183));
    }
}

// The window's player carries the values stored with the window, applied as
// at load: Volume 0 there means the device's own volume.
TEST_F(FrameWindow, PlayerHasTheStoredPropertyValues) {
    Create();
    Ctl().Inspect([](TMP3Player& p) {
        EXPECT_TRUE(p.AutoOpen());
        EXPECT_FALSE(p.AutoPlay());
        EXPECT_EQ(900, p.ChangePosStep());
        EXPECT_EQ(TThreadPriority::tpNormal, p.DecodePriority());
        EXPECT_EQ((TMP3InfoType{mitID3V1, mitID3V2}), p.NeedInfoType());
        EXPECT_FALSE(p.NoisySeek());
        EXPECT_EQ(memFreq, p.EqualizerMode());
        EXPECT_EQ(10, p.EqualizerCount());
        const int expected[10] = {60, 112, 208, 387, 720, 1339, 2490, 4629, 8606, 16000};
        for (int band = 0; band < 10; ++band) EXPECT_EQ(expected[band], p.EqualizerFrequency(band)) << band;
        EXPECT_EQ(0, p.VolBalance());
        EXPECT_GT(p.Volume(), 0);
        EXPECT_EQ(p.Output()->Volume(), p.Volume());
    });
    // Loading has ended: a 0 set now silences.
    Ctl().SetVolume(0);
    EXPECT_EQ(0, OnPlayer([](TMP3Player& p) { return p.Volume(); }));
}

TEST_F(FrameWindow, TransportRowHoverTexts) {
    Create();
    const char* texts[] = {"Play",     "Pause",     "Stop",  "Last",         "Next",  "Open",
                           "Settings", "Equalizer", "About", "MP3 playlist", "MP3 ID"};
    const auto images = form1->TransportImages();
    int previousRight = 0;
    for (size_t i = 0; i < images.size(); ++i) {
        TImage* image = images[i];
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->geometry().top(), 155);
        EXPECT_EQ(image->size(), QSize(16, 16));
        EXPECT_GT(image->geometry().left(), previousRight);  // a row without overlaps
        previousRight = image->geometry().right();
        EXPECT_EQ(image->cursor().shape(), Qt::PointingHandCursor);
        ASSERT_TRUE(image->OnEnter);
        image->OnEnter();
        EXPECT_EQ(form1->StatusText, QString::fromLatin1(texts[i]));
    }
    EXPECT_LT(previousRight, 370);
}

TEST_F(FrameWindow, PanelImagesToggleOnePanelAtATime) {
    Create();
    struct TCase {
        void (TForm1::*click)();
        QWidget* panel;
    };
    const TCase cases[] = {
        {&TForm1::Image14Click, form1->Panel4},  {&TForm1::Image15Click, form1->Panel2},
        {&TForm1::Image16Click, form1->Panel3},  {&TForm1::Image17Click, form1->Panel19},
        {&TForm1::Image18Click, form1->Panel17},
    };
    for (const TCase& c : cases) {
        (form1.get()->*c.click)();
        EXPECT_FALSE(c.panel->isHidden());
        EXPECT_EQ(form1->height(), 366);
        EXPECT_TRUE(form1->PanelOpen);
        for (const TCase& other : cases) {
            if (other.panel != c.panel) {
                EXPECT_TRUE(other.panel->isHidden());
            }
        }
    }
    // Closing the open one folds the window.
    form1->Image18Click();
    EXPECT_TRUE(form1->Panel17->isHidden());
    EXPECT_EQ(form1->height(), 183);
    EXPECT_FALSE(form1->PanelOpen);
    // Opening the about panel restarts the meter tick count (the logo blinks).
    form1->MeterTicks = 500;
    form1->Image16Click();
    EXPECT_EQ(form1->MeterTicks, 0);
    form1->MeterTicks = 7;
    form1->Image16Click();
    EXPECT_EQ(form1->MeterTicks, 7);
    EXPECT_EQ(form1->height(), 183);
}

TEST_F(FrameWindow, StoredPositionOffTheScreenOpensAt155And100) {
    WriteRecord(Home() + "wl.ini", 5000, 100);
    Create();
    const QSize screen = QGuiApplication::primaryScreen()->virtualSize();
    ASSERT_LT(screen.width(), 5000);
    ASSERT_GT(screen.width(), 155);
    form1->show();
    EXPECT_EQ(form1->pos(), QPoint(155, 100));
}

TEST_F(FrameWindow, StoredPositionsOnTheScreenAreKeptAndTheWindowStaysOnIt) {
    WriteRecord(Home() + "wl.ini", 30, 40);
    Create();
    form1->show();
    EXPECT_EQ(form1->pos(), QPoint(30, 40));
    form2.reset();
    form1.reset();

    const QSize screen = QGuiApplication::primaryScreen()->virtualSize();
    WriteRecord(Home() + "wl.ini", -20, static_cast<int16_t>(screen.height()));
    Create();
    form1->FormShow();  // placing without a platform that might clamp
    EXPECT_EQ(form1->pos(), QPoint(0, 100));  // pulled back onto the screen
    form2.reset();
    form1.reset();

    // Near the bottom: shown whole, and still whole with a panel open.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    WriteRecord(Home() + "wl.ini", static_cast<int16_t>(area.right() - 100), static_cast<int16_t>(area.bottom() - 100));
    Create();
    form1->show();
    EXPECT_TRUE(area.contains(form1->frameGeometry())) << form1->x() << "," << form1->y();
    form1->Image14Click();
    ASSERT_EQ(form1->height(), 366);
    EXPECT_TRUE(area.contains(form1->frameGeometry())) << form1->x() << "," << form1->y();
    EXPECT_EQ(form1->frameGeometry().bottom(), area.bottom());

    // The screen's free area changes (a dock appears, the scaling changes):
    // the window is pulled back onto it.
    form1->move(area.right() - 100, area.bottom() - 50);
    ASSERT_FALSE(area.contains(form1->frameGeometry()));
    ASSERT_NE(form1->screen(), nullptr);
    emit form1->screen()->availableGeometryChanged(area);
    EXPECT_TRUE(area.contains(form1->frameGeometry())) << form1->x() << "," << form1->y();
}

TEST_F(FrameWindow, HousekeepingTickCountsAndCopiesThePosition) {
    Create();
    form1->Timer4->stop();
    form1->move(44, 55);
    form1->Timer4Timer();
    EXPECT_EQ(form1->Settings.WindowLeft, 44);
    EXPECT_EQ(form1->Settings.WindowTop, 55);
    EXPECT_EQ(form1->StartupTicks, 1);
    EXPECT_EQ(form1->IdleSeconds, 1);
    for (int i = 0; i < 30; ++i) form1->Timer4Timer();
    EXPECT_EQ(form1->StartupTicks, 20);
    EXPECT_EQ(form1->IdleSeconds, 31);
    // The window position reaches the file with the next save.
    form1->SaveSettings();
    QFile file(Home() + "wl.ini");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().mid(23, 4).toHex(), "2c003700");
}

TEST_F(FrameWindow, ScreensaverComesAt130IdleSecondsOnlyWhenAllowed) {
    Create();
    form1->Timer4->stop();
    form1->show();
    form1->activateWindow();
    QApplication::setActiveWindow(form1.get());
    ASSERT_TRUE(form1->isActiveWindow());
    form1->IdleSeconds = 128;
    form1->Timer4Timer();
    EXPECT_FALSE(form2->isVisible());
    form1->Settings.Screensaver = 0;
    form1->Timer4Timer();
    EXPECT_FALSE(form2->isVisible());
    form1->Settings.Screensaver = 1;
    form1->Timer4Timer();
    EXPECT_TRUE(form2->isVisible());
    form2->hide();
}

TEST_F(FrameWindow, SpacePausesAndResumesThroughTheInputFilter) {
    QTemporaryDir music;
    const QString path = WriteSilentMp3(music.path());
    ASSERT_FALSE(path.isEmpty());
    Create();
    PlayAlone(path);
    ASSERT_EQ(PlayerStatus(), mpsPlaying);
    form1->IdleSeconds = 50;

    // Panel1 takes no keys: the press also travels on to the window, and
    // must still count once.
    SendKey(form1->Panel1, Qt::Key_Space);
    EXPECT_EQ(PlayerStatus(), mpsPaused);
    EXPECT_EQ(form1->IdleSeconds, 2);
    SendKey(form1->Panel1, Qt::Key_Space);
    EXPECT_EQ(PlayerStatus(), mpsPlaying);
    // Also with the playlist panel open, and at the window itself.
    form1->Image17Click();
    SendKey(form1.get(), Qt::Key_Space);
    EXPECT_EQ(PlayerStatus(), mpsPaused);
    SendKey(form1.get(), Qt::Key_Space);
    EXPECT_EQ(PlayerStatus(), mpsPlaying);

    // Stop: the player stops and advancing ends; Pause then does nothing.
    ASSERT_TRUE(Ctl().AutoAdvance());
    form1->Image10Click();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(PlayerStatus(), mpsStopped);
    EXPECT_FALSE(Ctl().AutoAdvance());
    SendKey(form1->Panel1, Qt::Key_Space);
    EXPECT_EQ(PlayerStatus(), mpsStopped);
}

TEST_F(FrameWindow, ArrowsMoveTheVolumeBarUnlessThePlaylistShows) {
    ASSERT_NO_FATAL_FAILURE(CreateWithBars());
    form1->ExTrackBar1->SetPosition(30);
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.Volume(); }), 70);
    EXPECT_EQ(form1->StatusText, "Volume 70");
    SendKey(form1->Panel1, Qt::Key_Up);
    EXPECT_EQ(form1->ExTrackBar1->Position(), 20);
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.Volume(); }), 80);
    SendKey(form1->Panel1, Qt::Key_Down);
    SendKey(form1->Panel1, Qt::Key_Down);
    EXPECT_EQ(form1->ExTrackBar1->Position(), 40);
    EXPECT_EQ(form1->StatusText, "Volume 60");
    form1->Image17Click();
    SendKey(form1->Panel1, Qt::Key_Up);
    EXPECT_EQ(form1->ExTrackBar1->Position(), 40);
    form1->Image17Click();
    SendKey(form1->Panel1, Qt::Key_Up);
    EXPECT_EQ(form1->ExTrackBar1->Position(), 30);
}

TEST_F(FrameWindow, KeysInOtherWindowsRunNoShortcut) {
    ASSERT_NO_FATAL_FAILURE(CreateWithBars());
    form1->ExTrackBar1->SetPosition(50);
    QWidget dialog;
    form1->IdleSeconds = 40;
    SendKey(&dialog, Qt::Key_Up);
    EXPECT_EQ(form1->ExTrackBar1->Position(), 50);
    EXPECT_EQ(form1->IdleSeconds, 2);  // but it is input all the same
}

TEST_F(FrameWindow, InputMarksTheUserAsPresent) {
    Create();
    const QPoint g = form1->mapToGlobal(QPoint(40, 40));
    form1->IdleSeconds = 90;
    SendMouse(form1->Panel1, QEvent::MouseMove, QPoint(20, 20), g, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(form1->IdleSeconds, 2);
    form1->IdleSeconds = 90;
    SendMouse(form1->Panel1, QEvent::MouseButtonPress, QPoint(20, 20), g, Qt::BackButton, Qt::BackButton);
    EXPECT_EQ(form1->IdleSeconds, 90);  // only the left, right and middle buttons count
    SendMouse(form1->Panel1, QEvent::MouseButtonPress, QPoint(20, 20), g, Qt::RightButton, Qt::RightButton);
    EXPECT_EQ(form1->IdleSeconds, 2);
    form1->IdleSeconds = 90;
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(form1.get(), &activate);
    EXPECT_EQ(form1->IdleSeconds, 2);
    form1->IdleSeconds = 90;
    QEvent paint(QEvent::UpdateRequest);
    QApplication::sendEvent(form1.get(), &paint);
    EXPECT_EQ(form1->IdleSeconds, 90);
}

TEST_F(FrameWindow, BalanceBarTruncatesTowardZero) {
    ASSERT_NO_FATAL_FAILURE(CreateWithBars());
    form1->ExTrackBar2->SetPosition(-37);
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.VolBalance(); }), -67);
    EXPECT_EQ(form1->StatusText, "Balance -37");
    form1->ExTrackBar2->SetPosition(50);
    EXPECT_EQ(OnPlayer([](TMP3Player& p) { return p.VolBalance(); }), 91);
    EXPECT_EQ(form1->StatusText, "Balance 50");
}

TEST_F(FrameWindow, DraggingTheBackgroundMovesTheWindow) {
    Create();
    form1->show();
    form1->move(100, 100);
    QApplication::processEvents();
    const QPoint start = form1->pos();
    TImage* skin = form1->Image2;
    const QPoint g = form1->mapToGlobal(QPoint(10, 10));
    SendMouse(skin, QEvent::MouseButtonPress, QPoint(10, 10), g, Qt::LeftButton, Qt::LeftButton);
    SendMouse(skin, QEvent::MouseMove, QPoint(30, 25), g + QPoint(20, 15), Qt::NoButton, Qt::LeftButton);
    SendMouse(skin, QEvent::MouseMove, QPoint(35, 20), g + QPoint(25, 10), Qt::NoButton, Qt::LeftButton);
    SendMouse(skin, QEvent::MouseButtonRelease, QPoint(35, 20), g + QPoint(25, 10), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(form1->pos(), start + QPoint(25, 10));
    // After the release the pointer moves alone.
    SendMouse(skin, QEvent::MouseMove, QPoint(60, 60), g + QPoint(50, 50), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(form1->pos(), start + QPoint(25, 10));

    // A press at x = 0 starts no drag (the lower skin this time).
    const QPoint moved = form1->pos();
    const QPoint g0 = form1->mapToGlobal(QPoint(0, 200));
    SendMouse(form1->Image8, QEvent::MouseButtonPress, QPoint(0, 17), g0, Qt::LeftButton, Qt::LeftButton);
    SendMouse(form1->Image8, QEvent::MouseMove, QPoint(20, 37), g0 + QPoint(20, 20), Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(form1->pos(), moved);
}

TEST_F(FrameWindow, CloseButtonStopsClosesAndSaves) {
    QTemporaryDir music;
    const QString path = WriteSilentMp3(music.path());
    Create();
    PlayAlone(path);
    form1->Image9Click();
    ASSERT_EQ(PlayerStatus(), mpsPaused);
    form1->move(12, 34);
    form1->Timer4Timer();
    QFile::remove(Home() + "wl.ini");
    form1->SpeedButton1Click();
    EXPECT_EQ(PlayerStatus(), mpsStopped);
    EXPECT_FALSE(form1->Timer1->isActive());
    EXPECT_FALSE(form1->Timer4->isActive());
    QFile file(Home() + "wl.ini");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().mid(23, 4).toHex(), "0c002200");
}

TEST_F(FrameWindow, WindowDestructionStopsWithoutSaving) {
    QTemporaryDir music;
    const QString path = WriteSilentMp3(music.path());
    Create();
    PlayAlone(path);
    QFile::remove(Home() + "wl.ini");
    form2.reset();
    form1.reset();
    EXPECT_FALSE(QFile::exists(Home() + "wl.ini"));
}

// A first start with one playlist argument: its relative entries name files
// beside it, and the current folder stays. Relative file arguments are taken
// against the current folder.
TEST_F(FrameWindow, FirstStartWithAPlaylistReadsItsEntriesBesideIt) {
    QTemporaryDir lists;
    QFile playlist(lists.path() + "/party.M3U");
    ASSERT_TRUE(playlist.open(QIODevice::WriteOnly));
    playlist.write("a.mp3\n");
    playlist.close();
    const QString here = QDir::currentPath();
    Create({playlist.fileName()});
    form1->show();
    ASSERT_TRUE(Loaded());
    EXPECT_EQ(QDir::currentPath(), here);
    EXPECT_EQ(form1->Playlist.Paths(), QStringList{lists.path() + "/a.mp3"});

    form2.reset();
    form1.reset();
    Create({"rel/b.mp3"});
    form1->show();
    EXPECT_EQ(form1->Playlist.Paths(), QStringList{here + "/rel/b.mp3"});
}

}  // namespace wl::test
