// The playlist and tag panels as built, and the actions behind their dialogs:
// "+File", "+Dir", "Load", "Save" with its replace question, and "Open".
#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QScrollBar>
#include <QLabel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QMimeData>
#include <QDropEvent>
#include <QUrl>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

#include "app/folder_adder.h"
#include "controls/browse_for_folder.h"
#include "tests/app/playlist_support.h"
#include "tests/app/run_events.h"

namespace wl::test {

using PlaylistPanel = PlaylistFixture;

TEST_F(PlaylistPanel, GridAndButtonsAsBuilt) {
    QTableView* g = form1->sg1;
    ASSERT_NE(nullptr, g);
    EXPECT_EQ("sg1", g->objectName());
    EXPECT_EQ(form1->Panel19, g->parentWidget());
    EXPECT_EQ(2, g->model()->columnCount());
    EXPECT_EQ(0, g->model()->rowCount());
    EXPECT_FALSE(g->horizontalHeader()->isVisible() && g->isVisible());
    EXPECT_TRUE(g->horizontalHeader()->isHidden());
    EXPECT_TRUE(g->verticalHeader()->isHidden());
    EXPECT_EQ(16, g->verticalHeader()->defaultSectionSize());
    EXPECT_EQ(16 * 6, g->height());
    // The names' column and the scroll bar fill the width; column 1 lies
    // beyond the visible area.
    EXPECT_EQ(293, g->width());
    EXPECT_EQ(293, g->columnWidth(0) + g->verticalScrollBar()->sizeHint().width());
    EXPECT_EQ(Qt::ScrollBarAlwaysOn, g->verticalScrollBarPolicy());
    EXPECT_EQ(Qt::ScrollBarAlwaysOff, g->horizontalScrollBarPolicy());
    EXPECT_EQ(Qt::ElideRight, g->textElideMode());
    EXPECT_EQ(QAbstractItemView::SelectRows, g->selectionBehavior());
    EXPECT_EQ(QAbstractItemView::ContiguousSelection, g->selectionMode());

    const char* captions[] = {"+Dir", "+File", "-File", "-All", "Load", "Save"};
    const char* hovers[] = {"Add directory", "Add file(s)", "Delete file(s)", "Clear list", "Load playlist",
                            "Save playlist"};
    for (int i = 0; i < 6; ++i) {
        QToolButton* b = form1->PlaylistButtons[i];
        ASSERT_NE(nullptr, b);
        EXPECT_EQ(QString::fromLatin1(captions[i]), b->text());
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(b, &enter);
        EXPECT_EQ(QString::fromLatin1(hovers[i]), form1->StatusText);
        EXPECT_EQ(0, form1->StatusIdle);
    }
    for (int i = 6; i < 12; ++i) ASSERT_NE(nullptr, form1->PlaylistButtons[i]);

    // A click on "-All" reaches its action.
    form1->AddEntry("/m/a.mp3");
    form1->PlaylistButtons[3]->click();
    EXPECT_TRUE(form1->PlaylistEmpty());
}

TEST_F(PlaylistPanel, TagPanelAsBuilt) {
    ASSERT_NE(nullptr, form1->TagHeading);
    EXPECT_EQ("ID3 Infos", form1->TagHeading->text());
    EXPECT_EQ(form1->Panel17, form1->Edit7->parentWidget());
    const std::pair<const char*, QLineEdit*> fields[] = {
        {"Artist:", form1->Edit1}, {"Title:", form1->Edit2}, {"Album:", form1->Edit4},
        {"Comment:", form1->Edit3}, {"Year:", form1->Edit5}, {"Genre:", form1->Edit6},
        {"Track:", form1->Edit8},
    };
    const QList<QLabel*> labels = form1->Panel17->findChildren<QLabel*>();
    int previousY = form1->Edit7->y();
    for (const auto& [caption, edit] : fields) {
        ASSERT_NE(nullptr, edit);
        EXPECT_TRUE(edit->isReadOnly());
        const auto label = std::find_if(labels.begin(), labels.end(), [target = edit](QLabel* l) { return l->buddy() == target; });
        ASSERT_NE(labels.end(), label);
        EXPECT_EQ(QString::fromLatin1(caption), (*label)->text());
        EXPECT_GT(edit->y(), previousY);  // one under the other, in this order
        previousY = edit->y();
    }
    // Nothing saves tag edits: typing changes nothing, copying still works.
    form1->Edit2->setText("A Title");
    form1->Edit2->setFocus();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    QApplication::sendEvent(form1->Edit2, &key);
    EXPECT_EQ("A Title", form1->Edit2->text());
    form1->Edit2->selectAll();
    EXPECT_EQ("A Title", form1->Edit2->selectedText());
    EXPECT_TRUE(form1->Edit7->isReadOnly());
}

TEST_F(PlaylistPanel, DropsAnywhereReachTheWindowNotTheFields) {
    // A child that took drops would paste the path (edits, the priority box)
    // or swallow the files; the window's handler adds them to the playlist.
    EXPECT_TRUE(form1->acceptDrops());
    for (QWidget* child : form1->findChildren<QWidget*>()) {
        EXPECT_FALSE(child->acceptDrops()) << child->metaObject()->className() << " "
                                           << child->objectName().toStdString();
    }
    QTemporaryDir dir;
    const QString song = dir.path() + "/dropped.mp3";
    ASSERT_TRUE(WriteSilentMp3(song, 40'000));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(song)});
    // Dragged onto the artist field: the window takes it.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form1->Edit1, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form1->Edit1, &drop);
    EXPECT_TRUE(drop.isAccepted());
    QCoreApplication::processEvents();
    EXPECT_EQ(QStringList{song}, Column(1));
    EXPECT_EQ(QString(), form1->Edit1->text());
}

TEST_F(PlaylistPanel, AddFilesKeepsTheTickOffWhileTheDialogIsUp) {
    form1->Timer4->start(1000);
    QString caption, filter;
    bool multiple = false, tickRan = true;
    form1->RunOpenDialog = [&](const QString& c, const QString& f, bool m, auto answer) {
        caption = c;
        filter = f;
        multiple = m;
        tickRan = form1->Timer4->isActive();
        answer({"/m/one.mp3", "/m/notes.txt", "/m/TWO.MP3"});
    };
    form1->SpeedButton23Click();
    EXPECT_EQ("Add files", caption);
    EXPECT_EQ("mp3, station lists (*.mp3 *.pls *.xspf)", filter);
    EXPECT_TRUE(multiple);
    EXPECT_FALSE(tickRan);
    EXPECT_TRUE(form1->Timer4->isActive());
    EXPECT_EQ((QStringList{"1> one", "2. TWO"}), Column(0));
    EXPECT_EQ(1, form1->CurrentEntry);  // the first add to an empty list starts it

    // Cancelled: nothing changes.
    form1->RunOpenDialog = [](const QString&, const QString&, bool, auto answer) { answer({}); };
    form1->SpeedButton23Click();
    EXPECT_EQ(2, form1->EntryCount);
    EXPECT_TRUE(form1->Timer4->isActive());
}

// The real dialogs are opened, not run: the click returns with the dialog
// up and the tick off; the answer acts when the dialog closes. Quitting
// cancels a dialog still open.
TEST_F(PlaylistPanel, DialogsAnswerWhenTheyCloseWithoutANestedLoop) {
    QTemporaryDir dir;
    const QString d = QDir(dir.path()).absolutePath();
    ASSERT_TRUE(WriteText(d + "/one.mp3", "x"));
    ASSERT_TRUE(WriteText(d + "/mine.m3u", "keep me\n"));
    const auto openDialog = [this]() -> QDialog* {
        for (QDialog* dialog : form1->findChildren<QDialog*>("PlaylistDialog")) {
            if (dialog->isVisible()) return dialog;
        }
        return nullptr;
    };
    form1->Timer4->start(1000);
    form1->SpeedButton23Click();
    auto* files = qobject_cast<QFileDialog*>(openDialog());
    ASSERT_NE(nullptr, files);
    EXPECT_TRUE(files->isModal());
    EXPECT_FALSE(form1->Timer4->isActive());
    EXPECT_EQ(0, form1->EntryCount);
    files->setDirectory(d);
    files->selectFile(d + "/one.mp3");
    static_cast<QDialog*>(files)->accept();
    EXPECT_EQ(QStringList{d + "/one.mp3"}, Column(1));
    EXPECT_TRUE(form1->Timer4->isActive());

    // Save onto an existing file: the question comes, "No" keeps the file.
    form1->SpeedButton27Click();
    files = qobject_cast<QFileDialog*>(openDialog());
    ASSERT_NE(nullptr, files);
    files->selectFile(d + "/mine.m3u");
    static_cast<QDialog*>(files)->accept();
    auto* question = qobject_cast<QMessageBox*>(openDialog());
    ASSERT_NE(nullptr, question);
    EXPECT_FALSE(form1->Timer4->isActive()) << "still off while the question is open";
    question->button(QMessageBox::No)->click();
    EXPECT_EQ(QByteArray("keep me\n"), ReadAll(d + "/mine.m3u"));
    EXPECT_TRUE(form1->Timer4->isActive());

    // Still open when quitting starts: closed, nothing of it acts.
    form1->Image13Click();
    files = qobject_cast<QFileDialog*>(openDialog());
    ASSERT_NE(nullptr, files);
    files->selectFile(d + "/mine.m3u");
    form1->CloseListDialogs();
    EXPECT_EQ(nullptr, openDialog());
    EXPECT_EQ(QStringList{d + "/one.mp3"}, Column(1));
}

TEST_F(PlaylistPanel, AddFolderSearchesTheTree) {
    QTemporaryDir dir;
    ASSERT_TRUE(WriteText(dir.path() + "/top.mp3", "x"));
    ASSERT_TRUE(WriteText(dir.path() + "/t10.mp3", "x"));
    ASSERT_TRUE(WriteText(dir.path() + "/t9.mp3", "x"));
    ASSERT_TRUE(WriteText(dir.path() + "/a/b/deep.MP3", "x"));
    ASSERT_TRUE(WriteText(dir.path() + "/a/other.wav", "x"));
    ASSERT_TRUE(WriteText(dir.path() + "/a;b/semi.mp3", "x"));
    form1->Timer4->start(1000);
    QString title, status, shownFolder;
    bool tickRan = true;
    QString pick = dir.path();
    form1->bf->SetDialogRunner([&](QFileDialog& dialog) {
        title = dialog.windowTitle();
        if (auto* label = dialog.findChild<QLabel*>("statusText")) status = label->text();
        shownFolder = form1->bf->FolderName();
        tickRan = form1->Timer4->isActive();
        dialog.setDirectory(QFileInfo(pick).absolutePath());
        dialog.selectFile(pick);
        return true;
    });
    form1->SpeedButton22Click();
    EXPECT_EQ("Select Folder", title);
    EXPECT_EQ("[Recursive search]", status);
    EXPECT_EQ(QDir::homePath(), shownFolder);
    EXPECT_FALSE(tickRan);
    EXPECT_TRUE(form1->Timer4->isActive());
    ASSERT_TRUE(RunEventsUntil([&] { return !form1->FolderAdding(); }));
    ASSERT_TRUE(Settle());  // the fresh list's start has tried its entries
    // Each folder's files in name order (numbers as numbers), then its subfolders.
    const QString d = QDir(dir.path()).absolutePath();
    EXPECT_EQ((QStringList{d + "/t9.mp3", d + "/t10.mp3", d + "/top.mp3", d + "/a/b/deep.MP3", d + "/a;b/semi.mp3"}),
              Column(1));
    EXPECT_EQ(5, form1->EntryCount);

    // Adding again opens where the picker was closed, appends and shows the
    // last old row at the top.
    pick = dir.path() + "/a/b";
    form1->SpeedButton22Click();
    ASSERT_TRUE(RunEventsUntil([&] { return !form1->FolderAdding(); }));
    EXPECT_EQ(d, shownFolder);
    EXPECT_EQ(6, form1->EntryCount);
    EXPECT_EQ(d + "/a/b/deep.MP3", Text(5, 1));
    EXPECT_EQ(4, CurrentRow());
}

TEST_F(PlaylistPanel, LoadReplacesTheListAndStartsIt) {
    QTemporaryDir dir;
    const QString list = dir.path() + "/l.m3u";
    ASSERT_TRUE(WriteText(list, "#EXTM3U\n/m/x.mp3\n/m/y.mp3\n"));
    form1->AddEntry("/m/old.mp3");
    QString caption, filter;
    bool multiple = true;
    form1->RunOpenDialog = [&](const QString& c, const QString& f, bool m, auto answer) {
        caption = c;
        filter = f;
        multiple = m;
        answer({list});
    };
    std::vector<int> starts;
    QObject::connect(&Ctl(), &TPlaybackController::EntryStarting, [&](int entry) { starts.push_back(entry); });
    form1->SpeedButton26Click();
    ASSERT_TRUE(Settle());
    EXPECT_EQ("Open a playlist", caption);
    EXPECT_EQ("playlists (*.m3u *.m3u8 *.pls *.xspf)", filter);
    EXPECT_FALSE(multiple);
    EXPECT_EQ((QStringList{"/m/x.mp3", "/m/y.mp3"}), Column(1));
    ASSERT_FALSE(starts.empty());
    EXPECT_EQ(1, starts.front());
}

TEST_F(PlaylistPanel, OpenTakesSongsOrOnePlaylist) {
    QString filter;
    QStringList answer = {"/m/a.mp3", "/m/list.m3u", "/m/b.mp3"};
    form1->RunOpenDialog = [&](const QString&, const QString& f, bool m, auto chosen) {
        filter = f;
        EXPECT_TRUE(m);
        chosen(answer);
    };
    form1->AddEntry("/m/old.mp3");
    form1->Settings.RandomPlay = 1;
    form1->ApplyPlayOptions();
    form1->Image13Click();
    EXPECT_EQ("mp3, playlists (*.mp3 *.m3u *.m3u8 *.pls *.xspf);;mp3 (*.mp3);;playlists (*.m3u *.m3u8 *.pls *.xspf)",
              filter);
    EXPECT_EQ((QStringList{"/m/a.mp3", "/m/b.mp3"}), Column(1));
    ASSERT_GE(form1->CurrentEntry, 1);  // a random first entry
    EXPECT_EQ(0, form1->NotPlayed[form1->CurrentEntry]);

    QTemporaryDir dir;
    answer = {dir.path() + "/one.M3U8"};
    ASSERT_TRUE(WriteText(answer.front(), "c.mp3\n"));
    form1->Image13Click();
    ASSERT_TRUE(Settle());
    EXPECT_EQ(QStringList{dir.path() + "/c.mp3"}, Column(1));
}

TEST_F(PlaylistPanel, SaveAsksBeforeReplacing) {
    QTemporaryDir dir;
    const QString target = dir.path() + "/mine.m3u";
    ASSERT_TRUE(WriteText(target, "keep me\n"));
    Add({"/m/a.mp3", "/m/b.mp3"});
    QString caption, defaultName, question;
    form1->RunSaveDialog = [&](const QString& c, const QString& name, const QString&, auto chosen) {
        caption = c;
        defaultName = name;
        chosen(target);
    };
    bool answer = false;
    form1->AskReplace = [&](const QString& text, auto yes) {
        question = text;
        yes(answer);
    };
    form1->SpeedButton27Click();
    EXPECT_EQ("Save current playlist as", caption);
    EXPECT_EQ("wl.m3u", defaultName);
    EXPECT_EQ(target + " already exists!\n\rDo you want to replace it?", question);
    EXPECT_EQ(QByteArray("keep me\n"), ReadAll(target));
    EXPECT_EQ(QByteArray("/m/a.mp3\n/m/b.mp3\n"), ReadAll(form1->DefaultPlaylistPath()));

    answer = true;
    QFile::setPermissions(target, QFileDevice::ReadOwner);  // read-only is cleared first
    form1->SpeedButton27Click();
    EXPECT_EQ(QByteArray("/m/a.mp3\n/m/b.mp3\n"), ReadAll(target));

    question.clear();
    const QString fresh = dir.path() + "/fresh.m3u";
    form1->RunSaveDialog = [&](const QString&, const QString&, const QString&, auto answer) { answer(fresh); };
    form1->SpeedButton27Click();
    EXPECT_TRUE(question.isEmpty());  // nothing to replace
    EXPECT_EQ(QByteArray("/m/a.mp3\n/m/b.mp3\n"), ReadAll(fresh));
}

}  // namespace wl::test
