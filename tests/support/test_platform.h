// Control over the clock and the random source seen by the cores in the
// test build (the shipped library links the real platform layer instead).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace test_platform {

// Pins the clock to now; use_real_clock() restores the system clock.
void set_clock(int64_t now);
void use_real_clock();

// The next random requests are served from bytes, in order, then the system
// source takes over again.
void queue_random(const std::vector<uint8_t> &bytes);
// While set, every random request fails.
void fail_random(bool fail);

// Back to the system clock and random source.
void reset();

// RAII: pins the clock for one scope.
struct ScopedClock {
    explicit ScopedClock(int64_t now) { set_clock(now); }
    ~ScopedClock() { use_real_clock(); }
    ScopedClock(const ScopedClock &) = delete;
    ScopedClock &operator=(const ScopedClock &) = delete;
};

}  // namespace test_platform
