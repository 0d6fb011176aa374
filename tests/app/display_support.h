// Helpers of the display, equalizer and saver tests: a level source with
// chosen readings, and a check that the frame's pictures are all there.
#pragma once

#include <QToolButton>
#include <gtest/gtest.h>

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

// The skin images and transport row the frame lays out, all there for a
// complete picture of the window, with the skin applied.
inline void CompleteFrame(TForm1& form) {
    const QWidget* frame[] = {form.Image2,  form.Image8,  form.Image7,  form.Image9,  form.Image10,
                              form.Image11, form.Image12, form.Image13, form.Image14, form.Image15,
                              form.Image16, form.Image17, form.Image18, form.SpeedButton1};
    for (const QWidget* w : frame) ASSERT_NE(w, nullptr) << "a part of the frame is missing";
    form.ApplySkin();
}

}  // namespace wl::test
