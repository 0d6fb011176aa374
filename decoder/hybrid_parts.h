// The parts of the hybrid transform that every variant shares: the window of
// a long subband, the short-block subband and the walk over the subbands.
// Internal to the decoder; the variants differ only in how a long subband and
// the inverse MDCTs are computed.
#pragma once

#include <algorithm>
#include <cstring>

#include "decoder/decoder_state.h"

namespace wl::hybrid {

// Window of long subband k: the block type's, except that the subbands of the
// long part of a mixed block always take the normal window (also when the
// mixed flag comes with a start or stop block).
inline const float* LongWindow(const DecoderState& d, int32_t blockType, int32_t k) {
    const int32_t type = blockType & 3;
    if (type == 2) return d.hybrid.window[0];
    if ((blockType & kHybridMixed) && 18 * k < d.mixedLongEnd) return d.hybrid.window[0];
    return d.hybrid.window[type];
}

// Folded position of each windowed short-transform output.
constexpr int kShortFold[12] = {3, 4, 5, 5, 4, 3, 2, 1, 0, 0, 1, 2};

// One short subband: three windowed 12-point transforms folded into a frame of
// 36; output column k gets frame values 0..17 (plus the previous overlap), the
// new overlap (may alias `x`) frame values 18..35.
template <bool kAdd, typename Imdct12>
inline void ShortSubband(const DecoderState& d, Imdct12 imdct12, float* x, const float* previous,
                         float* out, float* overlapOut) {
    float y[18];
    imdct12(d.hybrid, x, y);
    const float* w = d.hybrid.window[2];
    float frame[36] = {};
    for (int win = 0; win < 3; ++win) {
        const float* yw = y + 6 * win;
        float* f = frame + 6 + 6 * win;
        for (int i = 0; i < 12; ++i) f[i] += w[i] * yw[kShortFold[i]];
    }
    for (int t = 0; t < 18; ++t) {
        if constexpr (kAdd) {
            out[32 * t] += frame[t];
        } else {
            out[32 * t] = previous[t] + frame[t];
        }
    }
    for (int t = 0; t < 18; ++t) {
        if constexpr (kAdd) {
            overlapOut[t] += frame[18 + t];
        } else {
            overlapOut[t] = frame[18 + t];
        }
    }
}

// The hybrid transform over all subbands. `longSubband(x, previous, out,
// window)` transforms subband lines x in place into output column `out` and
// the new overlap.
template <typename LongFn, typename Imdct12>
inline int32_t Transform(const DecoderState& d, LongFn longSubband, Imdct12 imdct12, float* lines,
                         const float* previous, float* output, int32_t blockType, int32_t longEnd,
                         int32_t shortEnd, int32_t previousCount) {
    const int32_t longSubbands = (longEnd + 17) / 18;
    const int32_t shortSubbands = std::max((shortEnd + 17) / 18, longSubbands);
    const int32_t overlapSubbands = (previousCount + 17) / 18;
    int32_t k = 0;
    for (; k < longSubbands; ++k)
        longSubband(lines + 18 * k, previous + 18 * k, output + k, LongWindow(d, blockType, k));
    for (; k < shortSubbands; ++k)
        ShortSubband<false>(d, imdct12, lines + 18 * k, previous + 18 * k, output + k,
                            lines + 18 * k);
    for (; k < overlapSubbands; ++k)
        for (int t = 0; t < 18; ++t) output[32 * t + k] = previous[18 * k + t];
    const int32_t produced = 18 * k;
    for (; k < d.synthSubbands; ++k)
        for (int t = 0; t < 18; ++t) output[32 * t + k] = 0.0f;
    return produced;
}

}  // namespace wl::hybrid
