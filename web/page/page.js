// The page: takes files dropped anywhere on it or chosen, has a few workers
// convert them, and lists each with its cues, a preview and a download link.
// Nothing here or in the workers sends a byte anywhere.
'use strict';

const $ = (id) => document.getElementById(id);
const results = $('results');
const statusLine = $('status');
const progress = $('progress');
const zipButton = $('zip');
const clearButton = $('clear');
const codePageChoice = $('codepage');
const outputChoice = $('output-encoding');
const splitChoice = $('split-languages');
const languageChoice = $('language');
const problemsOnly = $('problems-only');
const flaggedLine = $('flagged');

// Files larger than this are not read at all: a worker holds the whole file
// in its WebAssembly memory (4 GB at most) while converting it, and the
// browser the .srt, up to twice as large. A smaller file that still runs out
// of memory is reported the same way. (The program has no such limit.)
const kLargestFile = 1024 * 1024 * 1024;

const kTexts = {
  en: {
    title: 'Lumentrace: SAMI to SubRip',
    subtitle: 'SAMI (.smi) to SubRip (.srt)',
    privateStrong: 'Your files stay on this computer.',
    privateRest: ' They are converted here, in this page. The page\'s code sends them nowhere, and its security policy stops it from fetching or sending anything to other addresses.',
    offline: 'Save this one-file page to use it offline or without a server',
    dropTitle: 'Drop .smi files or a folder anywhere on this page',
    chooseThem: 'or choose them:',
    chooseFiles: 'Choose files…',
    chooseFolder: 'Choose a folder…',
    dropHere: 'Drop to convert',
    encodingLabel: 'Encoding of older files',
    encodingHint: 'Files without a byte-order mark (not saved as UTF-8 or UTF-16) are read in it, as the program reads them.',
    outputLabel: 'Write subtitles as',
    utf16: 'UTF-16 with BOM (as the program writes)',
    utf8: 'UTF-8 (for YouTube, Android players and others that read only UTF-8)',
    splitLabel: 'Two-language files',
    together: 'keep together (as the program)',
    split: 'one file per language',
    splitHint: 'A file whose captions carry two languages or more (Korean and English, say) gives film.ko.srt, film.en.srt and so on.',
    languages: (n) => `${n} languages, one file each`,
    languageLabel: 'Page language',
    outputTitle: 'Converted files',
    problemsOnly: 'Show only files with a problem',
    zip: 'Download all (.zip)',
    clear: 'Clear the list',
    remove: 'Remove',
    noFiles: 'No files yet.',
    noSmi: 'No .smi files there.',
    gettingReady: 'Getting ready… the files wait until the page knows their encoding.',
    waiting: 'waiting…',
    converting: 'converting…',
    progress: (done, total) => `Converting: ${done} of ${total} done…`,
    count: (n) => (n === 1 ? '1 file' : `${n} files`),
    converted: (n) => `${n} converted`,
    warned: (n) => `${n} with a warning`,
    failed: (n) => `${n} failed`,
    passedOver: (n) => `${n} passed over`,
    cues: (n) => (n === 1 ? '1 cue' : `${n} cues`),
    download: (name) => `Download ${name}`,
    preview: 'Preview',
    previewOf: (name) => `Preview of ${name}`,
    unreadable: 'could not be read',
    notConverted: 'could not be converted',
    tooLarge: (mb) => `too large for the page: ${mb} MB — use the program`,
    notSami: 'not a SAMI file: no subtitle found',
    notSmiName: 'not a .smi file: passed over',
    noCue: 'no subtitle found: the .srt is empty',
    looksWrong: (now, likely) => `the text looks wrong in ${now}; it reads as ${likely}.`,
    readAs: (name) => `Read as ${name}`,
    readAllAs: (n, name) => `Read these ${n} files as ${name}`,
    flagged: (n, name) => `${n} files look like ${name} read in the wrong encoding.`,
    makingZip: 'Making the .zip…',
    zipReady: 'The .zip is ready.',
    zipFailed: 'The .zip could not be made.',
    codePages: {
      CP1252: 'Western European (Windows-1252)', CP1250: 'Central European (Windows-1250)',
      CP1251: 'Cyrillic (Windows-1251)', CP1253: 'Greek (Windows-1253)', CP1254: 'Turkish (Windows-1254)',
      CP1255: 'Hebrew (Windows-1255)', CP1256: 'Arabic (Windows-1256)', CP1257: 'Baltic (Windows-1257)',
      CP1258: 'Vietnamese (Windows-1258)', CP874: 'Thai (Windows-874)', CP932: 'Japanese (Shift_JIS, CP932)',
      CP936: 'Chinese Simplified (GBK, CP936)', CP950: 'Chinese Traditional (Big5, CP950)', CP949: 'Korean (CP949)',
    },
  },
  ko: {
    title: 'Lumentrace: SAMI 자막을 SubRip으로',
    subtitle: 'SAMI(.smi)를 SubRip(.srt)으로',
    privateStrong: '파일은 이 컴퓨터 밖으로 나가지 않습니다.',
    privateRest: ' 변환은 이 페이지 안에서 이루어집니다. 페이지의 코드는 파일을 어디로도 보내지 않으며, 보안 정책이 다른 주소에서 무엇을 가져오거나 다른 주소로 무엇을 보내는 것을 막습니다.',
    offline: '파일 하나로 된 이 페이지를 저장하면 인터넷이나 서버 없이도 쓸 수 있습니다',
    dropTitle: '.smi 파일이나 폴더를 이 페이지 아무 곳에나 끌어다 놓으세요',
    chooseThem: '또는 직접 고르세요:',
    chooseFiles: '파일 고르기…',
    chooseFolder: '폴더 고르기…',
    dropHere: '여기에 놓으면 변환합니다',
    encodingLabel: '예전 파일의 인코딩',
    encodingHint: '바이트 순서 표시(BOM)가 없는 파일, 곧 UTF-8이나 UTF-16으로 저장되지 않은 파일은 프로그램과 똑같이 이 인코딩으로 읽습니다.',
    outputLabel: '자막 저장 방식',
    utf16: 'BOM이 있는 UTF-16 (프로그램과 같음)',
    utf8: 'UTF-8 (유튜브, 안드로이드 플레이어처럼 UTF-8만 읽는 곳용)',
    splitLabel: '두 언어가 든 파일',
    together: '함께 두기 (프로그램과 같음)',
    split: '언어마다 파일 하나씩',
    splitHint: '자막에 두 언어 이상(한국어와 영어 등)이 든 파일은 film.ko.srt, film.en.srt처럼 언어마다 파일 하나가 됩니다.',
    languages: (n) => `언어 ${n}개, 언어마다 파일 하나`,
    languageLabel: '페이지 언어',
    outputTitle: '변환한 파일',
    problemsOnly: '문제가 있는 파일만 보기',
    zip: '모두 내려받기 (.zip)',
    clear: '목록 지우기',
    remove: '빼기',
    noFiles: '아직 파일이 없습니다.',
    noSmi: '그곳에는 .smi 파일이 없습니다.',
    gettingReady: '준비하는 중… 인코딩이 정해질 때까지 파일은 기다립니다.',
    waiting: '기다리는 중…',
    converting: '변환하는 중…',
    progress: (done, total) => `변환하는 중: ${total}개 중 ${done}개 완료…`,
    count: (n) => `파일 ${n}개`,
    converted: (n) => `${n}개 변환`,
    warned: (n) => `${n}개 경고`,
    failed: (n) => `${n}개 실패`,
    passedOver: (n) => `${n}개 건너뜀`,
    cues: (n) => `자막 ${n}개`,
    download: (name) => `${name} 내려받기`,
    preview: '미리 보기',
    previewOf: (name) => `${name} 미리 보기`,
    unreadable: '읽을 수 없습니다',
    notConverted: '변환하지 못했습니다',
    tooLarge: (mb) => `페이지에서 다루기에는 너무 큽니다: ${mb} MB — 프로그램을 쓰세요`,
    notSami: 'SAMI 파일이 아닙니다: 자막을 찾지 못했습니다',
    notSmiName: '.smi 파일이 아니어서 건너뛰었습니다',
    noCue: '자막을 찾지 못했습니다: .srt가 비어 있습니다',
    looksWrong: (now, likely) => `${now}(으)로 읽은 글자가 이상합니다. ${likely}(으)로 읽으면 제대로 보입니다.`,
    readAs: (name) => `${name}(으)로 읽기`,
    readAllAs: (n, name) => `표시된 파일 ${n}개를 ${name}(으)로 읽기`,
    flagged: (n, name) => `파일 ${n}개가 ${name} 파일을 잘못된 인코딩으로 읽은 것 같습니다.`,
    makingZip: '.zip 만드는 중…',
    zipReady: '.zip이 준비되었습니다.',
    zipFailed: '.zip을 만들지 못했습니다.',
    codePages: {
      CP1252: '서유럽어 (Windows-1252)', CP1250: '중앙 유럽어 (Windows-1250)',
      CP1251: '키릴 문자 (Windows-1251)', CP1253: '그리스어 (Windows-1253)', CP1254: '터키어 (Windows-1254)',
      CP1255: '히브리어 (Windows-1255)', CP1256: '아랍어 (Windows-1256)', CP1257: '발트어 (Windows-1257)',
      CP1258: '베트남어 (Windows-1258)', CP874: '태국어 (Windows-874)', CP932: '일본어 (Shift_JIS, CP932)',
      CP936: '중국어 간체 (GBK, CP936)', CP950: '중국어 번체 (Big5, CP950)', CP949: '한국어 (CP949)',
    },
  },
};

// Choices are kept in the browser's storage for this page; a browser that
// refuses storage simply forgets them.
function recall(key) {
  try {
    return localStorage.getItem('lumentrace.' + key);
  } catch (error) {
    return null;
  }
}
function remember(key, value) {
  try {
    localStorage.setItem('lumentrace.' + key, value);
  } catch (error) { /* not kept */ }
}

// The page's language: the one chosen before, else the first of the
// browser's languages the page has, else English.
function firstLanguage() {
  const kept = recall('language');
  if (kTexts[kept]) return kept;
  for (const tag of navigator.languages || [navigator.language || 'en']) {
    const language = tag.toLowerCase().split('-')[0];
    if (kTexts[language]) return language;
  }
  return 'en';
}
let language = firstLanguage();
const t = (key) => kTexts[language][key];

// Every entry listed, in order: { path, file, sami, li, state, srt (a Blob),
// cues, url, preview, failure, likely, codePage (a file's own choice) }; a
// file split by language has instead parts: [{ suffix, srt, cues, url,
// preview }], one per language.
let entries = [];
// Entries waiting for a worker, in order.
let queue = [];
// The run shown in the status line: how many entries it took in, how many are done.
let run = { total: 0, done: 0 };
let ready = false;

// ---- Texts ----------------------------------------------------------------

function showTexts() {
  document.documentElement.lang = language;
  document.title = t('title');
  for (const element of document.querySelectorAll('[data-text]')) {
    element.textContent = t(element.dataset.text);
  }
  for (const option of codePageChoice.options) option.textContent = t('codePages')[option.value];
  for (const entry of entries) showSoon(entry);
  showStatus();
}

function codePageName(codePage) {
  return t('codePages')[codePage] || codePage;
}

// ---- The list ---------------------------------------------------------------

// A line's elements are copied from these models, which costs far less than
// making each anew over hundreds of lines.
function model(html) {
  const holder = document.createElement('template');
  holder.innerHTML = html;
  return holder.content.firstChild;
}
const kNote = model('<span class="note"></span>');
const kButton = model('<button type="button"></button>');
const kLink = model('<a href="#"></a>');
// A preview is a button that shows or hides the text under it: as a
// <details> element would, at a fraction of what one costs to lay out.
const kPreview = model('<button type="button" class="preview" aria-expanded="false"></button>');
const kPreviewText = model('<pre class="preview" hidden></pre>');
// A line: the file's path, what became of it, the button that removes it,
// and after that its preview or its languages.
const kLine = model('<li><span class="name"></span>: <span class="what"></span> <button type="button" class="remove">×</button></li>');

function note(text, kind) {
  const span = kNote.cloneNode(false);
  if (kind) span.className = kind;
  span.textContent = text;
  return span;
}

// The list's buttons and links (and those of the line above it) answer
// through one listener (`act` on the element), so that no line needs
// listeners of its own.
function button(text, act) {
  const element = kButton.cloneNode(false);
  element.textContent = text;
  element.act = act;
  return element;
}
function act(event) {
  const target = event.target.closest && event.target.closest('button, a');
  if (target && target.act) target.act();
}
results.addEventListener('click', act);
flaggedLine.addEventListener('click', act);

// As the program names its outputs: the name up to its last '.', then ".srt".
function outputName(name) {
  const dot = name.lastIndexOf('.');
  return (dot < 0 ? name : name.slice(0, dot)) + '.srt';
}

// A language's .srt: film.smi gives film.ko.srt.
function partName(name, part) {
  return outputName(name).replace(/\.srt$/, '.' + part.suffix + '.srt');
}

// What an entry gives: its .srt, or its languages' (each { name, srt, cues, url, preview }).
function outputsOf(entry) {
  const name = baseName(entry.path);
  if (entry.parts) return entry.parts.map((part) => Object.assign(part, { name: partName(name, part) }));
  if (!entry.srt) return [];
  entry.name = outputName(name);
  return [entry];
}

function baseName(path) {
  return path.slice(path.lastIndexOf('/') + 1);
}

function failureText(entry) {
  if (entry.failure === 'too-large') return t('tooLarge')(Math.round(entry.size / (1024 * 1024)));
  if (entry.failure === 'not-sami') return t('notSami');
  if (entry.failure === 'failed') return t('notConverted');
  return t('unreadable');
}

function newLine(entry) {
  const li = kLine.cloneNode(true);
  li.firstChild.textContent = entry.path;
  li.what = li.children[1];
  li.removeButton = li.lastChild;
  li.removeButton.act = () => removeEntry(entry);
  return li;
}

// An entry's line: its path, then what became of it.
function showEntry(entry) {
  const li = entry.li;
  const { what, removeButton: remove } = li;
  while (remove.nextSibling) remove.nextSibling.remove();
  entry.shown = entry.state;
  li.dataset.state = entry.state;
  remove.setAttribute('aria-label', t('remove') + ': ' + entry.path);
  const said = [];
  if (entry.state === 'waiting') said.push(note(ready ? t('waiting') : t('gettingReady')));
  if (entry.state === 'converting') said.push(note(t('converting')));
  if (entry.state === 'passed-over') said.push(note(t('notSmiName')));
  if (entry.state === 'failed') said.push(note(failureText(entry), 'bad'));
  const done = entry.state === 'converted' || entry.state === 'warning';
  const outputs = done ? outputsOf(entry) : [];
  if (done && !entry.parts) said.push(...outputLine(outputs[0]));
  if (done && entry.parts) said.push(note(t('languages')(entry.parts.length)));
  if (done && entry.likely) {
    said.push(' ', note(t('looksWrong')(codePageName(entry.readIn), codePageName(entry.likely)), 'warn'), ' ',
      button(t('readAs')(codePageName(entry.likely)), () => readAgain([entry], entry.likely)));
  }
  what.replaceChildren(...said);
  if (done && !entry.parts && entry.preview) li.append(...previewOf(entry, t('preview')));
  if (done && entry.parts) {
    const list = document.createElement('ul');
    list.className = 'parts';
    for (const part of outputs) {
      const item = document.createElement('li');
      item.append(...outputLine(part));
      if (part.preview) item.append(...previewOf(part, t('previewOf')(part.name)));
      list.append(item);
    }
    li.append(list);
  }
}

// Draws an entry's line as it is now: a line drawn waiting that is now
// being converted changes only its note.
function draw(entry) {
  const waiting = entry.shown === 'waiting' && entry.state === 'converting' && entry.li.what.firstChild;
  if (!waiting) {
    showEntry(entry);
    return;
  }
  entry.shown = entry.state;
  entry.li.dataset.state = entry.state;
  waiting.textContent = t('converting');
}

// The page's own work comes in slices of at most this many ms (and what one
// look at the disk or one line takes beyond), so that frames keep coming
// while hundreds of files are converted.
const kSliceMs = 8;

// Lines are drawn a slice at a time, and at most kDrawLines at a time (the
// browser lays each out afterwards): a worker's answer for a whole batch, or a
// folder of hundreds of files, never holds the page still for long. While
// files are being converted, the list and the status are drawn at most every
// kDrawEveryMs: each drawing lays the whole list out again, which over
// hundreds of lines costs more than the lines themselves. `toDraw` keeps the
// entries to draw in the order they were first asked for, so that new lines
// join the list in order.
const kDrawEveryMs = 50;
const kDrawLines = 48;
const kDrawLinesAtEnd = 400;
const kEndSliceMs = 40;
const toDraw = new Set();
let drawPending = false;
let drawTimer = 0;
let lastDrawn = -Infinity;

function showSoon(entry) {
  toDraw.add(entry);
  drawSoon();
}

// `now`: at the next frame, however recent the last drawing.
function drawSoon(now) {
  if (drawPending && !(now && drawTimer)) return;
  clearTimeout(drawTimer);
  drawTimer = 0;
  drawPending = true;
  const wait = now || run.done === run.total ? 0 : lastDrawn + kDrawEveryMs - performance.now();
  if (wait > 0) {
    drawTimer = setTimeout(() => {
      drawTimer = 0;
      requestAnimationFrame(drawSome);
    }, wait);
  } else {
    requestAnimationFrame(drawSome);
  }
}

function drawSome() {
  drawPending = false;
  const start = performance.now();
  const added = document.createDocumentFragment();
  // Once the run is over, what is left is drawn in one longer slice rather
  // than a few lines a frame: nothing else is waiting for the page then.
  const over = run.done === run.total;
  const most = over ? kDrawLinesAtEnd : kDrawLines;
  const sliceMs = over ? kEndSliceMs : kSliceMs;
  let lines = 0;
  for (const entry of toDraw) {
    toDraw.delete(entry);
    draw(entry);
    if (!entry.li.parentNode) added.append(entry.li);
    if (++lines >= most || performance.now() - start >= sliceMs) break;
  }
  results.append(added);
  lastDrawn = performance.now();
  if (toDraw.size) drawSoon();
  showStatus();
  wakeIdleWaiters();
}

// An .srt's cue count and download link (`output` as outputsOf gives it).
function outputLine(output) {
  const link = kLink.cloneNode(false);
  if (output.url) link.href = output.url;
  link.download = output.name;
  // The file's address is made when it is first asked for.
  link.act = () => {
    if (!output.url) output.url = URL.createObjectURL(srtBlob(output));
    link.href = output.url;
  };
  link.textContent = t('download')(output.name);
  const line = [note(t('cues')(output.cues)), ' ', link];
  if (output.cues === 0) line.push(' ', note(t('noCue'), 'warn'));
  return line;
}

function previewOf(output, title) {
  const toggle = kPreview.cloneNode(false);
  const text = kPreviewText.cloneNode(false);
  toggle.textContent = title;
  text.textContent = output.preview;
  toggle.act = () => {
    text.hidden = !text.hidden;
    toggle.setAttribute('aria-expanded', String(!text.hidden));
  };
  return [toggle, text];
}

function counts() {
  const count = { converted: 0, warned: 0, failed: 0, passedOver: 0 };
  for (const entry of entries) {
    if (entry.state === 'converted') ++count.converted;
    if (entry.state === 'warning') { ++count.converted; ++count.warned; }
    if (entry.state === 'failed') ++count.failed;
    if (entry.state === 'passed-over') ++count.passedOver;
  }
  return count;
}

function showStatus() {
  const busy = run.done < run.total;
  progress.hidden = !busy || run.total < 2;
  progress.max = Math.max(run.total, 1);
  progress.value = run.done;
  zipButton.disabled = busy || !entries.some((entry) => outputsOf(entry).length);
  clearButton.disabled = entries.length === 0;
  showFlagged();
  if (!ready && entries.length) {
    statusLine.textContent = t('gettingReady');
  } else if (busy) {
    statusLine.textContent = t('progress')(run.done, run.total);
  } else if (entries.length === 0) {
    statusLine.textContent = statusLine.dataset.noSmi ? t('noSmi') : t('noFiles');
  } else {
    const c = counts();
    const parts = [t('converted')(c.converted)];
    if (c.warned) parts.push(t('warned')(c.warned));
    if (c.failed) parts.push(t('failed')(c.failed));
    if (c.passedOver) parts.push(t('passedOver')(c.passedOver));
    statusLine.textContent = t('count')(entries.length) + ': ' + parts.join(', ') + '.';
  }
}

// The status follows the work as the list does.
function showStatusSoon() {
  drawSoon();
}

// Files flagged as read in the wrong encoding can all be read again at once.
// The line is redrawn only when what it says changes.
let flagged = new Map();  // encoding: the entries that look like it
let flaggedShown = '';
function showFlagged() {
  flagged = new Map();
  for (const entry of entries) {
    if (!entry.likely) continue;
    if (!flagged.has(entry.likely)) flagged.set(entry.likely, []);
    flagged.get(entry.likely).push(entry);
  }
  const shown = [...flagged].filter(([, list]) => list.length >= 2);
  const said = language + ' ' + shown.map(([codePage, list]) => codePage + ':' + list.length).join(' ');
  if (said === flaggedShown) return;
  flaggedShown = said;
  flaggedLine.replaceChildren();
  for (const [codePage, list] of shown) {
    flaggedLine.append(note(t('flagged')(list.length, codePageName(codePage)), 'warn'), ' ',
      button(t('readAllAs')(list.length, codePageName(codePage)), () => readAgain(flagged.get(codePage) || [], codePage)), ' ');
  }
  flaggedLine.hidden = shown.length === 0;
}

// ---- The workers ------------------------------------------------------------

const inlineWorker = $('worker-source');
const kWorkers = Math.max(1, Math.min(navigator.hardwareConcurrency || 2, 4));
let workerSource = null;  // a promise of the blob: address workers start from
let wasm = null;          // the single-file page's WebAssembly bytes
let wasmModule = null;    // a promise of the WebAssembly compiled once for every worker
let pool = [];            // { worker, pending, next, working (its jobs: { entries }), handed (files so far) }
// Each worker holds two batches, so that it reads the next while converting one.
const kInFlight = 2;
// Small files go to a worker together, which reads them in one go: reading
// each file on its own costs more than converting it.
const kBatchFiles = 32;
const kBatchBytes = 2 * 1024 * 1024;

function inWork(entry) {
  return pool.some((slot) => [...slot.working].some((job) => job.entries.includes(entry)));
}

// The WebAssembly is compiled once here and handed to every worker (a fresh
// worker then starts at once); null when it cannot be, and each worker
// compiles its own.
function compileOnce() {
  const compiled = wasm ? WebAssembly.compile(wasm)
    : fetch('lumentrace.wasm').then((reply) => (reply.ok ? reply.arrayBuffer() : Promise.reject(new Error(reply.status))))
      .then((bytes) => WebAssembly.compile(bytes));
  return compiled.catch(() => null);
}

// A worker is made from the page's own copy of worker.js (or, in the
// single-file page, from the copy inside it), which makes it subject to this
// page's security policy.
function startWorkers() {
  if (!workerSource) {
    if (inlineWorker) {
      const text = atob($('wasm-base64').textContent.trim());
      wasm = new Uint8Array(text.length);
      for (let i = 0; i < text.length; ++i) wasm[i] = text.charCodeAt(i);
      workerSource = Promise.resolve(URL.createObjectURL(new Blob([inlineWorker.textContent])));
    } else {
      workerSource = fetch('worker.js').then((reply) => reply.blob()).then((blob) => URL.createObjectURL(blob));
    }
    wasmModule = compileOnce();
  }
  pool = Array.from({ length: kWorkers }, () => ({ worker: null, pending: new Map(), next: 1, working: new Set(), handed: 0 }));
  const slots = pool;
  return Promise.all([workerSource, wasmModule]).then(([source, module]) => {
    for (const slot of slots) {
      slot.worker = new Worker(source);
      slot.worker.onmessage = (event) => {
        const done = slot.pending.get(event.data.id);
        slot.pending.delete(event.data.id);
        if (done) done(event.data);
      };
      // A worker that stops (its files failed to load, say) answers every
      // request it held with an error rather than leaving the page waiting.
      slot.worker.onerror = () => {
        for (const done of slot.pending.values()) done({ error: 'the worker stopped' });
        slot.pending.clear();
      };
      const start = { type: 'start', base: new URL('.', location.href).href, inline: !!wasm };
      try {
        slot.worker.postMessage({ ...start, module });
      } catch (error) {
        slot.worker.postMessage({ ...start, wasm });  // the module could not be handed over
      }
    }
  });
}
let workersStarted = startWorkers();

// Each worker makes its conversion and the encoding's tables ready before the
// files come, so that the first files wait for neither. whenWorkersReady()
// resolves when every worker is (the test waits on it).
let workersPrepared = null;
function prepareWorkers() {
  const codePage = codePageChoice.value;
  workersPrepared = Promise.all(pool.map((slot) => ask(slot, { type: 'prepare', codePage })));
}
function whenWorkersReady() {
  return workersPrepared || Promise.resolve();
}

async function ask(slot, message) {
  await workersStarted;
  const id = slot.next++;
  return new Promise((resolve) => {
    slot.pending.set(id, resolve);
    slot.worker.postMessage({ id, ...message });
  });
}

// Files above this are converted one at a time across the workers: each
// takes its size in a worker's memory and up to twice that for its .srt.
const kLargeFile = 256 * 1024 * 1024;
const isLarge = (entry) => entry.size > kLargeFile;

// A file's size (entry.size) is looked up once, a slice at a time: the first
// look at a file from the disk waits for the browser to ask the system, which
// over hundreds of files would hold the page still. Handing the file to a
// worker, or putting it in a Blob, looks too, on this thread, so the workers
// cannot look for the page; only a file's stream does not, but its bytes then
// pass through this thread, which costs more than the look. Waiting files are
// measured ahead in slices of their own, so that a batch mostly finds its
// sizes known.
let sliceEnd = 0;  // when the slice of work under way ends (performance.now())
function measured(entry) {
  if (entry.size === undefined && performance.now() < sliceEnd) entry.size = entry.file ? entry.file.size : 0;
  return entry.size !== undefined;
}

let measuring = false;
function measureSoon() {
  if (measuring || !queue.some((entry) => entry.size === undefined)) return;
  measuring = true;
  // A timer, not a quicker way to run next: its pause lets frames in.
  setTimeout(() => {
    measuring = false;
    sliceEnd = performance.now() + kSliceMs;
    for (const entry of queue) if (!measured(entry)) break;
    if (pool.some((slot) => slot.working.size < kInFlight)) pump(); else measureSoon();
  }, 0);
}

// The next entries for a worker: as many small files as a batch holds, or one
// large one (none while another large one is converted). Null when nothing may
// go, or no size is known in the time left. The files whose sizes are known
// are shared out among the workers rather than all given to the first: while
// sizes come in a few at a time, every worker has some to convert.
function nextBatch() {
  const largeInWork = pool.some((slot) => [...slot.working].some((job) => job.large));
  const first = queue.findIndex((entry) => measured(entry) && !(largeInWork && isLarge(entry)));
  if (first < 0) return null;
  let known = 1;
  while (first + known < queue.length && known < kBatchFiles * pool.length && measured(queue[first + known])) ++known;
  const most = Math.min(kBatchFiles, Math.ceil(known / pool.length));
  const batch = queue.splice(first, 1);
  let bytes = batch[0].size;
  while (first < queue.length && batch.length < most && measured(queue[first]) && bytes + queue[first].size <= kBatchBytes &&
         !(largeInWork && isLarge(queue[first]))) {
    bytes += queue[first].size;
    batch.push(...queue.splice(first, 1));
  }
  return batch;
}

// How many files a worker has in hand.
function filesHeld(slot) {
  let count = 0;
  for (const job of slot.working) count += job.entries.length;
  return count;
}

// Hands waiting entries to the workers, each batch to the one with the fewest
// files in hand.
function pump() {
  if (!ready) return;
  sliceEnd = performance.now() + kSliceMs;
  while (queue.length) {
    const open = pool.filter((slot) => slot.working.size < kInFlight);
    if (!open.length) break;
    const slot = open.reduce((best, other) => (filesHeld(other) < filesHeld(best) ? other : best));
    const batch = nextBatch();
    if (!batch) break;
    convertBatch(slot, batch);
  }
  measureSoon();
  if (run.done < run.total) {
    showStatusSoon();
  } else {
    // The run's last lines are drawn at once.
    showStatus();
    if (toDraw.size) drawSoon(true);
  }
  wakeIdleWaiters();
}

// Resolves when no file is waiting or being converted and every line is
// drawn (the test waits on it).
const idleWaiters = [];
function whenIdle() {
  return new Promise((resolve) => {
    idleWaiters.push(resolve);
    if (ready) pump();
  });
}
function wakeIdleWaiters() {
  if (!ready || run.done !== run.total || toDraw.size || !idleWaiters.length) return;
  for (const resolve of idleWaiters.splice(0)) resolve();
}

// An .srt comes as a Blob when large and as its bytes otherwise.
function srtBlob(output) {
  if (!(output.srt instanceof Blob)) output.srt = new Blob([output.srt], { type: 'application/x-subrip' });
  return output.srt;
}

function forget(entry) {
  for (const output of outputsOf(entry)) if (output.url) URL.revokeObjectURL(output.url);
  entry.url = null;
  entry.srt = null;
  entry.parts = null;
}

// Converts a batch of entries on a worker and shows what became of each.
async function convertBatch(slot, batch) {
  const job = { entries: batch, large: batch.some(isLarge) };
  slot.working.add(job);
  slot.handed += batch.length;
  const utf8 = outputChoice.value === 'utf-8';
  const split = splitChoice.value === 'split';
  const asked = [];
  const replies = new Map();
  // Each entry's version and encoding as sent: an entry queued again
  // meanwhile takes a later answer.
  const sent = new Map();
  for (const entry of batch) {
    entry.queued = false;
    sent.set(entry, { version: ++entry.version, codePage: entry.codePage || codePageChoice.value });
    entry.state = 'converting';
    showSoon(entry);
    if (entry.unreadable) {
      replies.set(entry, { failure: 'unreadable' });
    } else if (entry.size > kLargestFile) {
      replies.set(entry, { failure: 'too-large' });
    } else {
      asked.push(entry);
    }
  }
  if (asked.length) {
    const reply = await ask(slot, { type: 'convert', utf8, split,
      files: asked.map((entry) => ({ file: entry.file, codePage: sent.get(entry).codePage })) });
    asked.forEach((entry, i) => replies.set(entry, reply.error ? reply : reply.results[i]));
  }
  if (!slot.working.delete(job)) return;  // the list was cleared meanwhile
  for (const entry of batch) {
    if (sent.get(entry).version === entry.version && entry.listed) {
      settle(entry, replies.get(entry), sent.get(entry).codePage);
      ++run.done;
    }
  }
  pump();
}

// An entry takes its worker's answer.
function settle(entry, reply, codePage) {
  forget(entry);
  Object.assign(entry, { failure: null, likely: null, preview: '', cues: 0 });
  if (reply.failure || reply.error) {
    entry.state = 'failed';
    entry.failure = reply.failure || 'failed';
  } else {
    entry.srt = reply.srt || null;
    entry.parts = reply.parts || null;
    entry.cues = reply.cues || 0;
    entry.preview = reply.preview || '';
    entry.readIn = codePage;
    entry.legacy = reply.legacy;
    entry.likely = reply.likely || null;
    const noCue = outputsOf(entry).some((output) => output.cues === 0);
    entry.state = noCue || entry.likely ? 'warning' : 'converted';
  }
  showSoon(entry);
}

// Puts entries (back) in the queue; a run in progress takes them in.
function enqueue(list) {
  if (run.done === run.total) run = { total: 0, done: 0 };
  for (const entry of list) {
    if (entry.queued) continue;
    // A file being converted is counted already; the answer under way is dropped.
    if (inWork(entry)) ++entry.version; else ++run.total;
    entry.state = 'waiting';
    showSoon(entry);
    entry.queued = true;
    queue.push(entry);
  }
  pump();
  showStatus();
}

function readAgain(list, codePage) {
  for (const entry of list) entry.codePage = codePage;
  enqueue(list);
}

function removeEntry(entry) {
  forget(entry);
  entry.listed = false;
  toDraw.delete(entry);
  entries = entries.filter((other) => other !== entry);
  const waiting = queue.indexOf(entry);
  if (waiting >= 0) {
    queue.splice(waiting, 1);
    --run.total;
  } else if (inWork(entry)) {
    ++entry.version;
    --run.total;
  }
  entry.li.remove();
  pump();
  showStatus();
}

// Clearing stops the work in progress: the workers are ended, and with them
// every file's memory, and fresh ones started.
clearButton.addEventListener('click', () => {
  const restart = ready;  // before that, nothing is converting
  if (restart) for (const slot of pool) if (slot.worker) slot.worker.terminate();
  for (const entry of entries) {
    forget(entry);
    entry.listed = false;
  }
  entries = [];
  queue = [];
  toDraw.clear();
  run = { total: 0, done: 0 };
  results.replaceChildren();
  delete statusLine.dataset.noSmi;
  if (restart) {
    workersStarted = startWorkers();
    prepareWorkers();
  }
  pump();
  showStatus();
});

// ---- Adding files -------------------------------------------------------------

function isSami(name) {
  return /\.smi$/i.test(name);
}

// `found` holds { path, file, single, unreadable }; a file chosen or dropped
// on its own that is not a .smi is listed as passed over, while a folder
// brings only its .smi files.
function add(found) {
  const added = [];
  for (const { path, file, single, unreadable } of found) {
    const sami = isSami(path);
    if (!sami && !single) continue;
    const entry = { path, file, sami, unreadable, li: null, version: 0, listed: true,
      state: sami ? 'waiting' : 'passed-over' };
    entry.li = newLine(entry);
    entries.push(entry);
    showSoon(entry);  // first here, so that the lines join the list in this order
    if (sami) added.push(entry);
  }
  if (found.length && !entries.length) statusLine.dataset.noSmi = 'true';
  else delete statusLine.dataset.noSmi;
  enqueue(added);
}

function byPath(a, b) {
  return a.path < b.path ? -1 : a.path > b.path ? 1 : 0;
}

$('files').addEventListener('change', (event) => {
  add([...event.target.files].map((file) => ({ path: file.name, file, single: true })));
  event.target.value = '';
});
$('folder').addEventListener('change', (event) => {
  const files = [...event.target.files].map((file) => ({ path: file.webkitRelativePath || file.name, file }));
  add(files.sort(byPath));
  event.target.value = '';
});

// A dropped file's entry gives the file with its size looked up by the
// browser meanwhile, rather than when the page first needs it, which holds
// the page still for each file.
function fileOf(entry) {
  return new Promise((ok, fail) => entry.file(ok, fail));
}

// Reads a dropped folder to the bottom, its files and subfolders all at
// once; readEntries gives a folder in parts.
async function walk(entry, into) {
  if (entry.isFile) {
    const path = entry.fullPath.replace(/^\//, '');
    if (!isSami(path)) return;
    try {
      into.push({ path, file: await fileOf(entry) });
    } catch (error) {
      into.push({ path, unreadable: true });
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
  await Promise.all(children.map((child) => walk(child, into)));
}

// A drop anywhere on the page takes the files; while something is dragged
// over the page it shows where it will go.
let dragDepth = 0;
function dragging(on) {
  document.body.classList.toggle('dragging', on);
}
window.addEventListener('dragenter', (event) => {
  event.preventDefault();
  ++dragDepth;
  dragging(true);
});
window.addEventListener('dragover', (event) => {
  event.preventDefault();
  dragging(true);
});
window.addEventListener('dragleave', () => {
  dragDepth = Math.max(0, dragDepth - 1);
  if (dragDepth === 0) dragging(false);
});
window.addEventListener('drop', async (event) => {
  event.preventDefault();
  dragDepth = 0;
  dragging(false);
  if (!event.dataTransfer) return;
  const items = [...event.dataTransfer.items].filter((item) => item.kind === 'file');
  const roots = items.map((item) => (item.webkitGetAsEntry ? item.webkitGetAsEntry() : null));
  const plain = items.map((item) => item.getAsFile());
  const found = (await Promise.all(roots.map(async (root, i) => {
    if (root && root.isDirectory) {
      const inFolder = [];
      await walk(root, inFolder);
      return inFolder.sort(byPath);
    }
    let file = plain[i];
    if (root && root.isFile) {
      try {
        file = await fileOf(root);
      } catch (error) { /* the file as the drop gave it, if any */ }
    }
    if (file) return [{ path: file.name, file, single: true }];
    return root ? [{ path: root.name, unreadable: true, single: true }] : [];
  }))).flat();
  add(found);
});

// ---- Choices ------------------------------------------------------------------

// A new encoding reads again every file that was read in it (files with a
// byte-order mark are read the same in any).
codePageChoice.addEventListener('change', () => {
  remember('encoding', codePageChoice.value);
  prepareWorkers();
  enqueue(entries.filter((entry) => entry.sami && !entry.codePage && entry.state !== 'waiting' &&
    entry.legacy !== false && entry.failure !== 'unreadable' && entry.failure !== 'too-large'));
});
outputChoice.addEventListener('change', () => {
  remember('output', outputChoice.value);
  enqueue(entries.filter((entry) => outputsOf(entry).length));
});
splitChoice.addEventListener('change', () => {
  remember('languages', splitChoice.value);
  enqueue(entries.filter((entry) => outputsOf(entry).length));
});
languageChoice.addEventListener('change', () => {
  language = languageChoice.value;
  remember('language', language);
  showTexts();
});
problemsOnly.addEventListener('change', () => results.classList.toggle('problems-only', problemsOnly.checked));

// Every .srt under its own folder path; a name already taken gets " (2)",
// " (3)"... The .zip is named after the folder every file came from.
zipButton.addEventListener('click', async () => {
  const files = [];
  const taken = new Set();
  for (const entry of entries) {
    const folder = entry.path.slice(0, entry.path.lastIndexOf('/') + 1);
    for (const { name, srt } of outputsOf(entry)) {
      let path = folder + name;
      for (let n = 2; taken.has(path); ++n) path = folder + name.replace(/\.srt$/, ' (' + n + ').srt');
      taken.add(path);
      files.push({ path, srt });
    }
  }
  const tops = new Set(files.map((file) => (file.path.includes('/') ? file.path.split('/')[0] : '')));
  const top = tops.size === 1 ? [...tops][0] : '';
  zipButton.disabled = true;
  statusLine.textContent = t('makingZip');
  const reply = await ask(pool[0], { type: 'zip', files });
  zipButton.disabled = false;
  if (reply.error) {
    statusLine.textContent = t('zipFailed');
    return;
  }
  const url = URL.createObjectURL(reply.zip);
  const link = document.createElement('a');
  link.href = url;
  link.download = (top || 'subtitles') + '.zip';
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
  statusLine.textContent = t('zipReady');
});

// ---- Start --------------------------------------------------------------------

// Languages whose older files are Western European (CP1252) in their own
// right; any other language the program's table gives CP1252 only for want of
// a code page of its own, and the next browser language is asked instead.
const kWesternLanguages = ['en', 'fr', 'de', 'es', 'it', 'pt', 'nl', 'da', 'sv', 'nb', 'nn', 'no', 'fi',
  'is', 'ga', 'ca', 'eu', 'gl', 'af', 'id', 'ms', 'sw', 'fo', 'gd', 'lb', 'rm', 'oc', 'br', 'cy', 'wa'];

// "ko-KR" as the program's locale name "ko_KR"; Serbian in Latin as "sr@latin".
function localeName(tag) {
  const parts = tag.split('-');
  let name = parts[0];
  const region = parts.slice(1).find((part) => part.length === 2);
  if (region) name += '_' + region;
  if (parts.includes('Latn')) name += '@latin';
  return name;
}

// The encoding of older files: the one chosen before, else that of the first
// browser language that has one, by the program's table.
async function presetEncoding() {
  const kept = recall('encoding');
  if (kept && [...codePageChoice.options].some((option) => option.value === kept)) return kept;
  for (const tag of navigator.languages || [navigator.language || 'en']) {
    const reply = await ask(pool[0], { type: 'locale', name: localeName(tag) });
    if (reply.error) continue;
    if (reply.codePage !== 'CP1252' || kWesternLanguages.includes(tag.toLowerCase().split('-')[0])) {
      return reply.codePage;
    }
  }
  return 'CP1252';
}

if (recall('output') === 'utf-8') outputChoice.value = 'utf-8';
if (recall('languages') === 'split') splitChoice.value = 'split';
languageChoice.value = language;
if (inlineWorker) $('offline').hidden = true;
showTexts();
// Nothing is converted before the encoding is known: files chosen earlier wait.
presetEncoding().then((codePage) => {
  codePageChoice.value = codePage;
  ready = true;
  prepareWorkers();
  for (const entry of entries) showSoon(entry);
  pump();
  document.documentElement.dataset.ready = 'true';
});
