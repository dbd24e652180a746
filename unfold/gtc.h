// The piece container: one flat piece of the paper model, a set of triangles joined in one
// flat frame, with the placement a merge swings it by and the bounding box of its outline.
#pragma once

#include <iosfwd>
#include <vector>

#include "geometry/gt.h"
#include "geometry/vec.h"

namespace foldra {

class gtc {
 public:
  gtc();
  gtc(const gtc&) = delete;
  gtc& operator=(const gtc&) = delete;

  /// Cleared when the piece has been absorbed into another; a dead piece is skipped by every
  /// reader and its triangle list is stale.
  bool valid = true;
  /// The triangles of the piece in the order they joined; owned by the run's triangle lists.
  std::vector<gt*> triangles;
  /// Placement: only meaningful during a merge that absorbs this piece, and while scene output
  /// draws it.
  Vec3 trans;
  Mat3 rot;
  Vec3 pivot;
  /// Bounding box of the flat outline (corners and placed tab corners), in the piece's frame.
  /// Only ever grows. It starts with the largest finite double as minima and the smallest
  /// positive normalised double as maxima; a piece's first triangle has a corner at the origin
  /// and one on the positive x axis, so it overtakes both.
  Box box{1.7976931348623157e308, 1.7976931348623157e308, 2.2250738585072014e-308, 2.2250738585072014e-308};
  /// Where the piece's operations write their trace.
  std::ostream* trace;

  Placement placement() const { return Placement{rot, trans, pivot}; }
  /// Appends t and extends the box by its flat corners and placed tab corners; always true.
  bool addTriangle(gt* t);
  /// True when u, placed by the placement, or one of its placed tabs overlaps a triangle of the
  /// piece or one of its placed tabs; pairs that lie joined along their shared side are left out.
  bool testTriangle(const gt& u, const Placement& placement) const;
  /// Extends the box by u, placed, with its tabs; true when the box no longer fits a page of
  /// width x height (never turned). The extension stays in the box.
  bool testPageBounds(const gt& u, const Placement& placement, double width, double height);
};

}  // namespace foldra
