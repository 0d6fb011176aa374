// What Layers I and II share: entries, the joint-stereo bound, scale-factor
// multipliers, the header remainder and the padded frame copy.
#pragma once

#include <cstdint>

#include "decoder/decoder_state.h"

namespace wl::l12 {

// 2^(-i/3) x 65536: with the class factors this scales samples to 16-bit full scale.
const float* ScaleMultipliers();

// Joint-stereo bound in entries for a frame's mode and mode extension.
int32_t JointStereoBound(int32_t mode, int32_t modeExtension);

struct FrameHead {
    int32_t padding;
    int32_t mode;
    int32_t modeExtension;
    int32_t headerBits;  // 32, or 48 with a CRC
    int32_t frameBytes;  // this frame's length with padding
};

// Copies the frame into the decoder's zero-padded buffer and reads the header
// remainder. False when the frame cannot belong to the configured stream
// (sync, layer, channel layout) or is longer than the caller's data.
bool BeginFrame(DecoderState& d, const uint8_t* frame, FrameHead& head);

// Shared part of the Layer I and II set-up after the layer's own checks.
void FinishSetup(DecoderState& d, int32_t totalEntries);

}  // namespace wl::l12
