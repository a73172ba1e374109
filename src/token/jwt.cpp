// HS256 JSON Web Tokens (RFC 7519, RFC 7515 compact form) with a fixed
// claim set: sub, email, iss = "keldo", exp, nbf.
#include "jwt.h"

#include <yyjson.h>

#include <cstdlib>
#include <cstring>

#include "codec/base64.h"
#include "api/crypto_api.h"
#include "keldo_crypto.h"
#include "platform/platform.h"
#include "hash/hmac.h"
#include "hash/sha256.h"
#include "platform/ct_check.h"
#include "platform/wipe.h"

namespace {

// Receives each minted token; the previous one stays until a call succeeds.
char s_mint_buf[4096];

// base64url of {"alg":"HS256","typ":"JWT"}.
constexpr char header_b64url[] = "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9";
constexpr size_t kHeaderLen = sizeof header_b64url - 1;
constexpr char kIssuer[] = "keldo";
constexpr size_t kIssuerLen = sizeof kIssuer - 1;

constexpr uint64_t kPayloadSegmentCapacity = 2048;  // 2047 characters and a NUL
constexpr uint64_t kSignatureCapacity = 128;
constexpr size_t kMaxPayloadSegment = 2047;
constexpr int64_t kNotBeforeLeeway = 60;
constexpr size_t kSubCapacity = 64;
constexpr size_t kEmailCapacity = 128;
constexpr size_t kSignatureLen = 43;  // 32 bytes in base64url without padding

// The header's bound: the longest payload segment the encoder's capacity
// lets through, between the header and the signature, and the terminator.
static_assert(KELDO_JWT_TOKEN_MAX ==
              kHeaderLen + 1 + (kPayloadSegmentCapacity - 1) + 1 + kSignatureLen + 1);
static_assert(KELDO_JWT_TOKEN_MAX <= sizeof s_mint_buf);

}  // namespace

namespace {

// The private words of keldo_jwt_key: a tag that marks it ready, then the
// keyed inner and outer HMAC states (hmac_sha256_key). A zeroed, wiped or
// never-initialised key lacks the tag (garbage matches it with odds of
// 2^-64); the tag is public, the states are secret.
constexpr uint64_t kKeyReady = 0x6b656c646f6a776bull;  // "keldojwk"
constexpr size_t kKeyStatesWord = 1;
static_assert(sizeof(keldo_jwt_key) == KELDO_JWT_KEY_SIZE);
static_assert(sizeof(uint64_t) * kKeyStatesWord + sizeof(hmac_sha256_key) <=
              sizeof(keldo_jwt_key));

bool key_ready(const keldo_jwt_key *key) { return key->opaque_[0] == kKeyReady; }

void key_hmac(const keldo_jwt_key *key, const void *data, size_t len, uint8_t out[32]) {
    hmac_sha256_prepared_bytes(
        reinterpret_cast<const unsigned char *>(&key->opaque_[kKeyStatesWord]), data, len,
        out);
}

}  // namespace

void jwt_key_prepare(keldo_jwt_key *key, const void *secret, uint64_t secret_len) {
    hmac_sha256_key hk;
    hmac_sha256_prepare(&hk, secret, secret_len);
    memcpy(&key->opaque_[kKeyStatesWord], &hk, sizeof hk);
    secure_wipe(&hk, sizeof hk);
    key->opaque_[0] = kKeyReady;
}

void jwt_key_wipe(keldo_jwt_key *key) { secure_wipe(key, sizeof *key); }

int32_t jwt_mint_core(const void *secret, uint64_t secret_len, const char *sub,
                      const char *email, uint32_t ttl_seconds, char *out,
                      uint64_t out_size, uint64_t *token_size) {
    keldo_jwt_key key;
    jwt_key_prepare(&key, secret, secret_len);
    const int32_t status = jwt_mint_key(&key, sub, email, ttl_seconds, out, out_size,
                                        token_size);
    jwt_key_wipe(&key);
    return status;
}

int32_t jwt_mint_key(const keldo_jwt_key *key, const char *sub, const char *email,
                     uint32_t ttl_seconds, char *out, uint64_t out_size,
                     uint64_t *token_size) {
    if (!key_ready(key)) return KELDO_E_KEY_NOT_INITIALISED;
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    if (doc == nullptr) return KELDO_E_MINT_DOCUMENT;
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    const int64_t now = platform_unix_time();
    // Unsigned addition: a clock near the top of the range wraps instead of
    // overflowing (only a test clock gets there).
    const int64_t exp = int64_t(uint64_t(now) + ttl_seconds);

    // A null root is left to the writer, which refuses it; an append that
    // fails must not yield a token that lacks a claim.
    bool built = true;
    if (root != nullptr) {
        built &= yyjson_mut_obj_add_str(doc, root, "sub", sub);
        built &= yyjson_mut_obj_add_str(doc, root, "email", email);
        built &= yyjson_mut_obj_add_str(doc, root, "iss", kIssuer);
        built &= yyjson_mut_obj_add_sint(doc, root, "exp", exp);
        built &= yyjson_mut_obj_add_sint(doc, root, "nbf", now);
    }
    size_t json_len = 0;
    char *json = built ? yyjson_mut_write_opts(doc, 0, nullptr, &json_len, nullptr)
                       : nullptr;
    yyjson_mut_doc_free(doc);
    if (!built) return KELDO_E_MINT_BUILD;
    if (json == nullptr) return KELDO_E_MINT_SERIALIZE;

    // The signing input is assembled once, header then payload encoded in
    // place; the encoder's capacity test is the payload size limit.
    char signing_input[3072];
    memcpy(signing_input, header_b64url, kHeaderLen);
    signing_input[kHeaderLen] = '.';
    char *payload = signing_input + kHeaderLen + 1;
    int32_t rc = base64_encode(json, json_len, payload, kPayloadSegmentCapacity, 1);
    free(json);
    if (rc != 0) return KELDO_E_CLAIMS_TOO_LONG;
    const size_t signing_len = kHeaderLen + 1 + strlen(payload);

    uint8_t digest[32];
    key_hmac(key, signing_input, signing_len, digest);
    char signature[kSignatureCapacity];
    if (base64_encode(digest, sizeof digest, signature, sizeof signature, 1) != 0)
        return KELDO_E_MINT_SIGNATURE;
    const size_t signature_size = strlen(signature) + 1;
    const uint64_t needed = signing_len + 1 + signature_size;
    if (token_size != nullptr) *token_size = needed;
    if (out_size < needed) return KELDO_E_TOKEN_BUFFER_TOO_SMALL;
    memcpy(out, signing_input, signing_len);
    out[signing_len] = '.';
    memcpy(out + signing_len + 1, signature, signature_size);
    return KELDO_OK;
}

const char *jwt_mint(const char *secret, const char *sub, const char *email,
                     uint32_t ttl_seconds) {
    const int32_t rc =
        sub == nullptr || email == nullptr || secret == nullptr
            ? KELDO_E_MINT_NULL_ARGUMENT
            : jwt_mint_core(secret, strlen(secret), sub, email, ttl_seconds, s_mint_buf,
                            sizeof s_mint_buf, nullptr);
    if (rc != KELDO_OK) {
        keldo_set_error(keldo_crypto_status_text(rc));
        return nullptr;
    }
    return s_mint_buf;
}

namespace {

bool is_string(yyjson_val *v) { return v != nullptr && yyjson_is_str(v); }
bool is_integer(yyjson_val *v) { return v != nullptr && yyjson_is_int(v); }

// A claim text that comes back whole: shorter than its buffer and without an
// embedded NUL, which would cut the copy short.
bool fits_whole(yyjson_val *v, size_t capacity) {
    size_t len = yyjson_get_len(v);
    return len < capacity && memchr(yyjson_get_str(v), 0, len) == nullptr;
}

void copy_claim(char *out, yyjson_val *v) {
    memcpy(out, yyjson_get_str(v), yyjson_get_len(v) + 1);
}

// "nbf" - 60 > now, as the exact comparison (no overflow at either end).
bool not_yet_valid(int64_t nbf, int64_t now) {
    return nbf > now && uint64_t(nbf) - uint64_t(now) > uint64_t(kNotBeforeLeeway);
}

// The five claims of the root object, found in one walk over its members.
struct claim_members {
    yyjson_val *iss = nullptr, *exp = nullptr, *nbf = nullptr, *sub = nullptr,
               *email = nullptr;
};

bool key_is(yyjson_val *key, const char *name, size_t len) {
    return yyjson_get_len(key) == len && memcmp(yyjson_get_str(key), name, len) == 0;
}

uint32_t name_hash(yyjson_val *key) {
    uint32_t h = 2166136261u;  // FNV-1a
    const unsigned char *p = reinterpret_cast<const unsigned char *>(yyjson_get_str(key));
    for (size_t i = 0, n = yyjson_get_len(key); i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

// A member name that appears twice is refused outright: readers that take
// the first occurrence and readers that take the last (PyJWT, jose) would
// otherwise see different claims in the same signed token. A usual payload
// has a handful of members, compared pairwise; a larger one goes through a
// hash table on the stack. The decoded payload is at most 1535 bytes, so
// the root has fewer than 310 members ("":0, is five bytes): 512 slots hold
// them all.
constexpr size_t kPairwiseMembers = 16;
constexpr size_t kNameSlots = 512;

bool same_name(yyjson_val *a, yyjson_val *b) {
    return key_is(a, yyjson_get_str(b), yyjson_get_len(b));
}

bool names_unique(yyjson_val *root) {
    const size_t n = yyjson_obj_size(root);
    yyjson_val *key = nullptr, *val = nullptr;
    size_t idx = 0, max = 0;
    if (n <= kPairwiseMembers) {
        yyjson_val *seen[kPairwiseMembers];
        yyjson_obj_foreach(root, idx, max, key, val) {
            for (size_t j = 0; j < idx; ++j)
                if (same_name(seen[j], key)) return false;
            seen[idx] = key;
        }
        return true;
    }
    if (n > kNameSlots / 2) return false;  // cannot happen (see above)
    yyjson_val *slots[kNameSlots] = {};
    yyjson_obj_foreach(root, idx, max, key, val) {
        for (size_t h = name_hash(key) % kNameSlots;; h = (h + 1) % kNameSlots) {
            if (slots[h] == nullptr) {
                slots[h] = key;
                break;
            }
            if (same_name(slots[h], key)) return false;
        }
    }
    return true;
}

bool find_claims(yyjson_val *root, claim_members *c) {
    if (!names_unique(root)) return false;
    size_t idx = 0, max = 0;
    yyjson_val *key = nullptr, *val = nullptr;
    yyjson_obj_foreach(root, idx, max, key, val) {
        switch (yyjson_get_len(key)) {
            case 3:
                if (key_is(key, "iss", 3)) c->iss = val;
                else if (key_is(key, "exp", 3)) c->exp = val;
                else if (key_is(key, "nbf", 3)) c->nbf = val;
                else if (key_is(key, "sub", 3)) c->sub = val;
                break;
            case 5:
                if (key_is(key, "email", 5)) c->email = val;
                break;
            default:
                break;
        }
    }
    return true;
}

// An nbf the clock has not reached, leeway included. An integer at or
// above 2^63, or a number that yyjson could only read as a real that large
// (an integer literal beyond 64 bits), lies beyond any clock.
bool nbf_in_future(yyjson_val *nbf, int64_t now) {
    if (nbf == nullptr) return false;
    if (yyjson_is_uint(nbf) && yyjson_get_uint(nbf) > uint64_t(INT64_MAX)) return true;
    if (yyjson_is_real(nbf)) return yyjson_get_real(nbf) >= 9223372036854775808.0;
    return yyjson_is_int(nbf) && not_yet_valid(yyjson_get_sint(nbf), now);
}

// The claim checks in their fixed order. Returns the refusal, or KELDO_OK
// with the outputs written. The thirteen-interface verify has always handed
// back the subject when only the e-mail claim is refused (sub_on_email_refusal).
int32_t check_claims(yyjson_doc *doc, char *sub_out, char *email_out, int64_t *exp_out,
                     bool sub_on_email_refusal) {
    yyjson_val *root = yyjson_doc_get_root(doc);
    if (root == nullptr || !yyjson_is_obj(root)) return KELDO_E_PAYLOAD_NOT_OBJECT;
    claim_members c;
    if (!find_claims(root, &c)) return KELDO_E_PAYLOAD_JSON;

    yyjson_val *iss = c.iss;
    if (!is_string(iss) || yyjson_get_len(iss) != kIssuerLen ||
        memcmp(yyjson_get_str(iss), kIssuer, kIssuerLen) != 0)
        return KELDO_E_ISS_CLAIM;

    if (!is_integer(c.exp)) return KELDO_E_MISSING_EXP;
    // 2^63 and above read as negative: such a token is expired.
    const int64_t exp = yyjson_get_sint(c.exp);

    const int64_t now = platform_unix_time();
    if (now > exp) return KELDO_E_EXPIRED;

    if (nbf_in_future(c.nbf, now)) return KELDO_E_NOT_YET_VALID;

    yyjson_val *sub = c.sub;
    if (!is_string(sub)) return KELDO_E_MISSING_SUB;
    if (!fits_whole(sub, kSubCapacity)) return KELDO_E_INVALID_SUB;

    yyjson_val *email = c.email;
    const int32_t email_status = !is_string(email)                    ? KELDO_E_MISSING_EMAIL
                                 : !fits_whole(email, kEmailCapacity) ? KELDO_E_INVALID_EMAIL
                                                                      : KELDO_OK;
    if (email_status != KELDO_OK && !sub_on_email_refusal) return email_status;
    if (sub_out != nullptr) copy_claim(sub_out, sub);
    if (email_status != KELDO_OK) return email_status;
    if (email_out != nullptr) copy_claim(email_out, email);
    if (exp_out != nullptr) *exp_out = exp;
    return KELDO_OK;
}

int32_t refuse(int32_t status) {
    keldo_set_error(keldo_crypto_status_text(status));
    return -1;
}

}  // namespace

namespace {

// HMAC of the signing input under each prepared key in turn, until one
// matches the decoded signature. Each comparison takes the same time
// wherever the bytes differ; stopping at the match tells only the position.
bool find_signing_key(const keldo_jwt_key *keys, uint32_t key_count,
                      const char *signing_input, size_t signing_len,
                      const uint8_t signature[32], uint32_t *matched) {
    uint8_t digest[32];
    bool found = false;
    for (uint32_t i = 0; i < key_count && !found; ++i) {
        key_hmac(&keys[i], signing_input, signing_len, digest);
        found = keldo_ct_public(keldo_crypto_secure_compare(digest, signature, 32)) == 0;
        *matched = i;
    }
    // The expected signature stays secret whatever the verdict.
    secure_wipe(digest, sizeof digest);
    return found;
}

// The one verifier: structure, the signature under the keys, then the
// payload once, whichever key matched.
int32_t verify_under(const keldo_jwt_key *keys, uint32_t key_count,
                     const char *token, char *sub_out, char *email_out, int64_t *exp_out,
                     uint32_t *key_index_out, bool sub_on_email_refusal) {
    const char *dot1 = strchr(token, '.');
    if (dot1 == nullptr) return KELDO_E_MISSING_FIRST_DOT;
    const char *dot2 = strchr(dot1 + 1, '.');
    if (dot2 == nullptr) return KELDO_E_MISSING_SECOND_DOT;
    const char *signature = dot2 + 1;
    if (strchr(signature, '.') != nullptr) return KELDO_E_EXTRA_SEGMENTS;

    // The signature is settled before any payload byte is decoded.
    uint8_t decoded_sig[64];
    uint64_t sig_len = 0;
    const bool well_formed =
        base64_decode(signature, decoded_sig, sizeof decoded_sig, &sig_len, 1) == 0 &&
        sig_len == 32;
    uint32_t matched = 0;
    const bool authentic = well_formed && find_signing_key(keys, key_count, token,
                                                           size_t(dot2 - token),
                                                           decoded_sig, &matched);
    secure_wipe(decoded_sig, sizeof decoded_sig);
    if (!well_formed) return KELDO_E_SIGNATURE_FORMAT;
    if (!authentic) return KELDO_E_BAD_SIGNATURE;

    const char *payload = dot1 + 1;
    const size_t payload_len = size_t(dot2 - payload);
    if (payload_len > kMaxPayloadSegment) return KELDO_E_PAYLOAD_TOO_LONG;
    // Decoded straight from the token: the segment ends at the second dot.
    uint8_t json[2048];
    uint64_t json_len = 0;
    if (base64_decode_n(payload, payload_len, json, sizeof json - 1, &json_len, 1) != 0)
        return KELDO_E_PAYLOAD_BASE64;
    json[json_len] = '\0';

    yyjson_doc *doc = yyjson_read_opts(reinterpret_cast<char *>(json), size_t(json_len),
                                       0, nullptr, nullptr);
    if (doc == nullptr) return KELDO_E_PAYLOAD_JSON;
    const int32_t status =
        check_claims(doc, sub_out, email_out, exp_out, sub_on_email_refusal);
    yyjson_doc_free(doc);
    if (status == KELDO_OK && key_index_out != nullptr) *key_index_out = matched;
    return status;
}

}  // namespace

int32_t jwt_verify_core(const void *secret, uint64_t secret_len, const char *token,
                        char *sub_out, char *email_out, int64_t *exp_out,
                        bool sub_on_email_refusal) {
    keldo_jwt_key key;
    jwt_key_prepare(&key, secret, secret_len);
    const int32_t status = verify_under(&key, 1, token, sub_out, email_out, exp_out,
                                        nullptr, sub_on_email_refusal);
    jwt_key_wipe(&key);
    return status;
}

int32_t jwt_verify_keys(const keldo_jwt_key *keys, uint32_t key_count, const char *token,
                        char *sub_out, char *email_out, int64_t *exp_out,
                        uint32_t *key_index_out) {
    if (key_count == 0 || key_count > KELDO_JWT_KEYS_MAX) return KELDO_E_KEY_COUNT;
    for (uint32_t i = 0; i < key_count; ++i)
        if (!key_ready(&keys[i])) return KELDO_E_KEY_NOT_INITIALISED;
    return verify_under(keys, key_count, token, sub_out, email_out, exp_out, key_index_out,
                        false);
}

int32_t jwt_verify(const char *secret, const char *token, char *sub_out,
                   char *email_out, int64_t *exp_out) {
    if (secret == nullptr || token == nullptr) return refuse(KELDO_E_VERIFY_NULL_ARGUMENT);
    const int32_t status =
        jwt_verify_core(secret, strlen(secret), token, sub_out, email_out, exp_out, true);
    return status == KELDO_OK ? 0 : refuse(status);
}
