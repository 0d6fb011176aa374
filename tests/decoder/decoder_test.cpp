// Decoder set-up, output format, reservoir hand-over, damaged input, polarity,
// equalizer tables, channel adaptation and routine selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/decoder_state.h"
#include "tests/stream_builder.h"

namespace wl {
namespace {

TMPEGFrameHeader HeaderOf(const std::vector<uint8_t>& frame, int32_t* length = nullptr) {
    TMPEGFrameHeader h{};
    const int32_t l = ParseFrameHeader(frame.data(), 0, h);
    if (length) *length = l;
    return h;
}

std::vector<int16_t> Decode(DecoderState& d, const std::vector<uint8_t>& frame,
                            TDecodeResult& r) {
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2, 12345);
    DecodeFrame(d, r, frame.data(), static_cast<int32_t>(frame.size()), pcm.data());
    pcm.resize(static_cast<size_t>(std::max(r.PcmBytes, 0)) / 2);
    return pcm;
}

TEST(Setup, BandLimitsCapsAndOutputFormat) {
    auto d = NewDecoder();
    auto stereo = test::SilentFrameMpeg1(1, 0, 0);
    int32_t len = 0;
    TMPEGFrameHeader h = HeaderOf(stereo, &len);
    ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, 0, 24000));
    EXPECT_EQ(d->subbandLimit, 31);  // the top subband is never decoded
    EXPECT_EQ(d->maxLines, 558);
    EXPECT_EQ(d->synthSubbands, 31);
    TMPEGOutputFormat f{};
    GetOutputFormat(*d, f);
    EXPECT_EQ(f.Channels, 2);
    EXPECT_EQ(f.SamplesPerFrame, 2304);
    EXPECT_EQ(f.SampleRate, 44100);
    EXPECT_EQ(f.BitsPerSample, 16);
    EXPECT_EQ(f.FrameLength, 417);
    EXPECT_EQ(f.Reserved, 0);

    ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, 0, 8000));
    EXPECT_EQ(d->subbandLimit, (8000 * 64 + 22050) / 44100);

    ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, kOutputFullBand, 8000));
    EXPECT_EQ(d->subbandLimit, 32);
    EXPECT_EQ(d->maxLines, 576);

    // Mono mix, left, right: one output channel; mono mix lowers the gain.
    for (int32_t sel : {kOutputMonoMix, kOutputLeft, kOutputRight}) {
        ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, sel, 24000));
        GetOutputFormat(*d, f);
        EXPECT_EQ(f.Channels, 1);
        EXPECT_EQ(f.SamplesPerFrame, 1152);
        EXPECT_EQ(d->gainOffset, sel == kOutputMonoMix ? -4 : 0);
    }
}

TEST(Setup, LsfAndMpeg25CapsAndRates) {
    std::mt19937 rng(1);
    auto lsf = test::RandomFrameLsf(rng, 1, false);
    auto d = NewDecoder();
    int32_t len = 0;
    TMPEGFrameHeader h = HeaderOf(lsf, &len);
    ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, 0, 24000));
    EXPECT_EQ(d->longCap, 522);
    EXPECT_EQ(d->maxLines, 530);
    TMPEGOutputFormat f{};
    GetOutputFormat(*d, f);
    EXPECT_EQ(f.SampleRate, 22050);
    EXPECT_EQ(f.SamplesPerFrame, 1152);

    ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, kOutputFullBand, 24000));
    EXPECT_EQ(d->longCap, 576);
    EXPECT_EQ(d->shortCap, 576);

    auto m25 = test::RandomFrameLsf(rng, 3, true);
    h = HeaderOf(m25, &len);
    ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, 0, 24000));
    GetOutputFormat(*d, f);
    EXPECT_EQ(f.SampleRate, 11025);
    EXPECT_EQ(f.Channels, 1);
    EXPECT_EQ(f.SamplesPerFrame, 576);
    // 8000 Hz band edges of MPEG 2.5 at 11025 Hz use the 16000 Hz LSF bands.
    EXPECT_EQ(d->sfbLongEnd[0], 6);
}

TEST(Setup, RejectsWhatItCannotDecode) {
    auto d = NewDecoder();
    auto frame = test::SilentFrameMpeg1(3, 0, 0);
    int32_t len = 0;
    TMPEGFrameHeader h = HeaderOf(frame, &len);
    EXPECT_FALSE(SetupDecoder(*d, h, len, 1, 0, 0, 24000));           // down-sampling
    EXPECT_FALSE(SetupDecoder(*d, h, len, 0, 0, kOutput8Bit, 24000));  // 8-bit output
    TMPEGFrameHeader bad = h;
    bad.SampleRateIndex = 3;
    EXPECT_FALSE(SetupDecoder(*d, bad, len, 0, 0, 0, 24000));
    bad = h;
    bad.Layer = 0;
    EXPECT_FALSE(SetupDecoder(*d, bad, len, 0, 0, 0, 24000));
    // A decoder that is not configured rejects frames.
    TDecodeResult r{};
    EXPECT_TRUE(Decode(*d, frame, r).empty());
    EXPECT_EQ(r.BytesConsumed, 0);
}

TEST(Reservoir, MissingMainDataGivesSilenceThenDecodingGoesOn) {
    auto d = NewDecoder();
    auto first = test::SilentFrameMpeg1(3, 0, 200);
    int32_t len = 0;
    ASSERT_TRUE(SetupDecoder(*d, HeaderOf(first, &len), len, 0, 0, 0, 24000));
    TDecodeResult r{};
    auto pcm = Decode(*d, first, r);
    EXPECT_EQ(r.BytesConsumed, 417);
    EXPECT_EQ(r.PcmBytes, 1152 * 2);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.end(), [](int16_t s) { return s == 0; }));
    EXPECT_LT(d->resStart, 0);
    EXPECT_EQ(d->resFill, 417 - 21);

    // The next frame reaches back into the data the first one left.
    auto second = test::SilentFrameMpeg1(3, 0, 300, true);
    Decode(*d, second, r);
    EXPECT_EQ(r.BytesConsumed, 418);
    EXPECT_EQ(d->resStart, 396 - 300);
    EXPECT_EQ(d->resFill, 396 + 397);
}

TEST(Reservoir, CompactsAndKeepsTheBytesStillReferenced) {
    auto d = NewDecoder();
    auto frame = test::SilentFrameMpeg1(3, 0, 0);
    int32_t len = 0;
    ASSERT_TRUE(SetupDecoder(*d, HeaderOf(frame, &len), len, 0, 0, 0, 24000));
    TDecodeResult r{};
    // Mark each frame's main data so the compaction can be checked.
    for (int i = 0; i < 20; ++i) {
        auto f = test::SilentFrameMpeg1(3, 0, 400);
        f[21] = static_cast<uint8_t>(i);
        std::memset(f.data() + 22, 0, f.size() - 22);
        Decode(*d, f, r);
        ASSERT_EQ(r.BytesConsumed, 417);
        ASSERT_LE(d->resFill, kReservoirSize);
    }
    // After the last compaction the data 400 bytes back is where the frame starts.
    EXPECT_GE(d->resStart, 0);
    EXPECT_LE(d->resFill, kReservoirCompactAbove + 396);
    EXPECT_EQ(d->reservoir[d->resFill - 396], 19);
}

TEST(Reservoir, RefusesMainDataThatCannotFit) {
    auto d = NewDecoder();
    auto frame = test::SilentFrameMpeg1(3, 0, 0);
    int32_t len = 0;
    TMPEGFrameHeader h = HeaderOf(frame, &len);
    // A frame length shorter than its side information.
    ASSERT_TRUE(SetupDecoder(*d, h, 10, 0, 0, 0, 24000));
    auto freeFormat = frame;
    freeFormat[2] = 0x00;  // bitrate index 0: the set-up's length holds
    TDecodeResult r{};
    Decode(*d, freeFormat, r);
    EXPECT_EQ(r.BytesConsumed, 0);
    // A frame whose announced length exceeds what the caller has.
    ASSERT_TRUE(SetupDecoder(*d, h, len, 0, 0, 0, 24000));
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    DecodeFrame(*d, r, frame.data(), 300, pcm.data());
    EXPECT_EQ(r.BytesConsumed, 0);
    EXPECT_EQ(r.PcmBytes, 0);
}

// Random side information and main data of every kind: nothing may crash or
// touch memory outside the buffers (run under the sanitizers), every frame that
// is accepted fills exactly its PCM size.
TEST(DamagedInput, RandomFramesOfEveryKindDecodeSafely) {
    std::mt19937 rng(20261208);
    struct Kind {
        int mode;
        int version;  // 1 MPEG-1, 0 LSF, 2 MPEG 2.5
    };
    const Kind kinds[] = {{0, 1}, {1, 1}, {3, 1}, {1, 0}, {3, 0}, {1, 2}, {3, 2}};
    for (const Kind& kind : kinds) {
        for (int32_t flags : {int32_t{0}, int32_t{kOutputMonoMix}, int32_t{kOutputLeft},
                              int32_t{kOutputRight}, int32_t{kOutputFullBand},
                              int32_t{kOutputFullBand | kOutputMonoMix}}) {
            auto d = NewDecoder();
            auto make = [&] {
                return kind.version == 1 ? test::RandomFrameMpeg1(rng, kind.mode)
                                         : test::RandomFrameLsf(rng, kind.mode, kind.version == 2);
            };
            auto first = make();
            int32_t len = 0;
            ASSERT_TRUE(SetupDecoder(*d, HeaderOf(first, &len), len, 0, 0, flags, 24000));
            TMPEGOutputFormat f{};
            GetOutputFormat(*d, f);
            for (int i = 0; i < 150; ++i) {
                auto frame = make();
                // Exact-size heap copy so that any overrun is seen.
                std::unique_ptr<uint8_t[]> exact(new uint8_t[frame.size()]);
                std::memcpy(exact.get(), frame.data(), frame.size());
                std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2 + 8, 0x7A7A);
                TDecodeResult r{};
                DecodeFrame(*d, r, exact.get(), static_cast<int32_t>(frame.size()), pcm.data());
                if (r.BytesConsumed > 0) {
                    ASSERT_EQ(r.PcmBytes, f.SamplesPerFrame * 2);
                    ASSERT_EQ(pcm[static_cast<size_t>(r.PcmBytes / 2)], 0x7A7A);
                }
            }
        }
    }
}

std::vector<std::vector<uint8_t>> RandomStream(int frames, int mode, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::vector<uint8_t>> out;
    for (int i = 0; i < frames; ++i) {
        auto f = test::RandomFrameMpeg1(rng, mode);
        // Modest gains and no reservoir reach-back: loud, valid-looking output.
        f[4] = 0;
        f[5] &= 0x7F;
        out.push_back(f);
    }
    return out;
}

std::vector<int16_t> DecodeStream(DecoderState& d, const std::vector<std::vector<uint8_t>>& s,
                                  int32_t flags) {
    int32_t len = 0;
    EXPECT_TRUE(SetupDecoder(d, HeaderOf(s[0], &len), len, 0, 0, flags, 24000));
    std::vector<int16_t> all;
    for (const auto& f : s) {
        TDecodeResult r{};
        auto pcm = Decode(d, f, r);
        all.insert(all.end(), pcm.begin(), pcm.end());
    }
    return all;
}

TEST(Polarity, InvertsTheOutputExactlyAndSurvivesSetups) {
    auto stream = RandomStream(30, 0, 7);
    auto d = NewDecoder();
    auto normal = DecodeStream(*d, stream, 0);
    ASSERT_TRUE(std::any_of(normal.begin(), normal.end(), [](int16_t s) { return s != 0; }));
    SetPolarity(*d, true);
    SetPolarity(*d, true);  // a second request changes nothing
    EXPECT_TRUE(GetPolarity(*d));
    auto inverted = DecodeStream(*d, stream, 0);
    ASSERT_EQ(inverted.size(), normal.size());
    for (size_t i = 0; i < normal.size(); ++i) {
        const int expected = normal[i] == -32768 ? 32767 : -normal[i];
        // Sums that round to a tie may land one unit apart after negation.
        ASSERT_LE(std::abs(inverted[i] - expected), 1) << i;
    }
    SetPolarity(*d, false);
    EXPECT_EQ(DecodeStream(*d, stream, 0), normal);
}

TEST(Equalizer, UnityGainsChangeNothingAndLineGainsScale) {
    auto stream = RandomStream(20, 0, 11);
    auto d = NewDecoder();
    auto plain = DecodeStream(*d, stream, kOutputFullBand);

    std::fill_n(LineGain(*d), 576, 1.0f);
    *LineEqEnabled(*d) = 1;
    EXPECT_EQ(DecodeStream(*d, stream, kOutputFullBand), plain);

    std::fill_n(SubbandGain(*d), 32, 1.0f);
    *SubbandEqEnabled(*d) = 1;
    EXPECT_EQ(DecodeStream(*d, stream, kOutputFullBand), plain);

    // Half gain on every line halves the output (within rounding and clipping).
    *SubbandEqEnabled(*d) = 0;
    std::fill_n(LineGain(*d), 576, 0.5f);
    auto half = DecodeStream(*d, stream, kOutputFullBand);
    ASSERT_EQ(half.size(), plain.size());
    size_t checked = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        if (std::abs(plain[i]) >= 32767) continue;
        ++checked;
        ASSERT_LE(std::abs(2 * half[i] - plain[i]), 2) << i;
    }
    EXPECT_GT(checked, 1000u);
}

TEST(ChannelAdaptation, FollowsTheFrameAndKeepsTheHistory) {
    auto d = NewDecoder();
    auto mono = test::SilentFrameMpeg1(3, 0, 0);
    auto stereo = test::SilentFrameMpeg1(0, 0, 0);
    int32_t len = 0;
    ASSERT_TRUE(SetupDecoder(*d, HeaderOf(mono, &len), len, 0, 0, kOutputFullBand, 24000));
    TDecodeResult r{};
    Decode(*d, mono, r);
    d->synth.ring[5] = 0.25f;  // history that must survive
    const int32_t fill = d->resFill;
    ASSERT_TRUE(AdaptChannelCount(*d, HeaderOf(stereo)));
    TMPEGOutputFormat f{};
    GetOutputFormat(*d, f);
    EXPECT_EQ(f.Channels, 2);
    EXPECT_EQ(ConfiguredChannels(*d), 2);
    EXPECT_EQ(d->resFill, fill);
    EXPECT_EQ(d->synth.ring[5], 0.25f);
    auto pcm = Decode(*d, stereo, r);
    EXPECT_EQ(r.PcmBytes, 2304 * 2);
    // A header of another stream is refused.
    auto lsfHeader = HeaderOf(mono);
    lsfHeader.VersionId = 0;
    EXPECT_FALSE(AdaptChannelCount(*d, lsfHeader));
}

TEST(ChannelAdaptation, SingleChannelFrameInATwoChannelSetUpFillsBothOutputs) {
    auto stream = RandomStream(12, 3, 5);
    auto d = NewDecoder();
    auto mono = DecodeStream(*d, stream, 0);
    // Same stream decoded by a decoder set up for a stereo stream.
    auto d2 = NewDecoder();
    int32_t len = 0;
    ASSERT_TRUE(SetupDecoder(*d2, HeaderOf(test::SilentFrameMpeg1(0, 0, 0), &len), len, 0, 0, 0,
                             24000));
    std::vector<int16_t> both;
    for (const auto& f : stream) {
        TDecodeResult r{};
        auto pcm = Decode(*d2, f, r);
        both.insert(both.end(), pcm.begin(), pcm.end());
    }
    ASSERT_EQ(both.size(), 2 * mono.size());
    for (size_t i = 0; i < mono.size(); ++i) ASSERT_EQ(both[2 * i], mono[i]) << i;
    EXPECT_TRUE(std::any_of(both.begin(), both.end(), [](int16_t s) { return s != 0; }));
}

TEST(RoutineSelection, RecordsTheChosenVariants) {
    auto d = NewDecoder();
    SelectRoutines(*d, cfFPU | cfIntel | cfFamily6 | cfCMOV);
    EXPECT_EQ(d->chosen.outputMono, RoutineVariant::PentiumCmov);
    EXPECT_EQ(d->chosen.aliasReduce, RoutineVariant::Portable);
    EXPECT_TRUE(d->routinesSelected);
    EXPECT_NE(d->synth.outputMono, nullptr);
    EXPECT_NE(d->hybridTransform, nullptr);
}

}  // namespace
}  // namespace wl
