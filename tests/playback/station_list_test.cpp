// Station lists (.pls, .m3u, .xspf) read into playlist entries: each kind's
// forms, how a body's kind is known, locations resolved against a folder or
// the list's URL, the size limit, and what a list of no use answers.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

#include "playback/station_list.h"

namespace wl::test {

namespace {

struct TExpected {
    QString Path;
    QString Title;
    int64_t LengthMs = 0;
};

struct TCase {
    const char* What;
    QByteArray Body;
    QString NameOrType;
    QString Base;
    TStationListKind Kind;
    std::vector<TExpected> Entries;
    QString Warning = {};  // a part it must contain; empty: none at all
};

void Check(const TCase& c) {
    SCOPED_TRACE(c.What);
    const TStationList list = ParseStationList(c.Body, c.NameOrType, c.Base);
    EXPECT_EQ(list.Kind, c.Kind);
    EXPECT_TRUE(list.Error.isEmpty()) << list.Error.toStdString();
    ASSERT_EQ(list.Entries.size(), c.Entries.size());
    for (size_t i = 0; i < c.Entries.size(); ++i) {
        EXPECT_EQ(list.Entries[i].Path, c.Entries[i].Path) << i;
        EXPECT_EQ(list.Entries[i].Meta.Title, c.Entries[i].Title) << i;
        EXPECT_EQ(list.Entries[i].Meta.LengthMs, c.Entries[i].LengthMs) << i;
    }
    EXPECT_EQ(list.Warning.isEmpty(), c.Warning.isEmpty()) << list.Warning.toStdString();
    EXPECT_TRUE(list.Warning.contains(c.Warning)) << list.Warning.toStdString();
}

const QString kRemote = QStringLiteral("http://radio.example/dir/list");

}  // namespace

// Each kind's forms, one table.
TEST(StationList, Forms) {
    using K = TStationListKind;
    const QByteArray xspf =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE playlist [<!ENTITY st \"Station\">]>\n"
        "<playlist version=\"1\" xmlns=\"http://xspf.org/ns/0/\"><title>List &amp; more</title><trackList>"
        "<track><location>http://x/a?b=1&amp;c=2</location><title>&st; <![CDATA[<One>]]></title>"
        "<creator>C</creator><duration>5000</duration></track>"
        "<track><location>file:///music/a%20b.mp3</location><location>http://mirror/</location></track>"
        "<track><location>rel/My%20Song.mp3</location><extension application=\"x\"><y/></extension></track>"
        "<track><location>https://y/</location></track>"
        "</trackList></playlist>\n";
    const TCase cases[] = {
        {"any order, CR LF, byte-order mark, keys in any case",
         "\xEF\xBB\xBF[playlist]\r\nNumberOfEntries=3\r\nFile2=http://b/2\r\nTitle2=Two = 2\r\nfile1=http://a/1\r\n"
         "LENGTH1=30\r\nFile3=rel.mp3\r\nTitle3=Caf\xe9\r\nVersion=2\r\n",
         "", "/base", K::Pls,
         {{"http://a/1", "http://a/1", 30'000}, {"http://b/2", "Two = 2"}, {"/base/rel.mp3", QString::fromUtf8("Café")}}},
        {"gaps in the numbers, a key given twice, a title without a file, a stream's length",
         "[PlayList]\nFile5=http://e/5\nLength5=-1\nFile1=http://a/old\nFile1 = http://a/new \nTitle9=orphan\n", "",
         "", K::Pls, {{"http://a/new", "http://a/new"}, {"http://e/5", "http://e/5"}}},
        {"other sections left alone; keys before any section count",
         "File7=http://before/\n[other]\nFile1=http://x/\n[playlist]\nFile1=http://y/\n", "audio/x-scpls; charset=utf-8",
         "", K::Pls, {{"http://y/", "http://y/"}, {"http://before/", "http://before/"}}},
        {"Windows paths, file: URLs, other schemes left out",
         "[playlist]\nFile1=Music\\a.mp3\nFile2=file:///m/c%20d.mp3\nFile3=mms://old/x\nFile4=C:\\x\\b.mp3\n", "",
         "/lists", K::Pls, {{"/lists/Music/a.mp3", ""}, {"/m/c d.mp3", ""}, {"/lists/C:/x/b.mp3", ""}},
         "1 entry left out"},
        {"titles from #EXTINF, the list's own for the others",
         "#EXTM3U\n#PLAYLIST:My List\n#EXTINF:-1 tvg-name=\"a,b\",News 24\r\nhttp://n/live\n  HTTPS://X/2  \n"
         "#EXTINF:215,Song\nsong.mp3\n",
         "x.m3u", "/b", K::M3u,
         {{"http://n/live", "News 24"}, {"HTTPS://X/2", "My List"}, {"/b/song.mp3", "Song", 215'000}}},
        {"lines of stream URLs without a name or type", "http://a/1\r\n\r\nhttps://b/2?x=1&y=2\r\n", "", "", K::M3u,
         {{"http://a/1", "http://a/1"}, {"https://b/2?x=1&y=2", "https://b/2?x=1&y=2"}}},
        {"a list from the network: relative entries become URLs, files are not taken",
         "#EXTM3U\nstream.mp3\n/abs.mp3\nfile:///etc/x.mp3\n", "audio/x-mpegurl", kRemote, K::M3u,
         {{"http://radio.example/dir/stream.mp3", "http://radio.example/dir/stream.mp3"},
          {"http://radio.example/abs.mp3", "http://radio.example/abs.mp3"}},
         "only http and https streams"},
        {"entities, CDATA, file: URLs, relative references, the list's title", xspf, "", "/lists", K::Xspf,
         {{"http://x/a?b=1&c=2", "Station <One>", 5'000},
          {"/music/a b.mp3", ""},
          {"/lists/rel/My Song.mp3", ""},
          {"https://y/", "List & more"}}},
        {"damaged after one track: that track, and a warning",
         "<playlist><trackList><track><location>http://a/</location></track><track><location>b", "list.xspf", "",
         K::Xspf, {{"http://a/", "http://a/"}}, "damaged after 1 entry"},
    };
    for (const TCase& c : cases) Check(c);
    EXPECT_EQ(ParseStationList(xspf, "", "/lists").Entries[0].Meta.Artist, "C");
}

// The body tells its kind first; a name or type only where it does not; a
// body that is no list of any kind (a web page, sound data, an empty list)
// gives no entries and says why.
TEST(StationList, KindAndUselessBodies) {
    EXPECT_EQ(ParseStationList("[playlist]\nFile1=http://a/\n", "x.m3u", "").Kind, TStationListKind::Pls);
    EXPECT_EQ(ParseStationList("#EXTM3U\nhttp://a/\n", "application/xspf+xml", "").Kind, TStationListKind::M3u);

    const struct {
        QByteArray Body;
        const char* NameOrType;
        const char* Error;
    } useless[] = {
        {"<!DOCTYPE html><html><body>Not found</body></html>", "radio.pls", "not a station list"},
        {QByteArray("\xFF\xFB\x90\x00\x00\x00", 6) + "http://a/", "audio/mpegurl", "not a station list"},
        {"[playlist]\nNumberOfEntries=0\n", "", "no stations in the list"},
        {"#EXTM3U\nrtsp://a/\n", "", "no station in the list can be played (1 entry"},
        {"<playlist><trackList><track><location>", "", "damaged XSPF list"},
        {"<?xml version=\"1.0\"?><rss>playlist</rss>", "", "damaged XSPF list: the document is no <playlist>"},
    };
    for (const auto& u : useless) {
        const TStationList list = ParseStationList(u.Body, QString::fromLatin1(u.NameOrType), "");
        EXPECT_TRUE(list.Entries.empty()) << u.Body.constData();
        EXPECT_TRUE(list.Error.startsWith(QLatin1String(u.Error))) << list.Error.toStdString();
    }

    EXPECT_EQ(StationListKindOf("x.PLS"), TStationListKind::Pls);
    EXPECT_EQ(StationListKindOf("http://h/a.m3u8?x=.mp3"), TStationListKind::M3u);
    EXPECT_EQ(StationListKindOf("http://h/stream"), TStationListKind::Unknown);
    EXPECT_TRUE(IsStationListPath("/m/list.xspf"));
    EXPECT_FALSE(IsStationListPath("audio/x-scpls"));
}

// Up to 1 MB is read (a list of more stations than the playlist holds
// included); a larger body is refused as a whole.
TEST(StationList, SizeLimit) {
    QByteArray body = "#EXTM3U\n";
    for (int i = 0; body.size() < kMaxStationListBytes - 32; ++i) body += "http://s.example/" + QByteArray::number(i) + "\n";
    body += QByteArray(kMaxStationListBytes - body.size(), '\n');
    ASSERT_EQ(body.size(), kMaxStationListBytes);
    const TStationList list = ParseStationList(body, "", "");
    EXPECT_TRUE(list.Error.isEmpty());
    EXPECT_GT(static_cast<int>(list.Entries.size()), 32767);

    body += '\n';
    const TStationList tooLarge = ParseStationList(body, "", "");
    EXPECT_TRUE(tooLarge.Entries.empty());
    EXPECT_EQ(tooLarge.Error, "the station list is larger than 1 MB");
}

// A file's relative entries resolve against its folder; one that cannot be
// read says why.
TEST(StationList, FilesAndUrls) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.path() + "/radio.pls";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[playlist]\nFile1=local.mp3\nFile2=http://s/\n");
    file.close();
    const TStationList list = ReadStationListFile(path);
    ASSERT_EQ(list.Entries.size(), 2u);
    EXPECT_EQ(list.Entries[0].Path, dir.path() + "/local.mp3");
    EXPECT_TRUE(ReadStationListFile(dir.path() + "/missing.pls").Error.startsWith("cannot be read"));

    EXPECT_TRUE(IsStreamUrl("HTTP://x"));
    EXPECT_TRUE(IsStreamUrl("https://h/a b"));
    EXPECT_FALSE(IsStreamUrl("https://"));
    EXPECT_FALSE(IsStreamUrl("http://a\nb"));
    EXPECT_FALSE(IsStreamUrl("httpx://a"));
    EXPECT_FALSE(IsStreamUrl("/m/a.mp3"));
    EXPECT_EQ(StreamUrlProblem("https://h:8000/live"), "");
}

}  // namespace wl::test
