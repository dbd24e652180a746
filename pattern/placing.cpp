// Each edge's label beside its edge in its own triangle, where it has room; else on the edge's
// glue tab (a tab is deeper than the small triangles along a dense outline); else on a roomier
// triangle nearby, or on the bare paper beside the piece, with a leader line. Labels that fit
// none of these try them again at smaller sizes down to the smallest that reads well (counted
// for a warning), and the last ones go, smaller still, onto any triangle within reach of a
// leader, or are squeezed in against their edge: every copy of every cut edge carries its label.
#include "pattern/placing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <optional>
#include <set>
#include <unordered_map>
#include <utility>

#include "pattern/keys.h"
#include "pattern/plane.h"
#include "pattern/sheet.h"
#include "pattern/texture.h"

namespace pattern::detail {

namespace {

// Sizes in millimetres on paper.
constexpr double kLabelGap = 0.35;  // between an edge and its label
constexpr double kLabelPad = 0.15;  // kept clear around every text box
// A piece with at most this many labels left over after the sizes that read well is labelled
// again in other orders; more, on a piece crowded with small triangles, seldom gain from it.
constexpr size_t kRetriedLeftOver = 3;
constexpr double kNumberHeight = 4.5;
constexpr double kSmallestLabel = 0.8;  // a label that fits nowhere shrinks at most to this
constexpr double kFarthestLeader = 12;  // a label that fits nowhere near its edge goes at most this far
constexpr double kUnderlineDepth = 0.28;  // of the font size, kept below the baseline
// Each smaller size a label tries is this share of the one before.
constexpr double kShrink = 0.85;

const Pen kLeaderPen{0.15, {0.2, 0.2, 0.2}, {}};
constexpr Rgb kNumberColour{0, 0, 0};

constexpr double kTriangleCell = 4;  // of the grid that files a piece's triangles, page mm
// How far beside its piece a label may stand, and how far along its edge it may move there.
constexpr double kFarthestBeside = 10;
constexpr double kBesideShift = 5;
// How many triangles, nearest first, a label tries on its way to a leader line.
constexpr size_t kNearestTried = 16;

/// Where a label is tried, in this order at every size.
enum class Where {
  /// The edge's own triangle.
  Triangle,
  /// The edge's glue tab.
  Tab,
  /// A triangle around the edge's corners, with a leader line.
  Neighbour,
  /// The bare paper beside the piece, with a leader line.
  Beside,
};

/// The piece's triangles and tabs on the page, found by their sides and corners.
struct PageShape {
  std::vector<std::array<Point2, 3>> triangles;  // page
  std::vector<Circle> circles;                   // each triangle's incircle, page
  std::vector<std::vector<Point2>> tabs;         // page
  std::unordered_map<SideKey, int, KeyHash> sideTriangle, sideTab;
  std::unordered_map<PointKey, std::vector<int>, KeyHash> cornerTriangles;
  double step = 1;
  /// The triangles filed by their incircles' centres in square cells of kTriangleCell, so that
  /// the triangles near a point are found without looking at the others.
  std::unordered_map<std::int64_t, std::vector<int>> cells;
  double largestRadius = 0;
};

std::int64_t cellKey(long long x, long long y) { return (static_cast<std::int64_t>(y) << 32) ^ static_cast<std::uint32_t>(x); }
long long cellOf(double v) { return static_cast<long long>(std::floor(v / kTriangleCell)); }

PageShape shapeOf(const PlacedPiece& p) {
  PageShape s;
  s.step = keyStep(*p.piece);
  const auto& triangles = p.piece->triangles;
  s.triangles.reserve(triangles.size());
  s.circles.reserve(triangles.size());
  for (size_t i = 0; i < triangles.size(); ++i) {
    const Triangle& t = triangles[i];
    s.triangles.push_back({p.map(t.p[0]), p.map(t.p[1]), p.map(t.p[2])});
    const Circle c = incircle(s.triangles.back());
    s.circles.push_back(c);
    s.cells[cellKey(cellOf(c.centre.x), cellOf(c.centre.y))].push_back(static_cast<int>(i));
    s.largestRadius = std::max(s.largestRadius, c.radius);
    for (int k = 0; k < 3; ++k) {
      s.sideTriangle.emplace(sideKey(t.p[k], t.p[(k + 1) % 3], s.step), static_cast<int>(i));
      auto& list = s.cornerTriangles[keyOf(t.p[k], s.step)];
      if (list.empty() || list.back() != static_cast<int>(i)) list.push_back(static_cast<int>(i));
    }
  }
  for (size_t i = 0; i < p.piece->tabs.size(); ++i) {
    const auto& c = p.piece->tabs[i].corners;
    s.tabs.push_back({p.map(c[0]), p.map(c[1]), p.map(c[2]), p.map(c[3])});
    s.sideTab.emplace(sideKey(c[0], c[1], s.step), static_cast<int>(i));
  }
  return s;
}

}  // namespace

std::string shrunkWarning(const LabelCount& count, const PatternOptions& options) {
  const int shrunk = count.shrunk;
  if (shrunk <= 0) return "";
  std::string text = format("%d edge label%s did not fit at %s mm and %s printed smaller", shrunk, shrunk == 1 ? "" : "s",
                            formatNumber(options.labelSize).c_str(), shrunk == 1 ? "is" : "are");
  if (count.illegible > 0) {
    text += format(", %d of them below %s mm", count.illegible, formatNumber(std::min(kLegibleLabel, options.labelSize)).c_str());
  }
  // Room for a label grows with the scale; the packing changes with it, so this is a guide.
  const double scale = options.scale * count.enlarge;
  if (std::isfinite(scale) && scale > options.scale) {
    text += format("; at about --scale %s every label fits (or use a smaller --label-size)", formatNumber(scale).c_str());
  } else {
    text += "; a larger scale (--height, --scale) or a smaller --label-size makes room";
  }
  return text;
}

class LabelPlacer::Impl {
 public:
  Impl(const PatternOptions& options, const Packing& packing, const Textures& textures, LabelCount* count)
      : options_(options), packing_(packing), textures_(textures), count_(count), font_(Font::get()),
        paper_({options.margin, options.margin}, {options.pageWidth - options.margin, options.pageHeight - options.margin}),
        cuts_({0, 0}, {options.pageWidth, options.pageHeight}) {
    // The title's band at the top of the printable area, where the packing keeps one.
    const double reserve = titleReserve(options);
    if (reserve > 0) paper_.cover({options.margin, options.margin}, {options.pageWidth - options.margin, options.margin + reserve});
  }

  void keepClear(const TextBox& box) { occupied_.add(box); }

  void cover(const PlacedPiece& p) {
    for (const Triangle& t : p.piece->triangles) paper_.cover({p.map(t.p[0]), p.map(t.p[1]), p.map(t.p[2])});
    for (const Edge& e : p.piece->edges) {
      if (e.kind == EdgeKind::Cut && e.label > 0) cuts_.add(p.map(e.a), p.map(e.b));
    }
    for (const Tab& tab : p.piece->tabs) {
      paper_.cover({p.map(tab.corners[0]), p.map(tab.corners[1]), p.map(tab.corners[2]), p.map(tab.corners[3])});
    }
  }

  void cover(Point2 lo, Point2 hi) { paper_.cover(lo, hi); }

  void placePiece(const PlacedPiece& p, const std::vector<std::string>& texts, const std::string& note) {
    const PageShape s = shapeOf(p);
    std::vector<int> waiting;
    for (size_t e = 0; e < p.piece->edges.size(); ++e) {
      if (!texts[e].empty()) waiting.push_back(static_cast<int>(e));
    }
    // The labels at full size, then the piece's number (a label beside its edge tells more than
    // a number a little larger), then one size between and the smallest that reads well: each
    // size costs a pass over the labels left, and the one between catches most of what fits at
    // all. The note waits for them: it tells where a range starts, a label which edge meets which.
    const double full = options_.labelSize / font_.digitHeight();
    const double legible = std::min(kLegibleLabel, options_.labelSize) / font_.digitHeight();
    const double between = std::max(legible, full * kShrink);
    enum class Order { Number, LabelsFirst, AllShrunk };
    auto inOrder = [&](Order order, std::vector<int>* left) {
      if (order != Order::AllShrunk && large(full)) placeAtSize(p, s, texts, full, false, left);
      Point2 at{};
      if (order == Order::Number) at = pieceNumber(p, s);
      if (!left->empty() && between < full) placeAtSize(p, s, texts, between, true, left);
      if (!left->empty() && legible < between && large(legible)) placeAtSize(p, s, texts, legible, true, left);
      if (order != Order::Number) at = pieceNumber(p, s);
      return at;
    };
    // Each order ends with the note and what is left over, which goes near the piece or is
    // squeezed in; its labels left over after the sizes that read well are returned.
    auto labelled = [&](Order order) {
      std::vector<int> left = waiting;
      const Point2 numberAt = inOrder(order, &left);
      if (!note.empty()) pieceNote(p, s, note, numberAt, full, legible);
      const std::vector<int> over = left;
      placeLeftOver(p, s, texts, left);
      return over;
    };
    const Undo before = undoMark();
    const std::vector<int> over = labelled(Order::Number);
    // Where that leaves a label smaller than reads well although the piece's roomiest triangle
    // could hold one, the number, or the labels at full size, may have taken its room: the
    // smaller labels go first, or every label at the smaller sizes, where that leaves fewer
    // labels too small to read, else fewer shrunk.
    const auto worse = [&](const LabelCount& c) { return std::pair{c.illegible - before.count.illegible, c.shrunk - before.count.shrunk}; };
    if (count_->illegible > before.count.illegible && over.size() <= kRetriedLeftOver && large(legible) &&
        anyHasRoom(s, texts, over, legible)) {
      Order best = Order::Number;
      auto fewest = worse(*count_);
      for (const Order order : {Order::LabelsFirst, Order::AllShrunk}) {
        undo(before);
        labelled(order);
        if (worse(*count_) < fewest) {
          best = order;
          fewest = worse(*count_);
        }
      }
      undo(before);
      labelled(best);
    }
  }

  void addTo(Page* page) {
    if (!leaders_.path.empty()) page->marks.push_back(std::move(leaders_));
    for (TextMark& t : texts_) page->marks.push_back(std::move(t));
    leaders_ = StrokeMark{{}, kLeaderPen};
    texts_.clear();
  }

 private:
  /// What has been placed so far, to take back what is placed after it.
  struct Undo {
    size_t texts, boxes, points, starts;
    LabelCount count;
  };
  Undo undoMark() const {
    return {texts_.size(), occupied_.size(), leaders_.path.points.size(), leaders_.path.starts.size(), *count_};
  }
  void undo(const Undo& mark) {
    texts_.resize(mark.texts);
    occupied_.truncate(mark.boxes);
    leaders_.path.points.resize(mark.points);
    leaders_.path.starts.resize(mark.starts);
    *count_ = mark.count;
  }

  /// Whether the piece's roomiest triangle could hold one of the waiting labels at this size.
  bool anyHasRoom(const PageShape& s, const std::vector<std::string>& texts, const std::vector<int>& waiting,
                  double size) const {
    return std::any_of(waiting.begin(), waiting.end(), [&](int e) {
      return roomFor(s.largestRadius, font_.set(texts[e]), readsOtherWayUp(texts[e]), size);
    });
  }

  // Whether a label at this font size is no smaller than the smallest a label may shrink to.
  bool large(double size) const { return size * font_.digitHeight() >= kSmallestLabel - 1e-9; }

  // A label printed at this font size below the label size: counted, with the enlargement that
  // would give it its full size.
  void countShrunk(double size) {
    const double digits = size * font_.digitHeight();
    ++count_->shrunk;
    if (digits < std::min(kLegibleLabel, options_.labelSize) - 1e-9) ++count_->illegible;
    if (digits > 0) count_->enlarge = std::max(count_->enlarge, options_.labelSize / digits);
  }

  // Every waiting label at one size, each where it first fits: its triangle, its tab, (at full
  // size only) a neighbour, then the paper beside the piece. A leader to a neighbour is worth it
  // for a label of full size, and the search over neighbours costs the most.
  void placeAtSize(const PlacedPiece& p, const PageShape& s, const std::vector<std::string>& texts, double size,
                   bool shrunk, std::vector<int>* waiting) {
    for (const Where where : {Where::Triangle, Where::Tab, Where::Neighbour, Where::Beside}) {
      if (shrunk && where == Where::Neighbour) continue;
      std::vector<int> still;
      for (const int e : *waiting) {
        if (!placeLabel(p, s, p.piece->edges[e], texts[e], size, where)) {
          still.push_back(e);
          continue;
        }
        if (shrunk) countShrunk(size);
      }
      waiting->swap(still);
    }
  }

  // What fits nowhere near its edge goes onto a triangle of the piece within reach of a leader
  // line at the smallest size that reads well; else, at the smallest size, onto its tab, onto
  // such a triangle, or beside the piece past its tab; else it is squeezed in against its edge
  // over what is there, so that no copy of a cut edge goes without its name.
  void placeLeftOver(const PlacedPiece& p, const PageShape& s, const std::vector<std::string>& texts,
                     const std::vector<int>& waiting) {
    const double least = kSmallestLabel / font_.digitHeight();
    const double legible = std::min(kLegibleLabel, options_.labelSize) / font_.digitHeight();
    for (const int e : waiting) {
      const Edge& edge = p.piece->edges[e];
      const Point2 from = middle(p.map(edge.a), p.map(edge.b));
      // A leader to a triangle nearby keeps the label readable, where one has room. Where no
      // triangle of the piece could hold the label even at the smallest size, none is looked for.
      const bool room = roomFor(s.largestRadius, font_.set(texts[e]), readsOtherWayUp(texts[e]), least);
      const Nearest near = room ? nearestAround(s, from, kFarthestLeader) : Nearest{};
      if (large(legible) && onNearest(p, s, near, from, texts[e], legible)) {
        countShrunk(legible);
        continue;
      }
      if (placeLabel(p, s, edge, texts[e], least, Where::Tab) ||
          onNearest(p, s, near, from, texts[e], least) ||
          beside(p, s, edge, texts[e], least)) {
        countShrunk(least);
        continue;
      }
      const auto t = s.sideTriangle.find(sideKey(edge.a, edge.b, s.step));
      const std::vector<Point2> own = t != s.sideTriangle.end()
                                          ? std::vector<Point2>{s.triangles[t->second][0], s.triangles[t->second][1], s.triangles[t->second][2]}
                                          : std::vector<Point2>{p.map(edge.a), p.map(edge.b)};
      squeeze(own, p.map(edge.a), p.map(edge.b), texts[e], font_.set(texts[e]), t != s.sideTriangle.end() && textured(p, t->second));
      ++count_->shrunk;
      ++count_->illegible;
      count_->enlarge = std::max(count_->enlarge, neededEnlargement(s, edge, texts[e]));
    }
  }

  // How many times larger the model must be for the label to fit at the label size in the
  // roomiest triangle around its edge's corners (the room in a triangle grows with the scale).
  double neededEnlargement(const PageShape& s, const Edge& edge, const std::string& text) const {
    double roomiest = 0;
    for (const Point2& corner : {edge.a, edge.b}) {
      const auto it = s.cornerTriangles.find(keyOf(corner, s.step));
      if (it == s.cornerTriangles.end()) continue;
      for (const int t : it->second) roomiest = std::max(roomiest, s.circles[t].radius);
    }
    const double size = options_.labelSize / font_.digitHeight();
    const double halfDiagonal = std::hypot(font_.set(text).width * size, font_.digitHeight() * size) / 2 + kLabelPad + kLabelGap;
    return roomiest > 0 ? std::max(1.0, halfDiagonal / roomiest) : 1;
  }

  bool placeLabel(const PlacedPiece& p, const PageShape& s, const Edge& edge, const std::string& text, double size,
                  Where where) {
    switch (where) {
      case Where::Tab: {
        const auto tab = s.sideTab.find(sideKey(edge.a, edge.b, s.step));
        return tab != s.sideTab.end() &&
               tryPlace(s.tabs[tab->second], p.map(edge.a), p.map(edge.b), text, font_.set(text), size, false, nullptr);
      }
      case Where::Triangle: {
        const auto t = s.sideTriangle.find(sideKey(edge.a, edge.b, s.step));
        if (t == s.sideTriangle.end()) return false;
        const auto& tri = s.triangles[t->second];
        return tryPlace({tri[0], tri[1], tri[2]}, p.map(edge.a), p.map(edge.b), text, font_.set(text), size,
                        textured(p, t->second), nullptr);
      }
      case Where::Neighbour: return nearby(p, s, edge, middle(p.map(edge.a), p.map(edge.b)), text, size);
      case Where::Beside: return beside(p, s, edge, text, size);
    }
    return false;
  }

  // The label upright on the bare paper outside the piece, off its edge, with a leader from the
  // edge's middle that crosses no paper and no text.
  bool beside(const PlacedPiece& p, const PageShape& s, const Edge& edge, const std::string& text, double size) {
    const Point2 a = p.map(edge.a), b = p.map(edge.b), m = middle(a, b);
    const Point2 d = minus(b, a);
    const double length = std::hypot(d.x, d.y);
    if (!(length > 0)) return false;
    const Point2 u{d.x / length, d.y / length};
    Point2 out{-u.y, u.x};
    const auto t = s.sideTriangle.find(sideKey(edge.a, edge.b, s.step));
    if (t != s.sideTriangle.end() && dot(minus(s.circles[t->second].centre, m), out) > 0) out = {-out.x, -out.y};
    const bool underline = readsOtherWayUp(text);
    const double under = underline ? kUnderlineDepth * size : 0;
    const SetText set = font_.set(text);
    const double w = set.width * size, h = font_.digitHeight() * size + under;
    const double reach = std::abs(out.x) * (w / 2 + kLabelPad) + std::abs(out.y) * (h / 2 + kLabelPad);
    // The edge's own tab lies between it and the bare paper: the label stands past the tab, and
    // its leader crosses the tab (a line over a tab names the edge the tab belongs to).
    double past = 0;
    const auto tab = s.sideTab.find(sideKey(edge.a, edge.b, s.step));
    if (tab != s.sideTab.end()) {
      for (const Point2& corner : s.tabs[tab->second]) past = std::max(past, dot(minus(corner, m), out));
    }
    // Where the paper around the edge is covered as far as any place tried below reaches (an
    // edge deep inside a large piece), none is bare.
    {
      const double nearest = past + 0.6 + reach, farthest = past + kFarthestBeside + reach;
      Point2 lo{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
      Point2 hi{-lo.x, -lo.y};
      for (const double gap : {nearest, farthest}) {
        for (const double shift : {-kBesideShift, kBesideShift}) {
          const Point2 centre = along(along(m, out, gap), u, shift);
          lo = {std::min(lo.x, centre.x - w / 2 - kLabelPad), std::min(lo.y, centre.y - h / 2 - kLabelPad)};
          hi = {std::max(hi.x, centre.x + w / 2 + kLabelPad), std::max(hi.y, centre.y + h / 2 + kLabelPad)};
        }
      }
      // A hair wider, so that no place tried rounds past it.
      if (paper_.covered({lo.x - 1e-9, lo.y - 1e-9}, {hi.x + 1e-9, hi.y + 1e-9})) return false;
    }
    for (const double gap : {0.6, 1.5, 2.5, 4.0, 6.0, 8.0, kFarthestBeside}) {
      for (const double shift : {0.0, -kBesideShift / 2, kBesideShift / 2, -kBesideShift, kBesideShift}) {
        const Point2 centre = along(along(m, out, past + gap + reach), u, shift);
        const Point2 lo{centre.x - w / 2 - kLabelPad, centre.y - h / 2 - kLabelPad};
        const Point2 hi{centre.x + w / 2 + kLabelPad, centre.y + h / 2 + kLabelPad};
        if (!paper_.bare(lo, hi)) continue;
        // Upright: the frame's side is the text's bottom, its normal points up the page.
        const SideFrame frame{{centre.x - w / 2, centre.y + h / 2}, {1, 0}, {0, -1}, w};
        const Slot slot{0, 0, w, h};
        const TextBox box = boxOf(frame, slot, kLabelPad);
        if (!occupied_.free(box)) continue;
        // The leader crosses no paper and no text. Where the line to the middle of the text's
        // side would, the one to the nearest point of its digits may still be clear (never to
        // the room under an underlined number, which lies as near to the text beside it).
        const auto clear = [&](Point2 end) {
          return paper_.bare(along(m, out, past + 0.5), end, 0.25) && !occupied_.crosses(along(m, out, 0.2), end);
        };
        Point2 end = leaderEnd(m, centre, w, h, under);
        if (!clear(end)) {
          end = {std::clamp(m.x, lo.x + kLabelPad, hi.x - kLabelPad), std::clamp(m.y, lo.y + kLabelPad, hi.y - kLabelPad - under)};
          if (!clear(end)) continue;
        }
        leaders_.path.begin();
        leaders_.path.add(m);
        leaders_.path.add(end);
        occupied_.add(box);
        addText(textIn(frame, slot, text, set, size, under), false);
        return true;
      }
    }
    return false;
  }

  /// Where the leader from `from` meets an upright text centred at `centre`, `w` by `h` with
  /// `under` of that kept below the digits for an underline: on the middle half of the digits'
  /// side that faces `from`. Not on the room kept clear around the text, where another text's
  /// room may begin, nor at a corner or under the digits, where it could as well lead to the
  /// text next to them.
  static Point2 leaderEnd(Point2 from, Point2 centre, double w, double h, double under) {
    const double left = centre.x - w / 2, right = centre.x + w / 2;
    const double top = centre.y - h / 2, bottom = centre.y + h / 2 - under;  // y points down the page
    const double middle = (top + bottom) / 2;
    // The side that the line from the digits' middle to `from` leaves them by.
    if (std::abs(from.x - centre.x) * (bottom - top) >= std::abs(from.y - middle) * w) {
      const double quarter = (bottom - top) / 4;
      return {from.x < left ? left : right, std::clamp(from.y, middle - quarter, middle + quarter)};
    }
    return {std::clamp(from.x, left + w / 4, right - w / 4), from.y < top ? top : bottom};
  }

  bool nearby(const PlacedPiece& p, const PageShape& s, const Edge& edge, Point2 from, const std::string& text,
              double size) {
    std::vector<int> candidates;
    for (const Point2& corner : {edge.a, edge.b}) {
      const auto it = s.cornerTriangles.find(keyOf(corner, s.step));
      if (it == s.cornerTriangles.end()) continue;
      candidates.insert(candidates.end(), it->second.begin(), it->second.end());
    }
    // Also the triangles around those: a fan of thin triangles often has a wide one nearby.
    const size_t direct = candidates.size();
    for (size_t i = 0; i < direct; ++i) {
      for (int k = 0; k < 3; ++k) {
        const Point2 q = p.piece->triangles[candidates[i]].p[k];
        const auto it = s.cornerTriangles.find(keyOf(q, s.step));
        if (it != s.cornerTriangles.end()) candidates.insert(candidates.end(), it->second.begin(), it->second.end());
      }
    }
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    return nearest(p, s, candidates, from, text, size, std::numeric_limits<double>::infinity());
  }

  /// The triangles whose incircle comes within `farthest` of the point, from the grid's cells
  /// around it: as many as lie near, however large the piece.
  static std::vector<int> within(const PageShape& s, Point2 from, double farthest) {
    const double reach = farthest + s.largestRadius;
    std::vector<int> found;
    for (long long y = cellOf(from.y - reach); y <= cellOf(from.y + reach); ++y) {
      for (long long x = cellOf(from.x - reach); x <= cellOf(from.x + reach); ++x) {
        const auto it = s.cells.find(cellKey(x, y));
        if (it != s.cells.end()) found.insert(found.end(), it->second.begin(), it->second.end());
      }
    }
    // In the cells' order: whoever takes them orders them by distance, then by number.
    return found;
  }

  using Nearest = std::vector<std::pair<double, int>>;

  // The nearest few: a label that fits none of them would hang on a long leader anyway, and
  // the cost per label stays the same on a dense piece. In order of distance, then number.
  static void keepNearest(Nearest& byDistance) {
    const auto tried = byDistance.begin() + static_cast<std::ptrdiff_t>(std::min(byDistance.size(), kNearestTried));
    std::partial_sort(byDistance.begin(), tried, byDistance.end());
    byDistance.erase(tried, byDistance.end());
  }

  // Distance from the point to a triangle's incircle, when no farther than `farthest`.
  static bool nearEnough(const PageShape& s, int t, Point2 from, double farthest, Nearest& out) {
    const Circle& c = s.circles[static_cast<size_t>(t)];
    const double dx = c.centre.x - from.x, dy = c.centre.y - from.y, reach = farthest + c.radius;
    if (dx * dx + dy * dy > reach * reach) return false;
    const double distance = std::hypot(dx, dy) - c.radius;
    if (distance > farthest) return false;
    out.push_back({distance, t});
    return true;
  }

  /// The nearest few triangles of the piece whose incircle comes within `farthest` of the point,
  /// found ring by ring of the grid's cells around it: the search stops at the ring beyond which
  /// no triangle can be nearer than the few already found.
  static Nearest nearestAround(const PageShape& s, Point2 from, double farthest) {
    Nearest found;
    const long long cx = cellOf(from.x), cy = cellOf(from.y);
    const long long rings = static_cast<long long>(std::ceil((farthest + s.largestRadius) / kTriangleCell)) + 1;
    auto visit = [&](long long x, long long y) {
      const auto it = s.cells.find(cellKey(x, y));
      if (it == s.cells.end()) return;
      for (const int t : it->second) nearEnough(s, t, from, farthest, found);
    };
    for (long long r = 0; r <= rings; ++r) {
      for (long long y = cy - r; y <= cy + r; ++y) {
        if (y == cy - r || y == cy + r) {
          for (long long x = cx - r; x <= cx + r; ++x) visit(x, y);
        } else {
          visit(cx - r, y);
          if (r > 0) visit(cx + r, y);
        }
      }
      // Every triangle of a ring further out has its centre more than r cells from the point.
      if (found.size() >= kNearestTried) {
        const double bound = static_cast<double>(r) * kTriangleCell - s.largestRadius;
        const auto nth = found.begin() + static_cast<std::ptrdiff_t>(kNearestTried - 1);
        std::nth_element(found.begin(), nth, found.end());
        if (nth->first <= bound) break;
      }
    }
    keepNearest(found);
    return found;
  }

  /// The label on the first of the candidate triangles, nearest first and no farther from
  /// `from` than `farthest`, with room for it, and a leader line to `from`.
  bool nearest(const PlacedPiece& p, const PageShape& s, const std::vector<int>& candidates, Point2 from,
               const std::string& text, double size, double farthest) {
    Nearest byDistance;
    byDistance.reserve(candidates.size());
    for (const int t : candidates) nearEnough(s, t, from, farthest, byDistance);
    keepNearest(byDistance);
    return onNearest(p, s, byDistance, from, text, size);
  }

  /// False where a triangle of this incircle's radius cannot hold the text at this size: a label
  /// inside a triangle holds a disc as wide as the label's shorter side, and the incircle is the
  /// widest disc the triangle holds. A hair of room is given, so that only what tryPlace could
  /// never place is passed over.
  bool roomFor(double radius, const SetText& set, bool underline, double size) const {
    const double under = underline ? kUnderlineDepth * size : 0;
    const double shorter = std::min(set.width * size, font_.digitHeight() * size + under);
    return 2 * radius * (1 + 1e-9) + 1e-9 >= shorter;
  }

  /// The label on the first of these triangles with room for it, with a leader line to `from`.
  bool onNearest(const PlacedPiece& p, const PageShape& s, const Nearest& byDistance, Point2 from, const std::string& text,
                 double size) {
    const SetText set = font_.set(text);
    const bool underline = readsOtherWayUp(text);
    for (const auto& [distance, t] : byDistance) {
      if (!roomFor(s.circles[static_cast<size_t>(t)].radius, set, underline, size)) continue;
      const auto& tri = s.triangles[static_cast<size_t>(t)];
      const std::vector<Point2> polygon{tri[0], tri[1], tri[2]};
      for (int k = 0; k < 3; ++k) {
        if (tryPlace(polygon, tri[k], tri[(k + 1) % 3], text, set, size, textured(p, t), &from)) return true;
      }
    }
    return false;
  }

  // Tries the slots of a text against side a-b of the polygon; the first free one is taken.
  bool tryPlace(const std::vector<Point2>& polygon, Point2 a, Point2 b, const std::string& text, const SetText& set,
                double size, bool backdrop, const Point2* leaderFrom) {
    SideFrame frame;
    if (!sideFrame(polygon, a, b, &frame)) return false;
    const bool underline = readsOtherWayUp(text);
    const double under = underline ? kUnderlineDepth * size : 0;
    const double w = set.width * size, h = font_.digitHeight() * size + under;
    for (const Slot& slot : slotsAgainst(polygon, frame, w, h, kLabelGap)) {
      const TextBox box = boxOf(frame, slot, kLabelPad);
      if (!occupied_.free(box)) continue;
      // Without a leader the label names the edge it runs along, so no other may be nearer.
      if (!leaderFrom && !cuts_.readsAsOwn(boxOf(frame, slot, 0), a, b)) continue;
      if (leaderFrom && !leader(frame, slot, *leaderFrom)) continue;
      occupied_.add(box);
      addText(textIn(frame, slot, text, set, size, under), backdrop);
      return true;
    }
    return false;
  }

  // A leader line from `from` (the edge's middle) to the middle of the slot's side that faces
  // it; false, and nothing drawn, where it would cross a text.
  bool leader(const SideFrame& frame, const Slot& slot, Point2 from) {
    const TextBox inner = boxOf(frame, slot, 0);
    Point2 end = middle(inner.c[0], inner.c[1]);
    const Point2 toward{from.x - end.x, from.y - end.y};
    const Point2 far = middle(inner.c[2], inner.c[3]);
    if (std::hypot(from.x - far.x, from.y - far.y) < std::hypot(toward.x, toward.y)) end = far;
    const Point2 d{end.x - from.x, end.y - from.y};
    const double length = std::hypot(d.x, d.y);
    const Point2 start = length > 0 ? along(from, d, std::min(0.2, length / 2) / length) : from;
    if (occupied_.crosses(start, end)) return false;
    leaders_.path.begin();
    leaders_.path.add(from);
    leaders_.path.add(end);
    return true;
  }

  // The last resort, for a seam that has no label on this piece: the label at the smallest size
  // against its edge, over the paper there, so that no seam is left without its partner. Where
  // the edge's middle, quarters or its outer side leave the label clear of every other text, it
  // goes there; else over the middle.
  void squeeze(const std::vector<Point2>& own, Point2 a, Point2 b, const std::string& text, const SetText& set,
               bool backdrop) {
    const double size = kSmallestLabel / font_.digitHeight();
    SideFrame frame;
    if (!sideFrame(own, a, b, &frame)) frame = {a, {1, 0}, {0, 1}, 0};
    const double w = set.width * size, h = font_.digitHeight() * size;
    auto clearSlot = [&]() -> std::optional<Slot> {
      for (const double t : {kLabelGap / 2, -h - kLabelGap / 2}) {
        for (const double share : {0.5, 0.25, 0.75}) {
          const Slot slot{frame.length * share - w / 2, t, w, h};
          if (occupied_.free(boxOf(frame, slot, kLabelPad)) && cuts_.readsAsOwn(boxOf(frame, slot, 0), a, b)) return slot;
        }
      }
      return std::nullopt;
    };
    const Slot chosen = clearSlot().value_or(Slot{frame.length / 2 - w / 2, kLabelGap / 2, w, h});
    occupied_.add(boxOf(frame, chosen, kLabelPad));
    addText(textIn(frame, chosen, text, set, size, 0), backdrop);
  }

  // The piece's number, upright in the middle of a triangle, as large as the triangle's
  // incircle allows between the label size and kNumberHeight: in the roomiest triangle where it
  // meets no label, or, where every triangle is taken, over the roomiest one.
  // Returns where the number's centre is.
  Point2 pieceNumber(const PlacedPiece& p, const PageShape& s) {
    std::vector<std::pair<double, int>> roomiest;
    for (size_t i = 0; i < s.triangles.size(); ++i) roomiest.push_back({-s.circles[i].radius, static_cast<int>(i)});
    std::stable_sort(roomiest.begin(), roomiest.end());
    if (roomiest.empty()) return {0, 0};
    const std::string text = std::to_string(packing_.numbers[p.index]);
    const SetText set = font_.set(text);
    const double inkHeight = font_.digitHeight() + (readsOtherWayUp(text) ? kUnderlineDepth : 0);
    const double halfDiagonal = std::hypot(set.width, inkHeight) / 2;
    const double largest = kNumberHeight / font_.digitHeight(), smallest = options_.labelSize / font_.digitHeight();
    auto boxAt = [&](Point2 centre, double size, double pad) {
      const double w = set.width * size / 2 + pad, h = inkHeight * size / 2 + pad;
      return TextBox{{Point2{centre.x - w, centre.y - h}, Point2{centre.x + w, centre.y - h},
                      Point2{centre.x + w, centre.y + h}, Point2{centre.x - w, centre.y + h}}};
    };
    auto place = [&](Point2 centre, double size, int triangle) {
      TextMark mark;
      mark.text = text;
      mark.set = set;
      mark.size = size;
      mark.origin = {centre.x - set.width * size / 2, centre.y - inkHeight * size / 2 + font_.digitHeight() * size};
      TextMark& placed = addText(std::move(mark), textured(p, triangle));
      placed.colour = kNumberColour;
      occupied_.add(boxAt(centre, size, kLabelPad));
    };
    // The incircle's centre first, then points towards the corners, away from labelled sides.
    auto inside = [&](const TextBox& box, const std::array<Point2, 3>& tri) {
      const double turn = cross(minus(tri[1], tri[0]), minus(tri[2], tri[0]));
      for (const Point2& q : box.c) {
        for (int k = 0; k < 3; ++k) {
          if (cross(minus(tri[(k + 1) % 3], tri[k]), minus(q, tri[k])) * turn < 0) return false;
        }
      }
      return true;
    };
    const double least = kSmallestLabel / font_.digitHeight();
    for (const double floor : {smallest, least}) {
      for (const auto& [negativeRadius, t] : roomiest) {
        const auto& tri = s.triangles[t];
        const Circle& c = s.circles[t];
        if (c.radius < halfDiagonal * floor) break;
        std::vector<Point2> centres{c.centre};
        for (const double share : {0.25, 0.45}) {
          for (const Point2& corner : tri) centres.push_back(along(c.centre, minus(corner, c.centre), share));
        }
        for (double size = std::min((c.radius - kLabelPad) / std::max(halfDiagonal, 1e-9), largest); size >= floor - 1e-9;
             size *= kShrink) {
          for (const Point2& centre : centres) {
            const TextBox box = boxAt(centre, size, kLabelPad);
            if (inside(boxAt(centre, size, 0), tri) && occupied_.free(box)) {
              place(centre, size, t);
              return centre;
            }
          }
        }
      }
    }
    const Circle c = s.circles[roomiest.front().second];
    place(c.centre, std::clamp((c.radius - kLabelPad) / std::max(halfDiagonal, 1e-9), smallest, largest),
          roomiest.front().second);
    return c.centre;
  }

  // True when the box lies within the printable area of the sheet.
  bool printable(Point2 lo, Point2 hi) const {
    return lo.x >= options_.margin && lo.y >= options_.margin && hi.x <= options_.pageWidth - options_.margin &&
           hi.y <= options_.pageHeight - options_.margin;
  }

  // The note beside the piece's number: in the triangle nearest the number with room for it,
  // at the label size or down to the smallest that reads well; else on the paper beside the
  // piece; else near the number where no other text stands, at that size or at the smallest;
  // only where there is no such place, over the number's triangle.
  void pieceNote(const PlacedPiece& p, const PageShape& s, const std::string& note, Point2 at, double full,
                 double legible) {
    const SetText set = font_.set(note);
    const std::vector<int> near = within(s, at, kFarthestLeader * 2);
    std::vector<std::pair<double, int>> byDistance;
    for (const int t : near) {
      const Circle c = s.circles[t];
      byDistance.push_back({std::hypot(c.centre.x - at.x, c.centre.y - at.y), t});
    }
    std::sort(byDistance.begin(), byDistance.end());
    for (const double size : {full, legible}) {
      for (const auto& [distance, t] : byDistance) {
        const auto& tri = s.triangles[t];
        const std::vector<Point2> polygon{tri[0], tri[1], tri[2]};
        for (int k = 0; k < 3; ++k) {
          if (tryPlace(polygon, tri[k], tri[(k + 1) % 3], note, set, size, textured(p, t), nullptr)) return;
        }
      }
    }
    for (const Edge& edge : p.piece->edges) {
      if (edge.kind == EdgeKind::Cut && beside(p, s, edge, note, legible)) return;
    }
    // The note upright at this size with its top left corner at (x, y), where it meets no other
    // text and its room lies on bare paper (with `bare` false: anywhere printable).
    auto upright = [&](double x, double y, double size, bool bare) {
      const double sw = set.width * size, sh = font_.digitHeight() * size;
      const SideFrame frame{{x, y + sh}, {1, 0}, {0, -1}, sw};
      const Slot room{0, 0, sw, sh};
      const TextBox box = boxOf(frame, room, kLabelPad);
      if (!occupied_.free(box)) return false;
      const Point2 lo{x - kLabelPad, y - kLabelPad};
      const Point2 hi{x + sw + kLabelPad, y + sh + kLabelPad};
      if (bare ? !paper_.bare(lo, hi) : !printable(lo, hi)) return false;
      occupied_.add(box);
      addText(textIn(frame, room, note, set, size, 0), true);
      return true;
    };
    // Upright near the number, where it meets no other text: first on bare paper inside the
    // printable area (off every piece, tab and the sheet's title), then over the paper there.
    const double w = set.width * legible, h = font_.digitHeight() * legible;
    const Slot slot{0, 0, w, h};
    for (const bool barePaper : {true, false}) {
      for (const double down : {1.5, -1.5 - h, 3.5, -3.5 - h, 6.0, -6.0 - h, 9.0, -9.0 - h}) {
        for (const double right : {0.0, -w / 2, w / 2}) {
          if (upright(at.x - w / 2 + right, at.y + down, legible, barePaper)) return;
        }
      }
    }
    // Farther round the number, within a leader's reach, at that size and then at the smallest:
    // over a label, the note's backdrop would hide it.
    for (const double size : {legible, kSmallestLabel / font_.digitHeight()}) {
      const double sw = set.width * size, sh = font_.digitHeight() * size;
      for (double r = 3; r <= kFarthestLeader; r += 1.5) {
        for (int k = 0; k < 16; ++k) {
          const double turn = k * std::numbers::pi / 8;
          if (upright(at.x + r * std::cos(turn) - sw / 2, at.y + r * std::sin(turn) - sh / 2, size, false)) return;
        }
      }
    }
    const SideFrame frame{{at.x - w / 2, at.y + h + 1.5}, {1, 0}, {0, -1}, w};
    occupied_.add(boxOf(frame, slot, kLabelPad));
    addText(textIn(frame, slot, note, set, legible, 0), true);
  }

  // A label's or number's text on the page, with the underline 6 and 9 need.
  TextMark& addText(TextMark mark, bool backdrop) {
    mark.colour = kLabelColour;
    mark.underline = readsOtherWayUp(mark.text);
    mark.backdrop = backdrop;
    texts_.push_back(std::move(mark));
    return texts_.back();
  }

  bool textured(const PlacedPiece& p, int triangle) const {
    const Triangle& t = p.piece->triangles[triangle];
    return options_.fill && t.hasUV && t.material >= 0 && textures_[t.material];
  }

  const PatternOptions& options_;
  const Packing& packing_;
  const Textures& textures_;
  LabelCount* count_;
  const Font& font_;
  Occupancy occupied_;
  Paper paper_;
  CutEdges cuts_;
  StrokeMark leaders_{{}, kLeaderPen};
  std::vector<TextMark> texts_;
};

LabelPlacer::LabelPlacer(const PatternOptions& options, const Packing& packing, const Textures& textures,
                         LabelCount* count)
    : impl_(std::make_unique<Impl>(options, packing, textures, count)) {}

LabelPlacer::~LabelPlacer() = default;

void LabelPlacer::keepClear(const TextBox& box) { impl_->keepClear(box); }

void LabelPlacer::cover(const PlacedPiece& piece) { impl_->cover(piece); }

void LabelPlacer::cover(Point2 lo, Point2 hi) { impl_->cover(lo, hi); }

void LabelPlacer::placePiece(const PlacedPiece& piece, const std::vector<std::string>& texts, const std::string& note) {
  impl_->placePiece(piece, texts, note);
}

void LabelPlacer::addTo(Page* page) { impl_->addTo(page); }

}  // namespace pattern::detail
