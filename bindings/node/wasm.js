'use strict';
// keldo-crypto/wasm in Node.js: the package's API on its WebAssembly module
// (KELDO_CRYPTO_WASM, or wasm/keldo_crypto.wasm), whatever native library is
// there. It is the same API object as require('keldo-crypto'), which can
// load one backend only: if that already loaded the native library, this
// throws InvalidArgumentError.
const keldo = require('./index.js');
const wasm = require('./lib/wasm');

const file = process.env[wasm.WASM_ENV] || wasm.packaged;
keldo.loadLibrary(file);
module.exports = keldo;
