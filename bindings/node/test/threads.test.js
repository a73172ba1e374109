'use strict';
// Many worker threads mint, verify and fail at once. The package calls only
// the library's reentrant functions, which write the caller's buffers and
// nothing shared, so no lock is needed and none is taken: no thread ever
// gets another's token or message, whichever thread loaded the package first.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const { createHmac } = require('node:crypto');

const WORKERS = 10;
const ROUNDS = 3000;

function hs256(secret, claims) {
  const input = `${Buffer.from('{"alg":"HS256","typ":"JWT"}').toString('base64url')}.${Buffer.from(JSON.stringify(claims)).toString('base64url')}`;
  return `${input}.${createHmac('sha256', secret).update(input).digest('base64url')}`;
}

test('no token or message crosses between threads', async () => {
  const now = Math.floor(Date.now() / 1000);
  const runs = [];
  for (let id = 0; id < WORKERS; id++) {
    const secret = `secret-of-worker-${id}-`.padEnd(40, String(id % 10));
    const workerData = {
      id,
      rounds: ROUNDS,
      secret,
      foreignToken: hs256('another-secret-entirely-0123456789abcdef', { sub: 'x', email: 'y', iss: 'keldo', exp: now + 600 }),
      expiredToken: hs256(secret, { sub: 'x', email: 'y', iss: 'keldo', exp: now - 30, nbf: now - 90 }),
    };
    runs.push(new Promise((resolve, reject) => {
      const w = new Worker(path.join(__dirname, 'fixtures', 'thread-worker.js'), { workerData });
      w.once('message', resolve);
      w.once('error', reject);
    }));
  }
  const results = await Promise.all(runs);
  for (const r of results) assert.deepEqual(r.problems, [], `worker ${r.id}: ${r.count} problems`);
  assert.equal(results.length, WORKERS);
});

// Workers that load the package before the main thread does (the main thread
// here never loads it), each minting and verifying tokens for its own sub
// with its own key. This gave 36 to 85 wrong results in 160,000 calls when
// each such worker got a lock of its own around shared library buffers.
test('8 workers that load the package first: 20,000 tokens each, 0 wrong', async () => {
  const { randomBytes } = require('node:crypto');
  const code = `
    const { workerData, parentPort } = require('node:worker_threads');
    const k = require(${JSON.stringify(path.resolve(__dirname, '..'))});
    const { id, rounds, key } = workerData;
    const secret = Buffer.from(key);
    let wrong = 0;
    const samples = [];
    for (let n = 0; n < rounds; n++) {
      const sub = 'user-' + id;
      const token = k.jwtMint(secret, sub, sub + '@example.org', 600);
      try {
        const c = k.jwtVerify(token, secret);
        if (c.sub !== sub || c.email !== sub + '@example.org') { wrong++; samples.push(c.sub); }
      } catch (e) { wrong++; samples.push(e.message); }
    }
    parentPort.postMessage({ id, wrong, samples: samples.slice(0, 3) });`;
  const workers = [];
  for (let id = 0; id < 8; id++) {
    // Random keys, NUL bytes included half the time.
    const key = randomBytes(32);
    if (id % 2) key[id] = 0;
    workers.push(new Promise((resolve, reject) => {
      const w = new Worker(code, { eval: true, workerData: { id, rounds: 20000, key } });
      w.once('message', resolve);
      w.once('error', reject);
    }));
  }
  const results = await Promise.all(workers);
  const wrong = results.reduce((n, r) => n + r.wrong, 0);
  assert.equal(wrong, 0, JSON.stringify(results.filter((r) => r.wrong)));
  assert.equal(results.length, 8);
});
