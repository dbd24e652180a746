// The compact unfolding: few, large pieces for people who cut and glue.
//
// Joins test faces and the page, never tabs; the tabs are placed once the cuts are known
// (place_tabs.cpp), where they fit. The pieces come from rounds of three steps:
//
// 1. Greedy joins over the edges, flattest fold first, with the fast joins (Joiner): so the
//    cuts run along sharp edges and flat regions stay whole. Edges too short to carry a useful
//    tab on either side come first: a cut there would stay bare.
// 2. Small pieces are handed over to their neighbours triangle by triangle (hand_over.cpp): the
//    neighbours keep their layout, and a small piece goes when every one of its triangles found
//    a place on one of them. Smallest pieces first.
// 3. The result is scored: pieces, with single triangles and small pieces counted extra, since a
//    few more pieces are better than a scatter of crumbs. The edges of the pieces that stayed
//    small move to the front of the order for the next round, where their triangles join a
//    neighbour while every piece is still small.
//
// The best round is replayed. Then pairs of neighbouring pieces are laid out afresh as one
// where that fits (regrow.cpp): the smaller piece and the larger one's triangles next to it are
// laid again onto the rest, so the seam between them moves. A merge stays only when the tabs of
// the whole pattern leave no more edges bare than before. Unless bare seams are allowed, the
// pieces are then cut again where a seam has no room for a tab (buildable.cpp), and longest
// edge's pieces, recut the same way, are kept instead where they make fewer. The number of
// rounds, of placements and of such checks depends on the size of the mesh alone, so the result
// never depends on the speed of the machine.
#include "unfold/compact.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "host/edge_marks.h"
#include "host/progress.h"
#include "unfold/compact_steps.h"
#include "unfold/joiner.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

/// Rounds for a mesh of n triangles: as many as fit this many triangle joins, at least one and
/// at most kMostRounds.
constexpr double kRoundWork = 40000;
constexpr int kMostRounds = 6;
/// A piece is small when it has less area than a square of this many tab depths on a side (or
/// at most kSmallTriangles triangles).
constexpr double kSmallSide = 2;
/// What a single-triangle piece and a small piece count beyond being a piece, when rounds are
/// compared.
constexpr double kSingleWeight = 10;
constexpr double kSmallWeight = 0.5;

/// How a round came out; lower scores are better.
struct Outcome {
  int pieces = 0, singles = 0, small = 0;
  double score() const { return pieces + kSingleWeight * singles + kSmallWeight * small; }
};

double areaOf(const gt& t) { return length(cross(t.P[1] - t.P[0], t.P[2] - t.P[0])) / 2; }

/// The two weighings of the hinges the rounds take turns with: the bend alone, and the bend
/// by the cube of the edge's shortness, so that long edges join first among similar bends. The
/// rounds then start from two different cuttings, of which neither is better on every mesh.
struct Weights {
  std::vector<double> bendOnly, byLength;

  explicit Weights(const CompactMesh& mesh) {
    const std::size_t n = mesh.hinges.size();
    bendOnly.resize(n);
    byLength.resize(n);
    double meanLength = 0;
    for (const Hinge& h : mesh.hinges) meanLength += h.length;
    meanLength /= std::max<double>(1, static_cast<double>(n));
    // Only a mesh of sides without length has none: every edge then weighs its bend alone.
    if (!(meanLength > 0)) meanLength = 1;
    for (std::size_t i = 0; i < n; ++i) {
      const Hinge& h = mesh.hinges[i];
      const double shortness = meanLength / std::max(h.length, 1e-12 * meanLength);
      bendOnly[i] = h.bend;
      byLength[i] = h.bend * shortness * shortness * shortness;
    }
  }
};

/// The order a round joins in: edges a person marked as never cut first, then promoted edges,
/// then those too short for a tab, then by weight; ties keep the order of the triangle lists.
void sortOrder(const CompactMesh& mesh, const std::vector<char>& promoted, const std::vector<double>& key, std::vector<std::uint32_t>& order) {
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const Hinge& x = mesh.hinges[a];
    const Hinge& y = mesh.hinges[b];
    const bool foldX = (x.t->marks[x.k] & kMarkFold) != 0, foldY = (y.t->marks[y.k] & kMarkFold) != 0;
    if (foldX != foldY) return foldX;
    if (promoted[a] != promoted[b]) return promoted[a] > promoted[b];
    if (x.bare != y.bare) return x.bare;
    if (key[a] != key[b]) return key[a] < key[b];
    return a < b;
  });
}

/// Promotes the edges of the pieces that stayed small: they go first next time.
void promoteSmallPieces(const RunState& state, const CompactMesh& mesh, std::vector<char>& promoted) {
  const auto small = [&](const gt& t) {
    return state.containers[static_cast<std::size_t>(t.containerIndex)]->triangles.size() <= kSmallTriangles;
  };
  for (std::size_t i = 0; i < mesh.hinges.size(); ++i) {
    const Hinge& h = mesh.hinges[i];
    const gt& g = *h.t->nb[h.k];
    if (h.t->containerIndex == g.containerIndex) continue;
    if (small(*h.t) || small(g)) promoted[i] = 1;
  }
}

/// One round: the greedy joins in the given order, then the small pieces handed over.
/// `progress` counts the hinges tried, from `done` on.
Outcome joinRound(RunState& state, const CompactMesh& mesh, const std::vector<std::uint32_t>& order, PageLimit page, double smallArea,
                  host::StageProgress& progress, std::int64_t done) {
  state.containers.clear();
  createPieces(state);
  {
    Joiner joiner(state, page);
    std::int64_t tried = 0;
    for (std::uint32_t i : order) {
      const Hinge& h = mesh.hinges[i];
      if (joiner.pieceOf(*h.t) != joiner.pieceOf(*h.t->nb[h.k])) joiner.join(*h.t, h.k, true);
      if ((++tried & 127) == 0) progress.step(done + tried);
    }
    joiner.finish();
  }
  handOver(state, mesh, page);
  progress.step(done + static_cast<std::int64_t>(order.size()));
  Outcome o;
  for (const auto& c : state.containers) {
    if (!c->valid) continue;
    ++o.pieces;
    double area = 0;
    for (const gt* t : c->triangles) area += areaOf(*t);
    if (c->triangles.size() == 1) ++o.singles;
    if (c->triangles.size() <= kSmallTriangles || area < smallArea) ++o.small;
  }
  return o;
}

int validPieceCount(const RunState& state) {
  int n = 0;
  for (const auto& c : state.containers) n += c->valid ? 1 : 0;
  return n;
}

/// True when every side with a neighbour is named back by it.
bool mutualNeighbours(const RunState& state) {
  for (const auto& list : state.gtvec) {
    for (const auto& t : list) {
      for (int k = 0; k < 3; ++k) {
        const gt* g = t->nb[k];
        if (g && (t->nbedge[k] < 0 || g->nb[t->nbedge[k]] != t.get() || !g->usable || !t->usable)) return false;
      }
    }
  }
  return true;
}

/// From this many triangles on, every seam's tab is found by recutting longest edge's pieces
/// alone (with 20,000 triangles and more the rounds are one).
constexpr std::size_t kSeedOnly = 20000;

/// Everything a finished layout holds: its pieces with their boxes, where every triangle lies,
/// and the tabs in both frames. Going back to it needs none of the steps that made it, so a
/// layout whose tabs no later step could make again (longest edge's own) can be kept.
class FinishedLayout {
 public:
  explicit FinishedLayout(const RunState& state) {
    // Sized before they are filled: on a large mesh the copy is a good part of the run's
    // memory, and vectors grown by doubling would hold up to twice that.
    std::size_t triangles = 0, points = 0, widths = 0;
    for (const auto& list : state.gtvec) {
      triangles += list.size();
      for (const auto& t : list) {
        for (int k = 0; k < 3; ++k) {
          points += (t->Lugs[k][0] ? 1 : 0) + (t->Lugs[k][1] ? 1 : 0) + (t->placedLugs[k][0] ? 1 : 0) + (t->placedLugs[k][1] ? 1 : 0);
          widths += t->lugWidth[k] != 0 ? 1 : 0;
        }
      }
    }
    triangles_.reserve(triangles);
    points_.reserve(points);
    widths_.reserve(widths);
    for (const auto& list : state.gtvec) {
      for (const auto& t : list) {
        // Only the tab corners that are there are kept, and a side's bits say which.
        std::uint16_t held = 0;
        for (int k = 0; k < 3; ++k) {
          const LugPoint* corners[4] = {&t->Lugs[k][0], &t->Lugs[k][1], &t->placedLugs[k][0], &t->placedLugs[k][1]};
          for (int c = 0; c < 4; ++c) {
            if (!*corners[c]) continue;
            held = static_cast<std::uint16_t>(held | 1u << (kBitsPerSide * k + c));
            points_.push_back(**corners[c]);
          }
          if (t->lugWidth[k] != 0) {
            held = static_cast<std::uint16_t>(held | 1u << (kBitsPerSide * k + 4));
            widths_.push_back(t->lugWidth[k]);
          }
        }
        triangles_.push_back({t.get(), t->containerIndex, held, t->foldedShut, {t->p[0], t->p[1], t->p[2]}});
      }
    }
    // A piece absorbed into another is skipped by every reader: only that it is dead is kept.
    count_ = state.containers.size();
    for (std::size_t i = 0; i < state.containers.size(); ++i) {
      const gtc& c = *state.containers[i];
      if (c.valid) pieces_.push_back({i, c.triangles, c.trans, c.rot, c.pivot, c.box});
    }
  }

  void restore(RunState& state) const {
    std::size_t point = 0, width = 0;
    for (const Triangle& s : triangles_) {
      gt& t = *s.t;
      t.containerIndex = s.piece;
      t.foldedShut = s.foldedShut;
      for (int k = 0; k < 3; ++k) {
        t.p[k] = s.p[static_cast<std::size_t>(k)];
        LugPoint* corners[4] = {&t.Lugs[k][0], &t.Lugs[k][1], &t.placedLugs[k][0], &t.placedLugs[k][1]};
        for (int c = 0; c < 4; ++c) {
          if ((s.held >> (kBitsPerSide * k + c)) & 1u) {
            *corners[c] = points_[point++];
          } else {
            corners[c]->reset();
          }
        }
        t.lugWidth[k] = (s.held >> (kBitsPerSide * k + 4)) & 1u ? widths_[width++] : 0;
      }
    }
    state.containers.clear();
    state.containers.reserve(count_);
    for (std::size_t i = 0; i < count_; ++i) {
      state.containers.push_back(std::make_unique<gtc>());
      state.containers.back()->valid = false;
    }
    for (const Piece& p : pieces_) {
      gtc& piece = *state.containers[p.index];
      piece.valid = true;
      piece.triangles = p.triangles;
      piece.trans = p.trans;
      piece.rot = p.rot;
      piece.pivot = p.pivot;
      piece.box = p.box;
    }
  }

 private:
  /// Per side: one bit for each of the four tab corners (in the triangle's frame, then in the
  /// piece's), and one for a width.
  static constexpr int kBitsPerSide = 5;
  struct Triangle {
    gt* t;
    std::int32_t piece;
    std::uint16_t held;
    std::uint8_t foldedShut;
    std::array<Vec3, 3> p;
  };
  struct Piece {
    std::size_t index;
    std::vector<gt*> triangles;
    Vec3 trans;
    Mat3 rot;
    Vec3 pivot;
    Box box;
  };
  std::vector<Triangle> triangles_;
  std::vector<Vec3> points_;
  std::vector<double> widths_;
  std::size_t count_ = 0;
  std::vector<Piece> pieces_;
};

/// How a finished candidate came out: cut edges without a tab that could carry one first,
/// then pieces. An edge too short for a useful tab is no fault of either candidate.
struct Standing {
  int bare = 0, pieces = 0;
  Standing(const RunState& state, const UnfoldOptions& options)
      : bare(bareTabbableSeams(state, options)), pieces(validPieceCount(state)) {}
  bool better(const Standing& o) const { return bare != o.bare ? bare < o.bare : pieces < o.pieces; }
};

/// Longest edge's own pieces and tabs, as that method makes them with the run's options, from
/// the triangles alone: whatever the run state held before is dropped.
void longestEdge(RunState& state, const UnfoldOptions& options) {
  foldSeamsShut(state, 0);
  clearTabs(state);
  state.containers.clear();
  createTabs();
  Algokante(options);
}

/// Longest edge's pieces (as longestEdge left them), their tabs taken off, with compact's tabs,
/// recut until every seam that can carry a tab has one.
void recutLongestEdge(RunState& state, const CompactMesh& mesh, PageLimit page, const UnfoldOptions& options) {
  // On large meshes handing the small pieces over cost more seams than it saved on the meshes
  // measured; below, where compact's own joins are a candidate too, it mostly saves pieces.
  giveEverySeamATab(state, mesh, page, options, mesh.triangles.size() < kSeedOnly);
}

/// True when every piece, its tabs included, keeps to the page. Compact's own steps keep to
/// it as they go; longest edge's result is measured before it may stand.
bool keepsToPage(const RunState& state, const PageLimit& page) {
  if (!page.on) return true;
  std::vector<std::optional<Box>> boxes(state.containers.size());
  for (const auto& list : state.gtvec) {
    for (const auto& t : list) {
      if (t->containerIndex < 0) continue;
      auto& box = boxes[static_cast<std::size_t>(t->containerIndex)];
      if (!box) box = flatBox(t->p[0], t->p[1], t->p[2]);
      for (int k = 0; k < 3; ++k) {
        box->extend(t->p[k]);
        for (const LugPoint& corner : t->placedLugs[k]) {
          if (corner) box->extend(*corner);
        }
      }
    }
  }
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    if (boxes[i] && state.containers[i]->valid && !page.holds(*boxes[i])) return false;
  }
  return true;
}

/// The candidates that start from longest edge's joins: its own result, and its pieces recut.
/// The run state ends as the better of the two, or as `present` where neither is better than
/// it; ties keep the recut pieces over longest edge's own, and `present` over both. Without a
/// mesh, the mesh is made once longest edge has joined, so that it and longest edge's charts
/// are not held at once (on a large mesh the two are a good part of the run's memory).
void bestFromLongestEdge(RunState& state, const CompactMesh* mesh, PageLimit page, const UnfoldOptions& options,
                         const FinishedLayout* present) {
  std::optional<Standing> presentStanding;
  if (present) presentStanding.emplace(state, options);
  longestEdge(state, options);
  std::optional<CompactMesh> ownMesh;
  if (!mesh) mesh = &ownMesh.emplace(state, options.usefulDepth());
  // Longest edge does not keep its tabs to the page: where they leave it, its own result is
  // no candidate (a page of a size that is not a number holds no piece at all).
  const bool ownCounts = keepsToPage(state, options.page);
  const Standing own(state, options);
  const FinishedLayout ownLayout(state);
  recutLongestEdge(state, *mesh, page, options);
  const Standing recut(state, options);
  const bool ownWins = ownCounts && own.better(recut);
  const Standing& best = ownWins ? own : recut;
  if (presentStanding && !best.better(*presentStanding)) {
    present->restore(state);
  } else if (ownWins) {
    ownLayout.restore(state);
  }
}

/// The page the joins keep to: room for a useful tab beyond every side of a piece.
PageLimit joinPage(const UnfoldOptions& options) {
  const double room = 2 * options.usefulDepth();
  return PageLimit{options.page.on, options.page.width - room, options.page.height - room};
}

}  // namespace

void Compact(RunState& state, const UnfoldOptions& options) {
  const double depth = options.tabDepth;
  // Longest edge's joins keep room for a tab at every join: its cuts, given compact's tabs and
  // recut the same way, are the other candidate where every seam must carry a tab. Its stage
  // works on the module's own run state, and only edges whose two faces name each other are
  // tabbed alike by both. On large meshes it is the only candidate: there it always made fewer
  // pieces, and the time goes to one recutting instead of two.
  const bool seed = !options.bareSeams && options.placesTabs() && &state == &run && mutualNeighbours(state);
  std::size_t triangles = 0;
  for (const auto& list : state.gtvec) triangles += list.size();
  if (seed && triangles >= kSeedOnly) {
    bestFromLongestEdge(state, nullptr, joinPage(options), options, nullptr);
    return;
  }
  const CompactMesh mesh(state, options.usefulDepth());
  // A piece is small next to its tabs; without a tab depth to measure by, by its triangles alone.
  const double smallArea = depth > 0 && std::isfinite(depth) ? (kSmallSide * depth) * (kSmallSide * depth) : 0;
  const PageLimit page = joinPage(options);
  // Where a person marked every edge that could hinge (an editor pins the pieces it shows),
  // the marks decide the joins: one round makes them. Pieces that came from longest edge's
  // joins come back from them, as before: they test tabs as they join, compact's joins keep
  // room for tabs, so each gives back only its own.
  const bool pinned = !mesh.hinges.empty() && std::all_of(mesh.hinges.begin(), mesh.hinges.end(), [](const Hinge& h) {
    return (h.t->marks[h.k] & kMarkFold) != 0;
  });
  const std::size_t n = mesh.hinges.size();
  const int rounds = pinned ? 1 : std::clamp(static_cast<int>(kRoundWork / std::max<double>(1, static_cast<double>(mesh.triangles.size()))), 1, kMostRounds);
  const Weights weights(mesh);
  std::vector<char> promoted(n, 0);
  std::vector<std::uint32_t> order(n), best;
  double bestScore = 0;
  int bestRound = -1;
  // The rounds and the best one's replay, by the hinges each tries.
  const std::int64_t perRound = static_cast<std::int64_t>(n);
  host::StageProgress progress("Cutting into pieces", perRound * (rounds + (rounds > 1 ? 1 : 0)));
  for (int round = 0; round < rounds; ++round) {
    sortOrder(mesh, promoted, round % 2 == 0 ? weights.bendOnly : weights.byLength, order);
    const Outcome o = joinRound(state, mesh, order, page, smallArea, progress, perRound * round);
    if (bestRound < 0 || o.score() < bestScore) {
      bestScore = o.score();
      bestRound = round;
      best = order;
    }
    if (round + 1 < rounds) promoteSmallPieces(state, mesh, promoted);
  }
  if (bestRound >= 0 && bestRound + 1 != rounds) joinRound(state, mesh, best, page, smallArea, progress, perRound * rounds);
  regrowAndPlaceTabs(state, mesh, page, options);
  // The hand-over, the regrowth and the seams folded shut can leave a piece whose triangles
  // meet only at corners: cut out, it would fall apart.
  if (splitIntoParts(state, mesh) > 0) {
    clearTabs(state);
    placeTabs(state, options);
  }
  if (options.bareSeams) return;
  giveEverySeamATab(state, mesh, page, options, true);
  if (!seed) return;
  const FinishedLayout compact(state);
  bestFromLongestEdge(state, &mesh, page, options, &compact);
}

}  // namespace foldra
