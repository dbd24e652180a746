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

/// Normals, heights, back sides, corner and fold angles of every triangle of the run, then glue
/// tabs when they are switched on.
void prepareTriangles();
void computeNormal(gt& t);
void computeHeights(gt& t);
/// The side j of n with n.nb[j] == &t, tested in order 0, 1, 2; -1 if none.
int backSide(const gt& t, const gt& n);
void computeCornerAngle(gt& t, int k);
void computeFoldAngle(gt& t, int k);
/// Lays the triangle into the plane z = 0 in its own frame and carries its tabs along.
void flatten(gt& t);
/// The matrix M with M u1 = w1, M u2 = w2, M u3 = w3.
Mat3 frameMatrix(Vec3 u1, Vec3 u2, Vec3 u3, Vec3 w1, Vec3 w2, Vec3 w3);

// Placement and collision.

/// Flat corner k of t, placed.
Vec3 placePoint(const gt& t, int k, const Placement& placement);
/// Placed tab point j of side k of t, placed; (0, 0, 0) when absent.
Vec3 placeLugPoint(const gt& t, int k, int j, const Placement& placement);
/// The rotation about z that turns the direction of s into the direction of d.
Mat3 hingeRotation(Vec3 s, Vec3 d);
/// The placement that moves t.nb[k] from where it lies onto side k of t.
Placement hingePlacement(const gt& t, int k);
/// True when the flat triangle T overlaps g's flat triangle or one of g's placed tabs.
bool collidesWithTabs(Vec3 T0, Vec3 T1, Vec3 T2, const gt& g);
/// Number of pairs (placed corner of t, corner of g) that coincide, at most 3.
int countSharedCorners(const gt& t, const gt& g, const Placement& placement);

}  // namespace foldra
