// The compact unfolding: few, large pieces for people who cut and glue.
//
// Joins test faces and the page, never tabs; the tabs are placed once the cuts are known
// (place_tabs.cpp), where they fit. The pieces come from rounds of three steps:
//
// 1. Greedy joins over the edges, flattest fold first, with the fast joins (Joiner): so the
//    cuts run along sharp edges and flat regions stay whole. Edges too short to carry a useful
//    tab on either side come first: a cut there would stay bare.
// 2. Small pieces are handed over to their neighbours triangle by triangle (Dissolver): the
//    neighbours keep their layout, and a small piece goes when every one of its triangles found
//    a place on one of them. Smallest pieces first.
// 3. The result is scored: pieces, with single triangles and small pieces counted extra, since a
//    few more pieces are better than a scatter of crumbs. The edges of the pieces that stayed
//    small move to the front of the order for the next round, where their triangles join a
//    neighbour while every piece is still small.
//
// The best round is replayed. Then pairs of neighbouring pieces are laid out afresh as one
// where that fits (Regrower): the smaller piece and the larger one's triangles next to it are
// laid again onto the rest, so the seam between them moves. A merge stays only when the tabs of
// the whole pattern leave no more edges bare than before. The number of rounds, of placements
// and of such checks depends on the size of the mesh alone, so the result never depends on the
// speed of the machine.
#include "unfold/compact.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <queue>
#include <unordered_map>
#include <vector>

#include "geometry/kernel.h"
#include "host/run_state.h"
#include "unfold/box_tree.h"
#include "unfold/joiner.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

/// Rounds for a mesh of n triangles: as many as fit this many triangle joins, at least one and
/// at most kMostRounds.
constexpr double kRoundWork = 40000;
constexpr int kMostRounds = 6;
/// A piece of at most this many triangles is small; so is one of less area than a square of
/// this many tab widths on a side.
constexpr std::size_t kSmallTriangles = 5;
constexpr double kSmallSide = 2;
/// What a single-triangle piece and a small piece count beyond being a piece, when rounds are
/// compared.
constexpr double kSingleWeight = 10;
constexpr double kSmallWeight = 0.5;
/// Handing over stops after this many placements per triangle of the mesh.
constexpr double kHandOverWork = 50;
constexpr int kHandOverPasses = 3;
/// Laying pairs of pieces out afresh stops after this many placements per triangle.
constexpr double kRegrowWork = 40;
/// Merges checked against the tabs: as many as fit this many triangles' tab placements.
constexpr double kCheckWork = 48000;

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


double bendOf(const gt& t, const gt& g) {
  if (t.normal == Vec3{} || g.normal == Vec3{}) return 0;
  return std::acos(std::clamp(dot(t.normal, g.normal), -1.0, 1.0));
}

/// The triangles of the run numbered densely, and the edges that may join them.
struct Mesh {
  std::vector<gt*> triangles;
  std::vector<Hinge> hinges;
  /// Per triangle side: the bend across it.
  std::vector<double> sideBend;
  /// Sum of all side lengths: no piece reaches farther from its origin.
  double extent = 0;

  explicit Mesh(double usefulDepth) {
    for (auto& list : run.gtvec) {
      for (auto& t : list) triangles.push_back(t.get());
    }
    // Triangles are numbered by their creation order; a run's triangles are made one after the
    // other, so their serials span little more than their number.
    if (!triangles.empty()) {
      first_ = triangles.front()->serial;
      std::uint64_t last = first_;
      for (const gt* t : triangles) first_ = std::min(first_, t->serial), last = std::max(last, t->serial);
      if (last - first_ < 4 * static_cast<std::uint64_t>(triangles.size()) + 64) {
        bySerial_.assign(last - first_ + 1, 0);
        for (std::size_t i = 0; i < triangles.size(); ++i) bySerial_[triangles[i]->serial - first_] = static_cast<std::uint32_t>(i);
      } else {
        for (std::size_t i = 0; i < triangles.size(); ++i) ids_.emplace(triangles[i], static_cast<std::uint32_t>(i));
      }
    }
    sideBend.assign(3 * triangles.size(), 0.0);
    for (std::size_t i = 0; i < triangles.size(); ++i) {
      gt& t = *triangles[i];
      for (int k = 0; k < 3; ++k) {
        const double side = length(t.P[(k + 1) % 3] - t.P[k]);
        if (std::isfinite(side)) extent += side;
        gt* g = t.nb[k];
        if (!g) continue;
        sideBend[3 * i + static_cast<std::size_t>(k)] = bendOf(t, *g);
        const int s = t.nbedge[k];
        if (!t.usable || s < 0 || !g->usable || g->nb[s] != &t || g->serial < t.serial || !hingeable(t, k)) continue;
        const bool area = t.normal != Vec3{} && g->normal != Vec3{};
        const bool bare = usefulDepth > 0 && area && deepestTab(side, usefulDepth) < usefulDepth * (1 - 1e-9);
        hinges.push_back({&t, k, bendOf(t, *g), side, bare});
      }
    }
  }

  std::uint32_t id(const gt& t) const { return bySerial_.empty() ? ids_.at(&t) : bySerial_[t.serial - first_]; }

 private:
  std::uint64_t first_ = 0;
  std::vector<std::uint32_t> bySerial_;
  std::unordered_map<const gt*, std::uint32_t> ids_;
};

/// How a round came out; lower scores are better.
struct Outcome {
  int pieces = 0, singles = 0, small = 0;
  double score() const { return pieces + kSingleWeight * singles + kSmallWeight * small; }
};

double areaOf(const gt& t) { return length(cross(t.P[1] - t.P[0], t.P[2] - t.P[0])) / 2; }

/// Hands the triangles of pieces over to neighbouring pieces, one triangle at a time across a
/// side of a neighbour (or of a triangle handed over before), flattest side first; each is
/// tested against the faces of the piece it joins and against the page. A piece goes only when
/// every one of its triangles found a place; the neighbours keep their layout and grow.
class Dissolver {
 public:
  Dissolver(const Mesh& mesh, PageLimit page)
      : mesh_(mesh),
        page_(page),
        margin_(1e-9 * mesh.extent),
        pieces_(run.containers.size()),
        mark_(mesh.triangles.size(), 0),
        grown_(run.containers.size(), 1),
        triedAt_(run.containers.size(), 0) {}

  /// Placements tried so far.
  long work = 0;

  /// True when piece b was handed over entirely; the pieces' triangle lists, containers and
  /// flat corners then say where each triangle went.
  bool dissolve(std::size_t b) {
    auto& containers = run.containers;
    const std::vector<gt*>& members = containers[b]->triangles;
    // A piece beyond the small ones is handed over only to neighbours at least twice its size:
    // a larger one rarely finds room, and trying costs as much as the piece is large. Nor is a
    // piece tried again until a neighbour has grown: its new triangles give new places to start.
    std::uint64_t neighbourGrowth = 0;
    std::size_t largest = 0;
    for (const gt* t : members) {
      for (int k = 0; k < 3; ++k) {
        const gt* h = t->nb[k];
        if (!h || h->containerIndex < 0 || static_cast<std::size_t>(h->containerIndex) == b) continue;
        const auto c = static_cast<std::size_t>(h->containerIndex);
        neighbourGrowth += grown_[c];
        largest = std::max(largest, containers[c]->triangles.size());
      }
    }
    if ((members.size() > kSmallTriangles && 2 * members.size() > largest) || neighbourGrowth == triedAt_[b]) return false;
    triedAt_[b] = neighbourGrowth;
    for (gt* t : members) mark_[mesh_.id(*t)] = kWaiting;
    struct Step {
      double bend;
      std::uint64_t seq;
      gt* from;
      int side;
    };
    auto later = [](const Step& x, const Step& y) { return x.bend > y.bend || (x.bend == y.bend && x.seq > y.seq); };
    std::priority_queue<Step, std::vector<Step>, decltype(later)> queue(later);
    std::uint64_t seq = 0;
    auto offer = [&](gt* from, int k) { queue.push({mesh_.sideBend[3 * mesh_.id(*from) + static_cast<std::size_t>(k)], seq++, from, k}); };
    for (gt* t : members) {
      for (int k = 0; k < 3; ++k) {
        gt* h = t->nb[k];
        const int r = t->nbedge[k];
        if (!h || r < 0 || h->nb[r] != t || h->nbedge[r] < 0 || h->containerIndex < 0 || !h->usable || !hingeable(*h, r)) continue;
        const auto c = static_cast<std::size_t>(h->containerIndex);
        if (c != b && containers[c]->valid) offer(h, r);
      }
    }
    // Where each handed-over triangle goes, in the order they found their place.
    struct Moved {
      gt* t;
      std::size_t piece;
      std::array<Vec3, 3> p;
      Box box;
    };
    std::vector<Moved> moved;
    std::unordered_map<const gt*, std::size_t> movedIndex;
    movedTree_.clear();
    std::vector<std::pair<std::size_t, Box>> boxes;
    auto boxOf = [&](std::size_t c) -> Box& {
      for (auto& [piece, box] : boxes) {
        if (piece == c) return box;
      }
      boxes.push_back({c, piece(c).box});
      return boxes.back().second;
    };
    std::size_t left = members.size();
    while (left > 0 && !queue.empty()) {
      const Step step = queue.top();
      queue.pop();
      gt& g = *step.from->nb[step.side];
      if (mark_[mesh_.id(g)] != kWaiting) continue;
      ++work;
      const auto found = movedIndex.find(step.from);
      const bool fromMoved = found != movedIndex.end();
      const std::size_t target = fromMoved ? moved[found->second].piece : static_cast<std::size_t>(step.from->containerIndex);
      const Vec3* fp = fromMoved ? moved[found->second].p.data() : step.from->p;
      const int s = step.from->nbedge[step.side];
      Vec3 own[3];
      ownFlatCorners(g, own);
      const Placement hinge = hingePlacement(fp[step.side], fp[(step.side + 1) % 3], own[s], own[(s + 1) % 3]);
      Moved m{&g, target, {}, {}};
      for (int k = 0; k < 3; ++k) m.p[static_cast<std::size_t>(k)] = hinge.apply(own[k]);
      m.box = flatBox(m.p[0], m.p[1], m.p[2]);
      if (!m.box.finite()) continue;
      Box& targetBox = boxOf(target);
      const Box grown = targetBox.unite(m.box);
      if (!page_.holds(grown)) continue;
      if (collides(g, m.p.data(), m.box, target, moved)) continue;
      targetBox = grown;
      mark_[mesh_.id(g)] = kPlaced;
      movedTree_.insert(static_cast<std::uint32_t>(moved.size()), m.box);
      movedIndex.emplace(&g, moved.size());
      moved.push_back(m);
      --left;
      for (int k = 0; k < 3; ++k) {
        const gt* n = g.nb[k];
        if (n && g.nbedge[k] >= 0 && mark_[mesh_.id(*n)] == kWaiting && hingeable(g, k)) offer(&g, k);
      }
    }
    for (gt* t : members) mark_[mesh_.id(*t)] = kElsewhere;
    if (left > 0) return false;
    for (const Moved& m : moved) {
      for (int k = 0; k < 3; ++k) m.t->p[k] = m.p[static_cast<std::size_t>(k)];
      m.t->containerIndex = static_cast<std::int32_t>(m.piece);
      containers[m.piece]->triangles.push_back(m.t);
      ++grown_[m.piece];
      Piece& to = piece(m.piece);
      to.tree.insert(mesh_.id(*m.t), m.box);
      to.box = to.box.unite(m.box);
    }
    containers[b]->triangles.clear();
    containers[b]->valid = false;
    pieces_[b].reset();
    return true;
  }

  /// Drops what it knows of piece c, after c changed behind its back.
  void forget(std::size_t c) { pieces_[c].reset(); }

 private:
  static constexpr char kElsewhere = 0, kWaiting = 1, kPlaced = 2;

  /// A piece's faces, found by their boxes.
  struct Piece {
    BoxTree tree;
    Box box{0, 0, 0, 0};
  };

  Piece& piece(std::size_t c) {
    if (!pieces_[c]) {
      pieces_[c] = std::make_unique<Piece>();
      bool first = true;
      for (const gt* t : run.containers[c]->triangles) {
        const Box b = flatBox(t->p[0], t->p[1], t->p[2]);
        pieces_[c]->box = first ? b : pieces_[c]->box.unite(b);
        first = false;
        pieces_[c]->tree.insert(mesh_.id(*t), b);
      }
    }
    return *pieces_[c];
  }

  /// True when g laid at p overlaps a face of piece `target` or a triangle handed over to it
  /// before; neighbours that lie joined along their shared side are left out, as in the joins.
  template <class MovedList>
  bool collides(const gt& g, const Vec3* p, const Box& box, std::size_t target, const MovedList& moved) {
    FlatShape G;
    for (int k = 0; k < 3; ++k) G.p[k] = p[k];
    const FlatParts partsG = partsOf(G);
    auto hits = [&](const gt& h, const Vec3* q) {
      FlatShape H;
      for (int k = 0; k < 3; ++k) H.p[k] = q[k];
      if (g.isneighbor(h) && countSharedCorners(G, H, h) == 2) return false;
      return partsCollide(partsG, partsOf(H), h);
    };
    const Box query{box.minX - margin_, box.minY - margin_, box.maxX + margin_, box.maxY + margin_};
    if (piece(target).tree.query(query, [&](std::uint32_t i) { return hits(*mesh_.triangles[i], mesh_.triangles[i]->p); })) {
      return true;
    }
    return movedTree_.query(query, [&](std::uint32_t i) {
      const auto& m = moved[i];
      return m.piece == target && hits(*m.t, m.p.data());
    });
  }

  const Mesh& mesh_;
  PageLimit page_;
  double margin_;
  std::vector<std::unique_ptr<Piece>> pieces_;
  std::vector<char> mark_;
  /// The triangles handed over in the present attempt, by their boxes.
  BoxTree movedTree_;
  /// Per piece: one more than the triangles it received; and the sum of its neighbours' counts
  /// when handing it over last failed.
  std::vector<std::uint64_t> grown_, triedAt_;
};

/// Gives every piece of a single triangle a partner: a neighbouring triangle that hangs on its
/// own piece by one fold only (so that its piece stays whole) and whose piece keeps more than
/// two triangles. The two make a piece of their own, the single triangle hinged onto the
/// partner's side, where the pair fits the page; the partner's piece keeps its layout. Answers
/// the number of pairs made.
int pairSingles(Dissolver& dissolver, PageLimit page) {
  auto& containers = run.containers;
  int paired = 0;
  for (std::size_t c = 0; c < containers.size(); ++c) {
    gtc& single = *containers[c];
    if (!single.valid || single.triangles.size() != 1) continue;
    gt& s = *single.triangles.front();
    for (int k = 0; k < 3; ++k) {
      gt* u = s.nb[k];
      const int r = s.nbedge[k];
      if (!u || r < 0 || u->nb[r] != &s || u->nbedge[r] != k || !u->usable || u->containerIndex < 0 || !hingeable(s, k)) continue;
      const auto fromIndex = static_cast<std::size_t>(u->containerIndex);
      gtc& from = *containers[fromIndex];
      if (!from.valid || from.triangles.size() <= 2) continue;
      int folds = 0;
      for (int j = 0; j < 3; ++j) folds += isFold(*u, j) ? 1 : 0;
      if (folds != 1) continue;
      Vec3 partner[3], own[3], placed[3];
      ownFlatCorners(*u, partner);
      ownFlatCorners(s, own);
      const Placement hinge = hingePlacement(partner[r], partner[(r + 1) % 3], own[k], own[(k + 1) % 3]);
      for (int j = 0; j < 3; ++j) placed[j] = hinge.apply(own[j]);
      Box box{partner[0].x, partner[0].y, partner[0].x, partner[0].y};
      for (int j = 0; j < 3; ++j) box.extend(partner[j]), box.extend(placed[j]);
      // As every join: a pair larger than the page, or whose box is not a number, stays apart.
      if (!page.holds(box)) continue;
      from.triangles.erase(std::find(from.triangles.begin(), from.triangles.end(), u));
      for (int j = 0; j < 3; ++j) u->p[j] = partner[j], s.p[j] = placed[j];
      u->containerIndex = static_cast<std::int32_t>(c);
      single.triangles = {u, &s};
      dissolver.forget(c);
      dissolver.forget(fromIndex);
      ++paired;
      break;
    }
  }
  return paired;
}

/// Lays part of a piece out afresh: the triangles of `fixed` stay where they are, and the
/// triangles of `loose` are laid one at a time across a side of a triangle laid before, each
/// tested against the faces laid so far and against the page. Either those nearest the fixed
/// ones first (breadth first) or the flattest side first. Where a small piece could not join a
/// neighbour along any of their common edges, the neighbour's triangles next to it laid again
/// often make room: the seam between them moves.
class Regrower {
 public:
  Regrower(const Mesh& mesh, PageLimit page) : mesh_(mesh), page_(page), margin_(1e-9 * mesh.extent), mark_(mesh.triangles.size(), 0) {}

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
    struct Step {
      int depth;
      double bend;
      std::uint64_t seq;
      gt* from;
      int side;
    };
    auto later = [breadthFirst](const Step& x, const Step& y) {
      if (breadthFirst && x.depth != y.depth) return x.depth > y.depth;
      return x.bend > y.bend || (x.bend == y.bend && x.seq > y.seq);
    };
    std::priority_queue<Step, std::vector<Step>, decltype(later)> queue(later);
    std::uint64_t seq = 0;
    auto lay = [&](gt& g, const std::array<Vec3, 3>& p, const Box& box, int depth) {
      mark_[mesh_.id(g)] = kPlaced;
      tree_.insert(static_cast<std::uint32_t>(laid.size()), box);
      index_.emplace(&g, laid.size());
      laid.push_back(&g);
      at_.push_back(p);
      for (int k = 0; k < 3; ++k) {
        const gt* n = g.nb[k];
        if (n && g.nbedge[k] >= 0 && mark_[mesh_.id(*n)] == kWaiting && n->usable && hingeable(g, k)) {
          queue.push({depth + 1, mesh_.sideBend[3 * mesh_.id(g) + static_cast<std::size_t>(k)], seq++, &g, k});
        }
      }
    };
    Box box{0, 0, 0, 0};
    bool ok = !fixed.empty();
    for (gt* t : fixed) {
      const std::array<Vec3, 3> p{t->p[0], t->p[1], t->p[2]};
      const Box b = flatBox(p[0], p[1], p[2]);
      ok &= b.finite();
      box = laid.empty() ? b : box.unite(b);
      lay(*t, p, b, 0);
      ++work;
    }
    const std::size_t want = fixed.size() + loose.size();
    while (ok && laid.size() < want && !queue.empty() && limit-- > 0) {
      const Step step = queue.top();
      queue.pop();
      gt& g = *step.from->nb[step.side];
      if (mark_[mesh_.id(g)] != kWaiting) continue;
      ++work;
      const std::array<Vec3, 3>& fp = at_[index_.at(step.from)];
      const int s = step.from->nbedge[step.side];
      Vec3 own[3];
      ownFlatCorners(g, own);
      const Placement hinge = hingePlacement(fp[static_cast<std::size_t>(step.side)], fp[static_cast<std::size_t>((step.side + 1) % 3)], own[s], own[(s + 1) % 3]);
      std::array<Vec3, 3> p;
      for (int k = 0; k < 3; ++k) p[static_cast<std::size_t>(k)] = hinge.apply(own[k]);
      const Box b = flatBox(p[0], p[1], p[2]);
      if (!b.finite()) continue;
      const Box grown = box.unite(b);
      if (!page_.holds(grown)) continue;
      if (collides(g, p, b, laid)) continue;
      box = grown;
      lay(g, p, b, step.depth);
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

  /// True when g laid at p overlaps a face laid before; neighbours that lie joined along their
  /// shared side are left out, as in the joins.
  bool collides(const gt& g, const std::array<Vec3, 3>& p, const Box& box, const std::vector<gt*>& laid) {
    FlatShape G;
    for (int k = 0; k < 3; ++k) G.p[k] = p[static_cast<std::size_t>(k)];
    const FlatParts partsG = partsOf(G);
    const Box query{box.minX - margin_, box.minY - margin_, box.maxX + margin_, box.maxY + margin_};
    return tree_.query(query, [&](std::uint32_t i) {
      const gt& h = *laid[i];
      FlatShape H;
      for (int k = 0; k < 3; ++k) H.p[k] = at_[i][static_cast<std::size_t>(k)];
      if (g.isneighbor(h) && countSharedCorners(G, H, h) == 2) return false;
      return partsCollide(partsG, partsOf(H), h);
    });
  }

  const Mesh& mesh_;
  PageLimit page_;
  double margin_;
  std::vector<char> mark_;
  BoxTree tree_;
  std::vector<std::array<Vec3, 3>> at_;
  std::unordered_map<const gt*, std::size_t> index_;
};

/// Takes every tab off, before the tabs are placed again for another layout.
void clearTabs() {
  for (auto& list : run.gtvec) {
    for (auto& t : list) {
      releaseTabs(*t);
      for (double& w : t->lugWidth) w = 0;
    }
  }
}

/// How far into the larger piece its triangles are laid again, in steps from the smaller one.
constexpr int kMostRelaidSteps = 3;

/// Pieces joined two at a time by laying the smaller one and the triangles of the larger one
/// next to it out afresh onto the rest of the larger one (Regrower): smaller pieces first, each
/// with its neighbours smallest first, a step further into the larger piece at each try, breadth
/// first, then flattest first. `accept()` says whether the merged piece, already in the run
/// state, may stay; when it says no, the two pieces are put back as they were and the next pair
/// follows. Stops after `budget` placements or `checks` calls of accept. Answers the number of
/// pieces that went.
template <class Accept>
int regrowPairs(const Mesh& mesh, PageLimit page, long budget, int checks, Accept&& accept) {
  auto& containers = run.containers;
  Regrower regrower(mesh, page);
  int went = 0;
  std::vector<gt*> laid;
  std::vector<std::size_t> order;
  for (std::size_t c = 0; c < containers.size(); ++c) {
    if (containers[c]->valid) order.push_back(c);
  }
  auto smaller = [&](std::size_t x, std::size_t y) {
    const std::size_t p = containers[x]->triangles.size(), q = containers[y]->triangles.size();
    return p < q || (p == q && x < y);
  };
  std::sort(order.begin(), order.end(), smaller);
  struct Was {
    gt* t;
    std::array<Vec3, 3> p;
  };
  std::vector<Was> was;
  std::vector<char> near(mesh.triangles.size(), 0);
  for (std::size_t a : order) {
    if (!containers[a]->valid) continue;
    std::vector<std::size_t> neighbours;
    for (const gt* t : containers[a]->triangles) {
      for (int k = 0; k < 3; ++k) {
        const gt* h = t->nb[k];
        if (!h || h->containerIndex < 0 || static_cast<std::size_t>(h->containerIndex) == a) continue;
        const auto c = static_cast<std::size_t>(h->containerIndex);
        if (containers[c]->valid && std::find(neighbours.begin(), neighbours.end(), c) == neighbours.end()) neighbours.push_back(c);
      }
    }
    std::sort(neighbours.begin(), neighbours.end(), smaller);
    bool merged = false;
    for (std::size_t b : neighbours) {
      const std::size_t big = smaller(a, b) ? b : a, small = big == a ? b : a;
      const std::vector<gt*> bigList = containers[big]->triangles, smallList = containers[small]->triangles;
      // Only the first layout found for a pair is checked: a pair whose layout leaves more edges
      // bare rarely does better with another, and every check costs a tab placement.
      bool found = false;
      for (int steps = 1; steps <= kMostRelaidSteps && !found; ++steps) {
        // The small piece and the large one's triangles up to `steps` steps from it are laid
        // again; the rest of the large one stays.
        std::vector<gt*> loose = smallList, fixed;
        for (gt* t : loose) near[mesh.id(*t)] = 1;
        for (std::size_t from = 0, to = loose.size(), step = 1; step <= static_cast<std::size_t>(steps); ++step) {
          for (std::size_t i = from; i < to; ++i) {
            for (int k = 0; k < 3; ++k) {
              gt* h = loose[i]->nb[k];
              if (!h || h->containerIndex != static_cast<std::int32_t>(big) || near[mesh.id(*h)]) continue;
              near[mesh.id(*h)] = 1;
              loose.push_back(h);
            }
          }
          from = to;
          to = loose.size();
        }
        for (gt* t : bigList) {
          if (!near[mesh.id(*t)]) fixed.push_back(t);
        }
        for (gt* t : loose) near[mesh.id(*t)] = 0;
        was.clear();
        for (gt* t : loose) was.push_back({t, {t->p[0], t->p[1], t->p[2]}});
        for (const bool breadthFirst : {true, false}) {
          if (regrower.work >= budget || checks == 0) return went;
          if (!regrower.grow(fixed, loose, breadthFirst, budget - regrower.work, laid)) continue;
          found = true;
          containers[big]->triangles = laid;
          for (gt* t : smallList) t->containerIndex = static_cast<std::int32_t>(big);
          containers[small]->triangles.clear();
          containers[small]->valid = false;
          --checks;
          if (accept()) {
            merged = true;
            break;
          }
          for (const Was& w : was) {
            for (int k = 0; k < 3; ++k) w.t->p[k] = w.p[static_cast<std::size_t>(k)];
          }
          for (gt* t : smallList) t->containerIndex = static_cast<std::int32_t>(small);
          containers[big]->triangles = bigList;
          containers[small]->triangles = smallList;
          containers[small]->valid = true;
          break;
        }
      }
      if (merged) {
        ++went;
        break;
      }
    }
  }
  return went;
}

/// Merges pairs of pieces where laying them out afresh lets them (regrowPairs), each merge kept
/// only when the tabs of the whole pattern leave no more edges bare than before; then the tabs.
/// A check costs one tab placement, so their number follows from the mesh's size. Answers the
/// number of pieces that went.
int regrowAndPlaceTabs(const Mesh& mesh, PageLimit page) {
  const int bareBefore = placeTabs();
  const int checks = static_cast<int>(kCheckWork / std::max<double>(1, static_cast<double>(mesh.triangles.size())));
  if (checks == 0) return 0;
  bool tabsStand = true;
  const int went = regrowPairs(mesh, page, static_cast<long>(kRegrowWork * static_cast<double>(mesh.triangles.size())), checks, [&] {
    clearTabs();
    tabsStand = placeTabs() <= bareBefore;
    return tabsStand;
  });
  // After a merge that was refused, the tabs are those of its layout.
  if (!tabsStand) {
    clearTabs();
    placeTabs();
  }
  return went;
}

/// The pieces as the joins left them handed over to their neighbours where they fit, smallest
/// first; then partners for single triangles. Answers the number of pieces that went.
int handOver(const Mesh& mesh, PageLimit page) {
  auto& containers = run.containers;
  Dissolver dissolver(mesh, page);
  const long budget = static_cast<long>(kHandOverWork * static_cast<double>(mesh.triangles.size()));
  int went = 0;
  // Pieces that could not go may find room once others went: further passes while pieces go.
  for (int pass = 0; pass < kHandOverPasses; ++pass) {
    std::vector<std::size_t> pieces;
    for (std::size_t c = 0; c < containers.size(); ++c) {
      if (containers[c]->valid) pieces.push_back(c);
    }
    // Smallest first; equal sizes in the order of the pieces.
    std::sort(pieces.begin(), pieces.end(), [&](std::size_t a, std::size_t b) {
      const std::size_t x = containers[a]->triangles.size(), y = containers[b]->triangles.size();
      return x < y || (x == y && a < b);
    });
    const int before = went;
    for (std::size_t b : pieces) {
      if (dissolver.work >= budget) break;
      if (containers[b]->valid && dissolver.dissolve(b)) ++went;
    }
    if (went == before) break;
  }
  // Single triangles left over take a partner from a neighbour, and the pairs try again to find
  // room on their neighbours.
  if (pairSingles(dissolver, page) > 0) {
    for (std::size_t c = 0; c < containers.size(); ++c) {
      if (containers[c]->valid && containers[c]->triangles.size() == 2 && dissolver.dissolve(c)) ++went;
    }
  }
  return went;
}

/// One round: the greedy joins in the given order, then the small pieces handed over.
Outcome joinRound(const Mesh& mesh, const std::vector<std::uint32_t>& order, PageLimit page, double smallArea) {
  run.containers.clear();
  createPieces();
  {
    Joiner joiner(page);
    for (std::uint32_t i : order) {
      const Hinge& h = mesh.hinges[i];
      if (joiner.pieceOf(*h.t) != joiner.pieceOf(*h.t->nb[h.k])) joiner.join(*h.t, h.k, true);
    }
    joiner.finish();
  }
  handOver(mesh, page);
  auto& containers = run.containers;
  Outcome o;
  for (const auto& c : containers) {
    if (!c->valid) continue;
    ++o.pieces;
    double area = 0;
    for (const gt* t : c->triangles) area += areaOf(*t);
    if (c->triangles.size() == 1) ++o.singles;
    if (c->triangles.size() <= kSmallTriangles || area < smallArea) ++o.small;
  }
  return o;
}

}  // namespace

int handOverPieces(PageLimit page) {
  const Mesh mesh(0);
  const int went = handOver(mesh, page);
  // The pieces' boxes, of their faces, as they stand now.
  for (const auto& c : run.containers) {
    if (!c->valid || c->triangles.empty()) continue;
    const gt& first = *c->triangles.front();
    Box box = flatBox(first.p[0], first.p[1], first.p[2]);
    for (const gt* t : c->triangles) box = box.unite(flatBox(t->p[0], t->p[1], t->p[2]));
    c->box = box;
  }
  return went;
}

int regrowPieces(PageLimit page) {
  const Mesh mesh(0);
  return regrowAndPlaceTabs(mesh, page);
}

void Compact() {
  const double width = settings.Laschenbreite;
  const bool tabs = settings.Laschenflag && width >= kPointTolerance && std::isfinite(width);
  const double useful = tabs ? width * kUsefulTabShare : 0;
  const Mesh mesh(useful);
  // A piece is small next to its tabs; without a tab width to measure by, by its triangles alone.
  const double smallArea = width > 0 && std::isfinite(width) ? (kSmallSide * width) * (kSmallSide * width) : 0;
  // The joins keep room on the page for a useful tab beyond every side of a piece.
  const double room = 2 * useful;
  const PageLimit page{settings.Seitenflag, settings.Seitenbreite - room, settings.Seitenhoehe - room};

  const std::size_t n = mesh.hinges.size();
  const int rounds = std::clamp(static_cast<int>(kRoundWork / std::max<double>(1, static_cast<double>(mesh.triangles.size()))), 1, kMostRounds);
  std::vector<char> promoted(n, 0);
  std::vector<std::uint32_t> order(n), best;
  double bestScore = 0;
  int bestRound = -1;
  // Every other round weighs the bend by the cube of the edge's shortness, so that long edges
  // join first among similar bends: the rounds then start from two different cuttings, of which
  // neither is better on every mesh.
  std::vector<double> bendOnly(n), byLength(n);
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
  const std::vector<double>* key = &bendOnly;
  auto sortOrder = [&] {
    for (std::size_t i = 0; i < n; ++i) order[i] = static_cast<std::uint32_t>(i);
    // Promoted edges first, then those too short for a tab, then by bend; ties keep the order
    // of the triangle lists.
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      const Hinge& x = mesh.hinges[a];
      const Hinge& y = mesh.hinges[b];
      if (promoted[a] != promoted[b]) return promoted[a] > promoted[b];
      if (x.bare != y.bare) return x.bare;
      if ((*key)[a] != (*key)[b]) return (*key)[a] < (*key)[b];
      return a < b;
    });
  };
  for (int round = 0; round < rounds; ++round) {
    key = round % 2 == 0 ? &bendOnly : &byLength;
    sortOrder();
    const Outcome o = joinRound(mesh, order, page, smallArea);
    if (bestRound < 0 || o.score() < bestScore) {
      bestScore = o.score();
      bestRound = round;
      best = order;
    }
    if (round + 1 == rounds) break;
    // The edges of pieces that stayed small go first next time.
    for (std::size_t i = 0; i < n; ++i) {
      const Hinge& h = mesh.hinges[i];
      const gt& g = *h.t->nb[h.k];
      if (h.t->containerIndex == g.containerIndex) continue;
      const auto small = [&](const gt& t) {
        return run.containers[static_cast<std::size_t>(t.containerIndex)]->triangles.size() <= kSmallTriangles;
      };
      if (small(*h.t) || small(g)) promoted[i] = 1;
    }
  }
  if (bestRound >= 0 && bestRound + 1 != rounds) joinRound(mesh, best, page, smallArea);
  regrowAndPlaceTabs(mesh, page);
}

}  // namespace foldra
