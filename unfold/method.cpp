// The unfolding stage: the settings record read once into the options, and the method they
// name run on the run state. A new method is one more case here.
#include "host/edge_marks.h"
#include "host/run_state.h"
#include "unfold/compact.h"
#include "unfold/options.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

/// A mark that holds for an edge (cut, fold, no tab) on both of its copies: intake reads the
/// marks before the preparation links every side back, so a side whose neighbour did not name it
/// yet was marked alone.
void markBothCopies(RunState& state) {
  constexpr std::uint8_t kWholeEdge = kMarkCut | kMarkFold | kMarkNoTab;
  for (auto& list : state.gtvec) {
    for (auto& t : list) {
      for (int k = 0; k < 3; ++k) {
        gt* g = t->nb[k];
        const int s = t->nbedge[k];
        if (!g || s < 0 || g->nb[s] != t.get()) continue;
        g->marks[s] = static_cast<std::uint8_t>(g->marks[s] | (t->marks[k] & kWholeEdge));
      }
    }
  }
}

}  // namespace

void unfoldTriangles() {
  markBothCopies(run);
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
