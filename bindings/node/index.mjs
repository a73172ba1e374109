// ES module entry: the same functions and classes as the CommonJS module.
import keldo from './index.js';

export const {
  loadLibrary, libraryBackend, jwtMint, jwtVerify, TokenKey, KeyRing, KEYS_MAX, pbkdf2Sha256, pbkdf2Sha256Async,
  hashPassword, hashPasswordAsync,
  verifyPassword, verifyPasswordAsync, needsRehash, sha256, hmacSha256,
  base64Encode, base64Decode, base64urlEncode, base64urlDecode, uuid4, compareDigest,
  KeldoError, InvalidArgumentError, MalformedHashError, TokenError, MalformedTokenError, BadSignatureError,
  TokenExpiredError, TokenNotYetValidError, InvalidClaimsError, LibraryError, LibraryNotFoundError,
} = keldo;
export default keldo;
