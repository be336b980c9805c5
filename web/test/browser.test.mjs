// The page in real browsers (Debian's chromium and firefox-esr, headless,
// driven by puppeteer-core; WebKitGTK's MiniBrowser through webdriver.mjs,
// AIFCONV_BROWSERS chooses), opened from file:// and from a static server on
// 127.0.0.1, through the page's stable selectors only. The files are the
// project's own samples and the fuzzer's seed corpus; every result is
// compared with the native converter run on the same relative paths: status,
// standard error, output bytes, the waveform pictures, the summary, the ZIP
// of all outputs, and (from 127.0.0.1, into the origin-private file system
// as a stand-in for a chosen folder) the folder output and its resume.
//
//   node web/test/browser.test.mjs PAGE NATIVE_BUILD [SCREENSHOT.png]
//
// NATIVE_BUILD holds aifconv and fuzz/make_corpus (the x86-64 build).
import {execFileSync, spawnSync} from 'node:child_process';
import {cpSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync} from 'node:fs';
import {createServer} from 'node:http';
import {tmpdir} from 'node:os';
import {dirname, join, resolve} from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';
import {createHash} from 'node:crypto';
import {crc32} from 'node:zlib';
import assert from 'node:assert/strict';
import puppeteer from 'puppeteer-core';
import {launchChromium} from './chromium.mjs';
import {launch as launchWebKit} from './webdriver.mjs';
import {aifc, fixIma4} from './aifc.mjs';

const [pagePath, nativeBuild, screenshot] = process.argv.slice(2).map((p) => resolve(p));
if (!pagePath || !nativeBuild) throw new Error('usage: browser.test.mjs PAGE NATIVE_BUILD [SCREENSHOT]');
const root = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const work = mkdtempSync(join(tmpdir(), 'aifconv-web-test-'));
process.on('exit', () => rmSync(work, {recursive: true, force: true}));

// The selection: three files for the multi-file picker, and a folder (with a
// folder inside) for the folder picker. What each must show, beyond being
// the native converter's exact result: its status and a line it prints.
const corpus = join(work, 'corpus');
mkdirSync(corpus);
execFileSync(join(nativeBuild, 'fuzz/make_corpus'), [corpus]);
writeFileSync(join(corpus, 'notes.txt'), 'Liner notes of the disc, not a sound file.\n');
// Files made here: a chunk identifier holding markup; an empty file; an
// ima4 input larger than one read window of the worker (16 MiB) whose
// output is larger than one staging Blob (32 MiB), stereo, its left channel
// silent (the waveform of a long output, drawn from a sample, sees both),
// with a chunk after its sound data (the converter reads it, in the second
// window, then goes back to the sound).
mkdirSync(join(work, 'made'));
writeFileSync(join(work, 'made/markup'), aifc('sowt', 1, 4, Buffer.alloc(8, 7), Buffer.from('<b>&\x00\x00\x00\x02ab', 'latin1')));
writeFileSync(join(work, 'made/empty'), '');
const big = Buffer.alloc(262144 * 68);
for (let i = 0, x = 1; i < big.length; i++) big[i] = i % 68 < 34 ? 0 : (x = (Math.imul(x, 1103515245) + 12345) >>> 0) >>> 16;
writeFileSync(join(work, 'made/big-ima4'), aifc('ima4', 2, 262144, fixIma4(big), Buffer.from('NAME\0\0\0\x06Disc 2', 'latin1')));
const files = join(work, 'files');
const folder = join(work, 'archive');
mkdirSync(files);
mkdirSync(join(folder, 'disc 2'), {recursive: true});
const cases = [
  // picked one by one: [path in the selection, source, status, a line of its messages]
  ['tone-sowt.aifc', 'examples/tone-sowt.aifc', 0, null],                      // sowt, mono
  ['tone-ima4.aifc', 'examples/tone-ima4.aifc', 0, null],                      // ima4, stereo
  ['tone-sdx2.aifc', 'examples/tone-sdx2.aifc', 0, null],                      // SDX2, mono
  // the folder
  ['archive/ima4-mono', 'corpus/ok-ima4-mono', 0, null],
  ['archive/disc 2/sdx2-stereo', 'corpus/ok-sdx2-stereo', 0, null],
  ['archive/disc 2/ima4-stereo.aiff', 'corpus/ok-ima4-stereo', 0, null],
  ['archive/unhandled-and-name', 'corpus/ok-unhandled-and-name', 0, 'warning: unhandled chunk NAME (size=3)'],
  ['archive/fractional-rate', 'corpus/ok-fractional-rate', 0, 'warning, freq = '],
  ['archive/disc 2/markup', 'made/markup', 0, 'warning: unhandled chunk <b>& (size=2)'],
  ['archive/truncated-ssnd', 'corpus/ok-truncated-ssnd', 0,
   'warning - bad size in SSND, the output file will probably be wrong'],
  // ... and the plain sentence beside it
  ['archive/plain-aiff', 'corpus/refused-plain-aiff', 1, 'only AIFC handled', 'This is a plain AIFF file'],
  ['archive/disc 2/three-channels', 'corpus/refused-three-channels', 1, 'only 1 or 2 channels handled', 'has 3 channels'],
  ['archive/truncated-sdx2', 'corpus/refused-truncated-sdx2', 1, "archive/truncated-sdx2: bad sound file, can't load", 'not AIFF-C'],
  ['archive/notes.txt', 'corpus/notes.txt', 1, "archive/notes.txt: bad sound file, can't load", 'not AIFF-C'],
  ['archive/empty', 'made/empty', 1, 'no COMM chunk found', 'This file is empty'],
];
const source = (from) => (/^(corpus|made)\//.test(from) ? join(work, from) : join(root, from));
for (const [name, from] of [...cases, ['big-ima4.aifc', 'made/big-ima4']]) {
  cpSync(source(from), name.startsWith('archive/') ? join(work, name) : join(files, name));
}
// What a Mac leaves beside the files: skipped, neither converted nor rows.
// (A file chosen alone has no folder: __MACOSX only in a folder.)
const macFiles = ['archive/._ima4-mono', 'archive/.DS_Store', 'archive/__MACOSX/disc 2/markup'];
mkdirSync(join(folder, '__MACOSX/disc 2'), {recursive: true});
for (const name of macFiles) cpSync(source(name.endsWith('markup') ? 'made/markup' : 'corpus/notes.txt'), join(work, name));

// The native converter on a file, run where the path the page shows for it
// is relative, as the page names it.
const expected = new Map();
const scratch = join(work, 'native');
function native(name, from) {
  if (expected.has(name)) return expected.get(name);
  rmSync(scratch, {recursive: true, force: true});
  mkdirSync(dirname(join(scratch, name)), {recursive: true});
  cpSync(source(from), join(scratch, name));
  const run = spawnSync(join(nativeBuild, 'aifconv'), [name, name + '.wav'], {cwd: scratch});
  const wav = existsSync(join(scratch, name + '.wav')) ? readFileSync(join(scratch, name + '.wav')) : null;
  expected.set(name, {status: run.status, stderr: run.stderr.toString(), wav});
  return expected.get(name);
}
for (const [name, from, status, line] of cases) {
  const e = native(name, from);
  assert.equal(e.status, status, `native status of ${name}`);
  if (line) assert.ok(e.stderr.includes(line), `native messages of ${name}: ${e.stderr}`);
  assert.equal(e.wav !== null, status === 0, `native output of ${name}`);
}

// Stored ZIP entries, from the central directory: name -> bytes, CRC checked.
function unzip(zip) {
  const entries = new Map();
  let end = zip.length - 22;
  while (end >= 0 && zip.readUInt32LE(end) !== 0x06054b50) end--;
  assert.ok(end >= 0, 'ZIP: no end of central directory');
  let at = zip.readUInt32LE(end + 16);
  const count = zip.readUInt16LE(end + 10);
  for (let i = 0; i < count; i++) {
    assert.equal(zip.readUInt32LE(at), 0x02014b50, 'ZIP: central directory entry');
    const method = zip.readUInt16LE(at + 10);
    const crc = zip.readUInt32LE(at + 16);
    const size = zip.readUInt32LE(at + 20);
    const nameLength = zip.readUInt16LE(at + 28), extraLength = zip.readUInt16LE(at + 30);
    const commentLength = zip.readUInt16LE(at + 32);
    const local = zip.readUInt32LE(at + 42);
    const name = zip.toString('utf8', at + 46, at + 46 + nameLength);
    assert.equal(method, 0, `ZIP: ${name} is stored`);
    const data = local + 30 + zip.readUInt16LE(local + 26) + zip.readUInt16LE(local + 28);
    const bytes = zip.subarray(data, data + size);
    assert.equal(crc32(bytes), crc, `ZIP: CRC of ${name}`);
    entries.set(name, bytes);
    at += 46 + nameLength + extraLength + commentLength;
  }
  return entries;
}

// The static server. It is also Chromium's proxy for every other address,
// so any request from the page or its worker to anywhere else arrives here
// too; every request it sees is recorded.
const seen = [];
const server = createServer((request, response) => {
  seen.push(`${request.method} ${request.url}`);
  if (request.url.split('?')[0] !== '/aifconv.html') return response.writeHead(404).end();
  response.writeHead(200, {'content-type': 'text/html; charset=utf-8'}).end(readFileSync(pagePath));
});
server.on('connect', (request, socket) => { seen.push(`CONNECT ${request.url}`); socket.destroy(); });
await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
// Every address carries ?budget=: the page then keeps at most that many
// bytes of WAVs in memory, which the selection's WAVs cross.
const budget = 6000;
const served = `http://127.0.0.1:${server.address().port}/aifconv.html?budget=${budget}`;

const launches = {
  chromium: (extra = []) => launchChromium(work, [...extra, `--proxy-server=127.0.0.1:${server.address().port}`]),
  firefox: () => puppeteer.launch({browser: 'firefox', executablePath: '/usr/bin/firefox-esr', headless: true,
                                   protocolTimeout: 90000}),
  webkit: () => launchWebKit(),
};

// Bytes of a blob: URL of the page, read inside the page.
async function bytesOf(page, url) {
  const base64 = await page.evaluate(async (href) => {
    const bytes = new Uint8Array(await (await fetch(href)).arrayBuffer());
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }, url);
  return Buffer.from(base64, 'base64');
}
const sha = (bytes) => createHash('sha256').update(bytes).digest('hex');
// SHA-256 of a blob: URL's bytes (or, with no URL, of every file of the
// origin-private folder, by path; refused.txt as its text), in the page.
const digests = (page, url) => page.evaluate(async (href) => {
  const hex = async (blob) => [...new Uint8Array(await crypto.subtle.digest('SHA-256', await blob.arrayBuffer()))]
    .map((b) => b.toString(16).padStart(2, '0')).join('');
  if (href) return hex(await (await fetch(href)).blob());
  const out = {}, walk = async (dir, prefix) => { for await (const [name, handle] of dir.entries()) {
    if (handle.kind === 'directory') await walk(handle, `${prefix}${name}/`);
    else out[prefix + name] = name === 'refused.txt' ? await (await handle.getFile()).text() : await hex(await handle.getFile());
  } };
  return walk(await navigator.storage.getDirectory(), '').then(() => out);
}, url);

// The waveform the page must draw from a WAV: per column of 120, the min
// and max of its samples (and 0), on a 32 px scale.
function waveform(wav) {
  const count = wav.readUInt32LE(40) / 2, per = Math.max(1, Math.ceil(count / 120));
  let path = '';
  for (let c = 0; c * per < count; c++) {
    let low = 0, high = 0;  // (a long file's column is too many for Math.min's arguments)
    for (let k = c * per, v; k < Math.min(count, (c + 1) * per); k++) low = Math.min(low, v = wav.readInt16LE(44 + 2 * k)), high = Math.max(high, v);
    const top = Math.floor((32767 - high) * 32 / 65536);
    path += `M${c}.5 ${top}V${Math.max(top + 1, Math.ceil((32767 - low) * 32 / 65536))}`;
  }
  return path;
}

// What the page shows of a batch (and how many workers Cancel left busy).
const stateOf = (page) => page.evaluate(() => {
  const $ = (selector) => document.querySelector(selector), summary = $('#summary');
  return {data: {...summary.dataset}, sentence: summary.textContent, news: $('#news').textContent, skipped: $('#skipped').textContent,
          label: $('#progress-label').textContent, bar: [$('#progress').value, $('#progress').max], focus: document.activeElement.id,
          busy: window.busyAfterCancel ?? null};  // workers busy right after Cancel
});

// The page's workers watched: window.busyWorkers holds those given a file
// that have neither answered nor been ended; the one given the file named
// window.loseOne reports its converter lost (the note: 'lost'), and
// window.lostEnded says whether the page then ended it.
function watchWorkers() {
  const busy = window.busyWorkers = new Set();
  window.Worker = class extends Worker {
    constructor(...args) {
      super(...args);
      this.addEventListener('message', ({data}) => data.type === 'done' && busy.delete(this) && this.job === window.loseOne &&
        (this.lost = Object.assign(data, {status: 1, wav: null, picture: null, lost: true, notes: ['lost']})));
    }
    postMessage(message, ...rest) { if (message.type === 'convert') busy.add(this), this.job = message.name; super.postMessage(message, ...rest); }
    terminate() { busy.delete(this), window.lostEnded ||= Boolean(this.lost); super.terminate(); }
  };
}

async function check(browserName, address) {
  const what = `${browserName} ${address.split(':')[0]}`;
  const browser = await launches[browserName]();
  const problems = [];
  try {
    seen.length = 0;
    const page = await browser.newPage();
    await page.setViewport({width: 900, height: 1200});
    const requests = [];
    page.on('request', (request) => requests.push(request.url()));  // (not in WebKit's WebDriver)
    page.on('console', (message) => { if (message.type() === 'error') problems.push(`console: ${message.text()}`); });
    page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    await page.goto(address);
    const [buttonShown, picker] = await page.$eval('button#output-folder', (b) => [b.offsetParent !== null, typeof showDirectoryPicker === 'function']);
    assert.equal(buttonShown, picker, `${what}: the folder button shown only with a folder picker`);
    await page.evaluate(watchWorkers);

    // Firefox's WebDriver BiDi cannot set a folder on a file input
    // (input.setFiles takes files only): there every file goes through the
    // multi-file picker, and the page names each by its own name.
    const path = (name) => join(name.startsWith('archive/') ? work : files, name);
    const viaFolder = browserName === 'chromium';
    // Where the WAVs go: from 127.0.0.1, a folder, the origin-private file
    // system standing in for the one showDirectoryPicker would give (in it
    // beforehand, a WAV cut short whose RIFF header is that of a finished
    // one: converted again; the write of another fails late, after its
    // temporary file exists). From file://, what the page finds: Firefox's
    // private file system; Chromium has none there, so when the budget is
    // crossed it asks where the WAVs go and is given one ZIP file (a
    // stand-in for showSaveFilePicker, keeping what is written); WebKitGTK
    // under WebDriver has neither, so the memory, in parts.
    await page.waitForSelector('body[data-store]');
    const blocked = viaFolder ? 'disc 2/sdx2-stereo.wav' : 'sdx2-stereo.wav';
    const toFolder = address === served && await page.evaluate(() => document.body.dataset.store === 'private');
    if (toFolder) {
      const cut = Buffer.from(native('tone-sowt.aifc', 'examples/tone-sowt.aifc').wav.subarray(0, 100));
      cut.writeUInt32LE(92, 4);
      await page.evaluate(async (blockedName, cutBytes) => {
        const root = window.root = await navigator.storage.getDirectory();
        for await (const name of root.keys()) await root.removeEntry(name, {recursive: true});
        const w = await (await root.getFileHandle('tone-sowt.aifc.wav', {create: true})).createWritable();
        await w.write(new Uint8Array(cutBytes));
        await w.close();
        const create = FileSystemFileHandle.prototype.createWritable, write = FileSystemWritableFileStream.prototype.write;
        const sleep = (ms) => new Promise((ok) => setTimeout(ok, ms));
        window.failWrite = true;
        FileSystemFileHandle.prototype.createWritable = async function (...args) {
          const writable = await create.apply(this, args);
          if (window.failWrite && this.name === `${blockedName}.aifconv-partial`) {
            writable.write = async () => { await sleep(500); throw new DOMException('a stand-in', 'InvalidStateError'); };
          } else if (window.holdBig && this.name.startsWith('big-ima4')) {
            writable.write = async (data) => { await new Promise((ok) => { window.releaseBig = ok; }); return write.call(writable, data); };
          }
          return writable;
        };
        window.showDirectoryPicker = async () => root;
        document.querySelector('button#output-folder').click();
      }, blocked.split('/').pop(), [...cut]);
      await page.waitForSelector('body[data-output="folder"]');
    } else if (browserName === 'chromium') {
      await page.evaluate(() => {
        window.zips = [];  // each ZIP file written: its Blobs, then 'closed' or 'aborted'
        window.showSaveFilePicker = async () => ({name: 'test.zip', createWritable: async () => {
          const zip = [];
          window.zips.push(zip);
          return {write: async (data) => { zip.push(new Blob([data])); }, close: async () => { zip.end = 'closed'; },
                  abort: async () => { zip.end = 'aborted'; }};
        }});
      });
    }
    let store = toFolder ? 'folder' : await page.evaluate(() => document.body.dataset.store);
    const parts = [];  // the bytes of each a.zip-part saved while converting
    const picked = cases.filter(([name]) => !viaFolder || !name.startsWith('archive/')).map(([name]) => path(name));
    const skipped = macFiles.filter((name) => viaFolder || !name.includes('__MACOSX/')).map((name) => (viaFolder ? name : name.split('/').pop()));
    // Until n rows are done: the memory full, the page offers a part, saved
    // here (read, then clicked), or asks where the WAVs go (then one ZIP
    // file is chosen).
    const settle = async (n) => {
      for (const until = Date.now() + 60000; Date.now() < until;) {
        const state = await page.evaluate((n) => document.body.dataset.idle === 'true' &&
          document.querySelectorAll('.result[data-status]').length >= n ? 'done'
          : document.body.dataset.paused === 'part' && document.querySelector('a.zip-part[href]:not(#zip-file)') ? 'part'
          : document.body.dataset.paused ?? '', n);
        if (state === 'done') return;
        if (state === 'part') {
          parts.push(unzip(await bytesOf(page, await page.$eval('a.zip-part[href]:not(#zip-file)', (a) => a.href))));
          assert.equal(await page.$eval('a.zip-part[href]:not(#zip-file)', (a) => a.download), `aifconv-part-${parts.length}.zip`);
          await page.$eval('a.zip-part[href]:not(#zip-file)', (a) => a.click());
          await page.waitForFunction((n) => document.querySelectorAll('a.zip-part:not([href])').length === n, {}, parts.length);
        } else if (state === 'ask') {
          await page.click('button#output-zip');
          await page.waitForSelector('body:not([data-paused])');
          store = 'zip-file';
        }
        await page.evaluate(() => new Promise((ok) => setTimeout(ok, 50)));
      }
      throw new Error(`${what}: ${n} rows not done in 60 s`);
    };
    const choose = async () => {
      await (await page.$('input#files')).uploadFile(...picked, ...(viaFolder ? [] : skipped.map((name) => join(folder, name))));
      if (viaFolder) await (await page.$('input#folder')).uploadFile(folder);
      await settle(cases.length);
      return page.$$eval('.result', (list) => list.map((row) => ({
        name: row.dataset.name, status: row.dataset.status, state: row.querySelector('.state').textContent,
        messages: row.querySelector('.messages').textContent, markup: row.querySelector('.messages *') !== null,
        report: [...row.querySelectorAll('.hint, .notes, .report')].map((e) => e.textContent),
        hint: row.querySelector('.hint').textContent, notes: row.querySelector('.notes').textContent,
        href: row.querySelector('a.wav[download]')?.href ?? null, download: row.querySelector('a.wav')?.download,
        play: row.querySelector('button.play') !== null, audio: row.querySelector('audio') !== null,
        picture: row.querySelector('.output img')?.src ?? null, where: row.querySelector('.output span')?.textContent ?? null,
      })));
    };
    const rows = await choose();
    const shown = new Map(cases.map(([name, from]) => [viaFolder ? name : name.split('/').pop(), from]));
    const hints = new Map(cases.map(([name, , , , hint]) => [viaFolder ? name : name.split('/').pop(), hint]));
    const outputName = (name) => name.slice(name.indexOf('/') + 1) + '.wav';
    assert.deepEqual(rows.map((r) => r.name).sort(), [...shown.keys()].sort(), `${what}: one row per file`);
    const wanted = {converted: 0, warned: 0, refused: 0, cancelled: 0, lost: 0, waiting: 0};
    let refusedText = '';
    for (const row of rows) {
      const e = native(row.name, shown.get(row.name));
      const failed = toFolder && outputName(row.name) === blocked;  // its write fails: refused, with a note
      const status = failed ? 1 : e.status;
      wanted[status ? 'refused' : e.stderr ? 'warned' : 'converted']++;
      if (failed) assert.match(row.notes, /^The browser could not write .* in the output folder \(\w+\)/, `${what}: failed write`);
      if (status) refusedText += `${row.name}\n` + `${e.stderr}${row.notes && row.notes + '\n'}`.replace(/^(.*)\n/gm, '    $1\n');
      assert.equal(row.status, String(status), `${what}: status of ${row.name}`);
      // The plain sentence first; then the converter's lines, word for word, as its report.
      assert.deepEqual([row.messages, row.report[2]], [e.stderr, `The converter's report:${e.stderr}`], `${what}: messages of ${row.name}`);
      assert.ok(!row.markup, `${what}: messages of ${row.name} as text`);
      assert.ok(failed ? row.hint === '' : row.report[0].includes(hints.get(row.name) ?? '\0') === (status === 1), `${what}: the plain sentence beside ${row.name}`);
      assert.equal(row.picture !== null, status === 0, `${what}: picture of ${row.name}`);
      assert.equal(row.play, status === 0 && (row.href !== null || store === 'folder'), `${what}: Play of ${row.name}`);
      // A WAV is kept by the page (a download), or its row says where it went.
      const inPart = /^in aifconv-part-\d+\.zip \(/.test(row.where);
      assert.equal(row.href !== null, status === 0 && /private|memory/.test(store) && !inPart, `${what}: a WAV kept in the page for ${row.name}`);
      if (status === 0 && row.href === null) {
        assert.match(row.where, {folder: /^in the folder \(/, 'zip-file': /^in test\.zip \(/, memory: /^in aifconv-part-\d+\.zip \(/}[store],
                     `${what}: where the WAV of ${row.name} went`);
      }
      assert.ok(!row.audio, `${what}: no player before one is asked for`);
      if (status) continue;
      const svg = decodeURIComponent(row.picture.slice(row.picture.indexOf(',') + 1));
      assert.equal(svg.match(/ d="([^"]*)"/)[1], waveform(e.wav), `${what}: waveform of ${row.name}`);
      if (row.href === null) continue;
      assert.equal(row.download, row.name.split('/').pop() + '.wav', `${what}: download name of ${row.name}`);
    }
    // The summary, its sentence announced at the end, the Mac's files skipped; the bar full, at the bytes of all the files.
    const sentence = `${wanted.converted} converted, ${wanted.warned} converted with warnings, ${wanted.refused} refused, 0 cancelled, 0 waiting`;
    const total = [...shown.values()].reduce((sum, from) => sum + statSync(source(from)).size, 0);
    const {label, focus, busy, ...state} = await stateOf(page);
    assert.deepEqual(state, {data: Object.fromEntries(Object.entries({...wanted, skipped: skipped.length}).map(([k, v]) => [k, String(v)])),
      sentence, news: `Finished: ${sentence}.`, skipped: `${skipped.length} skipped: Mac file-system metadata${skipped.sort().join('\n')}`,
      bar: [total, total]}, `${what}: summary`);
    // The filter shows only the refused rows, or only those with warnings.
    const filter = (value) => page.evaluate((v) => {
      Object.assign(document.querySelector('#filter'), {value: v}).dispatchEvent(new Event('change'));
      return [...document.querySelectorAll('.result')].filter((row) => row.offsetParent !== null).map((row) => row.dataset.name);
    }, value);
    assert.deepEqual(await filter('refused'), rows.filter((r) => r.status === '1').map((r) => r.name), `${what}: refused only`);
    assert.deepEqual(await filter('warned'), rows.filter((r) => r.status === '0' && r.messages).map((r) => r.name), `${what}: warned only`);
    assert.equal((await filter('all')).length, rows.length, `${what}: all rows`);
    console.log(`${what}: results checked`);
    // Each row's player, made when asked for, loads its WAV (read back from
    // the folder there): duration = frames / rate of the header. Three
    // players at most exist at a time; a new one has the focus. (WebKit's
    // player, GStreamer's, neither loads nor refuses a WAV without frames:
    // those are not asked there.)
    const unasked = browserName !== 'webkit' ? [] : rows.filter((row) => expected.get(row.name).wav?.readUInt32LE(40) === 0);
    const durations = await page.$$eval('.result button.play', async (buttons, skip) => {
      const out = [];
      for (const play of buttons) {
        const row = play.closest('.result');
        if (skip.includes(row.dataset.name)) continue;
        play.click();
        for (let i = 0; i < 300 && !row.querySelector('audio'); i++) await new Promise((ok) => setTimeout(ok, 10));
        const audio = row.querySelector('audio');
        // (Once more after an error: headless Firefox, loaded, now and then
        // fails to decode a WAV it reads right on the next load.)
        for (let tries = 0; tries < 2 && (audio.readyState < 1 || tries === 1); tries++) {
          await new Promise((ok, fail) => {
            audio.onloadedmetadata = audio.onerror = ok;
            setTimeout(() => fail(new Error(`${row.dataset.name}: no metadata (readyState ${audio.readyState})`)), 15000);
            audio.load();  // a browser may put off a player's preload
          });
          if (!audio.error) break;
        }
        out.push([row.dataset.name, audio.error ? `error ${audio.error.code}` : audio.duration,
                  document.querySelectorAll('audio').length, document.activeElement === audio]);
      }
      return out;
    }, unasked.map((row) => row.name));
    for (const [i, [name, duration, players, focused]] of durations.entries()) {
      const wav = expected.get(name).wav;
      const seconds = wav.readUInt32LE(40) / wav.readUInt16LE(32) / wav.readUInt32LE(24);
      assert.deepEqual([players, focused], [Math.min(i + 1, 3), true], `${what}: players, and the focus, after playing ${name}`);
      // A WAV without frames: Firefox's player refuses it (no media), Chromium's shows 0 s.
      if (seconds === 0 && browserName === 'firefox' && duration === 'error 4') continue;
      assert.ok(Math.abs(duration - seconds) < 0.002, `${what}: duration of ${name}: ${duration} s, not ${seconds} s`);
    }
    // (the players gone have left the downloads as they were)
    for (const row of rows) if (row.href) assert.equal(await digests(page, row.href), sha(expected.get(row.name).wav), `${what}: WAV bytes of ${row.name}`);

    if (toFolder) {
      // The folder: every WAV the native converter makes, at its path with
      // .wav, refused.txt, and nothing else (no temporary file left).
      const written = await digests(page);
      const want = {'refused.txt': refusedText};
      for (const row of rows) if (row.status === '0') want[outputName(row.name)] = sha(expected.get(row.name).wav);
      assert.deepEqual(Object.keys(written).sort(), Object.keys(want).sort(), `${what}: files in the folder`);
      for (const [name, value] of Object.entries(written)) assert.equal(value, want[name], `${what}: ${name} in the folder`);
      // Resume: the same selection again converts only what is not there.
      await page.evaluate(() => { window.failWrite = false; document.querySelector('button#clear').click(); });
      for (const row of await choose()) {
        const state = row.status === '1' ? 'refused' : outputName(row.name) === blocked ? 'converted' : 'already converted';
        assert.equal(row.state, state, `${what}: resume of ${row.name}`);
      }
      assert.equal((await digests(page))[blocked], sha(expected.get(rows.find((r) => outputName(r.name) === blocked).name).wav),
                   `${what}: ${blocked} after the resume`);
    } else {
      // Every converted file's WAV once: in the parts saved while converting
      // and Download all's ZIP of the rest, or in the chosen ZIP file. Kept
      // by the page, the same files chosen again are "(2)" in the ZIP; and a
      // WAV that no longer reads back (a stand-in for a read that fails) is
      // named and counted, the ZIP made of the rest.
      const outputs = [...shown].filter(([name, from]) => native(name, from).wav).map(([name]) => name + '.wav');
      let last = [], lost = [];
      if (store === 'zip-file') {
        await page.waitForFunction(() => window.zips.every((zip) => zip.end === 'closed') &&
          document.querySelector('#zip-status').dataset.state === 'done');
        for (let i = 0; i < await page.evaluate(() => window.zips.length); i++) {
          parts.push(unzip(await bytesOf(page, await page.evaluate((k) => URL.createObjectURL(new Blob(window.zips[k])), i))));
        }
      } else {
        await (await page.$('input#files')).uploadFile(path('tone-sdx2.aifc'), path('tone-sowt.aifc'));
        await settle(cases.length + 2);
        outputs.push('tone-sdx2.aifc (2).wav', 'tone-sowt.aifc (2).wav');
        await page.evaluate(() => {
          const read = Blob.prototype.arrayBuffer;
          let reads = 0;
          Blob.prototype.arrayBuffer = function () {
            return reads++ ? read.call(this) : Promise.reject(new DOMException('a stand-in', 'NotReadableError'));
          };
          window.restoreRead = () => { Blob.prototype.arrayBuffer = read; };
          document.querySelector('button#zip').click();
        });
        await page.waitForSelector('a#zip-file[href^="blob:"]');
        await page.evaluate(() => window.restoreRead());
        last = unzip(await bytesOf(page, await page.$eval('a#zip-file', (a) => a.href)));
        lost = await page.$$eval('.result', (list) => list.filter((row) => row.querySelector('.state').textContent === 'WAV lost')
          .map((row) => [row.dataset.name, row.querySelector('.notes').textContent]));
        assert.equal(lost.length, 1, `${what}: a WAV lost`);
        assert.match(lost[0][1], /^The browser can no longer read this file's WAV \(NotReadableError\): it is not in the ZIP file\./m);
        assert.ok((await page.$$eval('.result .notes', (list) => list.map((n) => n.textContent))).some((notes) =>
          notes.includes('In the ZIP file as “tone-sowt.aifc (2).wav”: an earlier file has the same name.')), `${what}: a taken name`);
        assert.ok((await page.$eval('#zip-status', (s) => s.textContent)).startsWith(
          `Not in the ZIP file: the WAV files of 1 files could no longer be read (${lost[0][0]});`), `${what}: what the ZIP lacks`);
        assert.equal(await page.$eval('#summary', (s) => s.dataset.lost), '1', `${what}: summary of a WAV lost`);
        assert.deepEqual(await page.$$eval('a.zip-part', (list) => list.map((a) => a.download)), [...parts.map((_, i) =>
          `aifconv-part-${i + 1}.zip`), parts.length ? `aifconv-part-${parts.length + 1}.zip` : 'aifconv.zip'], `${what}: parts`);
      }
      assert.ok(store !== 'memory' || parts.length > 0, `${what}: the memory's budget crossed`);
      const entries = [...parts, last].flatMap((zip) => [...zip]);
      const lostEntries = lost.map(([name, notes]) => /In the ZIP file as “(.*)”/.exec(notes)?.[1] ?? `${name}.wav`);
      assert.deepEqual([...entries.map(([name]) => name), ...lostEntries].sort(), outputs.sort(), `${what}: ZIP entries`);
      for (const [entry, bytes] of entries) {
        assert.ok(bytes.equals(expected.get(entry.replace(/( \(\d+\))?\.wav$/, '')).wav), `${what}: ZIP bytes of ${entry}`);
      }
    }

    if (screenshot && browserName === 'chromium' && address.startsWith('file:')) {
      await page.setViewport({width: 820, height: 1500});  // (rows out of sight are not painted)
      await page.screenshot({path: screenshot});
    }
    // Clear hands the focus to the file picker. Cancel as soon as files are
    // chosen again (a listener after the page's own; the page's clock fast, so
    // that each update makes one row and the page must go on by itself): the
    // workers with a file ended at once; every row cancelled and counted so,
    // the bar empty, its label saying so, the focus on Clear; a second later
    // still nothing converted.
    await page.click('button#clear');
    assert.equal(await page.evaluate(() => document.activeElement.id), 'files', `${what}: the focus after Clear`);
    await page.evaluate(() => {
      const now = performance.now.bind(performance), at = [0];
      performance.now = () => now() + 26 * at[0]++;
      document.querySelector('input#files').addEventListener('change', () => {
        document.querySelector('button#cancel').focus();
        document.querySelector('button#cancel').click();
        window.busyAfterCancel = busyWorkers.size;
      }, {once: true});
    });
    await (await page.$('input#files')).uploadFile(...picked);
    await page.waitForSelector('body[data-idle="true"]');
    await page.evaluate(() => new Promise((ok) => setTimeout(ok, 1000)).then(() => delete performance.now));
    const afterCancel = await page.$$eval('.result', (list) => list.map((row) =>
      [row.dataset.status ?? null, row.dataset.cancelled ?? null, row.querySelector('.notes').textContent]));
    assert.equal(afterCancel.length, picked.length, `${what}: rows after Cancel`);
    for (const row of afterCancel) assert.deepEqual(row, [null, 'true', 'Cancelled: not converted.'], `${what}: a row after Cancel`);
    const n = picked.length, cancelled = `0 converted, 0 converted with warnings, 0 refused, ${n} cancelled, 0 waiting`;
    const {data, skipped: ignored, ...after} = await stateOf(page);
    assert.deepEqual({...after, cancelled: data.cancelled}, {sentence: cancelled, news: `Cancelled: ${cancelled}.`, busy: 0, focus: 'clear',
      label: `0 of ${n} files, ${n} cancelled, 0 B of 0 B`, bar: [0, 1], cancelled: String(n)}, `${what}: summary, workers and bar after Cancel`);
    if (toFolder) {  // Cancel while the big file's WAV is written: nothing of it in the folder
      await page.evaluate(() => { window.holdBig = true; });
      await (await page.$('input#files')).uploadFile(path('big-ima4.aifc'));
      await page.waitForFunction(() => window.releaseBig, {timeout: 60000});
      await page.click('button#cancel');
      await page.evaluate(() => { window.holdBig = false; window.releaseBig(); });
      await page.waitForSelector('body[data-idle="true"]');
      await page.evaluate(() => new Promise((ok) => setTimeout(ok, 500)));
      assert.ok(!Object.keys(await digests(page)).some((name) => name.startsWith('big-ima4')), `${what}: a WAV after Cancel`);
    }
    // A new choice: the worker given notes.txt reports its converter lost, and
    // is ended; big-ima4.aifc converts, its waveform seeing both channels.
    await page.click('button#clear');
    await page.evaluate(() => { window.loseOne = 'notes.txt'; });
    const again = [path('big-ima4.aifc'), join(folder, 'notes.txt')];
    await (await page.$('input#files')).uploadFile(...again);
    await page.waitForFunction((n) => document.body.dataset.idle === 'true' &&
      document.querySelectorAll('.result[data-status]').length === n, {timeout: 60000}, again.length);
    const bigRun = native('big-ima4.aifc', 'made/big-ima4'), big = bigRun.wav;
    const [lost, status, messages, picture] = await page.evaluate((row) => [[...document.querySelectorAll('.notes')].filter((p) => p.textContent === 'lost')
      .length + (window.lostEnded ? ', ended' : ''), document.querySelector(row).dataset.status,
      document.querySelector(`${row} .messages`).textContent, document.querySelector(`${row} img`).src], '.result[data-name="big-ima4.aifc"]');
    assert.deepEqual([lost, status, messages, decodeURIComponent(picture).match(/ d="([^"]*)"/)[1]], ['1, ended', '0', bigRun.stderr, waveform(big)],
                     `${what}: a lost converter; big-ima4.aifc after Cancel, its messages and waveform`);
    assert.equal(toFolder ? (await digests(page))['big-ima4.aifc.wav']
      : await digests(page, await page.$eval('.result[data-name="big-ima4.aifc"] a.wav', (a) => a.href)), sha(big), `${what}: WAV bytes after Cancel`);
    if (browserName === 'webkit' && address !== served) {
      // The page hands the worker each file's bytes here: a file it cannot
      // read then (a stand-in: one that went away after it was chosen) is
      // refused with a note, and the batch goes on to its end.
      await page.click('button#clear');
      await page.evaluate(() => {
        const slice = Blob.prototype.slice;
        File.prototype.slice = function(...range) {
          const part = slice.apply(this, range);
          if (this.name === 'tone-sdx2.aifc') part.arrayBuffer = () => Promise.reject(new DOMException('gone', 'NotReadableError'));
          return part;
        };
      });
      await (await page.$('input#files')).uploadFile(path('tone-sdx2.aifc'), path('tone-sowt.aifc'));
      await page.waitForFunction(() => document.body.dataset.idle === 'true' &&
        document.querySelectorAll('.result[data-status]').length === 2, {timeout: 20000});
      assert.deepEqual(await page.$$eval('.result', (list) => list.map((row) => [row.dataset.status, row.querySelector('.notes').textContent])),
                       [['1', 'The browser could not read this file (NotReadableError).'], ['0', '']], `${what}: a file unreadable while handed over`);
    }

    if (store === 'private') {
      // A page that opens removes the directories of pages closed (their
      // lock free), never one of a page still open.
      const dirs = () => page.evaluate(async () => {
        const names = [];
        for await (const name of (await navigator.storage.getDirectory()).keys()) names.push(name);
        return names.sort();
      });
      const open = await dirs();
      assert.equal(open.filter((name) => name.startsWith('aifconv-page-')).length, 1, `${what}: this page's directory`);
      await page.evaluate(async () => (await navigator.storage.getDirectory()).getDirectoryHandle('aifconv-page-closed', {create: true}));
      const other = await browser.newPage();
      await other.goto(address);
      await other.waitForSelector('body[data-store="private"]');
      assert.deepEqual(await dirs(), open, `${what}: the private file system after another page opened`);
      await other.close();
      // Little room on disk (a stand-in for navigator.storage.estimate): the
      // WAVs that fit are kept, the page says so, the rest are not converted.
      const room = 12000;
      await page.click('button#clear');
      await page.evaluate((q) => { navigator.storage.estimate = async () => ({quota: q, usage: 0}); }, room);
      await (await page.$('input#files')).uploadFile(...picked);
      await page.waitForFunction((n) => document.body.dataset.idle === 'true' &&
        document.querySelectorAll('.result[data-status], .result[data-cancelled]').length === n, {timeout: 60000}, picked.length);
      assert.match(await page.$eval('#output-name', (p) => p.textContent), /^This browser lets the page keep 12 KiB of files on this computer, .* in use: the WAV files converted so far fit, the rest do not\./);
      const after = await page.$$eval('.result', (list) => list.map((row) => [row.dataset.name, row.dataset.status ?? null,
        row.querySelector('a.wav') !== null, row.querySelector('.notes').textContent]));
      const keptBytes = after.filter(([, , kept]) => kept).reduce((sum, [name]) => sum + native(name, shown.get(name)).wav.length, 0);
      assert.ok(keptBytes > 0 && keptBytes <= room, `${what}: ${keptBytes} bytes kept in ${room}`);
      assert.ok(after.some(([, status, , notes]) => status === null && notes === 'Not converted: the browser has no room left for its WAV file.'), `${what}: not converted for want of room`);
      for (const [name, status, kept] of after) assert.ok(status !== '0' || kept, `${what}: ${name} converted, its WAV kept`);
      // A write of the worker's that fails (a stand-in for the synchronous
      // file's write, failing past 1,000 bytes): that file is refused, its
      // WAV not kept; a smaller one is converted.
      await page.goto(address);
      await page.waitForSelector('body[data-store="private"]');
      await page.evaluate(() => {
        const RealWorker = window.Worker;
        window.Worker = function (url) {
          return new RealWorker(URL.createObjectURL(new Blob([`const write = FileSystemSyncAccessHandle.prototype.write;
            FileSystemSyncAccessHandle.prototype.write = function (bytes, options) {
              if (options.at + bytes.length > 1000) throw new DOMException('a stand-in', 'QuotaExceededError');
              return write.call(this, bytes, options);
            };
            importScripts(${JSON.stringify(url)});`], {type: 'text/javascript'})));
        };
      });
      await (await page.$('input#files')).uploadFile(path('tone-ima4.aifc'), path('archive/ima4-mono'));
      await page.waitForFunction(() => document.body.dataset.idle === 'true' &&
        document.querySelectorAll('.result[data-status]').length === 2, {timeout: 60000});
      assert.deepEqual(await page.$$eval('.result', (list) => list.map((row) => [row.dataset.name, row.dataset.status,
        row.querySelector('.notes').textContent.split('\n').pop(), row.querySelector('a.wav') !== null])),
      [['ima4-mono', '0', '', true],
       ['tone-ima4.aifc', '1', "The browser could not write this file's WAV (QuotaExceededError); nothing was kept.", false]],
      `${what}: a write that fails in the worker`);
      assert.equal(await digests(page, await page.$eval('a.wav', (a) => a.href)), sha(expected.get('ima4-mono').wav), `${what}: the WAV written`);
    }

    // Only the page itself is loaded, and blob: (its worker, outputs) or
    // data: (the pictures, the browser's own player icons) URLs; nothing
    // leaves the page.
    const outside = requests.filter((url) => url !== address && !/^(blob|data):/.test(url));
    assert.deepEqual(outside, [], `${what}: requests`);
    // (Chromium's own services, which it calls whatever the page does, are
    // left out: its clock, component updates and accounts.)
    const own = /^(GET|POST|CONNECT) (http:\/\/)?([a-z0-9-]+\.)*(google\.com|googleapis\.com|gvt1\.com|gstatic\.com)(:443)?( |\/|$)/;
    assert.deepEqual(seen.filter((line) => !own.test(line)), address === served ? [`GET /aifconv.html?budget=${budget}`] : [],
                     `${what}: requests the server saw`);
    assert.deepEqual(problems, [], `${what}: console`);
    console.log(`ok: ${what} (${cases.length} files${viaFolder ? ', a folder' : ''}, the store: ${store}, ${parts.length} parts, ${requests.length} requests, all local)`);
  } finally {
    await browser.close();
  }
}

// Folders dropped on the page (Chromium, through its DevTools drag events,
// which hand the page real files and folders as the system's drag and drop
// does; reading them from a file:// page needs --allow-file-access-from-files).
// The page walks every entry: the archive folder, and a folder of more
// entries than one read of a directory gives (100 in Chromium), and one the
// browser cannot read (Chromium: a name that is not UTF-8, MacRoman's é),
// refused and counted as done. Each row is named by its path inside what was
// dropped and is the native result; the Mac's files are skipped.
async function checkDrop() {
  const crowd = join(work, 'crowd');
  mkdirSync(crowd);
  mkdirSync(join(work, 'macroman'));
  writeFileSync(Buffer.from(join(work, 'macroman/caf\x8e.aifc'), 'latin1'), '');
  const crowdNames = [];
  for (let i = 0; i < 150; i++) {
    const name = `crowd/${String(i).padStart(3, '0')}.aifc`;
    cpSync(source('corpus/ok-sdx2-stereo'), join(work, name));
    crowdNames.push(name);
  }
  const browser = await launches.chromium(['--allow-file-access-from-files']);
  try {
    const page = await browser.newPage();
    await page.goto(pathToFileURL(pagePath).href);
    const client = await page.createCDPSession();
    const data = {items: [], files: [folder, crowd, join(work, 'macroman')], dragOperationsMask: 1};
    for (const type of ['dragEnter', 'dragOver', 'drop']) {
      await client.send('Input.dispatchDragEvent', {type, x: 100, y: 100, data});
    }
    const from = new Map([...cases.filter(([name]) => name.startsWith('archive/')),
                          ...crowdNames.map((name) => [name, 'corpus/ok-sdx2-stereo']), ['macroman/']]);
    await page.waitForFunction((n) => document.body.dataset.idle === 'true' &&
      document.querySelectorAll('.result[data-status]').length === n, {timeout: 60000}, from.size);
    const rows = await page.$$eval('.result', (list) => list.map((row) =>
      [row.dataset.name, row.dataset.status, row.querySelector('.messages').textContent, row.querySelector('.notes').textContent]));
    assert.deepEqual(rows.map(([name]) => name).sort(), [...from.keys()].sort(), 'drop: one row per file');
    for (const [name, status, messages, notes] of rows) {
      const e = name === 'macroman/' ? {status: 1, stderr: '', notes: 'The browser could not read this folder (TypeMismatchError).'}
        : {...native(name, from.get(name)), notes: ''};
      assert.deepEqual([status, messages, notes], [String(e.status), e.stderr, e.notes], `drop: result of ${name}`);
    }
    assert.deepEqual(await page.$eval('#summary', (s) => [s.dataset.waiting, s.dataset.skipped]), ['0', String(macFiles.length)], 'drop: summary');
    console.log(`ok: chromium drop (${rows.length} files in three folders)`);
  } finally {
    await browser.close();
  }
}

let failed = 0;
if ((process.env.AIFCONV_BROWSERS || 'chromium').split(' ').includes('chromium')) {
  try {
    await checkDrop();
  } catch (error) {
    failed++;
    console.log(`FAILED: chromium drop\n${error.stack}`);
  }
}
for (const browserName of (process.env.AIFCONV_BROWSERS || 'chromium firefox webkit').split(' ')) {
  for (const address of [`${pathToFileURL(pagePath).href}?budget=${budget}`, served]) {
    try {
      await check(browserName, address);
    } catch (error) {
      failed++;
      console.log(`FAILED: ${browserName} ${address}\n${error.stack}`);
    }
  }
}
server.close();
process.exit(failed ? 1 : 0);
