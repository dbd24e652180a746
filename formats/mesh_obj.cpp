// OBJ with its MTL: text, each object a group, its points and texture coordinates each written
// once, its polygons per material; the materials' colours and textures in the MTL beside it.
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/files.h"
#include "formats/mesh_export.h"

namespace formats::detail {

namespace fs = std::filesystem;

/// OBJ: each object as a group ("g", which readers take with the whole line as its name, where
/// "o" often ends at a space) with its points ("v", each once, in the order of first use) and
/// its distinct texture coordinates ("vt", likewise), then its polygons after "usemtl" for each
/// material; the materials in the MTL file beside it.
bool writeObj(const Mesh& mesh, const std::string& path, const MeshExportOptions&, std::string* error) {
  const fs::path mtlPath = fs::path(path).replace_extension(".mtl");
  StagedFiles files;
  {
    Output obj(files.stage(path), path);
    std::string text = "# Foldra\nmtllib " + oneLine(mtlPath.filename().string()) + "\n";
    const auto flushIfLarge = [&] {
      if (text.size() < (1 << 20)) return;
      obj.write(text);
      text.clear();
    };
    std::uint64_t pointBase = 1, uvBase = 1;
    std::vector<std::uint32_t> pointNumber;
    std::unordered_map<std::uint64_t, std::uint32_t> uvNumber;
    for (const MeshObject& object : mesh.objects) {
      text += "g " + oneLine(object.name) + "\n";
      // Numbers within the object, given in the order of first use.
      pointNumber.clear();
      uvNumber.clear();
      std::vector<std::vector<std::uint32_t>> vertexPoint, vertexUV;
      std::uint32_t points = 0;
      for (const Primitive& primitive : object.primitives) {
        std::vector<std::uint32_t>& ofPoint = vertexPoint.emplace_back(primitive.vertexCount());
        vertexUV.emplace_back(object.hasUVs ? primitive.vertexCount() : 0);
        for (std::size_t v = 0; v < primitive.vertexCount(); ++v) {
          const std::uint32_t point = primitive.points[v];
          if (point >= pointNumber.size()) pointNumber.resize(point + 1, kNone);
          if (pointNumber[point] == kNone) {
            pointNumber[point] = points++;
            text += "v ";
            appendNumber(text, primitive.positions[3 * v]);
            text += ' ';
            appendNumber(text, primitive.positions[3 * v + 1]);
            text += ' ';
            appendNumber(text, primitive.positions[3 * v + 2]);
            text += '\n';
            flushIfLarge();
          }
          ofPoint[v] = pointNumber[point];
        }
      }
      if (object.hasUVs) {
        for (std::size_t p = 0; p < object.primitives.size(); ++p) {
          const Primitive& primitive = object.primitives[p];
          for (std::size_t v = 0; v < primitive.vertexCount(); ++v) {
            const float u = primitive.uvs[2 * v], w = primitive.uvs[2 * v + 1];
            const std::uint64_t key = std::uint64_t{bitsOf(u)} << 32 | bitsOf(w);
            const auto [it, added] = uvNumber.try_emplace(key, static_cast<std::uint32_t>(uvNumber.size()));
            if (added) {
              text += "vt ";
              appendNumber(text, u);
              text += ' ';
              appendNumber(text, w);
              text += '\n';
              flushIfLarge();
            }
            vertexUV[p][v] = it->second;
          }
        }
      }
      for (std::size_t p = 0; p < object.primitives.size(); ++p) {
        const Primitive& primitive = object.primitives[p];
        text += "usemtl " + oneLine(materialName(mesh.materials[primitive.material])) + "\n";
        std::size_t corner = 0;
        for (const std::uint8_t size : primitive.sizes) {
          text += 'f';
          for (std::uint8_t k = 0; k < size; ++k, ++corner) {
            const std::uint32_t vertex = primitive.corners[corner];
            text += ' ';
            appendNumber(text, pointBase + vertexPoint[p][vertex]);
            if (object.hasUVs) {
              text += '/';
              appendNumber(text, uvBase + vertexUV[p][vertex]);
            }
          }
          text += '\n';
          flushIfLarge();
        }
      }
      pointBase += points;
      uvBase += uvNumber.size();
    }
    obj.write(text);
    if (!obj.close(error)) return false;
  }
  {
    Output mtl(files.stage(mtlPath.string()), mtlPath.string());
    std::string text = "# Foldra\n";
    for (const scene::Material* material : mesh.materials) {
      text += "\nnewmtl " + oneLine(materialName(material)) + "\nKd";
      for (std::size_t c = 0; c < 3; ++c) {
        text += ' ';
        appendNumber(text, channel(material, c));
      }
      text += '\n';
      // The path is written as the document holds it.
      if (material && !material->texture.empty()) text += "map_Kd " + oneLine(material->texture) + "\n";
    }
    mtl.write(text);
    if (!mtl.close(error)) return false;
  }
  return files.commit(error);
}

}  // namespace formats::detail
