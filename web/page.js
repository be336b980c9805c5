// The page's wiring: files chosen or dropped become rows (list.js), in the
// order given, converted by the worker pool (pool.js), their WAVs kept or
// written where store.js says; Cancel, Clear and the buttons.
let nextId = 1;
const queue = [];          // items waiting


// A row for each file, in the order given.
function addFiles(files) {
  for (const {name, file, error} of files) {
    const item = {id: nextId++, name, file, row: null, state: 'waiting', result: null, read: 0};
    items.push(item);
    batch.files++;
    if (error) {
      item.state = 'failed';
      item.result = {status: 1, messages: '', notes: [`The browser could not read this ${name.endsWith('/') ? 'folder' : 'file'} (${error}).`]};
      counts.refused++;
      batch.done++;
      continue;
    }
    queue.push(item);
  }
  if (folder) refused = 'due';
  if (zipFile) zipFile.used = true;
  if (downloaded) {
    // Download all's ZIP was taken: what it holds leaves the page.
    downloaded = false;
    release(items.filter((item) => item.entry), 'aifconv.zip');
    const link = $('zip-file');
    if (link) { URL.revokeObjectURL(link.href); link.remove(); }
  }
  quota = null;
  document.body.dataset.idle = 'false';
  $('cancel').disabled = false;
  next();
}

function next() {
  while (storeKnown && !paused && queue.length > 0 && saving.size < kSaving) {
    const slot = slots.find((s) => !s.item) || (slots.length < kWorkers ? newSlot() : null);
    if (!slot) break;
    const item = queue.shift();
    slot.item = item;
    item.state = 'converting';
    changed.add(item);
    if (folder) resume(slot, item);
    else post(slot, item);
  }
  if (saving.size === 0 && !slots.some((slot) => slot.item)) storeIdle();
  schedule();
}

// A worker's result. Its worker takes the next file at once; a WAV is
// stored meanwhile (a few at a time).
async function finish(slot, item, result) {
  if (item.state === 'cancelled') return;
  if (slot.item === item) slot.item = null;
  const blob = result.wav instanceof Blob;
  if (storeKind() !== 'memory' && !blob && ++slot.files >= kFilesPerWorker && slot.blobs === 0) drop(slot);
  if (result.status === 0 && result.wav) {
    item.wavSize = result.wav.size ?? result.wav.byteLength;
    saving.add(item);
    slot.blobs += blob;
    next();
    try {
      await keep(item, result);
    } catch (e) {
      result = {status: 1, messages: result.messages, wav: null, picture: null, notes: [...result.notes, e.note]};
    }
    saving.delete(item);
    slot.blobs -= blob;
    if (item.state === 'cancelled') return next();
    result.wav = null;
  }
  item.result = result;
  item.state = result.status !== 0 ? 'refused' : result.resumed ? 'already converted' : 'converted';
  counts[result.status !== 0 ? 'refused' : result.messages ? 'warned' : 'converted']++;
  changed.add(item);
  batch.done++;
  batch.doneBytes += inputBytes(item);
  next();
}

// Stops the conversions at hand (their workers are ended: a conversion
// runs to its end once started; a WAV being written is removed, but one
// going into a chosen ZIP file is finished) and drops the queue.
function cancel(note = 'Cancelled: not converted.') {
  const stopped = [...saving].filter((item) => !item.inZip && item.state !== 'cancelled');
  for (const slot of [...slots]) {
    if (slot.item) { stopped.push(slot.item); drop(slot); }
  }
  for (const item of [...stopped, ...queue]) {
    item.state = 'cancelled';
    item.cancelNote = note;
    changed.add(item);
    counts.cancelled++;
    batch.files--;
    batch.bytes -= inputBytes(item);
  }
  queue.length = 0;
  if (paused === 'offered' || paused === 'full') paused = null;
  next();
  render();
}

function clear() {
  for (const audio of players) audio.revoke && URL.revokeObjectURL(audio.revoke);
  players.length = 0;
  for (const url of urls) URL.revokeObjectURL(url);
  urls.length = 0;
  clearStore();
  items = [];
  rowsMade = 0;
  changed.clear();
  $('results').replaceChildren();
  $('zip-parts')?.remove();
  $('zip-status').textContent = '';
  delete $('zip-status').dataset.state;
  zipParts = 0;
  Object.assign(batch, {files: 0, done: 0, bytes: 0, doneBytes: 0});
  Object.assign(counts, {converted: 0, warned: 0, refused: 0, cancelled: 0, lost: 0});
  render();
}

const byName = (a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0);

function pick(input, pathOf) {
  input.addEventListener('change', () => {
    const files = [...input.files].map((file) => ({name: pathOf(file), file})).sort(byName);
    input.value = '';
    addFiles(files);
  });
}
pick($('files'), (file) => file.name);
pick($('folder'), (file) => file.webkitRelativePath || file.name);

// Every file of a dropped entry, folders walked to the end (a directory
// reader hands out its entries in batches until an empty one).
async function walk(entry, out) {
  const name = entry.fullPath.replace(/^\/+/, '');
  if (entry.isFile) {
    try {
      out.push({name, file: await new Promise((resolve, reject) => entry.file(resolve, reject))});
    } catch (e) {
      out.push({name, error: e.name || 'unreadable'});
    }
  } else if (entry.isDirectory) {
    const reader = entry.createReader();
    for (;;) {
      let children;
      try {
        children = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      } catch (e) {
        out.push({name: name + '/', error: e.name || 'unreadable'});
        break;
      }
      if (children.length === 0) break;
      for (const child of children) await walk(child, out);
    }
  }
}

document.addEventListener('dragover', (event) => {
  event.preventDefault();
  $('drop').classList.add('over');
});
document.addEventListener('dragleave', () => $('drop').classList.remove('over'));
document.addEventListener('drop', async (event) => {
  event.preventDefault();
  $('drop').classList.remove('over');
  const dropped = [...event.dataTransfer.items].filter((item) => item.kind === 'file');
  const entries = dropped.map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
  const files = [];
  if (entries.length > 0 && entries.every(Boolean)) {
    document.body.dataset.idle = 'false';  // busy while the folders are walked
    for (const entry of entries) await walk(entry, files);
  } else {
    for (const file of event.dataTransfer.files) files.push({name: file.name, file});
  }
  addFiles(files.sort(byName));
});

$('filter').addEventListener('change', refilter);
$('output-folder').hidden = typeof window.showDirectoryPicker !== 'function';
$('output-folder').addEventListener('click', chooseFolder);
$('output-zip').hidden = typeof window.showSaveFilePicker !== 'function';
$('output-zip').addEventListener('click', chooseZip);
$('cancel').addEventListener('click', () => cancel());
$('zip').addEventListener('click', downloadZip);
$('clear').addEventListener('click', clear);
render();
