// The PulseAudio device (PipeWire desktops serve the same protocol), through
// libpulse's asynchronous API on a threaded main loop.
//
// Buffers are copied to the server as it asks for data; a buffer counts as
// played once the stream's playback time has passed its last byte. Pause
// corks the stream; Reset of a playing stream overwrites what the server holds
// beyond a short margin, of a paused one flushes it. The volume is the
// stream's own per-channel volume. The server is the default one, or
// PULSE_SERVER; the sink the default one, or the one named at creation.
//
// One connection serves every Open of the device. When the server goes away
// or drops the stream (a restart, the sink unloaded), the device keeps what is
// queued and waits: its position stands where the listener stopped hearing,
// and it reconnects with back-off. Once a stream plays again it goes on from
// that position; a sink that is gone gives way to the default one.
#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <vector>

#include "engine/audio_device.h"

namespace wl {

namespace {

// Finished buffers are looked for when the oldest one should have played,
// but no sooner than kCheckIntervalUs and no later than kIdleCheckUs from the
// last look. While the server asks for data, its requests look for them too,
// and the timer only stands in when the requests stop. With nothing queued,
// or paused, nothing can finish: the timer waits kRestCheckUs (a write or a
// restart sets it again at once).
constexpr pa_usec_t kCheckIntervalUs = 10000;
constexpr pa_usec_t kIdleCheckUs = 500000;
constexpr pa_usec_t kRestCheckUs = 10000000;
// What the server holds ahead of playback; doubled after each underrun up to
// the longest. Long, so that the connection thread wakes rarely: a cut does
// not wait for it to play out but replaces it from kCutMarginUs after the
// server's read position on.
constexpr pa_usec_t kTargetLatencyUs = 400000;
constexpr pa_usec_t kMaxLatencyUs = 1600000;
// What a cut leaves to play: enough for the sound that follows it (a faded
// tail) to reach the server before the server reads there.
constexpr pa_usec_t kCutMarginUs = 40000;
// Reconnection attempts after a loss: the first after kFirstRetryUs, each
// later one after twice the wait before, up to kMaxRetryUs.
constexpr pa_usec_t kFirstRetryUs = 250000;
constexpr pa_usec_t kMaxRetryUs = 4000000;
// Once the server's socket appears (watched where it is a local one), the
// attempts come every kAppearRetryUs, kAppearAttempts times, before the
// back-off goes on: a restarted server plays again at once.
constexpr pa_usec_t kAppearRetryUs = 100000;
constexpr int kAppearAttempts = 30;
// How long a caller waits for the server to accept a connection or a stream.
constexpr pa_usec_t kConnectTimeoutUs = 5000000;

// The server asks for data in pieces of half the held length (its default
// is a quarter): half as many wake-ups of the connection thread, and still
// half the held length left to play when a request comes. It also keeps the
// sink's own latency short, which the cut margin does not cover.
uint32_t MinRequest(uint32_t tlength) { return tlength / 2; }

// A time `delay` from now, as the main loop's time events take it.
const struct timeval* After(struct timeval* tv, pa_usec_t delay) {
    pa_gettimeofday(tv);
    return pa_timeval_add(tv, delay);
}

pa_volume_t ToPulseVolume(uint32_t v16) {
    return static_cast<pa_volume_t>((static_cast<uint64_t>(v16 & 0xFFFF) * PA_VOLUME_NORM + 32767) / 65535);
}

uint32_t FromPulseVolume(pa_volume_t v) {
    const uint64_t clamped = std::min<uint64_t>(v, PA_VOLUME_NORM);
    return static_cast<uint32_t>((clamped * 65535 + PA_VOLUME_NORM / 2) / PA_VOLUME_NORM);
}

class TPulseAudioDevice final : public TAudioDevice {
public:
    explicit TPulseAudioDevice(std::string sink) : sink_(std::move(sink)) {}
    ~TPulseAudioDevice() override { Teardown(); }

    int Open(const TPcmFormat& format, DoneCallback onDone) override;
    int Close() override;
    bool IsOpen() const override { return open_.load(); }
    int Write(TOutputBuffer* buffer) override;
    int Pause() override;
    int Restart() override;
    int Reset() override;
    int ResetAt(uint64_t& end) override;
    int GetPosition(uint64_t& bytes) override;
    int SetVolume(uint32_t volume) override;
    int GetVolume(uint32_t& volume) override;
    std::string Name() const override { return sink_.empty() ? "pulse" : "pulse:" + sink_; }
    bool Waiting() const override { return waitingNow_.load(); }

private:
    struct Entry {
        TOutputBuffer* buffer;
        uint64_t end;   // position at which it has been played
        uint32_t sent;  // bytes already handed to the server
    };

    class Lock {
    public:
        explicit Lock(pa_threaded_mainloop* loop) : loop_(loop) { pa_threaded_mainloop_lock(loop_); }
        ~Lock() { pa_threaded_mainloop_unlock(loop_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop_;
    };

    static void ContextStateCb(pa_context*, void* self);
    static void StreamStateCb(pa_stream*, void* self);
    static void WriteCb(pa_stream*, size_t, void* self);
    static void UnderflowCb(pa_stream*, void* self);
    static void SuccessCb(pa_stream*, int success, void* self);
    static void ContextSuccessCb(pa_context*, int success, void* self);
    static void SinkInputInfoCb(pa_context*, const pa_sink_input_info* info, int eol, void* self);
    static void TimerCb(pa_mainloop_api*, pa_time_event* e, const struct timeval*, void* self);
    static void RetryCb(pa_mainloop_api*, pa_time_event* e, const struct timeval*, void* self);
    static void DeadlineCb(pa_mainloop_api*, pa_time_event* e, const struct timeval*, void* self);
    static void SocketWatchCb(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self);

    std::string ServerText() const;
    std::string PulseError() const;
    bool WaitOperation(pa_operation* op);
    const pa_timing_info* FreshTiming();
    template <class State>
    bool WaitReady(State state);
    int Connect(std::string& detail);
    bool NewStream(bool onSink);
    int OpenStream(std::string& detail);
    void EnterWaiting(const std::string& why);
    void ScheduleRetry(pa_usec_t delay);
    void ScheduleNext();
    void Reconnect();
    void StreamReady();
    void StreamFailed();
    void WatchSocket();
    void UnwatchSocket();
    void DropStream();
    void DropContext();
    void Pump();
    uint64_t PositionLocked();
    uint64_t HeardAtLoss();
    void ReturnFinished();
    pa_usec_t NextCheckDelay();
    void ReturnAll();
    int64_t ServerBytes();
    const pa_timing_info* TimingAtReset();
    uint64_t CutPlaying(uint64_t end, const pa_timing_info* ti);
    bool ReadPast();
    void Teardown();

    const std::string sink_;  // empty: the server's default sink
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* timer_ = nullptr;
    std::atomic<bool> open_{false};
    pa_sample_spec spec_{};
    DoneCallback onDone_;

    // All under the main-loop lock.
    std::deque<Entry> queue_;
    uint64_t written_ = 0;  // bytes queued since Open or Reset
    int64_t base_ = 0;      // the stream's byte index at which position 0 plays
    uint64_t lastPos_ = 0;
    pa_usec_t lastPosUs_ = 0;      // when lastPos_ was read off the server's clock
    pa_usec_t lastRequestUs_ = 0;  // when the server last asked for data
    bool corked_ = false;
    bool drained_ = false;  // the server ran dry with nothing more to send
    // The server ran dry and played on past what it had: the next data goes
    // in at its read index, not after the last byte written (which lies in
    // the past now and would be skipped).
    bool underrun_ = false;
    // Where the next byte goes after a cut (a stream index), or -1: then it
    // follows the last one written.
    int64_t seekTo_ = -1;
    // Bytes of that silence which may be overwritten beyond what the server
    // asks for (it counts them as held already).
    uint64_t overwrite_ = 0;
    pa_usec_t latencyUs_ = kTargetLatencyUs;
    bool operationOk_ = false;
    bool volumeKnown_ = false;
    pa_cvolume infoVolume_{};
    uint32_t volume_ = 0xFFFFFFFFu;
    std::vector<uint8_t> staging_;

    // Connection state.
    bool everConnected_ = false;  // the server has been reached once
    bool waiting_ = false;        // open, without a playing stream: reconnecting
    bool onDefault_ = false;      // the named sink is gone: the default one plays
    bool deadline_ = false;       // a synchronous wait ran out of time
    bool resumed_ = false;        // reconnected, and nothing written since
    pa_time_event* retry_ = nullptr;
    pa_time_event* deadlineEvent_ = nullptr;
    pa_usec_t retryUs_ = kFirstRetryUs;
    std::atomic<bool> waitingNow_{false};  // waiting_, for other threads
    // The watch on the folder of the server's local socket while waiting.
    int watchFd_ = -1;
    pa_io_event* watchEvent_ = nullptr;
    std::string watchName_;
    int appearing_ = 0;  // quick attempts left since the socket appeared
};

// The server's local socket: PULSE_SERVER's first "unix:" or absolute path,
// else the user's runtime folder's; empty for a server over the network.
std::string LocalSocketPath() {
    if (const char* env = std::getenv("PULSE_SERVER"); env && *env) {
        std::string first = env;
        first = first.substr(0, first.find(' '));
        if (first.rfind("unix:", 0) == 0) return first.substr(5);
        return first.rfind('/', 0) == 0 ? first : std::string();
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime ? std::string(runtime) + "/pulse/native" : std::string();
}

std::string TPulseAudioDevice::ServerText() const {
    const char* env = std::getenv("PULSE_SERVER");
    return env && *env ? std::string(" ") + env : std::string(" (default)");
}

std::string TPulseAudioDevice::PulseError() const {
    return context_ ? pa_strerror(pa_context_errno(context_)) : "no context";
}

void TPulseAudioDevice::ContextStateCb(pa_context* c, void* self) {
    auto* d = static_cast<TPulseAudioDevice*>(self);
    const pa_context_state_t st = pa_context_get_state(c);
    if (c == d->context_ && d->open_.load()) {
        if (!PA_CONTEXT_IS_GOOD(st)) {
            if (d->waiting_)
                d->ScheduleNext();
            else
                d->EnterWaiting("the sound server went away: " + std::string(pa_strerror(pa_context_errno(c))));
        } else if (st == PA_CONTEXT_READY && d->waiting_ && !d->stream_) {
            d->Reconnect();
        }
    }
    pa_threaded_mainloop_signal(d->loop_, 0);
}

void TPulseAudioDevice::StreamStateCb(pa_stream* s, void* self) {
    auto* d = static_cast<TPulseAudioDevice*>(self);
    const pa_stream_state_t st = pa_stream_get_state(s);
    if (s == d->stream_ && d->open_.load()) {
        if (st == PA_STREAM_READY && d->waiting_)
            d->StreamReady();
        else if (!PA_STREAM_IS_GOOD(st))
            d->StreamFailed();
    }
    pa_threaded_mainloop_signal(d->loop_, 0);
}

void TPulseAudioDevice::WriteCb(pa_stream*, size_t, void* self) {
    auto* d = static_cast<TPulseAudioDevice*>(self);
    if (!d->open_.load()) return;
    d->lastRequestUs_ = pa_rtclock_now();
    d->Pump();
    // The request has woken the loop anyway.
    if (!d->waiting_ && d->timer_) {
        d->ReturnFinished();
        pa_context_rttime_restart(d->context_, d->timer_, pa_rtclock_now() + d->NextCheckDelay());
    }
}

void TPulseAudioDevice::UnderflowCb(pa_stream*, void* self) {
    auto* d = static_cast<TPulseAudioDevice*>(self);
    if (!d->open_.load() || d->waiting_) return;
    bool allSent = true;
    for (const Entry& e : d->queue_)
        if (e.sent < e.buffer->Length) allSent = false;
    // Everything handed over has been played: the buffers are done.
    if (allSent) {
        d->drained_ = true;
        d->underrun_ = true;
        d->ReturnFinished();
        return;
    }
    // The server ran dry while data was waiting: the system is too busy for
    // the short buffer; let the server hold more from now on.
    if (d->latencyUs_ < kMaxLatencyUs) {
        d->latencyUs_ = std::min(d->latencyUs_ * 2, kMaxLatencyUs);
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(d->latencyUs_, &d->spec_));
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = MinRequest(attr.tlength);
        attr.fragsize = static_cast<uint32_t>(-1);
        if (pa_operation* op = pa_stream_set_buffer_attr(d->stream_, &attr, nullptr, nullptr)) pa_operation_unref(op);
    }
}

void TPulseAudioDevice::SuccessCb(pa_stream*, int success, void* self) {
    auto* d = static_cast<TPulseAudioDevice*>(self);
    d->operationOk_ = success != 0;
    pa_threaded_mainloop_signal(d->loop_, 0);
}

void TPulseAudioDevice::ContextSuccessCb(pa_context*, int success, void* self) {
    auto* d = static_cast<TPulseAudioDevice*>(self);
    d->operationOk_ = success != 0;
    pa_threaded_mainloop_signal(d->loop_, 0);
}

void TPulseAudioDevice::SinkInputInfoCb(pa_context*, const pa_sink_input_info* info, int eol, void* self) {
    auto* d = static_cast<TPulseAudioDevice*>(self);
    if (info && eol == 0) {
        d->infoVolume_ = info->volume;
        d->volumeKnown_ = true;
    }
    if (eol != 0) d->operationOk_ = eol > 0;
    pa_threaded_mainloop_signal(d->loop_, 0);
}

void TPulseAudioDevice::TimerCb(pa_mainloop_api*, pa_time_event* e, const struct timeval*, void* self) {
    auto* d = static_cast<TPulseAudioDevice*>(self);
    pa_usec_t delay = kRestCheckUs;
    if (d->open_.load() && !d->waiting_) {
        // Nothing came after a reconnection: what there is starts now.
        if (d->resumed_) {
            d->resumed_ = false;
            d->Pump();
        }
        d->ReturnFinished();
        delay = d->NextCheckDelay();
    }
    if (d->context_) pa_context_rttime_restart(d->context_, e, pa_rtclock_now() + delay);
}

void TPulseAudioDevice::RetryCb(pa_mainloop_api* api, pa_time_event* e, const struct timeval*, void* self) {
    api->time_restart(e, nullptr);
    auto* d = static_cast<TPulseAudioDevice*>(self);
    if (d->open_.load() && d->waiting_) d->Reconnect();
}

void TPulseAudioDevice::DeadlineCb(pa_mainloop_api* api, pa_time_event* e, const struct timeval*, void* self) {
    api->time_restart(e, nullptr);
    auto* d = static_cast<TPulseAudioDevice*>(self);
    d->deadline_ = true;
    pa_threaded_mainloop_signal(d->loop_, 0);
}

// Waits (main-loop lock held) until the operation is over; true when it succeeded.
bool TPulseAudioDevice::WaitOperation(pa_operation* op) {
    if (!op) return false;
    operationOk_ = false;
    while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
        if (waiting_ || !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
            pa_operation_cancel(op);
            break;
        }
        pa_threaded_mainloop_wait(loop_);
    }
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    pa_operation_unref(op);
    return done && operationOk_;
}

// The stream's timing asked of the server now (lock held); null when that
// failed.
const pa_timing_info* TPulseAudioDevice::FreshTiming() {
    if (!WaitOperation(pa_stream_update_timing_info(stream_, SuccessCb, this))) return nullptr;
    return pa_stream_get_timing_info(stream_);
}

// Waits (lock held) until `state` says ready (1) or failed (-1), for at most
// kConnectTimeoutUs; true when ready.
template <class State>
bool TPulseAudioDevice::WaitReady(State state) {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    struct timeval tv;
    deadline_ = false;
    api->time_restart(deadlineEvent_, After(&tv, kConnectTimeoutUs));
    int answer;
    while ((answer = state()) == 0 && !deadline_) pa_threaded_mainloop_wait(loop_);
    api->time_restart(deadlineEvent_, nullptr);
    return answer == 1;
}

// Connects a new context (lock held), dropping a dead one, and waits until it
// is ready, for at most kConnectTimeoutUs.
int TPulseAudioDevice::Connect(std::string& detail) {
    DropContext();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Wavelantern");
    if (!context_) return kOutputNoMemory;
    pa_context_set_state_callback(context_, ContextStateCb, this);
    int rc = kOutputOk;
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        rc = kOutputNoServer;
    } else if (!WaitReady([this] {
                   const pa_context_state_t st = pa_context_get_state(context_);
                   return st == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(st) ? 0 : -1;
               })) {
        rc = kOutputNoServer;
    }
    if (rc != kOutputOk) {
        detail = "cannot connect to the sound server" + ServerText() + ": " +
                 (deadline_ ? std::string("it does not answer") : PulseError());
        DropContext();
        return rc;
    }
    everConnected_ = true;
    return kOutputOk;
}

// A new stream for the format, corked when the device is paused, on the named
// sink (`onSink`) or the default one; connected, not yet ready. Lock held.
bool TPulseAudioDevice::NewStream(bool onSink) {
    pa_channel_map map;
    pa_channel_map_init_auto(&map, spec_.channels, PA_CHANNEL_MAP_DEFAULT);
    stream_ = pa_stream_new(context_, "Playback", &spec_, &map);
    if (!stream_) return false;
    pa_stream_set_state_callback(stream_, StreamStateCb, this);
    pa_stream_set_write_callback(stream_, WriteCb, this);
    pa_stream_set_underflow_callback(stream_, UnderflowCb, this);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(latencyUs_, &spec_));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = MinRequest(attr.tlength);
    attr.fragsize = static_cast<uint32_t>(-1);
    pa_cvolume cv;
    pa_cvolume_init(&cv);
    cv.channels = spec_.channels;
    cv.values[0] = ToPulseVolume(volume_);
    if (spec_.channels > 1) cv.values[1] = ToPulseVolume(volume_ >> 16);
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
                                                PA_STREAM_ADJUST_LATENCY);
    if (corked_) flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_START_CORKED);
    const char* device = onSink && !sink_.empty() ? sink_.c_str() : nullptr;
    if (pa_stream_connect_playback(stream_, device, &attr, flags, &cv, nullptr) < 0) {
        DropStream();
        return false;
    }
    return true;
}

// Opens a stream and waits until it is ready (lock held): on the named sink,
// else (it is gone) on the default one.
int TPulseAudioDevice::OpenStream(std::string& detail) {
    for (;;) {
        const bool onSink = !sink_.empty() && !onDefault_;
        const bool ok = NewStream(onSink) && WaitReady([this] {
                            const pa_stream_state_t st = pa_stream_get_state(stream_);
                            return st == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(st) ? 0 : -1;
                        });
        if (ok) return kOutputOk;
        const int error = pa_context_errno(context_);
        detail = "cannot open a playback stream: " + PulseError();
        DropStream();
        if (onSink && error == PA_ERR_NOENTITY) {
            onDefault_ = true;
            ReportState(false, "the sound output \"" + sink_ + "\" is not there: playing on the default output");
            continue;
        }
        return kOutputError;
    }
}

int TPulseAudioDevice::Open(const TPcmFormat& format, DoneCallback onDone) {
    if (open_.load()) return Fail(kOutputAlreadyOpen, {});
    if (format.SampleRate <= 0 || format.SampleRate > static_cast<int32_t>(PA_RATE_MAX) ||
        (format.Channels != 1 && format.Channels != 2) ||
        (format.BitsPerSample != 8 && format.BitsPerSample != 16))
        return Fail(kOutputBadFormat, {});

    if (!loop_) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return Fail(kOutputNoMemory, {});
        if (pa_threaded_mainloop_start(loop_) < 0) {
            pa_threaded_mainloop_free(loop_);
            loop_ = nullptr;
            return Fail(kOutputError, "cannot start the sound server connection thread");
        }
        Lock lock(loop_);
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        retry_ = api->time_new(api, nullptr, RetryCb, this);
        deadlineEvent_ = api->time_new(api, nullptr, DeadlineCb, this);
    }

    Lock lock(loop_);
    spec_.format = format.BitsPerSample == 16 ? PA_SAMPLE_S16LE : PA_SAMPLE_U8;
    spec_.rate = static_cast<uint32_t>(format.SampleRate);
    spec_.channels = static_cast<uint8_t>(format.Channels);
    queue_.clear();
    written_ = 0;
    base_ = 0;
    lastPos_ = 0;
    lastPosUs_ = lastRequestUs_ = 0;
    corked_ = drained_ = underrun_ = waiting_ = false;
    waitingNow_.store(false);
    seekTo_ = -1;
    overwrite_ = 0;
    latencyUs_ = kTargetLatencyUs;
    retryUs_ = kFirstRetryUs;
    onDefault_ = false;  // the named sink may be back

    std::string detail;
    int rc = kOutputOk;
    if (!context_ || pa_context_get_state(context_) != PA_CONTEXT_READY) rc = Connect(detail);
    if (rc == kOutputOk) rc = OpenStream(detail);
    if (rc != kOutputOk) {
        // A server that was there before and a caller that plays: wait for it
        // (it restarts, or a sink comes). Otherwise there is none to wait for.
        if (!everConnected_ || !onDone) return Fail(rc, detail);
        onDone_ = std::move(onDone);
        open_.store(true);
        EnterWaiting(detail);
        return Succeed();
    }
    onDone_ = std::move(onDone);
    timer_ = pa_context_rttime_new(context_, pa_rtclock_now() + kCheckIntervalUs, TimerCb, this);
    open_.store(true);
    return Succeed();
}

void TPulseAudioDevice::DropStream() {
    if (timer_) {
        pa_threaded_mainloop_get_api(loop_)->time_free(timer_);
        timer_ = nullptr;
    }
    if (!stream_) return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void TPulseAudioDevice::DropContext() {
    DropStream();
    if (!context_) return;
    pa_context_set_state_callback(context_, nullptr, nullptr);
    if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) pa_context_disconnect(context_);
    pa_context_unref(context_);
    context_ = nullptr;
}

// The stream is gone (the server went away, or dropped it): keep what is
// queued, stop the clock where the listener stopped hearing, and reconnect.
// Lock held; from a callback, so the stream and context are dropped later.
void TPulseAudioDevice::EnterWaiting(const std::string& why) {
    if (waiting_) return;
    lastPos_ = HeardAtLoss();
    waiting_ = true;
    waitingNow_.store(true);
    retryUs_ = kFirstRetryUs;
    WatchSocket();
    // Underruns before the loss (a suspended process) say nothing about the
    // next stream.
    latencyUs_ = kTargetLatencyUs;
    ReportState(true, why);
    ScheduleNext();
}

void TPulseAudioDevice::ScheduleRetry(pa_usec_t delay) {
    struct timeval tv;
    pa_threaded_mainloop_get_api(loop_)->time_restart(retry_,
                                                     After(&tv, delay));
}

// One attempt (on the loop's thread): a new context when the old one is not
// ready, else a new stream. A failure schedules the next attempt
// (ScheduleNext); one that gets no answer at all is given up when
// kConnectTimeoutUs have passed.
void TPulseAudioDevice::Reconnect() {
    DropStream();
    ScheduleRetry(kConnectTimeoutUs);
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY) {
        if (!NewStream(!sink_.empty() && !onDefault_)) ScheduleNext();
        return;
    }
    DropContext();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Wavelantern");
    if (!context_) {
        ScheduleNext();
        return;
    }
    pa_context_set_state_callback(context_, ContextStateCb, this);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        DropContext();
        ScheduleNext();
    }
}

void TPulseAudioDevice::ScheduleNext() {
    if (appearing_ > 0) {
        --appearing_;
        ScheduleRetry(kAppearRetryUs);
        return;
    }
    ScheduleRetry(retryUs_);
    retryUs_ = std::min(retryUs_ * 2, kMaxRetryUs);
}

// Watches the folder of the server's local socket, so that a server that
// comes back is tried at once rather than when the back-off says.
void TPulseAudioDevice::WatchSocket() {
    if (watchFd_ >= 0) return;
    const std::string path = LocalSocketPath();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 >= path.size()) return;
    watchFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watchFd_ < 0) return;
    if (inotify_add_watch(watchFd_, path.substr(0, slash == 0 ? 1 : slash).c_str(),
                          IN_CREATE | IN_MOVED_TO | IN_ATTRIB) < 0) {
        ::close(watchFd_);
        watchFd_ = -1;
        return;
    }
    watchName_ = path.substr(slash + 1);
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
    watchEvent_ = api->io_new(api, watchFd_, PA_IO_EVENT_INPUT, SocketWatchCb, this);
}

void TPulseAudioDevice::UnwatchSocket() {
    appearing_ = 0;
    if (watchEvent_) pa_threaded_mainloop_get_api(loop_)->io_free(watchEvent_);
    watchEvent_ = nullptr;
    if (watchFd_ >= 0) ::close(watchFd_);
    watchFd_ = -1;
}

void TPulseAudioDevice::SocketWatchCb(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t, void* self) {
    auto* d = static_cast<TPulseAudioDevice*>(self);
    alignas(inotify_event) char buffer[4096];
    bool appeared = false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            if (e->len > 0 && d->watchName_ == e->name) appeared = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
        }
    }
    if (appeared && d->waiting_ && d->open_.load()) {
        d->appearing_ = kAppearAttempts;
        d->ScheduleRetry(kAppearRetryUs);
    }
}

// A stream plays again after a loss: what the listener had not heard yet is
// handed over again, from the position the clock stopped at.
void TPulseAudioDevice::StreamReady() {
    pa_threaded_mainloop_get_api(loop_)->time_restart(retry_, nullptr);
    waiting_ = false;
    waitingNow_.store(false);
    retryUs_ = kFirstRetryUs;
    UnwatchSocket();
    const uint64_t heard = lastPos_;
    while (!queue_.empty() && queue_.front().end <= heard) {
        TOutputBuffer* b = queue_.front().buffer;
        queue_.pop_front();
        b->Queued = false;
        if (onDone_) onDone_(b);
    }
    for (Entry& e : queue_) {
        const uint64_t start = e.end - e.buffer->Length;
        e.sent = heard > start ? static_cast<uint32_t>(heard - start) : 0;
    }
    base_ = -static_cast<int64_t>(heard);
    lastPosUs_ = pa_rtclock_now();
    lastRequestUs_ = 0;
    drained_ = queue_.empty();
    underrun_ = false;
    seekTo_ = -1;
    overwrite_ = 0;
    timer_ = pa_context_rttime_new(context_, pa_rtclock_now() + kCheckIntervalUs, TimerCb, this);
    resumed_ = true;
    ReportState(false, {});
    Pump();
}

// The stream failed: lost while playing, or a new one refused while waiting
// (the named sink is gone: the default one is tried at once).
void TPulseAudioDevice::StreamFailed() {
    if (!waiting_) {
        EnterWaiting("the sound server dropped the stream: " + PulseError());
        return;
    }
    if (!sink_.empty() && !onDefault_ && context_ && pa_context_errno(context_) == PA_ERR_NOENTITY) {
        onDefault_ = true;
        ReportState(true, "the sound output \"" + sink_ + "\" is gone: moving to the default output");
        ScheduleRetry(0);
        return;
    }
    ScheduleNext();
}

// What the listener had heard when the stream was lost: the last reading of
// the server's clock, run on to now unless paused, within what was sent.
uint64_t TPulseAudioDevice::HeardAtLoss() {
    uint64_t unsent = 0;
    for (const Entry& e : queue_) unsent += e.buffer->Length - e.sent;
    const uint64_t sentEnd = written_ - unsent;
    if (drained_) return written_;
    uint64_t pos = lastPos_;
    if (!corked_ && lastPosUs_ != 0) {
        const pa_usec_t now = pa_rtclock_now();
        if (now > lastPosUs_) pos += pa_usec_to_bytes(now - lastPosUs_, &spec_);
    }
    pos = std::max(std::min(pos, sentEnd), lastPos_);
    const size_t frame = pa_frame_size(&spec_);
    return pos - pos % frame;
}

// Frees everything (no callbacks). Safe on a half-opened device.
void TPulseAudioDevice::Teardown() {
    if (!loop_) return;
    {
        Lock lock(loop_);
        open_.store(false);
        for (Entry& e : queue_) e.buffer->Queued = false;
        queue_.clear();
        DropContext();
        UnwatchSocket();
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        if (retry_) api->time_free(retry_);
        if (deadlineEvent_) api->time_free(deadlineEvent_);
        retry_ = deadlineEvent_ = nullptr;
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    onDone_ = nullptr;
}

// Ends the stream; the connection stays for the next Open.
int TPulseAudioDevice::Close() {
    if (!open_.load()) return Fail(kOutputNotOpen, {});
    Lock lock(loop_);
    if (!queue_.empty()) return Fail(kOutputStillPlaying, {});
    pa_threaded_mainloop_get_api(loop_)->time_restart(retry_, nullptr);
    UnwatchSocket();
    DropStream();
    if (context_ && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) DropContext();
    open_.store(false);
    waiting_ = false;
    waitingNow_.store(false);
    onDone_ = nullptr;
    return Succeed();
}

void TPulseAudioDevice::ReturnAll() {
    std::deque<Entry> all;
    all.swap(queue_);
    for (Entry& e : all) e.buffer->Queued = false;
    if (onDone_)
        for (Entry& e : all) onDone_(e.buffer);
}

pa_usec_t TPulseAudioDevice::NextCheckDelay() {
    if (queue_.empty() || corked_ || !stream_) return kRestCheckUs;
    const uint64_t pos = PositionLocked();
    const uint64_t end = queue_.front().end;
    pa_usec_t until = end > pos ? pa_bytes_to_usec(end - pos, &spec_) : 0;
    // While requests come (one per minimum request played), a buffer due
    // before the next one waits for it: it comes back at most one request
    // late, and the loop wakes once instead of twice. The timer is set past
    // the next request, for when they stop (the data ran out).
    const pa_buffer_attr* attr = pa_stream_get_buffer_attr(stream_);
    if (attr && lastRequestUs_ != 0 && !drained_ && !underrun_) {
        const pa_usec_t fallback = lastRequestUs_ + pa_bytes_to_usec(attr->minreq, &spec_) * 3 / 2;
        const pa_usec_t now = pa_rtclock_now();
        if (fallback > now) until = std::max(until, fallback - now);
    }
    return std::clamp(until, kCheckIntervalUs, kIdleCheckUs);
}

void TPulseAudioDevice::ReturnFinished() {
    const uint64_t pos = PositionLocked();
    while (!queue_.empty() && queue_.front().end <= pos && queue_.front().sent >= queue_.front().buffer->Length) {
        TOutputBuffer* b = queue_.front().buffer;
        queue_.pop_front();
        b->Queued = false;
        if (onDone_) onDone_(b);
    }
}

// The stream's playback index in bytes (what the listener hears now).
int64_t TPulseAudioDevice::ServerBytes() {
    pa_usec_t t = 0;
    if (pa_stream_get_time(stream_, &t) < 0) return base_ + static_cast<int64_t>(lastPos_);
    lastPosUs_ = pa_rtclock_now();
    return static_cast<int64_t>(pa_usec_to_bytes(t, &spec_));
}

// While waiting for the server the position stands where the sound stopped.
uint64_t TPulseAudioDevice::PositionLocked() {
    if (waiting_) return lastPos_;
    uint64_t pos;
    if (drained_) {
        pos = written_;
    } else {
        const int64_t played = ServerBytes() - base_;
        pos = std::min<uint64_t>(played > 0 ? static_cast<uint64_t>(played) : 0, written_);
    }
    pos = std::max(pos, lastPos_);
    lastPos_ = pos;
    return pos;
}

// Hands the server as much queued audio as it asks for, in whole frames.
void TPulseAudioDevice::Pump() {
    if (!stream_ || waiting_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return;
    const size_t frame = pa_frame_size(&spec_);
    size_t writable = pa_stream_writable_size(stream_);
    if (writable == static_cast<size_t>(-1)) return;
    if (!underrun_) writable += overwrite_;
    writable -= writable % frame;
    staging_.clear();
    std::vector<std::pair<Entry*, uint32_t>> taken;  // what this round took from each entry
    bool allSent = true;
    for (Entry& e : queue_) {
        const uint32_t left = e.buffer->Length - e.sent;
        if (left == 0) continue;
        const size_t room = writable - staging_.size();
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(left, room));
        if (n) {
            staging_.insert(staging_.end(), e.buffer->Data + e.sent, e.buffer->Data + e.sent + n);
            e.sent += n;
            taken.emplace_back(&e, n);
        }
        if (e.sent < e.buffer->Length) {
            allSent = false;
            break;
        }
    }
    // A trailing piece of a frame: complete it with silence only when nothing
    // more is queued; otherwise keep it back for the next round.
    const size_t partial = staging_.size() % frame;
    if (partial) {
        if (allSent) {
            const uint8_t silence = spec_.format == PA_SAMPLE_U8 ? 0x80 : 0;
            staging_.insert(staging_.end(), frame - partial, silence);
        } else {
            size_t back = partial;
            for (auto it = taken.rbegin(); it != taken.rend() && back; ++it) {
                const uint32_t give = static_cast<uint32_t>(std::min<size_t>(back, it->second));
                it->first->sent -= give;
                back -= give;
            }
            staging_.resize(staging_.size() - partial);
        }
    }
    if (!staging_.empty()) {
        drained_ = false;
        const pa_timing_info* ti = underrun_ ? pa_stream_get_timing_info(stream_) : nullptr;
        if (ti && !ti->read_index_corrupt && ti->read_index >= 0 && !corked_) {
            // Position `sentBefore` plays where the server reads now.
            uint64_t sentBefore = written_;
            for (const Entry& e : queue_) sentBefore -= e.buffer->Length - e.sent;
            sentBefore -= staging_.size();
            base_ = ti->read_index - static_cast<int64_t>(sentBefore);
            pa_stream_write(stream_, staging_.data(), staging_.size(), nullptr, 0, PA_SEEK_RELATIVE_ON_READ);
        } else if (seekTo_ >= 0) {
            pa_stream_write(stream_, staging_.data(), staging_.size(), nullptr, seekTo_, PA_SEEK_ABSOLUTE);
        } else {
            pa_stream_write(stream_, staging_.data(), staging_.size(), nullptr, 0, PA_SEEK_RELATIVE);
        }
        overwrite_ = underrun_ ? 0 : overwrite_ - std::min<uint64_t>(overwrite_, staging_.size());
        underrun_ = false;
        seekTo_ = -1;
    }
    // Start playback even when less than the server's start threshold is queued:
    // there is no more to come for now. (Not right after a reconnection,
    // before the producer has refilled the buffers handed back: the rest of
    // one buffer would start a stream that runs dry at once.)
    if (allSent && !corked_ && !queue_.empty() && !resumed_) {
        if (pa_operation* op = pa_stream_trigger(stream_, nullptr, nullptr)) pa_operation_unref(op);
    }
}

int TPulseAudioDevice::Write(TOutputBuffer* buffer) {
    if (!open_.load()) return Fail(kOutputNotOpen, {});
    Lock lock(loop_);
    if (!buffer || !buffer->Data || buffer->Length > buffer->BufferLength)
        return Fail(kOutputInvalidParam, {});
    if (!buffer->Prepared) return Fail(kOutputUnprepared, {});
    if (buffer->Queued) return Fail(kOutputStillPlaying, {});
    if (!onDone_) return Fail(kOutputNotSupported, "the sound output device was opened without a callback");
    if (waiting_) {
        // Kept until a stream plays again.
        written_ += buffer->Length;
        buffer->Queued = true;
        queue_.push_back(Entry{buffer, written_, 0});
        drained_ = false;
        return Succeed();
    }
    // Where the server reads now, for data that has to start there (ReadPast
    // has just asked).
    if (!underrun_ && ReadPast()) {
        underrun_ = true;
        seekTo_ = -1;
        overwrite_ = 0;
    } else if (underrun_) {
        FreshTiming();
    }
    // A buffer after a pause in the flow may be short: look for it soon.
    if (queue_.empty() && timer_) pa_context_rttime_restart(context_, timer_, pa_rtclock_now() + kCheckIntervalUs);
    written_ += buffer->Length;
    buffer->Queued = true;
    queue_.push_back(Entry{buffer, written_, 0});
    drained_ = false;
    resumed_ = false;
    Pump();
    return Succeed();
}

int TPulseAudioDevice::Pause() {
    if (!open_.load()) return Fail(kOutputNotOpen, {});
    Lock lock(loop_);
    if (waiting_) {
        corked_ = true;  // the next stream starts corked
        return Succeed();
    }
    if (!WaitOperation(pa_stream_cork(stream_, 1, SuccessCb, this)))
        return Fail(kOutputError, "cannot pause the playback stream: " + PulseError());
    corked_ = true;
    return Succeed();
}

int TPulseAudioDevice::Restart() {
    if (!open_.load()) return Fail(kOutputNotOpen, {});
    Lock lock(loop_);
    if (waiting_) {
        corked_ = false;
        return Succeed();
    }
    if (!WaitOperation(pa_stream_cork(stream_, 0, SuccessCb, this)))
        return Fail(kOutputError, "cannot restart the playback stream: " + PulseError());
    corked_ = false;
    if (timer_) pa_context_rttime_restart(context_, timer_, pa_rtclock_now() + kCheckIntervalUs);
    Pump();
    return Succeed();
}

// The server's timing at a reset of a stream that is not corked and still
// has data to play (lock held); null otherwise, or when it cannot be had.
const pa_timing_info* TPulseAudioDevice::TimingAtReset() {
    if (corked_ || drained_ || underrun_ || queue_.empty()) return nullptr;
    const pa_timing_info* ti = FreshTiming();
    if (!ti || ti->read_index_corrupt || ti->read_index < 0) return nullptr;
    return ti;
}

// Where a playing stream's sound stops at a cut (a position; `end` is the
// end of what was handed over; `ti` the server's timing, null when unknown):
// kCutMarginUs after the server's read index when that lies before `end`.
// What the server holds beyond is overwritten with silence, and the next
// write goes to the cut. Lock held.
uint64_t TPulseAudioDevice::CutPlaying(uint64_t end, const pa_timing_info* ti) {
    if (!ti || !ti->playing) return end;
    const size_t frame = pa_frame_size(&spec_);
    // The read index tells what the server may still take. (The play
    // position may run ahead of it, early in a stream: the cut may lie before
    // it, but not before the oldest buffer not yet handed back.)
    const int64_t read = ti->read_index + static_cast<int64_t>(pa_usec_to_bytes(kCutMarginUs, &spec_)) - base_;
    const Entry& oldest = queue_.front();
    uint64_t cut = std::max<uint64_t>(read > 0 ? static_cast<uint64_t>(read) : 0, oldest.end - oldest.buffer->Length);
    cut += (frame - cut % frame) % frame;
    if (cut >= end) return end;
    staging_.assign(end - cut, spec_.format == PA_SAMPLE_U8 ? 0x80 : 0);
    if (pa_stream_write(stream_, staging_.data(), staging_.size(), nullptr, base_ + static_cast<int64_t>(cut),
                        PA_SEEK_ABSOLUTE) < 0)
        return end;
    seekTo_ = base_ + static_cast<int64_t>(cut);
    overwrite_ = end - cut;
    return cut;
}

// Whether the server reads past everything written, or past the cut waiting
// for its first byte: it plays silence or has run dry, and data written where
// it follows would be skipped. Asks the server (lock held); only when nothing
// is queued, so not while data flows.
bool TPulseAudioDevice::ReadPast() {
    if (!queue_.empty() || corked_ || (written_ == 0 && seekTo_ < 0)) return false;
    const pa_timing_info* ti = FreshTiming();
    if (!ti || ti->read_index_corrupt || ti->read_index < 0) return false;
    const int64_t next = seekTo_ >= 0 ? seekTo_ : base_ + static_cast<int64_t>(written_);
    return ti->read_index >= next;
}

int TPulseAudioDevice::Reset() {
    uint64_t end;
    return ResetAt(end);
}

// A playing stream is not flushed (a flush leaves what the sink has rendered
// playing, and where that ends cannot be known): the sound stops at an exact
// byte, kCutMarginUs after the server's read position (CutPlaying), so that
// whatever follows joins on there without a jump. A paused stream is flushed:
// nothing of the old sound may follow a restart. So is one that the server
// has not begun to play (its sink still plays out what it had rendered
// before the stream came, or it waits to prebuffer): nothing of it has been
// heard, the sound stops where the server has read to (0 then: nothing to
// fade out), and what follows is not held up behind what the server holds.
int TPulseAudioDevice::ResetAt(uint64_t& end) {
    if (!open_.load()) return Fail(kOutputNotOpen, {});
    Lock lock(loop_);
    uint64_t unsent = 0;
    for (const Entry& e : queue_) unsent += e.buffer->Length - e.sent;
    end = written_ - unsent;
    const uint64_t heard = PositionLocked();
    if (waiting_) {
        // Nothing plays: the sound stopped where the clock stands.
        end = std::min(end, heard);
        ReturnAll();
        written_ = 0;
        lastPos_ = 0;
        drained_ = underrun_ = false;
        seekTo_ = -1;
        overwrite_ = 0;
        return Succeed();
    }
    const pa_timing_info* ti = TimingAtReset();
    const bool waiting = ti && !ti->playing;
    // What the server has read (its play position, that of the clock
    // interpolated here, runs on before it has begun).
    const uint64_t read = waiting && ti->read_index > base_ ? static_cast<uint64_t>(ti->read_index - base_) : 0;
    const bool flush = corked_ || waiting;
    const bool flushed = !flush || WaitOperation(pa_stream_flush(stream_, SuccessCb, this));
    if (!flush) end = CutPlaying(end, ti);
    ReturnAll();
    written_ = 0;
    lastPos_ = 0;
    drained_ = false;
    if (flush) {
        underrun_ = false;
        seekTo_ = -1;
        overwrite_ = 0;
    }
    if (!flushed) return Fail(kOutputError, "cannot flush the playback stream: " + PulseError());
    if (flush) end = std::min(end, waiting ? read : heard);
    if (!flush) {
        // Position 0 is where the sound stops.
        base_ += static_cast<int64_t>(end);
        return Succeed();
    }
    // After the flush the next byte written plays at the current write index.
    const pa_timing_info* after = FreshTiming();
    base_ = after && !after->write_index_corrupt && after->write_index >= 0 ? after->write_index : ServerBytes();
    return Succeed();
}

int TPulseAudioDevice::GetPosition(uint64_t& bytes) {
    if (!open_.load()) return Fail(kOutputNotOpen, {});
    Lock lock(loop_);
    bytes = PositionLocked();
    return Succeed();
}

int TPulseAudioDevice::SetVolume(uint32_t volume) {
    if (!open_.load()) return Fail(kOutputNotOpen, {});
    Lock lock(loop_);
    if (waiting_) {
        volume_ = volume;  // the next stream starts at it
        return Succeed();
    }
    pa_cvolume cv;
    pa_cvolume_init(&cv);
    cv.channels = spec_.channels;
    cv.values[0] = ToPulseVolume(volume);
    if (spec_.channels > 1) cv.values[1] = ToPulseVolume(volume >> 16);
    if (!WaitOperation(pa_context_set_sink_input_volume(context_, pa_stream_get_index(stream_), &cv,
                                                        ContextSuccessCb, this)))
        return Fail(kOutputError, "cannot set the volume: " + PulseError());
    volume_ = volume;
    return Succeed();
}

int TPulseAudioDevice::GetVolume(uint32_t& volume) {
    if (!open_.load()) return Fail(kOutputNotOpen, {});
    Lock lock(loop_);
    if (waiting_) {
        if (volume_ == 0xFFFFFFFFu) return Fail(kOutputError, "the sound server is away");
        volume = volume_;
        return Succeed();
    }
    volumeKnown_ = false;
    if (!WaitOperation(pa_context_get_sink_input_info(context_, pa_stream_get_index(stream_),
                                                      SinkInputInfoCb, this)) ||
        !volumeKnown_)
        return Fail(kOutputError, "cannot read the volume: " + PulseError());
    const uint32_t left = FromPulseVolume(infoVolume_.values[0]);
    const uint32_t right = infoVolume_.channels > 1 ? FromPulseVolume(infoVolume_.values[1]) : left;
    volume = left | (right << 16);
    return Succeed();
}

}  // namespace

namespace {

struct TSinkQuery {
    std::vector<TOutputInfo>* outputs;
    std::string defaultSink;
    bool serverDone = false;
    bool sinksDone = false;
};

void ServerInfoCb(pa_context*, const pa_server_info* info, void* self) {
    auto* q = static_cast<TSinkQuery*>(self);
    if (info && info->default_sink_name) q->defaultSink = info->default_sink_name;
    q->serverDone = true;
}

void SinkInfoCb(pa_context*, const pa_sink_info* info, int eol, void* self) {
    auto* q = static_cast<TSinkQuery*>(self);
    if (eol != 0) {
        q->sinksDone = true;
        return;
    }
    if (info) q->outputs->push_back({info->name ? info->name : "", info->description ? info->description : "", false});
}

}  // namespace

bool ListPulseOutputs(std::vector<TOutputInfo>& outputs, std::string& error) {
    outputs.clear();
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop) {
        error = "out of memory";
        return false;
    }
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Wavelantern");
    TSinkQuery query{&outputs, {}};
    const pa_usec_t deadline = pa_rtclock_now() + kConnectTimeoutUs;
    bool ok = context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
    bool asked = false;
    while (ok) {
        const pa_context_state_t st = pa_context_get_state(context);
        if (!PA_CONTEXT_IS_GOOD(st) || pa_rtclock_now() > deadline) {
            ok = false;
            break;
        }
        if (st == PA_CONTEXT_READY && !asked) {
            asked = true;
            if (pa_operation* op = pa_context_get_server_info(context, ServerInfoCb, &query)) pa_operation_unref(op);
            if (pa_operation* op = pa_context_get_sink_info_list(context, SinkInfoCb, &query)) pa_operation_unref(op);
        }
        if (query.serverDone && query.sinksDone) break;
        // Wakes at least every 100 ms to watch the deadline.
        pa_mainloop_prepare(loop, 100000);
        pa_mainloop_poll(loop);
        pa_mainloop_dispatch(loop);
    }
    if (!ok) {
        const char* env = std::getenv("PULSE_SERVER");
        error = std::string("cannot ask the sound server") + (env && *env ? std::string(" ") + env : "") + ": " +
                (context && pa_context_errno(context) ? pa_strerror(pa_context_errno(context)) : "it does not answer");
        outputs.clear();
    }
    for (TOutputInfo& o : outputs) o.Default = o.Name == query.defaultSink;
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return ok;
}

std::unique_ptr<TAudioDevice> CreatePulseAudioDevice(const std::string& sink) {
    return std::make_unique<TPulseAudioDevice>(sink);
}

}  // namespace wl

#if defined(__has_feature)
#if __has_feature(thread_sanitizer) && !defined(__SANITIZE_THREAD__)
#define __SANITIZE_THREAD__ 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
// libpulse hands objects between its threads through its own lock-free queues
// and atomics, which ThreadSanitizer cannot see in an uninstrumented library;
// the resulting reports inside its locking are not ours.
extern "C" const char* __tsan_default_suppressions() {
    return "race:pa_mutex_lock\n"
           "race:pa_mutex_unlock\n";
}
#endif
