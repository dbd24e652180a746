// Room for text on a page: the box a text takes, the boxes already taken, and the slots for a
// text against a side of a convex polygon (a triangle, a tab). Which slots a label tries, in
// which order, is the placing's concern (placing.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "pattern/drawing.h"

namespace pattern::detail {

/// The room a text takes on the page, or that is kept clear of text (a seam's tick): a
/// rectangle turned on the page, corners in order around it (page millimetres).
struct TextBox {
  std::array<Point2, 4> c;
};

bool overlap(const TextBox& a, const TextBox& b);

/// The text boxes already placed on a page, found by a grid of cells so that each new box is
/// tested only against its neighbours.
class Occupancy {
 public:
  bool free(const TextBox& box) const;
  /// Whether the segment crosses a placed box.
  bool crosses(Point2 a, Point2 b) const;
  void add(const TextBox& box);
  /// How many boxes are placed; `truncate` takes back those placed after that count.
  size_t size() const { return boxes_.size(); }
  void truncate(size_t count);

 private:
  template <class F>
  void cellsOf(Point2 lo, Point2 hi, F f) const;
  std::vector<TextBox> boxes_;
  /// Each box's extent, lower and upper corner: most boxes of a cell are told apart by it.
  std::vector<std::array<Point2, 2>> extents_;
  std::unordered_map<std::int64_t, std::vector<int>> cells_;
};

/// The named cut edges of a sheet, found by a grid of cells. A builder takes a label that runs
/// along a cut edge for the nearest such edge: a label beside its own edge must not stand
/// nearer to another one that runs the same way (the far side of a thin tab, a neighbour's
/// edge across the gap between two pieces).
class CutEdges {
 public:
  /// Labels stand within this box of the page (page millimetres): only the parts of edges
  /// near it are filed, however far a piece larger than the page reaches.
  CutEdges(Point2 lo, Point2 hi) : lo_(lo), hi_(hi) {}
  void add(Point2 a, Point2 b);
  /// Whether the box, which runs along edge a-b, is nearer to that edge than to every other
  /// cut edge that runs the same way, by a margin a reader can see.
  bool readsAsOwn(const TextBox& box, Point2 a, Point2 b) const;

 private:
  Point2 lo_, hi_;
  std::vector<std::array<Point2, 2>> edges_;
  std::unordered_map<std::int64_t, std::vector<int>> cells_;
};

/// The paper a sheet's pieces and their tabs take, and what else is kept free of text beside
/// them (the legend, the title band), found by a grid of small cells: a label beside its piece
/// goes only where the paper is bare, and its leader crosses no other piece.
class Paper {
 public:
  /// The printable area of a page, page millimetres (y down).
  Paper(Point2 lo, Point2 hi);
  /// Marks the cells a convex polygon (page millimetres) touches.
  void cover(const std::vector<Point2>& polygon);
  void cover(Point2 lo, Point2 hi);
  /// Whether the box lies in the printable area and touches no covered cell.
  bool bare(Point2 lo, Point2 hi) const;
  /// Whether every cell of the printable area that the box touches is covered: then no box
  /// within it is bare.
  bool covered(Point2 lo, Point2 hi) const;
  /// Whether the segment crosses no covered cell.
  bool bare(Point2 a, Point2 b, double step) const;

 private:
  bool coveredAt(Point2 p) const;
  /// The covered cells among those the box touches (clamped to the area), and how many it touches.
  int coveredIn(Point2 lo, Point2 hi, int* cells) const;
  Point2 lo_, hi_;
  int columns_ = 0, rows_ = 0;
  std::vector<char> covered_;
  /// Covered cells summed over every rectangle from the grid's corner, made on the first
  /// question after a cover: a box is then answered in four look-ups whatever its size.
  mutable std::vector<int> sums_;
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
TextBox boxOf(const SideFrame& frame, const Slot& slot, double pad);

/// The text set in a slot so that it reads along the side and never upside down on the page.
/// `under` is the depth below the baseline that the slot keeps for an underline.
TextMark textIn(const SideFrame& frame, const Slot& slot, const std::string& text, const SetText& set, double size,
                double under);

/// The largest circle inside a triangle: where a text has the most room.
struct Circle {
  Point2 centre;
  double radius = 0;
};
Circle incircle(const std::array<Point2, 3>& p);

/// Whether a number or label reads as another one upside down (6 and 9, 66, 16 and 91, seam
/// letters b and q, ...): those are underlined.
bool readsOtherWayUp(const std::string& text);

}  // namespace pattern::detail
