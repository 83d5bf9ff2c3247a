// Runs the conversion, compiled to WebAssembly, away from the page, so that
// the page stays responsive however large the files are. The page starts
// several of these and creates each from its own copy of this file, so the
// page's security policy applies here too: nothing can be sent anywhere.
'use strict';

// The page hands over its address (this worker's own is a blob: one), or,
// in the single-file page, the WebAssembly itself.
let base = '';
let wasmBinary = null;
let instance = null;    // a promise of the WebAssembly instance
let defined = new Set(); // code pages the instance knows

const kInvalid = 0xFFFFFFFF;
const kIncomplete = 0xFFFFFFFE;
// An instance whose memory grew past this is dropped after its file, so that
// the memory a large file took goes back to the system.
const kKeptMemory = 256 * 1024 * 1024;

const kBlobAbove = 4 * 1024 * 1024;
const kSrtType = 'application/x-subrip';

// The browser's name for each code page.
const kDecoderLabels = {
  CP874: 'windows-874', CP932: 'shift_jis', CP936: 'gbk', CP949: 'euc-kr', CP950: 'big5',
  CP1250: 'windows-1250', CP1251: 'windows-1251', CP1252: 'windows-1252',
  CP1253: 'windows-1253', CP1254: 'windows-1254', CP1255: 'windows-1255',
  CP1256: 'windows-1256', CP1257: 'windows-1257', CP1258: 'windows-1258',
};

function startModule() {
  defined = new Set();
  instance = createLumentrace(wasmBinary ? { wasmBinary }
    : { locateFile: (file) => new URL(file, base).href });
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

function copyIn(m, bytes) {
  const at = m._malloc(Math.max(bytes.length, 1));
  if (at === 0) throw new Error('out of memory');
  m.HEAPU8.set(bytes, at);
  return at;
}

function cString(m, text) {
  const bytes = new TextEncoder().encode(text + '\0');
  return copyIn(m, bytes);
}

function define(m, codePage) {
  if (defined.has(codePage)) return;
  const { single, pairs } = codePageTables(codePage);
  const name = cString(m, codePage);
  const singleAt = copyIn(m, new Uint8Array(single.buffer));
  const pairsAt = copyIn(m, new Uint8Array(pairs.buffer));
  m._lumentrace_define_code_page(name, singleAt, pairsAt);
  m._free(name); m._free(singleAt); m._free(pairsAt);
  defined.add(codePage);
}

// Takes an .srt out of the instance's memory and frees it there. A large one
// becomes a Blob here, so that the page never holds or copies it; a small one
// is handed over as its bytes, which costs far less.
function takeSrt(m, srtAt, results) {
  if (srtAt === 0) throw new Error('out of memory');
  const size = m.HEAPU32[results >> 2];
  const cues = m.HEAP32[(results + 4) >> 2];
  const srt = size > kBlobAbove ? new Blob([m.HEAPU8.subarray(srtAt, srtAt + size)], { type: kSrtType })
    : m.HEAPU8.slice(srtAt, srtAt + size).buffer;
  const head = m.HEAPU8.slice(srtAt, srtAt + Math.min(size, 4096));
  m._free(srtAt);
  return { srt, head, cues };
}

// The file's .srt, or, when `split` is asked for and the file carries two
// languages or more, one per language ({ parts: [{ suffix, srt, head, cues }] }).
function convert(m, bytes, codePage, utf8, split) {
  define(m, codePage);
  const input = copyIn(m, bytes);
  const name = cString(m, codePage);
  const results = m._malloc(8);
  try {
    const suffixes = split ? m.UTF8ToString(m._lumentrace_languages(input, bytes.length, name)) : '';
    if (suffixes) {
      return { parts: suffixes.split('\n').map((suffix, index) => ({ suffix, ...takeSrt(m,
        m._lumentrace_convert_language(input, bytes.length, name, utf8 ? 1 : 0, index, results, results + 4),
        results) })) };
    }
    return takeSrt(m, m._lumentrace_convert(input, bytes.length, name, utf8 ? 1 : 0, results, results + 4), results);
  } finally {
    m._free(input); m._free(name); m._free(results);
  }
}

function codePageForLocale(m, localeName) {
  const name = cString(m, localeName);
  const answer = m.UTF8ToString(m._lumentrace_code_page_for_locale(name));
  m._free(name);
  return answer;
}

// How a file is read: 0xEF first is UTF-8, 0xFE or 0xFF UTF-16, anything else
// in the encoding of older files (the program's rule).
function readsAsLegacy(bytes) {
  return bytes.length === 0 || (bytes[0] !== 0xEF && bytes[0] !== 0xFE && bytes[0] !== 0xFF);
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
  let korean = 0;
  let koreanOther = 0;
  for (let i = 0; i < end;) {
    const b = bytes[i];
    if (b < 0x80) { ++i; continue; }
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
    if (b < 0x80) { ++i; continue; }
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

// Whether the whole input is well-formed UTF-8: a file without a byte-order
// mark is then read as UTF-8 whatever the encoding of older files.
function isUtf8(bytes) {
  try {
    new TextDecoder('utf-8', { fatal: true }).decode(bytes);
    return true;
  } catch (error) {
    return false;
  }
}

// Whether the bytes hold a "<sync" in any case, in one or in two bytes a letter.
function hasSyncTag(bytes) {
  const word = [0x3C, 0x73, 0x79, 0x6E, 0x63];
  for (const step of [1, 2]) {
    for (let i = 0; i + 4 * step < bytes.length; ++i) {
      let k = 0;
      while (k < 5 && (bytes[i + k * step] | (k ? 0x20 : 0)) === word[k]) ++k;
      if (k === 5) return true;
    }
  }
  return false;
}

// The first cues of an .srt, for the page to show.
function preview(head, utf8) {
  const text = new TextDecoder(utf8 ? 'utf-8' : 'utf-16le').decode(head);
  return text.split('\r\n\r\n').slice(0, 3).join('\n\n').replace(/\r\n/g, '\n').trim();
}

async function convertFile(message) {
  let bytes;
  try {
    bytes = new Uint8Array(await message.file.arrayBuffer());
  } catch (error) {
    return { failure: 'unreadable' };
  }
  const m = await instance;
  let result;
  try {
    result = convert(m, bytes, message.codePage, message.utf8, message.split);
  } catch (error) {
    // Running out of memory stops the instance: the next file gets a new one.
    // A small file that stops it has met a fault, not a limit.
    startModule();
    return { failure: bytes.length > kKeptMemory / 8 ? 'too-large' : 'failed' };
  }
  if (m.HEAPU8.length > kKeptMemory) startModule();
  // A file split by language has <P> tags with classes after a sync tag.
  if (!result.parts && result.cues === 0 && !hasSyncTag(bytes)) return { failure: 'not-sami' };
  const legacy = readsAsLegacy(bytes) && !isUtf8(bytes);
  const reply = result.parts
    ? { parts: result.parts.map(({ suffix, srt, head, cues }) => ({ suffix, srt, cues, preview: preview(head, message.utf8) })) }
    : { srt: result.srt, cues: result.cues, preview: preview(result.head, message.utf8) };
  reply.legacy = legacy;
  if (legacy) {
    const likely = likelyLegacyEncoding(bytes);
    if (likely && likely !== message.codePage) reply.likely = likely;
  }
  return reply;
}

async function handle(message) {
  switch (message.type) {
    case 'locale': {
      const m = await instance;
      return { codePage: codePageForLocale(m, message.name) };
    }
    case 'convert':
      return convertFile(message);
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
    if (!wasmBinary) importScripts(new URL('lumentrace.js', base).href, new URL('fflate.js', base).href);
    startModule();
    return;
  }
  handle(message).catch((error) => ({ error: String(error && error.message || error) })).then((reply) => {
    const srts = reply.parts ? reply.parts.map((part) => part.srt) : [reply.srt];
    self.postMessage({ id: message.id, ...reply }, srts.filter((srt) => srt instanceof ArrayBuffer));
  });
};
