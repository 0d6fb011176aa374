// The header frame that encoders put in front of the audio: "Xing" (VBR) or
// "Info" (CBR) with frame and byte counts, a seek table and a quality value,
// optionally followed by the encoder's extension (delay, padding, peak and
// gains, guarded by a CRC); or a "VBRI" header.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "decoder/frame_header.h"

namespace wl {

// The decoder's own delay in samples per channel (hybrid filter bank plus
// synthesis), which trimming adds to the encoder's delay.
inline constexpr int32_t kDecoderDelaySamples = 529;

struct TVbrHeader {
    enum class TKind { None, Xing, Info, Vbri };
    TKind kind = TKind::None;
    int64_t frames = 0;  // audio frames after the header frame; 0 = not given
    int64_t bytes = 0;   // 0 = not given
    bool hasToc = false;
    std::array<uint8_t, 100> toc{};
    int32_t quality = -1;  // -1 = not given

    // The encoder extension, used only when its CRC matches.
    bool hasExtension = false;
    std::string encoder;   // e.g. "LAME3.100", trailing blanks removed
    int32_t delay = 0;     // encoder delay, samples per channel
    int32_t padding = 0;   // encoder padding, samples per channel
    float peak = 0;        // 1.0 = full scale; 0 = unknown
    std::optional<double> trackGainDb;
    std::optional<double> albumGainDb;
    int64_t musicBytes = 0;  // from the header frame's first byte; 0 = not given
};

// CRC-16 with polynomial 0x8005, reflected, initial value 0.
uint16_t Crc16Reflected(const uint8_t* bytes, size_t count);

// Reads the header in the frame at `frame` (`frameBytes` readable bytes, the
// whole frame) whose header is `h`. False when the frame carries none.
bool ParseVbrHeader(const uint8_t* frame, int32_t frameBytes, const TMPEGFrameHeader& h, TVbrHeader& out);

}  // namespace wl
