// Every Base64 bulk loop this machine can run, against OpenSSL's block
// codec: all lengths across the loops' step sizes at every alignment, both
// alphabets, and a rejected character at every position of a long text
// (the bytes of the groups before it written, nothing after them).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/backend_select.h"
#include "codec/base64.h"
#include "hash_oracle.h"

namespace {

std::vector<std::string> built_in() {
    std::vector<std::string> names;
    for (size_t i = 0; base64_backend_at(i) != nullptr; ++i) names.emplace_back(base64_backend_at(i));
    return names;
}

class Codec : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        previous_ = base64_backend_name();
        if (base64_backend_select(GetParam().c_str()) != 0)
            GTEST_SKIP() << GetParam() << " is not supported on this machine";
    }
    void TearDown() override { ASSERT_EQ(base64_backend_select(previous_.c_str()), 0); }

private:
    std::string previous_;
};

// OpenSSL's standard text; base64url is the same with the two characters
// swapped and the padding dropped.
std::string reference(const uint8_t *p, size_t n, bool url) {
    std::string text(4 * ((n + 2) / 3) + 1, '\0');
    const int len = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()), p, int(n));
    text.resize(size_t(len));
    if (url) {
        std::replace(text.begin(), text.end(), '+', '-');
        std::replace(text.begin(), text.end(), '/', '_');
        text.erase(text.find_last_not_of('=') + 1);
    }
    return text;
}

TEST(Base64Backends, EnvironmentPinIsInForce) {
    const char *pinned = std::getenv("KELDO_TEST_BASE64_BACKEND");
    if (pinned == nullptr || *pinned == '\0') GTEST_SKIP() << "nothing pinned";
    EXPECT_STREQ(base64_backend_name(), pinned);
}

TEST(Base64Backends, PortableIsAlwaysThereAndLast) {
    const std::vector<std::string> names = built_in();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "portable");
    EXPECT_EQ(base64_backend_select("no-such-backend"), -1);
}

TEST_P(Codec, EveryLengthAndAlignmentRoundTrips) {
    oracle::Rng rng(0xb64b64);
    const std::vector<uint8_t> pool = rng.bytes(16 + 200);
    for (int url = 0; url < 2; ++url) {
        for (size_t offset = 0; offset < 16; ++offset) {
            for (size_t n = 0; n <= 200; ++n) {
                const uint8_t *p = pool.data() + offset;
                const std::string want = reference(p, n, url != 0);
                // Odd output offsets too: the characters land unaligned.
                std::string out(want.size() + 1 + offset + 8, '#');
                ASSERT_EQ(base64_encode(p, n, out.data() + offset, want.size() + 1, url), 0);
                ASSERT_EQ(std::string(out.data() + offset), want) << n << " at " << offset;
                ASSERT_EQ(out[offset + want.size() + 1], '#');

                // Decoded from an odd address, into an exactly sized buffer
                // followed by a canary.
                const std::string text = std::string(offset, 'x') + want;
                std::vector<uint8_t> back(n + 1, 0xa5);
                uint64_t back_len = 0;
                ASSERT_EQ(base64_decode_n(text.data() + offset, want.size(), back.data(), n, &back_len, url), 0);
                ASSERT_EQ(back_len, n);
                ASSERT_TRUE(std::equal(p, p + n, back.begin())) << n << " at " << offset;
                ASSERT_EQ(back[n], 0xa5);
            }
        }
    }
}

// The url decoder takes either alphabet, mixed; the standard one only its own.
TEST_P(Codec, AlphabetsInLongTexts) {
    oracle::Rng rng(0xb64001);
    const std::vector<uint8_t> data = rng.bytes(3000);
    std::string mixed = reference(data.data(), data.size(), false);
    const std::string url = reference(data.data(), data.size(), true);
    for (size_t i = 0; i < mixed.size(); i += 3) mixed[i] = url[i];
    std::vector<uint8_t> back(data.size());
    uint64_t n = 0;
    ASSERT_EQ(base64_decode(mixed.c_str(), back.data(), back.size(), &n, 1), 0);
    EXPECT_EQ(back, data);
    const bool has_url_chars = mixed.find_first_of("-_") != std::string::npos;
    ASSERT_TRUE(has_url_chars);
    EXPECT_EQ(base64_decode(mixed.c_str(), back.data(), back.size(), &n, 0), -1);
}

// Short texts (token signatures and claims take the whole-message path)
// and a long one: the bytes of the groups before the refused character are
// written, nothing after them.
TEST_P(Codec, RejectedCharacterAtEveryPosition) {
    oracle::Rng rng(0xb64002);
    const char bad[] = {'=', '\n', ' ', '.', '\x80', '\xff', '\x7f', '-', '\0'};
    for (const size_t n : std::vector<size_t>{1, 2, 3, 31, 32, 33, 47, 48, 49, 150}) {
        const std::vector<uint8_t> data = rng.bytes(n);
        std::string good = reference(data.data(), data.size(), false);
        good.erase(good.find_last_not_of('=') + 1);
        for (size_t pos = 0; pos + 1 < good.size(); ++pos) {
            for (char c : bad) {
                std::string text = good;
                text[pos] = c;
                std::vector<uint8_t> out(data.size() + 16, 0xa5);
                uint64_t out_len = 77;
                ASSERT_EQ(base64_decode_n(text.data(), text.size(), out.data(), data.size(), &out_len, 0), -1)
                    << n << " " << pos << " " << int(c);
                const size_t written = std::min(pos / 4, good.size() / 4) * 3;
                ASSERT_TRUE(std::equal(data.begin(), data.begin() + std::ptrdiff_t(written), out.begin())) << pos;
                ASSERT_TRUE(std::all_of(out.begin() + std::ptrdiff_t(written), out.end(),
                                        [](uint8_t b) { return b == 0xa5; }))
                    << "written past the groups before position " << pos << " of " << n << " bytes ("
                    << int(c) << ")";
                ASSERT_EQ(out_len, 77u);
            }
        }
    }
}

// One byte of capacity short: refused before anything is written, in both
// directions, around the sizes where the paths change.
TEST_P(Codec, CapacityIsTestedBeforeAnyWrite) {
    oracle::Rng rng(0xb64003);
    for (const size_t n : std::vector<size_t>{1, 2, 3, 31, 32, 33, 47, 48, 49, 63, 64, 65, 300}) {
        const std::vector<uint8_t> data = rng.bytes(n);
        for (int url = 0; url < 2; ++url) {
            const std::string text = reference(data.data(), n, url != 0);
            std::string out(text.size() + 8, '#');
            ASSERT_EQ(base64_encode(data.data(), n, out.data(), text.size(), url), -1) << n;
            ASSERT_EQ(out, std::string(text.size() + 8, '#')) << n;
            std::vector<uint8_t> back(n + 8, 0xa5);
            uint64_t back_len = 77;
            ASSERT_EQ(base64_decode_n(text.data(), text.size(), back.data(), n - 1, &back_len, url), -1);
            ASSERT_TRUE(std::all_of(back.begin(), back.end(), [](uint8_t b) { return b == 0xa5; })) << n;
            ASSERT_EQ(back_len, 77u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, Codec, ::testing::ValuesIn(built_in()),
                         [](const ::testing::TestParamInfo<std::string> &p) { return p.param; });

}  // namespace
