// Vectorised forms of the routine slots and the synthesis DCT for x86-64:
// SSE2 (always present there) and AVX2 with FMA (chosen at run time). Each
// computes what its portable form computes; see the .cpp files for how.
// Defining WL_NO_X86_SIMD leaves them out (the portable forms serve every kind).
#pragma once

#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(WL_NO_X86_SIMD)
#define WL_X86_SIMD 1
#endif

#if defined(WL_X86_SIMD)

#include "decoder/synthesis.h"

namespace wl {

struct HybridTables;
struct DecoderState;

void OutputMonoSse2(const float* ring, int32_t pos, int16_t* pcm, const SynthWindow& window);
void OutputStereoSse2(const float* ring, int32_t pos, int16_t* pcm, const SynthWindow& window);
void OutputMonoAvx2(const float* ring, int32_t pos, int16_t* pcm, const SynthWindow& window);
void OutputStereoAvx2(const float* ring, int32_t pos, int16_t* pcm, const SynthWindow& window);
void DctSse2(const float* in, float* dst);
void DctAvx2(const float* in, float* dst);
// DctAvx2 of in[0], in[2], ..., in[62], picked out by shuffles.
void DctInterleavedAvx2(const float* in, float* dst);

void AliasReduceSse2(float* lines, int32_t boundaries, const float (*csca)[2]);
void AliasReduceAvx2(float* lines, int32_t boundaries, const float (*csca)[2]);
void Imdct36Sse2(const HybridTables& t, float* x);
void Imdct36Avx2(const HybridTables& t, float* x);
void Imdct12Sse2(const HybridTables& t, const float* lines, float* y);
void Imdct12Avx2(const HybridTables& t, const float* lines, float* y);
// Requantises the lines of long bands 0..bands - 1 (band b ends at
// bandEnd[b] and is scaled by bandFactor[b]); answers one past the last
// non-zero line, 0 when all are 0. Used with the AVX2 hybrid transform.
int32_t RequantLongBandsAvx2(const int32_t* q, float* out, int32_t bands, const int32_t* bandEnd,
                             const float* bandFactor, const float* pow43);
// Whether the processor has BMI2 (shifts by any register); asked once. The
// bit-reading code is built a second time with it and taken with the AVX2
// routines: integer work only, so the results are the same.
inline bool HasBmi2() {
    static const bool has = __builtin_cpu_supports("bmi2");
    return has;
}
int32_t HybridSse2(const DecoderState& d, float* lines, const float* previous, float* output,
                   int32_t blockType, int32_t longEnd, int32_t shortEnd, int32_t previousCount);
int32_t HybridAvx2(const DecoderState& d, float* lines, const float* previous, float* output,
                   int32_t blockType, int32_t longEnd, int32_t shortEnd, int32_t previousCount);

}  // namespace wl

#endif  // WL_X86_SIMD
