// The geometry kernel: preparation, flattening, planar predicates, placement and collision.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "geometry/kernel.h"
#include "hand_run.h"
#include "unfold/unfold.h"

using foldra::gt;
using foldra::Mat3;
using foldra::Placement;
using foldra::Vec3;
using testing_support::HandRun;

namespace {

constexpr double pi = std::numbers::pi;

void expectNear(Vec3 a, Vec3 b, double tolerance = 1e-12) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

void prepareAlone(gt& t) {
  foldra::computeNormal(t);
  foldra::computeHeights(t);
  for (int k = 0; k < 3; ++k) foldra::computeCornerAngle(t, k);
  for (int k = 0; k < 3; ++k) foldra::computeFoldAngle(t, k);
}

/// A triangle with its corners in space.
struct Tri : gt {
  Tri(Vec3 a, Vec3 b, Vec3 c) : gt(0) {
    P[0] = a;
    P[1] = b;
    P[2] = c;
  }
};

double flatSide(const gt& t, int k) { return foldra::length(t.p[(k + 1) % 3] - t.p[k]); }
double spaceSide(const gt& t, int k) { return foldra::length(t.P[(k + 1) % 3] - t.P[k]); }

}  // namespace

TEST(TriangleRecord, StartsEmpty) {
  gt t(3, 7);
  EXPECT_EQ(t.containerIndex, -1);
  EXPECT_EQ(t.textureNumber, -1);
  EXPECT_EQ(t.objectIndex, 3);
  EXPECT_EQ(t.objectOrdinal, 7);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(t.nb[k], nullptr);
    EXPECT_EQ(t.nbedge[k], 0);
    EXPECT_EQ(t.P[k], Vec3{});
    EXPECT_FALSE(t.Lugs[k][0] || t.Lugs[k][1] || t.placedLugs[k][0] || t.placedLugs[k][1]);
  }
  foldra::releaseTabs(t);  // with nothing to release
  EXPECT_FALSE(t.Lugs[0][0]);
}

TEST(TriangleRecord, TracePrintsCornersWithThreeDecimals) {
  Tri t({1, 2.5, 0}, {3, 0, 0}, {0, 4, 0});
  std::ostringstream out;
  out << t;
  EXPECT_EQ(out.str(), "P:(1.000,2.500,0.000), (3.000,0.000,0.000), (0.000,4.000,0.000), p:(0.000,0.000,0.000), "
                       "(0.000,0.000,0.000), (0.000,0.000,0.000)");
}

TEST(Preparation, RightTriangle) {
  Tri t({0, 0, 0}, {3, 0, 0}, {0, 4, 0});
  prepareAlone(t);
  expectNear(t.normal, {0, 0, 1});
  EXPECT_DOUBLE_EQ(t.height[0], 4);
  EXPECT_DOUBLE_EQ(t.height[1], 2.4);
  EXPECT_DOUBLE_EQ(t.height[2], 3);
  EXPECT_DOUBLE_EQ(t.angle[0], pi / 2);
  EXPECT_DOUBLE_EQ(t.angle[1], std::acos(0.6));
  EXPECT_DOUBLE_EQ(t.angle[2], std::acos(0.8));
  foldra::flatten(t);
  expectNear(t.p[0], {0, 0, 0});
  expectNear(t.p[1], {3, 0, 0});
  expectNear(t.p[2], {0, 4, 0});
}

TEST(Preparation, FlattenPutsTheShortestSideOnTheXAxis) {
  // Side 1 (corner 1 to corner 2) is the shortest: corner 1 goes to the origin.
  Tri t({0, 4, 0}, {0, 0, 0}, {3, 0, 0});
  prepareAlone(t);
  foldra::flatten(t);
  expectNear(t.p[1], {0, 0, 0});
  expectNear(t.p[2], {3, 0, 0});
  expectNear(t.p[0], {0, 4, 0});
  // Equal sides keep the lower index: side 0 of an equilateral triangle (whose three sides
  // are exactly equal also in floating point).
  Tri e({1, 0, 0}, {0, 1, 0}, {0, 0, 1});
  prepareAlone(e);
  foldra::flatten(e);
  expectNear(e.p[0], {0, 0, 0});
  expectNear(e.p[1], {std::sqrt(2.0), 0, 0});
  EXPECT_GT(e.p[2].y, 0);  // counter-clockwise
}

TEST(Preparation, FoldAnglesBackSidesAndBorders) {
  // t in the x-y plane; its neighbours across side 0 are coplanar, at 90 degrees and at 135.
  const Vec3 a{0, 0, 0}, b{4, 0, 0};
  for (auto [apex, expected] : {std::pair<Vec3, double>{{2, -3, 0}, 0.0},
                                {{2, 0, -3}, -pi / 2},
                                {{2, 3, -3}, -pi / 4}}) {
    HandRun r({{a, b, {2, 3, 0}}, {b, a, apex}});
    foldra::settings.Laschenflag = false;
    foldra::prepareTriangles();
    foldra::createTabs();
    EXPECT_NEAR(r[0].foldAngle[0], expected, 1e-12);
    EXPECT_NEAR(r[1].foldAngle[0], expected, 1e-12) << "both sides see the same fold";
    EXPECT_EQ(r[0].nbedge[0], 0);
    EXPECT_EQ(r[1].nbedge[0], 0);
    // Border sides keep nbedge 0 and fold 0.
    EXPECT_EQ(r[0].nb[1], nullptr);
    EXPECT_EQ(r[0].nbedge[1], 0);
    EXPECT_EQ(r[0].foldAngle[1], 0);
  }
  foldra::settings = foldra::Settings{};
}

TEST(Preparation, NeighbourThatDoesNotPointBackGetsMinusOne) {
  HandRun r({{Vec3{0, 0, 0}, {4, 0, 0}, {2, 3, 0}}, {Vec3{4, 0, 0}, {0, 0, 0}, {2, -3, 0}}}, false);
  r[0].nb[0] = &r[1];  // only one side knows
  foldra::prepareTriangles();
  foldra::createTabs();
  EXPECT_EQ(r[0].nbedge[0], -1);
  EXPECT_EQ(foldra::backSide(r[0], r[1]), -1);
  EXPECT_FALSE(r[0].Lugs[0][0]) << "no tab on a one-sided link";
}

TEST(Preparation, DegenerateTrianglesStayFinite) {
  // A zero-length side, a straight (collinear) triangle and a triangle shrunk to one point.
  for (auto corners : {std::array<Vec3, 3>{Vec3{0, 0, 0}, {0, 0, 0}, {3, 4, 0}},
                       std::array<Vec3, 3>{Vec3{0, 0, 0}, {1, 0, 0}, {3, 0, 0}},
                       std::array<Vec3, 3>{Vec3{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}}) {
    Tri t(corners[0], corners[1], corners[2]);
    prepareAlone(t);
    foldra::flatten(t);
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(std::isfinite(t.height[k]));
      EXPECT_TRUE(std::isfinite(t.angle[k]));
      EXPECT_TRUE(foldra::isFinite(t.p[k]));
      EXPECT_NEAR(flatSide(t, k), spaceSide(t, k), 1e-12) << "side " << k;
    }
    EXPECT_EQ(t.normal, Vec3{});
  }
}

TEST(Preparation, DegenerateNeighbourGetsNoTabAndNothingTurnsNonFinite) {
  // A sliver of zero area between two proper triangles.
  HandRun r({{Vec3{0, 0, 0}, {4, 0, 0}, {2, 3, 0}}, {Vec3{4, 0, 0}, {0, 0, 0}, {2, 0, 0}}, {Vec3{0, 0, 0}, {2, 0, 0}, {1, -2, 1}}});
  foldra::settings = foldra::Settings{};
  foldra::prepareTriangles();
  foldra::createTabs();
  for (std::size_t i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) {
      if (r[i].nb[k] == &r[1] || &r[i] == &r[1]) {
        EXPECT_FALSE(r[i].Lugs[k][0]) << i << " " << k;
      }
    }
  }
  foldra::Algokante();
  for (std::size_t i = 0; i < 3; ++i) {
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(foldra::isFinite(r[i].p[k]));
      if (r[i].placedLugs[k][0]) {
        EXPECT_TRUE(foldra::isFinite(*r[i].placedLugs[k][0]));
      }
    }
  }
}

TEST(Preparation, FrameMatrixMapsTheThreeVectors) {
  const Vec3 u1{1, 2, 0}, u2{0, 1, 3}, u3 = foldra::cross(u1, u2);
  const Vec3 w1{2, 0, 0}, w2{1, 1, 0}, w3 = foldra::cross(w1, w2);
  const Mat3 M = foldra::frameMatrix(u1, u2, u3, w1, w2, w3);
  expectNear(M * u1, w1, 1e-12);
  expectNear(M * u2, w2, 1e-12);
  expectNear(M * u3, w3, 1e-12);
}

TEST(Preparation, FlattenAndHingeAreRigidOnRandomTriangles) {
  std::mt19937 random(7);
  auto coordinate = [&] { return 20.0 * (static_cast<double>(random()) / 4294967295.0) - 10.0; };
  auto point = [&] { return Vec3{coordinate(), coordinate(), coordinate()}; };
  int checked = 0;
  for (int i = 0; i < 3000; ++i) {
    const Vec3 a = point(), b = point(), c = point(), d = point();
    HandRun r({{a, b, c}, {b, a, d}});
    // Very thin triangles are real but their angles carry little precision; they are covered
    // by the degenerate cases above.
    bool fat = true;
    for (std::size_t j = 0; j < 2; ++j) {
      foldra::computeNormal(r[j]);
      foldra::computeHeights(r[j]);
      for (int k = 0; k < 3; ++k) fat = fat && r[j].height[k] > 0.05 * spaceSide(r[j], k);
    }
    if (!fat) continue;
    foldra::prepareTriangles();
    foldra::createTabs();
    for (std::size_t j = 0; j < 2; ++j) {
      foldra::flatten(r[j]);
      for (int k = 0; k < 3; ++k) {
        ASSERT_NEAR(flatSide(r[j], k), spaceSide(r[j], k), 1e-9 * spaceSide(r[j], k));
        if (r[j].placedLugs[k][0]) {
          ASSERT_TRUE(foldra::isFinite(*r[j].placedLugs[k][0]));
        }
      }
      const double area = foldra::cross(r[j].p[1] - r[j].p[0], r[j].p[2] - r[j].p[0]).z;
      ASSERT_GT(area, 0) << "flat triangles run counter-clockwise";
    }
    const Placement hinge = foldra::hingePlacement(r[0], 0);
    foldra::applyPlacement(r[1], hinge);
    const int s = r[0].nbedge[0];
    ASSERT_NEAR(foldra::length(r[1].p[(s + 1) % 3] - r[0].p[0]), 0, 1e-9);
    ASSERT_NEAR(foldra::length(r[1].p[s] - r[0].p[1]), 0, 1e-9);
    for (int k = 0; k < 3; ++k) ASSERT_NEAR(flatSide(r[1], k), spaceSide(r[1], k), 1e-9 * spaceSide(r[1], k));
    ++checked;
  }
  EXPECT_GT(checked, 500);
}

TEST(PlanarPredicates, Equal2dTolerance) {
  const gt t(0);
  EXPECT_TRUE(t.equal2d({0, 0, 0}, {0.000009, 0, 0}));
  EXPECT_FALSE(t.equal2d({0, 0, 0}, {0.00001, 0, 0}));
  EXPECT_TRUE(t.equal2d({0, 0, 0}, {0, 0, 5})) << "z is ignored";
}

TEST(PlanarPredicates, InsideTriangleIsStrict) {
  const gt t(0);
  const Vec3 a{0, 0, 0}, b{1, 0, 0}, c{0, 1, 0};
  EXPECT_TRUE(t.isInsideTriangle({1.0 / 3, 1.0 / 3, 0}, a, b, c));
  EXPECT_FALSE(t.isInsideTriangle({0.5, 0, 0}, a, b, c)) << "on an edge";
  EXPECT_FALSE(t.isInsideTriangle(b, a, b, c)) << "a corner";
  EXPECT_FALSE(t.isInsideTriangle({0.1, 0.1, 0}, a, a, a)) << "degenerate triangle contains nothing";
  EXPECT_FALSE(t.isInsideTriangleAndNoVertex({0.000001, 0.000001, 0}, a, b, c)) << "coincides with corner a";
}

TEST(PlanarPredicates, SegmentsShortenedByOnePercent) {
  const gt t(0);
  auto cross = [&](Vec3 a1, Vec3 a2, Vec3 b1, Vec3 b2) { return t.streckenschnitt2d(a1, a2, b1, b2, 0.01); };
  EXPECT_FALSE(cross({0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0})) << "collinear, apart";
  EXPECT_FALSE(cross({0, 0, 0}, {1, 0, 0}, {1, 0, 0}, {1, 1, 0})) << "touching at an end";
  EXPECT_TRUE(cross({0, 0, 0}, {2, 0, 0}, {1, -1, 0}, {1, 1, 0})) << "a proper cross";
  EXPECT_FALSE(cross({0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {1, 1, 0})) << "an end on the middle";
  EXPECT_TRUE(cross({0, 0, 0}, {2, 0, 0}, {1, 0, 0}, {3, 0, 0})) << "collinear, overlapping";
}

TEST(PlanarPredicates, TriangleOverlap) {
  const gt t(0);
  const Vec3 a{0, 0, 0}, b{2, 0, 0}, c{0, 2, 0};
  EXPECT_FALSE(t.triangleschnitt2d(a, b, c, b, {4, 0, 0}, {3, -2, 0})) << "one shared corner";
  EXPECT_TRUE(t.triangleschnitt2d(a, b, c, b, a, {1, -2, 0})) << "a whole shared edge counts";
  EXPECT_TRUE(t.triangleschnitt2d(a, b, c, {0.2, 0.2, 0}, {0.4, 0.2, 0}, {0.2, 0.4, 0})) << "small inside large";
  EXPECT_TRUE(t.triangleschnitt2d({0.2, 0.2, 0}, {0.4, 0.2, 0}, {0.2, 0.4, 0}, a, b, c)) << "large around small";
  EXPECT_TRUE(t.triangleschnitt2d(a, b, c, a, b, c)) << "identical";
  EXPECT_FALSE(t.triangleschnitt2d(a, b, c, {3, 3, 0}, {5, 3, 0}, {3, 5, 0})) << "apart";
}

TEST(PlanarPredicates, AThinOverlapAtACornerIsFoundBeyondTheShortenedEdges) {
  gt g(0);
  // Two triangles from one corner; the second's upper side climbs 0.01 over the first's lower
  // side on its way to x = 10. Every crossing lies within 1 % of an edge's end.
  const Vec3 a[3] = {{0, 0, 0}, {10, 0, 0}, {5, 5, 0}};
  const Vec3 b[3] = {{0, 0, 0}, {10, 0.01, 0}, {5, -5, 0}};
  EXPECT_FALSE(g.triangleschnitt2d(a[0], a[1], a[2], b[0], b[1], b[2])) << "the shortened edges miss it";
  EXPECT_TRUE(foldra::overlapDeeperThan(a, b, foldra::kPointTolerance));
  EXPECT_TRUE(foldra::trianglesOverlap(g, a[0], a[1], a[2], b[0], b[1], b[2]));
  // Triangles that only touch, along a side or at a corner, do not overlap.
  const Vec3 below[3] = {{0, 0, 0}, {5, -5, 0}, {10, 0, 0}};
  const Vec3 corner[3] = {{10, 0, 0}, {20, 0, 0}, {15, 5, 0}};
  const Vec3 sliver[3] = {{0, 0, 0}, {10, 0, 0}, {5, 1e-7, 0}};
  EXPECT_FALSE(foldra::overlapDeeperThan(a, below, foldra::kPointTolerance));
  EXPECT_FALSE(foldra::overlapDeeperThan(a, corner, foldra::kPointTolerance));
  EXPECT_FALSE(foldra::overlapDeeperThan(a, sliver, foldra::kPointTolerance)) << "thinner than the tolerance";
  EXPECT_TRUE(foldra::overlapDeeperThan(a, a, foldra::kPointTolerance));
}

TEST(PlanarPredicates, ConvexPolygonsOverlapOnlyDeeperThanTheDepth) {
  // A square and a triangle whose tip reaches 0.5 into it through its lower side. The square is
  // tested whole, across its own four sides: its diagonal is no side of it.
  const Vec3 square[4] = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
  const Vec3 tip[3] = {{0.5, -1, 0}, {1.5, -1, 0}, {1, 0.5, 0}};
  EXPECT_TRUE(foldra::overlapDeeperThan(square, 4, tip, 3, 0.1));
  EXPECT_TRUE(foldra::overlapDeeperThan(tip, 3, square, 4, 0.1)) << "either order";
  EXPECT_FALSE(foldra::overlapDeeperThan(square, 4, tip, 3, 0.6)) << "shallower than the depth";
  const Vec3 clockwise[4] = {square[3], square[2], square[1], square[0]};
  EXPECT_TRUE(foldra::overlapDeeperThan(clockwise, 4, tip, 3, 0.1)) << "either winding";
  // Touching along a side or at a corner is no overlap.
  const Vec3 beside[4] = {{2, 0, 0}, {3, 0, 0}, {3, 2, 0}, {2, 2, 0}};
  const Vec3 atCorner[3] = {{2, 2, 0}, {3, 2, 0}, {3, 3, 0}};
  EXPECT_FALSE(foldra::overlapDeeperThan(square, 4, beside, 4, foldra::kPointTolerance / 4));
  EXPECT_FALSE(foldra::overlapDeeperThan(square, 4, atCorner, 3, foldra::kPointTolerance / 4));
  // A corner that is not a number overlaps nothing.
  const Vec3 broken[3] = {{1, 1, 0}, {std::numeric_limits<double>::quiet_NaN(), 1, 0}, {1, 1.5, 0}};
  EXPECT_FALSE(foldra::overlapDeeperThan(square, 4, broken, 3, 0));
  // Triangles give the same answer through either form.
  const Vec3 a[3] = {{0, 0, 0}, {4, 0, 0}, {0, 4, 0}}, b[3] = {{1, 1, 0}, {5, 1, 0}, {1, 5, 0}};
  for (const double depth : {0.0, 0.5, 1.0, 1.5}) {
    EXPECT_EQ(foldra::overlapDeeperThan(a, b, depth), foldra::overlapDeeperThan(a, 3, b, 3, depth)) << depth;
  }
}

TEST(Placement, HingeRotation) {
  const Mat3 quarter = foldra::hingeRotation({1, 0, 0}, {0, 1, 0});
  const double expected[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(quarter.m[i], expected[i], 1e-15);
  const Mat3 half = foldra::hingeRotation({2, 0, 0}, {-3, 0, 0});
  expectNear(half * Vec3{1, 0, 0}, {-1, 0, 0});
  // A side of length 0 has no direction: the piece is moved, not collapsed onto one point.
  const Mat3 none = foldra::hingeRotation({0, 0, 0}, {1, 0, 0});
  expectNear(none * Vec3{3, 4, 0}, {3, 4, 0});
}

TEST(Placement, HingeLaysTheNeighbourOnTheFarSide) {
  HandRun r({{Vec3{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {Vec3{1, 0, 0}, {0, 0, 0}, {0.5, -1, 0.5}}});
  foldra::settings.Laschenflag = false;
  foldra::prepareTriangles();
  foldra::createTabs();
  foldra::flatten(r[0]);
  foldra::flatten(r[1]);
  const Placement hinge = foldra::hingePlacement(r[0], 0);
  foldra::applyPlacement(r[1], hinge);
  expectNear(r[1].p[1], {0, 0, 0}, 1e-12);
  expectNear(r[1].p[0], {1, 0, 0}, 1e-12);
  EXPECT_LT(r[1].p[2].y, 0);
  EXPECT_EQ(foldra::countSharedCorners(r[1], r[0], Placement{}), 2);
  EXPECT_EQ(foldra::countSharedCorners(r[0], r[0], Placement{}), 3);
  EXPECT_TRUE(r[0].isneighbor(r[1]));
  EXPECT_FALSE(r[0].isneighbor(r[0]));
  foldra::settings = foldra::Settings{};
}

TEST(Placement, SharedCornersAreCountedAndCapped) {
  Tri t({}, {}, {});
  t.p[0] = {0, 0, 0};
  t.p[1] = {1, 0, 0};
  t.p[2] = {0, 1, 0};
  Tri corner({}, {}, {});
  corner.p[0] = {1, 0, 0};
  corner.p[1] = {2, 0, 0};
  corner.p[2] = {2, 1, 0};
  EXPECT_EQ(foldra::countSharedCorners(corner, t, Placement{}), 1);
  Tri point({}, {}, {});  // all corners at the origin, as t's corner 0
  EXPECT_EQ(foldra::countSharedCorners(point, point, Placement{}), 3) << "nine coinciding pairs count 3";
}

TEST(Placement, CollisionSeesTabs) {
  Tri g({}, {}, {});
  g.p[0] = {0, 0, 0};
  g.p[1] = {2, 0, 0};
  g.p[2] = {1, 2, 0};
  Tri u({}, {}, {});
  u.p[0] = {0, -3, 0};
  u.p[1] = {1, -5, 0};
  u.p[2] = {2, -3, 0};
  const Placement identity;
  EXPECT_FALSE(g.collision(u, identity.rot, identity.trans, identity.pivot));
  // A tab below g's side 0 reaches down to y = -1; one above u's side 2 reaches up to y = -2.
  g.placedLugs[0] = {Vec3{1.5, -1, 0}, Vec3{0.5, -1, 0}};
  EXPECT_FALSE(g.collision(u, identity.rot, identity.trans, identity.pivot));
  u.placedLugs[2] = {Vec3{0.5, -0.5, 0}, Vec3{1.5, -0.5, 0}};
  EXPECT_TRUE(g.collision(u, identity.rot, identity.trans, identity.pivot)) << "tab against tab";
  // Sharing only a corner, apart otherwise: no collision.
  Tri v({}, {}, {});
  v.p[0] = {2, 0, 0};
  v.p[1] = {4, 0, 0};
  v.p[2] = {3, -2, 0};
  g.placedLugs[0] = foldra::LugPair{};
  EXPECT_FALSE(g.collision(v, identity.rot, identity.trans, identity.pivot));
}
