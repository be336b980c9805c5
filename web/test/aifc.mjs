// AIFF-C files made byte by byte for the browser tests and the page's
// benchmark: FORM/AIFC holding FVER, COMM (16 bits, an empty compression
// name) and SSND, then any further chunks given as bytes.
const u32 = (n) => { const b = Buffer.alloc(4); b.writeUInt32BE(n); return b; };
const chunk = (id, body) => Buffer.concat([Buffer.from(id, 'latin1'), u32(body.length), body, Buffer.alloc(body.length & 1)]);

// frames: sample frames, or packets for ima4; rate 22,050 or 44,100 Hz.
export function aifc(type, channels, frames, data, extra = Buffer.alloc(0), {rate = 22050, form = 'AIFC'} = {}) {
  const comm = Buffer.alloc(24);
  comm.writeUInt16BE(channels, 0); comm.writeUInt32BE(frames, 2); comm.writeUInt16BE(16, 6);
  comm.writeUInt16BE(rate === 44100 ? 0x400E : 0x400D, 8); comm.writeUInt32BE(0xAC440000, 10);  // both rates: 0xAC44 << 16 or 17
  comm.write(type, 18, 'latin1');
  const body = Buffer.concat([Buffer.from(form), chunk('FVER', u32(0xA2805140)), chunk('COMM', comm),
                              chunk('SSND', Buffer.concat([Buffer.alloc(8), data])), extra]);
  return Buffer.concat([Buffer.from('FORM'), u32(body.length), body]);
}

// ima4 packets need a step index of 0..88 in their header (34 bytes each).
export function fixIma4(data) {
  for (let p = 0; p < data.length; p += 34) data[p + 1] = (data[p + 1] & 0x80) | (data[p + 1] % 89);
  return data;
}
