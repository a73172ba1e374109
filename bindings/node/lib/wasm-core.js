'use strict';
// The library as a standalone WebAssembly module (keldo_crypto.wasm, built
// with cmake/toolchains/wasm32-emscripten.cmake), behind the functions of
// lib/functions.js with the calling convention koffi gives lib/native.js:
// the same arguments, the same results, so index.js cannot tell the two
// backends apart. No Node.js API is used here: lib/wasm.js loads the module
// for Node.js, the browser entry (browser/index.mjs) for browsers and Deno.
//
// Memory: each call makes one allocation in the module's heap for all its
// arguments, copies them in, calls, copies the outputs back, zeroes every
// byte it wrote or let the library write (secrets, passwords, keys,
// digests) and frees the allocation before returning, so the heap holds
// nothing between calls and does not grow over a long run.
//
// The module asks its host for two things, as imports of module "keldo":
// random bytes, only ever from crypto.getRandomValues (without it the
// library's random calls fail, as they do natively when the operating
// system's source fails), and the calendar clock.
const declarations = require('./functions');

const ALIGN = 8;

// "int32_t keldo_x(const uint8_t *a, uint64_t n, char *out)" into the
// export name, the result kind and one kind per parameter: 'in' (a const
// pointer: copied in), 'inout' (a pointer the library may write: copied in
// and back), 'big' (a 64-bit integer, a BigInt to WebAssembly) or 'num'.
function parse(decl) {
  const m = /^\s*(.*?)\s*\b(\w+)\s*\((.*)\)\s*$/.exec(decl);
  if (m === null) throw new Error(`cannot read the declaration ${decl}`);
  const params = m[3].split(',').map((p) => p.trim()).filter((p) => p !== '' && p !== 'void').map((p) => {
    if (p.includes('*')) return /\bconst\b/.test(p) ? 'in' : 'inout';
    return /\b(u?int64_t)\b/.test(p) ? 'big' : 'num';
  });
  let result = 'num';
  if (/\bchar\s*\*/.test(m[1])) result = 'str';
  else if (/^void$/.test(m[1].trim())) result = 'void';
  else if (/\b(u?int64_t)\b/.test(m[1])) result = 'big';
  return { name: m[2], params, result };
}

const encoder = new TextEncoder();
const decoder = new TextDecoder();

function bytesOf(value) {
  if (ArrayBuffer.isView(value)) return new Uint8Array(value.buffer, value.byteOffset, value.byteLength);
  if (value instanceof ArrayBuffer) return new Uint8Array(value);
  return null;
}

// The state one instance shares with its imports and its functions.
function newState(random) {
  const state = {
    exports: null,
    memory: null,
    view: null,
    random,
    heap() {
      // A grown memory detaches the old buffer.
      if (state.view === null || state.view.buffer !== state.memory.buffer) state.view = new Uint8Array(state.memory.buffer);
      return state.view;
    },
  };
  return state;
}

function imports(state) {
  return {
    keldo: {
      random_bytes(ptr, len) {
        if (typeof state.random !== 'function') return -1;
        try {
          state.random(new Uint8Array(state.memory.buffer, ptr, len));
          return 0;
        } catch {
          return -1;
        }
      },
      unix_time() {
        return Math.floor(Date.now() / 1000);
      },
    },
    env: {
      emscripten_notify_memory_growth() {
        state.view = null;
      },
    },
  };
}

// The random source: the platform's crypto.getRandomValues, or none.
function defaultRandom() {
  const c = globalThis.crypto;
  if (c && typeof c.getRandomValues === 'function') return (view) => c.getRandomValues(view);
  return null;
}

function marshal(state, decl) {
  const { name, params, result } = parse(decl);
  const f = state.exports[name];
  if (typeof f !== 'function') throw new Error(`the module does not export ${name}`);
  const { malloc, free } = state.exports;
  const n = params.length;
  const callArgs = new Array(n);
  const sizes = new Array(n);
  const fn = function (...args) {
    // One allocation: each pointer argument gets a region, 8-byte aligned.
    let total = 0;
    for (let i = 0; i < n; i++) {
      const kind = params[i];
      if (kind !== 'in' && kind !== 'inout') continue;
      const v = args[i];
      let size = 0;
      if (typeof v === 'string') size = v.length * 3 + 1;  // UTF-8 and a NUL, at most
      else if (v !== null && v !== undefined) {
        const b = bytesOf(v);
        if (b === null) throw new TypeError(`${name}: argument ${i + 1} must be a Buffer, typed array or string`);
        size = b.length;
      }
      sizes[i] = size;
      total += (size + ALIGN - 1) & ~(ALIGN - 1);
    }
    const base = total > 0 ? malloc(total) : 0;
    if (total > 0 && base === 0) throw new RangeError(`${name}: the WebAssembly module is out of memory`);
    let heap = state.heap();
    let at = base;
    // Bytes written into the heap, as [start, end) pairs, zeroed afterwards.
    const dirty = [];
    try {
      for (let i = 0; i < n; i++) {
        const kind = params[i];
        const v = args[i];
        if (kind === 'num') callArgs[i] = v;
        else if (kind === 'big') callArgs[i] = BigInt(v);
        else if (v === null || v === undefined) callArgs[i] = 0;
        else {
          callArgs[i] = at;
          if (typeof v === 'string') {
            const { written } = encoder.encodeInto(v, heap.subarray(at, at + sizes[i] - 1));
            heap[at + written] = 0;
            dirty.push(at, at + written + 1);
          } else {
            const b = bytesOf(v);
            heap.set(b, at);
            dirty.push(at, at + b.length);
          }
          at += (sizes[i] + ALIGN - 1) & ~(ALIGN - 1);
        }
      }
      const rv = f(...callArgs);
      heap = state.heap();
      for (let i = 0; i < n; i++) {
        if (params[i] !== 'inout') continue;
        const v = args[i];
        if (v === null || v === undefined || typeof v === 'string') continue;
        const b = bytesOf(v);
        b.set(heap.subarray(callArgs[i], callArgs[i] + b.length));
      }
      if (result === 'str') {
        if (rv === 0) return null;
        const end = heap.indexOf(0, rv);
        return decoder.decode(heap.subarray(rv, end));
      }
      if (result === 'void') return undefined;
      if (result === 'big') return rv;
      return rv;
    } finally {
      if (base !== 0) {
        heap = state.heap();
        for (let j = 0; j < dirty.length; j += 2) heap.fill(0, dirty[j], dirty[j + 1]);
        free(base);
      }
    }
  };
  // The asynchronous form koffi offers: the callback runs later, from the
  // event loop, with (error, result). The call itself runs on this thread.
  fn.async = function (...args) {
    const callback = args.pop();
    setTimeout(() => {
      let rv;
      try {
        rv = fn(...args);
      } catch (e) {
        callback(e);
        return;
      }
      callback(null, rv);
    }, 0);
  };
  return fn;
}

// The functions of lib/functions.js (or the declarations given) over an
// instance of the module made with imports(state).
function bindInstance(instance, state, decls = declarations) {
  state.exports = instance.exports;
  state.memory = instance.exports.memory;
  if (!(state.memory instanceof WebAssembly.Memory)) throw new Error('the module exports no memory');
  // A reactor's constructors (yyjson has none today; libc may).
  if (typeof instance.exports._initialize === 'function') instance.exports._initialize();
  const fns = {};
  for (const [key, decl] of Object.entries(decls)) fns[key] = marshal(state, decl);
  return fns;
}

// Synchronous: a compiled WebAssembly.Module (Node.js compiles the file's
// bytes with new WebAssembly.Module).
function instantiateSync(module, options = {}) {
  const state = newState('random' in options ? options.random : defaultRandom());
  const instance = new WebAssembly.Instance(module, imports(state));
  return { fns: bindInstance(instance, state, options.declarations), memory: state.memory };
}

// Asynchronous: a WebAssembly.Module, bytes, or a Response (or a promise of
// one) for instantiateStreaming.
async function instantiate(source, options = {}) {
  const state = newState('random' in options ? options.random : defaultRandom());
  const imp = imports(state);
  let instance;
  source = await source;
  if (source instanceof WebAssembly.Module) {
    instance = await WebAssembly.instantiate(source, imp);
  } else if (typeof Response === 'function' && source instanceof Response) {
    if (!source.ok) throw new Error(`cannot fetch the module: ${source.status} ${source.statusText} (${source.url})`);
    // instantiateStreaming needs the application/wasm type, which a file
    // server may not send: then the bytes are compiled as they are.
    const fallback = source.clone();
    try {
      ({ instance } = await WebAssembly.instantiateStreaming(source, imp));
    } catch (e) {
      if (!(e instanceof TypeError)) throw e;
      ({ instance } = await WebAssembly.instantiate(await fallback.arrayBuffer(), imp));
    }
  } else {
    ({ instance } = await WebAssembly.instantiate(source, imp));
  }
  return { fns: bindInstance(instance, state, options.declarations), memory: state.memory };
}

module.exports = { instantiate, instantiateSync, parse, defaultRandom };
