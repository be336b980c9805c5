// Makes the one-file page: web/page.html with, inlined in this order, its
// style, the worker (the converter's module, then its message loop) and the
// page's own scripts (one closure made of the files of `scripts`, in that
// order), the worker led by the licence notices of what it holds. Nothing
// the page loads comes from anywhere else.
//   node web/build.mjs BUILD_DIR    (BUILD_DIR holds aifconv_worker.js)
import {readFileSync, writeFileSync} from 'node:fs';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

const web = dirname(fileURLToPath(import.meta.url));
const build = process.argv[2];
if (!build) throw new Error('usage: node web/build.mjs BUILD_DIR');
const read = (path) => readFileSync(path, 'utf8');

// A licence notice as a comment that minifiers keep (/*! ... */).
function notice(path) {
  const text = read(path).trim();
  if (text.includes('*/')) throw new Error(`${path}: "*/" inside a notice`);
  return `/*!\n${text}\n*/`;
}

// The page's own scripts share one closure: each file declares its part
// (functions, constants, state) at its top level.
const scripts = ['list.js', 'pool.js', 'store.js', 'zip.js', 'page.js'];
const pageScript = `'use strict';\n(() => {\n${scripts.map((name) => read(join(web, name))).join('\n')}\n})();`;

const parts = {
  '/*STYLE*/': [read(join(web, 'page.css'))],
  '/*WORKER*/': [notice(join(web, '../LICENSE')), notice(join(web, 'notices.txt')),
                 read(join(build, 'aifconv_worker.js')), read(join(web, 'worker.js'))],
  '/*SCRIPTS*/': [pageScript],
};
let page = read(join(web, 'page.html'));
for (const [marker, texts] of Object.entries(parts)) {
  const text = texts.join('\n');
  if (/<\/(script|style)/i.test(text)) throw new Error(`${marker}: a closing tag inside inlined text`);
  if (!page.includes(marker)) throw new Error(`page.html has no ${marker}`);
  page = page.replace(marker, () => text);
}
writeFileSync(join(build, 'aifconv.html'), page);
console.log(`${join(build, 'aifconv.html')}: ${Buffer.byteLength(page)} bytes`);
