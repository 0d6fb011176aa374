// Hostile files through the tool's frame walk, the player's opening analysis
// and frame walk, and the tag reader: each decodes or fails with "unknown MPEG
// Audio format." without crashing or hanging.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <vector>

#include "io/errors.h"
#include "io/file_stream.h"
#include "engine/frame_walk.h"
#include "engine/player_decode.h"
#include "io/stream_reader.h"
#include "info/mp3_info.h"
#include "tests/stream_builder.h"
#include "tools/decode_file.h"

namespace wl {
namespace {

struct WalkResult {
    bool ok;
    std::string error;
    int64_t frames;
};

// The player's own opening analysis and frame walk over a stream: it plays
// (ok) or fails with the error the player would show.
WalkResult WalkAsPlayer(TStream& stream) {
    int64_t frames = 0;
    const auto start = std::chrono::steady_clock::now();
    WalkResult result{true, "", 0};
    try {
        DecodeAsPlayer(
            stream, [](const TStreamFacts&) {},
            [&frames](const uint8_t*, int32_t) {
                ++frames;
                return true;
            });
    } catch (const EMP3Error& e) {
        result.ok = false;
        result.error = e.what();
    }
    result.frames = frames;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 30.0);
    return result;
}

WalkResult WalkAsPlayer(const std::vector<uint8_t>& file) {
    TMemoryStream stream(file);
    return WalkAsPlayer(stream);
}

WalkResult WalkTool(const std::vector<uint8_t>& file) {
    std::vector<int16_t> pcm;
    tools::DecodeOptions options;
    const auto start = std::chrono::steady_clock::now();
    const auto out = tools::DecodeToPcm(file, options, pcm);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Generous: a hang would take forever, not a few seconds more.
    EXPECT_LT(seconds, 30.0);
    return {out.ok, out.error, out.facts.frames};
}

// Both walks: the tool's and the player's.
WalkResult Walk(const std::vector<uint8_t>& file) {
    const WalkResult player = WalkAsPlayer(file);
    if (!player.ok) {
        EXPECT_EQ(player.error, "unknown MPEG Audio format.");
    }
    return WalkTool(file);
}

void ExpectUnknownFormat(const std::vector<uint8_t>& file, const char* what) {
    const WalkResult tool = WalkTool(file);
    EXPECT_FALSE(tool.ok) << what;
    EXPECT_EQ(tool.error, "unknown MPEG Audio format.") << what;
    const WalkResult player = WalkAsPlayer(file);
    EXPECT_FALSE(player.ok) << what;
    EXPECT_EQ(player.error, "unknown MPEG Audio format.") << what;
}

TEST(HostileFiles, EmptyTinyAndSyncOnlyFiles) {
    ExpectUnknownFormat({}, "0 bytes");
    ExpectUnknownFormat({0xFF, 0xFB, 0x90}, "3 bytes");
    // Four bytes of a valid header: a frame that cannot be complete.
    const WalkResult four = Walk({0xFF, 0xFB, 0x90, 0x64});
    if (four.ok) {
        EXPECT_EQ(four.frames, 0);
    }
    // 1 MB of 0xFF: every position looks like a sync with reserved fields.
    ExpectUnknownFormat(std::vector<uint8_t>(1 << 20, 0xFF), "1 MB of 0xFF");
    // Every byte pair a sync (FF F? repeated): headers that never form a frame chain.
    std::vector<uint8_t> pairs;
    for (int i = 0; i < (1 << 19); ++i) {
        pairs.push_back(0xFF);
        pairs.push_back(static_cast<uint8_t>(0xE0 | (i % 32)));
    }
    const WalkResult p = Walk(pairs);
    if (!p.ok) {
        EXPECT_EQ(p.error, "unknown MPEG Audio format.");
    }
}

TEST(HostileFiles, LayerThreeFrameClaimingTheLongestDataDecodesAsBoundedNoise) {
    // part2_3_length 4095 and big_values 511 in every granule of a stream.
    std::vector<uint8_t> file;
    for (int i = 0; i < 50; ++i) {
        test::BitWriter w;
        for (uint8_t b : {0xFF, 0xFB, 0x90, 0xC4}) w.Put(b, 8);  // mono
        w.Put(0, 9);                                             // main_data_begin
        w.Put(0, 5);
        w.Put(0, 4);
        for (int g = 0; g < 2; ++g) {
            w.Put(4095, 12);
            w.Put(511, 9);
            w.Put(210, 8);
            w.Put(15, 4);
            w.Put(0, 1);
            w.Put(24, 5), w.Put(31, 5), w.Put(15, 5);
            w.Put(15, 4), w.Put(7, 3);
            w.Put(1, 1), w.Put(1, 1), w.Put(1, 1);
        }
        auto frame = w.Bytes();
        frame.resize(417, 0xA5);
        file.insert(file.end(), frame.begin(), frame.end());
    }
    const WalkResult r = Walk(file);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.frames, 50);
}

TEST(HostileFiles, LayerTwoFrameWithEveryAllocationAtFifteen) {
    // 44.1 kHz 192 kbit/s stereo frames whose allocation fields are all ones.
    std::vector<uint8_t> file;
    for (int i = 0; i < 20; ++i) {
        std::vector<uint8_t> frame(626, 0xFF);
        frame[1] = 0xFD;
        frame[2] = 0xA0;
        frame[3] = 0x00;
        file.insert(file.end(), frame.begin(), frame.end());
    }
    const WalkResult r = Walk(file);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.frames, 20);  // every frame refused by the decoder, played as silence
}

TEST(HostileFiles, SparseTwoGigabyteFileWithAHeaderAtTheEnd) {
    char path[] = "/tmp/wl-sparse-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    const off_t size = off_t{2} << 30;
    const uint8_t header[4] = {0xFF, 0xFB, 0x90, 0x64};
    ASSERT_EQ(::pwrite(fd, header, 4, size - 4), 4);
    ::close(fd);
    {
        TFileStream stream(path);
        const WalkResult r = WalkAsPlayer(stream);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "unknown MPEG Audio format.");
    }
    ::unlink(path);
}

TEST(HostileFiles, FreeFormatFramesThatChangeLength) {
    // Free-format frames whose length changes halfway: the walk measures once
    // and then skips junk; it must end, whatever it decodes.
    std::vector<uint8_t> file;
    for (int i = 0; i < 40; ++i) {
        const size_t len = i < 20 ? 500 : 650;
        const size_t start = file.size();
        file.resize(start + len, 0x11);
        file[start] = 0xFF;
        file[start + 1] = 0xFB;
        file[start + 2] = 0x00;
        file[start + 3] = 0xC4;
    }
    const WalkResult r = Walk(file);
    EXPECT_TRUE(r.ok);
    EXPECT_GE(r.frames, 20);
}

// The tag reader over a file written to disk.
TMP3Info AnalyzeFile(const std::vector<uint8_t>& bytes, TMPStreamReader& reader,
                     TMemoryStream& stream) {
    stream = TMemoryStream(bytes);
    reader.Open(&stream, true);
    TMP3Info info;
    info.Attach(&reader);
    if (info.AnalyzeHead()) reader.Seek(info.AudioStart(), TSeekOrigin::soBeginning);
    info.AnalyzeTail();
    return info;
}

TEST(HostileFiles, WrappersWithImpossibleSizes) {
    TMemoryStream stream;
    TMPStreamReader reader(65536);
    // An ID3v2 tag claiming 250 MB in a small file.
    std::vector<uint8_t> id3 = {'I', 'D', '3', 3, 0, 0, 0x77, 0x7F, 0x7F, 0x7F};
    id3.resize(4096, 0);
    auto info = AnalyzeFile(id3, reader, stream);
    EXPECT_LE(info.AudioStart(), 4096);
    EXPECT_GE(info.AudioStart(), 0);

    // A RIFF file with a chunk size of 0xFFFFFFFF.
    std::vector<uint8_t> riff = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E',
                                 'd', 'a', 't', 'a', 0xFF, 0xFF, 0xFF, 0xFF};
    riff.resize(2048, 0);
    info = AnalyzeFile(riff, reader, stream);
    EXPECT_GE(info.AudioStart(), 0);
    EXPECT_GE(info.AudioLength(), 0);

    // A MacBinary header whose data fork length is negative as a signed word.
    std::vector<uint8_t> mac(128, 0);
    mac[1] = 10;
    mac[83] = 0x80;  // data fork length 0x80000000...
    mac[84] = 0x00;
    mac.resize(4096, 0);
    info = AnalyzeFile(mac, reader, stream);
    EXPECT_GE(info.AudioStart(), 0);
    EXPECT_GE(info.AudioLength(), 0);

    // The same files through the frame walk: no audio, clean failure.
    ExpectUnknownFormat(id3, "ID3v2 of 250 MB");
    ExpectUnknownFormat(riff, "RIFF 0xFFFFFFFF");
    ExpectUnknownFormat(mac, "MacBinary");
}

}  // namespace
}  // namespace wl
