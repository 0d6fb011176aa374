// Tag text decoding over arbitrary bytes: the first byte picks a frame
// identifier and the tag header's version and flags, the rest is a frame
// body. It goes through the text conversions and the frame-body readers
// directly, then as the only frame of an ID3v2 tag read by TMP3Info
// (unsynchronised, with an extended header, 2.2 names, as the byte says).
// Every text that comes out must be valid UTF-8 of bounded length.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "io/errors.h"
#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "fuzz/harness.h"
#include "info/id3v2_frames.h"
#include "info/mp3_info.h"
#include "info/text_encoding.h"

namespace wl::fuzz {

namespace {

constexpr const char* kFrameIds[] = {"TIT2", "TPE1", "TALB", "TCON", "TRCK", "TYER", "TDRC", "COMM",
                                     "USLT", "TXXX", "WXXX", "WOAR", "RVA2", "APIC", "PRIV", "TCOM"};

// Converted text: valid UTF-8, at most three bytes per input byte (plus a
// replacement character).
void CheckText(std::string_view text, size_t inputBytes) {
    if (!IsValidUtf8(text) || text.size() > 3 * inputBytes + 3) __builtin_trap();
}

void CheckConversions(std::span<const uint8_t> body) {
    CheckText(EightBitToUtf8(body), body.size());
    CheckText(Windows1252ToUtf8(body), body.size());
    CheckText(Utf16ToUtf8(body, TUtf16Order::LittleEndian), body.size());
    CheckText(Utf16ToUtf8(body, TUtf16Order::BigEndian), body.size());
    const std::string_view raw(reinterpret_cast<const char*>(body.data()), body.size());
    if (CutAndTrim(raw).size() > raw.size() || TrimRight(raw).size() > raw.size()) __builtin_trap();
}

// The frame as a tag: header (version and flags from `config`), one frame,
// then a few bytes of padding.
std::vector<uint8_t> MakeTag(uint8_t config, std::string_view id, std::span<const uint8_t> body) {
    const int major = 2 + (config >> 4) % 3;
    const uint8_t flags = static_cast<uint8_t>((config & 0x80 ? 0x80 : 0) | (config & 0x40 ? 0x40 : 0));
    std::vector<uint8_t> frame;
    const auto n = static_cast<uint32_t>(body.size());
    if (major == 2) {
        // The 2.2 name of the common frames, else the first three letters.
        const std::string_view id22 = id == "TIT2" ? "TT2" : id == "TPE1" ? "TP1" : id == "COMM" ? "COM"
                                    : id == "TXXX" ? "TXX" : id.substr(0, 3);
        frame.insert(frame.end(), id22.begin(), id22.end());
        for (int shift = 16; shift >= 0; shift -= 8) frame.push_back(static_cast<uint8_t>(n >> shift));
    } else {
        frame.insert(frame.end(), id.begin(), id.end());
        // 2.4 sizes are sync-safe; 2.3 sizes plain.
        for (int i = 3; i >= 0; --i)
            frame.push_back(major == 4 ? static_cast<uint8_t>((n >> (7 * i)) & 0x7F) : static_cast<uint8_t>(n >> (8 * i)));
        frame.push_back(0);
        frame.push_back(static_cast<uint8_t>(major == 4 && (config & 0x08) ? 0x02 : 0));  // frame unsynchronised
    }
    frame.insert(frame.end(), body.begin(), body.end());
    frame.insert(frame.end(), 4, 0);
    const auto tagSize = static_cast<uint32_t>(frame.size());
    std::vector<uint8_t> tag = {'I', 'D', '3', static_cast<uint8_t>(major), 0, flags};
    for (int shift = 21; shift >= 0; shift -= 7) tag.push_back(static_cast<uint8_t>((tagSize >> shift) & 0x7F));
    tag.insert(tag.end(), frame.begin(), frame.end());
    return tag;
}

}  // namespace

void Id3TextInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 13) return;
    const uint8_t config = data[0];
    const std::span<const uint8_t> body(data + 1, size - 1);
    const std::string_view id = kFrameIds[config & 0x0F];

    CheckConversions(body);
    if (const auto text = ReadFrameText(id, body)) {
        CheckText(text->description, body.size());
        CheckText(text->value, body.size());
        TGaplessInfo gapless;
        ParseGaplessText(text->value, gapless);
        (void)ParseGainText(text->value);
        (void)ParsePeakText(text->value);
    }
    if (const auto rva2 = ReadRva2(body)) CheckText(rva2->identification, body.size());

    const std::vector<uint8_t> tag = MakeTag(config, id, body);
    TMemoryViewStream stream(tag);
    TMPStreamReader reader(16384);
    TMP3Info info;
    try {
        reader.Open(&stream, true);
        info.Attach(&reader);
        info.SetNeedInfoType(TMP3InfoType::FromBits(0x1F));
        info.AnalyzeHead();
        for (const std::string& entry : info.ID3v2List()) CheckText(entry, tag.size() + 8);
        for (const std::string& text : {info.Title(), info.Artist(), info.Album(), info.Comment(), info.Year(), info.Genre()})
            CheckText(text, tag.size() + 8);
    } catch (const EMP3Error&) {
        // Read errors of the source are reported, not crashes.
    }
}

}  // namespace wl::fuzz
