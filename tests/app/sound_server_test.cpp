// The window on a private sound server that goes away under it: killed and
// started again while playing, paused and stopped, and its only sink
// unloaded. The app lives on, says so in the status line, and plays on from
// where the sound stopped once the server is back.
#include <signal.h>

#include <QComboBox>
#include <QLabel>
#include <QDateTime>

#include "tests/app/app_fixture.h"
#include "tests/app/run_events.h"
#include "tests/engine/player_support.h"
#include "tests/engine/pulse_server.h"

namespace wl::test {

namespace {

const QString kLost = QStringLiteral("Sound server lost \u2014 reconnecting\u2026");
const QString kBack = QStringLiteral("Sound server back");

class SoundServerApp : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        music_ = QString::fromStdString(LameFile(dir_, "music.mp3", 30.0, "-b 128"));
        if (music_.isEmpty()) GTEST_SKIP() << "lame is needed to make the test file";
    }
    // The position heard now (asked of the player, not its last report).
    int64_t Position() const { return OnPlayer([](TMP3Player& p) { return p.Position(); }); }
    // Runs events until the status line says `text`; how long it took (ms), or -1.
    qint64 WaitForStatus(const QString& text, int ms = 10000) {
        const qint64 start = QDateTime::currentMSecsSinceEpoch();
        if (!RunEventsUntil([&] { return form1->StatusText == text; }, ms)) return -1;
        return QDateTime::currentMSecsSinceEpoch() - start;
    }
    bool PlaysOnFrom(int64_t from) {
        return RunEventsUntil([&] { return Position() >= from + 500; }, 5000);
    }

    TempDir dir_;
    QString music_;
};

TEST_F(SoundServerApp, ServerRestartsAndALostSinkAreSurvived) {
    if (!OnPath("pulseaudio") || !OnPath("pactl")) GTEST_SKIP() << "pulseaudio and pactl are needed";
    PulseServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ScopedEnv pulse("PULSE_SERVER", server.Address());
    ScopedEnv audio("WAVELANTERN_AUDIO", "pulse");
    Create();
    PlayAlone(music_);
    ASSERT_TRUE(RunEventsUntil([&] { return Position() >= 1000; }, 10000));

    // Killed while playing.
    const int64_t before = Position();
    server.Kill(SIGKILL);
    ASSERT_GE(WaitForStatus(kLost), 0) << form1->StatusText.toStdString();
    EXPECT_EQ(form1->Label10->toolTip(), kLost) << "the narrow line shows the rest on hovering";
    const int64_t frozen = Position();
    EXPECT_NEAR(frozen, before, 100) << "the clock did not stop where the sound stopped";
    // The news stays while the server is away, also when the status line's
    // idle time has run out (the idle text would follow).
    form1->StatusIdle = 49;
    RunEvents(600);
    EXPECT_EQ(form1->StatusText, kLost);
    EXPECT_EQ(Position(), frozen) << "the clock ran on without a server";
    EXPECT_EQ(Ctl().State(), TPlayState::Playing);
    ASSERT_TRUE(server.Start()) << server.error();
    const qint64 back = WaitForStatus(kBack);
    ASSERT_GE(back, 0) << form1->StatusText.toStdString();
    EXPECT_LT(back, 2000) << "sound came back late";
    EXPECT_NEAR(Position(), frozen, 100) << "did not play on from where the sound stopped";
    ASSERT_TRUE(PlaysOnFrom(frozen));

    // Killed while paused: stays paused, plays on at Play.
    Ctl().Pause();
    ASSERT_TRUE(RunEventsUntil([&] { return PlayerStatus() == mpsPaused; }));
    server.Kill(SIGTERM);
    ASSERT_GE(WaitForStatus(kLost), 0);
    ASSERT_TRUE(server.Start());
    ASSERT_GE(WaitForStatus(kBack), 0);
    const int64_t paused = Position();
    RunEvents(500);
    EXPECT_EQ(PlayerStatus(), mpsPaused);
    EXPECT_LE(Position(), paused + 50) << "played while paused";
    Ctl().Play();
    ASSERT_TRUE(PlaysOnFrom(paused));

    // The only sink unloaded: the output waits until a sink comes.
    server.Pactl("unload-module module-null-sink");
    ASSERT_GE(WaitForStatus(kLost), 0) << form1->StatusText.toStdString();
    const int64_t sinkless = Position();
    ASSERT_FALSE(server.Pactl("load-module module-null-sink sink_name=another").empty());
    ASSERT_GE(WaitForStatus(kBack), 0);
    ASSERT_TRUE(PlaysOnFrom(sinkless));

    // Killed while stopped: the next Play opens on the server found then.
    Ctl().Stop();
    ASSERT_TRUE(Settle());
    server.Kill(SIGKILL);
    ASSERT_TRUE(server.Start());
    Ctl().PlayEntry(1);
    ASSERT_TRUE(Settle());
    ASSERT_TRUE(Ctl().IsOpen()) << form1->StatusText.toStdString();
    ASSERT_TRUE(PlaysOnFrom(0));
}

// The options panel lists the server's sinks; the one chosen is stored and
// played on; a stored sink that is gone at the next start gives way to the
// default one, and the status line says so.
TEST_F(SoundServerApp, OutputChoiceListsSinksAndFallsBackWhenOneIsGone) {
    if (!OnPath("pulseaudio") || !OnPath("pactl")) GTEST_SKIP() << "pulseaudio and pactl are needed";
    PulseServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    ScopedEnv pulse("PULSE_SERVER", server.Address());
    ScopedEnv audio("WAVELANTERN_AUDIO", "pulse");
    const std::string module = server.Pactl("load-module module-null-sink sink_name=second");
    ASSERT_FALSE(module.empty());
    Create();
    form1->Image14Click();
    ASSERT_TRUE(RunEventsUntil([&] { return form1->ComboBox3->count() == 3; }, 10000));
    EXPECT_EQ(form1->ComboBox3->itemText(0), QStringLiteral("Default"));
    const int second = form1->ComboBox3->findData(QStringLiteral("second"));
    ASSERT_EQ(second, 2);
    EXPECT_FALSE(form1->ComboBox3->itemText(second).isEmpty());
    form1->ComboBox3->setCurrentIndex(second);
    form1->Button1Click();
    EXPECT_TRUE(ReadAll(Home() + "wavelantern.conf").contains("Device=second\n"));
    PlayAlone(music_);
    ASSERT_TRUE(RunEventsUntil([&] { return Position() >= 300; }, 10000));
    EXPECT_NE(server.Pactl("list short sink-inputs").find("\t1\t"), std::string::npos)
        << "not on the chosen sink: " << server.Pactl("list short sink-inputs");
    Ctl().Stop();
    ASSERT_TRUE(Settle());
    form2.reset();
    form1.reset();

    // The next start without that sink.
    server.Pactl("unload-module " + module.substr(0, module.find('\n')));
    Create();
    ASSERT_GE(WaitForStatus(QStringLiteral("Output \"second\" is not there: playing on the default output")), 0)
        << form1->StatusText.toStdString();
    EXPECT_EQ(form1->Extra.OutputDevice, QStringLiteral("second")) << "the choice is kept for when it comes back";
    PlayAlone(music_);
    EXPECT_TRUE(RunEventsUntil([&] { return Position() >= 300; }, 10000)) << form1->StatusText.toStdString();
}

}  // namespace

}  // namespace wl::test
