// A live source for player tests: the bytes of a stream, released by the test
// (as a network would deliver them), with breaks and titles at chosen audio
// positions.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "io/live_source.h"

namespace wl::test {

class TFakeLiveSource final : public TLiveSource {
public:
    explicit TFakeLiveSource(std::vector<uint8_t> bytes, int64_t prebuffer = 16384)
        : bytes_(std::move(bytes)), prebuffer_(prebuffer) {}

    // The test side (its thread plays the network's).
    void Release(int64_t upTo) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            released_ = std::clamp<int64_t>(upTo, released_, static_cast<int64_t>(bytes_.size()));
            if (state_ == TLiveState::Connecting) state_ = TLiveState::Streaming;
        }
        Wake();
    }
    int64_t Released() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return released_;
    }
    int64_t Size() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return state_ == TLiveState::Ended ? static_cast<int64_t>(bytes_.size()) : TPipeStream::kUnknownSize;
    }
    void AddBreak(int64_t at) {
        std::lock_guard<std::mutex> lock(mutex_);
        breaks_.push_back(at);
    }
    void AddTitle(int64_t at, std::string title) {
        std::lock_guard<std::mutex> lock(mutex_);
        titles_.push_back({at, std::move(title)});
    }
    void SetState(TLiveState state, std::string error = {}) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            state_ = state;
            error_ = std::move(error);
        }
        Wake();
    }
    std::atomic<int> restarts{0};

    // TStream.
    int64_t Position() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return position_;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (origin == TSeekOrigin::soCurrent) offset += position_;
        if (origin == TSeekOrigin::soEnd) offset += TPipeStream::kUnknownSize;
        if (offset < 0) throw EMP3Error("seek before the start");
        position_ = offset;
        return position_;
    }
    size_t Read(void* buffer, size_t count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const int64_t n = std::min<int64_t>(static_cast<int64_t>(count), Limit() - position_);
        if (n <= 0) return 0;
        std::memcpy(buffer, bytes_.data() + position_, static_cast<size_t>(n));
        position_ += n;
        return static_cast<size_t>(n);
    }

    // TLiveSource.
    void Start() override {}
    void Restart() override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++restarts;
            position_ = std::max(position_, released_);
            breaks_.push_back(position_);
        }
        Wake();
    }
    TLiveState State() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return state_;
    }
    std::string Error() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return error_;
    }
    std::string StateText() const override { return "reconnecting"; }
    TStationFacts Facts() const override { return {"Test Station", "", "", "http://test/", "audio/mpeg", 128, 0}; }
    std::string ListBody() const override { return {}; }
    int64_t Available() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::max<int64_t>(Limit() - position_, 0);
    }
    int64_t PrebufferBytes() const override { return prebuffer_; }
    bool AtBreak() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return NextBreak() == position_;
    }
    void PassBreak() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (NextBreak() == position_) ++passed_;
    }
    std::vector<TLiveTitle> TakeTitles() override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<TLiveTitle> out;
        while (takenTitles_ < titles_.size() && titles_[takenTitles_].position <= released_)
            out.push_back(titles_[takenTitles_++]);
        return out;
    }
    void SetOnData(std::function<void()> handler) override {
        std::lock_guard<std::mutex> lock(handlerMutex_);
        onData_ = std::move(handler);
    }

private:
    void Wake() {
        std::lock_guard<std::mutex> lock(handlerMutex_);
        if (onData_) onData_();
    }
    int64_t NextBreak() const {
        std::vector<int64_t> b = breaks_;
        std::sort(b.begin(), b.end());
        return passed_ < b.size() ? b[passed_] : -1;
    }
    int64_t Limit() const {
        const int64_t next = NextBreak();
        return next >= 0 ? std::min(released_, next) : released_;
    }

    mutable std::mutex mutex_;
    std::vector<uint8_t> bytes_;
    int64_t prebuffer_;
    int64_t released_ = 0;
    int64_t position_ = 0;
    std::vector<int64_t> breaks_;
    size_t passed_ = 0;
    std::vector<TLiveTitle> titles_;
    size_t takenTitles_ = 0;
    TLiveState state_ = TLiveState::Connecting;
    std::string error_;
    std::mutex handlerMutex_;
    std::function<void()> onData_;
};

}  // namespace wl::test
