#include "engine/threads.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace wl {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------- mutexes

void TMPAbstractMutex::Acquire() { throw EAbstractError(); }
void TMPAbstractMutex::Release() { throw EAbstractError(); }

// ---------------------------------------------------------------- events

TMPEvent::TMPEvent(bool initiallySignalled, bool manualReset)
    : signalled_(initiallySignalled), manualReset_(manualReset) {}

TMPEvent::~TMPEvent() = default;

void TMPEvent::SetEvent() {
    std::vector<std::shared_ptr<TMPEventWatcher>> watchers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
        watchers = watchers_;
        if (manualReset_)
            cv_.notify_all();
        else
            cv_.notify_one();
    }
    // A watcher checks the state under its own mutex before sleeping, so
    // poking it after the state changed cannot be lost.
    for (const auto& w : watchers) w->Poke();
}

void TMPEvent::ResetEvent() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

uint32_t TMPEvent::WaitFor(int32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return signalled_; };
    if (ms < 0) {
        cv_.wait(lock, ready);
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(ms), ready)) {
        return kWaitTimeout;
    }
    if (!manualReset_) signalled_ = false;
    return kWaitObject0;
}

bool TMPEvent::TryConsume() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!signalled_) return false;
    if (!manualReset_) signalled_ = false;
    return true;
}

void TMPEvent::Attach(const std::shared_ptr<TMPEventWatcher>& watcher) {
    std::lock_guard<std::mutex> lock(mutex_);
    watchers_.push_back(watcher);
}

void TMPEvent::Detach(const std::shared_ptr<TMPEventWatcher>& watcher) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find(watchers_.begin(), watchers_.end(), watcher);
    if (it != watchers_.end()) watchers_.erase(it);
}

uint32_t WaitForAny(std::span<TMPEvent* const> events, int32_t ms) {
    auto shared = std::make_shared<TMPEventWatcher>();
    TMPEventWatcher& watcher = *shared;
    for (TMPEvent* e : events) e->Attach(shared);
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max<int32_t>(ms, 0));
    uint32_t result = kWaitTimeout;
    {
        std::unique_lock<std::mutex> lock(watcher.mutex);
        for (;;) {
            bool found = false;
            for (size_t i = 0; i < events.size(); ++i) {
                if (events[i]->TryConsume()) {
                    result = static_cast<uint32_t>(i);
                    found = true;
                    break;
                }
            }
            if (found) break;
            if (ms < 0) {
                watcher.cv.wait(lock);
            } else if (watcher.cv.wait_until(lock, deadline) == std::cv_status::timeout) {
                // One last look: an event set right at the deadline still counts.
                for (size_t i = 0; i < events.size() && result == kWaitTimeout; ++i)
                    if (events[i]->TryConsume()) result = static_cast<uint32_t>(i);
                break;
            }
        }
    }
    for (TMPEvent* e : events) e->Detach(shared);
    return result;
}

// ---------------------------------------------------------------- exception display

namespace {
std::mutex g_showMutex;
std::function<void(const std::exception&)> g_showHandler;
}  // namespace

void SetShowExceptionHandler(std::function<void(const std::exception&)> handler) {
    std::lock_guard<std::mutex> lock(g_showMutex);
    g_showHandler = std::move(handler);
}

void ShowException(const std::exception& error) {
    std::function<void(const std::exception&)> handler;
    {
        std::lock_guard<std::mutex> lock(g_showMutex);
        handler = g_showHandler;
    }
    if (handler)
        handler(error);
    else
        std::fprintf(stderr, "%s\n", error.what());
}

// ---------------------------------------------------------------- loop thread

TMPLoopThread::TMPLoopThread(TMPMessageOwner* owner) : owner_(owner) {
    runEvent_.Attach(wakePtr_);
}

TMPLoopThread::~TMPLoopThread() {
    Terminate();
    {
        std::lock_guard<std::mutex> lock(joinMutex_);
        if (thread_.joinable()) {
            // Destroyed from its own thread (an owner freeing itself in a handler).
            if (thread_.get_id() == std::this_thread::get_id())
                thread_.detach();
            else
                thread_.join();
        }
    }
    runEvent_.Detach(wakePtr_);
}

void TMPLoopThread::Start() {
    std::lock_guard<std::mutex> lock(lifeMutex_);
    if (started_.load()) return;
    started_.store(true);
    thread_ = std::thread([this] { Execute(); });
}

bool TMPLoopThread::IsCurrentThread() const {
    return started_.load() && std::this_thread::get_id() == thread_.get_id();
}

int NiceFor(TThreadPriority p) {
    switch (p) {
        case TThreadPriority::tpIdle: return 19;
        case TThreadPriority::tpLowest: return 10;
        case TThreadPriority::tpLower: return 5;
        case TThreadPriority::tpNormal: return 0;
        case TThreadPriority::tpHigher: return -5;
        case TThreadPriority::tpHighest: return -10;
        case TThreadPriority::tpTimeCritical: return -15;
    }
    return 0;
}

void TMPLoopThread::SetPriority(TThreadPriority priority) {
    std::lock_guard<std::mutex> lock(lifeMutex_);
    priority_ = priority;
    ApplyPriority();
}

TThreadPriority TMPLoopThread::Priority() const {
    std::lock_guard<std::mutex> lock(const_cast<std::mutex&>(lifeMutex_));
    return priority_;
}

// Caller holds lifeMutex_. Linux keeps a nice value per thread; raising the
// priority needs privileges, and a refusal leaves the thread as it was.
void TMPLoopThread::ApplyPriority() {
    const int tid = tid_.load();
    if (tid == 0 || ended_.load()) return;
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceFor(priority_));
}

void TMPLoopThread::PostToThread(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    {
        std::lock_guard<std::mutex> lock(wake_.mutex);
        if (ended_.load()) return;
        queue_.push_back(TMessage{msg, wParam, lParam, 0});
    }
    wake_.cv.notify_all();
}

void TMPLoopThread::Sync() {
    if (!Running() || IsCurrentThread()) return;
    TMPSimpleEvent done;
    PostToThread(MPM_THREADSYNC, reinterpret_cast<uintptr_t>(static_cast<TMPEvent*>(&done)), 0);
    TMPEvent* events[] = {&done, &endedEvent_};
    WaitForAny(events, kInfinite);
}

void TMPLoopThread::Terminate() {
    if (!started_.load()) return;
    PostToThread(MPM_THREADQUIT, 0, 0);
    if (IsCurrentThread()) return;
    // Not under lifeMutex_: the thread takes it as it starts.
    std::lock_guard<std::mutex> lock(joinMutex_);
    if (thread_.joinable()) thread_.join();
}

void TMPLoopThread::SetTimeout(int32_t ms) {
    {
        std::lock_guard<std::mutex> lock(wake_.mutex);
        if (timeout_.load() == ms) return;
        timeout_.store(ms);
        ++timeoutGeneration_;
    }
    wake_.cv.notify_all();
}

void TMPLoopThread::Execute() {
    tid_.store(static_cast<int>(::syscall(SYS_gettid)));
    {
        std::lock_guard<std::mutex> lock(lifeMutex_);
        if (priority_ != TThreadPriority::tpNormal) ApplyPriority();
    }
    try {
        Loop();
    } catch (...) {
        // Anything that is not a std::exception ends the thread.
    }
    {
        std::lock_guard<std::mutex> lock(wake_.mutex);
        ended_.store(true);
        queue_.clear();
    }
    endedEvent_.SetEvent();
}

TMPLoopThread::WaitResult TMPLoopThread::WaitForWork() {
    std::unique_lock<std::mutex> lock(wake_.mutex);
    uint64_t generation = timeoutGeneration_;
    int32_t timeout = timeout_.load();
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max<int32_t>(timeout, 0));
    for (;;) {
        if (runEvent_.TryConsume()) return WaitResult::Event;
        if (!queue_.empty()) return WaitResult::Message;
        if (generation != timeoutGeneration_) {
            // The timeout changed while waiting: the new one counts from now.
            generation = timeoutGeneration_;
            timeout = timeout_.load();
            deadline = Clock::now() + std::chrono::milliseconds(std::max<int32_t>(timeout, 0));
        }
        if (timeout < 0) {
            wake_.cv.wait(lock);
        } else if (wake_.cv.wait_until(lock, deadline) == std::cv_status::timeout) {
            if (runEvent_.TryConsume()) return WaitResult::Event;
            if (!queue_.empty()) return WaitResult::Message;
            if (generation != timeoutGeneration_) continue;
            return WaitResult::Timeout;
        }
    }
}

bool TMPLoopThread::DrainQueue() {
    for (;;) {
        TMessage m;
        {
            std::lock_guard<std::mutex> lock(wake_.mutex);
            if (queue_.empty()) return true;
            m = queue_.front();
            queue_.pop_front();
        }
        switch (m.Msg) {
            case MPM_THREADQUIT:
                return false;
            case MPM_THREADSYNC:
                if (m.WParam) reinterpret_cast<TMPEvent*>(m.WParam)->SetEvent();
                break;
            default:
                DispatchToOwner(m.Msg, m.WParam, m.LParam);
                break;
        }
    }
}

void TMPLoopThread::DispatchToOwner(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (!owner_) return;
    TMessage m{msg, wParam, lParam, 0};
    owner_->Dispatch(m);
}

void TMPLoopThread::HandleError(const std::exception& error) {
    bool handled = false;
    if (OnError) OnError(this, error, handled);
    if (!handled) ShowException(error);
}

void TMPLoopThread::Loop() {
    for (;;) {
        try {
            switch (WaitForWork()) {
                case WaitResult::Event:
                    DispatchToOwner(MPM_THREADSTEP, 0, 0);
                    break;
                case WaitResult::Timeout:
                    DispatchToOwner(MPM_THREADIDLE, 0, 0);
                    break;
                case WaitResult::Message:
                    break;
            }
            if (!DrainQueue()) return;
        } catch (const std::exception& error) {
            try {
                HandleError(error);
            } catch (const std::exception& nested) {
                ShowException(nested);
            }
        }
    }
}

}  // namespace wl
