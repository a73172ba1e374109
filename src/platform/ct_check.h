// Constant-time validation hooks. In a build with KELDO_CT_CHECK, memory
// marked secret is "undefined" to valgrind's memcheck, which then reports
// every branch and every memory index that depends on it; declassifying
// marks a value as public again (a comparison verdict, once computed, is
// meant to be acted on). In every other build the hooks compile to nothing.
#pragma once

#include <cstddef>

#if defined(KELDO_CT_CHECK)
#include <valgrind/memcheck.h>
#define KELDO_CT_SECRET(p, n) ((void)VALGRIND_MAKE_MEM_UNDEFINED((p), (n)))
#define KELDO_CT_DECLASSIFY(p, n) ((void)VALGRIND_MAKE_MEM_DEFINED((p), (n)))
#else
#define KELDO_CT_SECRET(p, n) ((void)(p), (void)(n))
#define KELDO_CT_DECLASSIFY(p, n) ((void)(p), (void)(n))
#endif

// Returns v, declared public.
template <typename T>
inline T keldo_ct_public(T v) {
    KELDO_CT_DECLASSIFY(&v, sizeof v);
    return v;
}
