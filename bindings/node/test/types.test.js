'use strict';
// The TypeScript declarations under --strict: what users write compiles
// (exp as a number, KeyObject keys, the error classes and codes), and three
// mistakes are refused.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const pkg = path.resolve(__dirname, '..');
const tsc = path.join(pkg, 'node_modules', 'typescript', 'bin', 'tsc');

function compile(file) {
  // 'keldo-crypto' resolves to this package through a node_modules link.
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'keldo-ts-'));
  try {
    fs.mkdirSync(path.join(dir, 'node_modules'));
    fs.symlinkSync(pkg, path.join(dir, 'node_modules', 'keldo-crypto'));
    fs.copyFileSync(path.join(__dirname, 'types', file), path.join(dir, file));
    const r = spawnSync(process.execPath, [tsc, '--strict', '--noEmit', '--module', 'nodenext',
      '--moduleResolution', 'nodenext', '--target', 'es2022', '--types', 'node', '--typeRoots',
      path.join(pkg, 'node_modules', '@types'), path.join(dir, file)], { cwd: dir, encoding: 'utf8' });
    return { status: r.status, out: r.stdout + r.stderr };
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

test('the declarations compile under --strict as used', { skip: !fs.existsSync(tsc) && 'typescript not installed' }, () => {
  const r = compile('usage.ts');
  assert.equal(r.status, 0, r.out);
});

test('the declarations refuse a bigint exp, a number key and an undeclared code', { skip: !fs.existsSync(tsc) && 'typescript not installed' }, () => {
  const r = compile('wrong.ts');
  assert.notEqual(r.status, 0);
  const errors = r.out.split('\n').filter((l) => /error TS\d+/.test(l)).map((l) => l.match(/\((\d+),/)[1]);
  assert.deepEqual(errors, ['5', '6', '7'], r.out);
});
