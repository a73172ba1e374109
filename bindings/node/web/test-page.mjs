// The browser test page: the ESM bundle (dist/keldo-crypto.mjs) against the
// browser's own WebCrypto and btoa on random inputs, and against published
// vectors. web/browser-test.mjs reads window.keldoResults.
import * as k from '../keldo-crypto.mjs';

const subtle = globalThis.crypto.subtle;
const enc = new TextEncoder();
const results = [];

function hex(u8) {
  return Array.from(new Uint8Array(u8), (b) => b.toString(16).padStart(2, '0')).join('');
}
function random(n) {
  const b = new Uint8Array(n);
  for (let i = 0; i < n; i += 65536) crypto.getRandomValues(b.subarray(i, Math.min(n, i + 65536)));
  return b;
}
function randInt(n) {
  return crypto.getRandomValues(new Uint32Array(1))[0] % n;
}
function btoaBytes(u8) {
  let s = '';
  for (const b of u8) s += String.fromCharCode(b);
  return btoa(s);
}
const b64url = (s) => s.replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');

async function check(name, cases, fn) {
  let failed = 0;
  let detail = '';
  for (let i = 0; i < cases; i++) {
    try {
      const problem = await fn(i);
      if (problem) { failed++; if (!detail) detail = problem; }
    } catch (e) {
      failed++;
      if (!detail) detail = `${e.name}: ${e.message}`;
    }
  }
  results.push({ name, cases, failed, detail });
}

const secret = random(32);

await check('the WebAssembly backend serves the calls', 1, () =>
  (k.libraryBackend() === 'wasm' && /keldo_crypto\.wasm$/.test(k.loadLibrary()) ? '' : `backend ${k.libraryBackend()}`));

await check('SHA-256 = crypto.subtle.digest (random lengths 0..4200, and 1 MiB)', 201, async (i) => {
  const data = random(i === 200 ? 1 << 20 : randInt(4201));
  const want = hex(await subtle.digest('SHA-256', data));
  const got = hex(k.sha256(data));
  return got === want ? '' : `length ${data.length}: ${got} != ${want}`;
});

await check('HMAC-SHA256 = crypto.subtle.sign (keys 1..200 bytes)', 200, async () => {
  const key = random(1 + randInt(200));
  const data = random(randInt(1500));
  const ck = await subtle.importKey('raw', key, { name: 'HMAC', hash: 'SHA-256' }, false, ['sign']);
  const want = hex(await subtle.sign('HMAC', ck, data));
  const got = hex(k.hmacSha256(key, data));
  return got === want ? '' : `key ${key.length}, data ${data.length}`;
});

await check('PBKDF2-HMAC-SHA256 = crypto.subtle.deriveBits', 20, async () => {
  const pw = random(randInt(100));
  const salt = random(1 + randInt(40));
  const iterations = 1 + randInt(3000);
  const bytes = 1 + randInt(80);
  const base = await subtle.importKey('raw', pw, 'PBKDF2', false, ['deriveBits']);
  const want = hex(await subtle.deriveBits({ name: 'PBKDF2', hash: 'SHA-256', salt, iterations }, base, bytes * 8));
  const got = hex(k.pbkdf2Sha256(pw, salt, iterations, bytes));
  return got === want ? '' : `${iterations} iterations, ${bytes} bytes`;
});

// RFC 7914, section 11: PBKDF2-HMAC-SHA256 ("passwd", "salt", 1, 64).
await check('PBKDF2 published vector (RFC 7914)', 1, () => {
  const got = hex(k.pbkdf2Sha256('passwd', 'salt', 1, 64));
  return got === '55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783' ? '' : got;
});

await check('Base64 and base64url = btoa, and decode back (0..300 bytes)', 301, (i) => {
  const data = random(i);
  const want = btoaBytes(data);
  if (k.base64Encode(data) !== want) return `encode ${i}`;
  if (k.base64urlEncode(data) !== b64url(want)) return `url encode ${i}`;
  if (hex(k.base64Decode(want)) !== hex(data)) return `decode ${i}`;
  if (hex(k.base64urlDecode(b64url(want))) !== hex(data)) return `url decode ${i}`;
  return '';
});

await check('a minted token verifies, and WebCrypto agrees with its signature', 50, async (i) => {
  const sub = `user-${i}-${randInt(1e6)}`;
  const email = `${sub}@example.org`;
  const token = k.jwtMint(secret, sub, email, 600);
  const c = k.jwtVerify(token, secret);
  const now = Math.floor(Date.now() / 1000);
  if (c.sub !== sub || c.email !== email || Math.abs(c.exp - (now + 600)) > 2) return JSON.stringify(c);
  const [h, p, s] = token.split('.');
  const ck = await subtle.importKey('raw', secret, { name: 'HMAC', hash: 'SHA-256' }, false, ['sign']);
  const sig = b64url(btoaBytes(new Uint8Array(await subtle.sign('HMAC', ck, enc.encode(`${h}.${p}`)))));
  if (sig !== s) return 'signature differs from WebCrypto';
  const claims = JSON.parse(atob(p.replace(/-/g, '+').replace(/_/g, '/')));
  return claims.sub === sub && claims.email === email ? '' : 'payload';
});

async function webToken(claims, key = secret) {
  const part = (o) => b64url(btoaBytes(enc.encode(JSON.stringify(o))));
  const input = `${part({ alg: 'HS256', typ: 'JWT' })}.${part(claims)}`;
  const ck = await subtle.importKey('raw', key, { name: 'HMAC', hash: 'SHA-256' }, false, ['sign']);
  return `${input}.${b64url(btoaBytes(new Uint8Array(await subtle.sign('HMAC', ck, enc.encode(input)))))}`;
}

await check('tokens signed with WebCrypto: accepted, and each refusal with its class', 1, async () => {
  const now = Math.floor(Date.now() / 1000);
  const good = await webToken({ sub: 'web', email: 'web@example.org', iss: 'keldo', exp: now + 60 });
  if (k.jwtVerify(good, secret).sub !== 'web') return 'good token refused';
  const table = [
    [await webToken({ sub: 'web', email: 'w@example.org', iss: 'keldo', exp: now + 60 }, random(32)), k.BadSignatureError],
    [await webToken({ sub: 'web', email: 'w@example.org', iss: 'keldo', exp: now - 120 }), k.TokenExpiredError],
    [await webToken({ sub: 'web', email: 'w@example.org', iss: 'keldo', exp: now + 600, nbf: now + 300 }), k.TokenNotYetValidError],
    [await webToken({ sub: 'web', email: 'w@example.org', iss: 'other', exp: now + 60 }), k.InvalidClaimsError],
    ['a.b', k.MalformedTokenError],
  ];
  for (const [token, Class] of table) {
    try {
      k.jwtVerify(token, secret);
      return `${Class.name}: accepted`;
    } catch (e) {
      if (!(e instanceof Class)) return `${Class.name} expected, got ${e.name}: ${e.message}`;
    }
  }
  return '';
});

await check('password hashes: hash, verify, wrong password, Django form', 1, async () => {
  const stored = k.hashPassword('correct horse', { iterations: 2000 });
  if (!/^\$pbkdf2-sha256\$i=2000\$/.test(stored)) return stored;
  if (!k.verifyPassword('correct horse', stored)) return 'own hash refused';
  if (k.verifyPassword('correct horsf', stored)) return 'wrong password accepted';
  if (!(await k.verifyPasswordAsync('correct horse', stored))) return 'async verify';
  // Django's form, made here with WebCrypto's PBKDF2.
  const base = await subtle.importKey('raw', enc.encode('s3cret'), 'PBKDF2', false, ['deriveBits']);
  const dk = new Uint8Array(await subtle.deriveBits({ name: 'PBKDF2', hash: 'SHA-256', salt: enc.encode('NaClNaCl'), iterations: 1000 }, base, 256));
  const django = `pbkdf2_sha256$1000$NaClNaCl$${btoaBytes(dk)}`;
  if (!k.verifyPassword('s3cret', django)) return 'Django hash refused';
  if (!k.needsRehash(django)) return 'Django hash needs no rehash?';
  try { k.verifyPassword('x', 'plain'); return 'malformed hash accepted'; } catch (e) { if (!(e instanceof k.MalformedHashError)) return e.name; }
  return '';
});

await check('a key ring: tokens of each key verify at its position, a retired key is refused', 1, async () => {
  const keys = [random(32), random(32), random(40)];
  const ring = new k.KeyRing([keys[0], new k.TokenKey(keys[1]), keys[2]]);
  const now = Math.floor(Date.now() / 1000);
  for (const [i, key] of keys.entries()) {
    const c = k.jwtVerify(await webToken({ sub: `k${i}`, email: 'r@example.org', iss: 'keldo', exp: now + 60 }, key), ring);
    if (c.key !== i || c.sub !== `k${i}`) return `key ${i}: ${JSON.stringify(c)}`;
  }
  try {
    ring.verify(await webToken({ sub: 'x', email: 'r@example.org', iss: 'keldo', exp: now + 60 }, random(32)));
    return 'a token of no key in the ring was accepted';
  } catch (e) {
    if (!(e instanceof k.BadSignatureError)) return `${e.name}: ${e.message}`;
  }
  if (k.jwtVerify(ring.mint('m', 'm@example.org', 60), keys[0]).sub !== 'm') return 'the ring does not mint with its first key';
  ring.dispose();
  return '';
});

const seen = new Set();
await check('UUIDs: version 4, distinct', 100, () => {
  const u = k.uuid4();
  if (seen.has(u)) return `repeated ${u}`;
  seen.add(u);
  return /^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$/.test(u) ? '' : u;
});

const failed = results.filter((r) => r.failed > 0).length;
const tbody = document.querySelector('#results tbody');
for (const r of results) {
  const tr = document.createElement('tr');
  for (const [text, cls] of [[r.name], [String(r.cases)], [r.failed ? `${r.failed} failed` : 'pass', r.failed ? 'fail' : 'pass'], [r.detail]]) {
    const td = document.createElement('td');
    td.textContent = text;
    if (cls) td.className = cls;
    tr.append(td);
  }
  tbody.append(tr);
}
document.getElementById('summary').textContent =
  `${navigator.userAgent.match(/(Headless)?Chrom(e|ium)\/[\d.]+/)?.[0] ?? navigator.userAgent}: ` +
  `${results.length - failed} checks passed, ${failed} failed (module ${k.loadLibrary()})`;
document.title = `keldo-crypto in the browser: ${failed ? 'FAILED' : 'passed'}`;
globalThis.keldoResults = results;
