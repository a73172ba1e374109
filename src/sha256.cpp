// SHA-256 (FIPS 180-4) and HMAC-SHA256 (RFC 2104, RFC 4231).
#include "sha256.h"

#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define KELDO_SHA256_SSE2_SCHEDULE 1
#endif

namespace {

constexpr uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1,
    0x923f82a4, 0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3,
    0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786,
    0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147,
    0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13,
    0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a,
    0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208,
    0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr uint32_t H0[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t rotr(uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

inline uint32_t load_be32(const uint8_t *p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
           (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

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

#if KELDO_SHA256_SSE2_SCHEDULE
// Byte swap within each 32-bit lane with SSE2 only (no pshufb).
inline __m128i bswap32x4(__m128i x) {
    x = _mm_shufflehi_epi16(_mm_shufflelo_epi16(x, 0xB1), 0xB1);
    return _mm_or_si128(_mm_slli_epi16(x, 8), _mm_srli_epi16(x, 8));
}

inline __m128i rotr32x4(__m128i x, int n) {
    return _mm_or_si128(_mm_srli_epi32(x, n), _mm_slli_epi32(x, 32 - n));
}

// The schedule two words at a time: W[t] and W[t+1] depend on W[t-2] and
// W[t-1] at the nearest, so each pair is independent of itself.
void expand_schedule(uint32_t W[64], const uint8_t *block) {
    for (int i = 0; i < 16; i += 4) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(W + i), bswap32x4(v));
    }
    for (int t = 16; t < 64; t += 2) {
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
}
#else
void expand_schedule(uint32_t W[64], const uint8_t *block) {
    for (int i = 0; i < 16; ++i) W[i] = load_be32(block + 4 * i);
    for (int t = 16; t < 64; ++t) {
        uint32_t s0 = rotr(W[t - 15], 7) ^ rotr(W[t - 15], 18) ^ (W[t - 15] >> 3);
        uint32_t s1 = rotr(W[t - 2], 17) ^ rotr(W[t - 2], 19) ^ (W[t - 2] >> 10);
        W[t] = s1 + W[t - 7] + s0 + W[t - 16];
    }
}
#endif

// Compresses nblocks consecutive 64-byte blocks (any alignment) into state.
void sha256_transform(uint32_t state[8], const uint8_t *data, size_t nblocks) {
    uint32_t W[64];
    for (; nblocks > 0; --nblocks, data += 64) {
        expand_schedule(W, data);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int t = 0; t < 64; ++t) {
            uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) +
                          ((e & f) ^ (~e & g)) + K[t] + W[t];
            uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) +
                          ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
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
}

void write_digest(const uint32_t state[8], uint8_t *out) {
    for (int i = 0; i < 8; ++i) store_be32(out + 4 * i, state[i]);
}

// Pads and compresses the pending bytes of a context whose buffer holds
// count % 64 of them; the same steps as sha256_final without the copies.
void finish(sha256_ctx *ctx, uint8_t *out) {
    static constexpr uint8_t padding[64] = {0x80};
    uint64_t bits = ctx->count * 8;
    size_t pending = size_t(ctx->count % 64);
    size_t pad = pending <= 55 ? 56 - pending : 120 - pending;
    uint8_t length[8];
    store_be64(length, bits);
    sha256_update(ctx, padding, pad);
    sha256_update(ctx, length, 8);
    write_digest(ctx->state, out);
}

}  // namespace

void sha256_init(sha256_ctx *ctx) {
    memcpy(ctx->state, H0, sizeof H0);
    ctx->count = 0;
}

void sha256_update(sha256_ctx *ctx, const void *data, uint64_t data_len) {
    if (data_len == 0) return;
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
        sha256_transform(ctx->state, ctx->buffer, 1);
        p += room;
        data_len -= room;
    }
    // Whole blocks straight from the caller's memory, in one call.
    uint64_t whole = data_len / 64;
    if (whole != 0) {
        sha256_transform(ctx->state, p, size_t(whole));
        p += whole * 64;
        data_len -= whole * 64;
    }
    if (data_len != 0) memcpy(ctx->buffer, p, size_t(data_len));
}

void sha256_final(sha256_ctx *ctx, uint8_t *out) { finish(ctx, out); }

int32_t sha256_hash(const void *data, uint64_t data_len, uint8_t *out) {
    if (out == nullptr) return -1;
    sha256_ctx ctx;
    memcpy(ctx.state, H0, sizeof H0);
    ctx.count = 0;
    if (data != nullptr && data_len != 0) {
        const uint8_t *p = static_cast<const uint8_t *>(data);
        uint64_t whole = data_len / 64;
        if (whole != 0) sha256_transform(ctx.state, p, size_t(whole));
        size_t rest = size_t(data_len % 64);
        memcpy(ctx.buffer, p + whole * 64, rest);
        ctx.count = data_len;
    }
    finish(&ctx, out);
    return 0;
}

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

// A context that has absorbed key_block ^ pad: count 64, buffer empty.
void hmac_start(sha256_ctx *ctx, const uint8_t key_block[64], uint8_t pad) {
    uint8_t pad_block[64];
    for (int i = 0; i < 64; ++i) pad_block[i] = key_block[i] ^ pad;
    memcpy(ctx->state, H0, sizeof H0);
    ctx->count = 64;
    sha256_transform(ctx->state, pad_block, 1);
}

}  // namespace

int32_t hmac_sha256(const void *key, uint64_t key_len, const void *data,
                    uint64_t data_len, uint8_t *out) {
    if (out == nullptr) return -1;
    uint8_t key_block[64];
    hmac_key_block(key_block, key, key_len);

    sha256_ctx ctx;
    uint8_t inner[32];
    hmac_start(&ctx, key_block, 0x36);
    if (data != nullptr && data_len != 0) sha256_update(&ctx, data, data_len);
    sha256_final(&ctx, inner);

    hmac_start(&ctx, key_block, 0x5c);
    sha256_update(&ctx, inner, 32);
    sha256_final(&ctx, out);
    return 0;
}

void hmac_sha256_prepare(hmac_sha256_key *hk, const void *key,
                         uint64_t key_len) {
    uint8_t key_block[64];
    hmac_key_block(key_block, key, key_len);
    sha256_ctx ctx;
    hmac_start(&ctx, key_block, 0x36);
    memcpy(hk->inner, ctx.state, sizeof hk->inner);
    hmac_start(&ctx, key_block, 0x5c);
    memcpy(hk->outer, ctx.state, sizeof hk->outer);
}

void hmac_sha256_prepared(const hmac_sha256_key *hk, const void *data,
                          uint64_t data_len, uint8_t *out) {
    sha256_ctx ctx;
    uint8_t inner[32];
    memcpy(ctx.state, hk->inner, sizeof ctx.state);
    ctx.count = 64;
    if (data != nullptr && data_len != 0) sha256_update(&ctx, data, data_len);
    sha256_final(&ctx, inner);
    memcpy(ctx.state, hk->outer, sizeof ctx.state);
    ctx.count = 64;
    sha256_update(&ctx, inner, 32);
    sha256_final(&ctx, out);
}

void hmac_sha256_prepared_32(const hmac_sha256_key *hk, const uint8_t *in,
                             uint8_t *out) {
    // One padded block holds a 32-byte message after the 64-byte pad block:
    // the message, 0x80, zeros, and the length 96 bytes = 768 bits.
    uint8_t block[64] = {};
    memcpy(block, in, 32);
    block[32] = 0x80;
    block[62] = 0x03;
    uint32_t state[8];
    memcpy(state, hk->inner, sizeof state);
    sha256_transform(state, block, 1);
    write_digest(state, block);
    memcpy(state, hk->outer, sizeof state);
    sha256_transform(state, block, 1);
    write_digest(state, out);
}
