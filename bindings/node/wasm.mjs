// keldo-crypto/wasm as an ES module in Node.js (see wasm.js).
import keldo from './wasm.js';

export const {
  loadLibrary, libraryBackend, jwtMint, jwtVerify, TokenKey, KeyRing, KEYS_MAX, pbkdf2Sha256, pbkdf2Sha256Async,
  hashPassword, hashPasswordAsync,
  verifyPassword, verifyPasswordAsync, needsRehash, sha256, hmacSha256,
  base64Encode, base64Decode, base64urlEncode, base64urlDecode, uuid4, compareDigest,
  KeldoError, InvalidArgumentError, MalformedHashError, TokenError, MalformedTokenError, BadSignatureError,
  TokenExpiredError, TokenNotYetValidError, InvalidClaimsError, LibraryError, LibraryNotFoundError,
} = keldo;
export default keldo;
