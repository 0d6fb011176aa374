// The player's message window: a thread-safe queue of numbered messages that
// any thread may post to and that the host drains on its own thread. Handlers
// (and so every event of the player) run only while the host drains.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "engine/threads.h"

namespace wl {

class TMessageQueue {
public:
    using Handler = std::function<void(TMessage& message)>;
    using WakeCallback = std::function<void()>;

    explicit TMessageQueue(Handler handler);
    ~TMessageQueue();
    TMessageQueue(const TMessageQueue&) = delete;
    TMessageQueue& operator=(const TMessageQueue&) = delete;

    // Posts unconditionally; false when the queue is closed.
    bool Post(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    // Posts only when no message with this number is pending; false when it
    // was skipped or the queue is closed.
    bool PostOnce(uint32_t msg, uintptr_t wParam = 0, intptr_t lParam = 0);
    bool Pending(uint32_t msg) const;
    // Drops every pending message with this number (a handler calls it to
    // coalesce repeats of the message it is handling).
    void RemovePending(uint32_t msg);
    size_t Count() const;

    // Handles pending messages on the calling thread, including those posted
    // while it runs; answers how many were handled.
    size_t ProcessMessages();
    // Waits until a message is pending or ms pass (negative: no limit);
    // answers whether one is pending. Does not handle it.
    bool WaitForMessage(int32_t ms);

    // Called on the posting thread after each post, so that a host with an
    // event loop of its own can schedule a drain. Must not block.
    void SetWakeCallback(WakeCallback callback);

    // Refuses further posts and hands back what is still pending; used when
    // the owner goes away.
    std::deque<TMessage> Close();
    bool Closed() const;

private:
    bool PostLocked(std::unique_lock<std::mutex>& lock, const TMessage& message);

    Handler handler_;
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<TMessage> queue_;
    WakeCallback wake_;
    bool closed_ = false;
};

}  // namespace wl
