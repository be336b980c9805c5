// Where the WAVs go: kept in the page (a Blob and its download link per
// row), or written into an output folder the user chose, with refused.txt
// beside them and the resume of a batch that was stopped.
const kTemporary = '.aifconv-partial';  // a file being written; moved to its name once closed
const kSaving = 2 * kWorkers;            // WAVs being written to the folder at a time

const saving = new Set();  // items whose WAV is being written to the folder
const folders = new Map(); // path in the output folder -> Promise of {dir, names}
const outputs = new Map(); // ZIP entry name -> {blob, lastModified}
let folder = null;         // the output folder's handle, once chosen
let refused = 'written';   // refused.txt: 'written', 'due' (the list changed) or 'writing'

// Where a file's WAV goes in the output folder: its path in the selection
// without the chosen folder's own name, plus .wav (as the mirror recipes).
const outputPath = (name) => name.slice(name.indexOf('/') + 1) + '.wav';

// With an output folder: a file whose complete WAV is there already (a
// RIFF header whose size is the file's) is not converted again. Each
// folder is listed once, not asked for each file.
async function resume(slot, item) {
  let done = null;
  try {
    const {dir, name, names} = await place(outputPath(item.name));
    if ((await names).has(name)) {
      const file = await (await dir.getFileHandle(name)).getFile();
      const head = new DataView(await file.slice(0, 12).arrayBuffer());
      if (file.size >= 44 && head.getUint32(0) === 0x52494646 && head.getUint32(4, true) + 8 === file.size &&
          head.getUint32(8) === 0x57415645) done = {dir, name, size: file.size};
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

// Writes data (a Blob or an ArrayBuffer) to path in the output folder, never a partial file of that
// name: the bytes go to a temporary name, moved into place once closed;
// a failure, or a Cancel meanwhile, removes the temporary file.
async function save(path, data, item) {
  const {dir, name} = await place(path);
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
    await save('refused.txt', new Blob([text], {type: 'text/plain'}));
  } catch (e) {
    $('zip-status').textContent = `The browser could not write refused.txt in the folder (${e.name}).`;
  }
  if (refused === 'writing') refused = 'written';
  schedule();
}

async function chooseFolder() {
  try {
    folder = await window.showDirectoryPicker({mode: 'readwrite'});
  } catch (e) {
    if (e.name !== 'AbortError') $('output-name').textContent = `The browser could not open that folder (${e.name}).`;
    return;
  }
  folders.clear();
  document.body.dataset.output = 'folder';
  $('output-name').textContent = `Writing into the folder “${folder.name}”; files already there are not converted again.`;
}
