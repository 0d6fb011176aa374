// The program's skin: every picture of the window is drawn here with vector
// painting, at the device-pixel ratio it is shown at.
#pragma once

#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QRect>
#include <QSize>

#include "app/form1.h"

class QToolButton;
class QWidget;

namespace wl {

enum class TSkinIcon { Play, Pause, Stop, Previous, Next, Open, Settings, Equalizer, About, Playlist, Tag };
enum class TSkinIndicator { Equalizer, Random, Repeat };

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

// The equalizer panel's background picture (a QLabel of that name) and its
// band window: lamps, sliders and frequency captions.
inline constexpr const char* kEqualizerSkinName = "Panel2Skin";
inline constexpr QRect kBandWindow(16, 12, 212, 160);
inline constexpr QSize kLogoSize{180, 40};
inline constexpr QSize kWandererSize{107, 98};

}  // namespace wl
