// Layer III hybrid synthesis: alias reduction, inverse MDCTs with windowing and
// overlap-add (overlap kept in place in the line arrays), frequency inversion
// and the per-granule output stages.
#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoder/decoder_state.h"
#include "decoder/hybrid_parts.h"

namespace wl {

void AliasReducePortable(float* lines, int32_t boundaries, const float (*csca)[2]) {
    for (int32_t b = 1; b <= boundaries; ++b) {
        float* up = lines + 18 * b - 1;
        float* down = lines + 18 * b;
        for (int j = 0; j < 8; ++j) {
            const float u = up[-j];
            const float dn = down[j];
            up[-j] = u * csca[j][0] - dn * csca[j][1];
            down[j] = dn * csca[j][0] + u * csca[j][1];
        }
    }
}

void Imdct36Portable(const HybridTables& t, float* x) {
    float y[18];
    for (int r = 0; r < 18; ++r) {
        float sum = 0.0f;
        for (int m = 0; m < 18; ++m) sum += x[m] * t.cos36[r][m];
        y[r] = sum;
    }
    std::memcpy(x, y, sizeof y);
}

void Imdct12Portable(const HybridTables& t, const float* lines, float* y) {
    for (int w = 0; w < 3; ++w) {
        for (int r = 0; r < 6; ++r) {
            float sum = 0.0f;
            for (int m = 0; m < 6; ++m) sum += lines[3 * m + w] * t.cos12[r][m];
            y[6 * w + r] = sum;
        }
    }
}

namespace {

// One long subband: windowed 36-point transform, overlap-add into the output
// column k, new overlap into `overlapOut` (may alias `x`).
template <bool kAdd>
inline void LongSubband(const DecoderState& d, float* x, const float* previous, float* out,
                        float* overlapOut, const float* w) {
    d.imdct36(d.hybrid, x);
    float y[18];
    std::memcpy(y, x, sizeof y);
    for (int j = 0; j < 9; ++j) {
        const float a = w[j] * y[9 + j];
        const float b = w[9 + j] * y[17 - j];
        if constexpr (kAdd) {
            out[32 * j] += a;
            out[32 * (9 + j)] += b;
        } else {
            out[32 * j] = previous[j] + a;
            out[32 * (9 + j)] = previous[9 + j] + b;
        }
    }
    for (int m = 0; m < 9; ++m) {
        const float o1 = w[18 + m] * y[8 - m];
        const float o2 = w[27 + m] * y[m];
        if constexpr (kAdd) {
            overlapOut[m] += o1;
            overlapOut[9 + m] += o2;
        } else {
            overlapOut[m] = o1;
            overlapOut[9 + m] = o2;
        }
    }
}

}  // namespace

int32_t HybridPortable(const DecoderState& d, float* lines, const float* previous, float* output,
                       int32_t blockType, int32_t longEnd, int32_t shortEnd,
                       int32_t previousCount) {
    const auto longSubband = [&d](float* x, const float* prev, float* out, const float* w) {
        LongSubband<false>(d, x, prev, out, x, w);
    };
    return hybrid::Transform(d, longSubband, d.imdct12, lines, previous, output, blockType,
                             longEnd, shortEnd, previousCount);
}

int32_t HybridAdd(const DecoderState& d, float* lines, float* overlap, float* output,
                  int32_t blockType, int32_t longEnd, int32_t shortEnd) {
    const int32_t longSubbands = (longEnd + 17) / 18;
    const int32_t shortSubbands = std::max((shortEnd + 17) / 18, longSubbands);
    int32_t k = 0;
    for (; k < longSubbands; ++k)
        LongSubband<true>(d, lines + 18 * k, nullptr, output + k, overlap + 18 * k,
                          hybrid::LongWindow(d, blockType, k));
    for (; k < shortSubbands; ++k)
        hybrid::ShortSubband<true>(d, d.imdct12, lines + 18 * k, nullptr, output + k,
                                   overlap + 18 * k);
    return 18 * k;
}

void FrequencyInversion(float* output, int32_t lines) {
    const int32_t limit = 2 * ((lines + 17) / 36);
#if defined(__SSE2__)
    // The sign bit of the odd subbands below the limit, 4 subbands per vector.
    __m128i flip[8];
    const __m128i odd = _mm_setr_epi32(0, INT32_MIN, 0, INT32_MIN);
    for (int g = 0; g < 8; ++g) {
        const __m128i k = _mm_add_epi32(_mm_set1_epi32(4 * g), _mm_setr_epi32(0, 1, 2, 3));
        flip[g] = _mm_and_si128(odd, _mm_cmplt_epi32(k, _mm_set1_epi32(limit)));
    }
    const int32_t groups = (limit + 3) / 4;
    for (int t = 1; t < 18; t += 2) {
        float* row = output + 32 * t;
        for (int g = 0; g < groups; ++g) {
            const __m128 v = _mm_loadu_ps(row + 4 * g);
            _mm_storeu_ps(row + 4 * g, _mm_xor_ps(v, _mm_castsi128_ps(flip[g])));
        }
    }
#else
    for (int32_t k = 1; k < limit; k += 2)
        for (int t = 1; t < 18; t += 2) output[32 * t + k] = -output[32 * t + k];
#endif
}

namespace {

// Transform arguments of one channel's granule.
void HybridArguments(const DecoderState& d, const GranuleInfo& gi, int32_t count,
                     int32_t& longEnd, int32_t& shortEnd) {
    shortEnd = std::min(d.maxLines, count);
    if (gi.block_type == 2)
        longEnd = gi.mixed_block_flag ? std::min(d.maxLines, d.mixedLongEnd) : 0;
    else
        longEnd = shortEnd;
}

int32_t HybridBlockType(const GranuleInfo& gi) {
    return gi.block_type | (gi.window_switching_flag && gi.mixed_block_flag ? kHybridMixed : 0);
}

int32_t RunHybrid(DecoderState& d, int32_t ch, int32_t g) {
    int32_t longEnd, shortEnd;
    HybridArguments(d, d.gr[g][ch], d.lineCount[g][ch], longEnd, shortEnd);
    const int32_t produced =
        d.hybridTransform(d, d.lines[ch][g], d.lines[ch][g ^ 1], d.hybridOut,
                          HybridBlockType(d.gr[g][ch]), longEnd, shortEnd, d.lineCount[g ^ 1][ch]);
    d.lineCount[g][ch] = produced;
    return produced;
}

void OutputSingle(DecoderState& d, int16_t* pcm, int32_t g, int32_t ch) {
    const int32_t produced = RunHybrid(d, ch, g);
    FrequencyInversion(d.hybridOut, produced);
    SynthL3Mono(d.synth, d.hybridOut, pcm);
}

void OutputChannel0(DecoderState& d, int16_t* pcm, int32_t g) { OutputSingle(d, pcm, g, 0); }
void OutputChannel1(DecoderState& d, int16_t* pcm, int32_t g) { OutputSingle(d, pcm, g, 1); }

void OutputStereoGranule(DecoderState& d, int16_t* pcm, int32_t g) {
    for (int32_t ch = 0; ch < 2; ++ch) {
        const int32_t produced = RunHybrid(d, ch, g);
        FrequencyInversion(d.hybridOut, produced);
        SynthL3Stereo(d.synth, d.hybridOut, pcm, ch);
    }
}

// Mono mix: only channel 0's slots carry overlap.
void OutputMonoMix(DecoderState& d, int16_t* pcm, int32_t g) {
    const GranuleInfo& g0 = d.gr[g][0];
    const GranuleInfo& g1 = d.gr[g][1];
    int32_t produced;
    if (g0.block_type != g1.block_type || g0.mixed_block_flag || g1.mixed_block_flag) {
        const int32_t produced0 = RunHybrid(d, 0, g);
        int32_t longEnd, shortEnd;
        HybridArguments(d, g1, d.lineCount[g][1], longEnd, shortEnd);
        const int32_t produced1 = HybridAdd(d, d.lines[1][g], d.lines[0][g], d.hybridOut,
                                            HybridBlockType(g1), longEnd, shortEnd);
        d.lineCount[g][1] = produced1;
        // Channel 0's overlap store now also holds channel 1's overlap.
        produced = std::max(produced0, produced1);
        d.lineCount[g][0] = produced;
    } else {
        const int32_t count =
            std::min(std::max(d.lineCount[g][0], d.lineCount[g][1]), d.maxLines);
        float* l0 = d.lines[0][g];
        const float* l1 = d.lines[1][g];
        for (int32_t i = 0; i < count; ++i) l0[i] += l1[i];
        d.lineCount[g][0] = count;
        produced = RunHybrid(d, 0, g);
    }
    FrequencyInversion(d.hybridOut, produced);
    SynthL3Mono(d.synth, d.hybridOut, pcm);
}

}  // namespace

GranuleOutput SelectGranuleOutput(int32_t route) {
    switch (route) {
        case 1:
            return OutputStereoGranule;
        case 2:
            return OutputMonoMix;
        case 4:
            return OutputChannel1;
        default:
            return OutputChannel0;
    }
}

}  // namespace wl
