// Polyphase synthesis filterbank: subband samples to 16-bit PCM.
//
// Each channel keeps a ring of 16 blocks of 32 DCT values. A block holds the
// unnormalised DCT-II X[k] = sum_j S[j] cos((2j + 1) k pi / 64) of one time
// slot's 32 subband samples; the window stage folds the standard's 64-value
// matrixing vector out of these 32 values.
#pragma once

#include <cstdint>

namespace wl {

constexpr int32_t kSynthWindowSize = 264;
constexpr int32_t kSynthLaneTableSize = 8 * 64 + 8;

// The window in two layouts. `taps`: rows 0..15 of 16 taps (tap k of row r =
// D[r + 32k]), then 8 taps -D[48 + 64m]; the portable stage reads these.
// `lanes`: the same coefficients in double, reordered for the vectorised
// stages, which compute many output samples side by side: for block pair m,
// 64 values (set s = 0..3, lane i = 0..15 at 64m + 16s + i):
//   s = 0: tap 2m of row i          (samples 0..15, times R[b0 + 16 + i])
//   s = 1: minus tap 2m + 1 of row i (samples 0..15, times R[b1 + 16 - i])
//   s = 2: tap 15 - 2m of row i     (sample 32 - i, times R[b0 + 16 + i])
//   s = 3: tap 14 - 2m of row i     (sample 32 - i, times R[b1 + 16 - i])
// (lane 0 of sets 2 and 3 is 0: sample 16 has its own 8 taps, at 512 + m).
// `lanesSingle` holds the same in single precision. Both must be rebuilt
// (BuildWindowLanes) whenever `taps` change.
struct SynthWindow {
    alignas(64) float taps[kSynthWindowSize];
    alignas(64) double lanes[kSynthLaneTableSize];
    alignas(64) float lanesSingle[kSynthLaneTableSize];
};

void BuildWindowLanes(SynthWindow& w);

// Windows the block at `pos` of a 512-float ring and writes 32 samples to
// pcm[0..31] (mono) or pcm[0], pcm[2], ..., pcm[62] (stereo, one channel).
using OutputRoutine = void (*)(const float* ring, int32_t pos, int16_t* pcm,
                               const SynthWindow& window);
// DCT-II of 32 contiguous values in[0..31] into dst[0..31] (see Dct32).
using DctRoutine = void (*)(const float* in, float* dst);
// The same of the 32 values in[0], in[2], ..., in[62] (one channel of two
// interleaved ones); reads nothing past in[62].
using DctInterleavedRoutine = void (*)(const float* in, float* dst);

struct SynthesisState {
    alignas(64) float ring[1024];  // ring 0 (values 0..511), ring 1 (512..1023)
    int32_t pos[2];                // multiples of 32 in 0..480
    SynthWindow window;
    bool polarityInverted;

    // Subband equalizer: gains applied to a scratch copy before the DCT.
    float subbandGain[32];
    int32_t subbandEqEnabled;

    // Routine slots, filled by the routine selection.
    OutputRoutine outputMono;
    OutputRoutine outputStereo;
    DctRoutine dct;
    DctInterleavedRoutine dctInterleaved;  // nullptr: the values are copied for dct
};

// Fills the window with the standard's signs, clears ring, positions, gains
// and flags and installs the portable output and DCT routines.
void InitSynthesis(SynthesisState& s);
// Clears both rings and positions (the decoder's reset at every set-up).
void ResetSynthesisState(SynthesisState& s);
// Negates the window when the requested state differs from the current one.
void SetSynthesisPolarity(SynthesisState& s, bool inverted);

enum class DctForm {
    Contiguous,   // S[k] = in[k]
    Interleaved,  // S[k] = in[2k]
    Mix,          // S[k] = (in[2k] + in[2k + 1]) * 0.5, never equalized
};

// Transforms one block into dst[0..31]. The contiguous and interleaved forms
// apply the subband gains when the subband equalizer is on.
void Dct32(const SynthesisState& s, const float* in, float* dst, DctForm form);

// Portable window stages (extended-precision sums, round to nearest even, clamp).
void OutputMonoPortable(const float* ring, int32_t pos, int16_t* pcm, const SynthWindow& window);
void OutputStereoPortable(const float* ring, int32_t pos, int16_t* pcm,
                          const SynthWindow& window);
// Portable split-and-recombine DCT.
void DctPortable(const float* in, float* dst);
// Its 31 factors: 0.5 / cos((2j + 1) pi / 2N) for N = 32, 16, 8, 4, 2.
const float* DctFactorTable();

// Layer III front ends: `hybridOut` holds 18 slots of 32 subbands (slot t,
// subband k at 32t + k). Mono writes 576 samples; stereo writes channel c of
// 576 interleaved pairs (pcm + 64t + c).
void SynthL3Mono(SynthesisState& s, const float* hybridOut, int16_t* pcm);
void SynthL3Stereo(SynthesisState& s, const float* hybridOut, int16_t* pcm, int32_t channel);

// Layer I/II front end: `samples` holds `slots` slots of 64 floats (two
// channels alternate, subband k of channel c at 2k + c; one channel fills the
// first 32). `route`: 0 single-channel stream, 1 stereo, 2 mono mix, 3 left, 4 right.
void SynthL12(SynthesisState& s, int32_t route, const float* samples, int16_t* pcm,
              int32_t slots);

}  // namespace wl
