// Geometry the host makes itself: triangulation of polygon objects and the polygon forms of the
// parametric primitives.
#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>
#include <numbers>

#include "scene/object.h"

namespace scene {

namespace {

struct V {
  double x, y, z;
};
V vec(const Point& p) { return {p.x, p.y, p.z}; }
V sub(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V cross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

/// True when cutting the quadrangle along a-c keeps both halves facing the quadrangle's way.
bool diagonalACIsSafe(const std::vector<Point>& pts, const Polygon& q) {
  const auto n = static_cast<std::int32_t>(pts.size());
  for (std::int32_t i : {q.a, q.b, q.c, q.d}) {
    if (i < 0 || i >= n) return true;
  }
  const V a = vec(pts[static_cast<std::size_t>(q.a)]), b = vec(pts[static_cast<std::size_t>(q.b)]);
  const V c = vec(pts[static_cast<std::size_t>(q.c)]), d = vec(pts[static_cast<std::size_t>(q.d)]);
  // Newell's normal of the quadrangle.
  V normal{0, 0, 0};
  const V ring[4] = {a, b, c, d};
  for (int i = 0; i < 4; ++i) {
    const V& u = ring[i];
    const V& w = ring[(i + 1) % 4];
    normal.x += (u.y - w.y) * (u.z + w.z);
    normal.y += (u.z - w.z) * (u.x + w.x);
    normal.z += (u.x - w.x) * (u.y + w.y);
  }
  const double first = dot(cross(sub(b, a), sub(c, a)), normal);
  const double second = dot(cross(sub(c, a), sub(d, a)), normal);
  if (first > 0 && second > 0) return true;
  // b-d is the better cut only when it really keeps both halves the right way round.
  const double third = dot(cross(sub(b, a), sub(d, a)), normal);
  const double fourth = dot(cross(sub(c, b), sub(d, b)), normal);
  return !(third > 0 && fourth > 0);
}

}  // namespace

std::vector<TriangleOrigin> triangleOrigins(const Object& object) {
  std::vector<TriangleOrigin> origins;
  origins.reserve(object.polygons.size() * 2);
  for (std::size_t k = 0; k < object.polygons.size(); ++k) {
    const Polygon& q = object.polygons[k];
    if (isTriangle(q)) {
      origins.push_back({k, {0, 1, 2}});
    } else if (diagonalACIsSafe(object.points, q)) {
      origins.push_back({k, {0, 1, 2}});
      origins.push_back({k, {0, 2, 3}});
    } else {
      origins.push_back({k, {0, 1, 3}});
      origins.push_back({k, {1, 2, 3}});
    }
  }
  return origins;
}

std::int32_t sourceEdge(const Object& object, const std::vector<TriangleOrigin>& origins, std::size_t t, int j) {
  if (t >= origins.size() || j < 0 || j > 2) return -1;
  const TriangleOrigin& o = origins[t];
  const int sides = isTriangle(object.polygons[o.polygon]) ? 3 : 4;
  const int from = o.corners[j], to = o.corners[(j + 1) % 3];
  if ((from + 1) % sides != to) return -1;
  return static_cast<std::int32_t>(4 * o.polygon) + from;
}

void triangulate(Object& object) {
  if (object.type != sdk::kObjectPolygon) return;
  const std::vector<TriangleOrigin> origins = triangleOrigins(object);
  std::vector<Polygon> out;
  out.reserve(origins.size());
  for (const TriangleOrigin& o : origins) {
    const Polygon& q = object.polygons[o.polygon];
    const std::int32_t corner[4] = {q.a, q.b, q.c, q.d};
    const std::int32_t c = corner[o.corners[2]];
    out.push_back({corner[o.corners[0]], corner[o.corners[1]], c, c});
  }
  const std::size_t oldCount = object.polygons.size();
  for (auto& tag : object.tags) {
    if (tag->type == sdk::kTagUVW) {
      std::vector<UVWEntry> uvw(out.size());
      for (std::size_t t = 0; t < out.size(); ++t) {
        const TriangleOrigin& o = origins[t];
        if (o.polygon >= tag->uvw.size()) continue;
        const UVWEntry& src = tag->uvw[o.polygon];
        const Point corners[4] = {src.a, src.b, src.c, src.d};
        uvw[t] = {corners[o.corners[0]], corners[o.corners[1]], corners[o.corners[2]],
                  corners[o.corners[2]]};
      }
      // Entries past the old polygon count stay past the new one.
      for (std::size_t extra = oldCount; extra < tag->uvw.size(); ++extra) uvw.push_back(tag->uvw[extra]);
      tag->uvw = std::move(uvw);
    } else if (tag->type == sdk::kTagPolygonSelection) {
      PolygonSelection selection;
      for (std::size_t t = 0; t < out.size(); ++t) {
        if (tag->selection.contains(static_cast<std::int32_t>(origins[t].polygon))) {
          selection.add(static_cast<std::int32_t>(t));
        }
      }
      tag->selection = std::move(selection);
    } else if (tag->type == sdk::kTagEdgeSelection) {
      // Side j of a new triangle is the polygon's side it lies on, running the same way; the
      // diagonal belongs to no side of the polygon.
      PolygonSelection selection;
      for (std::size_t t = 0; t < out.size(); ++t) {
        for (int j = 0; j < 3; ++j) {
          const std::int32_t edge = sourceEdge(object, origins, t, j);
          if (edge >= 0 && tag->selection.contains(edge)) selection.add(static_cast<std::int32_t>(4 * t) + j);
        }
      }
      tag->selection = std::move(selection);
    }
  }
  object.polygons = std::move(out);
}

namespace {

Point pt(double x, double y, double z) {
  return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
}
Point uv(double u, double v) { return {static_cast<float>(u), static_cast<float>(v), 0.0f}; }

/// Adds the grid of one cube face: origin o, axes du and dv spanning it, outward normal du x dv.
void addFace(Object& out, std::vector<UVWEntry>& uvw, V o, V du, V dv, int nu, int nv) {
  const auto base = static_cast<std::int32_t>(out.points.size());
  for (int j = 0; j <= nv; ++j) {
    for (int i = 0; i <= nu; ++i) {
      const double s = static_cast<double>(i) / nu, t = static_cast<double>(j) / nv;
      out.points.push_back(pt(o.x + s * du.x + t * dv.x, o.y + s * du.y + t * dv.y, o.z + s * du.z + t * dv.z));
    }
  }
  for (int j = 0; j < nv; ++j) {
    for (int i = 0; i < nu; ++i) {
      const std::int32_t a = base + j * (nu + 1) + i;
      out.polygons.push_back({a, a + 1, a + nu + 2, a + nu + 1});
      const double u0 = static_cast<double>(i) / nu, u1 = static_cast<double>(i + 1) / nu;
      const double v0 = static_cast<double>(j) / nv, v1 = static_cast<double>(j + 1) / nv;
      uvw.push_back({uv(u0, 1 - v0), uv(u1, 1 - v0), uv(u1, 1 - v1), uv(u0, 1 - v1)});
    }
  }
}

/// Merges points that coincide exactly, so that the faces of a cube share their edges.
void weld(Object& o) {
  std::vector<std::int32_t> remap(o.points.size());
  std::vector<Point> kept;
  std::map<std::tuple<float, float, float>, std::int32_t> seen;
  for (std::size_t i = 0; i < o.points.size(); ++i) {
    const Point& q = o.points[i];
    auto [it, added] = seen.emplace(std::make_tuple(q.x, q.y, q.z), static_cast<std::int32_t>(kept.size()));
    if (added) kept.push_back(q);
    remap[i] = it->second;
  }
  for (Polygon& p : o.polygons) {
    p = {remap[static_cast<std::size_t>(p.a)], remap[static_cast<std::size_t>(p.b)],
         remap[static_cast<std::size_t>(p.c)], remap[static_cast<std::size_t>(p.d)]};
  }
  o.points = std::move(kept);
}

}  // namespace

std::unique_ptr<Object> primitiveToPolygons(const Object& primitive) {
  auto out = std::make_unique<Object>(sdk::kObjectPolygon);
  out->name = primitive.name;
  out->selected = primitive.selected;
  out->editorVisibility = primitive.editorVisibility;
  out->renderVisibility = primitive.renderVisibility;
  std::vector<UVWEntry> uvw;
  const PrimitiveParams& p = primitive.primitive;
  if (primitive.type == sdk::kObjectCube) {
    const double hx = p.size[0] / 2, hy = p.size[1] / 2, hz = p.size[2] / 2;
    const int sx = std::max(1, p.cubeSegments[0]), sy = std::max(1, p.cubeSegments[1]),
              sz = std::max(1, p.cubeSegments[2]);
    addFace(*out, uvw, {-hx, -hy, hz}, {2 * hx, 0, 0}, {0, 2 * hy, 0}, sx, sy);    // front +z
    addFace(*out, uvw, {hx, -hy, -hz}, {-2 * hx, 0, 0}, {0, 2 * hy, 0}, sx, sy);   // back -z
    addFace(*out, uvw, {hx, -hy, hz}, {0, 0, -2 * hz}, {0, 2 * hy, 0}, sz, sy);    // right +x
    addFace(*out, uvw, {-hx, -hy, -hz}, {0, 0, 2 * hz}, {0, 2 * hy, 0}, sz, sy);   // left -x
    addFace(*out, uvw, {-hx, hy, hz}, {2 * hx, 0, 0}, {0, 0, -2 * hz}, sx, sz);    // top +y
    addFace(*out, uvw, {-hx, -hy, -hz}, {2 * hx, 0, 0}, {0, 0, 2 * hz}, sx, sz);   // bottom -y
    weld(*out);
  } else if (primitive.type == sdk::kObjectPlane) {
    const int nu = std::max(1, p.planeSegments[0]), nv = std::max(1, p.planeSegments[1]);
    addFace(*out, uvw, {-p.width / 2, 0, p.depth / 2}, {p.width, 0, 0}, {0, 0, -p.depth}, nu, nv);
  } else if (primitive.type == sdk::kObjectSphere) {
    const int segments = std::max(3, p.sphereSegments);
    const int rings = std::max(2, segments / 2);
    const double r = p.radius;
    // Points: the two poles, then rings x segments points.
    out->points.push_back(pt(0, r, 0));
    for (int j = 1; j < rings; ++j) {
      const double theta = std::numbers::pi * j / rings;
      for (int i = 0; i < segments; ++i) {
        const double phi = 2 * std::numbers::pi * i / segments;
        out->points.push_back(pt(r * std::sin(theta) * std::sin(phi), r * std::cos(theta),
                                 r * std::sin(theta) * std::cos(phi)));
      }
    }
    const auto south = static_cast<std::int32_t>(out->points.size());
    out->points.push_back(pt(0, -r, 0));
    auto ringPoint = [&](int j, int i) { return 1 + (j - 1) * segments + (i % segments); };
    for (int j = 0; j < rings; ++j) {
      for (int i = 0; i < segments; ++i) {
        const double u0 = static_cast<double>(i) / segments, u1 = static_cast<double>(i + 1) / segments;
        const double v0 = 1 - static_cast<double>(j) / rings, v1 = 1 - static_cast<double>(j + 1) / rings;
        if (j == 0) {
          const std::int32_t a = ringPoint(1, i), b = ringPoint(1, i + 1);
          out->polygons.push_back({0, a, b, b});
          uvw.push_back({uv((u0 + u1) / 2, v0), uv(u0, v1), uv(u1, v1), uv(u1, v1)});
        } else if (j == rings - 1) {
          const std::int32_t a = ringPoint(j, i), b = ringPoint(j, i + 1);
          out->polygons.push_back({a, south, b, b});
          uvw.push_back({uv(u0, v0), uv((u0 + u1) / 2, v1), uv(u1, v0), uv(u1, v0)});
        } else {
          const std::int32_t a = ringPoint(j, i), b = ringPoint(j, i + 1);
          const std::int32_t c = ringPoint(j + 1, i + 1), d = ringPoint(j + 1, i);
          out->polygons.push_back({a, d, c, b});
          uvw.push_back({uv(u0, v0), uv(u0, v1), uv(u1, v1), uv(u1, v0)});
        }
      }
    }
  } else {
    return nullptr;
  }
  Tag* tag = out->addTag(sdk::kTagUVW, "UVW");
  tag->uvw = std::move(uvw);
  return out;
}

}  // namespace scene
