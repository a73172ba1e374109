// Each line must be refused by tsc --strict (types.test.js counts the errors).
import { expressAuth } from 'keldo-crypto/express';
import fastifyAuth from 'keldo-crypto/fastify';
import Fastify from 'fastify';

expressAuth({ keys: 42 });                                   // a key is bytes, text or a KeyObject
expressAuth({ secret: 'k'.repeat(32) });                     // keys is required
Fastify().register(fastifyAuth, { keys: 'k'.repeat(32), hook: 'preSerialization' });  // not an auth hook
const notString: string = Fastify().authenticate({} as never).sub;  // the claims may be null
