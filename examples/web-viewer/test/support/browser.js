// Test support: headless Chromium (Debian's) on a fresh profile, and waiting in the page.
import { mkdtemp, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

export const chromiumPath = process.env.CHROMIUM ?? '/usr/bin/chromium';

// Resolves with {browser, close()}; close() also removes the profile.
export async function launchBrowser() {
  const profile = await mkdtemp(path.join(tmpdir(), 'web-viewer-profile-'));
  const browser = await puppeteer.launch({
    executablePath: chromiumPath,
    headless: true,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--no-first-run',
      `--user-data-dir=${profile}`,
    ],
  });
  return {
    browser,
    async close() {
      await browser.close();
      await rm(profile, { recursive: true, force: true });
    },
  };
}

// Waits until fn(...args), run in the page, returns something truthy, and returns it.
// The deadline is generous: the machine may be busy.
export async function waitInPage(page, fn, args = [], timeout = 30000) {
  const handle = await page.waitForFunction(fn, { timeout, polling: 100 }, ...args);
  return handle.jsonValue();
}
