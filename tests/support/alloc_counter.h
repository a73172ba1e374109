// Counts (and on request fails) the C heap calls made in this process, by
// interposing malloc, calloc, realloc and free. Link alloc_counter.cpp only
// into test programs that need it, and not into sanitizer builds, whose
// runtimes own the allocator (keldo_add_test skips them there: see
// KELDO_ALLOC_COUNTING in tests/CMakeLists.txt).
#pragma once

#include <cstddef>

namespace alloc_counter {

struct Counts {
    size_t allocations = 0;   // successful malloc/calloc/realloc(nullptr, n)
    size_t releases = 0;      // free of a non-null pointer, realloc(p, 0)
    size_t last_size = 0;     // size of the latest allocation request
    size_t bytes_requested = 0;
};

// Starts counting from zero in the calling thread's view of the process.
void start();
// Stops counting and returns what was seen since start().
Counts stop();

// Makes the nth allocation request from now on (1-based) fail with
// nullptr, once; 0 disarms.
void fail_nth(size_t n);

}  // namespace alloc_counter
