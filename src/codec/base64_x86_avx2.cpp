// Base64 bulk encoding and decoding, 24 bytes to 32 characters per step,
// with AVX2. Encoding is the SSSE3 loop's method (base64_x86_ssse3.cpp) on
// both 128-bit lanes at once; decoding classifies each character by its two
// nibbles with shuffles of constant registers (Muła's method). The SSSE3
// loops take what is too short for a 32-byte run. Built with -mavx2 alone; reached only after
// base64.cpp's dispatch has found AVX2 with the operating system's support
// and the backend passed its self-test. No memory is indexed by data.
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

// The decoder's tables, derived here from the alphabets rather than
// written out. Validity: each high nibble belongs to a class by the set of
// low nibbles it accepts; lo_bits[l] holds the bits of the classes that
// refuse l, hi_bits[h] the bit of h's class, so a character is refused
// exactly when the two share a bit (Muła's method). Values: the character
// plus roll[index], the index being the high nibble, with the few
// characters whose offset differs from the rest of their nibble moved to
// unused indices by an XOR.
struct tables {
    int8_t lo_bits[16], hi_bits[16], roll[16];
};

constexpr int char_value(int c, bool url) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+' || (url && c == '-')) return 62;
    if (c == '/' || (url && c == '_')) return 63;
    return -1;
}

// The XOR that moves a character to its roll index: '/' and '_' by 8,
// '-' by 9 (none of them shares its nibble's offset).
constexpr int roll_xor(int c) { return c == '/' || c == '_' ? 8 : c == '-' ? 9 : 0; }

constexpr tables make_tables(bool url) {
    tables t{};
    int class_of[16] = {};
    int accepted[8] = {};
    int classes = 0;
    for (int h = 0; h < 16; ++h) {
        int set = 0;
        for (int l = 0; l < 16; ++l)
            if (char_value(16 * h + l, url) >= 0) set |= 1 << l;
        int k = 0;
        while (k < classes && accepted[k] != set) ++k;
        if (k == classes) accepted[classes++] = set;  // at most 6 classes
        class_of[h] = k;
    }
    for (int h = 0; h < 16; ++h) t.hi_bits[h] = int8_t(1 << class_of[h]);
    for (int l = 0; l < 16; ++l) {
        int bits = 0;
        for (int k = 0; k < classes; ++k)
            if ((accepted[k] & (1 << l)) == 0) bits |= 1 << k;
        t.lo_bits[l] = int8_t(bits);
    }
    for (int c = 0; c < 128; ++c) {
        const int v = char_value(c, url);
        if (v >= 0) t.roll[(c >> 4) ^ roll_xor(c)] = int8_t(v - c);
    }
    return t;
}

// Every accepted character's value comes out right, and no two characters
// that need different offsets share an index.
constexpr bool tables_hold(bool url) {
    const tables t = make_tables(url);
    for (int c = 0; c < 128; ++c) {
        const int v = char_value(c, url);
        const bool refused = (t.lo_bits[c & 15] & t.hi_bits[c >> 4]) != 0;
        if (refused != (v < 0)) return false;
        if (v >= 0 && c + t.roll[(c >> 4) ^ roll_xor(c)] != v) return false;
    }
    return true;
}
static_assert(tables_hold(false) && tables_hold(true));

constexpr tables kStd = make_tables(false);
constexpr tables kUrl = make_tables(true);

inline __m256i table(const int8_t (&v)[16]) {
    return bcast(_mm_loadu_si128(reinterpret_cast<const __m128i *>(v)));
}

// Values of 32 characters, and whether all of them are accepted. Bytes from
// 0x80 up have high nibbles whose class accepts nothing.
template <bool Url>
inline bool char_values(__m256i c, __m256i &values) {
    const tables &t = Url ? kUrl : kStd;
    const __m256i nibble = _mm256_set1_epi8(0x0f);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi32(c, 4), nibble);
    const __m256i lo = _mm256_and_si256(c, nibble);
    const __m256i refused = _mm256_and_si256(_mm256_shuffle_epi8(table(t.lo_bits), lo),
                                             _mm256_shuffle_epi8(table(t.hi_bits), hi));
    __m256i moved = _mm256_and_si256(_mm256_cmpeq_epi8(c, _mm256_set1_epi8('/')),
                                     _mm256_set1_epi8(8));
    if (Url) {
        moved = _mm256_or_si256(
            moved, _mm256_and_si256(_mm256_cmpeq_epi8(c, _mm256_set1_epi8('_')), _mm256_set1_epi8(8)));
        moved = _mm256_or_si256(
            moved, _mm256_and_si256(_mm256_cmpeq_epi8(c, _mm256_set1_epi8('-')), _mm256_set1_epi8(9)));
    }
    const __m256i roll = _mm256_shuffle_epi8(table(t.roll), _mm256_xor_si256(hi, moved));
    values = _mm256_add_epi8(c, roll);
    return _mm256_testz_si256(refused, refused) != 0;
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
    // The last few groups as one run that overlaps the previous one: its
    // first bytes are rewritten with the same values, and it is stored only
    // when all of it is accepted (len is a multiple of 4, so it starts on a
    // group).
    if (done != len && len >= 32) {
        const size_t at = len - 32;
        if (!char_values<Url>(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + at)),
                              values))
            return done;
        store24(out + at / 4 * 3, join_sextets(values));
        done = len;
    }
    return done;
}

// The 2 or 3 characters of a final partial group, the group filled up with
// 'A' (value 0, accepted) and decoded as a run of its own.
template <bool Url>
inline bool partial_group(const unsigned char *in, size_t r, __m256i &bytes) {
    const uint32_t word = uint32_t(in[0]) | uint32_t(in[1]) << 8 |
                          uint32_t(r == 3 ? in[2] : 'A') << 16 | uint32_t('A') << 24;
    __m256i values;
    if (!char_values<Url>(_mm256_set1_epi32(int(word)), values)) return false;
    bytes = join_sextets(values);
    return true;
}

template <bool Url>
bool decode_short(const unsigned char *in, size_t len, uint8_t *out) {
    const size_t whole = len / 4 * 4, r = len % 4;
    if (whole < 32 || whole > 64 || r == 1) return false;
    // Two runs, the second overlapping the first unless whole is 64, and the
    // partial group: all of them checked before anything is stored.
    __m256i v0, v1, tail = _mm256_setzero_si256();
    if (!char_values<Url>(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in)), v0) ||
        !char_values<Url>(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + whole - 32)),
                          v1) ||
        (r != 0 && !partial_group<Url>(in + whole, r, tail)))
        return false;
    store24(out, join_sextets(v0));
    store24(out + (whole - 32) / 4 * 3, join_sextets(v1));
    if (r != 0) {
        const uint32_t b = uint32_t(_mm256_cvtsi256_si32(tail));
        out[whole / 4 * 3] = uint8_t(b);
        if (r == 3) out[whole / 4 * 3 + 1] = uint8_t(b >> 8);
    }
    return true;
}

}  // namespace

bool base64_decode_short_avx2(const unsigned char *in, size_t len, uint8_t *out,
                              int32_t url_safe) {
    return url_safe != 0 ? decode_short<true>(in, len, out) : decode_short<false>(in, len, out);
}

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
    // Texts shorter than one run go to the SSSE3 loop.
    if (len < 32) return base64_decode_ssse3(in, len, out, url_safe);
    return url_safe != 0 ? decode_runs<true>(in, len, out) : decode_runs<false>(in, len, out);
}
