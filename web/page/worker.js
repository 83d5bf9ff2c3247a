// Runs the conversion, compiled to WebAssembly, away from the page, so that
// the page stays responsive however large the files are. The page creates
// this worker from its own copy of this file, so the page's security policy
// applies here too: nothing can be sent anywhere.
'use strict';

// The page hands over its address, since this worker's own is a blob: one.
let base = '';
let module = null;      // a promise of the WebAssembly instance
let defined = new Set(); // code pages the instance knows

const kInvalid = 0xFFFFFFFF;
const kIncomplete = 0xFFFFFFFE;

// The browser's name for each code page.
const kDecoderLabels = {
  CP874: 'windows-874', CP932: 'shift_jis', CP936: 'gbk', CP949: 'euc-kr', CP950: 'big5',
  CP1250: 'windows-1250', CP1251: 'windows-1251', CP1252: 'windows-1252',
  CP1253: 'windows-1253', CP1254: 'windows-1254', CP1255: 'windows-1255',
  CP1256: 'windows-1256', CP1257: 'windows-1257', CP1258: 'windows-1258',
};

function startModule() {
  defined = new Set();
  module = createLumentrace({ locateFile: (file) => new URL(file, base).href });
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

function convert(m, bytes, codePage) {
  define(m, codePage);
  const input = copyIn(m, bytes);
  const name = cString(m, codePage);
  const results = m._malloc(8);
  try {
    const srtAt = m._lumentrace_convert(input, bytes.length, name, results, results + 4);
    if (srtAt === 0) throw new Error('out of memory');
    const size = m.HEAPU32[results >> 2];
    const cues = m.HEAP32[(results + 4) >> 2];
    const srt = m.HEAPU8.slice(srtAt, srtAt + size);
    m._free(srtAt);
    return { srt, cues };
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

async function handle(message) {
  const m = await module;
  switch (message.type) {
    case 'locale':
      return { codePage: codePageForLocale(m, message.name) };
    case 'convert':
      try {
        const { srt, cues } = convert(m, new Uint8Array(message.bytes), message.codePage);
        return { srt: srt.buffer, cues, transfer: [srt.buffer] };
      } catch (error) {
        // Out of memory aborts the instance: the next file gets a new one.
        startModule();
        return { error: String(error && error.message || error) };
      }
    case 'zip': {
      const files = {};
      for (const { path, bytes } of message.files) files[path] = new Uint8Array(bytes);
      const zip = fflate.zipSync(files, { level: 6 });
      return { zip: zip.buffer, transfer: [zip.buffer] };
    }
    default:
      return { error: 'unknown request' };
  }
}

self.onmessage = (event) => {
  const message = event.data;
  if (message.type === 'start') {
    base = message.base;
    importScripts(new URL('lumentrace.js', base).href, new URL('fflate.js', base).href);
    startModule();
    return;
  }
  handle(message).catch((error) => ({ error: String(error && error.message || error) })).then((reply) => {
    const transfer = reply.transfer || [];
    delete reply.transfer;
    self.postMessage({ id: message.id, ...reply }, transfer);
  });
};
