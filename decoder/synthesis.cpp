// Polyphase synthesis filterbank: a 32-point DCT-II per time slot into a ring
// of 16 blocks per channel, then a 512-tap window folded onto those blocks.

#include "decoder/synthesis.h"

#include <cmath>
#include <cstring>

#include "decoder/tables.h"

namespace wl {

namespace {

// Butterfly factors 0.5 / cos((2j + 1) pi / 2N) for N = 32, 16, 8, 4, 2,
// stored one after another (16 + 8 + 4 + 2 + 1 = 31).
struct DctFactors {
    float f[31];
    DctFactors() {
        const double pi = 4.0 * std::atan(1.0);
        int at = 0;
        for (int n = 32; n >= 2; n /= 2) {
            for (int j = 0; j < n / 2; ++j)
                f[at++] = static_cast<float>(0.5 / std::cos((2 * j + 1) * pi / (2.0 * n)));
        }
    }
};

const DctFactors kFactors;

// In-place DCT-II of N values: split into sums and weighted differences,
// transform both halves, interleave. `f` points at the factors for this N;
// those for N/2 follow them.
template <int N>
inline void DctStep(float* x, const float* f) {
    if constexpr (N == 2) {
        const float g = x[0] + x[1];
        const float h = (x[0] - x[1]) * f[0];
        x[0] = g;
        x[1] = h;
    } else {
        constexpr int H = N / 2;
        float g[H];
        float h[H];
        for (int j = 0; j < H; ++j) {
            const float a = x[j];
            const float b = x[N - 1 - j];
            g[j] = a + b;
            h[j] = (a - b) * f[j];
        }
        DctStep<H>(g, f + H);
        DctStep<H>(h, f + H);
        for (int k = 0; k < H; ++k) x[2 * k] = g[k];
        for (int k = 0; k < H - 1; ++k) x[2 * k + 1] = h[k] + h[k + 1];
        x[N - 1] = h[H - 1];
    }
}

// Round to nearest (ties to even under the default mode) and clamp to 16 bits.
// NaN gives silence.
inline int16_t RoundClamp(double v) {
    const double r = std::nearbyint(v);
    if (r > -32768.0 && r < 32767.0) return static_cast<int16_t>(r);
    if (r >= 32767.0) return 32767;
    if (r <= -32768.0) return -32768;
    return 0;
}

// Window stage. Blocks sit at p, p + 32, ... (mod 512); each output sample
// folds 16 taps from 8 blocks. Products of two floats are exact in double and
// every sample sums its terms in a fixed order (m = 0..7, as listed below);
// the 32 sums run side by side so that they do not wait on one another.
//   n = 0..15:  W[n][2m] R[p+16+n+64m] - W[n][2m+1] R[p+48-n+64m]
//   n = 16:     T[m] R[p+32+64m]
//   n = 17..31: W[32-n][15-2m] R[p+48-n+64m] + W[32-n][14-2m] R[p+n+16+64m]
// Since p is a multiple of 32, none of these index runs crosses a block edge.
template <int Stride>
inline void WindowBlock(const float* R, int32_t p, int16_t* pcm, const float* w) {
    p &= 480;  // a stray position can never reach outside the ring
    double lo[16] = {};  // samples 0..15
    double hi[16] = {};  // samples 16..31 (index n - 16)
    for (int m = 0; m < 8; ++m) {
        const float* b0 = R + ((p + 64 * m) & 511);       // block 2m
        const float* b1 = R + ((p + 32 + 64 * m) & 511);  // block 2m + 1
        for (int n = 0; n < 16; ++n) {
            lo[n] += double(w[16 * n + 2 * m]) * b0[16 + n];
            lo[n] -= double(w[16 * n + 2 * m + 1]) * b1[16 - n];
        }
        hi[0] += double(w[256 + m]) * b1[0];
        for (int n = 17; n < 32; ++n) {
            const float* W = w + 16 * (32 - n);
            hi[n - 16] += double(W[15 - 2 * m]) * b0[48 - n];
            hi[n - 16] += double(W[14 - 2 * m]) * b1[n - 16];
        }
    }
    for (int n = 0; n < 16; ++n) pcm[n * Stride] = RoundClamp(lo[n]);
    for (int n = 0; n < 16; ++n) pcm[(n + 16) * Stride] = RoundClamp(hi[n]);
}

inline int32_t NextPos(int32_t pos) { return (pos - 32) & 511; }

}  // namespace

const float* DctFactorTable() { return kFactors.f; }

void BuildWindowLanes(SynthWindow& w) {
    const float* t = w.taps;
    for (int m = 0; m < 8; ++m) {
        double* l = w.lanes + 64 * m;
        for (int i = 0; i < 16; ++i) {
            l[i] = t[16 * i + 2 * m];
            l[16 + i] = -double(t[16 * i + 2 * m + 1]);
            l[32 + i] = i == 0 ? 0.0 : t[16 * i + 15 - 2 * m];
            l[48 + i] = i == 0 ? 0.0 : t[16 * i + 14 - 2 * m];
        }
        w.lanes[512 + m] = t[256 + m];
    }
    for (int i = 0; i < kSynthLaneTableSize; ++i) w.lanesSingle[i] = static_cast<float>(w.lanes[i]);
}

void InitSynthesis(SynthesisState& s) {
    const auto D = [](int i) { return static_cast<float>(tables::kSynthWindowK[i]) / 65536.0f; };
    for (int r = 0; r < 16; ++r)
        for (int k = 0; k < 16; ++k) s.window.taps[16 * r + k] = D(r + 32 * k);
    for (int m = 0; m < 8; ++m) s.window.taps[256 + m] = -D(48 + 64 * m);
    BuildWindowLanes(s.window);
    s.polarityInverted = false;
    std::memset(s.ring, 0, sizeof(s.ring));
    s.pos[0] = s.pos[1] = 0;
    for (float& g : s.subbandGain) g = 0.0f;
    s.subbandEqEnabled = 0;
    s.outputMono = OutputMonoPortable;
    s.outputStereo = OutputStereoPortable;
    s.dct = DctPortable;
    s.dctInterleaved = nullptr;
}

void ResetSynthesisState(SynthesisState& s) {
    std::memset(s.ring, 0, sizeof(s.ring));
    s.pos[0] = s.pos[1] = 0;
}

void SetSynthesisPolarity(SynthesisState& s, bool inverted) {
    if (inverted == s.polarityInverted) return;
    for (float& w : s.window.taps) w = -w;
    BuildWindowLanes(s.window);
    s.polarityInverted = inverted;
}

void Dct32(const SynthesisState& s, const float* in, float* dst, DctForm form) {
    float x[32];
    switch (form) {
        case DctForm::Contiguous:
            if (!s.subbandEqEnabled) {
                s.dct(in, dst);
                return;
            }
            for (int k = 0; k < 32; ++k) x[k] = in[k] * s.subbandGain[k];
            break;
        case DctForm::Interleaved:
            if (s.subbandEqEnabled) {
                for (int k = 0; k < 32; ++k) x[k] = in[2 * k] * s.subbandGain[k];
            } else if (s.dctInterleaved) {
                s.dctInterleaved(in, dst);
                return;
            } else {
                for (int k = 0; k < 32; ++k) x[k] = in[2 * k];
            }
            break;
        case DctForm::Mix:
            for (int k = 0; k < 32; ++k) x[k] = (in[2 * k] + in[2 * k + 1]) * 0.5f;
            break;
    }
    s.dct(x, dst);
}

void DctPortable(const float* in, float* dst) {
    float x[32];
    std::memcpy(x, in, sizeof(x));
    DctStep<32>(x, kFactors.f);
    std::memcpy(dst, x, sizeof(x));
}

void OutputMonoPortable(const float* ring, int32_t pos, int16_t* pcm, const SynthWindow& window) {
    WindowBlock<1>(ring, pos, pcm, window.taps);
}

void OutputStereoPortable(const float* ring, int32_t pos, int16_t* pcm,
                          const SynthWindow& window) {
    WindowBlock<2>(ring, pos, pcm, window.taps);
}

void SynthL3Mono(SynthesisState& s, const float* hybridOut, int16_t* pcm) {
    float* ring = s.ring;
    for (int t = 0; t < 18; ++t) {
        const int32_t pos = s.pos[0];
        Dct32(s, hybridOut + 32 * t, ring + pos, DctForm::Contiguous);
        s.outputMono(ring, pos, pcm + 32 * t, s.window);
        s.pos[0] = NextPos(pos);
    }
}

void SynthL3Stereo(SynthesisState& s, const float* hybridOut, int16_t* pcm, int32_t channel) {
    const int32_t c = channel ? 1 : 0;
    float* ring = s.ring + 512 * c;
    for (int t = 0; t < 18; ++t) {
        const int32_t pos = s.pos[c];
        Dct32(s, hybridOut + 32 * t, ring + pos, DctForm::Contiguous);
        s.outputStereo(ring, pos, pcm + 64 * t + c, s.window);
        s.pos[c] = NextPos(pos);
    }
}

void SynthL12(SynthesisState& s, int32_t route, const float* samples, int16_t* pcm,
              int32_t slots) {
    float* ring0 = s.ring;
    float* ring1 = s.ring + 512;
    for (int32_t t = 0; t < slots; ++t, samples += 64) {
        const int32_t pos = s.pos[0];
        switch (route) {
            case 1:
                Dct32(s, samples, ring0 + pos, DctForm::Interleaved);
                Dct32(s, samples + 1, ring1 + pos, DctForm::Interleaved);
                s.outputStereo(ring0, pos, pcm, s.window);
                s.outputStereo(ring1, pos, pcm + 1, s.window);
                pcm += 64;
                break;
            case 2:
                Dct32(s, samples, ring0 + pos, DctForm::Mix);
                s.outputMono(ring0, pos, pcm, s.window);
                pcm += 32;
                break;
            case 3:
                Dct32(s, samples, ring0 + pos, DctForm::Interleaved);
                s.outputMono(ring0, pos, pcm, s.window);
                pcm += 32;
                break;
            case 4:
                Dct32(s, samples + 1, ring0 + pos, DctForm::Interleaved);
                s.outputMono(ring0, pos, pcm, s.window);
                pcm += 32;
                break;
            default:  // 0: one channel in the first 32 values
                Dct32(s, samples, ring0 + pos, DctForm::Contiguous);
                s.outputMono(ring0, pos, pcm, s.window);
                pcm += 32;
                break;
        }
        s.pos[0] = NextPos(pos);
    }
}

}  // namespace wl
