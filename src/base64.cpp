// Base64 and base64url (RFC 4648 sections 4 and 5).
//
// The decoder is deliberately lenient at the end of the text: trailing CR,
// LF and space, then any number of '=', are ignored, and the unused low bits
// of a final partial group need not be zero. In base64url mode both
// alphabets are accepted.
#include "base64.h"

#include <cstring>

namespace {

constexpr char b64_std_chars[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char b64_url_chars[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The 6-bit value of c, or -1. Range and equality tests only: no table
// indexed by the (possibly secret) character.
int32_t b64_char_value(unsigned char c, int32_t url_safe) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (url_safe != 0) {
        if (c == '-') return 62;
        if (c == '_') return 63;
    }
    return -1;
}

// Capacity with the terminator, or 0 when it does not fit 64 bits.
uint64_t encoded_capacity(uint64_t data_len, int32_t url_safe) {
    uint64_t q = data_len / 3, r = data_len % 3;
    // Characters after the full groups, NUL included.
    uint64_t tail = url_safe == 0 ? (r != 0 ? 5 : 1) : (r == 0 ? 1 : r + 2);
    if (q > (UINT64_MAX - tail) / 4) return 0;
    return 4 * q + tail;
}

}  // namespace

int32_t base64_encode(const void *data, uint64_t data_len, char *out,
                      uint64_t out_size, int32_t url_safe) {
    if (out == nullptr || out_size == 0) return -1;
    if (data == nullptr && data_len != 0) return -1;
    uint64_t need = encoded_capacity(data_len, url_safe);
    if (need == 0 || out_size < need) return -1;

    const char *alphabet = url_safe != 0 ? b64_url_chars : b64_std_chars;
    const uint8_t *in = static_cast<const uint8_t *>(data);
    uint64_t q = data_len / 3;
    char *o = out;
    for (uint64_t g = 0; g < q; ++g, in += 3, o += 4) {
        uint32_t v = (uint32_t(in[0]) << 16) | (uint32_t(in[1]) << 8) | in[2];
        o[0] = alphabet[v >> 18];
        o[1] = alphabet[(v >> 12) & 63];
        o[2] = alphabet[(v >> 6) & 63];
        o[3] = alphabet[v & 63];
    }
    switch (data_len % 3) {
    case 1:
        *o++ = alphabet[in[0] >> 2];
        *o++ = alphabet[(in[0] & 3) << 4];
        if (url_safe == 0) {
            *o++ = '=';
            *o++ = '=';
        }
        break;
    case 2:
        *o++ = alphabet[in[0] >> 2];
        *o++ = alphabet[((in[0] & 3) << 4) | (in[1] >> 4)];
        *o++ = alphabet[(in[1] & 15) << 2];
        if (url_safe == 0) *o++ = '=';
        break;
    default:
        break;
    }
    *o = '\0';
    return 0;
}

int32_t base64_decode(const char *text, uint8_t *out, uint64_t out_size,
                      uint64_t *out_len, int32_t url_safe) {
    if (out == nullptr || out_len == nullptr || text == nullptr) return -1;
    return base64_decode_n(text, strlen(text), out, out_size, out_len, url_safe);
}

int32_t base64_decode_n(const char *text, uint64_t text_len, uint8_t *out,
                        uint64_t out_size, uint64_t *out_len, int32_t url_safe) {
    if (out == nullptr || out_len == nullptr || text == nullptr) return -1;
    uint64_t len = text_len;
    while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r' ||
                       text[len - 1] == ' '))
        --len;
    while (len > 0 && text[len - 1] == '=') --len;

    uint64_t q = len / 4, r = len % 4;
    if (r == 1) return -1;
    // Never wraps: q <= 2^62, so 3q + 2 < 2^64.
    uint64_t decoded = q * 3 + (r == 0 ? 0 : r - 1);
    if (out_size < decoded) return -1;

    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    uint8_t *o = out;
    for (uint64_t g = 0; g < q; ++g, p += 4, o += 3) {
        int32_t a = b64_char_value(p[0], url_safe);
        int32_t b = b64_char_value(p[1], url_safe);
        if (a < 0 || b < 0) return -1;
        int32_t c = b64_char_value(p[2], url_safe);
        int32_t d = b64_char_value(p[3], url_safe);
        if (c < 0 || d < 0) return -1;
        uint32_t v = (uint32_t(a) << 18) | (uint32_t(b) << 12) |
                     (uint32_t(c) << 6) | uint32_t(d);
        o[0] = uint8_t(v >> 16);
        o[1] = uint8_t(v >> 8);
        o[2] = uint8_t(v);
    }
    if (r >= 2) {
        int32_t a = b64_char_value(p[0], url_safe);
        int32_t b = b64_char_value(p[1], url_safe);
        int32_t c = r == 3 ? b64_char_value(p[2], url_safe) : 0;
        if (a < 0 || b < 0 || c < 0) return -1;
        uint32_t v = (uint32_t(a) << 18) | (uint32_t(b) << 12) | (uint32_t(c) << 6);
        *o++ = uint8_t(v >> 16);
        if (r == 3) *o++ = uint8_t(v >> 8);
    }
    *out_len = decoded;
    return 0;
}
