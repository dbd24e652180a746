// The mesh as the steps of the compact unfolding see it: the triangles numbered densely, the
// bend across every side, and the hinges the joins go through.
#include <algorithm>
#include <cmath>

#include "host/edge_marks.h"
#include "unfold/compact.h"
#include "unfold/compact_steps.h"
#include "unfold/joiner.h"

namespace foldra {

namespace {

double bendOf(const gt& t, const gt& g) {
  if (t.normal == Vec3{} || g.normal == Vec3{}) return 0;
  return std::acos(std::clamp(dot(t.normal, g.normal), -1.0, 1.0));
}

}  // namespace

CompactMesh::CompactMesh(const RunState& state, double usefulDepth) {
  for (auto& list : state.gtvec) {
    for (auto& t : list) triangles.push_back(t.get());
  }
  // Triangles are numbered by their creation order; a run's triangles are made one after the
  // other, so their serials span little more than their number.
  if (!triangles.empty()) {
    first_ = triangles.front()->serial;
    std::uint64_t last = first_;
    for (const gt* t : triangles) first_ = std::min(first_, t->serial), last = std::max(last, t->serial);
    if (last - first_ < 4 * static_cast<std::uint64_t>(triangles.size()) + 64) {
      bySerial_.assign(last - first_ + 1, 0);
      for (std::size_t i = 0; i < triangles.size(); ++i) bySerial_[triangles[i]->serial - first_] = static_cast<std::uint32_t>(i);
    } else {
      for (std::size_t i = 0; i < triangles.size(); ++i) ids_.emplace(triangles[i], static_cast<std::uint32_t>(i));
    }
  }
  sideBend.assign(3 * triangles.size(), 0.0);
  for (std::size_t i = 0; i < triangles.size(); ++i) {
    gt& t = *triangles[i];
    for (int k = 0; k < 3; ++k) {
      const double side = length(t.P[(k + 1) % 3] - t.P[k]);
      if (std::isfinite(side)) extent += side;
      gt* g = t.nb[k];
      if (!g) continue;
      sideBend[3 * i + static_cast<std::size_t>(k)] = bendOf(t, *g);
      const int s = t.nbedge[k];
      if (!t.usable || s < 0 || !g->usable || g->nb[s] != &t || g->serial < t.serial || !hingeable(t, k)) continue;
      const bool area = t.normal != Vec3{} && g->normal != Vec3{};
      const bool bare = usefulDepth > 0 && area && !usefulTab(deepestTab(side, usefulDepth), usefulDepth);
      hinges.push_back({&t, k, bendOf(t, *g), side, bare});
    }
  }
}

bool holdsMarkedFold(const std::vector<gt*>& triangles) {
  for (const gt* t : triangles) {
    for (int k = 0; k < 3; ++k) {
      if ((t->marks[k] & kMarkFold) != 0 && isFold(*t, k)) return true;
    }
  }
  return false;
}

}  // namespace foldra
