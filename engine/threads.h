// The engine's concurrency kit: re-entrant locks, manual- and auto-reset
// events, and TMPLoopThread, a worker that turns its run event, its message
// queue and an idle timeout into numbered messages dispatched to an owner.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "io/errors.h"

namespace wl {

// Raised by the abstract methods of the base classes.
class EAbstractError : public EMP3Error {
public:
    EAbstractError() : EMP3Error("Abstract Error") {}
};

// Wait results and the "no limit" timeout.
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr int32_t kInfinite = -1;

class TMPAbstractMutex {
public:
    virtual ~TMPAbstractMutex() = default;
    virtual void Acquire();
    virtual void Release();
    // So std::lock_guard / std::unique_lock work on every mutex of the kit.
    void lock() { Acquire(); }
    void unlock() { Release(); }
};

// A critical section, re-entrant for the owning thread.
class TMPSimpleMutex : public TMPAbstractMutex {
public:
    void Acquire() override { mutex_.lock(); }
    void Release() override { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

// Something that sleeps until one of several events may have become signalled.
// An event pokes every attached watcher when it is set; the watcher re-checks.
struct TMPEventWatcher {
    std::mutex mutex;
    std::condition_variable cv;
    void Poke() {
        std::lock_guard<std::mutex> lock(mutex);
        cv.notify_all();
    }
};

class TMPEvent {
public:
    // The security attributes and name of the platform call have no meaning here.
    TMPEvent(bool initiallySignalled, bool manualReset);
    virtual ~TMPEvent();
    TMPEvent(const TMPEvent&) = delete;
    TMPEvent& operator=(const TMPEvent&) = delete;

    void SetEvent();
    void ResetEvent();
    // 0 (kWaitObject0) when signalled, 258 (kWaitTimeout) when ms passed first;
    // a negative ms waits without limit.
    uint32_t WaitFor(int32_t ms);

    bool ManualReset() const { return manualReset_; }

    // Signalled state, consumed for an auto-reset event. For waits over several objects.
    bool TryConsume();
    // Watchers are shared so that a SetEvent racing with the end of a wait
    // never pokes a destroyed watcher.
    void Attach(const std::shared_ptr<TMPEventWatcher>& watcher);
    void Detach(const std::shared_ptr<TMPEventWatcher>& watcher);

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool signalled_;
    const bool manualReset_;
    std::vector<std::shared_ptr<TMPEventWatcher>> watchers_;
};

// Every event in the player: manual reset, not signalled at creation.
class TMPSimpleEvent : public TMPEvent {
public:
    TMPSimpleEvent() : TMPEvent(false, true) {}
};

// Waits until any of the events is signalled: returns its index, or
// kWaitTimeout when ms passed first (negative ms: no limit). The first
// signalled event in the list wins.
uint32_t WaitForAny(std::span<TMPEvent* const> events, int32_t ms);

// Loop-thread messages (numbers fixed).
inline constexpr uint32_t MPM_THREADQUIT = 0x41E;
inline constexpr uint32_t MPM_THREADSTEP = 0x41F;
inline constexpr uint32_t MPM_THREADSYNC = 0x420;
inline constexpr uint32_t MPM_THREADIDLE = 0x421;

struct TMessage {
    uint32_t Msg = 0;
    uintptr_t WParam = 0;
    intptr_t LParam = 0;
    intptr_t Result = 0;
};

// The object a loop thread dispatches its messages to. Messages without a
// handler are simply ignored by the implementation.
class TMPMessageOwner {
public:
    virtual ~TMPMessageOwner() = default;
    virtual void Dispatch(TMessage& message) = 0;
};

// (Sender, exception, var handled). Runs on the failing thread.
using TMPErrorEvent = std::function<void(void* sender, const std::exception& error, bool& handled)>;

// The application's standard exception display; by default a line on stderr.
// Installed by the application; called from worker threads when an error
// stays unhandled.
void SetShowExceptionHandler(std::function<void(const std::exception&)> handler);
void ShowException(const std::exception& error);

enum class TThreadPriority : uint8_t {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

// The nice value that stands for a thread priority on Linux.
int NiceFor(TThreadPriority p);

class TMPLoopThread {
public:
    // Created suspended; set OnError, then Start.
    explicit TMPLoopThread(TMPMessageOwner* owner);
    ~TMPLoopThread();
    TMPLoopThread(const TMPLoopThread&) = delete;
    TMPLoopThread& operator=(const TMPLoopThread&) = delete;

    void Start();
    // Best effort: a nice value for the thread; refused raises are ignored.
    void SetPriority(TThreadPriority priority);
    TThreadPriority Priority() const;

    // Queues a message; nothing when the thread has ended.
    void PostToThread(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    // Returns once everything posted before has been handled (or the thread ended).
    void Sync();
    // Posts MPM_THREADQUIT and waits for the thread to end.
    void Terminate();

    // ms for the loop's wait; -1 = no limit. A change takes effect at once.
    void SetTimeout(int32_t ms);
    int32_t Timeout() const { return timeout_.load(); }

    TMPSimpleEvent& RunEvent() { return runEvent_; }
    // Set when the thread has ended (or was never started and is destroyed).
    TMPEvent& EndedEvent() { return endedEvent_; }
    bool Running() const { return started_.load() && !ended_.load(); }
    bool IsCurrentThread() const;

    TMPMessageOwner* Owner() const { return owner_; }
    TMPErrorEvent OnError;

private:
    enum class WaitResult { Event, Message, Timeout };

    void Execute();
    void Loop();
    WaitResult WaitForWork();
    bool DrainQueue();  // false when MPM_THREADQUIT was met
    void DispatchToOwner(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void HandleError(const std::exception& error);
    void ApplyPriority();

    TMPMessageOwner* owner_;
    TMPSimpleEvent runEvent_;
    TMPEvent endedEvent_{false, true};
    std::atomic<int32_t> timeout_{kInfinite};

    // Guards the queue; its condition variable is the loop's one wait.
    std::shared_ptr<TMPEventWatcher> wakePtr_ = std::make_shared<TMPEventWatcher>();
    TMPEventWatcher& wake_ = *wakePtr_;
    std::deque<TMessage> queue_;
    uint64_t timeoutGeneration_ = 0;

    std::thread thread_;
    std::mutex lifeMutex_;  // start, priority
    std::mutex joinMutex_;  // joining
    std::atomic<bool> started_{false};
    std::atomic<bool> ended_{false};
    std::atomic<int> tid_{0};
    TThreadPriority priority_ = TThreadPriority::tpNormal;
};

}  // namespace wl
