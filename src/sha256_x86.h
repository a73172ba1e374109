// SHA-256 compression with the x86 SHA extensions. Defined in
// sha256_x86_shani.cpp, which alone is compiled with -msha -msse4.1 -mssse3;
// callers reach these only after sha256.cpp has checked the processor.
#pragma once

#include <cstddef>
#include <cstdint>

void sha256_blocks_shani(uint32_t state[8], const uint8_t *data, size_t nblocks);

// One block into each of two independent states, interleaved.
void sha256_pair_shani(uint32_t state_a[8], const uint8_t *block_a,
                       uint32_t state_b[8], const uint8_t *block_b);

// iterations rounds of  u = HMAC(u); t ^= u  for a 32-byte u under the keyed
// states inner/outer, with u, t and both states kept in registers.
void pbkdf2_sha256_shani_iterate(const uint32_t inner[8], const uint32_t outer[8],
                                 uint8_t u[32], uint8_t t[32], uint32_t iterations);

// The same for two independent chains under one key, interleaved so that the
// latency of one chain's rounds is hidden behind the other's.
void pbkdf2_sha256_shani_iterate2(const uint32_t inner[8], const uint32_t outer[8],
                                  uint8_t u0[32], uint8_t t0[32], uint8_t u1[32],
                                  uint8_t t1[32], uint32_t iterations);
