// What the listener hears from the player on a private sound server
// (tests/pulse_server.h), recorded from the null sink's monitor: how soon an
// equalizer change and a seek are heard, and that seeks, pauses and resumes
// neither click nor overshoot the file's peak.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/frame_walk.h"
#include "engine/mp3_player.h"
#include "engine/player_decode.h"
#include "tests/engine/player_support.h"
#include "tests/engine/pulse_listen.h"
#include "tests/engine/pulse_server.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::MonitorRecorder;

constexpr size_t kWindow = 441;  // 10 ms

// A 440 Hz tone, `loud` for the first half and `quiet` for the second (the
// phase runs on), encoded at 192 kbit/s. Empty without lame.
std::string ToneFile(const test::TempDir& dir, double seconds, double loud, double quiet) {
    if (!test::OnPath("lame")) return {};
    const size_t frames = static_cast<size_t>(seconds * 44100);
    std::vector<int16_t> pcm(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double a = i < frames / 2 ? loud : quiet;
        const double v = a * std::sin(2 * 3.14159265358979323846 * 440.0 * static_cast<double>(i) / 44100);
        pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(std::lrint(v));
    }
    const std::string wav = dir.File("tone.wav"), mp3 = dir.File("tone.mp3");
    if (!test::WriteWav(wav, pcm, 2, 44100)) return {};
    const test::CommandResult r =
        test::RunCommand("lame --quiet -b 192 " + test::ShellQuote(wav) + " " + test::ShellQuote(mp3) + " 2>&1");
    return r.exitCode == 0 ? mp3 : std::string();
}

// The file as the player decodes it.
std::vector<int16_t> Decoded(const std::string& file) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(file);
    TMemoryStream stream(bytes);
    std::vector<uint8_t> pcm;
    DecodeAsPlayer(stream, nullptr, [&](const uint8_t* p, int32_t n) {
        pcm.insert(pcm.end(), p, p + n);
        return true;
    });
    return test::BytesToPcm16(pcm);
}

// The first frame from `from` on after which the 10 ms level stays within
// [low, high] for `hold`; npos when it never does.
size_t Settles(const std::vector<int16_t>& s, size_t from, double low, double high, size_t hold) {
    const size_t frames = s.size() / 2;
    for (size_t f = from; f + hold <= frames; f += kWindow / 4) {
        bool steady = true;
        for (size_t w = f; w + kWindow <= f + hold && steady; w += kWindow / 4) {
            const double level = test::Rms(s, w, kWindow);
            steady = level >= low && level <= high;
        }
        if (steady) return f;
    }
    return std::string::npos;
}

// 10 ms windows in [first, last) whose level falls below `floor`.
int Dropouts(const std::vector<int16_t>& s, size_t first, size_t last, double floor) {
    int n = 0;
    for (size_t w = first; w + kWindow <= last; w += kWindow)
        if (test::Rms(s, w, kWindow) < floor) ++n;
    return n;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

TEST(PulseListenTest, AnEqualizerChangeIsHeardWithinAQuarterSecondWithABusyCore) {
    REQUIRE_PULSE_SERVER(server);
    test::TempDir dir;
    const std::string file = ToneFile(dir, 6.0, 9000, 9000);
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    MonitorRecorder rec;
    ASSERT_TRUE(rec.ok());
    test::CpuHog hog;
    ASSERT_TRUE(hog.ok());

    TMP3Player p("pulse");
    p.SetAutoPlay(false);
    p.SetEqualizerMode(memFreq);
    p.SetEqualizerCount(10);
    p.SetEqualizerFrequencies(60, 16000);
    p.SetEqualizerEnabled(true);
    p.SetFileName(file);
    ASSERT_NO_THROW(p.Play()) << server.LogText();
    ASSERT_TRUE(rec.WaitForData(5000ms));
    const auto started = Clock::now();
    test::PumpFor(p, 1500ms);
    // -12 dB on every band: the level falls to a quarter.
    const auto click = Clock::now();
    for (int b = 0; b < 10; ++b) p.SetEqualizerValue(b, -60);
    p.Messages().ProcessMessages();
    test::PumpFor(p, 1200ms);
    p.Stop();
    rec.Stop();
    // The decoder's tables outlive the player.
    p.SetEqualizerEnabled(false);
    p.Messages().ProcessMessages();

    const std::vector<int16_t> s = rec.Samples();
    const size_t at = rec.FrameAt(click);
    const double before = test::Rms(s, at - 44100 / 2, 44100 / 3);
    ASSERT_GT(before, 3000) << "the tone was not heard";
    const size_t settled = Settles(s, at, before / 4 * 0.8, before / 4 * 1.25, 44100 / 4);
    if (settled == std::string::npos) {
        std::string levels;
        for (size_t w = at; w + kWindow <= std::min(s.size() / 2, at + 44100); w += kWindow)
            levels += std::to_string(static_cast<int>(test::Rms(s, w, kWindow))) + " ";
        FAIL() << "the new level (" << before / 4 << ") was never heard; 10 ms levels after the change: " << levels;
    }
    const double latency = Ms(rec.TimeOf(settled) - click);
    std::printf("equalizer change heard after %.0f ms\n", latency);
    EXPECT_LE(latency, 250);
    // Smooth before and after the change, busy core or not.
    EXPECT_EQ(Dropouts(s, rec.FrameAt(started), at, before / 2), 0);
    EXPECT_EQ(Dropouts(s, settled, rec.FrameAt(click + 1100ms), before / 8), 0);
}

TEST(PulseListenTest, SeekPauseAndResumeAreHeardAtOnceWithoutClicksOrOvershoot) {
    REQUIRE_PULSE_SERVER(server);
    test::TempDir dir;
    const std::string file = ToneFile(dir, 6.0, 12000, 3000);
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    MonitorRecorder rec;
    ASSERT_TRUE(rec.ok());

    TMP3Player p("pulse");
    p.SetAutoPlay(false);
    p.SetFileName(file);
    // Decoded once the open has set the decoder's equalizer as the player has it.
    const std::vector<int16_t> ref = Decoded(file);
    const size_t refFrames = ref.size() / 2;
    const int32_t filePeak = test::Peak(ref, 0, refFrames);
    // Leave out the encoder's start and end.
    const int32_t musicJump = test::MaxJump(ref, 4410, refFrames - 4410);
    ASSERT_NO_THROW(p.Play()) << server.LogText();
    ASSERT_TRUE(rec.WaitForData(5000ms));
    test::PumpFor(p, 800ms);
    const auto paused = Clock::now();
    p.Pause();
    test::PumpFor(p, 400ms);
    const auto resumed = Clock::now();
    p.Resume();
    test::PumpFor(p, 600ms);
    const auto click = Clock::now();
    p.Seek(4500);
    test::PumpFor(p, 800ms);
    const auto stopped = Clock::now();
    p.Stop();
    test::PumpFor(p, 300ms);
    rec.Stop();

    const std::vector<int16_t> s = rec.Samples();
    const size_t end = s.size() / 2;
    const double loud = test::Rms(s, rec.FrameAt(click) - 44100 / 3, 44100 / 4);
    ASSERT_GT(loud, 6000) << "the tone was not heard";
    const size_t settled = Settles(s, rec.FrameAt(click), loud / 4 * 0.8, loud / 4 * 1.25, 44100 / 5);
    ASSERT_NE(settled, std::string::npos) << "the new position was never heard";
    const double seekLatency = Ms(rec.TimeOf(settled) - click);
    const double pauseQuiet =
        test::Rms(s, rec.FrameAt(paused + 150ms), rec.FrameAt(resumed - 100ms) - rec.FrameAt(paused + 150ms));
    const int32_t peak = test::Peak(s, 0, end);
    // The resume is left out: the stream restarts after running dry, and
    // the server's rewind then drops the first milliseconds from the monitor
    // (not from the sink); the fade-in at a resume is checked on the WAV
    // device instead.
    const int32_t jump = std::max(test::MaxJump(s, 0, rec.FrameAt(resumed - 100ms)),
                                  test::MaxJump(s, rec.FrameAt(resumed + 300ms), end));
    std::printf("seek heard after %.0f ms; peak %d (file %d); largest step %d (music %d); paused level %.0f\n",
                seekLatency, peak, filePeak, jump, musicJump, pauseQuiet);
    EXPECT_LE(seekLatency, 150);
    EXPECT_LE(peak, filePeak + filePeak / 50) << "louder than anything in the file";
    EXPECT_LE(jump, musicJump + musicJump / 5) << "a click at a pause, a resume, a seek or the stop";
    EXPECT_LT(pauseQuiet, 30) << "the pause was not silent";
    // The stop fades out too: nothing is heard a little after it.
    EXPECT_LT(test::Rms(s, rec.FrameAt(stopped + 150ms), 4410), 30);
}

}  // namespace
}  // namespace wl
