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
    const __m256i fifteen = _mm256_set1_epi32(15);
    const __m256i seven = _mm256_set1_epi32(7);
    const __m256 sign = _mm256_castsi256_ps(_mm256_set1_epi32(INT32_MIN));
    // Per lane: one past the last non-zero line seen.
    __m256i last = _mm256_setzero_si256();
    __m256i next = _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 8);
    const __m256i eight = _mm256_set1_epi32(8);
    int32_t line = 0;
    for (; line + 8 <= end; line += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + line));
        last = _mm256_max_epi32(
            last, _mm256_andnot_si256(_mm256_cmpeq_epi32(v, _mm256_setzero_si256()), next));
        next = _mm256_add_epi32(next, eight);
        const __m256i a = _mm256_abs_epi32(v);
        // Unsigned: the magnitude of the most negative value counts as large.
        const __m256i small = _mm256_cmpeq_epi32(_mm256_max_epu32(a, fifteen), fifteen);
        if (_mm256_movemask_epi8(small) != -1) {
            DequantiseEight(q + line, out + line, factor + line, pow43);
            continue;
        }
        const __m256 lo = _mm256_permutevar8x32_ps(low, a);
        const __m256 hi = _mm256_permutevar8x32_ps(high, a);
        __m256 t = _mm256_blendv_ps(lo, hi, _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, seven)));
        t = _mm256_or_ps(t, _mm256_and_ps(_mm256_castsi256_ps(v), sign));
        _mm256_storeu_ps(out + line, _mm256_mul_ps(_mm256_load_ps(factor + line), t));
    }
    __m128i m = _mm_max_epi32(_mm256_castsi256_si128(last), _mm256_extracti128_si256(last, 1));
    m = _mm_max_epi32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
    m = _mm_max_epi32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
    int32_t lastLine = _mm_cvtsi128_si32(m);
    for (; line < end; ++line) {
        out[line] = DequantiseLine(q[line], factor[line], pow43);
        if (q[line] != 0) lastLine = line + 1;
    }
    return lastLine;
}

}  // namespace wl

#endif  // WL_X86_SIMD
