// The parts of one piece (its faces, its tabs) filed by their boxes: which of them a box could
// meet. The tab placements of both methods ask it whether a tab has room.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "geometry/vec.h"
#include "unfold/box_tree.h"

namespace foldra {

/// Parts are numbered by their owner. A few are scanned; from kScan on, a box tree answers. A
/// part whose box is not finite has no place to be filed at: it is met by every query, and a
/// query whose box is not finite meets every part, so that nothing that is not a number is
/// taken for lying apart.
class PartIndex {
 public:
  /// Makes room for this many parts at once: a large run holds every piece's index together,
  /// and grown by doubling, they would take up to twice what they hold.
  void reserve(std::size_t parts) {
    few_.reserve(std::min(parts, kScan));
    if (parts > kScan) tree_.reserve(parts);
  }

  void add(std::uint32_t part, const Box& box) {
    if (!box.finite()) {
      loose_.push_back(part);
    } else if (!tree_.empty()) {
      tree_.insert(part, box);
    } else {
      few_.push_back({part, box});
      if (few_.size() == kScan) {
        for (const auto& [item, itemBox] : few_) tree_.insert(item, itemBox);
        std::vector<std::pair<std::uint32_t, Box>>().swap(few_);
      }
    }
  }

  /// Calls visit(part) for every part whose box reaches `box`, and for every part without a
  /// finite box, until visit answers true; answers whether it did.
  template <class Visit>
  bool query(const Box& box, Visit&& visit) const {
    for (std::uint32_t part : loose_) {
      if (visit(part)) return true;
    }
    constexpr double inf = std::numeric_limits<double>::infinity();
    const Box reach = box.finite() ? box : Box{-inf, -inf, inf, inf};
    if (!tree_.empty()) return tree_.query(reach, visit);
    for (const auto& [part, partBox] : few_) {
      if (partBox.reaches(reach) && visit(part)) return true;
    }
    return false;
  }

 private:
  static constexpr std::size_t kScan = 24;
  std::vector<std::uint32_t> loose_;
  std::vector<std::pair<std::uint32_t, Box>> few_;
  BoxTree tree_;
};

}  // namespace foldra
