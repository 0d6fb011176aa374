// Play ranges: the PCM of a range is the matching slice of the whole file's,
// sample for sample, in a file trimmed to its music (lame's, with its header
// frame) and in one without trimming (lame's without it); Length, Position
// and Seek count from the range's start; ranges past the music's end or
// empty end at once (also in built streams); a gapless next file plays whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "engine/mp3_player.h"
#include "engine/player_decode.h"
#include "tests/engine/player_support.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;

constexpr size_t kSampleBytes = 4;  // 16-bit stereo

// Samples [first, first + count) of `pcm` (count -1: to the end), as far as
// it reaches.
std::vector<uint8_t> Slice(const std::vector<uint8_t>& pcm, int64_t first, int64_t count) {
    const size_t size = pcm.size();
    const size_t from = std::min(size, static_cast<size_t>(first) * kSampleBytes);
    const size_t to = count < 0 ? size : std::min(size, static_cast<size_t>(first + count) * kSampleBytes);
    return {pcm.begin() + static_cast<std::ptrdiff_t>(from), pcm.begin() + static_cast<std::ptrdiff_t>(to)};
}

int64_t Ms(int64_t samples) { return samples * 1000 / 44100; }

// The two kinds of file, both lame's: with its header frame, which gives the
// encoder's delay and padding, and without (every decoded sample is music;
// the length is known from the bitrate only). Empty without lame.
struct Files {
    test::TempDir dir;
    std::string trimmed = test::LameFile(dir, "lame.mp3", 3.0, "--cbr -b 128");
    std::string plain = test::LameFile(dir, "plain.mp3", 3.0, "--cbr -b 128 -t");
};

TEST(PlayerRangeTest, PlaysTheExactSliceOfTheWholeFile) {
    Files files;
    if (files.trimmed.empty()) GTEST_SKIP() << "lame is not installed";
    for (const std::string& file : {files.trimmed, files.plain}) {
        SCOPED_TRACE(file);
        const std::vector<uint8_t> whole = test::PlayerPcm(file);
        const int64_t samples = static_cast<int64_t>(whole.size() / kSampleBytes);
        ASSERT_GT(samples, 3 * 44100 - 10);
        // In the first frame, across frames, on a frame boundary, to the end,
        // and one whose count runs past the end.
        const std::pair<int64_t, int64_t> ranges[] = {
            {0, 700}, {300, 5000}, {12345, 50001}, {1152 * 40, 1152 * 3}, {100000, -1}, {samples - 999, 5000}};
        test::PlayerFixture f(50);
        TMP3Player& p = f.player;
        for (auto [first, count] : ranges) {
            SCOPED_TRACE(testing::Message() << "range " << first << " + " << count);
            p.SetPlayRange(first, count);
            p.SetFileName(file);
            const int64_t expected = std::min(count < 0 ? samples : count, samples - first);
            // Estimated from the bitrate where the range runs to the end of
            // the file without a header frame.
            const bool estimated = file == files.plain && (count < 0 || first + count > samples);
            EXPECT_NEAR(p.Length(), Ms(expected), estimated ? 27 : 0);
            const size_t before = f.rec->All().size();
            ASSERT_TRUE(f.PlayToEnd());
            EXPECT_EQ(f.log.ends.back(), mepEndOfStream);
            const std::vector<uint8_t> all = f.rec->All();
            const std::vector<uint8_t> played(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
            ASSERT_EQ(played.size(), static_cast<size_t>(expected) * kSampleBytes);
            EXPECT_TRUE(played == Slice(whole, first, count)) << "the PCM differs";
        }
    }
}

// One second from 1 s on: Length 1000 ms; a seek lands on the range's sample
// and plays exactly the rest of it (past the fade-in); a seek beyond the end
// ends at once, with the position at the end; Stop and Play start the range
// again; SetPlayRange(0, -1) gives the next file whole.
TEST(PlayerRangeTest, LengthPositionAndSeekCountFromTheRangeStart) {
    Files files;
    if (files.trimmed.empty()) GTEST_SKIP() << "lame is not installed";
    for (const std::string& file : {files.trimmed, files.plain}) {
        SCOPED_TRACE(file);
        const std::vector<uint8_t> whole = test::PlayerPcm(file);
        test::PlayerFixture f(20);
        TMP3Player& p = f.player;
        p.SetPlayRange(44100, 44100);
        p.SetFileName(file);
        EXPECT_EQ(p.Length(), 1000);
        p.Play();
        p.Pause();
        p.Seek(400);
        EXPECT_EQ(p.Position(), 400);
        p.Resume();
        ASSERT_TRUE(PumpUntil(p, [&] { return !f.log.ends.empty(); }));
        EXPECT_EQ(f.log.ends[0], mepEndOfStream);
        std::vector<uint8_t> after;
        {
            std::lock_guard<std::mutex> lock(f.rec->mutex);
            after = f.rec->segments.at(f.rec->segments.size() - 2);  // the stop starts the last
        }
        const int64_t from = (400 * 44100 + 999) / 1000;
        const std::vector<uint8_t> rest = Slice(whole, 44100 + from, 44100 - from);
        ASSERT_EQ(after.size(), rest.size());
        const size_t ramp = size_t{44100} * TSoundOut::kRampMs / 1000 * kSampleBytes;
        EXPECT_TRUE(std::equal(after.begin() + static_cast<std::ptrdiff_t>(ramp), after.end(),
                               rest.begin() + static_cast<std::ptrdiff_t>(ramp)));

        // Past the end: as a file's end.
        p.Play();
        p.Pause();
        const int writes = f.rec->writes.load();
        p.Seek(1500);
        EXPECT_EQ(p.Position(), 1000);
        p.Resume();
        ASSERT_TRUE(PumpUntil(p, [&] { return f.log.ends.size() == 2; }));
        EXPECT_EQ(f.log.ends[1], mepEndOfStream);
        EXPECT_EQ(f.rec->writes.load(), writes) << "nothing more was played";

        // Played again from the range's start, whole.
        const size_t before = f.rec->All().size();
        ASSERT_TRUE(f.PlayToEnd());
        const std::vector<uint8_t> all = f.rec->All();
        const std::vector<uint8_t> range = Slice(whole, 44100, 44100);
        EXPECT_TRUE(std::equal(all.begin() + static_cast<std::ptrdiff_t>(before), all.end(), range.begin(), range.end()));

        p.SetPlayRange(0, -1);
        EXPECT_EQ(p.Length(), 1000) << "the open file keeps its range";
        p.SetFileName(file);
        EXPECT_NEAR(p.Length(), Ms(static_cast<int64_t>(whole.size() / kSampleBytes)), file == files.plain ? 27 : 0);
    }
}

// Past the music's end, or empty: nothing is played and the end comes at
// once, also after a seek; in lame's files and in streams of built frames,
// random or silent, without any header.
TEST(PlayerRangeTest, ARangePastTheEndOrAnEmptyOneEndsAtOnce) {
    Files files;
    test::Watchdog watchdog(60s, "ranges past the end");
    const std::string random = test::WriteBytes(files.dir, "random.mp3", test::BuildFrames(120, true, 11));
    const std::string silent = test::WriteBytes(files.dir, "silent.mp3", test::BuildFrames(120, false));
    for (const std::string& file : {files.trimmed, files.plain, random, silent}) {
        if (file.empty()) continue;
        SCOPED_TRACE(file);
        constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
        for (auto [first, count] :
             {std::pair<int64_t, int64_t>{10 * 44100, -1}, {10 * 44100, 500}, {1000, 0}, {kMax, kMax}}) {
            SCOPED_TRACE(testing::Message() << "range " << first << " + " << count);
            test::PlayerFixture f(20);
            TMP3Player& p = f.player;
            p.SetPlayRange(first, count);
            f.OpenInMemory(test::ReadFileBytes(file));
            EXPECT_EQ(p.Length(), 0);
            ASSERT_TRUE(f.PlayToEnd());
            EXPECT_EQ(f.log.ends[0], mepEndOfStream);
            EXPECT_EQ(p.Position(), 0);
            p.Play();
            p.Seek(300);
            ASSERT_TRUE(PumpUntil(p, [&] { return f.log.ends.size() == 2; }));
            EXPECT_EQ(f.log.ends[1], mepEndOfStream);
            EXPECT_TRUE(f.rec->All().empty());
        }
    }
}

// A range of the first file, then the next file handed over gaplessly plays
// whole, and its Length is its own.
TEST(PlayerRangeTest, AGaplessNextFilePlaysWhole) {
    Files files;
    if (files.trimmed.empty()) GTEST_SKIP() << "lame is not installed";
    const std::string next = test::LameFile(files.dir, "next.mp3", 1.5, "--cbr -b 128");
    ASSERT_FALSE(next.empty());
    std::vector<uint8_t> expected = Slice(test::PlayerPcm(files.trimmed), 20000, 30000);
    const std::vector<uint8_t> second = test::PlayerPcm(next);
    expected.insert(expected.end(), second.begin(), second.end());

    test::PlayerFixture f(50);
    TMP3Player& p = f.player;
    int64_t nextLength = -1;
    p.OnNextStarted = [&](TMP3Player* s) { nextLength = s->Length(); };
    p.SetPlayRange(20000, 30000);
    p.SetFileName(files.trimmed);
    p.SetNextFileName(next);
    ASSERT_TRUE(f.PlayToEnd());
    EXPECT_EQ(nextLength, 1500);
    EXPECT_EQ(f.rec->resets.load(), 1) << "one stream, reset only at the stop";
    EXPECT_TRUE(f.rec->All() == expected);
}

}  // namespace
}  // namespace wl
