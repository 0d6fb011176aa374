// VU meter: scaling of the peaks, Start's failure messages, reading through a
// level source.
#include "controls/vu_meter.h"

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

}  // namespace
}  // namespace wl
