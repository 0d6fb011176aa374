// Folder picker: defaults, the prepared dialog, OK and Cancel, root folders.
#include "controls/browse_for_folder.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QWidget>

#include <vector>

#include <gtest/gtest.h>

namespace wl {
namespace {

TEST(BrowseForFolder, Defaults) {
    TBrowseForFolder bf;
    EXPECT_EQ(QString(), bf.DisplayName());
    EXPECT_EQ(QStringLiteral("Plase select folder"), bf.StatusText());
    EXPECT_EQ(QStringLiteral("/"), bf.FolderName());
    EXPECT_EQ(0u, bf.Flags());
    EXPECT_EQ(TBrowseLocation::bl_STANDART, bf.Root());
    EXPECT_EQ(QStringLiteral("Select Folder"), bf.Caption());
}

TEST(BrowseForFolder, OkSetsFolderAndDisplayName) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString music = tmp.path() + "/Music";
    const QString other = tmp.path() + "/Other Folder";
    ASSERT_TRUE(QDir().mkpath(music));
    ASSERT_TRUE(QDir().mkpath(other));

    TBrowseForFolder bf;
    bf.SetFolderName(music);
    bf.SetStatusText(QStringLiteral("[Recursive search]"));
    bf.SetFlags(bf_statustext);
    bf.SetCaption(QStringLiteral("Pick one"));
    QString shownDir, shownTitle, shownStatus;
    bf.SetDialogRunner([&](QFileDialog& dialog) {
        shownTitle = dialog.windowTitle();
        shownDir = dialog.directory().absolutePath();
        if (auto* label = dialog.findChild<QLabel*>(QStringLiteral("statusText"))) shownStatus = label->text();
        EXPECT_EQ(QFileDialog::Directory, dialog.fileMode());
        dialog.setDirectory(tmp.path());
        dialog.selectFile(other);
        return true;
    });
    int answers = 0;
    bf.Execute([&](bool chosen) {
        ++answers;
        EXPECT_TRUE(chosen);
    });
    EXPECT_EQ(1, answers);
    EXPECT_EQ(QStringLiteral("Pick one"), shownTitle);
    EXPECT_EQ(QDir(tmp.path()).absolutePath(), shownDir);  // the preset folder's parent, with it selected
    EXPECT_EQ(QStringLiteral("[Recursive search]"), shownStatus);
    EXPECT_EQ(QDir(other).absolutePath(), bf.FolderName());
    EXPECT_EQ(QStringLiteral("Other Folder"), bf.DisplayName());
}

TEST(BrowseForFolder, CancelKeepsEverything) {
    TBrowseForFolder bf;
    bf.SetFolderName(QStringLiteral("/tmp"));
    bool ran = false;
    bf.SetDialogRunner([&](QFileDialog& dialog) {
        ran = true;
        dialog.selectFile(QStringLiteral("/"));
        return false;
    });
    bool chosen = true;
    bf.Execute([&](bool c) { chosen = c; });
    EXPECT_FALSE(chosen);
    EXPECT_TRUE(ran);
    EXPECT_EQ(QStringLiteral("/tmp"), bf.FolderName());
    EXPECT_EQ(QString(), bf.DisplayName());
}

TEST(BrowseForFolder, EmptyStatusTextShowsNoStatusArea) {
    TBrowseForFolder bf;
    bf.SetStatusText(QString());
    bool hasStatus = true;
    bf.SetDialogRunner([&](QFileDialog& dialog) {
        hasStatus = dialog.findChild<QLabel*>(QStringLiteral("statusText")) != nullptr;
        return false;
    });
    bf.Execute({});
    EXPECT_FALSE(hasStatus);
}

// Without a runner the dialog opens and Execute returns at once; the answer
// comes when the user closes it. Meanwhile a second Execute opens no other.
TEST(BrowseForFolder, TheDialogIsOpenedNotRun) {
    QTemporaryDir tmp;
    const QString music = QDir(tmp.path()).absolutePath() + "/Music";
    ASSERT_TRUE(QDir().mkpath(music));
    QWidget owner;
    TBrowseForFolder bf(&owner);
    bf.SetFolderName(tmp.path());
    std::vector<bool> answers;
    bf.Execute([&](bool chosen) { answers.push_back(chosen); });
    bf.Execute([&](bool) { ADD_FAILURE() << "a second dialog"; });
    ASSERT_TRUE(bf.Open());
    auto dialogs = owner.findChildren<QFileDialog*>();
    ASSERT_EQ(1, dialogs.size());
    EXPECT_TRUE(dialogs.front()->isVisible());
    EXPECT_TRUE(answers.empty());
    dialogs.front()->setDirectory(tmp.path());
    dialogs.front()->selectFile(music);
    static_cast<QDialog*>(dialogs.front())->accept();  // as its OK button does
    EXPECT_EQ(std::vector<bool>{true}, answers);
    EXPECT_EQ(music, bf.FolderName());
    EXPECT_FALSE(bf.Open());

    // Cancelled: the folder shown when it closed is kept apart.
    bf.Execute([&](bool chosen) { answers.push_back(chosen); });
    ASSERT_TRUE(bf.Open());
    bf.Cancel();
    EXPECT_EQ((std::vector<bool>{true, false}), answers);
    EXPECT_EQ(music, bf.FolderName());
    EXPECT_EQ(QDir(tmp.path()).absolutePath(), bf.BrowsedFolder());
}

TEST(BrowseForFolder, RootFolders) {
    TBrowseForFolder bf;
    EXPECT_EQ(QStringLiteral("/"), bf.ResolveRoot());
    QTemporaryDir tmp;
    bf.SetRoot(TBrowseLocation::bl_CUSTOM);
    bf.SetCustomRoot(tmp.path());
    EXPECT_EQ(tmp.path(), bf.ResolveRoot());
    bf.SetCustomRoot(tmp.path() + "/missing");
    EXPECT_EQ(QDir::homePath(), bf.ResolveRoot());
    // No XDG counterpart: the home folder.
    bf.SetRoot(TBrowseLocation::bl_PRINTERS);
    EXPECT_EQ(QDir::homePath(), bf.ResolveRoot());
    bf.SetRoot(TBrowseLocation::bl_DESKTOP);
    EXPECT_TRUE(QFileInfo(bf.ResolveRoot()).isDir());
}

}  // namespace
}  // namespace wl
