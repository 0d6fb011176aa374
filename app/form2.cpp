// The screensaver: a black full-screen window with a strip drifting across it
// that shows the title and the time in a slowly pulsing blue.
#include <QApplication>
#include <QCursor>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <cstdlib>

#include "app/canvas_image.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/scramble.h"

namespace wl {

TForm2* Form2 = nullptr;

namespace {

constexpr int kStripMargin = 40;
constexpr int kStripHeight = 69;
constexpr int kMoveTolerance = 5;

// "Arial" when the system has it, else the default sans font.
QString SaverFamily() {
    const QString arial = QStringLiteral("Arial");
    if (QFontDatabase::families().contains(arial)) return arial;
    QFont f;
    f.setStyleHint(QFont::SansSerif);
    return QFontInfo(f).family();
}

QFont SaverFont(const QString& family) {
    QFont f(family);
    f.setStyleHint(QFont::SansSerif);
    f.setPointSize(20);
    f.setBold(false);
    return f;
}

}  // namespace

TForm2::TForm2(QWidget* parent) : QWidget(parent) {
    Form2 = this;
    Timer1 = new QTimer(this);
    Filter = new TInputFilter(this);
    FormCreate();
}

TForm2::~TForm2() {
    if (qApp) qApp->removeEventFilter(Filter);
    if (cursorHidden_) {
        QGuiApplication::restoreOverrideCursor();
        cursorHidden_ = false;
    }
    if (Form2 == this) Form2 = nullptr;
}

void TForm2::FormCreate() {
    Timer1->stop();
    Timer1->setInterval(80);
    connect(Timer1, &QTimer::timeout, this, &TForm2::Timer1Timer, Qt::UniqueConnection);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral(" Wavelantern 2.1"));
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    const QSize screen = ScreenSize();
    if (const QScreen* s = QGuiApplication::primaryScreen()) move(s->geometry().topLeft());
    resize(screen);
    auto* strip = new TCanvasImage(this);
    strip->setGeometry(0, 0, std::max(screen.width() - kStripMargin, 1), kStripHeight);
    Image1 = strip;
    fontFamily_ = SaverFamily();
    Filter->SaverMode = false;
    if (qApp) qApp->installEventFilter(Filter);
}

void TForm2::SetScreenSize(const QSize& size) {
    screenSize_ = size;
    resize(size);
    if (Image1) Image1->resize(std::max(size.width() - kStripMargin, 1), kStripHeight);
}

QSize TForm2::ScreenSize() const {
    if (screenSize_.isValid()) return screenSize_;
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    return s ? s->geometry().size() : QSize(1024, 768);
}

void TForm2::FormShow() {
    SaverText = Form1 ? Form1->TitleText : QString();
    if (Form1) Form1->hide();
    CursorAtShow = QCursor::pos();
    if (!cursorHidden_) {
        QGuiApplication::setOverrideCursor(Qt::BlankCursor);
        cursorHidden_ = true;
    }
    raise();
    activateWindow();
    Timer1->start();
    // Input already queued (the key that started the saver, the moves of
    // showing it) is taken as before; the saver listens from the next turn
    // of the event loop on.
    QTimer::singleShot(0, this, [this] {
        if (isVisible()) Filter->SaverMode = true;
    });
    X = 0;
    Y = 0;
    C = 0;
    XForward = YForward = CRising = true;
    if (Image1) Image1->move(X, Y);
    PaintStrip();
}

void TForm2::FormHide() {
    Filter->SaverMode = false;
    Timer1->stop();
    if (Form1) Form1->IdleSeconds = 2;
    if (cursorHidden_) {
        QCursor::setPos(CursorAtShow);
        QGuiApplication::restoreOverrideCursor();
        cursorHidden_ = false;
    }
    if (Form1) Form1->showNormal();
}

void TForm2::Timer1Timer() {
    if (XForward) {
        if (X >= kStripMargin) XForward = false;
        else ++X;
    }
    if (!XForward) {
        if (X <= 0) {
            XForward = true;
            ++X;
        } else {
            --X;
        }
    }
    const int maxY = ScreenSize().height() - kStripHeight;
    if (YForward) {
        if (Y < maxY) ++Y;
        else YForward = false;
    }
    if (!YForward) {
        if (Y <= 0) {
            YForward = true;
            ++Y;
        } else {
            --Y;
        }
    }
    if (CRising) {
        if (C > 0xF6FFFF) CRising = false;
        else C += 0x080000;
    }
    if (!CRising) {
        if (C < 0x200001) {
            CRising = true;
            C += 0x080000;
        } else {
            C -= 0x080000;
        }
    }
    if (Image1) Image1->move(X, Y);
    const QString title = Form1 ? Form1->TitleText : QString();
    SaverText = title != StoredText(TStoredText::SaverBanner) ? title : StoredText(TStoredText::SaverIdle);
    PaintStrip();
}

void TForm2::PaintStrip() {
    auto* strip = static_cast<TCanvasImage*>(Image1);
    if (!strip) return;
    const int width = std::max(ScreenSize().width() - kStripMargin, 1);
    const qreal dpr = devicePixelRatioF();
    if (strip->Canvas.size() != QSize(width, kStripHeight) * dpr) {
        strip->Canvas = QImage(QSize(width, kStripHeight) * dpr, QImage::Format_RGB32);
        strip->Canvas.setDevicePixelRatio(dpr);
    }
    strip->Canvas.fill(Qt::black);
    QPainter p(&strip->Canvas);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QFont font = SaverFont(fontFamily_);
    p.setFont(font);
    p.setPen(ColorToQColor(C));
    const QFontMetrics fm(font);
    const QString time = Form1 ? Form1->TimeText : QString();
    const int lineHeight = fm.height();
    p.drawText(QRect((width - fm.horizontalAdvance(SaverText)) / 2, 0, fm.horizontalAdvance(SaverText) + 2, lineHeight),
               Qt::AlignLeft | Qt::AlignTop, SaverText);
    p.drawText(QRect((width - fm.horizontalAdvance(time)) / 2, 33, fm.horizontalAdvance(time) + 2, lineHeight),
               Qt::AlignLeft | Qt::AlignTop, time);
    p.end();
    strip->update();
}

bool TForm2::SaverEvent(QEvent* event) {
    bool close = false;
    switch (event->type()) {
    case QEvent::MouseMove: {
        const QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        close = std::abs(at.x() - CursorAtShow.x()) > kMoveTolerance || std::abs(at.y() - CursorAtShow.y()) > kMoveTolerance;
        break;
    }
    case QEvent::ShortcutOverride:
        // Comes before the key press, which closes; swallowed so that no
        // shortcut fires.
        return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        close = true;
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const Qt::MouseButton b = static_cast<QMouseEvent*>(event)->button();
        close = b == Qt::LeftButton || b == Qt::RightButton || b == Qt::MiddleButton;
        break;
    }
    default:
        break;
    }
    if (close) hide();
    return close;
}

void TForm2::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TForm2::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) FormHide();
}

}  // namespace wl
