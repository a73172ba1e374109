// Prepared token keys and key rings against tokens signed with OpenSSL and
// against the reentrant one-secret functions: the same bytes when minting,
// the same verdict with one key, the matching position with several, and
// which refusals move on to the next key (only a bad signature).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "interop/peer_token.h"
#include "keldo_crypto.h"
#include "test_platform.h"

namespace {

constexpr int64_t kNow = 1700000000;

std::string num(int64_t v) { return std::to_string(v); }

std::string claims(const std::string &extra = "", int64_t exp = kNow + 600,
                   int64_t nbf = kNow) {
    return "{\"sub\":\"u1\",\"email\":\"u1@x.org\",\"iss\":\"keldo\",\"exp\":" + num(exp) +
           ",\"nbf\":" + num(nbf) + extra + "}";
}

// Secrets of the shapes HMAC treats differently: short, a whole block, longer
// than a block (hashed first), and bytes with NUL inside.
const std::vector<std::string> kSecrets = {
    "current", std::string(64, 'k'), std::string(65, 'L'), std::string("n\0ul\xff", 5),
    "previous-secret-of-a-login-service",
};

struct Ring {
    std::vector<keldo_jwt_key> keys;
    explicit Ring(const std::vector<std::string> &secrets) : keys(secrets.size()) {
        for (size_t i = 0; i < secrets.size(); ++i)
            EXPECT_EQ(keldo_jwt_key_init(&keys[i], secrets[i].data(), secrets[i].size()),
                      KELDO_OK);
    }
    ~Ring() {
        for (keldo_jwt_key &k : keys) keldo_jwt_key_wipe(&k);
    }
    uint32_t size() const { return uint32_t(keys.size()); }
};

struct Verdict {
    int32_t rc;
    std::string sub, email;
    int64_t exp;
    uint32_t index;
};

Verdict verify(const Ring &ring, const std::string &token) {
    char sub[64] = "untouched", email[128] = "untouched";
    int64_t exp = -7;
    uint32_t index = 99;
    int32_t rc = keldo_jwt_verify_k(ring.keys.data(), ring.size(), token.c_str(), sub, email,
                                    &exp, &index);
    return {rc, sub, email, exp, index};
}

class JwtKeys : public ::testing::Test {
protected:
    void SetUp() override { test_platform::set_clock(kNow); }
    void TearDown() override { test_platform::use_real_clock(); }
};

TEST_F(JwtKeys, TheStructHasItsDocumentedSize) {
    EXPECT_EQ(sizeof(keldo_jwt_key), size_t(KELDO_JWT_KEY_SIZE));
    EXPECT_EQ(alignof(keldo_jwt_key), alignof(uint64_t));
    EXPECT_GE(KELDO_JWT_KEYS_MAX, 8);
}

TEST_F(JwtKeys, InitRefusesWhatMintRRefuses) {
    keldo_jwt_key key;
    struct Case {
        const char *what;
        keldo_jwt_key *key;
        const void *secret;
        uint64_t len;
        int32_t rc;
    } cases[] = {
        {"null key", nullptr, "s", 1, KELDO_E_KEY_NULL_ARGUMENT},
        {"null secret with a length", &key, nullptr, 3, KELDO_E_KEY_NULL_ARGUMENT},
        {"null empty secret", &key, nullptr, 0, KELDO_E_KEY_EMPTY_SECRET},
        {"empty secret", &key, "", 0, KELDO_E_KEY_EMPTY_SECRET},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // Start from a working key: a refused init must not leave it usable.
        ASSERT_EQ(keldo_jwt_key_init(&key, "old", 3), KELDO_OK);
        EXPECT_EQ(keldo_jwt_key_init(c.key, c.secret, c.len), c.rc);
        char token[KELDO_JWT_TOKEN_MAX];
        EXPECT_EQ(keldo_jwt_mint_k(&key, "u", "e", 60, token, sizeof token, nullptr),
                  c.key == nullptr ? KELDO_OK : KELDO_E_KEY_NOT_INITIALISED);
    }
    keldo_jwt_key_wipe(nullptr);  // ignored
}

// A key never initialised, zeroed, wiped, or filled with other bytes is
// refused wherever it stands in a ring, before the token is looked at.
TEST_F(JwtKeys, KeysThatWereNotInitialisedAreRefused) {
    Ring good({"a", "b"});
    const std::string token = peer::sign_json("a", claims());
    keldo_jwt_key bad;
    for (int fill : {0x00, 0xff, 0x6b}) {
        SCOPED_TRACE(fill);
        memset(&bad, fill, sizeof bad);
        char out[KELDO_JWT_TOKEN_MAX] = "untouched";
        uint64_t size = 0;
        EXPECT_EQ(keldo_jwt_mint_k(&bad, "u", "e", 60, out, sizeof out, &size),
                  KELDO_E_KEY_NOT_INITIALISED);
        EXPECT_STREQ(out, "untouched");
        EXPECT_EQ(size, 0u);
        for (size_t pos = 0; pos < 3; ++pos) {
            std::vector<keldo_jwt_key> ring = good.keys;
            ring.insert(ring.begin() + long(pos), bad);
            uint32_t index = 99;
            EXPECT_EQ(keldo_jwt_verify_k(ring.data(), uint32_t(ring.size()), token.c_str(),
                                         nullptr, nullptr, nullptr, &index),
                      KELDO_E_KEY_NOT_INITIALISED);
            EXPECT_EQ(keldo_jwt_verify_k(ring.data(), uint32_t(ring.size()), "no dots",
                                         nullptr, nullptr, nullptr, &index),
                      KELDO_E_KEY_NOT_INITIALISED);
            EXPECT_EQ(index, 99u);
        }
    }
    keldo_jwt_key wiped;
    ASSERT_EQ(keldo_jwt_key_init(&wiped, "a", 1), KELDO_OK);
    keldo_jwt_key_wipe(&wiped);
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(&wiped);
    for (size_t i = 0; i < sizeof wiped; ++i) EXPECT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(keldo_jwt_verify_k(&wiped, 1, token.c_str(), nullptr, nullptr, nullptr, nullptr),
              KELDO_E_KEY_NOT_INITIALISED);
}

TEST_F(JwtKeys, ArgumentChecks) {
    Ring ring({"a"});
    const std::string token = peer::sign_json("a", claims());
    char out[KELDO_JWT_TOKEN_MAX];
    EXPECT_EQ(keldo_jwt_mint_k(nullptr, "u", "e", 60, out, sizeof out, nullptr),
              KELDO_E_MINT_NULL_ARGUMENT);
    EXPECT_EQ(keldo_jwt_mint_k(ring.keys.data(), nullptr, "e", 60, out, sizeof out, nullptr),
              KELDO_E_MINT_NULL_ARGUMENT);
    EXPECT_EQ(keldo_jwt_mint_k(ring.keys.data(), "u", nullptr, 60, out, sizeof out, nullptr),
              KELDO_E_MINT_NULL_ARGUMENT);
    EXPECT_EQ(keldo_jwt_mint_k(ring.keys.data(), "u", "e", 60, nullptr, 10, nullptr),
              KELDO_E_MINT_NULL_ARGUMENT);
    EXPECT_EQ(keldo_jwt_verify_k(nullptr, 1, token.c_str(), nullptr, nullptr, nullptr, nullptr),
              KELDO_E_VERIFY_NULL_ARGUMENT);
    EXPECT_EQ(keldo_jwt_verify_k(ring.keys.data(), 1, nullptr, nullptr, nullptr, nullptr,
                                 nullptr),
              KELDO_E_VERIFY_NULL_ARGUMENT);
    EXPECT_EQ(keldo_jwt_verify_k(ring.keys.data(), 0, token.c_str(), nullptr, nullptr, nullptr,
                                 nullptr),
              KELDO_E_KEY_COUNT);
    std::vector<keldo_jwt_key> many(KELDO_JWT_KEYS_MAX + 1, ring.keys[0]);
    EXPECT_EQ(keldo_jwt_verify_k(many.data(), KELDO_JWT_KEYS_MAX + 1, token.c_str(), nullptr,
                                 nullptr, nullptr, nullptr),
              KELDO_E_KEY_COUNT);
    uint32_t index = 99;
    EXPECT_EQ(keldo_jwt_verify_k(many.data(), KELDO_JWT_KEYS_MAX, token.c_str(), nullptr,
                                 nullptr, nullptr, &index),
              KELDO_OK);
    EXPECT_EQ(index, 0u);
}

// The same token, byte for byte, as keldo_jwt_mint_r with the same secret,
// and the same answers to a buffer that is too small or a size query.
TEST_F(JwtKeys, MintKWritesWhatMintRWrites) {
    for (const std::string &secret : kSecrets) {
        SCOPED_TRACE(secret.size());
        keldo_jwt_key key;
        ASSERT_EQ(keldo_jwt_key_init(&key, secret.data(), secret.size()), KELDO_OK);
        for (const char *sub : {"", "u1", "J\xc3\xb6rg \"quoted\" \\ \x01"}) {
            char a[KELDO_JWT_TOKEN_MAX], b[KELDO_JWT_TOKEN_MAX];
            uint64_t na = 0, nb = 0;
            ASSERT_EQ(keldo_jwt_mint_r(secret.data(), secret.size(), sub, "m@x", 3600, a,
                                       sizeof a, &na),
                      KELDO_OK);
            ASSERT_EQ(keldo_jwt_mint_k(&key, sub, "m@x", 3600, b, sizeof b, &nb), KELDO_OK);
            EXPECT_STREQ(a, b);
            EXPECT_EQ(na, nb);
            // And OpenSSL agrees on the signature.
            std::optional<peer::Segments> seg = peer::split(b);
            ASSERT_TRUE(seg);
            EXPECT_EQ(seg->signature,
                      peer::signature(secret, seg->header + "." + seg->payload));
            uint64_t need = 0;
            EXPECT_EQ(keldo_jwt_mint_k(&key, sub, "m@x", 3600, nullptr, 0, &need),
                      KELDO_E_TOKEN_BUFFER_TOO_SMALL);
            EXPECT_EQ(need, nb);
            EXPECT_EQ(keldo_jwt_mint_k(&key, sub, "m@x", 3600, b, nb - 1, nullptr),
                      KELDO_E_TOKEN_BUFFER_TOO_SMALL);
        }
        const std::string long_sub(2000, 's');
        char out[KELDO_JWT_TOKEN_MAX];
        EXPECT_EQ(keldo_jwt_mint_k(&key, long_sub.c_str(), "m", 60, out, sizeof out, nullptr),
                  keldo_jwt_mint_r(secret.data(), secret.size(), long_sub.c_str(), "m", 60, out,
                                   sizeof out, nullptr));
        keldo_jwt_key_wipe(&key);
    }
}

// A token signed (by OpenSSL) with any ring key verifies at that key's
// position; a token signed with a key outside the ring is a bad signature.
TEST_F(JwtKeys, EachKeyOfTheRingIsFoundAtItsPosition) {
    Ring ring(kSecrets);
    for (size_t i = 0; i < kSecrets.size(); ++i) {
        SCOPED_TRACE(i);
        Verdict v = verify(ring, peer::sign_json(kSecrets[i], claims()));
        EXPECT_EQ(v.rc, KELDO_OK);
        EXPECT_EQ(v.index, i);
        EXPECT_EQ(v.sub, "u1");
        EXPECT_EQ(v.email, "u1@x.org");
        EXPECT_EQ(v.exp, kNow + 600);
    }
    Verdict v = verify(ring, peer::sign_json("retired", claims()));
    EXPECT_EQ(v.rc, KELDO_E_BAD_SIGNATURE);
    EXPECT_EQ(v.index, 99u);
    EXPECT_EQ(v.sub, "untouched");
    // The key index may be left out.
    const std::string token = peer::sign_json(kSecrets[3], claims());
    EXPECT_EQ(keldo_jwt_verify_k(ring.keys.data(), ring.size(), token.c_str(), nullptr, nullptr,
                                 nullptr, nullptr),
              KELDO_OK);
    // The same key twice: the first position is reported.
    Ring twice({"x", "a", "a"});
    EXPECT_EQ(verify(twice, peer::sign_json("a", claims())).index, 1u);
}

// Which refusals try the next key: only a bad signature. Each token is
// signed with the ring's second key, so a verifier that moved on after any
// refusal of the first key would report a bad signature instead.
TEST_F(JwtKeys, OnlyABadSignatureMovesOnToTheNextKey) {
    const std::string first = "first", second = "second";
    Ring ring({first, second});
    const std::string good = peer::sign_json(second, claims());
    std::optional<peer::Segments> seg = peer::split(good);
    ASSERT_TRUE(seg);
    struct Case {
        const char *what;
        std::string token;
        int32_t rc;
    } cases[] = {
        {"no dot", "abc", KELDO_E_MISSING_FIRST_DOT},
        {"one dot", seg->header + "." + seg->payload, KELDO_E_MISSING_SECOND_DOT},
        {"three dots", good + ".x", KELDO_E_EXTRA_SEGMENTS},
        {"signature of 42 characters", good.substr(0, good.size() - 1),
         KELDO_E_SIGNATURE_FORMAT},
        {"signature not base64url", seg->header + "." + seg->payload + "." +
                                        std::string(42, '*') + "A",
         KELDO_E_SIGNATURE_FORMAT},
        {"signed by neither", peer::sign_json("third", claims()), KELDO_E_BAD_SIGNATURE},
        {"expired", peer::sign_json(second, claims("", kNow - 1)), KELDO_E_EXPIRED},
        {"not yet valid", peer::sign_json(second, claims("", kNow + 600, kNow + 61)),
         KELDO_E_NOT_YET_VALID},
        {"wrong issuer",
         peer::sign_json(second, "{\"sub\":\"u\",\"email\":\"e\",\"iss\":\"evil\",\"exp\":" +
                                     num(kNow + 9) + "}"),
         KELDO_E_ISS_CLAIM},
        {"payload not JSON", peer::sign_json(second, "{\"sub\":"), KELDO_E_PAYLOAD_JSON},
        {"payload an array", peer::sign_json(second, "[1]"), KELDO_E_PAYLOAD_NOT_OBJECT},
        {"payload not base64url", peer::sign_segments(second, "e30*"), KELDO_E_PAYLOAD_BASE64},
        {"payload too long", peer::sign_segments(second, std::string(2048, 'e')),
         KELDO_E_PAYLOAD_TOO_LONG},
        {"no subject",
         peer::sign_json(second, "{\"email\":\"e\",\"iss\":\"keldo\",\"exp\":" +
                                     num(kNow + 9) + "}"),
         KELDO_E_MISSING_SUB},
        {"duplicate claim", peer::sign_json(second, claims(",\"iss\":\"evil\"")),
         KELDO_E_PAYLOAD_JSON},
        {"valid", good, KELDO_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Verdict v = verify(ring, c.token);
        EXPECT_EQ(v.rc, c.rc) << keldo_crypto_status_text(v.rc);
        EXPECT_EQ(v.index, c.rc == KELDO_OK ? 1u : 99u);
        if (c.rc != KELDO_OK) {
            EXPECT_EQ(v.sub, "untouched");
            EXPECT_EQ(v.email, "untouched");
            EXPECT_EQ(v.exp, -7);
        }
        // With the one key alone the answer is the same, and it is what
        // the one-secret function answers.
        Ring alone({second});
        EXPECT_EQ(verify(alone, c.token).rc, c.rc);
        EXPECT_EQ(keldo_jwt_verify_r(second.data(), second.size(), c.token.c_str(), nullptr,
                                     nullptr, nullptr),
                  c.rc);
    }
}

// Repeated member names of the root object are refused under every verify
// function: readers that take the first and readers that take the last
// (PyJWT, jose) would see different claims in the same token.
TEST_F(JwtKeys, RepeatedMemberNamesAreRefusedEverywhere) {
    const std::string secret = "dup";
    const std::string exp = num(kNow + 600);
    struct Case {
        const char *what;
        std::string json;
        int32_t rc;
    } cases[] = {
        {"exp, the last one past", claims(",\"exp\":1"), KELDO_E_PAYLOAD_JSON},
        {"iss, the last one evil", claims(",\"iss\":\"evil\""), KELDO_E_PAYLOAD_JSON},
        {"sub", "{\"sub\":\"a\",\"sub\":\"b\",\"email\":\"e\",\"iss\":\"keldo\",\"exp\":" + exp + "}",
         KELDO_E_PAYLOAD_JSON},
        {"an unread member", claims(",\"aud\":1,\"aud\":2"), KELDO_E_PAYLOAD_JSON},
        {"spelled with an escape", claims(",\"n\\u0062f\":0"), KELDO_E_PAYLOAD_JSON},
        {"the empty name", claims(",\"\":1,\"\":1"), KELDO_E_PAYLOAD_JSON},
        {"repeated inside a nested object only", claims(",\"x\":{\"a\":1,\"a\":2}"), KELDO_OK},
        {"names that differ in case", claims(",\"EXP\":1,\"Exp\":2"), KELDO_OK},
        {"names that share a prefix", claims(",\"ex\":1,\"expx\":2"), KELDO_OK},
    };
    // Many distinct names, and many names of which the last repeats the first.
    std::string many = ",\"m0\":0";
    for (int i = 1; i < 150; ++i) many += ",\"m" + std::to_string(i) + "\":0";
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.push_back({"150 distinct extra names", claims(many), KELDO_OK});
    all.push_back({"150 names, the last repeating the first", claims(many + ",\"m0\":1"),
                   KELDO_E_PAYLOAD_JSON});
    Ring ring({secret});
    for (const Case &c : all) {
        SCOPED_TRACE(c.what);
        const std::string token = peer::sign_json(secret, c.json);
        EXPECT_EQ(verify(ring, token).rc, c.rc);
        EXPECT_EQ(keldo_jwt_verify_r(secret.data(), secret.size(), token.c_str(), nullptr,
                                     nullptr, nullptr),
                  c.rc);
        EXPECT_EQ(keldo_jwt_verify(secret.c_str(), token.c_str(), nullptr, nullptr, nullptr),
                  c.rc == KELDO_OK ? 0 : -1);
        if (c.rc != KELDO_OK) {
            EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: invalid payload JSON");
        }
    }
}

// An nbf beyond the signed 64-bit range lies in the future of any clock.
TEST_F(JwtKeys, NbfBeyondSixtyFourBitsIsNotYetValid) {
    const std::string secret = "nbf";
    const std::string exp = num(kNow + 600);
    auto with_nbf = [&](const std::string &nbf) {
        return "{\"sub\":\"u\",\"email\":\"e\",\"iss\":\"keldo\",\"exp\":" + exp +
               ",\"nbf\":" + nbf + "}";
    };
    struct Case {
        const char *nbf;
        int32_t rc;
    } cases[] = {
        {"9223372036854775807", KELDO_E_NOT_YET_VALID},   // 2^63 - 1
        {"9223372036854775808", KELDO_E_NOT_YET_VALID},   // 2^63, read as -2^63 before
        {"18446744073709551615", KELDO_E_NOT_YET_VALID},  // 2^64 - 1, read as -1 before
        {"18446744073709551616", KELDO_E_NOT_YET_VALID},  // beyond 64 bits: a real
        {"1e19", KELDO_E_NOT_YET_VALID},
        {"-9223372036854775808", KELDO_OK},
        {"1700000060", KELDO_OK},
        {"1700000061", KELDO_E_NOT_YET_VALID},
        {"1.5", KELDO_OK},  // a real within range: not an integer, disregarded
        {"\"9999999999\"", KELDO_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.nbf);
        const std::string token = peer::sign_json(secret, with_nbf(c.nbf));
        EXPECT_EQ(keldo_jwt_verify_r(secret.data(), secret.size(), token.c_str(), nullptr,
                                     nullptr, nullptr),
                  c.rc);
        EXPECT_EQ(keldo_jwt_verify(secret.c_str(), token.c_str(), nullptr, nullptr, nullptr),
                  c.rc == KELDO_OK ? 0 : -1);
    }
}

}  // namespace
