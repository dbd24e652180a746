// The bounding-box tree: insertion picks the sibling that grows the tree's boxes least, then
// rotations on the way up keep the two subtrees of every node within one level of each other.
#include "unfold/box_tree.h"

namespace foldra {

void BoxTree::clear() {
  std::vector<Node>().swap(nodes_);
  std::vector<std::int32_t>().swap(stack_);
  root_ = -1;
}

void BoxTree::insert(std::uint32_t item, const Box& box) {
  const auto leaf = static_cast<std::int32_t>(nodes_.size());
  nodes_.push_back(Node{box, -1, -1, -1, 0, item});
  if (root_ < 0) {
    root_ = leaf;
    return;
  }
  // Descend to the sibling whose union with the new box costs least (perimeter heuristic).
  std::int32_t index = root_;
  while (at(index).left >= 0) {
    const Node& node = at(index);
    const double area = node.box.perimeter();
    const double combined = node.box.unite(box).perimeter();
    const double cost = 2 * combined;
    const double inheritance = 2 * (combined - area);
    auto childCost = [&](std::int32_t c) {
      const Node& child = at(c);
      const double grown = child.box.unite(box).perimeter();
      return (child.left < 0 ? grown : grown - child.box.perimeter()) + inheritance;
    };
    const double costLeft = childCost(node.left);
    const double costRight = childCost(node.right);
    if (cost < costLeft && cost < costRight) break;
    index = costLeft < costRight ? node.left : node.right;
  }
  const std::int32_t sibling = index;
  const std::int32_t oldParent = at(sibling).parent;
  const auto parent = static_cast<std::int32_t>(nodes_.size());
  nodes_.push_back(Node{at(sibling).box.unite(box), oldParent, sibling, leaf, at(sibling).height + 1, 0});
  if (oldParent < 0) {
    root_ = parent;
  } else if (at(oldParent).left == sibling) {
    at(oldParent).left = parent;
  } else {
    at(oldParent).right = parent;
  }
  at(sibling).parent = parent;
  at(leaf).parent = parent;
  for (index = at(leaf).parent; index >= 0; index = at(index).parent) {
    index = balance(index);
    refit(index);
  }
}

void BoxTree::refit(std::int32_t index) {
  Node& node = at(index);
  const Node& left = at(node.left);
  const Node& right = at(node.right);
  node.height = 1 + std::max(left.height, right.height);
  node.box = left.box.unite(right.box);
}

std::int32_t BoxTree::balance(std::int32_t a) {
  Node& A = at(a);
  if (A.left < 0 || A.height < 2) return a;
  const std::int32_t b = A.left;
  const std::int32_t c = A.right;
  const int skew = at(c).height - at(b).height;
  if (skew > 1 || skew < -1) {
    // Lift the higher child (up) above a; a keeps the lower child (stay) and takes the lower
    // grandchild of up's two; up keeps the higher grandchild.
    const bool liftRight = skew > 1;
    const std::int32_t up = liftRight ? c : b;
    const std::int32_t f = at(up).left;
    const std::int32_t g = at(up).right;
    at(up).left = a;
    at(up).parent = A.parent;
    A.parent = up;
    if (at(up).parent < 0) {
      root_ = up;
    } else if (at(at(up).parent).left == a) {
      at(at(up).parent).left = up;
    } else {
      at(at(up).parent).right = up;
    }
    const bool keepF = at(f).height > at(g).height;
    const std::int32_t kept = keepF ? f : g;
    const std::int32_t given = keepF ? g : f;
    at(up).right = kept;
    if (liftRight) {
      A.right = given;
    } else {
      A.left = given;
    }
    at(given).parent = a;
    refit(a);
    refit(up);
    return up;
  }
  return a;
}

}  // namespace foldra
