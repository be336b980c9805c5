// Where the WAVs go: the first of these the browser allows (body[data-store]).
//   'folder'    a folder the user chose (showDirectoryPicker): each WAV at its
//               path there, refused.txt beside them, and the resume of a
//               batch that was stopped;
//   'zip-file'  one ZIP file the user chose (showSaveFilePicker): each WAV
//               written into it as it converts, the ZIP finished when the
//               batch ends or is cancelled;
//   'private'   the origin-private file system: each WAV a file of this
//               page's own directory (held by a lock while the page is open;
//               one left by a closed page is removed), written by the worker
//               where it can (pool.js), else here; read back from disk by
//               its row and by Download all, whose ZIP is composed of those
//               files (one copy on disk);
//   'memory'    Blobs in the page, up to kBudget bytes; then the page pauses
//               and offers what it holds as a numbered part of the ZIP, or,
//               where the pickers exist, asks where the WAVs go.
// A WAV kept by the page (memory, private) is `item.entry`: {name (unique in
// the ZIP), size, crc, lastModified, data (a Blob or a File on disk)}.
const kTemporary = '.aifconv-partial';  // a file being written; moved to its name once closed
const kSaving = 2 * kWorkers;            // WAVs being written at a time
const kPrivatePrefix = 'aifconv-page-';  // this page's directories in the private file system
// WAV bytes the page holds in memory at most (beyond the files converting
// when it fills); ?budget=BYTES in the page's address sets another (tests).
const kBudget = Number(new URLSearchParams(location.search).get('budget')) || 256 << 20;

const saving = new Set();  // items whose WAV is being stored
const folders = new Map(); // path in the output folder -> Promise of {dir, names}
const entryNames = new Set();  // ZIP entry names given (until Clear)
let folder = null;         // the output folder's handle, once chosen
let zipFile = null;        // the chosen ZIP file: {name, writable, writer, chain, items, used}
let zipClosing = null;     // the chosen ZIP file's last writes, while they run
let privateRoot = null;    // the private file system's root, where it works
let ownDir = null;         // Promise of this page's directory there, made when first needed
let quota = null;          // Promise of {total, free}: the private file system's room, this batch
let storeKnown = false;    // whether the private file system was tried
let memoryBytes = 0;       // bytes of the WAVs held in memory
let paused = null;         // null, 'offered' (a part, the memory full) or 'ask' (where the WAVs go)
let downloaded = false;    // Download all's ZIP was taken: a new batch releases what it holds
let refused = 'written';   // refused.txt: 'written', 'due' (the list changed) or 'writing'

const memoryFull = () => storeKind() === 'memory' && memoryBytes >= kBudget;
const storeKind = () => (folder ? 'folder' : zipFile ? 'zip-file' : privateRoot ? 'private' : 'memory');
const pickers = () => typeof window.showDirectoryPicker === 'function' || typeof window.showSaveFilePicker === 'function';

// Where a file's WAV goes in the output folder: its path in the selection
// without the chosen folder's own name, plus .wav (as the mirror recipes).
const outputPath = (name) => name.slice(name.indexOf('/') + 1) + '.wav';

// The private file system, where it works: directories of pages no longer
// open (their lock is free) are removed.
(async () => {
  if (typeof navigator.storage?.getDirectory !== 'function' || !navigator.locks ||
      typeof FileSystemFileHandle !== 'function' || !('createWritable' in FileSystemFileHandle.prototype)) return;
  const root = await navigator.storage.getDirectory();
  const held = new Set(((await navigator.locks.query()).held || []).map((lock) => lock.name));
  for await (const name of root.keys()) {
    if (name.startsWith(kPrivatePrefix) && !held.has(name)) await root.removeEntry(name, {recursive: true}).catch(() => {});
  }
  privateRoot = root;
})().catch(() => {}).then(() => {
  storeKnown = true;
  showStore();
  next();
});

function showStore() {
  document.body.dataset.store = storeKind();
}

function privateDir() {
  if (!ownDir) {
    ownDir = (async () => {
      const name = kPrivatePrefix + Date.now().toString(36) + Math.random().toString(36).slice(2, 10);
      await new Promise((granted) => navigator.locks.request(name, () => { granted(); return new Promise(() => {}); }));
      return privateRoot.getDirectoryHandle(name, {create: true});
    })();
  }
  return ownDir;
}

// The ZIP entry name of an item's WAV, unique: a name taken gets " (2)",
// " (3)"... before ".wav", and its row says so.
function entryName(item, result) {
  let name = item.name + '.wav';
  for (let n = 2; entryNames.has(name); n++) name = `${item.name} (${n}).wav`;
  entryNames.add(name);
  if (name !== item.name + '.wav') result.notes.push(`In the ZIP file as “${name}”: an earlier file has the same name.`);
  return name;
}

// Keeps or writes a converted file's WAV (result.wav) where it goes; throws
// {note} when it cannot, nothing kept.
async function keep(item, result) {
  const kind = storeKind();
  const wav = result.wav;
  const size = item.wavSize;
  try {
    if (kind === 'folder') {
      const {dir, name} = await place(outputPath(item.name));
      item.saved = await save(dir, name, wav, item);
    } else if (kind === 'zip-file') {
      await writeIntoZip(zipFile, item, {name: entryName(item, result), size, crc: result.crc, lastModified: item.file.lastModified}, wav);
    } else if (kind === 'private') {
      // The quota asked once a batch, then each WAV counted against it.
      if (!quota) {
        quota = navigator.storage.estimate().then(({quota: total, usage}) => ({total, free: total - usage}));
      }
      const room = await quota;
      if (size > room.free) {
        if (item.disk) await item.disk.dir.removeEntry(item.disk.name).catch(() => {});
        throw new DOMException('no room', 'QuotaExceededError');
      }
      room.free -= size;
      // Written by the worker already, or written here.
      const saved = result.written !== undefined ? item.disk : await save(await privateDir(), `${item.id}.wav`, wav, item);
      const file = await (await saved.dir.getFileHandle(saved.name)).getFile();
      item.entry = {name: entryName(item, result), size, crc: result.crc, lastModified: item.file.lastModified, data: file, saved};
      item.url = makeUrl(file);
    } else {
      const blob = wav instanceof Blob ? wav : new Blob([wav], {type: 'audio/wav'});
      item.entry = {name: entryName(item, result), size, crc: result.crc, lastModified: item.file.lastModified, data: blob};
      item.url = makeUrl(blob);
      memoryBytes += size;
    }
  } catch (e) {
    if (kind === 'private' && e.name === 'QuotaExceededError' && item.state !== 'cancelled') quotaFull(item, await quota);
    throw {note: kind === 'folder' ? `The browser could not write ${outputPath(item.name)} in the output folder (${e.name}); nothing was kept.`
      : kind === 'zip-file' ? `The browser could not write this file's WAV into ${zipFile?.name || 'the ZIP file'} (${e.name}).`
      : `The browser could not keep this file's WAV (${e.name}); nothing was kept.`};
  }
}

// The private file system has no room for the next WAV: the batch stops,
// and the page says plainly what fits.
function quotaFull(item, room) {
  $('output-name').textContent = `This browser lets the page keep ${formatBytes(room.total)} of files on this computer, ` +
    `${formatBytes(room.total - room.free)} of it in use: the WAV files converted so far fit, the rest do not. ` +
    'Download all, then Clear, and choose the files not converted again.';
  saving.add(item);
  cancel('Not converted: the browser has no room left for its WAV file.');
}

// A WAV taken out of the page into a ZIP file (a part saved, or Download
// all's ZIP before a new batch): its row says where it went.
function release(list, where) {
  for (const item of list) {
    if (!item.entry) continue;
    if (item.entry.saved) item.entry.saved.dir.removeEntry(item.entry.saved.name).catch(() => {});
    else memoryBytes -= item.entry.size;
    item.entry = null;
    if (item.url) URL.revokeObjectURL(item.url);
    item.url = null;
    item.part = where;
    item.result.notes.push(`Its WAV went into ${where}.`);
    changed.add(item);
  }
}

// A kept WAV that can no longer be read: its row says so, counted as lost.
function lose(item, error) {
  item.entry = null;
  item.url = null;
  item.lost = true;
  item.state = 'WAV lost';
  counts[item.result.messages ? 'warned' : 'converted']--;
  counts.lost++;
  item.result.notes.push(`The browser can no longer read this file's WAV (${error}): it is not in the ZIP file. Convert the file again to get it.`);
  changed.add(item);
}

// Nothing converting nor being written: the end of a batch, or of its part.
function storeIdle() {
  if (queue.length === 0 && refused === 'due') writeRefused();
  if (queue.length === 0 && zipFile?.used) finishZip();
  // The memory full and files waiting: a part, or ask. (Full at the end of
  // a batch, the WAVs wait for Download all, or for the next batch.)
  if (!paused && queue.length > 0 && memoryFull()) {
    if (pickers()) {
      paused = 'ask';
      $('output-name').textContent = 'These WAV files do not fit in the page’s memory: choose where they go, a folder or one ' +
        'ZIP file, and the page goes on.';
    } else {
      paused = 'offered';
      offerPart();
    }
  }
}

// The memory is full: what it holds becomes a part of the ZIP; once saved
// (its link clicked), its WAVs are released and the batch goes on.
async function offerPart() {
  const list = items.filter((item) => item.entry);
  const name = `aifconv-part-${++zipParts}.zip`;
  const link = await makeZip(list, name, `The page holds as much as it may (${formatBytes(kBudget)}): save ${name} to go on.`);
  const go = () => {
    release(list, name);
    paused = null;
    next();
  };
  if (!link) return go();
  // (The link goes a second after the click: its download has its Blob.)
  link.addEventListener('click', () => {
    const href = link.href;
    setTimeout(() => {
      link.removeAttribute('href');
      link.textContent = `${name} (saved)`;
      go();
    });
    setTimeout(() => URL.revokeObjectURL(href), 1000);
  }, {once: true});
}

// A chosen store took the place of the memory: the WAVs held go there.
async function leaveMemory() {
  const list = items.filter((item) => item.entry && !item.entry.saved);
  for (const item of list) {
    const data = item.entry.data;
    entryNames.delete(item.entry.name);
    try {
      await keep(item, {...item.result, crc: item.entry.crc, wav: data});
      item.part = null;
    } catch (e) {
      lose(item, 'NotWritableError');
      continue;
    }
    memoryBytes -= data.size;
    URL.revokeObjectURL(item.url);
    item.url = null;
    item.entry = null;
    changed.add(item);
  }
  memoryBytes = Math.max(0, memoryBytes);
  if (paused === 'ask') $('output-name').textContent += ' The WAV files held in the page went there.';
  paused = null;
  next();
}

// Writes into the chosen ZIP file, one entry after another.
function writeIntoZip(zip, item, entry, data) {
  zip.items.push(item);
  if (!zip.used) $('zip-status').dataset.state = 'making';  // (#output-name says where the WAVs go)
  zip.used = true;
  item.inZip = zip.name;
  zip.chain = zip.chain.then(async () => {
    if (zip.error) throw zip.error;
    try {
      await zip.writable.write(zip.writer.add(entry));
      await zip.writable.write(data);
    } catch (e) {
      zip.error = e;
      throw e;
    }
  });
  return zip.chain;
}

// The chosen ZIP file's central directory, then it is closed; a ZIP that
// failed is aborted, and its rows say their WAV is lost.
function finishZip() {
  const zip = zipFile;
  zipFile = null;
  showStore();
  zipClosing = zip.chain.catch(() => {}).then(async () => {
    if (zip.error) throw zip.error;
    await zip.writable.write(zip.writer.end());
    await zip.writable.close();
    $('zip-status').textContent = `“${zip.name}” is finished: ${zip.writer.count} WAV files.`;
    $('zip-status').dataset.state = 'done';
  }).catch((e) => {
    zip.writable.abort().catch(() => {});
    for (const item of zip.items) if (!item.lost && item.state !== 'cancelled') lose(item, e.name);
    $('zip-status').textContent = `The browser could not write the ZIP file “${zip.name}” (${e.name}).`;
    $('zip-status').dataset.state = 'failed';
  }).then(() => {
    zipClosing = null;
    schedule();
  });
}

async function chooseZip() {
  let writable, handle;
  try {
    handle = await window.showSaveFilePicker({suggestedName: 'aifconv.zip',
      types: [{description: 'ZIP file', accept: {'application/zip': ['.zip']}}]});
    writable = await handle.createWritable();
  } catch (e) {
    if (e.name !== 'AbortError') $('output-name').textContent = `The browser could not open that file (${e.name}).`;
    return;
  }
  if (zipFile) finishZip();
  folder = null;
  zipFile = {name: handle.name || 'the ZIP file', writable, writer: new ZipWriter(), chain: Promise.resolve(), items: [],
             used: false};
  showStore();
  $('output-name').textContent = `Writing the WAV files into “${zipFile.name}”.`;
  if (paused === 'ask') leaveMemory();
}

// With an output folder: a file whose complete WAV is there already (a
// RIFF header and a data chunk whose sizes are the file's) is not converted
// again. Each folder is listed once, not asked for each file.
async function resume(slot, item) {
  let done = null;
  try {
    const {dir, name, names} = await place(outputPath(item.name));
    if ((await names).has(name)) {
      const file = await (await dir.getFileHandle(name)).getFile();
      const head = new DataView(await file.slice(0, 44).arrayBuffer());
      if (file.size >= 44 && head.getUint32(0) === 0x52494646 && head.getUint32(4, true) + 8 === file.size &&
          head.getUint32(8) === 0x57415645 && head.getUint32(36) === 0x64617461 &&
          head.getUint32(40, true) + 44 === file.size) done = {dir, name, size: file.size};
    }
  } catch (e) {
    // unreadable: converted again
  }
  if (item.state !== 'converting') return;  // cancelled meanwhile
  if (!done) return post(slot, item);
  item.saved = done;
  item.wavSize = done.size;
  finish(slot, item, {status: 0, messages: '', notes: ['Already in the output folder: not converted again.'],
                      wav: null, picture: null, resumed: true});
}

// The folder of the output folder that is to hold path (made if need
// be, its handle and listing kept), and the file's name.
async function place(path) {
  const at = path.lastIndexOf('/');
  const name = path.slice(at + 1);
  const key = at < 0 ? '' : path.slice(0, at);
  if (!folders.has(key)) {
    folders.set(key, (async () => {
      const parent = key === '' ? folder : (await place(key)).dir;
      const dir = key === '' ? folder : await parent.getDirectoryHandle(baseName(key), {create: true});
      const names = (async () => { const found = new Set(); for await (const n of dir.keys()) found.add(n); return found; })();
      names.catch(() => {});
      return {dir, names};
    })());
  }
  const {dir, names} = await folders.get(key);
  return {dir, name, names};
}

// Writes data (a Blob or an ArrayBuffer) as name in dir, never a partial
// file of that name: the bytes go to a temporary name, moved into place
// once closed; a failure, or a Cancel meanwhile, removes the temporary file.
async function save(dir, name, data, item) {
  const temporary = await dir.getFileHandle(name + kTemporary, {create: true});
  try {
    const writable = await temporary.createWritable();
    try {
      await writable.write(data);
      if (item && item.state === 'cancelled') throw new DOMException('Cancelled', 'AbortError');
      await writable.close();
    } catch (e) {
      await writable.abort().catch(() => {});
      throw e;
    }
    await dir.removeEntry(name).catch(() => {});  // an incomplete file of that name
    await temporary.move(name);
  } catch (e) {
    await dir.removeEntry(name + kTemporary).catch(() => {});
    throw e;
  }
  return {dir, name};
}

// refused.txt beside the WAVs, as the recipes write it: each refused
// file's path on a line, its messages below it indented by four spaces.
async function writeRefused() {
  refused = 'writing';
  let text = '';
  for (const item of items) {
    if (!item.result || item.result.status === 0) continue;
    const lines = (item.result.messages + item.result.notes.map((note) => note + '\n').join('')).split('\n');
    text += `${item.name}\n` + lines.slice(0, -1).map((line) => `    ${line}\n`).join('');
  }
  try {
    const {dir, name} = await place('refused.txt');
    await save(dir, name, new Blob([text], {type: 'text/plain'}));
  } catch (e) {
    $('zip-status').textContent = `The browser could not write refused.txt in the folder (${e.name}).`;
  }
  if (refused === 'writing') refused = 'written';
  schedule();
}

// Clear: what the page put in the private file system goes too.
function clearStore() {
  for (const item of items) if (item.entry?.saved) item.entry.saved.dir.removeEntry(item.entry.saved.name).catch(() => {});
  entryNames.clear();
  folders.clear();
  memoryBytes = 0;
  downloaded = false;
  quota = null;
}

async function chooseFolder() {
  try {
    folder = await window.showDirectoryPicker({mode: 'readwrite'});
  } catch (e) {
    if (e.name !== 'AbortError') $('output-name').textContent = `The browser could not open that folder (${e.name}).`;
    return;
  }
  folders.clear();
  if (zipFile) finishZip();
  document.body.dataset.output = 'folder';
  showStore();
  $('output-name').textContent = `Writing into the folder “${folder.name}”; files already there are not converted again.`;
  if (paused === 'ask') leaveMemory();
}
