// Writing polygon objects with their materials and texture coordinates through Assimp.
#include <assimp/material.h>
#include <assimp/scene.h>

#include <algorithm>
#include <array>
#include <assimp/Exporter.hpp>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "formats/files.h"
#include "formats/mesh_io.h"

namespace formats {

namespace fs = std::filesystem;

namespace {

/// A format we write. Assimp hands a side file (the .mtl of an .obj, the .bin of a .gltf) back
/// as a separate blob and names it "$blobfile.<ext>" in the main one; `before` and `after`
/// frame that reference so that exactly it is rewritten to the side file's real name, which a
/// glTF file holds as a JSON string.
struct Format {
  const char* extension;
  const char* assimpId;
  bool triangles;
  const char* before;
  const char* after;
  bool jsonReference;
};

// Only OBJ keeps quadrangles: glTF knows triangles only, and STL and PLY readers commonly
// expect them.
constexpr Format kFormats[] = {
    {".obj", "obj", false, "mtllib ", "\n", false},
    {".glb", "glb2", true, "", "", false},
    {".gltf", "gltf2", true, "\"", "\"", true},
    {".stl", "stlb", true, "", "", false},
    {".ply", "plyb", true, "", "", false},
};

const Format* formatOf(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const Format& f : kFormats) {
    if (extension == f.extension) return &f;
  }
  return nullptr;
}

const scene::Tag* findSelection(const scene::Object& object, const std::string& name) {
  for (const auto& tag : object.tags) {
    if (tag->type == sdk::kTagPolygonSelection && tag->name == name) return tag.get();
  }
  return nullptr;
}

bool finite(const scene::Point& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

/// Why the object cannot be written as it is, or empty: every index must name a point, and no
/// coordinate may be NaN or infinite, because those would reach the file.
std::string objectProblem(const scene::Object& object) {
  const auto size = static_cast<std::int64_t>(object.points.size());
  for (const scene::Polygon& q : object.polygons) {
    for (std::int32_t i : {q.a, q.b, q.c, q.d}) {
      if (i < 0 || i >= size) return "a polygon of \"" + object.name + "\" names a point that does not exist";
    }
  }
  for (const scene::Point& p : object.points) {
    if (!finite(p)) return "a point of \"" + object.name + "\" is not a finite number";
  }
  if (const scene::Tag* uvw = object.tag(sdk::kTagUVW, 0)) {
    for (const scene::UVWEntry& e : uvw->uvw) {
      if (!finite(e.a) || !finite(e.b) || !finite(e.c) || !finite(e.d)) {
        return "a texture coordinate of \"" + object.name + "\" is not a finite number";
      }
    }
  }
  return {};
}

/// The objects as they are written: polygon objects with polygons, cut into triangles when the
/// format needs them (with the host's own rule, so selections and texture coordinates follow).
std::vector<std::unique_ptr<scene::Object>> prepareObjects(const std::vector<const scene::Object*>& objects,
                                                           const Format& format, std::string* problem) {
  std::vector<std::unique_ptr<scene::Object>> out;
  for (const scene::Object* object : objects) {
    if (!object || object->type != sdk::kObjectPolygon || object->polygons.empty()) continue;
    *problem = objectProblem(*object);
    if (!problem->empty()) return {};
    auto copy = std::make_unique<scene::Object>(sdk::kObjectPolygon);
    copy->name = object->name;
    copy->points = object->points;
    copy->polygons = object->polygons;
    for (const auto& tag : object->tags) {
      copy->tags.push_back(scene::cloneTag(*tag, [](scene::Material* m) { return m; }));
    }
    if (format.triangles) scene::triangulate(*copy);
    out.push_back(std::move(copy));
  }
  return out;
}

double clampedChannel(double value) {
  if (!std::isfinite(value)) return 0.8;
  return std::clamp(value, 0.0, 1.0);
}

/// An Assimp material for a document material, or the grey "Default" for null.
aiMaterial* makeMaterial(const scene::Material* material) {
  auto* out = new aiMaterial;
  const aiString name(material ? material->name : std::string("Default"));
  out->AddProperty(&name, AI_MATKEY_NAME);
  const std::array<double, 3> rgb = material ? material->color : std::array<double, 3>{0.8, 0.8, 0.8};
  const aiColor3D color(static_cast<float>(clampedChannel(rgb[0])),
                        static_cast<float>(clampedChannel(rgb[1])),
                        static_cast<float>(clampedChannel(rgb[2])));
  out->AddProperty(&color, 1, AI_MATKEY_COLOR_DIFFUSE);
  if (material && !material->texture.empty()) {
    // The path is written as the document holds it.
    const aiString texture(material->texture);
    out->AddProperty(&texture, AI_MATKEY_TEXTURE_DIFFUSE(0));
  }
  return out;
}

/// The polygons of one object that use one material, as an Assimp mesh. Corners share a vertex
/// when they share both point and texture coordinate.
aiMesh* makeMesh(const scene::Object& object, const std::vector<const scene::Material*>& materials,
                 const scene::Material* material, unsigned materialIndex) {
  const scene::Tag* uvwTag = object.tag(sdk::kTagUVW, 0);
  std::map<std::tuple<std::int32_t, float, float>, unsigned> vertexOf;
  std::vector<scene::Point> positions, uvs;
  std::vector<std::vector<unsigned>> faces;
  for (std::size_t p = 0; p < object.polygons.size(); ++p) {
    if (materials[p] != material) continue;
    const scene::Polygon& q = object.polygons[p];
    const scene::UVWEntry uvw = uvwTag && p < uvwTag->uvw.size() ? uvwTag->uvw[p] : scene::UVWEntry{};
    const std::int32_t points[4] = {q.a, q.b, q.c, q.d};
    const scene::Point cornerUVs[4] = {uvw.a, uvw.b, uvw.c, uvw.d};
    std::vector<unsigned>& face = faces.emplace_back();
    for (int k = 0; k < (scene::isTriangle(q) ? 3 : 4); ++k) {
      const auto [it, added] = vertexOf.try_emplace({points[k], cornerUVs[k].x, cornerUVs[k].y},
                                                    static_cast<unsigned>(positions.size()));
      if (added) {
        positions.push_back(object.points[static_cast<std::size_t>(points[k])]);
        uvs.push_back(cornerUVs[k]);
      }
      face.push_back(it->second);
    }
  }
  auto* mesh = new aiMesh;
  mesh->mName = object.name;
  mesh->mMaterialIndex = materialIndex;
  mesh->mNumVertices = static_cast<unsigned>(positions.size());
  mesh->mVertices = new aiVector3D[positions.size()];
  for (std::size_t v = 0; v < positions.size(); ++v) {
    mesh->mVertices[v] = aiVector3D(positions[v].x, positions[v].y, positions[v].z);
  }
  if (uvwTag) {
    mesh->mNumUVComponents[0] = 2;
    mesh->mTextureCoords[0] = new aiVector3D[uvs.size()];
    for (std::size_t v = 0; v < uvs.size(); ++v)
      mesh->mTextureCoords[0][v] = aiVector3D(uvs[v].x, uvs[v].y, 0);
  }
  mesh->mNumFaces = static_cast<unsigned>(faces.size());
  mesh->mFaces = new aiFace[faces.size()];
  for (std::size_t f = 0; f < faces.size(); ++f) {
    mesh->mFaces[f].mNumIndices = static_cast<unsigned>(faces[f].size());
    mesh->mFaces[f].mIndices = new unsigned[faces[f].size()];
    std::copy(faces[f].begin(), faces[f].end(), mesh->mFaces[f].mIndices);
    mesh->mPrimitiveTypes |= faces[f].size() == 3 ? aiPrimitiveType_TRIANGLE : aiPrimitiveType_POLYGON;
  }
  return mesh;
}

template <typename T>
T** toArray(const std::vector<T*>& items) {
  T** array = new T*[items.size()];
  std::copy(items.begin(), items.end(), array);
  return array;
}

/// One node per object below the root, each with one mesh per material it uses. Materials are
/// in the document's order, "Default" last.
std::unique_ptr<aiScene> buildScene(const scene::Document& document,
                                    const std::vector<std::unique_ptr<scene::Object>>& objects) {
  std::vector<std::vector<const scene::Material*>> perObject;
  std::vector<const scene::Material*> used;
  for (const auto& object : objects) {
    perObject.push_back(polygonMaterials(document, *object));
    for (const scene::Material* m : perObject.back()) {
      if (std::find(used.begin(), used.end(), m) == used.end()) used.push_back(m);
    }
  }
  const auto order = [&](const scene::Material* m) {
    return m ? document.materialIndex(m) : std::numeric_limits<int>::max();
  };
  std::sort(used.begin(), used.end(),
            [&](const scene::Material* a, const scene::Material* b) { return order(a) < order(b); });

  auto ai = std::make_unique<aiScene>();
  std::vector<aiMaterial*> materials;
  for (const scene::Material* m : used) materials.push_back(makeMaterial(m));
  ai->mNumMaterials = static_cast<unsigned>(materials.size());
  ai->mMaterials = toArray(materials);

  ai->mRootNode = new aiNode("root");
  std::vector<aiMesh*> meshes;
  std::vector<aiNode*> nodes;
  for (std::size_t o = 0; o < objects.size(); ++o) {
    auto* node = new aiNode(objects[o]->name);
    node->mParent = ai->mRootNode;
    std::vector<unsigned> nodeMeshes;
    for (std::size_t m = 0; m < used.size(); ++m) {
      const auto& ofObject = perObject[o];
      if (std::find(ofObject.begin(), ofObject.end(), used[m]) == ofObject.end()) continue;
      nodeMeshes.push_back(static_cast<unsigned>(meshes.size()));
      meshes.push_back(makeMesh(*objects[o], ofObject, used[m], static_cast<unsigned>(m)));
    }
    node->mNumMeshes = static_cast<unsigned>(nodeMeshes.size());
    node->mMeshes = new unsigned[nodeMeshes.size()];
    std::copy(nodeMeshes.begin(), nodeMeshes.end(), node->mMeshes);
    nodes.push_back(node);
  }
  ai->mNumMeshes = static_cast<unsigned>(meshes.size());
  ai->mMeshes = toArray(meshes);
  ai->mRootNode->mNumChildren = static_cast<unsigned>(nodes.size());
  ai->mRootNode->mChildren = toArray(nodes);
  return ai;
}

/// A side file's name as the main file refers to it. In glTF the name is not percent-encoded
/// because Assimp's reader (ours too) takes the uri literally, and a plain name stays readable
/// for lenient readers as well.
std::string referenceText(const Format& format, const std::string& name) {
  if (!format.jsonReference) return name;
  std::string out;
  for (const char c : name) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

bool writeBytes(const std::string& file, const std::string& shownPath, const std::string& bytes,
                std::string* error) {
  std::ofstream out(file, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    *error = shownPath + ": cannot be written";
    return false;
  }
  return true;
}

/// Writes the main blob to `path` and each side blob beside it under the main file's stem,
/// all staged so that either every file appears complete or none does. The main file goes first
/// so that a folder that cannot be written is reported under the name the caller gave.
bool writeBlobs(const aiExportDataBlob& main, const Format& format, const std::string& path,
                std::string* error) {
  std::string mainBytes(static_cast<const char*>(main.data), main.size);
  std::vector<std::pair<std::string, const aiExportDataBlob*>> sides;
  for (const aiExportDataBlob* side = main.next; side; side = side->next) {
    const std::string extension = side->name.C_Str();
    const fs::path sidePath = fs::path(path).replace_extension(extension);
    const std::string placeholder = std::string(format.before) + "$blobfile." + extension + format.after;
    const auto at = mainBytes.find(placeholder);
    if (at == std::string::npos) {
      *error = path + ": the exporter's reference to the ." + extension + " file was not found";
      return false;
    }
    mainBytes.replace(at, placeholder.size(),
                      format.before + referenceText(format, sidePath.filename().string()) + format.after);
    sides.emplace_back(sidePath.string(), side);
  }
  StagedFiles files;
  if (!writeBytes(files.stage(path), path, mainBytes, error)) return false;
  for (const auto& [sidePath, side] : sides) {
    const std::string sideBytes(static_cast<const char*>(side->data), side->size);
    if (!writeBytes(files.stage(sidePath), sidePath, sideBytes, error)) return false;
  }
  return files.commit(error);
}

}  // namespace

/// The material of each polygon as the host assigns it: the last texture tag whose restriction
/// names a selection holding the polygon; for polygons no such tag covers, the last unrestricted
/// texture tag; null where neither exists. Links to materials outside the document count as no
/// link.
std::vector<const scene::Material*> polygonMaterials(const scene::Document& document,
                                                     const scene::Object& object) {
  const std::size_t count = object.polygons.size();
  std::vector<const scene::Material*> materials(count, nullptr);
  std::vector<bool> restricted(count, false);
  const scene::Material* unrestricted = nullptr;
  for (const auto& tag : object.tags) {
    if (tag->type != sdk::kTagTexture || !tag->material || document.materialIndex(tag->material) < 0) {
      continue;
    }
    if (tag->restriction.empty()) {
      unrestricted = tag->material;
      continue;
    }
    const scene::Tag* selection = findSelection(object, tag->restriction);
    if (!selection) continue;
    for (std::int32_t p : selection->selection.indices()) {
      if (p < 0 || static_cast<std::size_t>(p) >= count) continue;
      materials[static_cast<std::size_t>(p)] = tag->material;
      restricted[static_cast<std::size_t>(p)] = true;
    }
  }
  for (std::size_t p = 0; p < count; ++p) {
    if (!restricted[p]) materials[p] = unrestricted;
  }
  return materials;
}

bool canExportMesh(const std::string& path) { return formatOf(path) != nullptr; }

bool exportMesh(const scene::Document& document, const std::vector<const scene::Object*>& objects,
                const std::string& path, std::string* error) {
  const Format* format = formatOf(path);
  if (!format) {
    const std::string extension = fs::path(path).extension().string();
    const std::string what =
        extension.empty() ? "has no file extension" : "cannot write files of type \"" + extension + "\"";
    *error = path + ": " + what + " (.obj, .glb, .gltf, .stl and .ply can be written)";
    return false;
  }
  std::string problem;
  const auto prepared = prepareObjects(objects, *format, &problem);
  if (!problem.empty() || prepared.empty()) {
    *error = path + ": " + (problem.empty() ? "nothing to export" : problem);
    return false;
  }
  const std::unique_ptr<aiScene> ai = buildScene(document, prepared);
  Assimp::Exporter exporter;
  const aiExportDataBlob* blob = exporter.ExportToBlob(ai.get(), format->assimpId, 0);
  if (!blob) {
    *error = path + ": " + exporter.GetErrorString();
    return false;
  }
  return writeBlobs(*blob, *format, path, error);
}

}  // namespace formats
