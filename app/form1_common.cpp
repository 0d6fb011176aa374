#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QThread>
#include <QTimer>

#include "app/form1.h"

namespace wl {

TForm1* Form1 = nullptr;

void TForm1::SetStatus(const QString& text) {
    if (StatusText != text) {
        StatusText = text;
        ShowStatusText();
    }
    errorShown_ = false;
    StatusIdle = 0;
    // The clock tick counts the idle time again (it slows down at rest), and
    // the housekeeping tick runs on its own timer again.
    if (Timer3 && Timer3->interval() != kClockTickMs) Timer3->setInterval(kClockTickMs);
    if (Timer4 && Timer4->interval() != kHousekeepingMs) Timer4->setInterval(kHousekeepingMs);
}

void TForm1::ShowError(const QString& text) {
    SetStatus(text);
    errorShown_ = true;
}

void TForm1::SetTextColor(QWidget* widget, TColor color) {
    if (!widget) return;
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, ColorToQColor(color));
    palette.setColor(QPalette::Text, ColorToQColor(color));
    widget->setPalette(palette);
}

TColor TForm1::LitTextColor() const {
    return static_cast<TColor>((static_cast<int32_t>(Settings.Brightness) - 50) * 0x010101 + kLitColor);
}

}  // namespace wl
