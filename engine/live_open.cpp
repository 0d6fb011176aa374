#include "engine/live_open.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "engine/http_source.h"

namespace wl {

std::unique_ptr<TLiveSource> OpenStation(const std::string& url, const std::string& codePage) {
    THttpOptions options;
    if (!codePage.empty()) options.codePage = codePage;
    return std::make_unique<THttpSource>(url, std::move(options));
}

TPrebufferResult WaitForPrebuffer(TLiveSource& source, const std::function<bool()>& cancelled,
                                  const std::function<void(int percent)>& progress) {
    // Shared with the source's thread, which may call the handler until it is replaced.
    struct TWake {
        std::mutex mutex;
        std::condition_variable cv;
        bool news = false;
    };
    auto wake = std::make_shared<TWake>();
    source.SetOnData([wake] {
        std::lock_guard<std::mutex> lock(wake->mutex);
        wake->news = true;
        wake->cv.notify_one();
    });
    int shown = -1;
    TPrebufferResult result = TPrebufferResult::Cancelled;
    for (;;) {
        if (cancelled && cancelled()) break;
        const TLiveState state = source.State();
        const int64_t have = source.Available();
        if (state == TLiveState::List) {
            result = TPrebufferResult::List;
            break;
        }
        if (state == TLiveState::Failed || state == TLiveState::Ended) {
            result = have > 0 ? TPrebufferResult::Ready : TPrebufferResult::Failed;
            break;
        }
        const int64_t want = std::max<int64_t>(source.PrebufferBytes(), 1);
        if (have >= want) {
            result = TPrebufferResult::Ready;
            break;
        }
        const int percent = static_cast<int>(std::min<int64_t>(have * 100 / want, 99));
        if (percent != shown && progress) progress(percent);
        shown = percent;
        std::unique_lock<std::mutex> lock(wake->mutex);
        wake->cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return wake->news; });
        wake->news = false;
    }
    source.SetOnData(nullptr);
    return result;
}

struct TWaitingLiveStream::TWake {
    std::mutex mutex;
    std::condition_variable cv;
    bool news = false;
};

TWaitingLiveStream::TWaitingLiveStream(TLiveSource& source, std::function<bool()> cancelled,
                                       std::function<void(const TLiveTitle&)> onTitle)
    : source_(source), cancelled_(std::move(cancelled)), onTitle_(std::move(onTitle)),
      wake_(std::make_shared<TWake>()) {
    source_.SetOnData([wake = wake_] {
        std::lock_guard<std::mutex> lock(wake->mutex);
        wake->news = true;
        wake->cv.notify_one();
    });
}

TWaitingLiveStream::~TWaitingLiveStream() { source_.SetOnData(nullptr); }

size_t TWaitingLiveStream::Read(void* buffer, size_t count) {
    for (;;) {
        if (onTitle_) {
            for (const TLiveTitle& t : source_.TakeTitles()) onTitle_(t);
        }
        const size_t got = source_.Read(buffer, count);
        if (got > 0 || count == 0) return got;
        if (source_.Position() >= TPipeStream::kUnknownSize / 2) return 0;  // a look beyond the data
        if (source_.AtBreak()) {
            source_.PassBreak();
            continue;
        }
        const TLiveState state = source_.State();
        if (state != TLiveState::Connecting && state != TLiveState::Streaming && state != TLiveState::Reconnecting)
            return 0;
        if (cancelled_ && cancelled_()) return 0;
        std::unique_lock<std::mutex> lock(wake_->mutex);
        wake_->cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return wake_->news; });
        wake_->news = false;
    }
}

}  // namespace wl
