'use strict';
// lib/backend.js for the browser bundle: the one backend there is, the
// module browser/entry.mjs instantiated before the API is handed out.
const { LibraryNotFoundError } = require('../lib/errors');

let loaded = null;

function preload(fns, where) {
  loaded = { fns, path: where, backend: 'wasm' };
}

function load(explicit) {
  if (loaded === null) throw new LibraryNotFoundError('keldo-crypto (WebAssembly backend): the module is not loaded yet');
  if (explicit && explicit !== loaded.path) {
    throw new LibraryNotFoundError(
      `keldo-crypto (WebAssembly backend): this build loads its module (${loaded.path}) when imported; it cannot load ${explicit}`);
  }
  return loaded;
}

module.exports = { load, preload };
