// Pictures of the display, every panel and the saver for a look by eye: written only when WL_SCREENSHOT_DIR names a folder
// (scripts/screenshots.sh).
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QTableWidget>

#include "app/form2.h"
#include "tests/app/app_fixture.h"
#include "tests/app/display_support.h"

namespace wl::test {

TEST_F(AppFixture, DisplayScreenshots) {
    const QByteArray dir = qgetenv("WL_SCREENSHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "set WL_SCREENSHOT_DIR to write the pictures";
    Create();
    TForm1& f = *form1;
    CompleteFrame(f);
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
    const QDir out(QString::fromLocal8Bit(dir));
    ASSERT_TRUE(f.grab(QRect(0, 0, kWindowWidth, kPanelHeight)).save(out.filePath("display.png")));

    f.DrawBanner();
    ASSERT_TRUE(f.grab(QRect(0, 0, kWindowWidth, kPanelHeight)).save(out.filePath("display_banner.png")));

    // A long error, cut at a word before the state picture.
    f.ShowError(QStringLiteral("cannot write /tmp/out.wav: No space left on device(waveOutWrite)"));
    f.SetStatePicture(TStatePicture::End);
    ASSERT_TRUE(f.grab(QRect(0, 0, kWindowWidth, kPanelHeight)).save(out.filePath("display_error.png")));

    f.SpeedButton16Click();
    f.SpeedButton12->click();
    f.TogglePanel(f.Panel2);
    ASSERT_TRUE(f.grab().save(out.filePath("equalizer.png")));
    f.TogglePanel(f.Panel2);

    f.TogglePanel(f.Panel3);
    for (int k = 0; k < 30; ++k) f.Timer1Timer();
    ASSERT_TRUE(f.grab().save(out.filePath("about.png")));
    // The wandering picture at its lowest and rightmost place.
    f.WanderX = 263;
    f.WanderY = 85;
    f.Image6->move(f.WanderX, f.WanderY);
    ASSERT_TRUE(f.grab().save(out.filePath("about_corner.png")));
    f.TogglePanel(f.Panel3);

    f.TogglePanel(f.Panel4);
    ASSERT_TRUE(f.grab().save(out.filePath("options.png")));
    f.TogglePanel(f.Panel4);

    for (const char* name : {"Nightfall Harbour - The Long Way Home (live)", "Glass Rivers", "Copper Sky",
                             "Lanterns on the Water", "Static Bloom", "Northbound", "Last Light"}) {
        f.AddEntry(QStringLiteral("/music/%1.mp3").arg(QString::fromLatin1(name)));
    }
    f.sg1->selectRow(1);
    f.UpdateScrollButtons();
    f.TogglePanel(f.Panel19);
    ASSERT_TRUE(f.grab().save(out.filePath("playlist.png")));
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
    ASSERT_TRUE(f.grab().save(out.filePath("tags.png")));
    f.TogglePanel(f.Panel17);

    form2->SetScreenSize(QSize(800, 260));
    f.DrawTitle(QStringLiteral("Nightfall Harbour - The Long Way Home (live)"), false, 0xFFFF00);
    f.TitleText = QStringLiteral("Nightfall Harbour - The Long Way Home (live)");
    f.FormatTime(83000);
    form2->FormShow();
    for (int k = 0; k < 30; ++k) form2->Timer1Timer();
    ASSERT_TRUE(form2->grab().save(out.filePath("saver.png")));
    form2->FormHide();
}

}  // namespace wl::test
