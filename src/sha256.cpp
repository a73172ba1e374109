// SHA-256 (FIPS 180-4) and HMAC-SHA256 (RFC 2104, RFC 4231).
#include "sha256.h"

#include <atomic>
#include <cstring>

#include "sha256_k.h"
#include "wipe.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define KELDO_SHA256_SSE2_SCHEDULE 1
#endif

// The build defines KELDO_SHA256_SHANI where sha256_x86_shani.cpp is
// compiled in (x86-64 with GCC or Clang).
#if defined(KELDO_SHA256_SHANI)
#include <cpuid.h>

#include "sha256_x86.h"
#endif

// The build defines KELDO_SHA256_ARMV8 where sha256_armv8.cpp is compiled in
// (aarch64 Linux with GCC or Clang).
#if defined(KELDO_SHA256_ARMV8)
#include <sys/auxv.h>

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

inline void store_be64(uint8_t *p, uint64_t v) {
    store_be32(p, uint32_t(v >> 32));
    store_be32(p + 4, uint32_t(v));
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
// Each backend compresses whole blocks; the optional entries run HMAC's
// 32-byte chains and pairs of independent blocks faster than the generic
// code built on `blocks` does. The table is in order of preference; adding a
// backend is one entry (and its processor test).

using blocks_fn = void (*)(uint32_t state[8], const uint8_t *data, size_t nblocks);
using pair_fn = void (*)(uint32_t state_a[8], const uint8_t *block_a,
                         uint32_t state_b[8], const uint8_t *block_b);
using iterate_fn = void (*)(const uint32_t inner[8], const uint32_t outer[8],
                            uint8_t u[32], uint8_t t[32], uint32_t iterations);
using iterate2_fn = void (*)(const uint32_t inner[8], const uint32_t outer[8],
                             uint8_t u0[32], uint8_t t0[32], uint8_t u1[32],
                             uint8_t t1[32], uint32_t iterations);

struct sha256_backend {
    const char *name;
    bool (*usable)();      // may this processor run it? null: always
    blocks_fn blocks;
    pair_fn pair;          // null: two calls of blocks
    iterate_fn iterate;    // null: generic loop over blocks
    iterate2_fn iterate2;  // null: iterate twice
};

#if defined(KELDO_SHA256_SHANI)
bool cpu_has_shani() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
    const bool ssse3 = (ecx & (1u << 9)) != 0, sse41 = (ecx & (1u << 19)) != 0;
    if (!ssse3 || !sse41) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & (1u << 29)) != 0;
}
#endif

#if defined(KELDO_SHA256_ARMV8)
// The kernel's view of the processor, as the auxiliary vector reports it.
bool cpu_has_armv8_sha2() {
#if defined(HWCAP_SHA2)
    return (getauxval(AT_HWCAP) & HWCAP_SHA2) != 0;
#else
    return (getauxval(AT_HWCAP) & (1ul << 6)) != 0;
#endif
}
#endif

constexpr sha256_backend kBackends[] = {
#if defined(KELDO_SHA256_SHANI)
    {"shani", cpu_has_shani, sha256_blocks_shani, sha256_pair_shani,
     pbkdf2_sha256_shani_iterate, pbkdf2_sha256_shani_iterate2},
#endif
#if defined(KELDO_SHA256_ARMV8)
    {"armv8", cpu_has_armv8_sha2, sha256_blocks_armv8, nullptr,
     pbkdf2_sha256_armv8_iterate, nullptr},
#endif
    {"portable", nullptr, sha256_blocks_portable, nullptr, nullptr, nullptr},
};
constexpr size_t kBackendCount = sizeof kBackends / sizeof kBackends[0];
constexpr const sha256_backend *kReference = &kBackends[kBackendCount - 1];

// The selected backend; null until first use. Written only with values that
// any detection would produce (or a test's explicit choice), so racing
// detections agree and need no lock.
std::atomic<const sha256_backend *> s_backend{nullptr};

void pair_blocks(const sha256_backend *b, uint32_t sa[8], const uint8_t *ba,
                 uint32_t sb[8], const uint8_t *bb) {
    if (b->pair != nullptr) {
        b->pair(sa, ba, sb, bb);
    } else {
        b->blocks(sa, ba, 1);
        b->blocks(sb, bb, 1);
    }
}

// u = HMAC(u), t ^= u, n times, from the keyed states, on blocks alone.
void iterate_generic(const sha256_backend *b, const uint32_t inner[8],
                     const uint32_t outer[8], uint8_t u[32], uint8_t t[32],
                     uint32_t n) {
    // The one padded block of a 32-byte message behind the 64-byte pad
    // block: the message, 0x80, zeros, the length 768 bits.
    uint8_t block[64] = {};
    block[32] = 0x80;
    block[62] = 0x03;
    memcpy(block, u, 32);
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

void iterate(const sha256_backend *b, const uint32_t inner[8], const uint32_t outer[8],
             uint8_t u[32], uint8_t t[32], uint32_t n) {
    if (b->iterate != nullptr)
        b->iterate(inner, outer, u, t, n);
    else
        iterate_generic(b, inner, outer, u, t, n);
}

// Accepts a candidate only when it reproduces published states: the FIPS
// 180-4 one-block ("abc") and two-block examples, from a misaligned address,
// one block per call and both blocks in one call, alone and in pairs; its
// HMAC chains must agree with the generic loop run on the reference.
bool self_test(const sha256_backend *b) {
    static constexpr uint32_t abc[8] = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                        0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
    static constexpr uint32_t two[8] = {0x248d6a61, 0xd20638b8, 0xe5c02693, 0x0c3e6039,
                                        0xa33ce459, 0x64ff2167, 0xf6ecedd4, 0x19db06c1};
    static constexpr char msg2[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    uint8_t raw[1 + 3 * 64] = {};
    uint8_t *one = raw + 1;  // deliberately misaligned
    memcpy(one, "abc", 3);
    one[3] = 0x80;
    one[63] = 24;
    uint8_t *blk = one + 64;
    memcpy(blk, msg2, 56);
    blk[56] = 0x80;
    blk[64 + 62] = 0x01;  // 448 bits
    blk[64 + 63] = 0xc0;

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
    iterate_generic(kReference, abc, two, ru[0], rt[0], 3);
    iterate_generic(kReference, abc, two, ru[1], rt[1], 3);
    uint8_t cu[32], ct[32];
    memcpy(cu, u[0], 32);
    memcpy(ct, t[0], 32);
    iterate(b, abc, two, cu, ct, 3);
    if (memcmp(cu, ru[0], 32) != 0 || memcmp(ct, rt[0], 32) != 0) return false;
    if (b->iterate2 != nullptr) {
        b->iterate2(abc, two, u[0], t[0], u[1], t[1], 3);
        if (memcmp(u, ru, sizeof u) != 0 || memcmp(t, rt, sizeof t) != 0) return false;
    }
    return true;
}

const sha256_backend *detect() {
    for (const sha256_backend &b : kBackends) {
        if ((b.usable == nullptr || b.usable()) && self_test(&b)) return &b;
    }
    return kReference;
}

inline const sha256_backend *backend() {
    const sha256_backend *b = s_backend.load(std::memory_order_acquire);
    if (b != nullptr) return b;
    const sha256_backend *found = detect();
    // A choice made meanwhile (another detection, or a test's pin) stands.
    if (s_backend.compare_exchange_strong(b, found, std::memory_order_acq_rel))
        return found;
    return b;
}

// ---- Hashing --------------------------------------------------------------

// Pads the last tail_len (< 64) bytes of a message of total_len bytes in
// block (at least 128 bytes, tail already at its start), compresses the one
// or two final blocks and returns how many there were.
size_t pad_final(const sha256_backend *b, uint32_t state[8], uint8_t *block,
                 size_t tail_len, uint64_t total_len) {
    const size_t end = tail_len <= 55 ? 64 : 128;
    block[tail_len] = 0x80;
    memset(block + tail_len + 1, 0, end - 8 - tail_len - 1);
    store_be64(block + end - 8, total_len * 8);
    b->blocks(state, block, end / 64);
    return end / 64;
}

}  // namespace

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

// Pads in the context's own buffer, leaving it, count and state as absorbing
// the padding and length through sha256_update would.
void sha256_final(sha256_ctx *ctx, uint8_t *out) {
    const sha256_backend *b = backend();
    const uint64_t bits = ctx->count * 8;
    const size_t pending = size_t(ctx->count % 64);
    ctx->buffer[pending] = 0x80;
    if (pending > 55) {
        memset(ctx->buffer + pending + 1, 0, 63 - pending);
        b->blocks(ctx->state, ctx->buffer, 1);
        memset(ctx->buffer, 0, 56);
        ctx->count += 64 - pending + 56;
    } else {
        memset(ctx->buffer + pending + 1, 0, 55 - pending);
        ctx->count += 56 - pending;
    }
    store_be64(ctx->buffer + 56, bits);
    ctx->count += 8;
    b->blocks(ctx->state, ctx->buffer, 1);
    write_digest(ctx->state, out);
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
    pad_final(b, state, last, tail, data_len);
    write_digest(state, out);
    // The message may be a long HMAC key.
    secure_wipe(last, sizeof last);
    secure_wipe(state, sizeof state);
    return 0;
}

// ---- HMAC -----------------------------------------------------------------

namespace {

// The 64-byte key block of HMAC: the key, or its digest when longer than a
// block, zero-padded. A null key is the empty key unless key_len > 64,
// where the digest of the empty message stands for it.
void hmac_key_block(uint8_t block[64], const void *key, uint64_t key_len) {
    memset(block, 0, 64);
    if (key_len > 64) {
        sha256_hash(key, key_len, block);
    } else if (key != nullptr && key_len != 0) {
        memcpy(block, key, size_t(key_len));
    }
}

// The states after compressing key_block ^ ipad and key_block ^ opad; the
// two compressions are independent and run as a pair.
void hmac_pads(const sha256_backend *b, const uint8_t key_block[64],
               uint32_t inner[8], uint32_t outer[8]) {
    uint8_t ipad[64], opad[64];
    for (int i = 0; i < 64; ++i) {
        ipad[i] = uint8_t(key_block[i] ^ 0x36);
        opad[i] = uint8_t(key_block[i] ^ 0x5c);
    }
    memcpy(inner, H0, sizeof H0);
    memcpy(outer, H0, sizeof H0);
    pair_blocks(b, inner, ipad, outer, opad);
    secure_wipe(ipad, sizeof ipad);
    secure_wipe(opad, sizeof opad);
}

// The rest of HMAC from the keyed states: the message (null or empty is
// the empty message) behind the 64 pad bytes, then the outer hash of the
// inner digest, which is one block. Both states are consumed.
void hmac_finish(const sha256_backend *b, uint32_t inner[8], uint32_t outer[8],
                 const void *data, uint64_t data_len, uint8_t *out) {
    if (data == nullptr) data_len = 0;
    const uint8_t *p = static_cast<const uint8_t *>(data);
    const uint64_t whole = data_len / 64;
    if (whole != 0) b->blocks(inner, p, size_t(whole));
    uint8_t last[128];
    const size_t tail = size_t(data_len % 64);
    if (tail != 0) memcpy(last, p + whole * 64, tail);
    pad_final(b, inner, last, tail, data_len + 64);

    write_digest(inner, last);
    last[32] = 0x80;
    memset(last + 33, 0, 64 - 33);
    last[62] = 0x03;  // 64 + 32 bytes = 768 bits
    b->blocks(outer, last, 1);
    write_digest(outer, out);
    secure_wipe(last, sizeof last);
    secure_wipe(inner, 8 * sizeof inner[0]);
    secure_wipe(outer, 8 * sizeof outer[0]);
}

}  // namespace

int32_t hmac_sha256(const void *key, uint64_t key_len, const void *data,
                    uint64_t data_len, uint8_t *out) {
    if (out == nullptr) return -1;
    const sha256_backend *b = backend();
    uint8_t key_block[64];
    hmac_key_block(key_block, key, key_len);
    uint32_t inner[8], outer[8];
    hmac_pads(b, key_block, inner, outer);
    secure_wipe(key_block, sizeof key_block);
    hmac_finish(b, inner, outer, data, data_len, out);
    return 0;
}

void hmac_sha256_prepare(hmac_sha256_key *hk, const void *key,
                         uint64_t key_len) {
    uint8_t key_block[64];
    hmac_key_block(key_block, key, key_len);
    hmac_pads(backend(), key_block, hk->inner, hk->outer);
    secure_wipe(key_block, sizeof key_block);
}

void hmac_sha256_prepared(const hmac_sha256_key *hk, const void *data,
                          uint64_t data_len, uint8_t *out) {
    uint32_t inner[8], outer[8];
    memcpy(inner, hk->inner, sizeof inner);
    memcpy(outer, hk->outer, sizeof outer);
    hmac_finish(backend(), inner, outer, data, data_len, out);
}

void hmac_sha256_prepared_32(const hmac_sha256_key *hk, const uint8_t *in,
                             uint8_t *out) {
    uint8_t u[32], t[32] = {};
    memcpy(u, in, 32);
    iterate(backend(), hk->inner, hk->outer, u, t, 1);
    memcpy(out, u, 32);
    secure_wipe(u, sizeof u);
    secure_wipe(t, sizeof t);
}

void hmac_sha256_iterate(const hmac_sha256_key *hk, uint8_t u[32], uint8_t t[32],
                         uint32_t n) {
    iterate(backend(), hk->inner, hk->outer, u, t, n);
}

void hmac_sha256_iterate2(const hmac_sha256_key *hk, uint8_t u0[32], uint8_t t0[32],
                          uint8_t u1[32], uint8_t t1[32], uint32_t n) {
    const sha256_backend *b = backend();
    if (b->iterate2 != nullptr) {
        b->iterate2(hk->inner, hk->outer, u0, t0, u1, t1, n);
    } else {
        iterate(b, hk->inner, hk->outer, u0, t0, n);
        iterate(b, hk->inner, hk->outer, u1, t1, n);
    }
}

// ---- Backend choice for tests and benchmarks --------------------------------

const char *sha256_backend_name() { return backend()->name; }

const char *sha256_backend_at(size_t i) {
    return i < kBackendCount ? kBackends[i].name : nullptr;
}

int32_t sha256_backend_select(const char *name) {
    if (name == nullptr) return -1;
    for (const sha256_backend &b : kBackends) {
        if (strcmp(b.name, name) != 0) continue;
        if ((b.usable != nullptr && !b.usable()) || !self_test(&b)) return -1;
        s_backend.store(&b, std::memory_order_release);
        return 0;
    }
    return -1;
}

// ---- Streaming HMAC -----------------------------------------------------------

void hmac_sha256_init(hmac_sha256_ctx *ctx, const void *key, uint64_t key_len) {
    hmac_sha256_key hk;
    hmac_sha256_prepare(&hk, key, key_len);
    memcpy(ctx->inner.state, hk.inner, sizeof hk.inner);
    ctx->inner.count = 64;  // the ipad block is behind it
    memcpy(ctx->outer, hk.outer, sizeof hk.outer);
    secure_wipe(&hk, sizeof hk);
}

void hmac_sha256_update(hmac_sha256_ctx *ctx, const void *data, uint64_t len) {
    sha256_update(&ctx->inner, data, len);
}

void hmac_sha256_final(hmac_sha256_ctx *ctx, uint8_t out[32]) {
    uint8_t inner_digest[32];
    sha256_final(&ctx->inner, inner_digest);
    sha256_ctx outer;
    memcpy(outer.state, ctx->outer, sizeof outer.state);
    outer.count = 64;  // the opad block
    sha256_update(&outer, inner_digest, sizeof inner_digest);
    sha256_final(&outer, out);
    secure_wipe(inner_digest, sizeof inner_digest);
    secure_wipe(&outer, sizeof outer);
    secure_wipe(ctx, sizeof *ctx);
}
