// Base64 with AVX-512 VBMI, 48 bytes to 64 characters per step (Muła and
// Lemire's method): encoding gathers each group's bytes with vpermb, cuts
// the four 6-bit fields with vpmultishiftqb and maps them to characters
// with one more vpermb over the 64-character alphabet; decoding maps each
// character through a 128-entry table held in two registers (vpermi2b),
// refused characters to a value with the high bit set, and packs the
// fields with multiply-adds and vpermb. The last partial run and short
// messages use masked loads and stores, which neither read nor write
// outside the message. Built with -mavx512f -mavx512bw -mavx512vbmi alone;
// reached only after base64.cpp's dispatch has found them with the
// operating system's support and the backend passed its self-test. The
// tables are registers: no memory is indexed by data.
#include <immintrin.h>

#include "base64_x86.h"

// GCC 12's AVX-512 intrinsics pass an "undefined" register as the unused
// merge source, which its own uninitialised-value warnings then report.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

constexpr char kStd[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

struct table128 {
    alignas(64) uint8_t v[128];
};

// Character to value, 0x80 for every refused one; base64url also takes the
// standard alphabet's two characters.
constexpr table128 decode_table(bool url) {
    table128 t{};
    for (int c = 0; c < 128; ++c) t.v[c] = 0x80;
    for (int i = 0; i < 64; ++i) {
        t.v[uint8_t(kStd[i])] = uint8_t(i);
        if (url) t.v[uint8_t(kUrl[i])] = uint8_t(i);
    }
    return t;
}
constexpr table128 kDecodeStd = decode_table(false);
constexpr table128 kDecodeUrl = decode_table(true);

inline __m512i alphabet(int32_t url_safe) {
    return _mm512_loadu_si512(url_safe != 0 ? kUrl : kStd);
}

// 48 bytes (of the 64 lanes) to 64 characters.
inline __m512i encode48(__m512i in, __m512i chars) {
    const __m512i gather = _mm512_setr_epi32(
        0x01020001, 0x04050304, 0x07080607, 0x0a0b090a, 0x0d0e0c0d, 0x10110f10, 0x13141213,
        0x16171516, 0x191a1819, 0x1c1d1b1c, 0x1f201e1f, 0x22232122, 0x25262425, 0x28292728,
        0x2b2c2a2b, 0x2e2f2d2e);
    const __m512i fields = _mm512_multishift_epi64_epi8(
        _mm512_set1_epi64(0x3036242a1016040a), _mm512_permutexvar_epi8(gather, in));
    return _mm512_permutexvar_epi8(fields, chars);
}

struct decoder {
    __m512i lo, hi;
};

inline decoder decode_tables(int32_t url_safe) {
    const table128 &t = url_safe != 0 ? kDecodeUrl : kDecodeStd;
    return {_mm512_load_si512(t.v), _mm512_load_si512(t.v + 64)};
}

// 64 characters to 48 bytes (the low lanes); false when any is refused.
inline bool decode64(__m512i c, const decoder &d, __m512i &bytes) {
    const __m512i v = _mm512_permutex2var_epi8(d.lo, c, d.hi);
    // The high bit: a refused character, or one from 0x80 up.
    if (_mm512_movepi8_mask(_mm512_or_si512(v, c)) != 0) return false;
    const __m512i pairs = _mm512_maddubs_epi16(v, _mm512_set1_epi32(0x01400140));
    const __m512i words = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));
    const __m512i pack = _mm512_setr_epi32(
        0x06000102, 0x090a0405, 0x0c0d0e08, 0x16101112, 0x191a1415, 0x1c1d1e18, 0x26202122,
        0x292a2425, 0x2c2d2e28, 0x36303132, 0x393a3435, 0x3c3d3e38, 0, 0, 0, 0);
    bytes = _mm512_permutexvar_epi8(pack, words);
    return true;
}

inline __mmask64 first(size_t n) { return n >= 64 ? ~__mmask64(0) : (__mmask64(1) << n) - 1; }

// Exactly 48 bytes.
inline void store48(uint8_t *out, __m512i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), _mm512_castsi512_si256(v));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 32), _mm512_extracti32x4_epi32(v, 2));
}

}  // namespace

size_t base64_encode_avx512vbmi(const uint8_t *in, size_t len, char *out, int32_t url_safe) {
    const __m512i chars = alphabet(url_safe);
    size_t done = 0;
    for (; len - done >= 64; done += 48) {
        const __m512i in64 = _mm512_loadu_si512(in + done);
        _mm512_storeu_si512(out + done / 3 * 4, encode48(in64, chars));
    }
    // The remaining whole groups, fewer than 22: one or two masked runs.
    const size_t groups_end = len / 3 * 3;
    while (done < groups_end) {
        const size_t n = groups_end - done < 48 ? groups_end - done : 48;
        const __m512i part = _mm512_maskz_loadu_epi8(first(n), in + done);
        _mm512_mask_storeu_epi8(out + done / 3 * 4, first(n / 3 * 4), encode48(part, chars));
        done += n;
    }
    return done;
}

size_t base64_decode_avx512vbmi(const unsigned char *in, size_t len, uint8_t *out,
                                int32_t url_safe) {
    const decoder d = decode_tables(url_safe);
    size_t done = 0;
    __m512i bytes;
    for (; len - done >= 64; done += 64) {
        if (!decode64(_mm512_loadu_si512(in + done), d, bytes)) return done;
        store48(out + done / 4 * 3, bytes);
    }
    if (done < len) {
        // Lanes past the text read as 'A', an accepted character.
        const size_t n = len - done;
        const __m512i part = _mm512_mask_loadu_epi8(_mm512_set1_epi8('A'), first(n), in + done);
        if (!decode64(part, d, bytes)) return done;
        _mm512_mask_storeu_epi8(out + done / 4 * 3, first(n / 4 * 3), bytes);
        done = len;
    }
    return done;
}

void base64_encode_short_avx512vbmi(const uint8_t *in, size_t len, char *out,
                                    int32_t url_safe) {
    // Missing bytes of a partial group load as zero, which is exactly how
    // its characters are formed.
    const __m512i part = _mm512_maskz_loadu_epi8(first(len), in);
    _mm512_mask_storeu_epi8(out, first((4 * len + 2) / 3), encode48(part, alphabet(url_safe)));
}

bool base64_decode_short_avx512vbmi(const unsigned char *in, size_t len, uint8_t *out,
                                    int32_t url_safe) {
    const __m512i part = _mm512_mask_loadu_epi8(_mm512_set1_epi8('A'), first(len), in);
    __m512i bytes;
    if (!decode64(part, decode_tables(url_safe), bytes)) return false;
    // A partial group of r characters holds r - 1 bytes; unused low bits
    // are ignored, as in the scalar decoder.
    const size_t n = len / 4 * 3 + (len % 4 == 0 ? 0 : len % 4 - 1);
    _mm512_mask_storeu_epi8(out, first(n), bytes);
    return true;
}
