// The sound output choice: the sound server's sinks, asked for on a thread of
// their own (the server may be slow or away), in the options panel.
#include <QComboBox>

#include "app/form1.h"

namespace wl {

// A sink applies when the sound server is the output; WAVELANTERN_AUDIO
// naming another device (or a sink itself) wins.
bool TForm1::StoredOutputApplies() const {
    const QByteArray env = qgetenv("WAVELANTERN_AUDIO");
    return env.isEmpty() || env == "pulse";
}

void TForm1::ApplyOutputDevice() {
    if (!StoredOutputApplies()) return;
    Controller->SetOutputDevice(Extra.OutputDevice.isEmpty() ? std::string()
                                                             : "pulse:" + Extra.OutputDevice.toStdString());
}

void TForm1::QueryOutputs(bool reportMissing) {
    if (ComboBox3 && ComboBox3->count() == 1 && !Extra.OutputDevice.isEmpty()) {
        // Until the server answers, the stored choice shows as it is.
        ComboBox3->addItem(Extra.OutputDevice, Extra.OutputDevice);
        ComboBox3->setCurrentIndex(1);
    }
    if (!StoredOutputApplies() || !outputsQueried_.load()) return;
    if (outputsQuery_.joinable()) outputsQuery_.join();  // it has finished
    outputsQueried_.store(false);
    outputsQuery_ = std::thread([this, reportMissing] {
        std::vector<TOutputInfo> outputs;
        std::string error;
        const bool ok = ListPulseOutputs(outputs, error);
        QMetaObject::invokeMethod(
            this, [this, ok, outputs, reportMissing] { ShowOutputs(ok, outputs, reportMissing); },
            Qt::QueuedConnection);
        outputsQueried_.store(true);
    });
}

void TForm1::ShowOutputs(bool ok, const std::vector<TOutputInfo>& outputs, bool reportMissing) {
    if (!ComboBox3) return;
    const QString stored = Extra.OutputDevice;
    ComboBox3->clear();
    ComboBox3->addItem(QStringLiteral("Default"), QString());
    bool found = stored.isEmpty();
    for (const TOutputInfo& o : outputs) {
        const QString name = QString::fromStdString(o.Name);
        ComboBox3->addItem(o.Description.empty() ? name : QString::fromStdString(o.Description), name);
        found = found || name == stored;
    }
    // A stored sink that is not there now stays chosen (it may come back);
    // the default one plays meanwhile.
    if (!found) ComboBox3->addItem(stored + QStringLiteral(" (not there)"), stored);
    ComboBox3->setCurrentIndex(std::max(0, ComboBox3->findData(stored)));
    if (reportMissing && ok && !found) {
        SetStatus(QStringLiteral("Output \"%1\" is not there: playing on the default output").arg(stored));
    }
}

}  // namespace wl
