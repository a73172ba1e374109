// Base64 bulk encoding and decoding, sixteen characters per step, with
// SSSE3. Built with -mssse3 alone; reached only after base64.cpp's dispatch
// has found SSSE3 and the backend passed its self-test. No table is indexed
// by data: the alphabet is applied with shuffles of constant registers and
// the decoder classifies by range comparisons, as the scalar code does.
#include "base64_x86.h"

#include <tmmintrin.h>

#include <cstring>

namespace {

// 12 input bytes (of 16 loaded) to sixteen 6-bit values, one per byte.
inline __m128i split_sextets(__m128i in) {
    in = _mm_shuffle_epi8(in, _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1));
    const __m128i t0 = _mm_and_si128(in, _mm_set1_epi32(0x0fc0fc00));
    const __m128i t1 = _mm_mulhi_epu16(t0, _mm_set1_epi32(0x04000040));
    const __m128i t2 = _mm_and_si128(in, _mm_set1_epi32(0x003f03f0));
    const __m128i t3 = _mm_mullo_epi16(t2, _mm_set1_epi32(0x01000010));
    return _mm_or_si128(t1, t3);
}

// 6-bit values to characters: each value class (A-Z, a-z, 0-9, 62, 63) is
// mapped to a small index, which picks the offset to add.
inline __m128i to_chars(__m128i v, __m128i offsets) {
    __m128i idx = _mm_subs_epu8(v, _mm_set1_epi8(51));  // 52..63 -> 1..12
    const __m128i upper = _mm_cmpgt_epi8(_mm_set1_epi8(26), v);
    idx = _mm_or_si128(idx, _mm_and_si128(upper, _mm_set1_epi8(13)));
    return _mm_add_epi8(v, _mm_shuffle_epi8(offsets, idx));
}

inline __m128i in_range(__m128i c, char lo, char hi) {
    return _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8(char(lo - 1))),
                         _mm_cmpgt_epi8(_mm_set1_epi8(char(hi + 1)), c));
}

inline __m128i pick(__m128i mask, char offset) {
    return _mm_and_si128(mask, _mm_set1_epi8(offset));
}

// Values of sixteen characters, and whether all of them are accepted.
// Bytes from 0x80 up compare as negative and fall in no range.
template <bool Url>
inline bool char_values(__m128i c, __m128i &values) {
    const __m128i upper = in_range(c, 'A', 'Z');
    const __m128i lower = in_range(c, 'a', 'z');
    const __m128i digit = in_range(c, '0', '9');
    const __m128i plus = _mm_cmpeq_epi8(c, _mm_set1_epi8('+'));
    const __m128i slash = _mm_cmpeq_epi8(c, _mm_set1_epi8('/'));
    __m128i ok = _mm_or_si128(_mm_or_si128(upper, lower), _mm_or_si128(digit, _mm_or_si128(plus, slash)));
    __m128i shift = _mm_or_si128(_mm_or_si128(pick(upper, -'A'), pick(lower, 26 - 'a')),
                                 _mm_or_si128(pick(digit, 52 - '0'),
                                              _mm_or_si128(pick(plus, 62 - '+'), pick(slash, 63 - '/'))));
    if (Url) {
        const __m128i dash = _mm_cmpeq_epi8(c, _mm_set1_epi8('-'));
        const __m128i under = _mm_cmpeq_epi8(c, _mm_set1_epi8('_'));
        ok = _mm_or_si128(ok, _mm_or_si128(dash, under));
        shift = _mm_or_si128(shift, _mm_or_si128(pick(dash, 62 - '-'), pick(under, 63 - '_')));
    }
    values = _mm_add_epi8(c, shift);
    return _mm_movemask_epi8(ok) == 0xffff;
}

// Sixteen 6-bit values to twelve bytes in the low lanes, in text order.
inline __m128i join_sextets(__m128i v) {
    const __m128i pairs = _mm_maddubs_epi16(v, _mm_set1_epi32(0x01400140));
    const __m128i words = _mm_madd_epi16(pairs, _mm_set1_epi32(0x00011000));
    return _mm_shuffle_epi8(words, _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1));
}

// Exactly twelve bytes: a wider store would write past the groups decoded
// so far, which a rejected character later on must leave untouched.
inline void store12(uint8_t *out, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i *>(out), v);
    const uint32_t tail = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(v, 8)));
    memcpy(out + 8, &tail, 4);
}

template <bool Url>
size_t decode_runs(const unsigned char *in, size_t len, uint8_t *out) {
    size_t done = 0;
    __m128i values;
    for (; len - done >= 16; done += 16) {
        if (!char_values<Url>(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + done)), values))
            return done;
        store12(out + done / 4 * 3, join_sextets(values));
    }
    // The last few groups as one run that overlaps the previous one: its
    // first bytes are rewritten with the same values, and it is stored only
    // when all of it is accepted (len is a multiple of 4, so it starts on a
    // group).
    if (done != len && len >= 16) {
        const size_t at = len - 16;
        if (!char_values<Url>(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + at)), values))
            return done;
        store12(out + at / 4 * 3, join_sextets(values));
        done = len;
    }
    return done;
}

}  // namespace

size_t base64_encode_ssse3(const uint8_t *in, size_t len, char *out, int32_t url_safe) {
    const __m128i offsets =
        url_safe != 0 ? _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '-' - 62,
                                      '_' - 63, 'A', 0, 0)
                      : _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62,
                                      '/' - 63, 'A', 0, 0);
    size_t done = 0;
    for (; len - done >= 16; done += 12) {
        const __m128i in16 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + done));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + done / 3 * 4),
                         to_chars(split_sextets(in16), offsets));
    }
    // Up to five whole groups are left. Runs that end too near the end of
    // the input for a 16-byte load take the 16 bytes ending with them
    // instead (nothing outside the input is read), shifted down: one more
    // run if more than four groups remain, then the last four groups, whose
    // characters shared with the previous run are rewritten unchanged.
    const size_t groups_end = len / 3 * 3;
    if (groups_end > done && groups_end >= 16) {
        auto run_ending_at = [&](size_t end) {
            const __m128i in16 = _mm_srli_si128(
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + end - 16)), 4);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + (end - 12) / 3 * 4),
                             to_chars(split_sextets(in16), offsets));
        };
        if (groups_end - done > 12) run_ending_at(done + 12);
        run_ending_at(groups_end);
        done = groups_end;
    }
    return done;
}

size_t base64_decode_ssse3(const unsigned char *in, size_t len, uint8_t *out,
                           int32_t url_safe) {
    return url_safe != 0 ? decode_runs<true>(in, len, out) : decode_runs<false>(in, len, out);
}
