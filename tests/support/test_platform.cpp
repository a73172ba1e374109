// Test replacement for the platform layer: the shipped operating-system
// layer by default (compiled in under other names, see os_platform.cpp),
// with a pinned clock and scripted or failing random bytes on request.
#include "test_platform.h"

#include <deque>

#include "platform/platform.h"

int64_t os_platform_unix_time();
int os_platform_random_bytes(void *buf, size_t len);

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
    return g_clock_pinned ? g_clock : os_platform_unix_time();
}

int platform_random_bytes(void *buf, size_t len) {
    if (g_random_fails) return -1;
    auto *p = static_cast<unsigned char *>(buf);
    while (len > 0 && !g_random_queue.empty()) {
        *p++ = g_random_queue.front();
        g_random_queue.pop_front();
        --len;
    }
    return len == 0 ? 0 : os_platform_random_bytes(p, len);
}
