// The triangle record: one triangle of one source object, from intake to scene output.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <optional>

#include "geometry/vec.h"

namespace foldra {

/// One corner of a glue tab; absent when the side has no tab.
using LugPoint = std::optional<Vec3>;
/// The two outer corners of the tab on one side: point 0 next to corner (k + 1) mod 3, point 1
/// next to corner k. The side has a tab exactly when point 0 is present.
using LugPair = std::array<LugPoint, 2>;

/// Corners are 0, 1, 2; side k runs from corner k to corner (k + 1) mod 3; every flat triangle
/// runs counter-clockwise.
struct gt {
  /// Creates a triangle of the source object `objectIndex`; `objectOrdinal` is the object's
  /// position among the objects of its document in hierarchy order.
  explicit gt(std::int32_t object, std::int32_t ordinal = 0);
  gt(const gt&) = delete;
  gt& operator=(const gt&) = delete;

  /// Index of the piece (container) that holds the triangle; -1 until unfolding gives it one.
  std::int32_t containerIndex = -1;
  /// Corners in space, in the source object's coordinates.
  Vec3 P[3];
  /// Flat corners, z = 0: first in the triangle's own frame, later in its piece's frame.
  Vec3 p[3];
  /// Texture coordinates (u, v, w) of the corners; all 0 when the object has none.
  Vec3 uvw[3];
  /// Neighbour across side k in the same object, or null for an open side.
  gt* nb[3] = {nullptr, nullptr, nullptr};
  /// For a side with a neighbour: the side of nb[k] that leads back here, or -1 when nb[k] does
  /// not list this triangle. 0 for a side without a neighbour: test nb[k], never nbedge[k].
  std::int32_t nbedge[3] = {0, 0, 0};
  /// Signed fold angle across side k, -pi/2 .. pi/2; 0 for an open side.
  double foldAngle[3] = {0, 0, 0};
  /// Interior angle at corner k in space, 0 .. pi.
  double angle[3] = {0, 0, 0};
  /// Distance of the corner opposite side k from the line of side k; 0 over a side of length 0.
  double height[3] = {0, 0, 0};
  /// Unit normal, (0, 0, 0) for a triangle without area.
  Vec3 normal;
  /// Glue tabs in the triangle's own frame (in space until flatten).
  LugPair Lugs[3];
  /// The same tab corners in the frame of the triangle's piece.
  LugPair placedLugs[3];
  /// Width of the tab on side k, set when the tab is made.
  double lugWidth[3] = {0, 0, 0};
  /// Where the triangle's operations write their trace.
  std::ostream* trace;
  /// Index of the source object in the run's source object list.
  std::int32_t objectIndex;
  /// Position of the source object among the objects of intake's polygon copy, each counted
  /// before the objects below it.
  std::int32_t objectOrdinal;
  /// The host polygon of the source object the triangle was made from (its place in the
  /// triangle list); -1 for a triangle made by hand.
  std::int32_t polygon = -1;
  /// True when intake turned the triangle to wind like its neighbours: corners 1 and 2, their
  /// texture coordinates and sides 0 and 2 are swapped against its polygon.
  bool turned = false;
  /// Ordinal among the source object's texture tags of the tag that covers the triangle, or -1.
  std::int32_t textureNumber = -1;
  /// Bit k set: side k is a seam of the triangle's piece that the compact unfolding folds shut
  /// (its two copies lie within Settings::Nahtspalt of each other), a fold rather than a cut.
  std::uint8_t foldedShut = 0;
  /// Per side: the marks a person set on the edge (kMarkCut, kMarkFold, kMarkTab, kMarkNoTab
  /// of host/edge_marks.h), read by intake; 0 where nothing is marked.
  std::uint8_t marks[3] = {0, 0, 0};
  /// Creation order over the whole run; breaks ties between equal heights (glue tabs).
  std::uint64_t serial;
  /// False for a triangle intake could not read (a corner index out of range, a corner that is
  /// not a finite number or too large to lay out): it keeps its
  /// place in the list, so that list index and polygon index stay equal, but takes no part in
  /// unfolding or output.
  bool usable = true;

  // Planar predicates (flat points, z ignored or 0); they use no field but `trace`.
  bool equal2d(Vec3 a, Vec3 b) const;
  bool isInsideTriangle(Vec3 q, Vec3 a, Vec3 b, Vec3 c) const;
  bool isWithinSegment(Vec3 q, Vec3 s, Vec3 e) const;
  bool streckenschnitt2d(Vec3 a1, Vec3 a2, Vec3 b1, Vec3 b2, double f) const;
  bool isInsideTriangleAndNoVertex(Vec3 q, Vec3 a, Vec3 b, Vec3 c) const;
  bool triangleschnitt2d(Vec3 t0, Vec3 t1, Vec3 t2, Vec3 q0, Vec3 q1, Vec3 q2) const;

  /// True when GT, placed by (rot, trans, pivot), or one of its placed tabs overlaps this
  /// triangle or one of its placed tabs.
  bool collision(const gt& GT, const Mat3& rot, Vec3 trans, Vec3 pivot) const;
  /// True when this triangle is one of b's neighbours.
  bool isneighbor(const gt& b) const;
};

/// Frees every tab point of the triangle.
void releaseTabs(gt& t);
/// Frees the tab points of side k, in both frames.
void releaseTab(gt& t, int k);

/// Writes "P:" with the three corners, then ", p:" with the three flat corners.
std::ostream& operator<<(std::ostream& out, const gt& t);
/// Writes a point as (x,y,z) with three decimals, leaving the stream in that format.
std::ostream& writePoint(std::ostream& out, Vec3 v);

/// The module-wide trace streams; never attached to a file.
std::ostream& geometryTraceStream();
std::ostream& pieceTraceStream();

}  // namespace foldra
