// Shared pieces of the fuzz targets: a failure check that stops the run, a
// reader that turns fuzz input into parameters, guarded output buffers, an
// independent model of the Base64 rules, OpenSSL as the hashing reference,
// and the library's documented refusal messages.
#pragma once

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELDO_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KELDO_FUZZ_ASAN 1
#endif
#if defined(KELDO_FUZZ_ASAN)
#include <sanitizer/asan_interface.h>
#endif

// A broken property is a finding: report it and abort, which libFuzzer
// turns into a crash file and the replay run into a failed test.
#define FUZZ_CHECK(cond)                                                      \
    do {                                                                      \
        if (!(cond)) {                                                        \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__,   \
                         __LINE__, #cond);                                    \
            std::abort();                                                     \
        }                                                                     \
    } while (0)

namespace fuzz {

// Consumes the fuzz input from the front; past the end it yields zeros.
class Reader {
public:
    Reader(const uint8_t *data, size_t size) : p_(data), left_(size) {}
    uint8_t byte() {
        if (left_ == 0) return 0;
        --left_;
        return *p_++;
    }
    uint32_t u16() { return uint32_t(byte()) | uint32_t(byte()) << 8; }
    size_t left() const { return left_; }
    // Up to n bytes (fewer at the end of the input).
    std::vector<uint8_t> bytes(size_t n) {
        if (n > left_) n = left_;
        std::vector<uint8_t> v(p_, p_ + n);
        p_ += n;
        left_ -= n;
        return v;
    }
    std::vector<uint8_t> rest() { return bytes(left_); }

private:
    const uint8_t *p_;
    size_t left_;
};

// An output buffer of exactly `size` usable bytes followed by a guard. The
// usable bytes start as a known pattern so that "nothing written" can be
// checked; under AddressSanitizer the guard is poisoned, elsewhere it is
// compared after the call.
class Guarded {
public:
    static constexpr size_t kGuard = 32;
    static constexpr uint8_t kFill = 0xA5;

    explicit Guarded(size_t size) : size_(size) {
        base_ = static_cast<uint8_t *>(std::malloc(size + kGuard));
        FUZZ_CHECK(base_ != nullptr);
        std::memset(base_, kFill, size + kGuard);
#if defined(KELDO_FUZZ_ASAN)
        ASAN_POISON_MEMORY_REGION(base_ + size, kGuard);
#endif
    }
    ~Guarded() {
#if defined(KELDO_FUZZ_ASAN)
        ASAN_UNPOISON_MEMORY_REGION(base_ + size_, kGuard);
#endif
        FUZZ_CHECK(guard_intact());
        std::free(base_);
    }
    Guarded(const Guarded &) = delete;
    Guarded &operator=(const Guarded &) = delete;

    uint8_t *data() { return base_; }
    const uint8_t *data() const { return base_; }
    char *text() { return reinterpret_cast<char *>(base_); }
    size_t size() const { return size_; }
    // True when no byte at or after `from` (within the usable size) changed.
    bool untouched_from(size_t from) const {
        for (size_t i = from; i < size_; ++i)
            if (base_[i] != kFill) return false;
        return true;
    }

private:
    bool guard_intact() const {
        for (size_t i = 0; i < kGuard; ++i)
            if (base_[size_ + i] != kFill) return false;
        return true;
    }
    uint8_t *base_;
    size_t size_;
};

// ---- Base64 model ---------------------------------------------------------
// Written from the rules, not from the library: alphabet search instead of
// range tests, bit accumulation instead of groups.

constexpr std::string_view kStdAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kUrlAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The 6-bit value of c, or -1. The URL-safe decoder takes both alphabets.
inline int model_value(uint8_t c, bool url_safe) {
    size_t i = kStdAlphabet.find(char(c));
    if (c != 0 && i != std::string_view::npos) return int(i);
    if (url_safe) {
        i = kUrlAlphabet.find(char(c));
        if (c != 0 && i != std::string_view::npos) return int(i);
    }
    return -1;
}

inline std::string model_encode(const uint8_t *data, size_t len, bool url_safe) {
    std::string_view alphabet = url_safe ? kUrlAlphabet : kStdAlphabet;
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = 0; i < len; ++i) {
        acc = (acc << 8) | data[i];
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out += alphabet[(acc >> bits) & 63];
        }
    }
    if (bits > 0) out += alphabet[(acc << (6 - bits)) & 63];
    if (!url_safe)
        while (out.size() % 4 != 0) out += '=';
    return out;
}

struct DecodeModel {
    bool ok = false;
    uint64_t out_len = 0;        // valid when ok
    std::vector<uint8_t> bytes;  // what the output must hold (a prefix on failure)
};

// The decoder's rules on the len bytes at text, with capacity out_size.
inline DecodeModel model_decode(const uint8_t *text, size_t len, bool url_safe,
                                uint64_t out_size) {
    DecodeModel m;
    while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r' ||
                       text[len - 1] == ' '))
        --len;
    while (len > 0 && text[len - 1] == '=') --len;
    if (len % 4 == 1) return m;
    const uint64_t decoded = len * 6 / 8;
    if (out_size < decoded) return m;
    uint32_t acc = 0;
    int bits = 0;
    std::vector<uint8_t> all;
    for (size_t i = 0; i < len; ++i) {
        int v = model_value(text[i], url_safe);
        if (v < 0) {
            // Only complete groups before the offending one reach the output.
            size_t whole = (i / 4) * 3;
            all.resize(whole);
            m.bytes = all;
            return m;
        }
        acc = (acc << 6) | uint32_t(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            all.push_back(uint8_t(acc >> bits));
        }
    }
    // A rejected character anywhere fails the call: the loop above only
    // keeps bytes in group order, so a failure in the tail keeps all 3q.
    m.ok = true;
    m.out_len = decoded;
    m.bytes = all;
    return m;
}

// ---- OpenSSL reference ----------------------------------------------------

inline const unsigned char *nonnull(const uint8_t *p) {
    static const unsigned char empty = 0;
    return p != nullptr ? p : &empty;
}

inline void ref_sha256(const uint8_t *data, size_t len, uint8_t out[32]) {
    unsigned int n = 0;
    FUZZ_CHECK(EVP_Digest(nonnull(data), len, out, &n, EVP_sha256(), nullptr) == 1);
    FUZZ_CHECK(n == 32);
}

inline void ref_hmac(const uint8_t *key, size_t key_len, const uint8_t *data,
                     size_t len, uint8_t out[32]) {
    unsigned int n = 0;
    FUZZ_CHECK(HMAC(EVP_sha256(), nonnull(key), int(key_len), nonnull(data), len,
                    out, &n) != nullptr);
    FUZZ_CHECK(n == 32);
}

// base64url of text, and the HS256 signature segment of a signing input,
// both by the models above (OpenSSL's HMAC, the model encoder).
inline std::string model_b64url(const std::string &s) {
    return model_encode(reinterpret_cast<const uint8_t *>(s.data()), s.size(), true);
}

inline std::string model_sign(const std::string &secret, const std::string &signing_input) {
    uint8_t mac[32];
    ref_hmac(reinterpret_cast<const uint8_t *>(secret.data()), secret.size(),
             reinterpret_cast<const uint8_t *>(signing_input.data()), signing_input.size(), mac);
    return model_encode(mac, 32, true);
}

// ---- Documented refusals --------------------------------------------------

inline bool is_verify_message(std::string_view m) {
    static constexpr std::string_view kMessages[] = {
        "jwt_verify: null secret or token",
        "jwt_verify: malformed token (missing first dot)",
        "jwt_verify: malformed token (missing second dot)",
        "jwt_verify: malformed token (extra segments)",
        "jwt_verify: failed to compute HMAC",
        "jwt_verify: invalid signature format or length",
        "jwt_verify: signature verification failed",
        "jwt_verify: payload segment too long",
        "jwt_verify: base64url decode payload failed",
        "jwt_verify: invalid payload JSON",
        "jwt_verify: payload root is not an object",
        "jwt_verify: invalid or missing 'iss' claim",
        "jwt_verify: missing 'exp' claim",
        "jwt_verify: token has expired",
        "jwt_verify: token is not valid yet (nbf in future)",
        "jwt_verify: missing 'sub' claim",
        "jwt_verify: invalid 'sub' claim",
        "jwt_verify: missing 'email' claim",
        "jwt_verify: invalid 'email' claim",
    };
    for (std::string_view k : kMessages)
        if (m == k) return true;
    return false;
}

inline bool is_mint_message(std::string_view m) {
    static constexpr std::string_view kMessages[] = {
        "jwt_mint: null parameter passed",
        "jwt_mint: failed to allocate yyjson document",
        "jwt_mint: failed to build payload JSON",
        "jwt_mint: failed to serialize payload JSON",
        "jwt_mint: failed to base64url encode payload",
        "jwt_mint: hmac calculation failed",
        "jwt_mint: failed to base64url encode signature",
    };
    for (std::string_view k : kMessages)
        if (m == k) return true;
    return false;
}

}  // namespace fuzz
