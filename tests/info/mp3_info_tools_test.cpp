// Tags written by real encoders at test time (lame: ID3v1 and ID3v2.3;
// ffmpeg: ID3v2.4 and 2.3 with Unicode texts) read back, and wl-decode --info.
#include <gtest/gtest.h>

#include <string>

#include "io/file_stream.h"
#include "io/stream_reader.h"
#include "info/mp3_info.h"
#include "tests/test_support.h"

namespace {

using wl::mitID3V1;
using wl::mitID3V2;
using wl::TMP3Info;
using wl::test::RunCommand;
using wl::test::ShellQuote;

class TaggedFiles : public ::testing::Test {
protected:
    void SetUp() override {
        wav_ = dir_.File("in.wav");
        const auto pcm = wl::test::SynthesizeSignal(44100, 2, 0.5);
        ASSERT_TRUE(wl::test::WriteWav(wav_, pcm, 2, 44100));
    }

    // Runs the encoder; skips the test when it is not installed.
    bool Encode(const std::string& program, const std::string& command) {
        if (!wl::test::OnPath(program)) return false;
        const auto result = RunCommand(command + " 2>&1");
        EXPECT_EQ(result.exitCode, 0) << command << "\n" << result.output;
        return result.exitCode == 0;
    }

    void Analyse(const std::string& path, TMP3Info& info) {
        wl::TFileStream stream(path);
        wl::TMPStreamReader reader(65536);
        reader.Open(&stream);
        info.Attach(&reader);
        info.AnalyzeHead();
        info.AnalyzeTail();
        // The audio starts with a frame (after the tag the encoder wrote).
        const auto bytes = wl::test::ReadFileBytes(path);
        ASSERT_LT(info.AudioStart() + 1, static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(bytes[static_cast<size_t>(info.AudioStart())], 0xFF);
        EXPECT_EQ(bytes[static_cast<size_t>(info.AudioStart()) + 1] & 0xE0, 0xE0);
        fileSize_ = static_cast<int64_t>(bytes.size());
    }

    wl::test::TempDir dir_;
    std::string wav_;
    int64_t fileSize_ = 0;
};

TEST_F(TaggedFiles, LameId3v1Only) {
    const std::string out = dir_.File("v1.mp3");
    if (!Encode("lame", "lame --quiet --id3v1-only --tt 'One Title' --ta 'Some Artist' --tl "
                        "'The Album' --ty 2003 --tc 'a comment' --tn 7 --tg Jazz " +
                            ShellQuote(wav_) + " " + ShellQuote(out))) {
        GTEST_SKIP() << "lame is not installed";
    }
    TMP3Info info;
    Analyse(out, info);
    EXPECT_TRUE(info.Found().Contains(mitID3V1));
    EXPECT_FALSE(info.Found().Contains(mitID3V2));
    EXPECT_EQ(info.AudioStart(), 0);
    EXPECT_EQ(info.AudioLength(), fileSize_);
    EXPECT_EQ(info.Title(), "One Title");
    EXPECT_EQ(info.Artist(), "Some Artist");
    EXPECT_EQ(info.Album(), "The Album");
    EXPECT_EQ(info.Year(), "2003");
    EXPECT_EQ(info.Comment(), "a comment");
    EXPECT_EQ(info.Track(), "7");
    EXPECT_EQ(info.Genre(), "Jazz");
}

TEST_F(TaggedFiles, LameId3v2AndId3v1) {
    const std::string out = dir_.File("v2.mp3");
    const std::string title = "A Title Much Longer Than Thirty Characters";
    if (!Encode("lame", "lame --quiet --add-id3v2 --tt " + ShellQuote(title) +
                            " --ta Band --tl Record --ty 1999 --tc remark --tn 3/12 --tg Rock " +
                            ShellQuote(wav_) + " " + ShellQuote(out))) {
        GTEST_SKIP() << "lame is not installed";
    }
    TMP3Info info;
    Analyse(out, info);
    EXPECT_TRUE(info.Found().Contains(mitID3V1));
    EXPECT_TRUE(info.Found().Contains(mitID3V2));
    EXPECT_GT(info.AudioStart(), 10);
    EXPECT_EQ(info.AudioLength(), fileSize_ - info.AudioStart());
    EXPECT_EQ(TMP3Info::Lookup(info.ID3v1List(), "TITLE"), title.substr(0, 30));
    EXPECT_EQ(TMP3Info::Lookup(info.ID3v2List(), "TIT2"), title);
    EXPECT_EQ(info.Title(), title);  // the longer ID3v2 text wins
    EXPECT_EQ(info.Artist(), "Band");
    EXPECT_EQ(info.Album(), "Record");
    EXPECT_EQ(info.Year(), "1999");
    EXPECT_EQ(info.Comment(), "remark");
    EXPECT_EQ(info.Track(), "3/12");
    EXPECT_EQ(info.Genre(), "Rock");
    info.SetNeedInfoType({mitID3V1});
    EXPECT_EQ(info.Title(), title.substr(0, 30));
    EXPECT_EQ(info.Track(), "3");
}

TEST_F(TaggedFiles, FfmpegId3v24Unicode) {
    const std::string out = dir_.File("v24.mp3");
    const std::string title = "日本語のタイトル Ünïcødé 🎵";
    if (!Encode("ffmpeg", "ffmpeg -nostdin -loglevel error -y -i " + ShellQuote(wav_) +
                              " -metadata title=" + ShellQuote(title) +
                              " -metadata artist=" + ShellQuote("Björk Guðmundsdóttir") +
                              " -metadata album=" + ShellQuote("Ágætis byrjun") +
                              " -metadata date=2004 -metadata track=5/9 -metadata genre=Trance"
                              " -id3v2_version 4 " + ShellQuote(out))) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    TMP3Info info;
    Analyse(out, info);
    EXPECT_TRUE(info.Found().Contains(mitID3V2));
    EXPECT_FALSE(info.Found().Contains(mitID3V1));
    EXPECT_EQ(info.Title(), title);
    EXPECT_EQ(info.Artist(), "Björk Guðmundsdóttir");
    EXPECT_EQ(info.Album(), "Ágætis byrjun");
    EXPECT_EQ(info.Year(), "2004");
    EXPECT_EQ(info.Track(), "5/9");
    EXPECT_EQ(info.Genre(), "Trance");
}

TEST_F(TaggedFiles, FfmpegId3v23Utf16) {
    const std::string out = dir_.File("v23.mp3");
    const std::string title = "Ελληνικά и русский 𝄞";
    if (!Encode("ffmpeg", "ffmpeg -nostdin -loglevel error -y -i " + ShellQuote(wav_) +
                              " -metadata title=" + ShellQuote(title) +
                              " -metadata artist=Plain -id3v2_version 3 " + ShellQuote(out))) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    TMP3Info info;
    Analyse(out, info);
    EXPECT_TRUE(info.Found().Contains(mitID3V2));
    EXPECT_EQ(info.Title(), title);
    EXPECT_EQ(info.Artist(), "Plain");
}

TEST_F(TaggedFiles, WlDecodeInfoPrintsWhatWasFound) {
    const std::string out = dir_.File("cli.mp3");
    if (!Encode("lame", "lame --quiet --add-id3v2 --tt 'Printed Title' --ta 'Printed Artist' "
                        "--tn 4 --tg Rock " + ShellQuote(wav_) + " " + ShellQuote(out))) {
        GTEST_SKIP() << "lame is not installed";
    }
    TMP3Info info;
    Analyse(out, info);
    const std::string tool = ShellQuote(wl::test::DecodeBinary());
    const auto result = RunCommand(tool + " --info " + ShellQuote(out));
    ASSERT_EQ(result.exitCode, 0) << result.output;
    const std::string& text = result.output;
    EXPECT_NE(text.find("found:        ID3v2, ID3v1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("audio start:  " + std::to_string(info.AudioStart()) + "\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("audio length: " + std::to_string(info.AudioLength()) + "\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("title:        Printed Title\n"), std::string::npos) << text;
    EXPECT_NE(text.find("artist:       Printed Artist\n"), std::string::npos) << text;
    EXPECT_NE(text.find("track:        4\n"), std::string::npos) << text;
    EXPECT_NE(text.find("genre:        Rock\n"), std::string::npos) << text;

    const auto missing = RunCommand(tool + " --info " + ShellQuote(dir_.File("none.mp3")) + " 2>&1");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("cannot open"), std::string::npos) << missing.output;
    const auto twoFiles = RunCommand(tool + " --info a b 2>&1");
    EXPECT_EQ(twoFiles.exitCode, 64);
}

}  // namespace
