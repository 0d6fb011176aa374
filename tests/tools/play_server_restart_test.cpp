// wl-play on a private sound server that is killed and started again under
// it, once while it plays and once while wl-play itself is suspended (Ctrl-Z):
// it lives on, tells what happened, plays on where the sound stopped and
// ends the file normally, its length plus the time without sound later.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/engine/player_support.h"
#include "tests/engine/pulse_server.h"
#include "tests/test_support.h"
#include "tests/tools/child_process.h"

namespace wl::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string PlayTool() {
    const std::string decode = DecodeBinary();
    return decode.substr(0, decode.rfind('/')) + "/wl-play";
}

std::string LogOf(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

class PlayServerRestart : public ::testing::TestWithParam<bool> {};

TEST_P(PlayServerRestart, PlaysOnWhereTheSoundStopped) {
    const bool suspended = GetParam();
    REQUIRE_PULSE_SERVER(server);
    TempDir dir;
    const double length = 6.0;
    const std::string file = LameFile(dir, "music.mp3", length, "-b 128");
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    const std::string log = dir.File("log");
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    Child play({PlayTool(), "--output", "pulse", file}, devNull, log);
    ::close(devNull);
    ASSERT_GT(play.pid(), 0);
    auto says = [&](const std::string& text) { return LogOf(log).find(text) != std::string::npos; };
    ASSERT_TRUE(WaitFor(10, [&] { return says("length:"); })) << LogOf(log);
    const auto start = Clock::now();
    std::this_thread::sleep_for(1500ms);

    Clock::time_point silent;
    if (suspended) {
        ::kill(play.pid(), SIGSTOP);
        silent = Clock::now();
        // The server plays out what it holds and is restarted meanwhile.
        std::this_thread::sleep_for(1000ms);
        server.Kill(SIGKILL);
        ASSERT_TRUE(server.Start()) << server.error();
        ::kill(play.pid(), SIGCONT);
    } else {
        server.Kill(SIGKILL);
        silent = Clock::now();
        ASSERT_TRUE(WaitFor(5, [&] { return says("reconnecting"); })) << LogOf(log);
        std::this_thread::sleep_for(500ms);
        ASSERT_TRUE(server.Start()) << server.error();
    }
    const auto up = Clock::now();
    ASSERT_TRUE(WaitFor(10, [&] { return says("sound server back"); })) << LogOf(log);
    const auto back = Clock::now();
    EXPECT_LT(Seconds(back - up), 2.0) << "sound came back late";
    ASSERT_EQ(play.Wait(20), 0) << LogOf(log);
    const auto end = Clock::now();
    const std::string text = LogOf(log);
    EXPECT_NE(text.find("Sound server lost"), std::string::npos) << text;
    EXPECT_EQ(text.find("ended by an error"), std::string::npos) << text;
    // Not skipped, not begun again: the file's length plus the time without
    // sound, and not much more. (A suspended player cannot tell when its
    // server went away. The test server's null sink, freshly started,
    // renders up to 2 s ahead before it takes a stream's latency, which
    // delays the end by as much; the engine's tests hold the position to
    // 100 ms.)
    if (!suspended) {
        const double least = length + Seconds(back - silent) - 0.5;
        EXPECT_GE(Seconds(end - start), least) << text;
        EXPECT_LE(Seconds(end - start), least + 3.0) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(WhilePlayingAndSuspended, PlayServerRestart, ::testing::Values(false, true));

}  // namespace
}  // namespace wl::test
