// Packing the pieces onto sheets.
//
// Every sheet's printable area is a raster of square cells. A piece is rasterised conservatively
// (every cell its outline touches) at four turns: the one that gives it the smallest bounding
// box and its quarter turns. Pieces go largest first, each to the first sheet where it fits, at
// the topmost, then leftmost free position of whichever turn ends highest on the page. A position
// is free when the piece's probe (its cells grown by the gap) meets no cell of another piece, so
// pieces keep at least the gap apart and rings or L shapes can take smaller pieces inside them.
#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <limits>
#include <numbers>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pattern/outline.h"
#include "pattern/sheet.h"

namespace pattern {

using detail::format;
using detail::Shape;
using detail::Span;

namespace {

// Cells of at most half a millimetre, coarser only on pages so large that the raster would
// otherwise grow beyond this many cells.
constexpr double kFinestCell = 0.5;
constexpr double kMostCells = 1.0e6;
// A sheet that had no room for a piece is searched again for pieces of fewer than this share of
// its cells.
constexpr double kRetryShare = 0.7;
// Pieces whose tops lie within one band of this many millimetres read as one line.
constexpr double kReadingBand = 20.0;

/// The printable area of one sheet as a raster, with a border of `pad` always-free cells around
/// it so that probes may reach past the margins (only bodies must stay inside).
class SheetGrid {
 public:
  SheetGrid(int cols, int rows, int pad)
      : cols_(cols), rows_(rows), pad_(pad), stride_(cols + 2 * pad),
        used_(static_cast<size_t>(stride_) * (rows + 2 * pad), 0),
        run_(used_.size(), 0), widest_(rows + 2 * pad, 0) {
    for (int r = 0; r < rows + 2 * pad; ++r) refreshRow(r);
  }

  /// The topmost (or lowest), then leftmost position (column and row of the shape's top-left
  /// cell) where the shape fits; false when there is none. Searching from the top, only
  /// positions whose bottom row lies above `bottomLimit` count.
  bool find(const Shape& shape, bool lowest, int* col, int* row, int bottomLimit = 1 << 30) const {
    if (shape.cols > cols_ || shape.rows > rows_) return false;
    const int last = lowest ? rows_ - shape.rows : std::min(rows_ - shape.rows, bottomLimit - shape.rows);
    for (int k = 0; k <= last; ++k) {
      const int j = lowest ? last - k : k;
      if (tooNarrow(shape, j)) continue;
      for (int i = 0; i + shape.cols <= cols_;) {
        const int skip = blocked(shape, i, j);
        if (skip == 0) {
          *col = i;
          *row = j;
          return true;
        }
        i += skip;
      }
    }
    return false;
  }

  void occupy(const Shape& shape, int col, int row) {
    for (int r = 0; r < shape.rows; ++r) {
      for (const Span& s : shape.body[r]) fill(col + s.begin, col + s.end, row + r);
      refreshRow(row + r + pad_);
    }
  }

 private:
  // Whether some probe row is wider than every free run of the sheet row it would lie on.
  bool tooNarrow(const Shape& shape, int j) const {
    for (const int q : shape.probeOrder) {
      if (widest_[j + q] < shape.probeWidths[q]) return true;
    }
    return false;
  }

  // Zero when the shape's probe meets nothing at (i, j); otherwise how far right the next
  // position that might be free lies: where the blocking span starts past the taken cells.
  int blocked(const Shape& shape, int i, int j) const {
    for (const int q : shape.probeOrder) {
      const int* run = &run_[static_cast<size_t>(j + q) * stride_ + i];
      for (const Span& s : shape.probe[q]) {
        const int free = run[s.begin];
        if (free >= s.end - s.begin) continue;
        const int taken = std::max(free, 0);
        return taken - run[s.begin + taken];
      }
    }
    return 0;
  }

  void fill(int col0, int col1, int row) {
    if (col0 >= col1) return;
    const size_t base = static_cast<size_t>(row + pad_) * stride_ + pad_;
    std::fill(used_.begin() + base + col0, used_.begin() + base + col1, 1);
  }

  // run_ holds, for every free cell, how many free cells start there going right, and for every
  // taken cell, minus the number of taken cells that start there.
  void refreshRow(int paddedRow) {
    int* run = &run_[static_cast<size_t>(paddedRow) * stride_];
    const unsigned char* used = &used_[static_cast<size_t>(paddedRow) * stride_];
    int widest = 0;
    for (int c = stride_ - 1; c >= 0; --c) {
      const int next = c + 1 < stride_ ? run[c + 1] : 0;
      run[c] = used[c] ? std::min(next, 0) - 1 : std::max(next, 0) + 1;
      widest = std::max(widest, run[c]);
    }
    widest_[paddedRow] = widest;
  }

  int cols_, rows_, pad_, stride_;
  std::vector<unsigned char> used_;
  std::vector<int> run_;
  std::vector<int> widest_;
};

struct Candidate {
  const Shape* shape = nullptr;
  int sheet = 0, col = 0, row = 0;
};

double normalAngle(double a) {
  a = std::remainder(a, 2 * std::numbers::pi);
  return a <= -std::numbers::pi ? a + 2 * std::numbers::pi : a;
}

// The largest scale at most `limit`, rounded down to two decimals (or to the first two digits
// when it is smaller than that), so that suggesting it never suggests too much.
std::string scaleBelow(double limit) {
  int decimals = 2;
  while (decimals < 9 && std::floor(limit * std::pow(10.0, decimals)) < 10 && limit < 0.1) ++decimals;
  const double value = std::floor(limit * std::pow(10.0, decimals)) / std::pow(10.0, decimals);
  return format("%.*f", decimals, value);
}

// The legend starts at the bottom-left corner of the first sheet. If it alone keeps a piece off
// that sheet, it gives way, and once every piece is placed it goes to the lowest free spot on
// the first sheet with room.
class Packer {
 public:
  Packer(const PatternInput& input, const PatternOptions& options) : input_(input), options_(options) {
    printableWidth_ = options.pageWidth - 2 * options.margin;
    reserve_ = detail::titleReserve(options);
    printableHeight_ = std::max(options.pageHeight - 2 * options.margin - reserve_, 1.0);
    cell_ = std::max(kFinestCell, std::sqrt(printableWidth_ * printableHeight_ / kMostCells));
    grow_ = static_cast<int>(std::ceil(detail::kPieceGap / cell_ - 1e-9));
    cols_ = static_cast<int>(std::floor(printableWidth_ / cell_ + 1e-9));
    rows_ = static_cast<int>(std::floor(printableHeight_ / cell_ + 1e-9));
    legendSize_ = detail::legendSize(options);
    const double w = legendSize_.width, h = legendSize_.height;
    Shape legend = detail::rasterise({{{0, 0}, {w, 0}, {w, h}, {0, h}}}, 0, 1, cell_, grow_);
    if (legend.cols <= cols_ && legend.rows <= rows_) legend_ = std::move(legend);
  }

  Packing run() {
    Packing packing;
    packing.positions.resize(input_.pieces.size());
    corners_.resize(input_.pieces.size());
    std::vector<std::vector<std::vector<Point2>>> parts(input_.pieces.size());
    std::vector<std::vector<Shape>> shapes(input_.pieces.size());
    std::vector<double> turns(input_.pieces.size());
    for (size_t i = 0; i < input_.pieces.size(); ++i) {
      parts[i] = detail::outlineParts(input_.pieces[i]);
      turns[i] = detail::tightestTurn(parts[i]);
      shapes[i] = fittingShapes(parts[i], turns[i]);
    }

    const std::vector<size_t> order = packingOrder(shapes);

    std::vector<size_t> alone;
    for (const size_t i : order) {
      if (shapes[i].empty()) {
        alone.push_back(i);
        continue;
      }
      const Candidate c = place(shapes[i]);
      sheets_[c.sheet].occupy(*c.shape, c.col, c.row);
      ++pieces_[c.sheet];
      packing.positions[i] = position(i, c);
      corners_[i] = {c.col * cell_, c.row * cell_};
    }
    packing.sheets = static_cast<int>(sheets_.size());
    placeLegend(&packing);

    std::sort(alone.begin(), alone.end());
    for (const size_t i : alone) {
      packing.positions[i] = placeAlone(i, parts[i], turns[i], packing.sheets++, &packing.warnings);
      corners_[i] = {0, 0};
    }
    numberInReadingOrder(&packing);
    // Pieces placed by hand stand where the person put them; their numbers stay.
    for (const Position& placed : options_.placed) {
      if (placed.piece < 0 || static_cast<size_t>(placed.piece) >= packing.positions.size() || placed.sheet < 0) continue;
      Position& at = packing.positions[static_cast<size_t>(placed.piece)];
      at.sheet = placed.sheet;
      at.rotation = placed.rotation;
      at.offset = placed.offset;
      packing.sheets = std::max(packing.sheets, placed.sheet + 1);
    }
    measureFill(&packing);
    return packing;
  }

 private:
  // The turns a piece is tried at: the tightest turn and its quarter turns, and the piece's own
  // frame and its quarter turns. The own frame matters: with a page limit the unfolding made the
  // piece fit the printable area as it lies, which the tightest turn need not keep.
  static std::vector<double> turnsOf(double tightest) {
    std::vector<double> turns;
    for (double start : {tightest, 0.0}) {
      for (int quarter = 0; quarter < 4; ++quarter) {
        const double rotation = normalAngle(start + quarter * std::numbers::pi / 2);
        const bool known = std::any_of(turns.begin(), turns.end(), [&](double t) { return std::fabs(t - rotation) < 1e-9; });
        if (!known) turns.push_back(rotation);
      }
    }
    return turns;
  }

  // The piece rasterised at each of its turns, leaving out the turns at which it cannot fit an
  // empty sheet.
  std::vector<Shape> fittingShapes(const std::vector<std::vector<Point2>>& parts, double tightest) {
    std::vector<Shape> shapes;
    for (const double rotation : turnsOf(tightest)) {
      const detail::TurnedBox box = detail::turnedBox(parts, rotation, options_.scale);
      const auto cells = [&](double mm) { return std::max(1.0, std::ceil(mm / cell_ - 1e-9)); };
      if (cells(box.width) > cols_ || cells(box.height) > rows_) continue;
      shapes.push_back(detail::rasterise(parts, rotation, options_.scale, cell_, grow_));
    }
    return shapes;
  }

  // The first sheet with room for one of the shapes.
  // A sheet where a piece found no room is searched again only for pieces clearly smaller than
  // it: each sheet is searched in vain a few times at most, so the time stays in proportion to
  // the pieces, however many sheets there are.
  Candidate place(const std::vector<Shape>& shapes) {
    const long cells = shapes[0].cells;
    for (int sheet = 0;; ++sheet) {
      if (sheet == static_cast<int>(sheets_.size())) openSheet();
      if (cells >= kRetryShare * failed_[sheet]) continue;
      Candidate best = bestOn(sheet, shapes);
      if (!best.shape && sheet == legendSheet_ && pieces_[sheet] == 0) {
        sheets_[sheet] = SheetGrid(cols_, rows_, grow_);
        legendSheet_ = -1;
        best = bestOn(sheet, shapes);
      }
      if (best.shape) return best;
      failed_[sheet] = std::min<double>(failed_[sheet], cells);
    }
  }

  // Largest first, so that small pieces fill the gaps the large ones leave; but after a piece,
  // the largest of the pieces that join the pieces placed so far, so that neighbours in the
  // model land near each other and get numbers close together.
  std::vector<size_t> packingOrder(const std::vector<std::vector<Shape>>& shapes) const {
    const size_t n = input_.pieces.size();
    auto size = [&](size_t i) { return shapes[i].empty() ? 0L : shapes[i][0].cells; };
    std::vector<size_t> bySize(n);
    for (size_t i = 0; i < n; ++i) bySize[i] = i;
    std::stable_sort(bySize.begin(), bySize.end(), [&](size_t a, size_t b) { return size(a) > size(b); });

    std::unordered_map<int, std::vector<size_t>> byLabel;
    for (size_t i = 0; i < n; ++i) {
      for (const Edge& e : input_.pieces[i].edges) {
        if (e.kind == EdgeKind::Cut && e.label > 0) byLabel[e.label].push_back(i);
      }
    }
    std::vector<std::vector<size_t>> neighbours(n);
    for (const auto& [label, owners] : byLabel) {
      if (owners.size() == 2 && owners[0] != owners[1]) {
        neighbours[owners[0]].push_back(owners[1]);
        neighbours[owners[1]].push_back(owners[0]);
      }
    }
    std::vector<size_t> rank(n);
    for (size_t k = 0; k < n; ++k) rank[bySize[k]] = k;
    std::vector<bool> taken(n, false);
    std::set<size_t> frontier;  // ranks of waiting neighbours: the largest first
    std::vector<size_t> order;
    size_t next = 0;
    while (order.size() < n) {
      size_t piece;
      if (!frontier.empty()) {
        piece = bySize[*frontier.begin()];
        frontier.erase(frontier.begin());
      } else {
        while (taken[bySize[next]]) ++next;
        piece = bySize[next];
      }
      if (taken[piece]) continue;
      taken[piece] = true;
      order.push_back(piece);
      for (const size_t other : neighbours[piece]) {
        if (!taken[other]) frontier.insert(rank[other]);
      }
    }
    return order;
  }

  // Of the shapes that fit on the sheet, the one whose free position ends highest, then leftmost.
  // Once one shape has a position, the others need only be searched above where it ends.
  Candidate bestOn(int sheet, const std::vector<Shape>& shapes) const {
    Candidate best;
    for (const Shape& shape : shapes) {
      Candidate c{&shape, sheet};
      const int limit = best.shape ? best.row + best.shape->rows + 1 : 1 << 30;
      if (!sheets_[sheet].find(shape, false, &c.col, &c.row, limit)) continue;
      if (!best.shape || std::pair(c.row + shape.rows, c.col + shape.cols) <
                             std::pair(best.row + best.shape->rows, best.col + best.shape->cols)) {
        best = c;
      }
    }
    return best;
  }

  void openSheet() {
    sheets_.emplace_back(cols_, rows_, grow_);
    failed_.push_back(std::numeric_limits<double>::infinity());
    pieces_.push_back(0);
    if (sheets_.size() == 1 && legend_) {
      legendSheet_ = 0;
      legendCol_ = 0;
      legendRow_ = rows_ - legend_->rows;
      sheets_[0].occupy(*legend_, legendCol_, legendRow_);
    }
  }

  void placeLegend(Packing* packing) {
    if (input_.pieces.empty()) return;
    if (!legend_) {
      packing->warnings.push_back(format("the printable area of %.1f x %.1f mm is too small for the legend; it is left out",
                                        printableWidth_, printableHeight_));
      return;
    }
    for (int sheet = 0; legendSheet_ < 0 && sheet < static_cast<int>(sheets_.size()); ++sheet) {
      if (sheets_[sheet].find(*legend_, true, &legendCol_, &legendRow_)) {
        sheets_[sheet].occupy(*legend_, legendCol_, legendRow_);
        legendSheet_ = sheet;
      }
    }
    if (legendSheet_ < 0) {
      packing->warnings.push_back("no sheet has room for the legend; it is left out");
      return;
    }
    packing->legendSheet = legendSheet_;
    const double left = options_.margin + legendCol_ * cell_;
    const double upper = top() - legendRow_ * cell_;
    packing->legendMin = {left, upper - legendSize_.height};
    packing->legendMax = {left + legendSize_.width, upper};
  }

  // The shape's top-left cell lands at (col, row) of the printable area.
  Position position(size_t piece, const Candidate& c) const {
    Position p;
    p.piece = static_cast<int>(piece);
    p.sheet = c.sheet;
    p.rotation = c.shape->rotation;
    p.offset = {options_.margin + c.col * cell_ - c.shape->box.corner.x,
                top() - c.row * cell_ - c.shape->box.corner.y};
    return p;
  }

  // A piece that fits no empty sheet stands alone at the top-left corner of the printable area,
  // at the turn that fits best; if it is larger than the printable area, say how to make it fit.
  Position placeAlone(size_t piece, const std::vector<std::vector<Point2>>& parts, double tightest,
                       int sheet, std::vector<std::string>* warnings) const {
    double bestFit = -1;
    detail::TurnedBox best;
    Position p;
    p.piece = static_cast<int>(piece);
    p.sheet = sheet;
    for (const double rotation : turnsOf(tightest)) {
      const detail::TurnedBox box = detail::turnedBox(parts, rotation, options_.scale);
      const double fit = std::min(printableWidth_ / std::max(box.width, 1e-12),
                                  printableHeight_ / std::max(box.height, 1e-12));
      if (fit > bestFit * (1 + 1e-9)) {
        bestFit = fit;
        best = box;
        p.rotation = rotation;
      }
    }
    p.offset = {options_.margin - best.corner.x, top() - best.corner.y};
    p.oversize = bestFit < 1;
    if (p.oversize) {
      const double pageW = std::ceil(best.width + 2 * options_.margin - 1e-6);
      const double pageH = std::ceil(best.height + 2 * options_.margin - 1e-6);
      const std::string scale = scaleBelow(options_.scale * bestFit);
      warnings->push_back(format(
          "piece %d is %.1f x %.1f mm, larger than the printable area of %.1f x %.1f mm: use a scale "
          "of at most %s (--scale %s) or a page of at least %.0f x %.0f mm (--page %.0fx%.0f)",
          input_.pieces[piece].number, best.width, best.height, printableWidth_, printableHeight_,
          scale.c_str(), scale.c_str(), pageW, pageH, pageW, pageH));
    }
    return p;
  }

  // Sheet by sheet, in bands of kReadingBand millimetres from the top, left to right by the
  // top-left corners of the pieces' boxes.
  void numberInReadingOrder(Packing* packing) const {
    const size_t n = input_.pieces.size();
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    auto key = [&](size_t i) {
      return std::tuple(packing->positions[i].sheet, static_cast<int>(std::floor(corners_[i].y / kReadingBand)),
                        corners_[i].x, corners_[i].y);
    };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(a) < key(b); });
    packing->numbers.assign(n, 0);
    for (size_t k = 0; k < n; ++k) packing->numbers[order[k]] = static_cast<int>(k) + 1;
  }

  void measureFill(Packing* packing) const {
    packing->fill.assign(packing->sheets, 0);
    const double scale2 = options_.scale * options_.scale;
    for (size_t i = 0; i < input_.pieces.size(); ++i) {
      double area = 0;
      for (const Triangle& t : input_.pieces[i].triangles) area += std::abs(polygonArea({t.p[0], t.p[1], t.p[2]}));
      for (const Tab& tab : input_.pieces[i].tabs) area += std::abs(polygonArea({tab.corners.begin(), tab.corners.end()}));
      packing->fill[packing->positions[i].sheet] += area * scale2 / (printableWidth_ * printableHeight_);
    }
  }

  static double polygonArea(const std::vector<Point2>& p) {
    double sum = 0;
    for (size_t k = 0; k < p.size(); ++k) sum += p[k].x * p[(k + 1) % p.size()].y - p[(k + 1) % p.size()].x * p[k].y;
    return sum / 2;
  }

  // The top of the printable area below the title, sheet millimetres from the bottom.
  double top() const { return options_.pageHeight - options_.margin - reserve_; }

  const PatternInput& input_;
  const PatternOptions& options_;
  double printableWidth_ = 0, printableHeight_ = 0, cell_ = 1, reserve_ = 0;
  int grow_ = 0, cols_ = 0, rows_ = 0;
  detail::Size legendSize_;
  std::optional<Shape> legend_;
  int legendSheet_ = -1, legendCol_ = 0, legendRow_ = 0;
  std::vector<SheetGrid> sheets_;
  std::vector<int> pieces_;  // per sheet
  std::vector<double> failed_;  // per sheet: the fewest cells of a piece that found no room on it
  std::vector<Point2> corners_;  // per piece: its box's top-left corner, mm from the printable area's
};

}  // namespace

Point2 sheetPoint(const Position& position, double scale, Point2 p) {
  const double c = std::cos(position.rotation), s = std::sin(position.rotation);
  return {position.offset.x + scale * (c * p.x - s * p.y), position.offset.y + scale * (s * p.x + c * p.y)};
}

namespace {

/// A flat triangle in sheet millimetres.
using SheetTriangle = std::array<Point2, 3>;

/// A piece's triangles and tabs (each tab as two triangles) on its sheet.
std::vector<SheetTriangle> sheetParts(const Piece& piece, const Position& at, double scale) {
  std::vector<SheetTriangle> out;
  auto put = [&](Point2 a, Point2 b, Point2 c) { out.push_back({sheetPoint(at, scale, a), sheetPoint(at, scale, b), sheetPoint(at, scale, c)}); };
  for (const Triangle& t : piece.triangles) put(t.p[0], t.p[1], t.p[2]);
  for (const Tab& tab : piece.tabs) {
    put(tab.corners[0], tab.corners[1], tab.corners[2]);
    put(tab.corners[0], tab.corners[2], tab.corners[3]);
  }
  return out;
}

}  // namespace

bool trianglesOverlap(const std::array<Point2, 3>& a, const std::array<Point2, 3>& b, double depth) {
  const auto cross = [](Point2 o, Point2 p, Point2 q) { return (p.x - o.x) * (q.y - o.y) - (p.y - o.y) * (q.x - o.x); };
  for (const std::array<Point2, 3>* t : {&a, &b}) {
    const std::array<Point2, 3>& s = *t;
    const std::array<Point2, 3>& o = t == &a ? b : a;
    const double turn = cross(s[0], s[1], s[2]) >= 0 ? 1 : -1;
    for (int k = 0; k < 3; ++k) {
      const Point2 p = s[static_cast<size_t>(k)], q = s[static_cast<size_t>((k + 1) % 3)];
      const double len = std::hypot(q.x - p.x, q.y - p.y);
      if (!(len > 0)) continue;
      // How far the other triangle reaches inside this side's line; it lies outside when all
      // of its corners are at most `depth` inside.
      double deepest = -std::numeric_limits<double>::infinity();
      for (const Point2& c : o) deepest = std::max(deepest, turn * cross(p, q, c) / len);
      if (deepest <= depth) return false;
    }
  }
  return true;
}

std::string placementProblem(const PatternInput& input, const PatternOptions& options, const Packing& packing,
                             const Position& wanted) {
  if (wanted.piece < 0 || static_cast<size_t>(wanted.piece) >= input.pieces.size() ||
      static_cast<size_t>(wanted.piece) >= packing.positions.size()) {
    return "there is no such piece";
  }
  if (!std::isfinite(wanted.rotation) || !std::isfinite(wanted.offset.x) || !std::isfinite(wanted.offset.y)) {
    return "its place is not a number";
  }
  const std::vector<SheetTriangle> parts = sheetParts(input.pieces[static_cast<size_t>(wanted.piece)], wanted, options.scale);
  // The printable area: inside the margins and below the title line.
  const double left = options.margin, right = options.pageWidth - options.margin, bottom = options.margin;
  const double top = options.pageHeight - options.margin - detail::titleReserve(options);
  constexpr double kSlack = 1e-6;
  for (const SheetTriangle& t : parts) {
    for (const Point2& p : t) {
      if (p.x < left - kSlack || p.x > right + kSlack || p.y < bottom - kSlack || p.y > top + kSlack) {
        return "it would leave the printable area";
      }
    }
  }
  auto boxOf = [](const SheetTriangle& t) {
    return std::array<double, 4>{std::min({t[0].x, t[1].x, t[2].x}), std::min({t[0].y, t[1].y, t[2].y}),
                                 std::max({t[0].x, t[1].x, t[2].x}), std::max({t[0].y, t[1].y, t[2].y})};
  };
  // Pieces that touch are no fault; parts that lie on each other by more than a hundredth of a
  // millimetre are.
  constexpr double kDepth = 0.01;
  auto meets = [&](const std::vector<SheetTriangle>& others) {
    for (const SheetTriangle& a : parts) {
      const auto ba = boxOf(a);
      for (const SheetTriangle& b : others) {
        const auto bb = boxOf(b);
        if (bb[0] >= ba[2] - kDepth || ba[0] >= bb[2] - kDepth || bb[1] >= ba[3] - kDepth || ba[1] >= bb[3] - kDepth) continue;
        if (trianglesOverlap(a, b, kDepth)) return true;
      }
    }
    return false;
  };
  if (packing.legendSheet == wanted.sheet) {
    const Point2 a = packing.legendMin, b = packing.legendMax;
    if (meets({SheetTriangle{a, Point2{b.x, a.y}, b}, SheetTriangle{a, b, Point2{a.x, b.y}}})) return "it would lie over the legend";
  }
  for (size_t i = 0; i < input.pieces.size() && i < packing.positions.size(); ++i) {
    if (static_cast<int>(i) == wanted.piece || packing.positions[i].sheet != wanted.sheet) continue;
    if (meets(sheetParts(input.pieces[i], packing.positions[i], options.scale))) {
      const int number = i < packing.numbers.size() ? packing.numbers[i] : static_cast<int>(i) + 1;
      return "it would lie over piece " + std::to_string(number);
    }
  }
  return "";
}

Packing packPattern(const PatternInput& input, const PatternOptions& options) {
  if (const std::string problem = detail::invalidValue(input, options); !problem.empty()) {
    Packing packing;
    packing.warnings.push_back(problem);
    return packing;
  }
  try {
    return Packer(input, options).run();
  } catch (const std::exception& e) {
    // The font the legend is measured with could not be loaded.
    Packing packing;
    packing.warnings.push_back(e.what());
    return packing;
  }
}

}  // namespace pattern
