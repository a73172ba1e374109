'use strict';
// The library of prebuilds/<platform>-<arch>/ that the published package
// carries comes before KELDO_CRYPTO_LIBRARY; an explicit path before both.
// Each case runs in a child process on a copy of the package, its
// prebuilds/ holding the library the suite runs against.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const pkg = path.resolve(__dirname, '..');
const lib = process.env.KELDO_CRYPTO_LIBRARY;
const own = `${process.platform}-${process.arch}`;
const file = process.platform === 'win32' ? 'keldo_crypto.dll' : 'libkeldo_crypto.so.1';

function copyWithPrebuilt(platformDir) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'keldo-prebuilt-'));
  for (const f of ['index.js', 'package.json', 'lib']) fs.cpSync(path.join(pkg, f), path.join(dir, f), { recursive: true });
  fs.symlinkSync(path.join(pkg, 'node_modules'), path.join(dir, 'node_modules'));
  fs.mkdirSync(path.join(dir, 'prebuilds', platformDir), { recursive: true });
  fs.copyFileSync(lib, path.join(dir, 'prebuilds', platformDir, file));
  return dir;
}

function node(dir, code, env) {
  const r = spawnSync(process.execPath, ['-e', `const k = require(${JSON.stringify(dir)}); ${code}`],
    // The native library's search, whichever backend the suite runs on.
    { env: { ...process.env, KELDO_CRYPTO_BACKEND: 'native', ...env }, encoding: 'utf8' });
  fs.rmSync(dir, { recursive: true, force: true });
  return { status: r.status, out: r.stdout.trim().split('\n'), err: r.stderr };
}

const abc = "console.log(Buffer.from(k.sha256('abc')).toString('hex').slice(0, 8));";

test('the prebuilt library of this platform comes before KELDO_CRYPTO_LIBRARY', { skip: !lib }, () => {
  const dir = copyWithPrebuilt(own);
  const r = node(dir, `console.log(k.loadLibrary()); ${abc}`, { KELDO_CRYPTO_LIBRARY: '/nonexistent/libkeldo_crypto.so' });
  assert.equal(r.status, 0, r.err);
  assert.deepEqual(r.out, [path.join(dir, 'prebuilds', own, file), 'ba7816bf']);
});

test('a prebuilt library of another platform is not used', { skip: !lib }, () => {
  const dir = copyWithPrebuilt(process.platform === 'win32' ? 'linux-x64' : 'win32-x64');
  const r = node(dir, 'console.log(k.loadLibrary());', { KELDO_CRYPTO_LIBRARY: lib });
  assert.equal(r.status, 0, r.err);
  assert.deepEqual(r.out, [lib]);
});

test('an explicit path comes before the prebuilt library', { skip: !lib }, () => {
  const dir = copyWithPrebuilt(own);
  const r = node(dir, `console.log(k.loadLibrary(${JSON.stringify(lib)})); ${abc}`, {});
  assert.equal(r.status, 0, r.err);
  assert.deepEqual(r.out, [lib, 'ba7816bf']);
});
