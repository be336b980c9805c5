// The page: it owns the screen. Files chosen or dropped become rows, in the
// order given, converted a few at a time by a pool of workers (each owns a
// converter); each row then shows the converter's status and messages as
// text, a plain sentence beside the common refusals, a small waveform
// picture, a download, and a player made only when asked for. Rows and the
// summary are updated in batches, a few times a second, so that the cost of
// a file does not grow with the list. With an output folder chosen, each WAV
// goes there instead of staying in the page. Selectors scripts may rely on
// are listed in doc/web.md.
'use strict';
(() => {
  const $ = (id) => document.getElementById(id);
  const workerUrl = URL.createObjectURL(new Blob([$('worker-source').textContent], {type: 'text/javascript'}));
  const rowTemplate = $('result-row');

  const kWorkers = Math.max(1, Math.min(navigator.hardwareConcurrency || 2, 4));
  const kPlayers = 3;        // players alive at a time; the oldest goes first
  const kRenderMs = 150;     // list updates at most this often
  const kRenderBudgetMs = 50;
  const kGroupRows = 100;    // rows of a group of the list (page.css says why)
  const kTemporary = '.aifconv-partial';  // a file being written; moved to its name once closed
  const kSaving = 2 * kWorkers;            // WAVs being written to the folder at a time
  // With an output folder, a worker is ended after this many files and a
  // new one started, once no Blob it made is still being written (the
  // bytes of its Blobs go with it). In Chromium a worker's memory grows by
  // about an input's size for each file it converts, though its state is
  // the same after each: 2,000 files took the page's process past 600 MiB.
  const kFilesPerWorker = 100;

  let nextId = 1;
  const slots = [];          // {worker, item}: one per worker
  const queue = [];          // items waiting
  let items = [];            // every item of the list, in order: {id, name, file, row, state, result}
  let rowsMade = 0;          // items[0 .. rowsMade) have their row in the list
  const changed = new Set(); // items whose row is to be updated
  const saving = new Set();  // items whose WAV is being written to the folder
  const folders = new Map(); // path in the output folder -> Promise of {dir, names}
  const batch = {files: 0, done: 0, bytes: 0, doneBytes: 0};
  const counts = {converted: 0, warned: 0, refused: 0, cancelled: 0};
  const outputs = new Map(); // ZIP entry name -> {blob, lastModified}
  const urls = [];           // object URLs to revoke on Clear
  const players = [];        // the rows' audio elements, oldest first
  let folder = null;         // the output folder's handle, once chosen
  let refused = 'written';   // refused.txt: 'written', 'due' (the list changed) or 'writing'
  let zipping = false;
  let renderTimer = 0, lastRender = 0;

  function newSlot() {
    const slot = {worker: new Worker(workerUrl), item: null, files: 0, blobs: 0};
    slot.worker.onmessage = (event) => {
      const message = event.data;
      const item = slot.item;
      if (!item || message.id !== item.id) return;
      if (message.type === 'progress') {
        item.read = message.read;
        schedule();
      } else if (message.type === 'done') {
        if (message.lost) drop(slot);
        finish(slot, item, message);
      }
    };
    // The worker itself failed (the converter aborted, or the browser
    // stopped it): the file at hand fails, the next one gets a new worker.
    slot.worker.onerror = (event) => {
      event.preventDefault();
      const item = slot.item;
      drop(slot);
      if (item) finish(slot, item, {status: 1, messages: '', wav: null, picture: null,
        notes: [`The converter stopped in the browser (${event.message || 'worker error'}); nothing was kept.`]});
    };
    slots.push(slot);
    return slot;
  }

  function drop(slot) {
    slot.worker.terminate();
    const at = slots.indexOf(slot);
    if (at >= 0) slots.splice(at, 1);
  }

  // The one place a file is handed to a worker. For the output folder, a
  // small output comes back as an ArrayBuffer, not a Blob (worker.js says why).
  function post(slot, item) {
    postJob(slot.worker, {type: 'convert', id: item.id, name: item.name, file: item.file, buffer: folder !== null});
  }

  // Posts a job ({type: 'convert', id, name, file}) to a worker and answers
  // the worker's requests for the bytes of the job's file, until the job is
  // done: {type: 'read', id, start, end} is answered with
  // {type: 'bytes', id, start, bytes} (an ArrayBuffer of file.slice(start,
  // end), handed over, not copied) or {type: 'bytes', id, start, error} (the
  // name of the browser's error). A worker asks only where it cannot read
  // the File itself (WebKit, page opened from file://); one window at a
  // time, so the page never holds more than one. Other messages are left to
  // the worker's own listener.
  function postJob(worker, job) {
    const serve = async (event) => {
      const message = event.data;
      if (message.id !== job.id) return;
      if (message.type === 'done') worker.removeEventListener('message', serve);
      if (message.type !== 'read') return;
      try {
        const bytes = await job.file.slice(message.start, message.end).arrayBuffer();
        worker.postMessage({type: 'bytes', id: job.id, start: message.start, bytes}, [bytes]);
      } catch (e) {
        worker.postMessage({type: 'bytes', id: job.id, start: message.start, error: e.name || 'unreadable'});
      }
    };
    worker.addEventListener('message', serve);
    worker.postMessage(job);
  }

  function makeUrl(blob) {
    const url = URL.createObjectURL(blob);
    urls.push(url);
    return url;
  }

  const baseName = (path) => path.slice(path.lastIndexOf('/') + 1);
  // Where a file's WAV goes in the output folder: its path in the selection
  // without the chosen folder's own name, plus .wav (as the mirror recipes).
  const outputPath = (name) => name.slice(name.indexOf('/') + 1) + '.wav';

  function formatBytes(n) {
    if (n < 1024) return `${n} B`;
    const units = ['KiB', 'MiB', 'GiB', 'TiB'];
    let v = n, u = -1;
    do { v /= 1024; u++; } while (v >= 1024 && u < units.length - 1);
    return `${v.toFixed(v < 10 ? 1 : 0)} ${units[u]}`;
  }

  // A plain sentence beside the refusals people meet most; the converter's
  // own lines stay above it, word for word.
  const hints = [
    [/^unsupported type AIFF$/m, () => 'This is a plain AIFF file, not AIFF-C: this converter reads only AIFF-C files.'],
    [/^unsupported type (.*)$/m, () => 'This file is not an AIFF-C sound file.'],
    [/^compression scheme = (.*)$/m, (m) => `The sound is stored in an encoding this converter does not read (${m[1]}); it reads ima4, sowt and SDX2.`],
    [/^nb of channels = (\d+)$/m, (m) => `The sound has ${m[1]} channels; this converter handles only mono and stereo.`],
    [/^bits per sample = (\d+)$/m, (m) => `The sound has ${m[1]}-bit samples; this converter handles only 16-bit ones.`],
    [/: unexpected end of file$/m, () => 'The file is cut short: it ends before its sound does.'],
    [/^no (COMM|SSND) chunk found$/m, () => 'The file lacks a part every AIFF-C sound file has: it is damaged or not a sound file.'],
    [/: bad sound file, can't load$/m, () => 'This is not a sound file this converter can read (not AIFF-C at all, or damaged).'],
  ];
  function hint(messages) {
    for (const [pattern, sentence] of hints) {
      const match = messages.match(pattern);
      if (match) return sentence(match);
    }
    return '';
  }

  // A file's size, counted into the batch when first needed (when its row is
  // made, at the latest): asking a File of a chosen folder for its size can
  // cost the browser a look at the disk, too slow for thousands in one task.
  function inputBytes(item) {
    if (item.bytes === undefined && item.file) batch.bytes += item.bytes = item.file.size;
    return item.bytes || 0;
  }

  function schedule() {
    if (renderTimer) return;
    renderTimer = setTimeout(render, Math.max(0, lastRender + kRenderMs - performance.now()));
  }

  // Everything the screen shows of the list, brought up to date in one go:
  // new rows (as many as the time budget allows; the rest next time), the
  // rows that changed, the summary and the progress.
  function render() {
    clearTimeout(renderTimer);
    renderTimer = 0;
    const start = performance.now();
    let group = $('results').lastElementChild;
    while (rowsMade < items.length && performance.now() - start < kRenderBudgetMs) {
      if (rowsMade++ % kGroupRows === 0) {
        group = document.createElement('div');
        group.className = 'rows';
        $('results').append(group);
      }
      const item = items[rowsMade - 1];
      item.row = rowTemplate.content.firstElementChild.cloneNode(true);
      item.row.dataset.name = item.name;
      item.row.querySelector('.name').textContent = item.name;
      inputBytes(item);
      changed.add(item);
      group.append(item.row);
      group.style.containIntrinsicSize = `auto ${(2.4 * group.childElementCount).toFixed(1)}rem`;
    }
    for (const item of changed) if (item.row) { showRow(item); changed.delete(item); }
    lastRender = performance.now();

    let read = 0;
    for (const slot of slots) if (slot.item) read += Math.min(slot.item.read, inputBytes(slot.item));
    const bar = $('progress');
    bar.max = Math.max(1, batch.bytes);
    bar.value = batch.doneBytes + read;
    $('progress-label').textContent = batch.files === 0 ? 'No files yet.' :
      `${batch.done} of ${batch.files} files, ${formatBytes(batch.doneBytes + read)} of ${formatBytes(batch.bytes)}`;
    const summary = $('summary');
    const waiting = batch.files - batch.done;
    for (const [key, value] of Object.entries({...counts, waiting})) summary.dataset[key] = value;
    const text = `${counts.converted} converted, ${counts.warned} converted with warnings, ` +
      `${counts.refused} refused, ${counts.cancelled} cancelled, ${waiting} waiting`;
    if (summary.textContent !== text) summary.textContent = text;  // a live region: only news
    const busy = queue.length > 0 || saving.size > 0 || slots.some((slot) => slot.item) || rowsMade < items.length ||
                 changed.size > 0 || refused !== 'written';
    document.body.dataset.idle = String(!busy);
    $('cancel').disabled = !busy;
    $('zip').disabled = outputs.size === 0 || zipping;
    $('clear').disabled = busy || zipping || items.length === 0;
    $('output-folder').disabled = busy;
    if (busy) schedule();
  }

  function showRow(item) {
    const row = item.row;
    const result = item.result;
    row.querySelector('.state').textContent = item.state;
    if (item.state === 'cancelled') {
      row.dataset.cancelled = 'true';
      row.querySelector('.notes').textContent = 'Cancelled: not converted.';
    }
    if (!result) return;
    row.dataset.status = String(result.status);
    if (result.status === 0 && result.messages) row.dataset.warned = 'true';
    row.querySelector('.messages').textContent = result.messages;
    row.querySelector('.hint').textContent = result.status === 0 ? '' : hint(result.messages);
    row.querySelector('.notes').textContent = result.notes.join('\n');
    if (result.status !== 0 || !(item.url || item.saved)) return;
    const output = row.querySelector('.output');
    if (result.picture) {
      const picture = document.createElement('img');
      picture.loading = 'lazy';
      picture.src = 'data:image/svg+xml,' + encodeURIComponent(result.picture);
      picture.alt = `Waveform of ${item.name}.wav`;
      output.append(picture);
      result.picture = null;
    }
    const play = document.createElement('button');
    play.type = 'button';
    play.className = 'play';
    play.textContent = 'Play';
    play.setAttribute('aria-label', `Play ${item.name}.wav`);
    play.addEventListener('click', () => listen(item, play));
    output.append(play);
    if (item.url) {
      const link = document.createElement('a');
      link.className = 'wav';
      link.href = item.url;
      link.download = baseName(item.name) + '.wav';
      link.textContent = `Download (${formatBytes(item.wavSize)})`;
      link.setAttribute('aria-label', `Download ${link.download} (${formatBytes(item.wavSize)})`);
      output.append(link);
    } else {
      output.append(`in the folder (${formatBytes(item.wavSize)})`);
    }
  }

  // A row's player, made when asked for; a WAV written to the folder is
  // read back from there. Past kPlayers, the oldest player goes.
  async function listen(item, play) {
    play.disabled = true;
    let url = item.url;
    try {
      if (!url) url = URL.createObjectURL(await (await item.saved.dir.getFileHandle(item.saved.name)).getFile());
    } catch (e) {
      item.row.querySelector('.notes').textContent = `The browser could not read the WAV back from the folder (${e.name}).`;
      play.disabled = false;
      return;
    }
    const audio = document.createElement('audio');
    audio.controls = true;
    audio.preload = 'metadata';
    audio.src = url;
    audio.setAttribute('aria-label', `Player of ${item.name}.wav`);
    audio.revoke = url !== item.url ? url : null;
    play.replaceWith(audio);
    audio.button = play;
    players.push(audio);
    while (players.length > kPlayers) {
      const old = players.shift();
      old.pause();
      old.removeAttribute('src');
      old.load();
      if (old.revoke) URL.revokeObjectURL(old.revoke);
      old.button.disabled = false;
      old.replaceWith(old.button);
    }
    audio.play().catch(() => {});
  }

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
    document.body.dataset.idle = 'false';
    $('cancel').disabled = false;
    next();
  }

  function next() {
    while (queue.length > 0 && saving.size < kSaving) {
      const slot = slots.find((s) => !s.item) || (slots.length < kWorkers ? newSlot() : null);
      if (!slot) break;
      const item = queue.shift();
      slot.item = item;
      item.state = 'converting';
      changed.add(item);
      if (folder) resume(slot, item);
      else post(slot, item);
    }
    if (refused === 'due' && queue.length === 0 && saving.size === 0 && !slots.some((slot) => slot.item)) writeRefused();
    schedule();
  }

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

  // A worker's result. Its worker takes the next file at once; a WAV for
  // the output folder is written meanwhile (a few at a time).
  async function finish(slot, item, result) {
    if (item.state === 'cancelled') return;
    if (slot.item === item) slot.item = null;
    const blob = result.wav instanceof Blob;
    if (folder && !blob && ++slot.files >= kFilesPerWorker && slot.blobs === 0) drop(slot);
    if (result.status === 0 && result.wav) {
      item.wavSize = result.wav.size ?? result.wav.byteLength;
      if (folder) {
        saving.add(item);
        slot.blobs += blob;
        next();
        try {
          item.saved = await save(outputPath(item.name), result.wav, item);
        } catch (e) {
          result = {status: 1, messages: result.messages, wav: null, picture: null, notes: [...result.notes,
            `The browser could not write ${outputPath(item.name)} in the output folder (${e.name}); nothing was kept.`]};
        }
        saving.delete(item);
        slot.blobs -= blob;
        if (item.state === 'cancelled') return next();
      } else {
        item.url = makeUrl(result.wav);
        outputs.set(item.name + '.wav', {blob: result.wav, lastModified: item.file.lastModified});
      }
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
  // runs to its end once started; a WAV being written is removed) and drops
  // the queue.
  function cancel() {
    const stopped = [...saving];
    for (const slot of [...slots]) {
      if (slot.item) { stopped.push(slot.item); drop(slot); }
    }
    for (const item of [...stopped, ...queue]) {
      item.state = 'cancelled';
      changed.add(item);
      counts.cancelled++;
      batch.files--;
      batch.bytes -= inputBytes(item);
    }
    queue.length = 0;
    saving.clear();
    if (refused === 'due') writeRefused();
    render();
  }

  async function downloadZip() {
    zipping = true;
    render();
    const list = [...outputs];
    const total = list.reduce((sum, [, {blob}]) => sum + blob.size, 0);
    const status = $('zip-status');
    let done = 0, bytes = 0;
    // client-zip takes the entries one at a time as it writes: each one
    // taken is a step of the progress.
    async function* entries() {
      for (const [name, {blob, lastModified}] of list) {
        status.textContent = `Making the ZIP file: ${done} of ${list.length} files, ${formatBytes(bytes)} of ${formatBytes(total)}`;
        yield {name, input: blob, lastModified: new Date(lastModified)};
        done++;
        bytes += blob.size;
      }
    }
    try {
      const zip = await window.clientZip.downloadZip(entries()).blob();
      let link = $('zip-file');
      if (!link) {
        link = document.createElement('a');
        link.id = 'zip-file';
        status.after(link);
      } else {
        URL.revokeObjectURL(link.href);
      }
      link.href = URL.createObjectURL(new Blob([zip], {type: 'application/zip'}));
      link.download = 'aifconv.zip';
      link.textContent = `aifconv.zip (${list.length} files, ${formatBytes(zip.size)})`;
      status.textContent = '';
      link.click();
    } catch (e) {
      status.textContent = `The browser could not make the ZIP file (${e.name}).`;
    }
    zipping = false;
    render();
  }

  function clear() {
    for (const audio of players) audio.revoke && URL.revokeObjectURL(audio.revoke);
    players.length = 0;
    for (const url of urls) URL.revokeObjectURL(url);
    urls.length = 0;
    outputs.clear();
    items = [];
    rowsMade = 0;
    changed.clear();
    folders.clear();
    $('results').replaceChildren();
    const link = $('zip-file');
    if (link) { URL.revokeObjectURL(link.href); link.remove(); }
    Object.assign(batch, {files: 0, done: 0, bytes: 0, doneBytes: 0});
    Object.assign(counts, {converted: 0, warned: 0, refused: 0, cancelled: 0});
    render();
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

  // A group out of sight keeps the height it had when last shown; after a
  // change of filter each is given one from the rows it now shows, so that
  // the list's length stays about right.
  $('filter').addEventListener('change', () => {
    const show = $('results').dataset.show = $('filter').value;
    for (const group of $('results').children) {
      let height = 0;
      for (const row of group.children) {
        const refused = row.dataset.status === '1';
        if (show === 'all' || (show === 'refused' ? refused : row.dataset.warned)) height += refused ? 6 : 2.4;
      }
      group.style.containIntrinsicSize = `${height.toFixed(1)}rem`;
    }
  });
  $('output-folder').hidden = typeof window.showDirectoryPicker !== 'function';
  $('output-folder').addEventListener('click', chooseFolder);
  $('cancel').addEventListener('click', cancel);
  $('zip').addEventListener('click', downloadZip);
  $('clear').addEventListener('click', clear);
  render();
})();
