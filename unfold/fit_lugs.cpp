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
#include <unordered_map>
#include <vector>

#include "geometry/kernel.h"
#include "unfold/part_index.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

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

/// A place for the tab of one edge: a side of one of the edge's two triangles, and a depth.
struct Candidate {
  gt* t;
  int side;
  double depth;
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

/// The crowded tabs of every valid piece, in the order of the triangle lists.
std::vector<Part> crowdedTabs(const RunState& state) {
  // Most tabs fit where they are: a sweep over each piece finds the few that do not.
  std::vector<Part> crowded;
  std::vector<Swept> scratch;
  for (const auto& c : state.containers) {
    if (c->valid) findCrowded(*c, scratch, crowded);
  }
  std::sort(crowded.begin(), crowded.end(), [](const Part& a, const Part& b) {
    return a.t->serial < b.t->serial || (a.t->serial == b.t->serial && a.side < b.side);
  });
  return crowded;
}

/// Moves crowded tabs one at a time, each against its piece as it stands; the pieces they touch
/// are indexed when first needed.
class TabFitter {
 public:
  TabFitter(RunState& state, const UnfoldOptions& options) : state_(state), options_(options) {}

  /// Finds the crowded tab `here` a place where it meets nothing: the other side of its edge,
  /// else half as deep on either side. False when none has room and the tab went.
  bool refit(const Part& here) {
    gt& t = *here.t;
    const int k = here.side;
    if (!t.placedLugs[k][0] || !meetsPiece(coverOf(here), t, here)) return true;
    gt* g = t.nb[k];
    const int s = t.nbedge[k];
    // The other side takes the tab only where the edge is the same edge seen from there (a
    // triangle with two sides on one neighbour is not) and is not a fold of its piece.
    const bool across = g && s >= 0 && g->usable && g->normal != Vec3{} && valid(*g) && g->nb[s] == &t &&
                        g->nbedge[s] == k && !isFold(*g, s);
    // The tab over there is never deeper than this triangle is high over the edge.
    const double wg = across ? std::min(options_.tabDepth, t.height[k]) : 0;
    const Candidate candidates[3] = {{g, s, wg}, {&t, k, t.lugWidth[k] / 2}, {g, s, wg / 2}};
    for (const Candidate& c : candidates) {
      if (c.t == g && !across) continue;
      const int c1 = (c.side + 1) % 3;
      const LugPair tab = flatLug(c.t->p[c.side], c.t->p[c1], c.depth);
      if (!tab[0] || !(c.depth > 0)) continue;
      const Cover cover = tabCover(c.t->p[c.side], c.t->p[c1], *tab[0], *tab[1]);
      if (meetsPiece(cover, *c.t, here) || !fitsPage(cover, *c.t)) continue;
      RemoveLugs(t, k);
      put(c, tab, cover);
      return true;
    }
    RemoveLugs(t, k);
    return false;
  }

 private:
  bool valid(const gt& t) const {
    const auto i = static_cast<std::size_t>(t.containerIndex);
    return t.containerIndex >= 0 && i < state_.containers.size() && state_.containers[i]->valid;
  }

  void file(PartIndex& piece, gt* t, int side) {
    parts_.push_back({t, side});
    piece.add(static_cast<std::uint32_t>(parts_.size() - 1), coverOf(parts_.back()).outline);
  }

  PartIndex& pieceOf(const gt& t) {
    auto [at, added] = pieces_.try_emplace(t.containerIndex);
    if (added) {
      for (gt* m : state_.containers[static_cast<std::size_t>(t.containerIndex)]->triangles) {
        file(at->second, m, -1);
        for (int k = 0; k < 3; ++k) {
          if (m->placedLugs[k][0]) file(at->second, m, k);
        }
      }
    }
    return at->second;
  }

  /// True when the cover, meant for a side of t, meets a part of t's piece other than t itself
  /// and the tab `replaced`.
  bool meetsPiece(const Cover& cover, const gt& t, const Part& replaced) {
    return pieceOf(t).query(cover.outline, [&](std::uint32_t index) {
      const Part& other = parts_[index];
      if (other.t == &t && other.side < 0) return false;
      if (other.t == replaced.t && other.side == replaced.side) return false;
      if (other.side >= 0 && !other.t->placedLugs[other.side][0]) return false;  // gone since
      return coversMeet(cover, coverOf(other));
    });
  }

  /// True when the piece's box, grown by the cover, still fits the page; a cover that is not
  /// finite fits no page.
  bool fitsPage(const Cover& cover, const gt& t) const {
    if (!options_.page.on) return true;
    const gtc& c = *state_.containers[static_cast<std::size_t>(t.containerIndex)];
    return cover.finite && options_.page.holds(c.box.unite(cover.outline));
  }

  /// Gives the candidate's side the tab, in both frames, and files it with its piece.
  void put(const Candidate& c, const LugPair& tab, const Cover& cover) {
    const int c1 = (c.side + 1) % 3;
    Vec3 own[3];
    ownFlatCorners(*c.t, own);
    c.t->Lugs[c.side] = flatLug(own[c.side], own[c1], c.depth);
    c.t->placedLugs[c.side] = tab;
    c.t->lugWidth[c.side] = c.depth;
    gtc& piece = *state_.containers[static_cast<std::size_t>(c.t->containerIndex)];
    piece.box = piece.box.unite(cover.outline);
    file(pieceOf(*c.t), c.t, c.side);
  }

  RunState& state_;
  const UnfoldOptions& options_;
  std::vector<Part> parts_;
  std::unordered_map<std::int32_t, PartIndex> pieces_;
};

}  // namespace

int fitLugs(RunState& state, const UnfoldOptions& options) {
  const std::vector<Part> crowded = crowdedTabs(state);
  if (crowded.empty()) return 0;
  TabFitter fitter(state, options);
  int lost = 0;
  for (const Part& here : crowded) lost += fitter.refit(here) ? 0 : 1;
  return lost;
}

}  // namespace foldra
