// The concurrency kit: re-entrant locks, events, and the loop thread's wait,
// message order, barrier, termination and error routing.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "engine/threads.h"
#include "tests/wait_until.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using test::WaitUntil;

// ------------------------------------------------------------------ mutexes

TEST(MutexTest, AbstractBaseRaisesOnBothMethods) {
    TMPAbstractMutex base;
    EXPECT_THROW(base.Acquire(), EAbstractError);
    EXPECT_THROW(base.Release(), EAbstractError);
}

TEST(MutexTest, SimpleMutexIsReentrantAndExcludesOtherThreads) {
    TMPSimpleMutex m;
    TMPAbstractMutex& abstract = m;  // used through the base, as the player does
    abstract.Acquire();
    abstract.Acquire();  // same thread again: must not deadlock
    std::atomic<bool> otherGotIt{false};
    std::thread other([&] {
        m.Acquire();
        otherGotIt = true;
        m.Release();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(otherGotIt.load()) << "another thread entered while the owner held the lock";
    abstract.Release();
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(otherGotIt.load()) << "released once, still held once";
    abstract.Release();
    other.join();
    EXPECT_TRUE(otherGotIt.load());
}

TEST(MutexTest, CountsExactlyUnderContention) {
    TMPSimpleMutex m;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            std::lock_guard<TMPSimpleMutex> outer(m);
            std::lock_guard<TMPSimpleMutex> inner(m);
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

// ------------------------------------------------------------------ events

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
    TMPSimpleEvent e;
    EXPECT_EQ(e.WaitFor(0), kWaitTimeout);
    EXPECT_EQ(e.WaitFor(20), 258u);
    e.SetEvent();
    EXPECT_EQ(e.WaitFor(0), 0u);
    EXPECT_EQ(e.WaitFor(0), 0u) << "a manual-reset event is not consumed by a wait";
    e.ResetEvent();
    EXPECT_EQ(e.WaitFor(10), kWaitTimeout);
}

TEST(EventTest, AutoResetIsConsumedByOneWait) {
    TMPEvent e(true, false);
    EXPECT_EQ(e.WaitFor(0), kWaitObject0);
    EXPECT_EQ(e.WaitFor(0), kWaitTimeout);
}

TEST(EventTest, SetFromAnotherThreadWakesAnUnlimitedWait) {
    TMPSimpleEvent e;
    std::thread setter([&] {
        std::this_thread::sleep_for(30ms);
        e.SetEvent();
    });
    EXPECT_EQ(e.WaitFor(kInfinite), kWaitObject0);
    setter.join();
}

TEST(EventTest, WaitForAnyReportsTheSignalledOneOrTimeout) {
    TMPSimpleEvent a, b;
    TMPEvent* both[] = {&a, &b};
    EXPECT_EQ(WaitForAny(both, 10), kWaitTimeout);
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        b.SetEvent();
    });
    EXPECT_EQ(WaitForAny(both, kInfinite), 1u);
    setter.join();
    a.SetEvent();
    EXPECT_EQ(WaitForAny(both, 0), 0u) << "the first signalled event in the list wins";
}

// ------------------------------------------------------------------ loop thread

class RecordingOwner : public TMPMessageOwner {
public:
    void Dispatch(TMessage& m) override {
        if (hook) hook(m);
        std::lock_guard<std::mutex> lock(mutex);
        messages.push_back(m);
    }
    std::vector<TMessage> Snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return messages;
    }
    size_t Count(uint32_t msg) {
        std::lock_guard<std::mutex> lock(mutex);
        size_t n = 0;
        for (const TMessage& m : messages) n += m.Msg == msg;
        return n;
    }
    std::function<void(TMessage&)> hook;  // set before the thread starts
    std::mutex mutex;
    std::vector<TMessage> messages;
};

TEST(ThreadTest, DispatchesPostedMessagesInOrderWithParameters) {
    RecordingOwner owner;
    TMPLoopThread t(&owner);
    t.PostToThread(0x500, 1, -1);  // before Start: kept until the thread runs
    t.Start();
    for (int i = 2; i <= 50; ++i) t.PostToThread(0x500, static_cast<uintptr_t>(i), -i);
    t.Sync();
    const auto got = owner.Snapshot();
    ASSERT_EQ(got.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(got[i].Msg, 0x500u);
        EXPECT_EQ(got[i].WParam, static_cast<uintptr_t>(i + 1));
        EXPECT_EQ(got[i].LParam, -(i + 1));
    }
}

TEST(ThreadTest, SyncOrdersAfterEarlierPosts) {
    RecordingOwner owner;
    std::atomic<int> handled{0};
    owner.hook = [&](TMessage& m) {
        if (m.Msg == 0x501) {
            std::this_thread::sleep_for(2ms);  // slow handlers: Sync must still wait for them
            ++handled;
        }
    };
    TMPLoopThread t(&owner);
    t.Start();
    for (int i = 0; i < 25; ++i) t.PostToThread(0x501);
    t.Sync();
    EXPECT_EQ(handled.load(), 25);
}

TEST(ThreadTest, SyncMessageSetsTheGivenEvent) {
    TMPLoopThread t(nullptr);  // no owner: nothing is dispatched, sync still works
    t.Start();
    TMPSimpleEvent e;
    t.PostToThread(MPM_THREADSYNC, reinterpret_cast<uintptr_t>(static_cast<TMPEvent*>(&e)), 0);
    EXPECT_EQ(e.WaitFor(10000), kWaitObject0);
}

TEST(ThreadTest, RunEventStepsRepeatAndMessagesAreHandledBetweenSteps) {
    RecordingOwner owner;
    TMPLoopThread* self = nullptr;
    std::atomic<int> steps{0};
    owner.hook = [&](TMessage& m) {
        if (m.Msg == MPM_THREADSTEP && ++steps == 200) self->RunEvent().ResetEvent();
    };
    TMPLoopThread t(&owner);
    self = &t;
    t.Start();
    t.RunEvent().SetEvent();
    // A message posted while steps run is handled without waiting for them to stop.
    t.PostToThread(0x502);
    ASSERT_TRUE(WaitUntil([&] { return owner.Count(0x502) == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return steps.load() >= 200; }));
    t.Sync();
    const int after = steps.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(steps.load(), after) << "steps went on after the run event was reset";
    EXPECT_EQ(owner.Count(MPM_THREADIDLE), 0u) << "no timeout was set";
}

TEST(ThreadTest, TimeoutGivesIdleMessagesAndChangesTakeEffectAtOnce) {
    RecordingOwner owner;
    TMPLoopThread t(&owner);
    t.Start();
    EXPECT_EQ(t.Timeout(), kInfinite);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(owner.Count(MPM_THREADIDLE), 0u);
    // The thread is in an unlimited wait; the new timeout must still apply.
    t.SetTimeout(20);
    ASSERT_TRUE(WaitUntil([&] { return owner.Count(MPM_THREADIDLE) >= 3; }));
    t.SetTimeout(kInfinite);
    t.Sync();
    const size_t idles = owner.Count(MPM_THREADIDLE);
    std::this_thread::sleep_for(80ms);
    EXPECT_LE(owner.Count(MPM_THREADIDLE), idles + 1);
}

TEST(ThreadTest, TerminateEndsABusyLoopThread) {
    RecordingOwner owner;
    std::atomic<int> steps{0};
    owner.hook = [&](TMessage& m) {
        if (m.Msg == MPM_THREADSTEP) {
            ++steps;
            std::this_thread::sleep_for(1ms);
        }
    };
    TMPLoopThread t(&owner);
    t.Start();
    t.RunEvent().SetEvent();  // stays set: the thread never goes idle
    ASSERT_TRUE(WaitUntil([&] { return steps.load() > 10; }));
    t.Terminate();
    EXPECT_EQ(t.EndedEvent().WaitFor(0), kWaitObject0);
    EXPECT_FALSE(t.Running());
    const int after = steps.load();
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(steps.load(), after);
    // Nothing is delivered to an ended thread, and Sync does not wait for it.
    t.PostToThread(0x503);
    t.Sync();
    EXPECT_EQ(owner.Count(0x503), 0u);
}

TEST(ThreadTest, ErrorsGoToOnErrorAndTheLoopContinues) {
    RecordingOwner owner;
    owner.hook = [](TMessage& m) {
        if (m.Msg == 0x504) throw std::runtime_error("step failed");
    };
    TMPLoopThread t(&owner);
    std::mutex mu;
    std::vector<std::string> errors;
    void* seenSender = nullptr;
    t.OnError = [&](void* sender, const std::exception& e, bool& handled) {
        std::lock_guard<std::mutex> lock(mu);
        errors.push_back(e.what());
        seenSender = sender;
        handled = true;
    };
    t.Start();
    t.PostToThread(0x504);
    t.PostToThread(0x505);  // after the failing one: the loop must still run
    t.PostToThread(0x504);
    t.Sync();
    EXPECT_EQ(owner.Count(0x505), 1u);
    std::lock_guard<std::mutex> lock(mu);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "step failed");
    EXPECT_EQ(seenSender, &t);
}

TEST(ThreadTest, UnhandledErrorsReachTheExceptionDisplay) {
    std::mutex mu;
    std::vector<std::string> shown;
    SetShowExceptionHandler([&](const std::exception& e) {
        std::lock_guard<std::mutex> lock(mu);
        shown.push_back(e.what());
    });
    {
        RecordingOwner owner;
        owner.hook = [](TMessage& m) {
            if (m.Msg == 0x506) throw std::runtime_error("nobody handled me");
        };
        TMPLoopThread t(&owner);
        t.OnError = [](void*, const std::exception&, bool& handled) { handled = false; };
        t.Start();
        t.PostToThread(0x506);
        t.Sync();
    }
    SetShowExceptionHandler(nullptr);
    std::lock_guard<std::mutex> lock(mu);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "nobody handled me");
}

TEST(ThreadTest, AForeignExceptionEndsTheThread) {
    RecordingOwner owner;
    owner.hook = [](TMessage& m) {
        if (m.Msg == 0x507) throw 42;  // not a std::exception
    };
    TMPLoopThread t(&owner);
    bool called = false;
    t.OnError = [&](void*, const std::exception&, bool&) { called = true; };
    t.Start();
    t.PostToThread(0x507);
    EXPECT_EQ(t.EndedEvent().WaitFor(10000), kWaitObject0);
    t.Sync();  // returns at once for an ended thread
    EXPECT_FALSE(called);
}

TEST(ThreadTest, LowerPriorityReachesTheThread) {
    RecordingOwner owner;
    std::atomic<int> niceSeen{-100};
    owner.hook = [&](TMessage& m) {
        if (m.Msg == 0x508) {
            errno = 0;
            niceSeen = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
        }
    };
    TMPLoopThread t(&owner);
    t.SetPriority(TThreadPriority::tpLowest);  // before Start: applied when it runs
    t.Start();
    t.PostToThread(0x508);
    t.Sync();
    EXPECT_EQ(t.Priority(), TThreadPriority::tpLowest);
    // A lower priority is a higher nice value (lowering is always allowed).
    EXPECT_GE(niceSeen.load(), 10);
    t.SetPriority(TThreadPriority::tpIdle);
    t.PostToThread(0x508);
    t.Sync();
    EXPECT_EQ(niceSeen.load(), 19);
}

TEST(ThreadTest, DestroyingAnUnstartedThreadDoesNotHang) {
    RecordingOwner owner;
    {
        TMPLoopThread t(&owner);
        t.PostToThread(0x509);
        t.Sync();  // not running: returns at once
    }
    EXPECT_EQ(owner.Count(0x509), 0u);
}

}  // namespace
}  // namespace wl
