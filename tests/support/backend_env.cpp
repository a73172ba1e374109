// Compiled into every test program: pins the SHA-256 compression backend
// from KELDO_TEST_SHA256_BACKEND ("shani", "avx2", "armv8", "portable") and
// the Base64 one from KELDO_TEST_BASE64_BACKEND ("avx512vbmi", "avx2",
// "ssse3", "portable") before any test runs, so CI can run the whole suite
// on each path. Unset means the library's own choice. A backend this machine
// cannot run fails the program rather than quietly testing another one.
#include <cstdio>
#include <cstdlib>

#include "platform/backend_select.h"

namespace {

bool pin(const char *variable, int32_t (*select)(const char *)) {
    const char *wanted = std::getenv(variable);
    if (wanted == nullptr || *wanted == '\0') return true;
    if (select(wanted) == 0) return true;
    std::fprintf(stderr, "%s=%s: no such backend on this machine\n", variable, wanted);
    std::exit(2);
}

[[maybe_unused]] const bool pinned = pin("KELDO_TEST_SHA256_BACKEND", sha256_backend_select) &&
                                      pin("KELDO_TEST_BASE64_BACKEND", base64_backend_select);

}  // namespace
