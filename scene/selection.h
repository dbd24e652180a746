// A polygon selection: a set of polygon indices, readable as ranges of consecutive indices.
#pragma once

#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace scene {

class PolygonSelection {
 public:
  void add(std::int32_t index);
  void clear();
  bool contains(std::int32_t index) const { return indices_.count(index) != 0; }
  std::size_t size() const { return indices_.size(); }
  const std::set<std::int32_t>& indices() const { return indices_; }

  /// Range number `segment` (from 0) of consecutive indices, each range clipped to indices below
  /// `limit`; false when there is no such range.
  bool range(std::int32_t segment, std::int32_t limit, std::int32_t* first,
             std::int32_t* last) const;

  bool operator==(const PolygonSelection& other) const { return indices_ == other.indices_; }

 private:
  std::set<std::int32_t> indices_;
  // Ranges of consecutive indices, rebuilt on the first range query after a change.
  mutable std::vector<std::pair<std::int32_t, std::int32_t>> ranges_;
  mutable bool rangesValid_ = true;
};

}  // namespace scene
