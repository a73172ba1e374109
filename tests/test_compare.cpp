// The two constant-time comparisons: verdicts at every position of short
// buffers and at unaligned offsets, agreement with memcmp on random data,
// the pointer rules, and which calls write which message.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "keldo_crypto.h"

namespace {

constexpr char kPlanted[] = "keldo_crypto_sha256: null output buffer";
constexpr char kNullHash[] = "keldo_verify_password_hash: null hash pointer";
constexpr char kLengthMismatch[] = "keldo_verify_password_hash: hash length mismatch";
constexpr char kHashMismatch[] = "keldo_verify_password_hash: password hash mismatch";

constexpr size_t kTableLengths[] = {1, 15, 16, 17, 31, 32, 33, 100};

void plant_message() {
    ASSERT_EQ(keldo_crypto_sha256("", 0, nullptr), -1);
    ASSERT_STREQ(keldo_crypto_last_error(), kPlanted);
}

std::vector<uint8_t> random_bytes(std::mt19937_64 &rng, size_t n) {
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = static_cast<uint8_t>(rng() >> 56);
    return v;
}

// Every test of keldo_crypto_secure_compare ends with the text it began with.
class SecureCompare : public ::testing::Test {
  protected:
    void SetUp() override { plant_message(); }
    void TearDown() override { EXPECT_STREQ(keldo_crypto_last_error(), kPlanted); }
};

TEST_F(SecureCompare, OneFlippedBitAtFirstMiddleAndLast) {
    std::mt19937_64 rng(0xC0A1);
    for (size_t len : kTableLengths) {
        std::vector<uint8_t> a = random_bytes(rng, len);
        std::vector<uint8_t> b = a;
        EXPECT_EQ(keldo_crypto_secure_compare(a.data(), b.data(), len), 0) << len;
        for (size_t pos : {size_t(0), len / 2, len - 1}) {
            for (unsigned bit = 0; bit < 8; ++bit) {
                b[pos] = static_cast<uint8_t>(b[pos] ^ (1u << bit));
                EXPECT_EQ(keldo_crypto_secure_compare(a.data(), b.data(), len), 1)
                    << "length " << len << " byte " << pos << " bit " << bit;
                EXPECT_EQ(keldo_crypto_secure_compare(b.data(), a.data(), len), 1);
                b[pos] = a[pos];
            }
        }
        EXPECT_EQ(keldo_crypto_secure_compare(a.data(), b.data(), len), 0) << len;
    }
}

// Word-wide steps and the byte tail: a difference at any position of any
// short length, with either buffer at any alignment, is seen; a difference
// just past len is not.
TEST_F(SecureCompare, EveryPositionAtEveryOffset) {
    std::mt19937_64 rng(0xC0A2);
    std::vector<uint8_t> base = random_bytes(rng, 96);
    for (size_t a_off : {0u, 1u, 3u, 4u, 7u}) {
        for (size_t b_off : {0u, 2u, 5u}) {
            for (size_t len = 0; len <= 72; ++len) {
                std::vector<uint8_t> a(a_off + len + 1), b(b_off + len + 1);
                std::memcpy(a.data() + a_off, base.data(), len + 1);
                std::memcpy(b.data() + b_off, base.data(), len + 1);
                b[b_off + len] ^= 0x01;  // outside the compared range
                const uint8_t *pa = a.data() + a_off;
                uint8_t *pb = b.data() + b_off;
                ASSERT_EQ(keldo_crypto_secure_compare(pa, pb, len), 0) << len;
                for (size_t pos = 0; pos < len; ++pos) {
                    const auto flip = static_cast<uint8_t>(1u << (pos % 8));
                    pb[pos] ^= flip;
                    ASSERT_EQ(keldo_crypto_secure_compare(pa, pb, len), 1)
                        << "offsets " << a_off << "/" << b_off << " length " << len
                        << " byte " << pos;
                    pb[pos] ^= flip;
                }
            }
        }
    }
}

TEST_F(SecureCompare, AgreesWithMemcmp) {
    std::mt19937_64 rng(0xC0A3);
    for (int trial = 0; trial < 20000; ++trial) {
        const size_t len = rng() % 300, a_off = rng() % 16, b_off = rng() % 16;
        std::vector<uint8_t> a = random_bytes(rng, a_off + len), b(b_off + len);
        if (len > 0) std::memcpy(b.data() + b_off, a.data() + a_off, len);
        switch (rng() % 4) {
            case 0:  // equal
                break;
            case 1:  // a few changed bytes, possibly none if they cancel
            case 2:
                for (uint64_t k = rng() % 4; k > 0 && len > 0; --k)
                    b[b_off + rng() % len] ^= static_cast<uint8_t>(rng() >> 56);
                break;
            default:  // unrelated contents
                for (size_t i = 0; i < len; ++i) b[b_off + i] = static_cast<uint8_t>(rng() >> 56);
                break;
        }
        const uint8_t *pa = a.data() + a_off;
        const uint8_t *pb = b.data() + b_off;
        const int32_t want = len > 0 && std::memcmp(pa, pb, len) != 0 ? 1 : 0;
        ASSERT_EQ(keldo_crypto_secure_compare(pa, pb, len), want) << "trial " << trial;
    }
}

TEST_F(SecureCompare, PointerRules) {
    const uint8_t x[4] = {1, 2, 3, 4};
    // Length 0 is equal whatever the pointers.
    EXPECT_EQ(keldo_crypto_secure_compare(nullptr, nullptr, 0), 0);
    EXPECT_EQ(keldo_crypto_secure_compare(x, nullptr, 0), 0);
    EXPECT_EQ(keldo_crypto_secure_compare(nullptr, x, 0), 0);
    EXPECT_EQ(keldo_crypto_secure_compare(x, x + 1, 0), 0);
    // With a length, one null pointer differs and two are equal, without a
    // byte being read: the length may be anything.
    for (uint64_t len : {uint64_t(1), uint64_t(4), uint64_t(32), UINT64_MAX}) {
        EXPECT_EQ(keldo_crypto_secure_compare(x, nullptr, len), 1) << len;
        EXPECT_EQ(keldo_crypto_secure_compare(nullptr, x, len), 1) << len;
        EXPECT_EQ(keldo_crypto_secure_compare(nullptr, nullptr, len), 0) << len;
    }
}

TEST_F(SecureCompare, SameBufferTwice) {
    std::mt19937_64 rng(0xC0A4);
    std::vector<uint8_t> a = random_bytes(rng, 1000);
    for (size_t len : {size_t(1), size_t(7), size_t(8), size_t(33), size_t(1000)})
        EXPECT_EQ(keldo_crypto_secure_compare(a.data(), a.data(), len), 0) << len;
}

// ---- keldo_verify_password_hash ----

class VerifyPasswordHash : public ::testing::Test {
  protected:
    void SetUp() override { plant_message(); }
};

// Letters and digits only: flipping any one bit of them never makes a NUL,
// so the lengths stay equal.
std::string random_hash_text(std::mt19937_64 &rng, size_t n) {
    static constexpr char chars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string s(n, 'x');
    for (auto &c : s) c = chars[rng() % (sizeof chars - 1)];
    return s;
}

TEST_F(VerifyPasswordHash, OneFlippedBitAtFirstMiddleAndLast) {
    std::mt19937_64 rng(0x9A55);
    for (size_t len : kTableLengths) {
        const std::string a = random_hash_text(rng, len);
        std::string b = a;
        plant_message();
        EXPECT_EQ(keldo_verify_password_hash(a.c_str(), b.c_str()), 0) << len;
        EXPECT_STREQ(keldo_crypto_last_error(), kPlanted);
        for (size_t pos : {size_t(0), len / 2, len - 1}) {
            for (unsigned bit = 0; bit < 8; ++bit) {
                b[pos] = static_cast<char>(static_cast<unsigned char>(b[pos]) ^ (1u << bit));
                plant_message();
                EXPECT_EQ(keldo_verify_password_hash(a.c_str(), b.c_str()), 1)
                    << "length " << len << " byte " << pos << " bit " << bit;
                EXPECT_STREQ(keldo_crypto_last_error(), kHashMismatch);
                b[pos] = a[pos];
            }
        }
    }
}

TEST_F(VerifyPasswordHash, EmptyStrings) {
    EXPECT_EQ(keldo_verify_password_hash("", ""), 0);
    EXPECT_STREQ(keldo_crypto_last_error(), kPlanted);

    EXPECT_EQ(keldo_verify_password_hash("", "a"), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kLengthMismatch);
    plant_message();
    EXPECT_EQ(keldo_verify_password_hash("a", ""), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kLengthMismatch);
}

TEST_F(VerifyPasswordHash, LengthsAreComparedBeforeContents) {
    EXPECT_EQ(keldo_verify_password_hash("abc", "abcd"), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kLengthMismatch);
    plant_message();
    EXPECT_EQ(keldo_verify_password_hash("abcd", "xyz"), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kLengthMismatch);
}

TEST_F(VerifyPasswordHash, NullPointers) {
    // Unlike the byte comparison, two nulls are not equal here.
    EXPECT_EQ(keldo_verify_password_hash(nullptr, nullptr), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kNullHash);
    plant_message();
    EXPECT_EQ(keldo_verify_password_hash(nullptr, ""), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kNullHash);
    plant_message();
    EXPECT_EQ(keldo_verify_password_hash("abc", nullptr), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kNullHash);
}

TEST_F(VerifyPasswordHash, BytesAreComparedAsTheyAre) {
    EXPECT_EQ(keldo_verify_password_hash("Pbkdf2$AbCd", "pbkdf2$abcd"), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kHashMismatch);
    plant_message();
    EXPECT_EQ(keldo_verify_password_hash("hash ", " hash"), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kHashMismatch);
    plant_message();
    EXPECT_EQ(keldo_verify_password_hash("a\xff", "a\xfe"), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kHashMismatch);
    plant_message();
    EXPECT_EQ(keldo_verify_password_hash("caf\xc3\xa9", "caf\xc3\xa9"), 0);
    EXPECT_STREQ(keldo_crypto_last_error(), kPlanted);
}

TEST_F(VerifyPasswordHash, MatchKeepsTheLastFailure) {
    EXPECT_EQ(keldo_verify_password_hash("abcdef", "abcdeF"), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), kHashMismatch);
    const std::string a = "0123456789abcdef0123456789abcdef";
    const std::string b = a;
    EXPECT_EQ(keldo_verify_password_hash(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(keldo_verify_password_hash(a.c_str(), a.c_str()), 0);
    EXPECT_STREQ(keldo_crypto_last_error(), kHashMismatch);
    EXPECT_EQ(keldo_verify_password_hash(nullptr, "x"), 1);
    EXPECT_EQ(keldo_verify_password_hash(a.c_str(), b.c_str()), 0);
    EXPECT_STREQ(keldo_crypto_last_error(), kNullHash);
}

// Random texts at unaligned offsets, some equal, some one byte apart, some
// of different lengths: the verdict and message follow strlen and memcmp.
TEST_F(VerifyPasswordHash, AgreesWithStrlenAndMemcmp) {
    std::mt19937_64 rng(0x9A56);
    for (int trial = 0; trial < 5000; ++trial) {
        const size_t len = rng() % 130;
        std::string a = random_hash_text(rng, len), b = a;
        switch (rng() % 3) {
            case 0:
                break;
            case 1:
                if (len > 0) b[rng() % len] = random_hash_text(rng, 1)[0];
                break;
            default:
                b = random_hash_text(rng, rng() % 130);
                break;
        }
        // Copies at odd offsets inside larger blocks.
        const size_t a_off = rng() % 8, b_off = rng() % 8;
        std::string ablock = std::string(a_off, '#') + a, bblock = std::string(b_off, '#') + b;
        const char *pa = ablock.c_str() + a_off, *pb = bblock.c_str() + b_off;

        const char *want_text = kPlanted;
        int32_t want = 0;
        if (std::strlen(pa) != std::strlen(pb)) {
            want = 1;
            want_text = kLengthMismatch;
        } else if (std::memcmp(pa, pb, std::strlen(pa)) != 0) {
            want = 1;
            want_text = kHashMismatch;
        }
        plant_message();
        ASSERT_EQ(keldo_verify_password_hash(pa, pb), want) << a << " / " << b;
        ASSERT_STREQ(keldo_crypto_last_error(), want_text);
    }
}

}  // namespace
