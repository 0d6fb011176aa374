// The playback controller on its own: commands in bursts and during holds,
// the end of an entry, random rounds, entries that cannot be played.
#include <QDir>
#include <QFile>

#include <algorithm>

#include "tests/playback/controller_fixture.h"

namespace wl::test {

using Controller = ControllerFixture;

// Every Next counts, also those given while the first one's hold runs and
// while entries open; missing entries on the way cost nothing, and only the
// entry landed on is opened. Landing on a missing entry reports it and moves
// on as at an entry's end.
TEST_F(Controller, BurstOfNextsMovesOneEntryEach) {
    Start();
    const QString song = Mp3("song.mp3", 30);
    QStringList paths;
    for (int n = 1; n <= 60; ++n) {
        const QString path = QString::fromStdString(dir_.path()) + QStringLiteral("/%1.mp3").arg(n);
        if (n % 7 != 0) {
            ASSERT_TRUE(QFile::link(song, path));  // every 7th is missing
        }
        paths.append(path);
    }
    Add(paths);
    c->PlayEntry(1);
    ASSERT_TRUE(Settle());
    ASSERT_EQ(started, std::vector<int>{1});

    for (int i = 0; i < 50; ++i) c->Next();
    EXPECT_EQ(1, c->CurrentEntry());  // the hold first shows the step
    ASSERT_TRUE(Settle());
    EXPECT_EQ(51, c->CurrentEntry());
    EXPECT_EQ(paths[50], c->Facts().Source);
    EXPECT_EQ(started, (std::vector<int>{1, 51}));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(TPlayState::Playing, PlayerStatus());

    // 51 -> 56 by Next, Previous and Nexts mixed; then onto the missing 56.
    for (const bool next : {true, true, false, true, true, true, true}) next ? c->Next() : c->Previous();
    ASSERT_TRUE(Settle());
    ASSERT_TRUE(RunUntil([&] { return started.back() == 57; }));
    EXPECT_EQ(57, c->CurrentEntry());
    EXPECT_EQ(started, (std::vector<int>{1, 51, 57}));
    EXPECT_EQ(errors, QStringList{"Cannot play 56. 56: file not found"});
}

// An entry that ends while a hold runs is advanced from once, at the hold's
// end: during a start's hold it moves on then; when a Next was given it
// alone decides (1 -> 2, never 3).
TEST_F(Controller, EndDuringAHoldAdvancesOnce) {
    Start();
    const QString a = Mp3("a.mp3", 0.3, 3);  // mono: the player does not play on into b by itself
    Add({a, Mp3("b.mp3", 30), Mp3("c.mp3", 30)});
    c->SetHoldMs(1000);
    c->PlayEntry(1);
    ASSERT_TRUE(RunUntil([&] { return started.size() == 2; }));
    EXPECT_EQ(2, c->CurrentEntry());

    // Entry 1 again, its hold over; then a Next whose hold outlasts it.
    c->SetHoldMs(0);
    c->PlayEntry(1);
    ASSERT_TRUE(Settle());
    ASSERT_TRUE(c->AutoAdvance());
    c->SetHoldMs(1000);
    c->Next();
    ASSERT_TRUE(RunUntil([&] { return started.size() == 4; }));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(started, (std::vector<int>{1, 2, 1, 2}));
    EXPECT_EQ(2, c->CurrentEntry());
    EXPECT_TRUE(c->Playing());

    // A Next given during a start's hold, the entry ending meanwhile: the
    // Next alone moves on.
    c->PlayEntry(1);
    c->Next();
    ASSERT_TRUE(RunUntil([&] { return started.size() == 6; }));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(started, (std::vector<int>{1, 2, 1, 2, 1, 2}));
    EXPECT_EQ(2, c->CurrentEntry());
}

// With random on and repeat off the list stops once every entry has played;
// an explicit Play, or Next, then starts a new round.
TEST_F(Controller, RandomRoundWithoutRepeatStopsAndPlayOrNextStartsAnother) {
    Start(20);
    Add({Mp3("a.mp3", 1), Mp3("b.mp3", 1), Mp3("c.mp3", 1)});
    c->SetHoldMs(0);
    c->SetOptions({.Random = true, .Repeat = false, .UseCache = false, .CachePath = {}});
    const auto roundPlayed = [&] {
        if (!RunUntil([&] { return !stops.empty() && stops.back() == TStopCause::EndOfList; })) return false;
        std::vector<int> round = started;
        std::sort(round.begin(), round.end());
        return round == std::vector<int>{1, 2, 3};
    };
    c->StartList();
    ASSERT_TRUE(roundPlayed()) << started.size();
    EXPECT_EQ(TPlayState::Stopped, c->State());
    EXPECT_EQ(0, c->CurrentEntry());

    for (const bool viaNext : {false, true}) {
        started.clear();
        stops.clear();
        viaNext ? c->Next() : c->Play();
        ASSERT_TRUE(RunUntil([&] { return !started.empty(); }));
        EXPECT_TRUE(c->Playing());
        ASSERT_TRUE(roundPlayed()) << "new round after " << (viaNext ? "Next" : "Play");
    }
}

// Missing, a folder, not MPEG audio: each is reported with its reason and
// passed over; a playable entry after them plays.
TEST_F(Controller, UnplayableEntriesAreReportedAndPassedOver) {
    Start();
    const QString folder = Missing("folder.mp3");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString junk = Missing("junk.mp3");
    ASSERT_TRUE(WriteFileBytes(junk.toStdString(), std::vector<uint8_t>(5000, 'x')));
    Add({Missing("03 - Night.mp3"), folder, junk, Mp3("good.mp3", 30)});
    c->SetHoldMs(0);
    c->StartList();
    ASSERT_TRUE(RunUntil([&] { return !started.empty(); }));
    EXPECT_EQ(started, std::vector<int>{4});
    EXPECT_EQ(errors, (QStringList{"Cannot play 1. 03 - Night: file not found", "Cannot play 2. folder: not a file",
                                   "Cannot open junk.mp3: unknown MPEG Audio format."}));
    // What kept them from playing stays with them in the list.
    EXPECT_EQ(c->Playlist().Rows(), 4);
    EXPECT_EQ(c->Playlist().Entry(0).Problem, "File not found");
    EXPECT_EQ(c->Playlist().Entry(1).Problem, "Not a file");
    EXPECT_EQ(c->Playlist().Entry(3).Problem, QString());
    // A file that comes back plays, and its problem goes.
    ASSERT_TRUE(QFile::copy(Mp3("again.mp3", 30), Missing("03 - Night.mp3")));
    c->PlayEntry(1);
    ASSERT_TRUE(RunUntil([&] { return started.back() == 1; }));
    EXPECT_EQ(c->Playlist().Entry(0).Problem, QString());
}

// Failures in a row stop the list after ten, also when repeating.
TEST_F(Controller, TenFailuresInARowStopTheList) {
    Start();
    Add({Missing("x.mp3"), Missing("y.mp3"), Missing("z.mp3")});
    c->SetHoldMs(0);
    c->SetOptions({.Random = false, .Repeat = true, .UseCache = false, .CachePath = {}});
    int failed = 0;
    QObject::connect(c.get(), &TPlaybackController::EntryFailed, [&] { ++failed; });
    c->StartList();
    ASSERT_TRUE(RunUntil([&] { return !stops.empty(); }));
    RunFor(200);
    EXPECT_EQ(TPlaybackController::kMaxFailures, failed);
    EXPECT_EQ(stops, std::vector<TStopCause>{TStopCause::Failures});
    EXPECT_EQ(errors.back(), "Stopped: 10 entries in a row could not be played");
    EXPECT_EQ(TPlayState::Stopped, c->State());
}

// An entry's sample range is what plays of its file (after a stop: the
// player never plays on into a range).
TEST_F(Controller, EntryRangeIsWhatPlays) {
    Start(20);
    const QString song = Mp3("song.mp3", 30);
    Add({song});
    ASSERT_TRUE(c->Playlist().AddEntry({song, {44100, 2 * 44100}, {}, {}, false}));
    c->SetHoldMs(0);
    c->PlayEntry(1);
    ASSERT_TRUE(Settle());
    EXPECT_GT(c->LengthMs(), 29'000);
    std::string next = "?";
    c->Inspect([&](TMP3Player& p) { next = p.NextFileName(); });
    EXPECT_EQ("", next);
    ASSERT_TRUE(RunUntil([&] { return started.size() == 2; }));
    EXPECT_EQ(2, c->CurrentEntry());
    EXPECT_EQ(2000, c->LengthMs());
}

// The tracks of a sheet over one file: from track 2 the player plays on into
// track 3 without opening the file again; the entry, its length and its own
// title follow when track 3 starts, the position from 0.
TEST_F(Controller, PlaysOnIntoTheNextTrackOfTheSameFile) {
    Start(20);
    const QString album = Mp3("album.mp3", 6);
    const auto track = [&](int64_t first, int64_t count, const char* title, int number) {
        TEntryMeta meta;
        meta.Title = QString::fromUtf8(title);
        meta.Album = QStringLiteral("The Album");
        meta.Track = number;
        ASSERT_TRUE(c->Playlist().AddEntry({album, {first, count}, meta, {}, false}));
    };
    track(0, 44100, "One", 1);
    track(44100, 66150, "Two", 2);
    track(110250, -1, "Three", 3);
    std::vector<int> starting;
    std::vector<std::pair<int, bool>> startedHow;
    QObject::connect(c.get(), &TPlaybackController::EntryStarting, [&](int entry) { starting.push_back(entry); });
    QObject::connect(c.get(), &TPlaybackController::EntryStarted,
                     [&](int entry, bool gapless) { startedHow.emplace_back(entry, gapless); });
    std::vector<qint64> positionsAtThree;
    QObject::connect(c.get(), &TPlaybackController::PositionChanged, [&](qint64 ms, qint64) {
        if (c->CurrentEntry() == 3) positionsAtThree.push_back(ms);
    });
    c->SetHoldMs(0);
    c->PlayEntry(2);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(1500, c->LengthMs());
    ASSERT_TRUE(RunUntil([&] { return startedHow.size() == 2; }));
    EXPECT_EQ(starting, std::vector<int>{2}) << "no reopen";
    EXPECT_EQ(startedHow, (std::vector<std::pair<int, bool>>{{2, false}, {3, true}}));
    EXPECT_EQ(3, c->CurrentEntry());
    EXPECT_EQ(QStringLiteral("Three"), c->Facts().Title);
    EXPECT_EQ(QStringLiteral("3"), c->Facts().Track);
    EXPECT_EQ(QStringLiteral("Three"), c->Track().Title);
    EXPECT_NEAR(c->LengthMs(), 6000 - 2500, 30);
    ASSERT_FALSE(positionsAtThree.empty());
    EXPECT_EQ(0, positionsAtThree.front());
    ASSERT_TRUE(RunUntil([&] { return !stops.empty(); }));
    EXPECT_EQ(stops, std::vector<TStopCause>{TStopCause::EndOfList});
    EXPECT_EQ(starting, std::vector<int>{2});
    EXPECT_TRUE(errors.isEmpty()) << errors.join(", ").toStdString();
}

// Commands given while an entry opens act on it in order; a seek reports
// where it landed.
TEST_F(Controller, CommandsWhileOpeningActInOrder) {
    Start();
    Add({Mp3("a.mp3", 30), Mp3("b.mp3", 30)});
    c->SetHoldMs(0);
    std::vector<qint64> seeked;
    QObject::connect(c.get(), &TPlaybackController::Seeked, [&](qint64 ms) { seeked.push_back(ms); });
    c->PlayEntry(2);
    c->Pause();
    ASSERT_TRUE(Settle());
    ASSERT_TRUE(RunUntil([&] { return PlayerStatus() == TPlayState::Paused; }));
    EXPECT_EQ(TPlayState::Paused, c->State());
    c->PlayPause();
    c->Seek(20'000);
    ASSERT_TRUE(RunUntil([&] { return !seeked.empty(); }));
    EXPECT_NEAR(20'000, seeked.front(), 100);
    EXPECT_EQ(TPlayState::Playing, PlayerStatus());
    EXPECT_GE(c->PositionMs(), 19'900);
    c->Stop();
    c->Play();  // stopped: the current entry again, from its start
    ASSERT_TRUE(Settle());
    EXPECT_EQ(started, (std::vector<int>{2, 2}));
    EXPECT_LT(c->PositionMs(), 5'000);
}

}  // namespace wl::test
