// MPEG audio frame header: parsing, frame lengths, sync search and
// free-format measuring.
#pragma once

#include <cstdint>

namespace wl {

// Raw header fields, right-aligned, in bitstream order.
struct TMPEGFrameHeader {
    int32_t SyncKind;         // 1 = 12-bit sync, 2 = 11-bit sync (MPEG 2.5)
    int32_t VersionId;        // 1 = MPEG-1, 0 = LSF or MPEG 2.5
    int32_t Layer;            // raw code: 3 = Layer I, 2 = Layer II, 1 = Layer III
    int32_t ProtectionBit;    // 0 = CRC follows
    int32_t BitrateIndex;     // 0 = free format, 15 = invalid
    int32_t SampleRateIndex;  // 3 = reserved
    int32_t Padding;
    int32_t PrivateBit;
    int32_t Mode;             // 0 stereo, 1 joint, 2 dual, 3 single channel
    int32_t ModeExtension;
    int32_t Copyright;
    int32_t Original;
    int32_t Emphasis;
};

// Free-format measuring and the header parse look at no more than this many bytes.
constexpr int32_t kMaxHeaderLookahead = 10000;

// Parses the four bytes at `bytes`. Returns the frame length in bytes without
// the padding slot; 0 or less means "not a frame header". `available` counts the
// readable bytes from `bytes` on and matters only for free format. The caller
// must provide four readable bytes.
int32_t ParseFrameHeader(const uint8_t* bytes, int32_t available, TMPEGFrameHeader& header);

// ParseFrameHeader plus the bitrate in bit/s (0 when the parse gave 0).
int32_t ProbeFrame(const uint8_t* bytes, int32_t available, TMPEGFrameHeader& header,
                   int32_t& bitrate);

// Finds the first sync candidate in the first `available` bytes, stores its
// position in `offset` and probes it. Returns 0 (offset untouched) when there
// is no candidate.
int32_t FindFrame(const uint8_t* bytes, int32_t available, TMPEGFrameHeader& header,
                  int32_t& bitrate, int32_t& offset);

// Measures the length of a free-format frame starting at `bytes` (without its
// padding slot); 0 when no repeating frame chain is found.
int32_t FreeFormatFrameLength(const uint8_t* bytes, int32_t available);

// Bytes of the padding slot a header asks for: 4 in Layer I, 1 in Layers II
// and III, 0 without padding. Frame lengths exchanged with ParseFrameHeader
// exclude it.
inline int32_t PaddingSlot(const TMPEGFrameHeader& h) {
    if (!h.Padding) return 0;
    return h.Layer == 3 ? 4 : 1;
}

// Whole frame bytes: a length as ParseFrameHeader gives it plus the padding
// slot; 0 when the length is not positive.
inline int32_t FrameBytes(const TMPEGFrameHeader& h, int32_t lengthWithoutPadding) {
    return lengthWithoutPadding > 0 ? lengthWithoutPadding + PaddingSlot(h) : 0;
}

// Layer number 1..3 from the raw layer code (0 for the reserved code).
inline int32_t LayerNumber(const TMPEGFrameHeader& h) {
    return h.Layer >= 1 && h.Layer <= 3 ? 4 - h.Layer : 0;
}

// 1 MPEG-1, 2 MPEG-2 (LSF), 3 MPEG 2.5; 0 for a combination that is none.
inline int32_t MpegVersion(const TMPEGFrameHeader& h) {
    if (h.SyncKind == 1) return h.VersionId == 1 ? 1 : 2;
    if (h.SyncKind == 2 && h.VersionId == 0) return 3;
    return 0;
}

// PCM samples per channel in one frame.
inline int32_t SamplesPerFrame(const TMPEGFrameHeader& h) {
    if (h.Layer == 3) return 384;
    if (h.Layer == 2) return 1152;
    return MpegVersion(h) == 1 ? 1152 : 576;
}

// Number of coded channels of a header (1 for single channel, else 2).
inline int32_t CodedChannels(const TMPEGFrameHeader& h) { return h.Mode == 3 ? 1 : 2; }

// Bitrate in kbit/s from the header's index (0 for free format or index 15).
int32_t HeaderBitrateKbps(const TMPEGFrameHeader& h);

}  // namespace wl
