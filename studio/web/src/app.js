// The studio page: opens a model, shows the module's dialog as a form, runs the module through
// the server and shows the document, its undo history and the pattern.
import { createViewer } from './viewer.js';

const $ = (id) => document.getElementById(id);
let dialog = null;       // the module's dialog as the server describes it
let state = null;        // the session's state as the server last answered
let extensions = [];
let companions = [];
let maxUpload = 0;
let busy = false;
let shownSheets = '';    // the run whose sheets the page shows
const viewer = createViewer($('viewport'), $('viewport-note'));

function say(text) { $('status').textContent = text; }
function showError(text) {
  const box = $('message');
  box.textContent = text;
  box.hidden = !text;
  if (text) box.scrollIntoView({ block: 'nearest' });
}

async function call(method, path, body) {
  const init = { method, headers: {} };
  if (body instanceof FormData) init.body = body;
  else if (body !== undefined) {
    init.body = JSON.stringify(body);
    init.headers['Content-Type'] = 'application/json';
  }
  const res = await fetch(path, init);
  let data = null;
  try { data = await res.json(); } catch { data = null; }
  if (!res.ok) throw new Error((data && data.error) || `${res.status} ${res.statusText}`);
  return data;
}

// --- the dialog as a form --------------------------------------------------------------------

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
    for (const e of g.entries) {
      const o = document.createElement('option');
      o.value = String(e.value);
      o.textContent = e.label;
      input.append(o);
    }
    input.value = String(g.value);
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
  else wrap.append(label, input);
  return wrap;
}

function buildForm() {
  $('dialog-title').textContent = dialog.title;
  $('dialog-help').textContent = dialog.help || '';
  const gadgets = $('gadgets');
  const buttons = $('buttons');
  gadgets.replaceChildren();
  buttons.replaceChildren();
  for (const g of dialog.gadgets) {
    if (g.kind === 'button') {
      const b = document.createElement('button');
      b.type = 'submit';
      b.value = String(g.id);
      b.textContent = g.label;
      b.dataset.press = String(g.id);
      b.className = g.confirm ? 'primary' : '';
      buttons.append(b);
    } else {
      gadgets.append(gadgetField(g));
    }
  }
}

/// The form's values as the gadgets take them: {id: value}.
function gadgetValues() {
  const values = {};
  for (const input of $('gadgets').querySelectorAll('[data-gadget]')) {
    const id = input.dataset.gadget;
    if (input.dataset.kind === 'check') values[id] = input.checked;
    else if (input.dataset.kind === 'choice' || input.dataset.kind === 'integer') values[id] = Number(input.value);
    else values[id] = input.value.trim();
  }
  return values;
}

function numberIn(id) {
  const input = $(id);
  const v = Number(input.value.trim());
  const ok = input.value.trim() !== '' && Number.isFinite(v) && (id === 'paper-margin' ? v >= 0 : v > 0);
  input.setAttribute('aria-invalid', ok ? 'false' : 'true');
  return ok ? v : null;
}

/// The paper's fields (millimetres), or null when one of them is not a usable number.
function paperFields() {
  const fields = {
    width: numberIn('paper-width'), height: numberIn('paper-height'), margin: numberIn('paper-margin'),
    size: numberIn('paper-size'), tab: numberIn('paper-tab'),
  };
  return Object.values(fields).includes(null) ? null : fields;
}

/// The server's reading of the paper for the open model: the scale (millimetres on paper per
/// model unit) and the dialog's page and tab sizes in model units, as the command line sets them.
async function paperConversion() {
  const p = paperFields();
  if (!p) throw new Error('Check the paper settings: every size must be a number greater than 0.');
  return call('GET', `/api/paper?${new URLSearchParams(p)}`);
}

let paperAsked = 0;  // answers to earlier questions are not shown over later ones
async function showScale() {
  const asked = ++paperAsked;
  let text;
  try {
    text = `Scale: ${(await paperConversion()).scale.toPrecision(4)} mm on paper per model unit.`;
  } catch (e) {
    text = e.message;
  }
  if (asked === paperAsked) $('paper-scale').textContent = text;
}

/// Fills the dialog's page and tab sizes from the paper.
async function fillFromPaper() {
  if (!dialog.lengths) return;
  const lengths = (await paperConversion()).dialog;
  const set = (gadget, value) => { const input = $(`gadget-${gadget}`); if (input) input.value = String(value); };
  set(dialog.lengths.pageWidth, lengths.pageWidth);
  set(dialog.lengths.pageHeight, lengths.pageHeight);
  set(dialog.lengths.tabWidth, lengths.tabWidth);
}

// --- state -----------------------------------------------------------------------------------

function setBusy(on) {
  busy = on;
  document.body.dataset.busy = String(on);
  for (const b of document.querySelectorAll('#buttons button, #undo, #redo, #paper-fill')) b.disabled = on;
  $('file').disabled = on;
  if (!on) applyState(state);
}

async function refreshScene() {
  if (!state || !state.model) { viewer.show(null); return; }
  const scene = await call('GET', '/api/scene');
  viewer.show(scene);
  const frames = viewer.frameCount();
  $('animation').hidden = frames <= 1 || !viewer.animated();
  $('frame').max = String(Math.max(0, frames - 1));
  $('frame').value = '0';
  showFrame(0);
}

function showFrame(frame) {
  const visible = viewer.setFrame(frame);
  const frames = viewer.frameCount();
  $('frame-label').textContent = `${frame + 1} of ${frames}` + (visible.length ? `: ${visible.join(', ')}` : '');
}

function applyState(s) {
  state = s;
  const run = s && s.run;
  $('model-info').textContent = s && s.model
    ? `${s.model.name}: ${s.model.objects} object${s.model.objects === 1 ? '' : 's'}, ${s.model.polygons} polygons.`
    : 'No model open.';
  $('undo').disabled = busy || !s || !s.undo;
  $('redo').disabled = busy || !s || !s.redo;
  for (const b of document.querySelectorAll('#buttons button')) b.disabled = busy || !s || !s.model;
  $('count-pieces').textContent = run ? String(run.pieces) : '–';
  $('count-triangles').textContent = run ? String(run.triangles) : '–';
  $('count-tabs').textContent = run ? String(run.tabs) : '–';
  $('result').hidden = !run;
  if (run) {
    $('script').textContent = run.script;
    const warnings = $('warnings');
    warnings.hidden = run.warnings.length === 0;
    warnings.querySelector('summary').textContent = `The pattern has ${run.warnings.length} note${run.warnings.length === 1 ? '' : 's'}`;
    warnings.querySelector('ul').replaceChildren(...run.warnings.map((w) => {
      const li = document.createElement('li');
      li.textContent = w;
      return li;
    }));
    $('download-pdf').hidden = run.sheets === 0;
  }
  const sheetsKey = run ? `${s.undo}|${run.script}|${run.sheets}|${run.seconds}` : '';
  if (run && sheetsKey !== shownSheets) {
    shownSheets = sheetsKey;
    const list = $('sheets');
    list.replaceChildren();
    const stamp = `${s.undo}-${Date.now()}`;
    for (let n = 1; n <= run.sheets; ++n) {
      const li = document.createElement('li');
      const img = document.createElement('img');
      img.src = `/api/sheet/${n}.svg?v=${stamp}`;
      img.alt = `Pattern sheet ${n} of ${run.sheets}`;
      if (run.paper) img.style.aspectRatio = `${run.paper[0]} / ${run.paper[1]}`;
      const a = document.createElement('a');
      a.href = `/api/sheet/${n}.svg?download=1`;
      a.download = '';
      a.textContent = `Sheet ${n} (SVG)`;
      li.append(img, a);
      list.append(li);
    }
  }
}

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
    applyState(s);
    showScale();
    // Paper that does not fit is said beside the paper (showScale); the model is open all the same.
    await fillFromPaper().catch(() => {});
    await refreshScene();
    say(`Opened ${s.model.name}.`);
  } catch (e) {
    showError(e.message);
    say('The model could not be opened.');
  } finally {
    setBusy(false);
  }
}

async function runDialog(press) {
  showError('');
  const fields = paperFields();
  if (!fields) { showError('Check the paper settings: every size must be a number greater than 0.'); return; }
  const p = { width: fields.width, height: fields.height, margin: fields.margin, size: fields.size };
  setBusy(true);
  $('progress').hidden = false;
  $('progress').scrollIntoView({ block: 'nearest' });
  $('progress-bar').value = 0;
  $('progress-stage').textContent = 'Starting…';
  say('Running the module…');
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
    const s = await call('POST', '/api/run', { gadgets: gadgetValues(), press, paper: p });
    applyState(s);
    await refreshScene();
    say(s.message ? s.message : `Unfolded into ${s.run.pieces} piece${s.run.pieces === 1 ? '' : 's'}.`);
  } catch (e) {
    showError(e.message);
    say('The run did not complete.');
  } finally {
    clearInterval(poll);
    $('progress').hidden = true;
    setBusy(false);
  }
}

async function undoRedo(which) {
  if (busy) return;
  showError('');
  setBusy(true);
  try {
    const s = await call('POST', `/api/${which}`);
    applyState(s);
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
  const press = Number(event.submitter ? event.submitter.dataset.press : dialog.gadgets.find((g) => g.confirm).id);
  runDialog(press);
});
$('file').addEventListener('change', () => { openFiles($('file').files); $('file').value = ''; });
const drop = $('drop');
drop.addEventListener('dragover', (e) => { e.preventDefault(); drop.classList.add('over'); });
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (e) => {
  e.preventDefault();
  drop.classList.remove('over');
  openFiles(e.dataTransfer.files);
});
// Dropping a file anywhere else must not make the browser leave the page.
window.addEventListener('dragover', (e) => e.preventDefault());
window.addEventListener('drop', (e) => e.preventDefault());
$('undo').addEventListener('click', () => undoRedo('undo'));
$('redo').addEventListener('click', () => undoRedo('redo'));
$('paper-fill').addEventListener('click', () => {
  fillFromPaper().then(() => showError(''), (e) => showError(e.message));
});
for (const id of ['paper-size', 'paper-width', 'paper-height', 'paper-margin', 'paper-tab']) $(id).addEventListener('input', showScale);
document.addEventListener('keydown', (e) => {
  const typing = e.target instanceof HTMLInputElement && e.target.type !== 'checkbox' && e.target.type !== 'range';
  if (typing || !(e.ctrlKey || e.metaKey) || e.key.toLowerCase() !== 'z') return;
  e.preventDefault();
  undoRedo(e.shiftKey ? 'redo' : 'undo');
});
$('frame').addEventListener('input', () => showFrame(Number($('frame').value)));
let playing = null;
$('play').addEventListener('click', () => {
  if (playing) {
    clearInterval(playing);
    playing = null;
    $('play').textContent = 'Play';
    $('play').setAttribute('aria-pressed', 'false');
    return;
  }
  $('play').textContent = 'Pause';
  $('play').setAttribute('aria-pressed', 'true');
  playing = setInterval(() => {
    const next = (Number($('frame').value) + 1) % viewer.frameCount();
    $('frame').value = String(next);
    showFrame(next);
  }, 1000 / viewer.fps());
});

async function start() {
  try {
    const [d, s, paperDefaults] = await Promise.all([call('GET', '/api/dialog'), call('GET', '/api/state'), call('GET', '/api/paper')]);
    dialog = d;
    for (const [field, value] of Object.entries(paperDefaults.defaults)) $(`paper-${field}`).value = String(value);
    extensions = s.extensions;
    companions = s.companions;
    maxUpload = s.maxUpload;
    buildForm();
    $('file').accept = [...extensions, ...companions].join(',');
    const common = ['.obj', '.glb', '.gltf', '.stl', '.ply', '.fbx', '.dae', '.3ds', '.json'].filter((e) => extensions.includes(e));
    $('formats-hint').textContent = `${common.join(' ')} and ${extensions.length - common.length} more formats; `
      + `with an .obj its .mtl and textures. At most ${(maxUpload / 1048576).toFixed(0)} MB.`;
    $('formats-hint').title = extensions.join(' ');
    applyState(s);
    showScale();
    await refreshScene();
    say(s.model ? `${s.model.name} is open.` : 'Open a model to begin.');
    document.body.dataset.ready = 'true';
  } catch (e) {
    showError(`The studio could not start: ${e.message}`);
  }
}
start();
