#include "app/canvas_image.h"

#include <QPainter>

namespace wl {

TCanvasImage::TCanvasImage(QWidget* parent) : TImage(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TCanvasImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!Canvas.isNull()) p.drawImage(QPointF(-OffsetX, 0), Canvas);
}

}  // namespace wl
