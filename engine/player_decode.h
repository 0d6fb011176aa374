// Whole-stream decoding exactly as the player plays it, for the tools and
// the tests: the opening analysis, then the frame walk.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/stream_facts.h"
#include "io/file_stream.h"

namespace wl {

// Decodes `stream` exactly as the player plays it: the opening analysis, then
// the frame walk until the audio is used up. `begin` gets the facts before
// the first frame; `frame` gets each frame's PCM as the player would hand it to
// its output and may answer false to stop. Raises EMP3Error (for example
// "unknown MPEG Audio format.").
void DecodeAsPlayer(TStream& stream, const std::function<void(const TStreamFacts&)>& begin,
                    const std::function<bool(const uint8_t* pcm, int32_t bytes)>& frame);

}  // namespace wl
