// A small HTTP server for the tests that misbehaves on order: a radio station
// (or a web server) on 127.0.0.1 at a free port, with plain sockets, a thread
// that accepts and a thread per connection.
//
// Every path has a script: a list of replies, one per request in order, the
// last one repeating; a path without a script answers 404. A reply serves a
// status line, header lines and a body, with faults on the way:
//
//   FaultHttpServer server;
//   ASSERT_TRUE(server.ok()) << server.error();
//   FaultReply live = FaultReply::Audio(bytes);   // audio/mpeg
//   live.metaInterval = 1000;                     // icy-metaint, titles in band
//   live.metadata = {"StreamTitle='One';", "", "StreamTitle='Two';"};
//   live.dropAfter = 5000;                        // closes after 5000 audio bytes
//   server.Script("/live", {live, FaultReply::Audio(more)});
//   source = THttpSource(server.Url("/live"));    // 1st request drops, 2nd plays
//
// The replies on offer: any status line (an "ICY 200 OK" line, none at all
// for HTTP/0.9), chosen header lines, Content-Length or not, a body once or
// repeated for ever (a live stream), ICY metadata every N audio bytes (blocks
// of chosen text, empty blocks, an overrunning block of 4080 bytes of
// garbage), closing or stalling after N audio bytes, dripping one byte at a
// time, a paced rate, redirects (a loop: two paths redirecting to each
// other), errors, web pages and station lists (Page), an endless header,
// and accepting a connection without ever answering.
//
// The destructor (or Stop) closes every connection and joins every thread,
// whatever a reply is doing.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace wl::test {

struct FaultReply {
    enum class Kind : uint8_t {
        Serve,          // the status line, the header and the body (with the faults below)
        NeverAnswer,    // reads the request, then sends nothing and keeps the connection open
        EndlessHeader,  // a status line, then header lines for ever
    };
    Kind kind = Kind::Serve;
    // Without CR LF. Empty: HTTP/0.9, no status line and no header at all.
    std::string statusLine = "HTTP/1.0 200 OK";
    // Whole lines without CR LF, e.g. "icy-name: Test FM".
    std::vector<std::string> headers;
    std::vector<uint8_t> body;  // the audio bytes (metadata blocks are put in between)
    bool contentLength = false; // a Content-Length of the body as sent (metadata included)
    bool repeat = false;        // the body over and over, for ever

    // In-band metadata, when > 0 and the request asked for it ("Icy-MetaData:
    // 1"): an icy-metaint header line, and after every metaInterval audio
    // bytes a block: metadata[i] (NUL-padded to a multiple of 16) for block
    // i, an empty block (length byte 0) past the list's end.
    int32_t metaInterval = 0;
    std::vector<std::string> metadata;
    // Block i overruns: length byte 255 and 4080 bytes of garbage, no title.
    int32_t garbageBlock = -1;

    // Faults, counted in audio bytes sent.
    int64_t dropAfter = -1;     // closes the connection after this many
    int64_t stallAfter = -1;    // sends nothing more after this many, keeps the connection open
    int32_t dripMs = 0;         // everything one byte at a time, this many ms apart
    int32_t bytesPerSecond = 0; // the audio's pace; 0: as fast as the client takes it

    // 200 with the given content type (none when empty) and body.
    static FaultReply Audio(std::vector<uint8_t> body, const std::string& contentType = "audio/mpeg");
    // Text such as a web page or a station list, with its length.
    static FaultReply Page(const std::string& contentType, const std::string& text);
    // An error (or any status) with a short text body.
    static FaultReply Status(int code, const std::string& reason);
    static FaultReply Redirect(const std::string& location, int code = 302);
    static FaultReply NeverAnswer();
    static FaultReply EndlessHeader();
};

struct FaultRequest {
    std::string method;
    std::string target;  // as sent, e.g. "/live?x=1"
    std::vector<std::pair<std::string, std::string>> headers;
    // The value of a header (any case), empty when absent.
    std::string Header(std::string_view name) const;
};

class FaultHttpServer {
public:
    // Listens at once; ok() tells whether it could.
    FaultHttpServer();
    ~FaultHttpServer() { Stop(); }
    FaultHttpServer(const FaultHttpServer&) = delete;
    FaultHttpServer& operator=(const FaultHttpServer&) = delete;

    // The replies to requests of `path` (the target without its query), one
    // per request in order, the last one repeating. Replaces an earlier script
    // and starts it from its first reply.
    void Script(const std::string& path, std::vector<FaultReply> replies);
    // "http://127.0.0.1:PORT" + path.
    std::string Url(const std::string& path) const;
    int Port() const { return port_; }

    // Requests received so far, in order.
    std::vector<FaultRequest> Requests() const;
    int RequestCount(const std::string& path) const;
    // Connections accepted and not yet closed by either side.
    int OpenConnections() const { return open_.load(); }

    // Closes every connection and the listening socket, joins every thread.
    void Stop();

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

private:
    struct Script_ {
        std::vector<FaultReply> replies;
        size_t next = 0;
    };

    void AcceptLoop();
    void Serve(int fd);
    FaultReply NextReply(const std::string& path);
    bool ReadRequest(int fd, FaultRequest& request);
    // False once the client is gone or the server stops.
    bool Send(int fd, std::string_view bytes, int32_t dripMs);
    // Until the client closes or the server stops.
    void Hold(int fd);
    void Reply(int fd, const FaultReply& reply, bool metadataAsked);

    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    std::string error_;
    std::atomic<bool> stop_{false};
    std::atomic<int> open_{0};
    std::thread acceptor_;

    mutable std::mutex mutex_;
    std::vector<std::thread> connections_;
    std::map<std::string, Script_> scripts_;
    std::vector<FaultRequest> requests_;
};

}  // namespace wl::test
