#include "engine/limiter.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace wl {

namespace {

// A release closer than this to its target ends there (the moving average
// spreads the last step over the look-ahead).
constexpr double kReleaseSnap = 1e-4;

int16_t Round16(double v) {
    const long r = std::lrint(v);
    return static_cast<int16_t>(std::clamp<long>(r, -32768, 32767));
}

}  // namespace

void TLimiter::Configure(int32_t sampleRate, int32_t channels) {
    channels_ = channels == 1 ? 1 : 2;
    window_ = std::max(1, (std::max(sampleRate, 1) * kLookAheadMs + 500) / 1000);
    releaseCoef_ = std::exp(-1000.0 / (double(std::max(sampleRate, 1)) * kReleaseMs));
    glideFrames_ = std::max(1, std::max(sampleRate, 1) * kGlideMs / 1000);
    holdWindow_ = std::max(window_, (std::max(sampleRate, 1) * kHoldMs + 500) / 1000);
    hold_.assign(static_cast<size_t>(holdWindow_), THeld{0, 1.0});
    reductions_.assign(static_cast<size_t>(window_), 0.0);
    delay_.assign(static_cast<size_t>(window_) * static_cast<size_t>(channels_), 0.0);
    Reset();
}

void TLimiter::Reset() {
    gain_ = target_ = 1.0;
    glideStep_ = 0;
    fresh_ = true;
    holdFirst_ = holdCount_ = 0;
    frame_ = 0;
    envelope_ = 1.0;
    std::fill(reductions_.begin(), reductions_.end(), 0.0);
    reductionAt_ = 0;
    reductionSum_ = 0;
    reducing_ = 0;
    delayFirst_ = delayed_ = 0;
}

double TLimiter::Advance(double required) {
    ++frame_;
    // The smallest required gain of the last holdWindow_ frames.
    while (holdCount_ > 0 && hold_[static_cast<size_t>(holdFirst_)].frame + static_cast<uint64_t>(holdWindow_) <= frame_) {
        holdFirst_ = (holdFirst_ + 1) % holdWindow_;
        --holdCount_;
    }
    if (required < 1.0) {
        while (holdCount_ > 0 && hold_[static_cast<size_t>((holdFirst_ + holdCount_ - 1) % holdWindow_)].gain >= required)
            --holdCount_;
        hold_[static_cast<size_t>((holdFirst_ + holdCount_) % holdWindow_)] = {frame_, required};
        ++holdCount_;
    }
    const double held = holdCount_ > 0 ? hold_[static_cast<size_t>(holdFirst_)].gain : 1.0;
    // Down at once, up exponentially.
    if (held <= envelope_) {
        envelope_ = held;
    } else {
        envelope_ = held - (held - envelope_) * releaseCoef_;
        if (held - envelope_ < kReleaseSnap) envelope_ = held;
    }
    // The moving average over the window: each of its values is at most the
    // gain required by the frame leaving the delay line now.
    const double reduction = 1.0 - envelope_;
    double& slot = reductions_[static_cast<size_t>(reductionAt_)];
    reducing_ += (reduction > 0 ? 1 : 0) - (slot > 0 ? 1 : 0);
    reductionSum_ += reduction - slot;
    slot = reduction;
    reductionAt_ = (reductionAt_ + 1) % window_;
    if (reducing_ == 0) {
        reductionSum_ = 0;
        return 1.0;
    }
    // Summed afresh once per window, so that rounding cannot pile up.
    if (reductionAt_ == 0) reductionSum_ = std::accumulate(reductions_.begin(), reductions_.end(), 0.0);
    return std::clamp(1.0 - reductionSum_ / window_, 0.0, 1.0);
}

void TLimiter::Emit(double g, int16_t* out) {
    const double* y = &delay_[static_cast<size_t>(delayFirst_ * channels_)];
    for (int32_t c = 0; c < channels_; ++c) out[c] = Round16(g * y[c]);
    delayFirst_ = (delayFirst_ + 1) % window_;
    --delayed_;
}

int32_t TLimiter::Process(int16_t* pcm, int32_t frames, double gain) {
    if (fresh_) {
        gain_ = target_ = gain;
        fresh_ = false;
    } else if (gain != target_) {
        target_ = gain;
        glideStep_ = (target_ - gain_) / glideFrames_;
    }
    if (delayed_ == 0 && gain_ <= 1.0 && Idle()) {
        if (gain_ != 1.0)
            for (int32_t i = 0; i < frames * channels_; ++i) pcm[i] = Round16(gain_ * pcm[i]);
        return frames;
    }
    int32_t out = 0;
    for (int32_t f = 0; f < frames; ++f) {
        // Read before anything is written: the output trails the input.
        double* y = &delay_[static_cast<size_t>((delayFirst_ + delayed_) % window_ * channels_)];
        double peak = 0;
        for (int32_t c = 0; c < channels_; ++c) {
            y[c] = gain_ * pcm[f * channels_ + c];
            peak = std::max(peak, std::fabs(y[c]));
        }
        ++delayed_;
        const double g = Advance(gain_ > 1.0 && peak > kCeiling ? kCeiling / peak : 1.0);
        if (delayed_ > MaxDelay()) Emit(g, pcm + out++ * channels_);
        if (gain_ != target_) {
            gain_ += glideStep_;
            if ((glideStep_ > 0) == (gain_ >= target_)) gain_ = target_;
        }
    }
    if (gain_ <= 1.0 && Idle()) out += Drain(pcm + out * channels_);
    return out;
}

int32_t TLimiter::Drain(int16_t* out) {
    if (delayed_ == 0) return 0;
    // Silence follows; the frame leaving at each step stays the one that
    // came in a look-ahead before.
    for (int32_t i = delayed_; i < MaxDelay(); ++i) Advance(1.0);
    int32_t n = 0;
    while (delayed_ > 0) Emit(Advance(1.0), out + n++ * channels_);
    return n;
}

}  // namespace wl
