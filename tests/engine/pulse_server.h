// A private PulseAudio server for the integration tests: a pulseaudio started
// with a null sink on a socket in a temporary folder, and stopped (and waited
// for) whatever happens.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/test_support.h"

namespace wl::test {

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    bool hadOld_ = false;
    std::string old_;
};

// A pulseaudio process of our own. The destructor stops it and waits for it.
class PulseServer {
public:
    PulseServer();
    ~PulseServer() { Stop(); }
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    void Stop();
    // Starts it again on the same socket (after Stop or Kill).
    bool Start();
    // Sends the signal and waits for the server to end (a crash, a restart).
    void Kill(int signal);
    // Runs pactl against this server; what it printed.
    std::string Pactl(const std::string& arguments) const;
    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::string Address() const { return "unix:" + socket_; }
    std::string LogText() const;

private:
    TempDir dir_;
    std::string socket_;
    pid_t pid_ = -1;
    std::string error_;
};

}  // namespace wl::test

// Skips without pulseaudio, fails when it does not start, and points the
// sound output at it for the rest of the scope.
#define REQUIRE_PULSE_SERVER(server)                                                         \
    if (!::wl::test::OnPath("pulseaudio")) GTEST_SKIP() << "pulseaudio is not installed";    \
    ::wl::test::PulseServer server;                                                          \
    ASSERT_TRUE(server.ok()) << server.error();                                              \
    ::wl::test::ScopedEnv pulseServerEnv("PULSE_SERVER", server.Address())
