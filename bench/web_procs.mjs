// What the page benchmarks share: headless Chromium from Debian, and the
// peak resident memory (VmHWM) of its processes.
import {readFileSync, readdirSync} from 'node:fs';

import {launchChromium} from '../web/test/chromium.mjs';

// (the launcher of the page's tests, which finds puppeteer-core in web/)
export const launch = (work, extra = []) => launchChromium(work, extra, 3600000);

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
