#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "decoder/synthesis.h"
#include "decoder/tables.h"

namespace wl {
namespace {

const double kPi = std::acos(-1.0);

double D(int i) { return tables::kSynthWindowK[i] / 65536.0; }

// The filterbank as the standard describes it, in double precision: a
// 64-value matrixing vector per slot, a 1024-value history, windowing of the
// 512 values picked from it and 16 partial sums per output sample.
class ReferenceSynth {
public:
    ReferenceSynth() {
        for (int i = 0; i < 64; ++i)
            for (int k = 0; k < 32; ++k) n_[i][k] = std::cos((16 + i) * (2 * k + 1) * kPi / 64.0);
    }

    void Block(const double* s, double* out) {
        std::memmove(v_ + 64, v_, sizeof(double) * 960);
        for (int i = 0; i < 64; ++i) {
            double sum = 0;
            for (int k = 0; k < 32; ++k) sum += n_[i][k] * s[k];
            v_[i] = sum;
        }
        double u[512];
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 32; ++j) {
                u[64 * i + j] = v_[128 * i + j];
                u[64 * i + 32 + j] = v_[128 * i + 96 + j];
            }
        for (int j = 0; j < 32; ++j) {
            double sum = 0;
            for (int i = 0; i < 16; ++i) sum += u[j + 32 * i] * D(j + 32 * i);
            out[j] = sum;
        }
    }

    void BlockF(const float* s, double* out) {
        double d[32];
        for (int k = 0; k < 32; ++k) d[k] = s[k];
        Block(d, out);
    }

private:
    double n_[64][32];
    double v_[1024] = {};
};

std::unique_ptr<SynthesisState> NewState() {
    auto s = std::make_unique<SynthesisState>();
    InitSynthesis(*s);
    return s;
}

std::vector<float> RandomSubbands(size_t n, float amplitude, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(n);
    for (float& x : v) x = dist(rng);
    return v;
}

// Agreement of our 16-bit output with the unrounded reference.
struct Agreement {
    size_t samples = 0;
    size_t exact = 0;
    double worst = 0;  // largest |ours - reference|
    double peak = 0;   // largest |reference|

    void Add(int16_t ours, double ref) {
        ++samples;
        const double r = std::nearbyint(ref);
        if (double(ours) == r) ++exact;
        worst = std::max(worst, std::fabs(double(ours) - ref));
        peak = std::max(peak, std::fabs(ref));
    }

    void Check(double minExactShare = 0.99) const {
        ASSERT_GT(samples, 0u);
        EXPECT_LT(peak, 32000.0) << "test data drives the output into the clamp";
        // Rounding alone leaves 0.5; arithmetic error may add a little, never a whole LSB.
        EXPECT_LE(worst, 0.55);
        EXPECT_GE(double(exact) / double(samples), minExactShare)
            << exact << " of " << samples << " exact";
    }
};

TEST(SynthesisFilterbank, Layer3MonoMatchesReference) {
    auto s = NewState();
    ReferenceSynth ref;
    const int granules = 60;
    const auto in = RandomSubbands(576 * granules, 1500.0f, 1);
    Agreement a;
    int16_t pcm[576];
    double out[32];
    for (int g = 0; g < granules; ++g) {
        const float* gin = in.data() + 576 * g;
        SynthL3Mono(*s, gin, pcm);
        for (int t = 0; t < 18; ++t) {
            ref.BlockF(gin + 32 * t, out);
            for (int j = 0; j < 32; ++j) a.Add(pcm[32 * t + j], out[j]);
        }
    }
    a.Check();
    // The ring position walks down by one block per slot.
    EXPECT_EQ(s->pos[0], ((0 - 32 * 18 * granules) % 512 + 512) % 512);
    EXPECT_EQ(s->pos[1], 0);
}

TEST(SynthesisFilterbank, ImpulseResponse) {
    auto s = NewState();
    ReferenceSynth ref;
    float in[576] = {};
    in[0] = 20000.0f;  // subband 0, first slot
    int16_t pcm[2 * 576];
    SynthL3Mono(*s, in, pcm);
    in[0] = 0.0f;
    SynthL3Mono(*s, in, pcm + 576);

    double out[32];
    double s0[32] = {20000.0};
    double zero[32] = {};
    Agreement a;
    double energy = 0;
    for (int t = 0; t < 36; ++t) {
        ref.Block(t == 0 ? s0 : zero, out);
        for (int j = 0; j < 32; ++j) {
            a.Add(pcm[32 * t + j], out[j]);
            if (t >= 16) {
                EXPECT_EQ(pcm[32 * t + j], 0) << "slot " << t << " sample " << j;
            }
            energy += double(pcm[32 * t + j]) * pcm[32 * t + j];
        }
    }
    a.Check();
    EXPECT_GT(energy, 1e6);  // the response is really there
}

TEST(SynthesisFilterbank, ZeroInputAfterResetIsSilent) {
    auto s = NewState();
    const auto noise = RandomSubbands(576 * 3, 3000.0f, 2);
    int16_t pcm[576];
    for (int g = 0; g < 3; ++g) SynthL3Mono(*s, noise.data() + 576 * g, pcm);
    ASSERT_NE(s->pos[0], 0);

    ResetSynthesisState(*s);
    EXPECT_EQ(s->pos[0], 0);
    EXPECT_EQ(s->pos[1], 0);
    const float zeros[576] = {};
    std::fill(std::begin(pcm), std::end(pcm), int16_t(1234));
    SynthL3Mono(*s, zeros, pcm);
    for (int i = 0; i < 576; ++i) ASSERT_EQ(pcm[i], 0) << i;

    // Without the reset the old history would still sound.
    auto t = NewState();
    for (int g = 0; g < 3; ++g) SynthL3Mono(*t, noise.data() + 576 * g, pcm);
    SynthL3Mono(*t, zeros, pcm);
    EXPECT_TRUE(std::any_of(std::begin(pcm), std::end(pcm), [](int16_t v) { return v != 0; }));
}

void DirectDct(const double* x, double* X) {
    for (int k = 0; k < 32; ++k) {
        double sum = 0;
        for (int j = 0; j < 32; ++j) sum += x[j] * std::cos((2 * j + 1) * k * kPi / 64.0);
        X[k] = sum;
    }
}

void ExpectClose(const float* got, const double* want) {
    double scale = 0;
    for (int k = 0; k < 32; ++k) scale = std::max(scale, std::fabs(want[k]));
    ASSERT_GT(scale, 0);
    for (int k = 0; k < 32; ++k) EXPECT_NEAR(got[k], want[k], 1e-4 * scale) << "k=" << k;
}

TEST(Dct32, AllFormsMatchDirectTransform) {
    auto s = NewState();
    for (uint32_t seed = 10; seed < 20; ++seed) {
        const auto in = RandomSubbands(64, 1000.0f, seed);
        const auto before = in;
        double x[32], X[32];
        float got[32];

        for (int k = 0; k < 32; ++k) x[k] = in[k];
        DirectDct(x, X);
        Dct32(*s, in.data(), got, DctForm::Contiguous);
        ExpectClose(got, X);

        for (int k = 0; k < 32; ++k) x[k] = in[2 * k];
        DirectDct(x, X);
        Dct32(*s, in.data(), got, DctForm::Interleaved);
        ExpectClose(got, X);

        for (int k = 0; k < 32; ++k) x[k] = in[2 * k + 1];
        DirectDct(x, X);
        Dct32(*s, in.data() + 1, got, DctForm::Interleaved);
        ExpectClose(got, X);

        for (int k = 0; k < 32; ++k) x[k] = (double(in[2 * k]) + in[2 * k + 1]) * 0.5;
        DirectDct(x, X);
        Dct32(*s, in.data(), got, DctForm::Mix);
        ExpectClose(got, X);

        EXPECT_EQ(in, before);
    }
}

TEST(Dct32, SingleBasisInputs) {
    // One input at a time exercises every butterfly factor on its own.
    auto s = NewState();
    for (int j = 0; j < 32; ++j) {
        float in[32] = {};
        in[j] = 1.0f;
        double x[32] = {}, X[32];
        x[j] = 1.0;
        DirectDct(x, X);
        float got[32];
        Dct32(*s, in, got, DctForm::Contiguous);
        SCOPED_TRACE(j);
        for (int k = 0; k < 32; ++k) EXPECT_NEAR(got[k], X[k], 2e-6);
    }
}

TEST(Dct32, EqualizerGains) {
    auto s = NewState();
    const auto in = RandomSubbands(64, 1000.0f, 30);
    const auto before = in;
    for (int k = 0; k < 32; ++k) s->subbandGain[k] = 0.25f + 0.05f * k;

    float off[32], on[32];
    double x[32], X[32];

    // Gains are set but the equalizer is off: no effect.
    Dct32(*s, in.data(), off, DctForm::Contiguous);
    for (int k = 0; k < 32; ++k) x[k] = in[k];
    DirectDct(x, X);
    ExpectClose(off, X);

    s->subbandEqEnabled = 1;
    Dct32(*s, in.data(), on, DctForm::Contiguous);
    for (int k = 0; k < 32; ++k) x[k] = double(in[k]) * s->subbandGain[k];
    DirectDct(x, X);
    ExpectClose(on, X);

    Dct32(*s, in.data() + 1, on, DctForm::Interleaved);
    for (int k = 0; k < 32; ++k) x[k] = double(in[2 * k + 1]) * s->subbandGain[k];
    DirectDct(x, X);
    ExpectClose(on, X);

    // The mono mix is never equalized.
    Dct32(*s, in.data(), on, DctForm::Mix);
    for (int k = 0; k < 32; ++k) x[k] = (double(in[2 * k]) + in[2 * k + 1]) * 0.5;
    DirectDct(x, X);
    ExpectClose(on, X);

    EXPECT_EQ(in, before);
}

// A window with a single unit tap turns the window stage into
// "round and clamp one ring value", so sums can be set exactly.
TEST(OutputRoutines, RoundingAndClamping) {
    SynthWindow window{};
    window.taps[0] = 1.0f;  // row 0, tap 0: sample 0 reads ring[pos + 16]
    alignas(64) float ring[512] = {};
    const int32_t pos = 64;

    struct Case {
        float in;
        int16_t out;
    } cases[] = {
        {32767.6f, 32767},  {32767.4f, 32767}, {32766.5f, 32766},  {32767.5f, 32767},
        {-32768.6f, -32768}, {-32768.4f, -32768}, {-32767.5f, -32768}, {1e6f, 32767},
        {-1e6f, -32768},     {2.5f, 2},          {3.5f, 4},          {-2.5f, -2},
        {-3.5f, -4},         {0.4999f, 0},       {-0.5001f, -1},     {100.5f, 100},
        {std::numeric_limits<float>::infinity(), 32767},
        {-std::numeric_limits<float>::infinity(), -32768},
    };
    for (const Case& c : cases) {
        ring[pos + 16] = c.in;
        int16_t mono[32];
        int16_t stereo[64];
        std::fill(std::begin(stereo), std::end(stereo), int16_t(777));
        OutputMonoPortable(ring, pos, mono, window);
        OutputStereoPortable(ring, pos, stereo, window);
        EXPECT_EQ(mono[0], c.out) << c.in;
        EXPECT_EQ(stereo[0], c.out) << c.in;
        for (int n = 1; n < 32; ++n) {
            EXPECT_EQ(mono[n], 0);
            EXPECT_EQ(stereo[2 * n], 0);
        }
        for (int n = 0; n < 32; ++n) EXPECT_EQ(stereo[2 * n + 1], 777) << "odd sample written";
    }

    // NaN must not reach the integer conversion.
    ring[pos + 16] = std::numeric_limits<float>::quiet_NaN();
    int16_t mono[32];
    OutputMonoPortable(ring, pos, mono, window);
    EXPECT_EQ(mono[0], 0);
}

TEST(OutputRoutines, SumsAreNotRoundedPerTerm) {
    // Two taps of 0.25 * 1.0 each: per-term rounding would give 0, the sum gives 1
    // (0.5 rounds to 0 under ties-to-even, so use 0.3 + 0.3).
    SynthWindow window{};
    window.taps[0] = 1.0f;
    window.taps[2] = 1.0f;  // row 0, tap 2: ring[pos + 16 + 64]
    alignas(64) float ring[512] = {};
    ring[16] = 0.3f;
    ring[16 + 64] = 0.3f;
    int16_t mono[32];
    OutputMonoPortable(ring, 0, mono, window);
    EXPECT_EQ(mono[0], 1);
}

TEST(SynthesisPolarity, NegatesOnceAndRestoresExactly) {
    auto s = NewState();
    float initial[kSynthWindowSize];
    std::memcpy(initial, s->window.taps, sizeof(initial));
    EXPECT_FALSE(s->polarityInverted);

    SetSynthesisPolarity(*s, true);
    SetSynthesisPolarity(*s, true);
    EXPECT_TRUE(s->polarityInverted);
    for (int i = 0; i < kSynthWindowSize; ++i) ASSERT_EQ(s->window.taps[i], -initial[i]) << i;

    SetSynthesisPolarity(*s, false);
    EXPECT_FALSE(s->polarityInverted);
    EXPECT_EQ(std::memcmp(s->window.taps, initial, sizeof(initial)), 0);
    SetSynthesisPolarity(*s, false);
    EXPECT_EQ(std::memcmp(s->window.taps, initial, sizeof(initial)), 0);
}

TEST(SynthesisPolarity, InvertedOutputIsNegated) {
    auto a = NewState();
    auto b = NewState();
    SetSynthesisPolarity(*b, true);
    const auto in = RandomSubbands(576 * 4, 1500.0f, 40);
    int16_t pa[576], pb[576];
    for (int g = 0; g < 4; ++g) {
        SynthL3Mono(*a, in.data() + 576 * g, pa);
        SynthL3Mono(*b, in.data() + 576 * g, pb);
        // Round-half-even is symmetric, so the results are exact negatives.
        for (int i = 0; i < 576; ++i) ASSERT_EQ(pb[i], -pa[i]) << g << ":" << i;
    }
}

TEST(SynthesisFilterbank, Layer3StereoInterleavesChannels) {
    auto st = NewState();
    auto left = NewState();
    auto right = NewState();
    const auto inL = RandomSubbands(576 * 5, 1500.0f, 50);
    const auto inR = RandomSubbands(576 * 5, 1500.0f, 51);
    ReferenceSynth refL, refR;
    Agreement a;
    double out[32];
    for (int g = 0; g < 5; ++g) {
        int16_t pcm[1152];
        std::fill(std::begin(pcm), std::end(pcm), int16_t(-777));
        SynthL3Stereo(*st, inL.data() + 576 * g, pcm, 0);
        for (int i = 0; i < 576; ++i) ASSERT_EQ(pcm[2 * i + 1], -777) << "channel 0 wrote odd";
        EXPECT_NE(st->pos[0], st->pos[1]);
        SynthL3Stereo(*st, inR.data() + 576 * g, pcm, 1);
        EXPECT_EQ(st->pos[0], st->pos[1]);

        int16_t ml[576], mr[576];
        SynthL3Mono(*left, inL.data() + 576 * g, ml);
        SynthL3Mono(*right, inR.data() + 576 * g, mr);
        for (int i = 0; i < 576; ++i) {
            ASSERT_EQ(pcm[2 * i], ml[i]) << i;
            ASSERT_EQ(pcm[2 * i + 1], mr[i]) << i;
        }
        for (int t = 0; t < 18; ++t) {
            refL.BlockF(inL.data() + 576 * g + 32 * t, out);
            for (int j = 0; j < 32; ++j) a.Add(pcm[64 * t + 2 * j], out[j]);
            refR.BlockF(inR.data() + 576 * g + 32 * t, out);
            for (int j = 0; j < 32; ++j) a.Add(pcm[64 * t + 2 * j + 1], out[j]);
        }
    }
    a.Check();
}

// Layer I/II input: slots of 64 values, channel c of subband k at 2k + c.
TEST(SynthesisFilterbank, LayerOneTwoRoutes) {
    const int slots = 40;
    const auto in = RandomSubbands(64 * slots, 1500.0f, 60);

    for (int route : {0, 2, 3, 4}) {
        SCOPED_TRACE(route);
        auto s = NewState();
        ReferenceSynth ref;
        std::vector<int16_t> pcm(32 * slots);
        SynthL12(*s, route, in.data(), pcm.data(), slots);
        Agreement a;
        for (int t = 0; t < slots; ++t) {
            const float* slot = in.data() + 64 * t;
            double S[32], out[32];
            for (int k = 0; k < 32; ++k) {
                switch (route) {
                    case 0: S[k] = slot[k]; break;
                    case 2: S[k] = (double(slot[2 * k]) + slot[2 * k + 1]) * 0.5; break;
                    case 3: S[k] = slot[2 * k]; break;
                    default: S[k] = slot[2 * k + 1]; break;
                }
            }
            ref.Block(S, out);
            for (int j = 0; j < 32; ++j) a.Add(pcm[32 * t + j], out[j]);
        }
        a.Check();
        EXPECT_EQ(s->pos[0], (512 - (32 * slots) % 512) % 512);
    }
}

TEST(SynthesisFilterbank, LayerOneTwoStereoSharesOnePosition) {
    const int slots = 40;
    const auto in = RandomSubbands(64 * slots, 1500.0f, 70);
    auto s = NewState();
    s->pos[1] = 96;  // must be ignored by the stereo route
    std::vector<int16_t> pcm(64 * slots);
    SynthL12(*s, 1, in.data(), pcm.data(), slots / 2);
    SynthL12(*s, 1, in.data() + 64 * (slots / 2), pcm.data() + 64 * (slots / 2), slots / 2);
    EXPECT_EQ(s->pos[1], 96);
    EXPECT_EQ(s->pos[0], (512 - (32 * slots) % 512) % 512);

    ReferenceSynth refL, refR;
    Agreement a;
    for (int t = 0; t < slots; ++t) {
        double L[32], R[32], out[32];
        for (int k = 0; k < 32; ++k) {
            L[k] = in[64 * t + 2 * k];
            R[k] = in[64 * t + 2 * k + 1];
        }
        refL.Block(L, out);
        for (int j = 0; j < 32; ++j) a.Add(pcm[64 * t + 2 * j], out[j]);
        refR.Block(R, out);
        for (int j = 0; j < 32; ++j) a.Add(pcm[64 * t + 2 * j + 1], out[j]);
    }
    a.Check();
}

TEST(SubbandEqualizer, DoublesOneSubband) {
    const auto in = RandomSubbands(576 * 4, 1500.0f, 80);
    const auto before = in;
    auto s = NewState();
    for (float& g : s->subbandGain) g = 1.0f;
    s->subbandGain[5] = 2.0f;
    s->subbandEqEnabled = 1;

    ReferenceSynth ref;
    Agreement a;
    for (int g = 0; g < 4; ++g) {
        int16_t pcm[576];
        SynthL3Mono(*s, in.data() + 576 * g, pcm);
        for (int t = 0; t < 18; ++t) {
            double S[32], out[32];
            for (int k = 0; k < 32; ++k) S[k] = in[576 * g + 32 * t + k];
            S[5] *= 2.0;
            ref.Block(S, out);
            for (int j = 0; j < 32; ++j) a.Add(pcm[32 * t + j], out[j]);
        }
    }
    a.Check();
    EXPECT_EQ(in, before) << "the caller's samples were modified";
}

TEST(SubbandEqualizer, MixRouteIgnoresGains) {
    const int slots = 24;
    const auto in = RandomSubbands(64 * slots, 1500.0f, 90);
    auto plain = NewState();
    auto eq = NewState();
    for (float& g : eq->subbandGain) g = 3.0f;
    eq->subbandEqEnabled = 1;
    std::vector<int16_t> a(32 * slots), b(32 * slots);
    SynthL12(*plain, 2, in.data(), a.data(), slots);
    SynthL12(*eq, 2, in.data(), b.data(), slots);
    EXPECT_EQ(a, b);
    // The same gains do act on the left-channel route.
    auto eqLeft = NewState();
    std::memcpy(eqLeft->subbandGain, eq->subbandGain, sizeof(eq->subbandGain));
    eqLeft->subbandEqEnabled = 1;
    auto plainLeft = NewState();
    std::vector<int16_t> c(32 * slots), d(32 * slots);
    SynthL12(*eqLeft, 3, in.data(), c.data(), slots);
    SynthL12(*plainLeft, 3, in.data(), d.data(), slots);
    EXPECT_NE(c, d);
}

// Records the calls that reach the routine slots.
struct SlotLog {
    static inline std::vector<int32_t> monoPos, stereoPos;
    static void Mono(const float* ring, int32_t pos, int16_t* pcm, const SynthWindow& window) {
        monoPos.push_back(pos);
        OutputMonoPortable(ring, pos, pcm, window);
    }
    static void Stereo(const float* ring, int32_t pos, int16_t* pcm, const SynthWindow& window) {
        stereoPos.push_back(pos);
        OutputStereoPortable(ring, pos, pcm, window);
    }
};

TEST(SynthesisFilterbank, FrontEndsCallThroughRoutineSlots) {
    auto s = NewState();
    EXPECT_EQ(s->outputMono, &OutputMonoPortable);
    EXPECT_EQ(s->outputStereo, &OutputStereoPortable);
    s->outputMono = SlotLog::Mono;
    s->outputStereo = SlotLog::Stereo;
    SlotLog::monoPos.clear();
    SlotLog::stereoPos.clear();

    const auto in = RandomSubbands(576, 1000.0f, 100);
    int16_t pcm[1152];
    SynthL3Mono(*s, in.data(), pcm);
    ASSERT_EQ(SlotLog::monoPos.size(), 18u);
    for (int t = 0; t < 18; ++t) EXPECT_EQ(SlotLog::monoPos[t], (512 - 32 * t) & 511);

    SynthL3Stereo(*s, in.data(), pcm, 1);
    SynthL12(*s, 1, in.data(), pcm, 2);
    EXPECT_EQ(SlotLog::stereoPos.size(), 18u + 4u);
    EXPECT_EQ(SlotLog::monoPos.size(), 18u);
}

}  // namespace
}  // namespace wl
