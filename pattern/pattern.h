// The printable pattern: the flat pieces drawn on sheets of paper to print, cut, fold and glue.
#pragma once

#include <functional>
#include <array>
#include <memory>
#include <string>
#include <vector>

namespace pattern {

/// A point in the flat frame of a piece, in model units.
struct Point2 {
  double x = 0, y = 0;
};

/// A point of the model in space, in model units.
struct Point3 {
  double x = 0, y = 0, z = 0;
};

enum class EdgeKind {
  /// On a piece's outline (or a slit inside it): cut along it.
  Cut,
  /// A fold whose crease points towards the printed side (a convex edge of the model).
  Mountain,
  /// A fold whose crease points away from the printed side (a concave edge of the model).
  Valley,
};

/// One side of a triangle of a piece. Every side of every triangle appears once per piece, but
/// a fold (two triangle sides lying on each other) appears only once.
struct Edge {
  Point2 a, b;
  EdgeKind kind = EdgeKind::Cut;
  /// Folds: angle between the two faces' normals in degrees, 0 (flat) to 180.
  double foldDegrees = 0;
  /// Cuts: the number that this edge shares with its partner (the same model edge on another
  /// piece's outline, or elsewhere on this one), from 1; 0 for an open edge of the model,
  /// which has no partner. The sheets print, instead of this number, the partner's piece and
  /// the seam the edge lies on.
  int label = 0;
};

/// A glue tab: a four-cornered flap along a cut edge. Corners in order: the two ends of the
/// edge, then the outer corner next to the second end, then the outer corner next to the
/// first; outer corners may coincide (a triangular tab).
struct Tab {
  std::array<Point2, 4> corners;
  /// The label of the cut edge it stands on.
  int label = 0;
};

struct Triangle {
  std::array<Point2, 3> p;
  /// Texture coordinates of the corners (u right, v up, image repeated outside 0..1).
  std::array<Point2, 3> uv;
  bool hasUV = false;
  /// Index into PatternInput::materials, or -1 for none.
  int material = -1;
  /// The corners in space, matching `p`: the overview draws the model from them. All zero
  /// when unknown; the overview is then left out.
  std::array<Point3, 3> space;
};

struct Piece {
  /// From 1, in the order the pieces are created; warnings name pieces by it. The sheets print
  /// the number the packing gives (Packing::numbers).
  int number = 0;
  std::vector<Triangle> triangles;
  std::vector<Edge> edges;
  std::vector<Tab> tabs;
};

struct Material {
  std::string name;
  /// Diffuse colour, each channel 0..1.
  std::array<double, 3> color{0.8, 0.8, 0.8};
  /// Texture image (PNG or JPEG) to map through the triangles' texture coordinates; empty for
  /// none. A file that cannot be read falls back to the colour with a warning.
  std::string texture;
};

struct PatternInput {
  std::vector<Piece> pieces;
  std::vector<Material> materials;
};

/// Where a piece went: its sheet (from 0) and the transform from its flat frame (model units)
/// to sheet millimetres: x' = offset + scale * R(rotation) x, rotation in radians.
struct Position {
  int piece = 0;
  int sheet = 0;
  double rotation = 0;
  Point2 offset;
  /// True when the piece is larger than the printable area and stands alone on its sheet.
  bool oversize = false;
};

struct PatternOptions {
  /// Sheet size in millimetres.
  double pageWidth = 210.0;
  double pageHeight = 297.0;
  /// Blank border on every side of a sheet, in millimetres.
  double margin = 10.0;
  /// Millimetres on paper per model unit.
  double scale = 1.0;
  /// Resolution of PNG sheets.
  double dpi = 150.0;
  /// Sheets carry their texts (labels, numbers, titles, the guide). An image too small to read
  /// them, such as a viewer's thumbnail, leaves them out: a PNG written so shows none, and
  /// pages drawn so place no label, which makes them much sooner on a large model.
  bool texts = true;
  /// Folds flatter than this many degrees are not drawn.
  double flatFoldDegrees = 1.0;
  /// Fill triangles with their material's colour or texture; false for line art only.
  bool fill = true;
  /// Height of the digits of edge labels in millimetres; a label is never smaller unless it fits
  /// nowhere at this size (which a warning counts).
  double labelSize = 2.0;
  /// An overview page (the model seen from four sides, each piece in its own colour with its
  /// number) before the sheets.
  bool overview = true;
  /// The model's name, shown in every sheet's title line.
  std::string title;
  /// When given, told how far the drawing and the writing have come: a stage ("Drawing the
  /// sheets", "Writing the PDF") and its percentage, from the thread that writes.
  std::function<void(const std::string& stage, int percent)> progress;
  /// Pieces a person placed by hand: each stands where it says instead of where the packing put
  /// it (Position::piece in input order); a sheet past the packing's last adds sheets. The
  /// printed numbers stay the packing's.
  std::vector<Position> placed;
};

/// Sheet millimetres of point `p` of a piece placed by `position` at `scale` millimetres per
/// model unit. Sheets are measured from the bottom-left corner of the page, x right and y up: the
/// same handedness as a piece's flat frame, so a position only turns and shifts a piece and the
/// printed side is never mirrored. (The page seen top-down, as cairo draws it, has y' = height - y.)
Point2 sheetPoint(const Position& position, double scale, Point2 p);

struct Packing {
  int sheets = 0;
  std::vector<Position> positions;  // one per piece, in input order
  /// The number printed on each piece (input order): from 1 in reading order across the sheets,
  /// sheet by sheet, top to bottom and left to right.
  std::vector<int> numbers;
  /// The share of each sheet's printable area that the pieces and their tabs cover, 0..1.
  std::vector<double> fill;
  std::vector<std::string> warnings;
  /// The sheet that carries the legend (the first, unless it has no room for it; -1 when no
  /// sheet has) and the legend's lower-left and upper-right corners in sheet millimetres.
  int legendSheet = -1;
  Point2 legendMin, legendMax;
};

/// Packs the pieces onto as few sheets as it can: inside the margins, turned where that saves
/// space, no two pieces overlapping, pieces that join each other near each other. Numbers the
/// pieces in reading order. Deterministic.
Packing packPattern(const PatternInput& input, const PatternOptions& options);

/// The name each cut edge prints on both of its copies, per piece and per edge of
/// PatternInput::pieces[i].edges (empty where none), given the pieces' printed numbers
/// (Packing::numbers).
std::vector<std::vector<std::string>> edgeNames(const PatternInput& input, const std::vector<int>& numbers);

/// True when two flat triangles overlap deeper than `depth` across every side of either (by
/// separating axes), so that triangles that only touch, along a side or at a corner, do not.
bool trianglesOverlap(const std::array<Point2, 3>& a, const std::array<Point2, 3>& b, double depth);

/// Why piece `wanted.piece` cannot stand at `wanted` beside the other pieces of `packing`: it
/// would leave the printable area, lie over the legend or over another piece (named by its
/// printed number); "" when it can.
std::string placementProblem(const PatternInput& input, const PatternOptions& options, const Packing& packing,
                             const Position& wanted);

struct PatternReport {
  Packing packing;
  /// Every file written, in the order of the paths, each path's sheets in order.
  std::vector<std::string> files;
  /// The same files by path: the PDF itself, or an SVG or PNG path's pages (the overview first
  /// where there is one, then the sheets).
  std::vector<std::vector<std::string>> byPath;
  /// An overview page was drawn.
  bool overview = false;
  std::vector<std::string> warnings;
};

/// A file format of the pattern.
struct PatternFormat {
  /// The file extension, lower case with its dot: ".pdf".
  std::string extension;
  /// Each page is a file of its own (NAME-overview, NAME-1, NAME-2, ... beside the path);
  /// otherwise the path is one document of every page, the overview first.
  bool filePerPage = false;
};

/// The formats writePattern writes: PDF, SVG, PNG, in that order.
const std::vector<PatternFormat>& patternFormats();

/// The format of a path by its extension (in any case), or null when writePattern writes none.
const PatternFormat* patternFormatOf(const std::string& path);

/// Writes one packing of the pattern to every path; the format follows the extension: .pdf (one
/// document: the overview, then a page per sheet), .svg and .png (one file per sheet,
/// NAME-1.svg, NAME-2.svg, ..., and NAME-overview.svg). The sheets are drawn once and written
/// into each format. All files are written under temporary names and renamed when all are
/// complete. False with *error set.
bool writePattern(const PatternInput& input, const PatternOptions& options, const Packing& packing,
                  const std::vector<std::string>& paths, PatternReport* report, std::string* error);

/// Packs and writes one path.
bool writePattern(const PatternInput& input, const PatternOptions& options, const std::string& path,
                  PatternReport* report, std::string* error);

namespace detail {
struct Drawing;
}

/// The pages of one packing drawn (the labels placed unless drawn without texts, the overview
/// made), ready to be written in any format and at any resolution, as often as asked: a viewer
/// that shows the sheets at two sizes and offers the PDF draws them once.
class DrawnPattern {
 public:
  DrawnPattern();
  ~DrawnPattern();
  DrawnPattern(const DrawnPattern&) = delete;
  DrawnPattern& operator=(const DrawnPattern&) = delete;

 private:
  friend bool drawPattern(const PatternInput&, const PatternOptions&, const Packing&, DrawnPattern*, std::string*);
  friend bool writeDrawn(const DrawnPattern&, const PatternOptions&, const std::vector<std::string>&, PatternReport*,
                         std::string*);
  std::unique_ptr<detail::Drawing> drawing_;
  Packing packing_;
};

/// Draws the pages of the packing into `drawn`. False with *error set, as writePattern.
bool drawPattern(const PatternInput& input, const PatternOptions& options, const Packing& packing, DrawnPattern* drawn,
                 std::string* error);

/// Writes drawn pages to every path, as writePattern does; the options give the resolution of
/// PNG sheets (the page size must be the one they were drawn for).
bool writeDrawn(const DrawnPattern& drawn, const PatternOptions& options, const std::vector<std::string>& paths,
                PatternReport* report, std::string* error);

}  // namespace pattern
