// Base64 bulk loops with SSSE3, defined in base64_x86_ssse3.cpp (the only
// file built with -mssse3); base64.cpp calls them after checking CPUID.
#pragma once

#include <cstddef>
#include <cstdint>

// Encodes whole 3-byte groups of the len bytes at in, 12 bytes into 16
// characters per step, never reading outside the len bytes; returns the
// bytes consumed (a multiple of 3: all whole groups when len >= 16, else
// none) and writes exactly 4/3 of that.
size_t base64_encode_ssse3(const uint8_t *in, size_t len, char *out, int32_t url_safe);

// Decodes 16-character runs of the len characters at in (len a multiple of
// 4) while every character of a run is accepted, 12 bytes per run; stops
// before the first run holding any other character. Returns the characters
// consumed (a multiple of 4: all of them, or the whole runs before the
// first refused one) and writes exactly 3/4 of that, nothing beyond.
size_t base64_decode_ssse3(const unsigned char *in, size_t len, uint8_t *out,
                           int32_t url_safe);
