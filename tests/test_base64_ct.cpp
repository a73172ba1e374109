// The constant-time Base64 and hex used for secrets, against OpenSSL's
// encoder (EVP_EncodeBlock) and its hex printer, for every length that
// matters and every byte value; and the canonical-only decoding rules.
#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <string>
#include <vector>

#include "codec/base64_ct.h"

namespace {

std::vector<uint8_t> filler(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = uint8_t(seed >> 16);
    }
    return v;
}

// OpenSSL's padded standard Base64, then translated to the alphabet asked.
std::string openssl_b64(const std::vector<uint8_t> &data, b64_alphabet a, bool pad) {
    std::string text(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()), data.data(),
                                  int(data.size()));
    text.resize(size_t(n));
    if (!pad)
        while (!text.empty() && text.back() == '=') text.pop_back();
    for (char &c : text) {
        if (a == b64_alphabet::url && c == '+') c = '-';
        if (a == b64_alphabet::url && c == '/') c = '_';
        if (a == b64_alphabet::adapted && c == '+') c = '.';
    }
    return text;
}

std::string ours(const std::vector<uint8_t> &data, b64_alphabet a, bool pad) {
    std::string text(base64_ct_chars(data.size(), pad), '?');
    base64_ct_encode(data.data(), data.size(), text.data(), a, pad);
    return text;
}

struct Variant {
    b64_alphabet alphabet;
    bool pad;
    const char *name;
};
const Variant kVariants[] = {
    {b64_alphabet::standard, true, "standard padded"},
    {b64_alphabet::standard, false, "standard"},
    {b64_alphabet::url, false, "url"},
    {b64_alphabet::adapted, false, "adapted"},
};

TEST(Base64Ct, EncodesAsOpenSslForEveryLengthAndVariant) {
    for (const Variant &v : kVariants)
        for (size_t n = 0; n <= 100; ++n) {
            const std::vector<uint8_t> data = filler(n, uint32_t(n));
            EXPECT_EQ(ours(data, v.alphabet, v.pad), openssl_b64(data, v.alphabet, v.pad))
                << v.name << " length " << n;
        }
}

TEST(Base64Ct, EveryByteValueInEveryPosition) {
    // 0..255 three times shifted: each value lands in each of the three
    // positions of a group, so all 64 characters of every alphabet appear.
    std::vector<uint8_t> data;
    for (int shift = 0; shift < 3; ++shift)
        for (int b = 0; b < 256; ++b) data.push_back(uint8_t(b + shift));
    for (const Variant &v : kVariants) {
        const std::string text = ours(data, v.alphabet, v.pad);
        EXPECT_EQ(text, openssl_b64(data, v.alphabet, v.pad)) << v.name;
        std::vector<uint8_t> back(data.size());
        EXPECT_EQ(base64_ct_decode(text.data(), text.size(), back.data(), back.size(), v.alphabet,
                                   v.pad),
                  0)
            << v.name;
        EXPECT_EQ(back, data) << v.name;
    }
}

TEST(Base64Ct, DecodesOnlyTheCanonicalSpelling) {
    struct Case {
        const char *text;
        size_t n;
        b64_alphabet alphabet;
        bool pad;
        bool ok;
    };
    const Case cases[] = {
        {"QQ", 1, b64_alphabet::standard, false, true},
        {"QR", 1, b64_alphabet::standard, false, false},   // unused bits set
        {"QUI", 2, b64_alphabet::standard, false, true},
        {"QUJ", 2, b64_alphabet::standard, false, false},  // unused bits set
        {"QQ==", 1, b64_alphabet::standard, true, true},
        {"QQ=", 1, b64_alphabet::standard, true, false},   // length
        {"QQ", 1, b64_alphabet::standard, true, false},    // padding missing
        {"QQA=", 1, b64_alphabet::standard, true, false},  // '=' missing
        {"QUI=", 2, b64_alphabet::standard, true, true},
        {"QUIA", 2, b64_alphabet::standard, true, false},
        {"QUJD", 3, b64_alphabet::standard, true, true},
        {"Q=JD", 3, b64_alphabet::standard, true, false},  // '=' inside
        {"+/+/", 3, b64_alphabet::standard, false, true},
        {"-_-_", 3, b64_alphabet::standard, false, false},
        {"-_-_", 3, b64_alphabet::url, false, true},
        {"+/+/", 3, b64_alphabet::url, false, false},
        {"./8", 2, b64_alphabet::adapted, false, true},
        {"./.", 2, b64_alphabet::adapted, false, false},  // unused bits set
        {"+/+/", 3, b64_alphabet::adapted, false, false},
        {"QUJ\n", 3, b64_alphabet::standard, false, false},
        {"QUJ\xc3", 3, b64_alphabet::standard, false, false},
        {"QUJD", 2, b64_alphabet::standard, false, false},  // too long for 2 bytes
    };
    for (const Case &c : cases) {
        uint8_t out[8];
        const std::string text = c.text;
        EXPECT_EQ(base64_ct_decode(text.data(), text.size(), out, c.n, c.alphabet, c.pad) == 0,
                  c.ok)
            << '"' << c.text << '"';
    }
    // One accepted text per byte string: of the four spellings of a final
    // two-character group only the one with zero unused bits decodes.
    int accepted = 0;
    for (const char *t : {"QQ", "QR", "QS", "QT"}) {
        uint8_t out[1];
        accepted += base64_ct_decode(t, 2, out, 1, b64_alphabet::standard, false) == 0;
    }
    EXPECT_EQ(accepted, 1);
}

TEST(HexCt, AsOpenSslAndLowercaseOnly) {
    std::vector<uint8_t> data(256);
    for (int b = 0; b < 256; ++b) data[size_t(b)] = uint8_t(b);
    std::string text(512, '?');
    hex_ct_encode(data.data(), data.size(), text.data());
    char *want = OPENSSL_buf2hexstr(data.data(), long(data.size()));
    std::string expected;
    for (const char *p = want; *p != '\0'; ++p)
        if (*p != ':') expected.push_back(char(std::tolower(static_cast<unsigned char>(*p))));
    OPENSSL_free(want);
    EXPECT_EQ(text, expected);
    std::vector<uint8_t> back(256);
    EXPECT_EQ(hex_ct_decode(text.data(), back.data(), back.size()), 0);
    EXPECT_EQ(back, data);
    uint8_t one[1];
    for (const char *bad : {"AB", "0G", "g0", " 1", "0x", "/0", ":0", "`0"})
        EXPECT_EQ(hex_ct_decode(bad, one, 1), -1) << bad;
    EXPECT_EQ(hex_ct_decode("9f", one, 1), 0);
    EXPECT_EQ(one[0], 0x9f);
}

}  // namespace
