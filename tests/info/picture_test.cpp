// Picture frames: built ones (2.3 and 2.4, unsynchronised, with a data-length
// indicator, 2.2 PIC, truncated, damaged, oversized, several pictures) and
// ones the Debian taggers write (eyeD3, mid3v2, kid3-cli; each skipped when
// not installed), and the cover image of a folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "info/picture.h"
#include "tests/tag_builder.h"
#include "tests/test_support.h"

namespace {

using wl::FindTagPicture;
using wl::test::AppendBytes;
using wl::test::AsciiBytes;
using wl::test::Id3v2TagBuilder;
using wl::test::TagBytes;

// A JPEG-shaped run of bytes: start and end markers around `n` bytes that
// include 0xFF 0x00 and 0xFF 0xE0 pairs, the ones unsynchronisation changes.
TagBytes Jpeg(size_t n, uint8_t seed = 1) {
    TagBytes b = {0xFF, 0xD8, 0xFF, 0xE0};
    for (size_t i = 0; i < n; ++i) b.push_back(i % 7 == 0 ? 0xFF : static_cast<uint8_t>(i * seed + (i % 3 == 1 ? 0 : 0xE0)));
    AppendBytes(b, {0xFF, 0xD9});
    return b;
}

TagBytes Png(size_t n) {
    TagBytes b = AsciiBytes("\x89PNG\r\n\x1A\n");
    b.resize(b.size() + n, 0x42);
    AppendBytes(b, {0, 0, 0, 0});
    AppendBytes(b, AsciiBytes("IEND"));
    AppendBytes(b, {0xAE, 0x42, 0x60, 0x82});
    return b;
}

TagBytes Apic(uint8_t type, const TagBytes& image, std::string_view mime = "image/jpeg", uint8_t encoding = 0,
              std::string_view description = "d") {
    TagBytes body{encoding};
    AppendBytes(body, AsciiBytes(mime));
    body.push_back(0);
    body.push_back(type);
    AppendBytes(body, wl::test::EncodeText(encoding, description, true));
    AppendBytes(body, image);
    return body;
}

// Unsynchronisation: a zero after every 0xFF that is followed by 0xE0 or more
// or by a zero (and after a final 0xFF).
TagBytes Unsynchronise(const TagBytes& in) {
    TagBytes out;
    for (size_t i = 0; i < in.size(); ++i) {
        out.push_back(in[i]);
        if (in[i] == 0xFF && (i + 1 == in.size() || in[i + 1] >= 0xE0 || in[i + 1] == 0)) out.push_back(0);
    }
    return out;
}

TEST(PictureFrames, PlainFramesAndTheFrontCoverPreferred) {
    const TagBytes back = Jpeg(300, 3), front = Png(500);
    for (uint8_t major : {3, 4}) {
        for (uint8_t encoding : {0, 1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << "2." << int(major) << " encoding " << int(encoding));
            const TagBytes tag = Id3v2TagBuilder(major)
                                     .Text("TIT2", "x")
                                     .Frame("APIC", Apic(4, back, "image/jpeg", encoding, "back side"))
                                     .Frame("APIC", Apic(3, front, "image/png", encoding, "front"))
                                     .Padding(20)
                                     .Build();
            const auto picture = FindTagPicture(tag);
            ASSERT_TRUE(picture);
            EXPECT_EQ(picture->Type, 3);
            EXPECT_EQ(picture->Extension, "png");
            EXPECT_EQ(picture->Data, front);
        }
    }
    // Without a front cover the first picture is taken; a wrong MIME type does not matter.
    const TagBytes tag = Id3v2TagBuilder(3)
                             .Frame("APIC", Apic(0, back, "image/png"))
                             .Frame("APIC", Apic(5, front))
                             .Build();
    const auto first = FindTagPicture(tag);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Type, 0);
    EXPECT_EQ(first->Extension, "jpg");
    EXPECT_EQ(first->Data, back);
    EXPECT_FALSE(FindTagPicture(Id3v2TagBuilder(4).Text("TIT2", "no picture").Build()));
}

TEST(PictureFrames, UnsynchronisedAndDataLengthIndicator) {
    const TagBytes image = Jpeg(2000, 5);
    const TagBytes body = Apic(3, image);
    ASSERT_NE(Unsynchronise(body), body);  // the case is real

    // 2.3: the whole tag unsynchronised, frame headers included.
    TagBytes v23 = Id3v2TagBuilder(3).Frame("APIC", body).Build();
    TagBytes content(v23.begin() + 10, v23.end());
    content = Unsynchronise(content);
    TagBytes whole(v23.begin(), v23.begin() + 10);
    whole[5] = 0x80;
    const auto size = wl::test::SyncSafeSize(static_cast<uint32_t>(content.size()));
    std::copy(size.begin(), size.end(), whole.begin() + 6);
    AppendBytes(whole, content);
    auto picture = FindTagPicture(whole);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Data, image);

    // 2.4: the frame unsynchronised with a data-length indicator (flags 0x02 and 0x01).
    TagBytes framed = wl::test::SyncSafeSize(static_cast<uint32_t>(body.size()));
    AppendBytes(framed, Unsynchronise(body));
    picture = FindTagPicture(Id3v2TagBuilder(4).Frame("APIC", framed, 0x03).Build());
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Data, image);
    // An indicator larger than the body: a damaged frame.
    TagBytes wrong = wl::test::SyncSafeSize(static_cast<uint32_t>(body.size() + 10));
    AppendBytes(wrong, Unsynchronise(body));
    EXPECT_FALSE(FindTagPicture(Id3v2TagBuilder(4).Frame("APIC", wrong, 0x03).Build()));
    // The tag's unsynchronisation flag in 2.4 applies to each frame.
    TagBytes flagged = Id3v2TagBuilder(4).Frame("APIC", Unsynchronise(body)).Build();
    flagged[5] = 0x80;
    picture = FindTagPicture(flagged);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Data, image);
}

TEST(PictureFrames, Version22Pic) {
    const TagBytes image = Png(100);
    TagBytes body{0};
    AppendBytes(body, AsciiBytes("PNG"));
    body.push_back(3);
    AppendBytes(body, AsciiBytes("cover"));
    body.push_back(0);
    AppendBytes(body, image);
    TagBytes tag = AsciiBytes("ID3");
    AppendBytes(tag, {2, 0, 0});
    const auto n = static_cast<uint32_t>(body.size());
    TagBytes frames = AsciiBytes("TT2");
    AppendBytes(frames, {0, 0, 3, 0, 'a', 'b'});
    AppendBytes(frames, AsciiBytes("PIC"));
    AppendBytes(frames, {static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    AppendBytes(frames, body);
    AppendBytes(tag, wl::test::SyncSafeSize(static_cast<uint32_t>(frames.size())));
    AppendBytes(tag, frames);
    const auto picture = FindTagPicture(tag);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->Extension, "png");
    EXPECT_EQ(picture->Data, image);
}

TEST(PictureFrames, DamagedTruncatedLinkedAndOversizedIgnored) {
    const TagBytes image = Jpeg(1000);
    const TagBytes good = Id3v2TagBuilder(3).Frame("APIC", Apic(3, image)).Build();
    // The tag cut short: the frame is not whole.
    EXPECT_FALSE(FindTagPicture(std::span(good).first(good.size() - 5)));
    // The image cut short inside a whole frame (no end marker).
    EXPECT_FALSE(FindTagPicture(Id3v2TagBuilder(3).Frame("APIC", Apic(3, TagBytes(image.begin(), image.end() - 40))).Build()));
    // Not an image; no terminator after the description; a link.
    EXPECT_FALSE(FindTagPicture(Id3v2TagBuilder(3).Frame("APIC", Apic(3, AsciiBytes("just some text here"))).Build()));
    TagBytes unterminated{0};
    AppendBytes(unterminated, AsciiBytes("image/jpeg"));
    EXPECT_FALSE(FindTagPicture(Id3v2TagBuilder(3).Frame("APIC", unterminated).Build()));
    EXPECT_FALSE(FindTagPicture(Id3v2TagBuilder(3).Frame("APIC", Apic(3, AsciiBytes("http://x/c.jpg"), "-->")).Build()));
    // A damaged picture is passed over for the next one.
    const auto next = FindTagPicture(Id3v2TagBuilder(4)
                                         .Frame("APIC", Apic(3, TagBytes(image.begin(), image.end() - 2)))
                                         .Frame("APIC", Apic(6, Png(10)))
                                         .Build());
    ASSERT_TRUE(next);
    EXPECT_EQ(next->Type, 6);
    // 16 MB is the most a picture may hold.
    TagBytes limit = Jpeg(wl::kMaxPictureBytes - 6);
    ASSERT_EQ(limit.size(), wl::kMaxPictureBytes);
    EXPECT_TRUE(FindTagPicture(Id3v2TagBuilder(4).Frame("APIC", Apic(3, limit)).Build()));
    limit.insert(limit.begin() + 10, 0x20);
    EXPECT_FALSE(FindTagPicture(Id3v2TagBuilder(4).Frame("APIC", Apic(3, limit)).Build()));
}

class TaggerPictures : public ::testing::Test {
protected:
    // A short MP3 (no tag) and a 64x32 JPEG and PNG, made by ffmpeg.
    void SetUp() override {
        if (!wl::test::OnPath("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
        const std::string q = " -loglevel error -y ";
        ASSERT_EQ(wl::test::RunCommand("ffmpeg" + q + "-f lavfi -i anullsrc=r=44100:cl=mono -t 0.2 -c:a libmp3lame "
                                       "-write_xing 0 -id3v2_version 0 " + wl::test::ShellQuote(dir_.File("a.mp3")))
                      .exitCode, 0);
        for (const char* name : {"c.jpg", "c.png"})
            ASSERT_EQ(wl::test::RunCommand("ffmpeg" + q + "-f lavfi -i color=red:s=64x32 -frames:v 1 " +
                                           wl::test::ShellQuote(dir_.File(name)))
                          .exitCode, 0);
        jpeg_ = wl::test::ReadFileBytes(dir_.File("c.jpg"));
        png_ = wl::test::ReadFileBytes(dir_.File("c.png"));
    }
    std::string Copy(const std::string& name) {
        const std::string path = dir_.File(name);
        EXPECT_TRUE(wl::test::WriteFileBytes(path, wl::test::ReadFileBytes(dir_.File("a.mp3"))));
        return path;
    }
    static void Run(const std::string& command) {
        const auto result = wl::test::RunCommand(command + " 2>&1");
        ASSERT_EQ(result.exitCode, 0) << command << "\n" << result.output;
    }
    wl::test::TempDir dir_;
    TagBytes jpeg_, png_;
};

TEST_F(TaggerPictures, EyeD3Mid3v2Kid3) {
    const auto q = wl::test::ShellQuote;
    int taggers = 0;
    if (wl::test::OnPath("eyeD3")) {
        ++taggers;
        for (const char* version : {"--to-v2.3", "--to-v2.4"}) {
            SCOPED_TRACE(version);
            const std::string file = Copy("eyed3.mp3");
            Run("eyeD3 -Q " + std::string(version) + " --add-image " + q(dir_.File("c.png")) + ":BACK_COVER:back " +
                "--add-image " + q(dir_.File("c.jpg")) + ":FRONT_COVER:front " + q(file));
            const auto picture = wl::ReadFilePicture(file);
            ASSERT_TRUE(picture);
            EXPECT_EQ(picture->Type, 3);
            EXPECT_EQ(picture->Data, jpeg_);
        }
    }
    if (wl::test::OnPath("mid3v2")) {
        ++taggers;
        const std::string file = Copy("mid3v2.mp3");
        Run("mid3v2 -t Title -p " + q(dir_.File("c.png") + ":desc:0:image/png") + " " + q(file));
        const auto picture = wl::ReadFilePicture(file);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->Type, 0);
        EXPECT_EQ(picture->Data, png_);
    }
    if (wl::test::OnPath("kid3-cli")) {
        ++taggers;
        const std::string file = Copy("kid3.mp3");
        Run("kid3-cli -c " + q("set picture:'" + dir_.File("c.jpg") + "' 'front'") + " " + q(file));
        const auto picture = wl::ReadFilePicture(file);
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->Data, jpeg_);
    }
    if (taggers == 0) GTEST_SKIP() << "no tagger installed";
    EXPECT_FALSE(wl::ReadFilePicture(dir_.File("a.mp3")));
    EXPECT_FALSE(wl::ReadFilePicture(dir_.File("missing.mp3")));
}

TEST(FolderPicture, NamesInAnyCaseAndTheirOrder) {
    wl::test::TempDir dir;
    EXPECT_FALSE(wl::FindFolderPicture(dir.path()));
    EXPECT_FALSE(wl::FindFolderPicture(dir.File("nothing-here")));
    const TagBytes bytes = Png(10);
    for (const char* name : {"track.mp3", "covers.jpg", "back.jpg"}) ASSERT_TRUE(wl::test::WriteFileBytes(dir.File(name), bytes));
    EXPECT_FALSE(wl::FindFolderPicture(dir.path()));
    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("Front.JPG"), bytes));
    EXPECT_EQ(wl::FindFolderPicture(dir.path()), dir.File("Front.JPG"));
    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("FOLDER.jpg"), bytes));
    EXPECT_EQ(wl::FindFolderPicture(dir.path()), dir.File("FOLDER.jpg"));
    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("cover.PNG"), bytes));
    EXPECT_EQ(wl::FindFolderPicture(dir.path()), dir.File("cover.PNG"));
    ASSERT_TRUE(wl::test::WriteFileBytes(dir.File("Cover.jpg"), bytes));
    EXPECT_EQ(wl::FindFolderPicture(dir.path()), dir.File("Cover.jpg"));
}

}  // namespace
