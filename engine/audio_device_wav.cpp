// The WAV device: the file holds what a listener would have heard. Every byte
// handed to it goes to a PCM WAV file, in order; it returns buffers at the
// pace of the null device, and a reset cuts the file back to what had played
// by then. The header's sizes are written when the device closes. The devices
// of one output share their file (TWavFile), which so holds everything played.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/audio_device_null.h"

namespace wl {

namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

constexpr size_t kHeaderSize = 44;

void BuildHeader(uint8_t* h, const TPcmFormat& f, uint64_t dataBytes) {
    const uint32_t data = dataBytes > 0xFFFFFFFFull - 36 ? 0xFFFFFFFFu - 36 : static_cast<uint32_t>(dataBytes);
    const uint32_t pad = data & 1;
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 36 + data + pad);
    std::memcpy(h + 8, "WAVE", 4);
    std::memcpy(h + 12, "fmt ", 4);
    Put32(h + 16, 16);
    Put16(h + 20, 1);  // PCM
    Put16(h + 22, static_cast<uint32_t>(f.Channels));
    Put32(h + 24, static_cast<uint32_t>(f.SampleRate));
    Put32(h + 28, static_cast<uint32_t>(f.AvgBytesPerSec()));
    Put16(h + 32, static_cast<uint32_t>(f.BlockAlign()));
    Put16(h + 34, static_cast<uint32_t>(f.BitsPerSample));
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, data);
}

std::string Describe(const TPcmFormat& f) {
    return std::to_string(f.SampleRate) + " Hz " + (f.Channels == 1 ? "mono" : "stereo") + " " +
           std::to_string(f.BitsPerSample) + "-bit";
}

}  // namespace

TWavFile::~TWavFile() {
    if (file_) std::fclose(file_);
}

int TWavFile::Begin(const TPcmFormat& format, std::string& detail) {
    if (!file_) {
        file_ = std::fopen(path_.c_str(), "wb");
        if (!file_) {
            detail = "cannot create " + path_ + ": " + std::strerror(errno);
            return kOutputError;
        }
        uint8_t header[kHeaderSize];
        BuildHeader(header, format, 0);
        if (std::fwrite(header, 1, kHeaderSize, file_) != kHeaderSize) {
            detail = "cannot write " + path_ + ": " + std::strerror(errno);
            std::fclose(file_);
            file_ = nullptr;
            return kOutputError;
        }
        format_ = format;
        dataBytes_ = 0;
        return kOutputOk;
    }
    if (format.SampleRate != format_.SampleRate || format.Channels != format_.Channels ||
        format.BitsPerSample != format_.BitsPerSample) {
        detail = path_ + " holds " + Describe(format_) + " sound; " + Describe(format) +
                 " sound cannot be added to it";
        return kOutputBadFormat;
    }
    // Over the pad byte of the last close, if any.
    if (std::fseek(file_, static_cast<long>(kHeaderSize + dataBytes_), SEEK_SET) != 0) {
        detail = "cannot write " + path_ + ": " + std::strerror(errno);
        return kOutputError;
    }
    return kOutputOk;
}

int TWavFile::Append(const uint8_t* data, size_t count, std::string& detail) {
    if (count && std::fwrite(data, 1, count, file_) != count) {
        detail = "cannot write " + path_ + ": " + std::strerror(errno);
        return kOutputError;
    }
    dataBytes_ += count;
    return kOutputOk;
}

void TWavFile::CutTo(uint64_t bytes) {
    const uint64_t end = std::min(bytes, dataBytes_);
    if (std::fseek(file_, static_cast<long>(kHeaderSize + end), SEEK_SET) != 0) return;
    dataBytes_ = end;
}

void TWavFile::Finish() {
    if (!file_) return;
    if (dataBytes_ & 1) std::fputc(0, file_);  // chunks are padded to even length
    // Bytes a reset cut off may still follow; a longer file would carry the
    // right sizes in its header all the same.
    std::fflush(file_);
    if (::ftruncate(::fileno(file_), static_cast<off_t>(kHeaderSize + dataBytes_ + (dataBytes_ & 1))) != 0) {
    }
    uint8_t header[kHeaderSize];
    BuildHeader(header, format_, dataBytes_);
    if (std::fseek(file_, 0, SEEK_SET) == 0) std::fwrite(header, 1, kHeaderSize, file_);
    std::fflush(file_);
}

TWavAudioDevice::TWavAudioDevice(std::shared_ptr<TWavFile> file, double speed)
    : TNullAudioDevice(speed), file_(std::move(file)) {}

TWavAudioDevice::~TWavAudioDevice() { Shutdown(); }

int TWavAudioDevice::OnOpen(const TPcmFormat& format, bool forPlayback) {
    // A volume query must not create (or empty) the file.
    if (!forPlayback) return kOutputOk;
    std::string detail;
    if (const int rc = file_->Begin(format, detail)) return Fail(rc, detail);
    writing_ = true;
    epochStart_ = file_->DataBytes();
    return kOutputOk;
}

int TWavAudioDevice::OnData(const uint8_t* data, size_t count) {
    if (!writing_) return Fail(kOutputNotOpen, {});
    std::string detail;
    if (const int rc = file_->Append(data, count, detail)) return Fail(rc, detail);
    return kOutputOk;
}

void TWavAudioDevice::OnReset(uint64_t played) {
    if (!writing_) return;
    file_->CutTo(epochStart_ + played);
    epochStart_ = file_->DataBytes();
}

void TWavAudioDevice::OnClose() {
    if (!writing_) return;
    writing_ = false;
    file_->Finish();
}

std::unique_ptr<TAudioDevice> CreateWavAudioDevice(const std::string& path, double speed) {
    return CreateWavAudioDevice(std::make_shared<TWavFile>(path), speed);
}

std::unique_ptr<TAudioDevice> CreateWavAudioDevice(std::shared_ptr<TWavFile> file, double speed) {
    return std::make_unique<TWavAudioDevice>(std::move(file), speed);
}

}  // namespace wl
