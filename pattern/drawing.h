// What a page of the pattern shows, as a list of marks in page millimetres (x right, y down from
// the top-left corner). The sheets and the overview are drawn into this list once per run; each
// file format then writes the same list (PDF and PNG through cairo, SVG directly).
#pragma once

#include <functional>
#include <cairo.h>

#include <array>
#include <string>
#include <variant>
#include <vector>

#include "pattern/font.h"
#include "pattern/pattern.h"

namespace pattern::detail {

using Rgb = std::array<double, 3>;

/// Polygons (closed) or polylines (open): points with the start of each part.
struct Path {
  std::vector<Point2> points;
  std::vector<int> starts;
  void begin() { starts.push_back(static_cast<int>(points.size())); }
  void add(Point2 p) { points.push_back(p); }
  bool empty() const { return points.empty(); }
};

struct Pen {
  double width = 0.3;
  Rgb colour{0, 0, 0};
  std::vector<double> dashes;
};

struct FillMark {
  Path path;
  Rgb colour;
  double alpha = 1;
};

struct StrokeMark {
  Path path;
  Pen pen;
};

/// An image painted through `pageToPixels` (page millimetres to image pixels) inside a convex
/// clip polygon; repeated beyond its borders when `repeat` is set, its border pixels stretched
/// outwards otherwise.
struct ImageMark {
  int image = 0;  // index into the drawing's images
  std::vector<Point2> clip;
  cairo_matrix_t pageToPixels;
  bool repeat = false;
};

/// One line of text: set glyphs, its start on the baseline and its direction.
struct TextMark {
  std::string text;
  SetText set;
  Point2 origin;
  /// Radians, clockwise on the page from the x axis (page y points down).
  double angle = 0;
  /// Font size in millimetres.
  double size = 1;
  Rgb colour{0, 0, 0};
  /// A short rule under the text, telling 6 from 9 however the paper is turned.
  bool underline = false;
  /// A white box behind the text, for text on textures and on the overview's shading.
  bool backdrop = false;
};

/// The underline's place below the baseline and its thickness, in font sizes.
inline constexpr double kUnderlineOffset = 0.16;
inline constexpr double kUnderlineThickness = 0.07;

using Mark = std::variant<FillMark, StrokeMark, ImageMark, TextMark>;

/// One page: its marks in drawing order.
struct Page {
  std::vector<Mark> marks;
};

/// The pages of a run with the images their marks refer to (textures and the overview's
/// pictures), shared by all pages.
struct Drawing {
  double width = 210, height = 297;  // page size, millimetres
  std::vector<Page> pages;
  /// The overview's page, or -1; drawn first in a PDF and written as a file of its own
  /// for SVG and PNG.
  int overview = -1;
  std::vector<cairo_surface_t*> images;
  std::vector<std::string> warnings;
  Drawing() = default;
  Drawing(const Drawing&) = delete;
  Drawing& operator=(const Drawing&) = delete;
  ~Drawing();
};

class Textures;

/// Draws every sheet of the packing into `drawing`'s pages, in order.
void drawSheets(const PatternInput& input, const PatternOptions& options, const Packing& packing,
                const Textures& textures, Drawing* drawing);

/// Draws the overview page and inserts it before the sheets; nothing when the pieces carry no
/// corners in space.
void drawOverview(const PatternInput& input, const PatternOptions& options, const Packing& packing, Drawing* drawing);

/// Draws a page through cairo, whose user space must be page millimetres.
void renderPage(cairo_t* cr, const Drawing& drawing, const Page& page, bool texts = true);

/// The pages as one PDF document.
/// Told before each page is written: the pages written so far, and of how many.
using PageDone = std::function<void(int done, int pages)>;
std::string pdfDocument(const Drawing& drawing, const std::vector<const Page*>& pages, const PageDone& pageDone = {});

/// The page as an SVG document.
std::string svgPage(const Drawing& drawing, const Page& page);

/// The size in pixels of a page at the options' resolution; false with *error when that is no
/// image cairo can make.
bool pngSize(const PatternOptions& options, long* width, long* height, std::string* error);

/// The page as a PNG image at the options' resolution, on white paper; false with *problem set
/// (cairo's reason) when it cannot be drawn.
bool pngPage(const Drawing& drawing, const Page& page, const PatternOptions& options, std::string* png,
             std::string* problem);

}  // namespace pattern::detail
