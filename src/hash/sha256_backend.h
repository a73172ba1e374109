// The SHA-256 backends: each is a compression function over whole blocks,
// with optional faster entries for pairs of independent blocks and for HMAC
// chains (hmac_chain.h). sha256.cpp holds the table, best first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/dispatch.h"
#include "hmac_chain.h"
#include "sha256.h"

using sha256_blocks_fn = void (*)(uint32_t state[8], const uint8_t *data, size_t nblocks);
using sha256_pair_fn = void (*)(uint32_t state_a[8], const uint8_t *block_a,
                                uint32_t state_b[8], const uint8_t *block_b);

struct sha256_backend {
    const char *name;
    uint32_t needs;          // cpu_feature bits
    sha256_blocks_fn blocks;
    sha256_pair_fn pair;     // null: two calls of blocks
    hmac_chain_fn chain;     // null: the generic loop over blocks
    hmac_chain2_fn chain2;   // null: chain twice
};

dispatch_point<sha256_backend> &sha256_dispatch();

// Block-level entries with which hmac.cpp builds HMAC on the backend in use
// (sha256.cpp).
const sha256_backend *sha256_backend_in_use();
// The FIPS 180-4 initial hash value.
void sha256_initial_state(uint32_t state[8]);
void sha256_write_digest(const uint32_t state[8], uint8_t out[32]);
// Two independent blocks, as a pair where the backend has one.
void sha256_pair_blocks(const sha256_backend *b, uint32_t state_a[8],
                        const uint8_t *block_a, uint32_t state_b[8],
                        const uint8_t *block_b);
// Compresses the last tail_len (< 64) bytes of a message of total_len bytes,
// already at the start of block (room for 128 bytes), with the padding.
void sha256_finish_blocks(const sha256_backend *b, uint32_t state[8], uint8_t *block,
                          size_t tail_len, uint64_t total_len);
// The keyed chain (hmac_chain.h) with the backend's own entry or the generic
// loop over its compression function.
void sha256_chain(const sha256_backend *b, const uint32_t inner[8],
                  const uint32_t outer[8], uint8_t u[32], uint8_t t[32], uint32_t n);
