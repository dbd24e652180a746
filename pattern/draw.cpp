#include "pattern/draw.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "pattern/sheet.h"

namespace pattern::detail {

namespace {

// Sizes in millimetres on paper.
constexpr const char* kFont = "sans-serif";
constexpr double kLabelSize = 2.5;
constexpr double kSmallestLabel = 1.2;
constexpr double kLabelGap = 0.6;
constexpr double kNumberSize = 5.0;
constexpr double kSmallestNumber = 2.0;
constexpr double kLegendText = 2.5;
constexpr double kLegendRow = 4.5;
constexpr double kLegendSample = 10.0;
constexpr double kLegendSampleGap = 2.0;
// Textured triangles reach this far past their corners, so that the anti-aliased borders of
// neighbours overlap instead of leaving a light seam between them.
constexpr double kTextureBleed = 0.08;

using Rgb = std::array<double, 3>;

struct Pen {
  double width;
  Rgb colour;
  std::vector<double> dashes;
};

// Dash patterns as in paper folding: valleys dashed, mountains dash-dotted, so the two stay
// apart on a black-and-white print; the colours only help on a colour one.
const Pen kCutPen{0.3, {0.1, 0.1, 0.1}, {}};
const Pen kMountainPen{0.25, {0.6, 0.12, 0.1}, {3.0, 1.0, 0.6, 1.0}};
const Pen kValleyPen{0.25, {0.1, 0.25, 0.6}, {2.0, 1.2}};
// A tab is folded away from the printed side, under its neighbour: a mountain fold.
const Pen& kTabBasePen = kMountainPen;
constexpr Rgb kTabFill{0.85, 0.85, 0.85};
constexpr Rgb kLabelColour{0.2, 0.2, 0.2};
constexpr Rgb kNumberColour{0, 0, 0};

struct TextStyle {
  double size;
  bool bold;
  Rgb colour;
  // A white rim keeps the text readable on colours and textures.
  bool halo;
};

double dot(Point2 a, Point2 b) { return a.x * b.x + a.y * b.y; }
double cross(Point2 a, Point2 b) { return a.x * b.y - a.y * b.x; }
Point2 minus(Point2 a, Point2 b) { return {a.x - b.x, a.y - b.y}; }
Point2 along(Point2 p, Point2 d, double t) { return {p.x + t * d.x, p.y + t * d.y}; }

Point2 onPage(const cairo_matrix_t& m, Point2 p) {
  cairo_matrix_transform_point(&m, &p.x, &p.y);
  return p;
}

// Piece frame to the page seen top-down. The position turns and shifts the piece within the
// sheet frame, which has y up like the piece frame; the page has y down, so a point at height y
// is drawn at pageHeight - y. Both frames describe the same paper seen from the printed side,
// so the picture is not mirrored: a counter-clockwise triangle prints counter-clockwise.
cairo_matrix_t pieceToPage(const Position& p, double scale, double pageHeight) {
  const double c = scale * std::cos(p.rotation), s = scale * std::sin(p.rotation);
  cairo_matrix_t m;
  cairo_matrix_init(&m, c, -s, -s, -c, p.offset.x, pageHeight - p.offset.y);
  return m;
}

void setPen(cairo_t* cr, const Pen& pen) {
  cairo_set_line_width(cr, pen.width);
  cairo_set_source_rgb(cr, pen.colour[0], pen.colour[1], pen.colour[2]);
  cairo_set_dash(cr, pen.dashes.data(), static_cast<int>(pen.dashes.size()), 0);
  cairo_set_line_cap(cr, pen.dashes.empty() ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
}

void polyline(cairo_t* cr, std::initializer_list<Point2> points) {
  bool first = true;
  for (const Point2& p : points) {
    if (first) cairo_move_to(cr, p.x, p.y);
    else cairo_line_to(cr, p.x, p.y);
    first = false;
  }
}

void stroke(cairo_t* cr, const Pen& pen, std::initializer_list<Point2> points) {
  setPen(cr, pen);
  polyline(cr, points);
  cairo_stroke(cr);
}

void selectFont(cairo_t* cr, double size, bool bold) {
  cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

cairo_text_extents_t measure(cairo_t* cr, const std::string& text, double size, bool bold) {
  cairo_save(cr);
  selectFont(cr, size, bold);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  cairo_restore(cr);
  return extents;
}

// Draws the text turned by `angle` with the middle of its ink at `centre`.
void showCentred(cairo_t* cr, const std::string& text, Point2 centre, double angle, const TextStyle& style) {
  cairo_save(cr);
  selectFont(cr, style.size, style.bold);
  cairo_translate(cr, centre.x, centre.y);
  cairo_rotate(cr, angle);
  cairo_text_extents_t e;
  cairo_text_extents(cr, text.c_str(), &e);
  const double x = -e.x_bearing - e.width / 2, y = -e.y_bearing - e.height / 2;
  if (style.halo) {
    cairo_move_to(cr, x, y);
    cairo_text_path(cr, text.c_str());
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_width(cr, 0.2 * style.size);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
  }
  cairo_move_to(cr, x, y);
  cairo_set_source_rgb(cr, style.colour[0], style.colour[1], style.colour[2]);
  cairo_show_text(cr, text.c_str());
  cairo_restore(cr);
}

// --- Fills -----------------------------------------------------------------------------------

// Halfway to white: light enough that lines and numbers stay readable and the print uses
// little ink, dark enough that the colours still tell the parts of the model apart.
Rgb printColour(const Material& m) {
  Rgb c;
  for (int k = 0; k < 3; ++k) c[k] = 0.5 + 0.5 * std::clamp(m.color[k], 0.0, 1.0);
  return c;
}

struct Circle {
  Point2 centre;
  double radius = 0;
};

// The largest circle inside the triangle; radius zero for a degenerate one.
Circle incircle(const std::array<Point2, 3>& p) {
  std::array<double, 3> side;
  for (int k = 0; k < 3; ++k) side[k] = std::hypot(p[(k + 1) % 3].x - p[(k + 2) % 3].x, p[(k + 1) % 3].y - p[(k + 2) % 3].y);
  const double perimeter = side[0] + side[1] + side[2];
  if (perimeter <= 0) return {p[0], 0};
  Circle c{{0, 0}, std::abs(cross(minus(p[1], p[0]), minus(p[2], p[0]))) / perimeter};
  for (int k = 0; k < 3; ++k) c.centre = along(c.centre, p[k], side[k] / perimeter);
  return c;
}

// The triangle with each corner pushed kTextureBleed away from its incentre.
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

// Paints the image over the triangle through its texture coordinates: the pattern matrix takes
// the page to the triangle's own frame (corner 0 plus multiples of its two sides), then to
// texture coordinates and to image pixels (x = u * width, y = (1 - v) * height). False when the
// triangle or its texture coordinates are degenerate and the image cannot be mapped.
bool paintTexture(cairo_t* cr, const Triangle& t, const cairo_matrix_t& toPage, cairo_surface_t* image) {
  std::array<Point2, 3> p;
  for (int k = 0; k < 3; ++k) p[k] = onPage(toPage, t.p[k]);
  cairo_matrix_t pageToTriangle, triangleToUv, uvToPixels, pageToUv, pattern;
  cairo_matrix_init(&pageToTriangle, p[1].x - p[0].x, p[1].y - p[0].y, p[2].x - p[0].x, p[2].y - p[0].y, p[0].x, p[0].y);
  if (cairo_matrix_invert(&pageToTriangle) != CAIRO_STATUS_SUCCESS) return false;
  const std::array<Point2, 3>& uv = t.uv;
  cairo_matrix_init(&triangleToUv, uv[1].x - uv[0].x, uv[1].y - uv[0].y, uv[2].x - uv[0].x, uv[2].y - uv[0].y,
                    uv[0].x, uv[0].y);
  const double width = cairo_image_surface_get_width(image), height = cairo_image_surface_get_height(image);
  cairo_matrix_init(&uvToPixels, width, 0, 0, -height, 0, height);
  cairo_matrix_multiply(&pageToUv, &pageToTriangle, &triangleToUv);
  cairo_matrix_multiply(&pattern, &pageToUv, &uvToPixels);
  cairo_matrix_t check = pattern;
  if (cairo_matrix_invert(&check) != CAIRO_STATUS_SUCCESS) return false;

  bool inside = true;
  for (const Point2& c : uv) inside = inside && c.x >= 0 && c.x <= 1 && c.y >= 0 && c.y <= 1;
  cairo_pattern_t* source = cairo_pattern_create_for_surface(image);
  cairo_pattern_set_matrix(source, &pattern);
  // Within the image, padding keeps the border pixels from blending with the opposite side.
  cairo_pattern_set_extend(source, inside ? CAIRO_EXTEND_PAD : CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(source, CAIRO_FILTER_GOOD);
  cairo_save(cr);
  const std::array<Point2, 3> clip = bled(p);
  polyline(cr, {clip[0], clip[1], clip[2]});
  cairo_close_path(cr);
  cairo_clip(cr);
  cairo_set_source(cr, source);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_pattern_destroy(source);
  return true;
}

void fillPiece(cairo_t* cr, const SheetSource& src, const Piece& piece, const cairo_matrix_t& toPage) {
  const int materials = static_cast<int>(src.input.materials.size());
  // Triangles of one colour go into one path: filled separately, neighbours would show seams.
  std::vector<std::vector<const Triangle*>> plain(materials);
  for (const Triangle& t : piece.triangles) {
    if (t.material < 0 || t.material >= materials) continue;
    cairo_surface_t* image = src.textures[t.material];
    if (image && t.hasUV && paintTexture(cr, t, toPage, image)) continue;
    plain[t.material].push_back(&t);
  }
  for (int m = 0; m < materials; ++m) {
    if (plain[m].empty()) continue;
    for (const Triangle* t : plain[m]) {
      polyline(cr, {onPage(toPage, t->p[0]), onPage(toPage, t->p[1]), onPage(toPage, t->p[2])});
      cairo_close_path(cr);
    }
    const Rgb c = printColour(src.input.materials[m]);
    cairo_set_source_rgb(cr, c[0], c[1], c[2]);
    cairo_fill(cr);
  }
}

void fillTabs(cairo_t* cr, const Piece& piece, const cairo_matrix_t& toPage) {
  for (const Tab& tab : piece.tabs) {
    const auto& c = tab.corners;
    polyline(cr, {onPage(toPage, c[0]), onPage(toPage, c[1]), onPage(toPage, c[2]), onPage(toPage, c[3])});
    cairo_close_path(cr);
  }
  cairo_set_source_rgb(cr, kTabFill[0], kTabFill[1], kTabFill[2]);
  cairo_fill(cr);
}

// --- Lines -----------------------------------------------------------------------------------

// Distances below this (in model units, relative to the piece's size) count as the same point.
double pointTolerance(const Piece& piece) {
  double extent = 0;
  for (const Triangle& t : piece.triangles) {
    for (const Point2& p : t.p) extent = std::max({extent, std::abs(p.x), std::abs(p.y)});
  }
  return 1e-6 * std::max(extent, 1.0);
}

bool same(Point2 a, Point2 b, double tolerance) { return std::hypot(a.x - b.x, a.y - b.y) <= tolerance; }

bool sameSide(Point2 a, Point2 b, Point2 c, Point2 d, double tolerance) {
  return (same(a, c, tolerance) && same(b, d, tolerance)) || (same(a, d, tolerance) && same(b, c, tolerance));
}

// A cut edge with a tab on it is where the tab folds; it is not cut.
bool carriesTab(const Piece& piece, const Edge& e, double tolerance) {
  return std::any_of(piece.tabs.begin(), piece.tabs.end(), [&](const Tab& tab) {
    return sameSide(e.a, e.b, tab.corners[0], tab.corners[1], tolerance);
  });
}

void drawLines(cairo_t* cr, const SheetSource& src, const Piece& piece, const cairo_matrix_t& toPage) {
  for (const Tab& tab : piece.tabs) {
    const auto& c = tab.corners;
    stroke(cr, kCutPen, {onPage(toPage, c[1]), onPage(toPage, c[2]), onPage(toPage, c[3]), onPage(toPage, c[0])});
    stroke(cr, kTabBasePen, {onPage(toPage, c[0]), onPage(toPage, c[1])});
  }
  for (const EdgeKind kind : {EdgeKind::Mountain, EdgeKind::Valley}) {
    for (const Edge& e : piece.edges) {
      if (e.kind != kind || e.foldDegrees < src.options.flatFoldDegrees) continue;
      stroke(cr, kind == EdgeKind::Mountain ? kMountainPen : kValleyPen, {onPage(toPage, e.a), onPage(toPage, e.b)});
    }
  }
  const double tolerance = pointTolerance(piece);
  for (const Edge& e : piece.edges) {
    if (e.kind == EdgeKind::Cut && !carriesTab(piece, e, tolerance)) {
      stroke(cr, kCutPen, {onPage(toPage, e.a), onPage(toPage, e.b)});
    }
  }
}

// --- Numbers ---------------------------------------------------------------------------------

// Edge numbers along the sides of a triangle with an incircle of this radius: smaller on small
// triangles, so that they keep clear of each other and of a piece number in the middle.
double labelSize(double inradius) { return std::min(kLabelSize, 0.5 * inradius); }

// Where an edge's number goes: towards `inner`, a page point on the piece's side of the edge,
// and at most `size` millimetres tall.
struct LabelSide {
  Point2 inner;
  double size = kLabelSize;
};

// The side of the triangle that has the edge as a side; the middle of the piece's corners when
// no triangle has.
LabelSide labelSide(const Piece& piece, const Edge& e, const cairo_matrix_t& toPage, double tolerance) {
  for (const Triangle& t : piece.triangles) {
    for (int k = 0; k < 3; ++k) {
      if (!sameSide(e.a, e.b, t.p[(k + 1) % 3], t.p[(k + 2) % 3], tolerance)) continue;
      const Circle c = incircle({onPage(toPage, t.p[0]), onPage(toPage, t.p[1]), onPage(toPage, t.p[2])});
      return {onPage(toPage, t.p[k]), labelSize(c.radius)};
    }
  }
  Point2 sum{0, 0};
  for (const Triangle& t : piece.triangles) {
    for (const Point2& p : t.p) sum = along(sum, p, 1.0 / (3.0 * piece.triangles.size()));
  }
  return {onPage(toPage, sum)};
}

// The edge's number inside the piece, beside the middle of the edge, running along it and turned
// so that it never reads upside down (a vertical edge's number reads upwards). On a short edge it
// shrinks to stay next to its own edge.
void drawEdgeLabel(cairo_t* cr, const LabelSide& side, const Edge& e, const cairo_matrix_t& toPage, bool halo) {
  const Point2 a = onPage(toPage, e.a), b = onPage(toPage, e.b);
  const double length = std::hypot(b.x - a.x, b.y - a.y);
  Point2 direction = length > 0 ? Point2{(b.x - a.x) / length, (b.y - a.y) / length} : Point2{1, 0};
  Point2 normal{-direction.y, direction.x};
  if (dot(normal, minus(side.inner, a)) < 0) normal = {-normal.x, -normal.y};
  if (direction.x < -1e-9 || (std::abs(direction.x) <= 1e-9 && direction.y > 0)) {
    direction = {-direction.x, -direction.y};
  }

  const std::string text = std::to_string(e.label);
  double size = side.size;
  const double width = measure(cr, text, size, false).width;
  if (width > 0.7 * length && width > 0) size *= 0.7 * length / width;
  size = std::max(size, kSmallestLabel);
  const double inkHeight = measure(cr, text, size, false).height;
  const Point2 middle{(a.x + b.x) / 2, (a.y + b.y) / 2};
  showCentred(cr, text, along(middle, normal, kLabelGap + inkHeight / 2), std::atan2(direction.y, direction.x),
              {size, false, kLabelColour, halo});
}

// The piece's number, upright at the centre of the largest circle inside one of its triangles,
// and small enough to stay clear of the edge numbers along that triangle's sides.
void drawPieceNumber(cairo_t* cr, const Piece& piece, const cairo_matrix_t& toPage, bool halo) {
  Circle best{{0, 0}, -1};
  for (const Triangle& t : piece.triangles) {
    const Circle c = incircle({onPage(toPage, t.p[0]), onPage(toPage, t.p[1]), onPage(toPage, t.p[2])});
    if (c.radius > best.radius) best = c;
  }
  if (best.radius < 0) return;
  const std::string text = std::to_string(piece.number);
  const cairo_text_extents_t full = measure(cr, text, kNumberSize, true);
  const double room = best.radius - kLabelGap - 0.75 * labelSize(best.radius);
  const double halfDiagonal = std::max(std::hypot(full.width, full.height) / 2, 1e-9);
  const double size = std::clamp(kNumberSize * room / halfDiagonal, kSmallestNumber, kNumberSize);
  showCentred(cr, text, best.centre, 0, {size, true, kNumberColour, halo});
}

void drawNumbers(cairo_t* cr, const SheetSource& src, const Piece& piece, const cairo_matrix_t& toPage) {
  const bool halo = src.options.fill;
  const double tolerance = pointTolerance(piece);
  for (const Edge& e : piece.edges) {
    if (e.kind != EdgeKind::Cut || e.label <= 0) continue;
    drawEdgeLabel(cr, labelSide(piece, e, toPage, tolerance), e, toPage, halo);
  }
  drawPieceNumber(cr, piece, toPage, halo);
}

// --- Legend ----------------------------------------------------------------------------------

struct LegendText {
  std::array<std::string, 4> items{"cut", "mountain fold", "valley fold", "glue tab"};
  std::string scale;
};

LegendText legendText(const PatternOptions& options) {
  return {.scale = "1 unit = " + formatNumber(options.scale) + " mm"};
}

void showLeft(cairo_t* cr, const std::string& text, double left, double middle) {
  cairo_save(cr);
  selectFont(cr, kLegendText, false);
  cairo_font_extents_t f;
  cairo_font_extents(cr, &f);
  cairo_move_to(cr, left, middle + (f.ascent - f.descent) / 2);
  cairo_set_source_rgb(cr, kLabelColour[0], kLabelColour[1], kLabelColour[2]);
  cairo_show_text(cr, text.c_str());
  cairo_restore(cr);
}

void drawLegend(cairo_t* cr, const PatternOptions& options, const Packing& packing) {
  const Point2 topLeft{packing.legendMin.x, options.pageHeight - packing.legendMax.y};
  const LegendText text = legendText(options);
  const double x0 = topLeft.x, x1 = x0 + kLegendSample;
  auto middle = [&](int row) { return topLeft.y + kLegendRow * (row + 0.5); };
  const Pen* pens[] = {&kCutPen, &kMountainPen, &kValleyPen};
  for (int row = 0; row < 3; ++row) stroke(cr, *pens[row], {{x0, middle(row)}, {x1, middle(row)}});

  const double y = middle(3), h = 1.2;
  const Point2 base0{x0, y + h}, base1{x1, y + h}, outer1{x1 - 2, y - h}, outer0{x0 + 2, y - h};
  polyline(cr, {base0, base1, outer1, outer0});
  cairo_close_path(cr);
  cairo_set_source_rgb(cr, kTabFill[0], kTabFill[1], kTabFill[2]);
  cairo_fill(cr);
  stroke(cr, kCutPen, {base1, outer1, outer0, base0});
  stroke(cr, kTabBasePen, {base0, base1});

  for (int row = 0; row < 4; ++row) showLeft(cr, text.items[row], x1 + kLegendSampleGap, middle(row));
  showLeft(cr, text.scale, x0, middle(4));
}

}  // namespace

Size legendSize(const PatternOptions& options) {
  cairo_surface_t* scratch = cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1);
  cairo_t* cr = cairo_create(scratch);
  const LegendText text = legendText(options);
  double itemWidth = 0;
  for (const std::string& item : text.items) itemWidth = std::max(itemWidth, measure(cr, item, kLegendText, false).x_advance);
  const double scaleWidth = measure(cr, text.scale, kLegendText, false).x_advance;
  cairo_destroy(cr);
  cairo_surface_destroy(scratch);
  return {std::max(kLegendSample + kLegendSampleGap + itemWidth, scaleWidth), 5 * kLegendRow};
}

void drawSheet(cairo_t* cr, const SheetSource& src, int sheet) {
  struct OnSheet {
    const Piece* piece;
    cairo_matrix_t toPage;
  };
  std::vector<OnSheet> pieces;
  for (const Position& p : src.packing.positions) {
    if (p.sheet == sheet) {
      pieces.push_back({&src.input.pieces[p.piece], pieceToPage(p, src.options.scale, src.options.pageHeight)});
    }
  }
  // Fills first, lines over them, numbers on top, so that nothing hides a line or a number.
  // Tabs are shaded in line art too: the grey is what tells a tab from a piece.
  for (const OnSheet& s : pieces) {
    if (src.options.fill) fillPiece(cr, src, *s.piece, s.toPage);
    fillTabs(cr, *s.piece, s.toPage);
  }
  for (const OnSheet& s : pieces) drawLines(cr, src, *s.piece, s.toPage);
  for (const OnSheet& s : pieces) drawNumbers(cr, src, *s.piece, s.toPage);
  if (sheet == src.packing.legendSheet) drawLegend(cr, src.options, src.packing);
}

}  // namespace pattern::detail
