// Moravelt's page: every save, card and SD card the core opens, in a browser, offline.
// The core runs in a worker (see worker.js) over an in-memory file system; every result and
// message the page shows is the command line's own, run there. The page only lays them out.
'use strict';

// ---------- the worker ----------

// The core, in its worker. Files the page holds are kept here as well, so that a worker the
// core brought down (an abort on a hostile file) is replaced with the same files in it.
class Core {
  constructor() {
    this.next = 1;
    this.pending = new Map();
    this.kept = new Map(); // path -> { bytes, mtime }
    this.start();
  }

  start() {
    const source = globalThis.MORAVELT_WORKER_SOURCE;
    const url = source ? URL.createObjectURL(new Blob([source], { type: 'text/javascript' })) : 'worker.js';
    this.worker = new Worker(url);
    this.worker.onmessage = (event) => this.answer(event.data);
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.restart(event.message || 'The worker stopped');
    };
  }

  answer({ id, result, error, fatal }) {
    const waiting = this.pending.get(id);
    if (!waiting) return;
    this.pending.delete(id);
    if (error === undefined) waiting.resolve(result);
    else waiting.reject(new Error(error));
    if (fatal) this.restart(error);
  }

  // A new worker with the kept files; every call still waiting fails with `why`.
  restart(why) {
    this.worker.terminate();
    for (const waiting of this.pending.values()) waiting.reject(new Error(why));
    this.pending.clear();
    this.start();
    for (const [path, { bytes, mtime }] of this.kept) this.call('put', { path, bytes: bytes.slice(), mtime });
  }

  call(op, args = {}) {
    const id = this.next++;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.worker.postMessage({ id, op, args });
    });
  }

  run(...args) {
    return this.call('run', { args });
  }

  async put(path, bytes, mtime) {
    this.kept.set(path, { bytes, mtime });
    return this.call('put', { path, bytes: bytes.slice(), mtime });
  }

  // The file as the core left it, kept again.
  async refresh(path) {
    const bytes = await this.call('get', { path });
    this.kept.set(path, { bytes, mtime: Date.now() });
    return bytes;
  }

  forget(prefix) {
    for (const path of [...this.kept.keys()]) if (path.startsWith(prefix)) this.kept.delete(path);
    return this.call('remove', { path: prefix });
  }
}

const core = new Core();
let T = null; // the core's tables: families, kinds, labels, texts
let L = null; // the labels
let places = 0;

function place() {
  return `/o/${++places}`;
}

// ---------- small helpers ----------

// While the page works on what was asked of it, body[data-busy] says so.
let working = 0;
function track(result) {
  if (!(result instanceof Promise)) return result;
  working++;
  document.body.dataset.busy = 'true';
  return result.catch((error) => showError(error.message)).finally(() => {
    if (--working === 0) delete document.body.dataset.busy;
  });
}
const tracked = (handler) => (...args) => track(handler(...args));

function h(tag, props = {}, ...children) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(props)) {
    if (v === undefined || v === null || v === false) continue;
    if (k.startsWith('on')) e.addEventListener(k.slice(2), tracked(v));
    else if (k === 'text') e.textContent = v;
    else if (k === 'class') e.className = v;
    else if (k in e && typeof v !== 'string') e[k] = v;
    else e.setAttribute(k, v === true ? '' : v);
  }
  for (const c of children.flat()) if (c !== null && c !== undefined && c !== false) e.append(c);
  return e;
}

const alertBox = () => document.getElementById('alert');
const statusBox = () => document.getElementById('status');

function showError(text) {
  const box = alertBox();
  box.textContent = '';
  // A fresh node, so that the same message twice is announced twice.
  box.append(h('p', { text: String(text).trim() }));
  box.hidden = false;
}

function clearError() {
  alertBox().textContent = '';
  alertBox().hidden = true;
}

function showStatus(text) {
  statusBox().textContent = String(text).trim();
}

// A command line's result: its output as the status, its errors in the alert; true on success.
function report(result, into) {
  const out = result.out.trim();
  const err = result.err.trim();
  if (into) into.textContent = [out, err].filter(Boolean).join('\n');
  if (result.code !== 0) showError(err || out);
  else {
    clearError();
    showStatus(out || err);
  }
  return result.code === 0;
}

function fileName(path) {
  return path.slice(path.lastIndexOf('/') + 1);
}

function stemOf(name) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(0, dot) : name;
}

function download(bytes, name) {
  const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  const a = h('a', { href: url, download: name, hidden: true });
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

function hex(n) {
  return '0x' + (n >>> 0).toString(16).toUpperCase().padStart(4, '0');
}

// "YYYY-MM-DD HH:MM:SS", as the command line prints a time, as set-time takes it.
function timeArgument(text) {
  const m = /^(\d{4})-(\d{2})-(\d{2}) (\d{2}:\d{2}:\d{2})$/.exec(text.trim());
  return m ? `${m[3]}-${m[2]}-${m[1]} ${m[4]}` : text.trim();
}

async function bytesOf(file) {
  return new Uint8Array(await file.arrayBuffer());
}

// A question with two answers, as a modal dialog: resolves true for the first.
function ask(caption, text, yes = 'Yes', no = 'No', body = null) {
  return new Promise((resolve) => {
    const dialog = h('dialog', { 'aria-labelledby': 'ask-caption' },
      h('h2', { id: 'ask-caption', text: caption }),
      text ? h('p', { class: 'question', text }) : null,
      body,
      h('div', { class: 'buttons' },
        h('button', { type: 'button', text: yes, onclick: () => dialog.close('yes') }),
        h('button', { type: 'button', text: no, onclick: () => dialog.close('no') })));
    dialog.addEventListener('close', () => {
      dialog.remove();
      resolve(dialog.returnValue === 'yes');
    });
    document.body.append(dialog);
    dialog.showModal();
  });
}

function drawPixels(canvas, rgba, size) {
  if (!rgba || rgba.length !== size * size * 4) return false;
  canvas.width = size;
  canvas.height = size;
  canvas.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(rgba.buffer, rgba.byteOffset, rgba.length), size, size), 0, 0);
  return true;
}

// The selected save's icon, turning slowly as the console's browser shows it (still, where
// the system asks for less motion).
const turning = new Map(); // canvas -> timer
const stillIcons = matchMedia('(prefers-reduced-motion: reduce)');

async function turnIcon(canvas, path) {
  clearInterval(turning.get(canvas));
  turning.delete(canvas);
  const size = 128;
  const frames = stillIcons.matches ? 1 : 48;
  let pictures = [];
  try {
    pictures = await core.call('turn', { path, size, frames });
  } catch (error) {
    pictures = [];
  }
  canvas.dataset.frames = String(pictures.length);
  if (pictures.length === 0) {
    canvas.getContext('2d').clearRect(0, 0, canvas.width, canvas.height);
    canvas.setAttribute('aria-label', 'No icon');
    return;
  }
  canvas.setAttribute('aria-label', 'Icon');
  let i = 0;
  drawPixels(canvas, pictures[0], size);
  if (pictures.length > 1)
    turning.set(canvas, setInterval(() => {
      if (!canvas.isConnected) return clearInterval(turning.get(canvas));
      i = (i + 1) % pictures.length;
      drawPixels(canvas, pictures[i], size);
    }, 125));
}

function familiesFor(ps1) {
  return T.families.filter((f) => f.writes && (ps1 ? f.ps1 : f.ps2));
}

function familySelect(id, ps1, selected) {
  return h('select', { id },
    familiesFor(ps1).map((f) => h('option', { value: f.name, text: `${f.noun} (.${f.extensions[0]?.extension ?? f.name})`, selected: f.name === selected })));
}

// ---------- the documents: saves, cards, SD folders ----------

const docs = new Map(); // id -> document
let docCount = 0;

function docsBox() {
  return document.getElementById('docs');
}

function panel(doc, title, ...children) {
  const heading = h('h2', { id: `${doc.id}-title`, text: title });
  const close = h('button', { type: 'button', class: 'close', text: L.close, 'aria-label': `${L.close} ${title}`, onclick: () => closeDoc(doc) });
  const section = h('section', { class: `doc ${doc.type}`, id: doc.id, 'aria-labelledby': heading.id },
    h('div', { class: 'doc-head' }, heading, close), ...children);
  return section;
}

function show(doc, section) {
  const old = doc.section;
  doc.section = section;
  if (old && old.isConnected) old.replaceWith(section);
  else docsBox().append(section);
}

function closeDoc(doc) {
  docs.delete(doc.id);
  doc.section?.remove();
  if (doc.place) core.forget(doc.place);
  for (const canvas of turning.keys()) if (!canvas.isConnected) clearInterval(turning.get(canvas));
}

function addDoc(doc) {
  doc.id = `doc${++docCount}`;
  docs.set(doc.id, doc);
  return doc;
}

// Files given to the page: each identified by the core and opened as what it is.
async function openFiles(files) {
  clearError();
  for (const file of files) {
    try {
      await openFile(file.name, await bytesOf(file), file.lastModified);
    } catch (error) {
      showError(`${file.name}: ${error.message}`);
    }
  }
}

async function openFile(name, bytes, mtime) {
  const at = place();
  const path = `${at}/${name}`;
  await core.put(path, bytes, mtime);
  const what = await core.call('identify', { path });
  if (what.what === 'card') return openCard(addDoc({ type: 'card', place: at, path, name, kind: what.kind, ps1: what.ps1 }));
  if (what.what === 'save') {
    let yes = false;
    if (what.question) yes = await ask(what.question.caption, what.question.text);
    return openSave(addDoc({ type: 'save', place: at, path, name, family: what.family, yes }));
  }
  core.forget(at);
  showError(`${name}: ${what.error}`);
  return null;
}

// ---------- a save ----------

function openArgs(doc) {
  return doc.yes ? ['--yes'] : [];
}

async function openSave(doc) {
  const info = await core.run('info', '--json', ...openArgs(doc), doc.path);
  if (info.code !== 0) {
    closeDoc(doc);
    showError(`${doc.name}: ${info.err.trim()}`);
    return null;
  }
  doc.info = JSON.parse(info.out);
  doc.ps1 = !doc.info.files;
  renderSave(doc);
  return doc;
}

function field(label, value) {
  return [h('dt', { text: label }), h('dd', { text: value ?? '' })];
}

function renderSave(doc) {
  const i = doc.info;
  const canvas = h('canvas', { class: 'icon-large', width: 128, height: 128, role: 'img', 'aria-label': 'Icon' });
  const facts = doc.ps1
    ? h('dl', {}, field('Format', i.format), field('Card name', i.folder), field('Title', i.title_utf8),
        field('Region', i.region), field('Blocks', String(i.blocks)),
        i.signature_valid === null ? null : field('Signature', i.signature_valid ? 'valid' : 'not valid'))
    : h('dl', {}, field('Format', i.format), field('Save folder', i.folder), field('Title', i.title),
        field('Full title', (i.title_lines || []).join(' ')), field('Mode', hex(i.mode)),
        field('Created', i.created), field('Modified', i.modified),
        i.signature_valid === null ? null : field('Signature', i.signature_valid ? 'valid' : 'not valid'));

  const output = h('pre', { class: 'output', role: 'status' });
  const target = familySelect(`${doc.id}-to`, doc.ps1, doc.family);
  const convert = h('form', { class: 'row', onsubmit: (e) => { e.preventDefault(); convertSave(doc, target.value, output); } },
    h('label', { for: target.id, text: T.texts.formatLabel }), target,
    h('button', { type: 'submit', text: L.save }),
    h('button', { type: 'button', text: 'Download', onclick: () => downloadSave(doc) }));

  const parts = [h('div', { class: 'save-top' }, canvas, facts), convert];
  if (!doc.ps1) parts.push(filesTable(doc), editForm(doc, output));
  else parts.push(ps1EditForm(doc, output));
  parts.push(output);
  show(doc, panel(doc, doc.name, ...parts));
  turnIcon(canvas, doc.path);
}

function filesTable(doc) {
  const tx = T.texts;
  return h('table', { class: 'files' },
    h('caption', { text: 'Files' }),
    h('thead', {}, h('tr', {}, [tx.fileNameColumn, tx.sizeColumn, tx.attribColumn, 'Created', 'Modified'].map((t) => h('th', { scope: 'col', text: t })))),
    h('tbody', {}, doc.info.files.map((f) => h('tr', {},
      h('td', { text: f.name }), h('td', { class: 'num', text: String(f.size) }), h('td', { text: hex(f.mode) }),
      h('td', { text: f.created }), h('td', { text: f.modified })))));
}

// The edits the command line has: rename, modes, times, add and remove files. Each writes
// the save back over its file in the worker, in its own format.
function editForm(doc, output) {
  const id = doc.id;
  const which = h('select', { id: `${id}-which` },
    h('option', { value: '', text: '(the save folder)' }),
    doc.info.files.map((f) => h('option', { value: f.name, text: f.name })));
  const pick = () => doc.info.files.find((f) => f.name === which.value) || doc.info;
  const name = h('input', { id: `${id}-name`, type: 'text', maxlength: 32, value: doc.info.folder });
  const mode = h('input', { id: `${id}-mode`, type: 'text', value: hex(doc.info.mode) });
  const created = h('input', { id: `${id}-created`, type: 'text', value: doc.info.created });
  const modified = h('input', { id: `${id}-modified`, type: 'text', value: doc.info.modified });
  which.addEventListener('change', () => {
    const p = pick();
    name.value = p.name ?? p.folder;
    mode.value = hex(p.mode);
    created.value = p.created;
    modified.value = p.modified;
  });
  const file = () => (which.value ? ['--file', which.value] : []);
  const add = h('input', { id: `${id}-add`, type: 'file', multiple: true, onchange: () => addFiles(doc, add, output) });
  const addLabel = 'Add File';
  return h('fieldset', { class: 'edit' }, h('legend', { text: L.edit ?? 'Edit' }),
    h('div', { class: 'row' }, h('label', { for: which.id, text: 'Of:' }), which),
    h('div', { class: 'row' }, h('label', { for: name.id, text: 'Name:' }), name,
      h('button', { type: 'button', text: 'Rename', onclick: () => edit(doc, output, 'rename', ...file(), name.value) })),
    h('div', { class: 'row' }, h('label', { for: mode.id, text: 'Mode:' }), mode,
      h('button', { type: 'button', text: 'Set mode', onclick: () => edit(doc, output, 'set-mode', ...file(), mode.value) })),
    h('div', { class: 'row' }, h('label', { for: created.id, text: 'Created:' }), created,
      h('button', { type: 'button', text: 'Set created', onclick: () => edit(doc, output, 'set-time', ...file(), '--created', timeArgument(created.value)) })),
    h('div', { class: 'row' }, h('label', { for: modified.id, text: 'Modified:' }), modified,
      h('button', { type: 'button', text: 'Set modified', onclick: () => edit(doc, output, 'set-time', ...file(), '--modified', timeArgument(modified.value)) })),
    h('div', { class: 'row' }, h('label', { for: add.id, text: addLabel }), add,
      h('button', { type: 'button', text: 'Delete File', onclick: () => which.value ? edit(doc, output, 'remove', which.value) : showError('Choose the file to delete under "Of:"') })));
}

function ps1EditForm(doc, output) {
  const name = h('input', { id: `${doc.id}-name`, type: 'text', maxlength: 20, value: doc.info.folder });
  return h('fieldset', { class: 'edit' }, h('legend', { text: 'Edit' }),
    h('div', { class: 'row' }, h('label', { for: name.id, text: 'Card name:' }), name,
      h('button', { type: 'button', text: 'Rename', onclick: () => edit(doc, output, 'rename', name.value) })));
}

async function edit(doc, output, command, ...args) {
  const result = await core.run(command, doc.path, ...openArgs(doc), ...args);
  report(result, output);
  if (result.code === 0) await reopenSave(doc);
}

async function reopenSave(doc) {
  await core.refresh(doc.path);
  const message = doc.section.querySelector('.output')?.textContent;
  await openSave(doc);
  const output = doc.section.querySelector('.output');
  if (output && message) output.textContent = message;
}

// Files chosen or dropped, put into the worker's folder dir under their own names.
async function putFiles(dir, files) {
  const paths = [];
  for (const f of files) {
    const path = `${dir}/${f.name}`;
    await core.call('put', { path, bytes: await bytesOf(f), mtime: f.lastModified });
    paths.push(path);
  }
  return paths;
}

async function addFiles(doc, input, output) {
  const dir = `${doc.place}/add`;
  const paths = await putFiles(dir, input.files);
  input.value = '';
  if (paths.length) await edit(doc, output, 'add', ...paths);
  core.call('remove', { path: dir });
}

async function convertSave(doc, family, output) {
  const name = await core.call('outputName', { path: doc.path, family });
  if (!name) return showError(`${doc.name}: no name to write it as ${family}`);
  const out = `${doc.place}/out/${name}`;
  await core.call('folder', { path: `${doc.place}/out` });
  const result = await core.run('convert', ...openArgs(doc), doc.path, out);
  if (!report(result, output)) return;
  download(await core.call('get', { path: out }), name);
  core.call('remove', { path: `${doc.place}/out` });
}

async function downloadSave(doc) {
  download(await core.call('get', { path: doc.path }), doc.name);
}

// ---------- a card ----------

async function openCard(doc) {
  const listed = await core.run('card', 'ls', '--json', '--deleted', doc.path);
  if (listed.code !== 0) {
    closeDoc(doc);
    showError(`${doc.name}: ${listed.err.trim()}`);
    return null;
  }
  doc.listing = JSON.parse(listed.out);
  doc.notes = listed.err.trim();
  doc.selected = new Set([...(doc.selected || [])].filter((f) => doc.listing.saves.some((s) => s.folder === f)));
  renderCard(doc);
  return doc;
}

function cardTable(doc) {
  const tx = T.texts;
  const heads = doc.ps1
    ? ['', 'Icon', tx.nameColumn, tx.blocksColumn, tx.slotsColumn, tx.titleColumn]
    : ['', 'Icon', tx.folderColumn, tx.titleColumn, tx.sizeColumn, tx.modifiedColumn];
  const rows = doc.listing.saves.map((s) => {
    const box = h('input', {
      type: 'checkbox', checked: doc.selected.has(s.folder), 'aria-label': `Select ${s.folder}`,
      onchange: () => {
        if (box.checked) doc.selected.add(s.folder); else doc.selected.delete(s.folder);
        if (box.checked) previewSave(doc, s);
        updateButtons(doc);
      },
    });
    const icon = h('canvas', { class: 'icon-small', width: 32, height: 32, role: 'img', 'aria-label': `Icon of ${s.folder}` });
    if (!s.deleted) core.call('icon', { path: `${doc.path}:${s.folder}`, size: 32, degrees: 0 }).then((p) => drawPixels(icon, p, 32), () => {});
    const title = (s.deleted ? 'deleted: ' : '') + (s.readable || s.deleted ? s.title_utf8 : `damaged: ${s.title_utf8}`);
    const cells = doc.ps1
      ? [s.folder, String(s.blocks), s.slots.join(','), title]
      : [s.folder, title, `${s.size_kb} KB`, s.modified];
    const row = h('tr', { class: s.deleted ? 'deleted' : '', draggable: s.deleted ? 'false' : 'true', 'data-folder': s.folder },
      h('td', {}, box), h('td', {}, icon), cells.map((c, k) => h('td', { class: k === 2 && !doc.ps1 ? 'num' : '', text: c })));
    row.addEventListener('dragstart', (e) => {
      e.dataTransfer.setData('application/x-moravelt-save', JSON.stringify({ doc: doc.id, folder: s.folder }));
      e.dataTransfer.effectAllowed = 'copy';
    });
    return row;
  });
  return h('table', { class: 'saves' },
    h('caption', { text: 'Saves' }),
    h('thead', {}, h('tr', {}, heads.map((t, k) => h('th', { scope: 'col', text: t, 'aria-label': k === 0 ? 'Selected' : null })))),
    h('tbody', {}, rows.length ? rows : h('tr', {}, h('td', { colspan: heads.length, text: 'No saves' }))));
}

function renderCard(doc) {
  const l = doc.listing;
  const id = doc.id;
  const readOnly = l.damaged;
  const preview = h('canvas', { class: 'icon-large', width: 128, height: 128, role: 'img', 'aria-label': 'No icon' });
  const importInput = h('input', { type: 'file', multiple: true, hidden: true, id: `${id}-import`, onchange: () => importFiles(doc, importInput) });
  const output = h('pre', { class: 'output', role: 'status' });
  doc.output = output;
  const b = (label, onclick, extra = {}) => h('button', { type: 'button', text: label, onclick, ...extra });
  const buttons = h('div', { class: 'buttons card-buttons' },
    b(L.import, () => importInput.click(), { 'data-act': 'import', disabled: readOnly }),
    b(L.export, () => exportSaves(doc), { 'data-act': 'export' }),
    b(L.delete, () => deleteSaves(doc), { 'data-act': 'delete', disabled: readOnly }),
    doc.ps1 ? b(L.restore, () => restoreSaves(doc), { 'data-act': 'restore', disabled: readOnly }) : null,
    b('Check', () => checkCard(doc), { 'data-act': 'check' }),
    b('Repair', () => repairCard(doc), { 'data-act': 'repair', hidden: !doc.repairable }),
    b('Download', () => downloadCard(doc), { 'data-act': 'download' }),
    b('Download as...', () => convertCard(doc), { 'data-act': 'convert' }),
    b(L.split, () => splitCard(doc), { 'data-act': 'split' }),
    b(L.merge, () => mergeCard(doc), { 'data-act': 'merge', disabled: readOnly }),
    importInput);
  const facts = h('p', { class: 'facts' },
    h('span', { text: l.type }), ' · ', h('span', { text: l.size_text }), ' · ',
    h('span', { class: 'free', text: l.free_text }));
  const notes = doc.notes ? h('p', { class: 'notes', text: doc.notes }) : null;
  const section = panel(doc, doc.name, facts, notes,
    h('div', { class: 'card-body' }, h('div', { class: 'table-wrap' }, cardTable(doc)), preview),
    buttons, output);
  section.addEventListener('dragover', (e) => {
    if (readOnly) return;
    e.preventDefault();
    e.stopPropagation();
    e.dataTransfer.dropEffect = 'copy';
    section.classList.add('drop');
  });
  section.addEventListener('dragleave', () => section.classList.remove('drop'));
  section.addEventListener('drop', (e) => {
    e.preventDefault();
    e.stopPropagation();
    section.classList.remove('drop');
    if (readOnly) return;
    const dragged = e.dataTransfer.getData('application/x-moravelt-save');
    if (dragged) return track(dropSave(doc, JSON.parse(dragged)));
    if (e.dataTransfer.files.length) track(importFiles(doc, { files: e.dataTransfer.files }));
  });
  doc.preview = preview;
  show(doc, section);
  const first = l.saves.find((s) => doc.selected.has(s.folder));
  if (first) previewSave(doc, first);
  updateButtons(doc);
}

function previewSave(doc, s) {
  if (s.deleted) return;
  turnIcon(doc.preview, `${doc.path}:${s.folder}`);
}

function selectedSaves(doc) {
  return doc.listing.saves.filter((s) => doc.selected.has(s.folder));
}

function updateButtons(doc) {
  const chosen = selectedSaves(doc);
  const live = chosen.filter((s) => !s.deleted);
  const set = (act, on) => {
    const button = doc.section.querySelector(`[data-act="${act}"]`);
    if (button && !doc.listing.damaged) button.disabled = !on;
  };
  set('delete', live.length > 0);
  set('restore', chosen.some((s) => s.deleted));
  const exp = doc.section.querySelector('[data-act="export"]');
  exp.disabled = live.length === 0;
}

// After a change: the card as the core wrote it kept, listed again, and written back to
// the SD card it came from.
async function changed(doc) {
  await core.refresh(doc.path);
  await openCard(doc);
  if (doc.sd) await syncSd(doc.sd);
}

async function cardCommand(doc, ...args) {
  const result = await core.run('card', ...args);
  report(result, doc.output);
  const message = doc.output.textContent;
  await changed(doc);
  doc.output.textContent = message;
  return result;
}

async function importFiles(doc, input) {
  const dir = `${doc.place}/in`;
  const paths = await putFiles(dir, input.files);
  if (input.value !== undefined) input.value = '';
  if (paths.length) await cardCommand(doc, 'import', doc.path, ...paths);
  core.call('remove', { path: dir });
}

async function dropSave(target, { doc: from, folder }) {
  const source = docs.get(from);
  if (!source || source === target) return;
  await cardCommand(target, 'import', target.path, `${source.path}:${folder}`);
}

async function exportSaves(doc) {
  const saves = selectedSaves(doc).filter((s) => !s.deleted);
  if (!saves.length) return;
  const to = familySelect(`${doc.id}-export-to`, doc.ps1, doc.ps1 ? 'mcs' : 'psu');
  const ok = await ask(T.labels.export.replace('...', ''), null, L.ok, L.cancel,
    h('div', { class: 'row' }, h('label', { for: to.id, text: T.texts.formatLabel }), to));
  if (!ok) return;
  const out = `${doc.place}/export`;
  const result = await core.run('card', 'export', doc.path, ...saves.map((s) => s.folder), '--to', to.value, '-o', out, '--force');
  report(result, doc.output);
  for (const line of result.out.split('\n').filter(Boolean)) {
    const path = line.trim();
    if (!path.startsWith(out + '/')) continue;
    download(await core.call('get', { path }), fileName(path));
  }
  core.call('remove', { path: out });
}

async function deleteSaves(doc) {
  const saves = selectedSaves(doc).filter((s) => !s.deleted);
  if (!saves.length) return;
  const question = T.texts.deleteQuestion + saves.map((s) => '\n' + s.folder).join('');
  if (!(await ask(T.texts.deleteCaption, question))) return;
  doc.selected.clear();
  await cardCommand(doc, 'rm', doc.path, ...saves.map((s) => s.folder));
}

async function restoreSaves(doc) {
  const saves = selectedSaves(doc).filter((s) => s.deleted);
  if (!saves.length) return;
  doc.selected.clear();
  await cardCommand(doc, 'restore', doc.path, ...saves.map((s) => s.folder));
}

async function checkCard(doc) {
  const text = await core.run('card', 'check', doc.path);
  const json = await core.run('card', 'check', '--json', doc.path);
  doc.repairable = json.code === 0 || json.code === 1 ? JSON.parse(json.out).issues.length > 0 : false;
  doc.output.textContent = (text.out + text.err).trim();
  doc.section.querySelector('[data-act="repair"]').hidden = !doc.repairable;
  if (text.code !== 0) showError(doc.output.textContent);
  else showStatus(doc.output.textContent);
}

async function repairCard(doc) {
  doc.repairable = false;
  await cardCommand(doc, 'check', '--repair', doc.path);
}

async function downloadCard(doc) {
  download(await core.call('get', { path: doc.path }), doc.name);
}

// The card written as another kind: with ECC or raw, or another PS1 kind.
async function convertCard(doc) {
  const kinds = T.kinds.filter((k) => k.ps1 === doc.ps1 && !k.folder && k.extensions.length);
  const select = h('select', { id: `${doc.id}-kind` },
    kinds.map((k) => h('option', { value: k.key, text: `${k.name} (.${k.extensions[0].extension})`, selected: k.name === doc.listing.type })));
  const ok = await ask('Download as', null, L.ok, L.cancel,
    h('div', { class: 'row' }, h('label', { for: select.id, text: 'Kind:' }), select));
  if (!ok) return;
  const kind = kinds.find((k) => k.key === select.value);
  const name = `${stemOf(doc.name)}.${kind.extensions[0].extension}`;
  const out = `${doc.place}/convert/${name}`;
  await core.call('folder', { path: `${doc.place}/convert` });
  const how = doc.ps1 ? ['--as', kind.key] : [kind.ecc ? '--ecc' : '--raw'];
  const result = await core.run('card', 'convert', ...how, doc.path, out);
  if (report(result, doc.output)) download(await core.call('get', { path: out }), name);
  core.call('remove', { path: `${doc.place}/convert` });
}

// ---------- New Card... ----------

async function newCard() {
  const tx = T.texts;
  const sizes = T.formatSizes.map((mb) => ({ value: `${mb}M`, text: mb >= 1 ? `${mb} MB` : '' }));
  const size = h('select', { id: 'new-size' },
    sizes.map((s) => h('option', { value: s.value, text: s.text, selected: s.value === '8M' })),
    h('option', { value: 'ps1', text: tx.newPs1Card }),
    h('option', { value: 'pocketstation', text: tx.newPocketStationCard }));
  const ecc = h('input', { type: 'checkbox', id: 'new-ecc', checked: true });
  const name = h('input', { type: 'text', id: 'new-name', value: 'Mcd001.ps2', required: true });
  size.addEventListener('change', () => {
    ecc.disabled = !size.value.endsWith('M');
    const stem = stemOf(name.value) || 'Mcd001';
    name.value = size.value === 'ps1' ? `${stem}.mcd` : size.value === 'pocketstation' ? `${stem}.bin` : `${stem}.${ecc.checked ? 'ps2' : 'mcd'}`;
  });
  ecc.addEventListener('change', () => {
    name.value = `${stemOf(name.value) || 'Mcd001'}.${ecc.checked ? 'ps2' : 'mcd'}`;
  });
  const body = h('div', {},
    h('div', { class: 'row' }, h('label', { for: size.id, text: 'Size:' }), size),
    h('div', { class: 'row' }, ecc, h('label', { for: ecc.id, text: tx.eccLabel })),
    h('div', { class: 'row' }, h('label', { for: name.id, text: 'Name:' }), name));
  if (!(await ask(T.labels.newCard.replace('...', ''), null, L.ok, L.cancel, body))) return;
  const at = place();
  const path = `${at}/${fileName(name.value.trim() || 'Mcd001.ps2')}`;
  await core.call('folder', { path: at });
  const how = size.value === 'ps1' ? ['--ps1'] : size.value === 'pocketstation' ? ['--as', 'pocketstation']
    : ['--size', size.value, ecc.checked ? '--ecc' : '--raw'];
  const result = await core.run('card', 'format', ...how, path);
  if (!report(result)) return;
  const bytes = await core.refresh(path);
  const doc = await openCard(addDoc({ type: 'card', place: at, path, name: fileName(path), ps1: size.value === 'ps1' || size.value === 'pocketstation' }));
  if (doc) doc.output.textContent = (result.out + result.err).trim();
  return bytes;
}

// ---------- an SD card or a folder of cards ----------

let toldReadOnly = false;
const kMaxFolderFiles = 20000;
const kMaxFolderBytes = 1536 * 1024 * 1024;
const kMaxFileBytes = 128 * 1024 * 1024;

async function openFolder() {
  clearError();
  if (window.showDirectoryPicker) {
    let handle;
    try {
      handle = await window.showDirectoryPicker({ mode: 'readwrite' });
    } catch (error) {
      if (error.name !== 'AbortError') showError(error.message);
      return;
    }
    const doc = addDoc({ type: 'sd', name: handle.name, handle, known: new Map() });
    doc.place = place();
    doc.root = `${doc.place}/${handle.name}`;
    try {
      await readHandle(doc, handle, doc.root, { files: 0, bytes: 0 });
    } catch (error) {
      closeDoc(doc);
      return showError(`${handle.name}: ${error.message}`);
    }
    return surveySd(doc);
  }
  document.getElementById('open-folder-input').click();
}

// A folder from the file input of a browser that cannot write to one: read-only.
async function openFolderFiles(files) {
  if (!files.length) return;
  const top = files[0].webkitRelativePath.split('/')[0];
  const doc = addDoc({ type: 'sd', name: top, handle: null, known: new Map() });
  doc.place = place();
  doc.root = `${doc.place}/${top}`;
  let bytes = 0;
  let count = 0;
  for (const f of files) {
    if (f.size > kMaxFileBytes) continue;
    if (++count > kMaxFolderFiles || (bytes += f.size) > kMaxFolderBytes) {
      closeDoc(doc);
      return showError(`${top}: the folder is too large to open here`);
    }
    await core.call('put', { path: `${doc.place}/${f.webkitRelativePath}`, bytes: await bytesOf(f), mtime: f.lastModified });
  }
  await core.call('folder', { path: doc.root });
  if (!toldReadOnly) {
    toldReadOnly = true;
    doc.notice = 'This browser does not let a page write to a folder: it is open read-only. Cards opened from it can be changed and downloaded, but nothing is written back.';
  }
  return surveySd(doc);
}

async function readHandle(doc, dir, at, count) {
  await core.call('folder', { path: at });
  for await (const [name, entry] of dir.entries()) {
    const path = `${at}/${name}`;
    if (entry.kind === 'directory') {
      await readHandle(doc, entry, path, count);
      continue;
    }
    const file = await entry.getFile();
    if (file.size > kMaxFileBytes) continue;
    if (++count.files > kMaxFolderFiles || (count.bytes += file.size) > kMaxFolderBytes)
      throw new Error('the folder is too large to open here');
    await core.call('put', { path, bytes: await bytesOf(file), mtime: file.lastModified });
    doc.known.set(path, file.lastModified);
  }
}

// What the core changed under the SD card's folder, written into the folder in place.
async function syncSd(doc) {
  if (!doc.handle) return;
  const files = await core.call('tree', { path: doc.root });
  for (const f of files) {
    if (doc.known.get(f.path) === f.mtime) continue;
    const parts = f.path.slice(doc.root.length + 1).split('/');
    let dir = doc.handle;
    for (const p of parts.slice(0, -1)) dir = await dir.getDirectoryHandle(p, { create: true });
    const handle = await dir.getFileHandle(parts[parts.length - 1], { create: true });
    const writable = await handle.createWritable();
    await writable.write(await core.call('get', { path: f.path }));
    await writable.close();
    doc.known.set(f.path, f.mtime);
  }
}

async function surveySd(doc) {
  const listed = await core.run('sd', 'ls', '--json', doc.root);
  if (listed.code !== 0) {
    closeDoc(doc);
    return showError(`${doc.name}: ${listed.err.trim()}`);
  }
  doc.survey = JSON.parse(listed.out);
  renderSd(doc, listed.err.trim());
  return doc;
}

function renderSd(doc, notes) {
  const heads = ['Card', 'Console', 'Device', 'Folder', 'Ch', 'Saves', 'Free', 'State', ''];
  const rows = doc.survey.cards.map((c) => h('tr', {},
    h('td', { text: c.card }), h('td', { text: c.console }), h('td', { text: c.layout }), h('td', { text: c.folder }),
    h('td', { text: c.channel ? String(c.channel) : '' }), h('td', { class: 'num', text: c.readable ? String(c.saves) : '' }),
    h('td', { class: 'num', text: c.readable ? (c.free_blocks !== undefined ? `${c.free_blocks} blocks` : `${c.free_kb} KB`) : '' }),
    h('td', { text: c.problem || c.refused || (c.damaged ? 'damaged' : '') }),
    h('td', {}, h('button', { type: 'button', text: L.open, 'aria-label': `${L.open} ${c.card}`, onclick: () => openSdCard(doc, c.card) }))));
  const text = h('input', { type: 'search', id: `${doc.id}-find` });
  const found = h('pre', { class: 'output', role: 'status' });
  const find = h('form', { class: 'row', onsubmit: async (e) => {
    e.preventDefault();
    const result = await core.run('sd', 'find', doc.root, text.value);
    found.textContent = (result.out || result.err || 'Nothing found').trim();
  } }, h('label', { for: text.id, text: 'Find:' }), text, h('button', { type: 'submit', text: 'Find' }));
  const section = panel(doc, doc.name,
    doc.notice ? h('p', { class: 'notice', text: doc.notice }) : null,
    notes ? h('p', { class: 'notes', text: notes }) : null,
    h('div', { class: 'table-wrap' }, h('table', { class: 'cards' }, h('caption', { text: 'Cards' }),
      h('thead', {}, h('tr', {}, heads.map((t) => h('th', { scope: 'col', text: t })))),
      h('tbody', {}, rows.length ? rows : h('tr', {}, h('td', { colspan: heads.length, text: 'No cards' }))))),
    find, found);
  show(doc, section);
}

async function openSdCard(sd, relative) {
  const path = `${sd.root}/${relative}`;
  const what = await core.call('identify', { path });
  if (what.what !== 'card') return showError(`${relative}: ${what.error || 'not a card'}`);
  const doc = addDoc({ type: 'card', path, name: relative, kind: what.kind, ps1: what.ps1, sd: sd.handle ? sd : null });
  return openCard(doc);
}

function sdDocs(writable) {
  return [...docs.values()].filter((d) => d.type === 'sd' && (!writable || d.handle));
}

async function chooseSd(caption, writable, extra = null) {
  const open = sdDocs(writable);
  if (!open.length) {
    showError(writable ? 'Open a folder this browser can write to first (Open folder...)' : 'Open a folder first (Open folder...)');
    return null;
  }
  const select = h('select', { id: 'sd-choice' }, open.map((d) => h('option', { value: d.id, text: d.name })));
  const ok = await ask(caption, null, L.ok, L.cancel,
    h('div', {}, h('div', { class: 'row' }, h('label', { for: select.id, text: 'SD card:' }), select), extra));
  return ok ? docs.get(select.value) : null;
}

async function splitCard(doc) {
  const device = h('select', { id: 'split-device' }, ['sd2psx', 'mcp2', 'opl'].map((d) => h('option', { value: d, text: d })));
  const sd = await chooseSd(T.texts.splitCaption, true,
    h('div', { class: 'row' }, h('label', { for: device.id, text: T.texts.deviceLabel }), device));
  if (!sd) return;
  const result = await core.run('sd', 'split', doc.path, sd.root, '--layout', device.value);
  report(result, doc.output);
  await syncSd(sd);
  await surveySd(sd);
}

async function mergeCard(doc) {
  const sd = await chooseSd(T.texts.mergeCaption, false);
  if (!sd) return;
  const result = await core.run('sd', 'merge', sd.root, doc.path);
  report(result, doc.output);
  const message = doc.output.textContent;
  await changed(doc);
  doc.output.textContent = message;
}

// ---------- the page ----------

async function start() {
  T = await core.call('tables');
  L = T.labels;
  const openInput = document.getElementById('open');
  openInput.addEventListener('change', tracked(async () => {
    await openFiles([...openInput.files]);
    openInput.value = '';
  }));
  document.getElementById('open-folder').addEventListener('click', tracked(openFolder));
  const folderInput = document.getElementById('open-folder-input');
  folderInput.addEventListener('change', tracked(async () => {
    await openFolderFiles([...folderInput.files]);
    folderInput.value = '';
  }));
  document.getElementById('new-card').addEventListener('click', tracked(newCard));
  document.getElementById('new-card').textContent = L.newCard;
  document.addEventListener('dragover', (e) => {
    if (e.dataTransfer.types.includes('Files')) e.preventDefault();
  });
  document.addEventListener('drop', (e) => {
    e.preventDefault();
    if (e.dataTransfer.files.length) track(openFiles([...e.dataTransfer.files]));
  });
  document.body.dataset.ready = 'true';
}

start().catch((error) => showError(`The core did not start: ${error.message}`));
