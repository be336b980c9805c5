// One large file through the page's worker in headless Chromium, against the
// native converter in the same run (bench/web.sh starts it).
//
//   node bench/web_bench.mjs PAGE NATIVE_AIFCONV INPUT RUNS WORK_DIR
//
// Runs are paired, the native converter then the page, and the figure is the
// median of the ratios of the pairs, as bench/floor.sh does. The page's time
// runs from the file input's change event to the result row's data-status
// (the output is then a Blob in the page); the native time is the whole run
// of the program, writing a new file in WORK_DIR. Also printed: the page's
// size, and the peak resident memory (VmHWM) of the renderer that ran the
// page and its worker, and of the browser process, which holds the Blobs.
import {spawnSync} from 'node:child_process';
import {createReadStream, rmSync, statSync} from 'node:fs';
import {crc32} from 'node:zlib';
import {join, resolve} from 'node:path';
import {pathToFileURL} from 'node:url';
import {launch, median, peakKiB, renderers} from './web_procs.mjs';

const [pagePath, native, input, runsText, work] = process.argv.slice(2);
const runs = Number(runsText || 5);

function nativeSeconds() {
  const output = join(work, 'native.wav');
  rmSync(output, {force: true});
  const t0 = process.hrtime.bigint();
  const run = spawnSync(native, [input, output], {stdio: ['ignore', 'ignore', 'inherit']});
  const seconds = Number(process.hrtime.bigint() - t0) / 1e9;
  if (run.status !== 0) throw new Error(`native run failed: ${run.status}`);
  return seconds;
}

const browser = await launch(work);
try {
  const page = await browser.newPage();
  await page.goto(pathToFileURL(resolve(pagePath)).href);
  const outputBytes = statSync(input).size;  // replaced below by the WAV's size
  let wavSize = 0;
  const nativeTimes = [], pageTimes = [], ratios = [];
  for (let i = 0; i < runs + 1; i++) {
    const n = nativeSeconds();
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
    wavSize = size;
    const p = ms / 1000;
    if (i === runs) {
      // The last output, checked against the native one: size and CRC-32,
      // read back from the page's Blob by a stream.
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
    if (i === 0) continue;  // the first pair warms the page cache and the worker
    nativeTimes.push(n);
    pageTimes.push(p);
    ratios.push(p / n);
  }
  const browserPid = browser.process().pid;
  const rendererPeak = Math.max(...renderers(browserPid).map(peakKiB));
  console.log(`input ${(outputBytes / 2 ** 20).toFixed(1)} MiB, output ${wavSize.replace(/^Download /, '')}, ${runs} pairs`);
  console.log(`page size: ${statSync(pagePath).size} bytes`);
  console.log(`median native ${median(nativeTimes).toFixed(3)} s, median page ${median(pageTimes).toFixed(3)} s, ` +
              `median ratio ${median(ratios).toFixed(2)}`);
  console.log(`peak RSS KiB: renderer ${rendererPeak}, browser process ${peakKiB(browserPid)}`);
} finally {
  await browser.close();
}
