#include "decoder/frame_header.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "decoder/tables.h"

namespace wl {

namespace {

// Row of the bitrate table for a header's version and layer code.
int BitrateRow(const TMPEGFrameHeader& h) {
    if (h.VersionId == 1) return h.Layer == 3 ? 0 : h.Layer == 2 ? 1 : 2;
    return h.Layer == 3 ? 3 : 4;
}

int32_t SampleRate50(const TMPEGFrameHeader& h) {
    return tables::kSampleRate50[h.VersionId & 1][h.SampleRateIndex & 3];
}

bool SameTwoBytes(const uint8_t* a, const uint8_t* b) { return a[0] == b[0] && a[1] == b[1]; }

}  // namespace

int32_t HeaderBitrateKbps(const TMPEGFrameHeader& h) {
    if (h.Layer < 1 || h.Layer > 3) return 0;
    return tables::kBitrateKbps[BitrateRow(h)][h.BitrateIndex & 15];
}

int32_t FreeFormatFrameLength(const uint8_t* bytes, int32_t available) {
    available = std::min(available, kMaxHeaderLookahead);
    if (available < 4) return 0;
    const int32_t layer = (bytes[1] >> 1) & 3;
    const int32_t slot = layer == 3 ? 4 : 1;
    const int32_t pad0 = (bytes[2] >> 1) & 1;
    const int32_t limit = available - 3;
    int32_t d = 24;
    while (d < 2000) {
        int32_t p = d;
        while (p < limit && !SameTwoBytes(bytes + p, bytes)) ++p;
        if (p >= limit) return 0;
        const int32_t candidate = p - pad0;
        if (candidate <= 0) return 0;
        // The chain of frames from position 0 must keep the two header bytes.
        int32_t pos = 0;
        int32_t reached = 0;
        bool ok = true;
        for (;;) {
            const int32_t step = candidate + (((bytes[pos + 2] >> 1) & 1) ? slot : 0);
            pos += step;
            if (pos >= limit) break;
            if (!SameTwoBytes(bytes + pos, bytes)) {
                ok = false;
                break;
            }
            ++reached;
        }
        if (ok && reached > 0) return candidate;
        d = p + 1;
    }
    return 0;
}

int32_t ParseFrameHeader(const uint8_t* bytes, int32_t available, TMPEGFrameHeader& h) {
    available = std::min(available, kMaxHeaderLookahead);
    h.SyncKind = 0;
    if (bytes[0] != 0xFF) return 0;
    if (bytes[1] >= 0xF0) {
        h.SyncKind = 1;
    } else if ((bytes[1] & 0xF0) == 0xE0) {
        h.SyncKind = 2;
    } else {
        return 0;
    }
    h.VersionId = (bytes[1] >> 3) & 1;
    h.Layer = (bytes[1] >> 1) & 3;
    h.ProtectionBit = bytes[1] & 1;
    h.BitrateIndex = bytes[2] >> 4;
    h.SampleRateIndex = (bytes[2] >> 2) & 3;
    h.Padding = (bytes[2] >> 1) & 1;
    h.PrivateBit = bytes[2] & 1;
    h.Mode = bytes[3] >> 6;
    h.ModeExtension = (bytes[3] >> 4) & 3;
    h.Copyright = (bytes[3] >> 3) & 1;
    h.Original = (bytes[3] >> 2) & 1;
    h.Emphasis = bytes[3] & 3;

    if (h.Layer == 0) return 0;
    // Eleven sync bits followed by a set version bit is the reserved version,
    // not MPEG 2.5: its band tables and frame layout are undefined.
    if (h.SyncKind == 2 && h.VersionId == 1) return 0;
    if (h.BitrateIndex == 0) return FreeFormatFrameLength(bytes, available);

    const int32_t kbps = tables::kBitrateKbps[BitrateRow(h)][h.BitrateIndex];
    const int32_t fs50 = SampleRate50(h);
    switch (h.Layer) {
        case 3:
            return ((kbps * 240) / fs50) * 4;
        case 2:
            return (kbps * 2880) / fs50;
        default:
            if (h.VersionId == 1 || h.SyncKind == 2) return (kbps * 2880) / fs50;
            return (kbps * 1440) / fs50;
    }
}

int32_t ProbeFrame(const uint8_t* bytes, int32_t available, TMPEGFrameHeader& h,
                   int32_t& bitrate) {
    const int32_t length = ParseFrameHeader(bytes, available, h);
    bitrate = 0;
    if (length <= 0) return length;
    if (h.BitrateIndex != 0) {
        bitrate = tables::kBitrateKbps[BitrateRow(h)][h.BitrateIndex] * 1000;
        return length;
    }
    // Free format: from the measured length (64-bit, so that long measured
    // frames cannot overflow; the result saturates at the 32-bit range).
    const int64_t len64 = length;
    const int64_t fs50 = SampleRate50(h);
    int64_t rate;
    switch (h.Layer) {
        case 3:
            rate = len64 * fs50 * 1000 / 960;
            break;
        case 2:
            rate = len64 * fs50 * 1000 / 2880;
            break;
        default:
            if (h.VersionId == 1) {
                rate = len64 * fs50 * 1000 / 2880;
            } else {
                const int s = h.SyncKind == 1 ? 3 : 2;
                rate = ((len64 * fs50) << s) * 125 / 1440;
            }
            break;
    }
    bitrate = static_cast<int32_t>(std::clamp<int64_t>(rate, INT32_MIN, INT32_MAX));
    return length;
}

int32_t FindFrame(const uint8_t* bytes, int32_t available, TMPEGFrameHeader& h,
                  int32_t& bitrate, int32_t& offset) {
    for (int32_t r = 0; r + 1 < available; ++r) {
        if (bytes[r] != 0xFF) continue;
        if (bytes[r + 1] < 0xF0 && (bytes[r + 1] & 0xF0) != 0xE0) continue;
        offset = r;
        const int32_t rest = available - r;
        if (rest >= 4) return ProbeFrame(bytes + r, rest, h, bitrate);
        // A candidate in the last bytes: parse a zero-padded copy, never read past the data.
        uint8_t tail[4] = {0, 0, 0, 0};
        std::memcpy(tail, bytes + r, static_cast<size_t>(rest));
        return ProbeFrame(tail, rest, h, bitrate);
    }
    return 0;
}

}  // namespace wl
