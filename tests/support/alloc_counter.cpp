// malloc interposition for heap-use tests. The real allocator is glibc's,
// reached through its __libc_* entry points so that no dlsym bootstrap is
// needed. Single-threaded use only.
#include "alloc_counter.h"

#include <cstdint>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace {
bool g_counting = false;
alloc_counter::Counts g_counts;
size_t g_fail_countdown = 0;

// True when this request is the one chosen to fail.
bool should_fail() {
    if (g_fail_countdown == 0) return false;
    return --g_fail_countdown == 0;
}

void note_allocation(size_t size) {
    if (!g_counting) return;
    ++g_counts.allocations;
    g_counts.last_size = size;
    g_counts.bytes_requested += size;
}
}  // namespace

namespace alloc_counter {
void start() {
    g_counts = Counts{};
    g_counting = true;
}
Counts stop() {
    g_counting = false;
    return g_counts;
}
void fail_nth(size_t n) { g_fail_countdown = n; }
}  // namespace alloc_counter

extern "C" {

void free(void *p);

void *malloc(size_t size) {
    if (should_fail()) return nullptr;
    void *p = __libc_malloc(size);
    if (p != nullptr) note_allocation(size);
    return p;
}

void *calloc(size_t n, size_t size) {
    if (should_fail()) return nullptr;
    void *p = __libc_calloc(n, size);
    if (p != nullptr) note_allocation(n * size);
    return p;
}

void *realloc(void *old, size_t size) {
    if (old == nullptr) return malloc(size);
    if (size == 0) {
        free(old);
        return nullptr;
    }
    if (should_fail()) return nullptr;
    void *p = __libc_realloc(old, size);
    // A moved block is one release and one allocation; in place, neither.
    if (p != nullptr && p != old && g_counting) {
        ++g_counts.releases;
        note_allocation(size);
    }
    return p;
}

void free(void *p) {
    if (p == nullptr) return;
    if (g_counting) ++g_counts.releases;
    __libc_free(p);
}

}  // extern "C"
