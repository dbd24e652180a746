// The longest-edge driver: one piece per triangle, then two passes of joins over the edge table,
// then the tabs fitted to their pieces.
#include <cmath>

#include "geometry/kernel.h"
#include "host/edge_marks.h"
#include "host/progress.h"
#include "host/run_state.h"
#include "host/trace.h"
#include "unfold/compact.h"
#include "unfold/joiner.h"
#include "unfold/unfold.h"

namespace foldra {

namespace {

gt& entryTriangle(const EdgeTable& edges, std::size_t i) {
  return *run.gtvec[edges.object[i]][edges.triangle[i]];
}

}  // namespace

void createPieces() { createPieces(run); }

void createPieces(RunState& state) {
  for (auto& list : state.gtvec) {
    for (auto& t : list) {
      if (!t->usable) continue;
      auto piece = std::make_unique<gtc>();
      flatten(*t);
      t->containerIndex = static_cast<std::int32_t>(state.containers.size());
      piece->addTriangle(t.get());
      state.containers.push_back(std::move(piece));
    }
  }
}

namespace {

/// The two passes over the sorted edge table. pieceOf(t) names t's piece; join(t, e, test)
/// joins the piece across side e of t onto t's piece.
template <class PieceOf, class Join>
void joinPasses(const EdgeTable& edges, PieceOf&& pieceOf, Join&& join) {
  const auto n = static_cast<std::int64_t>(edges.size());
  auto apart = [&](std::int64_t i) {
    const gt& t = entryTriangle(edges, static_cast<std::size_t>(i));
    return pieceOf(t) != pieceOf(*t.nb[edges.edge[static_cast<std::size_t>(i)]]);
  };
  auto flat = [&](std::int64_t i) {
    const gt& t = entryTriangle(edges, static_cast<std::size_t>(i));
    const int e = edges.edge[static_cast<std::size_t>(i)];
    // A triangle without area has no normal, so each of its sides has fold angle 0 without
    // being flat: two triangles joined across its sides may lie on the same side of them and
    // overlap. Its sides wait for the second pass, which tests for collisions.
    // Nor is a side flat where the neighbour is folded back onto the triangle (normals opposite,
    // fold angle 0 as well), or where the two run the side the same way (turned faces): there
    // the plane can hold triangles that overlap in space, and this pass tests no collisions.
    const gt& g = *t.nb[e];
    const bool withArea = t.normal != Vec3{} && g.normal != Vec3{};
    const bool sameFacing = dot(t.normal, g.normal) > 0;
    const int s = t.nbedge[e];
    const bool opposite = s >= 0 && t.P[e] == g.P[(s + 1) % 3] && t.P[(e + 1) % 3] == g.P[s];
    return withArea && sameFacing && opposite && std::fabs(t.foldAngle[e]) < kPointTolerance;
  };
  auto attempt = [&](std::int64_t i, bool collisionTest) {
    return join(entryTriangle(edges, static_cast<std::size_t>(i)), edges.edge[static_cast<std::size_t>(i)],
                collisionTest);
  };

  auto marked = [&](std::int64_t i, std::uint8_t mark) {
    return (entryTriangle(edges, static_cast<std::size_t>(i)).marks[edges.edge[static_cast<std::size_t>(i)]] & mark) != 0;
  };
  // The edges a person marked as never cut join before all others, longest first, with the
  // collision test: where one cannot, the piece would overlap or leave the page.
  for (std::int64_t i = 0; i < n; ++i) {
    const gt& t = entryTriangle(edges, static_cast<std::size_t>(i));
    if (!marked(i, kMarkFold) || !apart(i) || !hingeable(t, edges.edge[static_cast<std::size_t>(i)])) continue;
    if (run.containers[static_cast<std::size_t>(pieceOf(t))]->valid) attempt(i, true);
  }

  // First pass: coplanar neighbours, shortest edge first, without the collision test.
  for (std::int64_t i = n - 1; i >= 0; --i) {
    if (flat(i) && apart(i) && !marked(i, kMarkCut)) attempt(i, false);
  }

  runTrace("vor der 2ten mergeschleife");
  // Second pass: every edge, longest first, with the collision test.
  host::StageProgress progress("Unfolding", n);
  for (std::int64_t j = 0; j < n; ++j) {
    const gt& t = entryTriangle(edges, static_cast<std::size_t>(j));
    if (!apart(j) || !hingeable(t, edges.edge[static_cast<std::size_t>(j)])) continue;
    const auto piece = static_cast<std::size_t>(pieceOf(t));
    if (!run.containers[piece]->valid) continue;
    [[maybe_unused]] const bool joined = attempt(j, true);
    runTrace("merge: ", j, ".) kw:", joined ? 1 : 0, " ");
    progress.step(j);
  }
}

/// One piece per triangle and the sorted edge table.
EdgeTable startUnfolding() {
  runTrace("Jetzt bin ich in Algokante!");
  createPieces();
  EdgeTable edges;
  createEdgeTab(edges);
  const auto n = static_cast<std::int64_t>(edges.size());
  if (n >= 2) sortEdges(edges, 0, static_cast<std::size_t>(n - 1));
  runTrace("vor der 1ten mergeschleife  z:", n - 1);
  return edges;
}

}  // namespace

void Algokante() { Algokante(unfoldOptions(settings)); }

void Algokante(const UnfoldOptions& options) {
  const EdgeTable edges = startUnfolding();
  Joiner joiner(run, options.page);
  joinPasses(
      edges, [&](const gt& t) { return joiner.pieceOf(t); },
      [&](gt& t, int e, bool collisionTest) { return joiner.join(t, e, collisionTest); });
  joiner.finish();
  fitLugs(run, options);
  applyTabMarks(run, options);
}

void AlgokanteDirect() {
  const EdgeTable edges = startUnfolding();
  joinPasses(
      edges, [](const gt& t) { return t.containerIndex; },
      [](gt& t, int e, bool collisionTest) {
        gtc& A = *run.containers[static_cast<std::size_t>(t.containerIndex)];
        gtc& B = *run.containers[static_cast<std::size_t>(t.nb[e]->containerIndex)];
        return merge(A, B, t, e, collisionTest);
      });
  fitLugs(run, unfoldOptions(settings));
  applyTabMarks(run, unfoldOptions(settings));
}

}  // namespace foldra
