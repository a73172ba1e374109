// Stored password hashes: the PHC string "$pbkdf2-sha256$i=N$SALT$HASH"
// (SALT and HASH unpadded standard Base64) and Django's
// "pbkdf2_sha256$N$SALT$HASH" (SALT used as text, HASH padded Base64).
// Both hold a 32-byte key, the SHA-256 output length: any other length is
// malformed, so a short key cannot be matched by chance and a long one
// cannot multiply the work. Only the canonical Base64 spelling of each
// field is accepted. No I/O and no exceptions: the fuzz target drives this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kc {

constexpr uint64_t kMaxStoredIterations = 100000000;
constexpr size_t kStoredKeyBytes = 32;
constexpr size_t kMaxStoredField = 1024;  // characters of a salt field

struct StoredHash {
    bool django = false;
    uint32_t iterations = 0;
    std::vector<uint8_t> salt;      // PHC: decoded; Django: the salt text
    std::vector<uint8_t> expected;  // the 32-byte derived key
    std::string hash_text;          // Django: the Base64 text, compared as text
};

// Parses stored (trailing blanks and tabs already removed). On refusal
// returns false with *why saying what is wrong.
bool parse_stored_hash(std::string_view stored, StoredHash *out, std::string *why);

}  // namespace kc
