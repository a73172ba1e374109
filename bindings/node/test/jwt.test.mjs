// Tokens against jose in both directions, every refusal class reached with
// the library's message, and the secret and claim rules checked before the
// library is called.
import test from 'node:test';
import assert from 'node:assert/strict';
import * as jose from 'jose';
import * as k from 'keldo-crypto';

const SECRET = 'k'.repeat(40);
const KEY = new TextEncoder().encode(SECRET);
const now = () => Math.floor(Date.now() / 1000);

// A token signed by jose with exactly these claims (and header).
async function joseToken(claims, secret = KEY) {
  return new jose.SignJWT(claims).setProtectedHeader({ alg: 'HS256', typ: 'JWT' }).sign(secret);
}

const good = () => ({ sub: 'user-1', email: 'a@example.org', iss: 'keldo', exp: now() + 600, nbf: now() });

test('jose verifies our tokens and reads our claims', async () => {
  for (const [sub, email, ttl] of [['alice', 'alice@example.org', 3600], ['ü'.repeat(31), 'é@x', 60],
    ['s'.repeat(63), 'e'.repeat(127), 1]]) {
    const token = k.jwtMint(SECRET, sub, email, ttl);
    const { payload, protectedHeader } = await jose.jwtVerify(token, KEY, { issuer: 'keldo', algorithms: ['HS256'] });
    assert.deepEqual(protectedHeader, { alg: 'HS256', typ: 'JWT' });
    assert.equal(payload.sub, sub);
    assert.equal(payload.email, email);
    assert.equal(payload.exp - payload.nbf, ttl);
    assert.ok(Math.abs(payload.nbf - now()) <= 2);
    assert.deepEqual(k.jwtVerify(token, SECRET), { sub, email, exp: payload.exp, key: 0 });
  }
});

test('we verify jose tokens, with a secret given as text or bytes', async () => {
  const claims = good();
  const token = await joseToken(claims);
  for (const secret of [SECRET, KEY, Buffer.from(SECRET)]) {
    const got = k.jwtVerify(token, secret);
    assert.deepEqual(got, { sub: claims.sub, email: claims.email, exp: claims.exp, key: 0 });
    assert.ok(Object.isFrozen(got));
  }
});

test('each refusal has its class, code and the library message', async () => {
  const t = now();
  const valid = await joseToken(good());
  const [h, p, s] = valid.split('.');
  const without = (name) => { const c = good(); delete c[name]; return c; };
  const cases = [
    ['no dot', 'abc', k.MalformedTokenError, 'jwt_verify: malformed token (missing first dot)'],
    ['one dot', `${h}.${p}`, k.MalformedTokenError, 'jwt_verify: malformed token (missing second dot)'],
    ['four segments', `${valid}.x`, k.MalformedTokenError, 'jwt_verify: malformed token (extra segments)'],
    ['short signature', `${h}.${p}.${s.slice(0, 20)}`, k.BadSignatureError, 'jwt_verify: invalid signature format or length'],
    ['other secret', await joseToken(good(), new TextEncoder().encode('z'.repeat(40))), k.BadSignatureError,
      'jwt_verify: signature verification failed'],
    ['payload changed', `${h}.${Buffer.from(JSON.stringify({ ...good(), sub: 'admin' })).toString('base64url')}.${s}`,
      k.BadSignatureError, 'jwt_verify: signature verification failed'],
    ['expired', await joseToken({ ...good(), exp: t - 5, nbf: t - 100 }), k.TokenExpiredError, 'jwt_verify: token has expired'],
    ['not yet valid', await joseToken({ ...good(), nbf: t + 3600, exp: t + 7200 }), k.TokenNotYetValidError,
      'jwt_verify: token is not valid yet (nbf in future)'],
    ['other issuer', await joseToken({ ...good(), iss: 'someone' }), k.InvalidClaimsError, "jwt_verify: invalid or missing 'iss' claim"],
    ['no exp', await joseToken(without('exp')), k.InvalidClaimsError, "jwt_verify: missing 'exp' claim"],
    ['no sub', await joseToken(without('sub')), k.InvalidClaimsError, "jwt_verify: missing 'sub' claim"],
    ['sub of 64 bytes', await joseToken({ ...good(), sub: 's'.repeat(64) }), k.InvalidClaimsError, "jwt_verify: invalid 'sub' claim"],
    ['no email', await joseToken(without('email')), k.InvalidClaimsError, "jwt_verify: missing 'email' claim"],
    ['email of 128 bytes', await joseToken({ ...good(), email: 'e'.repeat(128) }), k.InvalidClaimsError,
      "jwt_verify: invalid 'email' claim"],
  ];
  for (const [name, token, Class, message] of cases) {
    assert.throws(() => k.jwtVerify(token, SECRET), (e) => {
      assert.ok(e instanceof Class, `${name}: ${e.name}`);
      assert.ok(e instanceof k.TokenError && e instanceof k.KeldoError && e instanceof Error);
      assert.equal(e.message, message, name);
      assert.equal(e.code, new Class('').code);
      return true;
    }, name);
  }
});

test('a payload that is not JSON is malformed', async () => {
  // Signed by node:crypto over our own signing input, so only the JSON is wrong.
  const { createHmac } = await import('node:crypto');
  const input = `${Buffer.from('{"alg":"HS256","typ":"JWT"}').toString('base64url')}.${Buffer.from('{"sub":').toString('base64url')}`;
  const token = `${input}.${createHmac('sha256', SECRET).update(input).digest('base64url')}`;
  assert.throws(() => k.jwtVerify(token, SECRET),
    (e) => e instanceof k.MalformedTokenError && e.code === 'ERR_KELDO_MALFORMED' && e.message === 'jwt_verify: invalid payload JSON');
});

test('error codes', () => {
  const codes = {
    MalformedTokenError: 'ERR_KELDO_MALFORMED', BadSignatureError: 'ERR_KELDO_BAD_SIGNATURE',
    TokenExpiredError: 'ERR_KELDO_EXPIRED', TokenNotYetValidError: 'ERR_KELDO_NOT_YET_VALID',
    InvalidClaimsError: 'ERR_KELDO_INVALID_CLAIMS', InvalidArgumentError: 'ERR_KELDO_INVALID_ARGUMENT',
  };
  for (const [name, code] of Object.entries(codes)) assert.equal(new k[name]('m').code, code);
});

test('secrets: empty and short secrets are refused before the library sees them', async () => {
  const token = k.jwtMint(SECRET, 'u', 'e@x');
  const refused = [
    ['empty', '', /empty/],
    ['31 bytes', 'k'.repeat(31), /shorter than 32 bytes/],
    ['not bytes', 12345, /must be/],
  ];
  for (const [name, secret, pattern] of refused) {
    for (const call of [() => k.jwtMint(secret, 'u', 'e@x'), () => k.jwtVerify(token, secret)]) {
      assert.throws(call, (e) => e instanceof k.InvalidArgumentError && e.code === 'ERR_KELDO_INVALID_ARGUMENT' &&
        pattern.test(e.message), name);
    }
  }
  // 32 bytes by UTF-8 count, though 16 characters.
  const wide = 'é'.repeat(16);
  assert.equal(k.jwtVerify(k.jwtMint(wide, 'u', 'e@x'), wide).sub, 'u');
  // Opting in accepts a short secret, in both directions, and jose agrees.
  const short = k.jwtMint('short', 'u', 'e@x', 60, { allowShortSecret: true });
  await jose.jwtVerify(short, new TextEncoder().encode('short'));
  assert.equal(k.jwtVerify(short, 'short', { allowShortSecret: true }).sub, 'u');
  assert.throws(() => k.jwtVerify(short, 'short'), k.InvalidArgumentError);
  assert.throws(() => k.jwtVerify(short, 'short', { allowShortSecret: 'yes' }), k.InvalidArgumentError);
});

test('mint refuses claims the verifier would refuse, counting UTF-8 bytes', () => {
  const cases = [
    ['s'.repeat(64), 'e@x', /sub is 64 UTF-8 bytes/],
    ['ü'.repeat(32), 'e@x', /sub is 64 UTF-8 bytes/],   // 32 characters, 64 bytes
    ['u', 'e'.repeat(128), /email is 128 UTF-8 bytes/],
    ['u', 'é'.repeat(64), /email is 128 UTF-8 bytes/],
    ['u\0v', 'e@x', /NUL/],
    ['u', 'e\0@x', /NUL/],
    ['\ud800', 'e@x', /well-formed/],
    [42, 'e@x', /must be a string/],
  ];
  for (const [sub, email, pattern] of cases) {
    assert.throws(() => k.jwtMint(SECRET, sub, email),
      (e) => e instanceof k.InvalidArgumentError && pattern.test(e.message), JSON.stringify([sub.length, email.length]));
  }
  for (const ttl of [-1, 1.5, 2 ** 32, '60']) {
    assert.throws(() => k.jwtMint(SECRET, 'u', 'e@x', ttl), k.InvalidArgumentError, String(ttl));
  }
  assert.throws(() => k.jwtVerify('a.b\0.c', SECRET), k.MalformedTokenError);
  assert.throws(() => k.jwtVerify(42, SECRET), k.InvalidArgumentError);
});

// Keys as crypto.randomBytes(32) makes them: about one in eight holds a NUL.
const NUL_KEYS = [Buffer.alloc(32), Buffer.concat([Buffer.from([0]), Buffer.alloc(31, 0x6b)]),
  Buffer.concat([Buffer.alloc(31, 0x6b), Buffer.from([0])]), Buffer.from(Array.from({ length: 256 }, (_, i) => i))];

test('keys holding NUL bytes round-trip with jose both ways', async () => {
  for (const key of NUL_KEYS) {
    const ours = k.jwtMint(key, 'nul', 'nul@example.org', 60);
    const { payload } = await jose.jwtVerify(ours, key, { issuer: 'keldo', algorithms: ['HS256'] });
    assert.equal(payload.sub, 'nul');
    const theirs = await joseToken({ ...good(), sub: 'jose' }, key);
    assert.equal(k.jwtVerify(theirs, key).sub, 'jose');
    assert.equal(k.jwtVerify(theirs, new Uint8Array(key)).sub, 'jose');
    // The bytes after the first NUL count: a key that differs only there is
    // another key (trailing NULs of a short key do not count in HMAC itself).
    const i = key.indexOf(0);
    if (i + 1 < key.length) {
      const other = Buffer.from(key);
      other[i + 1] ^= 1;
      assert.throws(() => k.jwtVerify(ours, other), k.BadSignatureError);
      assert.throws(() => k.jwtVerify(theirs, other), k.BadSignatureError);
    }
  }
});

test('KeyObject secrets, as node:crypto and jose make them', async () => {
  const { createSecretKey, generateKeyPairSync } = await import('node:crypto');
  const key = createSecretKey(Buffer.concat([Buffer.alloc(16, 1), Buffer.from([0]), Buffer.alloc(15, 2)]));
  const token = k.jwtMint(key, 'ko', 'ko@example.org');
  assert.equal((await jose.jwtVerify(token, key)).payload.sub, 'ko');
  assert.equal(k.jwtVerify(token, key).sub, 'ko');
  assert.equal(k.jwtVerify(await joseToken(good(), key), key).sub, 'user-1');
  assert.throws(() => k.jwtMint(createSecretKey(Buffer.alloc(8, 1)), 'a', 'b'), /shorter than 32 bytes/);
  assert.equal(k.jwtVerify(k.jwtMint(createSecretKey(Buffer.alloc(8, 1)), 'a', 'b', 60, { allowShortSecret: true }),
    createSecretKey(Buffer.alloc(8, 1)), { allowShortSecret: true }).sub, 'a');
  const { privateKey } = generateKeyPairSync('ed25519');
  assert.throws(() => k.jwtMint(privateKey, 'a', 'b'), (e) => e instanceof k.InvalidArgumentError && /secret key/.test(e.message));
});

test('a missing or empty token is a malformed token, as jsonwebtoken has it', () => {
  for (const token of [undefined, null, '']) {
    assert.throws(() => k.jwtVerify(token, SECRET), (e) => e instanceof k.MalformedTokenError &&
      e instanceof k.TokenError && e.code === 'ERR_KELDO_MALFORMED' && e.message === 'jwtVerify: no token', String(token));
  }
});

test('swapped arguments are named as such', () => {
  const token = k.jwtMint(SECRET, 'u', 'e@x');
  for (const key of [SECRET, KEY, Buffer.alloc(32)]) {
    assert.throws(() => k.jwtVerify(key, token), (e) => e instanceof k.InvalidArgumentError &&
      /arguments look swapped/.test(e.message), String(key).slice(0, 8));
  }
  // A malformed token with a key that is no token stays malformed.
  assert.throws(() => k.jwtVerify('no-dots', SECRET), k.MalformedTokenError);
});

test('exp is a number', () => {
  const { exp } = k.jwtVerify(k.jwtMint(SECRET, 'u', 'e@x', 60), SECRET);
  assert.equal(typeof exp, 'number');
  assert.ok(Math.abs(exp * 1000 - (Date.now() + 60000)) < 3000);
});
