// Drives the web page in headless Chromium, served from 127.0.0.1 and as the
// single file opened from disk, and checks that every .srt it makes is byte
// for byte the native program's for the same file, under a UTF-8 locale of the
// code page's language; then how the page behaves for the people using it:
// its languages, the encoding warning, remembered choices, the counts, Clear,
// drops, UTF-8 output, speed and accessibility (axe-core).
//
//   node web/test/browser_test.js [NATIVE_PROGRAM] [--speed]    (after bash web/build.sh)
//
// --speed runs only the timed conversions (300 files, 50 MB and 5 MB films).
//
// SCREENSHOT=FILE.png saves a picture of the page with some files converted,
// and FILE-ko.png the same in Korean (which needs a Korean font: fonts-nanum).
'use strict';

const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const { chromium } = require('playwright-core');

const root = path.resolve(__dirname, '..', '..');
const axeSource = fs.readFileSync(require.resolve('axe-core/axe.min.js'), 'utf8');
const dist = path.join(root, 'web', 'dist');
const native = path.resolve(process.argv.slice(2).find((arg) => !arg.startsWith('--')) || path.join(root, 'build', 'lumentrace'));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'lumentrace-web-'));

let passed = 0;
let failed = 0;
function check(ok, what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    console.log('FAILED: ' + what);
  }
}

// The locale each code page is compared under.
const kLocales = {
  CP1252: 'en_US', CP1250: 'pl_PL', CP1251: 'ru_RU', CP1253: 'el_GR', CP1254: 'tr_TR',
  CP1255: 'he_IL', CP1256: 'ar_SA', CP1257: 'lt_LT', CP1258: 'vi_VN', CP874: 'th_TH',
  CP932: 'ja_JP', CP949: 'ko_KR',
};

// The locales are built once into web/build/locales (localedef needs no root).
const locales = path.join(root, 'web', 'build', 'locales');
function buildLocales() {
  fs.mkdirSync(locales, { recursive: true });
  for (const name of Object.values(kLocales)) {
    const target = path.join(locales, name + '.UTF-8');
    if (fs.existsSync(path.join(target, 'LC_CTYPE'))) continue;
    const run = spawnSync('localedef', ['-i', name, '-f', 'UTF-8', target], { encoding: 'utf8' });
    // localedef exits with 1 when it only warned; the locale is written then too.
    if (!fs.existsSync(path.join(target, 'LC_CTYPE'))) {
      throw new Error('localedef ' + name + ' failed: ' + run.stderr);
    }
  }
}

function nativeSrt(bytes, codePage) {
  const dir = fs.mkdtempSync(path.join(work, 'native-'));
  fs.writeFileSync(path.join(dir, 'in.smi'), bytes);
  const env = { PATH: process.env.PATH, LOCPATH: locales, LC_ALL: kLocales[codePage] + '.UTF-8' };
  const run = spawnSync(native, ['in.smi'], { cwd: dir, env });
  if (run.status !== 0) throw new Error('the native program failed: ' + run.stdout + run.stderr);
  const srt = fs.readFileSync(path.join(dir, 'in.srt'));
  fs.rmSync(dir, { recursive: true });
  return srt;
}

// Every byte 0x80-0xFF alone and followed by every byte, in captions: each
// byte and pair of the code page goes through the decoder at least once.
function byteSweep(leaveOut = []) {
  const parts = [Buffer.from('<SAMI><BODY>\r\n')];
  let time = 0;
  for (let lead = 0x80; lead <= 0xFF; ++lead) {
    if (leaveOut.includes(lead)) continue;
    const block = [];
    for (let trail = 0; trail < 256; ++trail) block.push(lead, leaveOut.includes(trail) ? 0x20 : trail, 0x20);
    block.push(lead);
    parts.push(Buffer.from('<SYNC Start=' + (time += 1000) + '><P>'), Buffer.from(block),
      Buffer.from('\r\n'));
  }
  parts.push(Buffer.from('<SYNC Start=' + (time + 1000) + '><P>&nbsp;\r\n</BODY></SAMI>\r\n'));
  return Buffer.concat(parts);
}

// Captions wrapped in every kind of white space and near-white space, in UTF-8:
// what trimming takes off must be what the native program takes off.
function whiteSpaceSweep() {
  const spaces = [0x85, 0xA0, 0x1680, 0x180E, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005,
    0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x200B, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
    0xFEFF, 0x1C, 0x1F];
  let text = '';
  spaces.forEach((c, i) => {
    const s = String.fromCodePoint(c);
    text += '<SYNC Start=' + (i * 10 + 10) + '><P>' + s + 'x' + s + 'y' + s + '<br>' + s + 'z' + s;
  });
  return Buffer.from(text + '<SYNC Start=9999>&nbsp;', 'utf8');
}

// A film of about `megabytes` MB in UTF-8: Korean lines and clearing blocks.
function film(megabytes) {
  const target = megabytes * 1024 * 1024;
  const lines = ['안녕하세요, 여러분.', '<font color="#ffff00">오늘은</font> 무엇을<br>할까요?',
    'I &amp; you', '그래서 우리는 떠났다.'];
  const parts = [];
  let size = 0;
  for (let i = 0; size < target; ++i) {
    const block = '<SYNC Start=' + i * 1500 + '><P Class=KRCC>' + lines[i % 4] + '\r\n' +
      '<SYNC Start=' + (i * 1500 + 1200) + '><P Class=KRCC>&nbsp;\r\n';
    parts.push(block);
    size += Buffer.byteLength(block);
  }
  return Buffer.from('<SAMI><BODY>\r\n' + parts.join('') + '</BODY></SAMI>\r\n', 'utf8');
}

// Inputs no subtitle tool meant to write, made afresh each run from a fixed seed.
function hostileInputs() {
  let seed = 12;
  const random = () => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 16;
  const bytes = (n, pick) => Buffer.from(Array.from({ length: n }, pick));
  const sami = Buffer.from('<SAMI><SYNC Start=1><P>가나다<br>x<SYNC Start="2">&nbsp;<SYNC Start=-3>y');
  const utf16 = (text) => Buffer.concat([Buffer.from([0xFF, 0xFE]), Buffer.from(text, 'utf16le')]);
  return [
    { name: 'random.smi', bytes: bytes(20000, () => random() & 0xFF) },
    { name: 'random_tags.smi', bytes: bytes(20000, () => '<SYNC Start=9>&n;b \r\n\x80\xFF'.charCodeAt(random() % 24) & 0xFF) },
    ...[5, 17, 30, 41].map((cut) => ({ name: `cut_${cut}.smi`, bytes: sami.subarray(0, cut) })),
    { name: 'cut_utf16.smi', bytes: utf16('<SYNC Start=1>a\uD800b\uDC00\uFFFF<SYNC Start=2>').subarray(0, 45) },
    { name: 'nul_and_ffff.smi', bytes: Buffer.from('<SYNC Start=1>a\0b\uFFFFc<SYNC Start=2>&nbsp;', 'utf8') },
    { name: 'sync_values.smi', bytes: Buffer.from('<SYNC Start=99999999999><SYNC Start=+><SYNC Start=\'-2147483649\'>a<SYNC Start= "7">') },
    { name: 'long_tag.smi', bytes: Buffer.from('<SYNC Start=1><' + 'font '.repeat(20000) + '>a<SYNC Start=2>') },
    { name: 'unterminated_entities.smi', bytes: Buffer.from('<SYNC Start=1>' + '&n'.repeat(500000)) },
    { name: 'identical_captions.smi', bytes: Buffer.from(Array.from({ length: 10000 }, (_, i) => `<SYNC Start=${i}>same`).join('')) },
  ];
}

function filesIn(folder, filter = () => true) {
  return fs.readdirSync(folder).filter(filter).sort().map((name) => ({
    name, bytes: fs.readFileSync(path.join(folder, name)),
  }));
}

function serve() {
  const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
    '.wasm': 'application/wasm' };
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, 'http://x').pathname).replace(/^\/$/, '/index.html');
    const file = path.join(dist, path.normalize(name));
    if (!file.startsWith(dist) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    response.end(fs.readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// Text in a legacy encoding, made with glibc's iconv.
function encode(text, codePage) {
  const run = spawnSync('iconv', ['-f', 'UTF-8', '-t', codePage], { input: Buffer.from(text, 'utf8') });
  if (run.status !== 0) throw new Error('iconv to ' + codePage + ' failed: ' + run.stderr);
  return run.stdout;
}

// SAMI files of `cues` captions drawn from `lines`, in `codePage`, made
// afresh each run from a fixed seed: what older Korean and Japanese files look like.
const kSentences = {
  CP949: ['안녕하세요, 여러분.', '어디 가세요?', '시장에 가요.', '정말 고마워요.', '그래서 우리는 떠났다.',
    '내일 다시 만나요.', '<font color="#ffff00">조심해!</font>', '무슨 일이야?<br>아무것도 아니야.', '좋아, 가자.'],
  CP932: ['こんにちは、みなさん。', 'どこへ行くの？', '市場へ行きます。', '本当にありがとう。', 'また明日会いましょう。',
    '<font color="#ffff00">気をつけて！</font>', '何があったの？<br>何でもない。', 'よし、行こう。', '東京駅で待っています。'],
  CP1252: ['Où êtes-vous allé ?', 'Très bien, merci.', 'Ça va ? Ja, schön.', 'Qué pasó, señor?', 'Grüße aus Köln.',
    'Voilà, c\'est fini.', '<i>Déjà vu</i>', 'Straße<br>Ærø', 'I & you'],
};
function legacyFilmText(codePage, cues, seed) {
  const lines = kSentences[codePage];
  let text = '<SAMI>\r\n<HEAD><TITLE>film</TITLE></HEAD>\r\n<BODY>\r\n';
  for (let i = 0; i < cues; ++i) {
    seed = (seed * 1103515245 + 12345) >>> 0;
    text += `<SYNC Start=${i * 2000 + 500}><P Class=KRCC>${lines[(seed >>> 16) % lines.length]}\r\n` +
      `<SYNC Start=${i * 2000 + 1800}><P Class=KRCC>&nbsp;\r\n`;
  }
  return text + '</BODY>\r\n</SAMI>\r\n';
}
function legacyFilm(codePage, cues, seed) {
  return encode(legacyFilmText(codePage, cues, seed), codePage);
}

function generatedInputs() {
  const files = [];
  for (const codePage of ['CP949', 'CP932', 'CP1252']) {
    [1, 2, 5, 40, 400].forEach((cues, i) => files.push({
      name: `generated_${codePage.toLowerCase()}_${cues}.smi`, bytes: legacyFilm(codePage, cues, i + 7), codePage,
    }));
  }
  return files;
}

// The legacy encoding a test input is really in, when it is Korean or Japanese.
function trueLegacyEncoding(file) {
  if (file.codePage === 'CP949' || file.codePage === 'CP932') return file.codePage;
  if (/\.cp949\./.test(file.name)) return 'CP949';
  return null;
}

async function newPage(browser, url, { locale = 'ko-KR', colorScheme = 'light' } = {}) {
  const context = await browser.newContext({ acceptDownloads: true, locale, colorScheme,
    viewport: { width: 900, height: 760 } });
  const page = await context.newPage();
  page.errors = [];
  page.elsewhere = [];
  page.on('pageerror', (error) => page.errors.push(String(error)));
  page.on('request', (request) => {
    const address = request.url();
    if (!address.startsWith(url) && !address.startsWith('blob:') && !address.startsWith('data:')) {
      page.elsewhere.push(address);
    }
  });
  await page.goto(url);
  await page.waitForFunction(() => document.documentElement.dataset.ready === 'true');
  return page;
}

async function closePage(page, label) {
  check(page.errors.length === 0, label + ': no script errors: ' + page.errors.join('; '));
  check(page.elsewhere.length === 0, label + ': no request left the page\'s own address: ' + page.elsewhere.join(', '));
  await page.context().close();
}

// Empties the list (the button is off while the list is empty).
async function clearList(page) {
  if (await page.isEnabled('#clear')) await page.click('#clear');
}

// Lists `files` through the file chooser in code page `codePage` (after
// clearing the list), waits for the conversions and returns the entries.
async function convertInPage(page, files, codePage) {
  await clearList(page);
  if (codePage) await page.selectOption('#codepage', codePage);
  await page.setInputFiles('#files', files.map((file) => ({
    name: file.name, mimeType: 'application/octet-stream', buffer: file.bytes,
  })));
  return collect(page, files.length);
}

// Waits until `count` files are listed and none is waiting, then returns each
// entry's state, cue count, line text, warning and .srt bytes. The lines,
// drawn a few at a time, must by then all be on the page, in the list's order.
async function collect(page, count) {
  await page.waitForFunction((n) => entries.length >= n, count);
  const inOrder = await page.evaluate(async () => {
    await whenIdle();
    return results.children.length === entries.length && entries.every((entry, i) => results.children[i] === entry.li);
  });
  check(inOrder, 'every line is drawn, in order');
  return page.evaluate(async () => {
    await whenIdle();
    const toBase64 = (bytes) => {
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000) {
        text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
      }
      return btoa(text);
    };
    const bytesOf = async (srt) => (srt ? toBase64(new Uint8Array(srt instanceof Blob ? await srt.arrayBuffer() : srt)) : null);
    const list = [];
    for (const entry of entries) {
      const parts = [];
      for (const part of entry.parts || []) parts.push({ name: part.name, cues: part.cues, srt: await bytesOf(part.srt) });
      list.push({
        path: entry.path, state: entry.li.dataset.state, cues: entry.cues, likely: entry.likely,
        text: entry.li.textContent,
        download: entry.li.querySelector('a') ? entry.li.querySelector('a').download : null,
        downloads: [...entry.li.querySelectorAll('a')].map((link) => link.download),
        previews: [...entry.li.querySelectorAll('pre.preview')].map((pre) => pre.textContent),
        srt: await bytesOf(entry.srt),
        parts: entry.parts ? parts : null,
      });
    }
    return list;
  }).then((list) => list.map((entry) => ({
    ...entry, srt: entry.srt === null ? null : Buffer.from(entry.srt, 'base64'),
    parts: entry.parts && entry.parts.map((part) => ({ ...part, srt: Buffer.from(part.srt, 'base64') })),
  })));
}

function compareAll(label, files, got, codePage) {
  check(got.length === files.length, `${label}: ${files.length} files listed (${got.length})`);
  files.forEach((file, i) => {
    const entry = got[i] || {};
    const expected = nativeSrt(file.bytes, codePage);
    if (entry.state === 'failed' && /not a SAMI file/.test(entry.text)) {
      // The program writes an .srt of no cue for a file without a sync tag;
      // the page says what it is instead.
      check(cueCount(expected) === 0 && !/<sync/i.test(file.bytes.toString('latin1').replace(/\0/g, '')),
        `${label} ${file.name}: called not a SAMI file, yet the program finds cues in it`);
    } else {
      check(entry.srt && expected.equals(entry.srt), `${label} ${file.name} in ${codePage}: the .srt differs from the native program's`);
    }
  });
}

// The cues of an .srt as the program numbers them.
function cueCount(srt) {
  const text = srt.subarray(2).toString('utf16le');
  return text.length === 0 ? 0 : text.split('\r\n\r\n').filter((cue) => /^\d+\r\n/.test(cue)).length;
}

// White space and lower case in the page are the native program's under a
// UTF-8 locale, for every code unit (only the tags and trimming show them).
function compareCharClasses() {
  const build = path.join(root, 'web', 'build');
  const env = { PATH: process.env.PATH, LOCPATH: locales, LC_ALL: 'ko_KR.UTF-8' };
  const nativeRun = spawnSync(path.join(build, 'char_classes'), [], { env, encoding: 'utf8' });
  const webRun = spawnSync(process.execPath, ['--no-experimental-fetch', path.join(build, 'char_classes.js')],
    { encoding: 'utf8' });
  check(nativeRun.status === 0 && webRun.status === 0 && nativeRun.stdout.length > 1000 &&
    nativeRun.stdout === webRun.stdout, 'white space and lower case are the native program\'s');
}

// The encoding warning's record over every reading the test makes.
const heuristic = { readings: 0, falseWarnings: [], wrongReadings: 0, misses: [] };
function scoreWarnings(files, got, codePage) {
  files.forEach((file, i) => {
    const entry = got[i] || {};
    if (entry.state !== 'converted' && entry.state !== 'warning') return;
    const truth = trueLegacyEncoding(file);
    ++heuristic.readings;
    if (truth && truth !== codePage) {
      ++heuristic.wrongReadings;
      if (entry.likely !== truth) heuristic.misses.push(`${file.name} in ${codePage}`);
    } else if (entry.likely) {
      heuristic.falseWarnings.push(`${file.name} in ${codePage} (said ${entry.likely})`);
    }
  });
}

function allTestInputs() {
  return [
    ...filesIn(path.join(root, 'tests', 'data'), (name) => name.endsWith('.smi')),
    ...filesIn(path.join(root, 'examples'), (name) => /\.smi$/i.test(name)),
    ...filesIn(path.join(root, 'tests', 'fuzz', 'corpus')).map((f) => ({ ...f, name: f.name.replace(/(\.smi)?$/, '.smi') })),
    ...filesIn(path.join(root, 'tests', 'fuzz', 'regressions')).map((f) => ({ ...f, name: f.name + '.smi' })),
    { name: 'white_space.smi', bytes: whiteSpaceSweep() },
    ...hostileInputs(),
    ...generatedInputs(),
  ];
}

// The two-language test files, each with the .srt files it splits into
// (checked by eye once; the core's test holds them to the conversion).
function bilingualInputs() {
  const folder = path.join(root, 'tests', 'data', 'languages');
  return filesIn(folder, (name) => name.endsWith('.smi')).map((file) => {
    const base = file.name.replace(/\.smi$/, '.');
    return { ...file, goldens: filesIn(folder, (name) => name.startsWith(base) && name.endsWith('.srt')) };
  });
}

// The program's UTF-16 output as the page's UTF-8 output.
function asUtf8(program) {
  return Buffer.from(program.subarray(program[0] === 0xFF && program[1] === 0xFE ? 2 : 0).toString('utf16le'), 'utf8');
}

// A split file's languages are its goldens: the same names, in any order, the same bytes.
function checkParts(label, file, entry, convertGolden = (bytes) => bytes) {
  const names = file.goldens.map((golden) => golden.name).sort();
  const got = ((entry && entry.parts) || []).map((part) => part.name).sort();
  check(JSON.stringify(got) === JSON.stringify(names), `${label} ${file.name}: gives ${names.join(', ')} (${got.join(', ')})`);
  check(JSON.stringify([...((entry && entry.downloads) || [])].sort()) === JSON.stringify(names), `${label} ${file.name}: a link for each language`);
  for (const golden of file.goldens) {
    const part = ((entry && entry.parts) || []).find((p) => p.name === golden.name);
    check(part && convertGolden(golden.bytes).equals(part.srt), `${label} ${golden.name}: the bytes are the golden .srt's`);
    check(part && part.cues === cueCount(golden.bytes), `${label} ${golden.name}: its cues are counted`);
  }
}

// ---- The checks -----------------------------------------------------------------

// Every test input, in the Western and in the Korean code page, and every
// byte and pair of each code page, as the native program reads them.
async function checkEveryInput(page, inputs) {
  check(await page.inputValue('#codepage') === 'CP949', 'a Korean browser presets CP949');
  for (const codePage of ['CP1252', 'CP949']) {
    const got = await convertInPage(page, inputs, codePage);
    compareAll('test input', inputs, got, codePage);
    scoreWarnings(inputs, got, codePage);
    got.forEach((entry) => {
      if (entry.srt) check(entry.cues === cueCount(entry.srt), `${entry.path}: ${entry.cues} cues listed`);
    });
  }
  // The one byte read otherwise: the browser's CP1255 has U+05BA at CA, which
  // glibc's leaves undefined.
  for (const codePage of Object.keys(kLocales)) {
    const sweep = { name: 'bytes.smi', bytes: byteSweep(codePage === 'CP1255' ? [0xCA] : []) };
    const got = await convertInPage(page, [sweep], codePage);
    compareAll('byte sweep', [sweep], got, codePage);
  }
  const holam = await convertInPage(page, [{ name: 'holam.smi', bytes: Buffer.from([...Buffer.from('<SYNC Start=1>'), 0xCA]) }], 'CP1255');
  check(holam[0].srt && holam[0].srt.subarray(2).toString('utf16le').endsWith('\u05BA'), 'CP1255 CA reads as U+05BA');
}

// UTF-8 output is the program's UTF-16 output re-encoded, without a byte-order mark.
async function checkUtf8Output(page, inputs) {
  await page.selectOption('#output-encoding', 'utf-8');
  const got = await convertInPage(page, inputs, 'CP949');
  inputs.forEach((file, i) => {
    if (got[i] && got[i].state === 'failed') return;  // not a SAMI file, as checked above
    const program = nativeSrt(file.bytes, 'CP949');
    const expected = Buffer.from(program.subarray(program[0] === 0xFF && program[1] === 0xFE ? 2 : 0).toString('utf16le'), 'utf8');
    check(got[i] && got[i].srt && expected.equals(got[i].srt), `${file.name} in UTF-8 is the program's output re-encoded`);
  });
  await page.selectOption('#output-encoding', 'utf-16');
}

// Two-language files: kept together unless chosen otherwise, byte for byte
// the program's; split, one .srt per language equal to the goldens, listed
// with its cues, link and preview, and all of them in the .zip, in UTF-16 or
// UTF-8. Files of one language, or of too many, convert as before.
async function checkLanguageSplit(page, inputs) {
  const bilingual = bilingualInputs();
  check(bilingual.length >= 2 && bilingual.every((file) => file.goldens.some((g) => g.name.endsWith('.ko.srt')) &&
    file.goldens.some((g) => /\.en\.(\w+\.)?srt$/.test(g.name))), 'the two-language test files have Korean and English goldens');
  check(await page.inputValue('#split-languages') === 'together', 'two-language files are kept together by default');
  const together = await convertInPage(page, bilingual, 'CP949');
  compareAll('kept together', bilingual, together, 'CP949');
  check(together.every((entry) => !entry.parts && entry.downloads.length === 1), 'kept together, a file gives one .srt');

  // Choosing to split converts the listed files again.
  await page.selectOption('#split-languages', 'split');
  const split = await collect(page, bilingual.length);
  bilingual.forEach((file, i) => checkParts('split', file, split[i]));
  const drama = split.find((entry) => entry.path === 'drama_cp949.smi');
  check(drama && drama.downloads.includes('drama_cp949.ko.srt') && drama.downloads.includes('drama_cp949.en.srt'),
    'drama_cp949.smi gives drama_cp949.ko.srt and drama_cp949.en.srt links');
  const cueText = (n) => (n === 1 ? '1 cue' : `${n} cues`);
  check(drama && /2 languages/.test(drama.text) && bilingual.find((file) => file.name === 'drama_cp949.smi').goldens.every((g) =>
    drama.text.includes(`${cueText(cueCount(g.bytes))} Download ${g.name}`)),
  'the line says 2 languages and each one\'s cues: ' + (drama && drama.text));
  check(drama && drama.previews.length === 2 && drama.previews.some((text) => text.includes('Where are you going?')) &&
    drama.previews.some((text) => text.includes('어디 가는 거야?')), 'each language has its preview');
  const koLink = '#results > li:nth-child(1) a[download$=".ko.srt"]';
  const [download] = await Promise.all([page.waitForEvent('download'), page.click(koLink)]);
  const koGolden = bilingual.find((file) => file.name === 'drama_cp949.smi').goldens.find((g) => g.name === download.suggestedFilename());
  check(koGolden && fs.readFileSync(await download.path()).equals(koGolden.bytes), 'a language\'s link downloads its .srt');

  const [zip] = await Promise.all([page.waitForEvent('download'), page.click('#zip')]);
  const unzipped = require('fflate').unzipSync(fs.readFileSync(await zip.path()));
  const goldens = bilingual.flatMap((file) => file.goldens);
  check(Object.keys(unzipped).length === goldens.length &&
    goldens.every((g) => unzipped[g.name] && Buffer.from(unzipped[g.name]).equals(g.bytes)),
  'the .zip holds every language\'s .srt: ' + Object.keys(unzipped).sort().join(', '));
  await checkAccessibility(page, 'two-language files split');

  // UTF-8 output holds for each language.
  await page.selectOption('#output-encoding', 'utf-8');
  const utf8 = await collect(page, bilingual.length);
  bilingual.forEach((file, i) => checkParts('split in UTF-8', file, utf8[i], asUtf8));
  await page.selectOption('#output-encoding', 'utf-16');

  // One language, none, or more than a page of them: as the program writes it.
  const classes = Array.from({ length: 20 }, (_, i) => `<P Class=C${i}>line ${i}`).join('');
  const others = [...inputs, { name: 'many_classes.smi', bytes: Buffer.from(`<SYNC Start=1>${classes}<SYNC Start=2>&nbsp;`) }];
  const plain = await convertInPage(page, others, 'CP949');
  compareAll('split chosen, one language', others, plain, 'CP949');
  check(plain.every((entry) => !entry.parts), 'split chosen, no file of fewer than two languages, or of twenty, is split');
  await page.selectOption('#split-languages', 'together');
}

// An English browser with Korean and Japanese files: each is flagged, never
// switched silently; one click reads a file right, one more all flagged ones.
async function checkWrongEncoding(browser, url, inputs) {
  const page = await newPage(browser, url, { locale: 'en-US' });
  check(await page.inputValue('#codepage') === 'CP1252', 'an English browser presets CP1252');
  check(await page.evaluate(() => document.documentElement.lang) === 'en', 'an English browser gets the English page');
  const legacy = inputs.filter((file) => trueLegacyEncoding(file));
  const got = await convertInPage(page, legacy, null);
  compareAll('read in CP1252', legacy, got, 'CP1252');
  const korean = legacy.map((file, i) => ({ file, i })).filter(({ file }) => trueLegacyEncoding(file) === 'CP949');
  const first = korean.find(({ i }) => got[i].likely === 'CP949');
  check(first && /looks wrong in Western European \(Windows-1252\); it reads as Korean \(CP949\)/.test(got[first.i].text),
    'a Korean file read as CP1252 says so: ' + (first && got[first.i].text));
  await page.click(`#results li:nth-child(${first.i + 1}) button:has-text("Read as Korean (CP949)")`);
  const once = await collect(page, legacy.length);
  check(nativeSrt(first.file.bytes, 'CP949').equals(once[first.i].srt) && once[first.i].state === 'converted',
    'one click reads the file as Korean, without a warning');
  check(await page.inputValue('#codepage') === 'CP1252', 'the page-wide choice stays as it was');
  await page.click('#flagged button:has-text("Korean (CP949)")');
  const all = await collect(page, legacy.length);
  legacy.forEach((file, i) => {
    const truth = trueLegacyEncoding(file);
    if (truth === 'CP949' && got[i].likely === 'CP949') {
      check(nativeSrt(file.bytes, 'CP949').equals(all[i].srt), `${file.name}: read as Korean in one click`);
    }
  });
  await closePage(page, 'English browser');
}

// Files chosen before the page knows the encoding wait for it: none is read in CP1252.
async function checkRace(browser, url, inputs) {
  const context = await browser.newContext({ locale: 'ko-KR' });
  const page = await context.newPage();
  await page.route('**/worker.js', async (route) => {
    await new Promise((resolve) => setTimeout(resolve, 1500));
    await route.continue();
  });
  await page.goto(url, { waitUntil: 'domcontentloaded' });
  const korean = inputs.filter((file) => trueLegacyEncoding(file) === 'CP949');
  await page.setInputFiles('#files', korean.map((file) => ({ name: file.name, mimeType: 'text/plain', buffer: file.bytes })));
  check(await page.evaluate(() => document.documentElement.dataset.ready) === undefined,
    'the files were chosen before the page was ready');
  check(/Getting ready|준비/.test(await page.textContent('#status')), 'the files wait for the encoding');
  const got = await collect(page, korean.length);
  compareAll('chosen early', korean, got, 'CP949');
  await context.close();
}

// The encoding, the output and the page's language are kept across a reload.
async function checkRemembered(browser, url) {
  const page = await newPage(browser, url, { locale: 'en-US' });
  await page.selectOption('#codepage', 'CP932');
  check(await page.inputValue('#split-languages') === 'together', 'a new browser keeps two-language files together');
  await page.selectOption('#output-encoding', 'utf-8');
  await page.selectOption('#split-languages', 'split');
  await page.selectOption('#language', 'ko');
  check(await page.evaluate(() => document.documentElement.lang) === 'ko', 'choosing Korean sets lang="ko"');
  await page.reload();
  await page.waitForFunction(() => document.documentElement.dataset.ready === 'true');
  check(await page.inputValue('#codepage') === 'CP932', 'the encoding is remembered');
  check(await page.inputValue('#output-encoding') === 'utf-8', 'the output choice is remembered');
  check(await page.inputValue('#split-languages') === 'split', 'the two-language choice is remembered');
  check(await page.inputValue('#language') === 'ko' && await page.evaluate(() => document.documentElement.lang) === 'ko',
    'the page language is remembered');
  await closePage(page, 'remembered choices');
}

// A Korean browser gets the Korean page.
async function checkKoreanTexts(page) {
  check(await page.evaluate(() => document.documentElement.lang) === 'ko', 'a Korean browser gets lang="ko"');
  const text = await page.textContent('body');
  for (const phrase of ['예전 파일의 인코딩', '한국어 (CP949)', '파일 고르기', '폴더 고르기', '목록 지우기',
    '파일은 이 컴퓨터 밖으로 나가지 않습니다', 'BOM이 있는 UTF-16', '두 언어가 든 파일', '함께 두기 (프로그램과 같음)',
    '언어마다 파일 하나씩']) {
    check(text.includes(phrase), 'the Korean page says ' + phrase);
  }
  check(!/Choose files|Clear the list|Encoding of older files|Two-language files/.test(text), 'no English left on the Korean page');
}

// Converted, failed and passed over are counted, and each failure is said plainly.
async function checkCounts(page) {
  const got = await convertInPage(page, [
    { name: 'good.smi', bytes: Buffer.from('<SYNC Start=1>a<SYNC Start=2>&nbsp;') },
    { name: 'empty.smi', bytes: Buffer.alloc(0) },
    { name: 'letter.smi', bytes: Buffer.from('Dear friend,\r\nthis is not a subtitle.\r\n') },
    { name: 'blank.smi', bytes: Buffer.from('<SAMI><BODY><SYNC Start=1>&nbsp;<SYNC Start=2>&nbsp;</BODY>') },
    { name: 'notes.txt', bytes: Buffer.from('x') },
  ], 'CP1252');
  check(JSON.stringify(got.map((e) => e.state)) === JSON.stringify(['converted', 'failed', 'failed', 'warning', 'passed-over']),
    'the states: ' + got.map((e) => e.state).join(','));
  check(/not a SAMI file: no subtitle found/.test(got[1].text) && /not a SAMI file/.test(got[2].text),
    'an empty file and a letter are not SAMI files: ' + got[1].text);
  check(/no subtitle found: the \.srt is empty/.test(got[3].text), 'a SAMI file with no cue is a warning: ' + got[3].text);

  // A 400 MB file is read whole (here zeros: no SAMI file); a file over
  // 1 GB is too large for the page and not read at all (sparse files: no
  // disk space).
  const sparse = (name, megabytes) => {
    const file = path.join(work, name);
    fs.closeSync(fs.openSync(file, 'w'));
    fs.truncateSync(file, megabytes * 1024 * 1024);
    return file;
  };
  await page.setInputFiles('#files', [sparse('large.smi', 400), sparse('huge.smi', 1100)]);
  const withHuge = await collect(page, 7);
  check(withHuge[5].state === 'failed' && /not a SAMI file/.test(withHuge[5].text),
    'a 400 MB file is read whole: ' + withHuge[5].text);
  check(withHuge[6].state === 'failed' && /too large for the page: 1100 MB — use the program/.test(withHuge[6].text),
    'a 1100 MB file is too large for the page: ' + withHuge[6].text);
  const status = await page.textContent('#status');
  check(status === '7 files: 2 converted, 1 with a warning, 4 failed, 1 passed over.', 'the summary: ' + status);
  await page.check('#problems-only');
  check(!await page.isVisible('#results li:nth-child(1)') && await page.isVisible('#results li:nth-child(2)'),
    'the list can show only the files with a problem');
  await page.uncheck('#problems-only');
  // Removing a file lets go of its .srt and counts it no more.
  await page.click('#results li:nth-child(1) button.remove');
  const left = await page.evaluate(() => ({ paths: entries.map((e) => e.path), status: statusLine.textContent }));
  check(!left.paths.includes('good.smi') && left.status === '6 files: 1 converted, 1 with a warning, 4 failed, 1 passed over.',
    'a removed file is gone from the list and the counts: ' + left.status);
}

// Clear stops the run; files added during a run join it and are counted.
async function checkControl(page, folder, count) {
  await clearList(page);
  await page.selectOption('#codepage', 'CP949');
  await page.setInputFiles('#folder', folder);
  await page.waitForFunction(() => run.done >= 3);
  await clearList(page);
  await page.waitForTimeout(400);
  const after = await page.evaluate(() => ({ listed: entries.length, items: results.children.length,
    status: statusLine.textContent, busy: pool.some((slot) => slot.working.size) }));
  check(after.listed === 0 && after.items === 0 && after.status === 'No files yet.' && !after.busy,
    'Clear during a run stops it: ' + JSON.stringify(after));
  // The fresh workers get ready for the chosen encoding without a file to convert.
  const prepared = await page.evaluate(() => Promise.race([
    whenWorkersReady().then((replies) => (replies || []).filter((reply) => reply.error).map((reply) => reply.error).join('; ')),
    new Promise((resolve) => setTimeout(() => resolve('not ready after 20 s'), 20000))]));
  check(prepared === '', 'the workers Clear starts get ready: ' + prepared);
  await page.setInputFiles('#folder', folder);
  // Chosen in the same task that sees the run under way, so that a fast run
  // cannot end first.
  const late = await page.evaluate(() => new Promise((resolve) => {
    const poll = () => {
      if (run.done < 3) {
        setTimeout(poll, 2);
        return;
      }
      const during = run.done < run.total;
      const chooser = document.getElementById('files');
      const chosen = new DataTransfer();
      chosen.items.add(new File(['<SYNC Start=1>late'], 'late.smi', { type: 'text/plain' }));
      chooser.files = chosen.files;
      chooser.dispatchEvent(new Event('change', { bubbles: true }));
      resolve({ during, total: run.total });
    };
    poll();
  }));
  check(late.during && late.total === count + 1,
    `a file added during the run joins it (${late.total} of ${count + 1}${late.during ? '' : ', the run had ended'})`);
  const got = await collect(page, count + 1);
  const handed = await page.evaluate(() => pool.map((slot) => slot.handed));
  check(handed.length < 2 || handed.every((n) => n > 0), 'every worker takes a share of the files: ' + handed.join(', '));
  const status = await page.textContent('#status');
  check(got.every((e) => e.state === 'converted' || e.state === 'warning') &&
    status.startsWith(`${count + 1} files: ${count + 1} converted`), 'every file counted: ' + status);
}

// A folder dropped anywhere on the page (here its heading): read to the
// bottom, a folder given in parts, a file that cannot be read listed as such;
// while dragging, the whole page shows it takes the drop. Then single files.
async function checkDropAnywhere(page) {
  await clearList(page);
  await page.evaluate(() => document.querySelector('h1').dispatchEvent(new Event('dragenter', { bubbles: true, cancelable: true })));
  check(await page.isVisible('#drop-target'), 'dragging over the page shows the drop target');
  await page.evaluate(() => {
    const file = (name, text) => ({ isFile: true, isDirectory: false, fullPath: name,
      file: (ok) => ok(new File([text], name.slice(name.lastIndexOf('/') + 1))) });
    const broken = { isFile: true, isDirectory: false, fullPath: '/drop/sub/broken.smi',
      file: (ok, fail) => fail(new Error('gone')) };
    const folder = (fullPath, parts) => ({ isFile: false, isDirectory: true, fullPath,
      createReader: () => { let i = 0; return { readEntries: (ok) => ok(parts[i++] || []) }; } });
    const sub = folder('/drop/sub', [[file('/drop/sub/two.SMI', '<SYNC Start=1>2')], [broken]]);
    const top = folder('/drop', [[file('/drop/one.smi', '<SYNC Start=1>1'), file('/drop/skip.txt', 'x')], [sub]]);
    const event = new Event('drop', { bubbles: true, cancelable: true });
    event.dataTransfer = { items: [{ kind: 'file', webkitGetAsEntry: () => top, getAsFile: () => null }] };
    document.querySelector('h1').dispatchEvent(event);
  });
  check(!await page.isVisible('#drop-target'), 'the drop target goes with the drop');
  const dropped = await collect(page, 3);
  check(JSON.stringify(dropped.map((e) => [e.path, e.state])) === JSON.stringify([
    ['drop/one.smi', 'converted'], ['drop/sub/broken.smi', 'failed'], ['drop/sub/two.SMI', 'converted']]),
  'the dropped folder: ' + JSON.stringify(dropped.map((e) => [e.path, e.state])));
  check(/could not be read/.test(dropped[1].text), 'an unreadable file says so');
  const [zip] = await Promise.all([page.waitForEvent('download'), page.click('#zip')]);
  check(zip.suggestedFilename() === 'drop.zip', 'the .zip is named after the dropped folder: ' + zip.suggestedFilename());

  // Files dropped on their own come from their entries, or as the drop gives
  // them when the entry fails; in the order dropped.
  await clearList(page);
  await page.evaluate(() => {
    const entry = (name, file) => ({ isFile: true, isDirectory: false, name, fullPath: '/' + name,
      file: (ok, fail) => (file ? ok(file) : fail(new Error('gone'))) });
    const item = (root, plain) => ({ kind: 'file', webkitGetAsEntry: () => root, getAsFile: () => plain });
    const event = new Event('drop', { bubbles: true, cancelable: true });
    event.dataTransfer = { items: [
      item(entry('b.smi', new File(['<SYNC Start=1>b'], 'b.smi')), null),
      { kind: 'string', webkitGetAsEntry: () => null, getAsFile: () => null },
      item(entry('a.smi', null), new File(['<SYNC Start=1>a'], 'a.smi')),
      item(entry('gone.smi', null), null),
    ] };
    document.querySelector('h1').dispatchEvent(event);
  });
  const alone = await collect(page, 3);
  check(JSON.stringify(alone.map((e) => [e.path, e.state, e.cues])) === JSON.stringify([
    ['b.smi', 'converted', 1], ['a.smi', 'converted', 1], ['gone.smi', 'failed', 0]]) && /could not be read/.test(alone[2].text),
  'files dropped on their own: ' + JSON.stringify(alone.map((e) => [e.path, e.state, e.cues])));
}

// Names, downloads, a folder through its chooser and the .zip.
async function checkNamesAndZip(page, inputs) {
  const named = await convertInPage(page, [
    { name: 'Film.Part.SMI', bytes: Buffer.from('<SYNC Start=1>a<SYNC Start=2>&nbsp;') },
    { name: 'notes.txt', bytes: Buffer.from('<SYNC Start=1>a') },
    { name: '<img src=x onerror=alert(1)>.smi', bytes: Buffer.from('<SYNC Start=1><script>b') },
  ], 'CP1252');
  check(named[0].download === 'Film.Part.srt' && /1 cue/.test(named[0].text), 'Film.Part.SMI gives Film.Part.srt with 1 cue');
  check(named[1].state === 'passed-over' && /passed over/.test(named[1].text), 'notes.txt is passed over');
  check(named[2].download === '<img src=x onerror=alert(1)>.srt' && named[2].cues === 1, 'a name holding markup is shown as text');
  check(await page.locator('#results img').count() === 0, 'no markup from a name reaches the page');
  const preview = '#results li:nth-child(1) pre.preview';
  const toggle = '#results li:nth-child(1) button.preview';
  const closed = !await page.isVisible(preview) && await page.getAttribute(toggle, 'aria-expanded') === 'false';
  await page.click(toggle);
  check(closed && await page.isVisible(preview) && await page.getAttribute(toggle, 'aria-expanded') === 'true' &&
    /00:00:00,001 --> /.test(await page.textContent(preview)), 'the preview opens in one click and shows the first cues');
  await page.click(toggle);
  check(!await page.isVisible(preview) && await page.getAttribute(toggle, 'aria-expanded') === 'false',
    'a second click closes the preview');
  await page.click(toggle);  // left open for the accessibility check

  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#results li a >> nth=0')]);
  check(download.suggestedFilename() === 'Film.Part.srt', 'the download is named Film.Part.srt');
  check(fs.readFileSync(await download.path()).equals(named[0].srt), 'the download holds the .srt');

  // A folder through the folder chooser: every .smi below it, .SMI too, nothing else.
  const folder = path.join(work, 'films');
  fs.mkdirSync(path.join(folder, 'season 1', 'deep'), { recursive: true });
  const folderFiles = {
    'a.smi': inputs[0].bytes, 'season 1/B.SMI': inputs[1].bytes,
    'season 1/deep/c.smi': inputs[2].bytes, 'season 1/readme.txt': Buffer.from('x'),
  };
  for (const [name, bytes] of Object.entries(folderFiles)) fs.writeFileSync(path.join(folder, name), bytes);
  await clearList(page);
  await page.setInputFiles('#folder', folder);
  const inFolder = await collect(page, 3);
  check(JSON.stringify(inFolder.map((e) => e.path)) ===
    JSON.stringify(['films/a.smi', 'films/season 1/B.SMI', 'films/season 1/deep/c.smi']),
    'the folder brings its three .smi files: ' + inFolder.map((e) => e.path).join(', '));
  const [zipDownload] = await Promise.all([page.waitForEvent('download'), page.click('#zip')]);
  check(zipDownload.suggestedFilename() === 'films.zip', 'the .zip is named after the folder');
  const unzipped = require('fflate').unzipSync(fs.readFileSync(await zipDownload.path()));
  const names = Object.keys(unzipped).sort();
  check(JSON.stringify(names) === JSON.stringify(['films/a.srt', 'films/season 1/B.srt', 'films/season 1/deep/c.srt']),
    'the .zip holds ' + names.join(', '));
  check(inFolder.every((e) => unzipped[e.path.replace(/\.smi$/i, '.srt')] &&
    Buffer.from(unzipped[e.path.replace(/\.smi$/i, '.srt')]).equals(e.srt)), 'the .zip holds the .srt bytes');
}

// The page may reach nothing but its own files.
async function checkPolicy(page, label) {
  const blocked = await page.evaluate(async (other) => {
    const violations = [];
    document.addEventListener('securitypolicyviolation', (e) => violations.push(e.violatedDirective));
    try { await fetch(other, { method: 'POST', body: 'x' }); return 'sent'; } catch (error) { /* refused */ }
    const image = new Image();
    image.src = other + '?image';
    await new Promise((resolve) => setTimeout(resolve, 150));
    return violations.join(',');
  }, 'http://127.0.0.2:9/upload');
  check(/connect-src/.test(blocked) && /img-src/.test(blocked), label + ': the security policy refuses requests elsewhere (' + blocked + ')');
  // The blocked image is reported as a request before the policy stops it.
  page.elsewhere = page.elsewhere.filter((address) => !address.startsWith('http://127.0.0.2:9/'));
}

// The one-file page, opened from disk, converts the golden inputs as the program does.
async function checkSingleFile(browser, inputs) {
  const url = 'file://' + path.join(dist, 'lumentrace.html');
  const page = await newPage(browser, url, { locale: 'ko-KR' });
  const golden = inputs.filter((file) => fs.existsSync(path.join(root, 'tests', 'data', file.name)));
  const got = await convertInPage(page, golden, 'CP949');
  compareAll('the single file', golden, got, 'CP949');
  check(!await page.isVisible('#offline'), 'the single file does not offer itself');
  await page.selectOption('#split-languages', 'split');
  const bilingual = bilingualInputs();
  const split = await convertInPage(page, bilingual, 'CP949');
  bilingual.forEach((file, i) => checkParts('the single file, split', file, split[i]));
  await checkPolicy(page, 'the single file');
  await closePage(page, 'the single file');
}

// Keyboard order and labels.
async function checkKeyboard(page) {
  await clearList(page);
  await page.focus('#files');
  const order = [];
  for (let i = 0; i < 5; ++i) {
    order.push(await page.evaluate(() => document.activeElement.id));
    await page.keyboard.press('Tab');
  }
  check(order.join(',') === 'files,folder,codepage,output-encoding,split-languages', 'keyboard order: ' + order.join(','));
  const unlabelled = await page.evaluate(() => [...document.querySelectorAll('input, select')]
    .filter((control) => control.labels.length === 0).map((control) => control.id));
  check(unlabelled.length === 0, 'every control has a label: ' + unlabelled.join(','));
}

// axe-core finds nothing to fault, in light and in dark.
async function checkAccessibility(page, state) {
  for (const colorScheme of ['light', 'dark']) {
    await page.emulateMedia({ colorScheme });
    // Given as source, not as a function, the library is not held to the page's policy.
    if (!await page.evaluate(() => !!window.axe)) await page.evaluate(axeSource);
    const violations = await page.evaluate(async () => {
      const found = await axe.run(document);
      return found.violations.map((v) => `${v.id} (${v.nodes.map((n) => n.target.join(' ')).join('; ')})`);
    });
    check(violations.length === 0, `axe, ${state}, ${colorScheme}: ${violations.join(', ')}`);
  }
  await page.emulateMedia({ colorScheme: 'light' });
}

// Many files and a large one, against the native program on this machine, and
// the longest the page's main thread kept a frame waiting meanwhile. Each
// time is the middle of three runs, the program's and the page's taken in
// turn, so that a passing load weighs on both alike.
async function checkSpeed(page, folder, count) {
  const env = { PATH: process.env.PATH, LOCPATH: locales, LC_ALL: 'ko_KR.UTF-8' };
  const middle = (list) => [...list].sort((a, b) => a - b)[Math.floor(list.length / 2)];
  const nativeBatch = () => {
    const t0 = Date.now();
    const run = spawnSync(native, [], { cwd: folder, env });
    const ms = Date.now() - t0;
    const srts = fs.readdirSync(folder).filter((name) => name.endsWith('.srt')).sort();
    const outputs = srts.map((name) => fs.readFileSync(path.join(folder, name)));
    for (const name of srts) fs.rmSync(path.join(folder, name));
    return { ms, ok: run.status === 0, outputs };
  };
  const nativeFilm = (bytes) => {
    const t0 = Date.now();
    const srt = nativeSrt(bytes, 'CP949');
    return { ms: Date.now() - t0, srt };
  };

  // Timed from the chooser's change event, so that the test's own way of
  // choosing files (DevTools filling in the chooser) is left out, until every
  // file is converted and its line drawn. Clear starts fresh workers; the
  // files are chosen once they are ready, as they would be by anyone who
  // clears the list and then picks files in the browser's chooser.
  const inPage = async (chooser, files) => {
    await clearList(page);
    await page.evaluate(() => whenWorkersReady());
    await page.evaluate((id) => {
      // The test's own garbage (the last run's .srt files read back) is
      // collected first, so that the gaps measured are the page's.
      if (window.gc) window.gc();
      window.frameGap = 0;
      window.stopFrames = false;
      document.getElementById(id).addEventListener('change', () => {
        window.chosenAt = performance.now();
        let last = window.chosenAt;
        const tick = (now) => {
          window.frameGap = Math.max(window.frameGap, now - last);
          last = now;
          if (!window.stopFrames) requestAnimationFrame(tick);
        };
        requestAnimationFrame(tick);
      }, { once: true, capture: true });
    }, chooser);
    await page.setInputFiles('#' + chooser, files);
    await page.waitForFunction(() => window.chosenAt !== undefined);
    return page.evaluate(async () => {
      await whenIdle();
      const took = performance.now() - window.chosenAt;
      window.stopFrames = true;
      window.chosenAt = undefined;
      return { ms: took, gap: window.frameGap };
    });
  };
  // The longest frame gap in each kind of run.
  const gaps = {};
  // Runs `times` rounds of the program and the page; the page's output of
  // the first is kept for comparison.
  const rounds = async (what, times, nativeRun, chooser, files) => {
    const nativeMs = [];
    const pageMs = [];
    let first = null;
    let got = null;
    for (let i = 0; i < times; ++i) {
      const ran = nativeRun();
      nativeMs.push(ran.ms);
      if (!first) first = ran;
      const inThePage = await inPage(chooser, files);
      pageMs.push(inThePage.ms);
      gaps[what] = Math.max(gaps[what] || 0, inThePage.gap);
      if (!got) got = await collect(page, Array.isArray(files) ? files.length : count);
    }
    return { nativeMs: middle(nativeMs), pageMs: middle(pageMs), first, got };
  };

  const batch = await rounds(`${count} files`, 3, nativeBatch, 'folder', folder);
  check(batch.first.ok, 'the native program converts the batch');
  check(batch.got.length === count && batch.got.every((entry, i) => entry.srt && batch.first.outputs[i].equals(entry.srt)),
    `the ${count} files match the native program's`);

  const big = film(50);
  const bigPath = path.join(work, 'film.smi');
  fs.writeFileSync(bigPath, big);
  const large = await rounds('50 MB film', 3, () => nativeFilm(big), 'files', [bigPath]);
  check(large.got[0].srt && large.first.srt.equals(large.got[0].srt), 'the 50 MB film matches');

  const mid = film(5);
  const midPath = path.join(work, 'film5.smi');
  fs.writeFileSync(midPath, mid);
  const middling = await rounds('5 MB film', 3, () => nativeFilm(mid), 'files', [midPath]);
  check(middling.got[0].srt && middling.first.srt.equals(middling.got[0].srt), 'the 5 MB film matches');
  await clearList(page);

  const kilobytes = Math.round(batch.first.outputs.reduce((n, b) => n + b.length, 0) / 1024);
  const line = (what, { pageMs, nativeMs }) => `${what}: page ${Math.round(pageMs)} ms, native ${nativeMs} ms ` +
    `(${(pageMs / nativeMs).toFixed(1)}x)`;
  console.log(line(`${count} files (${kilobytes} KB of .srt)`, batch) + `; ${await page.evaluate(() => pool.length)} workers`);
  console.log(line(`50 MB film (${big.length} bytes)`, large));
  console.log(line(`5 MB film (${mid.length} bytes)`, middling));
  console.log('(each the middle of three runs)');
  const gap = Math.max(...Object.values(gaps));
  console.log(`longest frame gap on the page's main thread while converting: ${Math.round(gap)} ms (` +
    Object.entries(gaps).map(([what, ms]) => `${what} ${Math.round(ms)} ms`).join(', ') + ')');
  // Timings are reported, not asserted: a loaded machine stretches every
  // frame, and a timed check would fail for the machine, not for the page.
  console.log(`(200 ms is the aim on an idle machine; load now ${(os.loadavg()[0] / os.cpus().length).toFixed(1)} a core)`);
}

// A folder of `count` films like real ones: Korean in CP949, UTF-8 and UTF-16.
function batchFolder(count) {
  const folder = path.join(work, 'batch');
  fs.mkdirSync(folder);
  for (let i = 0; i < count; ++i) {
    const text = legacyFilmText('CP949', 300 + (i % 7) * 40, i);
    const bytes = i % 3 === 0 ? encode(text, 'CP949') : Buffer.from('\uFEFF' + text, i % 3 === 1 ? 'utf8' : 'utf16le');
    fs.writeFileSync(path.join(folder, `film ${String(i).padStart(3, '0')}.smi`), bytes);
  }
  return folder;
}

async function screenshots(page, inputs) {
  if (!process.env.SCREENSHOT) return;
  const shown = inputs.filter((f) => /^korean_dialogue|sample|one_cue|repeat_merged|generated_cp932_5\./.test(f.name))
    .concat([{ name: 'notes.txt', bytes: Buffer.from('x') }, { name: 'empty.smi', bytes: Buffer.alloc(0) }]);
  for (const language of ['en', 'ko']) {
    await page.selectOption('#language', language);
    await convertInPage(page, shown, 'CP949');
    await page.click('#results li:nth-child(1) button.preview');
    // Tall enough for the whole list: items out of view are not drawn.
    for (let i = 0; i < 2; ++i) {
      await page.setViewportSize({ width: 900, height: await page.evaluate(() => document.documentElement.scrollHeight) });
    }
    const file = language === 'en' ? process.env.SCREENSHOT : process.env.SCREENSHOT.replace(/(\.png)?$/, '-ko.png');
    await page.screenshot({ path: file });
    await page.setViewportSize({ width: 900, height: 760 });
  }
  await page.selectOption('#language', 'ko');
}

async function main() {
  buildLocales();
  compareCharClasses();
  const server = await serve();
  const url = `http://127.0.0.1:${server.address().port}/`;
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--headless', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--js-flags=--expose-gc'],
  });
  try {
    if (process.argv.includes('--speed')) {
      const page = await newPage(browser, url, { locale: 'ko-KR' });
      await checkSpeed(page, batchFolder(300), 300);
      await closePage(page, 'the served page');
      return;
    }
    const inputs = allTestInputs();
    await checkRace(browser, url, inputs);
    const page = await newPage(browser, url, { locale: 'ko-KR' });
    await checkKoreanTexts(page);
    await checkAccessibility(page, 'empty, in Korean');
    await page.selectOption('#language', 'en');
    await checkEveryInput(page, inputs);
    await checkUtf8Output(page, inputs);
    await checkLanguageSplit(page, inputs);
    await checkNamesAndZip(page, inputs);
    await checkAccessibility(page, 'files listed, a preview open');
    await checkDropAnywhere(page);
    await checkCounts(page);
    await checkAccessibility(page, 'with failures and warnings');
    await checkPolicy(page, 'the served page');
    const count = 300;
    const folder = batchFolder(count);
    await checkControl(page, folder, count);
    await checkSpeed(page, folder, count);
    await checkKeyboard(page);
    await screenshots(page, inputs);
    await closePage(page, 'the served page');
    await checkWrongEncoding(browser, url, inputs);
    await checkRemembered(browser, url);
    await checkSingleFile(browser, inputs);
    console.log(`encoding warning: ${heuristic.falseWarnings.length} false warnings in ${heuristic.readings} readings` +
      `${heuristic.falseWarnings.length ? ' (' + heuristic.falseWarnings.join(', ') + ')' : ''}; ` +
      `${heuristic.misses.length} misses in ${heuristic.wrongReadings} readings in the wrong encoding` +
      `${heuristic.misses.length ? ' (' + heuristic.misses.join(', ') + ')' : ''}`);
    check(heuristic.falseWarnings.length === 0, 'no file read right is flagged');
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(work, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.log('FAILED: ' + (error && error.stack || error));
  ++failed;
}).finally(() => {
  console.log(`${passed} passed, ${failed} failed`);
  process.exitCode = failed === 0 ? 0 : 1;
});
