#include "tools/tool_guard.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <optional>

namespace wl::tools {

namespace {

volatile std::sig_atomic_t g_interrupted = 0;
int g_wakeRead = -1;
int g_wakeWrite = -1;

void OnInterrupt(int signal) {
    const int savedErrno = errno;
    if (g_interrupted) {
        // A second signal: whatever still holds the program up, end it the
        // default way.
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(signal, &dfl, nullptr);
        raise(signal);
    }
    g_interrupted = 1;
    const char byte = 1;
    // Non-blocking: a full pipe is readable already.
    [[maybe_unused]] const ssize_t written = ::write(g_wakeWrite, &byte, 1);
    errno = savedErrno;
}

struct Identity {
    dev_t device;
    ino_t inode;
    bool regular;
};

// `path` after every link ("-": the descriptor `standardFd`); none when it
// does not exist.
std::optional<Identity> Identify(const std::string& path, int standardFd) {
    struct stat st {};
    const int rc = path == "-" ? ::fstat(standardFd, &st) : ::stat(path.c_str(), &st);
    if (rc != 0) return std::nullopt;
    return Identity{st.st_dev, st.st_ino, S_ISREG(st.st_mode)};
}

}  // namespace

void InstallInterruptHandlers() {
    if (g_wakeRead >= 0) return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        g_wakeRead = fds[0];
        g_wakeWrite = fds[1];
    }
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: a blocking call returns EINTR
    for (const int signal : {SIGINT, SIGTERM}) {
        // A signal ignored on the way in (a background job's SIGINT) stays so.
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(signal, &sa, nullptr);
    }
}

bool Interrupted() { return g_interrupted != 0; }

int InterruptWakeFd() { return g_wakeRead; }

std::string OutputIsAnInput(const std::string& output, const std::vector<std::string>& inputs) {
    const auto out = Identify(output, STDOUT_FILENO);
    // Only a regular file is overwritten; writing into a device or a pipe
    // destroys nothing.
    if (!out || !out->regular) return {};
    for (const std::string& input : inputs) {
        const auto in = Identify(input, STDIN_FILENO);
        if (!in || in->device != out->device || in->inode != out->inode) continue;
        return "cannot write " + (output == "-" ? std::string("standard output") : output) + ": it is " +
               (input == "-" ? std::string("standard input") : "the input file " + input);
    }
    return {};
}

}  // namespace wl::tools
