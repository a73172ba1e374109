#include "password/stored_hash.h"

#include <cstring>
#include <string_view>

#include "codec/base64_ct.h"
#include "keldo_crypto.h"

namespace {

constexpr std::string_view kPhcPrefix = "$pbkdf2-sha256$";  // then i=N, or N for passlib
constexpr std::string_view kDjangoPrefix = "pbkdf2_sha256$";
constexpr std::string_view kWerkzeugPrefix = "pbkdf2:sha256:";

// The length of stored, counting no further than limit. The length of a
// stored hash is public (each form fixes its key field's length); only the
// key's characters are not, and nothing below branches on them.
#if defined(__GNUC__) || defined(__clang__)
__attribute__((noinline))
#endif
size_t stored_length(const char *stored, size_t limit) {
    size_t n = 0;
    while (n < limit && stored[n] != '\0') ++n;
    return n;
}

// Iteration counts in their canonical decimal spelling: 1 to 100000000, no
// sign, no leading zero.
bool parse_iterations(std::string_view digits, uint32_t *out) {
    if (digits.empty() || digits.size() > 9 || digits[0] == '0') return false;
    uint32_t v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint32_t(c - '0');
    }
    if (v > kStoredMaxIterations) return false;
    *out = v;
    return true;
}

// Base64 salts: unpadded, canonical, in the form's alphabet.
bool decode_salt(std::string_view field, b64_alphabet alphabet, stored_hash *h) {
    if (field.size() % 4 == 1) return false;
    const size_t n = field.size() * 3 / 4;
    if (base64_ct_decode(field.data(), field.size(), h->salt_bytes, n, alphabet, false) != 0)
        return false;
    h->salt = h->salt_bytes;
    h->salt_len = n;
    return true;
}

}  // namespace

int32_t stored_hash_parse(const char *stored, stored_hash *h) {
    const std::string_view s(stored, stored_length(stored, kStoredMaxChars + 1));
    size_t key_chars = 0;
    std::string_view rest;
    if (s.starts_with(kPhcPrefix)) {
        rest = s.substr(kPhcPrefix.size());
        if (rest.starts_with("i=")) {
            h->form = KELDO_PASSWORD_PHC;
            rest.remove_prefix(2);
        } else {
            h->form = KELDO_PASSWORD_PASSLIB;
        }
        key_chars = base64_ct_chars(kPasswordKeyBytes, false);
    } else if (s.starts_with(kDjangoPrefix)) {
        h->form = KELDO_PASSWORD_DJANGO;
        rest = s.substr(kDjangoPrefix.size());
        key_chars = base64_ct_chars(kPasswordKeyBytes, true);
    } else if (s.starts_with(kWerkzeugPrefix)) {
        h->form = KELDO_PASSWORD_WERKZEUG;
        rest = s.substr(kWerkzeugPrefix.size());
        key_chars = 2 * kPasswordKeyBytes;
    } else if (s.starts_with("pbkdf2$") || s.starts_with("pbkdf2:sha256$")) {
        // Werkzeug's default count has changed between its releases.
        return KELDO_E_PASSWORD_AMBIGUOUS;
    } else {
        return KELDO_E_PASSWORD_UNKNOWN_FORMAT;
    }

    // Iterations, then the salt, each ended by '$'; the key is the rest.
    size_t end = rest.find('$');
    if (end == std::string_view::npos) return KELDO_E_PASSWORD_FIELDS;
    if (!parse_iterations(rest.substr(0, end), &h->iterations))
        return KELDO_E_PASSWORD_STORED_ITERATIONS;
    rest.remove_prefix(end + 1);

    end = rest.find('$');
    if (end == std::string_view::npos)
        return rest.size() > kStoredMaxSaltChars ? KELDO_E_PASSWORD_STORED_SALT
                                                 : KELDO_E_PASSWORD_FIELDS;
    const std::string_view salt = rest.substr(0, end);
    if (salt.empty() || salt.size() > kStoredMaxSaltChars) return KELDO_E_PASSWORD_STORED_SALT;
    switch (h->form) {
        case KELDO_PASSWORD_PHC:
            if (!decode_salt(salt, b64_alphabet::standard, h)) return KELDO_E_PASSWORD_STORED_SALT;
            break;
        case KELDO_PASSWORD_PASSLIB:
            if (!decode_salt(salt, b64_alphabet::adapted, h)) return KELDO_E_PASSWORD_STORED_SALT;
            break;
        default:  // Django and Werkzeug hash the salt's text
            h->salt = reinterpret_cast<const uint8_t *>(salt.data());
            h->salt_len = salt.size();
    }
    rest.remove_prefix(end + 1);

    // Only a malformed string is searched for another '$'.
    if (rest.size() != key_chars)
        return std::memchr(rest.data(), '$', rest.size()) != nullptr ? KELDO_E_PASSWORD_FIELDS
                                                                    : KELDO_E_PASSWORD_STORED_KEY;
    int32_t rc;
    switch (h->form) {
        case KELDO_PASSWORD_PHC:
            rc = base64_ct_decode(rest.data(), key_chars, h->key, kPasswordKeyBytes,
                                  b64_alphabet::standard, false);
            break;
        case KELDO_PASSWORD_PASSLIB:
            rc = base64_ct_decode(rest.data(), key_chars, h->key, kPasswordKeyBytes,
                                  b64_alphabet::adapted, false);
            break;
        case KELDO_PASSWORD_DJANGO:
            rc = base64_ct_decode(rest.data(), key_chars, h->key, kPasswordKeyBytes,
                                  b64_alphabet::standard, true);
            break;
        default:
            rc = hex_ct_decode(rest.data(), h->key, kPasswordKeyBytes);
    }
    return rc == 0 ? KELDO_OK : KELDO_E_PASSWORD_STORED_KEY;
}
