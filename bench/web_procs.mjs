// What the page benchmarks share: headless Chromium from Debian, and the
// peak resident memory (VmHWM) of its processes.
import {mkdtempSync, readFileSync, readdirSync} from 'node:fs';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';

const root = resolve(dirname(fileURLToPath(import.meta.url)), '..');
const {default: puppeteer} = await import(
  pathToFileURL(join(root, 'web/node_modules/puppeteer-core/lib/esm/puppeteer/puppeteer-core.js')).href);

export const launch = (work, extra = []) => puppeteer.launch({
  browser: 'chrome', executablePath: '/usr/bin/chromium', headless: true, protocolTimeout: 3600000,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', ...extra, `--user-data-dir=${mkdtempSync(join(work, 'chromium-'))}`],
});

export const median = (values) => [...values].sort((a, b) => a - b)[Math.floor((values.length - 1) / 2)];

export function peakKiB(pid) {
  try {
    return Number(readFileSync(`/proc/${pid}/status`, 'utf8').match(/VmHWM:\s+(\d+)/)[1]);
  } catch {
    return 0;
  }
}

// The renderer processes below the browser (Chromium starts them with
// --type=renderer, from its zygote).
export function renderers(browserPid) {
  const parentOf = new Map();
  const found = [];
  for (const pid of readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
      parentOf.set(Number(pid), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
      if (readFileSync(`/proc/${pid}/cmdline`, 'utf8').includes('--type=renderer')) found.push(Number(pid));
    } catch {}
  }
  const below = (pid) => { for (let p = parentOf.get(pid); p; p = parentOf.get(p)) if (p === browserPid) return true; return false; };
  return found.filter(below);
}
