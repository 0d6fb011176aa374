// TLimiter: the gain of the output stage for interleaved 16-bit PCM, with a
// look-ahead peak limiter for gains above 1.
//
// A gain of 1 or less only scales and rounds (at 1 the PCM passes
// unchanged), without delay. Above 1, and until a reduction has died away,
// every frame passes a delay line of kLookAheadMs: the gain each frame needs
// to stay at or below kCeiling (both channels linked) is held for kHoldMs
// (longer than the look-ahead, so that it bridges the peaks of a low tone),
// released exponentially (kReleaseMs) and smoothed by a moving average over
// the look-ahead. So a reduction is complete when its peak leaves the delay
// line, and the gain moves by small steps only. Once the gain is back at 1
// or less and nothing is reduced any more, the delayed frames go out and the
// delay ends. A new gain glides in over kGlideMs, except with the first
// frames after Configure or Reset (a fade-in follows those anyway).
//
// Frames are never added or dropped: what is held in the delay line comes
// out later (Process, Drain) or is dropped on purpose (Reset).
#pragma once

#include <cstdint>
#include <vector>

namespace wl {

class TLimiter {
public:
    static constexpr int32_t kLookAheadMs = 3;
    static constexpr int32_t kReleaseMs = 100;
    static constexpr int32_t kGlideMs = 5;
    static constexpr int32_t kHoldMs = 10;
    // Peaks are held at or below this magnitude (-0.1 dBFS).
    static constexpr double kCeiling = 32392.0;

    TLimiter() { Configure(44100, 2); }

    // Sets the format and drops all state. Allocates: call it before the
    // frames start flowing.
    void Configure(int32_t sampleRate, int32_t channels);
    // Drops the delayed frames and any reduction; the next gain applies at once.
    void Reset();

    // Runs `frames` frames at `pcm` through `gain` and the limiter, in place.
    // Returns how many frames it wrote at `pcm`: fewer than given while the
    // delay line fills, up to MaxDelay() more when it empties, so `pcm` needs
    // room for frames + Delayed() frames.
    int32_t Process(int16_t* pcm, int32_t frames, double gain);
    // Writes the delayed frames at `out` (room for Delayed() frames), limited
    // as if silence followed; returns their number.
    int32_t Drain(int16_t* out);

    // Frames held in the delay line.
    int32_t Delayed() const { return delayed_; }
    // The longest the delay line gets (the look-ahead less one frame).
    int32_t MaxDelay() const { return window_ - 1; }
    // No gain glide or reduction under way or held: at a gain of 1 or less
    // the next frames come out as they are scaled.
    bool Idle() const { return gain_ == target_ && holdCount_ == 0 && envelope_ == 1.0 && reducing_ == 0; }

private:
    // One frame's time step of the gain computation, for a frame needing
    // `required`; returns the gain for the frame leaving the delay line.
    double Advance(double required);
    // The oldest delayed frame at `out`, times `g`.
    void Emit(double g, int16_t* out);

    int32_t channels_ = 2;
    int32_t window_ = 1;      // look-ahead in frames
    int32_t holdWindow_ = 1;  // hold in frames
    double releaseCoef_ = 0;
    int32_t glideFrames_ = 1;

    double gain_ = 1.0;    // applied to the frame coming in now
    double target_ = 1.0;  // where a glide goes
    double glideStep_ = 0;
    bool fresh_ = true;    // no frame since Configure or Reset

    // Held required gains below 1: a sliding minimum over the hold, as a
    // ring of (frame number, gain) pairs rising from front to back.
    struct THeld {
        uint64_t frame;
        double gain;
    };
    std::vector<THeld> hold_;
    int32_t holdFirst_ = 0;
    int32_t holdCount_ = 0;
    uint64_t frame_ = 0;

    double envelope_ = 1.0;  // the held gain after release
    // The last window_ reductions (1 - envelope) and their sum; reducing_
    // counts those above 0, so that the sum is exactly 0 when they all are.
    std::vector<double> reductions_;
    int32_t reductionAt_ = 0;
    double reductionSum_ = 0;
    int32_t reducing_ = 0;

    // Delayed frames, already scaled by the gain they came in with.
    std::vector<double> delay_;
    int32_t delayFirst_ = 0;
    int32_t delayed_ = 0;
};

}  // namespace wl
