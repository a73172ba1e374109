// Base64 and base64url (RFC 4648) codec cores; no messages, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

int32_t base64_encode(const void *data, uint64_t data_len, char *out,
                      uint64_t out_size, int32_t url_safe);
// As base64_decode, on the text_len bytes at text (no terminator needed).
int32_t base64_decode_n(const char *text, uint64_t text_len, uint8_t *out,
                        uint64_t out_size, uint64_t *out_len, int32_t url_safe);
int32_t base64_decode(const char *text, uint8_t *out, uint64_t out_size,
                      uint64_t *out_len, int32_t url_safe);
