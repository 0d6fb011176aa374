// The MPEG audio decoder: stream set-up, frame decoding, output format,
// polarity, equalizer tables and routine selection.
//
// Every function works on an explicit DecoderState: the player, the tools and
// the tests each make their own with NewDecoder.
//
// Failures: the decoder reports by value and never throws. A refused set-up
// answers false, a rejected frame 0 bytes consumed and 0 PCM bytes; the
// caller decides (the frame walk plays silence or skips a byte). Nothing is
// allocated while decoding.
#pragma once

#include <cstdint>
#include <memory>

#include "decoder/cpu_features.h"
#include "decoder/frame_header.h"

namespace wl {

struct TMPEGOutputFormat {
    int32_t Channels;
    int32_t SamplesPerFrame;  // over all output channels
    int32_t SampleRate;
    int32_t BitsPerSample;
    int32_t FrameLength;
    int32_t Reserved;
};

struct TDecodeResult {
    int32_t BytesConsumed;  // frame length plus padding slot; 0 = rejected
    int32_t PcmBytes;       // bytes written; 0 = rejected
};

// Output flags of SetupDecoder.
enum : int32_t {
    kOutputAsCoded = 0,
    kOutputMonoMix = 1,
    kOutputLeft = 2,
    kOutputRight = 3,
    kOutputChannelMask = 3,
    kOutput8Bit = 0x08,
    kOutputFullBand = 0x10,  // all 32 subbands and all 576 Layer III lines
};

// Largest PCM output of one frame in bytes (1152 samples x 2 channels x 16 bit).
constexpr int32_t kMaxPcmBytesPerFrame = 1152 * 2 * 2;

struct DecoderState;

std::unique_ptr<DecoderState, void (*)(DecoderState*)> NewDecoder();

bool SetupDecoder(DecoderState& d, const TMPEGFrameHeader& header, int32_t frameLength,
                  int32_t downShift, int32_t reserved, int32_t outputFlags,
                  int32_t bandLimitHz);
void GetOutputFormat(const DecoderState& d, TMPEGOutputFormat& format);

// Decodes the whole frame at frameBytes (header included) into pcmOut
// (16-bit aligned, room for PcmBytes). `available` is the number of readable
// bytes at frameBytes; a frame longer than that is rejected. Negative means
// the caller guarantees the whole frame.
void DecodeFrame(DecoderState& d, TDecodeResult& result, const uint8_t* frameBytes,
                 int32_t available, void* pcmOut);

// Re-selects the channel routing and output format for a frame whose coded
// channel count differs from the set-up's (streams that switch between single
// channel and stereo), keeping the reservoir, overlaps and synthesis history.
// Output follows the new frame's own channel count. Returns false when the
// decoder is not configured for Layer III or the header does not fit the stream.
bool AdaptChannelCount(DecoderState& d, const TMPEGFrameHeader& header);
// Coded channel count of the current set-up (0 before the first set-up).
int32_t ConfiguredChannels(const DecoderState& d);

void ResetSynthesis(DecoderState& d);
void SetPolarity(DecoderState& d, bool inverted);
bool GetPolarity(const DecoderState& d);

// Equalizer tables: the player writes entries directly.
float* SubbandGain(DecoderState& d);  // 32 entries
float* LineGain(DecoderState& d);     // 576 entries
int32_t* SubbandEqEnabled(DecoderState& d);
int32_t* LineEqEnabled(DecoderState& d);

void SelectRoutines(DecoderState& d, uint32_t capabilities);

}  // namespace wl
