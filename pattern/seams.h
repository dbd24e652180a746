// What the cut edges are called: one number per cut edge of the model, printed on both of its
// copies, the range of numbers each piece starts, the other sheets a piece joins, and the ticks
// that show where a seam (a run of edges that join one piece) starts and stops. Where a text goes
// on the page is the placing's concern (placing.h).
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

/// The numbers a piece starts: its cut edges whose partner is this piece or a later one (by
/// printed number) are numbered first..last when it is reached; none where first is 0.
struct NumberRange {
  int first = 0, last = 0;
};

struct EdgeLabels {
  std::vector<std::vector<std::string>> texts;  // per piece, per edge; empty where none
  std::vector<std::vector<Tick>> ticks;          // per piece
  std::vector<NumberRange> ranges;               // per piece
  /// Per piece: the note printed beside its number: the range it starts and the other sheets
  /// (from 1) that its partners lie on, "edges 12–30 · sheet 2"; empty for neither.
  std::vector<std::string> notes;
};

/// The name of every cut edge that has a partner and the ticks at the ends of every seam, given
/// the printed numbers of the pieces and their sheets (input order). The edges are numbered
/// from 1 piece by piece in printed order, each piece's edges in order around its outline, an
/// edge when the first of its two copies is reached: both copies print the same number, and an
/// edge numbered below a piece's range leads to an earlier piece, the one whose range holds it.
EdgeLabels seamLabels(const PatternInput& input, const std::vector<int>& numbers, const std::vector<int>& sheets);

/// The guide for a builder: how to read the labels, the folds, where the tabs go, the order of
/// building. Lines for the legend.
std::vector<std::string> labelNotes();

}  // namespace pattern::detail
