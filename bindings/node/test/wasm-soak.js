'use strict';
// 1,000,000 calls of jwtVerify through the package on the WebAssembly
// backend, a bad signature every 100th: the module's memory must be the
// same size at the end as after the first call, and the secret nowhere in
// it. Run by scripts/ci/68-wasm.sh (too long for the unit suite).
//   KELDO_CRYPTO_WASM=... node test/wasm-soak.js [CALLS]
process.env.KELDO_CRYPTO_BACKEND = 'wasm';
const crypto = require('node:crypto');
const k = require('..');
const wasm = require('../lib/wasm');

const calls = Number(process.argv[2] || 1000000);
const secret = crypto.randomBytes(32);
const token = k.jwtMint(secret, 'soak-user', 'soak@example.org', 3600);
const forged = `${token.slice(0, -2)}${token.endsWith('AA') ? 'BA' : 'AA'}`;
k.jwtVerify(token, secret);
if (k.libraryBackend() !== 'wasm') throw new Error(`running on ${k.libraryBackend()}`);
const { memory } = wasm.current();
const before = memory.buffer.byteLength;
const start = process.hrtime.bigint();
let refused = 0;
for (let i = 1; i <= calls; i++) {
  if (i % 100 === 0) {
    try { k.jwtVerify(forged, secret); } catch (e) { if (e instanceof k.BadSignatureError) refused++; else throw e; }
  } else if (k.jwtVerify(token, secret).sub !== 'soak-user') {
    throw new Error(`call ${i}: wrong claims`);
  }
}
const seconds = Number(process.hrtime.bigint() - start) / 1e9;
const after = memory.buffer.byteLength;
const left = Buffer.from(memory.buffer).indexOf(secret.subarray(0, 16)) >= 0;
console.log(`soak: ${calls} verifies (${refused} forged, refused) in ${seconds.toFixed(1)} s, ` +
  `${(seconds / calls * 1e6).toFixed(2)} us each; module memory ${before} -> ${after} bytes; secret left in it: ${left ? 'yes' : 'no'}`);
if (after !== before || left || refused !== Math.floor(calls / 100)) process.exit(1);
