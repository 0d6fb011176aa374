// The radio stream's pure parts: metadata splitting, title parsing, station
// text decoding and content sniffing.
#include "engine/icy.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "info/text_encoding.h"
#include "tests/stream_builder.h"

namespace wl {
namespace {

struct TSplit {
    std::vector<uint8_t> audio;
    std::vector<std::pair<int64_t, std::string>> blocks;
};

// `body` fed in pieces of the sizes `sizes` gives (cycled).
TSplit Split(const std::vector<uint8_t>& body, int32_t interval, const std::vector<size_t>& sizes) {
    TIcySplitter splitter(interval);
    TSplit out;
    size_t at = 0;
    for (size_t k = 0; at < body.size(); ++k) {
        const size_t n = std::min(sizes[k % sizes.size()], body.size() - at);
        EXPECT_TRUE(splitter.Feed(
            std::span(body).subspan(at, n),
            [&](std::span<const uint8_t> a) {
                out.audio.insert(out.audio.end(), a.begin(), a.end());
                return true;
            },
            [&](std::string_view b, int64_t p) {
                out.blocks.emplace_back(p, std::string(b));
                return true;
            }));
        at += n;
    }
    EXPECT_EQ(splitter.AudioBytes(), static_cast<int64_t>(out.audio.size()));
    return out;
}

TEST(IcySplitter, TakesBlocksOutWhereverThePiecesSplit) {
    constexpr int32_t kInterval = 100;
    // Audio with a block after every interval: a title, an empty block
    // (length 0), the longest block, then a short one; audio ends mid-interval.
    std::vector<uint8_t> audio(450);
    for (size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<uint8_t>(i * 7);
    const std::string title = "StreamTitle='A';";  // 16 bytes
    const std::string longest(kMaxIcyBlockBytes, 'x');
    std::vector<uint8_t> body;
    TSplit expected{audio, {{100, title}, {300, longest}, {400, std::string(16, 'y')}}};
    const std::vector<std::string> blocks = {title, "", longest, std::string(16, 'y')};
    for (size_t i = 0; i < audio.size(); ++i) {
        body.push_back(audio[i]);
        if ((i + 1) % kInterval == 0) {
            const std::string& b = blocks[i / kInterval];
            body.push_back(static_cast<uint8_t>(b.size() / 16));
            body.insert(body.end(), b.begin(), b.end());
        }
    }
    std::mt19937 rng(5);
    std::vector<size_t> randomSizes;
    for (int i = 0; i < 50; ++i) randomSizes.push_back(1 + rng() % 300);
    for (const std::vector<size_t>& sizes : std::vector<std::vector<size_t>>{
             {1}, {2}, {3}, {16}, {99}, {100}, {101}, {117}, {4096}, {body.size()}, randomSizes}) {
        SCOPED_TRACE("first piece size " + std::to_string(sizes[0]));
        const TSplit got = Split(body, kInterval, sizes);
        EXPECT_EQ(got.audio, expected.audio);
        EXPECT_EQ(got.blocks, expected.blocks);
    }

    // No metadata: all audio. A handler that says stop stops the feeding.
    EXPECT_EQ(Split(body, 0, {7}).audio, body);
    TIcySplitter splitter(kInterval);
    int calls = 0;
    EXPECT_FALSE(splitter.Feed(body, [&](std::span<const uint8_t>) { return ++calls < 1; },
                               [](std::string_view, int64_t) { return true; }));
    EXPECT_EQ(calls, 1);
}

TEST(IcyTitle, ParsesTitlesWithQuotesSemicolonsAndNoEnding) {
    using namespace std::string_literals;
    const struct {
        std::string block;
        std::optional<std::string> title;
    } cases[] = {
        {"StreamTitle='Artist - Song';StreamUrl='';\0\0\0"s, "Artist - Song"},
        {"StreamTitle='Rock 'n' Roll; Vol. 2';StreamUrl='';", "Rock 'n' Roll; Vol. 2"},
        {"StreamTitle='It's'; StreamUrl='http://x/';", "It's"},
        {"StreamTitle='A';B';\0\0"s, "A';B"},
        {"StreamTitle='';\0\0\0\0"s, ""},
        {"StreamTitle='No ending\0\0\0"s, "No ending"},
        {"StreamTitle='Quote, no semicolon'\0\0"s, "Quote, no semicolon"},
        {"StreamUrl='http://x/';StreamTitle='Second field';", "Second field"},
        {"streamtitle='any case';", "any case"},
        {"StreamUrl='x';", std::nullopt},
        {"MyStreamTitle='not it';", std::nullopt},
        {"", std::nullopt},
        {std::string(32, '\0'), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block);
        EXPECT_EQ(ParseStreamTitle(c.block), c.title);
    }
}

TEST(IcyText, DecodesStationTextsToCleanUtf8) {
    const struct {
        std::string bytes;
        std::string codePage;
        std::string text;
    } cases[] = {
        {"Mot\xC3\xB6rhead", "WINDOWS-1252", "Mot\xC3\xB6rhead"},           // UTF-8 stays
        {"Mot\xF6rhead \x80", "WINDOWS-1252", "Mot\xC3\xB6rhead \xE2\x82\xAC"},
        {"\xCF\xF0\xE8\xE2\xE5\xF2", "WINDOWS-1251", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"caf\xE9", "NO-SUCH-CODE-PAGE", "caf\xC3\xA9"},                     // read as Windows-1252
        {"a\x81z\xE9", "WINDOWS-1252", "a\xEF\xBF\xBDz\xC3\xA9"},            // a byte the page lacks
        {"  A\tB\x01" "C\r\nD\x7F \xC2\x85", "WINDOWS-1252", "A BC  D"},     // controls, C1, ends trimmed
        {"", "WINDOWS-1252", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const std::string got = DecodeStationText(c.bytes, c.codePage);
        EXPECT_EQ(got, c.text);
        EXPECT_TRUE(IsValidUtf8(got));
    }
}

TEST(IcySniff, TellsMpegFromOtherContent) {
    std::vector<uint8_t> mpeg;
    for (int i = 0; i < 4; ++i) {
        const auto f = test::SilentFrameMpeg1(0, 0, 0);
        mpeg.insert(mpeg.end(), f.begin(), f.end());
    }
    std::vector<uint8_t> offset(100 + mpeg.size(), 0x11);  // a stream joined mid-frame
    std::copy(mpeg.begin(), mpeg.end(), offset.begin() + 100);
    // ADTS: 44100 Hz stereo frames of 200 bytes.
    std::vector<uint8_t> adts;
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> f(200, 0x21);
        const uint8_t head[7] = {0xFF, 0xF1, 0x50, 0x80, static_cast<uint8_t>(200 >> 3),
                                 static_cast<uint8_t>((200 & 7) << 5 | 0x1F), 0xFC};
        std::copy(head, head + 7, f.begin());
        adts.insert(adts.end(), f.begin(), f.end());
    }
    const auto text = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
    std::vector<uint8_t> noise(kSniffBytes);
    std::mt19937 rng(3);
    for (auto& b : noise) b = static_cast<uint8_t>(rng() & 0x7F);  // never a sync byte

    using K = TStreamKind;
    using namespace std::string_literals;
    const struct {
        std::string type;
        std::vector<uint8_t> bytes;
        bool whole;
        TStreamKind kind;
    } cases[] = {
        {"audio/mpeg", std::vector<uint8_t>(16, 0x55), false, K::Mpeg},
        {"Audio/MPEG; charset=x", mpeg, false, K::Mpeg},
        {"application/octet-stream", offset, false, K::Mpeg},
        {"", text("ID3\x04 and a tag follows"), false, K::Mpeg},
        {"", std::vector<uint8_t>(mpeg.begin(), mpeg.begin() + 420), true, K::Mpeg},
        {"audio/aacp", mpeg, false, K::Aac},
        {"", adts, false, K::Aac},
        {"application/ogg", mpeg, false, K::Ogg},
        {"audio/mpeg", text("OggS\0\x02 an Ogg page ...."s), false, K::Ogg},
        {"text/html; charset=utf-8", mpeg, false, K::Html},
        {"audio/mpeg", text("\xEF\xBB\xBF  <!DOCTYPE HTML><html>"), false, K::Html},
        {"audio/x-scpls", mpeg, false, K::List},
        {"", text("[playlist]\nFile1=http://a/\n"), false, K::List},
        {"text/plain", text("#EXTM3U\nhttp://a/\n"), false, K::List},
        {"application/octet-stream", text("<?xml version=\"1.0\"?>\n<playlist version=\"1\">"), false, K::List},
        {"audio/flac", mpeg, false, K::Other},
        {"", noise, false, K::Other},
        {"", std::vector<uint8_t>(noise.begin(), noise.begin() + 100), false, K::Undecided},
        {"", std::vector<uint8_t>(noise.begin(), noise.begin() + 100), true, K::Other},
        {"", std::vector<uint8_t>(mpeg.begin(), mpeg.begin() + 420), false, K::Undecided},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(index++) + ": " + c.type);
        EXPECT_EQ(SniffAudio(c.type, c.bytes, c.whole), c.kind);
    }
}

}  // namespace
}  // namespace wl
