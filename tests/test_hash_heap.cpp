// Heap use of the hashing cores, seen by the malloc interposer: none for
// SHA-256 and HMAC, none for PBKDF2 salts up to 252 bytes, one block of
// exactly salt_len + 4 bytes for longer salts, always released, and
// nothing at all on a refused call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "alloc_counter.h"
#include "keldo_crypto.h"
#include "hash/pbkdf2.h"
#include "hash/hmac.h"
#include "hash/sha256.h"

namespace {

// Called through a volatile pointer so that the probe's malloc/free pair
// cannot be optimised away.
void *(*volatile probe_malloc)(size_t) = malloc;

// Under a tool that replaces the allocator itself (valgrind) the
// interposer sees nothing, and "no allocation" would pass vacuously.
class HashHeap : public testing::Test {
protected:
    void SetUp() override {
        alloc_counter::start();
        free(probe_malloc(16));
        if (alloc_counter::stop().allocations != 1)
            GTEST_SKIP() << "the allocation counter is not in use in this process";
    }
};

TEST_F(HashHeap, Sha256AndHmacAllocateNothing) {
    const std::vector<uint8_t> msg(5000, 0x42), long_key(300, 0x17);
    uint8_t out[32];
    alloc_counter::start();
    for (uint64_t len : {uint64_t{0}, uint64_t{63}, uint64_t{64}, uint64_t{5000}}) {
        sha256_hash(msg.data(), len, out);
        keldo_crypto_sha256(msg.data(), len, out);
        sha256_ctx ctx;
        sha256_init(&ctx);
        sha256_update(&ctx, msg.data(), len);
        sha256_final(&ctx, out);
        hmac_sha256(msg.data(), 10, msg.data(), len, out);
        hmac_sha256(long_key.data(), long_key.size(), msg.data(), len, out);
        keldo_crypto_hmac_sha256(long_key.data(), long_key.size(), msg.data(), len, out);
    }
    keldo_crypto_sha256(msg.data(), 1, nullptr);
    keldo_crypto_hmac_sha256(nullptr, 0, nullptr, 0, nullptr);
    const alloc_counter::Counts c = alloc_counter::stop();
    EXPECT_EQ(c.allocations, 0u);
    EXPECT_EQ(c.releases, 0u);
}

TEST_F(HashHeap, Pbkdf2ShortSaltsStayOnTheStack) {
    const std::vector<uint8_t> salt(252, 0x33), password(200, 0x44);
    uint8_t out[100];
    for (size_t len : {size_t{0}, size_t{16}, size_t{252}}) {
        SCOPED_TRACE(len);
        // An allocation attempt would fail and turn the result into -1.
        alloc_counter::fail_nth(1);
        alloc_counter::start();
        int32_t core = pbkdf2_sha256(password.data(), password.size(), salt.data(), len, 2,
                                     out, sizeof out);
        int32_t exp = keldo_crypto_pbkdf2_sha256(password.data(), password.size(), salt.data(),
                                                 len, 2, out, sizeof out);
        const alloc_counter::Counts c = alloc_counter::stop();
        alloc_counter::fail_nth(0);
        EXPECT_EQ(core, 0);
        EXPECT_EQ(exp, 0);
        EXPECT_EQ(c.allocations, 0u);
        EXPECT_EQ(c.releases, 0u);
    }
}

// One block per call, whatever the number of output blocks.
TEST_F(HashHeap, Pbkdf2LongSaltsUseOneExactBlock) {
    const std::vector<uint8_t> salt(5000, 0x33);
    uint8_t out[100];
    for (size_t len : {size_t{253}, size_t{254}, size_t{1000}, size_t{5000}}) {
        for (bool through_export : {false, true}) {
            SCOPED_TRACE(testing::Message() << len << (through_export ? " export" : " core"));
            alloc_counter::start();
            int32_t rc = through_export
                             ? keldo_crypto_pbkdf2_sha256("pw", 2, salt.data(), len, 2, out,
                                                          sizeof out)
                             : pbkdf2_sha256("pw", 2, salt.data(), len, 2, out, sizeof out);
            const alloc_counter::Counts c = alloc_counter::stop();
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(c.allocations, 1u);
            EXPECT_EQ(c.last_size, len + 4);
            EXPECT_EQ(c.releases, 1u);
        }
    }
}

// A failed allocation is a silent -1 with nothing written.
TEST_F(HashHeap, Pbkdf2AllocationFailure) {
    ASSERT_EQ(keldo_crypto_sha256(nullptr, 0, nullptr), -1);
    const std::vector<uint8_t> salt(253, 0x33);
    uint8_t out[40];
    std::memset(out, 0xa5, sizeof out);
    for (bool through_export : {false, true}) {
        SCOPED_TRACE(through_export ? "export" : "core");
        alloc_counter::fail_nth(1);
        alloc_counter::start();
        int32_t rc = through_export
                         ? keldo_crypto_pbkdf2_sha256("pw", 2, salt.data(), salt.size(), 1,
                                                      out, 32)
                         : pbkdf2_sha256("pw", 2, salt.data(), salt.size(), 1, out, 32);
        const alloc_counter::Counts c = alloc_counter::stop();
        alloc_counter::fail_nth(0);
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(c.allocations, 0u);
        EXPECT_EQ(c.releases, 0u);
        EXPECT_STREQ(keldo_crypto_last_error(), "keldo_crypto_sha256: null output buffer");
        for (uint8_t b : out) EXPECT_EQ(b, 0xa5);
    }
}

// Every refusal comes before the allocation, even with a salt length that
// would need one.
TEST_F(HashHeap, Pbkdf2RefusalsAllocateNothing) {
    const std::vector<uint8_t> salt(300, 0x33);
    uint8_t out[32];
    const uint64_t too_long = uint64_t{0xffffffff} * 32 + 1;
    alloc_counter::start();
    const int32_t results[] = {
        pbkdf2_sha256("pw", 2, salt.data(), salt.size(), 1, out, 0),
        pbkdf2_sha256("pw", 2, salt.data(), salt.size(), 0, out, 32),
        pbkdf2_sha256("pw", 2, salt.data(), salt.size(), 1, nullptr, 32),
        pbkdf2_sha256("pw", 2, salt.data(), salt.size(), 1, out, too_long),
        pbkdf2_sha256(nullptr, 2, salt.data(), salt.size(), 1, out, 32),
        pbkdf2_sha256("pw", 2, nullptr, salt.size(), 1, out, 32),
        pbkdf2_sha256("pw", 2, salt.data(), UINT64_MAX - 3, 1, out, 32),
        keldo_crypto_pbkdf2_sha256("pw", 2, salt.data(), salt.size(), 1, out, 0),
        keldo_crypto_pbkdf2_sha256("pw", 2, salt.data(), salt.size(), 1, out, too_long),
        keldo_crypto_pbkdf2_sha256(nullptr, 2, salt.data(), salt.size(), 1, out, 32),
    };
    const alloc_counter::Counts c = alloc_counter::stop();
    for (int32_t rc : results) EXPECT_EQ(rc, -1);
    EXPECT_EQ(c.allocations, 0u);
    EXPECT_EQ(c.releases, 0u);
}

}  // namespace
