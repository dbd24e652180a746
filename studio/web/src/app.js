// The studio page: opens a model, shows the module's dialog as a form in millimetres on paper,
// runs the module through the server and shows the result: the pieces in 3D with the numbers
// printed on the sheets, the sheets themselves, a banner when a piece does not fit its sheet,
// the undo history and the downloads.
import { createViewer } from './viewer.js';

const $ = (id) => document.getElementById(id);

/// Paper sizes in millimetres, portrait.
export const PAPERS = {
  A4: [210, 297], A3: [297, 420], Letter: [215.9, 279.4], Legal: [215.9, 355.6],
};
const LARGEST_MM = 1e6;

let dialog = null;       // the module's dialog as the server describes it
let state = null;        // the session's state as the server last answered
let paperDefaults = null;
let extensions = [];
let companions = [];
let maxUpload = 0;
let busy = false;
let running = false;      // a run of this tab is being made: Cancel stops it
// This page's own name, so that closing it stops the run it asked for and no other tab's.
const tabId = Array.from(crypto.getRandomValues(new Uint8Array(8)), (b) => b.toString(16).padStart(2, '0')).join('');
let shownSheets = '';    // the run whose sheets the page shows
let showing = 'pieces';  // what the 3D view shows once there is a result: 'pieces' or 'model'
let tabEdited = false;   // the person typed a tab depth of their own
let runStarted = 0;      // when Unfold was pressed (performance.now())
let resumeMarks = null;  // the marks of a run brought back (a kept session, a project): its next run enters them
let edge = null;         // the edge the person clicked, as the studio describes it
const viewer = createViewer($('viewport'), $('viewport-note'), $('labels'));
const kListWait = 400;   // the longest a run's 3D view waits for the list of sheets, milliseconds

/// How long the last run took to show: the 3D result and every sheet preview, in milliseconds.
window.foldraTimes = {};

function say(text) { $('status').textContent = text; }
function showError(text) {
  const box = $('message');
  box.textContent = text;
  box.hidden = !text;
  if (text) box.scrollIntoView({ block: 'nearest' });
}

// The tabs of one browser share the studio's session. Each change a tab makes is told to the
// others, which show it at once and say so; a change sent from a page that still shows an
// earlier state is refused by the studio, with the state it holds.
const tabs = 'BroadcastChannel' in window ? new BroadcastChannel('foldra-studio') : null;
function tellOtherTabs(what) {
  if (tabs && state) tabs.postMessage({ revision: state.revision, what });
}
async function handOver(s, what) {
  showing = 'pieces';
  highlight(-1, 'tab');
  if ($('sheet-viewer').open) $('sheet-viewer').close();
  applyState(s);
  await refreshScene();
  if (s.resume && s.model) {
    // The studio had put the session away (a long pause, a restart) and brought it back from
    // disk: its last run is made again, with the settings it had.
    applyForm(s.resume);
    await runDialog(Number(s.resume.press));
    if ($('message').hidden) showError(`After a long pause the studio brought ${s.model.name} back and made its last run again: try again.`);
    return;
  }
  const model = s.model ? s.model.name : 'no model';
  showError(`Another tab of this browser ${what ?? 'changed the model'}: this page now shows the same (${model}).`);
  say(s.model ? `${s.model.name} is open.` : 'Open a model to begin.');
}
if (tabs) {
  tabs.addEventListener('message', async (e) => {
    if (!state || e.data.revision === state.revision) return;
    try {
      const s = await call('GET', '/api/state');
      if (s.revision !== state.revision) await handOver(s, e.data.what);
    } catch { /* the next action reports problems */ }
  });
}

async function call(method, path, body) {
  const init = { method, headers: {} };
  if (body instanceof FormData) init.body = body;
  else if (body !== undefined) {
    init.body = JSON.stringify(body);
    init.headers['Content-Type'] = 'application/json';
  }
  if (method === 'POST' && state && state.revision !== undefined) init.headers['X-Foldra-Revision'] = String(state.revision);
  if (method === 'POST') init.headers['X-Foldra-Tab'] = tabId;
  const res = await fetch(path, init);
  let data = null;
  try { data = await res.json(); } catch { data = null; }
  if (!res.ok) {
    if (res.status === 409 && data && data.state) {
      await handOver(data.state);
      throw new Error(data.error.charAt(0).toUpperCase() + data.error.slice(1) + '.');
    }
    throw new Error((data && data.error) || `The studio answered ${res.status} ${res.statusText}.`);
  }
  return data;
}

const mm = (v) => `${Math.round(v)}`;
const plural = (n, one, many) => `${n} ${n === 1 ? one : many}`;

/// A length as a person typed it, checked in the field's own words: {value} or {error}.
export function readLength(label, text, { unit = ' mm', most = LARGEST_MM, zero = false } = {}) {
  const typed = text.trim();
  if (typed === '') return { error: `${label}: enter a number` };
  const value = Number(typed);
  if (Number.isNaN(value)) return { error: `${label}: "${typed}" is not a number` };
  if (!Number.isFinite(value)) return { error: `${label}: ${typed} is far too large` };
  if (zero ? value < 0 : !(value > 0)) return { error: `${label}: must be ${zero ? '0 or more' : 'greater than 0'}, not ${typed}${unit}` };
  if (value > most) return { error: `${label}: ${typed}${unit} is too large (at most ${most}${unit})` };
  return { value };
}

// --- the form --------------------------------------------------------------------------------

const isLength = (g) => dialog.lengths && Object.values(dialog.lengths).includes(g.id);

function gadgetField(g) {
  const id = `gadget-${g.id}`;
  const wrap = document.createElement('div');
  wrap.className = g.kind === 'check' ? 'field check' : 'field';
  const label = document.createElement('label');
  label.htmlFor = id;
  label.textContent = g.label;
  let input;
  if (g.kind === 'check') {
    input = document.createElement('input');
    input.type = 'checkbox';
    input.checked = !!g.value;
  } else if (g.kind === 'choice') {
    input = document.createElement('select');
    // A way of cutting says what it makes when pointed at, in the command line's words.
    const method = (value) => (g.id === dialog.unfolding && dialog.methods ? dialog.methods[value] : undefined);
    for (const e of g.entries) {
      const o = document.createElement('option');
      o.value = String(e.value);
      o.textContent = e.label;
      if (method(e.value)) o.title = method(e.value).description;
      input.append(o);
    }
    input.value = String(g.value);
    if (g.id === dialog.unfolding) {
      const described = () => { input.title = method(input.value) ? method(input.value).description : ''; };
      described();
      input.addEventListener('change', described);
    }
  } else {
    input = document.createElement('input');
    input.type = g.kind === 'integer' ? 'number' : 'text';
    if (g.kind === 'integer') input.step = '1';
    else input.inputMode = 'decimal';
    input.value = String(g.value ?? '');
  }
  input.id = id;
  input.dataset.gadget = String(g.id);
  input.dataset.kind = g.kind;
  if (g.kind === 'check') wrap.append(input, label);
  else if (isLength(g)) {
    // A length in model units: worked out from the paper until the person types their own.
    input.dataset.derived = 'true';
    input.addEventListener('input', () => { input.dataset.derived = 'false'; });
    const unit = document.createElement('span');
    unit.className = 'unit';
    unit.textContent = 'model units';
    const line = document.createElement('div');
    line.className = 'with-unit';
    line.append(input, unit);
    wrap.append(label, line);
  } else wrap.append(label, input);
  return wrap;
}

/// The glue tab depth in millimetres, beside the dialog's glue tabs switch.
function tabDepthField() {
  const wrap = document.createElement('div');
  wrap.className = 'field';
  wrap.innerHTML = '<label for="paper-tab">Glue tab depth (mm)</label><input id="paper-tab" type="text" inputmode="decimal">';
  wrap.querySelector('input').addEventListener('input', () => { tabEdited = true; followPaper(); });
  return wrap;
}

function buildForm() {
  $('dialog-title').textContent = dialog.title;
  const gadgets = $('gadgets');
  const buttons = $('buttons');
  const moduleFields = $('module-fields');
  gadgets.replaceChildren();
  buttons.replaceChildren();
  moduleFields.replaceChildren();
  for (const g of dialog.gadgets) {
    if (g.kind === 'button') {
      const b = document.createElement('button');
      b.type = 'submit';
      b.value = String(g.id);
      b.textContent = g.label;
      b.dataset.press = String(g.id);
      b.className = g.confirm ? 'primary' : '';
      buttons.append(b);
    } else if (g.id === dialog.pageLimit) {
      // The studio always prints a pattern: pieces are always kept within the page.
      const field = gadgetField(g);
      field.hidden = true;
      gadgets.append(field);
    } else if (isLength(g)) {
      moduleFields.append(gadgetField(g));
    } else {
      gadgets.append(gadgetField(g));
      if (g.id === dialog.tabs) gadgets.append(tabDepthField());
    }
  }
  if (!$('paper-tab')) gadgets.append(tabDepthField());
  const cut = $(`gadget-${dialog.unfolding}`);
  if (cut) cut.addEventListener('change', () => { if (!tabEdited) setMethodTab(); followPaper(); });
  const tabs = $(`gadget-${dialog.tabs}`);
  if (tabs) tabs.addEventListener('change', () => { $('paper-tab').disabled = !tabs.checked; });
}

function setMethodTab() {
  const cut = $(`gadget-${dialog.unfolding}`);
  const method = cut && dialog.methods ? dialog.methods[cut.value] : undefined;
  const depth = method ? method.tabDepth : undefined;
  $('paper-tab').value = String(depth ?? paperDefaults.defaults.tab);
}

/// The form back as it first came: the dialog's values and the paper's defaults.
function resetForm() {
  buildForm();
  const d = paperDefaults.defaults;
  $('paper-format').value = 'A4';
  $('paper-orientation').value = 'portrait';
  $('paper-width').value = String(d.width);
  $('paper-height').value = String(d.height);
  $('paper-margin').value = String(d.margin);
  $('paper-size').value = String(d.size);
  tabEdited = false;
  setMethodTab();
  paperChanged();
}

/// The form as a run was asked with ({gadgets, paper}): a kept session's last run, brought back.
function applyForm(form) {
  resetForm();
  // The marks and the pieces placed by hand of a run brought back go with its next run.
  resumeMarks = form.marks || form.placements
    ? { ...(form.marks ? { marks: form.marks, edits: form.edits ?? [] } : {}), ...(form.placements ? { placements: form.placements } : {}) }
    : null;
  for (const [id, value] of Object.entries(form.gadgets ?? {})) {
    const input = $(`gadget-${id}`);
    if (!input) continue;
    if (input.dataset.kind === 'check') input.checked = !!value;
    else input.value = String(value);
    if (input.dataset.derived === 'true') input.dataset.derived = 'false';
  }
  const paper = form.paper ?? {};
  const named = Object.entries(PAPERS).find(([, [w, h]]) => (w === paper.width && h === paper.height)
    || (h === paper.width && w === paper.height));
  $('paper-format').value = named ? named[0] : 'custom';
  $('paper-orientation').value = named && named[1][0] !== paper.width ? 'landscape' : 'portrait';
  for (const key of ['width', 'height', 'margin', 'size', 'tab']) {
    if (paper[key] !== undefined) $(`paper-${key}`).value = String(paper[key]);
  }
  if (paper.tab !== undefined) tabEdited = true;
  const tabs = $(`gadget-${dialog.tabs}`);
  if (tabs) $('paper-tab').disabled = !tabs.checked;
  paperChanged();
}

/// The form's values as the gadgets take them: {id: value}. Lengths in model units go only when
/// the person typed them; otherwise the server works them out from the paper.
function gadgetValues() {
  const values = {};
  for (const input of document.querySelectorAll('#dialog-form [data-gadget]')) {
    const id = input.dataset.gadget;
    if (input.dataset.derived === 'true') continue;
    if (input.dataset.kind === 'check') values[id] = input.checked;
    else if (input.dataset.kind === 'choice' || input.dataset.kind === 'integer') values[id] = Number(input.value);
    else values[id] = input.value.trim();
  }
  return values;
}

function paperSize() {
  const format = $('paper-format').value;
  if (format === 'custom') return null;
  const [w, h] = PAPERS[format];
  return $('paper-orientation').value === 'landscape' ? [h, w] : [w, h];
}

function paperChanged() {
  const size = paperSize();
  $('paper-custom').hidden = !!size;
  if (size) {
    $('paper-width').value = String(size[0]);
    $('paper-height').value = String(size[1]);
  }
  followPaper();
}

/// The paper's fields in millimetres: {fields} or {error}, marking the field that is wrong.
function paperFields() {
  const out = {};
  const checks = [['width', 'paper-width', 'Paper width', {}], ['height', 'paper-height', 'Paper height', {}],
    ['margin', 'paper-margin', 'Margin', { zero: true }], ['size', 'paper-size', 'Model size', {}],
    ['tab', 'paper-tab', 'Glue tab depth', {}]];
  let error = null;
  for (const [key, id, label, options] of checks) {
    const r = readLength(label, $(id).value, options);
    $(id).setAttribute('aria-invalid', r.error ? 'true' : 'false');
    if (r.error) error = error || r.error;
    else out[key] = r.value;
  }
  if (!error && 2 * out.margin >= Math.min(out.width, out.height)) {
    error = 'Margin: the margins leave no room on the paper to print on';
    $('paper-margin').setAttribute('aria-invalid', 'true');
  }
  return error ? { error } : { fields: out };
}

let paperAsked = 0;  // answers to earlier questions are not shown over later ones
/// Keeps the module's own values (model units) in step with the paper, and says the scale.
async function followPaper() {
  const asked = ++paperAsked;
  const p = paperFields();
  if (p.error) { $('paper-scale').textContent = p.error; return; }
  let answer;
  try {
    answer = await call('GET', `/api/paper?${new URLSearchParams(p.fields)}`);
  } catch (e) {
    if (asked === paperAsked) $('paper-scale').textContent = e.message;
    return;
  }
  if (asked !== paperAsked) return;
  const printable = `${mm(p.fields.width - 2 * p.fields.margin)} × ${mm(p.fields.height - 2 * p.fields.margin)} mm to print on`;
  $('paper-scale').textContent = state && state.model
    ? `${printable}; 1 model unit is ${answer.scale.toPrecision(3)} mm on paper.` : `${printable}.`;
  const set = (gadget, value) => {
    const input = $(`gadget-${gadget}`);
    if (input && input.dataset.derived === 'true') input.value = String(Number(value.toPrecision(4)));
  };
  set(dialog.lengths.pageWidth, answer.dialog.pageWidth);
  set(dialog.lengths.pageHeight, answer.dialog.pageHeight);
  set(dialog.lengths.tabWidth, answer.dialog.tabWidth);
  set(dialog.lengths.foldShut, answer.dialog.foldShut);
}

// --- state -----------------------------------------------------------------------------------

/// True for the dialog's Cancel button while this tab's run is being made: it stops the run.
function stops(button) {
  return running && !!button.dataset.press && !button.classList.contains('primary');
}

function setBusy(on) {
  busy = on;
  document.body.dataset.busy = String(on);
  for (const b of document.querySelectorAll('#buttons button, #undo, #redo, #oversize button')) b.disabled = on && !stops(b);
  $('file').disabled = on;
  if (!on) applyState(state);
}

/// The printed number of each piece, by its index in the pattern.
function pieceNumbers() {
  const pattern = state && state.run && state.run.pattern;
  return pattern ? pattern.pieces.map((p) => p.number) : [];
}

async function refreshScene() {
  letEdgeGo();
  if (!state || !state.model) { viewer.show(null); return; }
  const result = !!state.run;
  $('view-choice').hidden = !result;
  $('colour-choice').hidden = !result || showing !== 'pieces';
  $('show-pieces').setAttribute('aria-pressed', String(showing === 'pieces'));
  $('show-model').setAttribute('aria-pressed', String(showing === 'model'));
  const scene = await call('GET', result && showing === 'model' ? '/api/scene/model' : '/api/scene');
  viewer.show(scene, pieceNumbers());
  const frames = viewer.frameCount();
  $('animation').hidden = frames <= 1 || !viewer.animated();
  $('frame').max = String(Math.max(0, frames - 1));
  $('frame').value = '0';
  showFrame(0);
}

/// "piece 51 · 48 triangles · 103 × 377 mm"
function pieceText(index) {
  const p = state && state.run && state.run.pattern && state.run.pattern.pieces[index];
  if (!p) return `piece ${index + 1}`;
  return `piece ${p.number} · ${plural(p.triangles, 'triangle', 'triangles')} · ${mm(p.width)} × ${mm(p.height)} mm`;
}

function showFrame(frame) {
  const visible = viewer.setFrame(frame);
  const frames = viewer.frameCount();
  $('frame-label').textContent = `${frame + 1} of ${frames}` + (visible.length ? `: ${visible.map(pieceText).join(', ')}` : '');
}

/// The smallest paper of the list, in either orientation, on which every oversize piece fits.
function paperThatFits(pattern, margin) {
  const big = pattern.pieces.filter((p) => p.oversize);
  const current = pattern.paper[0] * pattern.paper[1];
  const fits = (w, h) => big.every((p) => (p.width <= w - 2 * margin && p.height <= h - 2 * margin)
    || (p.height <= w - 2 * margin && p.width <= h - 2 * margin));
  const choices = Object.entries(PAPERS).filter(([, [w, h]]) => w * h > current + 1).sort((a, b) => a[1][0] * a[1][1] - b[1][0] * b[1][1]);
  for (const [name, [w, h]] of choices) {
    if (fits(w, h)) {
      const portrait = big.every((p) => p.width <= w - 2 * margin && p.height <= h - 2 * margin);
      return { name, orientation: portrait ? 'portrait' : 'landscape' };
    }
  }
  return null;
}

function showOversize(run) {
  const pattern = run && run.pattern;
  const big = pattern ? pattern.pieces.filter((p) => p.oversize) : [];
  $('oversize').hidden = big.length === 0;
  if (!big.length) return;
  const [w, h] = pattern.paper;
  const area = `${mm(w - 2 * pattern.margin)} × ${mm(h - 2 * pattern.margin)} mm`;
  const list = big.slice(0, 3).map((p) => `piece ${p.number} (${mm(p.width)} × ${mm(p.height)} mm)`).join(', ');
  $('oversize-text').textContent = `${big.length === 1 ? 'One piece is' : `${big.length} pieces are`} larger than the `
    + `${area} that the paper leaves to print on, so ${big.length === 1 ? 'it' : 'they'} would print cut off: `
    + `${list}${big.length > 3 ? ` and ${big.length - 3} more` : ''}.`;
  const fixes = $('oversize-fixes');
  fixes.replaceChildren();
  const size = Math.floor(Math.max(...run.size) * pattern.fit * 0.97);
  if (size >= 1) {
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = `Make the model ${size} mm on its longest side`;
    b.addEventListener('click', () => { $('paper-size').value = String(size); followPaper(); unfold(); });
    fixes.append(b);
  }
  const paper = paperThatFits(pattern, pattern.margin);
  if (paper) {
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = `Use ${paper.name}${paper.orientation === 'landscape' ? ' landscape' : ''}`;
    b.addEventListener('click', () => {
      $('paper-format').value = paper.name;
      $('paper-orientation').value = paper.orientation;
      paperChanged();
      unfold();
    });
    fixes.append(b);
  }
}

/// What the run's checks found, one line each, pieces by their numbers on the sheets.
function checkNotes(run) {
  const c = run && run.checks;
  if (!c) return [];
  const pieces = (list) => (list.length === 1 ? `Piece ${list[0]}` : `Pieces ${list.slice(0, 12).join(', ')}${list.length > 12 ? ', …' : ''}`);
  const out = [];
  if (c.inParts.length) out.push(`${pieces(c.inParts)} ${c.inParts.length === 1 ? 'falls' : 'fall'} apart when cut out: ${c.inParts.length === 1 ? 'its' : 'their'} triangles meet only at corners.`);
  if (c.overlapping.length) out.push(`${pieces(c.overlapping)} ${c.overlapping.length === 1 ? 'overlaps itself' : 'overlap themselves'}.`);
  if (c.offPage.length) out.push(`${pieces(c.offPage)} ${c.offPage.length === 1 ? 'is' : 'are'} larger than the printable area.`);
  if (c.untabbed.length) out.push(`${pieces(c.untabbed)} ${c.untabbed.length === 1 ? 'has' : 'have'} cut edges without a glue tab that you did not choose.`);
  return out;
}

function applyState(s) {
  state = s;
  window.foldraState = s;
  const run = s && s.run;
  const pattern = run && run.pattern;
  $('model-info').textContent = s && s.model
    ? `${s.model.name}: ${plural(s.model.objects, 'object', 'objects')}, ${plural(s.model.faces, 'face', 'faces')}.`
    : 'No model open.';
  $('undo').disabled = busy || !s || !s.undo;
  $('redo').disabled = busy || !s || !s.redo;
  for (const b of document.querySelectorAll('#buttons button')) b.disabled = (busy && !stops(b)) || !s || (!s.model && !!b.dataset.press && b.classList.contains('primary'));
  $('count-pieces').textContent = run ? String(run.pieces) : '–';
  $('count-triangles').textContent = run ? String(run.triangles) : '–';
  $('count-tabs').textContent = run ? String(run.tabs) : '–';
  $('count-sheets').textContent = pattern ? String(pattern.sheets) : '–';
  $('count-bare').textContent = run && run.untabbed !== null && run.untabbed !== undefined
    ? `${run.untabbed}${run.untabbedByChoice ? ` (${run.untabbedByChoice})` : ''}` : '–';
  if (!run) letEdgeGo();
  $('result').hidden = !run;
  showOversize(run);
  const problems = checkNotes(run);
  $('checks').textContent = !run ? '–' : problems.length ? plural(problems.length, 'problem', 'problems') : 'all good';
  $('checks').dataset.problems = String(problems.length);
  $('checks').title = problems.length ? problems.join('\n') : 'Every piece holds together, none overlaps itself, and each fits the printable area.';
  if (run) {
    const notes = [...problems, ...run.warnings, ...(pattern ? pattern.notes : [])];
    const warnings = $('warnings');
    warnings.hidden = notes.length === 0;
    warnings.querySelector('summary').textContent = `The pattern has ${plural(notes.length, 'note', 'notes')}`;
    warnings.querySelector('ul').replaceChildren(...notes.map((w) => {
      const li = document.createElement('li');
      li.textContent = w;
      return li;
    }));
    $('download-pdf').hidden = !pattern;
  }
  const sheetsKey = run ? `${s.undo}|${run.seconds}|${run.pieces}` : '';
  if (sheetsKey !== shownSheets) {
    shownSheets = sheetsKey;
    showSheets(s);
  }
}

// --- sheets ----------------------------------------------------------------------------------

let sheetStamp = '';
/// Resolves when every image of the list of sheets shown last has loaded.
let sheetsListed = Promise.resolve();
function sheetImage(n) { return `/api/sheet/${n}.png?v=${sheetStamp}`; }
function sheetThumbnail(n) { return `/api/thumbnail/${n}.png?v=${sheetStamp}`; }

/// The boxes of the pieces on sheet n (from 1), as shares of the page.
function boxesOn(n) {
  const pattern = state.run.pattern;
  const [w, h] = pattern.paper;
  return pattern.pieces.map((p, i) => ({ i, p })).filter(({ p }) => p.sheet === n - 1)
    .map(({ i, p }) => ({ i, left: p.left / w, top: p.top / h, width: p.width / w, height: p.height / h }));
}

function pieceAt(n, x, y) {
  // The smallest box under the point: pieces' boxes overlap where one sits in another's bay.
  let best = -1, bestArea = Infinity;
  for (const b of boxesOn(n)) {
    if (x >= b.left && x <= b.left + b.width && y >= b.top && y <= b.top + b.height && b.width * b.height < bestArea) {
      best = b.i;
      bestArea = b.width * b.height;
    }
  }
  return best;
}

function showSheets(s) {
  const list = $('sheets');
  list.replaceChildren();
  sheetsListed = Promise.resolve();
  const pattern = s && s.run && s.run.pattern;
  if (!pattern) return;
  sheetStamp = `${s.undo}-${Date.now()}`;
  const started = runStarted;
  let loaded = 0;
  let listed = () => {};
  if (pattern.sheets > 0) sheetsListed = new Promise((done) => { listed = done; });
  for (let n = 1; n <= pattern.sheets; ++n) {
    const li = document.createElement('li');
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'sheet-thumb';
    button.style.aspectRatio = `${pattern.paper[0]} / ${pattern.paper[1]}`;
    button.setAttribute('aria-label', `Sheet ${n} of ${pattern.sheets}: show it large`);
    const img = document.createElement('img');
    img.alt = `Pattern sheet ${n} of ${pattern.sheets}`;
    img.addEventListener('load', () => {
      if (++loaded === pattern.sheets) {
        list.dataset.loaded = 'true';
        listed();
        if (started) window.foldraTimes.sheets = performance.now() - started;
      }
    });
    img.src = sheetThumbnail(n);
    const boxes = document.createElement('div');
    boxes.className = 'boxes';
    button.append(img, boxes);
    button.addEventListener('pointermove', (e) => {
      const r = button.getBoundingClientRect();
      highlight(pieceAt(n, (e.clientX - r.left) / r.width, (e.clientY - r.top) / r.height), 'sheet');
    });
    button.addEventListener('pointerleave', () => highlight(-1, 'sheet'));
    button.addEventListener('click', () => openViewer(n));
    const caption = document.createElement('span');
    caption.textContent = `Sheet ${n} of ${pattern.sheets}`;
    li.append(button, caption);
    li.dataset.sheet = String(n);
    list.append(li);
  }
  list.dataset.loaded = pattern.sheets === 0 ? 'true' : 'false';
}

/// Highlights piece i (-1: none) in 3D, on its sheet and in the viewer.
function highlight(i, from) {
  if (from !== '3d') viewer.highlight(i);
  document.querySelectorAll('.boxes').forEach((b) => b.replaceChildren());
  const info = $('piece-info');
  info.hidden = i < 0;
  document.body.dataset.highlighted = String(i);
  if (i < 0 || !state || !state.run || !state.run.pattern) return;
  const p = state.run.pattern.pieces[i];
  if (!p) return;
  info.textContent = `${pieceText(i)} · sheet ${p.sheet + 1}`;
  const [w, h] = state.run.pattern.paper;
  const mark = (container) => {
    const box = document.createElement('div');
    box.style.left = `${(p.left / w) * 100}%`;
    box.style.top = `${(p.top / h) * 100}%`;
    box.style.width = `${(p.width / w) * 100}%`;
    box.style.height = `${(p.height / h) * 100}%`;
    container.append(box);
    return box;
  };
  const li = document.querySelector(`#sheets li[data-sheet="${p.sheet + 1}"]`);
  if (li) {
    mark(li.querySelector('.boxes'));
    if (from === '3d-click') li.scrollIntoView({ block: 'nearest', inline: 'nearest' });
  }
  if ($('sheet-viewer').open && viewerSheet === p.sheet + 1) mark($('viewer-boxes'));
}
viewer.onPick((i, click) => {
  highlight(i, click ? '3d-click' : '3d');
  viewer.highlight(i);
  if (click && i >= 0 && state.run.pattern) say(`${pieceText(i)} is on sheet ${state.run.pattern.pieces[i].sheet + 1}.`);
});

// --- the sheet viewer: one sheet large, zoom and pan -------------------------------------------

let viewerSheet = 1;
let pickedPiece = -1;      // the piece picked in the sheet viewer, which its buttons move and turn
let drag0 = { x: 0, y: 0 };

/// Picks piece i (its place in the pattern; -1: none) in the sheet viewer for moving and turning.
function pickPiece(i) {
  pickedPiece = i;
  const bar = $('viewer-piece');
  bar.hidden = i < 0 || !state || !state.run || !state.run.pattern;
  if (bar.hidden) return;
  const pattern = state.run.pattern;
  $('viewer-piece-name').textContent = `Piece ${pattern.pieces[i].number}:`;
  const to = $('move-to');
  to.replaceChildren();
  for (let n = 1; n <= pattern.sheets + 1; ++n) {
    const o = document.createElement('option');
    o.value = String(n);
    o.textContent = n > pattern.sheets ? 'a new sheet' : `sheet ${n}`;
    to.append(o);
  }
  to.value = String(pattern.pieces[i].sheet + 1);
}

/// The picked piece's box shown moved by (dx, dy) screen pixels while it is dragged.
function showMoving(i, dx, dy) {
  const p = state.run.pattern.pieces[i];
  const [w, h] = state.run.pattern.paper;
  const r = $('viewer-sheet').getBoundingClientRect();
  let box = $('viewer-boxes').querySelector('.moving');
  if (!box) {
    box = document.createElement('div');
    box.className = 'moving';
    $('viewer-boxes').append(box);
  }
  box.style.left = `${(p.left / w) * 100 + (dx / r.width) * 100}%`;
  box.style.top = `${(p.top / h) * 100 + (dy / r.height) * 100}%`;
  box.style.width = `${(p.width / w) * 100}%`;
  box.style.height = `${(p.height / h) * 100}%`;
}

/// Moves piece i onto sheet n (from 1), by dx, dy millimetres (down the page for dy), turned by
/// `turn` degrees; the studio refuses a place over another piece or off the printable area.
async function placePiece(i, n, dx, dy, turn) {
  if (busy) return;
  $('viewer-message').hidden = true;
  setBusy(true);
  try {
    const s = await call('POST', '/api/place', { piece: i, sheet: n, dx, dy, turn });
    applyState(s);
    tellOtherTabs('moved a piece');
    await refreshScene();
    const p = s.run.pattern.pieces[i];
    say(`Piece ${p.number} is on sheet ${p.sheet + 1}${turn ? `, turned ${turn}°` : ''}. Undo takes it back.`);
    if ($('sheet-viewer').open) {
      openViewer(p.sheet + 1);
      pickPiece(i);
      highlight(i, 'viewer');
    }
  } catch (e) {
    $('viewer-message').textContent = e.message;
    $('viewer-message').hidden = !$('sheet-viewer').open;
    if (!$('sheet-viewer').open) showError(e.message);
    $('viewer-boxes').querySelector('.moving')?.remove();
  } finally {
    setBusy(false);
    document.body.dataset.placed = String(Number(document.body.dataset.placed ?? 0) + 1);
  }
}
let zoom = 1, panX = 0, panY = 0;
function viewerLayout() {
  const pattern = state.run.pattern;
  const stage = $('viewer-stage');
  const sheet = $('viewer-sheet');
  const fitScale = Math.min(stage.clientWidth / pattern.paper[0], stage.clientHeight / pattern.paper[1]) * 0.96;
  sheet.style.width = `${pattern.paper[0] * fitScale}px`;
  sheet.style.height = `${pattern.paper[1] * fitScale}px`;
  return fitScale;
}
function viewerFit() {
  const stage = $('viewer-stage');
  const sheet = $('viewer-sheet');
  viewerLayout();
  zoom = 1;
  panX = (stage.clientWidth - sheet.offsetWidth) / 2;
  panY = (stage.clientHeight - sheet.offsetHeight) / 2;
  viewerApply();
}
function viewerApply() {
  $('viewer-sheet').style.transform = `translate(${panX}px, ${panY}px) scale(${zoom})`;
  $('viewer-stage').dataset.zoom = zoom.toFixed(2);
}
function viewerZoom(factor, cx, cy) {
  const stage = $('viewer-stage').getBoundingClientRect();
  const x = cx ?? stage.width / 2, y = cy ?? stage.height / 2;
  const next = Math.min(16, Math.max(0.5, zoom * factor));
  panX = x - ((x - panX) * next) / zoom;
  panY = y - ((y - panY) * next) / zoom;
  zoom = next;
  viewerApply();
}
function openViewer(n) {
  const pattern = state.run.pattern;
  viewerSheet = Math.min(Math.max(1, n), pattern.sheets);
  $('viewer-title').textContent = `Sheet ${viewerSheet} of ${pattern.sheets}`;
  $('viewer-image').src = sheetImage(viewerSheet);
  $('viewer-image').alt = `Pattern sheet ${viewerSheet} of ${pattern.sheets}`;
  $('viewer-svg').href = `/api/sheet/${viewerSheet}.svg?v=${sheetStamp}`;
  $('viewer-prev').disabled = viewerSheet <= 1;
  $('viewer-next').disabled = viewerSheet >= pattern.sheets;
  $('viewer-boxes').replaceChildren();
  $('viewer-message').hidden = true;
  if (!$('sheet-viewer').open) { $('sheet-viewer').showModal(); pickPiece(-1); }
  viewerFit();
  markEdgesOnSheets();
}
{
  const stage = $('viewer-stage');
  let drag = null;
  stage.addEventListener('wheel', (e) => {
    e.preventDefault();
    const r = stage.getBoundingClientRect();
    viewerZoom(e.deltaY < 0 ? 1.2 : 1 / 1.2, e.clientX - r.left, e.clientY - r.top);
  }, { passive: false });
  stage.addEventListener('pointerdown', (e) => {
    const r = $('viewer-sheet').getBoundingClientRect();
    const under = pieceAt(viewerSheet, (e.clientX - r.left) / r.width, (e.clientY - r.top) / r.height);
    // A drag that starts on the picked piece moves it; anywhere else it moves the view.
    drag = { x: e.clientX, y: e.clientY, panX, panY, piece: under >= 0 && under === pickedPiece ? under : -1 };
    drag0 = { x: e.clientX, y: e.clientY };
    stage.setPointerCapture(e.pointerId);
    stage.classList.add('dragging');
  });
  stage.addEventListener('pointermove', (e) => {
    if (drag && drag.piece >= 0) {
      showMoving(drag.piece, e.clientX - drag.x, e.clientY - drag.y);
      return;
    }
    if (drag) {
      panX = drag.panX + e.clientX - drag.x;
      panY = drag.panY + e.clientY - drag.y;
      viewerApply();
      return;
    }
    const r = $('viewer-sheet').getBoundingClientRect();
    const i = pieceAt(viewerSheet, (e.clientX - r.left) / r.width, (e.clientY - r.top) / r.height);
    if (String(i) !== document.body.dataset.highlighted) highlight(i, 'viewer');
  });
  const end = () => { drag = null; stage.classList.remove('dragging'); };
  stage.addEventListener('pointerup', async (e) => {
    const moved = drag && Math.hypot(e.clientX - drag.x, e.clientY - drag.y) > 4;
    const piece = drag ? drag.piece : -1;
    const r = $('viewer-sheet').getBoundingClientRect();
    end();
    if (!state || !state.run || !state.run.pattern) return;
    const [w, h] = state.run.pattern.paper;
    if (moved && piece >= 0) {
      // Screen pixels to millimetres on the sheet as it is shown.
      placePiece(piece, viewerSheet, ((e.clientX - drag0.x) / r.width) * w, ((e.clientY - drag0.y) / r.height) * h, 0);
      return;
    }
    if (moved) return;
    // A click on the sheet picks the piece and the edge under it, as a click in 3D does.
    const x = ((e.clientX - r.left) / r.width) * w, y = ((e.clientY - r.top) / r.height) * h;
    pickPiece(pieceAt(viewerSheet, x / w, y / h));
    const res = await fetch(`/api/sheet-edge?sheet=${viewerSheet}&x=${x}&y=${y}`);
    if (res.ok) pickEdge(await res.json());
  });
  stage.addEventListener('pointercancel', end);
  $('viewer-in').addEventListener('click', () => viewerZoom(1.5));
  $('viewer-out').addEventListener('click', () => viewerZoom(1 / 1.5));
  $('viewer-fit').addEventListener('click', viewerFit);
  $('viewer-prev').addEventListener('click', () => openViewer(viewerSheet - 1));
  $('viewer-next').addEventListener('click', () => openViewer(viewerSheet + 1));
  $('viewer-close').addEventListener('click', () => $('sheet-viewer').close());
  $('turn-left').addEventListener('click', () => placePiece(pickedPiece, viewerSheet, 0, 0, 15));
  $('turn-right').addEventListener('click', () => placePiece(pickedPiece, viewerSheet, 0, 0, -15));
  $('turn-free').addEventListener('click', () => {
    const by = Number($('turn-by').value.replace(',', '.'));
    if (!Number.isFinite(by)) { $('viewer-message').textContent = 'Turn by: type a number of degrees.'; $('viewer-message').hidden = false; return; }
    placePiece(pickedPiece, viewerSheet, 0, 0, by);
  });
  $('move-sheet').addEventListener('click', () => placePiece(pickedPiece, Number($('move-to').value), 0, 0, 0));
  // However the viewer is closed (its button, Esc), the piece it pointed at is let go.
  $('sheet-viewer').addEventListener('close', () => highlight(-1, 'viewer'));
  $('sheet-viewer').addEventListener('keydown', (e) => {
    if (e.key === 'ArrowRight') openViewer(viewerSheet + 1);
    if (e.key === 'ArrowLeft') openViewer(viewerSheet - 1);
    if (e.key === '+' || e.key === '=') viewerZoom(1.5);
    if (e.key === '-') viewerZoom(1 / 1.5);
  });
}

// --- edges -----------------------------------------------------------------------------------

const EDGE = 0xff7a00, PARTNER = 0x0a84ff;

function letEdgeGo() {
  edge = null;
  $('edge-bar').hidden = true;
  $('viewer-edge').hidden = true;
  viewer.markEdges([]);
  markEdgesOnSheets();
}

/// Draws the picked edge (orange) and its partner (blue) on their sheets: on the thumbnails and
/// in the sheet viewer.
function markEdgesOnSheets() {
  document.querySelectorAll('.edge-lines').forEach((e) => e.remove());
  if (!edge || !state || !state.run || !state.run.pattern) return;
  const [w, h] = state.run.pattern.paper;
  const lines = [[edge.onSheet, '#ff7a00'], [edge.partner && edge.partner.onSheet, '#0a84ff']].filter(([at]) => at);
  const draw = (container, sheet) => {
    const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
    svg.setAttribute('class', 'edge-lines');
    svg.setAttribute('viewBox', `0 0 ${w} ${h}`);
    svg.setAttribute('preserveAspectRatio', 'none');
    for (const [at, colour] of lines) {
      if (at.sheet !== sheet) continue;
      const line = document.createElementNS('http://www.w3.org/2000/svg', 'line');
      line.setAttribute('x1', at.a[0]); line.setAttribute('y1', at.a[1]);
      line.setAttribute('x2', at.b[0]); line.setAttribute('y2', at.b[1]);
      line.setAttribute('stroke', colour);
      line.setAttribute('stroke-width', '1.2');
      line.setAttribute('stroke-linecap', 'round');
      svg.append(line);
    }
    if (svg.childElementCount) container.append(svg);
  };
  for (const li of document.querySelectorAll('#sheets li')) draw(li.querySelector('.sheet-thumb'), Number(li.dataset.sheet));
  if ($('sheet-viewer').open) draw($('viewer-sheet'), viewerSheet);
}

/// Shows the edge the person clicked (a side of a piece's triangle) and its partner.
async function pickEdge(at) {
  if (busy || !state || !state.run || showing !== 'pieces') return;
  try {
    edge = await call('GET', `/api/edge?piece=${at.piece}&triangle=${at.triangle}&side=${at.side}`);
  } catch (e) {
    showError(e.message);
    return;
  }
  const marks = [{ ...at, colour: EDGE }];
  if (edge.partner) marks.push({ ...edge.partner, colour: PARTNER });
  viewer.markEdges(marks);
  const piece = `piece ${edge.number}`;
  let text;
  if (edge.kind === 'open') {
    text = `An open edge of the model on ${piece}: nothing meets it.`;
  } else if (edge.kind === 'fold') {
    text = edge.partner.piece === edge.piece ? `A fold of ${piece}.` : `A fold between pieces ${edge.number} and ${edge.partner.number}.`;
  } else {
    const where = edge.partner.piece === edge.piece ? `a seam of ${piece} (its other side in blue)`
      : `${piece}, meeting piece ${edge.partner.number} (in blue)`;
    const tab = edge.tab === 'here' ? 'its glue tab is on this side' : edge.tab === 'partner' ? `its glue tab is on piece ${edge.partner.number}`
      : edge.marks.noTab ? 'no glue tab, as you chose' : 'no glue tab (no room for one)';
    text = `Cut edge${edge.name ? ` ${edge.name}` : ''} of ${where}; ${tab}.`;
  }
  if (edge.edited) text += ' You edited this edge.';
  $('edge-info').textContent = text;
  $('viewer-edge').textContent = `${text} Close the sheet to cut, join or move its tab.`;
  $('viewer-edge').hidden = false;
  $('edit-cut').hidden = edge.kind !== 'fold';
  $('edit-join').hidden = edge.kind !== 'cut';
  $('edit-tab').hidden = edge.kind !== 'cut' || edge.tab === 'here';
  $('edit-no-tab').hidden = edge.kind !== 'cut' || edge.marks.noTab;
  $('edit-free').hidden = edge.kind !== 'cut' || !(edge.marks.noTab || edge.marks.tab);
  $('edge-bar').hidden = false;
  markEdgesOnSheets();
  window.foldraEdge = edge;
  document.body.dataset.edge = `${edge.kind}:${edge.tab}`;
}
viewer.onEdge(pickEdge);
/// For tests and the keyboard-less: picks a side of a piece's triangle as a click does.
window.foldraPickEdge = (piece, triangle, side) => pickEdge({ piece, triangle, side });

const EDIT_DONE = { cut: 'Cut', join: 'Joined', tab: 'The tab moved', 'no-tab': 'The tab is gone', free: 'The tab is back where it fits' };

async function editEdge(action) {
  if (busy || !edge) return;
  showError('');
  setBusy(true);
  const before = state.run.pieces;
  const at = { piece: edge.piece, triangle: edge.triangle, side: edge.side };
  say('Changing the pieces…');
  try {
    const s = await call('POST', '/api/edit', { ...at, action });
    letEdgeGo();
    highlight(-1, 'edit');
    applyState(s);
    tellOtherTabs('edited the pieces');
    await refreshScene();
    const pieces = s.run.pieces === before ? plural(before, 'piece', 'pieces') : `${plural(s.run.pieces, 'piece', 'pieces')} (were ${before})`;
    say(`${EDIT_DONE[action]}: ${pieces}. Undo takes the edit back.`);
  } catch (e) {
    showError(e.message);
    say('The pieces are as they were.');
  } finally {
    setBusy(false);
    document.body.dataset.edits = String(Number(document.body.dataset.edits ?? 0) + 1);
  }
}
$('edit-cut').addEventListener('click', () => editEdge('cut'));
$('edit-join').addEventListener('click', () => editEdge('join'));
$('edit-tab').addEventListener('click', () => editEdge('tab'));
$('edit-no-tab').addEventListener('click', () => editEdge('no-tab'));
$('edit-free').addEventListener('click', () => editEdge('free'));
$('edge-close').addEventListener('click', letEdgeGo);

// --- actions ---------------------------------------------------------------------------------

async function openFiles(files) {
  if (busy || !files || files.length === 0) return;
  showError('');
  const list = [...files];
  const total = list.reduce((sum, f) => sum + f.size, 0);
  if (total > maxUpload) {
    showError(`These files are ${(total / 1048576).toFixed(1)} MB; the studio accepts at most ${(maxUpload / 1048576).toFixed(0)} MB.`);
    return;
  }
  const form = new FormData();
  for (const f of list) form.append('files', f, f.name);
  setBusy(true);
  say(`Opening ${list.map((f) => f.name).join(', ')}…`);
  try {
    const s = await call('POST', '/api/model', form);
    showing = 'pieces';
    highlight(-1, 'open');
    applyState(s);
    tellOtherTabs(`opened ${s.model.name}`);
    followPaper();
    await refreshScene();
    if (s.resume) {
      // A project: its run is made again, with its settings and edits.
      setBusy(false);
      applyForm(s.resume);
      await runDialog(Number(s.resume.press));
      if ($('message').hidden) say(`Opened the project of ${s.model.name} with its settings and edits.`);
      return;
    }
    say(`Opened ${s.model.name}. Press Unfold to make the pieces.`);
  } catch (e) {
    showError(e.message);
    say('The model could not be opened.');
  } finally {
    setBusy(false);
  }
}

function unfold() {
  const confirm = dialog.gadgets.find((g) => g.confirm);
  if (!busy && state && state.model) runDialog(confirm.id);
}

async function runDialog(press) {
  showError('');
  const p = paperFields();
  if (p.error) { showError(p.error); return; }
  running = true;
  setBusy(true);
  runStarted = performance.now();
  window.foldraTimes = {};
  $('progress').hidden = false;
  $('progress').scrollIntoView({ block: 'nearest' });
  $('progress-bar').value = 0;
  $('progress-stage').textContent = 'Starting…';
  say('Unfolding…');
  const poll = setInterval(async () => {
    try {
      const pr = await call('GET', '/api/progress');
      if (pr.running) {
        if (pr.percent >= 0) $('progress-bar').value = pr.percent;
        $('progress-stage').textContent = pr.percent >= 0 ? `${pr.stage} (${pr.percent} %)` : pr.stage;
      }
    } catch { /* the run's answer reports problems */ }
  }, 200);
  try {
    const body = { gadgets: gadgetValues(), press, paper: p.fields, ...(resumeMarks ?? {}) };
    resumeMarks = null;
    const s = await call('POST', '/api/run', body);
    window.foldraTimes.answered = performance.now() - runStarted;
    if (s.message === 'stopped') {
      // Nothing changed: the page keeps what it shows.
      applyState(s);
      say('Stopped: the model is as it was before the run.');
      return;
    }
    showing = 'pieces';
    highlight(-1, 'run');
    applyState(s);
    tellOtherTabs(`unfolded ${s.model.name}`);
    // The sheets' small images come a moment after the answer, while the 3D view is built: in a
    // browser that draws without a graphics card, drawing it first would keep them waiting.
    viewer.holdDraws(sheetsListed, kListWait);
    await refreshScene();
    await viewer.drawn();
    window.foldraTimes.scene = performance.now() - runStarted;
    const pattern = s.run && s.run.pattern;
    say(s.message ? `Nothing was changed.` : `Unfolded into ${plural(s.run.pieces, 'piece', 'pieces')}`
      + (pattern ? ` on ${plural(pattern.sheets, 'sheet', 'sheets')}.` : '.')
      + (s.message ? '' : ' Click an edge of a piece to cut, join or move its glue tab there.'));
  } catch (e) {
    showError(e.message);
    say('The run did not complete.');
  } finally {
    clearInterval(poll);
    $('progress').hidden = true;
    running = false;
    setBusy(false);
  }
}

async function undoRedo(which) {
  if (busy) return;
  showError('');
  setBusy(true);
  try {
    const s = await call('POST', `/api/${which}`);
    highlight(-1, which);
    applyState(s);
    tellOtherTabs(which === 'undo' ? 'undid a step' : 'redid a step');
    await refreshScene();
    say(which === 'undo' ? (s.run ? 'Undone.' : 'Undone: the model as opened.') : 'Redone.');
  } catch (e) {
    showError(e.message);
  } finally {
    setBusy(false);
  }
}

// --- events ----------------------------------------------------------------------------------

$('dialog-form').addEventListener('submit', (event) => {
  event.preventDefault();
  const confirm = dialog.gadgets.find((g) => g.confirm);
  const press = Number(event.submitter ? event.submitter.dataset.press : confirm.id);
  if (press !== confirm.id && running) {
    // Cancel during a run stops it; the run's answer says so.
    say('Stopping the run…');
    call('POST', '/api/stop').catch(() => { /* the run has just ended */ });
    return;
  }
  if (press !== confirm.id) {
    // Cancel: the form goes back to where it started; the model and its result stay.
    resetForm();
    showError('');
    say('The settings are back to their defaults.');
    return;
  }
  runDialog(press);
});
$('file').addEventListener('change', () => { openFiles($('file').files); $('file').value = ''; });
for (const target of [$('drop'), $('viewport')]) {
  target.addEventListener('dragover', (e) => { e.preventDefault(); target.classList.add('over'); });
  target.addEventListener('dragleave', () => target.classList.remove('over'));
  target.addEventListener('drop', (e) => {
    e.preventDefault();
    target.classList.remove('over');
    openFiles(e.dataTransfer.files);
  });
}
// Dropping a file anywhere else must not make the browser leave the page.
window.addEventListener('dragover', (e) => e.preventDefault());
window.addEventListener('drop', (e) => e.preventDefault());
$('undo').addEventListener('click', () => undoRedo('undo'));
$('redo').addEventListener('click', () => undoRedo('redo'));
$('paper-format').addEventListener('change', paperChanged);
$('paper-orientation').addEventListener('change', paperChanged);
for (const id of ['paper-size', 'paper-width', 'paper-height', 'paper-margin']) $(id).addEventListener('input', followPaper);
$('module-follow').addEventListener('click', () => {
  for (const input of document.querySelectorAll('#module-fields [data-gadget]')) input.dataset.derived = 'true';
  followPaper();
});
$('show-pieces').addEventListener('click', () => { showing = 'pieces'; refreshScene(); });
$('show-model').addEventListener('click', () => { showing = 'model'; refreshScene(); });
$('show-materials').addEventListener('change', () => viewer.useMaterials($('show-materials').checked));
document.addEventListener('keydown', (e) => {
  const typing = e.target instanceof HTMLInputElement && e.target.type !== 'checkbox' && e.target.type !== 'range';
  if (typing || !(e.ctrlKey || e.metaKey) || e.key.toLowerCase() !== 'z') return;
  e.preventDefault();
  undoRedo(e.shiftKey ? 'redo' : 'undo');
});
$('frame').addEventListener('input', () => showFrame(Number($('frame').value)));
let playing = null;
function stopPlaying() {
  clearInterval(playing);
  playing = null;
  $('play').textContent = 'Play';
  $('play').setAttribute('aria-pressed', 'false');
}
function startPlaying() {
  $('play').textContent = 'Pause';
  $('play').setAttribute('aria-pressed', 'true');
  playing = setInterval(() => {
    const next = (Number($('frame').value) + 1) % viewer.frameCount();
    $('frame').value = String(next);
    showFrame(next);
  }, 1000 / Number($('speed').value));
}
$('play').addEventListener('click', () => (playing ? stopPlaying() : startPlaying()));
$('speed').addEventListener('change', () => { if (playing) { stopPlaying(); startPlaying(); } });
// The session's files are let go soon after the page is closed (a reload comes back in time).
// Closing the page also stops a run it asked for.
window.addEventListener('pagehide', () => navigator.sendBeacon('/api/leave', tabId));

async function start() {
  try {
    const [d, s, paper] = await Promise.all([call('GET', '/api/dialog'), call('GET', '/api/state'), call('GET', '/api/paper')]);
    dialog = d;
    paperDefaults = paper;
    extensions = s.extensions;
    companions = s.companions;
    maxUpload = s.maxUpload;
    state = s;
    resetForm();
    $('file').accept = [...extensions, ...companions].join(',');
    const common = ['.obj', '.glb', '.stl', '.ply', '.fbx', '.json'].filter((e) => extensions.includes(e));
    $('formats-hint').textContent = `${common.join(' ')} and ${extensions.length - common.length} more; `
      + `with an .obj, its .mtl and textures too. Or drop the files on the page.`;
    $('formats-hint').title = extensions.join(' ');
    applyState(s);
    await refreshScene();
    say(s.model ? `${s.model.name} is open.` : 'Open a model to begin.');
    document.body.dataset.ready = 'true';
    if (s.resume && s.model) {
      // A session kept from an earlier visit: its last run is made again with its settings.
      applyForm(s.resume);
      await runDialog(Number(s.resume.press));
      if (!$('message').hidden) return;
      say(`Welcome back: ${s.model.name} with the settings of your last run.`);
    }
  } catch (e) {
    showError(`The studio could not start: ${e.message}`);
  }
}
start();
