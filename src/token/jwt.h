// HS256 token minting and verification cores. Both report failures through
// keldo_set_error under their own names.
#pragma once

#include <cstdint>

const char *jwt_mint(const char *secret, const char *sub, const char *email,
                     uint32_t ttl_seconds);
int32_t jwt_verify(const char *secret, const char *token, char *sub_out,
                   char *email_out, int64_t *exp_out);
