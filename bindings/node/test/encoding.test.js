'use strict';
// Base64 and base64url against Buffer's own codecs, RFC 4648's vectors, and
// the library's refusals; UUIDs against RFC 9562's layout.
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const k = require('..');

test('RFC 4648 section 10 vectors', () => {
  const vectors = [['', ''], ['f', 'Zg=='], ['fo', 'Zm8='], ['foo', 'Zm9v'], ['foob', 'Zm9vYg=='],
    ['fooba', 'Zm9vYmE='], ['foobar', 'Zm9vYmFy']];
  for (const [plain, b64] of vectors) {
    assert.equal(k.base64Encode(plain), b64);
    assert.equal(k.base64Decode(b64).toString(), plain);
    assert.equal(k.base64urlEncode(plain), b64.replace(/=/g, ''));
    assert.equal(k.base64urlDecode(b64.replace(/=/g, '')).toString(), plain);
  }
});

test('same text as Buffer for every length up to 70 and every byte value', () => {
  for (let n = 0; n <= 70; n++) {
    const data = crypto.createHash('sha512').update(String(n)).digest().subarray(0, Math.min(n, 64));
    const full = Buffer.concat([data, Buffer.from(Array.from({ length: n - data.length }, (_, i) => 255 - i))]);
    assert.equal(k.base64Encode(full), full.toString('base64'), `base64, ${n}`);
    assert.equal(k.base64urlEncode(full), full.toString('base64url'), `base64url, ${n}`);
    assert.deepEqual(k.base64Decode(full.toString('base64')), full);
    assert.deepEqual(k.base64urlDecode(full.toString('base64url')), full);
  }
  const all = Buffer.from(Array.from({ length: 256 }, (_, i) => i));
  assert.equal(k.base64Encode(all), all.toString('base64'));
  assert.equal(k.base64urlEncode(all), all.toString('base64url'));
});

test('decoding refusals carry the library message', () => {
  const cases = [
    [k.base64Decode, 'ab*d', 'keldo_crypto_base64_decode: decode failed or buffer too small'],
    [k.base64Decode, 'ab-_', 'keldo_crypto_base64_decode: decode failed or buffer too small'],
    [k.base64urlDecode, 'ab d', 'keldo_crypto_base64url_decode: decode failed or buffer too small'],
    [k.base64urlDecode, 'é', 'keldo_crypto_base64url_decode: decode failed or buffer too small'],
  ];
  for (const [fn, text, message] of cases) {
    assert.throws(() => fn(text), (e) => e instanceof k.InvalidArgumentError && e.message === message, text);
  }
  // The library reads a C string: a NUL would end the text early.
  assert.throws(() => k.base64Decode('Zm9v\0Zm9v'), k.InvalidArgumentError);
  assert.throws(() => k.base64Decode(42), k.InvalidArgumentError);
});

test('uuid4: version 4, RFC 9562 variant, lowercase, unique', () => {
  const seen = new Set();
  for (let i = 0; i < 2000; i++) {
    const u = k.uuid4();
    assert.match(u, /^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$/);
    seen.add(u);
  }
  assert.equal(seen.size, 2000);
});
