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
    EXPECT_EQ(errors, QStringList{"Cannot open 56.mp3: no such file"});
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
    EXPECT_EQ(errors, (QStringList{"Cannot open 03 - Night.mp3: no such file", "Cannot open folder.mp3: not a file",
                                   "Cannot open junk.mp3: unknown MPEG Audio format."}));
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
    TEntryMeta loudness;  // an album sheet's values for the range
    loudness.TrackGainDb = -6.0;
    ASSERT_TRUE(c->Playlist().AddEntry({song, {44100, 2 * 44100}, loudness, {}, false, {}, {}}));
    c->SetReplayGain(mrgTrack, 0, false);
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
    double gain = 0;
    c->Inspect([&](TMP3Player& p) { gain = p.AppliedGain(); });
    EXPECT_NEAR(gain, std::pow(10.0, -6.0 / 20), 1e-9) << "the range plays with its own loudness value";
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
        meta.TrackGainDb = -3.0 * number;  // the sheet's loudness values
        ASSERT_TRUE(c->Playlist().AddEntry({album, {first, count}, meta, {}, false, {}, {}}));
    };
    c->SetReplayGain(mrgTrack, 0, false);
    const auto applied = [&] {
        double gain = 0;
        c->Inspect([&](TMP3Player& p) { gain = p.AppliedGain(); });
        return gain;
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
    EXPECT_NEAR(applied(), std::pow(10.0, -9.0 / 20), 1e-9) << "track 3's own gain once it plays";
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

// In random order a sheet's tracks each play exactly their own samples: a
// pick is played on into only when it is the very next track of the file.
TEST_F(Controller, RandomOrderKeepsEachTrackToItsOwnRange) {
    Start(20);
    const QString album = Mp3("album.mp3", 4);
    const int64_t ranges[][2] = {{0, 44100}, {44100, 22050}, {66150, 44100}, {110250, -1}};
    for (const auto& range : ranges) ASSERT_TRUE(c->Playlist().AddEntry({album, {range[0], range[1]}, {}, {}, false, {}, {}}));
    std::vector<std::pair<int, qint64>> heard;  // entry, length when it started
    std::vector<std::pair<int, qint64>> firstPosition;
    QObject::connect(c.get(), &TPlaybackController::EntryStarted,
                     [&](int entry, bool) { heard.emplace_back(entry, c->LengthMs()); });
    QObject::connect(c.get(), &TPlaybackController::PositionChanged, [&](qint64 ms, qint64) {
        if (firstPosition.size() < heard.size()) firstPosition.emplace_back(c->CurrentEntry(), ms);
    });
    c->SetPlayOrder(true, false);
    c->SetHoldMs(0);
    c->StartList();
    ASSERT_TRUE(RunUntil([&] { return !stops.empty(); }, 30'000));
    ASSERT_EQ(heard.size(), 4u);
    std::vector<int> entries;
    for (const auto& [entry, length] : heard) {
        entries.push_back(entry);
        const int64_t count = ranges[entry - 1][1];
        EXPECT_NEAR(length, count < 0 ? 4000 - 2500 : count * 1000 / 44100, 30) << "entry " << entry;
    }
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<int>{1, 2, 3, 4})) << "each once in the cycle";
    for (const auto& [entry, ms] : firstPosition) EXPECT_LT(ms, 300) << "entry " << entry << " starts at its start";
    EXPECT_TRUE(errors.isEmpty()) << errors.join(", ").toStdString();
}

// After a seek the clock shown is the position heard: it waits for the
// sound from there instead of running ahead, and never goes back.
TEST_F(Controller, ClockAfterASeekIsThePositionHeard) {
    setenv("WAVELANTERN_NULL_LATENCY_MS", "150", 1);  // as a sound server's
    Start();
    unsetenv("WAVELANTERN_NULL_LATENCY_MS");
    Add({Mp3("a.mp3", 30)});
    c->SetHoldMs(0);
    c->PlayEntry(1);
    ASSERT_TRUE(Settle());
    RunFor(300);
    c->Seek(20'000);
    int64_t last = 0, worstAhead = -1'000'000;
    int samples = 0;
    RunUntil(
        [&] {
            int64_t heard = 0;
            c->Inspect([&](TMP3Player& p) { heard = p.Position(); });
            const int64_t shown = c->PositionMs();
            EXPECT_GE(shown + 10, std::max<int64_t>(last, 20'000)) << "the clock went back";  // a report may correct it by a few ms
            last = shown;
            worstAhead = std::max(worstAhead, shown - heard);
            ++samples;
            return false;
        },
        1500);
    EXPECT_GT(samples, 20);
    EXPECT_LE(worstAhead, 40) << "ms shown ahead of what was heard";
    EXPECT_GT(last, 20'500) << "the clock runs on once sound is heard";
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
