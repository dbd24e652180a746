// The ways the module can cut the pieces, as the program offers them: one row each, read by the
// command line (the names `--unfold` accepts, its help and so the manual page), the studio's form
// (the dialog's choice and the tab depth it suggests) and the dialog script. A method the module
// learns is offered by adding its row here; nothing else on the program's side names it.
#pragma once

#include <cstdint>
#include <string_view>

#include "shell/ids.h"

namespace job {

/// How the module cuts the pieces: few large ones whose tabs are placed after the cuts, or
/// longest edge first with every join tested with its tabs.
enum class Unfold { LongestEdge = 0, Compact = 1 };

/// One way of cutting the pieces.
struct Method {
  /// The name as typed after `--unfold`.
  std::string_view name;
  /// The value the settings carry.
  Unfold unfold;
  /// The value of the dialog's choice "How to cut the pieces".
  std::int32_t choice;
  /// Glue tab depth in millimetres on paper when none is given: compact's tabs fold under the
  /// partner triangle and stay small; longest edge's are as wide as the triangles allow, up to
  /// this.
  double tabDepth;
  /// What it makes, in a few words for the help, the manual page and the studio.
  std::string_view description;
};

/// Every method, in the order the help lists them.
inline constexpr Method kMethods[] = {
    {"compact", Unfold::Compact, foldra::kUnfoldingCompact, 6.0, "few, large pieces; tabs placed after the cuts"},
    {"longest-edge", Unfold::LongestEdge, foldra::kUnfoldingLongestEdge, 17.0,
     "every join tested with its tabs, longest edge first"},
};

/// The row of a method the settings carry.
const Method& method(Unfold unfold);
/// The method of this name, or null.
const Method* methodNamed(std::string_view name);
/// The method of this value of the dialog's choice, or null.
const Method* methodOfChoice(std::int32_t choice);

}  // namespace job
