'use strict';
// The TypeScript declarations under --strict: what users write compiles
// (exp as a number, KeyObject keys, the error classes and codes, the Express
// and Fastify components), and eight mistakes are refused.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const pkg = path.resolve(__dirname, '..');
const tsc = path.join(pkg, 'node_modules', 'typescript', 'bin', 'tsc');

// All files in one run of tsc. --skipLibCheck: the declarations of Node.js
// are used but not checked themselves (most of tsc's time otherwise).
function compile() {
  // 'keldo-crypto' resolves to this package through a node_modules link.
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'keldo-ts-'));
  try {
    fs.mkdirSync(path.join(dir, 'node_modules'));
    fs.symlinkSync(pkg, path.join(dir, 'node_modules', 'keldo-crypto'));
    // Fastify carries its own declarations (Express's come from @types).
    fs.symlinkSync(path.join(pkg, 'node_modules', 'fastify'), path.join(dir, 'node_modules', 'fastify'));
    const files = ['usage.ts', 'wrong.ts', 'web.ts', 'web-wrong.ts'].map((f) => {
      fs.copyFileSync(path.join(__dirname, 'types', f), path.join(dir, f));
      return path.join(dir, f);
    });
    const r = spawnSync(process.execPath, [tsc, '--strict', '--noEmit', '--skipLibCheck', '--module', 'nodenext',
      '--moduleResolution', 'nodenext', '--target', 'es2022', '--types', 'node', '--typeRoots',
      path.join(pkg, 'node_modules', '@types'), ...files], { cwd: dir, encoding: 'utf8' });
    const out = r.stdout + r.stderr;
    const errors = {};
    for (const m of out.matchAll(/^(\S+?\.ts)\((\d+),\d+\): error TS\d+/gm)) {
      (errors[path.basename(m[1])] ||= []).push(m[2]);
    }
    return { out, errors };
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

test('the declarations under --strict: used as documented, and eight mistakes refused',
  { skip: !fs.existsSync(tsc) && 'typescript not installed' }, () => {
    const { out, errors } = compile();
    assert.equal(errors['usage.ts'], undefined, out);
    // A bigint exp, a number as the key, an undeclared error code, one
    // secret as a ring.
    assert.deepEqual(errors['wrong.ts'], ['5', '6', '7', '9'], out);
    // The framework components against Express's and Fastify's own types.
    assert.equal(errors['web.ts'], undefined, out);
    assert.deepEqual(errors['web-wrong.ts'], ['6', '7', '8', '9'], out);
  });
