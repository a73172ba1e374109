// The browser and Deno entry (keldo-crypto/wasm outside Node.js), bundled by
// web/build.mjs into dist/keldo-crypto.mjs: index.js's API over the
// WebAssembly module, with no require() and no node: import. The module is
// fetched beside the bundle (wasm/keldo_crypto.wasm in the package) and
// compiled while it streams in; the import finishes once it is ready.
import core from '../lib/wasm-core.js';
import backend from './backend.js';
import keldo from '../index.js';

const url = new URL('../wasm/keldo_crypto.wasm', import.meta.url);
const { fns } = await core.instantiate(fetch(url));
backend.preload(fns, url.href);

export const {
  loadLibrary, libraryBackend, jwtMint, jwtVerify, TokenKey, KeyRing, KEYS_MAX, pbkdf2Sha256, pbkdf2Sha256Async,
  hashPassword, hashPasswordAsync,
  verifyPassword, verifyPasswordAsync, needsRehash, sha256, hmacSha256,
  base64Encode, base64Decode, base64urlEncode, base64urlDecode, uuid4, compareDigest,
  KeldoError, InvalidArgumentError, MalformedHashError, TokenError, MalformedTokenError, BadSignatureError,
  TokenExpiredError, TokenNotYetValidError, InvalidClaimsError, LibraryError, LibraryNotFoundError,
} = keldo;
export default keldo;
