// The skin reaches the panels' standard widgets, and the about panel's
// wandering picture never crosses a text.
#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "app/image_widget.h"
#include "tests/app/app_fixture.h"

namespace wl::test {

namespace {

// Mean brightness (0..255) of what the widget paints.
double MeanBrightness(QWidget* widget) {
    const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) sum += qGray(image.pixel(x, y));
    }
    return image.isNull() ? 0 : sum / (image.width() * image.height());
}

}  // namespace

TEST_F(AppFixture, DisplaySkinDarkensEveryStandardWidgetOfThePanels) {
    Create();
    TForm1& f = *form1;
    int checked = 0;
    for (QWidget* panel : {f.Panel2, f.Panel4, f.Panel17, f.Panel19}) {
        f.TogglePanel(panel);
        for (QWidget* w : panel->findChildren<QWidget*>()) {
            const bool standard = qobject_cast<QToolButton*>(w) || qobject_cast<QCheckBox*>(w) ||
                                  qobject_cast<QComboBox*>(w) || qobject_cast<QLineEdit*>(w);
            if (!standard || !w->isVisibleTo(&f)) continue;
            // Light grey standard widgets average far above 150.
            EXPECT_LT(MeanBrightness(w), 90) << w->metaObject()->className() << " " << w->objectName().toStdString();
            ++checked;
        }
        f.TogglePanel(panel);
    }
    EXPECT_GT(checked, 40);
    // The drop-down lists keep their arrow: strokes lighter than the frame at
    // their right end.
    f.TogglePanel(f.Panel4);
    for (QComboBox* box : {f.ComboBox1, f.ComboBox2}) {
        const QImage image = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const int from = image.width() - static_cast<int>(16 * image.devicePixelRatio());
        int light = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = std::max(from, 0); x < image.width(); ++x) light += qGray(image.pixel(x, y)) > 110;
        }
        EXPECT_GT(light, 4) << "no arrow on the " << (box == f.ComboBox1 ? "priority" : "ReplayGain") << " list";
    }
    f.TogglePanel(f.Panel4);
    // Text on them stays readable: light on dark.
    EXPECT_GT(qGray(f.SpeedButton19->palette().color(QPalette::ButtonText).rgb()), 150);
    EXPECT_GT(qGray(f.ComboBox1->palette().color(QPalette::Text).rgb()), 150);
}

TEST_F(AppFixture, DisplayAboutPictureLeavesTheTextsAlone) {
    Create();
    TForm1& f = *form1;
    f.TogglePanel(f.Panel3);
    std::vector<QRect> texts;
    for (QLabel* label : f.AboutLabels) {
        texts.push_back(label->fontMetrics()
                            .boundingRect(label->contentsRect(), static_cast<int>(label->alignment()), label->text())
                            .translated(label->pos()));
    }
    // Right over the texts, and at the lower right corner over a link.
    for (const QPoint at : {QPoint(130, 50), QPoint(263, 85)}) {
        f.Image6->move(at);
        f.Image6->hide();
        const QImage without = f.Panel3->grab().toImage();
        f.Image6->show();
        const QImage with = f.Panel3->grab().toImage();
        ASSERT_EQ(without.size(), with.size());
        EXPECT_NE(without, with);  // the picture is there
        const qreal dpr = with.devicePixelRatio();
        for (const QRect& text : texts) {
            const QRect px(text.topLeft() * dpr, text.size() * dpr);
            for (int y = px.top(); y <= px.bottom(); ++y) {
                for (int x = px.left(); x <= px.right(); ++x) {
                    ASSERT_EQ(without.pixel(x, y), with.pixel(x, y)) << "at " << x << "," << y;
                }
            }
        }
    }
}

}  // namespace wl::test
