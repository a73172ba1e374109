'use strict';
// A helper thread of the WebAssembly backend (lib/wasm.js): runs the calls
// the package makes in their asynchronous form, on its own instance of the
// module, so that a password hash does not stop the caller's event loop.
// Each message is one call; the reply carries the result and the arguments
// the library may have written. The copies of the arguments this thread
// received (passwords among them) are zeroed once the reply is sent.
const { parentPort, workerData } = require('node:worker_threads');
const { webcrypto } = require('node:crypto');
const fs = require('node:fs');
const core = require('./wasm-core');

const { fns } = core.instantiateSync(new WebAssembly.Module(fs.readFileSync(workerData.path)),
  { random: (view) => webcrypto.getRandomValues(view) });

parentPort.on('message', ({ id, name, args }) => {
  let reply;
  try {
    reply = { id, rv: fns[name](...args), args };
  } catch (e) {
    reply = { id, error: `${e.name}: ${e.message}` };
  }
  parentPort.postMessage(reply);
  for (const a of args) if (ArrayBuffer.isView(a)) new Uint8Array(a.buffer, a.byteOffset, a.byteLength).fill(0);
});
