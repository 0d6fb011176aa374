// The tools on a real station (icecast2 fed by ezstream): wl-decode records
// a stream for the seconds asked, naming the station and each title on
// stderr; wl-play plays one, printing each title as it is heard, lives
// through the server's restart and stops on Ctrl-C.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>

#include <string>

#include "tests/engine/icecast_server.h"
#include "tests/test_support.h"
#include "tests/tools/child_process.h"

namespace wl::test {
namespace {

std::string Tool(const char* name) {
    const std::string decode = DecodeBinary();
    return decode.substr(0, decode.rfind('/') + 1) + name;
}

std::string LogOf(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(RadioTools, DecodeRecordsTheSecondsAskedWithTheStationAndItsTitles) {
    REQUIRE_ICECAST();
    TIcecastServer server;
    ASSERT_TRUE(server.Start({})) << server.Error();
    TempDir dir;
    const std::string wav = dir.File("rec.wav");
    const CommandResult r =
        RunCommand(ShellQuote(Tool("wl-decode")) + " --seconds 5 " + ShellQuote(server.MountUrl()) + " " + ShellQuote(wav) + " 2>&1");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("station: Wavelantern Test Radio"), std::string::npos) << r.output;
    // 3 s tracks: at least two titles in 5 s.
    EXPECT_GE(Count(r.output, "] Artist "), 2) << r.output;
    const std::vector<uint8_t> bytes = ReadFileBytes(wav);
    ASSERT_GT(bytes.size(), 44u);
    const double seconds = static_cast<double>(bytes.size() - 44) / (44100.0 * 4);
    EXPECT_NEAR(seconds, 5.0, 0.05);
}

TEST(RadioTools, PlayPrintsTitlesAsHeardLivesThroughARestartAndStopsOnCtrlC) {
    REQUIRE_ICECAST();
    TIcecastServer server;
    ASSERT_TRUE(server.Start({})) << server.Error();
    TempDir dir;
    const std::string log = dir.File("log");
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    Child play({Tool("wl-play"), "--output", "null", server.MountUrl()}, devNull, log);
    ::close(devNull);
    ASSERT_GT(play.pid(), 0);
    const auto says = [&](const std::string& text, int times = 1) { return Count(LogOf(log), text) >= times; };
    ASSERT_TRUE(WaitFor(20, [&] { return says("now: Artist ", 2); })) << LogOf(log);
    EXPECT_TRUE(says("station: Wavelantern Test Radio")) << LogOf(log);
    const int before = Count(LogOf(log), "now: Artist ");
    server.StopServer();
    ASSERT_TRUE(WaitFor(20, [&] { return says("buffering"); })) << LogOf(log);
    ASSERT_TRUE(server.StartServerAgain()) << server.Error();
    // Titles come again: the sound went on.
    ASSERT_TRUE(WaitFor(30, [&] { return Count(LogOf(log), "now: Artist ") > before; })) << LogOf(log);
    EXPECT_TRUE(play.Running());
    ::kill(play.pid(), SIGINT);
    EXPECT_EQ(play.Wait(10), 130) << LogOf(log);
}

}  // namespace
}  // namespace wl::test
