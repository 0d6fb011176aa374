#include "app/image_widget.h"

#include <QMouseEvent>

namespace wl {

TImage::TImage(QWidget* parent) : QLabel(parent) {
    setMouseTracking(true);
}

void TImage::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    if (OnMouseDown) OnMouseDown(event);
    else QLabel::mousePressEvent(event);
}

void TImage::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    if (OnMouseUp) OnMouseUp(event);
    else QLabel::mouseReleaseEvent(event);
    if (click && OnClick) OnClick();
}

void TImage::mouseMoveEvent(QMouseEvent* event) {
    if (OnMouseMove) OnMouseMove(event);
    else QLabel::mouseMoveEvent(event);
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event) {
    if (OnDblClick) OnDblClick();
    else QLabel::mouseDoubleClickEvent(event);
}

void TImage::enterEvent(QEnterEvent* event) {
    if (OnEnter) OnEnter();
    QLabel::enterEvent(event);
}

}  // namespace wl
