// Base64 bulk loops on x86-64, each in its own file compiled alone with its
// instruction-set flags; base64.cpp's dispatch calls them only after
// checking the processor (and the operating system's support for the
// registers) and running the backend's self-test.
//
// The bulk entries share one contract:
// - encode: encodes whole 3-byte groups of the len bytes at in, never
//   reading outside them; returns the bytes consumed (a multiple of 3) and
//   writes exactly 4/3 of that.
// - decode: decodes runs of the len characters at in (len a multiple of 4)
//   while every character of a run is accepted; stops before the first run
//   holding any other character. Returns the characters consumed (a
//   multiple of 4: all of them, or whole groups before the refused one) and
//   writes exactly 3/4 of that, nothing beyond.
// The short entries take a whole message of at most kBase64ShortBytes bytes
// (kBase64ShortChars characters, base64_backend.h):
// - encode_short writes its characters without '=' padding or terminator;
// - decode_short takes text without trailing padding (len % 4 != 1) and
//   either writes all of the decoded bytes and returns true, or writes
//   nothing and returns false: when a character is refused, or when the
//   text is not one it takes (the caller's exact path then decides).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base64_backend.h"

// base64_x86_ssse3.cpp (-mssse3): 12 bytes to 16 characters per step.
size_t base64_encode_ssse3(const uint8_t *in, size_t len, char *out, int32_t url_safe);
size_t base64_decode_ssse3(const unsigned char *in, size_t len, uint8_t *out,
                           int32_t url_safe);

// base64_x86_avx2.cpp (-mavx2): 24 bytes to 32 characters per step, the
// SSSE3 loops for what is too short.
size_t base64_encode_avx2(const uint8_t *in, size_t len, char *out, int32_t url_safe);
size_t base64_decode_avx2(const unsigned char *in, size_t len, uint8_t *out,
                          int32_t url_safe);
// Texts of 32 to 64 characters (token signatures are 43): two overlapping
// runs and the partial group. There is no short encoder: the bulk loop and
// the scalar tail are already quick at those sizes.
bool base64_decode_short_avx2(const unsigned char *in, size_t len, uint8_t *out,
                              int32_t url_safe);

// base64_x86_avx512vbmi.cpp (-mavx512f -mavx512bw -mavx512vbmi): 48 bytes
// to 64 characters per step with byte permutes, the last partial run with
// masked loads and stores; also the short entries.
size_t base64_encode_avx512vbmi(const uint8_t *in, size_t len, char *out, int32_t url_safe);
size_t base64_decode_avx512vbmi(const unsigned char *in, size_t len, uint8_t *out,
                                int32_t url_safe);
void base64_encode_short_avx512vbmi(const uint8_t *in, size_t len, char *out,
                                    int32_t url_safe);
bool base64_decode_short_avx512vbmi(const unsigned char *in, size_t len, uint8_t *out,
                                    int32_t url_safe);
