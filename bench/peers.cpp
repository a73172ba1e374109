#include "peers.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <jwt.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <sodium.h>
#include <uuid/uuid.h>

#include "keldo_crypto.h"

namespace bench {

namespace {

EVP_MD *s_evp_sha256 = nullptr;  // fetched once, as a careful caller would

constexpr char kSecret[] = "bench-secret-0123456789abcdefghi";
constexpr char kSub[] = "5f3c1a2e-8b4d-4e6f-9a7b-0c1d2e3f4a5b";
constexpr char kEmail[] = "jane.doe@example.com";
static_assert(sizeof kSecret - 1 == 32 && sizeof kSub - 1 == 36 &&
              sizeof kEmail - 1 == 20);

int to_int(size_t n) {
    if (n > size_t(INT_MAX)) {
        fprintf(stderr, "keldo_bench: input of %zu bytes too long for OpenSSL\n", n);
        abort();
    }
    return int(n);
}

// Scratch text for the base64url translations around OpenSSL's codec; grows
// once to the largest input and is then reused.
char *scratch(size_t n) {
    static std::vector<char> buf;
    if (buf.size() < n) buf.resize(n);
    return buf.data();
}

}  // namespace

const token_claims &claims() {
    static const token_claims c{kSecret, kSub, kEmail, 86400};
    return c;
}

// ---- Hashing ------------------------------------------------------------

void ours_sha256(const uint8_t *data, size_t len, uint8_t out[32]) {
    keldo_crypto_sha256(data, len, out);
}

void openssl_sha256(const uint8_t *data, size_t len, uint8_t out[32]) {
    SHA256(data, len, out);
}

void openssl_evp_sha256(const uint8_t *data, size_t len, uint8_t out[32]) {
    EVP_Digest(data, len, out, nullptr, s_evp_sha256, nullptr);
}

void sodium_sha256(const uint8_t *data, size_t len, uint8_t out[32]) {
    crypto_hash_sha256(out, data, len);
}

void ours_hmac(const uint8_t key[32], const uint8_t *msg, size_t len,
               uint8_t out[32]) {
    keldo_crypto_hmac_sha256(key, 32, msg, len, out);
}

void openssl_hmac(const uint8_t key[32], const uint8_t *msg, size_t len,
                  uint8_t out[32]) {
    unsigned int out_len = 0;
    HMAC(EVP_sha256(), key, 32, msg, len, out, &out_len);
}

void sodium_hmac(const uint8_t key[32], const uint8_t *msg, size_t len,
                 uint8_t out[32]) {
    crypto_auth_hmacsha256(out, msg, len, key);
}

void ours_pbkdf2(const uint8_t *pw, size_t pw_len, const uint8_t *salt,
                 size_t salt_len, uint32_t iterations, uint8_t *out,
                 size_t out_len) {
    keldo_crypto_pbkdf2_sha256(pw, pw_len, salt, salt_len, iterations, out, out_len);
}

void openssl_pbkdf2(const uint8_t *pw, size_t pw_len, const uint8_t *salt,
                    size_t salt_len, uint32_t iterations, uint8_t *out,
                    size_t out_len) {
    PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(pw), to_int(pw_len), salt,
                      to_int(salt_len), to_int(iterations), EVP_sha256(),
                      to_int(out_len), out);
}

// ---- Base64 -------------------------------------------------------------

size_t ours_b64_encode(const uint8_t *data, size_t len, char *out, size_t out_size) {
    if (keldo_crypto_base64_encode(data, len, out, out_size) != 0) return 0;
    return strlen(out);
}

size_t ours_b64url_encode(const uint8_t *data, size_t len, char *out, size_t out_size) {
    if (keldo_crypto_base64url_encode(data, len, out, out_size) != 0) return 0;
    return strlen(out);
}

size_t ours_b64_decode(const char *text, size_t, uint8_t *out, size_t out_size) {
    uint64_t n = 0;
    if (keldo_crypto_base64_decode(text, out, out_size, &n) != 0) return 0;
    return size_t(n);
}

size_t ours_b64url_decode(const char *text, size_t, uint8_t *out, size_t out_size) {
    uint64_t n = 0;
    if (keldo_crypto_base64url_decode(text, out, out_size, &n) != 0) return 0;
    return size_t(n);
}

size_t openssl_b64_encode(const uint8_t *data, size_t len, char *out, size_t) {
    return size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out), data,
                                  to_int(len)));
}

// OpenSSL has no base64url: its standard text, then the alphabet swapped and
// the padding dropped, in place.
size_t openssl_b64url_encode(const uint8_t *data, size_t len, char *out, size_t) {
    size_t n = size_t(EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out), data,
                                      to_int(len)));
    // Written as two selects so the compiler vectorises it: the peer should
    // not pay for a slow loop of ours.
    for (size_t i = 0; i < n; ++i) {
        char c = out[i];
        c = c == '+' ? '-' : c;
        c = c == '/' ? '_' : c;
        out[i] = c;
    }
    while (n > 0 && out[n - 1] == '=') --n;
    out[n] = '\0';
    return n;
}

// EVP_DecodeBlock counts the bytes that '=' padding stands for as output;
// the real length drops one per '='.
size_t openssl_b64_decode(const char *text, size_t len, uint8_t *out, size_t) {
    int n = EVP_DecodeBlock(out, reinterpret_cast<const unsigned char *>(text),
                            to_int(len));
    if (n < 0) return 0;
    size_t pads = 0;
    while (pads < 2 && pads < len && text[len - 1 - pads] == '=') ++pads;
    return size_t(n) - pads;
}

// The reverse of openssl_b64url_encode: the alphabet swapped back and the
// padding restored in a copy, then OpenSSL's decoder.
size_t openssl_b64url_decode(const char *text, size_t len, uint8_t *out, size_t) {
    size_t padded = (len + 3) / 4 * 4;
    char *t = scratch(padded);
    for (size_t i = 0; i < len; ++i) {
        char c = text[i];
        c = c == '-' ? '+' : c;
        c = c == '_' ? '/' : c;
        t[i] = c;
    }
    for (size_t i = len; i < padded; ++i) t[i] = '=';
    int n = EVP_DecodeBlock(out, reinterpret_cast<const unsigned char *>(t),
                            to_int(padded));
    if (n < 0) return 0;
    return size_t(n) - (padded - len);
}

// ---- UUIDs --------------------------------------------------------------

void ours_uuid(char out[37]) { keldo_crypto_uuid_generate(out); }

void libuuid_uuid(char out[37]) {
    uuid_t u;
    uuid_generate_random(u);
    uuid_unparse_lower(u, out);
}

// ---- Tokens -------------------------------------------------------------

const char *ours_mint() {
    const token_claims &c = claims();
    return keldo_jwt_mint(c.secret, c.sub, c.email, c.ttl_seconds);
}

bool ours_verify(const char *token, verified *v) {
    return keldo_jwt_verify(claims().secret, token, v->sub, v->email, &v->exp) == 0;
}

// A host of the reentrant functions holds its key with its length.
const char *ours_mint_r() {
    static char token[KELDO_JWT_TOKEN_MAX];
    static const size_t secret_len = strlen(claims().secret);
    const token_claims &c = claims();
    return keldo_jwt_mint_r(c.secret, secret_len, c.sub, c.email, c.ttl_seconds, token,
                            sizeof token, nullptr) == KELDO_OK
               ? token
               : nullptr;
}

bool ours_verify_r(const char *token, verified *v) {
    static const size_t secret_len = strlen(claims().secret);
    return keldo_jwt_verify_r(claims().secret, secret_len, token, v->sub, v->email,
                              &v->exp) == KELDO_OK;
}

// A host of interface 1.2 prepares its key once, at start-up.
namespace {
const keldo_jwt_key *prepared_key() {
    static const keldo_jwt_key *key = [] {
        static keldo_jwt_key k;
        const char *secret = claims().secret;
        return keldo_jwt_key_init(&k, secret, strlen(secret)) == KELDO_OK ? &k : nullptr;
    }();
    return key;
}
}  // namespace

const char *ours_mint_k() {
    static char token[KELDO_JWT_TOKEN_MAX];
    const token_claims &c = claims();
    return keldo_jwt_mint_k(prepared_key(), c.sub, c.email, c.ttl_seconds, token,
                            sizeof token, nullptr) == KELDO_OK
               ? token
               : nullptr;
}

bool ours_verify_k(const char *token, verified *v) {
    return keldo_jwt_verify_k(prepared_key(), 1, token, v->sub, v->email, &v->exp,
                              nullptr) == KELDO_OK;
}

const keldo_jwt_key *ring_of_four() {
    static const keldo_jwt_key *ring = [] {
        static keldo_jwt_key keys[4];
        const char *secret = claims().secret;
        // The benchmark's secret is the fourth key: its tokens are found last.
        const char *others[3] = {"current secret", "previous secret", "older secret"};
        for (int i = 0; i < 3; ++i)
            if (keldo_jwt_key_init(&keys[i], others[i], strlen(others[i])) != KELDO_OK)
                return static_cast<const keldo_jwt_key *>(nullptr);
        return keldo_jwt_key_init(&keys[3], secret, strlen(secret)) == KELDO_OK
                   ? static_cast<const keldo_jwt_key *>(keys)
                   : nullptr;
    }();
    return ring;
}

// The same claims in the same order, HS256 under the same secret; the
// returned text is libjwt's own and is freed by the next call.
const char *libjwt_mint() {
    static char *s_last = nullptr;
    free(s_last);
    s_last = nullptr;
    const token_claims &c = claims();
    jwt_t *jwt = nullptr;
    if (jwt_new(&jwt) != 0) return nullptr;
    const time_t now = time(nullptr);
    if (jwt_set_alg(jwt, JWT_ALG_HS256, reinterpret_cast<const unsigned char *>(c.secret),
                    int(strlen(c.secret))) == 0 &&
        jwt_add_grant(jwt, "sub", c.sub) == 0 &&
        jwt_add_grant(jwt, "email", c.email) == 0 &&
        jwt_add_grant(jwt, "iss", "keldo") == 0 &&
        jwt_add_grant_int(jwt, "exp", long(now) + long(c.ttl_seconds)) == 0 &&
        jwt_add_grant_int(jwt, "nbf", long(now)) == 0)
        s_last = jwt_encode_str(jwt);
    jwt_free(jwt);
    return s_last;
}

// jwt_decode checks the signature; the claim checks are the caller's, done
// here as our verifier does them (same order, same 60 s not-before leeway).
bool libjwt_verify(const char *token, verified *v) {
    const token_claims &c = claims();
    jwt_t *jwt = nullptr;
    if (jwt_decode(&jwt, token, reinterpret_cast<const unsigned char *>(c.secret),
                   int(strlen(c.secret))) != 0)
        return false;
    bool ok = false;
    do {
        if (jwt_get_alg(jwt) != JWT_ALG_HS256) break;
        const char *iss = jwt_get_grant(jwt, "iss");
        if (iss == nullptr || strcmp(iss, "keldo") != 0) break;
        errno = 0;
        long exp = jwt_get_grant_int(jwt, "exp");
        if (errno != 0) break;
        const long now = long(time(nullptr));
        if (now > exp) break;
        errno = 0;
        long nbf = jwt_get_grant_int(jwt, "nbf");
        const bool has_nbf = errno == 0;
        if (has_nbf && nbf - 60 > now) break;
        const char *sub = jwt_get_grant(jwt, "sub");
        if (sub == nullptr) break;
        const char *email = jwt_get_grant(jwt, "email");
        if (email == nullptr) break;
        snprintf(v->sub, sizeof v->sub, "%s", sub);
        snprintf(v->email, sizeof v->email, "%s", email);
        v->exp = exp;
        v->nbf = has_nbf ? nbf : -1;
        ok = true;
    } while (false);
    jwt_free(jwt);
    return ok;
}

// ---- Set-up -------------------------------------------------------------

bool init_peers() {
    if (sodium_init() < 0) {
        fprintf(stderr, "keldo_bench: sodium_init failed\n");
        return false;
    }
    s_evp_sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (s_evp_sha256 == nullptr) {
        fprintf(stderr, "keldo_bench: EVP_MD_fetch(SHA256) failed\n");
        return false;
    }
    return true;
}

}  // namespace bench
