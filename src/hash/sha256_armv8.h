// SHA-256 compression with the ARMv8 SHA-2 instructions. Defined in
// sha256_armv8.cpp, which alone is compiled with the crypto extension
// enabled; callers reach these only after sha256.cpp has seen HWCAP_SHA2.
#pragma once

#include <cstddef>
#include <cstdint>

void sha256_blocks_armv8(uint32_t state[8], const uint8_t *data, size_t nblocks);

// iterations rounds of  u = HMAC(u); t ^= u  for a 32-byte u under the keyed
// states inner/outer, with u, t and both states kept in registers.
void hmac_chain_armv8(const uint32_t inner[8], const uint32_t outer[8], uint8_t u[32],
                      uint8_t t[32], uint32_t iterations);
