// The WebAssembly backend beside its peers in one Node.js process: token
// verify and mint against jose, SHA-256, HMAC and PBKDF2 against hash-wasm
// (hand-tuned WebAssembly), @noble/hashes (plain JavaScript) and WebCrypto,
// and every case against the native library (when KELDO_CRYPTO_LIBRARY
// names one) as a ratio. The peers come from web/'s modules (npm ci there).
// Prints a Markdown table; --quick runs each case briefly (CI).
//
//   KELDO_CRYPTO_WASM=build-wasm/keldo_crypto.wasm KELDO_CRYPTO_LIBRARY=build/src/libkeldo_crypto.so \
//     node bench/wasm.mjs
import { createRequire } from 'node:module';
import { pathToFileURL, fileURLToPath } from 'node:url';
import path from 'node:path';
import * as jose from 'jose';
import { run, table } from '../web/bench-cases.mjs';

const quick = process.argv.includes('--quick');
const here = path.dirname(fileURLToPath(import.meta.url));
const require = createRequire(import.meta.url);

// Two copies of the package's API in this process, one on each backend.
const index = require.resolve('../index.js');
process.env.KELDO_CRYPTO_BACKEND = 'wasm';
const wasm = require(index);
wasm.loadLibrary();
delete require.cache[index];
let native = null;
if (process.env.KELDO_CRYPTO_LIBRARY) {
  process.env.KELDO_CRYPTO_BACKEND = 'native';
  native = require(index);
  native.loadLibrary();
}
if (wasm.libraryBackend() !== 'wasm' || (native && native.libraryBackend() !== 'native')) throw new Error('backends not as asked');

const web = path.join(here, '..', 'web', 'node_modules');
const mod = (p) => import(pathToFileURL(path.join(web, p)).href);
const hashwasm = await mod('hash-wasm/dist/index.esm.js');
const { sha256 } = await mod('@noble/hashes/sha2.js');
const { hmac } = await mod('@noble/hashes/hmac.js');
const { pbkdf2 } = await mod('@noble/hashes/pbkdf2.js');

const opts = quick ? { seconds: 0.05, samples: 1, pbkdf2Iterations: 10000 } : { seconds: 0.5, samples: 3, pbkdf2Iterations: 100000 };
const rows = await run({ wasm, native, jose, hashwasm, noble: { sha256, hmac, pbkdf2 }, subtle: globalThis.crypto.subtle }, opts);
console.log(`Node.js ${process.version}, ${opts.seconds}s x ${opts.samples} samples (median); module ${wasm.loadLibrary()}\n`);
console.log(table(rows));
