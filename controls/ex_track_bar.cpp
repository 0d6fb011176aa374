#include "controls/ex_track_bar.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionSlider>

namespace wl {

// The thumb's length along the bar comes from ThumbLength.
class TExTrackBar::Style : public QProxyStyle {
public:
    explicit Style(const TExTrackBar* bar) : bar_(bar) {}
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_SliderLength && widget == bar_) return bar_->ThumbLength();
        return QProxyStyle::pixelMetric(metric, option, widget);
    }

private:
    const TExTrackBar* bar_;
};

TExTrackBar::TExTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    style_ = new Style(this);
    setStyle(style_);
    setRange(0, 10);
    setPageStep(2);
    setSingleStep(1);
    setTickInterval(1);
    ApplyTicks();
    connect(this, &QSlider::valueChanged, this, [this](int) {
        if (OnChange) OnChange(this);
    });
}

TExTrackBar::~TExTrackBar() {
    setStyle(nullptr);
    delete style_;
}

void TExTrackBar::SetOrientation(TTrackBarOrientation v) {
    setOrientation(v == TTrackBarOrientation::trHorizontal ? Qt::Horizontal : Qt::Vertical);
    // Min at the top, as on the platform's vertical track bar.
    setInvertedAppearance(v == TTrackBarOrientation::trVertical);
    setInvertedControls(v == TTrackBarOrientation::trVertical);
    ApplyTicks();
}

void TExTrackBar::SetThumbLength(int v) {
    if (v < 1) return;
    thumbLength_ = v;
    updateGeometry();
    update();
}

void TExTrackBar::ApplyTicks() {
    if (tickStyle_ == TTickStyle::tsNone) {
        setTickPosition(QSlider::NoTicks);
        return;
    }
    switch (tickMarks_) {
    case TTickMark::tmBottomRight: setTickPosition(QSlider::TicksBelow); break;
    case TTickMark::tmTopLeft: setTickPosition(QSlider::TicksAbove); break;
    case TTickMark::tmBoth: setTickPosition(QSlider::TicksBothSides); break;
    }
}

void TExTrackBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.subControls = QStyle::SC_SliderGroove;
    if (tickPosition() != QSlider::NoTicks) opt.subControls |= QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &opt, &p, this);

    if (showSelRange_ && selEnd_ > selStart_ && maximum() > minimum()) {
        const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
        const bool horizontal = orientation() == Qt::Horizontal;
        const int len = thumbLength_;
        const int span = (horizontal ? groove.width() : groove.height()) - len;
        auto at = [&](int v) {
            v = std::clamp(v, minimum(), maximum());
            return QStyle::sliderPositionFromValue(minimum(), maximum(), v, std::max(span, 0), opt.upsideDown) +
                   len / 2;
        };
        int a = at(selStart_), b = at(selEnd_);
        if (a > b) std::swap(a, b);
        const QColor band = palette().color(QPalette::Highlight);
        if (horizontal) {
            p.fillRect(groove.left() + a, groove.center().y() - 2, b - a + 1, 5, band);
        } else {
            p.fillRect(groove.center().x() - 2, groove.top() + a, 5, b - a + 1, band);
        }
    }

    opt.subControls = QStyle::SC_SliderHandle;
    if (isSliderDown()) opt.activeSubControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &opt, &p, this);
}

}  // namespace wl
