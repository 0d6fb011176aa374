// Layer I decoding (MPEG-1 and LSF): 4-bit allocations, joint-stereo sharing,
// scale factors and 12 sample periods, skipping above the band limit.
#include <algorithm>
#include <cmath>

#include "decoder/layer12_common.h"

namespace wl {

namespace {

// 2 / (2^(a + 1) - 1) for allocation a = 1..14.
const float* AllocationFactors() {
    static const auto table = [] {
        struct Table {
            float v[16];
        } t{};
        for (int a = 1; a < 15; ++a) t.v[a] = static_cast<float>(2.0 / ((1 << (a + 1)) - 1));
        return t;
    }();
    return table.v;
}

}  // namespace

bool SetupLayer1(DecoderState& d, const TMPEGFrameHeader& h) {
    if (h.Layer != 3 || h.SampleRateIndex > 2 || h.SyncKind != 1) return false;
    for (int32_t& c : d.l12RowCounts) c = 0;
    l12::FinishSetup(d, 32);
    d.frameDecoder = DecodeFrameLayer1;
    return true;
}

void DecodeFrameLayer1(DecoderState& d, TDecodeResult& r, const uint8_t* frame, int16_t* pcm) {
    r.BytesConsumed = 0;
    r.PcmBytes = 0;
    l12::FrameHead head{};
    if (!l12::BeginFrame(d, frame, head)) return;
    TFrameBits& b = d.frameBits;
    const float* multiplier = l12::ScaleMultipliers();
    const float* factor = AllocationFactors();
    const int32_t total = d.l12Total;
    const int32_t limit = d.l12Limit;
    const bool stereo = d.codedChannels == 2;

    int64_t bits = head.headerBits;
    int32_t skipPerPeriod = 0;
    int32_t bound = l12::JointStereoBound(head.mode, head.modeExtension);
    for (int32_t j = 0; j < total;) {
        const int32_t a = static_cast<int32_t>(b.ReadBits(4));
        bits += 4;
        // The forbidden allocation 15 marks a damaged frame.
        if (a == 15) return;
        const int32_t sampleBits = a ? a + 1 : 0;
        if (j >= limit) skipPerPeriod += sampleBits;
        bits += 12 * sampleBits;
        --bound;
        const int32_t step = (bound < 0 && stereo && j + 1 < total) ? 2 : 1;
        for (int32_t c = 0; c < step; ++c) {
            d.l12Class[j + c] = a;
            d.l12Shared[j + c] = step == 2;
        }
        j += step;
    }
    for (int32_t e = 0; e < total; ++e)
        if (d.l12Class[e] != 0) bits += 6;
    if (bits > int64_t{8} * head.frameBytes) return;

    for (int32_t e = 0; e < total; ++e) {
        const int32_t a = d.l12Class[e];
        if (a != 0) d.l12Product[e][0] = factor[a] * multiplier[b.ReadBits(6)];
    }

    const int32_t decoded = std::min(limit, total);
    for (int period = 0; period < 12; ++period) {
        float* row = d.samples + 64 * period;
        for (int32_t e = 0; e < decoded;) {
            const int32_t a = d.l12Class[e];
            const int32_t step = d.l12Shared[e] ? 2 : 1;
            float v = 0.0f;
            if (a != 0) v = static_cast<float>(static_cast<int32_t>(b.ReadBits(a + 1)) - ((1 << a) - 1));
            for (int32_t c = 0; c < step; ++c)
                row[e + c] = a != 0 ? v * d.l12Product[e + c][0] : 0.0f;
            e += step;
        }
        if (skipPerPeriod > 0) b.SkipBits(skipPerPeriod);
    }

    SynthL12(d.synth, d.route, d.samples, pcm, 12);
    r.BytesConsumed = d.frameLength + 4 * head.padding;
    r.PcmBytes = d.pcmBytesPerFrame;
}

}  // namespace wl
