'use strict';
// keldo-crypto for Node.js: the library's functions behind an API that
// cannot misuse them. Policy lives here (argument checks, secret rules,
// error classes); lib/native.js only declares the C functions.
//
// No lock: tokens and password hashes go through the library's reentrant
// functions, which report a status code and write only the buffers given to
// them, and the other calls cannot fail with the arguments checked here. So
// any number of worker threads may load and use the package, in any order.
const { KeyObject } = require('node:crypto');
const backend = require('./lib/backend');
const errors = require('./lib/errors');

const {
  InvalidArgumentError, MalformedTokenError, MalformedHashError, LibraryError, statusError, statusKind,
  KIND_MALFORMED, KIND_MISMATCH,
} = errors;

const MIN_SECRET_BYTES = 32;     // HS256 key as long as its output
const SUB_CAPACITY = 64;         // the verifier's buffers, NUL included
const EMAIL_CAPACITY = 128;
const TOKEN_MAX = 2129;          // the longest token the library mints, NUL included
const PASSWORD_HASH_MAX = 256;   // the longest hash string it writes, NUL included
const MAX_TTL = 0xffffffff;
const MAX_PBKDF2_LENGTH = Math.min(0xffffffff * 32, require('node:buffer').constants.MAX_LENGTH);
// The library's bounds for password hashes.
const DEFAULT_ITERATIONS = 600000;  // OWASP's figure for PBKDF2-HMAC-SHA256
const MAX_ITERATIONS = 100000000;
const MAX_PASSWORD_BYTES = 4096;

let fns = null;
let loadedPath = null;
let loadedBackend = null;

// Loads the library from path (or, without one, from KELDO_CRYPTO_LIBRARY,
// this package's folder, then the system loader; where no native library is
// found, the package's WebAssembly module: lib/backend.js). Every function
// loads it on first use; call this first to choose the file. Returns the
// path loaded (a .wasm file for the WebAssembly backend).
function loadLibrary(path) {
  if (fns !== null) {
    if (path && path !== loadedPath) {
      throw new InvalidArgumentError(`loadLibrary: the library is already loaded from ${loadedPath}`);
    }
    return loadedPath;
  }
  const loaded = backend.load(path);
  fns = loaded.fns;
  loadedPath = loaded.path;
  loadedBackend = loaded.backend;
  return loadedPath;
}

// 'native' or 'wasm': the backend serving the calls (loaded if need be).
function libraryBackend() {
  if (fns === null) loadLibrary();
  return loadedBackend;
}

function lib() {
  if (fns === null) loadLibrary();
  return fns;
}

// The library's fixed text for a status, read once.
const texts = new Map();
function statusText(status) {
  let t = texts.get(status);
  if (t === undefined) {
    t = lib().statusText(status) || 'unknown status';
    texts.set(status, t);
  }
  return t;
}

function refusal(status) {
  return statusError(status, statusText(status));
}

// ---- argument checks -----------------------------------------------------

function refuse(message) {
  throw new InvalidArgumentError(message);
}

// String.prototype.isWellFormed arrived in Node.js 20; before it, a string
// is well formed when its UTF-8 form decodes back to it.
function wellFormed(s) {
  return typeof s.isWellFormed === 'function' ? s.isWellFormed() : Buffer.from(s, 'utf8').toString('utf8') === s;
}

// Bytes of a Buffer, Uint8Array or string (UTF-8). A string with a lone
// surrogate has no UTF-8 form and would be changed silently: refused.
// A view of a detached ArrayBuffer (one transferred to another thread) has
// no bytes left: refused rather than read as empty.
function detached(view) {
  if (view.byteLength !== 0) return false;
  try {
    new Uint8Array(view.buffer, 0, 0);  // eslint-disable-line no-new
    return false;
  } catch {
    return true;
  }
}

function bytes(value, what) {
  if (value instanceof Uint8Array && detached(value)) refuse(`${what}: its ArrayBuffer is detached`);
  if (Buffer.isBuffer(value)) return value;
  if (value instanceof Uint8Array) return Buffer.from(value.buffer, value.byteOffset, value.byteLength);
  if (typeof value === 'string') {
    if (!wellFormed(value)) refuse(`${what} is not well-formed Unicode text`);
    return Buffer.from(value, 'utf8');
  }
  return refuse(`${what} must be a string, Buffer or Uint8Array`);
}

// A copy with the terminating NUL the C side expects.
function cString(buf) {
  const out = Buffer.allocUnsafe(buf.length + 1);
  buf.copy(out);
  out[buf.length] = 0;
  return out;
}

// Any bytes, NUL included (the library takes the secret with its length);
// empty is refused, and shorter than 32 bytes unless asked for.
function checkedSecret(secret, allowShort, fn) {
  let key;
  if (secret instanceof KeyObject) {
    if (secret.type !== 'secret') refuse(`${fn}: a KeyObject secret must be a secret key, not ${secret.type}`);
    key = secret.export();
  } else {
    key = bytes(secret, `${fn}: secret`);
  }
  if (key.length === 0) refuse(`${fn}: secret is empty`);
  if (key.length < MIN_SECRET_BYTES && !allowShort) {
    refuse(`${fn}: secret is shorter than ${MIN_SECRET_BYTES} bytes (pass { allowShortSecret: true } to accept it)`);
  }
  return key;
}

// A host signs and verifies with one key: the last text secret is kept
// checked and converted, and each KeyObject's bytes (neither can change;
// Buffers can, so they are used as they are on every call).
let cachedSecret = null;
let cachedSecretBytes = null;
const keyObjectBytes = new WeakMap();

function secretBytes(secret, options, fn) {
  const allowShort = options !== undefined && options !== null && options.allowShortSecret === true;
  if (typeof secret === 'string') {
    if (secret === cachedSecret && (allowShort || cachedSecretBytes.length >= MIN_SECRET_BYTES)) return cachedSecretBytes;
    const b = checkedSecret(secret, allowShort, fn);
    cachedSecret = secret;
    cachedSecretBytes = b;
    return b;
  }
  if (secret instanceof KeyObject) {
    const b = keyObjectBytes.get(secret);
    if (b !== undefined && (allowShort || b.length >= MIN_SECRET_BYTES)) return b;
    const k = checkedSecret(secret, allowShort, fn);
    keyObjectBytes.set(secret, k);
    return k;
  }
  return checkedSecret(secret, allowShort, fn);
}

// Handed to the library as a JS string (koffi writes its UTF-8 form and a
// NUL); the byte count is the one the verifier will see.
function claimText(value, name, capacity) {
  if (typeof value !== 'string') refuse(`jwtMint: ${name} must be a string`);
  if (!wellFormed(value)) refuse(`jwtMint: ${name} is not well-formed Unicode text`);
  if (value.includes('\0')) refuse(`jwtMint: ${name} holds a NUL character`);
  if (Buffer.byteLength(value, 'utf8') >= capacity) refuse(`jwtMint: ${name} is ${capacity} UTF-8 bytes or longer`);
  return value;
}

function integer(value, min, max, what) {
  if (!Number.isInteger(value) || value < min || value > max) refuse(`${what} must be an integer from ${min} to ${max}`);
  return value;
}

function text(buf) {
  const end = buf.indexOf(0);
  return buf.toString('utf8', 0, end < 0 ? buf.length : end);
}

// ---- tokens --------------------------------------------------------------

// Output buffers, reused: each thread has its own copy of this module and
// the calls are synchronous, so no two calls share them.
const tokenOut = Buffer.alloc(TOKEN_MAX);
const claimsOut = Buffer.alloc(SUB_CAPACITY + EMAIL_CAPACITY);
const subOut = claimsOut.subarray(0, SUB_CAPACITY);
const emailOut = claimsOut.subarray(SUB_CAPACITY);
const expOut = new BigInt64Array(1);

const KEY_SIZE = 128;  // KELDO_JWT_KEY_SIZE
const KEYS_MAX = 16;   // KELDO_JWT_KEYS_MAX
const keyIndexOut = new Uint32Array(1);

// Wipes the key states of a TokenKey or KeyRing that was dropped without
// dispose(): the block is held here, not the object.
const keyBlocks = new FinalizationRegistry((held) => {
  if (fns !== null) for (let i = 0; i < held.count; i++) fns.jwtKeyWipe(held.block.subarray(i * KEY_SIZE));
});

// The library's prepared form of secrets (their keyed HMAC states), one
// after the other in one block, as keldo_jwt_verify_k reads a ring.
class PreparedKeys {
  #block;
  #count;
  #held;

  constructor(secrets, options, fn) {
    const block = Buffer.alloc(KEY_SIZE * secrets.length);
    try {
      secrets.forEach((s, i) => {
        const slot = block.subarray(i * KEY_SIZE, (i + 1) * KEY_SIZE);
        if (s instanceof PreparedKeys) {
          if (!(s instanceof TokenKey)) refuse(`${fn}: a key ring cannot hold another key ring`);
          s.#block0().copy(slot);
          return;
        }
        const secret = secretBytes(s, options, fn);
        const rc = lib().jwtKeyInit(slot, secret, secret.length);
        if (rc !== 0) throw refusal(rc);
      });
    } catch (e) {
      block.fill(0);
      throw e;
    }
    this.#block = block;
    this.#count = secrets.length;
    this.#held = { block, count: secrets.length };
    keyBlocks.register(this, this.#held, this);
  }

  #block0() {
    if (this.#block === null) refuse(`${this.constructor.name}: disposed`);
    return this.#block.subarray(0, KEY_SIZE);
  }

  _mint(sub, email, ttl) {
    this.#block0();
    return lib().jwtMintK(this.#block, sub, email, ttl, tokenOut, TOKEN_MAX, null);
  }

  _verify(token) {
    this.#block0();
    return lib().jwtVerifyK(this.#block, this.#count, token, subOut, emailOut, expOut, keyIndexOut);
  }

  get disposed() { return this.#block === null; }

  /** A token signed with the first (current) key. */
  mint(sub, email, ttl = 3600) { return jwtMint(this, sub, email, ttl); }

  /** The claims of token if one of the keys signed it; claims.key is its position. */
  verify(token) { return jwtVerify(token, this); }

  /** Wipes the key states; every later use is refused. */
  dispose() {
    if (this.#block === null) return;
    for (let i = 0; i < this.#count; i++) lib().jwtKeyWipe(this.#block.subarray(i * KEY_SIZE));
    this.#block = null;
    keyBlocks.unregister(this);
  }
}
if (typeof Symbol.dispose === 'symbol') {
  PreparedKeys.prototype[Symbol.dispose] = function dispose() { this.dispose(); };
}

// One prepared token key: new TokenKey(secret), the secret as jwtMint takes it.
class TokenKey extends PreparedKeys {
  constructor(secret, options = undefined) {
    super([secret], options, 'TokenKey');
  }
}

// The keys a service accepts, the current one first: new KeyRing([current,
// previous]), secrets or TokenKeys (copied in). jwtMint(ring, ...) signs
// with the first; jwtVerify(token, ring) accepts any and says which in
// claims.key. Only a bad signature tries the next key.
class KeyRing extends PreparedKeys {
  constructor(keys, options = undefined) {
    if (!Array.isArray(keys)) refuse('KeyRing: give an array of keys, the current one first');
    if (keys.length < 1 || keys.length > KEYS_MAX) refuse(`KeyRing: 1 to ${KEYS_MAX} keys, not ${keys.length}`);
    super(keys, options, 'KeyRing');
    this.length = keys.length;
    Object.freeze(this);
  }
}

function jwtMint(secret, sub, email, ttl = 3600, options = undefined) {
  const prepared = secret instanceof PreparedKeys ? secret : null;
  const key = prepared === null ? secretBytes(secret, options, 'jwtMint') : null;
  claimText(sub, 'sub', SUB_CAPACITY);
  claimText(email, 'email', EMAIL_CAPACITY);
  integer(ttl, 0, MAX_TTL, 'jwtMint: ttl');
  const rc = prepared !== null ? prepared._mint(sub, email, ttl)
    : lib().jwtMint(key, key.length, sub, email, ttl, tokenOut, TOKEN_MAX, null);
  if (rc !== 0) throw refusal(rc);
  return tokenOut.toString('latin1', 0, tokenOut.indexOf(0));
}

// A compact JWS: three base64url segments (the signature may be empty).
const LOOKS_LIKE_TOKEN = /^[A-Za-z0-9_-]+\.[A-Za-z0-9_-]+\.[A-Za-z0-9_-]*$/;

// jwtVerify(secret, token), the order of earlier versions: what came as the
// key is a token while the token is malformed.
function swapped(secret) {
  const s = typeof secret === 'string' ? secret
    : (secret instanceof Uint8Array && secret.length > 0 && secret.length < 16384 ? Buffer.from(secret.buffer, secret.byteOffset, secret.byteLength).toString('latin1') : '');
  if (!LOOKS_LIKE_TOKEN.test(s)) return null;
  return new InvalidArgumentError(
    'jwtVerify: the arguments look swapped: the token comes first, the key second (jwtVerify(token, key))');
}

function malformed(message, secret) {
  return swapped(secret) || new MalformedTokenError(message);
}

function jwtVerify(token, secret, options = undefined) {
  if (token === undefined || token === null || token === '') {
    throw new MalformedTokenError('jwtVerify: no token');
  }
  if (typeof token !== 'string') throw swapped(secret) || new InvalidArgumentError('jwtVerify: token must be a string');
  const prepared = secret instanceof PreparedKeys ? secret : null;
  const key = prepared === null ? secretBytes(secret, options, 'jwtVerify') : null;
  if (token.includes('\0')) throw malformed('jwtVerify: token holds a NUL character', secret);
  // A lone surrogate has no UTF-8 form; such a token is not Base64 anyway.
  if (!wellFormed(token)) throw malformed('jwtVerify: token is not well-formed Unicode text', secret);
  const rc = prepared !== null ? prepared._verify(token)
    : lib().jwtVerify(key, key.length, token, subOut, emailOut, expOut);
  if (rc !== 0) {
    if (statusKind(rc) === KIND_MALFORMED) throw swapped(secret) || refusal(rc);
    throw refusal(rc);
  }
  return Object.freeze({
    sub: text(subOut),
    email: text(emailOut),
    exp: Number(expOut[0]),  // seconds since 1970
    key: prepared !== null ? keyIndexOut[0] : 0,  // the position of the key that matched
  });
}

// ---- hashing -------------------------------------------------------------

function sha256(data) {
  const d = bytes(data, 'sha256: data');
  const out = Buffer.alloc(32);
  if (lib().sha256(d, d.length, out) !== 0) throw new LibraryError('sha256: the library failed');
  return out;
}

function hmacSha256(key, data) {
  const k = bytes(key, 'hmacSha256: key');
  const d = bytes(data, 'hmacSha256: data');
  const out = Buffer.alloc(32);
  if (lib().hmacSha256(k, k.length, d, d.length, out) !== 0) throw new LibraryError('hmacSha256: the library failed');
  return out;
}

// The arguments are checked here, so the library's own refusal cannot
// happen; what remains is an allocation failure inside it, reported with a
// text of our own (the library's shared error text is never read).
function pbkdf2Args(password, salt, iterations, length, fn) {
  const p = bytes(password, `${fn}: password`);
  const s = bytes(salt, `${fn}: salt`);
  integer(iterations, 1, 0xffffffff, `${fn}: iterations`);
  integer(length, 1, MAX_PBKDF2_LENGTH, `${fn}: length`);
  return [p, s];
}

function pbkdf2Failed(fn) {
  return new LibraryError(`${fn}: the library could not derive the key (out of memory)`);
}

function pbkdf2Sha256(password, salt, iterations, length = 32) {
  const [p, s] = pbkdf2Args(password, salt, iterations, length, 'pbkdf2Sha256');
  const out = Buffer.alloc(length);
  if (lib().pbkdf2Sha256(p, p.length, s, s.length, iterations, out, length) !== 0) throw pbkdf2Failed('pbkdf2Sha256');
  return out;
}

// The same on a koffi worker thread, so that a password hash does not stop
// the event loop. The inputs are private copies: the caller may reuse its
// buffers while the derivation runs.
function pbkdf2Sha256Async(password, salt, iterations, length = 32) {
  return new Promise((resolve, reject) => {
    const [p, s] = pbkdf2Args(password, salt, iterations, length, 'pbkdf2Sha256Async').map((b) => Buffer.from(b));
    const out = Buffer.alloc(length);
    lib().pbkdf2Sha256.async(p, p.length, s, s.length, iterations, out, length, (err, rc) => {
      p.fill(0);
      if (err) reject(err);
      else if (rc !== 0) reject(pbkdf2Failed('pbkdf2Sha256Async'));
      else resolve(out);
    });
  });
}

// ---- Base64 --------------------------------------------------------------

function encoder(name, url) {
  return function encode(data) {
    const d = bytes(data, `${name}: data`);
    const out = Buffer.alloc(Math.ceil(d.length / 3) * 4 + 1);
    const f = lib();
    const rc = url ? f.base64urlEncode(d, d.length, out, out.length) : f.base64Encode(d, d.length, out, out.length);
    if (rc !== 0) throw new LibraryError(`${name}: the library failed`);
    return out.toString('latin1', 0, out.indexOf(0));
  };
}

function decoder(name, url) {
  return function decode(textValue) {
    let t;
    if (typeof textValue === 'string') t = Buffer.from(textValue, 'utf8');
    else if (textValue instanceof Uint8Array) t = bytes(textValue, `${name}: text`);
    else refuse(`${name}: text must be a string, Buffer or Uint8Array`);
    if (t.includes(0)) refuse(`${name}: text holds a NUL character`);
    const input = cString(t);
    const out = Buffer.alloc(Math.floor(t.length / 4) * 3 + 3);
    const len = new BigUint64Array(1);
    const f = lib();
    const rc = url ? f.base64urlDecode(input, out, out.length, len) : f.base64Decode(input, out, out.length, len);
    // With these arguments the decoders have one refusal, with one fixed
    // text: written here, not read from the library's shared error text.
    if (rc !== 0) refuse(`keldo_crypto_${url ? 'base64url' : 'base64'}_decode: decode failed or buffer too small`);
    return out.subarray(0, Number(len[0]));
  };
}

const base64Encode = encoder('base64Encode', false);
const base64Decode = decoder('base64Decode', false);
const base64urlEncode = encoder('base64urlEncode', true);
const base64urlDecode = decoder('base64urlDecode', true);

// ---- identifiers and comparison -----------------------------------------

function uuid4() {
  const out = Buffer.alloc(37);
  // The output is given, so the random source is the only failure.
  if (lib().uuidGenerate(out) !== 0) throw new LibraryError('keldo_crypto_uuid_generate: CSPRNG generation failed');
  return out.toString('latin1', 0, 36);
}

// Equal lengths are compared in constant time; the length itself is public.
function compareDigest(a, b) {
  const x = bytes(a, 'compareDigest: a');
  const y = bytes(b, 'compareDigest: b');
  if (x.length !== y.length) return false;
  if (x.length === 0) return true;
  return lib().secureCompare(x, y, x.length) === 0;
}

// ---- password hashes -----------------------------------------------------

function hashArgs(password, options, fn) {
  const p = bytes(password, `${fn}: password`);
  if (p.length === 0) refuse(`${fn}: the password is empty`);
  if (p.length > MAX_PASSWORD_BYTES) refuse(`${fn}: password is longer than ${MAX_PASSWORD_BYTES} bytes`);
  const iterations = options && options.iterations !== undefined ? options.iterations : DEFAULT_ITERATIONS;
  integer(iterations, 1, MAX_ITERATIONS, `${fn}: iterations`);
  return { p, iterations };
}

// PHC string format: $pbkdf2-sha256$i=N$SALT$HASH, SALT and HASH unpadded
// standard Base64 of 16 random bytes and the 32-byte derived key.
function hashPassword(password, options = undefined) {
  const { p, iterations } = hashArgs(password, options, 'hashPassword');
  const out = Buffer.alloc(PASSWORD_HASH_MAX);
  const rc = lib().passwordHash(p, p.length, iterations, out, out.length);
  if (rc !== 0) throw refusal(rc);
  return text(out);
}

function hashPasswordAsync(password, options = undefined) {
  return new Promise((resolve, reject) => {
    const { p, iterations } = hashArgs(password, options, 'hashPasswordAsync');
    // A private copy: the caller may reuse its buffer while the hash runs.
    const pw = Buffer.from(p);
    const out = Buffer.alloc(PASSWORD_HASH_MAX);
    lib().passwordHash.async(pw, pw.length, iterations, out, out.length, (err, rc) => {
      pw.fill(0);
      if (err) reject(err);
      else if (rc !== 0) reject(refusal(rc));
      else resolve(text(out));
    });
  });
}

function storedText(stored, fn) {
  if (typeof stored !== 'string') refuse(`${fn}: the stored hash must be a string`);
  // A NUL would end the C text early; such a string is no hash.
  if (stored.includes('\0')) throw new MalformedHashError(`${fn}: the stored hash holds a NUL character`);
  return stored;
}

function verifyResult(rc) {
  if (rc === 0) return true;
  if (statusKind(rc) === KIND_MISMATCH) return false;
  throw refusal(rc);
}

// Whether password matches stored, in any form the library reads: PHC
// ($pbkdf2-sha256$i=N$...), Django (pbkdf2_sha256$N$...), passlib
// ($pbkdf2-sha256$N$...) or Werkzeug (pbkdf2:sha256:N$...). A password over
// 4096 bytes never matches; a stored string that is no hash throws
// MalformedHashError.
function verifyPassword(password, stored) {
  const s = storedText(stored, 'verifyPassword');
  const p = bytes(password, 'verifyPassword: password');
  return verifyResult(lib().passwordVerify(p, p.length, s));
}

function verifyPasswordAsync(password, stored) {
  return new Promise((resolve, reject) => {
    const s = storedText(stored, 'verifyPasswordAsync');
    const pw = Buffer.from(bytes(password, 'verifyPasswordAsync: password'));
    lib().passwordVerify.async(pw, pw.length, s, (err, rc) => {
      pw.fill(0);
      if (err) reject(err);
      else {
        try {
          resolve(verifyResult(rc));
        } catch (e) {
          reject(e);
        }
      }
    });
  });
}

// Whether stored should be replaced by a fresh hashPassword() at the next
// successful login: not the PHC form, or fewer iterations than asked for.
function needsRehash(stored, options = undefined) {
  const s = storedText(stored, 'needsRehash');
  const iterations = options && options.iterations !== undefined ? options.iterations : DEFAULT_ITERATIONS;
  integer(iterations, 1, MAX_ITERATIONS, 'needsRehash: iterations');
  const rc = lib().passwordNeedsRehash(s, iterations);
  if (rc < 0) throw refusal(rc);
  return rc === 1;
}

module.exports = {
  loadLibrary,
  libraryBackend,
  jwtMint,
  jwtVerify,
  TokenKey,
  KeyRing,
  KEYS_MAX,
  pbkdf2Sha256,
  pbkdf2Sha256Async,
  hashPassword,
  hashPasswordAsync,
  verifyPassword,
  verifyPasswordAsync,
  needsRehash,
  sha256,
  hmacSha256,
  base64Encode,
  base64Decode,
  base64urlEncode,
  base64urlDecode,
  uuid4,
  compareDigest,
  KeldoError: errors.KeldoError,
  InvalidArgumentError,
  MalformedHashError,
  TokenError: errors.TokenError,
  MalformedTokenError,
  BadSignatureError: errors.BadSignatureError,
  TokenExpiredError: errors.TokenExpiredError,
  TokenNotYetValidError: errors.TokenNotYetValidError,
  InvalidClaimsError: errors.InvalidClaimsError,
  LibraryError,
  LibraryNotFoundError: errors.LibraryNotFoundError,
};
