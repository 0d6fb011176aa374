// Waiting for a live stream's pre-buffer before it is opened (the opening
// analysis needs its first frames). For threads that may wait: never the
// window's.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "io/live_source.h"

namespace wl {

enum class TPrebufferResult : uint8_t {
    Ready,      // the pre-buffer is full (or the data ended after some bytes)
    Failed,     // the source failed (its Error() says why) or ended empty
    List,       // the server answered with a station list (ListBody())
    Cancelled,  // `cancelled` answered true
};

// A station's source for `url` (http or https), not yet started; titles that
// are not UTF-8 are read in `codePage` (an 8-bit code page, e.g.
// "WINDOWS-1252").
std::unique_ptr<TLiveSource> OpenStation(const std::string& url, const std::string& codePage);

// Starts nothing: `source` must have been started. Looks every 50 ms at most
// (and at every arrival); `progress` (may be empty) gets each new percent.
TPrebufferResult WaitForPrebuffer(TLiveSource& source, const std::function<bool()>& cancelled,
                                  const std::function<void(int percent)>& progress);

// A live source read the way a pipe is read, for recording: Read waits for
// bytes and answers a short read only when the source has ended or failed,
// or when `cancelled` answers true (asked every 100 ms). A reconnection's break is read through (what
// decodes it resynchronises on the new bytes). Titles go to `onTitle` as
// their bytes are read.
class TWaitingLiveStream : public TStream {
public:
    TWaitingLiveStream(TLiveSource& source, std::function<bool()> cancelled,
                       std::function<void(const TLiveTitle&)> onTitle);
    ~TWaitingLiveStream() override;
    int64_t Size() const override { return source_.Size(); }
    int64_t Position() const override { return source_.Position(); }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return source_.Seek(offset, origin); }
    size_t Read(void* buffer, size_t count) override;

private:
    struct TWake;
    TLiveSource& source_;
    std::function<bool()> cancelled_;
    std::function<void(const TLiveTitle&)> onTitle_;
    std::shared_ptr<TWake> wake_;
};

}  // namespace wl
