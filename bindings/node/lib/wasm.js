'use strict';
// The WebAssembly backend for Node.js: keldo_crypto.wasm from KELDO_CRYPTO_WASM
// or the package's wasm/ folder, compiled and instantiated synchronously on
// first use (each thread has its own instance), with node:crypto's
// getRandomValues as its only random source. The asynchronous forms run on
// helper threads (lib/wasm-worker.js), as koffi runs them on its own.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { Worker } = require('node:worker_threads');
const declarations = require('./functions');
const { webcrypto } = require('node:crypto');
const core = require('./wasm-core');
const { LibraryNotFoundError } = require('./errors');

const WASM_ENV = 'KELDO_CRYPTO_WASM';
const packaged = path.resolve(__dirname, '..', 'wasm', 'keldo_crypto.wasm');

// The file a load without an explicit path uses, and where it came from.
function defaultFile() {
  const env = process.env[WASM_ENV];
  if (env) return { path: env, from: WASM_ENV };
  return { path: packaged, from: 'the WebAssembly module of this package' };
}

function available() {
  return fs.existsSync(defaultFile().path);
}

let loaded = null;

// Helper threads, started on the first asynchronous call, at most one per
// core (and 4); unreferenced while idle so they never keep a process alive.
const MAX_HELPERS = Math.max(1, Math.min(4, (os.availableParallelism ? os.availableParallelism() : os.cpus().length)));
function helperPool(file) {
  const helpers = [];
  const pending = new Map();
  let nextId = 0;
  function settle(helper, msg) {
    const p = pending.get(msg.id);
    pending.delete(msg.id);
    if (--helper.busy === 0) helper.worker.unref();
    if (msg.error !== undefined) {
      p.callback(new Error(`keldo-crypto (WebAssembly backend): ${msg.error}`));
      return;
    }
    // The outputs, into the caller's own buffers.
    p.kinds.forEach((kind, i) => {
      const mine = p.args[i];
      if (kind !== 'inout' || !ArrayBuffer.isView(mine)) return;
      const theirs = msg.args[i];
      new Uint8Array(mine.buffer, mine.byteOffset, mine.byteLength)
        .set(new Uint8Array(theirs.buffer, theirs.byteOffset, theirs.byteLength));
      new Uint8Array(theirs.buffer, theirs.byteOffset, theirs.byteLength).fill(0);
    });
    p.callback(null, msg.rv);
  }
  function pick() {
    let best = null;
    for (const h of helpers) if (best === null || h.busy < best.busy) best = h;
    if (best !== null && (best.busy === 0 || helpers.length >= MAX_HELPERS)) return best;
    const h = { worker: new Worker(path.join(__dirname, 'wasm-worker.js'), { workerData: { path: file } }), busy: 0 };
    h.worker.on('message', (msg) => settle(h, msg));
    h.worker.on('error', (e) => {
      for (const [id, p] of pending) if (p.helper === h) { pending.delete(id); p.callback(e); }
      helpers.splice(helpers.indexOf(h), 1);
    });
    h.worker.unref();
    helpers.push(h);
    return h;
  }
  return function call(name, kinds, args, callback) {
    const h = pick();
    const id = nextId++;
    pending.set(id, { helper: h, kinds, args, callback });
    if (h.busy++ === 0) h.worker.ref();
    // postMessage copies the arguments now: the caller may reuse its buffers.
    h.worker.postMessage({ id, name, args });
  };
}

function open(explicit) {
  const { path: file, from } = explicit ? { path: explicit, from: 'the path given to loadLibrary()' } : defaultFile();
  let module;
  try {
    module = new WebAssembly.Module(fs.readFileSync(file));
  } catch (e) {
    throw new LibraryNotFoundError(
      `keldo-crypto: cannot load the WebAssembly module ${file} (${from}): ${e.message}`);
  }
  try {
    const { fns, memory } = core.instantiateSync(module, { random: (view) => webcrypto.getRandomValues(view) });
    const call = helperPool(path.resolve(file));
    for (const [name, decl] of Object.entries(declarations)) {
      const kinds = core.parse(decl).params;
      fns[name].async = (...args) => {
        const callback = args.pop();
        call(name, kinds, args, callback);
      };
    }
    loaded = { fns, memory, path: file };
    return loaded;
  } catch (e) {
    throw new LibraryNotFoundError(`keldo-crypto: ${file} is not the keldo-crypto 1.2 WebAssembly module or later (${e.message})`);
  }
}

// The instance of this thread, once loaded (for tests of its memory).
function current() {
  return loaded;
}

module.exports = { open, available, current, WASM_ENV, packaged };
