// The session across a restart: resuming the list, entry, position and
// volume; the old start-up with files or with the option off; and the saved
// default playlist never lost to an empty session.
#include <QTableView>

#include "controls/ex_track_bar.h"
#include "tests/app/playlist_support.h"

namespace wl::test {

namespace {

constexpr qint64 kLongFile = 4'000'000;  // about four minutes of silence

}  // namespace

class SessionResume : public PlaylistFixture {
protected:
    void SetUp() override {
        PlaylistFixture::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(music_.isValid());
        for (const char* name : {"one.mp3", "two.mp3", "three.mp3"}) {
            const QString path = music_.path() + "/" + name;
            ASSERT_TRUE(WriteSilentMp3(path, kLongFile));
            songs_ << path;
        }
    }
    // Quits through the close button and starts again the way the program
    // does (creation, arguments, first show).
    void Restart(const QStringList& arguments = {}) {
        form1->SpeedButton1Click();
        form2.reset();
        form1.reset();
        Create(arguments);
        Ctl().SetHoldMs(0);
        form1->FormShow();
        ASSERT_TRUE(Settle());
    }
    // Plays entry `entry` of the songs and moves to `ms` in it.
    void PlayAt(int entry, int64_t ms) {
        Add(songs_);
        form1->CurrentEntry = static_cast<int16_t>(entry);
        form1->playfile();
        ASSERT_TRUE(Settle());
        ASSERT_EQ(mpsPlaying, PlayerStatus());
        Ctl().Seek(ms);
    }
    QStringList SavedList() const {
        return QString::fromUtf8(ReadAll(Home() + "wl21.m3u")).split('\n', Qt::SkipEmptyParts);
    }

    QTemporaryDir music_;
    QStringList songs_;
};

TEST_F(SessionResume, PlayingSessionPlaysOnWhereItWas) {
    PlayAt(2, 60'000);
    Ctl().SetVolume(40);
    const int64_t at = PlayerPosition();
    ASSERT_GE(at, 60'000);
    Restart();
    EXPECT_EQ(songs_, Column(1));
    EXPECT_EQ(2, form1->CurrentEntry);
    EXPECT_EQ(songs_[1], Ctl().PlayingPath());
    EXPECT_EQ(mpsPlaying, PlayerStatus());
    // Where it was to the frame: the exit may catch the position a moment
    // before `at` was read, and a seek lands on a frame's start.
    EXPECT_GE(PlayerPosition(), at - 27);
    EXPECT_LT(PlayerPosition(), at + 30'000);
    EXPECT_EQ(40, OnPlayer([](TMP3Player& p) { return p.Volume(); }));
    ASSERT_NE(form1->ExTrackBar1, nullptr);
    EXPECT_EQ(60, form1->ExTrackBar1->Position());
}

// Paused (or stopped) at exit: nothing plays; Play starts the entry where it was.
TEST_F(SessionResume, PausedSessionWaitsAtItsEntryAndPosition) {
    PlayAt(3, 90'000);
    form1->Image9Click();
    const int64_t at = PlayerPosition();
    Restart();
    EXPECT_EQ(3, form1->CurrentEntry);
    EXPECT_EQ(mpsStopped, PlayerStatus());
    EXPECT_EQ("three", form1->TitleText);
    EXPECT_EQ(2, CurrentRow());
    form1->Image7Click();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(mpsPlaying, PlayerStatus());
    EXPECT_GE(PlayerPosition(), at);
    // Only that start resumes: the next start of the entry is from its beginning.
    form1->Image7Click();
    ASSERT_TRUE(Settle());
    EXPECT_LT(PlayerPosition(), at);
}

// Quitting again before the resumed entry has played keeps its point.
TEST_F(SessionResume, QuitBeforeTheResumedEntryPlaysKeepsItsPoint) {
    PlayAt(3, 90'000);
    form1->Image9Click();
    const int64_t at = PlayerPosition();
    Restart();
    Restart();
    EXPECT_EQ(3, form1->CurrentEntry);
    form1->Image7Click();
    ASSERT_TRUE(Settle());
    EXPECT_GE(PlayerPosition(), at);
}

// Files on the command line, or the option off: the start-up of old.
TEST_F(SessionResume, FilesOrTheOptionOffStartAsBefore) {
    PlayAt(2, 60'000);
    Restart({songs_[2]});
    EXPECT_EQ(QStringList{songs_[2]}, Column(1));
    EXPECT_EQ(1, form1->CurrentEntry);
    EXPECT_EQ(mpsPlaying, PlayerStatus());
    EXPECT_LT(PlayerPosition(), 60'000);

    form1->Extra.ResumePlayback = false;
    Restart();
    EXPECT_EQ(0, form1->EntryCount);  // no autoload either
    EXPECT_EQ(mpsStopped, PlayerStatus());
}

// Quitting with an empty list keeps a saved list; a non-empty session
// replaces it as before.
TEST_F(SessionResume, EmptySessionNeverReplacesTheSavedList) {
    form1->Extra.ResumePlayback = false;
    Add(songs_);
    Restart();
    ASSERT_EQ(0, form1->EntryCount);
    Restart();
    EXPECT_EQ(songs_, SavedList());

    form1->AddEntry(songs_[0]);
    Restart();
    EXPECT_EQ(QStringList{songs_[0]}, SavedList());
}

}  // namespace wl::test
