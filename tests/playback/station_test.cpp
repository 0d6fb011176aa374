// Stations in the playback controller, against a real streaming server
// (icecast2 fed by ezstream) and a misbehaving one: titles in order as heard,
// a server restarted under the player, refused answers with clear texts, and a
// host that never answers, which must not hold up the event loop.
#include <QElapsedTimer>
#include <QTimer>

#include <thread>

#include "tests/engine/fault_http_server.h"
#include "tests/engine/icecast_server.h"
#include "tests/playback/controller_fixture.h"

namespace wl::test {
namespace {

class StationTest : public ControllerFixture {
protected:
    void StartStations() {
        Start(1);
        QObject::connect(c.get(), &TPlaybackController::LiveStatus, [this](const QString& t) { liveStatus.append(t); });
        QObject::connect(c.get(), &TPlaybackController::EntryFailed,
                         [this](int, const QString& t) { failures.append(t); });
        QObject::connect(c.get(), &TPlaybackController::MetadataChanged, [this] {
            const QString title = c->Track().Title;
            if (c->IsOpen() && c->Facts().Live && (titles.isEmpty() || titles.back() != title)) titles.append(title);
        });
    }
    void AddUrl(const std::string& url) {
        TPlaylistEntry e;
        e.Path = QString::fromStdString(url);
        ASSERT_TRUE(c->Playlist().AddEntry(e));
    }

    QStringList liveStatus;
    QStringList failures;
    QStringList titles;
};

TEST_F(StationTest, PlaysTitlesInOrderAsHeardAndPlaysOnAfterTheServerRestarts) {
    REQUIRE_ICECAST();
    TIcecastServer server;
    ASSERT_TRUE(server.Start({})) << server.Error();
    StartStations();
    AddUrl(server.MountUrl());
    QElapsedTimer play;
    play.start();
    c->PlayEntry(1);
    ASSERT_TRUE(RunUntil([&] { return c->IsOpen(); }, 20000)) << failures.join("; ").toStdString();
    std::printf("[ figures  ] playing %lld ms after Play\n", static_cast<long long>(play.elapsed()));
    EXPECT_TRUE(c->Facts().Live);
    EXPECT_EQ(c->Facts().Station, QStringLiteral("Wavelantern Test Radio"));
    EXPECT_EQ(c->LengthMs(), 0);
    // Two titles heard one after the other, split into artist and title.
    ASSERT_TRUE(RunUntil([&] { return titles.size() >= 3; }, 30000)) << titles.join("|").toStdString();
    const auto number = [](const QString& t) { return t.section(QLatin1Char(' '), -1).toInt(); };
    EXPECT_TRUE(titles[1].startsWith(QStringLiteral("Title ")));
    EXPECT_EQ(number(titles[2]) % 3, (number(titles[1]) + 1) % 3) << titles.join("|").toStdString();
    EXPECT_EQ(c->Track().Artist, QStringLiteral("Artist %1").arg(number(titles.back())));

    // The server goes away and comes back: the entry waits and plays on.
    server.StopServer();
    ASSERT_TRUE(RunUntil([&] { return !liveStatus.isEmpty() && !liveStatus.back().isEmpty(); }, 30000))
        << errors.join("; ").toStdString() << " stops " << stops.size();
    ASSERT_TRUE(server.StartServerAgain()) << server.Error();
    QElapsedTimer back;
    back.start();
    ASSERT_TRUE(RunUntil([&] { return liveStatus.back().isEmpty(); }, 30000)) << liveStatus.join("|").toStdString();
    std::printf("[ figures  ] sound again %lld ms after the server was back\n", static_cast<long long>(back.elapsed()));
    const int64_t at = c->PositionMs();
    ASSERT_TRUE(RunUntil([&] { return c->PositionMs() > at + 500; }, 20000));
    EXPECT_TRUE(c->Playing());
    EXPECT_TRUE(failures.isEmpty()) << failures.join("; ").toStdString();
    EXPECT_EQ(started.size(), 1u);
}

TEST_F(StationTest, AStationListServedByTheServerBecomesItsStationsAndPlays) {
    REQUIRE_ICECAST();
    TIcecastServer server;
    ASSERT_TRUE(server.Start({})) << server.Error();
    server.PutWebFile("radio.pls", "[playlist]\r\nNumberOfEntries=2\r\nFile1=" + server.MountUrl() +
                                       "\r\nTitle1=Test Radio (MP3)\r\nFile2=" + server.MountUrl() +
                                       "?second\r\nTitle2=Test Radio again\r\n");
    StartStations();
    std::vector<std::pair<int, int>> expanded;
    QObject::connect(c.get(), &TPlaybackController::StationsExpanded,
                     [&](int entry, int count) { expanded.emplace_back(entry, count); });
    AddUrl(server.Url("/radio.pls"));
    c->PlayEntry(1);
    ASSERT_TRUE(RunUntil([&] { return c->IsOpen(); }, 20000)) << failures.join("; ").toStdString();
    ASSERT_EQ(expanded, (std::vector<std::pair<int, int>>{{1, 2}}));
    ASSERT_EQ(c->Playlist().Rows(), 2);
    EXPECT_EQ(c->Playlist().Path(0), QString::fromStdString(server.MountUrl()));
    EXPECT_EQ(c->Playlist().Entry(0).Meta.Title, QStringLiteral("Test Radio (MP3)"));
    EXPECT_EQ(c->CurrentEntry(), 1);
    EXPECT_TRUE(c->Facts().Live);
    // Stop disconnects; Play connects again.
    const auto listeners = [&] {
        const std::string status = server.Get("/status-json.xsl", 1 << 16, std::chrono::seconds(5)).body;
        const size_t at = status.find("\"listeners\":");
        return at == std::string::npos ? -1 : std::atoi(status.c_str() + at + 12);
    };
    EXPECT_EQ(listeners(), 1);
    c->Stop();
    EXPECT_TRUE(RunUntil([&] { return listeners() == 0; }, 10000));
    c->Play();
    ASSERT_TRUE(RunUntil([&] { return c->IsOpen() && PlayerStatus() == TPlayState::Playing; }, 20000));
}

TEST_F(StationTest, RefusedAnswersFailTheEntryWithAClearText) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    server.Script("/gone", {FaultReply::Status(404, "Not Found")});
    server.Script("/page", {FaultReply::Page("text/html", "<!DOCTYPE html><html></html>")});
    FaultReply aac = FaultReply::Audio(std::vector<uint8_t>(20000, 0x21), "audio/aac");
    aac.repeat = true;
    server.Script("/aac", {aac});
    StartStations();
    const struct {
        const char* path;
        const char* says;
    } cases[] = {{"/gone", "404"}, {"/page", "web page"}, {"/aac", "the station sends AAC audio, which Wavelantern does not play"}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.path);
        failures.clear();
        AddUrl(server.Url(k.path));
        c->PlayEntry(c->Playlist().Rows());
        ASSERT_TRUE(RunUntil([&] { return !failures.isEmpty(); }, 20000));
        EXPECT_TRUE(failures.front().contains(QString::fromUtf8(k.says))) << failures.front().toStdString();
        EXPECT_TRUE(failures.front().contains(QString::fromStdString(server.Url(k.path)))) << failures.front().toStdString();
        c->Stop();
        Settle();
    }
}

TEST_F(StationTest, AHostThatNeverAnswersNeitherHoldsUpTheEventLoopNorOutlivesStop) {
    FaultHttpServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    server.Script("/silent", {FaultReply::NeverAnswer()});
    StartStations();
    AddUrl(server.Url("/silent"));
    // A probe ticks every 5 ms; the longest gap between ticks is the longest stall.
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0, longest = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    probe.start(5);
    c->PlayEntry(1);
    ASSERT_TRUE(RunUntil([&] { return server.OpenConnections() == 1; }, 10000));
    RunFor(1500);
    EXPECT_TRUE(c->Opening());
    std::printf("[ figures  ] longest event-loop stall while a dead host is tried: %lld ms\n",
                static_cast<long long>(longest));
    // Generous for a loaded machine; a wait on the network would be seconds.
    EXPECT_LT(longest, 250);
    c->Stop();
    EXPECT_TRUE(RunUntil([&] { return server.OpenConnections() == 0 && !c->Opening(); }, 5000));
    EXPECT_FALSE(c->Playing());
}

}  // namespace
}  // namespace wl::test
