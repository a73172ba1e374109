// Processor feature probe for the backend dispatch (dispatch.h).
#include "dispatch.h"

#if (defined(__x86_64__) || defined(_M_X64)) && defined(__GNUC__)
#include <cpuid.h>
#define KELDO_DISPATCH_X86 1
#elif defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#define KELDO_DISPATCH_ARM64_LINUX 1
#endif

namespace {

#if defined(KELDO_DISPATCH_X86)
// XCR0: which register states the operating system saves on a switch. The
// instruction is spelled out so this file needs no -mxsave.
uint64_t read_xcr0() {
    uint32_t lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (uint64_t(hi) << 32) | lo;
}

uint32_t probe() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;
    x86_cpuid_words w{};
    w.leaf1_ecx = ecx;
    // XGETBV faults unless the operating system enabled it (OSXSAVE).
    if ((ecx & (1u << 27)) != 0) w.xcr0 = read_xcr0();
    w.max_leaf = static_cast<uint32_t>(__get_cpuid_max(0, nullptr));  // int in clang's cpuid.h
    if (w.max_leaf >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        w.leaf7_ebx = ebx;
        w.leaf7_ecx = ecx;
    }
    return x86_features_from(w);
}
#elif defined(KELDO_DISPATCH_ARM64_LINUX)
uint32_t probe() {
#if defined(HWCAP_SHA2)
    const unsigned long sha2 = HWCAP_SHA2;
#else
    const unsigned long sha2 = 1ul << 6;
#endif
    return (getauxval(AT_HWCAP) & sha2) != 0 ? uint32_t(cpu_armv8_sha2) : 0u;
}
#else
uint32_t probe() { return 0; }
#endif

}  // namespace

uint32_t x86_features_from(const x86_cpuid_words &w) {
    uint32_t f = 0;
    if ((w.leaf1_ecx & (1u << 9)) != 0) f |= cpu_ssse3;
    if ((w.leaf1_ecx & (1u << 19)) != 0) f |= cpu_sse41;
    const bool osxsave = (w.leaf1_ecx & (1u << 27)) != 0, avx = (w.leaf1_ecx & (1u << 28)) != 0;
    // SSE (XMM) and AVX (YMM) state; the three AVX-512 states on top.
    const uint64_t xcr0 = osxsave ? w.xcr0 : 0;
    const bool os_ymm = avx && (xcr0 & 0x6) == 0x6;
    const bool os_zmm = os_ymm && (xcr0 & 0xe0) == 0xe0;
    if (w.max_leaf < 7) return f;
    if ((w.leaf7_ebx & (1u << 29)) != 0) f |= cpu_sha;
    if ((w.leaf7_ebx & (1u << 3)) != 0) f |= cpu_bmi1;
    if ((w.leaf7_ebx & (1u << 8)) != 0) f |= cpu_bmi2;
    if (os_ymm && (w.leaf7_ebx & (1u << 5)) != 0) f |= cpu_avx2;
    const bool avx512f = (w.leaf7_ebx & (1u << 16)) != 0, avx512bw = (w.leaf7_ebx & (1u << 30)) != 0;
    if (os_zmm && avx512f && avx512bw) {
        f |= cpu_avx512bw;
        if ((w.leaf7_ecx & (1u << 1)) != 0) f |= cpu_avx512vbmi;
    }
    return f;
}

uint32_t cpu_features() { return probe(); }
