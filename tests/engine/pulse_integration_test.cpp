// The PulseAudio device against a private sound server (tests/pulse_server.h).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/audio_device.h"
#include "engine/sound_out.h"
#include "tests/engine/pulse_listen.h"
#include "tests/engine/pulse_server.h"
#include "tests/test_support.h"
#include "tests/wait_until.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

using test::WaitUntil;

std::vector<uint8_t> Tone(double seconds) {
    const std::vector<int16_t> pcm = test::SynthesizeSignal(44100, 2, seconds, 3);
    std::vector<uint8_t> out(pcm.size() * 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        out[2 * i] = static_cast<uint8_t>(pcm[i] & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>((static_cast<uint16_t>(pcm[i]) >> 8) & 0xFF);
    }
    return out;
}

TEST(PulseIntegrationTest, DevicePlaysPausesResetsAndSetsVolume) {
    REQUIRE_PULSE_SERVER(server);
    auto dev = CreatePulseAudioDevice();
    std::atomic<int> done{0};
    TPcmFormat format;
    const int rc = dev->Open(format, [&](TOutputBuffer* b) {
        EXPECT_FALSE(b->Queued.load());
        ++done;
    });
    ASSERT_EQ(rc, kOutputOk) << dev->ErrorText(rc) << "\n" << server.LogText();

    // Two seconds in four buffers of 500 ms.
    const std::vector<uint8_t> pcm = Tone(2.0);
    const uint32_t quarter = static_cast<uint32_t>(pcm.size() / 4);
    std::vector<uint8_t> copy = pcm;
    TOutputBuffer buffers[4];
    for (int i = 0; i < 4; ++i) {
        buffers[i].Data = copy.data() + i * quarter;
        buffers[i].BufferLength = buffers[i].Length = quarter;
        ASSERT_EQ(dev->Prepare(&buffers[i]), kOutputOk);
    }
    const auto t0 = Clock::now();
    for (auto& b : buffers) ASSERT_EQ(dev->Write(&b), kOutputOk) << dev->ErrorText(kOutputError);
    EXPECT_EQ(dev->Close(), kOutputStillPlaying);

    // Real per-channel volume on the server's stream.
    ASSERT_EQ(dev->SetVolume(0x8000u | (0xFFFFu << 16)), kOutputOk) << dev->ErrorText(kOutputError);
    uint32_t v = 0;
    ASSERT_EQ(dev->GetVolume(v), kOutputOk) << dev->ErrorText(kOutputError);
    EXPECT_NEAR(static_cast<int>(v & 0xFFFF), 32768, 2);
    EXPECT_NEAR(static_cast<int>(v >> 16), 65535, 2);

    // Pause after about half a second: the position stops and nothing more finishes.
    ASSERT_TRUE(WaitUntil([&] { return done.load() >= 1; }, 10000ms)) << "no buffer finished";
    ASSERT_EQ(dev->Pause(), kOutputOk);
    uint64_t p1 = 0, p2 = 0;
    ASSERT_EQ(dev->GetPosition(p1), kOutputOk);
    const int doneAtPause = done.load();
    EXPECT_GE(p1, quarter);
    EXPECT_LT(p1, pcm.size());
    std::this_thread::sleep_for(600ms);
    ASSERT_EQ(dev->GetPosition(p2), kOutputOk);
    EXPECT_LE(p2 - p1, 44100u * 4 / 50) << "more than 20 ms played while paused";
    EXPECT_LE(done.load(), doneAtPause + 1);
    ASSERT_EQ(dev->Restart(), kOutputOk);

    // Everything plays, in about real time.
    ASSERT_TRUE(WaitUntil([&] { return done.load() == 4; }, 15000ms)) << done.load() << " of 4 buffers finished";
    const auto elapsed = Clock::now() - t0;
    EXPECT_GE(elapsed, 1500ms) << "two seconds of sound were done far too early";
    ASSERT_EQ(dev->GetPosition(p2), kOutputOk);
    EXPECT_EQ(p2, pcm.size());

    // Reset hands back everything queued at once and starts counting again.
    for (auto& b : buffers) ASSERT_EQ(dev->Write(&b), kOutputOk);
    std::this_thread::sleep_for(200ms);
    const int beforeReset = done.load();
    const auto r0 = Clock::now();
    ASSERT_EQ(dev->Reset(), kOutputOk) << dev->ErrorText(kOutputError);
    EXPECT_EQ(done.load(), 8) << "Reset did not return every buffer";
    EXPECT_LT(Clock::now() - r0, 2s);
    EXPECT_GE(beforeReset, 4);
    ASSERT_EQ(dev->GetPosition(p1), kOutputOk);
    EXPECT_EQ(p1, 0u);
    // And plays again afterwards.
    ASSERT_EQ(dev->Write(&buffers[0]), kOutputOk);
    ASSERT_TRUE(WaitUntil([&] { return done.load() == 9; }, 10000ms));
    ASSERT_EQ(dev->GetPosition(p1), kOutputOk);
    EXPECT_EQ(p1, quarter);

    for (auto& b : buffers) EXPECT_EQ(dev->Unprepare(&b), kOutputOk);
    EXPECT_EQ(dev->Close(), kOutputOk);
}

TEST(PulseIntegrationTest, SoundOutPlaysTwoSecondsWithProgress) {
    REQUIRE_PULSE_SERVER(server);
    TSoundOut out("pulse");
    std::atomic<int> progress{0};
    out.SetOnProgress([&](TSoundOut*) { ++progress; });
    out.SetNotifyInterval(100);
    out.SetVolume(80);
    out.SetBalance(-20);
    ASSERT_NO_THROW(out.Open()) << server.LogText();

    const std::vector<uint8_t> pcm = Tone(2.0);
    size_t pos = 0;
    int64_t played = 0;
    TMPSimpleEvent room;
    const auto deadline = Clock::now() + 20s;
    while (pos < pcm.size() && Clock::now() < deadline) {
        pos += static_cast<size_t>(out.Write(pcm.data() + pos, static_cast<int32_t>(pcm.size() - pos)));
        played += out.GetDoneBytes();
        int32_t l, r;
        out.GetPeaks(l, r);
        if (pos < pcm.size()) {
            room.ResetEvent();
            out.SetWaiter(&room);
            room.WaitFor(50);
        }
    }
    ASSERT_EQ(pos, pcm.size());
    out.Pause();
    std::this_thread::sleep_for(300ms);
    const int progressWhilePaused = progress.load();
    std::this_thread::sleep_for(400ms);
    EXPECT_GT(progress.load(), progressWhilePaused) << "no progress while paused";
    out.Unpause();
    out.Flush();
    ASSERT_TRUE(WaitUntil([&] { return out.FreePercent() == 100; }, 15000ms)) << "the buffers never came back";
    out.WaitAllDone();
    played += out.GetDoneBytes();
    EXPECT_EQ(played, static_cast<int64_t>(pcm.size()));
    EXPECT_GE(progress.load(), 5);

    // Reset drops what is queued; WaitAllDone then returns at once.
    const std::vector<uint8_t> more = Tone(1.5);
    ASSERT_EQ(out.Write(more.data(), static_cast<int32_t>(more.size())), static_cast<int32_t>(more.size()));
    out.Reset();
    ASSERT_TRUE(WaitUntil([&] { return out.FreePercent() == 100; }, 5000ms));
    out.WaitAllDone();
    EXPECT_EQ(out.GetDoneBytes(), 0);
    out.Close();
    EXPECT_FALSE(out.Active());
}

// An output fed with a tone by a thread of its own, its played bytes summed
// by the test thread, and its connection news recorded. Calls on the output
// take `lock` (as the player's output lock serialises them).
class FedOutput {
public:
    explicit FedOutput(const std::string& device) : out(device) {
        out.SetOnOutputState([this](bool waiting, const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            states.emplace_back(waiting, text);
        });
    }
    ~FedOutput() { StopFeeding(); }

    void Start() {
        out.Open();
        feeder = std::thread([this] {
            const std::vector<uint8_t> pcm = Tone(1.0);
            size_t pos = 0;
            TMPSimpleEvent room;
            while (!stop.load()) {
                {
                    std::lock_guard<std::mutex> hold(lock);
                    pos += static_cast<size_t>(out.Write(pcm.data() + pos, static_cast<int32_t>(pcm.size() - pos)));
                    if (pos == pcm.size()) pos = 0;
                    room.ResetEvent();
                    out.SetWaiter(&room);
                }
                room.WaitFor(50);
            }
            std::lock_guard<std::mutex> hold(lock);
            out.SetWaiter(nullptr);
        });
    }
    void StopFeeding() {
        stop.store(true);
        if (feeder.joinable()) feeder.join();
    }
    // Played so far, in ms.
    int64_t PlayedMs() {
        std::lock_guard<std::mutex> hold(lock);
        played += out.GetDoneBytes();
        return played * 1000 / (44100 * 4);
    }
    // Whether the last news said `waiting`, and how many there were.
    bool LastWaiting(size_t* count = nullptr) {
        std::lock_guard<std::mutex> lock(mutex);
        if (count) *count = states.size();
        return !states.empty() && states.back().first;
    }
    std::string Texts() {
        std::lock_guard<std::mutex> lock(mutex);
        std::string all;
        for (const auto& [waiting, text] : states) all += (waiting ? "[waiting] " : "[playing] ") + text + "\n";
        return all;
    }

    // Runs `f` on the output under the lock.
    template <class F>
    void Do(F f) {
        std::lock_guard<std::mutex> hold(lock);
        f(out);
    }

    TSoundOut out;
    std::mutex lock;
    std::mutex mutex;
    std::vector<std::pair<bool, std::string>> states;
    std::atomic<bool> stop{false};
    std::thread feeder;
    int64_t played = 0;
};

// The server killed under a playing output and started again: the output
// waits with its clock standing where the sound stopped, reconnects by
// itself and plays on from there.
TEST(PulseIntegrationTest, ServerRestartedWhilePlayingPlaysOnFromWhereTheSoundStopped) {
    REQUIRE_PULSE_SERVER(server);
    FedOutput fed("pulse");
    ASSERT_NO_THROW(fed.Start()) << server.LogText();
    ASSERT_TRUE(WaitUntil([&] { return fed.PlayedMs() >= 1000; }, 15000ms));
    const int64_t before = fed.PlayedMs();
    server.Kill(SIGKILL);
    ASSERT_TRUE(WaitUntil([&] { return fed.LastWaiting(); }, 5000ms)) << "the loss was not noticed";
    const int64_t frozen = fed.PlayedMs();
    EXPECT_NEAR(frozen, before, 100) << "the clock did not stop where the sound stopped";
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(fed.PlayedMs(), frozen) << "the clock ran on without a server";

    ASSERT_TRUE(server.Start()) << server.error();
    const auto up = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return !fed.LastWaiting(); }, 10000ms)) << fed.Texts();
    EXPECT_LT(Clock::now() - up, 2000ms) << "reconnected late";
    // Played on from where it stopped.
    ASSERT_TRUE(WaitUntil([&] { return fed.PlayedMs() >= frozen + 500; }, 5000ms)) << "no sound after the restart";
    test::MonitorRecorder recorder;
    ASSERT_TRUE(recorder.ok() && recorder.WaitForData(5000ms));
    std::this_thread::sleep_for(500ms);
    recorder.Stop();
    int32_t peak = 0;
    for (int16_t v : recorder.Samples()) peak = std::max(peak, std::abs(int32_t{v}));
    EXPECT_GT(peak, 1000) << "the restarted server hears silence";
    fed.StopFeeding();
    fed.out.Reset();
    EXPECT_NO_THROW(fed.out.Close());
}

// Paused across a restart: still paused after it, and plays on when
// unpaused. The sink in use unloaded: the default sink takes over. A sink
// that is not there at Open: the default one plays, and the output says so.
TEST(PulseIntegrationTest, PausedOutputAndLostSinkRecover) {
    REQUIRE_PULSE_SERVER(server);
    {
        FedOutput fed("pulse");
        ASSERT_NO_THROW(fed.Start());
        ASSERT_TRUE(WaitUntil([&] { return fed.PlayedMs() >= 500; }, 15000ms));
        fed.Do([](TSoundOut& o) { o.Pause(); });
        server.Kill(SIGTERM);
        ASSERT_TRUE(WaitUntil([&] { return fed.LastWaiting(); }, 5000ms));
        const int64_t frozen = fed.PlayedMs();
        ASSERT_TRUE(server.Start()) << server.error();
        ASSERT_TRUE(WaitUntil([&] { return !fed.LastWaiting(); }, 10000ms)) << fed.Texts();
        std::this_thread::sleep_for(400ms);
        EXPECT_LE(fed.PlayedMs(), frozen + 20) << "played while paused";
        fed.Do([](TSoundOut& o) { o.Unpause(); });
        EXPECT_TRUE(WaitUntil([&] { return fed.PlayedMs() >= frozen + 500; }, 5000ms)) << "no sound after unpausing";
        fed.StopFeeding();
        fed.out.Reset();
        fed.out.Close();
        // A closed output opens on the server it finds at its next Open.
        server.Kill(SIGKILL);
        ASSERT_TRUE(server.Start());
        ASSERT_NO_THROW(fed.out.Open());
        fed.out.Close();
    }
    const std::string module = server.Pactl("load-module module-null-sink sink_name=second");
    ASSERT_FALSE(module.empty()) << "pactl cannot load a sink";
    std::vector<TOutputInfo> outputs;
    std::string error;
    ASSERT_TRUE(ListPulseOutputs(outputs, error)) << error;
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[1].Name, "second");
    EXPECT_FALSE(outputs[1].Description.empty());
    EXPECT_TRUE(outputs[0].Default);
    {
        FedOutput fed("pulse:second");
        ASSERT_NO_THROW(fed.Start());
        ASSERT_TRUE(WaitUntil([&] { return fed.PlayedMs() >= 500; }, 15000ms));
        EXPECT_NE(server.Pactl("list short sink-inputs").find("\t1\t"), std::string::npos)
            << "not on the second sink (index 1): " << server.Pactl("list short sink-inputs");
        // Its sink unloaded: the server moves the stream to the default one,
        // or drops it and the output opens a new one there.
        server.Pactl("unload-module " + module.substr(0, module.find('\n')));
        const int64_t moved = fed.PlayedMs();
        EXPECT_TRUE(WaitUntil([&] { return fed.PlayedMs() >= moved + 500; }, 5000ms)) << fed.Texts();
        // The only sink unloaded: nothing to play on until one comes.
        server.Pactl("unload-module module-null-sink");
        ASSERT_TRUE(WaitUntil([&] { return fed.LastWaiting(); }, 5000ms)) << fed.Texts();
        const int64_t frozen = fed.PlayedMs();
        ASSERT_FALSE(server.Pactl("load-module module-null-sink sink_name=third").empty());
        EXPECT_TRUE(WaitUntil([&] { return fed.PlayedMs() >= frozen + 500; }, 10000ms))
            << "not playing on the new sink: " << fed.Texts();
        fed.StopFeeding();
        fed.out.Reset();
        fed.out.Close();
    }
    FedOutput missing("pulse:no-such-sink");
    ASSERT_NO_THROW(missing.Start());
    EXPECT_TRUE(WaitUntil([&] { return missing.PlayedMs() >= 300; }, 15000ms));
    EXPECT_NE(missing.Texts().find("\"no-such-sink\" is not there"), std::string::npos) << missing.Texts();
    missing.StopFeeding();
    missing.out.Reset();
    missing.out.Close();
}

TEST(PulseIntegrationTest, UnreachableServerFailsOpenWithAClearError) {
    test::TempDir dir;
    test::ScopedEnv env("PULSE_SERVER", "unix:" + dir.File("no-server-here"));
    TSoundOut out("pulse");
    EXPECT_EQ(out.Volume(), 100) << "no device volume to read: full volume";
    try {
        out.Open();
        FAIL() << "Open succeeded without a sound server";
    } catch (const EMP3Error& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("cannot connect to the sound server unix:", 0), 0u) << what;
        EXPECT_NE(what.find("no-server-here"), std::string::npos) << what;
        const std::string tail = "(TSoundOut.Open:WaveOutOpen)";
        ASSERT_GE(what.size(), tail.size());
        EXPECT_EQ(what.substr(what.size() - tail.size()), tail) << what;
    }
    EXPECT_FALSE(out.Active());
}

}  // namespace
}  // namespace wl
