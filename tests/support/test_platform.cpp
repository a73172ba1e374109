// Test replacement for the platform layer: the system clock and getrandom
// (BCryptGenRandom on Windows) by default, with a pinned clock and scripted
// or failing random bytes on request.
#include "test_platform.h"

#if defined(_WIN32)
#include <climits>
#include <windows.h>
#include <bcrypt.h>
#else
#include <sys/random.h>
#endif

#include <cerrno>
#include <ctime>
#include <deque>

#include "platform.h"

namespace {
bool g_clock_pinned = false;
int64_t g_clock = 0;
bool g_random_fails = false;
std::deque<uint8_t> g_random_queue;
}  // namespace

namespace test_platform {
void set_clock(int64_t now) {
    g_clock_pinned = true;
    g_clock = now;
}
void use_real_clock() { g_clock_pinned = false; }
void queue_random(const std::vector<uint8_t> &bytes) {
    g_random_queue.insert(g_random_queue.end(), bytes.begin(), bytes.end());
}
void fail_random(bool fail) { g_random_fails = fail; }
void reset() {
    g_clock_pinned = false;
    g_random_fails = false;
    g_random_queue.clear();
}
}  // namespace test_platform

int64_t platform_unix_time() {
    return g_clock_pinned ? g_clock : int64_t(time(nullptr));
}

int platform_random_bytes(void *buf, size_t len) {
    if (g_random_fails) return -1;
    auto *p = static_cast<unsigned char *>(buf);
    while (len > 0 && !g_random_queue.empty()) {
        *p++ = g_random_queue.front();
        g_random_queue.pop_front();
        --len;
    }
#if defined(_WIN32)
    if (len == 0) return 0;
    if (len > ULONG_MAX) return -1;
    return BCryptGenRandom(nullptr, p, static_cast<ULONG>(len),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0
               ? -1
               : 0;
#else
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
#endif
}
