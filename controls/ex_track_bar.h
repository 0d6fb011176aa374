// TExTrackBar: a slider with the usual track-bar properties and a switch for
// its selection-range band. Setting Position clamps to Min..Max and raises
// OnChange only when the value changes; user drags raise it too. A vertical
// bar has Min at the top.
#pragma once

#include <QSlider>

#include <functional>
#include <memory>

namespace wl {

enum class TTrackBarOrientation { trHorizontal, trVertical };
enum class TTickMark { tmBottomRight, tmTopLeft, tmBoth };
enum class TTickStyle { tsNone, tsAuto, tsManual };

class TExTrackBar : public QSlider {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TExTrackBar* sender)>;

    explicit TExTrackBar(QWidget* parent = nullptr);
    ~TExTrackBar() override;

    int Min() const { return minimum(); }
    void SetMin(int v) { setMinimum(v); }
    int Max() const { return maximum(); }
    void SetMax(int v) { setMaximum(v); }
    int Position() const { return value(); }
    void SetPosition(int v) { setValue(v); }
    TTrackBarOrientation Orientation() const {
        return orientation() == Qt::Horizontal ? TTrackBarOrientation::trHorizontal : TTrackBarOrientation::trVertical;
    }
    void SetOrientation(TTrackBarOrientation v);
    int PageSize() const { return pageStep(); }
    void SetPageSize(int v) { setPageStep(v); }
    int Frequency() const { return tickInterval(); }
    void SetFrequency(int v) { setTickInterval(v); update(); }
    int LineSize() const { return singleStep(); }
    void SetLineSize(int v) { setSingleStep(v); }
    int SelStart() const { return selStart_; }
    void SetSelStart(int v) { selStart_ = v; update(); }
    int SelEnd() const { return selEnd_; }
    void SetSelEnd(int v) { selEnd_ = v; update(); }
    int ThumbLength() const { return thumbLength_; }
    void SetThumbLength(int v);
    TTickMark TickMarks() const { return tickMarks_; }
    void SetTickMarks(TTickMark v) { tickMarks_ = v; ApplyTicks(); }
    TTickStyle TickStyle() const { return tickStyle_; }
    void SetTickStyle(TTickStyle v) { tickStyle_ = v; ApplyTicks(); }
    bool ShowSelRange() const { return showSelRange_; }
    void SetShowSelRange(bool v) { showSelRange_ = v; update(); }

    TNotifyEvent OnChange;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    class Style;
    void ApplyTicks();

    int selStart_ = 0;
    int selEnd_ = 0;
    int thumbLength_ = 20;
    TTickMark tickMarks_ = TTickMark::tmBottomRight;
    TTickStyle tickStyle_ = TTickStyle::tsAuto;
    bool showSelRange_ = true;
    Style* style_ = nullptr;  // owned by the widget
};

}  // namespace wl
