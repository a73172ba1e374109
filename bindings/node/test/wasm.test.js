'use strict';
// The WebAssembly backend: how it is chosen, that it answers every call as
// the native library does (status, outputs, texts), that it leaves nothing
// in the module's heap, and that it never makes up randomness. Needs the
// module (KELDO_CRYPTO_WASM, or wasm/keldo_crypto.wasm); the comparisons
// also need the native library (KELDO_CRYPTO_LIBRARY).
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const crypto = require('node:crypto');
const { spawnSync } = require('node:child_process');
const wasm = require('../lib/wasm');
const core = require('../lib/wasm-core');

const pkg = path.resolve(__dirname, '..');
const wasmFile = process.env.KELDO_CRYPTO_WASM || wasm.packaged;
const haveWasm = fs.existsSync(wasmFile);
const nativeLib = process.env.KELDO_CRYPTO_LIBRARY;
const noWasm = haveWasm ? false : `no WebAssembly module at ${wasmFile}`;

function node(code, env, cwd = pkg) {
  const r = spawnSync(process.execPath, ['-e', code], { cwd, env: { ...process.env, ...env }, encoding: 'utf8' });
  return { status: r.status, out: r.stdout.trim().split('\n'), err: r.stderr };
}
const report = `
  try { console.log(k.libraryBackend()); console.log(k.loadLibrary()); console.log(Buffer.from(k.sha256('abc')).toString('hex').slice(0, 8)); }
  catch (e) { console.log(e.name); console.log(e.message); }`;

test('the backend is chosen by KELDO_CRYPTO_BACKEND, the path, or the entry point', { skip: noWasm }, () => {
  const abs = path.resolve(wasmFile);
  const cases = [
    ['KELDO_CRYPTO_BACKEND=wasm', `const k = require('.');${report}`, { KELDO_CRYPTO_BACKEND: 'wasm', KELDO_CRYPTO_WASM: abs }, ['wasm', abs, 'ba7816bf']],
    ['a .wasm path', `const k = require('.'); k.loadLibrary(${JSON.stringify(abs)});${report}`, { KELDO_CRYPTO_BACKEND: '' }, ['wasm', abs, 'ba7816bf']],
    ['keldo-crypto/wasm beats KELDO_CRYPTO_LIBRARY', `const k = require('./wasm.js');${report}`, { KELDO_CRYPTO_BACKEND: 'native', KELDO_CRYPTO_WASM: abs }, ['wasm', abs, 'ba7816bf']],
    ['a backend name that does not exist', `const k = require('.');${report}`, { KELDO_CRYPTO_BACKEND: 'wasm32' }, ['InvalidArgumentError', 'keldo-crypto: KELDO_CRYPTO_BACKEND must be native, wasm or auto, not "wasm32"']],
    ['a missing module is named, with the backend', `const k = require('.');${report}`, { KELDO_CRYPTO_BACKEND: 'wasm', KELDO_CRYPTO_WASM: '/nonexistent/keldo_crypto.wasm' },
      ['LibraryNotFoundError', /^keldo-crypto: cannot load the WebAssembly module \/nonexistent\/keldo_crypto\.wasm \(KELDO_CRYPTO_WASM\): ENOENT/]],
    ['a file that is no module', `const k = require('.');${report}`, { KELDO_CRYPTO_BACKEND: 'wasm', KELDO_CRYPTO_WASM: __filename },
      ['LibraryNotFoundError', /^keldo-crypto: cannot load the WebAssembly module .*wasm\.test\.js \(KELDO_CRYPTO_WASM\): WebAssembly\.Module\(\)/]],
  ];
  if (nativeLib) {
    cases.push(['KELDO_CRYPTO_BACKEND=native', `const k = require('.');${report}`, { KELDO_CRYPTO_BACKEND: 'native', KELDO_CRYPTO_LIBRARY: nativeLib }, ['native', nativeLib, 'ba7816bf']]);
    cases.push(['the ES module entry in Node.js', `import('keldo-crypto/wasm').then((k) => {${report}})`, { KELDO_CRYPTO_LIBRARY: nativeLib, KELDO_CRYPTO_WASM: abs }, ['wasm', abs, 'ba7816bf']]);
  }
  for (const [what, code, env, want] of cases) {
    const r = node(code, env);
    assert.equal(r.status, 0, `${what}: ${r.err}`);
    assert.equal(r.out[0], want[0], `${what}: ${r.out.join(' | ')}`);
    if (want[1] instanceof RegExp) assert.match(r.out[1], want[1], what);
    else assert.deepEqual(r.out.slice(1), want.slice(1), what);
  }
});

// A copy of the package with the module in wasm/ and nothing native: what a
// Mac, Alpine or FreeBSD user installs.
test('where no native library is found, the package takes its module', { skip: noWasm }, (t) => {
  const loader = require('koffi');
  for (const name of ['libkeldo_crypto.so.1', 'libkeldo_crypto.so']) {
    try {
      loader.load(name);
      t.skip(`the system loader finds ${name}`);
      return;
    } catch { /* not installed: the case applies */ }
  }
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'keldo-wasm-'));
  try {
    for (const f of ['index.js', 'package.json', 'lib']) fs.cpSync(path.join(pkg, f), path.join(dir, f), { recursive: true });
    fs.symlinkSync(path.join(pkg, 'node_modules'), path.join(dir, 'node_modules'));
    const env = { KELDO_CRYPTO_BACKEND: '', KELDO_CRYPTO_LIBRARY: '', KELDO_CRYPTO_WASM: '' };
    let r = node(`const k = require('.');${report}`, env, dir);
    assert.equal(r.out[0], 'LibraryNotFoundError', r.out.join('\n'));
    assert.match(r.out.join('\n'), /The WebAssembly backend is not there either: .*wasm\/keldo_crypto\.wasm is missing/);
    fs.mkdirSync(path.join(dir, 'wasm'));
    fs.copyFileSync(wasmFile, path.join(dir, 'wasm', 'keldo_crypto.wasm'));
    r = node(`const k = require('.');${report}`, env, dir);
    assert.deepEqual(r.out, ['wasm', path.join(dir, 'wasm', 'keldo_crypto.wasm'), 'ba7816bf'], r.err);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// ---- the same answers as the native library ------------------------------

function backends() {
  const native = require('../lib/native');
  const { lib, path: p } = native.open(nativeLib);
  const module = new WebAssembly.Module(fs.readFileSync(wasmFile));
  return { n: native.bind(lib, p), w: core.instantiateSync(module).fns };
}

// Calls f with fresh copies of the same arguments on both backends; the
// results and every output buffer must be equal.
function same(b, name, makeArgs, label) {
  const a1 = makeArgs();
  // Copies: Buffer's slice() is a view of the same bytes.
  const a2 = a1.map((a) => (Buffer.isBuffer(a) ? Buffer.from(a) : ArrayBuffer.isView(a) ? a.slice() : a));
  const r1 = b.n[name](...a1);
  const r2 = b.w[name](...a2);
  assert.deepEqual(r2, r1, `${name} ${label}: result`);
  a1.forEach((a, i) => { if (ArrayBuffer.isView(a)) assert.deepEqual(a2[i], a, `${name} ${label}: argument ${i + 1}`); });
}

test('every function answers as the native library does', { skip: noWasm || (!nativeLib && 'KELDO_CRYPTO_LIBRARY is not set') }, () => {
  const b = backends();
  const rnd = (n) => crypto.randomBytes(n);
  for (let i = 0; i < 60; i++) {
    const len = i < 20 ? i : crypto.randomInt(5000);
    const data = rnd(len);
    same(b, 'sha256', () => [data, len, Buffer.alloc(32)], len);
    same(b, 'hmacSha256', () => [rnd(0), 0, data, len, Buffer.alloc(32)].map((x, j) => (j === 0 ? data.subarray(0, i % 130) : j === 1 ? Math.min(i % 130, len) : x)), len);
    const size = Math.ceil(len / 3) * 4 + 1;
    same(b, 'base64Encode', () => [data, len, Buffer.alloc(size), size], len);
    same(b, 'base64urlEncode', () => [data, len, Buffer.alloc(size), size], len);
    // Too small an output is refused alike.
    same(b, 'base64Encode', () => [data, len, Buffer.alloc(size), size - 1], `${len}, short`);
  }
  const texts = ['QUJD', 'QUI=\n', 'QUI\n=', 'Q', '####', 'YW Jj', 'YWJj====', '-_-_', '+/+/', ''];
  for (const t of texts) {
    for (const fn of ['base64Decode', 'base64urlDecode']) {
      same(b, fn, () => [Buffer.from(`${t}\0`), Buffer.alloc(16), 16, new BigUint64Array(1)], JSON.stringify(t));
    }
  }
  for (const [pw, salt, iters, len] of [['', '', 1, 1], ['p', 's', 1, 64], ['password', 'salt', 4096, 32], [rnd(100), rnd(40), 777, 100]]) {
    same(b, 'pbkdf2Sha256', () => [Buffer.from(pw), pw.length, Buffer.from(salt), salt.length, iters, Buffer.alloc(len), len], `${iters}/${len}`);
  }
  for (let s = -1100; s <= 0; s++) assert.equal(b.w.statusText(s), b.n.statusText(s), `statusText(${s})`);
  const x = rnd(32);
  same(b, 'secureCompare', () => [x, Buffer.from(x), 32], 'equal');
  same(b, 'secureCompare', () => [x, rnd(32), 32], 'unequal');

  // Tokens: the same token for the same clock second, the same verdicts.
  const secret = rnd(40);
  for (const [sub, email, ttl] of [['u', 'e@x', 60], ['ü'.repeat(31), 'é@x.org', 0], ['x'.repeat(63), 'y'.repeat(127), 0xffffffff], ['x'.repeat(64), 'e', 1]]) {
    let tries = 0;
    for (;;) {
      const o1 = Buffer.alloc(2129); const o2 = Buffer.alloc(2129);
      const s1 = new BigUint64Array(1); const s2 = new BigUint64Array(1);
      const before = Math.floor(Date.now() / 1000);
      const r1 = b.n.jwtMint(secret, secret.length, sub, email, ttl, o1, o1.length, s1);
      const r2 = b.w.jwtMint(secret, secret.length, sub, email, ttl, o2, o2.length, s2);
      if (Math.floor(Date.now() / 1000) !== before && tries++ < 3) continue;
      assert.equal(r2, r1, sub);
      assert.deepEqual(o2, o1, sub);
      assert.deepEqual(s2, s1, sub);
      break;
    }
  }
  const tokenOut = Buffer.alloc(2129);
  assert.equal(b.n.jwtMint(secret, secret.length, 'sub', 'mail@x', 600, tokenOut, 2129, null), 0);
  const good = tokenOut.toString('latin1', 0, tokenOut.indexOf(0));
  const [h, p, s] = good.split('.');
  const sign = (input, key = secret) => `${input}.${crypto.createHmac('sha256', key).update(input).digest('base64url')}`;
  const claims = (o) => Buffer.from(JSON.stringify(o)).toString('base64url');
  const now = Math.floor(Date.now() / 1000);
  const tokens = [good, `${h}.${p}.${s.slice(0, -1)}A`, `${h}.${p}`, `${h}${p}${s}`, `${good}.x`, `${h}.${p}.`, sign(`${h}.${claims({ sub: 'a', email: 'b', iss: 'keldo', exp: now - 100 })}`),
    sign(`${h}.${claims({ sub: 'a', email: 'b', iss: 'keldo', exp: now + 100, nbf: now + 1000 })}`), sign(`${h}.${claims([1, 2])}`), sign(`${h}.e30`), sign(`${h}.!!!`),
    sign(`${h}.${claims({ sub: 'a', email: 'b', iss: 'keldo', exp: now + 100 })}`, 'other key'), sign(`${h}.${claims({ sub: 7, email: 'b', iss: 'keldo', exp: now + 100 })}`)];
  for (const t of tokens) {
    same(b, 'jwtVerify', () => [secret, secret.length, t, Buffer.alloc(64), Buffer.alloc(128), new BigInt64Array(1)], t.slice(-20));
  }

  // Password hashes in every form, and strings that are none.
  const stored = ['$pbkdf2-sha256$i=1000$c2FsdA$' + crypto.pbkdf2Sync('pw', 'salt', 1000, 32, 'sha256').toString('base64').replace(/=+$/, ''),
    'pbkdf2_sha256$1000$salt$' + crypto.pbkdf2Sync('pw', 'salt', 1000, 32, 'sha256').toString('base64'),
    'pbkdf2:sha256:1000$salt$' + crypto.pbkdf2Sync('pw', 'salt', 1000, 32, 'sha256').toString('hex'),
    'pbkdf2:sha256$salt$00', 'plain', '$pbkdf2-sha256$i=0$c2FsdA$AAAA', 'pbkdf2_sha256$01000$salt$AAAA', ''];
  for (const st of stored) {
    for (const pw of ['pw', 'px']) same(b, 'passwordVerify', () => [Buffer.from(pw), pw.length, st], `${pw} ${st}`);
    same(b, 'passwordNeedsRehash', () => [st, 600000], st);
  }
  same(b, 'passwordHash', () => [Buffer.from('pw'), 2, 1000, Buffer.alloc(8), 8], 'short output');
});

test('prepared keys and key rings answer as the native library does', { skip: noWasm || (!nativeLib && 'KELDO_CRYPTO_LIBRARY is not set') }, () => {
  const b = backends();
  const secrets = [crypto.randomBytes(32), Buffer.from('previous-key-of-the-ring-000000000'), Buffer.alloc(70, 0)];
  const ring = (fns) => {
    const keys = Buffer.alloc(128 * secrets.length);
    secrets.forEach((s, i) => assert.equal(fns.jwtKeyInit(keys.subarray(128 * i, 128 * (i + 1)), s, s.length), 0));
    return keys;
  };
  // The prepared states are the same bytes; refusals the same codes.
  same(b, 'jwtKeyInit', () => [Buffer.alloc(128), secrets[0], 32], 'a key');
  same(b, 'jwtKeyInit', () => [Buffer.alloc(128), Buffer.alloc(0), 0], 'empty secret');
  same(b, 'jwtKeyInit', () => [Buffer.alloc(128), null, 5], 'null secret');
  const nk = ring(b.n);
  assert.deepEqual(ring(b.w), nk);
  const tokens = [];
  for (let i = 0; i < secrets.length; i++) {
    const out = Buffer.alloc(2129);
    assert.equal(b.n.jwtMint(secrets[i], secrets[i].length, `user-${i}`, 'e@x', 600, out, 2129, null), 0);
    tokens.push(out.toString('latin1', 0, out.indexOf(0)));
  }
  tokens.push(tokens[0].slice(0, -1) + (tokens[0].endsWith('A') ? 'B' : 'A'), 'a.b', '');
  for (const t of tokens) {
    for (const count of [0, 1, 2, 3, 17]) {
      const keys = count === 17 ? Buffer.concat(Array(6).fill(nk)) : nk;
      same(b, 'jwtVerifyK', () => [keys, count, t, Buffer.alloc(64), Buffer.alloc(128), new BigInt64Array(1), new Uint32Array(1)], `${count} keys, ${t.slice(-8)}`);
    }
  }
  // A wiped key, and one never prepared, are refused alike.
  same(b, 'jwtKeyWipe', () => [Buffer.from(nk.subarray(0, 128))], 'wipe');
  same(b, 'jwtMintK', () => [Buffer.alloc(128), 'a', 'b', 60, Buffer.alloc(2129), 2129, new BigUint64Array(1)], 'unprepared');
  same(b, 'jwtVerifyK', () => [Buffer.alloc(128), 1, tokens[0], null, null, null, null], 'unprepared');
  let tries = 0;
  for (;;) {
    const before = Math.floor(Date.now() / 1000);
    const o1 = Buffer.alloc(2129); const o2 = Buffer.alloc(2129);
    assert.equal(b.n.jwtMintK(nk, 'ring-user', 'ring@example.org', 60, o1, 2129, null), 0);
    assert.equal(b.w.jwtMintK(nk, 'ring-user', 'ring@example.org', 60, o2, 2129, null), 0);
    if (Math.floor(Date.now() / 1000) !== before && tries++ < 3) continue;
    assert.deepEqual(o2, o1);
    break;
  }
});

// ---- memory --------------------------------------------------------------

function indexOf(memory, needle) {
  return Buffer.from(memory.buffer).indexOf(needle);
}

test('no secret is left in the module\'s memory and the heap does not grow', { skip: noWasm }, () => {
  const module = new WebAssembly.Module(fs.readFileSync(wasmFile));
  const { fns, memory } = core.instantiateSync(module);
  const secret = crypto.randomBytes(48);
  const password = crypto.randomBytes(24);
  const token = Buffer.alloc(2129);
  assert.equal(fns.jwtMint(secret, 48, 'sub', 'e@x', 60, token, 2129, null), 0);
  const t = token.toString('latin1', 0, token.indexOf(0));
  const sub = Buffer.alloc(64); const email = Buffer.alloc(128); const exp = new BigInt64Array(1);
  const stored = Buffer.alloc(256);
  const pages = memory.buffer.byteLength;
  for (let i = 0; i < 3000; i++) {
    assert.equal(fns.jwtVerify(secret, 48, t, sub, email, exp), 0);
    assert.equal(fns.hmacSha256(secret, 48, password, 24, Buffer.alloc(32)), 0);
    if (i % 100 === 0) {
      assert.equal(fns.pbkdf2Sha256(password, 24, secret, 48, 10, Buffer.alloc(64), 64), 0);
      assert.equal(fns.passwordHash(password, 24, 10, stored, 256), 0);
      assert.equal(fns.passwordVerify(password, 24, stored.toString('latin1', 0, stored.indexOf(0))), 0);
    }
  }
  assert.equal(memory.buffer.byteLength, pages, 'the memory grew');
  // Neither the secret, the password nor a derived key is left behind.
  assert.equal(indexOf(memory, secret.subarray(0, 16)), -1, 'secret in the heap');
  assert.equal(indexOf(memory, password.subarray(0, 16)), -1, 'password in the heap');
  const derived = Buffer.alloc(64);
  fns.pbkdf2Sha256(password, 24, secret, 48, 10, derived, 64);
  assert.equal(indexOf(memory, derived.subarray(0, 16)), -1, 'derived key in the heap');
  const mac = Buffer.alloc(32);
  fns.hmacSha256(secret, 48, password, 24, mac);
  assert.equal(indexOf(memory, mac.subarray(0, 16)), -1, 'HMAC in the heap');
  // A large input grows the memory once; the next large input reuses it.
  const big = crypto.randomBytes(4 << 20);
  const d1 = Buffer.alloc(32);
  assert.equal(fns.sha256(big, big.length, d1), 0);
  assert.deepEqual(d1, crypto.createHash('sha256').update(big).digest());
  const grown = memory.buffer.byteLength;
  assert.ok(grown > pages);
  fns.sha256(crypto.randomBytes(4 << 20), 4 << 20, d1);
  assert.equal(memory.buffer.byteLength, grown);
});

test('without a secure random source the random calls fail, as natively', { skip: noWasm }, () => {
  const module = new WebAssembly.Module(fs.readFileSync(wasmFile));
  const cases = [['no source', null], ['a source that throws', () => { throw new Error('no entropy'); }]];
  for (const [what, random] of cases) {
    const { fns } = core.instantiateSync(module, { random });
    assert.equal(fns.uuidGenerate(Buffer.alloc(37)), -1, what);
    const out = Buffer.alloc(256);
    assert.equal(fns.passwordHash(Buffer.from('pw'), 2, 1000, out, 256), -1021, what);
    assert.equal(fns.statusText(-1021), 'password_hash: random source failed');
    assert.equal(out.indexOf(0), 0, `${what}: output written`);
  }
  // The package's message for it, through index.js with the module loaded
  // in a process whose global crypto is removed (lib/wasm.js uses
  // node:crypto's, so the module itself is handed no source here).
  const r = node(`
    const core = require('./lib/wasm-core');
    delete globalThis.crypto;
    const { fns } = core.instantiateSync(new WebAssembly.Module(require('fs').readFileSync(${JSON.stringify(wasmFile)})));
    console.log(fns.uuidGenerate(Buffer.alloc(37)));`, {});
  assert.deepEqual(r.out, ['-1'], r.err);
});

test('the module asks its host for the clock and random bytes only', { skip: noWasm }, () => {
  const module = new WebAssembly.Module(fs.readFileSync(wasmFile));
  const imports = WebAssembly.Module.imports(module).map((i) => `${i.module}.${i.name}`).sort();
  assert.deepEqual(imports, ['env.emscripten_notify_memory_growth', 'keldo.random_bytes', 'keldo.unix_time']);
  const exports = new Set(WebAssembly.Module.exports(module).map((e) => e.name));
  for (const decl of Object.values(require('../lib/functions'))) assert.ok(exports.has(core.parse(decl).name), decl);
  assert.ok(fs.statSync(wasmFile).size <= 300 * 1024, 'the module is over 300 kB');
});
