// Builds Layer III frames bit by bit for the decoder tests.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace wl::test {

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> used_);
            used_ = (used_ + 1) & 7;
        }
    }
    std::vector<uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int used_ = 0;
};

// MPEG-1 Layer III, 44100 Hz, 128 kbit/s: 417 bytes (418 padded).
// `mode`: 0 stereo, 1 joint, 3 single channel. Side information all zero
// except main_data_begin, so every granule decodes to silence.
inline std::vector<uint8_t> SilentFrameMpeg1(int mode, int modeExtension, int mainDataBegin,
                                             bool pad = false) {
    BitWriter w;
    w.Put(0xFFFB, 16);
    w.Put(9, 4);      // 128 kbit/s
    w.Put(0, 2);      // 44100 Hz
    w.Put(pad, 1);
    w.Put(0, 1);
    w.Put(static_cast<uint32_t>(mode), 2);
    w.Put(static_cast<uint32_t>(modeExtension), 2);
    w.Put(0, 4);
    w.Put(static_cast<uint32_t>(mainDataBegin), 9);
    const int channels = mode == 3 ? 1 : 2;
    const int sideBits = (channels == 1 ? 17 : 32) * 8 - 9;
    for (int i = 0; i < sideBits; ++i) w.Put(0, 1);
    auto& b = w.Bytes();
    b.resize(417 + (pad ? 1 : 0), 0);
    return b;
}

// A frame of the same format with random side information and main data.
inline std::vector<uint8_t> RandomFrameMpeg1(std::mt19937& rng, int mode) {
    std::vector<uint8_t> f = SilentFrameMpeg1(mode, 0, 0);
    const size_t side = mode == 3 ? 21 : 36;
    for (size_t i = 4; i < f.size(); ++i) f[i] = static_cast<uint8_t>(rng());
    // Keep the header, randomise the mode extension.
    f[3] = static_cast<uint8_t>((mode << 6) | ((rng() & 3) << 4));
    (void)side;
    return f;
}

// LSF Layer III, 22050 Hz, 64 kbit/s (208 bytes), random content; `mpeg25`
// gives the 11025 Hz MPEG 2.5 frame (417 bytes) instead.
inline std::vector<uint8_t> RandomFrameLsf(std::mt19937& rng, int mode, bool mpeg25) {
    std::vector<uint8_t> f(mpeg25 ? 417 : 208);
    for (auto& b : f) b = static_cast<uint8_t>(rng());
    f[0] = 0xFF;
    f[1] = mpeg25 ? 0xE3 : 0xF3;
    f[2] = 0x80;  // index 8 = 64 kbit/s, 22050 / 11025 Hz, no padding
    f[3] = static_cast<uint8_t>((mode << 6) | ((rng() & 3) << 4));
    return f;
}

}  // namespace wl::test
