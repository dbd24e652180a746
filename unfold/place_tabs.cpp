// Glue tabs for the compact unfolding, placed once the pieces are cut. Every cut edge gets one
// tab, on one of its two sides: a trapezoid that folds under the partner triangle across the
// edge. It goes where it stands deepest without touching another part of its piece (a face or
// a tab placed before it) and keeps its piece on the page; where neither side has room at the
// full depth, a shallower tab is tried, and only where neither side has room for the shallowest
// useful one does the edge stay without a tab.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <vector>

#include "geometry/kernel.h"
#include "host/edge_marks.h"
#include "host/progress.h"
#include "unfold/compact.h"
#include "unfold/joiner.h"
#include "unfold/part_index.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

constexpr double kPreferredEnd = std::numbers::pi / 4;
/// The ends a tab pulled back from one corner leaves that corner at.
constexpr double kShallowEnd = std::numbers::pi / 6;
constexpr double kShallowerEnd = std::numbers::pi / 12;
/// The walk round a corner gives up after this many triangles.
constexpr int kMostFanSteps = 64;
/// Depths tried before the shallowest useful tab, as shares of the depth asked for, deepest
/// first.
constexpr double kDeeperSteps[] = {1.0, 0.75, 0.5};
/// How much deeper than the point tolerance a tab must lie on another part to overlap it: a
/// quarter, so that parts that only touch, along a side or at a corner, do not.
constexpr double kTabOverlapDepth = kPointTolerance / 4;

}  // namespace

TabShape tabShape(Vec3 A, Vec3 B, double depth, double limitAtA, double limitAtB) {
  const double l = length(B - A);
  if (!(l > 0) || !std::isfinite(l) || !(depth > 0) || !std::isfinite(depth)) return TabShape{};
  const double wanted = std::max(kPreferredEnd, std::atan2(2 * depth, l));
  return tabShapeWithEnds(A, B, depth, std::min(wanted, limitAtA), std::min(wanted, limitAtB));
}

TabShape tabShapeWithEnds(Vec3 A, Vec3 B, double depth, double endAtA, double endAtB) {
  TabShape shape;
  const double l = length(B - A);
  if (!(l > 0) || !std::isfinite(l) || !(depth > 0) || !std::isfinite(depth)) return shape;
  const double a = std::min(endAtA, kSteepestTabEnd);
  const double b = std::min(endAtB, kSteepestTabEnd);
  if (!(a > 0) || !(b > 0)) return shape;
  const double ca = std::cos(a) / std::sin(a), cb = std::cos(b) / std::sin(b);
  // The two ends meet this far out from the side.
  const double apex = l / (ca + cb);
  const double d = std::min(depth, apex);
  if (!(d > 0) || !std::isfinite(d)) return shape;
  const Vec3 e = (B - A) / l;
  // The triangle runs counter-clockwise: its outside lies to the right of the side.
  const Vec3 out{e.y, -e.x, 0.0};
  const Vec3 nearA = A + d * out + (d * ca) * e;
  const Vec3 nearB = d < apex ? B + d * out - (d * cb) * e : nearA;
  shape.corner[0] = nearB;
  shape.corner[1] = nearA;
  shape.depth = d;
  return shape;
}

double deepestTab(double sideLength, double depth) {
  return tabShape(Vec3{}, Vec3{sideLength, 0, 0}, depth, kSteepestTabEnd, kSteepestTabEnd).depth;
}

namespace {

/// A convex flat polygon of three or four corners, counter-clockwise or clockwise.
struct Convex {
  Vec3 p[4];
  int n = 0;
  Box box{0, 0, 0, 0};
};

Convex convexOf(std::initializer_list<Vec3> corners) {
  Convex c;
  for (Vec3 q : corners) c.p[c.n++] = q;
  c.box = {c.p[0].x, c.p[0].y, c.p[0].x, c.p[0].y};
  for (int i = 1; i < c.n; ++i) c.box.extend(c.p[i]);
  return c;
}

/// A face or a tab of a piece. Its shape is found from the triangle when it is asked for:
/// parts are kept for every triangle of a run, and the triangle holds the corners already.
struct Part {
  const gt* t;
  int side;  // -1 for the face
};

/// The outline of a tab on side k of t from its corners in the piece's frame: a triangle where
/// its two outer corners are one.
Convex tabOutline(const gt& t, int k, const LugPair& tab) {
  const Vec3 A = t.p[k], B = t.p[(k + 1) % 3];
  return !tab[1] || *tab[0] == *tab[1] ? convexOf({A, B, *tab[0]}) : convexOf({A, B, *tab[0], *tab[1]});
}

Convex shapeOf(const Part& part) {
  const gt& t = *part.t;
  return part.side < 0 ? convexOf({t.p[0], t.p[1], t.p[2]}) : tabOutline(t, part.side, t.placedLugs[part.side]);
}

/// A cut edge seen from both sides.
struct Cut {
  gt* t;
  int k;
  gt* g;
  int s;
};

bool hasArea(const gt& t) { return t.normal != Vec3{}; }

/// The widest bend across a cut that a tab still lies under, folded up: the paper gives that
/// much, and the tab stays inside the model.
constexpr double kFlatBendCos = 0.94;  // about 20 degrees

/// True when two neighbouring faces meet at most kFlatBendCos apart, the same way up.
bool nearlyFlat(const gt& g, const gt& h) {
  return hasArea(g) && hasArea(h) && dot(g.normal, h.normal) >= kFlatBendCos;
}

/// The angle the partner's surface spans at one end of a cut edge: from the edge around the
/// corner, through the partner triangle g (whose corner `corner` is that end) and on across its
/// neighbours in the model, until an open side, a side that is neither a fold of its piece nor
/// nearly flat, or kSteepestTabEnd. `from` is g's side on the edge; the walk leaves g by its
/// other side at the corner. Folded up, the tab lies under g; beyond a fold it bends with the
/// paper, and beyond a cut whose far side lies nearly in g's plane it lies just as well under
/// that neighbour, glued on in the model: so a cut there limits the tab no more than a fold.
double roomAt(const gt* g, int corner, int from) {
  double room = 0;
  // Corners without angle (triangles without area) could go round a corner without end.
  for (int steps = 0; g && steps < kMostFanSteps; ++steps) {
    // A corner angle that is not a number (a triangle without area) ends the walk.
    if (!std::isfinite(g->angle[corner])) break;
    room += g->angle[corner];
    if (room >= kSteepestTabEnd) break;
    // The sides at the corner are corner - 1 (ending there) and corner (starting there).
    const int side = from == corner ? (corner + 2) % 3 : corner;
    const gt* h = g->nb[side];
    const int r = g->nbedge[side];
    if (!h || r < 0 || !(isFold(*g, side) || nearlyFlat(*g, *h))) break;
    // The same point is corner r of h when h's side r starts there, else corner r + 1.
    const int next = (h->P[r] == g->P[corner]) ? r : (r + 1) % 3;
    if (!(h->P[next] == g->P[corner])) break;
    g = h;
    corner = next;
    from = r;
  }
  return room;
}

/// Where a person put the tab of the cut edge between side k of t and side s of g: on t's copy,
/// on g's, on neither (no tab), or where it fits best (no mark, or both copies marked).
enum class TabSide { Free, OnT, OnG, None };

TabSide markedTabSide(const gt& t, int k, const gt& g, int s) {
  if (((t.marks[k] | g.marks[s]) & kMarkNoTab) != 0) return TabSide::None;
  const bool onT = (t.marks[k] & kMarkTab) != 0, onG = (g.marks[s] & kMarkTab) != 0;
  return onT == onG ? TabSide::Free : onT ? TabSide::OnT : TabSide::OnG;
}

/// The tabs of the pieces in the run state, placed cut edge by cut edge in rounds of falling
/// depth against the faces and the tabs placed before them.
class TabPlacer {
 public:
  TabPlacer(RunState& state, const UnfoldOptions& options)
      : state_(state), page_(options.page), depth_(options.tabDepth), useful_(options.usefulDepth()) {
    indexFaces();
    findCuts();
  }

  /// Gives the cut edges whose tab a person placed their tab as marked, keeping every other
  /// tab where it stands: the marked edges' tabs go, the others are filed with their pieces,
  /// and the marked ones are placed in rounds as `place` does.
  void placeMarked(double usefulShare) {
    std::vector<char> done(cuts_.size(), 1);
    for (std::size_t i = 0; i < cuts_.size(); ++i) {
      const Cut& c = cuts_[i];
      if (markedTabSide(*c.t, c.k, *c.g, c.s) == TabSide::Free) continue;
      releaseTab(*c.t, c.k);
      releaseTab(*c.g, c.s);
      done[i] = 0;
    }
    for (std::size_t ci = 0; ci < state_.containers.size(); ++ci) {
      if (!state_.containers[ci]->valid) continue;
      for (gt* t : state_.containers[ci]->triangles) {
        for (int k = 0; k < 3; ++k) {
          const LugPair& tab = t->placedLugs[k];
          if (!tab[0]) continue;
          const Convex shape = tabOutline(*t, k, tab);
          state_.containers[ci]->box = state_.containers[ci]->box.unite(shape.box);
          add(ci, {t, k}, shape.box);
        }
      }
    }
    host::StageProgress progress("Placing glue tabs", static_cast<std::int64_t>(std::size(kDeeperSteps) + 1) * static_cast<std::int64_t>(cuts_.size()));
    placeRounds(usefulShare, done, progress);
  }

  /// Places the tabs; answers the number of cut edges left without one.
  int place(double usefulShare) {
    std::vector<char> done(cuts_.size(), 0);
    const auto rounds = static_cast<std::int64_t>(std::size(kDeeperSteps) + 1);
    host::StageProgress progress("Placing glue tabs", rounds * static_cast<std::int64_t>(cuts_.size()));
    placeRounds(usefulShare, done, progress);
    return static_cast<int>(std::count(done.begin(), done.end(), 0));
  }

 private:
  /// One index per valid piece (after the joins most containers are empty), and one more that
  /// no valid piece uses, with the faces of each piece.
  void indexFaces() {
    const auto& containers = state_.containers;
    std::size_t valid = 0;
    for (const auto& c : containers) valid += c->valid ? 1 : 0;
    slot_.assign(containers.size(), static_cast<std::uint32_t>(valid));
    for (std::size_t c = 0, next = 0; c < containers.size(); ++c) {
      if (containers[c]->valid) slot_[c] = static_cast<std::uint32_t>(next++);
    }
    indexes_.resize(valid + 1);
    // A piece of n triangles joined as a tree has n + 2 cut sides, each with at most one tab
    // on this side; seams folded shut only lower that.
    std::size_t parts = 0;
    for (const auto& c : containers) parts += c->valid ? 2 * c->triangles.size() + 2 : 0;
    parts_.reserve(parts);
    for (std::size_t c = 0; c < containers.size(); ++c) {
      if (!containers[c]->valid) continue;
      index(c).reserve(2 * containers[c]->triangles.size() + 2);
      for (const gt* t : containers[c]->triangles) {
        if (hasArea(*t)) add(c, {t, -1}, convexOf({t->p[0], t->p[1], t->p[2]}).box);
      }
    }
  }

  /// Every cut edge between two triangles with area, seen from the triangle created first.
  void findCuts() {
    for (auto& list : state_.gtvec) {
      for (auto& t : list) {
        if (!t->usable || t->containerIndex < 0 || !hasArea(*t)) continue;
        for (int k = 0; k < 3; ++k) {
          gt* g = t->nb[k];
          const int s = t->nbedge[k];
          if (!g || s < 0 || !g->usable || g->nb[s] != t.get() || g->serial < t->serial) continue;
          if (!hasArea(*g) || g->containerIndex < 0 || isFold(*t, k)) continue;
          cuts_.push_back({t.get(), k, g, s});
        }
      }
    }
  }

  PartIndex& index(std::size_t c) { return indexes_[slot_[c]]; }

  void add(std::size_t piece, const Part& part, const Box& box) {
    index(piece).add(static_cast<std::uint32_t>(parts_.size()), box);
    parts_.push_back(part);
  }

  /// True when the shape overlaps a part of the piece other than the face of `own`.
  bool meets(std::size_t piece, const Convex& shape, const gt& own) {
    return index(piece).query(shape.box, [&](std::uint32_t i) {
      const Part& part = parts_[i];
      if (part.t == &own && part.side < 0) return false;
      const Convex other = shapeOf(part);
      return overlapDeeperThan(shape.p, shape.n, other.p, other.n, kTabOverlapDepth);
    });
  }

  /// The rounds, deepest first, then the shallowest useful tab.
  void placeRounds(double usefulShare, std::vector<char>& done, host::StageProgress& progress) {
    std::int64_t round = 0;
    double before = 0;
    for (double share : kDeeperSteps) {
      placeRound(share, before, done, progress, round++);
      before = share;
    }
    placeRound(usefulShare, before, done, progress, round);
  }

  /// The depth asked of the cut's tab in a round of this share: as deep as the round asks, but
  /// no deeper than ends of 45 degrees allow, unless that is less than a useful tab: then the
  /// ends steepen as far as needed for a useful one.
  double wanted(const Cut& c, double share) const {
    const double side = length(c.t->p[(c.k + 1) % 3] - c.t->p[c.k]);
    return std::min(depth_ * share, std::max(useful_, side / 2));
  }

  /// One round: every edge still without a tab gets one of this share of the depth where either
  /// side has room. An edge the round before (of share `before`, 0 for none) asked the same
  /// depth of is left as it is: it found no room then, and a piece only gains faces and tabs
  /// and its box only grows, so it finds none now. On small triangles every round asks the
  /// useful depth, and only the first needs to try it.
  void placeRound(double share, double before, std::vector<char>& done, host::StageProgress& progress, std::int64_t round) {
    const auto cuts = static_cast<std::int64_t>(cuts_.size());
    for (std::size_t i = 0; i < cuts_.size(); ++i) {
      if ((i & 1023) == 0) progress.step(round * cuts + static_cast<std::int64_t>(i));
      if (done[i]) continue;
      const Cut& c = cuts_[i];
      Convex onT, onG;
      const double want = wanted(c, share);
      if (before > 0 && want == wanted(c, before)) continue;
      // A person's choice of the tab's side holds, or of no tab at all.
      const TabSide marked = markedTabSide(*c.t, c.k, *c.g, c.s);
      if (marked == TabSide::None) {
        done[i] = 1;
        continue;
      }
      const TabShape tabT = marked == TabSide::OnG ? TabShape{} : candidate(*c.t, c.k, *c.g, c.s, want, onT);
      const TabShape tabG = marked == TabSide::OnT ? TabShape{} : candidate(*c.g, c.s, *c.t, c.k, want, onG);
      if (tabT.depth == 0 && tabG.depth == 0) continue;
      // The deeper of the two; at equal depth the side of the triangle created first.
      if (tabT.depth >= tabG.depth) {
        put(*c.t, c.k, tabT, onT);
      } else {
        put(*c.g, c.s, tabG, onG);
      }
      done[i] = 1;
    }
  }

  /// The tab on side k of t at the given depth, where it lies in t's piece, folding under the
  /// partner g across side s; depth 0 where none has room.
  TabShape candidate(const gt& t, int k, const gt& g, int s, double want, Convex& shape) {
    const Vec3 A = t.p[k], B = t.p[(k + 1) % 3];
    // t's corner k is g's corner s + 1; t's corner k + 1 is g's corner s.
    const double roomA = roomAt(&g, (s + 1) % 3, s), roomB = roomAt(&g, s, s);
    const auto piece = static_cast<std::size_t>(t.containerIndex);
    // The usual shape first; then, where that touches something, shapes that pull one end
    // back from its corner (a shallow end there, a steep one at the other), since what a tab
    // meets is mostly a face or a tab at one of its corners; last, both ends as steep as the
    // partner allows, the deepest tab a short edge can carry.
    for (int variant = 0; variant < 6; ++variant) {
      TabShape tab;
      if (variant == 0) {
        tab = tabShape(A, B, want, roomA, roomB);
      } else if (variant == 5) {
        tab = tabShapeWithEnds(A, B, want, std::min(kSteepestTabEnd, roomA), std::min(kSteepestTabEnd, roomB));
      } else {
        const double shallow = variant <= 2 ? kShallowEnd : kShallowerEnd;
        const bool atA = variant % 2 == 1;
        tab = tabShapeWithEnds(A, B, want, std::min(atA ? shallow : kSteepestTabEnd, roomA), std::min(atA ? kSteepestTabEnd : shallow, roomB));
      }
      if (!usefulTab(tab.depth, useful_)) continue;
      shape = tabOutline(t, k, LugPair{tab.corner[0], tab.corner[1]});
      if (page_.holds(state_.containers[piece]->box.unite(shape.box)) && !meets(piece, shape, t)) return tab;
    }
    return TabShape{};
  }

  /// Gives side k of t the tab, in both frames, and files it with its piece.
  void put(gt& t, int k, const TabShape& tab, const Convex& shape) {
    // The same tab in the triangle's own flat frame: the rigid move that takes the side there
    // takes the tab along.
    Vec3 own[3];
    ownFlatCorners(t, own);
    const Vec3 A = t.p[k], B = t.p[(k + 1) % 3];
    const Vec3 a = own[k], b = own[(k + 1) % 3];
    const double l = length(B - A);
    const Vec3 e = (B - A) / l, f = (b - a) / l;
    auto carry = [&](Vec3 q) {
      const Vec3 d = q - A;
      const double along = d.x * e.x + d.y * e.y, across = d.x * e.y - d.y * e.x;
      return Vec3{a.x + along * f.x + across * f.y, a.y + along * f.y - across * f.x, 0.0};
    };
    t.Lugs[k] = {carry(tab.corner[0]), carry(tab.corner[1])};
    t.placedLugs[k] = {tab.corner[0], tab.corner[1]};
    t.lugWidth[k] = tab.depth;
    const auto piece = static_cast<std::size_t>(t.containerIndex);
    state_.containers[piece]->box = state_.containers[piece]->box.unite(shape.box);
    add(piece, {&t, k}, shape.box);
  }

  RunState& state_;
  PageLimit page_;
  double depth_, useful_;
  /// Every piece's faces and tabs, the index of each valid piece (slot_ names it), and the cut
  /// edges.
  std::vector<Part> parts_;
  std::vector<PartIndex> indexes_;
  std::vector<std::uint32_t> slot_;
  std::vector<Cut> cuts_;
};

/// Boxes of the faces alone; tabs grow them as they are placed.
void boxFaces(RunState& state) {
  for (const auto& c : state.containers) {
    if (!c->valid) continue;
    Box box{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
            -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (const gt* t : c->triangles) {
      for (const Vec3& q : t->p) box.extend(q);
    }
    c->box = box;
  }
}

}  // namespace

int foldSeamsShut(RunState& state, double foldShut) {
  int shut = 0;
  for (auto& list : state.gtvec) {
    for (auto& t : list) t->foldedShut = 0;
  }
  if (!(foldShut > 0) || !std::isfinite(foldShut)) return 0;
  for (auto& list : state.gtvec) {
    for (auto& t : list) {
      if (!t->usable || t->containerIndex < 0) continue;
      for (int k = 0; k < 3; ++k) {
        gt* g = t->nb[k];
        const int s = t->nbedge[k];
        if (!g || s < 0 || !g->usable || g->nb[s] != t.get() || g->serial < t->serial) continue;
        if (g->containerIndex != t->containerIndex || isFold(*t, k) || !hingeable(*t, k)) continue;
        // t's corner k is g's corner s + 1, and t's corner k + 1 is g's corner s.
        if (length(t->p[k] - g->p[(s + 1) % 3]) > foldShut || length(t->p[(k + 1) % 3] - g->p[s]) > foldShut) continue;
        t->foldedShut = static_cast<std::uint8_t>(t->foldedShut | (1u << k));
        g->foldedShut = static_cast<std::uint8_t>(g->foldedShut | (1u << s));
        ++shut;
      }
    }
  }
  return shut;
}

void applyTabMarks(RunState& state, const UnfoldOptions& options) {
  bool any = false;
  for (const auto& list : state.gtvec) {
    for (const auto& t : list) any = any || ((t->marks[0] | t->marks[1] | t->marks[2]) & (kMarkTab | kMarkNoTab)) != 0;
  }
  if (!any) return;
  // A side marked for no tab keeps none, nor does a side of its neighbour that links back to it,
  // whichever side of it the links name.
  for (auto& list : state.gtvec) {
    for (auto& t : list) {
      for (int k = 0; k < 3; ++k) {
        if ((t->marks[k] & kMarkNoTab) == 0) continue;
        releaseTab(*t, k);
        if (gt* g = t->nb[k]) {
          for (int r = 0; r < 3; ++r) {
            if (g->nb[r] == t.get()) releaseTab(*g, r);
          }
        }
      }
    }
  }
  // A tab moved to the side marked for it is placed as compact places its tabs, where tabs of
  // a size that is a number are asked for; without, the edge keeps no tab on the other side.
  if (!options.placesTabs()) {
    for (auto& list : state.gtvec) {
      for (auto& t : list) {
        for (int k = 0; k < 3; ++k) {
          gt* g = t->nb[k];
          if ((t->marks[k] & kMarkTab) == 0 || !g) continue;
          for (int r = 0; r < 3; ++r) {
            if (g->nb[r] == t.get() && (g->marks[r] & kMarkTab) == 0) releaseTab(*g, r);
          }
        }
      }
    }
    return;
  }
  TabPlacer placer(state, options);
  placer.placeMarked(options.usefulShare);
}

int placeTabs(RunState& state, const UnfoldOptions& options) {
  foldSeamsShut(state, options.foldShut);
  boxFaces(state);
  if (!options.placesTabs()) return 0;
  TabPlacer placer(state, options);
  return placer.place(options.usefulShare);
}

}  // namespace foldra
