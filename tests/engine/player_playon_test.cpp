// Playing on from one range of a file into the next (the tracks of an album
// sheet): the output is the whole file's PCM from the first range's start on,
// sample for sample, without a reset of the output; the switch is told when
// heard, after which Length, Position and Seek belong to the new range; a
// seek before it keeps the hand-over; one that does not follow on, or is
// withdrawn, is not played into.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/mp3_player.h"
#include "engine/player_decode.h"
#include "tests/engine/player_support.h"

namespace wl {
namespace {

using test::PumpUntil;

constexpr size_t kSampleBytes = 4;  // 16-bit stereo

std::vector<uint8_t> From(const std::vector<uint8_t>& pcm, int64_t first) {
    return {pcm.begin() + static_cast<std::ptrdiff_t>(std::min(pcm.size(), static_cast<size_t>(first) * kSampleBytes)),
            pcm.end()};
}

// Three tracks back to back as a sheet gives them (the last to the end), in
// a file trimmed to its music and in one without lame's header frame.
struct Album {
    test::TempDir dir;
    std::string trimmed = test::LameFile(dir, "album.mp3", 4.0, "--cbr -b 128");
    std::string plain = test::LameFile(dir, "plain.mp3", 4.0, "--cbr -b 128 -t");
    static constexpr int64_t kTrack2 = 30001;  // mid-frame
    static constexpr int64_t kTrack3 = 30001 + 50000;
    static constexpr int64_t kCount2 = kTrack3 - kTrack2;
};

TEST(PlayerPlayOnTest, TrackTwoThenThreeIsTheWholeDecodeFromTrackTwoOn) {
    Album album;
    if (album.trimmed.empty()) GTEST_SKIP() << "lame is not installed";
    for (const std::string& file : {album.trimmed, album.plain}) {
        SCOPED_TRACE(file);
        const std::vector<uint8_t> whole = test::PlayerPcm(file);
        const int64_t samples = static_cast<int64_t>(whole.size() / kSampleBytes);
        test::PlayerFixture f(30);
        TMP3Player& p = f.player;
        int started = 0;
        int64_t lengthThen = -1;
        p.OnNextStarted = [&](TMP3Player* s) {
            ++started;
            lengthThen = s->Length();
        };
        p.SetPlayRange(Album::kTrack2, Album::kCount2);
        p.SetFileName(file);
        EXPECT_EQ(p.Length(), Album::kCount2 * 1000 / 44100);
        p.SetNextRange(Album::kTrack3, -1);
        ASSERT_TRUE(f.PlayToEnd());
        EXPECT_EQ(f.log.ends.back(), mepEndOfStream);
        EXPECT_EQ(started, 1);
        EXPECT_NEAR(lengthThen, (samples - Album::kTrack3) * 1000 / 44100, file == album.plain ? 27 : 0);
        EXPECT_EQ(p.PlayRangeFirst(), Album::kTrack2) << "the range for files opened next stays";
        EXPECT_EQ(f.rec->resets.load(), 1) << "one stream, reset only at the stop";
        const std::vector<uint8_t> played = f.rec->All();
        const std::vector<uint8_t> expected = From(whole, Album::kTrack2);
        ASSERT_EQ(played.size(), expected.size());
        EXPECT_TRUE(played == expected) << "the PCM differs";
    }
}

// Tracks with loudness values of their own (an album sheet's): each plays
// with its gain, and the gain changes at the next track's first sample.
TEST(PlayerPlayOnTest, EachTrackPlaysWithItsOwnGain) {
    Album album;
    if (album.trimmed.empty()) GTEST_SKIP() << "lame is not installed";
    const std::vector<uint8_t> whole = test::PlayerPcm(album.trimmed);
    test::PlayerFixture f(30);
    TMP3Player& p = f.player;
    p.SetReplayGain(mrgTrack, 0, false);
    TReplayGain two, three;
    two.trackGainDb = -6.0;
    three.trackGainDb = -12.0;
    p.SetPlayRange(Album::kTrack2, Album::kCount2);
    p.SetPlayGain(two);
    p.SetFileName(album.trimmed);
    p.SetNextRange(Album::kTrack3, -1, three);
    ASSERT_TRUE(f.PlayToEnd());
    const std::vector<uint8_t> played = f.rec->All();
    const std::vector<uint8_t> source = From(whole, Album::kTrack2);
    ASSERT_EQ(played.size(), source.size());
    auto sample = [](const std::vector<uint8_t>& pcm, size_t i) {
        return static_cast<int16_t>(static_cast<uint16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)));
    };
    // The new gain glides in from track 3's first sample on (no click).
    const size_t switchAt = static_cast<size_t>(Album::kCount2) * 2;  // 16-bit values before track 3
    const size_t glided = switchAt + size_t{44100} * TLimiter::kGlideMs / 1000 * 2;
    const double g2 = std::pow(10.0, -6.0 / 20), g3 = std::pow(10.0, -12.0 / 20);
    size_t wrong = 0, firstWrong = 0;
    for (size_t i = 0; i < played.size() / 2; ++i) {
        const double v = sample(played, i), s = sample(source, i);
        const bool right = i < switchAt  ? std::abs(v - s * g2) <= 1
                           : i >= glided ? std::abs(v - s * g3) <= 1
                                         : std::abs(v) <= std::abs(s) * g2 + 1 && std::abs(v) + 1 >= std::abs(s) * g3;
        if (!right && wrong++ == 0) firstWrong = i;
    }
    EXPECT_EQ(wrong, 0u) << "first at value " << firstWrong << ", track 3 from " << switchAt;
}

TEST(PlayerPlayOnTest, SeeksWithdrawalsAndRangesThatDoNotFollow) {
    Album album;
    if (album.trimmed.empty()) GTEST_SKIP() << "lame is not installed";
    const std::vector<uint8_t> whole = test::PlayerPcm(album.trimmed);
    const int64_t samples = static_cast<int64_t>(whole.size() / kSampleBytes);
    const size_t ramp = size_t{44100} * TSoundOut::kRampMs / 1000 * kSampleBytes;

    // A seek near track 2's end before the switch: the rest of track 2 and
    // all of track 3 follow, past the seek's fade-in.
    {
        test::PlayerFixture f(30);
        TMP3Player& p = f.player;
        int started = 0;
        p.OnNextStarted = [&](TMP3Player*) { ++started; };
        p.SetPlayRange(Album::kTrack2, Album::kCount2);
        p.SetFileName(album.trimmed);
        p.SetNextRange(Album::kTrack3, -1);
        p.Play();
        p.Pause();
        p.Seek(1000);
        p.Resume();
        ASSERT_TRUE(PumpUntil(p, [&] { return started == 1; }));
        // Within track 3 now: a seek counts from its start.
        p.Pause();
        p.Seek(500);
        EXPECT_EQ(p.Position(), 500);
        p.Resume();
        ASSERT_TRUE(PumpUntil(p, [&] { return !f.log.ends.empty(); }));
        EXPECT_EQ(f.log.ends[0], mepEndOfStream);
        std::vector<std::vector<uint8_t>> segments;
        {
            std::lock_guard<std::mutex> lock(f.rec->mutex);
            segments = f.rec->segments;
        }
        // After the first seek, the second pause's faded tail, after the
        // second seek, after the stop.
        ASSERT_GE(segments.size(), 4u);
        const std::vector<uint8_t>& afterFirst = segments[segments.size() - 4];
        const std::vector<uint8_t> fromFirst = From(whole, Album::kTrack2 + 44100);
        const size_t toSwitch = static_cast<size_t>(Album::kTrack3 - Album::kTrack2 - 44100) * kSampleBytes;
        ASSERT_GT(afterFirst.size(), toSwitch);
        ASSERT_LE(afterFirst.size(), fromFirst.size());
        EXPECT_TRUE(std::equal(afterFirst.begin() + static_cast<std::ptrdiff_t>(ramp), afterFirst.end(),
                               fromFirst.begin() + static_cast<std::ptrdiff_t>(ramp)))
            << "the seek in track 2 played on into track 3";
        const std::vector<uint8_t>& afterSecond = segments[segments.size() - 2];
        const std::vector<uint8_t> fromSecond = From(whole, Album::kTrack3 + (500 * 44100 + 999) / 1000);
        ASSERT_EQ(afterSecond.size(), fromSecond.size());
        EXPECT_TRUE(std::equal(afterSecond.begin() + static_cast<std::ptrdiff_t>(ramp), afterSecond.end(),
                               fromSecond.begin() + static_cast<std::ptrdiff_t>(ramp)));
        EXPECT_EQ(p.Length(), (samples - Album::kTrack3) * 1000 / 44100);
    }

    // Not following on (a gap, an overlap), or withdrawn: track 2 alone.
    for (const int64_t first : {Album::kTrack3 + 1, Album::kTrack3 - 1, int64_t{-1}}) {
        SCOPED_TRACE(testing::Message() << "next range from " << first);
        test::PlayerFixture f(30);
        TMP3Player& p = f.player;
        int started = 0;
        p.OnNextStarted = [&](TMP3Player*) { ++started; };
        p.SetPlayRange(Album::kTrack2, Album::kCount2);
        p.SetFileName(album.trimmed);
        p.SetNextRange(first < 0 ? Album::kTrack3 : first, -1);
        if (first < 0) p.SetNextRange(-1, -1);
        ASSERT_TRUE(f.PlayToEnd());
        EXPECT_EQ(started, 0);
        EXPECT_EQ(f.rec->All().size(), static_cast<size_t>(Album::kCount2) * kSampleBytes);
    }
}

}  // namespace
}  // namespace wl
