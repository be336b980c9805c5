// Whole archives through the page in headless Chromium, against the mirror
// recipe with xargs and the native converter (doc/archives.md, read by its
// marker as bench/batch.sh does), on the same tree in the same run
// (bench/web_archive.sh starts it).
//
//   node bench/web_archive_bench.mjs PAGE NATIVE_AIFCONV WORK_DIR SIZES...
//
// The tree: max(SIZES) files of 100-300 KB in folders of 100, sowt, ima4
// and SDX2, mono and stereo, 22,050 and 44,100 Hz, one in 20 refused (a
// plain AIFF file, three channels, a text file); each smaller size is the
// first files of it (hard links). For each size: the recipe, timed, then a
// new browser that opens the page from 127.0.0.1 and writes into a folder,
// the origin-private file system standing in for the folder
// showDirectoryPicker would give (as the browser tests do), its profile in
// WORK_DIR; the folder is chosen with input#folder. The page's time runs
// from the change event to the last row's data-status. Then, untimed: the
// page's refused.txt must equal the recipe's byte for byte, every WAV the
// recipe wrote must be in the folder with the same SHA-256, and nothing
// else. Printed per size: both times, files per second, the ratio, the
// time of the first and of the last 1,000 files, the peak resident memory
// (VmHWM) of the renderer and of the browser process, and the longest task
// of the page (PerformanceObserver 'longtask').
// AIFCONV_BENCH_MEMORY=1: the page from file://, keeping its WAVs (no folder).
// AIFCONV_BENCH_METRICS=1: the cost of each 1,000 rows on the page's main thread, too.
import {execFileSync, spawnSync} from 'node:child_process';
import {createHash} from 'node:crypto';
import {linkSync, mkdirSync, readFileSync, readdirSync, rmSync, symlinkSync, writeFileSync} from 'node:fs';
import {createServer} from 'node:http';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';
import {aifc, fixIma4} from '../web/test/aifc.mjs';
import {launch, peakKiB, renderers} from './web_procs.mjs';

const [pagePath, native, work, ...sizeArgs] = process.argv.slice(2);
const sizes = sizeArgs.map(Number).sort((a, b) => a - b);
const inMemory = process.env.AIFCONV_BENCH_MEMORY === '1';
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

const served = createServer((request, response) => response.writeHead(200, {'content-type': 'text/html'})
  .end(readFileSync(pagePath)));
await new Promise((ok) => served.listen(0, '127.0.0.1', ok));

const sha = (bytes) => createHash('sha256').update(bytes).digest('hex');
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
  const t0 = process.hrtime.bigint();
  spawnSync('bash', [join(work, 'mirror-xargs.sh')], {cwd: dir, env, stdio: 'ignore'});
  const nativeSeconds = Number(process.hrtime.bigint() - t0) / 1e9;

  const browser = await launch(work);
  try {
    const page = await browser.newPage();
    await page.goto(inMemory ? pathToFileURL(resolve(pagePath)).href : `http://127.0.0.1:${served.address().port}/`);
    await page.evaluate(async (toFolder) => {
      window.bench = {start: 0, longest: 0, long: [], times: [], seen: new WeakSet()};
      new PerformanceObserver((list) => {
        for (const e of list.getEntries()) {
          bench.longest = Math.max(bench.longest, e.duration);
          if (e.duration > 200) bench.long.push([Math.round(e.startTime - bench.start), Math.round(e.duration)]);
        }
      }).observe({type: 'longtask'});
      new MutationObserver((records) => {
        const now = performance.now();
        for (const {target} of records) if (!bench.seen.has(target)) bench.seen.add(target), bench.times.push(now);
      }).observe(document.getElementById('results'), {subtree: true, attributeFilter: ['data-status']});
      document.getElementById('folder').addEventListener('change', () => { bench.start = performance.now(); },
                                                         {once: true, capture: true});
      if (!toFolder) return;
      const root = await navigator.storage.getDirectory();
      window.showDirectoryPicker = async () => root;
      document.getElementById('output-folder').click();
    }, !inMemory);
    if (!inMemory) await page.waitForSelector('body[data-output="folder"]');
    // (AIFCONV_BENCH_TRACE=1: the renderers' resident memory every 5 s)
    const rss = (pid) => Math.round(Number(readFileSync(`/proc/${pid}/status`, 'utf8').match(/VmRSS:\s+(\d+)/)[1]) / 1024);
    const trace = process.env.AIFCONV_BENCH_TRACE &&
      setInterval(() => console.log(`rss MiB: ${renderers(browser.process().pid).map(rss).join(' ')}`), 5000);
    await page.evaluate(() => document.getElementById('folder').addEventListener('change', () => {
      bench.handled = performance.now() - bench.start;
    }));
    // (AIFCONV_BENCH_METRICS=1: per 1,000 rows done, the page's main thread from Chromium's
    // Performance metrics: busy, script, layout and style seconds, and the DOM's nodes)
    const cdp = process.env.AIFCONV_BENCH_METRICS && await page.createCDPSession();
    let metricsDone = Promise.resolve();
    if (cdp) {
      await cdp.send('Performance.enable');
      const keys = ['TaskDuration', 'ScriptDuration', 'LayoutDuration', 'RecalcStyleDuration'];
      const metrics = async () => Object.fromEntries((await cdp.send('Performance.getMetrics')).metrics.map((m) => [m.name, m.value]));
      metricsDone = (async () => {
        let before = await metrics(), at = Date.now();
        for (let mark = 1000; mark <= n; mark += 1000) {
          while (await page.evaluate(() => bench.times.length) < mark) await new Promise((ok) => setTimeout(ok, 250));
          const now = await metrics();
          console.log(`${n} files, rows ${mark - 999}-${mark}: ${((Date.now() - at) / 1000).toFixed(1)} s; main thread (s): ` +
                      keys.map((k) => `${k.replace('Duration', '')} ${(now[k] - before[k]).toFixed(1)}`).join(', ') + `; nodes ${now.Nodes}`);
          before = now; at = Date.now();
        }
      })();
    }
    await (await page.$('input#folder')).uploadFile(join(dir, 'archive'));
    await page.waitForFunction((count) => document.body.dataset.idle === 'true' &&
      document.querySelectorAll('.result[data-status]').length === count, {timeout: 0, polling: 1000}, n);
    clearInterval(trace);
    await metricsDone;
    const {times, start, longest, long, handled} = await page.evaluate(() => ({...bench, seen: null}));
    console.log(`${n} files: the page's change listener took ${handled.toFixed(0)} ms`);
    if (long.length) console.log(`${n} files: tasks over 200 ms (start after the change event, ms): ${JSON.stringify(long)}`);
    const pageSeconds = (times[times.length - 1] - start) / 1000;
    const thousand = Math.min(1000, Math.floor(n / 2));
    const first = (times[thousand - 1] - start) / 1000, last = (times[n - 1] - times[n - 1 - thousand]) / 1000;
    const browserPid = browser.process().pid;
    const memory = [Math.max(...renderers(browserPid).map(peakKiB)), peakKiB(browserPid)].map((k) => k / 1024);

    // Untimed: the page's results against the recipe's.
    const rows = await page.$$eval('.result', (list) => list.map((row) =>
      [row.dataset.name, row.dataset.status, row.querySelector('.messages').textContent, row.querySelector('.notes').textContent]));
    const wavs = new Set(spawnSync('find', ['wav', '-type', 'f', '-printf', '%P\\n'], {cwd: dir}).stdout.toString().split('\n').filter(Boolean));
    const wrong = rows.filter(([name, status, messages]) => (status === '0') !== wavs.has(name.slice(8) + '.wav') ||
                                                           (status === '0' && messages !== ''));
    if (wrong.length) throw new Error(`${n} files: ${wrong.length} rows differ from the recipe, as ${JSON.stringify(wrong[0])}`);
    // (the recipe lists the files in the order find gives, the page in the order of its rows)
    const records = (text) => text.split(/\n(?! )/).sort().join('\n');
    const recipeRefused = records(readFileSync(join(dir, 'refused.txt'), 'utf8'));
    if (inMemory) {
      // The refused rows' messages, in the recipe's form, against its refused.txt.
      const text = rows.filter(([, status]) => status === '1')
        .map(([name, , messages]) => `${name}\n${messages.replace(/^(?=.)/gm, '    ')}`).join('');
      if (records(text) !== recipeRefused) {
        writeFileSync(join(work, 'page-refused.txt'), text);
        throw new Error(`${n} files: the refused rows' messages differ from refused.txt (the page's: ${join(work, 'page-refused.txt')})`);
      }
    } else {
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
        await walk(await navigator.storage.getDirectory(), '');
        return out;
      });
      if (records(written['refused.txt']) !== recipeRefused) {
        writeFileSync(join(work, 'page-refused.txt'), written['refused.txt']);
        throw new Error(`${n} files: refused.txt differs (the page's: ${join(work, 'page-refused.txt')})`);
      }
      delete written['refused.txt'];
      if (Object.keys(written).length !== wavs.size) throw new Error(`${n} files: ${Object.keys(written).length} files in the folder, not ${wavs.size}`);
      for (const name of wavs) {
        if (written[name] !== sha(readFileSync(join(dir, 'wav', name)))) throw new Error(`${n} files: ${name} differs`);
      }
    }
    const refused = rows.filter(([, status]) => status === '1').length;
    console.log(`${n} files (${refused} refused): checked against the recipe (statuses, refused.txt, ` +
                (inMemory ? 'no messages on a converted row)' : `${wavs.size} WAVs)`));
    results.push({n, nativeSeconds, pageSeconds, first, last, thousand, memory, longest});
  } finally {
    await browser.close();
    if (!process.env.AIFCONV_BENCH_KEEP) rmSync(dir, {recursive: true, force: true});
  }
}
served.close();

console.log(`\n${inMemory ? 'WAVs kept in the page (file://)' : 'WAVs written to a folder (origin-private stand-in, http://127.0.0.1)'}`);
console.log('| files | recipe (xargs, native) | page | page files/s | page / recipe | first, last 1,000 (s) | last / first | renderer peak | browser peak | longest task |');
console.log('|---|---|---|---|---|---|---|---|---|---|');
for (const r of results) {
  console.log(`| ${r.n} | ${r.nativeSeconds.toFixed(2)} s | ${r.pageSeconds.toFixed(1)} s | ${(r.n / r.pageSeconds).toFixed(0)} | ` +
              `${(r.pageSeconds / r.nativeSeconds).toFixed(1)}× | ${r.first.toFixed(1)}, ${r.last.toFixed(1)} (${r.thousand} files) | ` +
              `${(r.last / r.first).toFixed(2)} | ${r.memory[0].toFixed(0)} MiB | ${r.memory[1].toFixed(0)} MiB | ${r.longest.toFixed(0)} ms |`);
}
