// Reading mesh files into a document: objects, welding, polygon splitting, materials, tags and
// the refusal of bad files.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "formats/mesh_io.h"
#include "mesh_test_support.h"

namespace {

using meshtest::TempDir;
using meshtest::write;

scene::Point at(const scene::Object& o, std::int32_t index) {
  return o.points.at(static_cast<std::size_t>(index));
}

void expectPoint(const scene::Point& p, float x, float y, float z) {
  EXPECT_FLOAT_EQ(p.x, x);
  EXPECT_FLOAT_EQ(p.y, y);
  EXPECT_FLOAT_EQ(p.z, z);
}

void expectUV(const scene::Point& p, float u, float v) {
  EXPECT_FLOAT_EQ(p.x, u);
  EXPECT_FLOAT_EQ(p.y, v);
}

TEST(MeshImport, ObjWithTwoMaterialsBecomesOneObjectWithSelectionsTextureTagsAndUVs) {
  TempDir dir;
  write(dir.file("plate.mtl"),
        "newmtl Red\nKd 1 0 0\nmap_Kd textures\\red.png\n\n"
        "newmtl Blue\nKd 0 0 1\n");
  const std::string path = write(dir.file("plate.obj"),
                                 "mtllib plate.mtl\no plate\n"
                                 "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 0 1 0\nv 1 1 0\nv 2 1 0\n"
                                 "vt 0 0\nvt 0.5 0\nvt 0.5 1\nvt 0 1\nvt 0.6 0\nvt 1 0\nvt 1 1\nvt 0.6 1\n"
                                 "usemtl Red\nf 1/1 2/2 5/3 4/4\n"
                                 "usemtl Blue\nf 2/5 3/6 6/7 5/8\n");
  // Content already in the document stays where it is; the file's content is appended.
  scene::Document document;
  document.addMaterial(std::make_unique<scene::Material>())->name = "Existing";
  document.append(std::make_unique<scene::Object>())->name = "Existing";

  std::string error;
  ASSERT_TRUE(formats::importMesh(path, document, &error)) << error;
  ASSERT_EQ(document.objects().size(), 2u);
  ASSERT_EQ(document.materials().size(), 3u);
  EXPECT_EQ(document.objects()[0]->name, "Existing");
  EXPECT_EQ(document.materials()[0]->name, "Existing");

  const scene::Object& plate = *document.objects()[1];
  EXPECT_EQ(plate.name, "plate");
  EXPECT_EQ(plate.type, sdk::kObjectPolygon);
  EXPECT_FALSE(plate.selected);
  // Eight corners in the file (the shared edge has its own texture coordinates on each side),
  // six points after welding, and the two quadrangles stay quadrangles that share an edge.
  ASSERT_EQ(plate.points.size(), 6u);
  ASSERT_EQ(plate.polygons.size(), 2u);
  const scene::Polygon& left = plate.polygons[0];
  const scene::Polygon& right = plate.polygons[1];
  EXPECT_FALSE(scene::isTriangle(left));
  EXPECT_FALSE(scene::isTriangle(right));
  expectPoint(at(plate, left.a), 0, 0, 0);
  expectPoint(at(plate, left.b), 1, 0, 0);
  expectPoint(at(plate, left.c), 1, 1, 0);
  expectPoint(at(plate, left.d), 0, 1, 0);
  EXPECT_EQ(right.a, left.b);
  EXPECT_EQ(right.d, left.c);
  expectPoint(at(plate, right.b), 2, 0, 0);
  expectPoint(at(plate, right.c), 2, 1, 0);

  const scene::Material& red = *document.materials()[1];
  const scene::Material& blue = *document.materials()[2];
  EXPECT_EQ(red.name, "Red");
  EXPECT_EQ(red.color, (std::array<double, 3>{1, 0, 0}));
  EXPECT_EQ(red.texture, (dir.path() / "textures" / "red.png").string());
  EXPECT_EQ(blue.name, "Blue");
  EXPECT_EQ(blue.color, (std::array<double, 3>{0, 0, 1}));
  EXPECT_EQ(blue.texture, "");

  ASSERT_EQ(plate.tags.size(), 5u);
  const scene::Tag& redTexture = *plate.tags[0];
  const scene::Tag& redSelection = *plate.tags[1];
  const scene::Tag& blueTexture = *plate.tags[2];
  const scene::Tag& blueSelection = *plate.tags[3];
  const scene::Tag& uvw = *plate.tags[4];
  EXPECT_EQ(redTexture.type, sdk::kTagTexture);
  EXPECT_EQ(redTexture.material, &red);
  EXPECT_EQ(redTexture.restriction, "Red");
  EXPECT_EQ(redSelection.type, sdk::kTagPolygonSelection);
  EXPECT_EQ(redSelection.name, "Red");
  EXPECT_EQ(redSelection.selection.indices(), (std::set<std::int32_t>{0}));
  EXPECT_EQ(blueTexture.material, &blue);
  EXPECT_EQ(blueTexture.restriction, "Blue");
  EXPECT_EQ(blueSelection.name, "Blue");
  EXPECT_EQ(blueSelection.selection.indices(), (std::set<std::int32_t>{1}));

  ASSERT_EQ(uvw.type, sdk::kTagUVW);
  ASSERT_EQ(uvw.uvw.size(), 2u);
  expectUV(uvw.uvw[0].a, 0, 0);
  expectUV(uvw.uvw[0].b, 0.5f, 0);
  expectUV(uvw.uvw[0].c, 0.5f, 1);
  expectUV(uvw.uvw[0].d, 0, 1);
  expectUV(uvw.uvw[1].a, 0.6f, 0);
  expectUV(uvw.uvw[1].b, 1, 0);
  expectUV(uvw.uvw[1].c, 1, 1);
  expectUV(uvw.uvw[1].d, 0.6f, 1);
}

/// The OBJ of a convex pentagon, of a concave L-shaped hexagon in a tilted plane and of a
/// pentagon whose corners lie on a line. The hexagon starts at a corner from which a fan would
/// fold a triangle over the notch; two of its corners lie on a line with a third.
const char* kPolygonsObj =
    "o penta\n"
    "v 0 0 0\nv 2 0 0\nv 3 1 0\nv 1 2 0\nv -1 1 0\n"
    "f 1 2 3 4 5\n"
    "o hexa\n"
    "v 2 0.6 5.8\nv 1 0.6 5.8\nv 1 1.2 6.6\nv 0 1.2 6.6\nv 0 0 5\nv 2 0 5\n"
    "vt 1 0.5\nvt 0.5 0.5\nvt 0.5 1\nvt 0 1\nvt 0 0\nvt 1 0\n"
    "f 6/1 7/2 8/3 9/4 10/5 11/6\n"
    "o line\n"
    "v 0 0 0\nv 1 0 0\nv 2 0 0\nv 3 0 0\nv 4 0 0\n"
    "f 12 13 14 15 16\n";

TEST(MeshImport, PolygonsOfMoreThanFourCornersAreSplitByEarClippingInTheirPlane) {
  TempDir dir;
  const std::string path = write(dir.file("polygons.obj"), kPolygonsObj);
  scene::Document document;
  std::string error;
  ASSERT_TRUE(formats::importMesh(path, document, &error)) << error;
  ASSERT_EQ(document.objects().size(), 3u);

  const scene::Object& penta = *document.objects()[0];
  EXPECT_EQ(penta.name, "penta");
  EXPECT_EQ(penta.points.size(), 5u);
  ASSERT_EQ(penta.polygons.size(), 3u);
  double pentaArea = 0;
  for (const scene::Polygon& q : penta.polygons) {
    EXPECT_TRUE(scene::isTriangle(q));
    const auto area = meshtest::areaVector(at(penta, q.a), at(penta, q.b), at(penta, q.c));
    EXPECT_GT(area[2], 0) << "a triangle is turned against the pentagon";
    pentaArea += area[2];
  }
  EXPECT_NEAR(pentaArea, 5.0, 1e-5);

  const scene::Object& hexa = *document.objects()[1];
  EXPECT_EQ(hexa.points.size(), 6u);
  ASSERT_EQ(hexa.polygons.size(), 4u);
  const scene::Tag* uvw = hexa.tag(sdk::kTagUVW, 0);
  ASSERT_NE(uvw, nullptr);
  ASSERT_EQ(uvw->uvw.size(), 4u);
  // The plane's normal: x cross (0, 0.6, 0.8). Every triangle must face the same way as the
  // hexagon and together they must cover its area exactly once.
  const double normal[3] = {0, -0.8, 0.6};
  double total = 0;
  for (std::size_t t = 0; t < hexa.polygons.size(); ++t) {
    const scene::Polygon& q = hexa.polygons[t];
    EXPECT_TRUE(scene::isTriangle(q));
    const auto area = meshtest::areaVector(at(hexa, q.a), at(hexa, q.b), at(hexa, q.c));
    const double along = area[0] * normal[0] + area[1] * normal[1] + area[2] * normal[2];
    EXPECT_GT(along, 1e-6) << "triangle " << t << " is flipped or empty";
    total += along;
    // Each corner keeps its own texture coordinate: (u, v) is half the in-plane position.
    const scene::UVWEntry& e = uvw->uvw[t];
    for (const auto& [point, uv] : {std::pair{q.a, e.a}, std::pair{q.b, e.b}, std::pair{q.c, e.c}}) {
      EXPECT_NEAR(uv.x * 2, at(hexa, point).x, 1e-5);
      EXPECT_NEAR(uv.y * 2, at(hexa, point).y / 0.6, 1e-5);
    }
    EXPECT_EQ(e.d.x, e.c.x);
    EXPECT_EQ(e.d.y, e.c.y);
  }
  EXPECT_NEAR(total, 3.0, 1e-5);

  // No plane, no ears: the degenerate pentagon still becomes three triangles over its corners.
  const scene::Object& line = *document.objects()[2];
  EXPECT_EQ(line.points.size(), 5u);
  ASSERT_EQ(line.polygons.size(), 3u);
  std::set<std::int32_t> used;
  for (const scene::Polygon& q : line.polygons) used.insert({q.a, q.b, q.c, q.d});
  EXPECT_EQ(used.size(), 5u);
}

TEST(MeshImport, StlCornersAreWeldedByPosition) {
  TempDir dir;
  const std::string path = write(dir.file("square.stl"),
                                 "solid square\n"
                                 "facet normal 0 0 1\n outer loop\n"
                                 "  vertex 0 0 0\n  vertex 1 0 0\n  vertex 1 1 0\n"
                                 " endloop\nendfacet\n"
                                 "facet normal 0 0 1\n outer loop\n"
                                 "  vertex 0 0 0\n  vertex 1 1 0\n  vertex 0 1 0\n"
                                 " endloop\nendfacet\n"
                                 "endsolid square\n");
  scene::Document document;
  std::string error;
  ASSERT_TRUE(formats::importMesh(path, document, &error)) << error;
  ASSERT_EQ(document.objects().size(), 1u);
  const scene::Object& square = *document.objects()[0];
  EXPECT_EQ(square.points.size(), 4u);
  ASSERT_EQ(square.polygons.size(), 2u);
  int shared = 0;
  for (const auto& [edge, count] : meshtest::edgeUse(square)) shared += count == 2 ? 1 : 0;
  EXPECT_EQ(shared, 1) << "the diagonal is not one edge of both triangles";
  EXPECT_EQ(square.tag(sdk::kTagUVW, 0), nullptr) << "a file without texture coordinates got a UVW tag";
}

/// A PLY header for `vertices` points with x, y, z, s, t and `faces` faces.
std::string plyHeader(int vertices, int faces) {
  return "ply\nformat ascii 1.0\nelement vertex " + std::to_string(vertices) +
         "\nproperty float x\nproperty float y\nproperty float z\nproperty float s\nproperty float t\n"
         "element face " +
         std::to_string(faces) + "\nproperty list uchar int vertex_indices\nend_header\n";
}

TEST(MeshImport, PlyKeepsQuadranglesAndNamesItsNamelessMaterial) {
  TempDir dir;
  const std::string path =
      write(dir.file("strip.ply"), plyHeader(5, 2) +
                                       "0 0 0 0 0\n1 0 0 0.5 0\n1 1 0 0.5 1\n0 1 0 0 1\n2 0 0 1 0\n"
                                       "4 0 1 2 3\n3 1 4 2\n");
  scene::Document document;
  std::string error;
  ASSERT_TRUE(formats::importMesh(path, document, &error)) << error;
  ASSERT_EQ(document.objects().size(), 1u);
  const scene::Object& strip = *document.objects()[0];
  EXPECT_EQ(strip.points.size(), 5u);
  ASSERT_EQ(strip.polygons.size(), 2u);
  EXPECT_FALSE(scene::isTriangle(strip.polygons[0]));
  EXPECT_TRUE(scene::isTriangle(strip.polygons[1]));
  const scene::Tag* uvw = strip.tag(sdk::kTagUVW, 0);
  ASSERT_NE(uvw, nullptr);
  ASSERT_EQ(uvw->uvw.size(), 2u);
  expectUV(uvw->uvw[1].b, 1, 0);
  expectUV(uvw->uvw[1].d, 0.5f, 1);
  ASSERT_EQ(document.materials().size(), 1u);
  EXPECT_EQ(document.materials()[0]->name, "Material 1");
}

std::string base64(const std::string& bytes) {
  static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t n = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) n |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) n |= static_cast<std::uint8_t>(bytes[i + 2]);
    out += digits[(n >> 18) & 63];
    out += digits[(n >> 12) & 63];
    out += i + 1 < bytes.size() ? digits[(n >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? digits[n & 63] : '=';
  }
  return out;
}

/// A glTF file with one triangle (accessor 0) and the given nodes, meshes and materials.
std::string gltfWithTriangle(const std::string& nodes, const std::string& meshes,
                             const std::string& materials) {
  const float positions[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  const std::string bytes(reinterpret_cast<const char*>(positions), sizeof positions);
  return R"({
  "asset": {"version": "2.0"},
  "scene": 0,
  "scenes": [{"nodes": [0]}],
  "nodes": )" +
         nodes + R"(,
  "meshes": )" +
         meshes + R"(,
  "materials": )" +
         materials + R"(,
  "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                 "min": [0, 0, 0], "max": [1, 1, 0]}],
  "bufferViews": [{"buffer": 0, "byteLength": 36}],
  "buffers": [{"byteLength": 36, "uri": "data:application/octet-stream;base64,)" +
         base64(bytes) + R"("}]
})";
}

TEST(MeshImport, NodeTransformsAreBakedAndASharedMaterialIsMadeOnce) {
  TempDir dir;
  // The triangle is used by a translated parent node and by its scaled child.
  const std::string path =
      write(dir.file("nested.gltf"),
            gltfWithTriangle(
                R"([{"name": "parent", "translation": [10, 0, 0], "mesh": 0, "children": [1]},
                          {"name": "child", "scale": [2, 2, 2], "mesh": 0}])",
                R"([{"primitives": [{"attributes": {"POSITION": 0}, "material": 0}]}])",
                R"([{"name": "Paint", "pbrMetallicRoughness": {"baseColorFactor": [0.25, 0.5, 0.75, 1]}}])"));
  scene::Document document;
  std::string error;
  ASSERT_TRUE(formats::importMesh(path, document, &error)) << error;
  ASSERT_EQ(document.objects().size(), 2u);
  const scene::Object& parent = *document.objects()[0];
  const scene::Object& child = *document.objects()[1];
  EXPECT_EQ(parent.name, "parent");
  EXPECT_EQ(child.name, "child");
  ASSERT_EQ(parent.points.size(), 3u);
  ASSERT_EQ(child.points.size(), 3u);
  expectPoint(parent.points[0], 10, 0, 0);
  expectPoint(parent.points[1], 11, 0, 0);
  expectPoint(parent.points[2], 10, 1, 0);
  expectPoint(child.points[0], 10, 0, 0);
  expectPoint(child.points[1], 12, 0, 0);
  expectPoint(child.points[2], 10, 2, 0);

  ASSERT_EQ(document.materials().size(), 1u);
  const scene::Material& paint = *document.materials()[0];
  EXPECT_EQ(paint.name, "Paint");
  EXPECT_NEAR(paint.color[0], 0.25, 1e-6);
  EXPECT_NEAR(paint.color[1], 0.5, 1e-6);
  EXPECT_NEAR(paint.color[2], 0.75, 1e-6);
  EXPECT_EQ(parent.tag(sdk::kTagTexture, 0)->material, &paint);
  EXPECT_EQ(child.tag(sdk::kTagTexture, 0)->material, &paint);
}

TEST(MeshImport, MaterialsOfTheSameNameGetSelectionsOfDistinctNames) {
  TempDir dir;
  const std::string path =
      write(dir.file("twins.gltf"),
            gltfWithTriangle(R"([{"name": "twins", "mesh": 0}])",
                             R"([{"primitives": [{"attributes": {"POSITION": 0}, "material": 0},
                                           {"attributes": {"POSITION": 0}, "material": 1}]}])",
                             R"([{"name": "Paint"}, {"name": "Paint"}, {"name": ""}])"));
  scene::Document document;
  std::string error;
  ASSERT_TRUE(formats::importMesh(path, document, &error)) << error;
  ASSERT_EQ(document.materials().size(), 2u) << "the unused material was made too";
  EXPECT_EQ(document.materials()[0]->name, "Paint");
  EXPECT_EQ(document.materials()[1]->name, "Paint");
  const scene::Object& twins = *document.objects().at(0);
  ASSERT_EQ(twins.polygons.size(), 2u);
  for (std::int32_t m = 0; m < 2; ++m) {
    const scene::Tag* texture = twins.tag(sdk::kTagTexture, m);
    const scene::Tag* selection = twins.tag(sdk::kTagPolygonSelection, m);
    ASSERT_TRUE(texture && selection);
    EXPECT_EQ(texture->material, document.materials()[static_cast<std::size_t>(m)].get());
    EXPECT_EQ(texture->restriction, selection->name);
    EXPECT_EQ(selection->selection.indices(), (std::set<std::int32_t>{m}));
  }
  EXPECT_NE(twins.tag(sdk::kTagPolygonSelection, 0)->name, twins.tag(sdk::kTagPolygonSelection, 1)->name);
}

struct BadFile {
  const char* name;
  const char* content;  // null: the file is missing or made beforehand
  const char* problem;
};

TEST(MeshImport, BadFilesGiveOneLineNamingTheFileAndLeaveTheDocumentAlone) {
  const BadFile cases[] = {
      {"missing.obj", nullptr, "no such file"},
      {"empty.obj", "", "the file is empty"},
      {"garbage.xyz", "this is not a mesh\n", "No suitable reader"},
      {"garbage.obj", "this is not a mesh\n\x01\x02\n", "no polygon mesh"},
      {"lines.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nl 1 2 3\np 1\n", "no polygon mesh"},
      {"nan.obj", "v nan 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "a point coordinate is not a finite number"},
      {"huge.obj", "v 1e40 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", "a point coordinate is not a finite number"},
      {"nan-uv.ply", nullptr, "a texture coordinate is not a finite number"},
      {"bad-index.ply", nullptr, ""},
      // Assimp reads on forever after an end_header that a vertical tab follows.
      {"vtab.ply", "ply\nformat ascii 1.0\nelement vertex 0\nend_header\x0b\n", "the PLY header does not end"},
  };
  TempDir dir;
  write(dir.file("nan-uv.ply"), plyHeader(3, 1) + "0 0 0 nan 0\n1 0 0 1 0\n0 1 0 0 1\n3 0 1 2\n");
  write(dir.file("bad-index.ply"), plyHeader(3, 1) + "0 0 0 0 0\n1 0 0 1 0\n0 1 0 0 1\n3 0 1 7\n");
  for (const BadFile& bad : cases) {
    SCOPED_TRACE(bad.name);
    const std::string path = dir.file(bad.name);
    if (bad.content) write(path, bad.content);
    scene::Document document;
    document.addMaterial(std::make_unique<scene::Material>());
    document.append(std::make_unique<scene::Object>());
    std::string error;
    EXPECT_FALSE(formats::importMesh(path, document, &error));
    EXPECT_EQ(error.rfind(path + ": ", 0), 0u) << error;
    EXPECT_GT(error.size(), path.size() + 2) << "no problem named";
    EXPECT_NE(error.find(bad.problem), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    EXPECT_EQ(document.objects().size(), 1u);
    EXPECT_EQ(document.materials().size(), 1u);
  }
}

TEST(MeshImport, AFolderIsRefused) {
  TempDir dir;
  scene::Document document;
  std::string error;
  EXPECT_FALSE(formats::importMesh(dir.path().string(), document, &error));
  EXPECT_EQ(error, dir.path().string() + ": is a folder, not a file");
}

}  // namespace
