// The PulseAudio device against a private sound server (tests/pulse_server.h).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/audio_device.h"
#include "engine/sound_out.h"
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

TEST(PulseIntegrationTest, LosingTheServerReturnsEveryBufferAndReportsErrors) {
    REQUIRE_PULSE_SERVER(server);
    TSoundOut out("pulse");
    ASSERT_NO_THROW(out.Open()) << server.LogText();
    const std::vector<uint8_t> pcm = Tone(2.0);
    ASSERT_EQ(out.Write(pcm.data(), static_cast<int32_t>(pcm.size())), static_cast<int32_t>(pcm.size()));
    server.Stop();
    // Nothing will ever play now: the queued buffers must still come back.
    ASSERT_TRUE(WaitUntil([&] { return out.FreePercent() == 100; }, 10000ms)) << "buffers lost with the server";
    out.WaitAllDone();
    try {
        out.Write(pcm.data(), static_cast<int32_t>(pcm.size()));
        FAIL() << "writing to a lost server succeeded";
    } catch (const EMP3Error& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("the sound server dropped the stream: ", 0), 0u) << what;
        EXPECT_NE(what.find("(TSoundOut.WaveWrite)"), std::string::npos) << what;
    }
    const auto t0 = Clock::now();
    out.Close();
    EXPECT_LT(Clock::now() - t0, 5s);
    EXPECT_FALSE(out.Active());
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
