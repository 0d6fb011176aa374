// The player through the PulseAudio device of a private sound server: a
// 3-second file plays to its end in real time; a Stop after a pause and a
// resume returns at once.
#include <gtest/gtest.h>

#include <chrono>

#include "engine/mp3_player.h"
#include "tests/engine/player_support.h"
#include "tests/engine/pulse_server.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(PlayerPulseTest, AThreeSecondFilePlaysToItsEndInRealTime) {
    REQUIRE_PULSE_SERVER(server);
    test::TempDir dir;
    // 115 frames of 1152 samples at 44100 Hz: 3.004 s.
    const std::string path = test::WriteBytes(dir, "three.mp3", test::BuildFrames(115, true));
    TMP3Player p("pulse");
    test::EventLog log;
    log.Attach(p);
    p.SetAutoPlay(false);
    p.SetChangePosStep(200);
    p.SetFileName(path);
    EXPECT_EQ(p.Length(), 115 * test::kFrameBytes * 8 * 1000 / 128000);

    const auto start = Clock::now();
    ASSERT_NO_THROW(p.Play()) << server.LogText();
    // Position samples while it plays: (wall ms, position ms).
    std::vector<std::pair<int64_t, int64_t>> samples;
    const bool ended = test::PumpUntil(
        p,
        [&] {
            const int64_t wall = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            if (log.ends.empty()) samples.emplace_back(wall, p.Position());
            return !log.ends.empty();
        },
        20s);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    ASSERT_TRUE(ended) << server.LogText();
    ASSERT_EQ(log.ends.size(), 1u);
    EXPECT_EQ(log.ends[0], mepEndOfStream);
    EXPECT_EQ(p.Status(), mpsStopped);
    EXPECT_GE(elapsed, 2500) << "played in real time, not faster";
    EXPECT_GT(log.positionChanges, 3);

    // The position moved on with the clock: at about 1.5 s of wall time it
    // was well past the start and not ahead of the wall clock.
    int64_t midWall = 0, midPos = -1;
    for (auto [wall, pos] : samples) {
        if (wall >= 1500) {
            midWall = wall;
            midPos = pos;
            break;
        }
    }
    ASSERT_GE(midPos, 0);
    EXPECT_GT(midPos, 500);
    EXPECT_LE(midPos, midWall + 100);
    for (size_t i = 1; i < samples.size(); ++i) ASSERT_GE(samples[i].second, samples[i - 1].second);
}

// Stop waits for no sound that is not heard. A null sink left idle has
// rendered up to 2 s of silence ahead, and a stream that comes then is not
// played until that has run out: its Seek, Pause, Resume and Stop all come
// before the server has begun to play it. (Stop once waited about a second
// here for its faded tail, queued behind what the server held.)
TEST(PlayerPulseTest, AStopAfterPauseAndResumeReturnsAtOnce) {
    REQUIRE_PULSE_SERVER(server);
    test::TempDir dir;
    const std::string path = test::WriteBytes(dir, "ten.mp3", test::BuildFrames(400, true));
    TMP3Player p("pulse");
    p.SetAutoPlay(false);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        p.SetFileName(path);
        ASSERT_NO_THROW(p.Play()) << server.LogText();
        test::PumpFor(p, 600ms);
        p.Seek(5000);
        test::PumpFor(p, 300ms);
        p.Pause();
        p.Resume();
        test::PumpFor(p, 300ms);
        const auto start = Clock::now();
        p.Stop();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_LT(took, 500) << "Stop took " << took << " ms";
        p.Close();
    }
}

}  // namespace
}  // namespace wl
