// Placing the texts of one sheet: each edge label beside its edge (in its triangle, on its tab, on
// a neighbour or beside the piece with a leader line, at falling sizes, squeezed in as a last
// resort), and each piece's number and note, no two texts overlapping and all clear of the
// seams' ticks. What a label says
// is the seams' concern (seams.h); the painting of the sheet asks for this after its lines.
#pragma once

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "pattern/drawing.h"
#include "pattern/labels.h"

namespace pattern::detail {

class Textures;

/// The grey of every text on a sheet but the pieces' numbers.
inline constexpr Rgb kLabelColour{0.12, 0.12, 0.12};

/// Piece frame to the page seen top-down: the position turns and shifts the piece within the
/// sheet frame (y up); the page has y down, so height y is drawn at pageHeight - y. Both frames
/// see the paper from the printed side: nothing is mirrored.
struct ToPage {
  double c, s, ox, oy, height;
  Point2 operator()(Point2 p) const { return {ox + c * p.x - s * p.y, height - (oy + s * p.x + c * p.y)}; }
};

inline ToPage toPage(const Position& p, double scale, double pageHeight) {
  return {scale * std::cos(p.rotation), scale * std::sin(p.rotation), p.offset.x, p.offset.y, pageHeight};
}

/// A piece on the sheet being drawn.
struct PlacedPiece {
  const Piece* piece;
  /// Its index in the input.
  int index;
  ToPage map;
};

/// Labels printed smaller than the label size, counted over all sheets for one warning.
struct LabelCount {
  int shrunk = 0;
  /// Of those, the ones printed below the smallest size that reads well (kLegibleLabel).
  int illegible = 0;
  /// How many times larger the model must be for every label to fit at the label size (room
  /// for a label grows with the scale): the largest ratio of the label size to the size a
  /// label got, or would need where it was squeezed in.
  double enlarge = 1;
};

/// The smallest digits, millimetres, that a label shrinks to while any place is left at that
/// size; below it, it is counted apart.
inline constexpr double kLegibleLabel = 1.5;

/// The warning for the labels that did not fit at the label size; empty when all did.
std::string shrunkWarning(const LabelCount& count, const PatternOptions& options);

/// The texts of one sheet, placed piece by piece into one occupancy of the page.
class LabelPlacer {
 public:
  LabelPlacer(const PatternOptions& options, const Packing& packing, const Textures& textures, LabelCount* count);
  ~LabelPlacer();
  LabelPlacer(const LabelPlacer&) = delete;
  LabelPlacer& operator=(const LabelPlacer&) = delete;

  /// Keeps the box free of every text placed after.
  void keepClear(const TextBox& box);
  /// Keeps labels placed beside pieces off the piece's paper (its triangles and tabs); every
  /// piece of the sheet is covered before the first is placed.
  void cover(const PlacedPiece& piece);
  /// Keeps labels placed beside pieces off a box of the page (the legend).
  void cover(Point2 lo, Point2 hi);
  /// The labels of the piece's edges (`texts`, one per edge, empty where none), its number and
  /// the note beside the number (none where empty).
  void placePiece(const PlacedPiece& piece, const std::vector<std::string>& texts, const std::string& note);
  /// Appends the leader lines and the texts placed so far to the page, the texts on top.
  void addTo(Page* page);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pattern::detail
