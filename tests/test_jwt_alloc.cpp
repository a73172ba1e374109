// Heap use of the token routines, counted by the malloc interposer: only
// yyjson's blocks, all of them released on every path, and none at all
// before the signature of a token is settled.
#include <gtest/gtest.h>

#include <string>

#include "alloc_counter.h"
#include "interop/peer_token.h"
#include "keldo_crypto.h"
#include "test_platform.h"

namespace {

constexpr int64_t kNow = 1700000000;
const std::string kSecret = "alloc-secret";

struct Counted {
    alloc_counter::Counts counts;
    int32_t rc;
    std::string message;
};

Counted count_verify(const std::string &token) {
    char sub[64], email[128];
    int64_t exp = 0;
    alloc_counter::start();
    int32_t rc = keldo_jwt_verify(kSecret.c_str(), token.c_str(), sub, email, &exp);
    alloc_counter::Counts counts = alloc_counter::stop();
    return {counts, rc, keldo_crypto_last_error()};
}

Counted count_mint(const char *sub, const char *email) {
    alloc_counter::start();
    const char *token = keldo_jwt_mint(kSecret.c_str(), sub, email, 60);
    alloc_counter::Counts counts = alloc_counter::stop();
    return {counts, token != nullptr ? 0 : -1, keldo_crypto_last_error()};
}

std::string claims_with(const std::string &members) {
    return peer::sign_json(kSecret, "{\"iss\":\"keldo\",\"exp\":" + std::to_string(kNow + 60) +
                                        members + "}");
}

class JwtHeap : public testing::Test {
protected:
    test_platform::ScopedClock clock_{kNow};
};

TEST_F(JwtHeap, MintingReleasesEveryBlockItTakes) {
    // 1400 + 66 bytes of text make the largest payload, 1535 bytes.
    const std::string big(1400, 'x'), fits(66, 'y'), too_long(67, 'y');
    const struct {
        const char *what, *sub, *email, *message;
    } cases[] = {
        {"ordinary", "user", "user@example.com", nullptr},
        {"largest", big.c_str(), fits.c_str(), nullptr},
        {"invalid UTF-8", "\xff", "e", "jwt_mint: failed to serialize payload JSON"},
        {"payload too large", big.c_str(), too_long.c_str(),
         "jwt_mint: failed to base64url encode payload"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Counted r = count_mint(c.sub, c.email);
        EXPECT_EQ(r.rc, c.message == nullptr ? 0 : -1);
        if (c.message != nullptr) {
            EXPECT_EQ(r.message, c.message);
        }
        EXPECT_GE(r.counts.allocations, 2u);  // the document and its JSON text
        EXPECT_EQ(r.counts.releases, r.counts.allocations);
    }
    Counted null_arg = count_mint(nullptr, "e");
    EXPECT_EQ(null_arg.counts.allocations, 0u);
}

// Every block minting takes is yyjson's: failing any one of them is one of
// the JSON refusals, never a token missing a claim, and leaks nothing.
TEST_F(JwtHeap, EachAllocationFailureIsAJsonRefusal) {
    const size_t blocks = count_mint("user", "user@example.com").counts.allocations;
    ASSERT_GE(blocks, 2u);
    const char *previous = keldo_jwt_mint(kSecret.c_str(), "previous", "p@example.com", 60);
    ASSERT_NE(previous, nullptr);
    const std::string kept = previous;
    for (size_t n = 1; n <= blocks; ++n) {
        SCOPED_TRACE(n);
        alloc_counter::fail_nth(n);
        Counted r = count_mint("user", "user@example.com");
        alloc_counter::fail_nth(0);
        EXPECT_EQ(r.rc, -1);
        if (n == 1) {
            EXPECT_EQ(r.message, "jwt_mint: failed to allocate yyjson document");
        } else {
            EXPECT_TRUE(r.message == "jwt_mint: failed to serialize payload JSON" ||
                        r.message == "jwt_mint: failed to build payload JSON")
                << r.message;
        }
        EXPECT_EQ(r.counts.releases, r.counts.allocations);
        EXPECT_EQ(std::string(previous), kept);
    }
}

TEST_F(JwtHeap, VerificationTakesOnlyTheParsedDocument) {
    const char *minted = keldo_jwt_mint(kSecret.c_str(), "user", "user@example.com", 60);
    ASSERT_NE(minted, nullptr);
    const std::string token = minted;
    Counted ok = count_verify(token);
    EXPECT_EQ(ok.rc, 0) << ok.message;
    EXPECT_GE(ok.counts.allocations, 1u);
    EXPECT_EQ(ok.counts.releases, ok.counts.allocations);

    // Every block is the reader's: without any one of them the payload
    // cannot be read.
    for (size_t n = 1; n <= ok.counts.allocations; ++n) {
        SCOPED_TRACE(n);
        alloc_counter::fail_nth(n);
        Counted starved = count_verify(token);
        alloc_counter::fail_nth(0);
        EXPECT_EQ(starved.message, "jwt_verify: invalid payload JSON");
        EXPECT_EQ(starved.counts.releases, starved.counts.allocations);
    }
}

TEST_F(JwtHeap, NothingBeforeTheSignatureIsSettled) {
    const std::string good = peer::sign_json(kSecret, "{}");
    const std::string input = good.substr(0, good.rfind('.'));
    const std::string long_payload = peer::b64url(std::string(1536, '{'));
    const struct {
        std::string token;
        const char *message;
    } cases[] = {
        {"abc", "jwt_verify: malformed token (missing first dot)"},
        {"a.b", "jwt_verify: malformed token (missing second dot)"},
        {"a.b.c.d", "jwt_verify: malformed token (extra segments)"},
        {input + ".", "jwt_verify: invalid signature format or length"},
        {input + "." + std::string(43, 'A'), "jwt_verify: signature verification failed"},
        {peer::sign_segments(kSecret, long_payload), "jwt_verify: payload segment too long"},
        {peer::sign_segments(kSecret, "eyJ9A"), "jwt_verify: base64url decode payload failed"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        Counted r = count_verify(c.token);
        EXPECT_EQ(r.message, c.message);
        EXPECT_EQ(r.counts.allocations, 0u);
        EXPECT_EQ(r.counts.releases, 0u);
    }
}

TEST_F(JwtHeap, RefusalsAfterParsingReleaseTheDocument) {
    const std::string n = std::to_string(kNow);
    const struct {
        std::string token;
        const char *message;
    } cases[] = {
        {peer::sign_json(kSecret, "{\"iss\":"), "jwt_verify: invalid payload JSON"},
        {peer::sign_json(kSecret, "[]"), "jwt_verify: payload root is not an object"},
        {peer::sign_json(kSecret, "{}"), "jwt_verify: invalid or missing 'iss' claim"},
        {peer::sign_json(kSecret, "{\"iss\":\"keldo\"}"), "jwt_verify: missing 'exp' claim"},
        {peer::sign_json(kSecret, "{\"iss\":\"keldo\",\"exp\":0}"), "jwt_verify: token has expired"},
        {claims_with(",\"nbf\":" + std::to_string(kNow + 61)),
         "jwt_verify: token is not valid yet (nbf in future)"},
        {claims_with(""), "jwt_verify: missing 'sub' claim"},
        {claims_with(",\"sub\":\"" + std::string(64, 's') + "\""), "jwt_verify: invalid 'sub' claim"},
        {claims_with(",\"sub\":\"u\""), "jwt_verify: missing 'email' claim"},
        {claims_with(",\"sub\":\"u\",\"email\":\"a\\u0000\""), "jwt_verify: invalid 'email' claim"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        Counted r = count_verify(c.token);
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.message, c.message);
        EXPECT_GE(r.counts.allocations, 1u);
        EXPECT_EQ(r.counts.releases, r.counts.allocations);
    }
}

}  // namespace
