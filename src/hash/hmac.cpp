// HMAC-SHA256 (RFC 2104, RFC 4231) on the SHA-256 block functions: one-shot,
// with a prepared key (PBKDF2 keys it once per call), the keyed chains of
// PBKDF2's inner loop, and streaming.
#include "hmac.h"

#include <cstddef>
#include <cstring>

#include "hmac_chain.h"
#include "sha256.h"
#include "sha256_backend.h"
#include "platform/wipe.h"

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
    sha256_initial_state(inner);
    sha256_initial_state(outer);
    sha256_pair_blocks(b, inner, ipad, outer, opad);
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
    sha256_finish_blocks(b, inner, last, tail, data_len + 64);

    sha256_write_digest(inner, last);
    sha256_finish_blocks(b, outer, last, 32, 64 + 32);
    sha256_write_digest(outer, out);
    secure_wipe(last, sizeof last);
    secure_wipe(inner, 8 * sizeof inner[0]);
    secure_wipe(outer, 8 * sizeof outer[0]);
}

}  // namespace

int32_t hmac_sha256(const void *key, uint64_t key_len, const void *data,
                    uint64_t data_len, uint8_t *out) {
    if (out == nullptr) return -1;
    const sha256_backend *b = sha256_backend_in_use();
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
    hmac_pads(sha256_backend_in_use(), key_block, hk->inner, hk->outer);
    secure_wipe(key_block, sizeof key_block);
}

void hmac_sha256_prepared_bytes(const unsigned char states[64], const void *data,
                                uint64_t data_len, uint8_t *out) {
    static_assert(sizeof(hmac_sha256_key) == 64);
    uint32_t inner[8], outer[8];
    memcpy(inner, states + offsetof(hmac_sha256_key, inner), sizeof inner);
    memcpy(outer, states + offsetof(hmac_sha256_key, outer), sizeof outer);
    hmac_finish(sha256_backend_in_use(), inner, outer, data, data_len, out);
}

void hmac_sha256_prepared(const hmac_sha256_key *hk, const void *data,
                          uint64_t data_len, uint8_t *out) {
    hmac_sha256_prepared_bytes(reinterpret_cast<const unsigned char *>(hk), data, data_len,
                               out);
}

// ---- Keyed HMAC chains (hmac_chain.h) -------------------------------------

void hmac_sha256_chain(const hmac_sha256_key *key, uint8_t u[32], uint8_t t[32],
                       uint32_t n) {
    sha256_chain(sha256_backend_in_use(), key->inner, key->outer, u, t, n);
}

void hmac_sha256_chain2(const hmac_sha256_key *key, uint8_t u0[32], uint8_t t0[32],
                        uint8_t u1[32], uint8_t t1[32], uint32_t n) {
    const sha256_backend *b = sha256_backend_in_use();
    if (b->chain2 != nullptr) {
        b->chain2(key->inner, key->outer, u0, t0, u1, t1, n);
    } else {
        sha256_chain(b, key->inner, key->outer, u0, t0, n);
        sha256_chain(b, key->inner, key->outer, u1, t1, n);
    }
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
