// The merge of two pieces along one edge: hinge, test, then commit or take everything back.
#include <ostream>

#include "geometry/kernel.h"
#include "host/run_state.h"
#include "host/trace.h"
#include "unfold/unfold.h"

namespace foldra {

void applyPlacement(gt& t, const Placement& placement) {
  for (int k = 0; k < 3; ++k) {
    t.p[k] = placement.apply(t.p[k]);
    for (int j = 0; j < 2; ++j) {
      if (t.placedLugs[k][j]) t.placedLugs[k][j] = placement.apply(*t.placedLugs[k][j]);
    }
  }
}

bool isFold(const gt& t, int k) {
  const gt* h = t.nb[k];
  const int r = t.nbedge[k];
  if (!h || r < 0 || h->containerIndex != t.containerIndex) return false;
  if (t.foldedShut & (1u << k)) return true;
  return length(t.p[k] - h->p[(r + 1) % 3]) < kPointTolerance && length(h->p[r] - t.p[(k + 1) % 3]) < kPointTolerance;
}

bool merge(gtc& A, gtc& B, gt& t, int e, bool collisionTest) {
  if constexpr (kPieceTrace) *A.trace << "versuche zu mergen..\n";
  const Box box = A.box;
  gt& g = *t.nb[e];
  const int s = t.nbedge[e];
  if (s < 0) {
    // g does not list t back: the edge cannot be hinged. Only t's tab on it goes.
    RemoveLugs(t, e);
    if constexpr (kPieceTrace) *A.trace << "index kleiner NULL!!!! FEHLER HIER!!!\n";
    return true;
  }
  const Placement hinge = hingePlacement(t, e);
  B.pivot = hinge.pivot;
  B.trans = hinge.trans;
  B.rot = hinge.rot;
  // Without a level to take the removals back, the join cannot be tried.
  if (!saveLugs(t)) return false;
  if constexpr (kPieceTrace) *A.trace << "Beidseitiger RemoveLugs!\n";
  RemoveLugs(t, e);
  RemoveLugs(g, s);

  const bool pageTest = settings.Seitenflag;
  const double width = settings.Seitenbreite;
  const double height = settings.Seitenhoehe;
  for (gt* u : B.triangles) {
    const bool refuse = (collisionTest && A.testTriangle(*u, hinge)) ||
                        (pageTest && A.testPageBounds(*u, hinge, width, height));
    if (refuse) {
      restoreLugs(t);
      A.box = box;
      return false;
    }
  }

  freeSavedLugs(t);
  const std::int32_t index = t.containerIndex;
  for (gt* u : B.triangles) {
    applyPlacement(*u, hinge);
    A.addTriangle(u);
    u->containerIndex = index;
    for (int k = 0; k < 3; ++k) {
      if (!isFold(*u, k)) continue;
      RemoveLugs(*u, k);
      RemoveLugs(*u->nb[k], u->nbedge[k]);
    }
  }
  B.valid = false;
  if constexpr (kPieceTrace) *A.trace << "container erfolgreich gemerged!\n";
  return true;
}

}  // namespace foldra
