// What the display says after an entry starts, fails or runs out: the status
// line's errors, the state picture, the times and the seek bar.
#include <QFontMetrics>
#include <QLabel>
#include <QTimer>

#include <stdexcept>
#include <thread>

#include "app/image_widget.h"
#include "app/scramble.h"
#include "controls/al_progress_bar.h"
#include "engine/threads.h"
#include "tests/app/playlist_support.h"
#include "tests/app/run_events.h"

namespace wl::test {

using DisplayState = PlaylistFixture;

TEST_F(DisplayState, RefusedEntryShowsNeitherPlayNorTheTimesBeforeIt) {
    QTemporaryDir dir;
    const QString real = dir.path() + "/real.mp3";
    const QString junk = dir.path() + "/junk.mp3";
    const QString next = dir.path() + "/next.mp3";
    ASSERT_TRUE(WriteSilentMp3(real, 400'000));
    ASSERT_TRUE(WriteText(junk, QByteArray(5000, 'x')));
    ASSERT_TRUE(WriteSilentMp3(next, 400'000));
    Add({real, next, junk});
    form1->Timer3->stop();  // the clock ticks below are counted by hand

    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(Settle());
    ASSERT_EQ(mpsPlaying, PlayerStatus());
    EXPECT_EQ(TStatePicture::Play, form1->ShownState);
    const QString length = form1->Label8->text();
    EXPECT_NE("00:00", length);
    form1->ShowPosition(12000, Ctl().LengthMs());
    EXPECT_GT(form1->ALProgressBar1->Position(), 0);

    form1->CurrentEntry = 3;  // the last: nothing follows it
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_NE(mpsPlaying, PlayerStatus());
    EXPECT_EQ(TStatePicture::Stop, form1->ShownState);
    EXPECT_EQ("00:00", form1->Label8->text());
    EXPECT_EQ("00:00", form1->Label7->text());
    EXPECT_EQ(0, form1->ALProgressBar1->Position());
    const QString error = form1->StatusText;
    EXPECT_FALSE(error.isEmpty());
    EXPECT_NE(StoredText(TStoredText::DefaultStatus), error);

    // Another entry plays; the error stays readable for a while, then goes.
    form1->CurrentEntry = 2;
    form1->playfile();
    ASSERT_TRUE(Settle());
    ASSERT_EQ(mpsPlaying, PlayerStatus());
    EXPECT_EQ(TStatePicture::Play, form1->ShownState);
    EXPECT_EQ(length, form1->Label8->text());
    form1->ClockSource = [](int& h, int& m, int& s) { h = 12, m = 0, s = 0; };
    for (int tick = 0; tick < TForm1::kErrorHoldTicks; ++tick) form1->Timer3Timer();
    EXPECT_EQ(error, form1->StatusText);
    form1->Timer3Timer();
    EXPECT_EQ(StoredText(TStoredText::DefaultStatus), form1->StatusText);

    // Text set since then is not an error and waits the usual idle time.
    form1->SetStatus("Volume 80");
    for (int tick = 0; tick < 20; ++tick) form1->Timer3Timer();
    EXPECT_EQ("Volume 80", form1->StatusText);
}

TEST_F(DisplayState, EndOfTheListShowsEndNotPlay) {
    QTemporaryDir dir;
    const QString a = dir.path() + "/a.mp3";
    ASSERT_TRUE(WriteSilentMp3(a, 417 * 200));  // about five seconds, half a second here
    Add({a});
    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(TStatePicture::Play, form1->ShownState);
    ASSERT_TRUE(RunEventsUntil([&] { return Ctl().State() == TPlayState::Stopped; }, 5000));
    EXPECT_EQ(mpsStopped, PlayerStatus());
    EXPECT_EQ(TStatePicture::End, form1->ShownState);

    // A stop by the user keeps its own picture.
    form1->playfile();
    ASSERT_TRUE(Settle());
    form1->Image10Click();
    RunEvents(100);
    EXPECT_EQ(TStatePicture::Stop, form1->ShownState);
}

TEST_F(DisplayState, LongErrorIsCutAtAWordWithinTheStatusLine) {
    const QString text =
        "cannot write /tmp/out.wav: No space left on device while writing the next buffer(TSoundOut.WaveWrite)";
    form1->ShowError(text);
    EXPECT_EQ(text, form1->StatusText);  // kept whole
    const QString shown = form1->Label10->text();
    const QFontMetrics metrics = form1->Label10->fontMetrics();
    ASSERT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(shown), form1->Label10->contentsRect().width());
    // It ends before the state picture starts.
    EXPECT_LE(form1->Label10->geometry().right(), form1->Image20->geometry().left());
    const QString head = shown.chopped(1);
    EXPECT_TRUE(text.startsWith(head + " ") || text.startsWith(head + ": ")) << shown.toStdString();
    EXPECT_EQ(text, form1->Label10->toolTip()) << "the whole text is on the line's tooltip";

    // Short texts show whole; a single long word is cut where it must be.
    form1->SetStatus("Volume 80");
    EXPECT_EQ("Volume 80", form1->Label10->text());
    EXPECT_TRUE(form1->Label10->toolTip().isEmpty());
    const QString word(60, QLatin1Char('w'));
    EXPECT_EQ(metrics.elidedText(word, Qt::ElideRight, 100), TForm1::ElideAtWord(word, metrics, 100));
}

TEST_F(DisplayState, OutputFailureWhilePlayingShowsAndMovesOn) {
    QTemporaryDir dir;
    const QString a = dir.path() + "/a.mp3";
    const QString b = dir.path() + "/b.mp3";
    ASSERT_TRUE(WriteSilentMp3(a, 400'000));
    ASSERT_TRUE(WriteSilentMp3(b, 400'000));
    Add({a, b});
    // A device whose writes fail once its file buffer is full.
    Ctl().SetOutputDevice("wav:/dev/full");
    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(Settle());
    ASSERT_TRUE(RunEventsUntil([&] { return form1->StatusText.contains("No space left on device"); }, 5000))
        << form1->StatusText.toStdString();
    // The list moves on as at the entry's end (to an entry that fails the same way).
    ASSERT_TRUE(RunEventsUntil([&] { return form1->CurrentEntry == 2 && Ctl().State() == TPlayState::Stopped; }, 5000));
    EXPECT_EQ(mpsStopped, PlayerStatus());
}

TEST_F(DisplayState, ErrorsReportedOnOtherThreadsReachTheStatusLine) {
    std::thread worker([] { ShowException(std::runtime_error("read error on the stream ")); });
    worker.join();
    ASSERT_TRUE(RunEventsUntil([&] { return form1->StatusText == "read error on the stream"; }, 2000));
}

}  // namespace wl::test
