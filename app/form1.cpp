// The main window's frame: creation order, first show, the housekeeping tick,
// shut-down, the panel switch, the transport row, moving the window, the
// keyboard shortcuts and the volume and balance bars.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "app/app_folder.h"
#include "app/form1.h"
#include "app/form2.h"
#include "app/image_widget.h"
#include "playback/cue_sheet.h"
#include "playback/playlist_names.h"
#include "playback/station_list.h"
#include "app/single_instance.h"
#include "controls/ex_track_bar.h"
#include "controls/vu_meter.h"
#include "engine/threads.h"

namespace wl {

namespace {

constexpr int kTransportTop = 155;
constexpr int kTransportSize = 16;
constexpr int kLeftPosition = 155;  // window position used when the stored one is off the screen
constexpr int kTopPosition = 100;

// Routes the window's own events (its first show, presses on its bare
// background) to the frame.
class TFrameEvents : public QObject {
public:
    using THandler = std::function<bool(QEvent*)>;
    TFrameEvents(QObject* parent, THandler handler) : QObject(parent), handler_(std::move(handler)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && handler_(event)) return true;
        return QObject::eventFilter(watched, event);
    }

private:
    THandler handler_;
};

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    Form1 = this;
    HookController();
    // A failure on a worker thread that nothing else reports goes to the
    // status line; anything reported from another thread is queued here.
    SetShowExceptionHandler([this](const std::exception& error) {
        const QString text = QString::fromUtf8(error.what()).trimmed();
        QMetaObject::invokeMethod(this, [this, text] { ShowError(text); }, Qt::AutoConnection);
    });
    Timer1 = new QTimer(this);
    Timer3 = new QTimer(this);
    Timer3->setTimerType(Qt::PreciseTimer);  // at rest it ticks just after each second
    Timer4 = new QTimer(this);
    BuildFrame();
    BuildDisplay();
    BuildOptionsPanel();
    BuildEqualizerPanel();
    BuildAboutPanel();
    BuildPlaylistPanel();
    BuildTagPanel();
    ApplySkin();
    RouteDropsToWindow();
    FormCreate();
}

// Window destruction (also when the application ends another way): the
// controller stops the player; nothing is saved here.
TForm1::~TForm1() {
    if (outputsQuery_.joinable()) outputsQuery_.join();  // a few seconds at most
    if (Form1 == this) SetShowExceptionHandler(nullptr);
    if (Form1 == this) Form1 = nullptr;
}

// Looked up once (the media controls ask for it several times a second);
// again only when the folder has gone, which AppFolder creates anew.
QString TForm1::ExeFolder() const {
    if (exeFolder_.isEmpty() || !QFileInfo::exists(exeFolder_)) exeFolder_ = AppFolder();
    return exeFolder_;
}

std::array<TImage*, 11> TForm1::TransportImages() const {
    return {Image7, Image9, Image10, Image11, Image12, Image13, Image14, Image15, Image16, Image17, Image18};
}

void TForm1::BuildFrame() {
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(kWindowWidth, kWindowHeight);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    // The skin pictures lie under everything else.
    Image2 = new TImage(this);
    Image2->setGeometry(0, 0, kWindowWidth, kPanelHeight);
    Image8 = new TImage(this);
    Image8->setGeometry(0, kPanelHeight, kWindowWidth, kPanelHeight);
    for (TImage* skin : {Image2, Image8}) {
        skin->OnMouseDown = [this, skin](QMouseEvent* event) { BackgroundMouseDown(skin, event); };
        skin->OnMouseMove = [this](QMouseEvent* event) { BackgroundMouseMove(event); };
        skin->OnMouseUp = [this](QMouseEvent*) { BackgroundMouseUp(); };
    }

    Panel1 = new QWidget(this);
    Panel1->setGeometry(20, 20, 330, 125);
    Panel1->setAutoFillBackground(true);
    Panel1->setPalette(black);
    for (QWidget** panel : {&Panel2, &Panel3, &Panel4, &Panel17, &Panel19}) {
        *panel = new QWidget(this);
        (*panel)->setGeometry(0, kPanelHeight, kWindowWidth, kPanelHeight);
        (*panel)->hide();
    }
    BuildTransportRow();

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setText(QStringLiteral("X"));
    SpeedButton1->setGeometry(kWindowWidth - 18, 2, 16, 16);
    SpeedButton1->setAutoRaise(true);
    QPalette light = SpeedButton1->palette();
    light.setColor(QPalette::ButtonText, QColor(200, 200, 200));
    SpeedButton1->setPalette(light);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);  // Space must never reach it
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });

    Timer1->setInterval(40);
    Timer3->setInterval(kClockTickMs);
    Timer4->setInterval(kHousekeepingMs);
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
    connect(Timer3, &QTimer::timeout, this, [this] { ClockTick(); });
    connect(Timer4, &QTimer::timeout, this, [this] { Timer4Timer(); });
    HookFrameEvents();
}

void TForm1::BuildTransportRow() {
    struct TItem {
        TImage** image;
        const char* hover;
        void (TForm1::*click)();
    };
    const TItem items[] = {
        {&Image7, "Play", &TForm1::Image7Click},        {&Image9, "Pause", &TForm1::Image9Click},
        {&Image10, "Stop", &TForm1::Image10Click},      {&Image11, "Last", &TForm1::PlayPrevious},
        {&Image12, "Next", &TForm1::PlayNext},          {&Image13, "Open", &TForm1::Image13Click},
        {&Image14, "Settings", &TForm1::Image14Click},  {&Image15, "Equalizer", &TForm1::Image15Click},
        {&Image16, "About", &TForm1::Image16Click},     {&Image17, "MP3 playlist", &TForm1::Image17Click},
        {&Image18, "MP3 ID", &TForm1::Image18Click},
    };
    // Transport images from the left edge of the display, panel images up
    // to its right edge.
    int index = 0;
    for (const TItem& item : items) {
        auto* image = new TImage(this);
        const int left = index < 6 ? 20 + index * 22 : 350 - kTransportSize - (10 - index) * 22;
        image->setGeometry(left, kTransportTop, kTransportSize, kTransportSize);
        image->setCursor(Qt::PointingHandCursor);
        const QString hover = QString::fromLatin1(item.hover);
        image->OnEnter = [this, hover] { SetStatus(hover); };
        image->OnClick = [this, click = item.click] { (this->*click)(); };
        *item.image = image;
        ++index;
    }
}

void TForm1::HookFrameEvents() {
    installEventFilter(new TFrameEvents(this, [this](QEvent* event) {
        switch (event->type()) {
        case QEvent::Show:
            FormShow();
            return false;
        case QEvent::Close:
            // Closed by the window manager or the desktop: quit as "X" does
            // (the close itself waits until the quit ends the program).
            if (quitFinished_) return false;
            event->ignore();
            if (!quitting_) SpeedButton1Click();
            return true;
        case QEvent::MouseButtonPress: {
            // Only a press on the bare window; children handle their own.
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (childAt(mouse->position().toPoint()) != nullptr) return false;
            BackgroundMouseDown(this, mouse);
            return true;
        }
        case QEvent::MouseMove:
            if (dragOrigin_.x() == 0) return false;
            BackgroundMouseMove(static_cast<QMouseEvent*>(event));
            return true;
        case QEvent::MouseButtonRelease:
            if (dragOrigin_.x() == 0) return false;
            BackgroundMouseUp();
            return true;
        default:
            return false;
        }
    }));
}

void TForm1::FormCreate() {
    // The bars come from the display and equalizer panels; their changes
    // reach the player here unless those panels wired them already.
    if (ExTrackBar1) {
        if (!ExTrackBar1->OnChange) ExTrackBar1->OnChange = [this](TExTrackBar*) { ExTrackBar1Change(); };
        ExTrackBar1->SetPosition(100 - Controller->Volume());
    }
    if (ExTrackBar2) {
        if (!ExTrackBar2->OnChange) ExTrackBar2->OnChange = [this](TExTrackBar*) { ExTrackBar2Change(); };
        ExTrackBar2->SetPosition(Controller->Balance());
    }
    setAcceptDrops(true);  // the playlist takes the dropped files
    ClearMeterHistory();
    StartupTicks = 0;
    MeterTicks = 0;
    CurrentEntry = 0;
    EntryCount = 0;
    setFixedSize(kWindowWidth, kWindowHeight - kPanelHeight);
    PanelOpen = false;
    for (int band = 0; band < static_cast<int>(eqx.size()); ++band) {
        // Kept as the slider's hint; the sliders show no tool tips.
        if (eqx[band]) eqx[band]->setStatusTip(QString::number(RoundFreq(Controller->EqualizerFrequency(band))) + "Hz, 0db");
    }
    if (Image1) Image1->OnDblClick = [this] { showMinimized(); };

    LoadSettings();
    SetPlaylistRows(Extra.PlaylistRows);  // the list's height as it was left

    StatusIdle = 0;
    dragOrigin_ = QPoint();
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    SetStatus(QStringLiteral("Welcome!"));
    TitleText.clear();
    IdleSeconds = 0;
    ResetNotPlayed();

    Timer1->start();
    Timer3->start();
    Timer4->start();
}

void TForm1::FormShow() {
    if (IdleSeconds != 0 || firstShowDone_) return;
    firstShowDone_ = true;
    StartAboutAnimation();
    PlaceWindow();
    if (Image2 && Image8) Image8->setPixmap(Image2->pixmap());
    UpdateScrollButtons();

    if (!Arguments.isEmpty() && !Arguments.first().isEmpty()) {
        lastHandOffMs_ = ProcessStartMs();  // starts right after this one append their files
        ClearPlaylist();
        const QString& first = Arguments.first();
        if (Arguments.size() == 1 && IsListFilePath(first) && !IsStreamUrl(first)) {
            // Relative entries of the playlist name files beside it.
            QDir::setCurrent(QFileInfo(first).absolutePath());
            ReadList(first);
        } else {
            for (const QString& argument : Arguments) AddEntry(argument);
        }
        StartFirstEntry();
        return;
    }
    EntryCount = 0;
    if (Extra.ResumePlayback) {
        ResumeSession();
        return;
    }
    if (Settings.AutoloadPlaylist) {
        LoadDefaultPlaylist();
        if (EntryCount > 0) {
            StartFirstEntry();
            return;
        }
    }
    DrawBanner();  // nothing plays: the banner stands on the title strip
}

void TForm1::StartFirstEntry() { Controller->StartList(); }

// A stored position off the screen (left or top not less than its size)
// gives way to 155, 100; then the whole window is pulled into the screen.
void TForm1::PlaceWindow() {
    const QScreen* display = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSize size = display ? display->virtualSize() : QSize(kLeftPosition + 1, kTopPosition + 1);
    const int left = Settings.WindowLeft < size.width() ? Settings.WindowLeft : kLeftPosition;
    const int top = Settings.WindowTop < size.height() ? Settings.WindowTop : kTopPosition;
    move(left, top);
    KeepOnScreen();
    if (QWindow* window = windowHandle()) {
        connect(window, &QWindow::screenChanged, this, [this](QScreen* now) { WatchScreen(now); });
    }
    WatchScreen(screen());
}

void TForm1::WatchScreen(QScreen* display) {
    disconnect(screenWatch_);
    if (!display) return;
    screenWatch_ = connect(display, &QScreen::availableGeometryChanged, this, [this] { KeepOnScreen(); });
    KeepOnScreen();
}

// The whole window stays within the screen's available area (panels, task
// bars and docks excluded); the top left corner wins when it cannot fit.
void TForm1::KeepOnScreen() {
    const QScreen* display = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!display) return;
    const QRect area = display->availableGeometry();
    const QRect frame = frameGeometry();
    QPoint corner = frame.topLeft();
    corner.setX(std::max(std::min(corner.x(), area.right() + 1 - frame.width()), area.left()));
    corner.setY(std::max(std::min(corner.y(), area.bottom() + 1 - frame.height()), area.top()));
    if (corner != frame.topLeft()) move(pos() + (corner - frame.topLeft()));
}

void TForm1::Timer4Timer() {
    Settings.WindowLeft = static_cast<int16_t>(x());
    Settings.WindowTop = static_cast<int16_t>(y());
    if (TimeText.isEmpty() && StartupTicks == 2) SetDisplayLit(false);
    // A parked meter tick wakes for changes made elsewhere (meter colour,
    // peak marker option).
    if (meterTickParked_ && MeterTickHasWork()) WakeMeterTick();
    if (StartupTicks < 20) ++StartupTicks;
    ++IdleSeconds;
    if (IdleSeconds >= 130 && isActiveWindow() && Settings.Screensaver != 0 && Form2 && !Form2->isVisible()) {
        Form2->show();
    }
    if (TakeHandOff(ExeFolder()) == THandOff::Taken) {  // a failed one is tried again at the next tick
        LoadDefaultPlaylist();
        StartFirstEntry();
    }
}

void TForm1::SpeedButton1Click() { Quit(false); }

void TForm1::TogglePanel(QWidget* panel) {
    if (!panel) return;
    if (!panel->isHidden()) {
        panel->hide();
        setFixedSize(kWindowWidth, kWindowHeight - kPanelHeight);
        PanelOpen = false;
        return;
    }
    panel->show();
    for (QWidget* other : {Panel2, Panel3, Panel4, Panel17, Panel19}) {
        if (other && other != panel) other->hide();
    }
    // The playlist panel may be taller than the others.
    const QSize open(kWindowWidth, kPanelHeight + panel->height());
    if (!PanelOpen || size() != open) {
        setFixedSize(open);
        PanelOpen = true;
        KeepOnScreen();
    }
}

void TForm1::Image7Click() { playfile(); }

// The pictures follow the controller's state (ShowPlayState).
void TForm1::Image9Click() { Controller->Pause(); }

void TForm1::Image10Click() { Controller->Stop(); }

void TForm1::Image14Click() {
    TogglePanel(Panel4);
    if (!Panel4->isHidden()) QueryOutputs(false);  // sinks come and go
}
void TForm1::Image15Click() { TogglePanel(Panel2); }

void TForm1::Image16Click() {
    TogglePanel(Panel3);
    if (Panel3 && !Panel3->isHidden()) {
        MeterTicks = 0;  // the logo blinks
        WakeMeterTick();
    }
}

void TForm1::Image17Click() { TogglePanel(Panel19); }
void TForm1::Image18Click() { TogglePanel(Panel17); }

void TForm1::ExTrackBar1Change() {
    if (!ExTrackBar1) return;
    const int volume = 100 - ExTrackBar1->Position();
    Controller->SetVolume(volume);
    SetStatus("Volume " + QString::number(volume));
}

void TForm1::ExTrackBar2Change() {
    if (!ExTrackBar2) return;
    const int position = ExTrackBar2->Position();
    Controller->SetBalance(position * 182 / 100);  // truncates toward zero
    SetStatus("Balance " + QString::number(position));
}

void TForm1::HandleKeyDown(int key) {
    const bool playlistShown = Panel19 && !Panel19->isHidden();
    switch (key) {
    case Qt::Key_Up:
        if (!playlistShown && ExTrackBar1) ExTrackBar1->SetPosition(ExTrackBar1->Position() - 10);
        break;
    case Qt::Key_Down:
        if (!playlistShown && ExTrackBar1) ExTrackBar1->SetPosition(ExTrackBar1->Position() + 10);
        break;
    case Qt::Key_Right:
        if (!playlistShown) PlayNext();
        break;
    case Qt::Key_Left:
        if (!playlistShown) PlayPrevious();
        break;
    case Qt::Key_Space:
        Image9Click();
        break;
    default:
        break;
    }
}

void TForm1::RaiseWindow() {
    if (Form2 && Form2->isVisible()) Form2->hide();
    IdleSeconds = 2;
    showNormal();
    raise();
    activateWindow();
}

// Moving the window: the window manager's own move where the platform has
// one (Wayland knows no client-side positions), else by the pointer's steps.
void TForm1::BackgroundMouseDown(QWidget* source, QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint inWindow = source->mapTo(this, event->position().toPoint());
    if (inWindow.x() == 0) return;  // x = 0 stands for "no drag"
    if (QWindow* window = windowHandle(); window && window->startSystemMove()) return;
    dragOrigin_ = inWindow;
    dragGlobal_ = event->globalPosition().toPoint();
}

void TForm1::BackgroundMouseMove(QMouseEvent* event) {
    if (dragOrigin_.x() == 0) return;
    const QPoint now = event->globalPosition().toPoint();
    move(pos() + (now - dragGlobal_));
    dragGlobal_ = now;
}

void TForm1::BackgroundMouseUp() { dragOrigin_ = QPoint(); }

}  // namespace wl
