// Heap exhaustion: the Nth allocation request of a call fails, for every N
// from the first until the call no longer meets a failure. Each call then
// either succeeds with the right result or refuses with its documented
// message, and releases everything it allocated.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "keldo_crypto.h"
#include "test_platform.h"

namespace {

constexpr int64_t kNow = 1700000000;
constexpr size_t kMaxRequests = 10000;  // far above what any call makes

struct Outcome {
    bool ok;
    alloc_counter::Counts counts;
};

// Runs call() with request n failing (0: none). call must not allocate
// itself beyond the library's own use.
template <typename F>
Outcome run_with_failure(size_t n, F call) {
    alloc_counter::start();
    alloc_counter::fail_nth(n);
    const bool ok = call();
    alloc_counter::fail_nth(0);
    return {ok, alloc_counter::stop()};
}

bool same_counts(const alloc_counter::Counts &a, const alloc_counter::Counts &b) {
    return a.allocations == b.allocations && a.releases == b.releases &&
           a.bytes_requested == b.bytes_requested;
}

// Fails request 1, 2, ... of call() until a run is indistinguishable from
// an undisturbed one; on_result(n, run) checks each run. Returns how many
// runs met a failure.
template <typename F, typename G>
size_t for_each_failure(F call, G on_result) {
    const Outcome clean = run_with_failure(0, call);
    EXPECT_TRUE(clean.ok);
    EXPECT_EQ(clean.counts.allocations, clean.counts.releases);
    size_t n = 1;
    for (; n < kMaxRequests; ++n) {
        const Outcome run = run_with_failure(n, call);
        EXPECT_EQ(run.counts.allocations, run.counts.releases) << "request " << n << " failed";
        on_result(n, run);
        if (run.ok && same_counts(run.counts, clean.counts)) break;
    }
    EXPECT_LT(n, kMaxRequests);
    return n - 1;
}

class AllocFailure : public ::testing::Test {
protected:
    void SetUp() override { test_platform::set_clock(kNow); }
    void TearDown() override { test_platform::use_real_clock(); }
};

TEST_F(AllocFailure, MintingRefusesWithAnAllocationMessageAndKeepsTheLastToken) {
    const std::string expected = [&] {
        const char *t = keldo_jwt_mint("secret", "user-1", "user@example.org", 600);
        return std::string(t != nullptr ? t : "");
    }();
    ASSERT_FALSE(expected.empty());
    const char *buffer = keldo_jwt_mint("secret", "earlier", "e@example.org", 60);
    ASSERT_NE(buffer, nullptr);

    const char *result = nullptr;
    char last_token[4096];  // the buffer's text before each run (copied without the heap)
    std::set<std::string> seen;
    const size_t failures = for_each_failure(
        [&] {
            std::memcpy(last_token, buffer, std::strlen(buffer) + 1);
            result = keldo_jwt_mint("secret", "user-1", "user@example.org", 600);
            return result != nullptr;
        },
        [&](size_t n, const Outcome &run) {
            SCOPED_TRACE("request " + std::to_string(n) + " failed");
            if (run.ok) {
                EXPECT_EQ(result, buffer);
                EXPECT_EQ(std::string(result), expected);
                return;
            }
            const std::string m = keldo_crypto_last_error();
            seen.insert(m);
            EXPECT_TRUE(m == "jwt_mint: failed to allocate yyjson document" ||
                        m == "jwt_mint: failed to build payload JSON" ||
                        m == "jwt_mint: failed to serialize payload JSON")
                << m;
            if (n == 1) {
                EXPECT_EQ(m, "jwt_mint: failed to allocate yyjson document");
            }
            EXPECT_STREQ(buffer, last_token);  // a failure leaves the last token
        });
    EXPECT_GE(failures, 2u);  // the document and the JSON text at least
    EXPECT_TRUE(seen.count("jwt_mint: failed to serialize payload JSON"));
}

TEST_F(AllocFailure, VerificationRefusesAsInvalidJsonAndWritesNothing) {
    const std::string valid = keldo_jwt_mint("secret", "user-1", "user@example.org", 600);
    char sub[64], email[128];
    int64_t exp = 0;
    for_each_failure(
        [&] {
            std::memset(sub, 'S', sizeof sub);
            std::memset(email, 'E', sizeof email);
            exp = -7;
            return keldo_jwt_verify("secret", valid.c_str(), sub, email, &exp) == 0;
        },
        [&](size_t n, const Outcome &run) {
            SCOPED_TRACE("request " + std::to_string(n) + " failed");
            if (run.ok) {
                EXPECT_STREQ(sub, "user-1");
                EXPECT_STREQ(email, "user@example.org");
                EXPECT_EQ(exp, kNow + 600);
                return;
            }
            EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: invalid payload JSON");
            EXPECT_EQ(sub[0], 'S');
            EXPECT_EQ(email[0], 'E');
            EXPECT_EQ(exp, -7);
        });
}

TEST_F(AllocFailure, VerificationOfARefusedTokenReleasesTheDocumentToo) {
    // Parsed, then refused on its claims: the document must still go.
    const std::string expired = [] {
        test_platform::ScopedClock past(kNow - 1000);
        return std::string(keldo_jwt_mint("secret", "user-1", "user@example.org", 10));
    }();
    test_platform::set_clock(kNow);
    const Outcome clean = run_with_failure(0, [&] {
        return keldo_jwt_verify("secret", expired.c_str(), nullptr, nullptr, nullptr) == -1;
    });
    ASSERT_TRUE(clean.ok);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: token has expired");
    EXPECT_GE(clean.counts.allocations, 1u);
    EXPECT_EQ(clean.counts.allocations, clean.counts.releases);
    for (size_t n = 1; n <= clean.counts.allocations + 1; ++n) {
        const Outcome run = run_with_failure(n, [&] {
            return keldo_jwt_verify("secret", expired.c_str(), nullptr, nullptr, nullptr) == -1;
        });
        EXPECT_TRUE(run.ok);
        EXPECT_EQ(run.counts.allocations, run.counts.releases);
        const std::string m = keldo_crypto_last_error();
        EXPECT_TRUE(m == "jwt_verify: invalid payload JSON" || m == "jwt_verify: token has expired")
            << m;
    }
}

TEST_F(AllocFailure, LongSaltPbkdf2FailsQuietlyThenSucceeds) {
    // A salt over 252 bytes puts the block message on the heap.
    std::vector<uint8_t> salt(300);
    for (size_t i = 0; i < salt.size(); ++i) salt[i] = uint8_t(i * 7);
    const char password[] = "correct horse";
    std::vector<uint8_t> want(40);
    ASSERT_EQ(PKCS5_PBKDF2_HMAC(password, int(sizeof password - 1), salt.data(),
                                int(salt.size()), 3, EVP_sha256(), int(want.size()),
                                want.data()),
              1);
    // A known text in the last-error slot: a quiet failure must keep it.
    ASSERT_EQ(keldo_crypto_sha256("x", 1, nullptr), -1);
    const std::string before = keldo_crypto_last_error();

    std::vector<uint8_t> out(want.size());
    const size_t failures = for_each_failure(
        [&] {
            std::fill(out.begin(), out.end(), uint8_t(0xEE));
            return keldo_crypto_pbkdf2_sha256(password, sizeof password - 1, salt.data(),
                                              salt.size(), 3, out.data(), out.size()) == 0;
        },
        [&](size_t n, const Outcome &run) {
            SCOPED_TRACE("request " + std::to_string(n) + " failed");
            EXPECT_EQ(keldo_crypto_last_error(), before);
            if (run.ok) {
                EXPECT_EQ(out, want);
            } else {
                EXPECT_EQ(out, std::vector<uint8_t>(want.size(), 0xEE));  // nothing written
            }
        });
    EXPECT_EQ(failures, 1u);  // the one block message
}

TEST_F(AllocFailure, LongSaltPasswordVerifyReportsTheDerivationFailureThenMatches) {
    // A stored text salt of 300 characters (Werkzeug's form takes up to
    // 1024) is hashed as it is, so its derivation needs the heap; the key
    // comes from OpenSSL.
    const std::string salt(300, 's');
    const char password[] = "correct horse";
    uint8_t key[32];
    ASSERT_EQ(PKCS5_PBKDF2_HMAC(password, int(sizeof password - 1),
                                reinterpret_cast<const unsigned char *>(salt.data()),
                                int(salt.size()), 2, EVP_sha256(), int(sizeof key), key),
              1);
    std::string stored = "pbkdf2:sha256:2$" + salt + "$";
    for (uint8_t b : key) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        stored += two;
    }
    int32_t result = 0;
    const size_t failures = for_each_failure(
        [&] {
            result = keldo_password_verify(password, sizeof password - 1, stored.c_str());
            return result == KELDO_OK;
        },
        [&](size_t n, const Outcome &run) {
            SCOPED_TRACE("request " + std::to_string(n) + " failed");
            // Never a mismatch or a malformed hash: the host must not tell
            // the user the password was wrong when the machine ran short.
            if (!run.ok) {
                EXPECT_EQ(result, KELDO_E_PASSWORD_VERIFY_DERIVE);
            }
        });
    EXPECT_EQ(failures, 1u);  // the one block message
    EXPECT_STREQ(keldo_crypto_status_text(KELDO_E_PASSWORD_VERIFY_DERIVE),
                 "password_verify: key derivation failed");
}

}  // namespace
