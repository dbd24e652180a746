// Arithmetic on points of the plane, shared by the seams, the painting and the placing of texts.
#pragma once

#include "pattern/pattern.h"

namespace pattern::detail {

inline Point2 minus(Point2 a, Point2 b) { return {a.x - b.x, a.y - b.y}; }
inline double dot(Point2 a, Point2 b) { return a.x * b.x + a.y * b.y; }
inline double cross(Point2 a, Point2 b) { return a.x * b.y - a.y * b.x; }
/// The point `t` times `d` from `p`.
inline Point2 along(Point2 p, Point2 d, double t) { return {p.x + t * d.x, p.y + t * d.y}; }
inline Point2 middle(Point2 a, Point2 b) { return {(a.x + b.x) / 2, (a.y + b.y) / 2}; }

}  // namespace pattern::detail
