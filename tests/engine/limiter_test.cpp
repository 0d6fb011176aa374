// The output stage's gain and look-ahead limiter on its own.
#include "engine/limiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace wl {
namespace {

// Runs `in` (stereo) through the limiter in chunks of random length, each
// frame at gain(frame); returns every frame that came out, the delay line
// drained at the end.
template <class Gain>
std::vector<int16_t> RunThrough(TLimiter& limiter, const std::vector<int16_t>& in, Gain gain, uint32_t seed = 1) {
    std::mt19937 rng(seed);
    std::vector<int16_t> out;
    for (size_t frame = 0; frame < in.size() / 2;) {
        const size_t n = std::min<size_t>(1 + rng() % 700, in.size() / 2 - frame);
        const double g = gain(frame);
        // Same gain for the whole chunk, as the output stage applies it.
        size_t same = 1;
        while (same < n && gain(frame + same) == g) ++same;
        std::vector<int16_t> chunk(2 * (same + static_cast<size_t>(limiter.MaxDelay())));
        std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(2 * frame), 2 * same, chunk.begin());
        const int32_t got = limiter.Process(chunk.data(), static_cast<int32_t>(same), g);
        out.insert(out.end(), chunk.begin(), chunk.begin() + 2 * got);
        frame += same;
    }
    std::vector<int16_t> rest(2 * static_cast<size_t>(limiter.MaxDelay()));
    const int32_t got = limiter.Drain(rest.data());
    out.insert(out.end(), rest.begin(), rest.begin() + 2 * got);
    return out;
}

std::vector<int16_t> Sine(size_t frames, double amplitude, double hz = 440) {
    std::vector<int16_t> pcm(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2 * 3.14159265358979323846 * hz * double(i) / 44100);
        pcm[2 * i] = static_cast<int16_t>(std::lrint(v));
        pcm[2 * i + 1] = static_cast<int16_t>(std::lrint(-0.7 * v));
    }
    return pcm;
}

TEST(LimiterTest, AtOneOrBelowItOnlyScalesWithoutDelay) {
    TLimiter limiter;
    std::mt19937 rng(5);
    std::vector<int16_t> pcm(2000);
    for (auto& v : pcm) v = static_cast<int16_t>(rng());
    pcm[0] = 32767;
    pcm[1] = -32768;
    std::vector<int16_t> copy = pcm;
    EXPECT_EQ(limiter.Process(copy.data(), 1000, 1.0), 1000);
    EXPECT_EQ(copy, pcm) << "unity is the identity";
    std::vector<int16_t> half = {1001, -1001, 3, -3, -32768, 32767};
    limiter.Reset();  // else the new gain glides in
    EXPECT_EQ(limiter.Process(half.data(), 3, 0.5), 3);
    EXPECT_EQ(half, (std::vector<int16_t>{500, -500, 2, -2, -16384, 16384})) << "rounded to nearest, ties to even";
    EXPECT_EQ(limiter.Delayed(), 0);
}

// A boost switched on and off in mid-stream: every frame comes out once, in
// order, never above the ceiling nor louder than the gain (gliding) times the
// input, with steps no larger than those of the tone at the ceiling; after
// the boost has died away the input passes unchanged and undelayed again.
TEST(LimiterTest, ABoostSwitchedOnAndOffLosesNothingAndDoesNotClick) {
    TLimiter limiter;
    const std::vector<int16_t> in = Sine(44100 * 5 / 2, 16000);
    const size_t on = 13230, off = 44100;  // 0.3 s, 1 s
    const size_t glide = 44100 * TLimiter::kGlideMs / 1000;
    const auto gain = [&](size_t frame) { return frame >= on && frame < off ? 4.0 : 1.0; };
    const std::vector<int16_t> out = RunThrough(limiter, in, gain);
    ASSERT_EQ(out.size(), in.size());
    EXPECT_EQ(limiter.Delayed(), 0);
    EXPECT_TRUE(limiter.Idle());
    int32_t inStep = 0, outStep = 0;
    for (size_t i = 2; i < in.size(); ++i) {
        inStep = std::max(inStep, std::abs(in[i] - in[i - 2]));
        outStep = std::max(outStep, std::abs(out[i] - out[i - 2]));
    }
    // Held at the ceiling, the boosted tone is about twice as loud as the input.
    EXPECT_LE(outStep, 5 * inStep / 2) << "a click";
    for (size_t i = 0; i < in.size(); ++i) {
        const double y = (i / 2 >= on && i / 2 < off + glide ? 4.0 : 1.0) * in[i];
        ASSERT_LE(std::abs(out[i]), TLimiter::kCeiling) << i;
        ASSERT_LE(std::abs(out[i]), std::fabs(y) + 0.5) << i;
        ASSERT_TRUE(out[i] == 0 || (out[i] > 0) == (y > 0)) << "out of step at " << i;
    }
    EXPECT_TRUE(std::equal(in.begin(), in.begin() + 2 * on, out.begin())) << "changed before the boost";
    const size_t released = off + 44100;
    EXPECT_TRUE(std::equal(in.begin() + 2 * released, in.end(), out.begin() + 2 * released))
        << "still changed 1 s after the boost";

    // Limited, the level sits at the ceiling, not far below it.
    int32_t peak = 0;
    for (size_t i = 2 * (on + 4410); i < 2 * off; ++i) peak = std::max(peak, std::abs(int32_t{out[i]}));
    EXPECT_GT(peak, TLimiter::kCeiling * 0.98);
}

// A burst after a quiet stretch: the gain comes down over the look-ahead
// before it, in steps too small to hear, and the burst stays below the
// ceiling from its first sample on.
TEST(LimiterTest, ABurstIsMetByASmoothAttack) {
    TLimiter limiter;
    std::vector<int16_t> in = Sine(8820, 1000);
    const std::vector<int16_t> burst = Sine(4410, 16000);
    in.insert(in.end(), burst.begin(), burst.end());
    const std::vector<int16_t> out = RunThrough(limiter, in, [](size_t) { return 4.0; });
    ASSERT_EQ(out.size(), in.size());
    // The attack lies in the last 10 ms before the burst.
    int32_t quietStep = 0, attackStep = 0;
    for (size_t i = 2; i < 2 * 8820; ++i) {
        int32_t& worst = i < 2 * (8820 - 441) ? quietStep : attackStep;
        worst = std::max(worst, std::abs(out[i] - out[i - 2]));
    }
    EXPECT_LE(attackStep, quietStep + 20) << "the gain jumps before the burst";
    for (size_t i = 2 * 8820; i < out.size(); ++i) ASSERT_LE(std::abs(out[i]), TLimiter::kCeiling) << i;
}

TEST(LimiterTest, DrainLetsTheDelayOutAndResetDropsIt) {
    TLimiter limiter;
    limiter.Configure(48000, 1);
    EXPECT_EQ(limiter.MaxDelay(), 48000 * TLimiter::kLookAheadMs / 1000 - 1);
    std::vector<int16_t> pcm(1000 + static_cast<size_t>(limiter.MaxDelay()), 20000);
    EXPECT_EQ(limiter.Process(pcm.data(), 1000, 2.0), 1000 - limiter.MaxDelay());
    EXPECT_EQ(limiter.Delayed(), limiter.MaxDelay());
    EXPECT_EQ(limiter.Drain(pcm.data()), limiter.MaxDelay());
    EXPECT_EQ(limiter.Delayed(), 0);
    // The level stays held through the drain.
    EXPECT_NEAR(pcm[static_cast<size_t>(limiter.MaxDelay()) - 1], TLimiter::kCeiling, 1);

    EXPECT_EQ(limiter.Process(pcm.data(), 500, 2.0), 500 - limiter.MaxDelay());
    limiter.Reset();
    EXPECT_EQ(limiter.Delayed(), 0);
    std::vector<int16_t> plain = {1, 2, 3};
    EXPECT_EQ(limiter.Process(plain.data(), 3, 1.0), 3);
    EXPECT_EQ(plain, (std::vector<int16_t>{1, 2, 3})) << "nothing left of the reduction";
}

}  // namespace
}  // namespace wl
