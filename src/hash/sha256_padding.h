// SHA-256 message padding (FIPS 180-4 section 5.1.1), written once for the
// streaming and one-shot hashes, HMAC and the backends' constant blocks.
#pragma once

#include <cstddef>
#include <cstdint>

// Pads the last tail_len (< 64) bytes of a message of message_len bytes,
// already at the start of block (room for 128 bytes): 0x80, zeros, then the
// length in bits, big-endian. Returns the padded length, 64 or 128.
constexpr size_t sha256_pad(uint8_t *block, size_t tail_len, uint64_t message_len) {
    const size_t end = tail_len <= 55 ? 64 : 128;
    block[tail_len] = 0x80;
    for (size_t i = tail_len + 1; i < end - 8; ++i) block[i] = 0;
    const uint64_t bits = message_len * 8;
    for (size_t i = 0; i < 8; ++i) block[end - 1 - i] = uint8_t(bits >> (8 * i));
    return end;
}

// Message words 8 to 15 of the last block of a 32-byte message that follows
// one 64-byte block: HMAC's inner hash of a digest under a prepared key, and
// its outer hash. The first eight words are the 32 bytes themselves.
struct sha256_words8 {
    uint32_t w[8];
};

constexpr sha256_words8 sha256_digest_block_padding() {
    uint8_t block[64] = {};
    sha256_pad(block, 32, 64 + 32);
    sha256_words8 r{};
    for (int i = 0; i < 8; ++i) {
        const uint8_t *p = block + 32 + 4 * i;
        r.w[i] = (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    }
    return r;
}

inline constexpr sha256_words8 kDigestBlockPadding = sha256_digest_block_padding();
