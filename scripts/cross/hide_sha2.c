/* Preloaded into aarch64 test programs under qemu-user: getauxval(AT_HWCAP)
 * without HWCAP_SHA2, so the library sees a processor that lacks the SHA-2
 * instructions. No CPU model of QEMU 7.2 lacks them. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/auxv.h>

#ifndef HWCAP_SHA2
#define HWCAP_SHA2 (1ul << 6)
#endif

unsigned long getauxval(unsigned long type) {
    static unsigned long (*real)(unsigned long);
    if (real == 0) real = (unsigned long (*)(unsigned long))dlsym(RTLD_NEXT, "getauxval");
    unsigned long value = real(type);
    return type == AT_HWCAP ? value & ~HWCAP_SHA2 : value;
}
