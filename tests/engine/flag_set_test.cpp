#include <gtest/gtest.h>

#include "decoder/cpu_features.h"
#include "engine/mp3_player.h"
#include "info/mp3_info.h"

namespace wl {
namespace {

// Both sets of the player share one template: members, the mask of the bits
// beyond the last member, and the set operations, through the subclass too.
TEST(FlagSetTest, MembersMaskAndSetOperations) {
    TMP3InfoType info;
    EXPECT_TRUE(info.Empty());
    info.Include(mitLyrics);
    info.Include(mitID3V1);
    info.Include(mitID3V1);
    EXPECT_EQ(info.Bits(), 0x11);
    EXPECT_TRUE(info.Contains(mitLyrics));
    EXPECT_FALSE(info.Contains(mitRiff));
    info.Exclude(mitLyrics);
    info.Exclude(mitMacBin);  // not a member: nothing changes
    EXPECT_EQ(info, (TMP3InfoType{mitID3V1}));
    EXPECT_EQ(TMP3InfoType::FromBits(0xFF).Bits(), 0x1F);
    EXPECT_EQ(TMP3InfoType::All(), (TMP3InfoType{mitID3V1, mitID3V2, mitRiff, mitMacBin, mitLyrics}));

    const TMP3CpuCapabilities a{mccMMX, mccKNI, mccCMOV};
    const TMP3CpuCapabilities b{mccKNI, mccEMMX};
    EXPECT_EQ(TMP3CpuCapabilities::FromBits(0xFF), TMP3CpuCapabilities::All());
    EXPECT_EQ(TMP3CpuCapabilities::All().Bits(), 0x3F);
    EXPECT_EQ(a | b, (TMP3CpuCapabilities{mccMMX, mccKNI, mccCMOV, mccEMMX}));
    EXPECT_EQ(a & b, (TMP3CpuCapabilities{mccKNI}));
    EXPECT_EQ(a - b, (TMP3CpuCapabilities{mccMMX, mccCMOV}));
    EXPECT_TRUE((a & TMP3CpuCapabilities{mcc3DNow}).Empty());
    // What the operations give is still the player's set, with its word.
    const TMP3CpuCapabilities both = a & b;
    EXPECT_EQ(both.CapabilityWord(), uint32_t{cfSSE});
}

}  // namespace
}  // namespace wl
