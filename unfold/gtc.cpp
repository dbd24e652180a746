#include "unfold/gtc.h"

#include <ostream>

#include "geometry/kernel.h"
#include "host/trace.h"

namespace foldra {

gtc::gtc() : trace(&pieceTraceStream()) {
  if constexpr (kPieceTrace) *trace << "gtc::constructor\n";
}

bool gtc::addTriangle(gt* t) {
  triangles.push_back(t);
  for (int k = 0; k < 3; ++k) {
    box.extend(t->p[k]);
    if (t->placedLugs[k][0]) {
      box.extend(*t->placedLugs[k][0]);
      if (t->placedLugs[k][1]) box.extend(*t->placedLugs[k][1]);
    }
  }
  return true;
}

bool gtc::testTriangle(const gt& u, const Placement& placement) const {
  if constexpr (kPieceTrace) {
    *trace << "gtc::testTriangle, start\n";
    *trace << "gtc::testTriangle, gtsize=" << triangles.size() << '\n';
  }
  for (std::size_t i = 0; i < triangles.size(); ++i) {
    const gt& g = *triangles[i];
    const bool neighbours = u.isneighbor(g);
    const int shared = neighbours ? countSharedCorners(u, g, placement) : 0;
    if constexpr (kPieceTrace) {
      *trace << "LOOPSTART----GTC::testTriangle(); i=" << i << " t:" << u << " *(gt[i])):" << g << '\n';
      *trace << "Gemeinsame Punkte:" << shared << '\n';
    }
    if (neighbours && shared == 2) {
      if constexpr (kPieceTrace) *trace << " VERGLEICHE NICHT: (entspr. Dreiecke sind eh Nachbarn)\n";
      continue;
    }
    if constexpr (kPieceTrace) *trace << " VERGLEICHE: (entspr. Dreieckskollision testen)\n";
    if (g.collision(u, placement.rot, placement.trans, placement.pivot)) {
      if constexpr (kPieceTrace) *trace << "GTC::testTriangle(); Dreiecke kollidieren\n";
      return true;
    }
  }
  if constexpr (kPieceTrace) *trace << "GTC::testtriangle() keine Dreieckskollisionen aufgetreten\n";
  return false;
}

bool gtc::testPageBounds(const gt& u, const Placement& placement, double width, double height) {
  for (int k = 0; k < 3; ++k) {
    box.extend(placePoint(u, k, placement));
    if (u.placedLugs[k][0]) {
      box.extend(placeLugPoint(u, k, 0, placement));
      box.extend(placeLugPoint(u, k, 1, placement));
    }
  }
  return !(box.width() <= width && box.height() <= height);
}

}  // namespace foldra
