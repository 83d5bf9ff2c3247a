// Writes dist/lumentrace.html: the whole page in one file that works opened
// from disk (file://) and offline. The styles and the page's script are
// inlined and allowed by their hashes; the worker (the conversion's loader,
// the zip library and worker.js) and the WebAssembly (base64) ride along as
// data that the page turns into a blob: worker. The security policy is the
// served page's, with hashes where that one names the page's own files.
//   node web/single_page.js      (run by web/build.sh after it filled dist/)
'use strict';

const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

const dist = path.join(__dirname, 'dist');
const read = (name) => fs.readFileSync(path.join(dist, name), 'utf8');
const hash = (text) => "'sha256-" + crypto.createHash('sha256').update(text, 'utf8').digest('base64') + "'";

// Text inside a <script> element must not end it early.
function scriptText(name, text) {
  if (/<\/script|<!--/i.test(text)) throw new Error(name + ' holds "</script" or "<!--"; it cannot be inlined');
  return text;
}

const style = read('style.css');
const page = scriptText('page.js', read('page.js'));
const worker = scriptText('the worker', [read('lumentrace.js'), read('fflate.js'), read('worker.js')].join('\n;\n'));
const wasm = fs.readFileSync(path.join(dist, 'lumentrace.wasm')).toString('base64');

const policy = `default-src 'none'; script-src ${hash(page)} 'wasm-unsafe-eval'; worker-src blob:; ` +
  `connect-src 'none'; style-src ${hash(style)}; img-src 'none'; base-uri 'none'; form-action 'none'`;

let html = read('index.html');
const replace = (from, to) => {
  if (!html.includes(from)) throw new Error('index.html has no ' + from);
  html = html.replace(from, () => to);
};
replace(html.match(/<meta http-equiv="Content-Security-Policy" content="[^"]*">/)[0],
  `<meta http-equiv="Content-Security-Policy" content="${policy}">`);
replace('<link rel="stylesheet" href="style.css">', `<style>${style}</style>`);
replace('<script src="page.js" defer></script>\n', '');
replace('</body>', `<script type="text/plain" id="worker-source">${worker}</script>\n` +
  `<script type="application/octet-stream" id="wasm-base64">${wasm}</script>\n` +
  `<script>${page}</script>\n</body>`);
fs.writeFileSync(path.join(dist, 'lumentrace.html'), html);
console.log(`web/dist/lumentrace.html: ${html.length} bytes`);
