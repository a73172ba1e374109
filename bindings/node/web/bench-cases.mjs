// The cases of the WebAssembly benchmark, shared by Node.js
// (bench/wasm.mjs) and the browser (web/bench-page.mjs): each operation on
// the same inputs by keldo-crypto's WebAssembly backend and by its peers in
// the same run, after a check that all of them give the same answer. Rates
// are the median of SAMPLES runs of `seconds` each; ratios are keldo-crypto
// (wasm) ÷ the peer, so above 1 means the module is faster.
//
//   impls: { wasm, native?, jose, hashwasm, noble: { sha256, hmac, pbkdf2 }, subtle }
export async function run(impls, { seconds = 0.5, samples = 3, pbkdf2Iterations = 100000, log = () => {} } = {}) {
  const { wasm, native, jose, hashwasm, noble, subtle } = impls;
  const enc = new TextEncoder();
  const hex = (u8) => Array.from(new Uint8Array(u8), (b) => b.toString(16).padStart(2, '0')).join('');
  const now = () => performance.now();

  async function rate(fn, isAsync) {
    let calls = 0;
    let batch = 1;
    const start = now();
    for (;;) {
      if (isAsync) for (let i = 0; i < batch; i++) await fn();
      else for (let i = 0; i < batch; i++) fn();
      calls += batch;
      const elapsed = (now() - start) / 1000;
      if (elapsed >= seconds) return calls / elapsed;
      if (batch < 1 << 14) batch *= 2;
    }
  }
  async function median(fn, isAsync) {
    await rate(fn, isAsync);
    const r = [];
    for (let i = 0; i < samples; i++) r.push(await rate(fn, isAsync));
    r.sort((a, b) => a - b);
    return r[Math.floor(r.length / 2)];
  }

  const rows = [];
  // One operation: [name, fn, isAsync, answer()] per implementation, the
  // first keldo-crypto's module. Answers must agree before anything is timed.
  async function operation(title, list) {
    const answers = [];
    for (const [name, , , answer] of list) answers.push([name, await answer()]);
    for (const [name, a] of answers) {
      if (a !== answers[0][1]) throw new Error(`${title}: ${name} answers ${a}, ${answers[0][0]} ${answers[0][1]}`);
    }
    let ours = 0;
    for (const [name, fn, isAsync] of list) {
      const r = await median(fn, isAsync);
      if (!ours) ours = r;
      rows.push({ operation: title, impl: name, rate: r, ratio: ours / r });
      log(`${title}: ${name} ${Math.round(r)}/s`);
    }
  }

  const SECRET = 'a-32-byte-or-longer-signing-key!!';
  const keyBytes = enc.encode(SECRET);
  const joseKey = await subtle.importKey('raw', keyBytes, { name: 'HMAC', hash: 'SHA-256' }, false, ['sign', 'verify']);
  const token = wasm.jwtMint(SECRET, 'user-1234', 'user1234@example.org', 3600);
  const verifyAnswer = (c) => `${c.sub} ${c.email} ${c.exp}`;
  const joseVerify = () => jose.jwtVerify(token, joseKey, { issuer: 'keldo', algorithms: ['HS256'] });

  const verify = [
    ['keldo-crypto (wasm) jwtVerify', () => wasm.jwtVerify(token, SECRET), false, () => verifyAnswer(wasm.jwtVerify(token, SECRET))],
    ['jose jwtVerify (HS256, imported CryptoKey)', joseVerify, true, async () => verifyAnswer((await joseVerify()).payload)],
  ];
  if (native) verify.push(['keldo-crypto (native) jwtVerify', () => native.jwtVerify(token, SECRET), false, () => verifyAnswer(native.jwtVerify(token, SECRET))]);
  await operation('token verify', verify);

  // Minted tokens differ in iat/exp from second to second: the answer
  // checked is that each verifies with the other side.
  const joseMint = () => new jose.SignJWT({ sub: 'user-1234', email: 'user1234@example.org', iss: 'keldo' })
    .setProtectedHeader({ alg: 'HS256', typ: 'JWT' }).setIssuedAt().setExpirationTime('1h').setNotBefore('0s').sign(joseKey);
  const mint = [
    ['keldo-crypto (wasm) jwtMint', () => wasm.jwtMint(SECRET, 'user-1234', 'user1234@example.org', 3600), false,
      async () => (await jose.jwtVerify(wasm.jwtMint(SECRET, 'user-1234', 'user1234@example.org', 3600), joseKey)).payload.sub],
    ['jose SignJWT().sign (HS256, imported CryptoKey)', joseMint, true, async () => wasm.jwtVerify(await joseMint(), SECRET).sub],
  ];
  if (native) mint.push(['keldo-crypto (native) jwtMint', () => native.jwtMint(SECRET, 'user-1234', 'user1234@example.org', 3600), false,
    () => wasm.jwtVerify(native.jwtMint(SECRET, 'user-1234', 'user1234@example.org', 3600), SECRET).sub]);
  await operation('token mint', mint);

  const data = new Uint8Array(1024);
  for (let i = 0; i < data.length; i++) data[i] = (i * 131 + 7) & 255;
  const big = new Uint8Array(64 * 1024);
  for (let i = 0; i < big.length; i++) big[i] = (i * 29 + 3) & 255;
  const hwSha = await hashwasm.createSHA256();
  const hwOnce = (d) => { hwSha.init(); hwSha.update(d); return hwSha.digest('binary'); };
  for (const [label, d] of [['SHA-256, 1 KiB', data], ['SHA-256, 64 KiB', big]]) {
    const list = [
      ['keldo-crypto (wasm) sha256', () => wasm.sha256(d), false, () => hex(wasm.sha256(d))],
      ['hash-wasm createSHA256 (reused)', () => hwOnce(d), false, () => hex(hwOnce(d))],
      ['@noble/hashes sha256', () => noble.sha256(d), false, () => hex(noble.sha256(d))],
      ['WebCrypto subtle.digest', () => subtle.digest('SHA-256', d), true, async () => hex(await subtle.digest('SHA-256', d))],
    ];
    if (native) list.push(['keldo-crypto (native) sha256', () => native.sha256(d), false, () => hex(native.sha256(d))]);
    await operation(label, list);
  }

  const hwHmac = await hashwasm.createHMAC(hashwasm.createSHA256(), keyBytes);
  const hwMac = (d) => { hwHmac.init(); hwHmac.update(d); return hwHmac.digest('binary'); };
  const webKey = await subtle.importKey('raw', keyBytes, { name: 'HMAC', hash: 'SHA-256' }, false, ['sign']);
  const hmac = [
    ['keldo-crypto (wasm) hmacSha256', () => wasm.hmacSha256(keyBytes, data), false, () => hex(wasm.hmacSha256(keyBytes, data))],
    ['hash-wasm createHMAC (reused key)', () => hwMac(data), false, () => hex(hwMac(data))],
    ['@noble/hashes hmac', () => noble.hmac(noble.sha256, keyBytes, data), false, () => hex(noble.hmac(noble.sha256, keyBytes, data))],
    ['WebCrypto subtle.sign (imported key)', () => subtle.sign('HMAC', webKey, data), true, async () => hex(await subtle.sign('HMAC', webKey, data))],
  ];
  if (native) hmac.push(['keldo-crypto (native) hmacSha256', () => native.hmacSha256(keyBytes, data), false, () => hex(native.hmacSha256(keyBytes, data))]);
  await operation('HMAC-SHA256, 1 KiB', hmac);

  const pw = enc.encode('correct horse battery staple');
  const salt = enc.encode('0123456789abcdef');
  const c = pbkdf2Iterations;
  const pwKey = await subtle.importKey('raw', pw, 'PBKDF2', false, ['deriveBits']);
  const hwPbkdf2 = () => hashwasm.pbkdf2({ password: pw, salt, iterations: c, hashLength: 32, hashFunction: hashwasm.createSHA256(), outputType: 'binary' });
  const webPbkdf2 = () => subtle.deriveBits({ name: 'PBKDF2', hash: 'SHA-256', salt, iterations: c }, pwKey, 256);
  const pbkdf2 = [
    ['keldo-crypto (wasm) pbkdf2Sha256', () => wasm.pbkdf2Sha256(pw, salt, c), false, () => hex(wasm.pbkdf2Sha256(pw, salt, c))],
    ['hash-wasm pbkdf2', hwPbkdf2, true, async () => hex(await hwPbkdf2())],
    ['@noble/hashes pbkdf2', () => noble.pbkdf2(noble.sha256, pw, salt, { c, dkLen: 32 }), false, () => hex(noble.pbkdf2(noble.sha256, pw, salt, { c, dkLen: 32 }))],
    ['WebCrypto subtle.deriveBits', webPbkdf2, true, async () => hex(await webPbkdf2())],
  ];
  if (native) pbkdf2.push(['keldo-crypto (native) pbkdf2Sha256', () => native.pbkdf2Sha256(pw, salt, c), false, () => hex(native.pbkdf2Sha256(pw, salt, c))]);
  await operation(`PBKDF2-HMAC-SHA256, ${c} iterations`, pbkdf2);
  return rows;
}

// The rows as a Markdown table.
export function table(rows) {
  const fmt = (r) => (r >= 1e4 ? `${Math.round(r).toLocaleString('en-US')}/s` : `${r.toFixed(r >= 100 ? 0 : 2)}/s`);
  const per = (r) => {
    const ns = 1e9 / r;
    if (ns >= 1e6) return `${(ns / 1e6).toFixed(1)} ms`;
    return ns >= 1000 ? `${(ns / 1000).toFixed(2)} µs` : `${Math.round(ns)} ns`;
  };
  const lines = ['| operation | implementation | calls/s | per call | keldo-crypto (wasm) ÷ this |', '|---|---|---:|---:|---:|'];
  for (const r of rows) lines.push(`| ${r.operation} | ${r.impl} | ${fmt(r.rate)} | ${per(r.rate)} | ${r.ratio.toFixed(2)}x |`);
  return lines.join('\n');
}
