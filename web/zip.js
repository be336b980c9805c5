// The ZIP: a small writer of stored (uncompressed) entries, with ZIP64 where a
// size, an offset or the count of entries needs it (10,000 WAVs make about
// 4 GiB). An entry is {name, size, crc, lastModified}: the WAV's size and
// CRC-32 are known before its bytes are written (the worker computes the CRC
// as the converter writes), so each local header is final and the bytes
// follow it as they are. The same writer makes a ZIP as one Blob composed of
// small headers and the WAVs themselves (Blobs, or Files read from disk:
// nothing is copied) and streams one into a file as the WAVs come.
const kZip32 = 0xffffffff;
const utf8 = new TextEncoder();

function dosDateTime(ms) {
  const d = new Date(ms || Date.now());
  const year = Math.min(2107, Math.max(1980, d.getFullYear()));
  return [(d.getHours() << 11) | (d.getMinutes() << 5) | (d.getSeconds() >> 1),
          ((year - 1980) << 9) | ((d.getMonth() + 1) << 5) | d.getDate()];
}

// Little-endian fields in order: [bytes, value], 8-byte values as Numbers.
function fields(list) {
  const view = new DataView(new ArrayBuffer(list.reduce((sum, [bytes]) => sum + bytes, 0)));
  let at = 0;
  for (const [bytes, value] of list) {
    if (bytes === 2) view.setUint16(at, value, true);
    else if (bytes === 4) view.setUint32(at, value, true);
    else view.setBigUint64(at, BigInt(value), true);
    at += bytes;
  }
  return new Uint8Array(view.buffer);
}

class ZipWriter {
  constructor() {
    this.offset = 0;     // bytes written so far
    this.central = [];   // the central directory's records
    this.count = 0;
  }
  // The local header of the next entry; its `size` bytes are to follow it.
  add({name, size, crc, lastModified}) {
    const bytes = utf8.encode(name);
    const [time, date] = dosDateTime(lastModified);
    const big = size >= kZip32, far = this.offset >= kZip32;
    const local = fields([[4, 0x04034b50], [2, big ? 45 : 20], [2, 0x0800 /* UTF-8 name */], [2, 0 /* stored */],
      [2, time], [2, date], [4, crc], [4, big ? kZip32 : size], [4, big ? kZip32 : size],
      [2, bytes.length], [2, big ? 20 : 0]]);
    const local64 = big ? fields([[2, 1], [2, 16], [8, size], [8, size]]) : new Uint8Array(0);
    const extra = fields([...(big || far ? [[2, 1], [2, 8 * (2 * big + far)]] : []),
      ...(big ? [[8, size], [8, size]] : []), ...(far ? [[8, this.offset]] : [])]);
    this.central.push(fields([[4, 0x02014b50], [2, 45], [2, big || far ? 45 : 20], [2, 0x0800], [2, 0],
      [2, time], [2, date], [4, crc], [4, big ? kZip32 : size], [4, big ? kZip32 : size],
      [2, bytes.length], [2, extra.length], [2, 0], [2, 0], [2, 0], [4, 0], [4, far ? kZip32 : this.offset]]), bytes, extra);
    const header = new Uint8Array(local.length + bytes.length + local64.length);
    header.set(local);
    header.set(bytes, local.length);
    header.set(local64, local.length + bytes.length);
    this.offset += header.length + size;
    this.count++;
    return header;
  }
  // The central directory and its end records: the ZIP's last bytes.
  end() {
    const size = this.central.reduce((sum, part) => sum + part.length, 0);
    const zip64 = this.count >= 0xffff || this.offset >= kZip32 || size >= kZip32;
    const tail = [];
    if (zip64) {
      tail.push(fields([[4, 0x06064b50], [8, 44], [2, 45], [2, 45], [4, 0], [4, 0], [8, this.count], [8, this.count],
        [8, size], [8, this.offset]]), fields([[4, 0x07064b50], [4, 0], [8, this.offset + size], [4, 1]]));
    }
    const clip = (value, max) => (zip64 ? max : value);
    tail.push(fields([[4, 0x06054b50], [2, 0], [2, 0], [2, clip(this.count, 0xffff)], [2, clip(this.count, 0xffff)],
      [4, clip(size, kZip32)], [4, clip(this.offset, kZip32)], [2, 0]]));
    return new Blob([...this.central, ...tail]);
  }
}

// One ZIP as a Blob of the entries' own Blobs: [{name, size, crc,
// lastModified, data}].
function zipBlob(entries) {
  const writer = new ZipWriter();
  const parts = [];
  for (const entry of entries) parts.push(writer.add(entry), entry.data);
  parts.push(writer.end());
  return new Blob(parts, {type: 'application/zip'});
}

let zipping = false;
let zipParts = 0;  // parts of the ZIP offered so far (the memory full)

// Checks that each item's kept WAV reads back (a lost one's row says so),
// then offers the ZIP of those that do as a link a.zip-part named fileName
// (Download all's is a#zip-file too). Returns the link, or null.
async function makeZip(list, fileName, why = '') {
  zipping = true;
  const status = $('zip-status');
  status.dataset.state = 'making';
  render();
  const total = list.reduce((sum, item) => sum + item.entry.size, 0);
  const entries = [], lost = [];
  let bytes = 0, shown = 0;
  for (let at = 0; at < list.length; at += 16) {
    const group = list.slice(at, at + 16);
    const reads = await Promise.allSettled(group.map((item) => readBack(item.entry)));
    group.forEach((item, k) => {
      if (reads[k].status === 'fulfilled') {
        entries.push(item.entry);
        bytes += item.entry.size;
      } else {
        lost.push(item);
        lose(item, reads[k].reason?.name || 'unreadable');
      }
    });
    if (performance.now() - shown > 100) {
      shown = performance.now();
      status.textContent = `Making the ZIP file: ${entries.length + lost.length} of ${list.length} files, ` +
        `${formatBytes(bytes)} of ${formatBytes(total)}`;
    }
  }
  const names = lost.slice(0, 5).map((item) => item.name).join(', ') + (lost.length > 5 ? ` and ${lost.length - 5} more` : '');
  status.textContent = (lost.length === 0 ? '' : `Not in the ZIP file: the WAV files of ${lost.length} files ` +
    `could no longer be read (${names}); they are marked in the list. `) + why;
  let link = null;
  if (entries.length > 0) {
    const zip = zipBlob(entries);
    link = document.createElement('a');
    link.className = 'zip-part';
    link.href = URL.createObjectURL(zip);
    link.download = fileName;
    link.textContent = `${fileName} (${entries.length} files, ${formatBytes(zip.size)})`;
    zipLinks().append(link, ' ');
  }
  status.dataset.state = link ? 'done' : 'failed';
  zipping = false;
  render();
  return link;
}

// A kept WAV's bytes can still be read: a Blob in memory read whole (the
// budget is small), a file on disk its first and last byte.
async function readBack(entry) {
  if (!entry.saved) return entry.data.arrayBuffer();
  await entry.data.slice(0, 1).arrayBuffer();
  return entry.data.slice(entry.size - 1).arrayBuffer();
}

function zipLinks() {
  let box = $('zip-parts');
  if (!box) {
    box = document.createElement('p');
    box.id = 'zip-parts';
    $('zip-status').after(box);
  }
  return box;
}

// Download all: the ZIP of every WAV the page keeps (the last part, when
// parts were saved before).
async function downloadZip() {
  const old = $('zip-file');
  if (old) { URL.revokeObjectURL(old.href); old.remove(); }
  const name = zipParts > 0 ? `aifconv-part-${zipParts + 1}.zip` : 'aifconv.zip';
  const link = await makeZip(items.filter((item) => item.entry), name);
  if (!link) return;
  link.id = 'zip-file';
  link.addEventListener('click', () => { downloaded = true; });
  link.click();
}
