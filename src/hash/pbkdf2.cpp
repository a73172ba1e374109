// PBKDF2-HMAC-SHA256 (RFC 8018 section 5.2).
#include "pbkdf2.h"

#include <cstdlib>
#include <cstring>

#include "hmac_chain.h"
#include "hmac.h"
#include "sha256.h"
#include "platform/wipe.h"

namespace {

constexpr uint64_t kMaxOutLen = uint64_t(0xffffffff) * 32;  // 32-bit block index
constexpr uint64_t kStackMessage = 256;

void store_index(uint8_t *p, uint32_t i) {
    p[0] = uint8_t(i >> 24);
    p[1] = uint8_t(i >> 16);
    p[2] = uint8_t(i >> 8);
    p[3] = uint8_t(i);
}

}  // namespace

int32_t pbkdf2_sha256(const void *password, uint64_t password_len,
                      const void *salt, uint64_t salt_len, uint32_t iterations,
                      uint8_t *out, uint64_t out_len) {
    if (out_len == 0 || out_len > kMaxOutLen || iterations == 0 ||
        out == nullptr)
        return -1;
    if ((salt == nullptr && salt_len != 0) ||
        (password == nullptr && password_len != 0))
        return -1;
    if (salt_len > UINT64_MAX - 4) return -1;
    const uint64_t message_len = salt_len + 4;
    if (message_len > SIZE_MAX) return -1;

    uint8_t stack_message[kStackMessage];
    uint8_t *message = stack_message;
    if (message_len > kStackMessage) {
        message = static_cast<uint8_t *>(malloc(size_t(message_len)));
        if (message == nullptr) return -1;
    }
    if (salt_len != 0) memcpy(message, salt, size_t(salt_len));

    // The key block and both pad compressions are done once per call, not
    // once per iteration: a long password then costs what a short one does.
    hmac_sha256_key key;
    hmac_sha256_prepare(&key, password, password_len);

    uint8_t *index = message + salt_len;
    uint64_t written = 0;
    uint32_t block = 1;
    // Two blocks at a time while two or more remain: their chains are
    // independent, and running them together hides the rounds' latency.
    while (out_len - written > 32) {
        uint8_t u[2][32], t[2][32];
        for (int k = 0; k < 2; ++k) {
            store_index(index, block + uint32_t(k));
            hmac_sha256_prepared(&key, message, message_len, u[k]);
            memcpy(t[k], u[k], 32);
        }
        hmac_sha256_chain2(&key, u[0], t[0], u[1], t[1], iterations - 1);
        const uint64_t n = out_len - written - 32 < 32 ? out_len - written - 32 : 32;
        memcpy(out + written, t[0], 32);
        memcpy(out + written + 32, t[1], size_t(n));
        written += 32 + n;
        block += 2;
        secure_wipe(u, sizeof u);
        secure_wipe(t, sizeof t);
    }
    if (written < out_len) {
        uint8_t u[32], t[32];
        store_index(index, block);
        hmac_sha256_prepared(&key, message, message_len, u);
        memcpy(t, u, 32);
        hmac_sha256_chain(&key, u, t, iterations - 1);
        memcpy(out + written, t, size_t(out_len - written));
        secure_wipe(u, sizeof u);
        secure_wipe(t, sizeof t);
    }
    secure_wipe(&key, sizeof key);
    if (message != stack_message) free(message);
    return 0;
}
