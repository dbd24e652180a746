// What a triangle laid into a piece must pass: the one test of the joins (Joiner), the hand-over
// and the regrowth of the compact unfolding alike. A laid triangle may not overlap a triangle
// of the piece it joins, and the piece with it must fit the page. Every pair of a laid triangle
// and a triangle near it in its piece passes through `collides`, and every grown piece through
// `fits`, so that what else a join must respect is added here once for all three.
#pragma once

#include <cmath>
#include <limits>

#include "geometry/kernel.h"
#include "geometry/vec.h"
#include "unfold/options.h"

namespace foldra {

class JoinTest {
 public:
  /// The test on this page, for pieces that reach at most `extent` from their origin.
  JoinTest(PageLimit page, double extent) : page_(page), margin_(roundingMargin(extent)) {}

  const PageLimit& page() const { return page_; }

  /// True when a piece of this box fits the page.
  bool fits(const Box& box) const { return page_.holds(box); }

  /// How far a laid triangle's box reaches when the piece is asked what it could overlap: the
  /// box grown by the rounding margin.
  Box reach(const Box& b) const { return {b.minX - margin_, b.minY - margin_, b.maxX + margin_, b.maxY + margin_}; }

  /// True when u, laid as U, overlaps g as it lies in the piece (G); g lends its predicates.
  /// Neighbours that lie joined along their shared side (two corners in common) only meet along
  /// it. partsU() and partsG() give the shapes' parts (`given` ones, or ones `madeFrom` a shape
  /// only when the neighbours' test has not decided).
  template <class PartsU, class PartsG>
  static bool collides(const gt& u, const FlatShape& U, PartsU&& partsU, const gt& g, const FlatShape& G, PartsG&& partsG) {
    if (u.isneighbor(g) && countSharedCorners(U, G, g) == 2) return false;
    return partsCollide(partsU(), partsG(), g);
  }
  /// Parts a caller has made already, for collides.
  static auto given(const FlatParts& parts) {
    return [&parts]() -> const FlatParts& { return parts; };
  }
  /// Parts made from the shape when collides needs them.
  static auto madeFrom(const FlatShape& shape) {
    return [&shape] { return partsOf(shape); };
  }

  /// Rounding moves a flat point by far less than a billionth of the farthest any point of a
  /// piece can lie from its origin (`extent`): boxes grown by that margin meet whenever the
  /// overlap predicate could answer true for what they hold. Infinite where the extent is not
  /// finite, so that nothing is then taken for lying apart.
  static double roundingMargin(double extent) {
    const double margin = 1e-9 * extent;
    return std::isfinite(margin) ? margin : std::numeric_limits<double>::infinity();
  }

 private:
  PageLimit page_;
  double margin_;
};

}  // namespace foldra
