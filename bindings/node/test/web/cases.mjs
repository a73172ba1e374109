// The request cases of the differential table: each is sent to our Express
// and Fastify components and to express-jwt and @fastify/jwt. Tokens are
// made by jose (HS256 unless the case says otherwise), not by our library,
// except where a case needs ours.
import * as jose from 'jose';
import { createHmac } from 'node:crypto';

const b64url = (v) => Buffer.from(typeof v === 'string' ? v : JSON.stringify(v)).toString('base64url');

export async function makeTokens(secret) {
  const key = new Uint8Array(secret);
  const now = Math.floor(Date.now() / 1000);
  const claims = { sub: 'user-42', email: 'ada@example.org', iss: 'keldo', exp: now + 600, nbf: now };
  const sign = (c, alg = 'HS256', k = key) => new jose.SignJWT(c).setProtectedHeader({ alg, typ: 'JWT' }).sign(k);
  const valid = await sign(claims);
  const [h, p, s] = valid.split('.');
  // An HS256 signature under a header that names another algorithm.
  const hs512Header = b64url({ alg: 'HS512', typ: 'JWT' });
  const relabelled = `${hs512Header}.${p}.${createHmac('sha256', secret).update(`${hs512Header}.${p}`).digest('base64url')}`;
  const without = (name) => { const c = { ...claims }; delete c[name]; return sign(c); };
  return {
    claims,
    valid,
    expired: await sign({ ...claims, exp: now - 30, nbf: now - 600 }),
    nbfSoon: await sign({ ...claims, nbf: now + 30 }),
    nbfLater: await sign({ ...claims, nbf: now + 3600, exp: now + 7200 }),
    otherKey: await sign(claims, 'HS256', new TextEncoder().encode('another secret of 32 bytes or more')),
    algNone: `${b64url({ alg: 'none', typ: 'JWT' })}.${p}.`,
    hs512: await sign(claims, 'HS512'),
    relabelled,
    otherIssuer: await sign({ ...claims, iss: 'someone-else' }),
    noIssuer: await without('iss'),
    noExp: await without('exp'),
    noEmail: await without('email'),
    tampered: `${h}.${b64url({ ...claims, sub: 'admin' })}.${s}`,
    padded: `${valid}=`,
    nonAscii: await sign({ ...claims, sub: 'Zoë-Łukasz', email: 'jörg@exämple.org' }),
    oversized: `${h}.${'A'.repeat(10 * 1024)}.${s}`,
  };
}

const auth = (value) => [`Authorization: ${value}`];
const invalidToken = (description) => `Bearer error="invalid_token", error_description="${description}"`;
const invalidRequest = 'Bearer error="invalid_request", error_description="the Authorization header must hold one bearer token"';

// [name, request(tokens), ours: [status, WWW-Authenticate or null] (or one such pair for Express and
// one for Fastify), express-jwt's status, @fastify/jwt's status]. A status that differs from ours is a
// documented choice (docs/javascript.md, "Where the components differ from express-jwt and @fastify/jwt").
export const CASES = [
  ['valid token', (t) => ({ headers: auth(`Bearer ${t.valid}`) }), [200, null], 200, 200],
  ['no Authorization header', () => ({}), [401, 'Bearer'], 401, 401],
  ['expired', (t) => ({ headers: auth(`Bearer ${t.expired}`) }), [401, invalidToken('the token has expired')], 401, 401],
  ['nbf 30 s ahead (within our 60 s leeway)', (t) => ({ headers: auth(`Bearer ${t.nbfSoon}`) }), [200, null], 401, 500],
  ['nbf an hour ahead', (t) => ({ headers: auth(`Bearer ${t.nbfLater}`) }), [401, invalidToken('the token is not valid yet')], 401, 500],
  ['signed with another key', (t) => ({ headers: auth(`Bearer ${t.otherKey}`) }), [401, invalidToken('bad signature')], 401, 401],
  ['alg none, no signature', (t) => ({ headers: auth(`Bearer ${t.algNone}`) }), [401, invalidToken('bad signature')], 401, 401],
  ['alg HS512, signed with HS512', (t) => ({ headers: auth(`Bearer ${t.hs512}`) }), [401, invalidToken('bad signature')], 401, 500],
  ['header says HS512, HS256 signature', (t) => ({ headers: auth(`Bearer ${t.relabelled}`) }), [200, null], 401, 500],
  ['wrong issuer', (t) => ({ headers: auth(`Bearer ${t.otherIssuer}`) }), [401, invalidToken('invalid claims')], 401, 401],
  ['no issuer', (t) => ({ headers: auth(`Bearer ${t.noIssuer}`) }), [401, invalidToken('invalid claims')], 401, 200],
  ['no exp', (t) => ({ headers: auth(`Bearer ${t.noExp}`) }), [401, invalidToken('invalid claims')], 200, 200],
  ['no email', (t) => ({ headers: auth(`Bearer ${t.noEmail}`) }), [401, invalidToken('invalid claims')], 200, 200],
  ['payload changed after signing', (t) => ({ headers: auth(`Bearer ${t.tampered}`) }), [401, invalidToken('bad signature')], 401, 401],
  ['not a JWT', () => ({ headers: auth('Bearer abc') }), [401, invalidToken('malformed token')], 401, 401],
  ['signature with a padding =', (t) => ({ headers: auth(`Bearer ${t.padded}`) }), [200, null], 401, 500],
  ['non-ASCII claims', (t) => ({ headers: auth(`Bearer ${t.nonAscii}`) }), [200, null], 200, 200],
  ['bearer in lower case', (t) => ({ headers: auth(`bearer ${t.valid}`) }), [200, null], 200, 200],
  ['BEARER in upper case', (t) => ({ headers: auth(`BEARER ${t.valid}`) }), [200, null], 200, 200],
  ['three spaces after Bearer', (t) => ({ headers: auth(`Bearer   ${t.valid}`) }), [200, null], 401, 400],
  ['a tab after Bearer', (t) => ({ headers: auth(`Bearer\t${t.valid}`) }), [400, invalidRequest], 401, 400],
  ['Bearer and no token', () => ({ headers: auth('Bearer') }), [400, invalidRequest], 401, 401],
  ['two tokens', (t) => ({ headers: auth(`Bearer ${t.valid} ${t.valid}`) }), [400, invalidRequest], 401, 400],
  ['two Authorization headers', (t) => ({ headers: [...auth(`Bearer ${t.valid}`), ...auth('Bearer x')] }), [400, invalidRequest], 200, 200],
  ['Basic credentials', () => ({ headers: auth('Basic dXNlcjpwYXNz') }), [401, 'Bearer'], 401, 401],
  ['token in the query string', (t) => ({ path: `/api/me?access_token=${t.valid}` }), [401, 'Bearer'], 401, 401],
  ['token in a cookie', (t) => ({ headers: [`Cookie: token=${t.valid}; access_token=${t.valid}`] }), [401, 'Bearer'], 401, 401],
  ['a Latin-1 letter in the token', (t) => ({ headers: auth(`Bearer ${t.valid}\xe9`) }), [400, invalidRequest], 401, 500],
  ['a control character in the header', (t) => ({ headers: auth(`Bearer ${t.valid}\x01`) }), [400, null], 400, 400],
  ['10 kB token', (t) => ({ headers: auth(`Bearer ${t.oversized}`) }), [401, invalidToken('bad signature')], 401, 401],
  ['20 kB header (over Node.js\'s 16 kB)', () => ({ headers: auth(`Bearer ${'A'.repeat(20 * 1024)}`) }), [431, null], 431, 431],
  ['CORS preflight naming Authorization', () => ({ method: 'OPTIONS', headers: ['Origin: http://a.example', 'Access-Control-Request-Method: GET', 'Access-Control-Request-Headers: authorization'] }), { express: [401, 'Bearer'], fastify: [404, null] }, 200, 404],
  ['public route, no header', () => ({ path: '/public' }), [200, null], 200, 200],
  ['public route, refused token', (t) => ({ path: '/public', headers: auth(`Bearer ${t.expired}`) }), [200, null], 200, 200],
  ['optional route, no header', () => ({ path: '/opt/me' }), [200, null], 200, 200],
  ['optional route, valid token', (t) => ({ path: '/opt/me', headers: auth(`Bearer ${t.valid}`) }), [200, null], 200, 200],
  ['optional route, expired token', (t) => ({ path: '/opt/me', headers: auth(`Bearer ${t.expired}`) }), [200, null], 401, 200],
  ['optional route, two tokens', (t) => ({ path: '/opt/me', headers: auth(`Bearer ${t.valid} ${t.valid}`) }), [200, null], 401, 200],
];
