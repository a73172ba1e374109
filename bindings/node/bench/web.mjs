// Bearer authentication in Express and Fastify beside the stacks in use
// today, on the same inputs (each answer checked first):
//  1. the authentication step alone, in process: the middleware or hook run
//     on one request object, our components beside express-jwt (KeyObject
//     secret, its fastest, and a Buffer, the common setting) and
//     @fastify/jwt; median of five one-second runs, ours and the peer's in
//     turn;
//  2. end to end: requests/s on GET /api/me, which answers the claims, with
//     autocannon (10 connections, a fixed number of requests) against each
//     server in a process of its own on 127.0.0.1, servers in turn, five
//     rounds, median.
// Prints Markdown tables; --quick runs each case briefly (CI).
//
//   KELDO_CRYPTO_LIBRARY=build/src/libkeldo_crypto.so node bench/web.mjs
import { createRequire } from 'node:module';
import { spawn } from 'node:child_process';
import { randomBytes, createSecretKey } from 'node:crypto';
import { fileURLToPath } from 'node:url';
import os from 'node:os';
import * as k from 'keldo-crypto';
import { expressAuth } from 'keldo-crypto/express';
import fastifyAuth from 'keldo-crypto/fastify';

const require = createRequire(import.meta.url);
const { expressjwt } = require('express-jwt');
const Fastify = require('fastify');
const fastifyJwt = require('@fastify/jwt');
const autocannon = require('autocannon');

const quick = process.argv.includes('--quick');
const SECONDS = quick ? 0.05 : 1.0;
const SAMPLES = quick ? 1 : 5;
const REQUESTS = quick ? 2000 : 40000;
const ROUNDS = quick ? 1 : 5;

const secret = randomBytes(32);
const token = k.jwtMint(secret, 'user-1234', 'user1234@example.org', 3600);
const authorization = `Bearer ${token}`;

// Calls step(done) in batches until SECONDS pass; returns calls/s. Every
// step, ours and the peers', is awaited the same way.
async function rate(step) {
  let calls = 0;
  let batch = 1;
  const start = process.hrtime.bigint();
  const limit = BigInt(Math.round(SECONDS * 1e9));
  for (;;) {
    for (let i = 0; i < batch; i++) await new Promise(step);
    calls += batch;
    const elapsed = process.hrtime.bigint() - start;
    if (elapsed >= limit) return calls / (Number(elapsed) / 1e9);
    if (batch < 1 << 14) batch *= 2;
  }
}

// Ours and the peer's step in turn, SAMPLES times each after a warm-up of
// both, so that a change of the machine's load falls on both alike.
async function medians(ourStep, peerStep) {
  await rate(ourStep);
  await rate(peerStep);
  const ours = [];
  const peers = [];
  for (let i = 0; i < SAMPLES; i++) {
    ours.push(await rate(ourStep));
    peers.push(await rate(peerStep));
  }
  return [median(ours), median(peers)];
}

function median(xs) {
  return xs.slice().sort((a, b) => a - b)[Math.floor(xs.length / 2)];
}

// ---- 1. the authentication step -------------------------------------------

// An Express request as the middleware sees it: the parsed headers and the
// raw list (where two Authorization fields would show).
const req = { method: 'GET', url: '/api/me', headers: { host: '127.0.0.1', authorization }, rawHeaders: ['Host', '127.0.0.1', 'Authorization', authorization] };
const res = {};
const middleware = (mw, read) => {
  // Same answer first.
  return new Promise((resolve, reject) => mw(req, res, (err) => {
    if (err) reject(err);
    else if (read(req).sub !== 'user-1234') reject(new Error('wrong claims'));
    else resolve((done) => mw(req, res, done));
  }));
};
const steps = [];
steps.push(['Express: expressAuth', await middleware(expressAuth({ keys: secret }), (r) => r.auth),
  'express-jwt 8, KeyObject secret', await middleware(expressjwt({ secret: createSecretKey(secret), algorithms: ['HS256'], issuer: 'keldo' }), (r) => r.auth)]);
steps.push(['Express: expressAuth', steps[0][1],
  'express-jwt 8, Buffer secret', await middleware(expressjwt({ secret, algorithms: ['HS256'], issuer: 'keldo' }), (r) => r.auth)]);

// Fastify: the hook and the decorator run on a real request object, caught
// in a handler of a server that is never listened on.
async function fastifyRequest(plugin, options) {
  const app = Fastify();
  await app.register(plugin, options);
  let caught;
  app.get('/api/me', async (request, reply) => { caught = { request, reply }; return ''; });
  await app.inject({ url: '/api/me', headers: { authorization } });
  return { app, ...caught };
}
const ours = await fastifyRequest(fastifyAuth, { keys: secret });
const peer = await fastifyRequest(fastifyJwt, { secret, verify: { allowedIss: 'keldo', algorithms: ['HS256'] } });
await new Promise((resolve, reject) => ours.app.authenticate(ours.request, ours.reply, (e) => (e ? reject(e) : resolve())));
if (ours.request.auth.sub !== 'user-1234') throw new Error('wrong claims');
if ((await peer.request.jwtVerify()).sub !== 'user-1234') throw new Error('wrong claims');
steps.push(['Fastify: app.authenticate hook', (done) => ours.app.authenticate(ours.request, ours.reply, done),
  '@fastify/jwt 10, request.jwtVerify(callback)', (done) => peer.request.jwtVerify(done)]);

const stepRows = [];
for (const [ourName, ourStep, peerName, peerStep] of steps) {
  const [ourRate, peerRate] = await medians(ourStep, peerStep);
  stepRows.push({ ourName, ourRate, peerName, peerRate });
}
await ours.app.close();
await peer.app.close();

// ---- 2. end to end ---------------------------------------------------------

function startServer(stack, form) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [fileURLToPath(new URL('web-server.mjs', import.meta.url)), stack, form ?? ''], {
      env: { ...process.env, KELDO_BENCH_SECRET: secret.toString('hex') }, stdio: ['pipe', 'pipe', 'inherit'],
    });
    child.on('error', reject);
    child.stdout.once('data', (d) => resolve({ port: Number(String(d).trim()), stop: () => new Promise((r) => { child.on('exit', r); child.stdin.end(); }) }));
  });
}

async function check(port) {
  const r = await fetch(`http://127.0.0.1:${port}/api/me`, { headers: { authorization } });
  const body = await r.json();
  if (r.status !== 200 || body.sub !== 'user-1234') throw new Error(`wrong answer: ${r.status}`);
}

// autocannon ends a fixed-count run on its next one-second tick, so its own
// duration is rounded up to whole seconds: the time is taken from the start
// to the last response instead.
function requestsPerSecond(port, amount = REQUESTS) {
  return new Promise((resolve, reject) => {
    let responses = 0;
    let last = 0n;
    const start = process.hrtime.bigint();
    const instance = autocannon({
      url: `http://127.0.0.1:${port}/api/me`, headers: { authorization }, connections: 10, amount,
    }, (err, result) => {
      if (err) reject(err);
      else if (result.non2xx !== 0 || result.errors !== 0 || responses !== amount) reject(new Error('refused or failed requests under load'));
      else resolve(amount / (Number(last - start) / 1e9));
    });
    instance.on('response', () => {
      responses++;
      if (responses === amount) last = process.hrtime.bigint();
    });
  });
}

const servers = [
  ['keldo-crypto/express (Express 5)', 'keldo express5'],
  ['express-jwt 8, KeyObject secret (Express 5)', 'express-jwt express5'],
  ['express-jwt 8, Buffer secret (Express 5)', 'express-jwt express5', 'buffer'],
  ['keldo-crypto/fastify (Fastify 5)', 'keldo fastify'],
  ['@fastify/jwt 10 (Fastify 5)', '@fastify/jwt'],
];
const rps = new Map(servers.map(([name]) => [name, []]));
for (let round = 0; round < ROUNDS; round++) {
  for (const [name, stack, form] of servers) {
    const s = await startServer(stack, form);
    try {
      await check(s.port);
      await requestsPerSecond(s.port, Math.min(REQUESTS, 5000));  // warm-up: JIT, connections
      rps.get(name).push(await requestsPerSecond(s.port));
    } finally {
      await s.stop();
    }
  }
}

const fmt = (r) => `${Math.round(r).toLocaleString('en-US')}/s`;
const per = (r) => `${(1e6 / r).toFixed(2)} µs`;
console.log(`Node.js ${process.version}, ${os.cpus()[0].model.trim()}, ${os.availableParallelism?.() ?? os.cpus().length} CPUs, load average ${os.loadavg()[0].toFixed(1)}\n`);
console.log(`The authentication step, in process (${SECONDS}s x ${SAMPLES} samples, median)\n`);
console.log('| ours | calls/s | per call | peer | calls/s | per call | ratio |');
console.log('|---|---:|---:|---|---:|---:|---:|');
for (const { ourName, ourRate, peerName, peerRate } of stepRows) {
  console.log(`| ${ourName} | ${fmt(ourRate)} | ${per(ourRate)} | ${peerName} | ${fmt(peerRate)} | ${per(peerRate)} | ${(ourRate / peerRate).toFixed(2)}x |`);
}
console.log(`\nEnd to end: GET /api/me with autocannon, 10 connections, ${REQUESTS} requests, ${ROUNDS} round(s), median\n`);
console.log('| server | requests/s | vs ours |');
console.log('|---|---:|---:|');
for (const [name] of servers) {
  const base = name.includes('express') || name.includes('Express') ? 'keldo-crypto/express (Express 5)' : 'keldo-crypto/fastify (Fastify 5)';
  console.log(`| ${name} | ${fmt(median(rps.get(name)))} | ${(median(rps.get(base)) / median(rps.get(name))).toFixed(2)}x |`);
}
