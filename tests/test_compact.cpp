// The compact unfolding on small meshes whose right answer is known, the shape of its tabs, the
// handing over of small pieces, and its soundness and determinism on meshes of every kind.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <numbers>

#include "geometry/kernel.h"
#include "hand_run.h"
#include "support.h"
#include "unfold/compact.h"
#include "unfold/joiner.h"
#include "unfold/unfold.h"

using namespace testing_support;
using foldra::gt;
using foldra::run;
using foldra::Vec3;

namespace {

foldra::Settings compactSettings(double tabWidth = 1.5) {
  foldra::Settings s;
  s.Abwicklungsart = foldra::kUnfoldCompact;
  s.Laschenbreite = tabWidth;
  return s;
}

/// Options for the compact steps, with tabs of the given depth.
foldra::UnfoldOptions compactOptions(double tabDepth) {
  foldra::UnfoldOptions o;
  o.method = foldra::kUnfoldCompact;
  o.tabDepth = tabDepth;
  return o;
}

std::string checked(const foldra::UnfoldOptions& o) {
  CheckOptions options;
  options.tabs = o.tabs;
  options.compact = true;
  options.pageLimit = o.page.on;
  options.pageWidth = o.page.width;
  options.pageHeight = o.page.height;
  options.foldShut = o.foldShut;
  options.tabDepth = o.tabDepth;
  options.bareSeams = o.bareSeams;
  std::string all;
  for (const auto& f : checkUnfolding(options)) all += "\n  " + f;
  return all;
}

std::string checked(const foldra::Settings& s) { return checked(foldra::unfoldOptions(s)); }

/// Cut edges between two triangles, each counted once, and how many of them carry a tab.
struct Cuts {
  int edges = 0, tabbed = 0;
};

Cuts cutsOf() {
  Cuts c;
  for (const auto& list : run.gtvec) {
    for (const auto& t : list) {
      for (int k = 0; k < 3; ++k) {
        const gt* g = t->nb[k];
        const int s = t->nbedge[k];
        if (!g || s < 0 || t->serial > g->serial || foldra::isFold(*t, k)) continue;
        ++c.edges;
        if (t->placedLugs[k][0] || g->placedLugs[s][0]) ++c.tabbed;
      }
    }
  }
  return c;
}

/// Everything the run state holds after an unfolding, to compare two runs.
std::string snapshot() {
  std::string out;
  char buffer[64];
  for (std::size_t c = 0; c < run.containers.size(); ++c) {
    if (!run.containers[c]->valid) continue;
    out += "piece " + std::to_string(c) + ":";
    for (const gt* t : run.containers[c]->triangles) {
      out += " " + std::to_string(t->serial - run.gtvec[0][0]->serial);
      for (int k = 0; k < 3; ++k) {
        std::snprintf(buffer, sizeof buffer, " %.17g,%.17g", t->p[k].x, t->p[k].y);
        out += buffer;
        if (t->placedLugs[k][0]) {
          std::snprintf(buffer, sizeof buffer, " tab %.17g,%.17g", t->placedLugs[k][0]->x, t->placedLugs[k][1]->y);
          out += buffer;
        }
      }
    }
    out += "\n";
  }
  return out;
}

}  // namespace

// ---- Whole unfoldings with a known answer -----------------------------------------------------

TEST(Compact, ACubeUnfoldsIntoOnePieceWithATabOnEveryCut) {
  LinkedHost h;
  h.add(cube(10));
  const foldra::Settings s = compactSettings(1.5);
  ASSERT_TRUE(h.unfold(s));
  EXPECT_EQ(validPieces(), 1);
  const Cuts cuts = cutsOf();
  // Twelve triangles in one piece: eleven folds of the eighteen edges; the other seven are cut.
  EXPECT_EQ(cuts.edges, 7);
  EXPECT_EQ(cuts.tabbed, 7);
  EXPECT_EQ(checked(s), "");
}

TEST(Compact, ACylindersWallUnrollsIntoOneStripCutOnce) {
  LinkedHost h;
  h.add(openCylinder(12, 3));
  const foldra::Settings s = compactSettings(0.8);
  ASSERT_TRUE(h.unfold(s));
  // The wall is developable: it lies flat in one piece, cut along one line from rim to rim.
  EXPECT_EQ(validPieces(), 1);
  const Cuts cuts = cutsOf();
  EXPECT_EQ(cuts.edges, 3);
  EXPECT_EQ(cuts.tabbed, 3);
  EXPECT_EQ(checked(s), "");
}

TEST(Compact, ASeamThatOpensLessThanTheFoldShutWidthIsFoldedShutAndOnlyThen) {
  // A low cone of eight faces lies flat in one piece but for one seam from the apex to the
  // ring, which opens 0.0745 at the ring: its angles fall 0.43 degrees short of a full turn.
  // With bare seams allowed it stays one piece and the seam stays without a tab.
  for (const double foldShut : {0.0, 0.05, 0.2}) {
    LinkedHost h;
    h.add(cone(8, 10, 0.5));
    foldra::Settings s = compactSettings(1.5);
    s.Nahtspalt = foldShut;
    s.OffeneNaehte = true;
    ASSERT_TRUE(h.unfold(s));
    EXPECT_EQ(validPieces(), 1) << foldShut;
    const Cuts cuts = cutsOf();
    EXPECT_EQ(cuts.edges, foldShut > 0.0745 ? 0 : 1) << foldShut;
    // The open seam is too narrow for a tab to stand in it.
    EXPECT_EQ(cuts.tabbed, 0) << foldShut;
    EXPECT_EQ(checked(s), "") << foldShut;
  }
}

TEST(Compact, AConesSeamTooNarrowForATabIsCutSoThatEveryEdgeHasOne) {
  // The same cone by default: the seam that opens 0.43 degrees has no room for a tab, so the
  // cone is cut into two pieces, and each of the two seams between them carries a tab. A seam
  // narrow enough to fold shut still folds shut, in one piece.
  for (const double foldShut : {0.0, 0.05, 0.2}) {
    LinkedHost h;
    h.add(cone(8, 10, 0.5));
    foldra::Settings s = compactSettings(1.5);
    s.Nahtspalt = foldShut;
    ASSERT_TRUE(h.unfold(s));
    const Cuts cuts = cutsOf();
    if (foldShut > 0.0745) {
      EXPECT_EQ(validPieces(), 1);
      EXPECT_EQ(cuts.edges, 0);
    } else {
      EXPECT_EQ(validPieces(), 2) << foldShut;
      EXPECT_EQ(cuts.edges, 2) << foldShut;
      EXPECT_EQ(cuts.tabbed, 2) << foldShut;
    }
    EXPECT_EQ(checked(s), "") << foldShut;
  }
}

TEST(Compact, AFanThatClosesWithoutRoomIsCutOnlyAlongEdgesThatTakeATab) {
  // A taller cone of twelve faces opens about 40 degrees; a flatter one of twenty faces a
  // degree or two: every cut edge of each has a tab, whatever the number of pieces.
  for (const double height : {0.3, 1.0, 4.0}) {
    LinkedHost h;
    h.add(cone(20, 10, height));
    const foldra::Settings s = compactSettings(1.5);
    ASSERT_TRUE(h.unfold(s));
    const Cuts cuts = cutsOf();
    EXPECT_EQ(cuts.tabbed, cuts.edges) << height;
    EXPECT_EQ(checked(s), "") << height;
  }
}

TEST(Compact, PiecesThatTheHandOverLeftInPartsAreSplitIntoWholePieces) {
  // Without tabs and with bare seams allowed, the hand-over and the regrowth of a bumpy sphere
  // of 1,280 faces used to leave pieces whose triangles met only at corners (one of 290
  // triangles fell into two parts of 179 and 111). Each part is now a piece of its own.
  for (unsigned seed : {1u, 2u, 3u}) {
    LinkedHost h;
    h.add(bumpySphere(seed, 3));
    foldra::Settings s = compactSettings(1.5);
    s.Laschenflag = false;
    s.OffeneNaehte = true;
    ASSERT_TRUE(h.unfold(s));
    EXPECT_EQ(checked(s), "") << "seed " << seed;
  }
}

TEST(Compact, APageWhoseHeightIsNotANumberHoldsNoJoinAndNoTab) {
  LinkedHost h;
  h.add(cube(10));
  foldra::Settings s = compactSettings(1.5);
  s.Seitenflag = true;
  s.Seitenhoehe = std::numeric_limits<double>::quiet_NaN();
  ASSERT_TRUE(h.unfold(s));
  EXPECT_EQ(validPieces(), 12);
  EXPECT_EQ(cutsOf().tabbed, 0);
  EXPECT_EQ(checked(s), "");
}

TEST(Compact, ASingleTriangleTakesNoPartnerThatWouldLeaveThePage) {
  // A slab of 5 x 80 x 190 on a page 36.56 wide: its large faces' triangles each stand alone,
  // wider than the page, and a single one must not pair with a neighbour into a piece wider
  // still.
  auto slab = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  slab->selected = true;
  for (const float x : {-2.5f, 2.5f}) {
    for (const float y : {-40.0f, 40.0f}) {
      for (const float z : {-95.0f, 95.0f}) slab->points.push_back({x, y, z});
    }
  }
  slab->polygons = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
  LinkedHost h;
  h.add(std::move(slab));
  foldra::Settings s = compactSettings(1.5);
  s.Laschenflag = false;
  s.Seitenflag = true;
  s.Seitenbreite = 36.56;
  s.Seitenhoehe = 1e9;
  ASSERT_TRUE(h.unfold(s));
  EXPECT_EQ(checked(s), "");
}

TEST(Compact, WithBareSeamsFewerPiecesThanLongestEdgeAndNoSingleTriangles) {
  for (unsigned seed : {1u, 2u, 3u}) {
    int longestEdge = 0, compact = 0;
    for (const bool isCompact : {false, true}) {
      LinkedHost h;
      h.add(bumpySphere(seed, 3));
      foldra::Settings s = compactSettings(0.3);
      s.OffeneNaehte = true;
      if (!isCompact) s.Abwicklungsart = foldra::kUnfoldLongestEdge;
      ASSERT_TRUE(h.unfold(s));
      (isCompact ? compact : longestEdge) = validPieces();
      if (!isCompact) continue;
      for (const auto& c : run.containers) {
        if (c->valid) {
          EXPECT_GT(c->triangles.size(), 1u) << "seed " << seed;
        }
      }
      EXPECT_EQ(checked(s), "") << "seed " << seed;
    }
    EXPECT_LT(compact, longestEdge / 2) << "seed " << seed;
  }
}

TEST(Compact, JoinsTestFacesNotTabs) {
  // Tabs wider than the triangles stop longest edge's joins; compact's joins never see them.
  LinkedHost h;
  h.add(icosphere(1));
  foldra::Settings s = compactSettings(20);
  s.OffeneNaehte = true;
  ASSERT_TRUE(h.unfold(s));
  const int withWideTabs = validPieces();
  LinkedHost other;
  other.add(icosphere(1));
  s.Laschenflag = false;
  ASSERT_TRUE(other.unfold(s));
  EXPECT_EQ(validPieces(), withWideTabs);
}

TEST(Compact, SameInputSameResult) {
  std::string first;
  for (int i = 0; i < 2; ++i) {
    LinkedHost h;
    h.add(bumpySphere(7, 3));
    foldra::Settings s = compactSettings(0.4);
    s.Seitenflag = true;
    s.Seitenbreite = 14;
    s.Seitenhoehe = 10;
    ASSERT_TRUE(h.unfold(s));
    if (i == 0) {
      first = snapshot();
    } else {
      EXPECT_EQ(snapshot(), first);
    }
  }
}

TEST(Compact, BrokenMeshesGiveASoundResult) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    for (const bool page : {false, true}) {
      LinkedHost h;
      h.add(randomSoup(seed, 60));
      foldra::Settings s = compactSettings(0.5);
      s.Seitenflag = page;
      s.Seitenbreite = 6;
      s.Seitenhoehe = 5;
      ASSERT_TRUE(h.unfold(s));
      EXPECT_EQ(checked(s), "") << "seed " << seed << " page " << page;
    }
  }
}

// ---- Tabs -------------------------------------------------------------------------------------

TEST(CompactTabs, ShapeFollowsTheSideAndThePartnersRoom) {
  const double pi = std::numbers::pi;
  // A long side: a trapezoid with 45-degree ends, as deep as asked, outside the triangle (to
  // the right of A -> B).
  foldra::TabShape tab = foldra::tabShape({0, 0, 0}, {10, 0, 0}, 2, pi / 2, pi / 2);
  EXPECT_DOUBLE_EQ(tab.depth, 2);
  EXPECT_NEAR(tab.corner[1].x, 2, 1e-12);
  EXPECT_NEAR(tab.corner[1].y, -2, 1e-12);
  EXPECT_NEAR(tab.corner[0].x, 8, 1e-12);
  // A side too short for the depth at 45 degrees: the ends steepen up to 75 degrees and meet.
  tab = foldra::tabShape({0, 0, 0}, {1, 0, 0}, 1, pi / 2, pi / 2);
  EXPECT_NEAR(tab.depth, 1, 1e-12);
  EXPECT_NEAR(tab.corner[0].x, tab.corner[1].x, 1e-12) << "a triangle";
  tab = foldra::tabShape({0, 0, 0}, {1, 0, 0}, 5, pi / 2, pi / 2);
  EXPECT_NEAR(tab.depth, std::tan(75 * pi / 180) / 2, 1e-12) << "never deeper than its ends allow";
  // A partner with a sharp corner at one end keeps that end as shallow as the corner.
  tab = foldra::tabShape({0, 0, 0}, {10, 0, 0}, 2, pi / 12, pi / 2);
  EXPECT_NEAR(tab.corner[1].x, 2 / std::tan(pi / 12), 1e-9);
  EXPECT_NEAR(tab.corner[0].x, 8, 1e-12);
  // A side of no length carries none.
  EXPECT_EQ(foldra::tabShape({1, 1, 0}, {1, 1, 0}, 2, pi / 2, pi / 2).depth, 0);
  // Pulled back from A: a shallow end there, a steep one at B, as deep as those ends allow.
  tab = foldra::tabShapeWithEnds({0, 0, 0}, {4, 0, 0}, 2, pi / 6, pi / 2);
  EXPECT_NEAR(tab.depth, 4 / (std::sqrt(3.0) + 1 / std::tan(foldra::kSteepestTabEnd)), 1e-12) << "ends no steeper than 75 degrees";
  EXPECT_NEAR(tab.corner[1].x, tab.depth * std::sqrt(3.0), 1e-9);
  EXPECT_NEAR(tab.corner[1].y, -tab.depth, 1e-12);
}

TEST(CompactTabs, AnEndMayReachUnderAFlatNeighbourOfThePartnerAcrossACut) {
  // Three flat triangles, each a piece of its own: t below the side A -> B, g above it with a
  // corner of 3 degrees at A, and h beyond g's side A -> C. A tab on t folds under g; at A it
  // may reach on under h, which lies in g's plane and is glued to g in the model, so it is as
  // deep as ends of 45 degrees allow on a side of 1. A tab on g would fold under t, whose corner at B is as sharp: it has no room.
  const Vec3 A{0, 0, 0}, B{1, 0, 0}, C{1, 0.05, 0}, D{0, -0.05, 0}, E{0, 1, 0};
  const std::vector<std::array<Vec3, 3>> triangles = {{A, D, B}, {A, B, C}, {A, C, E}};
  const foldra::UnfoldOptions options = compactOptions(0.6);
  HandRun hand(triangles);
  foldra::prepareTriangles();
  foldra::createPieces();
  ASSERT_EQ(validPieces(), 3);
  EXPECT_EQ(foldra::placeTabs(run, options), 0) << "every cut edge carries a tab";
  const gt& t = hand[0];
  int side = -1;
  for (int k = 0; k < 3; ++k) {
    if (t.nb[k] == &hand[1]) side = k;
  }
  ASSERT_GE(side, 0);
  ASSERT_TRUE(t.placedLugs[side][0].has_value()) << "the tab stands on t, under g and h";
  EXPECT_NEAR(t.lugWidth[side], 0.5, 1e-12);
  EXPECT_EQ(checked(options), "");
}

TEST(CompactTabs, ATabWithoutRoomInANotchGoesToTheOtherSide) {
  // A flat U whose slot, 0.3 wide, is a piece of its own. A useful tab is 0.4 deep: on the U's
  // side of the slot's walls it would reach across the slot, so every wall's tab stands on the
  // slot piece, which has room all around.
  const double xs[] = {0, 1, 1.3, 2.3};
  const double ys[] = {0, 1, 1.3, 1.6, 1.9, 2.2};
  std::vector<std::array<Vec3, 3>> triangles;
  std::vector<bool> slot;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 5; ++j) {
      const Vec3 a{xs[i], ys[j], 0}, b{xs[i + 1], ys[j], 0}, c{xs[i + 1], ys[j + 1], 0}, d{xs[i], ys[j + 1], 0};
      triangles.push_back({a, b, c});
      triangles.push_back({a, c, d});
      slot.push_back(i == 1 && j > 0);
      slot.push_back(i == 1 && j > 0);
    }
  }
  const foldra::UnfoldOptions options = compactOptions(1.2);
  HandRun hand(triangles);
  foldra::prepareTriangles();
  foldra::createPieces();
  {
    foldra::Joiner joiner(run, foldra::PageLimit{});
    for (std::size_t i = 0; i < triangles.size(); ++i) {
      for (int k = 0; k < 3; ++k) {
        gt& t = hand[i];
        const gt* g = t.nb[k];
        if (!g || joiner.pieceOf(t) == joiner.pieceOf(*g)) continue;
        std::size_t j = 0;
        while (&hand[j] != g) ++j;
        if (slot[i] == slot[j]) joiner.join(t, k, true);
      }
    }
    joiner.finish();
  }
  ASSERT_EQ(validPieces(), 2);
  EXPECT_EQ(foldra::placeTabs(run, options), 0);
  int walls = 0;
  for (std::size_t i = 0; i < triangles.size(); ++i) {
    const gt& t = hand[i];
    for (int k = 0; k < 3; ++k) {
      const gt* g = t.nb[k];
      if (!g || t.containerIndex == g->containerIndex) continue;
      // A wall of the slot runs along y.
      if (t.P[k].x != t.P[(k + 1) % 3].x) continue;
      ++walls;
      EXPECT_EQ(t.placedLugs[k][0].has_value(), slot[i]) << "triangle " << i << " side " << k;
    }
  }
  EXPECT_EQ(walls, 16) << "eight wall sides, seen from both pieces";
  EXPECT_EQ(checked(options), "");
}

// ---- Handing small pieces over ------------------------------------------------------------------

TEST(CompactHandOver, APieceTooLargeToJoinWholeGoesToBothNeighbours) {
  // Four unit squares in a row on a page 2.5 wide: pieces | 1 | 2 3 | 4 |. The middle piece
  // fits beside neither neighbour whole, but each of its squares fits beside one of them.
  std::vector<std::array<Vec3, 3>> triangles;
  for (int i = 0; i < 4; ++i) {
    const Vec3 a{1.0 * i, 0, 0}, b{1.0 * i + 1, 0, 0}, c{1.0 * i + 1, 1, 0}, d{1.0 * i, 1, 0};
    triangles.push_back({a, b, c});
    triangles.push_back({a, c, d});
  }
  HandRun hand(triangles);
  foldra::prepareTriangles();
  foldra::createPieces();
  const foldra::PageLimit page{true, 2.5, 2.5};
  {
    foldra::Joiner joiner(run, page);
    auto group = [](std::size_t i) { return i / 2 == 0 ? 0 : (i / 2 == 3 ? 2 : 1); };
    for (std::size_t i = 0; i < triangles.size(); ++i) {
      for (int k = 0; k < 3; ++k) {
        gt& t = hand[i];
        const gt* g = t.nb[k];
        if (!g || joiner.pieceOf(t) == joiner.pieceOf(*g)) continue;
        std::size_t j = 0;
        while (&hand[j] != g) ++j;
        if (group(i) == group(j)) {
          ASSERT_TRUE(joiner.join(t, k, true));
        }
      }
    }
    joiner.finish();
  }
  ASSERT_EQ(validPieces(), 3);
  EXPECT_EQ(foldra::handOverPieces(run, page), 1);
  EXPECT_EQ(validPieces(), 2);
  for (const auto& c : run.containers) {
    if (!c->valid) continue;
    EXPECT_EQ(c->triangles.size(), 4u);
    foldra::Box box{1e300, 1e300, -1e300, -1e300};
    for (const gt* t : c->triangles) {
      for (const Vec3& q : t->p) box.extend(q);
    }
    EXPECT_LE(box.width(), 2.5 + 1e-12);
    EXPECT_LE(box.height(), 2.5 + 1e-12);
  }
  CheckOptions options;
  options.tabs = false;
  EXPECT_TRUE(checkUnfolding(options).empty());
}

// ---- Laying two pieces out afresh as one ----------------------------------------------------------

namespace {

/// An open cone of six faces around its apex, made into two pieces by hand: faces 0 to 3 and
/// faces 4 and 5, each joined along its shared sides.
std::unique_ptr<HandRun> twoPiecesOfACone() {
  std::vector<std::array<Vec3, 3>> triangles;
  const Vec3 apex{0, 0, 0.5};
  auto ring = [](int i) {
    const double a = std::numbers::pi / 3 * (i % 6);
    return Vec3{std::cos(a), std::sin(a), 0};
  };
  for (int i = 0; i < 6; ++i) triangles.push_back({apex, ring(i), ring(i + 1)});
  auto hand = std::make_unique<HandRun>(triangles);
  foldra::prepareTriangles();
  foldra::createPieces();
  foldra::Joiner joiner(run, foldra::PageLimit{});
  for (std::size_t i = 0; i + 1 < 6; ++i) {
    if (i == 3) continue;
    gt& t = (*hand)[i];
    for (int k = 0; k < 3; ++k) {
      if (t.nb[k] == &(*hand)[i + 1]) {
        EXPECT_TRUE(joiner.join(t, k, true));
      }
    }
  }
  joiner.finish();
  return hand;
}

}  // namespace

TEST(CompactRegrow, TwoPiecesOfAConeBecomeOneWithoutMoreBareEdges) {
  const foldra::UnfoldOptions options = compactOptions(0.15);
  const auto hand = twoPiecesOfACone();
  ASSERT_EQ(validPieces(), 2);
  foldra::placeTabs(run, options);
  const Cuts before = cutsOf();
  EXPECT_EQ(foldra::regrowPieces(run, options, foldra::PageLimit{}), 1);
  EXPECT_EQ(validPieces(), 1);
  // The cone closes round its apex but for one slit; its tabs leave no more edges bare.
  const Cuts after = cutsOf();
  EXPECT_EQ(after.edges, 1);
  EXPECT_LE(after.edges - after.tabbed, before.edges - before.tabbed);
  EXPECT_EQ(checked(options), "");
}

TEST(CompactRegrow, APairThatDoesNotFitThePageStaysAsItWas) {
  const foldra::UnfoldOptions options = compactOptions(0.15);
  const auto hand = twoPiecesOfACone();
  // A page just large enough for the larger piece: the whole cone laid flat, a disc of radius
  // 1.12 less a slit of 41 degrees, is at least 2.23 across.
  foldra::Box largest{0, 0, 0, 0};
  for (const auto& c : run.containers) {
    if (!c->valid || c->triangles.size() != 4) continue;
    largest = {1e300, 1e300, -1e300, -1e300};
    for (const gt* t : c->triangles) {
      for (const Vec3& q : t->p) largest.extend(q);
    }
  }
  const double side = std::max(largest.width(), largest.height()) + 1e-9;
  ASSERT_LT(side, 2.2);
  foldra::placeTabs(run, options);
  const std::string was = snapshot();
  EXPECT_EQ(foldra::regrowPieces(run, options, foldra::PageLimit{true, side, side}), 0);
  EXPECT_EQ(snapshot(), was);
  EXPECT_EQ(validPieces(), 2);
}
