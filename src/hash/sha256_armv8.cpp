// SHA-256 compression with the ARMv8 SHA-2 instructions (SHA256H, SHA256H2,
// SHA256SU0, SHA256SU1). This file alone is compiled with the crypto
// extension enabled; nothing here runs unless sha256.cpp has seen
// HWCAP_SHA2 and passed its self-test.
//
// The state lives in two registers in host order, {A, B, C, D} and
// {E, F, G, H} (lane 0 first), which is the order the instructions want and
// also the message words of a block that starts with this state's digest.
#include "sha256_armv8.h"
#include "sha256_k.h"
#include "sha256_padding.h"

#include <arm_neon.h>

#if defined(__GNUC__)
#define KELDO_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define KELDO_ALWAYS_INLINE inline
#endif

namespace {

KELDO_ALWAYS_INLINE uint32x4_t kq(int i) { return vld1q_u32(K + 4 * i); }

// Big-endian words from memory, any alignment.
KELDO_ALWAYS_INLINE uint32x4_t load_be(const uint8_t *p) {
    return vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(p)));
}

KELDO_ALWAYS_INLINE void store_be(uint8_t *p, uint32x4_t v) {
    vst1q_u8(p, vrev32q_u8(vreinterpretq_u8_u32(v)));
}

struct state_regs {
    uint32x4_t abcd, efgh;
};

// Four rounds with message-plus-constant words wk.
KELDO_ALWAYS_INLINE void quad(state_regs &s, uint32x4_t wk) {
    const uint32x4_t abcd = s.abcd;
    s.abcd = vsha256hq_u32(abcd, s.efgh, wk);
    s.efgh = vsha256h2q_u32(s.efgh, abcd, wk);
}

// W[t..t+3] from the sixteen words before them; m0 is overwritten.
KELDO_ALWAYS_INLINE void schedule(uint32x4_t &m0, uint32x4_t m1, uint32x4_t m2,
                                  uint32x4_t m3) {
    m0 = vsha256su1q_u32(vsha256su0q_u32(m0, m1), m2, m3);
}

KELDO_ALWAYS_INLINE void step(state_regs &s, uint32x4_t &m0, uint32x4_t m1,
                              uint32x4_t m2, uint32x4_t m3, int i) {
    schedule(m0, m1, m2, m3);
    quad(s, vaddq_u32(m0, kq(i)));
}

// One compression of the block m0..m3 into s (feed-forward included).
KELDO_ALWAYS_INLINE void compress(state_regs &s, uint32x4_t m0, uint32x4_t m1,
                                  uint32x4_t m2, uint32x4_t m3) {
    const state_regs start = s;
    quad(s, vaddq_u32(m0, kq(0)));
    quad(s, vaddq_u32(m1, kq(1)));
    quad(s, vaddq_u32(m2, kq(2)));
    quad(s, vaddq_u32(m3, kq(3)));
    for (int i = 4; i < 16; i += 4) {
        step(s, m0, m1, m2, m3, i);
        step(s, m1, m2, m3, m0, i + 1);
        step(s, m2, m3, m0, m1, i + 2);
        step(s, m3, m0, m1, m2, i + 3);
    }
    s.abcd = vaddq_u32(s.abcd, start.abcd);
    s.efgh = vaddq_u32(s.efgh, start.efgh);
}

}  // namespace

void sha256_blocks_armv8(uint32_t state[8], const uint8_t *data, size_t nblocks) {
    state_regs s = {vld1q_u32(state), vld1q_u32(state + 4)};
    for (; nblocks != 0; --nblocks, data += 64)
        compress(s, load_be(data), load_be(data + 16), load_be(data + 32), load_be(data + 48));
    vst1q_u32(state, s.abcd);
    vst1q_u32(state + 4, s.efgh);
}

void hmac_chain_armv8(const uint32_t inner[8], const uint32_t outer[8], uint8_t u[32],
                      uint8_t t[32], uint32_t iterations) {
    const state_regs in = {vld1q_u32(inner), vld1q_u32(inner + 4)};
    const state_regs out = {vld1q_u32(outer), vld1q_u32(outer + 4)};
    const uint32x4_t p0 = vld1q_u32(kDigestBlockPadding.w);
    const uint32x4_t p1 = vld1q_u32(kDigestBlockPadding.w + 4);
    // A digest's bytes read back as big-endian words are its state words, so
    // the loop never leaves the word domain; XOR commutes with the byte swap.
    uint32x4_t u0 = load_be(u), u1 = load_be(u + 16);
    uint32x4_t t0 = load_be(t), t1 = load_be(t + 16);
    for (; iterations != 0; --iterations) {
        state_regs s = in;
        compress(s, u0, u1, p0, p1);
        const uint32x4_t v0 = s.abcd, v1 = s.efgh;
        s = out;
        compress(s, v0, v1, p0, p1);
        u0 = s.abcd;
        u1 = s.efgh;
        t0 = veorq_u32(t0, u0);
        t1 = veorq_u32(t1, u1);
    }
    store_be(u, u0);
    store_be(u + 16, u1);
    store_be(t, t0);
    store_be(t + 16, t1);
}
