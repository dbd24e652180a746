#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "pattern/sheet.h"

namespace pattern::detail {

namespace {

// Farther than this from the origin of its frame, in millimetres on paper, a point is a mistake
// (a kilometre of paper), and the arithmetic of laying it out would lose all precision.
constexpr double kFarthest = 1e6;

bool finite(Point2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }

std::string pieceProblem(const Piece& piece, double scale) {
  const std::string name = "piece " + std::to_string(piece.number);
  bool ok = true;
  double farthest = 0;
  auto point = [&](Point2 p) {
    ok = ok && finite(p);
    farthest = std::max({farthest, std::abs(p.x), std::abs(p.y)});
  };
  for (const Triangle& t : piece.triangles) {
    for (int k = 0; k < 3; ++k) {
      point(t.p[k]);
      ok = ok && (!t.hasUV || finite(t.uv[k]));
    }
  }
  for (const Edge& e : piece.edges) {
    point(e.a);
    point(e.b);
    ok = ok && std::isfinite(e.foldDegrees);
  }
  for (const Tab& tab : piece.tabs) {
    for (const Point2& p : tab.corners) point(p);
  }
  for (const Triangle& t : piece.triangles) {
    for (const Point3& p : t.space) ok = ok && std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
  }
  if (!ok) return name + " has a coordinate that is not a finite number";
  if (farthest * scale > kFarthest) return name + " reaches " + formatNumber(farthest * scale / 1000) + " m: too far to print";
  return "";
}

}  // namespace

std::string invalidValue(const PatternInput& input, const PatternOptions& options) {
  const PatternOptions& o = options;
  for (const double v : {o.pageWidth, o.pageHeight, o.margin, o.scale, o.dpi, o.flatFoldDegrees, o.labelSize}) {
    if (!std::isfinite(v)) return "the page size, margin, scale, dpi, fold angle and label size must be finite numbers";
  }
  if (o.labelSize <= 0) return "the label size must be greater than zero";
  if (o.pageWidth <= 0 || o.pageHeight <= 0) return "the page must have a width and a height";
  if (o.margin < 0 || 2 * o.margin >= std::min(o.pageWidth, o.pageHeight)) {
    return "a margin of " + formatNumber(o.margin) + " mm leaves no printable area on a page of " +
           formatNumber(o.pageWidth) + " x " + formatNumber(o.pageHeight) + " mm";
  }
  if (o.scale <= 0) return "the scale must be greater than zero";
  if (o.dpi <= 0) return "the resolution (dpi) must be greater than zero";
  for (const Material& m : input.materials) {
    for (const double c : m.color) {
      if (!std::isfinite(c)) return "material " + m.name + " has a colour that is not a finite number";
    }
  }
  for (const Piece& piece : input.pieces) {
    if (std::string problem = pieceProblem(piece, o.scale); !problem.empty()) return problem;
  }
  return "";
}

std::string formatNumber(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.4g", value);
  return buffer;
}

}  // namespace pattern::detail
