// Binary PLY: a text header naming the first texture, then one vertex list (with texture
// coordinates where any object has them) and the triangles.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "formats/files.h"
#include "formats/mesh_export.h"

namespace formats::detail {

/// Binary PLY: one vertex list (with s and t where any object has texture coordinates) and
/// the triangles. The first texture goes into the header as the comment readers look for.
bool writePly(const Mesh& mesh, const std::string& path, const MeshExportOptions&, std::string* error) {
  std::uint64_t vertices = 0, faces = 0;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      vertices += primitive.vertexCount();
      faces += primitive.sizes.size();
    }
  }
  if (vertices > std::numeric_limits<std::int32_t>::max()) {
    *error = path + ": too many vertices for a PLY file";
    return false;
  }
  std::string header = "ply\nformat binary_little_endian 1.0\ncomment Foldra\n";
  for (const scene::Material* material : mesh.materials) {
    if (material && !material->texture.empty()) {
      header += "comment TextureFile " + oneLine(material->texture) + "\n";
      break;
    }
  }
  header += "element vertex ";
  appendNumber(header, vertices);
  header += "\nproperty float x\nproperty float y\nproperty float z\n";
  if (mesh.anyUVs) header += "property float s\nproperty float t\n";
  header += "element face ";
  appendNumber(header, faces);
  header += "\nproperty list uchar int vertex_index\nend_header\n";

  StagedFiles files;
  Output out(files.stage(path), path);
  out.write(header);
  std::vector<float> row;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      if (!mesh.anyUVs) {
        out.writeArray(primitive.positions);
        continue;
      }
      row.clear();
      for (std::size_t v = 0; v < primitive.vertexCount(); ++v) {
        row.insert(row.end(), primitive.positions.begin() + static_cast<std::ptrdiff_t>(3 * v),
                   primitive.positions.begin() + static_cast<std::ptrdiff_t>(3 * v + 3));
        if (object.hasUVs) {
          row.insert(row.end(), {primitive.uvs[2 * v], primitive.uvs[2 * v + 1]});
        } else {
          row.insert(row.end(), {0.0f, 0.0f});
        }
      }
      out.writeArray(row);
    }
  }
  std::int32_t base = 0;
  for (const MeshObject& object : mesh.objects) {
    for (const Primitive& primitive : object.primitives) {
      for (std::size_t t = 0; t < primitive.sizes.size(); ++t) {
        char record[13];
        record[0] = 3;
        for (std::size_t k = 0; k < 3; ++k) {
          const std::int32_t index = base + static_cast<std::int32_t>(primitive.corners[3 * t + k]);
          std::memcpy(record + 1 + 4 * k, &index, 4);
        }
        out.write(record, sizeof record);
      }
      base += static_cast<std::int32_t>(primitive.vertexCount());
    }
  }
  if (!out.close(error)) return false;
  return files.commit(error);
}

}  // namespace formats::detail
