// The about panel: the logo over a picture wandering across the panel, six
// texts and two links. The picture never crosses a text: it is left out
// around every text and the logo.
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QRegion>
#include <QStyle>

#include <vector>

#include "app/form1.h"
#include "app/image_widget.h"
#include "app/scramble.h"
#include "app/skin.h"

namespace wl {

namespace {

constexpr int kWanderMaxX = 263;
constexpr int kWanderMaxY = 85;

// One step of a bouncing coordinate.
void Bounce(int& v, bool& forward, int max) {
    if (forward) {
        if (v > max - 1) {
            --v;
            forward = false;
        } else {
            ++v;
        }
    } else if (v <= 0) {
        ++v;
        forward = true;
    } else {
        --v;
    }
}

// The wandering picture, painted only where no text of its panel lies.
class TWanderer : public TImage {
public:
    using TImage::TImage;
    std::vector<QPointer<QWidget>> KeepClear;  // texts and pictures the wanderer leaves alone

protected:
    void paintEvent(QPaintEvent*) override {
        QRegion visible(rect());
        for (const QPointer<QWidget>& other : KeepClear) {
            if (!other || other->isHidden()) continue;
            QRect area = other->geometry();
            if (auto* label = qobject_cast<QLabel*>(other.data()); label && !label->text().isEmpty()) {
                // The text itself, not the whole (panel-wide) label.
                const QRect text = label->fontMetrics().boundingRect(label->contentsRect(), static_cast<int>(label->alignment()),
                                                                     label->text());
                area = text.translated(label->pos());
            }
            visible -= QRegion(area.adjusted(-4, -2, 4, 2).translated(-pos()));
        }
        QPainter p(this);
        p.setClipRegion(visible);
        p.drawPixmap(0, 0, pixmap());
    }
};

}  // namespace

void TForm1::BuildAboutPanel() {
    if (!Panel3) return;
    Panel3->setAutoFillBackground(true);
    QPalette black = Panel3->palette();
    black.setColor(QPalette::Window, Qt::black);
    Panel3->setPalette(black);

    auto* wanderer = new TWanderer(Panel3);
    Image6 = wanderer;
    Image6->resize(kWandererSize);
    Image6->OnEnter = [this] { SetStatus(QStringLiteral("Tarnwick")); };

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    const TStoredText texts[] = {TStoredText::About1, TStoredText::About2, TStoredText::About3,
                                 TStoredText::About4, TStoredText::About5, TStoredText::About6};
    const char* names[] = {"Label11", "Label56", "Label57", "Label30", "Label29", "Label26"};
    for (size_t k = 0; k < AboutLabels.size(); ++k) {
        auto* label = new QLabel(StoredText(texts[k]), Panel3);
        label->setObjectName(QString::fromLatin1(names[k]));
        QFont f = font;
        if (k == 0) {
            f.setBold(true);
            f.setPixelSize(12);
        }
        label->setFont(f);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setGeometry(10, 56 + 15 * static_cast<int>(k), 350, 15);
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        SetTextColor(label, k == 0 ? 0xFFE0B0 : 0xAA8A42);
        AboutLabels[k] = label;
    }

    auto link = [&](const QString& caption, TStoredText address, int x) {
        auto* label = new TImage(Panel3);
        QFont f = font;
        f.setUnderline(true);
        label->setFont(f);
        label->setText(caption);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setGeometry(x, 154, 160, 16);
        label->setCursor(Qt::PointingHandCursor);
        SetTextColor(label, 0xFFD080);
        label->OnClick = [address] { OpenStoredAddress(address); };
        return label;
    };
    Label28 = link(QStringLiteral("Send your suggestions"), TStoredText::LinkSuggestions, 18);
    Label27 = link(QStringLiteral("Check for new version"), TStoredText::LinkNewVersion, 192);

    Image5 = new TImage(Panel3);
    Image5->setGeometry((370 - kLogoSize.width()) / 2, 8, kLogoSize.width(), kLogoSize.height());
    Image5->setCursor(Qt::PointingHandCursor);
    Image5->OnEnter = [this] { SetStatus(QStringLiteral("Tarnwick")); };
    Image5->OnClick = [] { OpenStoredAddress(TStoredText::LinkHome); };
    for (QWidget* text : AboutLabels) wanderer->KeepClear.emplace_back(text);
    for (QWidget* other : {static_cast<QWidget*>(Label27), static_cast<QWidget*>(Label28), static_cast<QWidget*>(Image5)}) {
        wanderer->KeepClear.emplace_back(other);
    }
    StartAboutAnimation();
}

void TForm1::StartAboutAnimation() {
    WanderX = 40;
    WanderY = 16;
    WanderRight = true;
    WanderDown = true;
    if (Image6) Image6->move(WanderX, WanderY);
}

void TForm1::AboutTick() {
    // The logo blinks twice after the panel opens.
    if (Image5 && MeterTicks >= 2 && MeterTicks <= 8 && MeterTicks % 2 == 0) {
        Image5->setVisible(MeterTicks == 4 || MeterTicks == 8);
    }
    Bounce(WanderX, WanderRight, kWanderMaxX);
    Bounce(WanderY, WanderDown, kWanderMaxY);
    if (Image6) Image6->move(WanderX, WanderY);
}

}  // namespace wl
