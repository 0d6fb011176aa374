// Skeleton: the frame's creation order; filled in by the frame work.
#include <QTimer>

#include "app/app_folder.h"
#include "app/form1.h"

namespace wl {

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
    Form1 = this;
    MP3Player = std::make_unique<TMP3Player>();
    // Player events are posted by worker threads; run them on this thread.
    MP3Player->Messages().SetWakeCallback([this] {
        QMetaObject::invokeMethod(this, [this] { MP3Player->Messages().ProcessMessages(); }, Qt::QueuedConnection);
    });
    MP3Player->OnChangePosition = [this](TMP3Player*) { MP3PlayerChangePosition(); };
    MP3Player->OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason reason) { MP3PlayerEndPlay(reason); };
    Timer1 = new QTimer(this);
    Timer3 = new QTimer(this);
    Timer4 = new QTimer(this);
    BuildFrame();
    BuildDisplay();
    BuildOptionsPanel();
    BuildEqualizerPanel();
    BuildAboutPanel();
    BuildPlaylistPanel();
    BuildTagPanel();
    ApplySkin();
    FormCreate();
}

TForm1::~TForm1() {
    if (MP3Player) {
        MP3Player->Messages().SetWakeCallback({});
        if (MP3Player->Status() == mpsPlaying) MP3Player->Stop();
        MP3Player->Close();
    }
    if (Form1 == this) Form1 = nullptr;
}

QString TForm1::ExeFolder() const { return AppFolder(); }

void TForm1::BuildFrame() {
    setFixedSize(kWindowWidth, kWindowHeight);
    Panel1 = new QWidget(this);
    Panel1->setGeometry(20, 20, 330, 125);
    for (QWidget** panel : {&Panel2, &Panel3, &Panel4, &Panel17, &Panel19}) {
        *panel = new QWidget(this);
        (*panel)->setGeometry(0, kPanelHeight, kWindowWidth, kPanelHeight);
        (*panel)->hide();
    }
}

void TForm1::FormCreate() {}
void TForm1::FormShow() {}
void TForm1::Timer4Timer() {}
void TForm1::SpeedButton1Click() {}
void TForm1::TogglePanel(QWidget*) {}
void TForm1::Image7Click() { playfile(); }
void TForm1::Image9Click() {}
void TForm1::Image10Click() {}
void TForm1::Image14Click() { TogglePanel(Panel4); }
void TForm1::Image15Click() { TogglePanel(Panel2); }
void TForm1::Image16Click() { TogglePanel(Panel3); }
void TForm1::Image17Click() { TogglePanel(Panel19); }
void TForm1::Image18Click() { TogglePanel(Panel17); }
void TForm1::ExTrackBar1Change() {}
void TForm1::ExTrackBar2Change() {}
void TForm1::HandleKeyDown(int) {}

}  // namespace wl
