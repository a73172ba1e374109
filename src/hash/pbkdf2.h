// PBKDF2-HMAC-SHA256 (RFC 8018 section 5.2).
#pragma once

#include <cstdint>

int32_t pbkdf2_sha256(const void *password, uint64_t password_len,
                      const void *salt, uint64_t salt_len, uint32_t iterations,
                      uint8_t *out, uint64_t out_len);
