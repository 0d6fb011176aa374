#include "engine/audio_device_null.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace wl {

namespace {

double SpeedFromEnvironment() {
    const char* env = std::getenv("WAVELANTERN_NULL_SPEED");
    if (!env || !*env) return 1.0;
    char* end = nullptr;
    const double v = std::strtod(env, &end);
    if (end == env || !std::isfinite(v) || v <= 0) return 1.0;
    return std::clamp(v, 0.001, 10000.0);
}

bool FormatSupported(const TPcmFormat& f) {
    return f.SampleRate > 0 && f.SampleRate <= 1000000 && (f.Channels == 1 || f.Channels == 2) &&
           (f.BitsPerSample == 8 || f.BitsPerSample == 16);
}

std::chrono::milliseconds LatencyFromEnvironment() {
    const char* env = std::getenv("WAVELANTERN_NULL_LATENCY_MS");
    const long ms = env ? std::strtol(env, nullptr, 10) : 0;
    return std::chrono::milliseconds(std::clamp<long>(ms, 0, 10'000));
}

}  // namespace

TNullAudioDevice::TNullAudioDevice(double speed)
    : speed_(speed > 0 ? speed : SpeedFromEnvironment()), latency_(LatencyFromEnvironment()) {}

TNullAudioDevice::~TNullAudioDevice() { Shutdown(); }

void TNullAudioDevice::Shutdown() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!open_) return;
    StopThread(lock);
    for (Entry& e : queue_) e.buffer->Queued = false;
    queue_.clear();
    OnClose();
    open_ = false;
}

bool TNullAudioDevice::IsOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

int TNullAudioDevice::Open(const TPcmFormat& format, DoneCallback onDone) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (open_) return Fail(kOutputAlreadyOpen, {});
    if (!FormatSupported(format)) return Fail(kOutputBadFormat, {});
    if (int rc = OnOpen(format, static_cast<bool>(onDone))) return rc;
    format_ = format;
    onDone_ = std::move(onDone);
    bytesPerSecond_ = static_cast<double>(format.AvgBytesPerSec()) * speed_;
    queue_.clear();
    played_ = queuedEnd_ = 0;
    paused_ = false;
    stop_ = false;
    mark_ = Clock::now();
    open_ = true;
    thread_ = std::thread([this] { ClockThread(); });
    return Succeed();
}

void TNullAudioDevice::StopThread(std::unique_lock<std::mutex>& lock) {
    stop_ = true;
    cv_.notify_all();
    lock.unlock();
    if (thread_.joinable()) thread_.join();
    lock.lock();
}

int TNullAudioDevice::Close() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!open_) return Fail(kOutputNotOpen, {});
    if (!queue_.empty()) return Fail(kOutputStillPlaying, {});
    StopThread(lock);
    OnClose();
    open_ = false;
    onDone_ = nullptr;
    return Succeed();
}

uint64_t TNullAudioDevice::PositionAt(Clock::time_point now) const {
    if (paused_ || played_ >= queuedEnd_) return played_;
    const double seconds = std::chrono::duration<double>(now - mark_).count();
    const uint64_t advance = static_cast<uint64_t>(std::max(0.0, seconds) * bytesPerSecond_);
    uint64_t pos = std::min(played_ + advance, queuedEnd_);
    const uint64_t align = static_cast<uint64_t>(format_.BlockAlign());
    if (pos < queuedEnd_ && align > 1) pos -= pos % align;
    return pos;
}

void TNullAudioDevice::Advance(Clock::time_point now) {
    played_ = PositionAt(now);
    mark_ = std::max(mark_, now);  // a start still ahead (the latency) stays ahead
}

int TNullAudioDevice::Write(TOutputBuffer* buffer) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return Fail(kOutputNotOpen, {});
    if (!buffer || !buffer->Data || buffer->Length > buffer->BufferLength)
        return Fail(kOutputInvalidParam, {});
    if (!buffer->Prepared) return Fail(kOutputUnprepared, {});
    if (buffer->Queued) return Fail(kOutputStillPlaying, {});
    if (!onDone_) return Fail(kOutputNotSupported, "the sound output device was opened without a callback");
    if (int rc = OnData(buffer->Data, buffer->Length)) return rc;
    const Clock::time_point now = Clock::now();
    Advance(now);
    if (played_ >= queuedEnd_ && !paused_) mark_ = now + latency_;  // drained: sound starts after the latency
    queuedEnd_ += buffer->Length;
    buffer->Queued = true;
    queue_.push_back(Entry{buffer, queuedEnd_});
    cv_.notify_all();
    return Succeed();
}

int TNullAudioDevice::Pause() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return Fail(kOutputNotOpen, {});
    Advance(Clock::now());
    paused_ = true;
    cv_.notify_all();
    return Succeed();
}

int TNullAudioDevice::Restart() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return Fail(kOutputNotOpen, {});
    Advance(Clock::now());
    paused_ = false;
    cv_.notify_all();
    return Succeed();
}

int TNullAudioDevice::Reset() {
    uint64_t end;
    return ResetAt(end);
}

int TNullAudioDevice::ResetAt(uint64_t& end) {
    std::vector<TOutputBuffer*> returned;
    DoneCallback onDone;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!open_) return Fail(kOutputNotOpen, {});
        for (Entry& e : queue_) {
            e.buffer->Queued = false;
            returned.push_back(e.buffer);
        }
        queue_.clear();
        end = PositionAt(Clock::now());
        OnReset(end);
        played_ = queuedEnd_ = 0;
        mark_ = Clock::now();
        onDone = onDone_;
        cv_.notify_all();
    }
    for (TOutputBuffer* b : returned)
        if (onDone) onDone(b);
    return Succeed();
}

int TNullAudioDevice::GetPosition(uint64_t& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return Fail(kOutputNotOpen, {});
    bytes = PositionAt(Clock::now());
    return Succeed();
}

int TNullAudioDevice::SetVolume(uint32_t volume) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return Fail(kOutputNotOpen, {});
    volume_ = volume;
    return Succeed();
}

int TNullAudioDevice::GetVolume(uint32_t& volume) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return Fail(kOutputNotOpen, {});
    volume = volume_;
    return Succeed();
}

// Returns each buffer as soon as the clock has passed its end.
void TNullAudioDevice::ClockThread() {
    std::unique_lock<std::mutex> lock(mutex_);
    std::vector<TOutputBuffer*> done;
    while (!stop_) {
        const auto now = Clock::now();
        const uint64_t pos = PositionAt(now);
        while (!queue_.empty() && queue_.front().end <= pos) {
            queue_.front().buffer->Queued = false;
            done.push_back(queue_.front().buffer);
            queue_.pop_front();
        }
        if (!done.empty()) {
            DoneCallback onDone = onDone_;
            lock.unlock();
            for (TOutputBuffer* b : done)
                if (onDone) onDone(b);
            done.clear();
            lock.lock();
            continue;
        }
        if (queue_.empty() || paused_) {
            cv_.wait(lock);
        } else {
            const double seconds = static_cast<double>(queue_.front().end - pos) / bytesPerSecond_;
            const auto wait = std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(seconds)) +
                              std::chrono::microseconds(200);
            cv_.wait_until(lock, now + wait);
        }
    }
}

std::unique_ptr<TAudioDevice> CreateNullAudioDevice(double speed) {
    return std::make_unique<TNullAudioDevice>(speed);
}

}  // namespace wl
