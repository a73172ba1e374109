'use strict';
// One lock for every JavaScript thread of the process. The library's token
// buffer and last-error text are process-wide, and each worker thread loads
// its own copy of this module, so a lock kept in a module variable would not
// do: the lock word lives in a SharedArrayBuffer that is handed down to every
// worker started afterwards through worker_threads' environment data.
const { isMainThread, getEnvironmentData, setEnvironmentData } = require('node:worker_threads');

const KEY = 'keldo-crypto:lock';

let word = getEnvironmentData(KEY);
if (!(word instanceof Int32Array)) {
  if (!isMainThread) {
    // Sibling workers that each load the binding first would get a lock
    // each; loading it in the main thread before starting them avoids that.
    process.emitWarning(
      'keldo-crypto was first loaded in a worker thread; load it in the main ' +
        'thread before starting workers so that all threads share one lock',
      { code: 'KELDO_LOCK_NOT_INHERITED' });
  }
  word = new Int32Array(new SharedArrayBuffer(4));
  setEnvironmentData(KEY, word);
}

// A futex-style mutex: 0 free, 1 held, 2 held with waiters (Drepper,
// "Futexes Are Tricky", mutex 2). The uncontended path is one
// compare-and-swap to take and one subtraction to release.
function acquire() {
  let c = Atomics.compareExchange(word, 0, 0, 1);
  if (c === 0) return;
  if (c !== 2) c = Atomics.exchange(word, 0, 2);
  while (c !== 0) {
    Atomics.wait(word, 0, 2);
    c = Atomics.exchange(word, 0, 2);
  }
}

function release() {
  if (Atomics.sub(word, 0, 1) !== 1) {
    Atomics.store(word, 0, 0);
    Atomics.notify(word, 0, 1);
  }
}

// Runs fn with the lock held; fn only calls the library and copies results.
function locked(fn) {
  acquire();
  try {
    return fn();
  } finally {
    release();
  }
}

module.exports = { locked };
