// Whole archives through the page, in each browser and each way of keeping
// the WAVs, against the mirror recipe with xargs and the native converter
// (doc/archives.md, read by its marker as bench/batch.sh does) on the same
// tree in the same run (bench/web_archive.sh starts it).
//
//   node bench/web_archive_bench.mjs PAGE NATIVE_AIFCONV WORK_DIR SIZES...
//
// The tree: max(SIZES) files of 100-300 KB in folders of 100, sowt, ima4
// and SDX2, mono and stereo, 22,050 and 44,100 Hz, one in 20 refused (a
// plain AIFF file, three channels, a text file); each smaller size is the
// first files of it (hard links). For each size the recipe runs once,
// timed; then each way (AIFCONV_BENCH_WAYS, all by default) in a new
// browser whose profile is in WORK_DIR:
//   chromium-zip     Chromium, the page from file:// (no origin-private file
//                    system there), the WAVs into one ZIP file: a stand-in
//                    for showSaveFilePicker, pressed through
//                    button#output-zip before the folder is chosen, whose
//                    stream sends what the page writes over a WebSocket to
//                    this script, which appends it to a file
//   firefox          Firefox from file://, the files through input#files
//                    (its WebDriver sets no folder), the WAVs where the page
//                    puts them; "Download all" pressed if the page waits
//                    for it; the ZIP's parts read out of the page the same
//                    way once ready
//   chromium-folder  Chromium from 127.0.0.1 into a folder (a folder of the
//                    origin-private file system standing in for the one
//                    showDirectoryPicker gives), then the same folder chosen
//                    again: the resume, timed too
//   firefox-memory   Firefox from file://, every window private (no
//                    origin-private file system there): the WAVs in memory,
//                    each part of the ZIP saved as the page offers it (not
//                    in the default list)
//   chromium-private Chromium from 127.0.0.1, no folder: the WAVs where the
//                    page puts them, the ZIP's parts read out as for Firefox
//                    but over a WebSocket (not in the default list)
// Timed in the page: the conversion, from the input's change event to the
// last row's data-status; the ZIP, from there to #zip-status[data-state=
// "done"]. Sampled every 0.5 s: the memory of all the browser's processes
// together (the sum of their proportional set sizes, from
// /proc/PID/smaps_rollup), its peak up to the ZIP ready. Then, untimed:
// every row's status against the recipe's outputs, the refused rows'
// messages against its refused.txt, and the output: each ZIP parsed here
// from the file (ZIP64 too), each entry streamed through SHA-256 and
// CRC-32 and compared with the recipe's WAV of that name, no entry missing
// or extra (refused.txt, if there, equal to the recipe's); the folder's
// files likewise. Printed: a table per way.
// AIFCONV_BENCH_TRACE=1: the memory by kind of process every 5 s;
// AIFCONV_BENCH_METRICS=1: Chromium's main thread per 1,000 rows;
// AIFCONV_BENCH_BUDGET=BYTES: the page's memory budget (its ?budget=);
// AIFCONV_BENCH_DISCARD=1: chromium-zip's stand-in drops the bytes (the
// WebSocket costs the browser much under load; the ZIP then unchecked).
import {execFileSync, spawnSync} from 'node:child_process';
import {createHash} from 'node:crypto';
import {closeSync, createReadStream, existsSync, linkSync, mkdirSync, openSync, readFileSync, readSync, readdirSync, rmSync, statSync,
        symlinkSync, writeFileSync, writeSync} from 'node:fs';
import {createServer} from 'node:http';
import {basename, dirname, join, resolve} from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';
import {crc32} from 'node:zlib';
import {aifc, fixIma4} from '../web/test/aifc.mjs';
import {launch, launchFirefox, sampleMemory, webSocketSink} from './web_procs.mjs';

const [pagePath, native, work, ...sizeArgs] = process.argv.slice(2);
const sizes = sizeArgs.map(Number).sort((a, b) => a - b);
const ways = (process.env.AIFCONV_BENCH_WAYS || 'chromium-zip firefox chromium-folder').split(' ');
const discard = process.env.AIFCONV_BENCH_DISCARD === '1';
const doc = join(dirname(fileURLToPath(import.meta.url)), '../doc/archives.md');

// The recipe, as the document prints it.
const lines = readFileSync(doc, 'utf8').split('\n');
const from = lines.indexOf('<!-- recipe: mirror-xargs -->');
if (from < 0) throw new Error(`no recipe mirror-xargs in ${doc}`);
const recipe = [];
for (let i = from + 1; lines[i].startsWith('    '); i++) recipe.push(lines[i].slice(4));
writeFileSync(join(work, 'mirror-xargs.sh'), recipe.join('\n') + '\n');
mkdirSync(join(work, 'bin'));
symlinkSync(resolve(native), join(work, 'bin/aifconv'));

// The tree: sound data cut from one pseudo-random pool.
const pool = Buffer.alloc(8 << 20);
for (let i = 0, x = 7; i < pool.length; i++) pool[i] = (x = (Math.imul(x, 1103515245) + 12345) >>> 0) >>> 16;
const names = [];
for (let i = 0, x = 99; i < sizes[sizes.length - 1]; i++) {
  x = (Math.imul(x, 1103515245) + 12345) >>> 0;
  const name = `archive/d${String(Math.floor(i / 100)).padStart(3, '0')}/f${String(i).padStart(5, '0')}.aifc`;
  const bytes = 100000 + (x % 200000), at = x % (pool.length - bytes);
  const type = ['sowt', 'ima4', 'SDX2'][i % 3], channels = 1 + (i >> 2) % 2, rate = i % 5 ? 44100 : 22050;
  const frameBytes = type === 'ima4' ? 34 * channels : type === 'sowt' ? 2 * channels : channels;
  const frames = Math.floor(bytes / frameBytes);
  const data = Buffer.from(pool.subarray(at, at + frames * frameBytes));
  if (type === 'ima4') fixIma4(data);
  const refused = i % 20 === 19 ? Math.floor(i / 20) % 3 : -1;
  const file = refused === 2 ? Buffer.from('Liner notes, not a sound file.\n'.repeat(4000)) :
    aifc(type, refused === 1 ? 3 : channels, refused === 1 ? Math.floor(frames * channels / 3) : frames, data,
         undefined, {rate, form: refused === 0 ? 'AIFF' : 'AIFC'});
  mkdirSync(dirname(join(work, 'tree', name)), {recursive: true});
  writeFileSync(join(work, 'tree', name), file);
  names.push(name);
}

// The server: the page (for the ways from 127.0.0.1), and the WebSocket
// sink, each connection's bytes appended to WORK_DIR/out/NAME (its path).
mkdirSync(join(work, 'out'));
const sinks = new Map();  // name -> {fd, closed, aborted}
const sinkOf = (url) => {
  const name = url.slice(1).replace(/[^\w.-]/g, '_');
  if (!sinks.has(name)) sinks.set(name, {fd: openSync(join(work, 'out', name), 'w'), closed: false, aborted: false});
  return sinks.get(name);
};
const server = createServer((request, response) => response.writeHead(200, {'content-type': 'text/html'})
  .end(readFileSync(pagePath)));
webSocketSink(server, (url, bytes) => writeSync(sinkOf(url).fd, bytes),
              (url, text) => { sinkOf(url)[text === 'abort' ? 'aborted' : 'closed'] = true; });
await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
const port = server.address().port;

const sha = (bytes) => createHash('sha256').update(bytes).digest('hex');
// (Firefox's rows are named by the file's own name; the recipe's, by its path)
const short = (text) => text.replace(/archive\/d\d{3}\//g, '');
// refused.txt's records in one order (the recipe lists them as find gives them)
const records = (text) => short(text).split(/\n(?! )/).sort().join('\n');

// The entries of a ZIP file, from its central directory (ZIP64 where a
// field says so): {name, offset of the data, size, crc}; each stored.
function zipEntries(path) {
  const fd = openSync(path, 'r');
  const read = (at, length) => { const b = Buffer.alloc(length); readSync(fd, b, 0, length, at); return b; };
  try {
    const size = statSync(path).size;
    const tail = read(Math.max(0, size - 65557), Math.min(size, 65557));
    let end = tail.length - 22;
    while (end >= 0 && tail.readUInt32LE(end) !== 0x06054b50) end--;
    if (end < 0) throw new Error(`${path}: no end of central directory`);
    let count = tail.readUInt16LE(end + 10), cdSize = tail.readUInt32LE(end + 12), cdAt = tail.readUInt32LE(end + 16);
    if (end >= 20 && tail.readUInt32LE(end - 20) === 0x07064b50) {  // the ZIP64 locator
      const z = read(Number(tail.readBigUInt64LE(end - 12)), 56);
      if (z.readUInt32LE(0) !== 0x06064b50) throw new Error(`${path}: bad ZIP64 end of central directory`);
      count = Number(z.readBigUInt64LE(32)); cdSize = Number(z.readBigUInt64LE(40)); cdAt = Number(z.readBigUInt64LE(48));
    }
    const cd = read(cdAt, cdSize);
    const entries = [];
    for (let at = 0, i = 0; i < count; i++) {
      if (cd.readUInt32LE(at) !== 0x02014b50) throw new Error(`${path}: bad central directory entry ${i}`);
      const nameLength = cd.readUInt16LE(at + 28), extraLength = cd.readUInt16LE(at + 30);
      const name = cd.toString('utf8', at + 46, at + 46 + nameLength);
      let compressed = cd.readUInt32LE(at + 20), length = cd.readUInt32LE(at + 24), local = cd.readUInt32LE(at + 42);
      for (let e = at + 46 + nameLength; e < at + 46 + nameLength + extraLength;) {
        const id = cd.readUInt16LE(e), fieldSize = cd.readUInt16LE(e + 2);
        if (id === 1) {
          let f = e + 4;
          if (length === 0xffffffff) length = Number(cd.readBigUInt64LE(f)), f += 8;
          if (compressed === 0xffffffff) compressed = Number(cd.readBigUInt64LE(f)), f += 8;
          if (local === 0xffffffff) local = Number(cd.readBigUInt64LE(f));
        }
        e += 4 + fieldSize;
      }
      if (cd.readUInt16LE(at + 10) !== 0 || compressed !== length) throw new Error(`${path}: ${name} is not stored`);
      const head = read(local, 30);
      if (head.readUInt32LE(0) !== 0x04034b50) throw new Error(`${path}: no local header for ${name}`);
      entries.push({name, at: local + 30 + head.readUInt16LE(26) + head.readUInt16LE(28), length, crc: cd.readUInt32LE(at + 16)});
      at += 46 + nameLength + extraLength + cd.readUInt16LE(at + 32);
    }
    return entries;
  } finally {
    closeSync(fd);
  }
}

// Each entry of the ZIP files (in order, read from disk as a stream)
// against the recipe's output: every WAV by its SHA-256, refused.txt by its
// records, nothing more, nothing less. Returns the number of entries.
async function checkZips(paths, wavs, dir, what) {
  const left = new Map(wavs);
  let count = 0;
  for (const path of paths) {
    for (const {name, at, length, crc} of zipEntries(path)) {
      const hash = createHash('sha256');
      let c = 0, text = '';
      for await (const piece of createReadStream(path, {start: at, end: at + length - 1, highWaterMark: 1 << 20})) {
        hash.update(piece);
        c = crc32(piece, c);
        if (name.endsWith('refused.txt')) text += piece;
      }
      if (length > 0 && c !== crc) throw new Error(`${what}: CRC of ${name} in ${path}`);
      count++;
      if (basename(name) === 'refused.txt') {
        if (records(text) !== records(readFileSync(join(dir, 'refused.txt'), 'utf8'))) throw new Error(`${what}: refused.txt in the ZIP differs`);
        continue;
      }
      const key = basename(name);
      if (!left.has(key)) throw new Error(`${what}: ${name} in the ZIP is not a WAV of the recipe's (or twice)`);
      if (left.get(key) !== hash.digest('hex')) throw new Error(`${what}: ${name} in the ZIP differs from the recipe's`);
      left.delete(key);
    }
  }
  if (left.size) throw new Error(`${what}: ${left.size} WAVs missing from the ZIP, as ${[...left.keys()][0]}`);
  return count;
}

// In the page, before the files are chosen: the timers, and the stand-in
// pickers of the way.
function instrument(way, port, discard) {
  window.bench = {start: 0, times: [], seen: new WeakSet(), zipReady: 0, zipFailed: ''};
  // (the last time a part of the ZIP was ready: the memory store offers
  // several; a page without data-state, its link)
  const ready = (records) => {
    const status = document.getElementById('zip-status');
    if (status?.dataset.state === 'failed') bench.zipFailed ||= status.textContent || 'failed';
    if (records.some((r) => r.attributeName === 'data-state')) bench.stateAt = performance.now();
    if (records.some((r) => r.attributeName === 'data-state') && status?.dataset.state === 'done' ||
        !status?.dataset.state && !bench.zipReady && document.querySelector('a#zip-file[href]')) {
      bench.zipReady = performance.now();
    }
  };
  new MutationObserver(ready).observe(document.body, {subtree: true, childList: true, attributeFilter: ['data-state']});
  new MutationObserver((records) => {
    const now = performance.now();
    for (const {target} of records) if (!bench.seen.has(target)) bench.seen.add(target), bench.times.push(now);
  }).observe(document.getElementById('results'), {subtree: true, attributeFilter: ['data-status']});
  for (const id of ['folder', 'files']) {
    document.getElementById(id).addEventListener('change', () => { bench.start = performance.now(); }, {capture: true});
  }
  // Presses "Download all" once the batch of N files is done, unless the
  // page made its ZIP after the last file of its own accord.
  bench.pressZip = (n) => {
    const timer = setInterval(() => {
      if (bench.times.length < n) return;
      const state = document.getElementById('zip-status')?.dataset.state;
      if (bench.zipReady > bench.times[n - 1] || state === 'making' && bench.times[n - 1] < bench.stateAt) return clearInterval(timer);
      const zip = document.getElementById('zip');
      if (document.body.dataset.idle === 'true' && zip && !zip.disabled) clearInterval(timer), zip.click();
    }, 50);
  };
  // A WebSocket to the benchmark: send(bytes) resolves once at most 16 MiB
  // are unanswered; end(word) once everything is answered.
  bench.socket = async (name) => {
    const socket = new WebSocket(`ws://127.0.0.1:${port}/${name}`);
    await new Promise((ok, fail) => { socket.onopen = ok; socket.onerror = () => fail(new Error('WebSocket')); });
    const sizes = [];
    let unanswered = 0, wake = null;
    socket.onmessage = () => { unanswered -= sizes.shift(); if (wake) wake(); };
    const until = async (test) => { while (!test()) await new Promise((ok) => { wake = ok; }); };
    return {
      async send(bytes) {
        const size = bytes.size ?? bytes.byteLength;
        sizes.push(size);
        unanswered += size;
        socket.send(bytes);
        await until(() => unanswered <= 16 << 20);
      },
      async end(word) {
        sizes.push(0);
        socket.send(word);
        await until(() => sizes.length === 0);
        socket.close();
      },
    };
  };
  if (way === 'chromium-zip') {
    // What the page may use of the picker's file: createWritable(), and
    // write(), close() and abort() of its stream (no positions). DISCARD:
    // the bytes counted, not sent.
    bench.zipBytes = 0;
    window.showSaveFilePicker = async () => ({
      kind: 'file', name: 'aifconv.zip',
      async createWritable() {
        const out = discard ? {send: async (b) => { bench.zipBytes += b.size ?? b.byteLength; }, end: async () => {}}
          : await bench.socket('zip-file');
        return {
          async write(data) {
            if (data?.type) throw new TypeError(`the benchmark's stand-in writes in order only (${data.type})`);
            await out.send(typeof data === 'string' ? new Blob([data]) : data);
          },
          // (the page marks no data-state for this ZIP: it is ready once closed)
          close: () => out.end('close').then(() => { bench.zipReady = performance.now(); }),
          abort: () => out.end('abort'),
        };
      },
    });
  }
}

// The ZIP's parts as Firefox saves them (into DOWNLOADS, each link
// pressed unless the page did), once all are whole.
async function downloaded(page, downloads) {
  await new Promise((ok) => setTimeout(ok, 2000));
  const wanted = await page.evaluate(() => {
    const links = [...document.querySelectorAll('a.zip-part[download]')];
    if (links.length === 0) links.push(document.getElementById('zip-file'));
    return links.map((link) => link.download);
  });
  for (const [i, name] of wanted.entries()) {
    if (!existsSync(join(downloads, name))) {
      await page.evaluate((i) => (document.querySelectorAll('a.zip-part[download]')[i] ?? document.getElementById('zip-file')).click(), i);
    }
  }
  const whole = () => wanted.every((name) => existsSync(join(downloads, name))) &&
    !readdirSync(downloads).some((name) => name.endsWith('.part'));
  while (!whole()) await new Promise((ok) => setTimeout(ok, 500));
  return wanted.map((name) => join(downloads, name));
}

// The ZIP's parts, read out of the page into WORK_DIR/out.
async function readOut(page, prefix) {
  return page.evaluate(async (prefix) => {
    const links = [...document.querySelectorAll('a.zip-part[download]')];
    if (links.length === 0) links.push(document.getElementById('zip-file'));
    const names = [];
    for (const [i, link] of links.entries()) {
      const blob = await (await fetch(link.href)).blob();
      const out = await bench.socket(`${prefix}-${i + 1}.zip`);
      for (let at = 0; at < blob.size; at += 8 << 20) await out.send(blob.slice(at, at + (8 << 20)));
      await out.end('close');
      names.push(`${prefix}-${i + 1}.zip`);
    }
    return names;
  }, prefix);
}

const results = [];
for (const n of sizes) {
  const dir = join(work, String(n));
  for (const name of names.slice(0, n)) {
    mkdirSync(dirname(join(dir, name)), {recursive: true});
    linkSync(join(work, 'tree', name), join(dir, name));
  }
  execFileSync('sync');
  const env = {...process.env, PATH: `${join(work, 'bin')}:${process.env.PATH}`};
  spawnSync('bash', [join(work, 'mirror-xargs.sh')], {cwd: dir, env, stdio: 'ignore'});  // warms the cache
  rmSync(join(dir, 'wav'), {recursive: true}); execFileSync('sync');
  const load = () => readFileSync('/proc/loadavg', 'utf8').split(' ')[0];
  const nativeLoad = load();
  const t0 = process.hrtime.bigint();
  spawnSync('bash', [join(work, 'mirror-xargs.sh')], {cwd: dir, env, stdio: 'ignore'});
  const nativeSeconds = Number(process.hrtime.bigint() - t0) / 1e9;
  const wavList = spawnSync('find', ['wav', '-type', 'f', '-printf', '%P\\n'], {cwd: dir}).stdout.toString().split('\n').filter(Boolean);
  const wavs = new Map(wavList.map((path) => [basename(path), sha(readFileSync(join(dir, 'wav', path)))]));
  console.log(`${n} files: the recipe took ${nativeSeconds.toFixed(2)} s (load average ${nativeLoad}), ${wavs.size} WAVs`);

  for (const way of ways) {
    const what = `${n} files, ${way}`;
    const downloads = join(work, 'out', `${n}-${way}`);
    mkdirSync(downloads);
    const browser = way.startsWith('firefox') ? await launchFirefox(work, downloads, way === 'firefox-memory') : await launch(work);
    const memory = sampleMemory(browser.process().pid, 500, what);
    try {
      const page = await browser.newPage();
      if (!way.startsWith('firefox')) await page.setBypassCSP(true);  // (for the benchmark's WebSocket)
      await page.goto((way === 'chromium-folder' || way === 'chromium-private' ? `http://127.0.0.1:${port}/`
        : pathToFileURL(resolve(pagePath)).href) + (process.env.AIFCONV_BENCH_BUDGET ? `?budget=${process.env.AIFCONV_BENCH_BUDGET}` : ''));
      await page.evaluate(instrument, way, port, discard);
      if (way === 'chromium-zip' && await page.$('button#output-zip')) {
        await page.click('button#output-zip');
        await page.waitForSelector('body[data-store="zip-file"]');
      }
      if (way === 'chromium-folder') {
        await page.evaluate(async () => {
          const root = await navigator.storage.getDirectory();
          const folder = await root.getDirectoryHandle('chosen', {create: true});
          window.showDirectoryPicker = async () => folder;
          document.getElementById('output-folder').click();
        });
        await page.waitForSelector('body[data-output="folder"], body[data-store="folder"]');
      }
      // (the page tells where its WAVs go once it has tried the private file system)
      await page.waitForSelector('body[data-store]', {timeout: 10000}).catch(() => {});
      const store = await page.evaluate(() => document.body.dataset.store || (document.body.dataset.output ?? 'memory'));
      const startLoad = load();
      const choose = async () => {
        if (way.startsWith('firefox')) await (await page.$('input#files')).uploadFile(...names.slice(0, n).map((name) => join(dir, name)));
        else await (await page.$('input#folder')).uploadFile(join(dir, 'archive'));
        await page.waitForFunction((count) => document.body.dataset.idle === 'true' &&
          document.querySelectorAll('.result[data-status]').length === count, {timeout: 0, polling: 1000}, n);
      };
      if (way !== 'chromium-folder' && way !== 'chromium-zip') await page.evaluate((n) => bench.pressZip(n), n);
      // Firefox saves each part of the ZIP as the page offers it (the memory
      // store waits for that to go on), unless the page had it saved.
      const clicked = new Set();
      const saver = way.startsWith('firefox') && setInterval(() => page.evaluate(() =>
        [...document.querySelectorAll('a.zip-part[download]')].map((a) => a.download)).then(async (names) => {
        for (const [i, name] of names.entries()) {
          if (clicked.has(name)) continue;
          clicked.add(name);
          await new Promise((ok) => setTimeout(ok, 1000));
          if (!existsSync(join(downloads, name)) && !existsSync(join(downloads, name + '.part'))) {
            await page.evaluate((i) => document.querySelectorAll('a.zip-part[download]')[i].click(), i);
          }
        }
      }).catch(() => {}), 1000);
      // (AIFCONV_BENCH_METRICS=1, Chromium: per 1,000 rows done, its main
      // thread's busy, script, layout and style seconds, and the DOM's nodes)
      const cdp = process.env.AIFCONV_BENCH_METRICS && !way.startsWith('firefox') && await page.createCDPSession();
      const metricsDone = cdp && (async () => {
        await cdp.send('Performance.enable');
        const keys = ['TaskDuration', 'ScriptDuration', 'LayoutDuration', 'RecalcStyleDuration'];
        const metrics = async () => Object.fromEntries((await cdp.send('Performance.getMetrics')).metrics.map((m) => [m.name, m.value]));
        let before = await metrics(), at = Date.now();
        for (let mark = 1000; mark <= n; mark += 1000) {
          while (await page.evaluate(() => bench.times.length) < mark) await new Promise((ok) => setTimeout(ok, 250));
          const now = await metrics();
          console.log(`${what}, rows ${mark - 999}-${mark}: ${((Date.now() - at) / 1000).toFixed(1)} s; main thread (s): ` +
                      keys.map((k) => `${k.replace('Duration', '')} ${(now[k] - before[k]).toFixed(1)}`).join(', ') + `; nodes ${now.Nodes}`);
          before = now; at = Date.now();
        }
      })();
      await choose();
      await metricsDone;
      // (the ZIP file may be closed before the last row shows its status; a
      // ZIP kept in the page is made after the last file)
      if (way === 'chromium-zip') {
        await page.waitForFunction(() => bench.zipReady || bench.zipFailed, {timeout: 0, polling: 250});
      } else if (way !== 'chromium-folder') {
        await page.waitForFunction(() => bench.zipReady > Math.max(...bench.times) || bench.zipFailed, {timeout: 0, polling: 250});
      }
      clearInterval(saver);
      const atZip = memory.read();
      const timed = await page.evaluate(() => ({start: bench.start, last: Math.max(...bench.times), count: bench.times.length,
                                                zipReady: bench.zipReady, zipFailed: bench.zipFailed}));
      if (timed.zipFailed) throw new Error(`${what}: the ZIP failed: ${timed.zipFailed}`);
      const convertSeconds = (timed.last - timed.start) / 1000;
      const zipSeconds = way === 'chromium-folder' ? null : Math.max(0, timed.zipReady - timed.last) / 1000;
      const endLoad = load();

      // Untimed: the rows against the recipe.
      const rows = await page.$$eval('.result', (list) => list.map((row) =>
        [row.dataset.name.slice(row.dataset.name.lastIndexOf('/') + 1), row.dataset.status, row.querySelector('.messages').textContent]));
      const wrong = rows.filter(([name, status]) => (status === '0') !== wavs.has(name + '.wav'));
      if (wrong.length) throw new Error(`${what}: ${wrong.length} rows differ from the recipe, as ${JSON.stringify(wrong[0])}`);
      const refusedText = rows.filter(([, status]) => status === '1')
        .map(([name, , messages]) => `${name}\n${messages.replace(/^(?=.)/gm, '    ')}`).join('');
      if (records(refusedText) !== records(readFileSync(join(dir, 'refused.txt'), 'utf8'))) {
        writeFileSync(join(work, 'page-refused.txt'), refusedText);
        throw new Error(`${what}: the refused rows' messages differ from refused.txt (the page's: ${join(work, 'page-refused.txt')})`);
      }
      let checked, resume = null;
      if (way === 'chromium-folder') {
        const written = await page.evaluate(async () => {
          const out = {};
          const walk = async (d, prefix) => {
            for await (const [name, handle] of d.entries()) {
              if (handle.kind === 'directory') await walk(handle, `${prefix}${name}/`);
              else if (name === 'refused.txt') out[name] = await (await handle.getFile()).text();
              else out[prefix + name] = [...new Uint8Array(await crypto.subtle.digest('SHA-256', await (await handle.getFile()).arrayBuffer()))]
                .map((b) => b.toString(16).padStart(2, '0')).join('');
            }
          };
          await walk(await (await navigator.storage.getDirectory()).getDirectoryHandle('chosen'), '');
          return out;
        });
        if (records(written['refused.txt'] ?? '') !== records(readFileSync(join(dir, 'refused.txt'), 'utf8'))) throw new Error(`${what}: refused.txt differs`);
        delete written['refused.txt'];
        if (Object.keys(written).length !== wavs.size) throw new Error(`${what}: ${Object.keys(written).length} files in the folder, not ${wavs.size}`);
        for (const [name, digest] of Object.entries(written)) if (wavs.get(basename(name)) !== digest) throw new Error(`${what}: ${name} differs`);
        checked = `${wavs.size} WAVs and refused.txt in the folder`;
        // The resume: the same folder chosen again, nothing to convert.
        await page.click('button#clear');
        await page.evaluate(() => { bench.times = []; bench.seen = new WeakSet(); });
        await choose();
        const again = await page.evaluate(() => ({start: bench.start, last: Math.max(...bench.times)}));
        resume = (again.last - again.start) / 1000;
        const states = await page.$$eval('.result .state', (list) => list.filter((s) => s.textContent === 'already converted').length);
        if (states !== wavs.size) throw new Error(`${what}: ${states} rows already converted on resuming, not ${wavs.size}`);
      } else if (way === 'chromium-zip' && discard) {
        checked = `the ZIP's ${await page.evaluate(() => bench.zipBytes)} bytes discarded, not checked`;
      } else {
        let zips;
        if (way.startsWith('firefox')) {
          zips = await downloaded(page, downloads);
        } else {
          const sent = way === 'chromium-zip' ? ['zip-file'] : await readOut(page, `${n}-${way}`);
          for (const name of sent) {
            const sink = sinks.get(name);
            if (!sink?.closed || sink.aborted) throw new Error(`${what}: ${name} was not closed (or was aborted)`);
            closeSync(sink.fd);
            sinks.delete(name);
          }
          zips = sent.map((name) => join(work, 'out', name));
        }
        const count = await checkZips(zips, wavs, dir, what);
        for (const path of zips) rmSync(path);
        checked = `${count} entries in ${zips.length} ZIP part${zips.length > 1 ? 's' : ''}`;
      }
      const final = memory.stop();
      console.log(`${what} (${store}): converted in ${convertSeconds.toFixed(1)} s` +
                  (zipSeconds === null ? '' : `, ZIP ready ${zipSeconds.toFixed(1)} s later`) +
                  (resume === null ? '' : `, resumed in ${resume.toFixed(1)} s`) +
                  `, load average ${startLoad} to ${endLoad}; memory peak ${atZip.peak} MiB ` +
                  `(${Object.entries(atZip.kinds).map(([k, v]) => `${k} ${v}`).join(', ')}), ${final.peak} MiB with the checks; ` +
                  `checked: ${rows.length} rows, ${checked}`);
      results.push({n, way, store, nativeSeconds, nativeLoad, convertSeconds, zipSeconds, resume, memory: atZip.peak,
                    load: `${startLoad}–${endLoad}`});
    } finally {
      memory.stop();
      await browser.close();
    }
  }
  if (!process.env.AIFCONV_BENCH_KEEP) rmSync(dir, {recursive: true, force: true});
}
server.close();

const fixed = (v, d = 1) => (v === null ? '–' : v.toFixed(d));
for (const way of ways) {
  const rows = results.filter((r) => r.way === way);
  const base = rows.find((r) => r.n === 200)?.memory;
  console.log(`\n${way} (${rows[0]?.store})`);
  console.log('| files | recipe (xargs, native) | page: conversion | ZIP after the last file | ZIP / conversion | ' +
              'page / recipe (to the ZIP) | resume | resume / first | memory, all processes | / 200 files | load average |');
  console.log('|---|---|---|---|---|---|---|---|---|---|---|');
  for (const r of rows) {
    const total = r.convertSeconds + (r.zipSeconds ?? 0);
    console.log(`| ${r.n.toLocaleString('en')} | ${fixed(r.nativeSeconds, 2)} s | ${fixed(r.convertSeconds)} s | ` +
                `${r.zipSeconds === null ? '–' : fixed(r.zipSeconds) + ' s'} | ${r.zipSeconds === null ? '–' : fixed(r.zipSeconds / r.convertSeconds, 2)} | ` +
                `${fixed(total / r.nativeSeconds)}× | ${r.resume === null ? '–' : fixed(r.resume) + ' s'} | ` +
                `${r.resume === null ? '–' : Math.round(100 * r.resume / r.convertSeconds) + ' %'} | ${r.memory.toLocaleString('en')} MiB | ` +
                `${base ? fixed(r.memory / base, 2) : '–'} | ${r.load} (recipe ${r.nativeLoad}) |`);
  }
}
