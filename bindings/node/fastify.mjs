// ES module entry of keldo-crypto/fastify: the CommonJS module's exports.
import fastifyAuth from './lib/fastify.js';

export const { AuthenticationError } = fastifyAuth;
export { fastifyAuth };
export default fastifyAuth;
