// Runs the conversion, compiled to WebAssembly, away from the page, so that
// the page stays responsive however large the files are. The page starts
// several of these and creates each from its own copy of this file, so the
// page's security policy applies here too: nothing can be sent anywhere.
'use strict';

// The page hands over the WebAssembly it compiled once for all its workers,
// and its address (this worker's own is a blob: one) or, in the single-file
// page, the WebAssembly's bytes, for a browser that cannot hand the compiled
// module over.
let base = '';
let wasmBinary = null;
let wasmModule = null;
let instance = null;      // a promise of the WebAssembly instance
let defined = new Map();  // code pages the instance knows, each with its name in the instance's memory

const kInvalid = 0xFFFFFFFF;
const kIncomplete = 0xFFFFFFFE;
// An instance whose memory grew past this is dropped after its file, so that
// the memory a large file took goes back to the system.
const kKeptMemory = 256 * 1024 * 1024;

const kBlobAbove = 4 * 1024 * 1024;
const kSrtType = 'application/x-subrip';
// A file larger than this is read a window at a time straight into the
// instance's memory, so that it is never held twice.
const kWindow = 16 * 1024 * 1024;
// What lumentrace_inspect tells about the input.
const kReadInCodePage = 1;
const kHasSyncTag = 2;

// The browser's name for each code page.
const kDecoderLabels = {
  CP874: 'windows-874', CP932: 'shift_jis', CP936: 'gbk', CP949: 'euc-kr', CP950: 'big5',
  CP1250: 'windows-1250', CP1251: 'windows-1251', CP1252: 'windows-1252',
  CP1253: 'windows-1253', CP1254: 'windows-1254', CP1255: 'windows-1255',
  CP1256: 'windows-1256', CP1257: 'windows-1257', CP1258: 'windows-1258',
};

function startModule() {
  defined = new Map();
  const options = {};
  if (wasmModule) {
    options.instantiateWasm = (imports, done) => {
      WebAssembly.instantiate(wasmModule, imports).then((made) => done(made, wasmModule));
      return {};
    };
  } else if (wasmBinary) {
    options.wasmBinary = wasmBinary;
  } else {
    options.locateFile = (file) => new URL(file, base).href;
  }
  instance = createLumentrace(options);
}

// One decoded piece as the conversion's decoder answers for it: a code point
// when the bytes made exactly one character, else kInvalid.
function oneCharacter(text) {
  if (text.length === 0 || text.length > 2 || text === '\uFFFD') return kInvalid;
  const c = text.codePointAt(0);
  return (c > 0xFFFF ? 2 : 1) === text.length ? c : kInvalid;
}

// The answers for every byte after `lead`. Each pair is followed by an LF, so
// that a whole row is one call of the decoder: a pair never takes the LF in,
// since it either is one character or ends in an error that gives back any
// ASCII byte. A row that does not split as expected is asked pair by pair.
function pairRow(decoder, lead) {
  const row = new Uint32Array(256);
  const bytes = new Uint8Array(256 * 3);
  let n = 0;
  for (let t = 0; t < 256; ++t) {
    if (t === 0x0A) continue;
    bytes[n++] = lead; bytes[n++] = t; bytes[n++] = 0x0A;
  }
  const pieces = decoder.decode(bytes.subarray(0, n)).split('\n');
  const batched = pieces.length === 256;
  let i = 0;
  for (let t = 0; t < 256; ++t) {
    if (t !== 0x0A && batched) {
      row[t] = oneCharacter(pieces[i++]);
    } else {
      row[t] = oneCharacter(decoder.decode(new Uint8Array([lead, t])));
    }
  }
  return row;
}

// What the browser's decoder makes of each byte and each two-byte sequence,
// asked once per code page. A byte is a lead byte (kIncomplete) when some
// sequence it begins is a character. A byte the browser passes through as the
// C1 control of the same number is one the code page leaves undefined: it is
// invalid, as in the program's other builds. Characters of three or four bytes
// (GB18030's, behind the 'gbk' decoder) are not read: CP936 has none.
const tables = new Map();
function codePageTables(codePage) {
  let found = tables.get(codePage);
  if (found) return found;
  const decoder = new TextDecoder(kDecoderLabels[codePage] || 'windows-1252');
  const single = new Uint32Array(256);
  const rows = [];
  for (let b = 0; b < 256; ++b) {
    let c = oneCharacter(decoder.decode(new Uint8Array([b])));
    if (b >= 0x80 && b <= 0x9F && c === b) c = kInvalid;
    if (c === kInvalid) {
      const row = pairRow(decoder, b);
      if (row.some((answer) => answer !== kInvalid)) {
        c = kIncomplete;
        rows.push(row);
      }
    }
    single[b] = c;
  }
  const pairs = new Uint32Array(rows.length * 256);
  rows.forEach((row, i) => pairs.set(row, i * 256));
  found = { single, pairs };
  tables.set(codePage, found);
  return found;
}

function cString(m, text) {
  const bytes = new TextEncoder().encode(text + '\0');
  const at = m._malloc(bytes.length) >>> 0;
  if (at === 0) throw new Error('out of memory');
  m.HEAPU8.set(bytes, at);
  return at;
}

function copyIn(m, bytes) {
  const at = m._malloc(Math.max(bytes.length, 1)) >>> 0;
  if (at === 0) throw new Error('out of memory');
  m.HEAPU8.set(bytes, at);
  return at;
}

// The code page's name in the instance's memory, defined there first.
function define(m, codePage) {
  let name = defined.get(codePage);
  if (name) return name;
  const { single, pairs } = codePageTables(codePage);
  name = cString(m, codePage);
  const singleAt = copyIn(m, new Uint8Array(single.buffer));
  const pairsAt = copyIn(m, new Uint8Array(pairs.buffer));
  m._lumentrace_define_code_page(name, singleAt, pairsAt);
  m._free(singleAt); m._free(pairsAt);
  defined.set(codePage, name);
  return name;
}

function codePageForLocale(m, localeName) {
  const name = cString(m, localeName);
  const answer = m.UTF8ToString(m._lumentrace_code_page_for_locale(name) >>> 0);
  m._free(name);
  return answer;
}

// The first byte above ASCII at `i` or after it, else `end`; four bytes at a
// time where `words` (the same bytes, when they start at a multiple of 4)
// allows: most of a subtitle file is ASCII markup.
function nextHighByte(bytes, words, i, end) {
  if (words) {
    for (; i < end && (i & 3) !== 0; ++i) if (bytes[i] >= 0x80) return i;
    const whole = end - (end & 3);
    while (i < whole && (words[i >> 2] & 0x80808080) === 0) i += 4;
  }
  while (i < end && bytes[i] < 0x80) ++i;
  return i;
}

// Which legacy encoding the bytes of a file read in one look like, judged on
// its first 2 MB: Korean when nearly every byte above ASCII belongs to a pair
// of CP949's Hangul rows (lead B0-C8, trail A1-FE); Japanese when nearly
// every one belongs to a CP932 pair of its punctuation, kana or kanji rows
// (81-83, 88-9F, E0-EA). Text in Western code pages rarely has two such
// pairs: its accented letters stand alone or fall outside those rows. Null
// when neither fits, or when the file has fewer than two such pairs.
function likelyLegacyEncoding(bytes) {
  const end = Math.min(bytes.length, 2 * 1024 * 1024);
  const words = bytes.byteOffset % 4 === 0 ? new Uint32Array(bytes.buffer, bytes.byteOffset, bytes.length >> 2) : null;
  let korean = 0;
  let koreanOther = 0;
  for (let i = 0; i < end;) {
    const b = bytes[i];
    if (b < 0x80) { i = nextHighByte(bytes, words, i + 1, end); continue; }
    const t = i + 1 < end ? bytes[i + 1] : 0;
    if (b >= 0xB0 && b <= 0xC8 && t >= 0xA1 && t <= 0xFE) {
      ++korean;
      i += 2;
    } else {
      ++koreanOther;
      i += b >= 0x81 && b <= 0xFE && t >= 0x41 ? 2 : 1;  // any other CP949 pair counts once
    }
  }
  let japanese = 0;
  let japaneseOther = 0;
  for (let i = 0; i < end;) {
    const b = bytes[i];
    if (b < 0x80) { i = nextHighByte(bytes, words, i + 1, end); continue; }
    const t = i + 1 < end ? bytes[i + 1] : 0;
    const lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    if (lead && t >= 0x40 && t <= 0xFC && t !== 0x7F) {
      const common = (b >= 0x81 && b <= 0x83) || (b >= 0x88 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEA);
      if (common) ++japanese; else ++japaneseOther;
      i += 2;
    } else {
      ++japaneseOther;
      ++i;
    }
  }
  const fits = (like, other) => like >= 2 && like >= 9 * other;
  if (fits(korean, koreanOther) && korean >= japanese) return 'CP949';
  if (fits(japanese, japaneseOther)) return 'CP932';
  return null;
}

// The first cues of an .srt, for the page to show.
const kDecoders = { utf8: new TextDecoder('utf-8'), utf16: new TextDecoder('utf-16le') };
function preview(head, utf8) {
  const text = (utf8 ? kDecoders.utf8 : kDecoders.utf16).decode(head);
  return text.split('\r\n\r\n').slice(0, 3).join('\n\n').replace(/\r\n/g, '\n').trim();
}

// The .srt as the instance hands it over: small, its bytes (an ArrayBuffer
// for the page, which costs less than a Blob); large, a Blob made here a piece
// at a time, so that the .srt is never whole in this worker's memory and the
// page never holds or copies it. `head` keeps its start for the preview.
function srtCollector(m) {
  const srt = { pieces: [], size: 0, head: null };
  m.takeSrt = (at, size) => {
    const bytes = m.HEAPU8.subarray(at, at + size);
    srt.size += size;
    if (srt.size <= kBlobAbove) {
      const copy = bytes.slice();
      srt.pieces.push(copy);
      if (!srt.head) srt.head = copy.subarray(0, 4096);
      return;
    }
    if (!srt.head) srt.head = bytes.slice(0, 4096);
    if (srt.pieces.length && !(srt.pieces[0] instanceof Blob)) srt.pieces = [new Blob(srt.pieces)];
    srt.pieces.push(new Blob([bytes]));
  };
  m.dropSrt = () => Object.assign(srt, { pieces: [], size: 0, head: null });
  srt.take = () => {
    const { pieces, size } = srt;
    let bytes;
    if (size > kBlobAbove) {
      bytes = new Blob(pieces, { type: kSrtType });
    } else if (pieces.length === 1) {
      bytes = pieces[0].buffer;
    } else {
      const whole = new Uint8Array(size);
      let at = 0;
      for (const piece of pieces) { whole.set(piece, at); at += piece.length; }
      bytes = whole.buffer;
    }
    const head = srt.head || new Uint8Array(0);
    m.dropSrt();
    return { srt: bytes, head };
  };
  return srt;
}

// The instance's memory serves one file at a time; a file waits its turn
// (the next files are read meanwhile).
let heapTurn = Promise.resolve();
function withHeap(task) {
  const done = heapTurn.then(task);
  heapTurn = done.catch(() => {});
  return done;
}

// Writes the file into the instance's memory: `bytes` when it was read
// already, else the file a window at a time; returns where it is. Throws
// 'too-large' when the memory cannot hold it.
async function writeInput(m, file, bytes) {
  const size = bytes ? bytes.length : file.size;
  const at = m._lumentrace_input(size) >>> 0;
  if (at === 0) throw new Error('too-large');
  if (bytes) {
    m.HEAPU8.set(bytes, at);
    return { at, size };
  }
  for (let offset = 0; offset < size; offset += kWindow) {
    let window;
    try {
      window = new Uint8Array(await file.slice(offset, Math.min(size, offset + kWindow)).arrayBuffer());
    } catch (error) {
      window = null;
    }
    // A file changed since it was chosen reads short, or not at all.
    if (!window || window.length !== Math.min(kWindow, size - offset)) throw new Error('unreadable');
    m.HEAPU8.set(window, at + offset);
  }
  return { at, size };
}

// Converts the file written into the instance's memory (`input`): its .srt,
// or, when `split` is asked for and the file carries two languages or more,
// one per language ({ parts: [{ suffix, srt, head, cues }] }); with what the
// bytes are.
function convert(m, input, codePage, utf8, split) {
  const name = define(m, codePage);
  const flags = m._lumentrace_inspect();
  let likely = null;
  if (flags & kReadInCodePage) likely = likelyLegacyEncoding(m.HEAPU8.subarray(input.at, input.at + input.size));
  const srt = srtCollector(m);
  const suffixes = split ? m.UTF8ToString(m._lumentrace_languages(name) >>> 0) : '';
  let result;
  if (suffixes) {
    result = { parts: suffixes.split('\n').map((suffix, index) => {
      const cues = m._lumentrace_convert_language(name, utf8 ? 1 : 0, index);
      return { suffix, cues, ...srt.take() };
    }) };
  } else {
    const cues = m._lumentrace_convert(name, utf8 ? 1 : 0);
    result = { cues, ...srt.take() };
  }
  return { result, flags, likely };
}

// The file's .srt and what the page says about it, or its failure.
async function convertFile(file, bytes, codePage, utf8, split) {
  const m = await instance;
  let converted;
  try {
    converted = convert(m, await writeInput(m, file, bytes), codePage, utf8, split);
  } catch (error) {
    if (error && error.message === 'unreadable') return { failure: 'unreadable' };
    // Running out of memory stops the instance: the next file gets a new one.
    // A small file that stops it has met a fault, not a limit.
    startModule();
    return { failure: error && error.message === 'too-large' || file.size > kKeptMemory / 8 ? 'too-large' : 'failed' };
  }
  if (m.HEAPU8.length > kKeptMemory) startModule();
  const { result, flags, likely } = converted;
  // A file split by language has <P> tags with classes after a sync tag.
  if (!result.parts && result.cues === 0 && !(flags & kHasSyncTag)) return { failure: 'not-sami' };
  const legacy = (flags & kReadInCodePage) !== 0;
  const reply = result.parts
    ? { parts: result.parts.map(({ suffix, srt, head, cues }) => ({ suffix, srt, cues, preview: preview(head, utf8) })) }
    : { srt: result.srt, cues: result.cues, preview: preview(result.head, utf8) };
  reply.legacy = legacy;
  if (likely && likely !== codePage) reply.likely = likely;
  return reply;
}

// Reads the files of a batch: small ones together in one read, which costs
// far less than one read each; a file that cannot be read is marked so. A
// file too large to read whole is left for writeInput (null).
async function readBatch(files) {
  if (files.length === 1) {
    const [file] = files;
    if (file.size > kWindow) return [null];
    try {
      return [new Uint8Array(await file.arrayBuffer())];
    } catch (error) {
      return ['unreadable'];
    }
  }
  try {
    const all = await new Blob(files).arrayBuffer();
    let at = 0;
    return files.map((file) => new Uint8Array(all, (at += file.size) - file.size, file.size));
  } catch (error) {
    return Promise.all(files.map((file) => readBatch([file]).then(([bytes]) => bytes)));
  }
}

async function convertBatch(message) {
  const files = message.files.map((item) => item.file);
  const read = await readBatch(files);
  return withHeap(async () => {
    const results = [];
    for (let i = 0; i < files.length; ++i) {
      if (read[i] === 'unreadable') {
        results.push({ failure: 'unreadable' });
      } else {
        results.push(await convertFile(files[i], read[i], message.files[i].codePage, message.utf8, message.split));
      }
    }
    return { results };
  });
}

async function handle(message) {
  switch (message.type) {
    case 'locale': {
      const m = await instance;
      return { codePage: codePageForLocale(m, message.name) };
    }
    case 'prepare': {
      // The conversion and the encoding's tables made ready ahead of the files.
      define(await instance, message.codePage);
      return {};
    }
    case 'convert':
      return convertBatch(message);
    case 'zip': {
      const files = {};
      for (const { path, srt } of message.files) {
        files[path] = new Uint8Array(srt instanceof Blob ? await srt.arrayBuffer() : srt);
      }
      const zip = fflate.zipSync(files, { level: 6 });
      return { zip: new Blob([zip], { type: 'application/zip' }) };
    }
    default:
      return { error: 'unknown request' };
  }
}

self.onmessage = (event) => {
  const message = event.data;
  if (message.type === 'start') {
    base = message.base;
    wasmBinary = message.wasm || null;
    wasmModule = message.module || null;
    if (!message.inline) importScripts(new URL('lumentrace.js', base).href, new URL('fflate.js', base).href);
    startModule();
    return;
  }
  handle(message).catch((error) => ({ error: String(error && error.message || error) })).then((reply) => {
    // The .srt bytes are handed over, not copied.
    const srts = (reply.results || []).flatMap((result) => (result.parts || [result]).map((part) => part.srt));
    self.postMessage({ id: message.id, ...reply }, srts.filter((srt) => srt instanceof ArrayBuffer));
  });
};
