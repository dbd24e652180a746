// The printable pattern's view of a run: the module's run report turned into pieces, folds,
// numbered cuts, glue tabs and materials.
#pragma once

#include <string>

#include "pattern/pattern.h"
#include "runtime/run_report.h"

namespace job {

/// The pattern of the reported run. Pieces are numbered from 1 in report order. A fold is drawn
/// once, by the copy of the triangle that comes first in its source (by object, then polygon);
/// both copies of a cut edge carry the same number, counted in the order the edges are met.
/// Relative texture paths are taken relative to `textureFolder`.
pattern::PatternInput patternInput(const runtime::RunReport& report, const std::string& textureFolder);

}  // namespace job
