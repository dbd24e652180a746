// Planar predicates: whether flat points coincide, lie inside a triangle, and whether flat
// segments and triangles overlap. Tolerant at shared corners: edges are shortened by 1 % at both
// ends before they are intersected, and a corner that coincides with a corner of the other
// triangle does not count as inside it.
#include <algorithm>
#include <cmath>
#include <limits>
#include <ostream>

#include "geometry/kernel.h"
#include "host/trace.h"

namespace foldra {

namespace {

/// length(v) == 0 without the square root: the root of a non-negative number is 0 exactly when
/// the number is.
bool isZero(Vec3 v) { return v.x * v.x + v.y * v.y + v.z * v.z == 0; }

}  // namespace

Box flatBox(Vec3 a, Vec3 b, Vec3 c) {
  if (!(isFinite(a) && isFinite(b) && isFinite(c))) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    return {-inf, -inf, inf, inf};
  }
  return {std::min({a.x, b.x, c.x}), std::min({a.y, b.y, c.y}), std::max({a.x, b.x, c.x}), std::max({a.y, b.y, c.y})};
}

bool flatBoxesApart(const Box& t, const Box& q) {
  if (!t.finite() || !q.finite()) return false;
  const double scale = std::fabs(t.minX) + std::fabs(t.maxX) + std::fabs(t.minY) + std::fabs(t.maxY) +
                       std::fabs(q.minX) + std::fabs(q.maxX) + std::fabs(q.minY) + std::fabs(q.maxY);
  if (!std::isfinite(scale)) return false;
  const double margin = 1e-9 * scale;
  return q.minX - t.maxX > margin || t.minX - q.maxX > margin || q.minY - t.maxY > margin || t.minY - q.maxY > margin;
}

bool gt::equal2d(Vec3 a, Vec3 b) const {
  const Vec3 t{b.x - a.x, b.y - a.y, 0.0};
  const double distance = std::sqrt(t.x * t.x + t.y * t.y + 0.0 * 0.0);
  if constexpr (kGeometryTrace) {
    *trace << "gt::equal2d t:";
    writePoint(*trace, t) << " betrag:" << distance << '\n';
  }
  return distance < kPointTolerance;
}

bool gt::isInsideTriangle(Vec3 q, Vec3 a, Vec3 b, Vec3 c) const {
  if constexpr (kGeometryTrace) {
    *trace << "isInsideTriangle(), start, p=";
    writePoint(*trace, q) << ", a=";
    writePoint(*trace, a) << ", b=";
    writePoint(*trace, b) << ", c=";
    writePoint(*trace, c) << '\n';
  }
  const Vec3 e0 = b - a, e1 = c - a, e2 = q - a;
  const double d00 = dot(e0, e0), d01 = dot(e0, e1), d11 = dot(e1, e1);
  const double d20 = dot(e2, e0), d21 = dot(e2, e1);
  // A degenerate triangle makes k infinite and u, v not numbers: every comparison below fails.
  const double k = 1.0 / (d11 * d00 - d01 * d01);
  const double u = k * (d20 * d11 - d01 * d21);
  const double v = k * (d21 * d00 - d01 * d20);
  const bool inside = u > 0 && v > 0 && u + v < 1;
  if constexpr (kGeometryTrace) {
    *trace << "u=" << u << ", v=" << v << ", u+v=" << u + v << ", returning " << (inside ? 1 : 0) << '\n';
  }
  return inside;
}

bool gt::isWithinSegment(Vec3 q, Vec3 s, Vec3 e) const {
  const double l = length(s - e);
  return length(s - q) <= l && length(e - q) <= l;
}

bool gt::streckenschnitt2d(Vec3 a1, Vec3 a2, Vec3 b1, Vec3 b2, double f) const {
  if constexpr (kGeometryTrace) {
    *trace << "gt::streckenschnitt2d";
    writePoint(*trace, a1);
    writePoint(*trace, a2);
    writePoint(*trace, b1);
    writePoint(*trace, b2) << " kuerzer:" << f << '\n';
  }
  const Vec3 da = a2 - a1, db = b2 - b1;
  const Vec3 A1 = a1 + f * da, A2 = a2 - f * da;
  const Vec3 B1 = b1 + f * db, B2 = b2 - f * db;
  if constexpr (kGeometryTrace) {
    *trace << "    gekuerzt:        ";
    writePoint(*trace, A1);
    writePoint(*trace, A2);
    writePoint(*trace, B1);
    writePoint(*trace, B2) << '\n';
  }
  const Vec3 d = A2 - A1;
  const Vec3 c1 = cross(d, B1 - A1);
  if (isZero(c1) && isWithinSegment(B1, A1, A2)) return true;
  const Vec3 c2 = cross(d, B2 - A1);
  if (isZero(c2) && isWithinSegment(B2, A1, A2)) return true;
  if (dot(c1, c2) >= 0) return false;
  if constexpr (kGeometryTrace) *trace << "    nach erstem if\n";
  const Vec3 g = B2 - B1;
  const Vec3 m1 = cross(g, A1 - B1);
  if (isZero(m1) && isWithinSegment(A1, B1, B2)) return true;
  const Vec3 m2 = cross(g, A2 - B1);
  if (isZero(m2) && isWithinSegment(A2, B1, B2)) return true;
  if (isZero(m1) || isZero(m2) || dot(m1, m2) > 0) return false;
  if constexpr (kGeometryTrace) *trace << "    nach zweitem if\n";
  return true;
}

bool gt::isInsideTriangleAndNoVertex(Vec3 q, Vec3 a, Vec3 b, Vec3 c) const {
  if constexpr (kGeometryTrace) *trace << "isInsideTriangleAndNoVertex(..) \n";
  if (equal2d(a, q) || equal2d(b, q) || equal2d(c, q)) return false;
  return isInsideTriangle(q, a, b, c);
}

bool gt::triangleschnitt2d(Vec3 t0, Vec3 t1, Vec3 t2, Vec3 q0, Vec3 q1, Vec3 q2) const {
  if constexpr (kGeometryTrace) *trace << "gt::triangleschnitt2d in\n";
  const double f = kEdgeShortening;
  if (streckenschnitt2d(t0, t1, q0, q1, f) || streckenschnitt2d(t0, t1, q0, q2, f) ||
      streckenschnitt2d(t0, t1, q2, q1, f) || streckenschnitt2d(t0, t2, q0, q1, f) ||
      streckenschnitt2d(t0, t2, q0, q2, f) || streckenschnitt2d(t0, t2, q2, q1, f) ||
      streckenschnitt2d(t2, t1, q0, q1, f) || streckenschnitt2d(t2, t1, q0, q2, f) ||
      streckenschnitt2d(t2, t1, q2, q1, f)) {
    return true;
  }
  // Corner tests catch one triangle wholly inside the other, and overlaps near a corner that
  // the shortened edges miss.
  return isInsideTriangleAndNoVertex(q0, t0, t1, t2) || isInsideTriangleAndNoVertex(q1, t0, t1, t2) ||
         isInsideTriangleAndNoVertex(q2, t0, t1, t2) || isInsideTriangleAndNoVertex(t0, q0, q1, q2) ||
         isInsideTriangleAndNoVertex(t1, q0, q1, q2) || isInsideTriangleAndNoVertex(t2, q0, q1, q2);
}

namespace {

/// The separating-axis test of both forms of overlapDeeperThan, for convex polygons of na and nb
/// corners. A count given as NA or NB is fixed when compiled: the triangles' form, which every
/// join runs, loops over three corners known in advance.
template <int NA, int NB>
bool convexOverlapDeeper(const Vec3* a, int na, const Vec3* b, int nb, double depth) {
  if constexpr (NA > 0) na = NA;
  if constexpr (NB > 0) nb = NB;
  for (int i = 0; i < na; ++i) {
    if (!isFinite(a[i])) return false;
  }
  for (int i = 0; i < nb; ++i) {
    if (!isFinite(b[i])) return false;
  }
  // True when the two lie apart, or overlap by no more than the depth, across a side of t.
  auto apartAcrossASideOf = [&](const Vec3* t, int count) {
    for (int k = 0; k < count; ++k) {
      const Vec3 p = t[k];
      const Vec3 q = t[(k + 1) % count];
      // The side's normal, left unnormalised: the overlap along it is compared with the depth
      // times its length.
      const double nx = q.y - p.y, ny = p.x - q.x;
      const double n = std::sqrt(nx * nx + ny * ny);
      if (!(n > 0)) continue;
      double minA = std::numeric_limits<double>::infinity(), maxA = -minA, minB = minA, maxB = -minA;
      for (int i = 0; i < na; ++i) {
        const double d = nx * a[i].x + ny * a[i].y;
        minA = std::min(minA, d);
        maxA = std::max(maxA, d);
      }
      for (int i = 0; i < nb; ++i) {
        const double d = nx * b[i].x + ny * b[i].y;
        minB = std::min(minB, d);
        maxB = std::max(maxB, d);
      }
      if (std::min(maxA, maxB) - std::max(minA, minB) <= depth * n) return true;
    }
    return false;
  };
  return !apartAcrossASideOf(a, na) && !apartAcrossASideOf(b, nb);
}

}  // namespace

bool overlapDeeperThan(const Vec3 (&a)[3], const Vec3 (&b)[3], double depth) { return convexOverlapDeeper<3, 3>(a, 3, b, 3, depth); }

bool overlapDeeperThan(const Vec3* a, int na, const Vec3* b, int nb, double depth) {
  return convexOverlapDeeper<0, 0>(a, na, b, nb, depth);
}

bool trianglesOverlap(const gt& g, Vec3 t0, Vec3 t1, Vec3 t2, Vec3 q0, Vec3 q1, Vec3 q2) {
  if (g.triangleschnitt2d(t0, t1, t2, q0, q1, q2)) return true;
  const Vec3 T[3] = {t0, t1, t2};
  const Vec3 Q[3] = {q0, q1, q2};
  return overlapDeeperThan(T, Q, kPointTolerance);
}

}  // namespace foldra
