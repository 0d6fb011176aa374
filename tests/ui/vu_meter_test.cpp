// VU meter: scaling of the peaks, Start's failure messages, reading through a
// level source and from a playing sound output.
#include "controls/vu_meter.h"

#include "engine/audio_device.h"
#include "engine/sound_out.h"
#include "tests/wait_until.h"

#include <QStringList>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace wl {
namespace {

struct FakeState {
    TLevelSource::TOpenResult openResult = TLevelSource::TOpenResult::Ok;
    bool readOk = true;
    int32_t left = 0, right = 0;
    int channels = 2;
    int opens = 0, closes = 0;
};

class FakeSource : public TLevelSource {
public:
    explicit FakeSource(FakeState& s) : s_(s) {}
    TOpenResult Open() override {
        ++s_.opens;
        return s_.openResult;
    }
    bool Read(int32_t& left, int32_t& right, int& channels) override {
        if (!s_.readOk) return false;
        left = s_.left;
        right = s_.right;
        channels = s_.channels;
        return true;
    }
    void Close() override { ++s_.closes; }

private:
    FakeState& s_;
};

TEST(Vumeter, Scaling) {
    EXPECT_EQ(182, TVumeter::Scale(-32768));
    EXPECT_EQ(182, TVumeter::Scale(32767));
    EXPECT_EQ(182, TVumeter::Scale(32768));
    EXPECT_EQ(0, TVumeter::Scale(179));
    EXPECT_EQ(1, TVumeter::Scale(180));
    EXPECT_EQ(1, TVumeter::Scale(-359));
    EXPECT_EQ(0, TVumeter::Scale(0));
}

class VumeterTest : public ::testing::Test {
protected:
    void SetUp() override {
        meter_.SetLevelSource(std::make_unique<FakeSource>(state_));
        meter_.SetMessageBox([this](const QString& text) { messages_ << text; });
    }
    FakeState state_;
    TVumeter meter_;
    QStringList messages_;
};

TEST_F(VumeterTest, ReadsBothChannels) {
    EXPECT_EQ(0, meter_.LeftPeak());
    EXPECT_EQ(0, meter_.RightPeak());
    meter_.Start();
    EXPECT_TRUE(meter_.Started());
    state_.left = -32768;
    state_.right = 180;
    EXPECT_EQ(0, meter_.Read());
    EXPECT_EQ(182, meter_.LeftPeak());
    EXPECT_EQ(1, meter_.RightPeak());
    // A failed reading changes nothing.
    state_.readOk = false;
    state_.left = state_.right = 0;
    EXPECT_EQ(0, meter_.Read());
    EXPECT_EQ(182, meter_.LeftPeak());
    EXPECT_EQ(1, meter_.RightPeak());
    // One channel: the right reading keeps its last value.
    state_.readOk = true;
    state_.channels = 1;
    state_.left = 179;
    state_.right = 9000;
    meter_.Read();
    EXPECT_EQ(0, meter_.LeftPeak());
    EXPECT_EQ(1, meter_.RightPeak());
    EXPECT_TRUE(messages_.isEmpty());
}

TEST_F(VumeterTest, StartMessagesEachTime) {
    state_.openResult = TLevelSource::TOpenResult::NoDevice;
    meter_.Start();
    meter_.Start();
    EXPECT_EQ((QStringList{"No Wave Devices to open", "No Wave Devices to open"}), messages_);
    EXPECT_FALSE(meter_.Started());
    state_.left = 9000;
    meter_.Read();
    EXPECT_EQ(0, meter_.LeftPeak());

    messages_.clear();
    state_.openResult = TLevelSource::TOpenResult::Unreachable;
    meter_.Start();
    EXPECT_EQ((QStringList{"Unable to get mixer ID"}), messages_);

    messages_.clear();
    state_.openResult = TLevelSource::TOpenResult::Failed;
    meter_.Start();
    EXPECT_TRUE(messages_.isEmpty());
    EXPECT_FALSE(meter_.Started());

    TVumeter bare;
    QStringList bareMessages;
    bare.SetMessageBox([&](const QString& text) { bareMessages << text; });
    bare.Start();
    EXPECT_EQ((QStringList{"Unable to get mixer ID"}), bareMessages);
}

TEST_F(VumeterTest, RepeatedStartsReleaseTheSource) {
    meter_.Start();
    meter_.Start();
    meter_.Start();
    EXPECT_EQ(3, state_.opens);
    EXPECT_EQ(2, state_.closes);
    meter_.Stop();
    EXPECT_EQ(3, state_.closes);
    EXPECT_FALSE(meter_.Started());
    state_.left = 18000;
    meter_.Read();
    EXPECT_EQ(0, meter_.LeftPeak());
    meter_.Stop();
    EXPECT_EQ(3, state_.closes);
}

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
