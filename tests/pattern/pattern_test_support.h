// Helpers shared by the pattern tests: pieces built by hand, a scratch folder, file contents and
// the geometry to check a packing with.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "pattern/pattern.h"
#include "temp_dir.h"

namespace patterntest {

namespace fs = std::filesystem;
using namespace pattern;

/// The free space the packing promises between pieces, in millimetres.
inline constexpr double kGap = 1.0;

using testing_support::TempDir;

inline std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline Triangle triangle(Point2 a, Point2 b, Point2 c, int material = -1) {
  Triangle t;
  t.p = {a, b, c};
  t.material = material;
  return t;
}

inline Edge cut(Point2 a, Point2 b, int label = 0) { return {a, b, EdgeKind::Cut, 0, label}; }

inline Edge fold(Point2 a, Point2 b, EdgeKind kind, double degrees) { return {a, b, kind, degrees, 0}; }

/// A tab standing on the edge a-b, on its right-hand side (outside a counter-clockwise piece).
inline Tab tabOn(Point2 a, Point2 b, int label, double depth = 5) {
  const double length = std::hypot(b.x - a.x, b.y - a.y);
  const Point2 out{(b.y - a.y) / length * depth, -(b.x - a.x) / length * depth};
  const Point2 inset{(b.x - a.x) / length * depth, (b.y - a.y) / length * depth};
  Tab tab;
  tab.corners = {a, b, Point2{b.x + out.x - inset.x, b.y + out.y - inset.y},
                 Point2{a.x + out.x + inset.x, a.y + out.y + inset.y}};
  tab.label = label;
  return tab;
}

/// A rectangle from the origin: two triangles with a fold on the rising diagonal; its sides are
/// numbered from `firstLabel` counter-clockwise from the bottom (0: no numbers).
inline Piece rectangle(int number, double width, double height, int firstLabel = 0, int material = -1) {
  const Point2 a{0, 0}, b{width, 0}, c{width, height}, d{0, height};
  Piece piece;
  piece.number = number;
  piece.triangles = {triangle(a, b, c, material), triangle(a, c, d, material)};
  const int l = firstLabel;
  piece.edges = {cut(a, b, l), cut(b, c, l ? l + 1 : 0), cut(c, d, l ? l + 2 : 0), cut(d, a, l ? l + 3 : 0),
                 fold(a, c, EdgeKind::Mountain, 90)};
  return piece;
}

inline Piece square(int number, double size, int firstLabel = 0, int material = -1) {
  return rectangle(number, size, size, firstLabel, material);
}

/// The piece turned by `degrees` about the origin in its own frame.
inline Piece turned(Piece piece, double degrees) {
  const double a = degrees * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
  auto turn = [&](Point2& p) { p = {c * p.x - s * p.y, s * p.x + c * p.y}; };
  for (Triangle& t : piece.triangles) {
    for (Point2& p : t.p) turn(p);
  }
  for (Edge& e : piece.edges) {
    turn(e.a);
    turn(e.b);
  }
  for (Tab& tab : piece.tabs) {
    for (Point2& p : tab.corners) turn(p);
  }
  return piece;
}

/// A right triangle with its right angle at the origin and legs along x and y.
inline Piece rightTriangle(int number, double leg, int material = -1) {
  const Point2 a{0, 0}, b{leg, 0}, c{0, leg};
  Piece piece;
  piece.number = number;
  piece.triangles = {triangle(a, b, c, material)};
  piece.edges = {cut(a, b), cut(b, c), cut(c, a)};
  return piece;
}

/// A strip of `count` triangles of the given base and height along x, folded alternately
/// mountain and valley; the cut sides are numbered from `firstLabel`.
inline Piece strip(int number, int count, double base, double height, int firstLabel) {
  Piece piece;
  piece.number = number;
  auto corner = [&](int i) { return i % 2 == 0 ? Point2{i / 2 * base, 0} : Point2{i / 2 * base + base / 2, height}; };
  int label = firstLabel;
  for (int i = 0; i < count; ++i) {
    Point2 p = corner(i), q = corner(i + 1), r = corner(i + 2);
    if (i % 2 == 0) std::swap(p, q);  // keep every triangle counter-clockwise
    piece.triangles.push_back(triangle(p, q, r));
    piece.edges.push_back(cut(corner(i), corner(i + 2), label++));
    if (i > 0) piece.edges.push_back(fold(corner(i), corner(i + 1), i % 2 ? EdgeKind::Mountain : EdgeKind::Valley, 45));
  }
  piece.edges.push_back(cut(corner(0), corner(1), label++));
  piece.edges.push_back(cut(corner(count), corner(count + 1), label++));
  return piece;
}

/// A square frame: outer side `outer`, a centred square hole of side `inner`, eight triangles.
inline Piece ring(int number, double outer, double inner) {
  const double d = (outer - inner) / 2;
  const Point2 o[4] = {{0, 0}, {outer, 0}, {outer, outer}, {0, outer}};
  const Point2 h[4] = {{d, d}, {outer - d, d}, {outer - d, outer - d}, {d, outer - d}};
  Piece piece;
  piece.number = number;
  for (int k = 0; k < 4; ++k) {
    const int n = (k + 1) % 4;
    piece.triangles.push_back(triangle(o[k], o[n], h[n]));
    piece.triangles.push_back(triangle(o[k], h[n], h[k]));
    piece.edges.push_back(cut(o[k], o[n]));
    piece.edges.push_back(cut(h[k], h[n]));
    piece.edges.push_back(fold(o[k], h[n], EdgeKind::Valley, 20));
    piece.edges.push_back(fold(o[k], h[k], EdgeKind::Mountain, 90));
  }
  return piece;
}

/// An L: a `size` square from the origin without the square above-right of (arm, arm).
inline Piece ell(int number, double size, double arm) {
  const Point2 a{0, 0}, b{size, 0}, c{size, arm}, d{arm, arm}, e{arm, size}, f{0, size};
  Piece piece;
  piece.number = number;
  piece.triangles = {triangle(a, b, c), triangle(a, c, d), triangle(a, d, e), triangle(a, e, f)};
  piece.edges = {cut(a, b), cut(b, c), cut(c, d), cut(d, e), cut(e, f), cut(f, a),
                 fold(a, c, EdgeKind::Valley, 10), fold(a, d, EdgeKind::Mountain, 10), fold(a, e, EdgeKind::Valley, 10)};
  return piece;
}

/// An n x n grid of squares of side `cell`, each split by its rising diagonal. Grid lines are
/// mountain folds, diagonals valley folds except the first, which is nearly flat (0.5 degrees);
/// the border is cut and numbered from `firstLabel`; the first two border sides carry tabs.
inline Piece grid(int number, int n, double cell, int firstLabel) {
  Piece piece;
  piece.number = number;
  auto at = [&](int i, int j) { return Point2{i * cell, j * cell}; };
  for (int j = 0; j < n; ++j) {
    for (int i = 0; i < n; ++i) {
      piece.triangles.push_back(triangle(at(i, j), at(i + 1, j), at(i + 1, j + 1)));
      piece.triangles.push_back(triangle(at(i, j), at(i + 1, j + 1), at(i, j + 1)));
      piece.edges.push_back(fold(at(i, j), at(i + 1, j + 1), EdgeKind::Valley, i == 0 && j == 0 ? 0.5 : 30));
      if (i > 0) piece.edges.push_back(fold(at(i, j), at(i, j + 1), EdgeKind::Mountain, 60));
      if (j > 0) piece.edges.push_back(fold(at(i, j), at(i + 1, j), EdgeKind::Mountain, 60));
    }
  }
  int label = firstLabel;
  for (int i = 0; i < n; ++i) {
    piece.edges.push_back(cut(at(i, 0), at(i + 1, 0), label++));
    piece.edges.push_back(cut(at(n, i), at(n, i + 1), label++));
    piece.edges.push_back(cut(at(i + 1, n), at(i, n), label++));
    piece.edges.push_back(cut(at(0, i + 1), at(0, i), label++));
  }
  for (int k = 0; k < 2; ++k) {
    const Edge& e = piece.edges[piece.edges.size() - 4 * n + k];
    piece.tabs.push_back(tabOn(e.a, e.b, e.label));
  }
  return piece;
}

/// Gives every triangle of the piece texture coordinates: its corners divided by `size`.
inline void mapTexture(Piece* piece, double size) {
  for (Triangle& t : piece->triangles) {
    t.hasUV = true;
    for (int k = 0; k < 3; ++k) t.uv[k] = {t.p[k].x / size, t.p[k].y / size};
  }
}

// --- Geometry of a laid-out pattern ---------------------------------------------------------

/// The convex parts of a placed piece in sheet millimetres: triangles and tabs.
inline std::vector<std::vector<Point2>> placedParts(const Piece& piece, const Position& at, double scale) {
  std::vector<std::vector<Point2>> parts;
  for (const Triangle& t : piece.triangles) {
    parts.push_back({sheetPoint(at, scale, t.p[0]), sheetPoint(at, scale, t.p[1]), sheetPoint(at, scale, t.p[2])});
  }
  for (const Tab& tab : piece.tabs) {
    std::vector<Point2> part;
    for (const Point2& p : tab.corners) part.push_back(sheetPoint(at, scale, p));
    parts.push_back(part);
  }
  return parts;
}

inline double segmentDistance(Point2 p, Point2 a, Point2 b) {
  const double dx = b.x - a.x, dy = b.y - a.y, length2 = dx * dx + dy * dy;
  const double t = length2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / length2, 0.0, 1.0) : 0;
  return std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy);
}

inline double cross(Point2 o, Point2 a, Point2 b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

inline bool segmentsCross(Point2 a, Point2 b, Point2 c, Point2 d) {
  return cross(a, b, c) * cross(a, b, d) < 0 && cross(c, d, a) * cross(c, d, b) < 0;
}

/// Whether p lies inside the convex polygon, whichever way round it runs.
inline bool insideConvex(Point2 p, const std::vector<Point2>& polygon) {
  if (polygon.size() < 3) return false;
  bool left = true, right = true;
  for (size_t i = 0; i < polygon.size(); ++i) {
    const double c = cross(polygon[i], polygon[(i + 1) % polygon.size()], p);
    left = left && c >= 0;
    right = right && c <= 0;
  }
  return left || right;
}

/// Distance between two convex polygons; zero when they overlap.
inline double distance(const std::vector<Point2>& p, const std::vector<Point2>& q) {
  if (insideConvex(p[0], q) || insideConvex(q[0], p)) return 0;
  double best = std::numeric_limits<double>::infinity();
  for (size_t i = 0; i < p.size(); ++i) {
    const Point2 a = p[i], b = p[(i + 1) % p.size()];
    for (size_t j = 0; j < q.size(); ++j) {
      const Point2 c = q[j], d = q[(j + 1) % q.size()];
      if (segmentsCross(a, b, c, d)) return 0;
      best = std::min({best, segmentDistance(a, c, d), segmentDistance(b, c, d), segmentDistance(c, a, b),
                       segmentDistance(d, a, b)});
    }
  }
  return best;
}

struct Bounds {
  double minX = std::numeric_limits<double>::infinity(), minY = minX, maxX = -minX, maxY = -minX;
  void add(Point2 p) {
    minX = std::min(minX, p.x);
    minY = std::min(minY, p.y);
    maxX = std::max(maxX, p.x);
    maxY = std::max(maxY, p.y);
  }
  bool apart(const Bounds& o, double gap) const {
    return minX > o.maxX + gap || o.minX > maxX + gap || minY > o.maxY + gap || o.minY > maxY + gap;
  }
};

inline Bounds boundsOf(const std::vector<std::vector<Point2>>& parts) {
  Bounds b;
  for (const auto& part : parts) {
    for (const Point2& p : part) b.add(p);
  }
  return b;
}

inline void expectInsideMargins(const Bounds& b, const PatternOptions& options, const std::string& what) {
  const double slack = 1e-6;
  EXPECT_GE(b.minX, options.margin - slack) << what;
  EXPECT_GE(b.minY, options.margin - slack) << what;
  EXPECT_LE(b.maxX, options.pageWidth - options.margin + slack) << what;
  EXPECT_LE(b.maxY, options.pageHeight - options.margin + slack) << what;
}

/// Checks what every packing must keep: one position per piece on an existing sheet, no sheet
/// left empty, every piece that is not oversize inside the margins, and pieces (and the legend)
/// on one sheet at least the gap apart.
inline void expectSoundPacking(const PatternInput& input, const PatternOptions& options, const Packing& packing) {
  ASSERT_EQ(packing.positions.size(), input.pieces.size());
  std::vector<int> used(packing.sheets, 0);
  std::vector<std::vector<std::vector<Point2>>> parts;
  std::vector<Bounds> bounds;
  std::vector<int> sheets;
  for (size_t i = 0; i < input.pieces.size(); ++i) {
    const Position& at = packing.positions[i];
    EXPECT_EQ(at.piece, static_cast<int>(i));
    ASSERT_GE(at.sheet, 0);
    ASSERT_LT(at.sheet, packing.sheets);
    ++used[at.sheet];
    parts.push_back(placedParts(input.pieces[i], at, options.scale));
    bounds.push_back(boundsOf(parts.back()));
    sheets.push_back(at.sheet);
    if (!at.oversize) expectInsideMargins(bounds.back(), options, "piece " + std::to_string(i));
  }
  for (int sheet = 0; sheet < packing.sheets; ++sheet) EXPECT_GT(used[sheet], 0) << "sheet " << sheet;
  if (packing.legendSheet >= 0) {
    const Point2 a = packing.legendMin, b = packing.legendMax;
    parts.push_back({{a, {b.x, a.y}, b, {a.x, b.y}}});
    bounds.push_back(boundsOf(parts.back()));
    sheets.push_back(packing.legendSheet);
    expectInsideMargins(bounds.back(), options, "the legend");
  }
  const double slack = 1e-6;
  for (size_t i = 0; i < parts.size(); ++i) {
    for (size_t j = i + 1; j < parts.size(); ++j) {
      if (sheets[i] != sheets[j] || bounds[i].apart(bounds[j], kGap)) continue;
      double nearest = std::numeric_limits<double>::infinity();
      for (const auto& p : parts[i]) {
        for (const auto& q : parts[j]) nearest = std::min(nearest, distance(p, q));
      }
      EXPECT_GE(nearest, kGap - slack) << "pieces " << i << " and " << j << " (the last may be the legend)";
    }
  }
}

}  // namespace patterntest
