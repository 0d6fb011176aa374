// The options record kept in "wl.ini": 30 fixed little-endian bytes, then the
// working folder as raw text to the end of the file.
//
// The fields' ranges (ResetOutOfRange gives a field outside its range its
// default): DecoderPriority 1..7; AlwaysOnTop and the other flags 0 or 1;
// EqualizerOn 0, 1 or 100 (the "Eq ON" button writes 100); every equalizer
// gain -60..60 (steps of 0.2 dB, +-12 dB), the ten taken as one field (a band
// out of range flattens them all); VuColor with its top byte 0; Brightness
// 0..100; the window position any value; the folder empty or an absolute
// path without a NUL byte.
#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>
#include <string>

namespace wl {

struct TSettings {
    uint8_t DecoderPriority = 4;
    uint8_t AlwaysOnTop = 1;
    uint8_t RepeatPlay = 0;
    uint8_t TimeRemaining = 0;
    uint8_t EqualizerOn = 0;
    std::array<int8_t, 10> EqualizerGains{};
    uint32_t VuColor = 0x004040CC;  // 0x00RRGGBB
    uint8_t UseCache = 0;
    uint8_t FastVuMeters = 0;
    uint8_t RandomPlay = 0;
    uint8_t Screensaver = 1;
    int16_t WindowLeft = 155;
    int16_t WindowTop = 100;
    uint8_t PeakLevel = 1;
    uint8_t AutoloadPlaylist = 0;
    uint8_t Brightness = 50;
    std::string CurrentFolder;  // UTF-8
};

inline constexpr size_t kSettingsFixedSize = 30;

// The file's bytes: the fixed record in field order, then CurrentFolder.
QByteArray EncodeSettings(const TSettings& settings);
// Fields in file order; a field the bytes hold only in part, and every field
// after it, keeps its default. Whatever follows the fixed record is the folder.
TSettings DecodeSettings(const QByteArray& bytes);
// Gives every field outside its range (see above) its default; returns how
// many fields did.
int ResetOutOfRange(TSettings& settings);

}  // namespace wl
