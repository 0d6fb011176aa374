#include "engine/sound_out.h"

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <cmath>
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

int16_t Load16(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

void Store16(uint8_t* p, int16_t v) { std::memcpy(p, &v, 2); }

// Raised-cosine fade: the gain of frame i of n, rising from near 0 to near 1.
double RampGain(int32_t i, int32_t n) {
    return 0.5 - 0.5 * std::cos(3.14159265358979323846 * (i + 0.5) / n);
}

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
    if (name == deviceName_ && !factory_) return;  // the connection stays
    deviceName_ = std::move(name);
    factory_ = nullptr;
    if (Active())
        deviceStale_ = true;
    else
        device_.reset();
}

// The output's one device, made when first needed (or after a change of name).
TAudioDevice* TSoundOut::Device() {
    // Without a name the environment names the device at each use; a change
    // there takes a new device.
    std::string resolved = deviceName_;
    if (resolved.empty() && !factory_) {
        const char* env = std::getenv("WAVELANTERN_AUDIO");
        resolved = env ? env : "";
    }
    if (resolved != deviceResolved_) deviceStale_ = true;
    deviceResolved_ = resolved;
    if (device_ && !deviceStale_) return device_.get();
    device_.reset();
    deviceStale_ = false;
    device_ = factory_ ? factory_() : CreateAudioDevice(resolved, &wavFile_);
    // (The device lives no longer than this object.)
    if (device_) {
        device_->SetOnState([this](bool waiting, const std::string& text) {
            TOutputStateEvent handler;
            {
                std::lock_guard<std::mutex> lock(callbackMutex_);
                handler = onOutputState_;
            }
            if (handler) handler(waiting, text);
        });
    }
    return device_.get();
}

void TSoundOut::SetOnOutputState(TOutputStateEvent handler) {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    onOutputState_ = std::move(handler);
}

void TSoundOut::SetOnProgress(TNotifyEvent handler) {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    onProgress_ = std::move(handler);
}

void TSoundOut::SetOnError(TMPErrorEvent handler) {
    std::lock_guard<std::mutex> lock(callbackMutex_);
    onError_ = std::move(handler);
}

TPcmFormat TSoundOut::Format() const {
    TPcmFormat f;
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
    if (code == kOutputOk) return;
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
    if (rc == kOutputNotSupported) return;
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
        std::unique_ptr<TAudioDevice> own = factory_ ? factory_() : nullptr;
        TAudioDevice* dev = factory_ ? own.get() : Device();
        if (!dev) return 100;
        uint32_t packed = 0;
        if (dev->Open(Format(), nullptr) == kOutputOk) {
            const int rc = dev->GetVolume(packed);
            dev->Close();
            if (rc != kOutputOk) return 100;
        } else {
            // No device at all, or one that cannot be read without opening it.
            if (dev->DeviceCount() == 0) return 100;
            if (dev->GetVolume(packed) != kOutputOk) return 100;
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
    doneShift_ = 0;
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
        // A factory makes a device for each Open; a named one serves them all.
        if (factory_) device_.reset();
        if (!Device()) throw EMP3Error(FormatError("no sound output device", "TSoundOut.Open:WaveOutOpen"));
        Check(device_->Open(Format(),
                            [this](TOutputBuffer* b) {
                                thread_.PostToThread(kMsgBufferDone, reinterpret_cast<uintptr_t>(b), 0);
                            }),
              "TSoundOut.Open:WaveOutOpen");
        SetVolumeToWaveDevice();
        const int32_t size = BufferSize();
        for (int i = 0; i < kBufferCount; ++i) {
            storage_[i] = std::make_unique<uint8_t[]>(static_cast<size_t>(size));
            TOutputBuffer& h = buffers_[i];
            h.Data = storage_[i].get();
            h.BufferLength = static_cast<uint32_t>(size);
            h.Length = static_cast<uint32_t>(size);
            h.Prepared = false;
            h.Queued = false;
            h.User = nullptr;
            Check(device_->Prepare(&h), "TSoundOut.Open:WaveOutPreperHeader");
        }
        tailData_ = std::make_unique<uint8_t[]>(static_cast<size_t>(RampFrames() * Format().BlockAlign()));
        tail_.Data = tailData_.get();
        tail_.BufferLength = tail_.Length = static_cast<uint32_t>(RampFrames() * Format().BlockAlign());
        tail_.Prepared = false;
        tail_.Queued = false;
        Check(device_->Prepare(&tail_), "TSoundOut.Open:WaveOutPreperHeader");
        scratch_ = std::make_unique<uint8_t[]>(static_cast<size_t>(size) * kBufferCount);
        {
            std::lock_guard<std::mutex> lock(historyMutex_);
            historyFormat_ = Format();
            const size_t window = static_cast<size_t>(historyFormat_.AvgBytesPerSec()) * kMeterWindowMs / 1000;
            // A multiple of 4 bytes, so no sample frame straddles the ring's end.
            const size_t bytes = static_cast<size_t>(size) * (kBufferCount + 1) + window + 8;
            history_.assign((bytes + 3) / 4 * 4, 0);
            historyWritten_ = 0;
        }
        thread_.SetTimeout(notifyInterval_.load());
        {
            std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
            currentIndex_ = 0;
            fill_ = 0;
            queued_.store(0);
            submitted_ = 0;
            processed_ = 0;
            limiter_.Configure(sampleRate_, channels_);
            rampDone_ = -1;
            heldCount_ = 0;
            tailQueued_.store(false);
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
        storage_[i].reset();
        buffers_[i].Data = nullptr;
        buffers_[i].BufferLength = 0;
        buffers_[i].Length = 0;
    }
    tail_.Data = nullptr;
    tail_.BufferLength = tail_.Length = 0;
    tailData_.reset();
    scratch_.reset();
    fill_ = 0;
    processed_ = 0;
    limiter_.Reset();
    heldCount_ = 0;
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
            if (paused_) Unpause();
            Flush();
            // A device waiting for its server would hold what is queued until
            // the server is back: at a close that is dropped.
            TMPEvent* events[] = {&allDone_, &thread_.EndedEvent()};
            while (WaitForAny(events, 100) == kWaitTimeout)
                if (device_->Waiting()) device_->Reset();
            for (int i = 0; i <= kBufferCount; ++i) {
                TOutputBuffer& h = i < kBufferCount ? buffers_[i] : tail_;
                if (!h.Data || !h.Prepared) continue;
                int rc;
                int tries = 0;
                while ((rc = device_->Unprepare(&h)) == kOutputStillPlaying) {
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
    return Active() && bufferSize_ > 0 && queued_.load() < kBufferCount && Occupied() < bufferSize_;
}

int32_t TSoundOut::FreePercent() {
    if (!Active()) return 0;
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    if (bufferSize_ <= 0) return 0;
    const int64_t total = static_cast<int64_t>(kBufferCount) * bufferSize_;
    const int64_t free = static_cast<int64_t>(kBufferCount - queued_.load()) * bufferSize_ - Occupied();
    return static_cast<int32_t>(free * 100 / total);
}

int32_t TSoundOut::Write(const void* data, int32_t count) {
    const uint8_t* src = static_cast<const uint8_t*>(data);
    int32_t taken = 0;
    while (count > 0 && CanWrite()) {
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        const int32_t n = std::min(bufferSize_ - Occupied(), count);
        std::memcpy(buffers_[currentIndex_].Data + fill_, src, static_cast<size_t>(n));
        fill_ += n;
        src += n;
        count -= n;
        taken += n;
        ProcessFill();
        if (Occupied() >= bufferSize_) WaveWrite();
    }
    return taken;
}

void TSoundOut::WaveWrite() {
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    if (!Active() || !device_) return;
    ProcessFill();
    TOutputBuffer& h = buffers_[currentIndex_];
    queued_.fetch_add(1);
    allDone_.ResetEvent();
    h.Length = static_cast<uint32_t>(fill_);
    fill_ = 0;
    processed_ = 0;
    const int32_t index = currentIndex_;
    currentIndex_ = (currentIndex_ + 1) % kBufferCount;
    if (paused_) {
        // Kept back until Unpause; progress notifications go on meanwhile.
        if (heldCount_ == 0) heldFirst_ = index;
        ++heldCount_;
        thread_.SetTimeout(notifyInterval_.load());
        return;
    }
    Submit(index);
}

// Hands a full buffer to the device (buffer lock held).
void TSoundOut::Submit(int32_t index) {
    TOutputBuffer& h = buffers_[index];
    starts_[static_cast<size_t>(index)] = submitted_;
    submitted_ += h.Length;
    RecordHistory(h.Data, h.Length);
    const int rc = device_->Write(&h);
    if (rc != kOutputOk) {
        // The buffer never reached the device: it is not queued.
        submitted_ -= h.Length;
        queued_.fetch_sub(1);
        UpdateAllDone();
        Check(rc, "TSoundOut.WaveWrite");
    }
    // Progress notifications run while anything is queued (also after the
    // device had run dry and was idle).
    thread_.SetTimeout(notifyInterval_.load());
}

void TSoundOut::UpdateAllDone() {
    if (queued_.load() <= 0 && !tailQueued_.load()) allDone_.SetEvent();
}

int32_t TSoundOut::RampFrames() const { return std::max(1, sampleRate_ * kRampMs / 1000); }

void TSoundOut::SetGain(double gain) {
    if (!(gain >= 0) || !std::isfinite(gain)) return;
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    gain_ = gain;
}

// The bytes of the current buffer and those the limiter holds back for it
// (buffer lock held): a buffer is queued once they fill it, so that the
// delayed frames always fit in when the limiter lets them go.
int32_t TSoundOut::Occupied() const {
    return fill_ + (bitsPerSample_ == 16 ? limiter_.Delayed() * channels_ * 2 : 0);
}

// Runs the whole frames of the current buffer not yet seen through the output
// stage, and with `drain` lets out what the limiter delays (buffer lock held).
// The buffer's fill follows the frames that come out; a partial frame at its
// end stays last.
void TSoundOut::ProcessFill(bool drain) {
    const int32_t block = std::max(1, channels_ * bitsPerSample_ / 8);
    const int32_t end = fill_ - fill_ % block;
    if (bitsPerSample_ != 16) {
        processed_ = std::max(processed_, end);
        return;
    }
    if (end <= processed_ && !(drain && limiter_.Delayed() > 0)) return;
    uint8_t* data = buffers_[currentIndex_].Data;
    uint8_t partial[4];
    const int32_t partialBytes = fill_ - end;
    std::memcpy(partial, data + end, static_cast<size_t>(partialBytes));
    // Whole frames at even offsets of a buffer from new[]: aligned 16-bit samples.
    int16_t* pcm = reinterpret_cast<int16_t*>(data + processed_);
    int32_t frames = limiter_.Process(pcm, (end - processed_) / block, gain_);
    if (drain) frames += limiter_.Drain(pcm + frames * channels_);
    FadeIn(data + processed_, frames * block);
    processed_ += frames * block;
    std::memcpy(data + processed_, partial, static_cast<size_t>(partialBytes));
    fill_ = processed_ + partialBytes;
}

// Applies the running fade-in, if any, to whole frames of 16-bit PCM.
void TSoundOut::FadeIn(uint8_t* data, int32_t bytes) {
    if (rampDone_ < 0 || bitsPerSample_ != 16) return;
    const int32_t block = channels_ * 2;
    const int32_t n = RampFrames();
    for (int32_t at = 0; at + block <= bytes && rampDone_ >= 0; at += block) {
        const double g = RampGain(rampDone_, n);
        for (int32_t c = 0; c < channels_; ++c)
            Store16(data + at + 2 * c, static_cast<int16_t>(std::lrint(Load16(data + at + 2 * c) * g)));
        if (++rampDone_ >= n) rampDone_ = -1;
    }
}

// Copies up to count bytes from the device position `position` on out of the
// buffers in the mask `queued` (buffer lock held); returns the bytes found.
int32_t TSoundOut::CopyFrom(uint64_t position, uint8_t* out, int32_t count, uint32_t queued) {
    int32_t copied = 0;
    while (copied < count) {
        const uint64_t at = position + static_cast<uint64_t>(copied);
        int found = -1;
        for (int i = 0; i < kBufferCount && found < 0; ++i) {
            const TOutputBuffer& h = buffers_[i];
            if ((queued & (1u << i)) && at >= starts_[static_cast<size_t>(i)] && at < starts_[static_cast<size_t>(i)] + h.Length)
                found = i;
        }
        if (found < 0) break;
        const TOutputBuffer& h = buffers_[found];
        const int32_t offset = static_cast<int32_t>(at - starts_[static_cast<size_t>(found)]);
        const int32_t n = std::min(count - copied, static_cast<int32_t>(h.Length) - offset);
        std::memcpy(out + copied, h.Data + offset, static_cast<size_t>(n));
        copied += n;
    }
    return copied;
}

// Queues the first bytes of the tail buffer, faded out, on the freshly reset
// device (buffer lock held); returns their number.
int32_t TSoundOut::QueueTail(uint64_t length) {
    const int32_t block = std::max(1, channels_ * bitsPerSample_ / 8);
    int32_t bytes = static_cast<int32_t>(std::min<uint64_t>(length, tail_.BufferLength));
    bytes -= bytes % block;
    if (bytes <= 0 || !tail_.Data) return 0;
    if (bitsPerSample_ == 16) {
        const int32_t n = RampFrames();
        for (int32_t f = 0; f * block < bytes; ++f) {
            const double g = RampGain(n - 1 - f, n);
            for (int32_t c = 0; c < channels_; ++c) {
                uint8_t* p = tail_.Data + f * block + 2 * c;
                Store16(p, static_cast<int16_t>(std::lrint(Load16(p) * g)));
            }
        }
    }
    tail_.Length = static_cast<uint32_t>(bytes);
    tailQueued_.store(true);
    allDone_.ResetEvent();
    submitted_ = static_cast<uint64_t>(bytes);
    RecordHistory(tail_.Data, tail_.Length);
    if (device_->Write(&tail_) != kOutputOk) {
        // No fade then: the sound stops where it is.
        tailQueued_.store(false);
        submitted_ = 0;
        UpdateAllDone();
        return 0;
    }
    thread_.SetTimeout(notifyInterval_.load());
    return bytes;
}

// The buffers on the device now (buffer lock held).
uint32_t TSoundOut::QueuedMask() const {
    uint32_t mask = 0;
    for (int i = 0; i < kBufferCount; ++i)
        if (buffers_[i].Queued) mask |= 1u << i;
    return mask;
}

// Resets the device and waits until every buffer it held has come back; the
// buffers kept back by a pause are dropped, and the one being filled unless
// keepFill. Returns the position at which the sound stops (buffer lock not
// held; the buffers' contents stay as they were).
uint64_t TSoundOut::DropQueued(bool keepFill, const char* context) {
    {
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        queued_.fetch_sub(heldCount_);
        heldCount_ = 0;
        if (!keepFill) {
            fill_ = 0;
            processed_ = 0;
            limiter_.Reset();
        }
        UpdateAllDone();
    }
    int rc;
    uint64_t end = 0;
    {
        std::lock_guard<std::mutex> history(historyMutex_);
        rc = device_->ResetAt(end);
        historyWritten_ = 0;
    }
    Check(rc, context);
    WaitAllDone();
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    submitted_ = 0;
    return end;
}

int32_t TSoundOut::Cut() {
    if (!Active() || !device_) return 0;
    uint32_t queued;
    bool audible;
    {
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        queued = QueuedMask();
        audible = !paused_;
    }
    const uint64_t end = DropQueued(false, "TSoundOut.Cut");
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    // The tail goes on from where the device stopped. A device that had
    // played nothing since its last reset (a sound server that had not begun
    // to play) leaves nothing to fade out.
    int32_t tail = audible && end > 0
                       ? CopyFrom(end, tail_.Data, static_cast<int32_t>(tail_.BufferLength), queued)
                       : 0;
    tail = QueueTail(static_cast<uint64_t>(tail));
    doneShift_ = -tail;
    lastDevicePosition_ = 0;
    rampDone_ = 0;
    return tail;
}

void TSoundOut::FadeInNext() {
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    rampDone_ = 0;
}

void TSoundOut::Flush() {
    if (!Active()) return;
    bool wrote = false;
    {
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        ProcessFill(true);
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
    int rc;
    {
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        fill_ = 0;
        processed_ = 0;
        limiter_.Reset();
        queued_.fetch_sub(heldCount_);
        heldCount_ = 0;
        UpdateAllDone();
        std::lock_guard<std::mutex> history(historyMutex_);
        rc = device_->Reset();
        submitted_ = 0;
        lastDevicePosition_ = 0;
        doneShift_ = 0;
        historyWritten_ = 0;
    }
    Check(rc, "TSoundOut.Reset");
}

void TSoundOut::Pause() {
    if (!Active() || !device_ || paused_) return;
    uint32_t queued;
    uint64_t submitted;
    {
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        ProcessFill();
        queued = QueuedMask();
        submitted = submitted_;
        paused_ = true;
    }
    const uint64_t position = DropQueued(true, "TSoundOut.Pause");
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    // What the device had not played when it stopped, then the buffer being filled.
    const uint64_t ahead = submitted > position ? submitted - position : 0;
    int32_t rest = CopyFrom(position, scratch_.get(), static_cast<int32_t>(ahead), queued);
    std::memcpy(scratch_.get() + rest, buffers_[currentIndex_].Data, static_cast<size_t>(fill_));
    rest += fill_;
    doneShift_ += static_cast<int64_t>(position);
    const int32_t block = std::max(1, channels_ * bitsPerSample_ / 8);
    // Nothing to fade out when the device had played nothing (see Cut).
    const int32_t tailBytes =
        position > 0 ? std::min(rest - rest % block, static_cast<int32_t>(tail_.BufferLength)) : 0;
    std::memcpy(tail_.Data, scratch_.get(), static_cast<size_t>(tailBytes));
    // The device plays the tail and then runs dry: nothing more reaches it
    // until Unpause. (Pausing the device itself cannot be timed to the end of
    // the tail on every device.)
    const int32_t tail = QueueTail(static_cast<uint64_t>(tailBytes));
    // The rest waits in the buffers, fading in where it will start again.
    currentIndex_ = 0;
    fill_ = 0;
    processed_ = 0;
    rampDone_ = 0;
    for (int32_t at = tail; at < rest;) {
        const int32_t n = std::min(bufferSize_ - fill_, rest - at);
        uint8_t* dst = buffers_[currentIndex_].Data + fill_;
        std::memcpy(dst, scratch_.get() + at, static_cast<size_t>(n));
        FadeIn(dst, n);
        fill_ += n;
        processed_ = fill_;
        at += n;
        if (fill_ == bufferSize_) WaveWrite();
    }
    // What the limiter delays goes after this buffer: queued when it leaves
    // no room for it.
    if (fill_ > 0 && Occupied() >= bufferSize_) WaveWrite();
    thread_.SetTimeout(notifyInterval_.load());
}

void TSoundOut::Unpause() {
    if (!Active() || !device_) return;
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    if (!paused_) {
        Check(device_->Restart(), "TSoundOut.Unpause");
        return;
    }
    paused_ = false;
    const int32_t held = heldCount_;
    heldCount_ = 0;
    for (int32_t i = 0; i < held; ++i) Submit((heldFirst_ + i) % kBufferCount);
}

int64_t TSoundOut::GetDoneBytes() {
    if (!Active() || !device_) return 0;
    uint64_t position = 0;
    Check(device_->GetPosition(position), "TSoundOut.GetDoneBytes");
    std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
    const int64_t logical = std::max<int64_t>(0, static_cast<int64_t>(position) + doneShift_);
    const int64_t done = logical >= lastDevicePosition_ ? logical - lastDevicePosition_ : 0;
    lastDevicePosition_ = logical;
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

void TSoundOut::BufferDone(TOutputBuffer* buffer) {
    {
        // Under the buffer lock so that a WaveWrite cannot slip between the
        // count reaching 0 and the all-done event being set.
        std::lock_guard<TMPSimpleMutex> lock(bufferLock_);
        if (buffer == &tail_) {
            tailQueued_.store(false);
        } else {
            const int32_t left = queued_.fetch_sub(1) - 1;
            if (left < 0) queued_.store(0);
        }
        if (queued_.load() > 0 || tailQueued_.load() || paused_) {
            thread_.SetTimeout(notifyInterval_.load());
        } else {
            thread_.SetTimeout(kInfinite);
        }
        UpdateAllDone();
    }
    WakeWaiter();
    Notify();
}

void TSoundOut::Dispatch(TMessage& message) {
    switch (message.Msg) {
        case kMsgBufferDone:
            BufferDone(reinterpret_cast<TOutputBuffer*>(message.WParam));
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
    // Only the newest cap bytes can ever be read back.
    const size_t skip = count > cap ? count - cap : 0;
    size_t at = static_cast<size_t>((historyWritten_ + skip) % cap);
    for (size_t i = skip; i < count;) {
        const size_t n = std::min<size_t>(count - i, cap - at);
        std::memcpy(history_.data() + at, data + i, n);
        i += n;
        at = 0;
    }
    historyWritten_ += count;
}

void TSoundOut::GetPeaks(int32_t& left, int32_t& right) {
    left = right = 0;
    if (!Active() || !device_) return;
    uint64_t position = 0;
    if (device_->GetPosition(position) != kOutputOk) return;
    std::lock_guard<std::mutex> lock(historyMutex_);
    if (history_.empty()) return;
    const TPcmFormat& f = historyFormat_;
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
    const bool wide = f.BitsPerSample == 16;
    const int channels = f.Channels;
    // The window lies in at most two runs of the ring; cap is a multiple of
    // every frame size, so no frame is split between them.
    while (start < end) {
        const size_t at = static_cast<size_t>(start % cap);
        const size_t n = static_cast<size_t>(std::min<uint64_t>(end - start, cap - at));
        const uint8_t* p = history_.data() + at;
        const uint8_t* stop = p + (n - n % block);
        for (; p < stop; p += block) {
            for (int ch = 0; ch < channels; ++ch) {
                int32_t v;
                if (wide) {
                    const uint8_t* s = p + 2 * ch;
                    v = static_cast<int16_t>(static_cast<uint16_t>(s[0] | (s[1] << 8)));
                } else {
                    v = (static_cast<int32_t>(p[ch]) - 128) * 256;
                }
                peak[ch] = std::max(peak[ch], v < 0 ? -v : v);
            }
        }
        start += n;
    }
    left = peak[0];
    right = f.Channels == 2 ? peak[1] : peak[0];
}

}  // namespace wl
