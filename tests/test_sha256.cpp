// SHA-256: published digests, OpenSSL as the reference for every length up
// to a little over 1000 bytes and for 1 MiB, the streaming interface under
// random splits, and the export's argument rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fips180_vectors.h"
#include "hash_oracle.h"
#include "hex.h"
#include "keldo_crypto.h"
#include "hash/sha256.h"

namespace {

using fips180::kEmptyDigest;

std::vector<uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> one_shot(const void *data, uint64_t len) {
    std::vector<uint8_t> out(32);
    EXPECT_EQ(sha256_hash(data, len, out.data()), 0);
    return out;
}

std::vector<uint8_t> exported(const void *data, uint64_t len) {
    std::vector<uint8_t> out(32);
    EXPECT_EQ(keldo_crypto_sha256(data, len, out.data()), 0);
    return out;
}

// Feeds msg in random pieces, zero-length ones included (half of those with
// a null pointer), checking the context invariant after every piece: count
// is the number of bytes absorbed and buffer holds the pending tail.
std::vector<uint8_t> streamed(const std::vector<uint8_t> &msg, oracle::Rng &rng) {
    sha256_ctx ctx;
    sha256_init(&ctx);
    size_t done = 0;
    while (done < msg.size()) {
        size_t left = msg.size() - done;
        size_t piece = 0;
        switch (rng.below(6)) {
            case 0: piece = 0; break;
            case 1: piece = 1 + rng.below(8); break;
            case 2: piece = 1 + rng.below(64); break;
            case 3: piece = 64; break;
            case 4: piece = 64 * (1 + rng.below(4)); break;
            default: piece = 1 + rng.below(left); break;
        }
        if (piece > left) piece = left;
        const uint8_t *p = msg.data() + done;
        if (piece == 0 && rng.below(2) == 0) p = nullptr;
        sha256_update(&ctx, p, piece);
        done += piece;
        EXPECT_EQ(ctx.count, done);
        size_t pending = done % 64;
        EXPECT_EQ(std::memcmp(ctx.buffer, msg.data() + done - pending, pending), 0)
            << "pending bytes after " << done;
    }
    sha256_update(&ctx, nullptr, 0);
    std::vector<uint8_t> out(32);
    sha256_final(&ctx, out.data());
    return out;
}

TEST(Sha256, Fips180Examples) {
    oracle::Rng rng(0x5a256);
    for (const fips180::Example &c : fips180::sha256_examples()) {
        SCOPED_TRACE(c.message.size());
        const std::vector<uint8_t> msg = bytes_of(c.message);
        EXPECT_EQ(to_hex(one_shot(msg.data(), msg.size())), c.digest);
        EXPECT_EQ(to_hex(exported(msg.data(), msg.size())), c.digest);
        EXPECT_EQ(to_hex(streamed(msg, rng)), c.digest);
    }
}

// Every length from 0 to 1100, at a varying misalignment, three ways.
TEST(Sha256, EveryShortLengthMatchesOpenssl) {
    oracle::Rng rng(1);
    const std::vector<uint8_t> pool = rng.bytes(1100 + 16);
    for (size_t len = 0; len <= 1100; ++len) {
        SCOPED_TRACE(len);
        size_t offset = len % 16;
        const std::vector<uint8_t> msg(pool.begin() + long(offset),
                                       pool.begin() + long(offset + len));
        const std::string want = to_hex(oracle::sha256(msg));
        ASSERT_EQ(to_hex(one_shot(pool.data() + offset, len)), want);
        ASSERT_EQ(to_hex(exported(pool.data() + offset, len)), want);
        ASSERT_EQ(to_hex(streamed(msg, rng)), want);
    }
}

TEST(Sha256, OneMebibyteMatchesOpenssl) {
    oracle::Rng rng(2);
    const std::vector<uint8_t> msg = rng.bytes(1 << 20);
    const std::string want = to_hex(oracle::sha256(msg));
    EXPECT_EQ(to_hex(one_shot(msg.data(), msg.size())), want);
    EXPECT_EQ(to_hex(exported(msg.data(), msg.size())), want);
    for (int split = 0; split < 3; ++split) EXPECT_EQ(to_hex(streamed(msg, rng)), want);
}

// Around the 55/56-byte limit for the length field and the block edges, fed
// byte by byte and as pieces that end exactly on and beside block edges.
TEST(Sha256, PaddingBoundaries) {
    oracle::Rng rng(3);
    for (size_t len : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 127u, 128u}) {
        SCOPED_TRACE(len);
        const std::vector<uint8_t> msg = rng.bytes(len);
        const std::string want = to_hex(oracle::sha256(msg));
        EXPECT_EQ(to_hex(one_shot(msg.data(), len)), want);

        sha256_ctx ctx;
        sha256_init(&ctx);
        for (size_t i = 0; i < len; ++i) sha256_update(&ctx, &msg[i], 1);
        std::vector<uint8_t> out(32);
        sha256_final(&ctx, out.data());
        EXPECT_EQ(to_hex(out), want);

        for (size_t cut : {size_t{1}, size_t{55}, size_t{56}, size_t{63}, size_t{64}}) {
            if (cut > len) continue;
            sha256_init(&ctx);
            sha256_update(&ctx, msg.data(), cut);
            sha256_update(&ctx, msg.data() + cut, len - cut);
            sha256_final(&ctx, out.data());
            EXPECT_EQ(to_hex(out), want) << "cut at " << cut;
        }
    }
}

TEST(Sha256, NullOrEmptyDataIsTheEmptyMessage) {
    const uint8_t byte = 0x61;
    for (uint64_t len : {uint64_t{0}, uint64_t{1}, uint64_t{64}, UINT64_MAX}) {
        SCOPED_TRACE(len);
        EXPECT_EQ(to_hex(one_shot(nullptr, len)), kEmptyDigest);
        EXPECT_EQ(to_hex(exported(nullptr, len)), kEmptyDigest);
    }
    EXPECT_EQ(to_hex(one_shot(&byte, 0)), kEmptyDigest);
    EXPECT_EQ(to_hex(exported(&byte, 0)), kEmptyDigest);

    sha256_ctx ctx;
    sha256_init(&ctx);
    std::vector<uint8_t> out(32);
    sha256_final(&ctx, out.data());
    EXPECT_EQ(to_hex(out), kEmptyDigest);
}

TEST(Sha256, ZeroLengthUpdateChangesNothing) {
    oracle::Rng rng(4);
    const std::vector<uint8_t> msg = rng.bytes(100);
    for (size_t absorbed : {size_t{0}, size_t{1}, size_t{63}, size_t{64}, size_t{100}}) {
        SCOPED_TRACE(absorbed);
        sha256_ctx ctx;
        std::memset(&ctx, 0xc3, sizeof ctx);
        sha256_init(&ctx);
        sha256_update(&ctx, msg.data(), absorbed);
        sha256_ctx before;
        std::memcpy(&before, &ctx, sizeof ctx);
        sha256_update(&ctx, nullptr, 0);
        EXPECT_EQ(std::memcmp(&before, &ctx, sizeof ctx), 0);
        sha256_update(&ctx, msg.data(), 0);
        EXPECT_EQ(std::memcmp(&before, &ctx, sizeof ctx), 0);
    }
}

// A finalised context holds the digest words and the padded length; init
// starts over and the same pieces give the same digest.
TEST(Sha256, FinalisedContextAndReinit) {
    oracle::Rng rng(5);
    for (size_t len : {0u, 3u, 55u, 56u, 64u, 200u}) {
        SCOPED_TRACE(len);
        const std::vector<uint8_t> msg = rng.bytes(len);
        sha256_ctx ctx;
        sha256_init(&ctx);
        sha256_update(&ctx, msg.data(), len / 2);
        sha256_update(&ctx, msg.data() + len / 2, len - len / 2);
        std::vector<uint8_t> first(32);
        sha256_final(&ctx, first.data());
        EXPECT_EQ(to_hex(first), to_hex(oracle::sha256(msg)));

        EXPECT_EQ(ctx.count % 64, 0u);
        // The message, 0x80, zeros and the 8-byte length, in whole blocks.
        EXPECT_EQ(ctx.count, (len + 9 + 63) / 64 * 64);
        for (int i = 0; i < 8; ++i) {
            uint32_t word = uint32_t(first[size_t(4 * i)]) << 24 |
                            uint32_t(first[size_t(4 * i + 1)]) << 16 |
                            uint32_t(first[size_t(4 * i + 2)]) << 8 | first[size_t(4 * i + 3)];
            EXPECT_EQ(ctx.state[i], word) << "word " << i;
        }

        sha256_init(&ctx);
        EXPECT_EQ(ctx.count, 0u);
        sha256_update(&ctx, msg.data(), len / 2);
        sha256_update(&ctx, msg.data() + len / 2, len - len / 2);
        std::vector<uint8_t> again(32);
        sha256_final(&ctx, again.data());
        EXPECT_EQ(again, first);
    }
}

// Exactly 32 bytes land in out, at any alignment; the bytes around stay.
TEST(Sha256, WritesOnlyTheDigest) {
    const std::vector<uint8_t> msg = bytes_of("abc");
    const std::vector<uint8_t> want = oracle::sha256(msg);
    for (size_t offset = 0; offset < 8; ++offset) {
        SCOPED_TRACE(offset);
        for (int way = 0; way < 3; ++way) {
            uint8_t buf[8 + 32 + 16];
            std::memset(buf, 0xa5, sizeof buf);
            uint8_t *out = buf + offset;
            if (way == 0) {
                ASSERT_EQ(sha256_hash(msg.data(), msg.size(), out), 0);
            } else if (way == 1) {
                ASSERT_EQ(keldo_crypto_sha256(msg.data(), msg.size(), out), 0);
            } else {
                sha256_ctx ctx;
                sha256_init(&ctx);
                sha256_update(&ctx, msg.data(), msg.size());
                sha256_final(&ctx, out);
            }
            EXPECT_EQ(std::memcmp(out, want.data(), 32), 0);
            for (size_t i = 0; i < sizeof buf; ++i) {
                if (i < offset || i >= offset + 32) {
                    EXPECT_EQ(buf[i], 0xa5) << "byte " << i;
                }
            }
        }
    }
}

TEST(Sha256, NullOutput) {
    // Start from a different message so the write is seen.
    uint8_t out[32];
    ASSERT_EQ(keldo_crypto_hmac_sha256(nullptr, 0, nullptr, 0, nullptr), -1);
    EXPECT_EQ(keldo_crypto_sha256("abc", 3, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "keldo_crypto_sha256: null output buffer");

    // The core refuses silently; a later success keeps the text too.
    ASSERT_EQ(keldo_crypto_hmac_sha256(nullptr, 0, nullptr, 0, nullptr), -1);
    EXPECT_EQ(sha256_hash("abc", 3, nullptr), -1);
    EXPECT_EQ(sha256_hash(nullptr, 0, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "keldo_crypto_hmac_sha256: null output buffer");
    EXPECT_EQ(keldo_crypto_sha256("abc", 3, out), 0);
    EXPECT_STREQ(keldo_crypto_last_error(), "keldo_crypto_hmac_sha256: null output buffer");
}

}  // namespace
