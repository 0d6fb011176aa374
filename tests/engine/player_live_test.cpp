// Live streams in the player: the sound goes on through underruns (never
// ending the entry) with the file's samples, titles are told when their audio
// is heard, a reconnection's break restarts the decoder on the new bytes with
// nothing of the old side left, a long pause resumes live, and a station
// given up ends the entry as its end would.
#include <gtest/gtest.h>

#include <thread>

#include "engine/live_open.h"
#include "engine/player_decode.h"
#include "tests/engine/fake_live_source.h"
#include "tests/engine/player_support.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using test::PumpUntil;
using test::TFakeLiveSource;

std::vector<uint8_t> FilePcm(const std::vector<uint8_t>& bytes) {
    TMemoryStream stream(bytes);
    return test::PlayerPcm(stream);
}

// Sample frames (4 bytes) in which a and b differ.
int64_t DifferingFrames(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int64_t n = 0;
    for (size_t i = 0; i + 4 <= std::min(a.size(), b.size()); i += 4) n += std::memcmp(&a[i], &b[i], 4) != 0;
    return n;
}

struct LiveFixture : test::PlayerFixture {
    explicit LiveFixture(std::vector<uint8_t> bytes) : PlayerFixture(5) {
        auto owned = std::make_unique<TFakeLiveSource>(std::move(bytes));
        source = owned.get();
        live = std::move(owned);
        player.OnLiveNews = [this](TMP3Player*, const TLiveNews& n) {
            news.push_back(n);
            if (n.kind == TLiveNews::TKind::Title) titlesAt.emplace_back(n.text, player.Position());
        };
    }
    // Pre-buffers and opens (the way the controller does).
    void Open() {
        source->Release(source->PrebufferBytes());
        ASSERT_EQ(WaitForPrebuffer(*source, nullptr, nullptr), TPrebufferResult::Ready);
        player.OpenStream(std::move(live), "http://test/");
        ASSERT_TRUE(player.IsLive());
    }
    int Count(TLiveNews::TKind kind) const {
        return static_cast<int>(std::count_if(news.begin(), news.end(), [&](const TLiveNews& n) { return n.kind == kind; }));
    }

    std::unique_ptr<TLiveSource> live;
    TFakeLiveSource* source = nullptr;
    std::vector<TLiveNews> news;
    std::vector<std::pair<std::string, int64_t>> titlesAt;
};

std::string PlainFile(const test::TempDir& dir, double seconds) {
    return test::LameFile(dir, "plain.mp3", seconds, "--cbr -b 128 -t");
}

TEST(PlayerLiveTest, UnderrunsWaitAndPlayOnWithTheStreamsSamplesAndTitlesComeWhenHeard) {
    test::TempDir dir;
    const std::string file = PlainFile(dir, 6);
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    const std::vector<uint8_t> bytes = test::ReadFileBytes(file);
    LiveFixture f(bytes);
    f.source->AddTitle(30000, "Artist A - Title A");
    f.source->AddTitle(70000, "");
    f.Open();
    EXPECT_EQ(f.player.Length(), 0);
    f.player.Play();
    // Delivered in bursts with two stalls long enough to run the output dry.
    std::atomic<bool> done{false};
    std::thread network([&] {
        const auto size = static_cast<int64_t>(bytes.size());
        for (int64_t at = f.source->Released(); at < size; at += 4096) {
            f.source->Release(at + 4096);
            std::this_thread::sleep_for(at > 40000 && at < 44097 ? 1500ms : at > 80000 && at < 84097 ? 1500ms : 10ms);
        }
        f.source->SetState(TLiveState::Ended);
        done = true;
    });
    const bool ended = PumpUntil(f.player, [&] { return !f.log.ends.empty(); }, 60s);
    network.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(f.log.ends.front(), mepEndOfStream);
    // Two underruns at least, each followed by the sound going on.
    EXPECT_GE(f.Count(TLiveNews::TKind::Playing), 2);
    EXPECT_GE(f.Count(TLiveNews::TKind::Buffering), 2);
    // The file's samples, but for the fade-ins after the underruns.
    const std::vector<uint8_t> heard = f.rec->All();
    const std::vector<uint8_t> expected = FilePcm(bytes);
    EXPECT_EQ(heard.size(), expected.size());
    const int64_t rampFrames = 44100 * TSoundOut::kRampMs / 1000 + 1;
    EXPECT_LE(DifferingFrames(heard, expected), rampFrames * f.Count(TLiveNews::TKind::Playing));
    // Titles in order, each told once its audio was heard, within a second.
    ASSERT_EQ(f.titlesAt.size(), 2u);
    EXPECT_EQ(f.titlesAt[0].first, "Artist A - Title A");
    EXPECT_EQ(f.titlesAt[1].first, "");
    const int64_t msA = 30000 * 1000 / 16000, msB = 70000 * 1000 / 16000;
    EXPECT_GE(f.titlesAt[0].second, msA - 60);
    EXPECT_LE(f.titlesAt[0].second, msA + 1000);
    EXPECT_GE(f.titlesAt[1].second, msB - 60);
    EXPECT_LE(f.titlesAt[1].second, msB + 1000);
}

TEST(PlayerLiveTest, ABreakRestartsTheDecoderOnTheNewBytesWithNothingOfTheOldSide) {
    test::TempDir dir;
    const std::string file = PlainFile(dir, 4);
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    const std::vector<uint8_t> whole = test::ReadFileBytes(file);
    // The old connection ends mid-frame; the new one begins mid-frame.
    constexpr size_t kCut = 30000, kResume = 5000;
    std::vector<uint8_t> bytes(whole.begin(), whole.begin() + kCut);
    bytes.insert(bytes.end(), whole.begin() + kResume, whole.end());
    LiveFixture f(bytes);
    f.source->AddBreak(kCut);
    f.Open();
    f.source->Release(static_cast<int64_t>(bytes.size()));
    f.source->SetState(TLiveState::Ended);
    ASSERT_TRUE(f.PlayToEnd());
    const std::vector<uint8_t> heard = f.rec->All();
    const std::vector<uint8_t> expected = FilePcm(whole);
    // Before the break: the file's start. After it: the file from its resumed
    // frames to the end (the frames that lack their bit reservoir come out
    // silent, then fade in).
    const size_t head = 20000 / 417 * test::kPcmPerFrame;
    ASSERT_GT(heard.size(), head);
    EXPECT_TRUE(std::equal(heard.begin(), heard.begin() + head, expected.begin()));
    const size_t tail = (whole.size() - kResume - 8000) / 418 * test::kPcmPerFrame;
    ASSERT_GT(heard.size(), tail);
    EXPECT_TRUE(std::equal(heard.end() - tail, heard.end(), expected.end() - tail));
    // Nothing made of both sides: no more sound than the two parts hold.
    EXPECT_LE(heard.size(), (kCut / 417 + (whole.size() - kResume) / 417 + 2) * test::kPcmPerFrame);
}

TEST(PlayerLiveTest, ALongPauseOrAStopResumesLiveAndAStationGivenUpEndsTheEntry) {
    test::TempDir dir;
    const std::string file = PlainFile(dir, 6);
    if (file.empty()) GTEST_SKIP() << "lame is not installed";
    const std::vector<uint8_t> bytes = test::ReadFileBytes(file);
    LiveFixture f(bytes);
    f.player.SetLivePauseKeepMs(50);
    f.Open();
    f.source->Release(40000);
    f.player.Play();
    ASSERT_TRUE(PumpUntil(f.player, [&] { return f.player.Position() > 300; }));
    f.player.Pause();
    std::this_thread::sleep_for(100ms);
    f.player.Resume();
    EXPECT_EQ(f.source->restarts.load(), 1);
    // Live again: what the source sends from now on plays.
    f.source->Release(60000);
    ASSERT_TRUE(PumpUntil(f.player, [&] { return f.Count(TLiveNews::TKind::Playing) >= 1; }));
    f.player.Stop();
    f.player.Play();
    EXPECT_EQ(f.source->restarts.load(), 2);
    f.source->Release(static_cast<int64_t>(bytes.size()));
    ASSERT_TRUE(PumpUntil(f.player, [&] { return f.Count(TLiveNews::TKind::Playing) >= 2; }));
    const size_t ends = f.log.ends.size();  // the Stop's
    f.source->SetState(TLiveState::Failed, "http://test/: the station is gone");
    ASSERT_TRUE(PumpUntil(f.player, [&] { return f.log.ends.size() > ends; }, 30s));
    EXPECT_EQ(f.log.ends.back(), mepEndOfStream);
    ASSERT_GE(f.Count(TLiveNews::TKind::Failed), 1);
    EXPECT_EQ(std::find_if(f.news.begin(), f.news.end(), [](const TLiveNews& n) {
                  return n.kind == TLiveNews::TKind::Failed;
              })->text,
              "http://test/: the station is gone");
}

}  // namespace
}  // namespace wl
