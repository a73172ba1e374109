// The token rules in which we differ from jose, as docs/javascript.md lists
// them ("Where token rules differ from jose's"): each row is a token that
// one side accepts and the other refuses, made with jose or by hand and
// given to both. A row that stops differing fails here, so the list cannot
// go stale.
import test from 'node:test';
import assert from 'node:assert/strict';
import { createHmac, randomBytes } from 'node:crypto';
import * as jose from 'jose';
import * as k from 'keldo-crypto';

const secret = randomBytes(32);
const key = new Uint8Array(secret);
const b64url = (v) => Buffer.from(JSON.stringify(v)).toString('base64url');
const claims = (now, extra = {}) => ({ sub: 'u', email: 'e@x', iss: 'keldo', exp: now + 600, nbf: now, ...extra });
const sign = (c, alg = 'HS256') => new jose.SignJWT(c).setProtectedHeader({ alg, typ: 'JWT' }).sign(key);
// An HS256 signature over any header and payload text.
const hs256 = (header, payload) => {
  const input = `${header}.${payload}`;
  return `${input}.${createHmac('sha256', secret).update(input).digest('base64url')}`;
};

async function joseAccepts(token) {
  try {
    await jose.jwtVerify(token, key, { algorithms: ['HS256'], issuer: 'keldo' });
    return true;
  } catch (e) {
    if (!(e instanceof jose.errors.JOSEError)) throw e;
    return false;
  }
}

function oursAccepts(token) {
  try {
    k.jwtVerify(token, secret);
    return true;
  } catch (e) {
    if (!(e instanceof k.TokenError)) throw e;
    return false;
  }
}

test('each documented difference from jose, and only in the direction documented', async () => {
  // Away from a second's end, so that "now" is one second for both sides.
  while (Date.now() % 1000 > 700) await new Promise((r) => setTimeout(r, 50));
  const now = Math.floor(Date.now() / 1000);
  const valid = await sign(claims(now));
  const [h, p, s] = valid.split('.');
  // A token whose signature has a '-' or '_', to spell it as '+' or '/'.
  let spelled;
  for (let i = 0; spelled === undefined; i++) {
    const t = await sign(claims(now, { sub: `u${i}` }));
    const sig = t.split('.')[2];
    if (/[-_]/.test(sig)) spelled = t.replace(/\.[^.]*$/, `.${sig.replace(/-/g, '+').replace(/_/g, '/')}`);
  }
  // The last of 43 characters carries 2 bits of the signature and 4 unused ones.
  const last = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_'.indexOf(s[42]);
  const unusedBits = `${h}.${p}.${s.slice(0, 42)}${'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_'[last ^ 1]}`;
  const rows = [
    // [difference, token, ours, jose]
    ['a header naming HS512 over an HS256 signature', hs256(b64url({ alg: 'HS512', typ: 'JWT' }), p), true, false],
    ['a header that is not JSON', hs256('bm90IGpzb24', p), true, false],
    ['exp equal to now', await sign(claims(now, { exp: now })), true, false],
    ['nbf 30 s ahead', await sign(claims(now, { nbf: now + 30 })), true, false],
    ['nbf 90 s ahead', await sign(claims(now, { nbf: now + 90 })), false, false],
    ['iat that is not a number', await sign(claims(now, { iat: 'yesterday' })), true, false],
    ['an audience claim (jose told to expect none)', await sign(claims(now, { aud: 'elsewhere' })), true, true],
    ['no exp', await sign(claims(now, { exp: undefined })), false, true],
    ['no email', await sign(claims(now, { email: undefined })), false, true],
    ['a signature with = padding', `${valid}=`, true, true],
    ['a signature in the standard alphabet', spelled, true, false],
    ['a signature with unused bits set', unusedBits, true, true],
    ['the payload naming sub twice', hs256(h, Buffer.from('{"sub":"a","sub":"b","email":"e@x","iss":"keldo","exp":' +
      `${now + 600}}`).toString('base64url')), false, true],
    ['a valid token', valid, true, true],
  ];
  for (const [name, token, ours, theirs] of rows) {
    assert.equal(oursAccepts(token), ours, `${name}: ours`);
    assert.equal(await joseAccepts(token), theirs, `${name}: jose`);
  }
});
