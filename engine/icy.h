// The parts of an Internet radio stream that need no network: the splitter
// that takes the in-band metadata blocks out of the body, the title parser,
// the conversion of station texts to UTF-8 and the guess of what a server
// sends from its content type and first bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace wl {

// The longest metadata block: length byte 255 times 16.
inline constexpr int32_t kMaxIcyBlockBytes = 255 * 16;

// Splits a body with in-band metadata into audio bytes and metadata blocks:
// after every `metaInterval` audio bytes comes one length byte L and L * 16
// bytes of metadata (L = 0: no block). The body may be fed in pieces split
// anywhere, the length byte and the blocks included.
class TIcySplitter {
public:
    // Audio bytes (a piece of the body); false stops the feeding.
    using TAudioFn = std::function<bool(std::span<const uint8_t> audio)>;
    // A whole metadata block (L * 16 bytes, L > 0) and the count of audio
    // bytes before it; false stops the feeding.
    using TBlockFn = std::function<bool(std::string_view block, int64_t audioPosition)>;

    // metaInterval 0: the whole body is audio.
    explicit TIcySplitter(int32_t metaInterval = 0) { Reset(metaInterval); }

    // Starts afresh (a new connection).
    void Reset(int32_t metaInterval);
    // Feeds the next piece of the body. False when a handler stopped it; the
    // rest of the piece is then dropped.
    bool Feed(std::span<const uint8_t> bytes, const TAudioFn& audio, const TBlockFn& block);

    int32_t MetaInterval() const { return metaInterval_; }
    // Audio bytes handed out so far.
    int64_t AudioBytes() const { return audioBytes_; }

private:
    int32_t metaInterval_ = 0;
    int64_t audioBytes_ = 0;
    int64_t untilBlock_ = 0;     // audio bytes before the next length byte
    int32_t blockLength_ = -1;   // -1: not inside a block; else its length
    std::string block_;          // the block's bytes so far
};

// The title in a metadata block: the text of StreamTitle='...';. Quotes and
// semicolons inside the title are kept: it ends at the first "';" followed by
// the end of the block (NULs and blanks aside) or by another Key=' field.
// Without such an ending the title runs to the end of the block (NULs
// trimmed, a closing quote dropped). nullopt when the block names no title;
// an empty string when it names an empty one. The bytes as sent (see
// DecodeStationText).
std::optional<std::string> ParseStreamTitle(std::string_view block);

// A text the station sent (a title, an icy-* header) in UTF-8: valid UTF-8
// stays as it is, anything else is read in `codePage` (a name iconv knows,
// e.g. "WINDOWS-1251"; an unknown name reads as Windows-1252), bytes the code
// page lacks become U+FFFD. Tabs and line breaks become spaces, other control
// characters are removed, blanks at both ends are trimmed.
inline constexpr const char* kDefaultStationCodePage = "WINDOWS-1252";
std::string DecodeStationText(std::string_view bytes, const std::string& codePage = kDefaultStationCodePage);

enum class TStreamKind : uint8_t {
    Undecided,  // not enough bytes to tell yet
    Mpeg,       // MPEG audio: played
    Aac,
    Ogg,
    Html,       // a web page
    List,       // a station list (PLS, M3U, XSPF)
    Other,      // something else (another content type, or bytes that are no audio)
};

// The body bytes (metadata taken out) SniffAudio needs to decide when the
// content type does not.
inline constexpr size_t kSniffBytes = 8192;

// What a server sends, from its Content-Type (any case, parameters allowed;
// empty when not given) and the first audio bytes of the body. A body's own
// unmistakable start (an Ogg page, an ID3 tag, a web page, a station list)
// outweighs the type; an unknown or generic type is decided by MPEG frame or
// ADTS sync confirmed by the following frame. Undecided while fewer than
// kSniffBytes have been seen; `wholeBody` says the bytes are all there are (a
// short finite body), and then a single frame header is enough.
TStreamKind SniffAudio(std::string_view contentType, std::span<const uint8_t> firstBytes, bool wholeBody = false);

// A content type in lower case, without parameters and blanks.
std::string BareContentType(std::string_view contentType);

// One "Name: value" header line: the name as sent, the value trimmed. False
// when the line holds no colon.
bool SplitHeaderLine(std::string_view line, std::string_view& name, std::string_view& value);

}  // namespace wl
