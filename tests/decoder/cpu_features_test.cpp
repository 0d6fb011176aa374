#include <gtest/gtest.h>

#include <bit>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "decoder/cpu_features.h"

namespace wl {
namespace {

using V = RoutineVariant;

constexpr uint32_t kIntel6 = cfFPU | cfIntel | cfFamily6;
constexpr uint32_t kIntel5 = cfFPU | cfIntel | cfFamily5;
constexpr uint32_t kAmd6 = cfFPU | cfAMD | cfFamily6;
constexpr uint32_t kVendorBits = cfIntel | cfAMD | cfCyrix | cfCentaur | cfOtherVendor;
constexpr uint32_t kFamilyBits = cfFamily4 | cfFamily5 | cfFamily6;

bool AnyE3DNow(const RoutineChoice& c) {
    for (V v : {c.aliasReduce, c.outputMono, c.outputStereo, c.hybrid, c.imdct36, c.imdct12})
        if (v == V::AmdE3DNow) return true;
    return false;
}

void ExpectAll(const RoutineChoice& c, V alias, V output, V hybrid, V imdct) {
    EXPECT_EQ(c.aliasReduce, alias);
    EXPECT_EQ(c.outputMono, output);
    EXPECT_EQ(c.outputStereo, output);
    EXPECT_EQ(c.hybrid, hybrid);
    EXPECT_EQ(c.imdct36, imdct);
    EXPECT_EQ(c.imdct12, imdct);
}

TEST(ChooseRoutines, E3DNowWithout3DNowIsIgnored) {
    const uint32_t all = cfMMX | cfSSE | cfCMOV | cfE3DNow | cfEMMX;
    EXPECT_FALSE(AnyE3DNow(ChooseRoutines(kAmd6 | all)));
    // Without 3DNow an AMD part gets nothing special at all.
    ExpectAll(ChooseRoutines(kAmd6 | all), V::Portable, V::Portable, V::Portable, V::Portable);
    // On an Intel word the Pentium rules apply as if the bit were absent.
    ExpectAll(ChooseRoutines(kIntel6 | all), V::Portable, V::PentiumCmov, V::Pentium, V::Pentium);
}

TEST(ChooseRoutines, ExtendedThreeDNowNeedsEmmxForOutputAndCmovForHybrid) {
    const uint32_t base = kAmd6 | cf3DNow | cfE3DNow;
    ExpectAll(ChooseRoutines(base), V::AmdE3DNow, V::Amd3DNow, V::Portable, V::AmdE3DNow);
    ExpectAll(ChooseRoutines(base | cfCMOV), V::AmdE3DNow, V::Amd3DNow, V::AmdE3DNow,
              V::AmdE3DNow);
    ExpectAll(ChooseRoutines(base | cfEMMX), V::AmdE3DNow, V::AmdE3DNow, V::Portable,
              V::AmdE3DNow);
    ExpectAll(ChooseRoutines(base | cfEMMX | cfCMOV | cfMMX), V::AmdE3DNow, V::AmdE3DNow,
              V::AmdE3DNow, V::AmdE3DNow);
}

TEST(ChooseRoutines, PlainThreeDNow) {
    ExpectAll(ChooseRoutines(kAmd6 | cf3DNow | cfCMOV | cfEMMX | cfMMX), V::Amd3DNow,
              V::Amd3DNow, V::Portable, V::Portable);
    // A 3DNow word on an Intel family-6 processor: output prefers 3DNow,
    // hybrid and imdct fall through to the Pentium rules.
    ExpectAll(ChooseRoutines(kIntel6 | cf3DNow | cfCMOV), V::Amd3DNow, V::Amd3DNow,
              V::Pentium, V::Pentium);
}

TEST(ChooseRoutines, PentiumClass) {
    ExpectAll(ChooseRoutines(kIntel6 | cfCMOV | cfMMX | cfSSE | cfEMMX), V::Portable,
              V::PentiumCmov, V::Pentium, V::Pentium);
    // The same processor with CMOV switched off.
    ExpectAll(ChooseRoutines(kIntel6 | cfMMX | cfSSE | cfEMMX), V::Portable, V::Pentium,
              V::Pentium, V::Pentium);
    // Empty capability set: vendor and family bits alone make a Pentium.
    ExpectAll(ChooseRoutines(kIntel6), V::Portable, V::Pentium, V::Pentium, V::Pentium);
    ExpectAll(ChooseRoutines(kIntel5), V::Portable, V::Pentium, V::Pentium, V::Pentium);
}

TEST(ChooseRoutines, NotPentiumClass) {
    // Intel family 4, other vendors and a word without family bits.
    for (uint32_t w : {cfFPU | cfIntel | cfFamily4 | cfCMOV, cfFPU | cfIntel | cfCMOV,
                       kAmd6 | cfCMOV | cfMMX | cfSSE | cfEMMX,
                       cfFPU | cfCyrix | cfFamily6 | cfCMOV, cfFPU | cfCentaur | cfFamily5,
                       cfFPU | cfOtherVendor | cfFamily6 | cfCMOV | cfMMX | cfSSE}) {
        SCOPED_TRACE(w);
        ExpectAll(ChooseRoutines(w), V::Portable, V::Portable, V::Portable, V::Portable);
    }
}

TEST(ChooseRoutines, VariantNames) {
    std::set<std::string> names;
    for (V v : {V::Portable, V::Pentium, V::PentiumCmov, V::Amd3DNow, V::AmdE3DNow, V::Sse2,
                V::Avx2})
        names.insert(RoutineVariantName(v));
    EXPECT_EQ(names, (std::set<std::string>{"portable", "pentium", "pentium-cmov", "3dnow",
                                            "e3dnow", "sse2", "avx2"}));
    EXPECT_STREQ(RoutineVariantName(V::PentiumCmov), "pentium-cmov");
    EXPECT_STREQ(RoutineVariantName(V::AmdE3DNow), "e3dnow");
}

void ExpectEvery(const RoutineChoice& c, V v) {
    ExpectAll(c, v, v, v, v);
    EXPECT_EQ(c.dct, v);
}

TEST(ChooseRoutines, VectorFormsComeFirst) {
    const uint32_t avx2 = cfAVX | cfAVX2 | cfFMA;
    const uint32_t sse = cfSSE | cfSSE2;
    // Today's processors of either vendor, with and without 3DNow! bits.
    for (uint32_t base : {kIntel6 | cfMMX | cfCMOV | cfEMMX, kAmd6 | cfMMX | cfCMOV | cfEMMX,
                          kAmd6 | cf3DNow | cfE3DNow | cfEMMX | cfCMOV,
                          cfFPU | cfOtherVendor | cfFamily6, cfFPU | cfCentaur | cfFamily6}) {
        SCOPED_TRACE(base);
        ExpectEvery(ChooseRoutines(base | sse | avx2), V::Avx2);
        ExpectEvery(ChooseRoutines(base | sse | avx2 | cfSSE41), V::Avx2);
        ExpectEvery(ChooseRoutines(base | sse), V::Sse2);
        ExpectEvery(ChooseRoutines(base | sse | cfSSE41), V::Sse2);
        // AVX2 needs all three of AVX, AVX2 and FMA.
        ExpectEvery(ChooseRoutines(base | sse | cfAVX | cfAVX2), V::Sse2);
        ExpectEvery(ChooseRoutines(base | sse | cfAVX | cfFMA), V::Sse2);
        ExpectEvery(ChooseRoutines(base | sse | cfAVX2 | cfFMA), V::Sse2);
    }
}

TEST(ChooseRoutines, WithoutSseTheClassicRulesDecide) {
    // The player's capability set switches SSE off (mccKNI): no vector form,
    // whatever extension bits the processor has; the classic rules apply.
    const uint32_t ext = kExtensionBits;
    ExpectAll(ChooseRoutines(kIntel6 | cfCMOV | cfMMX | ext), V::Portable, V::PentiumCmov,
              V::Pentium, V::Pentium);
    ExpectAll(ChooseRoutines(kIntel6 | ext), V::Portable, V::Pentium, V::Pentium, V::Pentium);
    ExpectAll(ChooseRoutines(kAmd6 | cfCMOV | ext), V::Portable, V::Portable, V::Portable,
              V::Portable);
    ExpectAll(ChooseRoutines(kAmd6 | cf3DNow | cfE3DNow | cfEMMX | cfCMOV | ext), V::AmdE3DNow,
              V::AmdE3DNow, V::AmdE3DNow, V::AmdE3DNow);
    EXPECT_EQ(ChooseRoutines(kIntel6 | ext).dct, V::Portable);
    // SSE without SSE2 (a Pentium III): the classic rules too.
    ExpectAll(ChooseRoutines(kIntel6 | cfSSE | cfCMOV | cfMMX | cfEMMX), V::Portable,
              V::PentiumCmov, V::Pentium, V::Pentium);
    EXPECT_EQ(ChooseRoutines(kIntel6 | cfSSE | cfCMOV).dct, V::Portable);
}

// Leaf 0 ECX as the processor returns it: the vendor string's last four
// letters, first letter in the lowest byte.
uint32_t Ecx(const char* s) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 |
           uint32_t(uint8_t(s[2])) << 16 | uint32_t(uint8_t(s[3])) << 24;
}

CpuidSnapshot Snap(const char* vendor, uint32_t familyByte, uint32_t edx = 0,
                   uint32_t maxExt = 0, uint32_t extEdx = 0) {
    CpuidSnapshot s;
    s.vendorEcx = Ecx(vendor);
    s.leaf1Eax = familyByte << 8 | 0x3;  // stepping bits must not matter
    s.leaf1Edx = edx;
    s.maxExtendedLeaf = maxExt;
    s.ext1Edx = extEdx;
    return s;
}

TEST(CapabilitiesFromCpuid, Vendors) {
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("ntel", 6)), cfFPU | cfIntel | cfFamily6);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 6)), cfFPU | cfAMD | cfFamily6);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("tead", 5)), cfFPU | cfCyrix | cfFamily5);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("auls", 6)), cfFPU | cfCentaur | cfFamily6);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("Geod", 5)), cfFPU | cfOtherVendor | cfFamily5);
    // Byte order matters: the reversed letters are another vendor.
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("letn", 6)), cfFPU | cfOtherVendor | cfFamily6);
}

TEST(CapabilitiesFromCpuid, FamilyByte) {
    // Family 4 returns before any feature bit is read.
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("ntel", 4, 0xFFFFFFFF, 0x80000008, 0xFFFFFFFF)),
              cfFPU | cfIntel | cfFamily4);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("ntel", 5)) & kFamilyBits, uint32_t(cfFamily5));
    // Family 15, and family 6 with a nonzero processor type, count as family 6.
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 0x0F)) & kFamilyBits, uint32_t(cfFamily6));
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("ntel", 0x16)) & kFamilyBits, uint32_t(cfFamily6));
    // Type bits with family 4 are not family 4.
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("ntel", 0x14, 1u << 23)),
              cfFPU | cfIntel | cfFamily6 | cfMMX);
}

TEST(CapabilitiesFromCpuid, StandardFeatureBits) {
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("ntel", 6, 1u << 23)), kIntel6 | cfMMX);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("ntel", 6, 1u << 15)), kIntel6 | cfCMOV);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("ntel", 6, 1u << 25)), kIntel6 | cfSSE | cfEMMX);
    // Unrelated bits (SSE2, FXSR, TSC) add nothing.
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("ntel", 6, (1u << 26) | (1u << 24) | (1u << 4))),
              kIntel6);
}

TEST(CapabilitiesFromCpuid, ExtendedLeafOnlyWhenReported) {
    const uint32_t ext = (1u << 31) | (1u << 30) | (1u << 22) | (1u << 15);
    const uint32_t all = cf3DNow | cfE3DNow | cfEMMX | cfCMOV;
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 6, 0, 0x80000001, ext)), kAmd6 | all);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 6, 0, 0x80000000, ext)), kAmd6);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 6, 0, 0, ext)), kAmd6);
    // Values below 0x80000000 (no extended range at all) are ignored too.
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 6, 0, 0x00000001, ext)), kAmd6);

    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 5, 0, 0x80000005, 1u << 31)),
              cfFPU | cfAMD | cfFamily5 | cf3DNow);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 6, 0, 0x80000005, 1u << 30)), kAmd6 | cfE3DNow);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 6, 0, 0x80000005, 1u << 22)), kAmd6 | cfEMMX);
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 6, 0, 0x80000005, 1u << 15)), kAmd6 | cfCMOV);
    // The extended leaf's MMX bit (23) is not read.
    EXPECT_EQ(CapabilitiesFromCpuid(Snap("cAMD", 6, 0, 0x80000005, 1u << 23)), kAmd6);
}

TEST(ExtensionsFromCpuid, FlagsAndOperatingSystemSupport) {
    CpuidSnapshot s = Snap("ntel", 6, 1u << 26);
    EXPECT_EQ(ExtensionsFromCpuid(s), uint32_t(cfSSE2));
    // The classic word ignores the extension leaves.
    EXPECT_EQ(CapabilitiesFromCpuid(s), kIntel6);

    const uint32_t osxsave = 1u << 27, avx = 1u << 28, fma = 1u << 12, sse41 = 1u << 19;
    s.leaf1Edx = 0;
    s.leaf1Ecx = sse41;
    EXPECT_EQ(ExtensionsFromCpuid(s), uint32_t(cfSSE41));

    s.leaf1Ecx = osxsave | avx | fma;
    s.leaf7Ebx = 1u << 5;
    s.xcr0 = 0x7;  // x87, XMM and YMM state enabled
    EXPECT_EQ(ExtensionsFromCpuid(s), uint32_t(cfAVX | cfFMA | cfAVX2));
    // The operating system saves XMM but not YMM: no AVX, nor what builds on it.
    s.xcr0 = 0x3;
    EXPECT_EQ(ExtensionsFromCpuid(s), 0u);
    s.xcr0 = 0x5;
    EXPECT_EQ(ExtensionsFromCpuid(s), 0u);
    // XGETBV not offered (OSXSAVE clear): no AVX even with XCR0 bits at hand.
    s.xcr0 = 0x7;
    s.leaf1Ecx = avx | fma;
    EXPECT_EQ(ExtensionsFromCpuid(s), 0u);
    // AVX without FMA or AVX2.
    s.leaf1Ecx = osxsave | avx;
    s.leaf7Ebx = 0;
    EXPECT_EQ(ExtensionsFromCpuid(s), uint32_t(cfAVX));
    // Other leaf-7 bits (AVX-512F is bit 16) add nothing.
    s.leaf7Ebx = 1u << 16;
    EXPECT_EQ(ExtensionsFromCpuid(s), uint32_t(cfAVX));

    CpuidSnapshot none = Snap("ntel", 6, 0xFFFFFFFF);
    none.hasCpuid = false;
    EXPECT_EQ(ExtensionsFromCpuid(none), 0u);
}

TEST(CapabilitiesFromCpuid, WithoutCpuid) {
    CpuidSnapshot s = Snap("cAMD", 6, 0xFFFFFFFF, 0x80000008, 0xFFFFFFFF);
    s.hasCpuid = false;
    s.cyrixDivideTest = true;
    EXPECT_EQ(CapabilitiesFromCpuid(s), cfFPU | cfCyrix | cfFamily4);
    s.cyrixDivideTest = false;
    EXPECT_EQ(CapabilitiesFromCpuid(s), cfFPU | cfIntel | cfFamily4);
}

// What the kernel reports for this machine, as an independent witness.
struct CpuInfo {
    bool found = false;
    std::string vendor;
    std::set<std::string> flags;
};

CpuInfo ReadCpuInfo() {
    CpuInfo info;
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    bool haveVendor = false, haveFlags = false;
    while (std::getline(in, line) && !(haveVendor && haveFlags)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string key = line.substr(0, colon);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
        std::string value = line.substr(colon + 1);
        if (key == "vendor_id" && !haveVendor) {
            std::istringstream(value) >> info.vendor;
            haveVendor = true;
        } else if (key == "flags" && !haveFlags) {
            std::istringstream fs(value);
            for (std::string f; fs >> f;) info.flags.insert(f);
            haveFlags = true;
        }
    }
    info.found = haveVendor && haveFlags;
    return info;
}

TEST(DetectCpuFeatures, ThisMachine) {
    const uint32_t w = DetectCpuFeatures();
    EXPECT_TRUE(w & cfFPU);
    EXPECT_EQ(std::popcount(w & kVendorBits), 1) << std::hex << w;
    EXPECT_EQ(std::popcount(w & kFamilyBits), 1) << std::hex << w;
    EXPECT_EQ(w & ~(kCapabilityBits | kVendorBits | kFamilyBits | cfFPU | kExtensionBits), 0u)
        << std::hex << w;
#if defined(__x86_64__)
    EXPECT_TRUE(w & cfSSE);
    EXPECT_TRUE(w & cfEMMX);
    EXPECT_TRUE(w & cfMMX);
    EXPECT_TRUE(w & cfCMOV);
    EXPECT_FALSE(w & cfFamily4);  // every x86-64 processor reports CPUID family 6 or above

    const CpuInfo info = ReadCpuInfo();
    if (!info.found) GTEST_SKIP() << "/proc/cpuinfo not readable; cross-check skipped";
    uint32_t vendor = cfOtherVendor;
    if (info.vendor == "GenuineIntel") vendor = cfIntel;
    else if (info.vendor == "AuthenticAMD") vendor = cfAMD;
    else if (info.vendor == "CentaurHauls") vendor = cfCentaur;
    else if (info.vendor == "CyrixInstead") vendor = cfCyrix;
    EXPECT_EQ(w & kVendorBits, vendor) << info.vendor;
    EXPECT_EQ(bool(w & cf3DNow), info.flags.count("3dnow") == 1);
    EXPECT_EQ(bool(w & cfE3DNow), info.flags.count("3dnowext") == 1);
    // The kernel lists avx, avx2 and fma only when it saves the YMM state.
    EXPECT_TRUE(w & cfSSE2);
    EXPECT_EQ(bool(w & cfSSE41), info.flags.count("sse4_1") == 1);
    EXPECT_EQ(bool(w & cfAVX), info.flags.count("avx") == 1);
    EXPECT_EQ(bool(w & cfAVX2), info.flags.count("avx2") == 1);
    EXPECT_EQ(bool(w & cfFMA), info.flags.count("fma") == 1);
#else
    (void)ReadCpuInfo;
#endif
}

TEST(GetCpuFeatures, CachedAndConsistent) {
    const uint32_t first = GetCpuFeatures();
    EXPECT_NE(first, 0u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(GetCpuFeatures(), first);
    // The cached word is the detected one, less at most the SSE bit (and the
    // extensions with it).
    EXPECT_EQ(first & ~uint32_t(cfSSE | kExtensionBits),
              DetectCpuFeatures() & ~uint32_t(cfSSE | kExtensionBits));
#if defined(__x86_64__)
    EXPECT_TRUE(first & cfSSE);
#endif
}

}  // namespace
}  // namespace wl
