// Placement of a triangle against a neighbour's side, and the collision tests of a placed
// triangle and its glue tabs against a member of a piece.
#include <algorithm>
#include <ostream>

#include "geometry/kernel.h"
#include "shell/trace.h"

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
  const int k1 = (k + 1) % 3;
  const int j1 = (j + 1) % 3;
  Placement placement;
  placement.pivot = g.p[j1];
  placement.trans = t.p[k] - placement.pivot;
  placement.rot = hingeRotation(g.p[j] - g.p[j1], t.p[k1] - t.p[k]);
  return placement;
}

bool collidesWithTabs(Vec3 T0, Vec3 T1, Vec3 T2, const gt& g) {
  if (g.triangleschnitt2d(T0, T1, T2, g.p[0], g.p[1], g.p[2])) return true;
  for (int k = 0; k < 3; ++k) {
    if (!g.placedLugs[k][0]) continue;
    const Vec3 L0 = *g.placedLugs[k][0];
    const Vec3 L1 = g.placedLugs[k][1] ? *g.placedLugs[k][1] : Vec3{};
    const int k1 = (k + 1) % 3;
    // The tab quadrilateral p[k], p[k1], L0, L1 as two triangles.
    if (g.triangleschnitt2d(T0, T1, T2, g.p[k1], g.p[k], L0)) return true;
    if (g.triangleschnitt2d(T0, T1, T2, g.p[k], L1, L0)) return true;
  }
  return false;
}

bool gt::collision(const gt& GT, const Mat3& rot, Vec3 trans, Vec3 pivot) const {
  if constexpr (kGeometryTrace) *trace << "gt::collision(GT,rot,trans,pivot) in\n";
  const Placement placement{rot, trans, pivot};
  const Vec3 T[3] = {placePoint(GT, 0, placement), placePoint(GT, 1, placement), placePoint(GT, 2, placement)};
  if (collidesWithTabs(T[0], T[1], T[2], *this)) return true;
  for (int k = 0; k < 3; ++k) {
    if (!GT.placedLugs[k][0]) continue;
    const Vec3 L0 = placeLugPoint(GT, k, 0, placement);
    const Vec3 L1 = placeLugPoint(GT, k, 1, placement);
    const int k1 = (k + 1) % 3;
    if (collidesWithTabs(T[k1], T[k], L0, *this)) return true;
    if (collidesWithTabs(T[k], L1, L0, *this)) return true;
  }
  return false;
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
  int count = 0;
  for (int i = 0; i < 3; ++i) {
    const Vec3 q = placePoint(t, i, placement);
    for (int j = 0; j < 3; ++j) {
      if (g.equal2d(q, g.p[j])) ++count;
    }
  }
  return std::min(count, 3);
}

}  // namespace foldra
