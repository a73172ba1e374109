// SHA-256 compression with the x86 SHA extensions (SHA-NI). This file alone
// is compiled with -msha -msse4.1 -mssse3; nothing here runs unless
// sha256.cpp has found the extensions with CPUID and passed its self-test.
//
// The state lives in two registers in the order the instructions want:
// ABEF = {F, E, B, A} and CDGH = {H, G, D, C} (lane 0 first). Message words
// are kept in host order, four to a register, lane 0 first.
#include "sha256_x86.h"
#include "sha256_k.h"
#include "sha256_padding.h"

#include <immintrin.h>

#if defined(__GNUC__)
#define KELDO_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define KELDO_ALWAYS_INLINE inline
#endif

namespace {

KELDO_ALWAYS_INLINE __m128i kq(int i) {
    return _mm_load_si128(reinterpret_cast<const __m128i *>(K + 4 * i));
}

// Big-endian words from memory, any alignment.
KELDO_ALWAYS_INLINE __m128i load_be(const uint8_t *p) {
    const __m128i swap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)), swap);
}

KELDO_ALWAYS_INLINE void store_be(uint8_t *p, __m128i v) {
    const __m128i swap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(p), _mm_shuffle_epi8(v, swap));
}

struct state_regs {
    __m128i abef, cdgh;
};

KELDO_ALWAYS_INLINE state_regs load_state(const uint32_t s[8]) {
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    return {_mm_alignr_epi8(cdab, efgh, 8), _mm_blend_epi16(efgh, cdab, 0xF0)};
}

// The state as two registers of words in host order: {A, B, C, D} and
// {E, F, G, H}. These are also the message words of a block that starts
// with this state's digest.
KELDO_ALWAYS_INLINE void state_words(state_regs s, __m128i &lo, __m128i &hi) {
    __m128i feba = _mm_shuffle_epi32(s.abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(s.cdgh, 0xB1);
    lo = _mm_blend_epi16(feba, dchg, 0xF0);
    hi = _mm_alignr_epi8(dchg, feba, 8);
}

KELDO_ALWAYS_INLINE void store_state(uint32_t s[8], state_regs st) {
    __m128i lo, hi;
    state_words(st, lo, hi);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(s), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(s + 4), hi);
}

// Four rounds with message-plus-constant words wk.
KELDO_ALWAYS_INLINE void quad(state_regs &s, __m128i wk) {
    s.cdgh = _mm_sha256rnds2_epu32(s.cdgh, s.abef, wk);
    // Two rounds on, the old ABEF is the new CDGH.
    s.abef = _mm_sha256rnds2_epu32(s.abef, s.cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

// W[t..t+3] from the sixteen words before them; m0 is overwritten.
KELDO_ALWAYS_INLINE void schedule(__m128i &m0, __m128i m1, __m128i m2, __m128i m3) {
    m0 = _mm_sha256msg2_epu32(
        _mm_add_epi32(_mm_sha256msg1_epu32(m0, m1), _mm_alignr_epi8(m3, m2, 4)), m3);
}

KELDO_ALWAYS_INLINE void step(state_regs &s, __m128i &m0, __m128i m1, __m128i m2,
                              __m128i m3, int i) {
    schedule(m0, m1, m2, m3);
    quad(s, _mm_add_epi32(m0, kq(i)));
}

// One compression of the block m0..m3 into s (feed-forward included).
KELDO_ALWAYS_INLINE void compress(state_regs &s, __m128i m0, __m128i m1, __m128i m2,
                                  __m128i m3) {
    const state_regs start = s;
    quad(s, _mm_add_epi32(m0, kq(0)));
    quad(s, _mm_add_epi32(m1, kq(1)));
    quad(s, _mm_add_epi32(m2, kq(2)));
    quad(s, _mm_add_epi32(m3, kq(3)));
    for (int i = 4; i < 16; i += 4) {
        step(s, m0, m1, m2, m3, i);
        step(s, m1, m2, m3, m0, i + 1);
        step(s, m2, m3, m0, m1, i + 2);
        step(s, m3, m0, m1, m2, i + 3);
    }
    s.abef = _mm_add_epi32(s.abef, start.abef);
    s.cdgh = _mm_add_epi32(s.cdgh, start.cdgh);
}

// Two independent compressions, their rounds interleaved.
KELDO_ALWAYS_INLINE void step2(state_regs &s, __m128i &m0, __m128i m1, __m128i m2,
                               __m128i m3, state_regs &r, __m128i &n0, __m128i n1,
                               __m128i n2, __m128i n3, int i) {
    schedule(m0, m1, m2, m3);
    schedule(n0, n1, n2, n3);
    const __m128i k = kq(i);
    quad(s, _mm_add_epi32(m0, k));
    quad(r, _mm_add_epi32(n0, k));
}

KELDO_ALWAYS_INLINE void compress2(state_regs &s, __m128i m0, __m128i m1, __m128i m2,
                                   __m128i m3, state_regs &r, __m128i n0, __m128i n1,
                                   __m128i n2, __m128i n3) {
    const state_regs s_start = s, r_start = r;
    quad(s, _mm_add_epi32(m0, kq(0)));
    quad(r, _mm_add_epi32(n0, kq(0)));
    quad(s, _mm_add_epi32(m1, kq(1)));
    quad(r, _mm_add_epi32(n1, kq(1)));
    quad(s, _mm_add_epi32(m2, kq(2)));
    quad(r, _mm_add_epi32(n2, kq(2)));
    quad(s, _mm_add_epi32(m3, kq(3)));
    quad(r, _mm_add_epi32(n3, kq(3)));
    for (int i = 4; i < 16; i += 4) {
        step2(s, m0, m1, m2, m3, r, n0, n1, n2, n3, i);
        step2(s, m1, m2, m3, m0, r, n1, n2, n3, n0, i + 1);
        step2(s, m2, m3, m0, m1, r, n2, n3, n0, n1, i + 2);
        step2(s, m3, m0, m1, m2, r, n3, n0, n1, n2, i + 3);
    }
    s.abef = _mm_add_epi32(s.abef, s_start.abef);
    s.cdgh = _mm_add_epi32(s.cdgh, s_start.cdgh);
    r.abef = _mm_add_epi32(r.abef, r_start.abef);
    r.cdgh = _mm_add_epi32(r.cdgh, r_start.cdgh);
}

// Words 8 to 15 of the last block of HMAC's 32-byte messages.
KELDO_ALWAYS_INLINE __m128i pad32_lo() {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(kDigestBlockPadding.w));
}
KELDO_ALWAYS_INLINE __m128i pad32_hi() {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(kDigestBlockPadding.w + 4));
}

}  // namespace

void sha256_blocks_shani(uint32_t state[8], const uint8_t *data, size_t nblocks) {
    state_regs s = load_state(state);
    for (; nblocks != 0; --nblocks, data += 64)
        compress(s, load_be(data), load_be(data + 16), load_be(data + 32), load_be(data + 48));
    store_state(state, s);
}

void sha256_pair_shani(uint32_t state_a[8], const uint8_t *block_a,
                       uint32_t state_b[8], const uint8_t *block_b) {
    state_regs a = load_state(state_a), b = load_state(state_b);
    compress2(a, load_be(block_a), load_be(block_a + 16), load_be(block_a + 32),
              load_be(block_a + 48), b, load_be(block_b), load_be(block_b + 16),
              load_be(block_b + 32), load_be(block_b + 48));
    store_state(state_a, a);
    store_state(state_b, b);
}

void hmac_chain_shani(const uint32_t inner[8], const uint32_t outer[8], uint8_t u[32],
                      uint8_t t[32], uint32_t iterations) {
    const state_regs in = load_state(inner), out = load_state(outer);
    const __m128i p0 = pad32_lo(), p1 = pad32_hi();
    // A digest's bytes read back as big-endian words are its state words, so
    // the loop never leaves the word domain; XOR commutes with the byte swap.
    __m128i u0 = load_be(u), u1 = load_be(u + 16);
    __m128i t0 = load_be(t), t1 = load_be(t + 16);
    for (; iterations != 0; --iterations) {
        state_regs s = in;
        compress(s, u0, u1, p0, p1);
        __m128i v0, v1;
        state_words(s, v0, v1);
        s = out;
        compress(s, v0, v1, p0, p1);
        state_words(s, u0, u1);
        t0 = _mm_xor_si128(t0, u0);
        t1 = _mm_xor_si128(t1, u1);
    }
    store_be(u, u0);
    store_be(u + 16, u1);
    store_be(t, t0);
    store_be(t + 16, t1);
}

void hmac_chain2_shani(const uint32_t inner[8], const uint32_t outer[8], uint8_t u0[32],
                       uint8_t t0[32], uint8_t u1[32], uint8_t t1[32], uint32_t iterations) {
    const state_regs in = load_state(inner), out = load_state(outer);
    const __m128i p0 = pad32_lo(), p1 = pad32_hi();
    __m128i a0 = load_be(u0), a1 = load_be(u0 + 16);
    __m128i b0 = load_be(u1), b1 = load_be(u1 + 16);
    __m128i ta0 = load_be(t0), ta1 = load_be(t0 + 16);
    __m128i tb0 = load_be(t1), tb1 = load_be(t1 + 16);
    for (; iterations != 0; --iterations) {
        state_regs s = in, r = in;
        compress2(s, a0, a1, p0, p1, r, b0, b1, p0, p1);
        __m128i v0, v1, w0, w1;
        state_words(s, v0, v1);
        state_words(r, w0, w1);
        s = out;
        r = out;
        compress2(s, v0, v1, p0, p1, r, w0, w1, p0, p1);
        state_words(s, a0, a1);
        state_words(r, b0, b1);
        ta0 = _mm_xor_si128(ta0, a0);
        ta1 = _mm_xor_si128(ta1, a1);
        tb0 = _mm_xor_si128(tb0, b0);
        tb1 = _mm_xor_si128(tb1, b1);
    }
    store_be(u0, a0);
    store_be(u0 + 16, a1);
    store_be(u1, b0);
    store_be(u1 + 16, b1);
    store_be(t0, ta0);
    store_be(t0 + 16, ta1);
    store_be(t1, tb0);
    store_be(t1 + 16, tb1);
}
