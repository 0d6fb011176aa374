// Layer III hybrid synthesis against the textbook formulas, and the stereo stage.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/decoder_state.h"
#include "tests/stream_builder.h"

namespace wl {
namespace {

const double kPi = 4.0 * std::atan(1.0);

// The standard's windows by block type (0 normal, 1 start, 2 short, 3 stop).
double Window(int type, int i) {
    auto s36 = [](double x) { return std::sin(kPi * x / 36.0); };
    auto s12 = [](double x) { return std::sin(kPi * x / 12.0); };
    switch (type) {
        case 1:
            return i < 18 ? s36(i + 0.5) : i < 24 ? 1.0 : i < 30 ? s12(i - 18 + 0.5) : 0.0;
        case 3:
            return i < 6 ? 0.0 : i < 12 ? s12(i - 6 + 0.5) : i < 18 ? 1.0 : s36(i + 0.5);
        default:
            return s36(i + 0.5);
    }
}

// Windowed 36 outputs of one long subband.
void LongReference(const float* X, int type, double* out36) {
    for (int i = 0; i < 36; ++i) {
        double x = 0;
        for (int m = 0; m < 18; ++m) x += X[m] * std::cos(kPi / 72 * (2 * i + 19) * (2 * m + 1));
        out36[i] = Window(type, i) * x;
    }
}

// Three windowed short transforms placed at 6, 12 and 18 of a 36-value frame.
void ShortReference(const float* X, double* out36) {
    for (int i = 0; i < 36; ++i) out36[i] = 0;
    for (int w = 0; w < 3; ++w) {
        for (int i = 0; i < 12; ++i) {
            double x = 0;
            for (int m = 0; m < 6; ++m)
                x += X[3 * m + w] * std::cos(kPi / 24 * (2 * i + 7) * (2 * m + 1));
            out36[6 + 6 * w + i] += std::sin(kPi * (i + 0.5) / 12) * x;
        }
    }
}

struct HybridFixture : ::testing::Test {
    void SetUp() override {
        auto frame = test::SilentFrameMpeg1(3, 0, 0);
        TMPEGFrameHeader h{};
        const int32_t len = ParseFrameHeader(frame.data(), 0, h);
        ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, kOutputFullBand, 24000));
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
        for (auto& v : lines) v = dist(rng);
        for (auto& v : previous) v = dist(rng);
    }
    std::unique_ptr<DecoderState, void (*)(DecoderState*)> d = NewDecoder();
    float lines[576];
    float previous[576];
    float output[576];
};

TEST_F(HybridFixture, LongAndShortBlocksMatchTheFormulas) {
    for (int type : {0, 1, 2, 3}) {
        float work[576];
        std::memcpy(work, lines, sizeof work);
        const int32_t longEnd = type == 2 ? 0 : 576;
        const int32_t produced =
            HybridPortable(*d, work, previous, output, type, longEnd, 576, 576);
        ASSERT_EQ(produced, 576);
        for (int k = 0; k < 32; ++k) {
            double ref[36];
            if (type == 2)
                ShortReference(lines + 18 * k, ref);
            else
                LongReference(lines + 18 * k, type, ref);
            for (int t = 0; t < 18; ++t) {
                ASSERT_NEAR(output[32 * t + k], previous[18 * k + t] + ref[t], 0.05)
                    << "type " << type << " subband " << k << " slot " << t;
                ASSERT_NEAR(work[18 * k + t], ref[18 + t], 0.05)
                    << "overlap, type " << type << " subband " << k << " slot " << t;
            }
        }
    }
}

TEST_F(HybridFixture, MixedBlocksTransformTheLongPartWithTheNormalWindow) {
    float work[576];
    std::memcpy(work, lines, sizeof work);
    // Mixed short block: two long subbands (36 lines), the rest short.
    HybridPortable(*d, work, previous, output, 2 | kHybridMixed, d->mixedLongEnd, 576, 576);
    for (int k = 0; k < 4; ++k) {
        double ref[36];
        if (k < 2)
            LongReference(lines + 18 * k, 0, ref);
        else
            ShortReference(lines + 18 * k, ref);
        for (int t = 0; t < 18; ++t)
            ASSERT_NEAR(output[32 * t + k], previous[18 * k + t] + ref[t], 0.05) << k << " " << t;
    }
    // A start block with the mixed flag: normal window below the mixed end.
    std::memcpy(work, lines, sizeof work);
    HybridPortable(*d, work, previous, output, 1 | kHybridMixed, 576, 576, 576);
    double ref0[36], ref2[36];
    LongReference(lines, 0, ref0);
    LongReference(lines + 36, 1, ref2);
    for (int t = 0; t < 18; ++t) {
        ASSERT_NEAR(output[32 * t], previous[t] + ref0[t], 0.05);
        ASSERT_NEAR(output[32 * t + 2], previous[36 + t] + ref2[t], 0.05);
    }
}

TEST_F(HybridFixture, OverlapOnlySubbandsAndZeroFill) {
    float work[576] = {};
    std::fill(output, output + 576, 99.0f);
    // No lines this granule, 558 lines of overlap from the previous one.
    const int32_t produced = HybridPortable(*d, work, previous, output, 0, 0, 0, 558);
    EXPECT_EQ(produced, 558);
    for (int k = 0; k < 32; ++k)
        for (int t = 0; t < 18; ++t)
            ASSERT_EQ(output[32 * t + k], k < 31 ? previous[18 * k + t] : 0.0f) << k << " " << t;
}

TEST(FrequencyInversion, NegatesOddSlotsOfOddSubbands) {
    float out[576];
    for (int i = 0; i < 576; ++i) out[i] = static_cast<float>(i + 1);
    FrequencyInversion(out, 36 * 3);  // subbands 0..5
    for (int t = 0; t < 18; ++t) {
        for (int k = 0; k < 32; ++k) {
            const float v = static_cast<float>(32 * t + k + 1);
            const bool negated = (k & 1) && (t & 1) && k < 6;
            ASSERT_EQ(out[32 * t + k], negated ? -v : v) << k << " " << t;
        }
    }
}

TEST(AliasReduction, ButterfliesAroundEachBoundary) {
    auto d = NewDecoder();
    auto frame = test::SilentFrameMpeg1(3, 0, 0);
    TMPEGFrameHeader h{};
    const int32_t len = ParseFrameHeader(frame.data(), 0, h);
    ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, 0, 24000));
    const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    float lines[576];
    for (int i = 0; i < 576; ++i) lines[i] = static_cast<float>((i * 37) % 101 - 50);
    float before[576];
    std::memcpy(before, lines, sizeof lines);
    AliasReducePortable(lines, 2, d->aliasCsCa);
    for (int b = 1; b <= 2; ++b) {
        for (int j = 0; j < 8; ++j) {
            const double cs = 1 / std::sqrt(1 + c[j] * c[j]), ca = c[j] / std::sqrt(1 + c[j] * c[j]);
            const double u = before[18 * b - 1 - j], dn = before[18 * b + j];
            EXPECT_NEAR(lines[18 * b - 1 - j], u * cs - dn * ca, 1e-3);
            EXPECT_NEAR(lines[18 * b + j], dn * cs + u * ca, 1e-3);
        }
    }
    // Nothing beyond the second boundary moved.
    for (int i = 18 * 2 + 8; i < 576; ++i) ASSERT_EQ(lines[i], before[i]);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(lines[i], before[i]);
}

// The stereo stage on hand-made granules of a joint-stereo MPEG-1 set-up.
struct StereoFixture : ::testing::Test {
    void SetUp() override {
        auto frame = test::SilentFrameMpeg1(1, 0, 0);
        TMPEGFrameHeader h{};
        const int32_t len = ParseFrameHeader(frame.data(), 0, h);
        ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, kOutputFullBand, 24000));
        d->frameChannels = 2;
        for (int ch = 0; ch < 2; ++ch) {
            d->gr[0][ch] = GranuleInfo{};
            d->summary[0][ch] = BandSummary{};
            d->summary[0][ch].firstShortBand = 12;
            d->summary[0][ch].longBandsProcessed = 22;
        }
    }
    void Joint(int ms, int is) {
        d->modeExtension = (ms << 1) | is;
        d->msStereo = ms;
        d->intensityStereo = is;
    }
    std::unique_ptr<DecoderState, void (*)(DecoderState*)> d = NewDecoder();
};

TEST_F(StereoFixture, MidSideWithSilentSideGivesEqualChannels) {
    Joint(1, 0);
    float* L = d->lines[0][0];
    float* R = d->lines[1][0];
    for (int i = 0; i < 100; ++i) L[i] = static_cast<float>(i % 7 - 3);
    d->lineCount[0][0] = 100;
    d->lineCount[0][1] = 0;
    ProcessStereoAndAlias(*d, 0);
    // Alias reduction touched both alike; the channels stay equal.
    for (int i = 0; i < 576; ++i) ASSERT_EQ(L[i], R[i]) << i;
    // Both counts take the larger one; five boundaries lie below line 100.
    EXPECT_EQ(d->lineCount[0][0], 100);
    EXPECT_EQ(d->lineCount[0][1], 100);
}

TEST_F(StereoFixture, IntensityPositionsSplitTheLeftSignal) {
    Joint(0, 1);
    float* L = d->lines[0][0];
    float* R = d->lines[1][0];
    // Right channel non-zero up to band 2 (lines 8..11); intensity from band 3.
    for (int i = 0; i < 576; ++i) L[i] = 1.0f;
    R[9] = 0.5f;
    d->summary[0][1].lastNonZeroBand = 2;
    d->summary[0][1].anyNonZero = 1;
    d->summary[0][0].lastNonZeroBand = 21;
    d->summary[0][0].anyNonZero = 1;
    d->lineCount[0][0] = 576;
    d->lineCount[0][1] = 12;
    d->sf[0][1].l[3] = 0;   // all to the right
    d->sf[0][1].l[4] = 6;   // (nearly) all to the left
    d->sf[0][1].l[5] = 3;   // middle
    d->sf[0][1].l[6] = 7;   // illegal: left unchanged, right silent
    d->summary[0][0].longBandsProcessed = 0;  // no alias reduction for this check
    d->summary[0][1].longBandsProcessed = 0;
    ProcessStereoAndAlias(*d, 0);
    EXPECT_EQ(R[9], 0.5f);
    EXPECT_FLOAT_EQ(L[12], 0.0f);
    EXPECT_FLOAT_EQ(R[12], 1.0f);
    EXPECT_NEAR(L[16], 1.0f, 1e-6);
    EXPECT_NEAR(R[16], 0.0f, 1e-6);
    EXPECT_NEAR(L[20], 0.5f, 1e-6);
    EXPECT_NEAR(R[20], 0.5f, 1e-6);
    EXPECT_EQ(L[24], 1.0f);
    EXPECT_EQ(R[24], 0.0f);
    EXPECT_EQ(d->lineCount[0][1], 576);
}

TEST_F(StereoFixture, IntensityWithMidSideRestoresTheGain) {
    Joint(1, 1);
    float* L = d->lines[0][0];
    float* R = d->lines[1][0];
    for (int i = 0; i < 576; ++i) L[i] = 1.0f;
    d->summary[0][1].lastNonZeroBand = 0;
    d->summary[0][0].lastNonZeroBand = 21;
    d->lineCount[0][0] = 576;
    d->lineCount[0][1] = 0;
    d->sf[0][1].l[1] = 3;  // middle position, scaled by the square root of 2
    d->sf[0][1].l[2] = 7;  // illegal under mid/side: both carry the mid signal
    d->summary[0][0].longBandsProcessed = 0;
    d->summary[0][1].longBandsProcessed = 0;
    ProcessStereoAndAlias(*d, 0);
    EXPECT_NEAR(L[5], std::sqrt(2.0) / 2, 1e-6);
    EXPECT_NEAR(R[5], std::sqrt(2.0) / 2, 1e-6);
    EXPECT_EQ(L[9], 1.0f);
    EXPECT_EQ(R[9], 1.0f);
    // Band 0 (right all-zero) is mid/side-decoded only: right = left = mid.
    EXPECT_EQ(L[0], 1.0f);
    EXPECT_EQ(R[0], 1.0f);
}

}  // namespace
}  // namespace wl
