#include "engine/frame_scanner.h"

#include <algorithm>
#include <cstring>

namespace wl {
namespace {

// Bytes looked at in one piece: room for a candidate and its confirming
// frames even in free format (frames of up to kMaxHeaderLookahead bytes).
constexpr int32_t kScanWindow = 32768;
static_assert(kScanWindow >= (kConfirmingFrames + 1) * (kMaxHeaderLookahead + 4) + 4);

// The fewest buffered bytes a search looks at when a source has no more yet.
constexpr int32_t kLiveScanMinimum = 8192;

enum class TVerdict { Frame, NotFrame, NeedMore };

// A header of a known version, layer, rate and bitrate; its whole frame bytes
// (free-format frames measured when allowed), else 0.
int32_t CandidateBytes(const uint8_t* p, int32_t available, bool freeFormat, TMPEGFrameHeader& h,
                       int32_t& freeLength) {
    const int32_t n = ParseFrameHeader(p, 0, h);
    if (h.SyncKind == 0 || LayerNumber(h) == 0 || MpegVersion(h) == 0) return 0;
    if (n > 0) return FrameBytes(h, n);
    if (!freeFormat || h.BitrateIndex != 0 || h.SampleRateIndex == 3) return 0;
    freeLength = FreeFormatFrameLength(p, available);
    return FrameBytes(h, freeLength);
}

// Whether a first frame starts at d[o]: d holds `available` bytes of the
// audio, `atEnd` when they reach its end.
TVerdict Confirm(const uint8_t* d, int32_t available, bool atEnd, int32_t o, bool freeFormat,
                 TFirstFrame& out) {
    TMPEGFrameHeader h{};
    int32_t freeLength = 0;
    const int32_t bytes = CandidateBytes(d + o, available - o, freeFormat, h, freeLength);
    if (bytes <= 0) {
        const bool unmeasured = freeFormat && h.SyncKind != 0 && h.BitrateIndex == 0;
        return unmeasured && !atEnd && available - o < kMaxHeaderLookahead ? TVerdict::NeedMore
                                                                           : TVerdict::NotFrame;
    }
    if (o + bytes > available) return atEnd ? TVerdict::NotFrame : TVerdict::NeedMore;
    const uint32_t word = LittleEndianWord(d + o);
    out.header = h;
    out.headerWord = word;
    out.frameBytes = bytes;
    out.freeFormatLength = freeLength;
    int32_t q = o + bytes;
    for (int32_t k = 0; k < kConfirmingFrames; ++k) {
        if (q + 4 > available) return atEnd ? TVerdict::Frame : TVerdict::NeedMore;
        TMPEGFrameHeader next{};
        int32_t length = FrameLength(d + q, word, next);
        if (length <= 0 && freeLength > 0 && next.BitrateIndex == 0 &&
            (LittleEndianWord(d + q) & kFrameMatchMask) == (word & kFrameMatchMask)) {
            length = FrameBytes(next, freeLength);
        }
        if (length <= 0 || CodedChannels(next) != CodedChannels(h)) return TVerdict::NotFrame;
        q += length;
    }
    return TVerdict::Frame;
}

}  // namespace

int32_t FrameLength(const uint8_t* bytes, uint32_t firstHeaderWord, TMPEGFrameHeader& header) {
    const int32_t n = ParseFrameHeader(bytes, 0, header);
    if (n <= 0) return n;
    if (LayerNumber(header) == 0) return 0;
    if ((LittleEndianWord(bytes) & kFrameMatchMask) != (firstHeaderWord & kFrameMatchMask)) return 0;
    return FrameBytes(header, n);
}

bool FindFirstFrame(TMPStreamReader& reader, int64_t audioEnd, bool freeFormat, TFirstFrame& out) {
    audioEnd = std::min(audioEnd, reader.Size());
    const int64_t lastCandidate = std::min(reader.Position() + kFirstFrameSearchLimit, audioEnd - 4);
    const int32_t window = std::min(kScanWindow, reader.Capacity());
    for (;;) {
        const int64_t pos = reader.Position();
        if (pos > lastCandidate) return false;
        const int64_t remaining = audioEnd - pos;
        auto want = static_cast<int32_t>(std::min<int64_t>(window, remaining));
        if (!reader.Need(want)) {
            // A live stream offers what it has buffered so far: a frame and
            // its confirming ones fit in far less than the window (but for
            // free format, whose frames are measured over more).
            const int32_t have = reader.Count();
            if (have < kLiveScanMinimum || !reader.Need(have)) return false;
            want = have;
        }
        const uint8_t* d = reader.Data();
        const bool atEnd = want == remaining;
        const auto last = static_cast<int32_t>(std::min<int64_t>(want - 4, lastCandidate - pos));
        int32_t o = 0;
        while (o <= last) {
            const void* hit = std::memchr(d + o, 0xFF, static_cast<size_t>(last - o + 1));
            if (!hit) {
                o = last + 1;
                break;
            }
            o = static_cast<int32_t>(static_cast<const uint8_t*>(hit) - d);
            const TVerdict v = Confirm(d, want, atEnd, o, freeFormat, out);
            if (v == TVerdict::Frame) {
                reader.Skip(o);
                out.offset = pos + o;
                return true;
            }
            // Look again with the candidate at the start of a full window.
            if (v == TVerdict::NeedMore && o > 0) break;
            ++o;
        }
        if (!reader.Skip(o)) return false;
    }
}

}  // namespace wl
