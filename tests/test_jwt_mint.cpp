// Token minting: the exact text of minted tokens, checked against OpenSSL's
// HMAC and Base64, and the static result buffer.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "interop/peer_token.h"
#include "keldo_crypto.h"
#include "test_platform.h"

namespace {

constexpr int64_t kNow = 1700000000;  // ten digits, like every clock until 2286

std::string expected_payload(const std::string &sub_json, const std::string &email_json,
                             int64_t exp, int64_t nbf) {
    return "{\"sub\":\"" + sub_json + "\",\"email\":\"" + email_json +
           "\",\"iss\":\"keldo\",\"exp\":" + std::to_string(exp) +
           ",\"nbf\":" + std::to_string(nbf) + "}";
}

// The payload JSON of a minted token after checking header and signature
// with OpenSSL.
std::string payload_of(const char *token, const std::string &secret) {
    auto seg = peer::split(token);
    EXPECT_TRUE(seg.has_value()) << token;
    if (!seg) return {};
    EXPECT_EQ(seg->header, peer::kHeader);
    EXPECT_EQ(seg->signature.size(), 43u);
    EXPECT_EQ(seg->signature, peer::signature(secret, seg->header + "." + seg->payload));
    auto json = peer::b64url_decode(seg->payload);
    EXPECT_TRUE(json.has_value()) << seg->payload;
    return json.value_or("");
}

// JSON allows either case in \u escapes.
std::string lower_hex_escapes(std::string s) {
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\') continue;
        if (i + 5 < s.size() && s[i + 1] == 'u')
            for (size_t j = i + 2; j < i + 6; ++j)
                s[j] = char(std::tolower(static_cast<unsigned char>(s[j])));
        ++i;  // the escaped character
    }
    return s;
}

TEST(JwtMint, RoundTripsWithAnySecret) {
    test_platform::ScopedClock clock(kNow);
    const std::vector<std::string> secrets = {"", "k", "correct horse battery staple",
                                              std::string(64, 's'), std::string(65, 's'),
                                              std::string(300, 'x')};
    for (const std::string &secret : secrets) {
        SCOPED_TRACE(secret.size());
        const char *token = keldo_jwt_mint(secret.c_str(), "user-42", "u42@example.com", 900);
        ASSERT_NE(token, nullptr);
        const std::string minted = token;
        payload_of(token, secret);

        char sub[64], email[128];
        int64_t exp = 0;
        ASSERT_EQ(keldo_jwt_verify(secret.c_str(), minted.c_str(), sub, email, &exp), 0)
            << keldo_crypto_last_error();
        EXPECT_STREQ(sub, "user-42");
        EXPECT_STREQ(email, "u42@example.com");
        EXPECT_EQ(exp, kNow + 900);

        const std::string other = secret + "!";
        EXPECT_EQ(keldo_jwt_verify(other.c_str(), minted.c_str(), sub, email, &exp), -1);
        EXPECT_STREQ(keldo_crypto_last_error(), "jwt_verify: signature verification failed");
    }
}

TEST(JwtMint, WritesTheFiveMembersInOrderWithTheClock) {
    struct Case {
        int64_t now;
        uint32_t ttl;
    };
    const Case cases[] = {{kNow, 0},          {kNow, 1},  {kNow, 3600},
                          {kNow, 4294967295u}, {0, 0},     {-86400, 60},
                          {INT64_MIN, 0},      {INT64_MAX - 4294967295, 4294967295u}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.now);
        SCOPED_TRACE(c.ttl);
        test_platform::ScopedClock clock(c.now);
        const char *token = keldo_jwt_mint("secret", "alice", "alice@example.com", c.ttl);
        ASSERT_NE(token, nullptr) << keldo_crypto_last_error();
        EXPECT_EQ(payload_of(token, "secret"),
                  expected_payload("alice", "alice@example.com", c.now + int64_t(c.ttl), c.now));
    }
}

TEST(JwtMint, EscapesTextAsJsonRequires) {
    struct Case {
        std::string text, json;
    };
    const Case cases[] = {
        {"", ""},
        {"say \"hi\"", "say \\\"hi\\\""},
        {"back\\slash", "back\\\\slash"},
        {"line\nfeed\ttab\rret", "line\\nfeed\\ttab\\rret"},
        {"\x01\x1f", "\\u0001\\u001f"},
        {"a/b</c>", "a/b</c>"},  // '/' stays as it is
        {"\x7f", "\x7f"},
        {"Jos\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "Jos\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
    };
    test_platform::ScopedClock clock(kNow);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.json);
        const char *token = keldo_jwt_mint("k", c.text.c_str(), "e", 10);
        ASSERT_NE(token, nullptr);
        EXPECT_EQ(lower_hex_escapes(payload_of(token, "k")),
                  expected_payload(c.json, "e", kNow + 10, kNow));
        token = keldo_jwt_mint("k", "s", c.text.c_str(), 10);
        ASSERT_NE(token, nullptr);
        EXPECT_EQ(lower_hex_escapes(payload_of(token, "k")),
                  expected_payload("s", c.json, kNow + 10, kNow));
    }
}

TEST(JwtMint, RefusesInvalidUtf8AndKeepsThePreviousToken) {
    const char *bad[] = {
        "\xff", "\x80", "\xf8\x88\x80\x80\x80",          // never valid, stray continuation
        "abc\xc3", "\xc3\x28", "\xe2\x82", "\xf0\x9f\x98",  // cut short
        "\xc0\xaf", "\xe0\x80\xaf",                       // overlong '/'
        "\xed\xa0\x80", "\xf4\x90\x80\x80",               // surrogate, beyond U+10FFFF
    };
    test_platform::ScopedClock clock(kNow);
    const char *first = keldo_jwt_mint("k", "before", "b@example.com", 5);
    ASSERT_NE(first, nullptr);
    const std::string kept = first;
    for (const char *text : bad) {
        SCOPED_TRACE(testing::PrintToString(std::string(text)));
        EXPECT_EQ(keldo_jwt_mint("k", text, "e", 5), nullptr);
        EXPECT_STREQ(keldo_crypto_last_error(), "jwt_mint: failed to serialize payload JSON");
        EXPECT_EQ(keldo_jwt_mint("k", "s", text, 5), nullptr);
        EXPECT_STREQ(keldo_crypto_last_error(), "jwt_mint: failed to serialize payload JSON");
        EXPECT_EQ(std::string(first), kept);
    }
}

TEST(JwtMint, PayloadOf1535BytesIsTheLargest) {
    // 49 bytes of frame and 20 digits leave 1466 bytes for the escaped texts.
    test_platform::ScopedClock clock(kNow);
    const std::string sub(700, 'a');
    const std::string email(766, 'b');
    const char *token = keldo_jwt_mint("k", sub.c_str(), email.c_str(), 0);
    ASSERT_NE(token, nullptr) << keldo_crypto_last_error();
    const std::string largest = token;
    EXPECT_EQ(largest.size(), 2128u);
    EXPECT_EQ(peer::split(largest)->payload.size(), 2047u);
    EXPECT_EQ(payload_of(token, "k").size(), 1535u);

    // One byte more, here by escaping a quote: refused, the buffer keeps
    // the largest token.
    const std::string quoted = std::string(699, 'a') + "\"";
    EXPECT_EQ(keldo_jwt_mint("k", quoted.c_str(), email.c_str(), 0), nullptr);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_mint: failed to base64url encode payload");
    const std::string longer = email + "b";
    EXPECT_EQ(keldo_jwt_mint("k", sub.c_str(), longer.c_str(), 0), nullptr);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_mint: failed to base64url encode payload");
    EXPECT_EQ(std::string(token), largest);

    // Quotes count twice: 733 of them are the same 1466 escaped bytes.
    const std::string quotes(733, '"');
    token = keldo_jwt_mint("k", quotes.c_str(), "", 0);
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(std::string(token).size(), 2128u);
}

TEST(JwtMint, ReturnsTheSameBufferAndFailuresLeaveItAlone) {
    test_platform::ScopedClock clock(kNow);
    const char *a = keldo_jwt_mint("k", "first", "1@example.com", 60);
    ASSERT_NE(a, nullptr);
    const std::string first = a;
    const char *b = keldo_jwt_mint("k", "second", "2@example.com", 60);
    ASSERT_EQ(b, a);
    const std::string second = b;
    EXPECT_NE(second, first);
    EXPECT_EQ(payload_of(b, "k"), expected_payload("second", "2@example.com", kNow + 60, kNow));

    EXPECT_EQ(keldo_jwt_mint(nullptr, "s", "e", 1), nullptr);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_mint: null parameter passed");
    EXPECT_EQ(keldo_jwt_mint("k", nullptr, "e", 1), nullptr);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_mint: null parameter passed");
    EXPECT_EQ(keldo_jwt_mint("k", "s", nullptr, 1), nullptr);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_mint: null parameter passed");
    EXPECT_EQ(std::string(a), second);

    // Success leaves the last failure's message in place.
    EXPECT_EQ(keldo_jwt_mint("k", "third", "3@example.com", 60), a);
    EXPECT_STREQ(keldo_crypto_last_error(), "jwt_mint: null parameter passed");
}

}  // namespace
