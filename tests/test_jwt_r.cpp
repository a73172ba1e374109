// The reentrant token functions against the thirteen-interface ones and
// against tokens signed with OpenSSL: the same verdict and text for every
// refusal, byte-string secrets (NUL bytes included), the caller's buffer and
// its size, and no write to the last-error text or the shared token buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "interop/peer_token.h"
#include "keldo_crypto.h"
#include "test_platform.h"

namespace {

constexpr int64_t kNow = 1700000000;
const std::string kSecret = "r-secret";  // no NUL: the thirteen can use it too

std::string num(int64_t v) { return std::to_string(v); }

// A JSON string of plain characters. (Appended piece by piece: GCC 12
// misreads "\"" + s + "\"" at -O3 as an overlapping copy.)
std::string quoted(const std::string &s) {
    std::string q = "\"";
    q += s;
    q += '"';
    return q;
}

std::string claims(const std::string &sub, const std::string &email,
                   int64_t exp = kNow + 600, int64_t nbf = kNow) {
    return "{\"sub\":" + sub + ",\"email\":" + email + ",\"iss\":\"keldo\",\"exp\":" +
           num(exp) + ",\"nbf\":" + num(nbf) + "}";
}
const std::string kGood = claims("\"u1\"", "\"u1@x.org\"");

struct Outputs {
    char sub[64];
    char email[128];
    int64_t exp;
    Outputs() {
        memset(sub, 0xA5, sizeof sub);
        memset(email, 0xA5, sizeof email);
        exp = 0x0123456789ABCDEF;
    }
    bool untouched() const {
        const Outputs fresh;
        return memcmp(sub, fresh.sub, sizeof sub) == 0 &&
               memcmp(email, fresh.email, sizeof email) == 0 && exp == fresh.exp;
    }
};

// Puts a known text into the last-error buffer, to see that a call leaves it.
void mark_last_error() {
    ASSERT_EQ(keldo_jwt_verify("x", "no dots", nullptr, nullptr, nullptr), -1);
    ASSERT_STREQ(keldo_crypto_last_error(), "jwt_verify: malformed token (missing first dot)");
}

class JwtR : public ::testing::Test {
  protected:
    void SetUp() override { test_platform::set_clock(kNow); }
    void TearDown() override { test_platform::reset(); }
};

// ---- Status codes --------------------------------------------------------

TEST(StatusText, KindsTextsAndUnknownValues) {
    const struct {
        int32_t code;
        int kind;
    } codes[] = {
        {KELDO_E_MINT_NULL_ARGUMENT, KELDO_KIND_INVALID_ARGUMENT},
        {KELDO_E_VERIFY_NULL_ARGUMENT, KELDO_KIND_INVALID_ARGUMENT},
        {KELDO_E_MINT_EMPTY_SECRET, KELDO_KIND_INVALID_ARGUMENT},
        {KELDO_E_VERIFY_EMPTY_SECRET, KELDO_KIND_INVALID_ARGUMENT},
        {KELDO_E_CLAIMS_TOO_LONG, KELDO_KIND_INVALID_ARGUMENT},
        {KELDO_E_TOKEN_BUFFER_TOO_SMALL, KELDO_KIND_BUFFER_TOO_SMALL},
        {KELDO_E_MISSING_FIRST_DOT, KELDO_KIND_MALFORMED},
        {KELDO_E_MISSING_SECOND_DOT, KELDO_KIND_MALFORMED},
        {KELDO_E_EXTRA_SEGMENTS, KELDO_KIND_MALFORMED},
        {KELDO_E_SIGNATURE_FORMAT, KELDO_KIND_MALFORMED},
        {KELDO_E_PAYLOAD_TOO_LONG, KELDO_KIND_MALFORMED},
        {KELDO_E_PAYLOAD_BASE64, KELDO_KIND_MALFORMED},
        {KELDO_E_PAYLOAD_JSON, KELDO_KIND_MALFORMED},
        {KELDO_E_PAYLOAD_NOT_OBJECT, KELDO_KIND_MALFORMED},
        {KELDO_E_BAD_SIGNATURE, KELDO_KIND_BAD_SIGNATURE},
        {KELDO_E_EXPIRED, KELDO_KIND_EXPIRED},
        {KELDO_E_NOT_YET_VALID, KELDO_KIND_NOT_YET_VALID},
        {KELDO_E_ISS_CLAIM, KELDO_KIND_INVALID_CLAIMS},
        {KELDO_E_MISSING_EXP, KELDO_KIND_INVALID_CLAIMS},
        {KELDO_E_MISSING_SUB, KELDO_KIND_INVALID_CLAIMS},
        {KELDO_E_INVALID_SUB, KELDO_KIND_INVALID_CLAIMS},
        {KELDO_E_MISSING_EMAIL, KELDO_KIND_INVALID_CLAIMS},
        {KELDO_E_INVALID_EMAIL, KELDO_KIND_INVALID_CLAIMS},
        {KELDO_E_MINT_DOCUMENT, KELDO_KIND_INTERNAL},
        {KELDO_E_MINT_BUILD, KELDO_KIND_INTERNAL},
        {KELDO_E_MINT_SERIALIZE, KELDO_KIND_INTERNAL},
        {KELDO_E_MINT_HMAC, KELDO_KIND_INTERNAL},
        {KELDO_E_MINT_SIGNATURE, KELDO_KIND_INTERNAL},
        {KELDO_E_VERIFY_HMAC, KELDO_KIND_INTERNAL},
        {KELDO_E_KEY_NULL_ARGUMENT, KELDO_KIND_INVALID_ARGUMENT},
        {KELDO_E_KEY_EMPTY_SECRET, KELDO_KIND_INVALID_ARGUMENT},
        {KELDO_E_KEY_NOT_INITIALISED, KELDO_KIND_INVALID_ARGUMENT},
        {KELDO_E_KEY_COUNT, KELDO_KIND_INVALID_ARGUMENT},
    };
    std::set<std::string> texts;
    for (const auto &c : codes) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(KELDO_STATUS_KIND(c.code), c.kind);
        const std::string text = keldo_crypto_status_text(c.code);
        const std::string prefix = c.code == KELDO_E_MINT_NULL_ARGUMENT ||
                                           c.code == KELDO_E_MINT_EMPTY_SECRET ||
                                           c.code == KELDO_E_CLAIMS_TOO_LONG ||
                                           c.code == KELDO_E_TOKEN_BUFFER_TOO_SMALL ||
                                           (c.code <= -1001 && c.code >= -1005)
                                       ? "jwt_mint: "
                                   : c.code <= -106 && c.code >= -108 ? "jwt_key: "
                                                                      : "jwt_verify: ";
        EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
        EXPECT_TRUE(texts.insert(text).second) << "two codes share " << text;
    }
    EXPECT_STREQ(keldo_crypto_status_text(KELDO_OK), "OK");
    EXPECT_EQ(KELDO_STATUS_KIND(KELDO_OK), 0);
    for (int32_t unknown : {1, -1, -100, -110, -199, -202, -309, -1007, -1100, INT32_MIN,
                            INT32_MAX})
        EXPECT_STREQ(keldo_crypto_status_text(unknown), "unknown status") << unknown;
}

// ---- Verification --------------------------------------------------------

// Each refusal the verifier can make, on a token signed with OpenSSL: the
// thirteen-interface call gives -1 and a message, the reentrant one the code
// whose text is that message, and writes none of the outputs.
TEST_F(JwtR, EveryVerifyRefusalMatchesTheThirteen) {
    const std::string sig_of_good = peer::split(peer::sign_json(kSecret, kGood))->signature;
    const struct {
        const char *what;
        std::string token;
        int32_t code;
    } cases[] = {
        {"no dot", "abc", KELDO_E_MISSING_FIRST_DOT},
        {"one dot", "abc.def", KELDO_E_MISSING_SECOND_DOT},
        {"three dots", "a.b.c.d", KELDO_E_EXTRA_SEGMENTS},
        {"empty signature", peer::kHeader + "." + peer::b64url(kGood) + ".",
         KELDO_E_SIGNATURE_FORMAT},
        {"signature of 31 bytes",
         peer::kHeader + "." + peer::b64url(kGood) + "." + peer::b64url(std::string(31, 'x')),
         KELDO_E_SIGNATURE_FORMAT},
        {"other secret", peer::sign_json("r-secreT", kGood), KELDO_E_BAD_SIGNATURE},
        {"signature of another payload",
         peer::kHeader + "." + peer::b64url(claims("\"u2\"", "\"e\"")) + "." + sig_of_good,
         KELDO_E_BAD_SIGNATURE},
        {"payload segment of 2048", peer::sign_segments(kSecret, std::string(2048, 'A')),
         KELDO_E_PAYLOAD_TOO_LONG},
        {"payload not base64url", peer::sign_segments(kSecret, "e30*"), KELDO_E_PAYLOAD_BASE64},
        {"empty payload", peer::sign_segments(kSecret, ""), KELDO_E_PAYLOAD_JSON},
        {"payload an array", peer::sign_json(kSecret, "[1,2]"), KELDO_E_PAYLOAD_NOT_OBJECT},
        {"issuer in capitals",
         peer::sign_json(kSecret, "{\"sub\":\"u\",\"email\":\"e\",\"iss\":\"KELDO\",\"exp\":" +
                                      num(kNow + 60) + "}"),
         KELDO_E_ISS_CLAIM},
        {"exp a string",
         peer::sign_json(kSecret, "{\"sub\":\"u\",\"email\":\"e\",\"iss\":\"keldo\",\"exp\":\"" +
                                      num(kNow + 60) + "\"}"),
         KELDO_E_MISSING_EXP},
        {"expired one second ago", peer::sign_json(kSecret, claims("\"u\"", "\"e\"", kNow - 1)),
         KELDO_E_EXPIRED},
        {"nbf 61 s ahead",
         peer::sign_json(kSecret, claims("\"u\"", "\"e\"", kNow + 600, kNow + 61)),
         KELDO_E_NOT_YET_VALID},
        {"sub a number", peer::sign_json(kSecret, claims("7", "\"e\"")), KELDO_E_MISSING_SUB},
        {"sub of 64 bytes",
         peer::sign_json(kSecret, claims(quoted(std::string(64, 's')), "\"e\"")),
         KELDO_E_INVALID_SUB},
        {"email missing",
         peer::sign_json(kSecret, "{\"sub\":\"u\",\"iss\":\"keldo\",\"exp\":" + num(kNow + 60) +
                                      "}"),
         KELDO_E_MISSING_EMAIL},
        {"email with a NUL", peer::sign_json(kSecret, claims("\"u\"", "\"a\\u0000b\"")),
         KELDO_E_INVALID_EMAIL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Outputs thirteen;
        ASSERT_EQ(keldo_jwt_verify(kSecret.c_str(), c.token.c_str(), thirteen.sub,
                                   thirteen.email, &thirteen.exp),
                  -1);
        const std::string message = keldo_crypto_last_error();

        mark_last_error();
        Outputs r;
        const int32_t code = keldo_jwt_verify_r(kSecret.data(), kSecret.size(),
                                                c.token.c_str(), r.sub, r.email, &r.exp);
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(keldo_crypto_status_text(code), message);
        EXPECT_TRUE(r.untouched());
        EXPECT_STREQ(keldo_crypto_last_error(),
                     "jwt_verify: malformed token (missing first dot)");
    }
}

// Secrets are bytes: a NUL inside is part of the key, and a key cut at it
// is another key.
TEST_F(JwtR, SecretsWithNulBytesSignAndVerify) {
    const std::string secrets[] = {
        std::string("\0", 1),
        std::string("a\0b", 3),
        std::string("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 32),
        std::string(64, '\0'),                    // exactly one block
        std::string("long\0", 5) + std::string(95, 'k'),  // hashed first
    };
    for (const std::string &secret : secrets) {
        SCOPED_TRACE(peer::b64url(secret));
        const std::string token = peer::sign_json(secret, kGood);
        Outputs o;
        ASSERT_EQ(keldo_jwt_verify_r(secret.data(), secret.size(), token.c_str(), o.sub,
                                     o.email, &o.exp),
                  KELDO_OK);
        EXPECT_STREQ(o.sub, "u1");
        EXPECT_STREQ(o.email, "u1@x.org");
        EXPECT_EQ(o.exp, kNow + 600);

        // The text before the NUL, and the secret one byte shorter, are
        // other keys.
        const std::string cut = secret.c_str();
        if (!cut.empty()) {
            EXPECT_EQ(keldo_jwt_verify_r(cut.data(), cut.size(), token.c_str(), nullptr,
                                         nullptr, nullptr),
                      KELDO_E_BAD_SIGNATURE);
        }
        // HMAC pads a short key with zero bytes: dropping a trailing NUL
        // leaves the same key, dropping anything else does not.
        EXPECT_EQ(keldo_jwt_verify_r(secret.data(), secret.size() - 1, token.c_str(), nullptr,
                                     nullptr, nullptr),
                  secret.size() == 1          ? KELDO_E_VERIFY_EMPTY_SECRET
                  : secret.back() == '\0' && secret.size() <= 64 ? KELDO_OK
                                                                 : KELDO_E_BAD_SIGNATURE);

        // Minting with the bytes gives OpenSSL's signature over the payload.
        char out[KELDO_JWT_TOKEN_MAX];
        uint64_t size = 0;
        ASSERT_EQ(keldo_jwt_mint_r(secret.data(), secret.size(), "u1", "u1@x.org", 600, out,
                                   sizeof out, &size),
                  KELDO_OK);
        EXPECT_EQ(std::string(out), token);
        EXPECT_EQ(size, token.size() + 1);
    }
}

TEST_F(JwtR, OutputsOnlyOnSuccessAndEachMayBeNull) {
    const std::string token = peer::sign_json(kSecret, kGood);
    for (int mask = 0; mask < 8; ++mask) {
        SCOPED_TRACE(mask);
        Outputs o;
        ASSERT_EQ(keldo_jwt_verify_r(kSecret.data(), kSecret.size(), token.c_str(),
                                     mask & 1 ? o.sub : nullptr, mask & 2 ? o.email : nullptr,
                                     mask & 4 ? &o.exp : nullptr),
                  KELDO_OK);
        const Outputs fresh;
        EXPECT_EQ(mask & 1 ? std::string(o.sub) == "u1"
                           : memcmp(o.sub, fresh.sub, sizeof o.sub) == 0,
                  true);
        EXPECT_EQ(mask & 2 ? std::string(o.email) == "u1@x.org"
                           : memcmp(o.email, fresh.email, sizeof o.email) == 0,
                  true);
        EXPECT_EQ(o.exp, mask & 4 ? kNow + 600 : fresh.exp);
    }
    // A sub of 63 bytes and an email of 127 fill the documented buffers.
    const std::string sub(63, 's'), email(127, 'e');
    const std::string full = peer::sign_json(kSecret, claims(quoted(sub), quoted(email)));
    Outputs o;
    ASSERT_EQ(keldo_jwt_verify_r(kSecret.data(), kSecret.size(), full.c_str(), o.sub, o.email,
                                 &o.exp),
              KELDO_OK);
    EXPECT_EQ(std::string(o.sub), sub);
    EXPECT_EQ(std::string(o.email), email);
}

TEST_F(JwtR, ArgumentRefusals) {
    const std::string token = peer::sign_json(kSecret, kGood);
    const char *k = kSecret.c_str();
    const uint64_t n = kSecret.size();
    char out[KELDO_JWT_TOKEN_MAX];
    memset(out, 0x5A, sizeof out);
    const struct {
        const char *what;
        int32_t got;
        int32_t want;
    } cases[] = {
        {"verify: null token", keldo_jwt_verify_r(k, n, nullptr, nullptr, nullptr, nullptr),
         KELDO_E_VERIFY_NULL_ARGUMENT},
        {"verify: null secret with a length",
         keldo_jwt_verify_r(nullptr, 4, token.c_str(), nullptr, nullptr, nullptr),
         KELDO_E_VERIFY_NULL_ARGUMENT},
        {"verify: empty secret", keldo_jwt_verify_r(k, 0, token.c_str(), nullptr, nullptr, nullptr),
         KELDO_E_VERIFY_EMPTY_SECRET},
        {"verify: null empty secret",
         keldo_jwt_verify_r(nullptr, 0, token.c_str(), nullptr, nullptr, nullptr),
         KELDO_E_VERIFY_EMPTY_SECRET},
        {"mint: null sub", keldo_jwt_mint_r(k, n, nullptr, "e", 60, out, sizeof out, nullptr),
         KELDO_E_MINT_NULL_ARGUMENT},
        {"mint: null email", keldo_jwt_mint_r(k, n, "s", nullptr, 60, out, sizeof out, nullptr),
         KELDO_E_MINT_NULL_ARGUMENT},
        {"mint: null secret with a length",
         keldo_jwt_mint_r(nullptr, 1, "s", "e", 60, out, sizeof out, nullptr),
         KELDO_E_MINT_NULL_ARGUMENT},
        {"mint: null out with a size",
         keldo_jwt_mint_r(k, n, "s", "e", 60, nullptr, 100, nullptr), KELDO_E_MINT_NULL_ARGUMENT},
        {"mint: empty secret", keldo_jwt_mint_r(k, 0, "s", "e", 60, out, sizeof out, nullptr),
         KELDO_E_MINT_EMPTY_SECRET},
        {"mint: null empty secret",
         keldo_jwt_mint_r(nullptr, 0, "s", "e", 60, out, sizeof out, nullptr),
         KELDO_E_MINT_EMPTY_SECRET},
        {"mint: sub not UTF-8", keldo_jwt_mint_r(k, n, "\xC3", "e", 60, out, sizeof out, nullptr),
         KELDO_E_MINT_SERIALIZE},
    };
    for (const auto &c : cases) EXPECT_EQ(c.got, c.want) << c.what;
    for (char ch : out) ASSERT_EQ(ch, 0x5A);
    // The thirteen give the same text for the refusals they share.
    ASSERT_EQ(keldo_jwt_mint(k, nullptr, "e", 60), nullptr);
    EXPECT_STREQ(keldo_crypto_last_error(), keldo_crypto_status_text(KELDO_E_MINT_NULL_ARGUMENT));
    ASSERT_EQ(keldo_jwt_mint(k, "\xC3", "e", 60), nullptr);
    EXPECT_STREQ(keldo_crypto_last_error(), keldo_crypto_status_text(KELDO_E_MINT_SERIALIZE));
    ASSERT_EQ(keldo_jwt_verify(nullptr, "a.b.c", nullptr, nullptr, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(),
                 keldo_crypto_status_text(KELDO_E_VERIFY_NULL_ARGUMENT));
}

// ---- Minting -------------------------------------------------------------

TEST_F(JwtR, MintsWhatTheThirteenMint) {
    const struct {
        const char *sub, *email;
        uint32_t ttl;
    } cases[] = {{"user-17", "user17@example.com", 600},
                 {"", "", 0},
                 {"quote \" backslash \\ slash / tab \t", "x@y", 4294967295u},
                 {"Jos\xC3\xA9 \xE2\x98\x83", "\xC3\xBC" "ber@example.com", 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sub);
        const char *thirteen = keldo_jwt_mint(kSecret.c_str(), c.sub, c.email, c.ttl);
        ASSERT_NE(thirteen, nullptr) << keldo_crypto_last_error();
        const std::string want = thirteen;
        char out[KELDO_JWT_TOKEN_MAX];
        uint64_t size = 0;
        ASSERT_EQ(keldo_jwt_mint_r(kSecret.data(), kSecret.size(), c.sub, c.email, c.ttl, out,
                                   sizeof out, &size),
                  KELDO_OK);
        EXPECT_EQ(std::string(out), want);
        EXPECT_EQ(size, want.size() + 1);
        // The signature is OpenSSL's over the same signing input.
        const auto seg = peer::split(want);
        ASSERT_TRUE(seg.has_value());
        EXPECT_EQ(seg->signature, peer::signature(kSecret, seg->header + "." + seg->payload));
    }
}

TEST_F(JwtR, BufferTooSmallReportsTheSizeAndWritesNothing) {
    char probe[KELDO_JWT_TOKEN_MAX];
    uint64_t need = 0;
    // A null buffer of size 0 asks for the size only.
    ASSERT_EQ(keldo_jwt_mint_r(kSecret.data(), kSecret.size(), "u1", "u1@x.org", 600, nullptr,
                               0, &need),
              KELDO_E_TOKEN_BUFFER_TOO_SMALL);
    ASSERT_EQ(keldo_jwt_mint_r(kSecret.data(), kSecret.size(), "u1", "u1@x.org", 600, probe,
                               sizeof probe, nullptr),
              KELDO_OK);
    ASSERT_EQ(need, strlen(probe) + 1);

    for (uint64_t size : {uint64_t(1), need / 2, need - 1}) {
        SCOPED_TRACE(size);
        std::vector<char> out(need + 8, '\x5A');
        uint64_t got = 0;
        EXPECT_EQ(keldo_jwt_mint_r(kSecret.data(), kSecret.size(), "u1", "u1@x.org", 600,
                                   out.data(), size, &got),
                  KELDO_E_TOKEN_BUFFER_TOO_SMALL);
        EXPECT_EQ(got, need);
        for (char ch : out) ASSERT_EQ(ch, '\x5A');
    }
    std::vector<char> exact(need + 1, '\x5A');
    ASSERT_EQ(keldo_jwt_mint_r(kSecret.data(), kSecret.size(), "u1", "u1@x.org", 600,
                               exact.data(), need, nullptr),
              KELDO_OK);
    EXPECT_EQ(std::string(exact.data()), probe);
    EXPECT_EQ(exact[need], '\x5A');
}

// The largest token: claims whose JSON text is 1535 bytes, the most that the
// payload segment's 2047 characters hold, with ten-digit times. It is exactly
// KELDO_JWT_TOKEN_MAX with its terminator; one byte more is refused.
TEST_F(JwtR, TokenMaxIsTheLargestToken) {
    const std::string fixed = claims("\"\"", "\"\"");  // 10-digit exp and nbf
    const size_t room = 1535 - fixed.size();
    const std::string sub(63, 's'), email(room - 63, 'e');
    char out[KELDO_JWT_TOKEN_MAX + 1];
    uint64_t size = 0;
    ASSERT_EQ(keldo_jwt_mint_r(kSecret.data(), kSecret.size(), sub.c_str(), email.c_str(), 600,
                               out, sizeof out, &size),
              KELDO_OK);
    EXPECT_EQ(size, uint64_t(KELDO_JWT_TOKEN_MAX));
    EXPECT_EQ(strlen(out) + 1, size_t(KELDO_JWT_TOKEN_MAX));
    EXPECT_EQ(std::string(out), peer::sign_json(kSecret, claims(quoted(sub), quoted(email))));

    const std::string longer = email + "e";
    EXPECT_EQ(keldo_jwt_mint_r(kSecret.data(), kSecret.size(), sub.c_str(), longer.c_str(), 600,
                               out, sizeof out, &size),
              KELDO_E_CLAIMS_TOO_LONG);
    ASSERT_EQ(keldo_jwt_mint(kSecret.c_str(), sub.c_str(), longer.c_str(), 600), nullptr);
    EXPECT_STREQ(keldo_crypto_last_error(), keldo_crypto_status_text(KELDO_E_CLAIMS_TOO_LONG));
}

// Neither function touches the two process-wide buffers.
TEST_F(JwtR, NoSharedStateWritten) {
    const char *shared = keldo_jwt_mint(kSecret.c_str(), "first", "first@x", 60);
    ASSERT_NE(shared, nullptr);
    const std::string before = shared;
    mark_last_error();

    char out[KELDO_JWT_TOKEN_MAX];
    ASSERT_EQ(keldo_jwt_mint_r(kSecret.data(), kSecret.size(), "second", "second@x", 60, out,
                               sizeof out, nullptr),
              KELDO_OK);
    EXPECT_EQ(keldo_jwt_mint_r(kSecret.data(), kSecret.size(), "s", "e", 60, out, 10, nullptr),
              KELDO_E_TOKEN_BUFFER_TOO_SMALL);
    EXPECT_EQ(keldo_jwt_verify_r(kSecret.data(), kSecret.size(), "x.y.z", nullptr, nullptr,
                                 nullptr),
              KELDO_E_SIGNATURE_FORMAT);
    EXPECT_EQ(keldo_jwt_verify_r(kSecret.data(), kSecret.size(), out, nullptr, nullptr, nullptr),
              KELDO_OK);
    EXPECT_EQ(std::string(shared), before);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: malformed token (missing first dot)");
}

}  // namespace
