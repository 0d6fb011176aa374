// The playlist panel's grid over the list: the table model (large lists in
// one step, a filter's rows), the keys, following the playing entry, the
// list's height, "-All"'s question and adding a folder on the worker.
#include <QAbstractButton>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolButton>

#include <atomic>
#include <thread>

#include "app/folder_adder.h"
#include "app/playlist_view.h"
#include "controls/browse_for_folder.h"
#include "tests/app/playlist_support.h"
#include "tests/app/run_events.h"

namespace wl::test {

TEST(PlaylistTable, FollowsTheListInWholeStepsAndMapsAFilter) {
    PlaylistModel list;
    TPlaylistTable table(list);
    // Each signal's calls as (first, last) rows.
    std::vector<std::pair<int, int>> inserted, changed, removed;
    int resets = 0;
    QObject::connect(&table, &QAbstractItemModel::rowsInserted, [&](const QModelIndex&, int first, int last) {
        inserted.emplace_back(first, last);
    });
    QObject::connect(&table, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from, const QModelIndex& to) {
        changed.emplace_back(from.row(), to.row());
    });
    QObject::connect(&table, &QAbstractItemModel::rowsRemoved, [&](const QModelIndex&, int first, int last) {
        removed.emplace_back(first, last);
    });
    QObject::connect(&table, &QAbstractItemModel::modelReset, [&] { ++resets; });

    constexpr int kRows = 100'000;
    std::vector<TPlaylistEntry> entries(kRows);
    for (int i = 0; i < kRows; ++i) entries[i].Path = QStringLiteral("/m/%1.mp3").arg(i);
    ASSERT_EQ(kRows, list.AddEntries(entries));
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, kRows - 1}}), inserted);
    EXPECT_EQ(kRows, table.rowCount());
    EXPECT_EQ("100000. 99999", table.index(kRows - 1, 0).data().toString());
    EXPECT_EQ("/m/99999.mp3", table.index(kRows - 1, 1).data().toString());

    list.RenumberEntries();  // every row's text at once
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, kRows - 1}}), changed);
    list.RemoveEntries(10, 19);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{10, 19}}), removed);
    EXPECT_EQ(kRows - 10, table.rowCount());

    // A filter shows its rows in its order; rows outside the list are left out.
    table.SetFilter(std::vector<int>{7, 3, 50'000, kRows + 5});
    EXPECT_EQ(3, table.rowCount());
    EXPECT_EQ("/m/3.mp3", table.index(1, 1).data().toString());
    EXPECT_EQ(50'000, table.ModelRow(2));
    EXPECT_EQ(-1, table.ModelRow(3));
    EXPECT_EQ(2, table.ViewRow(50'000));
    EXPECT_EQ(-1, table.ViewRow(4));
    // Rows removed from the list leave the filter; those below move up.
    list.RemoveEntries(3, 4);
    ASSERT_TRUE(table.Filter().has_value());
    EXPECT_EQ((std::vector<int>{5, 49'998}), *table.Filter());
    EXPECT_EQ("/m/7.mp3", table.index(0, 1).data().toString());
    table.SetFilter(std::nullopt);
    EXPECT_EQ(list.Rows(), table.rowCount());
    EXPECT_EQ(5, table.ViewRow(5));

    // An entry that cannot play is greyed and says why, with its path.
    list.SetProblem(0, "File not found");
    EXPECT_EQ(TPlaylistTable::kProblemColor, table.index(0, 0).data(Qt::ForegroundRole).value<QColor>());
    EXPECT_EQ("File not found\n/m/0.mp3", table.index(0, 0).data(Qt::ToolTipRole).toString());
    EXPECT_FALSE(table.index(1, 0).data(Qt::ForegroundRole).isValid());

    const int resetsBefore = resets;
    list.Clear();
    EXPECT_EQ(resetsBefore + 1, resets);
    EXPECT_EQ(0, table.rowCount());
}

TEST(PlaylistTable, LongLabelsShowWholeAsTooltipsOnly) {
    PlaylistModel list;
    TPlaylistTable table(list);
    list.AddEntry("/m/short.mp3");
    list.AddEntry("/m/" + QString(120, QLatin1Char('w')) + ".mp3");
    TPlaylistDelegate delegate;
    const QFont font;
    const QRect cell(0, 0, 283, 16);
    EXPECT_EQ(QString(), delegate.TipFor(table.index(0, 0), cell, font));
    EXPECT_EQ(list.Label(1), delegate.TipFor(table.index(1, 0), cell, font));
    list.SetProblem(0, "Cannot be read");
    EXPECT_EQ("Cannot be read\n/m/short.mp3", delegate.TipFor(table.index(0, 0), cell, font));
}

class PlaylistView : public PlaylistFixture {
protected:
    void Key(int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(form1->sg1, &press);
    }
    void Fill(int n) {
        std::vector<TPlaylistEntry> entries(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) entries[static_cast<size_t>(i)].Path = QStringLiteral("/m/%1.mp3").arg(i + 1);
        form1->Playlist.AddEntries(entries);
    }
    void ShowPlaylist() {
        form1->show();
        ASSERT_TRUE(Loaded());  // the start's own list first
        form1->TogglePanel(form1->Panel19);
        ASSERT_TRUE(RunEventsUntil([&] { return form1->sg1->viewport()->height() == 16 * form1->VisibleRows(); }));
    }
    int64_t now_ = 0;
};

TEST_F(PlaylistView, KeysMoveTheSelectionAndPauseFollowing) {
    form1->ListClock = [this] { return now_; };
    ShowPlaylist();
    Fill(50);
    RunEvents(20);  // the grid lays out its rows
    SelectRow(0);
    Key(Qt::Key_Down);
    EXPECT_EQ(1, CurrentRow());
    Key(Qt::Key_PageDown);
    EXPECT_GT(CurrentRow(), 1 + 3);
    Key(Qt::Key_End);
    EXPECT_EQ(49, CurrentRow());
    EXPECT_EQ(44, form1->TopRow());
    Key(Qt::Key_Home);
    EXPECT_EQ(0, CurrentRow());
    EXPECT_EQ(0, form1->TopRow());
    Key(Qt::Key_Up);
    EXPECT_EQ(0, CurrentRow());

    // The user just moved: the playing entry does not pull the list away.
    form1->CurrentEntry = 30;
    form1->SelectCurrent();
    EXPECT_EQ(0, CurrentRow());
    now_ += TForm1::kFollowPauseMs - 1;
    form1->SelectCurrent();
    EXPECT_EQ(0, form1->TopRow());
    now_ += 1;
    form1->SelectCurrent();
    EXPECT_EQ(29, CurrentRow());
    EXPECT_EQ(29, form1->TopRow());
    // The wheel counts as a move too.
    QWheelEvent wheel(QPointF(20, 20), form1->sg1->viewport()->mapToGlobal(QPointF(20, 20)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(form1->sg1->viewport(), &wheel);
    EXPECT_GT(form1->TopRow(), 29);
    form1->CurrentEntry = 3;
    form1->SelectCurrent();
    EXPECT_EQ(29, CurrentRow());

    // Enter plays the row reached by the keys.
    Key(Qt::Key_Home);
    Key(Qt::Key_Down);
    Key(Qt::Key_Return);
    EXPECT_EQ(2, form1->CurrentEntry);
    EXPECT_EQ("/m/2.mp3", Ctl().PlayingPath());
}

// With a filter the grid's rows are some of the list's: playing, selecting
// and removing act on those.
TEST_F(PlaylistView, AFilteredGridActsOnTheListsRows) {
    Fill(6);
    form1->PlaylistTable->SetFilter(std::vector<int>{1, 3, 4});
    EXPECT_EQ((QStringList{"2. 2", "4. 4", "5. 5"}), Column(0));
    SelectRow(1);
    EXPECT_EQ(3, form1->CurrentListRow());
    form1->sg1DblClick();
    EXPECT_EQ(4, form1->CurrentEntry);
    SelectRows(0, 1);
    form1->SpeedButton24Click();
    EXPECT_EQ((QStringList{"/m/1.mp3", "/m/3.mp3", "/m/5.mp3", "/m/6.mp3"}), form1->Playlist.Paths());
    EXPECT_EQ((QStringList{"3. 5"}), Column(0));  // the filter follows the list
    form1->PlaylistTable->SetFilter(std::nullopt);
    EXPECT_EQ(4, GridRows());
}

// Typing in the list opens the search over the action keys and the grid
// shows the hits; Escape shows the whole list where it was; Enter plays the
// first hit; a sort from the grid's menu keeps the playing entry.
TEST_F(PlaylistView, TypingFindsTracksAndTheMenuSorts) {
    ShowPlaylist();
    std::vector<TPlaylistEntry> entries(200);
    for (int i = 0; i < 200; ++i) entries[static_cast<size_t>(i)].Path = QStringLiteral("/m/song %1.mp3").arg(200 - i);
    entries[150].Path = QStringLiteral("/m/Jimi Hendrix \u2013 Mystery Train.mp3");
    entries[170].Path = QStringLiteral("/m/Beyonc\u00e9 - Halo.mp3");
    form1->Playlist.AddEntries(entries);
    RunEvents(20);
    form1->SetTopRow(120);
    QKeyEvent h(QEvent::KeyPress, Qt::Key_H, Qt::NoModifier, QStringLiteral("h"));
    QCoreApplication::sendEvent(form1->sg1, &h);
    ASSERT_TRUE(form1->SearchField->isVisible());
    EXPECT_EQ("h", form1->SearchField->text());
    form1->SearchField->setText(QStringLiteral("HENDRIX train"));
    EXPECT_EQ((QStringList{"151. Jimi Hendrix \u2013 Mystery Train"}), Column(0));
    form1->SearchField->setText(QStringLiteral("beyonce"));
    EXPECT_EQ((QStringList{"171. Beyonc\u00e9 - Halo"}), Column(0));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(form1->SearchField, &escape);
    EXPECT_FALSE(form1->SearchField->isVisible());
    EXPECT_EQ(200, GridRows());
    EXPECT_EQ(120, form1->TopRow());

    form1->OpenSearch();  // Ctrl+F / "J"
    form1->SearchField->setText(QStringLiteral("mystery"));
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(form1->SearchField, &enter);
    EXPECT_EQ(151, form1->CurrentEntry);
    EXPECT_EQ(200, GridRows());

    // Sort by file name from the menu: the playing entry moves and stays current.
    QAction* byName = nullptr;
    for (QAction* action : form1->PlaylistMenu->findChildren<QAction*>()) {
        if (action->text().remove('&') == "File name") byName = action;
    }
    ASSERT_NE(byName, nullptr);
    byName->trigger();
    EXPECT_EQ("/m/Beyonc\u00e9 - Halo.mp3", form1->Playlist.Path(0));
    EXPECT_EQ("/m/Jimi Hendrix \u2013 Mystery Train.mp3", form1->Playlist.Path(form1->CurrentEntry - 1));
    EXPECT_EQ(200, GridRows());
}

TEST_F(PlaylistView, TheListGrowsByTheGripWithinLimitsAndIsRemembered) {
    ShowPlaylist();
    Fill(100);
    EXPECT_EQ(QSize(kWindowWidth, kWindowHeight), form1->size());
    auto* grip = form1->Panel19->findChild<TRowsGrip*>("PlaylistGrip");
    ASSERT_NE(nullptr, grip);
    EXPECT_EQ(form1->Panel19->height(), grip->geometry().bottom() + 1);
    const auto drag = [&](int dy) {
        const QPointF at(100, 5);
        const QPointF global = grip->mapToGlobal(at);
        QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(grip, &press);
        QMouseEvent move(QEvent::MouseMove, at + QPointF(0, dy), global + QPointF(0, dy), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(grip, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, at + QPointF(0, dy), global + QPointF(0, dy), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(grip, &release);
    };
    drag(16 * 14 + 5);  // 14 rows and a bit
    EXPECT_EQ(20, form1->VisibleRows());
    EXPECT_EQ(16 * 20, form1->sg1->height());
    EXPECT_EQ(QSize(kWindowWidth, kWindowHeight + 14 * 16), form1->size());
    // The action keys lie below the list, the grip along the panel's edge.
    EXPECT_EQ(form1->sg1->geometry().bottom() + 1 + 12, form1->PlaylistButtons[0]->y());
    EXPECT_EQ(form1->Panel19->height(), grip->geometry().bottom() + 1);
    ASSERT_TRUE(RunEventsUntil([&] { return form1->sg1->viewport()->height() == 16 * 20; }));
    form1->ScrollButtonClick(33);
    EXPECT_EQ(80, form1->TopRow());  // a page is the rows shown
    form1->ScrollButtonClick(29);
    EXPECT_EQ(61, form1->TopRow());

    drag(-16 * 30);
    EXPECT_EQ(TExtraSettings::kMinPlaylistRows, form1->VisibleRows());
    form1->SetPlaylistRows(99);
    EXPECT_EQ(TExtraSettings::kMaxPlaylistRows, form1->VisibleRows());
    // Another panel has the usual height; the playlist its own again.
    form1->TogglePanel(form1->Panel17);
    EXPECT_EQ(QSize(kWindowWidth, kWindowHeight), form1->size());
    form1->TogglePanel(form1->Panel19);
    EXPECT_EQ(kWindowHeight + 34 * 16, form1->height());

    form1->SetPlaylistRows(17);
    form1->SaveSettings();
    EXPECT_TRUE(ReadAll(form1->ExtraSettingsPath()).contains("[Playlist]\nRows=17\n"));
    form2.reset();
    form1.reset();
    Create();
    EXPECT_EQ(17, form1->VisibleRows());
    EXPECT_EQ(16 * 17, form1->sg1->height());
    EXPECT_EQ(kPanelHeight + 11 * 16, form1->Panel19->height());
}

TEST_F(PlaylistView, ClearingALongListAsksFirst) {
    Fill(11);
    form1->CurrentEntry = 4;
    form1->ShowEntryCounter();
    form1->TitleText = "4";
    form1->Edit2->setText("Old Title");
    const auto question = [&] { return form1->findChild<QMessageBox*>("ClearListQuestion"); };
    form1->SpeedButton25Click();
    ASSERT_NE(nullptr, question());
    EXPECT_TRUE(question()->isVisible());  // opened, not run
    EXPECT_EQ(11, form1->EntryCount);
    question()->button(QMessageBox::No)->click();
    EXPECT_EQ(11, form1->EntryCount);
    ASSERT_TRUE(RunEventsUntil([&] { return question() == nullptr; }));

    form1->SpeedButton25Click();
    ASSERT_NE(nullptr, question());
    question()->button(QMessageBox::Yes)->click();
    EXPECT_TRUE(form1->PlaylistEmpty());
    EXPECT_EQ("0 - 0", form1->Label2->text());
    // Nothing plays: the display shows nothing of the cleared list.
    EXPECT_NE("4", form1->TitleText);
    EXPECT_EQ(QString(), form1->Edit2->text());

    Fill(10);  // few entries go at once
    form1->SpeedButton25Click();
    EXPECT_TRUE(form1->PlaylistEmpty());
    RunEvents(50);
    EXPECT_EQ(nullptr, question());
}

TEST_F(PlaylistView, AddingAFolderRunsOnAWorkerAndCanBeCancelled) {
    QTemporaryDir dir;
    const QString d = QDir(dir.path()).absolutePath();
    for (const char* name : {"a1.mp3", "a2.mp3", "a3.mp3", "b/b1.mp3", "b/b2.mp3", "c/c1.mp3"}) {
        ASSERT_TRUE(WriteText(d + "/" + name, "x"));
    }
    form1->AddEntry("/m/first.mp3");
    std::atomic<int> folders{0};
    std::atomic<bool> release{false};
    // Set before the worker starts and left in place: it reads the hook.
    form1->FolderAdder->FolderHook = [&](const QString&) {
        if (++folders == 2) {  // held as it enters the second folder
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    form1->AddFolderTree(d);
    EXPECT_TRUE(form1->FolderAdding());
    // Files of the first folder arrive while the worker is held.
    ASSERT_TRUE(RunEventsUntil([&] { return form1->EntryCount > 1; }));
    const int got = form1->EntryCount - 1;
    const QString files = got == 1 ? "1 file" : QString("%1 files").arg(got);
    EXPECT_EQ("Adding\u2026 " + files, form1->StatusText);
    Key(Qt::Key_Escape);
    EXPECT_FALSE(form1->FolderAdding());
    EXPECT_EQ("Adding cancelled: " + files + " added", form1->StatusText);
    release = true;

    // The next add waits for the cancelled worker; nothing more of it comes.
    form1->AddFolderTree(d + "/b");
    ASSERT_TRUE(RunEventsUntil([&] { return !form1->FolderAdding(); }));
    QStringList expected{"/m/first.mp3"};
    for (int i = 1; i <= got; ++i) expected.append(d + QString("/a%1.mp3").arg(i));
    expected += QStringList{d + "/b/b1.mp3", d + "/b/b2.mp3"};
    EXPECT_EQ(expected, Column(1));
    EXPECT_EQ("Added 2 files", form1->StatusText);
    EXPECT_EQ(got, CurrentRow());  // the last old row

    // "+Dir" opens where the last folder was chosen, also after a restart.
    QString shown;
    form1->bf->SetDialogRunner([&](QFileDialog& dialog) {
        shown = form1->bf->FolderName();
        dialog.setDirectory(d);
        dialog.selectFile(d + "/c");
        return true;
    });
    form1->Extra.LastFolder = d + "/b";
    form1->SpeedButton22Click();
    EXPECT_EQ(d + "/b", shown);
    ASSERT_TRUE(RunEventsUntil([&] { return !form1->FolderAdding(); }));
    EXPECT_EQ(expected.size() + 1, form1->EntryCount);
    form1->SaveSettings();
    form2.reset();
    form1.reset();
    Create();
    EXPECT_EQ(d + "/c", form1->Extra.LastFolder);
}

TEST_F(PlaylistView, DroppedFoldersAreAddedOnTheWorker) {
    QTemporaryDir dir;
    const QString d = QDir(dir.path()).absolutePath();
    ASSERT_TRUE(WriteText(d + "/x/one.mp3", "x"));
    ASSERT_TRUE(WriteText(d + "/y/two.mp3", "x"));
    std::vector<int> starting;
    QObject::connect(&Ctl(), &TPlaybackController::EntryStarting, [&](int entry) { starting.push_back(entry); });
    form1->DropFiles({d + "/x", d + "/y"});
    ASSERT_TRUE(RunEventsUntil([&] { return form1->EntryCount == 2 && !form1->FolderAdding() && !starting.empty(); }));
    EXPECT_EQ((QStringList{d + "/x/one.mp3", d + "/y/two.mp3"}), Column(1));
    EXPECT_EQ(1, starting.front());  // an empty list starts with what came first (not audio: the list moves on)
    // Files dropped with a folder go in at once.
    form1->DropFiles({d + "/y", "/m/loose.mp3"});
    ASSERT_TRUE(RunEventsUntil([&] { return form1->EntryCount == 4 && !form1->FolderAdding(); }));
    EXPECT_EQ((QStringList{d + "/x/one.mp3", d + "/y/two.mp3", "/m/loose.mp3", d + "/y/two.mp3"}), Column(1));
}

}  // namespace wl::test
