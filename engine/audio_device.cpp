#include "engine/audio_device.h"

#include <cstdlib>

#include "engine/audio_device_null.h"

namespace wl {

int TAudioDevice::Prepare(TOutputBuffer* buffer) {
    if (!buffer || !buffer->Data) return Fail(kOutputInvalidParam, {});
    if (!IsOpen()) return Fail(kOutputNotOpen, {});
    buffer->Prepared = true;
    return Succeed();
}

int TAudioDevice::Unprepare(TOutputBuffer* buffer) {
    if (!buffer) return Fail(kOutputInvalidParam, {});
    if (buffer->Queued) return Fail(kOutputStillPlaying, {});
    buffer->Prepared = false;
    return Succeed();
}

int TAudioDevice::ResetAt(uint64_t& end) {
    end = 0;
    if (GetPosition(end) != kOutputOk) end = 0;
    return Reset();
}

int TAudioDevice::Fail(int code, std::string detail) const {
    std::lock_guard<std::mutex> lock(errorMutex_);
    lastCode_ = code;
    lastDetail_ = std::move(detail);
    return code;
}

int TAudioDevice::Succeed() const { return kOutputOk; }

void TAudioDevice::SetOnState(StateCallback callback) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    onState_ = std::move(callback);
}

void TAudioDevice::ReportState(bool waiting, const std::string& text) const {
    std::lock_guard<std::mutex> lock(stateMutex_);
    if (onState_) onState_(waiting, text);
}

std::string TAudioDevice::ErrorText(int code) const {
    {
        std::lock_guard<std::mutex> lock(errorMutex_);
        if (code == lastCode_ && !lastDetail_.empty()) return lastDetail_;
    }
    return OutputErrorText(code);
}

std::string OutputErrorText(int code) {
    switch (code) {
        case kOutputOk: return "no error";
        case kOutputError: return "unspecified sound output error";
        case kOutputNoDevice: return "no such sound output device";
        case kOutputAlreadyOpen: return "the sound output device is already open";
        case kOutputNotOpen: return "the sound output device is not open";
        case kOutputNoServer: return "the sound server cannot be reached";
        case kOutputNoMemory: return "out of memory";
        case kOutputNotSupported: return "not supported by the sound output device";
        case kOutputInvalidParam: return "invalid parameter";
        case kOutputBadFormat: return "the sound output device does not play this PCM format";
        case kOutputStillPlaying: return "a buffer is still playing";
        case kOutputUnprepared: return "the buffer was not prepared";
        default: return {};
    }
}

namespace {

// A device that cannot be opened: the factory's answer to an unknown name, so
// that the failure shows where the device is opened.
class TUnknownAudioDevice final : public TAudioDevice {
public:
    explicit TUnknownAudioDevice(std::string name) : name_(std::move(name)) {}
    int Open(const TPcmFormat&, DoneCallback) override {
        return Fail(kOutputNoDevice,
                    "unknown sound output \"" + name_ + "\" (use pulse, null or wav:PATH)");
    }
    int Close() override { return Fail(kOutputNotOpen, {}); }
    bool IsOpen() const override { return false; }
    int Write(TOutputBuffer*) override { return Fail(kOutputNotOpen, {}); }
    int Pause() override { return Fail(kOutputNotOpen, {}); }
    int Restart() override { return Fail(kOutputNotOpen, {}); }
    int Reset() override { return Fail(kOutputNotOpen, {}); }
    int GetPosition(uint64_t&) override { return Fail(kOutputNotOpen, {}); }
    int SetVolume(uint32_t) override { return Fail(kOutputNotOpen, {}); }
    int GetVolume(uint32_t&) override { return Fail(kOutputNotOpen, {}); }
    int DeviceCount() const override { return 0; }
    std::string Name() const override { return name_; }

private:
    std::string name_;
};

}  // namespace

std::unique_ptr<TAudioDevice> CreateAudioDevice(const std::string& requested, std::shared_ptr<TWavFile>* wavFile) {
    std::string name = requested;
    if (name.empty()) {
        const char* env = std::getenv("WAVELANTERN_AUDIO");
        if (env) name = env;
    }
    if (name.empty() || name == "pulse") return CreatePulseAudioDevice();
    if (name.rfind("pulse:", 0) == 0) return CreatePulseAudioDevice(name.substr(6));
    if (name == "null") return CreateNullAudioDevice();
    if (name.rfind("wav:", 0) == 0 && name.size() > 4) {
        const std::string path = name.substr(4);
        if (!wavFile) return CreateWavAudioDevice(path);
        if (!*wavFile || (*wavFile)->Path() != path) *wavFile = std::make_shared<TWavFile>(path);
        return CreateWavAudioDevice(*wavFile);
    }
    return std::make_unique<TUnknownAudioDevice>(name);
}

}  // namespace wl
