#include "tests/engine/pulse_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tests/wait_until.h"
#include <vector>

namespace wl::test {
namespace {

using namespace std::chrono_literals;


// True when a connection to the Unix socket at `path` is accepted.
bool Accepts(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        ::close(fd);
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

ScopedEnv::ScopedEnv(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (hadOld_)
        ::setenv(name_, old_.c_str(), 1);
    else
        ::unsetenv(name_);
}

PulseServer::PulseServer() {
    if (dir_.path().empty()) {
        error_ = "no temporary folder";
        return;
    }
    socket_ = dir_.File("native");
    Start();
}

bool PulseServer::Start() {
    if (pid_ > 0) return true;
    error_.clear();
    ::unlink(socket_.c_str());
    const std::string runtime = dir_.File("runtime");
    ::mkdir(runtime.c_str(), 0700);
    const std::string log = dir_.File("pulse.log");
    // (Appended to, so that the log of a restarted server keeps the first run's.)
    const std::string protocol = "module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1";
    // Everything the child needs is built before fork: after it, only
    // async-signal-safe calls. A private home and runtime folder, no
    // session bus, output to the log. --system=false keeps it a per-user
    // server also as root (it then only warns).
    std::vector<std::string> args = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                     "--disallow-exit", "--use-pid-file=no", "--system=false",
                                     "--disable-shm=yes", "--realtime=no", "--high-priority=no",
                                     "--log-target=stderr", "--load=module-null-sink",
                                     "--load=" + protocol};
    std::vector<std::string> env = {"HOME=" + dir_.path(), "XDG_RUNTIME_DIR=" + dir_.path(),
                                    "XDG_CONFIG_HOME=" + dir_.path(), "PULSE_RUNTIME_PATH=" + runtime,
                                    "PULSE_STATE_PATH=" + runtime};
    if (const char* path = std::getenv("PATH")) env.push_back(std::string("PATH=") + path);
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) {
        error_ = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            ::close(fd);
        }
        ::execvpe("pulseaudio", argv.data(), envp.data());
        ::_exit(127);
    }
    // Parent: wait for the socket (or for the server to give up).
    const bool up = WaitUntil(
        [&] {
            struct stat st;
            // The socket file exists from bind() on; the server takes
            // connections only once it listens.
            if (::stat(socket_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && Accepts(socket_)) return true;
            int status;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return true;
            }
            return false;
        },
        20000ms);
    if (pid_ < 0) {
        error_ = "pulseaudio exited at once; its log:\n" + LogText();
    } else if (!up) {
        error_ = "pulseaudio did not create its socket within 20 s; its log:\n" + LogText();
    }
    return error_.empty();
}

void PulseServer::Kill(int signal) {
    if (pid_ <= 0) return;
    ::kill(pid_, signal);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

std::string PulseServer::Pactl(const std::string& arguments) const {
    const std::string command = "PULSE_SERVER=" + Address() + " pactl " + arguments + " 2>/dev/null";
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

void PulseServer::Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status;
    const bool gone = WaitUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, 10000ms);
    if (!gone) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

std::string PulseServer::LogText() const {
    const std::vector<uint8_t> bytes = ReadFileBytes(dir_.File("pulse.log"));
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace wl::test
