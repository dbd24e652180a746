// Placing text on a piece: edge labels beside their edges, on their tabs or on a neighbouring
// triangle with a leader line, and the piece's number, with no two boxes overlapping.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "pattern/drawing.h"

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

/// A rectangle turned on the page, corners in order around it (page millimetres).
struct Box {
  std::array<Point2, 4> c;
};

bool overlap(const Box& a, const Box& b);

/// The boxes already placed on a page, found by a grid of cells so that each new box is tested
/// only against its neighbours.
class Occupancy {
 public:
  bool free(const Box& box) const;
  /// Whether the segment crosses a placed box.
  bool crosses(Point2 a, Point2 b) const;
  void add(const Box& box);

 private:
  template <class F>
  void cellsOf(Point2 lo, Point2 hi, F f) const;
  std::vector<Box> boxes_;
  std::unordered_map<std::int64_t, std::vector<int>> cells_;
};

/// A frame on a side of a convex polygon: origin at the side's first end, u along the side, n
/// its unit normal into the polygon.
struct SideFrame {
  Point2 origin, u, n;
  double length = 0;
};

/// A text's box in a side frame: [x, x + w] along the side, [t, t + h] away from it.
struct Slot {
  double x = 0, t = 0, w = 0, h = 0;
};

/// The frame on side a-b of the convex polygon; false when the side has no length.
bool sideFrame(const std::vector<Point2>& polygon, Point2 a, Point2 b, SideFrame* frame);

/// Slots for a w x h box inside the convex polygon against the frame's side, `gap` from it,
/// nearest the side's middle first; none when the polygon has no room.
std::vector<Slot> slotsAgainst(const std::vector<Point2>& polygon, const SideFrame& frame, double w, double h,
                               double gap);

/// The page box of a slot, grown by `pad` on every side.
Box boxOf(const SideFrame& frame, const Slot& slot, double pad);

/// The text set in a slot so that it reads along the side and never upside down on the page.
/// `under` is the depth below the baseline that the slot keeps for an underline.
TextMark textIn(const SideFrame& frame, const Slot& slot, const std::string& text, const SetText& set, double size,
                double under);

}  // namespace pattern::detail
