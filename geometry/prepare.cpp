// Triangle preparation: derived quantities of every triangle, and flattening.
#include <algorithm>
#include <cmath>

#include "geometry/kernel.h"
#include "host/run_state.h"

namespace foldra {

namespace {

template <typename Visit>
void forEachTriangle(Visit visit) {
  for (auto& list : run.gtvec) {
    for (auto& t : list) visit(*t);
  }
}

/// The tab of side k rebuilt from the flat side itself: for a triangle whose spatial frame
/// cannot be mapped onto its flat frame (a frame matrix that is singular or overflows), the tab
/// keeps its width and shape and stands outside the flat side, as it would have after mapping.
void tabFromFlatSide(gt& t, int k) {
  const LugPair tab = flatLug(t.p[k], t.p[(k + 1) % 3], t.lugWidth[k]);
  if (!tab[0]) {
    releaseTab(t, k);
    return;
  }
  t.Lugs[k] = tab;
}

}  // namespace

void prepareTriangles() {
  forEachTriangle([](gt& t) {
    computeNormal(t);
    computeHeights(t);
    for (int k = 0; k < 3; ++k) {
      if (t.nb[k]) t.nbedge[k] = backSide(t, *t.nb[k]);
    }
  });
  // Fold angles read the neighbours' normals, so they wait until every normal is known.
  forEachTriangle([](gt& t) {
    for (int k = 0; k < 3; ++k) computeCornerAngle(t, k);
    for (int k = 0; k < 3; ++k) computeFoldAngle(t, k);
  });
}

namespace {

/// The cross product of the triangle's two shorter sides, from the corner between them, in the
/// triangle's turning sense (twice its area, along its normal). The cross product of a
/// sliver's two long sides, from its far corner, cancels away its digits.
Vec3 areaVector(const gt& t) {
  const double sides[3] = {length(t.P[1] - t.P[0]), length(t.P[2] - t.P[1]), length(t.P[0] - t.P[2])};
  const int longest = sides[0] >= sides[1] && sides[0] >= sides[2] ? 0 : (sides[1] >= sides[2] ? 1 : 2);
  // Side k runs from corner k to corner k + 1; the corner opposite the longest side comes next.
  const int o = (longest + 2) % 3;
  return cross(t.P[(o + 1) % 3] - t.P[o], t.P[(o + 2) % 3] - t.P[o]);
}

}  // namespace

void computeNormal(gt& t) {
  const Vec3 n = areaVector(t);
  const double l = length(n);
  t.normal = l != 0 ? n / l : Vec3{};
}

void computeHeights(gt& t) {
  const double d = length(areaVector(t));
  const double sides[3] = {length(t.P[1] - t.P[0]), length(t.P[2] - t.P[1]), length(t.P[0] - t.P[2])};
  // Over a side of length 0 there is no height to speak of: 0, not 0 / 0.
  for (int k = 0; k < 3; ++k) t.height[k] = sides[k] != 0 ? d / sides[k] : 0.0;
}

int backSide(const gt& t, const gt& n) {
  for (int j = 0; j < 3; ++j) {
    if (n.nb[j] == &t) return j;
  }
  return -1;
}

void computeCornerAngle(gt& t, int k) {
  const Vec3 a = normalize(t.P[(k + 2) % 3] - t.P[k]);
  const Vec3 b = normalize(t.P[(k + 1) % 3] - t.P[k]);
  // Rounding can push the cosine of a straight angle just past 1; the arc cosine of that would
  // not be a number.
  t.angle[k] = std::acos(std::clamp(dot(a, b), -1.0, 1.0));
}

void computeFoldAngle(gt& t, int k) {
  if (!t.nb[k]) {
    t.foldAngle[k] = 0;
    return;
  }
  const Vec3 e = normalize(t.P[k] - t.P[(k + 1) % 3]);
  const double s = dot(cross(t.normal, t.nb[k]->normal), e);
  t.foldAngle[k] = std::asin(std::clamp(s, -1.0, 1.0));
}

int ownFlatCorners(const gt& t, Vec3 (&p)[3]) {
  const double L[3] = {length(t.P[1] - t.P[0]), length(t.P[2] - t.P[1]), length(t.P[0] - t.P[2])};
  int c = 0;
  if (L[1] < L[0]) c = 1;
  if (L[2] < L[c]) c = 2;
  const int c1 = (c + 1) % 3;
  const int c2 = (c + 2) % 3;
  const double toThird = length(t.P[c2] - t.P[c]);
  p[c] = Vec3{};
  p[c1] = Vec3{length(t.P[c1] - t.P[c]), 0, 0};
  // A shortest side of length 0 has no direction to measure the corner angle from: the third
  // corner then lies on the x axis, which keeps every side length.
  p[c2] = L[c] != 0 ? Vec3{std::cos(t.angle[c]) * toThird, t.height[c], 0} : Vec3{toThird, 0, 0};
  return c;
}

LugPair flatLug(Vec3 A, Vec3 B, double w) {
  const double l = length(B - A);
  if (!(l > 0) || !std::isfinite(l) || !std::isfinite(w)) return {};
  const Vec3 e = (B - A) / l;
  // The triangle runs counter-clockwise, so its outside lies to the right of the side.
  const Vec3 out{e.y, -e.x, 0.0};
  if (2 * w > l) {
    const Vec3 apex = A + 0.5 * (B - A) + (l / 2) * out;
    return {apex, apex};
  }
  return {B + w * out - w * e, A + w * out + w * e};
}

void flatten(gt& t) {
  const int c = ownFlatCorners(t, t.p);
  const int c1 = (c + 1) % 3;
  const int c2 = (c + 2) % 3;

  bool anyTab = false;
  for (int k = 0; k < 3; ++k) anyTab = anyTab || t.Lugs[k][0].has_value();
  if (!anyTab) return;

  const Vec3 u1 = t.P[c1] - t.P[c];
  const Vec3 u2 = t.P[c2] - t.P[c];
  const Vec3 w1 = t.p[c1];
  const Vec3 w2 = t.p[c2];
  const Mat3 M = frameMatrix(u1, u2, cross(u1, u2), w1, w2, cross(w1, w2));
  for (int k = 0; k < 3; ++k) {
    if (!t.Lugs[k][0]) continue;
    for (int j = 0; j < 2; ++j) {
      if (!t.placedLugs[k][j]) t.placedLugs[k][j] = Vec3{};
    }
    const Vec3 q0 = M * (*t.Lugs[k][0] - t.P[c]);
    const Vec3 q1 = t.Lugs[k][1] ? M * (*t.Lugs[k][1] - t.P[c]) : Vec3{};
    // The map is rigid: each outer corner keeps its distance from its end of the side. On a
    // sliver the frame is too ill-conditioned to hold it, and the tab is drawn from the flat side.
    auto kept = [&](Vec3 flat, Vec3 space, int end) {
      const double there = length(space - t.P[end]), here = length(flat - t.p[end]);
      return std::fabs(here - there) <= 1e-6 * std::max(there, length(t.P[(k + 1) % 3] - t.P[k])) + kPointTolerance;
    };
    const bool rigid = kept(q0, *t.Lugs[k][0], (k + 1) % 3) && (!t.Lugs[k][1] || kept(q1, *t.Lugs[k][1], k));
    if (isFinite(q0) && isFinite(q1) && rigid) {
      t.Lugs[k] = {q0, q1};
    } else {
      tabFromFlatSide(t, k);
      if (!t.Lugs[k][0]) continue;
    }
    t.placedLugs[k] = t.Lugs[k];
  }
}

Mat3 frameMatrix(Vec3 u1, Vec3 u2, Vec3 u3, Vec3 w1, Vec3 w2, Vec3 w3) {
  // B has the columns u1, u2, u3; its inverse is the adjugate divided by the determinant.
  const double b[9] = {u1.x, u2.x, u3.x, u1.y, u2.y, u3.y, u1.z, u2.z, u3.z};
  const double det = b[0] * (b[4] * b[8] - b[5] * b[7]) - b[1] * (b[3] * b[8] - b[5] * b[6]) +
                     b[2] * (b[3] * b[7] - b[4] * b[6]);
  const double inv[9] = {
      (b[4] * b[8] - b[5] * b[7]) / det, (b[2] * b[7] - b[1] * b[8]) / det, (b[1] * b[5] - b[2] * b[4]) / det,
      (b[5] * b[6] - b[3] * b[8]) / det, (b[0] * b[8] - b[2] * b[6]) / det, (b[2] * b[3] - b[0] * b[5]) / det,
      (b[3] * b[7] - b[4] * b[6]) / det, (b[1] * b[6] - b[0] * b[7]) / det, (b[0] * b[4] - b[1] * b[3]) / det};
  // A has the columns w1, w2, w3.
  const double a[9] = {w1.x, w2.x, w3.x, w1.y, w2.y, w3.y, w1.z, w2.z, w3.z};
  Mat3 M;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      M.m[3 * i + j] = a[3 * i] * inv[j] + a[3 * i + 1] * inv[3 + j] + a[3 * i + 2] * inv[6 + j];
    }
  }
  return M;
}

}  // namespace foldra
