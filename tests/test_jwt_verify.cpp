// Token verification: every refusal in check order with its message, the
// accepted variants, the clock boundaries and which outputs get written.
// Tokens are signed here with OpenSSL, so payloads that minting never
// produces can be tried.
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
const std::string kSecret = "verify-secret";
const std::string kNowText = std::to_string(kNow);

std::string num(int64_t v) { return std::to_string(v); }

// A payload with all claims valid at kNow; parts replace single members.
std::string claims(const std::string &sub = "\"u1\"", const std::string &email = "\"u1@x.org\"",
                   const std::string &iss = "\"keldo\"", const std::string &exp = num(kNow + 600),
                   const std::string &nbf = kNowText) {
    std::string json = "{";
    auto add = [&json](const char *key, const std::string &value) {
        if (value.empty()) return;  // left out
        if (json.size() > 1) json += ",";
        json += std::string("\"") + key + "\":" + value;
    };
    add("sub", sub);
    add("email", email);
    add("iss", iss);
    add("exp", exp);
    add("nbf", nbf);
    return json + "}";
}
const std::string kOmit;  // a member left out of claims()

std::string token_for(const std::string &json) { return peer::sign_json(kSecret, json); }

// The output buffers, filled with a canary before each call.
struct Outputs {
    char sub[64];
    char email[128];
    int64_t exp;
    Outputs() {
        memset(sub, 0xA5, sizeof sub);
        memset(email, 0xA5, sizeof email);
        exp = 0x0123456789ABCDEF;
    }
    bool sub_untouched() const { return memcmp(sub, Outputs().sub, sizeof sub) == 0; }
    bool email_untouched() const { return memcmp(email, Outputs().email, sizeof email) == 0; }
    bool exp_untouched() const { return exp == Outputs().exp; }
};

struct Result {
    int32_t rc;
    std::string message;
    Outputs out;
};

Result verify(const std::string &token, const std::string &secret = kSecret) {
    Result r;
    r.rc = keldo_jwt_verify(secret.c_str(), token.c_str(), r.out.sub, r.out.email, &r.out.exp);
    r.message = keldo_crypto_last_error();
    return r;
}

void expect_accepted(const std::string &token, const std::string &sub,
                     const std::string &email, int64_t exp) {
    Result r = verify(token);
    ASSERT_EQ(r.rc, 0) << r.message;
    EXPECT_EQ(std::string(r.out.sub), sub);
    EXPECT_EQ(std::string(r.out.email), email);
    EXPECT_EQ(r.out.exp, exp);
}

struct Refusal {
    const char *what;
    std::string token;
    const char *message;
};

class JwtVerify : public testing::Test {
protected:
    test_platform::ScopedClock clock_{kNow};
};

TEST_F(JwtVerify, RefusesInCheckOrderWithItsMessage) {
    const std::string good = token_for(claims());
    const peer::Segments seg = *peer::split(good);
    const std::string sig = seg.signature;
    const std::string input = seg.header + "." + seg.payload;
    const std::string other_payload = peer::b64url(claims("\"u2\""));
    const std::string long_payload = peer::b64url(std::string(1536, '{'));  // 2048 characters
    const std::string sig42 = sig.substr(0, 42);
    const std::string wrong_sig = peer::signature("other", input);

    const Refusal cases[] = {
        {"no dot", "abc", "jwt_verify: malformed token (missing first dot)"},
        {"empty text", "", "jwt_verify: malformed token (missing first dot)"},
        {"one dot", input, "jwt_verify: malformed token (missing second dot)"},
        {"three dots", good + ".x", "jwt_verify: malformed token (extra segments)"},
        {"dot at the end", good + ".", "jwt_verify: malformed token (extra segments)"},
        {"dot in the signature", input + "." + sig.substr(0, 20) + "." + sig.substr(20),
         "jwt_verify: malformed token (extra segments)"},

        {"empty signature", input + ".", "jwt_verify: invalid signature format or length"},
        {"42 characters", input + "." + sig42, "jwt_verify: invalid signature format or length"},
        {"44 characters", input + "." + sig + "A", "jwt_verify: invalid signature format or length"},
        {"foreign character", input + "." + sig42 + "*",
         "jwt_verify: invalid signature format or length"},
        {"single character", input + ".A", "jwt_verify: invalid signature format or length"},
        {"format before payload checks", "h." + std::string(3000, '!') + "." + sig42,
         "jwt_verify: invalid signature format or length"},

        {"other secret", peer::sign_json("other", claims()),
         "jwt_verify: signature verification failed"},
        {"header changed", "x" + good, "jwt_verify: signature verification failed"},
        {"payload changed", seg.header + "." + other_payload + "." + sig,
         "jwt_verify: signature verification failed"},
        {"signature before payload length", peer::sign_segments("other", long_payload),
         "jwt_verify: signature verification failed"},
        {"signature before payload decoding", peer::sign_segments("other", "!!!!"),
         "jwt_verify: signature verification failed"},

        {"2048-character payload", peer::sign_segments(kSecret, long_payload),
         "jwt_verify: payload segment too long"},
        {"length before decoding", peer::sign_segments(kSecret, std::string(2048, '!')),
         "jwt_verify: payload segment too long"},

        {"one character left over", peer::sign_segments(kSecret, "eyJ9A"),
         "jwt_verify: base64url decode payload failed"},
        {"foreign character", peer::sign_segments(kSecret, "e*J9"),
         "jwt_verify: base64url decode payload failed"},

        {"empty payload", peer::sign_segments(kSecret, ""), "jwt_verify: invalid payload JSON"},
        {"unclosed object", token_for("{\"iss\":\"keldo\""), "jwt_verify: invalid payload JSON"},
        {"trailing comma", token_for("{\"iss\":\"keldo\",}"), "jwt_verify: invalid payload JSON"},
        {"comment", token_for("/**/" + claims()), "jwt_verify: invalid payload JSON"},
        {"NaN", token_for("{\"exp\":NaN}"), "jwt_verify: invalid payload JSON"},
        {"byte-order mark", token_for("\xef\xbb\xbf" + claims()),
         "jwt_verify: invalid payload JSON"},
        {"second value", token_for(claims() + " {}"), "jwt_verify: invalid payload JSON"},
        {"invalid UTF-8", token_for(claims("\"\xff\"")), "jwt_verify: invalid payload JSON"},
        {"single quotes", token_for("{'iss':'keldo'}"), "jwt_verify: invalid payload JSON"},

        {"array", token_for("[" + claims() + "]"), "jwt_verify: payload root is not an object"},
        {"string", token_for("\"keldo\""), "jwt_verify: payload root is not an object"},
        {"number", token_for("1"), "jwt_verify: payload root is not an object"},
        {"null", token_for("null"), "jwt_verify: payload root is not an object"},

        {"no claims at all", token_for("{}"), "jwt_verify: invalid or missing 'iss' claim"},
        {"iss missing", token_for(claims("\"u1\"", "\"e\"", kOmit)),
         "jwt_verify: invalid or missing 'iss' claim"},
        {"iss in capitals", token_for(claims("\"u1\"", "\"e\"", "\"KELDO\"")),
         "jwt_verify: invalid or missing 'iss' claim"},
        {"iss as number", token_for(claims("\"u1\"", "\"e\"", "5")),
         "jwt_verify: invalid or missing 'iss' claim"},
        {"iss null", token_for(claims("\"u1\"", "\"e\"", "null")),
         "jwt_verify: invalid or missing 'iss' claim"},
        {"iss prefix", token_for(claims("\"u1\"", "\"e\"", "\"keld\"")),
         "jwt_verify: invalid or missing 'iss' claim"},
        {"iss longer", token_for(claims("\"u1\"", "\"e\"", "\"keldo2\"")),
         "jwt_verify: invalid or missing 'iss' claim"},
        {"iss with NUL tail", token_for(claims("\"u1\"", "\"e\"", "\"keldo\\u0000tail\"")),
         "jwt_verify: invalid or missing 'iss' claim"},

        {"exp missing", token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", kOmit)),
         "jwt_verify: missing 'exp' claim"},
        {"exp 1.5", token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", "1.5")),
         "jwt_verify: missing 'exp' claim"},
        {"exp with exponent", token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", "2e9")),
         "jwt_verify: missing 'exp' claim"},
        {"exp as string",
         token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", "\"" + num(kNow + 600) + "\"")),
         "jwt_verify: missing 'exp' claim"},
        {"exp beyond 64 bits",
         token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", "18446744073709551616")),
         "jwt_verify: missing 'exp' claim"},
        {"exp null", token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", "null")),
         "jwt_verify: missing 'exp' claim"},

        {"one second past", token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", num(kNow - 1))),
         "jwt_verify: token has expired"},
        {"exp -1", token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", "-1")),
         "jwt_verify: token has expired"},
        {"exp 2^64-1 is -1",
         token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", "18446744073709551615")),
         "jwt_verify: token has expired"},
        {"exp 2^63 is the lowest",
         token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", "9223372036854775808")),
         "jwt_verify: token has expired"},
        {"expired and not yet valid",
         token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", num(kNow - 1), num(kNow + 1000))),
         "jwt_verify: token has expired"},

        {"nbf 61 seconds ahead",
         token_for(claims(kOmit, kOmit, "\"keldo\"", num(kNow + 600), num(kNow + 61))),
         "jwt_verify: token is not valid yet (nbf in future)"},
        {"nbf 2^63-1", token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", num(kNow + 600),
                                        "9223372036854775807")),
         "jwt_verify: token is not valid yet (nbf in future)"},

        {"sub missing", token_for(claims(kOmit, kOmit)), "jwt_verify: missing 'sub' claim"},
        {"sub as number", token_for(claims("7")), "jwt_verify: missing 'sub' claim"},
        {"sub null", token_for(claims("null")), "jwt_verify: missing 'sub' claim"},
        {"sub of 64 bytes", token_for(claims("\"" + std::string(64, 's') + "\"", kOmit)),
         "jwt_verify: invalid 'sub' claim"},
        {"sub of 100 bytes", token_for(claims("\"" + std::string(100, 's') + "\"")),
         "jwt_verify: invalid 'sub' claim"},
        {"sub holding NUL", token_for(claims("\"ad\\u0000min\"")),
         "jwt_verify: invalid 'sub' claim"},
        {"sub only NUL", token_for(claims("\"\\u0000\"")), "jwt_verify: invalid 'sub' claim"},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.what);
        Result r = verify(c.token);
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.message, c.message);
        EXPECT_TRUE(r.out.sub_untouched());
        EXPECT_TRUE(r.out.email_untouched());
        EXPECT_TRUE(r.out.exp_untouched());
    }
}

TEST_F(JwtVerify, EmailRefusalLeavesTheSubjectWritten) {
    const Refusal cases[] = {
        {"email missing", token_for(claims("\"u1\"", kOmit)), "jwt_verify: missing 'email' claim"},
        {"email as number", token_for(claims("\"u1\"", "5")), "jwt_verify: missing 'email' claim"},
        {"email of 128 bytes", token_for(claims("\"u1\"", "\"" + std::string(128, 'e') + "\"")),
         "jwt_verify: invalid 'email' claim"},
        {"email holding NUL", token_for(claims("\"u1\"", "\"a@b\\u0000.evil\"")),
         "jwt_verify: invalid 'email' claim"},
    };
    for (const Refusal &c : cases) {
        SCOPED_TRACE(c.what);
        Result r = verify(c.token);
        EXPECT_EQ(r.rc, -1);
        EXPECT_EQ(r.message, c.message);
        EXPECT_STREQ(r.out.sub, "u1");
        EXPECT_TRUE(r.out.email_untouched());
        EXPECT_TRUE(r.out.exp_untouched());
    }
}

TEST_F(JwtVerify, NullArgumentsAndNullOutputs) {
    const std::string good = token_for(claims());
    EXPECT_EQ(keldo_jwt_verify(nullptr, good.c_str(), nullptr, nullptr, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: null secret or token");
    EXPECT_EQ(keldo_jwt_verify(kSecret.c_str(), nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: null secret or token");

    // Without outputs the checks are the same, the identity ones included.
    EXPECT_EQ(keldo_jwt_verify(kSecret.c_str(), good.c_str(), nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: null secret or token");
    const std::string long_sub = token_for(claims("\"" + std::string(64, 's') + "\""));
    EXPECT_EQ(keldo_jwt_verify(kSecret.c_str(), long_sub.c_str(), nullptr, nullptr, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: invalid 'sub' claim");
    const std::string nul_email = token_for(claims("\"u1\"", "\"\\u0000\""));
    EXPECT_EQ(keldo_jwt_verify(kSecret.c_str(), nul_email.c_str(), nullptr, nullptr, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: invalid 'email' claim");
    const std::string expired = token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", num(kNow - 1)));
    EXPECT_EQ(keldo_jwt_verify(kSecret.c_str(), expired.c_str(), nullptr, nullptr, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: token has expired");
}

TEST_F(JwtVerify, AcceptsWhatTheClaimRulesAllow) {
    struct Accepted {
        const char *what;
        std::string json;
        std::string sub, email;
        int64_t exp;
    };
    const int64_t exp = kNow + 600;
    const std::string e = "\"u1@x.org\"";
    const std::string s63(63, 's'), e127(127, 'e');
    const Accepted cases[] = {
        {"all five", claims(), "u1", "u1@x.org", exp},
        {"exp equal to the clock", claims("\"u1\"", e, "\"keldo\"", kNowText), "u1", "u1@x.org",
         kNow},
        {"no nbf", claims("\"u1\"", e, "\"keldo\"", num(exp), kOmit), "u1", "u1@x.org", exp},
        {"nbf 60 seconds ahead", claims("\"u1\"", e, "\"keldo\"", num(exp), num(kNow + 60)), "u1",
         "u1@x.org", exp},
        {"nbf as string", claims("\"u1\"", e, "\"keldo\"", num(exp), "\"9999999999\""), "u1",
         "u1@x.org", exp},
        {"nbf as real", claims("\"u1\"", e, "\"keldo\"", num(exp), "9999999999.5"), "u1",
         "u1@x.org", exp},
        {"nbf null", claims("\"u1\"", e, "\"keldo\"", num(exp), "null"), "u1", "u1@x.org", exp},
        {"nbf -2^63", claims("\"u1\"", e, "\"keldo\"", num(exp), "-9223372036854775808"), "u1",
         "u1@x.org", exp},
        {"exp 2^63-1", claims("\"u1\"", e, "\"keldo\"", "9223372036854775807"), "u1", "u1@x.org",
         INT64_MAX},
        {"other order, extra members, whitespace",
         " {\n\t\"nbf\" : " + kNowText + " , \"aud\":[1,{}], \"email\":\"m\", \"iat\":0,"
         " \"exp\": " + num(exp) + ", \"sub\":\"u9\", \"iss\" :\"keldo\" } ",
         "u9", "m", exp},
        {"escaped keys and values",
         "{\"\\u0073ub\":\"Jos\\u00e9\",\"email\":\"a\\/b\",\"iss\":\"keld\\u006f\",\"exp\":" +
             num(exp) + "}",
         "Jos\xc3\xa9", "a/b", exp},
        {"63-byte sub, 127-byte email", claims("\"" + s63 + "\"", "\"" + e127 + "\""), s63, e127,
         exp},
        {"empty sub and email", claims("\"\"", "\"\""), "", "", exp},
    };
    for (const Accepted &c : cases) {
        SCOPED_TRACE(c.what);
        expect_accepted(token_for(c.json), c.sub, c.email, c.exp);
    }
}

TEST_F(JwtVerify, TheHeaderIsOnlySigned) {
    const std::string json = claims();
    const std::string headers[] = {"", peer::b64url("{\"alg\":\"none\",\"typ\":\"JWT\"}"),
                                   peer::b64url("{\"alg\":\"RS256\"}"), "not base64 at all!",
                                   std::string(5000, 'h')};
    for (const std::string &header : headers) {
        SCOPED_TRACE(header.substr(0, 40));
        expect_accepted(peer::sign_json(kSecret, json, header), "u1", "u1@x.org", kNow + 600);
    }
}

TEST_F(JwtVerify, AcceptsEverySpellingOfTheSignature) {
    // Find a signature holding both '-' and '_' (about one in four does).
    std::string sub, sig, input;
    for (int i = 0; i < 200 && !(sig.find('-') != sig.npos && sig.find('_') != sig.npos); ++i) {
        sub = 'u' + std::to_string(i);
        peer::Segments seg = *peer::split(token_for(claims("\"" + sub + "\"")));
        sig = seg.signature;
        input = seg.header + "." + seg.payload;
    }
    ASSERT_NE(sig.find('-'), std::string::npos);
    ASSERT_NE(sig.find('_'), std::string::npos);

    std::string standard = sig;
    for (char &c : standard) c = c == '-' ? '+' : c == '_' ? '/' : c;
    // The last character carries four bits of the digest and two unused ones.
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    const size_t last = alphabet.find(sig.back());
    std::vector<std::string> spellings = {sig + "=", sig + "==", sig + "\n", sig + "=\r\n",
                                          sig + " ", standard};
    for (size_t low = 1; low < 4; ++low) spellings.push_back(sig.substr(0, 42) + alphabet[last ^ low]);
    for (const std::string &spelling : spellings) {
        SCOPED_TRACE(testing::PrintToString(spelling));
        Result r = verify(input + "." + spelling);
        EXPECT_EQ(r.rc, 0) << r.message;
        EXPECT_EQ(std::string(r.out.sub), sub);
    }
    // A changed data bit in the last character is a different digest.
    EXPECT_EQ(verify(input + "." + sig.substr(0, 42) + alphabet[last ^ 4]).message,
              "jwt_verify: signature verification failed");
}

TEST_F(JwtVerify, LargestPayloadSegmentVerifies) {
    // A 1535-byte payload is a 2047-character segment, the most accepted.
    std::string json = claims();
    json.insert(json.size() - 1, ",\"pad\":\"\"");
    json.insert(json.size() - 2, std::string(1535 - json.size(), 'p'));
    ASSERT_EQ(json.size(), 1535u);
    const std::string token = token_for(json);
    ASSERT_EQ(peer::split(token)->payload.size(), 2047u);
    expect_accepted(token, "u1", "u1@x.org", kNow + 600);
}

TEST_F(JwtVerify, SuccessKeepsTheLastMessage) {
    EXPECT_EQ(verify("no-dots").rc, -1);
    EXPECT_EQ(verify(token_for(claims())).rc, 0);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: malformed token (missing first dot)");
}

TEST_F(JwtVerify, EmptySecretSignsAndVerifies) {
    const std::string token = peer::sign_json("", claims());
    EXPECT_EQ(verify(token, "").rc, 0);
    EXPECT_EQ(verify(token, "x").message, "jwt_verify: signature verification failed");
}

// The clock is read through the platform layer: boundaries are pinned, not
// waited for.
TEST(JwtVerifyClock, ExpiryHasNoLeewayNotBeforeHasSixtySeconds) {
    const std::string token =
        token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", num(kNow + 100), num(kNow)));
    struct Case {
        int64_t now;
        const char *message;  // null: accepted
    };
    const Case cases[] = {
        {kNow - 61, "jwt_verify: token is not valid yet (nbf in future)"},
        {kNow - 60, nullptr},
        {kNow + 100, nullptr},
        {kNow + 101, "jwt_verify: token has expired"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.now);
        test_platform::ScopedClock clock(c.now);
        Result r = verify(token);
        if (c.message == nullptr) {
            EXPECT_EQ(r.rc, 0) << r.message;
            EXPECT_EQ(r.out.exp, kNow + 100);
        } else {
            EXPECT_EQ(r.rc, -1);
            EXPECT_EQ(r.message, c.message);
        }
    }
}

TEST(JwtVerifyClock, ZeroLifetimeLastsOneSecond) {
    std::string token;
    {
        test_platform::ScopedClock clock(kNow);
        const char *minted = keldo_jwt_mint(kSecret.c_str(), "u", "e", 0);
        ASSERT_NE(minted, nullptr);
        token = minted;
        EXPECT_EQ(verify(token).rc, 0);
    }
    test_platform::ScopedClock later(kNow + 1);
    EXPECT_EQ(verify(token).message, "jwt_verify: token has expired");
}

// The not-before test is the exact comparison nbf - 60 > now, whatever the
// two values (the suite also runs under UBSan).
TEST(JwtVerifyClock, NotBeforeNeverOverflows) {
    struct Case {
        int64_t now, nbf;
        bool refused;
    };
    const Case cases[] = {
        {INT64_MIN, INT64_MIN, false},
        {INT64_MIN, INT64_MIN + 60, false},
        {INT64_MIN, INT64_MIN + 61, true},
        {INT64_MIN, INT64_MAX, true},
        {INT64_MIN, 0, true},
        {0, INT64_MIN, false},
        {0, INT64_MAX, true},
        {-1, 59, false},
        {-1, 60, true},
        {INT64_MAX - 61, INT64_MAX, true},
        {INT64_MAX - 60, INT64_MAX, false},
        {INT64_MAX, INT64_MIN, false},
        {INT64_MAX, INT64_MAX, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "now " << c.now << " nbf " << c.nbf);
        test_platform::ScopedClock clock(c.now);
        Result r = verify(token_for(claims("\"u1\"", "\"e\"", "\"keldo\"", num(INT64_MAX), num(c.nbf))));
        if (c.refused) {
            EXPECT_EQ(r.rc, -1);
            EXPECT_EQ(r.message, "jwt_verify: token is not valid yet (nbf in future)");
        } else {
            EXPECT_EQ(r.rc, 0) << r.message;
        }
    }
}

TEST(JwtVerifyClock, MintedAtTheEndsOfTheClock) {
    const int64_t clocks[] = {INT64_MIN, INT64_MAX};
    for (int64_t now : clocks) {
        SCOPED_TRACE(now);
        test_platform::ScopedClock clock(now);
        const char *minted = keldo_jwt_mint(kSecret.c_str(), "u", "e", 0);
        ASSERT_NE(minted, nullptr);
        Result r = verify(minted);
        EXPECT_EQ(r.rc, 0) << r.message;
        EXPECT_EQ(r.out.exp, now);
    }
}

}  // namespace
