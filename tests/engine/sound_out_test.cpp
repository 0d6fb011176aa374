// TSoundOut on the null and WAV devices: buffering, back-pressure through the
// waiter, progress, reset, pause, volume arithmetic, errors, the level meter,
// and the devices themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/audio_device.h"
#include "engine/audio_device_null.h"
#include "engine/sound_out.h"
#include "tests/test_support.h"
#include "tests/wait_until.h"

namespace wl {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::WaitUntil;

constexpr int32_t kStereoBuffer = 88200;  // 500 ms of 44100 Hz 16-bit stereo

// A factory of devices that remembers the last one it made (the open one,
// after Open).
struct DeviceTap {
    std::atomic<TAudioDevice*> last{nullptr};
    TSoundOut::DeviceFactory Null(double speed) {
        return [this, speed] {
            auto d = CreateNullAudioDevice(speed);
            last = d.get();
            return d;
        };
    }
    TSoundOut::DeviceFactory Wav(const std::string& path, double speed) {
        return [this, path, speed] {
            auto d = CreateWavAudioDevice(path, speed);
            last = d.get();
            return d;
        };
    }
};

std::vector<uint8_t> ToBytes(const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> out(pcm.size() * 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        out[2 * i] = static_cast<uint8_t>(pcm[i] & 0xFF);
        out[2 * i + 1] = static_cast<uint8_t>((static_cast<uint16_t>(pcm[i]) >> 8) & 0xFF);
    }
    return out;
}

// Writes everything, waiting through the waiter whenever the buffers are full.
void WriteAll(TSoundOut& out, const uint8_t* data, size_t count) {
    TMPSimpleEvent room;
    while (count > 0) {
        const int32_t n = out.Write(data, static_cast<int32_t>(std::min<size_t>(count, 1 << 20)));
        data += n;
        count -= static_cast<size_t>(n);
        if (count > 0) {
            room.ResetEvent();
            out.SetWaiter(&room);
            ASSERT_EQ(room.WaitFor(10000), kWaitObject0) << "no room came back within 10 s";
        }
    }
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }

// ------------------------------------------------------------------ buffering

TEST(SoundOutTest, BufferSizeHoldsHalfASecondRoundedUpToFour) {
    DeviceTap tap;
    TSoundOut out(tap.Null(20));
    EXPECT_EQ(out.BufferSize(), kStereoBuffer);
    out.SetChannels(1);
    out.SetSampleRate(22050);
    EXPECT_EQ(out.BufferSize(), 22052);  // 22050 bytes, rounded up to a multiple of 4
    out.SetBitsPerSample(8);
    out.SetSampleRate(11025);
    EXPECT_EQ(out.BufferSize(), 5512);
    // Out-of-range settings are ignored.
    out.SetChannels(3);
    out.SetBitsPerSample(12);
    out.SetSampleRate(0);
    EXPECT_EQ(out.Channels(), 1);
    EXPECT_EQ(out.BitsPerSample(), 8);
    EXPECT_EQ(out.SampleRate(), 11025);
}

TEST(SoundOutTest, FreshOutputAcceptsExactlyFourBuffersOfATenSecondWrite) {
    DeviceTap tap;
    TSoundOut out(tap.Null(1));
    EXPECT_EQ(out.FreePercent(), 0) << "closed";
    out.Open();
    ASSERT_TRUE(out.Active());
    EXPECT_EQ(out.FreePercent(), 100);
    out.Pause();  // nothing may come back while we look
    std::vector<uint8_t> tenSeconds(44100 * 4 * 10, 0x11);
    EXPECT_EQ(out.Write(tenSeconds.data(), static_cast<int32_t>(tenSeconds.size())), 4 * kStereoBuffer);
    EXPECT_EQ(out.FreePercent(), 0);
    EXPECT_FALSE(out.CanWrite());
    EXPECT_EQ(out.Write(tenSeconds.data(), 100), 0);

    // Reset gives every buffer back at once, even while paused.
    const auto t0 = Clock::now();
    out.Reset();
    out.WaitAllDone();
    EXPECT_LT(Clock::now() - t0, 5s);
    EXPECT_EQ(out.FreePercent(), 100);
    EXPECT_EQ(out.GetDoneBytes(), 0);
    out.Unpause();
    out.Close();
    EXPECT_FALSE(out.Active());
}

TEST(SoundOutTest, FreePercentCountsTheBufferBeingFilled) {
    DeviceTap tap;
    TSoundOut out(tap.Null(1));
    out.Open();
    out.Pause();
    std::vector<uint8_t> half(kStereoBuffer / 2, 0);
    ASSERT_EQ(out.Write(half.data(), static_cast<int32_t>(half.size())), kStereoBuffer / 2);
    EXPECT_EQ(out.FreePercent(), 87);  // (4 - 0.5) / 4 = 87.5 %, truncated
    std::vector<uint8_t> more(kStereoBuffer, 0);
    ASSERT_EQ(out.Write(more.data(), static_cast<int32_t>(more.size())), kStereoBuffer);
    EXPECT_EQ(out.FreePercent(), 62);  // one queued, half of the next filled: 62.5 %
    out.Reset();
    out.WaitAllDone();
    out.Close();
}

TEST(SoundOutTest, WritingToAClosedOutputTakesNothing) {
    DeviceTap tap;
    TSoundOut out(tap.Null(20));
    uint8_t data[64] = {};
    EXPECT_FALSE(out.CanWrite());
    EXPECT_EQ(out.Write(data, sizeof data), 0);
    EXPECT_EQ(out.GetDoneBytes(), 0);
    out.Flush();
    out.Reset();
    out.Pause();
    out.Close();  // all of these are no-ops when closed
}

TEST(SoundOutTest, WaiterIsSetWhenABufferComesBack) {
    DeviceTap tap;
    TSoundOut out(tap.Null(1));
    out.Open();
    out.Pause();
    std::vector<uint8_t> data(4 * kStereoBuffer, 0);
    ASSERT_EQ(out.Write(data.data(), static_cast<int32_t>(data.size())), 4 * kStereoBuffer);
    TMPSimpleEvent room;
    out.SetWaiter(&room);
    EXPECT_EQ(room.WaitFor(100), kWaitTimeout) << "full and paused: no room yet";
    out.Unpause();  // the first buffer finishes after 500 ms
    EXPECT_EQ(room.WaitFor(10000), kWaitObject0);
    EXPECT_TRUE(out.CanWrite());
    // With room already there, the waiter is set at once.
    TMPSimpleEvent now;
    out.SetWaiter(&now);
    EXPECT_EQ(now.WaitFor(0), kWaitObject0);
    out.Reset();
    out.Close();
}

// ------------------------------------------------------------------ progress

TEST(SoundOutTest, ProgressKeepsComingWhilePaused) {
    DeviceTap tap;
    TSoundOut out(tap.Null(1));
    std::mutex mu;
    std::vector<Clock::time_point> calls;
    std::atomic<bool> onOtherThread{true};
    const auto mainThread = std::this_thread::get_id();
    out.SetOnProgress([&](TSoundOut* sender) {
        if (sender != &out || std::this_thread::get_id() == mainThread) onOtherThread = false;
        std::lock_guard<std::mutex> lock(mu);
        calls.push_back(Clock::now());
    });
    out.SetNotifyInterval(100);
    out.Open();
    std::vector<uint8_t> data(kStereoBuffer, 0);
    ASSERT_EQ(out.Write(data.data(), kStereoBuffer), kStereoBuffer);  // one buffer queued
    out.Pause();
    std::this_thread::sleep_for(800ms);
    {
        std::lock_guard<std::mutex> lock(mu);
        EXPECT_GE(calls.size(), 4u) << "about 8 expected in 800 ms";
        EXPECT_LE(calls.size(), 9u);
        for (size_t i = 1; i < calls.size(); ++i)
            EXPECT_GE(calls[i] - calls[i - 1], 90ms) << "notifications come at most every interval";
    }
    EXPECT_TRUE(onOtherThread.load());
    // No interval: no notifications.
    out.SetNotifyInterval(-1);
    std::this_thread::sleep_for(50ms);
    size_t before;
    {
        std::lock_guard<std::mutex> lock(mu);
        before = calls.size();
    }
    std::this_thread::sleep_for(300ms);
    {
        std::lock_guard<std::mutex> lock(mu);
        EXPECT_EQ(calls.size(), before);
    }
    out.Reset();
    out.Close();
}

TEST(SoundOutTest, ErrorsOnTheOutputThreadGoToOnError) {
    DeviceTap tap;
    TSoundOut out(tap.Null(1));
    std::atomic<int> errors{0};
    std::string text;
    std::mutex mu;
    out.SetOnProgress([](TSoundOut*) { throw EMP3Error("progress failed"); });
    out.SetOnError([&](void*, const std::exception& e, bool& handled) {
        std::lock_guard<std::mutex> lock(mu);
        text = e.what();
        handled = true;
        ++errors;
    });
    out.SetNotifyInterval(20);
    out.Open();
    std::vector<uint8_t> data(kStereoBuffer, 0);
    out.Write(data.data(), kStereoBuffer);
    out.Pause();
    ASSERT_TRUE(WaitUntil([&] { return errors.load() >= 2; })) << "the thread kept running after an error";
    {
        std::lock_guard<std::mutex> lock(mu);
        EXPECT_EQ(text, "progress failed");
    }
    out.SetOnProgress(nullptr);
    out.Reset();
    out.Close();
}

// ------------------------------------------------------------------ the pipeline

// Plays PCM the way the player does: a decoding loop thread writes under an
// output lock and parks itself on the waiter when the buffers are full, while
// the main thread polls the played bytes and the meter under the same lock.
class Producer : public TMPMessageOwner {
public:
    Producer(TSoundOut& out, TMPSimpleMutex& lock, const std::vector<uint8_t>& data)
        : out_(out), lock_(lock), data_(data) {}
    void Dispatch(TMessage& m) override {
        if (m.Msg != MPM_THREADSTEP) return;
        std::lock_guard<TMPSimpleMutex> guard(lock_);
        if (pos_ == data_.size()) {
            out_.SetWaiter(nullptr);
            out_.Flush();
            out_.WaitAllDone();
            thread->RunEvent().ResetEvent();
            finished.SetEvent();
            return;
        }
        if (out_.CanWrite()) {
            // Odd-sized pieces, so buffer boundaries fall inside them.
            const size_t piece = std::min<size_t>(4609, data_.size() - pos_);
            pos_ += static_cast<size_t>(out_.Write(data_.data() + pos_, static_cast<int32_t>(piece)));
        } else {
            thread->RunEvent().ResetEvent();
            out_.SetWaiter(&thread->RunEvent());
        }
    }
    TMPLoopThread* thread = nullptr;
    TMPSimpleEvent finished;

private:
    TSoundOut& out_;
    TMPSimpleMutex& lock_;
    const std::vector<uint8_t>& data_;
    size_t pos_ = 0;
};

TEST(SoundOutTest, WavFileHoldsExactlyWhatWasWrittenAndDoneBytesAddUp) {
    test::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string path = dir.File("out.wav");
    // 3.1 s: more than the four buffers, so the producer has to wait for room;
    // the length is not a whole number of buffers, so Flush queues a part.
    const std::vector<uint8_t> pcm = ToBytes(test::SynthesizeSignal(44100, 2, 3.1, 7));
    DeviceTap tap;
    TSoundOut out(tap.Wav(path, 20));
    std::atomic<int> progress{0};
    out.SetOnProgress([&](TSoundOut*) { ++progress; });
    out.SetNotifyInterval(10);
    TMPSimpleMutex outputLock;
    out.Open();

    Producer producer(out, outputLock, pcm);
    TMPLoopThread decoder(&producer);
    producer.thread = &decoder;
    decoder.Start();
    decoder.RunEvent().SetEvent();

    int64_t played = 0;
    const auto deadline = Clock::now() + 30s;
    while (producer.finished.WaitFor(3) == kWaitTimeout && Clock::now() < deadline) {
        std::lock_guard<TMPSimpleMutex> guard(outputLock);
        played += out.GetDoneBytes();
        int32_t l, r;
        out.GetPeaks(l, r);
        EXPECT_LE(l, 32768);
        EXPECT_GE(out.FreePercent(), 0);
    }
    ASSERT_EQ(producer.finished.WaitFor(0), kWaitObject0) << "playback did not finish";
    {
        std::lock_guard<TMPSimpleMutex> guard(outputLock);
        played += out.GetDoneBytes();
        EXPECT_EQ(out.FreePercent(), 100);
    }
    EXPECT_EQ(played, static_cast<int64_t>(pcm.size()));
    EXPECT_GT(progress.load(), 0);
    decoder.Terminate();
    out.Close();

    bool ok = false;
    const std::vector<uint8_t> file = test::ReadFileBytes(path, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(file.size(), 44 + pcm.size());
    EXPECT_EQ(std::memcmp(file.data(), "RIFF", 4), 0);
    EXPECT_EQ(Le32(file.data() + 4), 36 + pcm.size());
    EXPECT_EQ(std::memcmp(file.data() + 8, "WAVEfmt ", 8), 0);
    EXPECT_EQ(Le16(file.data() + 20), 1u);
    EXPECT_EQ(Le16(file.data() + 22), 2u);
    EXPECT_EQ(Le32(file.data() + 24), 44100u);
    EXPECT_EQ(Le32(file.data() + 28), 44100u * 4);
    EXPECT_EQ(Le16(file.data() + 32), 4u);
    EXPECT_EQ(Le16(file.data() + 34), 16u);
    EXPECT_EQ(std::memcmp(file.data() + 36, "data", 4), 0);
    EXPECT_EQ(Le32(file.data() + 40), pcm.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), file.begin() + 44)) << "the audio differs from what was written";
}

TEST(SoundOutTest, WavFileOfOddLengthIsPadded) {
    test::TempDir dir;
    const std::string path = dir.File("odd.wav");
    DeviceTap tap;
    TSoundOut out(tap.Wav(path, 50));
    out.SetChannels(1);
    out.SetBitsPerSample(8);
    out.SetSampleRate(8000);
    out.Open();
    std::vector<uint8_t> pcm(1001);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i * 7);
    WriteAll(out, pcm.data(), pcm.size());
    out.Close();  // flushes the partial buffer and waits for it
    const std::vector<uint8_t> file = test::ReadFileBytes(path);
    ASSERT_EQ(file.size(), 44u + 1001 + 1);
    EXPECT_EQ(Le32(file.data() + 4), 36u + 1001 + 1);
    EXPECT_EQ(Le32(file.data() + 40), 1001u);
    EXPECT_EQ(Le16(file.data() + 34), 8u);
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), file.begin() + 44));
}

TEST(SoundOutTest, CloseWhilePausedPlaysOutInsteadOfHanging) {
    DeviceTap tap;
    TSoundOut out(tap.Null(20));
    out.Open();
    std::vector<uint8_t> data(kStereoBuffer * 2 + 400, 3);
    WriteAll(out, data.data(), data.size());
    out.Pause();
    const auto t0 = Clock::now();
    out.Close();
    EXPECT_LT(Clock::now() - t0, 10s);
    EXPECT_FALSE(out.Active());
}

// ------------------------------------------------------------------ volume

TEST(SoundOutTest, BalanceAndVolumeReachTheDevice) {
    DeviceTap tap;
    TSoundOut out(tap.Null(20));
    EXPECT_EQ(out.Volume(), 100) << "the null device starts at full volume";
    out.SetVolume(100);
    out.SetBalance(50);
    out.Open();
    uint32_t v = 0;
    ASSERT_EQ(tap.last.load()->GetVolume(v), kOutputOk);
    EXPECT_EQ(v & 0xFFFF, 32768u);
    EXPECT_EQ(v >> 16, 65535u);

    out.SetBalance(-100);  // silences the right channel
    ASSERT_EQ(tap.last.load()->GetVolume(v), kOutputOk);
    EXPECT_EQ(v & 0xFFFF, 65535u);
    EXPECT_EQ(v >> 16, 0u);

    out.SetBalance(100);
    out.SetVolume(50);  // v = (50 * 65535 + 50) div 100 = 32768
    ASSERT_EQ(tap.last.load()->GetVolume(v), kOutputOk);
    EXPECT_EQ(v & 0xFFFF, 0u);
    EXPECT_EQ(v >> 16, 32768u);

    out.SetVolume(101);  // out of range: ignored
    out.SetBalance(-101);
    EXPECT_EQ(out.Volume(), 50);
    EXPECT_EQ(out.Balance(), 100);
    out.Close();
}

TEST(SoundOutTest, VolumeArithmetic) {
    EXPECT_EQ(TSoundOut::DeviceVolume(100, 50), 32768u | (65535u << 16));
    EXPECT_EQ(TSoundOut::DeviceVolume(100, 0), 0xFFFFFFFFu);
    EXPECT_EQ(TSoundOut::DeviceVolume(0, 0), 0u);
    // Volume 1: v = (65535 + 50) div 100 = 655; balance -50: right = (50 * 655 + 50) div 100 = 328.
    EXPECT_EQ(TSoundOut::DeviceVolume(1, -50), 655u | (328u << 16));
}

// ------------------------------------------------------------------ errors

class FailingDevice : public TNullAudioDevice {
public:
    FailingDevice() : TNullAudioDevice(20) {}
    int Write(TOutputBuffer*) override { return Fail(kOutputError, "the disk is on fire"); }
    // Pause and Cut stop the device by resetting it.
    int ResetAt(uint64_t&) override { return 999; }  // a code without any text
    int SetVolume(uint32_t) override { return kOutputNotSupported; }
};

TEST(SoundOutTest, DeviceErrorsCarryTheTextAndTheOperation) {
    TSoundOut out(TSoundOut::DeviceFactory([] { return std::make_unique<FailingDevice>(); }));
    out.Open();  // "not supported" from the volume call is ignored
    std::vector<uint8_t> data(kStereoBuffer, 0);
    try {
        out.Write(data.data(), kStereoBuffer);
        FAIL() << "the failing write was not reported";
    } catch (const EMP3Error& e) {
        EXPECT_STREQ(e.what(), "the disk is on fire(TSoundOut.WaveWrite)");
    }
    EXPECT_EQ(out.FreePercent(), 100) << "the buffer that failed is not counted as queued";
    try {
        out.Pause();
        FAIL() << "the failing pause was not reported";
    } catch (const EMP3Error& e) {
        EXPECT_STREQ(e.what(), "unknown wave out API error.(TSoundOut.Pause)");
    }
    const auto t0 = Clock::now();
    out.Close();  // nothing queued: returns at once
    EXPECT_LT(Clock::now() - t0, 5s);
}

TEST(SoundOutTest, FailedOpenLeavesTheOutputClosed) {
    TSoundOut out("no-such-device");
    try {
        out.Open();
        FAIL() << "opening an unknown device succeeded";
    } catch (const EMP3Error& e) {
        EXPECT_STREQ(e.what(),
                     "unknown sound output \"no-such-device\" (use pulse, null or wav:PATH)"
                     "(TSoundOut.Open:WaveOutOpen)");
    }
    EXPECT_FALSE(out.Active());
    EXPECT_EQ(out.FreePercent(), 0);

    TSoundOut wav("wav:/nonexistent-dir/x/out.wav");
    try {
        wav.Open();
        FAIL() << "opening an unwritable WAV file succeeded";
    } catch (const EMP3Error& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("cannot create /nonexistent-dir/x/out.wav: ", 0), 0u) << what;
        EXPECT_NE(what.find("(TSoundOut.Open:WaveOutOpen)"), std::string::npos) << what;
    }
    EXPECT_FALSE(wav.Active());
}

// ------------------------------------------------------------------ level meter

// Each 10 ms segment k holds left = 100 k and right = -50 k. After a pause
// the device has played a faded tail of at most kRampMs from the pause point,
// so the meter shows a segment value between those at the tail's two ends.
TEST(SoundOutTest, PeaksFollowThePlayPosition) {
    DeviceTap tap;
    TSoundOut out(tap.Null(1));
    out.Open();
    const int frames = 44100 * 2;  // 2 s: fits the four buffers
    std::vector<int16_t> pcm(static_cast<size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const int k = i / 441;
        pcm[2 * i] = static_cast<int16_t>(100 * k);
        pcm[2 * i + 1] = static_cast<int16_t>(-50 * k);
    }
    const std::vector<uint8_t> bytes = ToBytes(pcm);
    out.Pause();
    int32_t l = -1, r = -1;
    ASSERT_EQ(out.Write(bytes.data(), static_cast<int32_t>(bytes.size())), static_cast<int32_t>(bytes.size()));
    out.GetPeaks(l, r);
    EXPECT_EQ(l, 0) << "nothing has played yet";
    EXPECT_EQ(r, 0);
    out.Unpause();
    std::this_thread::sleep_for(300ms);
    out.Pause();
    // Wait for the tail to be played: then the position is frozen.
    int64_t position = out.GetDoneBytes();
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(20ms);
        const int64_t more = out.GetDoneBytes();
        if (more == 0) break;
        position += more;
    }
    ASSERT_GT(position, 44100 * 4 / 10);
    const int lastFrame = static_cast<int>(position / 4) - 1;
    const int firstTailFrame = std::max(0, lastFrame - 44100 * TSoundOut::kRampMs / 1000);
    out.GetPeaks(l, r);
    EXPECT_GE(l, 100 * (firstTailFrame / 441) - 1);  // the fade starts just below 1
    EXPECT_LE(l, 100 * (lastFrame / 441));
    EXPECT_GE(r, 50 * (firstTailFrame / 441) - 1);
    EXPECT_LE(r, 50 * (lastFrame / 441));
    out.Reset();
    out.GetPeaks(l, r);
    EXPECT_EQ(l, 0) << "after a reset nothing is playing";
    out.Close();
    out.GetPeaks(l, r);
    EXPECT_EQ(l, 0);
}

TEST(SoundOutTest, PeaksOfEightBitAndFullScale) {
    DeviceTap tap;
    TSoundOut out(tap.Null(10));
    out.SetChannels(1);
    out.SetBitsPerSample(8);
    out.SetSampleRate(8000);
    out.Open();
    std::vector<uint8_t> pcm(8000, 0x40);  // 0x40 - 0x80 = -64 -> 16384
    pcm[7990] = 0x00;                      // -128 -> full scale 32768, inside the last 40 ms
    ASSERT_EQ(out.Write(pcm.data(), 8000), 8000);
    out.Flush();
    ASSERT_TRUE(WaitUntil([&] { return out.FreePercent() == 100; }));
    int32_t l, r;
    out.GetPeaks(l, r);
    EXPECT_EQ(l, 32768);
    EXPECT_EQ(r, 32768) << "mono: both meters show the one channel";
    out.Close();
}

// ------------------------------------------------------------------ output stage

// A 16-bit stereo sine of `frames` frames from frame `from` on, as bytes.
std::vector<uint8_t> Sine(size_t from, size_t frames, double amplitude) {
    std::vector<int16_t> pcm(frames * 2);
    for (size_t i = 0; i < frames; ++i)
        pcm[2 * i] = pcm[2 * i + 1] = static_cast<int16_t>(
            std::lrint(amplitude * std::sin(2 * 3.14159265358979323846 * 440.0 * double(from + i) / 44100)));
    std::vector<uint8_t> bytes(pcm.size() * 2);
    std::memcpy(bytes.data(), pcm.data(), bytes.size());
    return bytes;
}

int32_t MaxStep(const std::vector<int16_t>& s) {
    int32_t step = 0;
    for (size_t i = 2; i < s.size(); ++i) step = std::max(step, std::abs(int32_t{s[i]} - s[i - 2]));
    return step;
}

// The WAV device keeps what was heard: around a pause, a resume and a cut the
// sound fades instead of jumping, and a cut drops what was queued at once.
TEST(SoundOutStageTest, PauseResumeAndCutFadeInsteadOfJumping) {
    test::TempDir dir;
    const std::string wav = dir.File("heard.wav");
    TSoundOut out([&] { return CreateWavAudioDevice(wav, 4); });
    out.Open();
    const std::vector<uint8_t> first = Sine(0, 44100 * 3 / 2, 20000);
    ASSERT_EQ(out.Write(first.data(), static_cast<int32_t>(first.size())), static_cast<int32_t>(first.size()));
    std::this_thread::sleep_for(60ms);  // about 240 ms played
    out.Pause();
    EXPECT_TRUE(out.Paused());
    std::this_thread::sleep_for(60ms);
    out.Unpause();
    std::this_thread::sleep_for(60ms);
    const int64_t before = out.GetDoneBytes();
    out.Cut();
    // Something else, starting at its loudest.
    const std::vector<uint8_t> second = Sine(25, 44100 / 2, 20000);
    ASSERT_EQ(out.Write(second.data(), static_cast<int32_t>(second.size())), static_cast<int32_t>(second.size()));
    out.Flush();
    out.WaitAllDone();
    EXPECT_EQ(out.GetDoneBytes(), static_cast<int64_t>(second.size())) << "the tail does not count";
    out.Close();

    std::vector<uint8_t> bytes = test::ReadFileBytes(wav);
    ASSERT_GT(bytes.size(), 44u);
    std::vector<int16_t> heard((bytes.size() - 44) / 2);
    std::memcpy(heard.data(), bytes.data() + 44, heard.size() * 2);
    const std::vector<int16_t> tone = test::BytesToPcm16(first);
    EXPECT_LE(MaxStep(heard), MaxStep(tone)) << "a jump at the pause, the resume or the cut";
    // The old sound stopped at the cut (plus its 5 ms tail); the new one follows whole.
    const size_t ramp = 44100 * TSoundOut::kRampMs / 1000 * 2;
    ASSERT_GE(heard.size(), second.size() / 2 + ramp);
    const size_t oldPart = heard.size() - second.size() / 2;
    EXPECT_LT(oldPart * 2, first.size()) << "the queued old sound played on";
    EXPECT_GE(static_cast<int64_t>(oldPart * 2), before);
    EXPECT_TRUE(std::equal(heard.end() - static_cast<std::ptrdiff_t>(second.size() / 2 - ramp), heard.end(),
                           test::BytesToPcm16(second).begin() + static_cast<std::ptrdiff_t>(ramp)));
}

// What the WAV device hears of the gain stage: at 1 even full-scale PCM is
// left alone; above 1 the limiter's delay line is kept across a pause and
// emptied by Flush, so every frame is heard once, below full scale; a cut
// drops what it delays.
TEST(SoundOutStageTest, GainStageHearsEveryFrameOnce) {
    test::TempDir dir;
    const std::string wav = dir.File("stage.wav");
    TSoundOut out([&] { return CreateWavAudioDevice(wav, 8); });
    out.Open();
    const auto play = [&](const std::vector<int16_t>& pcm) {
        ASSERT_EQ(out.Write(pcm.data(), static_cast<int32_t>(pcm.size() * 2)), static_cast<int32_t>(pcm.size() * 2));
    };
    const auto played = [&] {
        out.Flush();
        out.WaitAllDone();
        return out.GetDoneBytes() / 2;
    };
    const std::vector<int16_t> loud = {32767, -32768, 32000, -1, 0, 29206, -29300, 1};
    play(loud);
    EXPECT_EQ(played(), 8);

    out.SetGain(4.0);
    const std::vector<int16_t> tone = test::BytesToPcm16(Sine(0, 44100, 16000));
    for (size_t at = 0; at < tone.size(); at += 2 * 777) {
        const size_t n = std::min(tone.size() - at, size_t{2 * 777});
        play(std::vector<int16_t>(tone.begin() + static_cast<std::ptrdiff_t>(at),
                                  tone.begin() + static_cast<std::ptrdiff_t>(at + n)));
        if (at == 2 * 777 * 20) {
            out.Pause();
            std::this_thread::sleep_for(20ms);
            out.Unpause();
        }
    }
    EXPECT_EQ(played(), static_cast<int64_t>(tone.size())) << "frames added or lost";

    // Cut while the limiter delays frames: they are not heard after it.
    play(tone);
    out.Cut();
    out.SetGain(1.0);
    const std::vector<int16_t> after = test::BytesToPcm16(Sine(0, 4410, 8000));
    play(after);
    EXPECT_EQ(played(), static_cast<int64_t>(after.size()));
    out.Close();

    const std::vector<uint8_t> bytes = test::ReadFileBytes(wav);
    ASSERT_GT(bytes.size(), 44 + 2 * (loud.size() + tone.size() + after.size()));
    const std::vector<int16_t> heard = test::BytesToPcm16(std::span(bytes).subspan(44));
    EXPECT_TRUE(std::equal(loud.begin(), loud.end(), heard.begin())) << "changed at unity";
    const auto [low, high] = std::minmax_element(heard.begin() + 8, heard.begin() + 8 + static_cast<std::ptrdiff_t>(tone.size()));
    EXPECT_GE(*low, -TLimiter::kCeiling);
    EXPECT_LE(*high, TLimiter::kCeiling);
    const size_t ramp = 44100 * TSoundOut::kRampMs / 1000 * 2;
    EXPECT_TRUE(std::equal(heard.end() - static_cast<std::ptrdiff_t>(after.size() - ramp), heard.end(),
                           after.begin() + static_cast<std::ptrdiff_t>(ramp)));
}

// ------------------------------------------------------------------ devices

TEST(SoundDeviceTest, NullDeviceClockStopsWhilePaused) {
    auto dev = CreateNullAudioDevice(4);
    TPcmFormat f;
    std::atomic<int> done{0};
    ASSERT_EQ(dev->Open(f, [&](TOutputBuffer*) { ++done; }), kOutputOk);
    std::vector<uint8_t> data(44100 * 4, 0);  // 1 s, 250 ms at speed 4
    TOutputBuffer b;
    b.Data = data.data();
    b.BufferLength = b.Length = static_cast<uint32_t>(data.size());
    EXPECT_EQ(dev->Write(&b), kOutputUnprepared);
    ASSERT_EQ(dev->Prepare(&b), kOutputOk);
    ASSERT_EQ(dev->Write(&b), kOutputOk);
    EXPECT_EQ(dev->Unprepare(&b), kOutputStillPlaying);
    EXPECT_EQ(dev->Close(), kOutputStillPlaying);
    std::this_thread::sleep_for(40ms);
    ASSERT_EQ(dev->Pause(), kOutputOk);
    uint64_t p1 = 0, p2 = 0;
    ASSERT_EQ(dev->GetPosition(p1), kOutputOk);
    EXPECT_GT(p1, 0u);
    EXPECT_LT(p1, data.size());
    std::this_thread::sleep_for(300ms);  // longer than the whole buffer at speed 4
    ASSERT_EQ(dev->GetPosition(p2), kOutputOk);
    EXPECT_EQ(p1, p2);
    EXPECT_EQ(done.load(), 0);
    ASSERT_EQ(dev->Restart(), kOutputOk);
    ASSERT_TRUE(WaitUntil([&] { return done.load() == 1; }));
    ASSERT_EQ(dev->GetPosition(p2), kOutputOk);
    EXPECT_EQ(p2, data.size());
    EXPECT_EQ(dev->Unprepare(&b), kOutputOk);
    EXPECT_EQ(dev->Close(), kOutputOk);
    EXPECT_EQ(dev->GetPosition(p2), kOutputNotOpen);
}

TEST(SoundDeviceTest, FactoryChoosesByNameAndEnvironment) {
    EXPECT_EQ(CreateAudioDevice("null")->Name(), "null");
    EXPECT_EQ(CreateAudioDevice("wav:/tmp/a.wav")->Name(), "wav:/tmp/a.wav");
    EXPECT_EQ(CreateAudioDevice("pulse")->Name(), "pulse");
    auto unknown = CreateAudioDevice("alsa");
    EXPECT_NE(unknown->Open(TPcmFormat{}, nullptr), kOutputOk);

    // No other threads run here, so changing the environment is safe.
    const char* old = std::getenv("WAVELANTERN_AUDIO");
    const std::string saved = old ? old : "";
    ::setenv("WAVELANTERN_AUDIO", "null", 1);
    EXPECT_EQ(CreateAudioDevice()->Name(), "null");
    ::unsetenv("WAVELANTERN_AUDIO");
    EXPECT_EQ(CreateAudioDevice()->Name(), "pulse") << "pulse is the default";
    if (old) ::setenv("WAVELANTERN_AUDIO", saved.c_str(), 1);

    const char* oldSpeed = std::getenv("WAVELANTERN_NULL_SPEED");
    const std::string savedSpeed = oldSpeed ? oldSpeed : "";
    ::setenv("WAVELANTERN_NULL_SPEED", "20", 1);
    auto fast = CreateNullAudioDevice();
    EXPECT_DOUBLE_EQ(dynamic_cast<TNullAudioDevice&>(*fast).Speed(), 20.0);
    ::setenv("WAVELANTERN_NULL_SPEED", "fast", 1);
    auto normal = CreateNullAudioDevice();
    EXPECT_DOUBLE_EQ(dynamic_cast<TNullAudioDevice&>(*normal).Speed(), 1.0);
    if (oldSpeed)
        ::setenv("WAVELANTERN_NULL_SPEED", savedSpeed.c_str(), 1);
    else
        ::unsetenv("WAVELANTERN_NULL_SPEED");
}

TEST(SoundDeviceTest, NullDeviceRefusesFormatsItCannotPlay) {
    auto dev = CreateNullAudioDevice(1);
    TPcmFormat f;
    f.BitsPerSample = 24;
    EXPECT_EQ(dev->Open(f, nullptr), kOutputBadFormat);
    EXPECT_FALSE(dev->ErrorText(kOutputBadFormat).empty());
    f.BitsPerSample = 16;
    f.Channels = 6;
    EXPECT_EQ(dev->Open(f, nullptr), kOutputBadFormat);
    EXPECT_FALSE(dev->IsOpen());
}

}  // namespace
}  // namespace wl
