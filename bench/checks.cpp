// Before anything is timed, every peer runs once on each benchmarked input
// and must produce what this library produces: a ratio between different
// work would mean nothing.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "peers.h"

namespace bench {

namespace {

bool fail(const std::string &what) {
    fprintf(stderr, "keldo_bench: peer check failed: %s\n", what.c_str());
    return false;
}

bool check_digests(const char *op, const char *size, const char *peer,
                   const uint8_t ours[32], const uint8_t theirs[32]) {
    if (memcmp(ours, theirs, 32) == 0) return true;
    return fail(std::string(op) + " of " + size + ": " + peer +
                " gives a different digest from ours");
}

bool check_hashes() {
    const std::vector<uint8_t> &data = fixed_data();
    const struct {
        const char *name;
        digest_fn fn;
    } peers[] = {{"OpenSSL SHA256()", openssl_sha256},
                 {"OpenSSL EVP_Digest", openssl_evp_sha256},
                 {"libsodium crypto_hash_sha256", sodium_sha256}};
    for (const sized &s : kSha256Sizes) {
        uint8_t ours[32], theirs[32];
        ours_sha256(data.data(), s.len, ours);
        for (const auto &p : peers) {
            memset(theirs, 0, sizeof theirs);
            p.fn(data.data(), s.len, theirs);
            if (!check_digests("SHA-256", s.name, p.name, ours, theirs)) return false;
        }
    }

    const uint8_t *key = data.data() + 4096;
    const uint8_t *msg = data.data() + 8192;
    uint8_t ours[32], theirs[32];
    ours_hmac(key, msg, kHmacMessageLen, ours);
    const struct {
        const char *name;
        mac_fn fn;
    } macs[] = {{"OpenSSL HMAC()", openssl_hmac},
                {"libsodium crypto_auth_hmacsha256", sodium_hmac}};
    for (const auto &p : macs) {
        memset(theirs, 0, sizeof theirs);
        p.fn(key, msg, kHmacMessageLen, theirs);
        if (!check_digests("HMAC-SHA256", "100 B", p.name, ours, theirs)) return false;
    }
    return true;
}

bool check_pbkdf2() {
    const std::vector<uint8_t> &data = fixed_data();
    const uint8_t *salt = data.data() + 12288;
    const struct {
        const char *name;
        size_t pw_len;
        uint32_t iterations;
        size_t out_len;
    } cases[] = {
        {"32 B output", kPbkdf2PasswordLen, kPbkdf2Iterations, 32},
        {"64 B output", kPbkdf2PasswordLen, kPbkdf2Iterations, 64},
        {"32 B output, 1 MiB password", kPbkdf2LongPasswordLen,
         kPbkdf2LongPasswordIterations, 32},
    };
    for (const auto &c : cases) {
        uint8_t ours[64] = {}, theirs[64] = {};
        ours_pbkdf2(data.data(), c.pw_len, salt, kPbkdf2SaltLen, c.iterations, ours,
                    c.out_len);
        openssl_pbkdf2(data.data(), c.pw_len, salt, kPbkdf2SaltLen, c.iterations,
                       theirs, c.out_len);
        if (memcmp(ours, theirs, c.out_len) != 0)
            return fail(std::string("PBKDF2-HMAC-SHA256, ") + c.name +
                        ": OpenSSL PKCS5_PBKDF2_HMAC gives different bytes from ours");
    }
    return true;
}

bool check_base64() {
    const std::vector<uint8_t> &data = fixed_data();
    const struct {
        const char *name;
        encode_fn ours_enc, peer_enc;
        decode_fn ours_dec, peer_dec;
    } codecs[] = {
        {"base64", ours_b64_encode, openssl_b64_encode, ours_b64_decode,
         openssl_b64_decode},
        {"base64url", ours_b64url_encode, openssl_b64url_encode, ours_b64url_decode,
         openssl_b64url_decode},
    };
    for (const auto &c : codecs) {
        for (const sized &s : kBase64Sizes) {
            for (size_t k = 0; k < base64_inputs(s.len); ++k) {
                const std::string where = std::string(c.name) + " of " + s.name +
                                          " (input " + std::to_string(k) + ")";
                const uint8_t *in = data.data() + k * s.len;
                std::vector<char> ours(s.len / 3 * 4 + 8), theirs(ours.size(), 'x');
                const size_t text_len = c.ours_enc(in, s.len, ours.data(), ours.size());
                const size_t m = c.peer_enc(in, s.len, theirs.data(), theirs.size());
                if (text_len == 0 || m != text_len ||
                    memcmp(ours.data(), theirs.data(), text_len + 1) != 0)
                    return fail(where + ": OpenSSL EVP_EncodeBlock gives different text from ours");

                std::vector<uint8_t> a(s.len + 8), b(s.len + 8, 0xAA);
                if (c.ours_dec(ours.data(), text_len, a.data(), a.size()) != s.len ||
                    memcmp(a.data(), in, s.len) != 0)
                    return fail(where + ": our decoder does not give the input back");
                if (c.peer_dec(ours.data(), text_len, b.data(), b.size()) != s.len ||
                    memcmp(b.data(), in, s.len) != 0)
                    return fail(where + ": OpenSSL EVP_DecodeBlock does not give the input back");
            }
        }
    }
    return true;
}

bool is_v4_uuid_text(const char *u) {
    if (strlen(u) != 36) return false;
    for (size_t i = 0; i < 36; ++i) {
        const char c = u[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return false;
        } else if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return u[14] == '4' && strchr("89ab", u[19]) != nullptr;
}

bool check_uuids() {
    const struct {
        const char *name;
        uuid_fn fn;
    } gens[] = {{"ours", ours_uuid}, {"libuuid", libuuid_uuid}};
    for (const auto &g : gens) {
        char a[37] = {}, b[37] = {};
        g.fn(a);
        g.fn(b);
        if (!is_v4_uuid_text(a) || !is_v4_uuid_text(b))
            return fail(std::string("UUID: ") + g.name +
                        " does not give 36 lowercase characters of a version 4 UUID");
        if (strcmp(a, b) == 0)
            return fail(std::string("UUID: ") + g.name + " gives the same UUID twice");
    }
    return true;
}

bool same_claims(const verified &v, const token_claims &c, int64_t exp) {
    return strcmp(v.sub, c.sub) == 0 && strcmp(v.email, c.email) == 0 && v.exp == exp;
}

bool check_tokens() {
    const token_claims &c = claims();
    const int64_t before = int64_t(time(nullptr));
    const char *t = ours_mint();
    if (t == nullptr) return fail("token: ours does not mint");
    const std::string ours(t);
    t = libjwt_mint();
    if (t == nullptr) return fail("token: libjwt does not mint");
    const std::string theirs(t);
    const int64_t after = int64_t(time(nullptr));

    // Each verifier accepts both tokens and reads the same claims from them;
    // libjwt also shows ours carries the issuer and a not-before time.
    verified v{};
    if (!ours_verify(ours.c_str(), &v)) return fail("token: ours refuses its own token");
    const int64_t exp = v.exp;
    if (exp < before + c.ttl_seconds || exp > after + c.ttl_seconds)
        return fail("token: our expiry is not now plus the lifetime");
    if (!same_claims(v, c, exp)) return fail("token: ours reads other claims from its own token");

    v = verified{};
    if (!libjwt_verify(ours.c_str(), &v)) return fail("token: libjwt refuses our token");
    if (!same_claims(v, c, exp) || v.nbf != exp - c.ttl_seconds)
        return fail("token: libjwt reads other claims from our token");

    v = verified{};
    if (!libjwt_verify(theirs.c_str(), &v)) return fail("token: libjwt refuses its own token");
    const int64_t their_exp = v.exp;
    if (their_exp < before + c.ttl_seconds || their_exp > after + c.ttl_seconds ||
        v.nbf != their_exp - c.ttl_seconds || !same_claims(v, c, their_exp))
        return fail("token: libjwt's token does not carry the claims asked for");

    v = verified{};
    if (!ours_verify(theirs.c_str(), &v)) return fail("token: ours refuses libjwt's token");
    if (!same_claims(v, c, their_exp)) return fail("token: ours reads other claims from libjwt's token");

    // The reentrant functions: libjwt reads the token minted into our
    // buffer, and they read libjwt's.
    t = ours_mint_r();
    if (t == nullptr) return fail("token: ours (1.1) does not mint");
    const std::string ours_r(t);
    v = verified{};
    if (!libjwt_verify(ours_r.c_str(), &v) || !same_claims(v, c, v.exp))
        return fail("token: libjwt refuses our token (1.1) or reads other claims");
    v = verified{};
    if (!ours_verify_r(theirs.c_str(), &v) || !same_claims(v, c, their_exp))
        return fail("token: ours (1.1) refuses libjwt's token or reads other claims");
    return true;
}

}  // namespace

bool check_peers() {
    return check_hashes() && check_pbkdf2() && check_base64() && check_uuids() &&
           check_tokens();
}

}  // namespace bench
