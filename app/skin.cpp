#include "app/skin.h"

#include <QEvent>
#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <QtMath>

#include <utility>

#include "controls/ex_track_bar.h"

namespace wl {

namespace {

// The palette of the skin.
const QColor kBodyTop(0x26, 0x2b, 0x3d);
const QColor kBodyBottom(0x12, 0x15, 0x1f);
const QColor kEdgeDark(0x07, 0x08, 0x0d);
const QColor kEdgeLight(0x48, 0x51, 0x6d);
const QColor kGlyph(0xc4, 0xd3, 0xea);
const QColor kGlyphShadow(0, 0, 0, 150);
const QColor kBrand(0x7d, 0x8d, 0xad);

QColor Lit() { return ColorToQColor(kLitColor); }
QColor Unlit() { return ColorToQColor(kUnlitColor); }

// A transparent pixmap of `size` logical pixels at `dpr`.
QPixmap Blank(QSize size, qreal dpr) {
    QPixmap pm(size * dpr);
    pm.setDevicePixelRatio(dpr);
    pm.fill(Qt::transparent);
    return pm;
}

void Antialiased(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
}

QFont SmallFont(int pixelSize, bool bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

void FillBody(QPainter& p, QRectF r) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, kBodyTop);
    g.setColorAt(1, kBodyBottom);
    p.fillRect(r, g);
    // Fine horizontal brushing, barely visible.
    p.setPen(QColor(255, 255, 255, 6));
    for (qreal y = r.top() + 1; y < r.bottom(); y += 2) p.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
}

// A recessed area: dark upper edge, light lower edge, black inside.
void Recess(QPainter& p, QRectF outer, qreal radius, const QColor& inside) {
    QLinearGradient rim(outer.topLeft(), outer.bottomLeft());
    rim.setColorAt(0, kEdgeDark);
    rim.setColorAt(1, kEdgeLight);
    p.setPen(Qt::NoPen);
    p.setBrush(rim);
    p.drawRoundedRect(outer, radius, radius);
    p.setBrush(inside);
    p.drawRoundedRect(outer.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1, radius - 1);
}

// Calls the skin's painter again when the window moves to a screen of
// another pixel density.
class TSkinRefresher : public QObject {
public:
    static constexpr const char* kName = "SkinRefresher";
    TSkinRefresher(QWidget* window, std::function<void()> apply)
        : QObject(window), window_(window), apply_(std::move(apply)) {
        setObjectName(QString::fromLatin1(kName));
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == window_ && event->type() == QEvent::ScreenChangeInternal) {
            QTimer::singleShot(0, window_, apply_);
        }
        return false;
    }

private:
    QWidget* window_;
    std::function<void()> apply_;
};

}  // namespace

QPixmap SkinBackground(QSize size, qreal dpr) {
    QPixmap pm = Blank(size, dpr);
    QPainter p(&pm);
    Antialiased(p);
    const QRectF all(0, 0, size.width(), size.height());
    FillBody(p, all);
    // Outer edge: light on top and left, dark below and right.
    p.setPen(kEdgeLight);
    p.drawLine(QPointF(0.5, 0.5), QPointF(all.width() - 0.5, 0.5));
    p.drawLine(QPointF(0.5, 0.5), QPointF(0.5, all.height() - 0.5));
    p.setPen(kEdgeDark);
    p.drawLine(QPointF(all.width() - 0.5, 0.5), QPointF(all.width() - 0.5, all.height() - 0.5));

    // Display bezel around the display panel (20, 20, 330 x 125).
    Recess(p, QRectF(15, 15, 340, 135), 6, QColor(0x05, 0x06, 0x0a));
    p.fillRect(QRectF(20, 20, 330, 125), Qt::black);
    // A soft blue sheen along the top of the glass.
    QLinearGradient sheen(QPointF(0, 17), QPointF(0, 24));
    sheen.setColorAt(0, QColor(0x40, 0x70, 0xa0, 60));
    sheen.setColorAt(1, QColor(0x40, 0x70, 0xa0, 0));
    p.fillRect(QRectF(18, 17, 334, 7), sheen);

    // Brand line above the bezel.
    p.setFont(SmallFont(8, true));
    p.setPen(kBrand);
    QFont brand = SmallFont(8, true);
    brand.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    p.setFont(brand);
    p.drawText(QRectF(22, 2, 200, 12), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("WAVELANTERN"));
    p.setFont(SmallFont(8, false));
    p.drawText(QRectF(118, 2, 40, 12), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("2.1"));

    // Transport groove under the display.
    Recess(p, QRectF(10, 152, 350, 24), 5, QColor(0x0d, 0x10, 0x18));
    return pm;
}

QPixmap SkinPanelBackground(QSize size, QRect recess, qreal dpr) {
    QPixmap pm = Blank(size, dpr);
    QPainter p(&pm);
    Antialiased(p);
    FillBody(p, QRectF(0, 0, size.width(), size.height()));
    p.setPen(QColor(0, 0, 0, 120));
    p.drawLine(QPointF(0, 0.5), QPointF(size.width(), 0.5));
    if (!recess.isEmpty()) Recess(p, QRectF(recess).adjusted(-4, -4, 4, 4), 6, Qt::black);
    return pm;
}

QPixmap SkinIcon(TSkinIcon icon, qreal dpr) {
    QPixmap pm = Blank(QSize(16, 16), dpr);
    QPainter p(&pm);
    Antialiased(p);
    // Everything twice: a shadow one pixel down, then the glyph.
    for (int pass = 0; pass < 2; ++pass) {
        const QColor c = pass == 0 ? kGlyphShadow : kGlyph;
        p.save();
        if (pass == 0) p.translate(0, 1);
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        QPen line(c, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        switch (icon) {
        case TSkinIcon::Play:
            p.drawPolygon(QPolygonF({QPointF(4.5, 2.5), QPointF(13, 8), QPointF(4.5, 13.5)}));
            break;
        case TSkinIcon::Pause:
            p.drawRoundedRect(QRectF(4, 3, 3, 10), 0.8, 0.8);
            p.drawRoundedRect(QRectF(9, 3, 3, 10), 0.8, 0.8);
            break;
        case TSkinIcon::Stop:
            p.drawRoundedRect(QRectF(3.5, 3.5, 9, 9), 1.2, 1.2);
            break;
        case TSkinIcon::Previous:
            p.drawRect(QRectF(3, 3.5, 2, 9));
            p.drawPolygon(QPolygonF({QPointF(13, 3.5), QPointF(5.5, 8), QPointF(13, 12.5)}));
            break;
        case TSkinIcon::Next:
            p.drawRect(QRectF(11, 3.5, 2, 9));
            p.drawPolygon(QPolygonF({QPointF(3, 3.5), QPointF(10.5, 8), QPointF(3, 12.5)}));
            break;
        case TSkinIcon::Open:
            p.drawPolygon(QPolygonF({QPointF(2.5, 9.5), QPointF(8, 3), QPointF(13.5, 9.5)}));
            p.drawRoundedRect(QRectF(2.5, 11, 11, 2.2), 0.6, 0.6);
            break;
        case TSkinIcon::Settings: {
            QPainterPath gear;
            const QPointF c0(8, 8);
            for (int k = 0; k < 8; ++k) {
                QTransform t;
                t.translate(c0.x(), c0.y());
                t.rotate(k * 45.0);
                QPainterPath tooth;
                tooth.addRoundedRect(QRectF(-1.4, -7, 2.8, 3.5), 0.5, 0.5);
                gear.addPath(t.map(tooth));
            }
            gear.addEllipse(c0, 4.8, 4.8);
            QPainterPath hole;
            hole.addEllipse(c0, 2, 2);
            p.drawPath(gear.simplified().subtracted(hole));
            break;
        }
        case TSkinIcon::Equalizer:
            p.setPen(QPen(c, 1.2, Qt::SolidLine, Qt::RoundCap));
            for (int k = 0; k < 3; ++k) p.drawLine(QPointF(3.5 + 4.5 * k, 2.5), QPointF(3.5 + 4.5 * k, 13.5));
            p.setPen(Qt::NoPen);
            p.drawRoundedRect(QRectF(1.7, 8.5, 3.6, 2.6), 0.8, 0.8);
            p.drawRoundedRect(QRectF(6.2, 4, 3.6, 2.6), 0.8, 0.8);
            p.drawRoundedRect(QRectF(10.7, 10, 3.6, 2.6), 0.8, 0.8);
            break;
        case TSkinIcon::About:
            p.setPen(line);
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QPointF(8, 8), 6, 6);
            p.setPen(Qt::NoPen);
            p.setBrush(c);
            p.drawEllipse(QPointF(8, 5), 1.1, 1.1);
            p.drawRoundedRect(QRectF(7.1, 7, 1.8, 5), 0.6, 0.6);
            break;
        case TSkinIcon::Playlist:
            for (int k = 0; k < 3; ++k) {
                p.drawEllipse(QPointF(3.5, 4 + 4 * k), 1.3, 1.3);
                p.drawRoundedRect(QRectF(6, 3 + 4 * k, 8, 2), 0.6, 0.6);
            }
            break;
        case TSkinIcon::Tag: {
            QPainterPath tag;
            tag.moveTo(2, 4);
            tag.lineTo(10, 4);
            tag.lineTo(14.5, 8);
            tag.lineTo(10, 12);
            tag.lineTo(2, 12);
            tag.closeSubpath();
            QPainterPath hole;
            hole.addEllipse(QPointF(10.3, 8), 1.2, 1.2);
            p.drawPath(tag.subtracted(hole));
            if (pass == 1) {
                p.setPen(QPen(QColor(0x12, 0x15, 0x1f), 1.2));
                p.drawLine(QPointF(4, 6.5), QPointF(7.5, 6.5));
                p.drawLine(QPointF(4, 9.5), QPointF(7.5, 9.5));
            }
            break;
        }
        }
        p.restore();
    }
    return pm;
}

QPixmap SkinStatePicture(TStatePicture picture, qreal dpr) {
    QPixmap pm = Blank(QSize(40, 9), dpr);
    pm.fill(Qt::black);
    QPainter p(&pm);
    Antialiased(p);
    const QColor c = Lit();
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    QString text;
    switch (picture) {
    case TStatePicture::Play:
        p.drawPolygon(QPolygonF({QPointF(1, 1), QPointF(8, 4.5), QPointF(1, 8)}));
        text = QStringLiteral("PLAY");
        break;
    case TStatePicture::Pause:
        p.drawRect(QRectF(1.5, 1, 2.2, 7));
        p.drawRect(QRectF(5.3, 1, 2.2, 7));
        text = QStringLiteral("PAUSE");
        break;
    case TStatePicture::Stop:
        p.drawRect(QRectF(1.5, 1.5, 6, 6));
        text = QStringLiteral("STOP");
        break;
    case TStatePicture::Previous:
        p.drawRect(QRectF(1, 1, 1.5, 7));
        p.drawPolygon(QPolygonF({QPointF(8, 1), QPointF(3, 4.5), QPointF(8, 8)}));
        text = QStringLiteral("PREV");
        break;
    case TStatePicture::Next:
        p.drawRect(QRectF(6.5, 1, 1.5, 7));
        p.drawPolygon(QPolygonF({QPointF(1, 1), QPointF(6, 4.5), QPointF(1, 8)}));
        text = QStringLiteral("NEXT");
        break;
    case TStatePicture::End:
        p.drawRect(QRectF(1.5, 1.5, 6, 6));
        p.setBrush(Qt::black);
        p.drawRect(QRectF(3.2, 3.2, 2.6, 2.6));
        text = QStringLiteral("END");
        break;
    }
    p.setPen(c);
    p.setFont(SmallFont(8, true));
    p.drawText(QRectF(10, -1, 30, 11), Qt::AlignLeft | Qt::AlignVCenter, text);
    return pm;
}

QPixmap SkinIndicatorPicture(TSkinIndicator which, bool on, qreal dpr) {
    QPixmap pm = Blank(QSize(12, 9), dpr);
    pm.fill(Qt::black);
    QPainter p(&pm);
    Antialiased(p);
    const QColor c = on ? Lit().lighter(135) : Unlit();
    QPen pen(c, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    switch (which) {
    case TSkinIndicator::Equalizer:
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawRect(QRectF(1, 4, 2, 4));
        p.drawRect(QRectF(4, 1, 2, 7));
        p.drawRect(QRectF(7, 3, 2, 5));
        p.drawRect(QRectF(10, 5, 1.5, 3));
        break;
    case TSkinIndicator::Random:
        p.drawLine(QPointF(1, 7), QPointF(10, 2));
        p.drawLine(QPointF(1, 2), QPointF(10, 7));
        p.drawLine(QPointF(10, 2), QPointF(8, 1.5));
        p.drawLine(QPointF(10, 2), QPointF(9.3, 4));
        p.drawLine(QPointF(10, 7), QPointF(8, 7.5));
        p.drawLine(QPointF(10, 7), QPointF(9.3, 5));
        break;
    case TSkinIndicator::Repeat:
        p.drawRoundedRect(QRectF(1.5, 1.5, 9, 6), 2, 2);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRect(QRectF(4, 6, 3, 3));
        p.setBrush(c);
        p.drawPolygon(QPolygonF({QPointF(3.5, 5.5), QPointF(6.5, 7.5), QPointF(3.5, 9)}));
        break;
    }
    return pm;
}

QPixmap SkinLogo(qreal dpr) {
    QPixmap pm = Blank(kLogoSize, dpr);
    QPainter p(&pm);
    Antialiased(p);
    // The lantern: a rounded glass with a wave inside.
    const QRectF glass(6, 5, 26, 30);
    QRadialGradient glow(glass.center(), 18);
    glow.setColorAt(0, QColor(0x7f, 0xd8, 0xff, 230));
    glow.setColorAt(1, QColor(0x1a, 0x4a, 0x80, 200));
    p.setPen(QPen(kGlyph, 1.4));
    p.setBrush(glow);
    p.drawRoundedRect(glass, 8, 8);
    p.drawLine(QPointF(13, 3), QPointF(25, 3));
    QPainterPath wave;
    wave.moveTo(9, 20);
    for (int k = 0; k <= 20; ++k) {
        const qreal x = 9 + k;
        wave.lineTo(x, 20 - 6 * qSin(k / 20.0 * 2 * M_PI) * (1 - qAbs(k - 10) / 14.0));
    }
    p.setPen(QPen(QColor(0x0b, 0x18, 0x30), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    // The word.
    QFont f = SmallFont(19, true);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
    p.setFont(f);
    QLinearGradient ink(QPointF(0, 8), QPointF(0, 32));
    ink.setColorAt(0, QColor(0xe8, 0xf2, 0xff));
    ink.setColorAt(1, QColor(0x6f, 0xa8, 0xd8));
    p.setPen(QPen(QBrush(ink), 1));
    p.drawText(QRectF(38, 0, 142, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Wavelantern"));
    p.setFont(SmallFont(9, false));
    p.setPen(kBrand);
    p.drawText(QRectF(39, 27, 142, 12), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("version 2.1"));
    return pm;
}

QPixmap SkinWanderer(qreal dpr) {
    QPixmap pm = Blank(kWandererSize, dpr);
    QPainter p(&pm);
    Antialiased(p);
    const QPointF c(kWandererSize.width() / 2.0, kWandererSize.height() / 2.0);
    QRadialGradient halo(c, 48);
    halo.setColorAt(0, QColor(0x30, 0x70, 0xc0, 90));
    halo.setColorAt(0.6, QColor(0x20, 0x40, 0x90, 35));
    halo.setColorAt(1, QColor(0x10, 0x20, 0x50, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(c, 48, 48);
    // Rings of sound spreading out.
    p.setBrush(Qt::NoBrush);
    for (int k = 1; k <= 4; ++k) {
        p.setPen(QPen(QColor(0x60, 0xa0, 0xe0, 110 - 22 * k), 1.2));
        p.drawEllipse(c, 9.0 * k + 4, 9.0 * k + 4);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xb0, 0xe0, 0xff, 110));
    p.drawEllipse(c, 5, 5);
    return pm;
}

void StyleCloseButton(QToolButton* button) {
    if (!button) return;
    button->setText(QStringLiteral("X"));
    button->setCursor(Qt::PointingHandCursor);
    button->setToolTip(QString());
    button->setStyleSheet(QStringLiteral(
        "QToolButton { color: #c4d3ea; background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #3a425a, "
        "stop:1 #1c2130); border: 1px solid #07080d; border-radius: 3px; font: bold 9px 'DejaVu Sans'; "
        "padding: 0px; }"
        "QToolButton:hover { color: #ffffff; background: #8a2a2a; }"
        "QToolButton:pressed { background: #5a1616; }"));
}

void StyleSkinButton(QToolButton* button) {
    if (!button) return;
    button->setCursor(Qt::PointingHandCursor);
    QFont f = SmallFont(10, true);
    button->setFont(f);
    QPalette pal = button->palette();
    pal.setColor(QPalette::ButtonText, kGlyph);
    button->setPalette(pal);
    button->setAutoFillBackground(false);
}

QColor SkinKeyText() { return kGlyph; }

QPalette SkinPalette(QPalette base) {
    // Text colours come from palettes (the switches keep their state in
    // them); shapes and fills come from the style sheet below.
    const QColor field(0x0b, 0x0e, 0x16);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        base.setColor(group, QPalette::Base, field);
        base.setColor(group, QPalette::AlternateBase, QColor(0x12, 0x16, 0x22));
        base.setColor(group, QPalette::Text, kGlyph);
        base.setColor(group, QPalette::Button, QColor(0x2a, 0x31, 0x45));
        base.setColor(group, QPalette::ButtonText, kGlyph);
        base.setColor(group, QPalette::Highlight, QColor(0x2f, 0x55, 0x80));
        base.setColor(group, QPalette::HighlightedText, Qt::white);
        base.setColor(group, QPalette::Light, kEdgeLight);
        base.setColor(group, QPalette::Midlight, QColor(0x34, 0x3c, 0x54));
        base.setColor(group, QPalette::Mid, QColor(0x1c, 0x21, 0x30));
        base.setColor(group, QPalette::Dark, kEdgeDark);
        base.setColor(group, QPalette::Shadow, Qt::black);
        base.setColor(group, QPalette::PlaceholderText, QColor(0x5a, 0x64, 0x7c));
        base.setColor(group, QPalette::ToolTipBase, QColor(0x1c, 0x21, 0x30));
        base.setColor(group, QPalette::ToolTipText, kGlyph);
    }
    const QColor dim(0x4a, 0x52, 0x68);
    base.setColor(QPalette::Disabled, QPalette::Text, dim);
    base.setColor(QPalette::Disabled, QPalette::ButtonText, dim);
    base.setColor(QPalette::Disabled, QPalette::WindowText, dim);
    base.setColor(QPalette::Disabled, QPalette::Base, field);
    base.setColor(QPalette::Disabled, QPalette::Button, QColor(0x1c, 0x21, 0x30));
    return base;
}

QString SkinStyleSheet() {
    return QStringLiteral(
        "QToolButton { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #343c54, stop:1 #1c2130);"
        " border: 1px solid #07080d; border-top-color: #48516d; border-radius: 3px; padding: 0px 2px; }"
        "QToolButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #424c6a, stop:1 #242a3e);"
        " border-color: #6a7a9a; }"
        "QToolButton:pressed { background: #12151f; border-color: #07080d; }"
        "QToolButton:disabled { background: #161a26; border-color: #0d1018; }"
        "QCheckBox { spacing: 6px; background: transparent; }"
        "QCheckBox::indicator { width: 10px; height: 10px; border: 1px solid #48516d; border-radius: 2px;"
        " background: #0b0e16; }"
        "QCheckBox::indicator:hover { border-color: #8a9aba; }"
        "QCheckBox::indicator:checked { background: qradialgradient(cx:0.5, cy:0.5, radius:0.7, fx:0.4, fy:0.35,"
        " stop:0 #bfe4ff, stop:0.6 #4a8ac8, stop:1 #22507a); border-color: #9cc8e0; }"
        "QComboBox { background: #0b0e16; color: #c4d3ea; border: 1px solid #48516d; border-radius: 3px;"
        " padding: 0px 4px; }"
        "QComboBox:hover { border-color: #6a7a9a; }"
        "QComboBox QAbstractItemView { background: #0b0e16; border: 1px solid #48516d;"
        " selection-background-color: #2f5580; outline: 0; }"
        "QLineEdit { background: #0b0e16; border: 1px solid #2a3145; border-radius: 2px; }"
        "QComboBox QLineEdit { border: none; background: transparent; color: #c4d3ea; }"
        "QToolTip { background: #1c2130; border: 1px solid #48516d; padding: 2px; }");
}

void StyleStandardWidgets(QWidget* panel) {
    if (!panel) return;
    for (QWidget* child : panel->findChildren<QWidget*>()) {
        const bool standard = qobject_cast<QToolButton*>(child) || qobject_cast<QCheckBox*>(child) ||
                              qobject_cast<QComboBox*>(child) ||
                              (qobject_cast<QLineEdit*>(child) && !qobject_cast<QComboBox*>(child->parentWidget()));
        if (standard && child->styleSheet().isEmpty()) child->setStyleSheet(SkinStyleSheet());
    }
}

void StyleTrackBars(QWidget* panel) {
    if (!panel) return;
    for (TExTrackBar* bar : panel->findChildren<TExTrackBar*>()) {
        QPalette pal = bar->palette();
        pal.setColor(QPalette::Window, QColor(0x0b, 0x0e, 0x16));
        pal.setColor(QPalette::Button, QColor(0x3a, 0x5e, 0x86));
        pal.setColor(QPalette::Highlight, QColor(0x2f, 0x55, 0x80));
        bar->setPalette(pal);
    }
}

// A panel's own body picture with a recess around its contents, so that the
// lower half's copy of the upper picture (bezel, transport groove) never
// shows through behind the panel's rows.
QString SkinScrollBarStyle(int width) {
    return QStringLiteral(
               "QScrollBar:vertical { background: #0B0E16; width: %1px; margin: 0; border: none;"
               " border-left: 1px solid #16202C; }"
               " QScrollBar::handle:vertical { background: qlineargradient(x1:0, y1:0, x2:1, y2:0,"
               " stop:0 #2A3A50, stop:1 #1A2434); border: 1px solid #2E4A64; border-radius: 3px;"
               " min-height: 18px; margin: 1px 1px 1px 2px; }"
               " QScrollBar::handle:vertical:hover { border-color: #6A9AC0; }"
               " QScrollBar::handle:vertical:pressed { background: #3A5670; border-color: #9CC8E0; }"
               " QScrollBar::handle:vertical:disabled { background: transparent; border-color: transparent; }"
               " QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; border: none; }"
               " QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
        .arg(width);
}

void SetPanelSkin(QWidget* panel, QRect recess, qreal dpr) {
    if (!panel) return;
    auto* body = panel->findChild<QLabel*>(QStringLiteral("PanelSkin"), Qt::FindDirectChildrenOnly);
    if (!body) {
        body = new QLabel(panel);
        body->setObjectName(QStringLiteral("PanelSkin"));
        body->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    body->setGeometry(panel->rect());
    body->lower();
    if (const QVariant margin = panel->property(kRecessBottomMargin); margin.isValid()) {
        recess.setBottom(panel->height() - margin.toInt() - 1);
    }
    body->setPixmap(SkinPanelBackground(panel->size(), recess, dpr));
}

void SetEqualizerSkin(QWidget* panel, qreal dpr) {
    if (!panel) return;
    if (auto* body = panel->findChild<QLabel*>(QString::fromLatin1(kEqualizerSkinName))) {
        body->setGeometry(panel->rect());
        body->setPixmap(SkinPanelBackground(panel->size(), kBandWindow, dpr));
    }
}

void RefreshSkinOnScreenChange(QWidget* window, std::function<void()> apply) {
    if (!window) return;
    if (window->findChild<QObject*>(QString::fromLatin1(TSkinRefresher::kName), Qt::FindDirectChildrenOnly)) return;
    window->installEventFilter(new TSkinRefresher(window, std::move(apply)));
}

}  // namespace wl
