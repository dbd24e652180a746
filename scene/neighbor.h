// The host's neighbour search: which polygon lies on the other side of an edge.
#pragma once

#include <cstdint>
#include <vector>

#include "scene/types.h"

namespace scene {

class NeighborSearch {
 public:
  /// Builds the edge index of a polygon array. Polygons with a point index outside
  /// [0, pointCount) take no part; edges whose two ends are the same point are not edges.
  /// False (and an empty index) for a negative count or a missing array.
  bool init(std::int32_t pointCount, const Polygon* polygons, std::int32_t polygonCount);

  /// The other polygon that has the edge (a, b), in either direction, or -1 when `polygon`
  /// does not have that edge or no other polygon does. Where more than two polygons share an
  /// edge they are paired in index order (first with second, third with fourth, ...), so that
  /// two closed surfaces that touch along an edge stay two surfaces; an unpaired last polygon
  /// answers -1.
  std::int32_t neighbor(std::int32_t a, std::int32_t b, std::int32_t polygon) const;

 private:
  struct Entry {
    std::uint64_t edge;
    std::int32_t polygon;
  };
  std::vector<Entry> entries_;  // sorted by edge, then polygon; no duplicates
};

}  // namespace scene
