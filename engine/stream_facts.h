// What the opening analysis finds out about a stream and how the decoder is
// set up for it: shared by stream opening, the frame walk and the player.
#pragma once

#include <cstdint>

#include "decoder/decoder.h"
#include "decoder/frame_header.h"
#include "engine/vbr_header.h"

namespace wl {

// How the player sets the decoder up: full rate, 16 bit, channels as coded,
// every subband and line (the 24000 Hz limit alone would drop audible content
// of the lower sampling rates).
inline constexpr int32_t kPlayerBandLimitHz = 24000;
int32_t PlayerOutputFlags();

inline constexpr const char* kUnknownFormatText = "unknown MPEG Audio format.";

struct TStreamFacts {
    int64_t audioStart = 0;
    int64_t audioLength = 0;  // 2147483647 = unknown
    TMPEGFrameHeader firstHeader{};
    uint32_t firstHeaderWord = 0;
    int32_t nextFrameLength = 0;  // 0 after a skipped VBR header frame
    int32_t layer = 0;            // 1..3
    int32_t version = 0;          // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
    int32_t sampleRate = 0;
    int32_t channels = 0;
    int32_t bitsPerSample = 0;
    int32_t bitrate = 0;          // bit/s of the first frame; 0 with a VBR header
    int32_t pcmBytesPerFrame = 0;
    int64_t totalPcmBytes = 0;    // of the music, from a VBR header; 0 = unknown
    int64_t firstFrameOffset = 0; // frame table entry 0
    int64_t firstFrameFound = 0;  // the first frame found, a header frame included
    int32_t freeFormatLength = 0; // free format: frame length without padding
    bool xingHeader = false;      // a Xing or Info header frame
    bool vbriHeader = false;
    TVbrHeader vbr;
    // Gapless playback (Layer III with the encoder's delay and padding): the
    // decoded samples per channel before the music, and the music's length
    // in samples per channel (0 = unknown: everything decoded is played).
    int32_t trimStart = 0;
    int64_t musicSamples = 0;
};

// How the decoder is set up for the stream. The player's: full band, no free
// format (its frames cannot be measured from the header).
struct TOpenOptions {
    int32_t outputFlags = PlayerOutputFlags();
    int32_t bandLimitHz = kPlayerBandLimitHz;
    bool freeFormat = false;
};

}  // namespace wl
