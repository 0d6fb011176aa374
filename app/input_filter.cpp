// Skeleton: the application-wide input filter.
#include "app/form2.h"

namespace wl {

TInputFilter::TInputFilter(TForm2* owner) : QObject(owner), owner_(owner) {}

bool TInputFilter::eventFilter(QObject* watched, QEvent* event) {
    if (SaverMode) return owner_->SaverEvent(event);
    return NormalMode(watched, event);
}

bool TInputFilter::NormalMode(QObject*, QEvent*) { return false; }

}  // namespace wl
