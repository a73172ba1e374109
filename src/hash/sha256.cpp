// SHA-256 (FIPS 180-4): the portable compression, the backend table and
// its self-test, and the hashes. HMAC is built on it in hmac.cpp.
#include "sha256.h"

#include <atomic>
#include <cstring>

#include "sha256_backend.h"
#include "sha256_k.h"
#include "sha256_padding.h"
#include "platform/wipe.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define KELDO_SHA256_SSE2_SCHEDULE 1
#endif

// The build defines KELDO_SHA256_X86 where the x86-64 backends
// (sha256_x86_shani.cpp, sha256_x86_avx2.cpp) are compiled in, with GCC or
// Clang.
#if defined(KELDO_SHA256_X86)
#include "sha256_x86.h"
#endif

// The build defines KELDO_SHA256_ARMV8 where sha256_armv8.cpp is compiled in
// (aarch64 Linux with GCC or Clang).
#if defined(KELDO_SHA256_ARMV8)
#include "sha256_armv8.h"
#endif

namespace {

constexpr uint32_t H0[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

inline void store_be32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

#if defined(KELDO_SHA256_SSE2_SCHEDULE)
// Byte swap within each 32-bit lane with SSE2 only (no pshufb).
inline __m128i bswap32x4(__m128i x) {
    x = _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xB1), 0xB1);
    return _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
}

inline __m128i rotr32x4(__m128i x, int n) {
    return _mm_or_si128(_mm_srli_epi32(x, n), _mm_slli_epi32(x, 32 - n));
}

void load_words(uint32_t W[64], const uint8_t *block) {
    for (int i = 0; i < 16; i += 4) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(W + i), bswap32x4(v));
    }
}

// W[t] and W[t+1] together: they depend on W[t-2] and W[t-1] at the
// nearest, so a pair is independent of itself.
inline void expand_pair(uint32_t W[64], int t) {
    __m128i w2 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(W + t - 2));
    __m128i w7 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(W + t - 7));
    __m128i w15 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(W + t - 15));
    __m128i w16 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(W + t - 16));
    __m128i s1 = _mm_xor_si128(_mm_xor_si128(rotr32x4(w2, 17), rotr32x4(w2, 19)),
                               _mm_srli_epi32(w2, 10));
    __m128i s0 = _mm_xor_si128(_mm_xor_si128(rotr32x4(w15, 7), rotr32x4(w15, 18)),
                               _mm_srli_epi32(w15, 3));
    __m128i w = _mm_add_epi32(_mm_add_epi32(s1, w7), _mm_add_epi32(s0, w16));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(W + t), w);
}
#else
inline uint32_t load_be32(const uint8_t *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
           (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void load_words(uint32_t W[64], const uint8_t *block) {
    for (int i = 0; i < 16; ++i) W[i] = load_be32(block + 4 * i);
}

inline void expand_pair(uint32_t W[64], int t) {
    for (int k = t; k < t + 2; ++k) {
        uint32_t s0 = rotr(W[k - 15], 7) ^ rotr(W[k - 15], 18) ^ (W[k - 15] >> 3);
        uint32_t s1 = rotr(W[k - 2], 17) ^ rotr(W[k - 2], 19) ^ (W[k - 2] >> 10);
        W[k] = s1 + W[k - 7] + s0 + W[k - 16];
    }
}
#endif

// Three independent rotations: a shorter dependency chain than nesting them.
inline uint32_t big_sigma1(uint32_t e) { return rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25); }
inline uint32_t big_sigma0(uint32_t a) { return rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22); }

// One step; Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and this step's a ^ b is
// the next step's b ^ c.
inline void sha_round(uint32_t a, uint32_t b, uint32_t &d, uint32_t e, uint32_t f,
                      uint32_t g, uint32_t &h, uint32_t kw, uint32_t &bc) {
    // Σ1(e) added last: everything else is ready earlier.
    const uint32_t t1 = (h + kw + (g ^ (e & (f ^ g)))) + big_sigma1(e);
    const uint32_t ab = a ^ b;
    const uint32_t t2 = big_sigma0(a) + (b ^ (ab & bc));
    bc = ab;
    d += t1;
    h = t1 + t2;
}

// The reference compression: SSE2 schedule, scalar rounds. Eight rounds per
// pass with the working variables renamed instead of shifted; each of the
// first six passes also expands the eight schedule words needed two passes
// later, so the vector work overlaps the scalar rounds instead of preceding
// them.
void sha256_blocks_portable(uint32_t state[8], const uint8_t *data, size_t nblocks) {
    alignas(16) uint32_t W[64];
    for (; nblocks > 0; --nblocks, data += 64) {
        load_words(W, data);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        uint32_t bc = b ^ c;
        for (int t = 0; t < 64; t += 8) {
            if (t + 16 < 64) {
                expand_pair(W, t + 16);
                expand_pair(W, t + 18);
                expand_pair(W, t + 20);
                expand_pair(W, t + 22);
            }
            sha_round(a, b, d, e, f, g, h, K[t] + W[t], bc);
            sha_round(h, a, c, d, e, f, g, K[t + 1] + W[t + 1], bc);
            sha_round(g, h, b, c, d, e, f, K[t + 2] + W[t + 2], bc);
            sha_round(f, g, a, b, c, d, e, K[t + 3] + W[t + 3], bc);
            sha_round(e, f, h, a, b, c, d, K[t + 4] + W[t + 4], bc);
            sha_round(d, e, g, h, a, b, c, K[t + 5] + W[t + 5], bc);
            sha_round(c, d, f, g, h, a, b, K[t + 6] + W[t + 6], bc);
            sha_round(b, c, e, f, g, h, a, K[t + 7] + W[t + 7], bc);
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
    secure_wipe(W, sizeof W);
}

void write_digest(const uint32_t state[8], uint8_t *out) {
    for (int i = 0; i < 8; ++i) store_be32(out + 4 * i, state[i]);
}

// ---- Backends -------------------------------------------------------------
//
// Best first; adding a backend is one entry (and, where it needs them, its
// processor features). The portable entry is last: it runs everywhere and
// is the reference every other one is tested against.

constexpr sha256_backend kBackends[] = {
#if defined(KELDO_SHA256_X86)
    {"shani", cpu_ssse3 | cpu_sse41 | cpu_sha, sha256_blocks_shani, sha256_pair_shani,
     hmac_chain_shani, hmac_chain2_shani},
    {"avx2", cpu_avx2 | cpu_bmi1 | cpu_bmi2, sha256_blocks_avx2, nullptr, hmac_chain_avx2,
     nullptr},
#endif
#if defined(KELDO_SHA256_ARMV8)
    {"armv8", cpu_armv8_sha2, sha256_blocks_armv8, nullptr, hmac_chain_armv8, nullptr},
#endif
    {"portable", 0, sha256_blocks_portable, nullptr, nullptr, nullptr},
};
constexpr size_t kBackendCount = sizeof kBackends / sizeof kBackends[0];
constexpr const sha256_backend *kReference = &kBackends[kBackendCount - 1];

bool self_test(const sha256_backend &b);

constinit dispatch_point<sha256_backend> s_dispatch{kBackends, kBackendCount, self_test,
                                                    nullptr};

inline const sha256_backend *backend() { return chosen_backend(s_dispatch); }

void pair_blocks(const sha256_backend *b, uint32_t sa[8], const uint8_t *ba,
                 uint32_t sb[8], const uint8_t *bb) {
    if (b->pair != nullptr) {
        b->pair(sa, ba, sb, bb);
    } else {
        b->blocks(sa, ba, 1);
        b->blocks(sb, bb, 1);
    }
}

// The HMAC chain on blocks alone, from the keyed states.
void chain_generic(const sha256_backend *b, const uint32_t inner[8],
                   const uint32_t outer[8], uint8_t u[32], uint8_t t[32], uint32_t n) {
    uint8_t block[64];
    memcpy(block, u, 32);
    sha256_pad(block, 32, 64 + 32);
    uint32_t st[8];
    for (; n != 0; --n) {
        memcpy(st, inner, sizeof st);
        b->blocks(st, block, 1);
        write_digest(st, block);
        memcpy(st, outer, sizeof st);
        b->blocks(st, block, 1);
        write_digest(st, block);
        for (int k = 0; k < 32; ++k) t[k] ^= block[k];
    }
    memcpy(u, block, 32);
    secure_wipe(block, sizeof block);
    secure_wipe(st, sizeof st);
}

void chain(const sha256_backend *b, const uint32_t inner[8], const uint32_t outer[8],
           uint8_t u[32], uint8_t t[32], uint32_t n) {
    if (b->chain != nullptr)
        b->chain(inner, outer, u, t, n);
    else
        chain_generic(b, inner, outer, u, t, n);
}

// Accepts a candidate only when it reproduces published states: the FIPS
// 180-4 one-block ("abc") and two-block examples, from a misaligned address,
// one block per call and both blocks in one call, alone and in pairs, and
// the two-block example again behind two and three other blocks in one call
// (backends that schedule several blocks at once take those paths); its
// HMAC chains must agree with the generic loop run on the reference.
bool self_test(const sha256_backend &be) {
    const sha256_backend *b = &be;
    static constexpr uint32_t abc[8] = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                        0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
    static constexpr uint32_t two[8] = {0x248d6a61, 0xd20638b8, 0xe5c02693, 0x0c3e6039,
                                        0xa33ce459, 0x64ff2167, 0xf6ecedd4, 0x19db06c1};
    static constexpr char msg2[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    uint8_t raw[1 + 7 * 64] = {};
    uint8_t *one = raw + 1;  // deliberately misaligned
    memcpy(one, "abc", 3);
    sha256_pad(one, 3, 3);
    uint8_t *blk = one + 64;
    memcpy(blk, msg2, 56);
    sha256_pad(blk, 56, 56);

    uint32_t s1[8], s2[8];
    memcpy(s1, H0, sizeof s1);
    b->blocks(s1, one, 1);
    memcpy(s2, H0, sizeof s2);
    b->blocks(s2, blk, 2);
    if (memcmp(s1, abc, sizeof s1) != 0 || memcmp(s2, two, sizeof s2) != 0) return false;
    memcpy(s2, H0, sizeof s2);
    b->blocks(s2, blk, 1);
    b->blocks(s2, blk + 64, 1);
    if (memcmp(s2, two, sizeof s2) != 0) return false;
    memcpy(s1, H0, sizeof s1);
    memcpy(s2, H0, sizeof s2);
    pair_blocks(b, s1, one, s2, blk);
    b->blocks(s2, blk + 64, 1);
    if (memcmp(s1, abc, sizeof s1) != 0 || memcmp(s2, two, sizeof s2) != 0) return false;

    // Blocks before the example, hashed by the reference alone, then all of
    // them by the candidate in one call: 3 and 4 blocks, odd and even.
    uint8_t *many = raw + 1 + 3 * 64;
    for (size_t k = 0; k < 2 * 64; ++k) many[k] = uint8_t(7 * k + 1);
    memcpy(many + 2 * 64, blk, 128);
    for (size_t lead = 1; lead <= 2; ++lead) {
        const uint8_t *start = many + (2 - lead) * 64;
        uint32_t want[8], got[8];
        memcpy(want, H0, sizeof want);
        kReference->blocks(want, start, lead + 2);
        memcpy(got, H0, sizeof got);
        b->blocks(got, start, lead + 2);
        if (memcmp(want, got, sizeof got) != 0) return false;
    }

    // HMAC chains keyed with the two published states, three steps each,
    // against the generic loop on the reference compression.
    uint8_t u[2][32], t[2][32], ru[2][32], rt[2][32];
    for (int k = 0; k < 32; ++k) {
        u[0][k] = uint8_t(k);
        u[1][k] = uint8_t(0xa5 ^ k);
        t[0][k] = t[1][k] = uint8_t(3 * k);
    }
    memcpy(ru, u, sizeof ru);
    memcpy(rt, t, sizeof rt);
    chain_generic(kReference, abc, two, ru[0], rt[0], 3);
    chain_generic(kReference, abc, two, ru[1], rt[1], 3);
    uint8_t cu[32], ct[32];
    memcpy(cu, u[0], 32);
    memcpy(ct, t[0], 32);
    chain(b, abc, two, cu, ct, 3);
    if (memcmp(cu, ru[0], 32) != 0 || memcmp(ct, rt[0], 32) != 0) return false;
    if (b->chain2 != nullptr) {
        b->chain2(abc, two, u[0], t[0], u[1], t[1], 3);
        if (memcmp(u, ru, sizeof u) != 0 || memcmp(t, rt, sizeof t) != 0) return false;
    }
    return true;
}

// ---- Hashing --------------------------------------------------------------

// Compresses the last tail_len (< 64) bytes of a message of total_len
// bytes, already at the start of block (128 bytes), with the padding.
void finish_blocks(const sha256_backend *b, uint32_t state[8], uint8_t *block,
                   size_t tail_len, uint64_t total_len) {
    b->blocks(state, block, sha256_pad(block, tail_len, total_len) / 64);
}

}  // namespace

dispatch_point<sha256_backend> &sha256_dispatch() { return s_dispatch; }

void sha256_init(sha256_ctx *ctx) {
    memcpy(ctx->state, H0, sizeof H0);
    ctx->count = 0;
}

void sha256_update(sha256_ctx *ctx, const void *data, uint64_t data_len) {
    if (data_len == 0) return;
    const sha256_backend *b = backend();
    const uint8_t *p = static_cast<const uint8_t *>(data);
    size_t pending = size_t(ctx->count % 64);
    ctx->count += data_len;
    if (pending != 0) {
        size_t room = 64 - pending;
        if (data_len < room) {
            memcpy(ctx->buffer + pending, p, size_t(data_len));
            return;
        }
        memcpy(ctx->buffer + pending, p, room);
        b->blocks(ctx->state, ctx->buffer, 1);
        p += room;
        data_len -= room;
    }
    // Whole blocks straight from the caller's memory, in one call.
    uint64_t whole = data_len / 64;
    if (whole != 0) {
        b->blocks(ctx->state, p, size_t(whole));
        p += whole * 64;
        data_len -= whole * 64;
    }
    if (data_len != 0) memcpy(ctx->buffer, p, size_t(data_len));
}

// Leaves state and count as absorbing the padding through sha256_update
// would.
void sha256_final(sha256_ctx *ctx, uint8_t *out) {
    uint8_t last[128];
    const size_t pending = size_t(ctx->count % 64);
    memcpy(last, ctx->buffer, pending);
    const size_t padded = sha256_pad(last, pending, ctx->count);
    backend()->blocks(ctx->state, last, padded / 64);
    ctx->count += padded - pending;
    memcpy(ctx->buffer, last + padded - 64, 64);
    write_digest(ctx->state, out);
    secure_wipe(last, sizeof last);
}

int32_t sha256_hash(const void *data, uint64_t data_len, uint8_t *out) {
    if (out == nullptr) return -1;
    const sha256_backend *b = backend();
    uint32_t state[8];
    memcpy(state, H0, sizeof H0);
    uint8_t last[128];
    size_t tail = 0;
    if (data != nullptr && data_len != 0) {
        const uint8_t *p = static_cast<const uint8_t *>(data);
        uint64_t whole = data_len / 64;
        if (whole != 0) b->blocks(state, p, size_t(whole));
        tail = size_t(data_len % 64);
        memcpy(last, p + whole * 64, tail);
    } else {
        data_len = 0;
    }
    finish_blocks(b, state, last, tail, data_len);
    write_digest(state, out);
    // The message may be a long HMAC key.
    secure_wipe(last, sizeof last);
    secure_wipe(state, sizeof state);
    return 0;
}


// ---- Block-level entries for HMAC (sha256_backend.h) ----------------------

const sha256_backend *sha256_backend_in_use() { return backend(); }

void sha256_initial_state(uint32_t state[8]) { memcpy(state, H0, sizeof H0); }

void sha256_write_digest(const uint32_t state[8], uint8_t out[32]) {
    write_digest(state, out);
}

void sha256_pair_blocks(const sha256_backend *b, uint32_t state_a[8],
                        const uint8_t *block_a, uint32_t state_b[8],
                        const uint8_t *block_b) {
    pair_blocks(b, state_a, block_a, state_b, block_b);
}

void sha256_finish_blocks(const sha256_backend *b, uint32_t state[8], uint8_t *block,
                          size_t tail_len, uint64_t total_len) {
    finish_blocks(b, state, block, tail_len, total_len);
}

void sha256_chain(const sha256_backend *b, const uint32_t inner[8],
                  const uint32_t outer[8], uint8_t u[32], uint8_t t[32], uint32_t n) {
    chain(b, inner, outer, u, t, n);
}
