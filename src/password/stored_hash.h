// Reading a stored PBKDF2-HMAC-SHA256 password hash in any of the four
// forms the library accepts (the KELDO_PASSWORD_* forms of the public
// header). One reader serves verification, the rehash query, the
// parameters query and the fuzz target; it allocates nothing and writes no
// message.
//
// Bounds: the iteration count is a decimal number from 1 to 100000000
// without leading zeros; the salt field holds 1 to 1024 characters; the key
// is exactly 32 bytes (the SHA-256 output: a shorter one could be matched by
// chance, a longer one would multiply the work) in the one canonical
// spelling of its form. The key field is decoded in constant time: it is
// what an attacker who can time verification would want to learn.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kPasswordKeyBytes = 32;
constexpr uint32_t kStoredMaxIterations = 100000000;
constexpr size_t kStoredMaxSaltChars = 1024;
constexpr size_t kStoredMaxSaltBytes = kStoredMaxSaltChars / 4 * 3;
// The longest string that can be well-formed: Werkzeug's
// "pbkdf2:sha256:100000000$", the longest salt, '$' and 64 hex digits.
constexpr size_t kStoredMaxChars = 24 + kStoredMaxSaltChars + 1 + 2 * kPasswordKeyBytes;

struct stored_hash {
    int32_t form = 0;  // KELDO_PASSWORD_PHC ... KELDO_PASSWORD_WERKZEUG
    uint32_t iterations = 0;
    const uint8_t *salt = nullptr;  // the salt PBKDF2 takes: text or decoded
    size_t salt_len = 0;
    uint8_t salt_bytes[kStoredMaxSaltBytes];  // decoded Base64 salts
    uint8_t key[kPasswordKeyBytes];           // the stored derived key

    stored_hash() = default;
    stored_hash(const stored_hash &) = delete;  // salt may point into this
    stored_hash &operator=(const stored_hash &) = delete;
};

// KELDO_OK with *h filled, or one of the KELDO_E_PASSWORD_* codes of kind
// "malformed hash" (the first field that fails decides which). stored must
// not be null; text salts point into it. The caller wipes h->key.
int32_t stored_hash_parse(const char *stored, stored_hash *h);
