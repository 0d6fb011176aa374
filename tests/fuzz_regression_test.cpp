// Every input the fuzzers ever broke the code with, replayed through the same
// harnesses (fuzz/regressions/TARGET/*). Under the sanitizer builds a
// regression shows as a sanitizer report; in any build as a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/harness.h"
#include "tests/test_support.h"

namespace {

namespace fs = std::filesystem;

void Replay(const std::string& target, void (*harness)(const uint8_t*, size_t)) {
    const fs::path dir = fs::path(wl::test::SourceDir()) / "fuzz" / "regressions" / target;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) GTEST_SKIP() << "no reproducers for " << target;
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
    ::testing::Test::RecordProperty("replayed", replayed);
}

TEST(FuzzRegressions, DecodeFrame) { Replay("fuzz_decode_frame", wl::fuzz::DecodeFrameInput); }
TEST(FuzzRegressions, FrameHeader) { Replay("fuzz_frame_header", wl::fuzz::FrameHeaderInput); }
TEST(FuzzRegressions, MediaInfo) { Replay("fuzz_media_info", wl::fuzz::MediaInfoInput); }
TEST(FuzzRegressions, PlayerWalk) { Replay("fuzz_player_walk", wl::fuzz::PlayerWalkInput); }

}  // namespace
