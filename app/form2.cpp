// Skeleton: the screensaver window.
#include <QTimer>

#include "app/form2.h"

namespace wl {

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QWidget(parent) {
    Form2 = this;
    Timer1 = new QTimer(this);
    Filter = new TInputFilter(this);
    FormCreate();
}

TForm2::~TForm2() {
    if (Form2 == this) Form2 = nullptr;
}

void TForm2::FormCreate() {}
void TForm2::FormShow() {}
void TForm2::FormHide() {}
void TForm2::Timer1Timer() {}
bool TForm2::SaverEvent(QEvent*) { return false; }
void TForm2::showEvent(QShowEvent* event) { QWidget::showEvent(event); }
void TForm2::hideEvent(QHideEvent* event) { QWidget::hideEvent(event); }

}  // namespace wl
