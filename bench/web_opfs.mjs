// The origin-private file system alone, as the page writes into it (a
// temporary name, a writable stream, close, then moved to its name), in a
// bare page of headless Chromium: N files of SIZE bytes in folders of 100,
// eight at a time, and the time of each 1,000. Whether the browser's own
// file system slows down as the folder fills, without the page.
//
//   node bench/web_opfs.mjs WORK_DIR [N [SIZE]]      (the browser's profile goes to WORK_DIR)
import {createServer} from 'node:http';
import {launch} from './web_procs.mjs';

const [work, n = 10000, size = 300000] = process.argv.slice(2);
const served = createServer((q, r) => r.writeHead(200, {'content-type': 'text/html'}).end('<!doctype html><title>opfs</title>'));
await new Promise((ok) => served.listen(0, '127.0.0.1', ok));
const browser = await launch(work);
try {
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${served.address().port}/`);
  const times = await page.evaluate(async (n, size) => {
    const root = await navigator.storage.getDirectory();
    const data = new Uint8Array(size).fill(7);
    const folders = new Map();
    const one = async (k) => {
      const key = `d${Math.floor(k / 100)}`;
      if (!folders.has(key)) folders.set(key, root.getDirectoryHandle(key, {create: true}));
      const dir = await folders.get(key);
      const temporary = await dir.getFileHandle(`f${k}.wav.partial`, {create: true});
      const writable = await temporary.createWritable();
      await writable.write(data);
      await writable.close();
      await dir.removeEntry(`f${k}.wav`).catch(() => {});
      await temporary.move(`f${k}.wav`);
    };
    const times = [], running = new Set();
    let at = performance.now();
    for (let k = 0; k < n; k++) {
      const job = one(k).then(() => running.delete(job));
      running.add(job);
      if (running.size >= 8) await Promise.race(running);
      if ((k + 1) % 1000 === 0) times.push(((performance.now() - at) / 1000).toFixed(1)), at = performance.now();
    }
    await Promise.all(running);
    return times;
  }, Number(n), Number(size));
  console.log(`${n} files of ${size} bytes, seconds per 1,000: ${times.join(', ')}`);
} finally {
  await browser.close();
  served.close();
}
