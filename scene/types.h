// Plain value types of the document model. Points, polygons and texture coordinates are stored
// exactly as the plug-in interface hands them out, so that point and polygon arrays can be given
// to a module without conversion.
#pragma once

#include <cstdint>
#include <numeric>

#include "sdk/host_api.h"

namespace scene {

using Point = sdk::Vector32;
using Polygon = sdk::Polygon;
using UVWEntry = sdk::UVWEntry;
using Time = sdk::Time;

/// True for a polygon whose fourth index repeats its third.
inline bool isTriangle(const Polygon& p) { return p.c == p.d; }

/// The fraction in lowest terms with a positive denominator; a zero denominator gives 0/1.
inline Time normalised(Time t) {
  if (t.denominator == 0) return Time{0, 1};
  if (t.denominator < 0) {
    t.numerator = -t.numerator;
    t.denominator = -t.denominator;
  }
  const std::int64_t g = std::gcd(t.numerator, t.denominator);
  if (g > 1) {
    t.numerator /= g;
    t.denominator /= g;
  }
  return t;
}

/// Exact comparison of two times: negative, zero or positive.
inline int compare(Time a, Time b) {
  const __int128 l = static_cast<__int128>(a.numerator) * b.denominator;
  const __int128 r = static_cast<__int128>(b.numerator) * a.denominator;
  return l < r ? -1 : (l > r ? 1 : 0);
}

}  // namespace scene

namespace sdk {
/// Two times are equal when they are the same fraction, in lowest terms or not.
inline bool operator==(Time a, Time b) { return scene::compare(a, b) == 0; }
}  // namespace sdk

namespace scene {

/// The document's timeline: parameters 1000 to 1005.
struct TimeSettings {
  Time current{0, 1};
  std::int32_t fps = 30;
  Time minimum{0, 1};
  Time maximum{3, 1};
  Time loopMinimum{0, 1};
  Time loopMaximum{3, 1};

  bool operator==(const TimeSettings&) const = default;
};

}  // namespace scene
