// What the page benchmarks share: Debian's headless Chromium and Firefox
// ESR, the memory of all a browser's processes, and a WebSocket sink on
// 127.0.0.1 through which a page hands the benchmark bytes (a ZIP) without
// keeping them.
import {createHash} from 'node:crypto';
import {mkdtempSync, readFileSync, readdirSync} from 'node:fs';
import {join} from 'node:path';

import {launchChromium} from '../web/test/chromium.mjs';

// (the launcher of the page's tests, which finds puppeteer-core in web/)
export const launch = (work, extra = []) => launchChromium(work, extra, 3600000);

// Firefox ESR, its profile (and so its origin-private file system) in WORK,
// saving downloads into DOWNLOADS without asking; PRIVATE: every window a
// private one.
export async function launchFirefox(work, downloads, private_ = false) {
  const {default: puppeteer} = await import('../web/node_modules/puppeteer-core/lib/esm/puppeteer/puppeteer-core.js');
  return puppeteer.launch({browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: true,
                           protocolTimeout: 3600000, userDataDir: mkdtempSync(join(work, 'firefox-')),
                           extraPrefsFirefox: {'browser.download.folderList': 2, 'browser.download.dir': downloads,
                                               'browser.download.useDownloadDir': true,
                                               'browser.download.always_ask_before_handling_new_types': false,
                                               'browser.privatebrowsing.autostart': private_}});
}

export const median = (values) => [...values].sort((a, b) => a - b)[Math.floor((values.length - 1) / 2)];

export function peakKiB(pid) {
  try {
    return Number(readFileSync(`/proc/${pid}/status`, 'utf8').match(/VmHWM:\s+(\d+)/)[1]);
  } catch {
    return 0;
  }
}

// Every process below ROOT (ROOT too), with its kind: Chromium's --type
// (renderer, gpu-process, zygote; a utility by its service), Firefox's content process
// type (the last word of its command line: tab, rdd, socket, utility...),
// or "browser" for the rest.
export function processTree(root) {
  const parentOf = new Map();
  for (const pid of readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
      parentOf.set(Number(pid), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
    } catch {}
  }
  const out = [];
  for (const pid of parentOf.keys()) {
    let p = pid;
    while (p && p !== root) p = parentOf.get(p);
    if (!p) continue;
    let kind = 'browser';
    try {
      // (both browsers rewrite their children's command lines: one string)
      const args = readFileSync(`/proc/${pid}/cmdline`, 'utf8').split(/[\0 ]+/).filter(Boolean);
      const option = (name) => args.find((a) => a.startsWith(name))?.slice(name.length);
      if (option('--type=')) kind = option('--utility-sub-type=')?.split('.').pop() ?? option('--type=');
      else if (args.includes('-contentproc')) kind = args[args.length - 1];
    } catch {}
    out.push({pid, kind});
  }
  return out;
}

// The renderer processes below the browser.
export const renderers = (browserPid) => processTree(browserPid).filter((p) => p.kind === 'renderer').map((p) => p.pid);

// Proportional set size: a process's own pages plus its share of those it
// shares, so that the sum over processes counts each page once.
function pssKiB(pid) {
  try {
    return Number(readFileSync(`/proc/${pid}/smaps_rollup`, 'utf8').match(/^Pss:\s+(\d+)/m)[1]);
  } catch {
    return 0;
  }
}

// The memory of all of ROOT's processes together (the sum of their PSS),
// sampled every EVERY ms: its peak, and the kinds' shares at that peak.
// With AIFCONV_BENCH_TRACE, a line every 5 s.
export function sampleMemory(root, every = 500, label = '') {
  const state = {peak: 0, atPeak: {}, samples: 0};
  const started = Date.now();
  let last = 0;
  const take = () => {
    const kinds = {};
    let total = 0;
    for (const {pid, kind} of processTree(root)) {
      const kib = pssKiB(pid);
      total += kib;
      kinds[kind] = (kinds[kind] || 0) + kib;
    }
    state.samples++;
    if (total > state.peak) Object.assign(state, {peak: total, atPeak: kinds});
    if (process.env.AIFCONV_BENCH_TRACE && Date.now() - last >= 5000) {
      last = Date.now();
      console.log(`${label} ${((last - started) / 1000).toFixed(0)} s: ${mib(total)} MiB (` +
                  Object.entries(kinds).map(([k, v]) => `${k} ${mib(v)}`).join(', ') + ')');
    }
  };
  take();
  const timer = setInterval(take, every);
  return {
    // {peak: MiB, kinds: {kind: MiB at the peak}}
    read: () => ({peak: mib(state.peak), kinds: Object.fromEntries(Object.entries(state.atPeak).map(([k, v]) => [k, mib(v)]))}),
    stop() { take(); clearInterval(timer); return this.read(); },
  };
}
const mib = (kib) => Math.round(kib / 1024);

// A WebSocket endpoint on SERVER (RFC 6455, only what a browser's client
// sends): each binary message goes to onBinary(url, bytes) and is answered
// with a text frame "k" once whole, so that the page can keep only a few
// MiB in flight; a text message goes to onText(url, text).
export function webSocketSink(server, onBinary, onText) {
  server.on('upgrade', (request, socket) => {
    const key = request.headers['sec-websocket-key'];
    const accept = createHash('sha1').update(key + '258EAFA5-E914-47DA-95CA-C5AB0DC85B11').digest('base64');
    socket.write('HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n' +
                 `Sec-WebSocket-Accept: ${accept}\r\n\r\n`);
    socket.on('error', () => {});
    // (the pieces received are joined once a frame is whole, not as each
    // arrives: a frame of megabytes comes in thousands of pieces)
    const pieces = [];
    let have = 0, wanted = 2, opcode = 0;
    socket.on('data', (data) => {
      pieces.push(data);
      have += data.length;
      if (have < wanted) return;
      let buffer = Buffer.concat(pieces, have);
      pieces.length = 0;
      for (;;) {
        // (the bytes of the next frame, or of as much of its header as tells its length)
        have = buffer.length;
        const short = buffer.length >= 2 ? buffer[1] & 127 : -1;
        wanted = short < 0 ? 2 : short < 126 ? 6 + short
          : short === 126 ? (buffer.length >= 4 ? 8 + buffer.readUInt16BE(2) : 4)
          : buffer.length >= 10 ? 14 + Number(buffer.readBigUInt64BE(2)) : 10;
        if (buffer.length < wanted) { if (buffer.length) pieces.push(buffer); return; }
        let length = buffer[1] & 127, at = 2;
        if (length === 126) length = buffer.readUInt16BE(2), at = 4;
        else if (length === 127) length = Number(buffer.readBigUInt64BE(2)), at = 10;
        const fin = buffer[0] & 0x80, op = buffer[0] & 15;
        const mask = buffer.readUInt32LE(at);
        const payload = Buffer.from(buffer.subarray(at + 4, at + 4 + length));
        buffer = buffer.subarray(at + 4 + length);
        const words = Math.floor(length / 4);
        const view = new Uint32Array(payload.buffer, payload.byteOffset, words);  // (a fresh Buffer: aligned)
        for (let i = 0; i < words; i++) view[i] ^= mask;
        for (let i = words * 4; i < length; i++) payload[i] ^= (mask >>> (8 * (i & 3))) & 255;
        if (op === 8) { socket.end(Buffer.from([0x88, 0])); have = 0; return; }
        if (op !== 0) opcode = op;
        if (opcode === 2) onBinary(request.url, payload);
        else if (opcode === 1) onText(request.url, payload.toString());
        if (fin && op !== 9 && op !== 10) socket.write(Buffer.from([0x81, 1, 0x6b]));
      }
    });
  });
}
