// Opening analysis of an MPEG audio stream: where the audio lies (through
// TMP3Info), the first frame and its output format, a Xing or VBRI header.
#pragma once

#include <cstdint>

#include "decoder/decoder.h"
#include "decoder/frame_header.h"
#include "engine/stream_facts.h"
#include "io/stream_reader.h"
#include "info/mp3_info.h"

namespace wl {

// With the reader open on the stream and `info` attached to it: finds the
// audio behind tags and wrappers, the first confirmed frame, sets `decoder`
// up for it, reads a VBR header and leaves the reader at the first frame to
// play. Raises EMP3Error "unknown MPEG Audio format." when there is no
// playable stream; read errors propagate with their own text.
void AnalyzeStream(TMPStreamReader& reader, TMP3Info& info, DecoderState& decoder, TStreamFacts& facts,
                   const TOpenOptions& options = {});

}  // namespace wl
