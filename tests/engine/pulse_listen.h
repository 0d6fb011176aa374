// What a private sound server plays, recorded from its null sink's monitor
// with the time each sample was heard, and a CPU hog for the second core.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace wl::test {

// Records the default sink's monitor (16-bit stereo, 44100 Hz) through parec
// while it lives. The server is the one PULSE_SERVER names.
class MonitorRecorder {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int32_t kRate = 44100;

    MonitorRecorder();
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    bool ok() const { return pid_ > 0; }
    // Waits until samples arrive (the recording has started).
    bool WaitForData(std::chrono::milliseconds limit);
    // Stops recording; the samples stay.
    void Stop();

    // Interleaved left/right samples recorded so far.
    std::vector<int16_t> Samples();
    // When stereo frame i was heard (arrival time less what came after it).
    Clock::time_point TimeOf(size_t frame);
    // The first stereo frame heard at or after t.
    size_t FrameAt(Clock::time_point t);

private:
    void Run();

    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<int16_t> samples_;
    // (frames recorded, arrival time) after each read.
    std::vector<std::pair<size_t, Clock::time_point>> arrivals_;
};

// Keeps one core busy (a `yes` writing to /dev/null) while it lives.
class CpuHog {
public:
    CpuHog();
    ~CpuHog();
    CpuHog(const CpuHog&) = delete;
    CpuHog& operator=(const CpuHog&) = delete;
    bool ok() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// Root mean square of stereo frames [first, first + count).
double Rms(const std::vector<int16_t>& s, size_t first, size_t count);
// Largest difference between neighbouring samples of one channel over the
// stereo frames [first, last).
int32_t MaxJump(const std::vector<int16_t>& s, size_t first, size_t last);
int32_t Peak(const std::vector<int16_t>& s, size_t first, size_t last);

}  // namespace wl::test
