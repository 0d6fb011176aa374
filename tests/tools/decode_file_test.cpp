// The whole-file walk: ID3v2 tags, junk between frames, truncated ends and
// inputs without MPEG audio, on the bundled demo file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/frame_header.h"
#include "engine/frame_scanner.h"
#include "tests/test_support.h"
#include "tools/decode_file.h"

namespace {

using wl::tools::DecodeToPcm;

// Every decoded sample: these tests walk frames, not the music inside them.
wl::tools::DecodeOptions Raw() {
    wl::tools::DecodeOptions o;
    o.gapless = false;
    return o;
}

std::vector<uint8_t> Id3Tag(size_t payload, uint8_t flags) {
    std::vector<uint8_t> tag = {'I', 'D', '3', 4, 0, flags,
                                static_cast<uint8_t>((payload >> 21) & 0x7F),
                                static_cast<uint8_t>((payload >> 14) & 0x7F),
                                static_cast<uint8_t>((payload >> 7) & 0x7F),
                                static_cast<uint8_t>(payload & 0x7F)};
    // Payload with bytes that look like frame syncs, which must not be taken as audio.
    for (size_t i = 0; i < payload; ++i) tag.push_back(i % 3 ? 0xFF : 0xFB);
    if (flags & 0x10) {
        const std::vector<uint8_t> footer = {'3', 'D', 'I', 4, 0, flags, tag[6], tag[7], tag[8], tag[9]};
        tag.insert(tag.end(), footer.begin(), footer.end());
    }
    return tag;
}

class DecodeWalk : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string demo = wl::test::SourceDir() + "/demo/wavelantern-demo.mp3";
        if (!wl::test::FileExists(demo)) GTEST_SKIP() << "missing " << demo;
        file_ = wl::test::ReadFileBytes(demo);
        // Walk plain frames: without the encoder's header frame, whose byte
        // count would end the audio early once bytes are inserted.
        const auto header = DecodeToPcm(file_, Raw(), pcm_);
        ASSERT_TRUE(header.ok) << header.error;
        const auto at = file_.begin() + static_cast<std::ptrdiff_t>(header.facts.firstFrameOffset);
        file_.erase(at, at + static_cast<std::ptrdiff_t>(header.facts.headerFrameBytes));
        const auto outcome = DecodeToPcm(file_, Raw(), pcm_);
        ASSERT_TRUE(outcome.ok) << outcome.error;
        facts_ = outcome.facts;
        ASSERT_GT(facts_.frames, 20);
        frameSamples_ = 1152u * static_cast<size_t>(facts_.channels);
        ASSERT_EQ(pcm_.size(), static_cast<size_t>(facts_.frames) * frameSamples_);
        // Frame starts, found independently of the walk.
        size_t pos = facts_.firstFrameOffset;
        while (pos + 4 <= file_.size()) {
            wl::TMPEGFrameHeader h{};
            const int32_t n = wl::ParseFrameHeader(file_.data() + pos, 0, h);
            ASSERT_GT(n, 0) << "demo file has a broken frame at " << pos;
            starts_.push_back(pos);
            pos += static_cast<size_t>(n) + (h.Padding ? 1 : 0);
        }
        ASSERT_EQ(pos, file_.size());
        ASSERT_EQ(static_cast<int64_t>(starts_.size()), facts_.frames);
    }

    std::vector<uint8_t> WithInsert(size_t at, const std::vector<uint8_t>& bytes) const {
        std::vector<uint8_t> out(file_.begin(), file_.begin() + static_cast<std::ptrdiff_t>(at));
        out.insert(out.end(), bytes.begin(), bytes.end());
        out.insert(out.end(), file_.begin() + static_cast<std::ptrdiff_t>(at), file_.end());
        return out;
    }

    std::vector<uint8_t> file_;
    std::vector<int16_t> pcm_;
    wl::tools::StreamFacts facts_;
    std::vector<size_t> starts_;
    size_t frameSamples_ = 0;
};

TEST_F(DecodeWalk, LeadingId3v2TagsAreSkipped) {
    for (const uint8_t flags : {uint8_t{0}, uint8_t{0x10}}) {
        const auto tag = Id3Tag(3000, flags);
        std::vector<int16_t> pcm;
        const auto outcome = DecodeToPcm(WithInsert(0, tag), Raw(), pcm);
        ASSERT_TRUE(outcome.ok) << outcome.error;
        EXPECT_EQ(outcome.facts.audioOffset, tag.size());
        EXPECT_EQ(outcome.facts.frames, facts_.frames);
        EXPECT_TRUE(pcm == pcm_) << "flags " << int{flags};
    }
}

TEST_F(DecodeWalk, JunkBetweenFramesIsSkipped) {
    const size_t k = starts_.size() / 2;
    // 0xFF bytes that never start a sync.
    std::vector<uint8_t> junk(777);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = i % 5 == 0 ? 0xFF : static_cast<uint8_t>((i * 37) & 0x7F);
    std::vector<int16_t> pcm;
    const auto outcome = DecodeToPcm(WithInsert(starts_[k], junk), Raw(), pcm);
    ASSERT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.facts.frames, facts_.frames);
    EXPECT_EQ(outcome.facts.skippedBytes, static_cast<int64_t>(junk.size()));
    EXPECT_TRUE(pcm == pcm_);
}

TEST_F(DecodeWalk, LongJunkEndsTheAudio) {
    const size_t k = starts_.size() / 3;
    const std::vector<uint8_t> junk(wl::kResyncLimit + 100, 0x00);
    std::vector<int16_t> pcm;
    const auto outcome = DecodeToPcm(WithInsert(starts_[k], junk), Raw(), pcm);
    ASSERT_TRUE(outcome.ok);
    EXPECT_EQ(outcome.facts.frames, static_cast<int64_t>(k));
    ASSERT_EQ(pcm.size(), k * frameSamples_);
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), pcm_.begin()));
}

TEST_F(DecodeWalk, TruncatedLastFrameIsDropped) {
    for (const size_t cut : {size_t{1}, size_t{100}}) {
        std::vector<uint8_t> shorter(file_.begin(), file_.end() - static_cast<std::ptrdiff_t>(cut));
        std::vector<int16_t> pcm;
        const auto outcome = DecodeToPcm(shorter, Raw(), pcm);
        ASSERT_TRUE(outcome.ok);
        EXPECT_EQ(outcome.facts.frames, facts_.frames - 1);
        ASSERT_EQ(pcm.size(), pcm_.size() - frameSamples_);
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), pcm_.begin()));
    }
    // Cut within the first frame: no whole frame, refused as the player refuses it.
    std::vector<uint8_t> head(file_.begin(), file_.begin() + static_cast<std::ptrdiff_t>(starts_[0] + 50));
    std::vector<int16_t> pcm;
    const auto outcome = DecodeToPcm(head, Raw(), pcm);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.error, "unknown MPEG Audio format.");
}

TEST_F(DecodeWalk, FactsDescribeTheDemo) {
    EXPECT_EQ(facts_.sampleRate, 44100);
    EXPECT_EQ(facts_.channels, 2);
    EXPECT_EQ(facts_.firstBitrateKbps, 128);
    EXPECT_FALSE(facts_.freeFormat);
    EXPECT_FALSE(facts_.channelsChanged);
    EXPECT_EQ(facts_.skippedBytes, 0);
    EXPECT_EQ(facts_.samplesPerChannel, facts_.frames * 1152);
    EXPECT_DOUBLE_EQ(facts_.durationSeconds, facts_.frames * 1152 / 44100.0);
}

TEST_F(DecodeWalk, BandLimitedDecodeKeepsTheLength) {
    wl::tools::DecodeOptions options = Raw();
    options.fullBand = false;
    options.bandLimitHz = wl::tools::kPlayerBandLimitHz;
    std::vector<int16_t> pcm;
    const auto outcome = DecodeToPcm(file_, options, pcm);
    ASSERT_TRUE(outcome.ok);
    EXPECT_EQ(pcm.size(), pcm_.size());
}

TEST(DecodeWalkInputs, NoMpegAudioIsAnError) {
    std::vector<int16_t> pcm;
    const std::vector<std::vector<uint8_t>> inputs = {
        {},
        {0xFF},
        {0xFF, 0xFB, 0x90},
        std::vector<uint8_t>(10000, 0x00),
        Id3Tag(100, 0),
    };
    for (size_t i = 0; i < inputs.size(); ++i) {
        const auto outcome = DecodeToPcm(inputs[i], Raw(), pcm);
        EXPECT_FALSE(outcome.ok) << "input " << i;
        EXPECT_EQ(outcome.error, "unknown MPEG Audio format.") << "input " << i;
        EXPECT_TRUE(pcm.empty());
    }
}

TEST(WavHeader, CanonicalLayoutAndClamping) {
    const auto h = wl::tools::MakeWavHeader(2, 44100, 1000);
    ASSERT_EQ(h.size(), 44u);
    const std::vector<uint8_t> expected = {
        'R', 'I', 'F', 'F', 0x0C, 0x04, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0,
        4, 0, 16, 0, 'd', 'a', 't', 'a', 0xE8, 0x03, 0, 0};
    EXPECT_EQ(h, expected);
    const auto big = wl::tools::MakeWavHeader(1, 8000, uint64_t{1} << 33);
    EXPECT_EQ(std::vector<uint8_t>(big.begin() + 4, big.begin() + 8), (std::vector<uint8_t>(4, 0xFF)));
    EXPECT_EQ(std::vector<uint8_t>(big.begin() + 40, big.end()), (std::vector<uint8_t>(4, 0xFF)));
}

}  // namespace
