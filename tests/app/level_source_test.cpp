// The meter's level source in the application: the sound output's peaks.
#include "app/sound_out_level_source.h"

#include "engine/audio_device.h"
#include "engine/sound_out.h"
#include "tests/wait_until.h"

#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace wl {
namespace {

TEST(SoundOutLevelSource, MapsMissingDeviceAndOutput) {
    TSoundOutLevelSource noDevice([] { return static_cast<TSoundOut*>(nullptr); }, [] { return 0; });
    EXPECT_EQ(TLevelSource::TOpenResult::NoDevice, noDevice.Open());
    TSoundOutLevelSource noOutput([] { return static_cast<TSoundOut*>(nullptr); }, [] { return 1; });
    EXPECT_EQ(TLevelSource::TOpenResult::Unreachable, noOutput.Open());
    int32_t l = 0, r = 0;
    int ch = 0;
    EXPECT_FALSE(noOutput.Read(l, r, ch));
    // An unknown device kind has no devices.
    TSoundOut unknown(std::string("no-such-device-kind"));
    TSoundOutLevelSource viaName(&unknown);
    EXPECT_EQ(TLevelSource::TOpenResult::NoDevice, viaName.Open());
}

TEST(SoundOutLevelSource, ReadsThePeaksOfPlayingSound) {
    TSoundOut out(TSoundOut::DeviceFactory([] { return CreateNullAudioDevice(1.0); }));
    TVumeter meter;
    QStringList messages;
    meter.SetMessageBox([&](const QString& text) { messages << text; });
    meter.SetLevelSource(std::make_unique<TSoundOutLevelSource>(&out));
    meter.Start();
    ASSERT_TRUE(meter.Started());
    ASSERT_TRUE(messages.isEmpty());
    meter.Read();
    EXPECT_EQ(0, meter.LeftPeak());  // nothing playing yet

    out.SetSampleRate(44100);
    out.SetChannels(2);
    out.SetBitsPerSample(16);
    out.Open();
    // Left a square wave of +-18000, right of +-9000, for a second.
    std::vector<int16_t> pcm(44100 * 2);
    for (size_t i = 0; i < pcm.size(); i += 2) {
        const int sign = (i / 2 / 50) % 2 ? 1 : -1;
        pcm[i] = static_cast<int16_t>(sign * 18000);
        pcm[i + 1] = static_cast<int16_t>(sign * 9000);
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
    int32_t left = static_cast<int32_t>(pcm.size() * 2);
    int32_t offset = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (left > 0 && std::chrono::steady_clock::now() < deadline) {
        const int32_t took = out.Write(bytes + offset, left);
        offset += took;
        left -= took;
        if (took == 0) QThread::msleep(5);
    }
    out.WaveWrite();
    const bool seen = test::WaitUntil(
        [&] {
            meter.Read();
            return meter.LeftPeak() == 100 && meter.RightPeak() == 50;
        },
        std::chrono::seconds(10));
    EXPECT_TRUE(seen) << "left " << meter.LeftPeak() << " right " << meter.RightPeak();
    out.Reset();
    out.Close();
}

}  // namespace
}  // namespace wl
