// Frame header arithmetic, sync search, free-format measuring and the bit readers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "decoder/bit_reader.h"
#include "decoder/frame_header.h"

namespace wl {
namespace {

int32_t Parse(std::vector<uint8_t> bytes, TMPEGFrameHeader& h, int32_t available = 4) {
    bytes.resize(std::max<size_t>(bytes.size(), 4));
    return ParseFrameHeader(bytes.data(), available, h);
}

TEST(FrameHeader, LengthsAndBitratesOfEveryLayerAndVersion) {
    TMPEGFrameHeader h{};
    int32_t bitrate = 0;
    const uint8_t mp3[4] = {0xFF, 0xFB, 0x90, 0x64};
    EXPECT_EQ(ProbeFrame(mp3, 4, h, bitrate), 417);
    EXPECT_EQ(bitrate, 128000);
    EXPECT_EQ(h.SyncKind, 1);
    EXPECT_EQ(h.VersionId, 1);
    EXPECT_EQ(h.Layer, 1);
    EXPECT_EQ(h.ProtectionBit, 1);
    EXPECT_EQ(h.BitrateIndex, 9);
    EXPECT_EQ(h.SampleRateIndex, 0);
    EXPECT_EQ(h.Mode, 1);
    EXPECT_EQ(h.ModeExtension, 2);
    EXPECT_EQ(h.Copyright, 0);
    EXPECT_EQ(h.Original, 1);

    // Padding is the caller's business: the length stays 417.
    EXPECT_EQ(Parse({0xFF, 0xFB, 0x92, 0x64}, h), 417);
    EXPECT_EQ(h.Padding, 1);

    // LSF 80 kbit/s at 22050 Hz and the MPEG 2.5 twin at 11025 Hz.
    EXPECT_EQ(Parse({0xFF, 0xF3, 0x90, 0x64}, h), 261);
    EXPECT_EQ(Parse({0xFF, 0xE3, 0x90, 0x64}, h), 522);
    EXPECT_EQ(h.SyncKind, 2);
    EXPECT_EQ(h.VersionId, 0);

    // Layer I 32 kbit/s 44100 Hz: whole 4-byte slots.
    EXPECT_EQ(Parse({0xFF, 0xFF, 0x10, 0x00}, h), 32);
    // Layer II 192 kbit/s 48000 Hz: 144000 * 192 / 48000.
    EXPECT_EQ(Parse({0xFF, 0xFD, 0xA4, 0x00}, h), 576);

    // Bitrates of the other rows.
    const uint8_t lsf[4] = {0xFF, 0xF3, 0x90, 0x64};
    EXPECT_EQ(ProbeFrame(lsf, 4, h, bitrate), 261);
    EXPECT_EQ(bitrate, 80000);
    const uint8_t l1[4] = {0xFF, 0xFF, 0x10, 0x00};
    EXPECT_EQ(ProbeFrame(l1, 4, h, bitrate), 32);
    EXPECT_EQ(bitrate, 32000);
}

TEST(FrameHeader, RejectsWhatIsNoHeader) {
    TMPEGFrameHeader h{};
    EXPECT_LT(Parse({0xFF, 0xFB, 0x9C, 0x64}, h), 0);   // reserved sampling rate
    EXPECT_EQ(Parse({0xFF, 0xFB, 0xF0, 0x64}, h), 0);   // bitrate index 15
    EXPECT_EQ(Parse({0xFF, 0xF9, 0x90, 0x64}, h), 0);   // layer code 0
    EXPECT_EQ(Parse({0xFE, 0xFB, 0x90, 0x64}, h), 0);   // no sync
    EXPECT_EQ(Parse({0xFF, 0xEB, 0x90, 0x64}, h), 0);   // reserved version (not MPEG 2.5)
    EXPECT_EQ(Parse({0xFF, 0xDB, 0x90, 0x64}, h), 0);   // 10-bit sync only
    EXPECT_EQ(h.SyncKind, 0);
    // Free format measured with nothing available.
    EXPECT_EQ(Parse({0xFF, 0xFB, 0x00, 0x64}, h, 0), 0);
}

TEST(FrameHeader, FindFrameTakesTheFirstCandidateAndNeverReadsPastTheData) {
    std::vector<uint8_t> buf = {0x00, 0x12, 0xFF, 0x00, 0xFF, 0xFB, 0x90, 0x64, 0, 0};
    TMPEGFrameHeader h{};
    int32_t bitrate = 0, offset = -1;
    EXPECT_EQ(FindFrame(buf.data(), static_cast<int32_t>(buf.size()), h, bitrate, offset), 417);
    EXPECT_EQ(offset, 4);

    // Only 0xFF in the last byte: no candidate, offset untouched.
    std::vector<uint8_t> tail = {1, 2, 3, 0xFF};
    offset = 77;
    EXPECT_EQ(FindFrame(tail.data(), 4, h, bitrate, offset), 0);
    EXPECT_EQ(offset, 77);

    // A candidate two bytes before the end is parsed from a padded copy
    // (heap buffer of exactly that size, so a sanitizer would see an overrun).
    auto* exact = new uint8_t[3]{0x00, 0xFF, 0xFB};
    offset = -1;
    EXPECT_LE(FindFrame(exact, 3, h, bitrate, offset), 0);
    EXPECT_EQ(offset, 1);
    delete[] exact;
}

// Builds a free-format stream: frames of `length` bytes (plus one byte when
// padded) starting with FF FB 0x00|pad 0x64, filled with a byte that never
// looks like the header.
std::vector<uint8_t> FreeFormatStream(int32_t length, int frames, bool alternatePadding) {
    std::vector<uint8_t> out;
    for (int i = 0; i < frames; ++i) {
        const bool pad = alternatePadding && (i % 2 == 1);
        const size_t start = out.size();
        out.resize(start + static_cast<size_t>(length + (pad ? 1 : 0)), 0x55);
        out[start] = 0xFF;
        out[start + 1] = 0xFB;
        out[start + 2] = pad ? 0x02 : 0x00;
        out[start + 3] = 0x64;
    }
    return out;
}

TEST(FreeFormat, MeasuresTheRepeatingFrameChain) {
    auto s = FreeFormatStream(700, 8, false);
    EXPECT_EQ(FreeFormatFrameLength(s.data(), static_cast<int32_t>(s.size())), 700);
    TMPEGFrameHeader h{};
    int32_t bitrate = 0;
    EXPECT_EQ(ProbeFrame(s.data(), static_cast<int32_t>(s.size()), h, bitrate), 700);
    EXPECT_EQ(bitrate, 700 * 882 * 1000 / 2880);

    // Padded frames step one byte further; the length stays the unpadded one.
    auto p = FreeFormatStream(600, 8, true);
    EXPECT_EQ(FreeFormatFrameLength(p.data(), static_cast<int32_t>(p.size())), 600);
}

TEST(FreeFormat, LongMeasuredFramesGiveTheirBitrateWithoutOverflow) {
    // Layer I free-format frames 3000 bytes apart at 44.1 kHz: the product
    // 3000 x 882 x 1000 does not fit 32 bits, the bitrate does.
    std::vector<uint8_t> s;
    for (int i = 0; i < 3; ++i) {
        const size_t start = s.size();
        s.resize(start + 3000, 0x55);
        s[start] = 0xFF;
        s[start + 1] = 0xFF;
        s[start + 2] = 0x00;
        s[start + 3] = 0xC0;
    }
    TMPEGFrameHeader h{};
    int32_t bitrate = 0;
    EXPECT_EQ(ProbeFrame(s.data(), static_cast<int32_t>(s.size()), h, bitrate), 3000);
    EXPECT_EQ(bitrate, static_cast<int32_t>(int64_t{3000} * 882 * 1000 / 960));
}

TEST(FreeFormat, RejectsShortDistancesAndBrokenChains) {
    // A header copy closer than 24 bytes is never taken as the frame length.
    auto s = FreeFormatStream(20, 40, false);
    const int32_t measured = FreeFormatFrameLength(s.data(), static_cast<int32_t>(s.size()));
    EXPECT_GE(measured, 24);
    EXPECT_EQ(measured % 20, 0);

    // The second byte changes from the third frame on (CRC bit): the chain breaks.
    auto b = FreeFormatStream(700, 6, false);
    for (size_t pos = 1400; pos < b.size(); pos += 700) b[pos + 1] = 0xFA;
    EXPECT_EQ(FreeFormatFrameLength(b.data(), static_cast<int32_t>(b.size())), 0);

    // No repetition at all.
    std::vector<uint8_t> one = {0xFF, 0xFB, 0x00, 0x64};
    one.resize(3000, 0x11);
    EXPECT_EQ(FreeFormatFrameLength(one.data(), static_cast<int32_t>(one.size())), 0);
}

TEST(BitReaders, MainBitsReadsPeeksAndCountsPositions) {
    // 1010 1100 0011 0101 1111 0000 ...
    std::vector<uint8_t> data = {0xAC, 0x35, 0xF0, 0x0F, 0x81, 0x42, 0, 0, 0, 0, 0, 0};
    TMainBits b;
    b.SetBitSource(data.data());
    EXPECT_EQ(b.BitPosition(), 0);
    EXPECT_EQ(b.GetBits(3), 5u);
    EXPECT_EQ(b.BitPosition(), 3);
    EXPECT_EQ(b.PeekBits(5), 0x0Cu);  // 0 1100
    EXPECT_EQ(b.BitPosition(), 3);
    b.Consume(5);
    EXPECT_EQ(b.GetBits(12), 0x35Fu);
    EXPECT_EQ(b.BitPosition(), 20);
    EXPECT_EQ(b.GetBits(24), 0x00F814u);
    EXPECT_EQ(b.BitPosition(), 44);
    EXPECT_EQ(b.GetBitsForEscape(4), 2u);
    EXPECT_EQ(b.BitPosition(), 48);
}

TEST(BitReaders, FrameBitsReadsAndSkipsAcrossBytes) {
    std::vector<uint8_t> data = {0xAC, 0x35, 0xF0, 0x0F, 0x81, 0x42, 0x99, 0, 0, 0, 0, 0};
    TFrameBits f;
    f.SetFrameSource(data.data());
    EXPECT_EQ(f.ReadBits(4), 0xAu);
    f.SkipBits(4);                       // within held bits
    EXPECT_EQ(f.ReadBits(16), 0x35F0u);
    f.SkipBits(13);                      // past the held bits: 0F 81 -> lands 5 bits into 0x81
    EXPECT_EQ(f.ReadBits(3), 0x1u);      // 0x81 = 1000 0001: bits 5..7 = 001
    EXPECT_EQ(f.ReadBits(8), 0x42u);
    f.SkipBits(1);
    EXPECT_EQ(f.ReadBits(7), 0x19u);     // 0x99 = 1001 1001 -> after 1 bit: 001 1001
}

}  // namespace
}  // namespace wl
