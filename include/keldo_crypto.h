/*
 * keldo-crypto: HS256 tokens, PBKDF2 password hashes and the primitives
 * behind them, through a plain C interface.
 *
 * Conventions shared by every function:
 *  - Integer results are 0 on success and -1 on failure, except the two
 *    comparisons (0 equal, 1 otherwise), keldo_jwt_mint (token or NULL) and
 *    keldo_crypto_last_error (always a text).
 *  - After a failure, keldo_crypto_last_error() usually holds a one-line
 *    message naming the function and the reason. A successful call never
 *    changes that text and nothing resets it.
 *  - Byte strings are (pointer, 64-bit length); a NULL pointer with length 0
 *    is the empty string. Text outputs are NUL-terminated and the
 *    terminator counts against the capacity.
 *  - The last-error text and the token returned by keldo_jwt_mint are
 *    process-wide buffers written without locks: a multi-threaded host
 *    serialises each failing call with its read of the error text, and each
 *    keldo_jwt_mint call with its copy of the token. Everything else may run
 *    in parallel on distinct output buffers.
 */
#ifndef KELDO_CRYPTO_H
#define KELDO_CRYPTO_H

#include <stdint.h>

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(KELDO_CRYPTO_BUILDING)
#    define KELDO_API __declspec(dllexport)
#  elif defined(KELDO_CRYPTO_STATIC)
#    define KELDO_API
#  else
#    define KELDO_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__) || defined(__clang__)
#  define KELDO_API __attribute__((visibility("default")))
#else
#  define KELDO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Error text ------------------------------------------------------- */

/* The message of the most recent failing call, or "OK" if none has failed
 * since the library was loaded. Never NULL; the same pointer every time.
 * Do not write to it or free it. */
KELDO_API const char *keldo_crypto_last_error(void);

/* ---- Constant-time comparison ----------------------------------------- */

/* 0 when the len bytes at a and b are equal, 1 otherwise. len 0 is equal
 * whatever the pointers; with len > 0 two NULLs are equal and one NULL is
 * not. The time depends on len only. Never writes the error text. */
KELDO_API int32_t keldo_crypto_secure_compare(const void *a, const void *b,
                                              uint64_t len);

/* 0 when the two NUL-terminated strings have the same length and bytes,
 * 1 otherwise (with a message). The lengths are compared first and not in
 * constant time; the contents of equal-length strings are. */
KELDO_API int32_t keldo_verify_password_hash(const char *hash_a,
                                             const char *hash_b);

/* ---- Hashing ---------------------------------------------------------- */

/* SHA-256 of data into out[32]. A NULL data is the empty message. */
KELDO_API int32_t keldo_crypto_sha256(const void *data, uint64_t data_len,
                                      uint8_t *out);

/* HMAC-SHA256 of data under key into out[32]. A NULL data is the empty
 * message. A NULL key is the empty key for key_len <= 64; with a larger
 * key_len it goes through the long-key branch and becomes the digest of the
 * empty message. */
KELDO_API int32_t keldo_crypto_hmac_sha256(const void *key, uint64_t key_len,
                                           const void *data, uint64_t data_len,
                                           uint8_t *out);

/* PBKDF2-HMAC-SHA256 (RFC 8018) of password and salt into out[out_len].
 * iterations >= 1, 1 <= out_len <= (2^32 - 1) * 32. A NULL password or salt
 * is allowed only with length 0. */
KELDO_API int32_t keldo_crypto_pbkdf2_sha256(const void *password,
                                             uint64_t password_len,
                                             const void *salt, uint64_t salt_len,
                                             uint32_t iterations, uint8_t *out,
                                             uint64_t out_len);

/* ---- Base64 (RFC 4648) ------------------------------------------------ */

/* Standard Base64 with '=' padding, NUL-terminated. Needs
 * out_size >= 4 * ceil(data_len / 3) + 1. */
KELDO_API int32_t keldo_crypto_base64_encode(const void *data,
                                             uint64_t data_len, char *out,
                                             uint64_t out_size);

/* Decodes NUL-terminated text into out (no terminator written) and stores
 * the byte count in *out_len. Trailing CR, LF, space and '=' are ignored.
 * On a rejected character the bytes of earlier complete groups may already
 * be in out. */
KELDO_API int32_t keldo_crypto_base64_decode(const char *text, uint8_t *out,
                                             uint64_t out_size,
                                             uint64_t *out_len);

/* base64url without padding, NUL-terminated. Needs out_size of
 * 4q+1, 4q+3 or 4q+4 for data_len = 3q, 3q+1, 3q+2. */
KELDO_API int32_t keldo_crypto_base64url_encode(const void *data,
                                                uint64_t data_len, char *out,
                                                uint64_t out_size);

/* As keldo_crypto_base64_decode; accepts both alphabets. */
KELDO_API int32_t keldo_crypto_base64url_decode(const char *text, uint8_t *out,
                                                uint64_t out_size,
                                                uint64_t *out_len);

/* ---- Identifiers ------------------------------------------------------ */

/* A random version 4 UUID as 36 lowercase characters and a NUL:
 * out must hold 37 bytes. */
KELDO_API int32_t keldo_crypto_uuid_generate(char *out);

/* ---- Tokens (HS256 JWT) ----------------------------------------------- */

/* Mints a token for sub and email, valid from now for ttl_seconds, signed
 * with the bytes of secret. Returns a pointer into a library-owned buffer
 * that the next successful call overwrites, or NULL on failure. */
KELDO_API const char *keldo_jwt_mint(const char *secret, const char *sub,
                                     const char *email, uint32_t ttl_seconds);

/* Verifies token against secret and the clock. On success copies the
 * claims to sub_out[64], email_out[128] and *exp_out (each may be NULL)
 * and returns 0; otherwise returns -1 with a "jwt_verify: ..." message. */
KELDO_API int32_t keldo_jwt_verify(const char *secret, const char *token,
                                   char *sub_out, char *email_out,
                                   int64_t *exp_out);

#ifdef __cplusplus
}
#endif

#endif /* KELDO_CRYPTO_H */
