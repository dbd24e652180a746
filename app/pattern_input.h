// The printable pattern's view of an unfolding: pieces, their folds and cuts, tabs and
// materials, read from the unfolding's own run state.
#pragma once

#include <string>

#include "pattern/pattern.h"

namespace app {

/// The drawable pieces of the unfolding in the module's run state (after the stages up to the
/// unfolding have run, while intake's copies still exist), in the order scene output numbers
/// them. Texture paths that are relative are taken relative to `textureFolder`.
pattern::PatternInput patternFromRun(const std::string& textureFolder);

}  // namespace app
