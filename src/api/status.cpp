// The fixed text of every status code of the reentrant interface. The token
// texts are the messages the thirteen-interface token functions write for the
// same refusals: they read this table too, so the two cannot drift apart.
#include <cstddef>
#include <cstdint>

#include "keldo_crypto.h"

namespace {

struct status_row {
    int32_t code;
    const char *text;
};

constexpr status_row kStatusTexts[] = {
    {KELDO_OK, "OK"},
    // ---- Tokens ----
    {KELDO_E_MINT_NULL_ARGUMENT, "jwt_mint: null parameter passed"},
    {KELDO_E_VERIFY_NULL_ARGUMENT, "jwt_verify: null secret or token"},
    {KELDO_E_MINT_EMPTY_SECRET, "jwt_mint: empty secret"},
    {KELDO_E_VERIFY_EMPTY_SECRET, "jwt_verify: empty secret"},
    {KELDO_E_CLAIMS_TOO_LONG, "jwt_mint: failed to base64url encode payload"},
    {KELDO_E_KEY_NULL_ARGUMENT, "jwt_key: null key or secret"},
    {KELDO_E_KEY_EMPTY_SECRET, "jwt_key: empty secret"},
    {KELDO_E_KEY_NOT_INITIALISED, "jwt_key: key not initialised"},
    {KELDO_E_KEY_COUNT, "jwt_verify: key count out of range"},
    {KELDO_E_TOKEN_BUFFER_TOO_SMALL, "jwt_mint: output buffer too small"},
    {KELDO_E_MISSING_FIRST_DOT, "jwt_verify: malformed token (missing first dot)"},
    {KELDO_E_MISSING_SECOND_DOT, "jwt_verify: malformed token (missing second dot)"},
    {KELDO_E_EXTRA_SEGMENTS, "jwt_verify: malformed token (extra segments)"},
    {KELDO_E_SIGNATURE_FORMAT, "jwt_verify: invalid signature format or length"},
    {KELDO_E_PAYLOAD_TOO_LONG, "jwt_verify: payload segment too long"},
    {KELDO_E_PAYLOAD_BASE64, "jwt_verify: base64url decode payload failed"},
    {KELDO_E_PAYLOAD_JSON, "jwt_verify: invalid payload JSON"},
    {KELDO_E_PAYLOAD_NOT_OBJECT, "jwt_verify: payload root is not an object"},
    {KELDO_E_BAD_SIGNATURE, "jwt_verify: signature verification failed"},
    {KELDO_E_EXPIRED, "jwt_verify: token has expired"},
    {KELDO_E_NOT_YET_VALID, "jwt_verify: token is not valid yet (nbf in future)"},
    {KELDO_E_ISS_CLAIM, "jwt_verify: invalid or missing 'iss' claim"},
    {KELDO_E_MISSING_EXP, "jwt_verify: missing 'exp' claim"},
    {KELDO_E_MISSING_SUB, "jwt_verify: missing 'sub' claim"},
    {KELDO_E_INVALID_SUB, "jwt_verify: invalid 'sub' claim"},
    {KELDO_E_MISSING_EMAIL, "jwt_verify: missing 'email' claim"},
    {KELDO_E_INVALID_EMAIL, "jwt_verify: invalid 'email' claim"},
    {KELDO_E_MINT_DOCUMENT, "jwt_mint: failed to allocate yyjson document"},
    {KELDO_E_MINT_BUILD, "jwt_mint: failed to build payload JSON"},
    {KELDO_E_MINT_SERIALIZE, "jwt_mint: failed to serialize payload JSON"},
    {KELDO_E_MINT_HMAC, "jwt_mint: hmac calculation failed"},
    {KELDO_E_MINT_SIGNATURE, "jwt_mint: failed to base64url encode signature"},
    {KELDO_E_VERIFY_HMAC, "jwt_verify: failed to compute HMAC"},
    // ---- Password-hash strings ----
    {KELDO_E_PASSWORD_NULL_ARGUMENT, "password_hash: null parameter passed"},
    {KELDO_E_PASSWORD_TOO_LONG, "password_hash: password longer than 4096 bytes"},
    {KELDO_E_PASSWORD_ITERATIONS, "password_hash: iterations above 100000000"},
    {KELDO_E_PASSWORD_FORM, "password_hash: unknown hash form"},
    {KELDO_E_PASSWORD_SALT, "password_hash: salt empty, too long, or holding '$' or NUL"},
    {KELDO_E_PASSWORD_VERIFY_NULL_ARGUMENT, "password_verify: null password or stored hash"},
    {KELDO_E_PASSWORD_BUFFER_TOO_SMALL, "password_hash: output buffer too small"},
    {KELDO_E_PASSWORD_MISMATCH, "password_verify: password does not match"},
    {KELDO_E_PASSWORD_UNKNOWN_FORMAT, "password_verify: unrecognised hash format"},
    {KELDO_E_PASSWORD_AMBIGUOUS,
     "password_verify: Werkzeug hash without an iteration count is ambiguous"},
    {KELDO_E_PASSWORD_FIELDS, "password_verify: wrong number of fields in the hash"},
    {KELDO_E_PASSWORD_STORED_ITERATIONS,
     "password_verify: iteration count not a canonical number from 1 to 100000000"},
    {KELDO_E_PASSWORD_STORED_SALT,
     "password_verify: salt empty, over 1024 characters or not canonical"},
    {KELDO_E_PASSWORD_STORED_KEY,
     "password_verify: hash field not the canonical encoding of 32 bytes"},
    {KELDO_E_PASSWORD_RANDOM, "password_hash: random source failed"},
    {KELDO_E_PASSWORD_DERIVE, "password_hash: key derivation failed"},
    {KELDO_E_PASSWORD_VERIFY_DERIVE, "password_verify: key derivation failed"},
};

}  // namespace

extern "C" KELDO_API const char *keldo_crypto_status_text(int32_t status) {
    for (const status_row &row : kStatusTexts)
        if (row.code == status) return row.text;
    return "unknown status";
}
