// Times one run in the studio as a person makes it, for comparing with the program on the same
// model: node studio/web/bench-studio.mjs build/bin/foldra MODEL prints the milliseconds from
// Unfold to the run's answer ("answered"), to the 3D result ("scene") and to every sheet's
// image in the list ("sheets"), with the studio's defaults (compact, 150 mm, A4). Compare with:
// foldra MODEL --page 210x297 -o x.json -o x.pdf
import { chromium } from 'playwright-core';
import { spawn } from 'node:child_process';
const [program, model] = process.argv.slice(2);
const server = spawn(program, ['serve', '--port', '0', '--sessions', 'none'], { stdio: ['ignore', 'pipe', 'inherit'] });
const url = await new Promise((resolve) => { let out = ''; server.stdout.on('data', (c) => { out += c; const m = out.match(/http:\/\/127\.0\.0\.1:\d+\//); if (m) resolve(m[0]); }); });
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu', '--enable-unsafe-swiftshader'] });
const page = await browser.newPage({ viewport: { width: 1400, height: 900 } });
await page.goto(url);
await page.locator('body[data-ready=true]').waitFor();
await page.setInputFiles('#file', [model]);
await page.locator('body[data-busy=false]').waitFor();
await page.locator('#model-info').filter({ hasText: model.split('/').pop() }).waitFor();
await page.getByRole('button', { name: 'Unfold' }).click();
await page.waitForFunction(() => document.body.dataset.busy === 'false' && !document.querySelector('#result').hidden, null, { timeout: 600000 });
await page.locator('#sheets[data-loaded=true]').waitFor({ timeout: 600000 });
console.log(JSON.stringify(await page.evaluate(() => window.foldraTimes)));
await browser.close(); server.kill();
