// A console tool run as a child process for the tests: its outputs into a
// log file, SIGINT and SIGTERM at their defaults.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace wl::test {

// A tool started with standard input from `inFd` and both outputs into `log`,
// with SIGINT and SIGTERM at their defaults whatever the test runner ignores.
class Child {
public:
    using Clock = std::chrono::steady_clock;

    Child(const std::vector<std::string>& args, int inFd, const std::string& log) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, inFd, STDIN_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        sigset_t none;
        sigset_t defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGINT);
        sigaddset(&defaults, SIGTERM);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&pid_, argv[0], &actions, &attr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }
    bool Running() {
        if (pid_ <= 0 || status_) return false;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
        return !status_;
    }
    // Waits for the end up to `seconds`, calling `tick` meanwhile (false from it
    // stops waiting); the exit status, or -1 when still running or signalled.
    template <class Tick>
    int Wait(double seconds, Tick tick) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (Running() && Clock::now() < deadline && tick()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return status_ && WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
    }
    int Wait(double seconds) {
        return Wait(seconds, [] { return true; });
    }
    // A line of /proc/PID/status ("SigCgt", "VmRSS"), its value text.
    std::string Status(const std::string& key) const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind(key + ":", 0) == 0) return line.substr(key.size() + 1);
        }
        return {};
    }
    // The tool catches SIGINT and SIGTERM: from now on a signal cannot kill it
    // the default way, whenever it comes.
    bool CatchesSignals() const {
        const std::string mask = Status("SigCgt");
        if (mask.empty()) return false;
        const unsigned long long bits = std::stoull(mask, nullptr, 16);
        return (bits >> (SIGINT - 1) & 1) && (bits >> (SIGTERM - 1) & 1);
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

inline bool WaitFor(double seconds, const std::function<bool()>& condition) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace wl::test
