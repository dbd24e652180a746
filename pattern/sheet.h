// What the packing, the drawing and the file writer of the pattern share.
#pragma once

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "pattern/pattern.h"

namespace pattern::detail {

/// Free space kept around every piece on a sheet, in millimetres, so that cutting one piece out
/// does not cut into its neighbour.
inline constexpr double kPieceGap = 1.0;

struct Size {
  double width = 0, height = 0;
};

/// The legend's size in millimetres, measured with the font it is drawn with.
Size legendSize(const PatternOptions& options);

struct LegendText {
  std::array<std::string, 4> items{"cut", "mountain fold", "valley fold", "glue tab"};
  /// Lines under the samples: how to read a label, the scale.
  std::vector<std::string> notes;
};
LegendText legendText(const PatternOptions& options);

/// Millimetres at the top of the printable area kept free for the title line: none when the
/// top margin has room for it.
double titleReserve(const PatternOptions& options);
/// Where the title's baseline lies, millimetres from the top of the page.
double titleBaseline(const PatternOptions& options);

/// The model's extent along x, y and z on paper, millimetres; zeros when the pieces carry no
/// corners in space.
std::array<double, 3> modelSize(const PatternInput& input, double scale);

/// What makes the input or the options impossible to lay out or draw (a value that is not a
/// finite number, a margin that leaves no printable area, ...); empty when there is nothing.
std::string invalidValue(const PatternInput& input, const PatternOptions& options);

/// A number for people to read: at most four significant digits, no trailing zeros.
std::string formatNumber(double value);

/// A text made by printf from `pattern`, for titles and warnings (at most 511 bytes).
std::string format(const char* pattern, auto... values) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

}  // namespace pattern::detail
