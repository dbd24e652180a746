// Points, 3x3 matrices and placements in 64-bit floating point.
#pragma once

#include <algorithm>
#include <cmath>

namespace foldra {

/// A point or direction.
struct Vec3 {
  double x = 0, y = 0, z = 0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
inline Vec3 operator/(Vec3 a, double s) { return {a.x / s, a.y / s, a.z / s}; }
inline bool operator==(Vec3 a, Vec3 b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
/// a x b = (a.y b.z - a.z b.y, a.z b.x - a.x b.z, a.x b.y - a.y b.x).
inline Vec3 cross(Vec3 a, Vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
/// Euclidean length over x, y and z.
inline double length(Vec3 a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }
/// v / |v|, or (0, 0, 0) for the zero vector.
inline Vec3 normalize(Vec3 v) {
  const double l = length(v);
  return l != 0 ? v / l : Vec3{};
}
inline bool isFinite(Vec3 a) { return std::isfinite(a.x) && std::isfinite(a.y) && std::isfinite(a.z); }

/// A 3x3 matrix, nine entries in row-major order.
struct Mat3 {
  double m[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

  static Mat3 identity() { return Mat3{}; }
};

/// M v: component i is the dot product of row i with v.
inline Vec3 operator*(const Mat3& M, Vec3 v) {
  return {M.m[0] * v.x + M.m[1] * v.y + M.m[2] * v.z, M.m[3] * v.x + M.m[4] * v.y + M.m[5] * v.z,
          M.m[6] * v.x + M.m[7] * v.y + M.m[8] * v.z};
}

/// A rigid move of the plane: x is placed at pivot + trans + rot (x - pivot).
struct Placement {
  Mat3 rot;
  Vec3 trans;
  Vec3 pivot;

  Vec3 apply(Vec3 x) const { return pivot + trans + rot * (x - pivot); }
};

/// An axis-parallel box in the plane, over x and y of flat points. The one box of the module:
/// pieces, collision parts and the box trees all use it.
struct Box {
  double minX, minY, maxX, maxY;

  /// Grows the box to hold q, with strict comparisons (z is ignored).
  void extend(Vec3 q) {
    if (q.x < minX) minX = q.x;
    if (q.x > maxX) maxX = q.x;
    if (q.y < minY) minY = q.y;
    if (q.y > maxY) maxY = q.y;
  }
  double width() const { return maxX - minX; }
  double height() const { return maxY - minY; }
  /// True when all four bounds are finite numbers.
  bool finite() const { return std::isfinite(minX) && std::isfinite(minY) && std::isfinite(maxX) && std::isfinite(maxY); }
  /// True when the boxes share a point (touching counts).
  bool reaches(const Box& o) const { return minX <= o.maxX && o.minX <= maxX && minY <= o.maxY && o.minY <= maxY; }
  Box unite(const Box& o) const {
    return {std::min(minX, o.minX), std::min(minY, o.minY), std::max(maxX, o.maxX), std::max(maxY, o.maxY)};
  }
  double perimeter() const { return 2 * ((maxX - minX) + (maxY - minY)); }
};

}  // namespace foldra
