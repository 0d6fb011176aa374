// TALProgressBar: a painted progress bar filling its rectangle with one
// colour, a two- or three-colour gradient or a tiled bitmap, in one of four
// directions, with an optional bevel border and a centred position text.
// The bar image is fixed; a growing position uncovers more of it.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "controls/colors.h"

namespace wl {

enum class TBarColorStyle { cs1Color, cs2Colors, cs3Colors };
enum class TProgressDirection { pdLeftToRight, pdRightToLeft, pdBottomToTop, pdTopToBottom };

class TALProgressBar : public QWidget {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TALProgressBar* sender)>;
    using TMouseEvent = std::function<void(TALProgressBar* sender, Qt::MouseButton button,
                                           Qt::KeyboardModifiers shift, int x, int y)>;
    using TMouseMoveEvent = std::function<void(TALProgressBar* sender, Qt::KeyboardModifiers shift, int x, int y)>;

    explicit TALProgressBar(QWidget* parent = nullptr);

    TColor BackgroundColor() const { return backgroundColor_; }
    void SetBackgroundColor(TColor v);
    const QPixmap& BarBitmap() const { return barBitmap_; }
    void SetBarBitmap(const QPixmap& v);
    TColor BarColor1() const { return barColor1_; }
    void SetBarColor1(TColor v);
    TColor BarColor2() const { return barColor2_; }
    void SetBarColor2(TColor v);
    TColor BarColor3() const { return barColor3_; }
    void SetBarColor3(TColor v);
    TBarColorStyle BarColorStyle() const { return barColorStyle_; }
    void SetBarColorStyle(TBarColorStyle v);
    TColor BorderColor1() const { return borderColor1_; }
    void SetBorderColor1(TColor v);
    TColor BorderColor2() const { return borderColor2_; }
    void SetBorderColor2(TColor v);
    TProgressDirection Direction() const { return direction_; }
    void SetDirection(TProgressDirection v);
    int Max() const { return max_; }
    void SetMax(int v);
    int Min() const { return min_; }
    void SetMin(int v);
    int Position() const { return position_; }
    // Ignored when equal to the current value or outside Min..Max.
    void SetPosition(int v);
    const QString& PosTextPrefix() const { return posTextPrefix_; }
    void SetPosTextPrefix(const QString& v);
    const QString& PosTextSuffix() const { return posTextSuffix_; }
    void SetPosTextSuffix(const QString& v);
    bool ShowBorder() const { return showBorder_; }
    void SetShowBorder(bool v);
    bool ShowPosText() const { return showPosText_; }
    void SetShowPosText(bool v);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

    // Colour k of n between a and b: each channel a + (k - 1) * (b - a) / (n - 1)
    // with the quotient rounded. Throws std::out_of_range for k outside 1..n.
    static TColor GetGradientColor(TColor a, TColor b, int k, int n);

    // The control as it is painted now.
    QImage Render();
    // Counts rebuilds of the cached bar image.
    int BarImageBuilds() const { return barImageBuilds_; }

    QSize sizeHint() const override { return QSize(200, 20); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void Changed();  // repaint with a new bar image
    void PaintTo(QImage& image);
    void BuildBarImage(int w, int h);
    QColor Color(TColor c) const { return ColorToQColor(c, palette()); }

    TColor backgroundColor_ = clBtnFace;
    QPixmap barBitmap_;
    TColor barColor1_ = clGreen;
    TColor barColor2_ = clYellow;
    TColor barColor3_ = clRed;
    TBarColorStyle barColorStyle_ = TBarColorStyle::cs3Colors;
    TColor borderColor1_ = clBtnShadow;
    TColor borderColor2_ = clBtnHighlight;
    TProgressDirection direction_ = TProgressDirection::pdLeftToRight;
    int max_ = 100;
    int min_ = 0;
    int position_ = 0;
    QString posTextPrefix_;
    QString posTextSuffix_ = QStringLiteral("%");
    bool showBorder_ = true;
    bool showPosText_ = true;

    QImage offscreen_;
    QImage barImage_;
    bool rebuildBarImage_ = true;
    int barImageBuilds_ = 0;
    bool pressed_ = false;
};

}  // namespace wl
