#include "app/quit_signals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace wl {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kDefaultActionAfter = 3;  // pending, unread signals

int pipeEnds[2] = {-1, -1};
std::atomic<int> pending{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Async-signal-safe: write(), signal(), raise() and a lock-free atomic only.
void OnSignal(int signal) {
    const int savedErrno = errno;
    if (pending.fetch_add(1) + 1 >= kDefaultActionAfter) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    const unsigned char number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &number, 1);  // a full pipe has one waiting anyway
    errno = savedErrno;
}

}  // namespace

TQuitSignals::TQuitSignals(QObject* parent) : QObject(parent) {
    if (pipeEnds[0] >= 0 || ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    notifier_->setEnabled(false);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        unsigned char number = 0;
        while (::read(pipeEnds[0], &number, 1) == 1) {
            pending.store(0);
            emit Received(number);
        }
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

void TQuitSignals::StartDelivering() {
    if (notifier_) notifier_->setEnabled(true);
}

TQuitSignals::~TQuitSignals() {
    if (!notifier_) return;
    for (const int signal : kSignals) std::signal(signal, SIG_DFL);
    delete notifier_;
    notifier_ = nullptr;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
    pending.store(0);
}

const char* TQuitSignals::Name(int signal) {
    switch (signal) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}

}  // namespace wl
