// The player's opening analysis and frame walk over an arbitrary file (what
// `wl-decode --player` runs): it plays or fails with an EMP3Error, nothing else.
#include <cstdint>
#include <vector>

#include "engine/errors.h"
#include "engine/file_stream.h"
#include "engine/frame_walk.h"
#include "fuzz/harness.h"

namespace wl::fuzz {

void PlayerWalkInput(const uint8_t* data, size_t size) {
    if (size > 1 << 18) return;
    TMemoryStream stream(std::vector<uint8_t>(data, data + size));
    int64_t frames = 0;
    try {
        DecodeAsPlayer(
            stream, [](const TStreamFacts&) {},
            [&frames](const uint8_t*, int32_t bytes) {
                if (bytes < 0 || bytes > 4608) __builtin_trap();
                return ++frames < 2000;
            });
    } catch (const EMP3Error&) {
        // "unknown MPEG Audio format." and read errors are the expected failures.
    }
}

}  // namespace wl::fuzz
