#include "decoder/layer12_common.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace wl::l12 {

const float* ScaleMultipliers() {
    static const auto table = [] {
        struct Table {
            float v[64];
        } t{};
        for (int i = 0; i < 64; ++i) t.v[i] = static_cast<float>(std::exp2(-i / 3.0) * 65536.0);
        return t;
    }();
    return table.v;
}

int32_t JointStereoBound(int32_t mode, int32_t modeExtension) {
    switch (mode) {
        case 1:
            return 8 * (modeExtension + 1);
        case 3:
            return 32;
        default:
            return 64;
    }
}

bool BeginFrame(DecoderState& d, const uint8_t* frame, FrameHead& head) {
    TMPEGFrameHeader h{};
    int32_t length = ParseFrameHeader(frame, 0, h);
    if (h.SyncKind != 1 || h.Layer != d.layerCode) return false;
    if (CodedChannels(h) != d.codedChannels) return false;
    if (h.BitrateIndex == 0) length = d.frameLength;
    if (length <= 0) return false;
    head.frameBytes = FrameBytes(h, length);
    if (head.frameBytes > kMaxHeaderLookahead) return false;
    // Everything behind the frame must read as zero; only the part that an
    // earlier, longer frame left needs clearing.
    std::memcpy(d.frameCopy, frame, static_cast<size_t>(head.frameBytes));
    if (d.frameCopyUsed > head.frameBytes)
        std::memset(d.frameCopy + head.frameBytes, 0,
                    static_cast<size_t>(d.frameCopyUsed - head.frameBytes));
    d.frameCopyUsed = head.frameBytes;

    TFrameBits& b = d.frameBits;
    b.SetFrameSource(d.frameCopy);
    if (b.ReadBits(12) != 4095) return false;
    b.ReadBits(3);  // version and layer: the set-up's hold
    const int32_t protection = static_cast<int32_t>(b.ReadBits(1));
    b.ReadBits(6);  // bitrate and sampling rate: the set-up's hold
    head.padding = static_cast<int32_t>(b.ReadBits(1));
    b.ReadBits(1);
    head.mode = static_cast<int32_t>(b.ReadBits(2));
    head.modeExtension = static_cast<int32_t>(b.ReadBits(2));
    if (protection == 0) {
        b.ReadBits(4);
        b.ReadBits(16);  // CRC, not verified
        head.headerBits = 48;
    } else {
        b.ReadBits(4);
        head.headerBits = 32;
    }
    return true;
}

void FinishSetup(DecoderState& d, int32_t totalEntries) {
    d.l12Total = totalEntries;
    d.l12Limit = std::min(d.subbandLimit, totalEntries);
    if (d.codedChannels == 2) {
        for (int32_t& c : d.l12RowCounts) c *= 2;
        d.l12Total *= 2;
        d.l12Limit *= 2;
    }
    std::memset(d.samples, 0, sizeof d.samples);
    d.l12Written = 0;
    std::memset(d.l12Class, 0, sizeof d.l12Class);
    std::memset(d.l12Shared, 0, sizeof d.l12Shared);
    ResetSynthesisState(d.synth);
}

}  // namespace wl::l12
