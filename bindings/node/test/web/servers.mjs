// The servers the web tests and the benchmark drive over loopback: our
// components in Express 4, Express 5 and Fastify 5, and the stacks
// applications use today (express-jwt on Express 4 and 5, @fastify/jwt on
// Fastify), each verifying HS256 with our issuer. Every server has the same
// routes: /api/me (protected; answers the claims), /opt/me (optional
// authentication; the claims or null) and /public.
import { createRequire } from 'node:module';
import net from 'node:net';
import { createSecretKey } from 'node:crypto';
import { once } from 'node:events';
import { expressAuth } from 'keldo-crypto/express';
import fastifyAuth from 'keldo-crypto/fastify';

const require = createRequire(import.meta.url);
const express5 = require('express');
const express4 = require('express4');
const { expressjwt } = require('express-jwt');
const Fastify = require('fastify');
const fastifyJwt = require('@fastify/jwt');

function ourExpress(express, keys) {
  const app = express();
  app.set('env', 'test');  // the default error handler answers without logging
  app.use('/api', expressAuth({ keys }));
  app.use('/opt', expressAuth({ keys, optional: true }));
  app.get('/api/me', (req, res) => res.json(req.auth));
  app.get('/opt/me', (req, res) => res.json(req.auth ?? null));
  app.get('/public', (req, res) => res.send('ok'));
  return app;
}

// express-jwt as its README configures it, at its fastest: a KeyObject
// secret (jsonwebtoken converts a Buffer or string one on every call).
function peerExpress(express, secret) {
  const app = express();
  app.set('env', 'test');
  const options = { secret, algorithms: ['HS256'], issuer: 'keldo' };
  app.use('/api', expressjwt(options));
  app.use('/opt', expressjwt({ ...options, credentialsRequired: false }));
  app.get('/api/me', (req, res) => res.json(req.auth));
  app.get('/opt/me', (req, res) => res.json(req.auth ?? null));
  app.get('/public', (req, res) => res.send('ok'));
  return app;
}

async function ourFastify(keys) {
  const app = Fastify();
  await app.register(fastifyAuth, { keys });
  await app.register(fastifyAuth, { keys, optional: true, decorator: 'authenticateOptional' });
  app.get('/api/me', { onRequest: app.authenticate }, async (req) => req.auth);
  app.get('/opt/me', { onRequest: app.authenticateOptional }, async (req) => req.auth);
  app.get('/public', async () => 'ok');
  return app;
}

// @fastify/jwt as its README configures it: the hook awaits jwtVerify(); the
// optional route ignores its refusal, which is how it is done there.
async function peerFastify(secret) {
  const app = Fastify();
  await app.register(fastifyJwt, { secret, verify: { allowedIss: 'keldo', algorithms: ['HS256'] } });
  app.get('/api/me', { onRequest: async (req) => { await req.jwtVerify(); } }, async (req) => req.user);
  app.get('/opt/me', {
    onRequest: async (req) => {
      try { await req.jwtVerify(); } catch { req.user = null; }
    },
  }, async (req) => req.user ?? null);
  app.get('/public', async () => 'ok');
  return app;
}

async function listenExpress(app) {
  const server = app.listen(0, '127.0.0.1');
  await once(server, 'listening');
  return { port: server.address().port, close: () => new Promise((r) => { server.closeAllConnections(); server.close(r); }) };
}

async function listenFastify(app) {
  await app.listen({ port: 0, host: '127.0.0.1' });
  return { port: app.server.address().port, close: () => app.close() };
}

export const STACKS = ['keldo express4', 'keldo express5', 'keldo fastify', 'express-jwt express4',
  'express-jwt express5', '@fastify/jwt'];

// Starts the named stacks (all by default). keys: what our components take;
// secret: the same secret's bytes, which express-jwt gets as a KeyObject
// unless expressJwtSecret says otherwise, and @fastify/jwt as a Buffer (it
// takes no KeyObject; fast-jwt prepares its key once, when the verifier is made).
export async function startServers({ keys, secret, expressJwtSecret = createSecretKey(secret), only = STACKS }) {
  const peerSecret = expressJwtSecret;
  const make = {
    'keldo express4': async () => listenExpress(ourExpress(express4, keys)),
    'keldo express5': async () => listenExpress(ourExpress(express5, keys)),
    'keldo fastify': async () => listenFastify(await ourFastify(keys)),
    'express-jwt express4': async () => listenExpress(peerExpress(express4, peerSecret)),
    'express-jwt express5': async () => listenExpress(peerExpress(express5, peerSecret)),
    '@fastify/jwt': async () => listenFastify(await peerFastify(Buffer.from(secret))),
  };
  const servers = {};
  for (const name of only) servers[name] = await make[name]();
  return {
    servers,
    close: () => Promise.all(Object.values(servers).map((s) => s.close())),
  };
}

// One HTTP/1.1 request written byte for byte (so that two Authorization
// fields, control characters and oversized headers reach the server as
// sent), and its answer: status, headers (names in lower case) and body.
export function rawRequest(port, { method = 'GET', path = '/api/me', headers = [] } = {}) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1');
    const chunks = [];
    socket.setTimeout(10000, () => socket.destroy(new Error('no answer in 10 s')));
    socket.on('data', (c) => chunks.push(c));
    socket.on('error', reject);
    socket.on('end', () => {
      const text = Buffer.concat(chunks).toString('latin1');
      const head = text.indexOf('\r\n\r\n');
      const lines = text.slice(0, head < 0 ? text.length : head).split('\r\n');
      const status = Number(lines[0].split(' ')[1]);
      const h = {};
      for (const line of lines.slice(1)) {
        const i = line.indexOf(':');
        const name = line.slice(0, i).toLowerCase();
        const value = line.slice(i + 1).trim();
        h[name] = h[name] === undefined ? value : `${h[name]}, ${value}`;
      }
      let body = head < 0 ? '' : text.slice(head + 4);
      if (h['transfer-encoding'] === 'chunked') {
        let out = '';
        for (let i = 0; ;) {
          const eol = body.indexOf('\r\n', i);
          const size = parseInt(body.slice(i, eol), 16);
          if (!(size > 0)) break;
          out += body.slice(eol + 2, eol + 2 + size);
          i = eol + 2 + size + 2;
        }
        body = out;
      }
      resolve({ status, headers: h, body: Buffer.from(body, 'latin1').toString('utf8') });
    });
    const request = [`${method} ${path} HTTP/1.1`, 'Host: 127.0.0.1', 'Connection: close', ...headers, '', ''].join('\r\n');
    socket.end(Buffer.from(request, 'latin1'));
  });
}
