// Makes the one-file page: web/page.html with, inlined in this order, its
// style, the worker (the converter's module, then its message loop) and the
// page's scripts (the ZIP writer from npm, then the page's own files, one
// closure made of them in the order of `scripts`), each led by the licence
// notices of what it holds. Nothing the page loads comes from
// anywhere else.
//   node web/build.mjs BUILD_DIR    (BUILD_DIR holds aifconv_worker.js)
import {readFileSync, writeFileSync} from 'node:fs';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

const web = dirname(fileURLToPath(import.meta.url));
const build = process.argv[2];
if (!build) throw new Error('usage: node web/build.mjs BUILD_DIR');
const read = (path) => readFileSync(path, 'utf8');

// client-zip is an ES module ending in one export statement; inlined, its
// exports become window.clientZip.
function zipWriter() {
  const source = read(join(web, 'node_modules/client-zip/index.js'));
  const exports = /export\s*\{([^}]*)\};?\s*$/;
  const match = source.match(exports);
  if (!match) throw new Error('client-zip: no export statement at the end of index.js');
  const names = match[1].split(',').map((pair) => pair.trim().split(/\s+as\s+/)).map(([local, name]) => `${name}:${local}`);
  return `window.clientZip=(()=>{${source.replace(exports, '')}\nreturn{${names.join(',')}};})();`;
}

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
  '/*SCRIPTS*/': [notice(join(web, 'node_modules/client-zip/LICENSE.txt')), zipWriter(), pageScript],
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
