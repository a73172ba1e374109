// The differential table: every request case of test/web/cases.mjs sent
// over loopback HTTP to our Express 4, Express 5 and Fastify components and
// to express-jwt (Express 4 and 5) and @fastify/jwt, each verifying HS256
// with our issuer. Our status and WWW-Authenticate challenge are pinned for
// each case, and so is each peer's status: a difference can only be one
// that docs/javascript.md lists. Where a token is accepted, every stack must
// hand the route the same sub and email.
// KELDO_WEB_TABLE=1 prints the table as Markdown.
import test from 'node:test';
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { startServers, rawRequest, STACKS } from './web/servers.mjs';
import { makeTokens, CASES } from './web/cases.mjs';

const secret = randomBytes(32);
let env;
let tokens;

test.before(async () => {
  env = await startServers({ keys: secret, secret });
  tokens = await makeTokens(secret);
});
test.after(() => env.close());

const oursFor = (ours, stack) => (Array.isArray(ours) ? ours : ours[stack.endsWith('fastify') ? 'fastify' : 'express']);

test(`${CASES.length} request cases against ${STACKS.length} servers`, async () => {
  assert.ok(CASES.length >= 25);
  const table = [];
  for (const [name, request, ours, expressJwt, fastifyJwt] of CASES) {
    const row = { name, got: {} };
    for (const stack of STACKS) {
      const r = await rawRequest(env.servers[stack].port, request(tokens));
      row.got[stack] = r;
      const where = `${name}, ${stack}`;
      if (stack.startsWith('keldo')) {
        const [status, challenge] = oursFor(ours, stack);
        assert.equal(r.status, status, `${where}: ${r.body}`);
        assert.equal(r.headers['www-authenticate'], challenge ?? undefined, where);
        // The answer never echoes the token.
        if (r.status !== 200) assert.ok(!r.body.includes(tokens.valid.split('.')[2]), where);
      } else {
        assert.equal(r.status, stack === '@fastify/jwt' ? fastifyJwt : expressJwt, `${where}: ${r.body}`);
      }
      if (r.status === 200 && r.headers['content-type']?.startsWith('application/json')) {
        const body = JSON.parse(r.body);
        if (body !== null) {
          const expected = name === 'non-ASCII claims' ? { sub: 'Zoë-Łukasz', email: 'jörg@exämple.org' } : tokens.claims;
          assert.equal(body.sub, expected.sub, where);
          if (name !== 'no email') assert.equal(body.email, expected.email, where);
          if (stack.startsWith('keldo')) assert.deepEqual(Object.keys(body), ['sub', 'email', 'exp', 'key'], where);
        }
      }
    }
    table.push(row);
  }
  if (process.env.KELDO_WEB_TABLE) {
    const cols = ['keldo express5', 'keldo fastify', 'express-jwt express5', '@fastify/jwt'];
    console.log(`| case | ${cols.join(' | ')} |\n|---|${cols.map(() => '---').join('|')}|`);
    for (const { name, got } of table) {
      const cell = (s) => {
        const r = got[s];
        const c = r.headers['www-authenticate'];
        const e = /error="([a-z_]+)"/.exec(c ?? '');
        return s.startsWith('keldo') && c ? `${r.status} ${e ? e[1] : 'Bearer'}` : `${r.status}`;
      };
      console.log(`| ${name} | ${cols.map(cell).join(' | ')} |`);
    }
  }
});
