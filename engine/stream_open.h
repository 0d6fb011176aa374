// Opening analysis of an MPEG audio stream: where the audio lies (through
// TMP3Info), the first frame and its output format, a Xing or VBRI header.
#pragma once

#include <cstdint>

#include "decoder/frame_header.h"
#include "engine/stream_reader.h"
#include "info/mp3_info.h"

namespace wl {

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
    int64_t totalPcmBytes = 0;    // from a VBR header; 0 = unknown
    int64_t firstFrameOffset = 0; // frame table entry 0
    bool xingHeader = false;
    bool vbriHeader = false;
};

// Position of a Xing or VBRI header in the first frame, counted from its first
// byte; `withCrc` adds the two CRC bytes.
int32_t VbrHeaderOffset(const TMPEGFrameHeader& h, bool withCrc);

// With the reader open on the stream and `info` attached to it: finds the
// audio, the first frame (searching on past a first sync candidate that is not
// a frame), sets the process-wide decoder up for it, reads a VBR header and
// leaves the reader at the first frame to play. Raises EMP3Error
// "unknown MPEG Audio format." when there is no playable stream; read errors
// propagate with their own text.
void AnalyzeStream(TMPStreamReader& reader, TMP3Info& info, TStreamFacts& facts);

}  // namespace wl
