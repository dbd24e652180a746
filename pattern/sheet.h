// What the packing, the drawing and the file writer of the pattern share.
#pragma once

#include <string>

#include "pattern/pattern.h"

namespace pattern::detail {

/// Free space kept around every piece on a sheet, in millimetres, so that cutting one piece out
/// does not cut into its neighbour.
inline constexpr double kPieceGap = 2.0;

struct Size {
  double width = 0, height = 0;
};

/// The legend's size in millimetres, measured with the fonts it is drawn with.
Size legendSize(const PatternOptions& options);

/// What makes the input or the options impossible to lay out or draw (a value that is not a
/// finite number, a margin that leaves no printable area, ...); empty when there is nothing.
std::string invalidValue(const PatternInput& input, const PatternOptions& options);

/// A number for people to read: at most four significant digits, no trailing zeros.
std::string formatNumber(double value);

}  // namespace pattern::detail
