// Placement of a triangle against a neighbour's side, and the collision tests of a placed
// triangle and its glue tabs against a member of a piece.
#include <algorithm>
#include <ostream>

#include "geometry/kernel.h"
#include "host/trace.h"

namespace foldra {

Vec3 placePoint(const gt& t, int k, const Placement& placement) { return placement.apply(t.p[k]); }

Vec3 placeLugPoint(const gt& t, int k, int j, const Placement& placement) {
  const LugPoint& point = t.placedLugs[k][j];
  return point ? placement.apply(*point) : Vec3{};
}

Mat3 hingeRotation(Vec3 s, Vec3 d) {
  // A side of length 0 has no direction; any rotation keeps its two (coinciding) ends matched,
  // and the identity keeps the moved piece whole instead of collapsing it onto one point.
  if (length(s) == 0 || length(d) == 0) return Mat3::identity();
  s = s / length(s);
  d = d / length(d);
  const double c = s.x * d.x + s.y * d.y;
  const double n = s.x * d.y - s.y * d.x;
  Mat3 rot;
  rot.m[0] = c;
  rot.m[1] = -n;
  rot.m[2] = 0;
  rot.m[3] = n;
  rot.m[4] = c;
  rot.m[5] = 0;
  rot.m[6] = 0;
  rot.m[7] = 0;
  rot.m[8] = 1;
  return rot;
}

Placement hingePlacement(const gt& t, int k) {
  const gt& g = *t.nb[k];
  const int j = t.nbedge[k];
  return hingePlacement(t.p[k], t.p[(k + 1) % 3], g.p[j], g.p[(j + 1) % 3]);
}

Placement hingePlacement(Vec3 tk, Vec3 tk1, Vec3 gj, Vec3 gj1) {
  Placement placement;
  placement.pivot = gj1;
  placement.trans = tk - placement.pivot;
  placement.rot = hingeRotation(gj - gj1, tk1 - tk);
  return placement;
}

FlatShape shapeOf(const gt& t) {
  FlatShape shape;
  for (int k = 0; k < 3; ++k) {
    shape.p[k] = t.p[k];
    if (!t.placedLugs[k][0]) continue;
    shape.hasLug[k] = true;
    shape.lug[k][0] = *t.placedLugs[k][0];
    if (t.placedLugs[k][1]) {
      shape.hasSecond[k] = true;
      shape.lug[k][1] = *t.placedLugs[k][1];
    }
  }
  return shape;
}

FlatShape placedShape(const gt& t, const Placement& placement) {
  FlatShape shape;
  for (int k = 0; k < 3; ++k) {
    shape.p[k] = placePoint(t, k, placement);
    if (!t.placedLugs[k][0]) continue;
    shape.hasLug[k] = true;
    shape.lug[k][0] = placeLugPoint(t, k, 0, placement);
    shape.lug[k][1] = placeLugPoint(t, k, 1, placement);
    shape.hasSecond[k] = t.placedLugs[k][1].has_value();
  }
  return shape;
}

bool collidesWithTabs(Vec3 T0, Vec3 T1, Vec3 T2, const gt& g) { return collidesWithTabs(T0, T1, T2, shapeOf(g), g); }

bool collidesWithTabs(Vec3 T0, Vec3 T1, Vec3 T2, const FlatShape& G, const gt& g) {
  if (trianglesOverlap(g, T0, T1, T2, G.p[0], G.p[1], G.p[2])) return true;
  for (int k = 0; k < 3; ++k) {
    if (!G.hasLug[k]) continue;
    const Vec3 L0 = G.lug[k][0];
    const Vec3 L1 = G.lug[k][1];
    const int k1 = (k + 1) % 3;
    // The tab quadrilateral p[k], p[k1], L0, L1 as two triangles.
    if (trianglesOverlap(g, T0, T1, T2, G.p[k1], G.p[k], L0)) return true;
    if (trianglesOverlap(g, T0, T1, T2, G.p[k], L1, L0)) return true;
  }
  return false;
}

FlatParts partsOf(const FlatShape& s) {
  FlatParts parts;
  auto add = [&](Vec3 a, Vec3 b, Vec3 c) {
    const int i = parts.count++;
    parts.corner[i][0] = a;
    parts.corner[i][1] = b;
    parts.corner[i][2] = c;
    parts.box[i] = flatBox(a, b, c);
  };
  add(s.p[0], s.p[1], s.p[2]);
  for (int k = 0; k < 3; ++k) {
    if (!s.hasLug[k]) continue;
    // The tab quadrilateral p[k], p[k1], L0, L1 as two triangles.
    const int k1 = (k + 1) % 3;
    add(s.p[k1], s.p[k], s.lug[k][0]);
    add(s.p[k], s.lug[k][1], s.lug[k][0]);
  }
  return parts;
}

bool shapesCollide(const FlatShape& U, const FlatShape& G, const gt& g) {
  const Vec3* T = U.p;
  if (collidesWithTabs(T[0], T[1], T[2], G, g)) return true;
  for (int k = 0; k < 3; ++k) {
    if (!U.hasLug[k]) continue;
    const Vec3 L0 = U.lug[k][0];
    const Vec3 L1 = U.lug[k][1];
    const int k1 = (k + 1) % 3;
    if (collidesWithTabs(T[k1], T[k], L0, G, g)) return true;
    if (collidesWithTabs(T[k], L1, L0, G, g)) return true;
  }
  return false;
}

bool partsCollide(const FlatParts& U, const FlatParts& G, const gt& g) {
  // Every part of U against every part of G: the answer is the same in any order.
  for (int i = 0; i < U.count; ++i) {
    const Vec3* T = U.corner[i];
    for (int j = 0; j < G.count; ++j) {
      if (flatBoxesApart(U.box[i], G.box[j])) continue;
      const Vec3* Q = G.corner[j];
      if (trianglesOverlap(g, T[0], T[1], T[2], Q[0], Q[1], Q[2])) return true;
    }
  }
  return false;
}

bool gt::collision(const gt& GT, const Mat3& rot, Vec3 trans, Vec3 pivot) const {
  if constexpr (kGeometryTrace) *trace << "gt::collision(GT,rot,trans,pivot) in\n";
  return shapesCollide(placedShape(GT, Placement{rot, trans, pivot}), shapeOf(*this), *this);
}

bool gt::isneighbor(const gt& b) const {
  static const char* const found[3] = {"gt::isneighbor, returning atrue", "gt::isneighbor, returning btrue",
                                       "gt::isneighbor, returning ctrue"};
  for (int k = 0; k < 3; ++k) {
    if (b.nb[k] == this) {
      if constexpr (kGeometryTrace) *trace << found[k] << '\n';
      return true;
    }
  }
  if constexpr (kGeometryTrace) *trace << "gt::isneighbor, returning false\n";
  return false;
}

int countSharedCorners(const gt& t, const gt& g, const Placement& placement) {
  return countSharedCorners(placedShape(t, placement), shapeOf(g), g);
}

int countSharedCorners(const FlatShape& U, const FlatShape& G, const gt& g) {
  int count = 0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      if (g.equal2d(U.p[i], G.p[j])) ++count;
    }
  }
  return std::min(count, 3);
}

}  // namespace foldra
