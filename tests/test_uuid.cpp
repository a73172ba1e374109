// Random version 4 UUID text: layout and extent, the version and variant
// bits over scripted random bytes, the failure paths through the test
// platform's random source, and a large sample from the real source.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "keldo_crypto.h"
#include "test_platform.h"
#include "id/uuid.h"

namespace {

constexpr char kCanary = '#';
constexpr char kPlanted[] = "keldo_crypto_sha256: null output buffer";
constexpr char kFailedMessage[] = "keldo_crypto_uuid_generate: CSPRNG generation failed";
constexpr char kNullMessage[] = "keldo_crypto_uuid_generate: null output buffer";

void plant_message() {
    ASSERT_EQ(keldo_crypto_sha256("", 0, nullptr), -1);
    ASSERT_STREQ(keldo_crypto_last_error(), kPlanted);
}

struct Generator {
    const char *name;
    int32_t (*generate)(char *);
    bool reports;  // the export writes messages, the core does not
};
constexpr Generator kGenerators[] = {
    {"export", keldo_crypto_uuid_generate, true},
    {"core", uuid_v4_generate, false},
};

bool is_hyphen_position(size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;  // uppercase included
}

// 8-4-4-4-12 lowercase hex, version 4, variant 10, NUL at 36.
::testing::AssertionResult well_formed(const char *s) {
    for (size_t i = 0; i < 36; ++i) {
        if (is_hyphen_position(i) ? s[i] != '-' : hex_value(s[i]) < 0)
            return ::testing::AssertionFailure()
                   << "character " << i << " of " << std::string(s, 36);
    }
    if (s[36] != '\0') return ::testing::AssertionFailure() << "no NUL at 36";
    if (s[14] != '4') return ::testing::AssertionFailure() << "version " << s[14];
    if (std::strchr("89ab", s[19]) == nullptr)
        return ::testing::AssertionFailure() << "variant " << s[19];
    return ::testing::AssertionSuccess();
}

class UuidTest : public ::testing::Test {
  protected:
    void TearDown() override { test_platform::reset(); }
};

TEST_F(UuidTest, WritesThirtySevenBytesAndNoMore) {
    for (const Generator &g : kGenerators) {
        SCOPED_TRACE(g.name);
        std::array<char, 64> buf;
        buf.fill(kCanary);
        plant_message();
        ASSERT_EQ(g.generate(buf.data()), 0);
        EXPECT_TRUE(well_formed(buf.data()));
        for (size_t i = 37; i < buf.size(); ++i) EXPECT_EQ(buf[i], kCanary) << "byte " << i;
        EXPECT_STREQ(keldo_crypto_last_error(), kPlanted);
    }
}

// The bytes appear in the order the source gives them, sixteen per call,
// with only the version nibble and the two variant bits forced.
TEST_F(UuidTest, ScriptedRandomBytes) {
    struct Case {
        uint8_t first;  // the sixteen bytes first, first + 1, ...
        const char *text;
    };
    constexpr Case cases[] = {
        {0xF0, "f0f1f2f3-f4f5-46f7-b8f9-fafbfcfdfeff"},
        {0x00, "00010203-0405-4607-8809-0a0b0c0d0e0f"},
        {0x30, "30313233-3435-4637-b839-3a3b3c3d3e3f"},
        {0x40, "40414243-4445-4647-8849-4a4b4c4d4e4f"},
    };
    for (const Generator &g : kGenerators) {
        SCOPED_TRACE(g.name);
        std::vector<uint8_t> queued;
        for (const Case &c : cases)
            for (int i = 0; i < 16; ++i) queued.push_back(static_cast<uint8_t>(c.first + i));
        test_platform::queue_random(queued);
        for (const Case &c : cases) {
            std::array<char, 40> buf;
            buf.fill(kCanary);
            ASSERT_EQ(g.generate(buf.data()), 0);
            EXPECT_STREQ(buf.data(), c.text);
            EXPECT_EQ(buf[37], kCanary);
        }
    }
}

TEST_F(UuidTest, FixedBitsOverExtremeBytes) {
    for (const Generator &g : kGenerators) {
        SCOPED_TRACE(g.name);
        test_platform::queue_random(std::vector<uint8_t>(16, 0x00));
        test_platform::queue_random(std::vector<uint8_t>(16, 0xFF));
        char buf[37];
        ASSERT_EQ(g.generate(buf), 0);
        EXPECT_STREQ(buf, "00000000-0000-4000-8000-000000000000");
        ASSERT_EQ(g.generate(buf), 0);
        EXPECT_STREQ(buf, "ffffffff-ffff-4fff-bfff-ffffffffffff");
    }
}

TEST_F(UuidTest, FailingSourceLeavesOutAlone) {
    for (const Generator &g : kGenerators) {
        SCOPED_TRACE(g.name);
        std::array<char, 40> buf;
        buf.fill(kCanary);
        plant_message();
        test_platform::fail_random(true);
        EXPECT_EQ(g.generate(buf.data()), -1);
        for (char c : buf) EXPECT_EQ(c, kCanary);
        EXPECT_STREQ(keldo_crypto_last_error(), g.reports ? kFailedMessage : kPlanted);
        test_platform::fail_random(false);
        EXPECT_EQ(g.generate(buf.data()), 0);
        EXPECT_TRUE(well_formed(buf.data()));
    }
}

TEST_F(UuidTest, NullOutput) {
    plant_message();
    EXPECT_EQ(uuid_v4_generate(nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), kPlanted);

    // The export refuses before the core runs: no random bytes are taken,
    // and a failing source makes no difference to the message.
    test_platform::queue_random({0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8,
                                 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF});
    EXPECT_EQ(keldo_crypto_uuid_generate(nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), kNullMessage);
    char buf[37];
    ASSERT_EQ(keldo_crypto_uuid_generate(buf), 0);
    EXPECT_STREQ(buf, "f0f1f2f3-f4f5-46f7-b8f9-fafbfcfdfeff");

    plant_message();
    test_platform::fail_random(true);
    EXPECT_EQ(keldo_crypto_uuid_generate(nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), kNullMessage);
}

// 100 000 identifiers from the system source: all well formed, no two
// alike, and every one of the 122 random bits set in close to half of them.
// The band is about 19 standard deviations wide on each side, so a sound
// source never leaves it, while a stuck, copied or mis-shifted bit does.
TEST_F(UuidTest, LargeSampleIsDistinctAndBalanced) {
    constexpr size_t kCount = 100000;
    std::vector<std::pair<uint64_t, uint64_t>> seen;
    seen.reserve(kCount);
    std::array<size_t, 128> ones{};
    std::array<std::array<bool, 16>, 32> digit_seen{};
    char buf[37];
    for (size_t n = 0; n < kCount; ++n) {
        ASSERT_EQ(keldo_crypto_uuid_generate(buf), 0);
        ASSERT_TRUE(well_formed(buf));
        uint64_t hi = 0, lo = 0;
        size_t digit = 0;
        for (size_t i = 0; i < 36; ++i) {
            if (is_hyphen_position(i)) continue;
            auto v = static_cast<unsigned>(hex_value(buf[i]));
            digit_seen[digit][v] = true;
            for (unsigned b = 0; b < 4; ++b) ones[digit * 4 + b] += (v >> (3 - b)) & 1;
            uint64_t &half = digit < 16 ? hi : lo;
            half = (half << 4) | v;
            ++digit;
        }
        seen.emplace_back(hi, lo);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end()) << "duplicate identifier";

    // Bits 48-51 hold the version, bits 64-65 the variant.
    for (size_t bit = 0; bit < 128; ++bit) {
        if (bit >= 48 && bit < 52) {
            EXPECT_EQ(ones[bit], bit == 49 ? kCount : 0u) << "version bit " << bit;
        } else if (bit == 64 || bit == 65) {
            EXPECT_EQ(ones[bit], bit == 64 ? kCount : 0u) << "variant bit " << bit;
        } else {
            EXPECT_GT(ones[bit], kCount * 47 / 100) << "bit " << bit;
            EXPECT_LT(ones[bit], kCount * 53 / 100) << "bit " << bit;
        }
    }
    // Each free digit takes all sixteen values; the variant digit 8 to b.
    for (size_t d = 0; d < 32; ++d) {
        if (d == 12) continue;
        for (size_t v = 0; v < 16; ++v) {
            bool expected = d != 16 || (v >= 8 && v <= 11);
            EXPECT_EQ(digit_seen[d][v], expected) << "digit " << d << " value " << v;
        }
    }
}

}  // namespace
