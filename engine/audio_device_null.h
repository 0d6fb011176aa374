// The null device plays on a real-time clock without sound; the WAV device
// is a null device that also writes every byte it is given to a file.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <thread>

#include "engine/audio_device.h"

namespace wl {

class TNullAudioDevice : public TAudioDevice {
public:
    explicit TNullAudioDevice(double speed);
    ~TNullAudioDevice() override;

    int Open(const TPcmFormat& format, DoneCallback onDone) override;
    int Close() override;
    bool IsOpen() const override;
    int Write(TOutputBuffer* buffer) override;
    int Pause() override;
    int Restart() override;
    int Reset() override;
    int ResetAt(uint64_t& end) override;
    int GetPosition(uint64_t& bytes) override;
    int SetVolume(uint32_t volume) override;
    int GetVolume(uint32_t& volume) override;
    std::string Name() const override { return "null"; }

    double Speed() const { return speed_; }

protected:
    // Hooks for the WAV device, called under the device lock. A non-zero
    // result fails the call.
    // forPlayback is false for an open that only queries the volume.
    virtual int OnOpen(const TPcmFormat&, bool /*forPlayback*/) { return kOutputOk; }
    virtual int OnData(const uint8_t*, size_t) { return kOutputOk; }
    virtual void OnClose() {}
    // The device is reset after `played` bytes since Open or the last reset
    // had played; what was queued after them never sounds.
    virtual void OnReset(uint64_t /*played*/) {}
    // Stops the clock and closes without returning buffers (destruction).
    void Shutdown();

private:
    using Clock = std::chrono::steady_clock;
    struct Entry {
        TOutputBuffer* buffer;
        uint64_t end;  // position at which it has been played
    };

    uint64_t PositionAt(Clock::time_point now) const;
    void Advance(Clock::time_point now);
    void ClockThread();
    void StopThread(std::unique_lock<std::mutex>& lock);

    const double speed_;
    // Sound starts this long after it is queued to a drained device (the
    // latency of a real one; WAVELANTERN_NULL_LATENCY_MS, 0 by default).
    const std::chrono::milliseconds latency_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::thread thread_;
    bool open_ = false;
    bool stop_ = false;
    bool paused_ = false;
    DoneCallback onDone_;
    TPcmFormat format_;
    double bytesPerSecond_ = 0;
    std::deque<Entry> queue_;
    uint64_t played_ = 0;     // position at mark_
    uint64_t queuedEnd_ = 0;  // position at which everything queued has played
    Clock::time_point mark_;
    uint32_t volume_ = 0xFFFFFFFFu;
};

class TWavFile {
public:
    explicit TWavFile(std::string path) : path_(std::move(path)) {}
    ~TWavFile();
    TWavFile(const TWavFile&) = delete;
    TWavFile& operator=(const TWavFile&) = delete;

    const std::string& Path() const { return path_; }
    // Before a device writes in `format`: creates the file the first time,
    // else goes on after its data. A result code and `detail` on failure.
    int Begin(const TPcmFormat& format, std::string& detail);
    int Append(const uint8_t* data, size_t count, std::string& detail);
    // Drops the data after `bytes`.
    void CutTo(uint64_t bytes);
    uint64_t DataBytes() const { return dataBytes_; }
    // Writes the header's sizes: the file is complete as it stands.
    void Finish();

private:
    std::string path_;
    std::FILE* file_ = nullptr;
    TPcmFormat format_;
    uint64_t dataBytes_ = 0;
};

class TWavAudioDevice final : public TNullAudioDevice {
public:
    TWavAudioDevice(std::shared_ptr<TWavFile> file, double speed);
    ~TWavAudioDevice() override;
    std::string Name() const override { return "wav:" + file_->Path(); }

protected:
    int OnOpen(const TPcmFormat& format, bool forPlayback) override;
    int OnData(const uint8_t* data, size_t count) override;
    void OnClose() override;
    void OnReset(uint64_t played) override;

private:
    std::shared_ptr<TWavFile> file_;
    bool writing_ = false;     // opened for playback
    uint64_t epochStart_ = 0;  // data bytes before the device's last open or reset
};

}  // namespace wl
