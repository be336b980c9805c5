// The list: a row for each file, in the order given, showing its state, the
// converter's status and messages as text, a plain sentence beside the
// common refusals, a small waveform picture, a download, and a player made
// only when asked for; above it the summary and the progress. Rows and the
// summary are updated in batches, a few times a second, so that the cost of
// a file does not grow with the list. Selectors scripts may rely on are
// listed in doc/web.md.
const $ = (id) => document.getElementById(id);
const rowTemplate = $('result-row');
const kPlayers = 3;        // players alive at a time; the oldest goes first
const kRenderMs = 150;     // list updates at most this often
const kRenderBudgetMs = 50;
const kGroupRows = 100;    // rows of a group of the list (page.css says why)

let items = [];            // every item of the list, in order: {id, name, file, row, state, result}
let rowsMade = 0;          // items[0 .. rowsMade) have their row in the list
const changed = new Set(); // items whose row is to be updated
const batch = {files: 0, done: 0, bytes: 0, doneBytes: 0};
const counts = {converted: 0, warned: 0, refused: 0, cancelled: 0, lost: 0};
const urls = [];           // object URLs to revoke on Clear
const players = [];        // the rows' audio elements, oldest first
let renderTimer = 0, lastRender = 0;

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
    `${counts.refused} refused, ${counts.cancelled} cancelled, ${waiting} waiting` +
    (counts.lost ? `, ${counts.lost} whose WAV the browser lost` : '');
  if (summary.textContent !== text) summary.textContent = text;  // a live region: only news
  const busy = queue.length > 0 || saving.size > 0 || slots.some((slot) => slot.item) || rowsMade < items.length ||
               changed.size > 0 || refused !== 'written' || zipClosing !== null;
  document.body.dataset.idle = String(!busy);
  if (paused === 'ask' || paused === 'offered') document.body.dataset.paused = paused === 'ask' ? 'ask' : 'part';
  else delete document.body.dataset.paused;
  $('cancel').disabled = !busy;
  $('zip').disabled = !items.some((item) => item.entry) || zipping || paused !== null;
  $('clear').disabled = busy || zipping || items.length === 0;
  $('output-folder').disabled = $('output-zip').disabled = busy && paused !== 'ask';
  if (busy) schedule();
}

function showRow(item) {
  const row = item.row;
  const result = item.result;
  row.querySelector('.state').textContent = item.state;
  if (item.state === 'cancelled') {
    row.dataset.cancelled = 'true';
    row.querySelector('.notes').textContent = item.cancelNote;
  }
  if (!result) return;
  row.dataset.status = String(result.status);
  if (result.status === 0 && result.messages) row.dataset.warned = 'true';
  row.querySelector('.messages').textContent = result.messages;
  row.querySelector('.hint').textContent = result.status === 0 ? '' : hint(result.messages);
  row.querySelector('.notes').textContent = result.notes.join('\n');
  const where = item.url ? 'url' : item.saved ? 'folder' : item.inZip ? 'zip' : item.part ? 'part' : '';
  if (result.status !== 0 || item.shown === where) return;
  item.shown = where;
  const output = row.querySelector('.output');
  for (const old of [...output.children]) if (old.tagName !== 'IMG') old.remove();
  if (result.picture) {
    const picture = document.createElement('img');
    picture.loading = 'lazy';
    picture.src = 'data:image/svg+xml,' + encodeURIComponent(result.picture);
    picture.alt = `Waveform of ${item.name}.wav`;
    output.append(picture);
    result.picture = null;
  }
  if (where === 'zip' || where === 'part') {
    const span = document.createElement('span');
    span.textContent = `in ${item.inZip || item.part} (${formatBytes(item.wavSize)})`;
    return output.append(span);
  }
  if (!where) return;
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
    const span = document.createElement('span');
    span.textContent = `in the folder (${formatBytes(item.wavSize)})`;
    output.append(span);
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

// A group out of sight keeps the height it had when last shown; after a
// change of filter each is given one from the rows it now shows, so that
// the list's length stays about right.
function refilter() {
  const show = $('results').dataset.show = $('filter').value;
  for (const group of $('results').children) {
    let height = 0;
    for (const row of group.children) {
      const refused = row.dataset.status === '1';
      if (show === 'all' || (show === 'refused' ? refused : row.dataset.warned)) height += refused ? 6 : 2.4;
    }
    group.style.containIntrinsicSize = `${height.toFixed(1)}rem`;
  }
}
