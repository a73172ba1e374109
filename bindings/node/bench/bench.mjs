// Speed of the binding beside its peers in the same process, on the same
// inputs: jwtVerify and jwtMint beside jose, pbkdf2Sha256 beside node:crypto,
// the cost of crossing into the library for a call that does almost
// nothing, and jwtVerify's throughput in 8 worker threads against 1 (no
// lock is shared, so it grows with the cores). Prints Markdown tables;
// --quick runs each case briefly (CI).
//
//   KELDO_CRYPTO_LIBRARY=build/src/libkeldo_crypto.so node bench/bench.mjs
import crypto from 'node:crypto';
import * as jose from 'jose';
import * as k from 'keldo-crypto';

const quick = process.argv.includes('--quick');
const SECONDS = quick ? 0.05 : 1.0;   // per sample
const SAMPLES = quick ? 1 : 5;         // the median is reported

const SECRET = 'a-32-byte-or-longer-signing-key!!';
const KEY_BYTES = new TextEncoder().encode(SECRET);
// jose at its best: the key imported once, not on every call.
const joseKey = await crypto.webcrypto.subtle.importKey('raw', KEY_BYTES, { name: 'HMAC', hash: 'SHA-256' }, false, ['sign', 'verify']);
const token = k.jwtMint(SECRET, 'user-1234', 'user1234@example.org', 3600);

// Runs fn (sync or async) in batches until SECONDS pass; returns calls/s.
async function rate(fn, isAsync) {
  let calls = 0;
  let batch = 1;
  const start = process.hrtime.bigint();
  const limit = BigInt(Math.round(SECONDS * 1e9));
  for (;;) {
    if (isAsync) for (let i = 0; i < batch; i++) await fn();
    else for (let i = 0; i < batch; i++) fn();
    calls += batch;
    const elapsed = process.hrtime.bigint() - start;
    if (elapsed >= limit) return calls / (Number(elapsed) / 1e9);
    if (batch < 1 << 16) batch *= 2;
  }
}

async function median(fn, isAsync = false) {
  await rate(fn, isAsync);  // warm-up: JIT, caches
  const r = [];
  for (let i = 0; i < SAMPLES; i++) r.push(await rate(fn, isAsync));
  r.sort((a, b) => a - b);
  return r[Math.floor(r.length / 2)];
}

// Same answers first: a fast wrong result is no result.
const ours = k.jwtVerify(token, SECRET);
const theirs = (await jose.jwtVerify(token, joseKey, { issuer: 'keldo', algorithms: ['HS256'] })).payload;
if (ours.sub !== theirs.sub || ours.email !== theirs.email || ours.exp !== theirs.exp) throw new Error('verify results differ');
const PW = 'correct horse battery staple';
const SALT = crypto.randomBytes(16);
const ITER = 600000;
if (!k.pbkdf2Sha256(PW, SALT, 1000).equals(crypto.pbkdf2Sync(PW, SALT, 1000, 32, 'sha256'))) throw new Error('pbkdf2 results differ');

const rows = [];
function row(name, ourRate, peerName, peerRate) {
  rows.push({ name, ourRate, peerName, peerRate });
}

row('jwtVerify', await median(() => k.jwtVerify(token, SECRET)),
  'jose jwtVerify (HS256, imported CryptoKey)',
  await median(() => jose.jwtVerify(token, joseKey, { issuer: 'keldo', algorithms: ['HS256'] }), true));
row('jwtMint', await median(() => k.jwtMint(SECRET, 'user-1234', 'user1234@example.org', 3600)),
  'jose SignJWT().sign (HS256, imported CryptoKey)',
  await median(() => new jose.SignJWT({ sub: 'user-1234', email: 'user1234@example.org', iss: 'keldo' })
    .setProtectedHeader({ alg: 'HS256', typ: 'JWT' }).setIssuedAt().setExpirationTime('1h').setNotBefore('0s').sign(joseKey), true));
if (!quick) {
  row(`pbkdf2Sha256, ${ITER} iterations`, await median(() => k.pbkdf2Sha256(PW, SALT, ITER)),
    'crypto.pbkdf2Sync', await median(() => crypto.pbkdf2Sync(PW, SALT, ITER, 32, 'sha256')));
}
const oneByte = Buffer.from([7]);
const other = Buffer.from([7]);
row('compareDigest, 1 byte (per-call overhead)', await median(() => k.compareDigest(oneByte, other)),
  'crypto.timingSafeEqual, 1 byte', await median(() => crypto.timingSafeEqual(oneByte, other)));

const fmt = (r) => (r >= 1e4 ? `${Math.round(r).toLocaleString('en-US')}/s` : `${r.toFixed(r >= 100 ? 0 : 2)}/s`);
const per = (r) => {
  const ns = 1e9 / r;
  if (ns >= 1e6) return `${(ns / 1e6).toFixed(1)} ms`;
  return ns >= 1000 ? `${(ns / 1000).toFixed(2)} µs` : `${Math.round(ns)} ns`;
};
console.log(`Node.js ${process.version}, ${SECONDS}s x ${SAMPLES} samples (median)\n`);
console.log('| keldo-crypto | calls/s | per call | peer | calls/s | per call | ratio |');
console.log('|---|---:|---:|---|---:|---:|---:|');
for (const { name, ourRate, peerName, peerRate } of rows) {
  console.log(`| ${name} | ${fmt(ourRate)} | ${per(ourRate)} | ${peerName} | ${fmt(peerRate)} | ${per(peerRate)} | ${(ourRate / peerRate).toFixed(2)}x |`);
}

// Throughput of jwtVerify in n worker threads at once, each verifying for
// the same wall-clock time; every worker checks its results.
async function workersRate(n) {
  const { Worker } = await import('node:worker_threads');
  const code = `
    const { workerData, parentPort } = require('node:worker_threads');
    const k = require(workerData.pkg);
    const { token, secret, seconds } = workerData;
    const want = k.jwtVerify(token, secret).sub;
    for (let i = 0; i < 20000; i++) k.jwtVerify(token, secret);  // warm-up: JIT
    parentPort.once('message', () => {
      let calls = 0;
      const end = process.hrtime.bigint() + BigInt(Math.round(seconds * 1e9));
      while (process.hrtime.bigint() < end) {
        for (let i = 0; i < 1000; i++) if (k.jwtVerify(token, secret).sub !== want) throw new Error('wrong sub');
        calls += 1000;
      }
      parentPort.postMessage(calls);
    });
    parentPort.postMessage('ready');`;
  const { createRequire } = await import('node:module');
  const pkg = createRequire(import.meta.url).resolve('keldo-crypto');
  const seconds = quick ? 0.2 : 2;
  const workers = Array.from({ length: n }, () => new Worker(code, { eval: true, workerData: { pkg, token, secret: SECRET, seconds } }));
  await Promise.all(workers.map((w) => new Promise((resolve) => w.once('message', resolve))));
  const start = process.hrtime.bigint();
  const cpuStart = process.cpuUsage();
  const counts = await Promise.all(workers.map((w) => new Promise((resolve, reject) => {
    w.once('message', resolve);
    w.once('error', reject);
    w.postMessage('go');
  })));
  const elapsed = Number(process.hrtime.bigint() - start) / 1e9;
  const cpu = process.cpuUsage(cpuStart);
  await Promise.all(workers.map((w) => w.terminate()));
  const calls = counts.reduce((a, b) => a + b, 0);
  // Calls per second of wall-clock time, and per second of the process's
  // CPU time (all threads): a lock would show as less work per CPU second
  // (waiting, handing over) as well as no growth with the cores.
  return { wall: calls / elapsed, cpu: calls / ((cpu.user + cpu.system) / 1e6) };
}

const one = await workersRate(1);
const eight = await workersRate(8);
const cores = (await import('node:os')).availableParallelism?.() ?? (await import('node:os')).cpus().length;
console.log(`\njwtVerify in worker threads (${cores} CPUs available)\n`);
const load = (await import('node:os')).loadavg()[0].toFixed(1);
console.log(`load average ${load} during the run\n`);
console.log('| workers | calls/s (wall clock) | vs 1 worker | calls per CPU second | vs 1 worker |');
console.log('|---:|---:|---:|---:|---:|');
console.log(`| 1 | ${fmt(one.wall)} | 1.00x | ${fmt(one.cpu)} | 1.00x |`);
console.log(`| 8 | ${fmt(eight.wall)} | ${(eight.wall / one.wall).toFixed(2)}x | ${fmt(eight.cpu)} | ${(eight.cpu / one.cpu).toFixed(2)}x |`);
