// Name masks of the enumeration and path patterns of the exclusions.
#include "controls/wildcard.h"

#include <gtest/gtest.h>

namespace wl {
namespace {

TEST(MatchesMask, WildcardsAndCase) {
    EXPECT_TRUE(MatchesMask("Song.MP3", "*.mp3"));
    EXPECT_TRUE(MatchesMask("a.b.mp3", "*.mp3"));
    EXPECT_FALSE(MatchesMask("song.mp3x", "*.mp3"));
    EXPECT_FALSE(MatchesMask("song.mp", "*.mp3"));
    EXPECT_TRUE(MatchesMask("x1.txt", "x?.txt"));
    EXPECT_FALSE(MatchesMask("x12.txt", "x?.txt"));
    EXPECT_TRUE(MatchesMask("Ärger.mp3", "ä*.MP3"));
}

TEST(MatchesMask, ExtensionOptionalAfterDot) {
    EXPECT_TRUE(MatchesMask("Makefile", "*.*"));
    EXPECT_TRUE(MatchesMask("a.b", "*.*"));
    EXPECT_TRUE(MatchesMask("readme", "readme.*"));
    EXPECT_TRUE(MatchesMask("README.txt", "readme.*"));
    EXPECT_FALSE(MatchesMask("readme2", "readme.*"));
    EXPECT_FALSE(MatchesMask("readme", "readme.txt"));
}

TEST(MatchesPathPattern, NameOnlyPatternMatchesInAnyFolder) {
    EXPECT_TRUE(MatchesPathPattern("/music/x/a.tmp", "*.TMP"));
    EXPECT_TRUE(MatchesPathPattern("/a.TMP", "*.tmp"));
    EXPECT_FALSE(MatchesPathPattern("/music/a.tmp2", "*.TMP"));
    // A "*" facing the name's "." jumps to the pattern's next ".", so a second
    // extension in the name is not swallowed.
    EXPECT_FALSE(MatchesPathPattern("/x/a.b.tmp", "*.TMP"));
    // "?" never matches the dot.
    EXPECT_TRUE(MatchesPathPattern("/x/ab.c", "??.?"));
    EXPECT_FALSE(MatchesPathPattern("/x/a.bc", "???.?"));
    // "?" facing the name's dot is skipped.
    EXPECT_TRUE(MatchesPathPattern("/x/a.c", "a?.c"));
    // A name without extension does not meet ".*".
    EXPECT_FALSE(MatchesPathPattern("/x/README", "*.*"));
    EXPECT_TRUE(MatchesPathPattern("/x/README", "*"));
}

TEST(MatchesPathPattern, FolderPartMustEndThePathsFolder) {
    EXPECT_TRUE(MatchesPathPattern("/data/temp/a.b", "/temp/*.*"));
    EXPECT_TRUE(MatchesPathPattern("/temp/a.b", "/TEMP/*.*"));
    EXPECT_FALSE(MatchesPathPattern("/temp/sub/a.b", "/temp/*.*"));
    EXPECT_FALSE(MatchesPathPattern("/x/mytemp2/a.b", "/temp/*.*"));
    EXPECT_TRUE(MatchesPathPattern("/x/mytemp/a.b", "temp/*.*"));
    // No wildcards in folder parts.
    EXPECT_FALSE(MatchesPathPattern("/temp/a.b", "/t*/*.*"));
    // Longer than the path's folder.
    EXPECT_FALSE(MatchesPathPattern("/a/b.c", "/x/a/*.*"));
}

TEST(MatchesPathPattern, DrivePrefixes) {
    EXPECT_TRUE(MatchesPathPattern("C:/TEMP/a.b", "C:/TEMP/*.*"));
    EXPECT_TRUE(MatchesPathPattern("c:/x/temp/a.b", "C:/TEMP/*.*"));
    EXPECT_FALSE(MatchesPathPattern("D:/TEMP/a.b", "C:/TEMP/*.*"));
    EXPECT_TRUE(MatchesPathPattern("D:/TEMP/a.b", "*:/TEMP/*.*"));
    EXPECT_TRUE(MatchesPathPattern("D:/TEMP/a.b", "?:/TEMP/*.*"));
    EXPECT_FALSE(MatchesPathPattern("/TEMP/a.b", "C:/TEMP/*.*"));
}

}  // namespace
}  // namespace wl
