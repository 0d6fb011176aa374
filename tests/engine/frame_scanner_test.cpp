// The first-frame search that the player and wl-decode share: junk before the
// audio, confirmation by the following frames, the search limit, and both
// decoding modes agreeing on where the audio starts.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "io/errors.h"
#include "io/file_stream.h"
#include "engine/frame_scanner.h"
#include "engine/frame_walk.h"
#include "engine/stream_open.h"
#include "engine/player_decode.h"
#include "tests/stream_builder.h"
#include "tests/tag_builder.h"
#include "tests/test_support.h"
#include "tools/decode_file.h"

namespace wl {
namespace {

// What the player finds and plays, and what plain decoding finds and writes.
struct BothModes {
    bool playerOk = false;
    std::string playerError;
    TStreamFacts player;
    std::vector<int16_t> playerPcm;
    tools::DecodeOutcome plain;
    std::vector<int16_t> plainPcm;
};

BothModes DecodeBoth(const std::vector<uint8_t>& file) {
    BothModes r;
    TMemoryStream stream(file);
    try {
        DecodeAsPlayer(
            stream, [&r](const TStreamFacts& f) { r.player = f; },
            [&r](const uint8_t* pcm, int32_t bytes) {
                const auto* s = reinterpret_cast<const int16_t*>(pcm);
                r.playerPcm.insert(r.playerPcm.end(), s, s + bytes / 2);
                return true;
            });
        r.playerOk = true;
    } catch (const EMP3Error& e) {
        r.playerError = e.what();
    }
    r.plain = tools::DecodeToPcm(file, {}, r.plainPcm);
    return r;
}

// A 44.1 kHz single-channel stream of `frames` silent frames.
std::vector<uint8_t> MonoStream(int frames) {
    std::vector<uint8_t> s;
    for (int i = 0; i < frames; ++i) {
        const auto f = test::SilentFrameMpeg1(3, 0, 0);
        s.insert(s.end(), f.begin(), f.end());
    }
    return s;
}

// Non-audio bytes as a partial download or a broken wrapper leaves them:
// random bytes with headers of other streams sprinkled in (24 kHz stereo
// Layer III, 32 kHz Layer I), each followed by junk rather than its next frame.
std::vector<uint8_t> Junk(size_t bytes, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> j(bytes);
    for (auto& b : j) b = static_cast<uint8_t>(rng());
    const uint8_t lsf[4] = {0xFF, 0xF3, 0x94, 0x00};   // MPEG-2 L3 24 kHz stereo
    const uint8_t layer1[4] = {0xFF, 0xFF, 0x98, 0x00};  // MPEG-1 L1 32 kHz stereo
    for (size_t at = 0; at + 4 <= bytes; at += 997) {
        const uint8_t* h = (at / 997) % 2 ? layer1 : lsf;
        std::copy(h, h + 4, j.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return j;
}

TEST(FirstFrameSearch, JunkBeforeTheAudioIsPassedToTheConfirmedStream) {
    const auto audio = MonoStream(40);
    for (const size_t junkBytes : {size_t{3}, size_t{5000}, size_t{70000}, size_t{1000000}}) {
        auto file = Junk(junkBytes, static_cast<uint32_t>(junkBytes));
        file.insert(file.end(), audio.begin(), audio.end());
        const BothModes r = DecodeBoth(file);
        ASSERT_TRUE(r.playerOk) << junkBytes << ": " << r.playerError;
        ASSERT_TRUE(r.plain.ok) << junkBytes << ": " << r.plain.error;
        EXPECT_EQ(r.player.firstFrameFound, static_cast<int64_t>(junkBytes));
        EXPECT_EQ(r.plain.facts.firstFrameOffset, junkBytes);
        EXPECT_EQ(r.player.sampleRate, 44100);
        EXPECT_EQ(r.player.channels, 1);
        EXPECT_EQ(r.plain.facts.frames, 40);
        EXPECT_EQ(r.playerPcm.size(), 40u * 1152u);
        EXPECT_EQ(r.playerPcm, r.plainPcm);
    }
}

TEST(FirstFrameSearch, GivesUpPastTheLimitAndOnLoneHeaders) {
    // Audio that starts beyond the searched prefix is not found.
    auto far = Junk(static_cast<size_t>(kFirstFrameSearchLimit) + 5000, 9);
    const auto audio = MonoStream(5);
    far.insert(far.end(), audio.begin(), audio.end());
    BothModes r = DecodeBoth(far);
    EXPECT_EQ(r.playerError, kUnknownFormatText);
    EXPECT_FALSE(r.plain.ok);
    EXPECT_EQ(r.plain.error, kUnknownFormatText);

    // Junk with headers in it but no stream: refused, not played as a frame.
    r = DecodeBoth(Junk(20000, 4));
    EXPECT_EQ(r.playerError, kUnknownFormatText);
    EXPECT_EQ(r.plain.error, kUnknownFormatText);

    // A stream of two frames confirms itself by ending where the file ends.
    r = DecodeBoth(MonoStream(2));
    ASSERT_TRUE(r.playerOk) << r.playerError;
    EXPECT_EQ(r.plain.facts.frames, 2);
}

TEST(FirstFrameSearch, FrameOfAnotherChannelCountDoesNotConfirm) {
    // A stereo frame followed by mono frames of the same rate: the stream is
    // the mono one, starting at the second frame.
    auto file = test::SilentFrameMpeg1(0, 0, 0);
    const size_t stereo = file.size();
    const auto audio = MonoStream(10);
    file.insert(file.end(), audio.begin(), audio.end());
    TMemoryStream stream(file);
    TMPStreamReader reader(65536);
    reader.Open(&stream, true);
    TFirstFrame first;
    ASSERT_TRUE(FindFirstFrame(reader, static_cast<int64_t>(file.size()), false, first));
    EXPECT_EQ(first.offset, static_cast<int64_t>(stereo));
    EXPECT_EQ(reader.Position(), first.offset);
    EXPECT_EQ(CodedChannels(first.header), 1);
}

// Every conformance stream and every file made here: the player and plain
// decoding start at the same frame and, where the player plays the stream,
// give the same samples.
TEST(FirstFrameSearch, BothDecodingModesAgreeOnEveryStream) {
    struct File {
        std::string name;
        std::vector<uint8_t> bytes;
        int64_t firstFrame = -1;  // where the audio starts, when made here
    };
    std::vector<File> files;
    const std::string dir = test::ConformanceDir();
    if (!dir.empty()) {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.path().extension() == ".bit") {
                files.push_back({entry.path().filename().string(), test::ReadFileBytes(entry.path().string())});
            }
        }
    }
    const std::string demo = test::SourceDir() + "/demo/wavelantern-demo.mp3";
    if (test::FileExists(demo)) files.push_back({"demo", test::ReadFileBytes(demo)});
    const auto audio = MonoStream(12);
    auto made = [&](const std::string& name, std::vector<uint8_t> before) {
        const auto at = static_cast<int64_t>(before.size());
        before.insert(before.end(), audio.begin(), audio.end());
        files.push_back({name, std::move(before), at});
    };
    made("junk+mono", Junk(3000, 1));
    // Tags as taggers leave them.
    made("2.4 tag with plain frame sizes", test::Id3v2TagBuilder(4)
                                               .FrameSizes(test::TFrameSizes::Plain)
                                               .Comment("", std::string(5000, 'c'), 3)
                                               .Padding(100)
                                               .Build());
    auto twoTags = test::Id3v2TagBuilder(4).Text("TIT2", "New", 3).Build();
    test::AppendBytes(twoTags, test::Id3v2TagBuilder(3).Text("TIT2", "Old").Padding(500).Build());
    made("two tags in a row", twoTags);
    made("extended-header flag only", test::Id3v2TagBuilder(3).HeaderFlags(0x40).Text("TIT2", "Flag").Build());
    auto tagThenJunk = test::Id3v2TagBuilder(3).Text("TIT2", "Junk follows").Build();
    test::AppendBytes(tagThenJunk, Junk(6000, 2));
    made("tag, then junk", tagThenJunk);

    for (const auto& [name, bytes, firstFrame] : files) {
        const BothModes r = DecodeBoth(bytes);
        ASSERT_TRUE(r.plain.ok) << name << ": " << r.plain.error;
        if (!r.playerOk) {
            // The player cannot measure free-format frames.
            EXPECT_TRUE(r.plain.facts.freeFormat) << name << ": " << r.playerError;
            continue;
        }
        EXPECT_EQ(static_cast<int64_t>(r.plain.facts.firstFrameOffset), r.player.firstFrameFound) << name;
        if (firstFrame >= 0) {
            EXPECT_EQ(r.player.firstFrameFound, firstFrame) << name;
        }
        if (!r.plain.facts.channelsChanged) {
            EXPECT_TRUE(r.plainPcm == r.playerPcm) << name;
        }
    }
    // Without the conformance streams only the files made here were checked.
    if (dir.empty()) GTEST_SKIP() << "conformance folder not found (../shared/conformance or WL_SHARED_DIR)";
}

}  // namespace
}  // namespace wl
