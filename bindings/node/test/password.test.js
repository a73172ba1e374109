'use strict';
// Password hashes: our strings verified by recomputing with pbkdf2Sync,
// strings built with pbkdf2Sync (PHC, Django, passlib and Werkzeug layouts)
// verified by us, and the stored strings that must be refused rather than
// compared.
const test = require('node:test');
const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const k = require('..');

const b64 = (buf) => buf.toString('base64').replace(/=+$/, '');
const phc = (pw, salt, it, len = 32) => `$pbkdf2-sha256$i=${it}$${b64(salt)}$${b64(crypto.pbkdf2Sync(pw, salt, it, len, 'sha256'))}`;
const passlib = (pw, salt, it) => `$pbkdf2-sha256$${it}$${b64(salt).replace(/\+/g, '.')}$${b64(crypto.pbkdf2Sync(pw, salt, it, 32, 'sha256')).replace(/\+/g, '.')}`;
const werkzeug = (pw, salt, it) => `pbkdf2:sha256:${it}$${salt}$${crypto.pbkdf2Sync(pw, salt, it, 32, 'sha256').toString('hex')}`;
const django = (pw, salt, it) => `pbkdf2_sha256$${it}$${salt}$${crypto.pbkdf2Sync(pw, salt, it, 32, 'sha256').toString('base64')}`;

test('hashPassword writes the PHC string that pbkdf2Sync reproduces', () => {
  const stored = k.hashPassword('correct horse', { iterations: 1000 });
  const m = /^\$pbkdf2-sha256\$i=1000\$([A-Za-z0-9+/]{22})\$([A-Za-z0-9+/]{43})$/.exec(stored);
  assert.ok(m, stored);
  const salt = Buffer.from(m[1], 'base64');
  assert.equal(salt.length, 16);
  assert.equal(m[2], b64(crypto.pbkdf2Sync('correct horse', salt, 1000, 32, 'sha256')));
  assert.notEqual(k.hashPassword('correct horse', { iterations: 1000 }), stored, 'fresh salt each time');
  assert.match(k.hashPassword('x'), /^\$pbkdf2-sha256\$i=600000\$/, 'default count');
});

test('verifyPassword accepts PHC, Django, passlib and Werkzeug strings made by node:crypto', () => {
  const salt = crypto.randomBytes(16);
  const cases = [
    [phc('hunter2', salt, 1000), 'hunter2'],
    [phc('pässwörd', Buffer.from('NaCl'), 1), 'pässwörd'],
    [phc('', salt, 5), ''],
    [django('hunter2', 'seasalt', 1200), 'hunter2'],
    [django('pässwörd', 'Xz9', 10), 'pässwörd'],
    [passlib('hunter2', Buffer.from([0xfb, 0xff, 0xfe, 0x00, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12]), 7), 'hunter2'],
    [werkzeug('hunter2', 'Qx9salt', 6), 'hunter2'],
    [werkzeug('', 's', 1), ''],
  ];
  for (const [stored, pw] of cases) {
    assert.equal(k.verifyPassword(pw, stored), true, stored);
    assert.equal(k.verifyPassword(Buffer.from(pw), stored), true, stored);
    assert.equal(k.verifyPassword(`${pw}!`, stored), false, stored);
  }
});

test('stored strings that are not hashes are refused, not compared', () => {
  const salt = Buffer.alloc(16, 7);
  const good = phc('pw', salt, 10);
  const [, , , s, h] = good.split('$');
  const refused = [
    'plain-text-password',
    '$pbkdf2-sha512$i=10$' + s + '$' + h,
    `$pbkdf2-sha256$i=10$${s}`,
    `$pbkdf2-sha256$i=10$${s}$${h}$x`,
    `$pbkdf2-sha256$i=0$${s}$${h}`,
    `$pbkdf2-sha256$i=100000001$${s}$${h}`,
    `$pbkdf2-sha256$i=0000000010$${s}$${h}`,   // ten digits
    `$pbkdf2-sha256$i=1e3$${s}$${h}`,
    `$pbkdf2-sha256$i=10$${s}==$${h}`,          // padded salt
    `$pbkdf2-sha256$i=10$${s}$${h}=`,
    `$pbkdf2-sha256$i=10$$${h}`,
    `$pbkdf2-sha256$i=10$${s}$${h.replace(/.$/, '*')}`,
    // 'x' is not the canonical last character for 32 bytes (only A, E, I, ...)
    `$pbkdf2-sha256$i=10$${s}$${h.slice(0, -1)}x`,
    phc('pw', salt, 10, 16),                    // a 16-byte key
    phc('pw', salt, 10, 64),                    // a 64-byte key
    'pbkdf2_sha256$10$salt',
    'pbkdf2_sha256$0$salt$' + crypto.pbkdf2Sync('pw', 'salt', 1, 32, 'sha256').toString('base64'),
    'pbkdf2_sha256$10$$' + crypto.pbkdf2Sync('pw', '', 10, 32, 'sha256').toString('base64'),
    'pbkdf2_sha256$10$salt$' + crypto.pbkdf2Sync('pw', 'salt', 10, 31, 'sha256').toString('base64'),
    `pbkdf2_sha256$10$${'s'.repeat(1025)}$` + crypto.pbkdf2Sync('pw', 's'.repeat(1025), 10, 32, 'sha256').toString('base64'),
    `pbkdf2:sha256$salt$${crypto.pbkdf2Sync('pw', 'salt', 10, 32, 'sha256').toString('hex')}`,  // no count: ambiguous
    `pbkdf2:sha256:10$salt$${'0'.repeat(63)}`,
    `${good}\0`,
  ];
  for (const stored of refused) {
    for (const call of [() => k.verifyPassword('pw', stored), () => k.needsRehash(stored)]) {
      assert.throws(call, (e) => e instanceof k.MalformedHashError && e instanceof k.InvalidArgumentError &&
        e instanceof k.KeldoError && e.code === 'ERR_KELDO_MALFORMED_HASH', stored);
    }
  }
  assert.equal(k.verifyPassword('pw', good), true, 'the unaltered string');
  assert.throws(() => k.verifyPassword('pw', 42), k.InvalidArgumentError);
});

test('needsRehash: below the count asked for, or not the PHC form', () => {
  const salt = Buffer.alloc(16, 3);
  const cases = [
    [phc('pw', salt, 600000), undefined, false],
    [phc('pw', salt, 599999), undefined, true],
    [phc('pw', salt, 1000), { iterations: 1000 }, false],
    [phc('pw', salt, 1000), { iterations: 1001 }, true],
    [django('pw', 'salt', 900000), undefined, true],
    [passlib('pw', salt, 900000), undefined, true],
    [werkzeug('pw', 'salt', 900000), undefined, true],
  ];
  for (const [stored, options, want] of cases) assert.equal(k.needsRehash(stored, options), want, stored);
  assert.throws(() => k.needsRehash(phc('pw', salt, 1), { iterations: 0 }), k.InvalidArgumentError);
});

test('password and count bounds match the command-line tool', () => {
  assert.throws(() => k.hashPassword(''), /the password is empty/);
  assert.throws(() => k.hashPassword('p'.repeat(4097), { iterations: 1 }), /longer than 4096 bytes/);
  // At login an over-long password is a wrong password, not an error.
  assert.equal(k.verifyPassword('p'.repeat(4097), phc('p'.repeat(4097), Buffer.alloc(16), 1)), false);
  assert.equal(k.verifyPassword('p'.repeat(5000), phc('p', Buffer.alloc(16), 1)), false);
  assert.ok(k.verifyPassword('p'.repeat(4096), phc('p'.repeat(4096), Buffer.alloc(16), 1)));
  for (const iterations of [0, 100000001, 1.5, '10']) {
    assert.throws(() => k.hashPassword('pw', { iterations }), k.InvalidArgumentError, String(iterations));
  }
  assert.match(k.hashPassword('pw', { iterations: 1 }), /^\$pbkdf2-sha256\$i=1\$/);
});

test('the async forms give the same keys and leave the event loop running', async () => {
  const inputs = [['pw1', 'salt-one', 2000, 32], ['pw2', 'salt-two', 3000, 64], ['', 'x', 1, 1], ['pw4', 'salt', 4096, 20]];
  const got = await Promise.all(inputs.map(([p, s, i, l]) => k.pbkdf2Sha256Async(p, s, i, l)));
  inputs.forEach(([p, s, i, l], n) => assert.deepEqual(got[n], crypto.pbkdf2Sync(p, s, i, l, 'sha256'), p));

  // The caller may overwrite its buffer while the derivation runs.
  const pw = Buffer.from('secret password');
  const pending = k.pbkdf2Sha256Async(pw, 'salt', 5000);
  pw.fill(0);
  assert.deepEqual(await pending, crypto.pbkdf2Sync('secret password', 'salt', 5000, 32, 'sha256'));

  // Timers fire while a long derivation runs on another thread.
  let ticks = 0;
  const timer = setInterval(() => { ticks++; }, 2);
  await k.pbkdf2Sha256Async('pw', 'salt', 600000);
  clearInterval(timer);
  assert.ok(ticks > 0, 'no timer ran during the derivation');

  const stored = await k.hashPasswordAsync('correct horse', { iterations: 1000 });
  assert.equal(await k.verifyPasswordAsync('correct horse', stored), true);
  assert.equal(await k.verifyPasswordAsync('correct horsf', stored), false);
  assert.equal(k.verifyPassword('correct horse', stored), true);
  await assert.rejects(k.hashPasswordAsync(''), k.InvalidArgumentError);
  await assert.rejects(k.verifyPasswordAsync('pw', 'plain'), k.MalformedHashError);
  await assert.rejects(k.pbkdf2Sha256Async('p', 's', 0), k.InvalidArgumentError);
});
