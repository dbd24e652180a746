#include "pattern/outline.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace pattern::detail {

namespace {

// Slack, in millimetres, that makes the rasteriser count a cell the outline merely touches.
constexpr double kTouch = 1e-7;

double cross(Point2 o, Point2 a, Point2 b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

std::vector<Point2> convexHull(std::vector<Point2> points) {
  std::sort(points.begin(), points.end(),
            [](Point2 a, Point2 b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
  if (points.size() < 3) return points;
  std::vector<Point2> hull(2 * points.size());
  size_t k = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) --k;
    hull[k++] = points[i];
  }
  for (size_t i = points.size() - 1, lower = k + 1; i-- > 0;) {
    while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) --k;
    hull[k++] = points[i];
  }
  hull.resize(k - 1);
  return hull;
}

Point2 turn(Point2 p, double cosA, double sinA, double scale) {
  return {scale * (cosA * p.x - sinA * p.y), scale * (sinA * p.x + cosA * p.y)};
}

// Marks the cells of a `cols` x `rows` mask that the convex polygon (millimetres, y down) touches.
// Per row of cells, the polygon's extent in x over the row's band is reached on its boundary,
// so clipping every side to the band finds it.
void rasterConvex(const std::vector<Point2>& polygon, double cell, int cols, int rows,
                  std::vector<unsigned char>* mask) {
  double top = std::numeric_limits<double>::infinity(), bottom = -top;
  for (const Point2& p : polygon) {
    top = std::min(top, p.y);
    bottom = std::max(bottom, p.y);
  }
  const int firstRow = std::clamp(static_cast<int>(std::floor((top - kTouch) / cell)), 0, rows - 1);
  const int lastRow = std::clamp(static_cast<int>(std::floor((bottom + kTouch) / cell)), 0, rows - 1);
  for (int row = firstRow; row <= lastRow; ++row) {
    const double y0 = row * cell - kTouch, y1 = (row + 1) * cell + kTouch;
    double left = std::numeric_limits<double>::infinity(), right = -left;
    for (size_t i = 0; i < polygon.size(); ++i) {
      const Point2 a = polygon[i], b = polygon[(i + 1) % polygon.size()];
      double t0 = 0, t1 = 1;
      const double dy = b.y - a.y;
      if (std::abs(dy) < 1e-12) {
        if (a.y < y0 || a.y > y1) continue;
      } else {
        double ta = (y0 - a.y) / dy, tb = (y1 - a.y) / dy;
        if (ta > tb) std::swap(ta, tb);
        t0 = std::max(t0, ta);
        t1 = std::min(t1, tb);
        if (t0 > t1) continue;
      }
      for (const double t : {t0, t1}) {
        const double x = a.x + t * (b.x - a.x);
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
    if (left > right) continue;
    const int first = std::clamp(static_cast<int>(std::floor((left - kTouch) / cell)), 0, cols - 1);
    const int last = std::clamp(static_cast<int>(std::floor((right + kTouch) / cell)), 0, cols - 1);
    std::fill(mask->begin() + row * cols + first, mask->begin() + row * cols + last + 1, 1);
  }
}

std::vector<Span> mergeSpans(std::vector<Span> spans) {
  std::sort(spans.begin(), spans.end(), [](Span a, Span b) { return a.begin < b.begin; });
  std::vector<Span> merged;
  for (const Span& s : spans) {
    if (!merged.empty() && s.begin <= merged.back().end) {
      merged.back().end = std::max(merged.back().end, s.end);
    } else {
      merged.push_back(s);
    }
  }
  return merged;
}

int widest(const std::vector<Span>& spans) {
  int w = 0;
  for (const Span& s : spans) w = std::max(w, s.end - s.begin);
  return w;
}

// The probe: every body span widened by `grow` cells to each side, and every row smeared over
// the `grow` rows above and below it.
void growProbe(Shape* shape) {
  const int g = shape->grow;
  std::vector<std::vector<Span>> wide(shape->rows);
  for (int r = 0; r < shape->rows; ++r) {
    for (const Span& s : shape->body[r]) wide[r].push_back({s.begin, s.end + 2 * g});
  }
  shape->probe.assign(shape->rows + 2 * g, {});
  for (int q = 0; q < shape->rows + 2 * g; ++q) {
    std::vector<Span> spans;
    for (int r = std::max(0, q - 2 * g); r <= std::min(shape->rows - 1, q); ++r) {
      spans.insert(spans.end(), wide[r].begin(), wide[r].end());
    }
    shape->probe[q] = mergeSpans(std::move(spans));
  }
  for (const auto& row : shape->probe) shape->probeWidths.push_back(widest(row));
  shape->probeOrder.resize(shape->probe.size());
  std::iota(shape->probeOrder.begin(), shape->probeOrder.end(), 0);
  std::stable_sort(shape->probeOrder.begin(), shape->probeOrder.end(),
                   [&](int a, int b) { return shape->probeWidths[a] > shape->probeWidths[b]; });
}

}  // namespace

std::vector<std::vector<Point2>> outlineParts(const Piece& piece) {
  std::vector<std::vector<Point2>> parts;
  for (const Triangle& t : piece.triangles) parts.push_back({t.p[0], t.p[1], t.p[2]});
  for (const Tab& tab : piece.tabs) {
    parts.push_back(convexHull({tab.corners.begin(), tab.corners.end()}));
  }
  for (const Edge& e : piece.edges) parts.push_back({e.a, e.b});
  return parts;
}

double tightestTurn(const std::vector<std::vector<Point2>>& parts) {
  std::vector<Point2> points;
  for (const auto& part : parts) points.insert(points.end(), part.begin(), part.end());
  const std::vector<Point2> hull = convexHull(std::move(points));
  if (hull.size() < 2) return 0;
  double bestArea = std::numeric_limits<double>::infinity(), bestTurn = 0;
  for (size_t i = 0; i < hull.size(); ++i) {
    const Point2 a = hull[i], b = hull[(i + 1) % hull.size()];
    const double length = std::hypot(b.x - a.x, b.y - a.y);
    if (length == 0) continue;
    const double ux = (b.x - a.x) / length, uy = (b.y - a.y) / length;
    double minU = std::numeric_limits<double>::infinity(), maxU = -minU, minV = minU, maxV = -minU;
    for (const Point2& p : hull) {
      const double u = p.x * ux + p.y * uy, v = p.y * ux - p.x * uy;
      minU = std::min(minU, u);
      maxU = std::max(maxU, u);
      minV = std::min(minV, v);
      maxV = std::max(maxV, v);
    }
    const double area = (maxU - minU) * (maxV - minV);
    // Ties keep the first edge, so equal inputs give equal turns.
    if (area < bestArea * (1 - 1e-9)) {
      bestArea = area;
      bestTurn = -std::atan2(uy, ux);
    }
  }
  return bestTurn;
}

TurnedBox turnedBox(const std::vector<std::vector<Point2>>& parts, double rotation, double scale) {
  const double c = std::cos(rotation), s = std::sin(rotation);
  double minX = std::numeric_limits<double>::infinity(), maxX = -minX, minY = minX, maxY = -minX;
  for (const auto& part : parts) {
    for (const Point2& p : part) {
      const Point2 t = turn(p, c, s, scale);
      minX = std::min(minX, t.x);
      maxX = std::max(maxX, t.x);
      minY = std::min(minY, t.y);
      maxY = std::max(maxY, t.y);
    }
  }
  if (minX > maxX) return {};
  return {maxX - minX, maxY - minY, {minX, maxY}};
}

Shape rasterise(const std::vector<std::vector<Point2>>& parts, double rotation, double scale,
                double cell, int grow) {
  Shape shape;
  shape.rotation = rotation;
  shape.box = turnedBox(parts, rotation, scale);
  shape.grow = grow;
  shape.cols = std::max(1, static_cast<int>(std::ceil(shape.box.width / cell - 1e-9)));
  shape.rows = std::max(1, static_cast<int>(std::ceil(shape.box.height / cell - 1e-9)));

  const double c = std::cos(rotation), s = std::sin(rotation);
  std::vector<unsigned char> mask(static_cast<size_t>(shape.cols) * shape.rows, 0);
  std::vector<Point2> local;
  for (const auto& part : parts) {
    local.clear();
    for (const Point2& p : part) {
      const Point2 t = turn(p, c, s, scale);
      local.push_back({t.x - shape.box.corner.x, shape.box.corner.y - t.y});
    }
    rasterConvex(local, cell, shape.cols, shape.rows, &mask);
  }

  shape.body.resize(shape.rows);
  for (int r = 0; r < shape.rows; ++r) {
    const unsigned char* row = &mask[static_cast<size_t>(r) * shape.cols];
    for (int col = 0; col < shape.cols;) {
      if (!row[col]) {
        ++col;
        continue;
      }
      const int begin = col;
      while (col < shape.cols && row[col]) ++col;
      shape.body[r].push_back({begin, col});
      shape.cells += col - begin;
    }
  }
  growProbe(&shape);
  return shape;
}

}  // namespace pattern::detail
