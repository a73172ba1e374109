// Password-hash strings: PBKDF2-HMAC-SHA256 with a 32-byte key, written in
// the PHC form (or, for migrations and tests, any of the four forms) and
// checked in any of them.
#include "password/password.h"

#include <cstring>

#include "codec/base64_ct.h"
#include "keldo_crypto.h"
#include "hash/pbkdf2.h"
#include "platform/platform.h"
#include "password/stored_hash.h"
#include "platform/wipe.h"

namespace {

constexpr size_t kFreshSaltBytes = 16;
// Salts given to keldo_password_encode: text up to 128 bytes, bytes up to
// 96 (128 Base64 characters), so every form fits KELDO_PASSWORD_HASH_MAX.
constexpr size_t kEncodeMaxSaltChars = 128;
constexpr size_t kEncodeMaxSaltBytes = kEncodeMaxSaltChars / 4 * 3;

static_assert(kPasswordKeyBytes == 32 && kStoredMaxIterations == KELDO_PASSWORD_MAX_ITERATIONS);
static_assert(24 + kEncodeMaxSaltChars + 1 + 2 * kPasswordKeyBytes + 1 <= KELDO_PASSWORD_HASH_MAX,
              "the longest encoded hash must fit KELDO_PASSWORD_HASH_MAX");

const char *form_prefix(int32_t form) {
    switch (form) {
        case KELDO_PASSWORD_PHC: return "$pbkdf2-sha256$i=";
        case KELDO_PASSWORD_DJANGO: return "pbkdf2_sha256$";
        case KELDO_PASSWORD_PASSLIB: return "$pbkdf2-sha256$";
        case KELDO_PASSWORD_WERKZEUG: return "pbkdf2:sha256:";
        default: return nullptr;
    }
}

bool text_salt(int32_t form) {
    return form == KELDO_PASSWORD_DJANGO || form == KELDO_PASSWORD_WERKZEUG;
}

size_t key_chars(int32_t form) {
    switch (form) {
        case KELDO_PASSWORD_DJANGO: return base64_ct_chars(kPasswordKeyBytes, true);
        case KELDO_PASSWORD_WERKZEUG: return 2 * kPasswordKeyBytes;
        default: return base64_ct_chars(kPasswordKeyBytes, false);
    }
}

void encode_key(int32_t form, const uint8_t *key, char *out) {
    switch (form) {
        case KELDO_PASSWORD_PHC:
            base64_ct_encode(key, kPasswordKeyBytes, out, b64_alphabet::standard, false);
            break;
        case KELDO_PASSWORD_PASSLIB:
            base64_ct_encode(key, kPasswordKeyBytes, out, b64_alphabet::adapted, false);
            break;
        case KELDO_PASSWORD_DJANGO:
            base64_ct_encode(key, kPasswordKeyBytes, out, b64_alphabet::standard, true);
            break;
        default:
            hex_ct_encode(key, kPasswordKeyBytes, out);
    }
}

size_t write_decimal(uint32_t v, char *out) {
    char digits[10];
    size_t n = 0;
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v != 0);
    for (size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
    return n;
}

// The checks shared by hash and encode, in the order their codes are
// documented; fresh draws the salt once everything else has passed.
int32_t encode_checked(int32_t form, const void *password, uint64_t password_len,
                       const void *salt, uint64_t salt_len, bool fresh, uint32_t iterations,
                       char *out, uint64_t out_size) {
    if (out == nullptr || (password == nullptr && password_len != 0) ||
        (!fresh && salt == nullptr && salt_len != 0))
        return KELDO_E_PASSWORD_NULL_ARGUMENT;
    const char *prefix = form_prefix(form);
    if (prefix == nullptr) return KELDO_E_PASSWORD_FORM;
    if (password_len > KELDO_PASSWORD_MAX_LEN) return KELDO_E_PASSWORD_TOO_LONG;
    if (iterations == 0) iterations = KELDO_PASSWORD_DEFAULT_ITERATIONS;
    if (iterations > KELDO_PASSWORD_MAX_ITERATIONS) return KELDO_E_PASSWORD_ITERATIONS;
    if (!fresh) {
        const uint64_t most = text_salt(form) ? kEncodeMaxSaltChars : kEncodeMaxSaltBytes;
        if (salt_len == 0 || salt_len > most) return KELDO_E_PASSWORD_SALT;
        // A text salt is a field of the string: no separator, no terminator.
        if (text_salt(form) && (std::memchr(salt, '$', size_t(salt_len)) != nullptr ||
                                std::memchr(salt, '\0', size_t(salt_len)) != nullptr))
            return KELDO_E_PASSWORD_SALT;
    }

    // Everything but the key is public and is laid out first, so a buffer
    // that is too small is refused before any work.
    char text[KELDO_PASSWORD_HASH_MAX];
    uint8_t fresh_salt[kFreshSaltBytes];
    const size_t salt_bytes = fresh ? kFreshSaltBytes : size_t(salt_len);
    size_t n = std::strlen(prefix);
    std::memcpy(text, prefix, n);
    n += write_decimal(iterations, text + n);
    text[n++] = '$';
    const size_t salt_at = n;
    n += text_salt(form) ? salt_bytes : base64_ct_chars(salt_bytes, false);
    text[n++] = '$';
    const size_t key_at = n;
    n += key_chars(form);
    if (out_size < n + 1) return KELDO_E_PASSWORD_BUFFER_TOO_SMALL;

    if (fresh) {
        if (platform_random_bytes(fresh_salt, sizeof fresh_salt) != 0)
            return KELDO_E_PASSWORD_RANDOM;
        salt = fresh_salt;
    }
    const auto *s = static_cast<const uint8_t *>(salt);
    if (text_salt(form))
        std::memcpy(text + salt_at, s, salt_bytes);
    else
        base64_ct_encode(s, salt_bytes, text + salt_at,
                         form == KELDO_PASSWORD_PASSLIB ? b64_alphabet::adapted
                                                        : b64_alphabet::standard,
                         false);

    uint8_t key[kPasswordKeyBytes];
    if (pbkdf2_sha256(password, password_len, s, salt_bytes, iterations, key, sizeof key) != 0)
        return KELDO_E_PASSWORD_DERIVE;
    encode_key(form, key, text + key_at);
    secure_wipe(key, sizeof key);
    text[n] = '\0';
    std::memcpy(out, text, n + 1);
    secure_wipe(text, sizeof text);
    return KELDO_OK;
}

}  // namespace

int32_t password_hash(const void *password, uint64_t password_len, uint32_t iterations,
                      char *out, uint64_t out_size) {
    return encode_checked(KELDO_PASSWORD_PHC, password, password_len, nullptr, 0, true,
                          iterations, out, out_size);
}

int32_t password_encode(int32_t form, const void *password, uint64_t password_len,
                        const void *salt, uint64_t salt_len, uint32_t iterations, char *out,
                        uint64_t out_size) {
    return encode_checked(form, password, password_len, salt, salt_len, false, iterations, out,
                          out_size);
}

int32_t password_verify(const void *password, uint64_t password_len, const char *stored) {
    if (stored == nullptr || (password == nullptr && password_len != 0))
        return KELDO_E_PASSWORD_VERIFY_NULL_ARGUMENT;
    stored_hash h;
    const int32_t rc = stored_hash_parse(stored, &h);
    if (rc != KELDO_OK) {
        secure_wipe(h.key, sizeof h.key);
        return rc;
    }
    // Nothing that long is hashed here, so nothing that long can match;
    // refusing before deriving keeps a huge password from costing more.
    if (password_len > KELDO_PASSWORD_MAX_LEN) {
        secure_wipe(h.key, sizeof h.key);
        return KELDO_E_PASSWORD_MISMATCH;
    }
    uint8_t key[kPasswordKeyBytes];
    int32_t result;
    if (pbkdf2_sha256(password, password_len, h.salt, h.salt_len, h.iterations, key,
                      sizeof key) != 0)
        result = KELDO_E_PASSWORD_VERIFY_DERIVE;
    else
        result = keldo_crypto_secure_compare(key, h.key, sizeof key) == 0
                     ? KELDO_OK
                     : KELDO_E_PASSWORD_MISMATCH;
    secure_wipe(key, sizeof key);
    secure_wipe(h.key, sizeof h.key);
    return result;
}

int32_t password_parameters(const char *stored, int32_t *form_out, uint32_t *iterations_out) {
    if (stored == nullptr) return KELDO_E_PASSWORD_VERIFY_NULL_ARGUMENT;
    stored_hash h;
    const int32_t rc = stored_hash_parse(stored, &h);
    secure_wipe(h.key, sizeof h.key);
    if (rc != KELDO_OK) return rc;
    if (form_out != nullptr) *form_out = h.form;
    if (iterations_out != nullptr) *iterations_out = h.iterations;
    return KELDO_OK;
}

int32_t password_needs_rehash(const char *stored, uint32_t min_iterations) {
    int32_t form = 0;
    uint32_t iterations = 0;
    const int32_t rc = password_parameters(stored, &form, &iterations);
    if (rc != KELDO_OK) return rc;
    if (min_iterations == 0) min_iterations = KELDO_PASSWORD_DEFAULT_ITERATIONS;
    return form != KELDO_PASSWORD_PHC || iterations < min_iterations ? 1 : 0;
}
