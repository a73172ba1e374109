// HMAC-SHA256 (RFC 2104) core, on the SHA-256 block functions.
#pragma once

#include <cstdint>

#include "sha256.h"

// -1 only when out is null; exactly 32 bytes written otherwise.
int32_t hmac_sha256(const void *key, uint64_t key_len, const void *data,
                    uint64_t data_len, uint8_t *out);

// The keyed halves of HMAC: the states after compressing the ipad and opad
// blocks. Lets PBKDF2 derive the key once per call instead of once per
// iteration.
struct hmac_sha256_key {
    uint32_t inner[8];
    uint32_t outer[8];
};

void hmac_sha256_prepare(hmac_sha256_key *hk, const void *key,
                         uint64_t key_len);
// HMAC of any message under a prepared key.
void hmac_sha256_prepared(const hmac_sha256_key *hk, const void *data,
                          uint64_t data_len, uint8_t *out);
// The same from the 64 bytes of a hmac_sha256_key kept in another object's
// storage (a public key struct), read without an aliasing cast.
void hmac_sha256_prepared_bytes(const unsigned char states[64], const void *data,
                                uint64_t data_len, uint8_t *out);

// Streaming HMAC-SHA256: the keyed inner state absorbs the message as it
// comes; the outer state waits for the inner digest. init keeps no copy of
// the key; final leaves the context wiped.
struct hmac_sha256_ctx {
    sha256_ctx inner;
    uint32_t outer[8];
};

void hmac_sha256_init(hmac_sha256_ctx *ctx, const void *key, uint64_t key_len);
// data may be null when len is 0.
void hmac_sha256_update(hmac_sha256_ctx *ctx, const void *data, uint64_t len);
// Writes 32 bytes.
void hmac_sha256_final(hmac_sha256_ctx *ctx, uint8_t out[32]);
