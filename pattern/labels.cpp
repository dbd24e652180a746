#include "pattern/labels.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "pattern/plane.h"

namespace pattern::detail {

namespace {

// Cells of the occupancy grid, millimetres: about the size of a label.
constexpr double kCell = 4.0;

Point2 at(const SideFrame& f, double s, double t) {
  return {f.origin.x + s * f.u.x + t * f.n.x, f.origin.y + s * f.u.y + t * f.n.y};
}

// Separating axes: the boxes are apart when their projections on one side's normal are apart.
bool separated(const TextBox& a, const TextBox& b) {
  for (int k = 0; k < 2; ++k) {
    const Point2 side = minus(a.c[k + 1], a.c[k]);
    const Point2 axis{-side.y, side.x};
    double aLo = std::numeric_limits<double>::infinity(), aHi = -aLo, bLo = aLo, bHi = -aLo;
    for (const Point2& p : a.c) {
      aLo = std::min(aLo, dot(p, axis));
      aHi = std::max(aHi, dot(p, axis));
    }
    for (const Point2& p : b.c) {
      bLo = std::min(bLo, dot(p, axis));
      bHi = std::max(bHi, dot(p, axis));
    }
    if (aHi <= bLo || bHi <= aLo) return true;
  }
  return false;
}

bool segmentsCross(Point2 a, Point2 b, Point2 c, Point2 d) {
  auto side = [](Point2 o, Point2 p, Point2 q) { return (p.x - o.x) * (q.y - o.y) - (p.y - o.y) * (q.x - o.x); };
  return side(a, b, c) * side(a, b, d) < 0 && side(c, d, a) * side(c, d, b) < 0;
}

bool inside(Point2 p, const TextBox& box) {
  bool left = true, right = true;
  for (int k = 0; k < 4; ++k) {
    const Point2 a = box.c[k], b = box.c[(k + 1) % 4];
    const double s = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    left = left && s >= 0;
    right = right && s <= 0;
  }
  return left || right;
}

// The polygon's extent along the frame's side at distance t from it: [lo, hi], or lo > hi.
std::pair<double, double> slice(const std::vector<Point2>& local, double t) {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (size_t i = 0; i < local.size(); ++i) {
    const Point2 p = local[i], q = local[(i + 1) % local.size()];
    if ((p.y < t && q.y < t) || (p.y > t && q.y > t)) continue;
    if (p.y == q.y) {
      lo = std::min({lo, p.x, q.x});
      hi = std::max({hi, p.x, q.x});
      continue;
    }
    const double s = p.x + (t - p.y) / (q.y - p.y) * (q.x - p.x);
    lo = std::min(lo, s);
    hi = std::max(hi, s);
  }
  return {lo, hi};
}

}  // namespace

bool overlap(const TextBox& a, const TextBox& b) { return !separated(a, b) && !separated(b, a); }

template <class F>
void Occupancy::cellsOf(Point2 lo, Point2 hi, F f) const {
  const int x0 = static_cast<int>(std::floor(lo.x / kCell)), x1 = static_cast<int>(std::floor(hi.x / kCell));
  const int y0 = static_cast<int>(std::floor(lo.y / kCell)), y1 = static_cast<int>(std::floor(hi.y / kCell));
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) f((static_cast<std::int64_t>(y) << 32) ^ static_cast<std::uint32_t>(x));
  }
}

namespace {
// Extents farther apart than this hold boxes that no test below takes for meeting: their
// distance is larger, and the tests' rounding is far smaller.
constexpr double kApart = 1e-6;

bool apart(Point2 lo, Point2 hi, const std::array<Point2, 2>& other) {
  return lo.x > other[1].x + kApart || other[0].x > hi.x + kApart || lo.y > other[1].y + kApart || other[0].y > hi.y + kApart;
}

std::pair<Point2, Point2> extent(std::initializer_list<Point2> points) {
  Point2 lo{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  Point2 hi{-lo.x, -lo.y};
  for (const Point2& p : points) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
  }
  return {lo, hi};
}
}  // namespace

bool Occupancy::free(const TextBox& box) const {
  // Plain names, not a structured binding: the lambda below uses them.
  const std::pair<Point2, Point2> range = extent({box.c[0], box.c[1], box.c[2], box.c[3]});
  const Point2 lo = range.first, hi = range.second;
  bool clear = true;
  cellsOf(lo, hi, [&](std::int64_t key) {
    if (!clear) return;
    const auto it = cells_.find(key);
    if (it == cells_.end()) return;
    for (const int i : it->second) {
      if (apart(lo, hi, extents_[i])) continue;
      if (overlap(box, boxes_[i])) {
        clear = false;
        return;
      }
    }
  });
  return clear;
}

bool Occupancy::crosses(Point2 a, Point2 b) const {
  const std::pair<Point2, Point2> range = extent({a, b});
  const Point2 lo = range.first, hi = range.second;
  bool crossed = false;
  cellsOf(lo, hi, [&](std::int64_t key) {
    const auto it = cells_.find(key);
    if (crossed || it == cells_.end()) return;
    for (const int i : it->second) {
      if (apart(lo, hi, extents_[i])) continue;
      const TextBox& box = boxes_[i];
      bool hit = inside(a, box) || inside(b, box);
      for (int k = 0; k < 4 && !hit; ++k) hit = segmentsCross(a, b, box.c[k], box.c[(k + 1) % 4]);
      if (hit) {
        crossed = true;
        return;
      }
    }
  });
  return crossed;
}

void Occupancy::add(const TextBox& box) {
  const int index = static_cast<int>(boxes_.size());
  boxes_.push_back(box);
  const auto [lo, hi] = extent({box.c[0], box.c[1], box.c[2], box.c[3]});
  extents_.push_back({lo, hi});
  cellsOf(lo, hi, [&](std::int64_t key) { cells_[key].push_back(index); });
}

void Occupancy::truncate(size_t count) {
  for (size_t i = boxes_.size(); i-- > count;) {
    const auto [lo, hi] = extent({boxes_[i].c[0], boxes_[i].c[1], boxes_[i].c[2], boxes_[i].c[3]});
    // A cell lists its boxes in the order they were placed, so the later ones are at its end.
    cellsOf(lo, hi, [&](std::int64_t key) {
      auto it = cells_.find(key);
      if (it == cells_.end()) return;
      while (!it->second.empty() && it->second.back() >= static_cast<int>(count)) it->second.pop_back();
      if (it->second.empty()) cells_.erase(it);
    });
  }
  boxes_.resize(count);
  extents_.resize(count);
}

namespace {
// Cells of the paper grid, millimetres: finer than the gap between two pieces on a sheet.
constexpr double kPaperCell = 0.5;
}  // namespace

namespace {

double segmentDistance(Point2 p, Point2 a, Point2 b) {
  const Point2 d = minus(b, a);
  const double length2 = dot(d, d);
  const double t = length2 > 0 ? std::clamp(dot(minus(p, a), d) / length2, 0.0, 1.0) : 0;
  return std::hypot(p.x - a.x - t * d.x, p.y - a.y - t * d.y);
}

// Edges at most this sine of an angle apart run the same way to a reader's eye.
constexpr double kSameWay = 0.02;
// A label's own edge must be nearer than any other by this much, millimetres.
constexpr double kNearer = 0.1;

}  // namespace

void CutEdges::add(Point2 a, Point2 b) {
  const int i = static_cast<int>(edges_.size());
  edges_.push_back({a, b});
  // The part of the edge within reach of the page (Liang-Barsky), walked in steps of half a
  // cell: each step files the cells around it, so a long or slanted edge costs its length.
  constexpr double kReach = 4 * kCell;
  const Point2 d = minus(b, a);
  double t0 = 0, t1 = 1;
  const double p[4] = {-d.x, d.x, -d.y, d.y};
  const double q[4] = {a.x - (lo_.x - kReach), (hi_.x + kReach) - a.x, a.y - (lo_.y - kReach), (hi_.y + kReach) - a.y};
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0) {
      if (q[k] < 0) return;
      continue;
    }
    const double r = q[k] / p[k];
    if (p[k] < 0) t0 = std::max(t0, r);
    else t1 = std::min(t1, r);
  }
  if (!(t0 <= t1)) return;
  const double length = std::hypot(d.x, d.y) * (t1 - t0);
  const int steps = static_cast<int>(std::ceil(length / (kCell / 2)));
  for (int s = 0; s <= steps; ++s) {
    const double t = steps > 0 ? t0 + (t1 - t0) * s / steps : t0;
    const int cx = static_cast<int>(std::floor((a.x + t * d.x) / kCell)), cy = static_cast<int>(std::floor((a.y + t * d.y) / kCell));
    for (int y = cy - 1; y <= cy + 1; ++y) {
      for (int x = cx - 1; x <= cx + 1; ++x) {
        auto& list = cells_[(static_cast<std::int64_t>(y) << 32) ^ static_cast<std::uint32_t>(x)];
        if (list.empty() || list.back() != i) list.push_back(i);
      }
    }
  }
}

bool CutEdges::readsAsOwn(const TextBox& box, Point2 a, Point2 b) const {
  const Point2 centre = middle(box.c[0], box.c[2]);
  const Point2 d = minus(b, a);
  const double length = std::hypot(d.x, d.y);
  if (!(length > 0)) return true;
  const double own = segmentDistance(centre, a, b);
  // Only edges that pass within the own edge's distance (and the margin) can be nearer.
  const double reach = own + kNearer;
  const int x0 = static_cast<int>(std::floor((centre.x - reach) / kCell)), x1 = static_cast<int>(std::floor((centre.x + reach) / kCell));
  const int y0 = static_cast<int>(std::floor((centre.y - reach) / kCell)), y1 = static_cast<int>(std::floor((centre.y + reach) / kCell));
  auto same = [](Point2 p, Point2 q) { return std::abs(p.x - q.x) < 1e-9 && std::abs(p.y - q.y) < 1e-9; };
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      const auto it = cells_.find((static_cast<std::int64_t>(y) << 32) ^ static_cast<std::uint32_t>(x));
      if (it == cells_.end()) continue;
      for (const int i : it->second) {
        const auto& [p, q] = edges_[i];
        if ((same(p, a) && same(q, b)) || (same(p, b) && same(q, a))) continue;
        const Point2 e = minus(q, p);
        const double other = std::hypot(e.x, e.y);
        if (!(other > 0) || std::abs(cross(d, e)) / (length * other) > kSameWay) continue;
        if (segmentDistance(centre, p, q) < reach) return false;
      }
    }
  }
  return true;
}

Paper::Paper(Point2 lo, Point2 hi) : lo_(lo), hi_(hi) {
  columns_ = std::max(1, static_cast<int>(std::ceil((hi.x - lo.x) / kPaperCell)));
  rows_ = std::max(1, static_cast<int>(std::ceil((hi.y - lo.y) / kPaperCell)));
  covered_.assign(static_cast<size_t>(columns_) * rows_, 0);
}

void Paper::cover(const std::vector<Point2>& polygon) {
  if (polygon.size() < 2) return;
  Point2 lo{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()}, hi{-lo.x, -lo.y};
  for (const Point2& p : polygon) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y)};
  }
  // A cell is touched when its centre lies inside the polygon or within half a cell's diagonal
  // of its outline: slightly more than the polygon, never less.
  const double reach = kPaperCell * 0.7072;
  double turn = 0;
  for (size_t k = 0; k < polygon.size(); ++k) turn += cross(polygon[k], polygon[(k + 1) % polygon.size()]);
  const int x0 = std::max(0, static_cast<int>(std::floor((lo.x - reach - lo_.x) / kPaperCell)));
  const int x1 = std::min(columns_ - 1, static_cast<int>(std::floor((hi.x + reach - lo_.x) / kPaperCell)));
  const int y0 = std::max(0, static_cast<int>(std::floor((lo.y - reach - lo_.y) / kPaperCell)));
  const int y1 = std::min(rows_ - 1, static_cast<int>(std::floor((hi.y + reach - lo_.y) / kPaperCell)));
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      const Point2 c{lo_.x + (x + 0.5) * kPaperCell, lo_.y + (y + 0.5) * kPaperCell};
      bool in = true, near = false;
      for (size_t k = 0; k < polygon.size() && in; ++k) {
        const Point2 a = polygon[k];
        if (cross(minus(polygon[(k + 1) % polygon.size()], a), minus(c, a)) * turn < 0) in = false;
      }
      for (size_t k = 0; k < polygon.size() && !in && !near; ++k) {
        const Point2 a = polygon[k], b = polygon[(k + 1) % polygon.size()];
        const Point2 d = minus(b, a);
        const double length2 = dot(d, d);
        const double t = length2 > 0 ? std::clamp(dot(minus(c, a), d) / length2, 0.0, 1.0) : 0;
        const Point2 q = along(a, d, t);
        near = (c.x - q.x) * (c.x - q.x) + (c.y - q.y) * (c.y - q.y) <= reach * reach;
      }
      if (in || near) covered_[static_cast<size_t>(y) * columns_ + x] = 1;
    }
  }
  sums_.clear();
}

void Paper::cover(Point2 lo, Point2 hi) { cover(std::vector<Point2>{lo, {hi.x, lo.y}, hi, {lo.x, hi.y}}); }

bool Paper::coveredAt(Point2 p) const {
  const int x = static_cast<int>(std::floor((p.x - lo_.x) / kPaperCell));
  const int y = static_cast<int>(std::floor((p.y - lo_.y) / kPaperCell));
  if (x < 0 || y < 0 || x >= columns_ || y >= rows_) return true;
  return covered_[static_cast<size_t>(y) * columns_ + x] != 0;
}

int Paper::coveredIn(Point2 lo, Point2 hi, int* cells) const {
  const size_t stride = static_cast<size_t>(columns_) + 1;
  if (sums_.empty()) {
    sums_.assign(stride * (rows_ + 1), 0);
    for (int y = 0; y < rows_; ++y) {
      for (int x = 0; x < columns_; ++x) {
        sums_[(y + 1) * stride + x + 1] = covered_[static_cast<size_t>(y) * columns_ + x] + sums_[y * stride + x + 1] +
                                          sums_[(y + 1) * stride + x] - sums_[y * stride + x];
      }
    }
  }
  const auto cell = [&](double v, double from, int count) {
    return std::clamp(static_cast<int>(std::floor((v - from) / kPaperCell)), 0, count - 1);
  };
  const size_t x0 = cell(lo.x, lo_.x, columns_), x1 = cell(hi.x, lo_.x, columns_) + 1;
  const size_t y0 = cell(lo.y, lo_.y, rows_), y1 = cell(hi.y, lo_.y, rows_) + 1;
  *cells = static_cast<int>((x1 - x0) * (y1 - y0));
  return sums_[y1 * stride + x1] - sums_[y0 * stride + x1] - sums_[y1 * stride + x0] + sums_[y0 * stride + x0];
}

bool Paper::bare(Point2 lo, Point2 hi) const {
  if (lo.x < lo_.x || lo.y < lo_.y || hi.x > hi_.x || hi.y > hi_.y) return false;
  int cells = 0;
  return coveredIn(lo, hi, &cells) == 0;
}

bool Paper::covered(Point2 lo, Point2 hi) const {
  int cells = 0;
  return columns_ > 0 && rows_ > 0 && coveredIn(lo, hi, &cells) == cells;
}

bool Paper::bare(Point2 a, Point2 b, double step) const {
  const double length = std::hypot(b.x - a.x, b.y - a.y);
  const int n = std::max(1, static_cast<int>(std::ceil(length / step)));
  for (int k = 0; k <= n; ++k) {
    if (coveredAt(along(a, minus(b, a), static_cast<double>(k) / n))) return false;
  }
  return true;
}

bool sideFrame(const std::vector<Point2>& polygon, Point2 a, Point2 b, SideFrame* frame) {
  const double length = std::hypot(b.x - a.x, b.y - a.y);
  if (!(length > 0)) return false;
  frame->origin = a;
  frame->length = length;
  frame->u = {(b.x - a.x) / length, (b.y - a.y) / length};
  frame->n = {-frame->u.y, frame->u.x};
  Point2 centre{0, 0};
  for (const Point2& p : polygon) centre = {centre.x + p.x / polygon.size(), centre.y + p.y / polygon.size()};
  if (dot(minus(centre, a), frame->n) < 0) frame->n = {-frame->n.x, -frame->n.y};
  return true;
}

std::vector<Slot> slotsAgainst(const std::vector<Point2>& polygon, const SideFrame& frame, double w, double h,
                               double gap) {
  std::vector<Point2> local;
  local.reserve(polygon.size());
  for (const Point2& p : polygon) {
    const Point2 d = minus(p, frame.origin);
    local.push_back({dot(d, frame.u), dot(d, frame.n)});
  }
  std::vector<Slot> slots;
  // Against the side first; a little farther out when a neighbour's label takes that place.
  for (const double t : {gap, gap + 0.6 * h}) {
    const auto [lo0, hi0] = slice(local, t);
    const auto [lo1, hi1] = slice(local, t + h);
    const double lo = std::max(lo0, lo1), hi = std::min(hi0, hi1);
    if (!(hi - lo >= w)) continue;
    const double middle = std::clamp(frame.length / 2 - w / 2, lo, hi - w);
    for (const double x : {middle, lo, hi - w, (lo + middle) / 2, (middle + hi - w) / 2}) {
      const bool known = std::any_of(slots.begin(), slots.end(),
                                     [&](const Slot& s) { return s.t == t && std::abs(s.x - x) < 0.05; });
      if (!known) slots.push_back({x, t, w, h});
    }
  }
  return slots;
}

TextBox boxOf(const SideFrame& f, const Slot& s, double pad) {
  const double x0 = s.x - pad, x1 = s.x + s.w + pad, t0 = s.t - pad, t1 = s.t + s.h + pad;
  return {{at(f, x0, t0), at(f, x1, t0), at(f, x1, t1), at(f, x0, t1)}};
}

TextMark textIn(const SideFrame& f, const Slot& s, const std::string& text, const SetText& set, double size,
                double under) {
  // Reading along u or against it, whichever is not upside down on the page (y points down:
  // a vertical edge's text reads upwards).
  Point2 d = f.u;
  double start = s.x;
  if (d.x < -1e-9 || (std::abs(d.x) <= 1e-9 && d.y > 0)) {
    d = {-d.x, -d.y};
    start = s.x + s.w;
  }
  const Point2 up{d.y, -d.x};
  const double baseline = dot(up, f.n) > 0 ? s.t + under : s.t + s.h - under;
  TextMark mark;
  mark.text = text;
  mark.set = set;
  mark.origin = at(f, start, baseline);
  mark.angle = std::atan2(d.y, d.x);
  mark.size = size;
  return mark;
}

Circle incircle(const std::array<Point2, 3>& p) {
  std::array<double, 3> side;
  for (int k = 0; k < 3; ++k) side[k] = std::hypot(p[(k + 1) % 3].x - p[(k + 2) % 3].x, p[(k + 1) % 3].y - p[(k + 2) % 3].y);
  const double perimeter = side[0] + side[1] + side[2];
  if (!(perimeter > 0)) return {p[0], 0};
  Circle c{{0, 0}, std::abs(cross(minus(p[1], p[0]), minus(p[2], p[0]))) / perimeter};
  for (int k = 0; k < 3; ++k) c.centre = along(c.centre, p[k], side[k] / perimeter);
  return c;
}

bool readsOtherWayUp(const std::string& text) {
  // Turned half round, 0 1 8 s x z stay themselves and 6 and 9, b and q, d and p, n and u, m
  // and w swap; other characters read as nothing known. A text whose every character survives
  // the turn and that then reads as another label (digits, then seam letters) needs telling
  // apart. Asked for every place a label tries, so without making the turned text.
  static constexpr std::string_view from = "01869bqdpnumwsxz", to = "01896qbpdunwmsxz";
  const size_t n = text.size();
  if (n == 0) return false;
  bool same = true, letters = false;
  for (size_t i = 0; i < n; ++i) {
    // The turned text's i-th character comes from the text's i-th from the end.
    const size_t k = from.find(text[n - 1 - i]);
    if (k == std::string_view::npos) return false;
    const char c = to[k];
    same = same && c == text[i];
    const bool digit = c >= '0' && c <= '9';
    if (!digit) letters = true;
    else if (letters) return false;  // a digit after a letter reads as no label
  }
  return !same && to[from.find(text[n - 1])] != '0';
}

}  // namespace pattern::detail
