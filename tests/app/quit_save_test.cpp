// Quitting when the files cannot be written: the old files stay whole, the
// resume point is never written for a list that was not saved, and the user
// is told (Retry, "Save playlist as...", Quit anyway) through dialogs that
// run in the program's own event loop; with nobody to ask, stderr is told.
// The failures are injected into the app's file writer (a read-only folder
// does not stop root).
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

#include <cerrno>
#include <cstring>

#include "app/atomic_file.h"
#include "tests/app/playlist_support.h"

namespace wl::test {

namespace {

constexpr qint64 kLongFile = 4'000'000;  // about four minutes
const QByteArray kOldList = "/old/a.mp3\n/old/b.mp3\n";

// The system's words for an error, as the program reports them.
QString Why(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

template <class T>
T* Visible(QWidget* parent) {
    for (T* widget : parent->findChildren<T*>()) {
        if (widget->isVisible()) return widget;
    }
    return nullptr;
}

}  // namespace

class QuitSave : public PlaylistFixture {
protected:
    void SetUp() override {
        PlaylistFixture::SetUp();
        if (HasFatalFailure()) return;
        form1->EndProgram = [this] { ++ended_; };
        ASSERT_TRUE(music_.isValid());
        for (const char* name : {"one.mp3", "two.mp3", "three.mp3"}) {
            songs_ << music_.path() + "/" + name;
            ASSERT_TRUE(WriteSilentMp3(songs_.back(), kLongFile));
        }
        // What the last session left: its list, entry 2 at 1.234 s.
        TExtraSettings old;
        old.ResumeEntry = 2;
        old.ResumePositionMs = 1234;
        old.ResumeVolume = 70;
        ASSERT_TRUE(WriteText(Home() + "wl21.m3u", kOldList));
        ASSERT_TRUE(WriteText(form1->ExtraSettingsPath(), old.Encode()));
        oldConf_ = ReadAll(form1->ExtraSettingsPath());
        oldIni_ = ReadAll(Home() + "wl.ini");
        // This session: entry 3 at 30 s, volume 55.
        Add(songs_);
        form1->CurrentEntry = 3;
        form1->playfile();
        ASSERT_TRUE(Settle());
        Ctl().Seek(30'000);
        Ctl().SetVolume(55);
    }
    void TearDown() override {
        SetWriteFailureForTesting(nullptr);
        PlaylistFixture::TearDown();
    }
    // Writes into the app folder fail with `error` (only those to `name`
    // when one is given).
    void FailWrites(int error, const QString& name = QString()) {
        const QString home = Home();
        SetWriteFailureForTesting([=](const QString& path) {
            return path.startsWith(home) && (name.isEmpty() || QFileInfo(path).fileName() == name) ? error : 0;
        });
    }
    QMessageBox* Question() const { return Visible<QMessageBox>(form1.get()); }
    // Clicks the question's button of that text; false when there is none.
    bool Answer(const QString& text) {
        QMessageBox* box = Question();
        if (!box) return false;
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() != text) continue;
            button->click();
            RunEventsUntil([&] { return Question() != box; }, 5000);
            return true;
        }
        return false;
    }
    bool DiskUntouched() const {
        return ReadAll(Home() + "wl21.m3u") == kOldList && ReadAll(form1->ExtraSettingsPath()) == oldConf_ &&
               ReadAll(Home() + "wl.ini") == oldIni_;
    }
    QVariant Conf(const char* key) const {
        return QSettings(form1->ExtraSettingsPath(), QSettings::IniFormat).value(QString::fromLatin1(key));
    }
    QByteArray SessionList() const { return songs_.join('\n').toUtf8() + '\n'; }

    QTemporaryDir music_;
    QStringList songs_;
    QByteArray oldConf_;
    QByteArray oldIni_;
    int ended_ = 0;
};

TEST_F(QuitSave, FailedSaveIsPutToTheUserUntilItSucceeds) {
    FailWrites(EROFS);
    form1->SpeedButton1Click();
    EXPECT_EQ(PlayerStatus(), mpsStopped);
    EXPECT_EQ(ended_, 0);
    QMessageBox* box = Question();
    ASSERT_NE(box, nullptr);
    for (const char* name : {"wl21.m3u", "wl.ini", "wavelantern.conf"}) {
        EXPECT_TRUE(box->text().contains(Home() + name)) << name;
    }
    EXPECT_TRUE(box->text().contains(Why(EROFS))) << box->text().toStdString();
    QStringList buttons;
    for (QAbstractButton* button : box->buttons()) buttons << button->text();
    EXPECT_EQ(buttons.size(), 3);
    for (const QString& text :
         {QStringLiteral("Retry"), QStringLiteral("Save playlist as\u2026"), QStringLiteral("Quit anyway")}) {
        EXPECT_TRUE(buttons.contains(text)) << text.toStdString();
    }
    EXPECT_TRUE(DiskUntouched());

    // Still failing: asked again.
    ASSERT_TRUE(Answer("Retry"));
    ASSERT_TRUE(RunEventsUntil([&] { return Question() != nullptr; }, 5000));
    EXPECT_EQ(ended_, 0);
    EXPECT_TRUE(DiskUntouched());

    SetWriteFailureForTesting(nullptr);
    ASSERT_TRUE(Answer("Retry"));
    ASSERT_TRUE(RunEventsUntil([&] { return ended_ == 1; }, 5000));
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), SessionList());
    EXPECT_EQ(Conf("Resume/Entry").toInt(), 3);
    EXPECT_GE(Conf("Resume/PositionMs").toLongLong(), 30'000);
    EXPECT_EQ(Conf("Resume/Volume").toInt(), 55);
}

// Only the list fails: the settings are written, but with the resume point
// of the list on disk; the list can be saved elsewhere.
TEST_F(QuitSave, UnsavedListKeepsTheOldResumePointAndCanGoElsewhere) {
    FailWrites(ENOSPC, "wl21.m3u");
    form1->SpeedButton1Click();
    QMessageBox* box = Question();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->text().contains(Home() + "wl21.m3u:\n    " + Why(ENOSPC))) << box->text().toStdString();
    EXPECT_FALSE(box->text().contains("wl.ini"));
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), kOldList);
    EXPECT_EQ(Conf("Resume/Entry").toInt(), 2);
    EXPECT_EQ(Conf("Resume/PositionMs").toLongLong(), 1234);
    EXPECT_EQ(Conf("Resume/Volume").toInt(), 55);  // the volume belongs to no list

    // Cancelled: the question comes back.
    ASSERT_TRUE(Answer("Save playlist as\u2026"));
    QFileDialog* dialog = nullptr;
    ASSERT_TRUE(RunEventsUntil([&] { return (dialog = Visible<QFileDialog>(form1.get())) != nullptr; }, 5000));
    dialog->reject();
    ASSERT_TRUE(RunEventsUntil([&] { return Question() != nullptr; }, 5000));
    EXPECT_EQ(ended_, 0);

    QTemporaryDir elsewhere;
    ASSERT_TRUE(Answer("Save playlist as\u2026"));
    ASSERT_TRUE(RunEventsUntil([&] { return (dialog = Visible<QFileDialog>(form1.get())) != nullptr; }, 5000));
    if (QWidget* focus = dialog->focusWidget()) focus->clearFocus();  // else the typed name is not replaced
    dialog->selectFile(elsewhere.path() + "/rescued.m3u");
    static_cast<QDialog*>(dialog)->accept();  // as its "Save" button does
    ASSERT_TRUE(RunEventsUntil([&] { return ended_ == 1; }, 5000));
    EXPECT_EQ(ReadAll(elsewhere.path() + "/rescued.m3u"), SessionList());
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), kOldList);
}

TEST_F(QuitSave, QuitAnywayLeavesTheOldFiles) {
    FailWrites(EIO);
    form1->SpeedButton1Click();
    ASSERT_NE(Question(), nullptr);
    // "X" again (the media controls' quit) while asked: still one question.
    form1->SpeedButton1Click();
    EXPECT_EQ(form1->findChildren<QMessageBox*>().size(), 1);
    ASSERT_TRUE(Answer("Quit anyway"));
    ASSERT_TRUE(RunEventsUntil([&] { return ended_ == 1; }, 5000));
    EXPECT_TRUE(DiskUntouched());
}

// A signal while the question is open: nobody will answer it; the reasons
// go to stderr and the program ends.
TEST_F(QuitSave, UnattendedQuitReportsOnStderrAndEnds) {
    FailWrites(EROFS);
    form1->SpeedButton1Click();
    ASSERT_NE(Question(), nullptr);
    testing::internal::CaptureStderr();
    form1->Quit(true);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ended_, 1);
    RunEventsUntil([&] { return Question() == nullptr; }, 5000);
    EXPECT_EQ(Question(), nullptr);
    EXPECT_NE(err.find(("could not save " + Home() + "wl21.m3u: " + Why(EROFS)).toStdString()), std::string::npos)
        << err;
    EXPECT_NE(err.find(("wavelantern.conf: " + Why(EROFS)).toStdString()), std::string::npos) << err;
    EXPECT_TRUE(DiskUntouched());
}

// The desktop session ends: everything saved, playback goes on (the
// session manager ends the program afterwards).
TEST_F(QuitSave, SessionEndSavesWithoutEnding) {
    form1->SaveForSessionEnd();
    EXPECT_EQ(ReadAll(Home() + "wl21.m3u"), SessionList());
    EXPECT_EQ(Conf("Resume/Entry").toInt(), 3);
    EXPECT_GE(Conf("Resume/PositionMs").toLongLong(), 30'000);
    EXPECT_EQ(PlayerStatus(), mpsPlaying);
    EXPECT_EQ(ended_, 0);
}

}  // namespace wl::test
