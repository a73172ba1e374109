// The operations measured, as the same small functions for this library and
// for each peer, so the start-up check and the timed loop run identical code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "keldo_crypto.h"

namespace bench {

// ---- Inputs shared by every implementation ------------------------------

// Sizes and counts benchmarked; the start-up check covers exactly these.
struct sized {
    const char *name;
    size_t len;
};
inline constexpr sized kSha256Sizes[] = {
    {"16B", 16}, {"64B", 64}, {"1KiB", 1024}, {"16KiB", 16384}, {"1MiB", 1 << 20}};
inline constexpr sized kBase64Sizes[] = {
    {"32B", 32}, {"64B", 64}, {"1KiB", 1024}, {"1MiB", 1 << 20}};
// Below 1 MiB the codecs take turns over this many different inputs (the
// consecutive slices of fixed_data()): one input repeated would let the
// branch predictor learn a branchy codec's path through it.
inline constexpr size_t base64_inputs(size_t len) {
    return len >= (size_t(1) << 20) ? 1 : 256;
}
inline constexpr size_t kHmacMessageLen = 100;
inline constexpr size_t kPbkdf2SaltLen = 16;
inline constexpr size_t kPbkdf2PasswordLen = 16;
inline constexpr size_t kPbkdf2LongPasswordLen = 1 << 20;
// Enough iterations that one call's fixed cost (for the long password, one
// hash of the whole password) is a small part of the time per iteration.
inline constexpr uint32_t kPbkdf2Iterations = 10000;
inline constexpr uint32_t kPbkdf2LongPasswordIterations = 100000;

// 1 MiB of deterministic bytes (fixed seed); every input is a prefix of it.
const std::vector<uint8_t> &fixed_data();

struct token_claims {
    const char *secret;  // 32 bytes
    const char *sub;     // a UUID
    const char *email;   // 20 bytes
    uint32_t ttl_seconds;
};
const token_claims &claims();

// ---- Hashing ------------------------------------------------------------

using digest_fn = void (*)(const uint8_t *data, size_t len, uint8_t out[32]);
void ours_sha256(const uint8_t *data, size_t len, uint8_t out[32]);
void openssl_sha256(const uint8_t *data, size_t len, uint8_t out[32]);
void openssl_evp_sha256(const uint8_t *data, size_t len, uint8_t out[32]);
void sodium_sha256(const uint8_t *data, size_t len, uint8_t out[32]);

// key is always 32 bytes: libsodium's HMAC takes exactly that.
using mac_fn = void (*)(const uint8_t key[32], const uint8_t *msg, size_t len,
                        uint8_t out[32]);
void ours_hmac(const uint8_t key[32], const uint8_t *msg, size_t len,
               uint8_t out[32]);
void openssl_hmac(const uint8_t key[32], const uint8_t *msg, size_t len,
                  uint8_t out[32]);
void sodium_hmac(const uint8_t key[32], const uint8_t *msg, size_t len,
                 uint8_t out[32]);

using kdf_fn = void (*)(const uint8_t *pw, size_t pw_len, const uint8_t *salt,
                        size_t salt_len, uint32_t iterations, uint8_t *out,
                        size_t out_len);
void ours_pbkdf2(const uint8_t *pw, size_t pw_len, const uint8_t *salt,
                 size_t salt_len, uint32_t iterations, uint8_t *out,
                 size_t out_len);
void openssl_pbkdf2(const uint8_t *pw, size_t pw_len, const uint8_t *salt,
                    size_t salt_len, uint32_t iterations, uint8_t *out,
                    size_t out_len);

// ---- Base64 -------------------------------------------------------------

// Encoders write NUL-terminated text into out (capacity checked by the
// caller) and return its length. Decoders take text of known length (also
// NUL-terminated) and return the decoded byte count.
using encode_fn = size_t (*)(const uint8_t *data, size_t len, char *out,
                             size_t out_size);
using decode_fn = size_t (*)(const char *text, size_t len, uint8_t *out,
                             size_t out_size);
size_t ours_b64_encode(const uint8_t *data, size_t len, char *out, size_t out_size);
size_t ours_b64url_encode(const uint8_t *data, size_t len, char *out, size_t out_size);
size_t ours_b64_decode(const char *text, size_t len, uint8_t *out, size_t out_size);
size_t ours_b64url_decode(const char *text, size_t len, uint8_t *out, size_t out_size);
size_t openssl_b64_encode(const uint8_t *data, size_t len, char *out, size_t out_size);
size_t openssl_b64url_encode(const uint8_t *data, size_t len, char *out, size_t out_size);
size_t openssl_b64_decode(const char *text, size_t len, uint8_t *out, size_t out_size);
size_t openssl_b64url_decode(const char *text, size_t len, uint8_t *out, size_t out_size);

// ---- UUIDs --------------------------------------------------------------

using uuid_fn = void (*)(char out[37]);
void ours_uuid(char out[37]);
void libuuid_uuid(char out[37]);

// ---- Tokens -------------------------------------------------------------

// What a verifier hands back, in buffers of the sizes our API uses. nbf is
// filled by the libjwt verifier only (-1 when absent); ours checks it but
// does not return it.
struct verified {
    char sub[64];
    char email[128];
    int64_t exp;
    int64_t nbf;
};

// Mints a token for claims(); the text is valid until the next call of the
// same function.
using mint_fn = const char *(*)();
const char *ours_mint();
// The same through the reentrant functions (interface 1.1).
const char *ours_mint_r();
// The same under a key prepared once (interface 1.2).
const char *ours_mint_k();
const char *libjwt_mint();
// Checks signature, issuer, expiry and not-before as our verifier does, and
// copies sub and email out. false when the token is refused.
using verify_fn = bool (*)(const char *token, verified *v);
bool ours_verify(const char *token, verified *v);
bool ours_verify_r(const char *token, verified *v);
bool ours_verify_k(const char *token, verified *v);
bool libjwt_verify(const char *token, verified *v);
// Four prepared keys, the benchmark's secret last (null if one failed).
const keldo_jwt_key *ring_of_four();

// ---- Set-up -------------------------------------------------------------

// Prefetches what the peers reuse between calls (OpenSSL's EVP_MD) and
// initialises libsodium. false with a message on stderr when that fails.
bool init_peers();
// Runs every peer once on the benchmarked inputs and compares its output
// with ours. false with a message on stderr at the first difference.
bool check_peers();

// The "model name" line of /proc/cpuinfo, for the report's header.
std::string cpu_model();

}  // namespace bench
