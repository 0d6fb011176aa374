// The media player service with a playlist: next and previous, the track
// id, what can be skipped to, seeking past the end and opening a file.
#if WL_HAVE_DBUS

#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <vector>

#include "tests/app/desktop_mpris_fixture.h"

namespace wl::test {

namespace {

class DesktopMprisPlaylist : public DesktopMprisFixture {
protected:
    // Three tagged entries, the first one playing, as after opening them.
    void StartList() {
        for (int i = 1; i <= 3; ++i) {
            paths_.push_back(Mp3(QStringLiteral("song%1.mp3").arg(i), 6, "Song " + std::to_string(i), "Band"));
            form1->AddEntry(paths_.back());
        }
        ASSERT_EQ(form1->EntryCount, 3) << "AddEntry did not add the files";
        form1->ResetNotPlayed();
        form1->CurrentEntry = 1;
        form1->SelectCurrent();
        form1->playfile();
        ASSERT_TRUE(RunEventsUntil([&] { return Status() == mpsPlaying; })) << "playfile did not start entry 1";
    }
    QString PlayingFile() const { return PlayerFile(); }
    QString TrackId() { return client_->Metadata().value("mpris:trackid").value<QDBusObjectPath>().path(); }
    bool CanGo(const char* which) { return client_->Get(kMprisPlayer, which).toBool(); }

    QStringList paths_;
};

}  // namespace

// Next and Previous move through the list as the window's buttons do; the
// track id and the skip abilities follow.
TEST_F(DesktopMprisPlaylist, NextAndPreviousFollowTheList) {
    ASSERT_NO_FATAL_FAILURE(StartList());
    if (!StartMonitor()) GTEST_SKIP() << "gdbus is missing (apt-get install libglib2.0-bin)";
    EXPECT_EQ(TrackId(), "/org/wavelantern/track/1");
    EXPECT_EQ(client_->Metadata().value("xesam:title").toString(), "Song 1");
    EXPECT_TRUE(CanGo("CanGoNext"));
    EXPECT_FALSE(CanGo("CanGoPrevious"));
    EXPECT_TRUE(CanGo("CanPlay"));

    qsizetype mark = monitor_->Mark();
    client_->Call(kMprisPlayer, "Next");
    ASSERT_TRUE(RunEventsUntil([&] { return form1->CurrentEntry == 2 && Status() == mpsPlaying; }));
    EXPECT_EQ(QFileInfo(PlayingFile()).fileName(), "song2.mp3");
    EXPECT_EQ(TrackId(), "/org/wavelantern/track/2");
    EXPECT_TRUE(monitor_->WaitFor("'xesam:title': <'Song 2'>", mark)) << monitor_->Text().toStdString();
    EXPECT_TRUE(monitor_->WaitFor("'CanGoPrevious': <true>", mark)) << monitor_->Text().toStdString();

    client_->Call(kMprisPlayer, "Next");
    ASSERT_TRUE(RunEventsUntil([&] { return form1->CurrentEntry == 3; }));
    EXPECT_FALSE(CanGo("CanGoNext"));  // the last entry, in order
    client_->Call(kMprisPlayer, "Next");  // no wrap: nothing happens
    RunEvents(600);
    EXPECT_EQ(form1->CurrentEntry, 3);

    mark = monitor_->Mark();
    client_->Call(kMprisPlayer, "Previous");
    ASSERT_TRUE(RunEventsUntil([&] { return form1->CurrentEntry == 2; }));
    EXPECT_TRUE(monitor_->WaitFor("'CanGoNext': <true>", mark)) << monitor_->Text().toStdString();
    EXPECT_EQ(client_->Metadata().value("xesam:url").toString(),
              QString::fromLatin1(QUrl::fromLocalFile(QFileInfo(paths_[1]).absoluteFilePath()).toEncoded()));
}

// Calls in a burst are each carried out: twenty Nexts move twenty entries.
TEST_F(DesktopMprisPlaylist, BurstOfNextsMovesOneEntryEach) {
    ASSERT_NO_FATAL_FAILURE(StartList());
    for (int i = 4; i <= 25; ++i) form1->AddEntry(paths_[static_cast<size_t>(i % 3)]);
    std::vector<QDBusPendingCall> calls;
    for (int i = 0; i < 20; ++i) {
        calls.push_back((*client_)->asyncCall(
            QDBusMessage::createMethodCall(kMprisServiceName, kMprisObjectPath, kMprisPlayer, "Next")));
    }
    ASSERT_TRUE(RunEventsUntil([&] {
        return std::all_of(calls.begin(), calls.end(), [](const QDBusPendingCall& c) { return c.isFinished(); });
    }));
    ASSERT_TRUE(RunEventsUntil([&] { return form1->CurrentEntry == 21 && Ctl().IsOpen() && !Ctl().Holding(); }))
        << form1->CurrentEntry;
    RunEvents(400);
    EXPECT_EQ(form1->CurrentEntry, 21);
    EXPECT_EQ(TrackId(), "/org/wavelantern/track/21");
}

// Seeking past the end acts as Next.
TEST_F(DesktopMprisPlaylist, SeekPastTheEndGoesToTheNextEntry) {
    ASSERT_NO_FATAL_FAILURE(StartList());
    client_->Call(kMprisPlayer, "Seek", {qlonglong{60'000'000}});
    EXPECT_TRUE(RunEventsUntil([&] { return form1->CurrentEntry == 2 && Status() == mpsPlaying; }));
    EXPECT_EQ(QFileInfo(PlayingFile()).fileName(), "song2.mp3");
}

// Play when stopped starts the current entry again (the window's Play).
TEST_F(DesktopMprisPlaylist, PlayWhenStoppedRestartsTheEntry) {
    ASSERT_NO_FATAL_FAILURE(StartList());
    form1->Image10Click();
    ASSERT_TRUE(RunEventsUntil([&] { return Status() == mpsStopped; }));
    client_->Call(kMprisPlayer, "Play");
    EXPECT_TRUE(RunEventsUntil([&] { return Status() == mpsPlaying; }));
    EXPECT_EQ(form1->CurrentEntry, 1);
    EXPECT_EQ(QFileInfo(PlayingFile()).fileName(), "song1.mp3");
}

// OpenUri appends a file or a stream and plays it; other schemes and types
// are ignored.
TEST_F(DesktopMprisPlaylist, OpenUriAppendsAndPlays) {
    ASSERT_NO_FATAL_FAILURE(StartList());
    const QString extra = Mp3("extra song.mp3", 6, "Extra");
    const QString url = QString::fromLatin1(QUrl::fromLocalFile(extra).toEncoded());
    client_->Call(kMprisPlayer, "OpenUri", {QStringLiteral("ftp://example.invalid/a.mp3")});
    client_->Call(kMprisPlayer, "OpenUri", {QStringLiteral("http:///no-host")});
    client_->Call(kMprisPlayer, "OpenUri", {QString::fromLatin1(QUrl::fromLocalFile(Home() + "notes.txt").toEncoded())});
    RunEvents(200);
    EXPECT_EQ(form1->EntryCount, 3);
    client_->Call(kMprisPlayer, "OpenUri", {url});
    ASSERT_TRUE(RunEventsUntil([&] { return form1->EntryCount == 4 && form1->CurrentEntry == 4; }));
    EXPECT_TRUE(RunEventsUntil([&] { return QFileInfo(PlayingFile()).fileName() == "extra song.mp3"; }));
    EXPECT_EQ(Status(), mpsPlaying);
    EXPECT_EQ(client_->Metadata().value("xesam:title").toString(), "Extra");

    // A stream's URL is kept as it is and asked to play.
    const QString stream = QStringLiteral("HTTP://127.0.0.1:9/live?id=1");
    client_->Call(kMprisPlayer, "OpenUri", {stream});
    ASSERT_TRUE(RunEventsUntil([&] { return form1->EntryCount == 5 && form1->CurrentEntry == 5; }));
    EXPECT_EQ(form1->Playlist.Path(4), stream);
}

}  // namespace wl::test

#endif  // WL_HAVE_DBUS
