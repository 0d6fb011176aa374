// The areas of the main window working together: first show, playing from the
// command line with live meters, the hand-off picked up by the tick, and the
// transport row driving the playlist.
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QProcess>

#include "app/scramble.h"
#include "tests/app/app_fixture.h"
#include "tests/app/run_events.h"
#include "tests/engine/player_support.h"

namespace wl::test {

class AppIntegration : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        tone_ = QString::fromStdString(LameFile(dir_, "tone.mp3", 4.0, "-b 128"));
        tone2_ = QString::fromStdString(LameFile(dir_, "tone2.mp3", 4.0, "-b 128"));
        if (tone_.isEmpty() || tone2_.isEmpty()) GTEST_SKIP() << "lame is needed to make the test files";
    }
    TempDir dir_;
    QString tone_;
    QString tone2_;
};

TEST_F(AppIntegration, FirstShowWithNothingToPlayShowsTheBanner) {
    Create();
    form1->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form1->TitleText, StoredText(TStoredText::Banner));
    EXPECT_FALSE(form1->ScrollOn);
    EXPECT_EQ(Ctl().State(), TPlayState::Stopped);
    EXPECT_EQ(form1->EntryCount, 0);
}

TEST_F(AppIntegration, CommandLineFilePlaysWithRatesTimesAndMovingMeters) {
    Create({tone_});
    form1->show();
    ASSERT_TRUE(RunEventsUntil([&] { return Ctl().IsOpen() && Ctl().Playing(); }));
    EXPECT_EQ(form1->EntryCount, 1);
    EXPECT_EQ(form1->CurrentEntry, 1);
    EXPECT_EQ(form1->TitleText, "tone");
    EXPECT_EQ(form1->Label6->text(), "128Kbps, 44Khz");
    EXPECT_EQ(form1->Label8->text(), "00:04");
    EXPECT_EQ(form1->Label2->text(), "1 - 1");
    // The meters read the sound output: a tone lights them within a moment.
    EXPECT_TRUE(RunEventsUntil([&] { return form1->LevelL > 0 && form1->LevelR > 0; }, 3000))
        << "levels " << form1->LevelL << ", " << form1->LevelR;
    // The position event moves the time display.
    EXPECT_TRUE(RunEventsUntil([&] { return form1->Label7->text() != "00:00"; }, 3000));
}

TEST_F(AppIntegration, HandOffListIsPickedUpByTheTickAndPlayed) {
    Create();
    form1->show();
    QCoreApplication::processEvents();
    QFile list(Home() + "list.txt");
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write((tone_ + "\n" + tone2_ + "\n").toUtf8());
    list.close();
    form1->Timer4Timer();
    EXPECT_FALSE(QFile::exists(Home() + "list.txt"));
    EXPECT_EQ(form1->EntryCount, 2);
    EXPECT_EQ(form1->CurrentEntry, 1);
    EXPECT_TRUE(RunEventsUntil([&] { return Ctl().IsOpen() && Ctl().Playing(); }));
    EXPECT_EQ(PlayerFile(), tone_);
}

TEST_F(AppIntegration, TransportRowDrivesPlayerAndPlaylist) {
    Create({tone_, tone2_});
    form1->show();
    ASSERT_TRUE(Settle());
    ASSERT_EQ(PlayerStatus(), mpsPlaying);
    form1->Image9Click();
    EXPECT_EQ(form1->ShownState, TStatePicture::Pause);
    EXPECT_EQ(PlayerStatus(), mpsPaused);
    form1->Image9Click();
    EXPECT_EQ(PlayerStatus(), mpsPlaying);
    form1->PlayNext();
    EXPECT_EQ(form1->ShownState, TStatePicture::Next);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(form1->CurrentEntry, 2);
    EXPECT_EQ(form1->ShownState, TStatePicture::Play);
    EXPECT_EQ(PlayerFile(), tone2_);
    form1->Image10Click();
    EXPECT_EQ(form1->ShownState, TStatePicture::Stop);
    EXPECT_EQ(PlayerStatus(), mpsStopped);
    EXPECT_FALSE(Ctl().AutoAdvance());
    // Stopped by the user: nothing starts another entry.
    RunEvents(300);
    EXPECT_EQ(PlayerStatus(), mpsStopped);
    form1->PlayPrevious();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(form1->CurrentEntry, 1);
    EXPECT_EQ(PlayerStatus(), mpsPlaying);
}

// The program says on stderr, as in its status line, which entry it could not
// play and why, and plays on.
TEST_F(AppIntegration, ProgramTellsOnStderrWhatItCannotPlay) {
    QProcess program;
    program.setProgram(QStringLiteral(WL_APP_BIN));
    program.setArguments({QString::fromStdString(dir_.File("03 - Night.mp3")), tone_});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WAVELANTERN_HOME", Home());  // an instance of its own
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("WAVELANTERN_AUDIO", "null");
    program.setProcessEnvironment(env);
    program.start();
    ASSERT_TRUE(program.waitForStarted(10000));
    QByteArray err;
    const bool told = RunEventsUntil(
        [&] {
            err += program.readAllStandardError();
            return err.contains("wavelantern: Cannot play 1. 03 - Night: file not found\n");
        },
        15000);
    program.terminate();
    program.waitForFinished(10000);
    EXPECT_TRUE(told) << err.toStdString();
}

}  // namespace wl::test
