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

// Intensity stereo over the bands above the right channel's last non-zero
// band, up to the left channel's extent. The bands without a transmitted
// position (long band 21, short band 12) take the position of the band below
// when that band is intensity-coded, else `fallback`.
template <typename PairOf>
void IntensityLong(const DecoderState& d, float* left, float* right, int32_t first,
                   int32_t leftCount, PairOf pairOf, const float* fallback) {
    int32_t line = first == 0 ? 0 : d.sfbLongEnd[first - 1];
    for (int32_t b = first; b <= 21 && line < leftCount; ++b) {
        const float* k = b < 21 ? pairOf(b) : (first <= 20 ? pairOf(20) : fallback);
        const int32_t end = std::min(d.sfbLongEnd[b], leftCount);
        for (; line < end; ++line) {
            right[line] = k[1] * left[line];
            left[line] = k[0] * left[line];
        }
        line = d.sfbLongEnd[b];
    }
}

template <typename PairOf>
void IntensityShort(const DecoderState& d, float* left, float* right, const BandSummary& sumR,
                    const BandSummary& sumL, PairOf pairOf, const float* fallback) {
    for (int w = 0; w < 3; ++w) {
        const int32_t first = sumR.anyShort[w] ? sumR.lastShort[w] + 1 : sumR.firstShortBand;
        for (int32_t b = first; b <= sumL.lastShort[w] && b < 13; ++b) {
            const float* k = b < 12 ? pairOf(w, b) : (first <= 11 ? pairOf(w, 11) : fallback);
            const int32_t base = ShortBandStart3(d, b);
            for (int32_t i = 0; i < d.sfbShortWidth[b]; ++i) {
                const int32_t idx = base + 3 * i + w;
                right[idx] = k[1] * left[idx];
                left[idx] = k[0] * left[idx];
            }
        }
    }
}

void IntensityStereoMPEG1(DecoderState& d, float* left, float* right, const ScaleFactors& sfR,
                          const BandSummary& sumR, const BandSummary& sumL, int32_t leftCount,
                          int32_t ms) {
    const float(*ratio)[2] = d.isRatioMpeg1[ms];
    const float* illegal = ratio[7];
    if (!sumR.hasShort) {
        // A right channel without any non-zero line still leaves band 0 alone.
        IntensityLong(d, left, right, sumR.lastNonZeroBand + 1, leftCount,
                      [&](int32_t b) { return ratio[std::min(sfR.l[b], 7)]; }, illegal);
        return;
    }
    IntensityShort(d, left, right, sumR, sumL,
                   [&](int w, int32_t b) { return ratio[std::min(sfR.s[w][b], 7)]; }, illegal);
}

// Bit length of the partition that holds a band (by its index in the
// partitions); bands outside the three intensity partitions have length 0,
// whose only position is the illegal one.
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
    // Position 0 of any sub-table: both channels carry the left signal.
    const float* fallback = table[1];
    if (!sumR.hasShort) {
        const int32_t first = sumR.anyNonZero ? sumR.lastNonZeroBand + 1 : 0;
        IntensityLong(d, left, right, first, leftCount,
                      [&](int32_t b) { return pair(LsfPartitionBits(params, b), sfR.l[b]); },
                      fallback);
        return;
    }
    // In a mixed block the partitions after the first count short bands from
    // band 3 (the first partition holds the six long bands).
    const bool mixed = sumR.firstShortBand == 3;
    IntensityShort(
        d, left, right, sumR, sumL,
        [&](int w, int32_t b) {
            const int32_t index = mixed ? b - 3 + params.bands[0] : b;
            return pair(LsfPartitionBits(params, index), sfR.s[w][b]);
        },
        fallback);
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
                IntensityStereoMPEG1(d, left, right, d.sf[g][1], sumR, d.summary[g][0], cL,
                                     d.msStereo);
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
