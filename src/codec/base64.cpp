// Base64 and base64url (RFC 4648 sections 4 and 5).
//
// The decoder is deliberately lenient at the end of the text: trailing CR,
// LF and space, then any number of '=', are ignored, and the unused low bits
// of a final partial group need not be zero. In base64url mode both
// alphabets are accepted.
#include "base64.h"

#include <cstring>

#include "base64_backend.h"

// The build defines KELDO_BASE64_X86 where the x86-64 loops
// (base64_x86_*.cpp) are compiled in (GCC or Clang).
#if defined(KELDO_BASE64_X86)
#include "base64_x86.h"
#endif

namespace {

constexpr char b64_std_chars[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char b64_url_chars[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The 6-bit value of c, or -1. Range and equality tests only: no table
// indexed by the (possibly secret) character. (A branch-free form costs the
// same for every character but measured two to three times slower on
// token-sized texts; the vector backends leave at most a partial group
// here.)
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
// partial output and capacity behave exactly as in the scalar code. Best
// first; adding a backend is one table entry.

constexpr base64_backend kBackends[] = {
#if defined(KELDO_BASE64_X86)
    {"avx512vbmi", cpu_avx512bw | cpu_avx512vbmi, base64_encode_avx512vbmi,
     base64_decode_avx512vbmi, base64_encode_short_avx512vbmi, base64_decode_short_avx512vbmi},
    {"avx2", cpu_avx2 | cpu_ssse3, base64_encode_avx2, base64_decode_avx2, nullptr,
     base64_decode_short_avx2},
    {"ssse3", cpu_ssse3, base64_encode_ssse3, base64_decode_ssse3, nullptr, nullptr},
#endif
    {"portable", 0, nullptr, nullptr, nullptr, nullptr},
};
constexpr size_t kBackendCount = sizeof kBackends / sizeof kBackends[0];

// RFC 4648's "foobar" several times, in and out of one run of each loop
// (16 to 64 characters, one group more than the widest run), both
// alphabets (FB FF BF is +/+/ and -_-_), a run with one '=' refused and,
// for the short entries, a partial group.
bool self_test(const base64_backend &be) {
    const base64_backend *b = &be;
    if ((b->encode == nullptr) != (b->decode == nullptr)) return false;
    if (b->encode == nullptr) return b->encode_short == nullptr && b->decode_short == nullptr;
    uint8_t foobar[51], barfb[51];
    char want[68], want_url[68];
    for (size_t i = 0; i < 17; ++i) {
        memcpy(foobar + 3 * i, i % 2 == 0 ? "foo" : "bar", 3);
        memcpy(want + 4 * i, i % 2 == 0 ? "Zm9v" : "YmFy", 4);
        memcpy(barfb + 3 * i, i % 3 == 2 ? "\xfb\xff\xbf" : i % 3 == 0 ? "bar" : "foo", 3);
        memcpy(want_url + 4 * i, i % 3 == 2 ? "-_-_" : i % 3 == 0 ? "YmFy" : "Zm9v", 4);
    }
    char text[68];
    uint8_t back[51];
    static constexpr size_t kGroups[] = {4, 8, 16, 17};
    for (const size_t groups : kGroups) {
        const size_t n = 3 * groups, chars = 4 * groups;
        // Whole groups only: the bulk loops may leave a tail to the caller.
        const size_t done = b->encode(foobar, n, text, 0);
        if (done % 3 != 0 || done > n || memcmp(text, want, done / 3 * 4) != 0) return false;
        const size_t done_url = b->encode(barfb, n, text, 1);
        if (done_url % 3 != 0 || done_url > n || memcmp(text, want_url, done_url / 3 * 4) != 0)
            return false;
        const auto *t = reinterpret_cast<const unsigned char *>(want);
        const size_t got = b->decode(t, chars, back, 0);
        if (got % 4 != 0 || got > chars || memcmp(back, foobar, got / 4 * 3) != 0) return false;
        // The url decoder takes the standard alphabet too; the standard one
        // refuses '-' and '_' (the third group of want_url has them).
        memcpy(text, want_url, chars);
        memcpy(text + 4, "+/+/", 4);
        memcpy(barfb + 3, "\xfb\xff\xbf", 3);
        const auto *u = reinterpret_cast<const unsigned char *>(text);
        const size_t got_url = b->decode(u, chars, back, 1);
        if (got_url % 4 != 0 || memcmp(back, barfb, got_url / 4 * 3) != 0) return false;
        memcpy(barfb + 3, "foo", 3);
        if (b->decode(u, chars, back, 0) > 8) return false;
        memcpy(text, want, chars);
        text[chars - 2] = '=';
        if (b->decode(u, chars, back, 1) > chars - 4) return false;
    }
    if (b->encode(foobar, 48, text, 0) != 48 ||
        b->decode(reinterpret_cast<const unsigned char *>(want), 64, back, 0) != 64)
        return false;
    if (b->encode_short != nullptr) {
        // "foob" -> "Zm9vYg" (RFC 4648 section 10), then a whole message of
        // the largest size.
        b->encode_short(foobar, 4, text, 0);
        if (memcmp(text, "Zm9vYg", 6) != 0) return false;
        b->encode_short(foobar, kBase64ShortBytes, text, 0);
        if (memcmp(text, want, kBase64ShortChars) != 0) return false;
    }
    if (b->decode_short != nullptr) {
        // A token signature's size (43 characters, a partial group of 3),
        // the largest size, and a refused character in the middle.
        const auto *t = reinterpret_cast<const unsigned char *>(want);
        if (!b->decode_short(t, 43, back, 0) || memcmp(back, foobar, 32) != 0) return false;
        if (!b->decode_short(t, kBase64ShortChars, back, 0) ||
            memcmp(back, foobar, kBase64ShortBytes) != 0)
            return false;
        memcpy(text, want, kBase64ShortChars);
        text[21] = '=';
        if (b->decode_short(reinterpret_cast<const unsigned char *>(text), 43, back, 1))
            return false;
    }
    return true;
}

constinit dispatch_point<base64_backend> s_dispatch{kBackends, kBackendCount, self_test,
                                                    nullptr};

inline const base64_backend *backend() { return chosen_backend(s_dispatch); }

}  // namespace

dispatch_point<base64_backend> &base64_dispatch() { return s_dispatch; }

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
    if (be->encode_short != nullptr && data_len <= kBase64ShortBytes) {
        // Capacity was tested above: the whole text fits.
        const size_t chars = size_t(4 * data_len + 2) / 3;
        be->encode_short(in, size_t(data_len), out, url_safe);
        o = out + chars;
        if (url_safe == 0)
            for (size_t k = chars; k % 4 != 0; ++k) *o++ = '=';
        *o = '\0';
        return 0;
    }
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
    // A refused character sends the text on to the exact path below, which
    // writes the groups before it; the short entry has written nothing.
    if (be->decode_short != nullptr && len <= kBase64ShortChars &&
        be->decode_short(p, size_t(len), out, url_safe)) {
        *out_len = decoded;
        return 0;
    }
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
