// Layer III frame decoding: side information, the main-data reservoir and the
// per-granule pipeline.
#include <algorithm>
#include <cstring>

#include "decoder/decoder_state.h"

namespace wl {

namespace {

// Header plus side information plus CRC never exceed 38 bytes; they are read
// from a zero-padded copy so that a short frame is never read past its end.
constexpr int32_t kSideInfoCopy = 48;

int32_t FrameBytesFromHeader(const uint8_t* frame, const DecoderState& d) {
    TMPEGFrameHeader h{};
    int32_t length = ParseFrameHeader(frame, 0, h);
    if (h.BitrateIndex == 0) length = d.frameLength;
    return FrameBytes(h, length);
}

void DecodeGranule(DecoderState& d, int32_t g, int32_t& bitPos, int16_t* pcm, bool mpeg1,
                   int32_t granuleIndex) {
    const int32_t nch = d.frameChannels;
    for (int32_t ch = 0; ch < nch; ++ch) {
        GranuleInfo& gi = d.gr[g][ch];
        TMainBits& b = d.mainBits;
        b.SetBitSource(d.reservoir + bitPos / 8);
        const int32_t skip = bitPos % 8;
        if (skip) b.GetBits(skip);
        bitPos += gi.part2_3_length;
        b.SetBitLimit(d.reservoir + (bitPos + 39) / 8);
        ScaleFactors& sf = d.sf[g][ch];
        if (mpeg1) {
            ReadScaleFactorsMPEG1(d, sf, gi, d.scfsi[ch], granuleIndex, d.sf[0][ch]);
        } else {
            ReadScaleFactorsLSF(d, sf, gi, ch == 1 && d.intensityStereo, d.isParams);
        }
        DecodeHuffman(d, gi, d.quant[ch], skip, d.lineCount[g][ch]);
    }
    for (int32_t ch = 0; ch < nch; ++ch)
        Requantise(d, d.quant[ch], d.lines[ch][g], d.lineCount[g][ch], d.sf[g][ch], d.gr[g][ch],
                   d.summary[g][ch]);
    ProcessStereoAndAlias(d, g);
    if (nch == 1 && d.codedChannels == 2) {
        // A single-channel frame in a two-channel set-up: both outputs carry it.
        std::memcpy(d.lines[1][g], d.lines[0][g], sizeof d.lines[1][g]);
        d.lineCount[g][1] = d.lineCount[g][0];
        d.gr[g][1] = d.gr[g][0];
        d.summary[g][1] = d.summary[g][0];
    }
    d.granuleOutput(d, pcm, g);
}

// Appends this frame's main data to the reservoir; returns the start offset of
// the frame's main data (negative when it begins before the data held), or
// false when the frame must be refused.
bool FeedReservoir(DecoderState& d, const uint8_t* mainData, int32_t size) {
    const int32_t mdb = d.mainDataBegin;
    d.resStart = d.resFill - mdb;
    if (d.resFill > kReservoirCompactAbove || d.resFill + size > kReservoirSize) {
        const int32_t keep = std::min(mdb, d.resFill);
        std::memmove(d.reservoir, d.reservoir + d.resFill - keep, static_cast<size_t>(keep));
        d.resFill = keep;
        d.resStart = keep - mdb;
    }
    if (size < 0 || size > kMaxMainDataBytes || d.resFill + size > kReservoirSize) return false;
    std::memcpy(d.reservoir + d.resFill, mainData, static_cast<size_t>(size));
    d.resFill += size;
    return true;
}

void FillSilence(const DecoderState& d, int16_t* pcm) {
    std::memset(pcm, d.silenceByte, static_cast<size_t>(d.pcmBytesPerFrame));
}

// Reads the header remainder and side information (into granule slot `slot`
// for LSF) and appends the main data to the reservoir. False when the frame
// is refused; then nothing is written.
bool ReadFrame(DecoderState& d, TDecodeResult& r, const uint8_t* frame, bool mpeg1, int32_t slot) {
    r.BytesConsumed = 0;
    r.PcmBytes = 0;
    const int32_t frameBytes = FrameBytesFromHeader(frame, d);
    uint8_t head[kSideInfoCopy] = {};
    std::memcpy(head, frame, static_cast<size_t>(std::clamp(frameBytes, 4, 40)));

    TMainBits& b = d.mainBits;
    b.SetBitSource(head);
    const uint32_t sync = b.GetBits(12);
    // MPEG 2.5 (sync 4094) only in a stream set up for it: the band tables
    // belong to the set-up's version.
    if (sync != (d.mpeg25 ? 4094u : 4095u)) return false;
    const int32_t sideSize = mpeg1 ? ReadSideInfoMPEG1(d) : ReadSideInfoLSF(d, slot);
    if (d.frameLayer != 1 || d.curFrameLength <= 0) return false;
    const int32_t consumed = d.curFrameLength + d.padding;
    const int32_t size = consumed - sideSize - d.crcBytes;
    if (!FeedReservoir(d, frame + sideSize + d.crcBytes, size)) return false;
    r.BytesConsumed = consumed;
    r.PcmBytes = d.pcmBytesPerFrame;
    return true;
}

}  // namespace

void DecodeFrameLayer3MPEG1(DecoderState& d, TDecodeResult& r, const uint8_t* frame,
                            int16_t* pcm) {
    if (!ReadFrame(d, r, frame, true, 0)) return;
    if (d.resStart < 0) {
        FillSilence(d, pcm);
        return;
    }
    int32_t bitPos = d.resStart * 8;
    const int32_t samplesPerGranule = d.pcmBytesPerGranule / 2;
    for (int32_t g = 0; g < 2; ++g)
        DecodeGranule(d, g, bitPos, pcm + g * samplesPerGranule, true, g);
}

void DecodeFrameLayer3LSF(DecoderState& d, TDecodeResult& r, const uint8_t* frame,
                          int16_t* pcm) {
    const int32_t g = d.granuleSlot;
    if (!ReadFrame(d, r, frame, false, g)) return;
    d.granuleSlot ^= 1;
    if (d.resStart < 0) {
        FillSilence(d, pcm);
        return;
    }
    int32_t bitPos = d.resStart * 8;
    DecodeGranule(d, g, bitPos, pcm, false, 0);
}

}  // namespace wl
