#include "tests/engine/fault_http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>

namespace wl::test {

namespace {

constexpr int kPollMs = 50;
constexpr size_t kChunk = 4096;
constexpr size_t kMaxRequestBytes = 64 * 1024;
constexpr size_t kEndlessHeaderCap = size_t{16} << 20;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Lower(x) == Lower(y);
           });
}

// Block i as sent: the length byte and the NUL-padded text.
std::string MetadataBlock(const FaultReply& reply, int32_t i) {
    if (i == reply.garbageBlock) {
        std::string block(1, static_cast<char>(255));
        for (int k = 0; k < 255 * 16; ++k) block.push_back(static_cast<char>((k * 37 + 11) & 0xFF));
        return block;
    }
    if (i < 0 || static_cast<size_t>(i) >= reply.metadata.size()) return std::string(1, '\0');
    std::string text = reply.metadata[static_cast<size_t>(i)].substr(0, 255 * 16);
    const size_t units = (text.size() + 15) / 16;
    text.resize(units * 16, '\0');
    return static_cast<char>(units) + text;
}

// The body as sent, piece by piece, through `emit` (false stops it). With
// `faults`, the drop and stall limits and the pace apply; false when the
// body stopped at a limit (or `emit` stopped it).
bool ProduceBody(const FaultReply& reply, bool metadataOn, bool faults,
                 const std::function<bool(std::string_view)>& emit) {
    const bool meta = metadataOn && reply.metaInterval > 0;
    int64_t limit = -1;
    if (faults) {
        for (int64_t l : {reply.dropAfter, reply.stallAfter}) {
            if (l >= 0) limit = limit < 0 ? l : std::min(limit, l);
        }
    }
    const auto start = std::chrono::steady_clock::now();
    int64_t sent = 0;
    size_t at = 0;
    int32_t block = 0;
    for (;;) {
        if (at == reply.body.size()) {
            if (!reply.repeat || reply.body.empty()) return true;
            at = 0;
        }
        if (limit >= 0 && sent >= limit) return false;
        int64_t n = static_cast<int64_t>(std::min(kChunk, reply.body.size() - at));
        if (meta) n = std::min<int64_t>(n, reply.metaInterval - sent % reply.metaInterval);
        if (limit >= 0) n = std::min(n, limit - sent);
        const auto* bytes = reinterpret_cast<const char*>(reply.body.data() + at);
        if (!emit({bytes, static_cast<size_t>(n)})) return false;
        sent += n;
        at += static_cast<size_t>(n);
        if (meta && sent % reply.metaInterval == 0 && !emit(MetadataBlock(reply, block++))) return false;
        if (faults && reply.bytesPerSecond > 0) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(sent * 1000000 / reply.bytesPerSecond));
        }
    }
}

}  // namespace

FaultReply FaultReply::Audio(std::vector<uint8_t> body, const std::string& contentType) {
    FaultReply r;
    if (!contentType.empty()) r.headers.push_back("Content-Type: " + contentType);
    r.body = std::move(body);
    return r;
}

FaultReply FaultReply::Page(const std::string& contentType, const std::string& text) {
    FaultReply r = Audio({text.begin(), text.end()}, contentType);
    r.contentLength = true;
    return r;
}

FaultReply FaultReply::Status(int code, const std::string& reason) {
    FaultReply r = Page("text/plain", std::to_string(code) + " " + reason + "\n");
    r.statusLine = "HTTP/1.0 " + std::to_string(code) + " " + reason;
    return r;
}

FaultReply FaultReply::Redirect(const std::string& location, int code) {
    FaultReply r = Status(code, code == 301 ? "Moved Permanently" : "Found");
    r.headers.push_back("Location: " + location);
    return r;
}

FaultReply FaultReply::NeverAnswer() {
    FaultReply r;
    r.kind = Kind::NeverAnswer;
    return r;
}

FaultReply FaultReply::EndlessHeader() {
    FaultReply r;
    r.kind = Kind::EndlessHeader;
    return r;
}

std::string FaultRequest::Header(std::string_view name) const {
    for (const auto& [n, v] : headers) {
        if (SameNoCase(n, name)) return v;
    }
    return {};
}

FaultHttpServer::FaultHttpServer() {
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return;
    }
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;  // a free one
    socklen_t length = sizeof addr;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 64) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        error_ = std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno);
        return;
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
}

void FaultHttpServer::Stop() {
    if (stop_.exchange(true)) return;
    if (wakePipe_[1] >= 0) (void)!::write(wakePipe_[1], "x", 1);
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections.swap(connections_);
    }
    for (std::thread& t : connections) t.join();
    for (int fd : {listenFd_, wakePipe_[0], wakePipe_[1]}) {
        if (fd >= 0) ::close(fd);
    }
    listenFd_ = wakePipe_[0] = wakePipe_[1] = -1;
}

void FaultHttpServer::Script(const std::string& path, std::vector<FaultReply> replies) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_[path] = {std::move(replies), 0};
}

std::string FaultHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<FaultRequest> FaultHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int FaultHttpServer::RequestCount(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count_if(requests_.begin(), requests_.end(), [&](const FaultRequest& r) {
        return r.target.substr(0, r.target.find('?')) == path;
    }));
}

void FaultHttpServer::AcceptLoop() {
    while (!stop_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++open_;
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.emplace_back([this, fd] {
            Serve(fd);
            ::close(fd);
            --open_;
        });
    }
}

FaultReply FaultHttpServer::NextReply(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = scripts_.find(path);
    if (it == scripts_.end() || it->second.replies.empty()) return FaultReply::Status(404, "Not Found");
    Script_& s = it->second;
    const FaultReply& reply = s.replies[std::min(s.next, s.replies.size() - 1)];
    ++s.next;
    return reply;
}

bool FaultHttpServer::ReadRequest(int fd, FaultRequest& request) {
    std::string text;
    size_t end = std::string::npos;
    while ((end = text.find("\r\n\r\n")) == std::string::npos) {
        if (stop_ || text.size() > kMaxRequestBytes) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        char buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) return false;
        text.append(buffer, static_cast<size_t>(got));
    }
    std::string_view head(text.data(), end);
    size_t eol = head.find("\r\n");
    const std::string_view first = head.substr(0, eol);
    const size_t space1 = first.find(' ');
    const size_t space2 = first.find(' ', space1 + 1);
    if (space1 == std::string_view::npos) return false;
    request.method = first.substr(0, space1);
    request.target = first.substr(space1 + 1, space2 == std::string_view::npos ? std::string_view::npos
                                                                                : space2 - space1 - 1);
    while (eol != std::string_view::npos) {
        const size_t from = eol + 2;
        eol = head.find("\r\n", from);
        const std::string_view line = head.substr(from, eol == std::string_view::npos ? eol : eol - from);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        request.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
    }
    return true;
}

bool FaultHttpServer::Send(int fd, std::string_view bytes, int32_t dripMs) {
    size_t done = 0;
    while (done < bytes.size()) {
        if (stop_) return false;
        if (dripMs > 0 && done > 0) std::this_thread::sleep_for(std::chrono::milliseconds(dripMs));
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        if ((p.revents & (POLLERR | POLLHUP)) != 0) return false;
        const size_t n = dripMs > 0 ? 1 : bytes.size() - done;
        const ssize_t sent = ::send(fd, bytes.data() + done, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    return true;
}

void FaultHttpServer::Hold(int fd) {
    while (!stop_) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0) continue;
        char buffer[1024];
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
    }
}

void FaultHttpServer::Serve(int fd) {
    FaultRequest request;
    if (!ReadRequest(fd, request)) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    const FaultReply reply = NextReply(request.target.substr(0, request.target.find('?')));
    Reply(fd, reply, request.Header("Icy-MetaData") == "1");
}

void FaultHttpServer::Reply(int fd, const FaultReply& reply, bool metadataAsked) {
    switch (reply.kind) {
        case FaultReply::Kind::NeverAnswer:
            Hold(fd);
            return;
        case FaultReply::Kind::EndlessHeader: {
            if (!Send(fd, "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n", 0)) return;
            const std::string line = "X-Filler: " + std::string(100, 'x') + "\r\n";
            for (size_t sent = 0; sent < kEndlessHeaderCap; sent += line.size()) {
                if (!Send(fd, line, 0)) return;
            }
            Hold(fd);
            return;
        }
        case FaultReply::Kind::Serve:
            break;
    }
    const bool metadataOn = metadataAsked && reply.metaInterval > 0;
    if (!reply.statusLine.empty()) {
        std::string head = reply.statusLine + "\r\n";
        for (const std::string& h : reply.headers) head += h + "\r\n";
        if (metadataOn) head += "icy-metaint: " + std::to_string(reply.metaInterval) + "\r\n";
        if (reply.contentLength) {
            size_t length = 0;
            ProduceBody(reply, metadataOn, false, [&](std::string_view piece) {
                length += piece.size();
                return true;
            });
            head += "Content-Length: " + std::to_string(length) + "\r\n";
        }
        head += "Connection: close\r\n\r\n";
        if (!Send(fd, head, reply.dripMs)) return;
    }
    const bool whole = ProduceBody(reply, metadataOn, true,
                                   [&](std::string_view piece) { return Send(fd, piece, reply.dripMs); });
    if (!whole && reply.stallAfter >= 0 && (reply.dropAfter < 0 || reply.stallAfter < reply.dropAfter)) {
        Hold(fd);
        return;
    }
    ::shutdown(fd, SHUT_WR);
    // Let the client read the end before the socket goes.
    Hold(fd);
}

}  // namespace wl::test
