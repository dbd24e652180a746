#include "scene/selection.h"

namespace scene {

void PolygonSelection::add(std::int32_t index) {
  if (index < 0) return;
  if (indices_.insert(index).second) rangesValid_ = false;
}

void PolygonSelection::clear() {
  indices_.clear();
  ranges_.clear();
  rangesValid_ = true;
}

bool PolygonSelection::range(std::int32_t segment, std::int32_t limit, std::int32_t* first,
                             std::int32_t* last) const {
  if (!rangesValid_) {
    ranges_.clear();
    for (std::int32_t i : indices_) {
      if (!ranges_.empty() && ranges_.back().second + 1 == i) {
        ranges_.back().second = i;
      } else {
        ranges_.emplace_back(i, i);
      }
    }
    rangesValid_ = true;
  }
  if (segment < 0 || static_cast<std::size_t>(segment) >= ranges_.size()) return false;
  const auto [a, b] = ranges_[static_cast<std::size_t>(segment)];
  if (a >= limit) return false;
  *first = a;
  *last = b < limit ? b : limit - 1;
  return true;
}

}  // namespace scene
