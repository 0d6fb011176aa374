// Helpers of the display, equalizer and saver tests: a level source with
// chosen readings, and the frame's pictures where the frame has none yet.
#pragma once

#include <QToolButton>

#include "app/form1.h"
#include "app/image_widget.h"
#include "controls/vu_meter.h"

namespace wl::test {

// Peaks as signed sample values; a reading of v gives v div 180.
class TFixedLevels : public TLevelSource {
public:
    int32_t Left = 0;
    int32_t Right = 0;
    TOpenResult Open() override { return TOpenResult::Ok; }
    bool Read(int32_t& left, int32_t& right, int& channels) override {
        left = Left;
        right = Right;
        channels = 2;
        return true;
    }
    void Close() override {}
};

// Installs a fixed level source on the form's meter and starts it.
inline TFixedLevels* UseFixedLevels(TForm1& form) {
    auto source = std::make_unique<TFixedLevels>();
    TFixedLevels* raw = source.get();
    form.Vumeter1->SetLevelSource(std::move(source));
    form.Vumeter1->Start();
    return raw;
}

// The skin images and transport row as the frame lays them out, for a
// complete picture of the window.
inline void CompleteFrame(TForm1& form) {
    if (!form.Image2) {
        form.Image2 = new TImage(&form);
        form.Image2->setGeometry(0, 0, kWindowWidth, kPanelHeight);
        form.Image2->lower();
    }
    if (!form.Image8) {
        form.Image8 = new TImage(&form);
        form.Image8->setGeometry(0, kPanelHeight, kWindowWidth, kPanelHeight);
        form.Image8->lower();
    }
    TImage** row[] = {&form.Image7,  &form.Image9,  &form.Image10, &form.Image11, &form.Image12, &form.Image13,
                      &form.Image14, &form.Image15, &form.Image16, &form.Image17, &form.Image18};
    int x = 22;
    for (TImage** image : row) {
        if (!*image) {
            *image = new TImage(&form);
            (*image)->setGeometry(x, 156, 16, 16);
        }
        x += image == &form.Image13 ? 36 : 26;  // a gap after "Open"
    }
    if (!form.SpeedButton1) {
        form.SpeedButton1 = new QToolButton(&form);
        form.SpeedButton1->setGeometry(334, 157, 18, 14);
    }
    form.ApplySkin();
}

}  // namespace wl::test
