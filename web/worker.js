// The page's worker: it owns the converter and runs one conversion at a time.
// Its messages with the page are described in one place: pool.js.
// 'read' is asked only where this worker cannot read the File it is given
// (WebKit, where a worker of a page opened from file:// has an opaque
// origin, reads no Blob at all, not even its own, and no blob: URL), found
// by trying: the first file's first byte. The page then reads the file
// window by window and hands over each window's bytes, one at a time, and
// the converter runs once all are here (it reads synchronously).
// A WAV that fits one staging buffer comes back as an ArrayBuffer when the
// page asks for one (`buffer`): in Chromium, the bytes of a Blob made in a
// worker stay in its memory until that Blob is collected, which a small Blob
// hardly ever makes happen (thousands of them grew the worker by hundreds of
// MiB). The waveform's picture is SVG text (the page shows it as a data:
// URL: no Blob per row).
// The page runs several of these workers at once, one file each.
// The output never stays in the WebAssembly memory: each write of the
// converter is copied to a staging buffer that becomes a Blob when full.
// A conversion runs to its end once started (the converter is synchronous),
// so the page cancels one by ending this worker and starting a new one.
'use strict';

const kStageBytes = 32 << 20;  // fewer, larger Blobs: each costs a round trip to the browser
const kColumns = 120;
const kPictureHeight = 32;
const kProgressMs = 100;
const kSamplesPerColumn = 4096;  // looked at, at most: a long output is sampled

let lines = [];
const ready = createConverter({printErr: (line) => lines.push(line), print: (line) => lines.push(line)});
let stage = null;
let blobsReadable = null;  // whether this worker can read the Files it is given; null: not known yet
let answer = null;         // resolves the 'read' asked at present

// Min and max of the samples (all channels) per column of the picture, from
// the bytes of the WAV output as they are written. A column of more than
// 2 * kSamplesPerColumn samples looks at every step-th one (an odd step, so
// both channels of a stereo file are seen): the picture of a long file costs
// little, and a short file's is exact.
class Waveform {
  constructor() {
    this.header = new Uint8Array(44);
    this.samples = 0;
    this.perColumn = 0;
    this.step = 1;
    this.low = new Int16Array(kColumns);
    this.high = new Int16Array(kColumns);
  }
  add(bytes, position) {
    let start = 0;
    if (position < 44) {
      start = Math.min(bytes.length, 44 - position);
      this.header.set(bytes.subarray(0, start), position);
      if (position + start === 44) {
        const view = new DataView(this.header.buffer);
        this.samples = Math.floor(view.getUint32(40, true) / 2);
        this.perColumn = Math.max(1, Math.ceil(this.samples / kColumns));
        this.step = Math.max(1, Math.floor(this.perColumn / kSamplesPerColumn)) | 1;
      }
    }
    let offset = position + start - 44;
    if (start >= bytes.length || this.perColumn === 0) return;
    if (offset & 1) start++, offset++;  // a sample split between writes is left out
    const count = (bytes.length - start) >> 1;
    const at = bytes.byteOffset + start;
    const values = at & 1 ? new Int16Array(bytes.slice(start, start + 2 * count).buffer)
                          : new Int16Array(bytes.buffer, at, count);
    let s = offset >> 1;
    let i = 0;
    while (i < count) {
      const column = Math.floor(s / this.perColumn);
      const end = Math.min(count, i + (column + 1) * this.perColumn - s);
      let low = this.low[column], high = this.high[column];
      // From the first sample of the run whose index is a multiple of step.
      for (let k = i + (this.step - s % this.step) % this.step; k < end; k += this.step) {
        const v = values[k];
        if (v < low) low = v;
        if (v > high) high = v;
      }
      this.low[column] = low;
      this.high[column] = high;
      s += end - i;
      i = end;
    }
  }
  // One vertical stroke per column, from min to max, on whole pixels: the
  // top of the stroke at floor((32767 - max) * H / 65536), its bottom at
  // ceil((32767 - min) * H / 65536), at least one pixel long.
  picture() {
    const columns = Math.min(kColumns, Math.ceil(this.samples / this.perColumn) || 0);
    let path = '';
    for (let c = 0; c < columns; c++) {
      const top = Math.floor((32767 - this.high[c]) * kPictureHeight / 65536);
      const bottom = Math.max(top + 1, Math.ceil((32767 - this.low[c]) * kPictureHeight / 65536));
      path += `M${c}.5 ${top}V${bottom}`;
    }
    return `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${Math.max(1, columns)} ${kPictureHeight}" ` +
           `preserveAspectRatio="none"><path d="${path}" stroke="#1f5fa8" fill="none"/></svg>`;
  }
}

// CRC-32 (as ZIP files use it) of bytes, going on from `crc`.
const crcTable = Int32Array.from({length: 256}, (_, n) => {
  for (let k = 0; k < 8; k++) n = n & 1 ? 0xedb88320 ^ (n >>> 1) : n >>> 1;
  return n;
});
function crc32(crc, bytes) {
  let c = ~crc;
  for (let i = 0; i < bytes.length; i++) c = crcTable[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
  return ~c >>> 0;
}

// Where PAGEFS sends the output and the input's progress.
class Sink {
  constructor(id) {
    this.id = id;
    this.notes = [];
    this.lastProgress = 0;
    this.reset();
  }
  reset() {
    this.parts = [];
    this.fill = 0;
    this.crc = 0;
    this.wave = new Waveform();
  }
  write(bytes, position) {
    try {
      this.wave.add(bytes, position);
      this.crc = crc32(this.crc, bytes);
      let done = 0;
      while (done < bytes.length) {
        const take = Math.min(bytes.length - done, kStageBytes - this.fill);
        stage.set(bytes.subarray(done, done + take), this.fill);
        this.fill += take;
        done += take;
        if (this.fill === kStageBytes) this.flush();
      }
      return true;
    } catch (e) {
      this.notes.push(`The browser ran out of memory for this output (${e.name}); nothing was kept.`);
      return false;
    }
  }
  flush() {
    if (this.fill > 0) this.parts.push(new Blob([stage.subarray(0, this.fill)]));
    this.fill = 0;
  }
  read(upTo) {
    const now = performance.now();
    if (now - this.lastProgress < kProgressMs) return;
    this.lastProgress = now;
    postMessage({type: 'progress', id: this.id, read: upTo});
  }
  readFailed(e) {
    this.notes.push(`The browser could not read this file (${e.name}).`);
  }
}

// The input as PAGEFS reads it: the File itself, or the bytes the page read
// of it, PAGEFS.WINDOW at a time, where this worker cannot read it. A file
// neither can read has the page's error in place of its windows.
async function inputOf(module, id, file) {
  if (file.size === 0 || blobsReadable === true) return file;
  if (blobsReadable === null) {
    try {
      new FileReaderSync().readAsArrayBuffer(file.slice(0, 1));
      blobsReadable = true;
      return file;
    } catch (e) {
      // Not here: the page is asked (a file it cannot read either has its error).
    }
  }
  const step = module.PAGEFS.WINDOW;
  const windows = [];
  for (let start = 0; start < file.size; start += step) {
    const reply = await new Promise((resolve) => {
      answer = resolve;
      postMessage({type: 'read', id, start, end: Math.min(file.size, start + step)});
    });
    if (reply.error) {
      // The page cannot read it either: each window from here on says why.
      const failed = {name: reply.error};
      while (windows.length * step < file.size) windows.push(failed);
      break;
    }
    windows.push(new Uint8Array(reply.bytes));
  }
  if (windows[0] instanceof Uint8Array) blobsReadable = false;
  return {size: file.size, windows};
}

async function convert(module, {id, name, file, buffer}) {
  const data = await inputOf(module, id, file);
  if (!stage) stage = new Uint8Array(kStageBytes);
  const FS = module.FS;
  const sink = new Sink(id);
  lines = [];
  FS.mkdirTree('/selection');
  FS.mount(module.PAGEFS, {input: {name, data}, sink}, '/selection');
  FS.chdir('/selection');
  let status;
  try {
    status = module.ccall('aifconv_convert', 'number', ['string', 'string'], [name, name + '.wav']);
  } catch (e) {
    // The converter stopped (it never should): this worker's state is lost;
    // the page starts a new one for the next file.
    const notes = [...sink.notes, `The converter stopped in the browser (${e.name || e}); nothing was kept.`];
    postMessage({type: 'done', id, status: 1, messages: lines.map((line) => line + '\n').join(''), notes,
                 wav: null, picture: null, lost: true});
    close();
    return;
  }
  FS.chdir('/');
  FS.unmount('/selection');
  let wav = null, picture = null;
  if (status === 0 && buffer && sink.parts.length === 0) {
    wav = stage.slice(0, sink.fill).buffer;
  } else if (status === 0) {
    sink.flush();
    wav = new Blob(sink.parts, {type: 'audio/wav'});
  }
  if (status === 0) picture = sink.wave.picture();
  sink.parts = [];
  const messages = lines.map((line) => line + '\n').join('');
  postMessage({type: 'done', id, status, messages, notes: sink.notes, wav, crc: sink.crc, picture}, wav instanceof ArrayBuffer ? [wav] : []);
}

// One conversion at a time, in the order asked.
let work = ready;
onmessage = (event) => {
  const message = event.data;
  if (message.type === 'bytes' && answer) {
    const resolve = answer;
    answer = null;
    resolve(message);
  } else if (message.type === 'convert') {
    // (A failure of the worker's own code ends it as an uncaught error does,
    // which the page sees; the next job then gets a new worker.)
    work = work.then((module) => convert(module, message).then(() => module, (error) => {
      setTimeout(() => { throw error; });
      return module;
    }));
  }
};
