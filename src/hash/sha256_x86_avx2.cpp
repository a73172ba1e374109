// SHA-256 compression for x86-64 processors without the SHA extensions:
// the message schedule in AVX2 registers, the rounds in scalar registers
// with BMI2's rorx (rotations that leave their source intact) and BMI1's
// andn. This file alone is compiled with -mavx2 -mbmi -mbmi2; nothing here
// runs unless sha256.cpp's dispatch has found AVX2, BMI1 and BMI2 (and the
// operating system's support for the registers) and the self-test passed.
//
// Whole blocks go two at a time: one 256-bit register holds four schedule
// words of both blocks (one per 128-bit lane), and the schedule of both is
// computed during the first block's rounds, so the second block's rounds
// find their words ready. HMAC chains are latency bound: there the schedule
// (128-bit) runs beside the rounds of one block, the first eight message
// words (the previous digest) go straight from the state registers into the
// rounds, and words 8 to 15, fixed padding, come with their round constants
// added at compile time.
#include <immintrin.h>

#include <cstring>

#include "sha256_k.h"
#include "sha256_padding.h"
#include "sha256_x86.h"
#include "platform/wipe.h"

#if defined(__GNUC__)
#define KELDO_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define KELDO_ALWAYS_INLINE inline
#endif

// A digest's block has its eight passes unrolled: the schedule indices
// and its special first two passes become constants. (Unrolling the bulk
// loops measured slower: the code outgrows the decoded-instruction cache.)
#if defined(__clang__)
#define KELDO_UNROLL_PASSES _Pragma("clang loop unroll(full)")
#elif defined(__GNUC__)
#define KELDO_UNROLL_PASSES _Pragma("GCC unroll 8")
#else
#define KELDO_UNROLL_PASSES
#endif

namespace {

// ---- Rounds ----------------------------------------------------------------

// With BMI2 enabled the compilers emit rorx for this.
KELDO_ALWAYS_INLINE uint32_t ror(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

// One step with kw = K[t] + W[t]. Ch(e, f, g) is (e & f) + (~e & g): the two
// share no bit, so their sum is their XOR and joins the additions, which
// then need not wait for Σ1(e), the longest path from e. Maj(a, b, c) is
// b ^ ((a ^ b) & (b ^ c)), and this step's a ^ b is the next step's b ^ c.
KELDO_ALWAYS_INLINE void rnd(uint32_t a, uint32_t b, uint32_t &d, uint32_t e, uint32_t f,
                             uint32_t g, uint32_t &h, uint32_t kw, uint32_t &bc) {
    const uint32_t early = h + kw + _andn_u32(e, g) + (e & f);
    const uint32_t s1 = ror(e, 6) ^ ror(e, 11) ^ ror(e, 25);
    const uint32_t ab = a ^ b;
    const uint32_t t2 = (ror(a, 2) ^ ror(a, 13) ^ ror(a, 22)) + (b ^ (ab & bc));
    bc = ab;
    d = (d + early) + s1;
    h = (early + t2) + s1;
}

struct work {
    uint32_t a, b, c, d, e, f, g, h, bc;
};

KELDO_ALWAYS_INLINE work start(const uint32_t s[8]) {
    return {s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[1] ^ s[2]};
}

// Eight steps, kw(i) giving K + W of the i-th; the variables are renamed
// instead of shifted, so after eight they are back in place.
template <class KW>
KELDO_ALWAYS_INLINE void eight(work &v, KW kw) {
    rnd(v.a, v.b, v.d, v.e, v.f, v.g, v.h, kw(0), v.bc);
    rnd(v.h, v.a, v.c, v.d, v.e, v.f, v.g, kw(1), v.bc);
    rnd(v.g, v.h, v.b, v.c, v.d, v.e, v.f, kw(2), v.bc);
    rnd(v.f, v.g, v.a, v.b, v.c, v.d, v.e, kw(3), v.bc);
    rnd(v.e, v.f, v.h, v.a, v.b, v.c, v.d, kw(4), v.bc);
    rnd(v.d, v.e, v.g, v.h, v.a, v.b, v.c, kw(5), v.bc);
    rnd(v.c, v.d, v.f, v.g, v.h, v.a, v.b, kw(6), v.bc);
    rnd(v.b, v.c, v.e, v.f, v.g, v.h, v.a, kw(7), v.bc);
}

// ---- Schedule ----------------------------------------------------------------
// The same code on 128-bit (one block) and 256-bit (two blocks, one per
// lane) registers.

KELDO_ALWAYS_INLINE __m128i add(__m128i x, __m128i y) { return _mm_add_epi32(x, y); }
KELDO_ALWAYS_INLINE __m256i add(__m256i x, __m256i y) { return _mm256_add_epi32(x, y); }
KELDO_ALWAYS_INLINE __m128i xor3(__m128i x, __m128i y, __m128i z) {
    return _mm_xor_si128(_mm_xor_si128(x, y), z);
}
KELDO_ALWAYS_INLINE __m256i xor3(__m256i x, __m256i y, __m256i z) {
    return _mm256_xor_si256(_mm256_xor_si256(x, y), z);
}
KELDO_ALWAYS_INLINE __m128i shr(__m128i x, int n) { return _mm_srli_epi32(x, n); }
KELDO_ALWAYS_INLINE __m256i shr(__m256i x, int n) { return _mm256_srli_epi32(x, n); }
KELDO_ALWAYS_INLINE __m128i shl(__m128i x, int n) { return _mm_slli_epi32(x, n); }
KELDO_ALWAYS_INLINE __m256i shl(__m256i x, int n) { return _mm256_slli_epi32(x, n); }
// The words one lane on: {lo1, lo2, lo3, hi0}.
KELDO_ALWAYS_INLINE __m128i next1(__m128i hi, __m128i lo) { return _mm_alignr_epi8(hi, lo, 4); }
KELDO_ALWAYS_INLINE __m256i next1(__m256i hi, __m256i lo) { return _mm256_alignr_epi8(hi, lo, 4); }
template <int Imm>
KELDO_ALWAYS_INLINE __m128i shuffle(__m128i x) { return _mm_shuffle_epi32(x, Imm); }
template <int Imm>
KELDO_ALWAYS_INLINE __m256i shuffle(__m256i x) { return _mm256_shuffle_epi32(x, Imm); }
// Words 0 and 1 from lo, 2 and 3 from hi.
KELDO_ALWAYS_INLINE __m128i halves(__m128i lo, __m128i hi) { return _mm_blend_epi32(lo, hi, 0xC); }
KELDO_ALWAYS_INLINE __m256i halves(__m256i lo, __m256i hi) { return _mm256_blend_epi32(lo, hi, 0xCC); }

template <class V>
KELDO_ALWAYS_INLINE V sigma0(V x) {
    return xor3(shr(x, 7) ^ shl(x, 25), shr(x, 18) ^ shl(x, 14), shr(x, 3));
}
template <class V>
KELDO_ALWAYS_INLINE V sigma1(V x) {
    return xor3(shr(x, 17) ^ shl(x, 15), shr(x, 19) ^ shl(x, 13), shr(x, 10));
}

// W[t..t+3] from x0..x3 = W[t-16..t-1]. W[t+2] and W[t+3] need W[t] and
// W[t+1]: σ1 runs twice, on the two halves.
template <class V>
KELDO_ALWAYS_INLINE V schedule(V x0, V x1, V x2, V x3) {
    const V partial = add(add(x0, next1(x3, x2)), sigma0(next1(x1, x0)));
    const V lo = add(partial, sigma1(shuffle<0xEE>(x3)));   // words 0, 1 right
    const V hi = add(partial, sigma1(shuffle<0x44>(lo)));   // words 2, 3 right
    return halves(lo, hi);
}

KELDO_ALWAYS_INLINE __m128i kq(int i) {
    return _mm_load_si128(reinterpret_cast<const __m128i *>(K + 4 * i));
}

KELDO_ALWAYS_INLINE __m128i byteswap(__m128i x) {
    return _mm_shuffle_epi8(x, _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12));
}
KELDO_ALWAYS_INLINE __m256i byteswap(__m256i x) {
    const __m128i m = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    return _mm256_shuffle_epi8(x, _mm256_broadcastsi128_si256(m));
}

KELDO_ALWAYS_INLINE void finish(uint32_t s[8], const work &v) {
    s[0] += v.a;
    s[1] += v.b;
    s[2] += v.c;
    s[3] += v.d;
    s[4] += v.e;
    s[5] += v.f;
    s[6] += v.g;
    s[7] += v.h;
}

// ---- One block ----------------------------------------------------------------

// Compresses the block whose words are x0..x3 into s; wk is scratch. Each
// pass of eight rounds also schedules the words of the pass two ahead, so
// the vector work runs beside the scalar rounds instead of before them.
KELDO_ALWAYS_INLINE void compress1(uint32_t s[8], __m128i x0, __m128i x1, __m128i x2, __m128i x3,
                                   uint32_t wk[64]) {
    auto store = [&](int q, __m128i x) {
        _mm_store_si128(reinterpret_cast<__m128i *>(wk + 4 * q), add(x, kq(q)));
    };
    store(0, x0);
    store(1, x1);
    store(2, x2);
    store(3, x3);
    work v = start(s);
    for (int t = 0; t < 64; t += 8) {
        if (t < 48) {
            const __m128i y0 = schedule(x0, x1, x2, x3);
            const __m128i y1 = schedule(x1, x2, x3, y0);
            store(t / 4 + 4, y0);
            store(t / 4 + 5, y1);
            x0 = x2;
            x1 = x3;
            x2 = y0;
            x3 = y1;
        }
        eight(v, [&](int i) { return wk[t + i]; });
    }
    finish(s, v);
}

// K + W for words 8 to 15 of a digest's block, fixed at compile time.
struct kw8 {
    uint32_t w[8];
};
constexpr kw8 digest_padding_kw() {
    kw8 r{};
    for (int i = 0; i < 8; ++i) r.w[i] = K[8 + i] + kDigestBlockPadding.w[i];
    return r;
}
constexpr kw8 kPaddingKW = digest_padding_kw();

// Compresses the block {m, padding} of a 32-byte message m (state words of
// the previous compression) into s, which is also where the result goes.
KELDO_ALWAYS_INLINE void compress_digest(uint32_t s[8], const uint32_t m[8], uint32_t wk[64]) {
    const __m128i p0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(kDigestBlockPadding.w));
    const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(kDigestBlockPadding.w + 4));
    __m128i x0 = _mm_setr_epi32(int(m[0]), int(m[1]), int(m[2]), int(m[3]));
    __m128i x1 = _mm_setr_epi32(int(m[4]), int(m[5]), int(m[6]), int(m[7]));
    __m128i x2 = p0, x3 = p1;
    work v = start(s);
    KELDO_UNROLL_PASSES
    for (int t = 0; t < 64; t += 8) {
        if (t < 48) {
            const __m128i y0 = schedule(x0, x1, x2, x3);
            const __m128i y1 = schedule(x1, x2, x3, y0);
            _mm_store_si128(reinterpret_cast<__m128i *>(wk + t + 16), add(y0, kq(t / 4 + 4)));
            _mm_store_si128(reinterpret_cast<__m128i *>(wk + t + 20), add(y1, kq(t / 4 + 5)));
            x0 = x2;
            x1 = x3;
            x2 = y0;
            x3 = y1;
        }
        if (t == 0)
            eight(v, [&](int i) { return K[i] + m[i]; });
        else if (t == 8)
            eight(v, [&](int i) { return kPaddingKW.w[i]; });
        else
            eight(v, [&](int i) { return wk[t + i]; });
    }
    finish(s, v);
}

// ---- Two blocks -------------------------------------------------------------

KELDO_ALWAYS_INLINE __m256i load2(const uint8_t *p, int offset) {
    const __m256i both = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p + offset))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 64 + offset)), 1);
    return byteswap(both);
}

// The blocks at p and p + 64. Row q of wk holds K + W[4q..4q+3] of the
// first block, then of the second.
void compress2(uint32_t s[8], const uint8_t *p, uint32_t wk[16 * 8]) {
    __m256i x0 = load2(p, 0), x1 = load2(p, 16), x2 = load2(p, 32), x3 = load2(p, 48);
    auto store = [&](int q, __m256i x) {
        _mm256_store_si256(reinterpret_cast<__m256i *>(wk + 8 * q),
                           add(x, _mm256_broadcastsi128_si256(kq(q))));
    };
    store(0, x0);
    store(1, x1);
    store(2, x2);
    store(3, x3);
    work v = start(s);
    for (int t = 0; t < 64; t += 8) {
        if (t < 48) {
            const __m256i y0 = schedule(x0, x1, x2, x3);
            const __m256i y1 = schedule(x1, x2, x3, y0);
            store(t / 4 + 4, y0);
            store(t / 4 + 5, y1);
            x0 = x2;
            x1 = x3;
            x2 = y0;
            x3 = y1;
        }
        eight(v, [&](int i) { return wk[2 * t + (i & 4) * 2 + (i & 3)]; });
    }
    finish(s, v);
    v = start(s);
    for (int t = 0; t < 64; t += 8)
        eight(v, [&](int i) { return wk[2 * t + (i & 4) * 2 + 4 + (i & 3)]; });
    finish(s, v);
}

KELDO_ALWAYS_INLINE __m128i load1(const uint8_t *p) {
    return byteswap(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

}  // namespace

void sha256_blocks_avx2(uint32_t state[8], const uint8_t *data, size_t nblocks) {
    alignas(32) uint32_t wk[16 * 8];
    for (; nblocks >= 2; nblocks -= 2, data += 128) compress2(state, data, wk);
    if (nblocks != 0)
        compress1(state, load1(data), load1(data + 16), load1(data + 32), load1(data + 48), wk);
    secure_wipe(wk, sizeof wk);
}

// The digest's bytes read back as big-endian words are its state words, so
// the chain stays in words; XOR commutes with the byte order.
void hmac_chain_avx2(const uint32_t inner[8], const uint32_t outer[8], uint8_t u[32],
                     uint8_t t[32], uint32_t n) {
    alignas(16) uint32_t wk[64];
    uint32_t uw[8], tw[8], s[8];
    for (int i = 0; i < 8; ++i) {
        uw[i] = uint32_t(u[4 * i]) << 24 | uint32_t(u[4 * i + 1]) << 16 |
                uint32_t(u[4 * i + 2]) << 8 | u[4 * i + 3];
        tw[i] = uint32_t(t[4 * i]) << 24 | uint32_t(t[4 * i + 1]) << 16 |
                uint32_t(t[4 * i + 2]) << 8 | t[4 * i + 3];
    }
    for (; n != 0; --n) {
        memcpy(s, inner, sizeof s);
        compress_digest(s, uw, wk);
        memcpy(uw, outer, sizeof uw);
        compress_digest(uw, s, wk);
        for (int i = 0; i < 8; ++i) tw[i] ^= uw[i];
    }
    for (int i = 0; i < 8; ++i) {
        for (int k = 0; k < 4; ++k) {
            u[4 * i + k] = uint8_t(uw[i] >> (24 - 8 * k));
            t[4 * i + k] = uint8_t(tw[i] >> (24 - 8 * k));
        }
    }
    secure_wipe(wk, sizeof wk);
    secure_wipe(uw, sizeof uw);
    secure_wipe(tw, sizeof tw);
    secure_wipe(s, sizeof s);
}
