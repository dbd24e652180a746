// What the cut edges are called: which edges glue to which as one seam, the text that names each
// seam's partner, which of a seam's edges carry that text, and the ticks that show where a seam
// starts and stops. Where a text goes on the page is the placing's concern (placing.h).
#pragma once

#include <string>
#include <vector>

#include "pattern/pattern.h"

namespace pattern::detail {

/// A corner of a piece where a seam ends, and the direction into the piece there (piece frame).
struct Tick {
  Point2 at, inward;
  /// The shorter of the two cut edges that meet there, model units: the tick stays shorter.
  double reach = 0;
};

struct EdgeLabels {
  std::vector<std::vector<std::string>> texts;  // per piece, per edge; empty where none
  std::vector<std::vector<Tick>> ticks;          // per piece
};

/// The text on every cut edge and the ticks at the ends of every seam, given the printed
/// numbers of the pieces (input order). A seam is a run of consecutive cut edges along an
/// outline that join one piece; its edges read the partner's number, followed by the seam's
/// letter where the two pieces share more than one seam.
EdgeLabels seamLabels(const PatternInput& input, const std::vector<int>& numbers);

/// How to read the labels and ticks: lines for the legend.
std::vector<std::string> labelNotes();

}  // namespace pattern::detail
