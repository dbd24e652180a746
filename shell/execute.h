// The run driver: the stages of one run in their order, over the module-wide run state.
#pragma once

#include <cstdint>

#include "host/run_state.h"

namespace foldra {

/// Releases and destroys every triangle of the run.
void clearTriangleLists();
/// Destroys every piece of the run.
void clearContainers();
/// Turns the selection of the active document into flat pieces in the run state: the stages
/// up to and including the unfolding. False when no polygon object was found.
bool unfoldSelection();
/// The whole run: pieces into the active document, then the removal of the source objects.
void Execute();
/// Layout mode for scene output from the AlsAnimation setting: 0 and 2 as they are, else 1.
std::int32_t layoutMode(std::int32_t alsAnimation);

}  // namespace foldra
