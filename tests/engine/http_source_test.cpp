// THttpSource against the fault-injecting server: titles and breaks at their
// audio positions, reconnection and giving up, refused answers, the odd
// answers of old servers, the bounded ring and prompt cancelling.
#include "engine/http_source.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tests/engine/fault_http_server.h"
#include "tests/stream_builder.h"
#include "tests/wait_until.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::FaultHttpServer;
using test::FaultReply;
using test::WaitUntil;

std::vector<uint8_t> Pattern(size_t n, int seed) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 251 + seed * 13) % 251);
    return bytes;
}

// The first n bytes of `body` over and over.
std::vector<uint8_t> Cyclic(const std::vector<uint8_t>& body, size_t n) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = body[i % body.size()];
    return out;
}

THttpOptions Quick() {
    THttpOptions o;
    o.backoffMs = {50};
    o.connectTimeoutMs = 5000;
    return o;
}

bool Over(TLiveState s) { return s == TLiveState::Ended || s == TLiveState::Failed || s == TLiveState::List; }

// Reads until `want` bytes, a break or the end.
std::vector<uint8_t> ReadUpTo(THttpSource& source, size_t want) {
    std::vector<uint8_t> out;
    uint8_t buffer[8192];
    WaitUntil(
        [&] {
            const bool over = Over(source.State());
            const size_t n = source.Read(buffer, std::min(sizeof buffer, want - out.size()));
            out.insert(out.end(), buffer, buffer + n);
            return out.size() >= want || (n == 0 && (source.AtBreak() || over));
        },
        30s);
    return out;
}

TEST(HttpSource, TitlesComeWithTheirAudioPositions) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    // Every byte one at a time, and in big pieces.
    for (const int32_t interval : {1000, 60}) {
        SCOPED_TRACE("metadata every " + std::to_string(interval) + " bytes");
        FaultReply reply = FaultReply::Audio(Pattern(10 * static_cast<size_t>(interval), 1));
        reply.headers.push_back("icy-name: Test \xC6M");  // Windows-1252
        reply.headers.push_back("icy-br: 128");
        reply.contentLength = true;
        reply.metaInterval = interval;
        reply.metadata = {"StreamTitle='One';StreamUrl='';", "StreamTitle='One';", "",
                          "StreamTitle='Rock 'n' Roll; Vol. 2';", "", "StreamTitle='';"};
        reply.garbageBlock = interval < 100 ? -1 : 4;  // 4 KB of garbage dripped would take long
        reply.dripMs = interval < 100 ? 1 : 0;
        server.Script("/titles", {reply});

        THttpSource source(server.Url("/titles"), Quick());
        source.Start();
        const auto got = ReadUpTo(source, reply.body.size() + 1);
        EXPECT_EQ(source.State(), TLiveState::Ended) << source.Error();
        EXPECT_EQ(got, reply.body);
        EXPECT_EQ(source.Size(), static_cast<int64_t>(reply.body.size()));
        const std::vector<TLiveTitle> titles = source.TakeTitles();
        ASSERT_EQ(titles.size(), 3u);
        EXPECT_EQ(titles[0].position, interval);
        EXPECT_EQ(titles[0].title, "One");
        EXPECT_EQ(titles[1].position, 4 * interval);
        EXPECT_EQ(titles[1].title, "Rock 'n' Roll; Vol. 2");
        EXPECT_EQ(titles[2].position, 6 * interval);
        EXPECT_EQ(titles[2].title, "");
        EXPECT_TRUE(source.TakeTitles().empty());
        const TStationFacts facts = source.Facts();
        EXPECT_EQ(facts.name, "Test \xC3\x86M");
        EXPECT_EQ(facts.bitrateKbps, 128);
        EXPECT_EQ(facts.metaInterval, interval);
        EXPECT_EQ(facts.contentType, "audio/mpeg");
        EXPECT_EQ(source.PrebufferBytes(), 16000);
    }
    const auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].Header("Icy-MetaData"), "1");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Wavelantern/2.1");
}

TEST(HttpSource, DropAndStallReconnectBehindABreak) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    for (const bool stall : {false, true}) {
        SCOPED_TRACE(stall ? "stall" : "drop");
        FaultReply first = FaultReply::Audio(Pattern(8000, 2));
        first.metaInterval = 1000;
        first.metadata = {"StreamTitle='Before';"};
        (stall ? first.stallAfter : first.dropAfter) = 5000;
        FaultReply second = FaultReply::Audio(Pattern(20000, 3));
        second.contentLength = true;
        second.metaInterval = 1000;
        second.metadata = {"StreamTitle='Before';", "StreamTitle='After';"};
        const std::string path = stall ? "/stall" : "/drop";
        server.Script(path, {first, second});

        THttpOptions options = Quick();
        options.stallMs = 400;
        THttpSource source(server.Url(path), options);
        source.Start();
        const auto before = ReadUpTo(source, 100000);
        EXPECT_EQ(before, Cyclic(first.body, 5000));
        EXPECT_TRUE(source.AtBreak());
        EXPECT_EQ(source.Position(), 5000);
        // Nothing crosses the break before it is passed.
        ASSERT_TRUE(WaitUntil([&] { return source.State() == TLiveState::Ended; }, 30s)) << source.StateText();
        uint8_t byte = 0;
        EXPECT_EQ(source.Read(&byte, 1), 0u);
        EXPECT_EQ(source.Available(), 0);
        source.PassBreak();
        EXPECT_FALSE(source.AtBreak());
        EXPECT_EQ(source.Available(), 20000);
        EXPECT_EQ(ReadUpTo(source, 100000), second.body);
        // The repeated title after the reconnection is not queued again.
        const auto titles = source.TakeTitles();
        ASSERT_EQ(titles.size(), 2u);
        EXPECT_EQ(titles[0].position, 1000);
        EXPECT_EQ(titles[1].position, 5000 + 2000);
        EXPECT_EQ(titles[1].title, "After");
        EXPECT_EQ(server.RequestCount(path), 2);
    }
}

TEST(HttpSource, RefusedAnswersFailAtOnceWithTheirText) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    const std::string ogg = "OggS\x00\x02 and the rest of an Ogg page"s;
    FaultReply icy401;
    icy401.statusLine = "ICY 401 Service Unavailable";
    server.Script("/loop-a", {FaultReply::Redirect("/loop-b")});
    server.Script("/loop-b", {FaultReply::Redirect("/loop-a")});
    for (int i = 0; i < 7; ++i) server.Script("/r" + std::to_string(i), {FaultReply::Redirect("/r" + std::to_string(i + 1))});
    server.Script("/aac", {FaultReply::Audio(Pattern(20000, 4), "audio/aacp")});
    server.Script("/ogg", {FaultReply::Audio({ogg.begin(), ogg.end()}, "application/octet-stream")});
    server.Script("/page", {FaultReply::Page("text/html", "<html><body>Not here</body></html>")});
    server.Script("/endless", {FaultReply::EndlessHeader()});
    server.Script("/icy401", {icy401});
    server.Script("/biglist", {FaultReply::Page("audio/x-mpegurl", "#EXTM3U\n" + std::string(5000, 'x'))});
    const struct {
        std::string path;
        std::string text;
    } cases[] = {
        {"/missing", "the server answered 404 Not Found"},
        {"/loop-a", "the server redirects in a loop"},
        {"/r0", "the server redirects more than 5 times"},
        {"/aac", "the station sends AAC audio, which Wavelantern does not play"},
        {"/ogg", "the station sends Ogg audio, which Wavelantern does not play"},
        {"/page", "the server sent a web page, not audio"},
        {"/endless", "the server's header is longer than 64 KB"},
        {"/icy401", "the server answered 401 Service Unavailable"},
        {"/biglist", "the station list is larger than 4 KB"},
    };
    THttpOptions options = Quick();
    options.maxListBytes = 4096;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        THttpSource source(server.Url(c.path), options);
        source.Start();
        ASSERT_TRUE(WaitUntil([&] { return source.State() == TLiveState::Failed; }, 30s)) << source.StateText();
        EXPECT_EQ(source.Error().substr(0, source.Url().size() + 2), source.Url() + ": ");
        EXPECT_NE(source.Error().find(c.text), std::string::npos) << source.Error();
        EXPECT_EQ(source.Available(), 0);
        EXPECT_EQ(source.Size(), 0);
        // No second try.
        const int requests = server.RequestCount(c.path);
        std::this_thread::sleep_for(300ms);
        EXPECT_EQ(server.RequestCount(c.path), requests);
    }
    EXPECT_EQ(server.RequestCount("/missing"), 1);
}

TEST(HttpSource, OldServersAnswersAndStationListsAreTaken) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    std::vector<uint8_t> frames;
    for (int i = 0; i < 10; ++i) {
        const auto f = test::SilentFrameMpeg1(3, 0, 0);
        frames.insert(frames.end(), f.begin(), f.end());
    }
    FaultReply icy = FaultReply::Audio(Pattern(5000, 5));
    icy.statusLine = "ICY 200 OK";
    icy.headers.push_back("icy-name: Old Server FM");
    icy.headers.push_back("icy-genre: Jazz");
    icy.repeat = true;
    FaultReply http09 = FaultReply::Audio(frames, "");
    http09.statusLine.clear();
    http09.repeat = true;
    server.Script("/moved", {FaultReply::Redirect("/icy", 301)});
    server.Script("/icy", {icy});
    server.Script("/http09", {http09});
    const std::string pls = "[playlist]\nFile1=http://example.org/a\nNumberOfEntries=1\n";
    server.Script("/list", {FaultReply::Page("audio/x-scpls", pls)});

    {
        THttpSource source(server.Url("/moved"), Quick());
        source.Start();
        EXPECT_EQ(ReadUpTo(source, 12000), Cyclic(icy.body, 12000));
        EXPECT_EQ(source.State(), TLiveState::Streaming);
        EXPECT_EQ(source.Facts().name, "Old Server FM");
        EXPECT_EQ(source.Facts().genre, "Jazz");
        EXPECT_EQ(source.Facts().url, server.Url("/icy"));
    }
    {
        THttpSource source(server.Url("/http09"), Quick());
        source.Start();
        EXPECT_EQ(ReadUpTo(source, 12000), Cyclic(frames, 12000));
        EXPECT_EQ(source.Facts().url, server.Url("/http09"));
        // A second's worth of the frames' 128 kbit/s.
        EXPECT_EQ(source.PrebufferBytes(), 16000);
    }
    THttpSource source(server.Url("/list"), Quick());
    source.Start();
    ASSERT_TRUE(WaitUntil([&] { return source.State() == TLiveState::List; }, 30s)) << source.Error();
    EXPECT_EQ(source.ListBody(), pls);
    EXPECT_EQ(source.Available(), 0);
}

TEST(HttpSource, TheRingIsBoundedAndKeepsAWindow) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    FaultReply live = FaultReply::Audio(Pattern(100000, 6));
    live.headers.push_back("icy-br: 32");
    live.repeat = true;
    server.Script("/live", {live});
    THttpOptions options = Quick();
    options.windowBytes = 64 * 1024;
    auto source = std::make_unique<THttpSource>(server.Url("/live"), options);
    int calls = 0;
    std::mutex callsMutex;
    source->SetOnData([&] {
        std::lock_guard<std::mutex> lock(callsMutex);
        ++calls;
    });
    source->Start();
    // 32 s of 32 kbit/s is less than the least ring: 256 KB.
    ASSERT_TRUE(WaitUntil([&] { return source->Available() >= 256 * 1024; }, 30s)) << source->Available();
    EXPECT_EQ(source->CapacityBytes(), 256 * 1024);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(source->Available(), 256 * 1024);
    {
        std::lock_guard<std::mutex> lock(callsMutex);
        EXPECT_GT(calls, 0);
    }
    // Reading makes room; the window stays readable behind the reader.
    EXPECT_EQ(ReadUpTo(*source, 200000), Cyclic(live.body, 200000));
    ASSERT_TRUE(WaitUntil([&] { return source->Available() == 256 * 1024; }, 30s)) << source->Available();
    source->Seek(-64 * 1024, TSeekOrigin::soCurrent);
    const auto again = ReadUpTo(*source, 64 * 1024);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), Cyclic(live.body, 200000).end() - 64 * 1024));
    source->Seek(200000 - 64 * 1024 - 1, TSeekOrigin::soBeginning);
    uint8_t byte = 0;
    EXPECT_THROW(source->Read(&byte, 1), EMP3Error);
    EXPECT_EQ(server.RequestCount("/live"), 1);

    // Stopping while the transfer waits for room is prompt.
    const auto start = std::chrono::steady_clock::now();
    source.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(HttpSource, RestartDropsTheBufferAndReadsOnBehindABreak) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    FaultReply first = FaultReply::Audio(Pattern(50000, 7));
    first.repeat = true;
    FaultReply second = FaultReply::Audio(Pattern(3000, 8));
    second.contentLength = true;
    server.Script("/restart", {first, second});
    THttpSource source(server.Url("/restart"), Quick());
    source.Start();
    EXPECT_EQ(ReadUpTo(source, 1000), Cyclic(first.body, 1000));
    ASSERT_TRUE(WaitUntil([&] { return source.Available() > 10000; }));
    source.Restart();
    EXPECT_EQ(source.Available(), 0);
    EXPECT_TRUE(source.AtBreak());
    ASSERT_TRUE(WaitUntil([&] { return source.State() == TLiveState::Ended; }, 30s)) << source.StateText();
    source.PassBreak();
    EXPECT_EQ(ReadUpTo(source, 10000), second.body);
    EXPECT_EQ(source.Position(), 1000 + 3000);
    EXPECT_EQ(server.RequestCount("/restart"), 2);
}

TEST(HttpSource, GivesUpWhenReconnectingFailsForGiveUpMsButNeverWaitsForAStationThatNeverPlayed) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    // Down from the start: told at once.
    server.Script("/never", {FaultReply::Status(503, "Service Unavailable")});
    THttpSource never(server.Url("/never"), Quick());
    never.Start();
    ASSERT_TRUE(WaitUntil([&] { return never.State() == TLiveState::Failed; }, 10s)) << never.StateText();
    EXPECT_NE(never.Error().find("503"), std::string::npos) << never.Error();
    EXPECT_EQ(server.RequestCount("/never"), 1);
    // Down after it played: tried again until giveUpMs.
    FaultReply once = FaultReply::Audio(std::vector<uint8_t>(4000, 0));
    once.dropAfter = 2000;
    server.Script("/down", {once, FaultReply::Status(503, "Service Unavailable")});
    THttpOptions options = Quick();
    options.giveUpMs = 1000;
    THttpSource source(server.Url("/down"), options);
    const auto start = std::chrono::steady_clock::now();
    source.Start();
    EXPECT_TRUE(WaitUntil(
        [&] { return source.State() == TLiveState::Reconnecting && source.StateText().find("503") != std::string::npos; },
        30s));
    ASSERT_TRUE(WaitUntil([&] { return source.State() == TLiveState::Failed; }, 30s)) << source.StateText();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_NE(source.Error().find("giving up (the server answered 503 Service Unavailable)"), std::string::npos)
        << source.Error();
    EXPECT_GE(server.RequestCount("/down"), 4);
}

TEST(HttpSource, StoppingAndRestartingArePromptWhileTheServerNeverAnswers) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    server.Script("/silent", {FaultReply::NeverAnswer()});
    auto source = std::make_unique<THttpSource>(server.Url("/silent"), Quick());
    source->Start();
    ASSERT_TRUE(WaitUntil([&] { return server.RequestCount("/silent") == 1; }));
    source->Restart();
    ASSERT_TRUE(WaitUntil([&] { return server.RequestCount("/silent") == 2; }, 1s));
    EXPECT_EQ(source->State(), TLiveState::Connecting);
    const auto start = std::chrono::steady_clock::now();
    source.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_TRUE(WaitUntil([&] { return server.OpenConnections() == 0; }));
}

}  // namespace
}  // namespace wl
