// The worker that holds the core: the page's files live in its in-memory file system, and
// every answer is the bridge's, so the page never waits on the core and never freezes.
// A classic worker: the single-file page puts the core's script in front of this one in
// one Blob; the hosted page loads it beside this file.
/* global createMoravelt, importScripts */
'use strict';

if (typeof createMoravelt === 'undefined') importScripts('moravelt.js');

// The single file hands the wasm over gzipped, as base64: nothing is fetched.
async function unpackedWasm(base64) {
  const packed = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
  const stream = new Blob([packed]).stream().pipeThrough(new DecompressionStream('gzip'));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

const options = { print() {}, printErr() {} };
const ready = self.MORAVELT_WASM_GZIP
  ? unpackedWasm(self.MORAVELT_WASM_GZIP).then((wasmBinary) => createMoravelt({ ...options, wasmBinary }))
  : createMoravelt(options);

function parentOf(path) {
  return path.slice(0, path.lastIndexOf('/')) || '/';
}

function makeFolders(FS, path) {
  let at = '';
  for (const part of path.split('/').filter(Boolean)) {
    at += '/' + part;
    if (!FS.analyzePath(at).exists) FS.mkdir(at);
  }
}

function removeTree(FS, path) {
  if (!FS.analyzePath(path).exists) return;
  if (FS.isDir(FS.stat(path).mode)) {
    for (const name of FS.readdir(path)) if (name !== '.' && name !== '..') removeTree(FS, path + '/' + name);
    FS.rmdir(path);
  } else {
    FS.unlink(path);
  }
}

// Every file under path: its path, size and modification time.
function tree(FS, path, into = []) {
  if (!FS.analyzePath(path).exists) return into;
  for (const name of FS.readdir(path)) {
    if (name === '.' || name === '..') continue;
    const at = path + '/' + name;
    const stat = FS.stat(at);
    if (FS.isDir(stat.mode)) tree(FS, at, into);
    else into.push({ path: at, size: stat.size, mtime: stat.mtime.getTime() });
  }
  return into;
}

const ops = {
  put(core, { path, bytes, mtime }) {
    makeFolders(core.FS, parentOf(path));
    core.FS.writeFile(path, bytes);
    if (mtime) core.FS.utime(path, mtime, mtime);
    return true;
  },
  folder(core, { path }) {
    makeFolders(core.FS, path);
    return true;
  },
  get(core, { path }) {
    return core.FS.readFile(path);
  },
  remove(core, { path }) {
    removeTree(core.FS, path);
    return true;
  },
  tree(core, { path }) {
    return tree(core.FS, path);
  },
  run(core, { args }) {
    return JSON.parse(core.run(JSON.stringify(args)));
  },
  identify(core, { path }) {
    return JSON.parse(core.identify(path));
  },
  tables(core) {
    return JSON.parse(core.tables());
  },
  icon(core, { path, size, degrees }) {
    return core.icon(path, size, degrees);
  },
  // A turn of the icon: `frames` pictures, evenly spaced over a full turn.
  turn(core, { path, size, frames }) {
    const pictures = [];
    for (let i = 0; i < frames; i++) {
      const one = core.icon(path, size, (360 * i) / frames);
      if (one.length === 0) return [];
      pictures.push(one);
    }
    return pictures;
  },
  outputName(core, { path, family }) {
    return core.outputName(path, family);
  },
};

self.onmessage = async (event) => {
  const { id, op, args } = event.data;
  let core;
  try {
    core = await ready;
  } catch (error) {
    self.postMessage({ id, error: String((error && error.message) || error), fatal: true });
    return;
  }
  try {
    const result = ops[op](core, args || {});
    const transfer = [];
    if (result instanceof Uint8Array) transfer.push(result.buffer);
    else if (Array.isArray(result)) for (const r of result) if (r instanceof Uint8Array) transfer.push(r.buffer);
    self.postMessage({ id, result }, transfer);
  } catch (error) {
    // An abort leaves the core unusable: the page starts a new worker.
    const text = String((error && error.message) || error);
    self.postMessage({ id, error: text, fatal: /abort|RuntimeError|memory/i.test(text) });
  }
};
