// Clearing of working memory that held keys, pads or intermediate digests.
#pragma once

#include <cstddef>
#include <cstring>

// memset followed by a compiler barrier that claims to read the bytes, so
// the store cannot be dropped as dead (as a plain memset before return can).
inline void secure_wipe(void *p, size_t n) {
#if defined(__GNUC__) || defined(__clang__)
    memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
#else
    volatile unsigned char *v = static_cast<volatile unsigned char *>(p);
    while (n-- != 0) *v++ = 0;
#endif
}
