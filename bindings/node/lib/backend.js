'use strict';
// Which build of the library serves the package: the native one (lib/native.js,
// through koffi) or the WebAssembly module (lib/wasm.js). Both offer the
// functions of lib/functions.js, so index.js works with either.
//
//  - loadLibrary(path): a path ending in .wasm is the module, any other a
//    native library.
//  - KELDO_CRYPTO_BACKEND=wasm: the module; =native: a native library only.
//  - Otherwise a native library, and where none is found (no prebuild for
//    this platform, no library installed, koffi not loadable here) and none
//    was named with KELDO_CRYPTO_LIBRARY, the module.
const { InvalidArgumentError, LibraryNotFoundError } = require('./errors');
const wasm = require('./wasm');

const BACKEND_ENV = 'KELDO_CRYPTO_BACKEND';

function choice() {
  const v = (process.env[BACKEND_ENV] || '').trim().toLowerCase();
  if (v === '' || v === 'auto') return 'auto';
  if (v === 'native' || v === 'wasm') return v;
  throw new InvalidArgumentError(`keldo-crypto: ${BACKEND_ENV} must be native, wasm or auto, not ${JSON.stringify(process.env[BACKEND_ENV])}`);
}

function loadWasm(explicit) {
  const { fns, path } = wasm.open(explicit);
  return { fns, path, backend: 'wasm' };
}

// koffi is required only here, so that a platform where it cannot load
// still gets the module.
function loadNative(explicit) {
  let native;
  try {
    native = require('./native');
  } catch (e) {
    throw new LibraryNotFoundError(`keldo-crypto: the native backend cannot run here: koffi does not load (${e.message})`);
  }
  const { lib, path } = native.open(explicit);
  return { fns: native.bind(lib, path), path, backend: 'native' };
}

function load(explicit) {
  if (explicit) return /\.wasm$/i.test(explicit) ? loadWasm(explicit) : loadNative(explicit);
  const c = choice();
  if (c === 'wasm') return loadWasm();
  if (c === 'native') return loadNative();
  try {
    return loadNative();
  } catch (e) {
    if (!(e instanceof LibraryNotFoundError) || process.env.KELDO_CRYPTO_LIBRARY || !wasm.available()) {
      if (e instanceof LibraryNotFoundError && !process.env.KELDO_CRYPTO_LIBRARY) {
        e.message += `\nThe WebAssembly backend is not there either: ${wasm.packaged} is missing.`;
      }
      throw e;
    }
    return loadWasm();
  }
}

module.exports = { load, BACKEND_ENV };
