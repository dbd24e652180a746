// The studio in a real browser (Debian's chromium driven by playwright-core): a person opens a
// model, changes the module's options in its dialog, runs it, and the page shows what the command
// line makes of the same input and options; the animation steps one piece per frame; undo and
// redo go through the host's history; the pattern downloads as a PDF.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync, mkdirSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

const program = process.env.FOLDRA_PROGRAM;
const examples = process.env.FOLDRA_EXAMPLES;
const shots = process.env.FOLDRA_SCREENSHOTS;  // a folder for screenshots, when set
if (!program || !examples) throw new Error('set FOLDRA_PROGRAM and FOLDRA_EXAMPLES');

const CUBE = `v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1
f 1 4 3 2\nf 5 6 7 8\nf 1 2 6 5\nf 2 3 7 6\nf 3 4 8 7\nf 4 1 5 8\n`;

let work, server, url, context, page;
const problems = [];  // errors the page met: script errors and failed requests

function startStudio() {
  return new Promise((resolve, reject) => {
    server = spawn(program, ['serve', '--port', '0'], { stdio: ['ignore', 'pipe', 'inherit'] });
    let out = '';
    server.stdout.on('data', (chunk) => {
      out += chunk;
      const m = out.match(/http:\/\/127\.0\.0\.1:\d+\//);
      if (m) resolve(m[0]);
    });
    server.on('exit', (code) => reject(new Error(`foldra serve ended (${code}): ${out}`)));
  });
}

/// The command line's summary of a run: objects, triangles, pieces, tabs; and the piece objects
/// in its scene output.
function commandLine(args) {
  const out = join(work, `cli-${Date.now()}.json`);
  const line = execFileSync(program, [...args, '-o', out], { cwd: work, encoding: 'utf8' });
  const m = line.match(/(\d+) triangles, (\d+) pieces?, (\d+) glue tabs/);
  assert.ok(m, `unexpected summary: ${line}`);
  const scene = JSON.parse(readFileSync(out, 'utf8'));
  return { triangles: Number(m[1]), pieces: Number(m[2]), tabs: Number(m[3]), objects: scene.objects.length };
}

async function counts() {
  return {
    pieces: Number(await page.locator('#count-pieces').textContent()),
    triangles: Number(await page.locator('#count-triangles').textContent()),
    tabs: Number(await page.locator('#count-tabs').textContent()),
  };
}

async function shot(name) {
  if (shots) await page.screenshot({ path: join(shots, `${name}.png`), fullPage: true });
}

async function openModel(files, name) {
  await page.setInputFiles('#file', files);
  await page.locator('#model-info').filter({ hasText: name }).waitFor();
  await settled();
}

/// Waits until the page has the server's answer and its 3D view.
async function settled() {
  await page.locator('body[data-busy=false]').waitFor();
}

async function unfold() {
  const before = await page.locator('#script').textContent();
  await page.getByRole('button', { name: 'Unfold' }).click();
  await page.waitForFunction((old) => {
    const s = document.querySelector('#script');
    return !document.querySelector('#result').hidden && s.textContent !== old && document.body.dataset.busy === 'false';
  }, before);
}

before(async () => {
  work = mkdtempSync(join(tmpdir(), 'foldra-studio-e2e-'));
  writeFileSync(join(work, 'cube.obj'), CUBE);
  if (shots) mkdirSync(shots, { recursive: true });
  url = await startStudio();
  context = await chromium.launchPersistentContext(join(work, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1280, height: 860 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--enable-unsafe-swiftshader'],
  });
  page = context.pages()[0] ?? await context.newPage();
  page.on('pageerror', (e) => problems.push(`script error: ${e.message}`));
  page.on('response', (r) => { if (r.status() >= 400) problems.push(`${r.status()} ${new URL(r.url()).pathname}`); });
  await page.goto(url);
  await page.locator('body[data-ready=true]').waitFor();
});

after(async () => {
  if (context) await context.close();
  if (server) server.kill('SIGTERM');
  if (work) rmSync(work, { recursive: true, force: true });
});

test('the dialog form is the module\'s dialog, with labels', async () => {
  await shot('1-start');
  assert.equal(await page.locator('#dialog-title').textContent(), 'Foldra paper model');
  const layout = page.getByLabel('Layout of the pieces');
  assert.deepEqual(await layout.locator('option').allTextContents(),
    ['Side by side', 'Animation, one piece per frame', 'Stacked']);
  for (const label of ['Remove the original objects', 'Keep materials and texture coordinates',
    'Keep every piece within the page', 'Page width', 'Page height', 'Glue tabs', 'Maximum glue tab width']) {
    assert.equal(await page.getByLabel(label, { exact: true }).count(), 1, label);
  }
  const cut = page.getByLabel('How to cut the pieces');
  assert.deepEqual(await cut.locator('option').allTextContents(),
    ['Longest edges first', 'Compact: fewer, larger pieces']);
  assert.equal(await cut.inputValue(), '6061', 'compact unless chosen, as on the command line');
  assert.equal(await page.getByRole('button', { name: 'Unfold' }).isDisabled(), true, 'no run before a model is open');
});

test('the house, stacked: the same pieces, triangles and tabs as the command line', async () => {
  await openModel([join(examples, 'house.obj'), join(examples, 'house.mtl'), join(examples, 'house-walls.png')], 'house.obj');
  assert.equal(await page.getByLabel('Page width', { exact: true }).inputValue(),
    String((210 - 20) / (150 / 4)), 'the page filled from the paper as the command line does');
  await shot('2-house-open');
  await page.getByLabel('Layout of the pieces').selectOption({ label: 'Stacked' });
  await unfold();
  await shot('3-house-stacked');
  const cli = commandLine([join(examples, 'house.obj'), '--layout', 'stack']);
  const studio = await counts();
  assert.deepEqual(studio, { pieces: cli.pieces, triangles: cli.triangles, tabs: cli.tabs });
  assert.equal(cli.objects, cli.pieces);
  assert.match(await page.locator('#script').textContent(), /10002=6052/);
  assert.ok(await page.locator('#sheets img').count() >= 1, 'the pattern\'s sheets are shown');
});

test('the cube, dropped on the page, in the animation layout: one piece per frame, undo, redo and the PDF', async () => {
  // Drag and drop: a drop event carrying the file, as the browser sends it.
  const dropped = await page.evaluateHandle((text) => {
    const transfer = new DataTransfer();
    transfer.items.add(new File([text], 'cube.obj', { type: 'model/obj' }));
    return transfer;
  }, CUBE);
  await page.dispatchEvent('#drop', 'drop', { dataTransfer: dropped });
  await page.locator('#model-info').filter({ hasText: 'cube.obj' }).waitFor();
  await settled();
  assert.equal(await page.locator('#count-pieces').textContent(), '–', 'a new model has no result');
  await page.getByLabel('Layout of the pieces').selectOption({ label: 'Animation, one piece per frame' });
  await page.getByLabel('Keep every piece within the page').check();
  await page.getByLabel('Page width', { exact: true }).fill('3');
  await page.getByLabel('Page height', { exact: true }).fill('3');
  await page.getByLabel('Maximum glue tab width').fill('0.5');
  await unfold();
  const cli = commandLine([join(work, 'cube.obj'), '--layout', 'animation', '--page', '3x3', '--margin', '0',
    '--scale', '1', '--tab-width', '0.5']);
  const studio = await counts();
  assert.deepEqual(studio, { pieces: cli.pieces, triangles: cli.triangles, tabs: cli.tabs });
  assert.ok(studio.pieces > 1, 'the page limit cuts the cube into several pieces');

  // The slider, stepped with the keyboard, shows exactly one piece on every frame, each one once.
  const slider = page.getByLabel('Frame', { exact: true });
  assert.equal(await page.locator('#animation').isVisible(), true);
  assert.equal(await slider.getAttribute('max'), String(studio.pieces - 1));
  const seen = new Set();
  await slider.focus();
  for (let frame = 0; frame < studio.pieces; ++frame) {
    assert.equal(await page.locator('#viewport').getAttribute('data-frame'), String(frame));
    assert.equal(await page.locator('#viewport').getAttribute('data-visible-pieces'), '1', `frame ${frame}`);
    seen.add(await page.locator('#frame-label').textContent());
    if (frame === 2) await shot('4-cube-frame-3');
    await page.keyboard.press('ArrowRight');
  }
  assert.equal(seen.size, studio.pieces);

  // Undo brings back the cube as opened; redo the pieces.
  await page.getByRole('button', { name: 'Undo' }).click();
  await page.locator('#count-pieces').filter({ hasText: '–' }).waitFor();
  await settled();
  assert.equal(await page.locator('#viewport').getAttribute('data-objects'), '1');
  assert.equal(await page.getByRole('button', { name: 'Redo' }).isEnabled(), true);
  await shot('5-cube-undone');
  await page.getByRole('button', { name: 'Redo' }).click();
  await page.locator('#count-pieces').filter({ hasText: String(cli.pieces) }).waitFor();
  await settled();
  assert.equal(await page.locator('#viewport').getAttribute('data-objects'), String(cli.pieces));

  const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('link', { name: 'Pattern (PDF)' }).click()]);
  const pdf = readFileSync(await download.path());
  assert.equal(pdf.subarray(0, 4).toString('latin1'), '%PDF');
  assert.match(download.suggestedFilename(), /^cube-pattern\.pdf$/);
  await shot('6-cube-redone');
});

test('the page met no script error and no refused request', () => {
  assert.deepEqual(problems, []);
});

test('a file the importer cannot read gets its message on the page', async () => {
  const junk = join(work, 'junk.obj');
  writeFileSync(junk, 'this is not a mesh\n\u0000\u0001\u0002');
  await page.setInputFiles('#file', [junk]);
  const message = page.getByRole('alert');
  await message.waitFor();
  assert.match(await message.textContent(), /junk\.obj/);
  assert.doesNotMatch(await message.textContent(), /foldra-studio-/, 'no server path in the message');
  assert.deepEqual(problems, ['422 /api/model']);
  await shot('7-junk');
});
