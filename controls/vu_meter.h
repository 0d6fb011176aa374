// TVumeter: left and right peak levels, 0..182, of what the output device is
// playing, read from a level source the meter owns as an interface (the
// application adapts its sound output to it). Start connects to the source, Read takes one reading (every
// meter tick), Stop disconnects.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class QMessageBox;

namespace wl {

// Where the levels come from. Peaks are signed 16-bit sample values (or their
// magnitudes, up to 32768).
class TLevelSource {
public:
    enum class TOpenResult {
        Ok,
        NoDevice,     // the system has no output device
        Unreachable,  // the level source itself cannot be reached
        Failed,       // any other failure; reported by nothing
    };
    virtual ~TLevelSource() = default;
    virtual TOpenResult Open() = 0;
    // One reading; false when it failed. `channels` is 1 or 2.
    virtual bool Read(int32_t& left, int32_t& right, int& channels) = 0;
    virtual void Close() = 0;
};

class TVumeter : public QObject {
    Q_OBJECT
public:
    using MessageBoxHandler = std::function<void(const QString& text)>;

    explicit TVumeter(QObject* parent = nullptr);
    ~TVumeter() override;

    // The source stays owned by the meter; a Start in progress is stopped.
    void SetLevelSource(std::unique_ptr<TLevelSource> source);
    TLevelSource* LevelSource() const { return source_.get(); }
    // Shows Start's failure texts; defaults to a message box (one at a time).
    void SetMessageBox(MessageBoxHandler handler) { messageBox_ = std::move(handler); }

    // Connects to the source (reconnecting when already connected). With no
    // output device shows "No Wave Devices to open", with an unreachable
    // source "Unable to get mixer ID"; other failures are silent.
    void Start();
    // Updates the peaks from one reading; a failed reading changes nothing.
    // Always returns 0.
    int Read();
    void Stop();
    bool Started() const { return started_; }

    int LeftPeak() const { return leftPeak_; }
    int RightPeak() const { return rightPeak_; }

    // A signed peak value as a meter reading: |value| div 180.
    static int Scale(int32_t value);

private:
    std::unique_ptr<TLevelSource> source_;
    MessageBoxHandler messageBox_;
    QPointer<QMessageBox> box_;  // the default handler's, while shown
    bool started_ = false;
    int leftPeak_ = 0;
    int rightPeak_ = 0;
};

}  // namespace wl
