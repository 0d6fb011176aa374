// The program's skin: every picture and colour of the window is drawn or
// chosen here with vector painting, at the device-pixel ratio it is shown at.
// The skin knows no window: it hands out pictures and colours, or dresses the
// widgets it is given.
#pragma once

#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QRect>
#include <QSize>

#include <functional>

#include "controls/colors.h"

class QToolButton;
class QWidget;

namespace wl {

// Pictures of the state image, in the order of the hidden images.
enum class TStatePicture { Play, Pause, Stop, Previous, Next, End };
enum class TSkinIcon { Play, Pause, Stop, Previous, Next, Open, Settings, Equalizer, About, Playlist, Tag };
enum class TSkinIndicator { Equalizer, Random, Repeat };

// Display colours (0x00BBGGRR).
inline constexpr TColor kLitColor = 0xAA8A42;  // text and pictures at mid brightness
inline constexpr TColor kUnlitColor = 0x3A2200;
inline constexpr TColor kLampLitColor = 0x6A4A22;

// Window body with the display bezel and the transport groove.
QPixmap SkinBackground(QSize size, qreal dpr);
// Body of a lower panel with a recessed area (the equalizer's band window).
QPixmap SkinPanelBackground(QSize size, QRect recess, qreal dpr);
QPixmap SkinIcon(TSkinIcon icon, qreal dpr);                        // 16 x 16
QPixmap SkinStatePicture(TStatePicture picture, qreal dpr);         // 40 x 9
QPixmap SkinIndicatorPicture(TSkinIndicator which, bool on, qreal dpr);  // 12 x 9
QPixmap SkinLogo(qreal dpr);      // 180 x 40
QPixmap SkinWanderer(qreal dpr);  // 107 x 98
void StyleCloseButton(QToolButton* button);
void StyleSkinButton(QToolButton* button);  // the keys of the equalizer panel
QColor SkinKeyText();  // text of a key at rest
// The skin's colours for the standard widgets of the panels (check boxes,
// drop-down list, edits, buttons, tool tips) and the shapes that go with them.
QPalette SkinPalette(QPalette base);
QString SkinStyleSheet();
// A list's vertical scroll bar: a dark track, a handle in the keys' blues, no
// arrow buttons (the panel's scroll keys do that), `width` pixels wide.
QString SkinScrollBarStyle(int width);

// The panel's standard widgets (keys, check boxes, drop-down lists, edits)
// that have no style of their own take the skin's style sheet.
void StyleStandardWidgets(QWidget* panel);
// The panel's sliders take the skin's colours.
void StyleTrackBars(QWidget* panel);
// A panel's own body picture (a QLabel child "PanelSkin", made when missing)
// with a recess around `recess`. A panel whose height changes (the playlist's)
// sets the int property kRecessBottomMargin: the recess then ends that many
// pixels above the panel's bottom edge, whatever height `recess` gives.
void SetPanelSkin(QWidget* panel, QRect recess, qreal dpr);
inline constexpr const char* kRecessBottomMargin = "recessBottomMargin";
// The equalizer panel's body picture (its child kEqualizerSkinName).
void SetEqualizerSkin(QWidget* panel, qreal dpr);
// Calls `apply` (from the event loop) whenever `window` moves to another
// screen, whose pixel density may differ. Installed once per window.
void RefreshSkinOnScreenChange(QWidget* window, std::function<void()> apply);

// The equalizer panel's background picture (a QLabel of that name) and its
// band window: lamps, sliders and frequency captions.
inline constexpr const char* kEqualizerSkinName = "Panel2Skin";
inline constexpr QRect kBandWindow(16, 12, 212, 160);
inline constexpr QSize kLogoSize{180, 40};
inline constexpr QSize kWandererSize{107, 98};

}  // namespace wl
