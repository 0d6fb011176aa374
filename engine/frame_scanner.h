// Finding MPEG audio frames in a stream: the confirmed search for the first
// frame, measuring a frame against the stream's first header, and the limits
// for junk. The player's opening analysis and frame walk, wl-decode in both
// modes, the benchmarks and the fuzz harnesses all find frames through here.
#pragma once

#include <cstdint>

#include "decoder/frame_header.h"
#include "io/stream_reader.h"

namespace wl {

// How far past the tags and wrappers the first frame is searched for.
inline constexpr int64_t kFirstFrameSearchLimit = 1 << 20;
// Bytes of junk skipped in a row inside the stream before the audio is taken
// as ended.
inline constexpr int32_t kResyncLimit = 4096;
// Header bits that every frame shares with the first: sync, version, layer
// and sampling frequency (the first four bytes read little-endian).
inline constexpr uint32_t kFrameMatchMask = 0x000CFEFF;
// Audio length when not known.
inline constexpr int64_t kUnknownAudioLength = 2147483647;
// Frames that must follow a candidate (or the audio must end) before it counts
// as the first frame.
inline constexpr int32_t kConfirmingFrames = 2;

inline uint32_t LittleEndianWord(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Length (padding included) of the frame at `bytes` (four readable bytes), or
// <= 0 when no frame of the stream whose first header word is given starts
// there. Free-format frames are never accepted. `header` receives the parse.
int32_t FrameLength(const uint8_t* bytes, uint32_t firstHeaderWord, TMPEGFrameHeader& header);

struct TFirstFrame {
    int64_t offset = 0;          // stream position of the frame
    TMPEGFrameHeader header{};
    uint32_t headerWord = 0;     // its four bytes, little-endian
    int32_t frameBytes = 0;      // padding included
    int32_t freeFormatLength = 0;  // measured length without padding (free format only)
};

// From the reader's position, searches at most kFirstFrameSearchLimit bytes
// for the first frame that is confirmed: a header of a known version, layer
// and rate (free format only when `freeFormat`) followed by kConfirmingFrames
// frames of the same version, layer, rate and channel count, or by the end of
// the audio at `audioEnd` (a stream position). On success the reader stands at
// the frame. Read errors propagate.
bool FindFirstFrame(TMPStreamReader& reader, int64_t audioEnd, bool freeFormat, TFirstFrame& out);

}  // namespace wl
