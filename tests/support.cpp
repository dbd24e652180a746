#include "support.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "geometry/kernel.h"
#include "host/host.h"
#include "intake/intake.h"
#include "unfold/unfold.h"

namespace testing_support {

using foldra::gt;
using foldra::Vec3;

namespace {

struct V {
  double x, y, z;
};

std::unique_ptr<scene::Object> polygonObject(const std::string& name, const std::vector<V>& points,
                                             const std::vector<std::vector<int>>& faces) {
  auto o = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  o->name = name;
  o->selected = true;
  for (const V& p : points) o->points.push_back({static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)});
  for (const auto& f : faces) {
    o->polygons.push_back({f[0], f[1], f[2], f.size() > 3 ? f[3] : f[2]});
  }
  return o;
}

V sub(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V crossV(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double dotV(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

/// Turns every face so that its normal points away from `centre(face centroid)`.
void orient(std::vector<V>& points, std::vector<std::vector<int>>& faces, const std::function<V(V)>& centre) {
  for (auto& f : faces) {
    V c{0, 0, 0};
    for (int i : f) {
      c.x += points[static_cast<std::size_t>(i)].x / static_cast<double>(f.size());
      c.y += points[static_cast<std::size_t>(i)].y / static_cast<double>(f.size());
      c.z += points[static_cast<std::size_t>(i)].z / static_cast<double>(f.size());
    }
    const V n = crossV(sub(points[static_cast<std::size_t>(f[1])], points[static_cast<std::size_t>(f[0])]),
                       sub(points[static_cast<std::size_t>(f[2])], points[static_cast<std::size_t>(f[0])]));
    if (dotV(n, sub(c, centre(c))) < 0) std::reverse(f.begin(), f.end());
  }
}

V origin(V) { return {0, 0, 0}; }

void icosphereData(int levels, double radius, std::vector<V>& points, std::vector<std::vector<int>>& faces) {
  const double t = (1 + std::sqrt(5.0)) / 2;
  points = {{-1, t, 0}, {1, t, 0}, {-1, -t, 0}, {1, -t, 0}, {0, -1, t}, {0, 1, t},
            {0, -1, -t}, {0, 1, -t}, {t, 0, -1}, {t, 0, 1}, {-t, 0, -1}, {-t, 0, 1}};
  faces = {{0, 11, 5}, {0, 5, 1}, {0, 1, 7}, {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
           {11, 10, 2}, {10, 7, 6}, {7, 1, 8}, {3, 9, 4}, {3, 4, 2}, {3, 2, 6}, {3, 6, 8},
           {3, 8, 9}, {4, 9, 5}, {2, 4, 11}, {6, 2, 10}, {8, 6, 7}, {9, 8, 1}};
  for (int level = 0; level < levels; ++level) {
    std::map<std::pair<int, int>, int> middle;
    auto mid = [&](int a, int b) {
      auto key = std::minmax(a, b);
      auto it = middle.find(key);
      if (it != middle.end()) return it->second;
      const V& p = points[static_cast<std::size_t>(a)];
      const V& q = points[static_cast<std::size_t>(b)];
      points.push_back({(p.x + q.x) / 2, (p.y + q.y) / 2, (p.z + q.z) / 2});
      const int index = static_cast<int>(points.size() - 1);
      middle[key] = index;
      return index;
    };
    std::vector<std::vector<int>> next;
    for (const auto& f : faces) {
      const int a = mid(f[0], f[1]), b = mid(f[1], f[2]), c = mid(f[2], f[0]);
      next.push_back({f[0], a, c});
      next.push_back({f[1], b, a});
      next.push_back({f[2], c, b});
      next.push_back({a, b, c});
    }
    faces = std::move(next);
  }
  for (V& p : points) {
    const double l = std::sqrt(dotV(p, p));
    p = {p.x / l * radius, p.y / l * radius, p.z / l * radius};
  }
}

}  // namespace

std::unique_ptr<scene::Object> tetrahedron(double size) {
  std::vector<V> p = {{size, size, size}, {-size, -size, size}, {-size, size, -size}, {size, -size, -size}};
  std::vector<std::vector<int>> f = {{0, 1, 2}, {0, 1, 3}, {0, 2, 3}, {1, 2, 3}};
  orient(p, f, origin);
  return polygonObject("Tetrahedron", p, f);
}

std::unique_ptr<scene::Object> cube(double size) {
  const double h = size / 2;
  std::vector<V> p = {{-h, -h, -h}, {h, -h, -h}, {h, h, -h}, {-h, h, -h},
                      {-h, -h, h}, {h, -h, h}, {h, h, h}, {-h, h, h}};
  std::vector<std::vector<int>> f = {{0, 1, 2, 3}, {4, 5, 6, 7}, {0, 1, 5, 4}, {2, 3, 7, 6}, {1, 2, 6, 5}, {0, 3, 7, 4}};
  orient(p, f, origin);
  return polygonObject("Cube", p, f);
}

std::unique_ptr<scene::Object> icosphere(int levels, double radius) {
  std::vector<V> p;
  std::vector<std::vector<int>> f;
  icosphereData(levels, radius, p, f);
  orient(p, f, origin);
  return polygonObject("Icosphere", p, f);
}

std::unique_ptr<scene::Object> torus(int around, int tube, double major, double minor) {
  std::vector<V> p;
  std::vector<std::vector<int>> f;
  const double pi = 3.14159265358979323846;
  for (int i = 0; i < around; ++i) {
    for (int j = 0; j < tube; ++j) {
      const double u = 2 * pi * i / around, v = 2 * pi * j / tube;
      p.push_back({(major + minor * std::cos(v)) * std::cos(u), (major + minor * std::cos(v)) * std::sin(u), minor * std::sin(v)});
    }
  }
  auto at = [&](int i, int j) { return (i % around) * tube + (j % tube); };
  for (int i = 0; i < around; ++i) {
    for (int j = 0; j < tube; ++j) f.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
  }
  orient(p, f, [&](V c) {
    const double l = std::sqrt(c.x * c.x + c.y * c.y);
    return V{c.x / l * major, c.y / l * major, 0};
  });
  return polygonObject("Torus", p, f);
}

std::unique_ptr<scene::Object> grid(int nx, int ny, double cell) {
  std::vector<V> p;
  std::vector<std::vector<int>> f;
  for (int j = 0; j <= ny; ++j) {
    for (int i = 0; i <= nx; ++i) p.push_back({i * cell, j * cell, 0});
  }
  for (int j = 0; j < ny; ++j) {
    for (int i = 0; i < nx; ++i) {
      const int a = j * (nx + 1) + i;
      f.push_back({a, a + 1, a + nx + 2, a + nx + 1});
    }
  }
  return polygonObject("Grid", p, f);
}

std::unique_ptr<scene::Object> openCylinder(int around, int rings, double radius, double height) {
  std::vector<V> p;
  std::vector<std::vector<int>> f;
  const double pi = 3.14159265358979323846;
  for (int j = 0; j <= rings; ++j) {
    for (int i = 0; i < around; ++i) {
      const double a = 2 * pi * i / around;
      p.push_back({radius * std::cos(a), radius * std::sin(a), height * j / rings});
    }
  }
  for (int j = 0; j < rings; ++j) {
    for (int i = 0; i < around; ++i) {
      f.push_back({j * around + i, j * around + (i + 1) % around, (j + 1) * around + (i + 1) % around, (j + 1) * around + i});
    }
  }
  orient(p, f, [](V c) { return V{0, 0, c.z}; });
  return polygonObject("Cylinder", p, f);
}

std::unique_ptr<scene::Object> starPrism(int tips, double inner, double outer, double height) {
  std::vector<V> p;
  std::vector<std::vector<int>> f;
  const double pi = 3.14159265358979323846;
  const int n = 2 * tips;
  for (int z = 0; z < 2; ++z) {
    for (int i = 0; i < n; ++i) {
      const double a = 2 * pi * i / n;
      const double r = i % 2 ? inner : outer;
      p.push_back({r * std::cos(a), r * std::sin(a), z * height});
    }
    p.push_back({0, 0, z * height});
  }
  const int bottom = n, top = 2 * n + 1;
  for (int i = 0; i < n; ++i) {
    const int j = (i + 1) % n;
    f.push_back({bottom, j, i});
    f.push_back({top, n + 1 + i, n + 1 + j});
    f.push_back({i, j, n + 1 + j, n + 1 + i});
  }
  return polygonObject("Star", p, f);
}

std::unique_ptr<scene::Object> nonManifold() {
  std::vector<V> p = {{0, 0, 0}, {4, 0, 0}, {2, 4, 0}, {2, -2, 3}, {2, -2, -3}, {5, 3, 1}};
  std::vector<std::vector<int>> f = {{0, 1, 2}, {1, 0, 3}, {0, 1, 4}, {1, 5, 2}};
  return polygonObject("NonManifold", p, f);
}

std::unique_ptr<scene::Object> bumpySphere(unsigned seed, int levels, double radius, double bump) {
  std::vector<V> p;
  std::vector<std::vector<int>> f;
  icosphereData(levels, radius, p, f);
  std::mt19937 random(seed);
  for (V& q : p) {
    // mt19937's output is the same on every platform; distributions are not.
    const double factor = 1.0 + bump * (static_cast<double>(random()) / 4294967295.0 - 0.5);
    q = {q.x * factor, q.y * factor, q.z * factor};
  }
  orient(p, f, origin);
  return polygonObject("Bumpy", p, f);
}

std::unique_ptr<scene::Object> terrain(unsigned seed, int n) {
  std::mt19937 random(seed);
  std::vector<V> p;
  std::vector<std::vector<int>> f;
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) p.push_back({1.0 * i, 1.0 * j, static_cast<double>(random() % 4) * 0.25});
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      const int a = j * (n + 1) + i;
      f.push_back({a, a + 1, a + n + 2, a + n + 1});
    }
  }
  return polygonObject("Terrain", p, f);
}

std::unique_ptr<scene::Object> randomSoup(unsigned seed, int faces) {
  std::mt19937 random(seed);
  auto uniform = [&] { return static_cast<double>(random()) / 4294967295.0; };
  std::vector<V> p;
  const int points = std::max(4, faces / 2 + 3);
  for (int i = 0; i < points; ++i) {
    if (i > 0 && random() % 10 == 0) {
      p.push_back(p[random() % p.size()]);  // a repeated point
    } else {
      p.push_back({10 * uniform(), 10 * uniform(), (random() % 3 == 0) ? 0.0 : 4 * uniform()});
    }
  }
  std::vector<std::vector<int>> f;
  for (int i = 0; i < faces; ++i) {
    // Corners near each other in the list, so that faces share points and edges.
    const int base = static_cast<int>(random() % static_cast<unsigned>(points));
    auto near = [&] { return (base + static_cast<int>(random() % 5)) % points; };
    if (!f.empty() && random() % 12 == 0) {
      f.push_back(f[random() % f.size()]);  // a duplicate face
      continue;
    }
    std::vector<int> face = {base, near(), near()};
    if (random() % 3 == 0) face.push_back(near());
    f.push_back(face);
  }
  return polygonObject("Soup", p, f);
}

// ---- Host ------------------------------------------------------------------------------------

std::string moduleFolder() { return FOLDRA_MODULE_DIR; }
std::string modulePath() { return std::string(FOLDRA_MODULE_DIR) + "/Foldra_C4d.cdl"; }
std::string sharedMeshes() {
  std::error_code ec;
  return std::filesystem::is_directory(FOLDRA_SHARED_MESHES, ec) ? std::string(FOLDRA_SHARED_MESHES) : std::string();
}

LinkedHost::LinkedHost() {
  sdk::HostInterface& operations = host.interfaceFor(moduleFolder());
  operations.loadResources(moduleFolder());
  foldra::host::install(&operations);
}

LinkedHost::~LinkedHost() {
  foldra::releaseCopyDocuments();
  foldra::clearContainers();
  foldra::clearTriangleLists();
  foldra::settings = foldra::Settings{};
  foldra::run.activeDocument = nullptr;
  foldra::host::install(nullptr);
}

scene::Object* LinkedHost::add(std::unique_ptr<scene::Object> object) { return document().append(std::move(object)); }

bool LinkedHost::unfold(const foldra::Settings& s) {
  foldra::settings = s;
  foldra::run.activeDocument = foldra::host::api().activeDocument();
  return foldra::unfoldSelection();
}

void LinkedHost::execute(const foldra::Settings& s) {
  foldra::settings = s;
  auto& api = foldra::host::api();
  foldra::run.activeDocument = api.activeDocument();
  api.startUndo(foldra::run.activeDocument);
  foldra::Execute();
  api.endUndo(foldra::run.activeDocument);
}

// ---- Checker ---------------------------------------------------------------------------------

namespace {

bool degenerate(const gt& t) { return t.normal == Vec3{}; }

std::string name(const gt& t) {
  return "triangle " + std::to_string(t.objectIndex) + "/" + std::to_string(t.serial);
}

/// The flat triangles that make up g's tabs.
std::vector<std::array<Vec3, 3>> tabTriangles(const gt& g) {
  std::vector<std::array<Vec3, 3>> out;
  for (int k = 0; k < 3; ++k) {
    if (!g.placedLugs[k][0]) continue;
    const Vec3 L0 = *g.placedLugs[k][0];
    const Vec3 L1 = *g.placedLugs[k][1];
    out.push_back({g.p[(k + 1) % 3], g.p[k], L0});
    out.push_back({g.p[k], L1, L0});
  }
  return out;
}

/// True when the interiors of two flat triangles overlap by more than rounding: separating axes
/// on the triangles shrunk towards their centres by a millionth of their size, and at least by
/// twice the point tolerance (below which the unfolding does not tell points apart). The
/// unfolding's own predicate also answers true for triangles that only touch along nearly
/// collinear sides; an overlap is reported when both say so.
bool interiorsOverlap(std::array<Vec3, 3> a, std::array<Vec3, 3> b) {
  auto shrink = [](std::array<Vec3, 3>& t) {
    const Vec3 c = (t[0] + t[1] + t[2]) / 3.0;
    const double size = std::max({foldra::length(t[1] - t[0]), foldra::length(t[2] - t[1]), foldra::length(t[0] - t[2])});
    if (!(size > 0)) return false;
    const double f = std::max(0.0, 1.0 - std::max(1e-6, 2 * foldra::kPointTolerance / size));
    for (Vec3& p : t) p = c + f * (p - c);
    return f > 0;
  };
  if (!shrink(a) || !shrink(b)) return false;
  for (const auto* t : {&a, &b}) {
    for (int k = 0; k < 3; ++k) {
      const Vec3 p = (*t)[static_cast<std::size_t>(k)];
      const Vec3 q = (*t)[static_cast<std::size_t>((k + 1) % 3)];
      const double nx = q.y - p.y, ny = p.x - q.x;
      double minA = 1e300, maxA = -1e300, minB = 1e300, maxB = -1e300;
      for (const Vec3& v : a) {
        minA = std::min(minA, nx * v.x + ny * v.y);
        maxA = std::max(maxA, nx * v.x + ny * v.y);
      }
      for (const Vec3& v : b) {
        minB = std::min(minB, nx * v.x + ny * v.y);
        maxB = std::max(maxB, nx * v.x + ny * v.y);
      }
      if (maxA <= minB || maxB <= minA) return false;
    }
  }
  return true;
}

/// The unfolding's predicate and the separating axes agree that two flat triangles overlap.
bool overlap(const gt& g, const std::array<Vec3, 3>& a, const std::array<Vec3, 3>& b) {
  return g.triangleschnitt2d(a[0], a[1], a[2], b[0], b[1], b[2]) && interiorsOverlap(a, b);
}

struct Bounds {
  double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
  void add(Vec3 q) {
    minX = std::min(minX, q.x), minY = std::min(minY, q.y), maxX = std::max(maxX, q.x), maxY = std::max(maxY, q.y);
  }
  bool meets(const Bounds& o) const { return minX < o.maxX && o.minX < maxX && minY < o.maxY && o.minY < maxY; }
};

/// Whether a tab of width w on side k of t could stand in its piece: its outline (built here
/// from the side and the third corner, independently of the unfolding) reaches no box of another
/// part of the piece, and with a page the piece still fits. A tab that can stand is never
/// dropped, so an edge without a tab needs both of its sides to answer false.
bool tabCouldStand(const gt& t, int k, double w, const CheckOptions& options) {
  const Vec3 A = t.p[k], B = t.p[(k + 1) % 3], C = t.p[(k + 2) % 3];
  const double l = foldra::length(B - A);
  if (!(l > 0) || !(w > 0)) return false;
  const Vec3 e = (B - A) / l;
  Vec3 out{-e.y, e.x, 0};
  if (foldra::dot(out, C - A) > 0) out = -1.0 * out;
  Bounds tab;
  for (Vec3 q : {A, B, A + w * out, B + w * out}) tab.add(q);
  // Parts that only touch the outline do not overlap the tab: the outline is taken in by less
  // than the depth the unfolding tolerates.
  Bounds inner = tab;
  inner.minX += 1e-6, inner.minY += 1e-6, inner.maxX -= 1e-6, inner.maxY -= 1e-6;
  const foldra::gtc& piece = *foldra::run.containers[static_cast<std::size_t>(t.containerIndex)];
  for (const gt* g : piece.triangles) {
    Bounds b;
    if (g != &t) {
      for (const Vec3& q : g->p) b.add(q);
      if (!degenerate(*g) && b.meets(inner)) return false;
    }
    for (const auto& part : tabTriangles(*g)) {
      Bounds c;
      for (const Vec3& q : part) c.add(q);
      if (c.meets(inner)) return false;
    }
  }
  if (options.pageLimit) {
    const double width = std::max(piece.box.maxX, tab.maxX) - std::min(piece.box.minX, tab.minX);
    const double height = std::max(piece.box.maxY, tab.maxY) - std::min(piece.box.minY, tab.minY);
    if (width > options.pageWidth || height > options.pageHeight) return false;
  }
  return true;
}

}  // namespace

int validPieces() {
  int n = 0;
  for (const auto& c : foldra::run.containers) n += c->valid ? 1 : 0;
  return n;
}

std::vector<std::string> checkUnfolding(const CheckOptions& options) {
  std::vector<std::string> failures;
  auto fail = [&](const std::string& what) {
    if (failures.size() < 20) failures.push_back(what);
  };
  const auto& containers = foldra::run.containers;
  std::set<const gt*> listed;
  for (std::size_t i = 0; i < containers.size(); ++i) {
    if (!containers[i]->valid) continue;
    for (const gt* t : containers[i]->triangles) {
      if (t->containerIndex != static_cast<int>(i)) fail(name(*t) + " is listed by piece " + std::to_string(i) + " but names " + std::to_string(t->containerIndex));
      if (!listed.insert(t).second) fail(name(*t) + " is listed twice");
    }
  }
  // How far each piece reaches from its origin. A piece's members are carried through the frames
  // of the pieces it was joined from, so with huge coordinates a member is placed no closer than
  // the rounding at the piece's reach, even where it ends near the origin.
  std::vector<double> reach(containers.size(), 0.0);
  for (std::size_t i = 0; i < containers.size() && !options.precise; ++i) {
    if (!containers[i]->valid) continue;
    for (const gt* t : containers[i]->triangles) {
      for (const Vec3& p : t->p) reach[i] = std::max({reach[i], std::fabs(p.x), std::fabs(p.y)});
    }
  }
  for (const auto& list : foldra::run.gtvec) {
    for (const auto& t : list) {
      if (!t->usable) continue;
      if (!listed.count(t.get())) fail(name(*t) + " is in no valid piece");
      // Side lengths are compared relative to the triangle's longest side: placing a sliver next
      // to a side of 1e30 cannot keep its short side to more digits than the long one has.
      double longest = 1.0;
      for (int k = 0; k < 3; ++k) longest = std::max(longest, foldra::length(t->P[(k + 1) % 3] - t->P[k]));
      const int piece = t->containerIndex;
      if (!options.precise && piece >= 0 && static_cast<std::size_t>(piece) < reach.size()) {
        longest = std::max(longest, reach[static_cast<std::size_t>(piece)]);
      }
      for (int k = 0; k < 3; ++k) {
        if (!foldra::isFinite(t->p[k])) fail(name(*t) + " has a flat corner that is not finite");
        const double flat = foldra::length(t->p[(k + 1) % 3] - t->p[k]);
        const double space = foldra::length(t->P[(k + 1) % 3] - t->P[k]);
        if (std::fabs(flat - space) > 1e-9 * std::max({flat, longest})) {
          fail(name(*t) + " side " + std::to_string(k) + " is " + std::to_string(flat) + " flat but " + std::to_string(space) + " in space");
        }
        const bool tab = t->placedLugs[k][0].has_value();
        if (tab != t->Lugs[k][0].has_value()) fail(name(*t) + " has a tab in one frame only");
        if (tab && (!foldra::isFinite(*t->placedLugs[k][0]) || !foldra::isFinite(*t->placedLugs[k][1]))) {
          fail(name(*t) + " has a tab corner that is not finite");
        }
        const gt* g = t->nb[k];
        const int s = t->nbedge[k];
        if (!g || s < 0) {
          if (tab) fail(name(*t) + " has a tab on an open edge");
          continue;
        }
        // A fold is told by its corners lying within the point tolerance of each other; in a
        // piece that reaches far beyond what doubles resolve to that tolerance, the corners of
        // small triangles round onto each other and every side looks like a fold.
        if (foldra::isFold(*t, k)) {
          if (tab && options.precise) fail(name(*t) + " has a tab on a fold");
          continue;
        }
        if (options.tabs && options.precise && !degenerate(*t) && !degenerate(*g) && t->serial < g->serial) {
          const bool other = g->placedLugs[s][0].has_value();
          if (tab && other) fail(name(*t) + " side " + std::to_string(k) + ": a cut edge with two tabs");
          // The narrowest tab the unfolding tries is half of what the other triangle's height
          // allows; in the compact method a third of the tab width, on an edge long enough for
          // it between ends of at most 75 degrees and at most the partner's corners.
          double wt = std::min(foldra::settings.Laschenbreite, g->height[s]) / 2;
          double wg = std::min(foldra::settings.Laschenbreite, t->height[k]) / 2;
          if (options.compact) {
            const double useful = foldra::settings.Laschenbreite / 3;
            const double side = foldra::length(t->P[(k + 1) % 3] - t->P[k]);
            auto deepest = [&](double a, double b) {
              const double steepest = 75 * std::acos(-1.0) / 180;
              a = std::min(a, steepest), b = std::min(b, steepest);
              return side / (1 / std::tan(a) + 1 / std::tan(b));
            };
            // t's corner k is g's corner s + 1.
            wt = deepest(g->angle[(s + 1) % 3], g->angle[s]) >= useful ? useful : 0;
            wg = deepest(t->angle[k], t->angle[(k + 1) % 3]) >= useful ? useful : 0;
          }
          if (!tab && !other && (tabCouldStand(*t, k, wt, options) || tabCouldStand(*g, s, wg, options))) {
            fail(name(*t) + " side " + std::to_string(k) + ": a cut edge with no tab, though one could stand");
          }
        }
        if (!options.tabs && tab) fail(name(*t) + " has a tab though tabs are off");
      }
    }
  }
  for (std::size_t i = 0; i < containers.size(); ++i) {
    const foldra::gtc& c = *containers[i];
    if (!c.valid) continue;
    const auto& members = c.triangles;
    for (std::size_t a = 0; a < members.size() && options.precise; ++a) {
      const gt& u = *members[a];
      const auto uTabs = tabTriangles(u);
      for (const auto& tab : uTabs) {
        if (overlap(u, tab, {u.p[0], u.p[1], u.p[2]})) fail("piece " + std::to_string(i) + ": a tab of " + name(u) + " lies on its own triangle");
      }
      for (std::size_t b = 0; b < members.size(); ++b) {
        if (a == b) continue;
        const gt& g = *members[b];
        const bool joined = u.isneighbor(g) && foldra::countSharedCorners(u, g, foldra::Placement{}) == 2;
        // A triangle without area covers no paper: it overlaps nothing.
        const std::array<Vec3, 3> gFlat{g.p[0], g.p[1], g.p[2]};
        if (a < b && !joined && !degenerate(u) && !degenerate(g) && overlap(g, {u.p[0], u.p[1], u.p[2]}, gFlat)) {
          fail("piece " + std::to_string(i) + ": " + name(u) + " overlaps " + name(g));
        }
        for (const auto& tab : uTabs) {
          if (overlap(g, tab, gFlat)) {
            fail("piece " + std::to_string(i) + ": a tab of " + name(u) + " overlaps " + name(g));
          }
          if (a < b) {
            for (const auto& other : tabTriangles(g)) {
              if (overlap(g, tab, other)) {
                fail("piece " + std::to_string(i) + ": a tab of " + name(u) + " overlaps a tab of " + name(g));
              }
            }
          }
        }
      }
    }
    // A single triangle larger than the page cannot be helped: only joins are refused.
    if (options.pageLimit && members.size() > 1) {
      if (c.box.maxX - c.box.minX > options.pageWidth + 1e-9 || c.box.maxY - c.box.minY > options.pageHeight + 1e-9) {
        fail("piece " + std::to_string(i) + " is " + std::to_string(c.box.maxX - c.box.minX) + " x " + std::to_string(c.box.maxY - c.box.minY) + ", larger than the page");
      }
    }
  }
  return failures;
}

}  // namespace testing_support
