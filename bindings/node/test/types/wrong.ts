// Each line must be refused by tsc --strict (types.test.js counts the errors).
import * as keldo from 'keldo-crypto';

const claims = keldo.jwtVerify('t', 'k');
const notBigint: bigint = claims.exp;            // exp is a number, not a bigint
keldo.jwtVerify('t', 42);                        // a key is bytes, text or a KeyObject
const code: keldo.KeldoErrorCode = 'ERR_KELDO_NO_SUCH_CODE';
console.log(notBigint, code);
new keldo.KeyRing('c'.repeat(32));               // a ring is an array of keys, not one secret
