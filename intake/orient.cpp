// Winding: real exports often hold a few faces whose corners run the other way than their
// neighbours'. Joined as they are, the hinge would lay a neighbour's side onto the triangle's
// with its two ends swapped, and the piece could not fold back into the model. So before
// anything else reads them, the faces of every connected part that can be wound one way are.
#include <algorithm>
#include <utility>
#include <vector>

#include "geometry/gt.h"
#include "geometry/kernel.h"
#include "host/run_state.h"
#include "intake/intake.h"

namespace foldra {

namespace {

/// How two linked triangles run the side they share.
enum class Relation { Agree, Against, None };

/// Side e of t and side s of its neighbour g: one side in space run opposite ways (the two wind
/// alike), the same way (wound against each other), or not one side at all (a duplicate face, a
/// triangle with coinciding corners), which tells nothing.
Relation relation(const gt& t, int e, const gt& g, int s) {
  const Vec3 a = t.P[e], b = t.P[(e + 1) % 3];
  const Vec3 c = g.P[s], d = g.P[(s + 1) % 3];
  if (a == b) return Relation::None;
  if (a == d && b == c) return Relation::Agree;
  if (a == c && b == d) return Relation::Against;
  return Relation::None;
}

/// A link between two triangles of the list that run their side the same way or opposite ways.
struct Link {
  std::int32_t a, b;
  bool against;
};

/// Union-find over the triangles with, per triangle, whether it winds against its root.
class Parity {
 public:
  explicit Parity(std::size_t n) : parent_(n), against_(n, 0) {
    for (std::size_t i = 0; i < n; ++i) parent_[i] = static_cast<std::int32_t>(i);
  }
  /// The root of x, and whether x winds against it.
  std::pair<std::int32_t, bool> find(std::int32_t x) {
    bool against = false;
    std::int32_t r = x;
    while (parent_[static_cast<std::size_t>(r)] != r) {
      against ^= against_[static_cast<std::size_t>(r)] != 0;
      r = parent_[static_cast<std::size_t>(r)];
    }
    // Point the path at the root, each with its own parity against it.
    bool rest = against;
    for (std::int32_t y = x; parent_[static_cast<std::size_t>(y)] != y;) {
      const std::int32_t up = parent_[static_cast<std::size_t>(y)];
      const bool own = against_[static_cast<std::size_t>(y)] != 0;
      parent_[static_cast<std::size_t>(y)] = r;
      against_[static_cast<std::size_t>(y)] = rest ? 1 : 0;
      rest ^= own;
      y = up;
    }
    return {r, against};
  }
  /// Records that a and b wind against each other (or alike); false when that contradicts what
  /// is known already.
  bool relate(std::int32_t a, std::int32_t b, bool against) {
    const auto [ra, pa] = find(a);
    const auto [rb, pb] = find(b);
    if (ra == rb) return (pa ^ pb) == against;
    parent_[static_cast<std::size_t>(rb)] = ra;
    against_[static_cast<std::size_t>(rb)] = (pa ^ pb ^ against) ? 1 : 0;
    return true;
  }

 private:
  std::vector<std::int32_t> parent_;
  std::vector<std::uint8_t> against_;
};

std::uint64_t edgeKey(std::int32_t p, std::int32_t q) {
  const auto lo = static_cast<std::uint32_t>(std::min(p, q));
  const auto hi = static_cast<std::uint32_t>(std::max(p, q));
  return (static_cast<std::uint64_t>(lo) << 32) | hi;
}

}  // namespace

void turnTriangle(gt& t) {
  std::swap(t.P[1], t.P[2]);
  std::swap(t.uvw[1], t.uvw[2]);
  // Side 0 ran from corner 0 to 1 and side 2 from 2 to 0: after the swap each is the other.
  std::swap(t.nb[0], t.nb[2]);
  t.turned = !t.turned;
}

std::int32_t orientTriangles(std::int32_t j, const sdk::Polygon* polygons, std::int32_t polygonCount) {
  auto& list = run.gtvec[static_cast<std::size_t>(j)];
  // Most meshes wind one way throughout: one look at every link settles that.
  bool anyAgainst = false;
  for (const auto& t : list) {
    for (int e = 0; e < 3 && !anyAgainst; ++e) {
      const gt* g = t->nb[e];
      const int s = g ? backSide(*t, *g) : -1;
      anyAgainst = s >= 0 && relation(*t, e, *g, s) == Relation::Against;
    }
    if (anyAgainst) break;
  }
  if (!anyAgainst) return 0;

  const auto n = static_cast<std::int32_t>(list.size());
  // Sorted tables, not hash maps: their code stays inside the module file.
  std::vector<std::pair<const gt*, std::int32_t>> index;
  index.reserve(list.size());
  for (std::int32_t k = 0; k < n; ++k) index.emplace_back(list[static_cast<std::size_t>(k)].get(), k);
  std::sort(index.begin(), index.end());
  auto indexOf = [&](const gt* g) {
    return std::lower_bound(index.begin(), index.end(), std::pair<const gt*, std::int32_t>{g, -1})->second;
  };
  std::vector<std::uint64_t> edges;
  for (std::int32_t k = 0; k < n && k < polygonCount; ++k) {
    if (!list[static_cast<std::size_t>(k)]->usable) continue;
    const sdk::Polygon& q = polygons[k];
    edges.insert(edges.end(), {edgeKey(q.a, q.b), edgeKey(q.b, q.c), edgeKey(q.c, q.a)});
  }
  std::sort(edges.begin(), edges.end());
  auto polygonsOnEdge = [&](std::uint64_t key) {
    const auto [from, to] = std::equal_range(edges.begin(), edges.end(), key);
    return to - from;
  };

  std::vector<Link> links;
  for (std::int32_t k = 0; k < n; ++k) {
    const gt& t = *list[static_cast<std::size_t>(k)];
    for (int e = 0; e < 3; ++e) {
      const gt* g = t.nb[e];
      if (!g) continue;
      const int s = backSide(t, *g);
      const std::int32_t m = indexOf(g);
      // Each link once, from the triangle that comes first.
      if (s < 0 || m <= k) continue;
      const Relation r = relation(t, e, *g, s);
      if (r == Relation::None) continue;
      // An edge of three or more polygons pairs them in an order of the host's: across it two
      // shells that each wind one way (two boxes sharing an edge) would decide each other's
      // winding. Such links tell nothing; they stay cut where they disagree.
      const sdk::Polygon& q = polygons[k];
      const std::int32_t corner[3] = {q.a, q.b, q.c};
      if (polygonsOnEdge(edgeKey(corner[e], corner[(e + 1) % 3])) != 2) continue;
      links.push_back({k, m, r == Relation::Against});
    }
  }

  Parity parity(list.size());
  for (const Link& l : links) parity.relate(l.a, l.b, l.against);

  // In each part the larger share keeps its winding; on a tie the share of the part's first
  // triangle does.
  std::vector<std::int32_t> windsAgainst(list.size(), 0), windsAlike(list.size(), 0);
  std::vector<std::uint8_t> firstAgainst(list.size(), 2);
  std::vector<std::pair<std::int32_t, bool>> found(list.size());
  for (std::int32_t k = 0; k < n; ++k) {
    found[static_cast<std::size_t>(k)] = parity.find(k);
    const auto [root, against] = found[static_cast<std::size_t>(k)];
    auto r = static_cast<std::size_t>(root);
    ++(against ? windsAgainst : windsAlike)[r];
    if (firstAgainst[r] == 2) firstAgainst[r] = against ? 1 : 0;
  }
  std::int32_t turned = 0;
  for (std::int32_t k = 0; k < n; ++k) {
    const auto [root, against] = found[static_cast<std::size_t>(k)];
    const auto r = static_cast<std::size_t>(root);
    const bool keepAgainst = windsAgainst[r] > windsAlike[r] || (windsAgainst[r] == windsAlike[r] && firstAgainst[r] == 1);
    if (against != keepAgainst) {
      turnTriangle(*list[static_cast<std::size_t>(k)]);
      ++turned;
    }
  }
  return turned;
}

}  // namespace foldra
