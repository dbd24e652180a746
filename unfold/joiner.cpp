// The joins of the unfolding on charts with bounding-box trees; see joiner.h.
#include "unfold/joiner.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "host/edge_marks.h"
#include "host/trace.h"

namespace foldra {

namespace {

/// Members up to this count are scanned; a larger chart gets its tree.
constexpr std::size_t kTreeThreshold = 24;
constexpr double kHuge = 1.7976931348623157e308;
constexpr double kTiny = 2.2250738585072014e-308;

Mat3 multiply(const Mat3& a, const Mat3& b) {
  Mat3 r;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r.m[3 * i + j] = a.m[3 * i] * b.m[j] + a.m[3 * i + 1] * b.m[3 + j] + a.m[3 * i + 2] * b.m[6 + j];
    }
  }
  return r;
}

Vec3 transposeTimes(const Mat3& M, Vec3 v) {
  return {M.m[0] * v.x + M.m[3] * v.y + M.m[6] * v.z, M.m[1] * v.x + M.m[4] * v.y + M.m[7] * v.z,
          M.m[2] * v.x + M.m[5] * v.y + M.m[8] * v.z};
}

/// The point the placement moved onto y.
Vec3 unplace(const Placement& placement, Vec3 y) {
  return placement.pivot + transposeTimes(placement.rot, y - placement.pivot - placement.trans);
}

/// The shape with every present point mapped; an absent second tab point stays (0, 0, 0).
template <class Map>
FlatShape mapShape(const FlatShape& s, Map&& map) {
  FlatShape r = s;
  for (int k = 0; k < 3; ++k) {
    r.p[k] = map(s.p[k]);
    if (!s.hasLug[k]) continue;
    r.lug[k][0] = map(s.lug[k][0]);
    if (s.hasSecond[k]) r.lug[k][1] = map(s.lug[k][1]);
  }
  return r;
}

/// The shape's box; false when it has no finite box (a coordinate that is not finite, or a tab
/// whose second point is missing and so reads the origin of whatever frame a test uses).
bool boxOf(const FlatShape& s, Box& box) {
  box = {s.p[0].x, s.p[0].y, s.p[0].x, s.p[0].y};
  auto add = [&](Vec3 q) {
    box.minX = std::min(box.minX, q.x);
    box.minY = std::min(box.minY, q.y);
    box.maxX = std::max(box.maxX, q.x);
    box.maxY = std::max(box.maxY, q.y);
    return std::isfinite(q.x) && std::isfinite(q.y);
  };
  bool finite = true;
  for (int k = 0; k < 3; ++k) {
    finite &= add(s.p[k]);
    if (!s.hasLug[k]) continue;
    if (!s.hasSecond[k]) finite = false;
    finite &= add(s.lug[k][0]);
    if (s.hasSecond[k]) finite &= add(s.lug[k][1]);
  }
  return finite;
}

/// The sum of the extents of the pieces createPieces made: no point of a piece can lie farther
/// from its origin.
double extentOf(const RunState& state) {
  double extent = 0;
  for (const auto& c : state.containers) {
    Box b;
    if (boxOf(shapeOf(*c->triangles.front()), b)) extent += b.width() + b.height();
  }
  return extent;
}

}  // namespace

Vec3 ChartFrame::unapply(Vec3 y) const { return identity ? y : transposeTimes(rot, y - offset); }

ChartFrame ChartFrame::then(const Placement& outer) const {
  ChartFrame r;
  r.identity = false;
  r.rot = identity ? outer.rot : multiply(outer.rot, rot);
  r.offset = outer.apply(identity ? Vec3{} : offset);
  return r;
}

Joiner::Joiner(RunState& state, PageLimit page) : state_(state), test_(page, extentOf(state)), keepGhosts_(!page.on) {
  const std::size_t n = state_.containers.size();
  tri_.resize(n);
  for (std::size_t c = 0; c < n; ++c) tri_[c] = state_.containers[c]->triangles.front();
  chartOfTri_.resize(n);
  box_.resize(n);
  bounded_.resize(n);
  charts_.resize(n);
  ownerOfChart_.resize(n);
  nextMember_.resize(n);
  chartOfPiece_.resize(n);
  head_.resize(n);
  tail_.resize(n);
  next_.assign(n, UINT32_MAX);
  parent_.assign(n, -1);
  linkTime_.assign(n, 0);
  for (std::uint32_t i = 0; i < n; ++i) {
    chartOfPiece_[i] = i;
    head_[i] = tail_[i] = i;
    ownerOfChart_[i] = static_cast<std::int32_t>(i);
    addMember(i, i);
  }
}

std::int32_t Joiner::pieceOf(const gt& t) const { return ownerOfChart_[chartOfTri_[id(t)]]; }

void Joiner::addMember(std::uint32_t chartIndex, std::uint32_t member) {
  Chart& chart = charts_[chartIndex];
  chartOfTri_[member] = chartIndex;
  const bool bounded = boxOf(shapeOf(*tri_[member]), box_[member]);
  bounded_[member] = bounded;
  nextMember_[member] = kNone;
  if (chart.last == kNone) {
    chart.first = member;
  } else {
    nextMember_[chart.last] = member;
  }
  chart.last = member;
  ++chart.count;
  if (!bounded) {
    chart.unbounded.push_back(member);
  } else if (chart.treeBuilt) {
    chart.tree.insert(member, box_[member]);
  }
  if (!chart.treeBuilt && chart.count > kTreeThreshold) buildTree(chart);
}

void Joiner::buildTree(Chart& chart) {
  chart.treeBuilt = true;
  for (std::uint32_t m = chart.first; m != kNone; m = nextMember_[m]) {
    if (bounded_[m]) chart.tree.insert(m, box_[m]);
  }
}

template <class Visit>
bool Joiner::visitNear(const Chart& chart, const Box& box, bool bounded, Visit&& visit) const {
  if (!bounded) {
    for (std::uint32_t m = chart.first; m != kNone; m = nextMember_[m]) {
      if (visit(m)) return true;
    }
    return false;
  }
  for (std::uint32_t m : chart.unbounded) {
    if (visit(m)) return true;
  }
  if (chart.treeBuilt) return chart.tree.query(box, visit);
  for (std::uint32_t m = chart.first; m != kNone; m = nextMember_[m]) {
    if (bounded_[m] && box_[m].reaches(box) && visit(m)) return true;
  }
  return false;
}

bool Joiner::collides(Chart& CA, Chart& CB, const Placement& hinge) {
  // Walk the smaller chart, ask the larger one. Every pair (u moved, g receiving) whose boxes
  // meet is tested exactly as the direct test does, with u placed and g where it lies.
  const bool walkB = CB.count <= CA.count;
  const Chart& walked = walkB ? CB : CA;
  const Chart& asked = walkB ? CA : CB;
  auto placeB = [&](Vec3 v) { return hinge.apply(CB.frame.apply(v)); };
  auto placeA = [&](Vec3 v) { return CA.frame.apply(v); };
  for (std::uint32_t x = walked.first; x != kNone; x = nextMember_[x]) {
    const gt& X = *tri_[x];
    const FlatShape shapeX = walkB ? mapShape(shapeOf(X), placeB) : mapShape(shapeOf(X), placeA);
    const FlatShape askedLocal = walkB ? mapShape(shapeX, [&](Vec3 v) { return CA.frame.unapply(v); })
                                       : mapShape(shapeX, [&](Vec3 v) { return CB.frame.unapply(unplace(hinge, v)); });
    Box box;
    const bool bounded = boxOf(askedLocal, box);
    const FlatParts partsX = partsOf(shapeX);
    auto test = [&](std::uint32_t y) {
      const gt& Y = *tri_[y];
      const FlatShape shapeY = walkB ? mapShape(shapeOf(Y), placeA) : mapShape(shapeOf(Y), placeB);
      return walkB ? JoinTest::collides(X, shapeX, JoinTest::given(partsX), Y, shapeY, JoinTest::madeFrom(shapeY))
                   : JoinTest::collides(Y, shapeY, JoinTest::madeFrom(shapeY), X, shapeX, JoinTest::given(partsX));
    };
    if (visitNear(asked, test_.reach(box), bounded, test)) return true;
  }
  return false;
}

bool Joiner::exceedsPage(const Chart& CB, const Placement& hinge, Box& box) const {
  // Exactly the points the direct page test adds. The box keeps the extremes of what it meets
  // (strict comparisons), so the order they come in does not change it, and a point that lies
  // within the box in all four directions changes nothing: a chart with a tree is asked only
  // for the members that could reach past the box, so that a join costs what the smaller piece
  // costs even when the larger one moves.
  auto place = [&](Vec3 v) { return hinge.apply(CB.frame.apply(v)); };
  auto add = [&](std::uint32_t m) {
    const gt& u = *tri_[m];
    for (int k = 0; k < 3; ++k) {
      box.extend(place(u.p[k]));
      if (!u.placedLugs[k][0]) continue;
      box.extend(place(*u.placedLugs[k][0]));
      box.extend(u.placedLugs[k][1] ? place(*u.placedLugs[k][1]) : Vec3{});
    }
  };
  if (!CB.treeBuilt) {
    for (std::uint32_t m = CB.first; m != kNone; m = nextMember_[m]) add(m);
    return !test_.fits(box);
  }
  for (std::uint32_t m : CB.unbounded) add(m);
  // The move is linear in x and y (the rotations turn about z): the placed x of a point in a
  // node's box is at most o.x + max(r0 minX, r0 maxX) + max(r1 minY, r1 maxY), up to rounding,
  // which moves nothing by a billionth of the coordinates involved. Where that margin is not
  // a number or infinite, every node is entered.
  const Mat3 r = multiply(hinge.rot, CB.frame.identity ? Mat3::identity() : CB.frame.rot);
  const Vec3 o = place(Vec3{});
  const Box& all = CB.tree.bounds();
  const double reach = std::max({std::fabs(all.minX), std::fabs(all.maxX), std::fabs(all.minY), std::fabs(all.maxY)});
  const double margin = 1e-9 * (4 * reach + std::fabs(o.x) + std::fabs(o.y) + std::fabs(CB.frame.offset.x) + std::fabs(CB.frame.offset.y) +
                                std::fabs(hinge.pivot.x) + std::fabs(hinge.pivot.y) + std::fabs(hinge.trans.x) + std::fabs(hinge.trans.y));
  auto highest = [](double a, double lo, double hi) { return std::max(a * lo, a * hi); };
  auto lowest = [](double a, double lo, double hi) { return std::min(a * lo, a * hi); };
  auto visit = [&](std::uint32_t m) { add(m); };
  CB.tree.descend([&](const Box& b) { return o.x + highest(r.m[0], b.minX, b.maxX) + highest(r.m[1], b.minY, b.maxY) + margin - box.maxX; }, visit);
  CB.tree.descend([&](const Box& b) { return box.minX - (o.x + lowest(r.m[0], b.minX, b.maxX) + lowest(r.m[1], b.minY, b.maxY) - margin); }, visit);
  CB.tree.descend([&](const Box& b) { return o.y + highest(r.m[3], b.minX, b.maxX) + highest(r.m[4], b.minY, b.maxY) + margin - box.maxY; }, visit);
  CB.tree.descend([&](const Box& b) { return box.minY - (o.y + lowest(r.m[3], b.minX, b.maxX) + lowest(r.m[4], b.minY, b.maxY) - margin); }, visit);
  return !test_.fits(box);
}

void Joiner::keepGhost(const gt& t, int k, const LugPair& tab, std::int64_t time) {
  if (!keepGhosts_ || !tab[0]) return;
  Ghost& ghost = ghostOf(id(t), k);
  ghost.time = time;
  ghost.lug[0] = *tab[0];
  ghost.second = tab[1].has_value();
  ghost.lug[1] = ghost.second ? *tab[1] : Vec3{};
}

void Joiner::noteRemoval(gt& t, int k, std::int64_t time) {
  keepGhost(t, k, t.placedLugs[k], time);
  RemoveLugs(t, k);
}

void Joiner::removeFolds(Chart& CA, Chart& CB, const Placement& hinge, std::int64_t time) {
  // A side of a moved triangle u whose neighbour h is in the receiving piece is a fold when the
  // two copies of the edge now lie on each other; both tabs on it go. Found from the smaller
  // side: every such (u, k) has u.nb[k] == h and h.nb[u.nbedge[k]] == u.
  auto tryFold = [&](gt& u, int k) {
    gt* h = u.nb[k];
    const int r = u.nbedge[k];
    if (!h || r < 0 || &chartOf(*h) != &CA) return;
    const Vec3 uk = hinge.apply(CB.frame.apply(u.p[k]));
    const Vec3 uk1 = hinge.apply(CB.frame.apply(u.p[(k + 1) % 3]));
    const Vec3 hr = CA.frame.apply(h->p[r]);
    const Vec3 hr1 = CA.frame.apply(h->p[(r + 1) % 3]);
    if (length(uk - hr1) < kPointTolerance && length(hr - uk1) < kPointTolerance) {
      noteRemoval(u, k, time);
      noteRemoval(*h, r, time);
    }
  };
  const bool walkB = CB.count <= CA.count;
  const Chart& walked = walkB ? CB : CA;
  const Chart* other = walkB ? &CA : &CB;
  for (std::uint32_t x = walked.first; x != kNone; x = nextMember_[x]) {
    gt& X = *tri_[x];
    for (int k = 0; k < 3; ++k) {
      gt* h = X.nb[k];
      if (!h || h->containerIndex < 0 || &chartOf(*h) != other) continue;
      if (walkB) {
        tryFold(X, k);
      } else {
        for (int j = 0; j < 3; ++j) {
          if (h->nb[j] == &X) tryFold(*h, j);
        }
      }
    }
  }
}

void Joiner::moveMembers(Chart& from, std::uint32_t to, const ChartFrame& fromFrame, const Placement* hinge) {
  const ChartFrame& toFrame = charts_[to].frame;
  auto move = [&](Vec3 v) {
    const Vec3 q = fromFrame.apply(v);
    return toFrame.unapply(hinge ? hinge->apply(q) : q);
  };
  for (std::uint32_t m = from.first, next; m != kNone; m = next) {
    next = nextMember_[m];
    gt& u = *tri_[m];
    for (int k = 0; k < 3; ++k) {
      u.p[k] = move(u.p[k]);
      for (auto& point : u.placedLugs[k]) {
        if (point) point = move(*point);
      }
      if (!ghosts_.empty()) {
        Ghost& ghost = ghosts_[m][static_cast<std::size_t>(k)];
        if (ghost.time >= 0) {
          ghost.lug[0] = move(ghost.lug[0]);
          if (ghost.second) ghost.lug[1] = move(ghost.lug[1]);
        }
      }
    }
    addMember(to, m);
  }
  from.first = from.last = kNone;
  from.count = 0;
  std::vector<std::uint32_t>().swap(from.unbounded);
  from.tree.clear();
  from.treeBuilt = false;
  ownerOfChart_[static_cast<std::size_t>(&from - charts_.data())] = -1;
}

bool Joiner::join(gt& t, int e, bool collisionTest) {
  const std::int32_t a = pieceOf(t);
  gtc& A = *state_.containers[static_cast<std::size_t>(a)];
  if constexpr (kPieceTrace) *A.trace << "versuche zu mergen..\n";
  gt& g = *t.nb[e];
  const int s = t.nbedge[e];
  if (s < 0) {
    // g does not list t back: the edge cannot be hinged. Only t's tab on it goes.
    noteRemoval(t, e, ++clock_);
    return true;
  }
  const std::int32_t b = pieceOf(g);
  gtc& B = *state_.containers[static_cast<std::size_t>(b)];
  const std::uint32_t sa = chartOfPiece_[static_cast<std::size_t>(a)];
  const std::uint32_t sb = chartOfPiece_[static_cast<std::size_t>(b)];
  Chart& CA = charts_[sa];
  Chart& CB = charts_[sb];
  const Placement hinge = hingePlacement(CA.frame.apply(t.p[e]), CA.frame.apply(t.p[(e + 1) % 3]),
                                         CB.frame.apply(g.p[s]), CB.frame.apply(g.p[(s + 1) % 3]));
  B.pivot = hinge.pivot;
  B.trans = hinge.trans;
  B.rot = hinge.rot;
  const LugPair hingeTabs[2] = {t.placedLugs[e], g.placedLugs[s]};
  // Without a level to take the removals back, the join cannot be tried.
  if (!saveLugs(t)) return false;
  RemoveLugs(t, e);
  RemoveLugs(g, s);

  const bool pageTest = test_.page().on;
  Box box = A.box;
  const bool refuse = (pageTest && exceedsPage(CB, hinge, box)) || (collisionTest && collides(CA, CB, hinge));
  if (refuse) {
    restoreLugs(t);
    return false;
  }
  freeSavedLugs(t);
  if (pageTest) A.box = box;
  const std::int64_t hingeTime = ++clock_;
  const std::int64_t joinTime = ++clock_;
  const std::int64_t foldTime = ++clock_;
  // The hinge's tabs left before the moved triangles joined: the one on t's side counts in A's
  // box (t joined A earlier), the one on g's side does not.
  keepGhost(t, e, hingeTabs[0], hingeTime);
  keepGhost(g, s, hingeTabs[1], hingeTime);
  removeFolds(CA, CB, hinge, foldTime);
  absorb(a, b, hinge, joinTime);
  B.valid = false;
  if constexpr (kPieceTrace) *A.trace << "container erfolgreich gemerged!\n";
  return true;
}

void Joiner::absorb(std::int32_t a, std::int32_t b, const Placement& hinge, std::int64_t time) {
  const std::uint32_t sa = chartOfPiece_[static_cast<std::size_t>(a)];
  const std::uint32_t sb = chartOfPiece_[static_cast<std::size_t>(b)];
  Chart& CA = charts_[sa];
  Chart& CB = charts_[sb];
  // The smaller chart's members move; when that is A's, B's chart is turned by the hinge and
  // becomes A's.
  if (CB.count <= CA.count) {
    moveMembers(CB, sa, CB.frame, &hinge);
  } else {
    CB.frame = CB.frame.then(hinge);
    ownerOfChart_[sb] = a;
    chartOfPiece_[static_cast<std::size_t>(a)] = sb;
    moveMembers(CA, sb, CA.frame, nullptr);
  }
  next_[tail_[static_cast<std::size_t>(a)]] = head_[static_cast<std::size_t>(b)];
  tail_[static_cast<std::size_t>(a)] = tail_[static_cast<std::size_t>(b)];
  parent_[static_cast<std::size_t>(b)] = a;
  linkTime_[static_cast<std::size_t>(b)] = time;
}

void Joiner::finish() {
  for (std::size_t c = 0; c < state_.containers.size(); ++c) {
    gtc& piece = *state_.containers[c];
    piece.triangles.clear();
    if (!piece.valid) {
      piece.triangles.shrink_to_fit();
      continue;
    }
    const ChartFrame& frame = charts_[chartOfPiece_[c]].frame;
    for (std::uint32_t m = head_[c];; m = next_[m]) {
      gt& u = *tri_[m];
      piece.triangles.push_back(&u);
      if (m == tail_[c]) break;
    }
    for (gt* u : piece.triangles) {
      for (int k = 0; k < 3; ++k) {
        u->p[k] = frame.apply(u->p[k]);
        for (auto& point : u->placedLugs[k]) {
          if (point) point = frame.apply(*point);
        }
      }
    }
  }
  if (keepGhosts_) writeBoxes();
  for (std::size_t c = 0; c < state_.containers.size(); ++c) {
    for (gt* u : state_.containers[c]->triangles) u->containerIndex = static_cast<std::int32_t>(c);
  }
}

void Joiner::writeBoxes() {
  // A piece's box holds every point each member brought when it joined the piece: its corners,
  // the tabs it has now, and the tabs removed since. When a member joined its final piece is the
  // time its first piece's chain of absorptions reached that piece.
  const std::size_t n = state_.containers.size();
  std::vector<std::int64_t> joined(n, -1);
  std::vector<std::size_t> path;
  for (std::size_t q = 0; q < n; ++q) {
    if (joined[q] >= 0) continue;
    if (parent_[q] < 0) {
      joined[q] = 0;
      continue;
    }
    path.clear();
    std::size_t cur = q;
    while (parent_[cur] >= 0 && joined[cur] < 0) {
      path.push_back(cur);
      cur = static_cast<std::size_t>(parent_[cur]);
    }
    std::int64_t time;
    if (parent_[cur] < 0) {
      // path.back() was absorbed by the final piece itself.
      time = linkTime_[path.back()];
    } else {
      time = joined[cur];
    }
    for (std::size_t p : path) joined[p] = time;
  }
  for (std::size_t c = 0; c < n; ++c) {
    gtc& piece = *state_.containers[c];
    if (!piece.valid) continue;
    const ChartFrame& frame = charts_[chartOfPiece_[c]].frame;
    Box box{kHuge, kHuge, kTiny, kTiny};
    for (const gt* u : piece.triangles) {
      const std::uint32_t m = id(*u);
      for (int k = 0; k < 3; ++k) {
        box.extend(u->p[k]);
        if (u->placedLugs[k][0]) {
          box.extend(*u->placedLugs[k][0]);
          if (u->placedLugs[k][1]) box.extend(*u->placedLugs[k][1]);
        }
        if (ghosts_.empty()) continue;
        const Ghost& ghost = ghosts_[m][static_cast<std::size_t>(k)];
        if (ghost.time > joined[m]) {
          box.extend(frame.apply(ghost.lug[0]));
          if (ghost.second) box.extend(frame.apply(ghost.lug[1]));
        }
      }
    }
    piece.box = box;
  }
}

/// False when side e of t and the side of its neighbour that leads back are not one side in
/// space run opposite ways. A duplicate face, or a triangle with coinciding corners, can be
/// linked to its neighbour across sides that differ; and two faces that run their side the same
/// way wind against each other (intake turns such faces where it can; what is left lies in a
/// non-orientable strip or on an edge of several faces). A hinge on either would lay the
/// neighbour where it does not belong: on another triangle, or with the side's ends swapped, so
/// that the piece could not fold back into the model. Nor does a hinge go across an edge a
/// person marked as always cut.
bool hingeable(const gt& t, int e) {
  if ((t.marks[e] & kMarkCut) != 0) return false;
  const int s = t.nbedge[e];
  if (s < 0) return true;
  const gt& g = *t.nb[e];
  const Vec3 a = t.P[e], b = t.P[(e + 1) % 3];
  const Vec3 c = g.P[s], d = g.P[(s + 1) % 3];
  return a == d && b == c;
}

}  // namespace foldra
