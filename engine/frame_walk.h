// The frame walk shared by the player's decoding thread and `wl-decode
// --player`: measuring a frame against the stream's first header, decoding it
// with the process-wide decoder, skipping junk byte by byte and deciding where
// the audio ends.
#pragma once

#include <cstdint>
#include <functional>

#include "decoder/frame_header.h"
#include "engine/file_stream.h"
#include "engine/stream_reader.h"

namespace wl {

struct TStreamFacts;

// How the player sets the decoder up: full rate, 16 bit, channels as coded,
// every subband and line (the 24000 Hz limit alone would drop audible content
// of the lower sampling rates).
inline constexpr int32_t kPlayerBandLimitHz = 24000;
int32_t PlayerOutputFlags();

// Bytes of junk skipped in a row before the audio is taken as ended.
inline constexpr int32_t kResyncLimit = 4096;
// Header bits that every frame shares with the first: sync, version, layer
// and sampling frequency (the first four bytes read little-endian).
inline constexpr uint32_t kFrameMatchMask = 0x000CFEFF;
// Audio length when not known.
inline constexpr int64_t kUnknownAudioLength = 2147483647;

inline uint32_t LittleEndianWord(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Bytes of the padding slot the header asks for.
int32_t PaddingSlot(const TMPEGFrameHeader& h);

// Length (padding included) of the frame at `bytes` (four readable bytes), or
// <= 0 when no frame of the stream whose first header word is given starts
// there. Free-format frames are never accepted. `header` receives the parse.
int32_t FrameLength(const uint8_t* bytes, uint32_t firstHeaderWord, TMPEGFrameHeader& header);

// Walk state over a reader; the player keeps one under its decode lock.
struct TFrameWalker {
    enum class TStepResult {
        Decoded,  // one frame's PCM (silence when the decoder refused it)
        Skipped,  // a byte of junk was skipped, or the set-up failed here
        Ended,    // the end-of-data rule was applied
    };

    TMPStreamReader* reader = nullptr;
    int64_t audioStart = 0;
    int64_t audioLength = kUnknownAudioLength;
    uint32_t firstHeaderWord = 0;
    TMPEGFrameHeader header{};  // of the frame measured last
    int32_t nextFrameLength = 0;
    int32_t resyncCount = 0;
    bool needSetup = false;
    int32_t pcmBytesPerFrame = 0;

    void Assign(TMPStreamReader* r, const TStreamFacts& facts);

    // The reader has passed the end of the audio.
    bool AudioUsedUp() const;
    // The audio ends at the reader's position.
    void EndOfData();
    // Skips one byte of junk, or ends the audio after kResyncLimit of them.
    void ResyncStep();
    // Measures, sets up when asked and decodes one frame into pcm
    // (pcmBytesPerFrame bytes). Call only when !AudioUsedUp().
    TStepResult DecodeNext(uint8_t* pcm);
    // Passes one frame from the reader's position, skipping up to
    // kResyncLimit - 1 bytes of junk before it; the frame must end within the
    // audio. False when none is found.
    bool ScanFrame();
    // Back to the first audio byte, decoder to be set up again.
    void Rewind();
};

// Decodes `stream` exactly as the player plays it: the opening analysis, then
// the frame walk until the audio is used up. `begin` gets the facts before
// the first frame; `frame` gets each frame's PCM as the player would hand it to
// its output and may answer false to stop. Raises EMP3Error (for example
// "unknown MPEG Audio format.").
void DecodeAsPlayer(TStream& stream, const std::function<void(const TStreamFacts&)>& begin,
                    const std::function<bool(const uint8_t* pcm, int32_t bytes)>& frame);

}  // namespace wl
