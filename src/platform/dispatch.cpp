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
    uint32_t f = 0;
    if ((ecx & (1u << 9)) != 0) f |= cpu_ssse3;
    if ((ecx & (1u << 19)) != 0) f |= cpu_sse41;
    const bool osxsave = (ecx & (1u << 27)) != 0, avx = (ecx & (1u << 28)) != 0;
    // SSE (XMM) and AVX (YMM) state; the three AVX-512 states on top.
    const uint64_t xcr0 = osxsave ? read_xcr0() : 0;
    const bool os_ymm = avx && (xcr0 & 0x6) == 0x6;
    const bool os_zmm = os_ymm && (xcr0 & 0xe0) == 0xe0;
    if (__get_cpuid_max(0, nullptr) < 7) return f;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    if ((ebx & (1u << 29)) != 0) f |= cpu_sha;
    if ((ebx & (1u << 3)) != 0) f |= cpu_bmi1;
    if ((ebx & (1u << 8)) != 0) f |= cpu_bmi2;
    if (os_ymm && (ebx & (1u << 5)) != 0) f |= cpu_avx2;
    const bool avx512f = (ebx & (1u << 16)) != 0, avx512bw = (ebx & (1u << 30)) != 0;
    if (os_zmm && avx512f && avx512bw) {
        f |= cpu_avx512bw;
        if ((ecx & (1u << 1)) != 0) f |= cpu_avx512vbmi;
    }
    return f;
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

uint32_t cpu_features() { return probe(); }
