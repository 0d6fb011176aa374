// Layer II files that twolame and ffmpeg make at test time, decoded by us (full
// band) and by mpg123; the two outputs must agree closely.
#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "tests/test_support.h"
#include "tools/decode_file.h"

namespace {

using wl::test::RunCommand;
using wl::test::ShellQuote;

struct Mp2Case {
    const char* name;
    const char* encoder;  // "twolame" or "ffmpeg"
    int32_t sampleRate;
    int32_t channels;
    const char* options;
};

void PrintTo(const Mp2Case& c, std::ostream* os) { *os << c.name; }

const Mp2Case kCases[] = {
    {"twolame_32k_stereo_192", "twolame", 32000, 2, "-b 192 -m s"},
    {"twolame_44k_joint_128", "twolame", 44100, 2, "-b 128 -m j"},
    {"twolame_44k_stereo_384", "twolame", 44100, 2, "-b 384 -m s"},
    {"twolame_48k_joint_64", "twolame", 48000, 2, "-b 64 -m j"},
    {"twolame_48k_dual_256", "twolame", 48000, 2, "-b 256 -m d"},
    {"twolame_44k_mono_96", "twolame", 44100, 1, "-b 96 -m m"},
    {"twolame_32k_mono_48", "twolame", 32000, 1, "-b 48 -m m"},
    {"twolame_lsf_16k_joint_64", "twolame", 16000, 2, "-b 64 -m j"},
    {"twolame_lsf_22k_stereo_96", "twolame", 22050, 2, "-b 96 -m s"},
    {"twolame_lsf_24k_mono_32", "twolame", 24000, 1, "-b 32 -m m"},
    {"ffmpeg_44k_stereo_192", "ffmpeg", 44100, 2, "-b:a 192k"},
    {"ffmpeg_48k_stereo_320", "ffmpeg", 48000, 2, "-b:a 320k"},
    {"ffmpeg_32k_mono_64", "ffmpeg", 32000, 1, "-b:a 64k"},
    {"ffmpeg_lsf_22k_stereo_64", "ffmpeg", 22050, 2, "-b:a 64k"},
};

class Layer2Compare : public ::testing::TestWithParam<Mp2Case> {
protected:
    void SetUp() override {
        const Mp2Case& c = GetParam();
        if (!wl::test::OnPath(c.encoder) || !wl::test::OnPath("mpg123")) {
            GTEST_SKIP() << c.encoder << " and mpg123 are needed for this comparison (apt-get "
                         << "install " << c.encoder << " mpg123, or run scripts/setup.sh)";
        }
        ASSERT_FALSE(dir_.path().empty()) << "cannot create a temporary directory";
    }
    wl::test::TempDir dir_;
};

TEST_P(Layer2Compare, AgreesWithMpg123) {
    const Mp2Case& c = GetParam();
    const std::string wav = dir_.File("in.wav");
    const std::string mp2 = dir_.File("out.mp2");
    const auto signal = wl::test::SynthesizeSignal(c.sampleRate, c.channels, 3.0, 11);
    ASSERT_TRUE(wl::test::WriteWav(wav, signal, c.channels, c.sampleRate));

    std::string command;
    if (std::string(c.encoder) == "twolame") {
        command = "twolame --quiet " + std::string(c.options) + " " + ShellQuote(wav) + " " +
                  ShellQuote(mp2);
    } else {
        command = "ffmpeg -nostdin -loglevel error -y -i " + ShellQuote(wav) + " -c:a mp2 " +
                  c.options + " -f mp2 " + ShellQuote(mp2);
    }
    const auto encoded = RunCommand(command + " 2>&1");
    ASSERT_EQ(encoded.exitCode, 0) << c.encoder << " failed: " << encoded.output;

    bool ok = false;
    const auto file = wl::test::ReadFileBytes(mp2, &ok);
    ASSERT_TRUE(ok && !file.empty());

    std::vector<int16_t> ours;
    wl::tools::DecodeOptions options;  // full band
    const auto outcome = wl::tools::DecodeToPcm(file, options, ours);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    EXPECT_EQ(outcome.facts.firstHeader.Layer, 2);
    EXPECT_EQ(outcome.facts.sampleRate, c.sampleRate);
    EXPECT_EQ(outcome.facts.channels, c.channels);
    EXPECT_EQ(outcome.facts.silentFrames, 0);

    const auto theirs = RunCommand("mpg123 -q -s " + ShellQuote(mp2) + " 2>/dev/null");
    ASSERT_EQ(theirs.exitCode, 0) << "mpg123 failed";
    const auto reference = wl::test::BytesToPcm16(
        std::span(reinterpret_cast<const uint8_t*>(theirs.output.data()), theirs.output.size()));
    EXPECT_EQ(ours.size(), reference.size()) << "frame counts differ";
    EXPECT_GE(ours.size(), signal.size());

    const auto cmp = wl::test::ComparePcm(ours, reference);
    std::cout << "[ vs mpg123 ] " << c.name << ": " << wl::test::Describe(cmp) << "\n";
    ASSERT_GT(cmp.count, 0u);
    EXPECT_GE(cmp.psnrDb, 90.0) << wl::test::Describe(cmp);
    EXPECT_LE(cmp.maxAbsDiff, 4) << wl::test::Describe(cmp);
}

INSTANTIATE_TEST_SUITE_P(Encodings, Layer2Compare, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Mp2Case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
