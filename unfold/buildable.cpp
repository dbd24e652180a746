// Buildable pieces for the compact unfolding: every piece one sheet of paper held together by
// its folds, and a glue tab on every cut edge that is long enough to carry one.
//
// The joins and the regrowth decide the cuts by the faces; the tabs come after them. Where a
// cut edge is left without room for a tab, the cuts are changed there:
//
// - A seam inside one piece (a slit whose two copies lie side by side, mostly at a corner whose
//   triangles all lie in the piece but for that seam) gets room once its two sides lie in two
//   pieces: each side's tab then only has to keep clear of its own piece. The piece is split
//   along folds of its fold tree that lie between the seam's two sides; one split opens every
//   seam whose two sides it separates, so the folds that separate the most seams go first.
// - A seam between two pieces where neither side has room: its triangle on the smaller piece
//   becomes a piece of its own, whose sides carry tabs against nothing but each other.
//
// Then the tabs are placed again, and the passes repeat until no such edge is left or the
// passes run out. After the first passes the small pieces they leave are handed over to their
// neighbours as before the tabs; the passes after them open the seams that costs.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/edge_marks.h"
#include "unfold/compact.h"
#include "unfold/compact_steps.h"
#include "unfold/joiner.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

/// Passes of recutting at most; each is one tab placement. Every pass opens every bare seam
/// it finds, so the few that follow only mop up tabs that newly cut folds could not take.
constexpr int kMostPasses = 12;
/// Passes after which the small pieces are handed over; the rest only recut.
constexpr int kHandOverPasses = 2;

bool hasArea(const gt& t) { return t.normal != Vec3{}; }

/// True when side k of t and its neighbour name each other across the edge.
bool linked(const gt& t, int k) {
  const gt* g = t.nb[k];
  const int s = t.nbedge[k];
  return g && s >= 0 && g->usable && g->nb[s] == &t;
}

/// What a cut edge needs to carry a tab: the useful depth, and the page.
struct TabRoom {
  double useful;
  PageLimit page;
};

/// True when a tab of the useful depth could stand on side k of t with nothing else around:
/// the side is long enough for it between ends no steeper than kSteepestTabEnd nor than the
/// partner g's corners at the edge (its side s), and t with the tab fits the page.
bool couldCarry(const gt& t, int k, const gt& g, int s, const TabRoom& room) {
  // t's corner k is g's corner s + 1; t's corner k + 1 is g's corner s.
  const TabShape tab = tabShapeWithEnds(t.p[k], t.p[(k + 1) % 3], room.useful, std::min(kSteepestTabEnd, g.angle[(s + 1) % 3]),
                                        std::min(kSteepestTabEnd, g.angle[s]));
  if (!usefulTab(tab.depth, room.useful)) return false;
  Box box = flatBox(t.p[0], t.p[1], t.p[2]);
  box.extend(tab.corner[0]);
  box.extend(tab.corner[1]);
  return room.page.holds(box);
}

/// True when the cut edge could carry a useful tab on one of its sides: on the side a person
/// chose for it, and not at all where they chose none.
bool tabbable(const gt& t, int k, const TabRoom& room) {
  const gt& g = *t.nb[k];
  const int s = t.nbedge[k];
  if (!hasArea(t) || !hasArea(g) || ((t.marks[k] | g.marks[s]) & kMarkNoTab) != 0) return false;
  const bool onT = (t.marks[k] & kMarkTab) != 0, onG = (g.marks[s] & kMarkTab) != 0;
  return ((onT || !onG) && couldCarry(t, k, g, s, room)) || ((onG || !onT) && couldCarry(g, s, t, k, room));
}

/// A cut edge that carries no tab though it could, seen from the triangle created first.
struct BareSeam {
  gt* t;
  int k;
  gt* g;
};

std::vector<BareSeam> bareSeams(const RunState& state, const TabRoom& room) {
  std::vector<BareSeam> bare;
  for (const auto& list : state.gtvec) {
    for (const auto& t : list) {
      if (!t->usable || t->containerIndex < 0) continue;
      for (int k = 0; k < 3; ++k) {
        if (!linked(*t, k)) continue;
        gt* g = t->nb[k];
        const int s = t->nbedge[k];
        if (g->serial < t->serial || g->containerIndex < 0 || isFold(*t, k)) continue;
        if (t->placedLugs[k][0] || g->placedLugs[s][0] || !tabbable(*t, k, room)) continue;
        bare.push_back({t.get(), k, g});
      }
    }
  }
  return bare;
}

/// Moves the triangles of piece c whose label is not 0 into new pieces, one per label, in the
/// order of c's list; labels run from 0 to parts - 1.
void moveParts(RunState& state, std::size_t c, int parts, const std::vector<int>& label, const CompactMesh& mesh) {
  const std::size_t first = state.containers.size();
  for (int i = 1; i < parts; ++i) state.containers.push_back(std::make_unique<gtc>());
  std::vector<gt*> kept;
  for (gt* t : state.containers[c]->triangles) {
    const int l = label[mesh.id(*t)];
    if (l == 0) {
      kept.push_back(t);
      continue;
    }
    const std::size_t to = first + static_cast<std::size_t>(l - 1);
    t->containerIndex = static_cast<std::int32_t>(to);
    state.containers[to]->triangles.push_back(t);
  }
  state.containers[c]->triangles = std::move(kept);
}

/// The fold tree of a piece: from its first triangle, breadth first across its folds.
struct FoldTree {
  /// The piece's triangles in the order they were reached; the first is the root.
  std::vector<gt*> order;
  /// Per triangle (by the mesh's numbers): its parent, the side of it that folds onto the
  /// parent, its depth, and how many triangles hang from it, itself included.
  std::vector<gt*> parent;
  std::vector<int> up, depth, below;

  explicit FoldTree(std::size_t n) : parent(n, nullptr), up(n, -1), depth(n, -1), below(n, 0) {}

  void grow(const std::vector<gt*>& members, const CompactMesh& mesh) {
    order.clear();
    for (const gt* t : members) depth[mesh.id(*t)] = -1;
    gt* root = members.front();
    depth[mesh.id(*root)] = 0;
    parent[mesh.id(*root)] = nullptr;
    order.push_back(root);
    for (std::size_t i = 0; i < order.size(); ++i) {
      gt* t = order[i];
      for (int k = 0; k < 3; ++k) {
        if (!linked(*t, k) || !isFold(*t, k)) continue;
        gt* h = t->nb[k];
        const std::uint32_t j = mesh.id(*h);
        if (depth[j] >= 0) continue;
        depth[j] = depth[mesh.id(*t)] + 1;
        parent[j] = t;
        up[j] = t->nbedge[k];
        order.push_back(h);
      }
    }
    for (const gt* t : members) below[mesh.id(*t)] = 1;
    for (std::size_t i = order.size(); i-- > 1;) below[mesh.id(*parent[mesh.id(*order[i])])] += below[mesh.id(*order[i])];
  }
};

}  // namespace

PieceLayout::PieceLayout(const RunState& state) {
  for (const auto& list : state.gtvec) {
    for (const auto& t : list) triangles_.push_back({t.get(), t->containerIndex, {t->p[0], t->p[1], t->p[2]}});
  }
  for (const auto& c : state.containers) pieces_.push_back({c->valid, c->triangles});
}

void PieceLayout::restore(RunState& state) const {
  for (const Triangle& t : triangles_) {
    t.t->containerIndex = t.piece;
    for (int k = 0; k < 3; ++k) t.t->p[k] = t.p[static_cast<std::size_t>(k)];
  }
  state.containers.clear();
  for (const Piece& p : pieces_) {
    auto piece = std::make_unique<gtc>();
    piece->valid = p.valid;
    piece->triangles = p.triangles;
    state.containers.push_back(std::move(piece));
  }
}

int splitIntoParts(RunState& state, const CompactMesh& mesh) {
  std::vector<int> label(mesh.triangles.size(), -1);
  std::vector<gt*> queue;
  int made = 0;
  const std::size_t pieces = state.containers.size();
  for (std::size_t c = 0; c < pieces; ++c) {
    const gtc& piece = *state.containers[c];
    if (!piece.valid || piece.triangles.size() < 2) continue;
    int parts = 0;
    for (gt* start : piece.triangles) {
      if (label[mesh.id(*start)] >= 0) continue;
      label[mesh.id(*start)] = parts;
      queue.assign(1, start);
      while (!queue.empty()) {
        gt* t = queue.back();
        queue.pop_back();
        for (int k = 0; k < 3; ++k) {
          if (!linked(*t, k) || !isFold(*t, k)) continue;
          gt* h = t->nb[k];
          if (label[mesh.id(*h)] >= 0) continue;
          label[mesh.id(*h)] = parts;
          queue.push_back(h);
        }
      }
      ++parts;
    }
    if (parts > 1) {
      moveParts(state, c, parts, label, mesh);
      made += parts - 1;
    }
  }
  return made;
}

namespace {

/// The triangle of a bare seam between two pieces that leaves its piece: the one on the smaller
/// piece, unless it stands alone already; none when both do.
gt* leaving(const BareSeam& b, const RunState& state) {
  const auto ct = static_cast<std::size_t>(b.t->containerIndex), cg = static_cast<std::size_t>(b.g->containerIndex);
  const std::size_t st = state.containers[ct]->triangles.size(), sg = state.containers[cg]->triangles.size();
  if (st == 1 && sg == 1) return nullptr;
  return (st <= sg && st > 1) || sg == 1 ? b.t : b.g;
}

/// Splits piece c between the two sides of each of its bare seams, along folds of its fold
/// tree: each seam's two sides are joined in the tree by one path, and a split at any fold of
/// that path opens the seam. The fold on the most paths goes first, among equals the one that
/// splits the piece most evenly; folds too short to carry a tab once cut are left. A seam whose
/// path has no other fold goes to `alone`: the side of it with fewer folds (it hangs on the
/// piece most loosely) is to stand alone. Answers true when the piece was split.
bool splitBetween(RunState& state, const CompactMesh& mesh, std::size_t c, const std::vector<const BareSeam*>& seams, const TabRoom& room,
                  FoldTree& tree, std::vector<int>& count, std::vector<int>& label, std::vector<char>& cut, std::vector<gt*>& alone) {
  const std::vector<gt*>& members = state.containers[c]->triangles;
  tree.grow(members, mesh);
  // Each seam's path in the tree, as the triangles whose fold to their parent it crosses.
  std::vector<std::vector<std::uint32_t>> paths;
  for (const BareSeam* b : seams) {
    std::vector<std::uint32_t> path;
    std::uint32_t x = mesh.id(*b->t), y = mesh.id(*b->g);
    if (tree.depth[x] < 0 || tree.depth[y] < 0) continue;
    while (x != y) {
      std::uint32_t& deeper = tree.depth[x] >= tree.depth[y] ? x : y;
      const gt& child = *mesh.triangles[deeper];
      if (tabbable(child, tree.up[deeper], room) && (child.marks[tree.up[deeper]] & kMarkFold) == 0) path.push_back(deeper);
      deeper = mesh.id(*tree.parent[deeper]);
    }
    if (path.empty()) {
      int ft = 0, fg = 0;
      for (int k = 0; k < 3; ++k) ft += isFold(*b->t, k) ? 1 : 0, fg += isFold(*b->g, k) ? 1 : 0;
      alone.push_back(ft < fg ? b->t : b->g);
      continue;
    }
    for (std::uint32_t e : path) ++count[e];
    paths.push_back(std::move(path));
  }
  const int m = static_cast<int>(members.size());
  std::vector<char> open(paths.size(), 1);
  std::size_t left = paths.size();
  while (left > 0) {
    std::uint32_t best = 0;
    int bestCount = 0, bestBalance = -1;
    for (const gt* t : tree.order) {
      const std::uint32_t i = mesh.id(*t);
      const int balance = std::min(tree.below[i], m - tree.below[i]);
      if (count[i] > bestCount || (count[i] == bestCount && count[i] > 0 && balance > bestBalance)) {
        best = i, bestCount = count[i], bestBalance = balance;
      }
    }
    if (bestCount == 0) break;
    cut[best] = 1;
    for (std::size_t p = 0; p < paths.size(); ++p) {
      if (!open[p] || std::find(paths[p].begin(), paths[p].end(), best) == paths[p].end()) continue;
      open[p] = 0;
      --left;
      for (std::uint32_t e : paths[p]) --count[e];
    }
  }
  int parts = 1;
  for (const gt* t : tree.order) {
    const std::uint32_t i = mesh.id(*t);
    const gt* up = tree.parent[i];
    label[i] = !up ? 0 : cut[i] ? parts++ : label[mesh.id(*up)];
  }
  // Triangles the tree did not reach (the piece was in parts) stay with the first part; the
  // next pass splits them off.
  for (const gt* t : members) {
    if (tree.depth[mesh.id(*t)] < 0) label[mesh.id(*t)] = 0;
  }
  for (const gt* t : tree.order) cut[mesh.id(*t)] = 0, count[mesh.id(*t)] = 0;
  if (parts > 1) moveParts(state, c, parts, label, mesh);
  return parts > 1;
}

/// One pass of recutting: every piece split between the sides of its bare seams, and the
/// triangle of every bare seam between two pieces that lies on the smaller piece made a piece
/// of its own. Answers false when nothing changed.
bool recut(RunState& state, const CompactMesh& mesh, const std::vector<BareSeam>& bare, const TabRoom& room) {
  const std::size_t n = mesh.triangles.size();
  std::vector<std::vector<const BareSeam*>> inside(state.containers.size());
  std::vector<gt*> alone;
  for (const BareSeam& b : bare) {
    const auto ct = static_cast<std::size_t>(b.t->containerIndex), cg = static_cast<std::size_t>(b.g->containerIndex);
    if (ct == cg) {
      inside[ct].push_back(&b);
    } else if (gt* t = leaving(b, state)) {
      alone.push_back(t);
    }
  }
  bool changed = false;
  FoldTree tree(n);
  std::vector<int> count(n, 0), label(n, 0);
  std::vector<char> cut(n, 0);
  for (std::size_t c = 0; c < inside.size(); ++c) {
    if (!inside[c].empty() && splitBetween(state, mesh, c, inside[c], room, tree, count, label, cut, alone)) changed = true;
  }
  std::sort(alone.begin(), alone.end(), [](const gt* a, const gt* b) { return a->serial < b->serial; });
  alone.erase(std::unique(alone.begin(), alone.end()), alone.end());
  for (gt* t : alone) {
    const auto c = static_cast<std::size_t>(t->containerIndex);
    std::vector<gt*>& list = state.containers[c]->triangles;
    if (list.size() < 2) continue;
    list.erase(std::find(list.begin(), list.end(), t));
    auto piece = std::make_unique<gtc>();
    piece->triangles.push_back(t);
    t->containerIndex = static_cast<std::int32_t>(state.containers.size());
    state.containers.push_back(std::move(piece));
    changed = true;
  }
  return changed;
}

int placeAgain(RunState& state, const UnfoldOptions& options) {
  clearTabs(state);
  placeTabs(state, options);
  return static_cast<int>(bareSeams(state, TabRoom{options.usefulDepth(), options.page}).size());
}

}  // namespace

int bareTabbableSeams(const RunState& state, const UnfoldOptions& options) {
  return static_cast<int>(bareSeams(state, TabRoom{options.usefulDepth(), options.page}).size());
}

int giveEverySeamATab(RunState& state, const CompactMesh& mesh, PageLimit page, const UnfoldOptions& options, bool handOverFirst) {
  if (!options.placesTabs()) return 0;
  const TabRoom room{options.usefulDepth(), options.page};
  int bare = 0;
  for (int pass = 0; pass < kMostPasses; ++pass) {
    splitIntoParts(state, mesh);
    bare = placeAgain(state, options);
    if (bare == 0) break;
    if (!recut(state, mesh, bareSeams(state, room), room)) break;
    // The first passes hand the small pieces the recutting leaves over to their neighbours,
    // where they fit; the seams that costs are opened by the passes after them.
    if (handOverFirst && pass < kHandOverPasses) handOver(state, mesh, page);
  }
  if (bare > 0) {
    splitIntoParts(state, mesh);
    bare = placeAgain(state, options);
  }
  return bare;
}

}  // namespace foldra
