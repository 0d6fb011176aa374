#include "controls/vu_meter.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdlib>

namespace wl {

TVumeter::TVumeter(QObject* parent) : QObject(parent) {
    // One box at a time, shown without a nested event loop: a failure on
    // every new entry updates the open box instead of stacking more.
    messageBox_ = [this](const QString& text) {
        if (!box_) {
            box_ = new QMessageBox(QMessageBox::Warning, QApplication::applicationName(), text, QMessageBox::Ok);
            box_->setAttribute(Qt::WA_DeleteOnClose);
        }
        box_->setText(text);
        box_->show();
        box_->raise();
    };
}

TVumeter::~TVumeter() {
    Stop();
    delete box_.data();
}

void TVumeter::SetLevelSource(std::unique_ptr<TLevelSource> source) {
    Stop();
    source_ = std::move(source);
}

void TVumeter::Start() {
    // Called for every new entry: release what an earlier Start opened.
    Stop();
    if (!source_) {
        if (messageBox_) messageBox_(QStringLiteral("Unable to get mixer ID"));
        return;
    }
    switch (source_->Open()) {
    case TLevelSource::TOpenResult::Ok:
        started_ = true;
        break;
    case TLevelSource::TOpenResult::NoDevice:
        if (messageBox_) messageBox_(QStringLiteral("No Wave Devices to open"));
        break;
    case TLevelSource::TOpenResult::Unreachable:
        if (messageBox_) messageBox_(QStringLiteral("Unable to get mixer ID"));
        break;
    case TLevelSource::TOpenResult::Failed:
        break;
    }
}

int TVumeter::Read() {
    if (!started_ || !source_) return 0;
    int32_t left = 0, right = 0;
    int channels = 0;
    if (!source_->Read(left, right, channels)) return 0;
    leftPeak_ = Scale(left);
    if (channels == 2) rightPeak_ = Scale(right);
    return 0;
}

void TVumeter::Stop() {
    if (started_ && source_) source_->Close();
    started_ = false;
}

int TVumeter::Scale(int32_t value) {
    const int64_t v = value < 0 ? -static_cast<int64_t>(value) : value;
    return static_cast<int>(v / 180);
}

}  // namespace wl
