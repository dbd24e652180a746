// Keys for the corners and sides of a piece: the unfolding computes a corner shared by several
// triangles once per triangle, so the copies can differ in their last bits; a grid far finer than
// anything drawn makes them one key. The seams, the painting and the placing of labels all find
// a side's triangle, tab or neighbour by these keys.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <tuple>
#include <utility>

#include "pattern/pattern.h"

namespace pattern::detail {

struct PointKey {
  long long x, y;
  bool operator==(const PointKey&) const = default;
};

/// The grid for a piece: a billionth of its reach.
inline double keyStep(const Piece& piece) {
  double reach = 0;
  for (const Triangle& t : piece.triangles) {
    for (const Point2& q : t.p) reach = std::max({reach, std::abs(q.x), std::abs(q.y)});
  }
  return std::max(reach, 1e-300) * 1e-9;
}

inline PointKey keyOf(Point2 p, double step) { return {std::llround(p.x / step), std::llround(p.y / step)}; }

/// A side by its two corners, whichever way round it is given.
struct SideKey {
  PointKey a, b;
  bool operator==(const SideKey&) const = default;
};

inline SideKey sideKey(Point2 a, Point2 b, double step) {
  PointKey ka = keyOf(a, step), kb = keyOf(b, step);
  if (std::tie(kb.x, kb.y) < std::tie(ka.x, ka.y)) std::swap(ka, kb);
  return {ka, kb};
}

struct KeyHash {
  std::size_t operator()(const PointKey& k) const {
    return std::hash<std::uint64_t>()(static_cast<std::uint64_t>(k.x) * 0x9E3779B97F4A7C15ull ^ static_cast<std::uint64_t>(k.y));
  }
  std::size_t operator()(const SideKey& k) const { return (*this)(k.a) * 31 + (*this)(k.b); }
};

}  // namespace pattern::detail
