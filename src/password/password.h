// Password-hash strings: the cores behind the keldo_password_* exports.
// Each returns KELDO_OK or a KELDO_E_PASSWORD_* code, writes no message and
// keeps no state.
#pragma once

#include <cstdint>

int32_t password_hash(const void *password, uint64_t password_len, uint32_t iterations,
                      char *out, uint64_t out_size);
int32_t password_encode(int32_t form, const void *password, uint64_t password_len,
                        const void *salt, uint64_t salt_len, uint32_t iterations, char *out,
                        uint64_t out_size);
int32_t password_verify(const void *password, uint64_t password_len, const char *stored);
int32_t password_needs_rehash(const char *stored, uint32_t min_iterations);
int32_t password_parameters(const char *stored, int32_t *form_out, uint32_t *iterations_out);
