// Debian's Chromium, headless, as every page test and benchmark starts it:
// no sandbox (CI runs as root), no GPU, and none of the background
// connections this machine's closed network refuses; a new profile in WORK.
import {mkdtempSync} from 'node:fs';
import {join} from 'node:path';
import puppeteer from 'puppeteer-core';

export const launchChromium = (work, extra = [], protocolTimeout = 90000) => puppeteer.launch({
  browser: 'chrome', executablePath: '/usr/bin/chromium', headless: true, protocolTimeout,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', ...extra, `--user-data-dir=${mkdtempSync(join(work, 'chromium-'))}`],
});
