// The settings of one run: one typed value that the command line builds from its options and the
// studio from its form. Every default lives here; those the pattern draws with are taken from
// the pattern's own options, so that the pattern library used on its own draws the same. Lengths
// are millimetres on paper unless a field says otherwise; the scale turns them into the model
// units the module works in.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "job/methods.h"
#include "pattern/pattern.h"
#include "runtime/dialog.h"

namespace job {

/// How the pieces stand in the document: side by side, one per animation frame, or stacked.
enum class Layout { Row = 0, Animation = 1, Stack = 2 };

/// The widest a seam inside one compact piece may open on paper and still be folded shut: about
/// the thickness of the card a model is built from, which the paper takes up when folded.
inline constexpr double kFoldShutMm = 0.2;

/// The pattern's defaults, which the settings below take over.
inline const pattern::PatternOptions& patternDefaults() {
  static const pattern::PatternOptions defaults;
  return defaults;
}

/// More sheets than this are worth a warning: the model is probably larger than meant.
inline constexpr int kManySheets = 20;

struct Settings {
  Layout layout = Layout::Row;
  /// Keep the source objects in the document next to the pieces.
  bool keepOriginals = false;
  /// Carry materials, texture selections and texture coordinates over to the pieces.
  bool materials = true;
  /// Keep every piece within the printable area of a sheet. Unset: exactly when a pattern is
  /// drawn, since a piece larger than a sheet would print clipped.
  std::optional<bool> pageLimit;
  /// Paper size.
  double pageWidth = patternDefaults().pageWidth;
  double pageHeight = patternDefaults().pageHeight;
  /// Blank border of a sheet.
  double margin = patternDefaults().margin;
  /// How the pieces are cut (methods.h).
  Unfold unfold = Unfold::Compact;
  /// Glue tabs on cut edges, reaching at most this far out from their edge. Unset: the method's
  /// own depth (Method::tabDepth).
  bool tabs = true;
  std::optional<double> tabDepth;
  /// Compact: seams inside one piece whose two sides lie at most this far apart are folded
  /// shut, not cut; 0 cuts every seam.
  double foldShut = kFoldShutMm;
  /// Compact: allow cut edges without a glue tab where that saves pieces (the joins' pieces as
  /// they stand); otherwise every cut edge long enough for a useful tab carries one.
  bool bareSeams = false;
  /// The model's size on paper: millimetres per model unit; else the model's height (its y
  /// extent); else its largest dimension.
  std::optional<double> scale;
  std::optional<double> height;
  double largestSize = 150.0;
  /// Instead of the three above: the largest scale at which the pattern fits this many sheets.
  std::optional<int> fitSheets;
  /// Resolution of PNG sheets, dots per inch.
  double dpi = patternDefaults().dpi;
  /// Folds flatter than this many degrees are not drawn on the pattern.
  double flatFold = patternDefaults().flatFoldDegrees;
  /// Fill the pattern's triangles with colours and textures.
  bool fill = patternDefaults().fill;
  /// Height of the digits of the pattern's edge labels.
  double labelSize = patternDefaults().labelSize;
  /// An overview page (the model from four sides, pieces coloured and numbered) before the sheets.
  bool overview = patternDefaults().overview;
  /// The page and tab sizes of the module's dialog in model units, where a person typed them
  /// into the dialog itself. Unset: the printable area and the tab width over the scale.
  std::optional<double> dialogPageWidth, dialogPageHeight, dialogTabWidth, dialogFoldShut;
};

/// The entries of the module's dialog, as bits. A run enters those it is given; for the others
/// the dialog keeps what it shows.
enum Entry : unsigned {
  kEntryLayout = 1u << 0,
  kEntryOriginals = 1u << 1,
  kEntryMaterials = 1u << 2,
  kEntryPageLimit = 1u << 3,
  kEntryPageWidth = 1u << 4,
  kEntryPageHeight = 1u << 5,
  kEntryTabs = 1u << 6,
  kEntryTabWidth = 1u << 7,
  kEntryUnfolding = 1u << 8,
  kEntryFoldShut = 1u << 9,
  kEntryBareSeams = 1u << 10,
};
inline constexpr unsigned kAllEntries = 0x7ffu;

/// The highest resolution of PNG sheets and the most sheets a pattern is fitted to.
inline constexpr double kMostDpi = 2400;
inline constexpr int kMostFitSheets = 100000;

/// "" when the settings are valid, else what is wrong with the first that is not, named by its
/// key in a project file ("margin: ..."): every length, size, angle and the resolution finite and
/// in the range the command line accepts, the margins leaving a printable area.
std::string settingsProblem(const Settings& settings);

/// The tab depth of a run: the one given, else the method's own.
double tabDepth(const Settings& settings);

/// Millimetres on paper per model unit for a selection of this extent (x, y, z); nullopt when the
/// height is to be kept and the selection has none.
std::optional<double> chooseScale(const Settings& settings, const std::array<double, 3>& extent);

/// The dialog's page width, page height, tab width and widest seam folded shut in model units.
struct DialogLengths {
  double pageWidth = 0, pageHeight = 0, tabWidth = 0, foldShut = 0;
};
DialogLengths dialogLengths(const Settings& settings, double scale);

/// The steps a person takes in the module's dialog to enter the settings (those in `entries`)
/// and press the button: the module only ever learns its settings through its dialog. `pattern`
/// says whether the run's pieces will be drawn (it decides an unset page limit).
runtime::DialogScript dialogScript(const Settings& settings, double scale, bool pattern, unsigned entries,
                                   std::int32_t button);

/// The pattern's options for the settings at this scale; `title` names the model on every sheet.
pattern::PatternOptions patternOptions(const Settings& settings, double scale, const std::string& title = "");

/// A number as a person types it into the dialog: the shortest text that reads back exactly.
std::string typed(double value);

}  // namespace job
