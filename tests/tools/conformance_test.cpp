// The compliance streams of all three layers decoded in full band against
// their reference PCM (../shared/conformance): at most 1 LSB off and RMS error
// below 1/sqrt(12) LSB.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <iostream>
#include <string>

#include "tests/test_support.h"
#include "tools/decode_file.h"

namespace {

using wl::test::ComparePcm;

struct Vector {
    const char* name;
    int32_t sampleRate;
    int32_t firstChannels;
    // Our output runs this many samples per channel ahead of the reference.
    int32_t leadSamplesPerChannel;
    // The reference runs on past the end of the stream (Layers I and II):
    // compare over the decoded length.
    bool referenceRunsLonger = false;
};

void PrintTo(const Vector& v, std::ostream* os) { *os << v.name; }

const Vector kVectors[] = {
    {"M2L3_bitrate_16_all", 16000, 1, 0},
    {"M2L3_bitrate_22_all", 22050, 1, 0},
    {"M2L3_bitrate_24_all", 24000, 1, 0},
    {"M2L3_compl24", 24000, 1, 0},
    {"M2L3_noise", 22050, 2, 0},
    {"l3-compl", 48000, 1, 0},
    {"l3-he_32khz", 32000, 1, 0},
    {"l3-he_44khz", 44100, 1, 0},
    {"l3-he_48khz", 48000, 1, 0},
    {"l3-he_free", 44100, 2, 0},
    {"l3-he_mode", 44100, 1, 0},  // switches between mono and stereo frames
    {"l3-hecommon", 44100, 2, 0},
    {"l3-si", 44100, 1, 0},
    {"l3-si_block", 44100, 1, 0},
    {"l3-si_huff", 44100, 1, 0},
    {"l3-sin1k0db", 44100, 2, 2 * 1152},  // the reference starts two frames late
    {"l3-test45", 22050, 2, 0},
    {"l3-test46", 22050, 2, 0},
    {"l1-fl1", 32000, 2, 0, true},
    {"l1-fl2", 44100, 2, 0, true},
    {"l1-fl3", 48000, 2, 0, true},
    {"l1-fl4", 32000, 1, 0, true},
    {"l1-fl5", 48000, 2, 0, true},
    {"l1-fl6", 44100, 2, 0, true},
    {"l1-fl7", 44100, 2, 0, true},
    {"l1-fl8", 44100, 2, 0, true},
    {"l2-fl10", 32000, 2, 0, true},
    {"l2-fl11", 44100, 2, 0, true},
    {"l2-fl12", 48000, 2, 0, true},
    {"l2-fl13", 32000, 1, 0, true},
    {"l2-fl14", 48000, 2, 0, true},
    {"l2-fl15", 48000, 2, 0, true},
    {"l2-fl16", 48000, 2, 0, true},
    {"l2-test32", 24000, 2, 0, true},
};

class Conformance : public ::testing::TestWithParam<Vector> {};

TEST_P(Conformance, MatchesReferenceAtFullAccuracy) {
    const Vector& v = GetParam();
    const std::string dir = wl::test::ConformanceDir();
    if (dir.empty()) {
        GTEST_SKIP() << "conformance folder not found: expected ../shared/conformance beside the "
                        "source tree, or set WL_SHARED_DIR";
    }
    const std::string bit = dir + "/" + v.name + ".bit";
    const std::string ref = dir + "/" + v.name + ".pcm";
    if (!wl::test::FileExists(bit) || !wl::test::FileExists(ref)) {
        GTEST_SKIP() << v.name << ".bit/.pcm not in " << dir;
    }
    bool ok = false;
    const auto stream = wl::test::ReadFileBytes(bit, &ok);
    ASSERT_TRUE(ok) << bit;
    const auto reference = wl::test::ReadPcm16(ref, &ok);
    ASSERT_TRUE(ok) << ref;

    // Each frame keeps its own channel count, as in the references.
    wl::tools::DecodeOptions options;
    options.fullBand = true;
    options.followChannelChanges = true;
    std::vector<int16_t> decoded;
    const auto outcome = wl::tools::DecodeToPcm(stream, options, decoded);
    ASSERT_TRUE(outcome.ok) << outcome.error;
    const auto& facts = outcome.facts;
    EXPECT_EQ(facts.sampleRate, v.sampleRate);
    EXPECT_EQ(facts.channels, v.firstChannels);
    EXPECT_EQ(facts.silentFrames, 0) << "frames the decoder rejected";

    const size_t lead = static_cast<size_t>(v.leadSamplesPerChannel) *
                        static_cast<size_t>(facts.channels);
    ASSERT_GE(decoded.size(), lead);
    const std::span<const int16_t> ours(decoded.data() + lead, decoded.size() - lead);

    if (v.referenceRunsLonger) {
        // Every frame of the stream is decoded: the output is a whole number
        // of frames, no longer than the reference.
        const size_t frame = static_cast<size_t>(wl::tools::SamplesPerFrame(facts.firstHeader)) *
                             static_cast<size_t>(facts.channels);
        EXPECT_EQ(ours.size(), frame * static_cast<size_t>(facts.frames));
        EXPECT_LE(ours.size(), reference.size());
    } else {
        // Some references lack the last frame; ours may not be shorter than that.
        const size_t oneFrame = static_cast<size_t>(wl::tools::SamplesPerFrame(facts.firstHeader)) *
                                (facts.channelsChanged ? 2 : static_cast<size_t>(facts.channels));
        EXPECT_GE(ours.size() + oneFrame, reference.size())
            << "decoded " << ours.size() << " samples, reference has " << reference.size();
    }

    const auto c = ComparePcm(ours, reference);
    std::cout << "[ conformance ] " << v.name << ": " << wl::test::Describe(c) << "\n";
    RecordProperty("max_diff", c.maxAbsDiff);
    RecordProperty("psnr_db", std::to_string(c.psnrDb));
    ASSERT_GT(c.count, 0u);
    EXPECT_LE(c.maxAbsDiff, 1) << wl::test::Describe(c);
    EXPECT_LT(c.rmsLsb, 1.0 / std::sqrt(12.0)) << wl::test::Describe(c);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Conformance, ::testing::ValuesIn(kVectors),
                         [](const ::testing::TestParamInfo<Vector>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

}  // namespace
