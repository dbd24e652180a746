// A piece's outline turned for a sheet and rasterised, so that pieces can be packed by
// their real shapes rather than by their bounding boxes.
#pragma once

#include <vector>

#include "pattern/pattern.h"

namespace pattern::detail {

/// The convex parts whose union is a piece's outline: its triangles, the hulls of its tabs and
/// its edges (as two-point parts, so that a piece made only of lines still takes room).
std::vector<std::vector<Point2>> outlineParts(const Piece& piece);

/// The turn (radians) that gives the parts the bounding box of least area. That box has a side
/// on an edge of the convex hull, so only the hull's edge directions need to be tried.
double tightestTurn(const std::vector<std::vector<Point2>>& parts);

/// Bounding box of the parts turned by `rotation` and scaled to millimetres.
struct TurnedBox {
  double width = 0, height = 0;
  /// The top-left corner (least x, greatest y) in the turned frame.
  Point2 corner;
};
TurnedBox turnedBox(const std::vector<std::vector<Point2>>& parts, double rotation, double scale);

/// A half-open run of cells [begin, end) in one row.
struct Span {
  int begin = 0, end = 0;
};

/// A piece turned and rasterised on square cells. Rows run down the page, from the top of the
/// bounding box; a cell is set when the outline touches it, so pieces whose cells are apart
/// cannot touch.
struct Shape {
  double rotation = 0;
  TurnedBox box;
  int cols = 0, rows = 0;
  /// Cells the outline covers.
  long cells = 0;
  /// The covered cells, per row.
  std::vector<std::vector<Span>> body;
  /// The body grown by `grow` cells on every side: rows + 2 * grow rows, columns shifted by
  /// `grow`. Where the probe meets no other body, the pieces keep `grow` cells apart.
  int grow = 0;
  std::vector<std::vector<Span>> probe;
  /// The longest span of each probe row.
  std::vector<int> probeWidths;
  /// Probe rows ordered by their longest span, longest first: the likeliest to be blocked.
  std::vector<int> probeOrder;
};

/// Rasterises the parts turned by `rotation`, scaled to millimetres, on cells of `cell` mm.
Shape rasterise(const std::vector<std::vector<Point2>>& parts, double rotation, double scale,
                double cell, int grow);

}  // namespace pattern::detail
