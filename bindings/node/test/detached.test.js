'use strict';
// A view of a transferred (detached) ArrayBuffer has no bytes: every
// function that takes bytes refuses it as an InvalidArgumentError, where it
// was read as empty input (a Buffer: the hash of nothing) or failed with
// V8's own TypeError (a Uint8Array).
const test = require('node:test');
const assert = require('node:assert/strict');
const k = require('keldo-crypto');

function detachedViews() {
  const ab = new ArrayBuffer(32);
  const views = { Uint8Array: new Uint8Array(ab), Buffer: Buffer.from(ab, 4, 8) };
  structuredClone(ab, { transfer: [ab] });
  return views;
}

const SECRET = 'k'.repeat(32);
const STORED = k.hashPassword('pw', { iterations: 1 });
const calls = [
  ['sha256', (v) => k.sha256(v)],
  ['hmacSha256 key', (v) => k.hmacSha256(v, 'data')],
  ['hmacSha256 data', (v) => k.hmacSha256('key', v)],
  ['pbkdf2Sha256 salt', (v) => k.pbkdf2Sha256('pw', v, 1)],
  ['base64Encode', (v) => k.base64Encode(v)],
  ['base64urlDecode', (v) => k.base64urlDecode(v)],
  ['compareDigest', (v) => k.compareDigest(v, v)],
  ['jwtMint secret', (v) => k.jwtMint(v, 'a', 'b', 60, { allowShortSecret: true })],
  ['jwtVerify secret', (v) => k.jwtVerify(k.jwtMint(SECRET, 'a', 'b'), v, { allowShortSecret: true })],
  ['verifyPassword', (v) => k.verifyPassword(v, STORED)],
  ['hashPassword', (v) => k.hashPassword(v, { iterations: 1 })],
];

test('a detached ArrayBuffer is an InvalidArgumentError everywhere bytes are taken', () => {
  for (const [name, call] of calls) {
    for (const [kind, view] of Object.entries(detachedViews())) {
      assert.equal(view.byteLength, 0);
      assert.throws(() => call(view), (e) => e instanceof k.InvalidArgumentError && /detached/.test(e.message),
        `${name}, ${kind}`);
    }
  }
});

test('the async forms reject it the same way, and an empty view is still empty input', async () => {
  const { Buffer: b } = detachedViews();
  await assert.rejects(k.pbkdf2Sha256Async(b, 'salt', 1), k.InvalidArgumentError);
  await assert.rejects(k.verifyPasswordAsync(b, STORED), k.InvalidArgumentError);
  // Not detached, only empty: SHA-256 of nothing, as node:crypto has it.
  const empty = require('node:crypto').createHash('sha256').digest();
  assert.deepEqual(k.sha256(new Uint8Array(new ArrayBuffer(8), 8, 0)), empty);
  assert.deepEqual(k.sha256(Buffer.alloc(0)), empty);
});
