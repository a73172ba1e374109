// The password-hash exports: plain forwards to the cores in src/password,
// which check their own arguments and report by status code only.
#include "keldo_crypto.h"
#include "password/password.h"

KELDO_API int32_t keldo_password_hash(const void *password, uint64_t password_len,
                                      uint32_t iterations, char *out, uint64_t out_size) {
    return password_hash(password, password_len, iterations, out, out_size);
}

KELDO_API int32_t keldo_password_encode(int32_t form, const void *password,
                                        uint64_t password_len, const void *salt,
                                        uint64_t salt_len, uint32_t iterations, char *out,
                                        uint64_t out_size) {
    return password_encode(form, password, password_len, salt, salt_len, iterations, out,
                           out_size);
}

KELDO_API int32_t keldo_password_verify(const void *password, uint64_t password_len,
                                        const char *stored) {
    return password_verify(password, password_len, stored);
}

KELDO_API int32_t keldo_password_needs_rehash(const char *stored, uint32_t min_iterations) {
    return password_needs_rehash(stored, min_iterations);
}

KELDO_API int32_t keldo_password_parameters(const char *stored, int32_t *form_out,
                                            uint32_t *iterations_out) {
    return password_parameters(stored, form_out, iterations_out);
}
