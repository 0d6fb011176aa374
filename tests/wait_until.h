// Waiting in tests for something another thread (or the event loop) brings
// about: one polling loop, with a step run between the checks.
#pragma once

#include <chrono>
#include <thread>

namespace wl::test {

// Checks `cond` until it holds or `limit` has passed, running `step` between
// the checks; the last check decides.
template <class Cond, class Step>
bool WaitUntil(Cond cond, std::chrono::milliseconds limit, Step step) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end) return cond();
        step();
    }
    return true;
}

// Polls `cond` every 2 ms until it holds or `limit` has passed.
template <class Cond>
bool WaitUntil(Cond cond, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return WaitUntil(cond, limit, [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); });
}

}  // namespace wl::test
