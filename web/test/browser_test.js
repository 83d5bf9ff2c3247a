// Drives the web page in headless Chromium, served from 127.0.0.1, and checks
// that every .srt it makes is byte for byte the native program's for the same
// file, under a UTF-8 locale of the code page's language.
//
//   node web/test/browser_test.js [NATIVE_PROGRAM]    (after bash web/build.sh)
//
// SCREENSHOT=FILE saves a picture of the page with some files converted.
'use strict';

const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const { chromium } = require('playwright-core');

const root = path.resolve(__dirname, '..', '..');
const dist = path.join(root, 'web', 'dist');
const native = path.resolve(process.argv[2] || path.join(root, 'build', 'lumentrace'));
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

// Lists `files` through the file chooser in code page `codePage`, waits for
// the conversions and returns each entry's state, cue count and .srt bytes.
async function convertInPage(page, files, codePage) {
  await page.click('#clear').catch(() => {});
  await page.selectOption('#codepage', codePage);
  await page.setInputFiles('#files', files.map((file) => ({
    name: file.name, mimeType: 'application/octet-stream', buffer: file.bytes,
  })));
  return collect(page, files.length);
}

async function collect(page, count) {
  await page.waitForFunction((n) => entries.length >= n, count);
  return page.evaluate(async () => {
    await batch;
    const toBase64 = (bytes) => {
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000) {
        text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
      }
      return btoa(text);
    };
    return entries.map((entry) => ({
      path: entry.path, state: entry.li.dataset.state, cues: entry.cues, ms: entry.ms,
      text: entry.li.textContent,
      download: entry.li.querySelector('a') ? entry.li.querySelector('a').download : null,
      srt: entry.srt ? toBase64(entry.srt) : null,
    }));
  }).then((list) => list.map((entry) => ({ ...entry, srt: entry.srt && Buffer.from(entry.srt, 'base64') })));
}

function compareAll(label, files, got, codePage) {
  check(got.length === files.length, `${label}: ${files.length} files listed (${got.length})`);
  files.forEach((file, i) => {
    const entry = got[i] || {};
    const expected = nativeSrt(file.bytes, codePage);
    check(entry.srt && expected.equals(entry.srt), `${label} ${file.name} in ${codePage}: the .srt differs from the native program's`);
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

async function main() {
  buildLocales();
  compareCharClasses();
  const server = await serve();
  const url = `http://127.0.0.1:${server.address().port}/`;
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--headless', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  try {
    const context = await browser.newContext({ acceptDownloads: true, locale: 'ko-KR',
      viewport: { width: 900, height: 760 } });
    const page = await context.newPage();
    const elsewhere = [];
    page.on('request', (request) => {
      if (!request.url().startsWith(url) && !request.url().startsWith('blob:')) elsewhere.push(request.url());
    });
    const errors = [];
    page.on('pageerror', (error) => errors.push(String(error)));
    await page.goto(url);
    await page.waitForFunction(() => document.documentElement.dataset.ready === 'true');

    // The browser's language presets the code page, by the program's table.
    check(await page.inputValue('#codepage') === 'CP949', 'a Korean browser presets CP949');

    // Every test input, in the Western and in the Korean code page.
    const inputs = [
      ...filesIn(path.join(root, 'tests', 'data'), (name) => name.endsWith('.smi')),
      ...filesIn(path.join(root, 'examples'), (name) => /\.smi$/i.test(name)),
      ...filesIn(path.join(root, 'tests', 'fuzz', 'corpus')).map((f) => ({ ...f, name: f.name.replace(/(\.smi)?$/, '.smi') })),
      ...filesIn(path.join(root, 'tests', 'fuzz', 'regressions')).map((f) => ({ ...f, name: f.name + '.smi' })),
      { name: 'white_space.smi', bytes: whiteSpaceSweep() },
      ...hostileInputs(),
    ];
    for (const codePage of ['CP1252', 'CP949']) {
      const got = await convertInPage(page, inputs, codePage);
      compareAll('test input', inputs, got, codePage);
      got.forEach((entry) => {
        if (entry.srt) check(entry.cues === cueCount(entry.srt), `${entry.path}: ${entry.cues} cues listed`);
      });
    }

    // Every byte and pair of each code page the page reads as the native program does.
    // The one byte read otherwise: the browser's CP1255 has U+05BA at CA, which
    // glibc's leaves undefined.
    for (const codePage of Object.keys(kLocales)) {
      const sweep = { name: 'bytes.smi', bytes: byteSweep(codePage === 'CP1255' ? [0xCA] : []) };
      const got = await convertInPage(page, [sweep], codePage);
      compareAll('byte sweep', [sweep], got, codePage);
    }
    const holam = await convertInPage(page, [{ name: 'holam.smi', bytes: Buffer.from([...Buffer.from('<SYNC Start=1>'), 0xCA]) }], 'CP1255');
    check(holam[0].srt && holam[0].srt.subarray(2).toString('utf16le').endsWith('\u05BA'), 'CP1255 CA reads as U+05BA');

    // A wrong code page shows: CP949 text read as CP1252 is the native
    // program's CP1252 reading and not its CP949 one.
    const korean = inputs.filter((file) => /cp949/.test(file.name));
    check(korean.length >= 2, 'the corpus has CP949 files');
    const wrong = await convertInPage(page, korean, 'CP1252');
    korean.forEach((file, i) => {
      check(nativeSrt(file.bytes, 'CP1252').equals(wrong[i].srt), `${file.name} read as CP1252 as the native program reads it`);
      check(!nativeSrt(file.bytes, 'CP949').equals(wrong[i].srt), `${file.name} in the wrong code page differs`);
    });
    // Choosing another code page converts what is listed again.
    await page.selectOption('#codepage', 'CP949');
    const again = await collect(page, korean.length);
    korean.forEach((file, i) => check(nativeSrt(file.bytes, 'CP949').equals(again[i].srt), `${file.name} again in CP949`));

    // Names: a file that is not a .smi is passed over; outputs are named as the program names them.
    const named = await convertInPage(page, [
      { name: 'Film.Part.SMI', bytes: Buffer.from('<SYNC Start=1>a<SYNC Start=2>&nbsp;') },
      { name: 'notes.txt', bytes: Buffer.from('<SYNC Start=1>a') },
      { name: '<img src=x onerror=alert(1)>.smi', bytes: Buffer.from('<SYNC Start=1><script>b') },
    ], 'CP1252');
    check(named[0].download === 'Film.Part.srt' && /1 cue/.test(named[0].text), 'Film.Part.SMI gives Film.Part.srt with 1 cue');
    check(named[1].state === 'passed-over' && /passed over/.test(named[1].text), 'notes.txt is passed over');
    check(named[2].download === '<img src=x onerror=alert(1)>.srt' && named[2].cues === 1, 'a name holding markup is shown as text');
    check(await page.locator('#results img').count() === 0, 'no markup from a name reaches the page');

    // The download link gives the same bytes.
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
    await page.click('#clear');
    await page.setInputFiles('#folder', folder);
    const inFolder = await collect(page, 3);
    check(JSON.stringify(inFolder.map((e) => e.path)) ===
      JSON.stringify(['films/a.smi', 'films/season 1/B.SMI', 'films/season 1/deep/c.smi']),
      'the folder brings its three .smi files: ' + inFolder.map((e) => e.path).join(', '));

    // A folder dropped on the zone: read to the bottom, a folder given in parts,
    // a file that cannot be read listed as such.
    await page.click('#clear');
    await page.evaluate(() => {
      const file = (name, text) => ({ isFile: true, isDirectory: false, fullPath: name,
        file: (ok) => ok(new File([text], name.slice(name.lastIndexOf('/') + 1))) });
      const broken = { isFile: true, isDirectory: false, fullPath: '/drop/sub/broken.smi',
        file: (ok, fail) => fail(new Error('gone')) };
      const folder = (fullPath, parts) => ({ isFile: false, isDirectory: true, fullPath,
        createReader: () => { let i = 0; return { readEntries: (ok) => ok(parts[i++] || []) }; } });
      const sub = folder('/drop/sub', [[file('/drop/sub/two.SMI', '<SYNC Start=1>2')], [broken]]);
      const top = folder('/drop', [[file('/drop/one.smi', '<SYNC Start=1>1'), file('/drop/skip.txt', 'x')], [sub]]);
      const event = new Event('drop', { cancelable: true });
      event.dataTransfer = { items: [{ kind: 'file', webkitGetAsEntry: () => top, getAsFile: () => null }] };
      document.getElementById('drop').dispatchEvent(event);
    });
    const dropped = await collect(page, 3);
    check(JSON.stringify(dropped.map((e) => [e.path, e.state])) === JSON.stringify([
      ['drop/one.smi', 'converted'], ['drop/sub/broken.smi', 'unreadable'], ['drop/sub/two.SMI', 'converted']]),
    'the dropped folder: ' + JSON.stringify(dropped.map((e) => [e.path, e.state])));
    check(/could not be read/.test(dropped[1].text), 'an unreadable file says so');

    // The .zip keeps the folder structure and holds each .srt.
    await page.click('#clear');
    await page.setInputFiles('#folder', folder);
    const zipped = await collect(page, 3);
    const [zipDownload] = await Promise.all([page.waitForEvent('download'), page.click('#zip')]);
    const unzipped = require('fflate').unzipSync(fs.readFileSync(await zipDownload.path()));
    const names = Object.keys(unzipped).sort();
    check(JSON.stringify(names) === JSON.stringify(['films/a.srt', 'films/season 1/B.srt', 'films/season 1/deep/c.srt']),
      'the .zip holds ' + names.join(', '));
    check(zipped.every((e) => unzipped[e.path.replace(/\.smi$/i, '.srt')] &&
      Buffer.from(unzipped[e.path.replace(/\.smi$/i, '.srt')]).equals(e.srt)), 'the .zip holds the .srt bytes');

    // The page may reach nothing but its own files.
    const blocked = await page.evaluate(async (other) => {
      const violations = [];
      document.addEventListener('securitypolicyviolation', (e) => violations.push(e.violatedDirective));
      try { await fetch(other, { method: 'POST', body: 'x' }); return 'sent'; } catch (error) { /* refused */ }
      await new Promise((resolve) => setTimeout(resolve, 100));
      return violations.join(',');
    }, 'http://127.0.0.2:9/upload');
    check(/connect-src/.test(blocked), 'the security policy refuses a request elsewhere (' + blocked + ')');
    check(elsewhere.length === 0, 'no request left the page\'s own address: ' + elsewhere.join(', '));

    // Time: a 5 MB file in the page against the native program.
    const big = film(5);
    const t0 = Date.now();
    const nativeBig = nativeSrt(big, 'CP949');
    const nativeMs = Date.now() - t0;
    await page.click('#clear');
    const bigGot = await convertInPage(page, [{ name: 'film.smi', bytes: big }], 'CP949');
    check(bigGot[0].srt && nativeBig.equals(bigGot[0].srt), 'the 5 MB film matches');
    console.log(`5 MB film (${big.length} bytes): page ${Math.round(bigGot[0].ms)} ms ` +
      `(reading the file to the .srt's link), native ${nativeMs} ms (the whole run)`);

    // Keyboard: the choosers, the code page and the buttons take focus in order.
    await page.click('#clear');
    await page.focus('#files');
    const order = [];
    for (let i = 0; i < 4; ++i) {
      order.push(await page.evaluate(() => document.activeElement.id));
      await page.keyboard.press('Tab');
    }
    check(order.join(',') === 'files,folder,codepage,zip' || order.join(',') === 'files,folder,codepage,clear' ||
      order.slice(0, 3).join(',') === 'files,folder,codepage', 'keyboard order: ' + order.join(','));
    const unlabelled = await page.evaluate(() => [...document.querySelectorAll('input, select')]
      .filter((control) => control.labels.length === 0).map((control) => control.id));
    check(unlabelled.length === 0, 'every control has a label: ' + unlabelled.join(','));

    if (process.env.SCREENSHOT) {
      await convertInPage(page, inputs.filter((f) => /^korean_dialogue|sample|one_cue|repeat_merged/.test(f.name))
        .concat([{ name: 'notes.txt', bytes: Buffer.from('x') }]), 'CP949');
      await page.screenshot({ path: process.env.SCREENSHOT });
    }
    check(errors.length === 0, 'no script errors: ' + errors.join('; '));
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
