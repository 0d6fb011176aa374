// Live streams: waiting for bytes instead of ending, breaks of reconnection,
// titles told when heard, and resuming live after a long pause.
#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/mp3_player.h"

namespace wl {
namespace {

// Bytes kept ahead of each frame decoded: more than the longest frame (a
// free-format Layer I/II frame stays below 4 KB) and its next header.
constexpr int32_t kLiveAhead = 8192;
// Short of bytes, the output counts as run dry with this little queued, and
// its partly filled buffer is queued with less than this.
constexpr int64_t kLiveDryMs = 20;
constexpr int64_t kLiveFlushMs = 600;
// How often a step short of bytes looks again while the output plays.
constexpr auto kLivePoll = std::chrono::milliseconds(20);

}  // namespace

void TMP3Player::OpenLive() {
    liveBuffering_ = false;
    liveStarted_ = false;
    liveEndTold_ = false;
    liveShownPercent_ = -1;
    liveTitles_.clear();
    liveTitle_.clear();
    {
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        liveHeard_.clear();
    }
    {
        std::lock_guard<std::mutex> lock(liveNewsMutex_);
        liveNews_.clear();  // of a stream closed before the host heard them
    }
    // Bytes that arrive wake a step that waits for them (and only then: a
    // stopped player must not decode).
    live_->SetOnData([this] {
        if (liveWaiting_.load()) thread_->RunEvent().SetEvent();
    });
}

void TMP3Player::PostLive(TLiveNews news) {
    {
        std::lock_guard<std::mutex> lock(liveNewsMutex_);
        liveNews_.push_back(std::move(news));
    }
    PostOnce(MPM_LIVENEWS);
}

void TMP3Player::DeliverLiveNews() {
    std::vector<TLiveNews> news;
    {
        std::lock_guard<std::mutex> lock(liveNewsMutex_);
        news.swap(liveNews_);
    }
    for (const TLiveNews& n : news) {
        if (!live_) break;  // closed meanwhile: old news
        if (n.kind == TLiveNews::TKind::Title) liveTitle_ = n.text;
        if (OnLiveNews) OnLiveNews(this, n);
    }
}

TMP3Player::TLiveStep TMP3Player::LiveReady() {
    TLiveSource& s = *live_;
    TMPSimpleEvent& run = thread_->RunEvent();
    // Waiting for arrivals from the start: one that comes while we look is
    // not lost. A step that may decode sets the event again.
    liveWaiting_.store(true);
    run.ResetEvent();
    const auto go = [&] {
        liveWaiting_.store(false);
        run.SetEvent();
        return TLiveStep::Decode;
    };
    const auto topUp = [&] {
        while (reader_.Count() < kLiveAhead) {
            const int32_t before = reader_.Count();
            reader_.FillMore();
            if (reader_.Count() == before) break;
        }
    };
    for (TLiveTitle& t : s.TakeTitles()) liveTitles_.push_back(std::move(t));
    const TLiveState state = s.State();
    const bool more = state == TLiveState::Connecting || state == TLiveState::Streaming ||
                      state == TLiveState::Reconnecting;
    if (!more && !liveEndTold_) {
        liveEndTold_ = true;
        if (state == TLiveState::Failed) PostLive({TLiveNews::TKind::Failed, 0, s.Error()});
    }
    topUp();
    if (reader_.Count() < kLiveAhead && s.AtBreak()) {
        // What is left before the break is less than a frame with certainty:
        // dropped, and the decoder starts afresh on the new connection's bytes.
        s.PassBreak();
        reader_.Seek(s.Position(), TSeekOrigin::soBeginning);
        walk_.nextFrameLength = 0;
        walk_.needSetup = true;
        walk_.resyncCount = 0;
        liveBuffering_ = true;
        topUp();
    }
    if (liveBuffering_) {
        const int64_t want = std::max<int64_t>(s.PrebufferBytes(), 1);
        const int64_t have = s.Available() + reader_.Count();
        if (have < want && more) {
            const auto percent = static_cast<int32_t>(std::min<int64_t>(have * 100 / want, 99));
            if (percent != liveShownPercent_) {
                liveShownPercent_ = percent;
                PostLive({TLiveNews::TKind::Buffering, percent,
                          state == TLiveState::Reconnecting ? s.StateText() : std::string()});
            }
            return TLiveStep::Wait;
        }
        liveBuffering_ = false;
        liveShownPercent_ = -1;
        {
            std::lock_guard<TMPSimpleMutex> out(outputLock_);
            output_->FadeInNext();
        }
        PostLive({TLiveNews::TKind::Playing, 100, {}});
        topUp();
    }
    if (reader_.Count() >= kLiveAhead || !more) return go();
    // Short of bytes. While the output has sound queued this is no underrun:
    // the step looks again in a moment (or at the next arrival). A partly
    // filled buffer is queued before the device could run dry waiting for it.
    {
        std::lock_guard<TMPSimpleMutex> out(outputLock_);
        try {
            playedBytes_ += output_->GetDoneBytes();
        } catch (const std::exception&) {
        }
        LiveHeard();
        const int64_t perMs = std::max<int64_t>(int64_t{sampleRate_} * channels_ * 2 / 1000, 1);
        const int64_t queuedMs = (writtenBytes_ - playedBytes_) / perMs;
        if (queuedMs > kLiveDryMs) {
            if (queuedMs < kLiveFlushMs) output_->Flush();
            liveWaiting_.store(false);
            run.SetEvent();
            return TLiveStep::Poll;
        }
    }
    // An underrun: the output has played all it had; the buffer fills again.
    liveBuffering_ = true;
    liveShownPercent_ = 0;
    PostLive({TLiveNews::TKind::Buffering, 0, state == TLiveState::Reconnecting ? s.StateText() : std::string()});
    return TLiveStep::Wait;
}

void TMP3Player::LivePoll() { std::this_thread::sleep_for(kLivePoll); }

void TMP3Player::LiveStamp(int64_t frameEnd) {
    if (liveTitles_.empty() || liveTitles_.front().position >= frameEnd) return;
    std::lock_guard<TMPSimpleMutex> out(outputLock_);
    while (!liveTitles_.empty() && liveTitles_.front().position < frameEnd) {
        liveHeard_.emplace_back(writtenBytes_, std::move(liveTitles_.front().title));
        liveTitles_.pop_front();
    }
}

void TMP3Player::LiveHeard() {
    while (!liveHeard_.empty() && liveHeard_.front().first <= playedBytes_) {
        PostLive({TLiveNews::TKind::Title, 0, std::move(liveHeard_.front().second)});
        liveHeard_.pop_front();
    }
}

void TMP3Player::RestartLive() {
    ++playGeneration_;
    try {
        playedBytes_ += output_->GetDoneBytes();
    } catch (const std::exception&) {
    }
    // Nothing of the old buffer may sound: dropped without a tail.
    output_->Reset();
    output_->FadeInNext();
    messages_.RemovePending(MPM_ENDOFSTREAM);
    writtenBytes_ = playedBytes_;
    liveHeard_.clear();
    liveTitles_.clear();
    pcmPending_ = 0;
    live_->Restart();
    // The reader follows the source past the bytes it dropped.
    reader_.Seek(live_->Position(), TSeekOrigin::soBeginning);
    walk_.nextFrameLength = 0;
    walk_.needSetup = true;
    walk_.resyncCount = 0;
    liveBuffering_ = true;
    liveEndTold_ = false;
    liveShownPercent_ = -1;
    liveWaiting_.store(true);
    thread_->RunEvent().SetEvent();
}

}  // namespace wl
