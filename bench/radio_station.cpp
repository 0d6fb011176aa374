// A local radio station for the benchmarks: icecast2 fed by ezstream (the
// test suite's harness) streaming tones in a loop. Prints the station's URL
// on a line of its own and runs until its standard input ends or it gets
// SIGTERM/SIGINT.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "tests/engine/icecast_server.h"

int main() {
    std::string why;
    if (!wl::test::TIcecastServer::Available(&why)) {
        std::fprintf(stderr, "wl_radio_station: %s\n", why.c_str());
        return 1;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    wl::test::TIcecastServer server;
    wl::test::TIcecastOptions options;
    options.files = server.MakeTracks(3, 20, &why);
    if (options.files.empty()) {
        std::fprintf(stderr, "wl_radio_station: %s\n", why.c_str());
        return 1;
    }
    if (!server.Start(options)) {
        std::fprintf(stderr, "wl_radio_station: %s\n", server.Error().c_str());
        return 1;
    }
    std::printf("%s\n", server.MountUrl().c_str());
    std::fflush(stdout);
    // Until stdin ends (a reader of our output that went away) or a signal.
    std::thread([&] {
        char c;
        while (::read(STDIN_FILENO, &c, 1) > 0) {
        }
        ::kill(::getpid(), SIGTERM);
    }).detach();
    int signal = 0;
    sigwait(&stop, &signal);
    server.Stop();
    return 0;
}
