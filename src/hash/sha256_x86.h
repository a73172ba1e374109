// SHA-256 compression on x86-64. Each backend is defined in its own file,
// compiled alone with its instruction-set flags; callers reach these only
// after sha256.cpp's dispatch has checked the processor and run the
// backend's self-test.
#pragma once

#include <cstddef>
#include <cstdint>

// sha256_x86_shani.cpp: the SHA extensions (-msha -msse4.1 -mssse3).
void sha256_blocks_shani(uint32_t state[8], const uint8_t *data, size_t nblocks);
// One block into each of two independent states, interleaved.
void sha256_pair_shani(uint32_t state_a[8], const uint8_t *block_a,
                       uint32_t state_b[8], const uint8_t *block_b);
// HMAC chains (hmac_chain.h) with u, t and both states kept in registers;
// the second runs two chains interleaved, hiding each one's round latency.
void hmac_chain_shani(const uint32_t inner[8], const uint32_t outer[8], uint8_t u[32],
                      uint8_t t[32], uint32_t n);
void hmac_chain2_shani(const uint32_t inner[8], const uint32_t outer[8], uint8_t u0[32],
                       uint8_t t0[32], uint8_t u1[32], uint8_t t1[32], uint32_t n);

// sha256_x86_avx2.cpp: AVX2 message schedule, BMI1/BMI2 rounds (-mavx2
// -mbmi -mbmi2), for processors without the SHA extensions.
void sha256_blocks_avx2(uint32_t state[8], const uint8_t *data, size_t nblocks);
void hmac_chain_avx2(const uint32_t inner[8], const uint32_t outer[8], uint8_t u[32],
                     uint8_t t[32], uint32_t n);
