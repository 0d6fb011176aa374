// The player's opening analysis and frame walk over an arbitrary file (what
// `wl-decode --player` runs): it plays or fails with an EMP3Error, nothing else.
// Inputs are at most 16 KB and at most kMaxFrames frames are played: the
// analysis, the first-frame search, the header frame, junk skipping and the
// end of the audio all lie within that; the frames' own decoding is
// fuzz_decode_frame's work.
#include <cstdint>
#include <span>

#include "io/errors.h"
#include "io/file_stream.h"
#include "engine/frame_walk.h"
#include "engine/player_decode.h"
#include "fuzz/harness.h"

namespace wl::fuzz {

namespace {
constexpr int64_t kMaxFrames = 8;
}  // namespace

void PlayerWalkInput(const uint8_t* data, size_t size) {
    if (size > 1 << 14) return;
    TMemoryViewStream stream(std::span<const uint8_t>(data, size));
    int64_t frames = 0;
    try {
        DecodeAsPlayer(
            stream, [](const TStreamFacts&) {},
            [&frames](const uint8_t*, int32_t bytes) {
                if (bytes < 0 || bytes > 4608) __builtin_trap();
                return ++frames < kMaxFrames;
            });
    } catch (const EMP3Error&) {
        // "unknown MPEG Audio format." and read errors are the expected failures.
    }
}

}  // namespace wl::fuzz
