#include "app/settings.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace wl {

namespace {

class TWriter {
public:
    void Byte(uint8_t v) { bytes_.append(static_cast<char>(v)); }
    void Int16(int16_t v) {
        const auto u = static_cast<uint16_t>(v);
        Byte(static_cast<uint8_t>(u & 0xFF));
        Byte(static_cast<uint8_t>(u >> 8));
    }
    void UInt32(uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8) Byte(static_cast<uint8_t>((v >> shift) & 0xFF));
    }
    QByteArray& Bytes() { return bytes_; }

private:
    QByteArray bytes_;
};

// Reads fields in order until one does not fit; from then on nothing is read.
class TReader {
public:
    explicit TReader(const QByteArray& bytes) : bytes_(bytes) {}
    template <typename T>
    void Field(T& field) {
        if (!ok_ || bytes_.size() - offset_ < static_cast<qsizetype>(sizeof(T))) {
            ok_ = false;
            return;
        }
        // Little-endian on disk; assembled byte by byte so the host order does not matter.
        uint64_t value = 0;
        for (size_t i = 0; i < sizeof(T); ++i) {
            value |= static_cast<uint64_t>(static_cast<uint8_t>(bytes_[offset_ + static_cast<qsizetype>(i)])) << (8 * i);
        }
        offset_ += static_cast<qsizetype>(sizeof(T));
        std::make_unsigned_t<T> raw = static_cast<std::make_unsigned_t<T>>(value);
        std::memcpy(&field, &raw, sizeof(T));
    }
    void Gains(std::array<int8_t, 10>& gains) {
        if (!ok_ || bytes_.size() - offset_ < static_cast<qsizetype>(gains.size())) {
            ok_ = false;
            return;
        }
        for (int8_t& g : gains) g = static_cast<int8_t>(bytes_[offset_++]);
    }
    QByteArray Rest() const { return ok_ ? bytes_.mid(offset_) : QByteArray(); }

private:
    const QByteArray& bytes_;
    qsizetype offset_ = 0;
    bool ok_ = true;
};

}  // namespace

QByteArray EncodeSettings(const TSettings& s) {
    TWriter w;
    w.Byte(s.DecoderPriority);
    w.Byte(s.AlwaysOnTop);
    w.Byte(s.RepeatPlay);
    w.Byte(s.TimeRemaining);
    w.Byte(s.EqualizerOn);
    for (int8_t g : s.EqualizerGains) w.Byte(static_cast<uint8_t>(g));
    w.UInt32(s.VuColor);
    w.Byte(s.UseCache);
    w.Byte(s.FastVuMeters);
    w.Byte(s.RandomPlay);
    w.Byte(s.Screensaver);
    w.Int16(s.WindowLeft);
    w.Int16(s.WindowTop);
    w.Byte(s.PeakLevel);
    w.Byte(s.AutoloadPlaylist);
    w.Byte(s.Brightness);
    w.Bytes().append(s.CurrentFolder.data(), static_cast<qsizetype>(s.CurrentFolder.size()));
    return w.Bytes();
}

TSettings DecodeSettings(const QByteArray& bytes) {
    TSettings s;
    TReader r(bytes);
    r.Field(s.DecoderPriority);
    r.Field(s.AlwaysOnTop);
    r.Field(s.RepeatPlay);
    r.Field(s.TimeRemaining);
    r.Field(s.EqualizerOn);
    r.Gains(s.EqualizerGains);
    r.Field(s.VuColor);
    r.Field(s.UseCache);
    r.Field(s.FastVuMeters);
    r.Field(s.RandomPlay);
    r.Field(s.Screensaver);
    r.Field(s.WindowLeft);
    r.Field(s.WindowTop);
    r.Field(s.PeakLevel);
    r.Field(s.AutoloadPlaylist);
    r.Field(s.Brightness);
    s.CurrentFolder = r.Rest().toStdString();
    return s;
}

int ResetOutOfRange(TSettings& s) {
    const TSettings defaults;
    int reset = 0;
    auto check = [&reset](auto& field, auto fallback, bool valid) {
        if (valid) return;
        field = fallback;
        ++reset;
    };
    auto flag = [&check](uint8_t& field, uint8_t fallback) { check(field, fallback, field <= 1); };
    check(s.DecoderPriority, defaults.DecoderPriority, s.DecoderPriority >= 1 && s.DecoderPriority <= 7);
    flag(s.AlwaysOnTop, defaults.AlwaysOnTop);
    flag(s.RepeatPlay, defaults.RepeatPlay);
    flag(s.TimeRemaining, defaults.TimeRemaining);
    check(s.EqualizerOn, defaults.EqualizerOn, s.EqualizerOn <= 1 || s.EqualizerOn == 100);
    const bool gainsValid = std::all_of(s.EqualizerGains.begin(), s.EqualizerGains.end(),
                                        [](int8_t g) { return g >= -60 && g <= 60; });
    check(s.EqualizerGains, defaults.EqualizerGains, gainsValid);
    check(s.VuColor, defaults.VuColor, (s.VuColor >> 24) == 0);
    flag(s.UseCache, defaults.UseCache);
    flag(s.FastVuMeters, defaults.FastVuMeters);
    flag(s.RandomPlay, defaults.RandomPlay);
    flag(s.Screensaver, defaults.Screensaver);
    flag(s.PeakLevel, defaults.PeakLevel);
    flag(s.AutoloadPlaylist, defaults.AutoloadPlaylist);
    check(s.Brightness, defaults.Brightness, s.Brightness <= 100);
    // The folder is stored as the system gave it: absolute, without a NUL.
    const std::string& folder = s.CurrentFolder;
    check(s.CurrentFolder, defaults.CurrentFolder,
          folder.empty() || (folder.front() == '/' && folder.find('\0') == std::string::npos));
    return reset;
}

}  // namespace wl
