// The compact unfolding and the parts of it that its tests look into: the shape of a glue tab
// that folds under its partner, the tab placement after the cuts, the hand-over and the
// regrowth.
#pragma once

#include "geometry/gt.h"
#include "geometry/vec.h"
#include "host/run_state.h"
#include "unfold/options.h"

namespace foldra {

/// A glue tab on one side of a cut edge, in the frame the side was given in: outer corner 0
/// next to the side's end (corner k + 1), outer corner 1 next to its start (corner k). The two
/// coincide for a triangular tab.
struct TabShape {
  Vec3 corner[2];
  /// How far the tab reaches out from its edge; 0 when the side carries no tab.
  double depth = 0;
};

/// The steepest a tab's end may leave its edge, in radians.
inline constexpr double kSteepestTabEnd = 75 * 3.14159265358979323846 / 180;

/// The tab of the given depth, or less, on the flat side A -> B of a counter-clockwise
/// triangle: each end leaves the side at 45 degrees, steeper (up to kSteepestTabEnd) where the
/// side is too short for the depth, and never steeper than its limit (at A, at B): the room the
/// partner's surface leaves when the tab is folded under it. A tab is never deeper than its
/// two ends allow before they meet.
TabShape tabShape(Vec3 A, Vec3 B, double depth, double limitAtA, double limitAtB);
/// The tab of the given depth, or less, on the flat side A -> B whose ends leave the side at
/// exactly these angles (each at most kSteepestTabEnd): a tab pulled back from one corner.
TabShape tabShapeWithEnds(Vec3 A, Vec3 B, double depth, double endAtA, double endAtB);
/// The deepest tab a side of this length can carry, up to `depth`, with the steepest ends.
double deepestTab(double sideLength, double depth);
/// True when a tab of this depth is worth gluing: it falls short of the useful depth by no more
/// than rounding.
inline bool usefulTab(double depth, double useful) { return !(depth < useful * (1 - 1e-9)); }

/// Folds shut every seam between two triangles of one piece of the run state whose two copies
/// lie at most `foldShut` apart at both ends: paper takes up that little when the piece is
/// folded, and the builder folds there instead of cutting and gluing an edge that has no room
/// for a tab. Seams folded shut before are opened first, so that the call follows the pieces as
/// they stand. Answers the number of seams folded shut.
int foldSeamsShut(RunState& state, double foldShut);

/// After the compact joins, with the seams that close folded shut first (options.foldShut):
/// one glue tab on every cut edge, on the side where it stands deepest without touching another
/// part of its piece or leaving the page (a piece's box with the page limit on); shallower where
/// neither side has room at the full depth; none where neither side has room for the shallowest
/// useful one. Answers the number of cut edges left without a tab.
int placeTabs(RunState& state, const UnfoldOptions& options);

/// The tabs of the cut edges a person marked (the tab on one copy, or none), as placeTabs gives
/// them, while every other tab stays where the method put it: for a method that places its
/// tabs its own way. Does nothing where no edge carries such a mark.
void applyTabMarks(RunState& state, const UnfoldOptions& options);

/// Hands the pieces in the run state over to their neighbours where they fit, triangle by
/// triangle, smallest piece first, each triangle tested against the faces of the piece it joins
/// and against the page; a piece goes only when every one of its triangles found a place. Then
/// single triangles take a partner from a neighbouring piece. Answers the number of pieces that
/// went.
int handOverPieces(RunState& state, PageLimit page);

/// Merges pairs of neighbouring pieces in the run state (smaller pieces first) where the
/// smaller one and the larger one's triangles next to it, laid out afresh onto the rest of the
/// larger one, fit without overlap within `page`; a merge stays only when the tabs (placed with
/// `options`) then leave no more cut edges bare than before. Places the tabs. Answers the
/// number of pieces that went.
int regrowPieces(RunState& state, const UnfoldOptions& options, PageLimit page);

/// The compact unfolding stage on the run state: pieces joined by faces alone, then their tabs;
/// every piece one part through its folds, and unless options.bareSeams, cut again until every
/// cut edge long enough for a useful tab carries one.
void Compact(RunState& state, const UnfoldOptions& options);

}  // namespace foldra
