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
 * the byte count in *out_len. Trailing CR, LF and spaces are dropped, then
 * any trailing '=' ("QUI=\n" decodes, "QUI\n=" does not).
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

/* ======================================================================
 * Interface 1.1: no shared state.
 *
 * The functions below write neither the last-error text nor any static
 * buffer: any number of threads may call them at once with no lock in the
 * host. Secrets and passwords are byte strings with a length (any byte
 * values, NUL included). Each returns a status: KELDO_OK (0), or a negative
 * code whose fixed English text keldo_crypto_status_text() gives. A code's
 * kind is -code / 100 (KELDO_STATUS_KIND), so a host can branch on the kind
 * without knowing every code. Codes and texts never change meaning; new
 * codes may be added within a kind.
 * ====================================================================== */

#define KELDO_OK 0

/* Kinds: KELDO_STATUS_KIND(code) for a negative code. */
#define KELDO_KIND_INVALID_ARGUMENT 1 /* a null pointer, an empty secret, a value out of range */
#define KELDO_KIND_BUFFER_TOO_SMALL 2 /* the output does not fit; the size needed is reported */
#define KELDO_KIND_MALFORMED 3        /* not a well-formed token */
#define KELDO_KIND_BAD_SIGNATURE 4    /* well-formed, but not signed with this secret */
#define KELDO_KIND_EXPIRED 5          /* authentic, past its exp */
#define KELDO_KIND_NOT_YET_VALID 6    /* authentic, nbf more than 60 s ahead */
#define KELDO_KIND_INVALID_CLAIMS 7   /* authentic, but a claim is missing or wrong */
#define KELDO_KIND_MISMATCH 8         /* the password does not match the stored hash */
#define KELDO_KIND_MALFORMED_HASH 9   /* the stored hash string cannot be used */
#define KELDO_KIND_INTERNAL 10        /* out of memory, or the random source failed */
#define KELDO_STATUS_KIND(code) ((code) < 0 ? -(code) / 100 : 0)

/* The token codes; each text is the message keldo_jwt_mint or
 * keldo_jwt_verify writes for the same refusal (the two empty-secret codes
 * and the buffer code belong to the 1.1 functions alone). */
#define KELDO_E_MINT_NULL_ARGUMENT -101        /* "jwt_mint: null parameter passed" */
#define KELDO_E_VERIFY_NULL_ARGUMENT -102      /* "jwt_verify: null secret or token" */
#define KELDO_E_MINT_EMPTY_SECRET -103         /* "jwt_mint: empty secret" */
#define KELDO_E_VERIFY_EMPTY_SECRET -104       /* "jwt_verify: empty secret" */
#define KELDO_E_CLAIMS_TOO_LONG -105           /* "jwt_mint: failed to base64url encode payload" */
#define KELDO_E_KEY_NULL_ARGUMENT -106         /* "jwt_key: null key or secret" */
#define KELDO_E_KEY_EMPTY_SECRET -107          /* "jwt_key: empty secret" */
#define KELDO_E_KEY_NOT_INITIALISED -108       /* "jwt_key: key not initialised" */
#define KELDO_E_KEY_COUNT -109                 /* "jwt_verify: key count out of range" */
#define KELDO_E_TOKEN_BUFFER_TOO_SMALL -201    /* "jwt_mint: output buffer too small" */
#define KELDO_E_MISSING_FIRST_DOT -301         /* "jwt_verify: malformed token (missing first dot)" */
#define KELDO_E_MISSING_SECOND_DOT -302        /* "jwt_verify: malformed token (missing second dot)" */
#define KELDO_E_EXTRA_SEGMENTS -303            /* "jwt_verify: malformed token (extra segments)" */
#define KELDO_E_SIGNATURE_FORMAT -304          /* "jwt_verify: invalid signature format or length" */
#define KELDO_E_PAYLOAD_TOO_LONG -305          /* "jwt_verify: payload segment too long" */
#define KELDO_E_PAYLOAD_BASE64 -306            /* "jwt_verify: base64url decode payload failed" */
#define KELDO_E_PAYLOAD_JSON -307              /* "jwt_verify: invalid payload JSON" */
#define KELDO_E_PAYLOAD_NOT_OBJECT -308        /* "jwt_verify: payload root is not an object" */
#define KELDO_E_BAD_SIGNATURE -401             /* "jwt_verify: signature verification failed" */
#define KELDO_E_EXPIRED -501                   /* "jwt_verify: token has expired" */
#define KELDO_E_NOT_YET_VALID -601             /* "jwt_verify: token is not valid yet (nbf in future)" */
#define KELDO_E_ISS_CLAIM -701                 /* "jwt_verify: invalid or missing 'iss' claim" */
#define KELDO_E_MISSING_EXP -702               /* "jwt_verify: missing 'exp' claim" */
#define KELDO_E_MISSING_SUB -703               /* "jwt_verify: missing 'sub' claim" */
#define KELDO_E_INVALID_SUB -704               /* "jwt_verify: invalid 'sub' claim" */
#define KELDO_E_MISSING_EMAIL -705             /* "jwt_verify: missing 'email' claim" */
#define KELDO_E_INVALID_EMAIL -706             /* "jwt_verify: invalid 'email' claim" */
#define KELDO_E_MINT_DOCUMENT -1001            /* "jwt_mint: failed to allocate yyjson document" */
#define KELDO_E_MINT_BUILD -1002               /* "jwt_mint: failed to build payload JSON" */
#define KELDO_E_MINT_SERIALIZE -1003           /* "jwt_mint: failed to serialize payload JSON" */
#define KELDO_E_MINT_HMAC -1004                /* "jwt_mint: hmac calculation failed" */
#define KELDO_E_MINT_SIGNATURE -1005           /* "jwt_mint: failed to base64url encode signature" */
#define KELDO_E_VERIFY_HMAC -1006              /* "jwt_verify: failed to compute HMAC" */
/* The password codes. Within a kind, token codes count from x01 and
 * password codes from x21. The texts name password_hash for the refusals of
 * keldo_password_hash and keldo_password_encode alike, and password_verify
 * for everything about a stored string, whichever of keldo_password_verify,
 * keldo_password_needs_rehash or keldo_password_parameters read it. */
#define KELDO_E_PASSWORD_NULL_ARGUMENT -121    /* "password_hash: null parameter passed" */
#define KELDO_E_PASSWORD_TOO_LONG -122         /* "password_hash: password longer than 4096 bytes" */
#define KELDO_E_PASSWORD_ITERATIONS -123       /* "password_hash: iterations above 100000000" */
#define KELDO_E_PASSWORD_FORM -124             /* "password_hash: unknown hash form" */
#define KELDO_E_PASSWORD_SALT -125             /* "password_hash: salt empty, too long, or holding '$' or NUL" */
#define KELDO_E_PASSWORD_VERIFY_NULL_ARGUMENT -126 /* "password_verify: null password or stored hash" */
#define KELDO_E_PASSWORD_BUFFER_TOO_SMALL -221 /* "password_hash: output buffer too small" */
#define KELDO_E_PASSWORD_MISMATCH -801         /* "password_verify: password does not match" */
#define KELDO_E_PASSWORD_UNKNOWN_FORMAT -901   /* "password_verify: unrecognised hash format" */
#define KELDO_E_PASSWORD_AMBIGUOUS -902        /* "password_verify: Werkzeug hash without an iteration count is ambiguous" */
#define KELDO_E_PASSWORD_FIELDS -903           /* "password_verify: wrong number of fields in the hash" */
#define KELDO_E_PASSWORD_STORED_ITERATIONS -904 /* "password_verify: iteration count not a canonical number from 1 to 100000000" */
#define KELDO_E_PASSWORD_STORED_SALT -905      /* "password_verify: salt empty, over 1024 characters or not canonical" */
#define KELDO_E_PASSWORD_STORED_KEY -906       /* "password_verify: hash field not the canonical encoding of 32 bytes" */
#define KELDO_E_PASSWORD_RANDOM -1021          /* "password_hash: random source failed" */
#define KELDO_E_PASSWORD_DERIVE -1022          /* "password_hash: key derivation failed" */
#define KELDO_E_PASSWORD_VERIFY_DERIVE -1023   /* "password_verify: key derivation failed" */

/* The fixed text of a status: "OK" for KELDO_OK, the message listed in the
 * manual page keldo_crypto_status_text(3) for each code, and
 * "unknown status" for any other value. Never NULL; static storage. */
KELDO_API const char *keldo_crypto_status_text(int32_t status);

/* Upper bounds of the texts the 1.1 functions write, terminator included:
 * a buffer of this size never gets KELDO_KIND_BUFFER_TOO_SMALL. */
#define KELDO_JWT_TOKEN_MAX 2129
#define KELDO_PASSWORD_HASH_MAX 256

/* ---- Tokens ----------------------------------------------------------- */

/* As keldo_jwt_mint (the same token, byte for byte), into the caller's
 * out[out_size]. secret is secret_len bytes (1 or more, any values).
 * *token_size, when not NULL, receives the size the token needs, terminator
 * included: on success and when out_size is too small (then nothing is
 * written to out). out may be NULL with out_size 0, to ask for the size.
 * On any refusal out is untouched. */
KELDO_API int32_t keldo_jwt_mint_r(const void *secret, uint64_t secret_len,
                                   const char *sub, const char *email,
                                   uint32_t ttl_seconds, char *out,
                                   uint64_t out_size, uint64_t *token_size);

/* As keldo_jwt_verify (the same checks in the same order), with the secret
 * as secret_len bytes (1 or more, any values). On KELDO_OK copies the claims
 * to sub_out[64], email_out[128] and *exp_out (each may be NULL); otherwise
 * writes none of them. */
KELDO_API int32_t keldo_jwt_verify_r(const void *secret, uint64_t secret_len,
                                     const char *token, char *sub_out,
                                     char *email_out, int64_t *exp_out);

/* ---- Password-hash strings -------------------------------------------- */

/* The forms of a stored PBKDF2-HMAC-SHA256 password hash. */
#define KELDO_PASSWORD_PHC 1      /* $pbkdf2-sha256$i=N$SALT$HASH (written by keldo_password_hash) */
#define KELDO_PASSWORD_DJANGO 2   /* pbkdf2_sha256$N$SALT$HASH */
#define KELDO_PASSWORD_PASSLIB 3  /* $pbkdf2-sha256$N$SALT$HASH */
#define KELDO_PASSWORD_WERKZEUG 4 /* pbkdf2:sha256:N$SALT$HEXHASH */

#define KELDO_PASSWORD_DEFAULT_ITERATIONS 600000
#define KELDO_PASSWORD_MAX_ITERATIONS 100000000
#define KELDO_PASSWORD_MAX_LEN 4096 /* bytes of a password */

/* Hashes password (password_len bytes, at most KELDO_PASSWORD_MAX_LEN) with
 * a fresh 16-byte salt from the operating system into out[out_size] in the
 * PHC form. iterations 0 means KELDO_PASSWORD_DEFAULT_ITERATIONS. */
KELDO_API int32_t keldo_password_hash(const void *password, uint64_t password_len,
                                      uint32_t iterations, char *out,
                                      uint64_t out_size);

/* As keldo_password_hash, in the given form with the caller's salt: for
 * Django and Werkzeug the salt is text (1 to 128 bytes, no '$' or NUL), for
 * the PHC and passlib forms bytes (1 to 96, encoded to at most 128
 * characters), so that every result fits KELDO_PASSWORD_HASH_MAX. */
KELDO_API int32_t keldo_password_encode(int32_t form, const void *password,
                                        uint64_t password_len, const void *salt,
                                        uint64_t salt_len, uint32_t iterations,
                                        char *out, uint64_t out_size);

/* Checks password against a stored hash in any of the four forms:
 * KELDO_OK when it matches, a KELDO_KIND_MISMATCH code when it does not (a
 * password longer than KELDO_PASSWORD_MAX_LEN never matches), a
 * KELDO_KIND_MALFORMED_HASH code when stored is not a usable hash. The key
 * comparison runs in constant time. */
KELDO_API int32_t keldo_password_verify(const void *password,
                                        uint64_t password_len,
                                        const char *stored);

/* 1 when stored should be replaced at the next login: it is not in the
 * PHC form, or its iteration count is below min_iterations (0 means
 * KELDO_PASSWORD_DEFAULT_ITERATIONS); 0 when it need not be; a negative
 * status when stored is malformed. */
KELDO_API int32_t keldo_password_needs_rehash(const char *stored,
                                              uint32_t min_iterations);

/* Parses stored without deriving anything: KELDO_OK with its form and
 * iteration count (either pointer may be NULL), or a negative status. */
KELDO_API int32_t keldo_password_parameters(const char *stored, int32_t *form_out,
                                            uint32_t *iterations_out);

/* ======================================================================
 * Interface 1.2: prepared token keys and key rings.
 *
 * A prepared key holds the two keyed HMAC-SHA256 states of a token secret,
 * not the secret: each token then costs two SHA-256 compressions less. A key
 * ring is an array of keys, the current one first, then those still
 * accepted, so a secret can be replaced without refusing the tokens already
 * issued. Like interface 1.1, these functions share no state.
 * ====================================================================== */

/* KELDO_JWT_KEY_SIZE bytes, 8-byte aligned, contents private: a host may put
 * keys on the stack, in a struct or in an array. A key is read-only after
 * keldo_jwt_key_init, so any number of threads may use it at once. */
typedef struct keldo_jwt_key {
    uint64_t opaque_[16];
} keldo_jwt_key;
#define KELDO_JWT_KEY_SIZE 128
/* The most keys keldo_jwt_verify_k takes. */
#define KELDO_JWT_KEYS_MAX 16

/* Prepares key from secret (secret_len bytes, 1 or more, any values). Keeps
 * no copy of the secret. KELDO_E_KEY_NULL_ARGUMENT for a null key, or a null
 * secret with a nonzero length; KELDO_E_KEY_EMPTY_SECRET for length 0. On a
 * refusal the key is left refused (as after keldo_jwt_key_wipe). */
KELDO_API int32_t keldo_jwt_key_init(keldo_jwt_key *key, const void *secret,
                                     uint64_t secret_len);

/* Clears every byte of key; it is refused from then on until initialised
 * again. A null key is ignored. Not while another thread uses the key. */
KELDO_API void keldo_jwt_key_wipe(keldo_jwt_key *key);

/* As keldo_jwt_mint_r with the key's secret: the same token, byte for byte,
 * the same status codes; KELDO_E_KEY_NOT_INITIALISED for a key that was never
 * initialised, or was wiped or zeroed. */
KELDO_API int32_t keldo_jwt_mint_k(const keldo_jwt_key *key, const char *sub,
                                   const char *email, uint32_t ttl_seconds,
                                   char *out, uint64_t out_size,
                                   uint64_t *token_size);

/* Verifies token under keys[0 .. key_count), key_count from 1 to
 * KELDO_JWT_KEYS_MAX. Only a bad signature moves on to the next key: a token
 * that cannot be split or whose signature cannot be decoded is refused before
 * any key is tried, and once a key matches, any refusal of the payload is
 * the answer. With one key it checks what keldo_jwt_verify_r checks, in the
 * same order, with the same codes. On KELDO_OK writes sub_out[64],
 * email_out[128], *exp_out and *key_index_out, the position of the matching
 * key (each may be NULL); otherwise none of them. Every key is checked to be
 * initialised before the token is read. Each signature comparison runs in
 * constant time; the time taken tells how many keys were tried, that is the
 * position of the matching key, and nothing about a key's bytes. */
KELDO_API int32_t keldo_jwt_verify_k(const keldo_jwt_key *keys, uint32_t key_count,
                                     const char *token, char *sub_out,
                                     char *email_out, int64_t *exp_out,
                                     uint32_t *key_index_out);

#ifdef __cplusplus
}
#endif

#endif /* KELDO_CRYPTO_H */
