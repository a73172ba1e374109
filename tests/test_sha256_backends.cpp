// Every SHA-256 compression backend this machine can run, through the whole
// hashing stack (SHA-256, HMAC, PBKDF2): FIPS 180-4 examples and seeded
// differential runs against OpenSSL, at every alignment and across runs of
// many blocks in one call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#endif

#include "platform/backend_select.h"
#include "fips180_vectors.h"
#include "hash_oracle.h"
#include "hex.h"
#include "hash/pbkdf2.h"
#include "hash/hmac.h"
#include "hash/sha256.h"

namespace {

// The backend in use when the program started, before any test pinned one.
const std::string g_initial = sha256_backend_name();

std::vector<std::string> built_in() {
    std::vector<std::string> names;
    for (size_t i = 0; sha256_backend_at(i) != nullptr; ++i) names.emplace_back(sha256_backend_at(i));
    return names;
}

// Pins the parameter's backend for one test and restores the previous one.
class Backend : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        previous_ = sha256_backend_name();
        if (sha256_backend_select(GetParam().c_str()) != 0)
            GTEST_SKIP() << GetParam() << " is not supported on this machine";
        ASSERT_EQ(GetParam(), sha256_backend_name());
    }
    void TearDown() override { ASSERT_EQ(sha256_backend_select(previous_.c_str()), 0); }

private:
    std::string previous_;
};

std::vector<uint8_t> digest(const uint8_t *p, size_t n) {
    std::vector<uint8_t> out(32);
    EXPECT_EQ(sha256_hash(p, n, out.data()), 0);
    return out;
}

// The CI stage that pins a backend relies on the pin reaching the tests.
TEST(Sha256Backends, EnvironmentPinIsInForce) {
    const char *pinned = std::getenv("KELDO_TEST_SHA256_BACKEND");
    if (pinned == nullptr || *pinned == '\0') GTEST_SKIP() << "nothing pinned";
    EXPECT_STREQ(sha256_backend_name(), pinned);
}

TEST(Sha256Backends, PortableIsAlwaysThereAndLast) {
    const std::vector<std::string> names = built_in();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "portable");
    EXPECT_EQ(sha256_backend_select("no-such-backend"), -1);
    EXPECT_EQ(sha256_backend_select(nullptr), -1);
}

// (test_dispatch checks the x86-64 first choice.)

#if defined(__aarch64__) && defined(__linux__)
// The ARMv8 SHA-2 backend must be the first choice exactly where the kernel
// reports the instructions: a self-test that failed would otherwise leave
// the portable path in use unnoticed.
TEST(Sha256Backends, Sha2InstructionsAreUsedWhereTheKernelReportsThem) {
    const char *pinned = std::getenv("KELDO_TEST_SHA256_BACKEND");
    if (pinned != nullptr && *pinned != '\0') GTEST_SKIP() << "backend pinned to " << pinned;
    const bool sha2 = (getauxval(AT_HWCAP) & HWCAP_SHA2) != 0;
    EXPECT_EQ(g_initial, sha2 ? "armv8" : "portable");
}
#endif

TEST_P(Backend, Fips180Examples) {
    for (const fips180::Example &c : fips180::sha256_examples()) {
        const auto *p = reinterpret_cast<const uint8_t *>(c.message.data());
        EXPECT_EQ(to_hex(digest(p, c.message.size())), c.digest) << c.message.size();
    }
}

// Every length up to five blocks, from every offset in a 16-byte window.
TEST_P(Backend, EveryLengthAndAlignmentMatchesOpenssl) {
    oracle::Rng rng(0x5eed0001);
    const std::vector<uint8_t> pool = rng.bytes(16 + 320);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t n = 0; n <= 320; ++n) {
            const uint8_t *p = pool.data() + offset;
            ASSERT_EQ(digest(p, n), oracle::sha256(p, n)) << "offset " << offset << " length " << n;
        }
    }
}

// Long runs of blocks in one call, and the same message streamed in random
// pieces so that blocks also arrive one at a time through the buffer.
TEST_P(Backend, LongMessagesWholeAndStreamed) {
    oracle::Rng rng(0x5eed0002);
    for (int round = 0; round < 12; ++round) {
        const size_t n = 4096 + rng.below(70000);
        const size_t offset = rng.below(16);
        const std::vector<uint8_t> pool = rng.bytes(n + offset);
        const uint8_t *p = pool.data() + offset;
        const std::vector<uint8_t> want = oracle::sha256(p, n);
        EXPECT_EQ(digest(p, n), want) << n;

        sha256_ctx ctx;
        sha256_init(&ctx);
        for (size_t at = 0; at < n;) {
            const size_t piece = std::min(n - at, rng.below(3) == 0 ? rng.below(64) : rng.below(1000));
            sha256_update(&ctx, p + at, piece);
            at += piece;
        }
        std::vector<uint8_t> got(32);
        sha256_final(&ctx, got.data());
        EXPECT_EQ(got, want) << n;
    }
}

// Streamed in two pieces split around the padding boundaries (55, 56, 63,
// 64, 65 bytes of the last block), then final: the one-shot and streamed
// paths share the padding code, the split reaches each branch of it.
TEST_P(Backend, StreamedAcrossThePaddingBoundaries) {
    oracle::Rng rng(0x5eed0005);
    const std::vector<uint8_t> m = rng.bytes(200);
    for (size_t n = 0; n <= 200; ++n) {
        for (const size_t cut : {size_t(0), n / 2, n % 64, n > 0 ? n - 1 : 0}) {
            sha256_ctx ctx;
            sha256_init(&ctx);
            sha256_update(&ctx, m.data(), cut);
            sha256_update(&ctx, m.data() + cut, n - cut);
            std::vector<uint8_t> got(32);
            sha256_final(&ctx, got.data());
            ASSERT_EQ(got, oracle::sha256(m.data(), n)) << n << " cut at " << cut;
            // The context counts the padding it absorbed, as update would.
            ASSERT_EQ(ctx.count % 64, 0u) << n;
            ASSERT_EQ(ctx.count, (n + 8) / 64 * 64 + 64) << n;
        }
    }
}

TEST_P(Backend, HmacMatchesOpenssl) {
    oracle::Rng rng(0x5eed0003);
    for (int round = 0; round < 400; ++round) {
        const std::vector<uint8_t> key = rng.bytes(rng.below(150));
        const size_t offset = rng.below(16);
        const size_t n = rng.below(4) == 0 ? rng.below(2000) : rng.below(200);
        const std::vector<uint8_t> pool = rng.bytes(n + offset);
        const std::vector<uint8_t> msg(pool.begin() + std::ptrdiff_t(offset), pool.end());
        std::vector<uint8_t> got(32);
        ASSERT_EQ(hmac_sha256(oracle::ptr(key), key.size(), pool.data() + offset, n, got.data()), 0);
        ASSERT_EQ(got, oracle::hmac(key, msg)) << "key " << key.size() << " message " << n;
    }
}

// Output lengths that take one block, pairs of blocks and a pair plus one,
// with short and long passwords and salts.
TEST_P(Backend, Pbkdf2MatchesOpenssl) {
    oracle::Rng rng(0x5eed0004);
    const size_t lengths[] = {1, 31, 32, 33, 63, 64, 65, 95, 96, 97, 128, 161};
    for (size_t out_len : lengths) {
        for (int round = 0; round < 4; ++round) {
            const std::vector<uint8_t> password = rng.bytes(rng.below(2) == 0 ? rng.below(20) : 60 + rng.below(80));
            const std::vector<uint8_t> salt = rng.bytes(rng.below(2) == 0 ? rng.below(40) : 240 + rng.below(30));
            const uint32_t iterations = uint32_t(1 + rng.below(round == 0 ? 3 : 300));
            std::vector<uint8_t> got(out_len + 8, 0xee);
            ASSERT_EQ(pbkdf2_sha256(oracle::ptr(password), password.size(), oracle::ptr(salt),
                                    salt.size(), iterations, got.data(), out_len),
                      0);
            const std::vector<uint8_t> want = oracle::pbkdf2(password, salt, iterations, out_len);
            ASSERT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + std::ptrdiff_t(out_len)), want)
                << "out_len " << out_len << " iterations " << iterations;
            for (size_t k = out_len; k < got.size(); ++k) ASSERT_EQ(got[k], 0xee);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, Backend, ::testing::ValuesIn(built_in()),
                         [](const ::testing::TestParamInfo<std::string> &p) { return p.param; });

}  // namespace
