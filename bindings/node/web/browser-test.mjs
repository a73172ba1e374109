// Loads web/test.html from 127.0.0.1 in headless Chromium, reads the page's
// results, prints one line per check and "N passed, N failed", and saves a
// screenshot of the results page. Exits non-zero when a check failed or the
// page did not finish within a minute.
//   node web/browser-test.mjs [SCREENSHOT.png]
// Needs dist/keldo-crypto.mjs and dist/web/ (node web/build.mjs --page) and
// wasm/keldo_crypto.wasm.
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from './serve.mjs';
import { launch } from './chromium.mjs';

const pkg = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const shot = process.argv[2] ? path.resolve(process.argv[2]) : null;

const { server, origin } = await serve(pkg);
const { context, close } = await launch();
let failed = 1;
try {
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  await page.goto(`${origin}/web/test.html`);
  try {
    await page.waitForFunction(() => Array.isArray(globalThis.keldoResults), null, { timeout: 60000 });
  } catch (e) {
    throw new Error(`the page did not finish: ${errors.join('; ') || e.message}`);
  }
  const results = await page.evaluate(() => globalThis.keldoResults);
  console.log(await page.evaluate(() => document.getElementById('summary').textContent));
  for (const r of results) console.log(`${r.failed ? 'not ok' : 'ok'} - ${r.name} (${r.cases} cases)${r.detail ? `: ${r.detail}` : ''}`);
  if (shot) {
    await page.screenshot({ path: shot, fullPage: true });
    console.log(`screenshot: ${shot}`);
  }
  failed = results.filter((r) => r.failed).length;
  console.log(`browser: ${results.length - failed} passed, ${failed} failed`);
} finally {
  await close();
  server.close();
}
process.exitCode = failed ? 1 : 0;
