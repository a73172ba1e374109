// Base64 and base64url: the four exports and the cores behind them, against
// RFC 4648's examples, hand-derived edge cases and OpenSSL's block codec.
//
// Inputs are copied into heap blocks of exactly their own size, so a read
// past the end trips the sanitizers and valgrind; outputs go into
// canary-filled buffers larger than the capacity announced, so every byte
// written beyond what the rules allow shows up.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "codec/base64.h"
#include "hex.h"
#include "keldo_crypto.h"

namespace {

constexpr uint8_t kCanary = 0xA5;
constexpr char kCanaryChar = static_cast<char>(kCanary);
constexpr uint64_t kUnsetLen = 0x5A5A5A5A5A5A5A5Aull;
constexpr size_t kSlack = 16;

// ---- Ways in: the exports, the cores, and the length-bounded decoder ----

enum class Entry { Export, Core, CoreN };

struct Path {
    const char *name;
    bool url;
    Entry entry;
};

constexpr Path kEncodePaths[] = {
    {"ExportStd", false, Entry::Export},
    {"ExportUrl", true, Entry::Export},
    {"CoreStd", false, Entry::Core},
    {"CoreUrl", true, Entry::Core},
};

constexpr Path kDecodePaths[] = {
    {"ExportStd", false, Entry::Export}, {"ExportUrl", true, Entry::Export},
    {"CoreStd", false, Entry::Core},     {"CoreUrl", true, Entry::Core},
    {"CoreNStd", false, Entry::CoreN},   {"CoreNUrl", true, Entry::CoreN},
};

std::string path_name(const ::testing::TestParamInfo<Path> &info) {
    return info.param.name;
}

int32_t call_encode(const Path &p, const void *data, uint64_t len, char *out,
                    uint64_t size) {
    if (p.entry == Entry::Export)
        return p.url ? keldo_crypto_base64url_encode(data, len, out, size)
                     : keldo_crypto_base64_encode(data, len, out, size);
    return base64_encode(data, len, out, size, p.url ? 1 : 0);
}

int32_t call_decode(const Path &p, const char *text, uint64_t text_len, uint8_t *out,
                    uint64_t size, uint64_t *out_len) {
    switch (p.entry) {
        case Entry::Export:
            return p.url ? keldo_crypto_base64url_decode(text, out, size, out_len)
                         : keldo_crypto_base64_decode(text, out, size, out_len);
        case Entry::Core:
            return base64_decode(text, out, size, out_len, p.url ? 1 : 0);
        case Entry::CoreN:
            break;
    }
    return base64_decode_n(text, text_len, out, size, out_len, p.url ? 1 : 0);
}

// ---- The last-error text ----

// A message no codec call writes: cores and successful calls must leave it.
constexpr char kPlanted[] = "keldo_crypto_sha256: null output buffer";

void plant_message() {
    ASSERT_EQ(keldo_crypto_sha256("", 0, nullptr), -1);
    ASSERT_STREQ(keldo_crypto_last_error(), kPlanted);
}

enum class Msg { None, Arg, Fail };

std::string expected_text(const Path &p, bool encode, Msg m) {
    if (m == Msg::None || p.entry != Entry::Export) return kPlanted;
    std::string name = std::string("keldo_crypto_base64") + (p.url ? "url" : "") +
                       (encode ? "_encode" : "_decode");
    if (m == Msg::Arg)
        return name + (encode ? ": null or zero size output buffer" : ": null parameter");
    return name + (encode ? ": output buffer too small or invalid input"
                          : ": decode failed or buffer too small");
}

// ---- Calls with exact inputs and canary outputs ----

struct Encoded {
    int32_t rc;
    std::vector<char> out;
};

Encoded encode(const Path &p, const std::vector<uint8_t> &data, uint64_t out_size,
               size_t room) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[data.size()]);
    if (!data.empty()) std::memcpy(block.get(), data.data(), data.size());
    Encoded e{0, std::vector<char>(room + kSlack, kCanaryChar)};
    e.rc = call_encode(p, block.get(), data.size(), e.out.data(), out_size);
    return e;
}

// The text in a heap block of its own size, NUL-terminated except for the
// length-bounded decoder, which must not need (or read) a terminator.
class ExactText {
  public:
    ExactText(const Path &p, std::string_view t)
        : nul_(p.entry != Entry::CoreN), len_(t.size()),
          block_(new char[t.size() + (nul_ ? 1 : 0)]) {
        if (!t.empty()) std::memcpy(block_.get(), t.data(), t.size());
        if (nul_) block_[t.size()] = '\0';
    }
    const char *get() const { return block_.get(); }
    char &at(size_t i) { return block_[i]; }
    uint64_t len() const { return len_; }

  private:
    bool nul_;
    uint64_t len_;
    std::unique_ptr<char[]> block_;
};

struct Decoded {
    int32_t rc;
    std::vector<uint8_t> out;
    uint64_t out_len;
};

Decoded decode(const Path &p, std::string_view text, uint64_t out_size, size_t room) {
    ExactText t(p, text);
    Decoded d{0, std::vector<uint8_t>(room + kSlack, kCanary), kUnsetLen};
    d.rc = call_decode(p, t.get(), t.len(), d.out.data(), out_size, &d.out_len);
    return d;
}

std::string shown(std::string_view s) {
    std::string r;
    for (char c : s) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f) {
            r.push_back(c);
        } else {
            static constexpr char digits[] = "0123456789abcdef";
            r += "\\x";
            r.push_back(digits[u >> 4]);
            r.push_back(digits[u & 15]);
        }
    }
    return r;
}

// buf starts with the n bytes at prefix and every later byte still holds
// the canary.
::testing::AssertionResult holds(const std::vector<uint8_t> &buf, const uint8_t *prefix,
                                 size_t n) {
    if (buf.size() < n) return ::testing::AssertionFailure() << "buffer too small";
    for (size_t i = 0; i < n; ++i)
        if (buf[i] != prefix[i])
            return ::testing::AssertionFailure()
                   << "byte " << i << " is " << to_hex(&buf[i], 1) << ", want "
                   << to_hex(&prefix[i], 1) << " (want " << to_hex(prefix, n) << ")";
    for (size_t i = n; i < buf.size(); ++i)
        if (buf[i] != kCanary)
            return ::testing::AssertionFailure()
                   << "byte " << i << " written (only " << n << " allowed)";
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult holds(const std::vector<uint8_t> &buf,
                                 const std::vector<uint8_t> &prefix) {
    return holds(buf, prefix.data(), prefix.size());
}

// buf holds text, its NUL, then only canary.
::testing::AssertionResult holds_text(const std::vector<char> &buf, std::string_view text) {
    if (buf.size() <= text.size()) return ::testing::AssertionFailure() << "buffer too small";
    std::string_view got(buf.data(), text.size());
    if (got != text)
        return ::testing::AssertionFailure()
               << "text \"" << shown(got) << "\", want \"" << shown(text) << "\"";
    if (buf[text.size()] != '\0')
        return ::testing::AssertionFailure() << "no NUL at " << text.size();
    for (size_t i = text.size() + 1; i < buf.size(); ++i)
        if (buf[i] != kCanaryChar)
            return ::testing::AssertionFailure()
                   << "byte " << i << " written beyond the NUL at " << text.size();
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult untouched(const std::vector<char> &buf) {
    for (size_t i = 0; i < buf.size(); ++i)
        if (buf[i] != kCanaryChar) return ::testing::AssertionFailure() << "byte " << i << " written";
    return ::testing::AssertionSuccess();
}

// ---- The rules, as the documentation states them ----

// 4 * ceil(n / 3) + 1 with padding; 4q + 1, 4q + 3, 4q + 4 for n = 3q,
// 3q + 1, 3q + 2 without.
uint64_t required_capacity(uint64_t n, bool url) {
    if (!url) return 4 * ((n + 2) / 3) + 1;
    constexpr uint64_t tail[] = {1, 3, 4};
    return 4 * (n / 3) + tail[n % 3];
}

// ---- OpenSSL as the reference codec ----

std::string openssl_encode(const std::vector<uint8_t> &data, bool url) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    const uint8_t empty = 0;
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out.data()),
                            data.empty() ? &empty : data.data(), static_cast<int>(data.size()));
    EXPECT_GE(n, 0);
    out.resize(static_cast<size_t>(n));
    if (url) {
        std::string t;
        for (char c : out) {
            if (c == '=') continue;
            t.push_back(c == '+' ? '-' : c == '/' ? '_' : c);
        }
        out = t;
    }
    return out;
}

// EVP_DecodeBlock only takes whole groups and answers with three bytes per
// group, the positions of '=' pads included (as zero bits). So: back to the
// standard alphabet, pad to whole groups, decode, and drop one byte per pad.
// The leftover bits of the last real character come out in the dropped
// bytes; *dropped receives them.
std::optional<std::vector<uint8_t>> openssl_decode(std::string_view text,
                                                   std::vector<uint8_t> *dropped = nullptr) {
    std::string t;
    for (char c : text) {
        if (c == '=') break;
        t.push_back(c == '-' ? '+' : c == '_' ? '/' : c);
    }
    size_t pads = (4 - t.size() % 4) % 4;
    if (pads == 3) return std::nullopt;
    t.append(pads, '=');
    std::vector<uint8_t> out(t.size() / 4 * 3 + 1);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char *>(t.data()),
                            static_cast<int>(t.size()));
    if (n < 0) return std::nullopt;
    EXPECT_EQ(static_cast<size_t>(n), t.size() / 4 * 3);
    const size_t kept = static_cast<size_t>(n) - pads;
    if (dropped != nullptr)
        dropped->assign(out.begin() + static_cast<long>(kept), out.begin() + n);
    out.resize(kept);
    return out;
}

std::vector<uint8_t> random_bytes(std::mt19937_64 &rng, size_t n) {
    std::vector<uint8_t> v(n);
    for (auto &b : v) b = static_cast<uint8_t>(rng() >> 56);
    return v;
}

constexpr char kStdAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// ---- Encoding ----

class EncodeTest : public ::testing::TestWithParam<Path> {};

struct EncodeCase {
    const char *hex;
    const char *std_text;
    const char *url_text;
};

// RFC 4648 section 10, sections 9's examples, and the extremes of each tail.
constexpr EncodeCase kEncodeCases[] = {
    {"", "", ""},
    {"66", "Zg==", "Zg"},
    {"666f", "Zm8=", "Zm8"},
    {"666f6f", "Zm9v", "Zm9v"},
    {"666f6f62", "Zm9vYg==", "Zm9vYg"},
    {"666f6f6261", "Zm9vYmE=", "Zm9vYmE"},
    {"666f6f626172", "Zm9vYmFy", "Zm9vYmFy"},
    {"14fb9c03d97e", "FPucA9l+", "FPucA9l-"},
    {"14fb9c03d9", "FPucA9k=", "FPucA9k"},
    {"14fb9c03", "FPucAw==", "FPucAw"},
    {"00", "AA==", "AA"},
    {"0000", "AAA=", "AAA"},
    {"000000", "AAAA", "AAAA"},
    {"ff", "/w==", "_w"},
    {"ffff", "//8=", "__8"},
    {"ffffff", "////", "____"},
    {"fb", "+w==", "-w"},
    {"fbff", "+/8=", "-_8"},
    {"fbffbf", "+/+/", "-_-_"},
    {"fbffbffbffbf", "+/+/+/+/", "-_-_-_-_"},
};

TEST_P(EncodeTest, KnownTexts) {
    const Path &p = GetParam();
    for (const auto &c : kEncodeCases) {
        SCOPED_TRACE(c.hex);
        std::string_view want = p.url ? c.url_text : c.std_text;
        plant_message();
        // Exactly the capacity the text needs.
        Encoded e = encode(p, from_hex(c.hex), want.size() + 1, want.size() + 1);
        EXPECT_EQ(e.rc, 0);
        EXPECT_TRUE(holds_text(e.out, want));
        EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, true, Msg::None));
    }
}

TEST_P(EncodeTest, CapacityRuleForEveryLength) {
    const Path &p = GetParam();
    std::mt19937_64 rng(0xB64CA9);
    for (size_t n = 0; n <= 96; ++n) {
        SCOPED_TRACE("data_len " + std::to_string(n));
        std::vector<uint8_t> data = random_bytes(rng, n);
        uint64_t need = required_capacity(n, p.url);
        auto room = static_cast<size_t>(need);

        plant_message();
        Encoded small = encode(p, data, need - 1, room);
        EXPECT_EQ(small.rc, -1);
        EXPECT_TRUE(untouched(small.out));
        // need - 1 is 0 for the empty input: that is the argument check.
        EXPECT_EQ(keldo_crypto_last_error(),
                  expected_text(p, true, need == 1 ? Msg::Arg : Msg::Fail));

        plant_message();
        Encoded exact = encode(p, data, need, room);
        EXPECT_EQ(exact.rc, 0);
        EXPECT_TRUE(holds_text(exact.out, openssl_encode(data, p.url)));
        EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, true, Msg::None));

        // A capacity far beyond the text changes nothing written.
        Encoded huge = encode(p, data, UINT64_MAX, room);
        EXPECT_EQ(huge.rc, 0);
        EXPECT_TRUE(holds_text(huge.out, openssl_encode(data, p.url)));
    }
}

TEST_P(EncodeTest, DocumentedCapacities) {
    const Path &p = GetParam();
    struct Case {
        size_t len;
        uint64_t std_need, url_need;
    };
    constexpr Case cases[] = {{0, 1, 1}, {1, 5, 3}, {2, 5, 4}, {3, 5, 5}, {4, 9, 7}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.len);
        uint64_t need = p.url ? c.url_need : c.std_need;
        std::vector<uint8_t> data(c.len, 0x41);
        EXPECT_EQ(encode(p, data, need, 16).rc, 0);
        if (need > 1) {
            EXPECT_EQ(encode(p, data, need - 1, 16).rc, -1);
        }
    }
}

TEST_P(EncodeTest, PointerAndSizeRules) {
    const Path &p = GetParam();
    uint8_t byte = 0x41;
    std::vector<char> out(8, kCanaryChar);

    plant_message();
    EXPECT_EQ(call_encode(p, &byte, 1, nullptr, 8), -1);
    EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, true, Msg::Arg));

    plant_message();
    EXPECT_EQ(call_encode(p, &byte, 1, out.data(), 0), -1);
    EXPECT_TRUE(untouched(out));
    EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, true, Msg::Arg));

    // The output is checked first.
    plant_message();
    EXPECT_EQ(call_encode(p, nullptr, 1, nullptr, 8), -1);
    EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, true, Msg::Arg));
    plant_message();
    EXPECT_EQ(call_encode(p, nullptr, 0, out.data(), 0), -1);
    EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, true, Msg::Arg));

    // A null data is the empty input, and only the NUL is written.
    plant_message();
    EXPECT_EQ(call_encode(p, nullptr, 0, out.data(), 1), 0);
    EXPECT_TRUE(holds_text(out, ""));
    EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, true, Msg::None));

    out.assign(8, kCanaryChar);
    plant_message();
    EXPECT_EQ(call_encode(p, nullptr, 1, out.data(), 8), -1);
    EXPECT_TRUE(untouched(out));
    EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, true, Msg::Fail));
}

// Lengths whose capacity does not fit 64 bits must be refused by the length
// alone: the data block is three bytes and the output block 16, so any read
// or write trips the sanitizers, and an announced capacity of 2^64 - 1 gets
// past any comparison that wrapped.
TEST_P(EncodeTest, UnrepresentableCapacityIsRefusedBeforeAnyAccess) {
    const Path &p = GetParam();
    constexpr uint64_t k3x2p62 = 3ull << 62;
    // Smallest such length: 3 * 2^62 - 2 with padding (2^62 groups of four
    // plus the NUL), 3 * 2^62 - 1 without (4 * (2^62 - 1) + 4 = 2^64).
    const uint64_t smallest = p.url ? k3x2p62 - 1 : k3x2p62 - 2;
    const uint64_t lens[] = {smallest, smallest + 1, k3x2p62, UINT64_MAX - 2,
                             UINT64_MAX - 1, UINT64_MAX};
    std::unique_ptr<uint8_t[]> data(new uint8_t[3]{1, 2, 3});
    for (uint64_t len : lens) {
        for (uint64_t size : {uint64_t(16), UINT64_MAX}) {
            SCOPED_TRACE("data_len " + std::to_string(len) + " out_size " + std::to_string(size));
            std::vector<char> out(16, kCanaryChar);
            plant_message();
            EXPECT_EQ(call_encode(p, data.get(), len, out.data(), size), -1);
            EXPECT_TRUE(untouched(out));
            EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, true, Msg::Fail));
        }
    }
}

TEST_P(EncodeTest, MatchesOpenSSL) {
    const Path &p = GetParam();
    std::mt19937_64 rng(0x0E55B64);
    std::vector<size_t> lens;
    for (size_t n = 0; n <= 300; ++n) lens.push_back(n);
    for (size_t n : {511u, 512u, 513u, 1000u, 4095u, 4096u, 4097u, 65537u}) lens.push_back(n);
    for (size_t n : lens) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> data = random_bytes(rng, n);
        std::string want = openssl_encode(data, p.url);
        Encoded e = encode(p, data, want.size() + 1, want.size() + 1);
        ASSERT_EQ(e.rc, 0);
        ASSERT_TRUE(holds_text(e.out, want));
        // And OpenSSL reads our text back as the data, with the unused low
        // bits of the last character zero.
        std::vector<uint8_t> dropped;
        auto back = openssl_decode(std::string_view(e.out.data(), want.size()), &dropped);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(to_hex(*back), to_hex(data));
        EXPECT_EQ(dropped, std::vector<uint8_t>((3 - n % 3) % 3, 0));
    }
}

INSTANTIATE_TEST_SUITE_P(Base64, EncodeTest, ::testing::ValuesIn(kEncodePaths), path_name);

// ---- Decoding ----

class DecodeTest : public ::testing::TestWithParam<Path> {};

// What a decode must end with: the bytes in out, or a refusal with the
// bytes that may already be in out (the full groups before the group with
// the rejected character).
struct Outcome {
    bool ok;
    const char *hex;
};
constexpr Outcome ok(const char *hex) { return {true, hex}; }
constexpr Outcome refused(const char *written = "") { return {false, written}; }

struct DecodeCase {
    std::string_view text;
    Outcome std_mode, url_mode;
};

using namespace std::string_literals;
using namespace std::string_view_literals;

const DecodeCase kDecodeCases[] = {
    // Stripping to nothing decodes to nothing.
    {""sv, ok(""), ok("")},
    {"="sv, ok(""), ok("")},
    {"===="sv, ok(""), ok("")},
    {"\r\n"sv, ok(""), ok("")},
    {" "sv, ok(""), ok("")},
    {"==\n"sv, ok(""), ok("")},
    {"== \r\n"sv, ok(""), ok("")},
    // Whitespace before '=' is not stripped.
    {"\n=="sv, refused(), refused()},
    {"= = "sv, refused(), refused()},
    // Any number of pads, none required, leftover bits ignored.
    {"QQ"sv, ok("41"), ok("41")},
    {"QQ="sv, ok("41"), ok("41")},
    {"QQ=="sv, ok("41"), ok("41")},
    {"QQ====="sv, ok("41"), ok("41")},
    {"QR"sv, ok("41"), ok("41")},
    {"QR=="sv, ok("41"), ok("41")},
    {"Q/"sv, ok("43"), ok("43")},
    {"QUI"sv, ok("4142"), ok("4142")},
    {"QUJ"sv, ok("4142"), ok("4142")},
    {"QUJ="sv, ok("4142"), ok("4142")},
    {"QUJD"sv, ok("414243"), ok("414243")},
    {"QUJD===="sv, ok("414243"), ok("414243")},
    {"QUJDQUJD"sv, ok("414243414243"), ok("414243414243")},
    // Trailing CR, LF and space in any mix, then pads.
    {"QQ==\r\n"sv, ok("41"), ok("41")},
    {"QQ== \n \n"sv, ok("41"), ok("41")},
    {"QQ==\n\r  \r"sv, ok("41"), ok("41")},
    {"QQ\r\n"sv, ok("41"), ok("41")},
    {"QUJD\n"sv, ok("414243"), ok("414243")},
    // Other whitespace is a character like any other.
    {"QQ==\t"sv, refused(), refused()},
    {"QUJ\t"sv, refused(), refused()},
    {"QUJ\v"sv, refused(), refused()},
    {"QUJ\f"sv, refused(), refused()},
    {"\tQUJD"sv, refused(), refused()},
    {" QQ="sv, refused(), refused()},
    // Line breaks and pads inside the text.
    {"QQ\n=="sv, refused(), refused()},
    {"QQ =="sv, refused(), refused()},
    {"Q=Q="sv, refused(), refused()},
    {"QU=D"sv, refused(), refused()},
    {"QUJDQ=JD"sv, refused("414243"), refused("414243")},
    {"QUJD\r\nQUJE"sv, refused("414243"), refused("414243")},
    {"QUJDQQ\n=="sv, refused("414243"), refused("414243")},
    {"QUJD QQ=="sv, refused("414243"), refused("414243")},
    // Remainder 1 after stripping: refused before anything is written.
    {"Q"sv, refused(), refused()},
    {"Q=="sv, refused(), refused()},
    {"QUJDR"sv, refused(), refused()},
    {"QUJDR===\r\n"sv, refused(), refused()},
    {"QUJD\nQUJD"sv, refused(), refused()},
    {"QUJDQUJD*"sv, refused(), refused()},
    // The alphabets: base64url mode takes both, freely mixed.
    {"+/+/"sv, ok("fbffbf"), ok("fbffbf")},
    {"-_-_"sv, refused(), ok("fbffbf")},
    {"-/+_"sv, refused(), ok("fbffbf")},
    {"+/-_"sv, refused(), ok("fbffbf")},
    {"+w=="sv, ok("fb"), ok("fb")},
    {"-w"sv, refused(), ok("fb")},
    {"-_8"sv, refused(), ok("fbff")},
    {"QUJD-_8"sv, refused("414243"), ok("414243fbff")},
    {"FPucA9l+"sv, ok("14fb9c03d97e"), ok("14fb9c03d97e")},
    {"FPucA9l-"sv, refused("14fb9c"), ok("14fb9c03d97e")},
    // Bytes outside the alphabets.
    {"QUJ."sv, refused(), refused()},
    {"QUJ*"sv, refused(), refused()},
    {"QUJ\x7f"sv, refused(), refused()},
    {"QUJ\x80"sv, refused(), refused()},
    {"QUJ\xff"sv, refused(), refused()},
    {"QUJ\xc3\xa9"sv, refused(), refused()},
};

TEST_P(DecodeTest, KnownTexts) {
    const Path &p = GetParam();
    for (const auto &c : kDecodeCases) {
        SCOPED_TRACE("text \"" + shown(c.text) + "\"");
        const Outcome &want = p.url ? c.url_mode : c.std_mode;
        std::vector<uint8_t> bytes = from_hex(want.hex);
        plant_message();
        if (want.ok) {
            // Exactly the capacity the bytes need; no terminator follows.
            Decoded d = decode(p, c.text, bytes.size(), bytes.size());
            EXPECT_EQ(d.rc, 0);
            EXPECT_TRUE(holds(d.out, bytes));
            EXPECT_EQ(d.out_len, bytes.size());
            EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::None));
        } else {
            Decoded d = decode(p, c.text, 64, 64);
            EXPECT_EQ(d.rc, -1);
            EXPECT_TRUE(holds(d.out, bytes));
            EXPECT_EQ(d.out_len, kUnsetLen);
            EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::Fail));
        }
    }
}

TEST_P(DecodeTest, Rfc4648Vectors) {
    const Path &p = GetParam();
    for (const auto &c : kEncodeCases) {
        SCOPED_TRACE(c.hex);
        std::vector<uint8_t> bytes = from_hex(c.hex);
        // Both spellings with pads; base64url text only in its own mode.
        std::vector<std::string_view> texts = {c.std_text};
        if (p.url) texts.push_back(c.url_text);
        for (std::string_view t : texts) {
            Decoded d = decode(p, t, bytes.size(), bytes.size());
            EXPECT_EQ(d.rc, 0) << t;
            EXPECT_TRUE(holds(d.out, bytes)) << t;
            EXPECT_EQ(d.out_len, bytes.size()) << t;
        }
    }
}

// The decoded length is the capacity: one byte less fails and writes
// nothing; exactly enough writes the bytes and nothing after them.
TEST_P(DecodeTest, CapacityRuleForEveryLength) {
    const Path &p = GetParam();
    std::mt19937_64 rng(0xDECA9);
    for (size_t n = 0; n <= 96; ++n) {
        std::vector<uint8_t> data = random_bytes(rng, n);
        std::string bare = openssl_encode(data, p.url);
        std::string padded = openssl_encode(data, false);
        if (p.url) padded = bare + std::string((4 - bare.size() % 4) % 4, '=');
        for (const std::string &text : {bare, padded, padded + "\r\n", bare + " \n"}) {
            SCOPED_TRACE("decoded length " + std::to_string(n) + ", text \"" + shown(text) + "\"");
            if (n > 0) {
                plant_message();
                Decoded small = decode(p, text, n - 1, n);
                EXPECT_EQ(small.rc, -1);
                EXPECT_TRUE(holds(small.out, {}));
                EXPECT_EQ(small.out_len, kUnsetLen);
                EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::Fail));
            }
            plant_message();
            Decoded exact = decode(p, text, n, n);
            EXPECT_EQ(exact.rc, 0);
            EXPECT_TRUE(holds(exact.out, data));
            EXPECT_EQ(exact.out_len, n);
            EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::None));

            // The largest capacity there is: still only the bytes written.
            Decoded huge = decode(p, text, UINT64_MAX, n);
            EXPECT_EQ(huge.rc, 0);
            EXPECT_TRUE(holds(huge.out, data));
            EXPECT_EQ(huge.out_len, n);
        }
    }
}

TEST_P(DecodeTest, RemainderOneFailsWhateverTheCapacity) {
    const Path &p = GetParam();
    std::string text;
    for (size_t len = 1; len <= 129; len += 4) {
        text.assign(len, 'Q');
        for (const std::string &t : {text, text + "=", text + "===\r\n"}) {
            for (uint64_t size : {uint64_t(0), uint64_t(len), uint64_t(200), UINT64_MAX}) {
                SCOPED_TRACE("length " + std::to_string(t.size()) + " out_size " + std::to_string(size));
                plant_message();
                Decoded d = decode(p, t, size, 200);
                EXPECT_EQ(d.rc, -1);
                EXPECT_TRUE(holds(d.out, {}));
                EXPECT_EQ(d.out_len, kUnsetLen);
                EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::Fail));
            }
        }
    }
}

// A rejected character anywhere: the bytes of the full groups before its
// group are in out, all 3q of them when it lies in the final partial group,
// and nothing else is written.
TEST_P(DecodeTest, RejectedCharacterAtEveryPosition) {
    const Path &p = GetParam();
    std::string bad = "=\t\n\r .*\x7f\x80\xff\x01\v\f%"s;
    if (!p.url) bad += "-_";
    // Only the length-bounded decoder sees a NUL inside its text.
    if (p.entry == Entry::CoreN) bad.push_back('\0');
    auto strippable = [](char c) { return c == '=' || c == '\n' || c == '\r' || c == ' '; };

    std::mt19937_64 rng(0xBAD64);
    std::vector<size_t> lens;
    for (size_t n = 1; n <= 97; ++n) lens.push_back(n);
    for (size_t n : {255u, 256u, 257u}) lens.push_back(n);
    for (size_t n : lens) {
        std::vector<uint8_t> data = random_bytes(rng, n);
        std::string good = openssl_encode(data, p.url);
        good.erase(good.find_last_not_of('=') + 1);
        const size_t len = good.size(), q = len / 4;
        // Every rejected byte at every position of the shorter texts, three
        // of them in turn at each position of the longer ones, one in turn
        // past 200 characters.
        const size_t per_position = len <= 40 ? bad.size() : len <= 200 ? 3 : 1;
        ExactText text(p, good);
        std::vector<uint8_t> out(n + kSlack);
        for (size_t pos = 0; pos < len; ++pos) {
            const size_t group = pos / 4;
            const size_t written = group < q ? 3 * group : 3 * q;
            for (size_t k = 0; k < per_position; ++k) {
                const char c = bad[(pos + k) % bad.size()];
                // At the end these would be stripped instead.
                if (pos == len - 1 && strippable(c)) continue;
                auto shown_text = [&] { return shown(good.substr(0, pos) + c + good.substr(pos + 1)); };
                text.at(pos) = c;
                std::fill(out.begin(), out.end(), kCanary);
                uint64_t out_len = kUnsetLen;
                const int32_t rc = call_decode(p, text.get(), text.len(), out.data(), n, &out_len);
                text.at(pos) = good[pos];
                ASSERT_EQ(rc, -1) << shown_text();
                ASSERT_TRUE(holds(out, data.data(), written)) << shown_text();
                ASSERT_EQ(out_len, kUnsetLen) << shown_text();
            }
        }
    }
}

TEST_P(DecodeTest, PointerRules) {
    const Path &p = GetParam();
    const char text[] = "QUJD";
    std::vector<uint8_t> out(8, kCanary);
    uint64_t out_len = kUnsetLen;

    plant_message();
    EXPECT_EQ(call_decode(p, nullptr, 0, out.data(), 8, &out_len), -1);
    EXPECT_EQ(call_decode(p, nullptr, 4, out.data(), 8, &out_len), -1);
    EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::Arg));
    plant_message();
    EXPECT_EQ(call_decode(p, text, 4, nullptr, 8, &out_len), -1);
    EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::Arg));
    plant_message();
    EXPECT_EQ(call_decode(p, text, 4, out.data(), 8, nullptr), -1);
    EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::Arg));
    EXPECT_TRUE(holds(out, {}));
    EXPECT_EQ(out_len, kUnsetLen);

    // The pointer checks come before anything is looked at, the empty text
    // included.
    plant_message();
    EXPECT_EQ(call_decode(p, "", 0, out.data(), 8, nullptr), -1);
    EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::Arg));
}

// out_size 0 is no argument error: texts that strip to nothing decode, all
// others fail in the core.
TEST_P(DecodeTest, ZeroCapacity) {
    const Path &p = GetParam();
    for (std::string_view t : {""sv, "="sv, "==\r\n"sv, " \n\r"sv}) {
        plant_message();
        Decoded d = decode(p, t, 0, 0);
        EXPECT_EQ(d.rc, 0) << shown(t);
        EXPECT_EQ(d.out_len, 0u) << shown(t);
        EXPECT_TRUE(holds(d.out, {}));
        EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::None));
    }
    for (std::string_view t : {"QQ"sv, "QQ=="sv, "QUJD"sv, "*"sv, "**"sv}) {
        plant_message();
        Decoded d = decode(p, t, 0, 0);
        EXPECT_EQ(d.rc, -1) << shown(t);
        EXPECT_EQ(d.out_len, kUnsetLen) << shown(t);
        EXPECT_TRUE(holds(d.out, {}));
        EXPECT_EQ(keldo_crypto_last_error(), expected_text(p, false, Msg::Fail));
    }
}

// Random texts, pads and leftover bits included, read as OpenSSL reads them.
TEST_P(DecodeTest, MatchesOpenSSLOnRandomTexts) {
    const Path &p = GetParam();
    std::mt19937_64 rng(0x7E475);
    for (size_t len = 0; len <= 400; ++len) {
        if (len % 4 == 1) continue;
        std::string text;
        for (size_t i = 0; i < len; ++i) {
            char c = kStdAlphabet[rng() % 64];
            if (p.url && rng() % 2 == 0) c = c == '+' ? '-' : c == '/' ? '_' : c;
            text.push_back(c);
        }
        auto want = openssl_decode(text);
        ASSERT_TRUE(want.has_value()) << text;
        text.append(rng() % 4, '=');
        if (rng() % 3 == 0) text += "\r\n";
        SCOPED_TRACE(shown(text));
        Decoded d = decode(p, text, want->size(), want->size());
        ASSERT_EQ(d.rc, 0);
        ASSERT_TRUE(holds(d.out, *want));
        ASSERT_EQ(d.out_len, want->size());
    }
}

INSTANTIATE_TEST_SUITE_P(Base64, DecodeTest, ::testing::ValuesIn(kDecodePaths), path_name);

// ---- Terminators ----

// The NUL-terminated decoders stop at the first NUL; the length-bounded one
// reads exactly text_len bytes, a NUL among them being a rejected byte.
TEST(Base64DecodeLength, NulEndsTheTextOnlyWithoutALength) {
    const std::string_view text = "QUJD\0QUJDQQ"sv;
    for (const Path &p : kDecodePaths) {
        SCOPED_TRACE(p.name);
        Decoded d = decode(p, text, 16, 16);
        if (p.entry == Entry::CoreN) {
            EXPECT_EQ(d.rc, -1);
            EXPECT_TRUE(holds(d.out, from_hex("414243")));
            EXPECT_EQ(d.out_len, kUnsetLen);
        } else {
            EXPECT_EQ(d.rc, 0);
            EXPECT_TRUE(holds(d.out, from_hex("414243")));
            EXPECT_EQ(d.out_len, 3u);
        }
    }
}

TEST(Base64DecodeLength, ReadsOnlyTextLenBytes) {
    // What follows text_len is neither decoded nor stripped.
    const char text[] = "QUJDRA==\n!!";
    for (int32_t url : {0, 1}) {
        std::vector<uint8_t> out(16, kCanary);
        uint64_t out_len = kUnsetLen;
        EXPECT_EQ(base64_decode_n(text, 6, out.data(), 4, &out_len, url), 0);
        EXPECT_TRUE(holds(out, from_hex("41424344")));
        EXPECT_EQ(out_len, 4u);
        out.assign(16, kCanary);
        EXPECT_EQ(base64_decode_n(text, 4, out.data(), 3, &out_len, url), 0);
        EXPECT_TRUE(holds(out, from_hex("414243")));
        EXPECT_EQ(out_len, 3u);
        out.assign(16, kCanary);
        EXPECT_EQ(base64_decode_n(text, 0, out.data(), 0, &out_len, url), 0);
        EXPECT_EQ(out_len, 0u);
        // Five bytes: remainder 1, whatever comes after them.
        out_len = kUnsetLen;
        EXPECT_EQ(base64_decode_n(text, 5, out.data(), 16, &out_len, url), -1);
        EXPECT_EQ(out_len, kUnsetLen);
    }
}

}  // namespace
