// Unfolding: glue tabs, the edge table, the merge of two pieces and the two-pass driver.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/gt.h"
#include "geometry/vec.h"
#include "unfold/gtc.h"
#include "unfold/options.h"

namespace foldra {

// Glue tabs.

/// The end of triangle preparation, once every triangle's derived quantities are known: with
/// glue tabs switched on, every shared side gets its tab on the lower triangle, shortened to
/// fit its side.
void createTabs();
/// Gives each shared side of t the tab when t is the lower of the two triangles over it.
void createLugs(gt& t);
/// Creates the tab on side k of t (in space).
void createLug(gt& t, int k);
/// Turns a tab too wide for its side into a triangle.
void shortenLug(gt& t, int k);
/// Removes the tab of side k of t, in both frames.
void RemoveLugs(gt& t, int k);
/// Pushes t's tabs and those of its neighbours on the shared sides onto the save stack. False,
/// with a console line and nothing pushed, when the stack's 16 levels are all taken.
bool saveLugs(const gt& t);
/// Pops the save stack back into t and its neighbours.
void restoreLugs(gt& t);
/// Pops the save stack and discards the copies.
void freeSavedLugs(const gt& t);
/// Number of levels on the save stack (0 outside a merge).
int savedLugLevels();
/// After the joins of longest edge: every tab that overlaps a triangle or another tab of its
/// piece moves to the other side of its edge (no deeper than options.tabDepth), else becomes half
/// as deep on either side, else goes; tested in the order of the triangle lists against the piece
/// as it stands, and, with the page limit of the options, against the page. Answers the number of
/// edges left without a tab.
int fitLugs(RunState& state, const UnfoldOptions& options);

// Edge table.

/// The edges along which pieces may join, as four parallel lists.
struct EdgeTable {
  std::vector<std::uint32_t> object;
  std::vector<std::uint32_t> triangle;
  std::vector<std::int32_t> edge;
  std::vector<double> length;
  std::size_t size() const { return length.size(); }
};

/// Lists every side that has a neighbour and no tab of its own, with its length in space.
void createEdgeTab(EdgeTable& edges);
/// Sorts entries first..last by non-increasing length; equal lengths by object, then triangle,
/// then edge, so that the order is the same on every platform. In place, no allocation, and
/// O(n log n) also on sorted input and many equal lengths.
void sortEdges(EdgeTable& edges, std::size_t first, std::size_t last);

// Merge.

/// Tries to join B onto A along side e of t (t in A, t.nb[e] in B). True when joined.
bool merge(gtc& A, gtc& B, gt& t, int e, bool collisionTest);
/// Moves the triangle's flat corners and placed tabs by the placement, in place.
void applyPlacement(gt& t, const Placement& placement);
/// True when side k of t and its neighbour's copy of the same edge lie on each other in one
/// piece, or the compact unfolding folded that seam shut: the edge is a fold of that piece,
/// not a cut.
bool isFold(const gt& t, int k);

// Driver.

/// The unfolding stage of the method the settings name, after triangle preparation
/// (unfold/method.cpp): the settings record read into the options once, then longest edge
/// makes the glue tabs and joins with them (Algokante); compact joins by faces alone, then
/// places the tabs on the cut edges (Compact).
void unfoldTriangles();

/// The longest-edge stage on the run state, with the options the settings record asks for:
/// one piece per triangle, then joins along flat edges (shortest first) and along every edge
/// (longest first) with the collision test, then the tabs fitted to their pieces (fitLugs).
void Algokante();
/// The same with the given options (their page and tab depth).
void Algokante(const UnfoldOptions& options);
/// The same stage joining with `merge`, which moves the whole absorbed piece and tests each of
/// its triangles against every member of the receiving one: quadratic in the mesh, kept as the
/// reference the fast joins are compared with. Reads the settings record, as `merge` does.
void AlgokanteDirect();
/// One piece per usable triangle of the run state, flattened.
void createPieces();
/// The same on the given run state.
void createPieces(RunState& state);

}  // namespace foldra
