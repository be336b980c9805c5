// One large file through the page's worker in headless Chromium, against the
// native converter and against the browser's own floor, in the same run
// (bench/web.sh starts it).
//
//   node bench/web_bench.mjs PAGE NATIVE_AIFCONV INPUT RUNS WORK_DIR
//
// Each round runs the native converter, then the floor and the page, in turn
// first; the figures are the medians of the ratios of the rounds, as
// bench/floor.sh does. The page's time runs from the file input's change
// event to the result row's data-status (the output is then a Blob in the
// page); the native time is the whole run of the program, writing a new file
// in WORK_DIR. The floor does the page worker's I/O and converts nothing: in
// a blob: worker made as the page makes its own, it reads the same File in
// the same 16 MiB windows with FileReaderSync, copies those bytes into a
// 32 MiB staging buffer until it has written as many bytes as the WAV has,
// making a Blob of each full stage, and posts one Blob of those parts to the
// page; its time runs from the change event of an input of its own in the
// same page to that Blob's arrival. Its worker is ended after each run, so
// that the bytes of its Blobs (kept in the renderer until collected, as
// web/worker.js says) do not add up over the runs. Also printed: the page's size, and the peak resident
// memory (VmHWM, reset before each run) of the renderer that ran the page
// and the workers, and of the browser process, which holds the Blobs; for
// the page's runs and the floor's apart.
import {spawnSync} from 'node:child_process';
import {createReadStream, rmSync, statSync, writeFileSync} from 'node:fs';
import {crc32} from 'node:zlib';
import {join, resolve} from 'node:path';
import {pathToFileURL} from 'node:url';
import {launch, median, peakKiB, renderers} from './web_procs.mjs';

const [pagePath, native, input, runsText, work] = process.argv.slice(2);
const runs = Number(runsText || 5);

// The floor's worker; its source goes into a blob: worker, as the page's.
function floorWorker() {
  const kWindow = 16 << 20, kStage = 32 << 20;
  onmessage = ({data: {file, size}}) => {
    const reader = new FileReaderSync();
    let stage = new Uint8Array(kStage), parts = [], fill = 0, written = 0;
    for (let at = 0; at < file.size; at += kWindow) {
      const bytes = new Uint8Array(reader.readAsArrayBuffer(file.slice(at, at + kWindow)));
      // The output's bytes due by the end of this window, taken from it over and over.
      const due = at + kWindow >= file.size ? size : Math.round(size * (at + kWindow) / file.size);
      for (let from = 0; written < due;) {
        const take = Math.min(due - written, kStage - fill, bytes.length - from);
        stage.set(bytes.subarray(from, from + take), fill);
        fill += take, written += take, from = (from + take) % bytes.length;
        if (fill === kStage) parts.push(new Blob([stage])), fill = 0;
      }
    }
    if (fill > 0) parts.push(new Blob([stage.subarray(0, fill)]));
    const wav = new Blob(parts, {type: 'audio/wav'});
    parts = stage = null;
    postMessage({type: 'done', wav});
  };
  postMessage({type: 'ready'});
}

async function floorSeconds(page, size) {
  await page.evaluate((source, size) => new Promise((ready) => {
    let input = document.getElementById('bench-floor');
    if (!input) {
      input = Object.assign(document.createElement('input'), {type: 'file', id: 'bench-floor', hidden: true});
      document.body.append(input);
    }
    const url = URL.createObjectURL(new Blob([`(${source})()`], {type: 'text/javascript'}));
    const worker = new Worker(url);
    window.benchFloor = new Promise((done) => {
      input.onchange = () => {
        const start = performance.now();
        worker.onmessage = ({data}) => {
          const ms = performance.now() - start, bytes = data.wav.size;
          worker.terminate();
          URL.revokeObjectURL(url);
          input.value = '';
          done([ms, bytes]);
        };
        worker.postMessage({file: input.files[0], size});
      };
    });
    worker.onmessage = () => ready();
  }), floorWorker.toString(), size);
  await (await page.$('input#bench-floor')).uploadFile(input);
  const [ms, bytes] = await page.evaluate(() => window.benchFloor);
  if (bytes !== size) throw new Error(`floor: ${bytes} bytes, not ${size}`);
  return ms / 1000;
}

// The peak resident memory of a process since the last reset (Linux: 5 to
// clear_refs resets VmHWM).
function resetPeak(pid) {
  try { writeFileSync(`/proc/${pid}/clear_refs`, '5'); } catch {}
}

function nativeSeconds() {
  const output = join(work, 'native.wav');
  rmSync(output, {force: true});
  const t0 = process.hrtime.bigint();
  const run = spawnSync(native, [input, output], {stdio: ['ignore', 'ignore', 'inherit']});
  const seconds = Number(process.hrtime.bigint() - t0) / 1e9;
  if (run.status !== 0) throw new Error(`native run failed: ${run.status}`);
  return seconds;
}

// The page's run: the file chosen in input#files, until its row has a status;
// with check, its output is compared with the native one (size and CRC-32,
// read back from the page's Blob by a stream).
async function pageRun(page, check) {
  await page.evaluate(() => {
    window.benchStart = 0;
    document.getElementById('files').addEventListener('change', () => { window.benchStart = performance.now(); },
                                                      {once: true, capture: true});
  });
  await (await page.$('input#files')).uploadFile(input);
  const result = await page.waitForFunction(() => {
    const row = document.querySelector('.result[data-status]');
    if (!row) return false;
    const link = row.querySelector('a.wav');
    return {status: row.dataset.status, ms: performance.now() - window.benchStart,
            size: link ? link.textContent : '', messages: row.querySelector('.messages').textContent};
  }, {polling: 'mutation', timeout: 600000});
  const {status, ms, size, messages} = await result.jsonValue();
  if (status !== '0') throw new Error(`the page refused the file: ${messages}`);
  if (check) {
    const pageCrc = await page.evaluate(async () => {
      const table = new Int32Array(256);
      for (let n = 0; n < 256; n++) {
        let c = n;
        for (let k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320 ^ (c >>> 1) : c >>> 1;
        table[n] = c;
      }
      const blob = await (await fetch(document.querySelector('a.wav').href)).blob();
      const reader = blob.stream().getReader();
      let crc = -1;
      for (let r = await reader.read(); !r.done; r = await reader.read()) {
        const bytes = r.value;
        for (let j = 0; j < bytes.length; j++) crc = table[(crc ^ bytes[j]) & 0xFF] ^ (crc >>> 8);
      }
      return {size: blob.size, crc: (crc ^ -1) >>> 0};
    });
    let nativeCrc = 0;
    for await (const chunk of createReadStream(join(work, 'native.wav'))) nativeCrc = crc32(chunk, nativeCrc);
    const nativeSize = statSync(join(work, 'native.wav')).size;
    if (pageCrc.size !== nativeSize || pageCrc.crc !== nativeCrc) {
      throw new Error(`the page's output differs: ${JSON.stringify(pageCrc)}, native ${nativeSize} bytes, CRC ${nativeCrc}`);
    }
    console.log(`output checked: ${nativeSize} bytes, CRC-32 ${nativeCrc.toString(16)}, the native converter's`);
  }
  await page.click('button#clear');
  return {seconds: ms / 1000, size};
}

const browser = await launch(work);
try {
  const page = await browser.newPage();
  await page.goto(pathToFileURL(resolve(pagePath)).href);
  const inputBytes = statSync(input).size;
  const browserPid = browser.process().pid;
  let wavSize = '';
  const nativeTimes = [], pageTimes = [], floorTimes = [], ratios = [], floorRatios = [];
  const peaks = {page: [0, 0], floor: [0, 0]};  // KiB: renderer, browser process
  // A run of the page or the floor, with the peaks of the processes over it.
  const measured = async (kind, run) => {
    const before = renderers(browserPid);
    for (const pid of [browserPid, ...before]) resetPeak(pid);
    const seconds = await run();
    peaks[kind][0] = Math.max(peaks[kind][0], ...renderers(browserPid).map(peakKiB));
    peaks[kind][1] = Math.max(peaks[kind][1], peakKiB(browserPid));
    return seconds;
  };
  for (let i = 0; i < runs + 1; i++) {
    const n = nativeSeconds();
    const wavBytes = statSync(join(work, 'native.wav')).size;
    let p = 0, f = 0;
    for (const kind of i % 2 ? ['page', 'floor'] : ['floor', 'page']) {
      if (kind === 'floor') {
        f = await measured(kind, () => floorSeconds(page, wavBytes));
      } else {
        p = await measured(kind, async () => {
          const {seconds, size} = await pageRun(page, i === runs);
          wavSize = size;
          return seconds;
        });
      }
    }
    if (i === 0) continue;  // the first round warms the page cache and the workers
    nativeTimes.push(n);
    pageTimes.push(p);
    floorTimes.push(f);
    ratios.push(p / n);
    floorRatios.push(p / f);
  }
  const MiB = (kib) => `${(kib / 1024).toFixed(0)} MiB`;
  console.log(`input ${(inputBytes / 2 ** 20).toFixed(1)} MiB, output ${wavSize.replace(/^Download /, '')}, ${runs} rounds`);
  console.log(`page size: ${statSync(pagePath).size} bytes`);
  console.log(`median native ${median(nativeTimes).toFixed(3)} s, median floor ${median(floorTimes).toFixed(3)} s, ` +
              `median page ${median(pageTimes).toFixed(3)} s`);
  console.log(`median ratio page/native ${median(ratios).toFixed(2)}, median ratio page/floor ${median(floorRatios).toFixed(2)}`);
  console.log(`per round (native, floor, page s): ${nativeTimes.map((n, k) =>
    `${n.toFixed(3)} ${floorTimes[k].toFixed(3)} ${pageTimes[k].toFixed(3)}`).join('; ')}`);
  console.log(`peak RSS: page runs: renderer ${MiB(peaks.page[0])}, browser process ${MiB(peaks.page[1])}; ` +
              `floor runs: renderer ${MiB(peaks.floor[0])}, browser process ${MiB(peaks.floor[1])}`);
} finally {
  await browser.close();
}
