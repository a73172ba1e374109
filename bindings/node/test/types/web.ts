// Compiled with tsc --strict by types.test.js: the framework components as
// their documentation uses them, against Express's and Fastify's own types.
import express from 'express';
import Fastify from 'fastify';
import { createSecretKey } from 'node:crypto';
import { expressAuth, AuthenticationError } from 'keldo-crypto/express';
import fastifyAuth from 'keldo-crypto/fastify';
import { KeyRing, TokenKey } from 'keldo-crypto';

const current = createSecretKey(Buffer.alloc(32, 1));
const app = express();
app.use('/api', expressAuth({ keys: [current, 'p'.repeat(32)], realm: 'api' }));
app.use('/maybe', expressAuth({ keys: new TokenKey(current), optional: true, getToken: (req) => req.query?.token }));
app.get('/api/me', (req, res) => {
  const sub: string | undefined = req.auth?.sub;
  const key: number | undefined = req.auth?.key;
  res.json({ sub, key });
});
app.use((err: unknown, req: express.Request, res: express.Response, next: express.NextFunction) => {
  if (err instanceof AuthenticationError) {
    res.status(err.status).set(err.headers).json({ error: err.bearerError, code: err.code });
  } else {
    next(err);
  }
});

const f = Fastify();
f.register(fastifyAuth, { keys: new KeyRing([new TokenKey(current), 'p'.repeat(32)]), hook: 'onRequest' }).after(() => {
  f.get('/api/me', { onRequest: f.authenticate }, async (request) => {
    const exp: number | undefined = request.auth?.exp;
    return { exp };
  });
  f.get('/api/inline', async (request, reply) => {
    const claims = f.authenticate(request, reply);
    return { email: claims?.email };
  });
});
