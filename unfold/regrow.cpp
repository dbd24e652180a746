// The regrowth of the compact unfolding: pairs of neighbouring pieces laid out afresh as one.
// The smaller piece and the larger one's triangles next to it are laid again, triangle by
// triangle, onto the rest of the larger one; where the hand-over found no room, moving the seam
// into the larger piece often makes some. A merge stays only when the tabs of the whole pattern
// leave no more edges bare than before.
#include <algorithm>
#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "geometry/kernel.h"
#include "host/progress.h"
#include "unfold/box_tree.h"
#include "unfold/compact.h"
#include "unfold/compact_steps.h"
#include "unfold/joiner.h"
#include "unfold/laying.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

/// Laying pairs of pieces out afresh stops after this many placements per triangle.
constexpr double kRegrowWork = 40;
/// Merges checked against the tabs: as many as fit this many triangles' tab placements.
constexpr double kCheckWork = 48000;
/// How far into the larger piece its triangles are laid again, in steps from the smaller one.
constexpr int kMostRelaidSteps = 3;

/// Lays part of a piece out afresh: the triangles of `fixed` stay where they are, and the
/// triangles of `loose` are laid one at a time across a side of a triangle laid before, each
/// tested as the joins test against the faces laid so far. Either those nearest the fixed ones
/// first (breadth first) or the flattest side first.
class Regrower {
 public:
  Regrower(const CompactMesh& mesh, PageLimit page) : mesh_(mesh), test_(page, mesh.extent), mark_(mesh.triangles.size(), 0) {}

  /// Placements tried so far.
  long work = 0;

  /// True when every triangle of `loose` found a place, within `limit` placements; then the
  /// flat corners of `loose` hold the new layout, and `laid` lists fixed and loose triangles in
  /// the order they were laid. Nothing changes otherwise.
  bool grow(const std::vector<gt*>& fixed, const std::vector<gt*>& loose, bool breadthFirst, long limit, std::vector<gt*>& laid) {
    for (gt* t : loose) mark_[mesh_.id(*t)] = kWaiting;
    tree_.clear();
    at_.clear();
    laid.clear();
    index_.clear();
    Frontier frontier(breadthFirst);
    Box box{0, 0, 0, 0};
    const bool ok = layFixed(fixed, laid, frontier, box);
    const std::size_t want = fixed.size() + loose.size();
    // A triangle is tested against the faces laid so far.
    auto faces = [&](const Box& reach, auto&& overlaps) {
      return tree_.query(reach, [&](std::uint32_t i) { return overlaps(*laid[i], at_[i].data()); });
    };
    while (ok && laid.size() < want && !frontier.empty() && limit-- > 0) {
      const LaySide step = frontier.take();
      gt& g = *step.from->nb[step.side];
      if (mark_[mesh_.id(g)] != kWaiting) continue;
      ++work;
      Laid at;
      if (!layAcross(test_, *step.from, step.side, at_[index_.at(step.from)].data(), box, faces, at)) continue;
      lay(g, at, step.depth, laid, frontier);
    }
    const bool whole = ok && laid.size() == want;
    for (gt* t : laid) mark_[mesh_.id(*t)] = kElsewhere;
    for (gt* t : loose) mark_[mesh_.id(*t)] = kElsewhere;
    if (!whole) return false;
    for (std::size_t i = fixed.size(); i < laid.size(); ++i) {
      for (int k = 0; k < 3; ++k) laid[i]->p[k] = at_[i][static_cast<std::size_t>(k)];
    }
    return true;
  }

 private:
  static constexpr char kElsewhere = 0, kWaiting = 1, kPlaced = 2;

  /// Lays the triangles that stay where they are; `box` becomes their box. False when there
  /// are none, or one whose box is not finite.
  bool layFixed(const std::vector<gt*>& fixed, std::vector<gt*>& laid, Frontier& frontier, Box& box) {
    bool ok = !fixed.empty();
    for (gt* t : fixed) {
      const Laid at{{t->p[0], t->p[1], t->p[2]}, flatBox(t->p[0], t->p[1], t->p[2])};
      ok &= at.box.finite();
      box = laid.empty() ? at.box : box.unite(at.box);
      lay(*t, at, 0, laid, frontier);
      ++work;
    }
    return ok;
  }

  /// Puts g where it was laid and offers its sides towards triangles still waiting.
  void lay(gt& g, const Laid& at, int depth, std::vector<gt*>& laid, Frontier& frontier) {
    mark_[mesh_.id(g)] = kPlaced;
    tree_.insert(static_cast<std::uint32_t>(laid.size()), at.box);
    index_.emplace(&g, laid.size());
    laid.push_back(&g);
    at_.push_back(at.p);
    for (int k = 0; k < 3; ++k) {
      const gt* n = g.nb[k];
      if (n && g.nbedge[k] >= 0 && mark_[mesh_.id(*n)] == kWaiting && n->usable && hingeable(g, k)) {
        frontier.offer(&g, k, mesh_.bend(g, k), depth + 1);
      }
    }
  }

  const CompactMesh& mesh_;
  JoinTest test_;
  std::vector<char> mark_;
  /// The triangles laid so far: by their boxes, where each lies, and by triangle.
  BoxTree tree_;
  std::vector<std::array<Vec3, 3>> at_;
  std::unordered_map<const gt*, std::size_t> index_;
};

/// What became of one try at merging a pair.
enum class Tried {
  /// No layout of the pair was found.
  kNoLayout,
  /// A layout was found and refused.
  kRefused,
  /// The pair is one piece now.
  kMerged,
  /// The placements or the checks are used up: nothing more is tried.
  kOutOfWork,
};

/// Pieces joined two at a time by laying the smaller one and the triangles of the larger one
/// next to it out afresh onto the rest of the larger one (Regrower): smaller pieces first, each
/// with its neighbours smallest first, a step further into the larger piece at each try, breadth
/// first, then flattest first. `accept()` says whether the merged piece, already in the run
/// state, may stay; when it says no, the two pieces are put back as they were and the next pair
/// follows. Stops after `budget` placements or `checks` calls of accept.
class PairMerger {
 public:
  PairMerger(RunState& state, const CompactMesh& mesh, PageLimit page, long budget, int checks)
      : state_(state), mesh_(mesh), regrower_(mesh, page), budget_(budget), checks_(checks), near_(mesh.triangles.size(), 0) {}

  /// Answers the number of pieces that went.
  template <class Accept>
  int run(Accept& accept) {
    int went = 0;
    const std::vector<std::size_t> order = bySize();
    host::StageProgress progress("Laying pairs of pieces out afresh", static_cast<std::int64_t>(order.size()));
    std::int64_t done = 0;
    for (std::size_t a : order) {
      progress.step(done++);
      if (!state_.containers[a]->valid) continue;
      const Tried tried = mergeWithANeighbour(a, accept);
      if (tried == Tried::kMerged) ++went;
      if (tried == Tried::kOutOfWork) break;
    }
    return went;
  }

 private:
  /// True when piece x comes before piece y: fewer triangles, or as many and earlier.
  bool smaller(std::size_t x, std::size_t y) const {
    const std::size_t p = state_.containers[x]->triangles.size(), q = state_.containers[y]->triangles.size();
    return p < q || (p == q && x < y);
  }

  /// The valid pieces, smallest first.
  std::vector<std::size_t> bySize() const {
    std::vector<std::size_t> order;
    for (std::size_t c = 0; c < state_.containers.size(); ++c) {
      if (state_.containers[c]->valid) order.push_back(c);
    }
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return smaller(x, y); });
    return order;
  }

  /// The valid pieces next to piece a, smallest first.
  std::vector<std::size_t> neighboursOf(std::size_t a) const {
    std::vector<std::size_t> neighbours;
    for (const gt* t : state_.containers[a]->triangles) {
      for (int k = 0; k < 3; ++k) {
        const gt* h = t->nb[k];
        if (!h || h->containerIndex < 0 || static_cast<std::size_t>(h->containerIndex) == a) continue;
        const auto c = static_cast<std::size_t>(h->containerIndex);
        if (state_.containers[c]->valid && std::find(neighbours.begin(), neighbours.end(), c) == neighbours.end()) neighbours.push_back(c);
      }
    }
    std::sort(neighbours.begin(), neighbours.end(), [&](std::size_t x, std::size_t y) { return smaller(x, y); });
    return neighbours;
  }

  /// Piece a merged with the first of its neighbours that lets it.
  template <class Accept>
  Tried mergeWithANeighbour(std::size_t a, Accept& accept) {
    for (std::size_t b : neighboursOf(a)) {
      const std::size_t big = smaller(a, b) ? b : a, small = big == a ? b : a;
      const Tried tried = mergePair(big, small, accept);
      if (tried == Tried::kMerged || tried == Tried::kOutOfWork) return tried;
    }
    return Tried::kNoLayout;
  }

  /// The pair laid out afresh ever further into the larger piece, until a layout is found. Only
  /// the first layout found is checked: a pair whose layout leaves more edges bare rarely does
  /// better with another, and every check costs a tab placement.
  template <class Accept>
  Tried mergePair(std::size_t big, std::size_t small, Accept& accept) {
    bigList_ = state_.containers[big]->triangles;
    smallList_ = state_.containers[small]->triangles;
    if (holdsMarkedFold(bigList_) || holdsMarkedFold(smallList_)) return Tried::kNoLayout;
    for (int steps = 1; steps <= kMostRelaidSteps; ++steps) {
      const Tried tried = tryLayout(big, small, steps, accept);
      if (tried != Tried::kNoLayout) return tried;
    }
    return Tried::kNoLayout;
  }

  /// One layout of the pair: the small piece and the large one's triangles up to `steps` steps
  /// from it laid again onto the rest of the large one, breadth first, else flattest first.
  template <class Accept>
  Tried tryLayout(std::size_t big, std::size_t small, int steps, Accept& accept) {
    splitLarger(big, steps);
    was_.clear();
    for (gt* t : loose_) was_.push_back({t, {t->p[0], t->p[1], t->p[2]}});
    for (const bool breadthFirst : {true, false}) {
      if (regrower_.work >= budget_ || checks_ == 0) return Tried::kOutOfWork;
      if (!regrower_.grow(fixed_, loose_, breadthFirst, budget_ - regrower_.work, laid_)) continue;
      commit(big, small);
      --checks_;
      if (accept()) return Tried::kMerged;
      putBack(big, small);
      return Tried::kRefused;
    }
    return Tried::kNoLayout;
  }

  /// Splits the pair into the triangles laid again (`loose_`: the small piece, then the large
  /// one's triangles up to `steps` steps from it, breadth first) and those that stay (`fixed_`).
  void splitLarger(std::size_t big, int steps) {
    loose_ = smallList_;
    fixed_.clear();
    for (gt* t : loose_) near_[mesh_.id(*t)] = 1;
    for (std::size_t from = 0, to = loose_.size(), step = 1; step <= static_cast<std::size_t>(steps); ++step) {
      for (std::size_t i = from; i < to; ++i) addNearNeighbours(*loose_[i], big);
      from = to;
      to = loose_.size();
    }
    for (gt* t : bigList_) {
      if (!near_[mesh_.id(*t)]) fixed_.push_back(t);
    }
    for (gt* t : loose_) near_[mesh_.id(*t)] = 0;
  }

  /// Adds t's neighbours in piece `big` that are not loose yet to the loose triangles.
  void addNearNeighbours(const gt& t, std::size_t big) {
    for (int k = 0; k < 3; ++k) {
      gt* h = t.nb[k];
      if (!h || h->containerIndex != static_cast<std::int32_t>(big) || near_[mesh_.id(*h)]) continue;
      near_[mesh_.id(*h)] = 1;
      loose_.push_back(h);
    }
  }

  /// The pair as one piece in the run state, in the new layout.
  void commit(std::size_t big, std::size_t small) {
    auto& containers = state_.containers;
    containers[big]->triangles = laid_;
    for (gt* t : smallList_) t->containerIndex = static_cast<std::int32_t>(big);
    containers[small]->triangles.clear();
    containers[small]->valid = false;
  }

  /// The pair as it was before the commit.
  void putBack(std::size_t big, std::size_t small) {
    auto& containers = state_.containers;
    for (const Was& w : was_) {
      for (int k = 0; k < 3; ++k) w.t->p[k] = w.p[static_cast<std::size_t>(k)];
    }
    for (gt* t : smallList_) t->containerIndex = static_cast<std::int32_t>(small);
    containers[big]->triangles = bigList_;
    containers[small]->triangles = smallList_;
    containers[small]->valid = true;
  }

  /// Where a loose triangle lay before the pair was laid out afresh.
  struct Was {
    gt* t;
    std::array<Vec3, 3> p;
  };

  RunState& state_;
  const CompactMesh& mesh_;
  Regrower regrower_;
  long budget_;
  int checks_;
  /// The pair as it stood, its triangles split for the present layout, the layout, and where
  /// the loose triangles lay before it.
  std::vector<gt*> bigList_, smallList_, loose_, fixed_, laid_;
  std::vector<Was> was_;
  /// Per triangle: loose in the present split.
  std::vector<char> near_;
};

}  // namespace

void clearTabs(RunState& state) {
  for (auto& list : state.gtvec) {
    for (auto& t : list) {
      releaseTabs(*t);
      for (double& w : t->lugWidth) w = 0;
    }
  }
}

int regrowAndPlaceTabs(RunState& state, const CompactMesh& mesh, PageLimit page, const UnfoldOptions& options) {
  const int bareBefore = placeTabs(state, options);
  const int checks = static_cast<int>(kCheckWork / std::max<double>(1, static_cast<double>(mesh.triangles.size())));
  if (checks == 0) return 0;
  bool tabsStand = true;
  auto accept = [&] {
    clearTabs(state);
    tabsStand = placeTabs(state, options) <= bareBefore;
    return tabsStand;
  };
  PairMerger merger(state, mesh, page, static_cast<long>(kRegrowWork * static_cast<double>(mesh.triangles.size())), checks);
  const int went = merger.run(accept);
  // After a merge that was refused, the tabs are those of its layout.
  if (!tabsStand) {
    clearTabs(state);
    placeTabs(state, options);
  }
  return went;
}

int regrowPieces(RunState& state, const UnfoldOptions& options, PageLimit page) {
  const CompactMesh mesh(state, 0);
  return regrowAndPlaceTabs(state, mesh, page, options);
}

}  // namespace foldra
