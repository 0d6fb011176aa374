// TLiveSource: the bytes of a live stream (an Internet radio station) as a
// TStream, filled by a thread of the source's own from the network and
// drained by the player. Reading never waits: Read answers what the buffer
// holds (possibly nothing) and the player decides what an empty buffer means
// (an underrun, not the end). The length is unknown: Size() answers
// TPipeStream::kUnknownSize until the source has ended for good, and reads at
// positions from kUnknownSize / 2 on answer nothing (so that a look at the
// last bytes of the data finds nothing).
//
// Positions count audio bytes only (metadata blocks taken out) from the first
// byte of the first connection on, across reconnections. The last `window`
// bytes read stay readable, so that the opening analysis may go back within
// them.
//
// A reconnection is a break: the bytes after it do not continue the bytes
// before it. Read stops at a break (answers only the bytes before it) until
// the reader calls PassBreak, so that no frame is made of both sides.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "io/file_stream.h"

namespace wl {

// A title of the stream and the audio byte from which it holds.
struct TLiveTitle {
    int64_t position = 0;
    std::string title;  // UTF-8; may be empty (the station sent an empty title)
};

// Facts the server gave about the station (UTF-8; empty when not given).
struct TStationFacts {
    std::string name;         // icy-name
    std::string genre;        // icy-genre
    std::string description;  // icy-description
    std::string url;          // the URL that answered, after redirects
    std::string contentType;  // as the server sent it, lower case
    int32_t bitrateKbps = 0;  // icy-br; 0 when unknown
    int32_t metaInterval = 0; // icy-metaint; 0: no in-band titles
};

enum class TLiveState : uint8_t {
    Connecting,    // first connection under way
    Streaming,     // bytes arrive
    Reconnecting,  // the connection dropped; a new one is tried (back-off)
    Ended,         // the data ended for good (a finite body read whole); what is buffered still reads
    Failed,        // given up or refused; Error() says why; what is buffered still reads
    List,          // the server answered with a station list: ListBody() holds it
};

class TLiveSource : public TStream {
public:
    // TStream: Size as described above; Seek only moves the position (within
    // the window, or forward); Read never waits.

    // Starts the source's thread (connecting). Call once.
    virtual void Start() = 0;
    // Drops the connection and all buffered bytes and connects afresh (live
    // again after a long pause): the next bytes read are after a break.
    virtual void Restart() = 0;

    virtual TLiveState State() const = 0;
    // Why the source failed (for the status line), e.g. "http://x/: the
    // station sends AAC audio, which Wavelantern does not play".
    virtual std::string Error() const = 0;
    // While reconnecting: what is being tried, for the status line.
    virtual std::string StateText() const = 0;
    virtual TStationFacts Facts() const = 0;
    // The body of a station list the server answered with (State List).
    virtual std::string ListBody() const = 0;

    // Audio bytes buffered ahead of the read position (up to a break).
    virtual int64_t Available() const = 0;
    // Bytes of audio that make the pre-buffer full: about one second of the
    // station's bitrate, at most 64 KB.
    virtual int64_t PrebufferBytes() const = 0;
    // The read position has reached a break; Read answers nothing until
    // PassBreak.
    virtual bool AtBreak() const = 0;
    virtual void PassBreak() = 0;

    // Titles received since the last call, in stream order.
    virtual std::vector<TLiveTitle> TakeTitles() = 0;

    // Called on the source's thread whenever bytes arrive or the state
    // changes (for waking a waiting reader); must not call into the source.
    virtual void SetOnData(std::function<void()> handler) = 0;
};

}  // namespace wl
