// Files that lame makes at test time, decoded by us (full band) and by mpg123;
// the two outputs must agree closely. Covers MPEG-1/2/2.5 rates, CBR and VBR,
// stereo, joint stereo and mono, and CRC-protected frames.
#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "tests/test_support.h"
#include "tools/decode_file.h"

namespace {

using wl::test::RunCommand;
using wl::test::ShellQuote;

struct LameCase {
    const char* name;
    int32_t sampleRate;
    int32_t channels;
    const char* lameOptions;
};

void PrintTo(const LameCase& c, std::ostream* os) { *os << c.name; }

const LameCase kCases[] = {
    {"cbr32_joint", 44100, 2, "--cbr -b 32 -m j"},
    {"cbr64_joint", 44100, 2, "--cbr -b 64 -m j"},
    {"cbr128_joint", 44100, 2, "--cbr -b 128 -m j"},
    {"cbr128_stereo", 44100, 2, "--cbr -b 128 -m s"},
    {"cbr192_stereo", 44100, 2, "--cbr -b 192 -m s"},
    {"cbr320_joint", 44100, 2, "--cbr -b 320 -m j"},
    {"vbr_v2", 44100, 2, "-V 2"},
    {"mono64", 44100, 1, "--cbr -b 64 -m m"},
    {"mpeg1_48k", 48000, 2, "--cbr -b 160 -m j"},
    {"mpeg1_32k", 32000, 2, "--cbr -b 96 -m s"},
    {"mpeg2_16k", 16000, 2, "--cbr -b 48 -m j"},
    {"mpeg2_22k", 22050, 2, "--cbr -b 64 -m j"},
    {"mpeg2_24k_mono", 24000, 1, "--cbr -b 40 -m m"},
    {"mpeg25_8k_mono", 8000, 1, "--cbr -b 16 -m m"},
    {"mpeg25_11k", 11025, 2, "--cbr -b 32 -m j"},
    {"mpeg25_12k", 12000, 2, "--cbr -b 40 -m s"},
    {"crc128", 44100, 2, "--cbr -b 128 -m j -p"},
    {"crc_mpeg2_vbr", 22050, 2, "-V 4 -p"},
};

class LameCompare : public ::testing::TestWithParam<LameCase> {
protected:
    void SetUp() override {
        if (!wl::test::OnPath("lame") || !wl::test::OnPath("mpg123")) {
            GTEST_SKIP() << "lame and mpg123 are needed for these comparisons (apt-get install "
                            "lame mpg123, or run scripts/setup.sh)";
        }
        ASSERT_FALSE(dir_.path().empty()) << "cannot create a temporary directory";
    }
    wl::test::TempDir dir_;
};

TEST_P(LameCompare, AgreesWithMpg123) {
    const LameCase& c = GetParam();
    const std::string wav = dir_.File("in.wav");
    const std::string mp3 = dir_.File("out.mp3");
    const auto signal = wl::test::SynthesizeSignal(c.sampleRate, c.channels, 3.0, 7);
    ASSERT_TRUE(wl::test::WriteWav(wav, signal, c.channels, c.sampleRate));

    char resample[32];
    std::snprintf(resample, sizeof resample, "%g", c.sampleRate / 1000.0);
    const auto encoded = RunCommand("lame --quiet --resample " + std::string(resample) + " " +
                                    c.lameOptions + " " + ShellQuote(wav) + " " +
                                    ShellQuote(mp3) + " 2>&1");
    ASSERT_EQ(encoded.exitCode, 0) << "lame failed: " << encoded.output;

    bool ok = false;
    const auto file = wl::test::ReadFileBytes(mp3, &ok);
    ASSERT_TRUE(ok && !file.empty());

    std::vector<int16_t> ours;
    wl::tools::DecodeOptions options;  // full band
    options.gapless = false;
    const auto outcome = wl::tools::DecodeToPcm(file, options, ours);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.facts.sampleRate, c.sampleRate);
    EXPECT_EQ(outcome.facts.channels, c.channels);
    EXPECT_FALSE(outcome.facts.channelsChanged);

    const auto theirs = RunCommand("mpg123 --no-gapless -q -s " + ShellQuote(mp3) + " 2>/dev/null");
    ASSERT_EQ(theirs.exitCode, 0) << "mpg123 failed";
    const auto reference = wl::test::BytesToPcm16(
        std::span(reinterpret_cast<const uint8_t*>(theirs.output.data()), theirs.output.size()));

    // Neither decoder plays the encoder's Xing/Info frame.
    const std::span<const int16_t> aligned(ours);
    EXPECT_EQ(aligned.size(), reference.size()) << "frame counts differ";
    // Everything the encoder got must come back (the encoder adds delay and padding).
    EXPECT_GE(aligned.size(), signal.size());

    const auto cmp = wl::test::ComparePcm(aligned, reference);
    std::cout << "[ vs mpg123 ] " << c.name << ": " << wl::test::Describe(cmp) << "\n";
    ASSERT_GT(cmp.count, 0u);
    EXPECT_GE(cmp.psnrDb, 90.0) << wl::test::Describe(cmp);
    EXPECT_LE(cmp.maxAbsDiff, 4) << wl::test::Describe(cmp);
}

INSTANTIATE_TEST_SUITE_P(Encodings, LameCompare, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<LameCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
