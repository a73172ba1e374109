// Base64 bulk encoding and decoding, 24 bytes to 32 characters per step,
// with AVX2: the SSSE3 loops' method (base64_x86_ssse3.cpp) on both 128-bit
// lanes at once, then the SSSE3 loop for what is left. Built with -mavx2
// alone; reached only after base64.cpp's dispatch has found AVX2 with the
// operating system's support and the backend passed its self-test. No table
// is indexed by data: shuffles of constant registers and range comparisons.
#include <immintrin.h>

#include "base64_x86.h"

namespace {

inline __m256i bcast(__m128i x) { return _mm256_broadcastsi128_si256(x); }

// Each lane: 12 input bytes (of 16 loaded) to sixteen 6-bit values.
inline __m256i split_sextets(__m256i in) {
    in = _mm256_shuffle_epi8(
        in, bcast(_mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1)));
    const __m256i t0 = _mm256_and_si256(in, _mm256_set1_epi32(0x0fc0fc00));
    const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
    const __m256i t2 = _mm256_and_si256(in, _mm256_set1_epi32(0x003f03f0));
    const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
    return _mm256_or_si256(t1, t3);
}

// 6-bit values to characters: each class (A-Z, a-z, 0-9, 62, 63) maps to a
// small index, which picks the offset to add.
inline __m256i to_chars(__m256i v, __m256i offsets) {
    __m256i idx = _mm256_subs_epu8(v, _mm256_set1_epi8(51));  // 52..63 -> 1..12
    const __m256i upper = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), v);
    idx = _mm256_or_si256(idx, _mm256_and_si256(upper, _mm256_set1_epi8(13)));
    return _mm256_add_epi8(v, _mm256_shuffle_epi8(offsets, idx));
}

inline __m256i in_range(__m256i c, char lo, char hi) {
    return _mm256_and_si256(_mm256_cmpgt_epi8(c, _mm256_set1_epi8(char(lo - 1))),
                            _mm256_cmpgt_epi8(_mm256_set1_epi8(char(hi + 1)), c));
}

inline __m256i pick(__m256i mask, char offset) {
    return _mm256_and_si256(mask, _mm256_set1_epi8(offset));
}

// Values of 32 characters, and whether all of them are accepted. Bytes from
// 0x80 up compare as negative and fall in no range.
template <bool Url>
inline bool char_values(__m256i c, __m256i &values) {
    const __m256i upper = in_range(c, 'A', 'Z');
    const __m256i lower = in_range(c, 'a', 'z');
    const __m256i digit = in_range(c, '0', '9');
    const __m256i plus = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('+'));
    const __m256i slash = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('/'));
    __m256i ok = _mm256_or_si256(_mm256_or_si256(upper, lower),
                                 _mm256_or_si256(digit, _mm256_or_si256(plus, slash)));
    __m256i shift = _mm256_or_si256(
        _mm256_or_si256(pick(upper, -'A'), pick(lower, 26 - 'a')),
        _mm256_or_si256(pick(digit, 52 - '0'),
                        _mm256_or_si256(pick(plus, 62 - '+'), pick(slash, 63 - '/'))));
    if (Url) {
        const __m256i dash = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('-'));
        const __m256i under = _mm256_cmpeq_epi8(c, _mm256_set1_epi8('_'));
        ok = _mm256_or_si256(ok, _mm256_or_si256(dash, under));
        shift = _mm256_or_si256(shift, _mm256_or_si256(pick(dash, 62 - '-'), pick(under, 63 - '_')));
    }
    values = _mm256_add_epi8(c, shift);
    return _mm256_movemask_epi8(ok) == -1;
}

// 32 values to 24 bytes in the low lanes, in text order.
inline __m256i join_sextets(__m256i v) {
    const __m256i pairs = _mm256_maddubs_epi16(v, _mm256_set1_epi32(0x01400140));
    const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
    const __m256i packed = _mm256_shuffle_epi8(
        words, bcast(_mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1)));
    return _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
}

// Exactly 24 bytes: nothing past the groups decoded so far is written.
inline void store24(uint8_t *out, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm256_castsi256_si128(v));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 16), _mm256_extracti128_si256(v, 1));
}

template <bool Url>
size_t decode_runs(const unsigned char *in, size_t len, uint8_t *out) {
    size_t done = 0;
    __m256i values;
    for (; len - done >= 32; done += 32) {
        if (!char_values<Url>(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + done)),
                              values))
            return done;
        store24(out + done / 4 * 3, join_sextets(values));
    }
    return done;
}

}  // namespace

size_t base64_encode_avx2(const uint8_t *in, size_t len, char *out, int32_t url_safe) {
    const __m128i offsets =
        url_safe != 0 ? _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '-' - 62,
                                      '_' - 63, 'A', 0, 0)
                      : _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62,
                                      '/' - 63, 'A', 0, 0);
    const __m256i offsets2 = bcast(offsets);
    size_t done = 0;
    // Two 16-byte loads, 12 bytes apart: the second ends 28 bytes in.
    for (; len - done >= 28; done += 24) {
        const __m256i in32 = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + done))),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + done + 12)), 1);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + done / 3 * 4),
                            to_chars(split_sextets(in32), offsets2));
    }
    return done + base64_encode_ssse3(in + done, len - done, out + done / 3 * 4, url_safe);
}

size_t base64_decode_avx2(const unsigned char *in, size_t len, uint8_t *out,
                          int32_t url_safe) {
    const size_t done =
        url_safe != 0 ? decode_runs<true>(in, len, out) : decode_runs<false>(in, len, out);
    // Stopped at a refused run, or fewer than 32 characters left.
    if (len - done < 32)
        return done + base64_decode_ssse3(in + done, len - done, out + done / 4 * 3, url_safe);
    return done;
}
