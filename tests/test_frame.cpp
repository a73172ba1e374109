// The last-error text and the result conventions shared by every export.
#include <gtest/gtest.h>

#include <cstring>

#include "keldo_crypto.h"

namespace {

// Runs first in this process (gtest keeps declaration order within a file).
TEST(LastError, IsOkInAFreshProcessAndTheSamePointerEveryTime) {
    const char *first = keldo_crypto_last_error();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "OK");
    EXPECT_EQ(keldo_crypto_last_error(), first);
}

TEST(LastError, CoreOnlyRefusalLeavesTheTextAlone) {
    // Still "OK": the guarded forward passes the core's refusal on silently.
    uint8_t out[32];
    EXPECT_EQ(keldo_crypto_pbkdf2_sha256("pw", 2, nullptr, 5, 1, out, sizeof out), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "OK");
    EXPECT_EQ(keldo_crypto_secure_compare("a", "b", 1), 1);
    EXPECT_STREQ(keldo_crypto_last_error(), "OK");
}

TEST(LastError, FailureWritesItsMessageAndSuccessKeepsIt) {
    EXPECT_EQ(keldo_crypto_sha256("abc", 3, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "keldo_crypto_sha256: null output buffer");
    uint8_t out[32];
    EXPECT_EQ(keldo_crypto_sha256("abc", 3, out), 0);
    EXPECT_STREQ(keldo_crypto_last_error(), "keldo_crypto_sha256: null output buffer");
}

TEST(LastError, OnlyTheLatestFailureRemains) {
    EXPECT_EQ(keldo_crypto_sha256("abc", 3, nullptr), -1);
    EXPECT_EQ(keldo_crypto_hmac_sha256("k", 1, "abc", 3, nullptr), -1);
    EXPECT_STREQ(keldo_crypto_last_error(), "keldo_crypto_hmac_sha256: null output buffer");
}

}  // namespace
