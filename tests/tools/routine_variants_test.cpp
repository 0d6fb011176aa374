// Every routine variant this processor can run computes what the portable
// routines compute: the slot routines and the DCT one by one on random and
// extreme data, then whole decodes of the conformance streams and of files
// made by lame and twolame, chosen through capability words as the player
// chooses them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "decoder/cpu_features.h"
#include "decoder/decoder.h"
#include "decoder/decoder_state.h"
#include "decoder/simd_routines.h"
#include "decoder/synthesis.h"
#include "tests/stream_builder.h"
#include "tests/test_support.h"
#include "tools/decode_file.h"

namespace wl {
namespace {

// A word that selects the portable routines everywhere.
constexpr uint32_t kPortableWord = cfFPU | cfOtherVendor | cfFamily6;

struct VariantWord {
    const char* name;
    uint32_t word;
    RoutineVariant variant;
};

// The vector variants this processor can run, with the words that select them.
std::vector<VariantWord> RunnableVariants() {
    std::vector<VariantWord> v;
#if defined(WL_X86_SIMD)
    const uint32_t cpu = GetCpuFeatures();
    if ((cpu & cfSSE) && (cpu & cfSSE2))
        v.push_back({"sse2", cpu & ~uint32_t(cfAVX | cfAVX2 | cfFMA), RoutineVariant::Sse2});
    const uint32_t avx2 = cfSSE | cfSSE2 | cfAVX | cfAVX2 | cfFMA;
    if ((cpu & avx2) == avx2) v.push_back({"avx2", cpu, RoutineVariant::Avx2});
#endif
    return v;
}

// A decoder whose routines are chosen by `word`.
std::unique_ptr<DecoderState, void (*)(DecoderState*)> DecoderFor(uint32_t word) {
    auto d = NewDecoder();
    SelectRoutines(*d, word);
    return d;
}

std::vector<float> Random(size_t n, float amplitude, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(n);
    for (auto& x : v) x = dist(rng);
    return v;
}

bool SameBits(const float* a, const float* b, size_t n) {
    return std::memcmp(a, b, n * sizeof(float)) == 0;
}

// The AVX2 transforms fuse multiply and add: equal to a few float steps of
// the largest term (`scale`); the SSE2 ones are bit-identical.
::testing::AssertionResult Alike(RoutineVariant v, const float* a, const float* b, size_t n,
                                 float scale) {
    if (v != RoutineVariant::Avx2) {
        if (SameBits(a, b, n)) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "not bit-identical";
    }
    for (size_t i = 0; i < n; ++i) {
        if (!(std::fabs(a[i] - b[i]) <= scale * 1e-5f))
            return ::testing::AssertionFailure() << "value " << i << ": " << a[i] << " vs " << b[i];
    }
    return ::testing::AssertionSuccess();
}

TEST(RoutineVariants, SelectionInstallsTheChosenCode) {
    const auto portable = DecoderFor(kPortableWord);
    EXPECT_EQ(portable->synth.outputMono, &OutputMonoPortable);
    EXPECT_EQ(portable->synth.dct, &DctPortable);
    EXPECT_EQ(portable->hybridTransform, &HybridPortable);
    for (const auto& v : RunnableVariants()) {
        SCOPED_TRACE(v.name);
        const auto d = DecoderFor(v.word);
        EXPECT_EQ(d->chosen.outputStereo, v.variant);
        EXPECT_EQ(d->chosen.dct, v.variant);
        EXPECT_NE(d->synth.outputMono, &OutputMonoPortable);
        EXPECT_NE(d->synth.outputStereo, &OutputStereoPortable);
        EXPECT_NE(d->synth.dct, &DctPortable);
        EXPECT_NE(d->aliasReduce, &AliasReducePortable);
        EXPECT_NE(d->hybridTransform, &HybridPortable);
        EXPECT_NE(d->imdct36, &Imdct36Portable);
        EXPECT_NE(d->imdct12, &Imdct12Portable);
    }
    if (RunnableVariants().empty()) GTEST_SKIP() << "no vector variants on this processor";
}

// The player passes the processor's word less the six switchable bits plus
// its capability set: with the empty set no vector form may be installed,
// whatever extensions the processor has, and the classic rules decide.
TEST(RoutineVariants, EmptyCapabilitySetInstallsNoVectorForm) {
    const uint32_t word = GetCpuFeatures() & ~kCapabilityBits;
    const auto d = DecoderFor(word);
    const bool pentium = (word & cfIntel) && (word & (cfFamily5 | cfFamily6));
    const RoutineVariant classic = pentium ? RoutineVariant::Pentium : RoutineVariant::Portable;
    EXPECT_EQ(d->chosen.outputMono, classic);
    EXPECT_EQ(d->chosen.outputStereo, classic);
    EXPECT_EQ(d->chosen.hybrid, classic);
    EXPECT_EQ(d->chosen.imdct36, classic);
    EXPECT_EQ(d->chosen.aliasReduce, RoutineVariant::Portable);
    EXPECT_EQ(d->chosen.dct, RoutineVariant::Portable);
    EXPECT_EQ(d->synth.outputMono, &OutputMonoPortable);
    EXPECT_EQ(d->synth.outputStereo, &OutputStereoPortable);
    EXPECT_EQ(d->synth.dct, &DctPortable);
    EXPECT_EQ(d->aliasReduce, &AliasReducePortable);
    EXPECT_EQ(d->hybridTransform, &HybridPortable);
    EXPECT_EQ(d->imdct36, &Imdct36Portable);
    EXPECT_EQ(d->imdct12, &Imdct12Portable);
    // Only the SSE bit back: the vector forms return where the processor has them.
    const auto withSse = DecoderFor(word | cfSSE);
    if (!RunnableVariants().empty()) {
        EXPECT_EQ(withSse->chosen.outputMono, RunnableVariants().back().variant);
        EXPECT_NE(withSse->synth.outputMono, &OutputMonoPortable);
    }
}

// The window stage on random rings at every position, both polarities, and on
// sums at and beyond the 16-bit limits, infinities and NaN.
TEST(RoutineVariants, WindowStagesMatchPortable) {
    const auto variants = RunnableVariants();
    if (variants.empty()) GTEST_SKIP() << "no vector variants on this processor";
    auto portable = DecoderFor(kPortableWord);
    SynthesisState& s = portable->synth;
    const auto ring = Random(1024, 3000.0f, 5);
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        const auto d = DecoderFor(v.word);
        // SSE2 sums in double like the portable stage; AVX2 in single precision.
        const int allowed = v.variant == RoutineVariant::Sse2 ? 0 : 1;
        int differing = 0;
        for (bool inverted : {false, true}) {
            SetSynthesisPolarity(s, inverted);
            for (int32_t pos = 0; pos < 512; pos += 32) {
                int16_t a[64], b[64];
                std::fill(std::begin(a), std::end(a), int16_t(555));
                std::fill(std::begin(b), std::end(b), int16_t(555));
                OutputMonoPortable(ring.data(), pos, a, s.window);
                d->synth.outputMono(ring.data(), pos, b, s.window);
                for (int n = 0; n < 64; ++n) {
                    ASSERT_LE(std::abs(a[n] - b[n]), n < 32 ? allowed : 0) << "mono " << n;
                    differing += a[n] != b[n];
                }
                // Channel 1 of a stereo block: the even samples stay untouched.
                OutputStereoPortable(ring.data() + 512, pos, a + 1, s.window);
                d->synth.outputStereo(ring.data() + 512, pos, b + 1, s.window);
                for (int n = 0; n < 64; ++n) {
                    ASSERT_LE(std::abs(a[n] - b[n]), n % 2 ? allowed : 0) << "stereo " << n;
                    differing += n % 2 && a[n] != b[n];
                }
                if (inverted) {
                    // The inverted window gives the negated output (no clipping here).
                    int16_t normal[32];
                    SetSynthesisPolarity(s, false);
                    d->synth.outputMono(ring.data(), pos, normal, s.window);
                    SetSynthesisPolarity(s, true);
                    int16_t again[32];
                    d->synth.outputMono(ring.data(), pos, again, s.window);
                    for (int n = 0; n < 32; ++n) ASSERT_EQ(again[n], -normal[n]) << n;
                }
            }
        }
        SetSynthesisPolarity(s, false);
        std::cout << "[ variants ] " << v.name << ": " << differing
                  << " of 2048 window samples differ from portable by 1\n";

        // One unit tap per output sample reads one ring value: rounding, clamping,
        // infinities and NaN show directly, in every output position.
        SynthWindow unit{};
        for (int r = 0; r < 16; ++r) unit.taps[16 * r] = 1.0f;  // samples 0..15 and 17..31
        unit.taps[256] = 1.0f;                                  // sample 16
        BuildWindowLanes(unit);
        const float specials[] = {32767.6f, 32767.4f, 32766.5f, -32768.6f, -32767.5f, 2.5f,
                                  -3.5f,    1e30f,    -1e30f,   0.0f,      -0.0f,     0.4999f,
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::quiet_NaN()};
        alignas(64) float r[512];
        std::mt19937 rng(9);
        for (int round = 0; round < 40; ++round) {
            for (float& x : r) x = specials[rng() % std::size(specials)];
            for (int32_t pos : {0, 224, 480}) {
                int16_t a[64], b[64];
                OutputMonoPortable(r, pos, a, unit);
                d->synth.outputMono(r, pos, b, unit);
                ASSERT_TRUE(std::equal(a, a + 32, b)) << "round " << round << ", pos " << pos;
                OutputStereoPortable(r, pos, a, unit);
                d->synth.outputStereo(r, pos, b, unit);
                for (int n = 0; n < 32; ++n) ASSERT_EQ(a[2 * n], b[2 * n]) << n;
            }
        }
    }
}

TEST(RoutineVariants, DctMatchesPortableBitForBit) {
    const auto variants = RunnableVariants();
    if (variants.empty()) GTEST_SKIP() << "no vector variants on this processor";
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        const auto d = DecoderFor(v.word);
        for (uint32_t seed = 1; seed <= 200; ++seed) {
            auto in = Random(32, seed % 2 ? 1.0f : 30000.0f, seed);
            if (seed % 7 == 0) in[seed % 32] = 0.0f;
            if (seed % 11 == 0) std::fill(in.begin(), in.end(), -0.0f);
            float a[32], b[32];
            DctPortable(in.data(), a);
            d->synth.dct(in.data(), b);
            ASSERT_TRUE(SameBits(a, b, 32)) << "seed " << seed;
            if (d->synth.dctInterleaved) {
                // Exactly 63 values, so that a read past in[62] leaves the buffer.
                std::vector<float> pairs(63, 1.0e6f);
                for (int k = 0; k < 32; ++k) pairs[2 * k] = in[k];
                d->synth.dctInterleaved(pairs.data(), b);
                ASSERT_TRUE(SameBits(a, b, 32)) << "interleaved, seed " << seed;
            }
        }
    }
}

class HybridVariants : public ::testing::Test {
protected:
    void SetUp() override {
        auto frame = test::SilentFrameMpeg1(3, 0, 0);
        TMPEGFrameHeader h{};
        const int32_t len = ParseFrameHeader(frame.data(), 0, h);
        ASSERT_TRUE(SetupDecoder(*portable, h, len, 0, 0, kOutputFullBand, 24000));
        SelectRoutines(*portable, kPortableWord);
    }
    std::unique_ptr<DecoderState, void (*)(DecoderState*)> portable = NewDecoder();
};

TEST_F(HybridVariants, AliasAndInverseTransformsMatchPortable) {
    const auto variants = RunnableVariants();
    if (variants.empty()) GTEST_SKIP() << "no vector variants on this processor";
    const HybridTables& t = portable->hybrid;
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        const auto d = DecoderFor(v.word);
        for (int32_t boundaries : {0, 1, 7, 31}) {
            auto a = Random(576, 5000.0f, 40 + boundaries);
            auto b = a;
            AliasReducePortable(a.data(), boundaries, portable->aliasCsCa);
            d->aliasReduce(b.data(), boundaries, portable->aliasCsCa);
            ASSERT_TRUE(SameBits(a.data(), b.data(), 576)) << boundaries << " boundaries";
        }
        for (uint32_t seed = 1; seed <= 50; ++seed) {
            auto a = Random(18, 2000.0f, seed);
            auto b = a;
            Imdct36Portable(t, a.data());
            d->imdct36(t, b.data());
            ASSERT_TRUE(Alike(v.variant, a.data(), b.data(), 18, 18 * 2000.0f))
                << "36-point, seed " << seed;
            const auto x = Random(18, 2000.0f, seed + 100);
            float ya[18], yb[18];
            Imdct12Portable(t, x.data(), ya);
            d->imdct12(t, x.data(), yb);
            ASSERT_TRUE(Alike(v.variant, ya, yb, 18, 6 * 2000.0f)) << "12-point, seed " << seed;
        }
    }
}

TEST_F(HybridVariants, HybridTransformMatchesPortableForEveryBlockKind) {
    const auto variants = RunnableVariants();
    if (variants.empty()) GTEST_SKIP() << "no vector variants on this processor";
    DecoderState& p = *portable;
    struct Case {
        int32_t blockType, longEnd, shortEnd, previousCount;
    } cases[] = {
        {0, 576, 576, 576}, {1, 300, 300, 576}, {3, 576, 576, 100}, {2, 0, 576, 576},
        {2 | kHybridMixed, 36, 400, 576}, {1 | kHybridMixed, 200, 200, 300}, {0, 0, 0, 558},
        {2, 0, 17, 0},
    };
    for (const auto& v : variants) {
        SCOPED_TRACE(v.name);
        const auto d = DecoderFor(v.word);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.blockType);
            auto linesA = Random(576, 1000.0f, 7 + c.longEnd);
            auto linesB = linesA;
            const auto previous = Random(576, 1000.0f, 8 + c.shortEnd);
            float outA[576], outB[576];
            std::fill(std::begin(outA), std::end(outA), 1.5f);
            std::fill(std::begin(outB), std::end(outB), 1.5f);
            const int32_t na = HybridPortable(p, linesA.data(), previous.data(), outA, c.blockType,
                                              c.longEnd, c.shortEnd, c.previousCount);
            // The variant reads the same tables (p's), through its own code.
            const int32_t nb = d->hybridTransform(p, linesB.data(), previous.data(), outB,
                                                  c.blockType, c.longEnd, c.shortEnd,
                                                  c.previousCount);
            EXPECT_EQ(na, nb);
            // Terms up to 18 x 1000 per transform output, plus the overlap.
            EXPECT_TRUE(Alike(v.variant, outA, outB, 576, 18 * 1000.0f));
            EXPECT_TRUE(Alike(v.variant, linesA.data(), linesB.data(), 576, 18 * 1000.0f));
        }
    }
}

// Whole decodes: every variant within 1 LSB of portable.
void ExpectVariantsMatchPortable(const std::vector<uint8_t>& file, const std::string& what,
                                 std::vector<int16_t>* portableOut = nullptr) {
    tools::DecodeOptions options;
    options.capabilities = kPortableWord;
    std::vector<int16_t> reference;
    const auto base = tools::DecodeToPcm(file, options, reference);
    ASSERT_TRUE(base.ok) << what << ": " << base.error;
    ASSERT_FALSE(reference.empty()) << what;
    for (const auto& v : RunnableVariants()) {
        options.capabilities = v.word;
        std::vector<int16_t> pcm;
        const auto outcome = tools::DecodeToPcm(file, options, pcm);
        ASSERT_TRUE(outcome.ok) << what << " (" << v.name << "): " << outcome.error;
        ASSERT_EQ(pcm.size(), reference.size()) << what << " (" << v.name << ")";
        const auto c = test::ComparePcm(pcm, reference);
        EXPECT_LE(c.maxAbsDiff, 1) << what << " (" << v.name << "): " << test::Describe(c);
    }
    if (portableOut) *portableOut = std::move(reference);
}

TEST(RoutineVariants, ConformanceStreamsDecodeAlikeAndMeetTheBar) {
    const std::string dir = test::ConformanceDir();
    if (dir.empty()) {
        GTEST_SKIP() << "conformance folder not found: expected ../shared/conformance beside the "
                        "source tree, or set WL_SHARED_DIR";
    }
    if (RunnableVariants().empty()) GTEST_SKIP() << "no vector variants on this processor";
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().extension() == ".bit") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    ASSERT_FALSE(names.empty()) << "no .bit streams in " << dir;
    for (const auto& name : names) {
        bool ok = false;
        const auto stream = test::ReadFileBytes(dir + "/" + name + ".bit", &ok);
        ASSERT_TRUE(ok) << name;
        ExpectVariantsMatchPortable(stream, name);
        // Each variant against the reference PCM too (the conformance test
        // covers the processor's own choice; here every runnable variant).
        const std::string ref = dir + "/" + name + ".pcm";
        if (!test::FileExists(ref)) continue;
        const auto reference = test::ReadPcm16(ref, &ok);
        ASSERT_TRUE(ok) << ref;
        // One stream's reference starts two frames late.
        const size_t lead = name == "l3-sin1k0db" ? 2 * 1152 * 2 : 0;
        for (const auto& v : RunnableVariants()) {
            tools::DecodeOptions options;
            options.capabilities = v.word;
            std::vector<int16_t> pcm;
            ASSERT_TRUE(tools::DecodeToPcm(stream, options, pcm).ok);
            ASSERT_GT(pcm.size(), lead);
            const auto c = test::ComparePcm(
                std::span<const int16_t>(pcm.data() + lead, pcm.size() - lead), reference);
            EXPECT_LE(c.maxAbsDiff, 1) << name << " (" << v.name << "): " << test::Describe(c);
            EXPECT_GE(c.psnrDb, 96.0) << name << " (" << v.name << "): " << test::Describe(c);
        }
    }
}

TEST(RoutineVariants, EncodedFilesDecodeAlike) {
    if (RunnableVariants().empty()) GTEST_SKIP() << "no vector variants on this processor";
    const bool lame = test::OnPath("lame");
    const bool twolame = test::OnPath("twolame");
    if (!lame && !twolame) GTEST_SKIP() << "lame and twolame are not installed (scripts/setup.sh)";
    test::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    struct Encode {
        const char* name;
        int32_t rate;
        int32_t channels;
        std::string command;  // IN and OUT are replaced
    };
    std::vector<Encode> encodes;
    if (lame) {
        encodes.push_back({"l3_128k_joint", 44100, 2, "lame --quiet --cbr -b 128 -m j IN OUT"});
        encodes.push_back({"l3_320k_stereo", 44100, 2, "lame --quiet --cbr -b 320 -m s IN OUT"});
        encodes.push_back({"l3_mpeg2_64k", 22050, 2, "lame --quiet --cbr -b 64 -m j IN OUT"});
        encodes.push_back({"l3_mono_vbr", 44100, 1, "lame --quiet -V 5 -m m IN OUT"});
        encodes.push_back({"l3_mpeg25_11k", 11025, 2, "lame --quiet --cbr -b 32 -m j IN OUT"});
    }
    if (twolame) {
        encodes.push_back({"l2_192k_stereo", 44100, 2, "twolame --quiet -b 192 -m s IN OUT"});
        encodes.push_back({"l2_joint_48k", 48000, 2, "twolame --quiet -b 128 -m j IN OUT"});
    }
    for (const auto& e : encodes) {
        const std::string wav = dir.File(std::string(e.name) + ".wav");
        const std::string out = dir.File(std::string(e.name) + ".mpa");
        const auto signal = test::SynthesizeSignal(e.rate, e.channels, 4.0, 11);
        ASSERT_TRUE(test::WriteWav(wav, signal, e.channels, e.rate));
        std::string cmd = e.command;
        cmd.replace(cmd.find("IN"), 2, test::ShellQuote(wav));
        cmd.replace(cmd.find("OUT"), 3, test::ShellQuote(out));
        const auto run = test::RunCommand(cmd + " 2>&1");
        ASSERT_EQ(run.exitCode, 0) << e.name << ": " << run.output;
        bool ok = false;
        const auto file = test::ReadFileBytes(out, &ok);
        ASSERT_TRUE(ok && !file.empty()) << e.name;
        ExpectVariantsMatchPortable(file, e.name);
    }
}

}  // namespace
}  // namespace wl
