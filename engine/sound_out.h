// TSoundOut: plays 8- or 16-bit PCM through an output device (audio_device.h)
// with four buffers of 500 ms each. Full buffers are queued on the device;
// finished ones come back on the output thread, which also wakes a waiting
// producer and sends throttled progress notifications.
//
// 16-bit PCM passes an output stage on its way into the buffers: a gain
// (above 1 through the look-ahead limiter of engine/limiter.h, whose delay
// line Flush empties, Cut and Reset drop and Pause keeps) and a fade-in after
// a cut or a pause. Sound is never cut off abruptly: Cut and Pause play a
// short faded tail of what is playing before they drop (Cut) or hold back
// (Pause) the rest.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/audio_device.h"
#include "engine/limiter.h"
#include "io/errors.h"
#include "engine/threads.h"

namespace wl {

// The device's buffer-done message on the output thread.
inline constexpr uint32_t kMsgBufferDone = 0x3BD;

class TSoundOut : public TMPMessageOwner {
public:
    static constexpr int kBufferCount = 4;
    // Length of the fades at a cut, a pause and a resume.
    static constexpr int32_t kRampMs = 5;

    using DeviceFactory = std::function<std::unique_ptr<TAudioDevice>()>;
    using TNotifyEvent = std::function<void(TSoundOut* sender)>;
    using TOutputStateEvent = TAudioDevice::StateCallback;

    // The device is looked up by name when first needed (empty:
    // WAVELANTERN_AUDIO, else pulse) and serves every Open after (one
    // connection to a sound server for the output's life). A "wav:PATH"
    // device goes on writing the file of the opens before it (TWavFile).
    explicit TSoundOut(std::string deviceName = {});
    // The device comes from the factory at each Open.
    explicit TSoundOut(DeviceFactory factory);
    ~TSoundOut() override;
    TSoundOut(const TSoundOut&) = delete;
    TSoundOut& operator=(const TSoundOut&) = delete;

    void Open();
    void Close();
    // Copies as much as fits; returns the number of bytes taken.
    int32_t Write(const void* data, int32_t count);
    // Queues the current buffer with what it holds.
    void WaveWrite();
    bool CanWrite();
    int32_t FreePercent();
    // Queues a partly filled buffer, and what the limiter holds, and waits
    // until the output thread has handled everything before it.
    void Flush();
    // Until nothing is queued (or the output thread has ended).
    void WaitAllDone();
    // Drops everything queued at once, without a fade.
    void Reset();
    // Drops everything queued after a faded tail of kRampMs at the play
    // position (nothing to fade while paused, or when the device had played
    // nothing since it was reset); the next PCM written fades in.
    // Done bytes count from 0 again, the tail not included. Returns the
    // tail's length in bytes.
    int32_t Cut();
    // Fades out over kRampMs at the play position and lets the device run
    // dry; what was queued after the tail, and what is written while paused,
    // is kept back. Done bytes keep counting the tail.
    void Pause();
    // Queues what was kept back, fading in over kRampMs, and plays on.
    void Unpause();
    bool Paused() const { return paused_; }
    // The next PCM written fades in over kRampMs (sound that goes on after a
    // gap, e.g. a stream that ran dry).
    void FadeInNext();
    // Bytes played since the previous call (or Open, or Reset).
    int64_t GetDoneBytes();
    // The event to set as soon as a buffer has room; nullptr clears it.
    void SetWaiter(TMPEvent* event);

    // Level meter: per-channel peak magnitude (0..32768) of the PCM the device
    // is playing now, over the last 40 ms before its play position. 0 when
    // closed or when the device cannot tell its position.
    void GetPeaks(int32_t& left, int32_t& right);

    // The device's current volume as 0..100 (100 when it cannot be read).
    int32_t GetWaveVolume();
    // Left volume in the low 16 bits, right in the high 16 bits.
    static uint32_t DeviceVolume(int32_t volume, int32_t balance);

    bool Active() const { return active_.load(); }
    int32_t SampleRate() const { return sampleRate_; }
    void SetSampleRate(int32_t r) { if (r > 0) sampleRate_ = r; }
    int32_t Channels() const { return channels_; }
    void SetChannels(int32_t c) { if (c == 1 || c == 2) channels_ = c; }
    int32_t BitsPerSample() const { return bitsPerSample_; }
    void SetBitsPerSample(int32_t b) { if (b == 8 || b == 16) bitsPerSample_ = b; }
    int32_t Volume() const { return volume_; }
    void SetVolume(int32_t v);
    int32_t Balance() const { return balance_; }
    void SetBalance(int32_t b);
    const std::string& DeviceName() const { return deviceName_; }
    // Takes effect at the next Open (a new device); replaces a factory given
    // at creation.
    void SetDeviceName(std::string name);
    int32_t NotifyInterval() const { return notifyInterval_.load(); }
    void SetNotifyInterval(int32_t ms) { notifyInterval_.store(ms); }
    // Linear gain of the output stage for 16-bit PCM (ReplayGain, equalizer
    // headroom); applied to what is written from now on. 1 leaves the PCM
    // bit-identical, below 1 it is scaled and rounded, above 1 limited.
    void SetGain(double gain);
    double Gain() const { return gain_; }

    // Bytes per buffer for the current format.
    int32_t BufferSize() const;

    // Both run on the output thread; safe to change at any time.
    void SetOnProgress(TNotifyEvent handler);
    void SetOnError(TMPErrorEvent handler);
    // The device's connection news (TAudioDevice::SetOnState), on a thread
    // of the device's; the handler must not call into this object.
    void SetOnOutputState(TOutputStateEvent handler);

    TMPLoopThread& OutputThread() { return thread_; }
    void Dispatch(TMessage& message) override;

private:
    void Init();
    TAudioDevice* Device();
    TPcmFormat Format() const;
    void Check(int code, const char* context);
    void SetVolumeToWaveDevice();
    void WakeWaiter();
    void Notify();
    void BufferDone(TOutputBuffer* buffer);
    void FreeBuffers();
    void RecordHistory(const uint8_t* data, uint32_t count);
    void Submit(int32_t index);
    void ProcessFill(bool drain = false);
    int32_t Occupied() const;
    void FadeIn(uint8_t* data, int32_t bytes);
    int32_t CopyFrom(uint64_t position, uint8_t* out, int32_t count, uint32_t queued);
    uint32_t QueuedMask() const;
    int32_t QueueTail(uint64_t length);
    uint64_t DropQueued(bool keepFill, const char* context);
    void UpdateAllDone();
    int32_t RampFrames() const;

    int32_t sampleRate_ = 44100;
    int32_t channels_ = 2;
    int32_t bitsPerSample_ = 16;
    std::atomic<bool> active_{false};
    int32_t volume_ = 100;
    std::atomic<int32_t> notifyInterval_{-1};
    std::atomic<int64_t> lastNotify_{0};
    int32_t balance_ = 0;
    bool paused_ = false;         // Pause called (what is written is held back)
    double gain_ = 1.0;

    std::string deviceName_;
    DeviceFactory factory_;
    std::shared_ptr<TWavFile> wavFile_;  // what a "wav:PATH" device writes, across opens
    std::unique_ptr<TAudioDevice> device_;
    bool deviceStale_ = false;  // the name changed while open: a new device at the next Open
    std::string deviceResolved_;  // the name (or environment) the device was made for

    std::array<TOutputBuffer, kBufferCount> buffers_;
    std::array<std::unique_ptr<uint8_t[]>, kBufferCount> storage_;
    int32_t currentIndex_ = 0;  // under bufferLock_
    int32_t fill_ = 0;          // under bufferLock_
    int32_t bufferSize_ = 0;    // under bufferLock_ (set by Open)
    std::atomic<int32_t> queued_{0};  // on the device or held back
    int64_t lastDevicePosition_ = 0;  // in done bytes
    // Done bytes = device position + doneShift_ (at least 0).
    int64_t doneShift_ = 0;

    // Output stage state, under bufferLock_.
    std::array<uint64_t, kBufferCount> starts_{};  // device position of each buffer's first byte
    uint64_t submitted_ = 0;  // bytes handed to the device since Open or its last reset
    int32_t processed_ = 0;   // bytes of the current buffer through the output stage
    TLimiter limiter_;        // gain and limiter of 16-bit PCM
    int32_t rampDone_ = -1;   // frames of a running fade-in; -1 = none
    int32_t heldFirst_ = 0;   // first of heldCount_ full buffers kept back while paused
    int32_t heldCount_ = 0;
    std::atomic<bool> tailQueued_{false};
    TOutputBuffer tail_;
    std::unique_ptr<uint8_t[]> tailData_;
    std::unique_ptr<uint8_t[]> scratch_;  // what a pause keeps back, while it is rearranged

    TMPSimpleMutex bufferLock_;
    TMPSimpleMutex waiterLock_;
    TMPEvent* waiter_ = nullptr;  // under waiterLock_
    TMPSimpleEvent allDone_;

    std::mutex callbackMutex_;
    TNotifyEvent onProgress_;
    TMPErrorEvent onError_;
    TOutputStateEvent onOutputState_;

    // The most recent PCM handed to the device, indexed by device position.
    std::mutex historyMutex_;
    std::vector<uint8_t> history_;
    uint64_t historyWritten_ = 0;
    TPcmFormat historyFormat_;

    TMPLoopThread thread_{this};
};

}  // namespace wl
