// Cover art on the desktop and in the tag panel: mpris:artUrl follows the
// playing entry (the cached embedded picture, the folder image, none), and
// while stopped the tag panel shows the selected entry's tags and art.
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QUrl>

#include <cstdlib>

#include "app/art_loader.h"
#include "app/playlist_view.h"
#include "tests/app/app_fixture.h"
#include "tests/stream_builder.h"
#include "tests/tag_builder.h"
#if WL_HAVE_DBUS
#include "tests/app/desktop_mpris_fixture.h"
#endif

namespace wl::test {

namespace {

// A 64x32 image in `format` ("PNG", "JPEG").
QByteArray Image(const char* format, QColor color = Qt::red) {
    QImage image(64, 32, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Four seconds of silent frames in `folder` under `home`, behind an ID3v2
// tag with a title, an artist and, when given, `picture` in an APIC frame.
QString ArtMp3(const QString& home, const QString& folder, const QString& name, const std::string& title,
               const QByteArray& picture = {}) {
    Id3v2TagBuilder tag(4);
    tag.Text("TIT2", title).Text("TPE1", "Artist");
    if (!picture.isEmpty()) {
        TagBytes body{0};
        AppendBytes(body, AsciiBytes("image/png"));
        AppendBytes(body, {0, 3, 0});
        body.insert(body.end(), picture.begin(), picture.end());
        tag.Frame("APIC", body);
    }
    TagBytes bytes = tag.Padding(16).Build();
    for (int i = 0; i < 4 * 44100 / 1152; ++i) AppendBytes(bytes, SilentFrameMpeg1(0, 0, 0));
    const QString path = home + folder + "/" + name;
    EXPECT_TRUE(WriteText(path, QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()))));
    return path;
}

QString FileUrl(const QString& path) { return QString::fromLatin1(QUrl::fromLocalFile(path).toEncoded()); }

// The art cache in the test's own folder.
class CacheHome {
public:
    explicit CacheHome(const QString& home) : saved_(qgetenv("XDG_CACHE_HOME")) {
        qputenv("XDG_CACHE_HOME", (home + "cache").toUtf8());
    }
    ~CacheHome() {
        if (saved_.isNull()) qunsetenv("XDG_CACHE_HOME"); else qputenv("XDG_CACHE_HOME", saved_);
    }

private:
    QByteArray saved_;
};

class TagPanelStopped : public AppFixture {};

}  // namespace

TEST(ArtScaling, AspectKeptAndCrispAtTwiceThePixelRatio) {
    QTemporaryDir dir;
    const QString path = dir.filePath("wide.png");
    ASSERT_TRUE(WriteText(path, Image("PNG")));
    const QImage once = LoadScaledArt(path, QSize(88, 88), 1.0);
    EXPECT_EQ(once.size(), QSize(88, 44));
    const QImage twice = LoadScaledArt(path, QSize(88, 88), 2.0);
    EXPECT_EQ(twice.size(), QSize(176, 88));
    EXPECT_EQ(twice.devicePixelRatio(), 2.0);
    EXPECT_EQ(twice.deviceIndependentSize().toSize(), QSize(88, 44));
    EXPECT_TRUE(LoadScaledArt(dir.filePath("missing.png"), QSize(88, 88), 1.0).isNull());
}

TEST_F(TagPanelStopped, ShowsTheSelectedEntrysTagsAndArt) {
    const CacheHome cache(Home());
    const QString art = ArtMp3(Home(), "a", "art.mp3", "With Art", Image("PNG"));
    const QString plain = ArtMp3(Home(), "b", "plain.mp3", "Without Art");
    const QString folder = ArtMp3(Home(), "c", "folder.mp3", "Folder Art");
    ASSERT_TRUE(WriteText(Home() + "c/FRONT.jpg", Image("JPEG", Qt::blue)));
    Create();
    for (const QString& path : {art, plain, folder}) form1->AddEntry(path);
    ASSERT_EQ(Ctl().State(), TPlayState::Stopped);

    const auto select = [&](int row, const char* title) {
        form1->sg1->setCurrentIndex(form1->sg1->model()->index(row, 0));
        return RunEventsUntil([&] { return form1->Edit2->text() == title && form1->ArtLoader->Idle(); });
    };
    ASSERT_TRUE(select(0, "With Art")) << form1->Edit2->text().toStdString();
    EXPECT_EQ(form1->Edit1->text(), "Artist");
    QPixmap shown = form1->ArtImage->pixmap();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.deviceIndependentSize().toSize(), QSize(88, 44));
    EXPECT_EQ(shown.toImage().pixelColor(40, 20), QColor(Qt::red));

    ASSERT_TRUE(select(1, "Without Art"));
    EXPECT_TRUE(form1->ArtImage->pixmap().isNull());

    ASSERT_TRUE(select(2, "Folder Art"));
    shown = form1->ArtImage->pixmap();
    ASSERT_FALSE(shown.isNull());
    const QColor blue = shown.toImage().pixelColor(40, 20);
    EXPECT_LT(blue.red(), 30);
    EXPECT_GT(blue.blue(), 220);
}

#if WL_HAVE_DBUS

using DesktopMprisArt = DesktopMprisFixture;

// The art's URL comes with the track it belongs to and goes with it.
TEST_F(DesktopMprisArt, ArtUrlSetAndRemovedAcrossTrackChanges) {
    const CacheHome cache(Home());
    const QByteArray picture = Image("PNG");
    const QString paths[] = {ArtMp3(Home(), "one", "a.mp3", "Embedded", picture),
                             ArtMp3(Home(), "two", "b.mp3", "Beside"), ArtMp3(Home(), "three", "c.mp3", "None")};
    ASSERT_TRUE(WriteText(Home() + "two/Cover.JPG", Image("JPEG")));
    for (const QString& path : paths) form1->AddEntry(path);
    Ctl().SetHoldMs(0);
    Ctl().PlayEntry(1);

    // The URL is in the same metadata as the track's title: it changes with the track.
    const auto metadataOf = [&](const char* title) {
        QVariantMap m;
        EXPECT_TRUE(RunEventsUntil([&] {
            m = client_->Metadata();
            return m.value("xesam:title").toString() == title;
        })) << title;
        return m;
    };
    QVariantMap m = metadataOf("Embedded");
    const QString cached = QUrl(m.value("mpris:artUrl").toString()).toLocalFile();
    EXPECT_TRUE(cached.startsWith(Home() + "cache/wavelantern/art/")) << cached.toStdString();
    EXPECT_TRUE(cached.endsWith(".png"));
    EXPECT_EQ(ReadAll(cached), picture);

    Ctl().Next();
    m = metadataOf("Beside");
    EXPECT_EQ(m.value("mpris:artUrl").toString(), FileUrl(Home() + "two/Cover.JPG"));

    Ctl().Next();
    m = metadataOf("None");
    EXPECT_FALSE(m.contains("mpris:artUrl"));

    // Played again, the picture is taken from the cache, not written again.
    const QDateTime written = QFileInfo(cached).lastModified();
    Ctl().PlayEntry(1);
    m = metadataOf("Embedded");
    EXPECT_EQ(QUrl(m.value("mpris:artUrl").toString()).toLocalFile(), cached);
    EXPECT_EQ(QDir(Home() + "cache/wavelantern/art").entryList(QDir::Files).size(), 1);
    EXPECT_GE(QFileInfo(cached).lastModified(), written);
}

#endif

}  // namespace wl::test
