// The worker pool: a few workers (worker.js), each owning a converter and
// converting one file at a time, and the one place that speaks their
// protocol. Messages are plain objects, each with the job's `id`:
//   page -> worker
//     {type: 'convert', id, name, file, buffer}
//         name: the file's path in the selection (the converter's input
//         name; its output is name + '.wav'); file: the File; buffer: true
//         when the WAV is to be written to disk (store.js), so that
//         an output that fits one staging buffer comes back as an
//         ArrayBuffer, not a Blob (worker.js says why)
//     {type: 'bytes', id, start, bytes}  an answer to 'read': an ArrayBuffer
//                                        of file.slice(start, end), handed over
//     {type: 'bytes', id, start, error}  or the name of the page's error
//   worker -> page
//     {type: 'progress', id, read}       input bytes read so far
//     {type: 'read', id, start, end}     the bytes [start, end) of the job's
//         file, please: asked only where the worker cannot read the File
//         itself (WebKit, page opened from file://), one window at a time
//     {type: 'done', id, status, messages, notes, wav, crc, picture, lost}
//         status: the converter's exit status; messages: its standard error,
//         verbatim; notes: lines of the page's own (a file the browser cannot
//         read, memory); wav (status 0 only, else null): a Blob, or with
//         `buffer` an ArrayBuffer; crc: the WAV's CRC-32 (for the ZIP);
//         picture: the SVG text of the waveform (status 0 only); lost: true
//         when the worker cannot go on (the converter stopped), which the
//         pool then ends.
// A worker that fails outright (an error event) fails its file the same way.
const workerUrl = URL.createObjectURL(new Blob([$('worker-source').textContent], {type: 'text/javascript'}));

const kWorkers = Math.max(1, Math.min(navigator.hardwareConcurrency || 2, 4));
// With the WAVs written to disk, a worker is ended after this many files and a
// new one started, once no Blob it made is still being written (the
// bytes of its Blobs go with it). In Chromium a worker's memory grows by
// about an input's size for each file it converts, though its state is
// the same after each: 2,000 files took the page's process past 600 MiB.
const kFilesPerWorker = 100;

const slots = [];          // {worker, item}: one per worker

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

// The one place a file is handed to a worker. For a WAV written to disk, a
// small output comes back as an ArrayBuffer, not a Blob (worker.js says why).
function post(slot, item) {
  postJob(slot.worker, {type: 'convert', id: item.id, name: item.name, file: item.file, buffer: storeKind() !== 'memory'});
}

// Posts a job to a worker and answers its 'read' requests for the bytes of
// the job's file until the job is done: one window at a time, so the page
// never holds more than one. Other messages are left to the slot's own
// listener.
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
