#include "info/picture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "info/id3v2_frames.h"

namespace wl {

namespace {

constexpr uint8_t kUnsynchronised = 0x80;
constexpr uint8_t kExtendedHeader = 0x40;
constexpr uint8_t kFooter = 0x10;
// A JPEG's end marker may be followed by a little padding some writers add.
constexpr size_t kJpegTailSearch = 4096;

int64_t BigEndian32(const uint8_t* p) {
    return int64_t{p[0]} << 24 | int64_t{p[1]} << 16 | int64_t{p[2]} << 8 | p[3];
}

bool StartsWith(std::span<const uint8_t> data, std::string_view prefix) {
    return data.size() >= prefix.size() && std::memcmp(data.data(), prefix.data(), prefix.size()) == 0;
}

bool IsFrameId22(const uint8_t* p) {
    return std::all_of(p, p + 3, [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// Skips a text terminated as `encoding` says (two zero bytes on a 2-byte
// boundary for UTF-16, else one zero byte); the offset after the terminator,
// or empty when there is none.
std::optional<size_t> SkipText(std::span<const uint8_t> body, size_t at, uint8_t encoding) {
    if (encoding == 1 || encoding == 2) {
        for (size_t i = at; i + 1 < body.size(); i += 2) {
            if (body[i] == 0 && body[i + 1] == 0) return i + 2;
        }
        return std::nullopt;
    }
    for (size_t i = at; i < body.size(); ++i) {
        if (body[i] == 0) return i + 1;
    }
    return std::nullopt;
}

// Keeps the first front cover, else the first picture.
void Consider(std::optional<TPicture>& chosen, std::optional<TPicture>&& candidate) {
    if (!candidate) return;
    if (!chosen || (chosen->Type != kFrontCover && candidate->Type == kFrontCover)) chosen = std::move(candidate);
}

// Where the frames of a tag body begin when the extended-header flag is set.
std::optional<size_t> FramesOffset(std::span<const uint8_t> body, int major) {
    if (body.size() < 4) return std::nullopt;
    if (IsFrameId(body.data())) return 0;  // the flag set without an extended header
    const int64_t e = major == 3 ? 4 + BigEndian32(body.data()) : SyncSafe32(body.data());
    if (e < 4 || static_cast<uint64_t>(e) > body.size()) return std::nullopt;
    return static_cast<size_t>(e);
}

// A frame ending at `at` is followed by a frame, by padding or by the end.
bool IsBoundary(std::span<const uint8_t> frames, size_t at) {
    if (at == frames.size()) return true;
    if (at > frames.size()) return false;
    const size_t n = std::min<size_t>(4, frames.size() - at);
    const uint8_t* p = frames.data() + at;
    if (std::all_of(p, p + n, [](uint8_t c) { return c == 0; })) return true;
    return n == 4 && IsFrameId(p);
}

}  // namespace

std::string_view ImageExtension(std::span<const uint8_t> data) {
    if (data.size() < 12) return {};
    if (data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
        // A whole JPEG ends with its end-of-image marker.
        const size_t from = data.size() > kJpegTailSearch ? data.size() - kJpegTailSearch : 2;
        for (size_t i = data.size() - 1; i > from; --i) {
            if (data[i - 1] == 0xFF && data[i] == 0xD9) return "jpg";
        }
        return {};
    }
    if (StartsWith(data, "\x89PNG\r\n\x1A\n")) {
        // A whole PNG ends with its IEND chunk (type and CRC, maybe a little padding).
        const size_t from = data.size() > 64 ? data.size() - 64 : 8;
        const auto tail = data.subspan(from);
        static constexpr std::string_view kEnd = "IEND";
        return std::search(tail.begin(), tail.end(), kEnd.begin(), kEnd.end()) != tail.end() ? "png" : "";
    }
    if (StartsWith(data, "GIF87a") || StartsWith(data, "GIF89a")) return "gif";
    if (StartsWith(data, "BM")) {
        const uint32_t size = data[2] | uint32_t{data[3]} << 8 | uint32_t{data[4]} << 16 | uint32_t{data[5]} << 24;
        return size <= data.size() && size >= 26 ? "bmp" : "";
    }
    if (StartsWith(data, "RIFF") && std::memcmp(data.data() + 8, "WEBP", 4) == 0) {
        const uint32_t size = data[4] | uint32_t{data[5]} << 8 | uint32_t{data[6]} << 16 | uint32_t{data[7]} << 24;
        return uint64_t{size} + 8 <= data.size() ? "webp" : "";
    }
    return {};
}

std::optional<TPicture> ReadPictureFrame(std::span<const uint8_t> body, bool v22) {
    // encoding, format (PIC: 3 letters; APIC: a MIME type ending in a zero), type, description, data
    if (body.size() < 2) return std::nullopt;
    const uint8_t encoding = body[0];
    if (encoding > 3) return std::nullopt;
    size_t at;
    if (v22) {
        if (body.size() < 5) return std::nullopt;
        at = 4;
    } else {
        const auto end = SkipText(body, 1, 0);
        if (!end) return std::nullopt;
        // "-->": the frame names a picture elsewhere rather than holding it.
        if (std::string_view(reinterpret_cast<const char*>(body.data()) + 1, *end - 2) == "-->") return std::nullopt;
        at = *end;
    }
    if (at >= body.size()) return std::nullopt;
    const int type = body[at++];
    const auto dataStart = SkipText(body, at, encoding);
    if (!dataStart) return std::nullopt;
    const auto data = body.subspan(*dataStart);
    if (data.empty() || data.size() > kMaxPictureBytes) return std::nullopt;
    const std::string_view extension = ImageExtension(data);
    if (extension.empty()) return std::nullopt;
    TPicture picture;
    picture.Type = type;
    picture.Extension = std::string(extension);
    picture.Data.assign(data.begin(), data.end());
    return picture;
}

std::optional<TPicture> FindTagPicture(std::span<const uint8_t> tag) {
    if (tag.size() < 10 || !StartsWith(tag, "ID3")) return std::nullopt;
    const int major = tag[3];
    const uint8_t flags = tag[5];
    // 2.2 with this flag is compressed; other versions have no known layout.
    if (!(major == 3 || major == 4 || (major == 2 && !(flags & 0x40)))) return std::nullopt;
    const int64_t size = SyncSafe32(tag.data() + 6);
    // A truncated tag gives what its bytes hold whole.
    std::span<const uint8_t> frames = tag.subspan(10, static_cast<size_t>(std::min<int64_t>(size, tag.size() - 10)));
    const bool unsynchronised = (flags & kUnsynchronised) != 0;
    std::vector<uint8_t> whole;
    if (unsynchronised && major != 4) {
        // 2.2 and 2.3 unsynchronise the whole tag, frame headers included.
        whole = Resynchronise(frames);
        frames = whole;
    }
    if (major != 2 && (flags & kExtendedHeader)) {
        const auto offset = FramesOffset(frames, major);
        if (!offset) return std::nullopt;
        frames = frames.subspan(*offset);
    }

    std::optional<TPicture> chosen;
    const size_t headerSize = major == 2 ? 6 : 10;
    size_t at = 0;
    while (frames.size() - at >= headerSize) {
        const uint8_t* h = frames.data() + at;
        if (major == 2 ? !IsFrameId22(h) : !IsFrameId(h)) break;  // padding, or not a frame
        int64_t n;
        uint8_t formatFlags = 0;
        if (major == 2) {
            n = int64_t{h[3]} << 16 | int64_t{h[4]} << 8 | h[5];
        } else {
            n = major == 4 ? SyncSafe32(h + 4) : BigEndian32(h + 4);
            formatFlags = h[9];
        }
        if (major == 4) {
            // Some writers put plain sizes in 2.4 frames: take the plain reading
            // when only it lands on a frame, the padding or the end.
            const int64_t plain = BigEndian32(h + 4);
            if (plain != n && !IsBoundary(frames, at + 10 + static_cast<size_t>(n)) &&
                IsBoundary(frames, at + 10 + static_cast<size_t>(plain)))
                n = plain;
        }
        // A frame running past the tag's bytes is dropped, and the frames end.
        if (static_cast<uint64_t>(n) > frames.size() - at - headerSize) break;
        std::span<const uint8_t> body = frames.subspan(at + headerSize, static_cast<size_t>(n));
        at += headerSize + static_cast<size_t>(n);

        const bool picture = major == 2 ? std::memcmp(h, "PIC", 3) == 0 : std::memcmp(h, "APIC", 4) == 0;
        if (!picture) continue;
        std::vector<uint8_t> resynchronised;
        if (major == 3) {
            if (formatFlags & 0xC0) continue;  // compressed or encrypted
            if (formatFlags & 0x20) body = body.subspan(std::min<size_t>(1, body.size()));
        } else if (major == 4) {
            if (formatFlags & 0x0C) continue;  // compressed or encrypted
            if (formatFlags & 0x40) body = body.subspan(std::min<size_t>(1, body.size()));
            std::optional<int64_t> dataLength;
            if (formatFlags & 0x01) {
                if (body.size() < 4) continue;
                dataLength = SyncSafe32(body.data());
                body = body.subspan(4);
            }
            if ((formatFlags & 0x02) || unsynchronised) {
                resynchronised = Resynchronise(body);
                body = resynchronised;
            }
            // The data-length indicator tells the body's length once
            // resynchronised: fewer bytes are a damaged frame.
            if (dataLength) {
                if (static_cast<uint64_t>(*dataLength) > body.size()) continue;
                body = body.first(static_cast<size_t>(*dataLength));
            }
        }
        Consider(chosen, ReadPictureFrame(body, major == 2));
    }
    return chosen;
}

std::optional<TPicture> ReadFilePicture(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::optional<TPicture> chosen;
    int64_t at = 0;
    // Taggers that prepend a tag may keep the old one behind it.
    for (int tags = 0; tags < 16; ++tags) {
        std::array<uint8_t, 10> header{};
        in.seekg(at);
        if (!in.read(reinterpret_cast<char*>(header.data()), header.size())) break;
        if (std::memcmp(header.data(), "ID3", 3) != 0) break;
        const int64_t size = SyncSafe32(header.data() + 6);
        const int64_t total = 10 + size + (header[3] == 4 && (header[5] & kFooter) ? 10 : 0);
        if (size > 0 && total <= kMaxTagBytes) {
            std::vector<uint8_t> tag(static_cast<size_t>(10 + size));
            std::memcpy(tag.data(), header.data(), header.size());
            in.read(reinterpret_cast<char*>(tag.data()) + 10, static_cast<std::streamsize>(size));
            tag.resize(10 + static_cast<size_t>(in.gcount()));
            in.clear();
            Consider(chosen, FindTagPicture(tag));
        }
        if (chosen && chosen->Type == kFrontCover) break;
        at += total;
    }
    return chosen;
}

std::optional<std::string> FindFolderPicture(const std::string& folder) {
    static constexpr std::string_view kNames[] = {"cover.jpg", "cover.png", "folder.jpg", "front.jpg"};
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return std::nullopt;
    std::optional<std::string> best;
    size_t bestRank = std::size(kNames);
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        std::string name = it->path().filename().string();
        if (name.size() > 10) continue;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
        const auto rank = static_cast<size_t>(std::find(std::begin(kNames), std::end(kNames), name) - std::begin(kNames));
        if (rank >= bestRank || !it->is_regular_file(ec)) continue;
        best = it->path().string();
        bestRank = rank;
        if (rank == 0) break;
    }
    return best;
}

}  // namespace wl
