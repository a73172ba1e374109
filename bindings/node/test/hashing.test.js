'use strict';
// SHA-256, HMAC-SHA256 and PBKDF2 against node:crypto (OpenSSL) on the same
// inputs, plus the published vectors that pin both.
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const k = require('..');

// Deterministic bytes, so a failure reproduces.
function bytesOf(n, seed) {
  const out = Buffer.alloc(n);
  let x = seed >>> 0 || 1;
  for (let i = 0; i < n; i++) {
    x ^= x << 13; x >>>= 0; x ^= x >>> 17; x ^= x << 5; x >>>= 0;
    out[i] = x & 0xff;
  }
  return out;
}

// Lengths around the 64-byte block and its 55/56-byte padding boundary.
const LENGTHS = [0, 1, 3, 31, 32, 55, 56, 63, 64, 65, 119, 120, 127, 128, 129, 1000, 4097];

test('sha256: FIPS 180-4 examples', () => {
  assert.equal(k.sha256('abc').toString('hex'),
    'ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad');
  assert.equal(k.sha256('abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq').toString('hex'),
    '248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1');
  assert.equal(k.sha256('').toString('hex'),
    'e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855');
});

test('sha256: same digest as createHash for every length class', () => {
  for (const n of LENGTHS) {
    const data = bytesOf(n, n + 1);
    const want = crypto.createHash('sha256').update(data).digest();
    assert.deepEqual(k.sha256(data), want, `length ${n}`);
    // A view into a larger buffer starts at its own offset.
    const wide = Buffer.concat([Buffer.from([0xaa, 0xbb]), data]);
    assert.deepEqual(k.sha256(new Uint8Array(wide.buffer, wide.byteOffset + 2, n)), want, `view, length ${n}`);
  }
  assert.deepEqual(k.sha256('grüße'), crypto.createHash('sha256').update('grüße', 'utf8').digest());
});

test('hmacSha256: RFC 4231 test case 2', () => {
  assert.equal(k.hmacSha256('Jefe', 'what do ya want for nothing?').toString('hex'),
    '5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843');
});

test('hmacSha256: same MAC as createHmac for short, block-sized and long keys', () => {
  for (const keyLen of [0, 1, 32, 63, 64, 65, 131]) {
    for (const n of [0, 1, 64, 1000]) {
      const key = bytesOf(keyLen, 7 * keyLen + 1);
      const data = bytesOf(n, n + 3);
      assert.deepEqual(k.hmacSha256(key, data), crypto.createHmac('sha256', key).update(data).digest(),
        `key ${keyLen}, data ${n}`);
    }
  }
});

test('pbkdf2Sha256: RFC 7914 section 11 vector', () => {
  assert.equal(k.pbkdf2Sha256('passwd', 'salt', 1, 64).toString('hex'),
    '55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc' +
    '49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783');
});

test('pbkdf2Sha256: same key as pbkdf2Sync across lengths, salts and counts', () => {
  const cases = [
    // password, salt, iterations, length
    ['password', 'salt', 1, 32],
    ['password', 'salt', 2, 20],
    ['password', 'salt', 4096, 32],
    ['', '', 3, 32],
    ['pw', '', 5, 1],
    [bytesOf(100, 9), bytesOf(16, 4), 10, 33],    // key longer than a block; two blocks
    ['pw', bytesOf(300, 5), 3, 64],               // salt past the library's stack buffer
    ['pässwörd', 'NaCl', 1000, 97],
  ];
  for (const [pw, salt, it, len] of cases) {
    assert.deepEqual(k.pbkdf2Sha256(pw, salt, it, len), crypto.pbkdf2Sync(pw, salt, it, len, 'sha256'),
      `${JSON.stringify([String(pw).length, String(salt).length, it, len])}`);
  }
  assert.equal(k.pbkdf2Sha256('p', 's', 1).length, 32, 'default length');
});

test('pbkdf2Sha256: refuses counts and lengths the library would refuse', () => {
  for (const [it, len] of [[0, 32], [1.5, 32], [-1, 32], [2 ** 32, 32], [1, 0], [1, -1], [1, 2.5], ['1', 32]]) {
    assert.throws(() => k.pbkdf2Sha256('p', 's', it, len),
      (e) => e instanceof k.InvalidArgumentError && e.code === 'ERR_KELDO_INVALID_ARGUMENT', `${it}, ${len}`);
  }
});

test('inputs of the wrong kind are refused, not coerced', () => {
  for (const bad of [undefined, null, 42, {}, [1, 2], '\ud800']) {
    assert.throws(() => k.sha256(bad), k.InvalidArgumentError);
    assert.throws(() => k.hmacSha256(bad, 'x'), k.InvalidArgumentError);
  }
});

test('compareDigest: agrees with timingSafeEqual and refuses nothing of equal type', () => {
  const cases = [
    ['', '', true],
    ['a', 'a', true],
    ['a', 'b', false],
    ['abc', 'abd', false],
    ['abc', 'ab', false],
    [Buffer.from([0, 1, 2]), new Uint8Array([0, 1, 2]), true],
    [bytesOf(64, 1), bytesOf(64, 1), true],
    [bytesOf(64, 1), Buffer.concat([bytesOf(63, 1), Buffer.from([0])]), false],
  ];
  for (const [a, b, want] of cases) {
    assert.equal(k.compareDigest(a, b), want);
    const x = Buffer.from(a); const y = Buffer.from(b);
    if (x.length === y.length) assert.equal(crypto.timingSafeEqual(x, y), want);
  }
});
