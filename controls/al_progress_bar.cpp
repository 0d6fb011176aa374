#include "controls/al_progress_bar.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace wl {
namespace {

// a * b / c rounded to nearest, halves away from zero.
int MulDiv(int a, int b, int c) {
    const int64_t p = static_cast<int64_t>(a) * b;
    const int64_t q = (std::llabs(p) * 2 + std::llabs(c)) / (std::llabs(static_cast<int64_t>(c)) * 2);
    return static_cast<int>((p < 0) != (c < 0) ? -q : q);
}

}  // namespace

TALProgressBar::TALProgressBar(QWidget* parent) : QWidget(parent) {
    resize(200, 20);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);  // OnMouseMove without a pressed button too
}

TColor TALProgressBar::GetGradientColor(TColor a, TColor b, int k, int n) {
    if (k < 1 || k > n)
        throw std::out_of_range("ColorIndex can't be less than 1 or greater than " + std::to_string(n));
    if (n == 1) return a;
    auto channel = [&](int ca, int cb) { return ca + MulDiv(k - 1, cb - ca, n - 1); };
    return RGBColor(channel(GetRValue(a), GetRValue(b)), channel(GetGValue(a), GetGValue(b)),
                    channel(GetBValue(a), GetBValue(b)));
}

void TALProgressBar::Changed() {
    rebuildBarImage_ = true;
    update();
}

void TALProgressBar::SetBackgroundColor(TColor v) { backgroundColor_ = v; update(); }
void TALProgressBar::SetBarBitmap(const QPixmap& v) { barBitmap_ = v; Changed(); }
void TALProgressBar::SetBarColor1(TColor v) { barColor1_ = v; Changed(); }
void TALProgressBar::SetBarColor2(TColor v) { barColor2_ = v; Changed(); }
void TALProgressBar::SetBarColor3(TColor v) { barColor3_ = v; Changed(); }
void TALProgressBar::SetBarColorStyle(TBarColorStyle v) { barColorStyle_ = v; Changed(); }
void TALProgressBar::SetBorderColor1(TColor v) { borderColor1_ = v; update(); }
void TALProgressBar::SetBorderColor2(TColor v) { borderColor2_ = v; update(); }
void TALProgressBar::SetDirection(TProgressDirection v) { direction_ = v; Changed(); }
void TALProgressBar::SetMax(int v) { max_ = v; update(); }
void TALProgressBar::SetMin(int v) { min_ = v; update(); }
void TALProgressBar::SetPosTextPrefix(const QString& v) { posTextPrefix_ = v; update(); }
void TALProgressBar::SetPosTextSuffix(const QString& v) { posTextSuffix_ = v; update(); }
void TALProgressBar::SetShowBorder(bool v) { showBorder_ = v; update(); }
void TALProgressBar::SetShowPosText(bool v) { showPosText_ = v; update(); }

void TALProgressBar::SetPosition(int v) {
    if (v == position_ || v < min_ || v > max_) return;
    position_ = v;
    update();
}

void TALProgressBar::BuildBarImage(int w, int h) {
    barImage_ = QImage(w, h, QImage::Format_RGB32);
    barImage_.fill(Qt::black);
    ++barImageBuilds_;
    QPainter p(&barImage_);
    if (!barBitmap_.isNull()) {
        const int tw = barBitmap_.width(), th = barBitmap_.height();
        for (int row = 0; row <= h / th; ++row) {
            for (int col = 0; col <= w / tw; ++col) p.drawPixmap(col * tw, row * th, barBitmap_);
        }
        return;
    }
    const bool horizontal =
        direction_ == TProgressDirection::pdLeftToRight || direction_ == TProgressDirection::pdRightToLeft;
    const int length = horizontal ? w : h;
    // Line i (0-based) counted from the start end of the fill.
    auto drawLine = [&](int i, TColor c) {
        int at = i;
        if (direction_ == TProgressDirection::pdRightToLeft) at = w - 1 - i;
        if (direction_ == TProgressDirection::pdBottomToTop) at = h - 1 - i;
        const QColor qc = Color(c);
        if (horizontal) {
            p.fillRect(at, 0, 1, h, qc);
        } else {
            p.fillRect(0, at, w, 1, qc);
        }
    };
    if (barColorStyle_ == TBarColorStyle::cs2Colors) {
        for (int k = 1; k <= length; ++k) drawLine(k - 1, GetGradientColor(barColor1_, barColor2_, k, length));
    } else {
        const int first = length / 2;
        const int second = length - first;
        for (int k = 1; k <= first; ++k) drawLine(k - 1, GetGradientColor(barColor1_, barColor2_, k, first));
        for (int k = 1; k <= second; ++k)
            drawLine(first + k - 1, GetGradientColor(barColor2_, barColor3_, k, second));
    }
}

void TALProgressBar::PaintTo(QImage& image) {
    const int w = width(), h = height();
    if (image.size() != QSize(w, h)) image = QImage(w, h, QImage::Format_RGB32);
    if (w <= 0 || h <= 0) return;
    QPainter p(&image);

    if (!barBitmap_.isNull() || barColorStyle_ != TBarColorStyle::cs1Color) {
        if (rebuildBarImage_ || barImage_.size() != QSize(w, h)) {
            BuildBarImage(w, h);
            rebuildBarImage_ = false;
        }
        p.drawImage(0, 0, barImage_);
    } else {
        p.fillRect(0, 0, w, h, Color(barColor1_));
    }

    const bool horizontal =
        direction_ == TProgressDirection::pdLeftToRight || direction_ == TProgressDirection::pdRightToLeft;
    const int inset = showBorder_ ? 1 : 0;
    const int a = std::max(0, (horizontal ? w : h) - 2 * inset);
    int c = 0;
    const int range = std::abs(max_ - min_);
    if (position_ > min_ && range != 0) {
        c = static_cast<int>(std::nearbyint(static_cast<double>(position_ - min_) / range * a));
        c = std::clamp(c, 0, a);  // a position left beyond a changed Max
    }
    const int rest = a - c;
    if (rest > 0) {
        const QColor bg = Color(backgroundColor_);
        const int cross = std::max(0, (horizontal ? h : w) - 2 * inset);
        switch (direction_) {
        case TProgressDirection::pdLeftToRight: p.fillRect(inset + c, inset, rest, cross, bg); break;
        case TProgressDirection::pdRightToLeft: p.fillRect(inset, inset, rest, cross, bg); break;
        case TProgressDirection::pdBottomToTop: p.fillRect(inset, inset, cross, rest, bg); break;
        case TProgressDirection::pdTopToBottom: p.fillRect(inset, inset + c, cross, rest, bg); break;
        }
    }

    if (showBorder_) {
        // Top and left lines, then bottom and right without the top-right and
        // bottom-left corners, as two pen strokes that leave out their end points.
        const QColor b1 = Color(borderColor1_), b2 = Color(borderColor2_);
        p.fillRect(0, 0, w, 1, b1);
        p.fillRect(0, 0, 1, h, b1);
        p.fillRect(1, h - 1, w - 1, 1, b2);
        p.fillRect(w - 1, 1, 1, h - 1, b2);
    }

    if (showPosText_) {
        const QString text = posTextPrefix_ + QString::number(position_) + posTextSuffix_;
        p.setFont(font());
        p.setPen(palette().color(QPalette::WindowText));
        const QFontMetrics fm(font());
        const int tw = fm.horizontalAdvance(text), th = fm.height();
        p.drawText(w / 2 - tw / 2, h / 2 - th / 2 + fm.ascent(), text);
    }
}

QImage TALProgressBar::Render() {
    PaintTo(offscreen_);
    return offscreen_;
}

void TALProgressBar::paintEvent(QPaintEvent*) {
    PaintTo(offscreen_);
    QPainter p(this);
    p.drawImage(0, 0, offscreen_);
}

void TALProgressBar::resizeEvent(QResizeEvent* event) {
    rebuildBarImage_ = true;
    QWidget::resizeEvent(event);
}

void TALProgressBar::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) update();
    if (event->type() == QEvent::PaletteChange) Changed();
    QWidget::changeEvent(event);
}

void TALProgressBar::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    const QPoint pt = event->position().toPoint();
    if (OnMouseDown) OnMouseDown(this, event->button(), event->modifiers(), pt.x(), pt.y());
}

void TALProgressBar::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(pt);
    pressed_ = false;
    if (OnMouseUp) OnMouseUp(this, event->button(), event->modifiers(), pt.x(), pt.y());
    if (click && OnClick) OnClick(this);
}

void TALProgressBar::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pt = event->position().toPoint();
    if (OnMouseMove) OnMouseMove(this, event->modifiers(), pt.x(), pt.y());
}

void TALProgressBar::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && OnDblClick) OnDblClick(this);
    QWidget::mouseDoubleClickEvent(event);
}

}  // namespace wl
