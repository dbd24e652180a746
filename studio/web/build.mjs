// Builds the studio's front end into the folder given as the first argument: the page, its
// script and style from src/, and three.js with its orbit controls from node_modules (installed
// by `npm ci`, which scripts/setup.sh runs). Every file the page loads comes from this folder.
import { cpSync, existsSync, mkdirSync, rmSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const out = resolve(process.argv[2] ?? join(here, '../../build/bin/studio'));
const three = join(here, 'node_modules/three');
if (!existsSync(join(three, 'build/three.module.js'))) {
  console.error(`studio front end: ${three} is missing; run scripts/setup.sh (it runs npm ci in studio/web)`);
  process.exit(1);
}
rmSync(out, { recursive: true, force: true });
mkdirSync(join(out, 'vendor'), { recursive: true });
cpSync(join(here, 'src'), out, { recursive: true });
for (const file of ['build/three.module.js', 'build/three.core.js', 'examples/jsm/controls/OrbitControls.js', 'LICENSE']) {
  cpSync(join(three, file), join(out, 'vendor', file.split('/').pop()));
}
