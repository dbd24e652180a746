// Glue tabs that fit their piece. The joins test a moved triangle and its tabs against the piece,
// but two kinds of overlap get through: coplanar joins take no test at all, and the triangles
// on either side of a join are not tested against each other (they share a side, which the
// overlap test would report). So at a sharp inner corner of a flat region, or where the two
// triangles of a join leave less than a right angle between their outer sides, tabs can lie on
// each other or on a triangle. After the joins every tab is tested against the rest of its
// piece; one that overlaps goes over to the other side of its edge, or narrower, or away.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <vector>

#include "geometry/kernel.h"
#include "host/run_state.h"
#include "unfold/box_tree.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

/// Pieces with more parts than this keep a box tree; smaller ones are scanned.
constexpr std::size_t kScanParts = 32;

/// A triangle (side -1) or the tab on one of its sides.
struct Part {
  gt* t;
  int side;
};

/// The flat triangles a part covers: the triangle, or a tab's two (the second has no area for a
/// triangular tab).
struct Cover {
  int count = 0;
  Vec3 corner[2][3];
  Box box[2];
  Box outline{0, 0, 0, 0};
  bool finite = true;
};

Cover coverOf(Vec3 a, Vec3 b, Vec3 c) {
  Cover out;
  out.count = 1;
  out.corner[0][0] = a;
  out.corner[0][1] = b;
  out.corner[0][2] = c;
  out.box[0] = flatBox(a, b, c);
  out.finite = out.box[0].finite();
  out.outline = out.box[0];
  return out;
}

/// The tab with outer corners L0 (next to B) and L1 (next to A) over the flat side A -> B, as
/// the collision test splits it.
Cover tabCover(Vec3 A, Vec3 B, Vec3 L0, Vec3 L1) {
  Cover out = coverOf(B, A, L0);
  out.count = 2;
  out.corner[1][0] = A;
  out.corner[1][1] = L1;
  out.corner[1][2] = L0;
  out.box[1] = flatBox(A, L1, L0);
  out.finite = out.finite && out.box[1].finite();
  out.outline = out.outline.unite(out.box[1]);
  return out;
}

Cover coverOf(const Part& part) {
  const gt& t = *part.t;
  if (part.side < 0) return coverOf(t.p[0], t.p[1], t.p[2]);
  const int k = part.side;
  const LugPair& tab = t.placedLugs[k];
  return tabCover(t.p[k], t.p[(k + 1) % 3], *tab[0], tab[1] ? *tab[1] : Vec3{});
}

/// True when two flat triangles overlap deeper than the point tolerance across every side of
/// either. Unlike the joins' test, triangles that meet along a side or at a corner do not
/// overlap, so two tabs whose slanted ends lie on each other at a right-angled corner both stay.
/// A corner that is not finite counts as an overlap, so that such a tab never stays.
bool interiorsOverlap(const Vec3* a, const Vec3* b) {
  for (int i = 0; i < 3; ++i) {
    if (!isFinite(a[i]) || !isFinite(b[i])) return true;
  }
  const Vec3 A[3] = {a[0], a[1], a[2]};
  const Vec3 B[3] = {b[0], b[1], b[2]};
  return overlapDeeperThan(A, B, kPointTolerance);
}

/// True when two finite boxes overlap by more than the point tolerance both ways: anything
/// less is no overlap of what they hold.
bool boxesOverlap(const Box& a, const Box& b) {
  return std::min(a.maxX, b.maxX) - std::max(a.minX, b.minX) > kPointTolerance &&
         std::min(a.maxY, b.maxY) - std::max(a.minY, b.minY) > kPointTolerance;
}

bool coversMeet(const Cover& a, const Cover& b) {
  const bool finite = a.finite && b.finite;
  for (int i = 0; i < a.count; ++i) {
    for (int j = 0; j < b.count; ++j) {
      if (finite && !boxesOverlap(a.box[i], b.box[j])) continue;
      if (interiorsOverlap(a.corner[i], b.corner[j])) return true;
    }
  }
  return false;
}

/// The parts of one piece, found by their boxes. Parts with a coordinate that is not finite
/// have no box to file them by: they are met by every query, and a query without a finite box
/// meets every part.
class PieceParts {
 public:
  void add(std::uint32_t part, const Cover& cover) {
    if (!cover.finite) {
      loose_.push_back(part);
      return;
    }
    if (filed_.size() < kScanParts) {
      filed_.push_back({part, cover.outline});
      if (filed_.size() == kScanParts) {
        for (const auto& [item, box] : filed_) tree_.insert(item, box);
      }
      return;
    }
    tree_.insert(part, cover.outline);
  }

  template <class Visit>
  bool query(const Cover& cover, Visit&& visit) const {
    for (std::uint32_t part : loose_) {
      if (visit(part)) return true;
    }
    constexpr double inf = std::numeric_limits<double>::infinity();
    const Box box = cover.finite ? cover.outline : Box{-inf, -inf, inf, inf};
    if (filed_.size() < kScanParts) {
      for (const auto& [item, itemBox] : filed_) {
        if (itemBox.reaches(box) && visit(item)) return true;
      }
      return false;
    }
    return tree_.query(box, visit);
  }

 private:
  std::vector<std::uint32_t> loose_;
  std::vector<std::pair<std::uint32_t, Box>> filed_;
  BoxTree tree_;
};

/// A place for the tab of one edge: a side of one of the edge's two triangles, and a width.
struct Candidate {
  gt* t;
  int side;
  double width;
};

/// A part with its cover, for the sweep over one piece.
struct Swept {
  Part part;
  Cover cover;
};

/// True when a and b may overlap at all: not a tab and its own triangle, nor a part and itself.
bool mayMeet(const Part& a, const Part& b) {
  if (a.t != b.t) return true;
  return a.side >= 0 && b.side >= 0 && a.side != b.side;
}

/// The tabs of one piece that meet another part of it, as the joins left the piece: a sweep
/// along the longer side of the piece's box over the parts' boxes. Parts with a coordinate that
/// is not finite meet everything.
void findCrowded(const gtc& piece, std::vector<Swept>& parts, std::vector<Part>& crowded) {
  parts.clear();
  const bool anyTab = std::any_of(piece.triangles.begin(), piece.triangles.end(), [](const gt* t) {
    return t->placedLugs[0][0] || t->placedLugs[1][0] || t->placedLugs[2][0];
  });
  if (!anyTab) return;
  for (gt* t : piece.triangles) {
    parts.push_back({{t, -1}, coverOf(Part{t, -1})});
    for (int k = 0; k < 3; ++k) {
      if (t->placedLugs[k][0]) parts.push_back({{t, k}, coverOf(Part{t, k})});
    }
  }
  std::vector<char> mark(parts.size(), 0);
  bool loose = false;
  for (const Swept& p : parts) loose = loose || !p.cover.finite;
  if (loose) {
    for (std::size_t i = 0; i < parts.size(); ++i) mark[i] = parts[i].part.side >= 0;
  } else {
    const bool alongX = piece.box.width() >= piece.box.height();
    auto low = [&](const Swept& p) { return alongX ? p.cover.outline.minX : p.cover.outline.minY; };
    auto high = [&](const Swept& p) { return alongX ? p.cover.outline.maxX : p.cover.outline.maxY; };
    std::vector<std::uint32_t> order(parts.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      return low(parts[a]) < low(parts[b]) || (low(parts[a]) == low(parts[b]) && a < b);
    });
    for (std::size_t i = 0; i < order.size(); ++i) {
      const Swept& a = parts[order[i]];
      for (std::size_t j = i + 1; j < order.size() && low(parts[order[j]]) <= high(a); ++j) {
        const Swept& b = parts[order[j]];
        if (a.part.side < 0 && b.part.side < 0) continue;  // two triangles: the joins' business
        if (!a.cover.outline.reaches(b.cover.outline) || !mayMeet(a.part, b.part)) continue;
        if (mark[order[i]] && mark[order[j]]) continue;
        if (!coversMeet(a.cover, b.cover)) continue;
        if (a.part.side >= 0) mark[order[i]] = 1;
        if (b.part.side >= 0) mark[order[j]] = 1;
      }
    }
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (mark[i]) crowded.push_back(parts[i].part);
  }
}

}  // namespace

int fitLugs() {
  auto& containers = run.containers;
  // Most tabs fit where they are: a sweep over each piece finds the few that do not.
  std::vector<Part> crowded;
  {
    std::vector<Swept> scratch;
    for (const auto& c : containers) {
      if (c->valid) findCrowded(*c, scratch, crowded);
    }
  }
  if (crowded.empty()) return 0;
  std::sort(crowded.begin(), crowded.end(), [](const Part& a, const Part& b) {
    return a.t->serial < b.t->serial || (a.t->serial == b.t->serial && a.side < b.side);
  });

  // Then each of those in list order, against its piece as it stands; the pieces they touch
  // are indexed when first needed.
  std::vector<Part> parts;
  std::unordered_map<std::int32_t, PieceParts> pieces;
  auto valid = [&](const gt& t) {
    const auto i = static_cast<std::size_t>(t.containerIndex);
    return t.containerIndex >= 0 && i < containers.size() && containers[i]->valid;
  };
  auto file = [&](PieceParts& piece, gt* t, int side) {
    parts.push_back({t, side});
    piece.add(static_cast<std::uint32_t>(parts.size() - 1), coverOf(parts.back()));
  };
  auto pieceOf = [&](const gt& t) -> PieceParts& {
    auto [at, added] = pieces.try_emplace(t.containerIndex);
    if (added) {
      for (gt* m : containers[static_cast<std::size_t>(t.containerIndex)]->triangles) {
        file(at->second, m, -1);
        for (int k = 0; k < 3; ++k) {
          if (m->placedLugs[k][0]) file(at->second, m, k);
        }
      }
    }
    return at->second;
  };
  // True when the cover, meant for a side of t, meets a part of t's piece other than t itself
  // and the tab `replaced`.
  auto meetsPiece = [&](const Cover& cover, const gt& t, const Part& replaced) {
    return pieceOf(t).query(cover, [&](std::uint32_t index) {
      const Part& other = parts[index];
      if (other.t == &t && other.side < 0) return false;
      if (other.t == replaced.t && other.side == replaced.side) return false;
      if (other.side >= 0 && !other.t->placedLugs[other.side][0]) return false;  // gone since
      return coversMeet(cover, coverOf(other));
    });
  };
  // True when the piece's box, grown by the cover, still fits the page.
  auto fitsPage = [&](const Cover& cover, const gt& t) {
    if (!settings.Seitenflag) return true;
    const gtc& c = *containers[static_cast<std::size_t>(t.containerIndex)];
    const Box grown = c.box.unite(cover.outline);
    return cover.finite && grown.maxX - grown.minX <= settings.Seitenbreite &&
           grown.maxY - grown.minY <= settings.Seitenhoehe;
  };

  int lost = 0;
  for (const Part& here : crowded) {
    gt& t = *here.t;
    const int k = here.side;
    if (!t.placedLugs[k][0] || !meetsPiece(coverOf(here), t, here)) continue;
    gt* g = t.nb[k];
    const int s = t.nbedge[k];
    // The other side takes the tab only where the edge is the same edge seen from there (a
    // triangle with two sides on one neighbour is not) and is not a fold of its piece.
    const bool across = g && s >= 0 && g->usable && g->normal != Vec3{} && valid(*g) && g->nb[s] == &t &&
                        g->nbedge[s] == k && !isFold(*g, s);
    // The tab over there is never wider than this triangle is high over the edge.
    const double wg = across ? std::min(settings.Laschenbreite, t.height[k]) : 0;
    const Candidate candidates[3] = {{g, s, wg}, {&t, k, t.lugWidth[k] / 2}, {g, s, wg / 2}};
    bool placed = false;
    for (const Candidate& c : candidates) {
      if (c.t == g && !across) continue;
      const int c1 = (c.side + 1) % 3;
      const LugPair tab = flatLug(c.t->p[c.side], c.t->p[c1], c.width);
      if (!tab[0] || !(c.width > 0)) continue;
      const Cover cover = tabCover(c.t->p[c.side], c.t->p[c1], *tab[0], *tab[1]);
      if (meetsPiece(cover, *c.t, here) || !fitsPage(cover, *c.t)) continue;
      RemoveLugs(t, k);
      Vec3 own[3];
      ownFlatCorners(*c.t, own);
      c.t->Lugs[c.side] = flatLug(own[c.side], own[c1], c.width);
      c.t->placedLugs[c.side] = tab;
      c.t->lugWidth[c.side] = c.width;
      gtc& piece = *containers[static_cast<std::size_t>(c.t->containerIndex)];
      piece.box = piece.box.unite(cover.outline);
      file(pieceOf(*c.t), c.t, c.side);
      placed = true;
      break;
    }
    if (!placed) {
      RemoveLugs(t, k);
      ++lost;
    }
  }
  return lost;
}

}  // namespace foldra
