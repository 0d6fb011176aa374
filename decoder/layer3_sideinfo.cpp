// Layer III header remainder, side information and scale factors.
#include <algorithm>

#include "decoder/decoder_state.h"
#include "decoder/tables.h"

namespace wl {

namespace {

// Header fields after the 12 sync bits. The frame's length comes from its
// bitrate index; free-format frames keep the set-up's length.
void ReadHeaderRemainder(DecoderState& d) {
    TMainBits& b = d.mainBits;
    TMPEGFrameHeader h{};
    h.SyncKind = d.mpeg25 ? 2 : 1;
    h.VersionId = static_cast<int32_t>(b.GetBits(1));
    h.Layer = static_cast<int32_t>(b.GetBits(2));
    h.ProtectionBit = static_cast<int32_t>(b.GetBits(1));
    h.BitrateIndex = static_cast<int32_t>(b.GetBits(4));
    h.SampleRateIndex = static_cast<int32_t>(b.GetBits(2));
    h.Padding = static_cast<int32_t>(b.GetBits(1));
    h.PrivateBit = static_cast<int32_t>(b.GetBits(1));
    h.Mode = static_cast<int32_t>(b.GetBits(2));
    h.ModeExtension = static_cast<int32_t>(b.GetBits(2));
    if (h.Mode != 1) h.ModeExtension = 0;
    if (h.ProtectionBit == 0) {
        b.GetBits(20);
        d.crcBytes = 2;
    } else {
        b.GetBits(4);
        d.crcBytes = 0;
    }
    d.padding = h.Padding;
    d.bitrateIndex = h.BitrateIndex;
    d.mode = h.Mode;
    d.modeExtension = h.ModeExtension;
    d.msStereo = (h.ModeExtension >> 1) & 1;
    d.intensityStereo = h.ModeExtension & 1;
    d.frameChannels = h.Mode == 3 ? 1 : 2;
    d.frameLayer = h.Layer;
    d.curFrameLength = d.frameLength;
    if (h.BitrateIndex != 0) {
        // A reserved rate index gives a negative length: the frame is refused later.
        const int32_t kbps = HeaderBitrateKbps(h);
        const int32_t fs50 = tables::kSampleRate50[h.VersionId & 1][h.SampleRateIndex];
        const int32_t k = (h.VersionId == 1 || d.mpeg25) ? 2880 : 1440;
        d.curFrameLength = (kbps * k) / fs50;
    }
}

void ReadGranule(DecoderState& d, GranuleInfo& gi, bool mpeg1) {
    TMainBits& b = d.mainBits;
    gi.part2_3_length = static_cast<int32_t>(b.GetBits(12));
    gi.big_values = static_cast<int32_t>(b.GetBits(9));
    gi.global_gain = static_cast<int32_t>(b.GetBits(8)) + d.gainOffset - (d.msStereo ? 2 : 0);
    gi.scalefac_compress = static_cast<int32_t>(b.GetBits(mpeg1 ? 4 : 9));
    gi.window_switching_flag = static_cast<int32_t>(b.GetBits(1));
    if (gi.window_switching_flag) {
        gi.block_type = static_cast<int32_t>(b.GetBits(2));
        gi.mixed_block_flag = static_cast<int32_t>(b.GetBits(1));
        gi.table_select[0] = static_cast<int32_t>(b.GetBits(5));
        gi.table_select[1] = static_cast<int32_t>(b.GetBits(5));
        gi.table_select[2] = 0;
        for (int w = 0; w < 3; ++w) gi.subblock_gain[w] = static_cast<int32_t>(b.GetBits(3));
        if (mpeg1 || gi.block_type != 2) {
            gi.region0_count = 7;
            gi.region1_count = 13;
        } else {
            gi.region0_count = 5;
            gi.region1_count = 15;
        }
    } else {
        gi.block_type = 0;
        gi.mixed_block_flag = 0;
        for (int i = 0; i < 3; ++i) gi.table_select[i] = static_cast<int32_t>(b.GetBits(5));
        for (int w = 0; w < 3; ++w) gi.subblock_gain[w] = 0;
        gi.region0_count = static_cast<int32_t>(b.GetBits(4));
        gi.region1_count = static_cast<int32_t>(b.GetBits(3));
    }
    gi.preflag = mpeg1 ? static_cast<int32_t>(b.GetBits(1)) : 0;
    gi.scalefac_scale = static_cast<int32_t>(b.GetBits(1));
    gi.count1table_select = static_cast<int32_t>(b.GetBits(1));
}

inline int32_t ReadSlen(TMainBits& b, int32_t bits) {
    return bits ? static_cast<int32_t>(b.GetBits(bits)) : 0;
}

}  // namespace

int32_t ReadSideInfoMPEG1(DecoderState& d) {
    ReadHeaderRemainder(d);
    TMainBits& b = d.mainBits;
    const int32_t nch = d.frameChannels;
    d.mainDataBegin = static_cast<int32_t>(b.GetBits(9));
    b.GetBits(nch == 1 ? 5 : 3);
    for (int ch = 0; ch < nch; ++ch) d.scfsi[ch] = static_cast<int32_t>(b.GetBits(4));
    for (int g = 0; g < 2; ++g)
        for (int ch = 0; ch < nch; ++ch) ReadGranule(d, d.gr[g][ch], true);
    return nch == 1 ? 21 : 36;
}

int32_t ReadSideInfoLSF(DecoderState& d, int32_t slot) {
    ReadHeaderRemainder(d);
    TMainBits& b = d.mainBits;
    const int32_t nch = d.frameChannels;
    d.mainDataBegin = static_cast<int32_t>(b.GetBits(8));
    b.GetBits(nch == 1 ? 1 : 2);
    for (int ch = 0; ch < nch; ++ch) ReadGranule(d, d.gr[slot][ch], false);
    return nch == 1 ? 13 : 21;
}

void ReadScaleFactorsMPEG1(DecoderState& d, ScaleFactors& sf, const GranuleInfo& gi,
                           int32_t scfsi, int32_t granule, const ScaleFactors& granule0) {
    TMainBits& b = d.mainBits;
    const int32_t slen1 = tables::kSlen[gi.scalefac_compress & 15][0];
    const int32_t slen2 = tables::kSlen[gi.scalefac_compress & 15][1];
    if (gi.block_type == 2) {
        int first = 0;
        if (gi.mixed_block_flag) {
            for (int band = 0; band < 8; ++band) sf.l[band] = ReadSlen(b, slen1);
            first = 3;
        }
        for (int band = first; band < 6; ++band)
            for (int w = 0; w < 3; ++w) sf.s[w][band] = ReadSlen(b, slen1);
        for (int band = 6; band < 12; ++band)
            for (int w = 0; w < 3; ++w) sf.s[w][band] = ReadSlen(b, slen2);
        for (int w = 0; w < 3; ++w) sf.s[w][12] = 0;
        return;
    }
    static constexpr int kGroupStart[5] = {0, 6, 11, 16, 21};
    for (int group = 0; group < 4; ++group) {
        const int32_t bits = group < 2 ? slen1 : slen2;
        const bool copy = granule == 1 && ((scfsi >> (3 - group)) & 1);
        for (int band = kGroupStart[group]; band < kGroupStart[group + 1]; ++band)
            sf.l[band] = copy ? granule0.l[band] : ReadSlen(b, bits);
    }
    sf.l[21] = 0;
}

void ReadScaleFactorsLSF(DecoderState& d, ScaleFactors& sf, GranuleInfo& gi,
                         bool intensityChannel, LsfIntensityParams& params) {
    TMainBits& b = d.mainBits;
    const int32_t sfc = gi.scalefac_compress;
    int32_t slen[4] = {0, 0, 0, 0};
    int row = 0;
    gi.preflag = 0;
    if (!intensityChannel) {
        if (sfc < 400) {
            slen[0] = (sfc >> 4) / 5;
            slen[1] = (sfc >> 4) % 5;
            slen[2] = (sfc >> 2) & 3;
            slen[3] = sfc & 3;
            row = 0;
        } else if (sfc < 500) {
            const int32_t t = sfc - 400;
            slen[0] = (t >> 2) / 5;
            slen[1] = (t >> 2) % 5;
            slen[2] = t & 3;
            row = 1;
        } else {
            const int32_t t = sfc - 500;
            slen[0] = t / 3;
            slen[1] = t % 3;
            row = 2;
            gi.preflag = 1;
            if (gi.block_type == 2 && gi.mixed_block_flag) {
                slen[0] = t / 3;
                slen[1] = t / 3;
                slen[2] = t % 3;
            }
        }
    } else {
        params.intensityScale = sfc & 1;
        const int32_t i = sfc >> 1;
        if (i < 180) {
            slen[0] = i / 36;
            slen[1] = (i % 36) / 6;
            slen[2] = (i % 36) % 6;
            row = 3;
        } else if (i < 244) {
            const int32_t t = i - 180;
            slen[0] = t >> 4;
            slen[1] = (t >> 2) & 3;
            slen[2] = t & 3;
            row = 4;
        } else {
            const int32_t t = i - 244;
            slen[0] = t / 3;
            slen[1] = t % 3;
            row = 5;
        }
    }
    const int col = gi.block_type == 2 ? (gi.mixed_block_flag ? 2 : 1) : 0;
    const uint8_t* counts = tables::kLsfPartitionBands[row][col];
    if (intensityChannel) {
        for (int k = 0; k < 3; ++k) {
            params.bands[k] = counts[k];
            params.slen[k] = slen[k];
        }
    }

    if (col == 0) {
        int band = 0;
        for (int k = 0; k < 4; ++k)
            for (int n = 0; n < counts[k]; ++n) sf.l[band++] = ReadSlen(b, slen[k]);
        while (band < 22) sf.l[band++] = 0;
        return;
    }
    int band = 0;
    int k = 0;
    if (col == 2) {
        for (int n = 0; n < 6; ++n) sf.l[n] = ReadSlen(b, slen[0]);
        band = 3;
        k = 1;
    }
    for (; k < 4; ++k)
        for (int n = 0; n < counts[k] && band < 13; ++n, ++band)
            for (int w = 0; w < 3; ++w) sf.s[w][band] = ReadSlen(b, slen[k]);
    for (; band < 13; ++band)
        for (int w = 0; w < 3; ++w) sf.s[w][band] = 0;
}

}  // namespace wl
