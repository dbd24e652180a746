// What one unfolding is asked for: the method, the page and the tabs, read once from the
// settings record as the run starts the unfolding and handed to every step of our own as a
// value. The record's own readers (the joins of `merge`, the glue tabs of longest edge) keep
// reading the record.
#pragma once

#include <cmath>
#include <cstdint>

#include "geometry/vec.h"
#include "host/run_state.h"

namespace foldra {

/// The page a joined piece must fit, never turned: its extent in x at most `width`, in y at
/// most `height`.
struct PageLimit {
  /// With the limit off every piece fits.
  bool on = false;
  /// The page's size, in model units.
  double width = 0, height = 0;

  /// True when a piece of this box fits: always without the limit; never where the box or the
  /// page has a size that is not a number.
  bool holds(const Box& box) const { return !on || (box.width() <= width && box.height() <= height); }
};

/// The options of one unfolding. No value is range-checked: each step refuses what it cannot
/// use (a tab depth that is no number makes no tabs).
struct UnfoldOptions {
  /// How the pieces are formed: kUnfoldLongestEdge or kUnfoldCompact; any other value runs
  /// longest edge.
  std::int32_t method = kUnfoldLongestEdge;
  /// The page every piece keeps to, its tabs included; off unless asked for, A4 in size.
  PageLimit page{false, 210.0, 297.0};
  /// Make glue tabs on cut edges.
  bool tabs = true;
  /// How far a tab reaches out from its edge at most, in model units.
  double tabDepth = 17.0;
  /// Compact: the shallowest tab worth gluing, as a share of tabDepth.
  double usefulShare = 1.0 / 3.0;
  /// Compact: a seam between two triangles of one piece whose copies lie at most this far
  /// apart (model units) is folded shut instead of cut; 0 folds shut only copies that meet.
  double foldShut = 0.0;
  /// Compact: allow cut edges without a tab where that saves pieces (the joins' pieces as they
  /// stand); otherwise the pieces are cut again until every edge long enough for a useful tab
  /// carries one.
  bool bareSeams = false;

  /// True when compact places tabs: switched on, with a depth that is a finite number no less
  /// than the point tolerance (below it a tab is no more than its side).
  bool placesTabs() const;
  /// Compact: the depth of the shallowest tab worth gluing; 0 when no tabs are placed.
  double usefulDepth() const { return placesTabs() ? tabDepth * usefulShare : 0; }
};

/// The options the settings record asks for. The one place the unfolding reads the record for
/// steps of its own.
UnfoldOptions unfoldOptions(const Settings& record);

}  // namespace foldra
