// The playlist's sort and tidy menu on the main window's list (status texts,
// the missing-file look on a worker), and the search field's behaviour.
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>

#include <atomic>
#include <optional>
#include <vector>

#include "app/playlist_menu.h"
#include "playback/playlist_search.h"
#include "tests/app/playlist_support.h"

namespace wl::test {

namespace {

QAction* Find(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text) return action;
        if (action->menu()) {
            if (QAction* inner = Find(action->menu(), text)) return inner;
        }
    }
    return nullptr;
}

}  // namespace

using PlaylistMenu = PlaylistFixture;

TEST_F(PlaylistMenu, SortsAndTidiesWithStatusTexts) {
    PlaylistModel& list = form1->Playlist;
    const QString d = Home() + "music/";
    for (const char* name : {"b.mp3", "a.mp3", "c.mp3"}) ASSERT_TRUE(WriteSilentMp3(d + name, 4170));
    for (const char* name : {"b.mp3", "a.mp3", "gone1.mp3", "c.mp3", "a.mp3", "gone2.mp3"})
        ASSERT_TRUE(list.AddEntry(d + name));
    list.CurrentEntry = 4;  // c
    std::unique_ptr<QMenu> menu(MakePlaylistMenu(*form1));
    for (const char* text : {"Title", "Artist", "Album", "Track number", "File name", "Path", "Remove duplicates",
                             "Remove missing files"})
        EXPECT_NE(nullptr, Find(menu.get(), text)) << text;

    Find(menu.get(), "File name")->trigger();
    EXPECT_EQ("Sorted by file name", form1->StatusText);
    EXPECT_EQ(d + "c.mp3", list.Path(list.CurrentEntry - 1));
    Find(menu.get(), "Path")->trigger();
    EXPECT_EQ("Already sorted by path", form1->StatusText);
    Find(menu.get(), "Remove duplicates")->trigger();
    EXPECT_EQ("Removed 1 duplicate", form1->StatusText);
    Find(menu.get(), "Remove duplicates")->trigger();
    EXPECT_EQ("No duplicates", form1->StatusText);

    auto* check = menu->findChild<TMissingFilesCheck*>();
    ASSERT_NE(nullptr, check);
    int finished = -2;
    QObject::connect(check, &TMissingFilesCheck::Finished, [&](int removed) { finished = removed; });
    Find(menu.get(), "Remove missing files")->trigger();
    ASSERT_TRUE(RunEventsUntil([&] { return finished != -2; }, 20000));
    EXPECT_EQ(2, finished);
    EXPECT_EQ("Removed 2 missing files", form1->StatusText);
    EXPECT_EQ((QStringList{d + "a.mp3", d + "b.mp3", d + "c.mp3"}), list.Paths());
    EXPECT_EQ(d + "c.mp3", list.Path(list.CurrentEntry - 1));

    // Rows added while the files are looked at: nothing is removed.
    std::atomic<bool> release{false};
    check->Exists = [&](const QString&) {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return false;
    };
    finished = -2;
    check->Start();
    EXPECT_TRUE(check->Running());
    EXPECT_TRUE(form1->StatusText.startsWith("Looking for missing files")) << form1->StatusText.toStdString();
    check->Start();
    EXPECT_TRUE(form1->StatusText.startsWith("Still looking")) << form1->StatusText.toStdString();
    ASSERT_TRUE(list.AddEntry(d + "new.mp3"));
    release = true;
    ASSERT_TRUE(RunEventsUntil([&] { return finished != -2; }, 20000));
    EXPECT_EQ(-1, finished);
    EXPECT_EQ(4, list.Rows());
    EXPECT_TRUE(form1->StatusText.contains("nothing removed")) << form1->StatusText.toStdString();
}

TEST_F(PlaylistMenu, SearchFieldFiltersPlaysAndRestores) {
    PlaylistModel& list = form1->Playlist;
    for (const char* title : {"Jimi Hendrix - Mystery Train", "Elvis - Mystery Train", "Jimi Hendrix - Little Wing"}) {
        TPlaylistEntry entry;
        entry.Path = QStringLiteral("/m/%1.mp3").arg(list.Rows());
        entry.Meta.Title = title;
        ASSERT_TRUE(list.AddEntry(entry));
    }
    TPlaylistSearch search(list);
    QLineEdit field;
    std::vector<std::optional<std::vector<int>>> shown;
    std::vector<int> played;
    TPlaylistSearchBar bar(
        &field, search, [&](std::optional<std::vector<int>> rows) { shown.push_back(std::move(rows)); },
        [&](int row) { played.push_back(row); });
    EXPECT_TRUE(field.isHidden());

    bar.Open("h");  // a key typed in the list
    EXPECT_FALSE(field.isHidden());
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ((std::vector<int>{0, 2}), shown.back());
    field.insert("endrix train");
    EXPECT_EQ((std::vector<int>{0}), shown.back());
    field.setText("train");
    EXPECT_EQ((std::vector<int>{0, 1}), shown.back());

    // The list changes while the field is open: searched anew.
    list.SetTags(0, TEntryTags{"Wind Cries Mary", "Jimi Hendrix", "", 0, true});
    list.SetName(0, "Jimi Hendrix - Wind Cries Mary");
    ASSERT_TRUE(RunEventsUntil([&] { return shown.back() == std::optional(std::vector<int>{1}); }, 5000));
    list.Sort(PlaylistModel::TSortKey::Title);  // Elvis - Mystery Train, Jimi Hendrix - Little Wing, Wind Cries Mary
    ASSERT_TRUE(RunEventsUntil([&] { return shown.back() == std::optional(std::vector<int>{0}); }, 5000));
    EXPECT_EQ("Elvis - Mystery Train", list.Entry(0).Name);

    // Escape: the whole list again, the field empty and hidden.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&field, &escape);
    EXPECT_EQ(std::nullopt, shown.back());
    EXPECT_TRUE(field.isHidden());
    EXPECT_TRUE(field.text().isEmpty());
    EXPECT_TRUE(played.empty());

    // Enter plays the first hit and closes; with no hit it does nothing.
    bar.Open("zzz");
    EXPECT_EQ(std::vector<int>{}, shown.back());
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&field, &enter);
    EXPECT_TRUE(played.empty());
    EXPECT_TRUE(bar.IsOpen());
    field.setText("jimi");
    EXPECT_EQ((std::vector<int>{1, 2}), shown.back());
    QCoreApplication::sendEvent(&field, &enter);
    EXPECT_EQ(std::vector<int>{1}, played);
    EXPECT_EQ(std::nullopt, shown.back());
    EXPECT_TRUE(field.isHidden());
}

}  // namespace wl::test
