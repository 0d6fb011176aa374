// Pictures of the display, the equalizer and about panels and the saver for
// a look by eye: written only when WL_SCREENSHOT_DIR names a folder
// (scripts/screenshots.sh).
#include <QDir>
#include <QImage>

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

    f.SpeedButton16Click();
    f.SpeedButton12->click();
    f.Panel2->show();
    ASSERT_TRUE(f.grab().save(out.filePath("equalizer.png")));
    f.Panel2->hide();

    f.Panel3->show();
    for (int k = 0; k < 30; ++k) f.Timer1Timer();
    ASSERT_TRUE(f.grab().save(out.filePath("about.png")));

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
