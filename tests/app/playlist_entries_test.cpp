// The playlist's entries: adding, removing, random and sequential order, the
// end-of-entry advance, drops and the scroll buttons. The paths name no files:
// starting one shows it as missing, which is all these cases need.
#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QToolButton>
#include <QUrl>

#include <algorithm>

#include "tests/app/playlist_support.h"
#include "tests/app/run_events.h"

namespace wl::test {

using PlaylistEntries = PlaylistFixture;

TEST_F(PlaylistEntries, OnlyMp3PathsAreAdded) {
    EXPECT_TRUE(form1->PlaylistEmpty());
    Add({"/m/A.MP3", "/m/b.mp3", "/m/c.wav", "", "/m/mp3"});
    EXPECT_EQ(2, form1->EntryCount);
    EXPECT_EQ(2, GridRows());
    EXPECT_EQ((QStringList{"1. A", "2. b"}), Column(0));
    EXPECT_EQ((QStringList{"/m/A.MP3", "/m/b.mp3"}), Column(1));
    form1->AddEntry("/m/x.mpeg3.mp3");
    EXPECT_EQ("3. x.mpeg3", Text(2));
}

TEST_F(PlaylistEntries, ClearingLeavesNoRows) {
    Add({"/m/a.mp3", "/m/b.mp3"});
    form1->CurrentEntry = 2;
    form1->ClearPlaylist();
    EXPECT_TRUE(form1->PlaylistEmpty());
    EXPECT_EQ(0, GridRows());
    EXPECT_EQ(QString(), Text(0, 1));  // no stale path to start later
    EXPECT_EQ(0, form1->EntryCount);
    EXPECT_EQ(0, form1->CurrentEntry);
    form1->AddEntry("/m/c.mp3");
    EXPECT_EQ((QStringList{"1. c"}), Column(0));
    // "-All" shows the counter too.
    form1->CurrentEntry = 1;
    form1->SpeedButton25Click();
    EXPECT_EQ("0 - 0", form1->Label2->text());
    EXPECT_TRUE(form1->PlaylistEmpty());
}

// The old 16-bit count and flag table ended at 32,767 entries.
TEST_F(PlaylistEntries, ListsGoBeyondTheOldSixteenBitLimit) {
    constexpr int kEntries = 40'000;
    QStringList paths;
    for (int i = 0; i < kEntries; ++i) paths.append(QStringLiteral("/m/%1.mp3").arg(i));
    QByteArray text = paths.join('\n').toUtf8();
    ASSERT_TRUE(WriteText(form1->DefaultPlaylistPath(), text));
    form1->LoadDefaultPlaylist();
    EXPECT_EQ(kEntries, form1->EntryCount);
    EXPECT_EQ(kEntries, GridRows());
    EXPECT_EQ("40000. 39999", Text(kEntries - 1));
    form1->AddEntry("/m/more.mp3");
    EXPECT_EQ(kEntries + 1, form1->EntryCount);
    // The last entry can be reached and passed.
    form1->CurrentEntry = kEntries + 1;
    form1->Settings.RepeatPlay = 1;
    form1->ApplyPlayOptions();
    EXPECT_EQ(1, Ctl().FollowingEntry(TAdvance::EndOfEntry));
}

TEST_F(PlaylistEntries, RandomPicksEachEntryOnceThenRepeatStartsOver) {
    EXPECT_EQ(0, form1->PickRandom());  // empty
    form1->AddEntry("/m/one.mp3");
    form1->ResetNotPlayed();
    EXPECT_EQ(1, form1->PickRandom());
    EXPECT_EQ(1, form1->PickRandom());  // one entry: the flag is not cleared here
    form1->NotPlayed[1] = 0;
    EXPECT_EQ(0, form1->PickRandom());

    Add({"/m/two.mp3", "/m/three.mp3"});
    ASSERT_EQ(3, form1->EntryCount);
    for (int round = 0; round < 20; ++round) {
        form1->ResetNotPlayed();
        std::vector<int> picks;
        for (int i = 0; i < 3; ++i) picks.push_back(form1->PickRandom());
        std::sort(picks.begin(), picks.end());
        ASSERT_EQ((std::vector<int>{1, 2, 3}), picks);
        ASSERT_EQ(0, form1->PickRandom());
    }

    // Everything played, no repeat: the end of an entry leads nowhere.
    form1->Settings.RandomPlay = 1;
    form1->ApplyPlayOptions();
    form1->CurrentEntry = 2;
    EXPECT_EQ(0, Ctl().FollowingEntry(TAdvance::EndOfEntry));

    // With repeat the flags start over and one entry is picked.
    form1->Settings.RepeatPlay = 1;
    form1->ApplyPlayOptions();
    const int pick = Ctl().FollowingEntry(TAdvance::EndOfEntry);
    ASSERT_GE(pick, 1);
    ASSERT_LE(pick, 3);
    int cleared = 0;
    for (int n = 1; n <= 3; ++n) cleared += form1->NotPlayed[n] == 0;
    EXPECT_EQ(1, cleared);
    EXPECT_EQ(0, form1->NotPlayed[pick]);
}

TEST_F(PlaylistEntries, NextAndLastStopAtTheEndsEvenWithRepeat) {
    QTemporaryDir dir;
    const QString a = dir.path() + "/a.mp3", b = dir.path() + "/b.mp3", c = dir.path() + "/c.mp3";
    for (const QString& path : {a, b, c}) ASSERT_TRUE(WriteSilentMp3(path, 400'000));
    Add({a, b, c});
    form1->Settings.RepeatPlay = 1;
    form1->ApplyPlayOptions();
    form1->CurrentEntry = 3;
    form1->PlayNext();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(3, form1->CurrentEntry);
    EXPECT_TRUE(Ctl().PlayingPath().isEmpty()) << "nothing started";
    form1->CurrentEntry = 1;
    form1->PlayPrevious();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(1, form1->CurrentEntry);
    EXPECT_TRUE(Ctl().PlayingPath().isEmpty());

    form1->PlayNext();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(2, form1->CurrentEntry);
    EXPECT_EQ(b, Ctl().PlayingPath());
    EXPECT_EQ("2> b", Text(1));
    EXPECT_EQ("2 - 3", form1->Label2->text());
    form1->PlayPrevious();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(1, form1->CurrentEntry);
    EXPECT_EQ(a, Ctl().PlayingPath());
    EXPECT_EQ(0, CurrentRow());
}

// The end of an entry leads to the next one, from the last only with repeat;
// the window then shows it.
TEST_F(PlaylistEntries, EndOfEntryAdvanceWrapsOnlyWithRepeat) {
    QTemporaryDir dir;
    const QString a = dir.path() + "/a.mp3", b = dir.path() + "/b.mp3";
    ASSERT_TRUE(WriteSilentMp3(a, 40'000));
    ASSERT_TRUE(WriteSilentMp3(b, 40'000, 3));  // mono: played after a stop, not on from a
    Add({a, b});
    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(RunEventsUntil([&] { return form1->CurrentEntry == 2 && Ctl().IsOpen(); }));
    EXPECT_EQ(b, Ctl().PlayingPath());
    EXPECT_EQ("b", form1->TitleText);
    EXPECT_EQ(1, CurrentRow());
    ASSERT_TRUE(RunEventsUntil([&] { return Ctl().State() == TPlayState::Stopped; }));
    EXPECT_EQ(2, form1->CurrentEntry);  // last entry, no repeat
    EXPECT_EQ(TStatePicture::End, form1->ShownState);

    form1->Settings.RepeatPlay = 1;
    form1->ApplyPlayOptions();
    form1->playfile();
    ASSERT_TRUE(RunEventsUntil([&] { return form1->CurrentEntry == 1 && Ctl().IsOpen(); }));
    EXPECT_EQ(a, Ctl().PlayingPath());
    EXPECT_EQ(0, CurrentRow());
}

TEST_F(PlaylistEntries, RemovingRowsMovesFlagsAndRenumbers) {
    Add({"/m/a.mp3", "/m/b.mp3", "/m/c.mp3", "/m/d.mp3"});
    form1->ResetNotPlayed();
    form1->NotPlayed[4] = 0;  // d was played
    form1->CurrentEntry = 3;
    SelectRows(1, 2);
    form1->SpeedButton24Click();
    EXPECT_EQ((QStringList{"1. a", "2> d"}), Column(0));
    EXPECT_EQ((QStringList{"/m/a.mp3", "/m/d.mp3"}), Column(1));
    EXPECT_EQ(2, form1->EntryCount);
    EXPECT_EQ(3, form1->CurrentEntry);  // not adjusted
    EXPECT_EQ("3 - 2", form1->Label2->text());
    EXPECT_EQ(0, form1->NotPlayed[2]);
    EXPECT_NE(0, form1->NotPlayed[3]);  // freed numbers start unplayed
    EXPECT_NE(0, form1->NotPlayed[4]);
    // The stale current entry names no row: starting it plays nothing.
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(QString(), Ctl().PlayingPath());
    EXPECT_EQ(mpsStopped, PlayerStatus());
}

TEST_F(PlaylistEntries, RemovingEveryRowEmptiesTheList) {
    form1->AddEntry("/m/only.mp3");
    SelectRows(0, 0);
    form1->RemoveSelectedRows();
    EXPECT_TRUE(form1->PlaylistEmpty());
    EXPECT_EQ(0, form1->EntryCount);
    form1->CurrentEntry = 1;
    form1->sg1DblClick();  // nothing to play in an empty list
    EXPECT_EQ(QString(), Ctl().PlayingPath());
    form1->AddEntry("/m/next.mp3");
    EXPECT_EQ((QStringList{"1. next"}), Column(0));
    EXPECT_EQ(1, form1->EntryCount);

    Add({"/m/b.mp3", "/m/c.mp3"});
    SelectRows(0, 2);
    form1->RemoveSelectedRows();
    EXPECT_TRUE(form1->PlaylistEmpty());
    EXPECT_EQ(0, GridRows());
    EXPECT_EQ(0, form1->EntryCount);
    form1->AddEntry("/m/again.mp3");
    EXPECT_EQ((QStringList{"1. again"}), Column(0));
}

TEST_F(PlaylistEntries, DoubleClickAndEnterPlayTheSelectedRow) {
    Add({"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"});
    form1->Settings.RandomPlay = 1;
    form1->ApplyPlayOptions();
    form1->ResetNotPlayed();
    SelectRow(1);
    form1->sg1DblClick();
    EXPECT_EQ(2, form1->CurrentEntry);
    EXPECT_EQ("/m/b.mp3", Ctl().PlayingPath());
    EXPECT_EQ(0, form1->NotPlayed[2]);

    SelectRow(2);
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(form1->sg1, &enter);
    EXPECT_EQ(3, form1->CurrentEntry);
    EXPECT_EQ("/m/c.mp3", Ctl().PlayingPath());
}

TEST_F(PlaylistEntries, DroppedPlaylistLoadsAndBecomesTheCurrentFolder) {
    QTemporaryDir dir;
    const QString list = dir.path() + "/Dropped.M3U";
    ASSERT_TRUE(WriteText(list, "#EXTM3U\r\n#EXTINF:3,t\r\na.mp3\r\n\r\nsub\\b.MP3\r\nnotes.txt\r\n"));
    form1->DropFiles({list});
    EXPECT_EQ((QStringList{"a.mp3", "sub/b.MP3"}), Column(1));
    EXPECT_EQ(QDir(dir.path()).canonicalPath(), QDir::current().canonicalPath());
    EXPECT_EQ(1, form1->CurrentEntry);  // a fresh list starts
    EXPECT_EQ("a.mp3", Ctl().PlayingPath());
}

TEST_F(PlaylistEntries, DropsNeedAnMp3FirstAndAppend) {
    form1->DropFiles({"/m/readme.txt", "/m/song.mp3"});
    EXPECT_TRUE(form1->PlaylistEmpty());
    EXPECT_EQ(0, form1->CurrentEntry);
    form1->DropFiles({"/m/a.m3u", "/m/song.mp3"});  // a playlist among others is not read
    EXPECT_TRUE(form1->PlaylistEmpty());

    Add({"/m/1.mp3", "/m/2.mp3", "/m/3.mp3"});
    form1->CurrentEntry = 1;
    form1->DropFiles({"/m/x.mp3", "/m/y.ogg", "/m/z.MP3"});
    EXPECT_EQ((QStringList{"1. 1", "2. 2", "3. 3", "4. x", "5. z"}), Column(0));
    EXPECT_EQ(1, form1->CurrentEntry);  // appended, nothing restarted
    EXPECT_EQ(2, CurrentRow());  // the last old row
    EXPECT_EQ("1 - 5", form1->Label2->text());

    // Long names arrive whole.
    const QString longName = "/m/" + QString(300, QLatin1Char('n')) + ".mp3";
    form1->DropFiles({longName});
    EXPECT_EQ(longName, Text(5, 1));
}

TEST_F(PlaylistEntries, FilesDroppedOnTheWindowAreAdded) {
    EXPECT_TRUE(form1->acceptDrops());
    auto mime = std::make_unique<QMimeData>();
    mime->setUrls({QUrl::fromLocalFile("/m/dragged one.mp3"), QUrl::fromLocalFile("/m/two.mp3")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form1.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form1.get(), &drop);
    RunEventsUntil([&] { return form1->EntryCount == 2; }, 2000);
    EXPECT_EQ((QStringList{"/m/dragged one.mp3", "/m/two.mp3"}), Column(1));
}

TEST_F(PlaylistEntries, ScrollButtonsMoveTheTopRow) {
    int64_t now = 0;
    form1->ListClock = [&] { return now; };
    for (int i = 1; i <= 20; ++i) form1->AddEntry(QStringLiteral("/m/%1.mp3").arg(i));
    auto enabled = [&](int button) { return form1->PlaylistButtons[button - 22]->isEnabled(); };
    form1->UpdateScrollButtons();
    EXPECT_FALSE(enabled(28));
    EXPECT_FALSE(enabled(30));
    EXPECT_TRUE(enabled(31));
    EXPECT_TRUE(enabled(33));

    form1->ScrollButtonClick(33);
    EXPECT_EQ(14, form1->TopRow());
    EXPECT_FALSE(enabled(31));
    EXPECT_FALSE(enabled(32));
    EXPECT_TRUE(enabled(29));
    form1->ScrollButtonClick(31);
    EXPECT_EQ(14, form1->TopRow());
    form1->ScrollButtonClick(29);
    EXPECT_EQ(9, form1->TopRow());
    form1->ScrollButtonClick(30);
    EXPECT_EQ(8, form1->TopRow());
    form1->ScrollButtonClick(32);  // 20 - 8 - 11 >= 0: five down
    EXPECT_EQ(13, form1->TopRow());
    form1->ScrollButtonClick(32);  // near the end: to the last page
    EXPECT_EQ(14, form1->TopRow());
    form1->ScrollButtonClick(29);
    form1->ScrollButtonClick(29);
    form1->ScrollButtonClick(29);
    EXPECT_EQ(0, form1->TopRow());
    form1->ScrollButtonClick(30);
    EXPECT_EQ(0, form1->TopRow());
    form1->ScrollButtonClick(31);
    EXPECT_EQ(1, form1->TopRow());
    form1->ScrollButtonClick(28);
    EXPECT_EQ(0, form1->TopRow());

    // The keys are the user's moves: the list follows the playing entry
    // again once they are some time past.
    form1->CurrentEntry = 10;
    form1->SelectCurrent();
    EXPECT_EQ(0, form1->TopRow());
    now += TForm1::kFollowPauseMs;
    form1->SelectCurrent();
    EXPECT_EQ(9, form1->TopRow());
    EXPECT_EQ(9, CurrentRow());
    EXPECT_TRUE(enabled(28));
    EXPECT_TRUE(enabled(33));

    form1->ClearPlaylist();
    for (int i = 1; i <= 6; ++i) form1->AddEntry(QStringLiteral("/m/%1.mp3").arg(i));
    form1->UpdateScrollButtons();
    EXPECT_FALSE(enabled(31));
    form1->ScrollButtonClick(33);
    EXPECT_EQ(0, form1->TopRow());
}

TEST_F(PlaylistEntries, DefaultPlaylistRoundTrip) {
    form1->LoadDefaultPlaylist();  // missing: empty
    EXPECT_TRUE(form1->PlaylistEmpty());
    form1->SaveDefaultPlaylist();
    EXPECT_TRUE(ReadAll(form1->DefaultPlaylistPath()).isEmpty());

    Add({"/m/a.mp3", QString::fromUtf8("/m/\xC3\xA4.mp3"), "rel/c.mp3"});
    form1->SaveDefaultPlaylist();
    EXPECT_EQ(QByteArray("/m/a.mp3\n/m/\xC3\xA4.mp3\nrel/c.mp3\n"), ReadAll(form1->DefaultPlaylistPath()));
    form1->CurrentEntry = 2;
    form1->LoadDefaultPlaylist();
    EXPECT_EQ((QStringList{"1. a", QString::fromUtf8("2. \xC3\xA4"), "3. c"}), Column(0));
    EXPECT_EQ(0, form1->CurrentEntry);
    EXPECT_EQ(QStringList{"wl21.m3u"}, QDir(Home()).entryList({"wl21*"}, QDir::Files));
}

}  // namespace wl::test
