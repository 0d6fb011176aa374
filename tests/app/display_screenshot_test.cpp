// Pictures of the display, every panel and the saver: each state drawn has
// the window's size and looks different from the others. With
// WL_SCREENSHOT_DIR naming a folder they are also written there for a look
// by eye (scripts/screenshots.sh).
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>

#include <algorithm>
#include <iterator>
#include <map>
#include <string>

#include "app/form2.h"
#include "app/playlist_view.h"
#include "tests/app/app_fixture.h"
#include "tests/app/display_support.h"

namespace wl::test {

namespace {

// The pictures taken, by name, written out when asked for.
class TPictures {
public:
    TPictures() : dir_(QString::fromLocal8Bit(qgetenv("WL_SCREENSHOT_DIR"))) {}
    void Take(const std::string& name, const QPixmap& picture) {
        pictures_[name] = picture.toImage();
        sizes_[name] = picture.deviceIndependentSize().toSize();
        if (!dir_.isEmpty()) {
            EXPECT_TRUE(picture.save(QDir(dir_).filePath(QString::fromStdString(name) + ".png"))) << name;
        }
    }
    QSize Size(const std::string& name) const { return sizes_.at(name); }
    bool Differ(const std::string& a, const std::string& b) const { return pictures_.at(a) != pictures_.at(b); }
    // More than one colour in the picture: something was drawn.
    bool Drawn(const std::string& name) const {
        const QImage& image = pictures_.at(name);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) != image.pixel(0, 0)) return true;
            }
        }
        return false;
    }

private:
    QString dir_;
    std::map<std::string, QImage> pictures_;
    std::map<std::string, QSize> sizes_;
};

}  // namespace

TEST_F(AppFixture, DisplayScreenshots) {
    TPictures pictures;
    Create();
    TForm1& f = *form1;
    ASSERT_NO_FATAL_FAILURE(CompleteFrame(f));
    TFixedLevels* levels = UseFixedLevels(f);
    levels->Left = 26000;
    levels->Right = 14000;
    for (int k = 0; k < 12; ++k) f.Timer1Timer();
    levels->Left = 9000;
    levels->Right = 11000;
    for (int k = 0; k < 9; ++k) f.Timer1Timer();
    f.TitleText = QStringLiteral("Nightfall Harbour - The Long Way Home (live)");
    f.DrawTitle(f.TitleText, false, 0xFFFF00);
    f.Label2->setText(QStringLiteral("3 - 12"));
    f.Label6->setText(QStringLiteral("192Kbps, 44Khz"));
    f.Label8->setText(QStringLiteral("04:17"));
    f.ShowPosition(83000, 257000);
    f.Label5->setText(QStringLiteral("20:41:07"));
    f.SetStatus(QStringLiteral("Volume 80"));
    f.Settings.EqualizerOn = 100;
    f.Settings.RepeatPlay = 1;
    f.ShowIndicators();
    f.SetStatePicture(TStatePicture::Play);
    TForm1::SetTextColor(f.Label4, kLampLitColor);
    TForm1::SetTextColor(f.Label9, kLampLitColor);
    pictures.Take("display", f.grab(QRect(0, 0, kWindowWidth, kPanelHeight)));

    f.DrawBanner();
    pictures.Take("display_banner", f.grab(QRect(0, 0, kWindowWidth, kPanelHeight)));

    // A long error, cut at a word before the state picture.
    f.ShowError(QStringLiteral("cannot write /tmp/out.wav: No space left on device(TSoundOut.WaveWrite)"));
    f.SetStatePicture(TStatePicture::End);
    pictures.Take("display_error", f.grab(QRect(0, 0, kWindowWidth, kPanelHeight)));

    f.SpeedButton16Click();
    f.SpeedButton12->click();
    f.TogglePanel(f.Panel2);
    pictures.Take("equalizer", f.grab());
    f.TogglePanel(f.Panel2);

    f.TogglePanel(f.Panel3);
    for (int k = 0; k < 30; ++k) f.Timer1Timer();
    pictures.Take("about", f.grab());
    // The wandering picture at its lowest and rightmost place.
    f.WanderX = 263;
    f.WanderY = 85;
    f.Image6->move(f.WanderX, f.WanderY);
    pictures.Take("about_corner", f.grab());
    f.TogglePanel(f.Panel3);

    f.TogglePanel(f.Panel4);
    pictures.Take("options", f.grab());
    f.TogglePanel(f.Panel4);

    for (const char* name : {"Nightfall Harbour - The Long Way Home (live)", "Glass Rivers", "Copper Sky",
                             "Lanterns on the Water", "Static Bloom", "Northbound", "Last Light"}) {
        f.AddEntry(QStringLiteral("/music/%1.mp3").arg(QString::fromLatin1(name)));
    }
    f.sg1->selectRow(1);
    f.UpdateScrollButtons();
    f.TogglePanel(f.Panel19);
    pictures.Take("playlist", f.grab());
    f.TogglePanel(f.Panel19);

    f.Edit7->setText(QStringLiteral("MPEG 1, Layer 3, Stereo"));
    f.Edit1->setText(QStringLiteral("Nightfall Harbour"));
    f.Edit2->setText(QStringLiteral("The Long Way Home (live)"));
    f.Edit4->setText(QStringLiteral("Harbour Nights"));
    f.Edit3->setText(QStringLiteral("Recorded at the pier"));
    f.Edit5->setText(QStringLiteral("2019"));
    f.Edit6->setText(QStringLiteral("Rock"));
    f.Edit8->setText(QStringLiteral("7"));
    f.TogglePanel(f.Panel17);
    pictures.Take("tags", f.grab());
    f.TogglePanel(f.Panel17);

    form2->SetScreenSize(QSize(800, 260));
    f.DrawTitle(QStringLiteral("Nightfall Harbour - The Long Way Home (live)"), false, 0xFFFF00);
    f.TitleText = QStringLiteral("Nightfall Harbour - The Long Way Home (live)");
    f.FormatTime(83000);
    form2->FormShow();
    for (int k = 0; k < 30; ++k) form2->Timer1Timer();
    pictures.Take("saver", form2->grab());
    form2->FormHide();

    const QSize display(kWindowWidth, kPanelHeight);
    const QSize open(kWindowWidth, 2 * kPanelHeight);
    for (const char* name : {"display", "display_banner", "display_error"}) {
        EXPECT_EQ(pictures.Size(name), display) << name;
    }
    const char* panels[] = {"equalizer", "about", "options", "playlist", "tags"};
    for (const char* name : panels) EXPECT_EQ(pictures.Size(name), open) << name;
    EXPECT_EQ(pictures.Size("about_corner"), open);
    EXPECT_EQ(pictures.Size("saver"), QSize(800, 260));

    EXPECT_TRUE(pictures.Differ("display", "display_banner"));
    EXPECT_TRUE(pictures.Differ("display", "display_error"));
    EXPECT_TRUE(pictures.Differ("display_banner", "display_error"));
    for (size_t a = 0; a < std::size(panels); ++a) {
        for (size_t b = a + 1; b < std::size(panels); ++b) {
            EXPECT_TRUE(pictures.Differ(panels[a], panels[b])) << panels[a] << " and " << panels[b];
        }
    }
    EXPECT_TRUE(pictures.Differ("about", "about_corner")) << "the wandering picture moved";
    EXPECT_TRUE(pictures.Drawn("saver"));
}

// The playlist panel made taller, scrolled into a long list: the scroll bar
// with its handle, a greyed entry that cannot play, a long name elided.
TEST_F(AppFixture, TallPlaylistScreenshot) {
    TPictures pictures;
    Create();
    TForm1& f = *form1;
    ASSERT_NO_FATAL_FAILURE(CompleteFrame(f));
    f.show();  // the start's own list first
    std::vector<TPlaylistEntry> entries(120);
    for (int i = 0; i < 120; ++i) entries[i].Path = QStringLiteral("/music/Track %1.mp3").arg(i + 1);
    entries[33].Path = QStringLiteral("/music/Nightfall Harbour - The Long Way Home (live at the pier, 2019 remaster).mp3");
    f.Playlist.AddEntries(entries);
    f.Playlist.SetProblem(36, QStringLiteral("File not found"));
    f.SetPlaylistRows(14);
    f.TogglePanel(f.Panel19);
    f.SetTopRow(30);
    f.SelectListRow(34);
    QCoreApplication::processEvents();
    const QPixmap shot = f.grab();
    pictures.Take("playlist_tall", shot);
    EXPECT_EQ(pictures.Size("playlist_tall"), QSize(kWindowWidth, 2 * kPanelHeight + 8 * 16));
    // The scroll bar's handle stands out from its track, about a quarter down.
    const QImage image = shot.toImage();
    const qreal dpr = shot.devicePixelRatio();
    const QRect bar(f.sg1->mapTo(&f, QPoint(f.sg1->width() - 6, 0)), QSize(1, f.sg1->height()));
    QList<QRgb> column;
    for (int y = bar.top(); y <= bar.bottom(); ++y) column.append(image.pixel(qRound(bar.x() * dpr), qRound(y * dpr)));
    const QRgb track = column.back();
    const auto first = std::find_if(column.begin(), column.end(), [&](QRgb c) { return c != track; });
    ASSERT_NE(first, column.end()) << "no handle drawn";
    EXPECT_GT(first - column.begin(), bar.height() / 8);
    EXPECT_LT(first - column.begin(), bar.height() / 2);
}

}  // namespace wl::test
