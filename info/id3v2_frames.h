// The bodies of single ID3v2 frames: the text shown for a frame, the
// description of comment and user frames, and the encoder-delay and loudness
// values some frames carry.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <vector>

namespace wl {

// A 28-bit size of four 7-bit bytes (tag sizes, 2.4 frame sizes).
int64_t SyncSafe32(const uint8_t* p);
// Undoes ID3v2 unsynchronisation: every 0xFF 0x00 becomes 0xFF.
std::vector<uint8_t> Resynchronise(std::span<const uint8_t> in);

// Encoder delay and padding as an "iTunSMPB" text gives them. All counts are
// samples per channel.
struct TGaplessInfo {
    bool present = false;
    // Samples the encoder put before the music.
    int32_t encoderDelay = 0;
    // Samples the encoder put after the music.
    int32_t padding = 0;
    // Samples of the original music.
    int64_t sampleCount = 0;
};

// ReplayGain values; each is absent when the tag does not give it. Gains in dB
// (to be added to the playback level); peaks as linear sample magnitudes with
// 1.0 = full scale.
struct TReplayGain {
    std::optional<double> trackGainDb;
    std::optional<double> trackPeak;
    std::optional<double> albumGainDb;
    std::optional<double> albumPeak;
    bool operator==(const TReplayGain&) const = default;
};

// A frame body read whole: the text shown for the frame and, for COMM, USLT,
// TXXX and WXXX, its description.
struct TID3v2FrameText {
    std::string description;
    std::string value;
};

// Reads the body of the frame `id` (2.3 names). Empty when the body does not
// parse: a frame is read whole or not at all.
std::optional<TID3v2FrameText> ReadFrameText(std::string_view id, std::span<const uint8_t> body);

// True when the 4 bytes are a frame identifier (A-Z, 0-9).
bool IsFrameId(const uint8_t* p);

// A comment description written by software for its own use, not by a person.
bool IsMachineCommentDescription(std::string_view description);

// " 00000000 00000210 00000A7C 000000000001F4A4 ...": the second, third and
// fourth hex fields. False when the text does not have that shape.
bool ParseGaplessText(std::string_view text, TGaplessInfo& out);

// "-6.20 dB", "+1.5dB", "3,2 dB" (the unit is optional); absent when not a number.
std::optional<double> ParseGainText(std::string_view text);
// "0.988123"; absent when not a non-negative number.
std::optional<double> ParsePeakText(std::string_view text);

// The master-volume entry of an RVA2 frame.
struct TRva2Master {
    std::string identification;
    double gainDb = 0;
    std::optional<double> peak;
};
// Empty when the body does not parse or has no master-volume entry.
std::optional<TRva2Master> ReadRva2(std::span<const uint8_t> body);

}  // namespace wl
