// Layer III requantisation of a long band's lines, AVX2: eight lines at a
// time while all eight lie within -15..15. Their 4/3 powers come from the
// power table held in two registers (the table is odd: the sign is taken from
// the value), times the band factor: the same single product of the same
// table value per line as the portable code, so the results are bit-identical.
#include "decoder/simd_routines.h"

#if defined(WL_X86_SIMD)

#include <immintrin.h>

namespace wl {

__attribute__((target("avx2,fma"))) int32_t RequantLongAvx2(const int32_t* q, float* out,
                                                            int32_t line, int32_t end,
                                                            float factor, const float* pow43,
                                                            int32_t& nonZero) {
    const __m256 low = _mm256_loadu_ps(pow43 + 32);   // |v| = 0..7
    const __m256 high = _mm256_loadu_ps(pow43 + 40);  // |v| = 8..15
    const __m256i fifteen = _mm256_set1_epi32(15);
    const __m256i seven = _mm256_set1_epi32(7);
    const __m256 sign = _mm256_castsi256_ps(_mm256_set1_epi32(INT32_MIN));
    const __m256 f = _mm256_set1_ps(factor);
    __m256i any = _mm256_setzero_si256();
    while (line + 8 <= end) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + line));
        const __m256i a = _mm256_abs_epi32(v);
        // Unsigned: the magnitude of the most negative value counts as large.
        const __m256i small = _mm256_cmpeq_epi32(_mm256_max_epu32(a, fifteen), fifteen);
        if (_mm256_movemask_epi8(small) != -1) break;
        any = _mm256_or_si256(any, v);
        const __m256 lo = _mm256_permutevar8x32_ps(low, a);
        const __m256 hi = _mm256_permutevar8x32_ps(high, a);
        __m256 t = _mm256_blendv_ps(lo, hi, _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, seven)));
        t = _mm256_or_ps(t, _mm256_and_ps(_mm256_castsi256_ps(v), sign));
        _mm256_storeu_ps(out + line, _mm256_mul_ps(f, t));
        line += 8;
    }
    nonZero |= !_mm256_testz_si256(any, any);
    return line;
}

}  // namespace wl

#endif  // WL_X86_SIMD
