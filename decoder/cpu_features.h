// Processor examination, the capability word and the rules that choose one
// routine variant per slot.
#pragma once

#include <cstdint>

namespace wl {

enum : uint32_t {
    cfFPU = 0x1,
    cfMMX = 0x2,
    cf3DNow = 0x4,
    cfSSE = 0x8,
    cfCMOV = 0x10,
    cfE3DNow = 0x20,
    cfEMMX = 0x40,
    cfIntel = 0x100,
    cfAMD = 0x200,
    cfCyrix = 0x400,
    cfCentaur = 0x800,
    cfOtherVendor = 0x8000,
    cfFamily4 = 0x100000,
    cfFamily5 = 0x200000,
    cfFamily6 = 0x400000,
    // Extensions of today's processors, in bits the classic word leaves free.
    cfSSE2 = 0x1000000,   // leaf 1, EDX bit 26
    cfSSE41 = 0x2000000,  // leaf 1, ECX bit 19
    cfAVX = 0x4000000,    // leaf 1, ECX bit 28, with OSXSAVE and XMM|YMM state enabled
    cfAVX2 = 0x8000000,   // leaf 7, EBX bit 5, with cfAVX
    cfFMA = 0x10000000,   // leaf 1, ECX bit 12, with cfAVX
};

constexpr uint32_t kExtensionBits = cfSSE2 | cfSSE41 | cfAVX | cfAVX2 | cfFMA;

// The six bits that the player's capability set can switch off.
constexpr uint32_t kCapabilityBits = cfMMX | cf3DNow | cfSSE | cfCMOV | cfE3DNow | cfEMMX;

// Raw CPUID answers that the examination reads; `hasCpuid` false stands for a
// processor without the instruction.
struct CpuidSnapshot {
    bool hasCpuid = true;
    bool cyrixDivideTest = false;   // without CPUID: flags unchanged by the divide
    uint32_t vendorEcx = 0;         // leaf 0, ECX
    uint32_t leaf1Eax = 0;          // leaf 1, EAX
    uint32_t leaf1Edx = 0;          // leaf 1, EDX
    uint32_t maxExtendedLeaf = 0;   // leaf 0x80000000, EAX
    uint32_t ext1Edx = 0;           // leaf 0x80000001, EDX
    uint32_t leaf1Ecx = 0;          // leaf 1, ECX
    uint32_t leaf7Ebx = 0;          // leaf 7 sub-leaf 0, EBX (0 when leaf 7 is absent)
    uint64_t xcr0 = 0;              // XGETBV(0) (0 when OSXSAVE is clear)
};

// The capability word for a processor that passed the FPU and alignment-flag
// tests, from its CPUID answers. Leaf 0x80000001 is trusted only when leaf
// 0x80000000 reports it.
uint32_t CapabilitiesFromCpuid(const CpuidSnapshot& s);
// The extension bits (kExtensionBits) from the same answers. AVX and what
// builds on it count only when the operating system saves the XMM and YMM
// registers (XCR0 bits 1 and 2).
uint32_t ExtensionsFromCpuid(const CpuidSnapshot& s);

// Examines the processor (no caching).
uint32_t DetectCpuFeatures();
// Examines once and caches; removes cfSSE when the SSE control register cannot be loaded.
uint32_t GetCpuFeatures();

enum class RoutineVariant : uint8_t {
    Portable,
    Pentium,      // scheduled for the dual-pipeline Pentium
    PentiumCmov,  // the same with conditional-move clamping
    Amd3DNow,
    AmdE3DNow,
    Sse2,  // x86-64 SSE2 vector forms
    Avx2,  // AVX2 with FMA vector forms
};

const char* RoutineVariantName(RoutineVariant v);

struct RoutineChoice {
    RoutineVariant aliasReduce;
    RoutineVariant outputMono;
    RoutineVariant outputStereo;
    RoutineVariant hybrid;
    RoutineVariant imdct36;
    RoutineVariant imdct12;
    RoutineVariant dct;  // the synthesis DCT: portable unless a vector form is chosen
};

// Applies the selection rules to a capability word. The vector forms come
// first: with cfSSE (the player's switch for streaming SIMD) and cfSSE2 every
// slot takes the SSE2 forms, or the AVX2 forms when cfAVX, cfAVX2 and cfFMA
// are present too; otherwise the classic rules decide.
RoutineChoice ChooseRoutines(uint32_t capabilities);

}  // namespace wl
