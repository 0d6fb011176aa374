// Waiting for a live stream's pre-buffer before it is opened (the opening
// analysis needs its first frames). For threads that may wait: never the
// window's.
#pragma once

#include <functional>

#include "io/live_source.h"

namespace wl {

enum class TPrebufferResult : uint8_t {
    Ready,      // the pre-buffer is full (or the data ended after some bytes)
    Failed,     // the source failed (its Error() says why) or ended empty
    List,       // the server answered with a station list (ListBody())
    Cancelled,  // `cancelled` answered true
};

// Starts nothing: `source` must have been started. Looks every 50 ms at most
// (and at every arrival); `progress` (may be empty) gets each new percent.
TPrebufferResult WaitForPrebuffer(TLiveSource& source, const std::function<bool()>& cancelled,
                                  const std::function<void(int percent)>& progress);

}  // namespace wl
