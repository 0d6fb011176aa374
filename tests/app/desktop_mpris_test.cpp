// The media player service on a private session bus, driven by a second
// connection: what it tells about the player, and that its controls act the
// way the window's controls do.
#if WL_HAVE_DBUS

#include <QCheckBox>
#include <QDBusObjectPath>
#include <QFileInfo>
#include <QUrl>

#include <cmath>

#include "controls/al_progress_bar.h"
#include "controls/ex_track_bar.h"
#include "tests/app/desktop_mpris_fixture.h"

namespace wl::test {

namespace {

using DesktopMpris = DesktopMprisFixture;

QString FileUrl(const QString& path) { return QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded()); }

}  // namespace

// The root interface names the program and its desktop file, which exists.
TEST_F(DesktopMpris, RootInterfaceNamesTheProgram) {
    EXPECT_EQ(client_->Get(kMprisRoot, "Identity").toString(), "Wavelantern");
    const QString entry = client_->Get(kMprisRoot, "DesktopEntry").toString();
    EXPECT_EQ(entry, "wavelantern");
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral(WL_SOURCE_DIR "/packaging/") + entry + ".desktop")) << entry.toStdString();
    EXPECT_TRUE(client_->Get(kMprisRoot, "CanQuit").toBool());
    EXPECT_TRUE(client_->Get(kMprisRoot, "CanRaise").toBool());
    EXPECT_FALSE(client_->Get(kMprisRoot, "HasTrackList").toBool());
    EXPECT_EQ(client_->Get(kMprisRoot, "SupportedUriSchemes").toStringList(),
              (QStringList{"file", "http", "https"}));
    EXPECT_TRUE(client_->Get(kMprisRoot, "SupportedMimeTypes").toStringList().contains("audio/mpeg"));
    EXPECT_TRUE(client_->Get(kMprisPlayer, "CanControl").toBool());
    EXPECT_EQ(client_->Get(kMprisPlayer, "Rate").toDouble(), 1.0);
    EXPECT_EQ(client_->Get(kMprisPlayer, "MinimumRate").toDouble(), 1.0);
    EXPECT_EQ(client_->Get(kMprisPlayer, "MaximumRate").toDouble(), 1.0);
}

// Nothing loaded: stopped, no metadata, nothing to play, seek or skip to.
TEST_F(DesktopMpris, NothingLoaded) {
    EXPECT_EQ(PlaybackStatus(), "Stopped");
    EXPECT_TRUE(client_->Metadata().isEmpty());
    EXPECT_EQ(PositionUs(), 0);
    EXPECT_FALSE(client_->Get(kMprisPlayer, "CanPlay").toBool());
    EXPECT_FALSE(client_->Get(kMprisPlayer, "CanSeek").toBool());
    EXPECT_FALSE(client_->Get(kMprisPlayer, "CanGoNext").toBool());
    EXPECT_FALSE(client_->Get(kMprisPlayer, "CanGoPrevious").toBool());
    // Controls with nothing to act on change nothing and answer normally.
    for (const char* method : {"Play", "Pause", "PlayPause", "Stop", "Next", "Previous"}) {
        EXPECT_EQ(client_->Do(method).type(), QDBusMessage::ReplyMessage) << method;
    }
    EXPECT_EQ(client_->Do("Seek", {qlonglong{5'000'000}}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(Status(), mpsStopped);
    EXPECT_FALSE(Ctl().IsOpen());
}

// A playing file: status, position and the metadata from its tag.
TEST_F(DesktopMpris, PlayingFileShowsStatusPositionAndTags) {
    const QString path = Mp3("tagged song.mp3", 4, "Lantern Song", "Tester", "Test Album", 7, 17);
    PlayAlone(path);
    EXPECT_EQ(PlaybackStatus(), "Playing");
    const QVariantMap m = client_->Metadata();
    EXPECT_EQ(m.value("mpris:trackid").value<QDBusObjectPath>().path(), "/org/wavelantern/track/1");
    const int64_t lengthMs = Ctl().LengthMs();
    ASSERT_GT(lengthMs, 3500);
    EXPECT_EQ(m.value("mpris:length").toLongLong(), lengthMs * 1000);
    EXPECT_EQ(m.value("xesam:title").toString(), "Lantern Song");
    EXPECT_EQ(m.value("xesam:artist").toStringList(), QStringList{"Tester"});
    EXPECT_EQ(m.value("xesam:album").toString(), "Test Album");
    EXPECT_EQ(m.value("xesam:trackNumber").toInt(), 7);
    EXPECT_EQ(m.value("xesam:genre").toStringList(),
              QStringList{Ctl().Facts().Genre});
    EXPECT_EQ(m.value("xesam:url").toString(), FileUrl(path));
    EXPECT_TRUE(m.value("xesam:url").toString().contains("tagged%20song.mp3"));
    EXPECT_TRUE(client_->Get(kMprisPlayer, "CanSeek").toBool());

    RunEvents(300);
    const int64_t position = PositionUs();
    EXPECT_GT(position, 0);
    EXPECT_LE(position, lengthMs * 1000);
    EXPECT_EQ(position % 1000, 0);  // whole milliseconds of the player
}

// Without a tag the title is the file's name; keys without values are left out.
TEST_F(DesktopMpris, UntaggedFileIsTitledByItsName) {
    const QString path = Mp3("Plain Tune.mp3", 2);
    PlayAlone(path);
    const QVariantMap m = client_->Metadata();
    EXPECT_EQ(m.value("xesam:title").toString(), "Plain Tune");
    EXPECT_FALSE(m.contains("xesam:artist"));
    EXPECT_FALSE(m.contains("xesam:album"));
    EXPECT_FALSE(m.contains("xesam:trackNumber"));
    EXPECT_TRUE(m.contains("mpris:length"));
    EXPECT_TRUE(m.contains("mpris:trackid"));
}

// The wire types, as a client built on another D-Bus library reads them.
TEST_F(DesktopMpris, WireTypesAsAnotherLibrarySeesThem) {
    if (!TSignalMonitor::Available()) GTEST_SKIP() << "gdbus is missing (apt-get install libglib2.0-bin)";
    PlayAlone(Mp3("wire.mp3", 3, "Wire", "Someone"));
    const QStringList common{"call", "--address", bus_->Address(), "--dest", kMprisServiceName,
                             "--object-path", kMprisObjectPath, "--method", "org.freedesktop.DBus.Properties.Get",
                             kMprisPlayer};
    const QString metadata = RunAsync("gdbus", common + QStringList{"Metadata"});
    EXPECT_TRUE(metadata.contains("'mpris:trackid': <objectpath '/org/wavelantern/track/1'>")) << metadata.toStdString();
    EXPECT_TRUE(metadata.contains("'mpris:length': <int64 ")) << metadata.toStdString();
    EXPECT_TRUE(metadata.contains("'xesam:artist': <['Someone']>")) << metadata.toStdString();
    EXPECT_TRUE(metadata.contains("'xesam:title': <'Wire'>")) << metadata.toStdString();
    const QString position = RunAsync("gdbus", common + QStringList{"Position"});
    EXPECT_TRUE(position.startsWith("(<int64 ")) << position.toStdString();
    const QString volume = RunAsync("gdbus", common + QStringList{"Volume"});
    EXPECT_EQ(volume.trimmed(), "(<1.0>,)");

    const QString introspection = RunAsync("gdbus", {"introspect", "--address", bus_->Address(), "--dest",
                                                     kMprisServiceName, "--object-path", kMprisObjectPath});
    for (const char* needle :
         {"interface org.mpris.MediaPlayer2 {", "interface org.mpris.MediaPlayer2.Player {", "Raise();", "Quit();",
          "Seek(in  x Offset);", "SetPosition(in  o TrackId,", "OpenUri(in  s Uri);", "Seeked(x Position);",
          "readonly a{sv} Metadata", "readwrite d Volume", "readonly x Position", "readonly s PlaybackStatus"}) {
        EXPECT_TRUE(introspection.contains(needle)) << needle << "\n" << introspection.toStdString();
    }
}

// Status changes made elsewhere (the window's buttons) are announced.
TEST_F(DesktopMpris, StatusChangesAreAnnounced) {
    if (!StartMonitor()) GTEST_SKIP() << "gdbus is missing (apt-get install libglib2.0-bin)";
    const qsizetype start = monitor_->Mark();
    PlayAlone(Mp3("status.mp3", 5, "Status"));
    EXPECT_TRUE(monitor_->WaitFor("'PlaybackStatus': <'Playing'>", start)) << monitor_->Text().toStdString();
    EXPECT_TRUE(monitor_->WaitFor("'xesam:title': <'Status'>", start)) << monitor_->Text().toStdString();
    EXPECT_TRUE(monitor_->WaitFor("'CanSeek': <true>", start)) << monitor_->Text().toStdString();

    qsizetype mark = monitor_->Mark();
    form1->Image9Click();
    EXPECT_TRUE(monitor_->WaitFor("'PlaybackStatus': <'Paused'>", mark)) << monitor_->Text().toStdString();
    EXPECT_EQ(PlaybackStatus(), "Paused");

    mark = monitor_->Mark();
    form1->Image10Click();
    EXPECT_TRUE(monitor_->WaitFor("'PlaybackStatus': <'Stopped'>", mark)) << monitor_->Text().toStdString();
    EXPECT_EQ(PositionUs(), 0);

    // Clearing the list takes the track away.
    mark = monitor_->Mark();
    form1->SpeedButton25Click();
    EXPECT_TRUE(monitor_->WaitFor("'Metadata': <@a{sv} {}>", mark)) << monitor_->Text().toStdString();
    EXPECT_TRUE(monitor_->WaitFor("'CanSeek': <false>", mark)) << monitor_->Text().toStdString();
    // Unchanged values are not sent again.
    mark = monitor_->Mark();
    RunEvents(700);
    EXPECT_EQ(monitor_->Text().indexOf("PropertiesChanged", mark), -1) << monitor_->Text().toStdString();
}

// Seek is relative and stops at the start; SetPosition only for the current
// track and inside it; both announce the new position.
TEST_F(DesktopMpris, SeekAndSetPosition) {
    if (!StartMonitor()) GTEST_SKIP() << "gdbus is missing (apt-get install libglib2.0-bin)";
    PlayAlone(Mp3("seek.mp3", 12, "Seek"));
    const int64_t lengthUs = Ctl().LengthMs() * 1000;

    qsizetype mark = monitor_->Mark();
    const int64_t before = PositionUs();
    client_->Do("Seek", {qlonglong{4'000'000}});
    int64_t position = PlayerPosition() * 1000;
    EXPECT_GE(position, before + 3'900'000);
    EXPECT_LT(position, before + 5'500'000);
    ASSERT_TRUE(monitor_->WaitFor("Player.Seeked", mark));
    ASSERT_FALSE(monitor_->Seeked(mark).empty());
    EXPECT_NEAR(static_cast<double>(monitor_->Seeked(mark).front()), static_cast<double>(position), 300'000);

    client_->Do("Seek", {qlonglong{-100'000'000}});
    EXPECT_LT(PlayerPosition(), 600);

    mark = monitor_->Mark();
    client_->Do("SetPosition", {QVariant::fromValue(QDBusObjectPath("/org/wavelantern/track/5")), qlonglong{8'000'000}});
    EXPECT_LT(PlayerPosition(), 2000) << "another track's position was taken";
    client_->Do("SetPosition", {QVariant::fromValue(QDBusObjectPath("/org/wavelantern/track/1")), qlonglong{lengthUs + 1}});
    EXPECT_LT(PlayerPosition(), 2000) << "a position beyond the end was taken";
    client_->Do("SetPosition", {QVariant::fromValue(QDBusObjectPath("/org/wavelantern/track/1")), qlonglong{8'000'000}});
    position = PlayerPosition() * 1000;
    EXPECT_GE(position, 7'900'000);
    EXPECT_LT(position, 9'000'000);
    ASSERT_TRUE(monitor_->WaitFor("Player.Seeked", mark));
    EXPECT_NEAR(static_cast<double>(monitor_->Seeked(mark).front()), 8'000'000.0, 300'000);
    EXPECT_EQ(Status(), mpsPlaying);

    // Seeking while paused keeps the pause.
    form1->Image9Click();
    ASSERT_TRUE(RunEventsUntil([&] { return Status() == mpsPaused; }));
    client_->Do("Seek", {qlonglong{-3'000'000}});
    EXPECT_EQ(Status(), mpsPaused);
    EXPECT_NEAR(static_cast<double>(PlayerPosition()), 5000.0, 700.0);
}

// A seek made elsewhere (the window's seek bar) is announced.
TEST_F(DesktopMpris, SeekElsewhereIsAnnounced) {
    if (!StartMonitor()) GTEST_SKIP() << "gdbus is missing (apt-get install libglib2.0-bin)";
    PlayAlone(Mp3("jump.mp3", 12));
    RunEvents(300);
    const qsizetype mark = monitor_->Mark();
    form1->SeekBarRelease(Qt::LeftButton, form1->ALProgressBar1->width() * 3 / 4);
    ASSERT_TRUE(monitor_->WaitFor("Player.Seeked", mark, 2000)) << monitor_->Text().toStdString();
    EXPECT_NEAR(static_cast<double>(monitor_->Seeked(mark).front()), 9'000'000.0, 700'000);
}

// Volume both ways: a client sets it through the window's volume bar, and a
// change made on the bar is announced.
TEST_F(DesktopMpris, VolumeBothWays) {
    if (!StartMonitor()) GTEST_SKIP() << "gdbus is missing (apt-get install libglib2.0-bin)";
    EXPECT_EQ(client_->Set(kMprisPlayer, "Volume", 0.3).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(RunEventsUntil([&] { return Ctl().Volume() == 30; })) << Ctl().Volume();
    ASSERT_NE(form1->ExTrackBar1, nullptr);
    EXPECT_EQ(form1->ExTrackBar1->Position(), 70);
    EXPECT_DOUBLE_EQ(client_->Get(kMprisPlayer, "Volume").toDouble(), 0.3);

    const qsizetype mark = monitor_->Mark();
    form1->ExTrackBar1->SetPosition(20);
    EXPECT_TRUE(monitor_->WaitForMatch(QRegularExpression("'Volume': <0\\.8(0*\\d*)?>"), mark))
        << monitor_->Text().toStdString();

    client_->Set(kMprisPlayer, "Volume", 1.7);
    EXPECT_TRUE(RunEventsUntil([&] { return Ctl().Volume() == 100; })) << Ctl().Volume();
    client_->Set(kMprisPlayer, "Volume", -0.5);
    EXPECT_TRUE(RunEventsUntil([&] { return Ctl().Volume() == 0; })) << Ctl().Volume();
    client_->Set(kMprisPlayer, "Volume", 0.555);
    EXPECT_TRUE(RunEventsUntil([&] { return Ctl().Volume() == 56; })) << Ctl().Volume();
    // The rate is fixed: writing it changes nothing.
    client_->Set(kMprisPlayer, "Rate", 2.0);
    EXPECT_EQ(client_->Get(kMprisPlayer, "Rate").toDouble(), 1.0);
}

// Raise brings the window up and closes the screensaver.
TEST_F(DesktopMpris, RaiseShowsTheWindowAndEndsTheSaver) {
    form1->hide();
    form1->IdleSeconds = 200;
    client_->Call(kMprisRoot, "Raise");
    ASSERT_TRUE(RunEventsUntil([&] { return form1->isVisible(); }));
    EXPECT_FALSE(form1->isMinimized());
    EXPECT_LT(form1->IdleSeconds, 10);

    form2->show();
    ASSERT_TRUE(form2->isVisible());
    client_->Call(kMprisRoot, "Raise");
    EXPECT_TRUE(RunEventsUntil([&] { return !form2->isVisible(); }));
    EXPECT_TRUE(form1->isVisible());
}

// Pause, Play, PlayPause and Stop do what the window's buttons do.
TEST_F(DesktopMpris, TransportActsLikeTheButtons) {
    PlayAlone(Mp3("transport.mp3", 20, "Transport"));
    client_->Do("Play");  // already playing: no effect
    EXPECT_EQ(Status(), mpsPlaying);
    client_->Do("Pause");
    ASSERT_TRUE(RunEventsUntil([&] { return Status() == mpsPaused; }));
    EXPECT_EQ(PlaybackStatus(), "Paused");
    client_->Do("Pause");  // already paused: stays paused
    EXPECT_EQ(Status(), mpsPaused);
    client_->Do("Play");
    ASSERT_TRUE(RunEventsUntil([&] { return Status() == mpsPlaying; }));
    client_->Do("PlayPause");
    ASSERT_TRUE(RunEventsUntil([&] { return Status() == mpsPaused; }));
    client_->Do("PlayPause");
    ASSERT_TRUE(RunEventsUntil([&] { return Status() == mpsPlaying; }));

    // Calls in quick succession run one after the other: three toggles pause.
    std::vector<QDBusPendingCall> calls;
    for (int i = 0; i < 3; ++i) {
        QDBusMessage m = QDBusMessage::createMethodCall(kMprisServiceName, kMprisObjectPath, kMprisPlayer, "PlayPause");
        calls.push_back((*client_)->asyncCall(m));
    }
    ASSERT_TRUE(RunEventsUntil([&] {
        for (auto& c : calls) if (!c.isFinished()) return false;
        return true;
    }));
    RunEvents(200);
    EXPECT_EQ(Status(), mpsPaused);

    client_->Do("Stop");
    ASSERT_TRUE(RunEventsUntil([&] { return Status() == mpsStopped; }));
    EXPECT_FALSE(Ctl().AutoAdvance());
    EXPECT_EQ(PlaybackStatus(), "Stopped");
}

// Quit takes the path of the window's close button: playback stops and the
// ticks end.
TEST_F(DesktopMpris, QuitUsesTheCloseButton) {
    PlayAlone(Mp3("quit.mp3", 20));
    client_->Call(kMprisRoot, "Quit");
    EXPECT_TRUE(RunEventsUntil([&] { return !form1->Timer4->isActive(); }));
    EXPECT_EQ(Status(), mpsStopped);
}

// Repeat and random as LoopStatus and Shuffle: readable, writable, and
// announced whichever side changes them.
TEST_F(DesktopMpris, LoopStatusAndShuffleFollowRepeatAndRandom) {
    if (!StartMonitor()) GTEST_SKIP() << "gdbus is missing (apt-get install libglib2.0-bin)";
    EXPECT_EQ(client_->Get(kMprisPlayer, "LoopStatus").toString(), "None");
    EXPECT_FALSE(client_->Get(kMprisPlayer, "Shuffle").toBool());

    qsizetype mark = monitor_->Mark();
    EXPECT_EQ(client_->Set(kMprisPlayer, "LoopStatus", QStringLiteral("Playlist")).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(client_->Set(kMprisPlayer, "Shuffle", true).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(RunEventsUntil([&] { return form1->Settings.RandomPlay != 0; }));
    EXPECT_EQ(form1->Settings.RepeatPlay, 1);
    EXPECT_TRUE(form1->CheckBox2->isChecked());
    EXPECT_TRUE(form1->CheckBox6->isChecked());
    EXPECT_EQ(client_->Get(kMprisPlayer, "LoopStatus").toString(), "Playlist");
    EXPECT_TRUE(client_->Get(kMprisPlayer, "Shuffle").toBool());
    EXPECT_TRUE(monitor_->WaitFor("'LoopStatus': <'Playlist'>", mark)) << monitor_->Text().toStdString();
    EXPECT_TRUE(monitor_->WaitFor("'Shuffle': <true>", mark)) << monitor_->Text().toStdString();

    // A loop of one track is not offered: nothing changes.
    client_->Set(kMprisPlayer, "LoopStatus", QStringLiteral("Track"));
    RunEvents(100);
    EXPECT_EQ(form1->Settings.RepeatPlay, 1);

    // The options panel's Save is announced too.
    mark = monitor_->Mark();
    form1->CheckBox2->setChecked(false);
    form1->CheckBox6->setChecked(false);
    form1->Button1Click();
    EXPECT_TRUE(monitor_->WaitFor("'LoopStatus': <'None'>", mark)) << monitor_->Text().toStdString();
    EXPECT_TRUE(monitor_->WaitFor("'Shuffle': <false>", mark)) << monitor_->Text().toStdString();
    EXPECT_EQ(client_->Get(kMprisPlayer, "LoopStatus").toString(), "None");
    EXPECT_FALSE(client_->Get(kMprisPlayer, "Shuffle").toBool());
}

}  // namespace wl::test

#else  // WL_HAVE_DBUS

#include <gtest/gtest.h>

// Built without D-Bus (WL_DBUS off, or Qt without its D-Bus module): the
// service is not there to test, and the run says so.
TEST(DesktopMpris, NotBuiltWithoutDBus) { GTEST_SKIP() << "built without D-Bus: no media player service"; }

#endif  // WL_HAVE_DBUS
