// Every input the fuzzers ever broke the code with, replayed through the same
// harnesses (fuzz/regressions/TARGET/*). A target without a kept reproducer
// replays its kept corpus (fuzz/corpus/TARGET/*) instead, so that its harness
// runs in every build too. Under the sanitizer builds a regression shows as a
// sanitizer report; in any build as a crash.
//
// The playlist, station list and settings harnesses need QtCore: they are
// replayed by the application tests (this file built with
// WL_REPLAY_QT_HARNESSES), the others by the engine tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/harness.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

void Replay(const std::string& target, void (*harness)(const uint8_t*, size_t)) {
    const fs::path fuzz = fs::path(wl::test::SourceDir()) / "fuzz";
    std::error_code ec;
    fs::path dir = fuzz / "regressions" / target;
    if (!fs::is_directory(dir, ec) || fs::is_empty(dir, ec)) dir = fuzz / "corpus" / target;
    ASSERT_TRUE(fs::is_directory(dir, ec)) << "no reproducers and no corpus for " << target;
    int replayed = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        bool ok = false;
        const auto bytes = wl::test::ReadFileBytes(entry.path().string(), &ok);
        ASSERT_TRUE(ok) << entry.path();
        SCOPED_TRACE(entry.path().filename().string());
        harness(bytes.data(), bytes.size());
        ++replayed;
    }
    EXPECT_GT(replayed, 0) << dir;
    ::testing::Test::RecordProperty("replayed", replayed);
}

#ifdef WL_REPLAY_QT_HARNESSES
TEST(FuzzRegressions, M3u) { Replay("fuzz_m3u", wl::fuzz::M3uInput); }
TEST(FuzzRegressions, Settings) { Replay("fuzz_settings", wl::fuzz::SettingsInput); }
TEST(FuzzRegressions, StationList) { Replay("fuzz_station_list", wl::fuzz::StationListInput); }
TEST(FuzzRegressions, Cue) { Replay("fuzz_cue", wl::fuzz::CueInput); }
#else
TEST(FuzzRegressions, DecodeFrame) { Replay("fuzz_decode_frame", wl::fuzz::DecodeFrameInput); }
TEST(FuzzRegressions, FrameHeader) { Replay("fuzz_frame_header", wl::fuzz::FrameHeaderInput); }
TEST(FuzzRegressions, MediaInfo) { Replay("fuzz_media_info", wl::fuzz::MediaInfoInput); }
TEST(FuzzRegressions, PlayerWalk) { Replay("fuzz_player_walk", wl::fuzz::PlayerWalkInput); }
TEST(FuzzRegressions, Id3Text) { Replay("fuzz_id3_text", wl::fuzz::Id3TextInput); }
TEST(FuzzRegressions, Icy) { Replay("fuzz_icy", wl::fuzz::IcyInput); }
TEST(FuzzRegressions, Picture) { Replay("fuzz_picture", wl::fuzz::PictureInput); }
#endif

}  // namespace
