// The window dresses itself in the skin: which picture goes to which image,
// the hover texts of the icons, and a fresh painting on a screen of another
// pixel density.
#include <QLabel>
#include <QToolButton>

#include "app/form1.h"
#include "app/image_widget.h"
#include "app/skin.h"

namespace wl {

void TForm1::ApplySkin() {
    const qreal dpr = devicePixelRatioF();
    // Both halves show the same picture.
    const QPixmap body = SkinBackground(QSize(kWindowWidth, kPanelHeight), dpr);
    if (Image2) Image2->setPixmap(body);
    if (Image8) Image8->setPixmap(body);
    struct TIconOf {
        TImage* image;
        TSkinIcon icon;
        const char* hover;
    };
    const TIconOf icons[] = {
        {Image7, TSkinIcon::Play, "Play"},          {Image9, TSkinIcon::Pause, "Pause"},
        {Image10, TSkinIcon::Stop, "Stop"},         {Image11, TSkinIcon::Previous, "Last"},
        {Image12, TSkinIcon::Next, "Next"},         {Image13, TSkinIcon::Open, "Open"},
        {Image14, TSkinIcon::Settings, "Settings"}, {Image15, TSkinIcon::Equalizer, "Equalizer"},
        {Image16, TSkinIcon::About, "About"},       {Image17, TSkinIcon::Playlist, "MP3 playlist"},
        {Image18, TSkinIcon::Tag, "MP3 ID"},
    };
    for (const TIconOf& i : icons) {
        if (!i.image) continue;
        i.image->setPixmap(SkinIcon(i.icon, dpr));
        i.image->setCursor(Qt::PointingHandCursor);
        // The hover text, unless the transport row has its own.
        if (!i.image->OnEnter) {
            const QString text = QString::fromLatin1(i.hover);
            i.image->OnEnter = [this, text] { SetStatus(text); };
        }
    }
    const TStatePicture states[] = {TStatePicture::Play, TStatePicture::Pause, TStatePicture::Stop,
                                    TStatePicture::Previous, TStatePicture::Next, TStatePicture::End};
    for (size_t k = 0; k < statePictures_.size(); ++k) statePictures_[k] = SkinStatePicture(states[k], dpr);
    const TSkinIndicator indicators[] = {TSkinIndicator::Equalizer, TSkinIndicator::Random, TSkinIndicator::Repeat};
    for (size_t k = 0; k < 3; ++k) {
        indicatorPictures_[2 * k] = SkinIndicatorPicture(indicators[k], false, dpr);
        indicatorPictures_[2 * k + 1] = SkinIndicatorPicture(indicators[k], true, dpr);
    }
    ShowIndicators();
    if (Image20 && Image20->pixmap().isNull()) SetStatePicture(TStatePicture::Stop);
    if (Image5) Image5->setPixmap(SkinLogo(dpr));
    if (Image6) Image6->setPixmap(SkinWanderer(dpr));
    StyleCloseButton(SpeedButton1);
    SetEqualizerSkin(Panel2, dpr);
    // Standard widgets of the panels take the skin's colours; the display
    // keeps its own.
    setPalette(SkinPalette(palette()));
    // Per widget, so that labels and pictures keep their own colours; widgets
    // with a style of their own (playlist keys, tag fields) keep it.
    for (QWidget* panel : {Panel2, Panel4, Panel17, Panel19}) StyleStandardWidgets(panel);
    for (QWidget* panel : {Panel2, Panel4}) StyleTrackBars(panel);
    SetPanelSkin(Panel4, QRect(14, 6, 342, 166), dpr);
    SetPanelSkin(Panel17, QRect(14, 6, 342, 166), dpr);
    SetPanelSkin(Panel19, QRect(14, 14, 342, 138), dpr);
    RefreshSkinOnScreenChange(this, [this] { ApplySkin(); });
}

}  // namespace wl
