// Laying triangles into a piece one at a time, as the hand-over and the regrowth of the compact
// unfolding do: each is hinged across a side of a triangle laid before it and tested as the
// joins test (JoinTest), and the sides it brings wait their turn on a frontier.
#pragma once

#include <array>
#include <cstdint>
#include <queue>
#include <vector>

#include "geometry/gt.h"
#include "geometry/kernel.h"
#include "unfold/join_test.h"

namespace foldra {

/// A side to lay a triangle across: side `side` of `from`, which lies in place already.
struct LaySide {
  gt* from;
  int side;
  /// Steps from the triangles that stayed where they were.
  int depth;
  /// The bend across the side: flat sides go first.
  double bend;
  /// The order the side was offered in, which breaks ties.
  std::uint64_t seq;
};

/// The sides waiting for a triangle: flattest first (with `byDepth`, nearest the triangles that
/// stayed first), sides of equal bend in the order they were offered.
class Frontier {
 public:
  explicit Frontier(bool byDepth) : queue_(Later{byDepth}) {}
  void offer(gt* from, int side, double bend, int depth = 0) { queue_.push({from, side, depth, bend, seq_++}); }
  bool empty() const { return queue_.empty(); }
  LaySide take() {
    const LaySide next = queue_.top();
    queue_.pop();
    return next;
  }

 private:
  struct Later {
    bool byDepth;
    bool operator()(const LaySide& x, const LaySide& y) const {
      if (byDepth && x.depth != y.depth) return x.depth > y.depth;
      return x.bend > y.bend || (x.bend == y.bend && x.seq > y.seq);
    }
  };
  std::priority_queue<LaySide, std::vector<LaySide>, Later> queue_;
  std::uint64_t seq_ = 0;
};

/// Where a laid triangle lies: its flat corners and their box.
struct Laid {
  std::array<Vec3, 3> p;
  Box box;
};

/// Lays the neighbour g across side `side` of `from`, whose flat corners lie at `fp`, and
/// tests it: its box must be finite, the piece's box (`pieceBox`) grown by it must fit the page,
/// and no face near it may overlap it. `faces(reach, overlaps)` asks the piece for its faces
/// whose boxes reach `reach` and answers true as soon as `overlaps(h, q)` does for one of them
/// (h lying at the corners q). True when g may lie there: `laid` says where, and `pieceBox` has
/// grown by it.
template <class Faces>
bool layAcross(const JoinTest& test, const gt& from, int side, const Vec3* fp, Box& pieceBox, Faces&& faces, Laid& laid) {
  const gt& g = *from.nb[side];
  const int s = from.nbedge[side];
  Vec3 own[3];
  ownFlatCorners(g, own);
  const Placement hinge = hingePlacement(fp[side], fp[(side + 1) % 3], own[s], own[(s + 1) % 3]);
  for (int k = 0; k < 3; ++k) laid.p[static_cast<std::size_t>(k)] = hinge.apply(own[k]);
  laid.box = flatBox(laid.p[0], laid.p[1], laid.p[2]);
  if (!laid.box.finite()) return false;
  const Box grown = pieceBox.unite(laid.box);
  if (!test.fits(grown)) return false;
  FlatShape G;
  for (int k = 0; k < 3; ++k) G.p[k] = laid.p[static_cast<std::size_t>(k)];
  const FlatParts partsG = partsOf(G);
  auto overlaps = [&](const gt& h, const Vec3* q) {
    FlatShape H;
    for (int k = 0; k < 3; ++k) H.p[k] = q[k];
    return JoinTest::collides(g, G, JoinTest::given(partsG), h, H, JoinTest::madeFrom(H));
  };
  if (faces(test.reach(laid.box), overlaps)) return false;
  pieceBox = grown;
  return true;
}

}  // namespace foldra
