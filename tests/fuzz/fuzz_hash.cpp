// SHA-256 (streamed in input-chosen pieces), HMAC-SHA256 (whole, through a
// prepared key, and one step of the keyed chain that PBKDF2 runs) and
// PBKDF2-HMAC-SHA256 with small iteration counts, each against OpenSSL.
//
// Input: a mode byte, then the mode's fields.
#include <openssl/evp.h>

#include "fuzz_support.h"
#include "keldo_crypto.h"
#include "hash/hmac.h"
#include "hash/hmac_chain.h"
#include "hash/sha256.h"

namespace {

void sha256(fuzz::Reader &r) {
    const uint8_t seed = r.byte();
    const std::vector<uint8_t> msg = r.rest();
    uint8_t want[32];
    fuzz::ref_sha256(msg.data(), msg.size(), want);

    uint8_t got[32];
    FUZZ_CHECK(keldo_crypto_sha256(msg.empty() ? nullptr : msg.data(), msg.size(), got) == 0);
    FUZZ_CHECK(std::memcmp(got, want, 32) == 0);

    // Pieces whose sizes follow a small generator seeded by the input:
    // empty pieces (null pointer included), partial and whole blocks.
    sha256_ctx ctx;
    sha256_init(&ctx);
    uint32_t state = seed * 2654435761u + 1;
    size_t at = 0;
    while (at < msg.size()) {
        state = state * 1103515245u + 12345u;
        size_t piece = (state >> 16) % 3 == 0 ? (state >> 8) % 4 : (state >> 8) % 200;
        if (piece > msg.size() - at) piece = msg.size() - at;
        if (piece == 0 && (state & 1) != 0)
            sha256_update(&ctx, nullptr, 0);
        else
            sha256_update(&ctx, msg.data() + at, piece);
        at += piece;
    }
    sha256_final(&ctx, got);
    FUZZ_CHECK(std::memcmp(got, want, 32) == 0);
}

void hmac(fuzz::Reader &r) {
    const std::vector<uint8_t> key = r.bytes(r.byte());
    const std::vector<uint8_t> msg = r.rest();
    uint8_t want[32];
    fuzz::ref_hmac(key.data(), key.size(), msg.data(), msg.size(), want);

    const uint8_t *k = key.empty() ? nullptr : key.data();
    const uint8_t *m = msg.empty() ? nullptr : msg.data();
    uint8_t got[32];
    FUZZ_CHECK(keldo_crypto_hmac_sha256(k, key.size(), m, msg.size(), got) == 0);
    FUZZ_CHECK(std::memcmp(got, want, 32) == 0);

    hmac_sha256_key prepared;
    hmac_sha256_prepare(&prepared, k, key.size());
    std::memset(got, 0, sizeof got);
    hmac_sha256_prepared(&prepared, m, msg.size(), got);
    FUZZ_CHECK(std::memcmp(got, want, 32) == 0);

    // One step of the keyed chain PBKDF2 runs: u = HMAC(key, u), t ^= u.
    uint8_t block[32] = {}, sum[32] = {};
    if (!msg.empty()) std::memcpy(block, msg.data(), msg.size() < 32 ? msg.size() : 32);
    fuzz::ref_hmac(key.data(), key.size(), block, 32, want);
    hmac_sha256_chain(&prepared, block, sum, 1);
    FUZZ_CHECK(std::memcmp(block, want, 32) == 0);
    FUZZ_CHECK(std::memcmp(sum, want, 32) == 0);
}

void pbkdf2(fuzz::Reader &r) {
    const uint32_t iterations = 1 + r.byte() % 4;
    const size_t out_len = 1 + r.u16() % 160;  // up to five blocks
    const std::vector<uint8_t> password = r.bytes(r.byte());
    const std::vector<uint8_t> salt = r.rest();  // long ones go to the heap

    std::vector<uint8_t> want(out_len);
    FUZZ_CHECK(PKCS5_PBKDF2_HMAC(reinterpret_cast<const char *>(fuzz::nonnull(password.data())),
                                 int(password.size()), fuzz::nonnull(salt.data()),
                                 int(salt.size()), int(iterations), EVP_sha256(),
                                 int(out_len), want.data()) == 1);

    fuzz::Guarded out(out_len);
    const std::string before = keldo_crypto_last_error();
    FUZZ_CHECK(keldo_crypto_pbkdf2_sha256(password.empty() ? nullptr : password.data(),
                                          password.size(),
                                          salt.empty() ? nullptr : salt.data(), salt.size(),
                                          iterations, out.data(), out_len) == 0);
    FUZZ_CHECK(std::memcmp(out.data(), want.data(), out_len) == 0);
    FUZZ_CHECK(before == keldo_crypto_last_error());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Reader r(data, size);
    switch (r.byte() % 3) {
    case 0: sha256(r); break;
    case 1: hmac(r); break;
    default: pbkdf2(r); break;
    }
    return 0;
}
