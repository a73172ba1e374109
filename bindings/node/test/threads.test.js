'use strict';
// Many worker threads mint, verify and fail at once. The token buffer and the
// error text are process-wide in the library; without the binding's lock a
// thread would now and then copy another's token or read another's message.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const { createHmac } = require('node:crypto');
require('..');  // loaded here first, so every worker inherits its lock

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
