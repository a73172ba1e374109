// The exported C interface: argument checks, the last-error text and the
// constant-time comparisons. Each export tests what it guards, calls one
// core and, where the core can fail, reports it in words.
#include "crypto_api.h"

#include <cstring>

#include "codec/base64.h"
#include "platform/ct_check.h"
#include "token/jwt.h"
#include "keldo_crypto.h"
#include "hash/pbkdf2.h"
#include "hash/hmac.h"
#include "hash/sha256.h"
#include "id/uuid.h"

namespace {

// Initialised data, so nothing runs at load. One text for the process.
char s_last_error[1024] = "OK";

// Keeps the optimiser from reasoning about the accumulated difference, so
// the loops below cannot be turned into an early exit.
inline uint64_t value_barrier(uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
    __asm__("" : "+r"(x));
#else
    volatile uint64_t v = x;
    x = v;
#endif
    return x;
}

// OR of the XOR of every byte pair: 0 when equal. Eight bytes per step,
// then single bytes; the length is the only thing that steers the loop.
uint64_t accumulate_difference(const uint8_t *a, const uint8_t *b, uint64_t len) {
    uint64_t d = 0;
    uint64_t i = 0;
    for (; len - i >= 8; i += 8) {
        uint64_t x, y;
        memcpy(&x, a + i, 8);
        memcpy(&y, b + i, 8);
        d = value_barrier(d | (x ^ y));
    }
    for (; i < len; ++i) d = value_barrier(d | uint64_t(a[i] ^ b[i]));
    return d;
}

// 1 when d is nonzero, without a branch.
inline int32_t nonzero_bit(uint64_t d) { return int32_t((d | (0 - d)) >> 63); }

}  // namespace

void keldo_set_error(const char *text) {
    const size_t n = strnlen(text, sizeof s_last_error - 1);
    memcpy(s_last_error, text, n);
    s_last_error[n] = '\0';
}

extern "C" {

KELDO_API const char *keldo_crypto_last_error(void) { return s_last_error; }

KELDO_API int32_t keldo_crypto_secure_compare(const void *a, const void *b,
                                              uint64_t len) {
    if (len == 0) return 0;
    if (a == nullptr || b == nullptr) return a == b ? 0 : 1;
    // The verdict is the caller's to act on: public once computed.
    return keldo_ct_public(nonzero_bit(accumulate_difference(
        static_cast<const uint8_t *>(a), static_cast<const uint8_t *>(b), len)));
}

KELDO_API int32_t keldo_verify_password_hash(const char *hash_a,
                                             const char *hash_b) {
    if (hash_a == nullptr || hash_b == nullptr) {
        keldo_set_error("keldo_verify_password_hash: null hash pointer");
        return 1;
    }
    size_t len = strlen(hash_a);
    if (strlen(hash_b) != len) {
        keldo_set_error("keldo_verify_password_hash: hash length mismatch");
        return 1;
    }
    if (len == 0) return 0;
    uint64_t d = accumulate_difference(reinterpret_cast<const uint8_t *>(hash_a),
                                       reinterpret_cast<const uint8_t *>(hash_b), len);
    if (keldo_ct_public(nonzero_bit(d)) != 0) {
        keldo_set_error("keldo_verify_password_hash: password hash mismatch");
        return 1;
    }
    return 0;
}

KELDO_API int32_t keldo_crypto_sha256(const void *data, uint64_t data_len,
                                      uint8_t *out) {
    if (out == nullptr) {
        keldo_set_error("keldo_crypto_sha256: null output buffer");
        return -1;
    }
    return sha256_hash(data, data_len, out);
}

KELDO_API int32_t keldo_crypto_hmac_sha256(const void *key, uint64_t key_len,
                                           const void *data, uint64_t data_len,
                                           uint8_t *out) {
    if (out == nullptr) {
        keldo_set_error("keldo_crypto_hmac_sha256: null output buffer");
        return -1;
    }
    return hmac_sha256(key, key_len, data, data_len, out);
}

KELDO_API int32_t keldo_crypto_pbkdf2_sha256(const void *password,
                                             uint64_t password_len,
                                             const void *salt, uint64_t salt_len,
                                             uint32_t iterations, uint8_t *out,
                                             uint64_t out_len) {
    // The 32-bit block index numbers at most 2^32 - 1 blocks of 32 bytes.
    constexpr uint64_t kMaxOutLen = uint64_t(0xffffffff) * 32;
    if (out_len == 0 || out_len > kMaxOutLen || iterations == 0 || out == nullptr) {
        keldo_set_error("keldo_crypto_pbkdf2_sha256: invalid parameter");
        return -1;
    }
    return pbkdf2_sha256(password, password_len, salt, salt_len, iterations, out,
                         out_len);
}

KELDO_API int32_t keldo_crypto_base64_encode(const void *data, uint64_t data_len,
                                             char *out, uint64_t out_size) {
    if (out == nullptr || out_size == 0) {
        keldo_set_error("keldo_crypto_base64_encode: null or zero size output buffer");
        return -1;
    }
    int32_t rc = base64_encode(data, data_len, out, out_size, 0);
    if (rc != 0)
        keldo_set_error(
            "keldo_crypto_base64_encode: output buffer too small or invalid input");
    return rc;
}

KELDO_API int32_t keldo_crypto_base64url_encode(const void *data,
                                                uint64_t data_len, char *out,
                                                uint64_t out_size) {
    if (out == nullptr || out_size == 0) {
        keldo_set_error(
            "keldo_crypto_base64url_encode: null or zero size output buffer");
        return -1;
    }
    int32_t rc = base64_encode(data, data_len, out, out_size, 1);
    if (rc != 0)
        keldo_set_error(
            "keldo_crypto_base64url_encode: output buffer too small or invalid input");
    return rc;
}

KELDO_API int32_t keldo_crypto_base64_decode(const char *text, uint8_t *out,
                                             uint64_t out_size, uint64_t *out_len) {
    if (out == nullptr || out_len == nullptr || text == nullptr) {
        keldo_set_error("keldo_crypto_base64_decode: null parameter");
        return -1;
    }
    int32_t rc = base64_decode(text, out, out_size, out_len, 0);
    if (rc != 0)
        keldo_set_error("keldo_crypto_base64_decode: decode failed or buffer too small");
    return rc;
}

KELDO_API int32_t keldo_crypto_base64url_decode(const char *text, uint8_t *out,
                                                uint64_t out_size,
                                                uint64_t *out_len) {
    if (out == nullptr || out_len == nullptr || text == nullptr) {
        keldo_set_error("keldo_crypto_base64url_decode: null parameter");
        return -1;
    }
    int32_t rc = base64_decode(text, out, out_size, out_len, 1);
    if (rc != 0)
        keldo_set_error(
            "keldo_crypto_base64url_decode: decode failed or buffer too small");
    return rc;
}

KELDO_API int32_t keldo_crypto_uuid_generate(char *out) {
    if (out == nullptr) {
        keldo_set_error("keldo_crypto_uuid_generate: null output buffer");
        return -1;
    }
    int32_t rc = uuid_v4_generate(out);
    if (rc != 0) keldo_set_error("keldo_crypto_uuid_generate: CSPRNG generation failed");
    return rc;
}

KELDO_API const char *keldo_jwt_mint(const char *secret, const char *sub,
                                     const char *email, uint32_t ttl_seconds) {
    return jwt_mint(secret, sub, email, ttl_seconds);
}

KELDO_API int32_t keldo_jwt_verify(const char *secret, const char *token,
                                   char *sub_out, char *email_out,
                                   int64_t *exp_out) {
    return jwt_verify(secret, token, sub_out, email_out, exp_out);
}

// ---- Interface 1.1: a status code, no shared state ------------------------

KELDO_API int32_t keldo_jwt_mint_r(const void *secret, uint64_t secret_len,
                                   const char *sub, const char *email,
                                   uint32_t ttl_seconds, char *out,
                                   uint64_t out_size, uint64_t *token_size) {
    // A null out with out_size 0 asks for the size only.
    if (sub == nullptr || email == nullptr || (secret == nullptr && secret_len != 0) ||
        (out == nullptr && out_size != 0))
        return KELDO_E_MINT_NULL_ARGUMENT;
    if (secret_len == 0) return KELDO_E_MINT_EMPTY_SECRET;
    return jwt_mint_core(secret, secret_len, sub, email, ttl_seconds, out, out_size,
                         token_size);
}

KELDO_API int32_t keldo_jwt_verify_r(const void *secret, uint64_t secret_len,
                                     const char *token, char *sub_out,
                                     char *email_out, int64_t *exp_out) {
    if (token == nullptr || (secret == nullptr && secret_len != 0))
        return KELDO_E_VERIFY_NULL_ARGUMENT;
    if (secret_len == 0) return KELDO_E_VERIFY_EMPTY_SECRET;
    return jwt_verify_core(secret, secret_len, token, sub_out, email_out, exp_out, false);
}

// ---- Interface 1.2: prepared token keys and key rings ---------------------

KELDO_API int32_t keldo_jwt_key_init(keldo_jwt_key *key, const void *secret,
                                     uint64_t secret_len) {
    if (key == nullptr) return KELDO_E_KEY_NULL_ARGUMENT;
    // A refused key is left refused, never holding an earlier secret.
    jwt_key_wipe(key);
    if (secret == nullptr && secret_len != 0) return KELDO_E_KEY_NULL_ARGUMENT;
    if (secret_len == 0) return KELDO_E_KEY_EMPTY_SECRET;
    jwt_key_prepare(key, secret, secret_len);
    return KELDO_OK;
}

KELDO_API void keldo_jwt_key_wipe(keldo_jwt_key *key) {
    if (key != nullptr) jwt_key_wipe(key);
}

KELDO_API int32_t keldo_jwt_mint_k(const keldo_jwt_key *key, const char *sub,
                                   const char *email, uint32_t ttl_seconds, char *out,
                                   uint64_t out_size, uint64_t *token_size) {
    if (key == nullptr || sub == nullptr || email == nullptr ||
        (out == nullptr && out_size != 0))
        return KELDO_E_MINT_NULL_ARGUMENT;
    return jwt_mint_key(key, sub, email, ttl_seconds, out, out_size, token_size);
}

KELDO_API int32_t keldo_jwt_verify_k(const keldo_jwt_key *keys, uint32_t key_count,
                                     const char *token, char *sub_out, char *email_out,
                                     int64_t *exp_out, uint32_t *key_index_out) {
    if (keys == nullptr || token == nullptr) return KELDO_E_VERIFY_NULL_ARGUMENT;
    return jwt_verify_keys(keys, key_count, token, sub_out, email_out, exp_out,
                           key_index_out);
}

}  // extern "C"
