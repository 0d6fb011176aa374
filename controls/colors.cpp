#include "controls/colors.h"

namespace wl {

QColor ColorToQColor(TColor color, const QPalette& palette) {
    if ((color & kSystemColorFlag) == kSystemColorFlag) {
        switch (color & 0xFF) {
        case 5: return palette.color(QPalette::Base);
        case 8: return palette.color(QPalette::Text);
        case 15: return palette.color(QPalette::Button);
        case 16: return palette.color(QPalette::Dark);
        case 18: return palette.color(QPalette::ButtonText);
        case 20: return palette.color(QPalette::Light);
        default: return palette.color(QPalette::Window);
        }
    }
    return QColor(GetRValue(color), GetGValue(color), GetBValue(color));
}

TColor QColorToColor(const QColor& color) {
    return RGBColor(color.red(), color.green(), color.blue());
}

}  // namespace wl
