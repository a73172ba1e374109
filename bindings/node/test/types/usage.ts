// Compiled with tsc --strict by types.test.js: the declarations must allow
// what users write, and refuse what they must not.
import { createSecretKey } from 'node:crypto';
import * as keldo from 'keldo-crypto';
import * as keldoWasm from 'keldo-crypto/wasm';

const key = createSecretKey(Buffer.alloc(32, 1));
const token: string = keldo.jwtMint(key, 'user-42', 'ada@example.org', 900);
const claims = keldo.jwtVerify(token, key);
const expiresMs: number = claims.exp * 1000;     // exp is a number
const expires = new Date(expiresMs);
keldo.jwtVerify(token, new Uint8Array(32), { allowShortSecret: false });
keldo.jwtVerify(undefined, 'k'.repeat(32));      // a missing token is allowed in, refused at run time

try {
  keldo.verifyPassword('pw', 'pbkdf2_sha256$1$salt$x');
} catch (e) {
  if (e instanceof keldo.MalformedHashError) {
    const code: keldo.KeldoErrorCode = e.code;
    console.log(code === 'ERR_KELDO_MALFORMED_HASH', expires);
  } else if (e instanceof keldo.LibraryNotFoundError && e.code === 'ERR_KELDO_LIBRARY_NOT_FOUND') {
    console.log(e.message);
  }
}
const rehash: boolean = keldo.needsRehash('x', { iterations: 1000 });
console.log(rehash);

// Key rings: made once, accepted wherever a secret is.
const ring = new keldo.KeyRing(['c'.repeat(32), new keldo.TokenKey(key)]);
const fromRing: keldo.Claims = keldo.jwtVerify(keldo.jwtMint(ring, 'u', 'e'), ring);
const position: number = fromRing.key;
const one = new keldo.TokenKey(Buffer.alloc(32, 2));
console.log(position, ring.length, one.verify(one.mint('u', 'e', 60)).sub, keldo.KEYS_MAX);
one.dispose();
// The WebAssembly entry has the same declarations.
const backend: 'native' | 'wasm' = keldoWasm.libraryBackend();
const digest: Buffer = keldoWasm.sha256(keldo.base64Decode('YWJj'));
console.log(backend, digest);
