// SIGTERM, SIGINT and SIGHUP (a logout, a kill, Ctrl-C, a closed terminal)
// as requests to quit, delivered through the event loop: the handler only
// writes the signal's number into a pipe, whose reading end the event loop
// watches. Should the loop not read them (it is stuck), the third pending
// signal takes the system's default action, so that the program can still be
// ended from outside.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace wl {

class TQuitSignals : public QObject {
    Q_OBJECT
public:
    // Catches the signals from now on; one object per process. Received is
    // emitted once StartDelivering has been called (for those caught before
    // too).
    explicit TQuitSignals(QObject* parent = nullptr);
    void StartDelivering();
    // The default actions again.
    ~TQuitSignals() override;
    bool Installed() const { return notifier_ != nullptr; }

    // The signal's name ("SIGTERM").
    static const char* Name(int signal);

signals:
    void Received(int signal);

private:
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace wl
