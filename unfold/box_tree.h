// A bounding-box tree over the members of one piece: which members' boxes reach a given box.
// Members are only ever added (a piece never loses a triangle), so the tree supports insertion
// and queries; it keeps itself balanced as members arrive in any order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "geometry/vec.h"

namespace foldra {

class BoxTree {
 public:
  /// Adds a member with a finite box.
  void insert(std::uint32_t item, const Box& box);
  /// Calls visit(item) for every member whose box reaches `box`, until visit answers true;
  /// answers whether it did.
  template <class Visit>
  bool query(const Box& box, Visit&& visit) const {
    if (root_ < 0) return false;
    stack_.clear();
    stack_.push_back(root_);
    while (!stack_.empty()) {
      const Node& node = nodes_[static_cast<std::size_t>(stack_.back())];
      stack_.pop_back();
      if (!node.box.reaches(box)) continue;
      if (node.left < 0) {
        if (visit(node.item)) return true;
      } else {
        stack_.push_back(node.left);
        stack_.push_back(node.right);
      }
    }
    return false;
  }
  /// Calls visit(item) for the members below every node that `gain` finds worth entering: a
  /// node whose box has a gain of 0 or less is left, one whose gain is not a number is entered.
  /// Each node is weighed as the walk reaches it, so that what visit has learnt prunes what is
  /// left, and of two children the one of larger gain is walked first. For the members that
  /// reach farthest in some direction.
  template <class Gain, class Visit>
  void descend(Gain&& gain, Visit&& visit) const {
    if (root_ < 0) return;
    stack_.clear();
    stack_.push_back(root_);
    while (!stack_.empty()) {
      const Node& node = nodes_[static_cast<std::size_t>(stack_.back())];
      stack_.pop_back();
      if (gain(node.box) <= 0) continue;
      if (node.left < 0) {
        visit(node.item);
        continue;
      }
      const bool leftFirst = gain(nodes_[static_cast<std::size_t>(node.left)].box) > gain(nodes_[static_cast<std::size_t>(node.right)].box);
      stack_.push_back(leftFirst ? node.right : node.left);
      stack_.push_back(leftFirst ? node.left : node.right);
    }
  }
  /// The box of every member; only for a tree that is not empty.
  const Box& bounds() const { return nodes_[static_cast<std::size_t>(root_)].box; }
  /// Makes room for this many members at once (a tree of n members has 2n - 1 nodes).
  void reserve(std::size_t items) { nodes_.reserve(2 * items); }
  /// Frees every node.
  void clear();
  bool empty() const { return root_ < 0; }
  /// Height of the tree (0 for one member); for tests.
  int height() const { return root_ < 0 ? -1 : nodes_[static_cast<std::size_t>(root_)].height; }

 private:
  struct Node {
    Box box;
    std::int32_t parent = -1, left = -1, right = -1, height = 0;
    std::uint32_t item = 0;
  };
  std::int32_t balance(std::int32_t a);
  void refit(std::int32_t index);
  Node& at(std::int32_t i) { return nodes_[static_cast<std::size_t>(i)]; }

  std::vector<Node> nodes_;
  std::int32_t root_ = -1;
  mutable std::vector<std::int32_t> stack_;
};

}  // namespace foldra
