// HMAC-SHA256: RFC 4231, the key-length edge at one block, the null and
// empty argument rules, and OpenSSL's HMAC() as the reference over random
// key and message lengths; the streaming core through every split.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "hash_oracle.h"
#include "hex.h"
#include "keldo_crypto.h"
#include "hash/hmac.h"
#include "hash/sha256.h"

namespace {

std::vector<uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

// The core and the export must agree on every input; returns the core's.
std::vector<uint8_t> mac(const void *key, uint64_t key_len, const void *data,
                         uint64_t data_len) {
    std::vector<uint8_t> core(32), exp(32);
    EXPECT_EQ(hmac_sha256(key, key_len, data, data_len, core.data()), 0);
    EXPECT_EQ(keldo_crypto_hmac_sha256(key, key_len, data, data_len, exp.data()), 0);
    EXPECT_EQ(core, exp);
    return core;
}

std::vector<uint8_t> mac(const std::vector<uint8_t> &key, const std::vector<uint8_t> &msg) {
    return mac(key.data(), key.size(), msg.data(), msg.size());
}

struct Rfc4231Case {
    int number;
    std::vector<uint8_t> key;
    std::vector<uint8_t> data;
    const char *mac;
};

// RFC 4231 section 4 (test case 5 truncates its output and is left out).
std::vector<Rfc4231Case> rfc4231_cases() {
    return {
        {1, std::vector<uint8_t>(20, 0x0b), bytes_of("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {2, bytes_of("Jefe"), bytes_of("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {3, std::vector<uint8_t>(20, 0xaa), std::vector<uint8_t>(50, 0xdd),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {4, from_hex("0102030405060708090a0b0c0d0e0f10111213141516171819"),
         std::vector<uint8_t>(50, 0xcd),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {6, std::vector<uint8_t>(131, 0xaa),
         bytes_of("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {7, std::vector<uint8_t>(131, 0xaa),
         bytes_of("This is a test using a larger than block-size key and a larger than "
                  "block-size data. The key needs to be hashed before being used by the "
                  "HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
}

TEST(Hmac, Rfc4231) {
    for (const Rfc4231Case &c : rfc4231_cases()) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(to_hex(mac(c.key, c.data)), c.mac);
    }
}

// A 64-byte key is the key block itself; from 65 bytes on, its digest is.
TEST(Hmac, KeyLengthAroundOneBlock) {
    oracle::Rng rng(10);
    const std::vector<uint8_t> msg = rng.bytes(40);
    for (size_t len : {32u, 63u, 64u, 65u, 66u, 128u, 1000u}) {
        SCOPED_TRACE(len);
        const std::vector<uint8_t> key = rng.bytes(len);
        EXPECT_EQ(to_hex(mac(key, msg)), to_hex(oracle::hmac(key, msg)));
    }
    // A long key and its digest as the key are the same HMAC key.
    const std::vector<uint8_t> key = rng.bytes(65);
    EXPECT_EQ(mac(key, msg), mac(oracle::sha256(key), msg));
    // A 64-byte key is not hashed: its digest is a different key.
    const std::vector<uint8_t> block_key = rng.bytes(64);
    EXPECT_NE(mac(block_key, msg), mac(oracle::sha256(block_key), msg));
}

TEST(Hmac, NullOrEmptyKey) {
    const std::vector<uint8_t> msg = bytes_of("message");
    const std::vector<uint8_t> empty_key_mac = oracle::hmac({}, msg);
    const uint8_t some_key[64] = {1, 2, 3};
    EXPECT_EQ(mac(some_key, 0, msg.data(), msg.size()), empty_key_mac);
    for (uint64_t len = 0; len <= 64; ++len) {
        SCOPED_TRACE(len);
        EXPECT_EQ(mac(nullptr, len, msg.data(), msg.size()), empty_key_mac);
    }
    // Past one block a null key goes through the hashing branch, which reads
    // nothing: the key becomes the digest of the empty message.
    const std::vector<uint8_t> digest_key_mac = oracle::hmac(oracle::sha256({}), msg);
    ASSERT_NE(digest_key_mac, empty_key_mac);
    for (uint64_t len : {uint64_t{65}, uint64_t{1000}, UINT64_MAX}) {
        SCOPED_TRACE(len);
        EXPECT_EQ(mac(nullptr, len, msg.data(), msg.size()), digest_key_mac);
    }
}

TEST(Hmac, NullOrEmptyData) {
    const std::vector<uint8_t> key = bytes_of("key");
    const std::vector<uint8_t> want = oracle::hmac(key, {});
    const uint8_t byte = 0x61;
    for (uint64_t len : {uint64_t{0}, uint64_t{1}, uint64_t{64}, UINT64_MAX}) {
        SCOPED_TRACE(len);
        EXPECT_EQ(mac(key.data(), key.size(), nullptr, len), want);
    }
    EXPECT_EQ(mac(key.data(), key.size(), &byte, 0), want);
    EXPECT_EQ(mac(nullptr, 0, nullptr, 0), oracle::hmac({}, {}));
}

TEST(Hmac, NullOutput) {
    // Set a different message first so that the export's write is seen.
    ASSERT_EQ(keldo_crypto_sha256("x", 1, nullptr), -1);
    EXPECT_EQ(keldo_crypto_hmac_sha256("k", 1, "m", 1, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "keldo_crypto_hmac_sha256: null output buffer");

    ASSERT_EQ(keldo_crypto_sha256("x", 1, nullptr), -1);
    EXPECT_EQ(hmac_sha256("k", 1, "m", 1, nullptr), -1);
    EXPECT_EQ(hmac_sha256(nullptr, 100, nullptr, 0, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "keldo_crypto_sha256: null output buffer");
    // Success leaves the text as it was.
    uint8_t out[32];
    EXPECT_EQ(keldo_crypto_hmac_sha256("k", 1, "m", 1, out), 0);
    EXPECT_STREQ(keldo_crypto_last_error(), "keldo_crypto_sha256: null output buffer");
}

TEST(Hmac, WritesExactly32Bytes) {
    const std::vector<uint8_t> key(100, 0x11), msg(10, 0x22);
    const std::vector<uint8_t> want = oracle::hmac(key, msg);
    for (size_t offset = 0; offset < 4; ++offset) {
        for (bool through_export : {false, true}) {
            SCOPED_TRACE(offset * 2 + through_export);
            uint8_t buf[4 + 32 + 16];
            std::memset(buf, 0x5a, sizeof buf);
            uint8_t *out = buf + offset;
            ASSERT_EQ(through_export
                          ? keldo_crypto_hmac_sha256(key.data(), key.size(), msg.data(),
                                                     msg.size(), out)
                          : hmac_sha256(key.data(), key.size(), msg.data(), msg.size(), out),
                      0);
            EXPECT_EQ(std::memcmp(out, want.data(), 32), 0);
            for (size_t i = 0; i < sizeof buf; ++i) {
                if (i < offset || i >= offset + 32) {
                    EXPECT_EQ(buf[i], 0x5a) << "byte " << i;
                }
            }
        }
    }
}

// Random key and message lengths, weighted towards the block edges (a key
// of 64 against 65, messages that end near the padding limits).
TEST(Hmac, RandomLengthsMatchOpenssl) {
    oracle::Rng rng(11);
    const size_t edges[] = {0, 1, 31, 32, 55, 56, 63, 64, 65, 119, 120, 128, 129};
    for (int i = 0; i < 600; ++i) {
        size_t key_len = rng.below(3) == 0 ? edges[rng.below(std::size(edges))] : rng.below(300);
        size_t msg_len = rng.below(3) == 0 ? edges[rng.below(std::size(edges))] : rng.below(600);
        const std::vector<uint8_t> key = rng.bytes(key_len), msg = rng.bytes(msg_len);
        SCOPED_TRACE(testing::Message() << "key " << key_len << " msg " << msg_len);
        ASSERT_EQ(to_hex(mac(key, msg)), to_hex(oracle::hmac(key, msg)));
    }
}

// The streaming core: the message in pieces cut at `cuts` (offsets, in
// order), each piece one update call.
std::vector<uint8_t> streamed(const std::vector<uint8_t> &key, const std::vector<uint8_t> &msg,
                              const std::vector<size_t> &cuts) {
    hmac_sha256_ctx ctx;
    hmac_sha256_init(&ctx, key.data(), key.size());
    size_t at = 0;
    for (size_t cut : cuts) {
        hmac_sha256_update(&ctx, msg.data() + at, cut - at);
        at = cut;
    }
    hmac_sha256_update(&ctx, msg.data() + at, msg.size() - at);
    std::vector<uint8_t> out(32);
    hmac_sha256_final(&ctx, out.data());
    return out;
}

TEST(HmacStreaming, Rfc4231WholeAndByteByByte) {
    for (const Rfc4231Case &c : rfc4231_cases()) {
        SCOPED_TRACE(c.number);
        EXPECT_EQ(to_hex(streamed(c.key, c.data, {})), c.mac);
        std::vector<size_t> every;
        for (size_t i = 1; i < c.data.size(); ++i) every.push_back(i);
        EXPECT_EQ(to_hex(streamed(c.key, c.data, every)), c.mac);
    }
}

// Splits at the block edges of the inner hash (whose first block is the
// ipad), where the buffered and the direct paths meet.
TEST(HmacStreaming, SplitsAtBlockEdgesMatchOpenssl) {
    oracle::Rng rng(12);
    const std::vector<uint8_t> msg = rng.bytes(300);
    for (size_t key_len : {0u, 20u, 64u, 65u, 131u}) {
        const std::vector<uint8_t> key = rng.bytes(key_len);
        const std::vector<uint8_t> want = oracle::hmac(key, msg);
        for (size_t cut : {1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 129u, 299u}) {
            SCOPED_TRACE(testing::Message() << "key " << key_len << " cut " << cut);
            EXPECT_EQ(streamed(key, msg, {cut}), want);
            EXPECT_EQ(streamed(key, msg, {cut, cut, cut + 1}), want);  // an empty update too
        }
    }
}

TEST(HmacStreaming, RandomPiecesMatchOpenssl) {
    oracle::Rng rng(13);
    for (int i = 0; i < 300; ++i) {
        const std::vector<uint8_t> key = rng.bytes(rng.below(200));
        const std::vector<uint8_t> msg = rng.bytes(rng.below(2000));
        std::vector<size_t> cuts;
        for (size_t at = 0; !msg.empty();) {
            at += rng.below(150);
            if (at >= msg.size()) break;
            cuts.push_back(at);
        }
        SCOPED_TRACE(testing::Message() << "key " << key.size() << " msg " << msg.size());
        ASSERT_EQ(streamed(key, msg, cuts), oracle::hmac(key, msg));
    }
}

// A null message pointer with length 0 is the empty message, and final
// leaves no key-derived state behind in the context.
TEST(HmacStreaming, EmptyMessageAndWipedContext) {
    const std::vector<uint8_t> key = bytes_of("key");
    hmac_sha256_ctx ctx;
    hmac_sha256_init(&ctx, key.data(), key.size());
    hmac_sha256_update(&ctx, nullptr, 0);
    uint8_t out[32];
    hmac_sha256_final(&ctx, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 32), oracle::hmac(key, {}));
    const auto *raw = reinterpret_cast<const uint8_t *>(&ctx);
    EXPECT_EQ(std::count(raw, raw + sizeof ctx, 0), std::ptrdiff_t(sizeof ctx));
}

}  // namespace
