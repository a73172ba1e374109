/// <reference types="node" />
// keldo-crypto/express: bearer authentication for Express 4 and 5.
import type { IncomingMessage, ServerResponse } from 'node:http';
import type { AuthClaims, AuthOptions } from './lib/bearer.js';

export type { AuthClaims, AuthKeys, AuthOptions } from './lib/bearer.js';
export { AuthenticationError } from './lib/bearer.js';

declare global {
  namespace Express {
    interface Request {
      /** Set by expressAuth() when the request carried a valid token. */
      auth?: AuthClaims;
    }
  }
}

/** A middleware that puts the token's claims on req.auth, or passes an
 * AuthenticationError (status, WWW-Authenticate header) to next(). */
export function expressAuth(options: AuthOptions):
  (req: IncomingMessage & { auth?: AuthClaims }, res: ServerResponse, next: (err?: unknown) => void) => void;
export default expressAuth;
