// THttpSource: an Internet radio station over HTTP or HTTPS as a TLiveSource.
//
// A thread of the source's own runs the transfer (redirects followed, "ICY
// 200 OK" and HTTP/0.9 answers accepted, in-band titles asked for), takes the
// metadata blocks out of the body and keeps the audio bytes in a bounded ring:
// when the ring is full the transfer waits for the reader. What the server
// sends is checked before any byte counts as audio: AAC, Ogg, a web page or
// anything else that is not MPEG audio is refused with a message, a station
// list is kept whole for the player (State List).
//
// A live stream that closes, fails or stalls is connected again with
// back-off; the bytes of the new connection follow a break. Reconnections
// failing for giveUpMs end in Failed. A 4xx answer, a redirect loop, an
// endless header or refused content fail at once. A body of announced length
// read whole is a finite file: Ended.
//
// Every method may be called from any thread; one mutex guards the state the
// source's thread shares with the reader. The destructor stops the thread
// within about 100 ms whatever the transfer is doing (looking the name up,
// connecting to a host that never answers, waiting for the reader).
//
// The pre-buffer is a second of the station's icy-br, else of the first
// frame's bitrate, within 8..64 KB (64 KB while neither is known). Passed
// breaks are forgotten: a reader that goes back across one after PassBreak
// reads on over it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "io/live_source.h"

namespace wl {

struct THttpOptions {
    std::string userAgent = "Wavelantern/2.1";
    int32_t connectTimeoutMs = 10000;
    // No byte for this long: the connection is dropped and made again.
    int32_t stallMs = 15000;
    // Waits before the reconnection attempts after a failure; the last one
    // repeats. An attempt that delivers audio again starts the list afresh.
    std::vector<int32_t> backoffMs = {500, 1000, 2000, 4000, 8000};
    // Reconnections failing for this long: Failed.
    int32_t giveUpMs = 60000;
    // Bytes behind the read position that stay readable.
    int32_t windowBytes = 1 << 20;
    // The ring holds this many seconds of the station's bitrate ahead of the
    // reader (2 MB when the bitrate is unknown, at least 256 KB).
    int32_t bufferSeconds = 32;
    // The code page of titles and icy-* headers that are not UTF-8.
    std::string codePage = "WINDOWS-1252";
    // The largest station list taken; a larger one fails with a message.
    int64_t maxListBytes = 1 << 20;
};

class THttpSource final : public TLiveSource {
public:
    // Nothing happens before Start.
    explicit THttpSource(std::string url, THttpOptions options = {});
    ~THttpSource() override;
    THttpSource(const THttpSource&) = delete;
    THttpSource& operator=(const THttpSource&) = delete;

    // TStream. Read raises EMP3Error when the position lies before the bytes
    // still held (more than the window behind).
    int64_t Size() const override;
    int64_t Position() const override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    size_t Read(void* buffer, size_t count) override;

    // TLiveSource.
    void Start() override;
    void Restart() override;
    TLiveState State() const override;
    std::string Error() const override;
    std::string StateText() const override;
    TStationFacts Facts() const override;
    std::string ListBody() const override;
    int64_t Available() const override;
    int64_t PrebufferBytes() const override;
    bool AtBreak() const override;
    void PassBreak() override;
    std::vector<TLiveTitle> TakeTitles() override;
    void SetOnData(std::function<void()> handler) override;

    const std::string& Url() const { return url_; }
    // Audio bytes the ring holds ahead of the reader at most (0 before the
    // first audio byte).
    int64_t CapacityBytes() const;

private:
    struct TConnection;
    enum class TOutcome : uint8_t { Stop, Restart, Retry, Final };

    void Run();
    // One connection, from the request to its end.
    TOutcome Transfer(uint64_t generation, TConnection& c);
    // The connection's outcome once curl is done with it.
    TOutcome Classify(TConnection& c, int curlResult);
    // Header lines (from curl or from an ICY header inside the body).
    bool OnHeaderLine(TConnection& c, std::string_view line);
    bool OnHeadersEnd(TConnection& c);
    size_t OnBody(TConnection& c, const uint8_t* data, size_t size);
    bool OnAudio(TConnection& c, std::span<const uint8_t> audio);
    bool OnBlock(TConnection& c, std::string_view block, int64_t position);
    // Decides what the body is once enough of it is there (or all of it).
    bool Decide(TConnection& c, bool wholeBody);
    // Into the ring; waits for room. False when the source stops or restarts.
    bool Deliver(TConnection& c, std::span<const uint8_t> audio);
    void QueueTitle(TConnection& c, std::string title, int64_t position);

    // Under the mutex.
    int64_t HeldFrom() const;
    int64_t ReadEnd() const;
    void SetState(TLiveState state, std::string text);
    void Notify();
    // Waits until the source stops or restarts, or `ms` passed (< 0: no
    // limit); true when it stopped or restarted.
    bool WaitOrWake(uint64_t generation, int32_t ms);

    const std::string url_;
    const THttpOptions options_;
    void* multi_ = nullptr;  // the curl multi handle, made by the thread (under the mutex)
    std::thread thread_;

    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool stop_ = false;
    uint64_t generation_ = 0;  // counts Restart calls
    TLiveState state_ = TLiveState::Connecting;
    std::string error_;
    std::string stateText_;
    TStationFacts facts_;
    std::string listBody_;
    int32_t frameBitrateKbps_ = 0;

    std::vector<uint8_t> ring_;  // audio byte p at ring_[p % size]
    int64_t capacity_ = 0;       // bytes ahead of readMark_ the ring may hold
    int64_t floor_ = 0;          // nothing before this (Restart dropped it)
    int64_t frontier_ = 0;       // audio bytes received
    int64_t position_ = 0;
    int64_t readMark_ = 0;       // end of the furthest read
    std::deque<int64_t> breaks_; // not yet passed, ascending
    std::vector<TLiveTitle> titles_;
    std::optional<std::string> lastTitle_;

    std::mutex handlerMutex_;
    std::function<void()> onData_;
};

}  // namespace wl
