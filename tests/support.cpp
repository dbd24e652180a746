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

std::unique_ptr<scene::Object> hills(int n) {
  std::vector<V> p;
  std::vector<std::vector<int>> f;
  const double tau = 6.283185307179586;
  for (int j = 0; j <= n; ++j) {
    for (int i = 0; i <= n; ++i) {
      const double u = static_cast<double>(i) / n, v = static_cast<double>(j) / n;
      const double height = 0.03 * n * (std::sin(tau * 2 * u) * std::cos(tau * 1.5 * v) + 0.5 * std::sin(tau * 3 * (u + v)));
      p.push_back({1.0 * i, 1.0 * j, height});
    }
  }
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      const int a = j * (n + 1) + i;
      f.push_back({a, a + 1, a + n + 2, a + n + 1});
    }
  }
  return polygonObject("Hills", p, f);
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

std::unique_ptr<scene::Object> saddle(double degrees, int triangles, double radius) {
  const double pi = 3.14159265358979323846;
  // Ring points at heights +h and -h in turn: the angle at the corner between two of them is
  // alpha with cos alpha = (r^2 cos(2 pi / n) - h^2) / (r^2 + h^2); h gives the wanted sum.
  const double step = 2 * pi / triangles;
  const double alpha = degrees * pi / 180 / triangles;
  const double h = radius * std::sqrt((std::cos(step) - std::cos(alpha)) / (1 + std::cos(alpha)));
  std::vector<V> p = {{0, 0, 0}};
  std::vector<std::vector<int>> f;
  for (int k = 0; k < triangles; ++k) {
    p.push_back({radius * std::cos(k * step), radius * std::sin(k * step), k % 2 ? -h : h});
    f.push_back({0, 1 + k, 1 + (k + 1) % triangles});
  }
  return polygonObject("Saddle", p, f);
}

std::unique_ptr<scene::Object> cone(int triangles, double radius, double height) {
  const double pi = 3.14159265358979323846;
  std::vector<V> p = {{0, 0, height}};
  std::vector<std::vector<int>> f;
  for (int k = 0; k < triangles; ++k) {
    p.push_back({radius * std::cos(2 * pi * k / triangles), radius * std::sin(2 * pi * k / triangles), 0});
    f.push_back({0, 1 + k, 1 + (k + 1) % triangles});
  }
  return polygonObject("Cone", p, f);
}

std::unique_ptr<scene::Object> moebius(int around, double radius, double width) {
  const double pi = 3.14159265358979323846;
  std::vector<V> p;
  std::vector<std::vector<int>> f;
  for (int i = 0; i < around; ++i) {
    const double u = 2 * pi * i / around;
    for (const double s : {-0.5, 0.5}) {
      const double r = radius + s * width * std::cos(u / 2);
      p.push_back({r * std::cos(u), r * std::sin(u), s * width * std::sin(u / 2)});
    }
  }
  for (int i = 0; i < around; ++i) {
    const int a = 2 * i, b = 2 * i + 1;
    // After a full turn the strip comes back upside down: its inner edge meets the outer one.
    const int c = i + 1 < around ? 2 * (i + 1) : 1, d = i + 1 < around ? 2 * (i + 1) + 1 : 0;
    f.push_back({a, c, d, b});
  }
  return polygonObject("Moebius", p, f);
}

std::unique_ptr<scene::Object> withTurnedFaces(std::unique_ptr<scene::Object> object, unsigned seed, double share) {
  std::mt19937 random(seed);
  for (auto& q : object->polygons) {
    if (static_cast<double>(random()) / 4294967295.0 >= share) continue;
    q = scene::isTriangle(q) ? scene::Polygon{q.c, q.b, q.a, q.a} : scene::Polygon{q.d, q.c, q.b, q.a};
  }
  object->name += " turned";
  return object;
}

// ---- The mesh suite -----------------------------------------------------------------------------

const char* kindName(MeshKind kind) {
  switch (kind) {
    case MeshKind::Closed: return "closed";
    case MeshKind::Open: return "open";
    case MeshKind::NonManifold: return "non-manifold";
    case MeshKind::Flat: return "flat";
    case MeshKind::Broken: return "broken";
  }
  return "?";
}

std::vector<MeshCase> meshSuite() {
  using K = MeshKind;
  std::vector<MeshCase> suite = {
      {"tetrahedron", K::Closed, [] { return tetrahedron(); }},
      {"cube", K::Closed, [] { return cube(); }},
      {"icosphere1", K::Closed, [] { return icosphere(1); }},
      {"icosphere2", K::Closed, [] { return icosphere(2); }},
      {"torus", K::Closed, [] { return torus(16, 8); }},
      {"star prism", K::Closed, [] { return starPrism(); }},
      {"sharp star prism", K::Closed, [] { return starPrism(5, 1, 10); }},
      {"bumpy sphere 1", K::Closed, [] { return bumpySphere(1); }},
      {"bumpy sphere 2", K::Closed, [] { return bumpySphere(2); }},
      {"bumpy sphere 3", K::Closed, [] { return bumpySphere(3, 3); }},
      {"grid", K::Flat, [] { return grid(6, 4); }},
      {"open cylinder", K::Open, [] { return openCylinder(12, 3); }},
      {"terrain", K::Open, [] { return terrain(5, 6); }},
      {"moebius strip", K::Open, [] { return moebius(); }},
      {"non-manifold edge", K::NonManifold, [] { return nonManifold(); }},
      {"soup 1", K::Broken, [] { return randomSoup(1, 60); }},
      {"soup 2", K::Broken, [] { return randomSoup(2, 90); }},
      {"soup 3", K::Broken, [] { return randomSoup(3, 120); }},
  };
  // Corners that close almost exactly: the wedge left over is 0.17 to 17 thousandths of a unit
  // wide at the rim.
  for (const double degrees : {360.01, 360.05, 360.2, 360.44, 361.0}) {
    for (const int triangles : {6, 8, 12}) {
      suite.push_back({"saddle " + std::to_string(triangles) + " of " + std::to_string(degrees), K::Open,
                       [=] { return saddle(degrees, triangles); }});
    }
  }
  // Faces wound the other way.
  for (unsigned seed = 1; seed <= 3; ++seed) {
    suite.push_back({"turned icosphere " + std::to_string(seed), K::Closed, [=] { return withTurnedFaces(icosphere(1), seed); }});
    suite.push_back({"turned bumpy sphere " + std::to_string(seed), K::Closed,
                     [=] { return withTurnedFaces(bumpySphere(seed + 3), seed); }});
    suite.push_back({"turned torus " + std::to_string(seed), K::Closed, [=] { return withTurnedFaces(torus(12, 6), seed); }});
    suite.push_back({"turned open cylinder " + std::to_string(seed), K::Open,
                     [=] { return withTurnedFaces(openCylinder(12, 3), seed); }});
    suite.push_back({"turned terrain " + std::to_string(seed), K::Open, [=] { return withTurnedFaces(terrain(seed, 6), seed); }});
    suite.push_back({"turned grid " + std::to_string(seed), K::Flat, [=] { return withTurnedFaces(grid(6, 4), seed); }});
    suite.push_back({"turned moebius strip " + std::to_string(seed), K::Open, [=] { return withTurnedFaces(moebius(), seed); }});
    suite.push_back({"turned saddle " + std::to_string(seed), K::Open, [=] { return withTurnedFaces(saddle(360.3, 10), seed, 0.5); }});
  }
  return suite;
}

std::vector<MeshCase> meshSuite(MeshKind kind) {
  std::vector<MeshCase> out;
  for (MeshCase& mesh : meshSuite()) {
    if (mesh.kind == kind) out.push_back(std::move(mesh));
  }
  return out;
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

}  // namespace testing_support
