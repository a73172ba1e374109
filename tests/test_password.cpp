// Password-hash strings: every form built independently (OpenSSL's PBKDF2
// and Base64, hex by hand) and checked through the exports; the bounds of
// the stored-hash reader in one table; the refusals of hash and encode.
// Django, passlib and Werkzeug themselves are the oracles of
// tests/interop/password_interop.py.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "keldo_crypto.h"
#include "test_platform.h"

namespace {

std::vector<uint8_t> bytes(const std::string &s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> openssl_pbkdf2(const std::string &pw, const std::vector<uint8_t> &salt,
                                    uint32_t iterations) {
    std::vector<uint8_t> key(32);
    EXPECT_EQ(PKCS5_PBKDF2_HMAC(pw.data(), int(pw.size()), salt.data(), int(salt.size()),
                                int(iterations), EVP_sha256(), 32, key.data()),
              1);
    return key;
}

std::string openssl_b64(const std::vector<uint8_t> &data, bool pad, bool adapted) {
    std::string text(4 * ((data.size() + 2) / 3) + 1, '\0');
    text.resize(size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()),
                                       data.data(), int(data.size()))));
    if (!pad)
        while (!text.empty() && text.back() == '=') text.pop_back();
    if (adapted)
        for (char &c : text)
            if (c == '+') c = '.';
    return text;
}

std::string hex(const std::vector<uint8_t> &data) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : data) {
        s.push_back(digits[b >> 4]);
        s.push_back(digits[b & 15]);
    }
    return s;
}

// A stored string of the given form, made without the library.
std::string reference(int32_t form, const std::string &pw, const std::string &salt,
                      uint32_t iterations) {
    const std::string n = std::to_string(iterations);
    const std::vector<uint8_t> s = bytes(salt);
    const std::vector<uint8_t> key = openssl_pbkdf2(pw, s, iterations);
    switch (form) {
        case KELDO_PASSWORD_PHC:
            return "$pbkdf2-sha256$i=" + n + "$" + openssl_b64(s, false, false) + "$" +
                   openssl_b64(key, false, false);
        case KELDO_PASSWORD_PASSLIB:
            return "$pbkdf2-sha256$" + n + "$" + openssl_b64(s, false, true) + "$" +
                   openssl_b64(key, false, true);
        case KELDO_PASSWORD_DJANGO:
            return "pbkdf2_sha256$" + n + "$" + salt + "$" + openssl_b64(key, true, false);
        default:
            return "pbkdf2:sha256:" + n + "$" + salt + "$" + hex(key);
    }
}

int32_t verify(const std::string &pw, const std::string &stored) {
    return keldo_password_verify(pw.data(), pw.size(), stored.c_str());
}

constexpr int32_t kForms[] = {KELDO_PASSWORD_PHC, KELDO_PASSWORD_DJANGO, KELDO_PASSWORD_PASSLIB,
                              KELDO_PASSWORD_WERKZEUG};

TEST(PasswordVerify, EveryFormMadeByOpenSsl) {
    // Salts whose Base64 ends in each of the three ways, a NUL and a
    // non-ASCII byte in passwords.
    const std::string passwords[] = {"correct horse", std::string("nul\0inside", 10),
                                     "\xc3\xa9t\xc3\xa9 \xe2\x98\x83", "", std::string(200, 'p')};
    const std::string salts[] = {"s", "sa", "saltsaltsalt", "0123456789abcdef"};
    int cases = 0;
    for (int32_t form : kForms)
        for (const std::string &pw : passwords)
            for (const std::string &salt : salts) {
                const std::string stored = reference(form, pw, salt, 7);
                EXPECT_EQ(verify(pw, stored), KELDO_OK) << stored;
                EXPECT_EQ(verify(pw + "x", stored), KELDO_E_PASSWORD_MISMATCH) << stored;
                if (!pw.empty()) {
                    std::string other = pw;
                    other[other.size() / 2] ^= 1;
                    EXPECT_EQ(verify(other, stored), KELDO_E_PASSWORD_MISMATCH) << stored;
                }
                int32_t got_form = 0;
                uint32_t got_iterations = 0;
                EXPECT_EQ(keldo_password_parameters(stored.c_str(), &got_form, &got_iterations),
                          KELDO_OK);
                EXPECT_EQ(got_form, form);
                EXPECT_EQ(got_iterations, 7u);
                ++cases;
            }
    EXPECT_EQ(cases, 80);
}

TEST(PasswordVerify, AFlippedKeyBitIsAMismatchNotAMalformedHash) {
    // The last key character is flipped between two values that are both
    // canonical, so only the comparison can tell.
    for (int32_t form : kForms) {
        std::string stored = reference(form, "pw", "salt", 3);
        const size_t at = stored.size() - (form == KELDO_PASSWORD_DJANGO ? 3 : 5);
        stored[at] = stored[at] == 'A' || stored[at] == '0' ? char(stored[at] + 1)
                                                            : char(stored[at] - 1);
        EXPECT_EQ(verify("pw", stored), KELDO_E_PASSWORD_MISMATCH) << stored;
    }
}

TEST(PasswordVerify, PasswordLengthLimit) {
    const std::string at_limit(KELDO_PASSWORD_MAX_LEN, 'a');
    const std::string over(KELDO_PASSWORD_MAX_LEN + 1, 'a');
    EXPECT_EQ(verify(at_limit, reference(KELDO_PASSWORD_PHC, at_limit, "salt", 2)), KELDO_OK);
    // Made by OpenSSL, but never matched: nothing this long is hashed here.
    EXPECT_EQ(verify(over, reference(KELDO_PASSWORD_PHC, over, "salt", 2)),
              KELDO_E_PASSWORD_MISMATCH);
    char out[KELDO_PASSWORD_HASH_MAX];
    EXPECT_EQ(keldo_password_hash(over.data(), over.size(), 1, out, sizeof out),
              KELDO_E_PASSWORD_TOO_LONG);
    EXPECT_EQ(keldo_password_encode(KELDO_PASSWORD_DJANGO, over.data(), over.size(), "s", 1, 1,
                                    out, sizeof out),
              KELDO_E_PASSWORD_TOO_LONG);
}

// The bounds of the reader, each next to the case just inside it.
TEST(StoredHash, BoundsTable) {
    const std::string key_phc = openssl_b64(openssl_pbkdf2("pw", bytes("salt"), 1), false, false);
    const std::string key_django = openssl_b64(openssl_pbkdf2("pw", bytes("salt"), 1), true, false);
    const std::string key_hex = hex(openssl_pbkdf2("pw", bytes("salt"), 1));
    std::string key_noncanonical = key_phc;  // 43rd character: 2 unused bits set
    key_noncanonical.back() = char(key_noncanonical.back() + 1);
    const std::string salt1024(1024, 's'), salt1025(1025, 's');
    const std::string b64salt1024(1024, 'A'), b64salt1021(1021, 'A');
    struct Case {
        std::string stored;
        int32_t want;
    };
    const Case cases[] = {
        // iterations
        {"$pbkdf2-sha256$i=1$c2FsdA$" + key_phc, KELDO_OK},
        {"$pbkdf2-sha256$i=100000000$c2FsdA$" + key_phc, KELDO_OK},
        {"$pbkdf2-sha256$i=100000001$c2FsdA$" + key_phc, KELDO_E_PASSWORD_STORED_ITERATIONS},
        {"$pbkdf2-sha256$i=4294967297$c2FsdA$" + key_phc, KELDO_E_PASSWORD_STORED_ITERATIONS},
        {"$pbkdf2-sha256$i=0$c2FsdA$" + key_phc, KELDO_E_PASSWORD_STORED_ITERATIONS},
        {"$pbkdf2-sha256$i=01$c2FsdA$" + key_phc, KELDO_E_PASSWORD_STORED_ITERATIONS},
        {"$pbkdf2-sha256$i=$c2FsdA$" + key_phc, KELDO_E_PASSWORD_STORED_ITERATIONS},
        {"$pbkdf2-sha256$i=+5$c2FsdA$" + key_phc, KELDO_E_PASSWORD_STORED_ITERATIONS},
        {"$pbkdf2-sha256$i=5 $c2FsdA$" + key_phc, KELDO_E_PASSWORD_STORED_ITERATIONS},
        {"$pbkdf2-sha256$i=1000,l=32$c2FsdA$" + key_phc, KELDO_E_PASSWORD_STORED_ITERATIONS},
        {"pbkdf2_sha256$1e3$salt$" + key_django, KELDO_E_PASSWORD_STORED_ITERATIONS},
        {"pbkdf2_sha256$-1$salt$" + key_django, KELDO_E_PASSWORD_STORED_ITERATIONS},
        {"pbkdf2:sha256:$salt$" + key_hex, KELDO_E_PASSWORD_STORED_ITERATIONS},
        // salt fields
        {"pbkdf2_sha256$1$s$" + key_django, KELDO_OK},
        {"pbkdf2_sha256$1$" + salt1024 + "$" + key_django, KELDO_OK},
        {"pbkdf2_sha256$1$" + salt1025 + "$" + key_django, KELDO_E_PASSWORD_STORED_SALT},
        {"pbkdf2_sha256$1$$" + key_django, KELDO_E_PASSWORD_STORED_SALT},
        {"pbkdf2:sha256:1$" + salt1024 + "$" + key_hex, KELDO_OK},
        {"pbkdf2:sha256:1$" + salt1025 + "$" + key_hex, KELDO_E_PASSWORD_STORED_SALT},
        {"$pbkdf2-sha256$i=1$" + b64salt1024 + "$" + key_phc, KELDO_OK},
        {"$pbkdf2-sha256$i=1$" + b64salt1021 + "$" + key_phc, KELDO_E_PASSWORD_STORED_SALT},
        {"$pbkdf2-sha256$i=1$" + b64salt1024 + "AA$" + key_phc, KELDO_E_PASSWORD_STORED_SALT},
        {"$pbkdf2-sha256$i=1$$" + key_phc, KELDO_E_PASSWORD_STORED_SALT},
        {"$pbkdf2-sha256$i=1$QR$" + key_phc, KELDO_E_PASSWORD_STORED_SALT},    // unused bits
        {"$pbkdf2-sha256$i=1$c2FsdA==$" + key_phc, KELDO_E_PASSWORD_STORED_SALT},
        {"$pbkdf2-sha256$i=1$a.A$" + key_phc, KELDO_E_PASSWORD_STORED_SALT},   // passlib's '.'
        {"$pbkdf2-sha256$1$a+A$" + key_phc, KELDO_E_PASSWORD_STORED_SALT},     // PHC's '+'
        {"$pbkdf2-sha256$1$a.A$" + key_phc, KELDO_OK},
        {"$pbkdf2-sha256$i=1$c2FsdA$+" + key_phc.substr(1), KELDO_OK},
        {"$pbkdf2-sha256$1$a.A$+" + key_phc.substr(1), KELDO_E_PASSWORD_STORED_KEY},
        {"$pbkdf2-sha256$1$a.A$." + key_phc.substr(1), KELDO_OK},
        {"$pbkdf2-sha256$i=1$c2FsdA$." + key_phc.substr(1), KELDO_E_PASSWORD_STORED_KEY},
        // key fields
        {"$pbkdf2-sha256$i=1$c2FsdA$" + key_phc.substr(1), KELDO_E_PASSWORD_STORED_KEY},
        {"$pbkdf2-sha256$i=1$c2FsdA$" + key_phc + "A", KELDO_E_PASSWORD_STORED_KEY},
        {"$pbkdf2-sha256$i=1$c2FsdA$" + key_phc + "=", KELDO_E_PASSWORD_STORED_KEY},
        {"$pbkdf2-sha256$i=1$c2FsdA$" + key_noncanonical, KELDO_E_PASSWORD_STORED_KEY},
        {"$pbkdf2-sha256$i=1$c2FsdA$" + key_phc + "$", KELDO_E_PASSWORD_FIELDS},
        {"$pbkdf2-sha256$i=1$c2FsdA$" + key_phc + "$x", KELDO_E_PASSWORD_FIELDS},
        {"$pbkdf2-sha256$i=1$c2FsdA", KELDO_E_PASSWORD_FIELDS},
        {"$pbkdf2-sha256$i=1", KELDO_E_PASSWORD_FIELDS},
        {"pbkdf2_sha256$1$salt$" + key_django.substr(0, 43), KELDO_E_PASSWORD_STORED_KEY},
        {"pbkdf2_sha256$1$salt$" + key_django.substr(0, 42) + "==", KELDO_E_PASSWORD_STORED_KEY},
        {"pbkdf2:sha256:1$salt$" + key_hex.substr(2), KELDO_E_PASSWORD_STORED_KEY},
        {"pbkdf2:sha256:1$salt$" + std::string(64, 'A'), KELDO_E_PASSWORD_STORED_KEY},
        {"pbkdf2:sha256:1$salt$" + std::string(64, 'a'), KELDO_OK},
        // forms
        {"pbkdf2:sha256$salt$" + key_hex, KELDO_E_PASSWORD_AMBIGUOUS},
        {"pbkdf2$salt$" + key_hex, KELDO_E_PASSWORD_AMBIGUOUS},
        {"pbkdf2:sha512:1$salt$" + key_hex, KELDO_E_PASSWORD_UNKNOWN_FORMAT},
        {"pbkdf2_sha1$1$salt$" + key_django, KELDO_E_PASSWORD_UNKNOWN_FORMAT},
        {"$pbkdf2-sha512$i=1$c2FsdA$" + key_phc, KELDO_E_PASSWORD_UNKNOWN_FORMAT},
        {"PBKDF2_SHA256$1$salt$" + key_django, KELDO_E_PASSWORD_UNKNOWN_FORMAT},
        {" $pbkdf2-sha256$i=1$c2FsdA$" + key_phc, KELDO_E_PASSWORD_UNKNOWN_FORMAT},
        {"", KELDO_E_PASSWORD_UNKNOWN_FORMAT},
    };
    for (const Case &c : cases) {
        int32_t form = -1;
        EXPECT_EQ(keldo_password_parameters(c.stored.c_str(), &form, nullptr), c.want)
            << c.stored.substr(0, 80);
        if (c.want != KELDO_OK) {
            EXPECT_EQ(form, -1) << "outputs are written only on success";
            EXPECT_EQ(KELDO_STATUS_KIND(c.want), KELDO_KIND_MALFORMED_HASH);
            EXPECT_EQ(verify("pw", c.stored), c.want) << "verify reads as keldo_password_parameters does";
            EXPECT_EQ(keldo_password_needs_rehash(c.stored.c_str(), 1), c.want);
        }
    }
}

TEST(PasswordEncode, MatchesTheReferenceInEveryForm) {
    const std::string salts[] = {"s", "sa", "sal", "0123456789abcdef", std::string(96, 'z')};
    for (int32_t form : kForms)
        for (const std::string &salt : salts) {
            const std::string pw = "pass\xe2\x82\xac";
            char out[KELDO_PASSWORD_HASH_MAX];
            ASSERT_EQ(keldo_password_encode(form, pw.data(), pw.size(), salt.data(), salt.size(),
                                            11, out, sizeof out),
                      KELDO_OK);
            EXPECT_EQ(std::string(out), reference(form, pw, salt, 11));
        }
}

TEST(PasswordEncode, Refusals) {
    char out[KELDO_PASSWORD_HASH_MAX];
    const std::string salt128(128, 'x'), salt129(129, 'x');
    struct Case {
        int32_t form;
        const void *pw;
        uint64_t pw_len;
        const void *salt;
        uint64_t salt_len;
        uint32_t iterations;
        char *out;
        uint64_t out_size;
        int32_t want;
    };
    const Case cases[] = {
        {KELDO_PASSWORD_DJANGO, "pw", 2, salt128.data(), 128, 1, out, sizeof out, KELDO_OK},
        // The longest text, 217 characters (fits: the size is checked first).
        {KELDO_PASSWORD_WERKZEUG, "pw", 2, salt128.data(), 128, KELDO_PASSWORD_MAX_ITERATIONS,
         out, 217, KELDO_E_PASSWORD_BUFFER_TOO_SMALL},
        {KELDO_PASSWORD_DJANGO, "pw", 2, salt129.data(), 129, 1, out, sizeof out,
         KELDO_E_PASSWORD_SALT},
        {KELDO_PASSWORD_PHC, "pw", 2, salt128.data(), 96, 1, out, sizeof out, KELDO_OK},
        {KELDO_PASSWORD_PASSLIB, "pw", 2, salt128.data(), 97, 1, out, sizeof out,
         KELDO_E_PASSWORD_SALT},
        {KELDO_PASSWORD_DJANGO, "pw", 2, "a$b", 3, 1, out, sizeof out, KELDO_E_PASSWORD_SALT},
        {KELDO_PASSWORD_WERKZEUG, "pw", 2, "a\0b", 3, 1, out, sizeof out, KELDO_E_PASSWORD_SALT},
        {KELDO_PASSWORD_PHC, "pw", 2, "a$\0b", 4, 1, out, sizeof out, KELDO_OK},  // bytes
        {KELDO_PASSWORD_PHC, "pw", 2, "", 0, 1, out, sizeof out, KELDO_E_PASSWORD_SALT},
        {KELDO_PASSWORD_PHC, "pw", 2, nullptr, 1, 1, out, sizeof out,
         KELDO_E_PASSWORD_NULL_ARGUMENT},
        {KELDO_PASSWORD_PHC, nullptr, 1, "s", 1, 1, out, sizeof out,
         KELDO_E_PASSWORD_NULL_ARGUMENT},
        {KELDO_PASSWORD_PHC, nullptr, 0, "s", 1, 1, out, sizeof out, KELDO_OK},
        {KELDO_PASSWORD_PHC, "pw", 2, "s", 1, 1, nullptr, 100, KELDO_E_PASSWORD_NULL_ARGUMENT},
        {0, "pw", 2, "s", 1, 1, out, sizeof out, KELDO_E_PASSWORD_FORM},
        {5, "pw", 2, "s", 1, 1, out, sizeof out, KELDO_E_PASSWORD_FORM},
        {KELDO_PASSWORD_PHC, "pw", 2, "s", 1, KELDO_PASSWORD_MAX_ITERATIONS + 1, out, sizeof out,
         KELDO_E_PASSWORD_ITERATIONS},
        {KELDO_PASSWORD_PHC, "pw", 2, "s", 1, 1, out, 0, KELDO_E_PASSWORD_BUFFER_TOO_SMALL},
    };
    for (const Case &c : cases) {
        std::memset(out, '#', sizeof out);
        const int32_t rc = keldo_password_encode(c.form, c.pw, c.pw_len, c.salt, c.salt_len,
                                                 c.iterations, c.out, c.out_size);
        EXPECT_EQ(rc, c.want) << "form " << c.form << " salt_len " << c.salt_len;
        if (rc != KELDO_OK) {
            EXPECT_EQ(out[0], '#') << "nothing written on refusal";
        } else {
            EXPECT_LT(std::strlen(out), size_t(KELDO_PASSWORD_HASH_MAX));
        }
    }
}

TEST(PasswordEncode, ExactBufferSize) {
    for (int32_t form : kForms) {
        char big[KELDO_PASSWORD_HASH_MAX];
        ASSERT_EQ(keldo_password_encode(form, "pw", 2, "salt", 4, 1000, big, sizeof big),
                  KELDO_OK);
        const size_t need = std::strlen(big) + 1;
        std::vector<char> exact(need, '#'), short_by_one(need - 1, '#');
        EXPECT_EQ(keldo_password_encode(form, "pw", 2, "salt", 4, 1000, exact.data(), need),
                  KELDO_OK);
        EXPECT_STREQ(exact.data(), big);
        EXPECT_EQ(keldo_password_encode(form, "pw", 2, "salt", 4, 1000, short_by_one.data(),
                                        need - 1),
                  KELDO_E_PASSWORD_BUFFER_TOO_SMALL);
        EXPECT_EQ(std::string(short_by_one.begin(), short_by_one.end()),
                  std::string(need - 1, '#'));
    }
}

TEST(PasswordHash, FreshSaltFromTheRandomSourceAndDefaults) {
    // The salt is the library's random bytes: queue known ones and rebuild
    // the string with OpenSSL.
    std::vector<uint8_t> salt(16);
    for (size_t i = 0; i < salt.size(); ++i) salt[i] = uint8_t(0xf0 + i);
    test_platform::queue_random(salt);
    char out[KELDO_PASSWORD_HASH_MAX];
    ASSERT_EQ(keldo_password_hash("hunter2", 7, 5, out, sizeof out), KELDO_OK);
    test_platform::reset();
    EXPECT_EQ(std::string(out), reference(KELDO_PASSWORD_PHC, "hunter2",
                                          std::string(salt.begin(), salt.end()), 5));

    // Two hashes of one password differ; both verify.
    char again[KELDO_PASSWORD_HASH_MAX];
    ASSERT_EQ(keldo_password_hash("hunter2", 7, 5, out, sizeof out), KELDO_OK);
    ASSERT_EQ(keldo_password_hash("hunter2", 7, 5, again, sizeof again), KELDO_OK);
    EXPECT_STRNE(out, again);
    EXPECT_EQ(keldo_password_verify("hunter2", 7, out), KELDO_OK);
    EXPECT_EQ(keldo_password_verify("hunter2", 7, again), KELDO_OK);

    // 0 means the default count.
    ASSERT_EQ(keldo_password_hash("x", 1, 0, out, sizeof out), KELDO_OK);
    uint32_t iterations = 0;
    EXPECT_EQ(keldo_password_parameters(out, nullptr, &iterations), KELDO_OK);
    EXPECT_EQ(iterations, uint32_t(KELDO_PASSWORD_DEFAULT_ITERATIONS));
    EXPECT_EQ(keldo_password_needs_rehash(out, 0), 0);
}

TEST(PasswordHash, RandomSourceFailureAndBufferChecks) {
    char out[KELDO_PASSWORD_HASH_MAX];
    std::memset(out, '#', sizeof out);
    test_platform::fail_random(true);
    EXPECT_EQ(keldo_password_hash("pw", 2, 1, out, sizeof out), KELDO_E_PASSWORD_RANDOM);
    test_platform::fail_random(false);
    EXPECT_EQ(out[0], '#');
    // "$pbkdf2-sha256$i=1$" + 22 + "$" + 43 + NUL = 86 bytes.
    EXPECT_EQ(keldo_password_hash("pw", 2, 1, out, 85), KELDO_E_PASSWORD_BUFFER_TOO_SMALL);
    EXPECT_EQ(keldo_password_hash("pw", 2, 1, out, 86), KELDO_OK);
    EXPECT_EQ(std::strlen(out), 85u);
    EXPECT_EQ(keldo_password_hash(nullptr, 1, 1, out, 86), KELDO_E_PASSWORD_NULL_ARGUMENT);
    EXPECT_EQ(keldo_password_hash("pw", 2, 1, nullptr, 86), KELDO_E_PASSWORD_NULL_ARGUMENT);
    EXPECT_EQ(keldo_password_hash("pw", 2, KELDO_PASSWORD_MAX_ITERATIONS + 1, out, 200),
              KELDO_E_PASSWORD_ITERATIONS);
}

TEST(PasswordNeedsRehash, Table) {
    const std::string phc_1000 = reference(KELDO_PASSWORD_PHC, "pw", "salt", 1000);
    struct Case {
        std::string stored;
        uint32_t min;
        int32_t want;
    };
    const Case cases[] = {
        {phc_1000, 1000, 0},
        {phc_1000, 999, 0},
        {phc_1000, 1001, 1},
        {phc_1000, 0, 1},  // below the default
        // The rehash query derives nothing: any well-formed key will do.
        {"$pbkdf2-sha256$i=600000$c2FsdA$" + phc_1000.substr(phc_1000.rfind('$') + 1), 0, 0},
        {"$pbkdf2-sha256$i=599999$c2FsdA$" + phc_1000.substr(phc_1000.rfind('$') + 1), 0, 1},
        {reference(KELDO_PASSWORD_DJANGO, "pw", "salt", 1000), 1, 1},  // not the PHC form
        {reference(KELDO_PASSWORD_PASSLIB, "pw", "salt", 1000), 1, 1},
        {reference(KELDO_PASSWORD_WERKZEUG, "pw", "salt", 1000), 1, 1},
        {"$pbkdf2-sha256$i=1000$c2FsdA$short", 1, KELDO_E_PASSWORD_STORED_KEY},
    };
    for (const Case &c : cases)
        EXPECT_EQ(keldo_password_needs_rehash(c.stored.c_str(), c.min), c.want) << c.stored;
}

TEST(Password, StatusKindsAndTexts) {
    // Each code: its kind, and a text of its own naming the function family.
    const struct {
        int32_t code;
        int kind;
        const char *prefix;
    } codes[] = {
        {KELDO_E_PASSWORD_NULL_ARGUMENT, KELDO_KIND_INVALID_ARGUMENT, "password_hash: "},
        {KELDO_E_PASSWORD_TOO_LONG, KELDO_KIND_INVALID_ARGUMENT, "password_hash: "},
        {KELDO_E_PASSWORD_ITERATIONS, KELDO_KIND_INVALID_ARGUMENT, "password_hash: "},
        {KELDO_E_PASSWORD_FORM, KELDO_KIND_INVALID_ARGUMENT, "password_hash: "},
        {KELDO_E_PASSWORD_SALT, KELDO_KIND_INVALID_ARGUMENT, "password_hash: "},
        {KELDO_E_PASSWORD_VERIFY_NULL_ARGUMENT, KELDO_KIND_INVALID_ARGUMENT, "password_verify: "},
        {KELDO_E_PASSWORD_BUFFER_TOO_SMALL, KELDO_KIND_BUFFER_TOO_SMALL, "password_hash: "},
        {KELDO_E_PASSWORD_MISMATCH, KELDO_KIND_MISMATCH, "password_verify: "},
        {KELDO_E_PASSWORD_UNKNOWN_FORMAT, KELDO_KIND_MALFORMED_HASH, "password_verify: "},
        {KELDO_E_PASSWORD_AMBIGUOUS, KELDO_KIND_MALFORMED_HASH, "password_verify: "},
        {KELDO_E_PASSWORD_FIELDS, KELDO_KIND_MALFORMED_HASH, "password_verify: "},
        {KELDO_E_PASSWORD_STORED_ITERATIONS, KELDO_KIND_MALFORMED_HASH, "password_verify: "},
        {KELDO_E_PASSWORD_STORED_SALT, KELDO_KIND_MALFORMED_HASH, "password_verify: "},
        {KELDO_E_PASSWORD_STORED_KEY, KELDO_KIND_MALFORMED_HASH, "password_verify: "},
        {KELDO_E_PASSWORD_RANDOM, KELDO_KIND_INTERNAL, "password_hash: "},
        {KELDO_E_PASSWORD_DERIVE, KELDO_KIND_INTERNAL, "password_hash: "},
        {KELDO_E_PASSWORD_VERIFY_DERIVE, KELDO_KIND_INTERNAL, "password_verify: "},
    };
    std::set<std::string> texts;
    for (const auto &c : codes) {
        EXPECT_EQ(KELDO_STATUS_KIND(c.code), c.kind) << c.code;
        const std::string text = keldo_crypto_status_text(c.code);
        EXPECT_EQ(text.rfind(c.prefix, 0), 0u) << c.code << ": " << text;
        EXPECT_TRUE(texts.insert(text).second) << "two codes share " << text;
    }
    EXPECT_NE(std::string(keldo_crypto_status_text(KELDO_E_PASSWORD_AMBIGUOUS)).find("ambiguous"),
              std::string::npos);
}

TEST(Password, NullArgumentsAndNoLastErrorWrites) {
    ASSERT_EQ(keldo_crypto_sha256(nullptr, 0, nullptr), -1);
    const std::string marker = keldo_crypto_last_error();
    char out[KELDO_PASSWORD_HASH_MAX];
    EXPECT_EQ(keldo_password_verify("pw", 2, nullptr), KELDO_E_PASSWORD_VERIFY_NULL_ARGUMENT);
    EXPECT_EQ(keldo_password_verify(nullptr, 2, "x"), KELDO_E_PASSWORD_VERIFY_NULL_ARGUMENT);
    EXPECT_EQ(keldo_password_parameters(nullptr, nullptr, nullptr),
              KELDO_E_PASSWORD_VERIFY_NULL_ARGUMENT);
    EXPECT_EQ(keldo_password_needs_rehash(nullptr, 0), KELDO_E_PASSWORD_VERIFY_NULL_ARGUMENT);
    EXPECT_EQ(keldo_password_verify("pw", 2, "nonsense"), KELDO_E_PASSWORD_UNKNOWN_FORMAT);
    EXPECT_EQ(verify("wrong", reference(KELDO_PASSWORD_PHC, "pw", "salt", 1)),
              KELDO_E_PASSWORD_MISMATCH);
    EXPECT_EQ(keldo_password_hash("pw", 2, 1, out, 1), KELDO_E_PASSWORD_BUFFER_TOO_SMALL);
    // The empty password, given as NULL, is a password like any other.
    const std::string empty_hash = reference(KELDO_PASSWORD_DJANGO, "", "salt", 1);
    EXPECT_EQ(keldo_password_verify(nullptr, 0, empty_hash.c_str()), KELDO_OK);
    EXPECT_EQ(std::string(keldo_crypto_last_error()), marker);
}

}  // namespace
