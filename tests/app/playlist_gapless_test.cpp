// The window plays a list on from entry to entry without a gap: one output,
// the joined sound exactly the entries' sound one after another, each entry
// shown when it starts.
#include <QLabel>

#include <algorithm>
#include <cmath>
#include <functional>

#include "io/file_stream.h"
#include "engine/frame_walk.h"
#include "engine/player_decode.h"
#include "tests/app/playlist_support.h"
#include "tests/app/run_events.h"
#include "tests/engine/player_support.h"
#include "tests/test_support.h"

namespace wl::test {

using PlaylistGapless = PlaylistFixture;

namespace {

// Four pieces of one sweep, cut at samples that are no frame multiples.
QStringList EncodePieces(const QString& dir) {
    const int rate = 44100;
    const int total = rate * 2;
    const int cuts[] = {0, 20011, 41777, 66001, total};
    std::vector<int16_t> pcm;
    double phase = 0;
    for (int i = 0; i < total; ++i) {
        phase += 2 * M_PI * (200.0 + 1500.0 * i / total) / rate;
        pcm.push_back(static_cast<int16_t>(10000 * std::sin(phase)));
        pcm.push_back(static_cast<int16_t>(8000 * std::sin(phase * 1.5)));
    }
    QStringList files;
    for (int k = 0; k < 4; ++k) {
        const std::vector<int16_t> piece(pcm.begin() + cuts[k] * 2, pcm.begin() + cuts[k + 1] * 2);
        const std::string wav = (dir + QString("/p%1.wav").arg(k)).toStdString();
        const std::string mp3 = (dir + QString("/p%1.mp3").arg(k)).toStdString();
        if (!WriteWav(wav, piece, 2, rate)) return {};
        if (RunCommand("lame --quiet --cbr -b 128 " + ShellQuote(wav) + " " + ShellQuote(mp3)).exitCode != 0) return {};
        files << QString::fromStdString(mp3);
    }
    return files;
}

std::vector<uint8_t> AsPlayed(const QString& file) {
    std::vector<uint8_t> pcm;
    TFileStream stream(file.toStdString());
    DecodeAsPlayer(stream, nullptr, [&](const uint8_t* p, int32_t n) {
        pcm.insert(pcm.end(), p, p + n);
        return true;
    });
    return pcm;
}

// Plays from the current entry into a WAV file until the player stops or
// `enough` says so (then stops it); answers the entries in the order they
// started and the file's sound.
std::vector<int> PlayIntoWav(TForm1& form1, const QString& wav,
                             const std::function<bool(const std::vector<int>&)>& enough, std::vector<uint8_t>& sound) {
    setenv("WAVELANTERN_AUDIO", ("wav:" + wav).toUtf8().constData(), 1);
    setenv("WAVELANTERN_NULL_SPEED", "1", 1);
    struct Restore {
        ~Restore() { setenv("WAVELANTERN_AUDIO", "null", 1); }
    } restore;
    std::vector<int> seen = {form1.CurrentEntry};
    form1.playfile();
    RunEventsUntil([&] { return form1.Controller->IsOpen(); });
    EXPECT_TRUE(form1.Controller->Playing()) << form1.StatusText.toStdString();
    RunEventsUntil(
        [&] {
            // (A random round that has run out leaves no current entry.)
            if (form1.CurrentEntry != seen.back() && form1.CurrentEntry != 0) seen.push_back(form1.CurrentEntry);
            if (enough(seen)) form1.Image10Click();
            return form1.Controller->State() == TPlayState::Stopped;
        },
        20000);
    form1.Controller->Inspect([](TMP3Player&) {});  // the stop has reached the player
    sound = WavData(wav.toStdString());
    return seen;
}

}  // namespace

// Repeat leads from the last entry back to the first without a stop.
TEST_F(PlaylistGapless, RepeatWrapsInOneOutput) {
    if (!OnPath("lame")) GTEST_SKIP() << "lame is not installed (scripts/setup.sh installs it)";
    QTemporaryDir dir;
    const QStringList files = EncodePieces(dir.path());
    ASSERT_EQ(files.size(), 4);
    Add({files[0], files[1]});
    form1->Settings.RepeatPlay = 1;
    form1->ApplyPlayOptions();
    form1->CurrentEntry = 2;
    std::vector<uint8_t> played;
    const std::vector<int> seen = PlayIntoWav(
        *form1, dir.path() + "/out.wav", [](const std::vector<int>& s) { return s.size() >= 3; }, played);
    ASSERT_EQ((std::vector<int>{2, 1, 2}), seen) << "the list wrapped without a stop";
    std::vector<uint8_t> expected = AsPlayed(files[1]);
    const auto first = AsPlayed(files[0]);
    expected.insert(expected.end(), first.begin(), first.end());
    ASSERT_GE(played.size(), expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), played.begin())) << "the last entry, then the first";
}

// Random advance picks each entry once, each following the one before
// without a stop.
TEST_F(PlaylistGapless, RandomAdvanceFollowsInOneOutput) {
    if (!OnPath("lame")) GTEST_SKIP() << "lame is not installed (scripts/setup.sh installs it)";
    QTemporaryDir dir;
    const QStringList files = EncodePieces(dir.path());
    ASSERT_EQ(files.size(), 4);
    Add({files[0], files[1], files[2]});
    form1->Settings.RandomPlay = 1;
    form1->ApplyPlayOptions();
    form1->ResetNotPlayed();
    form1->CurrentEntry = 2;
    std::vector<uint8_t> played;
    const std::vector<int> seen = PlayIntoWav(
        *form1, dir.path() + "/out.wav", [](const std::vector<int>&) { return false; }, played);
    std::vector<int> sorted = seen;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ((std::vector<int>{1, 2, 3}), sorted) << "every entry once, without a stop";
    std::vector<uint8_t> expected;
    for (int entry : seen) {
        const auto one = AsPlayed(files[entry - 1]);
        expected.insert(expected.end(), one.begin(), one.end());
    }
    EXPECT_TRUE(played == expected) << "the entries' sound in the order they were picked";

    // An entry started by hand (a double click) is not handed over as its
    // own successor.
    form1->ResetNotPlayed();
    form1->NotPlayed[1] = 0;
    form1->NotPlayed[3] = 0;
    form1->CurrentEntry = 2;
    form1->playfile();
    ASSERT_TRUE(Settle());
    std::string next = "?";
    Ctl().Inspect([&](TMP3Player& p) { next = p.NextFileName(); });
    EXPECT_EQ("", next);
    EXPECT_EQ(0, form1->NotPlayed[2]);
}

TEST_F(PlaylistGapless, EntriesFollowEachOtherInOneOutput) {
    if (!OnPath("lame")) GTEST_SKIP() << "lame is not installed (scripts/setup.sh installs it)";
    QTemporaryDir dir;
    const QStringList files = EncodePieces(dir.path());
    ASSERT_EQ(files.size(), 4);
    const QString wav = dir.path() + "/out.wav";
    setenv("WAVELANTERN_AUDIO", ("wav:" + wav).toUtf8().constData(), 1);
    // At twice real time each entry still lasts longer than playfile's pause.
    setenv("WAVELANTERN_NULL_SPEED", "2", 1);
    struct Restore {
        ~Restore() { setenv("WAVELANTERN_AUDIO", "null", 1); }
    } restore;
    Add(files);
    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(Settle());
    ASSERT_EQ(mpsPlaying, PlayerStatus()) << form1->StatusText.toStdString();
    int seen = 1;
    RunEventsUntil(
        [&] {
            if (form1->CurrentEntry != seen) {
                EXPECT_EQ(seen + 1, form1->CurrentEntry) << "entries in order";
                seen = form1->CurrentEntry;
                EXPECT_EQ(files[seen - 1], Ctl().PlayingPath());
                EXPECT_EQ(QString("%1 - 4").arg(seen), form1->Label2->text());
            }
            return PlayerStatus() == mpsStopped;
        },
        20000);
    EXPECT_EQ(4, seen) << "every entry was reached without a stop";
    std::vector<uint8_t> expected;
    for (const QString& f : files) {
        const auto one = AsPlayed(f);
        expected.insert(expected.end(), one.begin(), one.end());
    }
    const std::vector<uint8_t> played = WavData(wav.toStdString());
    EXPECT_EQ(played.size(), size_t{44100} * 2 * 4) << "exactly the source's length";
    EXPECT_TRUE(played == expected) << "the joined output is the entries' sound one after another";
}

}  // namespace wl::test
