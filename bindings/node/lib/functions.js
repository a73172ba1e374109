'use strict';
// The C functions the package calls, as C declarations: lib/native.js hands
// them to koffi, lib/wasm-core.js reads the same text to marshal arguments
// into the WebAssembly module, so both backends offer one set of functions
// with one calling convention. Byte arguments are Buffers (or typed arrays)
// whose address C receives for the call; text arguments are Buffers that
// already end in a NUL, or JS strings.
module.exports = {
  secureCompare: 'int32_t keldo_crypto_secure_compare(const void *a, const void *b, uint64_t len)',
  sha256: 'int32_t keldo_crypto_sha256(const void *data, uint64_t len, uint8_t *out)',
  hmacSha256: 'int32_t keldo_crypto_hmac_sha256(const void *key, uint64_t key_len, const void *data, uint64_t data_len, uint8_t *out)',
  pbkdf2Sha256: 'int32_t keldo_crypto_pbkdf2_sha256(const void *pw, uint64_t pw_len, const void *salt, uint64_t salt_len, uint32_t iterations, uint8_t *out, uint64_t out_len)',
  base64Encode: 'int32_t keldo_crypto_base64_encode(const void *data, uint64_t len, uint8_t *out, uint64_t out_size)',
  base64Decode: 'int32_t keldo_crypto_base64_decode(const uint8_t *text, uint8_t *out, uint64_t out_size, uint64_t *out_len)',
  base64urlEncode: 'int32_t keldo_crypto_base64url_encode(const void *data, uint64_t len, uint8_t *out, uint64_t out_size)',
  base64urlDecode: 'int32_t keldo_crypto_base64url_decode(const uint8_t *text, uint8_t *out, uint64_t out_size, uint64_t *out_len)',
  uuidGenerate: 'int32_t keldo_crypto_uuid_generate(uint8_t *out)',
  // Interface 1.1: status codes and the caller's buffers only.
  statusText: 'const char *keldo_crypto_status_text(int32_t status)',
  jwtMint: 'int32_t keldo_jwt_mint_r(const uint8_t *secret, uint64_t secret_len, const char *sub, const char *email, uint32_t ttl, uint8_t *out, uint64_t out_size, uint64_t *token_size)',
  jwtVerify: 'int32_t keldo_jwt_verify_r(const uint8_t *secret, uint64_t secret_len, const char *token, uint8_t *sub_out, uint8_t *email_out, int64_t *exp_out)',
  passwordHash: 'int32_t keldo_password_hash(const uint8_t *pw, uint64_t pw_len, uint32_t iterations, uint8_t *out, uint64_t out_size)',
  passwordVerify: 'int32_t keldo_password_verify(const uint8_t *pw, uint64_t pw_len, const char *stored)',
  passwordNeedsRehash: 'int32_t keldo_password_needs_rehash(const char *stored, uint32_t min_iterations)',
  // Interface 1.2: prepared keys (a keldo_jwt_key is 128 bytes, here a
  // Buffer) and key rings (keys side by side, current first).
  jwtKeyInit: 'int32_t keldo_jwt_key_init(uint8_t *key, const uint8_t *secret, uint64_t secret_len)',
  jwtKeyWipe: 'void keldo_jwt_key_wipe(uint8_t *key)',
  jwtMintK: 'int32_t keldo_jwt_mint_k(const uint8_t *key, const char *sub, const char *email, uint32_t ttl, uint8_t *out, uint64_t out_size, uint64_t *token_size)',
  jwtVerifyK: 'int32_t keldo_jwt_verify_k(const uint8_t *keys, uint32_t key_count, const char *token, uint8_t *sub_out, uint8_t *email_out, int64_t *exp_out, uint32_t *key_index_out)',
};
