// Layer III joint stereo (mid/side, intensity for MPEG-1 and LSF), alias
// reduction and the line equalizer, per granule.
#include <algorithm>

#include "decoder/decoder_state.h"

namespace wl {

namespace {

void MidSideStereo(float* left, float* right, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        const float m = left[i];
        const float s = right[i];
        left[i] = m + s;
        right[i] = m - s;
    }
}

int32_t ShortBandStart3(const DecoderState& d, int32_t band) {
    return band == 0 ? 0 : d.sfbShortEnd3[band - 1];
}

void IntensityStereoMPEG1(DecoderState& d, float* left, float* right, const ScaleFactors& sfR,
                          const BandSummary& sumR, int32_t leftCount, int32_t ms) {
    const float(*ratio)[2] = d.isRatioMpeg1[ms];
    const int32_t n = sumR.lastNonZeroBand;
    if (!sumR.hasShort) {
        int32_t line = d.sfbLongEnd[n];
        int32_t remaining = leftCount - line;
        for (int32_t b = n + 1; b <= 20 && remaining > 0; ++b) {
            const int32_t pos = std::min(sfR.l[b], 7);
            const float kl = ratio[pos][0], kr = ratio[pos][1];
            for (int32_t i = 0; i < d.sfbLongWidth[b] && remaining > 0; ++i, ++line, --remaining) {
                right[line] = kr * left[line];
                left[line] = kl * left[line];
            }
        }
        return;
    }
    int32_t remaining = leftCount - d.sfbShortEnd3[n];
    for (int32_t b = n + 1; b <= 11 && remaining >= 3; ++b) {
        float kl[3], kr[3];
        for (int w = 0; w < 3; ++w) {
            const int32_t pos = std::min(sfR.s[w][b], 7);
            kl[w] = ratio[pos][0];
            kr[w] = ratio[pos][1];
        }
        const int32_t base = ShortBandStart3(d, b);
        for (int32_t i = 0; i < d.sfbShortWidth[b] && remaining >= 3; ++i, remaining -= 3) {
            for (int w = 0; w < 3; ++w) {
                const int32_t k = base + 3 * i + w;
                right[k] = kr[w] * left[k];
                left[k] = kl[w] * left[k];
            }
        }
    }
}

// Sub-table start and size for the partition that holds a band; bands outside
// the three intensity partitions have a bit length of 0 (one, illegal, position).
int32_t LsfPartitionBits(const LsfIntensityParams& p, int32_t indexInPartitions) {
    int32_t end = 0;
    for (int k = 0; k < 3; ++k) {
        end += p.bands[k];
        if (indexInPartitions < end) return p.slen[k];
    }
    return 0;
}

void IntensityStereoLSF(DecoderState& d, float* left, float* right, const ScaleFactors& sfR,
                        const BandSummary& sumR, const BandSummary& sumL,
                        const LsfIntensityParams& params, int32_t leftCount, int32_t ms) {
    const float(*table)[2] = d.isRatioLsf[params.intensityScale & 1][ms];
    auto pair = [&](int32_t bits, int32_t pos) {
        const int32_t size = 1 << bits;
        return table[size - 1 + std::clamp(pos, 0, size - 1)];
    };
    if (!sumR.hasShort) {
        const int32_t n = sumR.lastNonZeroBand;
        int32_t line = d.sfbLongEnd[n];
        int32_t remaining = leftCount - line;
        for (int32_t b = n + 1; b <= 20 && remaining > 0; ++b) {
            const float* k = pair(LsfPartitionBits(params, b), sfR.l[b]);
            for (int32_t i = 0; i < d.sfbLongWidth[b] && remaining > 0; ++i, ++line, --remaining) {
                right[line] = k[1] * left[line];
                left[line] = k[0] * left[line];
            }
        }
        return;
    }
    // Short bands: in a mixed block the partitions after the first count short
    // bands from band 3 (the first partition holds the six long bands).
    const bool mixed = sumR.firstShortBand == 3;
    for (int w = 0; w < 3; ++w) {
        for (int32_t b = sumR.lastShort[w] + 1; b <= sumL.lastShort[w] && b < 13; ++b) {
            const int32_t index = mixed ? b - 3 + params.bands[0] : b;
            const float* k = pair(LsfPartitionBits(params, index), sfR.s[w][b]);
            const int32_t base = ShortBandStart3(d, b);
            for (int32_t i = 0; i < d.sfbShortWidth[b]; ++i) {
                const int32_t idx = base + 3 * i + w;
                right[idx] = k[1] * left[idx];
                left[idx] = k[0] * left[idx];
            }
        }
    }
}

}  // namespace

void ProcessStereoAndAlias(DecoderState& d, int32_t g) {
    const int32_t nch = d.frameChannels;
    if (nch == 2 && d.modeExtension != 0) {
        float* left = d.lines[0][g];
        float* right = d.lines[1][g];
        int32_t& cL = d.lineCount[g][0];
        int32_t& cR = d.lineCount[g][1];
        const BandSummary& sumR = d.summary[g][1];
        if (d.msStereo) {
            int32_t count;
            if (d.intensityStereo) {
                count = sumR.hasShort ? d.sfbShortEnd3[sumR.lastNonZeroBand]
                                      : d.sfbLongEnd[sumR.lastNonZeroBand];
            } else {
                count = std::max(cL, cR);
            }
            MidSideStereo(left, right, std::min(count, 576));
        }
        if (d.intensityStereo) {
            if (d.versionId == 1 && !d.mpeg25)
                IntensityStereoMPEG1(d, left, right, d.sf[g][1], sumR, cL, d.msStereo);
            else
                IntensityStereoLSF(d, left, right, d.sf[g][1], sumR, d.summary[g][0],
                                   d.isParams, cL, d.msStereo);
        }
        cL = cR = std::max(cL, cR);
    }

    for (int32_t ch = 0; ch < nch; ++ch) {
        const BandSummary& sum = d.summary[g][ch];
        if (sum.longBandsProcessed == 0) continue;
        int32_t& count = d.lineCount[g][ch];
        const int32_t boundaries =
            sum.hasShort ? 1 : std::min((count + 7) / 18, 31);
        if (boundaries > 0) {
            d.aliasReduce(d.lines[ch][g], boundaries, d.aliasCsCa);
            count = std::max(count, 18 * boundaries + 8);
        }
    }

    if (d.lineEqEnabled) {
        for (int32_t ch = 0; ch < nch; ++ch) {
            float* lines = d.lines[ch][g];
            const int32_t count = std::min(d.lineCount[g][ch], 576);
            for (int32_t i = 0; i < count; ++i) lines[i] *= d.lineGain[i];
        }
    }
}

}  // namespace wl
