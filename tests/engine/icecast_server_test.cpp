// The streaming server harness (tests/engine/icecast_server.h) against a
// plain socket listener: the station's headers, MPEG audio, the titles in
// playlist order, a restart on the same port, the files of the web root,
// and the end of a playlist that does not loop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

#include "decoder/frame_header.h"
#include "tests/engine/icecast_server.h"
#include "tests/wait_until.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using test::TIcecastServer;

// A listener as a player is one: asks for in-band titles, then reads the
// audio with the metadata blocks taken out.
class IcyListener {
public:
    ~IcyListener() {
        if (fd_ >= 0) ::close(fd_);
    }

    // Connects and reads the head of the answer; false (why) on failure.
    bool Open(int port, const std::string& mount) {
        fd_ = test::ConnectLocal(port, 1s);
        if (fd_ < 0) return Failed("no connection");
        const std::string request = "GET " + mount + " HTTP/1.0\r\nHost: 127.0.0.1\r\nIcy-MetaData: 1\r\n\r\n";
        if (::send(fd_, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
            return Failed("request not sent");
        }
        std::string data;
        size_t split = std::string::npos;
        const bool headed = test::WaitUntil([&] {
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0) return true;
            if (n > 0) data.append(buffer, static_cast<size_t>(n));
            split = data.find("\r\n\r\n");
            return split != std::string::npos;
        }, 10s, [] {});
        if (!headed || split == std::string::npos) return Failed("no complete head: " + data);
        const size_t lineEnd = data.find("\r\n");
        status = std::atoi(data.c_str() + data.find(' ') + 1);
        head.headers = data.substr(lineEnd + 2, split - lineEnd);
        metaInterval_ = std::atoi(head.Header("icy-metaint").c_str());
        untilMeta_ = metaInterval_;
        const std::string rest = data.substr(split + 4);
        Feed(reinterpret_cast<const uint8_t*>(rest.data()), rest.size());
        return true;
    }

    // Reads until done() holds (true) or the stream ends (false); false
    // also when `limit` passes first (ended tells the two apart).
    template <class Done>
    bool ReadUntil(Done done, std::chrono::milliseconds limit) {
        return test::WaitUntil([&] {
            if (ended || done()) return true;
            uint8_t buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) ended = true;
            if (n > 0) Feed(buffer, static_cast<size_t>(n));
            return ended || done();
        }, limit, [] {}) && !ended;
    }

    int status = 0;
    test::THttpReply head;  // headers only
    std::vector<uint8_t> audio;
    std::vector<std::string> titles;  // as they came, a repeat of the last one left out
    bool ended = false;
    std::string why;

private:
    bool Failed(const std::string& what) {
        why = what;
        return false;
    }

    void Feed(const uint8_t* p, size_t n) {
        while (n > 0) {
            if (metaInterval_ <= 0 || untilMeta_ > 0) {
                const size_t take = metaInterval_ <= 0 ? n : std::min(n, static_cast<size_t>(untilMeta_));
                audio.insert(audio.end(), p, p + take);
                untilMeta_ -= static_cast<int>(take);
                p += take;
                n -= take;
            } else if (metaLeft_ < 0) {
                metaLeft_ = *p++ * 16;
                --n;
                meta_.clear();
            } else {
                const size_t take = std::min(n, static_cast<size_t>(metaLeft_));
                meta_.append(reinterpret_cast<const char*>(p), take);
                metaLeft_ -= static_cast<int>(take);
                p += take;
                n -= take;
            }
            if (metaLeft_ == 0) {
                TakeTitle();
                metaLeft_ = -1;
                untilMeta_ = metaInterval_;
            }
        }
    }

    void TakeTitle() {
        const std::string key = "StreamTitle='";
        const size_t begin = meta_.find(key);
        if (begin == std::string::npos) return;
        const size_t end = meta_.find("';", begin + key.size());
        const std::string title = meta_.substr(begin + key.size(), end - begin - key.size());
        if (titles.empty() || titles.back() != title) titles.push_back(title);
    }

    int fd_ = -1;
    int metaInterval_ = 0;
    int untilMeta_ = 0;
    int metaLeft_ = -1;  // bytes of the metadata block still to come; -1: its length byte
    std::string meta_;
};

// True when the bytes hold three MPEG audio frames in a row.
bool HasFrameChain(const std::vector<uint8_t>& bytes) {
    const auto frameAt = [&](size_t at) -> size_t {
        if (at + 4 > bytes.size()) return 0;
        TMPEGFrameHeader header{};
        const int32_t length =
            ParseFrameHeader(bytes.data() + at, static_cast<int32_t>(std::min<size_t>(bytes.size() - at, 1 << 20)),
                             header);
        return length > 0 ? static_cast<size_t>(FrameBytes(header, length)) : 0;
    };
    for (size_t at = 0; at + 4 <= bytes.size(); ++at) {
        size_t next = at;
        int frames = 0;
        while (frames < 3) {
            const size_t length = frameAt(next);
            if (length == 0) break;
            next += length;
            ++frames;
        }
        if (frames == 3) return true;
    }
    return false;
}

TEST(IcecastServerTest, StreamsTitlesInOrderAndComesBackOnTheSamePort) {
    REQUIRE_ICECAST();
    TIcecastServer server;
    test::TIcecastOptions options;
    options.stationName = "Tones & <Tests>";  // (escaped in the source's configuration)
    ASSERT_TRUE(server.Start(options)) << server.Error();

    IcyListener listener;
    ASSERT_TRUE(listener.Open(server.Port(), options.mount)) << listener.why;
    EXPECT_EQ(listener.status, 200);
    EXPECT_EQ(listener.head.Header("Content-Type"), "audio/mpeg");
    EXPECT_EQ(listener.head.Header("icy-name"), options.stationName);
    EXPECT_EQ(listener.head.Header("icy-genre"), options.genre);
    EXPECT_EQ(listener.head.Header("icy-br"), "128");
    EXPECT_EQ(listener.head.Header("icy-metaint"), std::to_string(options.metaInterval));

    // Two titles, the second the playlist's next one (the three tracks loop).
    EXPECT_TRUE(listener.ReadUntil([&] { return listener.titles.size() >= 2; }, 20s))
        << "titles: " << listener.titles.size() << ", ended: " << listener.ended << "\n" << server.LogTail();
    ASSERT_GE(listener.titles.size(), 2u);
    int first = 0;
    for (int n = 1; n <= 3; ++n) {
        if (listener.titles[0] == TIcecastServer::TrackTitle(n)) first = n;
    }
    ASSERT_NE(first, 0) << listener.titles[0];
    EXPECT_EQ(listener.titles[1], TIcecastServer::TrackTitle(first % 3 + 1));
    EXPECT_TRUE(HasFrameChain(listener.audio));

    // The server goes away: the listener's stream ends and the port refuses.
    const int port = server.Port();
    server.StopServer();
    EXPECT_FALSE(listener.ReadUntil([] { return false; }, 20s));
    EXPECT_TRUE(listener.ended);
    const int refused = test::ConnectLocal(port, 1s);
    EXPECT_LT(refused, 0);
    if (refused >= 0) ::close(refused);

    // Back on the same port, the playlist from its first track.
    ASSERT_TRUE(server.StartServerAgain()) << server.Error();
    EXPECT_EQ(server.Port(), port);
    IcyListener again;
    ASSERT_TRUE(again.Open(port, options.mount)) << again.why;
    EXPECT_EQ(again.status, 200);
    EXPECT_TRUE(again.ReadUntil([&] { return !again.titles.empty(); }, 10s)) << server.LogTail();
    ASSERT_FALSE(again.titles.empty());
    EXPECT_EQ(again.titles[0], TIcecastServer::TrackTitle(1));

    // The web root: a station list of our own, and the playlist icecast makes.
    const std::string pls = "[playlist]\nNumberOfEntries=1\nFile1=" + server.MountUrl() + "\nTitle1=Tones\n";
    ASSERT_TRUE(server.PutWebFile("radio.pls", pls));
    const test::THttpReply list = server.Get("/radio.pls");
    EXPECT_EQ(list.status, 200) << list.error;
    EXPECT_EQ(list.Header("Content-Type"), "audio/x-scpls");
    EXPECT_EQ(list.body, pls);
    const test::THttpReply m3u = server.Get(options.mount + ".m3u");
    EXPECT_EQ(m3u.status, 200) << m3u.error;
    EXPECT_NE(m3u.body.find(server.MountUrl()), std::string::npos) << m3u.body;
    EXPECT_EQ(server.Get("/nothing.pls").status, 404);
}

TEST(IcecastServerTest, APlaylistWithoutLoopEndsTheStream) {
    REQUIRE_ICECAST();
    TIcecastServer server;
    test::TIcecastOptions options;
    std::string why;
    options.files = server.MakeTracks(1, 2.0, &why);
    ASSERT_EQ(options.files.size(), 1u) << why;
    options.loop = false;
    ASSERT_TRUE(server.Start(options)) << server.Error();

    IcyListener listener;
    ASSERT_TRUE(listener.Open(server.Port(), options.mount)) << listener.why;
    EXPECT_FALSE(listener.ReadUntil([] { return false; }, 20s));
    EXPECT_TRUE(listener.ended);
    EXPECT_EQ(listener.titles, std::vector<std::string>{TIcecastServer::TrackTitle(1)});
    EXPECT_TRUE(HasFrameChain(listener.audio));
    EXPECT_TRUE(test::WaitUntil([&] { return !server.SourceRunning(); }, 20s));
    EXPECT_EQ(server.Get(options.mount).status, 404);
}

}  // namespace
}  // namespace wl
