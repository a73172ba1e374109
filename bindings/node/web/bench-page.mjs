// The browser benchmark page (web/bench.html): web/bench-cases.mjs on the
// ESM bundle and its peers, in the page's own thread. web/browser-bench.mjs
// reads window.keldoBench. ?quick runs each case briefly.
import * as k from '../keldo-crypto.mjs';
import * as jose from 'jose';
import * as hashwasm from 'hash-wasm';
import { sha256 } from '@noble/hashes/sha2.js';
import { hmac } from '@noble/hashes/hmac.js';
import { pbkdf2 } from '@noble/hashes/pbkdf2.js';
import { run, table } from './bench-cases.mjs';

const quick = new URLSearchParams(location.search).has('quick');
const opts = quick ? { seconds: 0.05, samples: 1, pbkdf2Iterations: 10000 } : { seconds: 0.5, samples: 3, pbkdf2Iterations: 100000 };
const status = document.getElementById('status');
try {
  const rows = await run({ wasm: k, jose, hashwasm, noble: { sha256, hmac, pbkdf2 }, subtle: crypto.subtle },
    { ...opts, log: (line) => { status.textContent = line; } });
  const md = table(rows);
  document.getElementById('table').textContent = md;
  status.textContent = `${navigator.userAgent.match(/(Headless)?Chrom(e|ium)\/[\d.]+/)?.[0] ?? navigator.userAgent}, ${opts.seconds}s x ${opts.samples} samples (median)`;
  globalThis.keldoBench = { rows, table: md, header: status.textContent };
} catch (e) {
  globalThis.keldoBench = { error: `${e.name}: ${e.message}` };
}
