// Real meshes from the shared folder beside the project (never copied into it). Each test skips
// when the folder is absent, as on a user's fresh machine.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "formats/mesh_io.h"
#include "mesh_test_support.h"

namespace {

namespace fs = std::filesystem;

class SharedMeshes : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::is_directory(folder_)) GTEST_SKIP() << "no shared meshes at " << folder_;
  }

  /// Reads a shared mesh into `document`; a failure ends the test.
  void importShared(const std::string& name, scene::Document& document) {
    std::string error;
    ASSERT_TRUE(formats::importMesh((folder_ / name).string(), document, &error)) << error;
  }

 private:
  const fs::path folder_{FOLDRA_SHARED_MESHES};
};

void expectClosed(const scene::Object& object) {
  for (const auto& [edge, count] : meshtest::edgeUse(object)) {
    ASSERT_EQ(count, 2) << "edge " << edge.first << "-" << edge.second;
  }
}

TEST_F(SharedMeshes, SpotIsOneClosedSurfaceAcrossItsTextureSeams) {
  scene::Document document;
  ASSERT_NO_FATAL_FAILURE(importShared("spot.obj", document));
  ASSERT_EQ(document.objects().size(), 1u);
  const scene::Object& spot = *document.objects()[0];
  ASSERT_EQ(spot.polygons.size(), 5856u);
  EXPECT_EQ(spot.points.size(), 2930u);
  expectClosed(spot);

  // The seams are still in the texture coordinates: some point has different ones in
  // different triangles.
  const scene::Tag* uvw = spot.tag(sdk::kTagUVW, 0);
  ASSERT_NE(uvw, nullptr);
  ASSERT_EQ(uvw->uvw.size(), spot.polygons.size());
  std::map<std::int32_t, std::set<std::pair<float, float>>> uvsOfPoint;
  for (std::size_t p = 0; p < spot.polygons.size(); ++p) {
    const scene::Polygon& q = spot.polygons[p];
    const scene::UVWEntry& e = uvw->uvw[p];
    uvsOfPoint[q.a].insert({e.a.x, e.a.y});
    uvsOfPoint[q.b].insert({e.b.x, e.b.y});
    uvsOfPoint[q.c].insert({e.c.x, e.c.y});
  }
  std::size_t onSeams = 0;
  for (const auto& [point, uvs] : uvsOfPoint) onSeams += uvs.size() > 1 ? 1 : 0;
  EXPECT_GT(onSeams, 0u);
}

TEST_F(SharedMeshes, MapBumpKeepsBothMaterialsWithoutItsImage) {
  scene::Document document;
  ASSERT_NO_FATAL_FAILURE(importShared("map-bump.obj", document));
  ASSERT_EQ(document.objects().size(), 1u);
  const scene::Object& cube = *document.objects()[0];
  EXPECT_EQ(cube.name, "Cube");
  EXPECT_EQ(cube.polygons.size(), 400u);
  ASSERT_EQ(document.materials().size(), 2u);
  EXPECT_EQ(document.materials()[0]->name, "Material.001");
  EXPECT_EQ(document.materials()[1]->name, "Material.003");
  // Its only image is a bump map, which is not a diffuse texture.
  EXPECT_EQ(document.materials()[0]->texture, "");
  EXPECT_EQ(document.materials()[1]->color, (std::array<double, 3>{1, 1, 1}));

  // Every polygon in exactly one of the two selections.
  std::map<std::int32_t, int> membership;
  for (std::int32_t s = 0; s < 2; ++s) {
    const scene::Tag* selection = cube.tag(sdk::kTagPolygonSelection, s);
    ASSERT_NE(selection, nullptr);
    EXPECT_EQ(cube.tag(sdk::kTagTexture, s)->restriction, selection->name);
    for (std::int32_t p : selection->selection.indices()) ++membership[p];
  }
  EXPECT_EQ(membership.size(), 400u);
  for (const auto& [polygon, count] : membership) EXPECT_EQ(count, 1) << "polygon " << polygon;
}

TEST_F(SharedMeshes, HourglassSharesOnlyTheTouchingPoint) {
  scene::Document document;
  ASSERT_NO_FATAL_FAILURE(importShared("hourglass_ico.obj", document));
  ASSERT_EQ(document.objects().size(), 1u);
  const scene::Object& hourglass = *document.objects()[0];
  EXPECT_EQ(hourglass.polygons.size(), 40u);
  // Two icospheres of twelve points each, one point in common.
  EXPECT_EQ(hourglass.points.size(), 23u);
  expectClosed(hourglass);
  std::map<std::int32_t, int> trianglesAtPoint;
  for (const scene::Polygon& q : hourglass.polygons) {
    for (std::int32_t i : {q.a, q.b, q.c}) ++trianglesAtPoint[i];
  }
  int touching = 0;
  for (const auto& [point, count] : trianglesAtPoint) touching += count == 10 ? 1 : 0;
  EXPECT_EQ(touching, 1);
}

TEST_F(SharedMeshes, SpotSurvivesEveryFormat) {
  scene::Document document;
  ASSERT_NO_FATAL_FAILURE(importShared("spot.obj", document));
  const meshtest::TempDir dir;
  std::string error;
  for (const char* name : {"spot.obj", "spot.gltf", "spot.glb", "spot.stl", "spot.ply"}) {
    SCOPED_TRACE(name);
    const std::vector<const scene::Object*> objects{document.objects()[0].get()};
    ASSERT_TRUE(formats::exportMesh(document, objects, dir.file(name), &error)) << error;
    scene::Document back;
    ASSERT_TRUE(formats::importMesh(dir.file(name), back, &error)) << error;
    ASSERT_EQ(back.objects().size(), 1u);
    EXPECT_EQ(back.objects()[0]->polygons.size(), 5856u);
    EXPECT_EQ(back.objects()[0]->points.size(), 2930u);
    expectClosed(*back.objects()[0]);
  }
}

}  // namespace
