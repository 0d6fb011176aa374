// Seeks through the frame index: after each seek the samples the player
// writes are those of the whole decode from the requested sample on, in CBR,
// VBR with and without a header frame (and its table of contents) and MPEG-2
// files; the position shown counts from the target as the sound is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "engine/frame_index.h"
#include "engine/mp3_player.h"
#include "engine/stream_open.h"
#include "engine/player_decode.h"
#include "tests/engine/player_support.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;

struct Encoding {
    const char* name;
    const char* options;
    int32_t rate;
};

std::vector<int16_t> WholeDecode(const std::string& file) { return test::BytesToPcm16(test::PlayerPcm(file)); }

// Where (in stereo samples, relative to `expected`) a run of `played` past
// its fade-in is found in `ref`; a lag beyond `span` is reported as `span`.
int64_t Lag(const std::vector<int16_t>& played, const std::vector<int16_t>& ref, int64_t expected, int64_t skip,
            int64_t span) {
    constexpr int64_t kRun = 512;
    if (static_cast<int64_t>(played.size()) < 2 * (skip + kRun)) return span;
    for (int64_t d = 0; d < span; ++d) {
        for (int64_t lag : {d, -d}) {
            const int64_t at = expected + lag + skip;
            if (at < 0 || 2 * (at + kRun) > static_cast<int64_t>(ref.size())) continue;
            if (std::equal(played.begin() + 2 * skip, played.begin() + 2 * (skip + kRun), ref.begin() + 2 * at))
                return lag;
        }
    }
    return span;
}

class ExactSeek : public ::testing::TestWithParam<Encoding> {};

TEST_P(ExactSeek, TheFirstSampleHeardIsTheOneAskedFor) {
    const Encoding& e = GetParam();
    test::TempDir dir;
    const std::string file = test::LameFile(dir, "seek.mp3", 8.0, e.options);
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    const std::vector<int16_t> ref = WholeDecode(file);

    test::PlayerFixture f(20);
    TMP3Player& p = f.player;
    p.SetNoisySeek(false);
    p.SetFileName(file);
    ASSERT_EQ(p.SampleRate(), e.rate);
    ASSERT_TRUE(PumpUntil(p, [&] { return p.FrameIndexComplete(); }));
    p.Play();
    p.Pause();

    const int64_t ramp = int64_t{e.rate} * TSoundOut::kRampMs / 1000;
    const int64_t want = e.rate / 2;  // half a second after each seek
    double worstMs = 0;
    for (int64_t ms : {4321, 0, 1, 26, 1000, 2345, 6789, 3333, 7000}) {
        SCOPED_TRACE(ms);
        const int64_t sample = (ms * e.rate + 999) / 1000;
        p.Seek(ms);
        EXPECT_EQ(p.Position(), sample * 1000 / e.rate) << "the position shown is the sample heard";
        size_t segment;
        {
            std::lock_guard<std::mutex> lock(f.rec->mutex);
            segment = f.rec->segments.size() - 1;
        }
        p.Resume();
        ASSERT_TRUE(PumpUntil(p, [&] {
            std::lock_guard<std::mutex> lock(f.rec->mutex);
            return f.rec->segments.at(segment).size() >= static_cast<size_t>(want * 4);
        }));
        p.Pause();
        std::vector<int16_t> played;
        {
            std::lock_guard<std::mutex> lock(f.rec->mutex);
            const std::vector<uint8_t>& s = f.rec->segments.at(segment);
            played = test::BytesToPcm16(std::vector<uint8_t>(s.begin(), s.begin() + want * 4));
        }
        ASSERT_LE(2 * (sample + want), static_cast<int64_t>(ref.size()));
        // Past the fade-in, sample for sample the whole decode's from `sample` on.
        EXPECT_TRUE(std::equal(played.begin() + 2 * ramp, played.end(), ref.begin() + 2 * (sample + ramp)));
        for (int64_t i = 0; i < 2 * ramp; ++i)
            ASSERT_LE(std::abs(played[i]), std::abs(ref[2 * sample + i]) + 1) << "fading in, " << i;
        const int64_t lag = Lag(played, ref, sample, ramp, e.rate * 2);
        worstMs = std::max(worstMs, std::abs(lag) * 1000.0 / e.rate);
    }
    std::printf("[ figures ] %s: worst seek error %.2f ms\n", e.name, worstMs);
    EXPECT_LE(worstMs, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Encodings, ExactSeek,
                         ::testing::Values(Encoding{"Cbr", "--cbr -b 128", 44100},
                                           Encoding{"CbrWithoutHeaderFrame", "--cbr -b 128 -t", 44100},
                                           Encoding{"VbrWithToc", "-V2", 44100},
                                           Encoding{"VbrWithoutHeaderFrame", "-V2 -t", 44100},
                                           Encoding{"Mpeg2", "-V2 --resample 22.05", 22050},
                                           Encoding{"Mpeg2WithoutHeaderFrame", "-b 64 --resample 24 -t", 24000}),
                         [](const auto& info) { return std::string(info.param.name); });

// While playing, a seek shows the target at once (plus whatever of the new
// sound was already written); the position never runs ahead of what was
// written since the seek and keeps advancing.
TEST(ExactSeekPosition, CountsFromTheTargetAsTheNewSoundIsWritten) {
    test::TempDir dir;
    const std::string file = test::LameFile(dir, "pos.mp3", 8.0, "-V2 -t");
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    test::PlayerFixture f(4);
    TMP3Player& p = f.player;
    p.SetFileName(file);
    ASSERT_TRUE(PumpUntil(p, [&] { return p.FrameIndexComplete(); }));
    p.Play();
    ASSERT_TRUE(PumpUntil(p, [&] { return p.Position() > 500; }));
    for (int64_t target : {5000, 1234}) {
        SCOPED_TRACE(target);
        p.Seek(target);
        size_t segment;
        {
            std::lock_guard<std::mutex> lock(f.rec->mutex);
            segment = f.rec->segments.size() - 1;
        }
        // Written since the seek: a faded tail of the old sound, then the new.
        // The output thread may already have written some by the first look.
        const auto writtenMs = [&] {
            std::lock_guard<std::mutex> lock(f.rec->mutex);
            return static_cast<int64_t>(f.rec->segments.at(segment).size() / 4) * 1000 / 44100;
        };
        int64_t last = p.Position();
        EXPECT_GE(last, target) << "the clock went back";
        EXPECT_LE(last, target + writtenMs() + 1) << "ahead of the sound";
        bool advanced = PumpUntil(p, [&] {
            const int64_t now = p.Position();
            EXPECT_LE(now, target + writtenMs() + 1) << "ahead of the sound";
            EXPECT_GE(now, last) << "the clock went back";
            last = now;
            return now >= target + 300;
        });
        EXPECT_TRUE(advanced) << "the position stands still at " << last;
    }
    p.Stop();
}


// The index counts frames as the walk decodes them: junk between frames is
// crossed, and frame k starts where the k-th decoded frame does.
TEST(FrameIndex, CountsTheFramesTheWalkDecodesAndStopsWhenCancelled) {
    std::vector<uint8_t> bytes = test::BuildFrames(50, true, 4);
    const std::vector<uint8_t> junk = test::Garbage(700);
    bytes.insert(bytes.end(), junk.begin(), junk.end());
    const std::vector<uint8_t> more = test::BuildFrames(30, true, 5);
    bytes.insert(bytes.end(), more.begin(), more.end());
    test::TempDir dir;
    const std::string path = test::WriteBytes(dir, "junk.mp3", bytes);
    int64_t decoded = 0;
    {
        TFileStream stream(path);
        DecodeAsPlayer(stream, nullptr, [&](const uint8_t*, int32_t n) {
            decoded += n;
            return true;
        });
    }
    TFrameIndex index;
    TMPStreamReader reader(TMP3Player::kReaderCapacity);
    TFileStream stream(path);
    reader.Open(&stream);
    TMP3Info info;
    info.Attach(&reader);
    auto decoder = NewDecoder();
    TStreamFacts facts;
    AnalyzeStream(reader, info, *decoder, facts);
    TFrameWalker walk;
    walk.Assign(&reader, decoder.get(), facts);
    index.Start(path, walk, facts.firstFrameOffset);
    ASSERT_TRUE(test::WaitUntil([&] { return index.Complete(); }, std::chrono::seconds(20)));
    EXPECT_EQ(index.Count() * test::kPcmPerFrame, decoded);
    EXPECT_EQ(index.Offset(49), 49 * test::kFrameBytes);
    EXPECT_EQ(index.Offset(50), 50 * test::kFrameBytes + 700) << "the frame after the junk";
    EXPECT_EQ(index.Offset(79), 79 * test::kFrameBytes + 700);
    index.Cancel();
    EXPECT_FALSE(index.Complete());
    EXPECT_EQ(index.Count(), 0);
}

}  // namespace
}  // namespace wl
