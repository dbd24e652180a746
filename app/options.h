// The options of one foldra run, with their defaults.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace app {

enum class Layout { Row = 0, Animation = 1, Stack = 2 };

struct Options {
  /// Input files: native scenes (.json) and mesh files; none: the bundled example.
  std::vector<std::string> inputs;
  /// Output files; the format follows the extension. None: foldra-out/<name>.json and .obj.
  std::vector<std::string> outputs;
  /// How the pieces stand in the document: side by side, one per animation frame, or stacked.
  Layout layout = Layout::Row;
  /// Paper size in millimetres. Given, or any printable output, turns the page limit on.
  double pageWidth = 210.0;
  double pageHeight = 297.0;
  bool pageGiven = false;
  /// Blank border of a sheet in millimetres.
  double margin = 10.0;
  /// Glue tabs on cut edges, at most this wide (millimetres on paper).
  bool tabs = true;
  double tabWidth = 17.0;
  /// Keep the source objects in the document next to the pieces.
  bool keepOriginals = false;
  /// Carry materials, texture selections and texture coordinates over to the pieces.
  bool materials = true;
  /// Objects to unfold, by name; none: every top-level object.
  std::vector<std::string> select;
  /// Millimetres on paper per model unit; or the model's height on paper in millimetres.
  /// Neither: the model's largest dimension becomes kDefaultSizeMm.
  std::optional<double> scale;
  std::optional<double> height;
  /// PNG resolution, dots per inch.
  double dpi = 150.0;
  /// Folds flatter than this (degrees) are not drawn on the pattern.
  double flatFold = 1.0;
  /// Fill the pattern's triangles with colours and textures.
  bool fill = true;
  /// Height of the edge labels' digits on the pattern, millimetres.
  double labelSize = 2.0;
  /// An overview page (the model from four sides, pieces coloured and numbered) with the pattern.
  bool overview = true;
  /// When set: the largest scale at which the pattern fits this many sheets.
  std::optional<int> fitSheets;
  /// The module file; empty: Foldra_C4d.cdl beside the program.
  std::string module;
  /// No progress and no summary.
  bool quiet = false;
};

/// The size of the model's largest dimension on paper when no scale is given, in millimetres.
inline constexpr double kDefaultSizeMm = 150.0;

}  // namespace app
