#include "scene/neighbor.h"

#include <algorithm>

namespace scene {

namespace {

std::uint64_t edgeKey(std::int32_t a, std::int32_t b) {
  const auto lo = static_cast<std::uint32_t>(std::min(a, b));
  const auto hi = static_cast<std::uint32_t>(std::max(a, b));
  return (static_cast<std::uint64_t>(lo) << 32) | hi;
}

}  // namespace

bool NeighborSearch::init(std::int32_t pointCount, const Polygon* polygons,
                          std::int32_t polygonCount) {
  entries_.clear();
  if (pointCount < 0 || polygonCount < 0 || (polygonCount > 0 && !polygons)) return false;
  entries_.reserve(static_cast<std::size_t>(polygonCount) * 4);
  for (std::int32_t k = 0; k < polygonCount; ++k) {
    const Polygon& p = polygons[k];
    const std::int32_t corners[4] = {p.a, p.b, p.c, p.d};
    const int n = isTriangle(p) ? 3 : 4;
    bool valid = true;
    for (int i = 0; i < n; ++i) valid = valid && corners[i] >= 0 && corners[i] < pointCount;
    if (!valid) continue;
    for (int i = 0; i < n; ++i) {
      const std::int32_t a = corners[i], b = corners[(i + 1) % n];
      if (a != b) entries_.push_back({edgeKey(a, b), k});
    }
  }
  std::sort(entries_.begin(), entries_.end(), [](const Entry& x, const Entry& y) {
    return x.edge != y.edge ? x.edge < y.edge : x.polygon < y.polygon;
  });
  entries_.erase(std::unique(entries_.begin(), entries_.end(),
                             [](const Entry& x, const Entry& y) {
                               return x.edge == y.edge && x.polygon == y.polygon;
                             }),
                 entries_.end());
  return true;
}

std::int32_t NeighborSearch::neighbor(std::int32_t a, std::int32_t b, std::int32_t polygon) const {
  if (a == b) return -1;
  const std::uint64_t key = edgeKey(a, b);
  auto first = std::lower_bound(entries_.begin(), entries_.end(), key,
                                [](const Entry& e, std::uint64_t k) { return e.edge < k; });
  auto last = first;
  while (last != entries_.end() && last->edge == key) ++last;
  for (auto it = first; it != last; ++it) {
    if (it->polygon != polygon) continue;
    const auto position = static_cast<std::size_t>(it - first);
    const std::size_t partner = position ^ 1u;
    const auto count = static_cast<std::size_t>(last - first);
    return partner < count ? (first + static_cast<std::ptrdiff_t>(partner))->polygon : -1;
  }
  return -1;
}

}  // namespace scene
