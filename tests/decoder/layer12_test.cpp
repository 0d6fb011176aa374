// Layer I and II: table choice and rejections, joint-stereo sharing, grouped
// samples, the band-limit skip, and damaged frames.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <cstring>
#include <random>
#include <vector>

#include "decoder/decoder.h"
#include "decoder/decoder_state.h"
#include "tests/stream_builder.h"

namespace wl {
namespace {

using test::BitWriter;

// MPEG-1 header bytes for a layer code, bitrate index, rate index and mode.
std::vector<uint8_t> Header(int layer, int bitrateIndex, int rateIndex, int mode, int ext = 0,
                            bool lsf = false) {
    return {0xFF, static_cast<uint8_t>((lsf ? 0xF1 : 0xF9) | (layer << 1)),
            static_cast<uint8_t>((bitrateIndex << 4) | (rateIndex << 2)),
            static_cast<uint8_t>((mode << 6) | (ext << 4))};
}

bool SetUpFor(DecoderState& d, const std::vector<uint8_t>& head, int32_t flags = kOutputFullBand,
           int32_t bandLimit = 24000) {
    std::vector<uint8_t> bytes = head;
    TMPEGFrameHeader h{};
    const int32_t len = ParseFrameHeader(bytes.data(), 0, h);
    return SetupDecoder(d, h, len, 0, 0, flags, bandLimit);
}

TEST(Layer2Setup, ChoosesTheAllocationTableAndRejectsForbiddenCombinations) {
    auto d = NewDecoder();
    // 192 kbit/s two channels: table 0 at 48 kHz (27 subbands), table 1 at 44.1 kHz (30).
    ASSERT_TRUE(SetUpFor(*d, Header(2, 10, 1, 0)));
    EXPECT_EQ(d->l12Table, 0);
    EXPECT_EQ(d->l12Total, 54);
    ASSERT_TRUE(SetUpFor(*d, Header(2, 10, 0, 0)));
    EXPECT_EQ(d->l12Table, 1);
    EXPECT_EQ(d->l12Total, 60);
    // Low rates per channel: tables 2 (44.1/48 kHz) and 3 (32 kHz).
    ASSERT_TRUE(SetUpFor(*d, Header(2, 1, 0, 3)));
    EXPECT_EQ(d->l12Table, 2);
    ASSERT_TRUE(SetUpFor(*d, Header(2, 2, 2, 3)));
    EXPECT_EQ(d->l12Table, 3);
    EXPECT_EQ(d->l12Total, 12);
    // Single channel at 224 kbit/s and above, two channels at 32, 48, 56, 80.
    for (int index : {11, 12, 13, 14}) EXPECT_FALSE(SetUpFor(*d, Header(2, index, 0, 3))) << index;
    for (int index : {1, 2, 3, 5}) EXPECT_FALSE(SetUpFor(*d, Header(2, index, 1, 1))) << index;
    // LSF always takes table 4.
    ASSERT_TRUE(SetUpFor(*d, Header(2, 14, 2, 0, 0, true)));
    EXPECT_EQ(d->l12Table, 4);
    ASSERT_TRUE(SetUpFor(*d, Header(2, 1, 2, 3, 0, true)));
    EXPECT_EQ(d->l12Table, 4);
    TMPEGOutputFormat f{};
    GetOutputFormat(*d, f);
    EXPECT_EQ(f.SampleRate, 16000);
    EXPECT_EQ(f.SamplesPerFrame, 1152);
    // MPEG 2.5 has no Layer II.
    auto m25 = Header(2, 8, 0, 0, 0, true);
    m25[1] &= 0xEF;
    EXPECT_FALSE(SetUpFor(*d, m25));
}

TEST(Layer2Setup, BandLimitCountsEntries) {
    auto d = NewDecoder();
    ASSERT_TRUE(SetUpFor(*d, Header(2, 10, 0, 0), 0, 24000));
    EXPECT_EQ(d->l12Limit, 60);  // 31 subbands capped at the table's 30, two channels
    ASSERT_TRUE(SetUpFor(*d, Header(2, 10, 0, 0), 0, 5000));
    EXPECT_EQ(d->l12Limit, 2 * ((5000 * 64 + 22050) / 44100));
    ASSERT_TRUE(SetUpFor(*d, Header(3, 12, 0, 3), 0, 24000));
    EXPECT_EQ(d->l12Limit, 31);  // Layer I single channel: subband 31 skipped
    ASSERT_TRUE(SetUpFor(*d, Header(3, 12, 0, 3), kOutputFullBand, 24000));
    EXPECT_EQ(d->l12Limit, 32);
}

// Layer II frame, 44.1 kHz 192 kbit/s (table 1: 30 subbands; allocation
// fields of 4 bits for subbands 0..10, 3 bits for 11..22, 2 bits for 23..29).
struct Layer2Frame {
    int mode = 0;
    int ext = 0;
    int alloc[30][2] = {};
    int scfsi[30][2] = {};
    int sf[30][2][3] = {};
    // Codes per part, granule and subband/channel: `code(p, g, sb, ch)` -> code.
    std::function<uint32_t(int, int, int, int)> code = [](int, int, int, int) { return 0u; };

    static int FieldBits(int sb) { return sb < 11 ? 4 : sb < 23 ? 3 : 2; }
    int SharedFrom() const { return mode == 1 ? 4 * (ext + 1) : 32; }
    // Class of an allocation value (table 1's maps).
    static int Class(int sb, int a) {
        static const int row0[16] = {0, 1, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
        static const int row1[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 17};
        static const int row2[8] = {0, 1, 2, 3, 4, 5, 6, 17};
        static const int row3[4] = {0, 1, 2, 17};
        return sb < 3 ? row0[a] : sb < 11 ? row1[a] : sb < 23 ? row2[a] : row3[a];
    }
    static int CodeBits(int cls) {
        static const int bits[18] = {0, 5, 7, 3, 10, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        return bits[cls];
    }
    static bool Grouped(int cls) { return cls == 1 || cls == 2 || cls == 4; }

    std::vector<uint8_t> Bytes() const {
        BitWriter w;
        auto head = Header(2, 10, 0, mode, ext);
        for (uint8_t b : head) w.Put(b, 8);
        for (int sb = 0; sb < 30; ++sb) {
            if (sb >= SharedFrom()) {
                w.Put(static_cast<uint32_t>(alloc[sb][0]), FieldBits(sb));
            } else {
                for (int ch = 0; ch < 2; ++ch)
                    w.Put(static_cast<uint32_t>(alloc[sb][ch]), FieldBits(sb));
            }
        }
        auto allocOf = [&](int sb, int ch) { return sb >= SharedFrom() ? alloc[sb][0] : alloc[sb][ch]; };
        for (int sb = 0; sb < 30; ++sb)
            for (int ch = 0; ch < 2; ++ch)
                if (allocOf(sb, ch)) w.Put(static_cast<uint32_t>(scfsi[sb][ch]), 2);
        static const int count[4] = {3, 2, 1, 2};
        for (int sb = 0; sb < 30; ++sb)
            for (int ch = 0; ch < 2; ++ch)
                if (allocOf(sb, ch))
                    for (int k = 0; k < count[scfsi[sb][ch]]; ++k)
                        w.Put(static_cast<uint32_t>(sf[sb][ch][k]), 6);
        for (int p = 0; p < 3; ++p) {
            for (int g = 0; g < 4; ++g) {
                for (int sb = 0; sb < 30; ++sb) {
                    const int channels = sb >= SharedFrom() ? 1 : 2;
                    for (int ch = 0; ch < channels; ++ch) {
                        const int cls = Class(sb, allocOf(sb, ch));
                        if (!cls) continue;
                        if (Grouped(cls)) {
                            w.Put(code(p, g, sb, ch), CodeBits(cls));
                        } else {
                            for (int k = 0; k < 3; ++k) w.Put(code(p, g, sb, ch), CodeBits(cls));
                        }
                    }
                }
            }
        }
        auto bytes = w.Bytes();
        EXPECT_LE(bytes.size(), 626u);
        bytes.resize(626, 0);
        return bytes;
    }
};

const double kMultiplier0 = 65536.0;  // scale factor 0

float SampleAt(const DecoderState& d, int part, int granule, int k, int entry) {
    return d.samples[64 * (12 * part + 3 * granule + k) + entry];
}

TEST(Layer2Frames, GroupedSamplesAndScfsi) {
    Layer2Frame f;
    f.alloc[0][0] = 1;  // class 1: 3 levels, grouped in 5 bits
    f.scfsi[0][0] = 1;  // parts 0 and 1 share the first scale factor
    f.sf[0][0][0] = 3;  // 2^-1
    f.sf[0][0][1] = 6;  // 2^-2
    f.alloc[1][1] = 2;  // row 0 value 2: class 3 (7 levels, 3 bits each)
    f.scfsi[1][1] = 2;
    f.code = [](int, int, int sb, int) { return sb == 0 ? 5u : 6u; };
    auto d = NewDecoder();
    ASSERT_TRUE(SetUpFor(*d, Header(2, 10, 0, 0)));
    auto bytes = f.Bytes();
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    TDecodeResult r{};
    DecodeFrame(*d, r, bytes.data(), static_cast<int32_t>(bytes.size()), pcm.data());
    ASSERT_EQ(r.BytesConsumed, 626);
    ASSERT_EQ(r.PcmBytes, 1152 * 4);
    // Code 5 degroups to 5 mod 3 - 1 = 1, (5 div 3) mod 3 - 1 = 0, (5 div 9) mod 3 - 1 = -1.
    const double p01 = 2.0 / 3 * kMultiplier0 / 2, p2 = 2.0 / 3 * kMultiplier0 / 4;
    for (int part = 0; part < 3; ++part) {
        const double p = part < 2 ? p01 : p2;
        for (int g = 0; g < 4; ++g) {
            EXPECT_NEAR(SampleAt(*d, part, g, 0, 0), p, 1e-2);
            EXPECT_EQ(SampleAt(*d, part, g, 1, 0), 0.0f);
            EXPECT_NEAR(SampleAt(*d, part, g, 2, 0), -p, 1e-2);
            // Subband 1, channel 1 (entry 3): code 6 - 3 = 3 of 7 levels.
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(SampleAt(*d, part, g, k, 3), 3 * 2.0 / 7 * kMultiplier0, 1e-2);
            EXPECT_EQ(SampleAt(*d, part, g, 0, 1), 0.0f);  // channel 1 of subband 0
        }
    }
}

TEST(Layer2Frames, JointStereoSharesCodesAboveTheBound) {
    Layer2Frame f;
    f.mode = 1;
    f.ext = 0;          // shared from subband 4
    f.alloc[4][0] = 3;  // row 1 value 3: class 3, 7 levels
    f.scfsi[4][0] = 2;
    f.scfsi[4][1] = 2;
    f.sf[4][0][0] = 0;
    f.sf[4][1][0] = 3;
    f.alloc[2][1] = 1;  // an unshared subband below the bound, channel 1 only
    f.scfsi[2][1] = 2;
    f.code = [](int p, int g, int, int) { return static_cast<uint32_t>((p + g) % 7); };
    auto d = NewDecoder();
    ASSERT_TRUE(SetUpFor(*d, Header(2, 10, 0, 1)));
    auto bytes = f.Bytes();
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    TDecodeResult r{};
    DecodeFrame(*d, r, bytes.data(), static_cast<int32_t>(bytes.size()), pcm.data());
    ASSERT_EQ(r.BytesConsumed, 626);
    for (int part = 0; part < 3; ++part) {
        for (int g = 0; g < 4; ++g) {
            const double v = ((part + g) % 7 - 3) * 2.0 / 7;
            EXPECT_NEAR(SampleAt(*d, part, g, 1, 8), v * kMultiplier0, 1e-2);
            EXPECT_NEAR(SampleAt(*d, part, g, 1, 9), v * kMultiplier0 / 2, 1e-2);
        }
    }
}

TEST(Layer2Frames, SubbandsAboveTheLimitAreSkippedButKeepTheBitsAligned) {
    Layer2Frame f;
    f.alloc[0][0] = 3;
    f.alloc[20][0] = 5;  // above the limit below: its bits are skipped
    f.alloc[20][1] = 7;
    f.alloc[25][1] = 3;  // class 17 (65535 levels, 16 bits)
    f.code = [](int p, int g, int sb, int) { return static_cast<uint32_t>(sb == 0 ? (p * 4 + g) % 15 : 0x5A5A); };
    auto full = NewDecoder();
    auto limited = NewDecoder();
    ASSERT_TRUE(SetUpFor(*full, Header(2, 10, 0, 0)));
    ASSERT_TRUE(SetUpFor(*limited, Header(2, 10, 0, 0), 0, 8000));
    ASSERT_LT(limited->l12Limit, 40);
    auto bytes = f.Bytes();
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    TDecodeResult r{};
    DecodeFrame(*full, r, bytes.data(), static_cast<int32_t>(bytes.size()), pcm.data());
    DecodeFrame(*limited, r, bytes.data(), static_cast<int32_t>(bytes.size()), pcm.data());
    ASSERT_EQ(r.BytesConsumed, 626);
    for (int row = 0; row < 36; ++row) {
        EXPECT_EQ(limited->samples[64 * row], full->samples[64 * row]) << row;
        EXPECT_NE(full->samples[64 * row + 40], 0.0f);
        EXPECT_EQ(limited->samples[64 * row + 40], 0.0f);
        EXPECT_EQ(limited->samples[64 * row + 51], 0.0f);
    }
}

TEST(Layer2Frames, FramesThatRunPastTheirLengthAreRefused) {
    Layer2Frame f;
    for (int sb = 0; sb < 11; ++sb) f.alloc[sb][0] = f.alloc[sb][1] = 15;  // 16-bit samples
    auto d = NewDecoder();
    ASSERT_TRUE(SetUpFor(*d, Header(2, 10, 0, 0)));
    std::vector<uint8_t> bytes(626, 0);
    BitWriter w;
    for (uint8_t b : Header(2, 10, 0, 0)) w.Put(b, 8);
    for (int sb = 0; sb < 11; ++sb) w.Put(15, 4), w.Put(15, 4);
    std::memcpy(bytes.data(), w.Bytes().data(), w.Bytes().size());
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    TDecodeResult r{};
    DecodeFrame(*d, r, bytes.data(), static_cast<int32_t>(bytes.size()), pcm.data());
    EXPECT_EQ(r.BytesConsumed, 0);
    EXPECT_EQ(r.PcmBytes, 0);
}

// Layer I: 44.1 kHz 384 kbit/s (index 12), 4-bit allocations.
std::vector<uint8_t> Layer1Frame(int mode, int ext, const int (&alloc)[32][2], int sharedFrom,
                                 uint32_t code) {
    BitWriter w;
    for (uint8_t b : Header(3, 12, 0, mode, ext)) w.Put(b, 8);
    const int channels = mode == 3 ? 1 : 2;
    for (int sb = 0; sb < 32; ++sb) {
        const int n = sb >= sharedFrom ? 1 : channels;
        for (int ch = 0; ch < n; ++ch) w.Put(static_cast<uint32_t>(alloc[sb][ch]), 4);
    }
    auto allocOf = [&](int sb, int ch) { return sb >= sharedFrom ? alloc[sb][0] : alloc[sb][ch]; };
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < channels; ++ch)
            if (allocOf(sb, ch)) w.Put(sb == 0 ? 0 : 3, 6);
    for (int s = 0; s < 12; ++s)
        for (int sb = 0; sb < 32; ++sb) {
            const int n = sb >= sharedFrom ? 1 : channels;
            for (int ch = 0; ch < n; ++ch)
                if (allocOf(sb, ch)) w.Put(code & ((1u << (allocOf(sb, ch) + 1)) - 1), allocOf(sb, ch) + 1);
        }
    auto bytes = w.Bytes();
    const size_t length = 4 * ((384 * 240) / 882);
    EXPECT_LE(bytes.size(), length);
    bytes.resize(length, 0);
    return bytes;
}

TEST(Layer1Frames, JointStereoFromSubband16AndTheForbiddenAllocation) {
    int alloc[32][2] = {};
    alloc[0][0] = 3;   // 4-bit samples
    alloc[16][0] = 2;  // shared (mode extension 3): 3-bit samples for both channels
    auto d = NewDecoder();
    ASSERT_TRUE(SetUpFor(*d, Header(3, 12, 0, 1, 3)));
    auto bytes = Layer1Frame(1, 3, alloc, 16, 0x6);
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    TDecodeResult r{};
    DecodeFrame(*d, r, bytes.data(), static_cast<int32_t>(bytes.size()), pcm.data());
    ASSERT_EQ(r.BytesConsumed, static_cast<int32_t>(bytes.size()));
    ASSERT_EQ(r.PcmBytes, 384 * 4);
    for (int s = 0; s < 12; ++s) {
        // Subband 0: code 6 of 15 levels -> 6 - 7 = -1, scale factor 0.
        EXPECT_NEAR(d->samples[64 * s], -1 * 2.0 / 15 * kMultiplier0, 1e-2);
        // Subband 16 both channels: code 6 of 7 levels -> 3, scale factor 3 (2^-1).
        EXPECT_NEAR(d->samples[64 * s + 32], 3 * 2.0 / 7 * kMultiplier0 / 2, 1e-2);
        EXPECT_NEAR(d->samples[64 * s + 33], 3 * 2.0 / 7 * kMultiplier0 / 2, 1e-2);
    }

    alloc[5][1] = 15;  // forbidden
    auto bad = Layer1Frame(1, 3, alloc, 16, 0x6);
    DecodeFrame(*d, r, bad.data(), static_cast<int32_t>(bad.size()), pcm.data());
    EXPECT_EQ(r.BytesConsumed, 0);
}

TEST(Layer1Frames, SingleChannelUsesOneAllocationPerSubband) {
    int alloc[32][2] = {};
    alloc[31][0] = 1;  // the top subband: skipped at the player's band limit
    alloc[1][0] = 1;
    auto full = NewDecoder();
    auto limited = NewDecoder();
    ASSERT_TRUE(SetUpFor(*full, Header(3, 12, 0, 3), kOutputFullBand));
    ASSERT_TRUE(SetUpFor(*limited, Header(3, 12, 0, 3), 0, 24000));
    auto bytes = Layer1Frame(3, 0, alloc, 32, 0x3);
    std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2);
    TDecodeResult r{};
    DecodeFrame(*full, r, bytes.data(), static_cast<int32_t>(bytes.size()), pcm.data());
    ASSERT_EQ(r.PcmBytes, 384 * 2);
    DecodeFrame(*limited, r, bytes.data(), static_cast<int32_t>(bytes.size()), pcm.data());
    ASSERT_EQ(r.PcmBytes, 384 * 2);
    for (int s = 0; s < 12; ++s) {
        EXPECT_NEAR(full->samples[64 * s + 1], 2 * 2.0 / 3 * kMultiplier0 / 2, 1e-2);
        EXPECT_EQ(limited->samples[64 * s + 1], full->samples[64 * s + 1]);
        EXPECT_NE(full->samples[64 * s + 31], 0.0f);
        EXPECT_EQ(limited->samples[64 * s + 31], 0.0f);
    }
}

TEST(Layer12DamagedInput, RandomFramesDecodeSafely) {
    std::mt19937 rng(77);
    const std::vector<std::vector<uint8_t>> heads = {
        Header(2, 10, 0, 1), Header(2, 6, 1, 3), Header(2, 14, 2, 0, 0, true),
        Header(3, 12, 0, 1), Header(3, 4, 2, 3), Header(3, 8, 1, 0, 0, true)};
    for (const auto& head : heads) {
        for (int32_t flags : {0, int32_t{kOutputMonoMix}, int32_t{kOutputRight},
                              int32_t{kOutputFullBand}}) {
            auto d = NewDecoder();
            ASSERT_TRUE(SetUpFor(*d, head, flags));
            std::vector<uint8_t> h4 = head;
            TMPEGFrameHeader h{};
            const int32_t len = ParseFrameHeader(h4.data(), 0, h);
            for (int i = 0; i < 200; ++i) {
                const size_t size = static_cast<size_t>(len);
                std::unique_ptr<uint8_t[]> frame(new uint8_t[size]);
                for (size_t k = 0; k < size; ++k) frame[k] = static_cast<uint8_t>(rng());
                std::memcpy(frame.get(), head.data(), 3);
                frame[3] = static_cast<uint8_t>((head[3] & 0xC0) | (rng() & 0x3F));
                std::vector<int16_t> pcm(kMaxPcmBytesPerFrame / 2 + 4, 0x7A7A);
                TDecodeResult r{};
                DecodeFrame(*d, r, frame.get(), static_cast<int32_t>(size), pcm.data());
                if (r.BytesConsumed > 0) {
                    ASSERT_EQ(pcm[static_cast<size_t>(r.PcmBytes / 2)], 0x7A7A);
                }
            }
        }
    }
}

}  // namespace
}  // namespace wl
