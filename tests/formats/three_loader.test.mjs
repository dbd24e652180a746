// Our .glb and .gltf as three.js reads them: its GLTFLoader (the loader of web pages) in Node,
// on the bundled house as foldra writes it. The loader must find every object, triangle and
// material the scene file holds. Files come from the disk through a small stand-in for the
// browser's fetch.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { resolveObjectURL } from 'node:buffer';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const program = process.env.FOLDRA_PROGRAM;
const web = process.env.FOLDRA_WEB;  // the studio's web folder, whose node_modules hold three.js
if (!program || !web) throw new Error('set FOLDRA_PROGRAM and FOLDRA_WEB');

const three = await import(pathToFileURL(join(web, 'node_modules/three/build/three.module.js')).href);
const { GLTFLoader } = await import(pathToFileURL(join(web, 'node_modules/three/examples/jsm/loaders/GLTFLoader.js')).href);

// The browser's globals the loader uses: `self`, ProgressEvent, and createImageBitmap, here
// reading only the size of a PNG.
globalThis.self = globalThis;
globalThis.ProgressEvent = class extends Event {
  constructor(type, init = {}) {
    super(type);
    Object.assign(this, init);
  }
};
globalThis.createImageBitmap = async (blob) => {
  const bytes = new DataView(await blob.arrayBuffer());
  return { width: bytes.getUint32(16), height: bytes.getUint32(20), close() {} };
};

const requested = [];
globalThis.fetch = async (input) => {
  const url = typeof input === 'string' ? input : input.url;
  requested.push(url);
  if (url.startsWith('blob:')) return new Response(resolveObjectURL(url));
  try {
    return new Response(readFileSync(url.startsWith('file:') ? fileURLToPath(url) : url));
  } catch {
    return new Response(null, { status: 404, statusText: 'Not Found' });
  }
};

function load(file, folder) {
  const bytes = readFileSync(file);
  const data = file.endsWith('.gltf') ? bytes.toString('utf8') : bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength);
  return new Promise((resolve, reject) => new GLTFLoader().parse(data, pathToFileURL(folder).href + '/', resolve, reject));
}

/// What the scene file says the mesh files must hold: triangles (a quadrangle is two), the
/// bounds of the points, and the materials with their colours.
function expected(scene) {
  let triangles = 0;
  const low = [Infinity, Infinity, Infinity], high = [-Infinity, -Infinity, -Infinity];
  const objects = [];
  const walk = (o) => {
    if (o.type === 'polygon' && o.polygons.length) {
      objects.push(o.name);
      for (const [, , c, d] of o.polygons) triangles += c === d ? 1 : 2;
      for (const p of o.points) for (let k = 0; k < 3; ++k) { low[k] = Math.min(low[k], p[k]); high[k] = Math.max(high[k], p[k]); }
    }
    for (const child of o.children) walk(child);
  };
  scene.objects.forEach(walk);
  return { triangles, low, high, objects, materials: scene.materials };
}

for (const extension of ['glb', 'gltf']) {
  test(`three.js reads the house from .${extension}`, async () => {
    const work = mkdtempSync(join(tmpdir(), 'foldra-three-'));
    const errors = [];
    const consoleError = console.error;
    console.error = (...args) => errors.push(args.join(' '));
    try {
      execFileSync(program, ['-o', 'house.json', '-o', `house.${extension}`, '--quiet'], { cwd: work });
      const want = expected(JSON.parse(readFileSync(join(work, 'house.json'), 'utf8')));
      const gltf = await load(join(work, `house.${extension}`), work);

      let triangles = 0;
      const names = [];
      const materials = new Map();
      gltf.scene.updateMatrixWorld(true);
      const box = new three.Box3();
      gltf.scene.traverse((node) => {
        if (node.isMesh) {
          triangles += node.geometry.index.count / 3;
          materials.set(node.material.name, node.material);
          const positions = node.geometry.attributes.position;
          assert.ok([...positions.array].every(Number.isFinite));
          box.expandByObject(node);
        }
      });
      for (const node of gltf.scene.children) names.push(node.name);
      assert.deepEqual(names, want.objects);
      assert.equal(triangles, want.triangles);
      for (let k = 0; k < 3; ++k) {
        assert.ok(Math.abs(box.min.getComponent(k) - want.low[k]) < 1e-5, `lowest ${k}: ${box.min.getComponent(k)}`);
        assert.ok(Math.abs(box.max.getComponent(k) - want.high[k]) < 1e-5, `highest ${k}: ${box.max.getComponent(k)}`);
      }
      for (const m of want.materials) {
        const material = materials.get(m.name);
        assert.ok(material, `material ${m.name}`);
        for (let c = 0; c < 3; ++c) assert.ok(Math.abs(material.color.toArray()[c] - m.color[c]) < 1e-6);
        assert.equal(material.metalness, 0);
      }
      assert.ok(materials.has('Default'));
      // The texture is named by its path as the document holds it (absolute), which a page
      // resolves against the file's own folder and does not find: the only complaint allowed.
      for (const e of errors) assert.match(e, /Couldn't load texture/);
      if (extension === 'gltf') assert.ok(requested.includes(pathToFileURL(join(work, 'house.bin')).href));
    } finally {
      console.error = consoleError;
      rmSync(work, { recursive: true, force: true });
    }
  });
}
