#include "engine/vbr_header.h"

#include <cstring>

namespace wl {
namespace {

constexpr int32_t kExtensionBytes = 36;

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// A positive big-endian count, else 0.
int64_t PositiveCount(const uint8_t* p) {
    const auto v = static_cast<int32_t>(BigEndian32(p));
    return v > 0 ? v : 0;
}

// Where a Xing or VBRI header stands: after the header and the side
// information, plus the CRC when `withCrc`.
int32_t HeaderTagOffset(const TMPEGFrameHeader& h, bool withCrc) {
    const bool mono = h.Mode == 3;
    const int32_t side = h.VersionId == 1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    return 4 + side + (withCrc ? 2 : 0);
}

// A gain field: 3 bits name, 3 bits originator, sign, 9 bits of 0.1 dB.
std::optional<double> GainField(const uint8_t* p, int32_t expectedName) {
    const uint32_t v = (uint32_t{p[0]} << 8) | p[1];
    const auto name = static_cast<int32_t>(v >> 13);
    if (name != expectedName) return std::nullopt;
    const double db = (v & 0x1FF) / 10.0;
    return (v & 0x200) ? -db : db;
}

void ReadExtension(const uint8_t* frame, int32_t at, TVbrHeader& out) {
    const uint8_t* e = frame + at;
    const uint16_t stored = static_cast<uint16_t>((e[34] << 8) | e[35]);
    if (Crc16Reflected(frame, static_cast<size_t>(at + 34)) != stored) return;
    out.hasExtension = true;
    out.encoder.assign(reinterpret_cast<const char*>(e), 9);
    while (!out.encoder.empty() && (out.encoder.back() == ' ' || out.encoder.back() == '\0')) {
        out.encoder.pop_back();
    }
    uint32_t peakBits = BigEndian32(e + 11);
    std::memcpy(&out.peak, &peakBits, sizeof out.peak);
    if (!(out.peak >= 0 && out.peak < 1000)) out.peak = 0;  // NaN or nonsense
    out.trackGainDb = GainField(e + 15, 1);
    out.albumGainDb = GainField(e + 17, 2);
    out.delay = (e[21] << 4) | (e[22] >> 4);
    out.padding = ((e[22] & 0x0F) << 8) | e[23];
    out.musicBytes = PositiveCount(e + 28);
}

bool ReadXing(const uint8_t* frame, int32_t frameBytes, int32_t at, TVbrHeader& out) {
    auto has = [&](int32_t p, int32_t n) { return p >= 0 && p + n <= frameBytes; };
    if (!has(at, 8)) return false;
    const bool xing = std::memcmp(frame + at, "Xing", 4) == 0;
    if (!xing && std::memcmp(frame + at, "Info", 4) != 0) return false;
    out = TVbrHeader{};
    out.kind = xing ? TVbrHeader::TKind::Xing : TVbrHeader::TKind::Info;
    const uint32_t flags = BigEndian32(frame + at + 4);
    int32_t p = at + 8;
    if (flags & 1) {
        if (!has(p, 4)) return true;
        out.frames = PositiveCount(frame + p);
        p += 4;
    }
    if (flags & 2) {
        if (!has(p, 4)) return true;
        out.bytes = PositiveCount(frame + p);
        p += 4;
    }
    if (flags & 4) {
        if (!has(p, 100)) return true;
        std::memcpy(out.toc.data(), frame + p, 100);
        out.hasToc = true;
        p += 100;
    }
    if (flags & 8) {
        if (!has(p, 4)) return true;
        out.quality = static_cast<int32_t>(BigEndian32(frame + p));
        p += 4;
    }
    if (has(p, kExtensionBytes)) ReadExtension(frame, p, out);
    return true;
}

}  // namespace

uint16_t Crc16Reflected(const uint8_t* bytes, size_t count) {
    uint32_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return static_cast<uint16_t>(crc);
}

bool ParseVbrHeader(const uint8_t* frame, int32_t frameBytes, const TMPEGFrameHeader& h, TVbrHeader& out) {
    out = TVbrHeader{};
    const bool crc = h.ProtectionBit == 0;
    // Encoders that protect the frame with a CRC may still write the header
    // where it stands without one.
    if (ReadXing(frame, frameBytes, HeaderTagOffset(h, crc), out)) return true;
    if (crc && ReadXing(frame, frameBytes, HeaderTagOffset(h, false), out)) return true;
    // The encoder that writes VBRI puts it 32 bytes after the frame header
    // whatever the mode and version; where a Xing header would stand is
    // looked at too.
    auto isVbri = [&](int32_t at) { return at + 18 <= frameBytes && std::memcmp(frame + at, "VBRI", 4) == 0; };
    int32_t o = 4 + 32;
    if (!isVbri(o)) o = HeaderTagOffset(h, crc);
    if (!isVbri(o)) return false;
    out.kind = TVbrHeader::TKind::Vbri;
    out.bytes = PositiveCount(frame + o + 10);
    out.frames = PositiveCount(frame + o + 14);
    return true;
}

}  // namespace wl
