// keldo-crypto/express and keldo-crypto/fastify beyond the differential
// table: what an application's own error handler receives, that nothing is
// left on the request after a refusal, the opt-ins (getToken, realm, a
// Fastify scope hook), configuration refused at start, and both module
// systems. Every server listens on 127.0.0.1 and is driven over HTTP.
import test from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import { once } from 'node:events';
import { randomBytes } from 'node:crypto';
import * as k from 'keldo-crypto';
import { expressAuth, AuthenticationError } from 'keldo-crypto/express';
import fastifyAuth from 'keldo-crypto/fastify';
import { rawRequest } from './web/servers.mjs';
import { makeTokens } from './web/cases.mjs';

const require = createRequire(import.meta.url);
const Fastify = require('fastify');
const EXPRESS = { 'Express 4': require('express4'), 'Express 5': require('express') };

const secret = randomBytes(32);
const valid = () => k.jwtMint(secret, 'user-7', 'u7@example.org', 600);
const bearer = (t) => [`Authorization: Bearer ${t}`];

async function serve(app) {
  const server = app.listen(0, '127.0.0.1');
  await once(server, 'listening');
  return { port: server.address().port, close: () => new Promise((r) => { server.closeAllConnections(); server.close(r); }) };
}

async function serveFastify(app) {
  await app.listen({ port: 0, host: '127.0.0.1' });
  return { port: app.server.address().port, close: () => app.close() };
}

for (const [version, express] of Object.entries(EXPRESS)) {
  test(`${version}: an application's error handler gets the refusal with its status, code and cause`, async () => {
    const app = express();
    app.set('env', 'test');  // the default error handler answers without logging
    const seen = [];
    app.use((req, res, next) => { req.auth = { sub: 'left over' }; next(); });  // an earlier middleware's value
    app.use('/api', expressAuth({ keys: secret, realm: 'example' }));
    app.get('/api/me', (req, res) => res.json(req.auth));
    app.use((err, req, res, next) => {
      seen.push({ err, auth: req.auth });
      if (!(err instanceof AuthenticationError)) return next(err);
      res.status(err.status).set(err.headers).json({ error: err.bearerError ?? null, code: err.code });
      return undefined;
    });
    const s = await serve(app);
    try {
      const { expired } = await makeTokens(secret);
      const rows = [
        [[], 401, 'Bearer realm="example"', { error: null, code: 'ERR_KELDO_CREDENTIALS_REQUIRED' }, undefined],
        [bearer(expired), 401, 'Bearer realm="example", error="invalid_token", error_description="the token has expired"',
          { error: 'invalid_token', code: 'ERR_KELDO_EXPIRED' }, k.TokenExpiredError],
        [bearer(`${valid()} x`), 400, 'Bearer realm="example", error="invalid_request", error_description="the Authorization header must hold one bearer token"',
          { error: 'invalid_request', code: 'ERR_KELDO_INVALID_REQUEST' }, undefined],
      ];
      for (const [headers, status, challenge, body, Cause] of rows) {
        seen.length = 0;
        const r = await rawRequest(s.port, { headers });
        assert.equal(r.status, status);
        assert.equal(r.headers['www-authenticate'], challenge);
        assert.deepEqual(JSON.parse(r.body), body);
        const [{ err, auth }] = seen;
        assert.ok(err instanceof AuthenticationError && err instanceof k.KeldoError);
        assert.equal(err.statusCode, status);
        assert.equal(auth, undefined, 'nothing left on the request');
        if (Cause) assert.ok(err.cause instanceof Cause);
        else assert.equal(err.cause, undefined);
      }
      const ok = await rawRequest(s.port, { headers: bearer(valid()) });
      assert.equal(ok.status, 200);
      assert.equal(JSON.parse(ok.body).sub, 'user-7');
    } finally {
      await s.close();
    }
  });

  test(`${version}: optional mode replaces what an earlier middleware left, and getToken is an explicit opt-in`, async () => {
    const app = express();
    app.set('env', 'test');  // the default error handler answers without logging
    app.use((req, res, next) => { req.auth = { sub: 'forged' }; next(); });
    app.use('/opt', expressAuth({ keys: [secret], optional: true }));
    app.use('/cookie', expressAuth({
      keys: secret,
      getToken: (req) => /(?:^|; )token=([^;]*)/.exec(req.headers.cookie ?? '')?.[1],
    }));
    app.get('/opt/me', (req, res) => res.json({ auth: req.auth ?? null }));
    app.get('/cookie/me', (req, res) => res.json({ auth: req.auth }));
    const s = await serve(app);
    try {
      for (const headers of [[], bearer('garbage'), bearer(k.jwtMint('x'.repeat(32), 'a', 'b'))]) {
        const r = await rawRequest(s.port, { path: '/opt/me', headers });
        assert.equal(r.status, 200);
        assert.deepEqual(JSON.parse(r.body), { auth: null });
      }
      const t = valid();
      const c = await rawRequest(s.port, { path: '/cookie/me', headers: [`Cookie: a=1; token=${t}`] });
      assert.equal(JSON.parse(c.body).auth.email, 'u7@example.org');
      // With getToken the header is not read: the app chose where the token comes from.
      const h = await rawRequest(s.port, { path: '/cookie/me', headers: bearer(t) });
      assert.equal(h.status, 401);
      assert.equal(h.headers['www-authenticate'], 'Bearer');
    } finally {
      await s.close();
    }
  });
}

test('Fastify: a scope hook protects its routes only, refusals are Fastify errors, request.auth is null after one', async () => {
  const app = Fastify();
  const seen = [];
  app.addHook('onError', async (req, reply, err) => { seen.push({ err, auth: req.auth }); });
  await app.register(async (api) => {
    await api.register(fastifyAuth, { keys: [secret], hook: 'onRequest' });
    api.get('/api/me', async (req) => req.auth);
    api.get('/api/inline', async (req, reply) => ({ again: api.authenticate(req, reply).sub }));
  });
  app.get('/public', async (req) => ({ auth: req.auth ?? 'not decorated here' }));
  const s = await serveFastify(app);
  try {
    const ok = await rawRequest(s.port, { headers: bearer(valid()) });
    assert.equal(ok.status, 200);
    assert.deepEqual(Object.keys(JSON.parse(ok.body)), ['sub', 'email', 'exp', 'key']);
    const inline = await rawRequest(s.port, { path: '/api/inline', headers: bearer(valid()) });
    assert.deepEqual(JSON.parse(inline.body), { again: 'user-7' });
    const pub = await rawRequest(s.port, { path: '/public' });
    assert.equal(pub.status, 200);

    const bad = await rawRequest(s.port, { headers: bearer(k.jwtMint('x'.repeat(32), 'a', 'b')) });
    assert.equal(bad.status, 401);
    assert.equal(bad.headers['www-authenticate'], 'Bearer error="invalid_token", error_description="bad signature"');
    assert.deepEqual(JSON.parse(bad.body), { statusCode: 401, code: 'ERR_KELDO_BAD_SIGNATURE', error: 'Unauthorized',
      message: 'bearer token refused: bad signature' });
    const [{ err, auth }] = seen;
    assert.ok(err instanceof AuthenticationError && err.cause instanceof k.BadSignatureError);
    assert.equal(auth, null);
  } finally {
    await s.close();
  }
});

test('a key ring: the previous key still works and is named, given as secrets, TokenKeys or a KeyRing', async () => {
  const previous = randomBytes(32);
  const retired = randomBytes(32);
  const rings = {
    'an array of secrets': [secret, previous],
    'an array of TokenKeys and secrets': [new k.TokenKey(secret), previous],
    'a KeyRing': new k.KeyRing([secret, previous]),
  };
  for (const [what, keys] of Object.entries(rings)) {
    const app = EXPRESS['Express 5']();
    app.set('env', 'test');
    app.use(expressAuth({ keys }));
    app.get('/me', (req, res) => res.json(req.auth));
    const f = Fastify();
    await f.register(fastifyAuth, { keys, hook: 'onRequest' });
    f.get('/me', async (req) => req.auth);
    const servers = [await serve(app), await serveFastify(f)];
    try {
      for (const s of servers) {
        for (const [signer, status, key] of [[secret, 200, 0], [previous, 200, 1], [retired, 401, undefined]]) {
          const r = await rawRequest(s.port, { path: '/me', headers: bearer(k.jwtMint(signer, 'user-7', 'u7@example.org', 60)) });
          assert.equal(r.status, status, what);
          if (status === 200) assert.deepEqual(JSON.parse(r.body), { sub: 'user-7', email: 'u7@example.org', exp: JSON.parse(r.body).exp, key }, what);
        }
      }
    } finally {
      await Promise.all(servers.map((s) => s.close()));
    }
  }
  // Closing Fastify wipes the ring the plugin made, not one it was given.
  assert.equal(rings['a KeyRing'].disposed, false);
});

test('a key ring disposed under a running server is a fault (500), never a 401 nor an acceptance', async () => {
  const ring = new k.KeyRing([secret]);
  const app = EXPRESS['Express 5']();
  app.set('env', 'test');
  app.use(expressAuth({ keys: ring }));
  app.get('/me', (req, res) => res.json(req.auth));
  const s = await serve(app);
  try {
    ring.dispose();
    const r = await rawRequest(s.port, { path: '/me', headers: bearer(valid()) });
    assert.equal(r.status, 500);
    assert.equal(r.headers['www-authenticate'], undefined);
  } finally {
    await s.close();
  }
});

test('configuration is refused when the component is made, not at the first request', async () => {
  const cases = [
    [{}, /keys is required/],
    [{ keys: [] }, /keys is empty/],
    [{ keys: Array(17).fill(secret) }, /1 to 16 keys/],
    [{ keys: 'short' }, /shorter than 32 bytes/],
    [{ keys: 42 }, /must be a string, Buffer or Uint8Array/],
    [{ keys: secret, realm: 'a"b' }, /realm must be text/],
    [{ keys: secret, getToken: 'cookie' }, /getToken must be a function/],
  ];
  for (const [options, message] of cases) {
    assert.throws(() => expressAuth(options), (e) => e instanceof k.InvalidArgumentError && message.test(e.message), message);
    await assert.rejects(Fastify().register(fastifyAuth, options).ready(), message);
  }
  await assert.rejects(Fastify().register(fastifyAuth, { keys: secret, hook: 'onSend' }).ready(), /hook must be/);
  assert.doesNotThrow(() => expressAuth({ keys: 'short', allowShortSecret: true }));
});

test('CommonJS and ES module entries are the same functions and classes', async () => {
  const cjsExpress = require('keldo-crypto/express');
  const cjsFastify = require('keldo-crypto/fastify');
  assert.equal(cjsExpress.expressAuth, expressAuth);
  assert.equal(cjsExpress.AuthenticationError, AuthenticationError);
  assert.equal(cjsFastify, fastifyAuth);
  assert.equal(cjsFastify.fastifyAuth, fastifyAuth);
  assert.equal((await import('keldo-crypto/fastify')).AuthenticationError, AuthenticationError);
  // The error classes are those of the main entry, whichever way it is loaded.
  assert.ok(Object.getPrototypeOf(AuthenticationError) === require('keldo-crypto').KeldoError);
});
