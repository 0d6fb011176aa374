// A picture on the skin: shows a pixmap, reports clicks, double-clicks and
// the mouse entering it (the status-line hover texts hang on that).
#pragma once

#include <QLabel>
#include <functional>

namespace wl {

class TImage : public QLabel {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);

    std::function<void(QMouseEvent*)> OnMouseDown;
    std::function<void(QMouseEvent*)> OnMouseUp;
    std::function<void(QMouseEvent*)> OnMouseMove;
    std::function<void()> OnClick;
    std::function<void()> OnDblClick;
    std::function<void()> OnEnter;  // the pointer came over the picture

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;

private:
    bool pressed_ = false;
};

}  // namespace wl
