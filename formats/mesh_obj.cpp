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

namespace {

/// The OBJ text of the objects, handed to the file a megabyte at a time.
class ObjText {
 public:
  ObjText(Output& out, const std::string& mtlName) : out_(out) {
    text_ = "# Foldra\nmtllib " + oneLine(mtlName) + "\n";
  }

  void object(const Mesh& mesh, const MeshObject& object) {
    text_ += "g " + oneLine(object.name) + "\n";
    // Numbers within the object, given in the order of first use.
    const std::uint32_t points = positions(object);
    if (object.hasUVs) textureCoordinates(object);
    polygons(mesh, object);
    pointBase_ += points;
    uvBase_ += uvNumber_.size();
  }

  void finish() { out_.write(text_); }

 private:
  void flushIfLarge() {
    if (text_.size() < (1 << 20)) return;
    out_.write(text_);
    text_.clear();
  }

  // Each point of the object once ("v"); every vertex's point number. Returns the count.
  std::uint32_t positions(const MeshObject& object) {
    pointNumber_.clear();
    uvNumber_.clear();
    vertexPoint_.clear();
    vertexUV_.clear();
    std::uint32_t points = 0;
    for (const Primitive& primitive : object.primitives) {
      std::vector<std::uint32_t>& ofPoint = vertexPoint_.emplace_back(primitive.vertexCount());
      vertexUV_.emplace_back(object.hasUVs ? primitive.vertexCount() : 0);
      for (std::size_t v = 0; v < primitive.vertexCount(); ++v) {
        const std::uint32_t point = primitive.points[v];
        if (point >= pointNumber_.size()) pointNumber_.resize(point + 1, kNone);
        if (pointNumber_[point] == kNone) {
          pointNumber_[point] = points++;
          text_ += "v ";
          appendNumber(text_, primitive.positions[3 * v]);
          text_ += ' ';
          appendNumber(text_, primitive.positions[3 * v + 1]);
          text_ += ' ';
          appendNumber(text_, primitive.positions[3 * v + 2]);
          text_ += '\n';
          flushIfLarge();
        }
        ofPoint[v] = pointNumber_[point];
      }
    }
    return points;
  }

  // Each distinct texture coordinate of the object once ("vt"); every vertex's number.
  void textureCoordinates(const MeshObject& object) {
    for (std::size_t p = 0; p < object.primitives.size(); ++p) {
      const Primitive& primitive = object.primitives[p];
      for (std::size_t v = 0; v < primitive.vertexCount(); ++v) {
        const float u = primitive.uvs[2 * v], w = primitive.uvs[2 * v + 1];
        const std::uint64_t key = std::uint64_t{bitsOf(u)} << 32 | bitsOf(w);
        const auto [it, added] = uvNumber_.try_emplace(key, static_cast<std::uint32_t>(uvNumber_.size()));
        if (added) {
          text_ += "vt ";
          appendNumber(text_, u);
          text_ += ' ';
          appendNumber(text_, w);
          text_ += '\n';
          flushIfLarge();
        }
        vertexUV_[p][v] = it->second;
      }
    }
  }

  // The polygons ("f"), material by material ("usemtl"), numbered across the whole file.
  void polygons(const Mesh& mesh, const MeshObject& object) {
    for (std::size_t p = 0; p < object.primitives.size(); ++p) {
      const Primitive& primitive = object.primitives[p];
      text_ += "usemtl " + oneLine(materialName(mesh.materials[primitive.material])) + "\n";
      std::size_t corner = 0;
      for (const std::uint8_t size : primitive.sizes) {
        text_ += 'f';
        for (std::uint8_t k = 0; k < size; ++k, ++corner) {
          const std::uint32_t vertex = primitive.corners[corner];
          text_ += ' ';
          appendNumber(text_, pointBase_ + vertexPoint_[p][vertex]);
          if (object.hasUVs) {
            text_ += '/';
            appendNumber(text_, uvBase_ + vertexUV_[p][vertex]);
          }
        }
        text_ += '\n';
        flushIfLarge();
      }
    }
  }

  Output& out_;
  std::string text_;
  std::uint64_t pointBase_ = 1, uvBase_ = 1;
  std::vector<std::uint32_t> pointNumber_;
  std::unordered_map<std::uint64_t, std::uint32_t> uvNumber_;
  std::vector<std::vector<std::uint32_t>> vertexPoint_, vertexUV_;
};

// The MTL text: each material's colour and, where it has one, its texture.
std::string mtlText(const Mesh& mesh) {
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
  return text;
}

}  // namespace

/// OBJ: each object as a group ("g", which readers take with the whole line as its name, where
/// "o" often ends at a space) with its points ("v", each once, in the order of first use) and
/// its distinct texture coordinates ("vt", likewise), then its polygons after "usemtl" for each
/// material; the materials in the MTL file beside it.
bool writeObj(const Mesh& mesh, const std::string& path, const MeshExportOptions&, std::string* error) {
  const fs::path mtlPath = fs::path(path).replace_extension(".mtl");
  StagedFiles files;
  Output obj(files.stage(path), path);
  ObjText text(obj, mtlPath.filename().string());
  for (const MeshObject& object : mesh.objects) text.object(mesh, object);
  text.finish();
  if (!obj.close(error)) return false;
  Output mtl(files.stage(mtlPath.string()), mtlPath.string());
  mtl.write(mtlText(mesh));
  if (!mtl.close(error)) return false;
  return files.commit(error);
}

}  // namespace formats::detail
