'use strict';
// The C functions, one for one, through koffi. Nothing here checks
// arguments or holds policy: that is index.js's job. Byte arguments are
// Buffers whose address koffi hands to C for the length of the call; text
// arguments are Buffers that already end in a NUL, or JS strings.
const fs = require('node:fs');
const path = require('node:path');
const koffi = require('koffi');
const { LibraryNotFoundError } = require('./errors');

const LIBRARY_ENV = 'KELDO_CRYPTO_LIBRARY';

// File names the library has on each platform: the build's name first,
// then the runtime name with the ABI version (what a runtime package ships).
function platformNames() {
  switch (process.platform) {
    case 'win32': return ['keldo_crypto.dll', 'libkeldo_crypto.dll'];
    case 'darwin': return ['libkeldo_crypto.dylib', 'libkeldo_crypto.1.dylib'];
    default: return ['libkeldo_crypto.so', 'libkeldo_crypto.so.1'];
  }
}

// The library the published package carries for this platform and
// processor, with the yyjson it links: prebuilds/<platform>-<arch>/. On
// Linux the library finds yyjson through its RUNPATH $ORIGIN; Windows looks
// for a DLL's imports beside the program, not beside the DLL, so yyjson is
// loaded from the folder first and the import then finds it loaded.
function prebuilt() {
  const dir = path.resolve(__dirname, '..', 'prebuilds', `${process.platform}-${process.arch}`);
  const win = process.platform === 'win32';
  const file = path.join(dir, win ? 'keldo_crypto.dll' : 'libkeldo_crypto.so.1');
  if (!fs.existsSync(file)) return null;
  return { path: file, from: 'the prebuilt library of this package', preload: win ? path.join(dir, 'libyyjson.dll') : null };
}

// The candidates in order: the host's explicit path, the package's prebuilt
// library, KELDO_CRYPTO_LIBRARY, this package's own folder, then the system
// loader's search by name.
function candidates(explicit) {
  if (explicit) return [{ path: explicit, from: 'the path given to loadLibrary()' }];
  const list = [];
  const own = prebuilt();
  if (own) list.push(own);
  const env = process.env[LIBRARY_ENV];
  if (env) return list.concat([{ path: env, from: LIBRARY_ENV }]);
  const folder = path.resolve(__dirname, '..');
  for (const name of platformNames()) {
    const p = path.join(folder, name);
    if (fs.existsSync(p)) list.push({ path: p, from: 'the package folder' });
  }
  for (const name of platformNames().slice().reverse()) list.push({ path: name, from: 'the system loader' });
  return list;
}

const preloaded = [];

function open(explicit) {
  const tried = [];
  for (const c of candidates(explicit)) {
    try {
      // Kept loaded for the life of the process, like the library itself.
      if (c.preload && fs.existsSync(c.preload)) preloaded.push(koffi.load(c.preload));
      return { lib: koffi.load(c.path), path: c.path };
    } catch (e) {
      tried.push(`${c.path} (${c.from}): ${e.message}`);
    }
  }
  throw new LibraryNotFoundError(
    'keldo-crypto: cannot load the shared library. Install it (cmake --install, or the ' +
    'runtime package), set KELDO_CRYPTO_LIBRARY to its file, or call ' +
    `loadLibrary(path) before first use. Tried:\n  ${tried.join('\n  ')}`);
}

function bind(lib, file) {
  const fn = (decl) => {
    try {
      return lib.func(decl);
    } catch (e) {
      throw new LibraryNotFoundError(`keldo-crypto: ${file} is not keldo-crypto 1.2 or later (${e.message})`);
    }
  };
  return {
    secureCompare: fn('int32_t keldo_crypto_secure_compare(const void *a, const void *b, uint64_t len)'),
    sha256: fn('int32_t keldo_crypto_sha256(const void *data, uint64_t len, uint8_t *out)'),
    hmacSha256: fn('int32_t keldo_crypto_hmac_sha256(const void *key, uint64_t key_len, const void *data, uint64_t data_len, uint8_t *out)'),
    pbkdf2Sha256: fn('int32_t keldo_crypto_pbkdf2_sha256(const void *pw, uint64_t pw_len, const void *salt, uint64_t salt_len, uint32_t iterations, uint8_t *out, uint64_t out_len)'),
    base64Encode: fn('int32_t keldo_crypto_base64_encode(const void *data, uint64_t len, uint8_t *out, uint64_t out_size)'),
    base64Decode: fn('int32_t keldo_crypto_base64_decode(const uint8_t *text, uint8_t *out, uint64_t out_size, uint64_t *out_len)'),
    base64urlEncode: fn('int32_t keldo_crypto_base64url_encode(const void *data, uint64_t len, uint8_t *out, uint64_t out_size)'),
    base64urlDecode: fn('int32_t keldo_crypto_base64url_decode(const uint8_t *text, uint8_t *out, uint64_t out_size, uint64_t *out_len)'),
    uuidGenerate: fn('int32_t keldo_crypto_uuid_generate(uint8_t *out)'),
    // Interface 1.1: status codes and the caller's buffers only.
    statusText: fn('const char *keldo_crypto_status_text(int32_t status)'),
    jwtMint: fn('int32_t keldo_jwt_mint_r(const uint8_t *secret, uint64_t secret_len, const char *sub, const char *email, uint32_t ttl, uint8_t *out, uint64_t out_size, uint64_t *token_size)'),
    jwtVerify: fn('int32_t keldo_jwt_verify_r(const uint8_t *secret, uint64_t secret_len, const char *token, uint8_t *sub_out, uint8_t *email_out, int64_t *exp_out)'),
    passwordHash: fn('int32_t keldo_password_hash(const uint8_t *pw, uint64_t pw_len, uint32_t iterations, uint8_t *out, uint64_t out_size)'),
    passwordVerify: fn('int32_t keldo_password_verify(const uint8_t *pw, uint64_t pw_len, const char *stored)'),
    passwordNeedsRehash: fn('int32_t keldo_password_needs_rehash(const char *stored, uint32_t min_iterations)'),
    // Interface 1.2: prepared token keys and key rings.
    jwtKeyInit: fn('int32_t keldo_jwt_key_init(uint8_t *key, const uint8_t *secret, uint64_t secret_len)'),
    jwtKeyWipe: fn('void keldo_jwt_key_wipe(uint8_t *key)'),
    jwtMintK: fn('int32_t keldo_jwt_mint_k(const uint8_t *key, const char *sub, const char *email, uint32_t ttl, uint8_t *out, uint64_t out_size, uint64_t *token_size)'),
    jwtVerifyK: fn('int32_t keldo_jwt_verify_k(const uint8_t *keys, uint32_t key_count, const char *token, uint8_t *sub_out, uint8_t *email_out, int64_t *exp_out, uint32_t *key_index_out)'),
  };
}

module.exports = { open, bind, LIBRARY_ENV };
