// Seeking: where a seek lands and what Position says, the frame table that
// serves backward seeks without reading, seeks past the end, while paused,
// and the decoder's history with NoisySeek on and off.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/frame_walk.h"
#include "engine/mp3_player.h"
#include "engine/player_decode.h"
#include "tests/engine/player_support.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using test::BuildFrames;
using test::EventLog;
using test::kFrameBytes;
using test::kPcmPerFrame;
using test::PumpUntil;

// What was written after the seek: the segment before the one the final Stop
// opens (it resets the device once more, with nothing left to play).
const std::vector<uint8_t>& AfterLastSeek(const test::Recording& rec) {
    return rec.segments.at(rec.segments.size() - 2);
}

// A memory stream that counts the reads made on the thread that created it.
class TCountingStream : public TMemoryStream {
public:
    explicit TCountingStream(std::vector<uint8_t> bytes) : TMemoryStream(std::move(bytes)) {}
    size_t Read(void* buffer, size_t count) override {
        if (std::this_thread::get_id() == owner_) hostReads.fetch_add(1);
        return TMemoryStream::Read(buffer, count);
    }
    std::atomic<int> hostReads{0};

private:
    std::thread::id owner_ = std::this_thread::get_id();
};

int64_t MsOfFrame(int64_t k) { return k * kPcmPerFrame * 1000 / (44100 * 4); }
int64_t FrameOfMs(int64_t ms) { return (ms * 44100 * 4 / 1000 + kPcmPerFrame - 1) / kPcmPerFrame; }

// `frames` random frames opened from a stream that counts the host's reads.
struct SeekFixture : test::PlayerFixture {
    TCountingStream* stream = nullptr;

    explicit SeekFixture(int frames) : PlayerFixture(20) {
        auto s = std::make_unique<TCountingStream>(BuildFrames(frames, true, 9));
        stream = s.get();
        player.OpenStream(std::move(s));
    }
};

TEST(PlayerSeekTest, ForwardAndBackwardLandOnWholeFramesAndBackwardReadsNothing) {
    SeekFixture f(400);  // about 10.4 s
    TMP3Player& p = f.player;
    p.Seek(1000);
    EXPECT_EQ(p.Position(), 0) << "not playing: ignored";
    p.Play();
    p.Pause();
    p.Seek(-5);
    EXPECT_EQ(p.Status(), mpsPaused);

    int before = f.stream->hostReads.load();
    p.Seek(5000);
    EXPECT_GT(f.stream->hostReads.load(), before) << "the first seek this far scans the file";
    EXPECT_EQ(p.Position(), MsOfFrame(FrameOfMs(5000)));
    EXPECT_EQ(p.Status(), mpsPaused) << "a seek while paused stays paused";
    test::PumpFor(p, 300ms);
    EXPECT_EQ(p.Position(), MsOfFrame(FrameOfMs(5000))) << "paused: the position stands";

    before = f.stream->hostReads.load();
    p.Seek(2000);
    EXPECT_EQ(f.stream->hostReads.load(), before) << "frames already found are not looked for again";
    EXPECT_EQ(p.Position(), MsOfFrame(FrameOfMs(2000)));
    p.Seek(4999);
    EXPECT_EQ(f.stream->hostReads.load(), before);

    p.Resume();
    EXPECT_TRUE(PumpUntil(p, [&] { return p.Position() > MsOfFrame(FrameOfMs(4999)) + 200; }))
        << "playing on advances the position";
    p.Stop();
    EXPECT_EQ(p.Position(), 0);
}

TEST(PlayerSeekTest, BeyondTheEndLandsOnTheLastFrameAndEndsSoon) {
    SeekFixture f(100);
    TMP3Player& p = f.player;
    p.Play();
    p.Pause();
    p.Seek(600000);
    EXPECT_EQ(p.Position(), MsOfFrame(99));
    p.Resume();
    ASSERT_TRUE(PumpUntil(p, [&] { return !f.log.ends.empty(); }));
    EXPECT_EQ(f.log.ends[0], mepEndOfStream);
    std::lock_guard<std::mutex> lock(f.rec->mutex);
    ASSERT_GE(f.rec->segments.size(), 2u);
    EXPECT_EQ(AfterLastSeek(*f.rec).size(), size_t{kPcmPerFrame}) << "one frame after the seek";
}

// PCM after a seek to frame k of a stream whose frames take main data from
// the frames before them, and what continuous play gives from k on.
struct AfterSeek {
    std::vector<uint8_t> played;
    std::vector<uint8_t> continuous;
};

AfterSeek SeekAndCompare(const std::vector<uint8_t>& bytes, bool noisy) {
    test::PlayerFixture f(20);
    TMP3Player& p = f.player;
    f.OpenInMemory(bytes);
    p.SetNoisySeek(noisy);
    p.Play();
    // Let the decoder build up history first.
    EXPECT_TRUE(PumpUntil(p, [&] { return f.rec->writes.load() >= 2; }));
    p.Pause();
    p.Seek(3000);
    p.Resume();
    EXPECT_TRUE(PumpUntil(p, [&] { return !f.log.ends.empty(); }));
    AfterSeek out;
    {
        std::lock_guard<std::mutex> lock(f.rec->mutex);
        out.played = AfterLastSeek(*f.rec);
    }
    // The encoder's file is trimmed to its music: the seek lands on the music
    // sample of 3 s.
    TMemoryStream whole(bytes);
    DecodeAsPlayer(whole, nullptr, [&](const uint8_t* pcm, int32_t n) {
        out.continuous.insert(out.continuous.end(), pcm, pcm + n);
        return true;
    });
    const size_t target = size_t{3} * 44100 * 4;
    out.continuous.erase(out.continuous.begin(),
                         out.continuous.begin() + static_cast<std::ptrdiff_t>(std::min(target, out.continuous.size())));
    return out;
}

// The frames before the target are decoded and dropped: from the target on
// the sound is that of continuous play (after a short fade-in), whatever the
// decoder held from the old position.
TEST(PlayerSeekTest, AfterASeekTheTargetSoundsAsInContinuousPlay) {
    test::TempDir dir;
    // 64 kbit/s: the encoder reaches back over several frames for main data.
    const std::string file = test::LameFile(dir, "seek.mp3", 5.0, "-b 64 --resample 44.1");
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    const std::vector<uint8_t> bytes = test::ReadFileBytes(file);
    for (bool noisy : {false, true}) {
        SCOPED_TRACE(noisy ? "NoisySeek" : "quiet seek");
        const AfterSeek a = SeekAndCompare(bytes, noisy);
        ASSERT_EQ(a.played.size(), a.continuous.size());
        const size_t ramp = size_t{44100} * TSoundOut::kRampMs / 1000 * 4;
        ASSERT_GT(a.played.size(), ramp + 4 * kPcmPerFrame);
        EXPECT_TRUE(std::equal(a.played.begin() + ramp, a.played.end(), a.continuous.begin() + ramp));

        const std::vector<int16_t> in = test::BytesToPcm16(a.played), ref = test::BytesToPcm16(a.continuous);
        for (size_t i = 0; i < ramp / 2; ++i) ASSERT_LE(std::abs(in[i]), std::abs(ref[i])) << "fading in, " << i;
        EXPECT_LT(std::abs(in[0]), std::abs(ref[0]) / 50 + 2);
    }
}

TEST(PlayerSeekTest, SeeksAcrossJunkStillFindTheFrames) {
    // Junk in the middle: the table's entries may lie before it; playback from
    // there resynchronises.
    std::vector<uint8_t> bytes = BuildFrames(60, true, 1);
    const std::vector<uint8_t> junk = test::Garbage(1000);
    bytes.insert(bytes.end(), junk.begin(), junk.end());
    const std::vector<uint8_t> more = BuildFrames(60, true, 2);
    bytes.insert(bytes.end(), more.begin(), more.end());
    test::PlayerFixture f(20);
    TMP3Player& p = f.player;
    f.OpenInMemory(bytes);
    p.Play();
    p.Pause();
    p.Seek(MsOfFrame(100));
    EXPECT_EQ(p.Position(), MsOfFrame(100)) << "junk is crossed by the scan";
    p.Seek(MsOfFrame(30));
    p.Resume();
    ASSERT_TRUE(PumpUntil(p, [&] { return !f.log.ends.empty(); }));
    EXPECT_EQ(f.log.ends[0], mepEndOfStream);
    std::lock_guard<std::mutex> lock(f.rec->mutex);
    ASSERT_GE(f.rec->segments.size(), 3u);
    EXPECT_EQ(AfterLastSeek(*f.rec).size(), size_t{90} * kPcmPerFrame) << "frames 30..119 after the second seek";
}

// What is heard (the WAV device keeps that) around a pause, a resume, a seek
// and a stop: no step between neighbouring samples larger than the music's
// own, no sample louder than the file's loudest, the new position right after
// the seek's 5 ms fade, and the sound faded out at the stop.
TEST(PlayerSeekTest, PauseResumeSeekAndStopAreHeardWithoutClicks) {
    test::TempDir dir;
    const std::string file = test::LameFile(dir, "music.mp3", 6.0, "-b 128");
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    const std::vector<uint8_t> bytes = test::ReadFileBytes(file);
    std::vector<uint8_t> decoded;
    {
        TMemoryStream whole(bytes);
        DecodeAsPlayer(whole, nullptr, [&](const uint8_t* pcm, int32_t n) {
            decoded.insert(decoded.end(), pcm, pcm + n);
            return true;
        });
    }
    const std::vector<int16_t> ref = test::BytesToPcm16(decoded);
    int32_t refStep = 0, refPeak = 0;
    for (size_t i = 2; i < ref.size(); ++i) refStep = std::max(refStep, std::abs(ref[i] - ref[i - 2]));
    for (int16_t v : ref) refPeak = std::max(refPeak, std::abs(int32_t{v}));

    const std::string wav = dir.File("heard.wav"), stopWav = dir.File("stopped.wav");
    std::string device = wav;
    {
        TMP3Player p([&device] { return CreateWavAudioDevice(device, 4); });
        EventLog log;
        log.Attach(p);
        p.SetAutoPlay(false);
        p.SetFileName(file);
        p.Play();
        test::PumpFor(p, 100ms);
        p.Pause();
        test::PumpFor(p, 50ms);
        p.Resume();
        test::PumpFor(p, 100ms);
        p.Seek(4000);
        ASSERT_TRUE(PumpUntil(p, [&] { return !log.ends.empty(); }));
        // Played again into a file of its own, and stopped in the music.
        device = stopWav;
        p.Play();
        test::PumpFor(p, 100ms);
        p.Stop();
    }
    const std::vector<int16_t> heard = test::BytesToPcm16(test::WavData(wav));
    int32_t step = 0, peak = 0;
    for (size_t i = 2; i < heard.size(); ++i) step = std::max(step, std::abs(heard[i] - heard[i - 2]));
    for (int16_t v : heard) peak = std::max(peak, std::abs(int32_t{v}));
    EXPECT_LE(step, refStep) << "a click";
    EXPECT_LE(peak, refPeak) << "louder than the file";
    // The end is the file from frame k on, whole after the fade-in.
    const size_t from = static_cast<size_t>(FrameOfMs(4000)) * kPcmPerFrame / 2;
    const size_t ramp = 44100 * TSoundOut::kRampMs / 1000 * 2;
    ASSERT_GT(ref.size(), from + ramp);
    const size_t tailLength = ref.size() - from;
    ASSERT_GE(heard.size(), tailLength);
    EXPECT_TRUE(std::equal(heard.end() - static_cast<std::ptrdiff_t>(tailLength - ramp), heard.end(),
                           ref.begin() + static_cast<std::ptrdiff_t>(from + ramp)));

    const std::vector<int16_t> stopped = test::BytesToPcm16(test::WavData(stopWav));
    ASSERT_GT(stopped.size(), ramp);
    int32_t stopStep = 0;
    for (size_t i = 2; i < stopped.size(); ++i) stopStep = std::max(stopStep, std::abs(stopped[i] - stopped[i - 2]));
    EXPECT_LE(stopStep, refStep) << "a click before the stop";
    // The last frames of the fade are all but silent (a cut would end loud).
    int32_t last = 0;
    for (size_t i = stopped.size() - 8; i < stopped.size(); ++i) last = std::max(last, std::abs(int32_t{stopped[i]}));
    EXPECT_LE(last, 64) << "cut off at the stop";
}

}  // namespace
}  // namespace wl
