// SHA-256 (FIPS 180-4) core. HMAC is in hmac.h.
#pragma once

#include <cstddef>
#include <cstdint>

struct sha256_ctx {
    uint32_t state[8];  // chaining value, host order
    uint64_t count;     // bytes absorbed so far
    uint8_t buffer[64]; // the first count % 64 bytes of the current block
};

void sha256_init(sha256_ctx *ctx);
// data may be null when data_len is 0.
void sha256_update(sha256_ctx *ctx, const void *data, uint64_t data_len);
// Writes 32 bytes. Leaves the context finalised, not reset.
void sha256_final(sha256_ctx *ctx, uint8_t *out);
// One shot; a null data is the empty message. -1 only when out is null.
int32_t sha256_hash(const void *data, uint64_t data_len, uint8_t *out);
