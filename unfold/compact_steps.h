// The steps of the compact unfolding as its files share them: the mesh as the steps number it
// (compact_mesh.cpp), the hand-over of small pieces (hand_over.cpp) and the regrowth of pairs
// of pieces (regrow.cpp). The rounds that run them are in compact.cpp, the tabs in
// place_tabs.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "geometry/gt.h"
#include "host/run_state.h"
#include "unfold/options.h"

namespace foldra {

/// A piece of at most this many triangles is small: the rounds promote its edges, and the
/// hand-over tries it next to any neighbour.
inline constexpr std::size_t kSmallTriangles = 5;

/// An edge between two triangles that may become a fold: side k of t, seen from the triangle
/// created first.
struct Hinge {
  gt* t;
  int k;
  /// Angle between the two faces' normals, 0 for coplanar ones (and for triangles without area,
  /// which join wherever they fit).
  double bend;
  /// Length in space.
  double length;
  /// Too short for a useful tab on either side.
  bool bare;
};

/// The triangles of the run numbered densely, and the edges that may join them.
class CompactMesh {
 public:
  /// The mesh of the run state's triangles; a hinge is bare when it is too short for a tab of
  /// `usefulDepth` (0: none is).
  CompactMesh(const RunState& state, double usefulDepth);

  /// Every triangle of the run, in the order of the triangle lists.
  std::vector<gt*> triangles;
  std::vector<Hinge> hinges;
  /// Per triangle side (3 i + k): the bend across it.
  std::vector<double> sideBend;
  /// Sum of all side lengths: no piece reaches farther from its origin.
  double extent = 0;

  /// The triangle's number: its place in `triangles`.
  std::uint32_t id(const gt& t) const { return bySerial_.empty() ? ids_.at(&t) : bySerial_[t.serial - first_]; }
  /// The bend across side k of t.
  double bend(const gt& t, int k) const { return sideBend[3 * id(t) + static_cast<std::size_t>(k)]; }

 private:
  std::uint64_t first_ = 0;
  std::vector<std::uint32_t> bySerial_;
  std::unordered_map<const gt*, std::uint32_t> ids_;
};

/// The pieces of the run state as the joins left them, handed over to their neighbours where
/// they fit on `page`, smallest first; then partners for single triangles. Answers the number
/// of pieces that went.
int handOver(RunState& state, const CompactMesh& mesh, PageLimit page);

/// Pairs of pieces merged where laying them out afresh on `page` lets them, each merge kept only
/// when the tabs of the whole pattern (placed with `options`) leave no more edges bare than
/// before; then the tabs. Answers the number of pieces that went.
int regrowAndPlaceTabs(RunState& state, const CompactMesh& mesh, PageLimit page, const UnfoldOptions& options);

/// Where every triangle of the run lies and which piece holds it, to go back to. The pieces'
/// boxes and tabs are not kept: placing the tabs again makes both.
class PieceLayout {
 public:
  explicit PieceLayout(const RunState& state);
  void restore(RunState& state) const;

 private:
  struct Triangle {
    gt* t;
    std::int32_t piece;
    std::array<Vec3, 3> p;
  };
  struct Piece {
    bool valid;
    std::vector<gt*> triangles;
  };
  std::vector<Triangle> triangles_;
  std::vector<Piece> pieces_;
};

/// Takes every tab off, before the tabs are placed again for another layout.
void clearTabs(RunState& state);

/// Splits every piece of the run state into the parts its folds hold together: a piece whose
/// triangles meet only at corners would fall apart when cut out. Each part beyond the first
/// becomes a piece of its own, in the same flat frame. Answers the number of pieces made.
int splitIntoParts(RunState& state, const CompactMesh& mesh);

/// True when one of the triangles folds across an edge a person marked as never cut: the steps
/// that lay pieces out afresh or hand them over leave such a piece as the joins made it, so that
/// the marked fold stays a fold.
bool holdsMarkedFold(const std::vector<gt*>& triangles);

/// The cut edges without a tab that could carry a useful one (of `options`' tabs, on its page).
int bareTabbableSeams(const RunState& state, const UnfoldOptions& options);

/// Recuts the pieces until every cut edge that is long enough for a useful tab carries one
/// (the tabs placed with `options`). Where a seam inside one piece has no room for a tab, the
/// piece is split between the seam's two sides, along folds chosen so that one split opens as
/// many such seams as it can; where a seam between two pieces has no room, its triangle on the
/// smaller piece becomes a piece of its own. With `handOverFirst`, after the first passes the
/// small pieces that leaves are handed over to their neighbours (on `page`, the joins' page),
/// and the passes after them open the seams that costs. Bounded by a number of passes, each one
/// tab placement. Answers the number of cut edges left without a tab that could carry one.
int giveEverySeamATab(RunState& state, const CompactMesh& mesh, PageLimit page, const UnfoldOptions& options, bool handOverFirst);

}  // namespace foldra
