// Waiting in the application tests: the same polling as the engine tests,
// with the event loop run between the checks (timers, queued calls, replies
// from the bus).
#pragma once

#include <QCoreApplication>
#include <QThread>

#include <chrono>

#include "tests/wait_until.h"

namespace wl::test {

// Runs events until `cond` holds or `ms` pass; the last check decides.
template <class Cond>
bool RunEventsUntil(Cond cond, int ms = 5000) {
    return WaitUntil(cond, std::chrono::milliseconds(ms), [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    });
}

// Runs events for `ms`.
inline void RunEvents(int ms) {
    RunEventsUntil([] { return false; }, ms);
}

}  // namespace wl::test
