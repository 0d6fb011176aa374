// Folder picker: defaults, the prepared dialog, OK and Cancel, root folders.
#include "controls/browse_for_folder.h"

#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>

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
    ASSERT_TRUE(bf.Execute());
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
    EXPECT_FALSE(bf.Execute());
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
    bf.Execute();
    EXPECT_FALSE(hasStatus);
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
