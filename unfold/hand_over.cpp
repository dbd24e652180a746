// The hand-over of the compact unfolding: small pieces given to their neighbours triangle by
// triangle, and single triangles given a partner. The neighbours keep their layout and grow; a
// piece goes only when every one of its triangles found a place.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
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

/// Handing over stops after this many placements per triangle of the mesh.
constexpr double kHandOverWork = 50;
constexpr int kHandOverPasses = 3;

/// Hands the triangles of pieces over to neighbouring pieces, one triangle at a time across a
/// side of a neighbour (or of a triangle handed over before), flattest side first; each is
/// tested as the joins test, against the piece it joins. A piece goes only when every one of
/// its triangles found a place; the neighbours keep their layout and grow.
class Dissolver {
 public:
  Dissolver(RunState& state, const CompactMesh& mesh, PageLimit page)
      : state_(state),
        mesh_(mesh),
        test_(page, mesh.extent),
        pieces_(state.containers.size()),
        mark_(mesh.triangles.size(), 0),
        grown_(state.containers.size(), 1),
        triedAt_(state.containers.size(), 0) {}

  /// Placements tried so far.
  long work = 0;

  const JoinTest& test() const { return test_; }

  /// True when piece b was handed over entirely; the pieces' triangle lists, containers and
  /// flat corners then say where each triangle went.
  bool dissolve(std::size_t b) {
    const std::vector<gt*>& members = state_.containers[b]->triangles;
    if (!worthTrying(b, members)) return false;
    for (gt* t : members) mark_[mesh_.id(*t)] = kWaiting;
    Frontier frontier(false);
    offerNeighbours(b, members, frontier);
    const bool whole = placeAll(members.size(), frontier);
    for (gt* t : members) mark_[mesh_.id(*t)] = kElsewhere;
    if (!whole) return false;
    commit(b);
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

  /// A triangle handed over in the present attempt: the piece it goes to and where it lies.
  struct Moved {
    gt* t;
    std::size_t piece;
    Laid at;
  };

  /// A piece beyond the small ones is handed over only to neighbours at least twice its size:
  /// a larger one rarely finds room, and trying costs as much as the piece is large. Nor is a
  /// piece tried again until a neighbour has grown: its new triangles give new places to start.
  bool worthTrying(std::size_t b, const std::vector<gt*>& members) {
    std::uint64_t neighbourGrowth = 0;
    std::size_t largest = 0;
    for (const gt* t : members) {
      for (int k = 0; k < 3; ++k) {
        const gt* h = t->nb[k];
        if (!h || h->containerIndex < 0 || static_cast<std::size_t>(h->containerIndex) == b) continue;
        const auto c = static_cast<std::size_t>(h->containerIndex);
        neighbourGrowth += grown_[c];
        largest = std::max(largest, state_.containers[c]->triangles.size());
      }
    }
    if ((members.size() > kSmallTriangles && 2 * members.size() > largest) || neighbourGrowth == triedAt_[b]) return false;
    if (holdsMarkedFold(members)) return false;
    triedAt_[b] = neighbourGrowth;
    return true;
  }

  /// Offers every side of a neighbouring piece that the members of b hinge on.
  void offerNeighbours(std::size_t b, const std::vector<gt*>& members, Frontier& frontier) const {
    for (gt* t : members) {
      for (int k = 0; k < 3; ++k) {
        gt* h = t->nb[k];
        const int r = t->nbedge[k];
        if (!h || r < 0 || h->nb[r] != t || h->nbedge[r] < 0 || h->containerIndex < 0 || !h->usable || !hingeable(*h, r)) continue;
        const auto c = static_cast<std::size_t>(h->containerIndex);
        if (c != b && state_.containers[c]->valid) frontier.offer(h, r, mesh_.bend(*h, r));
      }
    }
  }

  /// The faces a triangle laid onto piece `target` must stay clear of: the piece's own, and
  /// those handed over to it before in this attempt.
  auto facesOf(std::size_t target) {
    return [this, target](const Box& reach, auto&& overlaps) {
      const std::vector<gt*>& all = mesh_.triangles;
      if (piece(target).tree.query(reach, [&](std::uint32_t i) { return overlaps(*all[i], all[i]->p); })) return true;
      return movedTree_.query(reach, [&](std::uint32_t i) {
        const Moved& m = moved_[i];
        return m.piece == target && overlaps(*m.t, m.at.p.data());
      });
    };
  }

  /// Lays the waiting triangles, `count` of them, across the sides of the frontier, each onto
  /// the piece of the side it is laid across; true when every one found a place.
  bool placeAll(std::size_t count, Frontier& frontier) {
    moved_.clear();
    movedIndex_.clear();
    movedTree_.clear();
    boxes_.clear();
    std::size_t left = count;
    while (left > 0 && !frontier.empty()) {
      const LaySide step = frontier.take();
      gt& g = *step.from->nb[step.side];
      if (mark_[mesh_.id(g)] != kWaiting) continue;
      ++work;
      const auto found = movedIndex_.find(step.from);
      const bool fromMoved = found != movedIndex_.end();
      const std::size_t target = fromMoved ? moved_[found->second].piece : static_cast<std::size_t>(step.from->containerIndex);
      const Vec3* fp = fromMoved ? moved_[found->second].at.p.data() : step.from->p;
      Moved m{&g, target, {}};
      if (!layAcross(test_, *step.from, step.side, fp, boxOf(target), facesOf(target), m.at)) continue;
      mark_[mesh_.id(g)] = kPlaced;
      movedTree_.insert(static_cast<std::uint32_t>(moved_.size()), m.at.box);
      movedIndex_.emplace(&g, moved_.size());
      moved_.push_back(m);
      --left;
      for (int k = 0; k < 3; ++k) {
        const gt* n = g.nb[k];
        if (n && g.nbedge[k] >= 0 && mark_[mesh_.id(*n)] == kWaiting && hingeable(g, k)) frontier.offer(&g, k, mesh_.bend(g, k));
      }
    }
    return left == 0;
  }

  /// Writes the attempt into the run state: each handed-over triangle in its new piece, and
  /// piece b gone.
  void commit(std::size_t b) {
    auto& containers = state_.containers;
    for (const Moved& m : moved_) {
      for (int k = 0; k < 3; ++k) m.t->p[k] = m.at.p[static_cast<std::size_t>(k)];
      m.t->containerIndex = static_cast<std::int32_t>(m.piece);
      containers[m.piece]->triangles.push_back(m.t);
      ++grown_[m.piece];
      Piece& to = piece(m.piece);
      to.tree.insert(mesh_.id(*m.t), m.at.box);
      to.box = to.box.unite(m.at.box);
    }
    containers[b]->triangles.clear();
    containers[b]->valid = false;
    pieces_[b].reset();
  }

  Piece& piece(std::size_t c) {
    if (!pieces_[c]) {
      pieces_[c] = std::make_unique<Piece>();
      bool first = true;
      for (const gt* t : state_.containers[c]->triangles) {
        const Box b = flatBox(t->p[0], t->p[1], t->p[2]);
        pieces_[c]->box = first ? b : pieces_[c]->box.unite(b);
        first = false;
        pieces_[c]->tree.insert(mesh_.id(*t), b);
      }
    }
    return *pieces_[c];
  }

  /// The box of piece c with what it received in the present attempt.
  Box& boxOf(std::size_t c) {
    for (auto& [p, box] : boxes_) {
      if (p == c) return box;
    }
    boxes_.push_back({c, piece(c).box});
    return boxes_.back().second;
  }

  RunState& state_;
  const CompactMesh& mesh_;
  JoinTest test_;
  std::vector<std::unique_ptr<Piece>> pieces_;
  std::vector<char> mark_;
  /// The triangles handed over in the present attempt, in the order they found their place,
  /// by triangle and by their boxes; and the boxes of the pieces they went to.
  std::vector<Moved> moved_;
  std::unordered_map<const gt*, std::size_t> movedIndex_;
  BoxTree movedTree_;
  std::vector<std::pair<std::size_t, Box>> boxes_;
  /// Per piece: one more than the triangles it received; and the sum of its neighbours' counts
  /// when handing it over last failed.
  std::vector<std::uint64_t> grown_, triedAt_;
};

/// True when the usable neighbour u across side k of the single triangle s lists s back across
/// the same edge and s may hinge on it.
bool partnerSide(const gt& s, int k) {
  const gt* u = s.nb[k];
  const int r = s.nbedge[k];
  return u && r >= 0 && u->nb[r] == &s && u->nbedge[r] == k && u->usable && u->containerIndex >= 0 && hingeable(s, k);
}

/// Gives every piece of a single triangle a partner: a neighbouring triangle that hangs on its
/// own piece by one fold only (so that its piece stays whole) and whose piece keeps more than
/// two triangles. The two make a piece of their own, the single triangle hinged onto the
/// partner's side, where the pair fits the page; the partner's piece keeps its layout. Answers
/// the number of pairs made.
int pairSingles(RunState& state, Dissolver& dissolver) {
  auto& containers = state.containers;
  int paired = 0;
  for (std::size_t c = 0; c < containers.size(); ++c) {
    gtc& single = *containers[c];
    if (!single.valid || single.triangles.size() != 1) continue;
    gt& s = *single.triangles.front();
    for (int k = 0; k < 3; ++k) {
      if (!partnerSide(s, k)) continue;
      gt* u = s.nb[k];
      const int r = s.nbedge[k];
      const auto fromIndex = static_cast<std::size_t>(u->containerIndex);
      gtc& from = *containers[fromIndex];
      if (!from.valid || from.triangles.size() <= 2) continue;
      int folds = 0;
      for (int j = 0; j < 3; ++j) folds += isFold(*u, j) ? 1 : 0;
      if (folds != 1 || holdsMarkedFold({u})) continue;
      Vec3 partner[3], own[3], placed[3];
      ownFlatCorners(*u, partner);
      ownFlatCorners(s, own);
      const Placement hinge = hingePlacement(partner[r], partner[(r + 1) % 3], own[k], own[(k + 1) % 3]);
      for (int j = 0; j < 3; ++j) placed[j] = hinge.apply(own[j]);
      Box box{partner[0].x, partner[0].y, partner[0].x, partner[0].y};
      for (int j = 0; j < 3; ++j) box.extend(partner[j]), box.extend(placed[j]);
      // As every join: a pair larger than the page, or whose box is not a number, stays apart.
      if (!dissolver.test().fits(box)) continue;
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

/// The valid pieces, smallest first; equal sizes in the order of the pieces.
std::vector<std::size_t> smallestFirst(const RunState& state) {
  const auto& containers = state.containers;
  std::vector<std::size_t> pieces;
  for (std::size_t c = 0; c < containers.size(); ++c) {
    if (containers[c]->valid) pieces.push_back(c);
  }
  std::sort(pieces.begin(), pieces.end(), [&](std::size_t a, std::size_t b) {
    const std::size_t x = containers[a]->triangles.size(), y = containers[b]->triangles.size();
    return x < y || (x == y && a < b);
  });
  return pieces;
}

}  // namespace

int handOver(RunState& state, const CompactMesh& mesh, PageLimit page) {
  auto& containers = state.containers;
  Dissolver dissolver(state, mesh, page);
  const long budget = static_cast<long>(kHandOverWork * static_cast<double>(mesh.triangles.size()));
  int went = 0;
  // Pieces that could not go may find room once others went: further passes while pieces go.
  for (int pass = 0; pass < kHandOverPasses; ++pass) {
    const int before = went;
    for (std::size_t b : smallestFirst(state)) {
      if (dissolver.work >= budget) break;
      host::breakPoint();
      if (containers[b]->valid && dissolver.dissolve(b)) ++went;
    }
    if (went == before) break;
  }
  // Single triangles left over take a partner from a neighbour, and the pairs try again to find
  // room on their neighbours.
  if (pairSingles(state, dissolver) > 0) {
    for (std::size_t c = 0; c < containers.size(); ++c) {
      host::breakPoint();
      if (containers[c]->valid && containers[c]->triangles.size() == 2 && dissolver.dissolve(c)) ++went;
    }
  }
  return went;
}

int handOverPieces(RunState& state, PageLimit page) {
  const CompactMesh mesh(state, 0);
  const int went = handOver(state, mesh, page);
  // The pieces' boxes, of their faces, as they stand now.
  for (const auto& c : state.containers) {
    if (!c->valid || c->triangles.empty()) continue;
    const gt& first = *c->triangles.front();
    Box box = flatBox(first.p[0], first.p[1], first.p[2]);
    for (const gt* t : c->triangles) box = box.unite(flatBox(t->p[0], t->p[1], t->p[2]));
    c->box = box;
  }
  return went;
}

}  // namespace foldra
