// Hex text <-> bytes for test vectors and failure messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace test_hex {

inline int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace test_hex

// Decodes hex text (either case). Whitespace is skipped so long vectors can
// be written across lines. Malformed text aborts: a vector typo must not
// turn into a silently shorter input.
inline std::vector<uint8_t> from_hex(std::string_view text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() / 2);
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r') continue;
        int v = test_hex::nibble(c);
        if (v < 0) std::abort();
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>((high << 4) | v));
            high = -1;
        }
    }
    if (high >= 0) std::abort();
    return out;
}

// Lowercase hex of len bytes.
inline std::string to_hex(const uint8_t *data, size_t len) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(len * 2);
    for (size_t i = 0; i < len; ++i) {
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0x0f]);
    }
    return out;
}

inline std::string to_hex(const std::vector<uint8_t> &bytes) {
    return to_hex(bytes.data(), bytes.size());
}
