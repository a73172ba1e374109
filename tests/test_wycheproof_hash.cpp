// Project Wycheproof's HMAC-SHA256 and PBKDF2-HMAC-SHA256 vectors
// (tests/data/wycheproof, Apache License 2.0). Every case is run; the case
// counts are checked so that a parsing slip cannot pass by running nothing.
#include <gtest/gtest.h>
#include <yyjson.h>

#include <string>
#include <string_view>
#include <vector>

#include "hex.h"
#include "keldo_crypto.h"

namespace {

const std::string kDir = std::string(KELDO_TEST_DATA_DIR) + "/wycheproof/";

struct Doc {
    explicit Doc(const std::string &path)
        : doc(yyjson_read_file(path.c_str(), YYJSON_READ_NOFLAG, nullptr, nullptr)) {}
    ~Doc() { yyjson_doc_free(doc); }
    Doc(const Doc &) = delete;
    Doc &operator=(const Doc &) = delete;
    yyjson_val *root() const { return yyjson_doc_get_root(doc); }
    yyjson_doc *doc;
};

// A missing or mistyped field fails the test rather than reading as empty.
std::string_view text(yyjson_val *obj, const char *key) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    EXPECT_TRUE(yyjson_is_str(v)) << key;
    return yyjson_is_str(v) ? std::string_view(yyjson_get_str(v), yyjson_get_len(v))
                            : std::string_view();
}

uint64_t number(yyjson_val *obj, const char *key) {
    yyjson_val *v = yyjson_obj_get(obj, key);
    EXPECT_TRUE(yyjson_is_uint(v)) << key;
    return yyjson_get_uint(v);
}

// Calls fn(group, test) for every test of every group; returns the count.
template <typename Fn>
size_t for_each_case(yyjson_val *root, Fn fn) {
    size_t count = 0;
    yyjson_val *groups = yyjson_obj_get(root, "testGroups");
    EXPECT_TRUE(yyjson_is_arr(groups));
    size_t gi, gmax, ti, tmax;
    yyjson_val *group, *test;
    yyjson_arr_foreach(groups, gi, gmax, group) {
        yyjson_val *tests = yyjson_obj_get(group, "tests");
        EXPECT_TRUE(yyjson_is_arr(tests));
        yyjson_arr_foreach(tests, ti, tmax, test) {
            SCOPED_TRACE(testing::Message() << "tcId " << number(test, "tcId"));
            fn(group, test);
            ++count;
        }
    }
    return count;
}

// A valid tag must equal the MAC's first tagSize bits; an invalid one
// (modified bits) must not.
TEST(Wycheproof, HmacSha256) {
    Doc doc(kDir + "hmac_sha256_test.json");
    ASSERT_NE(doc.doc, nullptr);
    ASSERT_EQ(text(doc.root(), "algorithm"), "HMACSHA256");
    ASSERT_EQ(number(doc.root(), "numberOfTests"), 174u);

    size_t valid = 0, invalid = 0, truncated = 0;
    size_t n = for_each_case(doc.root(), [&](yyjson_val *group, yyjson_val *test) {
        const uint64_t tag_bytes = number(group, "tagSize") / 8;
        const std::vector<uint8_t> key = from_hex(text(test, "key"));
        const std::vector<uint8_t> msg = from_hex(text(test, "msg"));
        const std::vector<uint8_t> tag = from_hex(text(test, "tag"));
        const std::string_view result = text(test, "result");
        ASSERT_EQ(key.size() * 8, number(group, "keySize"));
        ASSERT_EQ(tag.size(), tag_bytes);
        ASSERT_LE(tag_bytes, 32u);

        uint8_t mac[32];
        ASSERT_EQ(keldo_crypto_hmac_sha256(key.data(), key.size(), msg.data(), msg.size(), mac),
                  0);
        const bool matches = to_hex(mac, tag.size()) == to_hex(tag);
        if (result == "valid") {
            EXPECT_TRUE(matches);
            ++valid;
        } else {
            ASSERT_EQ(result, "invalid");
            EXPECT_FALSE(matches);
            ++invalid;
        }
        if (tag_bytes < 32) ++truncated;
    });
    EXPECT_EQ(n, 174u);
    EXPECT_EQ(valid, 66u);
    EXPECT_EQ(invalid, 108u);
    EXPECT_EQ(truncated, 87u);
}

TEST(Wycheproof, Pbkdf2HmacSha256) {
    Doc doc(kDir + "pbkdf2_hmacsha256_test.json");
    ASSERT_NE(doc.doc, nullptr);
    ASSERT_EQ(text(doc.root(), "algorithm"), "PBKDF2-HMACSHA256");
    ASSERT_EQ(number(doc.root(), "numberOfTests"), 60u);

    size_t valid = 0;
    size_t n = for_each_case(doc.root(), [&](yyjson_val *, yyjson_val *test) {
        const std::vector<uint8_t> password = from_hex(text(test, "password"));
        const std::vector<uint8_t> salt = from_hex(text(test, "salt"));
        const std::vector<uint8_t> dk = from_hex(text(test, "dk"));
        const uint64_t iterations = number(test, "iterationCount");
        ASSERT_EQ(number(test, "dkLen"), dk.size());
        ASSERT_EQ(text(test, "result"), "valid");
        ASSERT_GE(iterations, 1u);
        ASSERT_LE(iterations, UINT32_MAX);

        std::vector<uint8_t> out(dk.size());
        ASSERT_EQ(keldo_crypto_pbkdf2_sha256(password.data(), password.size(), salt.data(),
                                             salt.size(), uint32_t(iterations), out.data(),
                                             out.size()),
                  0);
        EXPECT_EQ(to_hex(out), to_hex(dk));
        ++valid;
    });
    EXPECT_EQ(n, 60u);
    EXPECT_EQ(valid, 60u);
}

}  // namespace
