// A run state built by hand from a few triangles, for tests of single stages.
#pragma once

#include <array>
#include <vector>

#include "host/run_state.h"
#include "intake/intake.h"
#include "shell/execute.h"

namespace testing_support {

/// Puts the triangles into the run as the one source object 0 and links every pair that
/// shares two corners, as intake does. The run state is emptied again on destruction.
class HandRun {
 public:
  explicit HandRun(const std::vector<std::array<foldra::Vec3, 3>>& triangles, bool link = true) {
    clear();
    foldra::run.gtvec.emplace_back();
    for (const auto& corners : triangles) {
      auto t = std::make_unique<foldra::gt>(0);
      for (int k = 0; k < 3; ++k) t->P[k] = corners[static_cast<std::size_t>(k)];
      foldra::run.gtvec[0].push_back(std::move(t));
    }
    if (!link) return;
    const auto n = static_cast<int>(triangles.size());
    for (int k = 0; k < n; ++k) {
      for (int m = 0; m < n; ++m) {
        if (k != m && shared(triangles[static_cast<std::size_t>(k)], triangles[static_cast<std::size_t>(m)]) == 2) {
          foldra::linkNeighbour(0, k, m);
        }
      }
    }
  }
  ~HandRun() { clear(); }
  HandRun(const HandRun&) = delete;
  HandRun& operator=(const HandRun&) = delete;

  foldra::gt& operator[](std::size_t i) { return *foldra::run.gtvec[0][i]; }

 private:
  static int shared(const std::array<foldra::Vec3, 3>& a, const std::array<foldra::Vec3, 3>& b) {
    int n = 0;
    for (const auto& p : a) {
      for (const auto& q : b) n += p == q ? 1 : 0;
    }
    return n;
  }
  static void clear() {
    foldra::clearContainers();
    foldra::clearTriangleLists();
  }
};

}  // namespace testing_support
