// Writing mesh files: every format read back, the material a polygon gets, side-file names,
// identical bytes for identical input, nothing left behind by a failed export, glTF containers
// checked piece by piece, shared vertices, embedded textures and names that are not text.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "formats/mesh_io.h"
#include "mesh_test_support.h"

namespace {

using meshtest::TempDir;

scene::Material* addMaterial(scene::Document& document, const std::string& name, std::array<double, 3> color,
                             const std::string& texture) {
  auto material = std::make_unique<scene::Material>();
  material->name = name;
  material->color = color;
  material->texture = texture;
  return document.addMaterial(std::move(material));
}

scene::Tag* addTexture(scene::Object& object, scene::Material* material, const std::string& restriction) {
  scene::Tag* tag = object.addTag(sdk::kTagTexture, material->name);
  tag->material = material;
  tag->restriction = restriction;
  return tag;
}

scene::Tag* addSelection(scene::Object& object, const std::string& name, std::vector<std::int32_t> polygons) {
  scene::Tag* tag = object.addTag(sdk::kTagPolygonSelection, name);
  for (std::int32_t p : polygons) tag->selection.add(p);
  return tag;
}

scene::UVWEntry uvw(scene::Point a, scene::Point b, scene::Point c, scene::Point d) { return {a, b, c, d}; }

/// Two objects with two materials and texture coordinates. "Panel": two quadrangles side by
/// side with a texture seam between them, the left one red through a restricted texture tag
/// (which beats the earlier unrestricted blue one), the right one blue. "Roof": a triangle and
/// a quadrangle out of the plane, red through an unrestricted tag.
std::unique_ptr<scene::Document> twoObjects(const std::string& redTexture) {
  auto document = std::make_unique<scene::Document>();
  scene::Material* red = addMaterial(*document, "Red", {1, 0, 0}, redTexture);
  scene::Material* blue = addMaterial(*document, "Blue", {0, 0, 1}, "");

  auto panel = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  panel->name = "Panel";
  panel->points = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}, {1, 1, 0}, {2, 1, 0}};
  panel->polygons = {{0, 1, 4, 3}, {1, 2, 5, 4}};
  addTexture(*panel, blue, "");
  addTexture(*panel, red, "left");
  addSelection(*panel, "left", {0});
  panel->addTag(sdk::kTagUVW, "UVW")->uvw = {uvw({0, 0, 0}, {0.5f, 0, 0}, {0.5f, 1, 0}, {0, 1, 0}),
                                             uvw({0.625f, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0.625f, 1, 0})};
  document->append(std::move(panel));

  auto roof = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  roof->name = "Roof";
  roof->points = {{0, 3, 0}, {2, 3, 0}, {1, 4, 0.5f}, {3, 3, 0}, {3, 4, 0.5f}};
  roof->polygons = {{0, 1, 2, 2}, {1, 3, 4, 2}};
  addTexture(*roof, red, "");
  roof->addTag(sdk::kTagUVW, "UVW")->uvw = {
      uvw({0, 0, 0}, {1, 0, 0}, {0.5f, 1, 0}, {0.5f, 1, 0}),
      uvw({0, 0.25f, 0}, {0.75f, 0.25f, 0}, {0.5f, 0.5f, 0}, {0.25f, 0.375f, 0})};
  document->append(std::move(roof));
  return document;
}

std::vector<const scene::Object*> objectsOf(const scene::Document& document) {
  std::vector<const scene::Object*> out;
  for (const auto& o : document.objects()) out.push_back(o.get());
  return out;
}

/// The material name of each polygon as an imported object marks it: a texture tag restricted
/// to the selection that holds the polygon. Empty where no tag covers it.
std::vector<std::string> importedMaterials(const scene::Object& object) {
  std::vector<std::string> names(object.polygons.size());
  for (const auto& tag : object.tags) {
    if (tag->type != sdk::kTagTexture || !tag->material) continue;
    for (const auto& selection : object.tags) {
      if (selection->type != sdk::kTagPolygonSelection || selection->name != tag->restriction) continue;
      for (std::int32_t p : selection->selection.indices())
        names.at(static_cast<std::size_t>(p)) = tag->material->name;
    }
  }
  return names;
}

/// A polygon described by what survives a file: material, corner positions and texture
/// coordinates (rounded), starting at its smallest corner so that only the winding matters.
std::string describe(const scene::Object& object, std::size_t p, const std::string& material, bool withUVs) {
  const scene::Polygon& q = object.polygons[p];
  const scene::Tag* uvwTag = object.tag(sdk::kTagUVW, 0);
  const scene::UVWEntry e = withUVs && uvwTag ? uvwTag->uvw.at(p) : scene::UVWEntry{};
  const std::int32_t points[4] = {q.a, q.b, q.c, q.d};
  const scene::Point uvs[4] = {e.a, e.b, e.c, e.d};
  std::vector<std::string> corners;
  for (int k = 0; k < (scene::isTriangle(q) ? 3 : 4); ++k) {
    const scene::Point& v = object.points.at(static_cast<std::size_t>(points[k]));
    char text[128];
    std::snprintf(text, sizeof text, "(%.4f %.4f %.4f | %.4f %.4f)", v.x, v.y, v.z, uvs[k].x, uvs[k].y);
    corners.push_back(text);
  }
  std::rotate(corners.begin(), std::min_element(corners.begin(), corners.end()), corners.end());
  std::string out = material + ":";
  for (const auto& c : corners) out += " " + c;
  return out;
}

/// Every polygon of the document described, sorted.
std::vector<std::string> describeAll(
    const scene::Document& document, bool withMaterials, bool withUVs,
    const std::map<const scene::Object*, std::vector<std::string>>& given = {}) {
  std::vector<std::string> out;
  for (const auto& object : document.objects()) {
    const auto materials = given.count(object.get()) ? given.at(object.get()) : importedMaterials(*object);
    for (std::size_t p = 0; p < object->polygons.size(); ++p) {
      out.push_back(describe(*object, p, withMaterials ? materials[p] : "", withUVs));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

/// The source document as a file of the format should bring it back: quadrangles cut the
/// host's way where the format needs triangles, each polygon with the material it was given.
std::vector<std::string> expectedPolygons(bool keepsQuads, bool withMaterials, bool withUVs) {
  auto source = twoObjects("/textures/red.png");
  std::map<const scene::Object*, std::vector<std::string>> materials;
  for (const auto& object : source->objects()) {
    const std::vector<std::string> given = object->name == "Panel" ? std::vector<std::string>{"Red", "Blue"}
                                                                   : std::vector<std::string>{"Red", "Red"};
    std::vector<std::string>& names = materials[object.get()];
    for (std::size_t p = 0; p < given.size(); ++p) {
      names.push_back(given[p]);
      // A quadrangle becomes two triangles in its place.
      if (!keepsQuads && !scene::isTriangle(object->polygons[p])) names.push_back(given[p]);
    }
    if (!keepsQuads) scene::triangulate(*object);
  }
  return describeAll(*source, withMaterials, withUVs, materials);
}

struct FormatCase {
  const char* file;
  std::vector<const char*> sideFiles;
  bool keepsQuads;
  bool keepsObjects;
  bool keepsMaterials;
  bool keepsUVs;
};

const FormatCase kFormats[] = {
    {"two parts.obj", {"two parts.mtl"}, true, true, true, true},
    {"two parts.gltf", {"two parts.bin"}, false, true, true, true},
    {"two parts.glb", {}, false, true, true, true},
    {"two parts.stl", {}, false, false, false, false},
    {"two parts.ply", {}, false, false, false, true},
};

TEST(MeshExport, EveryFormatReadsBackWithItsPolygonsMaterialsAndUVs) {
  for (const FormatCase& format : kFormats) {
    SCOPED_TRACE(format.file);
    TempDir dir;
    const auto source = twoObjects("/textures/red.png");
    const std::string path = dir.file(format.file);
    std::string error;
    ASSERT_TRUE(formats::exportMesh(*source, objectsOf(*source), path, &error)) << error;

    std::vector<std::string> expectedFiles{format.file};
    for (const char* side : format.sideFiles) expectedFiles.push_back(side);
    std::sort(expectedFiles.begin(), expectedFiles.end());
    EXPECT_EQ(dir.names(), expectedFiles) << "a file is missing or a temporary one was left";

    scene::Document back;
    ASSERT_TRUE(formats::importMesh(path, back, &error)) << error;
    if (format.keepsObjects) {
      ASSERT_EQ(back.objects().size(), 2u);
      EXPECT_EQ(back.objects()[0]->name, "Panel");
      EXPECT_EQ(back.objects()[1]->name, "Roof");
      // Welding finds the points again: no corner was lost or duplicated on the way.
      EXPECT_EQ(back.objects()[0]->points.size(), 6u);
      EXPECT_EQ(back.objects()[1]->points.size(), 5u);
    } else {
      ASSERT_EQ(back.objects().size(), 1u);
      EXPECT_EQ(back.objects()[0]->points.size(), 11u);
    }
    if (format.keepsMaterials) {
      ASSERT_EQ(back.materials().size(), 2u);
      EXPECT_EQ(back.materials()[0]->name, "Red");
      EXPECT_EQ(back.materials()[0]->color, (std::array<double, 3>{1, 0, 0}));
      EXPECT_EQ(back.materials()[0]->texture, "/textures/red.png");
      EXPECT_EQ(back.materials()[1]->name, "Blue");
      EXPECT_EQ(back.materials()[1]->color, (std::array<double, 3>{0, 0, 1}));
      EXPECT_EQ(back.materials()[1]->texture, "");
    }
    EXPECT_EQ(describeAll(back, format.keepsMaterials, format.keepsUVs),
              expectedPolygons(format.keepsQuads, format.keepsMaterials, format.keepsUVs));
  }
}

TEST(MeshExport, IdenticalDocumentsGiveIdenticalBytes) {
  for (const FormatCase& format : kFormats) {
    SCOPED_TRACE(format.file);
    TempDir first, second;
    std::string error;
    const auto a = twoObjects("/textures/red.png");
    const auto b = twoObjects("/textures/red.png");
    ASSERT_TRUE(formats::exportMesh(*a, objectsOf(*a), first.file(format.file), &error)) << error;
    ASSERT_TRUE(formats::exportMesh(*b, objectsOf(*b), second.file(format.file), &error)) << error;
    ASSERT_EQ(first.names(), second.names());
    for (const std::string& name : first.names()) {
      EXPECT_EQ(meshtest::read(first.file(name)), meshtest::read(second.file(name))) << name;
    }
  }
}

TEST(MeshExport, SideFilesAreReferencedByTheirRealNames) {
  TempDir dir;
  const auto source = twoObjects("");
  std::string error;
  ASSERT_TRUE(formats::exportMesh(*source, objectsOf(*source), dir.file("a \"quoted\" name.obj"), &error))
      << error;
  ASSERT_TRUE(formats::exportMesh(*source, objectsOf(*source), dir.file("a \"quoted\" name.gltf"), &error))
      << error;
  const std::string obj = meshtest::read(dir.file("a \"quoted\" name.obj"));
  const std::string gltf = meshtest::read(dir.file("a \"quoted\" name.gltf"));
  EXPECT_NE(obj.find("\nmtllib a \"quoted\" name.mtl\n"), std::string::npos);
  EXPECT_NE(gltf.find("\"a \\\"quoted\\\" name.bin\""), std::string::npos);
  EXPECT_EQ(obj.find("$blobfile"), std::string::npos);
  EXPECT_EQ(gltf.find("$blobfile"), std::string::npos);
}

TEST(MeshExport, APolygonTakesTheLastCoveringRestrictedTagThenTheLastUnrestrictedOne) {
  auto document = std::make_unique<scene::Document>();
  scene::Material* red = addMaterial(*document, "Red", {1, 0, 0}, "");
  scene::Material* green = addMaterial(*document, "Green", {0, 1, 0}, "");
  scene::Material* blue = addMaterial(*document, "Blue", {0, 0, 1}, "");
  scene::Material* elsewhere = addMaterial(*document, "Elsewhere", {1, 1, 0}, "");

  auto strip = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  strip->name = "Strip";
  for (int i = 0; i < 5; ++i) {
    strip->points.push_back({static_cast<float>(i), 0, 0});
    strip->points.push_back({static_cast<float>(i), 1, 0});
  }
  for (std::int32_t i = 0; i < 4; ++i) strip->polygons.push_back({2 * i, 2 * i + 2, 2 * i + 3, 2 * i + 1});
  addTexture(*strip, green, "");
  addTexture(*strip, red, "all");
  addTexture(*strip, blue, "middle");
  addTexture(*strip, red, "");  // the last unrestricted tag, but restricted tags come first
  addTexture(*strip, elsewhere, "missing");
  addSelection(*strip, "all", {0, 1});
  addSelection(*strip, "middle", {1, 2});
  // Polygon 0: red (all); 1: blue (middle, later than all); 2: blue; 3: red (unrestricted).
  document->append(std::move(strip));

  auto bare = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  bare->name = "Bare";
  bare->points = {{0, 5, 0}, {1, 5, 0}, {0, 6, 0}};
  bare->polygons = {{0, 1, 2, 2}};
  document->append(std::move(bare));

  TempDir dir;
  std::string error;
  ASSERT_TRUE(formats::exportMesh(*document, objectsOf(*document), dir.file("strip.obj"), &error)) << error;
  scene::Document back;
  ASSERT_TRUE(formats::importMesh(dir.file("strip.obj"), back, &error)) << error;
  ASSERT_EQ(back.objects().size(), 2u);
  std::vector<std::string> byPosition(4);
  const scene::Object& s = *back.objects()[0];
  const auto names = importedMaterials(s);
  for (std::size_t p = 0; p < s.polygons.size(); ++p) {
    const auto lowest = std::min({s.points[s.polygons[p].a].x, s.points[s.polygons[p].b].x,
                                  s.points[s.polygons[p].c].x, s.points[s.polygons[p].d].x});
    byPosition.at(static_cast<std::size_t>(lowest)) = names[p];
  }
  EXPECT_EQ(byPosition, (std::vector<std::string>{"Red", "Blue", "Blue", "Red"}));
  EXPECT_EQ(importedMaterials(*back.objects()[1]), (std::vector<std::string>{"Default"}));
  std::vector<std::string> materialNames;
  for (const auto& m : back.materials()) materialNames.push_back(m->name);
  EXPECT_EQ(materialNames, (std::vector<std::string>{"Red", "Blue", "Default"}))
      << "unused materials were written, or not in the document's order";
  // Colours travel as floats.
  EXPECT_EQ(back.materials().back()->color, (std::array<double, 3>{0.8f, 0.8f, 0.8f}));
}

TEST(MeshExport, FailuresNameTheProblemAndLeaveNoFile) {
  TempDir dir;
  const auto good = twoObjects("");
  std::string error;

  const std::string inMissingFolder = (dir.path() / "missing" / "out.obj").string();
  EXPECT_FALSE(formats::exportMesh(*good, objectsOf(*good), inMissingFolder, &error));
  EXPECT_NE(error.find(inMissingFolder), std::string::npos) << error;

  EXPECT_FALSE(formats::exportMesh(*good, objectsOf(*good), dir.file("out.fbx"), &error));
  EXPECT_NE(error.find("\".fbx\""), std::string::npos) << error;

  scene::Document onlyNull;
  onlyNull.append(std::make_unique<scene::Object>(sdk::kObjectNull));
  EXPECT_FALSE(formats::exportMesh(onlyNull, objectsOf(onlyNull), dir.file("out.obj"), &error));
  EXPECT_NE(error.find("nothing to export"), std::string::npos) << error;
  EXPECT_FALSE(formats::exportMesh(*good, {}, dir.file("out.obj"), &error));
  EXPECT_NE(error.find("nothing to export"), std::string::npos) << error;

  auto broken = twoObjects("");
  broken->objects()[1]->points[2].y = std::nanf("");
  EXPECT_FALSE(formats::exportMesh(*broken, objectsOf(*broken), dir.file("out.gltf"), &error));
  EXPECT_NE(error.find("\"Roof\""), std::string::npos) << error;

  broken = twoObjects("");
  broken->objects()[0]->tag(sdk::kTagUVW, 0)->uvw[1].c.x = INFINITY;
  EXPECT_FALSE(formats::exportMesh(*broken, objectsOf(*broken), dir.file("out.ply"), &error));
  EXPECT_NE(error.find("texture coordinate"), std::string::npos) << error;

  broken = twoObjects("");
  broken->objects()[0]->polygons[1].c = 6;
  EXPECT_FALSE(formats::exportMesh(*broken, objectsOf(*broken), dir.file("out.stl"), &error));
  EXPECT_NE(error.find("\"Panel\""), std::string::npos) << error;

  EXPECT_TRUE(dir.names().empty()) << "a failed export left " << dir.names().front();
  EXPECT_FALSE(meshtest::fs::exists(dir.path() / "missing"));
}

TEST(MeshExport, KnowsTheFormatsItWrites) {
  EXPECT_TRUE(formats::canExportMesh("a.obj"));
  EXPECT_TRUE(formats::canExportMesh("/x/y.GLB"));
  EXPECT_TRUE(formats::canExportMesh("b.gltf"));
  EXPECT_TRUE(formats::canExportMesh("c.Stl"));
  EXPECT_TRUE(formats::canExportMesh("d.ply"));
  EXPECT_FALSE(formats::canExportMesh("e.fbx"));
  EXPECT_FALSE(formats::canExportMesh("obj"));
  EXPECT_FALSE(formats::canExportMesh("f.obj.tmp"));

  // The program lists these extensions; each must be one the read-back test above covers, and
  // the error for any other names them all.
  std::set<std::string> covered;
  for (const FormatCase& format : kFormats) covered.insert(meshtest::fs::path(format.file).extension().string());
  const std::vector<std::string> listed = formats::exportExtensions();
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), covered);
  std::string error;
  const auto source = twoObjects("");
  EXPECT_FALSE(formats::exportMesh(*source, objectsOf(*source), "model.fbx", &error));
  for (const std::string& extension : listed) {
    EXPECT_TRUE(formats::canExportMesh("model" + extension)) << extension;
    EXPECT_NE(error.find(extension), std::string::npos) << error;
  }
}

TEST(MeshExport, DegenerateTrianglesWriteNoInfiniteOrNaNNumbers) {
  scene::Document document;
  auto sliver = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  sliver->name = "Sliver";
  sliver->points = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 1, 0}};
  sliver->polygons = {{0, 1, 2, 2}, {0, 0, 0, 0}, {0, 1, 3, 3}};
  document.append(std::move(sliver));
  TempDir dir;
  std::string error;
  for (const char* name : {"s.stl", "s.obj"}) {
    ASSERT_TRUE(formats::exportMesh(document, objectsOf(document), dir.file(name), &error)) << error;
  }
  // Binary STL: an 80-byte header, a count, then per triangle 12 floats and 2 bytes.
  const std::string stl = meshtest::read(dir.file("s.stl"));
  ASSERT_GE(stl.size(), 84u);
  std::uint32_t count = 0;
  std::memcpy(&count, stl.data() + 80, 4);
  ASSERT_EQ(stl.size(), 84u + 50u * count);
  EXPECT_EQ(count, 3u);
  for (std::uint32_t t = 0; t < count; ++t) {
    for (int f = 0; f < 12; ++f) {
      float value = 0;
      std::memcpy(&value, stl.data() + 84 + 50 * t + 4 * f, 4);
      EXPECT_TRUE(std::isfinite(value)) << "triangle " << t << ", number " << f;
    }
  }
  std::string obj = meshtest::read(dir.file("s.obj"));
  std::transform(obj.begin(), obj.end(), obj.begin(), [](unsigned char c) { return std::tolower(c); });
  EXPECT_EQ(obj.find("nan"), std::string::npos);
  EXPECT_EQ(obj.find("inf"), std::string::npos);
}

/// The polygons an imported document should hold for the source, as describeAll gives them:
/// each polygon with its material ("Default" where none), quadrangles cut the host's way when
/// the format needs triangles.
std::vector<std::string> expectedFrom(const scene::Document& source, bool keepsQuads, bool withMaterials, bool withUVs) {
  scene::Document copy;
  std::map<const scene::Object*, std::vector<std::string>> materials;
  for (const auto& object : source.objects()) {
    auto cut = scene::cloneObject(*object, [](scene::Material* m) { return m; });
    std::vector<std::string>& names = materials[cut.get()];
    const auto given = formats::polygonMaterials(source, *object);
    for (std::size_t p = 0; p < given.size(); ++p) {
      const std::string name = given[p] ? given[p]->name : "Default";
      names.push_back(name);
      if (!keepsQuads && !scene::isTriangle(object->polygons[p])) names.push_back(name);
    }
    if (!keepsQuads) scene::triangulate(*cut);
    copy.append(std::move(cut));
  }
  return describeAll(copy, withMaterials, withUVs, materials);
}

/// Twelve small objects: triangles and quadrangles, three materials in turn, texture
/// coordinates on every other object only, so that primitives of several sizes follow each
/// other in the binary buffers and objects without coordinates sit between those with them.
std::unique_ptr<scene::Document> manyObjects() {
  auto document = std::make_unique<scene::Document>();
  scene::Material* materials[] = {addMaterial(*document, "Red", {1, 0, 0}, ""),
                                  addMaterial(*document, "Green", {0, 1, 0}, ""),
                                  addMaterial(*document, "Blue", {0, 0, 1}, "")};
  for (int o = 0; o < 12; ++o) {
    auto object = std::make_unique<scene::Object>(sdk::kObjectPolygon);
    object->name = "Piece " + std::to_string(o);
    const auto columns = static_cast<std::int32_t>(1 + o % 4);
    for (std::int32_t row = 0; row < 2; ++row) {
      for (std::int32_t c = 0; c <= columns; ++c) {
        object->points.push_back({static_cast<float>(c + 10 * o), static_cast<float>(row), 0.25f * static_cast<float>(c * c)});
      }
    }
    std::vector<std::int32_t> second;
    for (std::int32_t c = 0; c < columns; ++c) {
      const std::int32_t a = c, b = c + 1, d = columns + 1 + c, e = columns + 2 + c;
      if (c % 2) {
        object->polygons.push_back({a, b, e, d});
      } else {
        object->polygons.push_back({a, b, e, e});
        object->polygons.push_back({a, e, d, d});
      }
    }
    for (std::int32_t p = 1; p < static_cast<std::int32_t>(object->polygons.size()); p += 2) second.push_back(p);
    addTexture(*object, materials[o % 3], "");
    addTexture(*object, materials[(o + 1) % 3], "second");
    addSelection(*object, "second", second);
    if (o % 2 == 0) {
      std::vector<scene::UVWEntry> entries;
      for (std::size_t p = 0; p < object->polygons.size(); ++p) {
        const auto f = static_cast<float>(p) / 8;
        entries.push_back(uvw({f, 0, 0}, {f + 0.125f, 0, 0}, {f + 0.125f, 1, 0}, {f, 0.5f, 0}));
      }
      object->addTag(sdk::kTagUVW, "UVW")->uvw = std::move(entries);
    }
    document->append(std::move(object));
  }
  return document;
}

TEST(MeshExport, ManyObjectsWithAndWithoutTextureCoordinatesReadBackInEveryFormat) {
  for (const FormatCase& format : kFormats) {
    SCOPED_TRACE(format.file);
    TempDir dir;
    const auto source = manyObjects();
    std::string error;
    ASSERT_TRUE(formats::exportMesh(*source, objectsOf(*source), dir.file(format.file), &error)) << error;
    scene::Document back;
    ASSERT_TRUE(formats::importMesh(dir.file(format.file), back, &error)) << error;
    if (format.keepsObjects) {
      ASSERT_EQ(back.objects().size(), 12u);
      for (std::size_t o = 0; o < 12; ++o) EXPECT_EQ(back.objects()[o]->name, "Piece " + std::to_string(o));
    }
    EXPECT_EQ(describeAll(back, format.keepsMaterials, format.keepsUVs),
              expectedFrom(*source, format.keepsQuads, format.keepsMaterials, format.keepsUVs));
  }
}

/// A glTF file's JSON and binary buffer, read without any glTF library.
struct Gltf {
  nlohmann::json json;
  std::string buffer;
};

std::uint32_t word(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, 4);
  return value;
}

/// Splits a GLB into its chunks, checking the container on the way.
Gltf readGlb(const std::string& path) {
  const std::string bytes = meshtest::read(path);
  Gltf out;
  EXPECT_GE(bytes.size(), 28u);
  if (bytes.size() < 28) return out;
  EXPECT_EQ(word(bytes, 0), 0x46546C67u) << "magic";
  EXPECT_EQ(word(bytes, 4), 2u) << "version";
  EXPECT_EQ(word(bytes, 8), bytes.size()) << "the header's length";
  const std::uint32_t jsonLength = word(bytes, 12);
  EXPECT_EQ(word(bytes, 16), 0x4E4F534Au) << "the first chunk holds JSON";
  EXPECT_EQ(jsonLength % 4, 0u);
  out.json = nlohmann::json::parse(bytes.substr(20, jsonLength));
  const std::size_t bin = 20 + jsonLength;
  EXPECT_EQ(word(bytes, bin + 4), 0x004E4942u) << "the second chunk is binary";
  const std::uint32_t binLength = word(bytes, bin);
  EXPECT_EQ(binLength % 4, 0u);
  EXPECT_EQ(bin + 8 + binLength, bytes.size()) << "nothing after the binary chunk";
  out.buffer = bytes.substr(bin + 8, binLength);
  return out;
}

/// Checks what readers rely on: every accessor within its view and every view within the
/// buffer, indices naming vertices of their primitive, and the bounds of the positions exact.
void checkGltf(const Gltf& gltf) {
  const nlohmann::json& j = gltf.json;
  ASSERT_EQ(j["buffers"].size(), 1u);
  const std::size_t byteLength = j["buffers"][0]["byteLength"];
  EXPECT_LE(byteLength, gltf.buffer.size());
  EXPECT_LT(gltf.buffer.size() - byteLength, 4u) << "padding only after the buffer";
  for (const auto& view : j["bufferViews"]) {
    EXPECT_LE(view["byteOffset"].get<std::size_t>() + view["byteLength"].get<std::size_t>(), byteLength);
  }
  const auto elementSize = [](const nlohmann::json& a) -> std::size_t {
    const std::string type = a["type"];
    return 4u * (type == "VEC3" ? 3 : type == "VEC2" ? 2 : 1);
  };
  for (const auto& mesh : j["meshes"]) {
    for (const auto& primitive : mesh["primitives"]) {
      const nlohmann::json& position = j["accessors"][primitive["attributes"]["POSITION"].get<std::size_t>()];
      const nlohmann::json& indices = j["accessors"][primitive["indices"].get<std::size_t>()];
      const std::size_t vertices = position["count"];
      std::vector<std::string> used{"POSITION"};
      if (primitive["attributes"].contains("TEXCOORD_0")) used.push_back("TEXCOORD_0");
      for (const nlohmann::json* a : {&position, &indices}) {
        const nlohmann::json& view = j["bufferViews"][(*a)["bufferView"].get<std::size_t>()];
        const std::size_t stride = view.value("byteStride", elementSize(*a));
        const std::size_t count = (*a)["count"];
        ASSERT_GT(count, 0u);
        EXPECT_LE((*a)["byteOffset"].get<std::size_t>() + stride * (count - 1) + elementSize(*a),
                  view["byteLength"].get<std::size_t>());
      }
      if (primitive["attributes"].contains("TEXCOORD_0")) {
        EXPECT_EQ(j["accessors"][primitive["attributes"]["TEXCOORD_0"].get<std::size_t>()]["count"], vertices);
      }
      const std::size_t indexStart = j["bufferViews"][indices["bufferView"].get<std::size_t>()]["byteOffset"].get<std::size_t>() +
                                     indices["byteOffset"].get<std::size_t>();
      EXPECT_EQ(indices["count"].get<std::size_t>() % 3, 0u);
      for (std::size_t i = 0; i < indices["count"].get<std::size_t>(); ++i) {
        EXPECT_LT(word(gltf.buffer, indexStart + 4 * i), vertices) << "index " << i;
      }
      const std::size_t positionStart = j["bufferViews"][position["bufferView"].get<std::size_t>()]["byteOffset"].get<std::size_t>() +
                                        position["byteOffset"].get<std::size_t>();
      for (std::size_t c = 0; c < 3; ++c) {
        float low = INFINITY, high = -INFINITY;
        for (std::size_t v = 0; v < vertices; ++v) {
          float value = 0;
          std::memcpy(&value, gltf.buffer.data() + positionStart + 12 * v + 4 * c, 4);
          low = std::min(low, value);
          high = std::max(high, value);
        }
        EXPECT_EQ(position["min"][c].get<float>(), low);
        EXPECT_EQ(position["max"][c].get<float>(), high);
      }
    }
  }
}

TEST(MeshExport, GlbAndGltfHoldTogetherPieceByPiece) {
  TempDir dir;
  const auto source = manyObjects();
  std::string error;
  ASSERT_TRUE(formats::exportMesh(*source, objectsOf(*source), dir.file("many.glb"), &error)) << error;
  ASSERT_TRUE(formats::exportMesh(*source, objectsOf(*source), dir.file("many.gltf"), &error)) << error;
  const Gltf glb = readGlb(dir.file("many.glb"));
  ASSERT_NO_FATAL_FAILURE(checkGltf(glb));
  EXPECT_EQ(glb.json["meshes"].size(), 12u);
  EXPECT_FALSE(glb.json["buffers"][0].contains("uri"));

  Gltf gltf;
  gltf.json = nlohmann::json::parse(meshtest::read(dir.file("many.gltf")));
  gltf.buffer = meshtest::read(dir.file("many.bin"));
  ASSERT_NO_FATAL_FAILURE(checkGltf(gltf));
  EXPECT_EQ(gltf.json["buffers"][0]["uri"], "many.bin");
  EXPECT_EQ(gltf.buffer, glb.buffer.substr(0, gltf.buffer.size())) << "the same buffer in both forms";
}

TEST(MeshExport, CornersAtOnePositionShareAVertex) {
  // Two triangles with corners of their own, as the unfolding makes them; two pairs of corners
  // coincide (one pair differs only in the sign of a zero). With texture coordinates that differ
  // at one shared position, glTF needs a vertex more; OBJ still writes the position once.
  scene::Document document;
  auto object = std::make_unique<scene::Object>(sdk::kObjectPolygon);
  object->name = "Pair";
  object->points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0.0f, -0.0f, 0}, {1, 1, 0}, {0, 1, 0}};
  object->polygons = {{0, 1, 2, 2}, {3, 4, 5, 5}};
  object->addTag(sdk::kTagUVW, "UVW")->uvw = {uvw({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {1, 1, 0}),
                                              uvw({0, 0, 0}, {0.5f, 1, 0}, {0, 1, 0}, {0, 1, 0})};
  document.append(std::move(object));
  TempDir dir;
  std::string error;
  ASSERT_TRUE(formats::exportMesh(document, objectsOf(document), dir.file("pair.obj"), &error)) << error;
  ASSERT_TRUE(formats::exportMesh(document, objectsOf(document), dir.file("pair.glb"), &error)) << error;
  const std::string obj = meshtest::read(dir.file("pair.obj"));
  const auto lines = [&](const std::string& start) {
    std::size_t n = 0;
    for (std::size_t at = obj.find("\n" + start); at != std::string::npos; at = obj.find("\n" + start, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(lines("v "), 4u) << obj;
  EXPECT_EQ(lines("vt "), 5u) << obj;
  const Gltf glb = readGlb(dir.file("pair.glb"));
  EXPECT_EQ(glb.json["accessors"][0]["count"], 5);
}

/// A PNG of one transparent pixel.
const std::string kPixel(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x01\x00\x00\x00\x01"
    "\x08\x06\x00\x00\x00\x1f\x15\xc4\x89\x00\x00\x00\x0b\x49\x44\x41\x54\x78\xda\x63\x60\x00\x02\x00"
    "\x00\x05\x00\x01\xe9\xfa\xdc\xd8\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
    68);

TEST(MeshExport, EmbeddedTexturesGoIntoTheBinaryBuffer) {
  TempDir dir;
  const std::string png = meshtest::write(dir.file("red.png"), kPixel);
  const auto source = twoObjects(png);
  std::string error;
  formats::MeshExportOptions embed;
  embed.embedTextures = true;
  ASSERT_TRUE(formats::exportMesh(*source, objectsOf(*source), dir.file("out.glb"), &error, embed)) << error;
  const Gltf glb = readGlb(dir.file("out.glb"));
  ASSERT_NO_FATAL_FAILURE(checkGltf(glb));
  ASSERT_EQ(glb.json["images"].size(), 1u);
  const nlohmann::json& image = glb.json["images"][0];
  EXPECT_FALSE(image.contains("uri"));
  EXPECT_EQ(image["mimeType"], "image/png");
  const nlohmann::json& view = glb.json["bufferViews"][image["bufferView"].get<std::size_t>()];
  EXPECT_EQ(glb.buffer.substr(view["byteOffset"], view["byteLength"]), kPixel);
  EXPECT_EQ(glb.json["materials"][0]["pbrMetallicRoughness"]["baseColorTexture"]["index"], 0);

  // Without the option the image is named by its path, as the document holds it.
  ASSERT_TRUE(formats::exportMesh(*source, objectsOf(*source), dir.file("named.glb"), &error)) << error;
  EXPECT_EQ(readGlb(dir.file("named.glb")).json["images"][0]["uri"], png);

  // A texture that cannot be embedded fails the export, naming the image.
  const std::string text = meshtest::write(dir.file("notes.png"), "not an image");
  for (const std::string& path : {dir.file("missing.png"), text}) {
    const auto broken = twoObjects(path);
    EXPECT_FALSE(formats::exportMesh(*broken, objectsOf(*broken), dir.file("broken.glb"), &error, embed));
    EXPECT_NE(error.find(path + ": the texture"), std::string::npos) << error;
  }
  EXPECT_FALSE(meshtest::fs::exists(dir.file("broken.glb")));
}

TEST(MeshExport, NamesThatAreNotPlainTextKeepEveryFileReadable) {
  for (const FormatCase& format : kFormats) {
    SCOPED_TRACE(format.file);
    auto source = twoObjects("");
    source->objects()[0]->name = "left \xff\xfe half\nnext line";
    source->materials()[0]->name = "R\xc3\ned";
    TempDir dir;
    std::string error;
    ASSERT_TRUE(formats::exportMesh(*source, objectsOf(*source), dir.file(format.file), &error)) << error;
    scene::Document back;
    ASSERT_TRUE(formats::importMesh(dir.file(format.file), back, &error)) << error;
    EXPECT_EQ(meshtest::polygonCount(back), expectedFrom(*source, format.keepsQuads, false, false).size());
    if (format.keepsObjects) {
      EXPECT_EQ(back.objects().size(), 2u);
    }
    if (format.keepsMaterials) {
      EXPECT_EQ(back.materials().size(), 2u);
    }
  }
  // glTF's JSON stays strict UTF-8: the bytes that are not become U+FFFD.
  auto source = twoObjects("");
  source->objects()[0]->name = "left \xff half";
  TempDir dir;
  std::string error;
  ASSERT_TRUE(formats::exportMesh(*source, objectsOf(*source), dir.file("n.glb"), &error)) << error;
  EXPECT_EQ(readGlb(dir.file("n.glb")).json["nodes"][0]["name"], "left \xef\xbf\xbd half");
}

TEST(MeshExport, CoordinatesAtTheEndsOfTheFloatRangeReadBack) {
  for (const FormatCase& format : kFormats) {
    SCOPED_TRACE(format.file);
    scene::Document document;
    auto object = std::make_unique<scene::Object>(sdk::kObjectPolygon);
    object->name = "Far";
    object->points = {{0, 0, 0}, {3e38f, 0, 0}, {0, 1e-38f, 1e-44f}};
    object->polygons = {{0, 1, 2, 2}};
    document.append(std::move(object));
    TempDir dir;
    std::string error;
    ASSERT_TRUE(formats::exportMesh(document, objectsOf(document), dir.file(format.file), &error)) << error;
    scene::Document back;
    ASSERT_TRUE(formats::importMesh(dir.file(format.file), back, &error)) << error;
    EXPECT_EQ(describeAll(back, false, false), describeAll(document, false, false));
  }
}

}  // namespace
