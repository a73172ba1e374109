// The Base64 backends: bulk loops for both directions and, optionally,
// whole short messages (the sizes of token signatures and claims) in a few
// vector instructions. base64.cpp holds the table, best first; base64_x86.h
// states the contract of each entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/dispatch.h"

// The largest message the short entries take: 48 bytes, 64 characters.
inline constexpr size_t kBase64ShortBytes = 48;
inline constexpr size_t kBase64ShortChars = 64;

struct base64_backend {
    const char *name;
    uint32_t needs;  // cpu_feature bits
    // Consume a prefix and return its length; null: none.
    size_t (*encode)(const uint8_t *in, size_t len, char *out, int32_t url_safe);
    size_t (*decode)(const unsigned char *in, size_t len, uint8_t *out, int32_t url_safe);
    // Whole short messages; null: none (each may be present alone).
    void (*encode_short)(const uint8_t *in, size_t len, char *out, int32_t url_safe);
    bool (*decode_short)(const unsigned char *in, size_t len, uint8_t *out, int32_t url_safe);
};

dispatch_point<base64_backend> &base64_dispatch();
