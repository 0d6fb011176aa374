#include "engine/message_queue.h"

#include <algorithm>
#include <chrono>

namespace wl {

TMessageQueue::TMessageQueue(Handler handler) : handler_(std::move(handler)) {}

TMessageQueue::~TMessageQueue() = default;

bool TMessageQueue::PostLocked(std::unique_lock<std::mutex>& lock, const TMessage& message) {
    if (closed_) return false;
    queue_.push_back(message);
    WakeCallback wake = wake_;
    lock.unlock();
    cv_.notify_all();
    if (wake) wake();
    return true;
}

bool TMessageQueue::Post(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    std::unique_lock<std::mutex> lock(mutex_);
    return PostLocked(lock, TMessage{msg, wParam, lParam, 0});
}

bool TMessageQueue::PostOnce(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (const TMessage& m : queue_) {
        if (m.Msg == msg) return false;
    }
    return PostLocked(lock, TMessage{msg, wParam, lParam, 0});
}

bool TMessageQueue::Pending(uint32_t msg) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(queue_.begin(), queue_.end(), [msg](const TMessage& m) { return m.Msg == msg; });
}

void TMessageQueue::RemovePending(uint32_t msg) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(queue_, [msg](const TMessage& m) { return m.Msg == msg; });
}

size_t TMessageQueue::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

size_t TMessageQueue::ProcessMessages() {
    size_t handled = 0;
    for (;;) {
        TMessage message;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty()) break;
            message = queue_.front();
            queue_.pop_front();
        }
        ++handled;
        if (handler_) handler_(message);
    }
    return handled;
}

bool TMessageQueue::WaitForMessage(int32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return !queue_.empty(); };
    if (ms < 0) {
        cv_.wait(lock, ready);
        return true;
    }
    return cv_.wait_for(lock, std::chrono::milliseconds(ms), ready);
}

void TMessageQueue::SetWakeCallback(WakeCallback callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_ = std::move(callback);
}

std::deque<TMessage> TMessageQueue::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    std::deque<TMessage> rest;
    rest.swap(queue_);
    return rest;
}

bool TMessageQueue::Closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

}  // namespace wl
