// The geometry kernel: triangle preparation, flattening, and placement of a triangle against a
// neighbour's side.
#pragma once

#include "geometry/gt.h"
#include "geometry/vec.h"

namespace foldra {

/// The distance below which two flat points are the same point, and below which a fold is flat.
inline constexpr double kPointTolerance = 0.00001;
/// Fraction by which triangleschnitt2d shortens each edge at both ends.
inline constexpr double kEdgeShortening = 0.01;

// Preparation.

/// Normals, heights, back sides, corner and fold angles of every triangle of the run. The glue
/// tabs that preparation ends with are made by the unfolding's createTabs, which reads them.
void prepareTriangles();
void computeNormal(gt& t);
void computeHeights(gt& t);
/// The side j of n with n.nb[j] == &t, tested in order 0, 1, 2; -1 if none.
int backSide(const gt& t, const gt& n);
void computeCornerAngle(gt& t, int k);
void computeFoldAngle(gt& t, int k);
/// Lays the triangle into the plane z = 0 in its own frame and carries its tabs along.
void flatten(gt& t);
/// The corners flatten gives the triangle in its own frame: the shortest side's first corner
/// (whose number it answers) at the origin, the next on the positive x axis.
int ownFlatCorners(const gt& t, Vec3 (&p)[3]);
/// The tab of width w outside the flat side A -> B of a counter-clockwise triangle: a trapezoid
/// with 45-degree ends, or a right isosceles triangle when the side is shorter than 2 w. Absent
/// for a side of length 0 or a length or width that is not finite.
LugPair flatLug(Vec3 A, Vec3 B, double w);
/// The matrix M with M u1 = w1, M u2 = w2, M u3 = w3.
Mat3 frameMatrix(Vec3 u1, Vec3 u2, Vec3 u3, Vec3 w1, Vec3 w2, Vec3 w3);

/// True when two flat triangles overlap by more than `depth` across every side of either
/// (separating axes): triangles that meet along a side or at a corner, or overlap by less, do
/// not, and neither does a triangle without area. False when a corner is not a finite number.
bool overlapDeeperThan(const Vec3 (&a)[3], const Vec3 (&b)[3], double depth);
/// The same for two convex flat polygons of `na` and `nb` corners, wound either way.
bool overlapDeeperThan(const Vec3* a, int na, const Vec3* b, int nb, double depth);
/// The overlap test of the joins: triangleschnitt2d (g only lends it), and beyond it an overlap
/// deeper than the point tolerance that its shortened edges let through, such as the thin wedge
/// where the angles around a corner add up to just over a full turn.
bool trianglesOverlap(const gt& g, Vec3 t0, Vec3 t1, Vec3 t2, Vec3 q0, Vec3 q1, Vec3 q2);

// Placement and collision.

/// Flat corner k of t, placed.
Vec3 placePoint(const gt& t, int k, const Placement& placement);
/// Placed tab point j of side k of t, placed; (0, 0, 0) when absent.
Vec3 placeLugPoint(const gt& t, int k, int j, const Placement& placement);
/// The rotation about z that turns the direction of s into the direction of d.
Mat3 hingeRotation(Vec3 s, Vec3 d);
/// The placement that moves t.nb[k] from where it lies onto side k of t.
Placement hingePlacement(const gt& t, int k);
/// The same from the flat ends of the two sides: tk, tk1 are corners k and k + 1 of t; gj, gj1
/// corners j and j + 1 of the neighbour, j its side back to t.
Placement hingePlacement(Vec3 tk, Vec3 tk1, Vec3 gj, Vec3 gj1);

/// What a collision test sees of a flat triangle: its corners and the outer corners of its
/// placed tabs. A tab's second point reads (0, 0, 0) when absent, as the tests always did.
struct FlatShape {
  Vec3 p[3];
  Vec3 lug[3][2];
  bool hasLug[3] = {false, false, false};
  bool hasSecond[3] = {false, false, false};
};
/// The box of a flat triangle in x and y; the whole plane when a corner is not finite (in x, y
/// or z), so that such a triangle is never taken for being apart from anything.
Box flatBox(Vec3 a, Vec3 b, Vec3 c);
/// True when two finite boxes are apart by more than a billionth of their coordinates. Such
/// triangles meet under triangleschnitt2d only when rounding makes nearly collinear edges that
/// lie apart on one line look crossed.
bool flatBoxesApart(const Box& t, const Box& q);

/// The flat triangles a shape is made of, as the collision test takes them: the triangle, then
/// two per tab; with their boxes.
struct FlatParts {
  int count = 0;
  Vec3 corner[7][3];
  Box box[7];
};
FlatParts partsOf(const FlatShape& s);

/// The triangle's flat corners and placed tabs as they lie.
FlatShape shapeOf(const gt& t);
/// The same, placed by the placement.
FlatShape placedShape(const gt& t, const Placement& placement);

/// True when the flat triangle T overlaps g's flat triangle or one of g's placed tabs.
bool collidesWithTabs(Vec3 T0, Vec3 T1, Vec3 T2, const gt& g);
/// The same against a shape G; `g` only lends its predicates.
bool collidesWithTabs(Vec3 T0, Vec3 T1, Vec3 T2, const FlatShape& G, const gt& g);
/// True when the shape U or one of its tabs overlaps G or one of its tabs: gt::collision on
/// shapes that are already placed.
bool shapesCollide(const FlatShape& U, const FlatShape& G, const gt& g);
/// The same on the shapes' parts, leaving out pairs of parts whose boxes are apart.
bool partsCollide(const FlatParts& U, const FlatParts& G, const gt& g);
/// Number of pairs (placed corner of t, corner of g) that coincide, at most 3.
int countSharedCorners(const gt& t, const gt& g, const Placement& placement);
/// The same for the corners of two shapes; `g` only lends its predicates.
int countSharedCorners(const FlatShape& U, const FlatShape& G, const gt& g);

}  // namespace foldra
