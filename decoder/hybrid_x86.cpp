// Hybrid synthesis for x86-64, SSE2 and AVX2: alias reduction, the 36- and
// 12-point inverse MDCTs and the hybrid transform.
//
// The transforms compute all outputs of a subband side by side from factor
// tables ordered by input (HybridTables::cos36T, cos36Z, cos12T). Each output
// is still the float sum of the same products in the same order, starting from
// 0. In the SSE2 forms products and sums stay separate operations (the decoder
// is built without contraction into fused multiply-adds), so their results are
// bit-identical to the portable forms; the AVX2 transforms fuse each product
// into its sum (one rounding instead of two), which moves results by a few
// units in the last place of a float, far below one 16-bit step of output. The
// alias reduction is bit-identical in both.
#include "decoder/simd_routines.h"

#if defined(WL_X86_SIMD)

#include <immintrin.h>

#include <cstring>

#include "decoder/decoder_state.h"
#include "decoder/hybrid_parts.h"

namespace wl {

namespace {

// Output column and new overlap of a long subband from the 36 windowed values.
inline void FinishLong(const float* prod, const float* previous, float* out, float* x) {
    for (int t = 0; t < 18; ++t) out[32 * t] = previous[t] + prod[t];
    std::memcpy(x, prod + 18, sizeof(float) * 18);
}

// ---- SSE2 ----

inline __m128 Reverse4(__m128 v) { return _mm_shuffle_ps(v, v, 0x1B); }

void LongSubbandSse2(const HybridTables& t, float* x, const float* previous, float* out,
                     const float* w) {
    __m128 z[10];
    for (auto& v : z) v = _mm_setzero_ps();
    for (int m = 0; m < 18; ++m) {
        const __m128 xm = _mm_set1_ps(x[m]);
        const float* c = t.cos36Z[m];
        for (int i = 0; i < 10; ++i) z[i] = _mm_add_ps(z[i], _mm_mul_ps(xm, _mm_load_ps(c + 4 * i)));
    }
    alignas(16) float prod[40];
    for (int i = 0; i < 9; ++i) _mm_store_ps(prod + 4 * i, _mm_mul_ps(_mm_loadu_ps(w + 4 * i), z[i]));
    FinishLong(prod, previous, out, x);
}

// ---- AVX2 ----

// The 18 distinct transform outputs y (as Imdct36Avx2 computes them), then
// the 36 window positions picked from them by lane permutes: position i
// takes y[9 + i] (i < 9), y[26 - i] (i < 18), y[26 - i] (overlap i' = i - 18
// < 9: y[8 - i']) or y[i' - 9], the same sums that cos36Z gives, in half the
// multiply-adds.
__attribute__((target("avx2,fma"))) void LongSubbandAvx2(const HybridTables& t, float* x,
                                                         const float* previous, float* out,
                                                         const float* w) {
    __m256 y0 = _mm256_setzero_ps(), y1 = y0, y2 = y0;
#pragma GCC unroll 18
    for (int m = 0; m < 18; ++m) {
        const __m256 xm = _mm256_set1_ps(x[m]);
        y0 = _mm256_fmadd_ps(xm, _mm256_load_ps(t.cos36T[m]), y0);
        y1 = _mm256_fmadd_ps(xm, _mm256_load_ps(t.cos36T[m] + 8), y1);
        y2 = _mm256_fmadd_ps(xm, _mm256_load_ps(t.cos36T[m] + 16), y2);
    }
    const __m256i up = _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 0);
    const __m256i down = _mm256_setr_epi32(1, 1, 0, 7, 6, 5, 4, 3);
    const __m256i fold = _mm256_setr_epi32(2, 1, 0, 7, 6, 5, 4, 3);
    const __m256i turn = _mm256_setr_epi32(2, 1, 0, 0, 1, 2, 3, 4);
    const __m256i tail = _mm256_setr_epi32(5, 6, 7, 0, 0, 0, 0, 0);
    // y9..y16 | y17 y17 y16..y11 | y10 y9 y8..y3 | y2 y1 y0 y0..y4 | y5..y8
    const __m256 z0 = _mm256_blend_ps(_mm256_permutevar8x32_ps(y1, up),
                                      _mm256_permutevar8x32_ps(y2, up), 0x80);
    const __m256 z1 = _mm256_blend_ps(_mm256_permutevar8x32_ps(y1, down),
                                      _mm256_permutevar8x32_ps(y2, down), 0x07);
    const __m256 z2 = _mm256_blend_ps(_mm256_permutevar8x32_ps(y1, fold),
                                      _mm256_permutevar8x32_ps(y0, fold), 0xF8);
    const __m256 z3 = _mm256_permutevar8x32_ps(y0, turn);
    const __m256 z4 = _mm256_blend_ps(_mm256_permutevar8x32_ps(y0, tail),
                                      _mm256_permutevar8x32_ps(y1, tail), 0x08);
    alignas(32) float prod[40];
    _mm256_store_ps(prod, _mm256_mul_ps(_mm256_loadu_ps(w), z0));
    _mm256_store_ps(prod + 8, _mm256_mul_ps(_mm256_loadu_ps(w + 8), z1));
    _mm256_store_ps(prod + 16, _mm256_mul_ps(_mm256_loadu_ps(w + 16), z2));
    _mm256_store_ps(prod + 24, _mm256_mul_ps(_mm256_loadu_ps(w + 24), z3));
    _mm_store_ps(prod + 32, _mm_mul_ps(_mm_loadu_ps(w + 32), _mm256_castps256_ps128(z4)));
    // Output column: previous overlap plus the first 18 products, 8 at a time.
    const __m256 a = _mm256_add_ps(_mm256_loadu_ps(previous), _mm256_load_ps(prod));
    const __m256 b = _mm256_add_ps(_mm256_loadu_ps(previous + 8), _mm256_load_ps(prod + 8));
    alignas(32) float column[24];
    _mm256_store_ps(column, a);
    _mm256_store_ps(column + 8, b);
    for (int i = 0; i < 16; ++i) out[32 * i] = column[i];
    out[32 * 16] = previous[16] + prod[16];
    out[32 * 17] = previous[17] + prod[17];
    std::memcpy(x, prod + 18, sizeof(float) * 18);
}

}  // namespace

void AliasReduceSse2(float* lines, int32_t boundaries, const float (*csca)[2]) {
    const float* f = &csca[0][0];
    // cs[j] and ca[j], j = 0..3 and 4..7
    const __m128 p0 = _mm_loadu_ps(f), p1 = _mm_loadu_ps(f + 4);
    const __m128 p2 = _mm_loadu_ps(f + 8), p3 = _mm_loadu_ps(f + 12);
    const __m128 cs0 = _mm_shuffle_ps(p0, p1, 0x88), ca0 = _mm_shuffle_ps(p0, p1, 0xDD);
    const __m128 cs1 = _mm_shuffle_ps(p2, p3, 0x88), ca1 = _mm_shuffle_ps(p2, p3, 0xDD);
    for (int32_t b = 1; b <= boundaries; ++b) {
        float* up = lines + 18 * b - 8;  // lines 18b - 8 .. 18b - 1: u[7..0]
        float* down = lines + 18 * b;
        const __m128 u0 = Reverse4(_mm_loadu_ps(up + 4));  // u[0..3]
        const __m128 u1 = Reverse4(_mm_loadu_ps(up));      // u[4..7]
        const __m128 d0 = _mm_loadu_ps(down), d1 = _mm_loadu_ps(down + 4);
        const __m128 nu0 = _mm_sub_ps(_mm_mul_ps(u0, cs0), _mm_mul_ps(d0, ca0));
        const __m128 nu1 = _mm_sub_ps(_mm_mul_ps(u1, cs1), _mm_mul_ps(d1, ca1));
        _mm_storeu_ps(down, _mm_add_ps(_mm_mul_ps(d0, cs0), _mm_mul_ps(u0, ca0)));
        _mm_storeu_ps(down + 4, _mm_add_ps(_mm_mul_ps(d1, cs1), _mm_mul_ps(u1, ca1)));
        _mm_storeu_ps(up + 4, Reverse4(nu0));
        _mm_storeu_ps(up, Reverse4(nu1));
    }
}

__attribute__((target("avx2,fma"))) void AliasReduceAvx2(float* lines, int32_t boundaries,
                                                         const float (*csca)[2]) {
    const float* f = &csca[0][0];
    const __m256i evens = _mm256_set_epi32(14, 12, 10, 8, 6, 4, 2, 0);
    const __m256i odds = _mm256_set_epi32(15, 13, 11, 9, 7, 5, 3, 1);
    const __m256i reverse = _mm256_set_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256 cs = _mm256_i32gather_ps(f, evens, 4);
    const __m256 ca = _mm256_i32gather_ps(f, odds, 4);
    for (int32_t b = 1; b <= boundaries; ++b) {
        float* up = lines + 18 * b - 8;
        float* down = lines + 18 * b;
        const __m256 u = _mm256_permutevar8x32_ps(_mm256_loadu_ps(up), reverse);
        const __m256 dn = _mm256_loadu_ps(down);
        const __m256 nu = _mm256_sub_ps(_mm256_mul_ps(u, cs), _mm256_mul_ps(dn, ca));
        _mm256_storeu_ps(down, _mm256_add_ps(_mm256_mul_ps(dn, cs), _mm256_mul_ps(u, ca)));
        _mm256_storeu_ps(up, _mm256_permutevar8x32_ps(nu, reverse));
    }
}

void Imdct36Sse2(const HybridTables& t, float* x) {
    __m128 y[5];
    for (auto& v : y) v = _mm_setzero_ps();
    for (int m = 0; m < 18; ++m) {
        const __m128 xm = _mm_set1_ps(x[m]);
        for (int i = 0; i < 5; ++i)
            y[i] = _mm_add_ps(y[i], _mm_mul_ps(xm, _mm_load_ps(t.cos36T[m] + 4 * i)));
    }
    alignas(16) float out[20];
    for (int i = 0; i < 5; ++i) _mm_store_ps(out + 4 * i, y[i]);
    std::memcpy(x, out, sizeof(float) * 18);
}

__attribute__((target("avx2,fma"))) void Imdct36Avx2(const HybridTables& t, float* x) {
    __m256 y0 = _mm256_setzero_ps(), y1 = y0, y2 = y0;
    for (int m = 0; m < 18; ++m) {
        const __m256 xm = _mm256_set1_ps(x[m]);
        y0 = _mm256_fmadd_ps(xm, _mm256_load_ps(t.cos36T[m]), y0);
        y1 = _mm256_fmadd_ps(xm, _mm256_load_ps(t.cos36T[m] + 8), y1);
        y2 = _mm256_fmadd_ps(xm, _mm256_load_ps(t.cos36T[m] + 16), y2);
    }
    alignas(32) float out[24];
    _mm256_store_ps(out, y0);
    _mm256_store_ps(out + 8, y1);
    _mm256_store_ps(out + 16, y2);
    std::memcpy(x, out, sizeof(float) * 18);
}

void Imdct12Sse2(const HybridTables& t, const float* lines, float* y) {
    alignas(16) float out[24];
    for (int w = 0; w < 3; ++w) {
        __m128 a = _mm_setzero_ps(), b = _mm_setzero_ps();
        for (int m = 0; m < 6; ++m) {
            const __m128 xm = _mm_set1_ps(lines[3 * m + w]);
            a = _mm_add_ps(a, _mm_mul_ps(xm, _mm_load_ps(t.cos12T[m])));
            b = _mm_add_ps(b, _mm_mul_ps(xm, _mm_load_ps(t.cos12T[m] + 4)));
        }
        _mm_storeu_ps(out + 6 * w, a);
        _mm_storeu_ps(out + 6 * w + 4, b);
    }
    std::memcpy(y, out, sizeof(float) * 18);
}

__attribute__((target("avx2,fma"))) void Imdct12Avx2(const HybridTables& t, const float* lines,
                                                     float* y) {
    alignas(32) float out[24];
    for (int w = 0; w < 3; ++w) {
        __m256 a = _mm256_setzero_ps();
        for (int m = 0; m < 6; ++m)
            a = _mm256_fmadd_ps(_mm256_set1_ps(lines[3 * m + w]), _mm256_load_ps(t.cos12T[m]), a);
        _mm256_storeu_ps(out + 6 * w, a);
    }
    std::memcpy(y, out, sizeof(float) * 18);
}

int32_t HybridSse2(const DecoderState& d, float* lines, const float* previous, float* output,
                   int32_t blockType, int32_t longEnd, int32_t shortEnd, int32_t previousCount) {
    const auto longSubband = [&d](float* x, const float* prev, float* out, const float* w) {
        LongSubbandSse2(d.hybrid, x, prev, out, w);
    };
    return hybrid::Transform(d, longSubband, Imdct12Sse2, lines, previous, output, blockType,
                             longEnd, shortEnd, previousCount);
}

__attribute__((target("avx2,fma"))) int32_t HybridAvx2(const DecoderState& d, float* lines,
                                                       const float* previous, float* output,
                                                       int32_t blockType, int32_t longEnd,
                                                       int32_t shortEnd, int32_t previousCount) {
    const auto longSubband = [&d](float* x, const float* prev, float* out, const float* w) {
        LongSubbandAvx2(d.hybrid, x, prev, out, w);
    };
    return hybrid::Transform(d, longSubband, Imdct12Avx2, lines, previous, output, blockType,
                             longEnd, shortEnd, previousCount);
}

}  // namespace wl

#endif  // WL_X86_SIMD
