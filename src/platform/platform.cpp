// The operating-system seam: secure random bytes and the calendar clock.
#include "platform.h"

#if defined(_WIN32)
#include <climits>
#include <windows.h>
#include <bcrypt.h>
#include <time.h>
#elif defined(__linux__)
#include <cerrno>
#include <ctime>
#include <sys/random.h>
#else
#include <ctime>
#include <stdlib.h>
#include <unistd.h>
#endif

int64_t platform_unix_time() {
#if defined(_WIN32)
    return int64_t(_time64(nullptr));
#else
    return int64_t(time(nullptr));
#endif
}

int platform_random_bytes(void *buf, size_t len) {
#if defined(_WIN32)
    if (len > ULONG_MAX) return -1;
    NTSTATUS status = BCryptGenRandom(nullptr, static_cast<PUCHAR>(buf),
                                      static_cast<ULONG>(len),
                                      BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    return status < 0 ? -1 : 0;
#elif defined(__linux__)
    // getrandom blocks until the pool is seeded, and may return short for
    // large requests or be interrupted by a signal; anything else is a
    // failure the caller must see.
    unsigned char *p = static_cast<unsigned char *>(buf);
    while (len > 0) {
        ssize_t n = getrandom(p, len, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        p += n;
        len -= size_t(n);
    }
    return 0;
#elif defined(__APPLE__) || defined(__FreeBSD__) || defined(__OpenBSD__) || \
    defined(__NetBSD__)
    // getentropy takes at most 256 bytes a call.
    unsigned char *p = static_cast<unsigned char *>(buf);
    while (len > 0) {
        size_t n = len < 256 ? len : 256;
        if (getentropy(p, n) != 0) return -1;
        p += n;
        len -= n;
    }
    return 0;
#else
#error "no secure random source for this platform"
#endif
}
