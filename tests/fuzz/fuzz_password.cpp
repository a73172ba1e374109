// The stored password-hash reader behind keldo_password_verify,
// keldo_password_needs_rehash and keldo_password_parameters. Properties: the
// three agree on every refusal, which is always of the malformed-hash kind;
// an accepted string has a count within the bounds and fields that are the
// canonical spelling (by the Base64 model of fuzz_support.h) of what they
// hold; and once its key is replaced by OpenSSL's PBKDF2 of a password, the
// string verifies that password and no other.
//
// Input: the stored string (cut at a NUL, as a C string is).
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "keldo_crypto.h"

namespace {

// Fields split at '$'.
std::vector<std::string> fields(const std::string &s) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == '$') out.emplace_back();
        else out.back().push_back(c);
    }
    return out;
}

std::string swap_chars(std::string s, char from, char to) {
    for (char &c : s)
        if (c == from) c = to;
        else if (c == to) c = from;
    return s;
}

// Decodes an unpadded field in the model's standard alphabet; the field
// must be exactly what the model encodes back (no padding, zero spare bits).
std::vector<uint8_t> canonical_decode(const std::string &field, bool pad) {
    const fuzz::DecodeModel m = fuzz::model_decode(reinterpret_cast<const uint8_t *>(field.data()),
                                             field.size(), false, field.size());
    FUZZ_CHECK(m.ok);
    std::string again = fuzz::model_encode(m.bytes.data(), m.bytes.size(), false);
    if (!pad)
        while (!again.empty() && again.back() == '=') again.pop_back();
    FUZZ_CHECK(again == field);
    return m.bytes;
}

std::string encode_key(int32_t form, const uint8_t *key) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    switch (form) {
        case KELDO_PASSWORD_WERKZEUG:
            for (size_t i = 0; i < 32; ++i) {
                s.push_back(digits[key[i] >> 4]);
                s.push_back(digits[key[i] & 15]);
            }
            return s;
        case KELDO_PASSWORD_DJANGO: return fuzz::model_encode(key, 32, false);
        default:
            s = fuzz::model_encode(key, 32, false);
            while (s.back() == '=') s.pop_back();
            return form == KELDO_PASSWORD_PASSLIB ? swap_chars(s, '+', '.') : s;
    }
}

}  // namespace


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = size == 0 ? "" : reinterpret_cast<const char *>(data);
    const std::string stored(text, strnlen(text, size));
    int32_t form = -1;
    uint32_t iterations = 0;
    const int32_t rc = keldo_password_parameters(stored.c_str(), &form, &iterations);
    FUZZ_CHECK(keldo_password_needs_rehash(stored.c_str(), 1) == (rc != KELDO_OK ? rc : form != 1));
    if (rc != KELDO_OK) {
        FUZZ_CHECK(KELDO_STATUS_KIND(rc) == KELDO_KIND_MALFORMED_HASH);
        FUZZ_CHECK(form == -1);
        FUZZ_CHECK(keldo_password_verify("p", 1, stored.c_str()) == rc);
        FUZZ_CHECK(std::string_view(keldo_crypto_status_text(rc)).starts_with("password_verify: "));
        return 0;
    }
    FUZZ_CHECK(iterations >= 1 && iterations <= KELDO_PASSWORD_MAX_ITERATIONS);
    const std::vector<std::string> f = fields(stored);
    std::vector<uint8_t> salt;
    std::string count;
    switch (form) {
        case KELDO_PASSWORD_PHC:
        case KELDO_PASSWORD_PASSLIB: {
            FUZZ_CHECK(f.size() == 5 && f[0].empty() && f[1] == "pbkdf2-sha256");
            count = form == KELDO_PASSWORD_PHC ? f[2].substr(2) : f[2];
            FUZZ_CHECK(form != KELDO_PASSWORD_PHC || f[2].starts_with("i="));
            // passlib's alphabet is the standard one with '.' for '+'.
            const bool adapted = form == KELDO_PASSWORD_PASSLIB;
            FUZZ_CHECK(f[3].find(adapted ? '+' : '.') == std::string::npos);
            FUZZ_CHECK(f[4].find(adapted ? '+' : '.') == std::string::npos);
            salt = canonical_decode(adapted ? swap_chars(f[3], '.', '+') : f[3], false);
            FUZZ_CHECK(canonical_decode(adapted ? swap_chars(f[4], '.', '+') : f[4], false).size() == 32);
            break;
        }
        case KELDO_PASSWORD_DJANGO:
            FUZZ_CHECK(f.size() == 4 && f[0] == "pbkdf2_sha256");
            count = f[1];
            salt.assign(f[2].begin(), f[2].end());
            FUZZ_CHECK(canonical_decode(f[3], true).size() == 32);
            break;
        case KELDO_PASSWORD_WERKZEUG:
            FUZZ_CHECK(f.size() == 3 && f[0].starts_with("pbkdf2:sha256:"));
            count = f[0].substr(14);
            salt.assign(f[1].begin(), f[1].end());
            FUZZ_CHECK(f[2].size() == 64 &&
                       f[2].find_first_not_of("0123456789abcdef") == std::string::npos);
            break;
        default:
            FUZZ_CHECK(false);
    }
    FUZZ_CHECK(count == std::to_string(iterations));  // canonical decimal
    FUZZ_CHECK(!salt.empty() && f[f.size() - 2].size() <= 1024);

    // Deriving is the slow part: only for small counts.
    if (iterations > 64) return 0;
    uint8_t key[32];
    FUZZ_CHECK(PKCS5_PBKDF2_HMAC("p", 1, fuzz::nonnull(salt.data()), int(salt.size()),
                                 int(iterations), EVP_sha256(), 32, key) == 1);
    const std::string with_key =
        stored.substr(0, stored.rfind('$') + 1) + encode_key(form, key);
    FUZZ_CHECK(keldo_password_verify("p", 1, with_key.c_str()) == KELDO_OK);
    FUZZ_CHECK(keldo_password_verify("q", 1, with_key.c_str()) == KELDO_E_PASSWORD_MISMATCH);
    FUZZ_CHECK(keldo_password_verify("pp", 2, with_key.c_str()) == KELDO_E_PASSWORD_MISMATCH);
    return 0;
}
