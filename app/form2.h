// The screensaver window, and owner of the application-wide input filter:
// in normal mode the filter tracks idleness and runs the main window's
// keyboard shortcuts; in saver mode any input closes the saver.
#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <cstdint>

#include "controls/colors.h"

class QTimer;

namespace wl {

class TImage;
class TForm2;

class TInputFilter : public QObject {
    Q_OBJECT
public:
    explicit TInputFilter(TForm2* owner);
    bool SaverMode = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool NormalMode(QObject* watched, QEvent* event);  // never consumes
    TForm2* owner_;
};

class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    void FormCreate();
    void FormShow();
    void FormHide();
    void Timer1Timer();  // animation, 80 ms
    // Saver mode: true when the event closes the saver (and is consumed).
    bool SaverEvent(QEvent* event);

    TInputFilter* Filter = nullptr;
    QTimer* Timer1 = nullptr;
    TImage* Image1 = nullptr;
    int X = 0;
    int Y = 0;
    TColor C = 0;
    bool XForward = true;
    bool YForward = true;
    bool CRising = true;
    QPoint CursorAtShow;
    QString SaverText;

    // The screen the strip drifts on: the window's screen unless set.
    void SetScreenSize(const QSize& size);
    QSize ScreenSize() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // ---- screensaver (private) ----
    void PaintStrip();
    QSize screenSize_;  // empty: ask the screen
    bool cursorHidden_ = false;
    QString fontFamily_;
};

extern TForm2* Form2;

}  // namespace wl
