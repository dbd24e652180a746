// Drawing the sheets: fills, lines, edge labels that name the partner piece, piece numbers, the
// title line and the legend, as page marks that every format writes alike.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "pattern/labels.h"
#include "pattern/sheet.h"
#include "pattern/texture.h"

namespace pattern::detail {

namespace {

// Sizes in millimetres on paper.
constexpr double kLabelGap = 0.35;  // between an edge and its label
constexpr double kLabelPad = 0.15;  // kept clear around every text box
constexpr double kNumberHeight = 4.5;
constexpr double kSmallestLabel = 0.8;  // a label that fits nowhere shrinks at most to this
constexpr double kFarthestLeader = 12;  // a label that fits nowhere near its edge goes at most this far
constexpr double kTitleHeight = 2.5;
constexpr double kLegendHeight = 1.9;
constexpr double kLegendRow = 4.5;
constexpr double kLegendSample = 10.0;
constexpr double kLegendSampleGap = 2.0;
constexpr double kUnderlineDepth = 0.28;  // of the font size, kept below the baseline
// Textured triangles reach this far past their corners, so that the anti-aliased borders of
// neighbours overlap instead of leaving a light seam between them.
constexpr double kTextureBleed = 0.08;
constexpr double kHaloWidth = 0.45;
// Textures are veiled with white so that dark ones keep lines and text readable.
constexpr double kTextureVeil = 0.35;

// Dash patterns as in paper folding: valleys dashed, mountains dash-dotted, so the two stay
// apart on a black-and-white print; the colours only help on a colour one.
const Pen kCutPen{0.3, {0.1, 0.1, 0.1}, {}};
const Pen kMountainPen{0.3, {0.55, 0.1, 0.08}, {3.0, 1.0, 0.6, 1.0}};
const Pen kValleyPen{0.3, {0.08, 0.22, 0.6}, {1.6, 1.0}};
const Pen kLeaderPen{0.15, {0.2, 0.2, 0.2}, {}};
// Seam ends: a stroke as dark as the cut, into the piece.
const Pen kTickPen{0.3, {0.1, 0.1, 0.1}, {}};
constexpr double kTickLength = 1.2;
// A tab is folded away from the printed side, under its neighbour: a mountain fold.
const Pen& kTabBasePen = kMountainPen;
constexpr Rgb kTabFill{0.86, 0.86, 0.86};
constexpr Rgb kLabelColour{0.12, 0.12, 0.12};
constexpr Rgb kNumberColour{0, 0, 0};
constexpr Rgb kWhite{1, 1, 1};

double cross(Point2 a, Point2 b) { return a.x * b.y - a.y * b.x; }
Point2 minus(Point2 a, Point2 b) { return {a.x - b.x, a.y - b.y}; }
Point2 along(Point2 p, Point2 d, double t) { return {p.x + t * d.x, p.y + t * d.y}; }
Point2 middle(Point2 a, Point2 b) { return {(a.x + b.x) / 2, (a.y + b.y) / 2}; }

std::string format(const char* pattern, auto... values) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

// Piece frame to the page seen top-down: the position turns and shifts the piece within the
// sheet frame (y up); the page has y down, so height y is drawn at pageHeight - y. Both frames
// see the paper from the printed side: nothing is mirrored.
struct ToPage {
  double c, s, ox, oy, height;
  Point2 operator()(Point2 p) const { return {ox + c * p.x - s * p.y, height - (oy + s * p.x + c * p.y)}; }
};

ToPage toPage(const Position& p, double scale, double pageHeight) {
  return {scale * std::cos(p.rotation), scale * std::sin(p.rotation), p.offset.x, p.offset.y, pageHeight};
}

// Lighter than the material: lines and numbers stay readable on dark colours and the print uses
// little ink, while the colours still tell the parts of the model apart.
Rgb printColour(const Material& m) {
  Rgb c;
  for (int k = 0; k < 3; ++k) c[k] = 0.6 + 0.4 * std::clamp(m.color[k], 0.0, 1.0);
  return c;
}

/// The grey of the glue tabs: the usual light one, unless a face of the pattern would print
/// within a shade of it (a grey material lightened for print); then the lightest of a few darker
/// greys that stands two shades off every material's print colour, else the one farthest from
/// them, so that a tab never passes for a face.
Rgb tabFillFor(const std::vector<Material>& materials, bool filled) {
  auto distance = [&](double grey) {
    double nearest = 1;
    for (const Material& m : materials) {
      const Rgb c = printColour(m);
      nearest = std::min(nearest, std::abs(0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2] - grey));
    }
    return nearest;
  };
  constexpr double kShade = 0.06;
  if (!filled || distance(kTabFill[0]) >= kShade) return kTabFill;
  double best = kTabFill[0];
  for (const double grey : {0.78, 0.70, 0.62}) {
    if (distance(grey) >= 2 * kShade) return {grey, grey, grey};
    if (distance(grey) > distance(best)) best = grey;
  }
  return {best, best, best};
}

struct Circle {
  Point2 centre;
  double radius = 0;
};

Circle incircle(const std::array<Point2, 3>& p) {
  std::array<double, 3> side;
  for (int k = 0; k < 3; ++k) side[k] = std::hypot(p[(k + 1) % 3].x - p[(k + 2) % 3].x, p[(k + 1) % 3].y - p[(k + 2) % 3].y);
  const double perimeter = side[0] + side[1] + side[2];
  if (!(perimeter > 0)) return {p[0], 0};
  Circle c{{0, 0}, std::abs(cross(minus(p[1], p[0]), minus(p[2], p[0]))) / perimeter};
  for (int k = 0; k < 3; ++k) c.centre = along(c.centre, p[k], side[k] / perimeter);
  return c;
}

std::array<Point2, 3> bled(const std::array<Point2, 3>& p) {
  const Point2 centre = incircle(p).centre;
  std::array<Point2, 3> out;
  for (int k = 0; k < 3; ++k) {
    const Point2 d = minus(p[k], centre);
    const double length = std::hypot(d.x, d.y);
    out[k] = length > 0 ? along(p[k], d, kTextureBleed / length) : p[k];
  }
  return out;
}

// The image through the triangle's texture coordinates: page to the triangle's own frame
// (corner 0 plus multiples of its two sides), to texture coordinates, to image pixels
// (x = u * width, y = (1 - v) * height). False when either is degenerate.
bool textureMatrix(const std::array<Point2, 3>& p, const std::array<Point2, 3>& uv, int width, int height,
                   cairo_matrix_t* out) {
  cairo_matrix_t pageToTriangle, triangleToUv, uvToPixels, pageToUv;
  cairo_matrix_init(&pageToTriangle, p[1].x - p[0].x, p[1].y - p[0].y, p[2].x - p[0].x, p[2].y - p[0].y, p[0].x, p[0].y);
  if (cairo_matrix_invert(&pageToTriangle) != CAIRO_STATUS_SUCCESS) return false;
  cairo_matrix_init(&triangleToUv, uv[1].x - uv[0].x, uv[1].y - uv[0].y, uv[2].x - uv[0].x, uv[2].y - uv[0].y,
                    uv[0].x, uv[0].y);
  cairo_matrix_init(&uvToPixels, width, 0, 0, -height, 0, height);
  cairo_matrix_multiply(&pageToUv, &pageToTriangle, &triangleToUv);
  cairo_matrix_multiply(out, &pageToUv, &uvToPixels);
  cairo_matrix_t check = *out;
  return cairo_matrix_invert(&check) == CAIRO_STATUS_SUCCESS && std::isfinite(out->xx) && std::isfinite(out->x0) &&
         std::isfinite(out->y0) && std::isfinite(out->yy) && std::isfinite(out->xy) && std::isfinite(out->yx);
}

// Keys for the corners of a piece: the unfolding computes a corner shared by several triangles
// once per triangle, so the copies can differ in their last bits; a grid far finer than
// anything drawn makes them one key.
struct PointKey {
  long long x, y;
  bool operator==(const PointKey&) const = default;
};
// The grid for a piece: a billionth of its reach.
double keyStep(const Piece& piece) {
  double reach = 0;
  for (const Triangle& t : piece.triangles) {
    for (const Point2& q : t.p) reach = std::max({reach, std::abs(q.x), std::abs(q.y)});
  }
  return std::max(reach, 1e-300) * 1e-9;
}
PointKey keyOf(Point2 p, double step) { return {std::llround(p.x / step), std::llround(p.y / step)}; }
struct SideKey {
  PointKey a, b;
  bool operator==(const SideKey&) const = default;
};
SideKey sideKey(Point2 a, Point2 b, double step) {
  PointKey ka = keyOf(a, step), kb = keyOf(b, step);
  if (std::tie(kb.x, kb.y) < std::tie(ka.x, ka.y)) std::swap(ka, kb);
  return {ka, kb};
}
struct KeyHash {
  size_t operator()(const PointKey& k) const {
    return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(k.x) * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(k.y));
  }
  size_t operator()(const SideKey& k) const { return (*this)(k.a) * 31 + (*this)(k.b); }
};

// --- Edge labels: which piece an edge joins ---------------------------------------------------

// The piece's labelled cut edges as chains that follow each other around its outline (the
// triangles run counter-clockwise, so each cut edge leads on to the next). A chain starts where
// no cut edge leads into it; a closed loop starts where the partner piece changes, so that a
// seam is never split at the loop's start.
struct Chain {
  std::vector<int> edges;
  bool closed = false;
};

template <class Partner>
std::vector<Chain> outlineChains(const Piece& piece, Partner partner) {
  std::unordered_map<PointKey, std::vector<int>, KeyHash> from;
  std::unordered_map<PointKey, int, KeyHash> into;
  std::vector<int> cuts;
  const double step = keyStep(piece);
  for (size_t e = 0; e < piece.edges.size(); ++e) {
    if (piece.edges[e].kind != EdgeKind::Cut || piece.edges[e].label <= 0) continue;
    from[keyOf(piece.edges[e].a, step)].push_back(static_cast<int>(e));
    ++into[keyOf(piece.edges[e].b, step)];
    cuts.push_back(static_cast<int>(e));
  }
  std::vector<char> used(piece.edges.size(), 0);
  std::vector<Chain> chains;
  auto follow = [&](int start) {
    Chain chain;
    int e = start;
    while (e >= 0 && !used[e]) {
      used[e] = 1;
      chain.edges.push_back(e);
      int next = -1;
      const auto it = from.find(keyOf(piece.edges[e].b, step));
      if (it != from.end()) {
        for (const int candidate : it->second) {
          if (!used[candidate]) {
            next = candidate;
            break;
          }
        }
      }
      e = next;
    }
    chain.closed = e < 0 && keyOf(piece.edges[chain.edges.back()].b, step) == keyOf(piece.edges[start].a, step);
    if (chain.closed) {
      auto& loop = chain.edges;
      size_t first = 0;
      for (size_t k = 0; k < loop.size(); ++k) {
        if (partner(loop[k]) != partner(loop[(k + loop.size() - 1) % loop.size()])) {
          first = k;
          break;
        }
      }
      std::rotate(loop.begin(), loop.begin() + static_cast<long>(first), loop.end());
    }
    chains.push_back(std::move(chain));
  };
  for (const int start : cuts) {
    if (!used[start] && !into.count(keyOf(piece.edges[start].a, step))) follow(start);
  }
  for (const int start : cuts) {
    if (!used[start]) follow(start);
  }
  return chains;
}

// Seam letters: a to z without i, l and o, which read like 1, 1 and 0; then aa, ab, ...
std::string seamLetter(int n) {
  static const std::string letters = "abcdefghjkmnpqrstuvwxyz";
  const int base = static_cast<int>(letters.size());
  std::string text;
  for (++n; n > 0; n = (n - 1) / base) text.insert(text.begin(), letters[static_cast<size_t>((n - 1) % base)]);
  return text;
}

// A seam's label is printed once for every this many of its edges: enough for a builder to
// read the partner from any edge at a glance, few enough that labels have room on a dense
// outline; the ticks at its ends tell where the seam starts and stops.
constexpr size_t kSeamStretch = 4;

double lengthOf(const Edge& e) { return std::hypot(e.b.x - e.a.x, e.b.y - e.a.y); }

Point2 leftNormal(const Edge& e) {
  const Point2 d = minus(e.b, e.a);
  const double length = std::hypot(d.x, d.y);
  return length > 0 ? Point2{-d.y / length, d.x / length} : Point2{0, 0};
}

}  // namespace

// Where one piece's edges glue to another's: the runs of consecutive cut edges along an outline
// that join the same piece form seams, lettered per pair of pieces in the order the
// lower-numbered piece meets them. A seam is labelled with the partner's printed number and,
// where the pair shares more than one seam, the seam's letter: "28b" on piece 12, "12b" on piece
// 28; a seam within one piece by its letter alone. The two ends of every seam get a tick into
// the piece, at the same corners on both sides, so that its edges are matched one for one.
EdgeLabels seamLabels(const PatternInput& input, const std::vector<int>& numbers) {
  struct Occurrence {
    int piece, edge;
  };
  std::unordered_map<int, std::vector<Occurrence>> owners;
  for (size_t i = 0; i < input.pieces.size(); ++i) {
    const auto& edges = input.pieces[i].edges;
    for (size_t e = 0; e < edges.size(); ++e) {
      if (edges[e].kind == EdgeKind::Cut && edges[e].label > 0) {
        owners[edges[e].label].push_back({static_cast<int>(i), static_cast<int>(e)});
      }
    }
  }
  // The twin of an edge: the other copy of its label; none for a label not carried twice.
  auto twinOf = [&](int i, int e) {
    const auto it = owners.find(input.pieces[i].edges[e].label);
    if (it == owners.end() || it->second.size() != 2) return Occurrence{-1, -1};
    const auto& pair = it->second;
    return pair[0].piece == i && pair[0].edge == e ? pair[1] : pair[0];
  };
  std::vector<int> byNumber(input.pieces.size());
  for (size_t i = 0; i < byNumber.size(); ++i) byNumber[i] = static_cast<int>(i);
  std::sort(byNumber.begin(), byNumber.end(), [&](int a, int b) { return numbers[a] < numbers[b]; });

  struct Seam {
    int pair;          // index into seamsOfPair
    int letter;        // from 0
    Occurrence first;  // its first edge on the piece that lettered it
  };
  std::vector<Seam> seams;
  std::map<std::pair<int, int>, int> pairIndex;
  std::vector<int> seamsOfPair;
  std::vector<std::vector<int>> seamOf(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) seamOf[i].assign(input.pieces[i].edges.size(), -1);
  std::vector<std::vector<char>> labelled(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) labelled[i].assign(input.pieces[i].edges.size(), 0);
  std::vector<std::vector<Chain>> chains(input.pieces.size());
  for (const int i : byNumber) {
    chains[i] = outlineChains(input.pieces[i], [&](int e) { return twinOf(i, e).piece; });
    for (const Chain& chain : chains[i]) {
      for (size_t k = 0; k < chain.edges.size();) {
        const int partner = twinOf(i, chain.edges[k]).piece;
        size_t end = k + 1;
        while (end < chain.edges.size() && twinOf(i, chain.edges[end]).piece == partner) ++end;
        int seam = -1;
        std::vector<int> run;
        for (size_t m = k; m < end && partner >= 0; ++m) {
          const int e = chain.edges[m];
          if (seamOf[i][e] >= 0) continue;
          if (seam < 0) {
            const auto key = std::minmax(numbers[i], numbers[partner]);
            const auto [it, added] = pairIndex.emplace(key, static_cast<int>(seamsOfPair.size()));
            if (added) seamsOfPair.push_back(0);
            seam = static_cast<int>(seams.size());
            seams.push_back({it->second, seamsOfPair[it->second]++, {i, e}});
          }
          const Occurrence twin = twinOf(i, e);
          seamOf[i][e] = seam;
          seamOf[twin.piece][twin.edge] = seam;
          run.push_back(e);
        }
        // One label for every few edges, on the longest of them and on its twin: both sides
        // of a seam carry their labels on the same edges.
        const size_t groups = (run.size() + kSeamStretch - 1) / kSeamStretch;
        for (size_t g = 0; g < groups; ++g) {
          const size_t from = g * run.size() / groups, to = (g + 1) * run.size() / groups;
          int longest = run[from];
          for (size_t m = from; m < to; ++m) {
            if (lengthOf(input.pieces[i].edges[run[m]]) > lengthOf(input.pieces[i].edges[longest])) longest = run[m];
          }
          const Occurrence twin = twinOf(i, longest);
          labelled[i][longest] = 1;
          labelled[twin.piece][twin.edge] = 1;
        }
        k = end;
      }
    }
  }

  EdgeLabels out;
  out.texts.resize(input.pieces.size());
  out.ticks.resize(input.pieces.size());
  for (size_t i = 0; i < input.pieces.size(); ++i) {
    const auto& edges = input.pieces[i].edges;
    out.texts[i].resize(edges.size());
    for (size_t e = 0; e < edges.size(); ++e) {
      const int s = seamOf[i][e];
      if (s < 0 || !labelled[i][e]) continue;
      const Occurrence twin = twinOf(static_cast<int>(i), static_cast<int>(e));
      // A seam within one piece is named by its letter alone: no number means this piece.
      if (twin.piece == static_cast<int>(i)) {
        out.texts[i][e] = seamLetter(seams[s].letter);
        continue;
      }
      out.texts[i][e] = std::to_string(numbers[twin.piece]);
      if (seamsOfPair[seams[s].pair] > 1) out.texts[i][e] += seamLetter(seams[s].letter);
    }
    auto edgeLength = [&](int e) { return lengthOf(edges[e]); };
    auto tick = [&](Point2 at, Point2 inward, double reach) {
      const double length = std::hypot(inward.x, inward.y);
      if (length > 1e-9) out.ticks[i].push_back({at, {inward.x / length, inward.y / length}, reach});
    };
    auto bisector = [&](int before, int after) {
      const Point2 a = leftNormal(edges[before]), b = leftNormal(edges[after]);
      const Point2 sum{a.x + b.x, a.y + b.y};
      return std::hypot(sum.x, sum.y) > 1e-6 ? sum : b;
    };
    for (const Chain& chain : chains[i]) {
      const auto& c = chain.edges;
      const size_t n = c.size();
      bool uniform = true;
      for (size_t k = 0; k < n; ++k) {
        const bool hasBefore = k > 0 || chain.closed;
        const int before = hasBefore ? c[(k + n - 1) % n] : -1;
        if (hasBefore && seamOf[i][before] == seamOf[i][c[k]]) continue;
        uniform = false;
        if (seamOf[i][c[k]] < 0 && (!hasBefore || seamOf[i][before] < 0)) continue;
        tick(edges[c[k]].a, hasBefore ? bisector(before, c[k]) : leftNormal(edges[c[k]]),
             hasBefore ? std::min(edgeLength(before), edgeLength(c[k])) : edgeLength(c[k]));
      }
      if (!chain.closed && seamOf[i][c.back()] >= 0) {
        tick(edges[c.back()].b, leftNormal(edges[c.back()]), edgeLength(c.back()));
      }
      // A loop that is one seam all round: its ends meet at the corner where the lettering
      // piece's first edge starts, which is where its twin ends.
      if (!chain.closed || !uniform || seamOf[i][c[0]] < 0) continue;
      const Seam& seam = seams[seamOf[i][c[0]]];
      const Occurrence twin = twinOf(seam.first.piece, seam.first.edge);
      for (size_t k = 0; k < n; ++k) {
        if (seam.first.piece == static_cast<int>(i) && seam.first.edge == c[k]) {
          const int before = c[(k + n - 1) % n];
          tick(edges[c[k]].a, bisector(before, c[k]), std::min(edgeLength(before), edgeLength(c[k])));
        }
        if (twin.piece == static_cast<int>(i) && twin.edge == c[k]) {
          const int after = c[(k + 1) % n];
          tick(edges[c[k]].b, bisector(c[k], after), std::min(edgeLength(c[k]), edgeLength(after)));
        }
      }
    }
  }
  return out;
}

namespace {

// --- One sheet ---------------------------------------------------------------------------------

struct Placed {
  const Piece* piece;
  int index;  // in the input
  ToPage map;
};

class SheetPainter {
 public:
  SheetPainter(const PatternInput& input, const PatternOptions& options, const Packing& packing,
               const Textures& textures, const EdgeLabels& labels, int* shrunk)
      : input_(input), options_(options), packing_(packing), textures_(textures), texts_(labels.texts),
        ticks_(labels.ticks), shrunk_(shrunk), tabFill_(tabFillFor(input.materials, options.fill)),
        font_(Font::get()) {}

  Page paint(int sheet, const std::string& title) {
    std::vector<Placed> pieces;
    for (const Position& p : packing_.positions) {
      if (p.sheet == sheet) pieces.push_back({&input_.pieces[p.piece], p.piece, toPage(p, options_.scale, options_.pageHeight)});
    }
    // Fills first, lines over them, text on top, so that nothing hides a line or a number.
    // Tabs are shaded in line art too: the grey is what tells a tab from a piece.
    std::vector<FillMark> colours(input_.materials.size());
    FillMark tabs{{}, tabFill_};
    FillMark veil{{}, kWhite, kTextureVeil};
    for (const Placed& p : pieces) fill(p, &colours, &tabs, &veil);
    for (size_t m = 0; m < colours.size(); ++m) {
      colours[m].colour = printColour(input_.materials[m]);
      if (!colours[m].path.empty()) page_.marks.push_back(std::move(colours[m]));
    }
    if (!veil.path.empty()) page_.marks.push_back(std::move(veil));
    if (!tabs.path.empty()) page_.marks.push_back(std::move(tabs));
    lines(pieces);
    seamEnds(pieces);
    for (const Placed& p : pieces) numbers(p);
    if (!leaders_.path.empty()) page_.marks.push_back(std::move(leaders_));
    for (TextMark& t : texts_out_) page_.marks.push_back(std::move(t));
    titleLine(title);
    if (sheet == packing_.legendSheet) legend();
    return std::move(page_);
  }

 private:
  std::array<Point2, 3> corners(const Placed& p, const Triangle& t) const { return {p.map(t.p[0]), p.map(t.p[1]), p.map(t.p[2])}; }

  void fill(const Placed& p, std::vector<FillMark>* colours, FillMark* tabs, FillMark* veil) {
    const int materials = static_cast<int>(input_.materials.size());
    for (const Triangle& t : p.piece->triangles) {
      if (!options_.fill || t.material < 0 || t.material >= materials) continue;
      const std::array<Point2, 3> c = corners(p, t);
      cairo_surface_t* image = textures_[t.material];
      cairo_matrix_t m;
      if (image && t.hasUV &&
          textureMatrix(c, t.uv, cairo_image_surface_get_width(image), cairo_image_surface_get_height(image), &m)) {
        bool inside = true;
        for (const Point2& uv : t.uv) inside = inside && uv.x >= 0 && uv.x <= 1 && uv.y >= 0 && uv.y <= 1;
        const std::array<Point2, 3> clip = bled(c);
        page_.marks.push_back(ImageMark{t.material, {clip.begin(), clip.end()}, m, !inside});
        addPolygon(&veil->path, {c[0], c[1], c[2]});
        continue;
      }
      addPolygon(&(*colours)[t.material].path, {c[0], c[1], c[2]});
    }
    for (const Tab& tab : p.piece->tabs) {
      addPolygon(&tabs->path, {p.map(tab.corners[0]), p.map(tab.corners[1]), p.map(tab.corners[2]), p.map(tab.corners[3])});
    }
  }

  static void addPolygon(Path* path, std::initializer_list<Point2> points) {
    path->begin();
    for (const Point2& q : points) path->add(q);
  }

  void lines(const std::vector<Placed>& pieces) {
    StrokeMark halo{{}, {kCutPen.width + kHaloWidth, kWhite, {}}};
    StrokeMark mountain{{}, kMountainPen}, valley{{}, kValleyPen}, cut{{}, kCutPen}, base{{}, kTabBasePen};
    for (const Placed& p : pieces) {
      std::unordered_map<SideKey, int, KeyHash> tabbed;
      const double step = keyStep(*p.piece);
      for (const Tab& tab : p.piece->tabs) {
        const auto& c = tab.corners;
        addLine(&cut.path, {p.map(c[1]), p.map(c[2]), p.map(c[3]), p.map(c[0])});
        addLine(&base.path, {p.map(c[0]), p.map(c[1])});
        tabbed.emplace(sideKey(c[0], c[1], step), 0);
      }
      for (const Edge& e : p.piece->edges) {
        if (e.kind == EdgeKind::Cut) {
          if (!tabbed.count(sideKey(e.a, e.b, step))) addLine(&cut.path, {p.map(e.a), p.map(e.b)});
          continue;
        }
        if (e.foldDegrees < options_.flatFoldDegrees) continue;
        addLine(&(e.kind == EdgeKind::Mountain ? mountain : valley).path, {p.map(e.a), p.map(e.b)});
        addLine(&halo.path, {p.map(e.a), p.map(e.b)});
      }
    }
    if (options_.fill && !halo.path.empty()) page_.marks.push_back(std::move(halo));
    for (StrokeMark* s : {&mountain, &valley, &base, &cut}) {
      if (!s->path.empty()) page_.marks.push_back(std::move(*s));
    }
  }

  // A short stroke into the piece at every seam end, kept clear of the labels that come after.
  void seamEnds(const std::vector<Placed>& pieces) {
    StrokeMark ticks{{}, kTickPen};
    for (const Placed& p : pieces) {
      for (const Tick& t : ticks_[p.index]) {
        const Point2 a = p.map(t.at), ahead = p.map(along(t.at, t.inward, 1));
        const Point2 d = minus(ahead, a);
        const double unit = std::hypot(d.x, d.y);
        const double length = std::min(kTickLength, 0.4 * t.reach * options_.scale);
        if (!(unit > 0) || !(length > 0)) continue;
        const Point2 u{d.x / unit, d.y / unit}, side{-u.y * kTickPen.width, u.x * kTickPen.width};
        const Point2 b = along(a, u, length);
        addLine(&ticks.path, {a, b});
        occupied_.add(Box{{Point2{a.x - side.x, a.y - side.y}, Point2{b.x - side.x, b.y - side.y},
                           Point2{b.x + side.x, b.y + side.y}, Point2{a.x + side.x, a.y + side.y}}});
      }
    }
    if (!ticks.path.empty()) page_.marks.push_back(std::move(ticks));
  }

  static void addLine(Path* path, std::initializer_list<Point2> points) {
    path->begin();
    for (const Point2& q : points) path->add(q);
  }

  // --- Text on a piece ---

  struct Shape {
    std::vector<std::array<Point2, 3>> triangles;  // page
    std::vector<std::vector<Point2>> tabs;         // page
    std::unordered_map<SideKey, int, KeyHash> sideTriangle, sideTab;
    std::unordered_map<PointKey, std::vector<int>, KeyHash> cornerTriangles;
    double step = 1;
  };

  Shape shapeOf(const Placed& p) const {
    Shape s;
    s.step = keyStep(*p.piece);
    const auto& triangles = p.piece->triangles;
    s.triangles.reserve(triangles.size());
    for (size_t i = 0; i < triangles.size(); ++i) {
      const Triangle& t = triangles[i];
      s.triangles.push_back(corners(p, t));
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

  // A label's or number's text on the page, with the underline 6 and 9 need.
  TextMark& addText(TextMark mark, bool backdrop) {
    mark.colour = kLabelColour;
    mark.underline = readsOtherWayUp(mark.text);
    mark.backdrop = backdrop;
    texts_out_.push_back(std::move(mark));
    return texts_out_.back();
  }

  bool textured(const Placed& p, int triangle) const {
    const Triangle& t = p.piece->triangles[triangle];
    return options_.fill && t.hasUV && t.material >= 0 && textures_[t.material];
  }

  // The piece's number, upright in the middle of a triangle, as large as the triangle's
  // incircle allows between the label size and kNumberHeight: in the roomiest triangle where it
  // meets no label, or, where every triangle is taken, over the roomiest one.
  void pieceNumber(const Placed& p, const Shape& s) {
    std::vector<std::pair<double, int>> roomiest;
    for (size_t i = 0; i < s.triangles.size(); ++i) roomiest.push_back({-incircle(s.triangles[i]).radius, static_cast<int>(i)});
    std::stable_sort(roomiest.begin(), roomiest.end());
    if (roomiest.empty()) return;
    const std::string text = std::to_string(packing_.numbers[p.index]);
    const SetText set = font_.set(text);
    const double inkHeight = font_.digitHeight() + (readsOtherWayUp(text) ? kUnderlineDepth : 0);
    const double halfDiagonal = std::hypot(set.width, inkHeight) / 2;
    const double largest = kNumberHeight / font_.digitHeight(), smallest = options_.labelSize / font_.digitHeight();
    auto boxAt = [&](Point2 centre, double size, double pad) {
      const double w = set.width * size / 2 + pad, h = inkHeight * size / 2 + pad;
      return Box{{Point2{centre.x - w, centre.y - h}, Point2{centre.x + w, centre.y - h}, Point2{centre.x + w, centre.y + h},
                  Point2{centre.x - w, centre.y + h}}};
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
    auto inside = [&](const Box& box, const std::array<Point2, 3>& tri) {
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
        const Circle c = incircle(tri);
        if (c.radius < halfDiagonal * floor) break;
        std::vector<Point2> centres{c.centre};
        for (const double share : {0.25, 0.45}) {
          for (const Point2& corner : tri) centres.push_back(along(c.centre, minus(corner, c.centre), share));
        }
        for (double size = std::min((c.radius - kLabelPad) / std::max(halfDiagonal, 1e-9), largest); size >= floor - 1e-9;
             size *= 0.85) {
          for (const Point2& centre : centres) {
            const Box box = boxAt(centre, size, kLabelPad);
            if (inside(boxAt(centre, size, 0), tri) && occupied_.free(box)) {
              place(centre, size, t);
              return;
            }
          }
        }
      }
    }
    const Circle c = incircle(s.triangles[roomiest.front().second]);
    place(c.centre, std::clamp((c.radius - kLabelPad) / std::max(halfDiagonal, 1e-9), smallest, largest),
          roomiest.front().second);
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
      const Box box = boxOf(frame, slot, kLabelPad);
      if (!occupied_.free(box)) continue;
      Point2 end{};
      if (leaderFrom) {
        // From the edge's middle to the middle of the box's side that faces it.
        const Box inner = boxOf(frame, slot, 0);
        end = middle(inner.c[0], inner.c[1]);
        const Point2 toward{leaderFrom->x - end.x, leaderFrom->y - end.y};
        const Point2 far = middle(inner.c[2], inner.c[3]);
        if (std::hypot(leaderFrom->x - far.x, leaderFrom->y - far.y) < std::hypot(toward.x, toward.y)) end = far;
        const Point2 d{end.x - leaderFrom->x, end.y - leaderFrom->y};
        const double length = std::hypot(d.x, d.y);
        const Point2 start = length > 0 ? along(*leaderFrom, d, std::min(0.2, length / 2) / length) : *leaderFrom;
        if (occupied_.crosses(start, end)) continue;
        leaders_.path.begin();
        leaders_.path.add(*leaderFrom);
        leaders_.path.add(end);
      }
      occupied_.add(box);
      addText(textIn(frame, slot, text, set, size, under), backdrop);
      return true;
    }
    return false;
  }

  // Each edge's label on its glue tab, where it has one (a tab is deeper than the small
  // triangles along a dense outline); else beside the edge in its own triangle; else on a
  // roomier triangle nearby with a leader line. Labels that fit none of these try them all again a
  // size smaller (counted for a warning), and the last ones are squeezed in at the smallest.
  void numbers(const Placed& p) {
    const Shape s = shapeOf(p);
    const auto& texts = texts_[p.index];
    // The texts of the labels placed on this piece: one per seam and piece it joins.
    std::set<std::string> labelled;
    std::vector<int> waiting;
    for (size_t e = 0; e < p.piece->edges.size(); ++e) {
      if (!texts[e].empty()) waiting.push_back(static_cast<int>(e));
    }
    bool numbered = false;
    const double full = options_.labelSize / font_.digitHeight();
    for (double size = full; !waiting.empty() && size * font_.digitHeight() >= kSmallestLabel - 1e-9; size *= 0.85) {
      // The piece's number comes after the labels that fit at full size, before the others.
      if (size < full && !numbered) {
        pieceNumber(p, s);
        numbered = true;
      }
      // Smaller sizes try the edge's own triangle and tab only: a leader to a neighbour is
      // worth it for a label of full size, and the search over neighbours costs the most.
      for (int stage = 0; stage < (size < full ? 2 : 3); ++stage) {
        std::vector<int> still;
        for (const int e : waiting) {
          if (!placeLabel(p, s, p.piece->edges[e], texts[e], size, stage)) {
            still.push_back(e);
            continue;
          }
          labelled.insert(texts[e]);
          if (size < full) ++*shrunk_;
        }
        waiting.swap(still);
      }
    }
    if (!numbered) pieceNumber(p, s);
    // What fits nowhere near its edge goes, at the smallest size, onto any triangle of the piece
    // within reach of a leader line; else, where its seam carries a label elsewhere on this
    // piece, it is left out (that label and the seam's end strokes say where the edge goes).
    // Only a seam without any label is squeezed in over what is there.
    std::vector<int> everyTriangle(s.triangles.size());
    for (size_t t = 0; t < everyTriangle.size(); ++t) everyTriangle[t] = static_cast<int>(t);
    const double least = kSmallestLabel / font_.digitHeight();
    for (const int e : waiting) {
      const Edge& edge = p.piece->edges[e];
      if (nearest(p, s, everyTriangle, middle(p.map(edge.a), p.map(edge.b)), texts[e], least, kFarthestLeader)) {
        labelled.insert(texts[e]);
        ++*shrunk_;
        continue;
      }
      if (labelled.count(texts[e])) continue;
      labelled.insert(texts[e]);
      const auto t = s.sideTriangle.find(sideKey(edge.a, edge.b, s.step));
      const std::vector<Point2> own = t != s.sideTriangle.end()
                                          ? std::vector<Point2>{s.triangles[t->second][0], s.triangles[t->second][1], s.triangles[t->second][2]}
                                          : std::vector<Point2>{p.map(edge.a), p.map(edge.b)};
      squeeze(own, p.map(edge.a), p.map(edge.b), texts[e], font_.set(texts[e]), t != s.sideTriangle.end() && textured(p, t->second));
      ++*shrunk_;
    }
  }

  bool placeLabel(const Placed& p, const Shape& s, const Edge& edge, const std::string& text, double size, int stage) {
    if (stage == 1) {
      const auto t = s.sideTriangle.find(sideKey(edge.a, edge.b, s.step));
      if (t == s.sideTriangle.end()) return false;
      const auto& tri = s.triangles[t->second];
      return tryPlace({tri[0], tri[1], tri[2]}, p.map(edge.a), p.map(edge.b), text, font_.set(text), size,
                      textured(p, t->second), nullptr);
    }
    if (stage == 0) {
      const auto tab = s.sideTab.find(sideKey(edge.a, edge.b, s.step));
      return tab != s.sideTab.end() &&
             tryPlace(s.tabs[tab->second], p.map(edge.a), p.map(edge.b), text, font_.set(text), size, false, nullptr);
    }
    return nearby(p, s, edge, middle(p.map(edge.a), p.map(edge.b)), text, size);
  }

  bool nearby(const Placed& p, const Shape& s, const Edge& edge, Point2 from, const std::string& text, double size) {
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

  /// The label on the first of the candidate triangles, nearest first and no farther from
  /// `from` than `farthest`, with room for it, and a leader line to `from`.
  bool nearest(const Placed& p, const Shape& s, const std::vector<int>& candidates, Point2 from, const std::string& text,
               double size, double farthest) {
    std::vector<std::pair<double, int>> byDistance;
    for (const int t : candidates) {
      const Circle c = incircle(s.triangles[t]);
      const double distance = std::hypot(c.centre.x - from.x, c.centre.y - from.y) - c.radius;
      if (distance <= farthest) byDistance.push_back({distance, t});
    }
    std::sort(byDistance.begin(), byDistance.end());
    const SetText set = font_.set(text);
    for (const auto& [distance, t] : byDistance) {
      const auto& tri = s.triangles[t];
      for (int k = 0; k < 3; ++k) {
        if (tryPlace({tri[0], tri[1], tri[2]}, tri[k], tri[(k + 1) % 3], text, set, size, textured(p, t), &from)) return true;
      }
    }
    return false;
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
        for (const double along : {0.5, 0.25, 0.75}) {
          const Slot slot{frame.length * along - w / 2, t, w, h};
          if (occupied_.free(boxOf(frame, slot, kLabelPad))) return slot;
        }
      }
      return std::nullopt;
    };
    const Slot chosen = clearSlot().value_or(Slot{frame.length / 2 - w / 2, kLabelGap / 2, w, h});
    occupied_.add(boxOf(frame, chosen, kLabelPad));
    addText(textIn(frame, chosen, text, set, size, 0), backdrop);
  }

  void titleLine(const std::string& title) {
    const double size = kTitleHeight / font_.digitHeight();
    const SetText set = font_.set(title);
    const double room = options_.pageWidth - 2 * options_.margin;
    const double fitted = std::min(size, room / std::max(set.width, 1e-9));
    TextMark mark;
    mark.text = title;
    mark.set = set;
    mark.size = fitted;
    mark.origin = {options_.margin, titleBaseline(options_)};
    mark.colour = kLabelColour;
    page_.marks.push_back(std::move(mark));
  }

  void legend() {
    const Point2 topLeft{packing_.legendMin.x, options_.pageHeight - packing_.legendMax.y};
    const double x0 = topLeft.x, x1 = x0 + kLegendSample;
    auto row = [&](int r) { return topLeft.y + kLegendRow * (r + 0.5); };
    const Pen* pens[] = {&kCutPen, &kMountainPen, &kValleyPen};
    for (int r = 0; r < 3; ++r) {
      StrokeMark s{{}, *pens[r]};
      addLine(&s.path, {{x0, row(r)}, {x1, row(r)}});
      page_.marks.push_back(std::move(s));
    }
    const double y = row(3), h = 1.2;
    const Point2 base0{x0, y + h}, base1{x1, y + h}, outer1{x1 - 2, y - h}, outer0{x0 + 2, y - h};
    FillMark tab{{}, tabFill_};
    addPolygon(&tab.path, {base0, base1, outer1, outer0});
    page_.marks.push_back(std::move(tab));
    StrokeMark outline{{}, kCutPen}, fold{{}, kTabBasePen};
    addLine(&outline.path, {base1, outer1, outer0, base0});
    addLine(&fold.path, {base0, base1});
    page_.marks.push_back(std::move(outline));
    page_.marks.push_back(std::move(fold));
    const LegendText text = legendText(options_);
    const double size = kLegendHeight / font_.digitHeight();
    auto show = [&](const std::string& s, double left, double mid) {
      TextMark mark;
      mark.text = s;
      mark.set = font_.set(s);
      mark.size = size;
      mark.origin = {left, mid + size * font_.digitHeight() / 2};
      mark.colour = kLabelColour;
      page_.marks.push_back(std::move(mark));
    };
    for (int r = 0; r < 4; ++r) show(text.items[r], x1 + kLegendSampleGap, row(r));
    for (size_t r = 0; r < text.notes.size(); ++r) show(text.notes[r], x0, row(4 + static_cast<int>(r)));
  }

  const PatternInput& input_;
  const PatternOptions& options_;
  const Packing& packing_;
  const Textures& textures_;
  const std::vector<std::vector<std::string>>& texts_;
  const std::vector<std::vector<Tick>>& ticks_;
  int* shrunk_;
  Rgb tabFill_;
  const Font& font_;
  Page page_;
  Occupancy occupied_;
  StrokeMark leaders_{{}, kLeaderPen};
  std::vector<TextMark> texts_out_;
};

}  // namespace

// --- What packing and drawing share ---------------------------------------------------------

double titleBaseline(const PatternOptions& options) {
  // In the top margin where it has room (printers leave about 5 mm blank), else in a band at
  // the top of the printable area that the packing keeps free.
  const double reserve = titleReserve(options);
  return reserve > 0 ? options.margin + kTitleHeight : options.margin - 2.0;
}

double titleReserve(const PatternOptions& options) { return options.margin >= kTitleHeight + 5.5 ? 0 : kTitleHeight + 2.0; }

LegendText legendText(const PatternOptions& options) {
  LegendText text;
  text.notes.push_back("12b: glue to piece 12 at seam b (same letter there)");
  text.notes.push_back("b alone: to seam b of this piece; a stroke ends a seam");
  std::string scale = "scale: 1 model unit = " + formatNumber(options.scale) + " mm";
  text.notes.push_back(scale);
  // A ratio needs a real size of the unit; a model in metres is the common case.
  const double ratio = 1000.0 / options.scale;
  text.notes.push_back(ratio >= 1 ? "1:" + formatNumber(ratio) + " for a model in metres"
                                  : formatNumber(1 / ratio) + ":1 for a model in metres");
  return text;
}

Size legendSize(const PatternOptions& options) {
  const Font& font = Font::get();
  const LegendText text = legendText(options);
  const double size = kLegendHeight / font.digitHeight();
  double itemWidth = 0, noteWidth = 0;
  for (const std::string& item : text.items) itemWidth = std::max(itemWidth, font.set(item).width * size);
  for (const std::string& note : text.notes) noteWidth = std::max(noteWidth, font.set(note).width * size);
  return {std::max(kLegendSample + kLegendSampleGap + itemWidth, noteWidth),
          (4 + static_cast<double>(text.notes.size())) * kLegendRow};
}

std::array<double, 3> modelSize(const PatternInput& input, double scale) {
  double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (const Piece& piece : input.pieces) {
    for (const Triangle& t : piece.triangles) {
      for (const Point3& p : t.space) {
        const double v[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k) {
          lo[k] = std::min(lo[k], v[k]);
          hi[k] = std::max(hi[k], v[k]);
        }
      }
    }
  }
  std::array<double, 3> size{0, 0, 0};
  for (int k = 0; k < 3; ++k) size[k] = hi[k] >= lo[k] ? (hi[k] - lo[k]) * scale : 0;
  return size;
}

void drawSheets(const PatternInput& input, const PatternOptions& options, const Packing& packing,
                const Textures& textures, Drawing* drawing) {
  const EdgeLabels labels = seamLabels(input, packing.numbers);
  const std::array<double, 3> size = modelSize(input, options.scale);
  // The pieces on each sheet run from its lowest printed number to its highest.
  std::vector<int> first(packing.sheets, 0), last(packing.sheets, 0);
  for (const Position& p : packing.positions) {
    const int n = packing.numbers[p.piece];
    first[p.sheet] = first[p.sheet] == 0 ? n : std::min(first[p.sheet], n);
    last[p.sheet] = std::max(last[p.sheet], n);
  }
  int shrunk = 0;
  for (int sheet = 0; sheet < packing.sheets; ++sheet) {
    std::string title = options.title.empty() ? "" : options.title + "  \u00B7  ";
    title += format("sheet %d of %d  \u00B7  ", sheet + 1, packing.sheets);
    title += first[sheet] == last[sheet] ? format("piece %d", first[sheet]) : format("pieces %d\u2013%d", first[sheet], last[sheet]);
    if (size[0] > 0 || size[1] > 0 || size[2] > 0) {
      title += "  \u00B7  model " + formatNumber(std::round(size[0])) + " \u00D7 " + formatNumber(std::round(size[1])) +
               " \u00D7 " + formatNumber(std::round(size[2])) + " mm";
    }
    SheetPainter painter(input, options, packing, textures, labels, &shrunk);
    drawing->pages.push_back(painter.paint(sheet, title));
  }
  if (shrunk > 0) {
    drawing->warnings.push_back(format(
        "%d edge label%s did not fit at %s mm and %s printed smaller; a larger scale (--height, --scale) or a smaller "
        "--label-size makes room",
        shrunk, shrunk == 1 ? "" : "s", formatNumber(options.labelSize).c_str(), shrunk == 1 ? "is" : "are"));
  }
}

bool readsOtherWayUp(const std::string& text) {
  // Turned half round, 0 1 8 s x z stay themselves and 6 and 9, b and q, d and p, n and u, m
  // and w swap; other characters read as nothing known. A text whose every character survives
  // the turn and that then reads as another label (digits, then seam letters) needs telling
  // apart.
  static const std::string from = "01869bqdpnumwsxz", to = "01896qbpdunwmsxz";
  std::string other(text.rbegin(), text.rend());
  for (char& c : other) {
    const size_t k = from.find(c);
    if (k == std::string::npos) return false;
    c = to[k];
  }
  const size_t digits = other.find_first_not_of("0123456789");
  const bool label = digits == std::string::npos || other.find_first_of("0123456789", digits) == std::string::npos;
  return !other.empty() && other != text && other.front() != '0' && label;
}

}  // namespace pattern::detail
