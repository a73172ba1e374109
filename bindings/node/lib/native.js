'use strict';
// The C functions of lib/functions.js, one for one, through koffi. Nothing
// here checks arguments or holds policy: that is index.js's job. Byte
// arguments are Buffers whose address koffi hands to C for the length of the
// call; text arguments are Buffers that already end in a NUL, or JS strings.
const fs = require('node:fs');
const path = require('node:path');
const koffi = require('koffi');
const { LibraryNotFoundError } = require('./errors');
const declarations = require('./functions');

const LIBRARY_ENV = 'KELDO_CRYPTO_LIBRARY';

// File names the library has on each platform: the build's name first,
// then the runtime name with the ABI version (what a runtime package ships).
function platformNames() {
  switch (process.platform) {
    case 'win32': return ['keldo_crypto.dll', 'libkeldo_crypto.dll'];
    case 'darwin': return ['libkeldo_crypto.dylib', 'libkeldo_crypto.1.dylib'];
    default: return ['libkeldo_crypto.so', 'libkeldo_crypto.so.1'];
  }
}

// The library the published package carries for this platform and
// processor, with the yyjson it links: prebuilds/<platform>-<arch>/. On
// Linux the library finds yyjson through its RUNPATH $ORIGIN; Windows looks
// for a DLL's imports beside the program, not beside the DLL, so yyjson is
// loaded from the folder first and the import then finds it loaded.
function prebuilt() {
  const dir = path.resolve(__dirname, '..', 'prebuilds', `${process.platform}-${process.arch}`);
  const win = process.platform === 'win32';
  const file = path.join(dir, win ? 'keldo_crypto.dll' : 'libkeldo_crypto.so.1');
  if (!fs.existsSync(file)) return null;
  return { path: file, from: 'the prebuilt library of this package', preload: win ? path.join(dir, 'libyyjson.dll') : null };
}

// The candidates in order: the host's explicit path, the package's prebuilt
// library, KELDO_CRYPTO_LIBRARY, this package's own folder, then the system
// loader's search by name.
function candidates(explicit) {
  if (explicit) return [{ path: explicit, from: 'the path given to loadLibrary()' }];
  const list = [];
  const own = prebuilt();
  if (own) list.push(own);
  const env = process.env[LIBRARY_ENV];
  if (env) return list.concat([{ path: env, from: LIBRARY_ENV }]);
  const folder = path.resolve(__dirname, '..');
  for (const name of platformNames()) {
    const p = path.join(folder, name);
    if (fs.existsSync(p)) list.push({ path: p, from: 'the package folder' });
  }
  for (const name of platformNames().slice().reverse()) list.push({ path: name, from: 'the system loader' });
  return list;
}

const preloaded = [];

function open(explicit) {
  const tried = [];
  for (const c of candidates(explicit)) {
    try {
      // Kept loaded for the life of the process, like the library itself.
      if (c.preload && fs.existsSync(c.preload)) preloaded.push(koffi.load(c.preload));
      return { lib: koffi.load(c.path), path: c.path };
    } catch (e) {
      tried.push(`${c.path} (${c.from}): ${e.message}`);
    }
  }
  throw new LibraryNotFoundError(
    'keldo-crypto: cannot load the shared library. Install it (cmake --install, or the ' +
    'runtime package), set KELDO_CRYPTO_LIBRARY to its file, or call ' +
    `loadLibrary(path) before first use. Tried:\n  ${tried.join('\n  ')}`);
}

function bind(lib, file) {
  const fn = (decl) => {
    try {
      return lib.func(decl);
    } catch (e) {
      throw new LibraryNotFoundError(`keldo-crypto: ${file} is not keldo-crypto 1.2 or later (${e.message})`);
    }
  };
  const out = {};
  for (const [name, decl] of Object.entries(declarations)) out[name] = fn(decl);
  return out;
}

module.exports = { open, bind, LIBRARY_ENV };
