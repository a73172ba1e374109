// TokenKey and KeyRing against jose: each key signs what jose checks under
// that key alone, jose's tokens verify at their position, only a bad
// signature tries the next key, and disposed keys are refused.
import test from 'node:test';
import assert from 'node:assert/strict';
import * as jose from 'jose';
import * as k from 'keldo-crypto';

const SECRETS = ['current-' + 'c'.repeat(24), Buffer.from('previous\0' + 'p'.repeat(23)), 'older-é' + 'o'.repeat(24)];
const bytesOf = (s) => (typeof s === 'string' ? new TextEncoder().encode(s) : new Uint8Array(s));
const now = () => Math.floor(Date.now() / 1000);

function joseToken(secret, over = {}) {
  const claims = { sub: 'alice', email: 'a@example.org', iss: 'keldo', exp: now() + 600, nbf: now(), ...over };
  for (const name of Object.keys(claims)) if (claims[name] === undefined) delete claims[name];
  return new jose.SignJWT(claims).setProtectedHeader({ alg: 'HS256', typ: 'JWT' }).sign(bytesOf(secret));
}

test('each key signs what jose checks under that key alone', async () => {
  const keys = SECRETS.map((s) => new k.TokenKey(s));
  for (const [i, key] of keys.entries()) {
    const token = key.mint('bob', 'b@example.org', 120);
    for (const [j, other] of SECRETS.entries()) {
      if (i === j) {
        const { payload } = await jose.jwtVerify(token, bytesOf(other), { issuer: 'keldo', algorithms: ['HS256'] });
        assert.equal(payload.sub, 'bob');
      } else {
        await assert.rejects(jose.jwtVerify(token, bytesOf(other)), { code: 'ERR_JWS_SIGNATURE_VERIFICATION_FAILED' });
      }
    }
  }
});

test("jose's tokens verify at their key's position", async () => {
  const ring = new k.KeyRing([SECRETS[0], new k.TokenKey(SECRETS[1]), SECRETS[2]]);
  assert.equal(ring.length, 3);
  for (const [i, secret] of SECRETS.entries()) {
    const token = await joseToken(secret);
    const claims = k.jwtVerify(token, ring);
    assert.equal(claims.sub, 'alice');
    assert.equal(claims.key, i);
    // The same token both ways: two tokens minted a second apart differ in exp.
    assert.deepEqual(ring.verify(token), claims);
  }
  const minted = k.jwtMint(ring, 'x', 'y');
  assert.equal(k.jwtVerify(minted, SECRETS[0]).key, 0);
  await jose.jwtVerify(minted, bytesOf(SECRETS[0]));
  assert.throws(() => ring.verify(k.jwtMint('retired-' + 'r'.repeat(24), 'x', 'y')), k.BadSignatureError);
});

test('a refusal after a key matched is final; malformed tokens try no key', async () => {
  const ring = new k.KeyRing(SECRETS.slice(0, 2));
  const cases = [
    [{ exp: now() - 5 }, k.TokenExpiredError],
    [{ nbf: now() + 600 }, k.TokenNotYetValidError],
    [{ iss: 'evil' }, k.InvalidClaimsError],
    [{ email: undefined }, k.InvalidClaimsError],
  ];
  for (const [over, error] of cases) {
    // Signed with the second key: moving on after the first key's refusal
    // of any other kind would end in a bad signature instead.
    const token = await joseToken(SECRETS[1], over);
    assert.throws(() => ring.verify(token), error);
  }
  for (const token of ['', 'a.b', 'a.b.c.d', 'x'.repeat(20) + '.e30.' + '!'.repeat(43)]) {
    assert.throws(() => ring.verify(token), (e) => e instanceof k.MalformedTokenError || e instanceof k.BadSignatureError);
  }
});

test('construction, dispose and the limits', () => {
  assert.throws(() => new k.TokenKey('short'), k.InvalidArgumentError);
  assert.equal(new k.TokenKey('short', { allowShortSecret: true }).verify(k.jwtMint('short', 'a', 'b', 60, { allowShortSecret: true })).sub, 'a');
  assert.throws(() => new k.KeyRing([]), k.InvalidArgumentError);
  assert.throws(() => new k.KeyRing('one secret'), k.InvalidArgumentError);
  assert.throws(() => new k.KeyRing(Array(k.KEYS_MAX + 1).fill(SECRETS[0])), k.InvalidArgumentError);
  assert.equal(new k.KeyRing(Array(k.KEYS_MAX).fill(SECRETS[0])).length, k.KEYS_MAX);
  const key = new k.TokenKey(SECRETS[0]);
  const token = key.mint('a', 'b');
  const kept = new k.KeyRing([key]);
  assert.equal(kept.verify(token).sub, 'a');
  if (typeof Symbol.dispose === 'symbol') kept[Symbol.dispose]();
  else kept.dispose();
  assert.equal(kept.disposed, true);
  assert.throws(() => kept.verify(token), /disposed/);
  assert.equal(key.verify(token).sub, 'a');  // the ring held a copy
  key.dispose();
  key.dispose();
  assert.throws(() => k.jwtMint(key, 'a', 'b'), /disposed/);
  assert.throws(() => new k.KeyRing([key]), /disposed/);
});
