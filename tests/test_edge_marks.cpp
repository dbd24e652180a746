// Edges a person marked: always cut, never cut, the glue tab on one copy or none. Both methods
// keep them, and pieces pinned by marks come back as they were, so that an edit changes only
// the pieces it touches.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "host/edge_marks.h"
#include "host/run_state.h"
#include "scene/object.h"
#include "sdk/host_api.h"
#include "support.h"
#include "unfold/unfold.h"

using namespace testing_support;
using foldra::gt;
using foldra::run;

namespace {

/// The object's edge (4 x polygon + side) that side k of t was made from.
int edgeOf(const gt& t, int k) { return 4 * t.polygon + (t.turned ? 2 - k : k); }

/// What became of each edge of the model, seen from each copy: folded or cut, and whether
/// that copy carries the tab; and each piece as the set of its triangles' polygons.
struct Outcome {
  std::map<int, bool> fold, tab;
  /// The other copy of each edge.
  std::map<int, int> partner;
  std::set<std::set<int>> pieces;
};

Outcome outcome() {
  Outcome o;
  std::map<int, std::set<int>> byPiece;
  for (const auto& list : run.gtvec) {
    for (const auto& t : list) {
      if (!t->usable || t->containerIndex < 0) continue;
      byPiece[t->containerIndex].insert(t->polygon);
      for (int k = 0; k < 3; ++k) {
        if (!t->nb[k]) continue;
        o.fold[edgeOf(*t, k)] = foldra::isFold(*t, k);
        o.tab[edgeOf(*t, k)] = t->placedLugs[k][0].has_value();
        o.partner[edgeOf(*t, k)] = edgeOf(*t->nb[k], t->nbedge[k]);
      }
    }
  }
  for (const auto& [piece, polygons] : byPiece) o.pieces.insert(polygons);
  return o;
}

struct Marks {
  std::vector<int> cut, fold, tab, noTab;
};

std::unique_ptr<scene::Object> marked(const Marks& marks) {
  auto ball = icosphere(2, 40);
  auto tag = [&](const char* name, const std::vector<int>& edges) {
    if (edges.empty()) return;
    scene::Tag* t = ball->addTag(sdk::kTagEdgeSelection, name);
    for (int e : edges) t->selection.add(e);
  };
  tag(foldra::kEdgesCut, marks.cut);
  tag(foldra::kEdgesFold, marks.fold);
  tag(foldra::kEdgesTab, marks.tab);
  tag(foldra::kEdgesNoTab, marks.noTab);
  return ball;
}

foldra::Settings settingsFor(std::int32_t method) {
  foldra::Settings s;
  s.Abwicklungsart = method;
  s.Laschenbreite = 1.5;
  // A page that a few dozen triangles fill: the pieces are many, and a join can be refused.
  s.Seitenflag = true;
  s.Seitenbreite = 40;
  s.Seitenhoehe = 60;
  return s;
}

/// Unfolds the marked ball; the checker's verdict, empty when sound.
std::string unfoldMarked(const Marks& marks, const foldra::Settings& s, Outcome* o) {
  LinkedHost h;
  h.add(marked(marks));
  EXPECT_TRUE(h.unfold(s));
  std::string failures;
  for (const std::string& f : checkUnfoldingFor(s)) failures += "\n  " + f;
  *o = outcome();
  return failures;
}

class EdgeMarks : public ::testing::TestWithParam<std::int32_t> {};

INSTANTIATE_TEST_SUITE_P(BothMethods, EdgeMarks, ::testing::Values(foldra::kUnfoldLongestEdge, foldra::kUnfoldCompact),
                         [](const auto& param) { return param.param == foldra::kUnfoldCompact ? "Compact" : "LongestEdge"; });

TEST_P(EdgeMarks, MarkedCutsStayCutMarkedFoldsStayFolded) {
  const foldra::Settings s = settingsFor(GetParam());
  Outcome before;
  ASSERT_EQ(unfoldMarked({}, s, &before), "");
  // A few folds to cut and a few cuts to join, spread over the ball.
  Marks marks;
  int folds = 0, cuts = 0;
  for (const auto& [edge, fold] : before.fold) {
    if (fold && folds++ % 37 == 0) marks.cut.push_back(edge);
    if (!fold && cuts++ % 41 == 0) marks.fold.push_back(edge);
  }
  ASSERT_GE(marks.cut.size(), 3u);
  ASSERT_GE(marks.fold.size(), 3u);
  Outcome after;
  ASSERT_EQ(unfoldMarked(marks, s, &after), "");
  for (int e : marks.cut) {
    EXPECT_FALSE(after.fold[e]) << "edge " << e << " was marked as always cut";
    EXPECT_FALSE(after.fold[before.partner[e]]) << "the mark holds for both copies of edge " << e;
  }
  int joined = 0;
  for (int e : marks.fold) joined += after.fold[e] ? 1 : 0;
  // Each marked join is tried before any other; on this page nearly all of them fit.
  EXPECT_GE(joined, static_cast<int>(marks.fold.size()) - 1);
}

TEST_P(EdgeMarks, PiecesPinnedByMarksComeBackAndACutSplitsOnlyItsOwnPiece) {
  const foldra::Settings s = settingsFor(GetParam());
  Outcome first;
  ASSERT_EQ(unfoldMarked({}, s, &first), "");
  // Every edge marked as the first run left it: the same pieces come back.
  Marks pinned;
  for (const auto& [edge, fold] : first.fold) (fold ? pinned.fold : pinned.cut).push_back(edge);
  Outcome again;
  ASSERT_EQ(unfoldMarked(pinned, s, &again), "");
  EXPECT_EQ(again.pieces, first.pieces);

  // One fold of the largest piece cut: that piece, and no other, comes apart.
  const std::set<int>* largest = &*first.pieces.begin();
  for (const auto& p : first.pieces) largest = p.size() > largest->size() ? &p : largest;
  ASSERT_GE(largest->size(), 4u);
  int split = -1;
  for (int e : pinned.fold) {
    if (largest->count(e / 4) && largest->count(first.partner[e] / 4)) split = e;
  }
  ASSERT_GE(split, 0);
  Marks edited = pinned;
  std::erase(edited.fold, split);
  std::erase(edited.fold, first.partner[split]);
  edited.cut.push_back(split);
  Outcome after;
  ASSERT_EQ(unfoldMarked(edited, s, &after), "");
  EXPECT_FALSE(after.fold[split]);
  int kept = 0;
  std::size_t inLargest = 0;
  for (const auto& p : after.pieces) {
    if (first.pieces.count(p)) {
      ++kept;
    } else {
      EXPECT_TRUE(std::includes(largest->begin(), largest->end(), p.begin(), p.end())) << "a piece that was not cut changed";
      inLargest += p.size();
    }
  }
  EXPECT_EQ(kept, static_cast<int>(first.pieces.size()) - 1);
  EXPECT_EQ(inLargest, largest->size());
}

TEST_P(EdgeMarks, TheTabGoesWhereItIsMarkedAndNowhereWhereNoneIs) {
  const foldra::Settings s = settingsFor(GetParam());
  Outcome before;
  ASSERT_EQ(unfoldMarked({}, s, &before), "");
  // Cut edges whose tab stands on one copy: a few get it moved over, a few lose it.
  Marks marks;
  int seen = 0;
  for (const auto& [edge, fold] : before.fold) {
    if (fold || !before.tab[edge]) continue;
    ++seen;
    if (seen % 11 == 0) marks.tab.push_back(before.partner[edge]);
    if (seen % 11 == 5) marks.noTab.push_back(edge);
  }
  ASSERT_GE(marks.tab.size(), 3u);
  // The pieces stay as they were, so that only the tabs can differ.
  for (const auto& [edge, fold] : before.fold) (fold ? marks.fold : marks.cut).push_back(edge);
  Outcome after;
  // The checker fails a tab on the unmarked copy and a tab where none is wanted.
  ASSERT_EQ(unfoldMarked(marks, s, &after), "");
  EXPECT_EQ(after.pieces, before.pieces);
  int moved = 0;
  for (int e : marks.tab) moved += after.tab[e] ? 1 : 0;
  EXPECT_GE(moved, static_cast<int>(marks.tab.size()) - 1) << "the marked copy has room on most edges";
  for (int e : marks.noTab) {
    EXPECT_FALSE(after.tab[e]);
    EXPECT_FALSE(after.tab[before.partner[e]]);
  }
}

}  // namespace
