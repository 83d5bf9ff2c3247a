// The page: takes files from the drop zone and the two choosers, has the
// worker convert them, and lists each with its cues and a download link.
// Nothing here or in the worker sends a byte anywhere.
'use strict';

const $ = (id) => document.getElementById(id);
const results = $('results');
const statusLine = $('status');
const progress = $('progress');
const zipButton = $('zip');
const clearButton = $('clear');
const codePageChoice = $('codepage');

let worker = null;
let nextRequest = 1;
const pending = new Map();

// The worker is made from the page's own copy of worker.js, which makes it
// subject to this page's security policy.
async function startWorker() {
  const source = await (await fetch('worker.js')).blob();
  worker = new Worker(URL.createObjectURL(source));
  worker.onmessage = (event) => {
    const done = pending.get(event.data.id);
    pending.delete(event.data.id);
    if (done) done(event.data);
  };
  worker.postMessage({ type: 'start', base: new URL('.', location.href).href });
}
const workerReady = startWorker();

async function ask(message, transfer = []) {
  await workerReady;
  const id = nextRequest++;
  return new Promise((resolve) => {
    pending.set(id, resolve);
    worker.postMessage({ id, ...message }, transfer);
  });
}

// Every entry listed, in order: { path, file, li, srt, cues, url }.
let entries = [];
let batch = Promise.resolve();

function isSami(name) {
  return /\.smi$/i.test(name);
}

// As the program names its outputs: the name up to its last '.', then ".srt".
function outputName(name) {
  const dot = name.lastIndexOf('.');
  return (dot < 0 ? name : name.slice(0, dot)) + '.srt';
}

function baseName(path) {
  return path.slice(path.lastIndexOf('/') + 1);
}

function line(entry, parts) {
  entry.li.replaceChildren();
  const name = document.createElement('span');
  name.className = 'name';
  name.textContent = entry.path;
  entry.li.append(name, ': ');
  for (const part of parts) entry.li.append(part);
}

function note(text, bad) {
  const span = document.createElement('span');
  span.className = bad ? 'bad' : 'note';
  span.textContent = text;
  return span;
}

function updateButtons() {
  zipButton.disabled = !entries.some((entry) => entry.srt);
  clearButton.disabled = entries.length === 0;
}

async function convertEntry(entry) {
  if (entry.url) URL.revokeObjectURL(entry.url);
  entry.srt = null;
  entry.url = null;
  let bytes;
  try {
    bytes = await entry.file.arrayBuffer();
  } catch (error) {
    line(entry, [note('could not be read', true)]);
    entry.li.dataset.state = 'unreadable';
    return;
  }
  const started = performance.now();
  const reply = await ask({ type: 'convert', bytes, codePage: codePageChoice.value }, [bytes]);
  entry.ms = performance.now() - started;
  if (reply.error) {
    line(entry, [note('could not be converted (' + reply.error + ')', true)]);
    entry.li.dataset.state = 'failed';
    return;
  }
  entry.srt = new Uint8Array(reply.srt);
  entry.cues = reply.cues;
  entry.url = URL.createObjectURL(new Blob([entry.srt], { type: 'application/x-subrip' }));
  const link = document.createElement('a');
  const name = outputName(baseName(entry.path));
  link.href = entry.url;
  link.download = name;
  link.textContent = 'Download ' + name;
  line(entry, [note(reply.cues === 1 ? '1 cue' : reply.cues + ' cues'), ' ', link]);
  entry.li.dataset.state = 'converted';
}

// Converts the entries one by one, showing how far it has got.
function convertAll(list) {
  batch = batch.then(async () => {
    const work = list.filter((entry) => entry.sami);
    progress.hidden = work.length < 2;
    progress.max = Math.max(work.length, 1);
    let done = 0;
    for (const entry of work) {
      progress.value = done;
      statusLine.textContent = 'Converting ' + (done + 1) + ' of ' + work.length + '…';
      await convertEntry(entry);
      ++done;
    }
    progress.value = done;
    progress.hidden = true;
    const converted = entries.filter((entry) => entry.srt).length;
    statusLine.textContent = converted === 1 ? '1 file converted.' : converted + ' files converted.';
    updateButtons();
  });
  return batch;
}

// `found` holds { path, file }; a file chosen or dropped on its own that is
// not a .smi is listed as passed over, while a folder brings only its .smi files.
function add(found) {
  const added = [];
  for (const { path, file, single } of found) {
    const sami = isSami(path);
    if (!sami && !single) continue;
    const entry = { path, file, sami, li: document.createElement('li') };
    results.append(entry.li);
    if (sami) {
      line(entry, [note('waiting…')]);
    } else {
      line(entry, [note('not a .smi file: passed over')]);
      entry.li.dataset.state = 'passed-over';
    }
    entries.push(entry);
    added.push(entry);
  }
  updateButtons();
  if (added.length === 0) {
    statusLine.textContent = 'No .smi files there.';
    return batch;
  }
  return convertAll(added);
}

function pathIn(file) {
  return file.webkitRelativePath || file.name;
}

$('files').addEventListener('change', (event) => {
  add([...event.target.files].map((file) => ({ path: file.name, file, single: true })));
  event.target.value = '';
});
$('folder').addEventListener('change', (event) => {
  const files = [...event.target.files].map((file) => ({ path: pathIn(file), file }));
  files.sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
  add(files);
  event.target.value = '';
});

// Reads a dropped folder to the bottom; readEntries gives a folder in parts.
async function walk(entry, into, unreadable) {
  if (entry.isFile) {
    const path = entry.fullPath.replace(/^\//, '');
    if (!isSami(path)) return;
    try {
      into.push({ path, file: await new Promise((ok, fail) => entry.file(ok, fail)) });
    } catch (error) {
      unreadable.push(path);
    }
    return;
  }
  if (!entry.isDirectory) return;
  const reader = entry.createReader();
  const children = [];
  for (;;) {
    let part;
    try {
      part = await new Promise((ok, fail) => reader.readEntries(ok, fail));
    } catch (error) {
      break;  // a folder that cannot be read is passed over, as directory mode does
    }
    if (part.length === 0) break;
    children.push(...part);
  }
  for (const child of children) await walk(child, into, unreadable);
}

// A file that cannot be read still gets its line.
const unreadableFile = { arrayBuffer: () => Promise.reject(new Error('unreadable')) };

const dropZone = $('drop');
dropZone.addEventListener('dragover', (event) => {
  event.preventDefault();
  dropZone.classList.add('over');
});
dropZone.addEventListener('dragleave', () => dropZone.classList.remove('over'));
dropZone.addEventListener('drop', async (event) => {
  event.preventDefault();
  dropZone.classList.remove('over');
  const items = [...event.dataTransfer.items].filter((item) => item.kind === 'file');
  const roots = items.map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null));
  const plain = items.map((item) => item.getAsFile());
  const found = [];
  for (let i = 0; i < items.length; ++i) {
    const root = roots[i];
    if (root && root.isDirectory) {
      const inFolder = [];
      const unreadable = [];
      await walk(root, inFolder, unreadable);
      for (const path of unreadable) inFolder.push({ path, file: unreadableFile });
      inFolder.sort((a, b) => (a.path < b.path ? -1 : a.path > b.path ? 1 : 0));
      found.push(...inFolder);
    } else if (plain[i]) {
      found.push({ path: plain[i].name, file: plain[i], single: true });
    }
  }
  add(found);
});
// A file dropped beside the zone is not opened by the browser in place of the page.
window.addEventListener('dragover', (event) => event.preventDefault());
window.addEventListener('drop', (event) => event.preventDefault());

// A new code page converts everything listed again.
codePageChoice.addEventListener('change', () => convertAll(entries));

clearButton.addEventListener('click', () => {
  for (const entry of entries) if (entry.url) URL.revokeObjectURL(entry.url);
  entries = [];
  results.replaceChildren();
  statusLine.textContent = 'No files yet.';
  updateButtons();
});

// Every .srt under its own folder path; a name already taken gets " (2)", " (3)"...
zipButton.addEventListener('click', async () => {
  const files = [];
  const taken = new Set();
  for (const entry of entries) {
    if (!entry.srt) continue;
    const folder = entry.path.slice(0, entry.path.lastIndexOf('/') + 1);
    const name = outputName(baseName(entry.path));
    let path = folder + name;
    for (let n = 2; taken.has(path); ++n) path = folder + name.replace(/\.srt$/, ' (' + n + ').srt');
    taken.add(path);
    files.push({ path, bytes: entry.srt });
  }
  zipButton.disabled = true;
  statusLine.textContent = 'Making the .zip…';
  const reply = await ask({ type: 'zip', files });
  zipButton.disabled = false;
  if (reply.error) {
    statusLine.textContent = 'The .zip could not be made (' + reply.error + ').';
    return;
  }
  const url = URL.createObjectURL(new Blob([reply.zip], { type: 'application/zip' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = 'subtitles.zip';
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
  statusLine.textContent = 'The .zip is ready.';
});

// The choice starts from the browser's language, as the program's does from
// the locale: "ko-KR" is looked up as "ko_KR", Serbian in Latin as "sr@latin".
(async () => {
  const language = navigator.language || 'en';
  const parts = language.split('-');
  let name = parts[0];
  const region = parts.slice(1).find((part) => part.length === 2);
  if (region) name += '_' + region;
  if (parts.includes('Latn')) name += '@latin';
  const reply = await ask({ type: 'locale', name });
  if (!reply.error && !entries.length) codePageChoice.value = reply.codePage;
  document.documentElement.dataset.ready = 'true';
})();
