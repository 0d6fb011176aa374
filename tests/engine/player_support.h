// Helpers of the player tests: streams built in memory, files encoded by lame
// (a loud one among them), sped-up output devices (one that records what it
// is given), and waits that drain the player's message queue.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/audio_device.h"
#include "io/file_stream.h"
#include "engine/mp3_player.h"
#include "engine/player_decode.h"
#include "tests/stream_builder.h"
#include "tests/test_support.h"
#include "tests/wait_until.h"

namespace wl::test {

// MPEG-1 Layer III, 44100 Hz stereo, 128 kbit/s: 417-byte frames of 1152
// samples, 4608 PCM bytes each.
inline constexpr int32_t kFrameBytes = 417;
inline constexpr int32_t kPcmPerFrame = 4608;

// n frames; random content (noise, some frames refused by the decoder) or silence.
inline std::vector<uint8_t> BuildFrames(int n, bool random, uint32_t seed = 7) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> f = random ? RandomFrameMpeg1(rng, 0) : SilentFrameMpeg1(0, 0, 0);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

inline void PutBigEndian(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    v[at] = static_cast<uint8_t>(x >> 24);
    v[at + 1] = static_cast<uint8_t>(x >> 16);
    v[at + 2] = static_cast<uint8_t>(x >> 8);
    v[at + 3] = static_cast<uint8_t>(x);
}

// A silent frame carrying a VBR header `tag` at `at` (from the frame start),
// followed by the given fields.
inline std::vector<uint8_t> VbrFrame(const char* tag, size_t at, std::vector<std::pair<size_t, uint32_t>> fields,
                                     bool crc = false) {
    std::vector<uint8_t> f = SilentFrameMpeg1(0, 0, 0);
    if (crc) f[1] = 0xFA;
    std::memcpy(f.data() + at, tag, 4);
    for (auto [offset, value] : fields) PutBigEndian(f, at + offset, value);
    return f;
}

// Garbage without any 0xFF byte, so that it never holds a frame sync.
inline std::vector<uint8_t> Garbage(size_t n, uint32_t seed = 3) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> g(n);
    for (auto& b : g) {
        b = static_cast<uint8_t>(rng());
        if (b == 0xFF) b = 0x7F;
    }
    return g;
}

// Encodes `seconds` of the synthesized signal with lame and the given options;
// empty when lame is missing or fails.
inline std::string LameFile(const TempDir& dir, const std::string& name, double seconds,
                            const std::string& options, int32_t rate = 44100, int32_t channels = 2) {
    if (!OnPath("lame")) return {};
    const std::string wav = dir.File(name + ".wav");
    const std::string mp3 = dir.File(name);
    if (!WriteWav(wav, SynthesizeSignal(rate, channels, seconds, 5), channels, rate)) return {};
    const CommandResult r =
        RunCommand("lame --quiet " + options + " " + ShellQuote(wav) + " " + ShellQuote(mp3) + " 2>&1");
    if (r.exitCode != 0 || !FileExists(mp3)) return {};
    return mp3;
}

// A loud file encoded by lame at 320 kbit/s, 44.1 kHz stereo: a chord
// driven into saturation as a loud master is, its peaks at full scale, 30 dB
// down from `quietFrom` to `quietTo` seconds. Empty when lame is missing or
// fails.
inline std::string LoudLameFile(const TempDir& dir, const std::string& name, double seconds, double quietFrom = 0,
                                double quietTo = 0) {
    if (!OnPath("lame")) return {};
    constexpr int32_t kRate = 44100;
    const size_t frames = static_cast<size_t>(seconds * kRate);
    std::vector<double> mix(frames * 2);
    double peak = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double level = t >= quietFrom && t < quietTo ? 0.0316 : 1.0;
        for (size_t c = 0; c < 2; ++c) {
            double v = 0;
            int k = 0;
            for (double hz : {110.0, 277.0, 440.0, 1000.0, 2900.0})
                v += std::sin(2 * 3.14159265358979323846 * hz * t + static_cast<double>(++k * (c + 1)));
            mix[2 * i + c] = std::tanh(v) * level;
            peak = std::max(peak, std::fabs(mix[2 * i + c]));
        }
    }
    std::vector<int16_t> pcm(mix.size());
    for (size_t i = 0; i < mix.size(); ++i) pcm[i] = static_cast<int16_t>(std::lrint(mix[i] * 32767 / peak));
    const std::string wav = dir.File(name + ".wav");
    const std::string mp3 = dir.File(name);
    if (!WriteWav(wav, pcm, 2, kRate)) return {};
    const CommandResult r = RunCommand("lame --quiet -b 320 " + ShellQuote(wav) + " " + ShellQuote(mp3) + " 2>&1");
    if (r.exitCode != 0 || !FileExists(mp3)) return {};
    return mp3;
}

// The PCM the player hands its output for the whole of `stream` (or a file).
inline std::vector<uint8_t> PlayerPcm(TStream& stream) {
    std::vector<uint8_t> pcm;
    DecodeAsPlayer(stream, nullptr, [&](const uint8_t* p, int32_t n) {
        pcm.insert(pcm.end(), p, p + n);
        return true;
    });
    return pcm;
}
inline std::vector<uint8_t> PlayerPcm(const std::string& file) {
    TFileStream stream(file);
    return PlayerPcm(stream);
}

inline std::string WriteBytes(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.File(name);
    WriteFileBytes(path, bytes);
    return path;
}

// What a recording device was given, split at every Reset.
struct Recording {
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> segments{1};
    std::atomic<int> resets{0};
    std::atomic<int> writes{0};
    std::atomic<int> failWritesAfter{-1};  // >= 0: writes beyond this count fail
    // Runs at every Write, on the thread handing the buffer over (set before Play).
    std::function<void()> onWrite;

    std::vector<uint8_t> All() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<uint8_t> all;
        for (auto& s : segments) all.insert(all.end(), s.begin(), s.end());
        return all;
    }
};

// A sped-up null device that records the PCM it is given.
class TRecordingDevice final : public TAudioDevice {
public:
    TRecordingDevice(std::shared_ptr<Recording> rec, double speed)
        : rec_(std::move(rec)), inner_(CreateNullAudioDevice(speed)) {}
    int Open(const TPcmFormat& format, DoneCallback onDone) override { return inner_->Open(format, std::move(onDone)); }
    int Close() override { return inner_->Close(); }
    bool IsOpen() const override { return inner_->IsOpen(); }
    int Write(TOutputBuffer* b) override {
        if (rec_->onWrite) rec_->onWrite();
        const int n = rec_->writes.fetch_add(1);
        const int limit = rec_->failWritesAfter.load();
        if (limit >= 0 && n >= limit) return Fail(kOutputError, "the test device refuses more data");
        {
            std::lock_guard<std::mutex> lock(rec_->mutex);
            rec_->segments.back().insert(rec_->segments.back().end(), b->Data, b->Data + b->Length);
        }
        return inner_->Write(b);
    }
    int Pause() override { return inner_->Pause(); }
    int Restart() override { return inner_->Restart(); }
    int Reset() override {
        {
            std::lock_guard<std::mutex> lock(rec_->mutex);
            rec_->segments.emplace_back();
        }
        rec_->resets.fetch_add(1);
        return inner_->Reset();
    }
    int GetPosition(uint64_t& bytes) override { return inner_->GetPosition(bytes); }
    int SetVolume(uint32_t v) override { return inner_->SetVolume(v); }
    int GetVolume(uint32_t& v) override { return inner_->GetVolume(v); }
    std::string Name() const override { return "recording"; }

private:
    std::shared_ptr<Recording> rec_;
    std::unique_ptr<TAudioDevice> inner_;
};

inline TSoundOut::DeviceFactory NullFactory(double speed = 20) {
    return [speed] { return CreateNullAudioDevice(speed); };
}

inline TSoundOut::DeviceFactory RecordingFactory(std::shared_ptr<Recording> rec, double speed = 20) {
    return [rec, speed] { return std::unique_ptr<TAudioDevice>(new TRecordingDevice(rec, speed)); };
}

// Drains the player's queue until cond holds or the limit passes.
template <class Cond>
bool PumpUntil(TMP3Player& p, Cond cond, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    return WaitUntil(
        [&] {
            p.Messages().ProcessMessages();
            return cond();
        },
        limit, [&] { p.Messages().WaitForMessage(10); });
}

// Drains for a while.
inline void PumpFor(TMP3Player& p, std::chrono::milliseconds time) {
    PumpUntil(p, [] { return false; }, time);
}

// Counts the events of a player.
struct EventLog {
    int statusChanges = 0;
    int positionChanges = 0;
    std::vector<TMP3EndPlayReason> ends;

    void Attach(TMP3Player& p) {
        p.OnChangeStatus = [this](TMP3Player*) { ++statusChanges; };
        p.OnChangePosition = [this](TMP3Player*) { ++positionChanges; };
        p.OnEndPlay = [this](TMP3Player*, TMP3EndPlayReason r) { ends.push_back(r); };
    }
};

// The set-up most player tests share: a player on a sped-up device that
// records what it is given, not playing on its own, its events counted.
struct PlayerFixture {
    explicit PlayerFixture(double speed = 40) : player(RecordingFactory(rec, speed)) {
        player.SetAutoPlay(false);
        log.Attach(player);
    }
    // Writes `bytes` to a file and opens it; the file's path.
    std::string Open(const std::vector<uint8_t>& bytes, const std::string& name = "file.mp3") {
        const std::string path = WriteBytes(dir, name, bytes);
        player.SetFileName(path);
        return path;
    }
    // Opens `bytes` from memory.
    void OpenInMemory(const std::vector<uint8_t>& bytes) { player.OpenStream(std::make_unique<TMemoryStream>(bytes)); }
    // Plays to the end; whether it ended within the limit.
    bool PlayToEnd() {
        const size_t before = log.ends.size();
        player.Play();
        return PumpUntil(player, [&] { return log.ends.size() > before; });
    }

    TempDir dir;
    std::shared_ptr<Recording> rec = std::make_shared<Recording>();
    EventLog log;
    TMP3Player player;
};

// Aborts the test program when a step hangs (a hang is the failure here).
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit, std::string what) : what_(std::move(what)) {
        thread_ = std::thread([this, limit] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                std::fprintf(stderr, "hang: %s did not finish\n", what_.c_str());
                std::abort();
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::string what_;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// PCM bytes of a WAV file made by the WAV device (after its 44-byte header).
inline std::vector<uint8_t> WavData(const std::string& path) {
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    if (bytes.size() < 44) return {};
    uint32_t size = bytes[40] | (bytes[41] << 8) | (bytes[42] << 16) | (uint32_t{bytes[43]} << 24);
    std::vector<uint8_t> data(bytes.begin() + 44, bytes.end());
    if (data.size() > size) data.resize(size);
    return data;
}

}  // namespace wl::test
