// The SHA-256 backends: each is a compression function over whole blocks,
// with optional faster entries for pairs of independent blocks and for HMAC
// chains (hmac_chain.h). sha256.cpp holds the table, best first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dispatch.h"
#include "hmac_chain.h"

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
