// Streams and station lists in the window: the "+URL" key and its dialog,
// URLs and list files handed over and dropped, and the grid following an
// entry replaced by its stations.
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QToolButton>

#include "tests/app/playlist_support.h"

namespace wl::test {

using Stations = PlaylistFixture;

namespace {

// Nothing listens there: a stream that cannot start, and no network used.
const QString kStream = QStringLiteral("http://127.0.0.1:9/live");

}  // namespace

TEST_F(Stations, UrlKeyOpensADialogWhoseEnterAddsAndPlays) {
    QToolButton* key = form1->UrlButton;
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->text(), "+URL");
    EXPECT_EQ(key->parentWidget(), form1->Panel19);
    // Between "+File" and "-File", the row still within the panel's picture.
    EXPECT_GT(key->geometry().left(), form1->PlaylistButtons[1]->geometry().right());
    EXPECT_LT(key->geometry().right(), form1->PlaylistButtons[2]->geometry().left());
    EXPECT_LE(form1->PlaylistButtons[5]->geometry().right(), 341);

    Add({"/m/a.mp3"});
    key->click();
    key->click();  // the open dialog is brought forward, not doubled
    const QList<QInputDialog*> dialogs = form1->findChildren<QInputDialog*>();
    ASSERT_EQ(dialogs.size(), 1);
    QPointer<QInputDialog> dialog = dialogs.front();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->isModal());
    dialog->setTextValue("  " + kStream + "  ");
    QLineEdit* edit = dialog->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(edit, &press);
    EXPECT_EQ((QStringList{"/m/a.mp3", kStream}), Column(1));
    EXPECT_EQ(form1->CurrentEntry, 2);
    EXPECT_EQ(Ctl().PlayingPath(), kStream);
    EXPECT_TRUE(RunEventsUntil([&] { return dialog.isNull(); }));
    ASSERT_TRUE(Settle());

    // What is no stream's URL is said, and the list stays.
    const struct {
        const char* typed;
        const char* said;
    } invalid[] = {
        {"radio.example/live", "Not an http:// or https:// URL: radio.example/live"},
        {"http:///live", "No host in the URL: http:///live"},
        {" ", "No URL given"},
    };
    for (const auto& i : invalid) {
        EXPECT_FALSE(form1->AddStreamUrl(QString::fromLatin1(i.typed)));
        EXPECT_EQ(form1->StatusText, QString::fromLatin1(i.said));
    }
    EXPECT_EQ(form1->EntryCount, 2);
}

// One .pls or .xspf handed over replaces the list with its stations; one of
// no use leaves the list and says why; URLs among files are taken too.
TEST_F(Stations, HandedOverAndDroppedListsAddTheirStations) {
    QTemporaryDir dir;
    const QString pls = dir.path() + "/radio.PLS";
    ASSERT_TRUE(WriteText(pls, "[playlist]\nFile1=http://127.0.0.1:9/a\nTitle1=Radio A\nFile2=b.mp3\n"));
    const QString bad = dir.path() + "/bad.pls";
    ASSERT_TRUE(WriteText(bad, "[playlist]\nNumberOfEntries=0\n"));
    const QString xspf = dir.path() + "/mix.xspf";
    ASSERT_TRUE(WriteText(xspf, "<playlist><trackList><track><location>http://127.0.0.1:9/c</location>"
                                "<title>C</title></track><track><location>mms://x</location></track>"
                                "<track><location>notes.txt</location></track></trackList></playlist>"));

    Add({"/m/old.mp3"});
    form1->HandOver({bad}, 10'000);
    EXPECT_EQ(form1->StatusText, "bad.pls: no stations in the list");
    EXPECT_EQ(QStringList{"/m/old.mp3"}, Column(1));

    form1->HandOver({pls}, 20'000);
    EXPECT_EQ((QStringList{"http://127.0.0.1:9/a", dir.path() + "/b.mp3"}), Column(1));
    EXPECT_EQ(form1->Playlist.Entry(0).Meta.Title, "Radio A");
    EXPECT_EQ(form1->CurrentEntry, 1);
    EXPECT_EQ(QDir::current().canonicalPath(), QDir(dir.path()).canonicalPath());

    form1->HandOver({"/m/x.mp3", kStream, "/m/notes.txt"}, 30'000);
    EXPECT_EQ((QStringList{"/m/x.mp3", kStream}), Column(1));

    form1->DropFiles({xspf});
    EXPECT_EQ(Text(2), "3. C");
    // (In the start's first second, after what the failed starts said.)
    EXPECT_TRUE(form1->StatusText.endsWith(
        "mix.xspf: 1 entry left out: not an http or https stream or a file; 1 entry left out: not MP3 files"))
        << form1->StatusText.toStdString();
}

TEST_F(Stations, GridFollowsAnEntryReplacedByItsStations) {
    Add({"/m/a.mp3", "http://127.0.0.1:9/list.pls", "/m/c.mp3"});
    TPlaylistEntry one, two;
    one.Path = "http://127.0.0.1:9/1";
    one.Meta.Title = "Station One";
    two.Path = "http://127.0.0.1:9/2";
    EXPECT_EQ(form1->Playlist.ReplaceEntry(1, {one, two}), 2);
    EXPECT_EQ((QStringList{"1. a", "2. Station One", "3. http://127.0.0.1:9/2", "4. c"}), Column(0));
    ASSERT_EQ(GridRows(), 4);
    EXPECT_EQ(GridText(3, 1), "/m/c.mp3");
}

}  // namespace wl::test
