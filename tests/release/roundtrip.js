// A token round trip through the installed package, its signature checked
// with node:crypto, and SHA-256 against node:crypto. Prints the library's
// path, which must lie inside node_modules/keldo-crypto/prebuilds/.
'use strict';
const crypto = require('node:crypto');
const fs = require('node:fs');
const keldo = require('keldo-crypto');

const path = keldo.loadLibrary();
const secret = crypto.createHash('sha256').update('release check').digest();
const token = keldo.jwtMint(secret, 'user-42', 'user@example.com', 600);
const claims = keldo.jwtVerify(token, secret);
if (claims.sub !== 'user-42' || claims.email !== 'user@example.com') throw new Error(`claims: ${JSON.stringify(claims)}`);
const dot = token.lastIndexOf('.');
const expected = crypto.createHmac('sha256', secret).update(token.slice(0, dot)).digest('base64url');
if (token.slice(dot + 1) !== expected) throw new Error('signature differs from node:crypto\'s');
if (!Buffer.from(keldo.sha256('abc')).equals(crypto.createHash('sha256').update('abc').digest())) throw new Error('sha256');
const yyjson = [...new Set(fs.readFileSync('/proc/self/maps', 'utf8').split('\n')
  .filter((l) => l.includes('libyyjson')).map((l) => l.trim().split(/\s+/).pop()))];
console.log(`token round trip ok; library ${path}; yyjson ${yyjson.join(' ')}`);
const inside = (p) => p.includes('/node_modules/keldo-crypto/prebuilds/linux-x64/');
if (!inside(path) || yyjson.length === 0 || !yyjson.every(inside)) {
  console.error('the library or yyjson was not loaded from the package\'s prebuilds');
  process.exit(1);
}
