// The edges a person marked: the edge-selection tags of host/edge_marks.h read into the sides of
// an object's triangles.
#include <cstdint>
#include <limits>

#include "geometry/gt.h"
#include "host/edge_marks.h"
#include "host/run_state.h"
#include "intake/intake.h"

namespace foldra {

std::int32_t triangleSide(const gt& t, std::int32_t polygonSide) {
  // A turned triangle runs its polygon backwards: corners 1 and 2 swapped, so its side 0 is the
  // polygon's side 2 and its side 2 the polygon's side 0.
  return t.turned ? 2 - polygonSide : polygonSide;
}

void readEdgeMarks(host::Object* object, std::int32_t j) {
  auto& host = host::api();
  auto& triangles = run.gtvec[static_cast<std::size_t>(j)];
  struct Kind {
    const char* name;
    std::uint8_t bit;
    /// True when the mark holds for the edge (both copies), false for the copy named alone.
    bool wholeEdge;
  };
  static constexpr Kind kinds[] = {
      {kEdgesCut, kMarkCut, true}, {kEdgesFold, kMarkFold, true}, {kEdgesTab, kMarkTab, false}, {kEdgesNoTab, kMarkNoTab, true}};
  for (const Kind& kind : kinds) {
    std::int32_t s = 0;
    for (host::Tag* tag = host.objectTag(object, sdk::kTagEdgeSelection, 0); tag;
         tag = host.objectTag(object, sdk::kTagEdgeSelection, ++s)) {
      if (host.compareText(host.tagName(tag), kind.name) != 0) continue;
      host::Selection* selection = host.tagSelection(tag);
      std::int32_t first = 0, last = 0;
      for (std::int32_t segment = 0;
           host.selectionRange(selection, segment, std::numeric_limits<std::int32_t>::max(), &first, &last); ++segment) {
        for (std::int64_t e = first < 0 ? 0 : first; e <= last; ++e) {
          const std::int64_t polygon = e / 4;
          const auto side = static_cast<std::int32_t>(e % 4);
          // After triangulation every polygon has three sides; edges past the object's
          // triangles name nothing.
          if (polygon >= static_cast<std::int64_t>(triangles.size())) break;
          if (side > 2) continue;
          gt& t = *triangles[static_cast<std::size_t>(polygon)];
          if (!t.usable) continue;
          const std::int32_t k = triangleSide(t, side);
          t.marks[k] = static_cast<std::uint8_t>(t.marks[k] | kind.bit);
          // The other copy: the side of the neighbour that leads back (the back links are made
          // later, by the preparation).
          gt* g = t.nb[k];
          if (!kind.wholeEdge || !g) continue;
          for (int r = 0; r < 3; ++r) {
            if (g->nb[r] == &t) g->marks[r] = static_cast<std::uint8_t>(g->marks[r] | kind.bit);
          }
        }
      }
    }
  }
}

}  // namespace foldra
