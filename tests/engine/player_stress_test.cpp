// 2000 random operations on several files with the output sped up: no hang,
// no crash, and the status always agrees with what the player was told.
#include <gtest/gtest.h>

#include <random>

#include "engine/mp3_player.h"
#include "tests/engine/player_support.h"

namespace wl {
namespace {

using namespace std::chrono_literals;

TEST(PlayerStressTest, TwoThousandRandomOperations) {
    test::TempDir dir;
    std::vector<std::string> files;
    files.push_back(test::WriteBytes(dir, "a.mp3", test::BuildFrames(150, true, 1)));
    {
        std::vector<uint8_t> b = test::VbrFrame("Xing", 36, {{4, 1}, {8, 81}});
        const auto frames = test::BuildFrames(40, true, 2);
        const auto junk = test::Garbage(2000);
        b.insert(b.end(), frames.begin(), frames.end());
        b.insert(b.end(), junk.begin(), junk.end());
        b.insert(b.end(), frames.begin(), frames.end());
        b.erase(b.end() - 100, b.end());  // truncated last frame
        files.push_back(test::WriteBytes(dir, "b.mp3", b));
    }
    {
        std::mt19937 rng(5);
        std::vector<uint8_t> c;
        for (int i = 0; i < 120; ++i) {
            const auto f = test::RandomFrameLsf(rng, 3, false);
            c.insert(c.end(), f.begin(), f.end());
        }
        files.push_back(test::WriteBytes(dir, "c.mp3", c));
    }
    files.push_back(test::WriteBytes(dir, "not-audio.mp3", test::Garbage(3000)));
    files.push_back(dir.File("missing.mp3"));

    std::mt19937 rng(20261208);
    int ends = 0;
    int plays = 0;
    {
        test::Watchdog dog(240s, "the random operations");
        TMP3Player p(test::NullFactory(30));
        p.OnEndPlay = [&](TMP3Player*, TMP3EndPlayReason) { ++ends; };
        p.SetAutoPlay(false);
        TMP3PlayerStatus expected = mpsStopped;
        for (int i = 0; i < 2000; ++i) {
            const int op = static_cast<int>(rng() % 20);
            const int endsBefore = ends;
            try {
                switch (op) {
                    case 0:
                    case 1: {
                        const std::string& f = files[rng() % files.size()];
                        p.SetFileName(f);  // AutoOpen; raises before closing when f is missing
                        expected = mpsStopped;
                        break;
                    }
                    case 2:
                    case 3:
                    case 4:
                        if (p.IsOpen() && p.Status() == mpsStopped) {
                            p.Play();
                            ++plays;
                            expected = mpsPlaying;
                        } else {
                            p.Play();
                        }
                        break;
                    case 5:
                        if (p.Status() == mpsPlaying) expected = mpsPaused;
                        p.Pause();
                        break;
                    case 6:
                        if (p.Status() == mpsPaused) expected = mpsPlaying;
                        p.Resume();
                        break;
                    case 7:
                    case 8:
                        p.Seek(static_cast<int64_t>(rng() % 8000) - 100);
                        break;
                    case 9:
                        p.Stop();
                        expected = mpsStopped;
                        break;
                    case 10:
                        p.Close();
                        expected = mpsStopped;
                        break;
                    case 11:
                        p.SetVolume(static_cast<int32_t>(rng() % 120));
                        p.SetVolBalance(static_cast<int32_t>(rng() % 240) - 120);
                        break;
                    case 12:
                        p.SetEqualizerValue(static_cast<int32_t>(rng() % 34) - 1,
                                            static_cast<int32_t>(rng() % 220) - 110);
                        p.SetEqualizerEnabled(rng() % 2 == 0);
                        break;
                    case 13:
                        p.SetEqualizerMode(rng() % 2 ? memFreq : memSubBand);
                        p.SetEqualizerCount(static_cast<int32_t>(rng() % 42));
                        p.SetEqualizerFrequencies(static_cast<int32_t>(rng() % 200) + 1, 16000);
                        break;
                    case 14:
                        p.SetNoisySeek(rng() % 2 == 0);
                        p.SetInvertPolarity(rng() % 2 == 0);
                        p.SetChangePosStep(static_cast<int32_t>(rng() % 600));
                        break;
                    case 15:
                        (void)p.Position();
                        (void)p.Length();
                        break;
                    case 16:
                        p.SetDecodePriority(static_cast<TThreadPriority>(rng() % 7));
                        p.SetUsingCpuCapabilities(TMP3CpuCapabilities::FromBits(static_cast<uint8_t>(rng())));
                        break;
                    default:
                        test::PumpFor(p, std::chrono::milliseconds(rng() % 30));
                        break;
                }
            } catch (const EMP3Error& e) {
                // A file that is not there leaves the open one as it was; one
                // that is not audio leaves the player closed.
                const bool missing = std::string(e.what()).find("cannot open") == 0;
                if (!missing) {
                    EXPECT_FALSE(p.IsOpen()) << e.what();
                }
                if (!p.IsOpen()) expected = mpsStopped;
            }
            p.Messages().ProcessMessages();
            // The end of a stream stops the player by itself, and says so.
            if (expected != mpsStopped && p.Status() == mpsStopped) {
                ASSERT_GT(ends, endsBefore) << "stopped without an OnEndPlay, operation " << i;
                expected = mpsStopped;
            }
            ASSERT_EQ(int{p.Status()}, int{expected}) << "operation " << i << " (" << op << ")";
            if (!p.IsOpen()) {
                ASSERT_EQ(int{p.Status()}, int{mpsStopped});
            }
        }
        p.Stop();
        p.Close();
        p.SetInvertPolarity(false);  // the decoder's switch outlives the player
        test::PumpFor(p, 50ms);
        EXPECT_FALSE(p.IsOpen());
        EXPECT_EQ(p.Status(), mpsStopped);
    }
    EXPECT_GT(plays, 30);
    EXPECT_LE(ends, plays) << "never more ends than starts";
    EXPECT_GT(ends, 0);
}

}  // namespace
}  // namespace wl
