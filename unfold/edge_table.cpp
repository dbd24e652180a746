// The edge table: the edges along which pieces may join, sorted longest first.
#include <utility>

#include "host/run_state.h"
#include "host/trace.h"
#include "unfold/unfold.h"

namespace foldra {

void createEdgeTab(EdgeTable& edges) {
  runTrace("createEdgeTab: start  gtvec.size():", run.gtvec.size());
  for (std::size_t o = 0; o < run.gtvec.size(); ++o) {
    runTrace("aha!");
    const auto& list = run.gtvec[o];
    for (std::size_t i = 0; i < list.size(); ++i) {
      runTrace("oho!");
      const gt& t = *list[i];
      for (int e = 0; e < 3; ++e) {
        runTrace("createEdgeTab: i:", o, " j:", i, " k:", e);
        if (!t.nb[e]) continue;
        runTrace("createEdgeTab: if aussen");
        if (t.Lugs[e][0]) continue;
        runTrace("createEdgeTab: if innen");
        edges.object.push_back(static_cast<std::uint32_t>(o));
        edges.triangle.push_back(static_cast<std::uint32_t>(i));
        edges.edge.push_back(e);
        edges.length.push_back(length(t.P[e] - t.P[(e + 1) % 3]));
      }
    }
  }
}

namespace {

/// True when entry a belongs before entry b: longer first, then by object, triangle, edge.
bool before(const EdgeTable& t, std::size_t a, std::size_t b) {
  if (t.length[a] != t.length[b]) return t.length[a] > t.length[b];
  if (t.object[a] != t.object[b]) return t.object[a] < t.object[b];
  if (t.triangle[a] != t.triangle[b]) return t.triangle[a] < t.triangle[b];
  return t.edge[a] < t.edge[b];
}

void swapEntries(EdgeTable& t, std::size_t a, std::size_t b) {
  std::swap(t.object[a], t.object[b]);
  std::swap(t.triangle[a], t.triangle[b]);
  std::swap(t.edge[a], t.edge[b]);
  std::swap(t.length[a], t.length[b]);
}

/// Restores the heap below `root` in the range base .. base + count - 1; the top of the heap
/// is the entry that belongs last.
void siftDown(EdgeTable& t, std::size_t base, std::size_t root, std::size_t count) {
  for (;;) {
    std::size_t child = 2 * root + 1;
    if (child >= count) return;
    if (child + 1 < count && before(t, base + child, base + child + 1)) ++child;
    if (!before(t, base + root, base + child)) return;
    swapEntries(t, base + root, base + child);
    root = child;
  }
}

}  // namespace

void sortEdges(EdgeTable& edges, std::size_t first, std::size_t last) {
  // Heap sort: in place, without allocation, and O(n log n) whatever the input. The entries
  // are totally ordered (no two entries name the same side), so the result does not depend on
  // the sort's own order of work.
  if (last <= first || last >= edges.size()) return;
  const std::size_t count = last - first + 1;
  for (std::size_t i = count / 2; i-- > 0;) siftDown(edges, first, i, count);
  for (std::size_t end = count - 1; end > 0; --end) {
    swapEntries(edges, first, first + end);
    siftDown(edges, first, 0, end);
  }
}

}  // namespace foldra
