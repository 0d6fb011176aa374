// The application-wide input filter. Normal mode: any input marks the user as
// present, and key presses in the main window run its shortcuts. The key
// still reaches its widget.
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

#include "app/form1.h"
#include "app/form2.h"

namespace wl {

namespace {

// A key press the application did not take travels from the focus widget up
// through its parents, and the filter sees it at every step. The last one
// counted, so that those steps are not counted again.
struct TLastKey {
    const QEvent* event = nullptr;
    QPointer<QWidget> receiver;
    int key = 0;
    quint64 timestamp = 0;
};

TLastKey lastKey;

// True the first time a key press reaches a widget; false while the same
// press propagates to the parents of the widget that saw it before.
bool FirstDelivery(QWidget* receiver, const QKeyEvent* key) {
    const bool propagated = key == lastKey.event && lastKey.receiver && receiver != lastKey.receiver &&
                            receiver->isAncestorOf(lastKey.receiver) && key->key() == lastKey.key &&
                            key->timestamp() == lastKey.timestamp;
    lastKey.event = key;
    lastKey.receiver = receiver;
    lastKey.key = key->key();
    lastKey.timestamp = key->timestamp();
    return !propagated;
}

}  // namespace

TInputFilter::TInputFilter(TForm2* owner) : QObject(owner), owner_(owner) {
    if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
}

bool TInputFilter::eventFilter(QObject* watched, QEvent* event) {
    if (SaverMode) return owner_->SaverEvent(event);
    return NormalMode(watched, event);
}

bool TInputFilter::NormalMode(QObject* watched, QEvent* event) {
    bool input = false;
    switch (event->type()) {
    case QEvent::KeyPress: {
        input = true;
        // The window first gets the press as a QWindow; count it at the widgets.
        auto* widget = qobject_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        if (Form1 && widget && widget->window() == Form1 && FirstDelivery(widget, key)) {
            Form1->HandleKeyDown(key->key());
        }
        break;
    }
    case QEvent::KeyRelease:
    case QEvent::WindowActivate:
    case QEvent::MouseMove:
        input = true;
        break;
    case QEvent::ApplicationStateChange:
        input = static_cast<QApplicationStateChangeEvent*>(event)->applicationState() == Qt::ApplicationActive;
        break;
    case QEvent::MouseButtonPress: {
        const Qt::MouseButton button = static_cast<QMouseEvent*>(event)->button();
        input = button == Qt::LeftButton || button == Qt::RightButton || button == Qt::MiddleButton;
        break;
    }
    default:
        break;
    }
    if (input && Form1) Form1->IdleSeconds = 2;
    return false;
}

}  // namespace wl
