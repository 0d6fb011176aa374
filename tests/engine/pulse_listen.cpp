#include "tests/engine/pulse_listen.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "tests/wait_until.h"

namespace wl::test {

MonitorRecorder::MonitorRecorder() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) ::dup2(null, 2);
        ::execlp("parec", "parec", "-d", "@DEFAULT_MONITOR@", "--raw", "--format=s16le", "--rate=44100",
                 "--channels=2", "--latency-msec=5", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid_ < 0) {
        ::close(fds[0]);
        return;
    }
    fd_ = fds[0];
    thread_ = std::thread([this] { Run(); });
}

MonitorRecorder::~MonitorRecorder() { Stop(); }

void MonitorRecorder::Run() {
    int16_t chunk[441 * 2];  // 10 ms
    size_t bytes = 0;
    auto* raw = reinterpret_cast<uint8_t*>(chunk);
    for (;;) {
        const ssize_t n = ::read(fd_, raw + bytes, sizeof chunk - bytes);
        if (n <= 0) break;
        bytes += static_cast<size_t>(n);
        const size_t whole = bytes / 4 * 4;
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex_);
        samples_.insert(samples_.end(), chunk, chunk + whole / 2);
        arrivals_.emplace_back(samples_.size() / 2, now);
        std::copy(raw + whole, raw + bytes, raw);
        bytes -= whole;
    }
}

bool MonitorRecorder::WaitForData(std::chrono::milliseconds limit) {
    return WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return samples_.size() > 2 * 4410;
        },
        limit);
}

void MonitorRecorder::Stop() {
    if (pid_ <= 0) return;
    // The reader sees the end of the pipe once parec has gone.
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
    fd_ = -1;
}

std::vector<int16_t> MonitorRecorder::Samples() {
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_;
}

MonitorRecorder::Clock::time_point MonitorRecorder::TimeOf(size_t frame) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [count, at] : arrivals_) {
        if (count > frame)
            return at - std::chrono::microseconds(static_cast<int64_t>((count - frame) * 1000000 / kRate));
    }
    return arrivals_.empty() ? Clock::now() : arrivals_.back().second;
}

size_t MonitorRecorder::FrameAt(Clock::time_point t) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [count, at] : arrivals_) {
        if (at >= t) {
            const auto ahead = std::chrono::duration_cast<std::chrono::microseconds>(at - t).count();
            const size_t back = static_cast<size_t>(ahead * kRate / 1000000);
            return count > back ? count - back : 0;
        }
    }
    return arrivals_.empty() ? 0 : arrivals_.back().first;
}

CpuHog::CpuHog() {
    pid_ = ::fork();
    if (pid_ == 0) {
        const int fd = ::open("/dev/null", O_WRONLY);
        if (fd >= 0) ::dup2(fd, 1);
        ::execlp("yes", "yes", static_cast<char*>(nullptr));
        ::_exit(127);
    }
}

CpuHog::~CpuHog() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
}

double Rms(const std::vector<int16_t>& s, size_t first, size_t count) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = 2 * first; i < std::min(s.size(), 2 * (first + count)); ++i, ++n) sum += double(s[i]) * s[i];
    return n ? std::sqrt(sum / static_cast<double>(n)) : 0;
}

int32_t MaxJump(const std::vector<int16_t>& s, size_t first, size_t last) {
    int32_t jump = 0;
    for (size_t i = 2 * first + 2; i < std::min(s.size(), 2 * last); ++i)
        jump = std::max(jump, std::abs(int32_t{s[i]} - s[i - 2]));
    return jump;
}

int32_t Peak(const std::vector<int16_t>& s, size_t first, size_t last) {
    int32_t peak = 0;
    for (size_t i = 2 * first; i < std::min(s.size(), 2 * last); ++i) peak = std::max(peak, std::abs(int32_t{s[i]}));
    return peak;
}

}  // namespace wl::test
