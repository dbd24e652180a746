// The 3D view: the document's objects in their material colours, glue tabs in their own shade,
// and the objects' editor visibility at a frame of the document's animation.
import * as THREE from 'three';
import { OrbitControls } from '/vendor/OrbitControls.js';

const ON = 0, OFF = 1;
const STEP = 3;
const TAB_COLOUR = 0x8fa3bf;
const NO_MATERIAL = [0.8, 0.8, 0.8];

/// The value of a visibility track at time t (fractions [n, d]), as the host evaluates it: the
/// first key's value before it, a step key's value until the next key, otherwise linear between
/// two keys rounded to the nearest integer, the last key's value after it.
export function keyValue(keys, t, fallback) {
  if (!keys.length) return fallback;
  const less = (a, b) => a[0] * b[1] < b[0] * a[1];
  const at = (k) => [k[0], k[1]];
  if (!less(at(keys[0]), t)) return keys[0][2];
  for (let i = 0; i + 1 < keys.length; ++i) {
    const a = keys[i], b = keys[i + 1];
    if (!less(t, at(b))) continue;
    if (a[3] === STEP) return a[2];
    const ta = a[0] / a[1], tb = b[0] / b[1], tt = t[0] / t[1];
    return Math.trunc(a[2] + ((tt - ta) / (tb - ta)) * (b[2] - a[2]) + 0.5);
  }
  return keys[keys.length - 1][2];
}

export function createViewer(container, note) {
  let renderer = null;
  try {
    renderer = new THREE.WebGLRenderer({ antialias: true });
  } catch {
    renderer = null;
  }
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0xe9ecf1);
  const camera = new THREE.PerspectiveCamera(40, 1, 0.01, 1000);
  scene.add(new THREE.HemisphereLight(0xffffff, 0x8a8f99, 1.6));
  const sun = new THREE.DirectionalLight(0xffffff, 1.6);
  sun.position.set(1, 2, 1.5);
  scene.add(sun);
  let controls = null;
  if (renderer) {
    renderer.setPixelRatio(Math.min(window.devicePixelRatio, 2));
    container.append(renderer.domElement);
    renderer.domElement.tabIndex = 0;
    renderer.domElement.setAttribute('aria-label', '3D view: drag to turn, scroll to zoom; the arrow keys move the view, with Shift they turn it');
    controls = new OrbitControls(camera, renderer.domElement);
    controls.listenToKeyEvents(renderer.domElement);
    controls.addEventListener('change', draw);
    controls.addEventListener('start', () => { moved = true; });
  }

  let root = null;
  let moved = false;  // the person has turned or zoomed the view since it was fitted
  let objects = [];  // {entry, group}
  let time = { fps: 30, minimum: [0, 1], maximum: [0, 1] };
  let animated = false;

  function draw() {
    if (!renderer) return;
    const w = container.clientWidth, h = container.clientHeight;
    if (w === 0 || h === 0) return;
    const canvas = renderer.domElement;
    if (canvas.width !== Math.floor(w * renderer.getPixelRatio()) || canvas.height !== Math.floor(h * renderer.getPixelRatio())) {
      renderer.setSize(w, h, false);
      camera.aspect = w / h;
      camera.updateProjectionMatrix();
      if (!moved) fit();
    }
    renderer.render(scene, camera);
  }
  new ResizeObserver(draw).observe(container);

  function meshOf(entry, colours) {
    const group = new THREE.Group();
    const points = entry.points || [];
    const tri = entry.triangles || [];
    if (tri.length) {
      const positions = new Float32Array(tri.length * 3);
      const colour = new Float32Array(tri.length * 3);
      for (let i = 0; i < tri.length; ++i) {
        const p = tri[i] * 3;
        positions.set([points[p], points[p + 1], points[p + 2]], i * 3);
        const m = entry.materials[Math.floor(i / 3)];
        colour.set(m >= 0 ? colours[m] : NO_MATERIAL, i * 3);
      }
      const g = new THREE.BufferGeometry();
      g.setAttribute('position', new THREE.BufferAttribute(positions, 3));
      g.setAttribute('color', new THREE.BufferAttribute(colour, 3));
      g.computeVertexNormals();
      group.add(new THREE.Mesh(g, new THREE.MeshLambertMaterial({ vertexColors: true, side: THREE.DoubleSide,
        polygonOffset: true, polygonOffsetFactor: 1, polygonOffsetUnits: 1 })));
      const edges = new THREE.LineSegments(new THREE.EdgesGeometry(g, 1),
        new THREE.LineBasicMaterial({ color: 0x3a414c, transparent: true, opacity: 0.45 }));
      group.add(edges);
    }
    const tabs = entry.tabs || [];
    if (tabs.length) {
      const positions = new Float32Array(tabs.length * 3);
      for (let i = 0; i < tabs.length; ++i) {
        const p = tabs[i] * 3;
        positions.set([points[p], points[p + 1], points[p + 2]], i * 3);
      }
      const g = new THREE.BufferGeometry();
      g.setAttribute('position', new THREE.BufferAttribute(positions, 3));
      g.computeVertexNormals();
      group.add(new THREE.Mesh(g, new THREE.MeshLambertMaterial({ color: TAB_COLOUR, side: THREE.DoubleSide,
        polygonOffset: true, polygonOffsetFactor: 2, polygonOffsetUnits: 2 })));
    }
    return group;
  }

  function fit() {
    const box = new THREE.Box3();
    for (const o of objects) box.expandByObject(o.group);
    if (box.isEmpty()) return;
    const size = box.getSize(new THREE.Vector3());
    const centre = box.getCenter(new THREE.Vector3());
    const radius = Math.max(size.length() / 2, 1e-6);
    // The bounding sphere fits the narrower of the two angles of view.
    const vertical = THREE.MathUtils.degToRad(camera.fov / 2);
    const horizontal = Math.atan(Math.tan(vertical) * camera.aspect);
    const distance = radius / Math.sin(Math.min(vertical, horizontal));
    // Flat pieces laid out in a plane are seen from above that plane (a little tilted, so that
    // they still read as 3D); a model from the front, above and to the side.
    const extents = [size.x, size.y, size.z];
    const thin = extents.indexOf(Math.min(...extents));
    let direction = new THREE.Vector3(0.6, 0.5, 1);
    if (extents[thin] < 0.05 * Math.max(...extents)) {
      direction = thin === 1 ? new THREE.Vector3(0.1, 1, 0.35) : new THREE.Vector3(0.15, 0.3, 0.15);
      direction.setComponent(thin, 1);
    }
    camera.near = distance / 1000;
    camera.far = distance * 10;
    camera.position.copy(centre).add(direction.normalize().multiplyScalar(distance));
    camera.updateProjectionMatrix();
    if (controls) {
      controls.target.copy(centre);
      controls.update();
    }
    moved = false;
  }

  function frameTime(frame) {
    const [n, d] = time.minimum;
    return [n * time.fps + frame * d, d * time.fps];
  }

  const api = {
    show(view) {
      if (root) {
        scene.remove(root);
        root.traverse((o) => { if (o.geometry) o.geometry.dispose(); if (o.material) o.material.dispose(); });
      }
      root = null;
      objects = [];
      animated = false;
      container.dataset.objects = '0';
      if (!view) {
        note.hidden = false;
        note.textContent = renderer ? 'Open a model to see it here.' : 'This browser cannot show 3D (WebGL is off).';
        draw();
        return;
      }
      note.hidden = !!renderer;
      note.textContent = renderer ? '' : 'This browser cannot show 3D (WebGL is off); the counts and the pattern are below.';
      time = view.time;
      const colours = view.materials.map((m) => m.color);
      root = new THREE.Group();
      for (const entry of view.objects) {
        const group = meshOf(entry, colours);
        objects.push({ entry, group });
        root.add(group);
        // An animation: visibility that changes over time (a single key holds one value).
        if (new Set(entry.keys.map((k) => k[2])).size > 1) animated = true;
      }
      scene.add(root);
      container.dataset.objects = String(objects.length);
      api.setFrame(0);
      fit();
      draw();
    },
    animated: () => animated,
    fps: () => Math.max(1, time.fps),
    frameCount() {
      const [a, b] = time.minimum, [c, d] = time.maximum;
      const frames = Math.floor(((c / d) - (a / b)) * time.fps + 1e-9) + 1;
      return Math.max(1, Math.min(frames, 100000));
    },
    /// Shows the objects visible at the frame; the names of the visible pieces.
    setFrame(frame) {
      const t = frameTime(frame);
      const visible = new Array(objects.length);
      const names = [];
      objects.forEach((o, i) => {
        const v = keyValue(o.entry.keys, t, o.entry.visibility);
        visible[i] = v === ON ? true : v === OFF ? false : (o.entry.parent >= 0 ? visible[o.entry.parent] : true);
        o.group.visible = visible[i];
        if (visible[i] && o.entry.piece) names.push(o.entry.name);
      });
      container.dataset.visiblePieces = String(names.length);
      container.dataset.frame = String(frame);
      draw();
      return names;
    },
  };
  return api;
}
