// Synthesis for x86-64: window stages and the DCT, SSE2 and AVX2 + FMA.
//
// The window stages compute many output samples side by side from the
// reordered window (SynthWindow). The SSE2 stage sums the same exact double
// products (a float times a float is exact in double) in the same order as
// the portable stage, so its samples are bit-identical to the portable ones;
// the AVX2 stage sums in single precision (see there).
#include "decoder/simd_routines.h"

#if defined(WL_X86_SIMD)

#include <immintrin.h>

#include <cstring>

namespace wl {

namespace {

// Clamp to the 16-bit range (NaN gives 0) and round by the current mode
// (nearest, ties to even): the same as rounding first and clamping after.
inline __m128i ToInt32(__m128d a, __m128d b) {
    const __m128d hi = _mm_set1_pd(32767.0);
    const __m128d lo = _mm_set1_pd(-32768.0);
    a = _mm_max_pd(_mm_min_pd(_mm_and_pd(a, _mm_cmpord_pd(a, a)), hi), lo);
    b = _mm_max_pd(_mm_min_pd(_mm_and_pd(b, _mm_cmpord_pd(b, b)), hi), lo);
    return _mm_unpacklo_epi64(_mm_cvtpd_epi32(a), _mm_cvtpd_epi32(b));
}

inline __m128i Reverse16(__m128i v) {
    v = _mm_shufflelo_epi16(v, 0x1B);
    v = _mm_shufflehi_epi16(v, 0x1B);
    return _mm_shuffle_epi32(v, 0x4E);
}

// Stereo: every second sample belongs to the other channel, which must stay
// as it is. The 32 samples span pcm[0..62]: eight 8-value pieces are read,
// merged and written back, the last one at pcm[55..62] (our samples in its
// odd lanes) so that nothing past pcm[62] is touched. All reads come before
// the writes.
inline void StoreInterleavedPcm(int16_t* pcm, const __m128i s[4]) {
    __m128i old[8];
    for (int k = 0; k < 7; ++k)
        old[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pcm + 8 * k));
    old[7] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pcm + 55));
    const __m128i even = _mm_set1_epi32(0xFFFF);
    for (int k = 0; k < 8; ++k) {
        const __m128i ours = k % 2 ? _mm_unpackhi_epi16(s[k / 2], s[k / 2])
                                   : _mm_unpacklo_epi16(s[k / 2], s[k / 2]);
        const __m128i keep = k < 7 ? _mm_andnot_si128(even, old[k]) : _mm_and_si128(even, old[k]);
        const __m128i put = k < 7 ? _mm_and_si128(even, ours) : _mm_andnot_si128(even, ours);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + (k < 7 ? 8 * k : 55)),
                         _mm_or_si128(keep, put));
    }
}

// The same with 16-bit blends (SSE4.1), for the AVX2 stage.
__attribute__((target("avx2"), always_inline)) inline void StoreInterleavedPcmBlend(
    int16_t* pcm, const __m128i s[4]) {
    __m128i old[8];
    for (int k = 0; k < 7; ++k)
        old[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pcm + 8 * k));
    old[7] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pcm + 55));
    for (int k = 0; k < 7; ++k) {
        const __m128i ours = k % 2 ? _mm_unpackhi_epi16(s[k / 2], s[k / 2])
                                   : _mm_unpacklo_epi16(s[k / 2], s[k / 2]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + 8 * k),
                         _mm_blend_epi16(old[k], ours, 0x55));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + 55),
                     _mm_blend_epi16(old[7], _mm_unpackhi_epi16(s[3], s[3]), 0xAA));
}

// The four packed vectors of a block: samples 0..7, 8..15, then the second
// half as computed, L0..L7 and L8..L15 with L0 = sample 16 and Li = sample
// 32 - i; writes samples 0..31 in order.
inline void ArrangeBlock(__m128i s[4], __m128i x, __m128i y) {
    s[2] = _mm_insert_epi16(_mm_slli_si128(Reverse16(y), 2), _mm_extract_epi16(x, 0), 0);
    s[3] = _mm_insert_epi16(_mm_slli_si128(Reverse16(x), 2), _mm_extract_epi16(y, 0), 0);
}

inline void StoreMono(int16_t* pcm, const __m128i s[4]) {
    for (int k = 0; k < 4; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(pcm + 8 * k), s[k]);
}

template <int Stride>
inline void StoreBlock(int16_t* pcm, __m128i s0, __m128i s1, __m128i x, __m128i y) {
    __m128i s[4] = {s0, s1, x, y};
    ArrangeBlock(s, x, y);
    if constexpr (Stride == 1) {
        StoreMono(pcm, s);
    } else {
        StoreInterleavedPcm(pcm, s);
    }
}

// Sample 16: its 8 taps, in the portable order.
inline double Sample16(const float* R, int32_t p, const double* lanes) {
    double s = 0.0;
    for (int m = 0; m < 8; ++m) s += lanes[512 + m] * R[(p + 32 + 64 * m) & 511];
    return s;
}

template <int Stride>
inline void WindowSse2(const float* R, int32_t p, int16_t* pcm, const SynthWindow& w) {
    p &= 480;
    const double* L = w.lanes;
    __m128i lo32[4];
    __m128i hi32[4];
    for (int i0 = 0; i0 < 16; i0 += 4) {
        __m128d lo0 = _mm_setzero_pd(), lo1 = _mm_setzero_pd();
        __m128d hi0 = _mm_setzero_pd(), hi1 = _mm_setzero_pd();
        for (int m = 0; m < 8; ++m) {
            const float* b0 = R + ((p + 64 * m) & 511);
            const float* b1 = R + ((p + 32 + 64 * m) & 511);
            const __m128 a = _mm_loadu_ps(b0 + 16 + i0);
            __m128 c = _mm_loadu_ps(b1 + 13 - i0);
            c = _mm_shuffle_ps(c, c, 0x1B);  // b1[16 - i0 - i], i = 0..3
            const __m128d a0 = _mm_cvtps_pd(a);
            const __m128d a1 = _mm_cvtps_pd(_mm_movehl_ps(a, a));
            const __m128d c0 = _mm_cvtps_pd(c);
            const __m128d c1 = _mm_cvtps_pd(_mm_movehl_ps(c, c));
            const double* l = L + 64 * m + i0;
            lo0 = _mm_add_pd(lo0, _mm_mul_pd(_mm_load_pd(l), a0));
            lo0 = _mm_add_pd(lo0, _mm_mul_pd(_mm_load_pd(l + 16), c0));
            lo1 = _mm_add_pd(lo1, _mm_mul_pd(_mm_load_pd(l + 2), a1));
            lo1 = _mm_add_pd(lo1, _mm_mul_pd(_mm_load_pd(l + 18), c1));
            hi0 = _mm_add_pd(hi0, _mm_mul_pd(_mm_load_pd(l + 32), a0));
            hi0 = _mm_add_pd(hi0, _mm_mul_pd(_mm_load_pd(l + 48), c0));
            hi1 = _mm_add_pd(hi1, _mm_mul_pd(_mm_load_pd(l + 34), a1));
            hi1 = _mm_add_pd(hi1, _mm_mul_pd(_mm_load_pd(l + 50), c1));
        }
        if (i0 == 0) hi0 = _mm_move_sd(hi0, _mm_set_sd(Sample16(R, p, L)));
        lo32[i0 / 4] = ToInt32(lo0, lo1);
        hi32[i0 / 4] = ToInt32(hi0, hi1);
    }
    StoreBlock<Stride>(pcm, _mm_packs_epi32(lo32[0], lo32[1]), _mm_packs_epi32(lo32[2], lo32[3]),
                       _mm_packs_epi32(hi32[0], hi32[1]), _mm_packs_epi32(hi32[2], hi32[3]));
}

// AVX2: 8 samples per vector in single precision with fused multiply-adds,
// the terms of each sample in the portable order. Single-precision sums may
// round a sample that lies within a hair of .5 the other way: results stay
// within 1 of the portable ones.
__attribute__((target("avx2,fma"))) inline __m256i ToInt32Avx(__m256 v) {
    v = _mm256_and_ps(v, _mm256_cmp_ps(v, v, _CMP_ORD_Q));
    v = _mm256_max_ps(_mm256_min_ps(v, _mm256_set1_ps(32767.0f)), _mm256_set1_ps(-32768.0f));
    return _mm256_cvtps_epi32(v);
}

// 16 int32 (two vectors) to 16 int16 in order.
__attribute__((target("avx2,fma"))) inline __m256i Pack16(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
}

template <int Stride>
__attribute__((target("avx2,fma"))) inline void WindowAvx2(const float* R, int32_t p,
                                                            int16_t* pcm, const SynthWindow& w) {
    p &= 480;
    const float* L = w.lanesSingle;
    const __m256i reverse = _mm256_set_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256 lo0 = _mm256_setzero_ps(), lo1 = lo0, hi0 = lo0, hi1 = lo0;
    __m128 s16 = _mm_setzero_ps();  // sample 16, from block 2m + 1's first value
#pragma GCC unroll 8
    for (int m = 0; m < 8; ++m) {
        const float* b0 = R + ((p + 64 * m) & 511);
        const float* b1 = R + ((p + 32 + 64 * m) & 511);
        // The newest block (m = 0) was just stored by the AVX2 DCT in these
        // same 32-byte pieces, so the loads are forwarded.
        const __m256 a0 = _mm256_loadu_ps(b0 + 16);
        const __m256 a1 = _mm256_loadu_ps(b0 + 24);
        const __m256 c0 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(b1 + 9), reverse);  // b1[16 - i]
        const __m256 c1 = _mm256_permutevar8x32_ps(_mm256_loadu_ps(b1 + 1), reverse);  // b1[8 - i]
        const float* l = L + 64 * m;
        lo0 = _mm256_fmadd_ps(_mm256_load_ps(l), a0, lo0);
        lo0 = _mm256_fmadd_ps(_mm256_load_ps(l + 16), c0, lo0);
        lo1 = _mm256_fmadd_ps(_mm256_load_ps(l + 8), a1, lo1);
        lo1 = _mm256_fmadd_ps(_mm256_load_ps(l + 24), c1, lo1);
        hi0 = _mm256_fmadd_ps(_mm256_load_ps(l + 32), a0, hi0);
        hi0 = _mm256_fmadd_ps(_mm256_load_ps(l + 48), c0, hi0);
        hi1 = _mm256_fmadd_ps(_mm256_load_ps(l + 40), a1, hi1);
        hi1 = _mm256_fmadd_ps(_mm256_load_ps(l + 56), c1, hi1);
        s16 = _mm_fmadd_ss(_mm_load_ss(L + 512 + m), _mm_load_ss(b1), s16);
    }
    hi0 = _mm256_blend_ps(hi0, _mm256_castps128_ps256(s16), 1);
    const __m256i lo = Pack16(ToInt32Avx(lo0), ToInt32Avx(lo1));
    const __m256i hi = Pack16(ToInt32Avx(hi0), ToInt32Avx(hi1));
    __m128i s[4] = {_mm256_castsi256_si128(lo), _mm256_extracti128_si256(lo, 1)};
    ArrangeBlock(s, _mm256_castsi256_si128(hi), _mm256_extracti128_si256(hi, 1));
    if constexpr (Stride == 1) {
        StoreMono(pcm, s);
    } else {
        StoreInterleavedPcmBlend(pcm, s);
    }
}

}  // namespace

void OutputMonoSse2(const float* ring, int32_t pos, int16_t* pcm, const SynthWindow& window) {
    WindowSse2<1>(ring, pos, pcm, window);
}

void OutputStereoSse2(const float* ring, int32_t pos, int16_t* pcm, const SynthWindow& window) {
    WindowSse2<2>(ring, pos, pcm, window);
}

__attribute__((target("avx2,fma"))) void OutputMonoAvx2(const float* ring, int32_t pos,
                                                        int16_t* pcm, const SynthWindow& window) {
    WindowAvx2<1>(ring, pos, pcm, window);
}

__attribute__((target("avx2,fma"))) void OutputStereoAvx2(const float* ring, int32_t pos,
                                                          int16_t* pcm,
                                                          const SynthWindow& window) {
    WindowAvx2<2>(ring, pos, pcm, window);
}

namespace {

// The split-and-recombine DCT of the portable form, stage by stage over all
// groups at once. A buffer holds 32 / N groups of N values; each split turns
// a group into its sums and weighted differences (first and second half), each
// recombination merges the two transformed halves. Same operations on the same
// values as the recursive form, so the same results.

inline __m128 Rev(__m128 v) { return _mm_shuffle_ps(v, v, 0x1B); }

// Lanes of `mask` from a, the others from b.
inline __m128 Select(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

// Split of groups of N >= 8 values; f: the N / 2 factors.
template <int N>
__attribute__((always_inline)) inline void Split(const float* in, float* out, const float* f) {
    constexpr int H = N / 2;
#pragma GCC unroll 8
    for (int base = 0; base < 32; base += N) {
#pragma GCC unroll 4
        for (int q = 0; q < H; q += 4) {
            const __m128 a = _mm_loadu_ps(in + base + q);
            const __m128 b = Rev(_mm_loadu_ps(in + base + N - 4 - q));
            _mm_store_ps(out + base + q, _mm_add_ps(a, b));
            _mm_store_ps(out + base + H + q, _mm_mul_ps(_mm_sub_ps(a, b), _mm_loadu_ps(f + q)));
        }
    }
}

// Recombination of groups of N >= 8 values: x[2k] = G[k], x[2k + 1] =
// H[k] + H[k + 1], x[N - 1] = H[N / 2 - 1]. The shifted H values are put
// together in registers (loads across the halves just stored would stall).
template <int N>
__attribute__((always_inline)) inline void Recombine(const float* in, float* out) {
    constexpr int H = N / 2;
    const __m128 last = _mm_castsi128_ps(_mm_set_epi32(-1, 0, 0, 0));
#pragma GCC unroll 8
    for (int base = 0; base < 32; base += N) {
#pragma GCC unroll 4
        for (int q = 0; q < H; q += 4) {
            const __m128 g = _mm_load_ps(in + base + q);
            const __m128 h = _mm_load_ps(in + base + H + q);
            const bool end = q + 4 >= H;
            const __m128 n = end ? h : _mm_load_ps(in + base + H + q + 4);
            const __m128 t = _mm_move_ss(h, n);                                 // n0 h1 h2 h3
            const __m128 shifted = _mm_shuffle_ps(t, t, _MM_SHUFFLE(0, 3, 2, 1));  // h1 h2 h3 n0
            __m128 s = _mm_add_ps(h, shifted);
            if (end) s = Select(last, h, s);
            _mm_storeu_ps(out + base + 2 * q, _mm_unpacklo_ps(g, s));
            _mm_storeu_ps(out + base + 2 * q + 4, _mm_unpackhi_ps(g, s));
        }
    }
}

// Recombination of groups of 4 (G0 G1 H0 H1 -> G0, H0 + H1, G1, H1).
__attribute__((always_inline)) inline void Recombine4(const float* in, float* out) {
    const __m128 second = _mm_castsi128_ps(_mm_set_epi32(0, 0, -1, 0));
#pragma GCC unroll 8
    for (int base = 0; base < 32; base += 4) {
        const __m128 v = _mm_load_ps(in + base);
        const __m128 a = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 1, 2, 0));  // G0 H0 G1 H1
        const __m128 s = _mm_add_ps(a, _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3)));
        _mm_store_ps(out + base, Select(second, s, a));
    }
}

__attribute__((always_inline)) inline void DctVector(const float* in, float* dst,
                                                     const float* f) {
    alignas(16) float a[32];
    alignas(16) float b[32];
    Split<32>(in, a, f);        // factors for N = 32 at 0
    Split<16>(a, b, f + 16);    // N = 16 at 16
    Split<8>(b, a, f + 24);     // N = 8 at 24
    // N = 4 (factors at 28), two groups per vector.
    const __m128 f4 = _mm_set_ps(f[29], f[28], f[29], f[28]);
#pragma GCC unroll 4
    for (int base = 0; base < 32; base += 8) {
        const __m128 p = _mm_load_ps(a + base), q = _mm_load_ps(a + base + 4);
        const __m128 x = _mm_movelh_ps(p, q);
        const __m128 y = _mm_shuffle_ps(p, q, _MM_SHUFFLE(2, 3, 2, 3));
        const __m128 g = _mm_add_ps(x, y);
        const __m128 h = _mm_mul_ps(_mm_sub_ps(x, y), f4);
        _mm_store_ps(b + base, _mm_movelh_ps(g, h));
        _mm_store_ps(b + base + 4, _mm_movehl_ps(h, g));
    }
    // N = 2 (factor at 30), four groups per pair of vectors.
    const __m128 f2 = _mm_set1_ps(f[30]);
#pragma GCC unroll 4
    for (int base = 0; base < 32; base += 8) {
        const __m128 p = _mm_load_ps(b + base), q = _mm_load_ps(b + base + 4);
        const __m128 x = _mm_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 y = _mm_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1));
        const __m128 s = _mm_add_ps(x, y);
        const __m128 d = _mm_mul_ps(_mm_sub_ps(x, y), f2);
        _mm_store_ps(a + base, _mm_unpacklo_ps(s, d));
        _mm_store_ps(a + base + 4, _mm_unpackhi_ps(s, d));
    }
    Recombine4(a, b);
    Recombine<8>(b, a);
    Recombine<16>(a, b);
    Recombine<32>(b, dst);
}

}  // namespace

void DctSse2(const float* in, float* dst) { DctVector(in, dst, DctFactorTable()); }

namespace {

// The same butterflies 8 values at a time (no fused operations, so the results
// stay bit-identical). Groups of 8 and fewer are taken two or more per vector;
// every recombination builds its shifted H values in registers and stores in
// whole vectors that the next stage loads back unchanged.
#define WL_AVX2 __attribute__((target("avx2,fma"), always_inline)) inline

WL_AVX2 __m256 Rev8(__m256 v) {
    return _mm256_permutevar8x32_ps(v, _mm256_set_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// x[1..7], then `next` lane 0: the H values one place on.
WL_AVX2 __m256 ShiftIn(__m256 h, __m256 next) {
    return _mm256_permutevar8x32_ps(_mm256_blend_ps(h, next, 1),
                                    _mm256_set_epi32(0, 7, 6, 5, 4, 3, 2, 1));
}

// Lanes 0..7 of the two interleaved: lo holds a0 b0 a1 b1 | a4 b4 a5 b5.
WL_AVX2 void StoreInterleaved(float* out, __m256 a, __m256 b) {
    const __m256 lo = _mm256_unpacklo_ps(a, b), hi = _mm256_unpackhi_ps(a, b);
    _mm256_store_ps(out, _mm256_permute2f128_ps(lo, hi, 0x20));
    _mm256_store_ps(out + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
}

WL_AVX2 void DctVector8(const float* in, float* dst, const float* f) {
    alignas(32) float a[32];
    alignas(32) float b[32];
    // N = 32: one group, factors at 0.
#pragma GCC unroll 2
    for (int q = 0; q < 16; q += 8) {
        const __m256 x = _mm256_loadu_ps(in + q);
        const __m256 y = Rev8(_mm256_loadu_ps(in + 24 - q));
        _mm256_store_ps(a + q, _mm256_add_ps(x, y));
        _mm256_store_ps(a + 16 + q, _mm256_mul_ps(_mm256_sub_ps(x, y), _mm256_loadu_ps(f + q)));
    }
    // N = 16: two groups, factors at 16.
    const __m256 f16 = _mm256_loadu_ps(f + 16);
#pragma GCC unroll 2
    for (int base = 0; base < 32; base += 16) {
        const __m256 x = _mm256_load_ps(a + base);
        const __m256 y = Rev8(_mm256_load_ps(a + base + 8));
        _mm256_store_ps(b + base, _mm256_add_ps(x, y));
        _mm256_store_ps(b + base + 8, _mm256_mul_ps(_mm256_sub_ps(x, y), f16));
    }
    // N = 8: two groups per pair of vectors, factors at 24.
    const __m256 f8 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(f + 24));
#pragma GCC unroll 2
    for (int base = 0; base < 32; base += 16) {
        const __m256 v0 = _mm256_load_ps(b + base), v1 = _mm256_load_ps(b + base + 8);
        const __m256 x = _mm256_permute2f128_ps(v0, v1, 0x20);
        const __m256 y = _mm256_permute_ps(_mm256_permute2f128_ps(v0, v1, 0x31), 0x1B);
        const __m256 s = _mm256_add_ps(x, y);
        const __m256 d = _mm256_mul_ps(_mm256_sub_ps(x, y), f8);
        _mm256_store_ps(a + base, _mm256_permute2f128_ps(s, d, 0x20));
        _mm256_store_ps(a + base + 8, _mm256_permute2f128_ps(s, d, 0x31));
    }
    // N = 4 (factors at 28): as the 4-wide form, per 128-bit half.
    const __m256 f4 = _mm256_set_ps(f[29], f[28], f[29], f[28], f[29], f[28], f[29], f[28]);
#pragma GCC unroll 2
    for (int base = 0; base < 32; base += 16) {
        const __m256 p = _mm256_load_ps(a + base), q = _mm256_load_ps(a + base + 8);
        const __m256 x = _mm256_shuffle_ps(p, q, _MM_SHUFFLE(1, 0, 1, 0));
        const __m256 y = _mm256_shuffle_ps(p, q, _MM_SHUFFLE(2, 3, 2, 3));
        const __m256 g = _mm256_add_ps(x, y);
        const __m256 h = _mm256_mul_ps(_mm256_sub_ps(x, y), f4);
        _mm256_store_ps(b + base, _mm256_shuffle_ps(g, h, _MM_SHUFFLE(1, 0, 1, 0)));
        _mm256_store_ps(b + base + 8, _mm256_shuffle_ps(g, h, _MM_SHUFFLE(3, 2, 3, 2)));
    }
    // N = 2 (factor at 30).
    const __m256 f2 = _mm256_set1_ps(f[30]);
#pragma GCC unroll 2
    for (int base = 0; base < 32; base += 16) {
        const __m256 p = _mm256_load_ps(b + base), q = _mm256_load_ps(b + base + 8);
        const __m256 x = _mm256_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0));
        const __m256 y = _mm256_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1));
        const __m256 s = _mm256_add_ps(x, y);
        const __m256 d = _mm256_mul_ps(_mm256_sub_ps(x, y), f2);
        _mm256_store_ps(a + base, _mm256_unpacklo_ps(s, d));
        _mm256_store_ps(a + base + 8, _mm256_unpackhi_ps(s, d));
    }
    // Recombination of groups of 4 (G0 G1 H0 H1 -> G0, H0 + H1, G1, H1).
#pragma GCC unroll 4
    for (int base = 0; base < 32; base += 8) {
        const __m256 v = _mm256_load_ps(a + base);
        const __m256 p = _mm256_permute_ps(v, _MM_SHUFFLE(3, 1, 2, 0));  // G0 H0 G1 H1
        const __m256 s = _mm256_add_ps(p, _mm256_permute_ps(v, _MM_SHUFFLE(3, 3, 3, 3)));
        _mm256_store_ps(b + base, _mm256_blend_ps(p, s, 0x22));
    }
    // Groups of 8, two per pair of vectors: G halves together, H halves together.
#pragma GCC unroll 2
    for (int base = 0; base < 32; base += 16) {
        const __m256 v0 = _mm256_load_ps(b + base), v1 = _mm256_load_ps(b + base + 8);
        const __m256 g = _mm256_permute2f128_ps(v0, v1, 0x20);
        const __m256 h = _mm256_permute2f128_ps(v0, v1, 0x31);
        const __m256 s = _mm256_blend_ps(
            _mm256_add_ps(h, _mm256_permute_ps(h, _MM_SHUFFLE(0, 3, 2, 1))), h, 0x88);
        const __m256 lo = _mm256_unpacklo_ps(g, s), hi = _mm256_unpackhi_ps(g, s);
        _mm256_store_ps(a + base, _mm256_permute2f128_ps(lo, hi, 0x20));
        _mm256_store_ps(a + base + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
    }
    // Groups of 16.
#pragma GCC unroll 2
    for (int base = 0; base < 32; base += 16) {
        const __m256 g = _mm256_load_ps(a + base);
        const __m256 h = _mm256_load_ps(a + base + 8);
        const __m256 s = _mm256_blend_ps(_mm256_add_ps(h, ShiftIn(h, h)), h, 0x80);
        StoreInterleaved(b + base, g, s);
    }
    // The group of 32.
    const __m256 g0 = _mm256_load_ps(b), g1 = _mm256_load_ps(b + 8);
    const __m256 h0 = _mm256_load_ps(b + 16), h1 = _mm256_load_ps(b + 24);
    const __m256 s0 = _mm256_add_ps(h0, ShiftIn(h0, h1));
    const __m256 s1 = _mm256_blend_ps(_mm256_add_ps(h1, ShiftIn(h1, h1)), h1, 0x80);
    const __m256 lo0 = _mm256_unpacklo_ps(g0, s0), hi0 = _mm256_unpackhi_ps(g0, s0);
    const __m256 lo1 = _mm256_unpacklo_ps(g1, s1), hi1 = _mm256_unpackhi_ps(g1, s1);
    _mm256_storeu_ps(dst, _mm256_permute2f128_ps(lo0, hi0, 0x20));
    _mm256_storeu_ps(dst + 8, _mm256_permute2f128_ps(lo0, hi0, 0x31));
    _mm256_storeu_ps(dst + 16, _mm256_permute2f128_ps(lo1, hi1, 0x20));
    _mm256_storeu_ps(dst + 24, _mm256_permute2f128_ps(lo1, hi1, 0x31));
}

#undef WL_AVX2

}  // namespace

__attribute__((target("avx2,fma"))) void DctAvx2(const float* in, float* dst) {
    DctVector8(in, dst, DctFactorTable());
}

__attribute__((target("avx2,fma"))) void DctInterleavedAvx2(const float* in, float* dst) {
    alignas(32) float x[32];
    for (int g = 0; g < 4; ++g) {
        // a0 a2 b0 b2 | a4 a6 b4 b6, the middle 64-bit pieces then swapped. The
        // last group's second half is loaded one value early (so as not to
        // read past in[62]) and takes the odd lanes.
        const __m256 a = _mm256_loadu_ps(in + 16 * g);
        const __m256 e = g < 3 ? _mm256_shuffle_ps(a, _mm256_loadu_ps(in + 16 * g + 8),
                                                   _MM_SHUFFLE(2, 0, 2, 0))
                               : _mm256_shuffle_ps(a, _mm256_loadu_ps(in + 16 * g + 7),
                                                   _MM_SHUFFLE(3, 1, 2, 0));
        const __m256d ordered =
            _mm256_permute4x64_pd(_mm256_castps_pd(e), _MM_SHUFFLE(3, 1, 2, 0));
        _mm256_store_ps(x + 8 * g, _mm256_castpd_ps(ordered));
    }
    DctVector8(x, dst, DctFactorTable());
}

}  // namespace wl

#endif  // WL_X86_SIMD
