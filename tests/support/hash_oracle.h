// OpenSSL as the reference for the SHA-256, HMAC and PBKDF2 tests, and a
// seeded generator so that every random case reproduces.
#pragma once

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace oracle {

// Empty inputs still get a valid pointer: OpenSSL does not promise to accept
// null with length 0 everywhere.
inline const unsigned char *ptr(const std::vector<uint8_t> &v) {
    static const unsigned char empty = 0;
    return v.empty() ? &empty : v.data();
}

inline std::vector<uint8_t> sha256(const uint8_t *data, size_t len) {
    static const unsigned char empty = 0;
    std::vector<uint8_t> out(32);
    unsigned int n = 0;
    if (EVP_Digest(len ? data : &empty, len, out.data(), &n, EVP_sha256(), nullptr) != 1 ||
        n != 32)
        std::abort();
    return out;
}

inline std::vector<uint8_t> sha256(const std::vector<uint8_t> &m) {
    return sha256(ptr(m), m.size());
}

inline std::vector<uint8_t> hmac(const std::vector<uint8_t> &key,
                                 const std::vector<uint8_t> &msg) {
    std::vector<uint8_t> out(32);
    unsigned int n = 0;
    if (HMAC(EVP_sha256(), ptr(key), static_cast<int>(key.size()), ptr(msg), msg.size(),
             out.data(), &n) == nullptr ||
        n != 32)
        std::abort();
    return out;
}

inline std::vector<uint8_t> pbkdf2(const std::vector<uint8_t> &password,
                                   const std::vector<uint8_t> &salt, uint32_t iterations,
                                   size_t out_len) {
    std::vector<uint8_t> out(out_len);
    if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(ptr(password)),
                          static_cast<int>(password.size()), ptr(salt),
                          static_cast<int>(salt.size()), static_cast<int>(iterations),
                          EVP_sha256(), static_cast<int>(out_len), out.data()) != 1)
        std::abort();
    return out;
}

// splitmix64: tiny, and the same sequence on every platform and library
// (unlike the standard distributions).
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}

    uint64_t next() {
        uint64_t z = (s_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    // Uniform enough in [0, bound) for test sizes.
    size_t below(size_t bound) { return static_cast<size_t>(next() % bound); }

    std::vector<uint8_t> bytes(size_t n) {
        std::vector<uint8_t> v(n);
        for (auto &b : v) b = static_cast<uint8_t>(next() >> 56);
        return v;
    }

private:
    uint64_t s_;
};

}  // namespace oracle
