// The unfolding stage: the settings record read once into the options, and the method they
// name run on the run state. A new method is one more case here.
#include "host/run_state.h"
#include "unfold/compact.h"
#include "unfold/options.h"
#include "unfold/unfold.h"

namespace foldra {

void unfoldTriangles() {
  const UnfoldOptions options = unfoldOptions(settings);
  switch (options.method) {
    case kUnfoldCompact:
      Compact(run, options);
      break;
    case kUnfoldLongestEdge:
    default:
      // Any other value runs the module's default, as the settings record promises: a value
      // the dialog never offered still gives pieces.
      createTabs();
      Algokante(options);
      break;
  }
}

}  // namespace foldra
