// Keyed HMAC-SHA256 chains: n steps of  u = HMAC(key, u); t ^= u  on a
// 32-byte u and t under a prepared key. This is PBKDF2's inner loop (RFC 8018
// section 5.2, F), and all of its cost; each step is two compressions of one
// padded block whose first eight words are the previous digest. Backends
// that keep the chain in registers implement the function types below; the
// rest run the generic loop over their compression function.
#pragma once

#include <cstdint>

#include "hmac.h"

// The chain from the keyed states (hmac_sha256_key's inner and outer).
using hmac_chain_fn = void (*)(const uint32_t inner[8], const uint32_t outer[8],
                               uint8_t u[32], uint8_t t[32], uint32_t n);
// Two independent chains under one key, which a backend may interleave.
using hmac_chain2_fn = void (*)(const uint32_t inner[8], const uint32_t outer[8],
                                uint8_t u0[32], uint8_t t0[32], uint8_t u1[32],
                                uint8_t t1[32], uint32_t n);

// With the backend in use.
void hmac_sha256_chain(const hmac_sha256_key *key, uint8_t u[32], uint8_t t[32],
                       uint32_t n);
void hmac_sha256_chain2(const hmac_sha256_key *key, uint8_t u0[32], uint8_t t0[32],
                        uint8_t u1[32], uint8_t t1[32], uint32_t n);
