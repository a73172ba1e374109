// ES module entry of keldo-crypto/express: the CommonJS module's exports.
import express from './lib/express.js';

export const { expressAuth, AuthenticationError } = express;
export default expressAuth;
