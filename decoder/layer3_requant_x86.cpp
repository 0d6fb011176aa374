// Layer III requantisation of the long bands, AVX2: all their lines in one
// pass, eight at a time, with each line's band factor taken from a per-line
// copy. Lines within -15..15 take their 4/3 powers from the power table held
// in two registers (the table is odd: the sign is taken from the value);
// eight lines with a larger one are done one by one the portable way. Each
// line is the same single product of the same table value (or the same power
// expression) as in the portable code, so the results are bit-identical.
#include "decoder/simd_routines.h"

#if defined(WL_X86_SIMD)

#include <immintrin.h>

#include <bit>
#include <cmath>
#include <cstdlib>

namespace wl {

namespace {

inline float DequantiseLine(int32_t v, float factor, const float* pow43) {
    if (static_cast<uint32_t>(v + 32) < 64u) return factor * pow43[v + 32];
    const float magnitude = static_cast<float>(std::abs(v));
    return std::pow(magnitude, 1.0f / 3.0f) * (factor * static_cast<float>(v));
}

// Out of line, so that the vector loop keeps its constants in registers.
__attribute__((noinline)) void DequantiseEight(const int32_t* q, float* out, const float* factor,
                                               const float* pow43) {
    for (int k = 0; k < 8; ++k) out[k] = DequantiseLine(q[k], factor[k], pow43);
}

}  // namespace

__attribute__((target("avx2,fma"))) int32_t RequantLongBandsAvx2(const int32_t* q, float* out,
                                                                 int32_t bands,
                                                                 const int32_t* bandEnd,
                                                                 const float* bandFactor,
                                                                 const float* pow43) {
    // Per-line factors; a band's last stores run up to 7 lines into the next
    // band, which that band's own stores then overwrite.
    alignas(32) float factor[576 + 8];
    int32_t start = 0;
    for (int32_t b = 0; b < bands; ++b) {
        const __m256 f = _mm256_set1_ps(bandFactor[b]);
        for (int32_t i = start; i < bandEnd[b]; i += 8) _mm256_storeu_ps(factor + i, f);
        start = bandEnd[b];
    }
    const int32_t end = start;

    const __m256 low = _mm256_loadu_ps(pow43 + 32);   // |v| = 0..7
    const __m256 high = _mm256_loadu_ps(pow43 + 40);  // |v| = 8..15
    const __m256i large = _mm256_set1_epi32(~15);  // magnitude bits above 15
    const __m256i seven = _mm256_set1_epi32(7);
    const __m256 sign = _mm256_castsi256_ps(_mm256_set1_epi32(INT32_MIN));
    int32_t line = 0;
    for (; line + 8 <= end; line += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + line));
        // The magnitude of the most negative value keeps its top bit: large.
        const __m256i a = _mm256_abs_epi32(v);
        if (!_mm256_testz_si256(a, large)) {
            DequantiseEight(q + line, out + line, factor + line, pow43);
            continue;
        }
        const __m256 lo = _mm256_permutevar8x32_ps(low, a);
        const __m256 hi = _mm256_permutevar8x32_ps(high, a);
        __m256 t = _mm256_blendv_ps(lo, hi, _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, seven)));
        t = _mm256_or_ps(t, _mm256_and_ps(_mm256_castsi256_ps(v), sign));
        _mm256_storeu_ps(out + line, _mm256_mul_ps(_mm256_load_ps(factor + line), t));
    }
    const int32_t whole = line;
    int32_t lastLine = 0;  // one past the last non-zero line
    for (; line < end; ++line) {
        out[line] = DequantiseLine(q[line], factor[line], pow43);
        if (q[line] != 0) lastLine = line + 1;
    }
    // Otherwise the last non-zero line, searched from the end (the lines
    // behind the last counted one are 0, usually few groups).
    for (int32_t g = whole - 8; lastLine == 0 && g >= 0; g -= 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + g));
        const __m256i zero = _mm256_cmpeq_epi32(v, _mm256_setzero_si256());
        const uint32_t nonZero =
            ~static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(zero))) & 0xFFu;
        if (nonZero != 0) lastLine = g + 32 - std::countl_zero(nonZero);
    }
    return lastLine;
}

}  // namespace wl

#endif  // WL_X86_SIMD
