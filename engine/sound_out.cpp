#include "engine/sound_out.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace wl {

namespace {

int64_t TickCount() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::string FormatError(const std::string& text, const char* context) {
    // "%s(%s)": the device's text followed by the failing operation.
    return text + "(" + context + ")";
}

constexpr int32_t kMeterWindowMs = 40;

}  // namespace

TSoundOut::TSoundOut(std::string deviceName) : deviceName_(std::move(deviceName)) { Init(); }

TSoundOut::TSoundOut(DeviceFactory factory) : factory_(std::move(factory)) { Init(); }

void TSoundOut::Init() {
    volume_ = GetWaveVolume();
    thread_.OnError = [this](void* sender, const std::exception& error, bool& handled) {
        TMPErrorEvent handler;
        {
            std::lock_guard<std::mutex> lock(callbackMutex_);
            handler = onError_;
        }
        if (handler) handler(sender, error, handled);
    };
    thread_.Start();
}

TSoundOut::~TSoundOut() {
    try {
        Close();
    } catch (const std::exception&) {
        // Nothing to report to from a destructor; the device is released below.
    }
    thread_.Terminate();
    device_.reset();
}

void TSoundOut::SetDeviceName(std::string name) {
    deviceName_ = std::move(name);
    factory_ = nullptr;
}

void TSoundOut::SetOnProgress(TNotifyEvent handler) {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    onProgress_ = std::move(handler);
}

void TSoundOut::SetOnError(TMPErrorEvent handler) {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    onError_ = std::move(handler);
}

TWaveFormat TSoundOut::Format() const {
    TWaveFormat f;
    f.SampleRate = sampleRate_;
    f.Channels = channels_;
    f.BitsPerSample = bitsPerSample_;
    return f;
}

int32_t TSoundOut::BufferSize() const {
    // Four buffers make two seconds; rounded up to a multiple of 4.
    int64_t size = static_cast<int64_t>(channels_) * (bitsPerSample_ / 8) * sampleRate_ * 2000 / 1000 / kBufferCount;
    size = (size + 3) / 4 * 4;
    return static_cast<int32_t>(size);
}

void TSoundOut::Check(int code, const char* context) {
    if (code == kWaveNoError) return;
    std::string text = device_ ? device_->ErrorText(code) : std::string();
    if (text.empty()) text = "unknown wave out API error.";
    throw EMP3Error(FormatError(text, context));
}

uint32_t TSoundOut::DeviceVolume(int32_t volume, int32_t balance) {
    const int64_t v = (static_cast<int64_t>(volume) * 65535 + 50) / 100;
    int64_t left = v, right = v;
    if (balance >= -100 && balance <= -1) right = ((balance + 100) * v + 50) / 100;
    if (balance >= 1 && balance <= 100) left = ((100 - balance) * v + 50) / 100;
    return static_cast<uint32_t>(left & 0xFFFF) | (static_cast<uint32_t>(right & 0xFFFF) << 16);
}

void TSoundOut::SetVolumeToWaveDevice() {
    const int rc = device_->SetVolume(DeviceVolume(volume_, balance_));
    if (rc == kWaveNotSupported) return;
    Check(rc, "TSoundOut.SetVolumeToWaveDevice");
}

void TSoundOut::SetVolume(int32_t v) {
    if (v < 0 || v > 100) return;
    volume_ = v;
    if (Active() && device_ && device_->IsOpen()) SetVolumeToWaveDevice();
}

void TSoundOut::SetBalance(int32_t b) {
    if (b < -100 || b > 100) return;
    balance_ = b;
    if (Active() && device_ && device_->IsOpen()) SetVolumeToWaveDevice();
}

int32_t TSoundOut::GetWaveVolume() {
    try {
        std::unique_ptr<TAudioDevice> dev = factory_ ? factory_() : CreateAudioDevice(deviceName_);
        if (!dev) return 100;
        uint32_t packed = 0;
        if (dev->Open(Format(), nullptr) == kWaveNoError) {
            const int rc = dev->GetVolume(packed);
            dev->Close();
            if (rc != kWaveNoError) return 100;
        } else {
            // No device at all, or one that cannot be read without opening it.
            if (dev->DeviceCount() == 0) return 100;
            if (dev->GetVolume(packed) != kWaveNoError) return 100;
        }
        const uint32_t v = std::max(packed & 0xFFFF, packed >> 16);
        return static_cast<int32_t>((static_cast<uint64_t>(v) * 100 + 32767) / 65535);
    } catch (const std::exception&) {
        return 100;
    }
}

void TSoundOut::Open() {
    if (Active()) return;
    active_.store(true);
    lastDevicePosition_ = 0;
    paused_ = false;
    // Nothing is queued yet: a failure below can close without waiting.
    {
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        currentIndex_ = 0;
        fill_ = 0;
        bufferSize_ = BufferSize();
        queued_.store(0);
        allDone_.SetEvent();
    }
    try {
        device_ = factory_ ? factory_() : CreateAudioDevice(deviceName_);
        if (!device_) throw EMP3Error(FormatError("no sound output device", "TSoundOut.Open:WaveOutOpen"));
        Check(device_->Open(Format(),
                            [this](TWaveBuffer* b) {
                                thread_.PostToThread(MM_WOM_DONE, reinterpret_cast<uintptr_t>(b), 0);
                            }),
              "TSoundOut.Open:WaveOutOpen");
        SetVolumeToWaveDevice();
        const int32_t size = BufferSize();
        for (int i = 0; i < kBufferCount; ++i) {
            buffers_[i] = std::make_unique<uint8_t[]>(static_cast<size_t>(size));
            TWaveBuffer& h = headers_[i];
            h.Data = buffers_[i].get();
            h.BufferLength = static_cast<uint32_t>(size);
            h.Length = static_cast<uint32_t>(size);
            h.Prepared = false;
            h.Queued = false;
            h.User = nullptr;
            Check(device_->Prepare(&h), "TSoundOut.Open:WaveOutPreperHeader");
        }
        {
            std::lock_guard<std::mutex> lock(historyMutex_);
            historyFormat_ = Format();
            const size_t window = static_cast<size_t>(historyFormat_.AvgBytesPerSec()) * kMeterWindowMs / 1000;
            history_.assign(static_cast<size_t>(size) * (kBufferCount + 1) + window + 8, 0);
            historyWritten_ = 0;
        }
        thread_.SetTimeout(notifyInterval_.load());
        {
            std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
            currentIndex_ = 0;
            fill_ = 0;
            queued_.store(0);
        }
        lastNotify_.store(TickCount());
        allDone_.SetEvent();
    } catch (...) {
        try {
            Close();
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
}

void TSoundOut::FreeBuffers() {
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    for (int i = 0; i < kBufferCount; ++i) {
        buffers_[i].reset();
        headers_[i].Data = nullptr;
        headers_[i].BufferLength = 0;
        headers_[i].Length = 0;
    }
    fill_ = 0;
    bufferSize_ = 0;
}

void TSoundOut::Close() {
    if (!Active()) return;
    {
        std::lock_guard<TMPSimpleMutex> lock(waiterLock_);
        waiter_ = nullptr;
    }
    try {
        if (device_ && device_->IsOpen()) {
            thread_.SetTimeout(kInfinite);
            // A paused device would never finish what is queued.
            if (paused_) {
                Check(device_->Restart(), "TSoundOut.Unpause");
                paused_ = false;
            }
            Flush();
            WaitAllDone();
            for (int i = 0; i < kBufferCount; ++i) {
                TWaveBuffer& h = headers_[i];
                if (!h.Data || !h.Prepared) continue;
                int rc;
                int tries = 0;
                while ((rc = device_->Unprepare(&h)) == kWaveStillPlaying) {
                    // The output thread ended before the device gave everything
                    // back: after a while take the buffers back by force.
                    if (++tries == 30) device_->Reset();
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                Check(rc, "TSoundOut.Close:WaveOutUnprepareHeader");
            }
            Check(device_->Close(), "TSoundOut.Close:WaveOutClose");
        }
    } catch (...) {
        FreeBuffers();
        active_.store(false);
        throw;
    }
    FreeBuffers();
    active_.store(false);
}

bool TSoundOut::CanWrite() {
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    // Closed: there are no buffers to write into.
    return Active() && bufferSize_ > 0 && queued_.load() < kBufferCount && fill_ < bufferSize_;
}

int32_t TSoundOut::FreePercent() {
    if (!Active()) return 0;
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    if (bufferSize_ <= 0) return 0;
    const int64_t total = static_cast<int64_t>(kBufferCount) * bufferSize_;
    const int64_t free = static_cast<int64_t>(kBufferCount - queued_.load()) * bufferSize_ - fill_;
    return static_cast<int32_t>(free * 100 / total);
}

int32_t TSoundOut::Write(const void* data, int32_t count) {
    const uint8_t* src = static_cast<const uint8_t*>(data);
    int32_t taken = 0;
    while (count > 0 && CanWrite()) {
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        const int32_t n = std::min(bufferSize_ - fill_, count);
        std::memcpy(headers_[currentIndex_].Data + fill_, src, static_cast<size_t>(n));
        fill_ += n;
        src += n;
        count -= n;
        taken += n;
        if (fill_ == bufferSize_) WaveWrite();
    }
    return taken;
}

void TSoundOut::WaveWrite() {
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    if (!Active() || !device_) return;
    TWaveBuffer& h = headers_[currentIndex_];
    queued_.fetch_add(1);
    allDone_.ResetEvent();
    h.Length = static_cast<uint32_t>(fill_);
    fill_ = 0;
    RecordHistory(h.Data, h.Length);
    const int rc = device_->Write(&h);
    if (rc != kWaveNoError) {
        // The buffer never reached the device: it is not queued.
        if (queued_.fetch_sub(1) == 1) allDone_.SetEvent();
        Check(rc, "TSoundOut.WaveWrite");
    }
    // Progress notifications run while anything is queued (also after the
    // device had run dry and was idle).
    thread_.SetTimeout(notifyInterval_.load());
    currentIndex_ = (currentIndex_ + 1) % kBufferCount;
}

void TSoundOut::Flush() {
    if (!Active()) return;
    bool wrote = false;
    {
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        if (fill_ > 0) {
            WaveWrite();
            wrote = true;
        }
    }
    if (wrote) thread_.Sync();
}

void TSoundOut::WaitAllDone() {
    TMPEvent* events[] = {&allDone_, &thread_.EndedEvent()};
    WaitForAny(events, kInfinite);
}

void TSoundOut::Reset() {
    if (!Active() || !device_) return;
    {
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        fill_ = 0;
    }
    std::lock_guard<std::mutex> history(historyMutex_);
    const int rc = device_->Reset();
    lastDevicePosition_ = 0;
    historyWritten_ = 0;
    Check(rc, "TSoundOut.Reset");
}

void TSoundOut::Pause() {
    if (!Active() || !device_) return;
    Check(device_->Pause(), "TSoundOut.Pause");
    paused_ = true;
}

void TSoundOut::Unpause() {
    if (!Active() || !device_) return;
    Check(device_->Restart(), "TSoundOut.Unpause");
    paused_ = false;
}

int64_t TSoundOut::GetDoneBytes() {
    if (!Active() || !device_) return 0;
    uint64_t position = 0;
    Check(device_->GetPosition(position), "TSoundOut.GetDoneBytes");
    const int64_t done = position >= lastDevicePosition_ ? static_cast<int64_t>(position - lastDevicePosition_) : 0;
    lastDevicePosition_ = position;
    return done;
}

void TSoundOut::SetWaiter(TMPEvent* event) {
    {
        std::lock_guard<TMPSimpleMutex> lock(waiterLock_);
        waiter_ = event;
    }
    WakeWaiter();
}

void TSoundOut::WakeWaiter() {
    std::lock_guard<TMPSimpleMutex> lock(waiterLock_);
    if (waiter_ && CanWrite()) {
        waiter_->SetEvent();
        waiter_ = nullptr;
    }
}

void TSoundOut::Notify() {
    TNotifyEvent handler;
    {
        std::lock_guard<std::mutex> lock(callbackMutex_);
        handler = onProgress_;
    }
    const int32_t interval = notifyInterval_.load();
    if (!handler || interval == -1) return;
    const int64_t now = TickCount();
    if (now - lastNotify_.load() >= interval) {
        handler(this);
        lastNotify_.store(now);
    }
}

void TSoundOut::BufferDone() {
    {
        // Under the buffer lock so that a WaveWrite cannot slip between the
        // count reaching 0 and the all-done event being set.
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        const int32_t left = queued_.fetch_sub(1) - 1;
        if (left > 0) {
            thread_.SetTimeout(notifyInterval_.load());
        } else {
            if (left < 0) queued_.store(0);
            allDone_.SetEvent();
            thread_.SetTimeout(kInfinite);
        }
    }
    WakeWaiter();
    Notify();
}

void TSoundOut::Dispatch(TMessage& message) {
    switch (message.Msg) {
        case MM_WOM_DONE:
            BufferDone();
            break;
        case MPM_THREADIDLE:
            Notify();
            break;
        default:
            break;
    }
}

void TSoundOut::RecordHistory(const uint8_t* data, uint32_t count) {
    std::lock_guard<std::mutex> lock(historyMutex_);
    if (history_.empty()) return;
    const size_t cap = history_.size();
    for (uint32_t i = 0; i < count; ++i) history_[(historyWritten_ + i) % cap] = data[i];
    historyWritten_ += count;
}

void TSoundOut::GetPeaks(int32_t& left, int32_t& right) {
    left = right = 0;
    if (!Active() || !device_) return;
    uint64_t position = 0;
    if (device_->GetPosition(position) != kWaveNoError) return;
    std::lock_guard<std::mutex> lock(historyMutex_);
    if (history_.empty()) return;
    const TWaveFormat& f = historyFormat_;
    const uint64_t block = static_cast<uint64_t>(f.BlockAlign());
    const uint64_t cap = history_.size();
    uint64_t end = std::min(position, historyWritten_);
    end -= end % block;
    uint64_t window = static_cast<uint64_t>(f.AvgBytesPerSec()) * kMeterWindowMs / 1000;
    window -= window % block;
    uint64_t start = end > window ? end - window : 0;
    // Older bytes have been overwritten already.
    if (historyWritten_ > cap) start = std::max(start, (historyWritten_ - cap + block - 1) / block * block);
    int32_t peak[2] = {0, 0};
    const int bytesPerSample = f.BitsPerSample / 8;
    for (uint64_t off = start; off + block <= end; off += block) {
        for (int ch = 0; ch < f.Channels; ++ch) {
            const uint64_t at = off + static_cast<uint64_t>(ch * bytesPerSample);
            int32_t v;
            if (bytesPerSample == 2) {
                const uint8_t lo = history_[at % cap];
                const uint8_t hi = history_[(at + 1) % cap];
                v = static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)));
            } else {
                v = (static_cast<int32_t>(history_[at % cap]) - 128) * 256;
            }
            peak[ch] = std::max(peak[ch], v < 0 ? -v : v);
        }
    }
    left = peak[0];
    right = f.Channels == 2 ? peak[1] : peak[0];
}

}  // namespace wl
