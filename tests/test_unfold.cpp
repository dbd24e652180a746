// The unfolding over many meshes, checked by one checker; then the edge table, the piece
// container, the merge and the driver case by case.
#include <gtest/gtest.h>

#include <cmath>

#include "geometry/kernel.h"
#include "support.h"
#include "unfold/unfold.h"

using namespace testing_support;
using foldra::gt;
using foldra::run;

namespace {

struct MeshCase {
  const char* name;
  std::function<std::unique_ptr<scene::Object>()> make;
};

std::vector<MeshCase> meshSuite() {
  return {
      {"tetrahedron", [] { return tetrahedron(); }},
      {"cube", [] { return cube(); }},
      {"icosphere1", [] { return icosphere(1); }},
      {"icosphere2", [] { return icosphere(2); }},
      {"torus", [] { return torus(16, 8); }},
      {"grid", [] { return grid(6, 4); }},
      {"open cylinder", [] { return openCylinder(12, 3); }},
      {"non-manifold edge", [] { return nonManifold(); }},
      {"bumpy sphere 1", [] { return bumpySphere(1); }},
      {"bumpy sphere 2", [] { return bumpySphere(2); }},
      {"bumpy sphere 3", [] { return bumpySphere(3, 3); }},
  };
}

struct Variant {
  bool tabs;
  bool page;
};

}  // namespace

TEST(Unfolding, EveryMeshPassesTheChecker) {
  for (const MeshCase& mesh : meshSuite()) {
    for (Variant v : {Variant{true, false}, Variant{false, false}, Variant{true, true}, Variant{false, true}}) {
      LinkedHost h;
      h.add(mesh.make());
      foldra::Settings s;
      s.Laschenflag = v.tabs;
      s.Seitenflag = v.page;
      s.Seitenbreite = 18;
      s.Seitenhoehe = 14;
      s.Laschenbreite = 1.5;
      ASSERT_TRUE(h.unfold(s)) << mesh.name;
      CheckOptions options;
      options.tabs = v.tabs;
      options.pageLimit = v.page;
      options.pageWidth = s.Seitenbreite;
      options.pageHeight = s.Seitenhoehe;
      const auto failures = checkUnfolding(options);
      std::string all;
      for (const auto& f : failures) all += "\n  " + f;
      EXPECT_TRUE(failures.empty()) << mesh.name << " tabs " << v.tabs << " page " << v.page << ":" << all;
    }
  }
}

TEST(Unfolding, FlatConnectedMeshBecomesOnePiece) {
  for (bool tabs : {true, false}) {
    LinkedHost h;
    h.add(grid(7, 5));
    foldra::Settings s;
    s.Laschenflag = tabs;
    ASSERT_TRUE(h.unfold(s));
    EXPECT_EQ(validPieces(), 1);
    EXPECT_TRUE(checkUnfolding({tabs, false}).empty());
  }
}

TEST(Unfolding, PageLimitSplitsAFlatMeshIntoPiecesThatFit) {
  LinkedHost h;
  h.add(grid(10, 10));
  foldra::Settings s;
  s.Seitenflag = true;
  s.Seitenbreite = 4;
  s.Seitenhoehe = 3;
  ASSERT_TRUE(h.unfold(s));
  EXPECT_GT(validPieces(), 8);
  CheckOptions options{true, true, 4, 3};
  EXPECT_TRUE(checkUnfolding(options).empty());
}

TEST(Unfolding, ObjectsThatTouchAreNeverJoined) {
  LinkedHost h;
  h.add(grid(2, 1));
  auto second = grid(2, 1);
  for (auto& p : second->points) p.x += 2;  // shares the edge x = 2 in space
  h.add(std::move(second));
  ASSERT_TRUE(h.unfold(foldra::Settings{}));
  EXPECT_EQ(validPieces(), 2);
  for (const auto& c : run.containers) {
    if (!c->valid) continue;
    const int object = c->triangles.front()->objectIndex;
    for (const gt* t : c->triangles) EXPECT_EQ(t->objectIndex, object);
  }
}

TEST(Unfolding, NoTrianglesGivesNoPieces) {
  LinkedHost h;
  auto empty = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  empty->selected = true;
  h.add(std::move(empty));
  ASSERT_TRUE(h.unfold(foldra::Settings{}));
  EXPECT_EQ(run.gtvec.size(), 1u);
  EXPECT_TRUE(run.containers.empty());
}
