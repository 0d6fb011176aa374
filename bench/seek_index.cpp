// Figures of the frame index on a big file: how long opening takes, how long
// the index takes to build, what a far seek costs the host before and after it
// is complete, and how soon Close returns while it is being built.
//   wl_seek_index FILE.mp3
#include <chrono>
#include <cstdio>
#include <exception>
#include <thread>

#include "engine/audio_device.h"
#include "engine/mp3_player.h"

using namespace wl;
using Clock = std::chrono::steady_clock;

namespace {

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

std::unique_ptr<TMP3Player> OpenPaused(const char* path, double& openMs) {
    auto p = std::make_unique<TMP3Player>([] { return CreateNullAudioDevice(1); });
    p->SetAutoPlay(false);
    const auto t = Clock::now();
    p->SetFileName(path);
    openMs = MsSince(t);
    p->Play();
    p->Pause();
    return p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wl_seek_index FILE.mp3\n");
        return 2;
    }
    try {
        double openMs = 0;
        {
            auto p = OpenPaused(argv[1], openMs);
            const auto t = Clock::now();
            p->Seek(p->Length() * 9 / 10);
            std::printf("open %.1f ms; far seek before the index is complete: %.1f ms on the host\n", openMs,
                        MsSince(t));
        }
        {
            auto p = OpenPaused(argv[1], openMs);
            const auto t = Clock::now();
            while (!p->FrameIndexComplete()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::printf("index complete %.1f ms after opening (built in %.1f ms)\n", MsSince(t),
                        p->FrameIndexBuildMs());
            const auto s = Clock::now();
            p->Seek(p->Length() * 9 / 10);
            std::printf("far seek with the index: %.2f ms on the host\n", MsSince(s));
        }
        {
            auto p = OpenPaused(argv[1], openMs);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const bool building = !p->FrameIndexComplete();
            const auto t = Clock::now();
            p->Close();
            std::printf("close %s: %.2f ms\n", building ? "while indexing" : "(index was complete)", MsSince(t));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
