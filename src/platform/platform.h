// What the library needs from the operating system. The shipped library
// links platform.cpp; the test build links a replacement with controllable
// clock and random source, so neither seam costs an export or a global.
#pragma once

#include <cstddef>
#include <cstdint>

// Current calendar time, whole seconds since 1970-01-01 UTC.
int64_t platform_unix_time();

// Fills buf with len bytes from the system's cryptographically secure
// generator. 0 on success, -1 when the source fails; never falls back to a
// weaker source.
int platform_random_bytes(void *buf, size_t len);
