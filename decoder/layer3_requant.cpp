// Layer III requantisation (with short-block reordering) and the tables built
// at every Layer III set-up.
#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "decoder/decoder_state.h"
#include "decoder/simd_routines.h"
#include "decoder/tables.h"

namespace wl {

namespace {

inline float Dequantise(const DecoderState& d, int32_t v, float factor) {
    // pow43[32] is 0: zero lines take this path too (factor is finite and
    // positive, so the product is +0).
    if (static_cast<uint32_t>(v + 32) < 64u) return factor * d.pow43[v + 32];
    const float magnitude = static_cast<float>(std::abs(v));
    return std::pow(magnitude, 1.0f / 3.0f) * (factor * static_cast<float>(v));
}

}  // namespace

void Requantise(DecoderState& d, const int32_t* q, float* out, int32_t& nonZeroCount,
                const ScaleFactors& sf, const GranuleInfo& gi, BandSummary& summary) {
    const float gain = d.gainTable[std::clamp(gi.global_gain + 6, 0, 261)];
    const int32_t s = gi.scalefac_scale & 1;
    const bool shortBlock = gi.block_type == 2;
    const bool mixed = shortBlock && gi.mixed_block_flag;
    const int32_t longBands = !shortBlock ? 22 : mixed ? d.mixedLongBands : 0;
    const int32_t firstShort = !shortBlock ? 12 : mixed ? 3 : 0;
    const int32_t count = nonZeroCount;

    int32_t line = 0;
    int32_t lastNonZero = 0;
    bool anyLong = false;
    bool stopped = false;
#if defined(WL_X86_SIMD)
    if (d.chosen.hybrid == RoutineVariant::Avx2 && longBands > 0) {
        // The bands up to the one holding the last counted line, in one pass.
        float bandFactor[22];
        int32_t bands = 0;
        while (bands < longBands) {
            const int32_t pre = gi.preflag ? tables::kPretab[bands] : 0;
            bandFactor[bands] = gain * d.sfAtten[s][pre][sf.l[bands] & 31];
            if (d.sfbLongEnd[bands++] >= count) {
                stopped = true;
                break;
            }
        }
        line = d.sfbLongEnd[bands - 1];
        const int32_t last = RequantLongBandsAvx2(q, out, bands, d.sfbLongEnd, bandFactor, d.pow43);
        if (last > 0) {
            anyLong = true;
            while (d.sfbLongEnd[lastNonZero] < last) ++lastNonZero;
        }
    } else
#endif
    for (int32_t b = 0; b < longBands; ++b) {
        const int32_t pre = gi.preflag ? tables::kPretab[b] : 0;
        const float factor = gain * d.sfAtten[s][pre][sf.l[b] & 31];
        const int32_t end = d.sfbLongEnd[b];
        bool any = false;
#if defined(__SSE2__)
        // Four lines at a time while all four are small (the common case).
        const __m128 f4 = _mm_set1_ps(factor);
        const __m128i bias = _mm_set1_epi32(32 - 0x80000000);
        const __m128i top = _mm_set1_epi32(63 - 0x80000000);
        __m128i nonZero = _mm_setzero_si128();
        while (line + 4 <= end) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + line));
            // (v + 32) as unsigned above 63 means outside -32..31.
            if (_mm_movemask_epi8(_mm_cmpgt_epi32(_mm_add_epi32(v, bias), top))) break;
            nonZero = _mm_or_si128(nonZero, v);
            const float* p = d.pow43 + 32;
            const __m128 t = _mm_setr_ps(p[q[line]], p[q[line + 1]], p[q[line + 2]], p[q[line + 3]]);
            _mm_storeu_ps(out + line, _mm_mul_ps(f4, t));
            line += 4;
        }
        any |= _mm_movemask_epi8(_mm_cmpeq_epi32(nonZero, _mm_setzero_si128())) != 0xFFFF;
#endif
        for (; line < end; ++line) {
            const int32_t v = q[line];
            any |= v != 0;
            out[line] = Dequantise(d, v, factor);
        }
        if (any) lastNonZero = b;
        anyLong |= any;
        if (line >= count) {
            stopped = true;
            break;
        }
    }
    summary.lastNonZeroBand = lastNonZero;
    summary.hasShort = 0;
    summary.firstShortBand = firstShort;
    summary.longBandsProcessed = longBands;
    summary.anyNonZero = anyLong;
    for (int w = 0; w < 3; ++w) {
        summary.lastShort[w] = firstShort;
        summary.anyShort[w] = 0;
    }

    if (!shortBlock) {
        std::memset(out + line, 0, sizeof(float) * static_cast<size_t>(576 - line));
        return;
    }

    summary.hasShort = 1;
    if (!stopped) {
        float windowGain[3];
        for (int w = 0; w < 3; ++w)
            windowGain[w] = gain * d.subblockGainTable[gi.subblock_gain[w] & 7];
        // The short part begins where its first band begins; the long part of
        // a mixed block always ends there for the standard's band tables.
        const int32_t shortStart = firstShort == 0 ? 0 : d.sfbShortEnd3[firstShort - 1];
        if (line < shortStart)
            std::memset(out + line, 0, sizeof(float) * static_cast<size_t>(shortStart - line));
        line = shortStart;
        int32_t lastShort[3] = {firstShort, firstShort, firstShort};
        for (int32_t b = firstShort; b < 13; ++b) {
            const int32_t width = d.sfbShortWidth[b];
            const int32_t base = b == 0 ? 0 : d.sfbShortEnd3[b - 1];
            for (int w = 0; w < 3; ++w) {
                const float factor = windowGain[w] * d.sfAtten[s][0][sf.s[w][b] & 31];
                bool any = false;
                for (int32_t i = 0; i < width; ++i) {
                    const int32_t v = q[line++];
                    any |= v != 0;
                    d.scratch[base + 3 * i + w] = Dequantise(d, v, factor);
                }
                if (any) lastShort[w] = b;
                summary.anyShort[w] |= any;
                summary.anyNonZero |= any;
            }
            if (line >= count) break;
        }
        std::memcpy(out + shortStart, d.scratch + shortStart,
                    sizeof(float) * static_cast<size_t>(line - shortStart));
        for (int w = 0; w < 3; ++w) summary.lastShort[w] = lastShort[w];
        summary.lastNonZeroBand = std::max({lastShort[0], lastShort[1], lastShort[2]});
    } else {
        summary.lastNonZeroBand = firstShort;
    }
    nonZeroCount = line;
    std::memset(out + line, 0, sizeof(float) * static_cast<size_t>(576 - line));
}

void BuildLayer3Tables(DecoderState& d) {
    for (int i = 0; i < 262; ++i) d.gainTable[i] = static_cast<float>(std::exp2((i - 156) / 4.0));
    for (int s = 0; s < 2; ++s)
        for (int p = 0; p < 4; ++p)
            for (int k = 0; k < 32; ++k)
                d.sfAtten[s][p][k] = static_cast<float>(std::exp2(-(s + 1) / 2.0 * (p + k)));
    for (int v = -32; v < 32; ++v)
        d.pow43[v + 32] = static_cast<float>(v * std::cbrt(std::abs(static_cast<double>(v))));
    for (int g = 0; g < 8; ++g) d.subblockGainTable[g] = static_cast<float>(std::exp2(-2.0 * g));

    const double pi = 4.0 * std::atan(1.0);
    const double sqrt2 = std::sqrt(2.0);
    for (int m = 0; m < 2; ++m) {
        const double f = m ? sqrt2 : 1.0;
        for (int p = 0; p < 7; ++p) {
            const double t = p * pi / 12.0;
            const double sum = std::sin(t) + std::cos(t);
            d.isRatioMpeg1[m][p][0] = static_cast<float>(std::sin(t) / sum * f);
            d.isRatioMpeg1[m][p][1] = static_cast<float>(std::cos(t) / sum * f);
        }
        d.isRatioMpeg1[m][7][0] = 1.0f;
        d.isRatioMpeg1[m][7][1] = m ? 1.0f : 0.0f;
    }
    for (int s = 0; s < 2; ++s) {
        const double io = std::exp2(-(s + 1) / 4.0);
        for (int m = 0; m < 2; ++m) {
            const double f = m ? sqrt2 : 1.0;
            for (int k = 0; k < 6; ++k) {
                const int size = 1 << k;
                float(*entry)[2] = d.isRatioLsf[s][m] + (size - 1);
                for (int p = 0; p < size; ++p) {
                    double kl = f, kr = f;
                    if (p == size - 1) {
                        kl = 1.0;
                        kr = m ? 1.0 : 0.0;
                    } else if (p & 1) {
                        kl = std::pow(io, (p + 1) / 2) * f;
                    } else if (p > 0) {
                        kr = std::pow(io, p / 2) * f;
                    }
                    entry[p][0] = static_cast<float>(kl);
                    entry[p][1] = static_cast<float>(kr);
                }
            }
        }
    }
    for (int i = 0; i < 8; ++i) {
        const double c = tables::kAliasC[i];
        const double root = std::sqrt(1.0 + c * c);
        d.aliasCsCa[i][0] = static_cast<float>(1.0 / root);
        d.aliasCsCa[i][1] = static_cast<float>(c / root);
    }

    // Long-transform windows by block type, then the sign folding that matches
    // the folded outputs of the fast transforms.
    HybridTables& t = d.hybrid;
    auto s36 = [&](double x) { return std::sin(pi * x / 36.0); };
    auto s12 = [&](double x) { return std::sin(pi * x / 12.0); };
    for (int i = 0; i < 36; ++i) {
        t.window[0][i] = static_cast<float>(s36(i + 0.5));
        t.window[1][i] = static_cast<float>(i < 18   ? s36(i + 0.5)
                                            : i < 24 ? 1.0
                                            : i < 30 ? s12(i - 18 + 0.5)
                                                     : 0.0);
        t.window[3][i] = static_cast<float>(i < 6    ? 0.0
                                            : i < 12 ? s12(i - 6 + 0.5)
                                            : i < 18 ? 1.0
                                                     : s36(i + 0.5));
        t.window[2][i] = static_cast<float>(i < 12 ? s12(i + 0.5) : 0.0);
    }
    for (int i = 9; i < 36; ++i) {
        t.window[0][i] = -t.window[0][i];
        t.window[1][i] = -t.window[1][i];
        t.window[3][i] = -t.window[3][i];
    }
    for (int i = 3; i < 12; ++i) t.window[2][i] = -t.window[2][i];

    // Folded inverse MDCTs: y[9 + j] = x[j], y[j] = -x[27 + j] (36-point);
    // y[3 + j] = x[j], y[j] = -x[8 - j] (12-point, per window).
    for (int m = 0; m < 18; ++m) {
        for (int j = 0; j < 9; ++j) {
            t.cos36[9 + j][m] = static_cast<float>(std::cos(pi / 72.0 * (2 * j + 19) * (2 * m + 1)));
            t.cos36[j][m] =
                static_cast<float>(-std::cos(pi / 72.0 * (2 * (27 + j) + 19) * (2 * m + 1)));
        }
    }
    for (int m = 0; m < 6; ++m) {
        for (int j = 0; j < 3; ++j) {
            t.cos12[3 + j][m] = static_cast<float>(std::cos(pi / 24.0 * (2 * j + 7) * (2 * m + 1)));
            t.cos12[j][m] =
                static_cast<float>(-std::cos(pi / 24.0 * (2 * (8 - j) + 7) * (2 * m + 1)));
        }
    }
    std::memset(t.cos36T, 0, sizeof t.cos36T);
    std::memset(t.cos36Z, 0, sizeof t.cos36Z);
    std::memset(t.cos12T, 0, sizeof t.cos12T);
    for (int m = 0; m < 18; ++m) {
        for (int r = 0; r < 18; ++r) t.cos36T[m][r] = t.cos36[r][m];
        for (int i = 0; i < 18; ++i) {
            t.cos36Z[m][i] = t.cos36[i < 9 ? 9 + i : 26 - i][m];       // window position i
            t.cos36Z[m][18 + i] = t.cos36[i < 9 ? 8 - i : i - 9][m];   // overlap position i
        }
    }
    for (int m = 0; m < 6; ++m)
        for (int r = 0; r < 6; ++r) t.cos12T[m][r] = t.cos12[r][m];
}

}  // namespace wl
