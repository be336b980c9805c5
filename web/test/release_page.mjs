// A released page (aifconv.html as tools/release.sh makes it) in Debian's
// headless Chromium, opened from file://: the given files picked at once,
// and each result compared with the native converter run on the same file
// under the same name: status, messages and WAV bytes.
//
//   node web/test/release_page.mjs PAGE AIFCONV FILE...
import {spawnSync} from 'node:child_process';
import {existsSync, mkdtempSync, readFileSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {basename, dirname, join, resolve} from 'node:path';
import {pathToFileURL} from 'node:url';
import assert from 'node:assert/strict';
import {launchChromium} from './chromium.mjs';

const [pagePath, aifconv, ...files] = process.argv.slice(2).map((p) => resolve(p));
if (!pagePath || !aifconv || files.length === 0) throw new Error('usage: release_page.mjs PAGE AIFCONV FILE...');
const work = mkdtempSync(join(tmpdir(), 'aifconv-release-page-'));
process.on('exit', () => rmSync(work, {recursive: true, force: true}));

// The native result of a file, run in its folder so that it names the file
// as the page does.
function native(file) {
  const out = join(work, basename(file) + '.wav');
  rmSync(out, {force: true});
  const run = spawnSync(aifconv, [basename(file), out], {cwd: dirname(file)});
  return {status: String(run.status), messages: run.stderr.toString(), wav: existsSync(out) ? readFileSync(out) : null};
}

const browser = await launchChromium(work);
try {
  const page = await browser.newPage();
  await page.goto(pathToFileURL(pagePath).href);
  await (await page.$('input#files')).uploadFile(...files);
  await page.waitForFunction((n) => document.body.dataset.idle === 'true' &&
    document.querySelectorAll('.result[data-status]').length === n, {timeout: 60000}, files.length);
  const rows = await page.$$eval('.result[data-status]', (list) => Promise.all(list.map(async (row) => {
    const link = row.querySelector('a.wav[download]');
    let wav = null;
    if (link) {
      const bytes = new Uint8Array(await (await fetch(link.href)).arrayBuffer());
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      wav = btoa(text);
    }
    return {name: row.dataset.name, status: row.dataset.status,
            messages: row.querySelector('.messages').textContent, wav};
  })));
  assert.deepEqual(rows.map((r) => r.name).sort(), files.map((f) => basename(f)).sort(), 'one row per file');
  for (const row of rows) {
    const e = native(files.find((f) => basename(f) === row.name));
    assert.equal(row.status, e.status, `status of ${row.name}`);
    assert.equal(row.messages, e.messages, `messages of ${row.name}`);
    assert.equal(row.wav !== null, e.wav !== null, `output of ${row.name}`);
    if (e.wav) assert.ok(Buffer.from(row.wav, 'base64').equals(e.wav), `WAV bytes of ${row.name}`);
  }
  console.log(`the page converted ${rows.length} files as ${aifconv} does`);
} finally {
  await browser.close();
}
