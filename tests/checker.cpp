// The checkers every unfolding must pass: on the run state the unfolding leaves, and on the
// pieces a run writes into a scene. They measure what they judge themselves (clipped overlaps
// and their width, the model's own corners at every fold), so that a lenient predicate of the
// unfolding cannot hide its own mistakes from them.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <map>
#include <set>

#include "geometry/kernel.h"
#include "host/edge_marks.h"
#include "support.h"
#include "unfold/unfold.h"

namespace testing_support {

using foldra::gt;
using foldra::Vec3;

namespace {

double cross2(Vec3 o, Vec3 a, Vec3 b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

/// The convex polygon `subject` cut down to the side of the line a -> b where `inside` is
/// positive (Sutherland-Hodgman, one edge).
std::vector<Vec3> clip(const std::vector<Vec3>& subject, Vec3 a, Vec3 b, double sense) {
  std::vector<Vec3> out;
  for (std::size_t i = 0; i < subject.size(); ++i) {
    const Vec3 p = subject[i], q = subject[(i + 1) % subject.size()];
    const double dp = sense * cross2(a, b, p), dq = sense * cross2(a, b, q);
    if (dp >= 0) out.push_back(p);
    if ((dp > 0 && dq < 0) || (dp < 0 && dq > 0)) {
      const double t = dp / (dp - dq);
      out.push_back(p + t * (q - p));
    }
  }
  return out;
}

}  // namespace

double overlapWidth(const FlatTriangle& a, const FlatTriangle& b) {
  const double areaA = cross2(a[0], a[1], a[2]), areaB = cross2(b[0], b[1], b[2]);
  if (areaA == 0 || areaB == 0 || !std::isfinite(areaA) || !std::isfinite(areaB)) return 0;
  std::vector<Vec3> common(a.begin(), a.end());
  const double sense = areaB > 0 ? 1 : -1;
  for (int k = 0; k < 3 && common.size() >= 3; ++k) common = clip(common, b[static_cast<std::size_t>(k)], b[static_cast<std::size_t>((k + 1) % 3)], sense);
  if (common.size() < 3) return 0;
  // The narrowest extent of a convex polygon lies across one of its sides. Sides shorter than
  // the rounding of their ends have no direction to speak of; they are passed over.
  double scale = 0;
  for (const Vec3& p : common) scale = std::max({scale, std::fabs(p.x), std::fabs(p.y)});
  const double shortest = 1e-12 * std::max(1.0, scale);
  double width = INFINITY;
  for (std::size_t i = 0; i < common.size(); ++i) {
    const Vec3 p = common[i], q = common[(i + 1) % common.size()];
    const double l = std::hypot(q.x - p.x, q.y - p.y);
    if (!(l > shortest)) continue;
    double extent = 0;
    for (const Vec3& r : common) extent = std::max(extent, std::fabs(cross2(p, q, r)) / l);
    width = std::min(width, extent);
  }
  return std::isfinite(width) ? width : 0;
}

CheckOptions CheckOptions::of(const foldra::Settings& settings) {
  CheckOptions options;
  options.tabs = settings.Laschenflag && settings.Laschenbreite >= foldra::kPointTolerance;
  options.compact = settings.Abwicklungsart == foldra::kUnfoldCompact;
  options.foldShut = options.compact ? settings.Nahtspalt : 0;
  options.bareSeams = options.compact && settings.OffeneNaehte;
  options.tabDepth = settings.Laschenbreite;
  options.pageLimit = settings.Seitenflag;
  options.pageWidth = settings.Seitenbreite;
  options.pageHeight = settings.Seitenhoehe;
  return options;
}

std::vector<std::string> checkUnfoldingFor(const foldra::Settings& settings) { return checkUnfolding(CheckOptions::of(settings)); }

namespace {

bool degenerate(const gt& t) { return t.normal == Vec3{}; }

std::string name(const gt& t) {
  return "triangle " + std::to_string(t.objectIndex) + "/" + (t.polygon >= 0 ? std::to_string(t.polygon) : "s" + std::to_string(t.serial));
}

bool samePoint(Vec3 a, Vec3 b) { return std::hypot(a.x - b.x, a.y - b.y) < foldra::kPointTolerance; }

/// The side of g whose neighbour is t, or -1.
int sideBack(const gt& t, const gt& g) {
  for (int j = 0; j < 3; ++j) {
    if (g.nb[j] == &t) return j;
  }
  return -1;
}

/// True when side k of t and side s of g lie on each other in the flat layout, either way round:
/// the edge is a fold of their piece.
bool flatSidesMeet(const gt& t, int k, const gt& g, int s) {
  const Vec3 a = t.p[k], b = t.p[(k + 1) % 3], c = g.p[s], d = g.p[(s + 1) % 3];
  return (samePoint(a, d) && samePoint(b, c)) || (samePoint(a, c) && samePoint(b, d));
}

/// True when side k of t and side s of g, two copies of one edge, end within `gap` of each
/// other at both ends: a seam of their piece that may be folded shut.
bool flatSidesClose(const gt& t, int k, const gt& g, int s, double gap) {
  const double tolerance = gap + foldra::kPointTolerance;
  return std::hypot(t.p[k].x - g.p[(s + 1) % 3].x, t.p[k].y - g.p[(s + 1) % 3].y) <= tolerance &&
         std::hypot(t.p[(k + 1) % 3].x - g.p[s].x, t.p[(k + 1) % 3].y - g.p[s].y) <= tolerance;
}

/// The parts of a piece that cover paper: its triangles, and each tab as the two triangles its
/// quadrilateral (side k + 1, side k, outer corner next to k, outer corner next to k + 1) makes.
struct Part {
  FlatTriangle corners;
  std::string what;
};

void addTabParts(const gt& g, std::vector<Part>& parts) {
  for (int k = 0; k < 3; ++k) {
    if (!g.placedLugs[k][0]) continue;
    const Vec3 L0 = *g.placedLugs[k][0];
    const Vec3 L1 = g.placedLugs[k][1] ? *g.placedLugs[k][1] : Vec3{};
    const std::string what = "the tab on side " + std::to_string(k) + " of " + name(g);
    parts.push_back({{g.p[(k + 1) % 3], g.p[k], L1}, what});
    parts.push_back({{g.p[(k + 1) % 3], L1, L0}, what});
  }
}

double extentOf(const FlatTriangle& t) {
  double e = 0;
  for (const Vec3& p : t) e = std::max({e, std::fabs(p.x), std::fabs(p.y)});
  return e;
}

/// Every pair of parts that overlap wider than `rounding(a, b)`, found by a sweep over their
/// boxes; one message per pair, at most `room` of them.
template <class Rounding>
void overlappingParts(const std::vector<Part>& parts, Rounding&& rounding, const std::string& where,
                      const std::function<void(const std::string&)>& fail) {
  std::vector<std::size_t> order(parts.size());
  std::vector<double> low(parts.size()), high(parts.size()), bottom(parts.size()), top(parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i) {
    order[i] = i;
    const FlatTriangle& t = parts[i].corners;
    low[i] = std::min({t[0].x, t[1].x, t[2].x});
    high[i] = std::max({t[0].x, t[1].x, t[2].x});
    bottom[i] = std::min({t[0].y, t[1].y, t[2].y});
    top[i] = std::max({t[0].y, t[1].y, t[2].y});
  }
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return low[a] < low[b]; });
  std::set<std::pair<std::string, std::string>> said;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::size_t a = order[i];
    for (std::size_t j = i + 1; j < order.size() && low[order[j]] <= high[a]; ++j) {
      const std::size_t b = order[j];
      if (bottom[b] > top[a] || bottom[a] > top[b] || parts[a].what == parts[b].what) continue;
      const double width = overlapWidth(parts[a].corners, parts[b].corners);
      if (width > rounding(parts[a].corners, parts[b].corners) && said.insert({parts[a].what, parts[b].what}).second) {
        fail(where + ": " + parts[a].what + " overlaps " + parts[b].what + " " + std::to_string(width) + " wide");
      }
    }
  }
}

/// Whether a tab of width w on side k of t could stand in its piece: its outline (built here
/// from the side and the third corner, independently of the unfolding) reaches no box of another
/// part of the piece, and with a page the piece still fits. A tab that can stand is never
/// dropped, so an edge without a tab needs both of its sides to answer false.
bool tabCouldStand(const gt& t, int k, double w, const CheckOptions& options) {
  struct Bounds {
    double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
    void add(Vec3 q) {
      minX = std::min(minX, q.x), minY = std::min(minY, q.y), maxX = std::max(maxX, q.x), maxY = std::max(maxY, q.y);
    }
    bool meets(const Bounds& o) const { return minX < o.maxX && o.minX < maxX && minY < o.maxY && o.minY < maxY; }
  };
  const Vec3 A = t.p[k], B = t.p[(k + 1) % 3], C = t.p[(k + 2) % 3];
  const double l = foldra::length(B - A);
  if (!(l > 0) || !(w > 0)) return false;
  const Vec3 e = (B - A) / l;
  Vec3 out{-e.y, e.x, 0};
  if (foldra::dot(out, C - A) > 0) out = -1.0 * out;
  Bounds tab;
  for (Vec3 q : {A, B, A + w * out, B + w * out}) tab.add(q);
  // Parts that only touch the outline do not overlap the tab: the outline is taken in by less
  // than the depth the unfolding tolerates.
  Bounds inner = tab;
  inner.minX += 1e-6, inner.minY += 1e-6, inner.maxX -= 1e-6, inner.maxY -= 1e-6;
  const foldra::gtc& piece = *foldra::run.containers[static_cast<std::size_t>(t.containerIndex)];
  for (const gt* g : piece.triangles) {
    Bounds b;
    if (g != &t) {
      for (const Vec3& q : g->p) b.add(q);
      if (!degenerate(*g) && b.meets(inner)) return false;
    }
    std::vector<Part> tabs;
    addTabParts(*g, tabs);
    for (const auto& part : tabs) {
      Bounds c;
      for (const Vec3& q : part.corners) c.add(q);
      if (c.meets(inner)) return false;
    }
  }
  if (options.pageLimit) {
    const double width = std::max(piece.box.maxX, tab.maxX) - std::min(piece.box.minX, tab.minX);
    const double height = std::max(piece.box.maxY, tab.maxY) - std::min(piece.box.minY, tab.minY);
    // As the unfolding measures it: a page whose size is not a number holds nothing.
    if (!(width <= options.pageWidth && height <= options.pageHeight)) return false;
  }
  return true;
}

/// Whether the triangle t with a tab of width w on side k fits the page together with t's piece
/// and the tabs the piece has.
bool tabFitsPage(const gt& t, int k, double w, const CheckOptions& options) {
  if (!options.pageLimit) return true;
  const Vec3 A = t.p[k], B = t.p[(k + 1) % 3], C = t.p[(k + 2) % 3];
  const double l = foldra::length(B - A);
  if (!(l > 0)) return false;
  const Vec3 e = (B - A) / l;
  Vec3 out{-e.y, e.x, 0};
  if (foldra::dot(out, C - A) > 0) out = -1.0 * out;
  double minX = 1e300, minY = 1e300, maxX = -1e300, maxY = -1e300;
  auto add = [&](Vec3 q) { minX = std::min(minX, q.x), minY = std::min(minY, q.y), maxX = std::max(maxX, q.x), maxY = std::max(maxY, q.y); };
  for (Vec3 q : {A, B, C, A + w * out, B + w * out}) add(q);
  // Beside the tabs its piece has: where those leave no room on the page, the page is why.
  if (t.containerIndex < 0) return maxX - minX <= options.pageWidth && maxY - minY <= options.pageHeight;
  for (const gt* u : foldra::run.containers[static_cast<std::size_t>(t.containerIndex)]->triangles) {
    for (int j = 0; j < 3; ++j) {
      add(u->p[j]);
      for (const auto& corner : u->placedLugs[j]) {
        if (corner) add(*corner);
      }
    }
  }
  return maxX - minX <= options.pageWidth && maxY - minY <= options.pageHeight;
}

}  // namespace

int validPieces() {
  int n = 0;
  for (const auto& c : foldra::run.containers) n += c->valid ? 1 : 0;
  return n;
}

std::vector<std::string> checkUnfolding(const CheckOptions& options) {
  std::vector<std::string> failures;
  auto fail = [&](const std::string& what) {
    if (failures.size() < 20) failures.push_back(what);
  };
  const auto& containers = foldra::run.containers;
  std::set<const gt*> listed;
  for (std::size_t i = 0; i < containers.size(); ++i) {
    if (!containers[i]->valid) continue;
    for (const gt* t : containers[i]->triangles) {
      if (t->containerIndex != static_cast<int>(i)) fail(name(*t) + " is listed by piece " + std::to_string(i) + " but names " + std::to_string(t->containerIndex));
      if (!listed.insert(t).second) fail(name(*t) + " is listed twice");
    }
  }
  // How far the pieces reach from their origins. A piece's members are carried through the
  // frames of the pieces it was joined from, and a piece cut from a larger one keeps what that
  // one's frame rounded, so with huge coordinates a member is placed no closer than the rounding
  // at the farthest reach of any piece, even where it ends near the origin.
  double farthest = 0;
  for (std::size_t i = 0; i < containers.size() && !options.precise; ++i) {
    if (!containers[i]->valid) continue;
    for (const gt* t : containers[i]->triangles) {
      for (const Vec3& p : t->p) farthest = std::max({farthest, std::fabs(p.x), std::fabs(p.y)});
    }
  }
  const std::vector<double> reach(containers.size(), farthest);
  for (const auto& list : foldra::run.gtvec) {
    for (const auto& t : list) {
      if (!t->usable) continue;
      if (!listed.count(t.get())) fail(name(*t) + " is in no valid piece");
      // Side lengths are compared relative to the triangle's longest side: placing a sliver next
      // to a side of 1e30 cannot keep its short side to more digits than the long one has.
      double longest = 1.0;
      for (int k = 0; k < 3; ++k) longest = std::max(longest, foldra::length(t->P[(k + 1) % 3] - t->P[k]));
      const int piece = t->containerIndex;
      if (!options.precise && piece >= 0 && static_cast<std::size_t>(piece) < reach.size()) {
        longest = std::max(longest, reach[static_cast<std::size_t>(piece)]);
      }
      for (int k = 0; k < 3; ++k) {
        if (!foldra::isFinite(t->p[k])) fail(name(*t) + " has a flat corner that is not finite");
        const double flat = foldra::length(t->p[(k + 1) % 3] - t->p[k]);
        const double space = foldra::length(t->P[(k + 1) % 3] - t->P[k]);
        if (std::fabs(flat - space) > 1e-9 * std::max({flat, longest})) {
          fail(name(*t) + " side " + std::to_string(k) + " is " + std::to_string(flat) + " flat but " + std::to_string(space) + " in space");
        }
        const bool tab = t->placedLugs[k][0].has_value();
        if (tab != t->Lugs[k][0].has_value()) fail(name(*t) + " has a tab in one frame only");
        if (tab && (!foldra::isFinite(*t->placedLugs[k][0]) || !foldra::isFinite(*t->placedLugs[k][1]))) {
          fail(name(*t) + " has a tab corner that is not finite");
        }
        const gt* g = t->nb[k];
        const int s = g ? sideBack(*t, *g) : -1;
        if (!g || s < 0) {
          if (tab) fail(name(*t) + " has a tab on an open edge");
          continue;
        }
        // A fold is told by its corners lying within the point tolerance of each other; in a
        // piece that reaches far beyond what doubles resolve to that tolerance, the corners of
        // small triangles round onto each other and every side looks like a fold.
        // A seam the unfolding folds shut is a fold whose copies may lie up to the fold-shut width
        // apart.
        if (foldra::isFold(*t, k) && (t->marks[k] & foldra::kMarkCut) != 0) {
          fail(name(*t) + " side " + std::to_string(k) + ": a fold across an edge marked as always cut");
        }
        const bool shut = foldra::isFold(*t, k) && !flatSidesMeet(*t, k, *g, s);
        if (shut && (g->containerIndex != t->containerIndex || !flatSidesClose(*t, k, *g, s, options.foldShut))) {
          fail(name(*t) + " side " + std::to_string(k) + " is folded shut though its copies lie further apart than the fold-shut width");
        }
        if (shut && !foldra::isFold(*g, s)) fail(name(*t) + " side " + std::to_string(k) + " is folded shut on one copy only");
        if (g->containerIndex == t->containerIndex && (flatSidesMeet(*t, k, *g, s) || shut)) {
          if (tab && options.precise) fail(name(*t) + " has a tab on a fold");
          if (shut) continue;
          // Folded back up, the two triangles must meet in the same two corners of the model.
          for (const int c : {k, (k + 1) % 3}) {
            // The nearest of g's corners: on a sliver two of them may lie within the tolerance.
            int at = -1;
            double nearest = INFINITY;
            for (int i = 0; i < 3; ++i) {
              const double d = std::hypot(t->p[c].x - g->p[i].x, t->p[c].y - g->p[i].y);
              if (samePoint(t->p[c], g->p[i]) && d < nearest) {
                nearest = d;
                at = i;
              }
            }
            // Corners closer than the point tolerance are one point to the unfolding: on a side
            // shorter than that, either end may meet either.
            if (options.precise && (at < 0 || foldra::length(t->P[c] - g->P[at]) > std::max(1e-9 * longest, foldra::kPointTolerance))) {
              fail(name(*t) + " side " + std::to_string(k) + ": a fold with " + name(*g) + " joins different corners of the model");
              break;
            }
          }
          continue;
        }
        if (options.tabs && options.precise && !degenerate(*t) && !degenerate(*g) && t->serial < g->serial) {
          const bool other = g->placedLugs[s][0].has_value();
          if (tab && other) fail(name(*t) + " side " + std::to_string(k) + ": a cut edge with two tabs");
          // A person's marks: no tab on an edge marked so, the tab only on the copy marked for it.
          const std::uint8_t marks = static_cast<std::uint8_t>(t->marks[k] | g->marks[s]);
          if ((marks & foldra::kMarkNoTab) != 0) {
            if (tab || other) fail(name(*t) + " side " + std::to_string(k) + ": a tab on an edge marked for none");
            continue;
          }
          const bool onT = (t->marks[k] & foldra::kMarkTab) != 0, onG = (g->marks[s] & foldra::kMarkTab) != 0;
          if ((onT && !onG && other) || (onG && !onT && tab)) {
            fail(name(*t) + " side " + std::to_string(k) + ": the tab stands on the copy not marked for it");
          }
          if (onT != onG) continue;
          // The narrowest tab the unfolding tries is half of what the other triangle's height
          // allows; in the compact method a third of the tab width, on an edge long enough for
          // it between ends of at most 75 degrees and at most the partner's corners.
          double wt = std::min(options.tabDepth, g->height[s]) / 2;
          double wg = std::min(options.tabDepth, t->height[k]) / 2;
          if (options.compact) {
            const double useful = options.tabDepth / 3;
            const double side = foldra::length(t->P[(k + 1) % 3] - t->P[k]);
            auto deepest = [&](double a, double b) {
              const double steepest = 75 * std::acos(-1.0) / 180;
              a = std::min(a, steepest), b = std::min(b, steepest);
              return side / (1 / std::tan(a) + 1 / std::tan(b));
            };
            // t's corner k is g's corner s + 1.
            wt = deepest(g->angle[(s + 1) % 3], g->angle[s]) >= useful ? useful : 0;
            wg = deepest(t->angle[k], t->angle[(k + 1) % 3]) >= useful ? useful : 0;
          }
          if (!tab && !other && (tabCouldStand(*t, k, wt, options) || tabCouldStand(*g, s, wg, options))) {
            fail(name(*t) + " side " + std::to_string(k) + ": a cut edge with no tab, though one could stand");
          } else if (!tab && !other && options.compact && !options.bareSeams &&
                     ((wt > 0 && tabFitsPage(*t, k, wt, options)) || (wg > 0 && tabFitsPage(*g, s, wg, options)))) {
            fail(name(*t) + " side " + std::to_string(k) + ": a cut edge with no tab, though it is long enough for one");
          }
        }
        if (!options.tabs && tab) fail(name(*t) + " has a tab though tabs are off");
      }
    }
  }
  for (std::size_t i = 0; i < containers.size(); ++i) {
    const foldra::gtc& c = *containers[i];
    if (!c.valid) continue;
    if (options.precise) {
      std::vector<Part> parts;
      for (const gt* u : c.triangles) {
        parts.push_back({{u->p[0], u->p[1], u->p[2]}, name(*u)});
        addTabParts(*u, parts);
      }
      // Rounding grows with the coordinates: a billionth of them, and never less than what the
      // unfolding tells apart.
      auto rounding = [](const FlatTriangle& a, const FlatTriangle& b) {
        return std::max(kOverlapRounding, 1e-9 * std::max(extentOf(a), extentOf(b)));
      };
      overlappingParts(parts, rounding, "piece " + std::to_string(i), fail);
    }
    // One sheet of paper: every triangle reached from the first across folds, judged by the flat
    // corners (two shared corners), not by the unfolding's own fold test.
    if (!c.triangles.empty()) {
      std::set<const gt*> members(c.triangles.begin(), c.triangles.end()), reached{c.triangles.front()};
      std::vector<const gt*> stack{c.triangles.front()};
      while (!stack.empty()) {
        const gt* t = stack.back();
        stack.pop_back();
        for (int k = 0; k < 3; ++k) {
          const gt* g = t->nb[k];
          const int s = g ? sideBack(*t, *g) : -1;
          if (!g || s < 0 || !members.count(g) || reached.count(g)) continue;
          // With huge coordinates the two copies of a fold meet to the rounding at the piece's reach.
          const bool meet = flatSidesMeet(*t, k, *g, s) || (!options.precise && flatSidesClose(*t, k, *g, s, 1e-9 * reach[i]));
          if (!meet && !(foldra::isFold(*t, k) && flatSidesClose(*t, k, *g, s, options.foldShut))) continue;
          reached.insert(g);
          stack.push_back(g);
        }
      }
      if (reached.size() != members.size()) {
        fail("piece " + std::to_string(i) + " falls apart: " + std::to_string(members.size() - reached.size()) + " of its " +
             std::to_string(members.size()) + " triangles are not joined to its first by folds");
      }
    }
    // A single triangle larger than the page cannot be helped: only joins are refused.
    if (options.pageLimit && c.triangles.size() > 1) {
      if (c.box.maxX - c.box.minX > options.pageWidth + 1e-9 || c.box.maxY - c.box.minY > options.pageHeight + 1e-9) {
        fail("piece " + std::to_string(i) + " is " + std::to_string(c.box.maxX - c.box.minX) + " x " + std::to_string(c.box.maxY - c.box.minY) + ", larger than the page");
      }
    }
  }
  return failures;
}

// ---- The pieces in a scene ---------------------------------------------------------------------

namespace {

double distance(const scene::Point& p, const scene::Point& q) {
  return std::sqrt(double(p.x - q.x) * (p.x - q.x) + double(p.y - q.y) * (p.y - q.y) + double(p.z - q.z) * (p.z - q.z));
}

std::array<double, 3> sortedSides(const scene::Point& a, const scene::Point& b, const scene::Point& c) {
  std::array<double, 3> s{distance(a, b), distance(b, c), distance(c, a)};
  std::sort(s.begin(), s.end());
  return s;
}

Vec3 widen(const scene::Point& p) { return {p.x, p.y, 0}; }

}  // namespace

std::vector<std::array<double, 3>> triangleSides(const scene::Object& object) {
  std::vector<std::array<double, 3>> out;
  for (const auto& q : object.polygons) {
    out.push_back(sortedSides(object.points[static_cast<std::size_t>(q.a)], object.points[static_cast<std::size_t>(q.b)],
                              object.points[static_cast<std::size_t>(q.c)]));
  }
  return out;
}

std::vector<std::string> checkPieceObjects(const scene::Document& result, const std::vector<std::array<double, 3>>& sides,
                                           double pageWidth, double pageHeight) {
  std::vector<std::string> failures;
  auto fail = [&](const std::string& what) {
    if (failures.size() < 20) failures.push_back(what);
  };
  std::multimap<double, std::array<double, 3>> unmatched;
  for (const auto& s : sides) unmatched.emplace(s[0] + s[1] + s[2], s);
  std::size_t triangles = 0;
  for (const auto& o : result.objects()) {
    const std::string piece = "piece \"" + o->name + "\"";
    if (o->type != sdk::kObjectPolygon || o->points.empty()) {
      fail(piece + " is no polygon object with points");
      continue;
    }
    const float z = o->points.front().z;
    float minX = FLT_MAX, maxX = -FLT_MAX, minY = FLT_MAX, maxY = -FLT_MAX;
    bool finite = true;
    for (const auto& p : o->points) {
      if (p.z != z) fail(piece + " does not lie in one plane");
      finite = finite && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
      minX = std::min(minX, p.x), maxX = std::max(maxX, p.x), minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
    if (!finite) {
      fail(piece + " has a coordinate that is not finite");
      continue;
    }
    if (pageWidth > 0 && (maxX - minX > pageWidth * (1 + 1e-5) || maxY - minY > pageHeight * (1 + 1e-5))) {
      fail(piece + " is " + std::to_string(maxX - minX) + " x " + std::to_string(maxY - minY) + ", larger than the page");
    }
    std::vector<Part> parts;
    for (std::size_t i = 0; i < o->polygons.size(); ++i) {
      const auto& q = o->polygons[i];
      auto at = [&](std::int32_t index) { return widen(o->points[static_cast<std::size_t>(index)]); };
      const std::string what = "polygon " + std::to_string(i);
      if (!scene::isTriangle(q)) {
        parts.push_back({{at(q.a), at(q.b), at(q.c)}, what});
        parts.push_back({{at(q.a), at(q.c), at(q.d)}, what});
        continue;
      }
      parts.push_back({{at(q.a), at(q.b), at(q.c)}, what});
      ++triangles;
      // Congruent to a source triangle not yet taken.
      const auto s = sortedSides(o->points[static_cast<std::size_t>(q.a)], o->points[static_cast<std::size_t>(q.b)],
                                 o->points[static_cast<std::size_t>(q.c)]);
      const double sum = s[0] + s[1] + s[2];
      const double tolerance = 1e-4 * std::max(1.0, sum);
      bool found = false;
      for (auto it = unmatched.lower_bound(sum - 3 * tolerance); it != unmatched.end() && it->first <= sum + 3 * tolerance; ++it) {
        const auto& r = it->second;
        if (std::fabs(r[0] - s[0]) < tolerance && std::fabs(r[1] - s[1]) < tolerance && std::fabs(r[2] - s[2]) < tolerance) {
          unmatched.erase(it);
          found = true;
          break;
        }
      }
      if (!found) fail(piece + ": a flat triangle " + std::to_string(s[0]) + " " + std::to_string(s[1]) + " " + std::to_string(s[2]) + " matches no source triangle");
    }
    // Each coordinate was rounded to a float on its way into the file.
    auto rounding = [](const FlatTriangle& a, const FlatTriangle& b) {
      return kOverlapRounding + 16 * FLT_EPSILON * std::max(extentOf(a), extentOf(b));
    };
    overlappingParts(parts, rounding, piece, fail);
  }
  if (triangles != sides.size()) fail(std::to_string(triangles) + " triangles in the pieces for " + std::to_string(sides.size()) + " in the source");
  return failures;
}

}  // namespace testing_support
