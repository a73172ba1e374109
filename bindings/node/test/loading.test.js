'use strict';
// Finding the library, and loading it from workers. Each case runs in
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
    try { k.sha256('x'); console.log('loaded'); } catch (e) {
      console.log(e.code, e.name, e instanceof k.KeldoError, e instanceof k.LibraryNotFoundError);
      console.log(e.message);
    }`,
  // The automatic choice: a named library is no reason to take the
  // WebAssembly module instead.
  { KELDO_CRYPTO_LIBRARY: '/nonexistent/libkeldo_crypto.so', KELDO_CRYPTO_BACKEND: '' });
  assert.equal(r.status, 0, r.err);
  assert.match(r.out, /^ERR_KELDO_LIBRARY_NOT_FOUND LibraryNotFoundError true true\n/);
  // What to do about it, then what was tried.
  assert.match(r.out, /set KELDO_CRYPTO_LIBRARY to its file, or call loadLibrary\(path\) before first use/);
  assert.match(r.out, /\/nonexistent\/libkeldo_crypto\.so \(KELDO_CRYPTO_LIBRARY\)/);
});

test('a library without the 1.2 functions is refused by name', () => {
  const r = node(`
    const k = require(${JSON.stringify(pkg)});
    try { k.loadLibrary('libm.so.6'); console.log('loaded'); } catch (e) { console.log(e.code); console.log(e.message); }`, {});
  assert.equal(r.status, 0, r.err);
  assert.match(r.out, /^ERR_KELDO_LIBRARY_NOT_FOUND\n.*libm\.so\.6 is not keldo-crypto 1\.2 or later/);
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

test('workers need no particular load order', () => {
  // No lock to inherit: a worker may load the package before the main
  // thread, and nothing is printed about it.
  const r = node(`
    const { Worker } = require('node:worker_threads');
    new Worker('require(${JSON.stringify(pkg)}).sha256("x")', { eval: true });`);
  assert.equal(r.status, 0, r.err);
  assert.equal(r.err, '');
});
