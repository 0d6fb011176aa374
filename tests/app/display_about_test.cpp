// The about panel and the stored texts: unscrambling, the links, the logo's
// blink and the wandering picture.
#include <QLabel>
#include <QUrl>

#include "app/image_widget.h"
#include "app/scramble.h"
#include "tests/app/app_fixture.h"

namespace wl::test {

TEST(DisplayScramble, AlternatesTheKeyAndItsSuccessor) {
    // Odd positions use key + 1, even positions the key.
    const QByteArray plain("Abc");
    const QByteArray scrambled = UnscrambleBytes(plain, 0x10);
    EXPECT_EQ(scrambled, QByteArray("\x50\x72\x72"));  // 'A'^0x11, 'b'^0x10, 'c'^0x11
    EXPECT_EQ(Unscramble(scrambled, 0x10), "Abc");
    // Key 255: the odd positions use 0.
    EXPECT_EQ(UnscrambleBytes("ab", static_cast<uint8_t>(0xFF)), QByteArray("a\x9d"));
}

TEST(DisplayScramble, StoredTextsReadBack) {
    EXPECT_EQ(StoredText(TStoredText::LinkSuggestions), "https://wavelantern.org/feedback");
    EXPECT_EQ(StoredText(TStoredText::LinkNewVersion), "https://wavelantern.org/download");
    EXPECT_EQ(StoredText(TStoredText::About1), "Wavelantern 2.1");
    EXPECT_EQ(StoredText(TStoredText::Banner), StoredText(TStoredText::SaverBanner));
    EXPECT_NE(StoredText(TStoredText::SaverIdle), StoredText(TStoredText::Banner));
    EXPECT_FALSE(StoredText(TStoredText::DefaultStatus).isEmpty());
}

class AboutFixture : public AppFixture {
protected:
    void SetUp() override {
        AppFixture::SetUp();
        SetUrlOpener([this](const QUrl& url) { opened.push_back(url.toString()); });
    }
    void TearDown() override {
        SetUrlOpener({});
        AppFixture::TearDown();
    }
    QStringList opened;
};

TEST_F(AboutFixture, DisplayAboutTextsAndLinks) {
    Create();
    TForm1& f = *form1;
    for (QLabel* label : f.AboutLabels) {
        ASSERT_NE(label, nullptr);
        EXPECT_FALSE(label->text().isEmpty());
    }
    EXPECT_EQ(f.AboutLabels[0]->objectName(), "Label11");
    EXPECT_EQ(f.Label28->text(), "Send your suggestions");
    EXPECT_EQ(f.Label27->text(), "Check for new version");
    qobject_cast<TImage*>(f.Label28)->OnClick();
    qobject_cast<TImage*>(f.Label27)->OnClick();
    f.Image5->OnClick();
    EXPECT_EQ(opened, QStringList({"https://wavelantern.org/feedback", "https://wavelantern.org/download",
                                   "https://wavelantern.org/"}));
    f.Image5->OnEnter();
    EXPECT_EQ(f.StatusText, "Tarnwick");
    f.SetStatus("x");
    f.Image6->OnEnter();
    EXPECT_EQ(f.StatusText, "Tarnwick");
}

TEST_F(AboutFixture, DisplayAboutLogoBlinksAfterOpening) {
    Create();
    TForm1& f = *form1;
    f.Panel3->show();
    f.MeterTicks = 0;
    std::vector<bool> hidden;
    for (int k = 1; k <= 10; ++k) {
        f.Timer1Timer();
        hidden.push_back(f.Image5->isHidden());
    }
    EXPECT_EQ(hidden, (std::vector<bool>{false, true, true, false, false, true, true, false, false, false}));
}

TEST_F(AboutFixture, DisplayWanderingPictureBouncesInsideThePanel) {
    Create();
    TForm1& f = *form1;
    EXPECT_EQ(f.Image6->pos(), QPoint(40, 16));
    // Hidden panel: no animation.
    f.Timer1Timer();
    EXPECT_EQ(f.WanderX, 40);
    f.Panel3->show();
    int maxX = 0, maxY = 0, minX = 1000, minY = 1000;
    std::vector<int> xs;
    for (int k = 0; k < 1200; ++k) {
        f.Timer1Timer();
        xs.push_back(f.WanderX);
        maxX = std::max(maxX, f.WanderX);
        maxY = std::max(maxY, f.WanderY);
        minX = std::min(minX, f.WanderX);
        minY = std::min(minY, f.WanderY);
        ASSERT_EQ(f.Image6->pos(), QPoint(f.WanderX, f.WanderY));
    }
    EXPECT_EQ(maxX, 263);
    EXPECT_EQ(maxY, 85);
    EXPECT_EQ(minX, 0);
    EXPECT_EQ(minY, 0);
    // One pixel per tick: 41 .. 263 forward, then back.
    EXPECT_EQ(xs[0], 41);
    EXPECT_EQ(xs[222], 263);
    EXPECT_EQ(xs[223], 262);
    f.StartAboutAnimation();
    EXPECT_EQ(f.Image6->pos(), QPoint(40, 16));
    EXPECT_TRUE(f.WanderRight && f.WanderDown);
}

}  // namespace wl::test
