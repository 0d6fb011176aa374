// Tags written at test time by the Debian taggers (mid3v2 and the mutagen
// module, id3v2, eyeD3) read back: comments, gapless and ReplayGain values,
// URL frames, and the tags of two taggers in a row. Skipped when a tagger is
// not installed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "info/mp3_info.h"
#include "tests/stream_builder.h"
#include "tests/test_support.h"

namespace {

using wl::TMP3Info;
using wl::test::RunCommand;
using wl::test::ShellQuote;

class TaggerFiles : public ::testing::Test {
protected:
    // A file of silent frames and nothing else.
    std::string Untagged(const std::string& name) {
        std::vector<uint8_t> audio;
        for (int i = 0; i < 10; ++i) {
            const auto frame = wl::test::SilentFrameMpeg1(0, 0, 0);
            audio.insert(audio.end(), frame.begin(), frame.end());
        }
        const std::string path = dir_.File(name);
        EXPECT_TRUE(wl::test::WriteFileBytes(path, audio));
        return path;
    }

    // Runs a tagger command; false (after a failed expectation) when it fails.
    static bool Run(const std::string& command) {
        const auto result = RunCommand(command + " 2>&1");
        EXPECT_EQ(result.exitCode, 0) << command << "\n" << result.output;
        return result.exitCode == 0;
    }

    // The interpreter that has the mutagen module, empty when none does.
    static std::string MutagenPython() {
        for (const char* python : {"python3", "/usr/bin/python3"}) {
            if (RunCommand(std::string(python) + " -c 'import mutagen' 2>/dev/null").exitCode == 0) return python;
        }
        return {};
    }

    // Analyses `path`; the audio must start with a frame right after the tags.
    static void Analyse(const std::string& path, TMP3Info& info) {
        wl::TFileStream stream(path);
        wl::TMPStreamReader reader(65536);
        reader.Open(&stream);
        info.Attach(&reader);
        info.AnalyzeHead();
        info.AnalyzeTail();
        const auto bytes = wl::test::ReadFileBytes(path);
        ASSERT_LT(info.AudioStart() + 1, static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(bytes[static_cast<size_t>(info.AudioStart())], 0xFF);
        EXPECT_EQ(bytes[static_cast<size_t>(info.AudioStart()) + 1] & 0xE0, 0xE0);
    }

    // The size of the ID3v2 tag at the start of `bytes` by its header.
    static size_t TagSize(const std::vector<uint8_t>& bytes) {
        if (bytes.size() < 10) return 0;
        return 10 + (size_t{bytes[6]} << 21 | size_t{bytes[7]} << 14 | size_t{bytes[8]} << 7 | bytes[9]);
    }

    static constexpr const char* kGapless = " 00000000 00000210 000003C4 00000000000A6A00";
    wl::test::TempDir dir_;
};

TEST_F(TaggerFiles, MutagenCommentsGaplessAndGain) {
    if (!wl::test::OnPath("mid3v2")) GTEST_SKIP() << "mid3v2 (python3-mutagen) is not installed";
    const std::string file = Untagged("mutagen.mp3");
    ASSERT_TRUE(Run("mid3v2 -t 'Mu Title' -c 'iTunNORM: 00000A2B 00000A2B:eng' -c 'people comment' -c " +
                    ShellQuote(std::string("iTunSMPB:") + kGapless + ":eng") +
                    " --TXXX 'REPLAYGAIN_TRACK_GAIN:-6.20 dB' --TXXX 'replaygain_track_peak:0.988123' " +
                    ShellQuote(file)));
    TMP3Info info;
    Analyse(file, info);
    EXPECT_EQ(info.AudioStart(), static_cast<int64_t>(TagSize(wl::test::ReadFileBytes(file))));
    EXPECT_EQ(info.Title(), "Mu Title");
    EXPECT_EQ(info.Comment(), "people comment");
    EXPECT_TRUE(info.TagGapless().present);
    EXPECT_EQ(info.TagGapless().encoderDelay, 0x210);
    EXPECT_EQ(info.TagGapless().padding, 0x3C4);
    EXPECT_EQ(info.TagGapless().sampleCount, 0xA6A00);

    const std::string python = MutagenPython();
    if (python.empty()) GTEST_SKIP() << "no python3 with the mutagen module for RVA2 frames";
    ASSERT_TRUE(Run(python + " -c " +
                    ShellQuote("import sys\nfrom mutagen.id3 import ID3, RVA2\nt = ID3(sys.argv[1])\n"
                               "t.add(RVA2(desc='album', channel=1, gain=-3.5, peak=0.875))\n"
                               "t.add(RVA2(desc='track', channel=1, gain=2.25, peak=0.5))\nt.save()") +
                    " " + ShellQuote(file)));
    TMP3Info withRva2;
    Analyse(file, withRva2);
    const wl::TReplayGain g = withRva2.ReplayGain();
    ASSERT_TRUE(g.trackGainDb && g.trackPeak && g.albumGainDb && g.albumPeak);
    EXPECT_DOUBLE_EQ(*g.trackGainDb, -6.2);  // the user texts win over RVA2
    EXPECT_DOUBLE_EQ(*g.trackPeak, 0.988123);
    EXPECT_DOUBLE_EQ(*g.albumGainDb, -3.5);
    EXPECT_DOUBLE_EQ(*g.albumPeak, 0.875);
}

TEST_F(TaggerFiles, EyeD3InBothVersions) {
    if (!wl::test::OnPath("eyeD3")) GTEST_SKIP() << "eyeD3 (eyed3) is not installed";
    const std::string file = Untagged("eyed3.mp3");
    ASSERT_TRUE(Run("eyeD3 --quiet -t Eye -c 'eye comment' --user-text-frame 'REPLAYGAIN_ALBUM_GAIN:-4.00 dB' "
                    "--add-comment " + ShellQuote(std::string(kGapless) + ":iTunSMPB") + " " + ShellQuote(file)));
    for (const char* version : {"2.4", "2.3"}) {
        SCOPED_TRACE(version);
        if (std::string(version) == "2.3") {
            ASSERT_TRUE(Run("eyeD3 --quiet --to-v2.3 " + ShellQuote(file)));
        }
        const auto bytes = wl::test::ReadFileBytes(file);
        ASSERT_GT(bytes.size(), 10u);
        EXPECT_EQ(bytes[3], version[2] - '0');
        TMP3Info info;
        Analyse(file, info);
        EXPECT_EQ(info.AudioStart(), static_cast<int64_t>(TagSize(bytes)));
        EXPECT_EQ(info.Title(), "Eye");
        EXPECT_EQ(info.Comment(), "eye comment");
        EXPECT_TRUE(info.TagGapless().present);
        EXPECT_EQ(info.TagGapless().encoderDelay, 0x210);
        ASSERT_TRUE(info.ReplayGain().albumGainDb);
        EXPECT_DOUBLE_EQ(*info.ReplayGain().albumGainDb, -4.0);
    }
}

TEST_F(TaggerFiles, NewTagPrependedToAnOldOne) {
    if (!wl::test::OnPath("id3v2") || !wl::test::OnPath("mid3v2")) {
        GTEST_SKIP() << "id3v2 or mid3v2 (python3-mutagen) is not installed";
    }
    const std::string old = Untagged("old.mp3");
    ASSERT_TRUE(Run("id3v2 -2 -t Old -A 'Old Album' --WOAR http://artist.example/page " + ShellQuote(old)));
    const std::string fresh = Untagged("new.mp3");
    ASSERT_TRUE(Run("mid3v2 -t 'New Title' " + ShellQuote(fresh)));
    const auto oldBytes = wl::test::ReadFileBytes(old);
    const auto freshBytes = wl::test::ReadFileBytes(fresh);
    const size_t oldTag = TagSize(oldBytes), freshTag = TagSize(freshBytes);
    ASSERT_GT(oldTag, 10u);
    ASSERT_GT(freshTag, 10u);
    std::vector<uint8_t> both(freshBytes.begin(), freshBytes.begin() + static_cast<std::ptrdiff_t>(freshTag));
    both.insert(both.end(), oldBytes.begin(), oldBytes.end());
    const std::string path = dir_.File("both.mp3");
    ASSERT_TRUE(wl::test::WriteFileBytes(path, both));

    TMP3Info info;
    Analyse(path, info);
    EXPECT_EQ(info.AudioStart(), static_cast<int64_t>(freshTag + oldTag));
    EXPECT_EQ(info.Title(), "New Title");
    EXPECT_EQ(info.Album(), "Old Album");
    EXPECT_EQ(TMP3Info::Lookup(info.ID3v2List(), "WOAR"), "http://artist.example/page");
}

}  // namespace
