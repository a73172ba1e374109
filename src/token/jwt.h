// HS256 token minting and verification. One core per direction returns a
// status code (keldo_crypto.h) and writes only into the caller's buffers;
// the thirteen-interface entries jwt_mint and jwt_verify wrap them with the
// process-wide token buffer and last-error text.
#pragma once

#include <cstdint>

#include "keldo_crypto.h"

// Mints into out[out_size]. *token_size (may be null) gets the size the
// token needs, terminator included, on success and on
// KELDO_E_TOKEN_BUFFER_TOO_SMALL. out is written only on success. The
// caller has checked sub, email and secret (null only with length 0).
int32_t jwt_mint_core(const void *secret, uint64_t secret_len, const char *sub,
                      const char *email, uint32_t ttl_seconds, char *out,
                      uint64_t out_size, uint64_t *token_size);

// Prepared keys (keldo_jwt_key): prepare always succeeds on checked
// arguments; wipe clears every byte.
void jwt_key_prepare(keldo_jwt_key *key, const void *secret, uint64_t secret_len);
void jwt_key_wipe(keldo_jwt_key *key);
// As jwt_mint_core under a prepared key; KELDO_E_KEY_NOT_INITIALISED for a
// key without the ready tag.
int32_t jwt_mint_key(const keldo_jwt_key *key, const char *sub, const char *email,
                     uint32_t ttl_seconds, char *out, uint64_t out_size,
                     uint64_t *token_size);
// Verifies token under keys[0 .. key_count): only a bad signature moves on
// to the next key. *key_index_out (may be null) is written on success.
int32_t jwt_verify_keys(const keldo_jwt_key *keys, uint32_t key_count, const char *token,
                        char *sub_out, char *email_out, int64_t *exp_out,
                        uint32_t *key_index_out);

// Verifies token under secret. The outputs (each may be null) are written
// on success only, except that with sub_on_email_refusal (the
// thirteen-interface verify) sub_out is also written when only the e-mail
// claim is refused. The caller has checked token and secret.
int32_t jwt_verify_core(const void *secret, uint64_t secret_len, const char *token,
                        char *sub_out, char *email_out, int64_t *exp_out,
                        bool sub_on_email_refusal);

// The thirteen-interface cores: the token in the process-wide buffer, every
// refusal written to the last-error text.
const char *jwt_mint(const char *secret, const char *sub, const char *email,
                     uint32_t ttl_seconds);
int32_t jwt_verify(const char *secret, const char *token, char *sub_out,
                   char *email_out, int64_t *exp_out);
