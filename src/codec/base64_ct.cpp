// Constant-time Base64 and hex: every step is arithmetic on the value or the
// character, with masks made from the sign of a difference (C++20 defines
// >> of a negative number as an arithmetic shift).
#include "codec/base64_ct.h"

#include "platform/ct_check.h"

namespace {

struct pair62 {
    int32_t c62, c63;
};

constexpr pair62 specials(b64_alphabet a) {
    return a == b64_alphabet::url       ? pair62{'-', '_'}
           : a == b64_alphabet::adapted ? pair62{'.', '/'}
                                        : pair62{'+', '/'};
}

// All ones when x < 0, else 0, for |x| < 2^23.
inline int32_t neg_mask(int32_t x) { return x >> 23; }

// All ones when x == y, else 0, for bytes x and y.
inline int32_t eq_mask(int32_t x, int32_t y) { return neg_mask((x ^ y) - 1); }

// All ones when lo <= x <= hi, else 0, for bytes.
inline int32_t range_mask(int32_t x, int32_t lo, int32_t hi) {
    return neg_mask((lo - 1 - x) & (x - hi - 1));
}

// The character of a 6-bit value: 'A' + v, shifted for each later range.
inline char b64_char(int32_t v, pair62 p) {
    int32_t c = 'A' + v;
    c += neg_mask(25 - v) & ('a' - 26 - 'A');  // 26..51 -> 'a'..'z'
    c += neg_mask(51 - v) & ('0' - 52 - ('a' - 26));  // 52..61 -> '0'..'9'
    c += neg_mask(61 - v) & (p.c62 - 62 - ('0' - 52));
    c += neg_mask(62 - v) & (p.c63 - 63 - (p.c62 - 62));
    return char(c);
}

// The 6-bit value of a character, or -1 for any byte outside the alphabet.
inline int32_t b64_value(int32_t c, pair62 p) {
    int32_t v = -1;
    v += range_mask(c, 'A', 'Z') & (c - 'A' + 1);
    v += range_mask(c, 'a', 'z') & (c - 'a' + 26 + 1);
    v += range_mask(c, '0', '9') & (c - '0' + 52 + 1);
    v += eq_mask(c, p.c62) & (62 + 1);
    v += eq_mask(c, p.c63) & (63 + 1);
    return v;
}

inline char hex_char(int32_t v) { return char('0' + v + (neg_mask(9 - v) & ('a' - '0' - 10))); }

inline int32_t hex_value(int32_t c) {
    int32_t v = -1;
    v += range_mask(c, '0', '9') & (c - '0' + 1);
    v += range_mask(c, 'a', 'f') & (c - 'a' + 10 + 1);
    return v;
}

inline int32_t byte_at(const char *s, size_t i) { return static_cast<unsigned char>(s[i]); }

}  // namespace

void base64_ct_encode(const uint8_t *data, size_t n, char *out, b64_alphabet alphabet,
                      bool pad) {
    const pair62 p = specials(alphabet);
    size_t i = 0;
    for (; i + 3 <= n; i += 3, out += 4) {
        const int32_t v = (int32_t(data[i]) << 16) | (int32_t(data[i + 1]) << 8) | data[i + 2];
        out[0] = b64_char(v >> 18, p);
        out[1] = b64_char((v >> 12) & 63, p);
        out[2] = b64_char((v >> 6) & 63, p);
        out[3] = b64_char(v & 63, p);
    }
    const size_t r = n - i;  // the length is public: branching on it is fine
    if (r == 0) return;
    const int32_t v = (int32_t(data[i]) << 16) | (r == 2 ? int32_t(data[i + 1]) << 8 : 0);
    *out++ = b64_char(v >> 18, p);
    *out++ = b64_char((v >> 12) & 63, p);
    if (r == 2) *out++ = b64_char((v >> 6) & 63, p);
    else if (pad) *out++ = '=';
    if (pad) *out = '=';
}

int32_t base64_ct_decode(const char *text, size_t text_len, uint8_t *out, size_t n,
                         b64_alphabet alphabet, bool pad) {
    if (text_len != base64_ct_chars(n, pad)) return -1;
    const pair62 p = specials(alphabet);
    int32_t bad = 0;  // negative once any character was refused
    size_t i = 0, o = 0;
    for (; o + 3 <= n; o += 3, i += 4) {
        const int32_t a = b64_value(byte_at(text, i), p), b = b64_value(byte_at(text, i + 1), p);
        const int32_t c = b64_value(byte_at(text, i + 2), p), d = b64_value(byte_at(text, i + 3), p);
        bad |= a | b | c | d;
        const int32_t v = (a << 18) | (b << 12) | (c << 6) | d;
        out[o] = uint8_t(v >> 16);
        out[o + 1] = uint8_t(v >> 8);
        out[o + 2] = uint8_t(v);
    }
    const size_t r = n - o;
    if (r != 0) {
        const int32_t a = b64_value(byte_at(text, i), p), b = b64_value(byte_at(text, i + 1), p);
        const int32_t c = r == 2 ? b64_value(byte_at(text, i + 2), p) : 0;
        bad |= a | b | c;
        // Canonical: the bits below the last byte are zero.
        const int32_t spare = r == 2 ? (c & 3) : (b & 15);
        bad |= -spare;
        const int32_t v = (a << 18) | (b << 12) | (c << 6);
        out[o] = uint8_t(v >> 16);
        if (r == 2) out[o + 1] = uint8_t(v >> 8);
        if (pad) {
            // '=' where the missing characters are, and nothing else.
            bad |= ~eq_mask(byte_at(text, i + 3), '=');
            if (r == 1) bad |= ~eq_mask(byte_at(text, i + 2), '=');
        }
    }
    // Whether the text is canonical is the caller's to act on.
    return keldo_ct_public(int32_t(bad >> 31));
}

void hex_ct_encode(const uint8_t *data, size_t n, char *out) {
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = hex_char(data[i] >> 4);
        out[2 * i + 1] = hex_char(data[i] & 15);
    }
}

int32_t hex_ct_decode(const char *text, uint8_t *out, size_t n) {
    int32_t bad = 0;
    for (size_t i = 0; i < n; ++i) {
        const int32_t hi = hex_value(byte_at(text, 2 * i)), lo = hex_value(byte_at(text, 2 * i + 1));
        bad |= hi | lo;
        out[i] = uint8_t((hi << 4) | (lo & 15));
    }
    return keldo_ct_public(int32_t(bad >> 31));
}
