// Colour values as the controls' properties hold them: 0x00BBGGRR (blue in the
// high byte, red in the low byte). Values with the top byte 0xFF name a system
// colour (the low byte picks it) that resolves through the widget's palette.
#pragma once

#include <QColor>
#include <QPalette>

#include <cstdint>

namespace wl {

using TColor = uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;

inline constexpr TColor kSystemColorFlag = 0xFF000000;
inline constexpr TColor clBtnFace = kSystemColorFlag | 15;
inline constexpr TColor clBtnShadow = kSystemColorFlag | 16;
inline constexpr TColor clBtnText = kSystemColorFlag | 18;
inline constexpr TColor clBtnHighlight = kSystemColorFlag | 20;
inline constexpr TColor clWindow = kSystemColorFlag | 5;
inline constexpr TColor clWindowText = kSystemColorFlag | 8;

inline constexpr int GetRValue(TColor c) { return static_cast<int>(c & 0xFF); }
inline constexpr int GetGValue(TColor c) { return static_cast<int>((c >> 8) & 0xFF); }
inline constexpr int GetBValue(TColor c) { return static_cast<int>((c >> 16) & 0xFF); }
inline constexpr TColor RGBColor(int r, int g, int b) {
    return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// A system colour resolves to its palette entry, any other value to the
// colour its three bytes name.
QColor ColorToQColor(TColor color, const QPalette& palette = QPalette());
TColor QColorToColor(const QColor& color);

}  // namespace wl
