/// <reference types="node" />
// Declarations shared by keldo-crypto/express and keldo-crypto/fastify.
import type { IncomingMessage } from 'node:http';
import type { Claims, KeldoError, KeldoErrorCode, SecretLike, SecretOptions, TokenKey, TokenKeyLike } from '../index.js';

/** The claims of an accepted token; `key` is the position in `keys` of the
 * key that matched (0 for the current key). */
export type AuthClaims = Claims;

/** What `keys` takes: a secret, a TokenKey or KeyRing, or an array of
 * secrets and TokenKeys, the current one first. */
export type AuthKeys = TokenKeyLike | ReadonlyArray<SecretLike | TokenKey>;

export interface AuthOptions<Req = IncomingMessage & Record<string, any>> extends SecretOptions {
  keys: AuthKeys;
  /** Claims when a valid token came, null otherwise: never a refusal. */
  optional?: boolean;
  /** The realm of the WWW-Authenticate challenge. */
  realm?: string;
  /** Reads the token from elsewhere (a cookie, the query string) in place of
   * the Authorization header; nothing returned means no credentials. */
  getToken?: (req: Req) => string | null | undefined;
}

/** A refused request: status 401 (no or a refused token) or 400 (a
 * malformed Authorization header), with its WWW-Authenticate challenge. */
export class AuthenticationError extends KeldoError {
  readonly status: 400 | 401;
  readonly statusCode: 400 | 401;
  readonly expose: true;
  readonly headers: { 'WWW-Authenticate': string };
  /** RFC 6750's error code; undefined when no credentials came. */
  readonly bearerError: 'invalid_token' | 'invalid_request' | undefined;
  /** For a refused token: the TokenError that jwtVerify threw. */
  readonly cause?: unknown;
  readonly code: KeldoErrorCode;
}
