// Makes the page from web/ and the core's build, without the network:
//   OUT/moravelt.html  one self-contained file: styles, script, worker and wasm inside; it
//                      works opened from disk (file://), the worker started from a Blob;
//   OUT/site/          the same page as separate files, for a static host.
// Usage: node web/bundle.mjs BUILD OUT   (BUILD, or BUILD/src/web, holds moravelt.js and moravelt.wasm)
import { createHash } from 'node:crypto';
import { copyFileSync, existsSync, mkdirSync, readFileSync, renameSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { constants, gzipSync } from 'node:zlib';
import { fileURLToPath } from 'node:url';

const [build, out] = process.argv.slice(2);
if (!build || !out) {
  console.error('usage: node web/bundle.mjs BUILD OUT');
  process.exit(2);
}
// The build folder itself, or the CMake build whose src/web holds the module.
const wasmBuild = [build, join(build, 'src', 'web')].find((d) => existsSync(join(d, 'moravelt.wasm')));
if (!wasmBuild) {
  console.error(`bundle: no moravelt.wasm in ${build} or ${join(build, 'src', 'web')}`);
  process.exit(1);
}
const web = dirname(fileURLToPath(import.meta.url));
const read = (path) => readFileSync(path, 'utf8');
const html = read(join(web, 'index.html'));
const css = read(join(web, 'style.css'));
const app = read(join(web, 'app.js'));
const worker = read(join(web, 'worker.js'));
const coreJs = read(join(wasmBuild, 'moravelt.js'));
const wasm = readFileSync(join(wasmBuild, 'moravelt.wasm'));

// What every page forbids: any connection, any other origin, plugins, forms, framing.
const common = ["default-src 'none'", "connect-src 'none'", "img-src 'self' blob: data:", "object-src 'none'",
  "base-uri 'none'", "form-action 'none'"];
const csp = (parts) => `<meta http-equiv="Content-Security-Policy" content="${[...common, ...parts].join('; ')}">`;
const sha256 = (text) => `'sha256-${createHash('sha256').update(text, 'utf8').digest('base64')}'`;

function replaceOnce(text, what, by) {
  const at = text.indexOf(what);
  if (at < 0 || text.indexOf(what, at + what.length) >= 0) throw new Error(`index.html must hold ${what} once`);
  return text.slice(0, at) + (typeof by === 'function' ? by() : by) + text.slice(at + what.length);
}

// Written beside, then renamed over: a page half written is never left in place.
function write(path, data) {
  mkdirSync(dirname(path), { recursive: true });
  writeFileSync(path + '.part', data);
  renameSync(path + '.part', path);
}

// The hosted page: the worker (a file of this origin) fetches moravelt.wasm beside it.
let site = replaceOnce(html, '<!--CSP-->',
  csp(["script-src 'self' 'wasm-unsafe-eval'", "style-src 'self'", "worker-src 'self'"]));
write(join(out, 'site', 'index.html'), site);
write(join(out, 'site', 'style.css'), css);
write(join(out, 'site', 'app.js'), app);
write(join(out, 'site', 'worker.js'), worker);
write(join(out, 'site', 'moravelt.js'), coreJs);
mkdirSync(join(out, 'site'), { recursive: true });
copyFileSync(join(wasmBuild, 'moravelt.wasm'), join(out, 'site', 'moravelt.wasm'));

// The single file: the wasm goes in gzipped, as base64, and reaches the core as its
// wasmBinary once the browser's DecompressionStream has unpacked it, so nothing is fetched,
// not even a data: URL; the worker's source is a string in the script. Gzipped, the wasm
// takes a little over half the room.
const packed = gzipSync(wasm, { level: constants.Z_BEST_COMPRESSION });
const workerSource = `self.MORAVELT_WASM_GZIP = ${JSON.stringify(packed.toString('base64'))};\n${coreJs}\n${worker}`;
// In an inline script "</script" and "<!--" would end or change it: as a JSON string every
// "<" may be written \u003c.
const inlineScript = `globalThis.MORAVELT_WORKER_SOURCE = ${JSON.stringify(workerSource).replace(/</g, '\\u003c')};\n${app}`;
if (/<\/script|<!--/i.test(inlineScript)) throw new Error('the page script holds "</script" or "<!--" outside a string');
let single = replaceOnce(html, '<!--CSP-->',
  csp([`script-src ${sha256(inlineScript)} 'wasm-unsafe-eval'`, `style-src ${sha256(css)}`, 'worker-src blob:']));
single = replaceOnce(single, '<link rel="stylesheet" href="style.css">', () => `<style>${css}</style>`);
single = replaceOnce(single, '<script type="module" src="app.js"></script>', () => `<script type="module">${inlineScript}</script>`);
write(join(out, 'moravelt.html'), single);
console.log(`bundle: ${join(out, 'moravelt.html')} (${single.length} bytes) and ${join(out, 'site')}/`);
