// Constant-time check, run under valgrind's memcheck in a KELDO_CT_CHECK
// build. Keys, passwords, digests and compared buffers are marked secret
// (undefined to memcheck) before each call, so any branch or memory index
// that depends on them is reported as an error. What may depend on them is
// declassified: the verdict of a comparison once it is computed, and here,
// outputs the test itself examines. The lengths of NUL-terminated secrets
// are public (the suppression file names the strlen calls that measure
// them).
//
// Expected values come from OpenSSL, computed before anything is marked.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/ct_check.h"
#include "keldo_crypto.h"
#include "hash/sha256.h"
#include "test_platform.h"

#if !defined(KELDO_CT_CHECK)
#error "build with -DKELDO_CT_CHECK=ON: without it nothing is marked"
#endif

namespace {

int g_failures = 0;

void expect(bool ok, const std::string &what) {
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
        ++g_failures;
    }
}

// Deterministic filler (splitmix64).
std::vector<uint8_t> pattern(size_t n, uint64_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed += 0x9E3779B97F4A7C15ull;
        uint64_t z = seed;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        v[i] = uint8_t(z ^ (z >> 31));
    }
    return v;
}

template <typename T>
void secret(T &v) {
    if (!v.empty()) KELDO_CT_SECRET(v.data(), v.size());
}
template <typename T>
void declassify(T &v) {
    if (!v.empty()) KELDO_CT_DECLASSIFY(v.data(), v.size());
}

std::vector<uint8_t> openssl_hmac(const std::vector<uint8_t> &key,
                                  const std::vector<uint8_t> &msg) {
    static const uint8_t empty = 0;
    std::vector<uint8_t> out(32);
    unsigned int n = 0;
    HMAC(EVP_sha256(), key.empty() ? &empty : key.data(), int(key.size()),
         msg.empty() ? &empty : msg.data(), msg.size(), out.data(), &n);
    return out;
}

void secure_compare() {
    for (size_t len : std::initializer_list<size_t>{1, 7, 8, 15, 16, 17, 31, 32, 33, 64, 100, 1000}) {
        for (int flip = -1; flip < 3; ++flip) {
            std::vector<uint8_t> a = pattern(len, len), b = a;
            const size_t at = flip == 0 ? 0 : flip == 1 ? len / 2 : len - 1;
            if (flip >= 0) b[at] ^= 0x10;
            secret(a);
            secret(b);
            const int32_t r = keldo_crypto_secure_compare(a.data(), b.data(), len);
            const int32_t same = keldo_crypto_secure_compare(a.data(), a.data(), len);
            expect(r == (flip < 0 ? 0 : 1), "secure_compare len " + std::to_string(len));
            expect(same == 0, "secure_compare same buffer");
        }
    }
}

void password_hash() {
    for (size_t len : std::initializer_list<size_t>{1, 8, 43, 64, 100}) {
        for (int flip = -1; flip < 3; ++flip) {
            std::string a(len, 'x');
            std::vector<uint8_t> fill = pattern(len, 7 * len);
            for (size_t i = 0; i < len; ++i) a[i] = char('!' + fill[i] % 90);
            std::string b = a;
            const size_t at = flip == 0 ? 0 : flip == 1 ? len / 2 : len - 1;
            if (flip >= 0) b[at] = b[at] == 'A' ? 'B' : 'A';
            // The contents are secret; the terminators and lengths are not.
            KELDO_CT_SECRET(a.data(), len);
            KELDO_CT_SECRET(b.data(), len);
            const int32_t r = keldo_verify_password_hash(a.c_str(), b.c_str());
            expect(r == (flip < 0 ? 0 : 1), "password hash len " + std::to_string(len));
        }
    }
}

void sha256_and_hmac() {
    for (size_t key_len : std::initializer_list<size_t>{1, 16, 32, 63, 64, 65, 131}) {
        for (size_t msg_len : std::initializer_list<size_t>{0, 1, 32, 55, 56, 64, 100, 300}) {
            std::vector<uint8_t> key = pattern(key_len, key_len);
            std::vector<uint8_t> msg = pattern(msg_len, 1000 + msg_len);
            std::vector<uint8_t> want = openssl_hmac(key, msg);
            std::vector<uint8_t> out(32);
            secret(key);
            secret(msg);
            secret(want);  // the expected digest is compared in constant time
            keldo_crypto_hmac_sha256(key.data(), key_len, msg.empty() ? nullptr : msg.data(),
                                     msg_len, out.data());
            const int32_t r = keldo_crypto_secure_compare(out.data(), want.data(), 32);
            expect(r == 0, "hmac key " + std::to_string(key_len) + " msg " +
                               std::to_string(msg_len));

            // The one-shot and streamed hash of a secret message.
            std::vector<uint8_t> digest(32), streamed(32);
            sha256_hash(msg.data(), msg_len, digest.data());
            sha256_ctx ctx;
            sha256_init(&ctx);
            for (size_t at = 0; at < msg_len; at += 23)
                sha256_update(&ctx, msg.data() + at, msg_len - at < 23 ? msg_len - at : 23);
            sha256_final(&ctx, streamed.data());
            expect(keldo_crypto_secure_compare(digest.data(), streamed.data(), 32) == 0,
                   "sha256 streamed " + std::to_string(msg_len));
        }
    }
}

void pbkdf2() {
    for (size_t pw_len : std::initializer_list<size_t>{1, 8, 64, 100}) {
        for (size_t salt_len : std::initializer_list<size_t>{0, 16, 300}) {  // 300: the heap-allocated message
            for (size_t out_len : std::initializer_list<size_t>{1, 32, 33, 64}) {
                const uint32_t iterations = 3;
                std::vector<uint8_t> pw = pattern(pw_len, 55 + pw_len);
                std::vector<uint8_t> salt = pattern(salt_len, 77 + salt_len);
                std::vector<uint8_t> want(out_len), out(out_len);
                static const uint8_t empty = 0;
                PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(pw.data()), int(pw_len),
                                  salt.empty() ? &empty : salt.data(), int(salt_len),
                                  int(iterations), EVP_sha256(), int(out_len), want.data());
                secret(pw);  // the salt is public
                const int32_t rc = keldo_crypto_pbkdf2_sha256(
                    pw.data(), pw_len, salt.empty() ? nullptr : salt.data(), salt_len,
                    iterations, out.data(), out_len);
                declassify(out);
                expect(rc == 0 && out == want, "pbkdf2 pw " + std::to_string(pw_len) +
                                                   " salt " + std::to_string(salt_len) +
                                                   " out " + std::to_string(out_len));
            }
        }
    }
}

void token_signature() {
    test_platform::set_clock(1700000000);
    for (const char *key : {"k", "a 32-byte secret for the tokens", 
                            "a secret longer than one block of SHA-256, so that it is "
                            "hashed before it is used as the key"}) {
        const std::string token = keldo_jwt_mint(key, "user-1", "user@example.org", 600);
        std::string wrong_sig = token;
        wrong_sig[wrong_sig.size() - 5] = wrong_sig[wrong_sig.size() - 5] == 'A' ? 'B' : 'A';
        std::string signing_secret = key;
        KELDO_CT_SECRET(signing_secret.data(), signing_secret.size());

        char sub[64], email[128];
        int64_t exp = 0;
        const int32_t ok = keldo_jwt_verify(signing_secret.c_str(), token.c_str(), sub,
                                            email, &exp);
        expect(ok == 0 && std::string(sub) == "user-1", "token verifies");
        const int32_t bad = keldo_jwt_verify(signing_secret.c_str(), wrong_sig.c_str(),
                                             nullptr, nullptr, nullptr);
        expect(bad == -1 && std::string(keldo_crypto_last_error()) ==
                                "jwt_verify: signature verification failed",
               "forged signature refused");
    }
    test_platform::use_real_clock();
}

// Password-hash strings: the derived key is encoded for each form, and a
// stored key decoded and compared, without a branch or a load address that
// depends on the password or the key (a table-driven Base64 or hex step
// would be reported here). The stored key's characters are marked secret;
// the rest of the string (form, count, salt) is public.
void password_strings() {
    const int32_t forms[] = {KELDO_PASSWORD_PHC, KELDO_PASSWORD_DJANGO, KELDO_PASSWORD_PASSLIB,
                             KELDO_PASSWORD_WERKZEUG};
    for (const int32_t form : forms) {
        for (size_t pw_len : std::initializer_list<size_t>{1, 12, 100}) {
            std::vector<uint8_t> pw = pattern(pw_len, 300 + pw_len + size_t(form));
            const char salt[] = "0123456789abcdef";
            char want[KELDO_PASSWORD_HASH_MAX], got[KELDO_PASSWORD_HASH_MAX];
            expect(keldo_password_encode(form, pw.data(), pw_len, salt, 16, 3, want,
                                         sizeof want) == KELDO_OK,
                   "password encode (unmarked)");
            secret(pw);
            const int32_t rc =
                keldo_password_encode(form, pw.data(), pw_len, salt, 16, 3, got, sizeof got);
            KELDO_CT_DECLASSIFY(got, sizeof got);
            expect(rc == KELDO_OK && std::string(got) == want,
                   "password encode form " + std::to_string(form));

            // Verify with the right and a wrong password; the key field is
            // everything after the last '$'.
            std::string stored = want;
            const size_t key_at = stored.rfind('$') + 1;
            std::vector<uint8_t> wrong = pattern(pw_len, 300 + pw_len + size_t(form));
            wrong[pw_len / 2] ^= 0x20;
            KELDO_CT_SECRET(stored.data() + key_at, stored.size() - key_at);
            secret(wrong);
            const int32_t ok = keldo_password_verify(pw.data(), pw_len, stored.c_str());
            const int32_t bad = keldo_password_verify(wrong.data(), pw_len, stored.c_str());
            expect(ok == KELDO_OK && bad == KELDO_E_PASSWORD_MISMATCH,
                   "password verify form " + std::to_string(form));
        }
    }
    char fresh[KELDO_PASSWORD_HASH_MAX];
    std::string pw = "a password";
    KELDO_CT_SECRET(pw.data(), pw.size());
    const int32_t rc = keldo_password_hash(pw.data(), pw.size(), 2, fresh, sizeof fresh);
    KELDO_CT_DECLASSIFY(fresh, sizeof fresh);
    expect(rc == KELDO_OK && keldo_password_verify("a password", 10, fresh) == KELDO_OK,
           "password hash");
}

// The reentrant verify with byte-string secrets, NUL bytes included: the
// whole secret is marked, its length is public.
void token_signature_r() {
    test_platform::set_clock(1700000000);
    const std::string keys[] = {std::string("\0", 1), std::string("key\0with\0nuls", 14),
                                std::string(100, '\0') + "long"};
    for (const std::string &key : keys) {
        char token[KELDO_JWT_TOKEN_MAX];
        const int32_t minted = keldo_jwt_mint_r(key.data(), key.size(), "user-1",
                                                "user@example.org", 600, token, sizeof token,
                                                nullptr);
        expect(minted == KELDO_OK, "token minted (1.1)");
        std::string wrong_sig = token;
        wrong_sig[wrong_sig.size() - 5] = wrong_sig[wrong_sig.size() - 5] == 'A' ? 'B' : 'A';
        std::string signing_secret = key;
        KELDO_CT_SECRET(signing_secret.data(), signing_secret.size());

        char sub[64], email[128];
        int64_t exp = 0;
        const int32_t ok = keldo_jwt_verify_r(signing_secret.data(), signing_secret.size(),
                                              token, sub, email, &exp);
        expect(ok == KELDO_OK && std::string(sub) == "user-1", "token verifies (1.1)");
        const int32_t bad = keldo_jwt_verify_r(signing_secret.data(), signing_secret.size(),
                                               wrong_sig.c_str(), nullptr, nullptr, nullptr);
        expect(bad == KELDO_E_BAD_SIGNATURE, "forged signature refused (1.1)");
    }
    test_platform::use_real_clock();
}

// Prepared keys and a ring: every word of the key states is marked secret
// (only the ready tag, the first word, is public) once the tokens are
// minted, as a token's signature is public once made. Verification under
// the ring must reach each key's comparison without a branch or a load
// address that depends on any key.
void token_key_ring() {
    test_platform::set_clock(1700000000);
    const std::string secrets[] = {std::string("current\0key", 11), "previous key",
                                   std::string(80, 'L')};
    keldo_jwt_key ring[3];
    std::string tokens[3];
    for (size_t i = 0; i < 3; ++i) {
        expect(keldo_jwt_key_init(&ring[i], secrets[i].data(), secrets[i].size()) == KELDO_OK,
               "key init");
        char token[KELDO_JWT_TOKEN_MAX];
        expect(keldo_jwt_mint_k(&ring[i], "user-1", "user@example.org", 600, token,
                                sizeof token, nullptr) == KELDO_OK,
               "token minted under a prepared key");
        tokens[i] = token;
    }
    for (keldo_jwt_key &k : ring)
        KELDO_CT_SECRET(reinterpret_cast<unsigned char *>(&k) + 8, sizeof k - 8);
    for (uint32_t signer = 0; signer < 3; ++signer) {
        std::string wrong_sig = tokens[signer];
        wrong_sig[wrong_sig.size() - 5] = wrong_sig[wrong_sig.size() - 5] == 'A' ? 'B' : 'A';
        char sub[64];
        uint32_t index = 99;
        const int32_t ok =
            keldo_jwt_verify_k(ring, 3, tokens[signer].c_str(), sub, nullptr, nullptr, &index);
        expect(ok == KELDO_OK && index == signer && std::string(sub) == "user-1",
               "ring verifies at the signer's position");
        const int32_t bad =
            keldo_jwt_verify_k(ring, 3, wrong_sig.c_str(), nullptr, nullptr, nullptr, nullptr);
        expect(bad == KELDO_E_BAD_SIGNATURE, "forged signature refused by the ring");
    }
    for (keldo_jwt_key &k : ring) keldo_jwt_key_wipe(&k);
    test_platform::use_real_clock();
}

}  // namespace

int main() {
    secure_compare();
    password_hash();
    sha256_and_hmac();
    pbkdf2();
    token_signature();
    password_strings();
    token_signature_r();
    token_key_ring();
    if (g_failures != 0) {
        std::fprintf(stderr, "%d check(s) failed\n", g_failures);
        return 1;
    }
    std::printf("constant-time check: all cases ran\n");
    return 0;
}
