// A picture drawn from an image the program paints into directly (title
// strip, level meters, screensaver strip). The image is shown at its own
// device-pixel ratio, shifted left by OffsetX, on black.
#pragma once

#include <QImage>

#include "app/image_widget.h"

namespace wl {

class TCanvasImage : public TImage {
    Q_OBJECT
public:
    explicit TCanvasImage(QWidget* parent = nullptr);

    QImage Canvas;
    int OffsetX = 0;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace wl
