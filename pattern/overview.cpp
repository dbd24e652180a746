// The overview page: the model seen from four directions, flat-shaded, each piece in a colour of its
// own with its printed number where it shows, so that a builder sees where every piece goes.
//
// The views are pictures: the triangles painted far to near into an image (its size depends on
// the page, not on the mesh), and a second image of piece indices, painted the same way without
// smoothing, tells where each piece shows and so where its number goes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "pattern/labels.h"
#include "pattern/sheet.h"

namespace pattern::detail {

namespace {

// Pixels per millimetre of the shaded pictures (about 125 dpi) and of the piece-index pictures.
constexpr double kPicture = 5.0;
constexpr double kIndexPicture = 2.0;
constexpr double kCaptionHeight = 2.2;
constexpr double kNumberHeight = 2.4;
constexpr double kTitleSize = 2.5;
// A piece shows its number in a view where it covers at least this many square millimetres.
constexpr double kLeastVisible = 4.0;
// Millimetres under the views for the list of pieces that none of them shows.
constexpr double kHiddenBand = 11.0;

struct Vec {
  double x, y, z;
};
Vec sub(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

struct View {
  const char* name;
  Vec toward;  // from the model towards the viewer
  Vec right, up;  // screen directions in model space
};

Vec unit(Vec v) {
  const double length = std::sqrt(dot(v, v));
  return {v.x / length, v.y / length, v.z / length};
}

View looking(const char* name, Vec toward) {
  View v{name, unit(toward), {}, {}};
  v.right = unit(cross({0, 1, 0}, v.toward));
  v.up = cross(v.toward, v.right);
  return v;
}

// Front looks along -z with y up, the usual frame of modelling programs and mesh files. The two
// slanting views come from opposite corners, so that every face of the model shows in one of
// them, the underside too.
const View kViews[] = {looking("front", {0, 0, 1}), looking("right side", {1, 0, 0}),
                       looking("from above, front right", {1, 1, 1}), looking("from below, back left", {-1, -1, -1})};

struct Face {
  std::array<Vec, 3> p;
  int piece;
};

// A light colour per printed number: hues a golden angle apart, so that neighbours in the
// numbering differ.
Rgb pieceColour(int number) {
  const double h = std::fmod(number * 0.618033988749895, 1.0) * 6;
  const double s = 0.55, l = 0.68;
  const double c = (1 - std::abs(2 * l - 1)) * s, x = c * (1 - std::abs(std::fmod(h, 2.0) - 1)), m = l - c / 2;
  Rgb rgb{0, 0, 0};
  const int sector = static_cast<int>(h) % 6;
  const double table[6][3] = {{c, x, 0}, {x, c, 0}, {0, c, x}, {0, x, c}, {x, 0, c}, {c, 0, x}};
  for (int k = 0; k < 3; ++k) rgb[k] = table[sector][k] + m;
  return rgb;
}

struct Cell {
  double left, top, width, height;  // the view's cell on the page, millimetres
};

class OverviewPainter {
 public:
  OverviewPainter(const PatternInput& input, const PatternOptions& options, const Packing& packing, Drawing* drawing)
      : options_(options), packing_(packing), drawing_(*drawing), font_(Font::get()) {
    for (size_t i = 0; i < input.pieces.size(); ++i) {
      for (const Triangle& t : input.pieces[i].triangles) {
        Face f{{}, static_cast<int>(i)};
        for (int k = 0; k < 3; ++k) f.p[k] = {t.space[k].x, t.space[k].y, t.space[k].z};
        faces_.push_back(f);
      }
    }
  }

  bool paint() {
    if (faces_.empty()) return false;
    Vec lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
    for (const Face& f : faces_) {
      for (const Vec& p : f.p) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
      }
    }
    const Vec extent = sub(hi, lo);
    if (!(std::max({extent.x, extent.y, extent.z}) > 0)) return false;
    centre_ = {(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};

    // Two by two cells under the title; one scale for all views, so that sizes compare.
    const double top = options_.margin + 8, gapX = 6, gapY = 4 + kCaptionHeight * 2;
    const double cellW = (options_.pageWidth - 2 * options_.margin - gapX) / 2;
    // A band under the views for the pieces that none of them shows.
    const double cellH = (options_.pageHeight - options_.margin - top - 2 * gapY - kHiddenBand) / 2;
    if (!(cellW > 10 && cellH > 10)) {
      drawing_.warnings.push_back("the page is too small for the overview; it is left out");
      return false;
    }
    double scale = INFINITY;
    for (const View& v : kViews) {
      // The projected box of the model's bounding box, twice the reach from its centre.
      const double w = std::abs(v.right.x) * extent.x + std::abs(v.right.y) * extent.y + std::abs(v.right.z) * extent.z;
      const double h = std::abs(v.up.x) * extent.x + std::abs(v.up.y) * extent.y + std::abs(v.up.z) * extent.z;
      scale = std::min({scale, w > 0 ? cellW / w : INFINITY, h > 0 ? cellH / h : INFINITY});
    }

    Page page;
    title(&page);
    shown_.assign(packing_.positions.size(), 0);
    for (int i = 0; i < 4; ++i) {
      const Cell cell{options_.margin + (i % 2) * (cellW + gapX), top + (i / 2) * (cellH + gapY), cellW, cellH};
      view(kViews[i], cell, scale, &page);
    }
    hiddenList(top + 2 * (cellH + gapY), &page);
    drawing_.pages.insert(drawing_.pages.begin(), std::move(page));
    drawing_.overview = 0;
    return true;
  }

 private:
  void title(Page* page) const {
    std::string text = options_.title.empty() ? "" : options_.title + "  \u00B7  ";
    text += "overview: " + std::to_string(packing_.positions.size()) + " pieces on " + std::to_string(packing_.sheets) +
            (packing_.sheets == 1 ? " sheet" : " sheets");
    TextMark mark;
    mark.text = text;
    mark.set = font_.set(text);
    mark.size = std::min(kTitleSize / font_.digitHeight(),
                         (options_.pageWidth - 2 * options_.margin) / std::max(mark.set.width, 1e-9));
    mark.origin = {options_.margin, options_.margin + kTitleSize};
    mark.colour = {0.12, 0.12, 0.12};
    page->marks.push_back(std::move(mark));
  }

  void view(const View& v, const Cell& cell, double scale, Page* page) {
    const Vec toward = v.toward;
    // Screen millimetres within the cell, centred, y down.
    auto screen = [&](Vec p) {
      const Vec d = sub(p, centre_);
      return Point2{cell.width / 2 + scale * dot(d, v.right), cell.height / 2 - scale * dot(d, v.up)};
    };
    std::vector<int> order(faces_.size());
    std::iota(order.begin(), order.end(), 0);
    std::vector<double> depth(faces_.size());
    for (size_t i = 0; i < faces_.size(); ++i) depth[i] = dot(faces_[i].p[0], toward) + dot(faces_[i].p[1], toward) + dot(faces_[i].p[2], toward);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return depth[a] < depth[b]; });

    const int width = std::max(1, static_cast<int>(std::ceil(cell.width * kPicture)));
    const int height = std::max(1, static_cast<int>(std::ceil(cell.height * kPicture)));
    cairo_surface_t* picture = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    const int iw = std::max(1, static_cast<int>(std::ceil(cell.width * kIndexPicture)));
    const int ih = std::max(1, static_cast<int>(std::ceil(cell.height * kIndexPicture)));
    cairo_surface_t* index = cairo_image_surface_create(CAIRO_FORMAT_RGB24, iw, ih);
    cairo_t* cr = cairo_create(picture);
    cairo_t* ci = cairo_create(index);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, kPicture, kPicture);
    cairo_scale(ci, kIndexPicture, kIndexPicture);
    // Without smoothing, neighbouring triangles leave no light seams, and every index pixel
    // holds exactly one piece.
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_antialias(ci, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgb(ci, 0, 0, 0);
    cairo_paint(ci);
    // Light from the viewer's upper left; both sides of a face are lit alike.
    const Vec light{-0.35, 0.5, 0.79};
    for (const int i : order) {
      const Face& f = faces_[i];
      const Vec n = cross(sub(f.p[1], f.p[0]), sub(f.p[2], f.p[0]));
      const double length = std::sqrt(dot(n, n));
      if (!(length > 0)) continue;
      const Vec viewN{dot(n, v.right) / length, dot(n, v.up) / length, dot(n, toward) / length};

      const double shade = 0.45 + 0.55 * std::abs(dot(viewN, light));
      const Rgb base = pieceColour(packing_.numbers[f.piece]);
      const Point2 a = screen(f.p[0]), b = screen(f.p[1]), c = screen(f.p[2]);
      for (cairo_t* target : {cr, ci}) {
        cairo_move_to(target, a.x, a.y);
        cairo_line_to(target, b.x, b.y);
        cairo_line_to(target, c.x, c.y);
        cairo_close_path(target);
      }
      cairo_set_source_rgb(cr, base[0] * shade, base[1] * shade, base[2] * shade);
      cairo_fill(cr);
      const int id = f.piece + 1;
      cairo_set_source_rgb(ci, ((id >> 16) & 255) / 255.0, ((id >> 8) & 255) / 255.0, (id & 255) / 255.0);
      cairo_fill(ci);
    }
    cairo_destroy(cr);
    cairo_destroy(ci);
    cairo_surface_flush(index);

    cairo_matrix_t toPixels;
    cairo_matrix_init(&toPixels, kPicture, 0, 0, kPicture, -cell.left * kPicture, -cell.top * kPicture);
    drawing_.images.push_back(picture);
    page->marks.push_back(ImageMark{static_cast<int>(drawing_.images.size()) - 1,
                                    {{cell.left, cell.top},
                                     {cell.left + width / kPicture, cell.top},
                                     {cell.left + width / kPicture, cell.top + height / kPicture},
                                     {cell.left, cell.top + height / kPicture}},
                                    toPixels,
                                    false});
    numbers(index, cell, page);
    cairo_surface_destroy(index);
    caption(v.name, cell, page);
  }

  // Each piece's number on the visible pixel nearest the middle of what shows of it.
  void numbers(cairo_surface_t* index, const Cell& cell, Page* page) {
    const int w = cairo_image_surface_get_width(index), h = cairo_image_surface_get_height(index);
    const int stride = cairo_image_surface_get_stride(index);
    const unsigned char* data = cairo_image_surface_get_data(index);
    const size_t pieces = packing_.positions.size();
    std::vector<double> count(pieces, 0), sumX(pieces, 0), sumY(pieces, 0);
    auto idAt = [&](int x, int y) {
      const std::uint32_t pixel = *reinterpret_cast<const std::uint32_t*>(data + static_cast<size_t>(y) * stride + 4 * x);
      return static_cast<int>(pixel & 0xFFFFFF) - 1;
    };
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int id = idAt(x, y);
        if (id < 0 || id >= static_cast<int>(pieces)) continue;
        count[id] += 1;
        sumX[id] += x + 0.5;
        sumY[id] += y + 0.5;
      }
    }
    std::vector<Point2> spot(pieces, {-1, -1});
    for (size_t i = 0; i < pieces; ++i) {
      if (count[i] / (kIndexPicture * kIndexPicture) < kLeastVisible) continue;
      spot[i] = {sumX[i] / count[i], sumY[i] / count[i]};
    }
    // Where the middle falls on another piece (a ring, a crescent), the nearest own pixel.
    std::vector<double> best(pieces, INFINITY);
    std::vector<Point2> chosen(pieces, {-1, -1});
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int id = idAt(x, y);
        if (id < 0 || id >= static_cast<int>(pieces) || spot[id].x < 0) continue;
        const double d = std::hypot(x + 0.5 - spot[id].x, y + 0.5 - spot[id].y);
        if (d < best[id]) {
          best[id] = d;
          chosen[id] = {x + 0.5, y + 0.5};
        }
      }
    }
    std::vector<size_t> order(pieces);
    std::iota(order.begin(), order.end(), 0);
    // Larger pieces first: where numbers would collide, the smaller piece's gives way.
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return count[a] > count[b]; });
    const double size = kNumberHeight / font_.digitHeight();
    for (const size_t i : order) {
      if (chosen[i].x < 0) continue;
      const std::string text = std::to_string(packing_.numbers[i]);
      const SetText set = font_.set(text);
      const double tw = set.width * size, th = font_.digitHeight() * size;
      const Point2 centre{cell.left + chosen[i].x / kIndexPicture, cell.top + chosen[i].y / kIndexPicture};
      const TextBox box{{Point2{centre.x - tw / 2 - 0.3, centre.y - th / 2 - 0.3}, Point2{centre.x + tw / 2 + 0.3, centre.y - th / 2 - 0.3},
                         Point2{centre.x + tw / 2 + 0.3, centre.y + th / 2 + 0.3}, Point2{centre.x - tw / 2 - 0.3, centre.y + th / 2 + 0.3}}};
      if (!occupied_.free(box)) continue;
      occupied_.add(box);
      shown_[i] = 1;
      TextMark mark;
      mark.text = text;
      mark.set = set;
      mark.size = size;
      mark.origin = {centre.x - tw / 2, centre.y + th / 2};
      mark.underline = readsOtherWayUp(text);
      mark.backdrop = true;
      page->marks.push_back(std::move(mark));
    }
  }

  // The pieces whose number no view shows (inside the model, or too small to number), by
  // number, in lines under the views: every piece is found on this page.
  void hiddenList(double y, Page* page) const {
    std::vector<int> hidden;
    for (size_t i = 0; i < shown_.size(); ++i) {
      if (!shown_[i]) hidden.push_back(packing_.numbers[i]);
    }
    if (hidden.empty()) return;
    std::sort(hidden.begin(), hidden.end());
    const double size = kCaptionHeight / font_.digitHeight();
    const double room = options_.pageWidth - 2 * options_.margin;
    std::vector<std::string> lines{hidden.size() == 1 ? "not seen in these views: piece " : "not seen in these views: pieces "};
    for (size_t k = 0; k < hidden.size(); ++k) {
      const std::string item = std::to_string(hidden[k]) + (k + 1 < hidden.size() ? ", " : "");
      if (font_.set(lines.back() + item).width * size > room) lines.push_back("");
      lines.back() += item;
    }
    const double row = kCaptionHeight * 1.6;
    // What the band has no room for is counted on its last line.
    const size_t fit = static_cast<size_t>(std::max(1.0, std::floor(kHiddenBand / row)));
    if (lines.size() > fit) {
      lines.resize(fit);
      lines.back() = "and more: " + std::to_string(hidden.size()) + " pieces in all are not seen";
    }
    for (size_t r = 0; r < lines.size(); ++r) {
      TextMark mark;
      mark.text = lines[r];
      mark.set = font_.set(lines[r]);
      mark.size = size;
      mark.origin = {options_.margin, y + kCaptionHeight + r * row};
      mark.colour = {0.12, 0.12, 0.12};
      page->marks.push_back(std::move(mark));
    }
  }

  void caption(const char* name, const Cell& cell, Page* page) const {
    TextMark mark;
    mark.text = name;
    mark.set = font_.set(name);
    mark.size = kCaptionHeight / font_.digitHeight();
    mark.origin = {cell.left + cell.width / 2 - mark.set.width * mark.size / 2, cell.top + cell.height + 2 + kCaptionHeight};
    mark.colour = {0.3, 0.3, 0.3};
    page->marks.push_back(std::move(mark));
  }

  const PatternOptions& options_;
  const Packing& packing_;
  Drawing& drawing_;
  const Font& font_;
  std::vector<Face> faces_;
  /// Per piece: its number is shown in a view.
  std::vector<char> shown_;
  Vec centre_{0, 0, 0};
  Occupancy occupied_;
};

}  // namespace

void drawOverview(const PatternInput& input, const PatternOptions& options, const Packing& packing, Drawing* drawing) {
  const std::array<double, 3> size = modelSize(input, 1);
  if (!(size[0] > 0 || size[1] > 0 || size[2] > 0)) return;
  OverviewPainter(input, options, packing, drawing).paint();
}

}  // namespace pattern::detail
