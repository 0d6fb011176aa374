// Pictures of a file: the picture frames of its ID3v2 tags (APIC, and PIC in
// 2.2 tags) and the cover image lying in its folder.
//
// A picture is kept only when its bytes are a whole image of a known kind
// (JPEG, PNG, GIF, BMP, WebP) of at most kMaxPictureBytes; a damaged,
// truncated, linked or oversized one is passed over as if it were absent.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace wl {

constexpr size_t kMaxPictureBytes = 16u << 20;
// The picture type of a front cover.
constexpr int kFrontCover = 3;

struct TPicture {
    int Type = 0;           // the frame's picture type (3: front cover)
    std::string Extension;  // "jpg", "png", "gif", "bmp" or "webp", from the bytes themselves
    std::vector<uint8_t> Data;
};

// The file-name extension of the image the bytes hold; empty when they are not
// a whole image of a known kind.
std::string_view ImageExtension(std::span<const uint8_t> data);

// The body of one picture frame: APIC (`v22` false) or PIC (`v22` true).
std::optional<TPicture> ReadPictureFrame(std::span<const uint8_t> body, bool v22);

// The picture of one whole ID3v2 tag (its 10-byte header first): the first
// front cover, else the first picture. Frames the tag's bytes do not hold
// whole are passed over.
std::optional<TPicture> FindTagPicture(std::span<const uint8_t> tag);

// The picture of the ID3v2 tags at the start of the file at `path` (each that
// directly follows another), chosen as FindTagPicture does over all of them.
// Tags larger than kMaxTagBytes are not read. Empty when the file cannot be
// read.
constexpr int64_t kMaxTagBytes = 64ll << 20;
std::optional<TPicture> ReadFilePicture(const std::string& path);

// The cover image beside the files of `folder`: cover.jpg, cover.png,
// folder.jpg or front.jpg (in that order of preference, the names in any
// case). Empty when there is none.
std::optional<std::string> FindFolderPicture(const std::string& folder);

}  // namespace wl
