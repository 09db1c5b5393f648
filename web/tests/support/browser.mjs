// Headless Chromium (Debian's, never a downloaded one) driven by
// playwright-core, on the built site served from 127.0.0.1.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';
import { serve } from '../../tools/serve.mjs';

export const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../..');
export const site = path.join(repo, 'build/web/site');
const CHROMIUM = process.env.QUORVEL_CHROMIUM ?? '/usr/bin/chromium';

const ARGS = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  '--autoplay-policy=no-user-gesture-required',
];

// The browser with a fresh profile, and the site's address; `args` are
// further command-line switches (a fake capture device, say).
export async function openBrowser({ args = [] } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'quorvel-chromium-'));
  const { server, url } = await serve(site);
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: [...ARGS, ...args],
    viewport: { width: 1400, height: 1100 },
    acceptDownloads: true,
  });
  return {
    context,
    url,
    async close() {
      await context.close();
      server.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A page of the playground, ready, with every console error and uncaught
// exception it produces collected in `errors`.
export async function openPage(browser, hash = '') {
  const page = await browser.context.newPage();
  const errors = [];
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push(message.text());
  });
  page.on('pageerror', (error) => errors.push(error.message));
  await page.goto(browser.url + hash);
  const ready = await page.evaluate(() => window.quorvel.ready);
  if (!ready) throw new Error(`the page did not start: ${errors.join('; ')}`);
  return { page, errors };
}

// Where screenshots go; scripts/test keeps them with the build.
export function screenshotPath(name) {
  const dir = path.join(repo, 'build/web/screenshots');
  fs.mkdirSync(dir, { recursive: true });
  return path.join(dir, name);
}
