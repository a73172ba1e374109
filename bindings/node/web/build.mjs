// Bundles the browser and Deno entry (browser/entry.mjs) into
// dist/keldo-crypto.mjs with esbuild: index.js and the WebAssembly loader,
// node:crypto and node:buffer replaced by browser/'s stand-ins, and
// lib/backend.js by browser/backend.js. Checks that no require() and no
// node: import is left in the bundle.
//   node web/build.mjs [--page]   --page: also the test page's and the benchmark's bundles
import { build } from 'esbuild';
import { readFileSync, mkdirSync } from 'node:fs';
import { fileURLToPath } from 'node:url';
import path from 'node:path';

const here = path.dirname(fileURLToPath(import.meta.url));
const pkg = path.resolve(here, '..');
const browser = path.join(pkg, 'browser');

const swap = {
  name: 'keldo-browser',
  setup(b) {
    b.onResolve({ filter: /^node:crypto$/ }, () => ({ path: path.join(browser, 'node-crypto.js') }));
    b.onResolve({ filter: /^node:buffer$/ }, () => ({ path: path.join(browser, 'node-buffer.js') }));
    b.onResolve({ filter: /^\.\/lib\/backend$/ }, () => ({ path: path.join(browser, 'backend.js') }));
    b.onResolve({ filter: /^buffer$/ }, () => ({ path: path.join(here, 'node_modules', 'buffer', 'index.js') }));
  },
};

const out = path.join(pkg, 'dist', 'keldo-crypto.mjs');
mkdirSync(path.dirname(out), { recursive: true });
await build({
  entryPoints: [path.join(browser, 'entry.mjs')],
  outfile: out,
  bundle: true,
  format: 'esm',
  platform: 'browser',
  target: 'es2022',
  minify: true,
  legalComments: 'eof',
  inject: [path.join(browser, 'buffer-global.js')],
  plugins: [swap],
  logLevel: 'warning',
});
const text = readFileSync(out, 'utf8');
for (const bad of [/\brequire\(/, /["'`]node:/]) {
  if (bad.test(text)) throw new Error(`${out} still holds ${bad}`);
}
console.log(`${path.relative(process.cwd(), out)}: ${text.length} bytes`);

if (process.argv.includes('--page')) {
  // The test page and the browser benchmark import the bundle as a user
  // would; their peers (jose, hash-wasm, @noble/hashes) are bundled in.
  for (const name of ['test-page', 'bench-page']) {
    await build({
      entryPoints: [path.join(here, `${name}.mjs`)],
      outfile: path.join(pkg, 'dist', 'web', `${name}.mjs`),
      bundle: true,
      format: 'esm',
      platform: 'browser',
      target: 'es2022',
      external: ['../keldo-crypto.mjs'],
      logLevel: 'warning',
    });
  }
}
