// keldo-crypto/fastify: bearer authentication for Fastify 5.
import type { FastifyPluginCallback, FastifyReply, FastifyRequest, HookHandlerDoneFunction } from 'fastify';
import type { AuthClaims, AuthOptions } from './lib/bearer.js';

export type { AuthClaims, AuthKeys, AuthOptions } from './lib/bearer.js';
export { AuthenticationError } from './lib/bearer.js';

export interface FastifyAuthOptions extends AuthOptions<FastifyRequest> {
  /** The instance decorator's name ('authenticate' by default). */
  decorator?: string;
  /** Authenticate every route of the registering scope in this hook. */
  hook?: 'onRequest' | 'preHandler';
}

/** As a hook it calls done; called without done it returns the claims (null
 * in optional mode when no valid token came) or throws the refusal. */
export interface Authenticate {
  (request: FastifyRequest, reply: FastifyReply, done: HookHandlerDoneFunction): void;
  (request: FastifyRequest, reply?: FastifyReply): AuthClaims | null;
}

declare module 'fastify' {
  interface FastifyRequest {
    /** The claims once authenticated, null otherwise. */
    auth: AuthClaims | null;
  }
  interface FastifyInstance {
    authenticate: Authenticate;
  }
}

export const fastifyAuth: FastifyPluginCallback<FastifyAuthOptions>;
export default fastifyAuth;
