// Titles from tags: the grid's names filled in from the tag scan, the title strip and
// the saver's text, and everything by file name with the option off.
#include <QLineEdit>

#include <algorithm>

#include "tests/app/playlist_support.h"
#include "tests/app/run_events.h"

namespace wl::test {

namespace {

void RunScan(TForm1& form) {
    RunEventsUntil([&] { return !form.TagScanPending(); }, 20'000);
}

}  // namespace

class PlaylistTitles : public PlaylistFixture {
protected:
    void SetUp() override {
        PlaylistFixture::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(dir_.isValid());
        both_ = dir_.path() + "/01 both.mp3";
        titleOnly_ = dir_.path() + "/02 title.mp3";
        none_ = dir_.path() + "/03 none.mp3";
        ASSERT_TRUE(WriteSilentMp3(both_, 100'000, 0, Id3v1Tag("Night Song", "The Band", "Album", "2001", "", 1, 17)));
        ASSERT_TRUE(WriteSilentMp3(titleOnly_, 100'000, 0, Id3v1Tag("Lonely Title", "", "", "", "", 2, 17)));
        ASSERT_TRUE(WriteSilentMp3(none_, 100'000, 0, Id3v1Tag("", "Artist Only", "", "", "", 3, 17)));
    }
    QTemporaryDir dir_;
    QString both_, titleOnly_, none_;
};

TEST_F(PlaylistTitles, TagsNameTheEntriesAndTheTitle) {
    Add({both_, titleOnly_, none_});
    RunScan(*form1);
    EXPECT_EQ((QStringList{"1. The Band - Night Song", "2. Lonely Title", "3. 03 none"}), Column(0));
    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ("The Band - Night Song", form1->TitleText);  // the title strip and the saver show it
    EXPECT_EQ("1> The Band - Night Song", Text(0));
    EXPECT_EQ("Night Song", form1->Edit2->text());
    form1->CurrentEntry = 3;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ("03 none", form1->TitleText);

    // Option off: names and title by file name again, marks kept.
    form1->Extra.TitlesFromTags = false;
    form1->TitlesOptionChanged();
    EXPECT_EQ((QStringList{"1> 01 both", "2. 02 title", "3> 03 none"}), Column(0));
    form1->CurrentEntry = 1;
    form1->playfile();
    ASSERT_TRUE(Settle());
    EXPECT_EQ("01 both", form1->TitleText);
    form1->Extra.TitlesFromTags = true;
    form1->TitlesOptionChanged();
    EXPECT_EQ("1> The Band - Night Song", Text(0));
}

// A long list appears at once by file names; the tags follow from the scan's
// thread, the rows on show first.
TEST_F(PlaylistTitles, LongListIsReadInTheBackground) {
    QTemporaryDir many;
    QFile one(none_);
    ASSERT_TRUE(one.open(QIODevice::ReadOnly));
    const QByteArray untagged = one.read(417);  // one frame
    QByteArray list;
    for (int i = 0; i < 5000; ++i) {
        QString path = many.path() + QStringLiteral("/n%1.mp3").arg(i);
        if (i == 0) {
            path = titleOnly_;
        } else if (i == 4995) {
            path = both_;
        } else if (i != 4000) {  // that one is missing
            ASSERT_TRUE(WriteText(path, untagged));
        }
        list += path.toUtf8() + "\n";
    }
    ASSERT_TRUE(WriteText(Home() + "wl21.m3u", list));
    std::vector<int> order;
    form1->LoadDefaultPlaylist();
    ASSERT_EQ(5000, form1->EntryCount);
    ASSERT_NE(nullptr, form1->TagScan());
    QObject::connect(form1->TagScan(), &TTagScan::TagsRead, [&](int row) { order.push_back(row); });
    EXPECT_EQ("1. 02 title", Text(0));
    EXPECT_EQ("4996. 01 both", Text(4995));
    EXPECT_TRUE(form1->TagScanPending());
    form1->SetTopRow(4993);  // before the scan hands the rest of the list over

    RunScan(*form1);
    EXPECT_FALSE(form1->TagScanPending());
    const auto at = [&](int row) { return std::find(order.begin(), order.end(), row) - order.begin(); };
    EXPECT_LT(at(4995), at(100));  // shown first
    EXPECT_LT(at(100), at(4000 - 1));  // the rest in the list's order
    EXPECT_EQ("4996. The Band - Night Song", Text(4995));
    EXPECT_EQ("1. Lonely Title", Text(0));
    EXPECT_EQ("4002. n4001", Text(4001));
    EXPECT_TRUE(form1->Playlist.Entry(4001).Tags.Known);
    EXPECT_EQ("File not found", form1->Playlist.Entry(4000).Problem);
}

}  // namespace wl::test
