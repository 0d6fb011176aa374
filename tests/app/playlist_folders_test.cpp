// A list's relative entries name files beside the list whichever way it
// comes in (Load, Open, a drop, a hand-off, the command line), without the
// current folder changing; saved into another folder it names the same files.
// Quitting while the default list is still being read keeps it whole.
#include <QDir>
#include <QTemporaryDir>

#include "tests/app/playlist_support.h"

namespace wl::test {

class PlaylistFolders : public PlaylistFixture {
protected:
    void SetUp() override {
        PlaylistFixture::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(dir_.isValid());
        expected_ = {dir_.path() + "/music/a.mp3", dir_.path() + "/lists/sub/b c.mp3"};
        for (const QString& song : expected_) ASSERT_TRUE(WriteSilentMp3(song, 400'000));
        list_ = dir_.path() + "/lists/evening.m3u";
        ASSERT_TRUE(WriteText(list_, "#EXTM3U\r\n../music/a.mp3\r\nsub\\b c.mp3\r\n"));
        here_ = QDir::currentPath();
        form1->RunOpenDialog = [this](const QString&, const QString&, bool, auto answer) { answer({open_}); };
        form1->AskReplace = [](const QString&, auto answer) { answer(true); };
    }
    // The list as `load` brings it in: its files, the first one played, the
    // current folder as it was; saved elsewhere and loaded from there, the same.
    void Check(const char* way, const std::function<void()>& load) {
        SCOPED_TRACE(way);
        open_ = list_;
        load();
        ASSERT_TRUE(Settle());
        EXPECT_EQ(form1->Playlist.Paths(), expected_);
        EXPECT_EQ(form1->CurrentEntry, 1);
        EXPECT_EQ(Ctl().PlayingPath(), expected_[0]);
        EXPECT_EQ(QDir::currentPath(), here_);

        const QString saved = dir_.path() + "/other/saved.m3u";
        ASSERT_TRUE(QDir().mkpath(dir_.path() + "/other"));
        form1->RunSaveDialog = [&](const QString&, const QString&, const QString&, auto answer) { answer(saved); };
        form1->SpeedButton27Click();
        EXPECT_EQ(ReadAll(saved), QFile::encodeName(expected_.join('\n')) + "\n");
        form1->ClearPlaylist();
        open_ = saved;
        form1->SpeedButton26Click();
        ASSERT_TRUE(Settle());
        EXPECT_EQ(form1->Playlist.Paths(), expected_);
        EXPECT_EQ(Ctl().PlayingPath(), expected_[0]);
        form1->ClearPlaylist();
    }

    QTemporaryDir dir_;
    QStringList expected_;
    QString list_, open_, here_;
};

TEST_F(PlaylistFolders, EveryWayInNamesTheFilesBesideTheList) {
    Check("Load", [this] { form1->SpeedButton26Click(); });
    Check("Open", [this] { form1->Image13Click(); });
    Check("drop", [this] { form1->DropFiles({list_}); });
    Check("hand-off", [this] { form1->HandOver({list_}, 50'000); });
    // A start with the list named relative to its own folder.
    form2.reset();
    form1.reset();
    Create({"../lists/evening.m3u"});
    ASSERT_TRUE(QDir::setCurrent(dir_.path() + "/music"));  // (after the settings' folder)
    here_ = QDir::currentPath();
    Ctl().SetHoldMs(0);
    form1->RunOpenDialog = [this](const QString&, const QString&, bool, auto answer) { answer({open_}); };
    form1->AskReplace = [](const QString&, auto answer) { answer(true); };
    Check("command line", [this] { form1->FormShow(); });
}

// The quit completes the list being read before it saves it (or, when it
// cannot be read in time, leaves the file as it was): never half of it.
TEST_F(PlaylistFolders, QuitWhileTheDefaultListIsReadKeepsItWhole) {
    QByteArray text;
    for (int i = 1; i <= 60'000; ++i) text += "m/" + QByteArray::number(i) + ".mp3\n";
    ASSERT_TRUE(WriteText(Home() + "wl21.m3u", text));
    form1->EndProgram = [] {};
    form1->Settings.AutoloadPlaylist = 1;
    form1->Extra.ResumePlayback = false;
    form1->FormShow();
    EXPECT_TRUE(Ctl().Playlist().Loader().Busy());
    form1->Quit(true);
    EXPECT_FALSE(Ctl().Playlist().Loader().Busy());
    EXPECT_EQ(form1->Playlist.Rows(), 60'000);
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), text);  // below the app folder: written relative to it again
}

}  // namespace wl::test
