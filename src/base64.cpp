// Base64 and base64url (RFC 4648 sections 4 and 5).
//
// The decoder is deliberately lenient at the end of the text: trailing CR,
// LF and space, then any number of '=', are ignored, and the unused low bits
// of a final partial group need not be zero. In base64url mode both
// alphabets are accepted.
#include "base64.h"

#include <atomic>
#include <cstring>

// The build defines KELDO_BASE64_SSSE3 where base64_x86_ssse3.cpp is
// compiled in (x86-64 with GCC or Clang).
#if defined(KELDO_BASE64_SSSE3)
#include <cpuid.h>

#include "base64_x86.h"
#endif

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

// ---- Backends -------------------------------------------------------------
//
// A backend runs the bulk of both directions several characters per step;
// the scalar code here finishes the tail and everything from the first run
// that holds a character the fast loop does not accept, so acceptance,
// partial output and capacity behave exactly as in the scalar code. Adding a
// backend is one table entry.

struct base64_backend {
    const char *name;
    bool (*usable)();  // null: always
    // Consume a prefix and return its length; null: none.
    size_t (*encode)(const uint8_t *in, size_t len, char *out, int32_t url_safe);
    size_t (*decode)(const unsigned char *in, size_t len, uint8_t *out, int32_t url_safe);
};

#if defined(KELDO_BASE64_SSSE3)
bool cpu_has_ssse3() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & (1u << 9)) != 0;
}
#endif

constexpr base64_backend kBackends[] = {
#if defined(KELDO_BASE64_SSSE3)
    {"ssse3", cpu_has_ssse3, base64_encode_ssse3, base64_decode_ssse3},
#endif
    {"portable", nullptr, nullptr, nullptr},
};
constexpr size_t kBackendCount = sizeof kBackends / sizeof kBackends[0];

// Null until first use; see sha256.cpp for why racing detections need no lock.
std::atomic<const base64_backend *> s_backend{nullptr};

// RFC 4648's "foobar" twice, in and out of one run of each loop, both
// alphabets (FB FF BF is +/+/ and -_-_), and a run with one '=' refused.
bool self_test(const base64_backend *b) {
    if (b->encode == nullptr || b->decode == nullptr)
        return b->encode == nullptr && b->decode == nullptr;
    static constexpr uint8_t foobar[16] = {'f', 'o', 'o', 'b', 'a', 'r', 'f', 'o',
                                           'o', 'b', 'a', 'r', 0, 0, 0, 0};
    static constexpr uint8_t barfb[16] = {'b', 'a', 'r', 'f', 'o', 'o', 'b', 'a',
                                          'r', 0xfb, 0xff, 0xbf, 0, 0, 0, 0};
    char text[16];
    uint8_t back[12];
    if (b->encode(foobar, 16, text, 0) != 12 || memcmp(text, "Zm9vYmFyZm9vYmFy", 16) != 0)
        return false;
    if (b->decode(reinterpret_cast<const unsigned char *>(text), 16, back, 0) != 16 ||
        memcmp(back, foobar, 12) != 0)
        return false;
    if (b->encode(barfb, 16, text, 1) != 12 || memcmp(text, "YmFyZm9vYmFy-_-_", 16) != 0)
        return false;
    const auto *url = reinterpret_cast<const unsigned char *>("YmFyZm9vYmFy-_+/");
    if (b->decode(url, 16, back, 1) != 16 || memcmp(back, barfb, 12) != 0) return false;
    if (b->decode(url, 16, back, 0) != 0) return false;
    const auto *pad = reinterpret_cast<const unsigned char *>("Zm9vYmFyZm9vYm=y");
    return b->decode(pad, 16, back, 1) == 0;
}

const base64_backend *detect() {
    for (const base64_backend &b : kBackends) {
        if ((b.usable == nullptr || b.usable()) && self_test(&b)) return &b;
    }
    return &kBackends[kBackendCount - 1];
}

inline const base64_backend *backend() {
    const base64_backend *b = s_backend.load(std::memory_order_acquire);
    if (b != nullptr) return b;
    const base64_backend *found = detect();
    if (s_backend.compare_exchange_strong(b, found, std::memory_order_acq_rel)) return found;
    return b;
}

}  // namespace

const char *base64_backend_at(size_t i) {
    return i < kBackendCount ? kBackends[i].name : nullptr;
}

const char *base64_backend_name() { return backend()->name; }

int32_t base64_backend_select(const char *name) {
    if (name == nullptr) return -1;
    for (const base64_backend &b : kBackends) {
        if (strcmp(b.name, name) != 0) continue;
        if ((b.usable != nullptr && !b.usable()) || !self_test(&b)) return -1;
        s_backend.store(&b, std::memory_order_release);
        return 0;
    }
    return -1;
}

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
    uint64_t g = 0;
    const base64_backend *be = backend();
    if (be->encode != nullptr) {
        const size_t done = be->encode(in, size_t(data_len), o, url_safe);
        in += done;
        o += done / 3 * 4;
        g = done / 3;
    }
    for (; g < q; ++g, in += 3, o += 4) {
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
    uint64_t g = 0;
    const base64_backend *be = backend();
    if (be->decode != nullptr) {
        // Only whole groups go to the fast loop; it stops before any run
        // that needs the exact rejection below.
        const size_t done = be->decode(p, size_t(q * 4), o, url_safe);
        p += done;
        o += done / 4 * 3;
        g = done / 4;
    }
    for (; g < q; ++g, p += 4, o += 3) {
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
