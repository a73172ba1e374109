/// <reference types="node" />

import type { KeyObject } from 'node:crypto';

/** Bytes, or text taken as its UTF-8 bytes. */
export type BytesLike = Buffer | Uint8Array | string;
/** A token key: any bytes (NUL included), text as UTF-8, or a secret KeyObject. */
export type SecretLike = BytesLike | KeyObject;

export interface SecretOptions {
  /** Accept a secret shorter than 32 bytes (refused by default). */
  allowShortSecret?: boolean;
}

export interface Claims {
  readonly sub: string;
  readonly email: string;
  /** Expiry, Unix seconds. */
  readonly exp: number;
  /** The position of the key that matched in a KeyRing; 0 for a single secret or TokenKey. */
  readonly key: number;
}

/** The most keys a KeyRing holds. */
export const KEYS_MAX: number;

/** Prepared token keys: the library's keyed HMAC states, not the secret.
 * Read-only once made, so every worker and request shares one. */
declare abstract class PreparedKeys {
  /** A token signed with the first (current) key. */
  mint(sub: string, email: string, ttl?: number): string;
  /** The claims of token if one of the keys signed it; claims.key is its position. */
  verify(token: string | null | undefined): Claims;
  /** Wipes the key states; every later use throws. */
  dispose(): void;
  [Symbol.dispose](): void;
  readonly disposed: boolean;
}

/** One prepared key, made once at start-up. */
export class TokenKey extends PreparedKeys {
  constructor(secret: SecretLike, options?: SecretOptions);
}

/** The keys a service accepts, the current one first. Only a bad signature
 * tries the next key. */
export class KeyRing extends PreparedKeys {
  constructor(keys: ReadonlyArray<SecretLike | TokenKey>, options?: SecretOptions);
  readonly length: number;
}

/** What jwtMint and jwtVerify take as their key. */
export type TokenKeyLike = SecretLike | TokenKey | KeyRing;

/** Loads the shared library from path, or from the package's prebuilds/ for
 * this platform, KELDO_CRYPTO_LIBRARY, this package's folder, then the system
 * loader; where no native library is found (or KELDO_CRYPTO_BACKEND=wasm, or
 * path ends in .wasm), the package's WebAssembly module. Returns the path
 * loaded. */
export function loadLibrary(path?: string): string;

/** The backend serving the calls: the native library or the WebAssembly
 * module (loaded on this call if nothing was yet). */
export function libraryBackend(): 'native' | 'wasm';

/** An HS256 token for sub (< 64 UTF-8 bytes) and email (< 128), valid from
 * now for ttl seconds (default 3600). */
export function jwtMint(secret: TokenKeyLike, sub: string, email: string, ttl?: number,
                        options?: SecretOptions): string;
/** Verifies token against secret and the clock, token first as in jose and
 * jsonwebtoken; throws a TokenError subclass when it is refused (a missing
 * or empty token is a MalformedTokenError). */
export function jwtVerify(token: string | null | undefined, secret: TokenKeyLike,
                          options?: SecretOptions): Claims;

export function pbkdf2Sha256(password: BytesLike, salt: BytesLike, iterations: number,
                             length?: number): Buffer;
/** pbkdf2Sha256 on a worker thread, leaving the event loop free. */
export function pbkdf2Sha256Async(password: BytesLike, salt: BytesLike, iterations: number,
                                  length?: number): Promise<Buffer>;
/** `$pbkdf2-sha256$i=N$SALT$HASH` with a random 16-byte salt. */
export function hashPassword(password: BytesLike, options?: { iterations?: number }): string;
/** Checks a PHC (`$pbkdf2-sha256$i=N$...`), Django (`pbkdf2_sha256$...`),
 * passlib (`$pbkdf2-sha256$N$...`) or Werkzeug (`pbkdf2:sha256:N$...`) hash.
 * A password over 4096 bytes never matches; throws MalformedHashError when
 * stored is not such a hash. */
export function verifyPassword(password: BytesLike, stored: string): boolean;
/** Whether stored should be replaced by hashPassword() at the next login:
 * not the PHC form, or fewer iterations than options.iterations (600000). */
export function needsRehash(stored: string, options?: { iterations?: number }): boolean;
/** hashPassword and verifyPassword with the derivation on a worker thread;
 * refusals reject the promise. */
export function hashPasswordAsync(password: BytesLike, options?: { iterations?: number }): Promise<string>;
export function verifyPasswordAsync(password: BytesLike, stored: string): Promise<boolean>;

export function sha256(data: BytesLike): Buffer;
export function hmacSha256(key: BytesLike, data: BytesLike): Buffer;

export function base64Encode(data: BytesLike): string;
export function base64Decode(text: string | Uint8Array): Buffer;
export function base64urlEncode(data: BytesLike): string;
export function base64urlDecode(text: string | Uint8Array): Buffer;

export function uuid4(): string;
/** Constant-time equality of equal-length inputs; false when lengths differ. */
export function compareDigest(a: BytesLike, b: BytesLike): boolean;

export type KeldoErrorCode =
  | 'ERR_KELDO_MALFORMED'
  | 'ERR_KELDO_BAD_SIGNATURE'
  | 'ERR_KELDO_EXPIRED'
  | 'ERR_KELDO_NOT_YET_VALID'
  | 'ERR_KELDO_INVALID_CLAIMS'
  | 'ERR_KELDO_INVALID_ARGUMENT'
  | 'ERR_KELDO_MALFORMED_HASH'
  | 'ERR_KELDO_LIBRARY_NOT_FOUND'
  | 'ERR_KELDO_FAILED'
  // keldo-crypto/express and keldo-crypto/fastify: no token, a malformed header
  | 'ERR_KELDO_CREDENTIALS_REQUIRED'
  | 'ERR_KELDO_INVALID_REQUEST';

export class KeldoError extends Error {
  readonly code: KeldoErrorCode;
}
export class InvalidArgumentError extends KeldoError {}
/** A stored password hash that is no usable hash (not a wrong password). */
export class MalformedHashError extends InvalidArgumentError {}
export class TokenError extends KeldoError {}
export class MalformedTokenError extends TokenError {}
export class BadSignatureError extends TokenError {}
export class TokenExpiredError extends TokenError {}
export class TokenNotYetValidError extends TokenError {}
export class InvalidClaimsError extends TokenError {}
/** The library itself failed (memory, random source); not a refusal. */
export class LibraryError extends KeldoError {}
/** The shared library was not found or could not be loaded: install it, set
 * KELDO_CRYPTO_LIBRARY, or call loadLibrary(path) first. */
export class LibraryNotFoundError extends KeldoError {}
