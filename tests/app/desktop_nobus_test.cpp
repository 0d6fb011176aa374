// Without a session bus, or with the name taken, the player runs without the
// service and says so once; the state the service reports is read right.
#include <QFileInfo>
#include <QUrl>

#include <string>

#include "app/mpris.h"
#include "app/mpris_state.h"
#include "tests/app/app_fixture.h"
#include "tests/app/playlist_support.h"

#if WL_HAVE_DBUS
#include <QDBusConnection>

#include "tests/app/desktop_test_bus.h"
#endif

namespace wl::test {

namespace {

int CountLines(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

}  // namespace

using DesktopNoBus = AppFixture;

#if WL_HAVE_DBUS

// A connection that is not connected: no service, one line on stderr.
TEST_F(DesktopNoBus, DisconnectedBusGivesNoServiceAndOneLine) {
    Create();
    QDBusConnection none = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/wl-no-bus"),
                                                         QStringLiteral("wl-no-bus"));
    ASSERT_FALSE(none.isConnected());
    testing::internal::CaptureStderr();
    auto service = TMprisService::Start(form1->Controller.get(), {}, none);
    const std::string err = testing::internal::GetCapturedStderr();
    QDBusConnection::disconnectFromBus(QStringLiteral("wl-no-bus"));
    EXPECT_EQ(service, nullptr);
    EXPECT_EQ(CountLines(err), 1) << err;
    EXPECT_NE(err.find("wavelantern: no D-Bus session bus"), std::string::npos) << err;
    // The player is untouched and works.
    EXPECT_EQ(PlayerStatus(), mpsStopped);
}

// The name already owned by another program on the bus: no service, one line.
TEST_F(DesktopNoBus, NameTakenGivesNoServiceAndOneLine) {
    if (!TPrivateBus::Available()) GTEST_SKIP() << "dbus-daemon is missing (apt-get install dbus)";
    TPrivateBus bus;
    ASSERT_TRUE(bus.Start());
    {
        TBusConnection other(bus.Address(), QStringLiteral("wl-other-player"));
        TBusConnection mine(bus.Address(), QStringLiteral("wl-this-player"));
        ASSERT_TRUE(other->registerService(QString::fromLatin1(kMprisServiceName)));
        Create();
        testing::internal::CaptureStderr();
        auto service = TMprisService::Start(form1->Controller.get(), {}, *mine);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(service, nullptr);
        EXPECT_EQ(CountLines(err), 1) << err;
        EXPECT_NE(err.find("is taken"), std::string::npos) << err;
        // The object path is free again for a later attempt.
        EXPECT_EQ(mine->objectRegisteredAt(QString::fromLatin1(kMprisObjectPath)), nullptr);
    }
}

// Ending the service gives the name back, so that a new one can take it.
TEST_F(DesktopNoBus, ServiceReleasesItsName) {
    if (!TPrivateBus::Available()) GTEST_SKIP() << "dbus-daemon is missing (apt-get install dbus)";
    TPrivateBus bus;
    ASSERT_TRUE(bus.Start());
    TBusConnection mine(bus.Address(), QStringLiteral("wl-release"));
    Create();
    auto service = TMprisService::Start(form1->Controller.get(), {}, *mine);
    ASSERT_NE(service, nullptr);
    service.reset();
    service = TMprisService::Start(form1->Controller.get(), {}, *mine);
    EXPECT_NE(service, nullptr);
}

#else

TEST_F(DesktopNoBus, BuiltWithoutDBusGivesNoServiceAndOneLine) {
    Create();
    testing::internal::CaptureStderr();
    auto service = TMprisService::Start(form1->Controller.get(), {});
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(service, nullptr);
    EXPECT_EQ(CountLines(err), 1) << err;
}

#endif

// The state read from the controller: the playlist's own path rather than
// the cache copy, the title of the entry, and the skip abilities at the ends
// of the list and with random play.
TEST_F(DesktopNoBus, StateReadFromTheController) {
    Create();
    EXPECT_EQ(MprisTrackNumber("07/12"), 7);
    EXPECT_EQ(MprisTrackNumber(" 3"), 3);
    EXPECT_EQ(MprisTrackNumber("B-side"), 0);
    EXPECT_EQ(MprisTrackId(12), "/org/wavelantern/track/12");

    TMprisState s = ReadMprisState(Ctl());
    EXPECT_EQ(s.playbackStatus, "Stopped");
    EXPECT_TRUE(s.track.trackId.isEmpty());

    for (const char* path : {"/music/a.mp3", "/music/b side.mp3", "/music/c.mp3"}) form1->Playlist.AddEntry(path);
    ASSERT_EQ(form1->EntryCount, 3);
    form1->CurrentEntry = 2;
    s = ReadMprisState(Ctl());
    EXPECT_EQ(s.track.trackId, "/org/wavelantern/track/2");
    EXPECT_EQ(s.track.url, "file:///music/b%20side.mp3");
    EXPECT_EQ(s.track.title, "b side");
    EXPECT_EQ(s.track.lengthUs, 0);  // nothing open: no length
    EXPECT_TRUE(s.canGoNext);
    EXPECT_TRUE(s.canGoPrevious);
    EXPECT_TRUE(s.canPlay);
    EXPECT_FALSE(s.canSeek);

    form1->CurrentEntry = 3;
    s = ReadMprisState(Ctl());
    EXPECT_FALSE(s.canGoNext);
    EXPECT_TRUE(s.canGoPrevious);
    form1->CurrentEntry = 1;
    s = ReadMprisState(Ctl());
    EXPECT_TRUE(s.canGoNext);
    EXPECT_FALSE(s.canGoPrevious);
    form1->SetPlayOrder(false, true);
    s = ReadMprisState(Ctl());
    EXPECT_TRUE(s.canGoNext);
    EXPECT_TRUE(s.canGoPrevious);
    EXPECT_TRUE(s.shuffle);
    form1->EntryCount = 1;
    s = ReadMprisState(Ctl());
    EXPECT_FALSE(s.canGoNext);
    EXPECT_FALSE(s.canGoPrevious);

    // Played from the cache copy: the entry's own file is told.
    const QString song = Home() + "music/song.mp3";
    ASSERT_TRUE(WriteSilentMp3(song, 100'000));
    form1->Settings.UseCache = 1;
    form1->ApplyPlayOptions();
    PlayAlone(song);
    ASSERT_EQ(Ctl().PlayingPath(), form1->CachePath());
    s = ReadMprisState(Ctl());
    EXPECT_EQ(s.track.url, QString::fromLatin1(QUrl::fromLocalFile(song).toEncoded()));
    EXPECT_EQ(s.track.title, "song");
    EXPECT_TRUE(s.canSeek);
}

}  // namespace wl::test
