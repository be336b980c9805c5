// Download all: one ZIP file of every WAV kept in the page.
let zipping = false;

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
