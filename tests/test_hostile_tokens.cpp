// Inputs attackers send to the verifier: oversized segments, floods of dots,
// deep nesting, numbers beyond every integer type, broken UTF-8 and escapes,
// duplicate claims. Payloads are signed here with OpenSSL so that they reach
// the JSON stage. Each case is refused with its documented message, or
// accepted where accepting is the documented behaviour, and takes bounded
// time. Built a second time with the heap counter (KELDO_HOSTILE_COUNT_HEAP):
// then every call must release what it allocates, allocate nothing before
// the signature is settled, and stay within a small heap budget whatever
// the size of the token.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "keldo_crypto.h"
#include "test_platform.h"

#if defined(KELDO_HOSTILE_COUNT_HEAP)
#include "alloc_counter.h"
#endif

namespace {

constexpr int64_t kNow = 1700000000;
constexpr char kSecret[] = "hostile-input secret";
constexpr char kHeader[] = "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9";
constexpr size_t kTenMiB = size_t(10) << 20;

std::string b64url(const std::string &data) {
    std::vector<unsigned char> out(4 * ((data.size() + 2) / 3) + 1);
    const int n = EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char *>(data.data()),
                                  int(data.size()));
    std::string s(reinterpret_cast<char *>(out.data()), size_t(n));
    for (char &c : s) c = c == '+' ? '-' : c == '/' ? '_' : c;
    while (!s.empty() && s.back() == '=') s.pop_back();
    return s;
}

std::string signature(const std::string &signing_input) {
    unsigned char mac[32];
    unsigned int n = 0;
    HMAC(EVP_sha256(), kSecret, int(sizeof kSecret - 1),
         reinterpret_cast<const unsigned char *>(signing_input.data()), signing_input.size(),
         mac, &n);
    return b64url(std::string(reinterpret_cast<char *>(mac), n));
}

// header.payload.signature with a correct signature over the raw segments.
std::string signed_segments(const std::string &header, const std::string &payload_segment) {
    const std::string signing_input = header + "." + payload_segment;
    return signing_input + "." + signature(signing_input);
}

std::string signed_json(const std::string &json) {
    return signed_segments(kHeader, b64url(json));
}

// A claim set around the given members; the defaults are valid at kNow.
constexpr char kValidTail[] = R"("email":"e@example.org","iss":"keldo","exp":1700000600)";
std::string with_claims(const std::string &members) {
    return "{" + members + (members.empty() ? "" : ",") + kValidTail + "}";
}
std::string claims_sub(const std::string &sub_json) {
    return with_claims("\"sub\":" + sub_json);
}

const std::string &valid_token() {
    static const std::string t = signed_json(claims_sub("\"user-1\""));
    return t;
}

std::string repeat(const std::string &s, size_t n) {
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

struct Case {
    const char *name;
    std::string token;
    const char *message;  // null: accepted
    const char *sub;      // the subject handed back when accepted
};

std::vector<Case> hostile_cases() {
    const std::string valid = valid_token();
    const size_t dot2 = valid.rfind('.');
    const std::string signing_input = valid.substr(0, dot2);
    const std::string sig = valid.substr(dot2 + 1);
    const std::string payload_segment = signing_input.substr(sizeof kHeader);
    const std::string huge(kTenMiB, 'A');
    const std::string digits400(400, '9'), digits300(300, '9');
    const std::string nested = repeat("[", 700) + repeat("]", 700);

    std::vector<Case> c = {
        // Size and structure.
        {"10 MiB header segment, signed", signed_segments(huge, payload_segment), nullptr,
         "user-1"},
        {"10 MiB header segment, not signed", huge + "." + payload_segment + "." + sig,
         "jwt_verify: signature verification failed", nullptr},
        {"10 MiB without a dot", huge, "jwt_verify: malformed token (missing first dot)",
         nullptr},
        {"10 MiB after one dot", "x." + huge, "jwt_verify: malformed token (missing second dot)",
         nullptr},
        {"10 MiB payload segment, signed", signed_segments(kHeader, huge),
         "jwt_verify: payload segment too long", nullptr},
        {"10 MiB payload segment, not signed", std::string(kHeader) + "." + huge + "." + sig,
         "jwt_verify: signature verification failed", nullptr},
        {"payload segment of 2048 characters, signed",
         signed_segments(kHeader, std::string(2048, 'e')), "jwt_verify: payload segment too long",
         nullptr},
        {"ten thousand dots", std::string(10000, '.'),
         "jwt_verify: malformed token (extra segments)", nullptr},
        {"five thousand segments", repeat("a.", 5000),
         "jwt_verify: malformed token (extra segments)", nullptr},
        {"valid token followed by dots", valid + std::string(5000, '.'),
         "jwt_verify: malformed token (extra segments)", nullptr},
        {"signature of 10 000 characters", signing_input + "." + std::string(10000, 'A'),
         "jwt_verify: invalid signature format or length", nullptr},
        {"signature of 10 000 '=' characters", signing_input + "." + std::string(10000, '='),
         "jwt_verify: invalid signature format or length", nullptr},
        {"10 000 '=' after the signature", valid + std::string(10000, '='), nullptr, "user-1"},
        {"10 000 line breaks and blanks after the signature", valid + repeat("\r\n ", 3334),
         nullptr, "user-1"},
        {"tab after the signature", valid + "\t", "jwt_verify: invalid signature format or length",
         nullptr},
        {"payload not base64url, signed", signed_segments(kHeader, "eyJ*"),
         "jwt_verify: base64url decode payload failed", nullptr},
        {"payload of 4n+1 characters, signed", signed_segments(kHeader, "eyJhb"),
         "jwt_verify: base64url decode payload failed", nullptr},

        // Nesting.
        {"array nested 700 deep in an extra member", signed_json(claims_sub("\"user-1\",\"x\":" + nested)),
         nullptr, "user-1"},
        {"objects nested 200 deep in an extra member",
         signed_json(claims_sub("\"user-1\",\"x\":" + repeat("{\"a\":", 200) + "0" +
                                repeat("}", 200))),
         nullptr, "user-1"},
        {"700 unclosed brackets", signed_json(claims_sub("\"user-1\",\"x\":" + repeat("[", 700))),
         "jwt_verify: invalid payload JSON", nullptr},
        {"root nested 700 deep", signed_json(nested), "jwt_verify: payload root is not an object",
         nullptr},

        // Numbers: an integer beyond 64 bits is a real; one beyond double is an error.
        {"exp of 400 digits", signed_json("{\"sub\":\"user-1\",\"email\":\"e@example.org\",\"iss\":\"keldo\",\"exp\":" +
                                          digits400 + "}"),
         "jwt_verify: invalid payload JSON", nullptr},
        {"exp of 300 digits", signed_json("{\"sub\":\"user-1\",\"email\":\"e@example.org\",\"iss\":\"keldo\",\"exp\":" +
                                          digits300 + "}"),
         "jwt_verify: missing 'exp' claim", nullptr},
        {"exp of 2^64", signed_json("{\"sub\":\"user-1\",\"email\":\"e@example.org\",\"iss\":\"keldo\","
                                    "\"exp\":18446744073709551616}"),
         "jwt_verify: missing 'exp' claim", nullptr},
        {"exp of 2^64 - 1 counts as -1", signed_json("{\"sub\":\"user-1\",\"email\":\"e@example.org\","
                                                     "\"iss\":\"keldo\",\"exp\":18446744073709551615}"),
         "jwt_verify: token has expired", nullptr},
        {"exp with an exponent beyond double", signed_json("{\"sub\":\"user-1\",\"email\":\"e@example.org\","
                                                           "\"iss\":\"keldo\",\"exp\":1e400}"),
         "jwt_verify: invalid payload JSON", nullptr},
        {"extra member of 400 digits", signed_json(claims_sub("\"user-1\",\"n\":" + digits400)),
         "jwt_verify: invalid payload JSON", nullptr},
        {"nbf of 300 digits lies beyond any clock",
         signed_json(claims_sub("\"user-1\",\"nbf\":" + digits300)),
         "jwt_verify: token is not valid yet (nbf in future)", nullptr},
        {"nbf of 2^63 - 1", signed_json(claims_sub("\"user-1\",\"nbf\":9223372036854775807")),
         "jwt_verify: token is not valid yet (nbf in future)", nullptr},
        {"nbf of -2^63", signed_json(claims_sub("\"user-1\",\"nbf\":-9223372036854775808")),
         nullptr, "user-1"},
        {"fraction of 400 digits in an extra member",
         signed_json(claims_sub("\"user-1\",\"f\":0." + digits400)), nullptr, "user-1"},

        // UTF-8 and escapes: the strict reader refuses every broken form.
        {"invalid UTF-8 byte in sub", signed_json(claims_sub("\"\xff\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"truncated UTF-8 sequence in sub", signed_json(claims_sub("\"ab\xe2\x82\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"invalid UTF-8 in a member name", signed_json(claims_sub("\"user-1\",\"\xc3\":1")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"overlong '/' in two bytes", signed_json(claims_sub("\"\xc0\xaf\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"overlong '/' in three bytes", signed_json(claims_sub("\"\xe0\x80\xaf\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"overlong '/' in four bytes", signed_json(claims_sub("\"\xf0\x80\x80\xaf\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"surrogate encoded as UTF-8", signed_json(claims_sub("\"\xed\xa0\x80\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"code point above U+10FFFF", signed_json(claims_sub("\"\xf4\x90\x80\x80\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"lone high surrogate escape", signed_json(claims_sub("\"\\ud800\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"lone low surrogate escape", signed_json(claims_sub("\"\\udc00\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"high surrogate before a non-surrogate", signed_json(claims_sub("\"\\ud800\\u0041\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"surrogate pair", signed_json(claims_sub("\"\\ud83d\\ude00\"")), nullptr,
         "\xf0\x9f\x98\x80"},
        {"escaped NUL in sub", signed_json(claims_sub("\"user\\u0000admin\"")),
         "jwt_verify: invalid 'sub' claim", nullptr},
        {"escaped NUL after the issuer",
         signed_json("{\"sub\":\"user-1\",\"email\":\"e@example.org\",\"iss\":\"keldo\\u0000x\","
                     "\"exp\":1700000600}"),
         "jwt_verify: invalid or missing 'iss' claim", nullptr},
        {"claim name spelt with escapes", signed_json(with_claims("\"\\u0073ub\":\"user-1\"")),
         nullptr, "user-1"},
        {"byte-order mark", signed_json("\xef\xbb\xbf" + claims_sub("\"user-1\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"NUL byte inside the payload", signed_json(claims_sub("\"user-1\"") + std::string(1, '\0')),
         "jwt_verify: invalid payload JSON", nullptr},
        {"content after the object", signed_json(claims_sub("\"user-1\"") + "{}"),
         "jwt_verify: invalid payload JSON", nullptr},
        {"NaN literal", signed_json(claims_sub("\"user-1\",\"n\":NaN")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"comment", signed_json(claims_sub("\"user-1\"/* hi */")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"trailing comma", signed_json("{\"sub\":\"user-1\"," + std::string(kValidTail) + ",}"),
         "jwt_verify: invalid payload JSON", nullptr},

        // Duplicate claims: the first occurrence counts, even when it is refused.
        {"expired exp before a valid one",
         signed_json("{\"sub\":\"user-1\",\"email\":\"e@example.org\",\"iss\":\"keldo\",\"exp\":1,"
                     "\"exp\":1700000600}"),
         "jwt_verify: invalid payload JSON", nullptr},
        {"valid exp before an expired one",
         signed_json("{\"sub\":\"user-1\",\"email\":\"e@example.org\",\"iss\":\"keldo\",\"exp\":1700000600,"
                     "\"exp\":1}"),
         "jwt_verify: invalid payload JSON", nullptr},
        {"two subjects", signed_json(claims_sub("\"first\",\"sub\":\"second\"")),
         "jwt_verify: invalid payload JSON", nullptr},
        {"wrong issuer before the right one",
         signed_json("{\"sub\":\"user-1\",\"email\":\"e@example.org\",\"iss\":1,\"iss\":\"keldo\","
                     "\"exp\":1700000600}"),
         "jwt_verify: invalid payload JSON", nullptr},
        {"150 extra members",
         signed_json(claims_sub("\"user-1\"," + [] {
             std::string m;
             for (int i = 0; i < 150; ++i) {
                 if (i) m += ',';
                 m += "\"m";
                 m += std::to_string(i);
                 m += "\":0";
             }
             return m;
         }())),
         nullptr, "user-1"},
    };
    return c;
}

#if defined(KELDO_HOSTILE_COUNT_HEAP)
bool refused_before_parse(const std::string &m) {
    for (const char *early : {"jwt_verify: malformed token (missing first dot)",
                              "jwt_verify: malformed token (missing second dot)",
                              "jwt_verify: malformed token (extra segments)",
                              "jwt_verify: invalid signature format or length",
                              "jwt_verify: signature verification failed",
                              "jwt_verify: payload segment too long",
                              "jwt_verify: base64url decode payload failed"})
        if (m == early) return true;
    return false;
}
#endif

class HostileTokens : public ::testing::Test {
protected:
    void SetUp() override { test_platform::set_clock(kNow); }
    void TearDown() override { test_platform::use_real_clock(); }
};

TEST_F(HostileTokens, EachIsRefusedWithItsMessageOrAcceptedAsDocumented) {
    const std::vector<Case> cases = hostile_cases();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        char sub[64], email[128];
        std::memset(sub, 'S', sizeof sub);
        std::memset(email, 'E', sizeof email);
        int64_t exp = -7;

#if defined(KELDO_HOSTILE_COUNT_HEAP)
        alloc_counter::start();
#endif
        const auto start = std::chrono::steady_clock::now();
        const int32_t rc = keldo_jwt_verify(kSecret, c.token.c_str(), sub, email, &exp);
        const auto elapsed = std::chrono::steady_clock::now() - start;
#if defined(KELDO_HOSTILE_COUNT_HEAP)
        const alloc_counter::Counts counts = alloc_counter::stop();
        EXPECT_EQ(counts.allocations, counts.releases);
        // The parsed document is the only heap use; its size follows the
        // payload (at most 1535 bytes), never the token.
        EXPECT_LE(counts.bytes_requested, size_t(64) << 10);
        // An accepted token was parsed into a heap document (which also
        // shows the counter is live); nothing at all is allocated before
        // the payload is parsed.
        if (rc == 0) {
            EXPECT_GE(counts.allocations, 1u);
        }
        if (rc != 0 && refused_before_parse(keldo_crypto_last_error())) {
            EXPECT_EQ(counts.allocations, 0u);
        }
#endif
        // Linear work on a 10 MiB token is milliseconds; anything near this
        // bound means a blow-up, not a slow machine.
        EXPECT_LT(elapsed, std::chrono::seconds(20));

        if (c.message == nullptr) {
            EXPECT_EQ(rc, 0) << keldo_crypto_last_error();
            EXPECT_STREQ(sub, c.sub);
            EXPECT_STREQ(email, "e@example.org");
            EXPECT_EQ(exp, 1700000600);
        } else {
            EXPECT_EQ(rc, -1);
            EXPECT_STREQ(keldo_crypto_last_error(), c.message);
            EXPECT_EQ(exp, -7);  // nothing handed back
            EXPECT_EQ(email[0], 'E');
        }
    }
}

}  // namespace
