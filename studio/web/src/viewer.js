// The 3D view. A model is seen in perspective and turns under the mouse. Flat pieces are seen
// from straight above in an orthographic view that frames them all, each piece in its own colour
// with its number (the number printed on the sheets); pieces stacked on each other are spread
// out side by side first. Pointing at a piece highlights it, here and (through onPick) on its
// sheet. Objects follow the document's animation of their visibility frame by frame.
import * as THREE from 'three';
import { OrbitControls } from '/vendor/OrbitControls.js';

const ON = 0, OFF = 1;
const STEP = 3;
const NO_MATERIAL = [0.8, 0.8, 0.8];
const HIGHLIGHT = new THREE.Color(0xff7a00);

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

/// A colour of its own for piece i: hues a golden angle apart, light enough for a dark number.
export function pieceColour(i) {
  return new THREE.Color().setHSL(((i * 0.381966) % 1 + 1) % 1, 0.55, 0.66);
}

export function createViewer(container, note, labelLayer) {
  let renderer = null;
  try {
    renderer = new THREE.WebGLRenderer({ antialias: true });
  } catch {
    renderer = null;
  }
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0xe9ecf1);
  const perspective = new THREE.PerspectiveCamera(40, 1, 0.01, 1000);
  const orthographic = new THREE.OrthographicCamera(-1, 1, 1, -1, 0.01, 1000);
  let camera = perspective;
  scene.add(new THREE.HemisphereLight(0xffffff, 0x8a8f99, 1.8));
  const sun = new THREE.DirectionalLight(0xffffff, 1.4);
  sun.position.set(1, 2, 1.5);
  scene.add(sun);
  let controls = null;
  let picked = () => {};
  let edgePicked = () => {};
  let bands = [];        // the marked edges, each a band in its piece's group
  const textures = new Map();  // material index -> texture, for the current view

  let root = null;
  let moved = false;     // the person has turned or zoomed the view since it was fitted
  let objects = [];      // {entry, group, meshes: [], centre}
  let time = { fps: 30, minimum: [0, 1], maximum: [0, 1] };
  let animated = false;
  let flat = null;       // {axis, up} when everything lies in one plane
  let useMaterials = false;
  let hot = -1;          // the highlighted piece (its index in the pattern)
  let lastView = null;
  let queued = false;    // a draw is asked for and waits for the next frame
  let waiting = [];      // callers waiting for that draw
  let held = Promise.resolve();  // draws wait for it (see holdDraws)

  function makeControls() {
    if (!renderer) return;
    if (controls) controls.dispose();
    controls = new OrbitControls(camera, renderer.domElement);
    controls.listenToKeyEvents(renderer.domElement);
    controls.addEventListener('change', draw);
    controls.addEventListener('start', () => { moved = true; });
    controls.screenSpacePanning = true;
    if (flat) {
      // From above: dragging moves the sheet of pieces, it never tips it edge-on.
      controls.enableRotate = false;
      controls.mouseButtons = { LEFT: THREE.MOUSE.PAN, MIDDLE: THREE.MOUSE.DOLLY, RIGHT: THREE.MOUSE.PAN };
      controls.touches = { ONE: THREE.TOUCH.PAN, TWO: THREE.TOUCH.DOLLY_PAN };
    }
  }

  if (renderer) {
    renderer.setPixelRatio(Math.min(window.devicePixelRatio, 2));
    container.append(renderer.domElement);
    renderer.domElement.tabIndex = 0;
    renderer.domElement.setAttribute('aria-label', '3D view: drag to move or turn, scroll to zoom; the arrow keys move the view');
    makeControls();
    const pointer = new THREE.Vector2();
    const ray = new THREE.Raycaster();
    let pending = false;
    const pickAt = (event, click) => {
      const r = renderer.domElement.getBoundingClientRect();
      pointer.set(((event.clientX - r.left) / r.width) * 2 - 1, -((event.clientY - r.top) / r.height) * 2 + 1);
      ray.setFromCamera(pointer, camera);
      const meshes = [];
      for (const o of objects) if (o.entry.piece >= 0 && o.group.visible) meshes.push(...o.meshes);
      const hit = ray.intersectObjects(meshes, false)[0];
      const piece = hit ? hit.object.userData.piece : -1;
      if (piece !== hot || click) picked(piece, click);
      if (click && hit && hit.object.userData.order) edgePicked(edgeAt(hit));
    };
    renderer.domElement.addEventListener('pointermove', (event) => {
      if (pending || event.buttons) return;
      pending = true;
      requestAnimationFrame(() => { pending = false; pickAt(event, false); });
    });
    renderer.domElement.addEventListener('click', (event) => pickAt(event, true));
    renderer.domElement.addEventListener('pointerleave', () => picked(-1, false));
  }

  /// The side of a piece's triangle nearest to where the ray hit it: {piece, triangle, side},
  /// the triangle by its place among the piece's triangles, the side from corner k to k + 1.
  function edgeAt(hit) {
    const mesh = hit.object;
    const slot = hit.faceIndex;
    const local = mesh.worldToLocal(hit.point.clone());
    const pos = mesh.geometry.attributes.position;
    const corner = (k) => new THREE.Vector3().fromBufferAttribute(pos, slot * 3 + k);
    let side = 0, nearest = Infinity;
    for (let k = 0; k < 3; ++k) {
      const d = new THREE.Line3(corner(k), corner((k + 1) % 3)).closestPointToPoint(local, true, new THREE.Vector3()).distanceTo(local);
      if (d < nearest) { nearest = d; side = k; }
    }
    return { piece: mesh.userData.piece, triangle: mesh.userData.order[slot], side };
  }

  /// A band along side `side` of triangle `triangle` of a piece's object, in the triangle's
  /// plane, `width` wide, in the piece's own group so that it moves with it.
  function band(o, triangle, side, width, colour) {
    const points = o.entry.points, tri = o.entry.triangles;
    const at = (k) => {
      const p = tri[triangle * 3 + k] * 3;
      return new THREE.Vector3(points[p], points[p + 1], points[p + 2]);
    };
    const a = at(side), b = at((side + 1) % 3), c = at((side + 2) % 3);
    const normal = new THREE.Vector3().subVectors(b, a).cross(new THREE.Vector3().subVectors(c, a)).normalize();
    const across = new THREE.Vector3().subVectors(b, a).cross(normal).normalize().multiplyScalar(width / 2);
    const lift = normal.clone().multiplyScalar(width / 4);
    const q = [a.clone().add(across), b.clone().add(across), b.clone().sub(across), a.clone().sub(across)].map((v) => v.add(lift));
    const g = new THREE.BufferGeometry().setFromPoints([q[0], q[1], q[2], q[0], q[2], q[3]]);
    const mesh = new THREE.Mesh(g, new THREE.MeshBasicMaterial({ color: colour, side: THREE.DoubleSide, depthTest: false }));
    mesh.renderOrder = 10;
    return mesh;
  }

  // Every change asks for a draw; they are made once, at the next frame. In a browser that draws
  // without a graphics card each draw costs a good share of a second on a large model, and one
  // step (a run's result: its highlight, its frame, its fitted view) asks for several.
  function draw() {
    if (!renderer || queued) return;
    queued = true;
    held.then(() => requestAnimationFrame(() => {
      queued = false;
      render();
      for (const done of waiting.splice(0)) done();
    }));
  }

  function render() {
    const w = container.clientWidth, h = container.clientHeight;
    if (w === 0 || h === 0) return;
    const canvas = renderer.domElement;
    if (canvas.width !== Math.floor(w * renderer.getPixelRatio()) || canvas.height !== Math.floor(h * renderer.getPixelRatio())) {
      renderer.setSize(w, h, false);
      if (!moved) fit();
      else setAspect(w / h);
    }
    renderer.render(scene, camera);
    placeLabels(w, h);
  }
  new ResizeObserver(draw).observe(container);

  function setAspect(aspect) {
    if (camera === perspective) {
      perspective.aspect = aspect;
    } else {
      const halfHeight = (orthographic.top - orthographic.bottom) / 2;
      orthographic.left = -halfHeight * aspect;
      orthographic.right = halfHeight * aspect;
    }
    camera.updateProjectionMatrix();
  }

  // --- the pieces' numbers ---------------------------------------------------------------------

  const labels = new Map();  // piece index -> span
  function placeLabels(w, h) {
    const v = new THREE.Vector3();
    for (const o of objects) {
      const span = labels.get(o.entry.piece);
      if (!span) continue;
      if (!o.group.visible) { span.hidden = true; continue; }
      v.copy(o.centre).applyMatrix4(o.group.matrixWorld).project(camera);
      span.hidden = v.z > 1 || v.z < -1;
      span.style.left = `${((v.x + 1) / 2) * w}px`;
      span.style.top = `${((1 - v.y) / 2) * h}px`;
    }
  }

  // --- geometry ----------------------------------------------------------------------------------

  function textureOf(view, m) {
    const material = view.materials[m];
    if (!material || material.texture === undefined) return null;
    if (!textures.has(m)) {
      const t = new THREE.TextureLoader().load(`/api/texture/${material.texture}?v=${Date.now()}`, draw);
      t.colorSpace = THREE.SRGBColorSpace;
      t.wrapS = t.wrapT = THREE.RepeatWrapping;
      textures.set(m, t);
    }
    return textures.get(m);
  }

  /// One object: its triangles in groups by material (textured where it has coordinates), or
  /// all in its piece's colour; its glue tabs in a lighter shade.
  function meshOf(view, entry) {
    const group = new THREE.Group();
    const meshes = [];
    const points = entry.points || [];
    const tri = entry.triangles || [];
    const piece = entry.piece >= 0;
    const byPiece = piece && !useMaterials;
    if (tri.length) {
      const order = Array.from({ length: tri.length / 3 }, (_, t) => t);
      if (!byPiece) order.sort((a, b) => entry.materials[a] - entry.materials[b]);
      const positions = new Float32Array(tri.length * 3);
      const uv = entry.uv ? new Float32Array(tri.length * 2) : null;
      for (let slot = 0; slot < order.length; ++slot) {
        const t = order[slot];
        for (let k = 0; k < 3; ++k) {
          const p = tri[t * 3 + k] * 3, at = (slot * 3 + k) * 3;
          positions[at] = points[p];
          positions[at + 1] = points[p + 1];
          positions[at + 2] = points[p + 2];
          if (uv) {
            uv[(slot * 3 + k) * 2] = entry.uv[(t * 3 + k) * 2];
            uv[(slot * 3 + k) * 2 + 1] = entry.uv[(t * 3 + k) * 2 + 1];
          }
        }
      }
      const g = new THREE.BufferGeometry();
      g.setAttribute('position', new THREE.BufferAttribute(positions, 3));
      if (uv) g.setAttribute('uv', new THREE.BufferAttribute(uv, 2));
      g.computeVertexNormals();
      const common = { side: THREE.DoubleSide, polygonOffset: true, polygonOffsetFactor: 1, polygonOffsetUnits: 1 };
      let materials;
      if (byPiece) {
        materials = [new THREE.MeshLambertMaterial({ ...common, color: pieceColour(entry.piece) })];
        g.addGroup(0, tri.length, 0);
      } else {
        materials = [];
        let start = 0;
        order.forEach((t, slot) => {
          const next = order[slot + 1];
          if (next !== undefined && entry.materials[next] === entry.materials[t]) return;
          const m = entry.materials[t];
          const colour = m >= 0 ? view.materials[m].color : NO_MATERIAL;
          const map = uv && m >= 0 ? textureOf(view, m) : null;
          // A dark material still shows its shape: it is lit as if it were a little lighter.
          const c = new THREE.Color(...colour);
          if (c.getHSL({}).l < 0.12) c.setHSL(c.getHSL({}).h, c.getHSL({}).s, 0.18);
          materials.push(new THREE.MeshLambertMaterial({ ...common, color: map ? 0xffffff : c, map }));
          g.addGroup(start * 3, (slot + 1 - start) * 3, materials.length - 1);
          start = slot + 1;
        });
      }
      const mesh = new THREE.Mesh(g, materials.length === 1 ? materials[0] : materials);
      mesh.userData.piece = entry.piece;
      // Which of the object's triangles each drawn one is: edges are picked by it.
      if (piece) mesh.userData.order = order;
      group.add(mesh);
      meshes.push(mesh);
      group.add(new THREE.LineSegments(new THREE.EdgesGeometry(g, 1),
        new THREE.LineBasicMaterial({ color: 0x3a414c, transparent: true, opacity: 0.5 })));
    }
    const tabs = entry.tabs || [];
    if (tabs.length) {
      const positions = new Float32Array(tabs.length * 3);
      for (let i = 0; i < tabs.length; ++i) {
        const p = tabs[i] * 3;
        positions[i * 3] = points[p];
        positions[i * 3 + 1] = points[p + 1];
        positions[i * 3 + 2] = points[p + 2];
      }
      const g = new THREE.BufferGeometry();
      g.setAttribute('position', new THREE.BufferAttribute(positions, 3));
      g.computeVertexNormals();
      const shade = piece ? pieceColour(entry.piece).lerp(new THREE.Color(0xffffff), 0.55) : new THREE.Color(0x8fa3bf);
      const mesh = new THREE.Mesh(g, new THREE.MeshLambertMaterial({ color: shade, side: THREE.DoubleSide,
        polygonOffset: true, polygonOffsetFactor: 2, polygonOffsetUnits: 2 }));
      mesh.userData.piece = entry.piece;
      group.add(mesh);
      meshes.push(mesh);
    }
    return { group, meshes };
  }

  /// The objects of the view in the scene, the view fitted to them and the frame set.
  function build(view, numbers) {
    root = new THREE.Group();
    for (const entry of view.objects) {
      const { group, meshes } = meshOf(view, entry);
      const centre = new THREE.Box3().setFromObject(group).getCenter(new THREE.Vector3());
      objects.push({ entry, group, meshes, centre });
      root.add(group);
      if (new Set(entry.keys.map((k) => k[2])).size > 1) animated = true;
    }
    scene.add(root);
    const pieces = objects.filter((o) => o.entry.piece >= 0 && o.meshes.length);
    if (pieces.length) {
      const axis = thinAxis(pieces.map((o) => new THREE.Box3().setFromObject(o.group)));
      if (axis >= 0 && pieces.length === objects.filter((o) => o.meshes.length).length) {
        flat = { axis };
        // In the order of their numbers, as the sheets are read.
        const number = (o) => numbers[o.entry.piece] ?? o.entry.piece + 1;
        if (!animated) spread([...pieces].sort((a, b) => number(a) - number(b)), axis);
      }
      for (const o of pieces) {
        o.centre = new THREE.Box3().setFromObject(o.group).getCenter(new THREE.Vector3()).sub(o.group.position);
        const span = document.createElement('span');
        span.textContent = String(numbers[o.entry.piece] ?? o.entry.piece + 1);
        labelLayer.append(span);
        labels.set(o.entry.piece, span);
      }
    }
    container.dataset.objects = String(objects.length);
    container.dataset.flat = String(!!flat);
    api.setFrame(0);
    fit();
    makeControls();
    fit();
  }

  /// The direction that is up on the screen when the view looks down `axis` from its positive
  /// side, chosen so that the other first axis runs left to right.
  function screenUp(axis) {
    return axis === 1 ? new THREE.Vector3(0, 0, -1) : new THREE.Vector3(0, 1, 0);
  }

  /// The axis along which every piece is thin, or -1.
  function thinAxis(boxes) {
    for (let axis = 0; axis < 3; ++axis) {
      const thin = boxes.every((b) => {
        const s = b.getSize(new THREE.Vector3());
        return s.getComponent(axis) <= 0.02 * Math.max(s.x, s.y, s.z);
      });
      if (thin) return axis;
    }
    return -1;
  }

  /// Flat pieces lying on each other (the stacked layout), or in one long line (many pieces side
  /// by side), are laid out in rows, in their order, that fill the view, so that each can be seen.
  function spread(pieces, axis) {
    const [u, v] = [0, 1, 2].filter((a) => a !== axis);
    const boxes = pieces.map((o) => new THREE.Box3().setFromObject(o.group));
    const overall = new THREE.Box3();
    let area = 0;
    for (const b of boxes) {
      overall.union(b);
      const s = b.getSize(new THREE.Vector3());
      area += s.getComponent(u) * s.getComponent(v);
    }
    const o = overall.getSize(new THREE.Vector3());
    const [ou, ov] = [o.getComponent(u), o.getComponent(v)];
    const aspect = Math.max(container.clientWidth, 1) / Math.max(container.clientHeight, 1);
    const stacked = area > 1.5 * ou * ov;
    const line = ou > 3 * aspect * ov || ov > 3 * ou / aspect;
    if (pieces.length < 2 || !(stacked || line)) return;
    const gap = Math.sqrt(area / pieces.length) * 0.15;
    const widest = Math.max(...boxes.map((b) => b.getSize(new THREE.Vector3()).getComponent(u)));
    const rowWidth = Math.max(widest, Math.sqrt(area * aspect) * 1.4);
    // Rows run left to right and follow each other down the screen (see screenUp).
    const down = -screenUp(axis).getComponent(v);
    let x = 0, y = 0, rowHeight = 0;
    pieces.forEach((piece, i) => {
      const s = boxes[i].getSize(new THREE.Vector3());
      if (x > 0 && x + s.getComponent(u) > rowWidth) { x = 0; y += down * (rowHeight + gap); rowHeight = 0; }
      const shift = new THREE.Vector3();
      shift.setComponent(u, x - boxes[i].min.getComponent(u));
      shift.setComponent(v, y - (down > 0 ? boxes[i].min : boxes[i].max).getComponent(v));
      shift.setComponent(axis, -boxes[i].min.getComponent(axis));
      piece.group.position.add(shift);
      x += s.getComponent(u) + gap;
      rowHeight = Math.max(rowHeight, s.getComponent(v));
    });
  }

  function fit() {
    const box = new THREE.Box3();
    for (const o of objects) if (o.group.visible || !animated) box.expandByObject(o.group);
    if (box.isEmpty()) return;
    const size = box.getSize(new THREE.Vector3());
    const centre = box.getCenter(new THREE.Vector3());
    const w = Math.max(container.clientWidth, 1), h = Math.max(container.clientHeight, 1);
    const aspect = w / h;
    if (flat) {
      // Straight above the plane of the pieces, framing them all with a little room.
      const [u, v] = [0, 1, 2].filter((a) => a !== flat.axis);
      const width = size.getComponent(u) * 1.08, height = size.getComponent(v) * 1.08;
      const halfHeight = Math.max(height, width / aspect, 1e-6) / 2;
      camera = orthographic;
      orthographic.top = halfHeight;
      orthographic.bottom = -halfHeight;
      orthographic.left = -halfHeight * aspect;
      orthographic.right = halfHeight * aspect;
      const depth = Math.max(size.length(), 1e-3);
      const direction = new THREE.Vector3().setComponent(flat.axis, 1);
      orthographic.up.copy(screenUp(flat.axis));
      orthographic.position.copy(centre).add(direction.multiplyScalar(depth * 2));
      orthographic.near = depth * 0.01;
      orthographic.far = depth * 4;
      orthographic.zoom = 1;
      orthographic.lookAt(centre);
      orthographic.updateProjectionMatrix();
    } else {
      camera = perspective;
      perspective.aspect = aspect;
      const radius = Math.max(size.length() / 2, 1e-6);
      const vertical = THREE.MathUtils.degToRad(perspective.fov / 2);
      const horizontal = Math.atan(Math.tan(vertical) * aspect);
      const distance = radius / Math.sin(Math.min(vertical, horizontal));
      perspective.near = distance / 1000;
      perspective.far = distance * 10;
      perspective.up.set(0, 1, 0);
      perspective.position.copy(centre).add(new THREE.Vector3(0.6, 0.5, 1).normalize().multiplyScalar(distance));
      perspective.updateProjectionMatrix();
    }
    if (controls && controls.object !== camera) makeControls();
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

  function paintHighlight() {
    for (const o of objects) {
      if (o.entry.piece < 0) continue;
      const on = o.entry.piece === hot;
      for (const mesh of o.meshes) {
        for (const m of Array.isArray(mesh.material) ? mesh.material : [mesh.material]) {
          m.emissive = on ? HIGHLIGHT : new THREE.Color(0);
          m.emissiveIntensity = on ? 0.75 : 0;
        }
      }
      const span = labels.get(o.entry.piece);
      if (span) span.classList.toggle('hot', on);
    }
    draw();
  }

  const api = {
    /// Shows a view of the document; `numbers` gives the printed number of each piece.
    show(view, numbers = []) {
      lastView = { view, numbers };
      if (root) {
        scene.remove(root);
        root.traverse((o) => {
          if (o.geometry) o.geometry.dispose();
          for (const m of [o.material].flat()) if (m) m.dispose();
        });
      }
      for (const t of textures.values()) t.dispose();
      textures.clear();
      root = null;
      bands = [];
      objects = [];
      animated = false;
      flat = null;
      hot = -1;
      labels.clear();
      labelLayer.replaceChildren();
      container.dataset.objects = '0';
      container.dataset.flat = 'false';
      if (!view) {
        note.hidden = false;
        note.textContent = renderer ? 'Open a model to see it here: choose its files on the left, or drop them here.'
          : 'This browser cannot show 3D (WebGL is off).';
        draw();
        return;
      }
      note.hidden = !!renderer;
      note.textContent = renderer ? '' : 'This browser cannot show 3D (WebGL is off); the counts and the pattern are below.';
      time = view.time;
      build(view, numbers);
      draw();
    },
    /// Piece colours, or the materials with their textures.
    useMaterials(on) {
      useMaterials = on;
      if (lastView) api.show(lastView.view, lastView.numbers);
    },
    onPick(callback) { picked = callback; },
    /// Called with {piece, triangle, side} when a side of a piece's triangle is clicked.
    onEdge(callback) { edgePicked = callback; },
    /// Marks copies of edges ([{piece, triangle, side, colour}]; empty: none).
    markEdges(list) {
      if (!list.length && !bands.length) {
        container.dataset.markedEdges = '0';
        return;
      }
      for (const m of bands) {
        m.parent?.remove(m);
        m.geometry.dispose();
        m.material.dispose();
      }
      bands = [];
      if (root) {
        const all = new THREE.Box3().setFromObject(root);
        const width = all.getSize(new THREE.Vector3()).length() / 250;
        for (const e of list) {
          const o = objects.find((x) => x.entry.piece === e.piece);
          if (!o || !o.entry.triangles || (e.triangle + 1) * 3 > o.entry.triangles.length) continue;
          const m = band(o, e.triangle, e.side, width, e.colour);
          o.group.add(m);
          bands.push(m);
        }
      }
      container.dataset.markedEdges = String(bands.length);
      draw();
    },
    /// Highlights a piece (its index in the pattern; -1: none).
    highlight(piece) {
      container.dataset.highlighted = String(piece);
      if (piece === hot) return;
      hot = piece;
      paintHighlight();
    },
    /// Draws wait until `until` settles or `most` milliseconds have passed: what else the page
    /// shows at the same time (the list of sheets) is not kept waiting behind a draw.
    holdDraws(until, most) {
      held = Promise.race([until, new Promise((done) => setTimeout(done, most))]).catch(() => {});
    },
    /// Resolves once the draws asked for so far are made.
    drawn() {
      return renderer && queued ? new Promise((done) => waiting.push(done)) : Promise.resolve();
    },
    animated: () => animated,
    fps: () => Math.max(1, time.fps),
    frameCount() {
      const [a, b] = time.minimum, [c, d] = time.maximum;
      const frames = Math.floor(((c / d) - (a / b)) * time.fps + 1e-9) + 1;
      return Math.max(1, Math.min(frames, 100000));
    },
    /// Shows the objects visible at the frame; the pattern indices of the visible pieces.
    setFrame(frame) {
      const t = frameTime(frame);
      const visible = new Array(objects.length);
      const shown = [];
      objects.forEach((o, i) => {
        const v = keyValue(o.entry.keys, t, o.entry.visibility);
        visible[i] = v === ON ? true : v === OFF ? false : (o.entry.parent >= 0 ? visible[o.entry.parent] : true);
        o.group.visible = visible[i];
        if (visible[i] && o.entry.piece >= 0) shown.push(o.entry.piece);
      });
      container.dataset.visiblePieces = String(shown.length);
      container.dataset.frame = String(frame);
      draw();
      return shown;
    },
  };
  return api;
}
