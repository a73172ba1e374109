// PBKDF2-HMAC-SHA256: RFC 7914, OpenSSL's PKCS5_PBKDF2_HMAC as the
// reference for output lengths, salts around the 252-byte stack limit and
// long passwords, and every refusal of the core and the export.
#include <gtest/gtest.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "hash_oracle.h"
#include "hex.h"
#include "keldo_crypto.h"
#include "hash/pbkdf2.h"

namespace {

constexpr uint64_t kMaxOutLen = uint64_t{0xffffffff} * 32;
constexpr char kInvalid[] = "keldo_crypto_pbkdf2_sha256: invalid parameter";
// A message no PBKDF2 call writes, to show that one left the text alone.
constexpr char kMarker[] = "keldo_crypto_sha256: null output buffer";

std::vector<uint8_t> bytes_of(std::string_view s) { return {s.begin(), s.end()}; }

void set_marker() {
    ASSERT_EQ(keldo_crypto_sha256(nullptr, 0, nullptr), -1);
    ASSERT_STREQ(keldo_crypto_last_error(), kMarker);
}

// Derives through the core and the export into buffers with a tail of
// canary bytes; both must agree and leave the tail alone.
std::vector<uint8_t> derive(const std::vector<uint8_t> &password,
                            const std::vector<uint8_t> &salt, uint32_t iterations,
                            size_t out_len) {
    std::vector<uint8_t> core(out_len + 16, 0xa5), exp(out_len + 16, 0xa5);
    EXPECT_EQ(pbkdf2_sha256(password.data(), password.size(), salt.data(), salt.size(),
                            iterations, core.data(), out_len),
              0);
    EXPECT_EQ(keldo_crypto_pbkdf2_sha256(password.data(), password.size(), salt.data(),
                                         salt.size(), iterations, exp.data(), out_len),
              0);
    EXPECT_EQ(core, exp);
    for (size_t i = out_len; i < core.size(); ++i) EXPECT_EQ(core[i], 0xa5) << "byte " << i;
    core.resize(out_len);
    return core;
}

TEST(Pbkdf2, Rfc7914Section11) {
    EXPECT_EQ(to_hex(derive(bytes_of("passwd"), bytes_of("salt"), 1, 64)),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
              "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
    // The costly one once, through the export only.
    uint8_t out[64];
    ASSERT_EQ(keldo_crypto_pbkdf2_sha256("Password", 8, "NaCl", 4, 80000, out, sizeof out), 0);
    EXPECT_EQ(to_hex(out, sizeof out),
              "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"
              "a1d425a1225833549adb841b51c9b3176a272bdebba1d078478f62b397f33c8d");
}

// Each length is the prefix of the longest key; nothing past it is written.
TEST(Pbkdf2, OutputLengthsArePrefixes) {
    const std::vector<uint8_t> password = bytes_of("password"), salt = bytes_of("salt");
    const std::vector<uint8_t> full = oracle::pbkdf2(password, salt, 3, 100);
    for (size_t len : {1u, 31u, 32u, 33u, 64u, 65u, 100u}) {
        SCOPED_TRACE(len);
        EXPECT_EQ(to_hex(derive(password, salt, 3, len)), to_hex(full.data(), len));
    }
}

// 257 blocks: the block index outgrows its low byte, on the stack and on
// the heap message alike.
TEST(Pbkdf2, BlockIndexPastOneByte) {
    oracle::Rng rng(23);
    const std::vector<uint8_t> password = bytes_of("pw");
    for (size_t salt_len : {8u, 253u}) {
        SCOPED_TRACE(salt_len);
        const std::vector<uint8_t> salt = rng.bytes(salt_len);
        EXPECT_EQ(to_hex(derive(password, salt, 2, 257 * 32 - 5)),
                  to_hex(oracle::pbkdf2(password, salt, 2, 257 * 32 - 5)));
    }
}

// Up to 252 bytes the block message fits the stack array, from 253 on it
// is on the heap; the result must not notice.
TEST(Pbkdf2, SaltsAroundTheStackLimit) {
    oracle::Rng rng(20);
    const std::vector<uint8_t> password = bytes_of("pw");
    for (size_t len : {0u, 1u, 251u, 252u, 253u, 254u, 256u, 1000u, 5000u}) {
        SCOPED_TRACE(len);
        const std::vector<uint8_t> salt = rng.bytes(len);
        EXPECT_EQ(to_hex(derive(password, salt, 2, 70)),
                  to_hex(oracle::pbkdf2(password, salt, 2, 70)));
    }
}

TEST(Pbkdf2, LongPasswords) {
    oracle::Rng rng(21);
    const std::vector<uint8_t> salt = bytes_of("NaCl");
    for (size_t len : {63u, 64u, 65u, 100u, 1000u, 100000u}) {
        SCOPED_TRACE(len);
        const std::vector<uint8_t> password = rng.bytes(len);
        EXPECT_EQ(to_hex(derive(password, salt, 5, 40)),
                  to_hex(oracle::pbkdf2(password, salt, 5, 40)));
    }
}

TEST(Pbkdf2, NullWithZeroLengthIsEmpty) {
    const std::vector<uint8_t> want = oracle::pbkdf2({}, {}, 2, 33);
    uint8_t core[33], exp[33];
    ASSERT_EQ(pbkdf2_sha256(nullptr, 0, nullptr, 0, 2, core, sizeof core), 0);
    ASSERT_EQ(keldo_crypto_pbkdf2_sha256(nullptr, 0, nullptr, 0, 2, exp, sizeof exp), 0);
    EXPECT_EQ(to_hex(core, sizeof core), to_hex(want));
    EXPECT_EQ(to_hex(exp, sizeof exp), to_hex(want));
    const uint8_t byte = 1;
    ASSERT_EQ(pbkdf2_sha256(&byte, 0, &byte, 0, 2, core, sizeof core), 0);
    EXPECT_EQ(to_hex(core, sizeof core), to_hex(want));
}

TEST(Pbkdf2, RandomParametersMatchOpenssl) {
    oracle::Rng rng(22);
    for (int i = 0; i < 300; ++i) {
        size_t password_len = rng.below(4) == 0 ? 64 + rng.below(3) : rng.below(150);
        size_t salt_len = rng.below(3) == 0 ? 250 + rng.below(6) : rng.below(300);
        uint32_t iterations = uint32_t(1 + rng.below(4));
        size_t out_len = 1 + rng.below(130);
        const std::vector<uint8_t> password = rng.bytes(password_len);
        const std::vector<uint8_t> salt = rng.bytes(salt_len);
        SCOPED_TRACE(testing::Message() << "password " << password_len << " salt " << salt_len
                                        << " iterations " << iterations << " out "
                                        << out_len);
        ASSERT_EQ(to_hex(derive(password, salt, iterations, out_len)),
                  to_hex(oracle::pbkdf2(password, salt, iterations, out_len)));
    }
}

// The export's own checks write the message and do nothing else.
TEST(Pbkdf2, ExportRefusalsWriteTheMessage) {
    struct Case {
        const char *what;
        uint32_t iterations;
        bool null_out;
        uint64_t out_len;
    };
    const Case cases[] = {
        {"out_len 0", 1, false, 0},
        {"iterations 0", 0, false, 32},
        {"null out", 1, true, 32},
        {"out_len past the 32-bit block index", 1, false, kMaxOutLen + 1},
        {"out_len UINT64_MAX", 1, false, UINT64_MAX},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        set_marker();
        uint8_t buf[64];
        std::memset(buf, 0xa5, sizeof buf);
        // The oversized lengths are refused before anything is written, so
        // a small buffer is safe.
        EXPECT_EQ(keldo_crypto_pbkdf2_sha256("pw", 2, "salt", 4, c.iterations,
                                             c.null_out ? nullptr : buf, c.out_len),
                  -1);
        EXPECT_STREQ(keldo_crypto_last_error(), kInvalid);
        for (uint8_t b : buf) EXPECT_EQ(b, 0xa5);
    }
}

// What only the core refuses comes back as -1 with the text unchanged; the
// core refuses the export's cases too, silently. Nothing is written, and
// the oversized salt length is refused before its bytes are read.
TEST(Pbkdf2, CoreRefusalsLeaveTheTextAlone) {
    const uint8_t salt[4] = {1, 2, 3, 4};
    struct Case {
        const char *what;
        const void *password;
        uint64_t password_len;
        const void *salt;
        uint64_t salt_len;
        uint32_t iterations;
        bool null_out;
        uint64_t out_len;
        bool export_passes_it_on;
    };
    const Case cases[] = {
        {"null salt, salt_len 1", "pw", 2, nullptr, 1, 1, false, 32, true},
        {"null salt, salt_len 300", "pw", 2, nullptr, 300, 1, false, 32, true},
        {"null password, password_len 1", nullptr, 1, salt, 4, 1, false, 32, true},
        {"null password, password_len 100", nullptr, 100, salt, 4, 1, false, 32, true},
        {"salt_len 2^64 - 4", "pw", 2, salt, UINT64_MAX - 3, 1, false, 32, true},
        {"salt_len 2^64 - 1", "pw", 2, salt, UINT64_MAX, 1, false, 32, true},
        {"out_len 0", "pw", 2, salt, 4, 1, false, 0, false},
        {"iterations 0", "pw", 2, salt, 4, 0, false, 32, false},
        {"null out", "pw", 2, salt, 4, 1, true, 32, false},
        {"out_len past the block index", "pw", 2, salt, 4, 1, false, kMaxOutLen + 1, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t buf[64];
        std::memset(buf, 0xa5, sizeof buf);
        uint8_t *out = c.null_out ? nullptr : buf;
        set_marker();
        EXPECT_EQ(pbkdf2_sha256(c.password, c.password_len, c.salt, c.salt_len, c.iterations,
                                out, c.out_len),
                  -1);
        EXPECT_STREQ(keldo_crypto_last_error(), kMarker);
        if (c.export_passes_it_on) {
            EXPECT_EQ(keldo_crypto_pbkdf2_sha256(c.password, c.password_len, c.salt,
                                                 c.salt_len, c.iterations, out, c.out_len),
                      -1);
            EXPECT_STREQ(keldo_crypto_last_error(), kMarker);
        }
        for (uint8_t b : buf) EXPECT_EQ(b, 0xa5);
    }
}

TEST(Pbkdf2, SuccessLeavesTheTextAlone) {
    set_marker();
    uint8_t out[32];
    EXPECT_EQ(keldo_crypto_pbkdf2_sha256("pw", 2, "salt", 4, 1, out, sizeof out), 0);
    EXPECT_STREQ(keldo_crypto_last_error(), kMarker);
}

}  // namespace
