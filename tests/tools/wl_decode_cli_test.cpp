// Runs the built wl-decode: exit codes and messages, WAV and raw output,
// benchmark mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "tests/test_support.h"
#include "tools/decode_file.h"

namespace {

using wl::test::RunCommand;
using wl::test::ShellQuote;

std::string Tool() { return ShellQuote(wl::test::DecodeBinary()); }

std::string DemoFile() { return wl::test::SourceDir() + "/demo/wavelantern-demo.mp3"; }

uint32_t U32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}
uint32_t U16(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8;
}

std::string ReadAll(const std::string& path) {
    const auto bytes = wl::test::ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string AsBytes(const std::vector<int16_t>& pcm) {
    std::string s;
    s.reserve(pcm.size() * 2);
    for (int16_t v : pcm) {
        s.push_back(static_cast<char>(static_cast<uint16_t>(v) & 0xFF));
        s.push_back(static_cast<char>(static_cast<uint16_t>(v) >> 8));
    }
    return s;
}

// Checks the canonical 44-byte header of 16-bit PCM WAV.
void ExpectWavHeader(const std::string& wav, uint32_t channels, uint32_t rate,
                     uint32_t dataBytes, uint32_t riffBytes) {
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(U32(wav, 4), riffBytes);
    EXPECT_EQ(wav.substr(8, 4), "WAVE");
    EXPECT_EQ(wav.substr(12, 4), "fmt ");
    EXPECT_EQ(U32(wav, 16), 16u);
    EXPECT_EQ(U16(wav, 20), 1u);  // PCM
    EXPECT_EQ(U16(wav, 22), channels);
    EXPECT_EQ(U32(wav, 24), rate);
    EXPECT_EQ(U32(wav, 28), rate * channels * 2);
    EXPECT_EQ(U16(wav, 32), channels * 2);
    EXPECT_EQ(U16(wav, 34), 16u);
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(U32(wav, 40), dataBytes);
}

class WlDecodeCli : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }
    wl::test::TempDir dir_;
};

TEST_F(WlDecodeCli, UnreadableInputsExitOneWithTheReason) {
    const std::string missing = dir_.File("no-such-file.mp3");
    auto r = RunCommand(Tool() + " " + ShellQuote(missing) + " 2>&1 >/dev/null");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "cannot open " + missing + ": No such file or directory\n");

    r = RunCommand(Tool() + " " + ShellQuote(dir_.path()) + " 2>&1 >/dev/null");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("cannot open " + dir_.path() + ": "), std::string::npos) << r.output;
}

TEST_F(WlDecodeCli, NonMpegInputsExitTwo) {
    // Random bytes without any 0xFF byte cannot hold a frame sync.
    std::mt19937 rng(42);
    std::vector<uint8_t> junk(50000);
    for (auto& b : junk) b = static_cast<uint8_t>(rng() % 255);
    const std::string junkFile = dir_.File("junk.mp3");
    ASSERT_TRUE(wl::test::WriteFileBytes(junkFile, junk));
    const std::string emptyFile = dir_.File("empty.mp3");
    ASSERT_TRUE(wl::test::WriteFileBytes(emptyFile, {}));
    // An ID3v2 tag and nothing after it.
    const std::vector<uint8_t> tagOnly = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 4, 'a', 'b', 'c', 'd'};
    const std::string tagFile = dir_.File("tag-only.mp3");
    ASSERT_TRUE(wl::test::WriteFileBytes(tagFile, tagOnly));

    // Only tags: an ID3v2 tag whose picture holds frame-like bytes (JPEG
    // markers, lone MPEG headers that no frame follows), then an ID3v1 tag.
    std::vector<uint8_t> picture = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F'};
    for (int i = 0; i < 6000; ++i) picture.push_back(static_cast<uint8_t>(i % 7 ? rng() % 255 : 0xFF));
    for (size_t at = 100; at + 4 < picture.size(); at += 1301) {
        const uint8_t header[4] = {0xFF, 0xFB, 0x90, 0x64};
        std::copy(header, header + 4, picture.begin() + static_cast<std::ptrdiff_t>(at));
    }
    const size_t frameSize = 1 + 10 + 1 + 2 + picture.size();  // encoding, MIME, type, description
    const size_t tagSize = 10 + frameSize;
    std::vector<uint8_t> tags = {'I', 'D', '3', 3, 0, 0, static_cast<uint8_t>(tagSize >> 21 & 0x7F),
                                 static_cast<uint8_t>(tagSize >> 14 & 0x7F),
                                 static_cast<uint8_t>(tagSize >> 7 & 0x7F), static_cast<uint8_t>(tagSize & 0x7F),
                                 'A', 'P', 'I', 'C', static_cast<uint8_t>(frameSize >> 24),
                                 static_cast<uint8_t>(frameSize >> 16), static_cast<uint8_t>(frameSize >> 8),
                                 static_cast<uint8_t>(frameSize), 0, 0, 0};
    for (char c : std::string("image/jpeg")) tags.push_back(static_cast<uint8_t>(c));
    tags.insert(tags.end(), {0, 3, 0});
    tags.insert(tags.end(), picture.begin(), picture.end());
    std::vector<uint8_t> v1(128, 0);
    std::copy_n("TAGTitle", 8, v1.begin());
    tags.insert(tags.end(), v1.begin(), v1.end());
    const std::string tagsFile = dir_.File("tags-only.mp3");
    ASSERT_TRUE(wl::test::WriteFileBytes(tagsFile, tags));

    // Plain decoding with and without an output, and the player's decoding.
    const std::string out = ShellQuote(dir_.File("out.wav"));
    for (const auto& file : {junkFile, emptyFile, tagFile, tagsFile}) {
        for (const std::string& args : {ShellQuote(file), ShellQuote(file) + " " + out,
                                        "--player " + ShellQuote(file) + " " + out}) {
            const auto r = RunCommand(Tool() + " " + args + " 2>&1 >/dev/null");
            EXPECT_EQ(r.exitCode, 2) << args;
            EXPECT_EQ(r.output, "unknown MPEG Audio format.\n") << args;
        }
    }
    EXPECT_FALSE(wl::test::FileExists(dir_.File("out.wav"))) << "output made for a non-MPEG input";
}

TEST_F(WlDecodeCli, BadUsageExits64AndHelpExitsZero) {
    const std::string demo = ShellQuote(DemoFile());
    for (const std::string& args : std::vector<std::string>{
             "", "--raw --wav " + demo + " x", "--frobnicate " + demo,
          "--band-limit abc " + demo, "--band-limit", "--band-limit 0 " + demo,
          demo + " a.wav extra", "--wav " + demo}) {
        const auto r = RunCommand(Tool() + " " + args + " 2>&1");
        EXPECT_EQ(r.exitCode, 64) << args;
        EXPECT_NE(r.output.find("Usage: wl-decode"), std::string::npos) << args;
    }
    const auto help = RunCommand(Tool() + " --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("Usage: wl-decode"), std::string::npos);
    EXPECT_NE(help.output.find("64"), std::string::npos);
}

class WlDecodeDemo : public WlDecodeCli {
protected:
    void SetUp() override {
        WlDecodeCli::SetUp();
        if (!wl::test::FileExists(DemoFile())) GTEST_SKIP() << "missing " << DemoFile();
        const auto file = wl::test::ReadFileBytes(DemoFile());
        std::vector<int16_t> pcm;
        const auto outcome = wl::tools::DecodeToPcm(file, {}, pcm);
        ASSERT_TRUE(outcome.ok) << outcome.error;
        facts_ = outcome.facts;
        expected_ = AsBytes(pcm);
        ASSERT_FALSE(expected_.empty());
    }
    wl::tools::StreamFacts facts_;
    std::string expected_;  // the walk's own PCM, as raw bytes
};

TEST_F(WlDecodeDemo, WavFileHasExactHeaderAndData) {
    const std::string out = dir_.File("demo.wav");
    const auto r = RunCommand(Tool() + " " + ShellQuote(DemoFile()) + " " + ShellQuote(out));
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "");
    const std::string wav = ReadAll(out);
    const auto dataBytes = static_cast<uint32_t>(expected_.size());
    ExpectWavHeader(wav, 2, 44100, dataBytes, dataBytes + 36);
    EXPECT_EQ(wav.size(), 44 + expected_.size());
    EXPECT_TRUE(wav.compare(44, std::string::npos, expected_) == 0) << "WAV data differs";
    // The demo's encoder made exactly 16 s of 44.1 kHz stereo; its delay and
    // padding are dropped.
    EXPECT_EQ(dataBytes, 16u * 44100u * 4u);

    // --no-gapless writes every decoded sample: whole 1152-sample frames, the
    // header frame still left out.
    const auto raw = RunCommand(Tool() + " --no-gapless " + ShellQuote(DemoFile()) + " -");
    ASSERT_EQ(raw.exitCode, 0);
    EXPECT_EQ(raw.output.size() % (1152 * 4), 0u);
    EXPECT_GT(raw.output.size(), expected_.size() + 529 * 4);
    EXPECT_EQ(raw.output.compare(576 * 4 + 529 * 4, expected_.size(), expected_), 0)
        << "the music starts after the encoder's and the decoder's delay";
}

TEST_F(WlDecodeDemo, RawToStdoutAndByExtension) {
    auto r = RunCommand(Tool() + " " + ShellQuote(DemoFile()) + " -");
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.output == expected_) << "raw stdout: " << r.output.size() << " bytes, expected "
                                       << expected_.size();

    const std::string pcmOut = dir_.File("demo.pcm");
    r = RunCommand(Tool() + " " + ShellQuote(DemoFile()) + " " + ShellQuote(pcmOut));
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_TRUE(ReadAll(pcmOut) == expected_);

    // Upper-case extension still means WAV; --raw overrides the extension.
    const std::string upper = dir_.File("DEMO.WAV");
    ASSERT_EQ(RunCommand(Tool() + " " + ShellQuote(DemoFile()) + " " + ShellQuote(upper)).exitCode, 0);
    EXPECT_EQ(ReadAll(upper).substr(0, 4), "RIFF");
    const std::string rawWav = dir_.File("raw.wav");
    ASSERT_EQ(RunCommand(Tool() + " --raw " + ShellQuote(DemoFile()) + " " + ShellQuote(rawWav)).exitCode, 0);
    EXPECT_TRUE(ReadAll(rawWav) == expected_);
}

TEST_F(WlDecodeDemo, WavToPipeAnnouncesUnknownSizes) {
    const auto r = RunCommand(Tool() + " --wav " + ShellQuote(DemoFile()) + " - | cat");
    ASSERT_EQ(r.exitCode, 0);
    ExpectWavHeader(r.output, 2, 44100, 0xFFFFFFFFu, 0xFFFFFFFFu);
    EXPECT_TRUE(r.output.compare(44, std::string::npos, expected_) == 0);
}

TEST_F(WlDecodeDemo, WavToRedirectedStdoutIsPatched) {
    const std::string out = dir_.File("redirected.wav");
    const auto r = RunCommand(Tool() + " --wav " + ShellQuote(DemoFile()) + " - > " + ShellQuote(out));
    ASSERT_EQ(r.exitCode, 0);
    const auto dataBytes = static_cast<uint32_t>(expected_.size());
    ExpectWavHeader(ReadAll(out), 2, 44100, dataBytes, dataBytes + 36);
}

TEST_F(WlDecodeDemo, UnwritableOutputExitsOne) {
    const std::string out = dir_.File("no-such-dir/out.wav");
    const auto r = RunCommand(Tool() + " " + ShellQuote(DemoFile()) + " " + ShellQuote(out) +
                              " 2>&1");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("cannot open " + out + ": No such file or directory"),
              std::string::npos)
        << r.output;
}

TEST_F(WlDecodeDemo, BandLimitChangesTheDecode) {
    const auto narrow = RunCommand(Tool() + " --band-limit 4000 " + ShellQuote(DemoFile()) + " -");
    ASSERT_EQ(narrow.exitCode, 0);
    EXPECT_EQ(narrow.output.size(), expected_.size());
    EXPECT_FALSE(narrow.output == expected_) << "a 4 kHz band limit left the output unchanged";
    const auto player = RunCommand(Tool() + " --band-limit=24000 " + ShellQuote(DemoFile()) + " -");
    ASSERT_EQ(player.exitCode, 0);
    EXPECT_EQ(player.output.size(), expected_.size());
}

TEST_F(WlDecodeDemo, BenchmarkModePrintsFactsAndRealtimeFactor) {
    const auto r = RunCommand(Tool() + " " + ShellQuote(DemoFile()));
    ASSERT_EQ(r.exitCode, 0);
    const std::string& o = r.output;
    EXPECT_NE(o.find("MPEG-1 Layer III, 44100 Hz, joint stereo, 128 kbit/s"), std::string::npos) << o;
    EXPECT_NE(o.find("frames:          " + std::to_string(facts_.frames) + "\n"), std::string::npos) << o;
    const auto at = o.find("realtime factor: ");
    ASSERT_NE(at, std::string::npos) << o;
    const double factor = std::strtod(o.c_str() + at + 17, nullptr);
    EXPECT_GT(factor, 1.0) << "decoding slower than realtime: " << o;
    const auto dur = o.find("duration:        ");
    ASSERT_NE(dur, std::string::npos);
    EXPECT_NEAR(std::strtod(o.c_str() + dur + 17, nullptr), 16.0, 0.2);
}

// A stream that switches between mono and stereo frames: WAV keeps the first
// frame's (mono) layout, mixing stereo frames down; raw keeps each frame's own.
TEST(WlDecodeChannelChanges, WavKeepsFirstLayoutRawFollowsFrames) {
    const std::string dir = wl::test::ConformanceDir();
    if (dir.empty()) GTEST_SKIP() << "conformance folder not found (../shared/conformance or WL_SHARED_DIR)";
    const std::string bit = dir + "/l3-he_mode.bit";
    if (!wl::test::FileExists(bit)) GTEST_SKIP() << "missing " << bit;
    const auto file = wl::test::ReadFileBytes(bit);

    std::string expectedRaw;
    std::string expectedWav;
    int64_t stereoFrames = 0;
    wl::tools::FrameSink sink;
    sink.frame = [&](const int16_t* pcm, size_t bytes, int32_t channels, int32_t) {
        const std::vector<int16_t> frame(pcm, pcm + bytes / 2);
        expectedRaw += AsBytes(frame);
        if (channels == 1) {
            expectedWav += AsBytes(frame);
        } else {
            ++stereoFrames;
            std::vector<int16_t> mono;
            for (size_t i = 0; i + 1 < frame.size(); i += 2) {
                const double mean = (frame[i] + frame[i + 1]) / 2.0;
                mono.push_back(static_cast<int16_t>(std::lround(mean)));
            }
            expectedWav += AsBytes(mono);
        }
        return true;
    };
    const auto outcome = wl::tools::DecodeMpegAudio(file, {}, sink);
    ASSERT_TRUE(outcome.ok);
    ASSERT_TRUE(outcome.facts.channelsChanged);
    ASSERT_GT(stereoFrames, 0);
    EXPECT_EQ(expectedWav.size(), static_cast<size_t>(outcome.facts.frames) * 1152 * 2);

    wl::test::TempDir tmp;
    const std::string wavOut = tmp.File("mode.wav");
    ASSERT_EQ(RunCommand(Tool() + " " + ShellQuote(bit) + " " + ShellQuote(wavOut)).exitCode, 0);
    const std::string wav = ReadAll(wavOut);
    ExpectWavHeader(wav, 1, 44100, static_cast<uint32_t>(expectedWav.size()),
                    static_cast<uint32_t>(expectedWav.size() + 36));
    EXPECT_TRUE(wav.compare(44, std::string::npos, expectedWav) == 0);

    const auto raw = RunCommand(Tool() + " " + ShellQuote(bit) + " -");
    ASSERT_EQ(raw.exitCode, 0);
    EXPECT_TRUE(raw.output == expectedRaw);
}

}  // namespace
