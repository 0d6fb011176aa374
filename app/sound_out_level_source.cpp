#include "app/sound_out_level_source.h"

#include <memory>
#include <string>

#include "engine/audio_device.h"
#include "engine/sound_out.h"

namespace wl {

TSoundOutLevelSource::TSoundOutLevelSource(TSoundOut* soundOut)
    : TSoundOutLevelSource(Getter([soundOut] { return soundOut; })) {}

TSoundOutLevelSource::TSoundOutLevelSource(Getter getter, DeviceCounter deviceCount)
    : getter_(std::move(getter)), deviceCount_(std::move(deviceCount)) {}

TLevelSource::TOpenResult TSoundOutLevelSource::Open() {
    open_ = nullptr;
    TSoundOut* out = getter_ ? getter_() : nullptr;
    int devices = 0;
    if (deviceCount_) {
        devices = deviceCount_();
    } else {
        const std::unique_ptr<TAudioDevice> probe = CreateAudioDevice(out ? out->DeviceName() : std::string());
        devices = probe ? probe->DeviceCount() : 0;
    }
    if (devices <= 0) return TOpenResult::NoDevice;
    if (!out) return TOpenResult::Unreachable;
    open_ = out;
    return TOpenResult::Ok;
}

bool TSoundOutLevelSource::Read(int32_t& left, int32_t& right, int& channels) {
    if (!open_) return false;
    open_->GetPeaks(left, right);
    // The output line is stereo; a mono stream reads the same on both sides.
    channels = 2;
    return true;
}

void TSoundOutLevelSource::Close() { open_ = nullptr; }

}  // namespace wl
