// Processor examination and routine selection.

#include "decoder/cpu_features.h"

#include <atomic>

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#define WL_X86 1
#include <cpuid.h>
#if defined(__i386__)
#include <sys/auxv.h>
#endif
#endif

namespace wl {

namespace {

// Vendor strings end in these four letters (leaf 0, ECX, little-endian ASCII).
constexpr uint32_t PackTag(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
constexpr uint32_t kTagIntel = PackTag('n', 't', 'e', 'l');    // GenuineIntel
constexpr uint32_t kTagAmd = PackTag('c', 'A', 'M', 'D');      // AuthenticAMD
constexpr uint32_t kTagCyrix = PackTag('t', 'e', 'a', 'd');    // CyrixInstead
constexpr uint32_t kTagCentaur = PackTag('a', 'u', 'l', 's');  // CentaurHauls

constexpr uint32_t Bit(int n) { return uint32_t(1) << n; }

#if defined(WL_X86)

// x87 present and in its power-up state after FNINIT.
bool HasFpu() {
    uint16_t sw = 0xFFFF;
    uint16_t cw = 0;
    __asm__ volatile("fninit\n\tfnstsw %0" : "=m"(sw));
    if ((sw & 0xFF) != 0) return false;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return (cw & 0x103F) == 0x3F;
}

// Tries to toggle one EFLAGS bit; restores the original flags and reports
// whether the bit changed. Only register operands: the stack pointer moves.
bool CanToggleEflagsBit(unsigned long bit) {
    unsigned long before = 0;
    unsigned long after = 0;
#if defined(__x86_64__)
    // Step over the red zone that the compiler may use below the stack pointer.
    __asm__ volatile(
        "subq $128, %%rsp\n\t"
        "pushfq\n\t"
        "pushfq\n\t"
        "popq %0\n\t"
        "movq %0, %1\n\t"
        "xorq %2, %1\n\t"
        "pushq %1\n\t"
        "popfq\n\t"
        "pushfq\n\t"
        "popq %1\n\t"
        "popfq\n\t"
        "addq $128, %%rsp"
        : "=&r"(before), "=&r"(after)
        : "r"(bit)
        : "cc", "memory");
#else
    __asm__ volatile(
        "pushfl\n\t"
        "pushfl\n\t"
        "popl %0\n\t"
        "movl %0, %1\n\t"
        "xorl %2, %1\n\t"
        "pushl %1\n\t"
        "popfl\n\t"
        "pushfl\n\t"
        "popl %1\n\t"
        "popfl"
        : "=&r"(before), "=&r"(after)
        : "r"(bit)
        : "cc", "memory");
#endif
    return ((before ^ after) & bit) != 0;
}

// Without CPUID: a Cyrix processor leaves the arithmetic flags unchanged by
// an 8-bit divide. Only 32-bit processors can lack CPUID.
bool CyrixDivideTest() {
#if defined(__i386__)
    unsigned int flagsByte = 0;
    __asm__ volatile(
        "xorl %%eax, %%eax\n\t"
        "sahf\n\t"
        "movl $5, %%eax\n\t"
        "movl $2, %%ecx\n\t"
        "divb %%cl\n\t"
        "lahf\n\t"
        "shrl $8, %%eax\n\t"
        "andl $0xFF, %%eax\n\t"
        "movl %%eax, %0"
        : "=r"(flagsByte)
        :
        : "eax", "ecx", "cc");
    return flagsByte == 2;
#else
    return false;
#endif
}

// Loads the SSE control register: all exceptions masked, round to nearest,
// flush-to-zero (denormals in the filterbank only cost time).
__attribute__((target("sse"))) void LoadSseControl() {
    unsigned int csr = 0x9F80;
    __asm__ volatile("ldmxcsr %0" : : "m"(csr));
}

#endif  // WL_X86

}  // namespace

uint32_t CapabilitiesFromCpuid(const CpuidSnapshot& s) {
    uint32_t word = cfFPU;
    if (!s.hasCpuid) {
        word |= s.cyrixDivideTest ? cfCyrix : cfIntel;
        return word | cfFamily4;
    }

    switch (s.vendorEcx) {
        case kTagIntel: word |= cfIntel; break;
        case kTagAmd: word |= cfAMD; break;
        case kTagCyrix: word |= cfCyrix; break;
        case kTagCentaur: word |= cfCentaur; break;
        default: word |= cfOtherVendor; break;
    }

    // Family and type share one byte here: a family-6 part of another type
    // counts as "other" and is treated like family 6.
    const uint32_t family = (s.leaf1Eax >> 8) & 0xFF;
    if (family == 4) return word | cfFamily4;
    word |= (family == 5) ? cfFamily5 : cfFamily6;

    if (s.maxExtendedLeaf >= 0x80000001u) {
        const uint32_t e = s.ext1Edx;
        if (e & Bit(31)) word |= cf3DNow;
        if (e & Bit(15)) word |= cfCMOV;
        if (e & Bit(30)) word |= cfE3DNow;
        if (e & Bit(22)) word |= cfEMMX;
    }

    const uint32_t d = s.leaf1Edx;
    if (d & Bit(23)) word |= cfMMX;
    if (d & Bit(15)) word |= cfCMOV;
    if (d & Bit(25)) word |= cfEMMX | cfSSE;
    return word;
}

uint32_t ExtensionsFromCpuid(const CpuidSnapshot& s) {
    if (!s.hasCpuid) return 0;
    uint32_t word = 0;
    if (s.leaf1Edx & Bit(26)) word |= cfSSE2;
    if (s.leaf1Ecx & Bit(19)) word |= cfSSE41;
    const bool osSavesYmm = (s.leaf1Ecx & Bit(27)) && (s.xcr0 & 6) == 6;
    if (osSavesYmm && (s.leaf1Ecx & Bit(28))) {
        word |= cfAVX;
        if (s.leaf1Ecx & Bit(12)) word |= cfFMA;
        if (s.leaf7Ebx & Bit(5)) word |= cfAVX2;
    }
    return word;
}

uint32_t DetectCpuFeatures() {
#if defined(WL_X86)
    if (!HasFpu()) return 0;
    uint32_t word = cfFPU;
    if (!CanToggleEflagsBit(0x40000)) return word;  // 386: no alignment-check flag

    CpuidSnapshot snap;
    if (!CanToggleEflagsBit(0x200000)) {
        snap.hasCpuid = false;
        snap.cyrixDivideTest = CyrixDivideTest();
        return CapabilitiesFromCpuid(snap);
    }

    unsigned int a = 0, b = 0, c = 0, d = 0;
    __cpuid(0, a, b, c, d);
    snap.vendorEcx = c;
    const unsigned int maxLeaf = a;
    if (maxLeaf >= 1) {
        __cpuid(1, a, b, c, d);
        snap.leaf1Eax = a;
        snap.leaf1Edx = d;
        snap.leaf1Ecx = c;
        if (c & Bit(27)) {  // OSXSAVE: XGETBV is available
            uint32_t lo = 0, hi = 0;
            __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
            snap.xcr0 = uint64_t(hi) << 32 | lo;
        }
    }
    if (maxLeaf >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        snap.leaf7Ebx = b;
    }
    snap.maxExtendedLeaf = __get_cpuid_max(0x80000000u, nullptr);
    if (snap.maxExtendedLeaf >= 0x80000001u) {
        __cpuid(0x80000001u, a, b, c, d);
        snap.ext1Edx = d;
    }
    return CapabilitiesFromCpuid(snap) | ExtensionsFromCpuid(snap);
#else
    return cfFPU | cfOtherVendor | cfFamily6;
#endif
}

uint32_t GetCpuFeatures() {
    static std::atomic<uint32_t> cached{0};
    uint32_t word = cached.load(std::memory_order_acquire);
    if (word != 0) return word;

    word = DetectCpuFeatures();
#if defined(WL_X86)
    if (word & cfSSE) {
#if defined(__i386__)
        // A 32-bit kernel may not have enabled SSE state saving; it reports
        // SSE in the auxiliary vector only when it has, and LDMXCSR would
        // fault otherwise. (On x86-64 SSE is always enabled.)
        if ((getauxval(AT_HWCAP) & (1ul << 25)) == 0) word &= ~uint32_t(cfSSE);
#endif
        // Set on the thread that performs the first detection.
        if (word & cfSSE) LoadSseControl();
    }
#endif
    // Without SSE state nothing that builds on it is usable either.
    if (!(word & cfSSE)) word &= ~kExtensionBits;
    if (word != 0) cached.store(word, std::memory_order_release);
    return word;
}

const char* RoutineVariantName(RoutineVariant v) {
    switch (v) {
        case RoutineVariant::Portable: return "portable";
        case RoutineVariant::Pentium: return "pentium";
        case RoutineVariant::PentiumCmov: return "pentium-cmov";
        case RoutineVariant::Amd3DNow: return "3dnow";
        case RoutineVariant::AmdE3DNow: return "e3dnow";
        case RoutineVariant::Sse2: return "sse2";
        case RoutineVariant::Avx2: return "avx2";
    }
    return "unknown";
}

RoutineChoice ChooseRoutines(uint32_t caps) {
    using V = RoutineVariant;
    if ((caps & cfSSE) && (caps & cfSSE2)) {
        const uint32_t avx2 = cfAVX | cfAVX2 | cfFMA;
        const V v = (caps & avx2) == avx2 ? V::Avx2 : V::Sse2;
        return RoutineChoice{v, v, v, v, v, v, v};
    }

    if (!(caps & cf3DNow)) caps &= ~uint32_t(cfE3DNow);
    const bool e3dnow = caps & cfE3DNow;
    const bool amd3dnow = caps & cf3DNow;
    const bool cmov = caps & cfCMOV;
    const bool pentium = (caps & cfIntel) && (caps & (cfFamily5 | cfFamily6));

    RoutineChoice r{};
    r.dct = V::Portable;

    r.aliasReduce = e3dnow ? V::AmdE3DNow : amd3dnow ? V::Amd3DNow : V::Portable;

    V out = V::Portable;
    if (e3dnow && (caps & cfEMMX)) out = V::AmdE3DNow;
    else if (amd3dnow) out = V::Amd3DNow;
    else if (pentium && cmov) out = V::PentiumCmov;
    else if (pentium) out = V::Pentium;
    r.outputMono = out;
    r.outputStereo = out;

    r.hybrid = (e3dnow && cmov) ? V::AmdE3DNow : pentium ? V::Pentium : V::Portable;

    const V imdct = e3dnow ? V::AmdE3DNow : pentium ? V::Pentium : V::Portable;
    r.imdct36 = imdct;
    r.imdct12 = imdct;
    return r;
}

}  // namespace wl
