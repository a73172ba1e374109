'use strict';
// Finding the library, and sharing the lock with workers. Each case runs in
// a child process, so that it starts with nothing loaded.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const pkg = path.resolve(__dirname, '..');

function node(code, env) {
  const r = spawnSync(process.execPath, ['-e', code], { env: { ...process.env, ...env }, encoding: 'utf8' });
  return { status: r.status, out: r.stdout, err: r.stderr };
}

test('a missing KELDO_CRYPTO_LIBRARY file is reported, not replaced by another library', () => {
  const r = node(`
    const k = require(${JSON.stringify(pkg)});
    try { k.sha256('x'); console.log('loaded'); } catch (e) { console.log(e.code); console.log(e.message); }`,
  { KELDO_CRYPTO_LIBRARY: '/nonexistent/libkeldo_crypto.so' });
  assert.equal(r.status, 0, r.err);
  assert.match(r.out, /^ERR_KELDO_LIBRARY_NOT_FOUND\n/);
  assert.match(r.out, /\/nonexistent\/libkeldo_crypto\.so \(KELDO_CRYPTO_LIBRARY\)/);
});

test('loadLibrary chooses the file once', () => {
  const lib = process.env.KELDO_CRYPTO_LIBRARY;
  const r = node(`
    const k = require(${JSON.stringify(pkg)});
    console.log(k.loadLibrary(${JSON.stringify(lib)}));
    console.log(k.loadLibrary());
    try { k.loadLibrary('/elsewhere/libkeldo_crypto.so'); } catch (e) { console.log(e.code); }`,
  { KELDO_CRYPTO_LIBRARY: '' });
  assert.equal(r.status, 0, r.err);
  assert.deepEqual(r.out.trim().split('\n'), [lib, lib, 'ERR_KELDO_INVALID_ARGUMENT']);
});

test('workers inherit the lock of the thread that loaded the package first', () => {
  // The main thread loads it (no warning); then a worker whose parent never
  // did gets a warning that its lock is its own.
  const inherited = node(`
    require(${JSON.stringify(pkg)});
    const { Worker } = require('node:worker_threads');
    new Worker('require(${JSON.stringify(pkg)}).sha256("x")', { eval: true });`);
  assert.equal(inherited.status, 0, inherited.err);
  assert.doesNotMatch(inherited.err, /KELDO_LOCK_NOT_INHERITED/);
  const alone = node(`
    const { Worker } = require('node:worker_threads');
    new Worker('require(${JSON.stringify(pkg)}).sha256("x")', { eval: true });`);
  assert.equal(alone.status, 0, alone.err);
  assert.match(alone.err, /KELDO_LOCK_NOT_INHERITED/);
});
