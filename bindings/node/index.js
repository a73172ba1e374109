'use strict';
// keldo-crypto for Node.js: the library's thirteen functions behind an API
// that cannot misuse them. Policy lives here (argument checks, secret rules,
// the lock, error classes, password hash strings); lib/native.js only
// declares the C functions.
//
// The lock (lib/lock.js) is held around each call that can write the
// library's process-wide error text together with its read of that text,
// and around keldo_jwt_mint together with the copy of its token. Calls that
// cannot fail with valid arguments (hashes, PBKDF2, encoding, the constant-
// time comparison) run without it.
const { randomBytes } = require('node:crypto');
const native = require('./lib/native');
const { locked } = require('./lib/lock');
const errors = require('./lib/errors');

const {
  InvalidArgumentError, MalformedTokenError, LibraryError, verifyError,
} = errors;

const MIN_SECRET_BYTES = 32;     // HS256 key as long as its output
const SUB_CAPACITY = 64;         // the verifier's buffers, NUL included
const EMAIL_CAPACITY = 128;
const MAX_TTL = 0xffffffff;
const MAX_PBKDF2_LENGTH = Math.min(0xffffffff * 32, require('node:buffer').constants.MAX_LENGTH);
// The command-line tool's bounds for password hashes.
const DEFAULT_ITERATIONS = 600000;  // OWASP's figure for PBKDF2-HMAC-SHA256
const MAX_ITERATIONS = 100000000;
const SALT_BYTES = 16;
const HASH_BYTES = 32;
const MAX_PASSWORD_BYTES = 4096;
const MAX_FIELD = 1024;

let fns = null;
let loadedPath = null;

// Loads the library from path (or, without one, from KELDO_CRYPTO_LIBRARY,
// this package's folder, then the system loader). Every function loads it on
// first use; call this first to choose the file. Returns the path loaded.
function loadLibrary(path) {
  if (fns !== null) {
    if (path && path !== loadedPath) {
      throw new InvalidArgumentError(`loadLibrary: the library is already loaded from ${loadedPath}`);
    }
    return loadedPath;
  }
  const { lib, path: p } = native.open(path);
  fns = native.bind(lib);
  loadedPath = p;
  return p;
}

function lib() {
  if (fns === null) loadLibrary();
  return fns;
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
function bytes(value, what) {
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

// The library reads the secret as a C string: a NUL would cut it short.
function checkedSecret(secret, allowShort, fn) {
  const key = bytes(secret, `${fn}: secret`);
  if (key.length === 0) refuse(`${fn}: secret is empty`);
  if (key.includes(0)) refuse(`${fn}: secret holds a NUL byte`);
  if (key.length < MIN_SECRET_BYTES && !allowShort) {
    refuse(`${fn}: secret is shorter than ${MIN_SECRET_BYTES} bytes (pass { allowShortSecret: true } to accept it)`);
  }
  return cString(key);
}

// A host signs and verifies with one key: the last text secret is kept
// checked and converted (strings cannot change; Buffers can, so they are
// checked on every call).
let cachedSecret = null;
let cachedSecretC = null;

function secretBytes(secret, options, fn) {
  const allowShort = options !== undefined && options !== null && options.allowShortSecret === true;
  if (typeof secret === 'string' && secret === cachedSecret &&
      (allowShort || cachedSecretC.length > MIN_SECRET_BYTES)) {
    return cachedSecretC;
  }
  const c = checkedSecret(secret, allowShort, fn);
  if (typeof secret === 'string') {
    cachedSecret = secret;
    cachedSecretC = c;
  }
  return c;
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

function jwtMint(secret, sub, email, ttl = 3600, options = undefined) {
  const key = secretBytes(secret, options, 'jwtMint');
  claimText(sub, 'sub', SUB_CAPACITY);
  claimText(email, 'email', EMAIL_CAPACITY);
  integer(ttl, 0, MAX_TTL, 'jwtMint: ttl');
  const f = lib();
  return locked(() => {
    const token = f.jwtMint(key, sub, email, ttl);
    if (token === null) throw new LibraryError(f.lastError());
    return token;
  });
}

// Output buffers of jwtVerify, reused: each thread has its own copy of this
// module and the call is synchronous, so no two calls share them.
const claimsOut = Buffer.alloc(SUB_CAPACITY + EMAIL_CAPACITY);
const subOut = claimsOut.subarray(0, SUB_CAPACITY);
const emailOut = claimsOut.subarray(SUB_CAPACITY);
const expOut = new BigInt64Array(1);
const MIN_SAFE = BigInt(Number.MIN_SAFE_INTEGER);
const MAX_SAFE = BigInt(Number.MAX_SAFE_INTEGER);

function jwtVerify(secret, token, options = undefined) {
  const key = secretBytes(secret, options, 'jwtVerify');
  if (typeof token !== 'string') refuse('jwtVerify: token must be a string');
  if (token.includes('\0')) throw new MalformedTokenError('jwtVerify: token holds a NUL character');
  // A lone surrogate has no UTF-8 form; such a token is not Base64 anyway.
  if (!wellFormed(token)) throw new MalformedTokenError('jwtVerify: token is not well-formed Unicode text');
  const f = lib();
  const message = locked(() => (f.jwtVerify(key, token, subOut, emailOut, expOut) === 0 ? null : f.lastError()));
  if (message !== null) throw verifyError(message);
  const e = expOut[0];
  return Object.freeze({
    sub: text(subOut),
    email: text(emailOut),
    // seconds since 1970; a BigInt only past 2^53, where a number would round
    exp: e >= MIN_SAFE && e <= MAX_SAFE ? Number(e) : e,
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

// The arguments are checked here, so the library's own refusal (the only one
// that writes its error text) cannot happen; what remains is an allocation
// failure inside it, which writes none. So neither form takes the lock.
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
    const message = locked(() => {
      const rc = url ? f.base64urlDecode(input, out, out.length, len) : f.base64Decode(input, out, out.length, len);
      return rc === 0 ? null : f.lastError();
    });
    if (message !== null) refuse(message);
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
  const f = lib();
  const message = locked(() => (f.uuidGenerate(out) === 0 ? null : f.lastError()));
  if (message !== null) throw new LibraryError(message);
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

function passwordBytes(password, fn, allowEmpty) {
  const p = bytes(password, `${fn}: password`);
  if (!allowEmpty && p.length === 0) refuse(`${fn}: the password is empty`);
  if (p.length > MAX_PASSWORD_BYTES) refuse(`${fn}: password is longer than ${MAX_PASSWORD_BYTES} bytes`);
  return p;
}

// PHC string format: $pbkdf2-sha256$i=N$SALT$HASH, SALT and HASH unpadded
// standard Base64 of 16 random bytes and the 32-byte derived key.
function hashParams(password, options, fn) {
  const p = passwordBytes(password, fn, false);
  const iterations = options && options.iterations !== undefined ? options.iterations : DEFAULT_ITERATIONS;
  integer(iterations, 1, MAX_ITERATIONS, `${fn}: iterations`);
  return { p, iterations, salt: randomBytes(SALT_BYTES) };
}

function phcString(iterations, salt, dk) {
  const unpadded = (b) => base64Encode(b).replace(/=+$/, '');
  const stored = `$pbkdf2-sha256$i=${iterations}$${unpadded(salt)}$${unpadded(dk)}`;
  dk.fill(0);
  return stored;
}

function hashPassword(password, options = undefined) {
  const { p, iterations, salt } = hashParams(password, options, 'hashPassword');
  return phcString(iterations, salt, pbkdf2Sha256(p, salt, iterations, HASH_BYTES));
}

async function hashPasswordAsync(password, options = undefined) {
  const { p, iterations, salt } = hashParams(password, options, 'hashPasswordAsync');
  return phcString(iterations, salt, await pbkdf2Sha256Async(p, salt, iterations, HASH_BYTES));
}

function parseIterations(field) {
  if (!/^[0-9]{1,9}$/.test(field)) return 0;
  const v = Number(field);
  return v >= 1 && v <= MAX_ITERATIONS ? v : 0;
}

// A field of standard Base64, unpadded (or padded when padOk), in its one
// canonical spelling. null when it is not.
function base64Field(field, padOk) {
  if (field.length === 0 || field.length > MAX_FIELD) return null;
  const body = padOk ? field.replace(/=+$/, '') : field;
  const pad = field.length - body.length;
  if (pad > 2 || !/^[A-Za-z0-9+/]*$/.test(body)) return null;
  if (pad > 0 && field.length % 4 !== 0) return null;
  let decoded;
  try {
    decoded = base64Decode(field);
  } catch (e) {
    if (e instanceof InvalidArgumentError) return null;
    throw e;
  }
  const again = base64Encode(decoded);
  return (pad > 0 ? again : again.replace(/=+$/, '')) === field ? decoded : null;
}

function notAHash(fn, detail) {
  refuse(`${fn}: ${detail}`);
}

// Parses the stored hash first (a string that is not one is refused with an
// InvalidArgumentError, not compared): { p, iterations, salt, expected }.
function parseStored(password, stored, fn) {
  if (typeof stored !== 'string') refuse(`${fn}: stored hash must be a string`);
  const p = passwordBytes(password, fn, true);
  const s = stored.replace(/[ \t]+$/, '');
  const f = s.split('$');
  let iterations;
  let salt;
  let expected;
  if (s.startsWith('$pbkdf2-sha256$')) {
    if (f.length !== 5 || !f[2].startsWith('i=') || !(iterations = parseIterations(f[2].slice(2)))) {
      notAHash(fn, 'not a valid $pbkdf2-sha256$i=N$SALT$HASH string');
    }
    salt = base64Field(f[3], false);
    expected = base64Field(f[4], false);
    if (salt === null || expected === null) notAHash(fn, 'salt or hash of the $pbkdf2-sha256$ string is not unpadded Base64');
    if (expected.length !== HASH_BYTES) notAHash(fn, 'hash of the $pbkdf2-sha256$ string is not 32 bytes');
  } else if (s.startsWith('pbkdf2_sha256$')) {
    // Django: the salt is used as its text; HASH is padded Base64.
    if (f.length !== 4 || !(iterations = parseIterations(f[1])) || f[2].length === 0 || f[2].length > MAX_FIELD) {
      notAHash(fn, 'not a valid pbkdf2_sha256$N$SALT$HASH string');
    }
    salt = bytes(f[2], `${fn}: salt`);
    expected = base64Field(f[3], true);
    if (expected === null || expected.length !== HASH_BYTES) notAHash(fn, 'hash of the pbkdf2_sha256$ string is not Base64 of 32 bytes');
  } else {
    notAHash(fn, 'unrecognised hash; expected $pbkdf2-sha256$i=N$SALT$HASH or pbkdf2_sha256$N$SALT$HASH');
  }
  return { p, iterations, salt, expected };
}

// Constant time; keldo_crypto_secure_compare never writes the error text.
function sameKey(dk, expected) {
  const match = lib().secureCompare(dk, expected, HASH_BYTES) === 0;
  dk.fill(0);
  return match;
}

// Whether password matches a PHC or Django PBKDF2-SHA256 string.
function verifyPassword(password, stored) {
  const { p, iterations, salt, expected } = parseStored(password, stored, 'verifyPassword');
  return sameKey(pbkdf2Sha256(p, salt, iterations, HASH_BYTES), expected);
}

async function verifyPasswordAsync(password, stored) {
  const { p, iterations, salt, expected } = parseStored(password, stored, 'verifyPasswordAsync');
  return sameKey(await pbkdf2Sha256Async(p, salt, iterations, HASH_BYTES), expected);
}

module.exports = {
  loadLibrary,
  jwtMint,
  jwtVerify,
  pbkdf2Sha256,
  pbkdf2Sha256Async,
  hashPassword,
  hashPasswordAsync,
  verifyPassword,
  verifyPasswordAsync,
  sha256,
  hmacSha256,
  base64Encode,
  base64Decode,
  base64urlEncode,
  base64urlDecode,
  uuid4,
  compareDigest,
  ...errors,
};
delete module.exports.verifyError;
