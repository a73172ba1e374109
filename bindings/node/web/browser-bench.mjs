// Runs web/bench.html in headless Chromium from 127.0.0.1 and prints its
// Markdown table. --quick: each case briefly (CI). Needs the bundles of
// `node web/build.mjs --page` and wasm/keldo_crypto.wasm.
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { serve } from './serve.mjs';
import { launch } from './chromium.mjs';

const pkg = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const quick = process.argv.includes('--quick');
const { server, origin } = await serve(pkg);
const { context, close } = await launch();
try {
  const page = await context.newPage();
  await page.goto(`${origin}/web/bench.html${quick ? '?quick' : ''}`);
  await page.waitForFunction(() => globalThis.keldoBench !== undefined, null, { timeout: quick ? 120000 : 600000, polling: 500 });
  const r = await page.evaluate(() => globalThis.keldoBench);
  if (r.error) throw new Error(r.error);
  console.log(`${r.header}\n\n${r.table}`);
} finally {
  await close();
  server.close();
}
