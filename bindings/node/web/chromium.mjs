// Debian's Chromium, headless, through playwright-core: no browser download,
// no network but loopback, a fresh profile for each run.
import { chromium } from 'playwright-core';
import { mkdtempSync, rmSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';

export async function launch() {
  const profile = mkdtempSync(path.join(os.tmpdir(), 'keldo-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.KELDO_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1100, height: 620 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const close = async () => {
    await context.close();
    rmSync(profile, { recursive: true, force: true });
  };
  return { context, close };
}
