// Painting the sheets: fills, lines, glue tabs, the ticks at seam ends, the title line and the
// legend, as page marks that every format writes alike. The edge labels and the piece numbers
// go among them through the placing (placing.h), with the texts the seams give (seams.h).
#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>
#include <vector>

#include "pattern/keys.h"
#include "pattern/placing.h"
#include "pattern/plane.h"
#include "pattern/seams.h"
#include "pattern/sheet.h"
#include "pattern/texture.h"

namespace pattern::detail {

namespace {

// Sizes in millimetres on paper.
constexpr double kTitleHeight = 2.5;
constexpr double kLegendHeight = 1.9;
constexpr double kLegendRow = 4.5;
constexpr double kLegendSample = 10.0;
constexpr double kLegendSampleGap = 2.0;
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
// Seam ends: a stroke as dark as the cut, into the piece.
const Pen kTickPen{0.3, {0.1, 0.1, 0.1}, {}};
constexpr double kTickLength = 1.2;
// A tab is folded away from the printed side, under its neighbour: a mountain fold.
const Pen& kTabBasePen = kMountainPen;
constexpr Rgb kTabFill{0.86, 0.86, 0.86};
constexpr Rgb kWhite{1, 1, 1};

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

// --- One sheet ---------------------------------------------------------------------------------

class SheetPainter {
 public:
  SheetPainter(const PatternInput& input, const PatternOptions& options, const Packing& packing,
               const Textures& textures, const EdgeLabels& labels, LabelCount* count)
      : input_(input), options_(options), packing_(packing), textures_(textures), labels_(labels),
        tabFill_(tabFillFor(input.materials, options.fill)), font_(Font::get()),
        placer_(options, packing, textures, count) {}

  Page paint(int sheet, const std::string& title) {
    std::vector<PlacedPiece> pieces;
    for (const Position& p : packing_.positions) {
      if (p.sheet == sheet) pieces.push_back({&input_.pieces[p.piece], p.piece, toPage(p, options_.scale, options_.pageHeight)});
    }
    // Fills first, lines over them, text on top, so that nothing hides a line or a number.
    // Tabs are shaded in line art too: the grey is what tells a tab from a piece.
    std::vector<FillMark> colours(input_.materials.size());
    FillMark tabs{{}, tabFill_};
    FillMark veil{{}, kWhite, kTextureVeil};
    for (const PlacedPiece& p : pieces) fill(p, &colours, &tabs, &veil);
    for (size_t m = 0; m < colours.size(); ++m) {
      colours[m].colour = printColour(input_.materials[m]);
      if (!colours[m].path.empty()) page_.marks.push_back(std::move(colours[m]));
    }
    if (!veil.path.empty()) page_.marks.push_back(std::move(veil));
    if (!tabs.path.empty()) page_.marks.push_back(std::move(tabs));
    lines(pieces);
    seamEnds(pieces);
    // Pages drawn without their texts place no label: the search for each label's room is
    // most of the drawing's work on a large model.
    if (options_.texts) {
      for (const PlacedPiece& p : pieces) placer_.cover(p);
      if (sheet == packing_.legendSheet) {
        placer_.cover({packing_.legendMin.x, options_.pageHeight - packing_.legendMax.y},
                      {packing_.legendMax.x, options_.pageHeight - packing_.legendMin.y});
      }
      for (const PlacedPiece& p : pieces) placer_.placePiece(p, labels_.texts[p.index], labels_.notes[p.index]);
      placer_.addTo(&page_);
    }
    titleLine(title);
    if (sheet == packing_.legendSheet) legend();
    return std::move(page_);
  }

 private:
  std::array<Point2, 3> corners(const PlacedPiece& p, const Triangle& t) const {
    return {p.map(t.p[0]), p.map(t.p[1]), p.map(t.p[2])};
  }

  void fill(const PlacedPiece& p, std::vector<FillMark>* colours, FillMark* tabs, FillMark* veil) {
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

  void lines(const std::vector<PlacedPiece>& pieces) {
    StrokeMark halo{{}, {kCutPen.width + kHaloWidth, kWhite, {}}};
    StrokeMark mountain{{}, kMountainPen}, valley{{}, kValleyPen}, cut{{}, kCutPen}, base{{}, kTabBasePen};
    for (const PlacedPiece& p : pieces) {
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
  void seamEnds(const std::vector<PlacedPiece>& pieces) {
    StrokeMark ticks{{}, kTickPen};
    for (const PlacedPiece& p : pieces) {
      for (const Tick& t : labels_.ticks[p.index]) {
        const Point2 a = p.map(t.at), ahead = p.map(along(t.at, t.inward, 1));
        const Point2 d = minus(ahead, a);
        const double unit = std::hypot(d.x, d.y);
        const double length = std::min(kTickLength, 0.4 * t.reach * options_.scale);
        if (!(unit > 0) || !(length > 0)) continue;
        const Point2 u{d.x / unit, d.y / unit}, side{-u.y * kTickPen.width, u.x * kTickPen.width};
        const Point2 b = along(a, u, length);
        addLine(&ticks.path, {a, b});
        placer_.keepClear(TextBox{{Point2{a.x - side.x, a.y - side.y}, Point2{b.x - side.x, b.y - side.y},
                                   Point2{b.x + side.x, b.y + side.y}, Point2{a.x + side.x, a.y + side.y}}});
      }
    }
    if (!ticks.path.empty()) page_.marks.push_back(std::move(ticks));
  }

  static void addLine(Path* path, std::initializer_list<Point2> points) {
    path->begin();
    for (const Point2& q : points) path->add(q);
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
  const EdgeLabels& labels_;
  Rgb tabFill_;
  const Font& font_;
  LabelPlacer placer_;
  Page page_;
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
  text.notes = labelNotes();
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

namespace {

// The title line of a sheet: the model's name, the sheet, its pieces and the model's size.
std::string sheetTitle(const PatternOptions& options, int sheet, int sheets, int first, int last, NumberRange edges,
                       const std::array<double, 3>& size) {
  std::string title = options.title.empty() ? "" : options.title + "  \u00B7  ";
  title += format("sheet %d of %d  \u00B7  ", sheet + 1, sheets);
  title += first == last ? format("piece %d", first) : format("pieces %d\u2013%d", first, last);
  if (edges.first > 0) {
    title += edges.first == edges.last ? format(", edge %d", edges.first)
                                       : format(", edges %d\u2013%d", edges.first, edges.last);
  }
  if (size[0] > 0 || size[1] > 0 || size[2] > 0) {
    title += "  \u00B7  model " + formatNumber(std::round(size[0])) + " \u00D7 " + formatNumber(std::round(size[1])) +
             " \u00D7 " + formatNumber(std::round(size[2])) + " mm";
  }
  return title;
}

}  // namespace

void drawSheets(const PatternInput& input, const PatternOptions& options, const Packing& packing,
                const Textures& textures, Drawing* drawing) {
  std::vector<int> sheetOf(input.pieces.size(), 0);
  for (const Position& p : packing.positions) sheetOf[p.piece] = p.sheet;
  const EdgeLabels labels = seamLabels(input, packing.numbers, sheetOf);
  const std::array<double, 3> size = modelSize(input, options.scale);
  // The pieces on each sheet run from its lowest printed number to its highest.
  // And the edges they start from the lowest first to the highest last.
  std::vector<int> first(packing.sheets, 0), last(packing.sheets, 0);
  std::vector<NumberRange> edges(packing.sheets);
  for (const Position& p : packing.positions) {
    const int n = packing.numbers[p.piece];
    first[p.sheet] = first[p.sheet] == 0 ? n : std::min(first[p.sheet], n);
    last[p.sheet] = std::max(last[p.sheet], n);
    const NumberRange r = labels.ranges[p.piece];
    if (r.first <= 0) continue;
    NumberRange& e = edges[p.sheet];
    e.first = e.first == 0 ? r.first : std::min(e.first, r.first);
    e.last = std::max(e.last, r.last);
  }
  LabelCount count;
  for (int sheet = 0; sheet < packing.sheets; ++sheet) {
    if (options.progress) options.progress("Drawing the sheets", 100 * sheet / packing.sheets);
    SheetPainter painter(input, options, packing, textures, labels, &count);
    drawing->pages.push_back(painter.paint(sheet, sheetTitle(options, sheet, packing.sheets, first[sheet], last[sheet], edges[sheet], size)));
  }
  if (std::string warning = shrunkWarning(count, options); !warning.empty()) drawing->warnings.push_back(std::move(warning));
}

}  // namespace pattern::detail
