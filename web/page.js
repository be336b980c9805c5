// The page: it owns the screen. Files chosen or dropped become rows, queued
// for the worker (which owns the converter) one at a time; each row then
// shows the converter's status and messages as text, a player, a waveform
// picture and a download. Selectors scripts may rely on: input#files,
// input#folder, .result[data-name][data-status] .messages, a.wav[download],
// audio, progress#progress, button#zip, body[data-idle].
'use strict';
(() => {
  const $ = (id) => document.getElementById(id);
  const workerUrl = URL.createObjectURL(new Blob([$('worker-source').textContent], {type: 'text/javascript'}));
  const rowTemplate = $('result-row');

  let worker = null;
  let nextId = 1;
  const queue = [];          // {id, name, file, row} waiting
  let current = null;        // the one converting, with .read bytes
  const batch = {files: 0, done: 0, bytes: 0, doneBytes: 0};
  const outputs = new Map(); // ZIP entry name -> {blob, lastModified}
  const urls = [];           // object URLs to revoke on Clear

  function startWorker() {
    worker = new Worker(workerUrl);
    worker.onmessage = (event) => {
      const message = event.data;
      if (!current || message.id !== current.id) return;
      if (message.type === 'progress') {
        current.read = message.read;
        showProgress();
      } else if (message.type === 'done') {
        if (message.lost) {
          worker.terminate();
          worker = null;
        }
        finish(current, message);
      }
    };
    // The worker itself failed (the converter aborted, or the browser
    // stopped it): the file at hand fails, the next one gets a new worker.
    worker.onerror = (event) => {
      event.preventDefault();
      const item = current;
      worker.terminate();
      worker = null;
      if (item) finish(item, {status: 1, messages: '', wav: null, picture: null,
        notes: [`The converter stopped in the browser (${event.message || 'worker error'}); nothing was kept.`]});
    };
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

  function formatBytes(n) {
    if (n < 1024) return `${n} B`;
    const units = ['KiB', 'MiB', 'GiB', 'TiB'];
    let v = n, u = -1;
    do { v /= 1024; u++; } while (v >= 1024 && u < units.length - 1);
    return `${v.toFixed(v < 10 ? 1 : 0)} ${units[u]}`;
  }

  function showProgress() {
    const read = current ? Math.min(current.read, current.file.size) : 0;
    const bar = $('progress');
    bar.max = Math.max(1, batch.bytes);
    bar.value = batch.doneBytes + read;
    $('progress-label').textContent = batch.files === 0 ? 'No files yet.' :
      `${batch.done} of ${batch.files} files, ${formatBytes(batch.doneBytes + read)} of ${formatBytes(batch.bytes)}`;
    const idle = !current && queue.length === 0;
    document.body.dataset.idle = String(idle);
    $('cancel').disabled = idle;
    $('zip').disabled = outputs.size === 0;
    $('clear').disabled = !idle || batch.files === 0;
  }

  // A row for each file, in the order given.
  function addFiles(files) {
    for (const {name, file, error} of files) {
      const row = rowTemplate.content.firstElementChild.cloneNode(true);
      row.dataset.name = name;
      row.querySelector('.name').textContent = name;
      $('results').append(row);
      batch.files++;
      if (error) {
        setState(row, '1', 'failed');
        row.querySelector('.notes').textContent = `The browser could not read this ${name.endsWith('/') ? 'folder' : 'file'} (${error}).`;
        batch.done++;
        continue;
      }
      batch.bytes += file.size;
      queue.push({id: nextId++, name, file, row, read: 0});
    }
    next();
  }

  function setState(row, status, text) {
    if (status !== null) row.dataset.status = status;
    row.querySelector('.state').textContent = text;
  }

  function next() {
    if (!current && queue.length > 0) {
      current = queue.shift();
      setState(current.row, null, 'converting');
      if (!worker) startWorker();
      postJob(worker, {type: 'convert', id: current.id, name: current.name, file: current.file});
    }
    showProgress();
  }

  function finish(item, result) {
    const row = item.row;
    row.querySelector('.messages').textContent = result.messages;
    row.querySelector('.notes').textContent = result.notes.join('\n');
    if (result.status === 0 && result.wav) {
      const output = row.querySelector('.output');
      const url = makeUrl(result.wav);
      const audio = document.createElement('audio');
      audio.controls = true;
      audio.preload = 'metadata';
      audio.src = url;
      audio.setAttribute('aria-label', `Play ${item.name}.wav`);
      const picture = document.createElement('img');
      picture.src = makeUrl(result.picture);
      picture.alt = `Waveform of ${item.name}.wav`;
      const link = document.createElement('a');
      link.className = 'wav';
      link.href = url;
      link.download = baseName(item.name) + '.wav';
      link.textContent = `Download ${link.download} (${formatBytes(result.wav.size)})`;
      output.append(picture, audio, link);
      outputs.set(item.name + '.wav', {blob: result.wav, lastModified: item.file.lastModified});
    }
    setState(row, String(result.status), result.status === 0 ? 'converted' : 'refused');
    batch.done++;
    batch.doneBytes += item.file.size;
    current = null;
    next();
  }

  // Stops the conversion at hand (the worker is ended: a conversion runs
  // to its end once started) and drops the queue.
  function cancel() {
    if (worker && current) {
      worker.terminate();
      worker = null;
    }
    for (const item of current ? [current, ...queue] : queue) {
      setState(item.row, null, 'cancelled');
      item.row.dataset.cancelled = 'true';
      item.row.querySelector('.notes').textContent = 'Cancelled: not converted.';
      batch.files--;
      batch.bytes -= item.file.size;
    }
    queue.length = 0;
    current = null;
    showProgress();
  }

  async function downloadZip() {
    const button = $('zip');
    button.disabled = true;
    const entries = [...outputs].map(([name, {blob, lastModified}]) =>
      ({name, input: blob, lastModified: new Date(lastModified)}));
    try {
      const zip = await window.clientZip.downloadZip(entries).blob();
      let link = $('zip-file');
      if (!link) {
        link = document.createElement('a');
        link.id = 'zip-file';
        button.after(link);
      } else {
        URL.revokeObjectURL(link.href);
      }
      link.href = URL.createObjectURL(new Blob([zip], {type: 'application/zip'}));
      link.download = 'aifconv.zip';
      link.textContent = `aifconv.zip (${outputs.size} files, ${formatBytes(zip.size)})`;
      link.click();
    } catch (e) {
      $('progress-label').textContent = `The browser could not make the ZIP file (${e.name}).`;
    }
    button.disabled = outputs.size === 0;
  }

  function clear() {
    for (const url of urls) URL.revokeObjectURL(url);
    urls.length = 0;
    outputs.clear();
    $('results').replaceChildren();
    const link = $('zip-file');
    if (link) { URL.revokeObjectURL(link.href); link.remove(); }
    Object.assign(batch, {files: 0, done: 0, bytes: 0, doneBytes: 0});
    showProgress();
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
    const items = [...event.dataTransfer.items].filter((item) => item.kind === 'file');
    const entries = items.map((item) => item.webkitGetAsEntry && item.webkitGetAsEntry());
    const files = [];
    if (entries.length > 0 && entries.every(Boolean)) {
      document.body.dataset.idle = 'false';  // busy while the folders are walked
      for (const entry of entries) await walk(entry, files);
    } else {
      for (const file of event.dataTransfer.files) files.push({name: file.name, file});
    }
    addFiles(files.sort(byName));
  });

  $('cancel').addEventListener('click', cancel);
  $('zip').addEventListener('click', downloadZip);
  $('clear').addEventListener('click', clear);
  showProgress();
})();
